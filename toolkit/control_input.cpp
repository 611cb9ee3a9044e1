// What the backend reports about controls, turned into the core's rules and ControlEvent
// postings: scroll actions, spin arrows, typing, clicks, focus, Tab, and canvas input.
//
// Every posting may run bound procedures, and a bound procedure may destroy or re-create the very
// control that posted. So no code here keeps a Control pointer across a PostEvent: when a second
// event follows a first, the record is looked up again by number and serial first.
#include <algorithm>

#include "toolkit/control_records.h"
#include "toolkit/core_internal.h"
#include "toolkit/window.h"

namespace tk {

using namespace ctl;

namespace notify {

void ScrollAction(int control, Scroll action, int32_t trackPosition) {
    Control* c = FindKind(control, KindScrollBar);
    if (c == nullptr) return;
    int64_t position = c->state;
    switch (action) {
    case Scroll::LineUp:
        position -= 1;
        break;
    case Scroll::LineDown:
        position += 1;
        break;
    case Scroll::PageUp:
        position -= c->pageLength;
        break;
    case Scroll::PageDown:
        position += c->pageLength;
        break;
    case Scroll::ThumbTrack:
        position = trackPosition;
        break;
    default: // released thumb, top, bottom, end of scroll: the position stays
        break;
    }
    c->state = ClampScroll(*c, position);
    Push(*c);
    Post(c->number, c->window, 0);
}

void SpinArrow(int control, int delta) {
    Control* c = FindKind(control, KindSpinBox);
    if (c == nullptr || delta == 0) return;
    c->state = ClampSpin(*c, int64_t{c->state} + delta);
    bool textChanged = false;
    if ((c->flags & SpinNumeric) != 0) {
        Text written = std::to_string(c->state);
        textChanged = written != c->text;
        if (textChanged) {
            c->text = std::move(written);
            c->caret = 0;
        }
    }
    Push(*c, textChanged);
    const int number = c->number;
    const int window = c->window;
    const uint64_t serial = c->serial;
    if (textChanged) Post(number, window, ChangeEvent);
    if (StillAlive(number, serial)) Post(number, window, delta > 0 ? SpinUp : SpinDown);
}

bool AcceptsTyping(int control, const Text& typed) {
    Control* c = Find(control);
    if (c == nullptr) return false;
    if (c->kind == KindSpinBox) return (c->flags & SpinReadOnly) == 0;
    if (c->kind != KindTextField) return false;
    if ((c->flags & TextDigitsOnly) != 0 &&
        !std::all_of(typed.begin(), typed.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        return false;
    return c->text.size() + typed.size() <= static_cast<size_t>(c->textLimit);
}

void TextEdited(int control, const Text& newText, int32_t caret) {
    Control* c = Find(control);
    if (c == nullptr || !IsTextKind(c->kind)) return;
    if (c->kind == KindSpinBox && (c->flags & SpinReadOnly) != 0) {
        Push(*c, true); // a read-only text part keeps the core's text
        return;
    }
    Text accepted = newText;
    if (c->kind == KindTextField && accepted.size() > static_cast<size_t>(c->textLimit))
        accepted.resize(static_cast<size_t>(c->textLimit));
    int32_t length = static_cast<int32_t>(std::min<size_t>(accepted.size(), INT32_MAX));
    c->caret = std::clamp<int32_t>(caret, 0, length);
    // A report that leaves the text as it was (an echo of a change the program made) posts
    // nothing.
    if (accepted == c->text) return;
    bool trimmed = accepted.size() != newText.size();
    c->text = std::move(accepted);
    Push(*c, trimmed);
    const int number = c->number;
    const int window = c->window;
    const uint64_t serial = c->serial;
    if (c->kind == KindSpinBox) {
        Post(number, window, ChangeEvent);
        return;
    }
    Post(number, window, EditUpdate);
    if (StillAlive(number, serial)) Post(number, window, EditChange);
}

void CheckClicked(int control) {
    Control* c = FindKind(control, KindCheckBox);
    if (c == nullptr) return;
    c->state = c->state == 1 ? 0 : 1;
    Push(*c);
    Post(c->number, c->window, 0);
}

void ButtonClicked(int control) {
    Control* c = FindKind(control, KindButton);
    if (c == nullptr) return;
    Post(c->number, c->window, 0);
}

} // namespace notify

namespace {

// One canvas event with a fresh data record.
void PostCanvas(int number, int window, int32_t subKind, const CanvasEventData& fields) {
    CanvasEventData* data = TakeEventData();
    if (data != nullptr) *data = fields;
    PostEvent(ControlEvent, number, window, subKind, data,
              data != nullptr ? &core::ReleaseCanvasEventData : nullptr);
}

} // namespace

namespace notify {

// A keyboard canvas that wants Tab and has the focus in this window takes the key itself.
void TabKey(int window, bool backwards) {
    if (Part() == nullptr) return;
    const Control* c = Find(Part()->focused);
    const int wanting = CanvasKeyboard | CanvasWantsTab;
    if (c != nullptr && c->window == window && c->kind == KindCanvas &&
        (c->flags & wanting) == wanting) {
        CanvasEventData fields;
        fields.keyCode = VkTab;
        fields.modifiers = backwards ? uint32_t(ModifierShift) : 0u;
        PostCanvas(c->number, window, KeyDown, fields);
        return;
    }
    MoveFocusIn(window, backwards);
}

// The text field posts FocusGained then the edit code 0x100 when it gains the focus, and
// FocusLost then 0x200 when it loses it: the field's own report comes before the edit
// notification it sends about itself.
void FocusChanged(int control, bool gained) {
    Control* c = Find(control);
    if (c == nullptr) return;
    state::Controls& p = *Part();
    if (gained) {
        p.focused = control;
    } else if (p.focused == control) {
        p.focused = -1;
    }
    const int number = c->number;
    const int window = c->window;
    const uint64_t serial = c->serial;
    if (c->kind == KindTextField) {
        Post(number, window, gained ? FocusGained : FocusLost);
        if (StillAlive(number, serial)) Post(number, window, gained ? EditSetFocus : EditKillFocus);
    } else if (c->kind == KindCanvas && (c->flags & CanvasKeyboard) != 0) {
        PostCanvas(number, window, gained ? FocusGained : FocusLost, CanvasEventData{});
    }
}

void CanvasInput(int control, Mouse message, int32_t x, int32_t y, uint32_t buttons,
                 uint32_t modifiers, int32_t value) {
    Control* c = FindKind(control, KindCanvas);
    if (c == nullptr) return;
    const int number = c->number;
    const int window = c->window;
    const uint64_t serial = c->serial;
    CanvasEventData fields;
    fields.x = x;
    fields.y = y;
    fields.buttons = buttons;
    fields.modifiers = modifiers;

    // A press takes the capture when its button is the only one held; a keyboard canvas also
    // takes the focus with it.
    auto press = [&](uint32_t bit, int32_t downKind, int32_t doubleKind) {
        if (buttons == bit) c->hasCapture = true;
        if ((c->flags & CanvasKeyboard) != 0 && Part()->focused != number) {
            GiveFocus(*c); // the backend may report the focus change, and posting may run code
            if (!StillAlive(number, serial)) return;
        }
        PostCanvas(number, window, downKind, fields);
        if (doubleKind >= 0 && StillAlive(number, serial))
            PostCanvas(number, window, doubleKind, fields);
    };
    // The click is decided before the capture goes: released inside the canvas, pressed on it.
    auto release = [&](int32_t upKind, int32_t clickKind) {
        const int32_t width = c->picture->pixels().width;
        const int32_t height = c->picture->pixels().height;
        bool click = clickKind >= 0 && c->hasCapture && x >= 0 && x < width && y >= 0 && y < height;
        if (buttons == 0) c->hasCapture = false;
        PostCanvas(number, window, upKind, fields);
        if (click && StillAlive(number, serial)) PostCanvas(number, window, clickKind, fields);
    };
    const bool keyboard = (c->flags & CanvasKeyboard) != 0;

    switch (message) {
    case Mouse::Move:
        if (!c->pointerInside) {
            c->pointerInside = true;
            PostCanvas(number, window, MouseEnter, fields);
        } else {
            PostCanvas(number, window, MouseMove, fields);
        }
        break;
    case Mouse::Leave:
        c->pointerInside = false;
        PostCanvas(number, window, MouseLeave, fields);
        break;
    case Mouse::LeftDown:
        press(kLeftBit, LeftButtonDown, -1);
        break;
    case Mouse::LeftDouble:
        press(kLeftBit, LeftButtonDown, LeftDoubleClick);
        break;
    case Mouse::RightDown:
        press(kRightBit, RightButtonDown, -1);
        break;
    case Mouse::RightDouble:
        press(kRightBit, RightButtonDown, RightDoubleClick);
        break;
    case Mouse::MiddleDown:
    case Mouse::MiddleDouble:
        press(kMiddleBit, MiddleButtonDown, -1);
        break;
    case Mouse::LeftUp:
        release(LeftButtonUp, LeftClick);
        break;
    case Mouse::RightUp:
        release(RightButtonUp, RightClick);
        break;
    case Mouse::MiddleUp:
        release(MiddleButtonUp, -1);
        break;
    case Mouse::Wheel: {
        int64_t& wheelAccumulator = Part()->wheelAccumulator;
        wheelAccumulator += value;
        int64_t steps = wheelAccumulator / kWheelStep;
        if (steps == 0) break;
        wheelAccumulator -= steps * kWheelStep;
        fields.wheelSteps = ClampToInt32(steps);
        PostCanvas(number, window, MouseWheel, fields);
        break;
    }
    case Mouse::KeyDown:
    case Mouse::KeyUp:
        if (!keyboard) break;
        fields.keyCode = static_cast<uint32_t>(value);
        PostCanvas(number, window, message == Mouse::KeyDown ? KeyDown : KeyUp, fields);
        break;
    case Mouse::Char:
        if (!keyboard || value < 32) break;
        // Characters are single bytes; one that has no byte of its own arrives as '?'.
        fields.character = value <= 0xFF ? static_cast<uint32_t>(value) : uint32_t{'?'};
        PostCanvas(number, window, TextInput, fields);
        break;
    }
}

} // namespace notify

} // namespace tk
