// Pictures, surfaces, images and colours, checked against the picture memory itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "toolkit/drawing.h"

namespace tk {
namespace {

constexpr int CanvasControl = 7;
constexpr int32_t W = 641, H = 481;

// The canvas the hooks report: control 7 owns `canvas` while `canvasAlive` is set.
std::unique_ptr<Picture> canvas;
bool canvasAlive = true;
int showCalls = 0;
int shownControl = -1;

Picture* CanvasOf(int control) {
    return control == CanvasControl && canvasAlive ? canvas.get() : nullptr;
}
void Show(int control) {
    ++showCalls;
    shownControl = control;
}

// The pixel's colour straight from memory: rows bottom-up, bytes blue, green, red.
Colour At(const Picture& picture, int32_t x, int32_t y) {
    const PixelBuffer& p = picture.pixels();
    const uint8_t* px =
        p.bits + static_cast<ptrdiff_t>(p.height - 1 - y) * p.stride + x * (p.bitsPerPixel / 8);
    return px[0] << 16 | px[1] << 8 | px[2];
}

void Put(Picture& picture, int32_t x, int32_t y, Colour c) {
    PixelBuffer& p = picture.pixels();
    uint8_t* px =
        p.bits + static_cast<ptrdiff_t>(p.height - 1 - y) * p.stride + x * (p.bitsPerPixel / 8);
    px[0] = static_cast<uint8_t>(c >> 16);
    px[1] = static_cast<uint8_t>(c >> 8);
    px[2] = static_cast<uint8_t>(c);
}

// Every pixel whose colour differs from `background`, as (x, y) pairs in row order.
std::vector<std::pair<int, int>> Changed(const Picture& picture, Colour background) {
    std::vector<std::pair<int, int>> changed;
    for (int y = 0; y < picture.pixels().height; ++y)
        for (int x = 0; x < picture.pixels().width; ++x)
            if (At(picture, x, y) != background) changed.push_back({x, y});
    return changed;
}

std::vector<std::pair<int, int>> Box(int x0, int y0, int x1, int y1) { // inclusive corners
    std::vector<std::pair<int, int>> box;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) box.push_back({x, y});
    return box;
}

class Drawing : public ::testing::Test {
  protected:
    void SetUp() override {
        canvas = Picture::Create(W, H, 24);
        ASSERT_NE(canvas, nullptr);
        canvas->FillWhite();
        canvasAlive = true;
        showCalls = 0;
        shownControl = -1;
        SetCanvasHooks({CanvasOf, Show});
    }
    void TearDown() override {
        EndDrawing();
        ReleaseAllImages();
        SetCanvasHooks({});
        canvas.reset();
    }
    static void OpenCanvas() { ASSERT_NE(BeginDrawing(CanvasSurface(CanvasControl)), 0); }
    static const Colour Red;
};
const Colour Drawing::Red = 0x0000FF;

TEST(Colours, PlainSumWithoutMasking) {
    EXPECT_EQ(MakeColour(255, 255, 255), 0xFFFFFFu);
    EXPECT_EQ(MakeColour(0, 0, 255), 0xFF0000u);
    EXPECT_EQ(MakeColour(127, 0, 255), 0xFF007Fu);
    EXPECT_EQ(MakeColour(256, 0, 0), MakeColour(0, 1, 0));
    EXPECT_EQ(MakeColour(-1, 1, 0), 0xFFu);
    EXPECT_EQ(MakeColour(0, 0, 256), 0x1000000u);
}

TEST(Pictures, LayoutAndHandles) {
    EXPECT_EQ(StrideFor(641, 24), 1924);
    EXPECT_EQ(StrideFor(1, 24), 4);
    EXPECT_EQ(StrideFor(3, 24), 12);
    EXPECT_EQ(StrideFor(4, 24), 12);
    EXPECT_EQ(StrideFor(5, 32), 20);

    auto picture = Picture::Create(641, 481, 24);
    ASSERT_NE(picture, nullptr);
    const PixelBuffer& p = picture->pixels();
    EXPECT_EQ(p.stride, 1924);
    EXPECT_EQ(p.bitsPerPixel, 24);
    std::vector<uint8_t> zero(static_cast<size_t>(p.stride) * p.height, 0);
    EXPECT_EQ(std::memcmp(p.bits, zero.data(), zero.size()), 0);
    picture->FillWhite();
    EXPECT_EQ(At(*picture, 640, 480), 0xFFFFFFu);

    EXPECT_EQ(Picture::Create(0, 5, 24), nullptr);
    EXPECT_EQ(Picture::Create(5, -1, 24), nullptr);
    EXPECT_EQ(Picture::Create(5, 5, 16), nullptr);
    EXPECT_EQ(Picture::Create(INT32_MAX, 2, 32), nullptr); // stride does not fit 32 bits

    const PictureHandle handle = HandleOf(picture.get());
    EXPECT_EQ(PictureFromHandle(handle), picture.get());
    EXPECT_EQ(PictureFromHandle(0), nullptr);
    EXPECT_EQ(PictureFromHandle(handle + 8), nullptr);
    picture.reset();
    EXPECT_EQ(PictureFromHandle(handle), nullptr);
}

TEST_F(Drawing, NeverDrawnCanvasReadsWhiteAndFirstColourZeroIsBlack) {
    OpenCanvas();
    EXPECT_EQ(ReadPixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(ReadPixel(640, 480), 0xFFFFFFu);
    FillBox(3, 4, 1, 1, 0);
    EXPECT_EQ(Changed(*canvas, 0xFFFFFF), Box(3, 4, 3, 4));
    EXPECT_EQ(At(*canvas, 3, 4), 0u);
}

TEST_F(Drawing, FillBoxFlipsNegativeExtents) {
    OpenCanvas();
    FillBox(10, 10, -3, 2, Red);
    EXPECT_EQ(Changed(*canvas, 0xFFFFFF), Box(7, 10, 9, 11));
    FillBox(20, 20, 2, -2, Red); // rows 18 and 19
    auto changed = Changed(*canvas, 0xFFFFFF);
    auto expected = Box(7, 10, 9, 11);
    auto second = Box(20, 18, 21, 19);
    expected.insert(expected.end(), second.begin(), second.end());
    std::sort(expected.begin(), expected.end(),
              [](auto a, auto b) { return a.second != b.second ? a.second < b.second : a < b; });
    EXPECT_EQ(changed, expected);
}

TEST_F(Drawing, FillBoxClipsToTheTarget) {
    OpenCanvas();
    FillBox(640, 0, 8, 8, Red);
    EXPECT_EQ(Changed(*canvas, 0xFFFFFF), Box(640, 0, 640, 7));
    FillBox(640, 0, 8, 8, 0xFFFFFF);

    FillBox(641, 0, 8, 8, Red);
    FillBox(0, 481, 8, 8, Red);
    FillBox(5, 5, 0, 9, Red);
    FillBox(5, 5, 9, 0, Red);
    FillBox(INT32_MIN, 0, INT32_MAX, 1, Red); // ends at -1
    EXPECT_TRUE(Changed(*canvas, 0xFFFFFF).empty());

    FillBox(-2, -2, 4, 4, Red);
    EXPECT_EQ(Changed(*canvas, 0xFFFFFF), Box(0, 0, 1, 1));

    // Extremes must neither overflow nor escape the picture; the flip of INT32_MIN is 2^31.
    FillBox(INT32_MAX, 479, INT32_MIN, 1, 0x123456);
    EXPECT_EQ(Changed(*canvas, 0xFFFFFF).size(), 4u + W);
    FillBox(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0x123456); // ends at (-2, -2)
    FillBox(0, 0, INT32_MAX, INT32_MAX, 0x654321);
    EXPECT_TRUE(Changed(*canvas, 0x654321).empty());
}

TEST_F(Drawing, FullFillKeepsRowPaddingAndReadsBackAtCorners) {
    std::memset(canvas->pixels().bits, 0, static_cast<size_t>(canvas->pixels().stride) * H);
    OpenCanvas();
    const Colour selection = MakeColour(127, 0, 255);
    FillBox(0, 0, W, H, selection);
    EXPECT_EQ(ReadPixel(0, 0), 0xFF007Fu);
    EXPECT_EQ(ReadPixel(640, 480), 0xFF007Fu);
    EXPECT_TRUE(Changed(*canvas, selection).empty());
    const PixelBuffer& p = canvas->pixels();
    for (int row = 0; row < H; ++row) ASSERT_EQ(p.bits[row * p.stride + 3 * W], 0) << row;
    const uint8_t* first = p.bits + static_cast<ptrdiff_t>(H - 1) * p.stride; // top row
    EXPECT_EQ(first[0], 255);
    EXPECT_EQ(first[1], 0);
    EXPECT_EQ(first[2], 127);
}

TEST_F(Drawing, ReadPixelOutsideTheTargetIsZero) {
    OpenCanvas();
    EXPECT_EQ(ReadPixel(-1, 0), 0u);
    EXPECT_EQ(ReadPixel(0, -1), 0u);
    EXPECT_EQ(ReadPixel(641, 0), 0u);
    EXPECT_EQ(ReadPixel(0, 481), 0u);
    EXPECT_EQ(ReadPixel(INT32_MIN, INT32_MAX), 0u);
}

TEST_F(Drawing, AxisParallelLinesIncludeBothEndsAndClip) {
    OpenCanvas();
    DrawLine(641, 0, 641, 481, Red);
    DrawLine(0, 481, 641, 481, Red);
    DrawLine(-1, 0, -1, 10, Red);
    DrawLine(-5, -1, 10, -1, Red);
    EXPECT_TRUE(Changed(*canvas, 0xFFFFFF).empty());

    DrawLine(5, 5, 5, 5, Red);
    EXPECT_EQ(Changed(*canvas, 0xFFFFFF), Box(5, 5, 5, 5));
    DrawLine(5, 5, 5, 5, 0xFFFFFF);

    for (int x : {0, 320, 640}) {
        DrawLine(x, 0, x, 481, Red);
        EXPECT_EQ(Changed(*canvas, 0xFFFFFF), Box(x, 0, x, 480));
        DrawLine(x, 481, x, 0, 0xFFFFFF); // reversed ends cover the same pixels
        EXPECT_TRUE(Changed(*canvas, 0xFFFFFF).empty());
    }
    for (int y : {0, 240, 480}) {
        DrawLine(0, y, 641, y, Red);
        EXPECT_EQ(Changed(*canvas, 0xFFFFFF), Box(0, y, 640, y));
        DrawLine(INT32_MAX, y, INT32_MIN, y, 0xFFFFFF);
        EXPECT_TRUE(Changed(*canvas, 0xFFFFFF).empty());
    }
}

TEST_F(Drawing, SlantedLinesAreClippedAndKeepBothEnds) {
    OpenCanvas();
    DrawLine(0, 0, 4, 4, Red);
    EXPECT_EQ(Changed(*canvas, 0xFFFFFF),
              (std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    DrawLine(0, 0, 4, 4, 0xFFFFFF);

    DrawLine(3, 8, 1, 1, Red); // steep, drawn from the lower end
    auto steep = Changed(*canvas, 0xFFFFFF);
    ASSERT_EQ(steep.size(), 8u); // one pixel per row
    EXPECT_EQ(steep.front(), std::make_pair(1, 1));
    EXPECT_EQ(steep.back(), std::make_pair(3, 8));
    for (size_t i = 0; i < steep.size(); ++i) EXPECT_EQ(steep[i].second, static_cast<int>(i) + 1);
    DrawLine(3, 8, 1, 1, 0xFFFFFF);

    DrawLine(-10, -10, 650, 650, Red);
    auto diagonal = Changed(*canvas, 0xFFFFFF);
    ASSERT_EQ(diagonal.size(), 481u);
    for (int i = 0; i < 481; ++i) EXPECT_EQ(diagonal[i], std::make_pair(i, i));
    DrawLine(-10, -10, 650, 650, 0xFFFFFF);

    DrawLine(-100, 500, 700, 1000, Red); // misses the picture
    DrawLine(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX - 1, Red);
    for (auto [x, y] : Changed(*canvas, 0xFFFFFF)) EXPECT_NEAR(x, y, 1);
}

// Random boxes and axis-parallel lines against a literal per-pixel model of the same rules.
TEST_F(Drawing, RandomBoxesAndLinesMatchAPerPixelModel) {
    OpenCanvas();
    std::vector<Colour> model(static_cast<size_t>(W) * H, 0xFFFFFF);
    auto set = [&](int64_t x, int64_t y, Colour c) {
        if (x >= 0 && y >= 0 && x < W && y < H) model[y * W + x] = c;
    };
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> coordinate(-700, 1400), extent(-60, 60), pick(0, 2);
    for (int i = 0; i < 2000; ++i) {
        const Colour c = random() & 0xFFFFFF;
        const int x = coordinate(random), y = coordinate(random) / 2;
        switch (pick(random)) {
        case 0: {
            const int w = extent(random), h = extent(random);
            FillBox(x, y, w, h, c);
            for (int64_t yy = std::min(y, y + h); yy < std::max(y, y + h); ++yy)
                for (int64_t xx = std::min(x, x + w); xx < std::max(x, x + w); ++xx) set(xx, yy, c);
            break;
        }
        case 1: {
            const int x2 = coordinate(random);
            DrawLine(x, y, x2, y, c);
            for (int64_t xx = std::min(x, x2); xx <= std::max(x, x2); ++xx) set(xx, y, c);
            break;
        }
        default: {
            const int y2 = coordinate(random) / 2;
            DrawLine(x, y, x, y2, c);
            for (int64_t yy = std::min(y, y2); yy <= std::max(y, y2); ++yy) set(x, yy, c);
            break;
        }
        }
    }
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            ASSERT_EQ(At(*canvas, x, y), model[y * W + x]) << x << "," << y;
            ASSERT_EQ(ReadPixel(x, y), model[y * W + x]) << x << "," << y;
        }
}

TEST_F(Drawing, NewImageIsBlackAndValidatesItsSize) {
    const intptr_t handle = NewImage(1, W, H, 8);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(ImageDepth(1), 24);
    ASSERT_NE(ImagePicture(1), nullptr);
    EXPECT_EQ(HandleOf(ImagePicture(1)), handle);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) ASSERT_EQ(ReadPixel(x, y), 0u) << x << "," << y;
    EndDrawing();

    EXPECT_EQ(NewImage(2, 0, 10, 24), 0);
    EXPECT_EQ(NewImage(2, 10, 32768, 24), 0);
    EXPECT_EQ(NewImage(2, -5, 10, 24), 0);
    EXPECT_EQ(NewImage(-1, 10, 10, 24), 0);
    EXPECT_EQ(ImagePicture(2), nullptr);
    EXPECT_NE(NewImage(2, 32767, 1, 24), 0);
    EXPECT_EQ(ImagePicture(2)->pixels().width, 32767);

    // Re-creation releases the old picture first, also when the new one cannot be made.
    EXPECT_NE(NewImage(1, 5, 5, 32), 0);
    EXPECT_EQ(PictureFromHandle(handle), nullptr);
    EXPECT_EQ(ImageDepth(1), 32);
    EXPECT_EQ(NewImage(1, 0, 5, 24), 0);
    EXPECT_EQ(ImagePicture(1), nullptr);
    EXPECT_EQ(ImageDepth(1), 0);
    EXPECT_EQ(ImageSurface(1), nullptr);

    ReleaseImage(2);
    ReleaseImage(2); // nothing left: ignored
    EXPECT_EQ(ImagePicture(2), nullptr);
    NewImage(3, 4, 4, 24);
    NewImage(4, 4, 4, 24);
    ReleaseAllImages();
    EXPECT_EQ(ImagePicture(3), nullptr);
    EXPECT_EQ(ImagePicture(4), nullptr);
}

TEST_F(Drawing, DrawImageAtCopiesTheCanvasRowsInOrder) {
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) Put(*canvas, x, y, static_cast<Colour>(x * 7 + y * 4099));
    ASSERT_NE(NewImage(1, W, H, 24), 0);
    const Picture& image = *ImagePicture(1);

    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    DrawImageAt(HandleOf(canvas.get()), 0, 0);
    EndDrawing();
    // Same layout, so every row's pixel bytes match (the padding is not part of the copy).
    const int32_t stride = canvas->pixels().stride;
    ASSERT_EQ(image.pixels().stride, stride);
    for (int row = 0; row < H; ++row)
        ASSERT_EQ(std::memcmp(image.pixels().bits + row * stride,
                              canvas->pixels().bits + row * stride, 3 * W),
                  0)
            << row;

    // Partly outside: only the overlap moves, each source row to its own target row.
    ASSERT_NE(NewImage(1, W, H, 24), 0);
    const Picture& fresh = *ImagePicture(1);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    DrawImageAt(HandleOf(canvas.get()), -5, 470);
    EndDrawing();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const Colour expected = (y >= 470 && x < W - 5) ? At(*canvas, x + 5, y - 470) : 0;
            ASSERT_EQ(At(fresh, x, y), expected) << x << "," << y;
        }
}

TEST_F(Drawing, DrawImageAtIgnoresUnknownPicturesAndCopiesOntoItself) {
    auto small = Picture::Create(3, 2, 24);
    const PictureHandle stale = HandleOf(small.get());
    small.reset();
    OpenCanvas();
    DrawImageAt(stale, 0, 0);
    DrawImageAt(0, 0, 0);
    DrawImageAt(HandleOf(canvas.get()) + 1, 0, 0);
    DrawImageAt(HandleOf(canvas.get()), W, 0);
    DrawImageAt(HandleOf(canvas.get()), 0, -H);
    EXPECT_TRUE(Changed(*canvas, 0xFFFFFF).empty());

    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) Put(*canvas, x, y, static_cast<Colour>(x + y * 1000));
    DrawImageAt(HandleOf(canvas.get()), 2, 3);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const Colour expected = (x >= 2 && y >= 3) ? (x - 2) + (y - 3) * 1000 : x + y * 1000;
            ASSERT_EQ(At(*canvas, x, y), expected) << x << "," << y;
        }
}

TEST_F(Drawing, FourByteTargetsKeepTheirFourthByte) {
    ASSERT_NE(NewImage(1, 4, 3, 32), 0);
    PixelBuffer& p = const_cast<Picture*>(ImagePicture(1))->pixels();
    ASSERT_EQ(p.stride, 16);
    std::memset(p.bits, 0xAA, 16 * 3);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    FillBox(0, 0, 4, 3, 0x7F123456);
    EXPECT_EQ(ReadPixel(3, 2), 0x123456u);
    auto source = Picture::Create(2, 1, 24);
    Put(*source, 0, 0, 0x010203);
    Put(*source, 1, 0, 0x040506);
    DrawImageAt(HandleOf(source.get()), 1, 1);
    EXPECT_EQ(ReadPixel(1, 1), 0x010203u);
    EXPECT_EQ(ReadPixel(2, 1), 0x040506u);
    EXPECT_EQ(ReadPixel(0, 1), 0x123456u);
    for (int i = 3; i < 48; i += 4) EXPECT_EQ(p.bits[i], 0xAA) << i;
}

TEST_F(Drawing, NothingHappensWithoutAnOpenDrawing) {
    auto untouched = [&] { return Changed(*canvas, 0xFFFFFF).empty(); };
    FillBox(0, 0, W, H, Red);
    DrawLine(0, 0, 640, 0, Red);
    DrawImageAt(HandleOf(canvas.get()), 0, 0);
    EXPECT_EQ(ReadPixel(0, 0), 0u);
    EXPECT_EQ(CurrentDrawingPixels(), nullptr);
    EndDrawing();
    EXPECT_EQ(showCalls, 0);
    EXPECT_EQ(BeginDrawing(nullptr), 0);
    EXPECT_TRUE(untouched());

    // A surface that was obtained but never begun draws nothing.
    ASSERT_NE(CanvasSurface(CanvasControl), nullptr);
    FillBox(0, 0, W, H, Red);
    EXPECT_TRUE(untouched());
    // A failed BeginDrawing leaves nothing current.
    EXPECT_EQ(BeginDrawing(nullptr), 0);
    FillBox(0, 0, W, H, Red);
    EndDrawing();
    EXPECT_EQ(showCalls, 0);
    EXPECT_TRUE(untouched());

    // After EndDrawing the next drawing calls do nothing.
    OpenCanvas();
    EXPECT_NE(CurrentDrawingPixels(), nullptr);
    EndDrawing();
    FillBox(0, 0, W, H, Red);
    EXPECT_TRUE(untouched());

    // No canvas under the number, or no hooks installed.
    EXPECT_EQ(CanvasSurface(CanvasControl + 1), nullptr);
    EXPECT_EQ(ImageSurface(99), nullptr);
    SetCanvasHooks({});
    EXPECT_EQ(CanvasSurface(CanvasControl), nullptr);
}

TEST_F(Drawing, EndDrawingShowsACanvasOnceWhileItsControlExists) {
    OpenCanvas();
    PixelBuffer* pixels = CurrentDrawingPixels();
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->bits, canvas->pixels().bits);
    EXPECT_EQ(pixels->stride, 1924);
    EndDrawing();
    EXPECT_EQ(showCalls, 1);
    EXPECT_EQ(shownControl, CanvasControl);
    EndDrawing();
    EXPECT_EQ(showCalls, 1);

    ASSERT_NE(NewImage(1, 8, 8, 24), 0);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    EndDrawing();
    EXPECT_EQ(showCalls, 1);

    OpenCanvas();
    canvasAlive = false; // the control went away during the drawing
    EndDrawing();
    EXPECT_EQ(showCalls, 1);
    canvasAlive = true;

    // A new surface ends the earlier drawing without showing it.
    OpenCanvas();
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    EXPECT_EQ(showCalls, 1);
    FillBox(0, 0, W, H, Red); // lands on the image only
    EXPECT_TRUE(Changed(*canvas, 0xFFFFFF).empty());
    EndDrawing();
    EXPECT_EQ(showCalls, 1);
    SetCanvasHooks({CanvasOf, nullptr});
    OpenCanvas();
    EndDrawing(); // no show hook: nothing to call
    EXPECT_EQ(showCalls, 1);
}

TEST_F(Drawing, ReleasingTheTargetEndsTheDrawing) {
    ASSERT_NE(NewImage(1, 16, 16, 24), 0);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    ReleaseImage(1);
    EXPECT_EQ(CurrentDrawingPixels(), nullptr);
    FillBox(0, 0, 16, 16, Red); // would write into freed memory
    EXPECT_EQ(ReadPixel(0, 0), 0u);

    OpenCanvas();
    canvas.reset();
    FillBox(0, 0, W, H, Red);
    EndDrawing();
    EXPECT_EQ(showCalls, 0);
}

} // namespace
} // namespace tk
