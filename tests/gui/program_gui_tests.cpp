// The real program under real X input, one session of what only it shows: a key and a file
// dropped from another client reach it, a drag and "Save selected" on the bar write the selected
// bytes, the real dialogs of "Save binary..", "Save image.." and "Open.." answer the keys typed
// into them (Escape in a menu or a dialog is theirs), F3 and Shift+F3 jump to the graphics of a
// file, a click on a tile of the overview (F5) jumps to its region, and Escape pressed while
// another client has the focus ends it with 0. What the commands compute is the unit tests'.
// run_valgrind_session.sh runs the same session with the program under Valgrind.
#include <gtest/gtest.h>

#include "tests/gui/support/driver.h"
#include "tests/support/test_files.h"
#include "tests/support/viewer_session.h"
#include "viewer/overview.h"

#include <X11/keysym.h>

namespace {

TEST(ProgramGui, DropSelectionExportsAndEscapeOnTheRealProgram) {
    gui::Watchdog(600, "the program session");
    pmtest::TempDir dir;
    std::string drop = pmtest::Pattern(4000);
    for (char& c : drop) c = static_cast<char>(~c);
    pmtest::WriteFile(dir / "drop.bin", drop);
    pmtest::WriteFile(dir / "picture.png", ""); // "Save image.." asks before replacing it
    gui::Program p({pmtest::WriteFile(dir / "start.bin", pmtest::Pattern(4000))});
    ASSERT_NE(p.main, 0u) << "no painted main window";
    auto fileIs = [&](const std::string& name, const std::string& bytes) {
        return p.WaitFor([&] { return pmtest::ReadFile(dir / name) == bytes; });
    };
    // Escape that closes a menu or a dialog is the menu's or the dialog's own.
    auto escapeCloses = [&](const char* title) { // null: the open menu
        if (title != nullptr && !p.WaitDialog(title)) return false;
        p.Stroke(XK_Escape);
        const bool closed =
            p.WaitFor([&] { return title ? !p.FindWindow(title) : !p.MenuShown(); });
        p.Pause(300);
        return closed && p.Running();
    };
    // Replaces the name a save dialog proposes with the typed one.
    auto name = [&](const char* title, const std::string& typed) {
        ASSERT_TRUE(p.WaitDialog(title));
        p.Key(XK_Control_L, true), p.Stroke(XK_a), p.Key(XK_Control_L, false);
        p.Type(typed);
        p.Pause(300);
        p.Stroke(XK_Return);
    };

    // The dropped file loads: the row position goes back to 0.
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:1 "); }));
    ASSERT_TRUE(p.DropFile(dir / "drop.bin", [&] { return p.TitleHas("disp:0 "); }));

    // Canvas (0, 10) to (7, 25) at width 1 is 16 rows of one byte.
    p.Drag(p.layout.at["canvas"], 0, 10, 7, 25);
    p.ClickOn(p.layout.at["Save selected"]);
    EXPECT_TRUE(fileIs("drop.bin.000", drop.substr(10, 16)));

    ASSERT_TRUE(p.OpenProject(0, false));
    EXPECT_TRUE(escapeCloses(nullptr)) << "the open menu";

    // Save binary..: the count typed behind the default "0000", then the name.
    ASSERT_TRUE(p.OpenProject(3, true));
    EXPECT_TRUE(escapeCloses("Title")) << "the text dialog";
    ASSERT_TRUE(p.OpenProject(3, true));
    ASSERT_TRUE(p.WaitDialog("Title"));
    p.Type("64\r");
    name("Save binary file", "range");
    EXPECT_TRUE(fileIs("range.bin", drop.substr(0, 64)));

    // Save image..: No (Escape) to the question keeps the old file, Yes (Return) replaces it.
    for (const bool replace : {false, true}) {
        ASSERT_TRUE(p.OpenProject(2, true));
        name("Save PNG Image AS...", "picture");
        ASSERT_TRUE(p.WaitDialog("RevizeRevuzu"));
        if (replace) {
            p.Stroke(XK_Return);
        } else {
            EXPECT_TRUE(escapeCloses("RevizeRevuzu")) << "the message box";
            EXPECT_EQ(pmtest::ReadFile(dir / "picture.png"), "");
        }
    }
    EXPECT_TRUE(
        p.WaitFor([&] { return pmtest::DecodePng(dir / "picture.png").rows.size() == 481; }));

    ASSERT_TRUE(p.OpenProject(1, true));
    EXPECT_TRUE(escapeCloses("Please choose file to load")) << "the Open chooser";

    // Two glyph sheets: F3 jumps to the first region after byte 0, F3 again to the next,
    // Shift+F3 back, each at its width with its first byte on top.
    const std::string sample = pmtest::TwoSheets();
    const std::vector<viewer::GraphicsRegion> regions = pmtest::RegionsInFileOrder(sample);
    ASSERT_TRUE(regions.size() >= 2 && regions[0].first > 0) << "two regions after byte 0";
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:1 "); })); // a load shows 0
    ASSERT_TRUE(p.DropFile(pmtest::WriteFile(dir / "sample.bin", sample),
                           [&] { return p.TitleHas("disp:0 "); }));
    auto shows = [&](const viewer::GraphicsRegion& r) {
        return p.TitleHas(", sprsize:" + std::to_string(r.width) +
                          " disp:" + std::to_string(r.first) + " ");
    };
    // Menu keys act while the window has the focus.
    ASSERT_TRUE(p.WaitFor([&] {
        XSetInputFocus(p.d, p.main, RevertToParent, CurrentTime);
        return p.HasFocus(p.main);
    }));
    p.Stroke(XK_F3);
    EXPECT_TRUE(p.WaitFor([&] { return shows(regions[0]); })) << p.Title(p.main);
    p.Stroke(XK_F3);
    EXPECT_TRUE(p.WaitFor([&] { return shows(regions[1]); })) << p.Title(p.main);
    p.Key(XK_Shift_L, true), p.Stroke(XK_F3), p.Key(XK_Shift_L, false);
    EXPECT_TRUE(p.WaitFor([&] { return shows(regions[0]); })) << p.Title(p.main);

    // The overview (F5): a click on its second tile shows the second region best first; its
    // close box closes only it.
    const std::vector<viewer::GraphicsRegion> best = viewer::FindGraphics(
        reinterpret_cast<const uint8_t*>(sample.data()), int64_t(sample.size()));
    p.Stroke(XK_F5);
    Window overview = 0;
    ASSERT_TRUE(p.WaitFor([&] { return (overview = p.FindWindow("Graphics in sample.bin")); }));
    const viewer::SheetBox second = viewer::TileBox(1, 2); // where it is two or more across
    bool landed = false;
    for (int click = 0; click < 5 && !landed; ++click) { // the tiles come when the scan ends
        p.ClickOn({second.x, second.y, second.width, second.height}, 1, overview);
        landed = p.WaitFor([&] { return shows(best[1]); }, 2000);
    }
    EXPECT_TRUE(landed) << p.Title(p.main);
    p.SendProtocol(overview, "WM_DELETE_WINDOW");
    EXPECT_TRUE(p.WaitFor([&] { return !p.FindWindow("Graphics in "); }));

    // Escape from another client's window.
    ASSERT_TRUE(p.FocusElsewhere());
    p.KeyUntil(XK_Escape, [&] { return !p.Running(); });
    EXPECT_EQ(p.WaitExit(20000), 0);
}

} // namespace
