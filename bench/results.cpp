#include "results.h"

#include <cstdio>
#include <cstdlib>

namespace halvix::bench {

namespace {

struct Recorded {
    Counters counters;
    bool isMedian = false;
};

std::map<std::string, Recorded>& recorded() {
    static std::map<std::string, Recorded> runs;
    return runs;
}

}  // namespace

void recordRun(const std::string& name, const Counters& counters, bool isMedian) {
    Recorded& r = recorded()[name];
    // A median, once there, stands for all the repetitions it was taken over.
    if (r.isMedian && !isMedian) return;
    r.counters = counters;
    r.isMedian = isMedian;
}

const Counters* countersOf(const std::string& name) {
    auto it = recorded().find(name);
    return it == recorded().end() ? nullptr : &it->second.counters;
}

void printRow(const std::string& item, const std::string& figure, const std::string& reference,
              double ratio, const std::string& goal, bool met) {
    std::printf("%s\t%s\t%s\t%.3g\t%s\t%s\n", item.c_str(), figure.c_str(), reference.c_str(),
                ratio, goal.c_str(), goal.empty() ? "" : (met ? "met" : "MISSED"));
    std::fflush(stdout);
}

std::string si(double value, const std::string& unit) {
    const char* suffix = "";
    if (value >= 1e9) {
        value /= 1e9;
        suffix = "G";
    } else if (value >= 1e6) {
        value /= 1e6;
        suffix = "M";
    } else if (value >= 1e3) {
        value /= 1e3;
        suffix = "k";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.3g %s%s", value, suffix, unit.c_str());
    return text;
}

bool quickRun() { return std::getenv("HALVIX_BENCH_QUICK") != nullptr; }

}  // namespace halvix::bench
