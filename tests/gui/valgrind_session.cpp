// A scripted session of the real program under Valgrind's memcheck, driven from outside with
// real X input (XTest): start with a file on the command line, drop a second file on the
// window, drag a selection, zoom x2, x8 and x1, run all three exports and quit through the
// menu. The program runs many times slower under Valgrind, so every step waits for something
// it can see (a window title, a changed canvas, a file on disk) rather than for a fixed time.
//
//   valgrind_session DIR DRAG_SOURCE VALGRIND_LOG -- COMMAND...
//
// DIR holds sprites.bin (the command-line file, already named in COMMAND) and drop.bin (the
// dropped one, with different bytes). VALGRIND_LOG is the file Valgrind writes. Exit code 0
// when the session ran, the program ended with 0, every output file holds what it should and
// the log reports no errors and no definite leak; 1 otherwise, with the reason on stderr.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCanvasW = 641, kCanvasH = 481;
constexpr const char* kTitlePrefix = "Pixmole 0.10.0";
// The whole session, Valgrind's start and its leak check included, must end within this.
constexpr int kSessionSeconds = 420;

Display* display = nullptr;
pid_t program = -1;
int programStatus = -1; // waitpid status once the program has ended
std::string dir, logPath, dragSource;
Clock::time_point sessionStart;

double Elapsed() {
    return std::chrono::duration<double>(Clock::now() - sessionStart).count();
}

void Note(const char* format, ...) {
    std::fprintf(stderr, "[session %6.1fs] ", Elapsed());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool ProgramEnded() {
    if (programStatus != -1) return true;
    int status = 0;
    if (program > 0 && waitpid(program, &status, WNOHANG) == program) {
        programStatus = status;
        return true;
    }
    return false;
}

// ---- Screen pictures ------------------------------------------------------------------------

struct Picture {
    int x = 0, y = 0, w = 0, h = 0; // root-window rectangle
    std::vector<uint32_t> rgb;      // 0xRRGGBB, row by row
    uint32_t At(int px, int py) const { return rgb[static_cast<size_t>(py) * w + px]; }
};

Picture Grab(int x, int y, int w, int h) {
    Picture p;
    const int sw = DisplayWidth(display, DefaultScreen(display));
    const int sh = DisplayHeight(display, DefaultScreen(display));
    if (x < 0) w += x, x = 0;
    if (y < 0) h += y, y = 0;
    if (x + w > sw) w = sw - x;
    if (y + h > sh) h = sh - y;
    if (w <= 0 || h <= 0) return p;
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (image == nullptr) return p;
    p.x = x, p.y = y, p.w = w, p.h = h;
    p.rgb.resize(static_cast<size_t>(w) * h);
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
            p.rgb[static_cast<size_t>(row) * w + col] =
                static_cast<uint32_t>(XGetPixel(image, col, row)) & 0xFFFFFF;
    XDestroyImage(image);
    return p;
}

// The whole screen as a PPM file in DIR, to look at after a failed step.
void SaveScreen(const std::string& name) {
    const int sw = DisplayWidth(display, DefaultScreen(display));
    const int sh = DisplayHeight(display, DefaultScreen(display));
    Picture p = Grab(0, 0, sw, sh);
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out << "P6\n" << p.w << " " << p.h << "\n255\n";
    for (uint32_t c : p.rgb) {
        const char bytes[3] = {static_cast<char>(c >> 16), static_cast<char>(c >> 8),
                               static_cast<char>(c)};
        out.write(bytes, 3);
    }
}

int Difference(uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift = 0; shift < 24; shift += 8)
        d +=
            std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
    return d;
}

// The colour most pixels of a picture have.
uint32_t Background(const Picture& p) {
    std::vector<std::pair<uint32_t, int>> counts;
    for (uint32_t c : p.rgb) {
        bool found = false;
        for (auto& [colour, n] : counts)
            if (colour == c) {
                ++n;
                found = true;
                break;
            }
        if (!found && counts.size() < 64) counts.push_back({c, 1});
    }
    uint32_t best = 0;
    int most = -1;
    for (auto& [colour, n] : counts)
        if (n > most) best = colour, most = n;
    return best;
}

// Runs of positions that hold ink (a pixel far from the background), merged across gaps of
// fewer than `gap` positions; each run is [first, last].
std::vector<std::pair<int, int>> InkRuns(const std::vector<bool>& ink, int gap) {
    std::vector<std::pair<int, int>> runs;
    for (int i = 0; i < static_cast<int>(ink.size()); ++i) {
        if (!ink[i]) continue;
        if (!runs.empty() && i - runs.back().second <= gap)
            runs.back().second = i;
        else
            runs.push_back({i, i});
    }
    return runs;
}

// ---- Windows --------------------------------------------------------------------------------

struct Found {
    Window window = 0;
    int x = 0, y = 0, w = 0, h = 0; // root coordinates
};

std::string NameOf(Window w) {
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(display, w, netName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data != nullptr) {
        name.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        if (!name.empty()) return name;
    }
    char* plain = nullptr;
    if (XFetchName(display, w, &plain) && plain != nullptr) {
        name = plain;
        XFree(plain);
    }
    return name;
}

// Mapped children of the root window; with no window manager every top-level is one.
std::vector<Found> TopLevels(bool overrideRedirectOnly) {
    std::vector<Found> result;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return result;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(display, children[i], &a)) continue;
        if (a.map_state != IsViewable) continue;
        if (overrideRedirectOnly && !a.override_redirect) continue;
        result.push_back({children[i], a.x, a.y, a.width, a.height});
    }
    if (children) XFree(children);
    return result;
}

std::optional<Found> TitledWindow(const std::string& prefix) {
    for (const Found& f : TopLevels(false))
        if (NameOf(f.window).rfind(prefix, 0) == 0 && f.w > 20 && f.h > 20) return f;
    return std::nullopt;
}

// Polls until `done` holds; false when the time is up or the program has ended.
bool WaitFor(const std::function<bool()>& done, int seconds, const char* what) {
    auto limit = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < limit) {
        XSync(display, False);
        if (done()) return true;
        if (ProgramEnded()) {
            Note("the program ended while waiting for %s", what);
            return false;
        }
        SleepMs(100);
    }
    Note("timed out after %d s waiting for %s", seconds, what);
    return false;
}

std::optional<Found> WaitForWindow(const std::string& prefix, int seconds) {
    std::optional<Found> found;
    std::string what = "a window titled \"" + prefix + "\"";
    WaitFor([&] { return (found = TitledWindow(prefix)).has_value(); }, seconds, what.c_str());
    return found;
}

bool WindowGone(Window w) {
    for (const Found& f : TopLevels(false))
        if (f.window == w) return false;
    return true;
}

// Whether the keyboard focus lies on the window or inside it.
bool HasFocus(Window w) {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    while (focus != 0 && focus != PointerRoot && focus != DefaultRootWindow(display)) {
        if (focus == w) return true;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, focus, &root, &parent, &children, &count)) return false;
        if (children) XFree(children);
        focus = parent;
    }
    return false;
}

// ---- Input ----------------------------------------------------------------------------------

void MoveTo(int x, int y) {
    XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
    XFlush(display);
}

void Button(int button, bool press) {
    XTestFakeButtonEvent(display, static_cast<unsigned>(button), press, CurrentTime);
    XFlush(display);
}

void Click(int x, int y) {
    MoveTo(x, y);
    SleepMs(300);
    Button(1, true);
    SleepMs(80);
    Button(1, false);
}

void Key(KeySym sym, bool shift = false, bool control = false) {
    KeyCode code = XKeysymToKeycode(display, sym);
    KeyCode shiftCode = XKeysymToKeycode(display, XK_Shift_L);
    KeyCode controlCode = XKeysymToKeycode(display, XK_Control_L);
    if (control) XTestFakeKeyEvent(display, controlCode, True, CurrentTime);
    if (shift) XTestFakeKeyEvent(display, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(display, shiftCode, False, CurrentTime);
    if (control) XTestFakeKeyEvent(display, controlCode, False, CurrentTime);
    XFlush(display);
    SleepMs(60);
}

void Type(const std::string& text) {
    for (char ch : text) {
        auto sym = static_cast<KeySym>(static_cast<unsigned char>(ch));
        KeyCode code = XKeysymToKeycode(display, sym);
        Key(sym, XkbKeycodeToKeysym(display, code, 0, 0) != sym);
    }
}

// ---- Files ----------------------------------------------------------------------------------

std::optional<std::string> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

long long SizeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// Waits until the file exists with the size and has kept it for a moment.
bool WaitForFile(const std::string& name, long long size, int seconds) {
    std::string what = name + " with " + std::to_string(size) + " bytes";
    return WaitFor(
        [&] {
            if (SizeOf(dir + "/" + name) != size) return false;
            SleepMs(500);
            return SizeOf(dir + "/" + name) == size;
        },
        seconds, what.c_str());
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char buffer[4];
    for (unsigned char b : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02x", b);
        out += buffer;
    }
    return out;
}

// ---- The main window ------------------------------------------------------------------------

struct MainWindow {
    Found window;
    int canvasX = 0, canvasY = 0;         // root position of canvas pixel (0, 0)
    std::vector<std::pair<int, int>> bar; // menu bar items: root x range of each label
    int barY = 0;                         // root y through the middle of the menu bar
};

bool Painted(uint32_t c) {
    return c == 0x000000 || c == 0xFFFFFF || c == 0x0000FF;
}

// The canvas is the first 641-pixel line of the window that holds only the renderer's colours
// (black, white, the past-the-end blue), with 480 more such lines below it.
bool FindCanvas(MainWindow& m) {
    Picture p = Grab(m.window.x, m.window.y, kCanvasW + 1, 120);
    if (p.w < kCanvasW + 1) return false;
    for (int row = 0; row < p.h; ++row) {
        bool all = true;
        for (int col = 0; col < kCanvasW && all; ++col) all = Painted(p.At(col, row));
        if (!all) continue;
        Picture canvas = Grab(m.window.x, m.window.y + row, kCanvasW, kCanvasH);
        if (canvas.h < kCanvasH) return false;
        for (uint32_t c : canvas.rgb)
            if (!Painted(c)) return false;
        m.canvasX = m.window.x;
        m.canvasY = m.window.y + row;
        return row > 4; // the menu bar lies above it
    }
    return false;
}

// The labels on the menu bar, left to right, found as runs of ink along the bar; a gap of 7
// pixels or more separates two items (the items have 7 pixels of padding on each side, the
// space inside "Save selected" is narrower).
bool FindMenuBar(MainWindow& m) {
    const int height = m.canvasY - m.window.y;
    Picture p = Grab(m.window.x, m.window.y, m.window.w, height);
    if (p.h < 4) return false;
    const uint32_t bg = Background(p);
    std::vector<bool> ink(static_cast<size_t>(p.w), false);
    for (int col = 0; col < p.w; ++col)
        for (int row = 1; row + 1 < p.h; ++row)
            if (Difference(p.At(col, row), bg) > 120) ink[col] = true;
    auto runs = InkRuns(ink, 6);
    m.bar.clear();
    for (auto [first, last] : runs) m.bar.push_back({m.window.x + first, m.window.x + last});
    m.barY = m.window.y + height / 2;
    return m.bar.size() == 5; // Project, x1, x2, x8, Save selected
}

// Whether the canvas shows these bytes from its top left corner at width 1 and zoom 1: byte i
// on row i, most significant bit on the left, set bits white, clear bits black.
bool CanvasShows(const MainWindow& m, const std::string& bytes) {
    const int rows = static_cast<int>(bytes.size());
    Picture p = Grab(m.canvasX, m.canvasY, 8, rows);
    if (p.h != rows) return false;
    for (int row = 0; row < rows; ++row)
        for (int bit = 0; bit < 8; ++bit) {
            const bool set = (static_cast<unsigned char>(bytes[row]) >> (7 - bit)) & 1;
            if (p.At(bit, row) != (set ? 0xFFFFFFu : 0x000000u)) return false;
        }
    return true;
}

// The label runs of an open drop-down menu, top to bottom, as root y ranges; separators are
// too thin to count.
std::vector<std::pair<int, int>> MenuRows(const Found& popup) {
    Picture p = Grab(popup.x, popup.y, popup.w, popup.h);
    std::vector<std::pair<int, int>> rows;
    if (p.w < 12 || p.h < 12) return rows;
    const uint32_t bg = Background(p);
    std::vector<bool> ink(static_cast<size_t>(p.h), false);
    for (int row = 3; row < p.h - 3; ++row)
        for (int col = 6; col < p.w - 6; ++col)
            if (Difference(p.At(col, row), bg) > 150) ink[row] = true;
    for (auto [first, last] : InkRuns(ink, 1))
        if (last - first >= 4) rows.push_back({popup.y + first, popup.y + last});
    return rows;
}

bool ClickBarItem(const MainWindow& m, size_t index) {
    if (index >= m.bar.size()) return false;
    Click((m.bar[index].first + m.bar[index].second) / 2, m.barY);
    return true;
}

// Opens "Project" and clicks its item `index` (0 Open.., 1 Save image.., 2 Save binary..,
// 3 Quit) once the drop-down is on screen.
bool ChooseProjectItem(const MainWindow& m, size_t index, const char* label) {
    Note("Project > %s", label);
    std::vector<Window> before;
    for (const Found& f : TopLevels(true)) before.push_back(f.window);
    for (int attempt = 0; attempt < 2; ++attempt) {
        ClickBarItem(m, 0);
        std::optional<Found> popup;
        std::vector<std::pair<int, int>> rows;
        // The drop-down counts as open once the same window shows the same four labels at the
        // same place twice in a row, half a second apart.
        std::optional<Found> last;
        std::vector<std::pair<int, int>> lastRows;
        bool open = WaitFor(
            [&] {
                std::optional<Found> now;
                std::vector<std::pair<int, int>> nowRows;
                for (const Found& f : TopLevels(true)) {
                    bool old = false;
                    for (Window w : before) old = old || w == f.window;
                    if (old || f.h < 40) continue;
                    nowRows = MenuRows(f);
                    if (nowRows.size() == 4) {
                        now = f;
                        break;
                    }
                }
                const bool same = now && last && now->window == last->window && now->x == last->x &&
                                  now->y == last->y && nowRows == lastRows;
                last = now;
                lastRows = nowRows;
                if (same) {
                    popup = now;
                    rows = nowRows;
                    return true;
                }
                SleepMs(400);
                return false;
            },
            60, "the Project drop-down");
        if (!open) {
            SaveScreen("no-dropdown.ppm");
            continue;
        }
        Note("drop-down at %d,%d, %dx%d; labels at y %d, %d, %d, %d", popup->x, popup->y, popup->w,
             popup->h, rows[0].first, rows[1].first, rows[2].first, rows[3].first);
        SleepMs(700); // past the time in which a release still counts as the opening click
        Click(popup->x + popup->w / 2, (rows[index].first + rows[index].second) / 2);
        return true;
    }
    return false;
}

bool WaitForTitle(const MainWindow& m, const std::string& part) {
    std::string what = "the title to show \"" + part + "\"";
    return WaitFor([&] { return NameOf(m.window.window).find(part) != std::string::npos; }, 60,
                   what.c_str());
}

// Waits for a dialog, for the keyboard focus to reach it, and a little for GTK to settle.
std::optional<Found> WaitForDialog(const std::string& title) {
    std::optional<Found> dialog = WaitForWindow(title, 90);
    if (!dialog) return dialog;
    std::string what = "the focus on \"" + title + "\"";
    if (!WaitFor([&] { return HasFocus(dialog->window); }, 60, what.c_str())) return std::nullopt;
    SleepMs(2500);
    return dialog;
}

// Answers a save dialog: replace the proposed name with `name`, then Enter.
bool AnswerSaveDialog(const std::string& title, const std::string& name) {
    std::optional<Found> dialog = WaitForDialog(title);
    if (!dialog) {
        SaveScreen("no-save-dialog.ppm");
        return false;
    }
    Key(XK_a, false, true); // select the whole proposed name
    Type(name);
    SleepMs(1500);
    Key(XK_Return);
    Window w = dialog->window;
    if (!WaitFor([&] { return WindowGone(w); }, 90, "the save dialog to close")) {
        SaveScreen("save-dialog-stuck.ppm");
        return false;
    }
    return true;
}

// Answers Yes (the default button) when the overwrite question comes, within a few seconds of
// the save dialog closing; it comes only when the target already exists.
void AnswerOverwrite(const std::string& title, const std::string& target) {
    std::optional<Found> question;
    WaitFor(
        [&] {
            if ((question = TitledWindow(title)).has_value()) return true;
            return SizeOf(dir + "/" + target) > 0;
        },
        30, "the overwrite question or the file");
    if (!question) return;
    Note("overwrite question \"%s\": Yes", title.c_str());
    WaitFor([&] { return HasFocus(question->window); }, 60, "the focus on the question");
    SleepMs(1500);
    Key(XK_Return);
    Window w = question->window;
    WaitFor([&] { return WindowGone(w); }, 60, "the question to close");
}

// ---- The dropped file -----------------------------------------------------------------------

struct Source {
    pid_t pid = -1;
    int out = -1;
    std::string output;
    void Read() {
        char buffer[256];
        ssize_t n;
        while (out >= 0 && (n = read(out, buffer, sizeof buffer)) > 0)
            output.append(buffer, static_cast<size_t>(n));
    }
    ~Source() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }
};

// Drags drop.bin from the drag source client onto the canvas; true once the canvas shows
// different bytes.
bool DropFile(const MainWindow& m, const std::string& dropBytes) {
    constexpr int kSourceX = 20, kSourceY = 20;
    Source source;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    std::string uri = "file://" + dir + "/drop.bin";
    source.pid = fork();
    if (source.pid == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::string x = std::to_string(kSourceX), y = std::to_string(kSourceY);
        execl(dragSource.c_str(), dragSource.c_str(), x.c_str(), y.c_str(), "copy", uri.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    source.out = pipeFds[0];
    fcntl(source.out, F_SETFL, O_NONBLOCK);
    if (!WaitFor(
            [&] {
                source.Read();
                return source.output.find("ready ") != std::string::npos;
            },
            30, "the drag source"))
        return false;
    SleepMs(500);

    for (int attempt = 0; attempt < 2; ++attempt) {
        Note("dropping drop.bin on the canvas (attempt %d)", attempt + 1);
        const int fromX = kSourceX + 60, fromY = kSourceY + 40;
        const int toX = m.canvasX + 300, toY = m.canvasY + 240;
        MoveTo(fromX, fromY);
        SleepMs(200);
        Button(1, true);
        SleepMs(200);
        for (int step = 1; step <= 30; ++step) {
            MoveTo(fromX + (toX - fromX) * step / 30, fromY + (toY - fromY) * step / 30);
            SleepMs(60);
        }
        // The program answers each position slowly under Valgrind; the drop counts only once
        // the last one has been answered.
        for (int wiggle = 0; wiggle < 4; ++wiggle) {
            SleepMs(1500);
            MoveTo(toX + (wiggle % 2), toY);
        }
        SleepMs(3000);
        SaveScreen("before-drop.ppm");
        Button(1, false);
        if (WaitFor([&] { return CanvasShows(m, dropBytes.substr(0, 32)); }, 60,
                    "the dropped file on the canvas"))
            return true;
        SaveScreen("no-drop.ppm");
    }
    return false;
}

// ---- The session ----------------------------------------------------------------------------

bool Fail(const char* what) {
    Note("FAILED: %s", what);
    return false;
}

bool Session() {
    const std::string dropBytes = ReadAll(dir + "/drop.bin").value_or("");
    if (dropBytes.size() < 64) return Fail("DIR/drop.bin is missing or shorter than 64 bytes");

    MainWindow m;
    std::optional<Found> main = WaitForWindow(kTitlePrefix, 240);
    if (!main) return Fail("the main window never appeared");
    m.window = *main;
    Note("main window %dx%d at %d,%d", m.window.w, m.window.h, m.window.x, m.window.y);
    if (!WaitFor([&] { return FindCanvas(m); }, 90, "the painted canvas")) {
        SaveScreen("no-canvas.ppm");
        return Fail("the canvas was never painted with the renderer's colours");
    }
    MoveTo(m.canvasX + 300, m.canvasY + 300); // away from the bar: no highlighted item
    SleepMs(1500);
    if (!FindMenuBar(m)) {
        SaveScreen("no-menu-bar.ppm");
        return Fail("the menu bar does not show five items");
    }
    Note("canvas at %d,%d; menu bar items at x %d, %d, %d, %d, %d", m.canvasX, m.canvasY,
         m.bar[0].first, m.bar[1].first, m.bar[2].first, m.bar[3].first, m.bar[4].first);

    // The command-line file is on show; then drop.bin replaces it.
    const std::string startBytes = ReadAll(dir + "/sprites.bin").value_or("");
    if (startBytes.size() < 32 || !CanvasShows(m, startBytes.substr(0, 32))) {
        SaveScreen("no-start-file.ppm");
        return Fail("the canvas does not show the command-line file");
    }
    if (!DropFile(m, dropBytes)) return Fail("the dropped file never reached the canvas");

    // Selection over the first sprite column: canvas (0, 10) to (7, 25) at width 1, zoom 1.
    Note("dragging a selection");
    MoveTo(m.canvasX + 20, m.canvasY + 40);
    SleepMs(800);
    MoveTo(m.canvasX + 0, m.canvasY + 10);
    SleepMs(800);
    Button(1, true);
    SleepMs(500);
    for (int step = 1; step <= 8; ++step) {
        MoveTo(m.canvasX + 7 * step / 8, m.canvasY + 10 + 15 * step / 8);
        SleepMs(150);
    }
    SleepMs(1500);
    Button(1, false);
    SleepMs(500);

    // Zoom: each step shows in the title once handled, and so does everything before it.
    const struct {
        size_t item;
        const char* title;
    } zooms[] = {{2, "zoom:2"}, {3, "zoom:8"}, {1, "zoom:1"}};
    for (const auto& z : zooms) {
        Note("clicking the bar item for %s", z.title);
        ClickBarItem(m, z.item);
        if (!WaitForTitle(m, z.title)) {
            SaveScreen("no-zoom.ppm");
            return Fail("a zoom item was not handled");
        }
    }
    MoveTo(m.canvasX + 300, m.canvasY + 300);
    SleepMs(500);

    // Save selected: 16 rows of one byte each, the bytes 10 to 25 of drop.bin as painted.
    Note("Save selected");
    ClickBarItem(m, 4);
    if (!WaitForFile("drop.bin.000", 16, 90)) {
        SaveScreen("no-selection-file.ppm");
        return Fail("Save selected wrote no 16-byte drop.bin.000");
    }
    std::string selected = ReadAll(dir + "/drop.bin.000").value_or("");
    if (selected != dropBytes.substr(10, 16)) {
        Note("drop.bin.000 %s, expected %s", Hex(selected).c_str(),
             Hex(dropBytes.substr(10, 16)).c_str());
        return Fail("the selection file does not hold the painted bytes");
    }

    // Save binary..: 64 bytes from the first byte on display.
    if (!ChooseProjectItem(m, 2, "Save binary..")) return Fail("no Project drop-down");
    if (!WaitForDialog("Title")) {
        SaveScreen("no-count-dialog.ppm");
        return Fail("no count dialog");
    }
    Type("64"); // behind the default 0000: 000064
    Key(XK_Return);
    if (!AnswerSaveDialog("Save binary file", "range")) return Fail("the binary save dialog");
    AnswerOverwrite("save binary", "range.bin");
    if (!WaitForFile("range.bin", 64, 60)) return Fail("Save binary.. wrote no 64-byte range.bin");
    if (ReadAll(dir + "/range.bin").value_or("") != dropBytes.substr(0, 64))
        return Fail("range.bin does not hold the first 64 bytes of drop.bin");

    // Save image..: picture.png exists already (empty), so the overwrite question comes.
    if (!ChooseProjectItem(m, 1, "Save image..")) return Fail("no Project drop-down");
    if (!AnswerSaveDialog("Save PNG Image AS...", "picture")) return Fail("the image save dialog");
    AnswerOverwrite("RevizeRevuzu", "picture.png");
    if (!WaitFor(
            [&] {
                std::string png = ReadAll(dir + "/picture.png").value_or("");
                if (png.size() < 33 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
                if (png.compare(png.size() - 8, 4, "IEND") != 0) return false;
                const auto* b = reinterpret_cast<const unsigned char*>(png.data());
                uint32_t w = (b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19];
                uint32_t h = (b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23];
                return w == kCanvasW && h == kCanvasH;
            },
            60, "a complete 641 x 481 picture.png"))
        return Fail("Save image.. wrote no complete 641 x 481 PNG");

    // Quit through the menu, then Valgrind's leak check.
    if (!ChooseProjectItem(m, 3, "Quit")) return Fail("no Project drop-down");
    Note("waiting for the program and Valgrind to end");
    if (!WaitFor([] { return ProgramEnded(); }, 240, "the program to end"))
        return Fail("the program did not end after Quit");
    return true;
}

// The figures of Valgrind's log; false when it reports any error or a definite leak.
bool CheckLog() {
    std::string log = ReadAll(logPath).value_or("");
    if (log.empty()) return Fail("no Valgrind log");
    std::istringstream lines(log);
    std::string line;
    bool summary = false, clean = true;
    while (std::getline(lines, line)) {
        if (line.find("ERROR SUMMARY:") != std::string::npos) {
            summary = true;
            if (line.find("ERROR SUMMARY: 0 errors") == std::string::npos) clean = false;
            Note("%s", line.c_str());
        }
        if (line.find("definitely lost:") != std::string::npos) {
            Note("%s", line.c_str());
            if (line.find("definitely lost: 0 bytes") == std::string::npos) clean = false;
        }
        if (line.find("are definitely lost") != std::string::npos) clean = false;
        if (line.find("suppressed:") != std::string::npos) Note("%s", line.c_str());
    }
    if (!summary) return Fail("the Valgrind log has no error summary");
    if (!clean) return Fail("Valgrind reported errors or definite leaks (see the log)");
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int separator = 0;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--") == 0) {
            separator = i;
            break;
        }
    if (separator != 4 || separator + 1 >= argc) {
        std::fprintf(stderr,
                     "usage: valgrind_session DIR DRAG_SOURCE VALGRIND_LOG -- COMMAND...\n");
        return 2;
    }
    dir = argv[1];
    dragSource = argv[2];
    logPath = argv[3];
    sessionStart = Clock::now();

    display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (display == nullptr || !XTestQueryExtension(display, &event, &error, &major, &minor)) {
        std::fprintf(stderr, "valgrind_session: no X display with XTest\n");
        return 1;
    }

    program = fork();
    if (program == 0) {
        execvp(argv[separator + 1], argv + separator + 1);
        std::perror("valgrind_session: exec");
        _exit(127);
    }
    if (program < 0) return 1;

    // The watchdog: a stuck session ends the program and fails, it never hangs the build.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(kSessionSeconds));
        std::fprintf(stderr, "valgrind_session: no end after %d s, giving up\n", kSessionSeconds);
        if (program > 0) kill(program, SIGKILL);
        _exit(1);
    }).detach();

    bool ok = Session();
    if (!ok) {
        SaveScreen("failure.ppm");
        Note("screen saved as %s/failure.ppm", dir.c_str());
        if (!ProgramEnded()) {
            kill(program, SIGTERM); // Valgrind still writes its summary
            WaitFor([] { return ProgramEnded(); }, 120, "the program to end after SIGTERM");
        }
    }
    if (!ProgramEnded()) {
        kill(program, SIGKILL);
        waitpid(program, &programStatus, 0);
    }
    if (ok) {
        if (!WIFEXITED(programStatus)) {
            ok = Fail("the program did not exit normally");
        } else if (WEXITSTATUS(programStatus) != 0) {
            Note("exit code %d", WEXITSTATUS(programStatus));
            ok = Fail(WEXITSTATUS(programStatus) == 99 ? "Valgrind found errors (exit code 99)"
                                                       : "the program's exit code is not 0");
        }
    }
    ok = CheckLog() && ok;
    Note(ok ? "session passed" : "session FAILED");
    XCloseDisplay(display);
    return ok ? 0 : 1;
}
