// The canvas of the GTK 3 backend: a GtkDrawingArea that shows the core's picture and reports
// mouse and key messages with their position and button mask.
//
// Sections: buttons; the picture (conversion for cairo, painting); input handlers; the factory;
// showing a picture at once.
//
// The picture is converted into a cairo image surface kept in the control's record; an expose
// paints that surface, and ShowCanvas paints it at once through the top-level window. The
// implicit pointer grab of a button press keeps the pointer with the canvas while a button is
// held.
#include <algorithm>
#include <cmath>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/window.h"

namespace tk::gtk {

namespace {

// ---- Buttons --------------------------------------------------------------------------------

// Left, right and middle button of a GDK state (or of one button number) as bits 0, 1 and 2.
uint32_t ButtonsOf(guint state) {
    uint32_t buttons = 0;
    if (state & GDK_BUTTON1_MASK) buttons |= 1;
    if (state & GDK_BUTTON3_MASK) buttons |= 2;
    if (state & GDK_BUTTON2_MASK) buttons |= 4;
    return buttons;
}

uint32_t ButtonBit(guint button) {
    switch (button) {
    case 1:
        return 1;
    case 3:
        return 2;
    case 2:
        return 4;
    default:
        return 0;
    }
}

// ---- The picture ----------------------------------------------------------------------------

void ConvertPicture(ControlRec* rec, const Picture& picture) {
    const PixelBuffer& px = picture.pixels();
    if (px.width <= 0 || px.height <= 0 || px.bits == nullptr) return;
    if (!rec->surface || cairo_image_surface_get_width(rec->surface.get()) != px.width ||
        cairo_image_surface_get_height(rec->surface.get()) != px.height) {
        rec->surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, px.width, px.height));
    }
    cairo_surface_t* surface = rec->surface.get();
    cairo_surface_flush(surface);
    uint8_t* out = cairo_image_surface_get_data(surface);
    const int outStride = cairo_image_surface_get_stride(surface);
    const int bytes = px.bitsPerPixel / 8;
    // Both layouts keep blue, green, red in the first three bytes of a little-endian pixel;
    // the picture's rows run bottom-up.
    for (int32_t y = 0; y < px.height; ++y) {
        const uint8_t* in = px.bits + size_t(px.height - 1 - y) * size_t(px.stride);
        auto* row = reinterpret_cast<uint32_t*>(out + size_t(y) * size_t(outStride));
        for (int32_t x = 0; x < px.width; ++x, in += bytes) {
            row[x] = uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16;
        }
    }
    cairo_surface_mark_dirty(surface);
}

// On a scaled screen (GDK_SCALE=2) the context maps one canvas pixel to a block of device pixels;
// nearest-neighbour sampling makes each block exactly the pixel's own colour, never a blend with
// its neighbours.
void PaintCanvas(ControlRec* rec, cairo_t* cr) {
    if (rec->surface) {
        cairo_set_source_surface(cr, rec->surface.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    } else {
        cairo_set_source_rgb(cr, 1, 1, 1);
    }
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
}

// ---- Input handlers -------------------------------------------------------------------------

// A pointer message at the event's position, with the buttons and modifiers of its state.
void ReportPointer(const ControlRec* rec, notify::Mouse message, double x, double y, guint state,
                   int32_t data) {
    notify::CanvasInput(rec->number, message, int32_t(std::floor(x)), int32_t(std::floor(y)),
                        ButtonsOf(state), ModifiersOf(state), data);
}

gboolean OnCanvasDraw(GtkWidget* area, cairo_t* cr, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(area);
    if (rec != nullptr) PaintCanvas(rec, cr);
    return TRUE;
}

gboolean OnCanvasMotion(GtkWidget* area, GdkEventMotion* event, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(area);
    if (rec == nullptr) return FALSE;
    ReportPointer(rec, notify::Mouse::Move, event->x, event->y, event->state, 0);
    return TRUE;
}

gboolean OnCanvasLeave(GtkWidget* area, GdkEventCrossing* event, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(area);
    if (rec == nullptr || event->detail == GDK_NOTIFY_INFERIOR) return FALSE;
    // While a button is held the canvas keeps the pointer (the press's implicit grab), so the
    // pointer leaves only when the grab ends outside the canvas.
    if (event->mode == GDK_CROSSING_GRAB || event->mode == GDK_CROSSING_GTK_GRAB) return FALSE;
    if (event->mode == GDK_CROSSING_NORMAL && ButtonsOf(event->state) != 0) return FALSE;
    ReportPointer(rec, notify::Mouse::Leave, event->x, event->y, event->state, 0);
    return FALSE;
}

gboolean OnCanvasButton(GtkWidget* area, GdkEventButton* event, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(area);
    if (rec == nullptr) return FALSE;
    const uint32_t bit = ButtonBit(event->button);
    if (bit == 0) return TRUE;
    using notify::Mouse;
    Mouse message;
    uint32_t buttons = ButtonsOf(event->state);
    if (event->type == GDK_BUTTON_PRESS) {
        // GDK follows the second press of a double click with a double-press event at once;
        // that one stands for both, as a double click replaces its second press.
        if (GdkEvent* next = gdk_event_peek(); next != nullptr) {
            bool isDouble = next->type == GDK_2BUTTON_PRESS && next->button.button == event->button;
            gdk_event_free(next);
            if (isDouble) return TRUE;
        }
        message = bit == 1 ? Mouse::LeftDown : bit == 2 ? Mouse::RightDown : Mouse::MiddleDown;
        buttons |= bit;
    } else if (event->type == GDK_2BUTTON_PRESS) {
        message = bit == 1   ? Mouse::LeftDouble
                  : bit == 2 ? Mouse::RightDouble
                             : Mouse::MiddleDouble;
        buttons |= bit;
    } else if (event->type == GDK_BUTTON_RELEASE) {
        message = bit == 1 ? Mouse::LeftUp : bit == 2 ? Mouse::RightUp : Mouse::MiddleUp;
        buttons &= ~bit;
    } else {
        return TRUE; // a triple press: the third press already came as a plain press
    }
    notify::CanvasInput(rec->number, message, int32_t(std::floor(event->x)),
                        int32_t(std::floor(event->y)), buttons, ModifiersOf(event->state), 0);
    return TRUE;
}

gboolean OnCanvasScroll(GtkWidget* area, GdkEventScroll* event, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(area);
    if (rec == nullptr) return FALSE;
    int32_t delta = 0;
    if (event->direction == GDK_SCROLL_UP) delta = 120;
    if (event->direction == GDK_SCROLL_DOWN) delta = -120;
    if (event->direction == GDK_SCROLL_SMOOTH) delta = int32_t(std::lround(-event->delta_y * 120));
    if (delta == 0) return TRUE;
    ReportPointer(rec, notify::Mouse::Wheel, event->x, event->y, event->state, delta);
    return TRUE;
}

gboolean OnCanvasKey(GtkWidget* area, GdkEventKey* event, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    ControlRec* rec = s->ControlOfWidget(area);
    if (rec == nullptr) return FALSE;
    const int number = rec->number;
    const bool down = event->type == GDK_KEY_PRESS;
    const uint32_t modifiers = ModifiersOf(event->state);
    int code = VirtualKeyOf(event->keyval);
    if (code != 0)
        notify::CanvasInput(number, down ? notify::Mouse::KeyDown : notify::Mouse::KeyUp, 0, 0,
                            ButtonsOf(event->state), modifiers, code);
    gunichar ch = gdk_keyval_to_unicode(event->keyval);
    if (down && ch >= 32 && s->ControlOfWidget(area) != nullptr)
        notify::CanvasInput(number, notify::Mouse::Char, 0, 0, ButtonsOf(event->state), modifiers,
                            int32_t(ch));
    return TRUE;
}

} // namespace

// ---- The factory ----------------------------------------------------------------------------

void SizeCanvas(const ControlRec& rec, const ControlView& view) {
    const int border = (view.flags & CanvasSunken) ? kSunkenBorder : 0;
    gtk_widget_set_size_request(rec.area, std::max(1, view.width - 2 * border),
                                std::max(1, view.height - 2 * border));
}

void MakeCanvas(BackendState& s, ControlRec& rec, const ControlView& view,
                std::vector<GtkWidget*>&) {
    GtkWidget* area = gtk_drawing_area_new();
    rec.area = area;
    SizeCanvas(rec, view);
    const int border = (view.flags & CanvasSunken) ? kSunkenBorder : 0;
    gtk_widget_add_events(area, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                    GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK |
                                    GDK_ENTER_NOTIFY_MASK | GDK_SCROLL_MASK |
                                    GDK_SMOOTH_SCROLL_MASK | GDK_KEY_PRESS_MASK |
                                    GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK);
    g_signal_connect(area, "draw", G_CALLBACK(OnCanvasDraw), &s);
    g_signal_connect(area, "motion-notify-event", G_CALLBACK(OnCanvasMotion), &s);
    g_signal_connect(area, "leave-notify-event", G_CALLBACK(OnCanvasLeave), &s);
    g_signal_connect(area, "button-press-event", G_CALLBACK(OnCanvasButton), &s);
    g_signal_connect(area, "button-release-event", G_CALLBACK(OnCanvasButton), &s);
    g_signal_connect(area, "scroll-event", G_CALLBACK(OnCanvasScroll), &s);
    if (view.flags & CanvasKeyboard) {
        gtk_widget_set_can_focus(area, TRUE);
        g_signal_connect(area, "key-press-event", G_CALLBACK(OnCanvasKey), &s);
        g_signal_connect(area, "key-release-event", G_CALLBACK(OnCanvasKey), &s);
        ConnectFocus(&s, area);
    }
    rec.outer = border > 0 ? SunkenFrame(area) : area;
    rec.handle = area;
    if (view.picture != nullptr) ConvertPicture(&rec, *view.picture);
}

// ---- Showing a picture at once --------------------------------------------------------------

void GtkBackend::ShowCanvas(intptr_t control, const Picture& picture) {
    ControlRec* rec = state_->Control(control);
    if (rec == nullptr || rec->kind != KindCanvas) return;
    ConvertPicture(rec, picture);
    GtkWidget* area = rec->area;
    if (!gtk_widget_get_mapped(area) || !rec->surface) return;
    // Paint now, through the top-level window that owns the native surface, clipped to the
    // canvas; a later expose paints the same surface again.
    GtkWidget* toplevel = gtk_widget_get_toplevel(area);
    GdkWindow* native = gtk_widget_get_window(toplevel);
    if (native == nullptr || !gdk_window_is_viewable(native)) return;
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(area, toplevel, 0, 0, &x, &y)) return;
    GtkAllocation box;
    gtk_widget_get_allocation(area, &box);
    cairo_rectangle_int_t rect{x, y, box.width, box.height};
    cairo_region_t* region = cairo_region_create_rectangle(&rect);
    GdkDrawingContext* context = gdk_window_begin_draw_frame(native, region);
    if (context != nullptr) {
        cairo_t* cr = gdk_drawing_context_get_cairo_context(context);
        cairo_save(cr);
        cairo_rectangle(cr, x, y, box.width, box.height);
        cairo_clip(cr);
        cairo_translate(cr, x, y);
        PaintCanvas(rec, cr);
        cairo_restore(cr);
        gdk_window_end_draw_frame(native, context);
    }
    cairo_region_destroy(region);
    gdk_display_flush(gdk_window_get_display(native));
}

} // namespace tk::gtk
