// Windows, their menus and the status bar of the GTK 3 backend.
//
// Sections: windows (signal handlers, creation, layout); menus; the status bar.
//
// A program window is a GtkWindow holding a vertical box: the optional menu bar on top, the inner
// area (a GtkFixed that holds every control) below it. The status bar stands in the inner area,
// over the bottom strip, on top of the controls it covers.
#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <string>
#include <vector>

#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/gtk/gtk_names.h"
#include "toolkit/window.h"

namespace tk::gtk {

// ---- Windows --------------------------------------------------------------------------------

void Relayout(WindowRec* w) {
    int menuHeight = 0;
    if (w->menuBar != nullptr) {
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height(w->menuBar, &minimum, &natural);
        menuHeight = std::max(minimum, natural);
    }
    int height = std::max(1, w->innerHeight - menuHeight);
    if (!w->sizable) gtk_widget_set_size_request(w->fixed, w->innerWidth, height);
    if (w->status != nullptr) {
        const StatusRec* bar = w->state->StatusBar(w->status);
        const int statusHeight = bar != nullptr ? bar->height : kMinStatusHeight;
        gtk_fixed_move(GTK_FIXED(w->fixed), w->status, 0, std::max(0, height - statusHeight));
    }
}

void KeepStatusBarOnTop(WindowRec* w) {
    if (w->status == nullptr) return;
    g_object_ref(w->status);
    gtk_container_remove(GTK_CONTAINER(w->fixed), w->status);
    gtk_container_add(GTK_CONTAINER(w->fixed), w->status);
    g_object_unref(w->status);
    Relayout(w);
}

namespace {

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

// A window comes on screen when the loop next runs, with the controls the program added after
// creating it. Mapped at once and filled afterwards, it could miss the pointer's arrival: its
// canvas then saw neither pointer nor wheel until the pointer left the window and came back.
gboolean ShowWhenBuilt(gpointer data) {
    auto* w = static_cast<WindowRec*>(data);
    w->showSource = 0;
    gtk_widget_show(w->window);
    return G_SOURCE_REMOVE;
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
    auto* w = static_cast<WindowRec*>(data);
    if (!w->configured) {
        w->configured = true;
        // A window the person sizes may have been sized before it first showed: that counts.
        const bool sized = event->width != w->innerWidth || event->height != w->innerHeight;
        if (w->sizable && sized) {
            w->lastWidth = event->width;
            w->lastHeight = event->height;
            notify::SizeChanged(w->number, notify::SizeChange::Resized);
        }
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
    BackendState& s = *state_;
    if (!s.started || innerWidth < 0 || innerHeight < 0) return 0;
    auto rec = std::make_unique<WindowRec>();
    rec->state = &s;
    rec->number = number;
    rec->innerWidth = innerWidth;
    rec->innerHeight = innerHeight;

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    rec->window = window;
    AddStyleClass(window, "pm-window");
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
    gtk_widget_set_name(rec->fixed, names::kInnerArea);
    if (flags & WindowSizingBorder) {
        // The person sizes the window; the program places the controls to fit. The inner area
        // stands in a viewport that shows no scroll bars and asks for no size of its own, so
        // that the controls' places never keep the window from shrinking.
        rec->sizable = true;
        GtkWidget* holder = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(holder), GTK_POLICY_EXTERNAL,
                                       GTK_POLICY_EXTERNAL);
        gtk_container_add(GTK_CONTAINER(holder), rec->fixed);
        GtkWidget* viewport = gtk_bin_get_child(GTK_BIN(holder));
        if (GTK_IS_VIEWPORT(viewport))
            gtk_viewport_set_shadow_type(GTK_VIEWPORT(viewport), GTK_SHADOW_NONE);
        gtk_box_pack_end(GTK_BOX(rec->box), holder, TRUE, TRUE, 0);
        gtk_window_set_default_size(GTK_WINDOW(window), innerWidth, std::max(1, innerHeight));
    } else {
        gtk_widget_set_size_request(rec->fixed, innerWidth, std::max(1, innerHeight));
        gtk_box_pack_end(GTK_BOX(rec->box), rec->fixed, TRUE, TRUE, 0);
    }
    gtk_container_add(GTK_CONTAINER(window), rec->box);
    gtk_widget_show_all(rec->box);

    // The window owns the group; the record only points at it.
    rec->accelerators = gtk_accel_group_new();
    gtk_window_add_accel_group(GTK_WINDOW(window), rec->accelerators);
    g_object_unref(rec->accelerators);

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
    if (!(flags & WindowHidden))
        w->showSource = g_idle_add_full(G_PRIORITY_HIGH, ShowWhenBuilt, w, nullptr);
    return H(window);
}

void GtkBackend::SetWindowTitle(intptr_t window, const Text& title) {
    if (state_->Window(window) == nullptr) return;
    gtk_window_set_title(GTK_WINDOW(W(window)), Utf8(title).c_str());
}

bool GtkBackend::InnerSize(intptr_t window, int& width, int& height) {
    WindowRec* w = state_->Window(window);
    if (w == nullptr) return false;
    width = w->innerWidth;
    height = w->innerHeight;
    if (w->sizable && w->configured) { // the window's own size, the menu bar's height less
        int menuHeight = 0;
        if (w->menuBar != nullptr) menuHeight = gtk_widget_get_allocated_height(w->menuBar);
        width = w->lastWidth;
        height = w->lastHeight - menuHeight;
    }
    return true;
}

void GtkBackend::ActivateWindow(intptr_t window) {
    if (WindowRec* w = state_->Window(window)) gtk_window_present(GTK_WINDOW(w->window));
}

void GtkBackend::DestroyWindow(intptr_t window) {
    BackendState& s = *state_;
    WindowRec* w = s.Window(window);
    if (w == nullptr) return;
    std::vector<GtkWidget*> gone;
    for (auto& entry : s.controls) {
        if (gtk_widget_get_toplevel(entry.second->outer) == w->window) gone.push_back(entry.first);
    }
    for (GtkWidget* handle : gone) s.Forget(handle);
    if (w->status != nullptr) s.statusBars.erase(w->status);
    if (w->showSource != 0) g_source_remove(w->showSource);
    auto owned = std::move(s.windows[W(window)]);
    s.windows.erase(W(window));
    gtk_widget_destroy(owned->window);
}

// A window still waiting to be shown comes on screen before a dialog of its own, so that the
// dialog stands on top of it (a dialog at start-up, before the loop has run).
GtkWindow* GtkBackend::DialogParent() const {
    const BackendState& s = *state_;
    WindowRec* parent = nullptr;
    for (auto& entry : s.windows) {
        if (entry.second->number == 0) {
            parent = entry.second.get();
            break;
        }
        if (parent == nullptr || gtk_window_is_active(GTK_WINDOW(entry.first)))
            parent = entry.second.get();
    }
    if (parent == nullptr) return nullptr;
    if (parent->showSource != 0) {
        g_source_remove(parent->showSource);
        ShowWhenBuilt(parent);
    }
    return GTK_WINDOW(parent->window);
}

// ---- Menus ----------------------------------------------------------------------------------

namespace {

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
    WindowRec* w = m->state->Window(m->window);
    if (w != nullptr) notify::MenuChosen(w->number, m->identifier);
    return TRUE;
}

void OnMenuActivate(GtkMenuItem* item, gpointer data) {
    auto* m = static_cast<MenuItemRec*>(data);
    if (m->state->muted > 0 || !gtk_widget_is_sensitive(GTK_WIDGET(item))) return;
    // A radio item has toggled its own mark; the core's stays until the program changes it.
    if (GTK_IS_CHECK_MENU_ITEM(item)) {
        Muted muted(m->state);
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), m->checked);
    }
    WindowRec* w = m->state->Window(m->window);
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

// An item's accelerator: GTK activates the item for the key while the window has the focus, and
// the item's label shows the key. Items standing on the bar take clicks only.
void AddAccelerator(WindowRec* w, GtkWidget* item, const Accelerator& accelerator) {
    if (accelerator.keyCode == 0 || w->accelerators == nullptr) return;
    const std::vector<guint> keys = KeyValuesOf(accelerator.keyCode);
    if (keys.empty()) return;
    guint modifiers = 0;
    if (accelerator.modifiers & AccelShift) modifiers |= GDK_SHIFT_MASK;
    if (accelerator.modifiers & AccelAlt) modifiers |= GDK_MOD1_MASK;
    if (accelerator.modifiers & AccelCtrl) modifiers |= GDK_CONTROL_MASK;
    gtk_widget_add_accelerator(item, "activate", w->accelerators, keys.front(),
                               GdkModifierType(modifiers), GTK_ACCEL_VISIBLE);
}

void AddMenuItems(WindowRec* w, GtkWidget* shell, const std::vector<MenuItemView>& items,
                  bool onBar) {
    for (const MenuItemView& view : items) {
        GtkWidget* item = nullptr;
        if (view.separator) {
            item = gtk_separator_menu_item_new();
        } else if (view.radio && !onBar) {
            // A check item drawn as a radio item: a GtkRadioMenuItem would move the mark itself.
            item = gtk_check_menu_item_new_with_mnemonic(MenuLabel(view.text).c_str());
            gtk_check_menu_item_set_draw_as_radio(GTK_CHECK_MENU_ITEM(item), TRUE);
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), view.checked);
        } else {
            item = gtk_menu_item_new_with_mnemonic(MenuLabel(view.text).c_str());
        }
        if (!view.separator) {
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
                m->checked = view.checked;
                if (onBar) {
                    g_signal_connect(item, "button-press-event", G_CALLBACK(OnBarItemPress),
                                     m.get());
                    g_signal_connect(item, "button-release-event", G_CALLBACK(OnBarItemRelease),
                                     m.get());
                } else {
                    g_signal_connect(item, "activate", G_CALLBACK(OnMenuActivate), m.get());
                    AddAccelerator(w, item, view.accelerator);
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

void GtkBackend::SetMenuItemChecked(intptr_t window, int identifier, bool checked) {
    WindowRec* w = state_->Window(window);
    if (w == nullptr) return;
    for (const auto& m : w->menuItems)
        if (m->identifier == identifier) m->checked = checked;
    auto it = w->menuWidgets.find(identifier);
    if (it == w->menuWidgets.end() || !GTK_IS_CHECK_MENU_ITEM(it->second)) return;
    Muted muted(state_.get()); // setting the mark activates the item: no report
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(it->second), checked);
}

// ---- Status bar -----------------------------------------------------------------------------

intptr_t GtkBackend::CreateStatusBar(intptr_t window) {
    BackendState& s = *state_;
    WindowRec* w = s.Window(window);
    if (w == nullptr) return 0;
    if (w->status != nullptr) {
        s.statusBars.erase(w->status);
        gtk_widget_destroy(w->status);
    }
    auto rec = std::make_unique<StatusRec>();
    rec->window = w->window;
    rec->box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    AddStyleClass(rec->box, "pm-status");
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
    BackendState& s = *state_;
    StatusRec* bar = s.StatusBar(W(statusBar));
    if (bar == nullptr) return;
    WindowRec* w = s.Window(bar->window);
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
    StatusRec* bar = state_->StatusBar(W(statusBar));
    if (bar == nullptr) return;
    if (field < 0 || static_cast<size_t>(field) >= bar->labels.size()) return;
    gtk_label_set_text(GTK_LABEL(bar->labels[size_t(field)]), Utf8(text).c_str());
}

int32_t GtkBackend::StatusBarWidth(intptr_t statusBar) {
    BackendState& s = *state_;
    StatusRec* bar = s.StatusBar(W(statusBar));
    WindowRec* w = bar != nullptr ? s.Window(bar->window) : nullptr;
    return w != nullptr ? w->innerWidth : 0;
}

} // namespace tk::gtk
