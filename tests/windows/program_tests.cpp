// The Windows program under Wine on Xvfb, driven with real X input by the driver of the GUI
// tests: its sixteen controls, a drag over the canvas and the status text, "Save selected", a
// file dropped from another client, Escape in a message box, keys sent with SendInput while
// another client has the focus, F3 jumping to the sample's graphics with the status bar naming
// them, and Escape on the main window ending it with 0. Then the same window on screens of 96, 144
// and 192 dpi: its size, its controls' places and sizes, check boxes wide enough for their texts,
// the canvas's pixels as exact squares, and a drag's status text. What X cannot show (the child
// windows, the status text) a probe of ours reads under Wine.
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

TEST(WindowsProgram, ControlsSelectionSaveDropAndEscapeUnderWine) {
    gui::Watchdog(600, "the Windows program session");
    SetScreenDpi(96);
    pmtest::TempDir dir;
    std::string drop = pmtest::Pattern(4000);
    for (char& c : drop) c = static_cast<char>(~c);
    pmtest::WriteFile(dir / "drop.bin", drop);
    gui::Program p({pmtest::WriteFile(dir / "start.bin", pmtest::Pattern(4000))});
    ASSERT_NE(p.main, 0u) << "no main window";

    // The children but the status bar and the arrows of the spin boxes are the controls.
    int controls = 0, ox = 0, oy = 0;
    Window child = 0;
    XTranslateCoordinates(p.d, p.main, DefaultRootWindow(p.d), 0, 0, &ox, &oy, &child);
    std::istringstream children(Probe({"children"}));
    gui::Box box, label;
    for (std::string kind; children >> kind >> box.x >> box.y >> box.w >> box.h;) {
        box.x -= ox, box.y -= oy;
        controls += kind != "msctls_statusbar32" && kind != "msctls_updown32";
        if (kind == "PixmoleCanvas") p.layout.at["canvas"] = box;
        if (kind == "Static") label = box;
    }
    EXPECT_EQ(controls, 16);
    // Without a window manager the keys go to the window under the pointer.
    auto keysHere = [&] { p.At(label, 2, 2), p.Pause(100); };
    auto saveSelected = [&] { // the last item on the menu bar
        keysHere();
        p.Stroke(XK_F10);
        for (int i = 0; i < 4; ++i) p.Stroke(XK_Right);
        p.Stroke(XK_Return);
    };

    keysHere();
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:1 "); }));
    ASSERT_TRUE(p.DropFile(dir / "drop.bin", [&] { return p.TitleHas("disp:0 "); }));

    p.Drag(p.layout.at["canvas"], 0, 10, 7, 25);
    EXPECT_TRUE(p.WaitFor([&] { return Probe({"status"}) == "x:0 y:10 w:0 h:15"; }))
        << Probe({"status"});
    saveSelected();
    EXPECT_TRUE(
        p.WaitFor([&] { return pmtest::ReadFile(dir / "drop.bin.000") == drop.substr(10, 16); }));

    // With every numbered name taken (a name of an empty file is free) a message box says so;
    // Escape closes it, nothing more.
    for (int n = 1; n < 1000; ++n)
        pmtest::WriteFile(dir / ("drop.bin." + std::to_string(1000 + n).substr(1)), "taken");
    const std::string title = p.Title(p.main);
    saveSelected();
    XWindowAttributes shown{};
    ASSERT_TRUE(p.WaitFor([&] { return p.FindWindow("Save selected") != 0; }));
    p.Pause(300);
    XGetWindowAttributes(p.d, p.FindWindow("Save selected"), &shown);
    p.Move(shown.x + shown.width / 2, shown.y + 10), p.Stroke(XK_Escape, 100);
    EXPECT_TRUE(p.WaitFor([&] { return p.FindWindow("Save selected") == 0; }));
    p.Pause(500);
    EXPECT_TRUE(p.Running() && p.Title(p.main) == title);

    // Keys while another client has the focus: Wine sees them only when sent with SendInput.
    ASSERT_TRUE(p.FocusElsewhere());
    Probe({"key", "39"}); // VK_RIGHT
    EXPECT_TRUE(p.WaitFor([&] { return p.TitleHas("sprsize:2 "); })) << p.Title(p.main);

    XSetInputFocus(p.d, PointerRoot, RevertToParent, CurrentTime);
    keysHere();

    // F3 on the sample: the first region after byte 0, at its width, named in the status bar.
    const std::string sample = pmtest::SampleBytes();
    const std::vector<viewer::GraphicsRegion> regions = pmtest::RegionsInFileOrder(sample);
    ASSERT_TRUE(regions.size() >= 2 && regions[0].first == 0) << "the sample's font at 0";
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:2 "); })); // a load shows 0
    ASSERT_TRUE(p.DropFile(pmtest::WriteFile(dir / "sample.bin", sample),
                           [&] { return p.TitleHas("disp:0 "); }));
    // Menu keys act while the window is active; without a window manager a click activates it
    // again (a label passes the click to the window).
    p.ClickOn(label);
    p.Pause(300);
    p.Stroke(XK_F3);
    const viewer::GraphicsRegion& next = regions[1];
    EXPECT_TRUE(p.WaitFor([&] {
        return p.TitleHas(", sprsize:" + std::to_string(next.width) +
                          " disp:" + std::to_string(next.first) + " ");
    })) << p.Title(p.main);
    EXPECT_EQ(Probe({"status"}), "Graphics 2 of " + std::to_string(regions.size()) + ": byte " +
                                     std::to_string(next.first) + ", " +
                                     std::to_string(next.length) + " bytes, width " +
                                     std::to_string(next.width));

    keysHere();
    p.KeyUntil(XK_Escape, [&] { return !p.Running(); });
    EXPECT_EQ(p.WaitExit(20000), 0);
}

// The main window's inner area on the screen, and its size within the frame (the inner area and
// the menu bar).
struct Client {
    int x = 0, y = 0, w = 0, h = 0, framedW = 0, framedH = 0;
};

// The window's child windows but the status bar, in their stacking order, in pixels from the
// inner area's top-left corner.
std::vector<std::pair<std::string, gui::Box>> ChildrenIn(const Client& client) {
    std::vector<std::pair<std::string, gui::Box>> children;
    std::istringstream lines(Probe({"children"}));
    gui::Box box;
    for (std::string kind; lines >> kind >> box.x >> box.y >> box.w >> box.h;) {
        box.x -= client.x, box.y -= client.y;
        if (kind != "msctls_statusbar32") children.emplace_back(kind, box);
    }
    return children;
}

// A box in the inner area as the driver places boxes: from the X window's corner.
gui::Box OnMain(gui::Program& p, const Client& client, gui::Box box) {
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(p.d, p.main, DefaultRootWindow(p.d), 0, 0, &x, &y, &child);
    box.x += client.x - x, box.y += client.y - y;
    return box;
}

// True when every pixel of the area is black or white and the same as the others of its
// factor x factor square (the squares counted from the area's top-left corner).
bool ExactSquares(Display* d, const gui::Box& area, int factor, std::string* why) {
    XImage* image = XGetImage(d, DefaultRootWindow(d), area.x, area.y, unsigned(area.w),
                              unsigned(area.h), AllPlanes, ZPixmap);
    if (image == nullptr) return *why = "no image", false;
    bool exact = true;
    for (int y = 0; y < area.h && exact; ++y)
        for (int x = 0; x < area.w && exact; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y) & 0xFFFFFF;
            if (pixel != 0 && pixel != 0xFFFFFF)
                *why = "a pixel neither black nor white at " + std::to_string(x) + "," +
                       std::to_string(y),
                exact = false;
            else if (pixel != (XGetPixel(image, x - x % factor, y - y % factor) & 0xFFFFFF))
                *why = "a square of two colours at " + std::to_string(x) + "," + std::to_string(y),
                exact = false;
        }
    XDestroyImage(image);
    return exact;
}

TEST(WindowsProgram, ScalesWithTheScreensDpi) {
    gui::Watchdog(900, "the Windows program at three DPIs");
    pmtest::TempDir dir;
    const std::string file = pmtest::WriteFile(dir / "start.bin", pmtest::Pattern(4000));
    std::vector<std::pair<std::string, gui::Box>> logical; // as laid out at 96 dpi
    for (const int dpi : {96, 144, 192}) {
        SCOPED_TRACE(std::to_string(dpi) + " dpi");
        SetScreenDpi(dpi);
        gui::Program p({file});
        ASSERT_NE(p.main, 0u) << "no main window";
        const double scale = dpi / 96.0;
        const int factor = dpi / 96; // canvas pixels are squares of this many screen pixels

        Client client;
        std::istringstream(Probe({"client", std::to_string(dpi)})) >> client.x >> client.y >>
            client.w >> client.h >> client.framedW >> client.framedH;
        // Within the frame the window is 660 x 610 logical pixels; the menu bar takes its height
        // from the inner area.
        std::cout << "at " << dpi << " dpi: within the frame " << client.framedW << " x "
                  << client.framedH << ", inner area " << client.w << " x " << client.h << "\n";
        EXPECT_EQ(client.w, std::lround(660 * scale));
        EXPECT_EQ(client.framedW, std::lround(660 * scale));
        EXPECT_EQ(client.framedH, std::lround(610 * scale));

        // Every control where its logical place says, scaled; a check box may be wider.
        const auto children = ChildrenIn(client);
        if (dpi == 96) logical = children;
        ASSERT_EQ(children.size(), logical.size());
        for (size_t i = 0; i < children.size(); ++i) {
            const auto& [kind, box] = children[i];
            const gui::Box& at = logical[i].second;
            SCOPED_TRACE(kind + " " + std::to_string(i));
            EXPECT_EQ(kind, logical[i].first);
            EXPECT_NEAR(box.x, at.x * scale, 1);
            EXPECT_NEAR(box.y, at.y * scale, 1);
            EXPECT_NEAR(box.y + box.h, (at.y + at.h) * scale, 1);
            if (kind == "Button" && box.w != box.h) // the check boxes, not the button ">"
                EXPECT_GE(box.x + box.w, (at.x + 80) * scale - 1);
            else
                EXPECT_NEAR(box.x + box.w, (at.x + at.w) * scale, 1);
            if (kind == "PixmoleCanvas") p.layout.at["canvas"] = OnMain(p, client, box);
            if (kind == "Static") p.layout.at["label"] = OnMain(p, client, box);
        }
        std::istringstream checks(Probe({"checks", std::to_string(dpi)}));
        int boxes = 0;
        for (int needs = 0, width = 0; checks >> needs >> width; ++boxes)
            EXPECT_LE(needs, width) << "a check box too narrow for its text";
        EXPECT_EQ(boxes, 4);

        // Canvas pixels as exact squares: the pattern's bytes are black and white columns.
        gui::Box canvas{client.x, client.y, 641 * factor, 481 * factor};
        std::string why;
        p.Pause(300);
        EXPECT_TRUE(ExactSquares(p.d, canvas, factor, &why)) << why;

        // A drag between the last screen pixels of two canvas pixels selects as at 96 dpi.
        const int last = factor - 1;
        p.Drag(p.layout.at["canvas"], last, 10 * factor + last, 7 * factor + last,
               25 * factor + last);
        EXPECT_TRUE(p.WaitFor([&] { return Probe({"status"}) == "x:0 y:10 w:0 h:15"; }))
            << Probe({"status"});

        p.At(p.layout.at["label"], 2, 2), p.Pause(100); // the keys go to the window under it
        p.KeyUntil(XK_Escape, [&] { return !p.Running(); });
        EXPECT_EQ(p.WaitExit(20000), 0);
    }
    SetScreenDpi(96);
}

} // namespace
