// The GTK 3 backend's class and the records it keeps, shared by its source files:
//   gtk_backend.cpp   start-up and shut-down, the event hook, the native wait, text for GTK
//   gtk_style.cpp     the style sheet of the program's own widgets
//   gtk_windows.cpp   windows, menus and the status bar
//   gtk_controls.cpp  the controls: one factory per kind, their signal handlers, updates
//   gtk_canvas.cpp    the canvas: its picture, painting, mouse and key input
//   gtk_keys.cpp      virtual-key codes and GDK key values, one table both ways
//   gtk_input.cpp     file drop and the global key state (XInput2 raw events on X11)
//   gtk_dialogs.cpp   file chooser, message box, the one-line text dialog
//
// Sections: handles and helpers; sizes and style; the records; the backend state; the class;
// what one source file offers the others.
//
// Every widget of a program window lives in one GtkFixed (the window's inner area) placed under
// an optional menu bar. Widgets only mirror the core's ControlView and report gestures through
// notify::; while the backend itself changes a widget, the handlers stay quiet
// (BackendState::muted) so that nothing echoes back to the core.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/backend.h"

namespace tk::gtk {

// ---- Handles and helpers --------------------------------------------------------------------

// Handles given to the core are the GtkWidget* of the native object.
inline GtkWidget* W(intptr_t handle) {
    return reinterpret_cast<GtkWidget*>(handle);
}
inline intptr_t H(GtkWidget* widget) {
    return reinterpret_cast<intptr_t>(widget);
}

// Shift, Alt and Ctrl of a GDK modifier state as bits 0, 1 and 2.
inline uint32_t ModifiersOf(guint state) {
    uint32_t modifiers = 0;
    if (state & GDK_SHIFT_MASK) modifiers |= 1;
    if (state & GDK_MOD1_MASK) modifiers |= 2;
    if (state & GDK_CONTROL_MASK) modifiers |= 4;
    return modifiers;
}

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;

// ---- Sizes and style ------------------------------------------------------------------------

// The status bar is never lower than this, whatever its fields ask for.
constexpr int kMinStatusHeight = 18;
// The border of a sunken label or canvas (frame.pm-sunken in the style sheet).
constexpr int kSunkenBorder = 2;
// A spin box's arrows are half as wide as the box is high, and never narrower than this.
constexpr int kMinSpinArrowWidth = 18;

// ---- The records ----------------------------------------------------------------------------

struct BackendState;

struct ControlRec {
    BackendState* state = nullptr;
    int number = 0;
    int window = 0; // the program's window number
    int kind = 0;
    int flags = 0;
    GtkWidget* handle = nullptr; // what the core holds (a spin box: its entry)
    GtkWidget* outer = nullptr;  // what stands in the inner area
    GtkWidget* entry = nullptr;  // text field and spin box text part
    GtkWidget* area = nullptr;   // canvas drawing area
    GtkAdjustment* adjustment = nullptr;
    ControlView view; // the core's last word (picture pointer not kept)
    SurfacePtr surface;
    bool scrollPressed = false; // a mouse button went down on the scroll bar
    bool scrollDragged = false; // ... and moved the thumb since
    guint repeatTimer = 0;      // an arrow held down steps again and again
};

struct StatusRec {
    GtkWidget* box = nullptr;
    GtkWidget* window = nullptr;
    std::vector<GtkWidget*> labels;
    std::vector<GtkWidget*> frames;
    std::vector<int32_t> widths;
    int height = kMinStatusHeight;
};

struct MenuItemRec {
    BackendState* state = nullptr;
    GtkWidget* window = nullptr;
    int identifier = 0;
    bool onBar = false;
    bool pressed = false;
    bool checked = false; // a radio item's mark as the core last set it
};

struct WindowRec {
    BackendState* state = nullptr;
    int number = 0;
    GtkWidget* window = nullptr;
    GtkWidget* box = nullptr;
    GtkWidget* menuBar = nullptr;
    GtkWidget* fixed = nullptr; // the inner area
    GtkWidget* status = nullptr;
    GtkAccelGroup* accelerators = nullptr; // the menu items' keys (the window holds it)
    int innerWidth = 0, innerHeight = 0;   // as created
    bool sizable = false;                  // the person sizes it: the inner area follows
    std::vector<std::unique_ptr<MenuItemRec>> menuItems;
    std::map<int, GtkWidget*> menuWidgets; // by identifier
    bool configured = false;
    int lastX = 0, lastY = 0, lastWidth = 0, lastHeight = 0;
    GdkWindowState windowState = GdkWindowState(0);
    guint showSource = 0; // the idle that shows the window once it is built; 0 when none waits
};

// ---- The backend state ----------------------------------------------------------------------

struct BackendState {
    bool started = false;
    int muted = 0; // above 0 while the backend itself changes widgets
    uint64_t handled = 0;
    int lastEventType = 0;
    std::unique_ptr<GtkCssProvider, GObjectUnref> css;
    std::map<GtkWidget*, std::unique_ptr<WindowRec>> windows;
    std::map<GtkWidget*, std::unique_ptr<ControlRec>> controls; // by handle
    std::map<GtkWidget*, ControlRec*> byWidget;                 // every widget of a control
    std::map<GtkWidget*, std::unique_ptr<StatusRec>> statusBars;

    WindowRec* Window(GtkWidget* window) const {
        auto it = windows.find(window);
        return it == windows.end() ? nullptr : it->second.get();
    }
    WindowRec* Window(intptr_t handle) const { return Window(W(handle)); }
    StatusRec* StatusBar(GtkWidget* box) const {
        auto it = statusBars.find(box);
        return it == statusBars.end() ? nullptr : it->second.get();
    }
    ControlRec* Control(intptr_t handle) const {
        auto it = controls.find(W(handle));
        return it == controls.end() ? nullptr : it->second.get();
    }
    ControlRec* ControlOfWidget(GtkWidget* widget) const {
        auto it = byWidget.find(widget);
        return it == byWidget.end() ? nullptr : it->second;
    }
    // Forgets a control's record; its widgets go with gtk_widget_destroy elsewhere.
    void Forget(GtkWidget* handle);
};

// The backend changes widgets itself while one of these lives: its handlers keep quiet.
struct Muted {
    explicit Muted(BackendState* s) : state(s) { ++state->muted; }
    ~Muted() { --state->muted; }
    Muted(const Muted&) = delete;
    Muted& operator=(const Muted&) = delete;
    BackendState* state;
};

// ---- The class ------------------------------------------------------------------------------

class GtkBackend : public Backend {
  public:
    GtkBackend();
    ~GtkBackend() override;

    // gtk_backend.cpp
    bool Init() override;
    void Shutdown() override;
    int32_t WaitNative() override;
    void Wake() override;

    // gtk_windows.cpp
    intptr_t CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const Text& title, uint32_t flags) override;
    void SetWindowTitle(intptr_t window, const Text& title) override;
    void DestroyWindow(intptr_t window) override;
    bool InnerSize(intptr_t window, int& width, int& height) override;
    void ActivateWindow(intptr_t window) override;
    bool SetMenuBar(intptr_t window, const std::vector<MenuItemView>& bar) override;
    void SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) override;
    void SetMenuItemChecked(intptr_t window, int identifier, bool checked) override;
    intptr_t CreateStatusBar(intptr_t window) override;
    void SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) override;
    void SetStatusText(intptr_t statusBar, int field, const Text& text) override;
    int32_t StatusBarWidth(intptr_t statusBar) override;

    // gtk_controls.cpp
    intptr_t CreateControl(intptr_t window, const ControlView& view) override;
    void UpdateControl(intptr_t control, const ControlView& view) override;
    void DestroyControl(intptr_t control) override;
    void FocusControl(intptr_t control) override;

    // gtk_canvas.cpp
    void ShowCanvas(intptr_t control, const Picture& picture) override;

    // gtk_input.cpp
    void EnableFileDrop(intptr_t window, int actions) override;
    bool KeyDown(int keyCode) override;
    bool KeyPressedSinceLastQuery(int keyCode) override;
    // The next KeyDown asks the server again (called for every native message).
    void KeymapMayHaveChanged();

    // gtk_dialogs.cpp
    FileDialogAnswer RunFileDialog(const FileDialogRequest& request) override;
    int RunMessageBox(const Text& title, const Text& text, int flags) override;
    std::pair<bool, Text> RunTextDialog(const Text& title, const Text& prompt,
                                        const Text& defaultText) override;

    // Set by anything that must end the current WaitNative although no GDK event was handled
    // (a raw key press seen by the X event filter).
    bool wakeUp = false;
    // The window a dialog is made transient for: the program's main window, if any.
    GtkWindow* DialogParent() const;

    // The records of windows, controls and status bars.
    const BackendState& state() const { return *state_; }

    // gtk_input.cpp: set up after the display is open; torn down in Shutdown.
    void InitInput();
    void ShutdownInput();

  private:
    std::unique_ptr<BackendState> state_;
    struct InputState; // gtk_input.cpp
    struct InputStateDeleter {
        void operator()(InputState* s) const;
    };
    std::unique_ptr<InputState, InputStateDeleter> input_;
};

// ---- What one source file offers the others -------------------------------------------------

// gtk_backend.cpp: texts are bytes; GTK wants UTF-8. Bytes that are not UTF-8 show as Latin-1.
std::string Utf8(const Text& text);

// gtk_style.cpp: the style sheet goes on the screen at start-up and comes off at shut-down.
void LoadStyle(BackendState& s, GdkScreen* screen);
void UnloadStyle(BackendState& s);
// Gives a widget one of the style sheet's classes ("pm-...").
void AddStyleClass(GtkWidget* widget, const char* name);
// A sunken frame (kSunkenBorder wide) around child.
GtkWidget* SunkenFrame(GtkWidget* child);

// gtk_windows.cpp: the inner area keeps the window's inner size minus the menu bar; the status
// bar covers the bottom strip of what remains.
void Relayout(WindowRec* w);
// A control was added to the inner area: the status bar goes back on top of it.
void KeepStatusBarOnTop(WindowRec* w);

// gtk_controls.cpp: a press on a scroll bar starts a gesture that the release of that button
// ends, wherever GTK's own handlers sent the release.
void NoteScrollPress(BackendState* s, GtkWidget* widget);
void ReportScrollRelease(BackendState* s, GtkWidget* widget);
// Reports focus changes of a control's widget to the core.
void ConnectFocus(BackendState* s, GtkWidget* widget);

// gtk_canvas.cpp: the canvas kind's factory (see gtk_controls.cpp), and the drawing area's size
// for the view's rectangle (inside a sunken frame's border).
void MakeCanvas(BackendState& s, ControlRec& rec, const ControlView& view,
                std::vector<GtkWidget*>& parts);
void SizeCanvas(const ControlRec& rec, const ControlView& view);

// gtk_keys.cpp: the virtual-key code of a key value (0 when the program has none), and the key
// values the global key state looks for under a code (empty when unknown).
int VirtualKeyOf(guint keyval);
std::vector<guint> KeyValuesOf(int keyCode);

} // namespace tk::gtk
