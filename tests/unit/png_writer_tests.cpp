// The PNG writer: files decoded with libpng and taken apart chunk by chunk, and the replacement
// of an existing file that must survive any failure.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

#include "tests/support/running_toolkit.h"
#include "toolkit/drawing.h"
#include "toolkit/png_writer.h"

namespace tk {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using Rows = std::vector<std::vector<uint8_t>>;
constexpr int32_t W = 641, H = 481;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

Names Entries(const std::string& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t BigEndian(const std::string& s, size_t at) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data() + at);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The file's chunks as (type, data), after a check of the signature.
std::vector<std::pair<std::string, std::string>> Chunks(const std::string& file) {
    std::vector<std::pair<std::string, std::string>> chunks;
    if (file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return chunks;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = BigEndian(file, at);
        if (at + 12 + length > file.size()) break;
        chunks.push_back({file.substr(at + 4, 4), file.substr(at + 8, length)});
        at += 12 + length;
    }
    return chunks;
}

// Decodes with libpng's read API into rows of samples, top row first; empty on failure.
Rows Decode(const std::string& path) {
    Rows rows;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return rows;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
        png_bytepp data = png_get_rows(png, info);
        const size_t bytes = png_get_rowbytes(png, info);
        for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y)
            rows.emplace_back(data[y], data[y] + bytes);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return rows;
}

class PngWriter : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(toolkit->ok);
        char pattern[] = "/tmp/png_writer_tests.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        RegisterPngReader();
        RegisterPngWriter();
    }
    void TearDown() override { fs::remove_all(folder); }
    // A fresh toolkit: no writer registered, no image.
    void Restart() {
        toolkit.reset();
        toolkit = std::make_unique<pmtest::RunningToolkit>();
    }
    std::unique_ptr<pmtest::RunningToolkit> toolkit = std::make_unique<pmtest::RunningToolkit>();
    // Image 1 at canvas size, every pixel a different colour (x, y) -> red x, green y, blue x^y.
    static void MakePatternImage() {
        ASSERT_NE(NewImage(1, W, H, 24), 0);
        ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                FillBox(x, y, 1, 1, MakeColour(x & 255, y & 255, (x ^ y) & 255));
        EndDrawing();
    }
    // The red, green, blue bytes of the pattern's row y.
    static std::string PatternRow(int y) {
        std::string row;
        for (int x = 0; x < W; ++x) row += {char(x), char(y), char(x ^ y)};
        return row;
    }
    std::string folder;
};

TEST_F(PngWriter, HeaderChunksUnfilteredRowsAndDecodedPixels) {
    MakePatternImage();
    const std::string path = folder + "/plain";
    ASSERT_EQ(WriteImageFile(1, path, PngTag), 1);
    EXPECT_EQ(LastImageWriteError(), "");
    EXPECT_EQ(Entries(folder), Names{"plain"}); // no extension added

    const auto chunks = Chunks(ReadAll(path));
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks.front().first, "IHDR");
    EXPECT_EQ(chunks.back().first, "IEND");
    std::string compressed;
    for (size_t i = 1; i + 1 < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].first, "IDAT");
        compressed += chunks[i].second;
    }
    // 641 x 481, bit depth 8, colour type RGB, compression 0, filter method 0, not interlaced.
    const std::string& ihdr = chunks.front().second;
    EXPECT_EQ(ihdr, std::string("\0\0\x02\x81\0\0\x01\xe1\x08\x02\0\0\0", 13));

    const size_t rowBytes = 1 + 3 * W;
    std::string raw(rowBytes * H + 1, '\0');
    uLongf size = raw.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(raw.data()), &size,
                         reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()),
              Z_OK);
    ASSERT_EQ(size, rowBytes * H);
    // Every row unfiltered; the top row, last in memory, is the first in the file, red first.
    for (int y = 0; y < H; ++y) {
        ASSERT_EQ(raw[y * rowBytes], 0) << "filter byte of row " << y;
        ASSERT_EQ(raw.substr(y * rowBytes + 1, 3 * W), PatternRow(y)) << y;
    }
    const Rows rows = Decode(path);
    ASSERT_EQ(rows.size(), size_t(H));
    for (int y = 0; y < H; ++y)
        ASSERT_EQ(std::string(rows[y].begin(), rows[y].end()), PatternRow(y));
}

TEST_F(PngWriter, WriterTableRefusalsAndUnwritableTargetsCreateNothing) {
    EXPECT_EQ(ImageWriterCount(), 1);
    RegisterPngWriter();
    EXPECT_EQ(ImageWriterCount(), 1);
    ASSERT_NE(NewImage(1, 8, 8, 24), 0);
    const std::string path = folder + "/out.png";
    EXPECT_EQ(WriteImageFile(1, path, 0x464947), 0); // "GIF": nobody writes it
    EXPECT_EQ(WriteImageFile(2, path, PngTag), 0);   // no such image
    EXPECT_EQ(WriteImageFile(1, "", PngTag), 0);
    EXPECT_NE(LastImageWriteError(), "");
    uint8_t pixels[8 * 24] = {};
    EXPECT_EQ(WritePng(path, nullptr, 8, 8, 24, PngColourRgb), 0);
    EXPECT_EQ(WritePng(path, pixels, 8, 8, 23, PngColourRgb), 0); // stride too small
    EXPECT_EQ(WritePng(path, pixels, 8, 8, 24, 3), 0);
    Restart();
    ASSERT_NE(NewImage(1, 8, 8, 24), 0);
    EXPECT_EQ(ImageWriterCount(), 0);
    EXPECT_EQ(SaveImageAsPng(1, path), 0);
    EXPECT_TRUE(Entries(folder).empty());
    RegisterPngWriter();
    EXPECT_EQ(SaveImageAsPng(1, path), 1);
    EXPECT_EQ(Entries(folder), Names{"out.png"});

    EXPECT_EQ(SaveImageAsPng(1, folder + "/missing/out.png"), 0);
    EXPECT_NE(LastImageWriteError(), "");
    const std::string directory = folder + "/taken.png";
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    WriteAll(directory + "/inside", "keep");
    EXPECT_EQ(SaveImageAsPng(1, directory), 0);
    EXPECT_EQ(Entries(folder), (Names{"out.png", "taken.png"}));
    EXPECT_EQ(Entries(directory), Names{"inside"});
}

TEST_F(PngWriter, ThirtyTwoBitImagesKeepTheirAlpha) {
    ASSERT_NE(NewImage(1, 3, 2, 32), 0);
    PixelBuffer& p = const_cast<Picture*>(ImagePicture(1))->pixels();
    for (int i = 0; i < p.stride * p.height; ++i) p.bits[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(SaveImageAsPng(1, folder + "/alpha.png"), 1);
    // Top row = second row in memory, stored blue, green, red, alpha.
    EXPECT_EQ(Decode(folder + "/alpha.png"), (Rows{{14, 13, 12, 15, 18, 17, 16, 19, 22, 21, 20, 23},
                                                   {2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11}}));
}

TEST_F(PngWriter, ReplacesAnExistingFileKeepingItsPermissionsAndLinks) {
    MakePatternImage();
    const std::string path = folder + "/existing.png", link = folder + "/link.png";
    WriteAll(path, "old contents");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(SaveImageAsPng(1, path), 1);
    EXPECT_EQ(Decode(path).size(), size_t(H));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(Entries(folder), Names{"existing.png"});

    const mode_t old = umask(027); // a new file gets the usual mode under the umask
    ASSERT_EQ(SaveImageAsPng(1, folder + "/new.png"), 1);
    umask(old);
    ASSERT_EQ(stat((folder + "/new.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    ASSERT_EQ(symlink("existing.png", link.c_str()), 0);
    WriteAll(path, "old again");
    ASSERT_EQ(SaveImageAsPng(1, link), 1);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadAll(path), ReadAll(folder + "/new.png"));
}

// A real write failure: the file size limit stops the write partway (EFBIG). The file that was
// there before must be left byte for byte, with no temporary file beside it.
TEST_F(PngWriter, FailedWriteLeavesTheExistingFileIntact) {
    MakePatternImage(); // varied pixels compress to far more than the limit
    const std::string path = folder + "/keep.png", before = "the picture saved last time";
    WriteAll(path, before);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 300;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = SaveImageAsPng(1, path);
    const std::string reason = LastImageWriteError();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_EQ(result, 0);
    EXPECT_NE(reason.find(std::strerror(EFBIG)), std::string::npos) << reason;
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(Entries(folder), Names{"keep.png"});
    ASSERT_EQ(SaveImageAsPng(1, path), 1); // the same save works once the limit is gone
    EXPECT_EQ(LastImageWriteError(), "");
    EXPECT_EQ(Entries(folder), Names{"keep.png"});
}

} // namespace
} // namespace tk
