// The repaint written as plainly as it reads: one FillBox per pixel, the loops exactly as the
// viewer describes them. Slow on purpose; the fast renderer must match it pixel for pixel.
#pragma once

namespace pmtest {

// Repaints the canvas and rewrites the status text, the window title, DispField and
// ViewerState::spriteWidth, as viewer::RedrawView does.
void LiteralRedrawView();

} // namespace pmtest
