// The "Find" drop-down on the scripted backend. Expectations come from the finder itself on the
// same bytes, so they hold for whatever it reports.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/session_test.h"
#include "tests/support/test_files.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/find_commands.h"
#include "viewer/finder.h"
#include "viewer/input.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}
using pmtest::RegionsInFileOrder;

class Find : public pmtest::SessionTest {
  protected:
    // The bytes held as a load holds them, the row scroll bar's range with them.
    void Load(const std::string& bytes) {
        session.LoadBytes(Bytes(bytes));
        tk::SetControlAttribute(RowScroller, tk::Maximum, static_cast<int64_t>(bytes.size()));
        RedrawView();
    }
    // F3, Shift+F3 or F4 while the window has the focus, and the loop until the scan is over.
    void Press(int key, uint32_t modifiers = 0) {
        backend.ScriptAccelerator(MainWindow, key, modifiers);
        ASSERT_TRUE(session.DrainUntilFound());
    }
    // What the view shows: the first byte on display must be the region's first byte, at its
    // width, and the title must say so.
    void ExpectShowing(const GraphicsRegion& r) { ExpectShowing(r.first, r.width); }
    void ExpectShowing(int64_t first, int32_t width) {
        EXPECT_EQ(FirstDisplayedByte(), first);
        EXPECT_EQ(tk::GetControlState(WidthScroller), width);
        EXPECT_EQ(tk::GetControlText(OffsetSpin), std::to_string(first % width));
        EXPECT_NE(session.Title().find(", sprsize:" + std::to_string(width) +
                                       " disp:" + std::to_string(first) + " "),
                  std::string::npos)
            << session.Title();
    }
    // ...and the status bar names it among all of them.
    void ExpectRegion(size_t index, const std::vector<GraphicsRegion>& regions) {
        const GraphicsRegion& r = regions[index];
        ExpectShowing(r);
        EXPECT_EQ(session.StatusText(),
                  "Graphics " + std::to_string(index + 1) + " of " +
                      std::to_string(regions.size()) + ": byte " + std::to_string(r.first) + ", " +
                      std::to_string(r.length) + " bytes, width " + std::to_string(r.width));
    }

    const std::vector<uint8_t> sample = Bytes(pmtest::SampleBytes());
};

TEST_F(Find, TheDropDownFollowsTheBarItemsWithItsKeysAndTheOtherItemsKeepTheirPlaces) {
    const std::vector<tk::MenuItemView>& bar = backend.menuBar;
    std::vector<int> onBar;
    for (const tk::MenuItemView& item : bar) onBar.push_back(item.isTitle ? -1 : item.identifier);
    EXPECT_EQ(onBar,
              (std::vector<int>{-1, MenuZoom1, MenuZoom2, MenuZoom8, MenuSaveSelected, -1, -1}));
    ASSERT_EQ(bar[5].text, "Find");
    std::vector<std::tuple<int, std::string, int32_t, uint32_t>> items;
    for (const tk::MenuItemView& item : bar[5].children)
        items.emplace_back(item.identifier, item.text, item.accelerator.keyCode,
                           item.accelerator.modifiers);
    EXPECT_EQ(items, (decltype(items){
                         {MenuNextGraphics, "Next graphics", tk::VkF3, 0},
                         {MenuPreviousGraphics, "Previous graphics", tk::VkF3, tk::AccelShift},
                         {MenuGuessWidth, "Guess layout and width", tk::VkF4, 0},
                         {0, "", 0, 0}, // a separator
                         {MenuOverview, "Overview", tk::VkF5, 0}}));
    // A key no item carries chooses nothing.
    backend.ScriptAccelerator(MainWindow, tk::VkF4, tk::AccelCtrl);
    EXPECT_TRUE(pmtest::Drain().empty());
}

TEST_F(Find, StepsGoThroughTheRegionsInFileOrderFromInsideOneAndStopAtEitherEnd) {
    // Glyph sheets of several widths between runs of varied bytes.
    std::string file = pmtest::Pattern(3001);
    for (int width : {1, 2, 4, 16})
        file += pmtest::GlyphSheet(width, width, 128 / width) + pmtest::Pattern(3001);
    const std::vector<GraphicsRegion> regions = RegionsInFileOrder(file);
    ASSERT_GE(regions.size(), 4u) << "one region a sheet";
    Load(file);

    // Forwards from byte 0: every region that starts after it, then the end.
    const size_t firstAfterZero = regions.front().first > 0 ? 0 : 1;
    for (size_t i = firstAfterZero; i < regions.size(); ++i) {
        SCOPED_TRACE(i);
        Press(tk::VkF3);
        ExpectRegion(i, regions);
    }
    Press(tk::VkF3);
    EXPECT_EQ(session.StatusText(),
              "No more graphics after byte " + std::to_string(regions.back().first));
    ExpectShowing(regions.back());

    // Backwards through the menu item and its key alike, down to the first region and past it.
    for (size_t i = regions.size() - 1; i-- > 0;) {
        SCOPED_TRACE(i);
        if (i % 2 == 0)
            backend.ScriptMenu(MainWindow, MenuPreviousGraphics);
        else
            backend.ScriptAccelerator(MainWindow, tk::VkF3, tk::AccelShift);
        ASSERT_TRUE(session.DrainUntilFound());
        ExpectRegion(i, regions);
    }
    Press(tk::VkF3, tk::AccelShift);
    EXPECT_EQ(session.StatusText(),
              "No more graphics before byte " + std::to_string(regions.front().first));
    ExpectShowing(regions.front());

    // From one byte past a region's start, Shift+F3 goes back to that start, not further; from a
    // region's start, F3 goes on to the next.
    ShowFromByte(static_cast<int32_t>(regions[1].first) + 1, 1);
    Press(tk::VkF3, tk::AccelShift);
    ExpectShowing(regions[1]);
    ShowFromByte(static_cast<int32_t>(regions[0].first), 1);
    Press(tk::VkF3);
    ExpectShowing(regions[1]);

    // The message stays until the view changes.
    backend.ScriptMenu(MainWindow, MenuZoom2);
    session.Drain();
    EXPECT_EQ(session.StatusText(), "Invalid Selection,w:0,h:0");
}

TEST_F(Find, GuessWidthTakesTheWidthThatFitsAndKeepsTheFirstByte) {
    Load(pmtest::SampleBytes());
    // The first region start where some width fits, shown at another width first.
    int32_t at = -1;
    LayoutGuess guess;
    for (const GraphicsRegion& region : RegionsInFileOrder(pmtest::SampleBytes())) {
        at = static_cast<int32_t>(region.first);
        guess = GuessLayoutAndWidth(sample.data() + at, static_cast<int64_t>(sample.size()) - at);
        if (guess.width >= 1) break;
    }
    ASSERT_GE(guess.width, 1) << "no width fits at any region of the sample";
    const int32_t width = guess.width;
    SetViewLayout({LayoutKind::ColumnsMsb, 2});
    ShowFromByte(at, width + 1);
    RedrawView();
    Press(tk::VkF4);
    ExpectShowing(at, width);
    EXPECT_EQ(state.layout, guess.layout);
    EXPECT_EQ(session.StatusText(),
              "Width " + std::to_string(width) +
                  (guess.layout == PixelLayout{} ? "" : ", layout " + LayoutName(guess.layout)) +
                  " fits the bytes from byte " + std::to_string(at));

    // Past the end of the file, and with no file, nothing fits and nothing changes.
    ShowFromByte(static_cast<int32_t>(sample.size()), 3);
    RedrawView();
    Press(tk::VkF4);
    EXPECT_EQ(session.StatusText(),
              "No layout and width fit the bytes from byte " + std::to_string(sample.size()));
    ExpectShowing(static_cast<int64_t>(sample.size()), 3);
    session.LoadBytes({});
    Press(tk::VkF4);
    EXPECT_EQ(tk::GetControlState(WidthScroller), 3);
    Press(tk::VkF3);
    EXPECT_EQ(session.StatusText(), "No file loaded: nothing to find");
}

TEST_F(Find, AScanShowsItsProgressAndTheStepFollowsWhenItEnds) {
    // Without a quiet time every report of the scan shows; the finder reports every few MiB.
    SetQuietScanTime(0);
    session.LoadBytes(Bytes(pmtest::Pattern(size_t{32} << 20)));
    backend.ScriptAccelerator(MainWindow, tk::VkF3);
    session.Drain();
    std::vector<std::string> shown;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (FinderBusy() && std::chrono::steady_clock::now() < end) {
        viewer::RunLoopPass();
        if (shown.empty() || shown.back() != session.StatusText())
            shown.push_back(session.StatusText());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    SetQuietScanTime(300);
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown.front().rfind("Finding graphics: ", 0), 0u) << shown.front();
    EXPECT_EQ(shown.front().back(), '%');
    // The step was made: the progress is gone from the status bar.
    EXPECT_EQ(session.StatusText().rfind("Finding graphics", 0), std::string::npos)
        << session.StatusText();
}

TEST_F(Find, ANewLoadDropsTheRegionsAndStopsTheScan) {
    pmtest::TempDir dir;
    const std::string samplePath = pmtest::WriteFile(dir / "sample.bin", pmtest::SampleBytes());
    const std::string zerosPath = pmtest::WriteFile(dir / "zeros.bin", std::string(4096, '\0'));

    backend.ScriptDrop(MainWindow, {samplePath});
    Press(tk::VkF3);
    ASSERT_EQ(session.StatusText().rfind("Graphics ", 0), 0u) << session.StatusText();
    backend.ScriptDrop(MainWindow, {zerosPath});
    Press(tk::VkF3);
    EXPECT_EQ(session.StatusText(), "No graphics found in this file");
    EXPECT_EQ(FirstDisplayedByte(), 0);

    // A scan still running when the next file comes is stopped and its regions never show: a
    // large block of varied bytes, then the sample at once.
    session.LoadBytes(Bytes(pmtest::Pattern(size_t{32} << 20)));
    backend.ScriptAccelerator(MainWindow, tk::VkF3);
    backend.ScriptDrop(MainWindow, {samplePath});
    session.Drain();
    EXPECT_FALSE(FinderBusy());
    ShowFromByte(0, 1);
    const auto regions = RegionsInFileOrder(pmtest::SampleBytes());
    Press(tk::VkF3, tk::AccelShift);
    EXPECT_EQ(session.StatusText(), "No more graphics before byte 0");
    Press(tk::VkF3);
    EXPECT_EQ(FirstDisplayedByte(), regions[regions[0].first > 0 ? 0 : 1].first);
}

} // namespace
