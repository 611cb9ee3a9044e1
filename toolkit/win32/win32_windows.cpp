// The Win32 backend's windows: creation with the program's window flags, the window procedure
// that reports what happens to a window, the menu bar and the status bar.
//
// Sections: windows; the window procedure; menus; the status bar.
#include "toolkit/win32/win32_backend_impl.h" // windows.h first: the others build on it

#include <commctrl.h>

#include <algorithm>

#include "toolkit/window.h"

namespace tk::win32 {

namespace {

constexpr WORD kTabCommand = 0xFFF0;     // the window's shortcut table: Tab
constexpr WORD kBackTabCommand = 0xFFF1; // Shift+Tab
constexpr UINT kReportActivation = WM_APP + 1;
constexpr UINT kWakeUp = WM_APP + 2; // Wake: the wait returns, nothing else happens

// The name of an accelerator as a menu shows it after a tab: "F3", "Shift+F3", "Ctrl+O".
std::wstring AcceleratorName(const Accelerator& accelerator) {
    const int key = accelerator.keyCode;
    std::wstring name;
    if (key >= VK_F1 && key <= VK_F24)
        name = L"F" + std::to_wstring(key - VK_F1 + 1);
    else if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
        name = std::wstring(1, wchar_t(key));
    else
        return std::wstring(); // a key without a short name shows none
    if (accelerator.modifiers & AccelShift) name = L"Shift+" + name;
    if (accelerator.modifiers & AccelAlt) name = L"Alt+" + name;
    if (accelerator.modifiers & AccelCtrl) name = L"Ctrl+" + name;
    return name;
}

// The window's shortcut table: Tab and Shift+Tab for the focus, then the menu items' keys.
void CollectAccelerators(const std::vector<MenuItemView>& items, std::vector<ACCEL>& keys) {
    for (const MenuItemView& item : items) {
        CollectAccelerators(item.children, keys);
        if (item.isTitle || item.separator || item.accelerator.keyCode == 0) continue;
        BYTE flags = FVIRTKEY;
        if (item.accelerator.modifiers & AccelShift) flags |= FSHIFT;
        if (item.accelerator.modifiers & AccelAlt) flags |= FALT;
        if (item.accelerator.modifiers & AccelCtrl) flags |= FCONTROL;
        keys.push_back({flags, WORD(item.accelerator.keyCode), WORD(item.identifier)});
    }
}

HACCEL MakeShortcuts(const std::vector<MenuItemView>& bar) {
    std::vector<ACCEL> keys = {{FVIRTKEY, VK_TAB, kTabCommand},
                               {FVIRTKEY | FSHIFT, VK_TAB, kBackTabCommand}};
    CollectAccelerators(bar, keys);
    return CreateAcceleratorTableW(keys.data(), int(keys.size()));
}

} // namespace

// ---- Windows --------------------------------------------------------------------------------

intptr_t Win32Backend::CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                                    const Text& title, uint32_t flags) {
    State& s = *state_;
    if (!s.started || innerWidth < 0 || innerHeight < 0) return 0;
    // Bits that are window styles pass through; the rest are the toolkit's own.
    constexpr uint32_t styleBits = WindowTitleBar | WindowSystemMenu | WindowMinimizeBox |
                                   WindowMaximizeBox | WindowSizingBorder;
    const DWORD style = (flags & styleBits) | WS_CLIPCHILDREN;
    const DWORD exStyle = (flags & WindowToolWindow) ? WS_EX_TOOLWINDOW : 0;
    // The inner size does not count a menu bar: attached later, the bar takes its height from
    // the inner area and the outer size stays. Sizes and places are logical pixels: the window
    // starts at the system's DPI and takes its monitor's once it is there.
    int width = 0, height = 0;
    const auto outerSize = [&](int dpi) {
        RECT outer = DeviceRect(0, 0, innerWidth, innerHeight, dpi);
        AdjustForDpi(&outer, style, exStyle, dpi);
        width = outer.right - outer.left, height = outer.bottom - outer.top;
    };
    const int systemDpi = SystemDpi();
    outerSize(systemDpi);

    auto rec = std::make_unique<WindowRec>();
    rec->number = number;
    const bool centred = (flags & (WindowCentreOnScreen | WindowCentreOnActive)) != 0;
    const int left = x == -65535 ? CW_USEDEFAULT : Px(x, systemDpi);
    const int top = (y == -65535 && !centred) || x == -65535 ? CW_USEDEFAULT : Px(y, systemDpi);
    HWND active = GetActiveWindow();
    HWND hwnd = CreateWindowExW(exStyle, kWindowClass, Wide(title).c_str(), style, left, top, width,
                                height, nullptr, nullptr, s.instance, rec.get());
    if (hwnd == nullptr) return 0;
    rec->hwnd = hwnd;
    WindowRec* w = rec.get();
    s.windows[hwnd] = std::move(rec);
    w->dpi = DpiOf(hwnd);
    if (w->dpi != systemDpi) {
        outerSize(w->dpi);
        SetWindowPos(hwnd, nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    if (flags & WindowCentreOnScreen) {
        const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
        const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
        SetWindowPos(hwnd, nullptr, (screenWidth - std::min(screenWidth, width)) / 2,
                     (screenHeight - std::min(screenHeight, height)) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if ((flags & WindowCentreOnActive) && active != nullptr) {
        RECT on{};
        GetWindowRect(active, &on);
        SetWindowPos(hwnd, nullptr, std::max(0L, on.left + (on.right - on.left - width) / 2),
                     std::max(0L, on.top + (on.bottom - on.top - height) / 2), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // A key pressed while another application has the focus sends no message of its own: raw
    // input sent to the first window wakes the loop, which then polls the keys.
    RAWINPUTDEVICE keyboard{1, 6, RIDEV_INPUTSINK, hwnd}; // generic desktop page, keyboard
    if (s.rawKeys == nullptr && RegisterRawInputDevices(&keyboard, 1, sizeof keyboard))
        s.rawKeys = hwnd;
    w->shortcuts = MakeShortcuts({});
    HWND none = nullptr;
    s.wakeWindow.compare_exchange_strong(none, hwnd); // the first window takes the wake-ups

    if (!(flags & WindowHidden)) {
        const bool quietly = (flags & WindowNoActivate) != 0;
        int show = quietly ? SW_SHOWNA : SW_SHOWNORMAL;
        if (flags & WindowStartMaximized) show = SW_SHOWMAXIMIZED;
        if (flags & WindowStartMinimized) show = quietly ? SW_SHOWMINNOACTIVE : SW_SHOWMINIMIZED;
        ShowWindow(hwnd, show);
        UpdateWindow(hwnd);
    }
    w->ready = true;
    return H(hwnd);
}

void Win32Backend::SetWindowTitle(intptr_t window, const Text& title) {
    if (state_->Window(W(window)) == nullptr) return;
    SetWindowTextW(W(window), Wide(title).c_str());
}

bool Win32Backend::InnerSize(intptr_t window, int& width, int& height) {
    WindowRec* w = state_->Window(W(window));
    RECT inner{};
    if (w == nullptr || !GetClientRect(w->hwnd, &inner)) return false;
    width = LogicalOf(inner.right - inner.left, w->dpi);
    height = LogicalOf(inner.bottom - inner.top, w->dpi);
    return true;
}

void Win32Backend::ActivateWindow(intptr_t window) {
    const WindowRec* w = state_->Window(W(window));
    if (w == nullptr) return;
    if (IsIconic(w->hwnd)) ShowWindow(w->hwnd, SW_RESTORE);
    SetForegroundWindow(w->hwnd);
}

void Win32Backend::DestroyWindow(intptr_t window) {
    State& s = *state_;
    WindowRec* w = s.Window(W(window));
    if (w == nullptr) return;
    HWND hwnd = w->hwnd;
    std::vector<HWND> gone;
    for (auto& entry : s.controls)
        if (GetAncestor(entry.first, GA_ROOT) == hwnd) gone.push_back(entry.first);
    for (HWND handle : gone) DestroyControl(H(handle));
    if (w->status != nullptr) s.statusBars.erase(w->status);
    std::unique_ptr<WindowRec> owned = std::move(s.windows[hwnd]);
    s.windows.erase(hwnd);
    if (owned->dropActions != 0) DragAcceptFiles(hwnd, FALSE);
    HWND wakes = hwnd;
    s.wakeWindow.compare_exchange_strong(wakes, nullptr);
    if (s.rawKeys == hwnd) {
        RAWINPUTDEVICE keyboard{1, 6, RIDEV_REMOVE, nullptr};
        RegisterRawInputDevices(&keyboard, 1, sizeof keyboard);
        s.rawKeys = nullptr;
    }
    ::DestroyWindow(hwnd); // takes the menu bar and the status bar with it
    if (owned->shortcuts != nullptr) DestroyAcceleratorTable(owned->shortcuts);
}

// ---- The window procedure -------------------------------------------------------------------

namespace {

WindowRec* RecOf(HWND hwnd) {
    return reinterpret_cast<WindowRec*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void ReportCommand(WindowRec* w, WPARAM wParam, LPARAM lParam) {
    const WORD code = HIWORD(wParam), identifier = LOWORD(wParam);
    if (lParam != 0) {
        ReportControlCommand(reinterpret_cast<HWND>(lParam), code);
    } else if (code == 1 && (identifier == kTabCommand || identifier == kBackTabCommand)) {
        notify::TabKey(w->number, identifier == kBackTabCommand);
    } else {
        notify::MenuChosen(w->number, identifier); // a menu item or another shortcut
    }
}

// Lays the window and everything in it out again for a new DPI, at the proposed place.
void Rescale(WindowRec* w, int dpi, const RECT& proposed) {
    if (dpi <= 0) return;
    w->dpi = dpi;
    ++w->quiet; // the person did not resize the window
    SetWindowPos(w->hwnd, nullptr, proposed.left, proposed.top, proposed.right - proposed.left,
                 proposed.bottom - proposed.top, SWP_NOZORDER | SWP_NOACTIVATE);
    for (auto& [handle, rec] : g_state->controls) {
        if (GetAncestor(handle, GA_ROOT) != w->hwnd) continue;
        rec->dpi = dpi;
        PlaceControl(rec.get());
    }
    if (w->status != nullptr) PlaceStatusBar(g_state->statusBars[w->status], dpi);
    --w->quiet;
    InvalidateRect(w->hwnd, nullptr, TRUE);
}

} // namespace

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    WindowRec* w = RecOf(hwnd);
    if (w == nullptr || g_state == nullptr || g_state->Window(hwnd) != w)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    const int number = w->number;
    switch (message) {
    case WM_CLOSE:
        notify::CloseRequested(number);
        return 0; // the window stays until the program closes it
    case WM_COMMAND:
        ReportCommand(w, wParam, lParam);
        return 0;
    case WM_NOTIFY:
        return ReportSpinArrow(reinterpret_cast<NMHDR*>(lParam));
    case WM_HSCROLL:
    case WM_VSCROLL:
        ReportScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
        return 0; // a spin box's arrow part reports through WM_NOTIFY only
    case WM_ACTIVATE: {
        const bool active = LOWORD(wParam) != WA_INACTIVE;
        if (!w->ready) {
            // Shown during CreateWindow, before the core knows the window: report it from the
            // loop.
            if (active) PostMessageW(hwnd, kReportActivation, 0, 0);
            return DefWindowProcW(hwnd, message, wParam, lParam);
        }
        if (!active) notify::Activated(number, false); // the core still knows the focus
        LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
        if (active && g_state->Window(hwnd) == w) notify::Activated(number, true);
        return result;
    }
    case kReportActivation:
        if (GetActiveWindow() == hwnd) notify::Activated(number, true);
        return 0;
    case kWakeUp:
        return 0;
    case WM_SIZE:
        if (w->status != nullptr) SendMessageW(w->status, WM_SIZE, 0, 0);
        if (w->ready && w->quiet == 0) {
            if (wParam == SIZE_MINIMIZED) {
                notify::SizeChanged(number, notify::SizeChange::Minimized);
            } else if (wParam == SIZE_MAXIMIZED) {
                notify::SizeChanged(number, notify::SizeChange::Maximized);
            } else if (wParam == SIZE_RESTORED) {
                notify::SizeChanged(number, notify::SizeChange::Restored);
            }
        }
        return 0;
    case WM_MOVE:
        if (w->ready && w->quiet == 0 && !IsIconic(hwnd)) notify::Moved(number);
        return 0;
    case WM_LBUTTONUP:
        notify::WindowClick(number, WindowLeftClick);
        return 0;
    case WM_RBUTTONUP:
        notify::WindowClick(number, WindowRightClick);
        return 0;
    case WM_LBUTTONDBLCLK:
        notify::WindowClick(number, WindowLeftDoubleClick);
        return 0;
    case WM_MOUSEWHEEL:
        ReportWheel(wParam, lParam);
        return 0;
    case WM_DPICHANGED:
        // Moved to a monitor of another DPI, or its DPI changed: the system proposes the place.
        Rescale(w, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DROPFILES:
        ReportDrop(w, reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_ENTERMENULOOP:
    case WM_EXITMENULOOP:
        notify::MenuTracking(number, message == WM_ENTERMENULOOP);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

// ---- Menus ----------------------------------------------------------------------------------

namespace {

bool AppendItems(HMENU menu, const std::vector<MenuItemView>& items) {
    for (const MenuItemView& item : items) {
        BOOL ok = FALSE;
        const UINT grey = item.disabled ? MF_GRAYED : MF_ENABLED;
        if (item.separator) {
            ok = AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        } else if (item.isTitle) {
            HMENU dropDown = CreatePopupMenu();
            if (dropDown == nullptr) return false;
            if (!AppendItems(dropDown, item.children) ||
                !AppendMenuW(menu, MF_POPUP | MF_STRING | grey,
                             reinterpret_cast<UINT_PTR>(dropDown), Wide(item.text).c_str())) {
                DestroyMenu(dropDown);
                return false;
            }
            ok = TRUE;
        } else {
            std::wstring text = Wide(item.text);
            const std::wstring key = AcceleratorName(item.accelerator);
            if (!key.empty()) text += L"\t" + key;
            const UINT check = item.checked ? MF_CHECKED : MF_UNCHECKED;
            ok = AppendMenuW(menu, MF_STRING | grey | check, UINT_PTR(item.identifier),
                             text.c_str());
            if (ok && item.radio) { // the mark drawn as a dot, as radio items show it
                MENUITEMINFOW info{};
                info.cbSize = sizeof info;
                info.fMask = MIIM_FTYPE;
                ok = GetMenuItemInfoW(menu, UINT(item.identifier), FALSE, &info);
                info.fType |= MFT_RADIOCHECK;
                ok = ok && SetMenuItemInfoW(menu, UINT(item.identifier), FALSE, &info);
            }
        }
        if (!ok) return false;
    }
    return true;
}

} // namespace

bool Win32Backend::SetMenuBar(intptr_t window, const std::vector<MenuItemView>& bar) {
    WindowRec* w = state_->Window(W(window));
    if (w == nullptr) return false;
    HMENU menu = nullptr;
    if (!bar.empty()) {
        menu = CreateMenu();
        if (menu == nullptr) return false;
        if (!AppendItems(menu, bar)) {
            DestroyMenu(menu);
            return false;
        }
    }
    HMENU old = GetMenu(w->hwnd);
    ++w->quiet; // the inner area shrinks by the bar: the program did that, not the person
    SetMenu(w->hwnd, menu);
    --w->quiet;
    if (old != nullptr) DestroyMenu(old);
    DrawMenuBar(w->hwnd);
    if (HACCEL shortcuts = MakeShortcuts(bar)) {
        if (w->shortcuts != nullptr) DestroyAcceleratorTable(w->shortcuts);
        w->shortcuts = shortcuts;
    }
    return true;
}

void Win32Backend::Wake() {
    // PostMessageW may be called from any thread; the message only ends the wait.
    if (HWND target = state_->wakeWindow.load()) PostMessageW(target, kWakeUp, 0, 0);
}

void Win32Backend::SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) {
    WindowRec* w = state_->Window(W(window));
    if (w == nullptr) return;
    HMENU menu = GetMenu(w->hwnd);
    if (menu == nullptr) return;
    EnableMenuItem(menu, UINT(identifier), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(w->hwnd); // an item standing on the bar shows its new state at once
}

void Win32Backend::SetMenuItemChecked(intptr_t window, int identifier, bool checked) {
    WindowRec* w = state_->Window(W(window));
    if (w == nullptr) return;
    if (HMENU menu = GetMenu(w->hwnd))
        CheckMenuItem(menu, UINT(identifier), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

// ---- The status bar -------------------------------------------------------------------------

intptr_t Win32Backend::CreateStatusBar(intptr_t window) {
    State& s = *state_;
    WindowRec* w = s.Window(W(window));
    if (w == nullptr) return 0;
    if (w->status != nullptr) {
        s.statusBars.erase(w->status);
        ::DestroyWindow(w->status);
        w->status = nullptr;
    }
    ++w->quiet;
    HWND bar = CreateStatusWindowW(WS_CHILD | WS_VISIBLE, L"", w->hwnd, 0);
    if (bar != nullptr) {
        w->status = bar;
        StatusRec& rec = s.statusBars[bar] = StatusRec{bar, w->hwnd, {}};
        PlaceStatusBar(rec, w->dpi);
        SetWindowPos(bar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    --w->quiet;
    return H(bar);
}

namespace {

// The DPI a window of ours is laid out for; the one it is shown at for another.
int LaidOutDpi(HWND window) {
    const WindowRec* w = g_state->Window(window);
    return w != nullptr ? w->dpi : DpiOf(window);
}

} // namespace

void PlaceStatusBar(StatusRec& bar, int dpi) {
    UseControlFont(bar.hwnd, dpi);
    SendMessageW(bar.hwnd, SB_SETMINHEIGHT, Px(kMinStatusHeight, dpi), 0);
    SendMessageW(bar.hwnd, WM_SIZE, 0, 0);
    // The bar wants the right edge of each field.
    std::vector<int> edges;
    int edge = 0;
    for (int32_t width : bar.widths) {
        edge += std::max<int32_t>(width, 0);
        edges.push_back(Px(edge, dpi));
    }
    if (edges.empty()) edges.push_back(-1);
    SendMessageW(bar.hwnd, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void Win32Backend::SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) {
    auto it = state_->statusBars.find(W(statusBar));
    if (it == state_->statusBars.end()) return;
    it->second.widths = widths;
    PlaceStatusBar(it->second, LaidOutDpi(it->second.window));
}

void Win32Backend::SetStatusText(intptr_t statusBar, int field, const Text& text) {
    if (state_->statusBars.count(W(statusBar)) == 0 || field < 0 || field > 255) return;
    SendMessageW(W(statusBar), SB_SETTEXTW, WPARAM(field),
                 reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

int32_t Win32Backend::StatusBarWidth(intptr_t statusBar) {
    auto it = state_->statusBars.find(W(statusBar));
    if (it == state_->statusBars.end()) return 0;
    RECT inner{};
    GetClientRect(it->second.window, &inner);
    return LogicalOf(inner.right - inner.left, LaidOutDpi(it->second.window));
}

} // namespace tk::win32
