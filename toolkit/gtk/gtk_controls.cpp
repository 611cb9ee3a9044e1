// The controls of the GTK 3 backend: per kind a small factory, an update and the signal
// handlers, then the creation, update, focus and destruction the core asks for (the kind table
// at the end). The canvas kind's factory lives in gtk_canvas.cpp.
//
// Sections: shared pieces (focus, arrow buttons, labels); the scroll bar; check box, label and
// push button; text field and spin box; the kind table and the backend's control operations.
//
// A factory fills a control's record: rec.handle is what the core holds, rec.outer what stands
// in the window's inner area, and `parts` gets every further widget whose signals name the
// control. The state knows all of them, so a handler finds its control from the widget alone.
#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/gtk/gtk_names.h"
#include "toolkit/window.h"

namespace tk::gtk {

void BackendState::Forget(GtkWidget* handle) {
    auto it = controls.find(handle);
    if (it == controls.end()) return;
    ControlRec* rec = it->second.get();
    if (rec->repeatTimer != 0) g_source_remove(rec->repeatTimer);
    for (auto w = byWidget.begin(); w != byWidget.end();) {
        w = w->second == rec ? byWidget.erase(w) : std::next(w);
    }
    controls.erase(it);
}

// ---- Shared pieces --------------------------------------------------------------------------

namespace {

gboolean OnFocusChange(GtkWidget* widget, GdkEventFocus* event, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(widget);
    if (rec != nullptr) notify::FocusChanged(rec->number, event->in != 0);
    return FALSE;
}

// A small arrow button that never takes the focus; kDeltaKey holds the step it makes. The
// caller connects what a press does.
GtkWidget* MakeArrowButton(const char* icon, int iconSize, int width, int height, int delta) {
    GtkWidget* button = gtk_button_new();
    AddStyleClass(button, "pm-arrow");
    GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_MENU);
    gtk_image_set_pixel_size(GTK_IMAGE(image), iconSize);
    gtk_container_add(GTK_CONTAINER(button), image);
    gtk_widget_set_can_focus(button, FALSE);
    gtk_widget_set_size_request(button, width, height);
    g_object_set_data(G_OBJECT(button), names::kDeltaKey, GINT_TO_POINTER(delta));
    return button;
}

int DeltaOf(gpointer button) {
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), names::kDeltaKey));
}

// Keeps a label from asking for more room than its rectangle (it is cut short instead).
void FitLabel(GtkWidget* label) {
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_label_set_width_chars(GTK_LABEL(label), 0);
}

// The same for the label inside a push button or check box.
void FitButtonLabel(GtkWidget* button) {
    if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(button)); GTK_IS_LABEL(label)) FitLabel(label);
}

} // namespace

void ConnectFocus(BackendState* s, GtkWidget* widget) {
    g_signal_connect(widget, "focus-in-event", G_CALLBACK(OnFocusChange), s);
    g_signal_connect(widget, "focus-out-event", G_CALLBACK(OnFocusChange), s);
}

// ---- The scroll bar -------------------------------------------------------------------------

void NoteScrollPress(BackendState* s, GtkWidget* widget) {
    if (ControlRec* rec = s->ControlOfWidget(widget); rec && rec->kind == KindScrollBar) {
        rec->scrollPressed = true;
        rec->scrollDragged = false;
    }
}

void ReportScrollRelease(BackendState* s, GtkWidget* widget) {
    ControlRec* rec = s->ControlOfWidget(widget);
    if (rec == nullptr || rec->kind != KindScrollBar || !rec->scrollPressed) return;
    rec->scrollPressed = false;
    if (rec->repeatTimer != 0) g_source_remove(rec->repeatTimer);
    rec->repeatTimer = 0;
    const int number = rec->number;
    if (rec->scrollDragged) {
        rec->scrollDragged = false;
        notify::ScrollAction(number, notify::Scroll::ThumbPosition, rec->view.state);
    }
    rec = s->ControlOfWidget(widget);
    if (rec == nullptr) return;
    notify::ScrollAction(number, notify::Scroll::EndScroll, rec->view.state);
}

namespace {

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

// What each GTK scroll type means to the core; a scroll bar never reports the other types.
struct ScrollMeaning {
    GtkScrollType type;
    notify::Scroll action;
};
constexpr ScrollMeaning kScrollMeanings[] = {
    {GTK_SCROLL_STEP_BACKWARD, notify::Scroll::LineUp},
    {GTK_SCROLL_STEP_UP, notify::Scroll::LineUp},
    {GTK_SCROLL_STEP_LEFT, notify::Scroll::LineUp},
    {GTK_SCROLL_STEP_FORWARD, notify::Scroll::LineDown},
    {GTK_SCROLL_STEP_DOWN, notify::Scroll::LineDown},
    {GTK_SCROLL_STEP_RIGHT, notify::Scroll::LineDown},
    {GTK_SCROLL_PAGE_BACKWARD, notify::Scroll::PageUp},
    {GTK_SCROLL_PAGE_UP, notify::Scroll::PageUp},
    {GTK_SCROLL_PAGE_LEFT, notify::Scroll::PageUp},
    {GTK_SCROLL_PAGE_FORWARD, notify::Scroll::PageDown},
    {GTK_SCROLL_PAGE_DOWN, notify::Scroll::PageDown},
    {GTK_SCROLL_PAGE_RIGHT, notify::Scroll::PageDown},
    {GTK_SCROLL_START, notify::Scroll::Top},
    {GTK_SCROLL_END, notify::Scroll::Bottom},
    {GTK_SCROLL_JUMP, notify::Scroll::ThumbTrack},
};

std::optional<notify::Scroll> ScrollActionOf(GtkScrollType type) {
    for (const ScrollMeaning& row : kScrollMeanings)
        if (row.type == type) return row.action;
    return std::nullopt;
}

gboolean OnScrollChange(GtkRange* range, GtkScrollType scroll, gdouble value, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(GTK_WIDGET(range));
    if (rec == nullptr || s->muted > 0) return TRUE;
    const std::optional<notify::Scroll> action = ScrollActionOf(scroll);
    if (!action) return TRUE;
    if (*action == notify::Scroll::ThumbTrack && rec->scrollPressed) rec->scrollDragged = true;
    notify::ScrollAction(rec->number, *action, static_cast<int32_t>(std::lround(value)));
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
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(button);
    if (rec == nullptr || event->type != GDK_BUTTON_PRESS || event->button != 1) return FALSE;
    int direction = DeltaOf(button);
    if (rec->repeatTimer != 0) g_source_remove(rec->repeatTimer);
    g_object_set_data(G_OBJECT(rec->handle), names::kRepeatKey, GINT_TO_POINTER(direction));
    rec->repeatTimer = g_timeout_add(kRepeatDelayMs, &RepeatScrollStep, rec->handle);
    StepScrollBar(rec, direction);
    return FALSE; // the button still shows itself pressed
}

gboolean RepeatScrollStep(gpointer data) {
    auto* bar = static_cast<GtkWidget*>(data);
    auto* s = static_cast<BackendState*>(g_object_get_data(G_OBJECT(bar), names::kStateKey));
    ControlRec* rec = s != nullptr ? s->ControlOfWidget(bar) : nullptr;
    if (rec == nullptr) return G_SOURCE_REMOVE;
    int direction = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(bar), names::kRepeatKey));
    rec->repeatTimer = g_timeout_add(kRepeatIntervalMs, &RepeatScrollStep, bar);
    StepScrollBar(rec, direction);
    return G_SOURCE_REMOVE;
}

GtkWidget* MakeScrollArrow(BackendState* s, bool vertical, int direction, int size) {
    const char* icon = vertical ? (direction < 0 ? "pan-up-symbolic" : "pan-down-symbolic")
                                : (direction < 0 ? "pan-start-symbolic" : "pan-end-symbolic");
    GtkWidget* button =
        MakeArrowButton(icon, std::max(4, std::min(10, size - 4)), size, size, direction);
    g_signal_connect(button, "button-press-event", G_CALLBACK(OnScrollArrowPress), s);
    return button;
}

void MakeScrollBar(BackendState& s, ControlRec& rec, const ControlView& view,
                   std::vector<GtkWidget*>& parts) {
    rec.adjustment = gtk_adjustment_new(0, 0, 1, 1, 1, 0);
    ConfigureScrollBar(&rec, view);
    bool vertical = (view.flags & ScrollVertical) != 0;
    const GtkOrientation orientation =
        vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL;
    GtkWidget* bar = gtk_scrollbar_new(orientation, rec.adjustment);
    AddStyleClass(bar, "pm-scroll");
    g_object_set_data(G_OBJECT(bar), names::kStateKey, &s);
    g_signal_connect(bar, "change-value", G_CALLBACK(OnScrollChange), &s);
    g_signal_connect(rec.adjustment, "value-changed", G_CALLBACK(OnScrollValue), &rec);
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
        gtk_widget_set_name(back, names::kScrollBack);
        gtk_widget_set_name(forward, names::kScrollForward);
        parts.insert(parts.end(), {back, forward});
    }
    gtk_box_pack_start(GTK_BOX(box), bar, TRUE, TRUE, 0);
    rec.handle = bar;
    rec.outer = box;
}

void UpdateScrollBar(ControlRec& rec, const ControlView& view, const ControlView&) {
    ConfigureScrollBar(&rec, view);
}

// ---- Check box, label and push button -------------------------------------------------------

void SetCheckState(GtkWidget* check, int32_t state) {
    gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(check), state == -1);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), state != 0);
}

void OnCheckClicked(GtkButton* button, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(GTK_WIDGET(button));
    if (rec == nullptr || s->muted > 0) return;
    notify::CheckClicked(rec->number);
}

void OnButtonClicked(GtkButton* button, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(GTK_WIDGET(button));
    if (rec == nullptr || s->muted > 0) return;
    notify::ButtonClicked(rec->number);
}

// A push button or check box: a "clicked" handler and the focus reports.
void SetUpButton(BackendState& s, ControlRec& rec, GtkWidget* button, GCallback clicked) {
    g_signal_connect(button, "clicked", clicked, &s);
    ConnectFocus(&s, button);
    rec.handle = rec.outer = button;
}

void MakeCheckBox(BackendState& s, ControlRec& rec, const ControlView& view,
                  std::vector<GtkWidget*>&) {
    GtkWidget* check = gtk_check_button_new_with_label(Utf8(view.text).c_str());
    FitButtonLabel(check);
    SetCheckState(check, view.state);
    SetUpButton(s, rec, check, G_CALLBACK(OnCheckClicked));
}

void MakeButton(BackendState& s, ControlRec& rec, const ControlView& view,
                std::vector<GtkWidget*>&) {
    GtkWidget* button = gtk_button_new_with_label(Utf8(view.text).c_str());
    FitButtonLabel(button);
    SetUpButton(s, rec, button, G_CALLBACK(OnButtonClicked));
}

void UpdateButton(ControlRec& rec, const ControlView& view, const ControlView& before) {
    if (view.text != before.text)
        gtk_button_set_label(GTK_BUTTON(rec.handle), Utf8(view.text).c_str());
    FitButtonLabel(rec.handle);
    if (rec.kind == KindCheckBox) SetCheckState(rec.handle, view.state);
}

void MakeLabel(BackendState&, ControlRec& rec, const ControlView& view, std::vector<GtkWidget*>&) {
    GtkWidget* label = gtk_label_new(Utf8(view.text).c_str());
    AddStyleClass(label, "pm-label");
    float xalign = (view.flags & 3) == LabelRight     ? 1.0f
                   : (view.flags & 3) == LabelCentred ? 0.5f
                                                      : 0.0f;
    gtk_label_set_xalign(GTK_LABEL(label), xalign);
    gtk_label_set_yalign(GTK_LABEL(label), 0.5f);
    FitLabel(label);
    rec.outer = (view.flags & LabelSunken) ? SunkenFrame(label) : label;
    rec.handle = label;
}

void UpdateLabel(ControlRec& rec, const ControlView& view, const ControlView&) {
    gtk_label_set_text(GTK_LABEL(rec.handle), Utf8(view.text).c_str());
}

// ---- Text field and spin box ----------------------------------------------------------------

void OnInsertText(GtkEditable* editable, gchar* text, gint length, gint*, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(GTK_WIDGET(editable));
    if (rec == nullptr || s->muted > 0) return;
    Text typed = length < 0 ? Text(text) : Text(text, size_t(length));
    if (!notify::AcceptsTyping(rec->number, typed))
        g_signal_stop_emission_by_name(editable, "insert-text");
}

void OnTextChanged(GtkEditable* editable, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(GTK_WIDGET(editable));
    if (rec == nullptr || s->muted > 0) return;
    Text text = gtk_entry_get_text(GTK_ENTRY(editable));
    notify::TextEdited(rec->number, text, gtk_editable_get_position(editable));
}

// The arrow keys in a spin box's text part work its arrows.
gboolean OnSpinKey(GtkWidget* entry, GdkEventKey* event, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(entry);
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
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(GTK_WIDGET(button));
    if (rec == nullptr || s->muted > 0) return;
    notify::SpinArrow(rec->number, DeltaOf(button));
}

void UpdateEntry(ControlRec& rec, const ControlView& view, const ControlView&) {
    std::string text = Utf8(view.text);
    if (text != gtk_entry_get_text(GTK_ENTRY(rec.entry)))
        gtk_entry_set_text(GTK_ENTRY(rec.entry), text.c_str());
    if (view.caret >= 0) gtk_editable_set_position(GTK_EDITABLE(rec.entry), view.caret);
}

// A text entry of either kind; the caller places it and records it.
GtkWidget* MakeEntry(BackendState& s, const ControlView& view) {
    GtkWidget* entry = gtk_entry_new();
    // Every entry is a drop target of its own; a file dropped on it must reach the window.
    gtk_drag_dest_unset(entry);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
    gtk_entry_set_max_width_chars(GTK_ENTRY(entry), 1);
    gtk_entry_set_text(GTK_ENTRY(entry), Utf8(view.text).c_str());
    g_signal_connect(entry, "insert-text", G_CALLBACK(OnInsertText), &s);
    g_signal_connect(entry, "changed", G_CALLBACK(OnTextChanged), &s);
    ConnectFocus(&s, entry);
    return entry;
}

void MakeTextField(BackendState& s, ControlRec& rec, const ControlView& view,
                   std::vector<GtkWidget*>&) {
    GtkWidget* entry = MakeEntry(s, view);
    if (view.flags & TextNoBorder) gtk_entry_set_has_frame(GTK_ENTRY(entry), FALSE);
    rec.entry = entry;
    rec.handle = rec.outer = entry;
}

GtkWidget* MakeSpinArrow(BackendState& s, const char* icon, int delta, int width, int height) {
    GtkWidget* button =
        MakeArrowButton(icon, std::max(4, std::min(8, height - 2)), width, height, delta);
    g_signal_connect(button, "clicked", G_CALLBACK(OnSpinArrow), &s);
    return button;
}

void MakeSpinBox(BackendState& s, ControlRec& rec, const ControlView& view,
                 std::vector<GtkWidget*>& parts) {
    const int arrowWidth = std::max(view.height / 2, kMinSpinArrowWidth);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    GtkWidget* entry = MakeEntry(s, view);
    gtk_entry_set_alignment(GTK_ENTRY(entry), 1.0f);
    if (view.flags & SpinReadOnly) gtk_editable_set_editable(GTK_EDITABLE(entry), FALSE);
    gtk_widget_set_size_request(entry, std::max(1, view.width - arrowWidth), view.height);
    g_signal_connect(entry, "key-press-event", G_CALLBACK(OnSpinKey), &s);
    GtkWidget* arrows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    const int upHeight = view.height / 2;
    GtkWidget* up = MakeSpinArrow(s, "pan-up-symbolic", +1, arrowWidth, upHeight);
    GtkWidget* down = MakeSpinArrow(s, "pan-down-symbolic", -1, arrowWidth, view.height - upHeight);
    gtk_box_pack_start(GTK_BOX(arrows), up, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(arrows), down, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), entry, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), arrows, FALSE, FALSE, 0);
    gtk_widget_set_name(up, names::kSpinUp);
    gtk_widget_set_name(down, names::kSpinDown);
    rec.entry = entry;
    rec.handle = entry;
    rec.outer = box;
    parts.insert(parts.end(), {up, down, arrows});
}

// ---- The kind table and the control operations ----------------------------------------------

// The record keeps the core's last word, but not the picture it points to.
void KeepView(ControlRec& rec, const ControlView& view) {
    rec.view = view;
    rec.view.picture = nullptr;
}

using Factory = void (*)(BackendState& s, ControlRec& rec, const ControlView& view,
                         std::vector<GtkWidget*>& parts);
using Updater = void (*)(ControlRec& rec, const ControlView& view, const ControlView& before);

// How each kind is made, and how a new view reaches it (the canvas takes its pictures through
// ShowCanvas).
struct KindOps {
    int kind;
    Factory make;
    Updater update;
};
constexpr KindOps kKinds[] = {
    {KindScrollBar, &MakeScrollBar, &UpdateScrollBar},
    {KindCheckBox, &MakeCheckBox, &UpdateButton},
    {KindLabel, &MakeLabel, &UpdateLabel},
    {KindSpinBox, &MakeSpinBox, &UpdateEntry},
    {KindTextField, &MakeTextField, &UpdateEntry},
    {KindButton, &MakeButton, &UpdateButton},
    {KindCanvas, &MakeCanvas, nullptr},
};

const KindOps* OpsOf(int kind) {
    for (const KindOps& ops : kKinds)
        if (ops.kind == kind) return &ops;
    return nullptr;
}

} // namespace

intptr_t GtkBackend::CreateControl(intptr_t window, const ControlView& view) {
    BackendState& s = *state_;
    WindowRec* w = s.Window(window);
    const KindOps* ops = OpsOf(view.kind);
    if (w == nullptr || ops == nullptr || view.width < 0 || view.height < 0) return 0;
    auto rec = std::make_unique<ControlRec>();
    rec->state = &s;
    rec->number = view.number;
    rec->window = w->number;
    rec->kind = view.kind;
    rec->flags = view.flags;
    KeepView(*rec, view);
    Muted quiet(&s);

    std::vector<GtkWidget*> widgets;
    ops->make(s, *rec, view, widgets);
    // The canvas sizes its drawing area inside its frame itself.
    if (view.kind != KindCanvas) gtk_widget_set_size_request(rec->outer, view.width, view.height);
    gtk_widget_set_sensitive(rec->outer, view.enabled);
    gtk_fixed_put(GTK_FIXED(w->fixed), rec->outer, view.x, view.y);
    KeepStatusBarOnTop(w);
    gtk_widget_show_all(rec->outer);

    GtkWidget* handle = rec->handle;
    widgets.push_back(rec->handle);
    if (rec->outer != rec->handle) widgets.push_back(rec->outer);
    for (GtkWidget* widget : widgets) s.byWidget[widget] = rec.get();
    s.controls[handle] = std::move(rec);
    return H(handle);
}

void GtkBackend::UpdateControl(intptr_t control, const ControlView& view) {
    BackendState& s = *state_;
    ControlRec* rec = s.Control(control);
    if (rec == nullptr) return;
    Muted quiet(&s);
    const ControlView before = rec->view;
    KeepView(*rec, view);
    const KindOps* ops = OpsOf(rec->kind);
    if (ops != nullptr && ops->update != nullptr) ops->update(*rec, view, before);
    if (view.enabled != before.enabled) gtk_widget_set_sensitive(rec->outer, view.enabled);
    if (view.x != before.x || view.y != before.y)
        if (GtkWidget* area = gtk_widget_get_parent(rec->outer); GTK_IS_FIXED(area))
            gtk_fixed_move(GTK_FIXED(area), rec->outer, view.x, view.y);
    if (view.width != before.width || view.height != before.height) {
        if (rec->kind == KindCanvas)
            SizeCanvas(*rec, view);
        else
            gtk_widget_set_size_request(rec->outer, view.width, view.height);
    }
}

void GtkBackend::DestroyControl(intptr_t control) {
    BackendState& s = *state_;
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

} // namespace tk::gtk
