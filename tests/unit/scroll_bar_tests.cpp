// Scroll bars: the position range, its re-clamping, user actions and the events they post.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/scripted_backend.h"
#include "toolkit/backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace tk {
namespace {

constexpr int Width = 1;
constexpr int Rows = 2;

class ScrollBarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(InitToolkit(&backend), 1);
        ASSERT_NE(CreateMainWindow(0, 0, 0, 660, 610, "scroll", 0xCA0001), 0);
        ASSERT_NE(AddScrollBar(Width, 0, 485, 641, 17, 1, 271, 16, 0), 0);
        ASSERT_NE(AddScrollBar(Rows, 643, 0, 17, 481, 0, 481, 32, ScrollVertical), 0);
    }
    void TearDown() override { ReleaseToolkit(); }

    // The ControlEvents the loop receives until nothing is left, as (source, sub-kind).
    std::vector<std::pair<int, int>> Drain() {
        std::vector<std::pair<int, int>> seen;
        for (int guard = 0; guard < 1000; ++guard) {
            int32_t kind = WaitForEvent();
            if (kind == NullIdle) break;
            if (kind == ControlEvent) seen.emplace_back(EventControl(), EventKind());
        }
        return seen;
    }

    const ControlView& Shown(int number) { return backend.controls.at(ControlHandle(number)); }

    pmtest::ScriptedBackend backend;
};

TEST_F(ScrollBarTest, PositionStaysWithinRangeLessPage) {
    EXPECT_EQ(GetControlState(Width), 1); // 0 held into 1..256
    SetControlState(Width, 300);
    EXPECT_EQ(GetControlState(Width), 256);
    EXPECT_EQ(Shown(Width).state, 256);
    SetControlState(Width, 0);
    EXPECT_EQ(GetControlState(Width), 1);
    SetControlState(Width, INT32_MIN);
    EXPECT_EQ(GetControlState(Width), 1);

    SetControlState(Rows, 1000);
    EXPECT_EQ(GetControlState(Rows), 450);
    EXPECT_EQ(GetControlAttribute(Rows, Minimum), 0);
    EXPECT_EQ(GetControlAttribute(Rows, Maximum), 481);
    EXPECT_EQ(GetControlAttribute(Rows, PageLength), 32);
}

TEST_F(ScrollBarTest, RangeChangesReclampThePosition) {
    SetControlState(Rows, 200);
    ASSERT_EQ(SetControlAttribute(Rows, Maximum, 100), 1);
    EXPECT_EQ(GetControlState(Rows), 69);
    EXPECT_EQ(Shown(Rows).state, 69);
    EXPECT_EQ(Shown(Rows).maximum, 100);
    SetControlState(Rows, 500);
    EXPECT_EQ(GetControlState(Rows), 69);

    SetControlAttribute(Rows, PageLength, 51); // 0 .. 50
    EXPECT_EQ(GetControlState(Rows), 50);
    SetControlAttribute(Rows, PageLength, 0); // no page: 0 .. 100
    SetControlState(Rows, 100);
    EXPECT_EQ(GetControlState(Rows), 100);
    SetControlAttribute(Rows, Minimum, 120); // range collapsed onto the minimum
    EXPECT_EQ(GetControlState(Rows), 120);
    EXPECT_EQ(SetControlAttribute(Rows, 9, 5), 0); // no such attribute
    EXPECT_EQ(GetControlAttribute(Rows, 9), 0);
    EXPECT_EQ(QueuedEventCount(), 0); // none of this is an event

    // The most negative page counts as no page, without overflowing the subtraction.
    SetControlAttribute(Rows, Minimum, 0);
    SetControlAttribute(Rows, PageLength, INT32_MIN);
    SetControlState(Rows, 100);
    EXPECT_EQ(GetControlState(Rows), 100);
}

TEST_F(ScrollBarTest, UserActionsMoveClampAndPostEvenWhenNothingMoves) {
    SetControlState(Rows, 440);
    using notify::Scroll;
    struct Step {
        Scroll action;
        int32_t track;
        int32_t expected;
    };
    const std::vector<Step> steps = {
        {Scroll::LineDown, 0, 441},     {Scroll::PageDown, 0, 450}, {Scroll::LineDown, 0, 450},
        {Scroll::PageUp, 0, 418},       {Scroll::LineUp, 0, 417},   {Scroll::ThumbTrack, 7, 7},
        {Scroll::ThumbTrack, -50, 0},   {Scroll::LineUp, 0, 0},     {Scroll::Top, 0, 0},
        {Scroll::ThumbTrack, 999, 450}, {Scroll::EndScroll, 0, 450}};
    for (const Step& step : steps) {
        backend.Script([=] { notify::ScrollAction(Rows, step.action, step.track); });
        ASSERT_EQ(WaitForEvent(), pmtest::ScriptedMessage);
        EXPECT_EQ(GetControlState(Rows), step.expected);
        EXPECT_EQ(Shown(Rows).state, step.expected);
        ASSERT_EQ(WaitForEvent(), ControlEvent);
        EXPECT_EQ(EventControl(), Rows);
        EXPECT_EQ(EventKind(), 0);
        EXPECT_EQ(EventWindow(), 0);
    }
    EXPECT_EQ(WaitForEvent(), NullIdle);
}

std::vector<int32_t> positionsSeen;
void RecordRows() {
    positionsSeen.push_back(GetControlState(Rows));
}

TEST_F(ScrollBarTest, ThumbDragRunsBoundProcedurePerNotificationAndQueuesOneEvent) {
    positionsSeen.clear();
    BindControlCallback(Rows, &RecordRows);
    // The whole drag happens inside the dispatch of one native message, as a modal drag loop.
    backend.Script([] {
        for (int32_t i = 1; i <= 10; ++i)
            notify::ScrollAction(Rows, notify::Scroll::ThumbTrack, i * 50);
        notify::ScrollAction(Rows, notify::Scroll::ThumbPosition, 450);
        notify::ScrollAction(Rows, notify::Scroll::EndScroll, 0);
    });
    std::vector<std::pair<int, int>> events = Drain();
    const std::vector<int32_t> expected = {50,  100, 150, 200, 250, 300,
                                           350, 400, 450, 450, 450, 450};
    EXPECT_EQ(positionsSeen, expected);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], std::make_pair(Rows, 0));
    EXPECT_EQ(GetControlState(Rows), 450);

    // The same through the backend's gesture, its messages run back to back as in a drag loop.
    positionsSeen.clear();
    backend.ScriptThumbDrag(Rows, {400, 350, 300, 250, 200, 150, 100, 50, 25, 5});
    backend.RunScript();
    EXPECT_EQ(positionsSeen,
              (std::vector<int32_t>{400, 350, 300, 250, 200, 150, 100, 50, 25, 5, 5, 5}));
    events = Drain();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(GetControlState(Rows), 5);
}

TEST_F(ScrollBarTest, NotificationsForOtherKindsOrMissingControlsAreIgnored) {
    ASSERT_NE(AddButton(3, 0, 0, 10, 10, "b"), 0);
    notify::ScrollAction(3, notify::Scroll::LineDown, 0);
    notify::ScrollAction(40, notify::Scroll::LineDown, 0);
    notify::ScrollAction(-1, notify::Scroll::LineDown, 0);
    EXPECT_EQ(QueuedEventCount(), 0);
}

} // namespace
} // namespace tk
