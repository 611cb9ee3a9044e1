// The PNG writer over random pictures: every file it writes must decode, through libpng's own
// reader, to exactly the picture's pixels with the header it was asked for, and leave nothing but
// the target behind in its folder.
#include <fuzzer/FuzzedDataProvider.h>

#include <png.h>

#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "tests/support/test_files.h"
#include "toolkit/drawing.h"
#include "toolkit/png_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const pmtest::TempDir folder;
    FuzzedDataProvider in(data, size);
    const int32_t width = in.ConsumeIntegralInRange(1, 300),
                  height = in.ConsumeIntegralInRange(1, 300);
    const int channels = in.ConsumeIntegralInRange(0, 3) == 0 ? 4 : 3, alpha = channels == 4;
    // The pictures' own stride, sometimes with extra padding at row ends; the input's bytes.
    const int32_t stride = tk::StrideFor(width, channels * 8) + in.ConsumeIntegralInRange(0, 1) * 7;
    std::vector<uint8_t> pixels = in.ConsumeBytes<uint8_t>(size_t(stride) * height);
    pixels.resize(size_t(stride) * height, 0x5A);

    const std::string path = folder / "picture.png";
    CHECK(tk::WritePng(path, pixels.data(), width, height, stride,
                       alpha ? tk::PngColourRgbAlpha : tk::PngColourRgb) == 1);
    CHECK(pmtest::Entries(folder.path()) == std::vector<std::string>{"picture.png"});
    const pmtest::DecodedPng png = pmtest::DecodePng(path);
    CHECK(png.width == uint32_t(width) && png.rows.size() == size_t(height));
    CHECK(png.bitDepth == 8 && png.interlace == PNG_INTERLACE_NONE);
    CHECK(png.colourType == (alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB));
    // Memory is bottom-up and blue, green, red (alpha); the file is top-down red, green, blue.
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width * channels; x += channels) {
            const uint8_t* m = &pixels[size_t(height - 1 - y) * stride + x];
            const uint8_t* f = &png.rows[y][x];
            CHECK(f[0] == m[2] && f[1] == m[1] && f[2] == m[0] && (!alpha || f[3] == m[3]));
        }
    return 0;
}
