// Windows, menus, the status bar, file drop and the one event queue.
//
// Objects live in numbered tables chosen by the caller; creating under a used number destroys
// the old object first; an operation on a number with no object does nothing and returns 0.
#pragma once

#include <cstdint>

#include "toolkit/runtime.h"

namespace tk {

class Backend;

// ---- Event kinds ----------------------------------------------------------------------------
// WaitForEvent gives an event kind, or, when it dispatched a native message instead, a number at
// or above NativeMessageBase; every event kind lies below it.
constexpr int32_t NativeMessageBase = 0x10000;

constexpr int32_t ControlEvent = 0x332C;
constexpr int32_t MenuEvent = 0x332D;
constexpr int32_t ActivateEvent = 0x3330;
constexpr int32_t DropEvent = 0x3331;
constexpr int32_t MinimizeEvent = 0x3333;
constexpr int32_t MaximizeEvent = 0x3334;
constexpr int32_t RestoreEvent = 0x3335;
constexpr int32_t WindowRightClick = 0x3337;
constexpr int32_t WindowLeftClick = 0x3338;
constexpr int32_t WindowLeftDoubleClick = 0x3339;
constexpr int32_t DeactivateEvent = 0x333A;
constexpr int32_t RepaintEvent = 0x333B;
constexpr int32_t CloseEvent = 0x333C;
constexpr int32_t MoveEvent = 0x333D;
constexpr int32_t SizeEvent = 0x333E;

constexpr int32_t AnyValue = -1; // wildcard in binding keys

// Window flags.
constexpr uint32_t WindowCentreOnScreen = 0x1;
constexpr uint32_t WindowCentreOnActive = 0x2;
constexpr uint32_t WindowToolWindow = 0x4;
constexpr uint32_t WindowNoControlParent = 0x8;
constexpr uint32_t WindowMaximizeBox = 0x10000;
constexpr uint32_t WindowMinimizeBox = 0x20000;
constexpr uint32_t WindowSizingBorder = 0x40000;
constexpr uint32_t WindowSystemMenu = 0x80000;
constexpr uint32_t WindowTitleBar = 0xC00000;
constexpr uint32_t WindowStartMaximized = 0x1000000;
constexpr uint32_t WindowNoActivate = 0x2000000;
constexpr uint32_t WindowHidden = 0x10000000;
constexpr uint32_t WindowStartMinimized = 0x20000000;

constexpr int32_t StatusFillWidth = -65535; // 0xFFFF0001

// File drop formats and actions.
constexpr int FileListFormat = 15; // a list of file paths
constexpr int DropCopy = 1;
constexpr int DropMove = 2;
constexpr int DropLink = 4;

// ---- Toolkit start-up and shut-down ---------------------------------------------------------
// Starts the toolkit on a backend (which the caller keeps alive until ReleaseToolkit).
int InitToolkit(Backend* backend);
void ReleaseToolkit();
Backend* CurrentBackend();

// ---- Windows --------------------------------------------------------------------------------
intptr_t CreateMainWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const Text& title, uint32_t flags);
intptr_t WindowHandle(int number);
int SetMainWindowTitle(int number, const Text& title);
Text MainWindowTitle(int number);
void CloseWindow(int number);
// The window's inner size now (a window with a sizing border follows the person), as
// CreateMainWindow counts it: below the menu bar, the status bar included. 1, or 0 for no window.
int GetWindowInnerSize(int number, int32_t* width, int32_t* height);
// Brings an open window to the front with the keyboard focus: 1, or 0 for no window.
int ActivateWindow(int number);

// ---- Menus ----------------------------------------------------------------------------------
// A menu accelerator: a key (virtual-key code) with modifiers (bit 0 Shift, bit 1 Alt, bit 2
// Ctrl) that chooses its item while the item's window has the keyboard focus, as a click on the
// item would (a greyed item ignores it). The item shows the key beside its text.
constexpr uint32_t AccelShift = 1;
constexpr uint32_t AccelAlt = 2;
constexpr uint32_t AccelCtrl = 4;
struct Accelerator {
    int32_t keyCode = 0; // 0: none
    uint32_t modifiers = 0;
    bool operator==(const Accelerator&) const = default;
};

// A radio item shows a mark when checked, as one of a group of choices does; the program sets
// the marks (choosing an item changes none by itself).
constexpr uint32_t MenuItemRadio = 1;

intptr_t CreateMenuBar(int number, intptr_t windowHandle);
int AddMenuTitle(const Text& text);
int AddMenuItem(int identifier, const Text& text, Accelerator accelerator = {}, uint32_t flags = 0);
int AddMenuSeparator();
int CloseSubmenu();
int SetMenuItemDisabled(int menuNumber, int identifier, int state);
int MenuItemDisabled(int menuNumber, int identifier); // 1 greyed, 0 enabled or missing
// The mark of a radio item: state 1 checked, 0 not; 0 (nothing done) for other items.
int SetMenuItemChecked(int menuNumber, int identifier, int state);
int MenuItemChecked(int menuNumber, int identifier); // 1 checked, 0 not, or not a radio item

// ---- Status bar -----------------------------------------------------------------------------
intptr_t CreateStatusBar(int number, intptr_t windowHandle);
int AddStatusField(int32_t width);
int SetStatusText(int number, int field, const Text& text);
Text StatusText(int number, int field);
int32_t StatusFieldWidth(int number, int field); // laid-out width in pixels

// ---- File drop ------------------------------------------------------------------------------
int EnableFileDrop(int windowNumber, int format, int actions);
Text DroppedFiles();
// One dropped path, counted from 0, exactly as dropped (a line feed inside a file name stays);
// empty text outside a file drop or past the last path.
Text DroppedFile(int index);

struct DropData {
    int32_t format = 0;
    int32_t action = 0;
    int32_t x = 0;
    int32_t y = 0;
    Text bytes; // the dropped paths, each ended by a zero byte
    int32_t byteCount = 0;
};

// ---- Events ---------------------------------------------------------------------------------
using EventProc = void (*)();
using ReleaseProc = void (*)(void* data);

void PostEvent(int32_t kind, int32_t source, int32_t window, int32_t subKind, void* data,
               ReleaseProc releaseData);
int32_t WaitForEvent();
// Makes a WaitForEvent that blocks (now or next) return, with a native message number. The one
// toolkit procedure that may be called from any thread: a worker thread calls it when it has
// news for the event loop, and must have ended before ReleaseToolkit. Calls may merge into one
// wake-up.
void WakeEventLoop();
int32_t EventControl();
int32_t EventMenuItem();
int32_t EventKind(); // the sub-kind of the current event
int32_t EventWindow();
const void* EventData();

void BindEvent(int32_t kind, int32_t window, int32_t source, int32_t subKind, EventProc proc);
void BindControlCallback(int control, EventProc proc);

void SuspendEvents();
void ResumeEvents();

// Inspection, for tests and invariants.
int QueuedEventCount();
struct QueuedEvent {
    int32_t kind, source, window, subKind;
};
QueuedEvent QueuedEventAt(int index);

} // namespace tk
