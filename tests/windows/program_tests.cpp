// The Windows program under Wine on Xvfb, driven with real X input by the GUI tests' driver: its
// controls, a drag and the status text, a dropped file, the exports ("Save selected", "Save
// binary.." with its text dialog, "Save image..") writing what the Linux build writes, Escape in
// a message box, keys sent with SendInput while another client has the focus, "Open.." and F3 on
// the sample, the Layout drop-down and its keys, a click on a tile of the overview, and Escape
// ending it; then at 96, 144 and 192 dpi its size, its controls' places, check boxes wide enough
// for their texts, the ">" button seen and clicked, canvas pixels as exact squares and a drag. A
// probe of ours reads what X cannot show. With PIXMOLE_WINDOWS_ZIP set, pixmole.exe runs unpacked
// from that zip, as users get it; otherwise PIXMOLE_APP names it.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <X11/keysym.h>

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

// The main window's child windows but the status bar, in stacking order, in screen pixels, with
// what a check box's text needs at that DPI (0 for the others). The canvas, the label and the
// ">" button go to the layout, from the X window's corner as the driver places boxes.
struct Child {
    std::string kind;
    gui::Box box;
    int needs = 0;
};
std::vector<Child> Children(gui::Program& p, int dpi) {
    int x = 0, y = 0;
    Window ignored = 0;
    XTranslateCoordinates(p.d, p.main, DefaultRootWindow(p.d), 0, 0, &x, &y, &ignored);
    std::vector<Child> children;
    std::istringstream lines(Probe({"children", std::to_string(dpi)}));
    for (Child c; lines >> c.kind >> c.box.x >> c.box.y >> c.box.w >> c.box.h >> c.needs;) {
        if (c.kind != "msctls_statusbar32") children.push_back(c);
        const char* name = c.kind == "PixmoleCanvas"            ? "canvas"
                           : c.kind == "Static"                 ? "label"
                           : c.kind == "Button" && c.needs == 0 ? "go" // the push button ">"
                                                                : nullptr;
        if (name != nullptr) p.layout.at[name] = {c.box.x - x, c.box.y - y, c.box.w, c.box.h};
    }
    return children;
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

// Puts the pointer on the window, near its top: without a window manager the keys go there.
void PointAt(gui::Program& p, Window w) {
    XWindowAttributes shown{};
    XGetWindowAttributes(p.d, w, &shown);
    p.Move(shown.x + shown.width / 2, shown.y + 10);
    p.Pause(100);
}

// Waits for the dialog of that title, replaces the text of its field with the typed one, presses
// Return and waits until the dialog has gone.
bool Answer(gui::Program& p, const std::string& title, const std::string& typed) {
    Window w = 0;
    if (!p.WaitFor([&] { return (w = p.FindWindow(title)) != 0; })) return false;
    p.Pause(300);
    PointAt(p, w);
    p.Stroke(XK_End);
    p.Key(XK_Shift_L, true), p.Stroke(XK_Home), p.Key(XK_Shift_L, false);
    p.Type(typed);
    p.Pause(200);
    p.Stroke(XK_Return);
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
    SetScreenDpi(96);
    gui::Program p({pmtest::WriteFile(dir / "start.bin", pmtest::Pattern(4000))});
    ASSERT_NE(p.main, 0u) << "no main window";
    int controls = 0; // the children but the arrows of the spin boxes
    for (const Child& c : Children(p, 96)) controls += c.kind != "msctls_updown32";
    EXPECT_EQ(controls, 16);
    // The menus by their keys: F10 takes the bar, Right moves along it, Down opens "Project".
    // Menu keys act while the window is active; without a window manager a click activates it
    // again after a dialog (a label passes the click to the window).
    auto menu = [&](std::vector<KeySym> keys) {
        p.ClickOn(p.layout.at["label"]);
        p.Pause(300);
        p.Stroke(XK_F10);
        for (KeySym key : keys) p.Stroke(key);
        p.Stroke(XK_Return);
    };
    auto saveSelected = [&] { menu({XK_Right, XK_Right, XK_Right, XK_Right}); }; // 5th on the bar
    auto project = [&](int item) { // 0: "Open..", 1: "Save image..", 2: "Save binary.."
        std::vector<KeySym> keys(size_t(item) + 1, XK_Down);
        menu(keys);
    };
    // What the Linux build makes of the same view: its batch tool runs the viewer's own code.
    auto onLinux = [&](std::vector<std::string> args) {
        args.insert(args.begin(), pmtest::BesideTests("../tools/pixmole-batch"));
        args.push_back(dir / "drop.bin");
        const pmtest::ProgramRun run = pmtest::RunProgram(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return run.out;
    };
    auto wrote = [&](const std::string& name, const std::string& bytes) {
        return p.WaitFor([&] { return pmtest::ReadFile(dir / name) == bytes; });
    };

    KeysHere(p);
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:1 "); }));
    ASSERT_TRUE(p.DropFile(dir / "drop.bin", [&] { return p.TitleHas("disp:0 "); }));
    DragAndExpectStatus(p);
    const std::string shown = onLinux({"--select", "0,10,7,25", "--bits", dir / "linux.bits"});
    EXPECT_EQ(shown, "title: " + p.Title(p.main) + "\nstatus: x:0 y:10 w:0 h:15\n");
    saveSelected();
    EXPECT_TRUE(wrote("drop.bin.000", pmtest::ReadFile(dir / "linux.bits")));
    EXPECT_EQ(pmtest::ReadFile(dir / "linux.bits"), drop.substr(10, 16));

    // With every numbered name taken (a name of an empty file is free) a message box says so;
    // Escape closes it, nothing more.
    for (int n = 1; n < 1000; ++n)
        pmtest::WriteFile(dir / ("drop.bin." + std::to_string(1000 + n).substr(1)), "taken");
    const std::string title = p.Title(p.main);
    saveSelected();
    Window box = 0;
    ASSERT_TRUE(p.WaitFor([&] { return (box = p.FindWindow("Save selected")) != 0; }));
    p.Pause(300);
    PointAt(p, box);
    p.Stroke(XK_Escape, 100);
    EXPECT_TRUE(p.WaitFor([&] { return p.FindWindow("Save selected") == 0; }));
    p.Pause(500);
    EXPECT_EQ(p.Title(p.main), title);

    // Save binary..: the count in the text dialog, then the name ("Binary" adds ".bin").
    project(2);
    ASSERT_TRUE(Answer(p, "Title", "64"));
    ASSERT_TRUE(Answer(p, "Save binary file", "range"));
    EXPECT_TRUE(wrote("range.bin", drop.substr(0, 64)));

    // "x2" on the bar, then Save image..: the canvas as the Linux build writes it at zoom 2.
    // The PNG's name is the loaded path from now on: the numbered names follow it.
    menu({XK_Right, XK_Right});
    ASSERT_TRUE(p.WaitFor([&] { return p.TitleHas(" zoom:2"); })) << p.Title(p.main);
    onLinux({"--zoom", "2", "--select", "0,10,7,25", "--png", dir / "linux.png"});
    ASSERT_NE(pmtest::ReadFile(dir / "linux.png"), "");
    project(1);
    ASSERT_TRUE(Answer(p, "Save PNG Image AS...", "picture"));
    EXPECT_TRUE(wrote("picture.png", pmtest::ReadFile(dir / "linux.png")));
    EXPECT_TRUE(pmtest::DecodePng(dir / "picture.png").rows.size() == 481);

    // Keys while another client has the focus: Wine sees them only when sent with SendInput. Wine
    // learns that it lost the focus only from a window that had it: after a dialog, without a
    // window manager, a click gives the main window the focus first.
    p.ClickOn(p.layout.at["label"]);
    p.Pause(300);
    ASSERT_TRUE(p.FocusElsewhere());
    Probe({"key", "39"}); // VK_RIGHT
    EXPECT_TRUE(p.WaitFor([&] { return p.TitleHas("sprsize:2 "); })) << p.Title(p.main);
    XSetInputFocus(p.d, PointerRoot, RevertToParent, CurrentTime);

    // Open.. two glyph sheets (the chooser starts in the loaded file's folder), then F3: the
    // first region after byte 0, at its width, named in the status bar.
    const std::string sample = pmtest::TwoSheets();
    const std::vector<viewer::GraphicsRegion> regions = pmtest::RegionsInFileOrder(sample);
    ASSERT_TRUE(regions.size() >= 2 && regions[0].first > 0) << "two regions after byte 0";
    pmtest::WriteFile(dir / "sample.bin", sample);
    KeysHere(p);
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:2 "); })); // a load shows 0
    project(0);
    ASSERT_TRUE(Answer(p, "Please choose file to load", "sample.bin"));
    ASSERT_TRUE(p.WaitFor([&] { return p.TitleHas("disp:0 "); })) << p.Title(p.main);
    // Menu keys act while the window is active; without a window manager a click activates it
    // again (a label passes the click to the window).
    p.ClickOn(p.layout.at["label"]);
    p.Pause(300);
    p.Stroke(XK_F3);
    const viewer::GraphicsRegion& next = regions[0];
    const auto n = [](auto v) { return std::to_string(v); };
    EXPECT_TRUE(p.WaitFor([&] {
        return Probe({"status"}) == "Graphics 1 of " + n(regions.size()) + ": byte " +
                                        n(next.first) + ", " + n(next.length) + " bytes, width " +
                                        n(next.width);
    })) << Probe({"status"});
    EXPECT_TRUE(p.TitleHas(", sprsize:" + n(next.width) + " disp:" + n(next.first) + " "))
        << p.Title(p.main);

    // "Layout", the 7th on the bar, by its keys: its third item; then Ctrl+2.
    menu({XK_Right, XK_Right, XK_Right, XK_Right, XK_Right, XK_Right, XK_Down, XK_Down, XK_Down});
    EXPECT_TRUE(p.WaitFor([&] { return p.TitleHas(" zoom:2 layout:columns"); })) << p.Title(p.main);
    p.Key(XK_Control_L, true), p.Stroke(XK_2), p.Key(XK_Control_L, false);
    EXPECT_TRUE(p.WaitFor([&] { return p.TitleHas(" zoom:2 layout:rows-lsb"); }))
        << p.Title(p.main);

    // The overview (F5): a click on its first tile shows the best region, in its layout.
    const viewer::GraphicsRegion best = viewer::FindGraphics(
        reinterpret_cast<const uint8_t*>(sample.data()), int64_t(sample.size()))[0];
    p.Stroke(XK_F5);
    int x = 0, y = 0;
    ASSERT_TRUE(p.WaitFor([&] { return bool(std::istringstream(Probe({"overview"})) >> x >> y); }));
    const viewer::SheetBox first = viewer::TileBox(0, 1);
    const std::string ending =
        ", sprsize:" + n(best.width) + " disp:" + n(best.first) + " zoom:2" +
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
    gui::Watchdog(900, "the Windows program at three DPIs");
    pmtest::TempDir dir;
    const std::string file = pmtest::WriteFile(dir / "start.bin", pmtest::Pattern(4000));
    std::vector<Child> logical; // as laid out at 96 dpi
    for (const int dpi : {96, 144, 192}) {
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

        // Every control where its logical place says, scaled, from the inner area's corner; a
        // check box may be wider, as wide as its text needs.
        auto children = Children(p, dpi);
        for (Child& c : children) c.box.x -= client.x, c.box.y -= client.y;
        if (dpi == 96) logical = children;
        ASSERT_EQ(children.size(), logical.size());
        int checks = 0;
        for (size_t i = 0; i < children.size(); ++i) {
            const auto& [kind, box, needs] = children[i];
            const gui::Box& at = logical[i].box;
            SCOPED_TRACE(kind + " " + std::to_string(i));
            EXPECT_EQ(kind, logical[i].kind);
            EXPECT_NEAR(box.x, at.x * scale, 1);
            EXPECT_NEAR(box.y, at.y * scale, 1);
            EXPECT_NEAR(box.y + box.h, (at.y + at.h) * scale, 1);
            checks += needs > 0;
            if (needs > 0)
                EXPECT_LE(needs, box.w) << "a check box too narrow for its text";
            else
                EXPECT_NEAR(box.x + box.w, (at.x + at.w) * scale, 1);
        }
        EXPECT_EQ(checks, 4);

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
