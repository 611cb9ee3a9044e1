// A second X client for the GUI tests: a small undecorated window that offers file URIs as
// text/uri-list when dragged with the left button, and that can take the keyboard focus away
// from the program under test.
//
//   drag_source X Y copy|move URI...
//
// Prints "ready WINDOW-ID" once the window is on screen and "end" after each drag.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<gchar*> uris; // null-terminated for gtk_selection_data_set_uris

void OnDataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer) {
    gtk_selection_data_set_uris(data, uris.data());
}

void OnDragEnd(GtkWidget*, GdkDragContext*, gpointer) {
    std::printf("end\n");
    std::fflush(stdout);
}

gboolean OnMapped(GtkWidget* widget, GdkEvent*, gpointer) {
    std::printf("ready %lu\n", GDK_WINDOW_XID(gtk_widget_get_window(widget)));
    std::fflush(stdout);
    return FALSE;
}

} // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: drag_source X Y copy|move URI...\n");
        return 2;
    }
    for (int i = 4; i < argc; ++i) uris.push_back(argv[i]);
    uris.push_back(nullptr);
    GdkDragAction action = std::strcmp(argv[3], "move") == 0 ? GDK_ACTION_MOVE : GDK_ACTION_COPY;

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window), 120, 80);
    gtk_window_move(GTK_WINDOW(window), std::atoi(argv[1]), std::atoi(argv[2]));
    GtkWidget* box = gtk_event_box_new();
    gtk_container_add(GTK_CONTAINER(box), gtk_label_new("files"));
    gtk_container_add(GTK_CONTAINER(window), box);

    static const GtkTargetEntry uriList[] = {{const_cast<gchar*>("text/uri-list"), 0, 0}};
    gtk_drag_source_set(box, GDK_BUTTON1_MASK, uriList, 1, action);
    g_signal_connect(box, "drag-data-get", G_CALLBACK(OnDataGet), nullptr);
    g_signal_connect(box, "drag-end", G_CALLBACK(OnDragEnd), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(OnMapped), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
