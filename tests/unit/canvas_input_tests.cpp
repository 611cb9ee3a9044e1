// Canvas input: the events a gesture gives, the data they carry, and the click decision.
#include <gtest/gtest.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/core_internal.h"
#include "toolkit/window.h"

using namespace tk;

using M = notify::Mouse;

struct CanvasInput : ::testing::Test {
    pmtest::ScriptedToolkit toolkit;
    void SetUp() override {
        ASSERT_TRUE(toolkit.ok);
        ASSERT_NE(AddCanvas(0, 0, 0, 641, 481), 0);
        ASSERT_NE(AddCanvas(1, 0, 0, 100, 60, CanvasSunken | CanvasKeyboard), 0); // 96 x 56 inside
    }
};

TEST_F(CanvasInput, EachMessageGivesItsEventsWithItsFieldsAndTheClickDecision) {
    struct Row { // one message, the sub-kinds it posts, the wheel steps, key or character read
        int canvas;
        M message;
        int32_t x, y;
        uint32_t buttons;
        int32_t value;
        std::vector<int32_t> kinds;
        int64_t read = 0;
    };
    const Row rows[] = {
        {0, M::Move, 10, 20, 0, 0, {MouseEnter}},
        {0, M::LeftDown, 10, 20, 1, 0, {LeftButtonDown}},
        {0, M::Move, -12, 700, 1, 0, {MouseMove}},
        {0, M::LeftUp, -12, 700, 0, 0, {LeftButtonUp}}, // released outside: no click
        {0, M::LeftDown, 5, 5, 1, 0, {LeftButtonDown}},
        {0, M::LeftUp, 641, 5, 0, 0, {LeftButtonUp}}, // and past the edges
        {0, M::LeftDown, 5, 5, 1, 0, {LeftButtonDown}},
        {0, M::LeftUp, 640, 480, 0, 0, {LeftButtonUp, LeftClick}},
        {0, M::Leave, 640, 480, 0, 0, {MouseLeave}},
        {0, M::Move, 50, 50, 1, 0, {MouseEnter}}, // pressed elsewhere, released here: no click
        {0, M::LeftUp, 50, 50, 0, 0, {LeftButtonUp}},
        {0, M::LeftDown, 60, 60, 1, 0, {LeftButtonDown}},
        {0, M::RightDown, 60, 60, 3, 0, {RightButtonDown}}, // a second button keeps the capture
        {0, M::LeftUp, 61, 61, 2, 0, {LeftButtonUp, LeftClick}},
        {0, M::RightUp, 62, 62, 0, 0, {RightButtonUp, RightClick}},
        {0, M::LeftDouble, 3, 4, 1, 0, {LeftButtonDown, LeftDoubleClick}},
        {0, M::LeftUp, 3, 0, 0, 0, {LeftButtonUp, LeftClick}}, // the top row is inside
        {0, M::RightDouble, 3, 4, 2, 0, {RightButtonDown, RightDoubleClick}},
        {0, M::RightUp, 3, 4, 0, 0, {RightButtonUp, RightClick}},
        {0, M::MiddleDouble, 7, 8, 4, 0, {MiddleButtonDown}}, // the middle button never clicks
        {0, M::MiddleUp, 7, 8, 0, 0, {MiddleButtonUp}},
        {0, M::KeyDown, 0, 0, 0, VkLeft, {}}, // keys reach only a keyboard canvas
        {1, M::LeftDown, 5, 5, 1, 0, {LeftButtonDown}},
        {1, M::LeftUp, 96, 5, 0, 0, {LeftButtonUp}}, // outside the sunken canvas's inner area
        {1, M::KeyDown, 0, 0, 0, VkLeft, {KeyDown}, VkLeft},
        {1, M::Char, 0, 0, 0, 31, {}}, // control characters are not text; a space is
        {1, M::Char, 0, 0, 0, ' ', {TextInput}, ' '},
        {1, M::KeyUp, 0, 0, 0, VkUp, {KeyUp}, VkUp},
        {0, M::Wheel, 0, 0, 0, 60, {}}, // steps of 120, counted across canvases
        {1, M::Wheel, 0, 0, 0, -400, {MouseWheel}, -2},
        {0, M::Wheel, 0, 0, 0, 45, {}}, // -100 kept from before
        {0, M::Wheel, 0, 0, 0, 175, {MouseWheel}, 1},
    };
    for (const Row& r : rows) {
        toolkit.backend.Script(
            [&] { notify::CanvasInput(r.canvas, r.message, r.x, r.y, r.buttons, 0, r.value); });
        std::vector<int32_t> kinds;
        pmtest::Drain([&](const pmtest::Seen& e) {
            auto at = [&](int attribute) { return GetControlAttribute(e.source, attribute); };
            kinds.push_back(e.subKind);
            EXPECT_EQ(std::vector<int64_t>({at(MouseX), at(MouseY), at(Buttons),
                                            at(WheelDelta) + at(KeyCode) + at(InputCharacter)}),
                      std::vector<int64_t>({r.x, r.y, r.buttons, r.read}));
        });
        EXPECT_EQ(kinds, r.kinds) << "row " << &r - rows;
    }
    EXPECT_EQ(core::CanvasEventDataInUse(), 0);
}

int64_t g_readInOther = -1, g_readInOwn = -1;

TEST_F(CanvasInput, AttributesReadZeroOutsideTheCanvasOwnEvents) {
    ASSERT_NE(AddButton(2, 0, 500, 50, 20, "b"), 0);
    BindControlCallback(2, [] { g_readInOther = GetControlAttribute(0, MouseX); });
    BindControlCallback(0, [] { g_readInOwn = GetControlAttribute(0, MouseX); });
    toolkit.backend.Script([] {
        for (int i = 0; i < 500; ++i) notify::CanvasInput(0, M::Move, i, 88, 0, 0, 0);
        notify::ButtonClicked(2);
    });
    ASSERT_EQ(WaitForEvent(), pmtest::ScriptedMessage);
    EXPECT_EQ(g_readInOwn, 499);
    EXPECT_EQ(g_readInOther, 0);
    EXPECT_EQ(core::CanvasEventDataInUse(), 2);
    WaitForEvent(), WaitForEvent();
    EXPECT_EQ(GetControlAttribute(0, MouseX), 1) << "the waiting entry kept its own data";
    ASSERT_EQ(WaitForEvent(), ControlEvent); // the button's click
    EXPECT_EQ(GetControlAttribute(0, MouseY), 0);
    PostEvent(ControlEvent, 0, 0, 0, new int(7), [](void* p) { delete static_cast<int*>(p); });
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(GetControlAttribute(0, MouseX), 0) << "data the canvas did not attach";
    EXPECT_EQ(core::CanvasEventDataInUse(), 0);
}
