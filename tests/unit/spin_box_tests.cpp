// Spin boxes: arrows, the numeric text, typing and programmatic changes.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/scripted_backend.h"
#include "toolkit/backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace tk {
namespace {

constexpr int Grid = 5;   // numeric, 1 .. 25
constexpr int Offset = 6; // free text, 0 .. 7

class SpinBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(InitToolkit(&backend), 1);
        ASSERT_NE(CreateMainWindow(0, 0, 0, 660, 610, "spin", 0xCA0001), 0);
        ASSERT_NE(AddSpinBox(Grid, 10, 500, 80, 20, 1, 25, SpinNumeric), 0);
        ASSERT_NE(AddSpinBox(Offset, 100, 500, 80, 20, 0, 7, 0), 0);
        SetControlState(Grid, 8);
        SetControlText(Offset, "0");
    }
    void TearDown() override { ReleaseToolkit(); }

    // Sub-kinds of the ControlEvents the loop receives from `control` until nothing is left.
    std::vector<int32_t> Drain(int control) {
        std::vector<int32_t> seen;
        for (int guard = 0; guard < 1000; ++guard) {
            int32_t kind = WaitForEvent();
            if (kind == NullIdle) break;
            if (kind == ControlEvent && EventControl() == control) seen.push_back(EventKind());
        }
        return seen;
    }

    void Arrow(int control, int delta) {
        backend.Script([=] { notify::SpinArrow(control, delta); });
    }

    pmtest::ScriptedBackend backend;
};

TEST_F(SpinBoxTest, NumericArrowsRewriteTextThenReportDirection) {
    EXPECT_EQ(GetControlText(Grid), "8"); // SetControlState wrote it

    Arrow(Grid, +1);
    EXPECT_EQ(Drain(Grid), (std::vector<int32_t>{ChangeEvent, SpinUp}));
    EXPECT_EQ(GetControlState(Grid), 9);
    EXPECT_EQ(GetControlText(Grid), "9");
    EXPECT_EQ(backend.controls.at(ControlHandle(Grid)).text, "9");

    Arrow(Grid, -1);
    Arrow(Grid, -1);
    EXPECT_EQ(Drain(Grid), (std::vector<int32_t>{ChangeEvent, SpinDown, ChangeEvent, SpinDown}));
    EXPECT_EQ(GetControlState(Grid), 7);
    EXPECT_EQ(GetControlText(Grid), "7");
}

TEST_F(SpinBoxTest, ArrowAtTheEndKeepsPositionAndText) {
    SetControlState(Grid, 25);
    Arrow(Grid, +1);
    // The text is already "25": nothing is rewritten, so only the direction is reported.
    EXPECT_EQ(Drain(Grid), (std::vector<int32_t>{SpinUp}));
    EXPECT_EQ(GetControlState(Grid), 25);
    EXPECT_EQ(GetControlText(Grid), "25");

    SetControlState(Grid, -40);
    EXPECT_EQ(GetControlState(Grid), 1);
    Arrow(Grid, -1);
    EXPECT_EQ(Drain(Grid), (std::vector<int32_t>{SpinDown}));
    EXPECT_EQ(GetControlState(Grid), 1);
}

TEST_F(SpinBoxTest, FreeTextSpinBoxMovesStateButNotText) {
    Arrow(Offset, +1);
    Arrow(Offset, +1);
    Arrow(Offset, -1);
    EXPECT_EQ(Drain(Offset), (std::vector<int32_t>{SpinUp, SpinUp, SpinDown}));
    EXPECT_EQ(GetControlState(Offset), 1);
    EXPECT_EQ(GetControlText(Offset), "0");
}

TEST_F(SpinBoxTest, RangeChangeLeavesPositionUntilItMoves) {
    SetControlState(Offset, 6);
    ASSERT_EQ(SetControlAttribute(Offset, Maximum, 3), 1);
    EXPECT_EQ(GetControlAttribute(Offset, Maximum), 3);
    EXPECT_EQ(GetControlAttribute(Offset, Minimum), 0);
    EXPECT_EQ(GetControlState(Offset), 6);
    Arrow(Offset, +1);
    Drain(Offset);
    EXPECT_EQ(GetControlState(Offset), 3);
}

TEST_F(SpinBoxTest, TypingPostsOneChangePerCharacter) {
    SetControlText(Grid, "");
    backend.ScriptTyping(Grid, "12");
    EXPECT_EQ(Drain(Grid), (std::vector<int32_t>{ChangeEvent, ChangeEvent}));
    EXPECT_EQ(GetControlText(Grid), "12");
    EXPECT_EQ(ControlCaret(Grid), 2);
}

int boundRuns = 0;
void CountRun() {
    ++boundRuns;
}

TEST_F(SpinBoxTest, ProgrammaticChangesPostNothing) {
    boundRuns = 0;
    BindControlCallback(Grid, &CountRun);
    BindControlCallback(Offset, &CountRun);
    EXPECT_EQ(SetControlText(Offset, "5"), 1);
    EXPECT_EQ(SetControlText(Grid, "5"), 1);
    EXPECT_EQ(SetControlState(Grid, 12), 1);
    EXPECT_EQ(GetControlText(Grid), "12");
    // The native control echoing the change back while it is made stays silent too.
    backend.Script([] { notify::TextEdited(Grid, "12", 2); });
    EXPECT_TRUE(Drain(Grid).empty());
    EXPECT_EQ(boundRuns, 0);
    EXPECT_EQ(GetControlText(Offset), "5");
}

TEST_F(SpinBoxTest, EndKeyPutsCaretBehindText) {
    SetControlText(Offset, "1234");
    EXPECT_EQ(ControlCaret(Offset), 0);
    SendKeyToControl(ControlHandle(Offset), VkEnd);
    EXPECT_EQ(ControlCaret(Offset), 4);
    EXPECT_EQ(backend.controls.at(ControlHandle(Offset)).caret, 4);
    SendKeyToControl(0, VkEnd); // no control: nothing
    EXPECT_EQ(QueuedEventCount(), 0);
}

TEST_F(SpinBoxTest, ReadOnlyTextRefusesTypingButArrowsWork) {
    ASSERT_NE(AddSpinBox(7, 200, 500, 80, 20, 0, 9, SpinReadOnly | SpinNumeric), 0);
    EXPECT_FALSE(notify::AcceptsTyping(7, "3"));
    EXPECT_TRUE(notify::AcceptsTyping(Grid, "3"));
    notify::TextEdited(7, "3", 1);
    EXPECT_EQ(GetControlText(7), "");
    Arrow(7, +1);
    EXPECT_EQ(Drain(7), (std::vector<int32_t>{ChangeEvent, SpinUp}));
    EXPECT_EQ(GetControlText(7), "1");
}

void DestroyGrid() {
    DestroyControl(Grid);
}

TEST_F(SpinBoxTest, ControlDestroyedByItsOwnChangeEventPostsNoMore) {
    BindEvent(ControlEvent, 0, Grid, ChangeEvent, &DestroyGrid);
    Arrow(Grid, +1);
    EXPECT_TRUE(Drain(Grid).empty());
    EXPECT_EQ(ControlKind(Grid), 0);
    EXPECT_EQ(GetControlText(Grid), "");
}

} // namespace
} // namespace tk
