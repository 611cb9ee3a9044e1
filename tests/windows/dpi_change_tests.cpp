// The viewer's window on the Win32 backend in this process, told that its DPI changed, as Windows
// tells a window dragged to a monitor of another DPI: the window takes the proposed place, every
// control moves and grows by the factor, check boxes stay as wide as their texts need, the fonts
// and the status bar follow; back at the first DPI everything is where it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <vector>

#include "toolkit/runtime.h"
#include "toolkit/win32/win32_backend.h"
#include "toolkit/window.h"
#include "viewer/state.h"

#include <windows.h> // after the toolkit's headers: its macros rename their calls

namespace {

struct Child {
    HWND handle;
    RECT at; // in the main window's inner area
    bool checkBox;
};

std::vector<Child> Children(HWND main) {
    std::vector<Child> found;
    EnumChildWindows(
        main,
        [](HWND child, LPARAM list) {
            RECT r{};
            GetWindowRect(child, &r);
            MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
            wchar_t kind[32] = {};
            GetClassNameW(child, kind, 32);
            const bool check = lstrcmpiW(kind, L"Button") == 0 &&
                               (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_3STATE;
            reinterpret_cast<std::vector<Child>*>(list)->push_back({child, r, check});
            return TRUE;
        },
        LPARAM(&found));
    return found;
}

// The height of the font a control draws its text in, in pixels.
long FontHeight(HWND control) {
    LOGFONTW font{};
    auto handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    if (handle == nullptr || GetObjectW(handle, sizeof font, &font) == 0) return 0;
    return std::labs(font.lfHeight);
}

// What a check box's box and text need at least, in its own font.
long CheckBoxNeeds(HWND box, int dpi) {
    wchar_t text[64] = {};
    GetWindowTextW(box, text, 64);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ before = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text, int(std::wcslen(text)), &extent);
    SelectObject(dc, before);
    DeleteDC(dc);
    return GetSystemMetricsForDpi(SM_CXMENUCHECK, UINT(dpi)) + extent.cx;
}

// Sends what Windows sends: the new DPI in both halves and the window's proposed place.
void ChangeDpi(HWND main, int dpi, const RECT& proposed) {
    SendMessageW(main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), LPARAM(&proposed));
}

TEST(DpiChange, TheWindowAndEverythingInItFollowTheNewDpi) {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    auto backend = tk::MakeWin32Backend();
    ASSERT_NE(tk::InitToolkit(backend.get()), 0);
    ASSERT_TRUE(viewer::CreateMainWindowAndControls());
    HWND main = FindWindowW(L"PixmoleWindow", nullptr);
    ASSERT_NE(main, nullptr);
    const int first = int(GetDpiForWindow(main));
    const int doubled = 2 * first;

    RECT frame{};
    GetWindowRect(main, &frame);
    const std::vector<Child> before = Children(main);
    ASSERT_GE(before.size(), 17u); // 16 controls, the spin boxes' arrows, the status bar
    const HWND status = FindWindowExW(main, nullptr, L"msctls_statusbar32", nullptr);
    ASSERT_NE(status, nullptr);
    RECT bar{};
    GetWindowRect(status, &bar);
    HWND text = nullptr; // the first check box: its font is the one the controls use
    for (const Child& c : before)
        if (text == nullptr && c.checkBox) text = c.handle;
    ASSERT_NE(text, nullptr);
    const long font = FontHeight(text);

    const RECT proposed{frame.left + 10, frame.top + 20,
                        frame.left + 10 + 2 * (frame.right - frame.left),
                        frame.top + 20 + 2 * (frame.bottom - frame.top)};
    ChangeDpi(main, doubled, proposed);
    RECT now{};
    GetWindowRect(main, &now);
    EXPECT_TRUE(EqualRect(&now, &proposed)) << "the window is not where it was proposed";

    const std::vector<Child> after = Children(main);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const Child& c) { return c.checkBox; }),
              4);
    for (size_t i = 0; i < after.size(); ++i) {
        const RECT& was = before[i].at;
        const RECT& is = after[i].at;
        SCOPED_TRACE("child " + std::to_string(i));
        if (after[i].handle == status) continue; // placed by the window's own size, below
        EXPECT_NEAR(is.left, 2 * was.left, 1);
        EXPECT_NEAR(is.top, 2 * was.top, 1);
        EXPECT_NEAR(is.bottom, 2 * was.bottom, 1);
        // A check box is as wide as its text needs, never narrower than its scaled 80 pixels.
        if (after[i].checkBox) {
            EXPECT_GE(is.right - is.left, CheckBoxNeeds(after[i].handle, doubled));
            EXPECT_GE(is.right - is.left, 2 * 80);
        } else {
            EXPECT_NEAR(is.right, 2 * was.right, 1);
        }
    }
    EXPECT_NEAR(FontHeight(text), 2 * font, 1);
    RECT grown{};
    GetWindowRect(status, &grown);
    EXPECT_GT(grown.bottom - grown.top, bar.bottom - bar.top) << "the status bar kept its height";

    // Back: everything where it was at the first DPI.
    ChangeDpi(main, first, frame);
    const std::vector<Child> back = Children(main);
    ASSERT_EQ(back.size(), before.size());
    for (size_t i = 0; i < back.size(); ++i)
        EXPECT_TRUE(EqualRect(&back[i].at, &before[i].at)) << "child " << i;
    EXPECT_EQ(FontHeight(text), font);

    viewer::ShutDownViewer();
}

} // namespace
