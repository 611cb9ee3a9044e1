// The pixel layouts: the names, what the canvas shows where the random identity test would share
// a misreading with its reference (it takes each pixel's byte and bit from the layouts module, as
// the renderer takes the strips' sizes), and the "Layout" drop-down with its marks, keys and
// title. "Save selected" turning a column glyph into rows is the batch tool's test.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/session_test.h"
#include "viewer/bit_rows.h"
#include "viewer/input.h"
#include "viewer/layout.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

constexpr LayoutKind Rows = LayoutKind::Rows, Lsb = LayoutKind::RowsLsb,
                     Columns = LayoutKind::Columns, Msb = LayoutKind::ColumnsMsb;

TEST(Layout, NamesReadBackAndRefuseWhatNoLayoutIs) {
    for (const PixelLayout layout : {PixelLayout{Rows, 1}, {Lsb, 1}, {Columns, 1}, {Msb, 4}}) {
        PixelLayout read{Columns, 2};
        EXPECT_TRUE(ParseLayout(LayoutName(layout), read) && read == layout) << read.columnBytes;
    }
    PixelLayout read;
    for (const char* bad : {"rows:2", "columns:0", "columns:5", "columns:", "column", ""})
        EXPECT_FALSE(ParseLayout(bad, read)) << bad;
}

// The renderer's two ways from pixel columns to pixel rows agree (only one of them paints on a
// given processor).
TEST(Layout, BothWaysFromColumnsToRowsAgree) {
    std::mt19937_64 random(5);
    for (int n = 0; n < 1000; ++n) {
        const uint64_t a = random(), b = random();
        uint8_t fast[16], portable[16];
        PairRows(a, b, n % 2, fast, 2), PairRowsPortable(a, b, n % 2, portable, 2);
        ASSERT_EQ(std::memcmp(fast, portable, 16), 0) << n;
    }
}

class LayoutView : public pmtest::SessionTest {
  protected:
    void Show(const std::vector<uint8_t>& bytes, PixelLayout layout, int32_t width) {
        session.LoadBytes(bytes);
        SetViewLayout(layout);
        tk::SetControlState(WidthScroller, width);
        RedrawView();
    }
};

// Pixels where a shared misreading would pass the random identity test: bit 0 on the left, bit 0
// (bit 7) on top, the first byte on top, a short last column (the selection shows below its one
// byte), a byte past the end in a column, and positions before the file.
TEST_F(LayoutView, PixelsLandWhereTheFormulaPutsThem) {
    constexpr tk::Colour W = 0xFFFFFF, K = 0, B = 0xFF0000, S = 0xFF007F;
    state.selection = {0, 0, 20, 40};
    using Probe = std::tuple<int32_t, int32_t, tk::Colour>;
    using Case = std::tuple<PixelLayout, int32_t, int32_t, std::vector<Probe>>;
    const Case cases[] = {
        {{Lsb, 1}, 1, 0, {{0, 0, W}, {7, 0, K}, {0, 1, K}, {7, 1, W}}},
        {{Columns, 1}, 5, 0, {{0, 0, W}, {0, 1, K}, {0, 7, K}, {1, 7, W}, {3, 8, W}, {5, 0, S}}},
        {{Msb, 1}, 5, 0, {{0, 0, K}, {0, 7, W}, {1, 0, W}, {1, 1, K}}},
        {{Columns, 2}, 5, 0, {{0, 8, K}, {1, 15, W}, {2, 0, W}, {2, 8, S}, {0, 23, W}, {3, 0, S}}},
        {{Columns, 2}, 6, 5, {{0, 8, W}, {2, 0, K}, {2, 8, B}, {2, 15, B}, {0, 16, B}}},
        {{Columns, 1}, 5, -2, {{0, 0, B}, {1, 7, B}, {2, 0, W}, {3, 7, W}}},
    };
    // Bytes 0, 2, 4, .. are 0x01, the others 0x80.
    for (const auto& [layout, width, offset, probes] : cases) {
        SCOPED_TRACE(LayoutName(layout) + " width " + std::to_string(width));
        session.SetOffset(offset);
        std::vector<uint8_t> bytes(offset == 5 ? 10 : 64);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = i % 2 ? 0x80 : 0x01;
        Show(bytes, layout, width);
        for (const auto& [x, y, colour] : probes)
            EXPECT_EQ(session.CanvasPixel(x, y), colour) << x << "," << y;
    }
}

// The drop-down after "Find": the layouts and the column bytes as radio items with their keys;
// the marks, the greyed column bytes and the title follow the choice, the first byte on display
// stays. A drag may reach the strip's width rounded up to whole bytes; a right click jumps 480
// strips per strip width.
TEST_F(LayoutView, TheLayoutDropDownSetsTheLayoutItsMarksAndTheTitle) {
    const tk::MenuItemView& menu = backend.menuBar.back();
    ASSERT_EQ(menu.text, "Layout");
    std::string texts; // radio items marked (o)
    for (const tk::MenuItemView& item : menu.children)
        texts += item.text + (item.radio ? "(o)|" : "|");
    EXPECT_EQ(
        texts,
        "Rows, bit 7 left(o)|Rows, bit 0 left(o)|Columns, bit 0 top(o)|Columns, bit 7 "
        "top(o)||Column bytes: 1(o)|Column bytes: 2(o)|Column bytes: 3(o)|Column bytes: 4(o)|");
    tk::SetControlAttribute(RowScroller, tk::Maximum, 100000);
    SetSpriteWidth(5), tk::SetControlState(RowScroller, 3), session.SetOffset(2);
    // The key (Ctrl or Alt and a digit; 0: the item by its label), the title's end, the marked
    // items, the column bytes greyed.
    using Case = std::tuple<uint32_t, int, std::string, std::vector<int>, int>;
    const Case cases[] = {
        {0, MenuLayoutColumns, " zoom:1 layout:columns", {MenuLayoutColumns, MenuColumnBytes1}, 0},
        {tk::AccelAlt, '3', " layout:columns:3", {MenuLayoutColumns, MenuColumnBytes3}, 0},
        {tk::AccelCtrl, '4', " layout:columns-msb:3", {MenuLayoutColumnsMsb, MenuColumnBytes3}, 0},
        {tk::AccelCtrl, '2', " zoom:1 layout:rows-lsb", {MenuLayoutRowsLsb, MenuColumnBytes3}, 1},
        {tk::AccelAlt, '1', " layout:rows-lsb", {MenuLayoutRowsLsb, MenuColumnBytes3}, 1},
        {tk::AccelCtrl, '1', " disp:17 zoom:1", {MenuLayoutRows, MenuColumnBytes3}, 1},
    };
    for (const auto& [modifiers, key, title, marked, greyed] : cases) {
        SCOPED_TRACE(title);
        modifiers ? backend.ScriptAccelerator(MainWindow, key, modifiers)
                  : backend.ScriptMenu(MainWindow,
                                       menu.children[size_t(key - MenuLayoutRows)].identifier);
        session.Drain();
        std::vector<int> checked;
        for (int item = MenuLayoutRows; item <= MenuColumnBytes4; ++item)
            if (tk::MenuItemChecked(MainMenu, item)) checked.push_back(item);
        EXPECT_EQ(std::tuple(session.Title().substr(session.Title().size() - title.size()), checked,
                             tk::MenuItemDisabled(MainMenu, MenuColumnBytes2), session.DispText()),
                  std::tuple(title, marked, greyed, "17"));
    }

    SetViewLayout({Columns, 1}); // width 5: a strip 5 pixels wide, 8 for a drag
    for (const auto& [end, status] :
         {std::pair(8, "x:0 y:0 w:1 h:7"), {9, "Invalid Selection,w:0,h:0"}}) {
        backend.ScriptCanvasDrag(CanvasView, 0, 0, {{end, 7}});
        session.Drain();
        EXPECT_EQ(std::tuple(session.StatusText(), state.selection.x2), std::tuple(status, end));
    }
    backend.ScriptCanvasDrag(CanvasView, 17, 3, {}, true); // t = 16: T(16 x 480 / 5) = 1536
    session.Drain();
    EXPECT_EQ(tk::GetControlState(RowScroller), 3 + 3 + 1536);
}

} // namespace
