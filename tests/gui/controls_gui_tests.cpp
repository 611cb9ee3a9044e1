// The toolkit on the GTK backend, in this process, on the main window as the program builds it
// and under real X input: a thumb drag, the spin arrows and a canvas drag post what the same
// gestures post on the scripted backend, the viewer's loop turns them into the same texts (the
// drag into the selection status text), the canvas reports wheel steps, a worker thread's wake-up
// ends a blocked wait, and the five keys the loop polls cost one X round trip.
#include <gtest/gtest.h>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <atomic>
#include <optional>
#include <thread>
#include <tuple>

#include "tests/gui/support/driver.h"
#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "toolkit/gtk/gtk_backend.h"
#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/gtk/gtk_names.h"
#include "toolkit/window.h"
#include "viewer/state.h"

namespace {

using namespace viewer;

using gui::OnGtk;

// The posts of the control a gesture is about, with what its procedures would see.
int watched = -1;
std::vector<std::string> posted;
void Record() {
    const int c = tk::EventControl();
    auto at = [c](int a) { return " " + std::to_string(tk::GetControlAttribute(c, a)); };
    if (c != watched) return;
    posted.push_back(std::to_string(tk::EventKind()) + " " +
                     std::to_string(tk::GetControlState(c)) + " '" + tk::GetControlText(c) + "'" +
                     (c == CanvasView ? at(tk::MouseX) + at(tk::MouseY) + at(tk::Buttons) : ""));
}

struct Gesture {
    int control;
    std::function<void(OnGtk&)> real;
    std::function<void(pmtest::ScriptedBackend&)> scripted;
};

// What each gesture posted, and the texts the viewer shows after it.
std::vector<std::string> Play(const std::vector<Gesture>& gestures, bool real) {
    std::optional<OnGtk> gtk;
    std::optional<pmtest::ViewerSession> session;
    EXPECT_TRUE(real ? gtk.emplace().ok : session.emplace().ok());
    if (real) gtk->At(gui::Part(CanvasView), 300, 575); // off the canvas
    tk::BindEvent(tk::ControlEvent, tk::AnyValue, tk::AnyValue, tk::AnyValue, &Record);
    std::vector<std::string> shown;
    for (const Gesture& g : gestures) {
        watched = g.control;
        posted.clear();
        real ? g.real(*gtk) : g.scripted(session->backend);
        real ? OnGtk::Loop(150) : session->Drain();
        for (const std::string& p : posted) shown.push_back(std::to_string(g.control) + ": " + p);
        shown.push_back(tk::StatusText(MainStatusBar, 0) + " | " + tk::MainWindowTitle(MainWindow) +
                        " | " + tk::GetControlText(OffsetSpin));
    }
    return shown;
}

// Presses the left button at the first point of the widget, moves through the others, lets go.
void Press(OnGtk& gtk, GtkWidget* w, const std::vector<std::pair<int, int>>& points) {
    gtk.At(w, points[0].first, points[0].second);
    gtk.Button(true);
    for (size_t i = 1; i < points.size(); ++i) gtk.At(w, points[i].first, points[i].second);
    gtk.Button(false);
}

Gesture Arrow(int control, const char* name, int delta) {
    return {control,
            [=](OnGtk& gtk) {
                Press(gtk, gui::Part(control, name), {{6, 4}});
            },
            [=](pmtest::ScriptedBackend& b) { b.ScriptSpinArrow(control, delta); }};
}

TEST(ControlsGui, GesturesPostWhatTheScriptedBackendPostsAndTheViewerShowsTheSame) {
    gui::Watchdog(120, "the gestures on GTK");
    std::vector<int32_t> track; // the thumb positions the real drag gave
    auto thumbDrag = [&](OnGtk& gtk) {
        GtkWidget* bar = gui::Part(WidthScroller);
        int start = 0, end = 0;
        gtk_range_get_slider_range(GTK_RANGE(bar), &start, &end);
        const int y = gtk_widget_get_allocated_height(bar) / 2;
        std::vector<std::pair<int, int>> points;
        for (int step = 0; step <= 10; ++step) points.push_back({(start + end) / 2 + step * 25, y});
        Press(gtk, bar, points);
        for (size_t i = 0; i + 2 < posted.size(); ++i) // the release and the end report the last
            track.push_back(std::stoi(posted[i].substr(posted[i].find(' '))));
    };
    auto canvasDrag = [](OnGtk& gtk) {
        Press(gtk, gui::Part(CanvasView), {{10, 20}, {20, 30}, {30, 40}});
    };
    auto toTop = [](auto&) {
        tk::SetControlState(GridXSpin, 25), tk::SetControlText(GridXSpin, "25");
        tk::SetControlState(WidthScroller, 256);
    };
    auto toTopOnGtk = [&](OnGtk& gtk) { // and GTK's range of the width bar reaches its top
        toTop(gtk);
        EXPECT_EQ(gtk_range_get_value(GTK_RANGE(gui::Part(WidthScroller))), 256.0);
    };
    using tk::gtk::names::kSpinDown, tk::gtk::names::kSpinUp;
    const std::vector<Gesture> gestures = {
        {WidthScroller, thumbDrag, [&](auto& b) { b.ScriptThumbDrag(WidthScroller, track); }},
        Arrow(GridXSpin, kSpinUp, 1),
        Arrow(GridXSpin, kSpinDown, -1),
        {GridXSpin, toTopOnGtk, toTop}, // a change by the program posts nothing
        Arrow(GridXSpin, kSpinUp, 1),   // at the top the text stays: only the direction
        Arrow(OffsetSpin, kSpinUp, 1),  // a free-text box keeps its text
        {CanvasView, canvasDrag,
         [](auto& b) {
             b.ScriptCanvasDrag(CanvasView, 10, 20, {{20, 30}, {30, 40}});
         }},
    };
    const std::vector<std::string> real = Play(gestures, true);
    EXPECT_GE(track.size(), 5u) << "the thumb did not follow the pointer";
    EXPECT_EQ(real, Play(gestures, false));
    EXPECT_EQ(real.back().substr(0, real.back().find(" |")), "x:10 y:20 w:2 h:20"); // the drag
}

// The "Layout" drop-down under real input: clicks on the bar and on an item (twice: a chosen item
// keeps its mark) reach the viewer; the items show the marks as radio items and the column bytes
// greyed in the row layouts.
TEST(ControlsGui, TheLayoutDropDownTakesClicksAndShowsItsMarks) {
    gui::Watchdog(60, "the Layout drop-down on GTK");
    OnGtk gtk;
    ASSERT_TRUE(gtk.ok);
    auto item = [](GtkWidget* in, const char* label) {
        return gui::Find(in, [&](GtkWidget* w) {
            return GTK_IS_MENU_ITEM(w) &&
                   !g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), label);
        });
    };
    GtkWidget* title = item(tk::gtk::W(tk::WindowHandle(MainWindow)), "Layout");
    ASSERT_NE(title, nullptr);
    GtkWidget* menu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(title));
    GtkWidget* rows = item(menu, "Rows, bit 7 left");
    GtkWidget* columns = item(menu, "Columns, bit 0 top");
    GtkWidget* two = item(menu, "Column bytes: 2");
    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(rows) && GTK_IS_CHECK_MENU_ITEM(columns) && two);
    EXPECT_TRUE(gtk_check_menu_item_get_draw_as_radio(GTK_CHECK_MENU_ITEM(columns)));
    auto shown = [&] { // the layout, the marks of rows and columns, the column bytes' greying
        return std::tuple(int(state.layout.kind),
                          gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(rows)),
                          gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(columns)),
                          gtk_widget_is_sensitive(two));
    };
    EXPECT_EQ(shown(), std::tuple(0, TRUE, FALSE, FALSE));
    for (int twice = 0; twice < 2; ++twice) {
        for (GtkWidget* w : {title, columns}) {
            gtk.At(w, 12, 6), gtk.Button(true), gtk.Button(false);
            for (int i = 0; i < 50 && bool(gtk_widget_get_mapped(menu)) != (w == title); ++i)
                OnGtk::Loop();
        }
        EXPECT_EQ(shown(), std::tuple(2, FALSE, TRUE, TRUE));
    }
}

TEST(ControlsGui, AWakeUpFromAnotherThreadEndsTheWait) {
    gui::Watchdog(60, "a wait that no wake-up ended");
    OnGtk gtk;
    ASSERT_TRUE(gtk.ok);
    std::atomic<bool> woken{false};
    std::thread worker([&] {
        gui::Sleep(300);
        woken.store(true);
        tk::WakeEventLoop();
    });
    int32_t kind = 0;
    while (!woken.load()) kind = tk::WaitForEvent(); // blocks until a message or the wake-up
    worker.join();
    EXPECT_GE(kind, tk::NativeMessageBase);
}

// The wheel as GDK reports it to the canvas: a notched wheel's steps, a smooth-scrolling device's
// fractions of a step (they add up), Shift held; a sideways turn is no step.
std::vector<std::string> wheels;
void RecordWheel() {
    auto at = [](int a) { return std::to_string(tk::GetControlAttribute(CanvasView, a)); };
    if (tk::EventControl() == CanvasView && tk::EventKind() == tk::MouseWheel)
        wheels.push_back(at(tk::WheelDelta) + " " + at(tk::Modifiers) + " " + at(tk::MouseX));
}

TEST(ControlsGui, TheCanvasReportsWheelStepsSmoothFractionsAndShift) {
    gui::Watchdog(60, "the wheel on GTK");
    OnGtk gtk;
    ASSERT_TRUE(gtk.ok);
    tk::BindEvent(tk::ControlEvent, tk::AnyValue, tk::AnyValue, tk::AnyValue, &RecordWheel);
    GtkWidget* area = gui::Part(CanvasView);
    GdkDevice* pointer =
        gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
    using Turn = std::tuple<GdkScrollDirection, double, double, bool>; // dx, dy, Shift
    const Turn turns[] = {
        {GDK_SCROLL_DOWN, 0, 0, false},     {GDK_SCROLL_UP, 0, 0, true},
        {GDK_SCROLL_SMOOTH, 0, 0.4, false}, {GDK_SCROLL_SMOOTH, 0, 0.6, false},
        {GDK_SCROLL_SMOOTH, 0, -2, true},   {GDK_SCROLL_LEFT, 0, 0, false},
        {GDK_SCROLL_SMOOTH, 1, 0, false},
    };
    for (const auto& [direction, dx, dy, shift] : turns) {
        GdkEvent* event = gdk_event_new(GDK_SCROLL);
        event->scroll.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(area)));
        event->scroll.direction = direction, event->scroll.delta_x = dx;
        event->scroll.delta_y = dy, event->scroll.x = 100.5, event->scroll.y = 50;
        event->scroll.state = shift ? GDK_SHIFT_MASK : 0;
        gdk_event_set_device(event, pointer);
        gtk_widget_event(area, event);
        gdk_event_free(event);
    }
    OnGtk::Loop();
    // Steps (up positive), modifiers (Shift 1), the canvas pixel.
    EXPECT_EQ(wheels, std::vector<std::string>({"-1 0 100", "1 1 100", "-1 0 100", "2 1 100"}));
}

TEST(ControlsGui, TheFiveKeysOfOnePassCostOneServerRoundTrip) {
    gui::Watchdog(60, "the key round trip");
    OnGtk gtk;
    ASSERT_TRUE(gtk.ok);
    Display* own = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    const int keys[] = {tk::VkEscape, tk::VkLeft, tk::VkRight, tk::VkUp, tk::VkDown};
    for (int key : keys) tk::AsyncKeyState(key); // keyboard description loaded, presses forgotten
    static_cast<tk::gtk::GtkBackend&>(*gtk.backend).KeymapMayHaveChanged(); // as at every message
    const unsigned long before = XNextRequest(own);
    for (int key : keys) EXPECT_EQ(tk::AsyncKeyState(key), 0);
    EXPECT_LE(XNextRequest(own) - before, 1u) << "requests sent to the X server for five keys";
}

} // namespace
