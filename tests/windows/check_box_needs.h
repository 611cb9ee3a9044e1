// The Windows tests' measure of a check box: what its box and its text need at least, at a DPI,
// in a font.
#pragma once

#include <windows.h>

#include <cwchar>

inline long CheckBoxNeeds(const wchar_t* text, HFONT font, UINT dpi) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ before = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text, int(std::wcslen(text)), &extent);
    SelectObject(dc, before);
    DeleteDC(dc);
    return GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi) + extent.cx;
}
