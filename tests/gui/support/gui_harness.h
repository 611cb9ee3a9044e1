// What every GUI test needs: the real GTK backend under the toolkit, a second X connection
// that sends real input through XTest, pumping with time limits, and a watchdog so that a
// stuck event loop fails the program instead of hanging it.
//
//   guitest::Watchdog dog(60, "menu tests");
//   guitest::Harness h;                 // GTK backend + InitToolkit + XTest connection
//   ASSERT_TRUE(h.ok()) << h.failure();
//   ... build windows with the toolkit ...
//   h.ShowAndFocus(0);                  // window 0 mapped, active, laid out
//   h.ClickWidget(tk::ControlHandle(3), 5, 5);
//   h.PumpUntil([&] { return h.Saw(tk::ControlEvent, 3); }, 2000);
#pragma once

#include <X11/Xlib.h>
#include <gtk/gtk.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/backend.h"

namespace tk::gtk {
class GtkBackend;
}

namespace guitest {

// Ends the program with a message (abort) unless destroyed within `seconds`.
class Watchdog {
  public:
    Watchdog(int seconds, std::string what);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// One event as tk::WaitForEvent returned it, with the canvas attributes read at once.
struct Seen {
    int32_t kind = 0;
    int32_t source = 0;
    int32_t window = 0;
    int32_t subKind = 0;
    int32_t mouseX = 0, mouseY = 0;
    uint32_t buttons = 0;
    int32_t state = 0; // GetControlState of the source control at the time (control events)
    std::string text;  // GetControlText of it
};

class Harness {
  public:
    Harness();  // starts the toolkit on a fresh GTK backend
    ~Harness(); // releases the toolkit, closes the XTest connection
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    bool ok() const { return failure_.empty(); }
    const std::string& failure() const { return failure_; }
    tk::gtk::GtkBackend& backend() { return *backend_; }
    Display* xtest() { return display_; }

    // ---- Finding things on screen ----
    // The native window of a program window, and its inner area (below the menu bar).
    static GtkWidget* WindowWidget(int windowNumber);
    static GtkWidget* InnerArea(int windowNumber);
    // The widget a control handle names, and the menu bar of a window (null when none).
    static GtkWidget* ControlWidget(int control);
    static GtkWidget* MenuBar(int windowNumber);
    // The up or down arrow button of a spin box (null when the control is none).
    static GtkWidget* SpinArrowButton(int control, bool up);
    // The arrow button at the start (false) or end (true) of a scroll bar.
    static GtkWidget* ScrollArrowButton(int control, bool forward);
    // A menu item on the bar or in a drop-down, by its label text (null when none).
    static GtkWidget* FindMenuItem(int windowNumber, const std::string& label);
    // Root-window position of the point (x, y) of a widget; false when not on screen.
    static bool ScreenPoint(GtkWidget* widget, int x, int y, int* sx, int* sy);
    // Root-window position of a point of a window's inner area.
    static bool InnerToScreen(int windowNumber, int x, int y, int* sx, int* sy);

    // Shows the window, gives it the input focus and waits until it is active and drawn.
    bool ShowAndFocus(int windowNumber, int timeoutMs = 3000);

    // ---- Real input (XTest, flushed at once) ----
    void MoveTo(int sx, int sy);
    void Press(int button);
    void Release(int button);
    // Moves there, presses, waits holdMs while native messages are handled, releases.
    void ClickAt(int sx, int sy, int button = 1, int holdMs = 50);
    bool ClickWidget(GtkWidget* widget, int x, int y, int button = 1, int holdMs = 50);
    // A key stroke (press and release) of a key symbol, with Shift held when asked.
    void Key(unsigned long keysym, bool shift = false);
    void TypeText(const std::string& text); // printable ASCII
    // The window manager's close request (WM_DELETE_WINDOW), as a close box would send it.
    bool SendCloseRequest(int windowNumber);
    // The same request to any top-level X window, through the given connection.
    static bool SendDeleteWindow(Display* display, Window window);

    // ---- Pumping ----
    // Handles native messages for ms milliseconds; toolkit events stay queued.
    void PumpNative(int ms);
    // Takes every queued toolkit event with tk::WaitForEvent into `seen`.
    void TakeQueued();
    // Handles native messages and takes queued events until the predicate holds (true) or
    // the time is up (false). The predicate is checked after each round.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
    // PumpNative then TakeQueued, for a settled state.
    void Settle(int ms = 150);

    std::vector<Seen> seen;
    // Whether `seen` holds an event of this kind (and source / sub-kind unless -1).
    bool Saw(int32_t kind, int32_t source = -1, int32_t subKind = -1) const;
    size_t Count(int32_t kind, int32_t source = -1, int32_t subKind = -1) const;
    // The sub-kinds of the control events of one control, in order.
    std::vector<int32_t> SubKindsOf(int32_t control) const;

    // Saves the whole screen as PNG (through ImageMagick's import); false when it failed.
    static bool SaveScreenshot(const std::string& path);

  private:
    std::unique_ptr<tk::Backend> owned_;
    tk::gtk::GtkBackend* backend_ = nullptr;
    Display* display_ = nullptr;
    std::string failure_;
    bool started_ = false;
};

} // namespace guitest
