// What a repaint shows in the cases a person meets: where bytes land, which colour a position
// gets, the selection under the sprite, the grid, and the three texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

constexpr tk::Colour White = 0xFFFFFF, Black = 0x000000, Blue = 0xFF0000;
constexpr tk::Colour Purple = 0xFF007F, Red = 0x0000FF, Green = 0x00FF00;

class Renderer : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(session.ok()); }

    // The first pixel of [x0, x1] x [y0, y1] that is not `colour`, or "" when all are.
    std::string CheckArea(int x0, int y0, int x1, int y1, tk::Colour colour) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (session.CanvasPixel(x, y) != colour) {
                    char text[96];
                    std::snprintf(text, sizeof text, "(%d, %d) is %06X, not %06X", x, y,
                                  session.CanvasPixel(x, y), colour);
                    return text;
                }
        return "";
    }

    // The eight zoom-1 pixels of a byte starting at (x, y) show `value`, set bits white.
    std::string CheckByte(int x, int y, int value) {
        for (int i = 0; i < 8; ++i) {
            std::string fault =
                CheckArea(x + i, y, x + i, y, (value & (0x80 >> i)) ? White : Black);
            if (!fault.empty()) return fault + " (byte " + std::to_string(value) + ")";
        }
        return "";
    }

    void Select(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
        state.selection = {x1, y1, x2, y2};
    }

    pmtest::ViewerSession session;
};

TEST_F(Renderer, FreshStartShowsBlueColumnAndInitialTexts) {
    RedrawView();
    EXPECT_EQ(CheckArea(0, 0, 7, 480, Blue), ""); // nothing loaded: every position is past the end
    EXPECT_EQ(CheckArea(8, 0, 640, 480, Black), "");
    EXPECT_EQ(session.StatusText(), "Invalid Selection,w:0,h:0");
    EXPECT_EQ(session.Title(), "Pixmole 0.10.0, sprsize:1 disp:0 zoom:1");
    EXPECT_EQ(session.DispText(), "0");
}

TEST_F(Renderer, TenByteFileShowsItsBytesThenBlue) {
    const std::vector<uint8_t> bytes = {0x80, 0x01, 0xFF, 0x00, 0xA5, 0x5A, 0x0F, 0xF0, 0x3C, 0xC3};
    session.LoadBytes(bytes);
    RedrawView();
    for (int row = 0; row < 10; ++row) EXPECT_EQ(CheckByte(0, row, bytes[row]), "") << row;
    EXPECT_EQ(CheckArea(0, 10, 7, 480, Blue), "");
    EXPECT_EQ(CheckArea(8, 0, 640, 480, Black), "");

    // Invert turns the bytes over, but past-the-end stays blue.
    tk::SetControlState(InvertCheck, 1);
    RedrawView();
    for (int row = 0; row < 10; ++row) EXPECT_EQ(CheckByte(0, row, bytes[row] ^ 0xFF), "") << row;
    EXPECT_EQ(CheckByte(0, 3, 0xFF), ""); // 0x00 shows eight white pixels
    EXPECT_EQ(CheckArea(0, 10, 7, 480, Blue), "");
}

TEST_F(Renderer, RowAndOffsetChooseTheFirstByte) {
    std::vector<uint8_t> bytes(4000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    session.LoadBytes(bytes);
    tk::SetControlAttribute(RowScroller, tk::Maximum, 4000);
    tk::SetControlState(WidthScroller, 8);
    tk::SetControlState(RowScroller, 3);
    session.SetOffset(-5);
    RedrawView();
    EXPECT_EQ(state.spriteWidth, 8);
    EXPECT_EQ(session.DispText(), "19");
    EXPECT_EQ(session.Title(), "Pixmole 0.10.0, sprsize:8 disp:19 zoom:1");
    // Row 2, byte 5 is position 19 + 2 * 8 + 5 = 40.
    EXPECT_EQ(CheckByte(5 * 8, 2, bytes[40]), "");
}

TEST_F(Renderer, NegativePositionsWithoutFileShowTheRowCoordinate) {
    session.SetOffset(-3);
    RedrawView();
    EXPECT_EQ(CheckByte(0, 0, 0), "");
    EXPECT_EQ(CheckByte(0, 1, 1), "");
    EXPECT_EQ(CheckByte(0, 2, 2), "");
    EXPECT_EQ(CheckArea(0, 3, 7, 480, Blue), "");
    EXPECT_EQ(session.DispText(), "-3");
}

TEST_F(Renderer, NegativePositionsWithFileShowAsPastTheEnd) {
    session.LoadBytes(std::vector<uint8_t>(100, 0xFF));
    session.SetOffset(-3);
    RedrawView();
    EXPECT_EQ(CheckArea(0, 0, 7, 2, Blue), "");
    EXPECT_EQ(CheckArea(0, 3, 7, 102, White), "");
    EXPECT_EQ(CheckArea(0, 103, 7, 480, Blue), "");
}

TEST_F(Renderer, MultipleColumnsContinueTheStream) {
    std::vector<uint8_t> bytes(40000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i ^ (i >> 8));
    session.LoadBytes(bytes);
    tk::SetControlState(MultiColumnsCheck, 1);

    // Width 40: A = T(641 / 40 / 8) = 2 columns of 481 rows.
    tk::SetControlState(WidthScroller, 40);
    RedrawView();
    EXPECT_EQ(CheckByte(320, 0, bytes[481 * 40]), "");
    EXPECT_EQ(CheckByte(320 + 39 * 8, 480, bytes[481 * 40 + 480 * 40 + 39]), "");
    EXPECT_EQ(CheckArea(640, 0, 640, 480, Black), "");

    // Zoom 2, width 1: columns for c = 1, 3, .. 79, each 16 pixels wide and 241 rows of 2 x 2.
    tk::SetControlState(WidthScroller, 1);
    state.zoom = 2;
    RedrawView();
    for (int column : {0, 1, 39}) {
        const int value = bytes[column * 241 + 1];
        for (int i = 0; i < 8; ++i) {
            const tk::Colour colour = (value & (0x80 >> i)) ? White : Black;
            EXPECT_EQ(CheckArea(column * 16 + i * 2, 2, column * 16 + i * 2 + 1, 3, colour), "");
        }
    }

    // Width 81: W = 2564 and A = 3, but the columns are 648 pixels wide: only the first shows,
    // cut at the canvas edge, exactly as with one column.
    tk::SetControlState(WidthScroller, 81);
    state.zoom = 1;
    RedrawView();
    const std::vector<uint8_t> multi = session.CanvasBytes();
    EXPECT_EQ(CheckArea(640, 5, 640, 5, (bytes[5 * 81 + 80] & 0x80) ? White : Black), "");
    tk::SetControlState(MultiColumnsCheck, 0);
    RedrawView();
    EXPECT_EQ(session.CanvasBytes(), multi);
}

TEST_F(Renderer, AlignSetsTheColumnHeightFromTheGrid) {
    std::vector<uint8_t> bytes(2000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 1);
    session.LoadBytes(bytes);
    tk::SetControlState(MultiColumnsCheck, 1);
    tk::SetControlState(AlignCheck, 1);

    // gridY 1: an infinite quotient, lastY 0, so every column is one row.
    tk::SetControlState(GridYSpin, 1);
    RedrawView();
    for (int column : {0, 1, 79}) EXPECT_EQ(CheckByte(column * 8, 0, bytes[column]), "") << column;
    EXPECT_EQ(CheckArea(0, 1, 640, 480, Black), "");

    // gridY 8: lastY = 8 x T(480 / 7) = 544, so the second column starts at byte 545; the rows
    // below the canvas are consumed unseen.
    tk::SetControlState(GridYSpin, 8);
    RedrawView();
    EXPECT_EQ(CheckByte(8, 0, bytes[545]), "");
    EXPECT_EQ(CheckByte(8, 480, bytes[545 + 480]), "");
}

TEST_F(Renderer, SelectionLiesUnderTheSprite) {
    session.LoadBytes(std::vector<uint8_t>(5000, 0x00));
    Select(10, 10, 40, 30);
    tk::SetControlState(WidthScroller, 8);
    RedrawView();
    EXPECT_EQ(session.StatusText(), "x:10 y:10 w:3 h:20");
    EXPECT_EQ(CheckArea(10, 10, 39, 29, Black), ""); // covered by the 64-pixel-wide sprite

    tk::SetControlState(WidthScroller, 1);
    RedrawView();
    EXPECT_EQ(CheckArea(10, 10, 39, 29, Purple), ""); // outside the 8-pixel column
    EXPECT_EQ(CheckArea(40, 10, 40, 29, Black), "");
    EXPECT_EQ(CheckArea(10, 30, 39, 30, Black), "");

    // Dragged up and to the left: negative extents, the box flips, the status says invalid.
    Select(40, 30, 10, 10);
    RedrawView();
    EXPECT_EQ(session.StatusText(), "Invalid Selection,w:-30,h:-20");
    EXPECT_EQ(CheckArea(10, 10, 39, 29, Purple), "");
    EXPECT_EQ(CheckArea(40, 30, 40, 30, Black), "");
}

TEST_F(Renderer, ZoomEightLeavesALatticeOfGaps) {
    session.LoadBytes(std::vector<uint8_t>(5000, 0xAA));
    state.zoom = 8;
    Select(3, 3, 100, 100); // snapped: x 0, y 0, 96 x 96
    RedrawView();
    EXPECT_EQ(session.StatusText(), "x:0 y:0 w:1 h:12");
    EXPECT_EQ(CheckArea(0, 0, 6, 6, White), "");   // bit 7 of 0xAA, a 7 x 7 box
    EXPECT_EQ(CheckArea(8, 0, 14, 6, Black), "");  // bit 6
    EXPECT_EQ(CheckArea(7, 0, 7, 95, Purple), ""); // the gaps show the selection beneath
    EXPECT_EQ(CheckArea(0, 7, 63, 7, Purple), "");
    EXPECT_EQ(CheckArea(64, 0, 95, 95, Purple), "");   // right of the 64-pixel column
    EXPECT_EQ(CheckArea(7, 96, 7, 480, Black), "");    // below the selection the gaps are black
    EXPECT_EQ(CheckArea(56, 472, 62, 478, Black), ""); // bit 0 of row 59
    EXPECT_EQ(CheckArea(0, 479, 63, 479, Black), "");  // row 60 starts at 480: one pixel shows
    EXPECT_EQ(CheckArea(0, 480, 6, 480, White), "");

    // Truncation toward zero snaps a negative extent towards the press point.
    Select(13, 13, 4, 4);
    RedrawView();
    EXPECT_EQ(session.StatusText(), "Invalid Selection,w:-8,h:-8");
    EXPECT_EQ(CheckArea(7, 0, 7, 6, Purple), "");
    EXPECT_EQ(CheckArea(7, 8, 7, 14, Black), "");
}

TEST_F(Renderer, GridLinesAreRedWithGreenMajorLines) {
    tk::SetControlState(GridCheck, 1);
    RedrawView();
    EXPECT_EQ(session.Title(), "Pixmole 0.10.0, sprsize:1, grid:8x8 disp:0 zoom:1");
    EXPECT_EQ(CheckArea(8, 0, 8, 7, Red), "");     // vertical lines span the canvas
    EXPECT_EQ(CheckArea(64, 0, 64, 7, Green), ""); // multiples of 8 x 8
    EXPECT_EQ(CheckArea(640, 0, 640, 7, Green), "");
    EXPECT_EQ(CheckArea(0, 448, 640, 448, Green), ""); // horizontal lines are drawn last
    EXPECT_EQ(CheckArea(0, 480, 640, 480, Red), "");
    EXPECT_EQ(CheckArea(0, 0, 7, 7, Blue), ""); // no line at 0

    tk::SetControlState(GridXSpin, 25);
    tk::SetControlState(GridYSpin, 1);
    RedrawView();
    EXPECT_EQ(CheckArea(0, 1, 640, 480, Green), ""); // gridY 1: every row a green line
    EXPECT_EQ(CheckArea(0, 0, 7, 0, Blue), "");
    tk::SetControlState(GridYSpin, 25);
    RedrawView();
    EXPECT_EQ(CheckArea(625, 0, 625, 24, Green), "");
    EXPECT_EQ(CheckArea(600, 0, 600, 24, Red), "");
    EXPECT_EQ(CheckArea(630, 0, 640, 24, Black), "");
    EXPECT_EQ(CheckArea(0, 475, 640, 475, Red), ""); // 625 lies below the canvas
}

TEST_F(Renderer, TextsChangeEvenWhenDrawingCannotBegin) {
    tk::DestroyControl(CanvasView);
    tk::SetControlState(WidthScroller, 5);
    RedrawView();
    EXPECT_EQ(state.spriteWidth, 5);
    EXPECT_EQ(session.Title(), "Pixmole 0.10.0, sprsize:5 disp:0 zoom:1");
    EXPECT_EQ(session.StatusText(), "Invalid Selection,w:0,h:0");
}

} // namespace
