// The PNG writer: what it writes decodes to the image's pixels, and what it refuses creates
// nothing. Failures partway through a write are in posix_files_tests.cpp.
#include <gtest/gtest.h>

#include "tests/support/running_toolkit.h"
#include "tests/support/test_files.h"
#include "toolkit/drawing.h"
#include "toolkit/png_writer.h"

using namespace tk;

using Names = std::vector<std::string>;

TEST(PngWriter, TheFileDecodesToThePixelsTopRowFirstWithNothingMore) {
    pmtest::RunningToolkit toolkit;
    pmtest::TempDir dir;
    RegisterPngWriter();
    ASSERT_NE(NewImage(1, 641, 481, 24), 0);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    std::vector<std::vector<uint8_t>> rows(481); // red, green, blue; top row first
    for (int y = 0; y < 481; ++y)
        for (int x = 0; x < 641; ++x) {
            FillBox(x, y, 1, 1, MakeColour(x & 255, y & 255, (x ^ y) & 255));
            rows[y].insert(rows[y].end(), {uint8_t(x), uint8_t(y), uint8_t(x ^ y)});
        }
    EndDrawing();
    ASSERT_EQ(WriteImageFile(1, dir / "plain", PngTag), 1);
    EXPECT_EQ(LastImageWriteError(), "");
    const pmtest::DecodedPng png = pmtest::DecodePng(dir / "plain"); // no extension added
    EXPECT_EQ(std::tuple(png.width, png.height, png.bitDepth, png.colourType, png.interlace),
              std::tuple(641u, 481u, 8, 2, 0));
    EXPECT_TRUE(png.rows == rows) << "the pixels differ";
    // Every row unfiltered, so that the bytes do not depend on the library's filter heuristics.
    EXPECT_EQ(png.filters, std::vector<uint8_t>(481, 0));
    // Only the header, the data and the end: no colour, gamma, time or text chunks.
    const std::string file = pmtest::ReadFile(dir / "plain");
    for (const char* chunk : {"gAMA", "sRGB", "cHRM", "iCCP", "pHYs", "bKGD", "tIME", "tEXt"})
        EXPECT_EQ(file.find(chunk), std::string::npos) << chunk;

    ASSERT_NE(NewImage(2, 3, 2, 32), 0); // 32 bits: alpha too
    PixelBuffer& p = const_cast<Picture*>(ImagePicture(2))->pixels();
    for (int i = 0; i < p.stride * p.height; ++i) p.bits[i] = uint8_t(i);
    ASSERT_EQ(SaveImageAsPng(2, dir / "alpha.png"), 1);
    EXPECT_EQ(pmtest::DecodePng(dir / "alpha.png").rows,
              (std::vector<std::vector<uint8_t>>{{14, 13, 12, 15, 18, 17, 16, 19, 22, 21, 20, 23},
                                                 {2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11}}));
}

TEST(PngWriter, RefusalsCreateNothing) {
    pmtest::RunningToolkit toolkit;
    pmtest::TempDir dir;
    ASSERT_NE(NewImage(1, 8, 8, 24), 0);
    EXPECT_EQ(ImageWriterCount() + SaveImageAsPng(1, dir / "out.png"), 0) << "no writer yet";
    RegisterPngWriter(), RegisterPngWriter();
    EXPECT_EQ(ImageWriterCount(), 1);
    uint8_t pixels[8 * 24] = {};
    EXPECT_EQ(WriteImageFile(1, dir / "a", 0x464947) + WriteImageFile(2, dir / "a", PngTag) +
                  WritePng(dir / "a", pixels, 8, 8, 23, PngColourRgb) + // stride too small
                  WritePng(dir / "a", pixels, 8, 8, 24, 3) + SaveImageAsPng(1, dir / "no/a"),
              0);
    EXPECT_NE(LastImageWriteError(), "");
    EXPECT_TRUE(pmtest::Entries(dir.path()).empty());
}
