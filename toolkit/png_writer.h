// Image writers by format tag, and the PNG writer over libpng.
#pragma once

#include <cstdint>

#include "toolkit/runtime.h"

namespace tk {

constexpr uint32_t PngTag = 0x474E50; // "PNG", first letter in the lowest byte
constexpr int PngColourRgb = 2;
constexpr int PngColourRgbAlpha = 6;

void RegisterPngWriter(); // first call appends the PNG entry; later calls do nothing
void RegisterPngReader(); // marks the reader as registered (nothing reads images)
int SaveImageAsPng(int image, const Text& path);
int WriteImageFile(int image, const Text& path, uint32_t tag);

// Writes the bottom-up picture as a PNG, top row first. The file is written under a temporary
// name in the target's folder and renamed over the target only after libpng finished; on any
// failure the temporary file is removed and an existing target is left as it was. An existing
// FIFO or device is written directly instead, so the node itself stays. 1 or 0.
int WritePng(const Text& path, const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
             int colourType);

// The reason of the last failed write (empty after a success).
Text LastImageWriteError();

// For tests: the number of entries in the writer table.
int ImageWriterCount();

} // namespace tk
