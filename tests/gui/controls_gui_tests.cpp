// The real GTK backend under Xvfb, driven by real X input (XTest): each gesture must give the
// events the scripted backend gives for it.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "tests/gui/support/gui_harness.h"
#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/window.h"
#include "viewer/state.h"

namespace {

using guitest::Harness;

// The program's main window, built as the program builds it, shown and active.
class ControlsGui : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(h.ok()) << h.failure();
        ASSERT_TRUE(viewer::CreateMainWindowAndControls());
        ASSERT_TRUE(h.ShowAndFocus(viewer::MainWindow)) << "the main window never became active";
        h.seen.clear();
    }

    // Moves the pointer to a point of the inner area; the loop then takes what was posted, as
    // the program's loop does after each native message (so equal neighbours are not merged).
    void MoveInner(int x, int y) {
        int sx = 0, sy = 0;
        ASSERT_TRUE(Harness::InnerToScreen(viewer::MainWindow, x, y, &sx, &sy));
        h.MoveTo(sx, sy);
        h.Settle(40);
    }

    guitest::Watchdog dog{120, "a controls GUI test"};
    Harness h;
};

std::vector<int32_t> recordedStates;
void RecordWidthState() {
    recordedStates.push_back(tk::GetControlState(viewer::WidthScroller));
}

TEST_F(ControlsGui, ThumbDragRunsTheBoundProcedurePerNotificationThenOneEventReachesTheLoop) {
    recordedStates.clear();
    tk::BindControlCallback(viewer::WidthScroller, &RecordWidthState);
    GtkWidget* bar = Harness::ControlWidget(viewer::WidthScroller);
    ASSERT_NE(bar, nullptr);
    GdkRectangle slider{};
    gtk_range_get_range_rect(GTK_RANGE(bar), &slider);
    int start = 0, end = 0;
    gtk_range_get_slider_range(GTK_RANGE(bar), &start, &end);
    const int y = slider.y + slider.height / 2;
    int sx = 0, sy = 0;
    ASSERT_TRUE(Harness::ScreenPoint(bar, (start + end) / 2, y, &sx, &sy));

    // The loop takes nothing during the drag: each notification only runs the procedure.
    h.MoveTo(sx, sy);
    h.PumpNative(40);
    h.Press(1);
    h.PumpNative(40);
    for (int step = 1; step <= 10; ++step) {
        h.MoveTo(sx + step * 25, sy);
        h.PumpNative(40);
    }
    h.Release(1);
    h.PumpNative(100);

    const int32_t final = tk::GetControlState(viewer::WidthScroller);
    // Ten track positions, the thumb's release, the end of the scroll.
    ASSERT_EQ(recordedStates.size(), 12u);
    std::set<int32_t> distinct(recordedStates.begin(), recordedStates.begin() + 10);
    EXPECT_EQ(distinct.size(), 10u) << "each track notification moved the position";
    EXPECT_TRUE(std::is_sorted(recordedStates.begin(), recordedStates.end()));
    EXPECT_EQ(recordedStates[11], final);
    EXPECT_EQ(gtk_adjustment_get_value(gtk_range_get_adjustment(GTK_RANGE(bar))), final);
    h.TakeQueued();
    EXPECT_EQ(h.Count(tk::ControlEvent, viewer::WidthScroller), 1u);
    EXPECT_EQ(h.Count(tk::ControlEvent, viewer::WidthScroller, 0), 1u);
}

TEST_F(ControlsGui, SpinArrowsRewriteANumericBoxThenPostChangeAndDirection) {
    ASSERT_EQ(tk::GetControlState(viewer::GridXSpin), 8);
    ASSERT_TRUE(h.ClickWidget(Harness::SpinArrowButton(viewer::GridXSpin, true), 6, 4));
    h.Settle();
    EXPECT_EQ(tk::GetControlState(viewer::GridXSpin), 9);
    EXPECT_EQ(tk::GetControlText(viewer::GridXSpin), "9");
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(Harness::ControlWidget(viewer::GridXSpin))), "9");
    EXPECT_EQ(h.SubKindsOf(viewer::GridXSpin), (std::vector<int32_t>{tk::ChangeEvent, tk::SpinUp}));

    h.seen.clear();
    ASSERT_TRUE(h.ClickWidget(Harness::SpinArrowButton(viewer::GridXSpin, false), 6, 4));
    h.Settle();
    EXPECT_EQ(tk::GetControlText(viewer::GridXSpin), "8");
    EXPECT_EQ(h.SubKindsOf(viewer::GridXSpin),
              (std::vector<int32_t>{tk::ChangeEvent, tk::SpinDown}));

    // At the top of the range the text stays, so only the direction is posted.
    tk::SetControlState(viewer::GridXSpin, 25);
    tk::SetControlText(viewer::GridXSpin, "25");
    h.Settle();
    h.seen.clear();
    ASSERT_TRUE(h.ClickWidget(Harness::SpinArrowButton(viewer::GridXSpin, true), 6, 4));
    h.Settle();
    EXPECT_EQ(tk::GetControlState(viewer::GridXSpin), 25);
    EXPECT_EQ(h.SubKindsOf(viewer::GridXSpin), (std::vector<int32_t>{tk::SpinUp}));

    // A free-text box keeps its text on the arrows.
    ASSERT_TRUE(h.ClickWidget(Harness::SpinArrowButton(viewer::OffsetSpin, true), 6, 4));
    h.Settle();
    EXPECT_EQ(tk::GetControlState(viewer::OffsetSpin), 1);
    EXPECT_EQ(tk::GetControlText(viewer::OffsetSpin), "");
    EXPECT_EQ(h.SubKindsOf(viewer::OffsetSpin), (std::vector<int32_t>{tk::SpinUp}));
}

TEST_F(ControlsGui, ALetterTypedIntoTheDigitsOnlyFieldChangesNothing) {
    GtkWidget* field = Harness::ControlWidget(viewer::DispField);
    ASSERT_TRUE(h.ClickWidget(field, 40, 10));
    h.Key(XK_End);
    h.Settle();
    ASSERT_EQ(tk::FocusedControl(), viewer::DispField);
    h.seen.clear();

    h.TypeText("a");
    h.Settle();
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(field)), "1234567");
    EXPECT_FALSE(h.Saw(tk::ControlEvent, viewer::DispField));

    // A digit goes in, with both edit notifications.
    h.TypeText("5");
    h.Settle();
    EXPECT_EQ(tk::GetControlText(viewer::DispField), "12345675");
    EXPECT_EQ(h.SubKindsOf(viewer::DispField),
              (std::vector<int32_t>{tk::EditUpdate, tk::EditChange}));
}

TEST_F(ControlsGui, CheckBoxClickTogglesAndPostsOnce) {
    GtkWidget* check = Harness::ControlWidget(viewer::GridCheck);
    ASSERT_TRUE(h.ClickWidget(check, 6, 10));
    h.Settle();
    EXPECT_EQ(tk::GetControlState(viewer::GridCheck), 1);
    EXPECT_EQ(h.SubKindsOf(viewer::GridCheck), (std::vector<int32_t>{0}));
    // A change made by the program posts nothing.
    h.seen.clear();
    tk::SetControlState(viewer::GridCheck, 0);
    h.Settle();
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)));
    EXPECT_FALSE(h.Saw(tk::ControlEvent));
}

using Step = std::tuple<int32_t, int32_t, int32_t, uint32_t>; // sub-kind, x, y, buttons

std::vector<Step> CanvasSteps(const std::vector<guitest::Seen>& seen) {
    std::vector<Step> steps;
    for (const auto& e : seen) {
        if (e.kind == tk::ControlEvent && e.source == viewer::CanvasView)
            steps.emplace_back(e.subKind, e.mouseX, e.mouseY, e.buttons);
    }
    return steps;
}

TEST_F(ControlsGui, CanvasDragGivesTheScriptedSequence) {
    MoveInner(300, 575); // the status bar, off the canvas
    MoveInner(10, 20);
    h.Press(1);
    h.PumpNative(40);
    MoveInner(20, 30);
    MoveInner(30, 40);
    h.Release(1);
    h.Settle();
    std::vector<Step> real = CanvasSteps(h.seen);

    // The same gesture on the scripted backend.
    tk::ReleaseToolkit();
    pmtest::ScriptedBackend backend;
    ASSERT_NE(tk::InitToolkit(&backend), 0);
    ASSERT_TRUE(viewer::CreateMainWindowAndControls());
    backend.ScriptCanvasDrag(viewer::CanvasView, 10, 20, {{20, 30}, {30, 40}});
    std::vector<Step> scripted;
    while (backend.ScriptedLeft() > 0 || tk::QueuedEventCount() > 0) {
        if (tk::WaitForEvent() != tk::ControlEvent || tk::EventControl() != viewer::CanvasView)
            continue;
        auto at = [](int a) { return tk::GetControlAttribute(viewer::CanvasView, a); };
        scripted.emplace_back(tk::EventKind(), at(tk::MouseX), at(tk::MouseY), at(tk::Buttons));
    }
    tk::ReleaseToolkit();
    ASSERT_NE(tk::InitToolkit(&h.backend()), 0); // the harness releases it at the end

    const std::vector<Step> expected{{tk::MouseEnter, 10, 20, 0},   {tk::LeftButtonDown, 10, 20, 1},
                                     {tk::MouseMove, 20, 30, 1},    {tk::MouseMove, 30, 40, 1},
                                     {tk::LeftButtonUp, 30, 40, 0}, {tk::LeftClick, 30, 40, 0}};
    EXPECT_EQ(scripted, expected);
    EXPECT_EQ(real, expected);
}

TEST_F(ControlsGui, CanvasDragEndingOutsideReportsOutsidePointsAndNoClick) {
    MoveInner(100, 100);
    h.Press(1);
    h.PumpNative(40);
    MoveInner(50, 50);
    MoveInner(-20, 520); // left of the window's inner area, below the canvas
    h.Release(1);
    h.Settle();
    std::vector<Step> steps = CanvasSteps(h.seen);
    ASSERT_GE(steps.size(), 4u);
    EXPECT_LT(std::get<1>(steps[3]), 0) << ::testing::PrintToString(steps);
    EXPECT_GT(std::get<2>(steps[3]), 480);
    // The pointer leaves when the button lets go of it, not while it is held.
    const std::vector<int32_t> expected{tk::MouseEnter, tk::LeftButtonDown, tk::MouseMove,
                                        tk::MouseMove,  tk::LeftButtonUp,   tk::MouseLeave};
    EXPECT_EQ(h.SubKindsOf(viewer::CanvasView), expected);
}

TEST_F(ControlsGui, OneQuickClickChoosesACommandOnTheBar) {
    GtkWidget* item = Harness::FindMenuItem(viewer::MainWindow, "x2");
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(h.ClickWidget(item, 6, 6, 1, 50));
    ASSERT_TRUE(h.PumpUntil([&] { return h.Saw(tk::MenuEvent); }, 1500));
    h.Settle();
    EXPECT_EQ(h.Count(tk::MenuEvent), 1u);
    EXPECT_EQ(h.Count(tk::MenuEvent, viewer::MenuZoom2), 1u);
}

TEST_F(ControlsGui, AGreyedBarItemPostsNothingUntilEnabled) {
    GtkWidget* item = Harness::FindMenuItem(viewer::MainWindow, "Save selected");
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(h.ClickWidget(item, 10, 6));
    h.Settle(300);
    EXPECT_FALSE(h.Saw(tk::MenuEvent));

    tk::SetMenuItemDisabled(viewer::MainMenu, viewer::MenuSaveSelected, 0);
    ASSERT_TRUE(h.ClickWidget(item, 10, 6));
    ASSERT_TRUE(h.PumpUntil([&] { return h.Saw(tk::MenuEvent); }, 1500));
    EXPECT_EQ(h.Count(tk::MenuEvent, viewer::MenuSaveSelected), 1u);
}

TEST_F(ControlsGui, DropDownItemIsChosenFromTheTitle) {
    GtkWidget* title = Harness::FindMenuItem(viewer::MainWindow, "Project");
    ASSERT_TRUE(h.ClickWidget(title, 10, 6));
    GtkWidget* item = Harness::FindMenuItem(viewer::MainWindow, "Save binary..");
    ASSERT_TRUE(h.PumpUntil([&] { return gtk_widget_get_mapped(item); }, 1500));
    h.PumpNative(100);
    ASSERT_TRUE(h.ClickWidget(item, 10, 5));
    ASSERT_TRUE(h.PumpUntil([&] { return h.Saw(tk::MenuEvent); }, 1500));
    EXPECT_EQ(h.Count(tk::MenuEvent, viewer::MenuSaveBinary), 1u);
}

TEST_F(ControlsGui, CloseRequestPostsCloseEventAndTheWindowStays) {
    ASSERT_TRUE(h.SendCloseRequest(viewer::MainWindow));
    ASSERT_TRUE(h.PumpUntil([&] { return h.Saw(tk::CloseEvent); }, 2000));
    EXPECT_EQ(h.Count(tk::CloseEvent, viewer::MainWindow), 1u);
    h.Settle(200);
    EXPECT_TRUE(gtk_widget_get_mapped(Harness::WindowWidget(viewer::MainWindow)));
    EXPECT_NE(tk::WindowHandle(viewer::MainWindow), 0);
}

TEST_F(ControlsGui, TabMovesTheFocusInCreationOrderOverControlsThatTakeIt) {
    const std::vector<int> order{viewer::GridCheck,  viewer::InvertCheck, viewer::MultiColumnsCheck,
                                 viewer::AlignCheck, viewer::OffsetSpin,  viewer::GridXSpin,
                                 viewer::GridYSpin,  viewer::DispField,   viewer::DispGoButton};
    std::vector<int> forwards;
    for (size_t i = 0; i <= order.size(); ++i) {
        h.Key(XK_Tab);
        h.Settle(60);
        forwards.push_back(tk::FocusedControl());
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(Harness::WindowWidget(0)));
        EXPECT_EQ(focus, Harness::ControlWidget(tk::FocusedControl())) << "step " << i;
    }
    std::vector<int> expected = order;
    expected.push_back(order.front()); // wraps around
    EXPECT_EQ(forwards, expected);

    h.Key(XK_Tab, true);
    h.Settle(60);
    EXPECT_EQ(tk::FocusedControl(), order.back());
}

} // namespace
