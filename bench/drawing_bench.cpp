// FillBox against the floor of a plain copy of the canvas picture.
//
// BM_FillBoxPerPixel is the renderer's worst case: one one-pixel box per canvas pixel, the
// colour alternating like set and clear bits. BM_FillBoxFull is one box over the whole picture.
// BM_MemcpyCanvas copies the 1924 x 481 bytes of a 641 x 481 picture; other benchmarks use it as
// their denominator too.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/bench_ratios.h"
#include "tests/support/running_toolkit.h"
#include "toolkit/drawing.h"

namespace {

constexpr int32_t CanvasWidth = 641, CanvasHeight = 481;
constexpr int BenchImage = 4242; // an identifier no other part of the program uses

// Opens a drawing on a fresh 641 x 481 image for the length of one benchmark; images live in the
// toolkit's state, so the toolkit runs (on the null backend) as long as the drawing.
class ImageDrawing {
  public:
    explicit ImageDrawing(benchmark::State& state) {
        if (tk::NewImage(BenchImage, CanvasWidth, CanvasHeight, 24) == 0 ||
            tk::BeginDrawing(tk::ImageSurface(BenchImage)) == 0)
            state.SkipWithError("cannot open a drawing on an image");
    }
    ~ImageDrawing() {
        tk::EndDrawing();
        tk::ReleaseImage(BenchImage);
    }

  private:
    pmtest::RunningToolkit toolkit;
};

void BM_FillBoxPerPixel(benchmark::State& state) {
    ImageDrawing drawing(state);
    const tk::Colour colours[2] = {tk::MakeColour(0, 0, 0), tk::MakeColour(255, 255, 255)};
    for (auto _ : state) {
        for (int32_t y = 0; y < CanvasHeight; ++y)
            for (int32_t x = 0; x < CanvasWidth; ++x) tk::FillBox(x, y, 1, 1, colours[(x ^ y) & 1]);
        benchmark::DoNotOptimize(tk::CurrentDrawingPixels()->bits);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * CanvasWidth * CanvasHeight);
}
BENCHMARK(BM_FillBoxPerPixel)->Unit(benchmark::kMicrosecond);

void BM_FillBoxFull(benchmark::State& state) {
    ImageDrawing drawing(state);
    const tk::Colour colours[2] = {tk::MakeColour(127, 0, 255), tk::MakeColour(0, 255, 127)};
    int turn = 0;
    for (auto _ : state) {
        tk::FillBox(0, 0, CanvasWidth, CanvasHeight, colours[turn ^= 1]);
        benchmark::DoNotOptimize(tk::CurrentDrawingPixels()->bits);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FillBoxFull)->Unit(benchmark::kMicrosecond);

void BM_MemcpyCanvas(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(tk::StrideFor(CanvasWidth, 24)) * CanvasHeight;
    std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_MemcpyCanvas)->Unit(benchmark::kMicrosecond);

const bench::Ratio perPixel("fillbox-per-pixel-vs-memcpy", "BM_FillBoxPerPixel", "BM_MemcpyCanvas");
const bench::Ratio full("fillbox-full-vs-memcpy", "BM_FillBoxFull", "BM_MemcpyCanvas");

} // namespace
