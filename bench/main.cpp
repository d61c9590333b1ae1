// The benchmark program: runs every benchmark through Google Benchmark,
// keeps their figures, and prints the summary table rows, each figure beside
// the reference it is judged against. Google Benchmark's own report goes to
// standard error (or a file with --benchmark_out=); the rows go to standard
// output.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "results.h"

using namespace halvix::bench;

namespace {

// Shows Google Benchmark's usual console report while recording each run.
class Collector : public benchmark::ConsoleReporter {
public:
    Collector() : benchmark::ConsoleReporter(OO_None) { SetOutputStream(&std::cerr); SetErrorStream(&std::cerr); }

    void ReportRuns(const std::vector<Run>& runs) override {
        benchmark::ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                failed_.push_back(run.benchmark_name() + ": " + run.error_message);
                continue;
            }
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate && run.aggregate_name != "median") continue;
            Counters counters;
            for (const auto& c : run.counters) counters[c.first] = c.second.value;
            recordRun(run.run_name.function_name, counters, aggregate);
        }
    }

    const std::vector<std::string>& failed() const { return failed_; }

private:
    std::vector<std::string> failed_;
};

double counter(const std::string& benchmark, const std::string& name) {
    const Counters* c = countersOf(benchmark);
    if (c == nullptr) return 0;
    auto it = c->find(name);
    return it == c->end() ? 0 : it->second;
}

bool ran(const std::string& benchmark) { return countersOf(benchmark) != nullptr; }

double ratio(double a, double b) { return b == 0 ? 0 : a / b; }

void queueRows() {
    struct Pair {
        const char* item;
        const char* ours;
        const char* peer;
        const char* peerName;
        const char* counterName;
        const char* unit;
    };
    const Pair pairs[] = {
        {"1 serial ring, 1 thread alternating", "ringAlternating", "peerBytesAlternating",
         "spsc_queue<uint8_t>", "bytes_per_second", "B/s"},
        {"1 serial ring, producer + consumer thread", "ringTwoThreads", "peerBytesTwoThreads",
         "spsc_queue<uint8_t>", "bytes_per_second", "B/s"},
        {"2 point queue, 1 thread push/take pairs", "pointsAlternating", "peerPointsAlternating",
         "spsc_queue<int32_t>", "items_per_second", "pairs/s"},
        {"2 point queue, producer + consumer thread", "pointsTwoThreads", "peerPointsTwoThreads",
         "spsc_queue<int32_t>", "items_per_second", "points/s"},
    };
    for (const Pair& p : pairs) {
        if (!ran(p.ours) || !ran(p.peer)) continue;
        const double ours = counter(p.ours, p.counterName);
        const double peer = counter(p.peer, p.counterName);
        const double r = ratio(ours, peer);
        printRow(p.item, si(ours, p.unit), std::string(p.peerName) + " " + si(peer, p.unit), r, ">= 1", r >= 1.0);
    }
    if (ran("ringAlternating") && ran("memcpyAlternating")) {
        const double ours = counter("ringAlternating", "bytes_per_second");
        const double ceiling = counter("memcpyAlternating", "bytes_per_second");
        printRow("1 serial ring, 1 thread, against memcpy", si(ours, "B/s"), "memcpy " + si(ceiling, "B/s"),
                 ratio(ours, ceiling), "", false);
        if (ran("ringTwoThreads")) {
            const double two = counter("ringTwoThreads", "bytes_per_second");
            printRow("1 serial ring, 2 threads, against memcpy", si(two, "B/s"), "memcpy " + si(ceiling, "B/s"),
                     ratio(two, ceiling), "", false);
        }
    }
}

// Set when a benchmark's own check failed: the run then ends non-zero.
bool checksFailed = false;

void endToEndRows() {
    constexpr double usbLimit = 8000;
    struct Case {
        const char* item;
        const char* name;
    };
    const Case cases[] = {
        {"3 pad -> reader -> ring -> getSerialData", "endToEndGetSerialData"},
        {"3 pad -> reader -> ring (drained directly)", "endToEndRingDirect"},
        {"3 pad paced at 8000 reports/s -> getSerialData", "endToEndAtUsbLimit"},
    };
    for (const Case& c : cases) {
        if (!ran(c.name)) continue;
        const double rate = counter(c.name, "reports_per_s");
        const double lost = counter(c.name, "lost_bytes") + counter(c.name, "wrong_bytes");
        char figure[160];
        std::snprintf(figure, sizeof figure, "%s; %.0f reports, %.0f B lost/wrong, %.0f drain calls",
                      si(rate, "reports/s").c_str(), counter(c.name, "reports"), lost, counter(c.name, "calls"));
        // The unpaced runs keep fewer reports in flight than the ring holds,
        // and the paced one sends far below what it drains: a lost byte is a fault.
        if (lost != 0) checksFailed = true;
        const bool paced = std::string(c.name) == "endToEndAtUsbLimit";
        const double r = ratio(rate, usbLimit);
        printRow(c.item, figure, "USB high speed 8000 reports/s", r, paced ? "no loss" : ">= 100, no loss",
                 lost == 0 && (paced || r >= 100));
    }
}

void idleRows() {
    const struct {
        const char* item;
        const char* name;
    } cases[] = {
        {"4 idle HID reader, silent pad, caller polling", "idleHidReader"},
        {"4 idle legacy reader, silent pad, caller polling", "idleLegacyReader"},
    };
    for (const auto& c : cases) {
        if (!ran(c.name)) continue;
        const double wakes = counter(c.name, "voluntary_switches") + counter(c.name, "involuntary_switches");
        char figure[200];
        std::snprintf(figure, sizeof figure,
                      "%.0f voluntary + %.0f involuntary switches, CPU %.0f ms (stat) %.0f us (schedstat)",
                      counter(c.name, "voluntary_switches"), counter(c.name, "involuntary_switches"),
                      counter(c.name, "cpu_ms_stat"), counter(c.name, "cpu_us_schedstat"));
        char reference[80];
        std::snprintf(reference, sizeof reference, "%.1f s silent, %.0f polls", counter(c.name, "seconds"),
                      counter(c.name, "caller_polls"));
        printRow(c.item, figure, reference, wakes / counter(c.name, "seconds"), "0 wake-ups", wakes == 0);
    }
}

void closeRows() {
    const struct {
        const char* item;
        const char* name;
        double pollMs;
    } cases[] = {
        {"5 close HID, silent pad", "closeHidSilent", 10},
        {"5 close HID, 8000 reports/s flowing", "closeHidFlowing", 10},
        {"5 close legacy, silent pad", "closeLegacySilent", 100},
        {"5 close legacy, streaming pad", "closeLegacyFlowing", 100},
    };
    for (const auto& c : cases) {
        if (!ran(c.name)) continue;
        const double median = counter(c.name, "median_ms");
        const double worst = counter(c.name, "worst_ms");
        char figure[120];
        std::snprintf(figure, sizeof figure, "median %.3f ms, worst %.3f ms of %.0f", median, worst,
                      counter(c.name, "closes"));
        char reference[40];
        std::snprintf(reference, sizeof reference, "poll period %.0f ms", c.pollMs);
        char goal[40];
        std::snprintf(goal, sizeof goal, "worst <= %.0f ms", c.pollMs + 5);
        printRow(c.item, figure, reference, worst / c.pollMs, goal, worst <= c.pollMs + 5);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    queueRows();
    endToEndRows();
    idleRows();
    closeRows();
    for (const std::string& f : collector.failed()) std::fprintf(stderr, "FAILED %s\n", f.c_str());
    return collector.failed().empty() && !checksFailed ? 0 : 1;
}
