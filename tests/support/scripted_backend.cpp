// Every scripted gesture is queued as the native messages the GTK backend reports for it, so the
// core sees the same notifications in the same order.
#include "tests/support/scripted_backend.h"

#include "toolkit/controls.h"

namespace pmtest {

using tk::ControlView;
using tk::FileDialogAnswer;
using tk::FileDialogRequest;
using tk::GetControlState;
using tk::GetControlText;
using tk::MenuItemView;
using tk::Picture;
using tk::Text;
namespace notify = tk::notify;

namespace {

MenuItemView* FindItem(std::vector<MenuItemView>& level, int identifier) {
    for (MenuItemView& item : level) {
        if (!item.isTitle && !item.separator && item.identifier == identifier) return &item;
        if (MenuItemView* inner = FindItem(item.children, identifier)) return inner;
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

// ---- Scripting ------------------------------------------------------------------------------

void ScriptedBackend::Script(std::function<void()> nativeMessage) {
    script_.push_back(std::move(nativeMessage));
}

void ScriptedBackend::ScriptThumbDrag(int control, const std::vector<int32_t>& trackPositions) {
    // One pointer motion per position; the button release reports the final position and the
    // end of the scroll together.
    for (int32_t position : trackPositions)
        Script([=] { notify::ScrollAction(control, notify::Scroll::ThumbTrack, position); });
    int32_t last = trackPositions.empty() ? GetControlState(control) : trackPositions.back();
    Script([=] {
        notify::ScrollAction(control, notify::Scroll::ThumbPosition, last);
        notify::ScrollAction(control, notify::Scroll::EndScroll, last);
    });
}

void ScriptedBackend::ScriptScroll(int control, notify::Scroll action) {
    Script([=] {
        int32_t position = GetControlState(control);
        notify::ScrollAction(control, action, position);
        notify::ScrollAction(control, notify::Scroll::EndScroll, GetControlState(control));
    });
}

void ScriptedBackend::ScriptSpinArrow(int control, int delta) {
    Script([=] { notify::SpinArrow(control, delta); });
}

void ScriptedBackend::ScriptTyping(int control, const Text& characters) {
    for (char c : characters) {
        Script([=] {
            Text typed(1, c);
            if (!notify::AcceptsTyping(control, typed)) return;
            Text text = GetControlText(control) + typed;
            notify::TextEdited(control, text, static_cast<int32_t>(text.size()));
        });
    }
}

void ScriptedBackend::ScriptCheckClick(int control) {
    Script([=] { notify::CheckClicked(control); });
}

void ScriptedBackend::ScriptButtonClick(int control) {
    Script([=] { notify::ButtonClicked(control); });
}

void ScriptedBackend::ScriptMenu(int window, int identifier) {
    Script([=] { notify::MenuChosen(window, identifier); });
}

void ScriptedBackend::ScriptClose(int window) {
    Script([=] { notify::CloseRequested(window); });
}

void ScriptedBackend::ScriptCanvasDrag(int control, int32_t x1, int32_t y1,
                                       const std::vector<std::pair<int32_t, int32_t>>& moves,
                                       bool rightButton) {
    using notify::Mouse;
    const uint32_t held = rightButton ? 2u : 1u;
    const Mouse down = rightButton ? Mouse::RightDown : Mouse::LeftDown;
    const Mouse up = rightButton ? Mouse::RightUp : Mouse::LeftUp;
    // The pointer arrives at the press point first, then presses, moves holding, releases.
    Script([=] { notify::CanvasInput(control, Mouse::Move, x1, y1, 0, 0, 0); });
    Script([=] { notify::CanvasInput(control, down, x1, y1, held, 0, 0); });
    int32_t x = x1;
    int32_t y = y1;
    for (const auto& move : moves) {
        const int32_t mx = move.first;
        const int32_t my = move.second;
        Script([=] { notify::CanvasInput(control, Mouse::Move, mx, my, held, 0, 0); });
        x = mx;
        y = my;
    }
    Script([=] { notify::CanvasInput(control, up, x, y, 0, 0, 0); });
}

void ScriptedBackend::ScriptCanvasMove(int control, int32_t x, int32_t y, uint32_t buttons) {
    Script([=] { notify::CanvasInput(control, notify::Mouse::Move, x, y, buttons, 0, 0); });
}

void ScriptedBackend::ScriptDrop(int window, const std::vector<Text>& paths, int allowedActions) {
    Script([=] { notify::FilesDropped(window, paths, allowedActions, 0, 0, 0); });
}

void ScriptedBackend::ScriptKeyPress(int keyCode) {
    Script([=, this] {
        PressKey(keyCode);
        releaseAtNextMessage_.insert(keyCode);
    });
}

void ScriptedBackend::RunScript() {
    while (!script_.empty()) WaitNative();
}

// ---- Dialog answers -------------------------------------------------------------------------

void ScriptedBackend::AnswerFileDialog(const Text& path, int patternIndex) {
    fileAnswers_.push_back({path, patternIndex});
}

void ScriptedBackend::AnswerMessage(int result) {
    messageAnswers_.push_back(result);
}

void ScriptedBackend::AnswerText(bool ok, const Text& text) {
    textAnswers_.push_back({ok, text, false});
}

void ScriptedBackend::AnswerTextTyped(const Text& typed) {
    textAnswers_.push_back({true, typed, true});
}

// ---- Global keys ----------------------------------------------------------------------------

void ScriptedBackend::SetKeyDown(int keyCode, bool down) {
    if (down)
        keysDown_.insert(keyCode);
    else
        keysDown_.erase(keyCode);
}

void ScriptedBackend::PressKey(int keyCode) {
    keysDown_.insert(keyCode);
    keysPressed_.insert(keyCode);
}

bool ScriptedBackend::KeyDown(int keyCode) {
    return keysDown_.count(keyCode) != 0;
}

bool ScriptedBackend::KeyPressedSinceLastQuery(int keyCode) {
    return keysPressed_.erase(keyCode) != 0;
}

// ---- Backend --------------------------------------------------------------------------------

void ScriptedBackend::Shutdown() {
    script_.clear();
    controls.clear();
    windowTitles.clear();
    statusTexts.clear();
    menuBar.clear();
    focused = 0;
    dropActions = 0;
    windowWidths_.clear();
    barWindows_.clear();
    keysDown_.clear();
    keysPressed_.clear();
    releaseAtNextMessage_.clear();
}

intptr_t ScriptedBackend::CreateWindow(int, int, int, int innerWidth, int, const Text& title,
                                       uint32_t) {
    if (failWindowCreation) {
        failWindowCreation = false;
        return 0;
    }
    intptr_t handle = NextHandle();
    windowTitles[handle] = title;
    windowWidths_[handle] = innerWidth;
    return handle;
}

void ScriptedBackend::SetWindowTitle(intptr_t window, const Text& title) {
    if (windowTitles.count(window)) windowTitles[window] = title;
}

void ScriptedBackend::DestroyWindow(intptr_t window) {
    windowTitles.erase(window);
    windowWidths_.erase(window);
    for (auto it = barWindows_.begin(); it != barWindows_.end();) {
        if (it->second == window) {
            statusTexts.erase(it->first);
            it = barWindows_.erase(it);
        } else {
            ++it;
        }
    }
}

bool ScriptedBackend::SetMenuBar(intptr_t, const std::vector<MenuItemView>& bar) {
    menuBar = bar;
    return true;
}

void ScriptedBackend::SetMenuItemEnabled(intptr_t, int identifier, bool enabled) {
    if (MenuItemView* item = FindItem(menuBar, identifier)) item->disabled = !enabled;
}

intptr_t ScriptedBackend::CreateStatusBar(intptr_t window) {
    if (!windowTitles.count(window)) return 0;
    intptr_t handle = NextHandle();
    barWindows_[handle] = window;
    statusTexts[handle] = {};
    return handle;
}

void ScriptedBackend::SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) {
    statusTexts[statusBar].resize(widths.size());
}

void ScriptedBackend::SetStatusText(intptr_t statusBar, int field, const Text& text) {
    if (field < 0) return;
    std::vector<Text>& texts = statusTexts[statusBar];
    if (static_cast<size_t>(field) >= texts.size()) texts.resize(static_cast<size_t>(field) + 1);
    texts[static_cast<size_t>(field)] = text;
}

int32_t ScriptedBackend::StatusBarWidth(intptr_t statusBar) {
    auto bar = barWindows_.find(statusBar);
    if (bar == barWindows_.end()) return 0;
    auto width = windowWidths_.find(bar->second);
    return width == windowWidths_.end() ? 0 : width->second;
}

intptr_t ScriptedBackend::CreateControl(intptr_t, const ControlView& view) {
    intptr_t handle = NextHandle();
    controls[handle] = view;
    return handle;
}

void ScriptedBackend::UpdateControl(intptr_t control, const ControlView& view) {
    controls[control] = view;
}

void ScriptedBackend::DestroyControl(intptr_t control) {
    controls.erase(control);
    if (focused == control) focused = 0;
}

void ScriptedBackend::FocusControl(intptr_t control) {
    focused = control;
}

void ScriptedBackend::ShowCanvas(intptr_t, const Picture&) {
    ++canvasShows;
}

void ScriptedBackend::EnableFileDrop(intptr_t, int actions) {
    dropActions = actions;
}

int32_t ScriptedBackend::WaitNative() {
    for (int key : releaseAtNextMessage_) keysDown_.erase(key);
    releaseAtNextMessage_.clear();
    if (script_.empty()) return NullBackend::WaitNative();
    TakeFirst(script_)();
    return ScriptedMessage;
}

FileDialogAnswer ScriptedBackend::RunFileDialog(const FileDialogRequest& request) {
    dialogs.push_back({request.save ? "save" : "open", request.title, {}, {}, request, 0});
    if (fileAnswers_.empty()) return NullBackend::RunFileDialog(request);
    return TakeFirst(fileAnswers_);
}

int ScriptedBackend::RunMessageBox(const Text& title, const Text& text, int flags) {
    dialogs.push_back({"message", title, text, {}, {}, flags});
    if (messageAnswers_.empty()) return NullBackend::RunMessageBox(title, text, flags);
    return TakeFirst(messageAnswers_);
}

std::pair<bool, Text> ScriptedBackend::RunTextDialog(const Text& title, const Text& prompt,
                                                     const Text& defaultText) {
    dialogs.push_back({"text", title, prompt, defaultText, {}, 0});
    if (textAnswers_.empty()) return NullBackend::RunTextDialog(title, prompt, defaultText);
    TextAnswer answer = TakeFirst(textAnswers_);
    if (!answer.ok) return {false, Text()};
    return {true, answer.append ? defaultText + answer.text : answer.text};
}

} // namespace pmtest
