// What the GUI test of the Windows program cannot see from X: the child windows of the main window
// and the status text, read through the window manager's own calls, and keys sent with SendInput
// (Wine's key state does not see keys pressed while a window of another X client has the focus).
//   probe children   one line per child window: class, left, top, width, height (screen pixels)
//   probe status     the text of the status bar's first field
//   probe key VK     the virtual key pressed for a tenth of a second
//   probe client DPI the main window's inner area (left, top, width, height: screen pixels) and
//                    its width and height within its frame at that DPI (the inner area and the
//                    menu bar)
//   probe checks DPI per check box: the width its box and text need in the system's message font
//                    at that DPI, and its width
// (Under Wine, GetDpiForWindow on another process's window does not reliably give that window's
// DPI: the test names the DPI it set.)
#include <windows.h>

#include <commctrl.h> // needs windows.h first

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What a check box's box and text need at least, in the font the native dialogs use.
int CheckBoxNeeds(HWND check, UINT dpi) {
    wchar_t text[256] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutW(check, WM_GETTEXT, 256, LPARAM(text), SMTO_ABORTIFHUNG, 5000, &got);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return -1;
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    HGDIOBJ before = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text, int(wcslen(text)), &extent);
    SelectObject(dc, before);
    DeleteObject(font);
    DeleteDC(dc);
    return GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi) + extent.cx;
}

} // namespace

int main(int argc, char** argv) {
    // Device pixels, whatever the DPI: Windows would otherwise scale what an unaware program sees.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    HWND main = FindWindowW(L"PixmoleWindow", nullptr);
    if (main == nullptr || argc < 2) return 1;
    const UINT dpi = argc == 3 ? UINT(std::atoi(argv[2])) : 96;
    if (std::strcmp(argv[1], "client") == 0) {
        RECT inner{}, outer{}, frame{};
        GetClientRect(main, &inner);
        POINT origin{0, 0};
        ClientToScreen(main, &origin);
        GetWindowRect(main, &outer);
        AdjustWindowRectExForDpi(&frame, DWORD(GetWindowLongW(main, GWL_STYLE)), FALSE,
                                 DWORD(GetWindowLongW(main, GWL_EXSTYLE)), dpi);
        // Within the frame: the inner area with the menu bar.
        std::printf("%ld %ld %ld %ld %ld %ld\n", origin.x, origin.y, inner.right, inner.bottom,
                    outer.right - outer.left - (frame.right - frame.left),
                    outer.bottom - outer.top - (frame.bottom - frame.top));
    } else if (std::strcmp(argv[1], "checks") == 0) {
        for (HWND child = FindWindowExW(main, nullptr, L"Button", nullptr); child != nullptr;
             child = FindWindowExW(main, child, L"Button", nullptr)) {
            if ((GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) != BS_3STATE) continue;
            RECT r{};
            GetWindowRect(child, &r);
            std::printf("%d %ld\n", CheckBoxNeeds(child, dpi), r.right - r.left);
        }
    } else if (std::strcmp(argv[1], "children") == 0) {
        EnumChildWindows(
            main,
            [](HWND child, LPARAM) {
                char name[64] = {};
                RECT r{};
                GetClassNameA(child, name, 64);
                GetWindowRect(child, &r);
                std::printf("%s %ld %ld %ld %ld\n", name, r.left, r.top, r.right - r.left,
                            r.bottom - r.top);
                return TRUE;
            },
            0);
    } else if (std::strcmp(argv[1], "status") == 0) {
        HWND bar = FindWindowExW(main, nullptr, STATUSCLASSNAMEW, nullptr);
        char text[512] = {};
        DWORD_PTR got = 0; // WM_GETTEXT is carried between processes, unlike SB_GETTEXT
        SendMessageTimeoutA(bar, WM_GETTEXT, 512, LPARAM(text), SMTO_ABORTIFHUNG, 5000, &got);
        std::printf("%s", text);
    } else if (std::strcmp(argv[1], "key") == 0 && argc == 3) {
        INPUT key{};
        key.type = INPUT_KEYBOARD, key.ki.wVk = WORD(std::atoi(argv[2]));
        SendInput(1, &key, sizeof key);
        Sleep(100); // held as a person holds it
        key.ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(1, &key, sizeof key);
    } else {
        return 1;
    }
    return 0;
}
