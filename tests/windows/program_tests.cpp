// The Windows program under Wine on Xvfb, driven with real X input by the GUI tests' driver, in
// what only it shows: its controls, a key, a dropped file and a drag reaching it (the status text),
// "Save selected" chosen with the menu keys, the real dialogs of "Save binary.." (Escape in one
// is its own) and "Open..", a key sent with SendInput while another client has the focus, an
// accelerator, a click on a tile of the overview, and Escape ending it; then at 144 and 192 dpi its
// size, the ">" button seen and clicked, canvas pixels as exact squares and a drag. What the
// commands compute is the unit tests' and the batch tool's byte identity; the controls' places at
// another DPI are dpi_change_tests'. A probe of ours reads what X cannot show. With
// PIXMOLE_WINDOWS_ZIP set, pixmole.exe runs unpacked from that zip, as users get it; otherwise
// PIXMOLE_APP names it.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <sstream>

#include "tests/gui/support/driver.h"
#include "tests/support/processes.h"
#include "tests/support/test_files.h"
#include "tests/support/viewer_session.h"
#include "viewer/layout.h"
#include "viewer/overview.h"

namespace {

// Unpacks the zip before the first test and points the driver at its pixmole.exe.
class UnpackedZip : public ::testing::Environment {
    void SetUp() override {
        const char* zip = std::getenv("PIXMOLE_WINDOWS_ZIP");
        if (zip == nullptr || *zip == '\0') return;
        const pmtest::ProgramRun run =
            pmtest::RunProgram({"/usr/bin/unzip", "-q", zip, "-d", dir_.path()}, 60);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        ASSERT_NE(pmtest::ReadFile(dir_ / "pixmole.exe"), "") << zip << " holds no pixmole.exe";
        setenv("PIXMOLE_APP", (dir_ / "pixmole.exe").c_str(), 1);
    }
    pmtest::TempDir dir_;
};
[[maybe_unused]] const auto* const unpacked = ::testing::AddGlobalTestEnvironment(new UnpackedZip);

std::string Probe(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/wine", std::getenv("PIXMOLE_PROBE")});
    return pmtest::RunProgram(args).out;
}

// The DPI of the Wine prefix's screen, for the programs started from now on.
void SetScreenDpi(int dpi) {
    pmtest::RunProgram({"/usr/bin/wine", "reg", "add", "HKCU\\Control Panel\\Desktop", "/v",
                        "LogPixels", "/t", "REG_DWORD", "/d", std::to_string(dpi), "/f"});
}

// The classes of the main window's child windows but the status bar. The canvas, the last label
// and the ">" button (the narrowest button) go to the layout, from the X window's corner as the
// driver places boxes.
std::vector<std::string> Children(gui::Program& p) {
    int x = 0, y = 0, narrowest = INT_MAX;
    Window ignored = 0;
    XTranslateCoordinates(p.d, p.main, DefaultRootWindow(p.d), 0, 0, &x, &y, &ignored);
    std::vector<std::string> kinds;
    std::istringstream lines(Probe({"children"}));
    std::string kind;
    for (gui::Box b; lines >> kind >> b.x >> b.y >> b.w >> b.h;) {
        const gui::Box at = {b.x - x, b.y - y, b.w, b.h};
        if (kind == "PixmoleCanvas") p.layout.at["canvas"] = at;
        if (kind == "Static") p.layout.at["label"] = at;
        if (kind == "Button" && b.w < narrowest) narrowest = b.w, p.layout.at["go"] = at;
        if (kind != "msctls_statusbar32") kinds.push_back(kind);
    }
    return kinds;
}

// Whether the screen shows the ">" button at a box of the main window: a button's frame along
// its edges (pixels darker than its face and the window's background), and inside it a glyph
// that points right, its middle row reaching further right than its first and last.
bool ShowsGoButton(gui::Program& p, const gui::Box& b) {
    int x = 0, y = 0;
    Window ignored = 0;
    XTranslateCoordinates(p.d, p.main, DefaultRootWindow(p.d), b.x, b.y, &x, &y, &ignored);
    XImage* image = XGetImage(p.d, DefaultRootWindow(p.d), x, y, unsigned(b.w), unsigned(b.h),
                              AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    const auto ink = [&](int column, int row) {
        const unsigned long pixel = XGetPixel(image, column, row);
        return (pixel >> 16 & 0xFF) + (pixel >> 8 & 0xFF) + (pixel & 0xFF) < 600;
    };
    int frame = 0;
    for (int i = 0; i < b.w; ++i) frame += ink(i, 0) + ink(i, b.h - 1);
    for (int i = 0; i < b.h; ++i) frame += ink(0, i) + ink(b.w - 1, i);
    std::vector<int> rightmost; // of each row of the glyph
    for (int row = 2; row < b.h - 2; ++row) {
        int right = -1;
        for (int column = 2; column < b.w - 2; ++column)
            if (ink(column, row)) right = column;
        if (right >= 0) rightmost.push_back(right);
    }
    XDestroyImage(image);
    return frame >= (b.w + b.h) * 3 / 2 && rightmost.size() >= 3 &&
           rightmost[rightmost.size() / 2] > std::max(rightmost.front(), rightmost.back());
}

// Without a window manager the keys go to the window under the pointer.
void KeysHere(gui::Program& p) {
    p.At(p.layout.at["label"], 2, 2), p.Pause(100);
}

// A drag from (0, 10) to (7, 25) in canvas pixels, between the last screen pixels of two.
void DragAndExpectStatus(gui::Program& p, int factor = 1) {
    const int last = factor - 1;
    p.Drag(p.layout.at["canvas"], last, 10 * factor + last, 7 * factor + last, 25 * factor + last);
    EXPECT_TRUE(p.WaitFor([&] { return Probe({"status"}) == "x:0 y:10 w:0 h:15"; }))
        << Probe({"status"});
}

// Waits for the dialog or message box of that title, replaces the text of its field with the
// typed one (unless null), presses the key and waits until it has gone. The pointer goes on the
// dialog, near its top: without a window manager the keys go there.
bool Answer(gui::Program& p, const std::string& title, const char* typed, KeySym key = XK_Return) {
    Window w = 0;
    if (!p.WaitFor([&] { return (w = p.FindWindow(title)) != 0; })) return false;
    p.Pause(300);
    XWindowAttributes shown{};
    XGetWindowAttributes(p.d, w, &shown);
    p.Move(shown.x + shown.width / 2, shown.y + 10);
    p.Pause(100);
    if (typed != nullptr) {
        p.Stroke(XK_End);
        p.Key(XK_Shift_L, true), p.Stroke(XK_Home), p.Key(XK_Shift_L, false);
        p.Type(typed);
        p.Pause(200);
    }
    p.Stroke(key, 100);
    return p.WaitFor([&] { return p.FindWindow(title) == 0; });
}

void ExpectEscapeEnds(gui::Program& p) {
    KeysHere(p);
    p.KeyUntil(XK_Escape, [&] { return !p.Running(); });
    EXPECT_EQ(p.WaitExit(20000), 0);
}

TEST(WindowsProgram, ControlsSelectionSaveDropAndEscapeUnderWine) {
    gui::Watchdog(600, "the Windows program session");
    pmtest::TempDir dir;
    std::string drop = pmtest::Pattern(4000);
    for (char& c : drop) c = static_cast<char>(~c);
    pmtest::WriteFile(dir / "drop.bin", drop);
    pmtest::WriteFile(dir / "range.bin", "old"); // "Save binary.." asks before replacing it
    SetScreenDpi(96);
    gui::Program p({pmtest::WriteFile(dir / "start.bin", pmtest::Pattern(4000))});
    ASSERT_NE(p.main, 0u) << "no main window";
    const std::vector<std::string> children = Children(p);
    EXPECT_EQ(children.size() - std::count(children.begin(), children.end(), "msctls_updown32"),
              16u); // the controls: the children but the arrows of the spin boxes
    // Menu keys act while the window is active; without a window manager a click activates it
    // again after a dialog (a label passes the click to the window).
    auto activate = [&] { p.ClickOn(p.layout.at["label"]), p.Pause(300); };
    // The menus by their keys: F10 takes the bar, Right moves along it, Down opens "Project".
    auto menu = [&](std::vector<KeySym> keys) {
        activate();
        p.Stroke(XK_F10);
        for (KeySym key : keys) p.Stroke(key);
        p.Stroke(XK_Return);
    };
    auto wrote = [&](const std::string& name, const std::string& bytes) {
        return p.WaitFor([&] { return pmtest::ReadFile(dir / name) == bytes; });
    };

    KeysHere(p);
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:1 "); }));
    ASSERT_TRUE(p.DropFile(dir / "drop.bin", [&] { return p.TitleHas("disp:0 "); }));
    DragAndExpectStatus(p);
    menu({XK_Right, XK_Right, XK_Right, XK_Right}); // "Save selected", the 5th on the bar
    EXPECT_TRUE(wrote("drop.bin.000", drop.substr(10, 16)));

    // Save binary..: Escape in the text dialog is the dialog's own; then the count, the name
    // ("Binary" adds ".bin") and Yes (Return) to replacing the file there.
    menu({XK_Down, XK_Down, XK_Down});
    ASSERT_TRUE(Answer(p, "Title", nullptr, XK_Escape));
    p.Pause(500);
    ASSERT_TRUE(p.Running());
    menu({XK_Down, XK_Down, XK_Down});
    ASSERT_TRUE(Answer(p, "Title", "64"));
    ASSERT_TRUE(Answer(p, "Save binary file", "range"));
    ASSERT_TRUE(Answer(p, "save binary", nullptr));
    EXPECT_TRUE(wrote("range.bin", drop.substr(0, 64)));

    // Keys while another client has the focus: Wine sees them only when sent with SendInput. Wine
    // learns that it lost the focus only from a window that had it: after a dialog, without a
    // window manager, a click gives the main window the focus first.
    activate();
    ASSERT_TRUE(p.FocusElsewhere());
    Probe({"key", "39"}); // VK_RIGHT
    EXPECT_TRUE(p.WaitFor([&] { return p.TitleHas("sprsize:2 "); })) << p.Title(p.main);
    XSetInputFocus(p.d, PointerRoot, RevertToParent, CurrentTime);

    // Open.. two glyph sheets (the chooser starts in the loaded file's folder), then Ctrl+2: rows,
    // bit 0 left.
    const std::string sample = pmtest::TwoSheets();
    pmtest::WriteFile(dir / "sample.bin", sample);
    KeysHere(p);
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:2 "); })); // a load shows 0
    menu({XK_Down});
    ASSERT_TRUE(Answer(p, "Please choose file to load", "sample.bin"));
    ASSERT_TRUE(p.WaitFor([&] { return p.TitleHas("disp:0 "); })) << p.Title(p.main);
    activate();
    p.Key(XK_Control_L, true), p.Stroke(XK_2), p.Key(XK_Control_L, false);
    EXPECT_TRUE(p.WaitFor([&] { return p.TitleHas(" zoom:1 layout:rows-lsb"); }))
        << p.Title(p.main);

    // The overview (F5): a click on its first tile shows the best region, in its layout.
    const auto n = [](auto v) { return std::to_string(v); };
    const viewer::GraphicsRegion best = viewer::FindGraphics(
        reinterpret_cast<const uint8_t*>(sample.data()), int64_t(sample.size()))[0];
    p.Stroke(XK_F5);
    int x = 0, y = 0;
    ASSERT_TRUE(p.WaitFor([&] { return bool(std::istringstream(Probe({"overview"})) >> x >> y); }));
    const viewer::SheetBox first = viewer::TileBox(0, 1);
    const std::string ending =
        ", sprsize:" + n(best.width) + " disp:" + n(best.first) + " zoom:1" +
        (best.layout == viewer::PixelLayout{} ? "" : " layout:" + viewer::LayoutName(best.layout));
    bool landed = false;
    for (int click = 0; click < 5 && !landed; ++click) { // the tiles come when the scan ends
        p.Move(x + first.x + first.width / 2, y + first.y + first.height / 2);
        p.Pause(100), p.Button(1, true), p.Pause(50), p.Button(1, false);
        landed = p.WaitFor([&] { return p.Title(p.main).ends_with(ending); }, 2000);
    }
    EXPECT_TRUE(landed) << p.Title(p.main);
    ExpectEscapeEnds(p);
}

TEST(WindowsProgram, ScalesWithTheScreensDpi) {
    gui::Watchdog(600, "the Windows program at two DPIs");
    pmtest::TempDir dir;
    const std::string file = pmtest::WriteFile(dir / "start.bin", pmtest::Pattern(4000));
    for (const int dpi : {144, 192}) { // 96, the session's, has nothing to scale
        SCOPED_TRACE(std::to_string(dpi) + " dpi");
        SetScreenDpi(dpi);
        gui::Program p({file});
        ASSERT_NE(p.main, 0u) << "no main window";
        const double scale = dpi / 96.0;
        const int factor = dpi / 96; // canvas pixels are squares of this many screen pixels

        // The inner area; within the frame the window is 660 x 610 logical pixels.
        gui::Box client;
        int framedH = 0;
        std::istringstream(Probe({"client", std::to_string(dpi)})) >> client.x >> client.y >>
            client.w >> framedH;
        EXPECT_EQ(client.w, std::lround(660 * scale));
        EXPECT_EQ(framedH, std::lround(610 * scale));

        Children(p);
        // The ">" button shows over the blank end of the label "grid sizeY", and a click on it
        // jumps to the position typed into "disp" on its left.
        const gui::Box go = p.layout.at["go"];
        p.Pause(300);
        EXPECT_TRUE(ShowsGoButton(p, go)) << "no \">\" button to be seen";
        p.ClickOn({go.x - go.w, go.y, go.w, go.h});
        p.Stroke(XK_End);
        p.Type("96"); // after the "0" it shows
        p.ClickOn(go);
        EXPECT_TRUE(p.WaitFor([&] { return p.TitleHas(" disp:96 "); })) << p.Title(p.main);

        // Canvas pixels as exact squares: the pattern's bytes are black and white columns.
        p.Pause(300);
        XImage* image = XGetImage(p.d, DefaultRootWindow(p.d), client.x, client.y, 641u * factor,
                                  481u * factor, AllPlanes, ZPixmap);
        ASSERT_NE(image, nullptr);
        int wrong = 0;
        for (int y = 0; y < 481 * factor; ++y)
            for (int x = 0; x < 641 * factor; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y) & 0xFFFFFF;
                wrong += (pixel != 0 && pixel != 0xFFFFFF) ||
                         pixel != (XGetPixel(image, x - x % factor, y - y % factor) & 0xFFFFFF);
            }
        XDestroyImage(image);
        EXPECT_EQ(wrong, 0) << "pixels neither black nor white or not in squares of one colour";
        DragAndExpectStatus(p, factor);
        ExpectEscapeEnds(p);
    }
    SetScreenDpi(96);
}

} // namespace
