// The Win32 backend: windows, menus, the status bar, controls, the canvas, file drop, the global
// key state and the native wait.
//
// Sections: state and helpers; start-up; windows and their window procedure; menus; the status
// bar; controls (creation, updates, subclass procedures); the canvas; file drop and keys; the
// native wait.
//
// Each native control mirrors the core's ControlView and reports gestures through notify::.
// While the backend itself changes a control, its notifications are ignored (State::muted), so
// nothing echoes back to the core. Native controls never decide anything of their own: check
// boxes do not toggle themselves, the up-down arrows do not move by themselves and do not write
// their buddy's text; the core answers each report and the backend shows the answer.
#include "toolkit/win32/win32_backend.h"

#include "toolkit/win32/win32_backend_impl.h" // windows.h first: the others build on it

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace tk::win32 {

// ---- State and helpers ----------------------------------------------------------------------

namespace {

constexpr wchar_t kWindowClass[] = L"PixmoleWindow";
constexpr wchar_t kCanvasClass[] = L"PixmoleCanvas";
constexpr int32_t kNativeBase = 0x10000;
constexpr int kMinStatusHeight = 18;
constexpr WORD kTabCommand = 0xFFF0;     // the window's shortcut table: Tab
constexpr WORD kBackTabCommand = 0xFFF1; // Shift+Tab
constexpr UINT kReportActivation = WM_APP + 1;
constexpr UINT_PTR kSubclassId = 1;

struct WindowRec {
    int number = 0;
    HWND hwnd = nullptr;
    HACCEL shortcuts = nullptr;
    HWND status = nullptr;
    bool ready = false; // CreateWindow has returned: size, move and activation are reported
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
    ControlView view;      // the core's last word (picture pointer not kept)
    // Canvas: the picture as a DIB section, selected into a memory device context.
    HBITMAP dib = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    HDC memory = nullptr;
    uint8_t* dibBits = nullptr;
    int32_t dibWidth = 0, dibHeight = 0, dibStride = 0;
    bool trackingLeave = false;
    wchar_t highSurrogate = 0; // first half of a typed character outside the BMP
};

struct StatusRec {
    HWND hwnd = nullptr;
    HWND window = nullptr;
};

} // namespace

struct Win32Backend::State {
    HINSTANCE instance = nullptr;
    bool started = false;
    bool comStarted = false;
    int muted = 0;
    HFONT font = nullptr;
    std::map<HWND, std::unique_ptr<WindowRec>> windows;
    std::map<HWND, std::unique_ptr<ControlRec>> controls; // by handle
    std::map<HWND, ControlRec*> byHwnd;                   // every native window of a control
    std::map<HWND, StatusRec> statusBars;
    bool pressed[256] = {}; // "pressed since" bits taken from GetAsyncKeyState, not yet asked for

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

void Win32Backend::StateDeleter::operator()(State* s) const {
    delete s;
}

namespace {

// The one backend whose window procedures run (Init sets it, Shutdown clears it).
Win32Backend::State* g_state = nullptr;

struct Muted {
    explicit Muted(Win32Backend::State* s) : state(s) { ++state->muted; }
    ~Muted() { --state->muted; }
    Muted(const Muted&) = delete;
    Muted& operator=(const Muted&) = delete;
    Win32Backend::State* state;
};

// Characters of a UTF-16 prefix of `length` units, and back: the core counts the caret in
// characters.
int32_t CharactersIn(const std::wstring& text, size_t length) {
    int32_t count = 0;
    for (size_t i = 0; i < length && i < text.size(); ++i)
        if (!IS_LOW_SURROGATE(text[i])) ++count;
    return count;
}
size_t UnitsFor(const std::wstring& text, int32_t characters) {
    size_t i = 0;
    for (int32_t seen = 0; i < text.size() && seen < characters; ++i) {
        if (IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size()) ++i;
        ++seen;
    }
    return i;
}

std::wstring WindowTextOf(HWND hwnd) {
    int length = GetWindowTextLengthW(hwnd);
    std::wstring text(size_t(std::max(length, 0)) + 1, L'\0');
    int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(size_t(std::max(got, 0)));
    return text;
}

uint32_t HeldButtons() {
    uint32_t buttons = 0;
    if (GetKeyState(VK_LBUTTON) < 0) buttons |= 1;
    if (GetKeyState(VK_RBUTTON) < 0) buttons |= 2;
    if (GetKeyState(VK_MBUTTON) < 0) buttons |= 4;
    return buttons;
}

// The pointer where the message being handled was generated, in the window's client pixels.
POINT MessagePoint(HWND hwnd) {
    DWORD position = GetMessagePos();
    POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    ScreenToClient(hwnd, &point);
    return point;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CanvasProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ControlSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                 DWORD_PTR data);

} // namespace

uint32_t HeldModifiers() {
    uint32_t modifiers = 0;
    if (GetKeyState(VK_SHIFT) < 0) modifiers |= 1;
    if (GetKeyState(VK_MENU) < 0) modifiers |= 2;
    if (GetKeyState(VK_CONTROL) < 0) modifiers |= 4;
    return modifiers;
}

std::wstring Wide(const Text& text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(std::min<size_t>(text.size(), INT32_MAX));
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(size_t(std::max(length, 0)), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

Text Utf8(const wchar_t* text, int length) {
    if (text == nullptr || length == 0) return Text();
    if (length < 0) length = static_cast<int>(wcslen(text));
    int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    Text utf8(size_t(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

Text Utf8(const std::wstring& text) {
    return Utf8(text.c_str(), static_cast<int>(text.size()));
}

// ---- Start-up -------------------------------------------------------------------------------

Win32Backend::Win32Backend() : state_(new State) {}

Win32Backend::~Win32Backend() {
    Shutdown();
}

bool Win32Backend::Init() {
    State& s = *state_;
    if (s.started) return true;
    if (g_state != nullptr) return false; // one backend at a time owns the window procedures
    s.instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                                 ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&classes)) return false;
    // The common file dialogs want COM on the thread.
    s.comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

    WNDCLASSEXW window{};
    window.cbSize = sizeof window;
    window.style = CS_DBLCLKS;
    window.lpfnWndProc = WindowProc;
    window.hInstance = s.instance;
    window.hIcon = LoadIconW(s.instance, MAKEINTRESOURCEW(1));
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
        UnregisterClassW(kWindowClass, s.instance);
        return false;
    }
    s.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    g_state = &s;
    s.started = true;
    return true;
}

void Win32Backend::Shutdown() {
    State& s = *state_;
    if (!s.started) return;
    while (!s.controls.empty()) DestroyControl(H(s.controls.begin()->first));
    while (!s.windows.empty()) DestroyWindow(H(s.windows.begin()->first));
    UnregisterClassW(kCanvasClass, s.instance);
    UnregisterClassW(kWindowClass, s.instance);
    if (s.comStarted) CoUninitialize();
    s.comStarted = false;
    std::fill(std::begin(s.pressed), std::end(s.pressed), false);
    g_state = nullptr;
    s.started = false;
}

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
    // the inner area and the outer size stays.
    RECT outer{0, 0, innerWidth, innerHeight};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;

    auto rec = std::make_unique<WindowRec>();
    rec->number = number;
    const bool centred = (flags & (WindowCentreOnScreen | WindowCentreOnActive)) != 0;
    const int left = x == -65535 ? CW_USEDEFAULT : x;
    const int top = (y == -65535 && !centred) || x == -65535 ? CW_USEDEFAULT : y;
    HWND active = GetActiveWindow();
    HWND hwnd = CreateWindowExW(exStyle, kWindowClass, Wide(title).c_str(), style, left, top, width,
                                height, nullptr, nullptr, s.instance, rec.get());
    if (hwnd == nullptr) return 0;
    rec->hwnd = hwnd;
    WindowRec* w = rec.get();
    s.windows[hwnd] = std::move(rec);

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
    ACCEL keys[] = {{FVIRTKEY, VK_TAB, kTabCommand}, {FVIRTKEY | FSHIFT, VK_TAB, kBackTabCommand}};
    w->shortcuts = CreateAcceleratorTableW(keys, 2);

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
    ::DestroyWindow(hwnd); // takes the menu bar and the status bar with it
    if (owned->shortcuts != nullptr) DestroyAcceleratorTable(owned->shortcuts);
}

namespace {

WindowRec* RecOf(HWND hwnd) {
    return reinterpret_cast<WindowRec*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// The canvas under the pointer, for the wheel: it goes to the window with the focus.
ControlRec* CanvasAt(POINT screen) {
    HWND under = WindowFromPoint(screen);
    ControlRec* rec = under != nullptr ? g_state->Live(under) : nullptr;
    return rec != nullptr && rec->kind == KindCanvas ? rec : nullptr;
}

void ReportWheel(ControlRec* rec, WPARAM wParam, LPARAM lParam) {
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(rec->handle, &point);
    notify::CanvasInput(rec->number, notify::Mouse::Wheel, point.x, point.y, HeldButtons(),
                        HeldModifiers(), GET_WHEEL_DELTA_WPARAM(wParam));
}

void ReportScroll(ControlRec* rec, WORD code) {
    using notify::Scroll;
    Scroll action;
    switch (code) {
    case SB_LINEUP:
        action = Scroll::LineUp;
        break;
    case SB_LINEDOWN:
        action = Scroll::LineDown;
        break;
    case SB_PAGEUP:
        action = Scroll::PageUp;
        break;
    case SB_PAGEDOWN:
        action = Scroll::PageDown;
        break;
    case SB_THUMBPOSITION:
        action = Scroll::ThumbPosition;
        break;
    case SB_THUMBTRACK:
        action = Scroll::ThumbTrack;
        break;
    case SB_TOP:
        action = Scroll::Top;
        break;
    case SB_BOTTOM:
        action = Scroll::Bottom;
        break;
    case SB_ENDSCROLL:
        action = Scroll::EndScroll;
        break;
    default:
        return;
    }
    // The message carries 16 bits of the track position; the scroll bar itself has all 32.
    SCROLLINFO info{sizeof info, SIF_TRACKPOS, 0, 0, 0, 0, 0};
    GetScrollInfo(rec->handle, SB_CTL, &info);
    notify::ScrollAction(rec->number, action, info.nTrackPos);
}

void ReportCommand(WindowRec* w, WPARAM wParam, LPARAM lParam) {
    const WORD code = HIWORD(wParam), identifier = LOWORD(wParam);
    if (lParam == 0) {
        if (code == 1 && (identifier == kTabCommand || identifier == kBackTabCommand)) {
            notify::TabKey(w->number, identifier == kBackTabCommand);
        } else {
            notify::MenuChosen(w->number, identifier); // a menu item or another shortcut
        }
        return;
    }
    ControlRec* rec = g_state->Live(reinterpret_cast<HWND>(lParam));
    if (rec == nullptr || g_state->muted > 0) return;
    switch (rec->kind) {
    case KindCheckBox:
        if (code == BN_CLICKED) notify::CheckClicked(rec->number);
        break;
    case KindButton:
        if (code == BN_CLICKED) notify::ButtonClicked(rec->number);
        break;
    case KindTextField:
    case KindSpinBox:
        if (code == EN_CHANGE && reinterpret_cast<HWND>(lParam) == rec->handle) {
            std::wstring text = WindowTextOf(rec->handle);
            DWORD end = 0;
            SendMessageW(rec->handle, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&end));
            notify::TextEdited(rec->number, Utf8(text), CharactersIn(text, end));
        }
        break;
    default:
        break;
    }
}

// The spin box's arrow part asks before it moves; the core moves the spin box instead.
LRESULT ReportSpinArrow(NMHDR* header) {
    ControlRec* rec = g_state->Live(header->hwndFrom);
    if (rec == nullptr || rec->kind != KindSpinBox || header->code != UDN_DELTAPOS) return 0;
    auto* change = reinterpret_cast<NMUPDOWN*>(header);
    const int delta = change->iDelta;
    change->iDelta = 0;
    if (delta != 0 && g_state->muted == 0) notify::SpinArrow(rec->number, delta > 0 ? 1 : -1);
    return 0;
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
    notify::FilesDropped(w->number, paths, DropCopy, HeldModifiers(), point.x, point.y);
}

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
        if (ControlRec* rec = g_state->Live(reinterpret_cast<HWND>(lParam));
            rec != nullptr && rec->kind == KindScrollBar && g_state->muted == 0)
            ReportScroll(rec, LOWORD(wParam));
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
        if (ControlRec* rec = CanvasAt({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}))
            ReportWheel(rec, wParam, lParam);
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

} // namespace

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
            ok = AppendMenuW(menu, MF_STRING | grey, UINT_PTR(item.identifier),
                             Wide(item.text).c_str());
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
    return true;
}

void Win32Backend::SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) {
    WindowRec* w = state_->Window(W(window));
    if (w == nullptr) return;
    HMENU menu = GetMenu(w->hwnd);
    if (menu == nullptr) return;
    EnableMenuItem(menu, UINT(identifier), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(w->hwnd); // an item standing on the bar shows its new state at once
}

// ---- Status bar -----------------------------------------------------------------------------

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
        SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), TRUE);
        SendMessageW(bar, SB_SETMINHEIGHT, kMinStatusHeight, 0);
        SendMessageW(bar, WM_SIZE, 0, 0);
        SetWindowPos(bar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    --w->quiet;
    if (bar == nullptr) return 0;
    w->status = bar;
    s.statusBars[bar] = StatusRec{bar, w->hwnd};
    SetStatusFields(H(bar), {});
    return H(bar);
}

void Win32Backend::SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) {
    auto it = state_->statusBars.find(W(statusBar));
    if (it == state_->statusBars.end()) return;
    // The bar wants the right edge of each field.
    std::vector<int> edges;
    int edge = 0;
    for (int32_t width : widths) {
        edge += std::max<int32_t>(width, 0);
        edges.push_back(edge);
    }
    if (edges.empty()) edges.push_back(-1);
    SendMessageW(W(statusBar), SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
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
    return inner.right - inner.left;
}

// ---- Controls -------------------------------------------------------------------------------

namespace {

void ConfigureScrollBar(ControlRec* rec, const ControlView& view) {
    // The scroll bar keeps positions within minimum .. maximum - max(page - 1, 0) itself, which
    // is the core's rule too.
    SCROLLINFO info{sizeof info,
                    SIF_RANGE | SIF_PAGE | SIF_POS,
                    view.minimum,
                    view.maximum,
                    UINT(std::max<int32_t>(view.pageLength, 0)),
                    view.state,
                    0};
    SetScrollInfo(rec->handle, SB_CTL, &info, TRUE);
}

void SetCheck(HWND check, int32_t state) {
    WPARAM mark = state == 0 ? BST_UNCHECKED : state == -1 ? BST_INDETERMINATE : BST_CHECKED;
    SendMessageW(check, BM_SETCHECK, mark, 0);
}

void SetEditText(ControlRec* rec, const ControlView& view) {
    std::wstring text = Wide(view.text);
    if (text != WindowTextOf(rec->handle)) SetWindowTextW(rec->handle, text.c_str());
    if (view.caret >= 0) {
        const WPARAM at = UnitsFor(text, view.caret);
        SendMessageW(rec->handle, EM_SETSEL, at, LPARAM(at));
    }
}

void ConfigureArrows(ControlRec* rec, const ControlView& view) {
    SendMessageW(rec->arrows, UDM_SETRANGE32, WPARAM(view.minimum), LPARAM(view.maximum));
    SendMessageW(rec->arrows, UDM_SETPOS32, 0, LPARAM(view.state));
}

// The canvas's picture as a DIB section of the picture's size, selected into a memory context.
bool MakeCanvasBitmap(ControlRec* rec, int32_t width, int32_t height) {
    if (rec->dib != nullptr && rec->dibWidth == width && rec->dibHeight == height) return true;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // positive: bottom-up, as the picture is
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib == nullptr) return false;
    if (rec->memory == nullptr) rec->memory = CreateCompatibleDC(nullptr);
    if (rec->memory == nullptr) {
        DeleteObject(dib);
        return false;
    }
    HGDIOBJ previous = SelectObject(rec->memory, dib);
    if (rec->dib != nullptr) {
        DeleteObject(rec->dib);
    } else {
        rec->previousBitmap = previous;
    }
    rec->dib = dib;
    rec->dibBits = static_cast<uint8_t*>(bits);
    rec->dibWidth = width;
    rec->dibHeight = height;
    rec->dibStride = StrideFor(width, 24);
    std::memset(rec->dibBits, 0xFF, size_t(rec->dibStride) * size_t(height)); // white
    return true;
}

void FreeCanvasBitmap(ControlRec* rec) {
    if (rec->memory != nullptr) {
        if (rec->previousBitmap != nullptr) SelectObject(rec->memory, rec->previousBitmap);
        DeleteDC(rec->memory);
    }
    if (rec->dib != nullptr) DeleteObject(rec->dib);
    rec->memory = nullptr;
    rec->dib = nullptr;
    rec->dibBits = nullptr;
}

// Both are 24-bit bottom-up rows padded to 4 bytes: the rows copy as they are.
void CopyPicture(ControlRec* rec, const Picture& picture) {
    const PixelBuffer& px = picture.pixels();
    if (px.width <= 0 || px.height <= 0 || px.bits == nullptr || px.bitsPerPixel != 24) return;
    if (!MakeCanvasBitmap(rec, px.width, px.height)) return;
    GdiFlush(); // nothing may still be drawing from the old bits
    if (px.stride == rec->dibStride) {
        std::memcpy(rec->dibBits, px.bits, size_t(px.stride) * size_t(px.height));
    } else {
        const size_t row = size_t(std::min(px.stride, rec->dibStride));
        for (int32_t y = 0; y < px.height; ++y)
            std::memcpy(rec->dibBits + size_t(y) * size_t(rec->dibStride),
                        px.bits + size_t(y) * size_t(px.stride), row);
    }
}

void PaintCanvas(ControlRec* rec, HDC dc) {
    RECT inner{};
    GetClientRect(rec->handle, &inner);
    int32_t width = 0, height = 0;
    if (rec->memory != nullptr) {
        width = rec->dibWidth;
        height = rec->dibHeight;
        BitBlt(dc, 0, 0, width, height, rec->memory, 0, 0, SRCCOPY);
    }
    // Whatever the picture does not cover is white.
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RECT right{width, 0, inner.right, inner.bottom};
    RECT below{0, height, std::min<LONG>(width, inner.right), inner.bottom};
    if (right.left < right.right) FillRect(dc, &right, white);
    if (below.top < below.bottom) FillRect(dc, &below, white);
}

} // namespace

intptr_t Win32Backend::CreateControl(intptr_t window, const ControlView& view) {
    State& s = *state_;
    WindowRec* w = s.Window(W(window));
    if (w == nullptr || view.width < 0 || view.height < 0) return 0;
    auto rec = std::make_unique<ControlRec>();
    rec->number = view.number;
    rec->window = w->number;
    rec->kind = view.kind;
    rec->flags = view.flags;
    rec->view = view;
    rec->view.picture = nullptr;
    Muted quiet(&s);

    const HWND parent = w->hwnd;
    const auto id = reinterpret_cast<HMENU>(static_cast<intptr_t>(view.number));
    const std::wstring text = Wide(view.text);
    auto make = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* caption, DWORD style, int x,
                    int width) {
        return CreateWindowExW(exStyle, cls, caption, WS_CHILD | WS_VISIBLE | style, x, view.y,
                               width, view.height, parent, id, s.instance, nullptr);
    };
    HWND handle = nullptr;
    switch (view.kind) {
    case KindScrollBar:
        handle = make(0, L"SCROLLBAR", nullptr, (view.flags & ScrollVertical) ? SBS_VERT : SBS_HORZ,
                      view.x, view.width);
        rec->handle = handle;
        if (handle != nullptr) ConfigureScrollBar(rec.get(), view);
        break;
    case KindCheckBox:
        // A three-state box that the program checks: the core decides what a click does.
        handle =
            make(0, L"BUTTON", text.c_str(), BS_3STATE | WS_TABSTOP | WS_GROUP, view.x, view.width);
        if (handle != nullptr) SetCheck(handle, view.state);
        break;
    case KindLabel: {
        const int align = view.flags & 3;
        DWORD style = SS_NOPREFIX | WS_GROUP |
                      (align == LabelRight     ? SS_RIGHT
                       : align == LabelCentred ? SS_CENTER
                                               : SS_LEFT);
        if (view.flags & LabelSunken) style |= SS_SUNKEN;
        handle = make(0, L"STATIC", text.c_str(), style, view.x, view.width);
        break;
    }
    case KindSpinBox: {
        // The text part and the arrow part overlap by a pixel, as the up-down control expects.
        const int arrowWidth = std::max(view.height / 2, 18);
        DWORD style = ES_RIGHT | ES_AUTOHSCROLL | WS_TABSTOP;
        if (view.flags & SpinReadOnly) style |= ES_READONLY;
        handle = make(WS_EX_CLIENTEDGE, L"EDIT", text.c_str(), style, view.x,
                      std::max(1, view.width - arrowWidth + 1));
        if (handle == nullptr) break;
        rec->arrows = CreateWindowExW(0, UPDOWN_CLASSW, nullptr,
                                      WS_CHILD | WS_VISIBLE | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                                      view.x + view.width - arrowWidth, view.y, arrowWidth,
                                      view.height, parent, id, s.instance, nullptr);
        if (rec->arrows == nullptr) {
            ::DestroyWindow(handle);
            handle = nullptr;
            break;
        }
        SendMessageW(rec->arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(handle), 0);
        UDACCEL step{0, 1}; // one step per report, however long an arrow is held
        SendMessageW(rec->arrows, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
        rec->handle = handle;
        ConfigureArrows(rec.get(), view);
        break;
    }
    case KindTextField: {
        // Other flag bits are edit styles (ES_NUMBER among them).
        DWORD style = (DWORD(view.flags) & 0xFFFF) | ES_AUTOHSCROLL | WS_TABSTOP;
        DWORD exStyle = (view.flags & TextNoBorder) ? 0 : WS_EX_CLIENTEDGE;
        handle = make(exStyle, L"EDIT", text.c_str(), style, view.x, view.width);
        break;
    }
    case KindButton:
        handle = make(0, L"BUTTON", text.c_str(), BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, view.x,
                      view.width);
        break;
    case KindCanvas: {
        DWORD style = (view.flags & CanvasKeyboard) ? WS_TABSTOP | WS_GROUP : 0;
        DWORD exStyle = (view.flags & CanvasSunken) ? WS_EX_CLIENTEDGE : 0;
        handle = make(exStyle, kCanvasClass, nullptr, style, view.x, view.width);
        if (handle == nullptr) break;
        rec->handle = handle;
        if (view.picture != nullptr) CopyPicture(rec.get(), *view.picture);
        if (rec->dib == nullptr) {
            RECT inner{};
            GetClientRect(handle, &inner);
            if (!MakeCanvasBitmap(rec.get(), std::max<LONG>(inner.right, 1),
                                  std::max<LONG>(inner.bottom, 1))) {
                ::DestroyWindow(handle);
                handle = nullptr;
            }
        }
        break;
    }
    default:
        return 0;
    }
    if (handle == nullptr) {
        FreeCanvasBitmap(rec.get());
        return 0;
    }
    rec->handle = handle;
    SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), TRUE);
    if (view.kind != KindCanvas) SetWindowSubclass(handle, ControlSubclass, kSubclassId, 0);
    if (!view.enabled) {
        EnableWindow(handle, FALSE);
        if (rec->arrows != nullptr) EnableWindow(rec->arrows, FALSE);
    }
    // The status bar stays above the controls it covers.
    if (w->status != nullptr)
        SetWindowPos(w->status, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    s.byHwnd[handle] = rec.get();
    if (rec->arrows != nullptr) s.byHwnd[rec->arrows] = rec.get();
    s.controls[handle] = std::move(rec);
    return H(handle);
}

void Win32Backend::UpdateControl(intptr_t control, const ControlView& view) {
    State& s = *state_;
    ControlRec* rec = s.Control(W(control));
    if (rec == nullptr) return;
    Muted quiet(&s);
    const ControlView before = rec->view;
    rec->view = view;
    rec->view.picture = nullptr;
    switch (rec->kind) {
    case KindScrollBar:
        ConfigureScrollBar(rec, view);
        break;
    case KindCheckBox:
    case KindButton:
    case KindLabel:
        if (view.text != before.text) SetWindowTextW(rec->handle, Wide(view.text).c_str());
        if (rec->kind == KindCheckBox) SetCheck(rec->handle, view.state);
        break;
    case KindSpinBox:
        ConfigureArrows(rec, view);
        SetEditText(rec, view);
        break;
    case KindTextField:
        SetEditText(rec, view);
        break;
    default:
        break;
    }
    if (view.enabled != before.enabled) {
        EnableWindow(rec->handle, view.enabled);
        if (rec->arrows != nullptr) EnableWindow(rec->arrows, view.enabled);
    }
}

void Win32Backend::DestroyControl(intptr_t control) {
    std::unique_ptr<ControlRec> rec = state_->Forget(W(control));
    if (rec == nullptr) return;
    if (rec->arrows != nullptr) ::DestroyWindow(rec->arrows);
    ::DestroyWindow(rec->handle);
    FreeCanvasBitmap(rec.get());
}

void Win32Backend::FocusControl(intptr_t control) {
    if (state_->Control(W(control)) != nullptr) SetFocus(W(control));
}

namespace {

// Reports what the person types, focus changes and pastes of the standard controls.
LRESULT CALLBACK ControlSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR) {
    ControlRec* rec = g_state != nullptr ? g_state->Live(hwnd) : nullptr;
    if (rec == nullptr) return DefSubclassProc(hwnd, message, wParam, lParam);
    const bool text = rec->kind == KindTextField || rec->kind == KindSpinBox;
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
        const int number = rec->number;
        LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
        notify::FocusChanged(number, message == WM_SETFOCUS);
        return result;
    }
    case WM_CHAR: {
        if (!text || g_state->muted > 0) break;
        const auto unit = static_cast<wchar_t>(wParam);
        if (IS_HIGH_SURROGATE(unit)) {
            rec->highSurrogate = unit;
            return 0;
        }
        if (unit < 32) break; // editing keys: Backspace, Ctrl+V and the like
        wchar_t typed[2] = {unit, 0};
        int length = 1;
        if (IS_LOW_SURROGATE(unit) && rec->highSurrogate != 0) {
            typed[0] = rec->highSurrogate;
            typed[1] = unit;
            length = 2;
        }
        rec->highSurrogate = 0;
        if (!notify::AcceptsTyping(rec->number, Utf8(typed, length))) return 0;
        if (length == 2) DefSubclassProc(hwnd, WM_CHAR, WPARAM(typed[0]), lParam);
        break;
    }
    case WM_PASTE: {
        if (!text || g_state->muted > 0) break;
        Text pasted;
        if (OpenClipboard(hwnd)) {
            if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
                if (auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
                    pasted = Utf8(chars);
                    GlobalUnlock(data);
                }
            }
            CloseClipboard();
        }
        if (!pasted.empty() && !notify::AcceptsTyping(rec->number, pasted)) return 0;
        break;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, ControlSubclass, kSubclassId);
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

// ---- The canvas -----------------------------------------------------------------------------

void ReportCanvasMouse(ControlRec* rec, notify::Mouse message) {
    const POINT point = MessagePoint(rec->handle);
    notify::CanvasInput(rec->number, message, point.x, point.y, HeldButtons(), HeldModifiers(), 0);
}

void WatchLeave(HWND hwnd) {
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
    TrackMouseEvent(&track);
}

LRESULT CALLBACK CanvasProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ControlRec* rec = g_state != nullptr ? g_state->Live(hwnd) : nullptr;
    if (rec == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    using notify::Mouse;
    const bool keyboard = (rec->flags & CanvasKeyboard) != 0;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        PaintCanvas(rec, dc);
        EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // painting covers everything
    case WM_PRINTCLIENT:
        PaintCanvas(rec, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_MOUSEMOVE:
        if (!rec->trackingLeave) {
            rec->trackingLeave = true;
            WatchLeave(hwnd);
        }
        ReportCanvasMouse(rec, Mouse::Move);
        return 0;
    case WM_MOUSELEAVE:
        rec->trackingLeave = false;
        // While a button holds the pointer the canvas keeps it; leaving is reported when the
        // button is released outside.
        if (GetCapture() == hwnd) return 0;
        ReportCanvasMouse(rec, Mouse::Leave);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK: {
        if (GetCapture() != hwnd) SetCapture(hwnd);
        Mouse kind = message == WM_LBUTTONDOWN     ? Mouse::LeftDown
                     : message == WM_RBUTTONDOWN   ? Mouse::RightDown
                     : message == WM_MBUTTONDOWN   ? Mouse::MiddleDown
                     : message == WM_LBUTTONDBLCLK ? Mouse::LeftDouble
                     : message == WM_RBUTTONDBLCLK ? Mouse::RightDouble
                                                   : Mouse::MiddleDouble;
        ReportCanvasMouse(rec, kind);
        return 0;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
        const POINT point = MessagePoint(hwnd);
        const int number = rec->number;
        bool outside = false;
        if (HeldButtons() == 0 && GetCapture() == hwnd) {
            RECT inner{};
            GetClientRect(hwnd, &inner);
            outside = !PtInRect(&inner, point);
            ReleaseCapture();
        }
        Mouse kind = message == WM_LBUTTONUP   ? Mouse::LeftUp
                     : message == WM_RBUTTONUP ? Mouse::RightUp
                                               : Mouse::MiddleUp;
        notify::CanvasInput(number, kind, point.x, point.y, HeldButtons(), HeldModifiers(), 0);
        rec = g_state->Live(hwnd);
        if (rec == nullptr) return 0;
        if (outside) {
            rec->trackingLeave = false;
            notify::CanvasInput(number, Mouse::Leave, point.x, point.y, HeldButtons(),
                                HeldModifiers(), 0);
        } else if (rec->trackingLeave) {
            WatchLeave(hwnd); // the capture may have ended the watch
        }
        return 0;
    }
    case WM_MOUSEWHEEL:
        if (ControlRec* under = CanvasAt({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}))
            ReportWheel(under, wParam, lParam);
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
        if (!keyboard) break;
        notify::CanvasInput(rec->number, message == WM_KEYDOWN ? Mouse::KeyDown : Mouse::KeyUp, 0,
                            0, HeldButtons(), HeldModifiers(), int32_t(wParam));
        return 0;
    case WM_CHAR:
        if (!keyboard) break;
        notify::CanvasInput(rec->number, Mouse::Char, 0, 0, HeldButtons(), HeldModifiers(),
                            int32_t(wParam));
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        notify::FocusChanged(rec->number, message == WM_SETFOCUS);
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

void Win32Backend::ShowCanvas(intptr_t control, const Picture& picture) {
    ControlRec* rec = state_->Control(W(control));
    if (rec == nullptr || rec->kind != KindCanvas) return;
    CopyPicture(rec, picture);
    // On screen now, not at the next paint request: also while a scroll bar's own loop runs.
    if (!IsWindowVisible(rec->handle)) return;
    HDC dc = GetDC(rec->handle);
    if (dc == nullptr) return;
    PaintCanvas(rec, dc);
    ReleaseDC(rec->handle, dc);
}

// ---- File drop and keys ---------------------------------------------------------------------

void Win32Backend::EnableFileDrop(intptr_t window, int actions) {
    WindowRec* w = state_->Window(W(window));
    if (w == nullptr) return;
    // Files dropped over any control reach the window: the shell looks for a window that
    // accepts files from the one under the pointer up through its parents.
    w->dropActions = actions;
    DragAcceptFiles(w->hwnd, actions != 0);
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

// ---- The native wait ------------------------------------------------------------------------

int32_t Win32Backend::WaitNative() {
    State& s = *state_;
    MSG msg{};
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) return kNativeBase;
    if (got == 0) {
        PostQuitMessage(int(msg.wParam)); // whoever loops next sees it too
        return kNativeBase + WM_QUIT;
    }
    HWND active = GetActiveWindow();
    WindowRec* w = s.Window(active);
    if (w == nullptr || w->shortcuts == nullptr ||
        !TranslateAcceleratorW(active, w->shortcuts, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return kNativeBase + int32_t(msg.message & 0xFFFF);
}

} // namespace tk::win32

namespace tk {

std::unique_ptr<Backend> MakeWin32Backend() {
    return std::make_unique<win32::Win32Backend>();
}

Text Win32CommandLine() {
    return win32::Utf8(GetCommandLineW());
}

} // namespace tk
