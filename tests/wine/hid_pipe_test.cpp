// The HID channel's reader and command writer on Windows' own calls, with a
// named pipe standing in for the pad: the test puts the pipe's path and a
// write handle into the pad slot (the discovery walk cannot find a pipe) and
// drives the real reader thread, its overlapped reads and the writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "binding/natives.h"
#include "binding/port_state.h"
#include "support/fake_jni.h"
#include "hid/hid_channel.h"
#include "import_hook.h"
#include "pipe_pad.h"

namespace halvix::wine {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t ringLimit = 32758;  // the ring takes bytes while it holds fewer

Bytes report(std::uint8_t countByte, std::uint8_t first) {
    Bytes r(9, 0);
    r[1] = countByte;
    for (int i = 0; i < 7; ++i) r[2 + i] = static_cast<std::uint8_t>(first + i);
    return r;
}

// Wakes a reader waiting on the stand-in pad: the pad sends one report.
void sendReport(void* reportEnd) { PipePad::send(static_cast<HANDLE>(reportEnd), report(1, 1)); }

class HidPipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The first instance takes the write handle, the second the handle
        // the reader opens on the path.
        commandEnd = pad.listen();
        ASSERT_NE(commandEnd, nullptr) << "CreateNamedPipeA error " << GetLastError();
        HANDLE write = pad.connect();
        ASSERT_NE(write, nullptr) << "CreateFileA on the pipe, error " << GetLastError();
        reportEnd = pad.listen();
        ASSERT_NE(reportEnd, nullptr);
        HidPadSlot& slot = hidPadSlot();
        ASSERT_EQ(slot.padPath.load(), nullptr) << "an earlier test left a pad in the slot";
        slot.padPath.store(detailRecordFor(pad.path()));
        slot.writeHandle.store(write);
        // What openHidPort does around the walk that found the pad.
        portState.hidMode.store(1);
        portState.stopRequested.store(0);
    }

    void TearDown() override {
        EXPECT_TRUE(returnsWithin(closeHidPort, 2000, sendReport, reportEnd))
            << "the close waited for a pad that sends nothing";
        SerialRing& ring = serialRing();
        Bytes rest(queuedBytes(ring));
        takeBytes(ring, rest.data(), static_cast<std::uint32_t>(rest.size()));
    }

    void start() { ASSERT_TRUE(startHidReader()); }

    // Waits until the ring holds at least `bytes`.
    bool waitForQueued(std::uint32_t bytes, DWORD ms = 5000) {
        const ULONGLONG deadline = GetTickCount64() + ms;
        while (queuedBytes(serialRing()) < bytes) {
            if (GetTickCount64() >= deadline) return false;
            Sleep(1);
        }
        return true;
    }

    Bytes drain() {
        SerialRing& ring = serialRing();
        Bytes out(queuedBytes(ring));
        takeBytes(ring, out.data(), static_cast<std::uint32_t>(out.size()));
        return out;
    }

    PipePad pad;
    HANDLE commandEnd = nullptr;
    HANDLE reportEnd = nullptr;
};

TEST_F(HidPipeTest, ReportsArriveInOrderWithTheCountNibble) {
    start();
    struct Row {
        std::uint8_t countByte;
        Bytes expected;  // what the report adds to the ring
    };
    const Row rows[] = {
        {0x03, {0x10, 0x11, 0x12}},
        {0xF5, {0x20, 0x21, 0x22, 0x23, 0x24}},  // high four bits ignored
        {0x07, {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}},
        {0x00, {}},
        {0x0F, {0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56}},  // above 7: the 7 a report has
        {0x09, {0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66}},
        {0x01, {0x70}},
    };
    Bytes expected;
    std::uint8_t first = 0x10;
    for (const Row& row : rows) {
        ASSERT_TRUE(PipePad::send(reportEnd, report(row.countByte, first))) << GetLastError();
        expected.insert(expected.end(), row.expected.begin(), row.expected.end());
        first = static_cast<std::uint8_t>(first + 0x10);
    }
    ASSERT_TRUE(FlushFileBuffers(reportEnd));  // the reader has taken every report
    ASSERT_TRUE(waitForQueued(static_cast<std::uint32_t>(expected.size())));
    Sleep(50);
    EXPECT_EQ(drain(), expected);
}

TEST_F(HidPipeTest, RingFillsToItsLimitAndDropsTheRest) {
    start();
    // Every byte of the stream differs from its neighbours, so a lost or
    // repeated report shows.
    auto streamByte = [](std::uint32_t i) { return static_cast<std::uint8_t>(i % 251); };
    const std::uint32_t reports = ringLimit / 7 + 20;  // 20 more than fit
    for (std::uint32_t k = 0; k < reports; ++k) {
        Bytes r(9, 0);
        r[1] = 7;
        for (std::uint32_t j = 0; j < 7; ++j) r[2 + j] = streamByte(k * 7 + j);
        ASSERT_TRUE(PipePad::send(reportEnd, r)) << "report " << k << ", error " << GetLastError();
    }
    ASSERT_TRUE(FlushFileBuffers(reportEnd));
    ASSERT_TRUE(waitForQueued(ringLimit));
    Sleep(50);  // time for a report wrongly accepted after the last read
    const Bytes held = drain();
    ASSERT_EQ(held.size(), ringLimit);
    for (std::uint32_t i = 0; i < held.size(); ++i) {
        ASSERT_EQ(held[i], streamByte(i)) << "byte " << i;
    }

    // Emptied, the ring takes reports again, in order across the end of its
    // storage.
    Bytes expected;
    for (std::uint8_t k = 0; k < 3; ++k) {
        const Bytes r = report(7, static_cast<std::uint8_t>(0xA0 + 8 * k));
        ASSERT_TRUE(PipePad::send(reportEnd, r));
        expected.insert(expected.end(), r.begin() + 2, r.end());
    }
    ASSERT_TRUE(FlushFileBuffers(reportEnd));
    ASSERT_TRUE(waitForQueued(21));
    EXPECT_LT(serialRing().writePosition.load(), serialRing().readPosition.load())
        << "the write position wrapped";
    EXPECT_EQ(drain(), expected);
}

TEST_F(HidPipeTest, CloseWithASilentPadCancelsThePendingReadBeforeReleasing) {
    CallLog log;
    ASSERT_TRUE(log.installed()) << "the test could not watch the system calls";
    start();
    const DWORD reader = GetThreadId(portState.readerThread.load());
    ASSERT_NE(reader, 0u);
    // The reader is waiting in its read once it has started one (a loaded
    // machine may run it late): the pad sends nothing.
    const ULONGLONG deadline = GetTickCount64() + 5000;
    auto readStarted = [&] {
        for (const CallRecord& c : log.callsOn(reader)) {
            if (c.kind == CallRecord::readFile) return true;
        }
        return false;
    };
    while (!readStarted() && GetTickCount64() < deadline) Sleep(1);
    Sleep(20);

    ASSERT_TRUE(returnsWithin(closeHidPort, 2000, sendReport, reportEnd))
        << "the close waited for a pad that sends nothing";
    EXPECT_EQ(portState.readerThread.load(), nullptr);
    EXPECT_EQ(hidPadSlot().writeHandle.load(), nullptr);
    EXPECT_EQ(hidPadSlot().padPath.load(), nullptr);
    EXPECT_EQ(hidPadSlot().stopEvent.load(), nullptr);

    // The reader's own calls, in order: it opened the pad overlapped, made
    // its two events, started a read that stayed pending, and on the stop
    // cancelled that read and waited for it to complete before it let go of
    // the device handle and the completion event.
    const std::vector<CallRecord> calls = log.callsOn(reader);
    auto find = [&](CallRecord::Kind kind, std::size_t from) {
        for (std::size_t i = from; i < calls.size(); ++i) {
            if (calls[i].kind == kind) return i;
        }
        return calls.size();
    };
    const std::size_t open = find(CallRecord::createFile, 0);
    ASSERT_LT(open, calls.size()) << "the reader opened no handle";
    const HANDLE device = calls[open].handle;
    EXPECT_TRUE(calls[open].flags & FILE_FLAG_OVERLAPPED);
    const std::size_t readDoneAt = find(CallRecord::createEvent, open);
    ASSERT_LT(readDoneAt, calls.size());
    EXPECT_EQ(calls[readDoneAt].flags, 1u) << "the completion event resets manually";
    const HANDLE readDone = calls[readDoneAt].handle;

    const std::size_t read = find(CallRecord::readFile, readDoneAt);
    ASSERT_LT(read, calls.size()) << "the reader started no read";
    EXPECT_EQ(calls[read].handle, device);
    EXPECT_FALSE(calls[read].result);
    EXPECT_EQ(calls[read].error, static_cast<DWORD>(ERROR_IO_PENDING));
    const void* overlapped = calls[read].overlapped;
    ASSERT_NE(overlapped, nullptr);
    EXPECT_EQ(find(CallRecord::readFile, read + 1), calls.size()) << "a second read was started";

    // CancelIo, which ends only the calling thread's reads: the reader's own.
    const std::size_t cancel = find(CallRecord::cancelIo, read);
    ASSERT_LT(cancel, calls.size()) << "the pending read was not cancelled";
    EXPECT_EQ(calls[cancel].handle, device);
    EXPECT_TRUE(calls[cancel].result);

    const std::size_t completed = find(CallRecord::getOverlappedResult, cancel);
    ASSERT_LT(completed, calls.size()) << "the cancelled read was not waited for";
    EXPECT_EQ(calls[completed].overlapped, overlapped);
    EXPECT_EQ(calls[completed].flags, 1u) << "GetOverlappedResult must wait";
    EXPECT_FALSE(calls[completed].result);
    EXPECT_EQ(calls[completed].error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_NE(calls[completed].statusAfter, static_cast<ULONG_PTR>(STATUS_PENDING));

    bool deviceClosed = false, readDoneClosed = false;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].kind != CallRecord::closeHandle) continue;
        if (calls[i].handle == device) {
            deviceClosed = true;
            EXPECT_GT(i, completed) << "the device handle went before the read completed";
        }
        if (calls[i].handle == readDone) {
            readDoneClosed = true;
            EXPECT_GT(i, completed) << "the completion event went before the read completed";
        }
    }
    EXPECT_TRUE(deviceClosed) << "the reader did not close its device handle";
    EXPECT_TRUE(readDoneClosed) << "the reader did not close its completion event";

    // The pad sees both of the library's handles gone.
    EXPECT_FALSE(PipePad::send(reportEnd, report(1, 1)));
    EXPECT_FALSE(PipePad::send(commandEnd, report(1, 1)));
}

TEST_F(HidPipeTest, CommandsGoOutAsNineByteReports) {
    start();
    struct Row {
        std::int32_t length;
        std::vector<std::uint8_t> perReport;  // command bytes in each report
    };
    const Row rows[] = {
        {0, {}}, {1, {1}}, {7, {7}}, {8, {7, 1}}, {9, {7, 2}}, {20, {7, 7, 6}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("a command of " + std::to_string(row.length) + " bytes");
        Bytes command(static_cast<std::size_t>(row.length));
        for (std::size_t i = 0; i < command.size(); ++i) command[i] = static_cast<std::uint8_t>(0x40 + i);
        sendCommand(command.data(), row.length);
        std::size_t offset = 0;
        for (std::uint8_t n : row.perReport) {
            Bytes message;
            ASSERT_TRUE(PipePad::receive(commandEnd, message, 2000)) << "report missing";
            ASSERT_EQ(message.size(), 9u) << "an output report is one 9-byte message";
            EXPECT_EQ(message[0], 0) << "report ID";
            EXPECT_EQ(message[1], n) << "count";
            EXPECT_TRUE(std::equal(command.begin() + offset, command.begin() + offset + n,
                                   message.begin() + 2))
                << "bytes of the report at " << offset;
            offset += n;
        }
        EXPECT_EQ(PipePad::waiting(commandEnd), 0u) << "more reports than the command needs";
    }
}

// The natives on the same pad: putCmdString writes through the write handle,
// and getSerialData hands out the ring, keeping the bytes when the VM cannot
// make the array.
TEST_F(HidPipeTest, NativesCarryCommandsAndSerialData) {
    start();
    testing::FakeJni vm;
    const Bytes command = {9, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(Java_Halvix_putCmdString(vm.env(), nullptr, vm.array(command)), JNI_TRUE);
    Bytes message;
    ASSERT_TRUE(PipePad::receive(commandEnd, message, 2000));
    EXPECT_EQ(message, (Bytes{0, 7, 9, 8, 7, 6, 5, 4, 3}));
    ASSERT_TRUE(PipePad::receive(commandEnd, message, 2000));
    EXPECT_EQ(Bytes(message.begin(), message.begin() + 4), (Bytes{0, 2, 2, 1}));

    ASSERT_TRUE(PipePad::send(reportEnd, report(0x05, 0x31)));
    ASSERT_TRUE(waitForQueued(5));
    vm.failNewByteArray = true;
    EXPECT_EQ(Java_Halvix_getSerialData(vm.env(), nullptr), nullptr);
    EXPECT_EQ(queuedBytes(serialRing()), 5u) << "the bytes stay queued for the next call";
    vm.failNewByteArray = false;
    const jbyteArray data = Java_Halvix_getSerialData(vm.env(), nullptr);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(vm.bytes(data), (Bytes{0x31, 0x32, 0x33, 0x34, 0x35}));
    EXPECT_EQ(queuedBytes(serialRing()), 0u);
}

TEST(HidDiscoveryOnWine, FindsNoPadAndLeavesTheSlotEmpty) {
    EXPECT_FALSE(findHidPad(0));
    EXPECT_EQ(hidPadSlot().padPath.load(), nullptr);
    EXPECT_EQ(hidPadSlot().writeHandle.load(), nullptr);
}

}  // namespace
}  // namespace halvix::wine
