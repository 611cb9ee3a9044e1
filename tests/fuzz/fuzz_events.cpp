// The event queue and the control rules over random gesture sequences on an in-memory backend.
//
// Every post is watched by a procedure bound to its kind, which keeps a model of what the queue
// must hold: first in, first out, an entry identical to the tail merged away (keeping the tail's
// data), nothing while events are suspended or a control is changed by the program. After every
// step the real queue must equal the model, each scroll bar and spin box must sit inside its
// range and the digits-only field must hold digits only. WaitForEvent must return the model's
// oldest entry, with its data, or a native message number (0x10000 and up) when none waits.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "tests/support/scripted_backend.h"
#include "toolkit/backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace {

using namespace tk;

// The controls of the test window, by number.
enum : int {
    Canvas = 0,
    RowBar = 1,
    WidthBar = 2,
    NumericSpin = 3,
    PlainSpin = 4,
    ReadOnlySpin = 5,
    DigitsField = 6,
    FreeField = 7,
    Check = 8,
    Button = 9,
    Label = 10,
    ControlCount = 11,
};
constexpr int Window = 0;

// Every kind the harness watches: the toolkit's own and a few odd ones the program could post.
constexpr int32_t kKinds[] = {ControlEvent,
                              MenuEvent,
                              ActivateEvent,
                              DropEvent,
                              MinimizeEvent,
                              MaximizeEvent,
                              RestoreEvent,
                              WindowRightClick,
                              WindowLeftClick,
                              WindowLeftDoubleClick,
                              DeactivateEvent,
                              RepaintEvent,
                              CloseEvent,
                              MoveEvent,
                              SizeEvent,
                              0,
                              1,
                              0xFFFF,
                              0x10000,
                              0x10001,
                              INT32_MAX,
                              -5,
                              INT32_MIN};
constexpr size_t kKindCount = sizeof kKinds / sizeof kKinds[0];

struct Entry {
    int32_t kind = 0, source = 0, window = 0, subKind = 0;
    bool canvasData = false;
    int64_t x = 0, y = 0, buttons = 0, wheel = 0;
    Text files;
    bool SameKey(const Entry& other) const {
        return kind == other.kind && source == other.source && window == other.window &&
               subKind == other.subKind;
    }
};

struct Harness {
    std::unique_ptr<pmtest::ScriptedBackend> backend;
    std::deque<Entry> model;
    int suspended = 0;         // SuspendEvents calls of the harness not yet resumed
    bool programmatic = false; // inside SetControlState, SetControlText or an attribute change
    int nesting = 0;
    int nestingControl = -1; // a ControlEvent of this control posts two more from inside
    int32_t nestedKind = MenuEvent;
    // A spin box whose range the program changed keeps its position until the next arrow use
    // or SetControlState brings it into the range.
    bool spinOutside[ControlCount + 1] = {};
};

Harness h;

void OnPosted(int32_t kind) {
    CHECK(h.suspended == 0);
    CHECK(!h.programmatic);
    Entry e;
    e.kind = kind;
    e.source = EventControl();
    e.window = EventWindow();
    e.subKind = EventKind();
    if (kind == ControlEvent && e.source == Canvas) {
        e.canvasData = true;
        e.x = GetControlAttribute(Canvas, MouseX);
        e.y = GetControlAttribute(Canvas, MouseY);
        e.buttons = GetControlAttribute(Canvas, Buttons);
        e.wheel = GetControlAttribute(Canvas, WheelDelta);
    }
    if (kind == DropEvent) e.files = DroppedFiles();
    if (!h.model.empty() && kind < 0x10000 && h.model.back().SameKey(e)) return;
    h.model.push_back(e);
}

template <size_t I> void Record() {
    OnPosted(kKinds[I]);
}

template <size_t... I> void BindRecorders(std::index_sequence<I...>) {
    (BindEvent(kKinds[I], AnyValue, AnyValue, AnyValue, &Record<I>), ...);
}

void CheckRanges() {
    for (int bar : {RowBar, WidthBar}) {
        const int64_t low = GetControlAttribute(bar, Minimum);
        const int64_t page = GetControlAttribute(bar, PageLength);
        int64_t high = GetControlAttribute(bar, Maximum) - std::max<int64_t>(page - 1, 0);
        if (high < low) high = low;
        const int32_t state = GetControlState(bar);
        CHECK(state >= low && state <= high);
    }
    for (int spin : {NumericSpin, PlainSpin, ReadOnlySpin}) {
        const int64_t a = GetControlAttribute(spin, Minimum);
        const int64_t b = GetControlAttribute(spin, Maximum);
        const int32_t state = GetControlState(spin);
        if (!h.spinOutside[spin]) CHECK(state >= std::min(a, b) && state <= std::max(a, b));
    }
    for (char c : GetControlText(DigitsField)) CHECK(c >= '0' && c <= '9');
}

void CheckQueue() {
    const int count = QueuedEventCount();
    CHECK(count == static_cast<int>(h.model.size()));
    for (int i = 0; i < count; ++i) {
        const QueuedEvent q = QueuedEventAt(i);
        const Entry& e = h.model[size_t(i)];
        CHECK(q.kind == e.kind && q.source == e.source && q.window == e.window &&
              q.subKind == e.subKind);
        if (i > 0 && q.kind < 0x10000) {
            const QueuedEvent p = QueuedEventAt(i - 1);
            CHECK(!(p.kind == q.kind && p.source == q.source && p.window == q.window &&
                    p.subKind == q.subKind));
        }
    }
    CheckRanges();
}

// Bound to both scroll bars as the viewer binds its repaint: the new position is already
// inside the range when the procedure runs.
void OnScrollBar() {
    CHECK(EventControl() == RowBar || EventControl() == WidthBar);
    CheckRanges();
}

// Posts from inside a bound procedure, and changes controls from the program, which posts
// nothing.
void PostFromInside() {
    if (h.nesting > 0 || EventControl() != h.nestingControl) return;
    ++h.nesting;
    PostEvent(h.nestedKind, 77, Window, 0, nullptr, nullptr);
    PostEvent(ControlEvent, Button, Window, 0, nullptr, nullptr);
    h.programmatic = true;
    SetControlState(RowBar, static_cast<int32_t>(std::min<int64_t>(
                                INT32_MAX, int64_t{GetControlState(RowBar)} + 1)));
    SetControlText(NumericSpin, "12");
    h.programmatic = false;
    --h.nesting;
}

void Build(FuzzedDataProvider& in) {
    h.backend = std::make_unique<pmtest::ScriptedBackend>();
    h.model.clear();
    h.suspended = 0;
    h.programmatic = false;
    h.nesting = 0;
    std::fill(std::begin(h.spinOutside), std::end(h.spinOutside), false);
    CHECK(InitToolkit(h.backend.get()) == 1);
    CHECK(CreateMainWindow(Window, 0, 0, 660, 610, "events", 0xCA0001) != 0);
    CHECK(CreateMenuBar(0, WindowHandle(Window)) != 0);
    AddMenuTitle("Project");
    for (int id = 1; id <= 4; ++id) AddMenuItem(id, "item");
    AddMenuSeparator();
    CloseSubmenu();
    for (int id = 5; id <= 8; ++id) AddMenuItem(id, "bar");
    SetMenuItemDisabled(0, 8, 1);
    CreateStatusBar(0, WindowHandle(Window));
    AddStatusField(StatusFillWidth);
    EnableFileDrop(Window, FileListFormat, DropCopy);

    auto bound = [&] {
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return in.ConsumeIntegral<int32_t>();
        case 1:
            return in.ConsumeIntegralInRange<int32_t>(-3, 3);
        default:
            return in.ConsumeIntegralInRange<int32_t>(-600, 600);
        }
    };
    CHECK(AddCanvas(Canvas, 0, 0, in.ConsumeIntegralInRange<int>(1, 80),
                    in.ConsumeIntegralInRange<int>(1, 60), in.ConsumeIntegralInRange<int>(0, 15)));
    CHECK(AddScrollBar(RowBar, 641, 0, 19, 481, 0, 481, 32, ScrollVertical));
    const int32_t minimum = bound(), maximum = bound();
    const auto page = static_cast<int32_t>(bound());
    CHECK(AddScrollBar(WidthBar, 0, 481, 641, 19, minimum, maximum, page, 0));
    CHECK(AddSpinBox(NumericSpin, 0, 520, 80, 20, bound(), bound(), SpinNumeric));
    CHECK(AddSpinBox(PlainSpin, 100, 520, 80, 20, bound(), bound(), 0));
    CHECK(AddSpinBox(ReadOnlySpin, 200, 520, 80, 20, bound(), bound(), SpinReadOnly));
    CHECK(AddTextField(DigitsField, 300, 520, 80, 20, "0", TextDigitsOnly));
    CHECK(AddTextField(FreeField, 400, 520, 80, 20, "", 0));
    SetControlAttribute(FreeField, MaximumLength, in.ConsumeIntegralInRange<int>(-1, 40));
    CHECK(AddCheckBox(Check, 500, 520, 80, 20, "check"));
    CHECK(AddButton(Button, 600, 520, 20, 20, ">"));
    CHECK(AddLabel(Label, 0, 550, 80, 20, "label", LabelRight));

    // Bound first so that the recorders, bound later under the same key, see the outer event
    // before anything posted from inside it.
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, &PostFromInside);
    BindRecorders(std::make_index_sequence<kKindCount>());
    BindControlCallback(RowBar, &OnScrollBar);
    BindControlCallback(WidthBar, &OnScrollBar);
    h.nestingControl = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, ControlCount) : -1;
    h.nestedKind = in.ConsumeBool() ? MenuEvent : ControlEvent;
    CHECK(QueuedEventCount() == 0);
}

// One call of WaitForEvent against the model.
void Wait() {
    if (h.model.empty()) {
        const int32_t got = WaitForEvent();
        CHECK(got >= 0x10000);
        CHECK(EventKind() == -1);
        return;
    }
    const Entry expected = h.model.front();
    h.model.pop_front();
    const int32_t got = WaitForEvent();
    CHECK(got == expected.kind);
    CHECK(EventControl() == expected.source && EventMenuItem() == expected.source);
    CHECK(EventWindow() == expected.window && EventKind() == expected.subKind);
    if (expected.canvasData) {
        CHECK(GetControlAttribute(Canvas, MouseX) == expected.x);
        CHECK(GetControlAttribute(Canvas, MouseY) == expected.y);
        CHECK(GetControlAttribute(Canvas, Buttons) == expected.buttons);
        CHECK(GetControlAttribute(Canvas, WheelDelta) == expected.wheel);
    } else if (got != ControlEvent || EventControl() != Canvas) {
        CHECK(GetControlAttribute(Canvas, MouseX) == 0);
    }
    CHECK(DroppedFiles() == (got == DropEvent ? expected.files : Text()));
}

Text RandomPath(FuzzedDataProvider& in) {
    Text path = in.ConsumeRandomLengthString(12);
    for (char& c : path) c = "abc/. \n"[static_cast<unsigned char>(c) % 7];
    return path;
}

int32_t Coordinate(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-5, 90)
                            : in.ConsumeIntegral<int32_t>();
}

// A gesture as the backend would report it while dispatching one native message.
std::function<void()> Gesture(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 12)) {
    case 0: {
        const int bar = in.ConsumeBool() ? RowBar : WidthBar;
        const auto action = static_cast<notify::Scroll>(in.ConsumeIntegralInRange<int>(0, 8));
        const int32_t track = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>()
                                               : in.ConsumeIntegralInRange<int32_t>(-40, 600);
        return [=] {
            notify::ScrollAction(bar, action, track);
            notify::ScrollAction(bar, notify::Scroll::EndScroll, GetControlState(bar));
        };
    }
    case 1: {
        const int spin = in.ConsumeIntegralInRange<int>(NumericSpin, ReadOnlySpin);
        const int delta =
            in.ConsumeBool() ? (in.ConsumeBool() ? 1 : -1) : in.ConsumeIntegral<int32_t>();
        return [=] {
            notify::SpinArrow(spin, delta);
            if (delta != 0) h.spinOutside[spin] = false;
        };
    }
    case 2: {
        // One typed character, offered first as the platform would.
        const int target = in.ConsumeIntegralInRange<int>(NumericSpin, FreeField);
        const Text typed(1, static_cast<char>(in.ConsumeIntegral<uint8_t>()));
        return [=] {
            if (!notify::AcceptsTyping(target, typed)) return;
            const Text text = GetControlText(target) + typed;
            notify::TextEdited(target, text, static_cast<int32_t>(text.size()));
        };
    }
    case 3: {
        // A whole replacement text, as a paste or a deletion would give.
        const int target = in.ConsumeIntegralInRange<int>(NumericSpin, FreeField);
        Text text = in.ConsumeRandomLengthString(8);
        const int32_t caret = in.ConsumeIntegralInRange<int32_t>(-2, 12);
        return [=] {
            if (target == DigitsField || target == FreeField) {
                if (!notify::AcceptsTyping(target, text)) return;
            }
            notify::TextEdited(target, text, caret);
        };
    }
    case 4: {
        const auto message = static_cast<notify::Mouse>(in.ConsumeIntegralInRange<int>(0, 14));
        const int32_t x = Coordinate(in), y = Coordinate(in);
        const uint32_t buttons = in.ConsumeIntegralInRange<uint32_t>(0, 7);
        const uint32_t modifiers = in.ConsumeIntegralInRange<uint32_t>(0, 7);
        const int32_t value = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-360, 360)
                                               : in.ConsumeIntegral<int32_t>();
        return [=] { notify::CanvasInput(Canvas, message, x, y, buttons, modifiers, value); };
    }
    case 5: {
        const int id = in.ConsumeIntegralInRange<int>(0, 9);
        return [=] { notify::MenuChosen(Window, id); };
    }
    case 6: {
        std::vector<Text> paths;
        for (int n = in.ConsumeIntegralInRange<int>(0, 3); n > 0; --n)
            paths.push_back(RandomPath(in));
        const int allowed = in.ConsumeIntegralInRange<int>(0, 7);
        const uint32_t modifiers = in.ConsumeIntegralInRange<uint32_t>(0, 7);
        const int32_t x = Coordinate(in), y = Coordinate(in);
        return [=] {
            const int offered = notify::DropEffect(Window, allowed, modifiers);
            const int taken = notify::FilesDropped(Window, paths, allowed, modifiers, x, y);
            CHECK(offered == 0 || (offered & allowed) != 0);
            CHECK(taken == 0 || (taken & allowed) != 0);
        };
    }
    case 7: {
        const int control = in.ConsumeIntegralInRange<int>(0, ControlCount);
        return in.ConsumeBool() ? std::function<void()>([=] { notify::CheckClicked(control); })
                                : std::function<void()>([=] { notify::ButtonClicked(control); });
    }
    case 8: {
        const int control = in.ConsumeIntegralInRange<int>(0, ControlCount);
        const bool gained = in.ConsumeBool();
        return [=] { notify::FocusChanged(control, gained); };
    }
    case 9: {
        const bool backwards = in.ConsumeBool();
        return [=] { notify::TabKey(Window, backwards); };
    }
    case 10: {
        const int which = in.ConsumeIntegralInRange<int>(0, 5);
        const int window = in.ConsumeIntegralInRange<int>(-1, 1);
        const int change = in.ConsumeIntegralInRange<int>(0, 3);
        return [=] {
            switch (which) {
            case 0:
                notify::CloseRequested(window);
                break;
            case 1:
                notify::Activated(window, change & 1);
                break;
            case 2:
                notify::SizeChanged(window, static_cast<notify::SizeChange>(change));
                break;
            case 3:
                notify::Moved(window);
                break;
            case 4:
                notify::BackgroundErased(window);
                break;
            default:
                notify::WindowClick(window, WindowRightClick + change % 3);
                break;
            }
        };
    }
    case 11: {
        const int control = in.ConsumeIntegralInRange<int>(0, ControlCount);
        return [=] { SendKeyToControl(ControlHandle(control), VkEnd); };
    }
    default: {
        // A thumb dragged over several track positions within one message loop.
        const int bar = in.ConsumeBool() ? RowBar : WidthBar;
        std::vector<int32_t> track;
        for (int n = in.ConsumeIntegralInRange<int>(0, 6); n > 0; --n)
            track.push_back(in.ConsumeIntegralInRange<int32_t>(-50, 700));
        return [=] {
            for (int32_t position : track)
                notify::ScrollAction(bar, notify::Scroll::ThumbTrack, position);
            notify::ScrollAction(bar, notify::Scroll::ThumbPosition, GetControlState(bar));
            notify::ScrollAction(bar, notify::Scroll::EndScroll, GetControlState(bar));
        };
    }
    }
}

void ProgrammaticChange(FuzzedDataProvider& in) {
    const int control = in.ConsumeIntegralInRange<int>(0, ControlCount);
    const int before = QueuedEventCount();
    h.programmatic = true;
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        SetControlState(control, in.ConsumeIntegral<int32_t>());
        break;
    case 1: {
        // The program itself only ever puts digits into the digits-only field.
        Text text = in.ConsumeRandomLengthString(6);
        if (control == DigitsField) std::erase_if(text, [](char c) { return c < '0' || c > '9'; });
        SetControlText(control, text);
        break;
    }
    default: {
        const int attribute = in.ConsumeIntegralInRange<int>(0, 4);
        int64_t value = in.ConsumeBool() ? in.ConsumeIntegral<int64_t>()
                                         : in.ConsumeIntegralInRange<int64_t>(-40, 700);
        SetControlAttribute(control, attribute, value);
        if (ControlKind(control) == KindSpinBox) h.spinOutside[control] = true;
        break;
    }
    }
    h.programmatic = false;
    CHECK(QueuedEventCount() == before);
}

void ProgramPost(FuzzedDataProvider& in) {
    const int32_t kind = kKinds[in.ConsumeIntegralInRange<size_t>(0, kKindCount - 1)];
    // -1 is the wildcard of binding keys and is left out so that each recorder runs once.
    const int32_t values[] = {0, 1, 2, 3, 6, 7, 77, -2, 0x10003, INT32_MAX};
    const int32_t source = values[in.ConsumeIntegralInRange<size_t>(0, 9)];
    const int32_t window =
        in.ConsumeBool() ? Window : values[in.ConsumeIntegralInRange<size_t>(0, 9)];
    const int32_t subKind = values[in.ConsumeIntegralInRange<size_t>(0, 9)];
    // Data of the program's own is released by the queue exactly once (a leak or a double free
    // shows). A canvas reads its events' data as its own record, so none goes with those.
    void* data = nullptr;
    ReleaseProc release = nullptr;
    if (in.ConsumeBool() && !(kind == ControlEvent && source == Canvas)) {
        data = std::malloc(in.ConsumeIntegralInRange<size_t>(1, 64));
        release = &std::free;
    }
    PostEvent(kind, source, window, subKind, data, release);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider in(bytes, size);
    Build(in);
    CheckQueue();
    for (int step = 0; step < 400 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
        case 1:
            h.backend->Script(Gesture(in));
            break;
        case 2:
            Gesture(in)();
            break; // as if dispatched inside a modal loop
        case 3:
            for (int n = in.ConsumeIntegralInRange<int>(1, 4); n > 0; --n) Wait();
            break;
        case 4:
            ProgramPost(in);
            break;
        case 5:
            ProgrammaticChange(in);
            break;
        case 6:
            SuspendEvents();
            ++h.suspended;
            break;
        default:
            if (h.suspended > 0) {
                ResumeEvents();
                --h.suspended;
            }
            break;
        }
        CheckQueue();
    }
    while (h.suspended > 0) {
        ResumeEvents();
        --h.suspended;
    }
    // Drain: every scripted message runs and every entry comes back in order.
    for (int guard = 0; guard < 10000; ++guard) {
        if (h.model.empty() && h.backend->ScriptedLeft() == 0) break;
        Wait();
        CheckQueue();
    }
    CHECK(h.model.empty() && QueuedEventCount() == 0);
    ReleaseToolkit();
    h.backend.reset();
    return 0;
}
