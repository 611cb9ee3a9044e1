// The Win32 backend's canvas: a window of its own class that shows the core's picture from a
// DIB section (the picture's layout: 24-bit, bottom-up, rows padded to 4 bytes) and reports the
// pointer, the wheel and, for a keyboard canvas, the keys. On a screen of more than 96 dpi each
// canvas pixel is a square of CanvasFactor device pixels, and the pointer is reported in canvas
// pixels, the same as at 96 dpi.
//
// Sections: the picture; the canvas's factory; what it reports; its window procedure.
#include "toolkit/win32/win32_backend_impl.h" // windows.h first: the others build on it

#include <windowsx.h>

#include <algorithm>
#include <cstring>

#include "toolkit/controls.h"

namespace tk::win32 {

namespace {

// ---- The picture ----------------------------------------------------------------------------

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
        const int factor = CanvasFactor(rec->dpi);
        width = rec->dibWidth * factor;
        height = rec->dibHeight * factor;
        if (factor == 1) {
            BitBlt(dc, 0, 0, width, height, rec->memory, 0, 0, SRCCOPY);
        } else {
            // Each pixel repeated, never blended with its neighbours.
            const int mode = SetStretchBltMode(dc, COLORONCOLOR);
            StretchBlt(dc, 0, 0, width, height, rec->memory, 0, 0, rec->dibWidth, rec->dibHeight,
                       SRCCOPY);
            SetStretchBltMode(dc, mode);
        }
    }
    // Whatever the picture does not cover is white.
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RECT right{width, 0, inner.right, inner.bottom};
    RECT below{0, height, std::min<LONG>(width, inner.right), inner.bottom};
    if (right.left < right.right) FillRect(dc, &right, white);
    if (below.top < below.bottom) FillRect(dc, &below, white);
}

} // namespace

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

// ---- The canvas's factory -------------------------------------------------------------------

HWND MakeCanvas(const ChildMaker& make, const ControlView& view, ControlRec* rec) {
    DWORD style = (view.flags & CanvasKeyboard) ? WS_TABSTOP | WS_GROUP : 0;
    DWORD exStyle = (view.flags & CanvasSunken) ? WS_EX_CLIENTEDGE : 0;
    HWND canvas = make(exStyle, kCanvasClass, nullptr, style, view.x, view.width);
    if (canvas == nullptr) return nullptr;
    rec->handle = canvas;
    if (view.picture != nullptr) CopyPicture(rec, *view.picture);
    if (rec->dib == nullptr) {
        RECT inner{};
        GetClientRect(canvas, &inner);
        const int factor = CanvasFactor(rec->dpi);
        if (!MakeCanvasBitmap(rec, std::max<LONG>(inner.right / factor, 1),
                              std::max<LONG>(inner.bottom / factor, 1))) {
            ::DestroyWindow(canvas);
            FreeCanvasBitmap(rec);
            return nullptr;
        }
    }
    return canvas;
}

// ---- What the canvas reports ----------------------------------------------------------------

namespace {

// Left, right and middle button held, as bits 0, 1 and 2.
uint32_t HeldButtons() {
    return HeldKeys({VK_LBUTTON, VK_RBUTTON, VK_MBUTTON});
}

// A point on the screen in the canvas's pixels (a point left of or above the canvas is
// negative, however near).
POINT CanvasPoint(const ControlRec* rec, POINT screen) {
    ScreenToClient(rec->handle, &screen);
    const int factor = CanvasFactor(rec->dpi);
    return POINT{FloorDiv(screen.x, factor), FloorDiv(screen.y, factor)};
}

// The pointer where the message being handled was generated, in the canvas's pixels.
POINT MessagePoint(const ControlRec* rec) {
    DWORD position = GetMessagePos();
    return CanvasPoint(rec, POINT{GET_X_LPARAM(position), GET_Y_LPARAM(position)});
}

void ReportCanvasMouse(ControlRec* rec, notify::Mouse message) {
    const POINT point = MessagePoint(rec);
    notify::CanvasInput(rec->number, message, point.x, point.y, HeldButtons(), HeldModifiers(), 0);
}

void WatchLeave(HWND hwnd) {
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
    TrackMouseEvent(&track);
}

} // namespace

// The wheel message goes to the window with the focus; it is the canvas's under the pointer.
void ReportWheel(WPARAM wParam, LPARAM lParam) {
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    HWND under = WindowFromPoint(point);
    ControlRec* rec = under != nullptr ? g_state->Live(under) : nullptr;
    if (rec == nullptr || rec->kind != KindCanvas) return;
    point = CanvasPoint(rec, point);
    notify::CanvasInput(rec->number, notify::Mouse::Wheel, point.x, point.y, HeldButtons(),
                        HeldModifiers(), GET_WHEEL_DELTA_WPARAM(wParam));
}

// ---- The window procedure -------------------------------------------------------------------

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
        const POINT point = MessagePoint(rec);
        const int number = rec->number;
        bool outside = false;
        if (HeldButtons() == 0 && GetCapture() == hwnd) {
            DWORD position = GetMessagePos();
            POINT client{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
            ScreenToClient(hwnd, &client);
            RECT inner{};
            GetClientRect(hwnd, &inner);
            outside = !PtInRect(&inner, client);
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
        ReportWheel(wParam, lParam);
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

} // namespace tk::win32
