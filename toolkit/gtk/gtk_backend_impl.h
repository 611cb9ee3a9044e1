// The GTK 3 backend's class, shared by its source files:
//   gtk_backend.cpp   windows, menus, status bar, controls, canvas, the native wait
//   gtk_dialogs.cpp   file chooser, message box, the one-line text dialog
//   gtk_input.cpp     file drop and the global key state (XInput2 raw events on X11)
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>

#include "toolkit/backend.h"

namespace tk::gtk {

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

class GtkBackend : public Backend {
  public:
    GtkBackend();
    ~GtkBackend() override;

    bool Init() override;
    void Shutdown() override;
    intptr_t CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const Text& title, uint32_t flags) override;
    void SetWindowTitle(intptr_t window, const Text& title) override;
    void DestroyWindow(intptr_t window) override;
    bool SetMenuBar(intptr_t window, const std::vector<MenuItemView>& bar) override;
    void SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) override;
    intptr_t CreateStatusBar(intptr_t window) override;
    void SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) override;
    void SetStatusText(intptr_t statusBar, int field, const Text& text) override;
    int32_t StatusBarWidth(intptr_t statusBar) override;
    intptr_t CreateControl(intptr_t window, const ControlView& view) override;
    void UpdateControl(intptr_t control, const ControlView& view) override;
    void DestroyControl(intptr_t control) override;
    void FocusControl(intptr_t control) override;
    void ShowCanvas(intptr_t control, const Picture& picture) override;
    int32_t WaitNative() override;

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

    // The program's window number of a native top-level window (-1 when unknown).
    int WindowNumberOf(GtkWidget* window) const;

    // gtk_input.cpp: set up after the display is open; torn down in Shutdown.
    void InitInput();
    void ShutdownInput();

  private:
    struct State; // gtk_backend.cpp
    struct StateDeleter {
        void operator()(State* s) const;
    };
    std::unique_ptr<State, StateDeleter> state_;
    struct InputState; // gtk_input.cpp
    struct InputStateDeleter {
        void operator()(InputState* s) const;
    };
    std::unique_ptr<InputState, InputStateDeleter> input_;
};

} // namespace tk::gtk
