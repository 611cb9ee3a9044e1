// The overview's sheet of 64 regions, the most it shows: every tile painted from its bytes and
// captioned, as the window paints it when the scan ends and the batch tool for --sheet. The
// regions are generated: widths 1 to 64 bytes in all four layouts over a pseudo-random megabyte,
// so that every tile is full. Printed as overview-64-regions-ms (the median of 21 sheets) and
// against a plain copy of the canvas picture.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "bench/bench_data.h"
#include "bench/bench_ratios.h"
#include "viewer/overview.h"

namespace {

std::vector<viewer::GraphicsRegion> Regions(int64_t size) {
    std::vector<viewer::GraphicsRegion> regions;
    for (int i = 0; i < viewer::MaxTiles; ++i) {
        viewer::GraphicsRegion r;
        r.width = i + 1;
        r.layout = {static_cast<viewer::LayoutKind>(i % 4), 1 + i % viewer::MaxColumnBytes};
        r.first = int64_t{i} * (size / viewer::MaxTiles);
        r.length = size / viewer::MaxTiles;
        r.score = 1.0 - i / 100.0;
        regions.push_back(r);
    }
    return regions;
}

void BM_OverviewSheet64(benchmark::State& state) {
    const std::vector<uint8_t> bytes = bench::SampleFile();
    const int64_t size = static_cast<int64_t>(bytes.size());
    const std::vector<viewer::GraphicsRegion> regions = Regions(size);
    const auto paint = [&] {
        viewer::Sheet sheet =
            viewer::PaintSheet(bytes.data(), size, regions, viewer::SheetColumns, "");
        benchmark::DoNotOptimize(sheet.memory.data());
    };
    for (auto _ : state) paint();

    static bool reported = false;
    if (reported) return;
    reported = true;
    std::vector<double> ms;
    for (int run = 0; run < 21; ++run) {
        const auto start = std::chrono::steady_clock::now();
        paint();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::nth_element(ms.begin(), ms.begin() + 10, ms.end());
    bench::ReportFigure("overview-64-regions-ms", ms[10]);
}
BENCHMARK(BM_OverviewSheet64)->Unit(benchmark::kMicrosecond);

const bench::Ratio sheet("overview-64-regions-vs-memcpy", "BM_OverviewSheet64", "BM_MemcpyCanvas");

} // namespace
