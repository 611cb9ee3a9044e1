// Virtual-key codes and GDK key values, one table read both ways: a key event on the canvas
// becomes a code (VirtualKeyOf), and the global key state looks up the keys a code stands for
// (KeyValuesOf).
#include <gdk/gdkkeysyms.h>

#include "toolkit/controls.h"
#include "toolkit/gtk/gtk_backend_impl.h"

namespace tk::gtk {

namespace {

// Codes first .. last stand for the key values from value on. A row that is not polled only
// names what key events may carry (capitals, keypad digits, Shift+Tab); the global key state
// looks for the unshifted key values.
struct KeyRow {
    int first;
    int last;
    guint value;
    bool polled;
};

constexpr KeyRow kKeys[] = {
    {'A', 'Z', GDK_KEY_a, true},
    {'A', 'Z', GDK_KEY_A, false},
    {'0', '9', GDK_KEY_0, true},
    {0x70, 0x7B, GDK_KEY_F1, true}, // F1 .. F12
    {0x60, 0x69, GDK_KEY_KP_0, false},
    {0x08, 0x08, GDK_KEY_BackSpace, true},
    {0x09, 0x09, GDK_KEY_Tab, true},
    {0x09, 0x09, GDK_KEY_ISO_Left_Tab, false},
    {VkReturn, VkReturn, GDK_KEY_Return, true},
    {VkReturn, VkReturn, GDK_KEY_KP_Enter, true},
    {0x10, 0x10, GDK_KEY_Shift_L, true},
    {0x10, 0x10, GDK_KEY_Shift_R, true},
    {0x11, 0x11, GDK_KEY_Control_L, true},
    {0x11, 0x11, GDK_KEY_Control_R, true},
    {0x12, 0x12, GDK_KEY_Alt_L, true},
    {0x12, 0x12, GDK_KEY_Alt_R, true},
    {VkEscape, VkEscape, GDK_KEY_Escape, true},
    {0x20, 0x20, GDK_KEY_space, true},
    {0x21, 0x21, GDK_KEY_Page_Up, true},
    {0x22, 0x22, GDK_KEY_Page_Down, true},
    {VkEnd, VkEnd, GDK_KEY_End, true},
    {0x24, 0x24, GDK_KEY_Home, true},
    {VkLeft, VkLeft, GDK_KEY_Left, true},
    {VkUp, VkUp, GDK_KEY_Up, true},
    {VkRight, VkRight, GDK_KEY_Right, true},
    {VkDown, VkDown, GDK_KEY_Down, true},
    {0x2D, 0x2D, GDK_KEY_Insert, true},
    {0x2E, 0x2E, GDK_KEY_Delete, true},
};

} // namespace

int VirtualKeyOf(guint keyval) {
    for (const KeyRow& row : kKeys) {
        const guint count = guint(row.last - row.first);
        if (keyval >= row.value && keyval - row.value <= count)
            return row.first + int(keyval - row.value);
    }
    return 0;
}

std::vector<guint> KeyValuesOf(int keyCode) {
    std::vector<guint> values;
    for (const KeyRow& row : kKeys) {
        if (row.polled && keyCode >= row.first && keyCode <= row.last)
            values.push_back(row.value + guint(keyCode - row.first));
    }
    return values;
}

} // namespace tk::gtk
