// Opening and closing a legacy port, and the time-critical reader thread.
#include <cstring>
#include <new>

#include "binding/port_state.h"
#include "legacy/device_lookup.h"
#include "legacy/legacy_channel.h"
#include "platform/optional_calls.h"

namespace halvix {

namespace {

PointQueue queue;
std::atomic<HANDLE> device;

constexpr SIZE_T readerStack = 0x8000;
constexpr DWORD closePollMs = 100;
constexpr int closePollsBeforeLeaving = 10;  // about 1 s
constexpr DWORD retryPauseMs = 10;
constexpr DWORD emptyQueuePauseMs = 10;

// What one reader owns for its whole life, apart from the port state: the
// pad's handle and its own stop. The port's close and the reader each hold
// it; whichever lets go last closes the pad and frees it. So a reader the
// close had to leave behind in a read that never ends closes its own pad
// once that read returns, and nothing of a later port is ever its business.
struct Reader {
    enum Phase : int { reading, queueing, stopped };
    explicit Reader(HANDLE p) : pad(p) {}
    const HANDLE pad;
    std::atomic<int> phase{reading};
    std::atomic<int> holders{2};
};

// The open port's reader, or null; the caller's thread alone uses it.
Reader* current = nullptr;

void letGo(Reader* reader) {
    // acq_rel: the last holder sees everything the other did with the pad.
    if (reader->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        CloseHandle(reader->pad);
        delete reader;
    }
}

// The point queue has one producer. A reader may queue only after it moved
// from reading to queueing, and the close stops it only by moving it from
// reading to stopped: so once the close has stopped it, it never queues
// again, and the queue is the next port's alone.
void stopQueueing(Reader& reader) {
    int expected = Reader::reading;
    // acquire: the points it queued before are complete before a later open
    // empties the queue.
    while (!reader.phase.compare_exchange_weak(expected, Reader::stopped,
                                               std::memory_order_acquire)) {
        if (expected == Reader::stopped) return;
        expected = Reader::reading;
        Sleep(0);  // it is storing one point: a few instructions
    }
}

std::int32_t littleEndian(const std::uint8_t (&bytes)[4]) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) |
                                     static_cast<std::uint32_t>(bytes[1]) << 8 |
                                     static_cast<std::uint32_t>(bytes[2]) << 16 |
                                     static_cast<std::uint32_t>(bytes[3]) << 24);
}

void runReader(Reader& reader) {
    for (;;) {
        std::uint8_t record[4] = {};  // a short read leaves the rest zero
        DWORD got = 0;
        const BOOL ok = ReadFile(reader.pad, record, sizeof record, &got, nullptr);
        int expected = Reader::reading;
        // relaxed: the reader needs nothing the close wrote, only the verdict.
        if (!reader.phase.compare_exchange_strong(expected, Reader::queueing,
                                                  std::memory_order_relaxed)) {
            return;  // stopped
        }
        const bool delivered = ok && got > 0;
        if (delivered) pushPoint(queue, littleEndian(record));
        // release: hands the point to whoever stops this reader next.
        reader.phase.store(Reader::reading, std::memory_order_release);
        // A pad that was pulled out fails every read: pause so that this
        // time-critical thread does not take a processor until the close.
        if (!delivered) Sleep(retryPauseMs);
    }
}

DWORD WINAPI legacyReaderMain(LPVOID parameter) {
    Reader* reader = static_cast<Reader*>(parameter);
    try {
        runReader(*reader);
    } catch (...) {
    }
    letGo(reader);
    return 0;
}

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
    Reader* reader = new (std::nothrow) Reader(pad);
    if (reader == nullptr) {
        CloseHandle(pad);
        return false;
    }
    HANDLE thread = CreateThread(nullptr, readerStack, legacyReaderMain, reader, 0, nullptr);
    portState.readerThread.store(thread);
    if (thread == nullptr) {
        CloseHandle(pad);
        delete reader;
        return false;
    }
    current = reader;
    device.store(pad);
    portState.readerRunning.store(1);
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    return true;
}

void closeLegacyPort() {
    HANDLE thread = portState.readerThread.load();
    if (thread == nullptr) return;
    portState.stopRequested.store(1);
    Reader* reader = current;
    current = nullptr;
    if (reader != nullptr) stopQueueing(*reader);
    // The reader notices the stop only when its read returns, so end the read
    // it is blocked in; again at each poll, in case it had not started yet.
    // Where the system has no such call, or the driver will not let the read
    // go, the close stops waiting after about a second and leaves the reader
    // to close its pad and end when the read returns.
    const CancelSynchronousIoCall cancel = findCancelSynchronousIo();
    for (int poll = 0; poll < closePollsBeforeLeaving; ++poll) {
        if (cancel != nullptr) cancel(thread);
        if (WaitForSingleObject(thread, closePollMs) != WAIT_TIMEOUT) break;
    }
    portState.readerRunning.store(0);
    CloseHandle(thread);  // the thread runs on without it, if it must
    portState.readerThread.store(nullptr);
    device.store(nullptr);
    if (reader != nullptr) letGo(reader);
}

std::int32_t nextPoint() {
    if (queuedPoints(queue) <= 0) Sleep(emptyQueuePauseMs);
    return takePoint(queue);
}

}  // namespace halvix
