// Controls: text fields, check boxes, buttons, scroll bars, spin boxes, the control table and the
// keyboard focus, driven through the scripted backend.
#include <gtest/gtest.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

using namespace tk;

using Events = std::vector<std::pair<int, int32_t>>; // (control, sub-kind) of each ControlEvent
std::vector<int32_t> g_seen;                         // what bound procedures saw

struct Controls : ::testing::Test {
    pmtest::ScriptedToolkit toolkit;
    pmtest::ScriptedBackend& backend = toolkit.backend;
    void SetUp() override {
        ASSERT_TRUE(toolkit.ok);
        g_seen.clear();
    }
    Events Drain() {
        Events events;
        for (const pmtest::Seen& seen : pmtest::Drain())
            if (seen.kind == ControlEvent) events.emplace_back(seen.source, seen.subKind);
        return events;
    }
    const ControlView& Shown(int number) { return backend.controls.at(ControlHandle(number)); }
};

TEST_F(Controls, ADigitsOnlyFieldTakesDigitsWithinItsLimitAndPostsUpdateThenChange) {
    ASSERT_NE(AddTextField(3, 0, 0, 80, 20, "", TextDigitsOnly), 0);
    backend.ScriptTyping(3, "x7");
    backend.Script([] { notify::FocusChanged(3, true), notify::FocusChanged(3, false); });
    const Events expected = {{3, EditUpdate},   {3, EditChange}, {3, FocusGained},
                             {3, EditSetFocus}, {3, FocusLost},  {3, EditKillFocus}};
    EXPECT_EQ(Drain(), expected);
    EXPECT_EQ(GetControlText(3), "7");
    EXPECT_EQ(GetControlAttribute(3, MaximumLength), 32767);
    SetControlAttribute(3, MaximumLength, -5);
    EXPECT_EQ(GetControlAttribute(3, MaximumLength), 1);
    SetControlAttribute(3, MaximumLength, 4);
    EXPECT_TRUE(notify::AcceptsTyping(3, "123") && !notify::AcceptsTyping(3, "1234"));
    notify::TextEdited(3, "712345678", 9); // a paste beyond the limit is cut at it
    EXPECT_EQ(Shown(3).text, "7123");
    EXPECT_EQ(ControlCaret(3), 4);
}

// That changes by the program post nothing and run no procedure, the event fuzzer checks after
// every step.
TEST_F(Controls, ClicksPostAndTheProgramSetsTheStatesAndTexts) {
    ASSERT_NE(AddCheckBox(4, 0, 0, 80, 20, "Grid") * AddButton(5, 0, 30, 80, 20, ">"), 0);
    ASSERT_NE(AddLabel(7, 0, 0, 80, 20, "l", 0), 0);
    backend.Script([] { notify::CheckClicked(4); });
    backend.ScriptButtonClick(5);
    EXPECT_EQ(Drain(), (Events{{4, 0}, {5, 0}}));
    for (int n = 4; n <= 7; ++n) SetControlText(n, "text"), SetControlState(n, 0);
    SetControlState(4, -1); // a two-state box: checked
    EXPECT_EQ(Shown(4).state, 1);
    EXPECT_EQ(GetControlText(7), "text");
    notify::CheckClicked(4);
    EXPECT_EQ(GetControlState(4), 0);
}

TEST_F(Controls, TabMovesOverFocusableControlsInCreationOrderAndWraps) {
    AddLabel(10, 0, 0, 10, 10, "l", 0), AddCheckBox(11, 0, 0, 10, 10, "c");
    AddScrollBar(12, 0, 0, 10, 10, 0, 9, 1, 0), AddTextField(13, 0, 0, 10, 10, "", 0);
    AddCanvas(14, 0, 0, 10, 10), AddSpinBox(15, 0, 0, 10, 10, 0, 9, 0);
    AddCanvas(16, 0, 0, 10, 10, CanvasKeyboard);
    AddButton(2, 0, 0, 10, 10, "b"); // a low number created last comes last
    std::vector<int> order;
    for (int i = 0; i < 6; ++i) {
        MoveFocus(false);
        order.push_back(FocusedControl());
        EXPECT_EQ(backend.focused, ControlHandle(FocusedControl()));
    }
    EXPECT_EQ(order, (std::vector<int>{11, 13, 15, 16, 2, 11}));
    notify::TabKey(0, true), notify::TabKey(0, true);
    EXPECT_EQ(FocusedControl(), 16);
    DestroyControl(16);
    EXPECT_EQ(FocusedControl(), -1);
    MoveFocus(true); // nothing focused: Shift+Tab starts at the last
    EXPECT_EQ(FocusedControl(), 2);
}

TEST_F(Controls, ReCreationReplacesTheOldControlAndItsWaitingEventsAndMissingNumbersDoNothing) {
    const intptr_t first = AddScrollBar(3, 0, 0, 100, 17, 0, 100, 10, 0);
    ASSERT_NE(AddButton(4, 0, 0, 10, 10, "keep"), 0);
    notify::ScrollAction(3, notify::Scroll::LineDown, 0), notify::ButtonClicked(4);
    EXPECT_NE(AddCheckBox(3, 0, 0, 80, 20, "new"), 0);
    EXPECT_EQ(backend.controls.count(first), 0u);
    EXPECT_EQ(Drain(), (Events{{4, 0}}));
    ASSERT_NE(AddButton(120, 0, 0, 10, 10, "far"), 0); // beyond the first room
    EXPECT_EQ(GetControlText(120), "far");
    for (int n : {-1, 0, 49, 1000000}) {
        EXPECT_EQ(SetControlState(n, 3) | SetControlText(n, "x") | SetControlAttribute(n, 1, 1), 0);
        EXPECT_EQ(GetControlState(n) | GetControlAttribute(n, 1) | ControlHandle(n), 0);
        DestroyControl(n);
    }
    EXPECT_EQ(AddButton(-1, 0, 0, 10, 10, "b") | AddButton(70000, 0, 0, 10, 10, "b"), 0);
    CloseWindow(0); // takes its controls
    EXPECT_TRUE(ControlKind(4) == 0 && backend.controls.empty());
}

TEST_F(Controls, AScrollPositionStaysWithinTheRangeLessThePageAndActionsPostEvenWhenItStays) {
    ASSERT_NE(AddScrollBar(1, 0, 0, 17, 481, 0, 481, 32, ScrollVertical), 0);
    // The attribute changed (or the position itself), its value, the position after; the most
    // negative page is no page, without overflow.
    constexpr int Pos = 0, Max = Maximum, Min = Minimum, Page = PageLength, Low = INT32_MIN;
    const std::tuple<int, int32_t, int32_t> changes[] = {
        {Pos, 1000, 450}, {Pos, Low, 0},  {Pos, 200, 200}, {Max, 100, 69},
        {Pos, 500, 69},   {Page, 51, 50}, {Page, 0, 50},   {Pos, 100, 100},
        {Min, 120, 120},  {Min, 0, 100},  {Page, Low, 100}};
    for (auto [attribute, value, position] : changes) {
        attribute ? SetControlAttribute(1, attribute, value) : SetControlState(1, value);
        EXPECT_EQ(GetControlState(1), position) << attribute << " " << value;
        EXPECT_EQ(Shown(1).state, position);
    }
    EXPECT_EQ(GetControlAttribute(1, Maximum), 100);
    EXPECT_EQ(SetControlAttribute(1, 9, 5) + GetControlAttribute(1, 9) + QueuedEventCount(), 0);
    SetControlAttribute(1, PageLength, 32), SetControlAttribute(1, Maximum, 481);
    SetControlState(1, 100);
    using S = notify::Scroll;
    const std::tuple<S, int32_t, int32_t> actions[] = {
        {S::LineDown, 0, 101}, {S::PageDown, 0, 133}, {S::PageUp, 0, 101},
        {S::LineUp, 0, 100},   {S::ThumbTrack, 7, 7}, {S::ThumbTrack, -5, 0},
        {S::LineUp, 0, 0},     {S::Top, 0, 0},        {S::ThumbTrack, 999, 450},
        {S::LineDown, 0, 450}, {S::EndScroll, 0, 450}};
    for (auto [action, track, position] : actions) {
        notify::ScrollAction(1, action, track);
        EXPECT_EQ(Shown(1).state, position);
        EXPECT_EQ(Drain(), (Events{{1, 0}}));
    }
    BindControlCallback(1, [] { g_seen.push_back(GetControlState(1)); });
    backend.ScriptThumbDrag(1, {400, 300, 500, 5});
    backend.RunScript(); // back to back, as in the drag loop of the native control
    EXPECT_EQ(g_seen, (std::vector<int32_t>{400, 300, 450, 5, 5, 5}));
    EXPECT_EQ(Drain(), (Events{{1, 0}})) << "a binding runs per notification, one event waits";
}

TEST_F(Controls, SpinArrowsMoveWithinTheRangeAndNumericOnesRewriteTheText) {
    ASSERT_NE(AddSpinBox(5, 10, 500, 80, 20, 1, 25, SpinNumeric), 0);
    ASSERT_NE(AddSpinBox(6, 100, 500, 80, 20, 7, 0, 0), 0); // bounds either way round
    ASSERT_NE(AddSpinBox(7, 200, 500, 80, 20, 0, 9, SpinReadOnly | SpinNumeric), 0);
    SetControlState(5, 24), SetControlText(6, "free");
    // The control, the arrow, the position and the text after, and the sub-kinds posted.
    const std::tuple<int, int, int, Text, std::vector<int32_t>> steps[] = {
        {5, +1, 25, "25", {ChangeEvent, SpinUp}},
        {5, +1, 25, "25", {SpinUp}}, // at the end: the text stays, the direction posts
        {5, -1, 24, "24", {ChangeEvent, SpinDown}},
        {6, +1, 1, "free", {SpinUp}}, // a free text stays as it is
        {7, +1, 1, "1", {ChangeEvent, SpinUp}}};
    for (const auto& [control, delta, position, text, kinds] : steps) {
        backend.ScriptSpinArrow(control, delta);
        Events events;
        for (int32_t kind : kinds) events.emplace_back(control, kind);
        EXPECT_EQ(Drain(), events);
        EXPECT_EQ(GetControlState(control), position);
        EXPECT_EQ(Shown(control).text, text);
    }
    EXPECT_FALSE(notify::AcceptsTyping(7, "3")) << "read-only text";
    SetControlState(6, 6);
    ASSERT_EQ(SetControlAttribute(6, Minimum, 3), 1);
    EXPECT_EQ(GetControlAttribute(6, Maximum), 0);
    EXPECT_EQ(GetControlState(6), 6) << "a range change leaves the position until it moves";
    notify::SpinArrow(6, -1);
    EXPECT_EQ(GetControlState(6), 3);
    SetControlText(5, "");
    backend.ScriptTyping(5, "12");
    backend.Script([] { SetControlState(5, 8), notify::TextEdited(5, "8", 1); }); // an echo
    EXPECT_EQ(Drain(), (Events{{6, SpinDown}, {5, ChangeEvent}, {5, ChangeEvent}}));
    SendKeyToControl(ControlHandle(5), VkEnd);
    EXPECT_EQ(Shown(5).caret, 1);
    BindEvent(ControlEvent, 0, 5, ChangeEvent, [] { DestroyControl(5); });
    backend.ScriptSpinArrow(5, +1);
    EXPECT_TRUE(Drain().empty()) << "destroyed by its own change event, it posts no more";
}

TEST(ControlsWithoutAToolkit, NothingIsFocusedAndNothingAnswers) {
    MoveFocus(false);
    EXPECT_EQ(FocusedControl(), -1);
    EXPECT_EQ(ControlKind(1) + GetControlState(1) + ControlHandle(1), 0);
}
