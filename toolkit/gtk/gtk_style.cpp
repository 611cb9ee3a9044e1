// The style of the program's own widgets: one CSS provider on the screen while the backend
// runs. The default theme draws entries 34 pixels high and spin buttons 116 x 34; here every
// control fits the rectangle the program gives it (less padding, no minimum heights, small arrow
// buttons), and the status bar and sunken frames get their thin bevels.
//
// The program's widgets carry the "pm-..." classes and its windows "pm-window"; the sheet touches
// nothing else, so dialogs keep the theme's look.
#include <gtk/gtk.h>

#include "toolkit/gtk/gtk_backend_impl.h"

namespace tk::gtk {

namespace {

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

} // namespace

void LoadStyle(BackendState& s, GdkScreen* screen) {
    s.css.reset(gtk_css_provider_new());
    GError* error = nullptr;
    if (!gtk_css_provider_load_from_data(s.css.get(), kStyleSheet, -1, &error)) {
        g_warning("pixmole style sheet: %s", error != nullptr ? error->message : "?");
        g_clear_error(&error);
    }
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(s.css.get()),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void UnloadStyle(BackendState& s) {
    if (GdkScreen* screen = gdk_screen_get_default(); screen != nullptr && s.css)
        gtk_style_context_remove_provider_for_screen(screen, GTK_STYLE_PROVIDER(s.css.get()));
    s.css.reset();
}

void AddStyleClass(GtkWidget* widget, const char* name) {
    gtk_style_context_add_class(gtk_widget_get_style_context(widget), name);
}

GtkWidget* SunkenFrame(GtkWidget* child) {
    GtkWidget* frame = gtk_frame_new(nullptr);
    AddStyleClass(frame, "pm-sunken");
    gtk_container_add(GTK_CONTAINER(frame), child);
    return frame;
}

} // namespace tk::gtk
