// Opening and closing a legacy port, and the time-critical reader thread.
#include <cstring>

#include "binding/port_state.h"
#include "legacy/device_lookup.h"
#include "legacy/legacy_channel.h"

namespace halvix {

namespace {

PointQueue queue;
std::atomic<HANDLE> device;

constexpr SIZE_T readerStack = 0x8000;
constexpr DWORD closePollMs = 100;
constexpr DWORD retryPauseMs = 10;
constexpr DWORD emptyQueuePauseMs = 10;

std::int32_t littleEndian(const std::uint8_t (&bytes)[4]) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) |
                                     static_cast<std::uint32_t>(bytes[1]) << 8 |
                                     static_cast<std::uint32_t>(bytes[2]) << 16 |
                                     static_cast<std::uint32_t>(bytes[3]) << 24);
}

void runReader() {
    const HANDLE pad = device.load();
    for (;;) {
        std::uint8_t record[4] = {};  // a short read leaves the rest zero
        DWORD got = 0;
        const BOOL ok = ReadFile(pad, record, sizeof record, &got, nullptr);
        if (portState.stopRequested.load() != 0) return;
        if (ok && got > 0) {
            pushPoint(queue, littleEndian(record));
        } else {
            // A pad that was pulled out fails every read: pause so that this
            // time-critical thread does not take a processor until the close.
            Sleep(retryPauseMs);
        }
    }
}

DWORD WINAPI legacyReaderMain(LPVOID) { return runReaderThread(runReader); }

}  // namespace

PointQueue& pointQueue() { return queue; }
std::atomic<HANDLE>& legacyDevice() { return device; }

bool openLegacyPort(std::int32_t ordinal) {
    resetPoints(queue);
    portState.stopRequested.store(0);
    portState.readerThread.store(nullptr);
    HANDLE pad = openLegacyDevice(ordinal);
    if (pad == nullptr) return false;
    return startLegacyReader(pad);
}

bool startLegacyReader(HANDLE pad) {
    device.store(pad);
    HANDLE thread = CreateThread(nullptr, readerStack, legacyReaderMain, nullptr, 0, nullptr);
    portState.readerThread.store(thread);
    if (thread == nullptr) {
        CloseHandle(device.exchange(nullptr));
        return false;
    }
    portState.readerRunning.store(1);
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    return true;
}

void closeLegacyPort() {
    HANDLE thread = portState.readerThread.load();
    if (thread == nullptr) return;
    portState.stopRequested.store(1);
    // The reader notices the stop only when its read returns, so end the read
    // it is blocked in; again at each poll, in case it had not started yet.
    do {
        CancelSynchronousIo(thread);
    } while (WaitForSingleObject(thread, closePollMs) == WAIT_TIMEOUT);
    portState.readerRunning.store(0);
    CloseHandle(thread);
    portState.readerThread.store(nullptr);
    if (HANDLE pad = device.exchange(nullptr)) CloseHandle(pad);
}

std::int32_t nextPoint() {
    if (queuedPoints(queue) <= 0) Sleep(emptyQueuePauseMs);
    return takePoint(queue);
}

}  // namespace halvix
