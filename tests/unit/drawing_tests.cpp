// Pictures, surfaces, images and colours, checked against the picture memory itself.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "tests/support/running_toolkit.h"
#include "toolkit/drawing.h"

using namespace tk;

constexpr int32_t W = 641, H = 481;
constexpr Colour White = 0xFFFFFF;

// The pixel's bytes straight from memory: rows bottom-up, bytes blue, green, red.
uint8_t* PixelAt(const Picture& picture, int64_t x, int64_t y) {
    const PixelBuffer& p = picture.pixels();
    return p.bits + (p.height - 1 - y) * p.stride + x * (p.bitsPerPixel / 8);
}
Colour At(const Picture& picture, int64_t x, int64_t y) {
    const uint8_t* px = PixelAt(picture, x, y);
    return px[0] << 16 | px[1] << 8 | px[2];
}
void Put(Picture& picture, int64_t x, int64_t y, Colour c) {
    uint8_t* px = PixelAt(picture, x, y);
    px[0] = uint8_t(c >> 16), px[1] = uint8_t(c >> 8), px[2] = uint8_t(c);
}

// Canvas 7 is `canvas`; every show of it is counted.
std::unique_ptr<Picture> canvas;
int g_shows = 0;

struct Drawing : ::testing::Test {
    pmtest::RunningToolkit toolkit; // first: it goes after the pictures below
    void SetUp() override {
        ASSERT_TRUE(toolkit.ok);
        canvas = Picture::Create(W, H, 24);
        canvas->FillWhite();
        g_shows = 0;
        SetCanvasHooks({[](int control) { return control == 7 ? canvas.get() : nullptr; },
                        [](int control) { g_shows += control == 7; }});
    }
    void TearDown() override { EndDrawing(), canvas.reset(); }
    static void OpenCanvas() { ASSERT_NE(BeginDrawing(CanvasSurface(7)), 0); }
};

// Random and extreme boxes and lines against a literal per-pixel model of the same rules.
TEST_F(Drawing, BoxesAndLinesMatchAPerPixelModel) {
    OpenCanvas();
    std::vector<Colour> model(size_t(W) * H, White);
    auto fill = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1, Colour c) { // inclusive
        for (int64_t y = std::max<int64_t>(y0, 0); y <= std::min<int64_t>(y1, H - 1); ++y)
            for (int64_t x = std::max<int64_t>(x0, 0); x <= std::min<int64_t>(x1, W - 1); ++x)
                model[y * W + x] = c;
    };
    auto box = [&](int64_t x, int64_t y, int64_t w, int64_t h, Colour c) {
        FillBox(int32_t(x), int32_t(y), int32_t(w), int32_t(h), c);
        fill(std::min(x, x + w), std::min(y, y + h), std::max(x, x + w) - 1, std::max(y, y + h) - 1,
             c);
    };
    box(INT32_MIN, 0, INT32_MAX, 1, 1);   // ends at -1
    box(INT32_MAX, 479, INT32_MIN, 1, 2); // the flip of INT32_MIN is 2^31
    box(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 3);
    box(-2, -2, 4, 4, 0);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> coordinate(-700, 1400), extent(-60, 60), pick(0, 2);
    for (int i = 0; i < 2000; ++i) {
        const Colour c = random() & 0xFFFFFF;
        const int x = coordinate(random), y = coordinate(random) / 2, kind = pick(random);
        const int x2 = kind == 1 ? coordinate(random) : x,
                  y2 = kind == 2 ? coordinate(random) / 2 : y;
        if (kind == 0) box(x, y, extent(random), extent(random), c);
        if (kind != 0) DrawLine(x, y, x2, y2, c);
        if (kind != 0) fill(std::min(x, x2), std::min(y, y2), std::max(x, x2), std::max(y, y2), c);
    }
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            ASSERT_EQ(At(*canvas, x, y), model[y * W + x]) << x << "," << y;
            ASSERT_EQ(ReadPixel(x, y), model[y * W + x]) << x << "," << y;
        }
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {W, 0}, {0, H}, {INT32_MIN, INT32_MAX}})
        EXPECT_EQ(ReadPixel(x, y), 0u) << "outside";
}

TEST_F(Drawing, DrawImageAtCopiesTheOverlapAlsoOntoItselfAndKeepsAFourthByte) {
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) Put(*canvas, x, y, Colour(x + y * 1000));
    ASSERT_NE(NewImage(1, W, H, 32), 0);
    PixelBuffer& image = const_cast<Picture*>(ImagePicture(1))->pixels();
    std::fill(image.bits, image.bits + image.stride * H, 0xAA);
    for (auto [dx, dy, onto] : {std::tuple{-5, 470, 1}, {0, 0, 1}, {630, -3, 1}, {2, 3, 7}}) {
        ASSERT_NE(BeginDrawing(onto == 1 ? ImageSurface(1) : CanvasSurface(7)), 0);
        DrawImageAt(HandleOf(canvas.get()), dx, dy);
        EndDrawing();
        const Picture& target = onto == 1 ? *ImagePicture(1) : *canvas;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool inside = y >= dy && x >= dx && x - dx < W && y - dy < H;
                const Colour was = onto == 1 ? 0xAAAAAA : Colour(x + y * 1000);
                ASSERT_EQ(At(target, x, y), inside ? Colour(x - dx + (y - dy) * 1000) : was)
                    << dx << "," << dy << ": " << x << "," << y;
            }
        for (int i = 3; i < image.stride * H; i += 4) ASSERT_EQ(image.bits[i], 0xAA) << i;
        if (onto == 1) std::fill(image.bits, image.bits + image.stride * H, 0xAA);
    }
}

TEST_F(Drawing, ImagesAreBlackOfAValidSizeAndReplacedOrReleasedWhole) {
    const intptr_t handle = NewImage(1, W, H, 8); // any depth but 32 is 24
    ASSERT_NE(handle, 0);
    EXPECT_EQ(ImageDepth(1), 24);
    EXPECT_EQ(At(*ImagePicture(1), W - 1, H - 1) | At(*ImagePicture(1), 0, 0), 0u);
    for (auto [w, h] : {std::pair{0, 10}, {10, 32768}, {-5, 10}, {INT32_MAX, 1}})
        EXPECT_EQ(NewImage(2, w, h, 24), 0) << w << "x" << h;
    EXPECT_NE(NewImage(2, 32767, 1, 24) * NewImage(1, 5, 5, 32), 0);
    EXPECT_EQ(PictureFromHandle(handle), nullptr) << "the old picture went, and its handle";
    EXPECT_EQ(ImageDepth(1), 32);
    EXPECT_EQ(NewImage(1, 0, 5, 24), 0);
    EXPECT_EQ(ImageDepth(1), 0) << "the old one goes also when no new one could be made";
    EXPECT_EQ(ImageSurface(1), nullptr);
    ReleaseImage(2), ReleaseImage(2), NewImage(3, 4, 4, 24), ReleaseAllImages();
    EXPECT_EQ(ImagePicture(2) || ImagePicture(3), false);
}

TEST_F(Drawing, OnlyAnOpenDrawingOfALivePictureIsDrawnAndAnEndedCanvasIsShownOnce) {
    auto gone = Picture::Create(3, 2, 24);
    const PictureHandle stale = HandleOf(gone.get());
    gone.reset();
    auto drawEverything = [&] { FillBox(0, 0, W, H, 0xFF), DrawImageAt(stale, 0, 0); };
    ASSERT_NE(CanvasSurface(7), nullptr); // obtained but never begun
    drawEverything();
    OpenCanvas();
    DrawImageAt(stale, 0, 0); // names no picture any more
    EndDrawing(), EndDrawing(), drawEverything();
    OpenCanvas();
    ASSERT_NE(NewImage(1, 16, 16, 24), 0);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0); // ends the canvas's drawing, not shown
    ReleaseImage(1);                             // ends the image's
    EXPECT_EQ(CurrentDrawingPixels(), nullptr);
    drawEverything();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) ASSERT_EQ(At(*canvas, x, y), White) << x << "," << y;
    EXPECT_EQ(g_shows, 1);
}
