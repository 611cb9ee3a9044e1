// The Windows program under Wine on Xvfb, driven with real X input by the GUI tests' driver: its
// controls, a drag and the status text, "Save selected", a dropped file, Escape in a message box,
// keys sent with SendInput while another client has the focus, F3 on the sample and Escape ending
// it; then at 96, 144 and 192 dpi its size, its controls' places, check boxes wide enough for their
// texts, canvas pixels as exact squares and a drag. A probe of ours reads what X cannot show.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cmath>
#include <sstream>

#include "tests/gui/support/driver.h"
#include "tests/support/processes.h"
#include "tests/support/test_files.h"
#include "tests/support/viewer_session.h"

namespace {

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
// what a check box's text needs at that DPI (0 for the others). The canvas and the label go to
// the layout, from the X window's corner as the driver places boxes.
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
        if (c.kind == "PixmoleCanvas" || c.kind == "Static")
            p.layout.at[c.kind == "Static" ? "label" : "canvas"] = {c.box.x - x, c.box.y - y,
                                                                    c.box.w, c.box.h};
    }
    return children;
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
    auto saveSelected = [&] { // the last item on the menu bar
        KeysHere(p);
        for (auto key : {XK_F10, XK_Right, XK_Right, XK_Right, XK_Right, XK_Return}) p.Stroke(key);
    };

    KeysHere(p);
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:1 "); }));
    ASSERT_TRUE(p.DropFile(dir / "drop.bin", [&] { return p.TitleHas("disp:0 "); }));
    DragAndExpectStatus(p);
    saveSelected();
    EXPECT_TRUE(
        p.WaitFor([&] { return pmtest::ReadFile(dir / "drop.bin.000") == drop.substr(10, 16); }));

    // With every numbered name taken (a name of an empty file is free) a message box says so;
    // Escape closes it, nothing more.
    for (int n = 1; n < 1000; ++n)
        pmtest::WriteFile(dir / ("drop.bin." + std::to_string(1000 + n).substr(1)), "taken");
    const std::string title = p.Title(p.main);
    saveSelected();
    Window box = 0;
    XWindowAttributes shown{};
    ASSERT_TRUE(p.WaitFor([&] { return (box = p.FindWindow("Save selected")) != 0; }));
    p.Pause(300);
    XGetWindowAttributes(p.d, box, &shown);
    p.Move(shown.x + shown.width / 2, shown.y + 10), p.Stroke(XK_Escape, 100);
    EXPECT_TRUE(p.WaitFor([&] { return p.FindWindow("Save selected") == 0; }));
    p.Pause(500);
    EXPECT_EQ(p.Title(p.main), title);

    // Keys while another client has the focus: Wine sees them only when sent with SendInput.
    ASSERT_TRUE(p.FocusElsewhere());
    Probe({"key", "39"}); // VK_RIGHT
    EXPECT_TRUE(p.WaitFor([&] { return p.TitleHas("sprsize:2 "); })) << p.Title(p.main);
    XSetInputFocus(p.d, PointerRoot, RevertToParent, CurrentTime);

    // F3 on the sample: the first region after byte 0, at its width, named in the status bar.
    const std::string sample = pmtest::SampleBytes();
    const std::vector<viewer::GraphicsRegion> regions = pmtest::RegionsInFileOrder(sample);
    ASSERT_TRUE(regions.size() >= 2 && regions[0].first == 0) << "the sample's font at 0";
    KeysHere(p);
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:2 "); })); // a load shows 0
    ASSERT_TRUE(p.DropFile(pmtest::WriteFile(dir / "sample.bin", sample),
                           [&] { return p.TitleHas("disp:0 "); }));
    // Menu keys act while the window is active; without a window manager a click activates it
    // again (a label passes the click to the window).
    p.ClickOn(p.layout.at["label"]);
    p.Pause(300);
    p.Stroke(XK_F3);
    const viewer::GraphicsRegion& next = regions[1];
    const auto n = [](auto v) { return std::to_string(v); };
    EXPECT_TRUE(p.WaitFor([&] {
        return Probe({"status"}) == "Graphics 2 of " + n(regions.size()) + ": byte " +
                                        n(next.first) + ", " + n(next.length) + " bytes, width " +
                                        n(next.width);
    })) << Probe({"status"});
    EXPECT_TRUE(p.TitleHas(", sprsize:" + n(next.width) + " disp:" + n(next.first) + " "))
        << p.Title(p.main);
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
