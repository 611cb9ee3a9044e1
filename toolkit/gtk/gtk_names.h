// The names the GTK backend gives its widgets and the keys of the object data it attaches to
// them. The GUI tests find widgets by these names, so both include this header.
#pragma once

namespace tk::gtk::names {

// ---- Widget names ---------------------------------------------------------------------------

// A window's inner area: the GtkFixed below the menu bar that holds every control.
inline constexpr const char* kInnerArea = "pm-inner";
// A spin box's arrow buttons.
inline constexpr const char* kSpinUp = "pm-spin-up";
inline constexpr const char* kSpinDown = "pm-spin-down";
// A scroll bar's arrow buttons (back: up or left; forward: down or right).
inline constexpr const char* kScrollBack = "pm-scroll-back";
inline constexpr const char* kScrollForward = "pm-scroll-forward";

// ---- Object data keys -----------------------------------------------------------------------

// On an arrow button: the step it makes, -1 or +1 (GINT_TO_POINTER).
inline constexpr const char* kDeltaKey = "pm-delta";
// On a scroll bar: the backend's state, for the repeat timer that only holds the widget.
inline constexpr const char* kStateKey = "pm-state";
// On a scroll bar: the direction an arrow held down keeps stepping in.
inline constexpr const char* kRepeatKey = "pm-repeat";

} // namespace tk::gtk::names
