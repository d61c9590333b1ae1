// Faults in the middle of traffic: a pad pulled out while it sends, and
// closes at random moments relative to the pad's reports and records.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "legacy/legacy_channel.h"
#include "stress_support.h"
#include "support/bus_fixture.h"

namespace halvix::stress {
namespace {

class FaultsTest : public testing::BusTest {};

vbus::Report reportCarrying(Random& bytes, std::vector<std::uint8_t>& sent) {
    vbus::Report report{};
    report[1] = 7;
    for (unsigned i = 2; i < 9; ++i) {
        report[i] = static_cast<std::uint8_t>(bytes.next());
        sent.push_back(report[i]);
    }
    return report;
}

// After an unplug the reader's reads fail; it must wait, not spin, until the
// close, and the close must still be prompt and release everything.
TEST_F(FaultsTest, UnpluggedPadsCostNoProcessorTimeAndCloseQuickly) {
    constexpr auto idle = std::chrono::milliseconds(500);
    const std::size_t rounds = scaled(6);
    const std::size_t pendingClosesAtStart = vbus::closesWithReadPending();
    double worstCpuHid = 0, worstCpuLegacy = 0, worstCloseHid = 0, worstCloseLegacy = 0;
    Random random(21);

    for (std::size_t round = 0; round < rounds; ++round) {
        for (bool legacy : {false, true}) {
            vbus::clearPopulation();
            const vbus::DeviceId pad =
                legacy ? vbus::addStreamingLegacyPad()
                       : vbus::addHidDevice({0x1D3B, 0x0043, vbus::HidBehaviour::Silent, 0, false});
            const pid_t reader = openAndFindReader([&] { return open(legacy ? "USB1" : "HID1"); });
            ASSERT_NE(reader, 0) << "the reader thread was not found";

            // Data flows for a while, then the pad goes at a random moment.
            std::atomic<bool> sending{true};
            std::thread pusher([&] {
                Random bytes(round);
                std::vector<std::uint8_t> sent;
                while (sending.load()) {
                    if (!legacy) vbus::pushInputReport(pad, reportCarrying(bytes, sent));
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                }
            });
            const auto flowUntil = Clock::now() + std::chrono::milliseconds(50 + random.below(100));
            while (Clock::now() < flowUntil) {
                if (legacy) {
                    Java_Halvix_getPointData(jni.env(), nullptr);
                } else {
                    Java_Halvix_getSerialData(jni.env(), nullptr);
                }
            }
            vbus::unplug(pad);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the reader sees the failure
            const double cpuBefore = threadCpuMicroseconds(reader);
            std::this_thread::sleep_for(idle);
            const double cpuAfter = threadCpuMicroseconds(reader);
            const auto closeStart = Clock::now();
            close();
            const double closeMs = msSince(closeStart);
            sending.store(false);
            pusher.join();

            ASSERT_GE(cpuBefore, 0) << "no processor time for the reader";
            const double cpuMs = (cpuAfter - cpuBefore) / 1000.0;
            // A spinning reader would use the whole half second.
            EXPECT_LT(cpuMs, 50.0) << (legacy ? "legacy" : "HID") << " reader after the unplug";
            EXPECT_LT(closeMs, 1000.0) << (legacy ? "legacy" : "HID") << " close after the unplug";
            EXPECT_TRUE(vbus::waitForThreadsToEnd(2000));
            EXPECT_EQ(vbus::openHandleCount(), handlesAtStart);
            (legacy ? worstCpuLegacy : worstCpuHid) = std::max(legacy ? worstCpuLegacy : worstCpuHid, cpuMs);
            (legacy ? worstCloseLegacy : worstCloseHid) =
                std::max(legacy ? worstCloseLegacy : worstCloseHid, closeMs);
            drainQueues();
        }
    }
    EXPECT_EQ(vbus::closesWithReadPending(), pendingClosesAtStart);

    char text[200];
    std::snprintf(text, sizeof text,
                  "%zu per channel; reader cpu in 500 ms: HID %.2f ms, legacy %.2f ms; "
                  "close HID %.1f ms, legacy %.1f ms",
                  rounds, worstCpuHid, worstCpuLegacy, worstCloseHid, worstCloseLegacy);
    addFigure("unplug mid-stream", text);
}

// A HID close at a random moment while reports arrive: no hang, no read left
// pending under a closed file, and what arrived is whole reports from the
// start of what the pad sent.
TEST_F(FaultsTest, HidClosesAtRandomMomentsKeepAnInOrderPrefix) {
    const std::size_t rounds = scaled(1500);
    const std::size_t pendingClosesAtStart = vbus::closesWithReadPending();
    Random random(31);
    double worstClose = 0;
    std::size_t notPrefix = 0, reportsSeen = 0;

    for (std::size_t round = 0; round < rounds; ++round) {
        vbus::clearPopulation();  // a fresh pad: nothing queued from the last round
        const vbus::DeviceId pad = vbus::addHidDevice({0x1D3B, 0x0043, vbus::HidBehaviour::Silent, 0, false});
        ASSERT_TRUE(open("HID1"));
        std::vector<std::uint8_t> sent;
        const unsigned gapUs = random.below(200);
        std::atomic<bool> sending{true};
        std::thread pusher([&] {
            Random bytes(round + 1);
            while (sending.load() && sent.size() < 7 * 400) {
                vbus::pushInputReport(pad, reportCarrying(bytes, sent));
                if (gapUs != 0) std::this_thread::sleep_for(std::chrono::microseconds(gapUs));
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(random.below(3000)));
        const auto closeStart = Clock::now();
        close();
        worstClose = std::max(worstClose, msSince(closeStart));
        sending.store(false);
        pusher.join();

        // The ring keeps what came in before the close.
        std::vector<std::uint8_t> got;
        while (jbyteArray a = Java_Halvix_getSerialData(jni.env(), nullptr)) {
            const auto more = jni.bytes(a);
            got.insert(got.end(), more.begin(), more.end());
        }
        if (got.size() % 7 != 0 || got.size() > sent.size() ||
            !std::equal(got.begin(), got.end(), sent.begin())) {
            ++notPrefix;
        }
        reportsSeen += got.size() / 7;
    }
    EXPECT_EQ(notPrefix, 0u) << "rounds whose bytes were not whole reports from the start";
    EXPECT_EQ(vbus::closesWithReadPending(), pendingClosesAtStart)
        << "a file was closed with its read still pending";
    EXPECT_LT(worstClose, 2000.0);

    char text[200];
    std::snprintf(text, sizeof text, "%zu closes, %zu reports before them, worst close %.1f ms",
                  rounds, reportsSeen, worstClose);
    addFigure("HID close races", text);
}

// A legacy close at a random moment while records arrive: the points queued
// are the pad's first records, in order.
TEST_F(FaultsTest, LegacyClosesAtRandomMomentsKeepAnInOrderPrefix) {
    const std::size_t rounds = scaled(1500);
    Random random(41);
    double worstClose = 0;
    std::size_t notPrefix = 0, pointsSeen = 0;

    for (std::size_t round = 0; round < rounds; ++round) {
        vbus::clearPopulation();
        std::vector<vbus::LegacyStep> script;
        for (std::int32_t v = 1; v <= 100; ++v) script.push_back(vbus::record(v * 7919, random.below(2)));
        vbus::addLegacyDevice(script);
        ASSERT_TRUE(open("USB1"));
        std::this_thread::sleep_for(std::chrono::microseconds(random.below(15000)));
        const auto closeStart = Clock::now();
        close();
        worstClose = std::max(worstClose, msSince(closeStart));

        std::int32_t expected = 1;
        bool inOrder = true;
        for (std::int32_t n = queuedPoints(pointQueue()); n > 0; --n, ++expected) {
            if (Java_Halvix_getPointData(jni.env(), nullptr) != expected * 7919) inOrder = false;
            ++pointsSeen;
        }
        if (!inOrder || queuedPoints(pointQueue()) != 0) ++notPrefix;
    }
    EXPECT_EQ(notPrefix, 0u) << "rounds whose points were not the first records in order";
    EXPECT_LT(worstClose, 2000.0);

    char text[200];
    std::snprintf(text, sizeof text, "%zu closes, %zu points before them, worst close %.1f ms",
                  rounds, pointsSeen, worstClose);
    addFigure("legacy close races", text);
}

}  // namespace
}  // namespace halvix::stress
