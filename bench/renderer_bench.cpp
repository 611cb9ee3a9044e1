// RedrawView against the floor of a plain copy of the canvas picture (BM_MemcpyCanvas in
// drawing_bench.cpp), and against the literal one-box-per-bit repaint the tests use as oracle.
//
// The worst case is multi columns at zoom 1 with a sprite width of 1: 80 columns of 481 one-byte
// rows fill the canvas with 307,840 one-pixel boxes. Each other layout has its worst case too:
// multi columns at zoom 1 with the narrowest strip, W = 1 for rows-lsb and W = K for the column
// layouts (641 columns of strips one pixel wide). The typical views have multi columns and the
// grid on, with a file loaded, for sprite widths 1, 2, 8, 32 at zooms 1, 2, 8.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "bench/bench_ratios.h"
#include "tests/support/literal_renderer.h"
#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

namespace {

struct View {
    int32_t spriteWidth = 1;
    int32_t zoom = 1;
    bool grid = false;
    viewer::PixelLayout layout;
};

void RunRedraw(benchmark::State& benchState, const View& view, void (*redraw)()) {
    pmtest::ViewerSession session;
    if (!session.ok()) {
        benchState.SkipWithError("cannot build the viewer on the headless backend");
        return;
    }
    session.LoadBytes(bench::SampleFile());
    tk::SetControlState(viewer::WidthScroller, view.spriteWidth);
    tk::SetControlState(viewer::MultiColumnsCheck, 1);
    tk::SetControlState(viewer::GridCheck, view.grid ? 1 : 0);
    viewer::state.zoom = view.zoom;
    viewer::state.layout = view.layout;
    viewer::state.selection = {100, 100, 300, 200};
    for (auto _ : benchState) {
        redraw();
        benchmark::ClobberMemory();
    }
}

void BM_RedrawWorst(benchmark::State& state) {
    RunRedraw(state, {1, 1, false, {}}, viewer::RedrawView);
}
BENCHMARK(BM_RedrawWorst)->Unit(benchmark::kMicrosecond);

void BM_LiteralRedrawWorst(benchmark::State& state) {
    RunRedraw(state, {1, 1, false, {}}, pmtest::LiteralRedrawView);
}
BENCHMARK(BM_LiteralRedrawWorst)->Unit(benchmark::kMicrosecond);

const bench::Ratio worst("redraw-worst-vs-memcpy", "BM_RedrawWorst", "BM_MemcpyCanvas");
const bench::Ratio literal("literal-vs-redraw-worst", "BM_LiteralRedrawWorst", "BM_RedrawWorst");

// The worst view of every other layout: BM_RedrawWorst_columns:3 and its ratio
// redraw-worst-vs-memcpy-columns:3.
const bool worstLayouts = [] {
    static std::vector<bench::Ratio> ratios;
    using viewer::LayoutKind;
    for (LayoutKind kind : {LayoutKind::RowsLsb, LayoutKind::Columns, LayoutKind::ColumnsMsb}) {
        for (int32_t k = 1; k <= (viewer::IsColumnLayout(kind) ? viewer::MaxColumnBytes : 1); ++k) {
            const View view{viewer::IsColumnLayout(kind) ? k : 1, 1, false, {kind, k}};
            const std::string layout = viewer::LayoutName(view.layout);
            const std::string name = "BM_RedrawWorst_" + layout;
            benchmark::RegisterBenchmark(name.c_str(), [view](benchmark::State& state) {
                RunRedraw(state, view, viewer::RedrawView);
            })->Unit(benchmark::kMicrosecond);
            ratios.emplace_back("redraw-worst-vs-memcpy-" + layout, name, "BM_MemcpyCanvas");
        }
    }
    return true;
}();

// The typical views, registered by name: BM_Redraw_w8_z2_grid and its ratio
// redraw-w8-z2-grid-vs-memcpy.
const bool typicalViews = [] {
    static std::vector<bench::Ratio> ratios;
    for (int32_t width : {1, 2, 8, 32}) {
        for (int32_t zoom : {1, 2, 8}) {
            const std::string w = std::to_string(width), z = std::to_string(zoom);
            std::string name("BM_Redraw_w");
            name.append(w).append("_z").append(z).append("_grid");
            std::string ratio("redraw-w");
            ratio.append(w).append("-z").append(z).append("-grid-vs-memcpy");
            const View view{width, zoom, true, {}};
            benchmark::RegisterBenchmark(name.c_str(), [view](benchmark::State& state) {
                RunRedraw(state, view, viewer::RedrawView);
            })->Unit(benchmark::kMicrosecond);
            ratios.emplace_back(ratio, name, "BM_MemcpyCanvas");
        }
    }
    return true;
}();

} // namespace
