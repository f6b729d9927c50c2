#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace kxbench {

// A ratio the benchmark run reports: measured / baseline, compared with a target.
struct Ratio {
    std::string label;
    std::string measured;  // benchmark name
    std::string baseline;  // benchmark name
    double target;         // the ratio must not exceed this; use inverse for throughput
    bool throughput;       // true: compare items per second, measured / baseline >= target
};

// Runs every registered benchmark, then prints one table of the ratios.
// Returns 0 when every ratio met its target, 1 otherwise.
int runAndReport(int argc, char** argv, const std::vector<Ratio>& ratios);

} // namespace kxbench
