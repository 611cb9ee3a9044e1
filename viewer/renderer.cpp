// Bytes to pixels: the canvas picture, grid, selection, title and status texts.
//
// Sections: 32-bit arithmetic; what a byte position shows; pixel runs; painting the sprite
// pixels; RedrawView.
//
// RedrawView describes the picture as one box per bit, but paints the sprite pixels straight into
// the picture's memory: row by row, a byte's pixels copied from a prepared run, clipped once per
// column and row. Every pixel comes out as the one-box-per-bit loops would leave it (the tests
// compare the two over thousands of random views).
#include "viewer/renderer.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"
#include "viewer/state.h"

namespace viewer {
namespace {

// ---- 32-bit arithmetic ----------------------------------------------------------------------
//
// The viewer's numbers are signed 32-bit and wrap; the results of TruncateToInteger keep their
// low 32 bits (so an infinite quotient gives 0). Sums and products go through unsigned types so
// that wrapping is defined.

int32_t Low32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int32_t Add32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t Sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

int32_t Mul32(int64_t a, int64_t b) {
    return static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)));
}

// T(n / d): the quotient in double precision, truncated, low 32 bits.
int32_t Quotient(double numerator, double denominator) {
    return Low32(tk::T(numerator, denominator));
}

// ---- Colours --------------------------------------------------------------------------------

const tk::Colour Black = tk::MakeColour(0, 0, 0);
const tk::Colour SelectionColour = tk::MakeColour(127, 0, 255);
const tk::Colour GridColour = tk::MakeColour(255, 0, 0);
const tk::Colour MajorGridColour = tk::MakeColour(0, 255, 0);

// Pixel bytes in picture order: blue, green, red.
constexpr uint8_t WhitePixel[3] = {0xFF, 0xFF, 0xFF};
constexpr uint8_t BlackPixel[3] = {0x00, 0x00, 0x00};
constexpr uint8_t BluePixel[3] = {0xFF, 0x00, 0x00};

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

ByteSource CurrentByteSource(int32_t invertMask) {
    ByteSource source;
    source.fileSize = state.fileSize;
    source.invertMask = static_cast<uint8_t>(invertMask);
    if (!state.fileBuffer.empty()) {
        source.bytes = state.fileBuffer.get();
        const int64_t limit = std::min<int64_t>(state.fileSize, state.fileBuffer.size);
        source.readable = static_cast<uint32_t>(std::max<int64_t>(limit, 0));
    }
    return source;
}

constexpr int BlueEntry = 256; // the run index of a past-the-end byte

// The run index (a byte value 0..255, or BlueEntry) of the byte at pos in a row at y.
inline int RunIndex(const ByteSource& source, uint32_t pos, int32_t y) {
    if (source.bytes != nullptr)
        return pos < source.readable ? (source.bytes[pos] ^ source.invertMask) : BlueEntry;
    return static_cast<int32_t>(pos) >= source.fileSize ? BlueEntry : (y & 0xFF);
}

// ---- Pixel runs -----------------------------------------------------------------------------

// For a zoom without gaps (box size = zoom): the 8 x zoom pixels of each byte value, and of a
// past-the-end byte at index BlueEntry, as picture bytes, one run after another.
template <int Zoom> const uint8_t* ByteRuns() {
    static const std::vector<uint8_t> runs = [] {
        std::vector<uint8_t> table;
        for (int entry = 0; entry <= BlueEntry; ++entry) {
            for (int i = 0; i < 8; ++i) {
                const uint8_t* pixel = entry == BlueEntry           ? BluePixel
                                       : (entry & (0x80 >> i)) != 0 ? WhitePixel
                                                                    : BlackPixel;
                for (int k = 0; k < Zoom; ++k) table.insert(table.end(), pixel, pixel + 3);
            }
        }
        return table;
    }();
    return runs.data();
}

// ---- Painting the sprite pixels -------------------------------------------------------------

struct SpriteLayout {
    int32_t spriteWidth = 1;
    int32_t zoom = 1;
    int32_t columnLimit = 1; // A: the column counter runs 1, 1 + zoom, .. while <= A
    int32_t lastY = 480;     // the row coordinate runs 0, zoom, .. while <= lastY
    int32_t startPos = 0;
};

// One drawn column that reaches into the picture.
struct VisibleColumn {
    int64_t x = 0;         // left edge in pixels
    int64_t bytes = 0;     // bytes of a row that start inside the picture
    uint32_t firstPos = 0; // position of the column's first byte (wrapping as the viewer does)
};

// Paints every byte box of the layout into pixels (24 bits per pixel), in the positions, colours
// and sizes of the one-box-per-bit loops: column k starts at x = k x zoom x spriteWidth x 8, row r
// at y = r x zoom, byte b (from 0) of a row at x + b x 8 x zoom, bit i at + i x zoom; each box is
// zoom pixels square, 7 at zoom 8 (the one-pixel gap keeps what lies beneath). Boxes never overlap,
// so the order of painting is free: rows top to bottom, each across every column. Columns and
// rows beyond the picture are skipped; their bytes still count towards the positions of the
// ones that follow.
void PaintSprites(const tk::PixelBuffer& pixels, const SpriteLayout& layout,
                  const ByteSource& source) {
    const int64_t zoom = layout.zoom, spriteWidth = layout.spriteWidth;
    // The loops would not end for a zoom below 1; only 1, 2 and 8 are ever set.
    if (zoom < 1 || spriteWidth < 1 || layout.columnLimit < 1 || layout.lastY < 0) return;
    const int64_t width = pixels.width, height = pixels.height;
    if (width <= 0 || height <= 0 || pixels.bits == nullptr) return;

    const int64_t columns = (static_cast<int64_t>(layout.columnLimit) - 1) / zoom + 1;
    const int64_t rows = layout.lastY / zoom + 1;
    const int64_t byteSpan = 8 * zoom; // pixels per byte
    const int64_t columnSpan = spriteWidth * byteSpan;
    const int64_t boxSize = zoom == 8 ? 7 : zoom;

    std::vector<VisibleColumn> visible;
    for (int64_t k = 0; k < columns && k * columnSpan < width; ++k) {
        VisibleColumn column;
        column.x = k * columnSpan;
        column.bytes = std::min(spriteWidth, (width - column.x + byteSpan - 1) / byteSpan);
        column.firstPos = static_cast<uint32_t>(layout.startPos) +
                          static_cast<uint32_t>(k) * static_cast<uint32_t>(rows) *
                              static_cast<uint32_t>(spriteWidth);
        visible.push_back(column);
    }
    if (visible.empty()) return;
    const VisibleColumn& lastColumn = visible.back();
    // Without gaps the boxes of a row cover [0, rowEnd) completely.
    const int64_t rowEnd = std::min(width, lastColumn.x + columnSpan);

    const int64_t visibleRows = std::min(rows, (height - 1) / zoom + 1);
    const int64_t stride = pixels.stride;
    const uint32_t rowBytes = static_cast<uint32_t>(spriteWidth);

    // Zooms 1 and 2 copy a whole byte's pixels at once; the others are painted bit by bit from
    // a run of one box width in each colour.
    const uint8_t* byteRuns = zoom == 1 ? ByteRuns<1>() : zoom == 2 ? ByteRuns<2>() : nullptr;
    const int64_t runBytes = byteSpan * 3;
    std::vector<uint8_t> whiteRun, blackRun, blueRun;
    if (byteRuns == nullptr) {
        const int64_t runPixels = std::min(boxSize, width);
        for (int64_t k = 0; k < runPixels; ++k) {
            whiteRun.insert(whiteRun.end(), WhitePixel, WhitePixel + 3);
            blackRun.insert(blackRun.end(), BlackPixel, BlackPixel + 3);
            blueRun.insert(blueRun.end(), BluePixel, BluePixel + 3);
        }
    }

    for (int64_t r = 0; r < visibleRows; ++r) {
        const int32_t y = static_cast<int32_t>(r * zoom);
        const int64_t boxRows = std::min(boxSize, height - y);
        uint8_t* row = pixels.bits + (height - 1 - y) * stride;
        const uint32_t rowOffset = static_cast<uint32_t>(r) * rowBytes;

        for (const VisibleColumn& column : visible) {
            const uint32_t pos = column.firstPos + rowOffset;
            uint8_t* out = row + column.x * 3;
            const int64_t room = width - column.x; // pixels left in the picture
            if (byteRuns != nullptr) {
                // Whole bytes first, then a byte cut at the right edge.
                const int64_t whole = std::min(column.bytes, room / byteSpan);
                for (int64_t b = 0; b < whole; ++b) {
                    const int entry = RunIndex(source, pos + static_cast<uint32_t>(b), y);
                    std::memcpy(out + b * runBytes, byteRuns + entry * runBytes,
                                static_cast<size_t>(runBytes));
                }
                if (whole < column.bytes) {
                    const int entry = RunIndex(source, pos + static_cast<uint32_t>(whole), y);
                    std::memcpy(out + whole * runBytes, byteRuns + entry * runBytes,
                                static_cast<size_t>((room - whole * byteSpan) * 3));
                }
                continue;
            }
            for (int64_t b = 0; b < column.bytes; ++b) {
                const int entry = RunIndex(source, pos + static_cast<uint32_t>(b), y);
                for (int64_t i = 0; i < 8; ++i) {
                    const int64_t x = column.x + b * byteSpan + i * zoom;
                    if (x >= width) break;
                    const std::vector<uint8_t>& run = entry == BlueEntry           ? blueRun
                                                      : (entry & (0x80 >> i)) != 0 ? whiteRun
                                                                                   : blackRun;
                    const size_t bytes = static_cast<size_t>(std::min(boxSize, width - x) * 3);
                    uint8_t* box = row + x * 3;
                    for (int64_t dy = 0; dy < boxRows; ++dy)
                        std::memcpy(box - dy * stride, run.data(), bytes);
                }
            }
        }
        // Gapless boxes taller than one pixel: the rows below repeat the first.
        if (byteRuns != nullptr) {
            for (int64_t dy = 1; dy < boxRows; ++dy)
                std::memcpy(row - dy * stride, row, static_cast<size_t>(rowEnd * 3));
        }
    }
}

// ---- Grid -----------------------------------------------------------------------------------

// Lines every `step` pixels from `step` until past `end`, green on multiples of step x step,
// red otherwise. A step below 1 would never reach the end: that direction gets no lines (the
// grid spin boxes keep their states within 1..25, so it does not happen in use).
void DrawGridLines(int32_t step, int32_t end, bool vertical) {
    if (step < 1) return;
    const int64_t major = static_cast<int64_t>(step) * step;
    int64_t line = step;
    do {
        const tk::Colour colour = line % major == 0 ? MajorGridColour : GridColour;
        const int32_t at = static_cast<int32_t>(line);
        if (vertical)
            tk::DrawLine(at, 0, at, 481, colour);
        else
            tk::DrawLine(0, at, 641, at, colour);
        line += step;
    } while (line <= end);
}

} // namespace

// ---- RedrawView -----------------------------------------------------------------------------

void RedrawView() {
    using tk::IntegerToText;

    // Drawing may fail to begin; the drawing calls then do nothing and the texts still change.
    tk::BeginDrawing(tk::CanvasSurface(CanvasView));
    tk::FillBox(0, 0, 641, 481, Black);

    // The selection, snapped to the zoom, lies under the sprite pixels.
    const int32_t zoom = state.zoom;
    const SelectionRect& selection = state.selection;
    const int32_t sx = Mul32(zoom, Quotient(selection.x1, zoom));
    const int32_t sy = Mul32(zoom, Quotient(selection.y1, zoom));
    const int32_t sw = Mul32(zoom, Quotient(Sub32(selection.x2, selection.x1), zoom));
    const int32_t sh = Mul32(zoom, Quotient(Sub32(selection.y2, selection.y1), zoom));
    tk::FillBox(sx, sy, sw, sh, SelectionColour);

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

    SpriteLayout layout;
    layout.spriteWidth = state.spriteWidth;
    layout.zoom = zoom;
    if (multi) {
        const int32_t w = state.spriteWidth > 80 ? 2564 : 641;
        layout.columnLimit = Low32(tk::TruncateToInteger(double(w) / state.spriteWidth / 8));
    }
    const int32_t invertMask = invert ? 255 : 0;
    layout.lastY = Sub32(state.viewHeight, 1);
    if (align) {
        // With gridY 1 the quotient is infinite and its low 32 bits are 0: single-row columns.
        layout.lastY = Mul32(gridY, Quotient(Sub32(state.viewHeight, 1), gridY - 1.0));
    }
    layout.startPos = Add32(Mul32(tk::GetControlState(RowScroller), state.spriteWidth),
                            tk::GetControlState(OffsetSpin));

    if (tk::PixelBuffer* pixels = tk::CurrentDrawingPixels()) {
        assert(pixels->bitsPerPixel == 24 && "the canvas picture is 24 bits per pixel");
        if (pixels->bitsPerPixel == 24)
            PaintSprites(*pixels, layout, CurrentByteSource(invertMask));
    }

    Text title = Text(ProgramTitle) + ", sprsize:" + IntegerToText(state.spriteWidth);
    if (grid) {
        title += ", grid:" + IntegerToText(gridX) + "x" + IntegerToText(gridY);
        DrawGridLines(gridX, 641, true);
        DrawGridLines(gridY, 481, false);
    }
    tk::SetControlText(DispField, IntegerToText(layout.startPos));
    title += " disp:" + IntegerToText(layout.startPos) + " zoom:" + IntegerToText(zoom);
    tk::SetMainWindowTitle(MainWindow, title);
    tk::EndDrawing();
}

} // namespace viewer
