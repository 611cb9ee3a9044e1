// Controls: text fields, check boxes, buttons, scroll bars, spin boxes, the control table and the
// keyboard focus, driven through the scripted backend.
#include <gtest/gtest.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace tk {
namespace {

using Events = std::vector<std::pair<int, int32_t>>; // (control, sub-kind) of each ControlEvent

class Controls : public ::testing::Test {
  protected:
    pmtest::ScriptedToolkit toolkit;
    pmtest::ScriptedBackend& backend = toolkit.backend;
    void SetUp() override { ASSERT_TRUE(toolkit.ok); }
    Events Drain() {
        Events events;
        for (const pmtest::Seen& seen : pmtest::Drain())
            if (seen.kind == ControlEvent) events.emplace_back(seen.source, seen.subKind);
        return events;
    }
    const ControlView& Shown(int number) { return backend.controls.at(ControlHandle(number)); }
};

int g_runs = 0;
void CountRun() {
    ++g_runs;
}

TEST_F(Controls, DigitsOnlyFieldTakesDigitsWithinItsLimitAndPostsUpdateThenChange) {
    ASSERT_NE(AddTextField(3, 0, 0, 80, 20, "", TextDigitsOnly), 0);
    backend.ScriptTyping(3, "x7");
    backend.Script([] { notify::FocusChanged(3, true); });
    backend.Script([] { notify::FocusChanged(3, false); });
    EXPECT_EQ(Drain(), (Events{{3, EditUpdate},
                               {3, EditChange},
                               {3, FocusGained},
                               {3, EditSetFocus},
                               {3, FocusLost},
                               {3, EditKillFocus}}));
    EXPECT_EQ(GetControlText(3), "7");
    EXPECT_EQ(FocusedControl(), -1);
    EXPECT_EQ(GetControlAttribute(3, MaximumLength), 32767);
    SetControlAttribute(3, MaximumLength, -5);
    EXPECT_EQ(GetControlAttribute(3, MaximumLength), 1);
    SetControlAttribute(3, MaximumLength, 4);
    EXPECT_TRUE(notify::AcceptsTyping(3, "123"));
    EXPECT_FALSE(notify::AcceptsTyping(3, "1234"));
    notify::TextEdited(3, "712345678", 9); // a paste beyond the limit is cut at it
    EXPECT_EQ(Shown(3).text, "7123");
    EXPECT_EQ(ControlCaret(3), 4);
}

TEST_F(Controls, UserClicksPostButProgrammaticChangesPostNothingAndRunNoProcedure) {
    ASSERT_NE(AddCheckBox(4, 0, 0, 80, 20, "Grid"), 0);
    ASSERT_NE(AddButton(5, 0, 30, 80, 20, ">"), 0);
    ASSERT_NE(AddTextField(6, 0, 0, 80, 20, "", 0), 0);
    ASSERT_NE(AddLabel(7, 0, 0, 80, 20, "l", LabelRight), 0);
    backend.Script([] { notify::CheckClicked(4); });
    backend.ScriptButtonClick(5);
    EXPECT_EQ(Drain(), (Events{{4, 0}, {5, 0}}));
    EXPECT_EQ(GetControlState(4), 1);
    g_runs = 0;
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, &CountRun);
    for (int n = 4; n <= 7; ++n) SetControlText(n, "text"), SetControlState(n, 0);
    SetControlState(4, -1); // a two-state box: checked
    EXPECT_EQ(QueuedEventCount() + g_runs, 0);
    EXPECT_EQ(Shown(4).state, 1);
    EXPECT_EQ(GetControlText(7), "text");
    EXPECT_EQ(GetControlState(6), 0) << "text fields have no state";
    notify::CheckClicked(4);
    EXPECT_EQ(GetControlState(4), 0);
    EXPECT_EQ(g_runs, 1) << "events flow again afterwards";
}

TEST_F(Controls, TabMovesOverFocusableControlsInCreationOrderAndWraps) {
    ASSERT_NE(AddLabel(10, 0, 0, 10, 10, "l", 0), 0);
    ASSERT_NE(AddCheckBox(11, 0, 0, 10, 10, "c"), 0);
    ASSERT_NE(AddScrollBar(12, 0, 0, 10, 10, 0, 9, 1, 0), 0);
    ASSERT_NE(AddTextField(13, 0, 0, 10, 10, "", 0), 0);
    ASSERT_NE(AddCanvas(14, 0, 0, 10, 10), 0);
    ASSERT_NE(AddSpinBox(15, 0, 0, 10, 10, 0, 9, 0), 0);
    ASSERT_NE(AddCanvas(16, 0, 0, 10, 10, CanvasKeyboard), 0);
    ASSERT_NE(AddButton(2, 0, 0, 10, 10, "b"), 0); // a low number created last comes last
    std::vector<int> order;
    for (int i = 0; i < 6; ++i) {
        MoveFocus(false);
        order.push_back(FocusedControl());
        EXPECT_EQ(backend.focused, ControlHandle(FocusedControl()));
    }
    EXPECT_EQ(order, (std::vector<int>{11, 13, 15, 16, 2, 11}));
    notify::TabKey(0, true);
    notify::TabKey(0, true);
    EXPECT_EQ(FocusedControl(), 16);
    DestroyControl(16);
    EXPECT_EQ(FocusedControl(), -1);
    MoveFocus(true); // nothing focused: Shift+Tab starts at the last
    EXPECT_EQ(FocusedControl(), 2);
}

TEST_F(Controls, ReCreationReplacesTheOldControlAndItsWaitingEventsAndMissingNumbersDoNothing) {
    const intptr_t first = AddScrollBar(3, 0, 0, 100, 17, 0, 100, 10, 0);
    notify::ScrollAction(3, notify::Scroll::LineDown, 0);
    ASSERT_NE(AddButton(4, 0, 0, 10, 10, "keep"), 0);
    notify::ButtonClicked(4);
    const intptr_t second = AddCheckBox(3, 0, 0, 80, 20, "new");
    EXPECT_EQ(backend.controls.count(first), 0u);
    EXPECT_EQ(ControlHandle(3), second);
    EXPECT_EQ(Drain(), (Events{{4, 0}}));
    ASSERT_NE(AddButton(120, 0, 0, 10, 10, "far"), 0); // beyond the first room
    EXPECT_EQ(GetControlText(120), "far");
    for (int n : {-1, 0, 49, 1000000}) {
        EXPECT_EQ(SetControlState(n, 3) | SetControlText(n, "x") | SetControlAttribute(n, 1, 1), 0);
        EXPECT_EQ(GetControlState(n) | GetControlAttribute(n, 1) | ControlHandle(n), 0);
        EXPECT_EQ(GetControlText(n), "");
        DestroyControl(n);
    }
    EXPECT_EQ(AddButton(-1, 0, 0, 10, 10, "b") | AddButton(70000, 0, 0, 10, 10, "b"), 0);
    CloseWindow(0); // takes its controls and their events
    EXPECT_EQ(ControlKind(4), 0);
    EXPECT_TRUE(backend.controls.empty());
}

TEST_F(Controls, ScrollPositionStaysWithinTheRangeLessThePage) {
    ASSERT_NE(AddScrollBar(1, 0, 0, 17, 481, 0, 481, 32, ScrollVertical), 0);
    const std::tuple<int, int64_t, int32_t, int32_t> steps[] = {
        // attribute (0: the position itself), value, position after, shown maximum after
        {0, 1000, 450, 481},
        {0, INT32_MIN, 0, 481},
        {0, 200, 200, 481},
        {Maximum, 100, 69, 100},
        {0, 500, 69, 100},
        {PageLength, 51, 50, 100},
        {PageLength, 0, 50, 100},
        {0, 100, 100, 100},
        {Minimum, 120, 120, 100},
        {Minimum, 0, 100, 100},
        {PageLength, INT32_MIN, 100, 100}, // no page, no overflow
    };
    for (auto [attribute, value, position, maximum] : steps) {
        EXPECT_EQ(attribute ? SetControlAttribute(1, attribute, value) : SetControlState(1, value),
                  1);
        EXPECT_EQ(GetControlState(1), position) << attribute << " " << value;
        EXPECT_EQ(Shown(1).state, position);
        EXPECT_EQ(GetControlAttribute(1, Maximum), maximum);
    }
    EXPECT_EQ(SetControlAttribute(1, 9, 5) + GetControlAttribute(1, 9) + QueuedEventCount(), 0);
}

TEST_F(Controls, ScrollActionsMoveClampAndPostEvenWhenNothingMoves) {
    ASSERT_NE(AddScrollBar(1, 0, 0, 17, 481, 0, 481, 32, ScrollVertical), 0);
    SetControlState(1, 440);
    using notify::Scroll;
    const std::tuple<Scroll, int32_t, int32_t> steps[] = {
        {Scroll::LineDown, 0, 441},     {Scroll::PageDown, 0, 450}, {Scroll::LineDown, 0, 450},
        {Scroll::PageUp, 0, 418},       {Scroll::LineUp, 0, 417},   {Scroll::ThumbTrack, 7, 7},
        {Scroll::ThumbTrack, -50, 0},   {Scroll::LineUp, 0, 0},     {Scroll::Top, 0, 0},
        {Scroll::ThumbTrack, 999, 450}, {Scroll::EndScroll, 0, 450}};
    for (auto [action, track, position] : steps) {
        notify::ScrollAction(1, action, track);
        EXPECT_EQ(GetControlState(1), position);
        EXPECT_EQ(Shown(1).state, position);
        EXPECT_EQ(Drain(), (Events{{1, 0}}));
    }
    ASSERT_NE(AddButton(3, 0, 0, 10, 10, "b"), 0);
    for (int other : {3, 40, -1}) notify::ScrollAction(other, Scroll::LineDown, 0);
    EXPECT_EQ(QueuedEventCount(), 0);
}

std::vector<int32_t> g_positions;
void RecordPosition() {
    g_positions.push_back(GetControlState(1));
}

TEST_F(Controls, AThumbDragRunsTheBindingPerNotificationAndQueuesOneEvent) {
    ASSERT_NE(AddScrollBar(1, 0, 0, 17, 481, 0, 481, 32, ScrollVertical), 0);
    BindControlCallback(1, &RecordPosition);
    backend.ScriptThumbDrag(1, {400, 300, 500, 5});
    backend.RunScript(); // back to back, as in the drag loop of the native control
    EXPECT_EQ(g_positions, (std::vector<int32_t>{400, 300, 450, 5, 5, 5}));
    EXPECT_EQ(Drain(), (Events{{1, 0}}));
}

TEST_F(Controls, SpinArrowsMoveWithinTheRangeAndNumericOnesRewriteTheText) {
    ASSERT_NE(AddSpinBox(5, 10, 500, 80, 20, 1, 25, SpinNumeric), 0);
    ASSERT_NE(AddSpinBox(6, 100, 500, 80, 20, 7, 0, 0), 0); // bounds either way round
    ASSERT_NE(AddSpinBox(7, 200, 500, 80, 20, 0, 9, SpinReadOnly | SpinNumeric), 0);
    SetControlState(5, 24);
    SetControlText(6, "free");
    struct Step {
        int control, delta, position;
        const char* text;
        Events events;
    };
    const Step steps[] = {
        {5, +1, 25, "25", {{5, ChangeEvent}, {5, SpinUp}}},
        {5, +1, 25, "25", {{5, SpinUp}}}, // at the end: the text stays, the direction posts
        {5, -1, 24, "24", {{5, ChangeEvent}, {5, SpinDown}}},
        {6, +1, 1, "free", {{6, SpinUp}}}, // a free text stays as it is
        {7, +1, 1, "1", {{7, ChangeEvent}, {7, SpinUp}}},
    };
    for (const Step& s : steps) {
        backend.ScriptSpinArrow(s.control, s.delta);
        EXPECT_EQ(Drain(), s.events);
        EXPECT_EQ(GetControlState(s.control), s.position);
        EXPECT_EQ(Shown(s.control).text, s.text);
    }
    EXPECT_FALSE(notify::AcceptsTyping(7, "3")) << "read-only text";
    SetControlState(6, 6);
    ASSERT_EQ(SetControlAttribute(6, Minimum, 3), 1);
    EXPECT_EQ(GetControlAttribute(6, Maximum), 0);
    EXPECT_EQ(GetControlState(6), 6) << "a range change leaves the position until it moves";
    notify::SpinArrow(6, -1);
    EXPECT_EQ(GetControlState(6), 3);
}

TEST_F(Controls, SpinTextTypedPostsChangesButTheProgramsOwnEchoDoesNot) {
    ASSERT_NE(AddSpinBox(5, 10, 500, 80, 20, 1, 25, SpinNumeric), 0);
    SetControlText(5, "");
    backend.ScriptTyping(5, "12");
    EXPECT_EQ(Drain(), (Events{{5, ChangeEvent}, {5, ChangeEvent}}));
    EXPECT_EQ(ControlCaret(5), 2);
    EXPECT_EQ(SetControlState(5, 8), 1);
    backend.Script([] { notify::TextEdited(5, "8", 1); }); // the native control echoing it
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(ControlCaret(5), 1);
    SetControlText(5, "1234");
    SendKeyToControl(ControlHandle(5), VkEnd);
    EXPECT_EQ(Shown(5).caret, 4);
    SendKeyToControl(0, VkEnd); // no control: nothing
}

void DestroySpin() {
    DestroyControl(5);
}

TEST_F(Controls, ASpinBoxDestroyedByItsOwnChangeEventPostsNoMore) {
    ASSERT_NE(AddSpinBox(5, 10, 500, 80, 20, 1, 25, SpinNumeric), 0);
    BindEvent(ControlEvent, 0, 5, ChangeEvent, &DestroySpin);
    backend.ScriptSpinArrow(5, +1);
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(ControlKind(5), 0);
}

} // namespace
} // namespace tk
