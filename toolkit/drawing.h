// Pictures, drawing surfaces, images and colours.
//
// A picture is 24 (or 32) bits per pixel, bytes blue, green, red (then alpha), rows padded to a
// multiple of 4 bytes and stored bottom-up: the pixel (x, y) starts at byte
// (height - 1 - y) * stride + x * bytesPerPixel. There is at most one current drawing; every
// drawing operation acts on it and does nothing while none is current.
#pragma once

#include <cstdint>
#include <memory>

namespace tk {

using Colour = uint32_t; // red in bits 0-7, green 8-15, blue 16-23

Colour MakeColour(int32_t red, int32_t green, int32_t blue); // plain sum, no masking

struct PixelBuffer {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 24;
    int32_t stride = 0;      // bytes per row, a multiple of 4
    uint8_t* bits = nullptr; // first byte of the bottom row
};

int32_t StrideFor(int32_t width, int32_t bitsPerPixel);

using PictureHandle = intptr_t;

// An owned picture. Its handle is a number given to no other picture in the life of the program,
// so a handle kept after its picture died never names a newer one; the table of live pictures
// lets DrawImageAt refuse a handle that names no picture.
class Picture {
  public:
    // Zero-filled (black); returns null when the size is not positive or memory runs out.
    static std::unique_ptr<Picture> Create(int32_t width, int32_t height, int32_t bitsPerPixel);
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    const PixelBuffer& pixels() const { return buffer_; }
    PixelBuffer& pixels() { return buffer_; }
    void FillWhite();
    PictureHandle handle() const { return handle_; }

  private:
    Picture() = default;
    PixelBuffer buffer_;
    std::unique_ptr<uint8_t[]> memory_;
    PictureHandle handle_ = 0;
};

PictureHandle HandleOf(const Picture* picture);         // 0 for none
const Picture* PictureFromHandle(PictureHandle handle); // null unless a live picture

struct DrawingSurface;

DrawingSurface* CanvasSurface(int control); // becomes the current drawing; null when none
DrawingSurface* ImageSurface(int image);
intptr_t BeginDrawing(DrawingSurface* surface); // nonzero on success
void EndDrawing();                              // a canvas is shown at once

void FillBox(int32_t x, int32_t y, int32_t width, int32_t height, Colour colour);
void DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, Colour colour);
Colour ReadPixel(int32_t x, int32_t y); // 0 outside the target
void DrawImageAt(PictureHandle picture, int32_t x, int32_t y);

// The open drawing's pixels, for code that writes rows straight into memory; null when no
// drawing is open.
PixelBuffer* CurrentDrawingPixels();

// Off-screen images, by non-negative identifier; width and height at most 32767.
intptr_t NewImage(int image, int32_t width, int32_t height, int32_t depth); // nonzero on success
void ReleaseImage(int image);
const Picture* ImagePicture(int image);
int ImageDepth(int image);
void ReleaseAllImages();

// How the drawing layer reaches canvases without depending on the control layer: the control
// layer installs a look-up from a control number to its picture (null when the control is not
// a canvas) and the procedure that shows a canvas's picture on screen at once.
struct CanvasHooks {
    Picture* (*pictureOf)(int control) = nullptr;
    void (*show)(int control) = nullptr;
};
void SetCanvasHooks(const CanvasHooks& hooks);

} // namespace tk
