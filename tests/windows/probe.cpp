// What the Windows program's GUI test cannot see from X, read through the window manager's calls,
// and keys sent with SendInput (Wine's key state misses keys pressed while another X client has
// the focus). DPI is the one the test set: under Wine, GetDpiForWindow on another process's
// window does not reliably give it.
//   probe children      per child window: class, left, top, width, height (screen pixels)
//   probe client DPI    the inner area's left, top and width; the height within the frame
//   probe status        the status bar's text;  probe key VK  the key pressed for 0.1 s
//   probe overview      the overview window's inner area: left, top (screen pixels)
#include <windows.h>

#include <commctrl.h> // needs windows.h first

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The program's top-level window whose title starts so (its windows share one class).
HWND ProgramWindow(const std::wstring& prefix) {
    HWND w = nullptr;
    wchar_t title[256] = {};
    while ((w = FindWindowExW(nullptr, w, L"PixmoleWindow", nullptr)) != nullptr) {
        GetWindowTextW(w, title, 256);
        if (std::wstring(title).rfind(prefix, 0) == 0) break;
    }
    return w;
}

} // namespace

int main(int argc, char** argv) {
    // Device pixels, whatever the DPI: Windows would otherwise scale what an unaware program sees.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    HWND main = ProgramWindow(L"Pixmole ");
    if (main == nullptr || argc < 2) return 1;
    const std::string what = argv[1];
    const int arg = argc == 3 ? std::atoi(argv[2]) : 96;
    const UINT dpi = UINT(arg);
    RECT r{}, frame{};
    if (what == "client") {
        POINT origin{0, 0};
        ClientToScreen(main, &origin);
        GetClientRect(main, &r);
        std::printf("%ld %ld %ld ", origin.x, origin.y, r.right);
        GetWindowRect(main, &r);
        AdjustWindowRectExForDpi(&frame, DWORD(GetWindowLongW(main, GWL_STYLE)), FALSE,
                                 DWORD(GetWindowLongW(main, GWL_EXSTYLE)), dpi);
        std::printf("%ld\n", r.bottom - r.top - (frame.bottom - frame.top));
    } else if (what == "children") {
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
    } else if (what == "status") {
        char text[512] = {};
        DWORD_PTR got = 0; // WM_GETTEXT is carried between processes, unlike SB_GETTEXT
        SendMessageTimeoutA(FindWindowExW(main, nullptr, STATUSCLASSNAMEW, nullptr), WM_GETTEXT,
                            512, LPARAM(text), SMTO_ABORTIFHUNG, 5000, &got);
        std::printf("%s", text);
    } else if (what == "overview") {
        POINT origin{0, 0};
        HWND overview = ProgramWindow(L"Graphics");
        if (overview == nullptr || !ClientToScreen(overview, &origin)) return 1;
        std::printf("%ld %ld\n", origin.x, origin.y);
    } else if (what == "key") {
        INPUT key{};
        key.type = INPUT_KEYBOARD, key.ki.wVk = WORD(arg);
        SendInput(1, &key, sizeof key);
        Sleep(100); // held as a person holds it
        key.ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(1, &key, sizeof key);
    } else {
        return 1;
    }
    return 0;
}
