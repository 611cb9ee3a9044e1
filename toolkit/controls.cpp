// Controls: the control table and the logical state of every kind. What the backend reports
// about them is turned into postings in control_input.cpp.
//
// Sections: the table; canvas event records; helpers; creation; reading and changing; focus;
// start-up and shut-down.
#include "toolkit/controls.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "toolkit/backend.h"
#include "toolkit/control_records.h"
#include "toolkit/core_internal.h"
#include "toolkit/state.h"
#include "toolkit/window.h"

namespace tk {

namespace ctl {

// ---- The table ------------------------------------------------------------------------------

state::Controls* Part() {
    return state::Get<state::Controls>();
}

Control* Find(int number) {
    state::Controls* p = Part();
    if (p == nullptr || number < 0 || number >= static_cast<int>(p->table.size())) return nullptr;
    return p->table[number].get();
}

Control* FindKind(int number, int kind) {
    Control* c = Find(number);
    return c != nullptr && c->kind == kind ? c : nullptr;
}

// The control that still is the one a caller saw before posting (not destroyed, not replaced).
bool StillAlive(int number, uint64_t serial) {
    Control* c = Find(number);
    return c != nullptr && c->serial == serial;
}

Control* FindByHandle(intptr_t handle) {
    state::Controls* p = Part();
    if (handle == 0 || p == nullptr) return nullptr;
    for (auto& c : p->table) {
        if (c && c->handle == handle) return c.get();
    }
    return nullptr;
}

// ---- Canvas event records -------------------------------------------------------------------
//
// Every canvas event carries a record, released by the queue once the event was taken; the
// count of those out tells tests that none is lost.

CanvasEventData* TakeEventData() {
    auto* data = new (std::nothrow) CanvasEventData{};
    if (data != nullptr && Part() != nullptr) ++Part()->eventDataOut;
    return data;
}

void GiveBackEventData(void* data) {
    if (data == nullptr) return;
    delete static_cast<CanvasEventData*>(data);
    if (Part() != nullptr) --Part()->eventDataOut;
}

// ---- Helpers --------------------------------------------------------------------------------

struct EventsSuspended {
    EventsSuspended() { SuspendEvents(); }
    ~EventsSuspended() { ResumeEvents(); }
    EventsSuspended(const EventsSuspended&) = delete;
    EventsSuspended& operator=(const EventsSuspended&) = delete;
};

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

bool IsTextKind(int kind) {
    return kind == KindTextField || kind == KindSpinBox;
}

// Scroll positions run from minimum to maximum - max(page - 1, 0), never below minimum.
int32_t ClampScroll(const Control& c, int64_t position) {
    int64_t low = c.minimum;
    int64_t high =
        static_cast<int64_t>(c.maximum) - std::max<int64_t>(int64_t{c.pageLength} - 1, 0);
    if (high < low) high = low;
    return static_cast<int32_t>(std::clamp(position, low, high));
}

// Spin positions run over the range whichever way round its bounds were given.
int32_t ClampSpin(const Control& c, int64_t position) {
    int64_t low = std::min(c.minimum, c.maximum);
    int64_t high = std::max(c.minimum, c.maximum);
    return static_cast<int32_t>(std::clamp(position, low, high));
}

ControlView ViewOf(const Control& c, bool withCaret) {
    ControlView view;
    view.number = c.number;
    view.window = c.window;
    view.kind = c.kind;
    view.x = c.x;
    view.y = c.y;
    view.width = c.width;
    view.height = c.height;
    view.flags = c.flags;
    view.text = c.text;
    view.state = c.state;
    view.minimum = c.minimum;
    view.maximum = c.maximum;
    view.pageLength = c.pageLength;
    view.enabled = c.enabled;
    view.caret = withCaret && IsTextKind(c.kind) ? c.caret : -1;
    view.picture = c.picture.get();
    return view;
}

// Mirrors the record into the native control.
void Push(const Control& c, bool withCaret) {
    Backend* backend = core::backend();
    if (backend != nullptr && c.handle != 0) backend->UpdateControl(c.handle, ViewOf(c, withCaret));
}

void Post(int number, int window, int32_t subKind) {
    PostEvent(ControlEvent, number, window, subKind, nullptr, nullptr);
}

bool TakesFocus(const Control& c) {
    if (!c.enabled) return false;
    switch (c.kind) {
    case KindCheckBox:
    case KindButton:
    case KindTextField:
    case KindSpinBox:
        return true;
    case KindCanvas:
        return (c.flags & CanvasKeyboard) != 0;
    default:
        return false;
    }
}

void GiveFocus(Control& c) {
    Part()->focused = c.number;
    Backend* backend = core::backend();
    if (backend != nullptr && c.handle != 0) backend->FocusControl(c.handle);
}

// Tab order: the window's focusable controls in creation order, wrapping at both ends.
void MoveFocusIn(int window, bool backwards) {
    std::vector<Control*> order;
    for (auto& c : Part()->table) {
        if (c && c->window == window && TakesFocus(*c)) order.push_back(c.get());
    }
    if (order.empty()) return;
    std::sort(order.begin(), order.end(),
              [](const Control* a, const Control* b) { return a->serial < b->serial; });
    const int focused = Part()->focused;
    auto current = std::find_if(order.begin(), order.end(),
                                [focused](const Control* c) { return c->number == focused; });
    Control* next = nullptr;
    if (current == order.end()) {
        next = backwards ? order.back() : order.front();
    } else if (backwards) {
        next = current == order.begin() ? order.back() : *(current - 1);
    } else {
        next = current + 1 == order.end() ? order.front() : *(current + 1);
    }
    GiveFocus(*next);
}

// Removes the record from the table before telling the backend, so that whatever the backend
// reports while its widget goes (a lost focus, say) finds no control and posts nothing.
void DestroyNumber(int number) {
    if (Find(number) == nullptr) return;
    state::Controls& p = *Part();
    std::unique_ptr<Control> gone = std::move(p.table[number]);
    if (p.focused == number) p.focused = -1;
    Backend* backend = core::backend();
    if (backend != nullptr && gone->handle != 0) backend->DestroyControl(gone->handle);
    core::RemoveQueuedControlEvents(number);
}

// ---- Creation -------------------------------------------------------------------------------

// A white picture of a canvas's inner size: its rectangle less a sunken border, at least 1 x 1.
std::unique_ptr<Picture> CanvasPicture(const Control& c) {
    const int border = (c.flags & CanvasSunken) != 0 ? 4 : 0;
    const int32_t w = std::max<int64_t>(int64_t{c.width} - border, kCanvasFallbackWidth);
    const int32_t h = std::max<int64_t>(int64_t{c.height} - border, kCanvasFallbackWidth);
    std::unique_ptr<Picture> picture = Picture::Create(w, h, 24);
    if (picture) picture->FillWhite();
    return picture;
}

// What the creating procedures were given: the parameters of a new control.
struct ControlParameters {
    int kind = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int flags = 0;
    Text text;
    int32_t minimum = 0, maximum = 0, pageLength = 0;
};

intptr_t Create(int number, const ControlParameters& given) {
    if (number < 0 || number > kLargestNumber) return 0;
    Backend* backend = core::backend();
    if (backend == nullptr) return 0;
    int window = core::ControlParentWindow();
    if (window < 0) return 0;
    intptr_t nativeWindow = core::NativeWindow(window);
    if (nativeWindow == 0) return 0;

    auto c = std::make_unique<Control>();
    c->number = number;
    c->kind = given.kind;
    c->window = window;
    c->x = given.x;
    c->y = given.y;
    c->width = given.width;
    c->height = given.height;
    c->flags = given.flags;
    c->text = given.text;
    c->minimum = given.minimum;
    c->maximum = given.maximum;
    c->pageLength = given.pageLength;
    if (given.kind == KindScrollBar) c->state = ClampScroll(*c, 0);
    if (given.kind == KindSpinBox) c->state = ClampSpin(*c, 0);
    if (given.kind == KindCanvas) {
        c->picture = CanvasPicture(*c);
        if (!c->picture) return 0;
    }

    // The old control of this number stays when the new one cannot be made.
    c->handle = backend->CreateControl(nativeWindow, ViewOf(*c, true));
    if (c->handle == 0) return 0;
    DestroyNumber(number);
    state::Controls& p = *Part();
    if (number >= static_cast<int>(p.table.size())) p.table.resize(size_t(number) + kTableStep);
    c->serial = p.nextSerial++;
    p.table[number] = std::move(c);
    return p.table[number]->handle;
}

} // namespace ctl

using namespace ctl;

intptr_t AddCanvas(int number, int x, int y, int width, int height, int flags) {
    return Create(number, {KindCanvas, x, y, width, height, flags, {}, 0, 0, 0});
}

intptr_t AddScrollBar(int number, int x, int y, int width, int height, int32_t minimum,
                      int32_t maximum, int32_t pageLength, int flags) {
    return Create(number,
                  {KindScrollBar, x, y, width, height, flags, {}, minimum, maximum, pageLength});
}

intptr_t AddCheckBox(int number, int x, int y, int width, int height, const Text& text) {
    return Create(number, {KindCheckBox, x, y, width, height, 0, text, 0, 0, 0});
}

intptr_t AddLabel(int number, int x, int y, int width, int height, const Text& text, int flags) {
    return Create(number, {KindLabel, x, y, width, height, flags, text, 0, 0, 0});
}

intptr_t AddSpinBox(int number, int x, int y, int width, int height, int32_t minimum,
                    int32_t maximum, int flags) {
    return Create(number, {KindSpinBox, x, y, width, height, flags, {}, minimum, maximum, 0});
}

intptr_t AddTextField(int number, int x, int y, int width, int height, const Text& text,
                      int flags) {
    return Create(number, {KindTextField, x, y, width, height, flags, text, 0, 0, 0});
}

intptr_t AddButton(int number, int x, int y, int width, int height, const Text& text) {
    return Create(number, {KindButton, x, y, width, height, 0, text, 0, 0, 0});
}

void DestroyControl(int number) {
    DestroyNumber(number);
}

int MoveControl(int number, int x, int y, int width, int height) {
    Control* c = Find(number);
    if (c == nullptr || width < 0 || height < 0) return 0;
    const int oldWidth = c->width, oldHeight = c->height;
    c->x = x, c->y = y, c->width = width, c->height = height;
    if (c->kind == KindCanvas && (width != oldWidth || height != oldHeight)) {
        std::unique_ptr<Picture> picture = CanvasPicture(*c);
        if (!picture) { // no memory for the new size: the control keeps its old one
            c->width = oldWidth, c->height = oldHeight;
            return 0;
        }
        const PixelBuffer& from = c->picture->pixels();
        PixelBuffer& to = picture->pixels();
        const int32_t rows = std::min(from.height, to.height);
        const size_t bytes = size_t(std::min(from.width, to.width)) * 3;
        for (int32_t y = 0; y < rows; ++y) // the top rows, bottom-up in memory
            std::memcpy(to.bits + size_t(to.height - 1 - y) * size_t(to.stride),
                        from.bits + size_t(from.height - 1 - y) * size_t(from.stride), bytes);
        c->picture = std::move(picture);
    }
    Push(*c);
    return 1;
}

// ---- Reading and changing -------------------------------------------------------------------

int32_t GetControlState(int number) {
    Control* c = Find(number);
    if (c == nullptr) return 0;
    switch (c->kind) {
    case KindScrollBar:
    case KindSpinBox:
    case KindCheckBox:
        return c->state;
    default:
        return 0;
    }
}

int SetControlState(int number, int32_t value) {
    Control* c = Find(number);
    if (c == nullptr) return 0;
    EventsSuspended quiet;
    switch (c->kind) {
    case KindScrollBar:
        c->state = ClampScroll(*c, value);
        Push(*c);
        return 1;
    case KindCheckBox:
        c->state = value == 0 ? 0 : 1;
        Push(*c);
        return 1;
    case KindSpinBox:
        c->state = ClampSpin(*c, value);
        if ((c->flags & SpinNumeric) != 0) {
            c->text = std::to_string(c->state);
            c->caret = 0;
            Push(*c, true);
        } else {
            Push(*c);
        }
        return 1;
    default:
        return 0;
    }
}

Text GetControlText(int number) {
    Control* c = Find(number);
    return c != nullptr ? c->text : Text();
}

int SetControlText(int number, const Text& text) {
    Control* c = Find(number);
    if (c == nullptr) return 0;
    // Whatever the native control reports about this change while it happens is an echo of the
    // program's own doing and posts nothing.
    EventsSuspended quiet;
    c->text = text;
    c->caret = 0;
    Push(*c, true);
    return 1;
}

int64_t GetControlAttribute(int number, int attribute) {
    Control* c = Find(number);
    if (c == nullptr) return 0;
    switch (c->kind) {
    case KindCanvas: {
        if (attribute == CanvasImage) return HandleOf(c->picture.get());
        // Only data the canvas itself attached is read as canvas data: an event posted by the
        // program under the canvas's number may carry anything.
        if (!core::CurrentEventIsControlEvent(number) ||
            core::CurrentEventRelease() != &core::ReleaseCanvasEventData)
            return 0;
        auto* data = static_cast<const CanvasEventData*>(core::CurrentEventData());
        if (data == nullptr) return 0;
        switch (attribute) {
        case MouseX:
            return data->x;
        case MouseY:
            return data->y;
        case Buttons:
            return data->buttons;
        case KeyCode:
            return data->keyCode;
        case Modifiers:
            return data->modifiers;
        case WheelDelta:
            return data->wheelSteps;
        case InputCharacter:
            return data->character;
        default:
            return 0;
        }
    }
    case KindScrollBar:
        if (attribute == PageLength) return c->pageLength;
        [[fallthrough]];
    case KindSpinBox:
        if (attribute == Minimum) return c->minimum;
        if (attribute == Maximum) return c->maximum;
        return 0;
    case KindTextField:
        return attribute == MaximumLength ? c->textLimit : 0;
    default:
        return 0;
    }
}

int SetControlAttribute(int number, int attribute, int64_t value) {
    Control* c = Find(number);
    if (c == nullptr) return 0;
    int32_t v = ClampToInt32(value);
    switch (c->kind) {
    case KindScrollBar:
        if (attribute == Minimum) {
            c->minimum = v;
        } else if (attribute == Maximum) {
            c->maximum = v;
        } else if (attribute == PageLength) {
            c->pageLength = v;
        } else {
            return 0;
        }
        c->state = ClampScroll(*c, c->state);
        Push(*c);
        return 1;
    case KindSpinBox:
        // The range of the arrows changes; the position stays as it is until it is next moved.
        if (attribute == Minimum) {
            c->minimum = v;
        } else if (attribute == Maximum) {
            c->maximum = v;
        } else {
            return 0;
        }
        Push(*c);
        return 1;
    case KindTextField:
        if (attribute != MaximumLength) return 0;
        c->textLimit = std::max<int32_t>(v, 1);
        return 1;
    default:
        return 0;
    }
}

intptr_t ControlHandle(int number) {
    Control* c = Find(number);
    return c != nullptr ? c->handle : 0;
}

int ControlKind(int number) {
    Control* c = Find(number);
    return c != nullptr ? c->kind : 0;
}

void SendKeyToControl(intptr_t handle, int keyCode) {
    Control* c = FindByHandle(handle);
    if (c == nullptr || !IsTextKind(c->kind)) return;
    if (keyCode == VkEnd) {
        c->caret = static_cast<int32_t>(std::min<size_t>(c->text.size(), INT32_MAX));
        Push(*c, true);
    }
}

int32_t ControlCaret(int number) {
    Control* c = Find(number);
    return c != nullptr && IsTextKind(c->kind) ? c->caret : 0;
}

// ---- Focus ------------------------------------------------------------------------------

int FocusedControl() {
    state::Controls* p = Part();
    return p != nullptr && Find(p->focused) != nullptr ? p->focused : -1;
}

int GiveControlFocus(int number) {
    Control* c = Find(number);
    if (c == nullptr || !TakesFocus(*c)) return 0;
    GiveFocus(*c);
    return 1;
}

void MoveFocus(bool backwards) {
    Control* focused = Find(FocusedControl());
    int window = focused != nullptr ? focused->window : core::ControlParentWindow();
    if (window < 0) return;
    MoveFocusIn(window, backwards);
}

// ---- Start-up and shut-down -----------------------------------------------------------------

namespace {

Picture* CanvasPictureOf(int control) {
    Control* c = FindKind(control, KindCanvas);
    return c != nullptr ? c->picture.get() : nullptr;
}

void ShowCanvasNow(int control) {
    Control* c = FindKind(control, KindCanvas);
    Backend* backend = core::backend();
    if (c != nullptr && backend != nullptr && c->picture)
        backend->ShowCanvas(c->handle, *c->picture);
}

} // namespace

template <> state::Controls* state::Make() {
    SetCanvasHooks({&CanvasPictureOf, &ShowCanvasNow});
    return new Controls;
}

// Runs while the part is still current (Toolkit::~Toolkit): every control goes as DestroyControl
// would take it, while the windows and the backend still stand.
template <> void state::Destroy(Controls* part) {
    for (int number = 0; number < static_cast<int>(part->table.size()); ++number)
        DestroyNumber(number);
    SetCanvasHooks({});
    delete part;
}

namespace core {

void DestroyControlsOfWindow(int window) {
    state::Controls* p = Part();
    if (p == nullptr) return;
    for (int number = 0; number < static_cast<int>(p->table.size()); ++number) {
        Control* c = Find(number);
        if (c != nullptr && c->window == window) DestroyNumber(number);
    }
}

void ReleaseCanvasEventData(void* data) {
    GiveBackEventData(data);
}

int CanvasEventDataInUse() {
    state::Controls* p = Part();
    return p != nullptr ? p->eventDataOut : 0;
}

int ControlWindow(int control) {
    Control* c = Find(control);
    return c != nullptr ? c->window : -1;
}

} // namespace core

} // namespace tk
