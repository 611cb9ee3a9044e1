// Tiles of the found regions: the sheet and the overview window.
//
// Sections: the font; captions; geometry; painting the sheet; the window (its record, the layout
// of its controls, painting, input, keeping up with the finder).
//
// The window keeps the painted sheet and copies the part in view into its canvas, then draws the
// frames over the copy: the region on display in the main view (amber) and the keyboard's focus
// (dashed). The sheet is painted once when the tiles come and again when the number of tiles
// across changes.
#include "viewer/overview.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <new>

#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/find_commands.h"
#include "viewer/layout.h"
#include "viewer/pixel_font.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

namespace viewer {

namespace {

// ---- The font -------------------------------------------------------------------------------

using GlyphTable = std::array<std::array<uint8_t, GlyphSize>, FontGlyphCount>;

const GlyphTable& Glyphs() {
    static const GlyphTable table = [] {
        GlyphTable glyphs{};
        for (size_t i = 0; i < FontGlyphCount; ++i)
            for (int row = 0; row < 7; ++row)
                for (int x = 0; x < 8; ++x)
                    if (PixelFont[i].rows[row][x] == '#')
                        glyphs[i][size_t(row) + 1] |= static_cast<uint8_t>(0x80 >> x);
        return glyphs;
    }();
    return table;
}

void PutPixel(const tk::PixelBuffer& pixels, int64_t x, int64_t y, tk::Colour colour) {
    if (x < 0 || y < 0 || x >= pixels.width || y >= pixels.height) return;
    uint8_t* p = pixels.bits + (pixels.height - 1 - y) * int64_t{pixels.stride} + x * 3;
    p[0] = uint8_t(colour >> 16), p[1] = uint8_t(colour >> 8), p[2] = uint8_t(colour);
}

void FillPixels(const tk::PixelBuffer& pixels, tk::Colour colour) {
    for (int32_t y = 0; y < pixels.height; ++y) {
        uint8_t* row = pixels.bits + int64_t{y} * pixels.stride;
        for (int32_t x = 0; x < pixels.width; ++x, row += 3)
            row[0] = uint8_t(colour >> 16), row[1] = uint8_t(colour >> 8), row[2] = uint8_t(colour);
    }
}

// ---- Captions -------------------------------------------------------------------------------

tk::Text Hex(int64_t value) {
    const char* digits = "0123456789abcdef";
    tk::Text text;
    do {
        text.insert(text.begin(), digits[value & 15]);
        value >>= 4;
    } while (value > 0);
    return text;
}

// A score with three decimals, rounded as printf's "%.3f" rounds, whatever the locale.
tk::Text Score(double score) {
    char text[32];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, score, std::chars_format::fixed, 3);
    return error == std::errc() ? tk::Text(text, end) : tk::Text("?");
}

} // namespace

std::array<uint8_t, GlyphSize> GlyphRows(char c) {
    const size_t index = static_cast<size_t>(static_cast<unsigned char>(c) - FirstFontChar);
    return Glyphs()[index < FontGlyphCount ? index : size_t('?' - FirstFontChar)];
}

void DrawPixelText(const tk::PixelBuffer& pixels, int32_t x, int32_t y, std::string_view text,
                   tk::Colour colour) {
    for (size_t i = 0; i < text.size(); ++i) {
        const std::array<uint8_t, GlyphSize> rows = GlyphRows(text[i]);
        const int64_t left = x + int64_t(i) * GlyphSize;
        for (int row = 0; row < GlyphSize; ++row)
            for (int bit = 0; bit < 8; ++bit)
                if (rows[size_t(row)] & (0x80 >> bit))
                    PutPixel(pixels, left + bit, y + row, colour);
    }
}

std::array<tk::Text, CaptionLines> CaptionText(const GraphicsRegion& region) {
    using tk::IntegerToText;
    return {"byte " + IntegerToText(region.first) + " 0x" + Hex(region.first),
            IntegerToText(region.length) + " bytes, width " + IntegerToText(region.width),
            LayoutName(region.layout) + ", score " + Score(region.score)};
}

// ---- Geometry -------------------------------------------------------------------------------

SheetBox TileBox(int index, int columns) {
    columns = std::max(columns, 1);
    return {(index % columns) * CellWidth + CellMargin, (index / columns) * CellHeight + CellMargin,
            TileWidth, TileHeight};
}

SheetBox CaptionBox(int index, int columns) {
    const SheetBox tile = TileBox(index, columns);
    return {tile.x, tile.y + TileHeight + CaptionGap, TileWidth,
            (CaptionLines - 1) * CaptionLinePitch + GlyphSize};
}

int32_t SheetWidth(int columns) {
    return std::max(columns, 1) * CellWidth;
}

int32_t SheetHeight(int tiles, int columns) {
    columns = std::max(columns, 1);
    return std::max((tiles + columns - 1) / columns, 1) * CellHeight;
}

int TileAt(int32_t x, int32_t y, int tiles, int columns) {
    columns = std::max(columns, 1);
    if (x < 0 || y < 0 || x >= SheetWidth(columns)) return -1;
    const int index = (y / CellHeight) * columns + x / CellWidth;
    if (index >= std::min(tiles, MaxTiles)) return -1;
    const SheetBox tile = TileBox(index, columns), caption = CaptionBox(index, columns);
    const bool inside =
        x >= tile.x && x < tile.x + tile.width && y >= tile.y && y < caption.y + caption.height;
    return inside ? index : -1;
}

// ---- Painting the sheet ---------------------------------------------------------------------

namespace {

// The part of a picture at (x, y), w x h, as a picture of its own (it must lie inside).
tk::PixelBuffer Part(const tk::PixelBuffer& pixels, const SheetBox& box) {
    tk::PixelBuffer part = pixels;
    part.width = box.width;
    part.height = box.height;
    part.bits = pixels.bits + int64_t{pixels.height - box.y - box.height} * pixels.stride +
                int64_t{box.x} * 3;
    return part;
}

void PaintTile(const tk::PixelBuffer& tile, const uint8_t* bytes, int64_t size,
               const GraphicsRegion& region) {
    if (bytes == nullptr || region.first < 0 || region.first >= size) return;
    StripView view;
    view.bytes = bytes + region.first;
    view.size = std::min(region.length, size - region.first);
    view.width = std::max(region.width, 1);
    view.layout = region.layout;
    const int64_t strip = StripPixelWidth(region.layout, view.width);
    view.zoom = strip > TileWidth / 2 ? 1 : 2;
    view.columnLimit = MultiColumnLimit(strip, TileWidth);
    view.lastY = TileHeight - 1;
    PaintStrips(tile, view);
}

} // namespace

Sheet PaintSheet(const uint8_t* bytes, int64_t size, const std::vector<GraphicsRegion>& regions,
                 int columns, const tk::Text& note) {
    const int tiles = static_cast<int>(std::min<size_t>(regions.size(), MaxTiles));
    Sheet sheet;
    tk::PixelBuffer& pixels = sheet.pixels;
    pixels.width = SheetWidth(columns);
    pixels.height = SheetHeight(tiles, columns);
    pixels.stride = tk::StrideFor(pixels.width, 24);
    sheet.memory.resize(size_t(pixels.stride) * size_t(pixels.height));
    pixels.bits = sheet.memory.data();
    FillPixels(pixels, SheetBackground);
    for (int i = 0; i < tiles; ++i) {
        PaintTile(Part(pixels, TileBox(i, columns)), bytes, size, regions[size_t(i)]);
        const SheetBox caption = CaptionBox(i, columns);
        const auto lines = CaptionText(regions[size_t(i)]);
        for (int line = 0; line < CaptionLines; ++line)
            DrawPixelText(pixels, caption.x, caption.y + line * CaptionLinePitch,
                          lines[size_t(line)], CaptionColour);
    }
    if (tiles == 0) DrawPixelText(pixels, CellMargin, CellMargin, note, CaptionColour);
    return sheet;
}

// ---- The window -----------------------------------------------------------------------------

namespace {

const tk::Colour DisplayFrameColour = tk::MakeColour(255, 176, 0);
constexpr int32_t DisplayFrameWidth = 3;
constexpr int32_t DisplayFrameGap = 2; // between the tile and its frame
constexpr int32_t FocusFrameGap = 7;   // from the cell's tile and caption to the dashed frame
constexpr int32_t FocusFrameWidth = 2;
constexpr int32_t FocusDash = 6;
constexpr int32_t WheelStep = CellHeight / 4;
constexpr uint32_t OverviewFlags = tk::WindowTitleBar | tk::WindowSystemMenu |
                                   tk::WindowMinimizeBox | tk::WindowMaximizeBox |
                                   tk::WindowSizingBorder;
// At first three tiles across and two and a half down.
constexpr int32_t FirstWidth = 3 * CellWidth + OverviewScrollerWidth;
constexpr int32_t FirstHeight = 5 * CellHeight / 2;

struct OverviewRecord {
    int generation = -1;    // the finder's generation the tiles belong to (or wait for)
    bool haveTiles = false; // the scan of that file ended: `tiles` holds its regions
    std::vector<GraphicsRegion> tiles;
    Sheet sheet;
    int sheetColumns = 0; // what the sheet was painted for; 0 when it must be painted again
    int columns = 1;
    int focus = -1;
    std::vector<int> framed; // the tiles framed in the last painting
};

OverviewRecord overview;

// The tiles whose region is the one on display in the main view: its first byte first on
// display, at its width, in its layout.
std::vector<int> TilesOnDisplay() {
    std::vector<int> shown;
    const int64_t first = FirstDisplayedByte();
    const int32_t width = tk::GetControlState(WidthScroller);
    for (size_t i = 0; i < overview.tiles.size(); ++i) {
        const GraphicsRegion& r = overview.tiles[i];
        if (r.first == first && r.width == width && r.layout == state.layout)
            shown.push_back(static_cast<int>(i));
    }
    return shown;
}

tk::Text Note() {
    if (state.fileBuffer.empty() || state.fileSize <= 0) return "No file loaded";
    return overview.haveTiles ? "No graphics found in this file" : "Finding graphics";
}

void PaintSheetOnce() {
    if (overview.sheetColumns == overview.columns) return;
    try {
        overview.sheet = PaintSheet(state.fileBuffer.get(), state.fileSize, overview.tiles,
                                    overview.columns, Note());
    } catch (const std::bad_alloc&) {
        overview.sheet = Sheet{};
        overview.sheet = PaintSheet(nullptr, 0, {}, 1, "Not enough memory for the tiles");
    }
    overview.sheetColumns = overview.columns;
}

// Lines of the current drawing, clipped by FillBox.
void Frame(const SheetBox& box, int32_t thickness, tk::Colour colour) {
    tk::FillBox(box.x, box.y, box.width, thickness, colour);
    tk::FillBox(box.x, box.y + box.height - thickness, box.width, thickness, colour);
    tk::FillBox(box.x, box.y, thickness, box.height, colour);
    tk::FillBox(box.x + box.width - thickness, box.y, thickness, box.height, colour);
}

// Dashes of white and black, FocusFrameWidth thick, along the inside of the box.
void DashedFrame(const SheetBox& box) {
    const int32_t t = FocusFrameWidth;
    for (int32_t i = 0; i < std::max(box.width, box.height); i += FocusDash) {
        const tk::Colour colour =
            i / FocusDash % 2 ? tk::MakeColour(0, 0, 0) : tk::MakeColour(255, 255, 255);
        const int32_t across = std::min(FocusDash, box.width - i);
        const int32_t down = std::min(FocusDash, box.height - i);
        if (across > 0) {
            tk::FillBox(box.x + i, box.y, across, t, colour);
            tk::FillBox(box.x + i, box.y + box.height - t, across, t, colour);
        }
        if (down > 0) {
            tk::FillBox(box.x, box.y + i, t, down, colour);
            tk::FillBox(box.x + box.width - t, box.y + i, t, down, colour);
        }
    }
}

SheetBox Outset(SheetBox box, int32_t by, int32_t top) {
    return {box.x - by, box.y - by - top, box.width + 2 * by, box.height + 2 * by};
}

// The part of the sheet in view, with the frames.
void PaintOverview() {
    if (!OverviewOpen() || tk::BeginDrawing(tk::CanvasSurface(OverviewCanvas)) == 0) return;
    PaintSheetOnce();
    const tk::PixelBuffer* canvas = tk::CurrentDrawingPixels();
    const tk::PixelBuffer& sheet = overview.sheet.pixels;
    const int32_t top = tk::GetControlState(OverviewScroller);
    tk::FillBox(0, 0, canvas->width, canvas->height, SheetBackground);
    const int32_t rows = std::clamp(sheet.height - top, 0, canvas->height);
    const size_t bytes = size_t(std::min(sheet.width, canvas->width)) * 3;
    for (int32_t y = 0; y < rows; ++y)
        std::memcpy(canvas->bits + int64_t{canvas->height - 1 - y} * canvas->stride,
                    sheet.bits + int64_t{sheet.height - 1 - (top + y)} * sheet.stride, bytes);
    overview.framed = TilesOnDisplay();
    for (int i : overview.framed)
        Frame(Outset(TileBox(i, overview.columns), DisplayFrameGap + DisplayFrameWidth, top),
              DisplayFrameWidth, DisplayFrameColour);
    if (overview.focus >= 0) {
        const SheetBox tile = TileBox(overview.focus, overview.columns);
        const SheetBox caption = CaptionBox(overview.focus, overview.columns);
        DashedFrame(Outset({tile.x, tile.y, tile.width, caption.y + caption.height - tile.y},
                           FocusFrameGap, top));
    }
    tk::EndDrawing();
}

// Places the canvas and the scroll bar in the window's inner area and lays the tiles out across
// the canvas's width; then paints.
void LayOut() {
    int32_t width = 0, height = 0;
    tk::GetWindowInnerSize(OverviewWindow, &width, &height);
    const int32_t canvasWidth = std::max(width - OverviewScrollerWidth, 1);
    const int32_t canvasHeight = std::max(height, 1);
    tk::MoveControl(OverviewCanvas, 0, 0, canvasWidth, canvasHeight);
    tk::MoveControl(OverviewScroller, canvasWidth, 0, OverviewScrollerWidth, canvasHeight);
    overview.columns = std::max(canvasWidth / CellWidth, 1);
    const int tiles = static_cast<int>(overview.tiles.size());
    tk::SetControlAttribute(OverviewScroller, tk::PageLength, canvasHeight);
    tk::SetControlAttribute(OverviewScroller, tk::Maximum,
                            SheetHeight(tiles, overview.columns) - 1);
    PaintOverview();
}

// The tiles of the loaded file as the finder reported them, once its scan ended.
void TakeTiles() {
    const std::vector<GraphicsRegion>* found = FoundRegionsBestFirst();
    const bool ended = found != nullptr || !FinderBusy();
    if (overview.haveTiles || !ended) return;
    overview.haveTiles = true;
    if (found != nullptr)
        overview.tiles.assign(found->begin(),
                              found->begin() +
                                  std::min<ptrdiff_t>(ptrdiff_t(found->size()), MaxTiles));
    overview.sheetColumns = 0;
    LayOut();
}

// The loaded file's name in the title; no tiles; its scan started.
void StartOver() {
    overview.generation = FinderGeneration();
    overview.haveTiles = false;
    overview.tiles.clear();
    overview.focus = -1;
    overview.sheetColumns = 0;
    const tk::Text name = tk::FilePartOf(state.loadedPath);
    tk::SetMainWindowTitle(OverviewWindow, name.empty() ? "Graphics" : "Graphics in " + name);
    tk::SetControlState(OverviewScroller, 0);
    StartGraphicsScan();
    LayOut();
    TakeTiles(); // a small file's scan may be over already
}

// Scrolls the sheet so that the tile and its caption are in view.
void ScrollTo(int index) {
    const SheetBox tile = TileBox(index, overview.columns);
    const int32_t top = tk::GetControlState(OverviewScroller);
    int32_t height = 0;
    tk::GetWindowInnerSize(OverviewWindow, nullptr, &height);
    const int32_t cellTop = tile.y - CellMargin;
    if (cellTop < top)
        tk::SetControlState(OverviewScroller, cellTop);
    else if (cellTop + CellHeight > top + height)
        tk::SetControlState(OverviewScroller, cellTop + CellHeight - height);
}

void Jump(int index) {
    if (index < 0 || index >= static_cast<int>(overview.tiles.size())) return;
    overview.focus = index;
    ShowFoundRegion(overview.tiles[size_t(index)]);
    PaintOverview();
}

void HandleCanvas(int32_t subKind) {
    const int tiles = static_cast<int>(overview.tiles.size());
    switch (subKind) {
    case tk::LeftClick: {
        const int32_t x = static_cast<int32_t>(tk::GetControlAttribute(OverviewCanvas, tk::MouseX));
        const int32_t y = static_cast<int32_t>(tk::GetControlAttribute(OverviewCanvas, tk::MouseY));
        Jump(TileAt(x, y + tk::GetControlState(OverviewScroller), tiles, overview.columns));
        break;
    }
    case tk::MouseWheel: {
        const int64_t steps = tk::GetControlAttribute(OverviewCanvas, tk::WheelDelta);
        const int64_t top = tk::GetControlState(OverviewScroller) - steps * WheelStep;
        tk::SetControlState(OverviewScroller,
                            static_cast<int32_t>(std::clamp<int64_t>(top, INT32_MIN, INT32_MAX)));
        PaintOverview();
        break;
    }
    case tk::KeyDown: {
        const int64_t key = tk::GetControlAttribute(OverviewCanvas, tk::KeyCode);
        if (key == tk::VkReturn) {
            Jump(overview.focus);
        } else if (key == tk::VkTab && tiles > 0) {
            const bool back =
                (tk::GetControlAttribute(OverviewCanvas, tk::Modifiers) & tk::ModifierShift) != 0;
            const int from = overview.focus;
            overview.focus =
                from < 0 ? (back ? tiles - 1 : 0) : (from + (back ? tiles - 1 : 1)) % tiles;
            ScrollTo(overview.focus);
            PaintOverview();
        }
        break;
    }
    default:
        break;
    }
}

} // namespace

void OpenOverview() {
    if (OverviewOpen()) {
        tk::ActivateWindow(OverviewWindow);
        return;
    }
    overview = OverviewRecord{};
    if (tk::CreateMainWindow(OverviewWindow, -65535, -65535, FirstWidth, FirstHeight, "Graphics",
                             OverviewFlags) == 0)
        return;
    const int32_t canvasWidth = FirstWidth - OverviewScrollerWidth;
    tk::AddCanvas(OverviewCanvas, 0, 0, canvasWidth, FirstHeight,
                  tk::CanvasKeyboard | tk::CanvasWantsTab);
    tk::AddScrollBar(OverviewScroller, canvasWidth, 0, OverviewScrollerWidth, FirstHeight, 0, 0,
                     FirstHeight, tk::ScrollVertical);
    if (tk::ControlKind(OverviewCanvas) == 0 || tk::ControlKind(OverviewScroller) == 0) {
        CloseOverview();
        return;
    }
    tk::BindControlCallback(OverviewScroller, PaintOverview);
    tk::BindEvent(tk::SizeEvent, OverviewWindow, tk::AnyValue, tk::AnyValue, LayOut);
    tk::GiveControlFocus(OverviewCanvas);
    StartOver();
}

void CloseOverview() {
    tk::CloseWindow(OverviewWindow);
    overview = OverviewRecord{};
}

bool OverviewOpen() {
    return tk::WindowHandle(OverviewWindow) != 0;
}

void PollOverview() {
    if (!OverviewOpen()) return;
    if (overview.generation != FinderGeneration()) {
        StartOver();
        return;
    }
    if (!overview.haveTiles) {
        TakeTiles();
        return;
    }
    if (TilesOnDisplay() != overview.framed) PaintOverview();
}

bool HandleOverviewEvent(int32_t kind) {
    if (kind != tk::CloseEvent && kind != tk::ControlEvent && kind != tk::SizeEvent) return false;
    if (tk::EventWindow() != OverviewWindow || !OverviewOpen()) return false;
    if (kind == tk::CloseEvent) CloseOverview();
    if (kind == tk::ControlEvent && tk::EventControl() == OverviewCanvas)
        HandleCanvas(tk::EventKind());
    return true; // the scroll bar and the size ran their bound procedures when they were posted
}

const std::vector<GraphicsRegion>& OverviewTiles() {
    return overview.tiles;
}

int OverviewFocusedTile() {
    return overview.focus;
}

std::vector<int> OverviewFramedTiles() {
    return overview.framed;
}

int OverviewColumns() {
    return overview.columns;
}

} // namespace viewer
