// Image writers by format tag, and the PNG writer over libpng.
//
// A PNG is never written in place: the bytes go to a temporary file beside the target, which is
// renamed over the target only once libpng has finished and the data is on disk. A failure at any
// point removes the temporary file, so a file that existed under the target name survives intact.
// A FIFO or a device under the target name is the exception: it is written directly.
#include "toolkit/png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "toolkit/drawing.h"

namespace tk {
namespace {

using WriteRoutine = int (*)(const Text& path, const uint8_t* pixels, int32_t width, int32_t height,
                             int32_t stride);

struct ImageWriter {
    uint32_t tag = 0;
    WriteRoutine write24 = nullptr;
    WriteRoutine write32 = nullptr; // may be absent
};

struct WriterState {
    std::vector<ImageWriter> writers; // registration order; the first matching tag wins
    bool pngWriterRegistered = false;
    bool pngReaderRegistered = false;
    Text lastError;
};

WriterState& W() {
    static WriterState state;
    return state;
}

int Fail(const Text& reason) {
    W().lastError = reason;
    return 0;
}

int FailErrno(int error) {
    return Fail(std::strerror(error));
}

int WritePngRgb(const Text& path, const uint8_t* pixels, int32_t width, int32_t height,
                int32_t stride) {
    return WritePng(path, pixels, width, height, stride, PngColourRgb);
}

int WritePngRgbAlpha(const Text& path, const uint8_t* pixels, int32_t width, int32_t height,
                     int32_t stride) {
    return WritePng(path, pixels, width, height, stride, PngColourRgbAlpha);
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

// The temporary file beside the target: closed and removed on destruction unless kept.
struct TemporaryFile {
    Text path;
    FILE* file = nullptr;
    bool keep = false;
    ~TemporaryFile() {
        if (file != nullptr) std::fclose(file);
        if (!keep && !path.empty()) unlink(path.c_str());
    }
};

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Makes the rename itself durable; a failure here does not undo a finished write.
void SyncFolder(const Text& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

} // namespace

void RegisterPngWriter() {
    WriterState& state = W();
    if (state.pngWriterRegistered) return;
    state.writers.push_back({PngTag, WritePngRgb, WritePngRgbAlpha});
    state.pngWriterRegistered = true;
}

// Nothing in the program reads images; registering the reader only records that it was asked.
void RegisterPngReader() {
    W().pngReaderRegistered = true;
}

int SaveImageAsPng(int image, const Text& path) {
    return WriteImageFile(image, path, PngTag);
}

int WriteImageFile(int image, const Text& path, uint32_t tag) {
    if (path.empty()) return Fail("No file name");
    const Picture* picture = ImagePicture(image);
    if (picture == nullptr) return Fail("No such image");
    const PixelBuffer& pixels = picture->pixels();
    if (pixels.bits == nullptr) return Fail("Image has no pixels");

    const ImageWriter* writer = nullptr;
    for (const ImageWriter& entry : W().writers) {
        if (entry.tag == tag) {
            writer = &entry;
            break;
        }
    }
    if (writer == nullptr) return Fail("No writer for this image format");

    switch (ImageDepth(image)) {
    case 24:
        return writer->write24(path, pixels.bits, pixels.width, pixels.height, pixels.stride);
    case 32:
        if (writer->write32 == nullptr) return Fail("No writer for this image depth");
        return writer->write32(path, pixels.bits, pixels.width, pixels.height, pixels.stride);
    default:
        return Fail("No writer for this image depth");
    }
}

int WritePng(const Text& path, const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
             int colourType) {
    const int bytesPerPixel = colourType == PngColourRgb        ? 3
                              : colourType == PngColourRgbAlpha ? 4
                                                                : 0;
    if (bytesPerPixel == 0 || pixels == nullptr || width <= 0 || height <= 0 ||
        stride < static_cast<int64_t>(width) * bytesPerPixel)
        return FailErrno(EINVAL);
    if (path.empty()) return FailErrno(ENOENT);

    // A link is followed, so that the file it names is replaced and the link itself stays.
    Text target = path;
    struct stat existing;
    if (lstat(path.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) {
        if (char* resolved = realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) return FailErrno(EISDIR);
    // A FIFO or a device has no contents to keep, and renaming over it would replace the node
    // itself: such targets are written directly (opened without waiting for a FIFO's reader).
    if (exists && !S_ISREG(existing.st_mode)) {
        const int fd = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return FailErrno(errno);
        const int flags = fcntl(fd, F_GETFL);
        FILE* file =
            flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 ? nullptr : fdopen(fd, "wb");
        if (file == nullptr) {
            const int error = errno;
            close(fd);
            return FailErrno(error);
        }
        errno = 0;
        const bool encoded = EncodePng(file, pixels, width, height, stride, colourType);
        const int encodeError = errno;
        const bool flushed = encoded && std::fflush(file) == 0;
        const int flushError = errno;
        const bool closed = std::fclose(file) == 0;
        if (!encoded)
            return encodeError != 0 ? Fail(Text("PNG library error: ") + std::strerror(encodeError))
                                    : Fail("PNG library error");
        if (!flushed) return FailErrno(flushError);
        if (!closed) return FailErrno(errno);
        W().lastError.clear();
        return 1;
    }

    const size_t slash = target.rfind('/');
    const Text folder = slash == Text::npos ? Text(".") : target.substr(0, slash + 1);
    Text name = slash == Text::npos ? target : target.substr(slash + 1);
    if (name.empty()) return FailErrno(EISDIR);
    // Leaves room for the dot and the suffix within the usual 255-byte name limit.
    if (name.size() > 200) name.resize(200);

    TemporaryFile temp;
    temp.path = (slash == Text::npos ? Text() : folder) + "." + name + ".XXXXXX";
    std::vector<char> pattern(temp.path.begin(), temp.path.end());
    pattern.push_back('\0');
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        temp.path.clear();
        return FailErrno(error);
    }
    temp.path = pattern.data();
    const mode_t mode = exists ? (existing.st_mode & 0777) : NewFileMode();
    if (fchmod(fd, mode) != 0) {
        const int error = errno;
        close(fd);
        return FailErrno(error);
    }
    temp.file = fdopen(fd, "wb");
    if (temp.file == nullptr) {
        const int error = errno;
        close(fd);
        return FailErrno(error);
    }

    errno = 0;
    if (!EncodePng(temp.file, pixels, width, height, stride, colourType)) {
        // libpng reports a failed fwrite as its own error; the stream still knows the cause.
        const int error = errno;
        if (std::ferror(temp.file) && error != 0)
            return Fail(Text("PNG library error: ") + std::strerror(error));
        return Fail("PNG library error");
    }
    if (std::fflush(temp.file) != 0 || fsync(fileno(temp.file)) != 0) return FailErrno(errno);
    FILE* file = temp.file;
    temp.file = nullptr;
    if (std::fclose(file) != 0) return FailErrno(errno);
    if (std::rename(temp.path.c_str(), target.c_str()) != 0) return FailErrno(errno);
    temp.keep = true;
    SyncFolder(folder);
    W().lastError.clear();
    return 1;
}

Text LastImageWriteError() {
    return W().lastError;
}

int ImageWriterCount() {
    return static_cast<int>(W().writers.size());
}

void ResetImageWriters() {
    WriterState& state = W();
    state.writers.clear();
    state.pngWriterRegistered = false;
    state.pngReaderRegistered = false;
}

} // namespace tk
