// The PNG writer: files decoded with libpng and taken apart chunk by chunk, and the replacement
// of an existing file that must survive any failure.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "toolkit/drawing.h"
#include "toolkit/png_writer.h"

namespace tk {
namespace {

constexpr int32_t W = 641, H = 481;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t BigEndian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};

std::vector<Chunk> Chunks(const std::vector<uint8_t>& file) {
    static const uint8_t signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    std::vector<Chunk> chunks;
    if (file.size() < 8 || !std::equal(signature, signature + 8, file.begin())) return chunks;
    size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = BigEndian(&file[at]);
        if (at + 12 + length > file.size()) break;
        Chunk chunk{std::string(file.begin() + at + 4, file.begin() + at + 8),
                    std::vector<uint8_t>(file.begin() + at + 8, file.begin() + at + 8 + length)};
        chunks.push_back(chunk);
        at += 12 + length;
    }
    return chunks;
}

// Decodes with libpng's read API into rows of red, green, blue bytes, top row first.
bool Decode(const std::string& path, std::vector<std::vector<uint8_t>>& rows, png_uint_32& width,
            png_uint_32& height) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    bool ok = false;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
        width = png_get_image_width(png, info);
        height = png_get_image_height(png, info);
        png_bytepp data = png_get_rows(png, info);
        const size_t bytes = png_get_rowbytes(png, info);
        rows.assign(height, {});
        for (png_uint_32 y = 0; y < height; ++y) rows[y].assign(data[y], data[y] + bytes);
        ok = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return ok;
}

class PngWriter : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/png_writer_tests.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        ResetImageWriters();
        RegisterPngReader();
        RegisterPngWriter();
    }
    void TearDown() override {
        ReleaseAllImages();
        ResetImageWriters();
        std::system(("rm -rf '" + folder + "'").c_str());
    }

    // Image 1 at canvas size, every pixel a different colour (x, y) -> red x, green y, blue x^y.
    static void MakePatternImage() {
        ASSERT_NE(NewImage(1, W, H, 24), 0);
        ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) FillBox(x, y, 1, 1, Expected(x, y));
        EndDrawing();
    }
    static Colour Expected(int x, int y) { return MakeColour(x & 255, y & 255, (x ^ y) & 255); }

    std::string folder;
};

TEST_F(PngWriter, DecodesToExactlyTheImagePixels) {
    MakePatternImage();
    const std::string path = folder + "/canvas.png";
    ASSERT_EQ(SaveImageAsPng(1, path), 1);
    EXPECT_EQ(LastImageWriteError(), "");

    std::vector<std::vector<uint8_t>> rows;
    png_uint_32 width = 0, height = 0;
    ASSERT_TRUE(Decode(path, rows, width, height));
    ASSERT_EQ(width, 641u);
    ASSERT_EQ(height, 481u);
    for (int y = 0; y < H; ++y) {
        ASSERT_EQ(rows[y].size(), 3u * W);
        for (int x = 0; x < W; ++x) {
            const Colour c = Expected(x, y);
            ASSERT_EQ(rows[y][3 * x], c & 255) << x << "," << y;
            ASSERT_EQ(rows[y][3 * x + 1], (c >> 8) & 255) << x << "," << y;
            ASSERT_EQ(rows[y][3 * x + 2], (c >> 16) & 255) << x << "," << y;
        }
    }
}

TEST_F(PngWriter, FileStructureHeaderChunksAndUnfilteredRows) {
    ASSERT_NE(NewImage(1, W, H, 24), 0);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    FillBox(0, 0, W, 1, MakeColour(127, 0, 255)); // top row only
    EndDrawing();
    const std::string path = folder + "/plain";
    ASSERT_EQ(WriteImageFile(1, path, PngTag), 1);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"plain"}); // no extension added

    const std::vector<Chunk> chunks = Chunks(ReadAll(path));
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.back().type, "IEND");
    std::vector<uint8_t> compressed;
    for (size_t i = 1; i + 1 < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].type, "IDAT");
        compressed.insert(compressed.end(), chunks[i].data.begin(), chunks[i].data.end());
    }
    const std::vector<uint8_t>& ihdr = chunks.front().data;
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(BigEndian(&ihdr[0]), 641u);
    EXPECT_EQ(BigEndian(&ihdr[4]), 481u);
    EXPECT_EQ(ihdr[8], 8);  // bit depth
    EXPECT_EQ(ihdr[9], 2);  // colour type RGB
    EXPECT_EQ(ihdr[10], 0); // compression
    EXPECT_EQ(ihdr[11], 0); // filter method
    EXPECT_EQ(ihdr[12], 0); // not interlaced

    const size_t rowBytes = 1 + 3 * W;
    std::vector<uint8_t> raw(rowBytes * H + 1);
    uLongf size = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &size, compressed.data(), compressed.size()), Z_OK);
    ASSERT_EQ(size, rowBytes * H);
    for (int y = 0; y < H; ++y) ASSERT_EQ(raw[y * rowBytes], 0) << "filter byte of row " << y;
    // The top row, last in memory, is the first in the file, and 0xFF007F is stored red first.
    for (int x = 0; x < W; ++x) {
        ASSERT_EQ(raw[1 + 3 * x], 127);
        ASSERT_EQ(raw[2 + 3 * x], 0);
        ASSERT_EQ(raw[3 + 3 * x], 255);
        ASSERT_EQ(raw[rowBytes + 1 + 3 * x], 0); // the second row is still black
    }
}

TEST_F(PngWriter, WriterTableAndRefusalsBeforeAnyFileIsTouched) {
    EXPECT_EQ(ImageWriterCount(), 1);
    RegisterPngWriter();
    EXPECT_EQ(ImageWriterCount(), 1);

    ASSERT_NE(NewImage(1, 8, 8, 24), 0);
    const std::string path = folder + "/out.png";
    EXPECT_EQ(WriteImageFile(1, path, 0x464947), 0); // "GIF": nobody writes it
    EXPECT_EQ(WriteImageFile(2, path, PngTag), 0);   // no such image
    EXPECT_EQ(WriteImageFile(1, "", PngTag), 0);
    EXPECT_NE(LastImageWriteError(), "");
    ResetImageWriters();
    EXPECT_EQ(ImageWriterCount(), 0);
    EXPECT_EQ(SaveImageAsPng(1, path), 0);
    EXPECT_TRUE(FolderEntries(folder).empty());

    RegisterPngWriter();
    EXPECT_EQ(SaveImageAsPng(1, path), 1);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"out.png"});
}

TEST_F(PngWriter, ThirtyTwoBitImagesKeepTheirAlpha) {
    ASSERT_NE(NewImage(1, 3, 2, 32), 0);
    PixelBuffer& p = const_cast<Picture*>(ImagePicture(1))->pixels();
    for (int i = 0; i < p.stride * p.height; ++i) p.bits[i] = static_cast<uint8_t>(i);
    const std::string path = folder + "/alpha.png";
    ASSERT_EQ(SaveImageAsPng(1, path), 1);
    std::vector<std::vector<uint8_t>> rows;
    png_uint_32 width = 0, height = 0;
    ASSERT_TRUE(Decode(path, rows, width, height));
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[0].size(), 12u);
    // Top row = second row in memory, bytes 12..23 as blue, green, red, alpha.
    EXPECT_EQ(rows[0][0], 14);
    EXPECT_EQ(rows[0][1], 13);
    EXPECT_EQ(rows[0][2], 12);
    EXPECT_EQ(rows[0][3], 15);
    EXPECT_EQ(rows[1][3], 3);
}

TEST_F(PngWriter, ReplacesAnExistingFileKeepingItsPermissions) {
    MakePatternImage();
    const std::string path = folder + "/existing.png";
    WriteAll(path, "old contents");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(SaveImageAsPng(1, path), 1);
    std::vector<std::vector<uint8_t>> rows;
    png_uint_32 width = 0, height = 0;
    ASSERT_TRUE(Decode(path, rows, width, height));
    EXPECT_EQ(width, 641u);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"existing.png"});

    // A new file gets the usual mode under the umask.
    const mode_t old = umask(027);
    ASSERT_EQ(SaveImageAsPng(1, folder + "/new.png"), 1);
    umask(old);
    ASSERT_EQ(stat((folder + "/new.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // A link is followed: the file it names is replaced, the link stays a link.
    ASSERT_EQ(symlink("existing.png", (folder + "/link.png").c_str()), 0);
    WriteAll(path, "old again");
    ASSERT_EQ(SaveImageAsPng(1, folder + "/link.png"), 1);
    ASSERT_EQ(lstat((folder + "/link.png").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadAll(path), ReadAll(folder + "/new.png"));
}

TEST_F(PngWriter, UnwritableTargetsCreateNothing) {
    ASSERT_NE(NewImage(1, 8, 8, 24), 0);
    EXPECT_EQ(SaveImageAsPng(1, folder + "/missing/out.png"), 0);
    EXPECT_NE(LastImageWriteError(), "");
    EXPECT_TRUE(FolderEntries(folder).empty());

    const std::string directory = folder + "/taken.png";
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    WriteAll(directory + "/inside", "keep");
    EXPECT_EQ(SaveImageAsPng(1, directory), 0);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"taken.png"});
    EXPECT_EQ(FolderEntries(directory), std::vector<std::string>{"inside"});

    EXPECT_EQ(WritePng(folder + "/x.png", nullptr, 8, 8, 24, PngColourRgb), 0);
    uint8_t pixels[8 * 24] = {};
    EXPECT_EQ(WritePng(folder + "/x.png", pixels, 8, 8, 23, PngColourRgb), 0); // stride too small
    EXPECT_EQ(WritePng(folder + "/x.png", pixels, 8, 8, 24, 3), 0);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"taken.png"});
}

// A real write failure: the file size limit stops the write partway (EFBIG). The file that was
// there before must be left byte for byte, with no temporary file beside it.
TEST_F(PngWriter, FailedWriteLeavesTheExistingFileIntact) {
    MakePatternImage(); // varied pixels compress to far more than the limit
    const std::string path = folder + "/keep.png";
    const std::string before = "the picture saved last time";
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
    const std::vector<uint8_t> after = ReadAll(path);
    EXPECT_EQ(std::string(after.begin(), after.end()), before);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"keep.png"});

    // The same save works once the limit is gone.
    ASSERT_EQ(SaveImageAsPng(1, path), 1);
    EXPECT_EQ(LastImageWriteError(), "");
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"keep.png"});
}

} // namespace
} // namespace tk
