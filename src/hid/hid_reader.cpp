// Opening and closing a HID port, and the reader thread that moves the pad's
// input reports into the serial byte ring.
#include <algorithm>

#include "binding/port_state.h"
#include "hid/hid_channel.h"
#include "legacy/device_lookup.h"
#include "platform/scoped_handle.h"

namespace halvix {

namespace {

HidPadSlot padSlot;
SerialRing ring;

constexpr SIZE_T readerStack = 0x8000;
constexpr DWORD startPauseMs = 10;
constexpr DWORD closePollMs = 10;
constexpr DWORD reportSize = 9;
// Input reports the class driver holds for the reader's handle while the
// reader is busy; its default (32 on Windows) drops part of a burst that a
// pad sends faster than one pending read at a time can take it.
constexpr ULONG readerInputBuffers = 512;
// How many 1 ms polls an open makes, beyond its pause, for the reader to have
// its handle (more time where the system's sleep is coarser).
constexpr int readyPolls = 1000;

bool stopping() { return portState.stopRequested.load() != 0; }

// Reads reports until a stop is asked for. At most one read is pending at a
// time, and none is left pending on return, so the system never completes a
// read into this frame after it is gone.
void readReports(HANDLE device, HANDLE readDone, HANDLE stop) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = readDone;
    std::uint8_t report[reportSize] = {};
    const HANDLE waits[2] = {readDone, stop};
    bool pending = false;

    while (!stopping()) {
        if (!pending) {
            pending = ReadFile(device, report, reportSize, nullptr, &overlapped) ||
                      GetLastError() == ERROR_IO_PENDING;
        }
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0) {
            DWORD got = 0;
            if (pending) {
                const BOOL ok = GetOverlappedResult(device, &overlapped, &got, FALSE);
                if (ok || GetLastError() != ERROR_IO_INCOMPLETE) pending = false;
                if (ok && got >= 2) {
                    acceptPayload(ring, report + 2, std::min<unsigned>(report[1] & 0x0F, got - 2));
                }
            }
            ResetEvent(readDone);
        } else if (woke != WAIT_OBJECT_0 + 1) {
            Sleep(closePollMs);  // a failing wait must not spin
        }
    }
    if (pending) {
        DWORD got = 0;
        // This thread started the read, so CancelIo, which every Windows
        // version has, ends it.
        CancelIo(device);
        GetOverlappedResult(device, &overlapped, &got, TRUE);
    }
}

void runReader() {
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A path = padSlot.padPath.load();
    ScopedHandle device(CreateFileA(path->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr));
    // A failure leaves the default: the reader still works, with less slack.
    if (device.valid()) HidD_SetNumInputBuffers(device.get(), readerInputBuffers);
    // The class driver hands a report only to handles open when it arrives:
    // from here on the pad's answers are kept for this reader.
    padSlot.readerReady.store(true);
    ScopedHandle readDone(CreateEventA(nullptr, TRUE, TRUE, ""));
    HANDLE stop = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // Published before the first test of stopRequested; the close sets that
    // flag before it takes the event, so one of the two sees the other.
    padSlot.stopEvent.store(stop);

    if (device.valid() && readDone.valid() && stop != nullptr) {
        readReports(device.get(), readDone.get(), stop);
    } else {
        // Without a device handle nothing can be delivered, and without both
        // events nothing can be waited for: wait for the stop, polling slowly.
        while (!stopping()) {
            if (stop == nullptr || WaitForSingleObject(stop, INFINITE) != WAIT_OBJECT_0) {
                Sleep(closePollMs);
            }
        }
    }
    // Whoever takes the stop event out of the slot closes it: the close, if it
    // took it to signal it, closes it once this thread has ended.
    HANDLE expected = stop;
    if (stop != nullptr && padSlot.stopEvent.compare_exchange_strong(expected, nullptr)) {
        CloseHandle(stop);
    }
}

DWORD WINAPI hidReaderMain(LPVOID) { return runReaderThread(runReader); }

}  // namespace

HidPadSlot& hidPadSlot() { return padSlot; }
SerialRing& serialRing() { return ring; }

bool openHidPort(std::int32_t ordinal) {
    portState.stopRequested.store(0);
    if (!findHidPad(ordinal)) {
        portState.readerRunning.store(0);
        return false;
    }
    return startHidReader();
}

bool startHidReader() {
    resetRing(ring);
    padSlot.readerReady.store(false);
    HANDLE thread = CreateThread(nullptr, readerStack, hidReaderMain, nullptr, 0, nullptr);
    portState.readerThread.store(thread);
    Sleep(startPauseMs);
    // A reader slower to start than the pause would miss what the pad says
    // in answer to the caller's first command; wait for its handle, bounded.
    for (int i = 0; thread != nullptr && !padSlot.readerReady.load() && i < readyPolls; ++i) Sleep(1);
    if (thread == nullptr) {
        if (HANDLE h = padSlot.writeHandle.exchange(nullptr)) CloseHandle(h);
        portState.readerRunning.store(0);
        return false;
    }
    portState.readerRunning.store(1);
    return true;
}

void closeHidPort() {
    portState.stopRequested.store(1);
    HANDLE stop = padSlot.stopEvent.exchange(nullptr);
    if (stop != nullptr) SetEvent(stop);
    // Poll until the reader has left its loop and its thread has ended, so
    // nothing is released under it and a following open never overlaps it.
    if (HANDLE thread = portState.readerThread.exchange(nullptr)) {
        while (WaitForSingleObject(thread, closePollMs) == WAIT_TIMEOUT) {
        }
        CloseHandle(thread);
    }
    portState.readerRunning.store(0);
    if (stop != nullptr) CloseHandle(stop);
    if (HANDLE h = padSlot.writeHandle.exchange(nullptr)) CloseHandle(h);
    freeDetailRecord(padSlot.padPath.exchange(nullptr));
}

}  // namespace halvix
