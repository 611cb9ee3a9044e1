// The Win32 backend's class, the records it keeps and what its source files share:
//   win32_backend.cpp    start-up and shut-down, UTF-8/UTF-16 texts, the native wait
//   win32_style.cpp      the window classes, the control font
//   win32_dpi.cpp        the screen's dots per inch: logical to device pixels, the canvas factor
//   win32_windows.cpp    windows and their window procedure, menus, the status bar
//   win32_controls.cpp   controls: one factory per kind, updates, what they report
//   win32_canvas.cpp     the canvas: its picture, painting, pointer and keys
//   win32_input.cpp      file drop and the global key state
//   win32_dialogs.cpp    file dialogs, message box, the one-line text dialog
//
// Each native control mirrors the core's ControlView and reports gestures through notify::.
// While the backend itself changes a control, its notifications are ignored (State::muted), so
// nothing echoes back to the core. Native controls never decide anything of their own: check
// boxes do not toggle themselves, the up-down arrows do not move by themselves and do not write
// their buddy's text; the core answers each report and the backend shows the answer.
//
// Texts are UTF-8 inside the program and UTF-16 at every W call.
//
// The core's positions and sizes are logical pixels (96 to the inch). The process is aware of
// each monitor's DPI (its manifest says so), so the backend scales them: windows, controls and
// fonts by the window's DPI over 96, the canvas picture by the whole factor that still fits
// (pixels stay exact squares), and the pointer on the canvas back to canvas pixels.
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

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/backend.h"

namespace tk::win32 {

std::wstring Wide(const Text& text); // UTF-8 to UTF-16 (invalid bytes become U+FFFD)
Text Utf8(const wchar_t* text, int length = -1);
Text Utf8(const std::wstring& text);
std::wstring WindowTextOf(HWND hwnd);

// The handle given to the core for a native window.
inline intptr_t H(HWND hwnd) {
    return reinterpret_cast<intptr_t>(hwnd);
}
inline HWND W(intptr_t handle) {
    return reinterpret_cast<HWND>(handle);
}

// Bit i set when keys[i] is held (the thread's key state, as of the message being handled).
uint32_t HeldKeys(std::initializer_list<int> keys);
// Shift, Alt and Ctrl held, as bits 0, 1 and 2.
inline uint32_t HeldModifiers() {
    return HeldKeys({VK_SHIFT, VK_MENU, VK_CONTROL});
}

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
    // win32_windows.cpp
    intptr_t CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const Text& title, uint32_t flags) override;
    void SetWindowTitle(intptr_t window, const Text& title) override;
    void DestroyWindow(intptr_t window) override;
    bool InnerSize(intptr_t window, int& width, int& height) override;
    void ActivateWindow(intptr_t window) override;
    bool SetMenuBar(intptr_t window, const std::vector<MenuItemView>& bar) override;
    void SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) override;
    void SetMenuItemChecked(intptr_t window, int identifier, bool checked) override;
    intptr_t CreateStatusBar(intptr_t window) override;
    void SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) override;
    void SetStatusText(intptr_t statusBar, int field, const Text& text) override;
    int32_t StatusBarWidth(intptr_t statusBar) override;
    // win32_controls.cpp
    intptr_t CreateControl(intptr_t window, const ControlView& view) override;
    void UpdateControl(intptr_t control, const ControlView& view) override;
    void DestroyControl(intptr_t control) override;
    void FocusControl(intptr_t control) override;
    // win32_canvas.cpp
    void ShowCanvas(intptr_t control, const Picture& picture) override;
    // win32_input.cpp
    void EnableFileDrop(intptr_t window, int actions) override;
    bool KeyDown(int keyCode) override;
    bool KeyPressedSinceLastQuery(int keyCode) override;
    // win32_backend.cpp
    int32_t WaitNative() override;
    // win32_windows.cpp
    void Wake() override;

    // win32_dialogs.cpp
    FileDialogAnswer RunFileDialog(const FileDialogRequest& request) override;
    int RunMessageBox(const Text& title, const Text& text, int flags) override;
    std::pair<bool, Text> RunTextDialog(const Text& title, const Text& prompt,
                                        const Text& defaultText) override;

    // The owner of a dialog: the foreground window when it belongs to this process.
    static HWND DialogOwner();

    struct State;
    struct StateDeleter {
        void operator()(State* s) const;
    };

  private:
    std::unique_ptr<State, StateDeleter> state_;
};

// ---- The records ----------------------------------------------------------------------------

struct WindowRec {
    int number = 0;
    HWND hwnd = nullptr;
    HACCEL shortcuts = nullptr;
    HWND status = nullptr;
    bool ready = false; // CreateWindow has returned: size, move and activation are reported
    int dpi = 96;       // the DPI the window and its controls are laid out for
    int quiet = 0;      // above 0 while the backend itself changes the window's layout
    int dropActions = 0;
};

struct ControlRec {
    int number = 0;
    int window = 0; // the program's window number
    int kind = 0;
    int flags = 0;
    HWND handle = nullptr; // what the core holds (a spin box: its text part)
    HWND arrows = nullptr; // a spin box's up-down control
    int dpi = 96;          // its window's
    ControlView view;      // the core's last word (picture pointer not kept)
    // Canvas: the picture as a DIB section, selected into a memory device context.
    HBITMAP dib = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    HDC memory = nullptr;
    uint8_t* dibBits = nullptr;
    int32_t dibWidth = 0, dibHeight = 0, dibStride = 0;
    bool trackingLeave = false;
    wchar_t highSurrogate = 0; // first half of a typed character outside the BMP

    void Keep(const ControlView& latest) {
        view = latest;
        view.picture = nullptr;
    }
};

struct StatusRec {
    HWND hwnd = nullptr;
    HWND window = nullptr;
    std::vector<int32_t> widths; // the fields' widths in logical pixels, as the core gave them
};

struct Win32Backend::State {
    HINSTANCE instance = nullptr;
    bool started = false;
    bool comStarted = false;
    int muted = 0;
    std::map<HWND, std::unique_ptr<WindowRec>> windows;
    std::map<HWND, std::unique_ptr<ControlRec>> controls; // by handle
    std::map<HWND, ControlRec*> byHwnd;                   // every native window of a control
    std::map<HWND, StatusRec> statusBars;
    bool pressed[256] = {}; // "pressed since" bits taken from GetAsyncKeyState, not yet asked for
    HWND rawKeys = nullptr; // the window that WM_INPUT wakes for every key, whoever has the focus
    std::atomic<HWND> wakeWindow{nullptr}; // Wake posts to it (read from any thread)
    std::map<int, HFONT> fonts;            // the control font at each DPI in use

    WindowRec* Window(HWND hwnd) {
        auto it = windows.find(hwnd);
        return it == windows.end() ? nullptr : it->second.get();
    }
    ControlRec* Control(HWND handle) {
        auto it = controls.find(handle);
        return it == controls.end() ? nullptr : it->second.get();
    }
    ControlRec* Live(HWND hwnd) {
        auto it = byHwnd.find(hwnd);
        return it == byHwnd.end() ? nullptr : it->second;
    }
    // Forgets a control's record; its windows go with DestroyWindow elsewhere.
    std::unique_ptr<ControlRec> Forget(HWND handle) {
        auto it = controls.find(handle);
        if (it == controls.end()) return nullptr;
        std::unique_ptr<ControlRec> rec = std::move(it->second);
        controls.erase(it);
        for (auto w = byHwnd.begin(); w != byHwnd.end();)
            w = w->second == rec.get() ? byHwnd.erase(w) : std::next(w);
        return rec;
    }
};

// The one backend whose window procedures run (Init sets it, Shutdown clears it).
extern Win32Backend::State* g_state;

// While alive, the backend's own changes to controls report nothing.
struct Muted {
    explicit Muted(Win32Backend::State* s) : state(s) { ++state->muted; }
    ~Muted() { --state->muted; }
    Muted(const Muted&) = delete;
    Muted& operator=(const Muted&) = delete;
    Win32Backend::State* state;
};

// ---- Style (win32_style.cpp) ----------------------------------------------------------------

constexpr wchar_t kWindowClass[] = L"PixmoleWindow";
constexpr wchar_t kCanvasClass[] = L"PixmoleCanvas";
constexpr int kMinStatusHeight = 18; // logical pixels

// The width of a spin box's arrow part.
inline int SpinArrowWidth(int height) {
    return std::max(height / 2, 18);
}

// The program's window class and the canvas class; false when either cannot be registered.
bool RegisterWindowClasses(HINSTANCE instance);
void UnregisterWindowClasses(HINSTANCE instance);
// Controls, the status bar and the text dialog's items write in the system's message font (what
// the native dialogs use) at the DPI of their window.
void UseControlFont(HWND hwnd, int dpi);
void FreeControlFonts();

// ---- DPI (win32_dpi.cpp) --------------------------------------------------------------------
// The calls that know about more than one DPI exist from Windows 10 on; where they are missing
// (older systems) the system's one DPI serves.

int SystemDpi();
int DpiOf(HWND hwnd); // the DPI a window is shown at
// Logical pixels to device pixels at a DPI (rounded), and back (rounded down, so that each
// device pixel belongs to exactly one logical one).
inline int Px(int logical, int dpi) {
    return MulDiv(logical, dpi, 96);
}
inline int FloorDiv(int value, int divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}
inline int LogicalOf(int device, int dpi) {
    return FloorDiv(device * 96, dpi);
}
// Canvas pixels are drawn as squares of this many device pixels: the whole part of the DPI
// factor, so that the scaled picture never outgrows its scaled control (at 144 dpi: 1).
inline int CanvasFactor(int dpi) {
    return std::max(1, dpi / 96);
}
// The outer size of a window whose inner area is `inner`, at a DPI.
void AdjustForDpi(RECT* inner, DWORD style, DWORD exStyle, int dpi);
// The width of a check box's box, at a DPI.
int CheckGlyphWidth(int dpi);
HFONT MessageFontFor(int dpi); // a new font: the system's message font at a DPI

// ---- Window procedures and what they report -------------------------------------------------

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CanvasProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// win32_controls.cpp: a WM_COMMAND, WM_HSCROLL/WM_VSCROLL or WM_NOTIFY from a control.
void ReportControlCommand(HWND from, WORD code);
void ReportScroll(HWND from, WORD code);
LRESULT ReportSpinArrow(NMHDR* header);
// win32_canvas.cpp: a WM_MOUSEWHEEL goes to the canvas under the pointer, if any.
void ReportWheel(WPARAM wParam, LPARAM lParam);
// win32_input.cpp: a shell drop on a window; releases the drop.
void ReportDrop(WindowRec* w, HDROP drop);

// ---- Making controls (win32_controls.cpp, win32_canvas.cpp) ---------------------------------

// A child window's place in its parent: from logical pixels x, y, width, height to device
// pixels at a DPI. The edges are scaled, so that neighbours stay neighbours.
inline RECT DeviceRect(int x, int y, int width, int height, int dpi) {
    return RECT{Px(x, dpi), Px(y, dpi), Px(x + width, dpi), Px(y + height, dpi)};
}

// Makes one native window of a control: a child of the control's window at the view's top and
// height, from x with this width (a spin box makes two, side by side), all in logical pixels.
struct ChildMaker {
    HWND parent;
    HMENU id;
    HINSTANCE instance;
    int y, height;
    int dpi;

    HWND operator()(DWORD exStyle, const wchar_t* cls, const wchar_t* caption, DWORD style, int x,
                    int width) const {
        const RECT r = DeviceRect(x, y, width, height, dpi);
        // A check box widened to its text reaches over its neighbour, which must not paint
        // over it.
        return CreateWindowExW(exStyle, cls, caption,
                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, parent, id, instance, nullptr);
    }
};

// The canvas's factory: its window, and a picture that is the view's or white of its size.
HWND MakeCanvas(const ChildMaker& make, const ControlView& view, ControlRec* rec);
void FreeCanvasBitmap(ControlRec* rec);

// ---- A new DPI ------------------------------------------------------------------------------

// Lays a control's native windows out again for rec->dpi: places, font, a check box's width.
void PlaceControl(ControlRec* rec);
// The status bar's font, height and fields for its window's DPI.
void PlaceStatusBar(StatusRec& bar, int dpi);

} // namespace tk::win32
