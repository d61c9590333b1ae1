// The HID channel end to end through the natives, over the virtual bus.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "binding/port_state.h"
#include "hid/hid_channel.h"
#include "support/bus_fixture.h"

namespace halvix {
namespace {

using testing::BusTest;
using testing::millisecondsOf;

vbus::Report report(std::uint8_t count, std::vector<std::uint8_t> bytes) {
    vbus::Report r{};
    r[1] = count;
    for (std::size_t i = 0; i < bytes.size() && i < 7; ++i) r[2 + i] = bytes[i];
    return r;
}

class HidPortTest : public BusTest {
protected:
    vbus::DeviceId pad1() { return *vbus::deviceAt(vbus::hidClass(), 3); }

    bool put(const std::vector<std::uint8_t>& command) {
        return Java_Halvix_putCmdString(jni.env(), nullptr, jni.array(command)) == JNI_TRUE;
    }
};

TEST_F(HidPortTest, ReportsArriveInOrder) {
    ASSERT_TRUE(open("HID1"));
    vbus::pushInputReport(pad1(), report(0x05, {1, 2, 3, 4, 5, 99, 99}));
    vbus::pushInputReport(pad1(), report(0xF2, {6, 7, 99}));  // high bits ignored
    vbus::pushInputReport(pad1(), report(0x00, {99}));
    vbus::pushInputReport(pad1(), report(0x0C, {8, 9, 10, 11, 12, 13, 14}));  // 12: the 7 carried
    EXPECT_EQ(readSerial(14), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    close();
}

// A pad may send faster than one pending read at a time takes its reports;
// the reader's handle holds 512 of them, where the class driver's default
// of 32 would drop most of this burst.
TEST_F(HidPortTest, ABurstOfSixtyReportsAtOnceLosesNothing) {
    ASSERT_TRUE(open("HID1"));
    ASSERT_TRUE(testing::eventually([&] { return vbus::pendingReadCount(pad1()) == 1; }));
    const std::size_t droppedBefore = vbus::droppedInputReports(pad1());
    std::vector<vbus::Report> burst;
    std::vector<std::uint8_t> sent;
    for (int i = 0; i < 60; ++i) {
        std::vector<std::uint8_t> payload(7);
        std::iota(payload.begin(), payload.end(), static_cast<std::uint8_t>(7 * i));
        burst.push_back(report(7, payload));
        sent.insert(sent.end(), payload.begin(), payload.end());
    }
    vbus::pushInputReports(pad1(), burst);
    EXPECT_EQ(readSerial(sent.size()), sent);
    EXPECT_EQ(vbus::droppedInputReports(pad1()), droppedBefore);
    close();
}

TEST_F(HidPortTest, CommandsRoundTripThroughTheEchoingPads) {
    for (const char* name : {"HID1", "HID2"}) {
        ASSERT_TRUE(open(name)) << name;
        std::vector<std::uint8_t> command(700);
        std::iota(command.begin(), command.end(), 0);
        ASSERT_TRUE(put(command));
        EXPECT_EQ(readSerial(command.size()), command) << name;
        close();
    }
}

TEST_F(HidPortTest, CommandsGoOutAsNineByteReports) {
    struct Case {
        int length;
        std::vector<int> perReport;
    };
    const Case cases[] = {{0, {}}, {1, {1}}, {7, {7}}, {8, {7, 1}}, {20, {7, 7, 6}}, {21, {7, 7, 7}}};
    ASSERT_TRUE(open("HID1"));
    for (const Case& c : cases) {
        const std::size_t before = vbus::outputReports(pad1()).size();
        std::vector<std::uint8_t> command(static_cast<std::size_t>(c.length));
        std::iota(command.begin(), command.end(), 0x30);
        EXPECT_TRUE(put(command)) << c.length;
        auto reports = vbus::outputReports(pad1());
        ASSERT_EQ(reports.size() - before, c.perReport.size()) << c.length;
        std::size_t at = 0;
        for (std::size_t i = 0; i < c.perReport.size(); ++i) {
            const vbus::Report& r = reports[before + i];
            const int n = c.perReport[i];
            EXPECT_EQ(r[0], 0) << c.length << " report " << i;
            EXPECT_EQ(r[1], n) << c.length << " report " << i;
            for (int b = 0; b < 7; ++b) {
                EXPECT_EQ(r[2 + b], b < n ? command[at + b] : 0) << c.length << " report " << i;
            }
            at += static_cast<std::size_t>(n);
        }
        readSerial(static_cast<std::size_t>(c.length), 500);  // take the echo
    }
    close();
}

TEST_F(HidPortTest, CommandsAreRefusedWithoutAHidPort) {
    ASSERT_TRUE(open("USB1"));
    EXPECT_FALSE(put({1, 2, 3}));
    close();
    EXPECT_FALSE(put({1, 2, 3}));  // the legacy channel is still the one in use
    ASSERT_TRUE(open("HID1"));
    const std::size_t before = vbus::outputReports(pad1()).size();
    EXPECT_FALSE(Java_Halvix_putCmdString(jni.env(), nullptr, nullptr));
    EXPECT_EQ(vbus::outputReports(pad1()).size(), before);
    close();
}

TEST_F(HidPortTest, FailedOpensHoldNothing) {
    EXPECT_FALSE(open("HID3"));
    EXPECT_EQ(vbus::openHandleCount(), handlesAtStart);
    EXPECT_EQ(portState.readerRunning.load(), 0);
    EXPECT_EQ(portState.hidMode.load(), 1) << "the channel tried is still recorded";

    vbus::failThreadCreation(true);
    EXPECT_FALSE(open("HID1"));
    vbus::failThreadCreation(false);
    EXPECT_EQ(portState.readerRunning.load(), 0);
    EXPECT_EQ(hidPadSlot().writeHandle.load(), nullptr);
    close();
    EXPECT_EQ(hidPadSlot().padPath.load(), nullptr) << "the close releases the path";
    EXPECT_EQ(vbus::openHandleCount(), handlesAtStart);

    ASSERT_TRUE(open("HID1"));  // and the channel works again
    close();
}

TEST_F(HidPortTest, ReaderStartsWithItsStack) {
    ASSERT_TRUE(open("HID1"));
    EXPECT_EQ(vbus::threadStackRequest(portState.readerThread.load()), SIZE_T{0x8000});
    EXPECT_EQ(vbus::threadPriority(portState.readerThread.load()), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(vbus::openFileCount(pad1()), 2u) << "the write handle and the reader's own";
    close();
}

TEST_F(HidPortTest, CloseIsPromptAndLeavesNothingPending) {
    const std::size_t pendingBefore = vbus::closesWithReadPending();
    ASSERT_TRUE(open("HID1"));
    Sleep(30);  // the reader is blocked in its wait on a silent pad
    const double ms = millisecondsOf([&] { close(); });
    EXPECT_LT(ms, 1000) << "a silent pad held the close up";
    EXPECT_EQ(vbus::liveThreadCount(), 0u) << "the close returned before its reader ended";
    EXPECT_EQ(vbus::closesWithReadPending(), pendingBefore)
        << "the reader's handle was closed with its read still pending";
    EXPECT_EQ(vbus::openFileCount(pad1()), 0u);
}

TEST_F(HidPortTest, CloseRightAfterOpenFindsTheReader) {
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(open(i % 2 ? "HID1" : "HID2"));
        close();
        ASSERT_EQ(vbus::liveThreadCount(), 0u) << "cycle " << i;
    }
}

TEST_F(HidPortTest, UnplugMidStreamThenClose) {
    ASSERT_TRUE(open("HID1"));
    vbus::pushInputReport(pad1(), report(3, {1, 2, 3}));
    EXPECT_EQ(readSerial(3).size(), 3u);
    vbus::unplug(pad1());
    Sleep(30);
    const double ms = millisecondsOf([&] { close(); });
    EXPECT_LT(ms, 1000);
}

TEST_F(HidPortTest, FailingReadsDoNotSpin) {
    ASSERT_TRUE(open("HID1"));
    vbus::setReadError(pad1(), ERROR_GEN_FAILURE);
    vbus::pushInputReport(pad1(), report(1, {7}));  // completes the pending read, then reads fail
    Sleep(100);
    const std::size_t reads = vbus::readCount(pad1());
    Sleep(200);
    EXPECT_LE(vbus::readCount(pad1()) - reads, 2u) << "the reader retried a failing pad in a loop";
    close();
}

TEST_F(HidPortTest, BytesOutliveTheCloseUntilTheNextOpen) {
    ASSERT_TRUE(open("HID1"));
    vbus::pushInputReport(pad1(), report(4, {1, 2, 3, 4}));
    ASSERT_TRUE(testing::eventually([] { return queuedBytes(serialRing()) == 4; }));
    close();
    jbyteArray left = Java_Halvix_getSerialData(jni.env(), nullptr);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(jni.bytes(left), (std::vector<std::uint8_t>{1, 2, 3, 4}));

    ASSERT_TRUE(open("HID1"));
    vbus::pushInputReport(pad1(), report(2, {5, 6}));
    ASSERT_TRUE(testing::eventually([] { return queuedBytes(serialRing()) == 2; }));
    close();
    EXPECT_FALSE(open("HID3"));  // an open that finds no pad keeps the ring
    EXPECT_EQ(queuedBytes(serialRing()), 2u);
    ASSERT_TRUE(open("HID2"));  // one that finds a pad empties it
    EXPECT_EQ(queuedBytes(serialRing()), 0u);
    close();
}

TEST_F(HidPortTest, SerialDataPausesOnlyWhenEmpty) {
    ASSERT_TRUE(open("HID1"));
    const double empty = millisecondsOf([&] {
        EXPECT_EQ(Java_Halvix_getSerialData(jni.env(), nullptr), nullptr);
    });
    EXPECT_GE(empty, 19.0) << "an empty ring answers after its pause";
    close();
    ASSERT_TRUE(open("USB1"));
    const double legacy = millisecondsOf([&] {
        EXPECT_EQ(Java_Halvix_getSerialData(jni.env(), nullptr), nullptr);
    });
    EXPECT_LT(legacy, 15.0) << "the legacy channel answers at once";
    close();
}

TEST_F(HidPortTest, FailedArrayLosesNoByte) {
    ASSERT_TRUE(open("HID1"));
    vbus::pushInputReport(pad1(), report(3, {1, 2, 3}));
    ASSERT_TRUE(testing::eventually([] { return queuedBytes(serialRing()) == 3; }));
    jni.failNewByteArray = true;
    EXPECT_EQ(Java_Halvix_getSerialData(jni.env(), nullptr), nullptr);
    jni.failNewByteArray = false;
    jni.exceptionPending = false;
    EXPECT_EQ(readSerial(3), (std::vector<std::uint8_t>{1, 2, 3}));
    close();
}

TEST_F(HidPortTest, OpeningAgainClosesTheFirstPort) {
    ASSERT_TRUE(open("HID1"));
    ASSERT_TRUE(open("HID2"));
    EXPECT_EQ(vbus::liveThreadCount(), 1u) << "two readers ran at once";
    EXPECT_EQ(vbus::openFileCount(pad1()), 0u) << "the first pad is still held";
    ASSERT_TRUE(open("USB1"));
    EXPECT_EQ(vbus::liveThreadCount(), 1u);
    ASSERT_TRUE(open("HID1"));
    EXPECT_EQ(vbus::liveThreadCount(), 1u);
    close();
}

}  // namespace
}  // namespace halvix
