// The overview window on the scripted backend: opened by its key, its tiles the finder's regions
// best first, a click or Return lands the main view on a tile's region as a step does, Tab and
// Shift+Tab move the focus frame, the frame follows the region on display, a load empties it and
// scans again, its size lays the tiles out, its close box closes only it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/session_test.h"
#include "tests/support/test_files.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/find_commands.h"
#include "viewer/finder.h"
#include "viewer/input.h"
#include "viewer/layout.h"
#include "viewer/overview.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

using Regions = std::vector<GraphicsRegion>;

struct Overview : pmtest::SessionTest {
    // The finder's regions of the file, best first (fewer than MaxTiles here).
    static Regions BestFirst(const std::string& bytes) {
        return FindGraphics(reinterpret_cast<const uint8_t*>(bytes.data()), int64_t(bytes.size()));
    }
    // The loop until the scan has ended, and one pass more, as the worker's wake-up gives.
    bool Settle() { return session.DrainUntilFound() && (RunLoopPass(), true); }
    void Click(int tile) {
        const SheetBox box = TileBox(tile, OverviewColumns());
        backend.ScriptCanvasDrag(OverviewCanvas, box.x + box.width / 2,
                                 box.y + 10 - tk::GetControlState(OverviewScroller), {});
        ASSERT_TRUE(Settle());
    }
    void Key(int keyCode, bool shift = false) {
        backend.Script([=] {
            if (keyCode == tk::VkTab)
                tk::notify::TabKey(OverviewWindow, shift);
            else
                tk::notify::CanvasInput(OverviewCanvas, tk::notify::Mouse::KeyDown, 0, 0, 0, 0,
                                        keyCode);
        });
        ASSERT_TRUE(Settle());
    }
    // The main view shows the region as "Next graphics" shows it when it lands there.
    void ExpectLandedOn(const GraphicsRegion& r, const Regions& inFileOrder) {
        size_t n = 0;
        while (n < inFileOrder.size() && inFileOrder[n].first != r.first) ++n;
        EXPECT_EQ(FirstDisplayedByte(), r.first);
        EXPECT_EQ(tk::GetControlState(WidthScroller), r.width);
        EXPECT_EQ(state.layout, r.layout);
        EXPECT_EQ(session.StatusText(),
                  "Graphics " + std::to_string(n + 1) + " of " +
                      std::to_string(inFileOrder.size()) + ": byte " + std::to_string(r.first) +
                      ", " + std::to_string(r.length) + " bytes, width " + std::to_string(r.width) +
                      (r.layout == PixelLayout{} ? "" : ", layout " + LayoutName(r.layout)));
    }

    pmtest::TempDir dir;
};

TEST_F(Overview, ClicksAndKeysLandOnTilesAndTheFrameFollowsTheView) {
    // Glyph sheets of several widths between runs of varied bytes: one region each.
    std::string file = pmtest::Pattern(3001);
    for (int width : {1, 2, 4, 16})
        file += pmtest::GlyphSheet(width, width, 128 / width) + pmtest::Pattern(3001);
    const Regions best = BestFirst(file), inFileOrder = pmtest::RegionsInFileOrder(file);
    ASSERT_GE(best.size(), 3u);
    backend.ScriptDrop(MainWindow, {pmtest::WriteFile(dir / "sheets.bin", file)});
    backend.ScriptAccelerator(MainWindow, tk::VkF5);
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(OverviewOpen());
    EXPECT_EQ(backend.focused, tk::ControlHandle(OverviewCanvas));
    const Regions& tiles = OverviewTiles();
    ASSERT_EQ(tiles.size(), best.size());
    for (size_t i = 0; i < best.size(); ++i)
        EXPECT_TRUE(tiles[i].first == best[i].first && tiles[i].width == best[i].width) << i;
    const int last = static_cast<int>(best.size()) - 1;
    Key(tk::VkTab, true);
    EXPECT_EQ(OverviewFocusedTile(), last) << "Shift+Tab first: the last tile";

    Click(1);
    ExpectLandedOn(best[1], inFileOrder);
    EXPECT_EQ(OverviewFramedTiles(), std::vector<int>{1});
    EXPECT_EQ(OverviewFocusedTile(), 1);

    // Tab, Shift+Tab and Return move the focus frame and jump, wrapping at both ends.
    Key(tk::VkTab);
    EXPECT_EQ(OverviewFocusedTile(), 2);
    Key(tk::VkTab, true), Key(tk::VkTab, true), Key(tk::VkTab, true);
    EXPECT_EQ(OverviewFocusedTile(), last);
    EXPECT_EQ(OverviewFramedTiles(), std::vector<int>{1}) << "Tab alone does not jump";
    Key(tk::VkReturn);
    ExpectLandedOn(best[size_t(last)], inFileOrder);
    Key(tk::VkTab);
    EXPECT_EQ(OverviewFocusedTile(), 0);

    // The frame follows the view however it changes: a step back lands on another region; the
    // same first byte in another layout or at another width is none.
    backend.ScriptAccelerator(MainWindow, tk::VkF3, tk::AccelShift);
    ASSERT_TRUE(Settle());
    int framed = -1;
    for (int i = 0; i <= last; ++i)
        if (best[size_t(i)].first == FirstDisplayedByte()) framed = i;
    EXPECT_EQ(OverviewFramedTiles(), std::vector<int>{framed});
    backend.ScriptAccelerator(MainWindow, '2', tk::AccelCtrl);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(OverviewFramedTiles(), std::vector<int>{});
    backend.ScriptAccelerator(MainWindow, '1', tk::AccelCtrl);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(OverviewFramedTiles(), std::vector<int>{framed});
    ShowFromByte(int32_t(best[size_t(framed)].first), best[size_t(framed)].width + 1);
    RedrawView();
    RunLoopPass();
    EXPECT_EQ(OverviewFramedTiles(), std::vector<int>{});

    // Narrower: as many tiles across as fit whole, one row in view; the focused tile's row
    // scrolls to the top; a click still finds its tile.
    backend.ScriptResize(OverviewWindow, 2 * CellWidth + OverviewScrollerWidth, CellHeight);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(OverviewColumns(), 2);
    EXPECT_EQ(backend.controls[tk::ControlHandle(OverviewCanvas)].width, 2 * CellWidth);
    Key(tk::VkTab, true), Key(tk::VkTab, true);
    EXPECT_EQ(tk::GetControlState(OverviewScroller), (last - 1) / 2 * CellHeight);
    Click(last - 1);
    ExpectLandedOn(best[size_t(last - 1)], inFileOrder);
}

TEST_F(Overview, ALoadEmptiesItAndScansAgainAndItsCloseBoxClosesOnlyIt) {
    const std::string sample = pmtest::SampleBytes();
    const std::string zeros = pmtest::WriteFile(dir / "zeros.bin", std::string(4096, '\0'));
    backend.ScriptMenu(MainWindow, MenuOverview); // no file: nothing to find
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(OverviewTiles().empty());
    backend.ScriptDrop(MainWindow, {pmtest::WriteFile(dir / "sample.bin", sample)});
    ASSERT_TRUE(Settle());
    EXPECT_EQ(tk::MainWindowTitle(OverviewWindow), "Graphics in sample.bin");
    EXPECT_EQ(OverviewTiles().size(), BestFirst(sample).size());
    EXPECT_EQ(session.StatusText(),
              "Graphics found: " + std::to_string(pmtest::RegionsInFileOrder(sample).size()));
    backend.ScriptAccelerator(MainWindow, tk::VkF5); // open already: to the front
    ASSERT_TRUE(Settle());
    EXPECT_EQ(backend.activated, std::vector{tk::WindowHandle(OverviewWindow)});

    backend.ScriptDrop(MainWindow, {zeros});
    ASSERT_TRUE(Settle());
    EXPECT_EQ(tk::MainWindowTitle(OverviewWindow), "Graphics in zeros.bin");
    EXPECT_TRUE(OverviewTiles().empty());
    EXPECT_EQ(session.StatusText(), "No graphics found in this file");

    backend.ScriptClose(OverviewWindow);
    session.Drain();
    EXPECT_FALSE(OverviewOpen());
    EXPECT_EQ(state.quitRequested, 0);
}

} // namespace
