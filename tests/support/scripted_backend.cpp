// Every scripted gesture is queued as the native messages the GTK backend reports for it, so the
// core sees the same notifications in the same order.
#include "tests/support/scripted_backend.h"

#include "toolkit/controls.h"

namespace pmtest {

using tk::Text;
namespace notify = tk::notify;

namespace {

// The first item on the bar or in its drop-downs, depth first, that `wanted` accepts.
template <typename Wanted>
tk::MenuItemView* FindItem(std::vector<tk::MenuItemView>& level, const Wanted& wanted) {
    for (tk::MenuItemView& item : level) {
        if (!item.isTitle && !item.separator && wanted(item)) return &item;
        if (tk::MenuItemView* inner = FindItem(item.children, wanted)) return inner;
    }
    return nullptr;
}

// Removes the first entry of a queue of scripted messages or answers and gives it.
template <typename T> T TakeFirst(std::deque<T>& queue) {
    T first = std::move(queue.front());
    queue.pop_front();
    return first;
}

} // namespace

void ScriptedBackend::ScriptThumbDrag(int control, const std::vector<int32_t>& trackPositions) {
    // One pointer motion per position; the button release reports the final position and the
    // end of the scroll together.
    for (int32_t position : trackPositions)
        Script([=] { notify::ScrollAction(control, notify::Scroll::ThumbTrack, position); });
    int32_t last = trackPositions.empty() ? tk::GetControlState(control) : trackPositions.back();
    Script([=] {
        notify::ScrollAction(control, notify::Scroll::ThumbPosition, last);
        notify::ScrollAction(control, notify::Scroll::EndScroll, last);
    });
}

void ScriptedBackend::ScriptAccelerator(int window, int keyCode, uint32_t modifiers) {
    Script([=, this] {
        if (const tk::MenuItemView* item = FindItem(menuBar, [&](const tk::MenuItemView& i) {
                return i.accelerator == tk::Accelerator{keyCode, modifiers};
            }))
            notify::MenuChosen(window, item->identifier);
    });
}

void ScriptedBackend::ScriptTyping(int control, const Text& characters) {
    for (char c : characters) {
        Script([=] {
            if (!notify::AcceptsTyping(control, Text(1, c))) return;
            const Text text = tk::GetControlText(control) + c;
            notify::TextEdited(control, text, static_cast<int32_t>(text.size()));
        });
    }
}

void ScriptedBackend::ScriptCanvasDrag(int control, int32_t x1, int32_t y1,
                                       const std::vector<std::pair<int32_t, int32_t>>& moves,
                                       bool rightButton) {
    using notify::Mouse;
    const uint32_t held = rightButton ? 2u : 1u;
    auto input = [&](Mouse kind, std::pair<int32_t, int32_t> at, uint32_t buttons) {
        Script([=] { notify::CanvasInput(control, kind, at.first, at.second, buttons, 0, 0); });
    };
    // The pointer arrives at the press point first, then presses, moves holding, releases.
    input(Mouse::Move, {x1, y1}, 0);
    input(rightButton ? Mouse::RightDown : Mouse::LeftDown, {x1, y1}, held);
    for (const auto& at : moves) input(Mouse::Move, at, held);
    input(rightButton ? Mouse::RightUp : Mouse::LeftUp,
          moves.empty() ? std::pair(x1, y1) : moves.back(), 0);
}

intptr_t ScriptedBackend::CreateWindow(int, int, int, int innerWidth, int innerHeight,
                                       const Text& title, uint32_t) {
    intptr_t handle = NextHandle();
    windowTitles[handle] = title;
    windowWidths_[handle] = innerWidth;
    windowHeights_[handle] = innerHeight;
    return handle;
}

void ScriptedBackend::SetMenuItemEnabled(intptr_t, int identifier, bool enabled) {
    const auto named = [&](const tk::MenuItemView& item) { return item.identifier == identifier; };
    if (tk::MenuItemView* item = FindItem(menuBar, named)) item->disabled = !enabled;
}

void ScriptedBackend::SetMenuItemChecked(intptr_t, int identifier, bool checked) {
    const auto named = [&](const tk::MenuItemView& item) { return item.identifier == identifier; };
    if (tk::MenuItemView* item = FindItem(menuBar, named)) item->checked = checked;
}

intptr_t ScriptedBackend::CreateStatusBar(intptr_t window) {
    if (!windowTitles.count(window)) return 0;
    intptr_t handle = NextHandle();
    barWindows_[handle] = window;
    return handle;
}

int32_t ScriptedBackend::StatusBarWidth(intptr_t statusBar) {
    auto bar = barWindows_.find(statusBar);
    return bar == barWindows_.end() ? 0 : windowWidths_[bar->second];
}

intptr_t ScriptedBackend::CreateControl(intptr_t, const tk::ControlView& view) {
    intptr_t handle = NextHandle();
    controls[handle] = view;
    return handle;
}

void ScriptedBackend::DestroyControl(intptr_t control) {
    controls.erase(control);
    if (focused == control) focused = 0;
}

int32_t ScriptedBackend::WaitNative() {
    if (script_.empty()) return NullBackend::WaitNative();
    TakeFirst(script_)();
    return ScriptedMessage;
}

tk::FileDialogAnswer ScriptedBackend::RunFileDialog(const tk::FileDialogRequest& request) {
    dialogs.push_back({request.save ? "save" : "open", {}, {}, request});
    if (fileAnswers_.empty()) return NullBackend::RunFileDialog(request);
    return TakeFirst(fileAnswers_);
}

int ScriptedBackend::RunMessageBox(const Text& title, const Text& text, int flags) {
    dialogs.push_back({"message", text, {}, {}});
    if (messageAnswers_.empty()) return NullBackend::RunMessageBox(title, text, flags);
    return TakeFirst(messageAnswers_);
}

std::pair<bool, Text> ScriptedBackend::RunTextDialog(const Text& title, const Text& prompt,
                                                     const Text& defaultText) {
    dialogs.push_back({"text", prompt, defaultText, {}});
    if (textAnswers_.empty()) return NullBackend::RunTextDialog(title, prompt, defaultText);
    const auto [ok, text, appended] = TakeFirst(textAnswers_);
    return {ok, !ok ? Text() : appended ? defaultText + text : text};
}

std::vector<Seen> Drain(const std::function<void(const Seen&)>& each) {
    std::vector<Seen> seen;
    for (int guard = 0; guard < 100000; ++guard) {
        const int32_t kind = tk::WaitForEvent();
        if (kind == tk::NullIdle || kind == 0) break;
        if (kind >= tk::NativeMessageBase) continue;
        seen.push_back({kind, tk::EventControl(), tk::EventWindow(), tk::EventKind()});
        if (each) each(seen.back());
    }
    return seen;
}

} // namespace pmtest
