// The Win32 backend's start-up and shut-down, its UTF-8/UTF-16 conversions and the native wait.
// What the other files hold is listed in win32_backend_impl.h.
#include "toolkit/win32/win32_backend.h"

#include "toolkit/win32/win32_backend_impl.h" // windows.h first: the others build on it

#include <commctrl.h>

#include <algorithm>

#include "toolkit/window.h"

namespace tk::win32 {

Win32Backend::State* g_state = nullptr;

void Win32Backend::StateDeleter::operator()(State* s) const {
    delete s;
}

// ---- Texts ----------------------------------------------------------------------------------

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

std::wstring WindowTextOf(HWND hwnd) {
    int length = GetWindowTextLengthW(hwnd);
    std::wstring text(size_t(std::max(length, 0)) + 1, L'\0');
    int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(size_t(std::max(got, 0)));
    return text;
}

// ---- Start-up and shut-down -----------------------------------------------------------------

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
    if (!RegisterWindowClasses(s.instance)) return false;
    g_state = &s;
    s.started = true;
    return true;
}

void Win32Backend::Shutdown() {
    State& s = *state_;
    if (!s.started) return;
    while (!s.controls.empty()) DestroyControl(H(s.controls.begin()->first));
    while (!s.windows.empty()) DestroyWindow(H(s.windows.begin()->first));
    FreeControlFonts();
    UnregisterWindowClasses(s.instance);
    if (s.comStarted) CoUninitialize();
    s.comStarted = false;
    std::fill(std::begin(s.pressed), std::end(s.pressed), false);
    g_state = nullptr;
    s.started = false;
}

// ---- The native wait ------------------------------------------------------------------------

namespace {

bool InFront() {
    DWORD process = 0;
    GetWindowThreadProcessId(GetForegroundWindow(), &process);
    return process == GetCurrentProcessId();
}

} // namespace

int32_t Win32Backend::WaitNative() {
    State& s = *state_;
    MSG msg{};
    BOOL got = 0;
    // Raw key input only wakes the loop for keys pressed while another application is in front.
    // In front, each key's own message follows, and a menu or dialog takes it first: raw input
    // comes ahead of it in the queue and must not let the loop see the key before them.
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0 && msg.message == WM_INPUT && InFront())
        DispatchMessageW(&msg);
    if (got == -1) return NativeMessageBase;
    if (got == 0) {
        PostQuitMessage(int(msg.wParam)); // whoever loops next sees it too
        return NativeMessageBase + WM_QUIT;
    }
    // The active window's shortcut table (Tab, Shift+Tab) sees the message first.
    HWND active = GetActiveWindow();
    WindowRec* w = s.Window(active);
    if (w == nullptr || w->shortcuts == nullptr ||
        !TranslateAcceleratorW(active, w->shortcuts, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return NativeMessageBase + int32_t(msg.message & 0xFFFF);
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
