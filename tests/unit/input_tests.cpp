// The event loop end to end on the scripted backend: gestures, keys and menu commands in,
// viewer state and texts out.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/session_test.h"
#include "tests/support/test_files.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/input.h"
#include "viewer/loader.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;
using namespace std::string_literals;

namespace {

using Input = pmtest::SessionTest;

// A drag selects; "Save selected" is enabled for a box of both extents above 0 only, and a drag
// wider than the sprite (8 x width x zoom pixels) is stored but neither shown nor reported. The
// right click's jump is the layout tests'.
TEST_F(Input, CanvasDragsSelect) {
    // The zoom, the press, the end of the drag, the status text after it, "Save selected" greyed.
    using Point = std::pair<int32_t, int32_t>;
    using Case = std::tuple<int32_t, Point, Point, std::string, int>;
    const Case cases[] = {
        {1, {10, 10}, {40, 30}, "x:10 y:10 w:3 h:20", 0},
        {1, {5, 6}, {69, 20}, "x:5 y:6 w:8 h:14", 0},            // exactly the sprite's 64 pixels
        {1, {5, 6}, {70, 20}, "Invalid Selection,w:-5,h:-6", 1}, // a new press greys it again
        {2, {4, 6}, {132, 20}, "x:4 y:6 w:8 h:7", 0},            // 128 pixels at zoom 2
        {1, {10, 10}, {40, 10}, "Invalid Selection,w:30,h:0", 1},
        {1, {10, 10}, {10, 30}, "Invalid Selection,w:0,h:20", 1},
    };
    tk::SetControlState(WidthScroller, 8);
    for (const auto& [zoom, press, end, status, greyed] : cases) {
        SCOPED_TRACE(status);
        state.zoom = zoom;
        backend.ScriptCanvasDrag(CanvasView, press.first, press.second, {end});
        session.Drain();
        EXPECT_EQ(std::tuple(session.StatusText(), tk::MenuItemDisabled(MainMenu, MenuSaveSelected),
                             state.selection.x2),
                  std::tuple(status, greyed, end.first));
    }
}

// The zoom items found on the bar by their labels, as a person picks them: the title names the
// zoom, and a set bit is a box that many pixels square (7 at zoom 8, its gap beside and below).
TEST_F(Input, TheZoomItemsOnTheBarMagnifyAsTheirLabelsSay) {
    session.LoadBytes({0x80});
    tk::SetControlState(WidthScroller, 1);
    for (const auto& [label, zoom, box] : {std::tuple("x2", 2, 2), {"x8", 8, 7}, {"x1", 1, 1}}) {
        SCOPED_TRACE(label);
        for (const tk::MenuItemView& item : backend.menuBar)
            if (item.text == label) backend.ScriptMenu(MainWindow, item.identifier);
        session.Drain();
        auto run = [&](int dx, int dy) { // white pixels from the top left corner on
            int n = 0;
            while (n < 16 && session.CanvasPixel(n * dx, n * dy) == 0xFFFFFFu) ++n;
            return n;
        };
        EXPECT_EQ(std::tuple(session.Title().substr(session.Title().find(" zoom:")), run(1, 0),
                             run(0, 1)),
                  std::tuple(" zoom:" + std::to_string(zoom), box, box));
    }
}

// An arrow key steps once per press; over the canvas a wheel step down is three clicks on the row
// scroll bar's down arrow (later rows, within the bar's range 0..450), with Shift the right arrow
// key (one byte wider). A step up does the opposite.
TEST_F(Input, ArrowKeysAndTheWheelStepWidthAndRowWithinTheScrollRanges) {
    // The key (0: the wheel, its modifiers and delta), width and row before and after, the
    // offset range after: -range..range; 99 untouched.
    using Case = std::tuple<int, int64_t, int32_t, int32_t, int32_t, int32_t, int32_t, int64_t>;
    const int64_t shift = tk::ModifierShift, alt = tk::ModifierAlt;
    const int32_t least = INT32_MIN, most = INT32_MAX;
    const Case cases[] = {
        {tk::VkLeft, 0, 0, 9, 5, 8, 5, 8},    {tk::VkLeft, 0, 0, 1, 5, 1, 5, 0},
        {tk::VkRight, 0, 0, 9, 5, 10, 5, 10}, {tk::VkRight, 0, 0, 256, 5, 256, 5, 257},
        {tk::VkUp, 0, 0, 9, 5, 9, 6, 99},     {tk::VkDown, 0, 0, 9, 5, 9, 4, 99},
        {tk::VkDown, 0, 0, 9, 1, 9, 0, 99},   {tk::VkDown, 0, 0, 9, 0, 9, 0, 99},
        {0, 0, -120, 9, 5, 9, 8, 99},         {0, 0, 120, 9, 5, 9, 2, 99},
        {0, 0, -240, 9, 446, 9, 450, 99},     {0, alt, -360, 9, 0, 9, 9, 99},
        {0, 0, least, 9, 5, 9, 450, 99},      {0, 0, most, 9, 5, 9, 0, 99},
        {0, shift, -120, 9, 5, 10, 5, 10},    {0, shift, 120, 9, 5, 8, 5, 8},
        {0, shift, 120, 1, 5, 1, 5, 0},       {0, shift, -120, 256, 5, 256, 5, 257},
        {0, shift, least, 1, 5, 256, 5, 257}, {0, shift | alt, most, 9, 5, 1, 5, 0},
    };
    for (const auto& [key, modifiers, delta, width, row, widthAfter, rowAfter, range] : cases) {
        SCOPED_TRACE(testing::Message() << "key " << key << " modifiers " << modifiers << " delta "
                                        << delta << " width " << width << " row " << row);
        tk::SetControlState(WidthScroller, width), tk::SetControlState(RowScroller, row);
        tk::SetControlState(OffsetSpin, 0), tk::SetControlAttribute(OffsetSpin, tk::Minimum, -99);
        tk::SetControlAttribute(OffsetSpin, tk::Maximum, 99), tk::SetControlText(OffsetSpin, "7");
        if (key) {
            backend.PressKey(key);
            RunLoopPass(), RunLoopPass(); // the key is still down, but counts once
            backend.SetKeyDown(key, false);
        } else {
            backend.Script([m = uint32_t(modifiers), d = delta] {
                tk::notify::CanvasInput(CanvasView, tk::notify::Mouse::Wheel, 300, 200, 0, m, d);
                // The part short of a whole step is taken back: no remainder reaches the next.
                tk::notify::CanvasInput(CanvasView, tk::notify::Mouse::Wheel, 300, 200, 0, m,
                                        -(d % 120));
            });
            session.Drain();
        }
        EXPECT_EQ(std::tuple(tk::GetControlState(WidthScroller), tk::GetControlState(RowScroller),
                             tk::GetControlAttribute(OffsetSpin, tk::Minimum),
                             tk::GetControlAttribute(OffsetSpin, tk::Maximum),
                             tk::GetControlText(OffsetSpin), session.DispText()),
                  std::tuple(widthAfter, rowAfter, -range, range, range == 99 ? "7" : "0",
                             std::to_string(widthAfter * rowAfter))); // disp shown at once
    }
}

TEST_F(Input, SpinBoxesTheDispButtonAndTheWidthScrollerRewriteTheView) {
    backend.ScriptThumbDrag(WidthScroller, {4}); // the offset range follows the width: -4..4
    session.Drain();
    // The control, what is typed (nullptr: the up arrow), the text it is rewritten to (the caret
    // behind it) and the state.
    using Case = std::tuple<int, const char*, const char*, int32_t>;
    const Case cases[] = {
        {GridXSpin, "abc", "1", 1},   {GridYSpin, "99", "25", 25}, {GridYSpin, "-5", "1", 1},
        {GridYSpin, nullptr, "2", 2}, {OffsetSpin, "9", "4", 4},   {OffsetSpin, "-100", "-100", -4},
    };
    for (const auto& [control, typed, text, after] : cases) {
        SCOPED_TRACE(typed ? typed : "arrow");
        if (typed)
            backend.Script([c = control, t = typed] { tk::notify::TextEdited(c, t, 1); });
        else
            backend.ScriptSpinArrow(control, +1);
        session.Drain();
        EXPECT_EQ(std::tuple(tk::GetControlText(control), tk::GetControlState(control),
                             tk::ControlCaret(control)),
                  std::tuple(std::string(text), after, int32_t(std::strlen(text))));
    }
    EXPECT_EQ(session.DispText(), "-4"); // no lower bound on the typed offset; its state is held
    // ">" jumps to the row of the typed position: T(100 / 4) = 25, shown from 25 x 4 - 4.
    tk::SetControlText(DispField, "100");
    backend.ScriptButtonClick(DispGoButton);
    session.Drain();
    EXPECT_EQ(tk::GetControlState(RowScroller), 25);
    EXPECT_EQ(session.DispText(), "96");
}

// A dropped file (the first of those dropped, whatever bytes its name holds) or one chosen with
// "Open..": every byte held, its folder current, the row scroll bar reset; a name without a
// folder is looked up in the current one, and a relative path names the same file before and
// after the change. A missing or empty file empties the view without a word.
TEST_F(Input, DroppedOrOpenedFilesLoadWholeAndMakeTheirFolderCurrent) {
    pmtest::TempDir dir;
    const std::string bytes = pmtest::Pattern(960), a = dir / "sub/a.bin", sub = dir / "sub/";
    pmtest::WriteFile(a, bytes), pmtest::WriteFile(dir / "sub/b.bin", "xyz");
    // Opened (or dropped), the paths, the folder current before, the bytes held, the folder
    // current after, the row scroll bar's page: T(size / 481).
    using Case =
        std::tuple<bool, std::vector<std::string>, std::string, std::string, std::string, int64_t>;
    const Case cases[] = {
        {false, {a, dir / "sub/b.bin"}, dir.path(), bytes, sub, 1}, // 960 / 481
        {true, {"b.bin"}, sub, "xyz", sub, 0},
        {false, {"sub/b.bin"}, dir.path(), "xyz", sub, 0},
        {false, {dir / "sub/missing.bin"}, dir.path(), "", sub, 0},
        {true, {pmtest::WriteFile(dir / "empty.bin", "")}, sub, "", dir / "", 0},
        {false, {pmtest::WriteFile(dir / "line\nfeed \xff.bin", "lf")}, sub, "lf", dir / "", 0},
    };
    for (const auto& [open, paths, from, held, folder, page] : cases) {
        SCOPED_TRACE(paths[0]);
        ASSERT_EQ(LoadBinaryFile(a), LoadOutcome::Loaded);
        tk::SetControlState(RowScroller, 1);
        std::filesystem::current_path(from);
        if (open) backend.AnswerFileDialog(paths[0]);
        open ? backend.ScriptMenu(MainWindow, MenuOpen) : backend.ScriptDrop(MainWindow, paths);
        session.Drain();
        EXPECT_EQ(std::tuple(session.Held(), tk::CurrentDirectory(), state.loadedPath),
                  std::tuple(held, folder, paths[0]));
        EXPECT_EQ(std::tuple(tk::GetControlState(RowScroller),
                             tk::GetControlAttribute(RowScroller, tk::Maximum),
                             tk::GetControlAttribute(RowScroller, tk::PageLength)),
                  std::tuple(0, int64_t(held.size()), page));
    }
    EXPECT_TRUE(session.Messages().empty());
    backend.ScriptMenu(MainWindow, MenuOpen); // cancelled: the path is forgotten, not the file
    backend.ScriptMenu(MainWindow, MenuZoom8);
    session.Drain();
    EXPECT_EQ(state.loadedPath, "");
    EXPECT_EQ(session.Held(), "lf");
    EXPECT_EQ(session.Title(), ProgramTitle + ", sprsize:1 disp:0 zoom:8"s);
}

TEST_F(Input, StartUpLoadsTheFirstParameterAndKeepsItsPathAbsolute) {
    pmtest::TempDir dir;
    pmtest::WriteFile(dir / "sub/my file.bin", pmtest::Pattern(600));
    std::filesystem::current_path(dir.path());
    for (const std::string& line :
         {"pixmole \"sub/my file.bin\" other"s, "pixmole"s, "pixmole " + dir.path()}) {
        tk::SetCommandLineText(line); // then none, then one of no bytes: nothing happens
        EXPECT_TRUE(LoadStartupFile());
        EXPECT_EQ(session.Held(), pmtest::Pattern(600));
        EXPECT_EQ(state.loadedPath, dir / "sub/my file.bin");
        EXPECT_EQ(tk::CurrentDirectory(), dir / "sub/");
    }
}

// Escape is the real program's, under real X input (tests/gui).
TEST_F(Input, QuitAndTheCloseBoxEndTheLoop) {
    for (int item : {int(MenuQuit), -1}) { // "Quit", then the close box
        state.quitRequested = 0;
        item > 0 ? backend.ScriptMenu(MainWindow, item) : backend.ScriptClose(MainWindow);
        session.Drain();
        EXPECT_EQ(state.quitRequested, 1);
    }
}

} // namespace
