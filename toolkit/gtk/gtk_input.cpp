// File drop and the global key state of the GTK backend.
//
// File drop: a window that accepts files is a drag destination for text/uri-list as a whole,
// so a drop over any of its widgets that is not a drop target of its own reaches it. The core
// chooses the effect while the pointer moves and takes the dropped file names.
//
// Global keys on X11: XInput2 raw key presses, selected on the root window, arrive whichever
// client has the focus. A GDK event filter marks each one as "pressed since the last query" and
// ends the current native wait, so the event loop polls its keys again. Whether a key is down
// now comes from XQueryKeymap. Auto-repeated presses are not new presses.
//
// Without an X11 display (Wayland) there is no global key state: only key presses and releases
// delivered to the program's own windows count.
#include <gdk/gdk.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <gdk/gdkx.h>
#endif

#include <bitset>
#include <set>
#include <vector>

#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/window.h"

namespace tk::gtk {

namespace {

// What the input handlers share; GtkBackend::InputState is this under the backend's own name.
struct InputData {
    GtkBackend* owner = nullptr;
    std::set<GtkWidget*> dropWindows; // windows with the drag handlers connected

#ifdef GDK_WINDOWING_X11
    Display* display = nullptr; // set while raw key events are selected
    int xiOpcode = 0;
    std::bitset<256> pressed; // keycodes pressed since their key was last queried
    std::bitset<256> held;    // keycodes down, as the raw events told
    // The server's keymap, asked once per native message: the five keys the event loop polls
    // after each message share one round trip.
    char keymap[32] = {};
    bool keymapFresh = false;
#endif
    // Fallback without raw events: key values seen by the program's own windows.
    gulong pressHook = 0, releaseHook = 0;
    std::set<guint> windowKeysDown, windowKeysPressed;
};

} // namespace

struct GtkBackend::InputState : InputData {};

void GtkBackend::InputStateDeleter::operator()(InputState* s) const {
    delete s;
}

namespace {

// ---- Raw key events on X11 ------------------------------------------------------------------

#ifdef GDK_WINDOWING_X11

// The keycodes whose unshifted key value is one of values.
std::vector<int> KeycodesOf(Display* display, const std::vector<guint>& values) {
    std::vector<int> keycodes;
    if (values.empty()) return keycodes;
    int minimum = 0, maximum = 0;
    XDisplayKeycodes(display, &minimum, &maximum);
    for (int code = minimum; code <= maximum && code < 256; ++code) {
        KeySym sym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(code), 0, 0);
        for (guint v : values)
            if (sym == v) keycodes.push_back(code);
    }
    return keycodes;
}

GdkFilterReturn RawKeyFilter(GdkXEvent* native, GdkEvent*, gpointer data) {
    auto* state = static_cast<InputData*>(data);
    auto* cookie = &static_cast<XEvent*>(native)->xcookie;
    if (cookie->type != GenericEvent || cookie->extension != state->xiOpcode)
        return GDK_FILTER_CONTINUE;
    if (cookie->evtype != XI_RawKeyPress && cookie->evtype != XI_RawKeyRelease)
        return GDK_FILTER_CONTINUE;
    // GDK fetches the cookie's data before running filters (and frees it afterwards); fetch it
    // here only if that did not happen.
    if (!cookie->data && !XGetEventData(state->display, cookie)) return GDK_FILTER_REMOVE;
    const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
    if (raw->detail < 0 || raw->detail >= 256) return GDK_FILTER_REMOVE;
    const auto code = static_cast<size_t>(raw->detail);
    state->keymapFresh = false;
    if (cookie->evtype == XI_RawKeyRelease) {
        // A release is a message too: the loop that polled Escape at the press waits for one
        // more message before it ends, and the release is that message.
        state->held.reset(code);
        state->owner->wakeUp = true;
    } else if (!(raw->flags & XIKeyRepeat) && !state->held.test(code)) {
        // Auto-repeat is flagged by the server, or shows as a press of a key that is held.
        state->held.set(code);
        state->pressed.set(code);
        state->owner->wakeUp = true;
    }
    return GDK_FILTER_REMOVE;
}

// Selects raw key presses and releases of every master keyboard on the root window. False when the
// server has no XInput2.
bool StartRawKeys(InputData* state) {
    GdkDisplay* gdkDisplay = gdk_display_get_default();
    if (!gdkDisplay || !GDK_IS_X11_DISPLAY(gdkDisplay)) return false;
    Display* display = gdk_x11_display_get_xdisplay(gdkDisplay);
    int event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &state->xiOpcode, &event, &error))
        return false;

    gdk_x11_display_error_trap_push(gdkDisplay);
    // GDK has already announced its XInput2 version on this connection; asking for a version
    // at least as new is always accepted.
    int major = 2, minor = 3;
    bool ok = XIQueryVersion(display, &major, &minor) == Success;
    if (ok) {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
        XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    }
    ok = gdk_x11_display_error_trap_pop(gdkDisplay) == 0 && ok;
    if (!ok) return false;

    state->display = display;
    gdk_window_add_filter(nullptr, RawKeyFilter, state);
    return true;
}

void StopRawKeys(InputData* state) {
    if (!state->display) return;
    gdk_window_remove_filter(nullptr, RawKeyFilter, state);
    GdkDisplay* gdkDisplay = gdk_display_get_default();
    if (gdkDisplay && GDK_IS_X11_DISPLAY(gdkDisplay)) {
        gdk_x11_display_error_trap_push(gdkDisplay);
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
        XISelectEvents(state->display, DefaultRootWindow(state->display), &mask, 1);
        gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
    }
    state->display = nullptr;
}

#endif // GDK_WINDOWING_X11

// ---- Fallback: keys seen by the program's own windows ---------------------------------------

gboolean WindowKeyHook(GSignalInvocationHint*, guint count, const GValue* values, gpointer data) {
    auto* state = static_cast<InputData*>(data);
    if (count < 2) return TRUE;
    auto* event = static_cast<GdkEvent*>(g_value_get_boxed(&values[1]));
    if (!event || (event->type != GDK_KEY_PRESS && event->type != GDK_KEY_RELEASE)) return TRUE;
    // The signal runs once for the window and once for each widget the key is passed to.
    if (GTK_IS_WINDOW(g_value_get_object(&values[0])) == FALSE) return TRUE;
    guint value = gdk_keyval_to_lower(event->key.keyval);
    if (event->type == GDK_KEY_RELEASE) {
        state->windowKeysDown.erase(value);
    } else if (state->windowKeysDown.insert(value).second) { // a repeat finds it down already
        state->windowKeysPressed.insert(value);
    }
    return TRUE;
}

void StartWindowKeys(InputData* state) {
    gpointer widgetClass = g_type_class_ref(GTK_TYPE_WIDGET);
    state->pressHook = g_signal_add_emission_hook(
        g_signal_lookup("key-press-event", GTK_TYPE_WIDGET), 0, WindowKeyHook, state, nullptr);
    state->releaseHook = g_signal_add_emission_hook(
        g_signal_lookup("key-release-event", GTK_TYPE_WIDGET), 0, WindowKeyHook, state, nullptr);
    g_type_class_unref(widgetClass);
}

void StopWindowKeys(InputData* state) {
    if (state->pressHook)
        g_signal_remove_emission_hook(g_signal_lookup("key-press-event", GTK_TYPE_WIDGET),
                                      state->pressHook);
    if (state->releaseHook)
        g_signal_remove_emission_hook(g_signal_lookup("key-release-event", GTK_TYPE_WIDGET),
                                      state->releaseHook);
    state->pressHook = state->releaseHook = 0;
}

// ---- File drop ------------------------------------------------------------------------------

GdkDragAction ActionOf(int effect) {
    switch (effect) {
    case DropCopy:
        return GDK_ACTION_COPY;
    case DropMove:
        return GDK_ACTION_MOVE;
    case DropLink:
        return GDK_ACTION_LINK;
    default:
        return GdkDragAction(0);
    }
}

int AllowedActions(GdkDragContext* context) {
    GdkDragAction actions = gdk_drag_context_get_actions(context);
    int allowed = 0;
    if (actions & GDK_ACTION_COPY) allowed |= DropCopy;
    if (actions & GDK_ACTION_MOVE) allowed |= DropMove;
    if (actions & GDK_ACTION_LINK) allowed |= DropLink;
    return allowed;
}

// Shift, Alt and Ctrl held now (bits 0, 1, 2).
uint32_t Modifiers(GtkWidget* widget, GdkDragContext* context) {
    GdkWindow* window = gtk_widget_get_window(widget);
    GdkDevice* device = gdk_drag_context_get_device(context);
    if (!window || !device) return 0;
    GdkModifierType mask = GdkModifierType(0);
    gdk_window_get_device_position(window, device, nullptr, nullptr, &mask);
    return ModifiersOf(mask);
}

// The program window a drop reaches (null when the window is not the program's).
const WindowRec* WindowOf(const InputData* state, GtkWidget* widget) {
    return state->owner->state().Window(widget);
}

// Drag positions are relative to the whole top-level window; the program's coordinates start
// below its menu bar.
int32_t MenuBarBottom(const WindowRec* w) {
    GtkWidget* bar = w->menuBar;
    if (!bar || !gtk_widget_get_visible(bar)) return 0;
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(bar, w->window, 0, 0, &x, &y);
    return y + gtk_widget_get_allocated_height(bar);
}

bool OffersFiles(GtkWidget* widget, GdkDragContext* context) {
    return gtk_drag_dest_find_target(widget, context, nullptr) != GDK_NONE;
}

gboolean OnDragMotion(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time,
                      gpointer data) {
    auto* state = static_cast<InputData*>(data);
    int effect = 0;
    if (OffersFiles(widget, context)) {
        if (const WindowRec* w = WindowOf(state, widget))
            effect =
                notify::DropEffect(w->number, AllowedActions(context), Modifiers(widget, context));
    }
    gdk_drag_status(context, ActionOf(effect), time);
    return TRUE;
}

gboolean OnDragDrop(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time, gpointer) {
    GdkAtom target = gtk_drag_dest_find_target(widget, context, nullptr);
    if (target == GDK_NONE) {
        gtk_drag_finish(context, FALSE, FALSE, time);
    } else {
        gtk_drag_get_data(widget, context, target, time);
    }
    return TRUE;
}

void OnDragDataReceived(GtkWidget* widget, GdkDragContext* context, gint x, gint y,
                        GtkSelectionData* selection, guint, guint time, gpointer data) {
    auto* state = static_cast<InputData*>(data);
    std::vector<Text> paths;
    if (gchar** uris = gtk_selection_data_get_uris(selection)) {
        for (gchar** uri = uris; *uri; ++uri) {
            if (gchar* path = g_filename_from_uri(*uri, nullptr, nullptr)) { // file: URIs only
                paths.emplace_back(path);
                g_free(path);
            }
        }
        g_strfreev(uris);
    }
    int effect = 0;
    const WindowRec* w = WindowOf(state, widget);
    // Data that names no local file cannot be taken: the drop is refused.
    if (!paths.empty() && w != nullptr)
        effect = notify::FilesDropped(w->number, paths, AllowedActions(context),
                                      Modifiers(widget, context), x, y - MenuBarBottom(w));
    gtk_drag_finish(context, effect != 0, FALSE, time);
}

void OnDropWindowDestroyed(GtkWidget* widget, gpointer data) {
    static_cast<InputData*>(data)->dropWindows.erase(widget);
}

void DisconnectDrop(InputData* state, GtkWidget* widget) {
    g_signal_handlers_disconnect_by_data(widget, state);
    state->dropWindows.erase(widget);
}

} // namespace

// ---- GtkBackend -----------------------------------------------------------------------------

void GtkBackend::InitInput() {
    ShutdownInput();
    input_.reset(new InputState);
    input_->owner = this;
#ifdef GDK_WINDOWING_X11
    if (StartRawKeys(input_.get())) return;
#endif
    StartWindowKeys(input_.get());
}

void GtkBackend::ShutdownInput() {
    if (!input_) return;
    InputState* state = input_.get();
#ifdef GDK_WINDOWING_X11
    StopRawKeys(state);
#endif
    StopWindowKeys(state);
    while (!state->dropWindows.empty()) DisconnectDrop(state, *state->dropWindows.begin());
    input_.reset();
}

void GtkBackend::EnableFileDrop(intptr_t window, int actions) {
    GtkWidget* widget = W(window);
    if (!input_ || !widget || !GTK_IS_WINDOW(widget)) return;
    InputState* state = input_.get();
    if (actions == 0) {
        gtk_drag_dest_unset(widget);
        DisconnectDrop(state, widget);
        return;
    }
    // Motion and drop are handled here: the core picks the effect for each position.
    static const GtkTargetEntry uriList[] = {{const_cast<gchar*>("text/uri-list"), 0, 0}};
    GdkDragAction allowed = GdkDragAction(0);
    for (int effect : {DropCopy, DropMove, DropLink})
        if (actions & effect) allowed = GdkDragAction(allowed | ActionOf(effect));
    gtk_drag_dest_set(widget, GtkDestDefaults(0), uriList, 1, allowed);
    if (state->dropWindows.insert(widget).second) {
        g_signal_connect(widget, "drag-motion", G_CALLBACK(OnDragMotion), state);
        g_signal_connect(widget, "drag-drop", G_CALLBACK(OnDragDrop), state);
        g_signal_connect(widget, "drag-data-received", G_CALLBACK(OnDragDataReceived), state);
        g_signal_connect(widget, "destroy", G_CALLBACK(OnDropWindowDestroyed), state);
    }
}

bool GtkBackend::KeyDown(int keyCode) {
    if (!input_) return false;
    std::vector<guint> values = KeyValuesOf(keyCode);
#ifdef GDK_WINDOWING_X11
    if (Display* display = input_->display) {
        if (!input_->keymapFresh) {
            XQueryKeymap(display, input_->keymap);
            input_->keymapFresh = true;
        }
        for (int code : KeycodesOf(display, values))
            if (input_->keymap[code / 8] & (1 << (code % 8))) return true;
        return false;
    }
#endif
    for (guint v : values)
        if (input_->windowKeysDown.count(v)) return true;
    return false;
}

void GtkBackend::KeymapMayHaveChanged() {
#ifdef GDK_WINDOWING_X11
    if (input_) input_->keymapFresh = false;
#endif
}

bool GtkBackend::KeyPressedSinceLastQuery(int keyCode) {
    if (!input_) return false;
    std::vector<guint> values = KeyValuesOf(keyCode);
    bool pressed = false;
#ifdef GDK_WINDOWING_X11
    if (Display* display = input_->display) {
        for (int code : KeycodesOf(display, values)) {
            pressed = pressed || input_->pressed.test(static_cast<size_t>(code));
            input_->pressed.reset(static_cast<size_t>(code));
        }
        return pressed;
    }
#endif
    for (guint v : values) pressed = input_->windowKeysPressed.erase(v) > 0 || pressed;
    return pressed;
}

} // namespace tk::gtk
