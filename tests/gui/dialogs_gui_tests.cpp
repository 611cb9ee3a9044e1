// The modal dialogs on the real GTK backend, answered with real X input while they run: the
// one-line text dialog, the file chooser and the message box.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/gui/support/gui_harness.h"
#include "toolkit/controls.h"
#include "toolkit/requesters.h"
#include "toolkit/window.h"

namespace {

constexpr int kButton = 1;

// Steps run one after another from inside the dialog's own loop (a step returning false is
// tried again a little later), so a test acts on a dialog while the blocking call runs.
class DialogScript {
  public:
    void Then(std::function<bool()> step) { steps_.push_back(std::move(step)); }
    void Start() { g_timeout_add(60, &DialogScript::Tick, this); }
    bool Finished() const { return steps_.empty(); }

  private:
    static gboolean Tick(gpointer data) {
        auto* self = static_cast<DialogScript*>(data);
        if (self->steps_.empty()) return G_SOURCE_REMOVE;
        if (self->steps_.front()()) self->steps_.pop_front();
        return self->steps_.empty() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
    }
    std::deque<std::function<bool()>> steps_;
};

// The dialog of this type that is on screen with the keyboard focus, or null.
GtkWidget* ActiveDialog(GType type) {
    GtkWidget* found = nullptr;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l != nullptr; l = l->next) {
        GtkWidget* w = GTK_WIDGET(l->data);
        if (G_TYPE_CHECK_INSTANCE_TYPE(w, type) && gtk_widget_get_mapped(w) &&
            gtk_window_has_toplevel_focus(GTK_WINDOW(w)))
            found = w;
    }
    g_list_free(all);
    return found;
}

// Every widget below `root`, internal children included.
void CollectWidgets(GtkWidget* root, std::vector<GtkWidget*>* out) {
    out->push_back(root);
    if (!GTK_IS_CONTAINER(root)) return;
    gtk_container_forall(
        GTK_CONTAINER(root),
        [](GtkWidget* child, gpointer data) {
            CollectWidgets(child, static_cast<std::vector<GtkWidget*>*>(data));
        },
        out);
}

// Takes a string GLib allocated.
std::string Take(gchar* text) {
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

template <typename Pred> GtkWidget* FindWidget(GtkWidget* root, Pred pred) {
    std::vector<GtkWidget*> all;
    CollectWidgets(root, &all);
    for (GtkWidget* w : all)
        if (gtk_widget_get_mapped(w) && pred(w)) return w;
    return nullptr;
}

class DialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(h.ok()) << h.failure();
        ASSERT_NE(tk::CreateMainWindow(0, 40, 40, 300, 200, "main", tk::WindowTitleBar), 0);
        ASSERT_NE(tk::AddButton(kButton, 10, 10, 80, 24, "Go"), 0);
        ASSERT_TRUE(h.ShowAndFocus(0));
    }
    // Clicks the main window's button; true when that posted its ControlEvent.
    bool ClickMainButton() {
        size_t before = h.Count(tk::ControlEvent, kButton);
        h.ClickWidget(guitest::Harness::ControlWidget(kButton), 20, 10);
        h.Settle(150);
        return h.Count(tk::ControlEvent, kButton) > before;
    }

    guitest::Watchdog dog{120, "dialog tests"};
    guitest::Harness h;
};

// ---- The one-line text dialog ---------------------------------------------------------------

TEST_F(DialogsTest, TextDialogAppendsToTheDefaultCancelsWithEscapeAndTakesNoDrop) {
    struct Case {
        const char* typed;
        unsigned long finalKey;
        const char* expected;
    } cases[] = {{"", XK_Return, "0000"}, {"12", XK_Return, "000012"}, {"12", XK_Escape, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("typed \"") + c.typed + "\"");
        DialogScript script;
        std::string title, label;
        bool dropTarget = true;
        script.Then([&] {
            GtkWidget* d = ActiveDialog(GTK_TYPE_DIALOG);
            if (d == nullptr) return false;
            title = gtk_window_get_title(GTK_WINDOW(d));
            GtkWidget* l = FindWidget(d, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
            label = l ? gtk_label_get_text(GTK_LABEL(l)) : "";
            GtkWidget* entry = FindWidget(d, [](GtkWidget* w) { return GTK_IS_ENTRY(w); });
            dropTarget = entry == nullptr || gtk_drag_dest_get_target_list(entry) != nullptr;
            h.TypeText(c.typed);
            h.Key(c.finalKey);
            return true;
        });
        script.Start();
        EXPECT_EQ(tk::AskText("Save binary", "How many bytes?", "0000"), c.expected);
        EXPECT_TRUE(script.Finished());
        EXPECT_EQ(title, "Save binary");
        EXPECT_EQ(label, "How many bytes?");
        EXPECT_FALSE(dropTarget);
    }
}

TEST_F(DialogsTest, MainWindowTakesNoInputWhileADialogIsOpen) {
    DialogScript script;
    bool clickedThrough = true;
    script.Then([&] {
        if (ActiveDialog(GTK_TYPE_DIALOG) == nullptr) return false;
        clickedThrough = ClickMainButton();
        h.Key(XK_Return);
        return true;
    });
    script.Start();
    EXPECT_EQ(tk::AskText("t", "p", "x"), "x");
    EXPECT_FALSE(clickedThrough);
    EXPECT_TRUE(h.ShowAndFocus(0));
    EXPECT_TRUE(ClickMainButton()) << "the main window must take input again";
}

// ---- File chooser ---------------------------------------------------------------------------

class FileDialogTest : public DialogsTest {
  protected:
    void SetUp() override {
        DialogsTest::SetUp();
        char pattern[] = "/tmp/pmdlgXXXXXX";
        ASSERT_NE(g_mkdtemp(pattern), nullptr);
        folder = pattern;
        std::ofstream(folder + "/game.bin") << "data";
        std::ofstream(folder + "/notes.txt") << "text";
        std::ofstream(folder + "/LOUD.BIN") << "x";
        ASSERT_EQ(chdir("/"), 0);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    static std::string CurrentDirectory() { return std::filesystem::current_path(); }
    std::string folder;
};

TEST_F(FileDialogTest, SaveOpensInTheFolderWithTheNameAndReportsTheChosenFilter) {
    DialogScript script;
    GtkWidget* dialog = nullptr;
    std::string shownFolder, shownName, firstFilter, secondFilter;
    script.Then([&] {
        dialog = ActiveDialog(GTK_TYPE_FILE_CHOOSER_DIALOG);
        if (dialog == nullptr) return false;
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
        shownFolder = Take(gtk_file_chooser_get_current_folder(chooser));
        shownName = Take(gtk_file_chooser_get_current_name(chooser));
        GtkFileFilter* filter = gtk_file_chooser_get_filter(chooser);
        firstFilter = filter ? gtk_file_filter_get_name(filter) : "";
        return true;
    });
    // Pick the second filter in the combo box with the pointer and the keyboard.
    script.Then([&] {
        GtkWidget* combo = FindWidget(dialog, [](GtkWidget* w) { return GTK_IS_COMBO_BOX(w); });
        if (combo == nullptr) return false;
        h.ClickWidget(combo, gtk_widget_get_allocated_width(combo) / 2,
                      gtk_widget_get_allocated_height(combo) / 2);
        return true;
    });
    script.Then([&] {
        h.PumpNative(200);
        h.Key(XK_Down);
        h.Key(XK_Return);
        h.PumpNative(100);
        GtkFileFilter* filter = gtk_file_chooser_get_filter(GTK_FILE_CHOOSER(dialog));
        secondFilter = filter ? gtk_file_filter_get_name(filter) : "";
        return true;
    });
    // Back to the name field, confirm with Enter: the file exists, and no question comes.
    script.Then([&] {
        GtkWidget* entry = FindWidget(dialog, [](GtkWidget* w) { return GTK_IS_ENTRY(w); });
        if (entry == nullptr) return false;
        h.ClickWidget(entry, 5, gtk_widget_get_allocated_height(entry) / 2);
        h.Key(XK_Return);
        return true;
    });
    script.Start();
    tk::Text path =
        tk::AskSaveFile("Save binary", folder + "/game.bin", "Binary|*.bin|All Files|*.*", 0);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(shownFolder, folder);
    EXPECT_EQ(shownName, "game.bin");
    EXPECT_EQ(firstFilter, "Binary");
    EXPECT_EQ(secondFilter, "All Files");
    EXPECT_EQ(path, folder + "/game.bin");
    EXPECT_EQ(tk::ChosenPatternIndex(), 1);
    EXPECT_EQ(CurrentDirectory(), "/");
}

TEST_F(FileDialogTest, OpenSelectsAnExistingDefaultFiltersIgnoreCaseAndCancelGivesNothing) {
    DialogScript script;
    script.Then([&] {
        GtkWidget* d = ActiveDialog(GTK_TYPE_FILE_CHOOSER_DIALOG);
        if (d == nullptr) return false;
        // The selection shows once the folder has been read.
        bool ready = !Take(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d))).empty();
        if (ready) h.Key(XK_Return);
        return ready;
    });
    script.Start();
    EXPECT_EQ(tk::AskOpenFile("Open", folder + "/game.bin", "Binary|*.bin|All Files|*.*", 0),
              folder + "/game.bin");
    EXPECT_EQ(tk::ChosenPatternIndex(), 0);
    EXPECT_TRUE(script.Finished());

    // Cancelled; meanwhile the filters ignore case and "All Files" lists everything.
    DialogScript cancel;
    bool binShown = false, upperShown = false, textHidden = false, allShowsText = false;
    cancel.Then([&] {
        GtkWidget* d = ActiveDialog(GTK_TYPE_FILE_CHOOSER_DIALOG);
        if (d == nullptr) return false;
        GSList* filters = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(d));
        auto shows = [](GtkFileFilter* filter, const char* name) {
            GtkFileFilterInfo info{};
            info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
            info.display_name = name;
            return gtk_file_filter_filter(filter, &info) != FALSE;
        };
        if (g_slist_length(filters) == 2) {
            auto* bin = GTK_FILE_FILTER(filters->data);
            auto* all = GTK_FILE_FILTER(filters->next->data);
            binShown = shows(bin, "game.bin");
            upperShown = shows(bin, "LOUD.BIN");
            textHidden = !shows(bin, "notes.txt");
            allShowsText = shows(all, "notes.txt") && shows(all, "README");
        }
        g_slist_free(filters);
        h.Key(XK_Escape);
        return true;
    });
    cancel.Start();
    EXPECT_EQ(tk::AskOpenFile("Open", "", "Binary|*.bin|All Files|*.*", 0), "");
    EXPECT_EQ(tk::ChosenPatternIndex(), -1);
    EXPECT_EQ(CurrentDirectory(), "/");
    EXPECT_TRUE(binShown && upperShown && textHidden && allShowsText)
        << binShown << upperShown << textHidden << allShowsText;
}

// ---- Message box ----------------------------------------------------------------------------

TEST_F(DialogsTest, MessageBoxReturnsTheButtonCode) {
    struct Case {
        int flags;
        int response; // the button clicked; 0: Escape
        int expected;
    } cases[] = {{tk::MessageYesNo, GTK_RESPONSE_YES, tk::ResultYes},
                 {tk::MessageYesNo, GTK_RESPONSE_NO, tk::ResultNo},
                 {tk::MessageYesNo, 0, tk::ResultNo},
                 {tk::MessageOk, GTK_RESPONSE_OK, tk::ResultOk}};
    for (const Case& c : cases) {
        SCOPED_TRACE("flags " + std::to_string(c.flags) + ", response " +
                     std::to_string(c.response));
        DialogScript script;
        std::string title, text;
        int buttons = 0;
        script.Then([&] {
            GtkWidget* d = ActiveDialog(GTK_TYPE_MESSAGE_DIALOG);
            if (d == nullptr) return false;
            title = gtk_window_get_title(GTK_WINDOW(d));
            gchar* shown = nullptr;
            g_object_get(d, "text", &shown, nullptr);
            text = Take(shown);
            std::vector<GtkWidget*> all;
            CollectWidgets(d, &all);
            for (GtkWidget* w : all) buttons += GTK_IS_BUTTON(w) && gtk_widget_get_mapped(w);
            if (c.response == 0) {
                h.Key(XK_Escape);
                return true;
            }
            // The labels are the toolkit's; find the button by the code it stands for.
            const char* label = c.response == GTK_RESPONSE_YES  ? "_Yes"
                                : c.response == GTK_RESPONSE_NO ? "_No"
                                                                : "_OK";
            GtkWidget* button = FindWidget(d, [&](GtkWidget* w) {
                return GTK_IS_BUTTON(w) && gtk_button_get_label(GTK_BUTTON(w)) &&
                       std::string(gtk_button_get_label(GTK_BUTTON(w))) == label;
            });
            if (button == nullptr) return false;
            h.ClickWidget(button, 10, 10);
            return true;
        });
        script.Start();
        EXPECT_EQ(tk::ShowMessage("Question", "Overwrite the file?", c.flags), c.expected);
        EXPECT_TRUE(script.Finished());
        EXPECT_EQ(title, "Question");
        EXPECT_EQ(text, "Overwrite the file?");
        EXPECT_EQ(buttons, c.flags == tk::MessageYesNo ? 2 : 1);
    }
}

} // namespace
