// The toolkit's state: one object, made by InitToolkit and destroyed by ReleaseToolkit. Each
// module defines its own part in its source file and reaches it through Part<...>(); outside
// InitToolkit .. ReleaseToolkit there are no parts, and every procedure does nothing and returns
// 0 (or the empty text).
//
// The parts are made in the order they are listed in Toolkit::parts and destroyed in the reverse
// order,
// so while a part is torn down every part listed before it still stands (the controls still have
// their windows and the backend; the pictures still have the table of live pictures). A part
// already gone reads as absent.
//
// Not for the viewer or the backends: they go through the module headers.
#pragma once

#include <memory>
#include <tuple>

namespace tk::state {

struct Files;      // runtime.cpp: file slots, the last open failure, the command line
struct Drawing;    // drawing.cpp: live pictures, the current drawing, images, canvas hooks
struct Writers;    // png_writer.cpp: image writers by format, the last write failure
struct Events;     // events.cpp: the event queue, the current event, bindings, suspension
struct Windows;    // window.cpp: the backend, windows, menus, file drop
struct StatusBars; // status_bar.cpp: status bars, their fields and texts
struct Controls;   // controls.cpp: the control table, focus, the wheel, canvas event data
struct Keys;       // key_state.cpp: which key presses belong to menus and dialogs
struct Requesters; // requesters.cpp: the pattern chosen in the last file dialog

// Defined by the module that owns the part.
template <typename Part> Part* Make();
template <typename Part> void Destroy(Part* part);

template <typename Part> struct Deleter {
    void operator()(Part* part) const { Destroy(part); }
};
template <typename Part> using Owned = std::unique_ptr<Part, Deleter<Part>>;

struct Toolkit {
    std::tuple<Owned<Files>, Owned<Drawing>, Owned<Writers>, Owned<Events>, Owned<Windows>,
               Owned<StatusBars>, Owned<Controls>, Owned<Keys>, Owned<Requesters>>
        parts;

    // Makes the parts in order; the toolkit is current while they are made.
    void MakeParts();
    // Destroys them in the reverse order, each while the ones before it still stand.
    ~Toolkit();
};

// The toolkit between InitToolkit and ReleaseToolkit, or null.
Toolkit* Current();
void SetCurrent(Toolkit* toolkit);

// A module's part of the current toolkit, or null.
template <typename Part> Part* Get() {
    Toolkit* toolkit = Current();
    return toolkit != nullptr ? std::get<Owned<Part>>(toolkit->parts).get() : nullptr;
}

} // namespace tk::state
