// The library driven over the virtual bus as a Java program drives it, with
// a fake VM: reports per second from a pad to getSerialData, what the reader
// thread costs while the pad is silent, and how long a close takes. These
// run once each (they measure seconds-long behaviour, not a tight loop) and
// hand their figures to the summary table as counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "binding/natives.h"
#include "hid/hid_channel.h"
#include "results.h"
#include "support/fake_jni.h"
#include "vbus_control.h"

using halvix::bench::quickRun;
using halvix::testing::FakeJni;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t payloadSize = 7;

// Byte k of the benchmark's serial stream: varied, and tied to its position
// so that a lost, repeated or reordered byte shows.
std::uint8_t streamByte(std::uint64_t k) { return static_cast<std::uint8_t>(k * 131 + (k >> 8) + (k >> 16)); }

vbus::Report reportAt(std::uint64_t index) {
    vbus::Report r{};
    r[1] = payloadSize;
    for (std::uint32_t j = 0; j < payloadSize; ++j) r[2 + j] = streamByte(index * payloadSize + j);
    return r;
}

vbus::DeviceId onlySilentHidPad() {
    vbus::clearPopulation();
    vbus::HidDeviceConfig config;
    config.vendorId = halvix::padVendorId;
    config.productId = halvix::lowestPadProductId;
    config.behaviour = vbus::HidBehaviour::Silent;
    return vbus::addHidDevice(config);
}

bool openPort(FakeJni& jni, const char* name) {
    return Java_Halvix_openUsbPort(jni.env(), nullptr, jni.string(std::string(name))) == JNI_TRUE;
}

void closePort(FakeJni& jni) { Java_Halvix_closeUsbPort(jni.env(), nullptr); }

// Empties what an earlier benchmark may have left in the ring.
void drainRing(FakeJni& jni) {
    while (Java_Halvix_getSerialData(jni.env(), nullptr) != nullptr) {
    }
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- end to end -------------------------------------------------------------

enum class Drain {
    GetSerialData,  // the Java loop: call getSerialData again and again
    RingDirect,     // take from the ring without the native's 20 ms pause
};

// Feeds `reports` reports into a silent pad and takes them out again,
// checking every byte. Unpaced, the feeder keeps at most `window` reports
// ahead of what has come out, fewer than the ring holds, so that a byte can
// only be lost through a fault; paced, it sends one report every
// `pace` and keeps no window, as a pad does.
void endToEnd(benchmark::State& state, Drain drain, std::chrono::nanoseconds pace, std::uint64_t reports) {
    constexpr std::uint64_t window = 4096;  // 28672 bytes, below the ring's 32758
    static_assert(window * payloadSize < halvix::SerialRing::acceptLimit, "the window must fit the ring");

    const vbus::DeviceId pad = onlySilentHidPad();
    auto jni = std::make_unique<FakeJni>();
    if (!openPort(*jni, "HID1")) {
        state.SkipWithError("HID1 did not open");
        return;
    }
    drainRing(*jni);

    const std::uint64_t bytes = reports * payloadSize;
    std::uint64_t got = 0;
    std::uint64_t wrong = 0;
    std::uint64_t calls = 0;
    std::uint64_t emptyCalls = 0;
    std::atomic<std::uint64_t> delivered{0};  // whole reports taken out
    std::atomic<bool> quit{false};
    double seconds = 0;

    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        std::thread feeder([&] {
            Clock::time_point due = start;
            for (std::uint64_t i = 0; i < reports && !quit.load(std::memory_order_relaxed); ++i) {
                if (pace.count() > 0) {
                    due += pace;
                    std::this_thread::sleep_until(due);
                } else {
                    // Also fewer reports waiting at the reader's handle than
                    // it holds (512), or the bus drops the oldest.
                    while ((i - delivered.load(std::memory_order_acquire) >= window ||
                            vbus::queuedInputReports(pad) >= 256) &&
                           !quit.load(std::memory_order_relaxed)) {
                        std::this_thread::yield();
                    }
                }
                vbus::pushInputReport(pad, reportAt(i));
            }
        });
        const Clock::time_point giveUp = start + std::chrono::seconds(60);
        std::vector<std::uint8_t> buffer(halvix::SerialRing::storageSize);
        std::uint64_t arraysInVm = 0;
        while (got < bytes && Clock::now() < giveUp) {
            ++calls;
            const std::uint8_t* data = nullptr;
            std::size_t n = 0;
            std::vector<std::uint8_t> array;
            if (drain == Drain::GetSerialData) {
                jbyteArray a = Java_Halvix_getSerialData(jni->env(), nullptr);
                if (a == nullptr) {
                    ++emptyCalls;
                    continue;
                }
                array = jni->bytes(a);
                data = array.data();
                n = array.size();
                // The fake VM keeps every array it made; start a fresh one
                // now and then, as a real VM's collector would free them.
                if (++arraysInVm == 100000) {
                    jni = std::make_unique<FakeJni>();
                    arraysInVm = 0;
                }
            } else {
                halvix::SerialRing& ring = halvix::serialRing();
                n = halvix::queuedBytes(ring);
                if (n == 0) {
                    ++emptyCalls;
                    std::this_thread::yield();
                    continue;
                }
                halvix::takeBytes(ring, buffer.data(), static_cast<std::uint32_t>(n));
                data = buffer.data();
            }
            for (std::size_t k = 0; k < n; ++k) wrong += data[k] != streamByte(got + k);
            got += n;
            delivered.store(got / payloadSize, std::memory_order_release);
        }
        seconds = secondsSince(start);
        quit.store(true);
        feeder.join();
    }
    closePort(*jni);

    const std::uint64_t lost = got < bytes ? bytes - got : 0;
    state.counters["reports"] = static_cast<double>(reports);
    state.counters["reports_per_s"] = static_cast<double>(got / payloadSize) / seconds;
    state.counters["lost_bytes"] = static_cast<double>(lost + (got > bytes ? got - bytes : 0));
    state.counters["wrong_bytes"] = static_cast<double>(wrong);
    state.counters["calls"] = static_cast<double>(calls);
    state.counters["empty_calls"] = static_cast<double>(emptyCalls);
    state.counters["seconds"] = seconds;
}

void endToEndGetSerialData(benchmark::State& state) {
    endToEnd(state, Drain::GetSerialData, std::chrono::nanoseconds(0), quickRun() ? 20000 : 1000000);
}

void endToEndRingDirect(benchmark::State& state) {
    endToEnd(state, Drain::RingDirect, std::chrono::nanoseconds(0), quickRun() ? 20000 : 1000000);
}

// A pad at the high-speed limit: one report every 125 microseconds.
void endToEndAtUsbLimit(benchmark::State& state) {
    endToEnd(state, Drain::GetSerialData, std::chrono::microseconds(125), quickRun() ? 800 : 16000);
}

// --- idle ---------------------------------------------------------------------

std::set<int> threadIds() {
    std::set<int> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ids.insert(std::atoi(entry->d_name));
        }
        closedir(dir);
    }
    return ids;
}

struct ThreadCost {
    long voluntary = -1;
    long involuntary = -1;
    long ticks = -1;         // utime + stime from stat, in clock ticks
    long long runNs = -1;    // time on a processor from schedstat, where the kernel has it
};

ThreadCost costOf(int tid) {
    ThreadCost c;
    const std::string dir = "/proc/self/task/" + std::to_string(tid) + "/";
    std::ifstream status(dir + "status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) c.voluntary = std::stol(line.substr(24));
        if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) c.involuntary = std::stol(line.substr(27));
    }
    std::ifstream statFile(dir + "stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const std::size_t paren = stat.rfind(')');
    if (paren != std::string::npos) {
        // Fields after the command name start with field 3 (state); utime
        // and stime are fields 14 and 15.
        std::istringstream fields(stat.substr(paren + 2));
        std::string field;
        long utime = 0;
        long stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::stol(field);
            if (i == 15) stime = std::stol(field);
        }
        c.ticks = utime + stime;
    }
    std::ifstream schedstat(dir + "schedstat");
    long long run = 0;
    if (schedstat >> run) c.runNs = run;
    return c;
}

enum class Channel { Hid, Legacy };

// Opens a port on a silent pad, finds its reader thread as the one thread
// the open added, and reads that thread's counters before and after a quiet
// spell during which the caller polls for data the way a Java loop does.
void idleReader(benchmark::State& state, Channel channel) {
    FakeJni jni;
    const char* port = "HID1";
    if (channel == Channel::Hid) {
        onlySilentHidPad();
    } else {
        vbus::clearPopulation();
        vbus::addLegacyDevice({});
        port = "USB1";
    }
    const auto quiet = std::chrono::milliseconds(quickRun() ? 200 : 2000);
    ThreadCost before;
    ThreadCost after;
    long polls = 0;
    for (auto _ : state) {
        const std::set<int> threadsBefore = threadIds();
        if (!openPort(jni, port)) {
            state.SkipWithError("the port did not open");
            return;
        }
        std::vector<int> added;
        for (int id : threadIds()) {
            if (threadsBefore.count(id) == 0) added.push_back(id);
        }
        if (added.size() != 1) {
            closePort(jni);
            state.SkipWithError("the open did not add exactly one thread");
            return;
        }
        // Let the reader settle into its wait before the quiet spell counts.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        before = costOf(added[0]);
        const Clock::time_point end = Clock::now() + quiet;
        while (Clock::now() < end) {
            if (channel == Channel::Hid) {
                benchmark::DoNotOptimize(Java_Halvix_getSerialData(jni.env(), nullptr));
            } else {
                benchmark::DoNotOptimize(Java_Halvix_getPointData(jni.env(), nullptr));
            }
            ++polls;
        }
        after = costOf(added[0]);
        closePort(jni);
    }
    state.counters["seconds"] = std::chrono::duration<double>(quiet).count();
    state.counters["caller_polls"] = static_cast<double>(polls);
    state.counters["voluntary_switches"] = static_cast<double>(after.voluntary - before.voluntary);
    state.counters["involuntary_switches"] = static_cast<double>(after.involuntary - before.involuntary);
    state.counters["cpu_ms_stat"] = 1000.0 * static_cast<double>(after.ticks - before.ticks) /
                                    static_cast<double>(sysconf(_SC_CLK_TCK));
    state.counters["cpu_us_schedstat"] =
        before.runNs < 0 || after.runNs < 0 ? -1.0 : static_cast<double>(after.runNs - before.runNs) / 1e3;
}

void idleHidReader(benchmark::State& state) { idleReader(state, Channel::Hid); }
void idleLegacyReader(benchmark::State& state) { idleReader(state, Channel::Legacy); }

// --- close latency --------------------------------------------------------------

// Opens and closes the port `closes` times and times each close. With data
// flowing, a HID pad sends at the high-speed limit throughout and the legacy
// pad is the streaming one (a record every 5 ms); silent pads send nothing.
void closeLatency(benchmark::State& state, Channel channel, bool flowing) {
    FakeJni jni;
    const int closes = quickRun() ? 10 : 100;
    const char* port = channel == Channel::Hid ? "HID1" : "USB1";
    vbus::DeviceId pad = 0;
    if (channel == Channel::Hid) {
        pad = onlySilentHidPad();
    } else {
        vbus::clearPopulation();
        pad = flowing ? vbus::addStreamingLegacyPad() : vbus::addLegacyDevice({});
    }
    std::atomic<bool> quit{false};
    std::thread feeder;
    if (channel == Channel::Hid && flowing) {
        feeder = std::thread([&] {
            Clock::time_point due = Clock::now();
            for (std::uint64_t i = 0; !quit.load(std::memory_order_relaxed); ++i) {
                due += std::chrono::microseconds(125);
                std::this_thread::sleep_until(due);
                vbus::pushInputReport(pad, reportAt(i));
            }
        });
    }
    std::vector<double> ms;
    for (auto _ : state) {
        for (int i = 0; i < closes; ++i) {
            if (!openPort(jni, port)) break;
            // A port is open a while before it is closed; the reader is then
            // in its wait or its read, not still starting.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const Clock::time_point start = Clock::now();
            closePort(jni);
            ms.push_back(1000.0 * secondsSince(start));
        }
    }
    quit.store(true);
    if (feeder.joinable()) feeder.join();
    if (static_cast<int>(ms.size()) != closes) {
        state.SkipWithError("a port did not open");
        return;
    }
    if (!vbus::waitForThreadsToEnd(1000)) state.SkipWithError("a reader thread outlived its close");
    std::sort(ms.begin(), ms.end());
    state.counters["closes"] = closes;
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["worst_ms"] = ms.back();
}

void closeHidSilent(benchmark::State& state) { closeLatency(state, Channel::Hid, false); }
void closeHidFlowing(benchmark::State& state) { closeLatency(state, Channel::Hid, true); }
void closeLegacySilent(benchmark::State& state) { closeLatency(state, Channel::Legacy, false); }
void closeLegacyFlowing(benchmark::State& state) { closeLatency(state, Channel::Legacy, true); }

}  // namespace

BENCHMARK(endToEndGetSerialData)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK(endToEndRingDirect)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK(endToEndAtUsbLimit)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK(idleHidReader)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK(idleLegacyReader)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK(closeHidSilent)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK(closeHidFlowing)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK(closeLegacySilent)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK(closeLegacyFlowing)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
