// Where one-bit graphics lie in a block of bytes, and how wide their rows are.
//
// Pure: bytes in, regions out. No toolkit calls and no global state, so the window (on a worker
// thread), the batch tool and the tests share it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "viewer/layout.h"

namespace viewer {

// Widths the finder considers, in bytes per pixel row.
constexpr int32_t MinFindWidth = 1;
constexpr int32_t MaxFindWidth = 64;

struct GraphicsRegion {
    int64_t first = 0;  // offset of the region's first byte
    int64_t length = 0; // bytes
    int32_t width = 0;  // bytes per pixel row (the row stride), MinFindWidth..MaxFindWidth
    double score = 0;   // confidence in 0..1
    PixelLayout layout; // how the region's bytes become pixels
};

// Called now and then from the scanning thread with the bytes scanned so far and the total;
// returning false stops the scan, which then returns no regions.
using FindProgress = std::function<bool(int64_t done, int64_t total)>;

// The regions of bytes[0, size) that hold one-bit graphics, best first (highest score first).
// Only regions the finder is confident about are reported.
std::vector<GraphicsRegion> FindGraphics(const uint8_t* bytes, int64_t size,
                                         const FindProgress& progress = {});

// The layout and width that best fit the bytes from `bytes` on (it looks at a bounded stretch, at
// most `size` bytes); width 0 when none fits. The glyphs of a font in pixel columns start `skip`
// bytes on (less than the width).
struct LayoutGuess {
    int32_t width = 0;
    PixelLayout layout;
    int32_t skip = 0;
};
LayoutGuess GuessLayoutAndWidth(const uint8_t* bytes, int64_t size);

} // namespace viewer
