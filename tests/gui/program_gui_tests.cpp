// The real program under real X input, one session: a file dropped from another client loads,
// a drag over the canvas selects, "x2" on the bar magnifies twice, the three exports write the
// right bytes, Escape in the open menu, the text dialog, a message box and the Open chooser
// leaves it running, F3 and Shift+F3 jump to the graphics of the sample, a click on a tile of the
// overview (F5) jumps to its region, and Escape pressed while another client has the focus ends
// it with 0. run_valgrind_session.sh runs the same session with the program under Valgrind.
#include <gtest/gtest.h>

#include "tests/gui/support/driver.h"
#include "tests/support/test_files.h"
#include "tests/support/viewer_session.h"
#include "viewer/overview.h"

#include <X11/keysym.h>

#include <tuple>

namespace {

// The bits of byte i as the canvas shows it at width 1, zoom 2: a box of 2 x 2 pixels on rows 2i
// and 2i + 1, white for a set bit.
bool ShowsBytes(const pmtest::DecodedPng& png, const std::string& bytes) {
    for (size_t i = 0; i < bytes.size() * 8; ++i) { // bit i % 8 of byte i / 8, the leftmost first
        const int white = (bytes[i / 8] << i % 8) & 0x80 ? 255 : 0;
        for (size_t dx = 0; dx < 2; ++dx)
            for (size_t dy = 0; dy < 2; ++dy)
                if (png.rows.at(i / 8 * 2 + dy).at((i % 8 * 2 + dx) * 3) != white) return false;
    }
    return true;
}

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

    // The dropped file loads: the row position goes back to 0, the exports below show its bytes.
    ASSERT_TRUE(p.KeyUntil(XK_Up, [&] { return p.TitleHas("disp:1 "); }));
    ASSERT_TRUE(p.DropFile(dir / "drop.bin", [&] { return p.TitleHas("disp:0 "); }));

    // The wheel over the canvas (buttons 4 up, 5 down): a step down shows three rows later, with
    // Shift it widens the sprite by a byte; a step up goes back. Each step counts once.
    auto wheel = [&](int button, bool shift, const std::string& shown) {
        p.At(p.layout.at["canvas"], 320, 240);
        if (shift) p.Key(XK_Shift_L, true);
        p.Pause(100);
        p.Button(button, true), p.Button(button, false);
        p.Pause(100);
        if (shift) p.Key(XK_Shift_L, false);
        p.Pause(300);
        return p.WaitFor([&] { return p.TitleHas(shown); });
    };
    const std::tuple<int, bool, const char*> turns[] = {
        {5, false, "sprsize:1 disp:3 "}, {5, false, "sprsize:1 disp:6 "},
        {4, false, "sprsize:1 disp:3 "}, {4, false, "sprsize:1 disp:0 "},
        {5, true, "sprsize:2 disp:0 "},  {5, true, "sprsize:3 disp:0 "},
        {4, true, "sprsize:2 disp:0 "},  {4, true, "sprsize:1 disp:0 "},
    };
    for (const auto& [button, shift, shown] : turns)
        EXPECT_TRUE(wheel(button, shift, shown)) << "wanted " << shown << "in " << p.Title(p.main);

    // Save selected: canvas (0, 10) to (7, 25) at width 1 is 16 rows of one byte.
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
    auto name = [&](const char* title, const std::string& typed) {
        ASSERT_TRUE(p.WaitDialog(title));
        p.Key(XK_Control_L, true);
        p.Stroke(XK_a); // the whole proposed name
        p.Key(XK_Control_L, false);
        p.Type(typed);
        p.Pause(300);
        p.Stroke(XK_Return);
    };
    name("Save binary file", "range");
    EXPECT_TRUE(fileIs("range.bin", drop.substr(0, 64)));

    // "x2" on the bar magnifies twice; Save image..: No (Escape) to the question keeps the old
    // file, Yes (Return) replaces it.
    p.ClickOn(p.layout.at["x2"]);
    ASSERT_TRUE(p.WaitFor([&] { return p.TitleHas(" zoom:2"); }));
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
    EXPECT_TRUE(p.WaitFor([&] {
        const std::string png = pmtest::ReadFile(dir / "picture.png");
        return png.size() > 12 && png.compare(png.size() - 8, 4, "IEND") == 0;
    }));
    const pmtest::DecodedPng png = pmtest::DecodePng(dir / "picture.png");
    EXPECT_EQ(png.width, 641u);
    EXPECT_TRUE(png.rows.size() == 481 && ShowsBytes(png, drop.substr(0, 64)));

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
    p.Key(XK_Shift_L, true);
    p.Stroke(XK_F3);
    p.Key(XK_Shift_L, false);
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

    // Still answering, with the keys given back; then Escape from another client's window.
    EXPECT_TRUE(p.KeyUntil(XK_Right, [&] { return p.TitleHas("sprsize:2 "); }));
    ASSERT_TRUE(p.FocusElsewhere());
    p.KeyUntil(XK_Escape, [&] { return !p.Running(); });
    EXPECT_EQ(p.WaitExit(20000), 0);
}

} // namespace
