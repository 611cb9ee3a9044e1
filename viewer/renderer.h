// Bytes to pixels: the canvas picture, grid, selection, title and status texts.
#pragma once

#include <cstdint>

#include "toolkit/drawing.h"
#include "viewer/layout.h"
#include "viewer/state.h"

namespace viewer {

// Repaints the whole canvas from the loaded bytes and the controls, and rewrites the status bar,
// the window title and DispField.
void RedrawView();

// The position of the first byte on display: row x sprite width + fine offset (wrapping as the
// painting does), from the controls.
int32_t FirstDisplayedByte();

// What the sprite pixels of a view show: W bytes a strip from startPos on, the strips below each
// other in columns that stand side by side. Column k (from 0) starts at x = k x zoom x the
// strip's pixel width and holds the strips whose last pixel row starts at or above lastY (at
// least one); each pixel is a box zoom pixels square (7 at zoom 8, leaving a gap). The bytes of
// each column follow those of the column before it.
struct StripView {
    const uint8_t* bytes = nullptr; // null: no file; each byte then shows its strip's row
                                    // coordinate (its y in the picture), bits in its layout's order
    int64_t size = 0;               // positions 0 .. size - 1 hold bytes, the others are past the
                                    // end (blue); without bytes only those at or past size are
    int32_t startPos = 0;           // the position of the first byte; positions wrap at 32 bits
    int32_t width = 1;              // W, bytes a strip
    PixelLayout layout;
    int32_t zoom = 1;
    int32_t columnLimit = 1; // A: columns are counted 1, 1 + zoom, ... while <= A
    int32_t lastY = CanvasHeight - 1;
    bool invert = false; // bytes inside the file are shown inverted
};

// A for MultiColumns: T(pictureWidth / the strip's pixel width), with four pictures' width
// instead when the strip is wider than the picture less one pixel (wider than 640 on the canvas).
int32_t MultiColumnLimit(int64_t stripPixelWidth, int32_t pictureWidth = CanvasWidth);

// Paints the view's sprite pixels into a 24-bit picture; pixels that show no byte (the gaps of
// zoom 8, below the bytes of a short last column, beyond the columns) keep what they held.
void PaintStrips(const tk::PixelBuffer& pixels, const StripView& view);

} // namespace viewer
