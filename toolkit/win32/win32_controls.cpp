// The Win32 backend's standard controls: one factory per control kind, updates from the core,
// and what the controls report (clicks, typing, scroll actions, the spin box's arrows). The
// canvas's own window procedure and picture are in win32_canvas.cpp.
//
// Sections: texts and carets; factories; create, update, destroy; reports; the subclass
// procedure.
#include "toolkit/win32/win32_backend_impl.h" // windows.h first: the others build on it

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "toolkit/controls.h"

namespace tk::win32 {

namespace {

constexpr UINT_PTR kSubclassId = 1;

LRESULT CALLBACK ControlSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                 DWORD_PTR data);

// ---- Texts and carets -----------------------------------------------------------------------

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

void SetEditText(ControlRec* rec, const ControlView& view) {
    std::wstring text = Wide(view.text);
    if (text != WindowTextOf(rec->handle)) SetWindowTextW(rec->handle, text.c_str());
    if (view.caret >= 0) {
        const WPARAM at = UnitsFor(text, view.caret);
        SendMessageW(rec->handle, EM_SETSEL, at, LPARAM(at));
    }
}

// ---- Mirroring the core's state -------------------------------------------------------------

void ConfigureScrollBar(HWND bar, const ControlView& view) {
    // The scroll bar keeps positions within minimum .. maximum - max(page - 1, 0) itself, which
    // is the core's rule too.
    SCROLLINFO info{sizeof info,
                    SIF_RANGE | SIF_PAGE | SIF_POS,
                    view.minimum,
                    view.maximum,
                    UINT(std::max<int32_t>(view.pageLength, 0)),
                    view.state,
                    0};
    SetScrollInfo(bar, SB_CTL, &info, TRUE);
}

void SetCheck(HWND check, int32_t state) {
    WPARAM mark = state == 0 ? BST_UNCHECKED : state == -1 ? BST_INDETERMINATE : BST_CHECKED;
    SendMessageW(check, BM_SETCHECK, mark, 0);
}

void ConfigureArrows(ControlRec* rec, const ControlView& view) {
    SendMessageW(rec->arrows, UDM_SETRANGE32, WPARAM(view.minimum), LPARAM(view.maximum));
    SendMessageW(rec->arrows, UDM_SETPOS32, 0, LPARAM(view.state));
}

// Both native windows of a control (a spin box has two) take input or not.
void EnableNative(const ControlRec* rec, bool enabled) {
    EnableWindow(rec->handle, enabled);
    if (rec->arrows != nullptr) EnableWindow(rec->arrows, enabled);
}

// ---- Factories ------------------------------------------------------------------------------
// Each makes the native window(s) of one kind for the view and returns the one the core holds
// (nullptr on failure, with nothing left behind). A spin box keeps its arrow part in rec.

HWND MakeScrollBar(const ChildMaker& make, const ControlView& view, ControlRec*) {
    HWND bar = make(0, L"SCROLLBAR", nullptr, (view.flags & ScrollVertical) ? SBS_VERT : SBS_HORZ,
                    view.x, view.width);
    if (bar != nullptr) ConfigureScrollBar(bar, view);
    return bar;
}

HWND MakeCheckBox(const ChildMaker& make, const ControlView& view, ControlRec*) {
    // A three-state box that the program checks: the core decides what a click does.
    HWND check = make(0, L"BUTTON", Wide(view.text).c_str(), BS_3STATE | WS_TABSTOP | WS_GROUP,
                      view.x, view.width);
    if (check != nullptr) SetCheck(check, view.state);
    return check;
}

HWND MakeLabel(const ChildMaker& make, const ControlView& view, ControlRec*) {
    const int align = view.flags & 3;
    DWORD style = SS_NOPREFIX | WS_GROUP |
                  (align == LabelRight     ? SS_RIGHT
                   : align == LabelCentred ? SS_CENTER
                                           : SS_LEFT);
    if (view.flags & LabelSunken) style |= SS_SUNKEN;
    return make(0, L"STATIC", Wide(view.text).c_str(), style, view.x, view.width);
}

// A spin box is a text part and an up-down arrow part beside it; they overlap by a pixel, as the
// up-down control expects. Their left edges and widths in logical pixels:
struct SpinParts {
    int textX, textWidth, arrowsX, arrowsWidth;
};
SpinParts SpinPartsOf(const ControlView& view) {
    const int arrowWidth = SpinArrowWidth(view.height);
    return {view.x, std::max(1, view.width - arrowWidth + 1), view.x + view.width - arrowWidth,
            arrowWidth};
}

HWND MakeSpinBox(const ChildMaker& make, const ControlView& view, ControlRec* rec) {
    const SpinParts parts = SpinPartsOf(view);
    DWORD style = ES_RIGHT | ES_AUTOHSCROLL | WS_TABSTOP;
    if (view.flags & SpinReadOnly) style |= ES_READONLY;
    HWND text = make(WS_EX_CLIENTEDGE, L"EDIT", Wide(view.text).c_str(), style, parts.textX,
                     parts.textWidth);
    if (text == nullptr) return nullptr;
    rec->arrows = make(0, UPDOWN_CLASSW, nullptr, UDS_ARROWKEYS | UDS_NOTHOUSANDS, parts.arrowsX,
                       parts.arrowsWidth);
    if (rec->arrows == nullptr) {
        ::DestroyWindow(text);
        return nullptr;
    }
    SendMessageW(rec->arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(text), 0);
    UDACCEL step{0, 1}; // one step per report, however long an arrow is held
    SendMessageW(rec->arrows, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
    ConfigureArrows(rec, view);
    return text;
}

HWND MakeTextField(const ChildMaker& make, const ControlView& view, ControlRec*) {
    // Other flag bits are edit styles (ES_NUMBER among them).
    DWORD style = (DWORD(view.flags) & 0xFFFF) | ES_AUTOHSCROLL | WS_TABSTOP;
    DWORD exStyle = (view.flags & TextNoBorder) ? 0 : WS_EX_CLIENTEDGE;
    return make(exStyle, L"EDIT", Wide(view.text).c_str(), style, view.x, view.width);
}

HWND MakeButton(const ChildMaker& make, const ControlView& view, ControlRec*) {
    return make(0, L"BUTTON", Wide(view.text).c_str(), BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP,
                view.x, view.width);
}

using Factory = HWND (*)(const ChildMaker&, const ControlView&, ControlRec*);

struct KindFactory {
    int kind;
    Factory make;
};

constexpr KindFactory kFactories[] = {
    {KindScrollBar, MakeScrollBar}, {KindCheckBox, MakeCheckBox},   {KindLabel, MakeLabel},
    {KindSpinBox, MakeSpinBox},     {KindTextField, MakeTextField}, {KindButton, MakeButton},
    {KindCanvas, MakeCanvas},
};

Factory FactoryFor(int kind) {
    for (const KindFactory& entry : kFactories)
        if (entry.kind == kind) return entry.make;
    return nullptr;
}

// ---- Places ---------------------------------------------------------------------------------

void MoveTo(HWND hwnd, const RECT& r) {
    SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// A check box whose text does not fit its width grows to the right until it does; no other
// control moves. Child windows stack in the order they are made, the first on top, and clip
// their siblings: the check box shows over a neighbour made after it.
void FitCheckBox(ControlRec* rec) {
    const ControlView& view = rec->view;
    const RECT given = DeviceRect(view.x, view.y, view.width, view.height, rec->dpi);
    int needed = 0;
    const std::wstring text = Wide(view.text);
    HDC dc = GetDC(rec->handle);
    if (dc != nullptr) {
        HGDIOBJ before =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(rec->handle, WM_GETFONT, 0, 0)));
        SIZE extent{}, digit{};
        if (GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent) &&
            GetTextExtentPoint32W(dc, L"0", 1, &digit))
            // The box, a gap of a digit's width before the text, and the focus frame's pixel
            // on either side of it.
            needed = CheckGlyphWidth(rec->dpi) + digit.cx + extent.cx + 2;
        SelectObject(dc, before);
        ReleaseDC(rec->handle, dc);
    }
    const int width = std::max<int>(given.right - given.left, needed);
    SetWindowPos(rec->handle, nullptr, 0, 0, width, given.bottom - given.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Child windows stack in the order they are made, the first on top. A control whose place
// overlaps that of one made before it in the same window goes on top instead, as the later of two
// overlapping controls shows on GTK (a button over the blank end of a label). The places compared
// are the core's: a check box widened to its text stays over its neighbours.
void RaiseOverEarlier(const Win32Backend::State& s, const ControlRec& rec) {
    auto area = [](const ControlView& v) { return RECT{v.x, v.y, v.x + v.width, v.y + v.height}; };
    const RECT mine = area(rec.view);
    const bool overlaps = std::any_of(s.controls.begin(), s.controls.end(), [&](const auto& c) {
        RECT theirs = area(c.second->view), common{};
        return c.second->window == rec.window && IntersectRect(&common, &mine, &theirs);
    });
    if (!overlaps) return;
    for (HWND part : {rec.arrows, rec.handle}) // the text part of a spin box above its arrows
        if (part != nullptr)
            SetWindowPos(part, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

} // namespace

void PlaceControl(ControlRec* rec) {
    const ControlView& view = rec->view;
    UseControlFont(rec->handle, rec->dpi);
    if (rec->kind == KindSpinBox && rec->arrows != nullptr) {
        const SpinParts parts = SpinPartsOf(view);
        MoveTo(rec->handle,
               DeviceRect(parts.textX, view.y, parts.textWidth, view.height, rec->dpi));
        MoveTo(rec->arrows,
               DeviceRect(parts.arrowsX, view.y, parts.arrowsWidth, view.height, rec->dpi));
    } else {
        MoveTo(rec->handle, DeviceRect(view.x, view.y, view.width, view.height, rec->dpi));
    }
    if (rec->kind == KindCheckBox) FitCheckBox(rec);
    InvalidateRect(rec->handle, nullptr, TRUE);
}

// ---- Create, update, destroy ----------------------------------------------------------------

intptr_t Win32Backend::CreateControl(intptr_t window, const ControlView& view) {
    State& s = *state_;
    WindowRec* w = s.Window(W(window));
    if (w == nullptr || view.width < 0 || view.height < 0) return 0;
    const Factory factory = FactoryFor(view.kind);
    if (factory == nullptr) return 0;
    auto rec = std::make_unique<ControlRec>();
    rec->number = view.number;
    rec->window = w->number;
    rec->kind = view.kind;
    rec->flags = view.flags;
    rec->dpi = w->dpi;
    rec->Keep(view);
    Muted quiet(&s);

    const auto id = reinterpret_cast<HMENU>(static_cast<intptr_t>(view.number));
    const ChildMaker make{w->hwnd, id, s.instance, view.y, view.height, w->dpi};
    HWND handle = factory(make, view, rec.get());
    if (handle == nullptr) return 0;
    rec->handle = handle;
    // The font; and an up-down control makes itself narrow when it is made.
    PlaceControl(rec.get());
    if (view.kind != KindCanvas) SetWindowSubclass(handle, ControlSubclass, kSubclassId, 0);
    if (!view.enabled) EnableNative(rec.get(), false);
    RaiseOverEarlier(s, *rec);
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
    rec->Keep(view);
    switch (rec->kind) {
    case KindScrollBar:
        ConfigureScrollBar(rec->handle, view);
        break;
    case KindCheckBox:
    case KindButton:
    case KindLabel:
        if (view.text != before.text) SetWindowTextW(rec->handle, Wide(view.text).c_str());
        if (rec->kind == KindCheckBox && view.text != before.text) FitCheckBox(rec);
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
    if (view.enabled != before.enabled) EnableNative(rec, view.enabled);
    if (view.x != before.x || view.y != before.y || view.width != before.width ||
        view.height != before.height)
        PlaceControl(rec);
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

// ---- Reports --------------------------------------------------------------------------------

void ReportControlCommand(HWND from, WORD code) {
    ControlRec* rec = g_state->Live(from);
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
        if (code == EN_CHANGE && from == rec->handle) {
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

void ReportScroll(HWND from, WORD code) {
    ControlRec* rec = g_state->Live(from);
    if (rec == nullptr || rec->kind != KindScrollBar || g_state->muted > 0) return;
    using notify::Scroll;
    static constexpr std::pair<WORD, Scroll> kActions[] = {
        {SB_LINEUP, Scroll::LineUp},
        {SB_LINEDOWN, Scroll::LineDown},
        {SB_PAGEUP, Scroll::PageUp},
        {SB_PAGEDOWN, Scroll::PageDown},
        {SB_THUMBPOSITION, Scroll::ThumbPosition},
        {SB_THUMBTRACK, Scroll::ThumbTrack},
        {SB_TOP, Scroll::Top},
        {SB_BOTTOM, Scroll::Bottom},
        {SB_ENDSCROLL, Scroll::EndScroll},
    };
    const auto* found = std::find_if(std::begin(kActions), std::end(kActions),
                                     [code](const auto& entry) { return entry.first == code; });
    if (found == std::end(kActions)) return;
    // The message carries 16 bits of the track position; the scroll bar itself has all 32.
    SCROLLINFO info{sizeof info, SIF_TRACKPOS, 0, 0, 0, 0, 0};
    GetScrollInfo(rec->handle, SB_CTL, &info);
    notify::ScrollAction(rec->number, found->second, info.nTrackPos);
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

// ---- The subclass procedure -----------------------------------------------------------------

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

} // namespace

} // namespace tk::win32
