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

#include "toolkit/headless/null_backend.h"

namespace pmtest {

constexpr int32_t ScriptedMessage = tk::NullIdle + 1; // WaitNative dispatched a scripted message

class ScriptedBackend : public tk::NullBackend {
  public:
    // ---- Scripting ----
    // One native message: the action runs (it calls tk::notify::...) when WaitNative takes it.
    void Script(std::function<void()> nativeMessage);
    // Gestures, each queued as the native messages a person's gesture produces.
    void ScriptThumbDrag(int control, const std::vector<int32_t>& trackPositions);
    void ScriptScroll(int control, tk::notify::Scroll action); // the action then EndScroll
    void ScriptSpinArrow(int control, int delta);
    void ScriptTyping(int control, const tk::Text& characters); // one message per character
    void ScriptCheckClick(int control);
    void ScriptButtonClick(int control);
    void ScriptMenu(int window, int identifier);
    void ScriptClose(int window);
    // Canvas: press at (x1, y1), moves along the points, release at the last point.
    void ScriptCanvasDrag(int control, int32_t x1, int32_t y1,
                          const std::vector<std::pair<int32_t, int32_t>>& moves,
                          bool rightButton = false);
    void ScriptCanvasMove(int control, int32_t x, int32_t y, uint32_t buttons);
    void ScriptDrop(int window, const std::vector<tk::Text>& paths, int allowedActions = 1);
    // Global key: one message presses it (down, and pressed since the last query); it goes up
    // when the next native message is taken, as a real release would be the next message.
    void ScriptKeyPress(int keyCode);
    size_t ScriptedLeft() const { return script_.size(); }
    // Runs every scripted message now (as WaitNative would, one after another).
    void RunScript();

    // Dialog answers, taken in order; with none queued a dialog is cancelled as the null backend
    // cancels it.
    void AnswerFileDialog(const tk::Text& path, int patternIndex = 0);
    void AnswerMessage(int result);
    void AnswerText(bool ok, const tk::Text& text); // the text the entry holds at OK
    // Types into the text dialog: the answer is the default text followed by `typed`.
    void AnswerTextTyped(const tk::Text& typed);

    // What the dialogs were asked, for tests.
    struct DialogRecord {
        std::string kind; // "open", "save", "message", "text"
        tk::Text title, text, defaultText;
        tk::FileDialogRequest file;
        int flags = 0;
    };
    std::vector<DialogRecord> dialogs;

    // Global keys.
    void SetKeyDown(int keyCode, bool down);
    void PressKey(int keyCode); // marks pressed since the last query and down

    // What was shown.
    int canvasShows = 0;
    std::map<intptr_t, tk::ControlView> controls;
    std::map<intptr_t, tk::Text> windowTitles;
    std::map<intptr_t, std::vector<tk::Text>> statusTexts;
    std::vector<tk::MenuItemView> menuBar;
    intptr_t focused = 0;
    int dropActions = 0;

    // ---- Backend ----
    void Shutdown() override;
    intptr_t CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const tk::Text& title, uint32_t flags) override;
    void SetWindowTitle(intptr_t window, const tk::Text& title) override;
    void DestroyWindow(intptr_t window) override;
    bool SetMenuBar(intptr_t window, const std::vector<tk::MenuItemView>& bar) override;
    void SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) override;
    intptr_t CreateStatusBar(intptr_t window) override;
    void SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) override;
    void SetStatusText(intptr_t statusBar, int field, const tk::Text& text) override;
    int32_t StatusBarWidth(intptr_t statusBar) override;
    intptr_t CreateControl(intptr_t window, const tk::ControlView& view) override;
    void UpdateControl(intptr_t control, const tk::ControlView& view) override;
    void DestroyControl(intptr_t control) override;
    void FocusControl(intptr_t control) override;
    void ShowCanvas(intptr_t control, const tk::Picture& picture) override;
    void EnableFileDrop(intptr_t window, int actions) override;
    int32_t WaitNative() override;
    bool KeyDown(int keyCode) override;
    bool KeyPressedSinceLastQuery(int keyCode) override;
    tk::FileDialogAnswer RunFileDialog(const tk::FileDialogRequest& request) override;
    int RunMessageBox(const tk::Text& title, const tk::Text& text, int flags) override;
    std::pair<bool, tk::Text> RunTextDialog(const tk::Text& title, const tk::Text& prompt,
                                            const tk::Text& defaultText) override;

    // Fail the next window creation (to test start-up without a window).
    bool failWindowCreation = false;

  private:
    std::deque<std::function<void()>> script_;
    std::deque<tk::FileDialogAnswer> fileAnswers_;
    std::deque<int> messageAnswers_;
    struct TextAnswer {
        bool ok;
        tk::Text text;
        bool append;
    };
    std::deque<TextAnswer> textAnswers_;
    std::set<int> keysDown_;
    std::set<int> keysPressed_;
    std::set<int> releaseAtNextMessage_;      // keys of ScriptKeyPress, let go at the next message
    std::map<intptr_t, int> windowWidths_;    // window handle -> inner width
    std::map<intptr_t, intptr_t> barWindows_; // status bar handle -> window handle
};

} // namespace pmtest
