// Bytes to pixels: the canvas picture, grid, selection, title and status texts.
#pragma once

namespace viewer {

// Repaints the whole canvas from the loaded bytes and the controls, and rewrites the status bar,
// the window title and DispField.
void RedrawView();

} // namespace viewer
