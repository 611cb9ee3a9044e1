// Bytes to pixels: the canvas picture, grid, selection, title and status texts.
//
// Sections: colours; what a byte position shows; pixel runs; painting the row layouts; painting
// the column layouts; planning a view; grid; RedrawView.
//
// The picture is defined as one box per pixel (FillBox at the positions of nested loops over
// columns, strips and the pixels of a strip), but RedrawView writes the sprite pixels and the
// grid straight into the picture's memory: row by row, eight pixels at a time copied from a
// prepared run, clipped once per row. Every pixel comes out as the one-box-per-pixel loops would
// leave it; the tests compare the two over thousands of random views.
#include "viewer/renderer.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"
#include "viewer/bit_rows.h"
#include "viewer/state.h"
#include "viewer/wrap32.h"

namespace viewer {
namespace {

// ---- Colours --------------------------------------------------------------------------------

const tk::Colour Black = tk::MakeColour(0, 0, 0);
const tk::Colour SelectionColour = tk::MakeColour(127, 0, 255);

// Pixel bytes in picture order: blue, green, red.
constexpr uint8_t WhitePixel[3] = {0xFF, 0xFF, 0xFF};
constexpr uint8_t BlackPixel[3] = {0x00, 0x00, 0x00};
constexpr uint8_t BluePixel[3] = {0xFF, 0x00, 0x00};
constexpr uint8_t GridPixel[3] = {0x00, 0x00, 0xFF};      // red
constexpr uint8_t MajorGridPixel[3] = {0x00, 0xFF, 0x00}; // green

// ---- What a byte position shows -------------------------------------------------------------
//
// With a file loaded, a position shows the file's byte (xor the invert mask) when it lies inside
// the buffer, and past-the-end blue otherwise: a position at or past fileSize is past the end, and
// a negative one (a negative offset, or a start position that wrapped) is drawn the same way,
// because no byte outside the buffer is ever read. With no file the value is the row coordinate
// y, and only positions at or past fileSize are blue; negative positions show y's bits.

struct ByteSource {
    const uint8_t* bytes = nullptr; // null when no file is loaded
    uint32_t readable = 0;          // positions 0 .. readable - 1 hold file bytes
    int32_t fileSize = 0;
    uint8_t invertMask = 0;
};

constexpr int BlueEntry = 256; // the run index of a past-the-end byte

// Byte sources for a view's bytes.
ByteSource SourceOf(const StripView& view) {
    ByteSource source;
    source.bytes = view.bytes;
    source.fileSize = static_cast<int32_t>(std::clamp<int64_t>(view.size, INT32_MIN, INT32_MAX));
    source.invertMask = view.invert ? 0xFF : 0x00;
    if (view.bytes != nullptr)
        source.readable = static_cast<uint32_t>(std::clamp<int64_t>(view.size, 0, UINT32_MAX));
    return source;
}

// The run index (a byte value 0..255, or BlueEntry) of the byte at pos in a row at y.
inline int RunIndex(const ByteSource& source, uint32_t pos, int32_t y) {
    if (source.bytes != nullptr)
        return pos < source.readable ? (source.bytes[pos] ^ source.invertMask) : BlueEntry;
    return static_cast<int32_t>(pos) >= source.fileSize ? BlueEntry : (y & 0xFF);
}

// ---- Pixel runs -----------------------------------------------------------------------------

// For a zoom without gaps (box size = zoom): the 8 x zoom pixels of each byte value, and of a
// past-the-end byte at index BlueEntry, as picture bytes, one run after another; bit 7 first, or
// bit 0 first when Reversed.
template <int Zoom, bool Reversed = false> const uint8_t* ByteRuns() {
    static const std::vector<uint8_t> runs = [] {
        std::vector<uint8_t> table;
        for (int entry = 0; entry <= BlueEntry; ++entry) {
            for (int i = 0; i < 8; ++i) {
                const int mask = Reversed ? 1 << i : 0x80 >> i;
                const uint8_t* pixel = entry == BlueEntry    ? BluePixel
                                       : (entry & mask) != 0 ? WhitePixel
                                                             : BlackPixel;
                for (int k = 0; k < Zoom; ++k) table.insert(table.end(), pixel, pixel + 3);
            }
        }
        return table;
    }();
    return runs.data();
}

// ---- Painting the row layouts ---------------------------------------------------------------
//
// A strip is one pixel row of W bytes, eight pixels a byte: bit 7 first, or bit 0 first.

// Where the drawn rows lie in the picture and which bytes they show. The drawn columns stand side
// by side (each is as wide as the step between them), so a drawn row is one line of byte slots:
// slot j at x = j x 8 x zoom shows byte j mod spriteWidth of column j / spriteWidth. Only slots
// that start inside the picture are kept, clipped once for all rows.
struct SpritePlan {
    uint8_t* bottomRow = nullptr; // the picture's memory, bottom row first
    bool reversed = false;        // rows-lsb: bit 0 the leftmost pixel
    int64_t width = 0, height = 0, stride = 0;
    int64_t zoom = 1, boxSize = 1;
    int64_t rows = 0;              // drawn rows that start inside the picture
    uint32_t startPos = 0;         // position of the first byte (wrapping as the viewer does)
    uint32_t bytesPerRow = 0;      // spriteWidth: how far a row moves the position
    std::vector<uint32_t> slotPos; // per slot: its position relative to the row's first byte
    int64_t wholeSlots = 0;        // leading slots whose 8 x zoom pixels all lie inside
    int64_t cutPixels = 0;         // pixels of the last slot when it is cut at the right edge
    int64_t coveredWidth = 0;      // the slots cover x = 0 .. coveredWidth - 1

    uint8_t* Row(int64_t y) const { return bottomRow + (height - 1 - y) * stride; }
};

// Lays out the sprite boxes of the one-box-per-bit loops: column k (counting from 0) starts at
// x = k x zoom x spriteWidth x 8 and takes rows x spriteWidth bytes, row r at y = r x zoom, byte
// b (from 0) of a row at x + b x 8 x zoom, bit i at + i x zoom; each box is zoom pixels square,
// 7 at zoom 8. Boxes never overlap, so the order of painting is free. Columns and rows beyond the
// picture are left out; their bytes still count towards the positions of the ones that follow.
// Pixel coordinates are computed in 64 bits; WidthScroller keeps spriteWidth within 1..256, far
// from widths where 32-bit coordinates would wrap. Returns false when no box reaches into the
// picture.
bool PlanSprites(const tk::PixelBuffer& pixels, const StripView& layout, SpritePlan& plan) {
    const int64_t zoom = layout.zoom, spriteWidth = layout.width;
    // The loops would not end for a zoom below 1; only 1, 2 and 8 are ever set.
    if (zoom < 1 || spriteWidth < 1 || layout.columnLimit < 1 || layout.lastY < 0) return false;
    const int64_t width = pixels.width, height = pixels.height;
    if (width <= 0 || height <= 0 || pixels.bits == nullptr) return false;

    const int64_t columns = (static_cast<int64_t>(layout.columnLimit) - 1) / zoom + 1;
    const int64_t rowsPerColumn = layout.lastY / zoom + 1;
    const int64_t byteSpan = 8 * zoom; // pixels per byte
    const int64_t slots = std::min(columns * spriteWidth, (width + byteSpan - 1) / byteSpan);

    plan.bottomRow = pixels.bits;
    plan.reversed = layout.layout.kind == LayoutKind::RowsLsb;
    plan.width = width;
    plan.height = height;
    plan.stride = pixels.stride;
    plan.zoom = zoom;
    plan.boxSize = zoom == 8 ? 7 : zoom;
    plan.rows = std::min(rowsPerColumn, (height - 1) / zoom + 1);
    plan.startPos = static_cast<uint32_t>(layout.startPos);
    plan.bytesPerRow = static_cast<uint32_t>(spriteWidth);
    const uint32_t columnBytes =
        static_cast<uint32_t>(rowsPerColumn) * static_cast<uint32_t>(spriteWidth);
    plan.slotPos.resize(static_cast<size_t>(slots));
    for (int64_t j = 0; j < slots; ++j) {
        plan.slotPos[static_cast<size_t>(j)] =
            static_cast<uint32_t>(j / spriteWidth) * columnBytes +
            static_cast<uint32_t>(j % spriteWidth);
    }
    plan.wholeSlots = std::min(slots, width / byteSpan);
    plan.cutPixels = slots > plan.wholeSlots ? width - plan.wholeSlots * byteSpan : 0;
    plan.coveredWidth = std::min(width, slots * byteSpan);
    return slots > 0;
}

// Zoom 1 and 2: each byte's 8 x zoom pixels are one copy from its run; the rows below a zoom 2
// row repeat it.
template <int Zoom, bool Reversed>
void PaintByteRuns(const SpritePlan& plan, const ByteSource& source) {
    constexpr int64_t RunBytes = 8 * Zoom * 3;
    const uint8_t* runs = ByteRuns<Zoom, Reversed>();
    // Local copies: the picture is written through uint8_t pointers, which may alias anything,
    // so fields read through references would be loaded again after every copy.
    const ByteSource from = source;
    const int64_t rows = plan.rows, height = plan.height, coveredWidth = plan.coveredWidth;
    const int64_t wholeSlots = plan.wholeSlots, cutPixels = plan.cutPixels;
    const uint32_t* const slotPos = plan.slotPos.data();
    for (int64_t r = 0; r < rows; ++r) {
        const int32_t y = static_cast<int32_t>(r * Zoom);
        uint8_t* row = plan.Row(y);
        const uint32_t rowPos = plan.startPos + static_cast<uint32_t>(r) * plan.bytesPerRow;
        uint8_t* out = row;
        for (int64_t j = 0; j < wholeSlots; ++j, out += RunBytes) {
            const int entry = RunIndex(from, rowPos + slotPos[j], y);
            std::memcpy(out, runs + entry * RunBytes, RunBytes);
        }
        if (cutPixels > 0) {
            const int entry = RunIndex(from, rowPos + slotPos[wholeSlots], y);
            std::memcpy(out, runs + entry * RunBytes, static_cast<size_t>(cutPixels * 3));
        }
        for (int64_t dy = 1; dy < Zoom && y + dy < height; ++dy)
            std::memcpy(plan.Row(y + dy), row, static_cast<size_t>(coveredWidth * 3));
    }
}

// Pixel rows of one box width in white, black and blue.
struct BoxRuns {
    std::vector<uint8_t> white, black, blue;
    explicit BoxRuns(int64_t pixels) {
        for (int64_t k = 0; k < pixels; ++k) {
            white.insert(white.end(), WhitePixel, WhitePixel + 3);
            black.insert(black.end(), BlackPixel, BlackPixel + 3);
            blue.insert(blue.end(), BluePixel, BluePixel + 3);
        }
    }
    // The run of bit 7 - i of the entry.
    const uint8_t* For(int entry, int i) const {
        return entry == BlueEntry           ? blue.data()
               : (entry & (0x80 >> i)) != 0 ? white.data()
                                            : black.data();
    }
};

// Other zooms, zoom 8 among them: box by box, each box boxSize pixels square (7 at zoom 8, so
// that the gap to the next box keeps what lies beneath).
void PaintBoxes(const SpritePlan& plan, const ByteSource& source) {
    const int64_t zoom = plan.zoom, boxSize = plan.boxSize, width = plan.width;
    const BoxRuns runs(std::min(boxSize, width));
    const int64_t slots = static_cast<int64_t>(plan.slotPos.size());
    for (int64_t r = 0; r < plan.rows; ++r) {
        const int32_t y = static_cast<int32_t>(r * zoom);
        uint8_t* row = plan.Row(y);
        const int64_t boxRows = std::min(boxSize, plan.height - y);
        const uint32_t rowPos = plan.startPos + static_cast<uint32_t>(r) * plan.bytesPerRow;
        for (int64_t j = 0; j < slots; ++j) {
            const int entry = RunIndex(source, rowPos + plan.slotPos[j], y);
            for (int i = 0; i < 8; ++i) {
                const int64_t x = (j * 8 + i) * zoom;
                if (x >= width) break;
                const uint8_t* run = runs.For(entry, plan.reversed ? 7 - i : i);
                uint8_t* box = row + x * 3;
                if (boxSize == 7 && x + 7 <= width) {
                    for (int64_t dy = 0; dy < boxRows; ++dy)
                        std::memcpy(box - dy * plan.stride, run, 7 * 3);
                    continue;
                }
                const size_t bytes = static_cast<size_t>(std::min(boxSize, width - x) * 3);
                for (int64_t dy = 0; dy < boxRows; ++dy)
                    std::memcpy(box - dy * plan.stride, run, bytes);
            }
        }
    }
}

void PaintSprites(const SpritePlan& plan, const ByteSource& source) {
    if (plan.zoom == 1)
        plan.reversed ? PaintByteRuns<1, true>(plan, source)
                      : PaintByteRuns<1, false>(plan, source);
    else if (plan.zoom == 2)
        plan.reversed ? PaintByteRuns<2, true>(plan, source)
                      : PaintByteRuns<2, false>(plan, source);
    else
        PaintBoxes(plan, source);
}

// ---- Painting the column layouts ------------------------------------------------------------
//
// A strip is ceil(W / K) pixel columns of K bytes, 8K pixel rows high. Its rows come in K bands
// of eight: band b shows byte b of every pixel column, row r of the band one bit of it (bit r, or
// bit 7 - r). The drawn columns stand side by side, so across the picture a band is one line of
// pixel columns. The bytes of eight neighbouring pixel columns are an 8 x 8 bit matrix whose
// transpose holds the band's eight pixel rows as byte values, each painted with one copy of its
// run. Eights that hold a past-the-end byte or miss one (a short last column), and every pixel
// when there is no file or the zoom leaves gaps, go box by box.

// Eight neighbouring pixel columns (fewer at the right end).
struct ColumnGroup {
    uint32_t stride = 0; // the step between their positions; 0 when uneven
    uint8_t count = 8;   // pixel columns in it
    uint8_t fewest = 0;  // the fewest bytes among them
    int64_t bytes = 0;   // picture bytes of one of its rows (cut at the picture's right edge)
};

struct ColumnPlan {
    uint8_t* bottomRow = nullptr;
    int64_t width = 0, height = 0, stride = 0;
    int64_t zoom = 1, boxSize = 1;
    bool msb = false;        // bit 7 the top pixel of a byte
    int64_t bands = 1;       // K
    int64_t strips = 0;      // strips of a column that start inside the picture
    uint32_t startPos = 0;   // position of the first byte (wrapping as the viewer does)
    uint32_t stripBytes = 0; // W: how far a strip moves the position
    // Per pixel column across the picture: its first byte relative to the strip's first byte,
    // and how many bytes it has (K, fewer in a short last column).
    std::vector<uint32_t> pixelPos;
    std::vector<uint8_t> pixelBytes;
    std::vector<ColumnGroup> groups;
    int64_t coveredWidth = 0, coveredHeight = 0;
    bool complete = true; // every pixel column has K bytes
    // The pixel columns' positions rise from left to right below 2^32 (always so for the
    // canvas), so a group lies inside the file when its first and last positions do.
    bool ordered = true;

    uint8_t* Row(int64_t y) const { return bottomRow + (height - 1 - y) * stride; }
};

// The strips a column holds: those whose last pixel row starts at or above lastY, at least one.
// With strips one pixel high these are the rows at y = 0, zoom, .. while y <= lastY.
int64_t StripsPerColumn(int64_t lastY, int64_t stripHeight, int64_t zoom) {
    if (lastY < 0) return 0;
    const int64_t below = lastY - (stripHeight - 1) * zoom;
    return below < 0 ? 1 : below / (stripHeight * zoom) + 1;
}

bool PlanColumns(const tk::PixelBuffer& pixels, const StripView& view, ColumnPlan& plan) {
    const int64_t zoom = view.zoom, width = pixels.width, height = pixels.height;
    if (zoom < 1 || view.width < 1 || view.columnLimit < 1 || view.lastY < 0) return false;
    if (width <= 0 || height <= 0 || pixels.bits == nullptr) return false;
    const int64_t k = ColumnBytes(view.layout), w = view.width;
    const int64_t stripWidth = StripPixelWidth(view.layout, w);
    const int64_t stripHeight = StripPixelHeight(view.layout);
    const int64_t columns = (int64_t{view.columnLimit} - 1) / zoom + 1;
    const int64_t perColumn = StripsPerColumn(view.lastY, stripHeight, zoom);
    const int64_t across = std::min(columns * stripWidth, (width + zoom - 1) / zoom);

    plan.bottomRow = pixels.bits;
    plan.width = width;
    plan.height = height;
    plan.stride = pixels.stride;
    plan.zoom = zoom;
    plan.boxSize = zoom == 8 ? 7 : zoom;
    plan.msb = view.layout.kind == LayoutKind::ColumnsMsb;
    plan.bands = k;
    plan.strips = std::min(perColumn, (height - 1) / (stripHeight * zoom) + 1);
    plan.startPos = static_cast<uint32_t>(view.startPos);
    plan.stripBytes = static_cast<uint32_t>(w);
    const uint64_t columnBytes = static_cast<uint64_t>(perColumn) * static_cast<uint64_t>(w);
    plan.pixelPos.resize(static_cast<size_t>(across));
    plan.pixelBytes.resize(static_cast<size_t>(across));
    for (int64_t q = 0; q < across; ++q) {
        const int64_t first = q % stripWidth * k;
        plan.pixelPos[size_t(q)] = static_cast<uint32_t>(uint64_t(q / stripWidth) * columnBytes +
                                                         static_cast<uint64_t>(first));
        plan.pixelBytes[size_t(q)] = static_cast<uint8_t>(std::min(k, w - first));
    }
    for (int64_t q = 0; q < across; q += 8) {
        ColumnGroup group;
        group.count = static_cast<uint8_t>(std::min<int64_t>(8, across - q));
        const uint32_t* pos = plan.pixelPos.data() + q;
        group.stride = group.count > 1 ? pos[1] - pos[0] : 0;
        for (int i = 2; i < group.count; ++i)
            if (pos[i] - pos[i - 1] != group.stride) group.stride = 0;
        group.fewest = *std::min_element(plan.pixelBytes.begin() + q,
                                         plan.pixelBytes.begin() + q + group.count);
        group.bytes = std::min(group.count * zoom, width - q * zoom) * 3;
        plan.groups.push_back(group);
    }
    plan.complete = w % k == 0;
    plan.ordered =
        across == 0 || double(columnBytes) * double((across - 1) / stripWidth + 1) < 4294967296.0;
    plan.coveredWidth = std::min(width, across * zoom);
    plan.coveredHeight = std::min(height, plan.strips * stripHeight * zoom);
    return across > 0 && plan.strips > 0;
}

// The band's bytes of a group of pixel columns, the first on top (missing ones 0), gathered from
// `at` on: the group's positions relative to its first are `pos`, or multiples of `stride`.
inline uint64_t GatherGroup(const uint8_t* at, const uint32_t* pos, const ColumnGroup& group) {
    const uint32_t step = group.stride;
    if (group.count == 8 && step == 1) { // neighbouring bytes, the first on top: big-endian
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = bits << 8 | at[i];
        return bits;
    }
    if (group.count == 8 && step != 0) {
        return uint64_t(at[0]) << 56 | uint64_t(at[step]) << 48 | uint64_t(at[2 * step]) << 40 |
               uint64_t(at[3 * step]) << 32 | uint64_t(at[4 * step]) << 24 |
               uint64_t(at[5 * step]) << 16 | uint64_t(at[6 * step]) << 8 | uint64_t(at[7 * step]);
    }
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | (i < group.count ? at[pos[i] - pos[0]] : 0);
    return bits;
}

// One pixel column of a band, box by box. `top` is the band's first row in the picture, `y` the
// strip's row coordinate (the value of every byte when there is no file).
void PaintColumnBoxes(const ColumnPlan& plan, const ByteSource& source, const BoxRuns& runs,
                      int64_t q, uint32_t bandPos, int64_t band, int64_t top, int32_t y) {
    if (band >= plan.pixelBytes[size_t(q)]) return; // below the bytes of a short last column
    const int64_t x = q * plan.zoom;
    const int entry = RunIndex(source, bandPos + plan.pixelPos[size_t(q)], y);
    const size_t bytes = static_cast<size_t>(std::min(plan.boxSize, plan.width - x) * 3);
    for (int r = 0; r < 8; ++r) {
        const int64_t boxTop = top + r * plan.zoom;
        if (boxTop >= plan.height) break;
        const uint8_t* run = runs.For(entry, plan.msb ? r : 7 - r);
        uint8_t* box = plan.Row(boxTop) + x * 3;
        for (int64_t dy = 0; dy < std::min(plan.boxSize, plan.height - boxTop); ++dy)
            std::memcpy(box - dy * plan.stride, run, bytes);
    }
}

// The bands that start inside the picture, strip after strip: band b of strip s is unit
// s x K + b.
struct Band {
    uint32_t pos = 0; // the position of its byte in the first pixel column
    int64_t band = 0; // which byte of a pixel column it shows
    int64_t top = 0;  // its first row in the picture
    int32_t y = 0;    // its strip's row coordinate
};

std::vector<Band> BandsOf(const ColumnPlan& plan) {
    std::vector<Band> bands;
    for (int64_t s = 0; s < plan.strips; ++s) {
        const auto y = static_cast<int32_t>(s * 8 * plan.bands * plan.zoom);
        for (int64_t b = 0; b < plan.bands && y + b * 8 * plan.zoom < plan.height; ++b)
            bands.push_back({plan.startPos + static_cast<uint32_t>(s) * plan.stripBytes +
                                 static_cast<uint32_t>(b),
                             b, y + b * 8 * plan.zoom, y});
    }
    return bands;
}

// Zoom 1 and 2 go a group of pixel columns at a time where they can; other zooms (Zoom 0) box by
// box. All bands' rows are found first, group by group down the picture (so that the bytes of
// neighbouring pixel columns are read while they are at hand), then painted row by row from left
// to right.
template <int Zoom> void PaintColumns(const ColumnPlan& plan, const ByteSource& source) {
    constexpr int64_t RunBytes = 8 * Zoom * 3;
    const BoxRuns boxes(std::min(plan.boxSize, plan.width));
    const std::vector<Band> bands = BandsOf(plan);
    const auto units = static_cast<int64_t>(bands.size());
    const auto across = static_cast<int64_t>(plan.pixelPos.size());
    const int64_t groups = Zoom > 0 && plan.ordered && source.bytes != nullptr
                               ? static_cast<int64_t>(plan.groups.size())
                               : int64_t{0};
    const int64_t pitch = (groups + 1) / 2 * 2; // groups, rounded up to whole pairs
    // Per band, per pixel row, per group: its row value; and per band and group whether it is
    // painted from them (all its bytes inside the file).
    std::vector<uint8_t> rowValues(static_cast<size_t>(units * 8 * pitch));
    std::vector<uint8_t> whole(static_cast<size_t>(units * pitch));
    // Local copies: the picture is written through uint8_t pointers, which may alias anything.
    const ByteSource from = source;
    if constexpr (Zoom > 0) {
        const uint64_t invert = from.invertMask * 0x0101010101010101ull;
        for (int64_t g = 0; g < groups; g += 2) {
            for (int64_t u = 0; u < units; ++u) {
                const Band& band = bands[size_t(u)];
                // The bytes of group n for this band, 0 where it goes box by box.
                auto word = [&](int64_t n) -> uint64_t {
                    if (n >= groups) return 0;
                    const ColumnGroup& group = plan.groups[size_t(n)];
                    const uint32_t* pos = plan.pixelPos.data() + n * 8;
                    const uint32_t first = band.pos + pos[0];
                    const uint32_t last = band.pos + pos[group.count - 1];
                    const bool ok =
                        band.band < group.fewest && first <= last && last < from.readable;
                    whole[size_t(u * pitch + n)] = ok;
                    return ok ? GatherGroup(from.bytes + first, pos, group) ^ invert : 0;
                };
                const uint64_t left = word(g), right = word(g + 1);
                PairRows(left, right, plan.msb, rowValues.data() + u * 8 * pitch + g, pitch);
            }
        }
        const uint8_t* runs = ByteRuns<(Zoom > 0 ? Zoom : 1)>();
        const int64_t wholeGroups =
            groups > 0 && plan.groups.back().bytes < RunBytes ? groups - 1 : groups;
        for (int64_t u = 0; u < units; ++u) {
            const uint8_t* painted = whole.data() + u * pitch;
            const int64_t top = bands[size_t(u)].top;
            for (int64_t at = top; at < std::min(top + 8 * Zoom, plan.height); ++at) {
                const uint8_t* values = rowValues.data() + (u * 8 + (at - top) / Zoom) * pitch;
                uint8_t* out = plan.Row(at);
                // Without short columns a group that is not painted from its row values is
                // painted over box by box below: its runs need no test here.
                if (plan.complete) {
                    for (int64_t g = 0; g < wholeGroups; ++g, out += RunBytes)
                        std::memcpy(out, runs + values[g] * RunBytes, RunBytes);
                } else {
                    for (int64_t g = 0; g < wholeGroups; ++g, out += RunBytes)
                        if (painted[g]) std::memcpy(out, runs + values[g] * RunBytes, RunBytes);
                }
                if (wholeGroups < groups && painted[wholeGroups])
                    std::memcpy(out, runs + values[wholeGroups] * RunBytes,
                                static_cast<size_t>(plan.groups.back().bytes));
            }
        }
    }
    for (int64_t u = 0; u < units; ++u) {
        const Band& band = bands[size_t(u)];
        const uint8_t* painted = whole.data() + u * pitch;
        if (std::count(painted, painted + groups, 1) * 8 >= across) continue; // all groups
        for (int64_t q = 0; q < across; ++q) {
            if (q / 8 < groups && painted[q / 8] != 0) {
                q += 7; // the whole group is painted
                continue;
            }
            PaintColumnBoxes(plan, from, boxes, q, band.pos, band.band, band.top, band.y);
        }
    }
}

// ---- Planning a view ------------------------------------------------------------------------

struct StripPlan {
    bool columns = false;
    SpritePlan rows;
    ColumnPlan pixelColumns;
};

// False when no pixel of the view reaches into the picture.
bool PlanStrips(const tk::PixelBuffer& pixels, const StripView& view, StripPlan& plan) {
    if (pixels.bitsPerPixel != 24) return false;
    plan.columns = IsColumnLayout(view.layout.kind);
    return plan.columns ? PlanColumns(pixels, view, plan.pixelColumns)
                        : PlanSprites(pixels, view, plan.rows);
}

void PaintPlanned(const StripPlan& plan, const ByteSource& source) {
    if (!plan.columns) {
        PaintSprites(plan.rows, source);
    } else if (plan.pixelColumns.zoom == 1) {
        PaintColumns<1>(plan.pixelColumns, source);
    } else if (plan.pixelColumns.zoom == 2) {
        PaintColumns<2>(plan.pixelColumns, source);
    } else {
        PaintColumns<0>(plan.pixelColumns, source);
    }
}

// The part of the picture that the sprite boxes paint over completely (gapless zooms only, every
// pixel column with all its bytes): x 0 .. width - 1, y 0 .. height - 1; what is drawn there
// before them never shows.
struct CoveredArea {
    int64_t width = 0, height = 0;
};

CoveredArea CoveredBy(const StripPlan& planned) {
    if (planned.columns) {
        const ColumnPlan& plan = planned.pixelColumns;
        if (plan.boxSize != plan.zoom || !plan.complete) return {};
        return {plan.coveredWidth, plan.coveredHeight};
    }
    const SpritePlan& plan = planned.rows;
    if (plan.boxSize != plan.zoom || plan.slotPos.empty()) return {};
    return {plan.coveredWidth, std::min(plan.height, plan.rows * plan.zoom)};
}

// FillBox(x, y, width, height, colour) for everything outside the covered area: the box is
// flipped as FillBox flips it, cut to the picture and split into the part right of the covered
// area and the part below it.
void FillBoxAround(int32_t x, int32_t y, int32_t width, int32_t height, tk::Colour colour,
                   const CoveredArea& covered, const tk::PixelBuffer* pixels) {
    if (pixels == nullptr || covered.width <= 0 || covered.height <= 0) {
        tk::FillBox(x, y, width, height, colour);
        return;
    }
    int64_t x0 = x, y0 = y, x1 = int64_t{x} + width, y1 = int64_t{y} + height;
    if (x1 < x0) std::swap(x0, x1);
    if (y1 < y0) std::swap(y0, y1);
    x0 = std::clamp<int64_t>(x0, 0, pixels->width);
    x1 = std::clamp<int64_t>(x1, 0, pixels->width);
    y0 = std::clamp<int64_t>(y0, 0, pixels->height);
    y1 = std::clamp<int64_t>(y1, 0, pixels->height);
    auto fill = [colour](int64_t left, int64_t top, int64_t right, int64_t bottom) {
        if (left < right && top < bottom)
            tk::FillBox(static_cast<int32_t>(left), static_cast<int32_t>(top),
                        static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top),
                        colour);
    };
    fill(std::max(x0, covered.width), y0, x1, std::min(y1, covered.height)); // right
    fill(x0, std::max(y0, covered.height), x1, y1);                          // below
}

// ---- Grid -----------------------------------------------------------------------------------
//
// Vertical lines at x = gridX, 2 gridX, .. until past the canvas width (641), each
// DrawLine(x, 0, x, 481); then horizontal lines at y = gridY, 2 gridY, .. until past the height
// (481), each DrawLine(0, y, 641, y). A line
// is green when its coordinate is a multiple of the grid size squared, red otherwise; the last
// line written wins where they cross. They are written straight into the picture, clipped as
// DrawLine clips them. A grid size below 1 would never get past the end: that direction gets no
// lines (the grid spin boxes keep their states within 1..25, so it does not happen in use).

struct GridLine {
    int64_t at = 0;     // x of a vertical line, y of a horizontal one
    bool major = false; // a multiple of the grid size squared: green
};

// The lines from step until past end, keeping those that lie inside the picture (at < limit).
std::vector<GridLine> GridLines(int32_t step, int64_t end, int64_t limit) {
    std::vector<GridLine> lines;
    if (step < 1) return lines;
    const int64_t major = int64_t{step} * step;
    int64_t at = step;
    do {
        if (at < limit) lines.push_back({at, at % major == 0});
        at += step;
    } while (at <= end);
    return lines;
}

void DrawGrid(const tk::PixelBuffer& pixels, int32_t gridX, int32_t gridY) {
    const int64_t width = pixels.width, height = pixels.height;
    if (width <= 0 || height <= 0 || pixels.bits == nullptr) return;
    auto row = [&](int64_t y) { return pixels.bits + (height - 1 - y) * pixels.stride; };

    // Vertical lines, row by row. Byte offsets and green bytes sit in local arrays so that the
    // writes into the picture (through uint8_t pointers, which may alias anything) force no
    // reloads.
    std::vector<int64_t> offsets;
    std::vector<uint8_t> greens;
    for (const GridLine& line : GridLines(gridX, CanvasWidth, width)) {
        offsets.push_back(line.at * 3);
        greens.push_back(line.major ? MajorGridPixel[1] : GridPixel[1]);
    }
    const int64_t* const offset = offsets.data();
    const uint8_t* const green = greens.data();
    const size_t count = offsets.size();
    const int64_t verticalRows = count == 0 ? 0 : std::min<int64_t>(CanvasHeight + 1, height);
    for (int64_t y = 0; y < verticalRows; ++y) {
        uint8_t* out = row(y);
        for (size_t k = 0; k < count; ++k) {
            uint8_t* pixel = out + offset[k];
            const uint8_t g = green[k]; // red is 255 where green is 0, and the other way round
            pixel[0] = 0x00;
            pixel[1] = g;
            pixel[2] = static_cast<uint8_t>(~g);
        }
    }

    // Horizontal lines, each one copy of a prepared row.
    const int64_t lineWidth = std::min<int64_t>(CanvasWidth + 1, width);
    std::vector<uint8_t> runs[2];
    for (const GridLine& line : GridLines(gridY, CanvasHeight, height)) {
        std::vector<uint8_t>& run = runs[line.major ? 1 : 0];
        const uint8_t* pixel = line.major ? MajorGridPixel : GridPixel;
        if (run.empty())
            for (int64_t x = 0; x < lineWidth; ++x) run.insert(run.end(), pixel, pixel + 3);
        std::memcpy(row(line.at), run.data(), run.size());
    }
}

} // namespace

// ---- RedrawView -----------------------------------------------------------------------------

int32_t MultiColumnLimit(int64_t stripPixelWidth, int32_t pictureWidth) {
    const int64_t w = stripPixelWidth > pictureWidth - 1 ? 4 * int64_t{pictureWidth} : pictureWidth;
    return Quotient(double(w), double(stripPixelWidth));
}

void PaintStrips(const tk::PixelBuffer& pixels, const StripView& view) {
    StripPlan plan;
    if (PlanStrips(pixels, view, plan)) PaintPlanned(plan, SourceOf(view));
}

int32_t FirstDisplayedByte() {
    return Add32(Mul32(tk::GetControlState(RowScroller), tk::GetControlState(WidthScroller)),
                 tk::GetControlState(OffsetSpin));
}

void RedrawView() {
    using tk::IntegerToText;

    // Drawing may fail to begin; the drawing calls then do nothing and the texts still change.
    tk::BeginDrawing(tk::CanvasSurface(CanvasView));
    tk::PixelBuffer* pixels = tk::CurrentDrawingPixels();
    assert((pixels == nullptr || pixels->bitsPerPixel == 24) &&
           "the canvas picture is 24 bits per pixel");
    if (pixels != nullptr && pixels->bitsPerPixel != 24) pixels = nullptr;

    // The selection box, snapped to the zoom, and the status text that describes it.
    const int32_t zoom = state.zoom;
    const SelectionRect& selection = state.selection;
    const int32_t sx = Mul32(zoom, Quotient(selection.x1, zoom));
    const int32_t sy = Mul32(zoom, Quotient(selection.y1, zoom));
    const int32_t sw = Mul32(zoom, Quotient(Sub32(selection.x2, selection.x1), zoom));
    const int32_t sh = Mul32(zoom, Quotient(Sub32(selection.y2, selection.y1), zoom));
    if (sw < 1 || sh < 1) {
        tk::SetStatusText(MainStatusBar, 0,
                          "Invalid Selection,w:" + IntegerToText(sw) + ",h:" + IntegerToText(sh));
    } else {
        const int32_t bytesWide = Low32(tk::TruncateToInteger(double(sw) / zoom / 8));
        const int32_t rowsHigh = Quotient(sh, zoom);
        tk::SetStatusText(MainStatusBar, 0,
                          "x:" + IntegerToText(sx) + " y:" + IntegerToText(sy) +
                              " w:" + IntegerToText(bytesWide) + " h:" + IntegerToText(rowsHigh));
    }

    state.spriteWidth = tk::GetControlState(WidthScroller);
    const int32_t gridX = tk::GetControlState(GridXSpin);
    const int32_t gridY = tk::GetControlState(GridYSpin);
    const bool multi = tk::GetControlState(MultiColumnsCheck) == 1;
    const bool invert = tk::GetControlState(InvertCheck) == 1;
    const bool align = tk::GetControlState(AlignCheck) == 1;
    const bool grid = tk::GetControlState(GridCheck) == 1;

    StripView view;
    if (!state.fileBuffer.empty()) {
        view.bytes = state.fileBuffer.get();
        view.size = std::min<int64_t>(state.fileSize, state.fileBuffer.size);
    } else {
        view.size = state.fileSize;
    }
    view.width = state.spriteWidth;
    view.layout = state.layout;
    view.zoom = zoom;
    view.invert = invert;
    // Strips wider than 640 pixels lay out columns over four canvases' width.
    if (multi) view.columnLimit = MultiColumnLimit(StripPixelWidth(state.layout, view.width));
    view.lastY = Sub32(state.viewHeight, 1);
    if (align) {
        // With gridY 1 the quotient is infinite and its low 32 bits are 0: single-strip columns.
        view.lastY = Mul32(gridY, Quotient(Sub32(state.viewHeight, 1), gridY - 1.0));
    }
    view.startPos = FirstDisplayedByte();

    // The black background, then the selection, then the sprite boxes over both (the selection
    // shows only beside the columns, in the gaps of zoom 8 and below short last columns). Where
    // gapless boxes will paint every pixel, the background and the selection are not written
    // first.
    StripPlan plan;
    const bool sprites = pixels != nullptr && PlanStrips(*pixels, view, plan);
    const CoveredArea covered = sprites ? CoveredBy(plan) : CoveredArea{};
    FillBoxAround(0, 0, CanvasWidth, CanvasHeight, Black, covered, pixels);
    FillBoxAround(sx, sy, sw, sh, SelectionColour, covered, pixels);
    if (sprites) PaintPlanned(plan, SourceOf(view));

    Text title = Text(ProgramTitle) + ", sprsize:" + IntegerToText(state.spriteWidth);
    if (grid) {
        title += ", grid:" + IntegerToText(gridX) + "x" + IntegerToText(gridY);
        if (pixels != nullptr) DrawGrid(*pixels, gridX, gridY);
    }
    tk::SetControlText(DispField, IntegerToText(view.startPos));
    title += " disp:" + IntegerToText(view.startPos) + " zoom:" + IntegerToText(zoom);
    if (state.layout.kind != LayoutKind::Rows) title += " layout:" + LayoutName(state.layout);
    tk::SetMainWindowTitle(MainWindow, title);
    tk::EndDrawing();
}

} // namespace viewer
