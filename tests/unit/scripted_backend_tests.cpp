// The scripted backend's gestures: each gives the notifications a person's gesture gives.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace tk {
namespace {

int g_runs = 0;
std::vector<int32_t> g_positions;
void RecordPosition() {
    ++g_runs;
    g_positions.push_back(GetControlState(2));
}

class ScriptedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_runs = 0;
        g_positions.clear();
        ASSERT_NE(InitToolkit(&backend), 0);
        ASSERT_NE(CreateMainWindow(0, 0, 0, 660, 610, "main", 0xCA0001), 0);
    }
    void TearDown() override { ReleaseToolkit(); }
    std::vector<int32_t> SubKinds() {
        backend.RunScript();
        std::vector<int32_t> kinds;
        while (QueuedEventCount() > 0) {
            WaitForEvent();
            kinds.push_back(EventKind());
        }
        return kinds;
    }
    pmtest::ScriptedBackend backend;
};

TEST_F(ScriptedTest, AThumbDragRunsTheControlsBindingPerNotificationAndQueuesOneEvent) {
    ASSERT_NE(AddScrollBar(2, 0, 0, 200, 16, 0, 100, 10, 0), 0);
    BindControlCallback(2, RecordPosition);
    BindControlCallback(9, RecordPosition); // no control 9: binds nothing
    std::vector<int32_t> track;
    for (int32_t p = 5; p <= 50; p += 5) track.push_back(p);
    backend.ScriptThumbDrag(2, track);
    backend.RunScript();
    EXPECT_EQ(g_runs, 12) << "ten track positions, the release, the end of the scroll";
    ASSERT_EQ(g_positions.size(), 12u);
    EXPECT_EQ(g_positions.front(), 5) << "the position is set before the event is posted";
    EXPECT_EQ(g_positions.back(), 50);
    EXPECT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(QueuedEventAt(0).source, 2);
}

TEST_F(ScriptedTest, TypingSkipsCharactersTheFieldRefuses) {
    ASSERT_NE(AddTextField(3, 0, 0, 80, 20, "4", TextDigitsOnly), 0);
    backend.ScriptTyping(3, "1a2");
    EXPECT_EQ(backend.ScriptedLeft(), 3u) << "one message per character";
    std::vector<int32_t> kinds = SubKinds();
    EXPECT_EQ(GetControlText(3), "412");
    EXPECT_EQ(kinds, (std::vector<int32_t>{EditUpdate, EditChange, EditUpdate, EditChange}));
}

TEST_F(ScriptedTest, ACanvasDragEntersPressesMovesAndReleases) {
    ASSERT_NE(AddCanvas(0, 0, 0, 641, 481), 0);
    backend.ScriptCanvasDrag(0, 10, 20, {{30, 40}, {35, 45}});
    EXPECT_EQ(SubKinds(), (std::vector<int32_t>{MouseEnter, LeftButtonDown, MouseMove, LeftButtonUp,
                                                LeftClick}))
        << "the two moves merge while they wait";
}

TEST_F(ScriptedTest, AScriptedKeyIsDownAndPressedUntilTheNextMessage) {
    backend.ScriptKeyPress(VkLeft);
    backend.Script([] {});
    EXPECT_EQ(AsyncKeyState(VkLeft), 0);
    EXPECT_EQ(WaitForEvent(), pmtest::ScriptedMessage);
    EXPECT_EQ(AsyncKeyState(VkLeft), static_cast<int32_t>(0xFFFF8001u));
    EXPECT_EQ(AsyncKeyState(VkLeft), static_cast<int32_t>(0xFFFF8000u)) << "pressed is read once";
    EXPECT_EQ(WaitForEvent(), pmtest::ScriptedMessage);
    EXPECT_EQ(AsyncKeyState(VkLeft), 0) << "released with the next message";
    EXPECT_EQ(WaitForEvent(), NullIdle);
}

} // namespace
} // namespace tk
