// Bytes to pixels: the canvas picture, grid, selection, title and status texts.
//
// Sections: 32-bit arithmetic; colours; what a byte position shows; pixel runs; painting the
// sprite pixels; grid; RedrawView.
//
// The picture is defined as one box per bit (FillBox at the positions of three nested loops), but
// RedrawView writes the sprite pixels and the grid straight into the picture's memory: row by
// row, each byte's pixels copied from a prepared run, clipped once per row. Every pixel comes out
// as the one-box-per-bit loops would leave it; the tests compare the two over thousands of random
// views.
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

// Where the drawn rows lie in the picture and which bytes they show. The drawn columns stand side
// by side (each is as wide as the step between them), so a drawn row is one line of byte slots:
// slot j at x = j x 8 x zoom shows byte j mod spriteWidth of column j / spriteWidth. Only slots
// that start inside the picture are kept, clipped once for all rows.
struct SpritePlan {
    uint8_t* bottomRow = nullptr; // the picture's memory, bottom row first
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
bool PlanSprites(const tk::PixelBuffer& pixels, const SpriteLayout& layout, SpritePlan& plan) {
    const int64_t zoom = layout.zoom, spriteWidth = layout.spriteWidth;
    // The loops would not end for a zoom below 1; only 1, 2 and 8 are ever set.
    if (zoom < 1 || spriteWidth < 1 || layout.columnLimit < 1 || layout.lastY < 0) return false;
    const int64_t width = pixels.width, height = pixels.height;
    if (width <= 0 || height <= 0 || pixels.bits == nullptr) return false;

    const int64_t columns = (static_cast<int64_t>(layout.columnLimit) - 1) / zoom + 1;
    const int64_t rowsPerColumn = layout.lastY / zoom + 1;
    const int64_t byteSpan = 8 * zoom; // pixels per byte
    const int64_t slots = std::min(columns * spriteWidth, (width + byteSpan - 1) / byteSpan);

    plan.bottomRow = pixels.bits;
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
template <int Zoom> void PaintByteRuns(const SpritePlan& plan, const ByteSource& source) {
    constexpr int64_t RunBytes = 8 * Zoom * 3;
    const uint8_t* runs = ByteRuns<Zoom>();
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
    const uint8_t* For(int entry, int bit) const {
        return entry == BlueEntry             ? blue.data()
               : (entry & (0x80 >> bit)) != 0 ? white.data()
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
            for (int bit = 0; bit < 8; ++bit) {
                const int64_t x = (j * 8 + bit) * zoom;
                if (x >= width) break;
                const uint8_t* run = runs.For(entry, bit);
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
        PaintByteRuns<1>(plan, source);
    else if (plan.zoom == 2)
        PaintByteRuns<2>(plan, source);
    else
        PaintBoxes(plan, source);
}

// The part of the picture that the sprite boxes paint over completely (gapless zooms only):
// x 0 .. width - 1, y 0 .. height - 1; what is drawn there before them never shows.
struct CoveredArea {
    int64_t width = 0, height = 0;
};

CoveredArea CoveredBy(const SpritePlan& plan) {
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

    SpriteLayout layout;
    layout.spriteWidth = state.spriteWidth;
    layout.zoom = zoom;
    if (multi) {
        // Widths above 80 bytes lay out columns over four canvases' width.
        const int32_t w = state.spriteWidth > 80 ? 4 * CanvasWidth : CanvasWidth;
        layout.columnLimit = Low32(tk::TruncateToInteger(double(w) / state.spriteWidth / 8));
    }
    const int32_t invertMask = invert ? 255 : 0;
    layout.lastY = Sub32(state.viewHeight, 1);
    if (align) {
        // With gridY 1 the quotient is infinite and its low 32 bits are 0: single-row columns.
        layout.lastY = Mul32(gridY, Quotient(Sub32(state.viewHeight, 1), gridY - 1.0));
    }
    layout.startPos = FirstDisplayedByte();

    // The black background, then the selection, then the sprite boxes over both (the selection
    // shows only beside the columns and in the gaps of zoom 8). Where gapless boxes will paint
    // every pixel, the background and the selection are not written first.
    SpritePlan plan;
    const bool sprites = pixels != nullptr && PlanSprites(*pixels, layout, plan);
    const CoveredArea covered = sprites ? CoveredBy(plan) : CoveredArea{};
    FillBoxAround(0, 0, CanvasWidth, CanvasHeight, Black, covered, pixels);
    FillBoxAround(sx, sy, sw, sh, SelectionColour, covered, pixels);
    if (sprites) PaintSprites(plan, CurrentByteSource(invertMask));

    Text title = Text(ProgramTitle) + ", sprsize:" + IntegerToText(state.spriteWidth);
    if (grid) {
        title += ", grid:" + IntegerToText(gridX) + "x" + IntegerToText(gridY);
        if (pixels != nullptr) DrawGrid(*pixels, gridX, gridY);
    }
    tk::SetControlText(DispField, IntegerToText(layout.startPos));
    title += " disp:" + IntegerToText(layout.startPos) + " zoom:" + IntegerToText(zoom);
    tk::SetMainWindowTitle(MainWindow, title);
    tk::EndDrawing();
}

} // namespace viewer
