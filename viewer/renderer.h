// Bytes to pixels: the canvas picture, grid, selection, title and status texts.
#pragma once

#include <cstdint>

namespace viewer {

// Repaints the whole canvas from the loaded bytes and the controls, and rewrites the status bar,
// the window title and DispField.
void RedrawView();

// The position of the first byte on display: row x sprite width + fine offset (wrapping as the
// painting does), from the controls.
int32_t FirstDisplayedByte();

} // namespace viewer
