// The three export commands.
#pragma once

#include <cstdint>
#include <vector>

namespace viewer {

void SaveSelectedBits(); // "Save selected": the selection read back and packed into bits
void SaveBinaryRange();  // "Save binary..": a counted run of bytes from the first shown byte
void SaveCanvasImage();  // "Save image..": the canvas as PNG

// The selection's samples read back from the current drawing and packed eight to a byte,
// rows top to bottom (the middle of SaveSelectedBits). A drawing must be open on the canvas.
std::vector<uint8_t> SampleSelectionBits();

} // namespace viewer
