// The legacy driver channel: opens the n-th pad the maker's USB driver
// publishes, runs a time-critical reader thread that queues the pad's 4-byte
// point records, and hands them to Java one per call. It has no command path.
// Open, close and nextPoint run on the caller's thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "legacy/point_queue.h"
#include "platform/platform.h"

namespace halvix {

PointQueue& pointQueue();

// The open pad, or null.
std::atomic<HANDLE>& legacyDevice();

// Empties the queue, opens the pad and starts the reader at
// THREAD_PRIORITY_TIME_CRITICAL. False when no pad or no thread.
bool openLegacyPort(std::int32_t ordinal);

// Takes `pad` (an open device handle) as the port's device and starts the
// reader on it at THREAD_PRIORITY_TIME_CRITICAL. On false the pad is closed.
// The reader shares the pad with the close: whichever of the two finishes
// last closes it.
bool startLegacyReader(HANDLE pad);

// Stops the reader and closes the pad. With no legacy port open, returns at
// once. Points left in the queue stay. Bounded: the reader sees the stop only
// when its read returns, so the close ends that read with CancelSynchronousIo
// where the system has it, and polls every 100 ms for the reader to end; it
// then closes the pad and returns, usually within a few milliseconds (one
// poll when the reader had not yet begun its read). After 10 polls (about
// 1 s) without the reader ending (Windows XP has no CancelSynchronousIo and a
// silent pad never answers; some drivers refuse the cancel) it returns anyway:
// the reader, left in its read, keeps the pad open, queues nothing more, and
// closes the pad and ends when the read returns. Until then that pad may
// refuse to open again; other pads open as usual.
void closeLegacyPort();

// The oldest queued point, after a 10 ms pause when none is queued; 0 when
// there is still none.
std::int32_t nextPoint();

}  // namespace halvix
