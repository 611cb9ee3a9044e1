// The main window as the program builds it, on the real GTK backend: every control inside its
// rectangle, no overlaps but the one the layout means, the menu bar and the status bar, the
// canvas painted at once, and screenshots to look at.
// GoogleTest first: the X headers define names (None, Bool) that its templates use.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <gdk/gdkx.h>

#include <string>

#include "tests/gui/support/gui_harness.h"
#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/window.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

namespace {

using guitest::Harness;

struct Rect {
    int x, y, width, height;
};

struct Placed {
    int control;
    Rect rect;
};

// The layout table of the main window, in creation order.
const Placed kLayout[] = {
    {viewer::CanvasView, {0, 0, 641, 481}},   {viewer::WidthScroller, {0, 500, 640, 17}},
    {viewer::RowScroller, {641, 0, 14, 470}}, {viewer::GridCheck, {0, 520, 80, 20}},
    {viewer::InvertCheck, {0, 540, 80, 20}},  {viewer::MultiColumnsCheck, {80, 520, 80, 20}},
    {viewer::AlignCheck, {80, 540, 80, 20}},  {viewer::OffsetLabel, {160, 520, 80, 20}},
    {viewer::OffsetSpin, {240, 520, 80, 20}}, {viewer::GridXLabel, {320, 520, 80, 20}},
    {viewer::GridXSpin, {400, 520, 80, 20}},  {viewer::GridYLabel, {320, 540, 80, 20}},
    {viewer::GridYSpin, {400, 540, 80, 20}},  {viewer::DispLabel, {170, 540, 70, 20}},
    {viewer::DispField, {240, 540, 80, 20}},  {viewer::DispGoButton, {320, 540, 20, 20}},
};

// What a control occupies on screen, in the inner area's pixels: the widget the handle names,
// or for a spin box the box holding its text part and arrows.
Rect Occupied(int control) {
    GtkWidget* widget = Harness::ControlWidget(control);
    if (tk::ControlKind(control) == tk::KindSpinBox) widget = gtk_widget_get_parent(widget);
    GtkAllocation box;
    gtk_widget_get_allocation(widget, &box);
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(widget, Harness::InnerArea(viewer::MainWindow), 0, 0, &x, &y);
    return {x, y, box.width, box.height};
}

bool Inside(const Rect& inner, const Rect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

bool Overlap(const Rect& a, const Rect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

std::string Describe(const Rect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

// Every label under a widget, in order.
void CollectLabels(GtkWidget* widget, std::vector<GtkWidget*>& labels) {
    if (GTK_IS_LABEL(widget)) labels.push_back(widget);
    if (!GTK_IS_CONTAINER(widget)) return;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* l = children; l != nullptr; l = l->next) CollectLabels(GTK_WIDGET(l->data), labels);
    g_list_free(children);
}

// One screen pixel as 0xRRGGBB, read through the second X connection.
uint32_t ScreenPixel(Display* display, int sx, int sy) {
    XImage* image =
        XGetImage(display, DefaultRootWindow(display), sx, sy, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return 0xFFFFFFFF;
    uint32_t pixel = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFF;
    XDestroyImage(image);
    return pixel;
}

class LayoutGui : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(h.ok()) << h.failure();
        ASSERT_TRUE(viewer::CreateMainWindowAndControls());
        ASSERT_TRUE(h.ShowAndFocus(viewer::MainWindow));
    }
    guitest::Watchdog dog{120, "a layout GUI test"};
    Harness h;
};

TEST_F(LayoutGui, EveryControlFitsItsRectangleAndOnlyTheGoButtonOverlapsALabel) {
    for (const Placed& p : kLayout) {
        Rect got = Occupied(p.control);
        EXPECT_TRUE(Inside(got, p.rect)) << "control " << p.control << " occupies " << Describe(got)
                                         << ", its rectangle is " << Describe(p.rect);
        EXPECT_GE(got.width * 10, p.rect.width * 9) << "control " << p.control << " shrank";
        EXPECT_GE(got.height * 10, p.rect.height * 9) << "control " << p.control << " shrank";
    }
    for (const Placed& a : kLayout) {
        for (const Placed& b : kLayout) {
            if (a.control >= b.control) continue;
            bool meant = (a.control == viewer::GridYLabel && b.control == viewer::DispGoButton);
            EXPECT_EQ(Overlap(Occupied(a.control), Occupied(b.control)), meant)
                << "controls " << a.control << " and " << b.control;
        }
    }
}

TEST_F(LayoutGui, WindowKeepsItsOuterSizeAndIsCentred) {
    GtkWidget* window = Harness::WindowWidget(viewer::MainWindow);
    GtkAllocation whole, inner, bar;
    gtk_widget_get_allocation(window, &whole);
    gtk_widget_get_allocation(Harness::InnerArea(viewer::MainWindow), &inner);
    gtk_widget_get_allocation(Harness::MenuBar(viewer::MainWindow), &bar);
    EXPECT_EQ(whole.width, 660);
    EXPECT_EQ(whole.height, 610);
    EXPECT_EQ(inner.width, 660);
    EXPECT_EQ(inner.height, 610 - bar.height) << "the menu bar takes its height from the area";
    EXPECT_GE(bar.height, 16);
    EXPECT_LE(bar.height, 26);
    int x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(window), &x, &y);
    GdkRectangle screen{};
    gdk_monitor_get_geometry(gdk_display_get_primary_monitor(gdk_display_get_default()), &screen);
    EXPECT_EQ(x, (screen.width - 660) / 2);
    EXPECT_EQ(y, (screen.height - 610) / 2);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window)), "Pixmole 0.10.0");
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(window)));
}

TEST_F(LayoutGui, MenuBarHoldsTheDropDownThenTheCommandsWithSaveSelectedGreyed) {
    GtkWidget* bar = Harness::MenuBar(viewer::MainWindow);
    ASSERT_NE(bar, nullptr);
    std::vector<std::string> onBar;
    GtkWidget* project = nullptr;
    GList* items = gtk_container_get_children(GTK_CONTAINER(bar));
    for (GList* l = items; l != nullptr; l = l->next) {
        onBar.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)));
        if (onBar.back() == "Project") project = GTK_WIDGET(l->data);
    }
    g_list_free(items);
    EXPECT_EQ(onBar, (std::vector<std::string>{"Project", "x1", "x2", "x8", "Save selected"}));
    ASSERT_NE(project, nullptr);

    std::vector<std::string> dropDown;
    GtkWidget* menu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(project));
    ASSERT_NE(menu, nullptr);
    items = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* l = items; l != nullptr; l = l->next) {
        dropDown.push_back(GTK_IS_SEPARATOR_MENU_ITEM(l->data)
                               ? "-"
                               : gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)));
    }
    g_list_free(items);
    EXPECT_EQ(dropDown,
              (std::vector<std::string>{"Open..", "Save image..", "Save binary..", "-", "Quit"}));

    EXPECT_FALSE(gtk_widget_is_sensitive(Harness::FindMenuItem(0, "Save selected")));
    EXPECT_TRUE(gtk_widget_is_sensitive(Harness::FindMenuItem(0, "x8")));
    EXPECT_TRUE(gtk_widget_is_sensitive(Harness::FindMenuItem(0, "Save binary..")));
}

TEST_F(LayoutGui, StatusBarSpansTheBottomStripAndShowsItsText) {
    std::vector<GtkWidget*> labels;
    CollectLabels(Harness::InnerArea(viewer::MainWindow), labels);
    GtkWidget* status = nullptr;
    for (GtkWidget* label : labels) {
        if (std::string(gtk_label_get_text(GTK_LABEL(label))) == "selection:") status = label;
    }
    ASSERT_NE(status, nullptr) << "no label reads \"selection:\"";
    GtkWidget* field = gtk_widget_get_parent(status); // its sunken box
    GtkAllocation box, inner;
    gtk_widget_get_allocation(field, &box);
    gtk_widget_get_allocation(Harness::InnerArea(viewer::MainWindow), &inner);
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(field, Harness::InnerArea(0), 0, 0, &x, &y);
    EXPECT_GE(box.height, 16);
    EXPECT_EQ(y + box.height, inner.height) << "the bar ends at the bottom of the inner area";
    EXPECT_GE(y, 560) << "the bar covers no control";
    EXPECT_LE(x, 2);
    EXPECT_GE(x + box.width, 656) << "the one field spans the whole bar";
    EXPECT_EQ(tk::StatusFieldWidth(viewer::MainStatusBar, 0), 660);
}

TEST_F(LayoutGui, TextsAndStatesShowAsBuilt) {
    auto entryText = [](int control) {
        return std::string(gtk_entry_get_text(GTK_ENTRY(Harness::ControlWidget(control))));
    };
    EXPECT_EQ(entryText(viewer::GridXSpin), "8");
    EXPECT_EQ(entryText(viewer::GridYSpin), "8");
    EXPECT_EQ(entryText(viewer::OffsetSpin), "");
    EXPECT_EQ(entryText(viewer::DispField), "1234567");
    EXPECT_EQ(gtk_entry_get_alignment(GTK_ENTRY(Harness::ControlWidget(viewer::GridXSpin))), 1.0f);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Harness::ControlWidget(viewer::GridYLabel))),
                 "grid sizeY");
    EXPECT_EQ(gtk_label_get_xalign(GTK_LABEL(Harness::ControlWidget(viewer::GridYLabel))), 1.0f);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(Harness::ControlWidget(viewer::AlignCheck))),
                 "Align to grid");
    // The go button sits over the label's left end; the right-aligned text stays clear of it.
    PangoLayout* layout =
        gtk_label_get_layout(GTK_LABEL(Harness::ControlWidget(viewer::GridYLabel)));
    int textWidth = 0;
    pango_layout_get_pixel_size(layout, &textWidth, nullptr);
    EXPECT_LE(textWidth, 80 - 20 - 2) << "\"grid sizeY\" would run under the \">\" button";
    EXPECT_FALSE(pango_layout_is_ellipsized(layout));

    GtkRange* width = GTK_RANGE(Harness::ControlWidget(viewer::WidthScroller));
    GtkAdjustment* adjustment = gtk_range_get_adjustment(width);
    EXPECT_EQ(gtk_adjustment_get_value(adjustment), 1);
    EXPECT_EQ(gtk_adjustment_get_upper(adjustment) - gtk_adjustment_get_page_size(adjustment), 256)
        << "the thumb reaches 256, not 271";
}

TEST_F(LayoutGui, RepaintShowsTheCanvasAtOnceAndTheScreenshotsAreSaved) {
    ASSERT_TRUE(Harness::SaveScreenshot("layout_built.png"));
    // No native message is handled between the repaint and the read-back: the picture must
    // already be on the screen, pixel for pixel.
    viewer::RedrawView();
    gdk_display_sync(gdk_display_get_default());
    const tk::Picture* picture = tk::PictureFromHandle(
        tk::PictureHandle(tk::GetControlAttribute(viewer::CanvasView, tk::CanvasImage)));
    ASSERT_NE(picture, nullptr);
    const tk::PixelBuffer& px = picture->pixels();
    int differing = 0, blue = 0;
    for (int y = 0; y < 481; y += 37) {
        for (int x = 0; x < 641; x += 3) {
            const uint8_t* p =
                px.bits + size_t(px.height - 1 - y) * size_t(px.stride) + size_t(x) * 3;
            uint32_t expected = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            int sx = 0, sy = 0;
            ASSERT_TRUE(Harness::InnerToScreen(viewer::MainWindow, x, y, &sx, &sy));
            uint32_t shown = ScreenPixel(h.xtest(), sx, sy);
            if (shown != expected) ++differing;
            if (shown == 0x0000FFu) ++blue;
        }
    }
    EXPECT_EQ(differing, 0) << "the screen does not show the canvas picture";
    EXPECT_GT(blue, 0) << "the empty view draws its sprite column blue";
    h.Settle(200);
    ASSERT_TRUE(Harness::SaveScreenshot("layout_painted.png"));
}

TEST_F(LayoutGui, NoTextIsCutShort) {
    std::vector<GtkWidget*> labels;
    CollectLabels(Harness::WindowWidget(viewer::MainWindow), labels);
    ASSERT_GE(labels.size(), 12u);
    for (GtkWidget* label : labels) {
        EXPECT_FALSE(pango_layout_is_ellipsized(gtk_label_get_layout(GTK_LABEL(label))))
            << "\"" << gtk_label_get_text(GTK_LABEL(label)) << "\" does not fit in "
            << gtk_widget_get_allocated_width(label) << " pixels "
            << pango_font_description_to_string(
                   pango_context_get_font_description(gtk_widget_get_pango_context(label)));
    }
}

} // namespace
