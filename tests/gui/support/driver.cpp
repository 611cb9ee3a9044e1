#include "tests/gui/support/driver.h"

#include <X11/keysym.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "toolkit/controls.h"
#include "toolkit/gtk/gtk_backend.h"
#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/gtk/gtk_names.h"
#include "toolkit/window.h"
#include "viewer/input.h"
#include "viewer/state.h"

namespace gui {

namespace {

const char* watched = "";

} // namespace

GtkWidget* Find(GtkWidget* w, const std::function<bool(GtkWidget*)>& match) {
    if (w == nullptr || match(w)) return w;
    GList* children = GTK_IS_CONTAINER(w) ? gtk_container_get_children(GTK_CONTAINER(w)) : nullptr;
    GtkWidget* found = nullptr;
    for (GList* l = children; l != nullptr && found == nullptr; l = l->next)
        found = Find(GTK_WIDGET(l->data), match);
    g_list_free(children);
    return found;
}

void Pump(int ms) {
    for (gint64 end = g_get_monotonic_time() + ms * 1000; g_get_monotonic_time() < end;)
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
}

void Watchdog(int seconds, const char* what) {
    watched = what;
    signal(SIGALRM, [](int) {
        for (const char* part : {"\nwatchdog: ", watched, " did not end in time\n"})
            (void)!write(2, part, std::strlen(part));
        _exit(3);
    });
    alarm(static_cast<unsigned>(seconds));
}

GtkWidget* Part(int control, const char* name) {
    GtkWidget* w = tk::gtk::W(tk::ControlHandle(control));
    // A spin box's or scroll bar's parts share a box of their own; other controls have none.
    GtkWidget* holder = w != nullptr ? gtk_widget_get_parent(w) : nullptr;
    if (name == nullptr || holder == nullptr) return w;
    if (gtk_widget_get_name(holder) == std::string(tk::gtk::names::kInnerArea)) return nullptr;
    return Find(holder,
                [&](GtkWidget* part) { return gtk_widget_get_name(part) == std::string(name); });
}

OnGtk::OnGtk() : backend(tk::MakeGtkBackend()) {
    ok = tk::InitToolkit(backend.get()) != 0 && viewer::CreateMainWindowAndControls();
    if (ok) gtk_window_present(GTK_WINDOW(tk::gtk::W(tk::WindowHandle(viewer::MainWindow))));
    while (ok && gtk_widget_get_allocated_width(Part(viewer::CanvasView)) < 2) Loop(); // laid out
}

OnGtk::~OnGtk() {
    viewer::ShutDownViewer();
    Pump(50); // the window goes from the screen
}

void OnGtk::Loop(int ms) {
    Pump(ms);
    while (tk::QueuedEventCount() > 0) viewer::RunLoopPass();
}

void OnGtk::At(GtkWidget* w, int x, int y) {
    int tx = 0, ty = 0, ox = 0, oy = 0;
    gtk_widget_translate_coordinates(w, gtk_widget_get_toplevel(w), x, y, &tx, &ty);
    gdk_window_get_origin(gtk_widget_get_window(gtk_widget_get_toplevel(w)), &ox, &oy);
    const int scale = gtk_widget_get_scale_factor(w); // GTK counts in pixels of the unscaled screen
    input.Move((ox + tx) * scale, (oy + ty) * scale);
    Loop();
}

Layout MeasureLayout() {
    Layout m;
    OnGtk gtk;
    GtkWidget* window = tk::gtk::W(tk::WindowHandle(viewer::MainWindow));
    auto box = [&](GtkWidget* w) {
        Box b;
        if (w != nullptr && gtk_widget_translate_coordinates(w, window, 0, 0, &b.x, &b.y))
            b.w = gtk_widget_get_allocated_width(w), b.h = gtk_widget_get_allocated_height(w);
        return b;
    };
    if (!gtk.ok) return m;
    m.at = {{"window", box(window)},
            {"canvas", box(Part(viewer::CanvasView))},
            {"width bar", box(Part(viewer::WidthScroller))},
            {"row bar", box(Part(viewer::RowScroller))}};
    for (const char* label : {"Project", "x1", "x2", "x8", "Save selected"}) {
        m.at[label] = box(Find(window, [&](GtkWidget* w) {
            return GTK_IS_MENU_ITEM(w) &&
                   g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), label) == 0;
        }));
    }
    namespace names = tk::gtk::names;
    for (int c = viewer::CanvasView; c <= viewer::DispGoButton; ++c) {
        if (GTK_IS_ENTRY(Part(c))) m.texts.push_back(box(Part(c)));
        for (const char* name : {names::kSpinUp, names::kSpinDown, names::kScrollBack,
                                 names::kScrollForward, static_cast<const char*>(nullptr)})
            if (GtkWidget* part = Part(c, name)) m.controls.push_back(box(part));
    }
    return m;
}

// ---- X input --------------------------------------------------------------------------------

void XInput::Stroke(unsigned long keysym, int holdMs) {
    Key(keysym, true);
    Sleep(holdMs);
    Key(keysym, false);
}

void XInput::Type(const std::string& text) {
    for (char c : text) Stroke(c == '\b' ? XK_BackSpace : c == '\r' ? XK_Return : KeySym(c), 20);
}

std::string XInput::Title(Window w) {
    char* name = nullptr;
    std::string title = XFetchName(d, w, &name) && name != nullptr ? name : "";
    if (name != nullptr) XFree(name);
    return title;
}

// Without a window manager every top-level window is a child of the root window.
std::vector<Window> XInput::TopLevels(bool menus) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::vector<Window> found;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
            a.override_redirect == menus && a.width > 20)
            found.push_back(children[i]);
    }
    if (children != nullptr) XFree(children);
    return found;
}

// Wine without a window manager shows every window of its own as override-redirect.
Window XInput::FindWindow(const std::string& prefix) {
    for (bool menus : {false, true})
        for (Window w : TopLevels(menus))
            if (Title(w).rfind(prefix, 0) == 0) return w;
    return 0;
}

bool XInput::HasFocus(Window w) {
    Window focus = 0, root = 0, *children = nullptr;
    int revert = 0;
    unsigned count = 0;
    XGetInputFocus(d, &focus, &revert);
    while (focus != w && focus > PointerRoot && focus != DefaultRootWindow(d) &&
           XQueryTree(d, focus, &root, &focus, &children, &count)) {
        if (children != nullptr) XFree(children);
    }
    return focus == w;
}

void XInput::SendProtocol(Window w, const char* protocol, long stamp) {
    XEvent e{};
    e.xclient = {ClientMessage, 0, True, d, w, XInternAtom(d, "WM_PROTOCOLS", False), 32, {}};
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, protocol, False));
    e.xclient.data.l[1] = stamp, e.xclient.data.l[2] = static_cast<long>(w);
    Sent(XSendEvent(d, w, False, NoEventMask, &e));
}

// ---- The program ----------------------------------------------------------------------------

Program::Program(const std::vector<std::string>& args) {
    const char* app = std::getenv("PIXMOLE_APP");
    const char* prefix = std::getenv("PIXMOLE_APP_PREFIX");
    slow = prefix != nullptr && *prefix != '\0' ? 4 : 1;
    const char* scaled = std::getenv("GDK_SCALE");
    scale = scaled != nullptr ? std::max(1, std::atoi(scaled)) : 1;
    if (app == nullptr || d == nullptr) return;
    layout = MeasureLayout();
    std::string command = "exec " + std::string(prefix != nullptr ? prefix : "") + " " + app;
    for (const std::string& arg : args) command += " '" + arg + "'";
    if ((pid = fork()) == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Its windows may vanish between two requests; the checks around see what happened.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const std::string title = std::string(viewer::ProgramTitle) + ", sprsize:";
    WaitFor([&] { return (main = FindWindow(title)) != 0; }, 20000);
}

Program::~Program() {
    if (pid > 0 && exitCode_ < 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
}

bool Program::WaitFor(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms * slow);
    for (;; Pump(20)) {
        if (done()) return true;
        if (!Running() || std::chrono::steady_clock::now() > end) return done();
    }
}

int Program::WaitExit(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms * slow);
    for (int status = 0; exitCode_ < 0 && pid > 0; Sleep(20)) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        else if (std::chrono::steady_clock::now() >= end)
            break;
    }
    return exitCode_;
}

bool Program::WaitDialog(const std::string& prefix) {
    Window w = 0;
    const bool shown = WaitFor([&] { return (w = FindWindow(prefix)) != 0 && HasFocus(w); });
    Pause(300);
    return shown;
}

void Program::At(const Box& b, int x, int y, Window in) {
    int ox = 0, oy = 0;
    Window child = 0;
    XTranslateCoordinates(d, in ? in : main, DefaultRootWindow(d), 0, 0, &ox, &oy, &child);
    Move(ox + (b.x + x) * scale, oy + (b.y + y) * scale);
}

void Program::ClickOn(const Box& b, int button, Window in) {
    At(b, b.w / 2, b.h / 2, in);
    Sleep(30);
    Button(button, true);
    Sleep(50);
    Button(button, false);
}

void Program::Drag(const Box& b, int x0, int y0, int x1, int y1) {
    At(b, x0, y0);
    Button(1, true);
    for (int step = 1; step <= 4; ++step)
        At(b, x0 + (x1 - x0) * step / 4, y0 + (y1 - y0) * step / 4);
    Pause(300);
    Button(1, false);
}

bool Program::FocusElsewhere() {
    Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), 900, 800, 99, 99, 0, 0, 0);
    XMapRaised(d, other);
    Move(950, 850);
    return WaitFor([&] {
        XSetInputFocus(d, other, RevertToParent, CurrentTime);
        return HasFocus(other);
    });
}

bool Program::KeyUntil(unsigned long keysym, const std::function<bool()>& done) {
    Key(keysym, true);
    const bool ok = WaitFor(done, 5000);
    Key(keysym, false);
    return ok;
}

bool Program::OpenProject(int downs, bool choose) {
    ClickOn(layout.at["Project"]);
    if (!WaitFor([&] { return MenuShown(); })) return false;
    Pause(200); // the menu takes the keyboard
    for (int i = 0; i < downs; ++i) Stroke(XK_Down, 60);
    if (choose) Stroke(XK_Return, 60);
    return true;
}

bool Program::DropFile(const std::string& path, const std::function<bool()>& done) {
    // Another client offering the file, as a file manager does: a small window of this process.
    GtkWidget* source = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(source), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(source), 120, 80);
    gtk_window_move(GTK_WINDOW(source), 20, 20);
    static const GtkTargetEntry uriList[] = {{const_cast<gchar*>("text/uri-list"), 0, 0}};
    gtk_drag_source_set(source, GDK_BUTTON1_MASK, uriList, 1, GDK_ACTION_COPY);
    std::string uri = "file://" + path;
    gchar* uris[] = {uri.data(), nullptr};
    auto offer =
        +[](GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer uris) {
            gtk_selection_data_set_uris(data, static_cast<gchar**>(uris));
        };
    g_signal_connect(source, "drag-data-get", G_CALLBACK(offer), uris);
    gtk_widget_show_all(source);
    bool dropped = false;
    for (int attempt = 0; !dropped && attempt < 2; ++attempt) {
        Move(80, 60);
        Pump(100 * slow);
        Button(1, true);
        for (int step = 1; step <= 5; ++step, Pump(30)) Move(80 + 10 * step, 60); // a drag starts
        // Each position is answered before the button comes up, also when that is slow.
        for (int wiggle = 0; wiggle < 4; ++wiggle, Pump(100 * slow))
            At(layout.at["canvas"], 300 + wiggle % 2, 240);
        Button(1, false);
        dropped = WaitFor(done, 5000);
    }
    gtk_widget_destroy(source);
    return dropped;
}

} // namespace gui
