// The tests' backend: the null backend with scripting. Tests script native messages, gestures
// and dialog answers in advance and read back what the core showed. WaitNative takes the next
// scripted native message and dispatches it; with none left it returns tk::NullIdle at once, so a
// test can never block.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "tests/support/running_toolkit.h"
#include "toolkit/headless/null_backend.h"

namespace pmtest {

constexpr int32_t ScriptedMessage = tk::NullIdle + 1; // WaitNative dispatched a scripted message

class ScriptedBackend : public tk::NullBackend {
  public:
    // ---- Scripting ----
    // One native message: the action runs (it calls tk::notify::...) when WaitNative takes it.
    void Script(std::function<void()> nativeMessage) {
        script_.push_back(std::move(nativeMessage));
    }
    // Gestures, each queued as the native messages a person's gesture produces.
    void ScriptThumbDrag(int control, const std::vector<int32_t>& trackPositions);
    void ScriptSpinArrow(int control, int delta) {
        Script([=] { tk::notify::SpinArrow(control, delta); });
    }
    void ScriptTyping(int control, const tk::Text& characters); // one message per character
    void ScriptButtonClick(int control) {
        Script([=] { tk::notify::ButtonClicked(control); });
    }
    void ScriptMenu(int window, int identifier) {
        Script([=] { tk::notify::MenuChosen(window, identifier); });
    }
    // A key pressed while the window has the focus: the menu item the menu bar shows with that
    // accelerator is chosen, as the GTK and Win32 backends choose it; a key no item has does
    // nothing.
    void ScriptAccelerator(int window, int keyCode, uint32_t modifiers = 0);
    void ScriptClose(int window) {
        Script([=] { tk::notify::CloseRequested(window); });
    }
    // The person sizes the window to a new inner size.
    void ScriptResize(int window, int innerWidth, int innerHeight) {
        Script([=, this] {
            windowWidths_[tk::WindowHandle(window)] = innerWidth;
            windowHeights_[tk::WindowHandle(window)] = innerHeight;
            tk::notify::SizeChanged(window, tk::notify::SizeChange::Resized);
        });
    }
    // Canvas: press at (x1, y1), moves along the points, release at the last point.
    void ScriptCanvasDrag(int control, int32_t x1, int32_t y1,
                          const std::vector<std::pair<int32_t, int32_t>>& moves,
                          bool rightButton = false);
    void ScriptDrop(int window, const std::vector<tk::Text>& paths, int allowedActions = 1) {
        Script([=] { tk::notify::FilesDropped(window, paths, allowedActions, 0, 0, 0); });
    }
    size_t ScriptedLeft() const { return script_.size(); }
    // Runs every scripted message now (as WaitNative would, one after another).
    void RunScript() {
        while (!script_.empty()) WaitNative();
    }

    // Dialog answers, taken in order; with none queued a dialog is cancelled as the null backend
    // cancels it.
    void AnswerFileDialog(const tk::Text& path, int patternIndex = 0) {
        fileAnswers_.push_back({path, patternIndex});
    }
    void AnswerMessage(int result) { messageAnswers_.push_back(result); }
    void AnswerText(bool ok, const tk::Text& text) { textAnswers_.push_back({ok, text, false}); }
    // Types into the text dialog: the answer is the default text followed by `typed`.
    void AnswerTextTyped(const tk::Text& typed) { textAnswers_.push_back({true, typed, true}); }

    // What the dialogs were asked, for tests.
    struct DialogRecord {
        std::string kind; // "open", "save", "message", "text"
        tk::Text text, defaultText;
        tk::FileDialogRequest file;
    };
    std::vector<DialogRecord> dialogs;

    // Global keys: down or up now; a press is down and pressed since the last query.
    void SetKeyDown(int keyCode, bool down) {
        if (down) keysDown_.insert(keyCode);
        if (!down) keysDown_.erase(keyCode);
    }
    void PressKey(int keyCode) { keysDown_.insert(keyCode), keysPressed_.insert(keyCode); }

    // What was shown.
    std::map<intptr_t, tk::ControlView> controls;
    std::map<intptr_t, tk::Text> windowTitles;
    std::vector<tk::MenuItemView> menuBar;
    intptr_t focused = 0;
    std::vector<intptr_t> activated; // the windows brought to the front, in order
    int dropActions = 0;

    // ---- Backend ----
    intptr_t CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const tk::Text& title, uint32_t flags) override;
    void SetWindowTitle(intptr_t window, const tk::Text& title) override {
        if (windowTitles.count(window)) windowTitles[window] = title;
    }
    void DestroyWindow(intptr_t window) override { windowTitles.erase(window); }
    void ActivateWindow(intptr_t window) override { activated.push_back(window); }
    bool InnerSize(intptr_t window, int& width, int& height) override {
        if (!windowWidths_.count(window)) return false;
        width = windowWidths_[window], height = windowHeights_[window];
        return true;
    }
    bool SetMenuBar(intptr_t, const std::vector<tk::MenuItemView>& bar) override {
        menuBar = bar;
        return true;
    }
    void SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) override;
    void SetMenuItemChecked(intptr_t window, int identifier, bool checked) override;
    intptr_t CreateStatusBar(intptr_t window) override;
    int32_t StatusBarWidth(intptr_t statusBar) override;
    intptr_t CreateControl(intptr_t, const tk::ControlView& view) override;
    void UpdateControl(intptr_t control, const tk::ControlView& view) override {
        controls[control] = view;
    }
    void DestroyControl(intptr_t control) override;
    void FocusControl(intptr_t control) override { focused = control; }
    void EnableFileDrop(intptr_t, int actions) override { dropActions = actions; }
    int32_t WaitNative() override;
    bool KeyDown(int keyCode) override { return keysDown_.count(keyCode) != 0; }
    bool KeyPressedSinceLastQuery(int keyCode) override { return keysPressed_.erase(keyCode) != 0; }
    tk::FileDialogAnswer RunFileDialog(const tk::FileDialogRequest& request) override;
    int RunMessageBox(const tk::Text& title, const tk::Text& text, int flags) override;
    std::pair<bool, tk::Text> RunTextDialog(const tk::Text& title, const tk::Text& prompt,
                                            const tk::Text& defaultText) override;

  private:
    std::deque<std::function<void()>> script_;
    std::deque<tk::FileDialogAnswer> fileAnswers_;
    std::deque<int> messageAnswers_;
    std::deque<std::tuple<bool, tk::Text, bool>> textAnswers_; // ok, text, appended to the default
    std::set<int> keysDown_, keysPressed_;
    std::map<intptr_t, int> windowWidths_;    // window handle -> inner width
    std::map<intptr_t, int> windowHeights_;   // window handle -> inner height
    std::map<intptr_t, intptr_t> barWindows_; // status bar handle -> window handle
};

// The toolkit started on a scripted backend with main window 0 (660 x 610) for as long as the
// object lives. Make it the first member of a fixture: it goes last.
using ScriptedToolkit = StartedToolkit<ScriptedBackend, true>;

// One event as the program's loop receives it.
struct Seen {
    int32_t kind, source, window, subKind;
    bool operator==(const Seen&) const = default;
};
// Waits for events (running the scripted messages on the way) until the loop idles; `each` runs
// while every event is current.
std::vector<Seen> Drain(const std::function<void(const Seen&)>& each = nullptr);

} // namespace pmtest
