// The in-memory backend. Native objects are small increasing integers; every scripted gesture
// is queued as the native messages the GTK backend reports for it, so the core sees the same
// notifications in the same order.
#include "toolkit/headless/headless_backend.h"

#include "toolkit/controls.h"

namespace tk {

namespace {

MenuItemView* FindItem(std::vector<MenuItemView>& level, int identifier) {
    for (MenuItemView& item : level) {
        if (!item.isTitle && !item.separator && item.identifier == identifier) return &item;
        if (MenuItemView* inner = FindItem(item.children, identifier)) return inner;
    }
    return nullptr;
}

} // namespace

// ---- Scripting ------------------------------------------------------------------------------

void HeadlessBackend::Script(std::function<void()> nativeMessage) {
    script_.push_back(std::move(nativeMessage));
}

void HeadlessBackend::ScriptThumbDrag(int control, const std::vector<int32_t>& trackPositions) {
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

void HeadlessBackend::ScriptScroll(int control, notify::Scroll action) {
    Script([=] {
        int32_t position = GetControlState(control);
        notify::ScrollAction(control, action, position);
        notify::ScrollAction(control, notify::Scroll::EndScroll, GetControlState(control));
    });
}

void HeadlessBackend::ScriptSpinArrow(int control, int delta) {
    Script([=] { notify::SpinArrow(control, delta); });
}

void HeadlessBackend::ScriptTyping(int control, const Text& characters) {
    for (char c : characters) {
        Script([=] {
            Text typed(1, c);
            if (!notify::AcceptsTyping(control, typed)) return;
            Text text = GetControlText(control) + typed;
            notify::TextEdited(control, text, static_cast<int32_t>(text.size()));
        });
    }
}

void HeadlessBackend::ScriptCheckClick(int control) {
    Script([=] { notify::CheckClicked(control); });
}

void HeadlessBackend::ScriptButtonClick(int control) {
    Script([=] { notify::ButtonClicked(control); });
}

void HeadlessBackend::ScriptMenu(int window, int identifier) {
    Script([=] { notify::MenuChosen(window, identifier); });
}

void HeadlessBackend::ScriptClose(int window) {
    Script([=] { notify::CloseRequested(window); });
}

void HeadlessBackend::ScriptCanvasDrag(int control, int32_t x1, int32_t y1,
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

void HeadlessBackend::ScriptCanvasMove(int control, int32_t x, int32_t y, uint32_t buttons) {
    Script([=] { notify::CanvasInput(control, notify::Mouse::Move, x, y, buttons, 0, 0); });
}

void HeadlessBackend::ScriptDrop(int window, const std::vector<Text>& paths, int allowedActions) {
    Script([=] { notify::FilesDropped(window, paths, allowedActions, 0, 0, 0); });
}

void HeadlessBackend::ScriptKeyPress(int keyCode) {
    Script([=, this] {
        PressKey(keyCode);
        releaseAtNextMessage_.insert(keyCode);
    });
}

void HeadlessBackend::RunScript() {
    while (!script_.empty()) WaitNative();
}

// ---- Dialog answers -------------------------------------------------------------------------

void HeadlessBackend::AnswerFileDialog(const Text& path, int patternIndex) {
    fileAnswers_.push_back({path, patternIndex});
}

void HeadlessBackend::AnswerMessage(int result) {
    messageAnswers_.push_back(result);
}

void HeadlessBackend::AnswerText(bool ok, const Text& text) {
    textAnswers_.push_back({ok, text, false});
}

void HeadlessBackend::AnswerTextTyped(const Text& typed) {
    textAnswers_.push_back({true, typed, true});
}

// ---- Global keys ----------------------------------------------------------------------------

void HeadlessBackend::SetKeyDown(int keyCode, bool down) {
    if (down)
        keysDown_.insert(keyCode);
    else
        keysDown_.erase(keyCode);
}

void HeadlessBackend::PressKey(int keyCode) {
    keysDown_.insert(keyCode);
    keysPressed_.insert(keyCode);
}

bool HeadlessBackend::KeyDown(int keyCode) {
    return keysDown_.count(keyCode) != 0;
}

bool HeadlessBackend::KeyPressedSinceLastQuery(int keyCode) {
    return keysPressed_.erase(keyCode) != 0;
}

// ---- Backend --------------------------------------------------------------------------------

bool HeadlessBackend::Init() {
    return true;
}

void HeadlessBackend::Shutdown() {
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

intptr_t HeadlessBackend::CreateWindow(int, int, int, int innerWidth, int, const Text& title,
                                       uint32_t) {
    if (failWindowCreation) {
        failWindowCreation = false;
        return 0;
    }
    intptr_t handle = nextHandle_++;
    windowTitles[handle] = title;
    windowWidths_[handle] = innerWidth;
    return handle;
}

void HeadlessBackend::SetWindowTitle(intptr_t window, const Text& title) {
    if (windowTitles.count(window)) windowTitles[window] = title;
}

void HeadlessBackend::DestroyWindow(intptr_t window) {
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

bool HeadlessBackend::SetMenuBar(intptr_t, const std::vector<MenuItemView>& bar) {
    menuBar = bar;
    return true;
}

void HeadlessBackend::SetMenuItemEnabled(intptr_t, int identifier, bool enabled) {
    if (MenuItemView* item = FindItem(menuBar, identifier)) item->disabled = !enabled;
}

intptr_t HeadlessBackend::CreateStatusBar(intptr_t window) {
    if (!windowTitles.count(window)) return 0;
    intptr_t handle = nextHandle_++;
    barWindows_[handle] = window;
    statusTexts[handle] = {};
    return handle;
}

void HeadlessBackend::SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) {
    statusTexts[statusBar].resize(widths.size());
}

void HeadlessBackend::SetStatusText(intptr_t statusBar, int field, const Text& text) {
    if (field < 0) return;
    std::vector<Text>& texts = statusTexts[statusBar];
    if (static_cast<size_t>(field) >= texts.size()) texts.resize(static_cast<size_t>(field) + 1);
    texts[static_cast<size_t>(field)] = text;
}

int32_t HeadlessBackend::StatusBarWidth(intptr_t statusBar) {
    auto bar = barWindows_.find(statusBar);
    if (bar == barWindows_.end()) return 0;
    auto width = windowWidths_.find(bar->second);
    return width == windowWidths_.end() ? 0 : width->second;
}

intptr_t HeadlessBackend::CreateControl(intptr_t, const ControlView& view) {
    intptr_t handle = nextHandle_++;
    controls[handle] = view;
    return handle;
}

void HeadlessBackend::UpdateControl(intptr_t control, const ControlView& view) {
    controls[control] = view;
}

void HeadlessBackend::DestroyControl(intptr_t control) {
    controls.erase(control);
    if (focused == control) focused = 0;
}

void HeadlessBackend::FocusControl(intptr_t control) {
    focused = control;
}

void HeadlessBackend::ShowCanvas(intptr_t, const Picture&) {
    ++canvasShows;
}

void HeadlessBackend::EnableFileDrop(intptr_t, int actions) {
    dropActions = actions;
}

int32_t HeadlessBackend::WaitNative() {
    for (int key : releaseAtNextMessage_) keysDown_.erase(key);
    releaseAtNextMessage_.clear();
    if (script_.empty()) return HeadlessIdle;
    std::function<void()> message = std::move(script_.front());
    script_.pop_front();
    message();
    return HeadlessMessage;
}

FileDialogAnswer HeadlessBackend::RunFileDialog(const FileDialogRequest& request) {
    DialogRecord record;
    record.kind = request.save ? "save" : "open";
    record.title = request.title;
    record.file = request;
    dialogs.push_back(std::move(record));
    if (fileAnswers_.empty()) return {Text(), -1};
    FileDialogAnswer answer = fileAnswers_.front();
    fileAnswers_.pop_front();
    return answer;
}

int HeadlessBackend::RunMessageBox(const Text& title, const Text& text, int flags) {
    DialogRecord record;
    record.kind = "message";
    record.title = title;
    record.text = text;
    record.flags = flags;
    dialogs.push_back(std::move(record));
    if (messageAnswers_.empty()) return (flags & 0xF) == MessageYesNo ? ResultNo : ResultOk;
    int answer = messageAnswers_.front();
    messageAnswers_.pop_front();
    return answer;
}

std::pair<bool, Text> HeadlessBackend::RunTextDialog(const Text& title, const Text& prompt,
                                                     const Text& defaultText) {
    DialogRecord record;
    record.kind = "text";
    record.title = title;
    record.text = prompt;
    record.defaultText = defaultText;
    dialogs.push_back(std::move(record));
    if (textAnswers_.empty()) return {false, Text()};
    TextAnswer answer = textAnswers_.front();
    textAnswers_.pop_front();
    if (!answer.ok) return {false, Text()};
    return {true, answer.append ? defaultText + answer.text : answer.text};
}

} // namespace tk
