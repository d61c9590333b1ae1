// The legacy channel on Windows' own calls: its reader's synchronous reads
// from a named pipe standing in for the pad, its priority, and a close that
// ends a read blocked on a silent pad. Then the lookup of the legacy class,
// which Wine has no device of.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/port_state.h"
#include "import_hook.h"
#include "legacy/device_lookup.h"
#include "legacy/legacy_channel.h"
#include "pipe_pad.h"

namespace halvix::wine {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Wakes a reader blocked on the stand-in pad: the pad sends one point.
void sendRecord(void* padEnd) { PipePad::send(static_cast<HANDLE>(padEnd), {1, 0, 0, 0}); }

class LegacyPipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        padEnd = pad.listen();
        ASSERT_NE(padEnd, nullptr) << "CreateNamedPipeA error " << GetLastError();
        device = pad.connect();
        ASSERT_NE(device, nullptr) << "CreateFileA on the pipe, error " << GetLastError();
        // What openLegacyPort does around the lookup that found the pad.
        portState.hidMode.store(0);
        resetPoints(pointQueue());
        portState.stopRequested.store(0);
        portState.readerThread.store(nullptr);
    }

    void TearDown() override {
        EXPECT_TRUE(returnsWithin(closeLegacyPort, 2000, sendRecord, padEnd))
            << "the close waited for a pad that sends nothing";
        while (takePoint(pointQueue()) != 0) {
        }
    }

    void start() { ASSERT_TRUE(startLegacyReader(device)); }

    bool waitForPoints(std::int32_t count, DWORD ms = 5000) {
        const ULONGLONG deadline = GetTickCount64() + ms;
        while (queuedPoints(pointQueue()) < count) {
            if (GetTickCount64() >= deadline) return false;
            Sleep(1);
        }
        return true;
    }

    PipePad pad;
    HANDLE padEnd = nullptr;
    HANDLE device = nullptr;
};

TEST_F(LegacyPipeTest, ReaderQueuesFourByteRecordsAtTimeCriticalPriority) {
    start();
    EXPECT_EQ(GetThreadPriority(portState.readerThread.load()), THREAD_PRIORITY_TIME_CRITICAL);

    struct Row {
        Bytes record;
        std::int32_t point;  // 0: never queued
    };
    const Row rows[] = {
        {{0x04, 0x03, 0x02, 0x01}, 0x01020304},  // little-endian
        {{0x00, 0x00, 0x00, 0x00}, 0},
        {{0xFB, 0xFF, 0xFF, 0xFF}, -5},
        {{0xFF, 0xFF, 0xFF, 0x7F}, INT32_MAX},
        {{0x00, 0x00, 0x00, 0x80}, INT32_MIN},
        {{0x01, 0x00, 0x00, 0x00}, 1},
    };
    std::vector<std::int32_t> expected;
    for (const Row& row : rows) {
        ASSERT_TRUE(PipePad::send(padEnd, row.record)) << GetLastError();
        if (row.point != 0) expected.push_back(row.point);
    }
    ASSERT_TRUE(FlushFileBuffers(padEnd));  // the reader has taken every record
    ASSERT_TRUE(waitForPoints(static_cast<std::int32_t>(expected.size())));
    Sleep(50);
    std::vector<std::int32_t> got;
    for (std::int32_t p; (p = takePoint(pointQueue())) != 0;) got.push_back(p);
    EXPECT_EQ(got, expected);
}

TEST_F(LegacyPipeTest, CloseEndsAReadBlockedOnASilentPad) {
    CallLog log;
    ASSERT_TRUE(log.installed()) << "the test could not watch the system calls";
    start();
    const DWORD reader = GetThreadId(portState.readerThread.load());
    ASSERT_NE(reader, 0u);
    Sleep(50);  // the reader is blocked in its read: the pad sends nothing

    ASSERT_TRUE(returnsWithin(closeLegacyPort, 2000, sendRecord, padEnd))
        << "the close waited for a pad that sends nothing";
    EXPECT_EQ(portState.readerThread.load(), nullptr);
    EXPECT_EQ(legacyDevice().load(), nullptr);

    // The read the reader was blocked in ended as cancelled, not with data,
    // and it was the reader's only read.
    std::vector<CallRecord> reads;
    for (const CallRecord& c : log.callsOn(reader)) {
        if (c.kind == CallRecord::readFile) reads.push_back(c);
    }
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].handle, device);
    EXPECT_EQ(reads[0].overlapped, nullptr) << "the legacy read is synchronous";
    EXPECT_FALSE(reads[0].result);
    EXPECT_EQ(reads[0].error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(queuedPoints(pointQueue()), 0);
    // The pad's handle is closed: the stand-in pad can no longer send.
    EXPECT_FALSE(PipePad::send(padEnd, {1, 0, 0, 0}));
}

// Windows XP has no CancelSynchronousIo, and a silent pad never ends the
// reader's read: the close gives up after about a second and the reader,
// left in its read, finishes alone once the pad sends something.
TEST_F(LegacyPipeTest, WithoutCancelSynchronousIoTheCloseGivesUp) {
    HiddenCancelSynchronousIo hidden;
    ASSERT_TRUE(hidden.installed()) << "the test could not hide CancelSynchronousIo";
    start();
    HANDLE reader = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), portState.readerThread.load(), GetCurrentProcess(),
                                &reader, SYNCHRONIZE, FALSE, 0));
    Sleep(50);  // the reader is blocked in its read: the pad sends nothing

    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(returnsWithin(closeLegacyPort, 3000, sendRecord, padEnd))
        << "the close waited for a pad that sends nothing";
    const ULONGLONG took = GetTickCount64() - start;
    RecordProperty("close_ms", std::to_string(took));
    EXPECT_GE(took, 900u) << "the close left before trying for about a second";
    EXPECT_EQ(portState.readerThread.load(), nullptr);
    EXPECT_EQ(legacyDevice().load(), nullptr);
    EXPECT_EQ(WaitForSingleObject(reader, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the reader ended, yet its read cannot have returned";

    // Another pad opens and its reader queues its own points.
    PipePad other;
    HANDLE otherEnd = other.listen();
    ASSERT_NE(otherEnd, nullptr);
    HANDLE otherDevice = other.connect();
    ASSERT_NE(otherDevice, nullptr);
    resetPoints(pointQueue());
    portState.stopRequested.store(0);
    ASSERT_TRUE(startLegacyReader(otherDevice));
    ASSERT_TRUE(PipePad::send(otherEnd, {0x22, 0, 0, 0}));
    ASSERT_TRUE(waitForPoints(1));

    // The first pad sends: the old reader's read returns; it queues nothing,
    // closes its pad and ends.
    ASSERT_TRUE(PipePad::send(padEnd, {0x11, 0, 0, 0}));
    EXPECT_EQ(WaitForSingleObject(reader, 2000), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the old reader did not end once its read returned";
    CloseHandle(reader);
    EXPECT_FALSE(PipePad::send(padEnd, {1, 0, 0, 0})) << "the old reader left its pad open";
    EXPECT_EQ(queuedPoints(pointQueue()), 1);
    EXPECT_EQ(takePoint(pointQueue()), 0x22);

    // The second port's close, with the call still hidden, also gives up
    // on its silent pad; its reader then ends once that pad sends.
    ASSERT_TRUE(returnsWithin(closeLegacyPort, 3000, sendRecord, otherEnd));
    ASSERT_TRUE(PipePad::send(otherEnd, {1, 0, 0, 0}));
    const ULONGLONG deadline = GetTickCount64() + 2000;
    while (PipePad::send(otherEnd, {0, 0, 0, 0}) && GetTickCount64() < deadline) Sleep(10);
    EXPECT_FALSE(PipePad::send(otherEnd, {0, 0, 0, 0})) << "the second reader left its pad open";
}

TEST(LegacyLookupOnWine, NoDeviceOfTheLegacyClass) {
    CallLog log;
    ASSERT_TRUE(log.installed());
    DWORD error = 0;
    {
        DeviceInfoSet set(legacyInterfaceClass, error);
        ASSERT_EQ(error, 0u) << "an empty set is still a set";
        ASSERT_NE(set.handle, INVALID_HANDLE_VALUE);
        DeviceInterfaceDetail member(set, 0, error);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        EXPECT_FALSE(member.enumerated);
        EXPECT_EQ(member.detail, nullptr);
        EXPECT_EQ(member.devicePath(), nullptr);
    }
    EXPECT_EQ(openDeviceInterface(legacyInterfaceClass, 0, error), INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(openLegacyDevice(0), nullptr);
    EXPECT_FALSE(openLegacyPort(0));
    EXPECT_EQ(portState.readerThread.load(), nullptr);

    // Every set the lookups obtained was destroyed, once.
    std::vector<HANDLE> made, destroyed;
    for (const CallRecord& c : log.callsOn(GetCurrentThreadId())) {
        if (c.kind == CallRecord::getClassDevs) {
            EXPECT_EQ(c.flags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
            made.push_back(c.handle);
        }
        if (c.kind == CallRecord::destroyDeviceInfoList) destroyed.push_back(c.handle);
    }
    EXPECT_EQ(made.size(), 4u) << "one set for each lookup";
    EXPECT_EQ(destroyed, made);
}

}  // namespace
}  // namespace halvix::wine
