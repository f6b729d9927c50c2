#include "ratio_report.h"

#include <cstdio>

namespace kxbench {
namespace {

// Keeps each run's time per iteration and throughput while printing as usual.
class CollectingReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) {
                continue;
            }
            auto& entry = results[run.benchmark_name()];
            entry.nsPerIteration = run.GetAdjustedRealTime();
            auto items = run.counters.find("items_per_second");
            entry.itemsPerSecond = items == run.counters.end() ? 0.0 : double(items->second);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    struct Result {
        double nsPerIteration = 0;
        double itemsPerSecond = 0;
    };
    std::map<std::string, Result> results;
};

} // namespace

int runAndReport(int argc, char** argv, const std::vector<Ratio>& ratios)
{
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    int failures = 0;
    std::printf("\n%-58s %10s %10s  %s\n", "ratio", "value", "target", "");
    for (const auto& ratio : ratios) {
        auto measured = reporter.results.find(ratio.measured);
        auto baseline = reporter.results.find(ratio.baseline);
        if (measured == reporter.results.end() || baseline == reporter.results.end()) {
            continue;
        }
        double value = ratio.throughput
            ? measured->second.itemsPerSecond / baseline->second.itemsPerSecond
            : measured->second.nsPerIteration / baseline->second.nsPerIteration;
        bool ok = ratio.throughput ? value >= ratio.target : value <= ratio.target;
        failures += ok ? 0 : 1;
        std::printf("%-58s %10.3f %9s%.2f  %s\n", ratio.label.c_str(), value, ratio.throughput ? ">=" : "<=",
            ratio.target, ok ? "ok" : "MISSED");
    }
    return failures == 0 ? 0 : 1;
}

} // namespace kxbench
