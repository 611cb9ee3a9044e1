// Pictures, drawing surfaces, images and colours.
//
// Sections: state; pictures; colours; surfaces and the current drawing; boxes, lines, pixels;
// copying pictures; images.
//
// All coordinates are clipped in 64-bit arithmetic, so no extent or sum of int32_t arguments can
// overflow, and every write or read lands inside the target's memory.
#include "toolkit/drawing.h"

#include "toolkit/state.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <unordered_map>
#include <vector>

namespace tk {

struct DrawingSurface {
    enum class Kind { Canvas, Image };
    Kind kind = Kind::Canvas;
    int owner = 0; // canvas control or image identifier
    const Picture* target = nullptr;
    PixelBuffer pixels; // a copy of the target's description; the memory is borrowed
    int32_t bytesPerPixel = 3;
    Colour colour = 0; // black when the surface is created
    uint8_t red = 0, green = 0, blue = 0, alpha = 0;
    bool open = false; // BeginDrawing succeeded
};

namespace {

// ---- State ----------------------------------------------------------------------------------

struct ImageEntry {
    std::unique_ptr<Picture> picture;
    int32_t width = 0;
    int32_t height = 0;
    int depth = 0;
};

} // namespace

struct state::Drawing {
    std::unordered_map<PictureHandle, const Picture*> livePictures;
    std::unique_ptr<DrawingSurface> current;
    std::map<int, ImageEntry> images;
    CanvasHooks hooks;
};

template <> state::Drawing* state::Make() {
    return new Drawing;
}

template <> void state::Destroy(Drawing* drawing) {
    delete drawing;
}

namespace {

state::Drawing* D() {
    return state::Get<state::Drawing>();
}

// Handles are never given twice in the life of the program, whichever toolkit was current.
PictureHandle lastHandle = 0;

constexpr int32_t MaxImageSide = 32767;

// The drawing that operations act on: a current surface whose BeginDrawing succeeded.
DrawingSurface* OpenSurface() {
    state::Drawing* d = D();
    DrawingSurface* surface = d != nullptr ? d->current.get() : nullptr;
    return surface != nullptr && surface->open ? surface : nullptr;
}

// Drops the current surface without showing anything.
void DiscardCurrent() {
    if (state::Drawing* d = D()) d->current.reset();
}

uint8_t* RowStart(const PixelBuffer& pixels, int64_t y) {
    return pixels.bits + (static_cast<int64_t>(pixels.height) - 1 - y) * pixels.stride;
}

void TakeColour(DrawingSurface& surface, Colour colour) {
    if (colour == surface.colour) return;
    surface.colour = colour;
    surface.red = static_cast<uint8_t>(colour);
    surface.green = static_cast<uint8_t>(colour >> 8);
    surface.blue = static_cast<uint8_t>(colour >> 16);
    surface.alpha = static_cast<uint8_t>(colour >> 24);
}

// Writes the current colour into count pixels starting at row (bytes blue, green, red; the
// fourth byte of a 4-byte pixel is left alone).
void WriteRun(const DrawingSurface& s, uint8_t* row, int64_t count) {
    if (s.bytesPerPixel == 3 && s.red == s.green && s.green == s.blue) {
        std::memset(row, s.blue, static_cast<size_t>(count) * 3);
        return;
    }
    const int64_t step = s.bytesPerPixel;
    for (uint8_t* p = row; count > 0; --count, p += step) {
        p[0] = s.blue;
        p[1] = s.green;
        p[2] = s.red;
    }
}

// Fills the already clipped box (x, y, width, height), all inside the target, width and height
// positive: the first row is written pixel by pixel and the others are copies of it.
void FillClipped(const DrawingSurface& s, int64_t x, int64_t y, int64_t width, int64_t height) {
    const int64_t offset = x * s.bytesPerPixel;
    uint8_t* first = RowStart(s.pixels, y) + offset;
    if (width == 1 && height == 1) {
        first[0] = s.blue;
        first[1] = s.green;
        first[2] = s.red;
        return;
    }
    WriteRun(s, first, width);
    if (s.bytesPerPixel == 3) {
        // Rows lie stride bytes lower in memory for each step down the picture.
        const size_t bytes = static_cast<size_t>(width) * 3;
        for (int64_t row = 1; row < height; ++row)
            std::memcpy(first - row * s.pixels.stride, first, bytes);
    } else {
        for (int64_t row = 1; row < height; ++row)
            WriteRun(s, first - row * s.pixels.stride, width);
    }
}

void PutPixel(const DrawingSurface& s, int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= s.pixels.width || y >= s.pixels.height) return;
    uint8_t* p = RowStart(s.pixels, y) + x * s.bytesPerPixel;
    p[0] = s.blue;
    p[1] = s.green;
    p[2] = s.red;
}

// The general line: the segment is clipped to the target (Liang-Barsky, in floating point), the
// crossing points are rounded, and the rest is walked with the Bresenham error term along the
// longer axis, both end points included.
void DrawSlantedLine(const DrawingSurface& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
    const double dx = static_cast<double>(x2 - x1);
    const double dy = static_cast<double>(y2 - y1);
    const double limits[4][2] = {
        {-dx, static_cast<double>(x1)},                      // x >= 0
        {dx, static_cast<double>(s.pixels.width - 1 - x1)},  // x <= width - 1
        {-dy, static_cast<double>(y1)},                      // y >= 0
        {dy, static_cast<double>(s.pixels.height - 1 - y1)}, // y <= height - 1
    };
    double t0 = 0.0, t1 = 1.0;
    for (const auto& [p, q] : limits) {
        if (p == 0.0) {
            if (q < 0.0) return;
            continue;
        }
        const double t = q / p;
        if (p < 0.0) {
            if (t > t1) return;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return;
            t1 = std::min(t1, t);
        }
    }
    auto clampX = [&](double v) {
        return std::clamp<int64_t>(std::llround(v), 0, s.pixels.width - 1);
    };
    auto clampY = [&](double v) {
        return std::clamp<int64_t>(std::llround(v), 0, s.pixels.height - 1);
    };
    int64_t ax = t0 > 0.0 ? clampX(x1 + t0 * dx) : x1;
    int64_t ay = t0 > 0.0 ? clampY(y1 + t0 * dy) : y1;
    const int64_t bx = t1 < 1.0 ? clampX(x1 + t1 * dx) : x2;
    const int64_t by = t1 < 1.0 ? clampY(y1 + t1 * dy) : y2;

    const int64_t ddx = std::abs(bx - ax), ddy = -std::abs(by - ay);
    const int64_t sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
    int64_t error = ddx + ddy;
    for (;;) {
        PutPixel(s, ax, ay);
        if (ax == bx && ay == by) break;
        const int64_t e2 = 2 * error;
        if (e2 >= ddy) {
            error += ddy;
            ax += sx;
        }
        if (e2 <= ddx) {
            error += ddx;
            ay += sy;
        }
    }
}

// Copies the overlap of source placed at (x, y) into the target. A source that is the target
// itself is copied from a snapshot, so overlapping rows are never read after being written.
void CopyPicture(const DrawingSurface& s, const PixelBuffer& source, int64_t x, int64_t y) {
    const PixelBuffer& target = s.pixels;
    const int64_t c0 = std::max<int64_t>(0, -x);
    const int64_t c1 = std::min<int64_t>(source.width, target.width - x);
    const int64_t r0 = std::max<int64_t>(0, -y);
    const int64_t r1 = std::min<int64_t>(source.height, target.height - y);
    if (c0 >= c1 || r0 >= r1) return;

    PixelBuffer from = source;
    std::vector<uint8_t> snapshot;
    if (source.bits == target.bits) {
        snapshot.assign(source.bits, source.bits + static_cast<size_t>(source.stride) *
                                                       static_cast<size_t>(source.height));
        from.bits = snapshot.data();
    }
    const int32_t sourceBytes = from.bitsPerPixel / 8;
    for (int64_t r = r0; r < r1; ++r) {
        const uint8_t* in = RowStart(from, r) + c0 * sourceBytes;
        uint8_t* out = RowStart(target, y + r) + (x + c0) * s.bytesPerPixel;
        if (sourceBytes == 3 && s.bytesPerPixel == 3) {
            std::memcpy(out, in, static_cast<size_t>(c1 - c0) * 3);
            continue;
        }
        // Differing pixel sizes: the colour bytes are copied, a target's fourth byte is kept.
        for (int64_t c = c0; c < c1; ++c, in += sourceBytes, out += s.bytesPerPixel) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
}

std::unique_ptr<DrawingSurface> MakeSurface(DrawingSurface::Kind kind, int owner,
                                            const Picture* picture) {
    auto surface = std::make_unique<DrawingSurface>();
    surface->kind = kind;
    surface->owner = owner;
    surface->target = picture;
    surface->pixels = picture->pixels();
    surface->bytesPerPixel = picture->pixels().bitsPerPixel / 8;
    return surface;
}

DrawingSurface* MakeCurrent(std::unique_ptr<DrawingSurface> surface) {
    state::Drawing* d = D();
    if (d == nullptr) return nullptr;
    d->current = std::move(surface);
    return d->current.get();
}

} // namespace

// ---- Pictures -------------------------------------------------------------------------------

int32_t StrideFor(int32_t width, int32_t bitsPerPixel) {
    if (width <= 0 || bitsPerPixel <= 0) return 0;
    const int64_t stride = (static_cast<int64_t>(width) * bitsPerPixel + 31) / 32 * 4;
    return stride > INT32_MAX ? 0 : static_cast<int32_t>(stride);
}

std::unique_ptr<Picture> Picture::Create(int32_t width, int32_t height, int32_t bitsPerPixel) {
    if (width <= 0 || height <= 0 || (bitsPerPixel != 24 && bitsPerPixel != 32)) return nullptr;
    const int32_t stride = StrideFor(width, bitsPerPixel);
    if (stride == 0) return nullptr;
    const int64_t size = static_cast<int64_t>(stride) * height;
    if (static_cast<uint64_t>(size) > SIZE_MAX / 2) return nullptr;

    std::unique_ptr<Picture> picture(new (std::nothrow) Picture);
    if (!picture) return nullptr;
    picture->memory_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]());
    if (!picture->memory_) return nullptr;
    picture->buffer_ = {width, height, bitsPerPixel, stride, picture->memory_.get()};
    picture->handle_ = ++lastHandle;
    if (state::Drawing* d = D()) d->livePictures.emplace(picture->handle_, picture.get());
    return picture;
}

// A picture that dies while it is the target of the current drawing takes that drawing with it,
// so no later operation can write into freed memory.
Picture::~Picture() {
    state::Drawing* d = D();
    if (d == nullptr) return;
    d->livePictures.erase(handle_);
    if (d->current && d->current->target == this) d->current.reset();
}

void Picture::FillWhite() {
    if (buffer_.bits == nullptr) return;
    std::memset(buffer_.bits, 0xFF,
                static_cast<size_t>(buffer_.stride) * static_cast<size_t>(buffer_.height));
}

PictureHandle HandleOf(const Picture* picture) {
    return picture != nullptr ? picture->handle() : 0;
}

const Picture* PictureFromHandle(PictureHandle handle) {
    state::Drawing* d = D();
    if (d == nullptr) return nullptr;
    auto found = d->livePictures.find(handle);
    return found != d->livePictures.end() ? found->second : nullptr;
}

// ---- Colours --------------------------------------------------------------------------------

Colour MakeColour(int32_t red, int32_t green, int32_t blue) {
    // Unsigned arithmetic: a component outside 0..255 spills into its neighbour, wrapping
    // modulo 2^32 instead of overflowing.
    return static_cast<Colour>(red) + static_cast<Colour>(green) * 256u +
           static_cast<Colour>(blue) * 65536u;
}

// ---- Surfaces and the current drawing -------------------------------------------------------
//
// Obtaining a surface always ends a drawing that is still current, without showing it, whether
// or not the new surface can be made; afterwards either the new surface is current or none is.

void SetCanvasHooks(const CanvasHooks& hooks) {
    if (state::Drawing* d = D()) d->hooks = hooks;
}

DrawingSurface* CanvasSurface(int control) {
    DiscardCurrent();
    state::Drawing* d = D();
    if (d == nullptr || d->hooks.pictureOf == nullptr) return nullptr;
    const CanvasHooks& hooks = d->hooks;
    const Picture* picture = hooks.pictureOf(control);
    if (picture == nullptr || picture->pixels().bits == nullptr) return nullptr;
    return MakeCurrent(MakeSurface(DrawingSurface::Kind::Canvas, control, picture));
}

DrawingSurface* ImageSurface(int image) {
    DiscardCurrent();
    state::Drawing* d = D();
    if (d == nullptr) return nullptr;
    auto it = d->images.find(image);
    if (it == d->images.end() || !it->second.picture) return nullptr;
    const Picture* picture = it->second.picture.get();
    if (picture->pixels().bits == nullptr) return nullptr;
    auto surface = MakeSurface(DrawingSurface::Kind::Image, image, picture);
    surface->pixels.width = it->second.width;
    surface->pixels.height = it->second.height;
    return MakeCurrent(std::move(surface));
}

intptr_t BeginDrawing(DrawingSurface* surface) {
    state::Drawing* d = D();
    DrawingSurface* current = d != nullptr ? d->current.get() : nullptr;
    if (surface == nullptr) {
        // The caller has nothing to draw on; make sure the drawing calls that follow do nothing.
        DiscardCurrent();
        return 0;
    }
    if (surface != current) return 0; // not a surface this layer handed out (or already ended)
    if (surface->pixels.bits == nullptr) {
        DiscardCurrent();
        return 0;
    }
    surface->open = true;
    return reinterpret_cast<intptr_t>(surface);
}

void EndDrawing() {
    state::Drawing* d = D();
    if (d == nullptr || !d->current) return;
    // Taken out first, so that a show hook which draws again finds no drawing current.
    std::unique_ptr<DrawingSurface> surface = std::move(d->current);
    if (surface->kind != DrawingSurface::Kind::Canvas) return;
    const CanvasHooks hooks = d->hooks;
    if (hooks.pictureOf == nullptr || hooks.show == nullptr) return;
    if (hooks.pictureOf(surface->owner) == nullptr) return; // the control is gone
    hooks.show(surface->owner);
}

PixelBuffer* CurrentDrawingPixels() {
    DrawingSurface* surface = OpenSurface();
    return surface != nullptr ? &surface->pixels : nullptr;
}

// ---- Boxes, lines, pixels -------------------------------------------------------------------

void FillBox(int32_t x, int32_t y, int32_t width, int32_t height, Colour colour) {
    DrawingSurface* s = OpenSurface();
    if (s == nullptr) return;
    TakeColour(*s, colour);
    // The renderer's one-pixel boxes: no flipping or clipping arithmetic needed.
    if (width == 1 && height == 1) {
        if (x >= 0 && y >= 0 && x < s->pixels.width && y < s->pixels.height) {
            uint8_t* p = RowStart(s->pixels, y) + static_cast<int64_t>(x) * s->bytesPerPixel;
            p[0] = s->blue;
            p[1] = s->green;
            p[2] = s->red;
        }
        return;
    }
    int64_t x0 = x, y0 = y, w = width, h = height;
    if (w < 0) {
        x0 += w;
        w = -w;
    }
    if (h < 0) {
        y0 += h;
        h = -h;
    }
    if (x0 < 0) {
        w += x0;
        x0 = 0;
    }
    if (y0 < 0) {
        h += y0;
        y0 = 0;
    }
    if (x0 + w > s->pixels.width) w = s->pixels.width - x0;
    if (y0 + h > s->pixels.height) h = s->pixels.height - y0;
    if (w <= 0 || h <= 0) return;
    FillClipped(*s, x0, y0, w, h);
}

void DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, Colour colour) {
    DrawingSurface* s = OpenSurface();
    if (s == nullptr) return;
    TakeColour(*s, colour);
    const int64_t width = s->pixels.width, height = s->pixels.height;
    if (y1 == y2) {
        if (y1 < 0 || y1 >= height) return;
        const int64_t a = std::max<int64_t>(std::min(x1, x2), 0);
        const int64_t b = std::min<int64_t>(std::max(x1, x2), width - 1);
        if (a <= b) FillClipped(*s, a, y1, b - a + 1, 1);
    } else if (x1 == x2) {
        if (x1 < 0 || x1 >= width) return;
        const int64_t a = std::max<int64_t>(std::min(y1, y2), 0);
        const int64_t b = std::min<int64_t>(std::max(y1, y2), height - 1);
        if (a <= b) FillClipped(*s, x1, a, 1, b - a + 1);
    } else {
        DrawSlantedLine(*s, x1, y1, x2, y2);
    }
}

Colour ReadPixel(int32_t x, int32_t y) {
    const DrawingSurface* s = OpenSurface();
    if (s == nullptr) return 0;
    if (x < 0 || y < 0 || x >= s->pixels.width || y >= s->pixels.height) return 0;
    const uint8_t* p = RowStart(s->pixels, y) + static_cast<int64_t>(x) * s->bytesPerPixel;
    return static_cast<Colour>(p[0]) << 16 | static_cast<Colour>(p[1]) << 8 | p[2];
}

// ---- Copying pictures -----------------------------------------------------------------------

void DrawImageAt(PictureHandle picture, int32_t x, int32_t y) {
    const DrawingSurface* s = OpenSurface();
    if (s == nullptr) return;
    const Picture* source = PictureFromHandle(picture);
    if (source == nullptr || source->pixels().bits == nullptr) return;
    CopyPicture(*s, source->pixels(), x, y);
}

// ---- Images ---------------------------------------------------------------------------------

intptr_t NewImage(int image, int32_t width, int32_t height, int32_t depth) {
    if (image < 0) return 0;
    ReleaseImage(image);
    if (depth < 24) depth = 24;
    if (depth != 24 && depth != 32) return 0;
    if (width < 1 || width > MaxImageSide || height < 1 || height > MaxImageSide) return 0;
    // Created zero-filled, which is black.
    std::unique_ptr<Picture> picture = Picture::Create(width, height, depth);
    if (!picture) return 0;
    const intptr_t handle = HandleOf(picture.get());
    state::Drawing* d = D();
    if (d == nullptr) return 0;
    ImageEntry& entry = d->images[image];
    entry.picture = std::move(picture);
    entry.width = width;
    entry.height = height;
    entry.depth = depth;
    return handle;
}

void ReleaseImage(int image) {
    state::Drawing* d = D();
    if (d == nullptr) return;
    auto& images = d->images;
    auto it = images.find(image);
    if (it == images.end()) return;
    // Out of the table before the picture dies.
    std::unique_ptr<Picture> picture = std::move(it->second.picture);
    images.erase(it);
}

const Picture* ImagePicture(int image) {
    state::Drawing* d = D();
    if (d == nullptr) return nullptr;
    auto it = d->images.find(image);
    return it == d->images.end() ? nullptr : it->second.picture.get();
}

int ImageDepth(int image) {
    state::Drawing* d = D();
    if (d == nullptr) return 0;
    auto it = d->images.find(image);
    return it == d->images.end() ? 0 : it->second.depth;
}

void ReleaseAllImages() {
    std::map<int, ImageEntry> images;
    if (state::Drawing* d = D()) images.swap(d->images);
}

} // namespace tk
