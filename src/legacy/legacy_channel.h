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
bool startLegacyReader(HANDLE pad);

// Stops the reader, ending its pending read, waits for its thread to end and
// closes the pad; bounded even when the pad is silent. With no legacy port
// open, returns at once. Points left in the queue stay.
void closeLegacyPort();

// The oldest queued point, after a 10 ms pause when none is queued; 0 when
// there is still none.
std::int32_t nextPoint();

}  // namespace halvix
