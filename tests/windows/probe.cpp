// What the GUI test of the Windows program cannot see from X: the child windows of the main window
// and the status text, read through the window manager's own calls, and keys sent with SendInput
// (Wine's key state does not see keys pressed while a window of another X client has the focus).
//   probe children   one line per child window: class, left, top, width, height (screen pixels)
//   probe status     the text of the status bar's first field
//   probe key VK     the virtual key pressed for a tenth of a second
#include <windows.h>

#include <commctrl.h> // needs windows.h first

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    HWND main = FindWindowW(L"PixmoleWindow", nullptr);
    if (main == nullptr || argc < 2) return 1;
    if (std::strcmp(argv[1], "children") == 0) {
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
