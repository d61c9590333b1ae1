// Thousands of open/close cycles over both channels, with traffic, silent
// pads and failing opens mixed in; afterwards nothing may be left behind.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "legacy/legacy_channel.h"
#include "stress_support.h"
#include "support/bus_fixture.h"

namespace halvix::stress {
namespace {

class CyclesTest : public testing::BusTest {};

// One kind of cycle: which port, how it is set up, what the open answers.
enum class Kind {
    HidTraffic,      // HID1: a pad that sends all the time
    HidSilent,       // HID2: a pad that sends nothing
    HidRefused,      // HID2 with its open refused
    HidNoPad,        // HID3
    HidNoThread,     // HID1 with thread creation refused
    LegacyStream,    // USB1: 200 records a second
    LegacySilent,    // USB2: a pad that sends nothing, closed once its read waits
    LegacyAtOnce,    // USB2 closed at once, before its reader may have started reading
    LegacyRefused,   // USB2 with its open refused
    LegacyNoPad,     // USB9, and USB0 (ordinal -1)
    LegacyNoThread,  // USB1 with thread creation refused
};

struct Share {
    Kind kind;
    unsigned weight;  // out of 1000
};

// Most cycles are ones whose close is quick. A legacy reader that has not
// reached its read when the close cancels it holds the close up to one
// 100 ms poll, so cycles of that kind are few.
constexpr Share mix[] = {
    {Kind::HidTraffic, 130}, {Kind::HidSilent, 100},   {Kind::HidRefused, 60},
    {Kind::HidNoPad, 60},    {Kind::HidNoThread, 20},  {Kind::LegacyStream, 220},
    {Kind::LegacySilent, 220}, {Kind::LegacyAtOnce, 10}, {Kind::LegacyRefused, 60},
    {Kind::LegacyNoPad, 100}, {Kind::LegacyNoThread, 20},
};

Kind pick(Random& random) {
    unsigned roll = random.below(1000);
    for (const Share& s : mix) {
        if (roll < s.weight) return s.kind;
        roll -= s.weight;
    }
    return Kind::HidTraffic;
}

bool isHid(Kind k) { return k <= Kind::HidNoThread; }

const char* nameOf(Kind k) {
    static const char* const names[] = {"hid-traffic", "hid-silent", "hid-refused", "hid-no-pad",
                                        "hid-no-thread", "legacy-stream", "legacy-silent",
                                        "legacy-at-once", "legacy-refused", "legacy-no-pad",
                                        "legacy-no-thread"};
    return names[static_cast<int>(k)];
}

TEST_F(CyclesTest, TenThousandOpenCloseCyclesLeaveNothingBehind) {
    const std::size_t cycles = scaled(10000);
    vbus::clearPopulation();
    const vbus::DeviceId busy = vbus::addHidDevice({0x1D3B, 0x0043, vbus::HidBehaviour::Silent, 0, false});
    vbus::addHidDevice({0x046D, 0xC31C, vbus::HidBehaviour::Silent, 0, false});  // not a pad
    const vbus::DeviceId quiet = vbus::addHidDevice({0x1D3B, 0x00A5, vbus::HidBehaviour::Silent, 0, false});
    vbus::addStreamingLegacyPad();
    const vbus::DeviceId silentLegacy = vbus::addLegacyDevice({});

    // Sanitizer runtimes start helper threads with the first thread a
    // process makes; let that happen before the count is taken.
    std::thread([] {}).join();
    const std::size_t tasksAtStart = taskCount();
    const std::size_t pendingClosesAtStart = vbus::closesWithReadPending();

    // The busy pad sends all the time, whether or not a port has it open;
    // like a real class driver, the bus hands its reports only to the handles
    // open at the time.
    std::atomic<bool> running{true};
    std::thread pusher([&] {
        Random bytes(3);
        while (running.load()) {
            vbus::Report report{};
            report[1] = 7;
            for (unsigned i = 2; i < 9; ++i) report[i] = static_cast<std::uint8_t>(bytes.next());
            vbus::pushInputReport(busy, report);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    Random random(5);
    std::map<Kind, std::size_t> counts;
    std::size_t wrongAnswers = 0, hidOpen = 0, legacyOpen = 0, failedOpens = 0;
    double worstHidClose = 0, worstLegacyClose = 0, worstLegacyAtOnce = 0;
    std::size_t slowLegacyCloses = 0;  // over 50 ms: the reader was not in its read yet
    std::map<Kind, double> worstByKind;
    const auto start = Clock::now();
    for (std::size_t i = 0; i < cycles; ++i) {
        const Kind kind = pick(random);
        ++counts[kind];
        std::string name;
        bool expectOpen = true;
        switch (kind) {
            case Kind::HidTraffic: name = "HID1"; break;
            case Kind::HidSilent: name = "HID2"; break;
            case Kind::HidRefused:
                name = "HID2";
                expectOpen = false;
                vbus::setOpenError(quiet, ERROR_ACCESS_DENIED);
                break;
            case Kind::HidNoPad: name = "HID3"; expectOpen = false; break;
            case Kind::HidNoThread:
                name = "HID1";
                expectOpen = false;
                vbus::failThreadCreation(true);
                break;
            case Kind::LegacyStream: name = "USB1"; break;
            case Kind::LegacySilent:
            case Kind::LegacyAtOnce: name = "USB2"; break;
            case Kind::LegacyRefused:
                name = "USB2";
                expectOpen = false;
                vbus::setOpenError(silentLegacy, ERROR_ACCESS_DENIED);
                break;
            case Kind::LegacyNoPad: name = random.below(2) ? "USB9" : "USB0"; expectOpen = false; break;
            case Kind::LegacyNoThread:
                name = "USB1";
                expectOpen = false;
                vbus::failThreadCreation(true);
                break;
        }
        const bool opened = open(name);
        vbus::setOpenError(quiet, 0);
        vbus::setOpenError(silentLegacy, 0);
        vbus::failThreadCreation(false);
        if (opened != expectOpen) ++wrongAnswers;
        if (!opened) ++failedOpens;
        else if (isHid(kind)) ++hidOpen;
        else ++legacyOpen;

        // Some data taken while open. A silent legacy pad gets 5 ms to reach
        // its read, so that the close has a read to cancel: a new reader
        // takes up to a few milliseconds to get there.
        if (opened && kind == Kind::HidTraffic && random.below(4) == 0) {
            Java_Halvix_getSerialData(jni.env(), nullptr);
        }
        if (opened && kind == Kind::LegacyStream) {
            std::this_thread::sleep_for(std::chrono::microseconds(random.below(3000)));
            while (takePoint(pointQueue()) != 0) {
            }
        }
        if (opened && kind == Kind::LegacySilent) std::this_thread::sleep_for(std::chrono::milliseconds(5));

        const auto closeStart = Clock::now();
        close();
        const double took = msSince(closeStart);
        worstByKind[kind] = std::max(worstByKind[kind], took);
        if (!isHid(kind) && took > 50) ++slowLegacyCloses;
        if (kind == Kind::LegacyAtOnce) worstLegacyAtOnce = std::max(worstLegacyAtOnce, took);
        else if (isHid(kind)) worstHidClose = std::max(worstHidClose, took);
        else worstLegacyClose = std::max(worstLegacyClose, took);
    }
    const double seconds = msSince(start) / 1000.0;
    running.store(false);
    pusher.join();

    EXPECT_EQ(wrongAnswers, 0u) << "opens that answered other than expected";
    const bool threadsEnded = vbus::waitForThreadsToEnd(2000);
    EXPECT_TRUE(threadsEnded);
    EXPECT_EQ(vbus::liveThreadCount(), 0u);
    const std::size_t handlesLeft = vbus::openHandleCount() - handlesAtStart;
    EXPECT_EQ(handlesLeft, 0u) << "handles left open";
    EXPECT_EQ(vbus::closesWithReadPending(), pendingClosesAtStart)
        << "a file was closed with a read still pending";
    const bool tasksBack = taskCountBackTo(tasksAtStart, 2000);
    EXPECT_TRUE(tasksBack) << taskCount() << " threads, " << tasksAtStart << " at the start";

    // A close should be quick; these bounds only catch a hang.
    EXPECT_LT(worstHidClose, 2000.0);
    EXPECT_LT(worstLegacyClose, 2000.0);
    EXPECT_LT(worstLegacyAtOnce, 2000.0);

    char text[240];
    std::snprintf(text, sizeof text,
                  "%zu cycles in %.1f s: %zu HID and %zu legacy opened, %zu opens failed as expected",
                  cycles, seconds, hidOpen, legacyOpen, failedOpens);
    addFigure("open/close cycles", text);
    std::snprintf(text, sizeof text, "%zu handles, %zu bus threads, %zd process threads left",
                  handlesLeft, vbus::liveThreadCount(),
                  static_cast<std::ptrdiff_t>(taskCount()) - static_cast<std::ptrdiff_t>(tasksAtStart));
    addFigure("cycle leaks", text);
    std::snprintf(text, sizeof text,
                  "HID %.1f ms, legacy %.1f ms (%.1f ms when closed at once after the open); "
                  "%zu legacy closes over 50 ms",
                  worstHidClose, worstLegacyClose, worstLegacyAtOnce, slowLegacyCloses);
    addFigure("worst cycle close", text);
    std::string byKind;
    for (const auto& [kind, worst] : worstByKind) {
        std::snprintf(text, sizeof text, "%s%s %zu/%.1f", byKind.empty() ? "" : ", ", nameOf(kind),
                      counts[kind], worst);
        byKind += text;
    }
    std::printf("cycles and worst close (ms) by kind: %s\n", byKind.c_str());
}

}  // namespace
}  // namespace halvix::stress
