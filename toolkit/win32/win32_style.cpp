// How the Win32 backend's windows look: the window classes (icon, pointer, background) and the
// fonts of the controls. The sizes are in win32_backend_impl.h.
#include "toolkit/win32/win32_backend_impl.h"

namespace tk::win32 {

bool RegisterWindowClasses(HINSTANCE instance) {
    WNDCLASSEXW window{};
    window.cbSize = sizeof window;
    window.style = CS_DBLCLKS;
    window.lpfnWndProc = WindowProc;
    window.hInstance = instance;
    window.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (window.hIcon == nullptr) window.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
    window.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    window.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window.lpszClassName = kWindowClass;
    WNDCLASSEXW canvas = window;
    canvas.lpfnWndProc = CanvasProc;
    canvas.hIcon = nullptr;
    canvas.hbrBackground = nullptr; // the canvas paints all of itself
    canvas.lpszClassName = kCanvasClass;
    if (!RegisterClassExW(&window)) return false;
    if (!RegisterClassExW(&canvas)) {
        UnregisterClassW(kWindowClass, instance);
        return false;
    }
    return true;
}

void UnregisterWindowClasses(HINSTANCE instance) {
    UnregisterClassW(kCanvasClass, instance);
    UnregisterClassW(kWindowClass, instance);
}

void UseControlFont(HWND hwnd, int dpi) {
    HGDIOBJ chosen = GetStockObject(DEFAULT_GUI_FONT);
    if (g_state != nullptr) {
        HFONT& font = g_state->fonts[dpi];
        if (font == nullptr) font = MessageFontFor(dpi);
        if (font != nullptr) chosen = font;
    }
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(chosen), TRUE);
}

void FreeControlFonts() {
    for (auto& [dpi, font] : g_state->fonts)
        if (font != nullptr) DeleteObject(font);
    g_state->fonts.clear();
}

} // namespace tk::win32
