// Monkey test: the real program, started as its own process on a copy of a file, driven for a
// while with random real X input (clicks, drags, wheel, keys, typing into its fields, the
// menu commands on the bar, spin and scroll arrows, troughs and thumbs). It must stay alive,
// keep answering, end with exit code 0 when its window is closed, and its stderr must hold no
// sanitizer report.
//
//   PIXMOLE_APP             the program (set by the build)
//   PIXMOLE_MONKEY_SECONDS  how long to drive it (default 60)
//   PIXMOLE_MONKEY_SEED     the random seed (default: from the clock); printed at the start
//
// Where the controls are is measured first, in this process, on the same toolkit backend and
// the same window construction; the offsets from the window's origin are then used on the
// program's own window, found by its title and process id.
// GoogleTest first: the X headers define names (None, Bool) that its templates use.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <gdk/gdkx.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/gui/support/gui_harness.h"
#include "toolkit/controls.h"
#include "viewer/state.h"

// The test process itself builds a window once; the windowing libraries keep caches for the
// life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\n"
           "leak:libgtk-3.so\nleak:libgdk-3.so\n";
}

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using guitest::Harness;

const char kTitlePrefix[] = "Pixmole 0.10.0";
const char kPaintedPrefix[] = "Pixmole 0.10.0, sprsize:";

// A rectangle in pixels from the top-left corner of the main window.
struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    bool empty() const { return w <= 0 || h <= 0; }
};

// Where everything the monkey aims at lies inside the main window.
struct WindowMap {
    Box window, menuBar, project, canvas;
    Box widthBar, widthBack, widthForward;
    Box rowBar, rowBack, rowForward;
    std::vector<Box> checks;           // Grid, MultiColumns, Invert, Align
    std::vector<Box> entries;          // the spin boxes' text parts, then the disp field
    std::vector<Box> spinUp, spinDown; // offset, grid x, grid y
    std::vector<std::pair<std::string, Box>> barItems; // x1, x2, x8, Save selected
    Box go;
};

Box BoxOf(GtkWidget* widget) {
    Box b;
    if (widget == nullptr) return b;
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(widget, top, 0, 0, &x, &y)) return b;
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    return {x, y, a.width, a.height};
}

// Builds the main window in this process exactly as the program does, measures it, and
// releases the toolkit again so that only the program's window remains on the display.
bool MeasureWindow(WindowMap* map, std::string* why) {
    Harness h;
    if (!h.ok()) {
        *why = h.failure();
        return false;
    }
    if (!viewer::CreateMainWindowAndControls() || !h.ShowAndFocus(viewer::MainWindow)) {
        *why = "the main window could not be built and shown in the test";
        return false;
    }
    map->window = BoxOf(Harness::WindowWidget(viewer::MainWindow));
    map->menuBar = BoxOf(Harness::MenuBar(viewer::MainWindow));
    map->project = BoxOf(Harness::FindMenuItem(viewer::MainWindow, "Project"));
    map->canvas = BoxOf(Harness::ControlWidget(viewer::CanvasView));
    map->widthBar = BoxOf(Harness::ControlWidget(viewer::WidthScroller));
    map->widthBack = BoxOf(Harness::ScrollArrowButton(viewer::WidthScroller, false));
    map->widthForward = BoxOf(Harness::ScrollArrowButton(viewer::WidthScroller, true));
    map->rowBar = BoxOf(Harness::ControlWidget(viewer::RowScroller));
    map->rowBack = BoxOf(Harness::ScrollArrowButton(viewer::RowScroller, false));
    map->rowForward = BoxOf(Harness::ScrollArrowButton(viewer::RowScroller, true));
    for (int c :
         {viewer::GridCheck, viewer::MultiColumnsCheck, viewer::InvertCheck, viewer::AlignCheck})
        map->checks.push_back(BoxOf(Harness::ControlWidget(c)));
    for (int c : {viewer::OffsetSpin, viewer::GridXSpin, viewer::GridYSpin}) {
        map->entries.push_back(BoxOf(Harness::ControlWidget(c)));
        map->spinUp.push_back(BoxOf(Harness::SpinArrowButton(c, true)));
        map->spinDown.push_back(BoxOf(Harness::SpinArrowButton(c, false)));
    }
    map->entries.push_back(BoxOf(Harness::ControlWidget(viewer::DispField)));
    map->go = BoxOf(Harness::ControlWidget(viewer::DispGoButton));
    for (const char* label : {"x1", "x2", "x8", "Save selected"})
        map->barItems.emplace_back(label, BoxOf(Harness::FindMenuItem(viewer::MainWindow, label)));

    std::vector<Box> all = {map->window,       map->menuBar,  map->project,
                            map->canvas,       map->widthBar, map->widthBack,
                            map->widthForward, map->rowBar,   map->rowBack,
                            map->rowForward,   map->go};
    all.insert(all.end(), map->checks.begin(), map->checks.end());
    all.insert(all.end(), map->entries.begin(), map->entries.end());
    all.insert(all.end(), map->spinUp.begin(), map->spinUp.end());
    all.insert(all.end(), map->spinDown.begin(), map->spinDown.end());
    for (auto& item : map->barItems) all.push_back(item.second);
    for (const Box& b : all) {
        if (b.empty()) {
            *why = "a control of the main window has no size on screen";
            return false;
        }
    }
    return true;
}

// ---- The program as a child process ---------------------------------------------------------

std::string SourceDir() {
    return fs::path(__FILE__).parent_path().parent_path().parent_path();
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The first sanitizer report in a text, or empty.
std::string SanitizerReport(const std::string& text) {
    for (const char* marker : {"ERROR: AddressSanitizer", "runtime error:", "LeakSanitizer",
                               "ERROR: UndefinedBehavior"}) {
        size_t at = text.find(marker);
        if (at != std::string::npos) return text.substr(at > 200 ? at - 200 : 0, 3000);
    }
    return {};
}

class Child {
  public:
    bool Start(const std::string& app, const std::string& file, const std::string& errPath) {
        // Everything the child needs is made before the fork: this process has threads.
        std::vector<std::string> env;
        bool hasLsan = false;
        for (char** e = environ; *e != nullptr; ++e) {
            env.emplace_back(*e);
            if (env.back().rfind("LSAN_OPTIONS=", 0) == 0) hasLsan = true;
        }
        const std::string supp = SourceDir() + "/tests/lsan.supp";
        if (!hasLsan && access(supp.c_str(), R_OK) == 0)
            env.push_back("LSAN_OPTIONS=suppressions=" + supp);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(app.c_str()), const_cast<char*>(file.c_str()), nullptr};
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, 2);
                dup2(fd, 1);
                close(fd);
            }
            execve(app.c_str(), argv, envp.data());
            _exit(127);
        }
        return true;
    }
    // True while the process runs; once it has ended, status() tells how.
    bool Alive() {
        if (ended_) return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
        return !ended_;
    }
    bool WaitEnd(int ms) {
        auto start = Clock::now();
        while (Alive()) {
            if (Clock::now() - start > std::chrono::milliseconds(ms)) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    void Kill() {
        if (pid_ > 0 && Alive()) {
            kill(pid_, SIGKILL);
            WaitEnd(5000);
        }
    }
    pid_t pid() const { return pid_; }
    int status() const { return status_; }
    std::string HowItEnded() const {
        if (WIFEXITED(status_)) return "exit code " + std::to_string(WEXITSTATUS(status_));
        if (WIFSIGNALED(status_)) return "signal " + std::to_string(WTERMSIG(status_));
        return "status " + std::to_string(status_);
    }
    ~Child() { Kill(); }

  private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

// ---- X side ---------------------------------------------------------------------------------

// The program's window may vanish between two requests (when it ends); an X error then must
// not end this process, the checks around report what happened.
int xErrors = 0;
int CountXError(Display*, XErrorEvent*) {
    ++xErrors;
    return 0;
}

std::string WindowTitle(Display* d, Window w) {
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    for (Atom name : {XInternAtom(d, "_NET_WM_NAME", False), XA_WM_NAME}) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, w, name, 0, 1024, False,
                               name == XA_WM_NAME ? AnyPropertyType : utf8, &type, &format, &count,
                               &after, &data) == Success &&
            data != nullptr) {
            std::string text(reinterpret_cast<char*>(data), count);
            XFree(data);
            if (!text.empty()) return text;
        }
    }
    return {};
}

long WindowPid(Display* d, Window w) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL,
                           &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
        if (count == 1 && format == 32) pid = *reinterpret_cast<long*>(data);
        XFree(data);
    }
    return pid;
}

// The mapped top-level window of process `pid` whose title starts with the program's name.
Window FindProgramWindow(Display* d, pid_t pid) {
    Window root = DefaultRootWindow(d), parent = 0, *children = nullptr;
    unsigned int n = 0;
    Window found = 0;
    if (!XQueryTree(d, root, &root, &parent, &children, &n)) return 0;
    for (unsigned int i = 0; i < n && found == 0; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
        if (WindowTitle(d, children[i]).rfind(kTitlePrefix, 0) != 0) continue;
        if (WindowPid(d, children[i]) != pid) continue;
        found = children[i];
    }
    if (children != nullptr) XFree(children);
    return found;
}

int Seconds() {
    const char* text = getenv("PIXMOLE_MONKEY_SECONDS");
    int s = text != nullptr ? std::atoi(text) : 0;
    return s > 0 ? s : 60;
}

uint64_t Seed() {
    if (const char* text = getenv("PIXMOLE_MONKEY_SEED"); text != nullptr && *text != '\0')
        return std::strtoull(text, nullptr, 0);
    return static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) %
           1000000007ull;
}

// Parses "sprsize:N" from a painted title; 0 when absent.
int TitleNumber(const std::string& title, const std::string& key) {
    size_t at = title.find(key);
    if (at == std::string::npos) return 0;
    return std::atoi(title.c_str() + at + key.size());
}

class Monkey {
  public:
    Monkey(Display* d, Window w, const WindowMap& map, uint64_t seed)
        : d_(d), w_(w), map_(map), rng_(seed) {}

    long events() const { return events_; }
    std::map<std::string, long>& actions() { return actions_; }

    // Window origin on the screen (there is no window manager; the program may move it).
    bool Origin() {
        Window child = 0;
        return XTranslateCoordinates(d_, w_, DefaultRootWindow(d_), 0, 0, &ox_, &oy_, &child);
    }

    void Move(int sx, int sy) {
        sx = std::clamp(sx, 0, DisplayWidth(d_, DefaultScreen(d_)) - 1);
        sy = std::clamp(sy, 0, DisplayHeight(d_, DefaultScreen(d_)) - 1);
        XTestFakeMotionEvent(d_, -1, sx, sy, CurrentTime);
        ++events_;
        XFlush(d_);
    }
    void MoveIn(const Box& b, int x, int y) { Move(ox_ + b.x + x, oy_ + b.y + y); }
    void MoveInto(const Box& b) { MoveIn(b, Pick(0, b.w - 1), Pick(0, b.h - 1)); }
    void Button(int button, bool down) {
        XTestFakeButtonEvent(d_, static_cast<unsigned>(button), down ? True : False, CurrentTime);
        ++events_;
        XFlush(d_);
    }
    // A key stroke held for holdMs (a person's stroke lasts tens of milliseconds; the program
    // counts an arrow key only when it sees it down).
    void Key(KeySym sym, bool shift = false, int holdMs = 0) {
        KeyCode code = XKeysymToKeycode(d_, sym);
        if (code == 0) return;
        KeyCode shiftCode = XKeysymToKeycode(d_, XK_Shift_L);
        if (shift) XTestFakeKeyEvent(d_, shiftCode, True, CurrentTime);
        XTestFakeKeyEvent(d_, code, True, CurrentTime);
        XFlush(d_);
        Pause(holdMs);
        XTestFakeKeyEvent(d_, code, False, CurrentTime);
        if (shift) XTestFakeKeyEvent(d_, shiftCode, False, CurrentTime);
        events_ += shift ? 4 : 2;
        XFlush(d_);
    }
    void Click(int button, int holdMs) {
        Button(button, true);
        Pause(holdMs);
        Button(button, false);
    }
    void ClickIn(const Box& b, int button = 1) {
        MoveInto(b);
        Pause(Pick(0, 10));
        Click(button, Pick(0, 60));
    }
    static void Pause(int ms) {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    // A point of the window outside the menu bar.
    void MoveAnywhereBelowBar() {
        int top = map_.menuBar.y + map_.menuBar.h;
        MoveIn(map_.window, Pick(0, map_.window.w - 1), Pick(top, map_.window.h - 1));
    }
    void MoveOutside() {
        int sw = DisplayWidth(d_, DefaultScreen(d_)), sh = DisplayHeight(d_, DefaultScreen(d_));
        for (;;) {
            int x = Pick(0, sw - 1), y = Pick(0, sh - 1);
            if (x >= ox_ - 2 && x < ox_ + map_.window.w + 2 && y >= oy_ - 2 &&
                y < oy_ + map_.window.h + 2)
                continue;
            Move(x, y);
            return;
        }
    }

    // Where the thumb of a scroll bar shows now: the run of pixels along the bar's middle line
    // that differ from the trough. False when none is found.
    bool FindThumb(const Box& bar, bool vertical, int* at) {
        int length = vertical ? bar.h : bar.w;
        // Read from the root window: a rectangle of the screen never fails to read.
        int x = ox_ + bar.x + (vertical ? bar.w / 2 : 0),
            y = oy_ + bar.y + (vertical ? 0 : bar.h / 2);
        if (x < 0 || y < 0 || x + (vertical ? 1 : length) > DisplayWidth(d_, DefaultScreen(d_)) ||
            y + (vertical ? length : 1) > DisplayHeight(d_, DefaultScreen(d_)))
            return false;
        XImage* img = XGetImage(d_, DefaultRootWindow(d_), x, y, vertical ? 1 : length,
                                vertical ? length : 1, AllPlanes, ZPixmap);
        if (img == nullptr) return false;
        std::vector<unsigned long> px(length);
        std::map<unsigned long, int> count;
        for (int i = 0; i < length; ++i) {
            px[i] = vertical ? XGetPixel(img, 0, i) : XGetPixel(img, i, 0);
            ++count[px[i]];
        }
        XDestroyImage(img);
        unsigned long trough = std::max_element(count.begin(), count.end(), [](auto& a, auto& b) {
                                   return a.second < b.second;
                               })->first;
        int bestStart = -1, bestLen = 0;
        for (int i = 0; i < length;) {
            if (px[i] == trough) {
                ++i;
                continue;
            }
            int j = i;
            while (j < length && px[j] != trough) ++j;
            if (j - i > bestLen) bestLen = j - i, bestStart = i;
            i = j;
        }
        if (bestLen < 4 || bestLen >= length) return false;
        *at = bestStart + bestLen / 2;
        return true;
    }

    // One random action; its name is counted.
    void Step() {
        Origin();
        const int roll = Pick(0, 141);
        if (roll < 12) {
            Note("canvas click");
            ClickIn(map_.canvas, 1);
        } else if (roll < 26) {
            Note("canvas drag");
            Drag(map_.canvas, [&] { MoveInto(map_.canvas); });
        } else if (roll < 31) {
            Note("drag released outside window");
            Drag(map_.canvas, [&] { MoveOutside(); });
        } else if (roll < 34) {
            Note("drag released over the controls");
            Drag(map_.canvas, [&] { MoveAnywhereBelowBar(); });
        } else if (roll < 40) {
            Note("canvas right click");
            ClickIn(map_.canvas, 3);
        } else if (roll < 48) {
            Note("wheel");
            const Box* targets[] = {&map_.canvas,     &map_.canvas,     &map_.widthBar,
                                    &map_.rowBar,     &map_.entries[0], &map_.entries[1],
                                    &map_.entries[2], &map_.entries[3], &map_.checks[0]};
            MoveInto(*targets[Pick(0, 8)]);
            int button = Pick(0, 5) == 0 ? Pick(6, 7) : Pick(4, 5);
            for (int n = Pick(1, 6); n > 0; --n) Click(button, 0);
        } else if (roll < 58) {
            Note("arrow key");
            static const KeySym arrows[] = {XK_Left, XK_Right, XK_Up, XK_Down};
            KeySym sym = arrows[Pick(0, 3)];
            for (int n = Pick(1, 4); n > 0; --n) {
                Key(sym, false, Pick(0, 5) == 0 ? Pick(0, 20) : Pick(40, 160));
                Pause(Pick(0, 15));
            }
        } else if (roll < 62) {
            Note("zoom item");
            ClickIn(map_.barItems[static_cast<size_t>(Pick(0, 2))].second);
        } else if (roll < 65) {
            Note("save selected item");
            ClickIn(map_.barItems[3].second);
        } else if (roll < 75) {
            Note("spin arrow");
            size_t which = static_cast<size_t>(Pick(0, 2));
            MoveInto(Pick(0, 1) ? map_.spinUp[which] : map_.spinDown[which]);
            Click(1, Pick(0, 4) == 0 ? Pick(300, 900) : Pick(0, 40));
        } else if (roll < 80) {
            Note("check box");
            ClickIn(map_.checks[static_cast<size_t>(Pick(0, 3))]);
        } else if (roll < 84) {
            Note("go button");
            ClickIn(map_.go);
        } else if (roll < 96) {
            Note("typing");
            Type();
        } else if (roll < 103) {
            Note("scroll arrow");
            const Box* arrows[] = {&map_.widthBack, &map_.widthForward, &map_.rowBack,
                                   &map_.rowForward};
            MoveInto(*arrows[Pick(0, 3)]);
            Click(1, Pick(0, 3) == 0 ? Pick(300, 1200) : Pick(0, 40));
        } else if (roll < 107) {
            Note("scroll trough");
            ClickIn(Pick(0, 1) ? map_.widthBar : map_.rowBar, Pick(0, 4) == 0 ? 2 : 1);
        } else if (roll < 116) {
            Note("thumb drag");
            ThumbDrag();
        } else if (roll < 121) {
            Note("click anywhere below the bar");
            MoveAnywhereBelowBar();
            Click(Pick(0, 3) == 0 ? 3 : 1, Pick(0, 40));
        } else if (roll < 124) {
            Note("click outside window");
            MoveOutside();
            Click(1, Pick(0, 30));
        } else if (roll < 130) {
            Note("pointer wander");
            for (int n = Pick(1, 8); n > 0; --n) {
                if (Pick(0, 2) == 0)
                    MoveOutside();
                else
                    MoveAnywhereBelowBar();
                Pause(Pick(0, 5));
            }
        } else if (roll < 134) {
            Note("middle click");
            MoveInto(Pick(0, 1) ? map_.canvas : map_.entries[static_cast<size_t>(Pick(0, 3))]);
            Click(2, Pick(0, 30));
        } else if (roll < 137) {
            Note("burst");
            Burst();
        } else if (roll < 139) {
            Note("long arrow hold");
            static const KeySym arrows[] = {XK_Left, XK_Right, XK_Up, XK_Down};
            Key(arrows[Pick(0, 3)], false, Pick(400, 1500));
        } else {
            Note("drag on a control");
            const Box* from[] = {&map_.checks[0], &map_.go,           &map_.entries[3],
                                 &map_.spinUp[0], &map_.widthForward, &map_.rowBack};
            Drag(*from[Pick(0, 5)], [&] {
                if (Pick(0, 1))
                    MoveOutside();
                else
                    MoveAnywhereBelowBar();
            });
        }
        Pause(Pick(0, 12));
    }

  private:
    void Note(const char* what) { ++actions_[what]; }

    template <class Away> void Drag(const Box& from, Away away) {
        MoveInto(from);
        Pause(Pick(0, 10));
        Button(1, true);
        for (int n = Pick(1, 12); n > 0; --n) {
            if (n == 1)
                away();
            else
                MoveInto(from);
            Pause(Pick(0, 20));
        }
        Button(1, false);
    }

    // Many presses, moves and releases with no pause, faster than the program paints.
    void Burst() {
        const Box* targets[] = {&map_.canvas,    &map_.canvas,       &map_.widthBar,
                                &map_.rowBar,    &map_.widthForward, &map_.rowForward,
                                &map_.spinUp[0], &map_.spinDown[1],  &map_.checks[1],
                                &map_.go};
        for (int n = Pick(10, 60); n > 0; --n) {
            MoveInto(*targets[Pick(0, 9)]);
            int r = Pick(0, 9);
            if (r < 6)
                Click(1, 0);
            else if (r < 7)
                Click(3, 0);
            else if (r < 8)
                Click(Pick(4, 5), 0);
        }
    }

    void ThumbDrag() {
        bool vertical = Pick(0, 1) == 1;
        const Box& bar = vertical ? map_.rowBar : map_.widthBar;
        int at = 0;
        if (FindThumb(bar, vertical, &at))
            Note("thumb drag (thumb seen)");
        else
            at = Pick(0, (vertical ? bar.h : bar.w) - 1);
        int across = vertical ? bar.w / 2 : bar.h / 2;
        if (vertical)
            MoveIn(bar, across, at);
        else
            MoveIn(bar, at, across);
        Button(1, true);
        for (int n = Pick(2, 15); n > 0; --n) {
            int along = at + Pick(-300, 300), off = across + (Pick(0, 5) == 0 ? Pick(-80, 80) : 0);
            if (vertical)
                MoveIn(bar, off, along);
            else
                MoveIn(bar, along, off);
            Pause(Pick(0, 25));
        }
        if (Pick(0, 3) == 0) MoveOutside();
        Button(1, false);
    }

    void Type() {
        const Box& field = map_.entries[static_cast<size_t>(Pick(0, 3))];
        ClickIn(field);
        // Without a window manager nobody hands out the keyboard focus on a click.
        XSetInputFocus(d_, w_, RevertToParent, CurrentTime);
        static const char alphabet[] = "0123456789-abcxyzQ ";
        for (int n = Pick(1, 14); n > 0; --n) {
            int r = Pick(0, 31);
            if (r < 19) {
                char ch = alphabet[r];
                KeySym sym = ch == ' ' ? XK_space : ch == '-' ? XK_minus : static_cast<KeySym>(ch);
                Key(sym, ch == 'Q', Pick(0, 40));
            } else if (r < 23) {
                Key(XK_BackSpace);
            } else if (r < 24) {
                Key(XK_Delete);
            } else if (r < 25) {
                Key(XK_Home);
            } else if (r < 26) {
                Key(XK_End);
            } else if (r < 28) {
                Key(XK_Return);
            } else if (r < 29) {
                Key(XK_Tab);
            } else if (r < 30) {
                for (int k = 0; k < 9; ++k) Key(XK_9); // a long number
            } else {
                // A whole number at an edge: select what is there, type over it.
                static const char* const edges[] = {
                    "-2147483648", "2147483647", "4294967296", "-99999999999", "99999999999", "-1",
                    "0",           "-257",       "257",        "25",           "26",          "-0"};
                Key(XK_End);
                for (int k = 0; k < 12; ++k) Key(XK_BackSpace);
                for (const char* c = edges[Pick(0, 11)]; *c != '\0'; ++c)
                    Key(*c == '-' ? XK_minus : static_cast<KeySym>(*c));
            }
            Pause(Pick(0, 8));
        }
        if (Pick(0, 2) == 0) ClickIn(map_.go);
    }

    Display* d_;
    Window w_;
    const WindowMap& map_;
    std::mt19937_64 rng_;
    int ox_ = 0, oy_ = 0;
    long events_ = 0;
    std::map<std::string, long> actions_;
};

// Answers of the program's main loop: a _NET_WM_PING it must send back to the root window.
class Pinger {
  public:
    Pinger(Display* d, Window w) : d_(d), w_(w) {
        XSelectInput(d_, DefaultRootWindow(d_), SubstructureNotifyMask);
    }
    bool Ping(int timeoutMs) {
        const long stamp = ++stamp_;
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w_;
        e.xclient.message_type = XInternAtom(d_, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(d_, "_NET_WM_PING", False));
        e.xclient.data.l[1] = stamp;
        e.xclient.data.l[2] = static_cast<long>(w_);
        XSendEvent(d_, w_, False, NoEventMask, &e);
        XFlush(d_);
        auto start = Clock::now();
        while (Clock::now() - start < std::chrono::milliseconds(timeoutMs)) {
            while (XPending(d_) > 0) {
                XEvent got;
                XNextEvent(d_, &got);
                if (got.type == ClientMessage && got.xclient.data.l[1] == stamp) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    void Drain() {
        while (XPending(d_) > 0) {
            XEvent got;
            XNextEvent(d_, &got);
        }
    }

  private:
    Display* d_;
    Window w_;
    long stamp_ = 1000;
};

bool WaitForTitle(Display* d, Window w, const std::function<bool(const std::string&)>& ok, int ms,
                  std::string* last) {
    auto start = Clock::now();
    for (;;) {
        *last = WindowTitle(d, w);
        if (ok(*last)) return true;
        if (Clock::now() - start > std::chrono::milliseconds(ms)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TEST(MonkeyGui, RealProgramSurvivesRandomInputAndEndsCleanly) {
    const int seconds = Seconds();
    const uint64_t seed = Seed();
    std::printf("monkey: seed %llu (replay with PIXMOLE_MONKEY_SEED=%llu), %d s\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed),
                seconds);
    std::fflush(stdout);
    guitest::Watchdog dog(seconds + 180, "the monkey test");

    const char* app = getenv("PIXMOLE_APP");
    ASSERT_NE(app, nullptr) << "PIXMOLE_APP names the program";

    WindowMap map;
    std::string why;
    ASSERT_TRUE(MeasureWindow(&map, &why)) << why;

    // A copy of the input in a private folder: "Save selected" writes numbered files beside it.
    char dirTemplate[] = "/tmp/pixmole-monkey-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const fs::path dir = dirTemplate;
    const fs::path input = dir / "input.bin";
    std::mt19937_64 fileRng(seed ^ 0x5eedu);
    if (fileRng() % 2 == 0) {
        fs::copy_file(SourceDir() + "/samples/sprites.bin", input);
    } else {
        const size_t sizes[] = {1, 7, 300, 5000, 120000};
        size_t size = sizes[fileRng() % 5];
        std::ofstream out(input, std::ios::binary);
        for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(fileRng()));
    }
    std::printf("monkey: input %s, %llu bytes\n", input.c_str(),
                static_cast<unsigned long long>(fs::file_size(input)));
    const std::string errPath = (dir / "stderr.txt").string();

    Child child;
    ASSERT_TRUE(child.Start(app, input.string(), errPath));

    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    XSetErrorHandler(CountXError);
    int ev = 0, er = 0, major = 0, minor = 0;
    ASSERT_TRUE(XTestQueryExtension(d, &ev, &er, &major, &minor));

    Window w = 0;
    for (auto start = Clock::now();
         w == 0 && child.Alive() && Clock::now() - start < std::chrono::seconds(30);) {
        w = FindProgramWindow(d, child.pid());
        if (w == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(w, 0u) << "no window of the program appeared; it "
                     << (child.Alive() ? "runs" : child.HowItEnded()) << "\n"
                     << ReadWhole(errPath);
    std::string title;
    ASSERT_TRUE(WaitForTitle(
        d, w, [](const std::string& t) { return t.rfind(kPaintedPrefix, 0) == 0; }, 20000, &title))
        << "title never painted: \"" << title << "\"";
    XSetInputFocus(d, w, RevertToParent, CurrentTime);

    Monkey monkey(d, w, map, seed);
    Pinger pinger(d, w);
    ASSERT_TRUE(pinger.Ping(10000)) << "the program does not answer";

    // Calibration: input must land where it is aimed, or the run below proves nothing.
    auto titleHas = [&](const std::string& part) {
        return WaitForTitle(
            d, w, [&](const std::string& t) { return t.find(part) != std::string::npos; }, 10000,
            &title);
    };
    monkey.Origin();
    monkey.ClickIn(map.barItems[2].second);
    ASSERT_TRUE(titleHas(" zoom:8")) << "clicking \"x8\" gave \"" << title << "\"";
    monkey.ClickIn(map.barItems[0].second);
    ASSERT_TRUE(titleHas(" zoom:1")) << "clicking \"x1\" gave \"" << title << "\"";
    const int width = TitleNumber(title, "sprsize:");
    monkey.Key(XK_Right, false, 150);
    ASSERT_TRUE(titleHas("sprsize:" + std::to_string(width + 1) + " "))
        << "the right arrow gave \"" << title << "\"";
    monkey.MoveInto(map.widthForward);
    monkey.Click(1, 20);
    ASSERT_TRUE(titleHas("sprsize:" + std::to_string(width + 2) + " "))
        << "the width scroll bar's forward arrow gave \"" << title << "\"";
    // The thumb is found where it shows and follows a drag to the bar's end.
    int thumb = 0;
    monkey.Origin();
    ASSERT_TRUE(monkey.FindThumb(map.widthBar, false, &thumb));
    ASSERT_LT(thumb, map.widthBar.w / 4) << "the thumb of a width of 3 lies at the bar's start";
    monkey.MoveIn(map.widthBar, thumb, map.widthBar.h / 2);
    monkey.Button(1, true);
    for (int x = thumb; x <= map.widthBar.w + 40; x += 40) {
        monkey.MoveIn(map.widthBar, x, map.widthBar.h / 2);
        Monkey::Pause(10);
    }
    monkey.Button(1, false);
    ASSERT_TRUE(titleHas("sprsize:256 "))
        << "dragging the thumb to the end gave \"" << title << "\"";
    monkey.Origin();
    ASSERT_TRUE(monkey.FindThumb(map.widthBar, false, &thumb));
    ASSERT_GT(thumb, map.widthBar.w * 3 / 4) << "the thumb of a width of 256 lies at the end";

    std::set<std::string> titles;
    long checks = 0;
    const auto start = Clock::now();
    long nextCheck = 300;
    bool ok = true;
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        monkey.Step();
        if (monkey.events() >= nextCheck) {
            nextCheck = monkey.events() + 300;
            ++checks;
            if (!child.Alive()) {
                ADD_FAILURE() << "the program ended during the run with " << child.HowItEnded()
                              << " after " << monkey.events() << " events";
                ok = false;
                break;
            }
            title = WindowTitle(d, w);
            titles.insert(title);
            if (title.rfind(kPaintedPrefix, 0) != 0) {
                ADD_FAILURE() << "unexpected title \"" << title << "\"";
                ok = false;
                break;
            }
            if (!pinger.Ping(15000)) {
                ADD_FAILURE() << "the program stopped answering after " << monkey.events()
                              << " events";
                ok = false;
                break;
            }
        }
    }
    const double ran = std::chrono::duration<double>(Clock::now() - start).count();
    for (int b = 1; b <= 7; ++b)
        XTestFakeButtonEvent(d, static_cast<unsigned>(b), False, CurrentTime);
    XFlush(d);
    std::printf("monkey: %ld events in %.1f s, %ld checks, %zu distinct titles, %d X errors\n",
                monkey.events(), ran, checks, titles.size(), xErrors);
    for (auto& [what, n] : monkey.actions()) std::printf("monkey:   %6ld %s\n", n, what.c_str());

    if (ok) {
        EXPECT_TRUE(child.Alive()) << "the program ended with " << child.HowItEnded();
        if (child.Alive()) {
            EXPECT_TRUE(pinger.Ping(15000)) << "the program does not answer at the end";
            title = WindowTitle(d, w);
            EXPECT_EQ(title.rfind(kPaintedPrefix, 0), 0u) << "title \"" << title << "\"";
            std::printf("monkey: final title \"%s\"\n", title.c_str());
            EXPECT_GE(titles.size(), 2u) << "the input never changed what the program shows";
            // The close box, as a window manager would send it.
            XEvent e{};
            e.xclient.type = ClientMessage;
            e.xclient.window = w;
            e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
            e.xclient.format = 32;
            e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
            e.xclient.data.l[1] = CurrentTime;
            XSendEvent(d, w, False, NoEventMask, &e);
            XFlush(d);
            EXPECT_TRUE(child.WaitEnd(20000)) << "the program did not end after the close request";
            if (!child.Alive()) {
                EXPECT_TRUE(WIFEXITED(child.status()) && WEXITSTATUS(child.status()) == 0)
                    << "the program ended with " << child.HowItEnded();
            }
        }
    }
    child.Kill();
    pinger.Drain();
    XCloseDisplay(d);

    int saved = 0;
    for (auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("input.bin.", 0) == 0) ++saved;
    std::printf("monkey: %d selection files written\n", saved);
    const std::string err = ReadWhole(errPath);
    EXPECT_EQ(SanitizerReport(err), "") << "sanitizer report in the program's stderr";
    if (::testing::Test::HasFailure()) {
        std::printf("monkey: program stderr (%s):\n%s\n", errPath.c_str(),
                    err.substr(0, 20000).c_str());
        std::printf("monkey: FAILED with seed %llu\n", static_cast<unsigned long long>(seed));
    } else {
        fs::remove_all(dir);
    }
}

} // namespace
