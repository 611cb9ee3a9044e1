// The Win32 backend's class and what its source files share:
//   win32_backend.cpp   windows, menus, the status bar, controls, the canvas, file drop, keys,
//                       the native wait
//   win32_dialogs.cpp   file dialogs, message box, the one-line text dialog
//
// Texts are UTF-8 inside the program and UTF-16 at every W call.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
// windows.h spells CreateWindow as a macro; the backend has a method of that name.
#undef CreateWindow

#include <string>
#include <vector>

#include "toolkit/backend.h"

namespace tk::win32 {

std::wstring Wide(const Text& text); // UTF-8 to UTF-16 (invalid bytes become U+FFFD)
Text Utf8(const wchar_t* text, int length = -1);
Text Utf8(const std::wstring& text);

// The handle given to the core for a native window.
inline intptr_t H(HWND hwnd) {
    return reinterpret_cast<intptr_t>(hwnd);
}
inline HWND W(intptr_t handle) {
    return reinterpret_cast<HWND>(handle);
}

// Shift, Alt and Ctrl held, as bits 0, 1 and 2 (the thread's key state).
uint32_t HeldModifiers();

// While a requester is open: the other windows of this thread take no input, and windows that
// were topmost leave the topmost band so that the dialog cannot hide behind them.
class ModalBracket {
  public:
    explicit ModalBracket(HWND owner);
    ~ModalBracket();
    ModalBracket(const ModalBracket&) = delete;
    ModalBracket& operator=(const ModalBracket&) = delete;

  private:
    struct Entry {
        HWND window;
        bool topmost;
        bool disabled;
    };
    static BOOL CALLBACK Visit(HWND window, LPARAM data);
    HWND foreground_ = nullptr;
    std::vector<Entry> entries_;
};

class Win32Backend : public Backend {
  public:
    Win32Backend();
    ~Win32Backend() override;

    bool Init() override;
    void Shutdown() override;
    intptr_t CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const Text& title, uint32_t flags) override;
    void SetWindowTitle(intptr_t window, const Text& title) override;
    void DestroyWindow(intptr_t window) override;
    bool SetMenuBar(intptr_t window, const std::vector<MenuItemView>& bar) override;
    void SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) override;
    intptr_t CreateStatusBar(intptr_t window) override;
    void SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) override;
    void SetStatusText(intptr_t statusBar, int field, const Text& text) override;
    int32_t StatusBarWidth(intptr_t statusBar) override;
    intptr_t CreateControl(intptr_t window, const ControlView& view) override;
    void UpdateControl(intptr_t control, const ControlView& view) override;
    void DestroyControl(intptr_t control) override;
    void FocusControl(intptr_t control) override;
    void ShowCanvas(intptr_t control, const Picture& picture) override;
    void EnableFileDrop(intptr_t window, int actions) override;
    int32_t WaitNative() override;
    bool KeyDown(int keyCode) override;
    bool KeyPressedSinceLastQuery(int keyCode) override;

    // win32_dialogs.cpp
    FileDialogAnswer RunFileDialog(const FileDialogRequest& request) override;
    int RunMessageBox(const Text& title, const Text& text, int flags) override;
    std::pair<bool, Text> RunTextDialog(const Text& title, const Text& prompt,
                                        const Text& defaultText) override;

    // The owner of a dialog: the foreground window when it belongs to this process.
    static HWND DialogOwner();

    struct State; // win32_backend.cpp
    struct StateDeleter {
        void operator()(State* s) const;
    };

  private:
    std::unique_ptr<State, StateDeleter> state_;
};

} // namespace tk::win32
