// The event loop: each pass polls five keys, waits for one event or native message, and
// dispatches it. Every handler that changes what is shown ends with a full repaint.
#include "viewer/input.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "toolkit/controls.h"
#include "toolkit/requesters.h"
#include "toolkit/window.h"
#include "viewer/exports.h"
#include "viewer/find_commands.h"
#include "viewer/loader.h"
#include "viewer/overview.h"
#include "viewer/renderer.h"
#include "viewer/state.h"
#include "viewer/wrap32.h"

namespace viewer {

namespace {

// A key counts once: down now and pressed since the previous poll.
bool KeyHit(int keyCode) {
    return tk::AsyncKeyState(keyCode) == tk::KeyDownAndPressed;
}

// The offset spin box's range follows the sprite width; its text is reset to "0" while its
// state keeps its value.
void SetOffsetRange(int32_t minimum, int32_t maximum) {
    tk::SetControlAttribute(OffsetSpin, tk::Minimum, minimum);
    tk::SetControlAttribute(OffsetSpin, tk::Maximum, maximum);
    tk::SetControlText(OffsetSpin, "0");
}

} // namespace

void SetSpriteWidth(int32_t width) {
    tk::SetControlState(WidthScroller, width);
    SetOffsetRange(-width, width);
}

void SetViewLayout(PixelLayout layout) {
    layout.columnBytes = ColumnBytes(layout);
    state.layout = layout;
    ShowLayoutInMenu();
}

namespace {

// The left and right arrow keys: the sprite one byte narrower (delta -1) or wider (+1), the
// offset spin box's range following it. False where the key does nothing: the left one at width
// 0 or below (which the scroll bar never holds), the right one from 272 on. That is past the
// scroll bar's top of 256, so at 256 the width stays while the range still grows to -257..257.
bool StepWidth(int32_t delta) {
    int32_t w = tk::GetControlState(WidthScroller);
    if (delta < 0 ? w <= 0 : w >= 272) return false;
    SetSpriteWidth(w + delta);
    return true;
}

void PollKeys() {
    if (KeyHit(tk::VkEscape)) state.quitRequested = 1; // the pass still waits once more
    if (KeyHit(tk::VkLeft) && StepWidth(-1)) RedrawView();
    if (KeyHit(tk::VkRight) && StepWidth(+1)) RedrawView();
    if (KeyHit(tk::VkUp)) {
        int32_t r = tk::GetControlState(RowScroller);
        tk::SetControlState(RowScroller, r + 1);
        RedrawView();
    }
    if (KeyHit(tk::VkDown)) {
        int32_t r = tk::GetControlState(RowScroller);
        if (r > 0) {
            tk::SetControlState(RowScroller, r - 1);
            RedrawView();
        }
    }
}

// Sets a spin box to v (state and text) and puts its caret behind the last character.
void RewriteSpin(int control, int32_t v) {
    tk::SetControlState(control, v);
    tk::SetControlText(control, tk::IntegerToText(v));
    tk::SendKeyToControl(tk::ControlHandle(control), tk::VkEnd);
    RedrawView();
}

// The value a spin box event carries: its typed text after a text change, else its state.
int32_t SpinValue(int control, int32_t subKind) {
    if (subKind == tk::ChangeEvent) return Low32(tk::TextToInteger(tk::GetControlText(control)));
    return tk::GetControlState(control);
}

void HandleCanvas(int32_t subKind) {
    SelectionRect& sel = state.selection;
    auto mouseX = static_cast<int32_t>(tk::GetControlAttribute(CanvasView, tk::MouseX));
    auto mouseY = static_cast<int32_t>(tk::GetControlAttribute(CanvasView, tk::MouseY));
    switch (subKind) {
    case tk::LeftButtonDown:
        sel = SelectionRect{mouseX, mouseY, 0, 0};
        tk::SetMenuItemDisabled(MainMenu, MenuSaveSelected, 1);
        RedrawView();
        break;
    case tk::MouseMove:
    case tk::LeftButtonUp: {
        if ((tk::GetControlAttribute(CanvasView, tk::Buttons) & 1) == 0) break;
        sel.x2 = mouseX;
        sel.y2 = mouseY;
        // A drag wider than the strip (rounded up to whole bytes, so that a strip narrower than
        // a byte can still be saved whole) is stored but not shown until it comes back.
        int64_t wb = tk::T(static_cast<double>(sel.x2) - sel.x1, state.zoom);
        const int64_t stripWidth = StripPixelWidth(state.layout, state.spriteWidth);
        if (wb > (stripWidth + 7) / 8 * 8) break;
        RedrawView();
        if (sel.x2 - sel.x1 > 0 && sel.y2 - sel.y1 > 0)
            tk::SetMenuItemDisabled(MainMenu, MenuSaveSelected, 0);
        break;
    }
    case tk::MouseWheel: {
        // A step down (a negative count) shows later rows, as three clicks on the row scroll
        // bar's down arrow do; with Shift it makes the sprite one byte wider, as the right arrow
        // key does. A step up does the opposite.
        const int64_t steps = tk::GetControlAttribute(CanvasView, tk::WheelDelta);
        if ((tk::GetControlAttribute(CanvasView, tk::Modifiers) & tk::ModifierShift) != 0) {
            bool changed = false;
            // Past 272 steps every further one leaves the width and the offset range as they are.
            for (int64_t i = std::min<int64_t>(std::abs(steps), 272); i > 0; --i)
                changed |= StepWidth(steps < 0 ? +1 : -1);
            if (changed) RedrawView();
        } else {
            const int64_t row = tk::GetControlState(RowScroller) - steps * 3;
            tk::SetControlState(
                RowScroller, static_cast<int32_t>(std::clamp<int64_t>(row, INT32_MIN, INT32_MAX)));
            RedrawView();
        }
        break;
    }
    case tk::RightClick: {
        // Jump: 480 strips per strip width across, one strip per canvas pixel down.
        const int64_t stripWidth =
            StripPixelWidth(state.layout, tk::GetControlState(WidthScroller));
        int64_t t = tk::T(mouseX, 8) * 8;
        int32_t n = Quotient(static_cast<double>(t) * 480, static_cast<double>(stripWidth));
        int32_t row = tk::GetControlState(RowScroller);
        tk::SetControlState(RowScroller, Low32(int64_t{row} + mouseY + n));
        RedrawView();
        break;
    }
    default:
        break;
    }
}

void HandleControl(int control, int32_t subKind) {
    switch (control) {
    case DispGoButton: {
        int64_t d = tk::TextToInteger(tk::GetControlText(DispField));
        tk::SetControlState(RowScroller,
                            Quotient(static_cast<double>(Low32(d)), state.spriteWidth));
        RedrawView();
        break;
    }
    case CanvasView:
        HandleCanvas(subKind);
        break;
    case GridCheck:
    case MultiColumnsCheck:
    case InvertCheck:
    case AlignCheck:
    case RowScroller:
        RedrawView();
        break;
    case GridXSpin:
    case GridYSpin: {
        int32_t v = SpinValue(control, subKind);
        if (v < 1) v = 1;
        if (v > 25) v = 25;
        RewriteSpin(control, v);
        break;
    }
    case OffsetSpin: {
        int32_t w = tk::GetControlState(WidthScroller);
        int32_t v = SpinValue(control, subKind);
        if (v > w) v = w; // no lower bound: any typed offset below the width stays
        RewriteSpin(control, v);
        break;
    }
    case WidthScroller: {
        int32_t w = tk::GetControlState(WidthScroller);
        SetOffsetRange(-w, w);
        RedrawView();
        break;
    }
    default:
        break; // typing in DispField waits for the ">" button
    }
}

// Loads a path chosen by the person. A file that cannot be loaded leaves the previous file,
// view and path as they were (the loader has told the person why).
void LoadChosenFile(const Text& path, const Text& previousPath) {
    switch (LoadBinaryFile(path)) {
    case LoadOutcome::EndProgram:
        state.quitRequested = 1;
        return;
    case LoadOutcome::Refused:
        state.loadedPath = previousPath;
        break;
    case LoadOutcome::Loaded:
        break;
    }
    RedrawView();
}

void HandleMenu(int item) {
    switch (item) {
    case MenuOpen: {
        Text previous = state.loadedPath;
        state.loadedPath = tk::AskOpenFile("Please choose file to load", "", "Any(*.*)", 0);
        if (!state.loadedPath.empty()) LoadChosenFile(state.loadedPath, previous);
        break;
    }
    case MenuSaveImage:
        SaveCanvasImage();
        break;
    case MenuSaveBinary:
        SaveBinaryRange();
        break;
    case MenuQuit:
        state.quitRequested = 1;
        break;
    case MenuZoom1:
    case MenuZoom2:
    case MenuZoom8:
        state.zoom = item == MenuZoom1 ? 1 : item == MenuZoom2 ? 2 : 8;
        RedrawView();
        break;
    case MenuSaveSelected:
        SaveSelectedBits();
        break;
    case MenuNextGraphics:
    case MenuPreviousGraphics:
        StepToGraphics(item == MenuNextGraphics ? 1 : -1);
        break;
    case MenuGuessWidth:
        GuessViewWidth();
        break;
    case MenuOverview:
        OpenOverview();
        break;
    case MenuLayoutRows:
    case MenuLayoutRowsLsb:
    case MenuLayoutColumns:
    case MenuLayoutColumnsMsb:
        SetViewLayout({static_cast<LayoutKind>(item - MenuLayoutRows), state.layout.columnBytes});
        RedrawView();
        break;
    case MenuColumnBytes1:
    case MenuColumnBytes2:
    case MenuColumnBytes3:
    case MenuColumnBytes4:
        SetViewLayout({state.layout.kind, item - MenuColumnBytes1 + 1});
        RedrawView();
        break;
    default:
        break;
    }
}

} // namespace

void RunLoopPass() {
    PollKeys();
    int32_t kind = tk::WaitForEvent();
    switch (HandleOverviewEvent(kind) ? 0 : kind) {
    case tk::CloseEvent:
        state.quitRequested = 1;
        break;
    case tk::DropEvent: {
        Text previous = state.loadedPath;
        // The first path whole: a file name may itself hold a line feed.
        state.loadedPath = tk::DroppedFile(0);
        LoadChosenFile(state.loadedPath, previous);
        break;
    }
    case tk::ControlEvent:
        HandleControl(tk::EventControl(), tk::EventKind());
        break;
    case tk::MenuEvent:
        HandleMenu(tk::EventMenuItem());
        break;
    default:
        break; // a plain native message: the keys are polled again on the next pass
    }
    PollFinder(); // a worker's news wakes the wait with a plain native message
    PollOverview();
}

void RunEventLoop() {
    while (state.quitRequested != 1) RunLoopPass();
}

} // namespace viewer
