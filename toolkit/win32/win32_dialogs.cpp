// Modal dialogs of the Win32 backend: the common file dialogs, the message box and the one-line
// text dialog, each between the two steps of a modal bracket. None changes the process's current
// directory.
#include "toolkit/win32/win32_backend_impl.h" // windows.h first: commdlg.h builds on it

#include <commdlg.h>

#include <algorithm>
#include <cstring>

namespace tk::win32 {

// ---- The modal bracket ----------------------------------------------------------------------

ModalBracket::ModalBracket(HWND owner) : foreground_(owner) {
    EnumThreadWindows(GetCurrentThreadId(), &ModalBracket::Visit, reinterpret_cast<LPARAM>(this));
    for (const Entry& entry : entries_)
        if (entry.topmost)
            SetWindowPos(entry.window, HWND_NOTOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

BOOL CALLBACK ModalBracket::Visit(HWND window, LPARAM data) {
    auto* bracket = reinterpret_cast<ModalBracket*>(data);
    if (!IsWindowVisible(window)) return TRUE;
    Entry entry{window, (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, false};
    // The owner stays enabled here: the dialog itself disables it.
    if (window != bracket->foreground_ && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        entry.disabled = true;
    }
    bracket->entries_.push_back(entry);
    return TRUE;
}

ModalBracket::~ModalBracket() {
    for (const Entry& entry : entries_) {
        if (!IsWindow(entry.window)) continue;
        if (entry.disabled) EnableWindow(entry.window, TRUE);
        if (entry.topmost)
            SetWindowPos(entry.window, HWND_TOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

HWND Win32Backend::DialogOwner() {
    HWND foreground = GetForegroundWindow();
    DWORD process = 0;
    if (foreground == nullptr) return nullptr;
    GetWindowThreadProcessId(foreground, &process);
    return process == GetCurrentProcessId() ? foreground : nullptr;
}

// ---- File dialogs ---------------------------------------------------------------------------

namespace {

// The longest path the dialogs hand back, in UTF-16 units with the terminating zero.
constexpr DWORD kPathRoom = 32768;

std::wstring NativeSeparators(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

} // namespace

FileDialogAnswer Win32Backend::RunFileDialog(const FileDialogRequest& request) {
    // Name and filter strings, each ended by a zero, the list ended by an empty string. A pair
    // without a filter lists every file.
    std::wstring filters;
    for (const auto& [name, filter] : request.patterns) {
        filters += Wide(name);
        filters += L'\0';
        filters += filter.empty() ? std::wstring(L"*.*") : Wide(filter);
        filters += L'\0';
    }
    filters += L'\0';
    std::wstring path(kPathRoom, L'\0');
    const std::wstring name = Wide(request.initialName);
    std::copy_n(name.begin(), std::min<size_t>(name.size(), kPathRoom - 1), path.begin());
    const std::wstring folder = NativeSeparators(Wide(request.initialFolder));
    const std::wstring title = Wide(request.title);

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = DialogOwner();
    dialog.lpstrFilter = request.patterns.empty() ? nullptr : filters.c_str();
    dialog.nFilterIndex = DWORD(request.patternIndex + 1); // the dialog counts pairs from 1
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = kPathRoom;
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;

    BOOL chosen = FALSE;
    {
        ModalBracket bracket(dialog.hwndOwner);
        chosen = request.save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    }
    FileDialogAnswer answer;
    if (!chosen) return answer;
    answer.path = Utf8(path.c_str());
    answer.patternIndex = std::max(0, int(dialog.nFilterIndex) - 1);
    return answer;
}

// ---- Message box ----------------------------------------------------------------------------

int Win32Backend::RunMessageBox(const Text& title, const Text& text, int flags) {
    HWND owner = DialogOwner();
    int result = 0;
    {
        ModalBracket bracket(owner);
        result = MessageBoxW(owner, Wide(text).c_str(), Wide(title).c_str(), UINT(flags));
    }
    // A box without a Cancel button that was closed anyway (Escape, the close box) answers with
    // the button that stands for closing it.
    if (result == IDCANCEL) {
        switch (flags & 0xF) {
        case MB_OK:
            return IDOK;
        case MB_YESNO:
            return IDNO;
        default:
            break;
        }
    }
    return result;
}

// ---- One-line text dialog -------------------------------------------------------------------

namespace {

constexpr WORD kPromptId = 0;
constexpr WORD kEntryId = 10;
constexpr WORD kOkId = 1000;
constexpr WORD kCancelId = 1001;

struct TextDialog {
    std::wstring prompt;
    std::wstring text;
    HWND owner = nullptr;
    bool ownerDisabled = false;
    bool done = false;
    bool ok = false;
};

// A dialog template in memory: the window and three items, each item on a 4-byte boundary,
// strings in UTF-16. Positions here are placeholders; the dialog sets pixels itself.
class TemplateWriter {
  public:
    void Word(WORD value) { bytes_.insert(bytes_.end(), {BYTE(value & 0xFF), BYTE(value >> 8)}); }
    void Dword(DWORD value) {
        Word(WORD(value & 0xFFFF));
        Word(WORD(value >> 16));
    }
    void String(const wchar_t* text) {
        for (; *text != 0; ++text) Word(WORD(*text));
        Word(0);
    }
    void Align() {
        while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    }
    void Item(DWORD style, DWORD exStyle, WORD id, WORD atom, const wchar_t* text) {
        Align();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(exStyle);
        for (int i = 0; i < 4; ++i) Word(0); // x, y, cx, cy
        Word(id);
        Word(0xFFFF);
        Word(atom); // a predefined class
        String(text);
        Word(0); // no creation data
    }
    const DLGTEMPLATE* Template() {
        Align();
        return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data());
    }

  private:
    std::vector<BYTE> bytes_;
};

void CloseTextDialog(HWND dialog, TextDialog* state, bool ok) {
    if (ok) state->text = WindowTextOf(GetDlgItem(dialog, kEntryId));
    state->ok = ok;
    state->done = true;
    // The owner takes input again before the dialog goes, so that it gets the activation.
    if (state->ownerDisabled) EnableWindow(state->owner, TRUE);
    state->ownerDisabled = false;
    DestroyWindow(dialog);
}

INT_PTR CALLBACK TextDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TextDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<TextDialog*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        // Sizes in logical pixels, scaled to the dialog's DPI.
        const int dpi = DpiOf(dialog);
        const int width = Px(300, dpi), height = Px(130, dpi);
        SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                     (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        struct Place {
            WORD id;
            int x, y, width, height;
        };
        for (const Place& p : {Place{kPromptId, 10, 10, 280, 22}, Place{kEntryId, 10, 32, 275, 21},
                               Place{kOkId, 110, 67, 80, 25}}) {
            HWND item = GetDlgItem(dialog, p.id);
            const RECT r = DeviceRect(p.x, p.y, p.width, p.height, dpi);
            MoveWindow(item, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
            UseControlFont(item, dpi);
        }
        SetDlgItemTextW(dialog, kPromptId, state->prompt.c_str());
        HWND entry = GetDlgItem(dialog, kEntryId);
        SetWindowTextW(entry, state->text.c_str());
        // The caret after the default text with nothing selected: typing appends to it.
        const auto end = WPARAM(state->text.size());
        SendMessageW(entry, EM_SETSEL, end, LPARAM(end));
        SetFocus(entry);
        return FALSE; // the focus is set
    }
    case WM_COMMAND:
        if (state == nullptr) return FALSE;
        switch (LOWORD(wParam)) {
        case kOkId:
        case IDOK:
            CloseTextDialog(dialog, state, true);
            return TRUE;
        case kCancelId:
        case IDCANCEL:
            CloseTextDialog(dialog, state, false);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        if (state != nullptr) CloseTextDialog(dialog, state, false);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

std::pair<bool, Text> Win32Backend::RunTextDialog(const Text& title, const Text& prompt,
                                                  const Text& defaultText) {
    TextDialog state;
    state.prompt = Wide(prompt);
    state.text = Wide(defaultText);
    state.owner = DialogOwner();
    const std::wstring caption = Wide(title);

    TemplateWriter writer;
    writer.Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU);
    writer.Dword(0);
    writer.Word(3);                             // items
    for (int i = 0; i < 4; ++i) writer.Word(0); // x, y, cx, cy
    writer.Word(0);                             // no menu
    writer.Word(0);                             // the dialog class
    writer.String(caption.c_str());
    writer.Item(SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, kPromptId, 0x0082, L"");
    writer.Item(WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, kEntryId, 0x0081, L"");
    writer.Item(WS_TABSTOP | BS_DEFPUSHBUTTON, 0, kOkId, 0x0080, L"OK");

    ModalBracket bracket(state.owner);
    if (state.owner != nullptr && IsWindowEnabled(state.owner)) {
        EnableWindow(state.owner, FALSE);
        state.ownerDisabled = true;
    }
    HWND dialog =
        CreateDialogIndirectParamW(GetModuleHandleW(nullptr), writer.Template(), state.owner,
                                   TextDialogProc, reinterpret_cast<LPARAM>(&state));
    if (dialog == nullptr) {
        if (state.ownerDisabled) EnableWindow(state.owner, TRUE);
        return {false, Text()};
    }
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    BringWindowToTop(dialog);

    ACCEL keys[] = {{FVIRTKEY, VK_RETURN, kOkId}, {FVIRTKEY, VK_ESCAPE, kCancelId}};
    HACCEL shortcuts = CreateAcceleratorTableW(keys, 2);
    MSG msg{};
    while (!state.done) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(int(msg.wParam)); // for the loop outside
            break;
        }
        if (got == -1) break;
        if (shortcuts != nullptr && TranslateAcceleratorW(dialog, shortcuts, &msg)) continue;
        if (IsDialogMessageW(dialog, &msg)) continue; // Tab between the entry and the button
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (shortcuts != nullptr) DestroyAcceleratorTable(shortcuts);
    if (!state.done) {
        if (state.ownerDisabled) EnableWindow(state.owner, TRUE);
        ::DestroyWindow(dialog);
    }
    if (!state.ok) return {false, Text()};
    return {true, Utf8(state.text)};
}

} // namespace tk::win32
