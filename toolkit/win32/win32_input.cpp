// The Win32 backend's file drop (the shell's WM_DROPFILES) and the global key state
// (GetAsyncKeyState, whichever window has the focus). Virtual-key codes are the toolkit's key
// codes, so no key table is needed.
#include "toolkit/win32/win32_backend_impl.h" // windows.h first: shellapi.h builds on it

#include <shellapi.h>

#include "toolkit/window.h"

namespace tk::win32 {

// ---- File drop ------------------------------------------------------------------------------

void Win32Backend::EnableFileDrop(intptr_t window, int actions) {
    WindowRec* w = state_->Window(W(window));
    if (w == nullptr) return;
    // Files dropped over any control reach the window: the shell looks for a window that
    // accepts files from the one under the pointer up through its parents.
    w->dropActions = actions;
    DragAcceptFiles(w->hwnd, actions != 0);
}

void ReportDrop(WindowRec* w, HDROP drop) {
    std::vector<Text> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(size_t(length) + 1, L'\0');
        DragQueryFileW(drop, i, path.data(), length + 1);
        path.resize(length);
        paths.push_back(Utf8(path));
    }
    POINT point{};
    DragQueryPoint(drop, &point);
    DragFinish(drop);
    // A shell drop offers its files to copy; the core decides whether the window takes them.
    notify::FilesDropped(w->number, paths, DropCopy, HeldModifiers(), LogicalOf(point.x, w->dpi),
                         LogicalOf(point.y, w->dpi));
}

// ---- Keys -----------------------------------------------------------------------------------

uint32_t HeldKeys(std::initializer_list<int> keys) {
    uint32_t held = 0, bit = 1;
    for (int key : keys) {
        if (GetKeyState(key) < 0) held |= bit;
        bit <<= 1;
    }
    return held;
}

bool Win32Backend::KeyDown(int keyCode) {
    if (keyCode <= 0 || keyCode > 255) return false;
    const SHORT state = GetAsyncKeyState(keyCode);
    // Asking clears the "pressed since" bit: keep it for KeyPressedSinceLastQuery.
    if (state & 1) state_->pressed[keyCode] = true;
    return (state & 0x8000) != 0;
}

bool Win32Backend::KeyPressedSinceLastQuery(int keyCode) {
    if (keyCode <= 0 || keyCode > 255) return false;
    const bool pressed = (GetAsyncKeyState(keyCode) & 1) != 0 || state_->pressed[keyCode];
    state_->pressed[keyCode] = false;
    return pressed;
}

} // namespace tk::win32
