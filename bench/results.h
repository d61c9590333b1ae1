// What the benchmark run measured, kept by benchmark name, and the rows of
// the one summary table the run ends with. Rows are tab-separated so that the
// JVM driver's rows can join them into the same table.
#pragma once

#include <map>
#include <string>

namespace halvix::bench {

// The counters of one benchmark (median of its repetitions where repeated).
using Counters = std::map<std::string, double>;

void recordRun(const std::string& name, const Counters& counters, bool isMedian);

// The counters recorded for `name`, or null if it did not run.
const Counters* countersOf(const std::string& name);

// One table row: what was measured, its figure, what it is set against, the
// ratio of the two, the goal, and whether the goal was met.
void printRow(const std::string& item, const std::string& figure, const std::string& reference,
              double ratio, const std::string& goal, bool met);

// Formats a number with `digits` significant digits and an SI suffix (k, M, G).
std::string si(double value, const std::string& unit);

// Whether the run is a short smoke pass (HALVIX_BENCH_QUICK set).
bool quickRun();

}  // namespace halvix::bench
