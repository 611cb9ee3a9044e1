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

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <gdk/gdkx.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
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

void Sleep(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A rectangle in pixels from the top-left corner of the main window.
struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

// Where everything the monkey aims at lies inside the main window.
struct WindowMap {
    Box window, menuBar, canvas, widthBar, rowBar, go;
    std::vector<Box> arrows;   // width back/forward, row back/forward, then each spin up/down
    std::vector<Box> entries;  // the spin boxes' text parts, then the disp field
    std::vector<Box> barItems; // x1, x2, x8, Save selected
    std::vector<Box> controls; // everything but the bar items, to aim at at random
};

// Builds the main window in this process exactly as the program does, measures it, and
// releases the toolkit again so that only the program's window remains on the display.
std::string MeasureWindow(WindowMap* m) {
    Harness h;
    if (!h.ok()) return h.failure();
    if (!viewer::CreateMainWindowAndControls() || !h.ShowAndFocus(viewer::MainWindow))
        return "the main window could not be built and shown in the test";
    bool sized = true;
    auto box = [&](GtkWidget* widget) {
        Box b;
        GtkAllocation a;
        if (widget != nullptr && gtk_widget_translate_coordinates(
                                     widget, gtk_widget_get_toplevel(widget), 0, 0, &b.x, &b.y)) {
            gtk_widget_get_allocation(widget, &a);
            b.w = a.width, b.h = a.height;
        }
        sized = sized && b.w > 0 && b.h > 0;
        return b;
    };
    auto control = [&](int c) { return box(Harness::ControlWidget(c)); };
    m->window = box(Harness::WindowWidget(viewer::MainWindow));
    m->menuBar = box(Harness::MenuBar(viewer::MainWindow));
    m->canvas = control(viewer::CanvasView);
    m->widthBar = control(viewer::WidthScroller);
    m->rowBar = control(viewer::RowScroller);
    m->go = control(viewer::DispGoButton);
    for (int c : {viewer::WidthScroller, viewer::RowScroller})
        for (bool forward : {false, true})
            m->arrows.push_back(box(Harness::ScrollArrowButton(c, forward)));
    for (int c : {viewer::OffsetSpin, viewer::GridXSpin, viewer::GridYSpin}) {
        m->entries.push_back(control(c));
        for (bool up : {true, false}) m->arrows.push_back(box(Harness::SpinArrowButton(c, up)));
    }
    m->entries.push_back(control(viewer::DispField));
    for (const char* label : {"x1", "x2", "x8", "Save selected"})
        m->barItems.push_back(box(Harness::FindMenuItem(viewer::MainWindow, label)));
    m->controls = {m->canvas, m->widthBar, m->rowBar, m->go};
    for (int c :
         {viewer::GridCheck, viewer::MultiColumnsCheck, viewer::InvertCheck, viewer::AlignCheck})
        m->controls.push_back(control(c));
    m->controls.insert(m->controls.end(), m->arrows.begin(), m->arrows.end());
    m->controls.insert(m->controls.end(), m->entries.begin(), m->entries.end());
    return sized ? "" : "a control of the main window has no size on screen";
}

// ---- The program as a child process ---------------------------------------------------------

std::string SourceDir() {
    return fs::path(__FILE__).parent_path().parent_path().parent_path();
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The program with stdout and stderr into a file; killed if still running at the end.
struct Child {
    pid_t pid = -1;
    int status = 0;
    bool ended = false;
    Child(const std::string& app, const std::string& file, const std::string& errPath) {
        setenv("LSAN_OPTIONS", ("suppressions=" + SourceDir() + "/tests/lsan.supp").c_str(), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
        char* argv[] = {const_cast<char*>(app.c_str()), const_cast<char*>(file.c_str()), nullptr};
        if (posix_spawn(&pid, app.c_str(), &actions, nullptr, argv, environ) != 0) ended = true;
        posix_spawn_file_actions_destroy(&actions);
    }
    bool Alive() {
        if (!ended && waitpid(pid, &status, WNOHANG) == pid) ended = true;
        return !ended;
    }
    bool WaitEnd(int ms) {
        for (auto start = Clock::now(); Alive(); Sleep(20))
            if (Clock::now() - start > std::chrono::milliseconds(ms)) return false;
        return true;
    }
    std::string HowItEnded() const {
        if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
        return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "?";
    }
    void Stop() {
        if (Alive() && kill(pid, SIGKILL) == 0) WaitEnd(5000);
    }
    ~Child() { Stop(); }
};

// ---- X side ---------------------------------------------------------------------------------

// The program's window may vanish between two requests (when it ends); an X error then must
// not end this process, the checks around report what happened.
int xErrors = 0;
int CountXError(Display*, XErrorEvent*) {
    ++xErrors;
    return 0;
}

// The raw bytes of a window property (32-bit items as longs), empty when absent.
std::string Property(Display* d, Window w, const char* name, Atom type) {
    Atom got = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string bytes;
    if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 1024, False, type, &got, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
        bytes.assign(reinterpret_cast<char*>(data), format == 32 ? count * sizeof(long) : count);
        XFree(data);
    }
    return bytes;
}

std::string WindowTitle(Display* d, Window w) {
    return Property(d, w, "_NET_WM_NAME", XInternAtom(d, "UTF8_STRING", False));
}

// The mapped top-level window of process `pid` whose title starts with the program's name.
Window FindProgramWindow(Display* d, pid_t pid) {
    Window root = DefaultRootWindow(d), parent = 0, *children = nullptr, found = 0;
    unsigned int n = 0;
    if (!XQueryTree(d, root, &root, &parent, &children, &n)) return 0;
    for (unsigned int i = 0; i < n && found == 0; ++i) {
        XWindowAttributes a;
        std::string owner = Property(d, children[i], "_NET_WM_PID", XA_CARDINAL);
        long ownerPid = -1;
        if (owner.size() == sizeof ownerPid) std::memcpy(&ownerPid, owner.data(), sizeof ownerPid);
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
            WindowTitle(d, children[i]).rfind(kTitlePrefix, 0) == 0 && ownerPid == pid)
            found = children[i];
    }
    if (children != nullptr) XFree(children);
    return found;
}

// A WM_PROTOCOLS message as a window manager sends it (ping, close box).
void SendProtocol(Display* d, Window w, const char* protocol, long stamp) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, protocol, False));
    e.xclient.data.l[1] = stamp;
    e.xclient.data.l[2] = static_cast<long>(w);
    XSendEvent(d, w, False, NoEventMask, &e);
    XFlush(d);
}

// Whether the program's main loop answers a _NET_WM_PING (sent back to the root window).
bool Ping(Display* d, Window w, int timeoutMs) {
    static long stamp = 1000;
    SendProtocol(d, w, "_NET_WM_PING", ++stamp);
    for (auto start = Clock::now(); Clock::now() - start < std::chrono::milliseconds(timeoutMs);
         Sleep(5)) {
        while (XPending(d) > 0) {
            XEvent got;
            XNextEvent(d, &got);
            if (got.type == ClientMessage && got.xclient.data.l[1] == stamp) return true;
        }
    }
    return false;
}

// Random real input, aimed at the measured places of the program's window.
struct Monkey {
    Display* d;
    Window w;
    const WindowMap& map;
    std::mt19937_64 rng;
    int ox = 0, oy = 0, sw = DisplayWidth(d, DefaultScreen(d)),
        sh = DisplayHeight(d, DefaultScreen(d));
    long events = 0;
    std::map<std::string, long> actions;
    Monkey(Display* d, Window w, const WindowMap& m, uint64_t seed)
        : d(d), w(w), map(m), rng(seed) {}

    // Window origin on the screen (there is no window manager; the program may move it).
    void Origin() {
        Window child = 0;
        XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &ox, &oy, &child);
    }
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    const Box& PickOf(const std::vector<Box>& boxes) {
        return boxes[static_cast<size_t>(Pick(0, static_cast<int>(boxes.size()) - 1))];
    }
    void Move(int sx, int sy) {
        XTestFakeMotionEvent(d, -1, std::clamp(sx, 0, sw - 1), std::clamp(sy, 0, sh - 1),
                             CurrentTime);
        ++events;
        XFlush(d);
    }
    void MoveIn(const Box& b, int x, int y) { Move(ox + b.x + x, oy + b.y + y); }
    void MoveInto(const Box& b) { MoveIn(b, Pick(0, b.w - 1), Pick(0, b.h - 1)); }
    void Button(int button, bool down) {
        XTestFakeButtonEvent(d, static_cast<unsigned>(button), down, CurrentTime);
        ++events;
        XFlush(d);
    }
    void Click(int button, int holdMs) {
        Button(button, true);
        Sleep(holdMs);
        Button(button, false);
    }
    void ClickIn(const Box& b) {
        MoveInto(b);
        Sleep(Pick(0, 10));
        Click(1, Pick(0, 60));
    }
    // A key stroke held for holdMs (the program counts an arrow key only when it sees it down).
    void Key(KeySym sym, int holdMs = 0) {
        if (KeyCode code = XKeysymToKeycode(d, sym); code != 0) {
            XTestFakeKeyEvent(d, code, True, CurrentTime);
            XFlush(d);
            Sleep(holdMs);
            XTestFakeKeyEvent(d, code, False, CurrentTime);
            events += 2;
            XFlush(d);
        }
    }

    // Where the thumb of a scroll bar shows now: the longest run of pixels along the bar's
    // middle line that differ from the commonest one (the trough). False when none is found.
    bool FindThumb(const Box& bar, bool vertical, int* at) {
        const int length = vertical ? bar.h : bar.w, x = ox + bar.x + (vertical ? bar.w / 2 : 0),
                  y = oy + bar.y + (vertical ? 0 : bar.h / 2);
        if (x < 0 || y < 0 || x + (vertical ? 1 : length) > sw || y + (vertical ? length : 1) > sh)
            return false;
        // Read from the root window: a rectangle of the screen never fails to read.
        XImage* img = XGetImage(d, DefaultRootWindow(d), x, y, vertical ? 1 : length,
                                vertical ? length : 1, AllPlanes, ZPixmap);
        if (img == nullptr) return false;
        std::vector<unsigned long> px(static_cast<size_t>(length));
        std::map<unsigned long, int> count;
        for (int i = 0; i < length; ++i)
            ++count[px[i] = vertical ? XGetPixel(img, 0, i) : XGetPixel(img, i, 0)];
        XDestroyImage(img);
        const unsigned long trough =
            std::max_element(count.begin(), count.end(), [](auto& a, auto& b) {
                return a.second < b.second;
            })->first;
        int bestStart = -1, bestLen = 0;
        for (int i = 0, j = 0; i < length; i = std::max(j, i + 1)) {
            for (j = i; j < length && px[j] != trough;) ++j;
            if (j - i > bestLen) bestLen = j - i, bestStart = i;
        }
        *at = bestStart + bestLen / 2;
        return bestLen >= 4 && bestLen < length;
    }

    // The canvas, another control, any point below the bar, or a point outside the window.
    void MoveSomewhere() {
        const int r = Pick(0, 9), top = map.menuBar.y + map.menuBar.h;
        if (r < 3) return MoveInto(map.canvas);
        if (r < 7) return MoveInto(PickOf(map.controls));
        if (r < 9)
            return MoveIn(map.window, Pick(0, map.window.w - 1), Pick(top, map.window.h - 1));
        for (;;) {
            const int x = Pick(0, sw - 1), y = Pick(0, sh - 1);
            if (x < ox - 2 || x >= ox + map.window.w + 2 || y < oy - 2 ||
                y >= oy + map.window.h + 2)
                return Move(x, y);
        }
    }

    // One random action; its kind is counted.
    void Step() {
        Origin();
        const int roll = Pick(0, 99);
        const char* kind = roll < 30   ? "click"
                           : roll < 45 ? "drag"
                           : roll < 52 ? "wheel"
                           : roll < 62 ? "arrow key"
                           : roll < 72 ? "spin or scroll arrow"
                           : roll < 84 ? "typing"
                           : roll < 93 ? "thumb drag"
                                       : "burst";
        ++actions[kind];
        if (roll < 30) {
            MoveSomewhere();
            if (Pick(0, 5) == 0) MoveInto(PickOf(map.barItems)); // a zoom or "Save selected"
            Click(Pick(0, 4) < 3 ? 1 : Pick(2, 3), Pick(0, 50));
        } else if (roll < 45) {
            // Released in the canvas, over a control, or outside.
            const Box& from = Pick(0, 2) ? map.canvas : PickOf(map.controls);
            MoveInto(from);
            Button(1, true);
            for (int n = Pick(1, 12); n > 0; --n, Sleep(Pick(0, 20)))
                n == 1 ? MoveSomewhere() : MoveInto(from);
            Button(1, false);
        } else if (roll < 52) {
            MoveSomewhere();
            const int button = Pick(0, 5) == 0 ? Pick(6, 7) : Pick(4, 5);
            for (int n = Pick(1, 6); n > 0; --n) Click(button, 0);
        } else if (roll < 62) {
            const KeySym sym = XK_Left + static_cast<KeySym>(Pick(0, 3));
            for (int n = Pick(1, 4); n > 0; --n, Sleep(Pick(0, 15)))
                Key(sym, Pick(0, 9) == 0 ? Pick(400, 1500) : Pick(0, 160));
        } else if (roll < 72) {
            MoveInto(PickOf(map.arrows));
            Click(1, Pick(0, 3) == 0 ? Pick(300, 1200) : Pick(0, 40));
        } else if (roll < 84) {
            Type();
        } else if (roll < 93) {
            const bool vertical = Pick(0, 1) == 1;
            const Box& bar = vertical ? map.rowBar : map.widthBar;
            int at = 0, across = vertical ? bar.w / 2 : bar.h / 2;
            if (!FindThumb(bar, vertical, &at)) at = Pick(0, (vertical ? bar.h : bar.w) - 1);
            auto moveTo = [&](int along, int off) {
                vertical ? MoveIn(bar, off, along) : MoveIn(bar, along, off);
            };
            moveTo(at, across);
            Button(1, true);
            for (int n = Pick(2, 15); n > 0; --n, Sleep(Pick(0, 25)))
                moveTo(at + Pick(-300, 300), across + (Pick(0, 5) ? 0 : Pick(-80, 80)));
            if (Pick(0, 3) == 0) MoveSomewhere();
            Button(1, false);
        } else {
            // Moves, presses and releases with no pause, faster than the program paints.
            for (int n = Pick(10, 60); n > 0; --n) {
                MoveSomewhere();
                if (const int r = Pick(0, 9); r < 8) Click(r < 6 ? 1 : r < 7 ? 3 : Pick(4, 5), 0);
            }
        }
        Sleep(Pick(0, 12));
    }

    void TypeText(const std::string& text, int maxHoldMs) {
        for (char c : text)
            Key(c == ' '   ? XK_space
                : c == '-' ? XK_minus
                           : static_cast<KeySym>(c),
                Pick(0, maxHoldMs));
    }
    void Type() {
        ClickIn(PickOf(map.entries));
        // Without a window manager nobody hands out the keyboard focus on a click.
        XSetInputFocus(d, w, RevertToParent, CurrentTime);
        static const KeySym edits[] = {XK_BackSpace, XK_BackSpace, XK_Delete, XK_Home,
                                       XK_End,       XK_Return,    XK_Return, XK_Tab};
        // Whole numbers at an edge, typed over what is there.
        static const char* const edges[] = {"-2147483648",  "2147483647", "4294967296",
                                            "-99999999999", "999999999",  "-257",
                                            "257",          "26",         "-0"};
        for (int n = Pick(1, 14); n > 0; --n, Sleep(Pick(0, 8))) {
            if (const int r = Pick(0, 9); r < 6) {
                TypeText(std::string(1, "0123456789-abcxyz "[Pick(0, 17)]), 40);
            } else if (r < 9) {
                Key(edits[Pick(0, 7)]);
            } else {
                Key(XK_End);
                for (int k = 0; k < 12; ++k) Key(XK_BackSpace);
                TypeText(edges[Pick(0, 8)], 0);
            }
        }
        if (Pick(0, 2) == 0) ClickIn(map.go);
    }
};

TEST(MonkeyGui, RealProgramSurvivesRandomInputAndEndsCleanly) {
    const char* secondsText = getenv("PIXMOLE_MONKEY_SECONDS");
    const char* seedText = getenv("PIXMOLE_MONKEY_SEED");
    const int seconds = secondsText != nullptr && atoi(secondsText) > 0 ? atoi(secondsText) : 60;
    const uint64_t seed =
        seedText != nullptr && *seedText != '\0'
            ? std::strtoull(seedText, nullptr, 0)
            : static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) %
                  1000000007ull;
    std::printf("monkey: seed %llu (replay with PIXMOLE_MONKEY_SEED=%llu), %d s\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed),
                seconds);
    std::fflush(stdout);
    guitest::Watchdog dog(seconds + 180, "the monkey test");

    const char* app = getenv("PIXMOLE_APP");
    ASSERT_NE(app, nullptr) << "PIXMOLE_APP names the program";
    WindowMap map;
    ASSERT_EQ(MeasureWindow(&map), "");

    // A copy of the input in a private folder ("Save selected" writes numbered files beside it):
    // the sample, or a few random bytes.
    char dirTemplate[] = "/tmp/pixmole-monkey-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const fs::path dir = dirTemplate, input = dir / "input.bin";
    const std::string errPath = (dir / "stderr.txt").string();
    std::string bytes(seed % 2 ? 1 + seed % 5000 : 0, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 ^ seed);
    if (bytes.empty())
        fs::copy_file(SourceDir() + "/samples/sprites.bin", input);
    else
        std::ofstream(input, std::ios::binary) << bytes;
    std::printf("monkey: input %s, %llu bytes\n", input.c_str(),
                static_cast<unsigned long long>(fs::file_size(input)));

    Child child(app, input.string(), errPath);
    ASSERT_TRUE(child.Alive()) << "the program could not be started";
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    XSetErrorHandler(CountXError);
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask); // where ping answers arrive

    Window w = 0;
    for (auto start = Clock::now();
         w == 0 && child.Alive() && Clock::now() - start < std::chrono::seconds(30); Sleep(50))
        w = FindProgramWindow(d, child.pid);
    ASSERT_NE(w, 0u) << "no window of the program appeared; it "
                     << (child.Alive() ? "runs" : child.HowItEnded()) << "\n"
                     << ReadWhole(errPath);
    std::string title;
    auto titleHas = [&](const std::string& part, size_t at = std::string::npos) {
        for (auto start = Clock::now(); Clock::now() - start < std::chrono::seconds(20); Sleep(20))
            if (size_t found = (title = WindowTitle(d, w)).find(part);
                found != std::string::npos && (at == std::string::npos || found == at))
                return true;
        return false;
    };
    ASSERT_TRUE(titleHas(kPaintedPrefix, 0)) << "title never painted: \"" << title << "\"";
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    ASSERT_TRUE(Ping(d, w, 10000)) << "the program does not answer";

    // Calibration: input must land where it is aimed, or the run below proves nothing.
    Monkey monkey(d, w, map, seed);
    monkey.Origin();
    monkey.ClickIn(map.barItems[2]);
    ASSERT_TRUE(titleHas(" zoom:8")) << "clicking \"x8\" gave \"" << title << "\"";
    monkey.ClickIn(map.barItems[0]);
    ASSERT_TRUE(titleHas(" zoom:1")) << "clicking \"x1\" gave \"" << title << "\"";
    const int width = std::atoi(title.c_str() + title.find("sprsize:") + 8);
    monkey.Key(XK_Right, 150);
    ASSERT_TRUE(titleHas("sprsize:" + std::to_string(width + 1) + " "))
        << "the right arrow gave \"" << title << "\"";
    monkey.MoveInto(map.arrows[1]);
    monkey.Click(1, 20);
    ASSERT_TRUE(titleHas("sprsize:" + std::to_string(width + 2) + " "))
        << "the width scroll bar's forward arrow gave \"" << title << "\"";
    // The thumb is found where it shows and follows a drag to the bar's end.
    int thumb = 0;
    ASSERT_TRUE(monkey.FindThumb(map.widthBar, false, &thumb));
    ASSERT_LT(thumb, map.widthBar.w / 4) << "the thumb of a small width lies at the bar's start";
    for (int x = thumb; x <= map.widthBar.w + 40; x += 40, Sleep(10)) {
        monkey.MoveIn(map.widthBar, x, map.widthBar.h / 2);
        if (x == thumb) monkey.Button(1, true);
    }
    monkey.Button(1, false);
    ASSERT_TRUE(titleHas("sprsize:256 "))
        << "dragging the thumb to the end gave \"" << title << "\"";
    monkey.Origin();
    ASSERT_TRUE(monkey.FindThumb(map.widthBar, false, &thumb));
    ASSERT_GT(thumb, map.widthBar.w * 3 / 4) << "the thumb of a width of 256 lies at the end";

    // The run, with the program checked every 300 events and at the end: running, its title
    // painted, answering.
    std::set<std::string> titles;
    auto problem = [&]() -> std::string {
        if (!child.Alive()) return "the program ended with " + child.HowItEnded();
        if (titles.insert(title = WindowTitle(d, w)); title.rfind(kPaintedPrefix, 0) != 0)
            return "unexpected title \"" + title + "\"";
        return Ping(d, w, 15000) ? "" : "the program stopped answering";
    };
    const auto start = Clock::now();
    std::string failure;
    for (long nextCheck = 300;
         failure.empty() && Clock::now() - start < std::chrono::seconds(seconds);) {
        monkey.Step();
        if (monkey.events >= nextCheck && !(failure = problem()).empty())
            failure += " after " + std::to_string(monkey.events) + " events";
        nextCheck = monkey.events >= nextCheck ? monkey.events + 300 : nextCheck;
    }
    for (int b = 1; b <= 7; ++b) XTestFakeButtonEvent(d, b, False, CurrentTime);
    XFlush(d);
    if (failure.empty()) failure = problem();
    std::printf("monkey: %ld events in %.1f s, %zu distinct titles, %d X errors\n", monkey.events,
                std::chrono::duration<double>(Clock::now() - start).count(), titles.size(),
                xErrors);
    std::printf("monkey: final title \"%s\"\n", title.c_str());
    for (auto& [what, n] : monkey.actions) std::printf("monkey:   %6ld %s\n", n, what.c_str());
    EXPECT_EQ(failure, "");
    if (failure.empty()) {
        EXPECT_GE(titles.size(), 2u) << "the input never changed what the program shows";
        SendProtocol(d, w, "WM_DELETE_WINDOW", CurrentTime); // the close box
        EXPECT_TRUE(child.WaitEnd(20000)) << "the program did not end after the close request";
        EXPECT_TRUE(child.Alive() || (WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0))
            << "the program ended with " << child.HowItEnded();
    }
    XCloseDisplay(d);
    child.Stop();

    const std::string err = ReadWhole(errPath);
    for (const char* marker :
         {"ERROR: AddressSanitizer", "runtime error:", "LeakSanitizer", "ERROR: UndefinedBehavior"})
        EXPECT_EQ(err.find(marker), std::string::npos) << "sanitizer report in the stderr";
    if (::testing::Test::HasFailure()) {
        std::printf("monkey: program stderr (%s):\n%s\n", errPath.c_str(),
                    err.substr(0, 20000).c_str());
        std::printf("monkey: FAILED with seed %llu\n", static_cast<unsigned long long>(seed));
    } else {
        fs::remove_all(dir);
    }
}

} // namespace
