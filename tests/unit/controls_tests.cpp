// The control table, text fields, check boxes, buttons, keyboard focus and the global key state.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/scripted_backend.h"
#include "toolkit/backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace tk {
namespace {

class ControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(InitToolkit(&backend), 1);
        ASSERT_NE(CreateMainWindow(0, 0, 0, 660, 610, "controls", 0xCA0001), 0);
    }
    void TearDown() override { ReleaseToolkit(); }

    // (source, sub-kind) of every ControlEvent the loop receives until nothing is left.
    std::vector<std::pair<int, int32_t>> Drain() {
        std::vector<std::pair<int, int32_t>> seen;
        for (int32_t kind; (kind = WaitForEvent()) != NullIdle;)
            if (kind == ControlEvent) seen.emplace_back(EventControl(), EventKind());
        return seen;
    }

    pmtest::ScriptedBackend backend;
};

using Events = std::vector<std::pair<int, int32_t>>;

TEST_F(ControlsTest, DigitsOnlyFieldRefusesLettersPostsChangesAndFocusAndKeepsItsLimit) {
    ASSERT_NE(AddTextField(3, 0, 0, 80, 20, "", TextDigitsOnly), 0);
    EXPECT_FALSE(notify::AcceptsTyping(3, "1a"));
    EXPECT_TRUE(notify::AcceptsTyping(3, "42"));
    backend.ScriptTyping(3, "x7");
    EXPECT_EQ(Drain(), (Events{{3, EditUpdate}, {3, EditChange}}));
    EXPECT_EQ(GetControlText(3), "7");

    backend.Script([] { notify::FocusChanged(3, true); });
    backend.Script([] { notify::FocusChanged(3, false); });
    EXPECT_EQ(Drain(),
              (Events{{3, FocusGained}, {3, EditSetFocus}, {3, FocusLost}, {3, EditKillFocus}}));
    EXPECT_EQ(FocusedControl(), -1);

    EXPECT_EQ(GetControlAttribute(3, MaximumLength), 32767);
    SetControlAttribute(3, MaximumLength, -5);
    EXPECT_EQ(GetControlAttribute(3, MaximumLength), 1);
    SetControlAttribute(3, MaximumLength, 4);
    EXPECT_TRUE(notify::AcceptsTyping(3, "123"));
    EXPECT_FALSE(notify::AcceptsTyping(3, "1234"));
    notify::TextEdited(3, "712345678", 9); // a paste beyond the limit is cut at it
    EXPECT_EQ(backend.controls.at(ControlHandle(3)).text, "7123");
    EXPECT_EQ(ControlCaret(3), 4);
}

TEST_F(ControlsTest, CheckBoxTogglesOnClickAndButtonPostsClick) {
    ASSERT_NE(AddCheckBox(4, 0, 0, 80, 20, "Grid"), 0);
    ASSERT_NE(AddButton(5, 0, 30, 80, 20, ">"), 0);
    backend.Script([] { notify::CheckClicked(4); });
    backend.Script([] { notify::ButtonClicked(5); });
    backend.Script([] { notify::CheckClicked(4); });
    EXPECT_EQ(Drain(), (Events{{4, 0}, {5, 0}, {4, 0}}));
    EXPECT_EQ(GetControlState(4), 0);
    notify::CheckClicked(4);
    EXPECT_EQ(GetControlState(4), 1);
    SetControlState(4, 0);
    SetControlState(4, -1); // a two-state box: checked
    EXPECT_EQ(backend.controls.at(ControlHandle(4)).state, 1);
}

int boundRuns = 0;
void CountRun() {
    ++boundRuns;
}

TEST_F(ControlsTest, ProgrammaticChangesPostNothingAndRunNoProcedure) {
    ASSERT_NE(AddScrollBar(1, 0, 0, 100, 17, 0, 100, 10, 0), 0);
    ASSERT_NE(AddCheckBox(2, 0, 0, 80, 20, "c"), 0);
    ASSERT_NE(AddTextField(3, 0, 0, 80, 20, "", 0), 0);
    ASSERT_NE(AddLabel(4, 0, 0, 80, 20, "l", LabelRight), 0);
    boundRuns = 0;
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, &CountRun);
    for (int n = 1; n <= 4; ++n) {
        SetControlState(n, 5);
        SetControlText(n, "text");
    }
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(boundRuns, 0);
    EXPECT_EQ(GetControlText(4), "text");
    EXPECT_EQ(GetControlState(3), 0); // labels and text fields have no state
    // Events still flow afterwards: the suspension was lifted.
    notify::CheckClicked(2);
    EXPECT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(boundRuns, 1);
}

TEST_F(ControlsTest, TabMovesOverFocusableControlsInCreationOrderAndWraps) {
    ASSERT_NE(AddLabel(10, 0, 0, 10, 10, "l", 0), 0);
    ASSERT_NE(AddCheckBox(11, 0, 0, 10, 10, "c"), 0);
    ASSERT_NE(AddScrollBar(12, 0, 0, 10, 10, 0, 9, 1, 0), 0);
    ASSERT_NE(AddTextField(13, 0, 0, 10, 10, "", 0), 0);
    ASSERT_NE(AddCanvas(14, 0, 0, 10, 10), 0);
    ASSERT_NE(AddSpinBox(15, 0, 0, 10, 10, 0, 9, 0), 0);
    ASSERT_NE(AddCanvas(16, 0, 0, 10, 10, CanvasKeyboard), 0);
    ASSERT_NE(AddButton(2, 0, 0, 10, 10, "b"), 0); // a low number created last comes last

    EXPECT_EQ(FocusedControl(), -1);
    std::vector<int> order;
    for (int i = 0; i < 6; ++i) {
        MoveFocus(false);
        order.push_back(FocusedControl());
        EXPECT_EQ(backend.focused, ControlHandle(FocusedControl()));
    }
    EXPECT_EQ(order, (std::vector<int>{11, 13, 15, 16, 2, 11}));

    notify::TabKey(0, true);
    EXPECT_EQ(FocusedControl(), 2);
    notify::TabKey(0, true);
    EXPECT_EQ(FocusedControl(), 16);

    DestroyControl(16);
    EXPECT_EQ(FocusedControl(), -1);
    MoveFocus(true); // nothing focused: Shift+Tab starts at the last
    EXPECT_EQ(FocusedControl(), 2);
}

TEST_F(ControlsTest, ReCreationReplacesTheOldControlAndItsWaitingEvents) {
    intptr_t first = AddScrollBar(3, 0, 0, 100, 17, 0, 100, 10, 0);
    ASSERT_NE(first, 0);
    notify::ScrollAction(3, notify::Scroll::LineDown, 0);
    ASSERT_NE(AddButton(4, 0, 0, 10, 10, "keep"), 0);
    notify::ButtonClicked(4);
    ASSERT_EQ(QueuedEventCount(), 2);

    intptr_t second = AddCheckBox(3, 0, 0, 80, 20, "new");
    ASSERT_NE(second, 0);
    EXPECT_EQ(backend.controls.count(first), 0u);
    EXPECT_EQ(ControlHandle(3), second);
    ASSERT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(QueuedEventAt(0).source, 4);
    ASSERT_NE(AddButton(120, 0, 0, 10, 10, "far"), 0); // beyond the first room
    EXPECT_EQ(GetControlText(120), "far");

    CloseWindow(0); // takes its controls and their events
    EXPECT_EQ(ControlKind(4), 0);
    EXPECT_TRUE(backend.controls.empty());
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(AddButton(1, 0, 0, 10, 10, "b"), 0) << "no window to hold it";
}

TEST_F(ControlsTest, MissingNumbersDoNothing) {
    for (int n : {-1, 0, 49, 50, 1000000}) {
        EXPECT_EQ(
            SetControlState(n, 3) | SetControlText(n, "x") | SetControlAttribute(n, Minimum, 1), 0);
        EXPECT_EQ(GetControlState(n) | GetControlAttribute(n, Minimum) | ControlHandle(n), 0);
        EXPECT_EQ(GetControlText(n), "");
        DestroyControl(n);
    }
    EXPECT_EQ(AddButton(-1, 0, 0, 10, 10, "b"), 0);
    EXPECT_EQ(AddButton(70000, 0, 0, 10, 10, "b"), 0);
    EXPECT_EQ(QueuedEventCount(), 0);
}

} // namespace
} // namespace tk
