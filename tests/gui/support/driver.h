// The one driver of the GUI tests. The real program runs as its own process (under Valgrind or
// Wine when PIXMOLE_APP_PREFIX says so) and is driven from outside with real X input (XTest);
// where its controls lie is read from the same window built in this process by the program's
// own start-up code on the GTK backend. A watchdog makes a stuck loop fail instead of hang.
//
//   gui::Watchdog(120, "the scenario");
//   gui::Program p({file});                  // $PIXMOLE_APP FILE, main window painted
//   ASSERT_TRUE(p.Started());
//   p.ClickOn(p.layout.at["x8"]);
//   EXPECT_TRUE(p.WaitFor([&] { return p.TitleHas("zoom:8"); }));
//
// The input and the program control need no GTK of their own (MeasureLayout, Part and the drag
// source of DropFile do), so a run of the Windows program under Wine shares them.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/backend.h"

typedef struct _GtkWidget GtkWidget;

namespace gui {

// Ends the process with a message (SIGALRM) unless it has ended within `seconds`.
void Watchdog(int seconds, const char* what);

inline void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
void Pump(int ms); // handles this process's own native messages (GLib) for a while

// A rectangle in pixels from the top-left corner of the main window, counted as GTK counts them:
// on a screen scaled by GDK_SCALE each is a block of scale x scale pixels of the screen.
struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

// The main window's parts: "window", "canvas", "width bar", "row bar", the labels on the menu bar
// ("Project", "x1", "x2", "x8", "Save selected"); every control with the arrows of spin boxes
// and scroll bars; the text fields alone. Empty when the window could not be built.
struct Layout {
    std::map<std::string, Box> at;
    std::vector<Box> controls, texts;
};
Layout MeasureLayout();

// In this process, on the GTK backend: a control's widget, or the part of it named so (the
// arrow buttons of spin boxes and scroll bars, tk::gtk::names); null when there is none.
GtkWidget* Part(int control, const char* name = nullptr);
// The first widget of w's tree (w itself first) that match accepts; null when none does.
GtkWidget* Find(GtkWidget* w, const std::function<bool(GtkWidget*)>& match);

// Real X input through a connection of its own, and the top-level windows of the display.
class XInput {
  public:
    ~XInput() {
        if (d != nullptr) XCloseDisplay(d);
    }
    void Move(int x, int y) { Sent(XTestFakeMotionEvent(d, -1, x, y, CurrentTime)); }
    void Button(int b, bool down) { Sent(XTestFakeButtonEvent(d, unsigned(b), down, 0)); }
    void Key(unsigned long sym, bool down) {
        Sent(XTestFakeKeyEvent(d, XKeysymToKeycode(d, sym), down, CurrentTime));
    }
    void Stroke(unsigned long keysym, int holdMs = 80);
    void Type(const std::string& text); // digits, lower-case letters, '-', ' ', '\b', '\r'

    std::vector<Window> TopLevels(bool menus);    // mapped; menus: the override-redirect ones
    Window FindWindow(const std::string& prefix); // by the start of its title; 0 when none
    std::string Title(Window w);
    bool HasFocus(Window w); // the keyboard focus is on it or inside it
    // A WM_PROTOCOLS message as a window manager sends it: WM_DELETE_WINDOW (the close box),
    // _NET_WM_PING (answered to the root window).
    void SendProtocol(Window w, const char* protocol, long stamp = CurrentTime);
    Display* const d = XOpenDisplay(nullptr);
    long sent = 0; // input events so far

  protected:
    void Sent(int) { ++sent, XFlush(d); }
};

// The main window built by the program's start-up code on the GTK backend in this process, on
// screen and laid out, for as long as the object lives. At and Button move the pointer and
// press or let go the left button; then, as after each of Loop's waits, the viewer's loop
// takes what the native messages posted, as the program's loop does after each of them.
struct OnGtk {
    OnGtk();
    ~OnGtk();
    void At(GtkWidget* w, int x, int y);
    void Button(bool down) { input.Button(1, down), Loop(); }
    static void Loop(int ms = 40);
    std::unique_ptr<tk::Backend> backend;
    XInput input;
    bool ok = false;
};

// The program started on the arguments, with the layout of its main window.
class Program : public XInput {
  public:
    explicit Program(const std::vector<std::string>& args);
    ~Program(); // kills it if it still runs
    // Polls until done() holds; false when the time is up or the program ended. Times are
    // stretched under a prefix, where the program runs several times slower.
    bool WaitFor(const std::function<bool()>& done, int ms = 10000);
    void Pause(int ms) { Sleep(ms * slow); }
    bool TitleHas(const std::string& part) { return Title(main).find(part) != std::string::npos; }
    bool MenuShown() { return !TopLevels(true).empty(); }
    bool WaitDialog(const std::string& prefix);         // shown, with the keyboard focus, settled
    void At(const Box& b, int x, int y, Window in = 0); // to a point of a box of `in` (or main)
    void ClickOn(const Box& b, int button = 1, Window in = 0);
    // Presses the left button on the box at (x0, y0), moves to (x1, y1) in four steps, lets go.
    void Drag(const Box& b, int x0, int y0, int x1, int y1);
    // Gives the keyboard focus to a new window of this process (another client for the program).
    bool FocusElsewhere();
    // Holds the key until done() holds (or the time is up), then lets it go.
    bool KeyUntil(unsigned long keysym, const std::function<bool()>& done);
    // Opens "Project" and walks down to its n-th item with the keys; Return chooses it.
    bool OpenProject(int downs, bool choose);
    // Drags the file from another client (a window of this process) onto the canvas, until
    // done().
    bool DropFile(const std::string& path, const std::function<bool()>& done);
    int WaitExit(int ms); // the exit code; -1 when it still runs after ms
    bool Running() { return WaitExit(0) == -1; }

    Layout layout;
    Window main = 0;
    pid_t pid = -1;
    int slow = 1;
    int scale = 1; // GDK_SCALE: the program's pixels are blocks of scale x scale on the screen

  private:
    int exitCode_ = -1;
};

} // namespace gui
