#include "tests/gui/support/gui_harness.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "toolkit/controls.h"
#include "toolkit/gtk/gtk_backend.h"
#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/gtk/gtk_names.h"
#include "toolkit/window.h"

namespace guitest {

namespace {

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void HandlePendingNative() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

GtkWidget* FindNamed(GtkWidget* widget, const char* name) {
    if (widget == nullptr) return nullptr;
    if (std::strcmp(gtk_widget_get_name(widget), name) == 0) return widget;
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget* found = nullptr;
    for (GList* l = children; l != nullptr && found == nullptr; l = l->next)
        found = FindNamed(GTK_WIDGET(l->data), name);
    g_list_free(children);
    return found;
}

GtkWidget* FindOfType(GtkWidget* widget, GType type) {
    if (widget == nullptr) return nullptr;
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) return widget;
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget* found = nullptr;
    for (GList* l = children; l != nullptr && found == nullptr; l = l->next)
        found = FindOfType(GTK_WIDGET(l->data), type);
    g_list_free(children);
    return found;
}

GtkWidget* FindItemIn(GtkWidget* shell, const std::string& label) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
    GtkWidget* found = nullptr;
    for (GList* l = children; l != nullptr && found == nullptr; l = l->next) {
        if (!GTK_IS_MENU_ITEM(l->data)) continue;
        GtkMenuItem* item = GTK_MENU_ITEM(l->data);
        const char* text = gtk_menu_item_get_label(item);
        if (text != nullptr && label == text)
            found = GTK_WIDGET(item);
        else if (GtkWidget* sub = gtk_menu_item_get_submenu(item))
            found = FindItemIn(sub, label);
    }
    g_list_free(children);
    return found;
}

} // namespace

// ---- Watchdog -------------------------------------------------------------------------------

Watchdog::Watchdog(int seconds, std::string what) {
    thread_ = std::thread([this, seconds, what = std::move(what)] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished_; })) {
            std::fprintf(stderr,
                         "\nwatchdog: %s did not finish within %d s; the event loop is "
                         "stuck\n",
                         what.c_str(), seconds);
            std::fflush(stderr);
            std::abort();
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    done_.notify_all();
    thread_.join();
}

// ---- Harness --------------------------------------------------------------------------------

Harness::Harness() {
    owned_ = tk::MakeGtkBackend();
    backend_ = static_cast<tk::gtk::GtkBackend*>(owned_.get());
    if (tk::InitToolkit(owned_.get()) == 0) {
        failure_ = "the toolkit did not start on the GTK backend (no display?)";
        return;
    }
    started_ = true;
    display_ = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (display_ == nullptr) {
        failure_ = "no second X connection for XTest";
    } else if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        failure_ = "the X server has no XTest extension";
    }
}

Harness::~Harness() {
    if (display_ != nullptr) {
        for (int button = 1; button <= 3; ++button)
            XTestFakeButtonEvent(display_, button, False, 0);
        XFlush(display_);
        XCloseDisplay(display_);
    }
    if (started_) tk::ReleaseToolkit();
    HandlePendingNative();
}

GtkWidget* Harness::WindowWidget(int windowNumber) {
    return tk::gtk::W(tk::WindowHandle(windowNumber));
}

GtkWidget* Harness::InnerArea(int windowNumber) {
    return FindNamed(WindowWidget(windowNumber), tk::gtk::names::kInnerArea);
}

GtkWidget* Harness::ControlWidget(int control) {
    return tk::gtk::W(tk::ControlHandle(control));
}

GtkWidget* Harness::MenuBar(int windowNumber) {
    return FindOfType(WindowWidget(windowNumber), GTK_TYPE_MENU_BAR);
}

GtkWidget* Harness::SpinArrowButton(int control, bool up) {
    GtkWidget* entry = ControlWidget(control);
    if (entry == nullptr) return nullptr;
    return FindNamed(gtk_widget_get_parent(entry),
                     up ? tk::gtk::names::kSpinUp : tk::gtk::names::kSpinDown);
}

GtkWidget* Harness::ScrollArrowButton(int control, bool forward) {
    GtkWidget* bar = ControlWidget(control);
    if (bar == nullptr) return nullptr;
    return FindNamed(gtk_widget_get_parent(bar),
                     forward ? tk::gtk::names::kScrollForward : tk::gtk::names::kScrollBack);
}

GtkWidget* Harness::FindMenuItem(int windowNumber, const std::string& label) {
    GtkWidget* bar = MenuBar(windowNumber);
    return bar != nullptr ? FindItemIn(bar, label) : nullptr;
}

bool Harness::ScreenPoint(GtkWidget* widget, int x, int y, int* sx, int* sy) {
    if (widget == nullptr || !gtk_widget_get_mapped(widget)) return false;
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    GdkWindow* native = gtk_widget_get_window(toplevel);
    if (native == nullptr) return false;
    int tx = 0, ty = 0, ox = 0, oy = 0;
    if (!gtk_widget_translate_coordinates(widget, toplevel, x, y, &tx, &ty)) return false;
    gdk_window_get_origin(native, &ox, &oy);
    *sx = ox + tx;
    *sy = oy + ty;
    return true;
}

bool Harness::InnerToScreen(int windowNumber, int x, int y, int* sx, int* sy) {
    return ScreenPoint(InnerArea(windowNumber), x, y, sx, sy);
}

bool Harness::ShowAndFocus(int windowNumber, int timeoutMs) {
    GtkWidget* window = WindowWidget(windowNumber);
    if (window == nullptr) return false;
    gtk_window_present(GTK_WINDOW(window));
    // Without a window manager nobody hands out the focus: take it from the X server.
    bool active = PumpUntil(
        [&] {
            if (!gtk_widget_get_mapped(window)) return false;
            if (!gtk_window_is_active(GTK_WINDOW(window))) {
                gdk_window_focus(gtk_widget_get_window(window), GDK_CURRENT_TIME);
                return false;
            }
            return true;
        },
        timeoutMs);
    Settle(100);
    return active;
}

void Harness::MoveTo(int sx, int sy) {
    XTestFakeMotionEvent(display_, -1, sx, sy, CurrentTime);
    XFlush(display_);
}

void Harness::Press(int button) {
    XTestFakeButtonEvent(display_, static_cast<unsigned>(button), True, CurrentTime);
    XFlush(display_);
}

void Harness::Release(int button) {
    XTestFakeButtonEvent(display_, static_cast<unsigned>(button), False, CurrentTime);
    XFlush(display_);
}

void Harness::ClickAt(int sx, int sy, int button, int holdMs) {
    MoveTo(sx, sy);
    PumpNative(30);
    Press(button);
    PumpNative(holdMs);
    Release(button);
    PumpNative(30);
}

bool Harness::ClickWidget(GtkWidget* widget, int x, int y, int button, int holdMs) {
    int sx = 0, sy = 0;
    if (!ScreenPoint(widget, x, y, &sx, &sy)) return false;
    ClickAt(sx, sy, button, holdMs);
    return true;
}

void Harness::Key(unsigned long keysym, bool shift) {
    KeyCode code = XKeysymToKeycode(display_, keysym);
    KeyCode shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
    if (code == 0) return;
    if (shift) XTestFakeKeyEvent(display_, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shiftCode, False, CurrentTime);
    XFlush(display_);
    PumpNative(20);
}

void Harness::TypeText(const std::string& text) {
    for (char ch : text) {
        auto keysym = static_cast<KeySym>(static_cast<unsigned char>(ch));
        KeyCode code = XKeysymToKeycode(display_, keysym);
        if (code == 0) continue;
        // A symbol reached only with Shift (upper case, most punctuation) is typed with it.
        bool shift = XkbKeycodeToKeysym(display_, code, 0, 0) != keysym;
        Key(keysym, shift);
    }
}

bool Harness::SendCloseRequest(int windowNumber) {
    GtkWidget* window = WindowWidget(windowNumber);
    if (window == nullptr || gtk_widget_get_window(window) == nullptr) return false;
    return SendDeleteWindow(display_, gdk_x11_window_get_xid(gtk_widget_get_window(window)));
}

bool Harness::SendDeleteWindow(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    return sent != 0;
}

void Harness::PumpNative(int ms) {
    const auto start = Clock::now();
    do {
        HandlePendingNative();
        g_usleep(1000);
    } while (MillisecondsSince(start) < ms);
    HandlePendingNative();
}

void Harness::TakeQueued() {
    while (tk::QueuedEventCount() > 0) {
        Seen e;
        e.kind = tk::WaitForEvent();
        e.source = tk::EventControl();
        e.window = tk::EventWindow();
        e.subKind = tk::EventKind();
        if (e.kind == tk::ControlEvent) {
            e.state = tk::GetControlState(e.source);
            e.text = tk::GetControlText(e.source);
            if (tk::ControlKind(e.source) == tk::KindCanvas) {
                e.mouseX = static_cast<int32_t>(tk::GetControlAttribute(e.source, tk::MouseX));
                e.mouseY = static_cast<int32_t>(tk::GetControlAttribute(e.source, tk::MouseY));
                e.buttons = static_cast<uint32_t>(tk::GetControlAttribute(e.source, tk::Buttons));
            }
        }
        seen.push_back(std::move(e));
    }
}

bool Harness::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto start = Clock::now();
    for (;;) {
        HandlePendingNative();
        TakeQueued();
        if (done()) return true;
        if (MillisecondsSince(start) >= timeoutMs) return false;
        g_usleep(2000);
    }
}

void Harness::Settle(int ms) {
    PumpNative(ms);
    TakeQueued();
}

bool Harness::Saw(int32_t kind, int32_t source, int32_t subKind) const {
    return Count(kind, source, subKind) > 0;
}

size_t Harness::Count(int32_t kind, int32_t source, int32_t subKind) const {
    size_t n = 0;
    for (const Seen& e : seen) {
        if (e.kind == kind && (source == -1 || e.source == source) &&
            (subKind == -1 || e.subKind == subKind))
            ++n;
    }
    return n;
}

std::vector<int32_t> Harness::SubKindsOf(int32_t control) const {
    std::vector<int32_t> kinds;
    for (const Seen& e : seen) {
        if (e.kind == tk::ControlEvent && e.source == control) kinds.push_back(e.subKind);
    }
    return kinds;
}

bool Harness::SaveScreenshot(const std::string& path) {
    std::string command = "import -window root '" + path + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

} // namespace guitest
