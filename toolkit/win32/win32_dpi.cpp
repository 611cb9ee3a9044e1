// The Win32 backend's view of the screen's dots per inch: which DPI a window is shown at, window
// frames and the check box glyph at a DPI, and the system's message font at a DPI. The calls that
// take a DPI of their own come from user32 at run time, so that the program still starts where
// they are missing; there the system's one DPI serves, and sizes the system gives for it are
// scaled.
#include "toolkit/win32/win32_backend_impl.h" // windows.h first: the others build on it

namespace tk::win32 {

namespace {

// user32's calls that know about more than one DPI (Windows 10 version 1607 and later).
struct PerMonitorCalls {
    UINT(WINAPI* dpiForWindow)(HWND) = nullptr;
    UINT(WINAPI* dpiForSystem)() = nullptr;
    BOOL(WINAPI* adjustWindowRect)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;
    int(WINAPI* systemMetrics)(int, UINT) = nullptr;
    BOOL(WINAPI* parametersInfo)(UINT, UINT, void*, UINT, UINT) = nullptr;

    PerMonitorCalls() {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        if (user32 == nullptr) return;
        Load(user32, "GetDpiForWindow", dpiForWindow);
        Load(user32, "GetDpiForSystem", dpiForSystem);
        Load(user32, "AdjustWindowRectExForDpi", adjustWindowRect);
        Load(user32, "GetSystemMetricsForDpi", systemMetrics);
        Load(user32, "SystemParametersInfoForDpi", parametersInfo);
    }
    template <typename Call> static void Load(HMODULE module, const char* name, Call& call) {
        // Through the one function type that converts to every other without a warning.
        call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    }
};

const PerMonitorCalls& Calls() {
    static const PerMonitorCalls calls;
    return calls;
}

} // namespace

int SystemDpi() {
    if (Calls().dpiForSystem != nullptr) return int(Calls().dpiForSystem());
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int found = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen != nullptr) ReleaseDC(nullptr, screen);
        return found > 0 ? found : 96;
    }();
    return dpi;
}

int DpiOf(HWND hwnd) {
    const UINT dpi = Calls().dpiForWindow != nullptr ? Calls().dpiForWindow(hwnd) : 0;
    return dpi > 0 ? int(dpi) : SystemDpi();
}

void AdjustForDpi(RECT* inner, DWORD style, DWORD exStyle, int dpi) {
    if (Calls().adjustWindowRect != nullptr &&
        Calls().adjustWindowRect(inner, style, FALSE, exStyle, UINT(dpi)))
        return;
    AdjustWindowRectEx(inner, style, FALSE, exStyle);
}

int CheckGlyphWidth(int dpi) {
    if (Calls().systemMetrics != nullptr) return Calls().systemMetrics(SM_CXMENUCHECK, UINT(dpi));
    return MulDiv(GetSystemMetrics(SM_CXMENUCHECK), dpi, SystemDpi());
}

HFONT MessageFontFor(int dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    bool got =
        Calls().parametersInfo != nullptr &&
        Calls().parametersInfo(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, UINT(dpi));
    if (!got) {
        got = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, SystemDpi());
    }
    return got ? CreateFontIndirectW(&metrics.lfMessageFont) : nullptr;
}

} // namespace tk::win32
