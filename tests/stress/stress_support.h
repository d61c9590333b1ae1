// What the stress suite shares: the run's scale, the figures it prints at the
// end, threads and their processor time as /proc shows them, and a consumer
// thread that drains getSerialData through its own fake VM.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace halvix::stress {

using Clock = std::chrono::steady_clock;

// Milliseconds since `start`.
inline double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Iteration counts are multiplied by this (HALVIX_STRESS_SCALE, default 1).
double scale();
std::size_t scaled(std::size_t count);

// One row of the closing table: a name and its figures as text.
void addFigure(const std::string& row, const std::string& figures);
void printFigures();

// The process's threads as /proc/self/task lists them.
std::set<pid_t> taskIds();
std::size_t taskCount();
// Waits up to `ms` for the thread count to come back to `count`.
bool taskCountBackTo(std::size_t count, unsigned ms);

// Processor time thread `tid` of this process has used, in microseconds.
double threadCpuMicroseconds(pid_t tid);

// Opens a port by name and returns the thread the open started (the one task
// that was not there before), or 0.
pid_t openAndFindReader(const std::function<bool()>& open);

// Drains getSerialData on its own thread until stopped, handing each array's
// bytes to `sink` (on that thread). `stall`, if set, is called before each
// call and may sleep to let the ring fill.
class SerialConsumer {
public:
    using Sink = std::function<void(const std::uint8_t*, std::size_t)>;
    explicit SerialConsumer(Sink sink, std::function<void()> stall = {});
    ~SerialConsumer();
    SerialConsumer(const SerialConsumer&) = delete;
    SerialConsumer& operator=(const SerialConsumer&) = delete;

    // Stops once a call has found the ring empty after `stop` was asked.
    void stop();
    std::uint64_t bytes() const { return bytes_.load(); }
    std::uint64_t calls() const { return calls_.load(); }

private:
    void run();
    Sink sink_;
    std::function<void()> stall_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<std::uint64_t> calls_{0};
    std::thread thread_;
};

// A small deterministic generator, so producer and checker agree on a stream.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(next() % bound); }

private:
    std::uint64_t state_;
};

}  // namespace halvix::stress
