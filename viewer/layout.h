// The pixel layouts: how the W bytes of one strip of the view (what one row of W bytes shows)
// become pixels. Strips stand below each other, W bytes a strip, whatever the layout.
//
//   rows         the strip is 8W x 1: pixel x is bit 7 - (x mod 8) of byte x div 8
//   rows-lsb     the strip is 8W x 1: pixel x is bit x mod 8 of byte x div 8
//   columns      every K bytes are one pixel column 8K high, the first byte on top, bit 0 the top
//                pixel of its byte: the strip is ceil(W / K) x 8K, pixel (x, y) is bit y mod 8 of
//                byte x K + y div 8; a last column of fewer than K bytes shows the bytes it has
//   columns-msb  as columns, bit 7 the top pixel: bit 7 - (y mod 8)
//
// Pure: no toolkit calls and no global state. The renderer, the tests and the tools all take the
// geometry and the names from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace viewer {

enum class LayoutKind : int32_t { Rows, RowsLsb, Columns, ColumnsMsb };

constexpr int32_t MaxColumnBytes = 4;

struct PixelLayout {
    LayoutKind kind = LayoutKind::Rows;
    int32_t columnBytes = 1; // K, 1..MaxColumnBytes; only the column layouts use it
    bool operator==(const PixelLayout&) const = default;
};

bool IsColumnLayout(LayoutKind kind);
// K, kept within 1..MaxColumnBytes.
int32_t ColumnBytes(const PixelLayout& layout);

// The strip of W bytes in pixels. Widths below 1 give an empty strip.
int64_t StripPixelWidth(const PixelLayout& layout, int64_t width);
int64_t StripPixelHeight(const PixelLayout& layout);

// Which byte of the strip (counted from 0) and which bit of it (0 = the lowest) pixel (x, y) of a
// strip of W bytes shows; byte -1 where no byte shows (outside the strip, or below the bytes of
// a short last column).
struct StripBit {
    int64_t byte = -1;
    int bit = 0;
};
StripBit StripPixelSource(const PixelLayout& layout, int64_t width, int64_t x, int64_t y);

// Names as the title and the batch tool spell them: "rows", "rows-lsb", "columns",
// "columns-msb"; a column layout with K above 1 adds ":" and K ("columns:3").
const char* LayoutKindName(LayoutKind kind);
std::string LayoutName(const PixelLayout& layout);
// The kind of a bare name; false for anything else.
bool ParseLayoutKind(std::string_view name, LayoutKind& kind);
// A name as LayoutName writes it (a column layout may also say ":1"); false for anything else,
// a K outside 1..MaxColumnBytes, or a K after a row layout.
bool ParseLayout(std::string_view name, PixelLayout& layout);

} // namespace viewer
