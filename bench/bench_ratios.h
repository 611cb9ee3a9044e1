// Ratios between benchmarks of one run, printed at the end as "name: R" lines so that a script
// can read them. A benchmark file registers the pairs it cares about at static-init time.
#pragma once

#include <string>

namespace bench {

// After the run, prints "<name>: <time(numerator) / time(denominator)>" (real time per
// iteration). Both are benchmark names as Google Benchmark reports them.
struct Ratio {
    Ratio(const std::string& name, const std::string& numerator, const std::string& denominator);
};

// Prints "<name>: <value>" after the ratios (for figures measured outside Google Benchmark).
void ReportFigure(const std::string& name, double value);

} // namespace bench
