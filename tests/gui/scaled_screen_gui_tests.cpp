// The program on a screen scaled by 2 (GDK_SCALE=2, as on a 4K screen at 200 %): every canvas
// pixel is a 2 x 2 block of the screen in its own colour, never a blend with its neighbours, the
// wheel works as soon as the window has come, each step counted once, and the pointer still lands
// on the canvas pixel it points at: a drag given in canvas pixels selects what it selects unscaled.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <map>
#include <tuple>
#include <utility>

#include "tests/gui/support/driver.h"
#include "tests/support/test_files.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/state.h"

namespace {

using namespace viewer;

// Before GTK opens the display, in this process and in the program it starts.
const bool scaled = setenv("GDK_SCALE", "2", 1) == 0;

TEST(ScaledScreenGui, EachCanvasPixelIsATwoByTwoBlockOfItsOwnColour) {
    gui::Watchdog(240, "the scaled program");
    ASSERT_TRUE(scaled);
    pmtest::TempDir dir;
    gui::Program p({pmtest::WriteFile(dir / "start.bin", pmtest::Pattern(4000))});
    ASSERT_NE(p.main, 0u) << "no painted main window";
    ASSERT_EQ(p.scale, 2);
    const gui::Box canvas = p.layout.at["canvas"];
    ASSERT_EQ(canvas.w, 641);

    // The wheel over the canvas at once, as the window has come: each step (button 5 down, 4 up)
    // three rows, counted once; two down first, so that an up step counted twice shows.
    const std::pair<int, const char*> steps[] = {{5, "disp:3 "}, {5, "disp:6 "}, {4, "disp:3 "}};
    p.At(canvas, 320, 240);
    for (const auto& [button, title] : steps) {
        p.Button(button, true), p.Button(button, false);
        ASSERT_TRUE(p.WaitFor([&] { return p.TitleHas(title); })) << p.Title(p.main);
    }

    // Shift and the wheel widen the sprite by a byte a step down, narrow it a step up: 40 bytes,
    // 100 rows of bits, blue below them.
    const std::tuple<int, int, const char*> turns[] = {{5, 40, "sprsize:41 "},
                                                       {4, 1, "sprsize:40 "}};
    p.At(canvas, 320, 240);
    for (const auto& [button, count, title] : turns) {
        p.Key(XK_Shift_L, true);
        for (int step = 0; step < count; ++step) p.Button(button, true), p.Button(button, false);
        p.Key(XK_Shift_L, false);
        ASSERT_TRUE(p.WaitFor([&] { return p.TitleHas(title); })) << p.Title(p.main);
    }
    p.Move(0, 0); // the pointer off the picture
    p.Pause(500);

    int ox = 0, oy = 0;
    Window child = 0;
    XTranslateCoordinates(p.d, p.main, DefaultRootWindow(p.d), canvas.x * 2, canvas.y * 2, &ox, &oy,
                          &child);
    XImage* shot = XGetImage(p.d, DefaultRootWindow(p.d), ox, oy, unsigned(canvas.w * 2),
                             unsigned(canvas.h * 2), AllPlanes, ZPixmap);
    ASSERT_NE(shot, nullptr) << "the canvas is not on the screen";
    // The renderer's colours: bits, past the end, the selection's frame.
    std::map<unsigned long, int> seen{{0x000000, 0}, {0xFFFFFF, 0}, {0x0000FF, 0}, {0x7F00FF, 0}};
    int blends = 0, uneven = 0;
    for (int y = 0; y < canvas.h; ++y) {
        for (int x = 0; x < canvas.w; ++x) {
            auto at = [&](int dx, int dy) {
                return XGetPixel(shot, 2 * x + dx, 2 * y + dy) & 0xFFFFFF;
            };
            const unsigned long pixel = at(0, 0);
            uneven += at(1, 0) != pixel || at(0, 1) != pixel || at(1, 1) != pixel;
            auto colour = seen.find(pixel);
            colour != seen.end() ? ++colour->second : ++blends;
        }
    }
    XDestroyImage(shot);
    EXPECT_EQ(uneven, 0) << "canvas pixels that are not one colour on the screen";
    EXPECT_EQ(blends, 0) << "canvas pixels in none of the picture's colours";
    for (unsigned long colour : {0xFFFFFF, 0x000000, 0x0000FF}) EXPECT_GT(seen[colour], 5000);
}

// The pointer in screen pixels, the selection in canvas pixels: the status text is the one the
// same drag gives on an unscaled screen.
TEST(ScaledScreenGui, ADragInCanvasPixelsGivesTheUnscaledStatusText) {
    gui::Watchdog(120, "the scaled drag");
    gui::OnGtk gtk;
    ASSERT_TRUE(gtk.ok);
    GtkWidget* area = gui::Part(CanvasView);
    ASSERT_EQ(gtk_widget_get_scale_factor(area), 2);
    tk::SetControlState(WidthScroller, 8); // 64 pixels: the drag stays on the sprite
    gtk.At(area, 10, 20), gtk.Button(true);
    gtk.At(area, 20, 30), gtk.At(area, 30, 41), gtk.Button(false);
    gui::OnGtk::Loop(150);
    EXPECT_EQ(tk::StatusText(MainStatusBar, 0), "x:10 y:20 w:2 h:21");
}

} // namespace
