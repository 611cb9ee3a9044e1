// The event queue and the control rules over random gesture sequences on the tests' backend.
//
// Every post is watched by a procedure bound to its kind, which keeps a model of what the queue
// must hold: first in, first out, an entry identical to the tail merged away, nothing while
// events are suspended or a control is changed by the program. After every step the queue must
// equal the model, each scroll bar and spin box must sit inside its range and the digits-only
// field must hold digits only. WaitForEvent must return the model's oldest entry with its data,
// or a native message number (0x10000 and up) when none waits.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include <tuple>

#include "tests/fuzz/fuzz_check.h"
#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace {

using namespace tk;

enum : int { Canvas, RowBar, WidthBar, NumericSpin, PlainSpin, ReadOnlySpin, DigitsField };
enum : int { FreeField = DigitsField + 1, Check, Button, ControlCount };
constexpr int Window = 0;

// The kinds watched: every number from ControlEvent to SizeEvent, and odd ones the program may
// post (-1 is the wildcard of binding keys and stays out, so that each recorder runs once).
constexpr int32_t Odd[] = {0, 1, 0xFFFF, 0x10000, INT32_MAX, -5, INT32_MIN};
constexpr size_t Own = SizeEvent - ControlEvent + 1, KindCount = Own + std::size(Odd);
constexpr auto KindAt = [](size_t i) { return i < Own ? ControlEvent + int32_t(i) : Odd[i - Own]; };

// An event as the program reads it: kind, source, window, sub-kind, canvas data, files.
struct Entry {
    int32_t kind, source, window, subKind;
    int64_t x, y, buttons, wheel;
    Text files;
    bool operator==(const Entry&) const = default;
};
// What the queue keeps of an entry (or of a QueuedEvent): kind, source, window, sub-kind.
const auto Key = [](const auto& e) { return std::tuple(e.kind, e.source, e.window, e.subKind); };

Entry Current(int32_t kind) {
    auto at = [](int attribute) { return GetControlAttribute(Canvas, attribute); };
    return {kind,       EventControl(), EventWindow(),  EventKind(),   at(MouseX),
            at(MouseY), at(Buttons),    at(WheelDelta), DroppedFiles()};
}

std::unique_ptr<pmtest::ScriptedToolkit> toolkit;
std::deque<Entry> model;
int suspended = 0;         // SuspendEvents calls not yet resumed
bool programmatic = false; // inside a change by the program, which posts nothing
int nestingControl = -1;   // a ControlEvent of this control posts two more from inside
// A range the program changed: the state may lie outside.
std::array<bool, ControlCount + 1> spinOutside;

template <size_t I> void Record() {
    CHECK(suspended == 0 && !programmatic);
    const Entry e = Current(KindAt(I));
    if (model.empty() || e.kind >= 0x10000 || Key(e) != Key(model.back())) model.push_back(e);
}

template <size_t... I> void BindRecorders(std::index_sequence<I...>) {
    (BindEvent(KindAt(I), AnyValue, AnyValue, AnyValue, &Record<I>), ...);
}

void CheckRanges() {
    for (int c : {RowBar, WidthBar, NumericSpin, PlainSpin, ReadOnlySpin}) {
        int64_t low = GetControlAttribute(c, Minimum), high = GetControlAttribute(c, Maximum);
        if (c <= WidthBar) high -= std::max<int64_t>(GetControlAttribute(c, PageLength) - 1, 0);
        if (c > WidthBar) std::tie(low, high) = std::minmax({low, high});
        CHECK(spinOutside[c] ||
              (GetControlState(c) >= low && GetControlState(c) <= std::max(low, high)));
    }
    for (char c : GetControlText(DigitsField)) CHECK(c >= '0' && c <= '9');
}

void CheckQueueAndRanges() {
    CHECK(QueuedEventCount() == int(model.size()));
    for (size_t i = 0; i < model.size(); ++i) CHECK(Key(QueuedEventAt(int(i))) == Key(model[i]));
    CheckRanges();
}

// Posts from inside a bound procedure, and changes controls from the program (which posts
// nothing) while the outer event is being dispatched.
void PostFromInside() {
    static bool inside = false;
    if (inside || EventControl() != nestingControl) return;
    inside = programmatic = true;
    SetControlState(RowBar, std::min(INT32_MAX - 1, GetControlState(RowBar)) + 1);
    SetControlText(NumericSpin, "12");
    programmatic = false;
    PostEvent(MenuEvent, 77, Window, 0, nullptr, nullptr);
    PostEvent(ControlEvent, Button, Window, 0, nullptr, nullptr);
    inside = false;
}

template <typename T = int32_t> T Any(FuzzedDataProvider& in, T lo, T hi) {
    return in.ConsumeBool() ? in.ConsumeIntegral<T>() : in.ConsumeIntegralInRange(lo, hi);
}

void Build(FuzzedDataProvider& in) {
    model.clear(), suspended = 0, spinOutside = {};
    toolkit = std::make_unique<pmtest::ScriptedToolkit>(); // main window 0 (Window)
    CHECK(toolkit->ok && CreateMenuBar(0, WindowHandle(Window)));
    for (int id = 1; id <= 8; ++id) AddMenuItem(id, "item");
    EnableFileDrop(Window, FileListFormat, DropCopy);
    CHECK(AddCanvas(Canvas, 0, 0, in.ConsumeIntegralInRange(1, 80),
                    in.ConsumeIntegralInRange(1, 60), in.ConsumeIntegralInRange(0, 15)));
    CHECK(AddScrollBar(RowBar, 641, 0, 19, 481, 0, 481, 32, ScrollVertical));
    CHECK(AddScrollBar(WidthBar, 0, 481, 641, 19, Any(in, -600, 600), Any(in, -600, 600),
                       Any(in, -600, 600), 0));
    for (int spin : {NumericSpin, PlainSpin, ReadOnlySpin})
        CHECK(AddSpinBox(spin, 0, 520, 80, 20, Any(in, -600, 600), Any(in, -600, 600),
                         std::vector<int>{SpinNumeric, 0, SpinReadOnly}[spin - NumericSpin]));
    CHECK(AddTextField(DigitsField, 300, 520, 80, 20, "0", TextDigitsOnly));
    CHECK(AddTextField(FreeField, 400, 520, 80, 20, "", 0));
    SetControlAttribute(FreeField, MaximumLength, in.ConsumeIntegralInRange(-1, 40));
    CHECK(AddCheckBox(Check, 500, 520, 80, 20, "check") &&
          AddButton(Button, 600, 520, 20, 20, ">"));
    // Bound first, so that the recorders see the outer event before anything posted inside it.
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, &PostFromInside);
    BindRecorders(std::make_index_sequence<KindCount>());
    // Bound as the viewer binds its repaint: the new position is already inside the range.
    for (int bar : {RowBar, WidthBar}) BindControlCallback(bar, &CheckRanges);
    nestingControl = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, int(ControlCount)) : -1;
}

void Wait() {
    const bool waiting = !model.empty(); // with none, a native message is dispatched instead
    const int32_t got = WaitForEvent();
    CHECK(waiting ? Current(got) == model.front() && EventMenuItem() == EventControl()
                  : got >= 0x10000 && EventKind() == -1);
    if (waiting) model.pop_front();
}

// What a person's gesture reports while one native message is dispatched.
void Gesture(const std::vector<uint8_t>& bytes) {
    FuzzedDataProvider in(bytes.data(), bytes.size());
    const int what = in.ConsumeIntegralInRange(0, 8),
              control = in.ConsumeIntegralInRange(0, int(ControlCount));
    const int small = in.ConsumeIntegralInRange(0, 14), bar = control % 2 ? RowBar : WidthBar;
    // A spin box; or a spin box or text field.
    const int spin = NumericSpin + control % 3, field = NumericSpin + control % 5;
    const int32_t a = Any(in, -40, 700), b = Any(in, -5, 90);
    const Text text = in.ConsumeRandomLengthString(8);
    if (what == 0 && small > 8) notify::ScrollAction(bar, notify::Scroll::ThumbTrack, b);
    if (what == 0) notify::ScrollAction(bar, notify::Scroll(small % 9), a);
    if (what == 0) notify::ScrollAction(bar, notify::Scroll::EndScroll, GetControlState(bar));
    if (what == 1) notify::SpinArrow(spin, small > 7 ? a : small % 2 ? 1 : -1);
    if (what == 1) spinOutside[spin] &= small > 7 && a == 0; // arrows bring the state into range
    // Typed text is offered first, as the platform would; pasted or deleted text is not.
    if (what == 2 &&
        ((small % 2 == 0 && field < DigitsField) || notify::AcceptsTyping(field, text)))
        notify::TextEdited(field, small % 2 ? GetControlText(field) + text : text, small - 2);
    if (what == 3)
        notify::CanvasInput(Canvas, notify::Mouse(small), a, b, control % 8, small % 8, a);
    if (what == 4)
        notify::FilesDropped(Window, std::vector<Text>(small % 4, text), control % 8, small % 8, a,
                             b);
    if (what == 5) small % 2 ? notify::CheckClicked(control) : notify::ButtonClicked(control);
    if (what == 6) small % 2 ? notify::FocusChanged(control, a % 2) : notify::TabKey(Window, a % 2);
    if (what == 7)
        small % 2 ? notify::MenuChosen(Window, control % 10)
                  : SendKeyToControl(ControlHandle(control), VkEnd);
    if (what == 8) notify::CloseRequested(small % 3 - 1); // of this window, or of none
}

// A change by the program (state, text, an attribute), which posts nothing, or a post of its own
// whose data the queue must release exactly once (a leak or a double free shows). Data the
// program puts under the canvas's number is not read as the canvas's own (Wait compares).
void ByTheProgram(FuzzedDataProvider& in) {
    const int control = in.ConsumeIntegralInRange(0, int(ControlCount)),
              what = in.ConsumeIntegralInRange(0, 3);
    const int64_t value = Any<int64_t>(in, -40, 700);
    const int32_t values[] = {0, 1, 2, 3, 6, 7, 77, -2, 0x10003, INT32_MAX};
    Text text = in.ConsumeRandomLengthString(6);
    if (control == DigitsField) std::erase_if(text, [](char c) { return c < '0' || c > '9'; });
    const bool data = in.ConsumeBool();
    const int before = QueuedEventCount();
    programmatic = what < 3;
    if (what == 0) SetControlState(control, int32_t(value));
    if (what == 1) SetControlText(control, text);
    if (what == 2) SetControlAttribute(control, in.ConsumeIntegralInRange(0, 4), value);
    spinOutside[control] |= what == 2 && control >= NumericSpin && control <= ReadOnlySpin;
    CHECK(!programmatic || QueuedEventCount() == before);
    programmatic = false;
    if (what == 3)
        PostEvent(
            KindAt(value % KindCount), values[control % 10],
            in.ConsumeBool() ? Window : values[value & 7], values[in.ConsumeIntegralInRange(0, 9)],
            data ? std::malloc(size_t(value & 63) + 1) : nullptr, data ? &std::free : nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider in(bytes, size);
    Build(in);
    for (int step = 0; step < 400 && in.remaining_bytes() > 0; ++step) {
        const int what = in.ConsumeIntegralInRange(0, 6);
        // A scripted native message, or one dispatched at once, as inside a modal loop.
        if (what <= 1) toolkit->backend.Script([g = in.ConsumeBytes<uint8_t>(32)] { Gesture(g); });
        if (what == 2) Gesture(in.ConsumeBytes<uint8_t>(32));
        if (what == 3) Wait(), Wait();
        if (what == 4) ByTheProgram(in);
        if (what == 5) SuspendEvents(), ++suspended;
        if (what == 6 && suspended > 0) ResumeEvents(), --suspended;
        CheckQueueAndRanges();
    }
    for (; suspended > 0; --suspended) ResumeEvents();
    // Every scripted message runs and every entry comes back in order.
    for (int n = 0; n < 10000 && (!model.empty() || toolkit->backend.ScriptedLeft() > 0); ++n)
        Wait(), CheckQueueAndRanges();
    CHECK(model.empty() && QueuedEventCount() == 0);
    toolkit.reset();
    return 0;
}
