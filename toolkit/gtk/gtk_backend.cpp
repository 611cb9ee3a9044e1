// The GTK 3 backend: windows, menus, the status bar, controls, the canvas and the native wait.
//
// Sections: state and helpers; start-up and the event hook; windows; menus; the status bar;
// controls (creation, signal handlers, updates); the canvas; the native wait.
//
// Every widget of a program window lives in one GtkFixed (the window's inner area, named
// "pm-inner") placed under an optional menu bar. Widgets only mirror the core's ControlView and
// report gestures through notify::; while the backend itself changes a widget, the handlers
// stay quiet (State::muted) so that nothing echoes back to the core.
#include "toolkit/gtk/gtk_backend.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/window.h"

namespace tk::gtk {

// ---- State and helpers ----------------------------------------------------------------------

namespace {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;

constexpr int kMinStatusHeight = 18;
constexpr int32_t kNativeBase = 0x20000;
constexpr int32_t kWakeUpMessage = kNativeBase + 0xFFFF;

// The program's own widgets carry these classes; the style sheet touches nothing else, so
// dialogs keep the theme's look.
constexpr const char* kStyleSheet = R"css(
window.pm-window {
    font-family: "DejaVu Sans", sans-serif;
    font-stretch: condensed;
    font-size: 10px;
}
window.pm-window menubar {
    padding: 0;
    min-height: 0;
    box-shadow: none;
}
window.pm-window menubar > menuitem {
    padding: 2px 7px;
    min-height: 0;
}
window.pm-window entry {
    min-height: 0;
    min-width: 0;
    padding: 0 3px;
    margin: 0;
    border-radius: 0;
    border-width: 1px;
}
window.pm-window button {
    min-height: 0;
    min-width: 0;
    padding: 0;
    margin: 0;
    border-radius: 2px;
}
window.pm-window button.pm-arrow {
    border-radius: 0;
    padding: 0;
}
window.pm-window button.pm-arrow image {
    margin: 0;
    padding: 0;
}
window.pm-window checkbutton {
    padding: 0;
    margin: 0;
    min-height: 0;
}
window.pm-window checkbutton check {
    min-width: 11px;
    min-height: 11px;
    margin: 0 1px 0 0;
    padding: 0;
}
window.pm-window checkbutton label {
    padding: 0;
    margin: 0;
}
window.pm-window label.pm-label {
    padding: 0 1px;
}
window.pm-window scrollbar.pm-scroll {
    padding: 0;
    margin: 0;
    border-width: 1px;
}
window.pm-window scrollbar.pm-scroll trough {
    min-width: 0;
    min-height: 0;
    margin: 0;
    padding: 0;
}
window.pm-window scrollbar.pm-scroll slider {
    min-width: 8px;
    min-height: 8px;
    margin: 1px;
    border-width: 1px;
    border-radius: 2px;
}
window.pm-window .pm-status {
    min-height: 0;
}
window.pm-window .pm-status frame > border {
    border-style: solid;
    border-width: 1px;
    border-color: #a0a0a0 #ffffff #ffffff #a0a0a0;
}
window.pm-window .pm-status label {
    padding: 0 3px;
}
window.pm-window frame.pm-sunken > border {
    border-style: solid;
    border-width: 2px;
    border-color: #808080 #ffffff #ffffff #808080;
}
)css";

struct WindowRec;
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
};

struct WindowRec {
    BackendState* state = nullptr;
    int number = 0;
    GtkWidget* window = nullptr;
    GtkWidget* box = nullptr;
    GtkWidget* menuBar = nullptr;
    GtkWidget* fixed = nullptr;
    GtkWidget* status = nullptr;
    int innerWidth = 0, innerHeight = 0;
    std::vector<std::unique_ptr<MenuItemRec>> menuItems;
    std::map<int, GtkWidget*> menuWidgets; // by identifier
    bool configured = false;
    int lastX = 0, lastY = 0, lastWidth = 0, lastHeight = 0;
    GdkWindowState windowState = GdkWindowState(0);
};

// Texts are bytes; GTK wants UTF-8. Bytes that are not UTF-8 are shown as Latin-1.
std::string Utf8(const Text& text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    gsize written = 0;
    gchar* converted = g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                                 "ISO-8859-1", nullptr, &written, nullptr);
    if (converted == nullptr) return std::string();
    std::string result(converted, written);
    g_free(converted);
    return result;
}

// A menu text: "&x" marks a mnemonic, "&&" is an ampersand; GTK spells these "_x" and "&".
std::string MenuLabel(const Text& text) {
    std::string source = Utf8(text);
    std::string label;
    for (size_t i = 0; i < source.size(); ++i) {
        char ch = source[i];
        if (ch == '&' && i + 1 < source.size()) {
            ++i;
            label += source[i] == '&' ? "&" : "_";
            label += source[i] == '&' ? "" : std::string(1, source[i]);
        } else if (ch == '_') {
            label += "__";
        } else if (ch == '\t') {
            break; // shortcut hints after a tab are not shown
        } else {
            label += ch;
        }
    }
    return label;
}

uint32_t ButtonsOf(guint state) {
    uint32_t buttons = 0;
    if (state & GDK_BUTTON1_MASK) buttons |= 1;
    if (state & GDK_BUTTON3_MASK) buttons |= 2;
    if (state & GDK_BUTTON2_MASK) buttons |= 4;
    return buttons;
}

uint32_t ButtonBit(guint button) {
    switch (button) {
    case 1:
        return 1;
    case 3:
        return 2;
    case 2:
        return 4;
    default:
        return 0;
    }
}

// Virtual-key code of a key value (0 when the program has no code for it).
int VirtualKeyOf(guint keyval) {
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return int(keyval - GDK_KEY_a) + 'A';
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return int(keyval - GDK_KEY_A) + 'A';
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return int(keyval - GDK_KEY_0) + '0';
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12) return int(keyval - GDK_KEY_F1) + 0x70;
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return int(keyval - GDK_KEY_KP_0) + 0x60;
    switch (keyval) {
    case GDK_KEY_BackSpace:
        return 0x08;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
        return 0x09;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        return VkReturn;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R:
        return 0x10;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R:
        return 0x11;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R:
        return 0x12;
    case GDK_KEY_Escape:
        return VkEscape;
    case GDK_KEY_space:
        return 0x20;
    case GDK_KEY_Page_Up:
        return 0x21;
    case GDK_KEY_Page_Down:
        return 0x22;
    case GDK_KEY_End:
        return VkEnd;
    case GDK_KEY_Home:
        return 0x24;
    case GDK_KEY_Left:
        return VkLeft;
    case GDK_KEY_Up:
        return VkUp;
    case GDK_KEY_Right:
        return VkRight;
    case GDK_KEY_Down:
        return VkDown;
    case GDK_KEY_Insert:
        return 0x2D;
    case GDK_KEY_Delete:
        return 0x2E;
    default:
        return 0;
    }
}

} // namespace

namespace {

struct BackendState {
    GtkBackend* backend = nullptr;
    bool started = false;
    int muted = 0; // above 0 while the backend itself changes widgets
    uint64_t handled = 0;
    int lastEventType = 0;
    std::unique_ptr<GtkCssProvider, GObjectUnref> css;
    std::map<GtkWidget*, std::unique_ptr<WindowRec>> windows;
    std::map<GtkWidget*, std::unique_ptr<ControlRec>> controls; // by handle
    std::map<GtkWidget*, ControlRec*> byWidget;                 // every widget of a control
    std::map<GtkWidget*, std::unique_ptr<StatusRec>> statusBars;

    WindowRec* Window(intptr_t handle) {
        auto it = windows.find(W(handle));
        return it == windows.end() ? nullptr : it->second.get();
    }
    ControlRec* Control(intptr_t handle) {
        auto it = controls.find(W(handle));
        return it == controls.end() ? nullptr : it->second.get();
    }
    ControlRec* ControlOfWidget(GtkWidget* widget) {
        auto it = byWidget.find(widget);
        return it == byWidget.end() ? nullptr : it->second;
    }
    // Forgets a control's record; its widgets go with gtk_widget_destroy elsewhere.
    void Forget(GtkWidget* handle) {
        auto it = controls.find(handle);
        if (it == controls.end()) return;
        ControlRec* rec = it->second.get();
        if (rec->repeatTimer != 0) g_source_remove(rec->repeatTimer);
        for (auto w = byWidget.begin(); w != byWidget.end();) {
            w = w->second == rec ? byWidget.erase(w) : std::next(w);
        }
        controls.erase(it);
    }
};

} // namespace

// The backend's own record; the class only names it.
struct GtkBackend::State : BackendState {};

namespace {

using State = BackendState;

struct Muted {
    explicit Muted(State* s) : state(s) { ++state->muted; }
    ~Muted() { --state->muted; }
    Muted(const Muted&) = delete;
    Muted& operator=(const Muted&) = delete;
    State* state;
};

// ---- Start-up and the event hook ------------------------------------------------------------

void ReportScrollRelease(State* s, GtkWidget* widget);

// Every GDK event passes here: it is counted as one native message, then GTK dispatches it.
void OnGdkEvent(GdkEvent* event, gpointer data) {
    auto* s = static_cast<State*>(data);
    s->handled++;
    s->lastEventType = event->type;
    GtkWidget* widget = gtk_get_event_widget(event);
    if (event->type == GDK_BUTTON_PRESS && widget != nullptr) {
        if (ControlRec* rec = s->ControlOfWidget(widget); rec && rec->kind == KindScrollBar) {
            rec->scrollPressed = true;
            rec->scrollDragged = false;
        }
    }
    gtk_main_do_event(event);
    // A scroll gesture ends with the release of the button that started it, wherever GTK's
    // own handlers sent the release.
    if (event->type == GDK_BUTTON_RELEASE && widget != nullptr) ReportScrollRelease(s, widget);
}

// GTK's own handler, put back at shut-down.
void GtkDefaultEvent(GdkEvent* event, gpointer) {
    gtk_main_do_event(event);
}

} // namespace

GtkBackend::GtkBackend() : state_(new State) {
    state_->backend = this;
}

GtkBackend::~GtkBackend() {
    Shutdown();
}

void GtkBackend::StateDeleter::operator()(State* s) const {
    delete s;
}

bool GtkBackend::Init() {
    State& s = *state_;
    if (s.started) return true;
    if (!gtk_init_check(nullptr, nullptr)) return false;
    GdkScreen* screen = gdk_screen_get_default();
    if (screen == nullptr) return false;

    // A click in a scroll bar's trough pages, as the arrows step; the thumb is dragged, not
    // warped to the pointer. Fades would only delay what a person sees.
    GtkSettings* settings = gtk_settings_get_default();
    g_object_set(settings, "gtk-primary-button-warps-slider", FALSE, "gtk-enable-animations", FALSE,
                 nullptr);

    s.css.reset(gtk_css_provider_new());
    GError* error = nullptr;
    if (!gtk_css_provider_load_from_data(s.css.get(), kStyleSheet, -1, &error)) {
        g_warning("pixmole style sheet: %s", error != nullptr ? error->message : "?");
        g_clear_error(&error);
    }
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(s.css.get()),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gdk_event_handler_set(&OnGdkEvent, &s, nullptr);
    s.started = true;
    wakeUp = false;
    InitInput();
    return true;
}

void GtkBackend::Shutdown() {
    State& s = *state_;
    if (!s.started) return;
    ShutdownInput();
    std::vector<GtkWidget*> left;
    for (auto& entry : s.windows) left.push_back(entry.first);
    for (GtkWidget* window : left) DestroyWindow(H(window));
    s.controls.clear();
    s.byWidget.clear();
    s.statusBars.clear();
    gdk_event_handler_set(&GtkDefaultEvent, nullptr, nullptr);
    if (GdkScreen* screen = gdk_screen_get_default(); screen != nullptr && s.css)
        gtk_style_context_remove_provider_for_screen(screen, GTK_STYLE_PROVIDER(s.css.get()));
    s.css.reset();
    // Let GTK finish the destruction it queued, so nothing of ours is touched later.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    s.started = false;
}

// ---- Windows --------------------------------------------------------------------------------

namespace {

WindowRec* WindowRecOf(State* s, GtkWidget* window) {
    auto it = s->windows.find(window);
    return it == s->windows.end() ? nullptr : it->second.get();
}

// The inner area keeps the window's inner size minus the menu bar; the status bar covers the
// bottom strip of what remains.
void Relayout(WindowRec* w) {
    int menuHeight = 0;
    if (w->menuBar != nullptr) {
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height(w->menuBar, &minimum, &natural);
        menuHeight = std::max(minimum, natural);
    }
    int height = std::max(1, w->innerHeight - menuHeight);
    gtk_widget_set_size_request(w->fixed, w->innerWidth, height);
    if (w->status != nullptr) {
        int statusHeight = kMinStatusHeight;
        auto it = w->state->statusBars.find(w->status);
        if (it != w->state->statusBars.end()) statusHeight = it->second->height;
        gtk_fixed_move(GTK_FIXED(w->fixed), w->status, 0, std::max(0, height - statusHeight));
    }
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    auto* w = static_cast<WindowRec*>(data);
    notify::CloseRequested(w->number);
    return TRUE; // the window stays until the program closes it
}

gboolean OnWindowFocus(GtkWidget*, GdkEventFocus* event, gpointer data) {
    auto* w = static_cast<WindowRec*>(data);
    notify::Activated(w->number, event->in != 0);
    return FALSE;
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
    auto* w = static_cast<WindowRec*>(data);
    if (!w->configured) {
        w->configured = true;
    } else {
        bool moved = event->x != w->lastX || event->y != w->lastY;
        bool resized = event->width != w->lastWidth || event->height != w->lastHeight;
        int number = w->number;
        w->lastX = event->x;
        w->lastY = event->y;
        w->lastWidth = event->width;
        w->lastHeight = event->height;
        if (resized && !(w->windowState & GDK_WINDOW_STATE_ICONIFIED))
            notify::SizeChanged(number, notify::SizeChange::Resized);
        if (moved) notify::Moved(number);
        return FALSE;
    }
    w->lastX = event->x;
    w->lastY = event->y;
    w->lastWidth = event->width;
    w->lastHeight = event->height;
    return FALSE;
}

gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
    auto* w = static_cast<WindowRec*>(data);
    const auto minMax = GdkWindowState(GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED);
    GdkWindowState before = w->windowState;
    GdkWindowState now = event->new_window_state;
    w->windowState = now;
    int number = w->number;
    if ((now & GDK_WINDOW_STATE_ICONIFIED) && !(before & GDK_WINDOW_STATE_ICONIFIED)) {
        notify::SizeChanged(number, notify::SizeChange::Minimized);
    } else if ((now & GDK_WINDOW_STATE_MAXIMIZED) && !(before & GDK_WINDOW_STATE_MAXIMIZED) &&
               !(now & GDK_WINDOW_STATE_ICONIFIED)) {
        notify::SizeChanged(number, notify::SizeChange::Maximized);
    } else if ((before & minMax) && !(now & minMax)) {
        notify::SizeChanged(number, notify::SizeChange::Restored);
    }
    return FALSE;
}

// Tab and Shift+Tab belong to the core, which moves the focus in creation order.
gboolean OnWindowKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* w = static_cast<WindowRec*>(data);
    bool tab = event->keyval == GDK_KEY_Tab || event->keyval == GDK_KEY_KP_Tab ||
               event->keyval == GDK_KEY_ISO_Left_Tab;
    if (!tab || (event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK))) return FALSE;
    bool backwards = (event->state & GDK_SHIFT_MASK) || event->keyval == GDK_KEY_ISO_Left_Tab;
    notify::TabKey(w->number, backwards);
    return TRUE;
}

// Clicks on the window's own background (not on a control that takes clicks).
gboolean OnWindowButton(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    auto* w = static_cast<WindowRec*>(data);
    if (event->window != gtk_widget_get_window(widget)) return FALSE;
    if (w->status != nullptr) {
        GtkAllocation bar;
        gtk_widget_get_allocation(w->status, &bar);
        int bx = 0, by = 0;
        if (gtk_widget_translate_coordinates(w->status, widget, 0, 0, &bx, &by) && event->x >= bx &&
            event->y >= by && event->x < bx + bar.width && event->y < by + bar.height)
            return FALSE;
    }
    int32_t kind = 0;
    if (event->type == GDK_BUTTON_RELEASE && event->button == 1) kind = WindowLeftClick;
    if (event->type == GDK_BUTTON_RELEASE && event->button == 3) kind = WindowRightClick;
    if (event->type == GDK_2BUTTON_PRESS && event->button == 1) kind = WindowLeftDoubleClick;
    if (kind != 0) notify::WindowClick(w->number, kind);
    return FALSE;
}

} // namespace

intptr_t GtkBackend::CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                                  const Text& title, uint32_t flags) {
    State& s = *state_;
    if (!s.started || innerWidth < 0 || innerHeight < 0) return 0;
    auto rec = std::make_unique<WindowRec>();
    rec->state = &s;
    rec->number = number;
    rec->innerWidth = innerWidth;
    rec->innerHeight = innerHeight;

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    rec->window = window;
    gtk_style_context_add_class(gtk_widget_get_style_context(window), "pm-window");
    gtk_window_set_title(GTK_WINDOW(window), Utf8(title).c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), (flags & WindowSizingBorder) != 0);
    if (flags & WindowToolWindow)
        gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_UTILITY);
    if (flags & WindowNoActivate) gtk_window_set_focus_on_map(GTK_WINDOW(window), FALSE);
    // Pointer motion anywhere over the window is a native message too: the loop wakes for it.
    gtk_widget_add_events(window, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                      GDK_BUTTON_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK |
                                      GDK_STRUCTURE_MASK);

    rec->box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    rec->fixed = gtk_fixed_new();
    gtk_widget_set_name(rec->fixed, "pm-inner");
    gtk_widget_set_size_request(rec->fixed, innerWidth, std::max(1, innerHeight));
    gtk_box_pack_end(GTK_BOX(rec->box), rec->fixed, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), rec->box);
    gtk_widget_show_all(rec->box);

    WindowRec* w = rec.get();
    g_signal_connect(window, "delete-event", G_CALLBACK(OnDelete), w);
    g_signal_connect(window, "focus-in-event", G_CALLBACK(OnWindowFocus), w);
    g_signal_connect(window, "focus-out-event", G_CALLBACK(OnWindowFocus), w);
    g_signal_connect(window, "configure-event", G_CALLBACK(OnConfigure), w);
    g_signal_connect(window, "window-state-event", G_CALLBACK(OnWindowState), w);
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnWindowKey), w);
    g_signal_connect(window, "button-release-event", G_CALLBACK(OnWindowButton), w);
    g_signal_connect(window, "button-press-event", G_CALLBACK(OnWindowButton), w);
    s.windows[window] = std::move(rec);

    if (flags & WindowCentreOnScreen) {
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    } else if (flags & WindowCentreOnActive) {
        GtkWindow* active = DialogParent();
        int ax = 0, ay = 0, aw = 0, ah = 0;
        if (active != nullptr && GTK_WIDGET(active) != window) {
            gtk_window_get_position(active, &ax, &ay);
            gtk_window_get_size(active, &aw, &ah);
        }
        gtk_window_move(GTK_WINDOW(window), std::max(0, ax + (aw - innerWidth) / 2),
                        std::max(0, ay + (ah - innerHeight) / 2));
    } else if (x != -65535 && y != -65535) {
        gtk_window_move(GTK_WINDOW(window), x, y);
    }
    if (flags & WindowStartMaximized) gtk_window_maximize(GTK_WINDOW(window));
    if (flags & WindowStartMinimized) gtk_window_iconify(GTK_WINDOW(window));
    if (!(flags & WindowHidden)) gtk_widget_show(window);
    return H(window);
}

void GtkBackend::SetWindowTitle(intptr_t window, const Text& title) {
    if (state_->Window(window) == nullptr) return;
    gtk_window_set_title(GTK_WINDOW(W(window)), Utf8(title).c_str());
}

void GtkBackend::DestroyWindow(intptr_t window) {
    State& s = *state_;
    WindowRec* w = s.Window(window);
    if (w == nullptr) return;
    std::vector<GtkWidget*> gone;
    for (auto& entry : s.controls) {
        if (gtk_widget_get_toplevel(entry.second->outer) == w->window) gone.push_back(entry.first);
    }
    for (GtkWidget* handle : gone) s.Forget(handle);
    if (w->status != nullptr) s.statusBars.erase(w->status);
    auto owned = std::move(s.windows[W(window)]);
    s.windows.erase(W(window));
    gtk_widget_destroy(owned->window);
}

GtkWindow* GtkBackend::DialogParent() const {
    const State& s = *state_;
    GtkWindow* fallback = nullptr;
    for (auto& entry : s.windows) {
        if (entry.second->number == 0) return GTK_WINDOW(entry.first);
        if (fallback == nullptr || gtk_window_is_active(GTK_WINDOW(entry.first)))
            fallback = GTK_WINDOW(entry.first);
    }
    return fallback;
}

int GtkBackend::WindowNumberOf(GtkWidget* window) const {
    auto it = state_->windows.find(window);
    return it == state_->windows.end() ? -1 : it->second->number;
}

// ---- Menus ----------------------------------------------------------------------------------

namespace {

// A command standing on the bar is chosen by one click. GtkMenuShell would ignore a release
// that comes soon after the press that opened the bar, so the item takes both itself.
gboolean OnBarItemPress(GtkWidget* item, GdkEventButton* event, gpointer data) {
    auto* m = static_cast<MenuItemRec*>(data);
    if (event->type != GDK_BUTTON_PRESS || event->button != 1) return TRUE;
    GtkWidget* shell = gtk_widget_get_parent(item);
    if (GTK_IS_MENU_SHELL(shell)) gtk_menu_shell_deactivate(GTK_MENU_SHELL(shell));
    m->pressed = gtk_widget_is_sensitive(item);
    return TRUE;
}

gboolean OnBarItemRelease(GtkWidget* item, GdkEventButton* event, gpointer data) {
    auto* m = static_cast<MenuItemRec*>(data);
    if (event->button != 1 || !m->pressed) return TRUE;
    m->pressed = false;
    GtkAllocation box;
    gtk_widget_get_allocation(item, &box);
    // The release must still be over the item (event coordinates are the item window's).
    double ex = event->x, ey = event->y;
    if (event->window != gtk_widget_get_window(item)) {
        int ox = 0, oy = 0;
        gdk_window_get_origin(gtk_widget_get_window(item), &ox, &oy);
        ex = event->x_root - ox;
        ey = event->y_root - oy;
    }
    bool inside = ex >= box.x && ey >= box.y && ex < box.x + box.width && ey < box.y + box.height;
    if (!inside || !gtk_widget_is_sensitive(item)) return TRUE;
    WindowRec* w = WindowRecOf(m->state, m->window);
    if (w != nullptr) notify::MenuChosen(w->number, m->identifier);
    return TRUE;
}

void OnMenuActivate(GtkMenuItem* item, gpointer data) {
    auto* m = static_cast<MenuItemRec*>(data);
    if (!gtk_widget_is_sensitive(GTK_WIDGET(item))) return;
    WindowRec* w = WindowRecOf(m->state, m->window);
    if (w != nullptr) notify::MenuChosen(w->number, m->identifier);
}

// A drop-down on screen has the keyboard until the bar lets go of it again; key presses meanwhile
// are the menu's own.
void OnMenuShown(GtkWidget*, gpointer data) {
    notify::MenuTracking(static_cast<WindowRec*>(data)->number, true);
}

void OnMenuBarDeactivated(GtkMenuShell*, gpointer data) {
    notify::MenuTracking(static_cast<WindowRec*>(data)->number, false);
}

void AddMenuItems(WindowRec* w, GtkWidget* shell, const std::vector<MenuItemView>& items,
                  bool onBar) {
    for (const MenuItemView& view : items) {
        GtkWidget* item = nullptr;
        if (view.separator) {
            item = gtk_separator_menu_item_new();
        } else {
            item = gtk_menu_item_new_with_mnemonic(MenuLabel(view.text).c_str());
            if (view.isTitle) {
                GtkWidget* menu = gtk_menu_new();
                g_signal_connect(menu, "show", G_CALLBACK(OnMenuShown), w);
                AddMenuItems(w, menu, view.children, false);
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
            } else {
                auto m = std::make_unique<MenuItemRec>();
                m->state = w->state;
                m->window = w->window;
                m->identifier = view.identifier;
                m->onBar = onBar;
                if (onBar) {
                    g_signal_connect(item, "button-press-event", G_CALLBACK(OnBarItemPress),
                                     m.get());
                    g_signal_connect(item, "button-release-event", G_CALLBACK(OnBarItemRelease),
                                     m.get());
                } else {
                    g_signal_connect(item, "activate", G_CALLBACK(OnMenuActivate), m.get());
                }
                w->menuWidgets[view.identifier] = item;
                w->menuItems.push_back(std::move(m));
            }
            gtk_widget_set_sensitive(item, !view.disabled);
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
    }
}

} // namespace

bool GtkBackend::SetMenuBar(intptr_t window, const std::vector<MenuItemView>& bar) {
    WindowRec* w = state_->Window(window);
    if (w == nullptr) return false;
    if (w->menuBar != nullptr) gtk_widget_destroy(w->menuBar);
    w->menuBar = nullptr;
    w->menuWidgets.clear();
    w->menuItems.clear();
    if (!bar.empty()) {
        w->menuBar = gtk_menu_bar_new();
        g_signal_connect(w->menuBar, "deactivate", G_CALLBACK(OnMenuBarDeactivated), w);
        AddMenuItems(w, w->menuBar, bar, true);
        gtk_box_pack_start(GTK_BOX(w->box), w->menuBar, FALSE, FALSE, 0);
        gtk_widget_show_all(w->menuBar);
    }
    Relayout(w);
    return true;
}

void GtkBackend::SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) {
    WindowRec* w = state_->Window(window);
    if (w == nullptr) return;
    auto it = w->menuWidgets.find(identifier);
    if (it != w->menuWidgets.end()) gtk_widget_set_sensitive(it->second, enabled);
}

// ---- Status bar -----------------------------------------------------------------------------

intptr_t GtkBackend::CreateStatusBar(intptr_t window) {
    State& s = *state_;
    WindowRec* w = s.Window(window);
    if (w == nullptr) return 0;
    if (w->status != nullptr) {
        s.statusBars.erase(w->status);
        gtk_widget_destroy(w->status);
    }
    auto rec = std::make_unique<StatusRec>();
    rec->window = w->window;
    rec->box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    gtk_style_context_add_class(gtk_widget_get_style_context(rec->box), "pm-status");
    gtk_widget_set_size_request(rec->box, w->innerWidth, kMinStatusHeight);
    gtk_fixed_put(GTK_FIXED(w->fixed), rec->box, 0, 0);
    gtk_widget_show(rec->box);
    w->status = rec->box;
    GtkWidget* handle = rec->box;
    s.statusBars[handle] = std::move(rec);
    SetStatusFields(H(handle), {});
    return H(handle);
}

void GtkBackend::SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) {
    State& s = *state_;
    auto it = s.statusBars.find(W(statusBar));
    if (it == s.statusBars.end()) return;
    StatusRec* bar = it->second.get();
    WindowRec* w = WindowRecOf(&s, bar->window);
    std::vector<std::string> texts;
    for (GtkWidget* label : bar->labels) texts.push_back(gtk_label_get_text(GTK_LABEL(label)));
    for (GtkWidget* frame : bar->frames) gtk_widget_destroy(frame);
    bar->frames.clear();
    bar->labels.clear();
    bar->widths = widths;

    // Fixed widths stay; the fill fields share what they leave.
    const int total = w != nullptr ? w->innerWidth : 0;
    int fixedSum = 0, fills = 0;
    for (int32_t width : widths) {
        if (width >= 0)
            fixedSum += width;
        else
            ++fills;
    }
    const int share = fills > 0 ? std::max(0, total - fixedSum) / fills : 0;
    int height = kMinStatusHeight;
    for (size_t i = 0; i < widths.size(); ++i) {
        int width = widths[i] >= 0 ? widths[i] : share;
        GtkWidget* frame = gtk_frame_new(nullptr);
        gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
        GtkWidget* label = gtk_label_new(i < texts.size() ? texts[i].c_str() : "");
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
        gtk_container_add(GTK_CONTAINER(frame), label);
        gtk_widget_set_size_request(frame, std::max(0, width - 2), -1);
        gtk_box_pack_start(GTK_BOX(bar->box), frame, FALSE, FALSE, 0);
        gtk_widget_show_all(frame);
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height(frame, &minimum, &natural);
        height = std::max(height, minimum);
        bar->frames.push_back(frame);
        bar->labels.push_back(label);
    }
    bar->height = height;
    gtk_widget_set_size_request(bar->box, total, height);
    if (w != nullptr) Relayout(w);
}

void GtkBackend::SetStatusText(intptr_t statusBar, int field, const Text& text) {
    auto it = state_->statusBars.find(W(statusBar));
    if (it == state_->statusBars.end()) return;
    StatusRec* bar = it->second.get();
    if (field < 0 || static_cast<size_t>(field) >= bar->labels.size()) return;
    gtk_label_set_text(GTK_LABEL(bar->labels[size_t(field)]), Utf8(text).c_str());
}

int32_t GtkBackend::StatusBarWidth(intptr_t statusBar) {
    State& s = *state_;
    auto it = s.statusBars.find(W(statusBar));
    if (it == s.statusBars.end()) return 0;
    WindowRec* w = WindowRecOf(&s, it->second->window);
    return w != nullptr ? w->innerWidth : 0;
}

// ---- Controls -------------------------------------------------------------------------------

namespace {

ControlRec* Live(State* s, GtkWidget* widget) {
    return s->ControlOfWidget(widget);
}

// -- scroll bar

void ConfigureScrollBar(ControlRec* rec, const ControlView& view) {
    // Positions run minimum .. maximum - max(page - 1, 0): a GtkAdjustment reaches
    // lower .. upper - page_size, so upper is maximum + 1 when a page is set.
    double lower = view.minimum;
    double page = std::max(0, view.pageLength);
    double upper = page > 0 ? double(view.maximum) + 1.0 : double(view.maximum);
    upper = std::max(upper, lower);
    double pageIncrement = page > 0 ? page : 1.0;
    gtk_adjustment_configure(rec->adjustment, view.state, lower, upper, 1.0, pageIncrement, page);
}

gboolean OnScrollChange(GtkRange* range, GtkScrollType scroll, gdouble value, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, GTK_WIDGET(range));
    if (rec == nullptr || s->muted > 0) return TRUE;
    using notify::Scroll;
    Scroll action;
    switch (scroll) {
    case GTK_SCROLL_STEP_BACKWARD:
    case GTK_SCROLL_STEP_UP:
    case GTK_SCROLL_STEP_LEFT:
        action = Scroll::LineUp;
        break;
    case GTK_SCROLL_STEP_FORWARD:
    case GTK_SCROLL_STEP_DOWN:
    case GTK_SCROLL_STEP_RIGHT:
        action = Scroll::LineDown;
        break;
    case GTK_SCROLL_PAGE_BACKWARD:
    case GTK_SCROLL_PAGE_UP:
    case GTK_SCROLL_PAGE_LEFT:
        action = Scroll::PageUp;
        break;
    case GTK_SCROLL_PAGE_FORWARD:
    case GTK_SCROLL_PAGE_DOWN:
    case GTK_SCROLL_PAGE_RIGHT:
        action = Scroll::PageDown;
        break;
    case GTK_SCROLL_START:
        action = Scroll::Top;
        break;
    case GTK_SCROLL_END:
        action = Scroll::Bottom;
        break;
    case GTK_SCROLL_JUMP:
        action = Scroll::ThumbTrack;
        if (rec->scrollPressed) rec->scrollDragged = true;
        break;
    default:
        return TRUE;
    }
    notify::ScrollAction(rec->number, action, static_cast<int32_t>(std::lround(value)));
    return TRUE; // the core clamps and pushes the position back through UpdateControl
}

// Something other than a scroll gesture moved the adjustment (an accessibility tool, say):
// the core hears of it as a thumb track so that it never drifts from the widget.
void OnScrollValue(GtkAdjustment* adjustment, gpointer data) {
    auto* rec = static_cast<ControlRec*>(data);
    if (rec->state->muted > 0) return;
    auto value = static_cast<int32_t>(std::lround(gtk_adjustment_get_value(adjustment)));
    if (value == rec->view.state) return;
    notify::ScrollAction(rec->number, notify::Scroll::ThumbTrack, value);
}

void ReportScrollRelease(State* s, GtkWidget* widget) {
    ControlRec* rec = Live(s, widget);
    if (rec == nullptr || rec->kind != KindScrollBar || !rec->scrollPressed) return;
    rec->scrollPressed = false;
    if (rec->repeatTimer != 0) g_source_remove(rec->repeatTimer);
    rec->repeatTimer = 0;
    const int number = rec->number;
    if (rec->scrollDragged) {
        rec->scrollDragged = false;
        notify::ScrollAction(number, notify::Scroll::ThumbPosition, rec->view.state);
    }
    rec = Live(s, widget);
    if (rec == nullptr) return;
    notify::ScrollAction(number, notify::Scroll::EndScroll, rec->view.state);
}

// The scroll bar's arrows are buttons of its own: GTK's steppers move the adjustment by small
// jumps rather than by whole lines. A press steps one line, and steps again while held.
constexpr guint kRepeatDelayMs = 400;
constexpr guint kRepeatIntervalMs = 50;

gboolean RepeatScrollStep(gpointer data);

void StepScrollBar(ControlRec* rec, int direction) {
    notify::ScrollAction(rec->number,
                         direction < 0 ? notify::Scroll::LineUp : notify::Scroll::LineDown, 0);
}

gboolean OnScrollArrowPress(GtkWidget* button, GdkEventButton* event, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, button);
    if (rec == nullptr || event->type != GDK_BUTTON_PRESS || event->button != 1) return FALSE;
    int direction = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "pm-delta"));
    if (rec->repeatTimer != 0) g_source_remove(rec->repeatTimer);
    g_object_set_data(G_OBJECT(rec->handle), "pm-repeat", GINT_TO_POINTER(direction));
    rec->repeatTimer = g_timeout_add(kRepeatDelayMs, &RepeatScrollStep, rec->handle);
    StepScrollBar(rec, direction);
    return FALSE; // the button still shows itself pressed
}

gboolean RepeatScrollStep(gpointer data) {
    auto* bar = static_cast<GtkWidget*>(data);
    auto* s = static_cast<State*>(g_object_get_data(G_OBJECT(bar), "pm-state"));
    ControlRec* rec = s != nullptr ? Live(s, bar) : nullptr;
    if (rec == nullptr) return G_SOURCE_REMOVE;
    int direction = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(bar), "pm-repeat"));
    rec->repeatTimer = g_timeout_add(kRepeatIntervalMs, &RepeatScrollStep, bar);
    StepScrollBar(rec, direction);
    return G_SOURCE_REMOVE;
}

GtkWidget* MakeScrollArrow(State* s, bool vertical, int direction, int size) {
    const char* icon = vertical ? (direction < 0 ? "pan-up-symbolic" : "pan-down-symbolic")
                                : (direction < 0 ? "pan-start-symbolic" : "pan-end-symbolic");
    GtkWidget* button = gtk_button_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(button), "pm-arrow");
    GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_MENU);
    gtk_image_set_pixel_size(GTK_IMAGE(image), std::max(4, std::min(10, size - 4)));
    gtk_container_add(GTK_CONTAINER(button), image);
    gtk_widget_set_can_focus(button, FALSE);
    gtk_widget_set_size_request(button, size, size);
    g_object_set_data(G_OBJECT(button), "pm-delta", GINT_TO_POINTER(direction));
    g_signal_connect(button, "button-press-event", G_CALLBACK(OnScrollArrowPress), s);
    return button;
}

// -- check box, button

void OnCheckClicked(GtkButton* button, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, GTK_WIDGET(button));
    if (rec == nullptr || s->muted > 0) return;
    notify::CheckClicked(rec->number);
}

void OnButtonClicked(GtkButton* button, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, GTK_WIDGET(button));
    if (rec == nullptr || s->muted > 0) return;
    notify::ButtonClicked(rec->number);
}

gboolean OnFocusChange(GtkWidget* widget, GdkEventFocus* event, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, widget);
    if (rec != nullptr) notify::FocusChanged(rec->number, event->in != 0);
    return FALSE;
}

// -- text field, spin box text part

void OnInsertText(GtkEditable* editable, gchar* text, gint length, gint*, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, GTK_WIDGET(editable));
    if (rec == nullptr || s->muted > 0) return;
    Text typed = length < 0 ? Text(text) : Text(text, size_t(length));
    if (!notify::AcceptsTyping(rec->number, typed))
        g_signal_stop_emission_by_name(editable, "insert-text");
}

void OnTextChanged(GtkEditable* editable, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, GTK_WIDGET(editable));
    if (rec == nullptr || s->muted > 0) return;
    Text text = gtk_entry_get_text(GTK_ENTRY(editable));
    notify::TextEdited(rec->number, text, gtk_editable_get_position(editable));
}

// The arrow keys in a spin box's text part work its arrows.
gboolean OnSpinKey(GtkWidget* entry, GdkEventKey* event, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, entry);
    if (rec == nullptr) return FALSE;
    if (event->keyval == GDK_KEY_Up || event->keyval == GDK_KEY_KP_Up) {
        notify::SpinArrow(rec->number, +1);
        return TRUE;
    }
    if (event->keyval == GDK_KEY_Down || event->keyval == GDK_KEY_KP_Down) {
        notify::SpinArrow(rec->number, -1);
        return TRUE;
    }
    return FALSE;
}

void OnSpinArrow(GtkButton* button, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, GTK_WIDGET(button));
    if (rec == nullptr || s->muted > 0) return;
    int delta = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "pm-delta"));
    notify::SpinArrow(rec->number, delta);
}

GtkWidget* MakeEntry(State* s, const ControlView& view) {
    GtkWidget* entry = gtk_entry_new();
    // Every entry is a drop target of its own; a file dropped on it must reach the window.
    gtk_drag_dest_unset(entry);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
    gtk_entry_set_max_width_chars(GTK_ENTRY(entry), 1);
    gtk_entry_set_text(GTK_ENTRY(entry), Utf8(view.text).c_str());
    g_signal_connect(entry, "insert-text", G_CALLBACK(OnInsertText), s);
    g_signal_connect(entry, "changed", G_CALLBACK(OnTextChanged), s);
    g_signal_connect(entry, "focus-in-event", G_CALLBACK(OnFocusChange), s);
    g_signal_connect(entry, "focus-out-event", G_CALLBACK(OnFocusChange), s);
    return entry;
}

GtkWidget* MakeArrow(State* s, const char* icon, int delta, int width, int height) {
    GtkWidget* button = gtk_button_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(button), "pm-arrow");
    GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_MENU);
    gtk_image_set_pixel_size(GTK_IMAGE(image), std::max(4, std::min(8, height - 2)));
    gtk_container_add(GTK_CONTAINER(button), image);
    gtk_widget_set_can_focus(button, FALSE);
    gtk_widget_set_size_request(button, width, height);
    g_object_set_data(G_OBJECT(button), "pm-delta", GINT_TO_POINTER(delta));
    g_signal_connect(button, "clicked", G_CALLBACK(OnSpinArrow), s);
    return button;
}

// Keeps a label from asking for more room than its rectangle (it is cut short instead).
void FitLabel(GtkWidget* label) {
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_label_set_width_chars(GTK_LABEL(label), 0);
}

void SetEntryText(GtkWidget* entry, const ControlView& view) {
    std::string text = Utf8(view.text);
    if (text != gtk_entry_get_text(GTK_ENTRY(entry)))
        gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
    if (view.caret >= 0) gtk_editable_set_position(GTK_EDITABLE(entry), view.caret);
}

void SetCheckState(GtkWidget* check, int32_t state) {
    gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(check), state == -1);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), state != 0);
}

// -- canvas

void ConvertPicture(ControlRec* rec, const Picture& picture) {
    const PixelBuffer& px = picture.pixels();
    if (px.width <= 0 || px.height <= 0 || px.bits == nullptr) return;
    if (!rec->surface || cairo_image_surface_get_width(rec->surface.get()) != px.width ||
        cairo_image_surface_get_height(rec->surface.get()) != px.height) {
        rec->surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, px.width, px.height));
    }
    cairo_surface_t* surface = rec->surface.get();
    cairo_surface_flush(surface);
    uint8_t* out = cairo_image_surface_get_data(surface);
    const int outStride = cairo_image_surface_get_stride(surface);
    const int bytes = px.bitsPerPixel / 8;
    // Both layouts keep blue, green, red in the first three bytes of a little-endian pixel;
    // the picture's rows run bottom-up.
    for (int32_t y = 0; y < px.height; ++y) {
        const uint8_t* in = px.bits + size_t(px.height - 1 - y) * size_t(px.stride);
        auto* row = reinterpret_cast<uint32_t*>(out + size_t(y) * size_t(outStride));
        for (int32_t x = 0; x < px.width; ++x, in += bytes) {
            row[x] = uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16;
        }
    }
    cairo_surface_mark_dirty(surface);
}

void PaintCanvas(ControlRec* rec, cairo_t* cr) {
    if (rec->surface) {
        cairo_set_source_surface(cr, rec->surface.get(), 0, 0);
    } else {
        cairo_set_source_rgb(cr, 1, 1, 1);
    }
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
}

gboolean OnCanvasDraw(GtkWidget* area, cairo_t* cr, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, area);
    if (rec != nullptr) PaintCanvas(rec, cr);
    return TRUE;
}

gboolean OnCanvasMotion(GtkWidget* area, GdkEventMotion* event, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, area);
    if (rec == nullptr) return FALSE;
    notify::CanvasInput(rec->number, notify::Mouse::Move, int32_t(std::floor(event->x)),
                        int32_t(std::floor(event->y)), ButtonsOf(event->state),
                        ModifiersOf(event->state), 0);
    return TRUE;
}

gboolean OnCanvasLeave(GtkWidget* area, GdkEventCrossing* event, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, area);
    if (rec == nullptr || event->detail == GDK_NOTIFY_INFERIOR) return FALSE;
    // While a button is held the canvas keeps the pointer (the press's implicit grab), so the
    // pointer leaves only when the grab ends outside the canvas.
    if (event->mode == GDK_CROSSING_GRAB || event->mode == GDK_CROSSING_GTK_GRAB) return FALSE;
    if (event->mode == GDK_CROSSING_NORMAL && ButtonsOf(event->state) != 0) return FALSE;
    notify::CanvasInput(rec->number, notify::Mouse::Leave, int32_t(std::floor(event->x)),
                        int32_t(std::floor(event->y)), ButtonsOf(event->state),
                        ModifiersOf(event->state), 0);
    return FALSE;
}

gboolean OnCanvasButton(GtkWidget* area, GdkEventButton* event, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, area);
    if (rec == nullptr) return FALSE;
    const uint32_t bit = ButtonBit(event->button);
    if (bit == 0) return TRUE;
    using notify::Mouse;
    Mouse message;
    uint32_t buttons = ButtonsOf(event->state);
    if (event->type == GDK_BUTTON_PRESS) {
        // GDK follows the second press of a double click with a double-press event at once;
        // that one stands for both, as a double click replaces its second press.
        if (GdkEvent* next = gdk_event_peek(); next != nullptr) {
            bool isDouble = next->type == GDK_2BUTTON_PRESS && next->button.button == event->button;
            gdk_event_free(next);
            if (isDouble) return TRUE;
        }
        message = bit == 1 ? Mouse::LeftDown : bit == 2 ? Mouse::RightDown : Mouse::MiddleDown;
        buttons |= bit;
    } else if (event->type == GDK_2BUTTON_PRESS) {
        message = bit == 1   ? Mouse::LeftDouble
                  : bit == 2 ? Mouse::RightDouble
                             : Mouse::MiddleDouble;
        buttons |= bit;
    } else if (event->type == GDK_BUTTON_RELEASE) {
        message = bit == 1 ? Mouse::LeftUp : bit == 2 ? Mouse::RightUp : Mouse::MiddleUp;
        buttons &= ~bit;
    } else {
        return TRUE; // a triple press: the third press already came as a plain press
    }
    notify::CanvasInput(rec->number, message, int32_t(std::floor(event->x)),
                        int32_t(std::floor(event->y)), buttons, ModifiersOf(event->state), 0);
    return TRUE;
}

gboolean OnCanvasScroll(GtkWidget* area, GdkEventScroll* event, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, area);
    if (rec == nullptr) return FALSE;
    int32_t delta = 0;
    if (event->direction == GDK_SCROLL_UP) delta = 120;
    if (event->direction == GDK_SCROLL_DOWN) delta = -120;
    if (event->direction == GDK_SCROLL_SMOOTH) delta = int32_t(std::lround(-event->delta_y * 120));
    if (delta == 0) return TRUE;
    notify::CanvasInput(rec->number, notify::Mouse::Wheel, int32_t(std::floor(event->x)),
                        int32_t(std::floor(event->y)), ButtonsOf(event->state),
                        ModifiersOf(event->state), delta);
    return TRUE;
}

gboolean OnCanvasKey(GtkWidget* area, GdkEventKey* event, gpointer data) {
    auto* s = static_cast<State*>(data);
    ControlRec* rec = Live(s, area);
    if (rec == nullptr) return FALSE;
    const int number = rec->number;
    const bool down = event->type == GDK_KEY_PRESS;
    const uint32_t modifiers = ModifiersOf(event->state);
    int code = VirtualKeyOf(event->keyval);
    if (code != 0)
        notify::CanvasInput(number, down ? notify::Mouse::KeyDown : notify::Mouse::KeyUp, 0, 0,
                            ButtonsOf(event->state), modifiers, code);
    gunichar ch = gdk_keyval_to_unicode(event->keyval);
    if (down && ch >= 32 && Live(s, area) != nullptr)
        notify::CanvasInput(number, notify::Mouse::Char, 0, 0, ButtonsOf(event->state), modifiers,
                            int32_t(ch));
    return TRUE;
}

} // namespace

intptr_t GtkBackend::CreateControl(intptr_t window, const ControlView& view) {
    State& s = *state_;
    WindowRec* w = s.Window(window);
    if (w == nullptr || view.width < 0 || view.height < 0) return 0;
    auto rec = std::make_unique<ControlRec>();
    rec->state = &s;
    rec->number = view.number;
    rec->window = w->number;
    rec->kind = view.kind;
    rec->flags = view.flags;
    rec->view = view;
    rec->view.picture = nullptr;
    Muted quiet(&s);

    std::vector<GtkWidget*> widgets;
    switch (view.kind) {
    case KindScrollBar: {
        rec->adjustment = gtk_adjustment_new(0, 0, 1, 1, 1, 0);
        ConfigureScrollBar(rec.get(), view);
        bool vertical = (view.flags & ScrollVertical) != 0;
        const GtkOrientation orientation =
            vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL;
        GtkWidget* bar = gtk_scrollbar_new(orientation, rec->adjustment);
        gtk_style_context_add_class(gtk_widget_get_style_context(bar), "pm-scroll");
        g_object_set_data(G_OBJECT(bar), "pm-state", &s);
        g_signal_connect(bar, "change-value", G_CALLBACK(OnScrollChange), &s);
        g_signal_connect(rec->adjustment, "value-changed", G_CALLBACK(OnScrollValue), rec.get());
        // Arrows as long as the bar is thick, unless the bar is too short to hold them.
        const int thickness = vertical ? view.width : view.height;
        const int length = vertical ? view.height : view.width;
        const int arrow = std::max(0, std::min(thickness, length / 3));
        GtkWidget* box = gtk_box_new(orientation, 0);
        if (arrow > 0) {
            GtkWidget* back = MakeScrollArrow(&s, vertical, -1, arrow);
            GtkWidget* forward = MakeScrollArrow(&s, vertical, +1, arrow);
            gtk_box_pack_start(GTK_BOX(box), back, FALSE, FALSE, 0);
            gtk_box_pack_end(GTK_BOX(box), forward, FALSE, FALSE, 0);
            gtk_widget_set_name(back, "pm-scroll-back");
            gtk_widget_set_name(forward, "pm-scroll-forward");
            widgets.insert(widgets.end(), {back, forward});
        }
        gtk_box_pack_start(GTK_BOX(box), bar, TRUE, TRUE, 0);
        rec->handle = bar;
        rec->outer = box;
        widgets.push_back(box);
        break;
    }
    case KindCheckBox: {
        GtkWidget* check = gtk_check_button_new_with_label(Utf8(view.text).c_str());
        if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(check)); GTK_IS_LABEL(label))
            FitLabel(label);
        SetCheckState(check, view.state);
        g_signal_connect(check, "clicked", G_CALLBACK(OnCheckClicked), &s);
        g_signal_connect(check, "focus-in-event", G_CALLBACK(OnFocusChange), &s);
        g_signal_connect(check, "focus-out-event", G_CALLBACK(OnFocusChange), &s);
        rec->handle = rec->outer = check;
        break;
    }
    case KindLabel: {
        GtkWidget* label = gtk_label_new(Utf8(view.text).c_str());
        gtk_style_context_add_class(gtk_widget_get_style_context(label), "pm-label");
        float xalign = (view.flags & 3) == LabelRight     ? 1.0f
                       : (view.flags & 3) == LabelCentred ? 0.5f
                                                          : 0.0f;
        gtk_label_set_xalign(GTK_LABEL(label), xalign);
        gtk_label_set_yalign(GTK_LABEL(label), 0.5f);
        FitLabel(label);
        if (view.flags & LabelSunken) {
            GtkWidget* frame = gtk_frame_new(nullptr);
            gtk_style_context_add_class(gtk_widget_get_style_context(frame), "pm-sunken");
            gtk_container_add(GTK_CONTAINER(frame), label);
            rec->outer = frame;
            widgets.push_back(frame);
        } else {
            rec->outer = label;
        }
        rec->handle = label;
        break;
    }
    case KindSpinBox: {
        const int arrowWidth = std::max(view.height / 2, 18);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        GtkWidget* entry = MakeEntry(&s, view);
        gtk_entry_set_alignment(GTK_ENTRY(entry), 1.0f);
        if (view.flags & SpinReadOnly) gtk_editable_set_editable(GTK_EDITABLE(entry), FALSE);
        gtk_widget_set_size_request(entry, std::max(1, view.width - arrowWidth), view.height);
        g_signal_connect(entry, "key-press-event", G_CALLBACK(OnSpinKey), &s);
        GtkWidget* arrows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        const int upHeight = view.height / 2;
        GtkWidget* up = MakeArrow(&s, "pan-up-symbolic", +1, arrowWidth, upHeight);
        GtkWidget* down =
            MakeArrow(&s, "pan-down-symbolic", -1, arrowWidth, view.height - upHeight);
        gtk_box_pack_start(GTK_BOX(arrows), up, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(arrows), down, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), entry, TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(box), arrows, FALSE, FALSE, 0);
        gtk_widget_set_name(up, "pm-spin-up");
        gtk_widget_set_name(down, "pm-spin-down");
        rec->entry = entry;
        rec->handle = entry;
        rec->outer = box;
        widgets.insert(widgets.end(), {box, up, down, arrows});
        break;
    }
    case KindTextField: {
        GtkWidget* entry = MakeEntry(&s, view);
        if (view.flags & TextNoBorder) gtk_entry_set_has_frame(GTK_ENTRY(entry), FALSE);
        rec->entry = entry;
        rec->handle = rec->outer = entry;
        break;
    }
    case KindButton: {
        GtkWidget* button = gtk_button_new_with_label(Utf8(view.text).c_str());
        if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(button)); GTK_IS_LABEL(label))
            FitLabel(label);
        g_signal_connect(button, "clicked", G_CALLBACK(OnButtonClicked), &s);
        g_signal_connect(button, "focus-in-event", G_CALLBACK(OnFocusChange), &s);
        g_signal_connect(button, "focus-out-event", G_CALLBACK(OnFocusChange), &s);
        rec->handle = rec->outer = button;
        break;
    }
    case KindCanvas: {
        GtkWidget* area = gtk_drawing_area_new();
        const int border = (view.flags & CanvasSunken) ? 2 : 0;
        gtk_widget_set_size_request(area, std::max(1, view.width - 2 * border),
                                    std::max(1, view.height - 2 * border));
        gtk_widget_add_events(area, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                        GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK |
                                        GDK_ENTER_NOTIFY_MASK | GDK_SCROLL_MASK |
                                        GDK_SMOOTH_SCROLL_MASK | GDK_KEY_PRESS_MASK |
                                        GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK);
        g_signal_connect(area, "draw", G_CALLBACK(OnCanvasDraw), &s);
        g_signal_connect(area, "motion-notify-event", G_CALLBACK(OnCanvasMotion), &s);
        g_signal_connect(area, "leave-notify-event", G_CALLBACK(OnCanvasLeave), &s);
        g_signal_connect(area, "button-press-event", G_CALLBACK(OnCanvasButton), &s);
        g_signal_connect(area, "button-release-event", G_CALLBACK(OnCanvasButton), &s);
        g_signal_connect(area, "scroll-event", G_CALLBACK(OnCanvasScroll), &s);
        if (view.flags & CanvasKeyboard) {
            gtk_widget_set_can_focus(area, TRUE);
            g_signal_connect(area, "key-press-event", G_CALLBACK(OnCanvasKey), &s);
            g_signal_connect(area, "key-release-event", G_CALLBACK(OnCanvasKey), &s);
            g_signal_connect(area, "focus-in-event", G_CALLBACK(OnFocusChange), &s);
            g_signal_connect(area, "focus-out-event", G_CALLBACK(OnFocusChange), &s);
        }
        if (border > 0) {
            GtkWidget* frame = gtk_frame_new(nullptr);
            gtk_style_context_add_class(gtk_widget_get_style_context(frame), "pm-sunken");
            gtk_container_add(GTK_CONTAINER(frame), area);
            rec->outer = frame;
            widgets.push_back(frame);
        } else {
            rec->outer = area;
        }
        rec->area = area;
        rec->handle = area;
        if (view.picture != nullptr) ConvertPicture(rec.get(), *view.picture);
        break;
    }
    default:
        return 0;
    }

    if (view.kind != KindSpinBox && view.kind != KindCanvas)
        gtk_widget_set_size_request(rec->outer, view.width, view.height);
    if (view.kind == KindSpinBox) gtk_widget_set_size_request(rec->outer, view.width, view.height);
    gtk_widget_set_sensitive(rec->outer, view.enabled);
    gtk_fixed_put(GTK_FIXED(w->fixed), rec->outer, view.x, view.y);
    // The status bar stays on top of the controls it covers.
    if (w->status != nullptr) {
        g_object_ref(w->status);
        gtk_container_remove(GTK_CONTAINER(w->fixed), w->status);
        gtk_container_add(GTK_CONTAINER(w->fixed), w->status);
        g_object_unref(w->status);
        Relayout(w);
    }
    gtk_widget_show_all(rec->outer);

    GtkWidget* handle = rec->handle;
    widgets.push_back(rec->handle);
    if (rec->outer != rec->handle) widgets.push_back(rec->outer);
    for (GtkWidget* widget : widgets) s.byWidget[widget] = rec.get();
    s.controls[handle] = std::move(rec);
    return H(handle);
}

void GtkBackend::UpdateControl(intptr_t control, const ControlView& view) {
    State& s = *state_;
    ControlRec* rec = s.Control(control);
    if (rec == nullptr) return;
    Muted quiet(&s);
    const ControlView before = rec->view;
    rec->view = view;
    rec->view.picture = nullptr;
    switch (rec->kind) {
    case KindScrollBar:
        ConfigureScrollBar(rec, view);
        break;
    case KindCheckBox:
    case KindButton:
        if (view.text != before.text)
            gtk_button_set_label(GTK_BUTTON(rec->handle), Utf8(view.text).c_str());
        if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(rec->handle)); GTK_IS_LABEL(label))
            FitLabel(label);
        if (rec->kind == KindCheckBox) SetCheckState(rec->handle, view.state);
        break;
    case KindLabel:
        gtk_label_set_text(GTK_LABEL(rec->handle), Utf8(view.text).c_str());
        break;
    case KindSpinBox:
    case KindTextField:
        SetEntryText(rec->entry, view);
        break;
    case KindCanvas:
        break;
    default:
        break;
    }
    if (view.enabled != before.enabled) gtk_widget_set_sensitive(rec->outer, view.enabled);
}

void GtkBackend::DestroyControl(intptr_t control) {
    State& s = *state_;
    ControlRec* rec = s.Control(control);
    if (rec == nullptr) return;
    GtkWidget* outer = rec->outer;
    g_object_ref(outer);
    s.Forget(W(control));
    gtk_widget_destroy(outer);
    g_object_unref(outer);
}

void GtkBackend::FocusControl(intptr_t control) {
    ControlRec* rec = state_->Control(control);
    if (rec == nullptr) return;
    gtk_widget_grab_focus(rec->entry != nullptr ? rec->entry : rec->handle);
}

// ---- The canvas -----------------------------------------------------------------------------

void GtkBackend::ShowCanvas(intptr_t control, const Picture& picture) {
    ControlRec* rec = state_->Control(control);
    if (rec == nullptr || rec->kind != KindCanvas) return;
    ConvertPicture(rec, picture);
    GtkWidget* area = rec->area;
    if (!gtk_widget_get_mapped(area) || !rec->surface) return;
    // Paint now, through the top-level window that owns the native surface, clipped to the
    // canvas; a later expose paints the same surface again.
    GtkWidget* toplevel = gtk_widget_get_toplevel(area);
    GdkWindow* native = gtk_widget_get_window(toplevel);
    if (native == nullptr || !gdk_window_is_viewable(native)) return;
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(area, toplevel, 0, 0, &x, &y)) return;
    GtkAllocation box;
    gtk_widget_get_allocation(area, &box);
    cairo_rectangle_int_t rect{x, y, box.width, box.height};
    cairo_region_t* region = cairo_region_create_rectangle(&rect);
    GdkDrawingContext* context = gdk_window_begin_draw_frame(native, region);
    if (context != nullptr) {
        cairo_t* cr = gdk_drawing_context_get_cairo_context(context);
        cairo_save(cr);
        cairo_rectangle(cr, x, y, box.width, box.height);
        cairo_clip(cr);
        cairo_translate(cr, x, y);
        PaintCanvas(rec, cr);
        cairo_restore(cr);
        gdk_window_end_draw_frame(native, context);
    }
    cairo_region_destroy(region);
    gdk_display_flush(gdk_window_get_display(native));
}

// ---- The native wait ------------------------------------------------------------------------

int32_t GtkBackend::WaitNative() {
    State& s = *state_;
    const uint64_t start = s.handled;
    KeymapMayHaveChanged();
    while (s.handled == start && !wakeUp && QueuedEventCount() == 0) {
        g_main_context_iteration(nullptr, TRUE);
    }
    wakeUp = false;
    if (s.handled != start) return kNativeBase + (s.lastEventType & 0xFFFF);
    return kWakeUpMessage;
}

} // namespace tk::gtk

namespace tk {

std::unique_ptr<Backend> MakeGtkBackend() {
    return std::make_unique<gtk::GtkBackend>();
}

} // namespace tk
