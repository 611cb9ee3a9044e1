// Modal dialogs of the GTK backend: the file chooser, the message box and the one-line text
// dialog. Each one is modal and transient for the program's main window and runs its own nested
// main loop (gtk_dialog_run), so the program's windows keep painting but take no input until it
// closes. None of them changes the process's current directory.
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "toolkit/gtk/gtk_backend_impl.h"

namespace tk::gtk {
namespace {

// GTK shows UTF-8 only. Texts are bytes: invalid sequences show as replacement characters.
std::string Displayable(const Text& text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result = valid;
    g_free(valid);
    return result;
}

// Owns a top-level dialog for the length of one call.
struct DialogHolder {
    GtkWidget* widget;
    explicit DialogHolder(GtkWidget* w) : widget(w) {}
    DialogHolder(const DialogHolder&) = delete;
    DialogHolder& operator=(const DialogHolder&) = delete;
    ~DialogHolder() {
        if (widget) gtk_widget_destroy(widget);
    }
};

// Brings the dialog to the front with the keyboard focus (which also works without a window
// manager), runs it, and gives the focus back to its parent afterwards.
int RunModal(GtkWidget* dialog, GtkWindow* parent) {
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    if (parent) gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
    // Focus can only be handed to a window that is on screen: ask again once it is mapped.
    g_signal_connect(dialog, "map-event", G_CALLBACK(+[](GtkWidget* w, GdkEvent*, gpointer) {
                         gtk_window_present(GTK_WINDOW(w));
                         return FALSE;
                     }),
                     nullptr);
    gtk_window_present(GTK_WINDOW(dialog));
    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_hide(dialog);
    if (parent && gtk_widget_get_visible(GTK_WIDGET(parent))) gtk_window_present(parent);
    return response;
}

// ---- File chooser ---------------------------------------------------------------------------

bool MatchesEverything(const std::string& pattern) {
    return pattern.empty() || pattern == "*" || pattern == "*.*";
}

// "*.bin" -> "*.[bB][iI][nN]": file patterns match regardless of case. A pattern that already
// holds a bracket expression is kept as it is.
std::string CaseInsensitive(const std::string& pattern) {
    if (pattern.find('[') != std::string::npos) return pattern;
    std::string out;
    for (char c : pattern) {
        if (g_ascii_isalpha(c)) {
            out += '[';
            out += g_ascii_tolower(c);
            out += g_ascii_toupper(c);
            out += ']';
        } else {
            out += c;
        }
    }
    return out;
}

// One filter for a name and pattern pair. The pattern may list several patterns separated by
// ";" ("*.png;*.bmp"); "*.*" and a missing pattern list every file.
GtkFileFilter* MakeFilter(const Text& name, const Text& patterns) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, Displayable(name).c_str());
    bool added = false;
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(';', start);
        if (end == std::string::npos) end = patterns.size();
        std::string one = patterns.substr(start, end - start);
        size_t first = one.find_first_not_of(' ');
        size_t last = one.find_last_not_of(' ');
        one = first == std::string::npos ? std::string() : one.substr(first, last - first + 1);
        if (!one.empty()) {
            gtk_file_filter_add_pattern(
                filter, MatchesEverything(one) ? "*" : CaseInsensitive(one).c_str());
            added = true;
        }
        start = end + 1;
    }
    if (!added) gtk_file_filter_add_pattern(filter, "*");
    return filter;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    gchar* joined = g_build_filename(folder.c_str(), name.c_str(), nullptr);
    std::string result = joined;
    g_free(joined);
    return result;
}

} // namespace

FileDialogAnswer GtkBackend::RunFileDialog(const FileDialogRequest& request) {
    const bool save = request.save;
    DialogHolder dialog(gtk_file_chooser_dialog_new(
        Displayable(request.title).c_str(), nullptr,
        save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
        GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr));
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog.widget);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog.widget), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, FALSE);

    std::vector<GtkFileFilter*> filters;
    for (const auto& [name, pattern] : request.patterns) {
        GtkFileFilter* filter = MakeFilter(name, pattern);
        gtk_file_chooser_add_filter(chooser, filter); // the chooser takes the floating reference
        filters.push_back(filter);
    }
    if (request.patternIndex >= 0 && request.patternIndex < static_cast<int>(filters.size()))
        gtk_file_chooser_set_filter(chooser, filters[request.patternIndex]);

    const std::string& folder = request.initialFolder;
    if (!folder.empty() && g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR))
        gtk_file_chooser_set_current_folder(chooser, folder.c_str());
    if (!request.initialName.empty()) {
        if (save) {
            gchar* shown = g_filename_display_name(request.initialName.c_str());
            gtk_file_chooser_set_current_name(chooser, shown);
            g_free(shown);
        } else {
            std::string full =
                folder.empty() ? request.initialName : JoinPath(folder, request.initialName);
            if (g_file_test(full.c_str(), G_FILE_TEST_IS_REGULAR))
                gtk_file_chooser_set_filename(chooser, full.c_str());
        }
    }

    FileDialogAnswer answer;
    if (RunModal(dialog.widget, DialogParent()) != GTK_RESPONSE_ACCEPT) return answer;
    gchar* chosen = gtk_file_chooser_get_filename(chooser);
    if (!chosen) return answer; // a location that is not a local file
    answer.path = chosen;
    g_free(chosen);
    GtkFileFilter* selected = gtk_file_chooser_get_filter(chooser);
    answer.patternIndex = 0;
    for (size_t i = 0; i < filters.size(); ++i)
        if (filters[i] == selected) answer.patternIndex = static_cast<int>(i);
    return answer;
}

// ---- Message box ----------------------------------------------------------------------------

int GtkBackend::RunMessageBox(const Text& title, const Text& text, int flags) {
    constexpr int Ok = 1, Cancel = 2, Yes = 6, No = 7;
    struct Button {
        const char* label;
        int code;
    };
    std::vector<Button> buttons;
    int closed = Ok; // what closing the box (Escape, the close box) counts as
    switch (flags & 0xF) {
    case 1: // OK and Cancel
        buttons = {{"_OK", Ok}, {"_Cancel", Cancel}};
        closed = Cancel;
        break;
    case 3: // Yes, No and Cancel
        buttons = {{"_Yes", Yes}, {"_No", No}, {"_Cancel", Cancel}};
        closed = Cancel;
        break;
    case 4: // Yes and No
        buttons = {{"_Yes", Yes}, {"_No", No}};
        closed = No;
        break;
    default:
        buttons = {{"_OK", Ok}};
        break;
    }

    DialogHolder dialog(gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                               GTK_BUTTONS_NONE, "%s", Displayable(text).c_str()));
    gtk_window_set_title(GTK_WINDOW(dialog.widget), Displayable(title).c_str());
    // Button codes double as response ids: both are positive.
    for (const Button& b : buttons)
        gtk_dialog_add_button(GTK_DIALOG(dialog.widget), b.label, b.code);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog.widget), buttons.front().code);

    int response = RunModal(dialog.widget, DialogParent());
    for (const Button& b : buttons)
        if (response == b.code) return response;
    return closed;
}

// ---- One-line text dialog -------------------------------------------------------------------

std::pair<bool, Text> GtkBackend::RunTextDialog(const Text& title, const Text& prompt,
                                                const Text& defaultText) {
    DialogHolder dialog(gtk_dialog_new());
    GtkWindow* window = GTK_WINDOW(dialog.widget);
    gtk_window_set_title(window, Displayable(title).c_str());
    gtk_window_set_default_size(window, 300, 130);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);

    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog.widget));
    gtk_box_set_spacing(GTK_BOX(content), 6);
    gtk_container_set_border_width(GTK_CONTAINER(content), 10);

    GtkWidget* label = gtk_label_new(Displayable(prompt).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_box_pack_start(GTK_BOX(content), label, FALSE, FALSE, 0);

    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), Displayable(defaultText).c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_drag_dest_unset(entry); // files dropped here are not text to insert
    gtk_box_pack_start(GTK_BOX(content), entry, FALSE, FALSE, 0);

    GtkWidget* ok = gtk_button_new_with_label("OK");
    gtk_widget_set_size_request(ok, 80, -1);
    gtk_widget_set_halign(ok, GTK_ALIGN_CENTER);
    gtk_widget_set_can_default(ok, TRUE);
    g_signal_connect_swapped(
        ok, "clicked", G_CALLBACK(+[](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_OK); }),
        dialog.widget);
    gtk_box_pack_start(GTK_BOX(content), ok, FALSE, FALSE, 4);
    gtk_window_set_default(window, ok);
    gtk_widget_show_all(content);

    // The caret stands after the default text with nothing selected, so typing appends to it.
    // Giving the entry the focus before the dialog is shown keeps GTK from focusing (and so
    // selecting all of) it itself.
    gtk_entry_grab_focus_without_selecting(GTK_ENTRY(entry));
    gtk_editable_select_region(GTK_EDITABLE(entry), -1, -1);
    gtk_editable_set_position(GTK_EDITABLE(entry), -1);

    // Escape and the close box end the run with GTK_RESPONSE_DELETE_EVENT.
    if (RunModal(dialog.widget, DialogParent()) != GTK_RESPONSE_OK) return {false, Text()};
    return {true, Text(gtk_entry_get_text(GTK_ENTRY(entry)))};
}

} // namespace tk::gtk
