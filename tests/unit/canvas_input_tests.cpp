// Canvas input: the events a gesture gives, the data they carry, and the click decision.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/scripted_backend.h"
#include "toolkit/backend.h"
#include "toolkit/controls.h"
#include "toolkit/core_internal.h"
#include "toolkit/window.h"

namespace tk {
namespace {

constexpr int Canvas = 0;
constexpr int Other = 1;
using notify::Mouse;

struct Seen {
    int32_t subKind;
    int64_t x, y, buttons, wheel, key, character;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << "{0x" << std::hex << s.subKind << std::dec << " x" << s.x << " y" << s.y << " b"
               << s.buttons << " w" << s.wheel << " k" << s.key << " c" << s.character << "}";
}

class CanvasInputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(InitToolkit(&backend), 1);
        ASSERT_NE(CreateMainWindow(0, 0, 0, 660, 610, "canvas", 0xCA0001), 0);
        ASSERT_NE(AddCanvas(Canvas, 0, 0, 641, 481), 0);
    }
    void TearDown() override { ReleaseToolkit(); }

    // One native message carrying one canvas message.
    void Send(Mouse message, int32_t x, int32_t y, uint32_t buttons, int32_t value = 0,
              int control = Canvas) {
        backend.Script([=] { notify::CanvasInput(control, message, x, y, buttons, 0, value); });
    }

    // The canvas events the loop receives, read through the attributes while each is current.
    std::vector<Seen> Drain(int control = Canvas) {
        std::vector<Seen> seen;
        for (int guard = 0; guard < 1000; ++guard) {
            int32_t kind = WaitForEvent();
            if (kind == NullIdle) break;
            if (kind != ControlEvent || EventControl() != control) continue;
            seen.push_back(
                {EventKind(), GetControlAttribute(control, MouseX),
                 GetControlAttribute(control, MouseY), GetControlAttribute(control, Buttons),
                 GetControlAttribute(control, WheelDelta), GetControlAttribute(control, KeyCode),
                 GetControlAttribute(control, InputCharacter)});
        }
        WaitForEvent(); // releases the last event's data
        return seen;
    }

    pmtest::ScriptedBackend backend;
};

struct Step {
    Mouse message;
    int32_t x, y;
    uint32_t buttons;
};
struct Gesture {
    const char* name;
    std::vector<Step> steps;
    std::vector<Seen> expected;
};

TEST_F(CanvasInputTest, GesturesGiveTheirEventSequences) {
    auto E = [](int32_t subKind, int64_t x, int64_t y, int64_t buttons) {
        return Seen{subKind, x, y, buttons, 0, 0, 0};
    };
    auto S = [](Mouse message, int32_t x, int32_t y, uint32_t buttons) {
        return Step{message, x, y, buttons};
    };
    using M = Mouse;
    const Gesture gestures[] = {
        {"press, move, release",
         {S(M::Move, 10, 20, 0), S(M::LeftDown, 10, 20, 1), S(M::Move, 20, 30, 1),
          S(M::LeftUp, 20, 30, 0)},
         {E(MouseEnter, 10, 20, 0), E(LeftButtonDown, 10, 20, 1), E(MouseMove, 20, 30, 1),
          E(LeftButtonUp, 20, 30, 0), E(LeftClick, 20, 30, 0)}},
        {"dragged outside: negative and past the edges, no click",
         {S(M::Move, 5, 5, 0), S(M::LeftDown, 5, 5, 1), S(M::Move, -12, 700, 1),
          S(M::LeftUp, -12, 700, 0), S(M::LeftDown, 5, 5, 1), S(M::LeftUp, 641, 5, 0),
          S(M::LeftDown, 5, 5, 1), S(M::LeftUp, 5, 481, 0)},
         {E(MouseEnter, 5, 5, 0), E(LeftButtonDown, 5, 5, 1), E(MouseMove, -12, 700, 1),
          E(LeftButtonUp, -12, 700, 0), E(LeftButtonDown, 5, 5, 1), E(LeftButtonUp, 641, 5, 0),
          E(LeftButtonDown, 5, 5, 1), E(LeftButtonUp, 5, 481, 0)}},
        {"pressed elsewhere; a second button keeps the capture; release without press",
         {S(M::Move, 50, 50, 1), S(M::LeftUp, 50, 50, 0), S(M::LeftDown, 60, 60, 1),
          S(M::RightDown, 60, 60, 3), S(M::LeftUp, 61, 61, 2), S(M::RightUp, 62, 62, 0),
          S(M::LeftUp, 63, 63, 0)},
         {E(MouseEnter, 50, 50, 1), E(LeftButtonUp, 50, 50, 0), E(LeftButtonDown, 60, 60, 1),
          E(RightButtonDown, 60, 60, 3), E(LeftButtonUp, 61, 61, 2), E(LeftClick, 61, 61, 2),
          E(RightButtonUp, 62, 62, 0), E(RightClick, 62, 62, 0), E(LeftButtonUp, 63, 63, 0)}},
        {"right click at the release point; middle never clicks",
         {S(M::RightDown, 100, 200, 2), S(M::RightUp, 104, 203, 0), S(M::MiddleDown, 7, 8, 4),
          S(M::MiddleUp, 7, 8, 0), S(M::MiddleDouble, 7, 8, 4), S(M::MiddleUp, 7, 8, 0)},
         {E(RightButtonDown, 100, 200, 2), E(RightButtonUp, 104, 203, 0),
          E(RightClick, 104, 203, 0), E(MiddleButtonDown, 7, 8, 4), E(MiddleButtonUp, 7, 8, 0),
          E(MiddleButtonDown, 7, 8, 4), E(MiddleButtonUp, 7, 8, 0)}},
        {"double clicks",
         {S(M::LeftDown, 3, 4, 1), S(M::LeftUp, 3, 4, 0), S(M::LeftDouble, 3, 4, 1),
          S(M::LeftUp, 3, 4, 0), S(M::RightDouble, 3, 4, 2), S(M::RightUp, 3, 4, 0)},
         {E(LeftButtonDown, 3, 4, 1), E(LeftButtonUp, 3, 4, 0), E(LeftClick, 3, 4, 0),
          E(LeftButtonDown, 3, 4, 1), E(LeftDoubleClick, 3, 4, 1), E(LeftButtonUp, 3, 4, 0),
          E(LeftClick, 3, 4, 0), E(RightButtonDown, 3, 4, 2), E(RightDoubleClick, 3, 4, 2),
          E(RightButtonUp, 3, 4, 0), E(RightClick, 3, 4, 0)}},
        {"leaving makes the next move an enter again",
         {S(M::Move, 1, 1, 0), S(M::Move, 2, 2, 0), S(M::Leave, 2, 2, 0), S(M::Move, 3, 3, 0)},
         {E(MouseEnter, 1, 1, 0), E(MouseMove, 2, 2, 0), E(MouseLeave, 2, 2, 0),
          E(MouseEnter, 3, 3, 0)}},
    };
    for (const Gesture& g : gestures) {
        SCOPED_TRACE(g.name);
        for (const Step& step : g.steps) Send(step.message, step.x, step.y, step.buttons);
        EXPECT_EQ(Drain(), g.expected);
        Send(Mouse::Leave, 0, 0, 0); // the next gesture starts outside
        Drain();
    }
    EXPECT_EQ(core::CanvasEventDataInUse(), 0);
}

TEST_F(CanvasInputTest, WheelAccumulatesAcrossCanvasesAndKeepsRemainder) {
    ASSERT_NE(AddCanvas(Other, 0, 0, 100, 100), 0);
    Send(Mouse::Wheel, 0, 0, 0, 60);
    Send(Mouse::Wheel, 0, 0, 0, 60, Other); // the second half of a step, on the other canvas
    Send(Mouse::Wheel, 0, 0, 0, -240);
    Send(Mouse::Wheel, 0, 0, 0, 100);
    Send(Mouse::Wheel, 0, 0, 0, -350); // -250: two steps down, -10 kept
    Send(Mouse::Wheel, 0, 0, 0, 125);  // 115: still no step
    std::vector<int64_t> canvasSteps, otherSteps;
    for (int guard = 0; guard < 100; ++guard) {
        int32_t kind = WaitForEvent();
        if (kind == NullIdle) break;
        if (kind != ControlEvent) continue;
        ASSERT_EQ(EventKind(), MouseWheel);
        int control = EventControl();
        (control == Canvas ? canvasSteps : otherSteps)
            .push_back(GetControlAttribute(control, WheelDelta));
    }
    EXPECT_EQ(otherSteps, (std::vector<int64_t>{1}));
    EXPECT_EQ(canvasSteps, (std::vector<int64_t>{-2, -2}));
}

int64_t readInOtherProcedure = -1;
int64_t readInOwnProcedure = -1;
void ReadCanvasFromOther() {
    readInOtherProcedure = GetControlAttribute(Canvas, MouseX);
}
void ReadCanvasFromOwn() {
    readInOwnProcedure = GetControlAttribute(Canvas, MouseX);
}

TEST_F(CanvasInputTest, AttributesReadZeroOutsideTheCanvasOwnEvents) {
    ASSERT_NE(AddButton(Other, 0, 500, 50, 20, "b"), 0);
    BindControlCallback(Other, &ReadCanvasFromOther);
    BindControlCallback(Canvas, &ReadCanvasFromOwn);
    backend.Script([] {
        notify::CanvasInput(Canvas, Mouse::Move, 77, 88, 0, 0, 0);
        notify::ButtonClicked(Other);
    });
    ASSERT_EQ(WaitForEvent(), pmtest::ScriptedMessage);
    EXPECT_EQ(readInOwnProcedure, 77);
    EXPECT_EQ(readInOtherProcedure, 0);
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(GetControlAttribute(Canvas, MouseY), 88);
    ASSERT_EQ(WaitForEvent(), ControlEvent); // the button's click
    EXPECT_EQ(GetControlAttribute(Canvas, MouseY), 0);
    EXPECT_EQ(WaitForEvent(), NullIdle);
    EXPECT_EQ(core::CanvasEventDataInUse(), 0);
}

TEST_F(CanvasInputTest, KeysOnlyForKeyboardCanvasAndControlCharactersIgnored) {
    Send(Mouse::KeyDown, 0, 0, 0, VkLeft);
    Send(Mouse::Char, 0, 0, 0, 'a');
    EXPECT_TRUE(Drain().empty());

    ASSERT_NE(AddCanvas(Other, 0, 0, 100, 100, CanvasKeyboard), 0);
    Send(Mouse::KeyDown, 0, 0, 0, VkLeft, Other);
    Send(Mouse::Char, 0, 0, 0, 9, Other);
    Send(Mouse::Char, 0, 0, 0, 'a', Other);
    Send(Mouse::KeyUp, 0, 0, 0, VkLeft, Other);
    const std::vector<Seen> expected = {{KeyDown, 0, 0, 0, 0, VkLeft, 0},
                                        {TextInput, 0, 0, 0, 0, 0, 'a'},
                                        {KeyUp, 0, 0, 0, 0, VkLeft, 0}};
    EXPECT_EQ(Drain(Other), expected);
}

TEST_F(CanvasInputTest, CoalescedMovesAndReleasedToolkitReturnEveryDataBlock) {
    backend.Script([] {
        for (int i = 0; i < 500; ++i) notify::CanvasInput(Canvas, Mouse::Move, i, i, 0, 0, 0);
    });
    ASSERT_EQ(WaitForEvent(), pmtest::ScriptedMessage);
    EXPECT_EQ(QueuedEventCount(), 2); // MouseEnter, then one coalesced MouseMove
    EXPECT_EQ(core::CanvasEventDataInUse(), 2);
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(GetControlAttribute(Canvas, MouseX), 1); // the waiting entry kept its own data
    EXPECT_EQ(core::CanvasEventDataInUse(), 1);
    ReleaseToolkit();
    EXPECT_EQ(core::CanvasEventDataInUse(), 0);
}

TEST_F(CanvasInputTest, BackingPictureIsWhiteAndSizedToTheInnerArea) {
    ASSERT_NE(AddCanvas(Other, 0, 0, 100, 60, CanvasSunken), 0);
    const Picture* plain = PictureFromHandle(GetControlAttribute(Canvas, CanvasImage));
    const Picture* sunken = PictureFromHandle(GetControlAttribute(Other, CanvasImage));
    ASSERT_TRUE(plain && sunken);
    EXPECT_EQ(plain->pixels().width, 641);
    EXPECT_EQ(plain->pixels().height, 481);
    EXPECT_EQ(sunken->pixels().width, 96);
    EXPECT_EQ(sunken->pixels().height, 56);
    const PixelBuffer& p = plain->pixels();
    EXPECT_EQ(p.bits[0], 0xFF);
    EXPECT_EQ(p.bits[(p.height - 1) * p.stride + (p.width - 1) * 3 + 2], 0xFF);

    // A sunken canvas clicks only inside its smaller inner area.
    Send(Mouse::LeftDown, 5, 5, 1, 0, Other);
    Send(Mouse::LeftUp, 97, 5, 0, 0, Other);
    std::vector<int32_t> kinds;
    for (const Seen& s : Drain(Other)) kinds.push_back(s.subKind);
    EXPECT_EQ(kinds, (std::vector<int32_t>{LeftButtonDown, LeftButtonUp}));
}

} // namespace
} // namespace tk
