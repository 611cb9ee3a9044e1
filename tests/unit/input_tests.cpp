// The event loop end to end on the scripted backend: scripted gestures in, viewer state out.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/input.h"
#include "viewer/loader.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

class InputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(tk::InitToolkit(&backend), 0);
        ASSERT_TRUE(CreateMainWindowAndControls());
        RedrawView();
        char tmpl[] = "/tmp/pixmole-input-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(getcwd(cwd, sizeof cwd), cwd);
    }
    void TearDown() override {
        ShutDownViewer();
        if (chdir(cwd) != 0) ADD_FAILURE() << "cannot go back to " << cwd;
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    // Runs loop passes until nothing is scripted or queued (or the loop would end).
    void Drain() {
        for (int guard = 0; guard < 100000; ++guard) {
            if (backend.ScriptedLeft() == 0 && tk::QueuedEventCount() == 0) return;
            RunLoopPass();
            if (state.quitRequested == 1) return;
        }
        FAIL() << "the loop did not settle";
    }

    std::string MakeFile(const std::string& name, const std::string& bytes) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::string Status() { return tk::StatusText(MainStatusBar, 0); }

    pmtest::ScriptedBackend backend;
    std::string dir;
    char cwd[4096] = {};
};

TEST_F(InputTest, DragInsideTheWidthShowsTheSelectionAndEnablesSaveSelected) {
    tk::SetControlState(WidthScroller, 8);
    RedrawView();
    EXPECT_EQ(tk::MenuItemDisabled(MainMenu, MenuSaveSelected), 1);
    backend.ScriptCanvasDrag(CanvasView, 10, 10, {{20, 20}, {40, 30}});
    Drain();
    EXPECT_EQ(Status(), "x:10 y:10 w:3 h:20");
    EXPECT_EQ(tk::MenuItemDisabled(MainMenu, MenuSaveSelected), 0);
    EXPECT_EQ(state.selection.x2, 40);
    EXPECT_EQ(state.selection.y2, 30);

    // A new press greys the item again and makes the selection a point.
    backend.ScriptCanvasDrag(CanvasView, 5, 6, {});
    Drain();
    EXPECT_EQ(tk::MenuItemDisabled(MainMenu, MenuSaveSelected), 1);
    EXPECT_EQ(Status(), "Invalid Selection,w:-5,h:-6");
}

TEST_F(InputTest, DragWiderThanTheSpriteIsStoredButNotRepainted) {
    tk::SetControlState(WidthScroller, 1); // limit: 8 sprite pixels
    RedrawView();
    backend.ScriptCanvasDrag(CanvasView, 0, 0, {{4, 4}});
    Drain();
    int shows = backend.canvasShows;
    backend.ScriptCanvasMove(CanvasView, 30, 20, 1); // 30 pixels wide: past the limit
    Drain();
    EXPECT_EQ(backend.canvasShows, shows);
    EXPECT_EQ(state.selection.x2, 30);
    backend.ScriptCanvasMove(CanvasView, 6, 20, 1); // back inside
    Drain();
    EXPECT_GT(backend.canvasShows, shows);
}

TEST_F(InputTest, RightClickJumpsByPositionAndWidth) {
    tk::SetControlState(WidthScroller, 2);
    RedrawView();
    backend.ScriptCanvasDrag(CanvasView, 0, 0, {}, true);
    Drain();
    EXPECT_EQ(tk::GetControlState(RowScroller), 0);
    // x 17 -> t = 16; n = T(16 * 60 / 2) = 480; plus y 3.
    tk::SetControlAttribute(RowScroller, tk::Maximum, 100000);
    backend.ScriptCanvasDrag(CanvasView, 17, 3, {}, true);
    Drain();
    EXPECT_EQ(tk::GetControlState(RowScroller), 483);
}

TEST_F(InputTest, ArrowKeysChangeWidthAndRowWithinTheScrollRanges) {
    backend.PressKey(tk::VkLeft); // width 1 stays 1 (the scroll bar clamps)
    RunLoopPass();
    EXPECT_EQ(tk::GetControlState(WidthScroller), 1);
    EXPECT_EQ(tk::GetControlAttribute(OffsetSpin, tk::Minimum), 0);
    EXPECT_EQ(tk::GetControlAttribute(OffsetSpin, tk::Maximum), 0);
    backend.SetKeyDown(tk::VkLeft, false);

    tk::SetControlState(WidthScroller, 256);
    backend.PressKey(tk::VkRight);
    RunLoopPass();
    EXPECT_EQ(tk::GetControlState(WidthScroller), 256);
    EXPECT_EQ(tk::GetControlAttribute(OffsetSpin, tk::Minimum), -257);
    EXPECT_EQ(tk::GetControlAttribute(OffsetSpin, tk::Maximum), 257);
    EXPECT_EQ(tk::GetControlText(OffsetSpin), "0");
    backend.SetKeyDown(tk::VkRight, false);

    // A key held down counts once.
    backend.PressKey(tk::VkUp);
    RunLoopPass();
    RunLoopPass();
    EXPECT_EQ(tk::GetControlState(RowScroller), 1);
    backend.SetKeyDown(tk::VkUp, false);
    backend.PressKey(tk::VkDown);
    RunLoopPass();
    EXPECT_EQ(tk::GetControlState(RowScroller), 0);
    backend.SetKeyDown(tk::VkDown, false);
    backend.PressKey(tk::VkDown); // at 0 it stays
    RunLoopPass();
    EXPECT_EQ(tk::GetControlState(RowScroller), 0);
}

TEST_F(InputTest, EscapeEndsTheLoopAfterOneMoreWait) {
    // An event already waiting is handled by the pass that saw Escape.
    tk::PostEvent(tk::MenuEvent, MenuZoom2, MainWindow, 0, nullptr, nullptr);
    backend.PressKey(tk::VkEscape);
    RunEventLoop();
    EXPECT_EQ(state.quitRequested, 1);
    EXPECT_EQ(state.zoom, 2);

    // With nothing waiting, the pass waits for one native message, which only wakes it: the
    // event that message posts is left for a loop that no longer runs.
    state.quitRequested = 0;
    backend.SetKeyDown(tk::VkEscape, false);
    backend.PressKey(tk::VkEscape);
    backend.ScriptMenu(MainWindow, MenuZoom8);
    RunEventLoop();
    EXPECT_EQ(state.zoom, 2);
    EXPECT_EQ(tk::QueuedEventCount(), 1);
}

TEST_F(InputTest, GridSpinBoxesAreClampedAndRewritten) {
    auto typeText = [&](int control, const std::string& text) {
        backend.Script([control, text] {
            tk::notify::TextEdited(control, text, static_cast<int32_t>(text.size()));
        });
        Drain();
    };
    typeText(GridXSpin, "abc");
    EXPECT_EQ(tk::GetControlState(GridXSpin), 1);
    EXPECT_EQ(tk::GetControlText(GridXSpin), "1");
    EXPECT_EQ(tk::ControlCaret(GridXSpin), 1);
    typeText(GridYSpin, "99");
    EXPECT_EQ(tk::GetControlText(GridYSpin), "25");
    EXPECT_EQ(tk::GetControlState(GridYSpin), 25);
    EXPECT_EQ(tk::ControlCaret(GridYSpin), 2);
    typeText(GridYSpin, "-5");
    EXPECT_EQ(tk::GetControlText(GridYSpin), "1");
    // The arrows rewrite from the state.
    backend.ScriptSpinArrow(GridYSpin, +1);
    Drain();
    EXPECT_EQ(tk::GetControlText(GridYSpin), "2");
}

TEST_F(InputTest, OffsetIsClampedAboveByTheWidthOnly) {
    tk::SetControlState(WidthScroller, 4);
    backend.ScriptThumbDrag(WidthScroller, {4});
    Drain();
    EXPECT_EQ(tk::GetControlAttribute(OffsetSpin, tk::Minimum), -4);
    EXPECT_EQ(tk::GetControlAttribute(OffsetSpin, tk::Maximum), 4);
    backend.Script([] { tk::notify::TextEdited(OffsetSpin, "9", 1); });
    Drain();
    EXPECT_EQ(tk::GetControlText(OffsetSpin), "4");
    backend.Script([] { tk::notify::TextEdited(OffsetSpin, "-100", 4); });
    Drain();
    EXPECT_EQ(tk::GetControlText(OffsetSpin), "-100");
    EXPECT_EQ(tk::GetControlText(DispField), "-4"); // the state is held in the -4..4 range
}

TEST_F(InputTest, DispButtonJumpsToTheTypedPosition) {
    tk::SetControlState(WidthScroller, 3);
    RedrawView();
    tk::SetControlAttribute(RowScroller, tk::Maximum, 10000);
    tk::SetControlText(DispField, "100");
    backend.ScriptButtonClick(DispGoButton);
    Drain();
    EXPECT_EQ(tk::GetControlState(RowScroller), 33);
    EXPECT_EQ(tk::GetControlText(DispField), "99");
}

TEST_F(InputTest, DropLoadsTheFirstPathAndZoomAndQuitMenusAct) {
    std::string a = MakeFile("a.bin", std::string(600, '\x55'));
    std::string b = MakeFile("b.bin", "bb");
    backend.ScriptDrop(MainWindow, {a, b});
    Drain();
    EXPECT_EQ(state.fileSize, 600);
    EXPECT_EQ(state.loadedPath, a);
    backend.ScriptMenu(MainWindow, MenuZoom8);
    Drain();
    EXPECT_EQ(state.zoom, 8);
    EXPECT_NE(tk::MainWindowTitle(MainWindow).find(" zoom:8"), std::string::npos);
    backend.ScriptMenu(MainWindow, MenuQuit);
    Drain();
    EXPECT_EQ(state.quitRequested, 1);
}

TEST_F(InputTest, UnreadableDropKeepsThePreviousFileAndPath) {
    std::string good = MakeFile("good.bin", "hello");
    backend.ScriptDrop(MainWindow, {good});
    Drain();
    ASSERT_EQ(state.fileSize, 5);
    backend.ScriptDrop(MainWindow, {dir}); // a directory cannot be opened as a file
    Drain();
    EXPECT_EQ(state.quitRequested, 0);
    EXPECT_EQ(state.fileSize, 5);
    EXPECT_EQ(state.loadedPath, good);
    ASSERT_FALSE(backend.dialogs.empty());
    EXPECT_EQ(backend.dialogs.back().text, "Couldn't open the file!");
}

TEST_F(InputTest, OpenMenuLoadsTheChosenFileAndCancelEmptiesThePath) {
    std::string f = MakeFile("c.bin", "xyz");
    backend.AnswerFileDialog(f);
    backend.ScriptMenu(MainWindow, MenuOpen);
    Drain();
    EXPECT_EQ(state.fileSize, 3);
    ASSERT_FALSE(backend.dialogs.empty());
    EXPECT_EQ(backend.dialogs.back().title, "Please choose file to load");
    backend.ScriptMenu(MainWindow, MenuOpen); // cancelled: nothing queued to answer
    Drain();
    EXPECT_EQ(state.loadedPath, "");
    EXPECT_EQ(state.fileSize, 3);
}

TEST_F(InputTest, CanvasAttributesIgnoreDataTheCanvasDidNotAttach) {
    // An event posted by the program under the canvas's number may carry any record; reading it
    // as pointer data would run past its end.
    auto* small = new int32_t(77);
    tk::PostEvent(tk::ControlEvent, CanvasView, MainWindow, tk::MouseMove, small,
                  [](void* p) { delete static_cast<int32_t*>(p); });
    ASSERT_EQ(tk::WaitForEvent(), tk::ControlEvent);
    EXPECT_EQ(tk::GetControlAttribute(CanvasView, tk::MouseX), 0);
    EXPECT_EQ(tk::GetControlAttribute(CanvasView, tk::Buttons), 0);
}

TEST_F(InputTest, CloseBoxEndsTheLoop) {
    backend.ScriptClose(MainWindow);
    RunEventLoop();
    EXPECT_EQ(state.quitRequested, 1);
}

} // namespace
