// The process-wide port state and the port operations the natives call.
//
// One port is open at a time, served by one of two channels: HID pads or the
// maker's legacy driver. The state is shared, without a lock, by the Java
// caller's thread and the open port's reader thread; every field is atomic
// and zero at load (static storage, no constructor runs).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace halvix {

struct PortState {
    std::atomic<std::uint8_t> hidMode;        // 1 while the port in use is a HID pad
    std::atomic<std::uint8_t> stopRequested;  // set by a close, cleared by an open
    std::atomic<std::uint8_t> readerRunning;  // 1 while the open port's reader serves it
    std::atomic<HANDLE> readerThread;         // the open port's reader, or null
};

extern PortState portState;

// Closes the port in use, if any, then opens the one `name` selects (a name
// beginning with "USB" selects the legacy channel). True when it is open.
// Caller's thread only; never overlaps another port call.
bool openPort(const char* name);

// Closes the port in use; with none open, returns at once. Caller's thread only.
void closePort();

// The body of the HID reader thread: runs `reader` to its end, catching
// everything so that no exception leaves the thread, then clears
// readerRunning. (The legacy reader leaves the port state alone: its close
// may have to give up on it, see legacy_channel.h.)
DWORD runReaderThread(void (*reader)());

}  // namespace halvix
