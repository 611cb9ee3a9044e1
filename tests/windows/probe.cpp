// What the GUI test of the Windows program cannot see from X: the child windows of the main window
// and the status text, read through the window manager's own calls, and keys sent with SendInput
// (Wine's key state does not see keys pressed while a window of another X client has the focus).
//   probe children   one line per child window: class, left, top, width, height (screen pixels)
//   probe status     the text of the status bar's first field
//   probe key VK     the virtual key pressed for a tenth of a second
#include <commctrl.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Print(const wchar_t* text) {
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
    std::printf("%s", utf8);
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
    wchar_t name[64] = {};
    RECT r{};
    GetClassNameW(child, name, 64);
    GetWindowRect(child, &r);
    Print(name);
    std::printf(" %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return TRUE;
}

void Key(WORD vk, bool down) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &in, sizeof in);
}

} // namespace

int main(int argc, char** argv) {
    HWND main = FindWindowW(L"PixmoleWindow", nullptr);
    if (main == nullptr || argc < 2) return 1;
    if (std::strcmp(argv[1], "children") == 0) {
        EnumChildWindows(main, PrintChild, 0);
    } else if (std::strcmp(argv[1], "status") == 0) {
        HWND bar = FindWindowExW(main, nullptr, STATUSCLASSNAMEW, nullptr);
        wchar_t text[512] = {};
        DWORD_PTR got = 0; // WM_GETTEXT is carried between processes, unlike SB_GETTEXT
        SendMessageTimeoutW(bar, WM_GETTEXT, 512, LPARAM(text), SMTO_ABORTIFHUNG, 5000, &got);
        Print(text);
    } else if (std::strcmp(argv[1], "key") == 0 && argc == 3) {
        Key(WORD(std::atoi(argv[2])), true);
        Sleep(100);
        Key(WORD(std::atoi(argv[2])), false);
    } else {
        return 1;
    }
    return 0;
}
