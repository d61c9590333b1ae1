// A stand-in pad on a message-mode named pipe, for the tests that drive the
// channels' real Win32 I/O. Each message the test writes is one input report
// (or, for the legacy channel, one point record), and each report the library
// writes arrives as one message. Every client handle takes its own pipe
// instance, so the command path and the reader's handle stay apart.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdint>
#include <string>
#include <vector>

namespace halvix::wine {

class PipePad {
public:
    PipePad();
    ~PipePad();
    PipePad(const PipePad&) = delete;
    PipePad& operator=(const PipePad&) = delete;

    const std::string& path() const { return path_; }

    // Makes the next pipe instance for a client to connect to; returns its
    // server end (owned by the pad) or null.
    HANDLE listen();

    // Opens a client handle on the pipe, as the library opens a device:
    // read and write, shared, synchronous unless `overlapped`. The caller
    // owns the handle.
    HANDLE connect(bool overlapped = false);

    // Writes one message on a server end, waiting up to 2 s for a client
    // still opening its end; false when the write fails (with the error left
    // for GetLastError).
    static bool send(HANDLE end, const std::vector<std::uint8_t>& message);

    // The next message that arrives on a server end within `ms`, or false.
    static bool receive(HANDLE end, std::vector<std::uint8_t>& message, DWORD ms);

    // The bytes waiting to be read on a server end.
    static DWORD waiting(HANDLE end);

private:
    std::string path_;
    std::vector<HANDLE> ends_;
};

// Runs `close` on a thread of its own and waits up to `ms` for it to return;
// false when it did not. Then `unblock` is called, which must let the close
// finish (a stand-in pad sends something), and the thread is waited for, so
// that a close that hangs fails its test instead of hanging the run.
bool returnsWithin(void (*close)(), DWORD ms, void (*unblock)(void*), void* context);

// A record for the HID pad slot holding `path`, allocated as the discovery
// walk allocates one; freeDetailRecord releases it.
PSP_DEVICE_INTERFACE_DETAIL_DATA_A detailRecordFor(const std::string& path);

}  // namespace halvix::wine
