// Tiles of the found regions: the contact sheet (the batch tool writes it as a PNG) and the
// overview window, which shows the same sheet and lands the main view on a region clicked.
//
// A tile is 256 x 192 pixels: the region's bytes from its first byte, in its layout and width, as
// the canvas shows them with MultiColumns on, at zoom 2 (zoom 1 where a strip is wider than 128
// pixels), in the view's colours; bytes past the region's end show blue as bytes past the end of
// a file do. Under it three caption lines in the program's own 8 x 8 font. Tiles stand best
// first, left to right, row by row, on a grey background.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "toolkit/drawing.h"
#include "toolkit/runtime.h"
#include "viewer/finder.h"

namespace viewer {

// ---- The sheet ------------------------------------------------------------------------------

constexpr int32_t TileWidth = 256;
constexpr int32_t TileHeight = 192;
constexpr int MaxTiles = 64;
constexpr int SheetColumns = 4; // the batch tool's sheet; the window fits its width
constexpr int CaptionLines = 3;
constexpr int32_t GlyphSize = 8;
constexpr int32_t CaptionGap = 4;        // between a tile and its first caption line
constexpr int32_t CaptionLinePitch = 10; // from one caption line to the next
// Each tile and its caption stand in a cell with this margin on every side.
constexpr int32_t CellMargin = 8;
constexpr int32_t CellWidth = TileWidth + 2 * CellMargin;
constexpr int32_t CellHeight =
    TileHeight + CaptionGap + (CaptionLines - 1) * CaptionLinePitch + GlyphSize + 2 * CellMargin;

const tk::Colour SheetBackground = tk::MakeColour(128, 128, 128);
const tk::Colour CaptionColour = tk::MakeColour(0, 0, 0);

struct SheetBox {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// Where tile `index` (from 0) of a sheet `columns` tiles across shows its picture, and its
// caption (the lines below it).
SheetBox TileBox(int index, int columns);
SheetBox CaptionBox(int index, int columns);
// The sheet's size for `tiles` tiles (at least one row of cells).
int32_t SheetWidth(int columns);
int32_t SheetHeight(int tiles, int columns);
// The tile whose picture or caption holds the point, or -1.
int TileAt(int32_t x, int32_t y, int tiles, int columns);

// The caption of a region's tile: the first byte in decimal and hexadecimal; the length and the
// width; the layout and the score ("byte 38912 0x9800", "512 bytes, width 2", "rows, score
// 0.934").
std::array<tk::Text, CaptionLines> CaptionText(const GraphicsRegion& region);

// A sheet picture: 24 bits, bottom-up, in memory of its own.
struct Sheet {
    std::vector<uint8_t> memory;
    tk::PixelBuffer pixels;
};
// Paints the sheet of the first MaxTiles regions in their order, `columns` across, from the bytes
// they were found in; with no regions one empty row that shows `note`. Throws std::bad_alloc
// when there is no memory for it.
Sheet PaintSheet(const uint8_t* bytes, int64_t size, const std::vector<GraphicsRegion>& regions,
                 int columns, const tk::Text& note);

// The program's font: the eight pixel rows of a character's cell, bit 7 the leftmost pixel
// ('?' for a character the font lacks), and text written with it from (x, y) on, the cells side
// by side; pixels of the picture that a glyph leaves clear keep what they held.
std::array<uint8_t, GlyphSize> GlyphRows(char c);
void DrawPixelText(const tk::PixelBuffer& pixels, int32_t x, int32_t y, std::string_view text,
                   tk::Colour colour);

// ---- The window -----------------------------------------------------------------------------

constexpr int OverviewWindow = 1;
enum OverviewControl : int {
    OverviewCanvas = 16,
    OverviewScroller = 17,
};
constexpr int32_t OverviewScrollerWidth = 16;

// "Overview" in the "Find" drop-down: opens the window "Graphics in NAME" (brings it to the
// front when it is open), and scans the loaded file as the first "Next graphics" does unless
// that happened.
void OpenOverview();
// The window's close box: only the overview closes.
void CloseOverview();
bool OverviewOpen();

// After every pass of the event loop: a new load empties the tiles and scans again, the tiles
// come when the scan ends, and the frame follows the region on display.
void PollOverview();

// Takes the event the loop just received when it is the overview window's (its close box, its
// canvas, its scroll bar, its size); false for any other.
bool HandleOverviewEvent(int32_t kind);

// What the window shows, for tests: the tiles' regions in order, the tile with the keyboard's
// focus frame (-1 none), the tiles framed as on display in the main view, the tiles across.
const std::vector<GraphicsRegion>& OverviewTiles();
int OverviewFocusedTile();
std::vector<int> OverviewFramedTiles();
int OverviewColumns();

} // namespace viewer
