// The legacy channel end to end through the natives, over the virtual bus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/port_state.h"
#include "legacy/legacy_channel.h"
#include "signature_figure.h"
#include "support/bus_fixture.h"

namespace halvix {
namespace {

using testing::BusTest;
using testing::millisecondsOf;

class LegacyPortTest : public BusTest {
protected:
    jlong point() { return Java_Halvix_getPointData(jni.env(), nullptr); }

    // Points until `n` have come or `ms` pass.
    std::vector<jlong> points(std::size_t n, unsigned ms = 2000) {
        std::vector<jlong> got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
            if (jlong p = point()) got.push_back(p);
        }
        return got;
    }

    // A scripted device in place of the streaming pad on the legacy class.
    vbus::DeviceId scripted(std::vector<vbus::LegacyStep> script) {
        vbus::unplug(*vbus::deviceAt(vbus::legacyClass(), 0));
        return vbus::addLegacyDevice(std::move(script));
    }
};

TEST_F(LegacyPortTest, TheVirtualPadStreamsItsSignature) {
    ASSERT_TRUE(open("USB1"));
    EXPECT_EQ(vbus::threadPriority(portState.readerThread.load()), THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_EQ(vbus::threadStackRequest(portState.readerThread.load()), SIZE_T{0x8000});
    auto got = points(400, 5000);  // two seconds of the figure
    close();
    ASSERT_EQ(got.size(), 400u);
    bool negative = false;
    for (jlong p : got) {
        EXPECT_NE(p, 0);
        EXPECT_GE(p, INT32_MIN);
        EXPECT_LE(p, INT32_MAX);
        negative = negative || p < 0;
    }
    EXPECT_TRUE(negative) << "records with the top bit set come back negative";
}

TEST_F(LegacyPortTest, PortNamesSelectTheLegacyPad) {
    for (const char* name : {"USB0", "USB2", "USBx", "USB-1"}) {
        EXPECT_FALSE(open(name)) << name;
        EXPECT_EQ(portState.hidMode.load(), 0) << name;
    }
    for (const char* name : {"USB", "USB1", "USB 1", "USB+1"}) {
        EXPECT_TRUE(open(name)) << name;
        close();
    }
}

TEST_F(LegacyPortTest, RecordsAsTheDriverDeliversThem) {
    scripted({vbus::record(5), vbus::record(0), vbus::record(-7),
              {{0x34, 0x12}, 0, 0},            // a short read: the rest is zero
              {{}, 0, 0},                      // an empty read delivers nothing
              {{}, ERROR_GEN_FAILURE, 0},      // nor does a failed one
              {{0x00, 0x00, 0x00}, 0, 0},      // a short read of zeros is the value 0
              vbus::record(INT32_MIN), vbus::record(9)});
    ASSERT_TRUE(open("USB1"));
    EXPECT_EQ(points(5), (std::vector<jlong>{5, -7, 0x1234, INT32_MIN, 9}));
    close();
}

TEST_F(LegacyPortTest, SilentPadDoesNotHoldTheCloseUp) {
    scripted({});
    ASSERT_TRUE(open("USB1"));
    Sleep(20);
    const double ms = millisecondsOf([&] { close(); });
    EXPECT_LT(ms, 1000) << "the close waited on a read that never returns";
    EXPECT_EQ(vbus::liveThreadCount(), 0u) << "the close returned before its reader ended";
    EXPECT_EQ(portState.readerThread.load(), nullptr);
    EXPECT_EQ(legacyDevice().load(), nullptr);
}

// A driver that never lets the reader's read go, with the cancel call on
// offer (the driver refuses it) and hidden (Windows XP): the close gives up
// after about a second, the port state is free for the next open, and the
// reader left behind finishes on its own once its read returns.
TEST_F(LegacyPortTest, StuckDriverCloseGivesUpAndTheReaderFinishesAlone) {
    // The streaming pad's first points, in order: the nonzero records.
    std::vector<jlong> streamed;
    for (std::int32_t r : vbus::signatureRecords()) {
        if (r != 0 && streamed.size() < 20) streamed.push_back(r);
    }
    const std::int32_t heldRecord = 7;  // the streaming pad never sends this
    for (const bool hidden : {false, true}) {
        SCOPED_TRACE(hidden ? "CancelSynchronousIo hidden" : "CancelSynchronousIo refused");
        vbus::restoreDefaultPopulation();
        drainQueues();
        vbus::hideCancelSynchronousIo(hidden);
        vbus::unplug(*vbus::deviceAt(vbus::legacyClass(), 0));
        const vbus::DeviceId stuck = vbus::addLegacyDevice({vbus::record(heldRecord)});
        vbus::holdReads(stuck, true);
        vbus::addStreamingLegacyPad();  // USB2

        ASSERT_TRUE(open("USB1"));
        ASSERT_TRUE(testing::eventually([&] { return vbus::readCount(stuck) == 1; }));
        Sleep(20);  // the reader is inside its read
        const double ms = millisecondsOf([&] { close(); });
        RecordProperty(hidden ? "stuck_close_ms_hidden" : "stuck_close_ms_refused", std::to_string(ms));
        EXPECT_GE(ms, 900) << "the close left before trying for about a second";
        EXPECT_LT(ms, 3000) << "the close waited on a read that never returns";
        EXPECT_EQ(portState.readerThread.load(), nullptr);
        EXPECT_EQ(legacyDevice().load(), nullptr);
        EXPECT_EQ(vbus::liveThreadCount(), 1u) << "the old reader is still in its read";
        EXPECT_EQ(vbus::openFileCount(stuck), 1u) << "the old reader keeps its pad open";

        // Another pad opens and streams its own points, the old reader aside.
        ASSERT_TRUE(open("USB2"));
        EXPECT_EQ(points(streamed.size()), streamed);
        close();
        const std::int32_t left = queuedPoints(pointQueue());

        // Released, the old reader's read returns (with the record when no
        // cancel was asked for); it queues nothing, closes its pad and ends.
        vbus::holdReads(stuck, false);
        EXPECT_TRUE(vbus::waitForThreadsToEnd(2000)) << "the released reader did not end";
        EXPECT_EQ(vbus::openFileCount(stuck), 0u) << "the released reader left its pad open";
        EXPECT_EQ(vbus::openHandleCount(), handlesAtStart);
        EXPECT_EQ(vbus::readCount(stuck), 1u) << "the released reader read again";
        EXPECT_EQ(queuedPoints(pointQueue()), left) << "the released reader queued its record";

        // The stuck pad itself opens again once the driver has let go
        // (pulled out here, so that its silent script cannot hold the close).
        ASSERT_TRUE(open("USB1"));
        vbus::unplug(stuck);
        close();
        EXPECT_TRUE(vbus::waitForThreadsToEnd(2000));
    }
}

TEST_F(LegacyPortTest, CloseBeforeTheReaderReads) {
    // The stop may come before the reader is in its read: the close retries.
    scripted({});
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(open("USB1"));
        const double ms = millisecondsOf([&] { close(); });
        EXPECT_LT(ms, 1000) << "cycle " << i;
    }
}

TEST_F(LegacyPortTest, CloseWithNoPortReturnsAtOnce) {
    const double ms = millisecondsOf([&] { close(); });
    EXPECT_LT(ms, 50);
}

TEST_F(LegacyPortTest, FailingPadCostsAlmostNothing) {
    std::vector<vbus::LegacyStep> failures(2000, vbus::LegacyStep{{}, ERROR_GEN_FAILURE, 0});
    const vbus::DeviceId pad = scripted(failures);
    ASSERT_TRUE(open("USB1"));
    Sleep(300);
    const std::size_t reads = vbus::readCount(pad);
    close();
    EXPECT_LT(reads, 100u) << "the reader retried a failing pad without pausing";
    EXPECT_GT(reads, 3u) << "the reader stopped retrying";
}

TEST_F(LegacyPortTest, UnplugMidStreamThenClose) {
    const vbus::DeviceId pad = scripted({vbus::record(1), vbus::record(2), vbus::record(3, 20)});
    ASSERT_TRUE(open("USB1"));
    EXPECT_EQ(points(2), (std::vector<jlong>{1, 2}));
    vbus::unplug(pad);
    Sleep(50);
    const double ms = millisecondsOf([&] { close(); });
    EXPECT_LT(ms, 1000);
}

TEST_F(LegacyPortTest, PointsOutliveTheCloseUntilTheNextLegacyOpen) {
    scripted({vbus::record(11), vbus::record(12), vbus::record(13)});
    ASSERT_TRUE(open("USB1"));
    ASSERT_TRUE(testing::eventually([] { return queuedPoints(pointQueue()) == 3; }));
    close();
    EXPECT_EQ(point(), 11);
    ASSERT_TRUE(open("HID1"));  // the HID channel leaves the queue alone
    EXPECT_EQ(point(), 12);
    close();
    EXPECT_FALSE(open("USB2"));  // a legacy open empties it, even one that fails
    EXPECT_EQ(point(), 0);
}

TEST_F(LegacyPortTest, EmptyQueuePauses) {
    scripted({});
    ASSERT_TRUE(open("USB1"));
    const double ms = millisecondsOf([&] { EXPECT_EQ(point(), 0); });
    EXPECT_GE(ms, 9.0);
    close();
}

TEST_F(LegacyPortTest, NoHidTrafficOnALegacyPort) {
    ASSERT_TRUE(open("USB1"));
    EXPECT_EQ(Java_Halvix_putCmdString(jni.env(), nullptr, jni.array({1, 2})), JNI_FALSE);
    EXPECT_EQ(Java_Halvix_getSerialData(jni.env(), nullptr), nullptr);
    close();
}

TEST_F(LegacyPortTest, FailedThreadStartHoldsNothing) {
    vbus::failThreadCreation(true);
    EXPECT_FALSE(open("USB1"));
    vbus::failThreadCreation(false);
    EXPECT_EQ(legacyDevice().load(), nullptr);
    EXPECT_EQ(vbus::openHandleCount(), handlesAtStart);
}

TEST_F(LegacyPortTest, CloseFollowsTheLastChannelOpened) {
    ASSERT_TRUE(open("HID1"));
    close();
    ASSERT_TRUE(open("USB1"));
    EXPECT_EQ(portState.hidMode.load(), 0);
    close();
    EXPECT_EQ(portState.readerThread.load(), nullptr) << "the legacy reader was not closed";
    EXPECT_EQ(vbus::liveThreadCount(), 0u);
}

}  // namespace
}  // namespace halvix
