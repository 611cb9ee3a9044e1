// Runs every registered benchmark, then prints the registered ratios from this one run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_ratios.h"

namespace bench {
namespace {

struct RatioLine {
    std::string name, numerator, denominator;
};

std::vector<RatioLine>& Ratios() {
    static std::vector<RatioLine> ratios;
    return ratios;
}

std::vector<std::pair<std::string, double>>& Figures() {
    static std::vector<std::pair<std::string, double>> figures;
    return figures;
}

// Keeps the console output and remembers the time per iteration of every benchmark.
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    // No colour codes: the ratio lines that follow must start at the beginning of a line.
    CollectingReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // A benchmark that reported an error has no time to give a ratio.
            // With --benchmark_repetitions the fastest repetition counts: the one the rest of
            // the machine disturbed least.
            if (run.run_type != Run::RT_Iteration || run.iterations <= 0 || run.error_occurred)
                continue;
            const auto [at, first] =
                seconds.emplace(run.benchmark_name(), run.GetAdjustedRealTime());
            if (!first) at->second = std::min(at->second, run.GetAdjustedRealTime());
        }
    }
    std::map<std::string, double> seconds;
};

} // namespace

Ratio::Ratio(const std::string& name, const std::string& numerator,
             const std::string& denominator) {
    Ratios().push_back({name, numerator, denominator});
}

void ReportFigure(const std::string& name, double value) {
    Figures().push_back({name, value});
}

} // namespace bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    bench::CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const auto& ratio : bench::Ratios()) {
        auto n = reporter.seconds.find(ratio.numerator);
        auto d = reporter.seconds.find(ratio.denominator);
        if (n == reporter.seconds.end() || d == reporter.seconds.end() || d->second <= 0) continue;
        std::printf("%s: %.3f\n", ratio.name.c_str(), n->second / d->second);
    }
    for (const auto& figure : bench::Figures())
        std::printf("%s: %.3f\n", figure.first.c_str(), figure.second);
    return 0;
}
