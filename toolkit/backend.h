// The seam between the toolkit core and a windowing system.
//
// The core owns every behaviour the program can observe: object tables, the logical state of
// every control, the event queue, bindings, event data, pictures. A backend is thin: it creates
// native objects and mirrors the core's state into them, reports what the person did through
// the notify:: procedures below, blocks for one native message, runs modal dialogs, answers the
// global key state and shows a canvas picture at once. It never decides behaviour: clamping,
// posting and click decisions all happen in the core, so every backend gives the same events
// for the same gesture.
//
// Handles are opaque nonzero values chosen by the backend; 0 means failure.
// Coordinates are pixels of the window's inner area (below the menu bar), origin top-left.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "toolkit/drawing.h"
#include "toolkit/requesters.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"

namespace tk {

// What the core tells a backend about a control when it is created or changed.
struct ControlView {
    int number = 0;
    int window = 0;
    int kind = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int flags = 0;
    Text text;         // label, check box, button, text field, spin box text part
    int32_t state = 0; // scroll position, check 1/0/-1, spin position
    int32_t minimum = 0, maximum = 0, pageLength = 0;
    bool enabled = true;
    int32_t caret = -1;               // text caret in characters; -1 = leave it
    const Picture* picture = nullptr; // canvas backing picture
};

struct MenuItemView {
    int identifier = 0; // 0 for titles and separators
    Text text;
    bool separator = false;
    bool disabled = false;
    std::vector<MenuItemView> children; // a title's drop-down
    bool isTitle = false;
    Accelerator accelerator; // keyCode 0: none
    bool radio = false;      // shows a radio mark when checked
    bool checked = false;
};

class Backend {
  public:
    virtual ~Backend() = default;

    // Start and stop the windowing system. Init returns false when it cannot start.
    virtual bool Init() = 0;
    virtual void Shutdown() = 0;

    // A top-level window with the given inner size; flags as in window.h. 0 on failure.
    virtual intptr_t CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                                  const Text& title, uint32_t flags) = 0;
    virtual void SetWindowTitle(intptr_t window, const Text& title) = 0;
    virtual void DestroyWindow(intptr_t window) = 0;
    // The inner size now, in the units of CreateWindow: below the menu bar, the status bar
    // included. False when the backend keeps no size (the core then takes the size created).
    virtual bool InnerSize(intptr_t window, int& width, int& height) = 0;
    // Brings a window that is already open to the front, restored, with the keyboard focus.
    virtual void ActivateWindow(intptr_t window) = 0;

    // The whole menu bar of a window, rebuilt from the core's model whenever it changes
    // (titles, items, separators, items standing on the bar itself, greyed items, radio items
    // and their marks), with each item's accelerator: the key chooses the item
    // (notify::MenuChosen) while the window has the focus, and the item shows the key's name
    // beside its text. Choosing a radio item changes no mark: only SetMenuItemChecked does.
    virtual bool SetMenuBar(intptr_t window, const std::vector<MenuItemView>& bar) = 0;
    virtual void SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) = 0;
    virtual void SetMenuItemChecked(intptr_t window, int identifier, bool checked) = 0;

    // A status bar along the bottom of the window with fields of these pixel widths.
    virtual intptr_t CreateStatusBar(intptr_t window) = 0;
    virtual void SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) = 0;
    virtual void SetStatusText(intptr_t statusBar, int field, const Text& text) = 0;
    virtual int32_t StatusBarWidth(intptr_t statusBar) = 0;

    // Controls: create the native widget for the view, update it to a changed view (state,
    // range, text, caret, enabled, place and size), destroy it, give it the keyboard focus.
    virtual intptr_t CreateControl(intptr_t window, const ControlView& view) = 0;
    virtual void UpdateControl(intptr_t control, const ControlView& view) = 0;
    virtual void DestroyControl(intptr_t control) = 0;
    virtual void FocusControl(intptr_t control) = 0;

    // Show a canvas's picture on screen now (not at the next paint request).
    virtual void ShowCanvas(intptr_t control, const Picture& picture) = 0;

    // Accept dropped file lists with these actions (0: accept nothing).
    virtual void EnableFileDrop(intptr_t window, int actions) = 0;

    // Block until one native message arrived, dispatch it (dispatching calls notify::...),
    // and return its number: NativeMessageBase (window.h) plus the backend's own number, so never
    // an event kind.
    virtual int32_t WaitNative() = 0;
    // Make the current or next WaitNative return although no native message came. Called from
    // any thread (the only such entry): it may touch nothing but thread-safe primitives.
    virtual void Wake() = 0;

    // Global key state of a virtual-key code: down now; pressed since the previous query.
    virtual bool KeyDown(int keyCode) = 0;
    virtual bool KeyPressedSinceLastQuery(int keyCode) = 0;

    // Modal dialogs over the program's windows.
    virtual FileDialogAnswer RunFileDialog(const FileDialogRequest& request) = 0;
    virtual int RunMessageBox(const Text& title, const Text& text, int flags) = 0;
    // The text dialog: the entry holds defaultText with the caret after it; OK/Enter returns
    // {true, text}, Escape or the close box {false, ""}.
    virtual std::pair<bool, Text> RunTextDialog(const Text& title, const Text& prompt,
                                                const Text& defaultText) = 0;
};

// What a backend reports. Each call is made while the backend dispatches a native message.
namespace notify {

enum class Scroll {
    LineUp,
    LineDown,
    PageUp,
    PageDown,
    ThumbTrack,
    ThumbPosition,
    Top,
    Bottom,
    EndScroll
};
void ScrollAction(int control, Scroll action, int32_t trackPosition);
void SpinArrow(int control, int delta);                           // +1 up, -1 down
void TextEdited(int control, const Text& newText, int32_t caret); // typed, pasted, deleted
// Whether typed text may enter a field (a digits-only field refuses non-digits).
bool AcceptsTyping(int control, const Text& typed);
void CheckClicked(int control);
void ButtonClicked(int control);
void FocusChanged(int control, bool gained);
void TabKey(int window, bool backwards);

enum class Mouse {
    Move,
    Leave,
    LeftDown,
    LeftDouble,
    LeftUp,
    RightDown,
    RightDouble,
    RightUp,
    MiddleDown,
    MiddleDouble,
    MiddleUp,
    Wheel,
    KeyDown,
    KeyUp,
    Char
};
// x, y: canvas pixels (outside the canvas while a button is held); buttons: held after the
// message (bit 0 left, bit 1 right, bit 2 middle); value: wheel delta (120 a step), key code or
// character.
void CanvasInput(int control, Mouse message, int32_t x, int32_t y, uint32_t buttons,
                 uint32_t modifiers, int32_t value);

void MenuChosen(int window, int identifier);
// One of the window's menus took the input (true) or gave it back (false); key presses meanwhile
// belong to the menu.
void MenuTracking(int window, bool tracking);
void CloseRequested(int window);
void Activated(int window, bool active);
enum class SizeChange { Minimized, Maximized, Restored, Resized };
void SizeChanged(int window, SizeChange change);
void Moved(int window);
void BackgroundErased(int window);
void WindowClick(int window, int32_t kind); // WindowLeftClick, WindowRightClick, ...

// A drag over the window: the effect to offer (0 none) for the source's allowed actions and the
// modifier keys (bit 0 Shift, bit 1 Alt, bit 2 Ctrl).
int DropEffect(int window, int allowedActions, uint32_t modifiers);
// The drop itself; returns the effect taken (0: refused, nothing posted).
int FilesDropped(int window, const std::vector<Text>& paths, int allowedActions, uint32_t modifiers,
                 int32_t x, int32_t y);

} // namespace notify

} // namespace tk
