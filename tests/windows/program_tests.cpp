// The Windows program under Wine on Xvfb, driven with real X input by the driver of the GUI
// tests: its sixteen controls, a drag over the canvas and the status text, "Save selected", a
// file dropped from another client, Escape in a message box, keys sent with SendInput while
// another client has the focus, F3 jumping to the sample's graphics with the status bar naming
// them, and Escape on the main window ending it with 0. What X cannot
// show (the child windows, the status text) a probe of ours reads under Wine.
#include <gtest/gtest.h>

#include <X11/keysym.h>

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

TEST(WindowsProgram, ControlsSelectionSaveDropAndEscapeUnderWine) {
    gui::Watchdog(600, "the Windows program session");
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

} // namespace
