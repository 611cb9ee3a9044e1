// The PNG writer over random pictures: every file it writes must decode, through libpng's own
// reader, to exactly the picture's pixels with the header it was asked for, hold no chunk beyond
// IHDR, IDAT and IEND, and leave nothing but the target behind in its folder.
#include <fuzzer/FuzzedDataProvider.h>

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "toolkit/drawing.h"
#include "toolkit/headless/null_backend.h"
#include "toolkit/png_writer.h"
#include "toolkit/window.h"

namespace {

// A private folder, on a memory file system when there is one: the writer syncs every file.
// Kept in static storage so that the clean-up at exit can still read it.
char folderName[512];

void RemoveFolder() {
    unlink((std::string(folderName) + "/picture.png").c_str());
    rmdir(folderName);
}

std::string Folder() {
    if (folderName[0] == '\0') {
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        if (const char* tmp = std::getenv("PIXMOLE_FUZZ_TMP")) pattern = tmp;
        pattern += "/pixmole-fuzz-png-XXXXXX";
        CHECK(pattern.size() < sizeof folderName);
        std::memcpy(folderName, pattern.c_str(), pattern.size() + 1);
        CHECK(mkdtemp(folderName) != nullptr);
        std::atexit(RemoveFolder);
    }
    return folderName;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(file);
    }
    return bytes;
}

uint32_t BigEndian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The chunk types in file order; empty when the signature or a length is wrong.
std::vector<std::string> ChunkTypes(const std::vector<uint8_t>& file) {
    static const uint8_t signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (file.size() < 8 || std::memcmp(file.data(), signature, 8) != 0) return {};
    std::vector<std::string> types;
    size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = BigEndian(&file[at]);
        if (length > file.size() - at - 12) return {};
        types.emplace_back(reinterpret_cast<const char*>(&file[at + 4]), 4);
        at += 12 + length;
    }
    if (at != file.size()) return {};
    return types;
}

struct Decoded {
    uint32_t width = 0, height = 0;
    int bitDepth = 0, colourType = 0, interlace = 0, channels = 0;
    std::vector<std::vector<uint8_t>> rows; // top row first, as stored in the file
};

struct MemoryReader {
    const std::vector<uint8_t>* bytes;
    size_t at = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (count > reader->bytes->size() - reader->at) png_error(png, "read past the end");
    std::memcpy(out, reader->bytes->data() + reader->at, count);
    reader->at += count;
}

// Decodes with libpng and no transformations at all. False on any library error.
bool Decode(const std::vector<uint8_t>& file, Decoded& out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{&file};
    // Only plain data lives across the jump; the rows are resized before it can happen.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &reader, ReadFromMemory);
    png_read_info(png, info);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    out.colourType = png_get_color_type(png, info);
    out.interlace = png_get_interlace_type(png, info);
    out.channels = png_get_channels(png, info);
    if (out.width == 0 || out.width > 1000 || out.height == 0 || out.height > 1000 ||
        out.bitDepth != 8 || out.channels < 3) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    out.rows.assign(out.height, std::vector<uint8_t>(size_t(out.width) * out.channels));
    for (auto& row : out.rows) png_read_row(png, row.data(), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

} // namespace

// The toolkit keeps the last write failure: it runs for the whole fuzzing process.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static tk::NullBackend backend;
    CHECK(tk::InitToolkit(&backend) == 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int32_t width = in.ConsumeIntegralInRange<int32_t>(1, 300);
    const int32_t height = in.ConsumeIntegralInRange<int32_t>(1, 300);
    const bool alpha = in.ConsumeIntegralInRange<int>(0, 3) == 0;
    const int bytesPerPixel = alpha ? 4 : 3;
    // The pictures' own stride most of the time, sometimes with extra padding at row ends.
    int32_t stride = tk::StrideFor(width, alpha ? 32 : 24);
    if (in.ConsumeBool()) stride += in.ConsumeIntegralInRange<int32_t>(0, 16);
    CHECK(stride >= width * bytesPerPixel);

    // The input's bytes repeated over the picture, or a few flat colours when there are none.
    std::vector<uint8_t> pixels(size_t(stride) * height);
    const std::vector<uint8_t> pattern = in.ConsumeRemainingBytes<uint8_t>();
    if (pattern.empty()) {
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i / 997 * 37);
    } else {
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = uint8_t(pattern[i % pattern.size()] + i / pattern.size());
    }

    const std::string path = Folder() + "/picture.png";
    CHECK(tk::WritePng(path, pixels.data(), width, height, stride,
                       alpha ? tk::PngColourRgbAlpha : tk::PngColourRgb) == 1);
    CHECK(tk::LastImageWriteError().empty());
    const std::vector<std::string> left = Entries(Folder());
    CHECK(left.size() == 1 && left[0] == "picture.png");

    const std::vector<uint8_t> file = ReadFile(path);
    const std::vector<std::string> types = ChunkTypes(file);
    CHECK(types.size() >= 3);
    CHECK(types.front() == "IHDR" && types.back() == "IEND");
    for (size_t i = 1; i + 1 < types.size(); ++i) CHECK(types[i] == "IDAT");

    Decoded decoded;
    CHECK(Decode(file, decoded));
    CHECK(decoded.width == uint32_t(width) && decoded.height == uint32_t(height));
    CHECK(decoded.bitDepth == 8 && decoded.interlace == PNG_INTERLACE_NONE);
    CHECK(decoded.colourType == (alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB));
    CHECK(decoded.channels == bytesPerPixel);
    // Memory is bottom-up and blue, green, red (alpha); the file is top-down red, green, blue.
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* memory = pixels.data() + size_t(height - 1 - y) * stride;
        const std::vector<uint8_t>& row = decoded.rows[size_t(y)];
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* m = memory + size_t(x) * bytesPerPixel;
            const uint8_t* f = row.data() + size_t(x) * bytesPerPixel;
            CHECK(f[0] == m[2] && f[1] == m[1] && f[2] == m[0]);
            if (alpha) CHECK(f[3] == m[3]);
        }
    }
    return 0;
}
