// The graphics finder on the project's sample: the time a person waits for F3 on a small file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "viewer/finder.h"

namespace {

std::vector<uint8_t> Sample() {
    const std::string here = __FILE__;
    const std::string path = here.substr(0, here.rfind("/bench/")) + "/samples/sprites.bin";
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

void BM_FindSample(benchmark::State& state) {
    const std::vector<uint8_t> bytes = Sample();
    if (bytes.empty()) {
        state.SkipWithError("cannot read samples/sprites.bin");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(viewer::FindGraphics(bytes.data(), int64_t(bytes.size())));
    state.SetBytesProcessed(state.iterations() * int64_t(bytes.size()));
}
BENCHMARK(BM_FindSample)->Unit(benchmark::kMicrosecond);

} // namespace
