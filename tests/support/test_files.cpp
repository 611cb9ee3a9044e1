#include "tests/support/test_files.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace pmtest {

TempDir::TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() / ("pixmole-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) path_ = fs::canonical(candidate).string();
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    // A test may have taken the owner's rights away from something inside.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string WriteFile(const std::string& path, const std::string& bytes) {
    std::error_code ignored;
    fs::create_directories(fs::path(path).parent_path(), ignored);
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

namespace {

// The first byte of every row of a PNG's image data (not interlaced), read from the file's own
// chunks and inflated with zlib: libpng's read API never shows it. Empty when the data is not
// there whole.
std::vector<uint8_t> RowFilters(const std::string& file) {
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        for (size_t i = at; i < at + 4; ++i) v = v << 8 | uint8_t(file[i]);
        return v;
    };
    const int channels[] = {1, 0, 3, 1, 2, 0, 4}; // by colour type
    uint64_t rowBytes = 0, height = 0;
    std::string data;
    for (size_t at = 8; at + 12 <= file.size(); at += 12 + u32(at)) {
        const uint32_t length = u32(at);
        if (length > file.size() - at - 12) return {};
        const std::string type = file.substr(at + 4, 4);
        if (type == "IHDR" && length >= 13 && uint8_t(file[at + 17]) < 7) {
            const uint64_t bits =
                uint64_t(u32(at + 8)) * channels[uint8_t(file[at + 17])] * uint8_t(file[at + 16]);
            rowBytes = 1 + (bits + 7) / 8, height = u32(at + 12);
        }
        if (type == "IDAT") data += file.substr(at + 8, length);
    }
    std::vector<uint8_t> image(rowBytes * height);
    uLongf size = uLongf(image.size());
    if (image.empty() ||
        uncompress(image.data(), &size, reinterpret_cast<const Bytef*>(data.data()),
                   uLong(data.size())) != Z_OK ||
        size != image.size())
        return {};
    std::vector<uint8_t> filters;
    for (size_t i = 0; i < image.size(); i += rowBytes) filters.push_back(image[i]);
    return filters;
}

} // namespace

DecodedPng DecodePng(const std::string& path) {
    DecodedPng result;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return result;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    // Nothing with a destructor is made between the setjmp and a longjmp back to it.
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
        png_get_IHDR(png, info, &result.width, &result.height, &result.bitDepth, &result.colourType,
                     &result.interlace, nullptr, nullptr);
        png_bytepp data = png_get_rows(png, info);
        const size_t bytes = png_get_rowbytes(png, info);
        for (png_uint_32 y = 0; y < result.height; ++y)
            result.rows.emplace_back(data[y], data[y] + bytes);
    } // after a failed read (the longjmp) no row was added
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    if (!result.rows.empty() && result.interlace == 0) result.filters = RowFilters(ReadFile(path));
    return result;
}

} // namespace pmtest
