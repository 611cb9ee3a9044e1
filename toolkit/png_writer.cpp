// Image writers by format tag, and the PNG writer over libpng.
//
// A PNG is never written in place: the bytes go to a temporary file beside the target, which takes
// the target's place only once libpng has finished and the data is on disk. A failure at any point
// removes the temporary file, so a file that existed under the target name survives intact. A FIFO
// or a device under the target name is the exception: it is written directly.
#include "toolkit/png_writer.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "toolkit/drawing.h"
#include "toolkit/platform.h"
#include "toolkit/state.h"

namespace tk {
namespace {

// Writes the picture to the path: the reason of a failure, or empty.
using WriteRoutine = Text (*)(const Text& path, const uint8_t* pixels, int32_t width,
                              int32_t height, int32_t stride);

struct ImageWriter {
    uint32_t tag = 0;
    WriteRoutine write24 = nullptr;
    WriteRoutine write32 = nullptr; // may be absent
};

Text EncodeToFile(const Text& path, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t stride, int colourType);

Text WritePngRgb(const Text& path, const uint8_t* pixels, int32_t width, int32_t height,
                 int32_t stride) {
    return EncodeToFile(path, pixels, width, height, stride, PngColourRgb);
}

Text WritePngRgbAlpha(const Text& path, const uint8_t* pixels, int32_t width, int32_t height,
                      int32_t stride) {
    return EncodeToFile(path, pixels, width, height, stride, PngColourRgbAlpha);
}

} // namespace

struct state::Writers {
    std::vector<ImageWriter> writers; // registration order; the first matching tag wins
    bool pngWriterRegistered = false;
    bool pngReaderRegistered = false;
    Text lastError;
};

template <> state::Writers* state::Make() {
    return new Writers;
}

template <> void state::Destroy(Writers* writers) {
    delete writers;
}

namespace {

state::Writers* W() {
    return state::Get<state::Writers>();
}

// Keeps the reason for LastImageWriteError: 1 when there is none, else 0.
int Finish(const Text& error) {
    if (state::Writers* w = W()) w->lastError = error;
    return error.empty() ? 1 : 0;
}

// Runs libpng over an open stream. Every library error comes back to the setjmp below, which
// frees libpng's structures; the caller owns the stream and its cleanup. Nothing with a
// destructor lives in this function, so the longjmp skips no C++ cleanup.
int EncodePng(FILE* file, const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
              int colourType) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return 0;
    png_infop volatile info = nullptr;
    if (setjmp(*png_set_longjmp_fn(png, longjmp, sizeof(jmp_buf)))) {
        png_infop doomed = info;
        png_destroy_write_struct(&png, &doomed);
        return 0;
    }
    png_init_io(png, file);
    info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return 0;
    }
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_bgr(png);
    png_write_info(png, info);
    // Memory is bottom-up: the top row of the picture is the last one in memory.
    const uint8_t* row = pixels + static_cast<ptrdiff_t>(height - 1) * stride;
    for (int32_t i = 0; i < height; ++i, row -= stride) png_write_row(png, row);
    png_write_end(png, info);
    png_infop done = info;
    png_destroy_write_struct(&png, &done);
    return 1;
}

Text EncodeToFile(const Text& path, const uint8_t* pixels, int32_t width, int32_t height,
                  int32_t stride, int colourType) {
    const int bytesPerPixel = colourType == PngColourRgb        ? 3
                              : colourType == PngColourRgbAlpha ? 4
                                                                : 0;
    if (bytesPerPixel == 0 || pixels == nullptr || width <= 0 || height <= 0 ||
        stride < static_cast<int64_t>(width) * bytesPerPixel)
        return platform::ReasonOf(EINVAL);
    if (path.empty()) return platform::ReasonOf(ENOENT);

    platform::Result<platform::Replacement> begun = platform::BeginReplacing(path);
    if (!begun.ok()) return begun.error;
    const platform::Replacement& replacement = begun.value;
    FILE* file = platform::StreamOf(replacement.file);
    if (file == nullptr) {
        const Text reason = platform::ReasonOf(errno);
        platform::Close(replacement.file);
        platform::EndReplacing(replacement, false);
        return reason;
    }

    errno = 0;
    Text error;
    if (!EncodePng(file, pixels, width, height, stride, colourType)) {
        // libpng reports a failed fwrite as its own error; the stream still knows the cause.
        const int cause = errno;
        error = std::ferror(file) && cause != 0 ? "PNG library error: " + platform::ReasonOf(cause)
                                                : Text("PNG library error");
    }
    if (error.empty()) error = platform::FlushStream(file, !replacement.direct());
    if (std::fclose(file) != 0 && error.empty()) error = platform::ReasonOf(errno);
    const Text replaced = platform::EndReplacing(replacement, error.empty());
    return error.empty() ? replaced : error;
}

Text WriteImage(int image, const Text& path, uint32_t tag) {
    if (path.empty()) return "No file name";
    const Picture* picture = ImagePicture(image);
    if (picture == nullptr) return "No such image";
    const PixelBuffer& pixels = picture->pixels();
    if (pixels.bits == nullptr) return "Image has no pixels";

    state::Writers* w = W();
    if (w == nullptr) return "No writer for this image format";
    auto writer = std::find_if(w->writers.begin(), w->writers.end(),
                               [tag](const ImageWriter& entry) { return entry.tag == tag; });
    if (writer == w->writers.end()) return "No writer for this image format";
    const int depth = ImageDepth(image);
    WriteRoutine write = depth == 24 ? writer->write24 : depth == 32 ? writer->write32 : nullptr;
    if (write == nullptr) return "No writer for this image depth";
    return write(path, pixels.bits, pixels.width, pixels.height, pixels.stride);
}

} // namespace

void RegisterPngWriter() {
    state::Writers* w = W();
    if (w == nullptr || w->pngWriterRegistered) return;
    w->writers.push_back({PngTag, WritePngRgb, WritePngRgbAlpha});
    w->pngWriterRegistered = true;
}

// Nothing in the program reads images; registering the reader only records that it was asked.
void RegisterPngReader() {
    if (state::Writers* w = W()) w->pngReaderRegistered = true;
}

int SaveImageAsPng(int image, const Text& path) {
    return WriteImageFile(image, path, PngTag);
}

int WriteImageFile(int image, const Text& path, uint32_t tag) {
    return Finish(WriteImage(image, path, tag));
}

int WritePng(const Text& path, const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
             int colourType) {
    return Finish(EncodeToFile(path, pixels, width, height, stride, colourType));
}

Text LastImageWriteError() {
    state::Writers* w = W();
    return w != nullptr ? w->lastError : Text();
}

int ImageWriterCount() {
    state::Writers* w = W();
    return w != nullptr ? static_cast<int>(w->writers.size()) : 0;
}

} // namespace tk
