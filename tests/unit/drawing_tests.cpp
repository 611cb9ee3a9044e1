// Pictures, surfaces, images and colours, checked against the picture memory itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "tests/support/running_toolkit.h"
#include "toolkit/drawing.h"

namespace tk {
namespace {

constexpr int CanvasControl = 7;
constexpr int32_t W = 641, H = 481;
constexpr Colour Red = 0x0000FF, White = 0xFFFFFF;
using Pixels = std::vector<std::pair<int, int>>;

// The canvas the hooks report: control 7 owns `canvas` while `canvasAlive` is set.
std::unique_ptr<Picture> canvas;
bool canvasAlive = true;
int showCalls = 0, shownControl = -1;

Picture* CanvasOf(int control) {
    return control == CanvasControl && canvasAlive ? canvas.get() : nullptr;
}
void Show(int control) {
    ++showCalls, shownControl = control;
}

// The pixel's bytes straight from memory: rows bottom-up, bytes blue, green, red.
uint8_t* PixelAt(const Picture& picture, int32_t x, int32_t y) {
    const PixelBuffer& p = const_cast<Picture&>(picture).pixels();
    return p.bits + static_cast<ptrdiff_t>(p.height - 1 - y) * p.stride + x * (p.bitsPerPixel / 8);
}
Colour At(const Picture& picture, int32_t x, int32_t y) {
    const uint8_t* px = PixelAt(picture, x, y);
    return px[0] << 16 | px[1] << 8 | px[2];
}
void Put(Picture& picture, int32_t x, int32_t y, Colour c) {
    uint8_t* px = PixelAt(picture, x, y);
    px[0] = static_cast<uint8_t>(c >> 16), px[1] = static_cast<uint8_t>(c >> 8);
    px[2] = static_cast<uint8_t>(c);
}

// Every pixel whose colour differs from `background`, as (x, y) pairs in row order.
Pixels Changed(const Picture& picture, Colour background = White) {
    Pixels changed;
    for (int y = 0; y < picture.pixels().height; ++y)
        for (int x = 0; x < picture.pixels().width; ++x)
            if (At(picture, x, y) != background) changed.push_back({x, y});
    return changed;
}

Pixels Box(int x0, int y0, int x1, int y1) { // inclusive corners
    Pixels box;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) box.push_back({x, y});
    return box;
}

class Drawing : public ::testing::Test {
  protected:
    pmtest::RunningToolkit toolkit; // first: it goes after the pictures below
    void SetUp() override {
        ASSERT_TRUE(toolkit.ok);
        canvas = Picture::Create(W, H, 24);
        ASSERT_NE(canvas, nullptr);
        canvas->FillWhite();
        canvasAlive = true;
        showCalls = 0, shownControl = -1;
        SetCanvasHooks({CanvasOf, Show});
    }
    void TearDown() override {
        EndDrawing();
        canvas.reset();
    }
    static void OpenCanvas() { ASSERT_NE(BeginDrawing(CanvasSurface(CanvasControl)), 0); }
};

TEST(Pictures, ColoursLayoutAndHandles) {
    pmtest::RunningToolkit toolkit; // the table of live pictures
    const int64_t colours[][4] = {{255, 255, 255, 0xFFFFFF},
                                  {127, 0, 255, 0xFF007F},
                                  {256, 0, 0, 0x100},
                                  {-1, 1, 0, 0xFF},
                                  {0, 0, 256, 0x1000000}};
    for (auto c : colours) EXPECT_EQ(MakeColour(c[0], c[1], c[2]), c[3]) << c[0];
    const int strides[][3] = {{641, 24, 1924}, {1, 24, 4}, {3, 24, 12}, {4, 24, 12}, {5, 32, 20}};
    for (auto s : strides) EXPECT_EQ(StrideFor(s[0], s[1]), s[2]) << s[0];

    auto picture = Picture::Create(W, H, 24);
    ASSERT_NE(picture, nullptr);
    const PixelBuffer& p = picture->pixels();
    EXPECT_EQ(p.stride, 1924);
    EXPECT_EQ(std::count(p.bits, p.bits + p.stride * H, 0), p.stride * H);
    picture->FillWhite();
    EXPECT_EQ(At(*picture, 640, 480), White);
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

TEST_F(Drawing, FillBoxFlipsClipsAndSurvivesExtremes) {
    OpenCanvas();
    EXPECT_EQ(ReadPixel(640, 480), White);
    FillBox(10, 10, -3, 2, 0); // colour zero is black
    EXPECT_EQ(Changed(*canvas), Box(7, 10, 9, 11));
    EXPECT_EQ(At(*canvas, 7, 10), 0u);
    FillBox(10, 10, -3, 2, White);

    FillBox(640, 0, 8, 8, Red);
    EXPECT_EQ(Changed(*canvas), Box(640, 0, 640, 7));
    FillBox(640, 0, 8, 8, White);
    FillBox(641, 0, 8, 8, Red);
    FillBox(0, 481, 8, 8, Red);
    FillBox(INT32_MIN, 0, INT32_MAX, 1, Red); // ends at -1
    EXPECT_TRUE(Changed(*canvas).empty());
    FillBox(-2, -2, 4, 4, Red);
    EXPECT_EQ(Changed(*canvas), Box(0, 0, 1, 1));

    // Extremes must neither overflow nor escape the picture; the flip of INT32_MIN is 2^31.
    FillBox(INT32_MAX, 479, INT32_MIN, 1, 0x123456);
    EXPECT_EQ(Changed(*canvas).size(), 4u + W);
    FillBox(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0x123456); // ends at (-2, -2)
    FillBox(0, 0, INT32_MAX, INT32_MAX, 0x654321);
    EXPECT_TRUE(Changed(*canvas, 0x654321).empty());
}

TEST_F(Drawing, FullFillKeepsRowPaddingAndReadPixelClips) {
    std::memset(canvas->pixels().bits, 0, static_cast<size_t>(canvas->pixels().stride) * H);
    OpenCanvas();
    FillBox(0, 0, W, H, MakeColour(127, 0, 255));
    EXPECT_EQ(ReadPixel(0, 0), 0xFF007Fu);
    EXPECT_EQ(ReadPixel(640, 480), 0xFF007Fu);
    EXPECT_TRUE(Changed(*canvas, 0xFF007F).empty());
    const PixelBuffer& p = canvas->pixels();
    for (int row = 0; row < H; ++row) ASSERT_EQ(p.bits[row * p.stride + 3 * W], 0) << row;
    const int32_t outside[][2] = {{-1, 0}, {0, -1}, {641, 0}, {0, 481}, {INT32_MIN, INT32_MAX}};
    for (auto o : outside) EXPECT_EQ(ReadPixel(o[0], o[1]), 0u) << o[0] << "," << o[1];
}

TEST_F(Drawing, LinesKeepBothEndsAndClip) {
    OpenCanvas();
    DrawLine(641, 0, 641, 481, Red);
    DrawLine(0, 481, 641, 481, Red);
    DrawLine(-5, -1, 10, -1, Red);
    EXPECT_TRUE(Changed(*canvas).empty());
    DrawLine(5, 5, 5, 5, Red);
    EXPECT_EQ(Changed(*canvas), Box(5, 5, 5, 5));
    DrawLine(5, 5, 5, 5, White);

    DrawLine(3, 8, 1, 1, Red); // steep, drawn from the lower end: one pixel per row
    Pixels steep = Changed(*canvas);
    ASSERT_EQ(steep.size(), 8u);
    EXPECT_EQ(steep.front(), std::make_pair(1, 1));
    EXPECT_EQ(steep.back(), std::make_pair(3, 8));
    for (size_t i = 0; i < steep.size(); ++i) EXPECT_EQ(steep[i].second, static_cast<int>(i) + 1);
    DrawLine(3, 8, 1, 1, White);

    DrawLine(-10, -10, 650, 650, Red);
    Pixels diagonal = Changed(*canvas);
    ASSERT_EQ(diagonal.size(), 481u);
    for (int i = 0; i < 481; ++i) EXPECT_EQ(diagonal[i], std::make_pair(i, i));
    DrawLine(-10, -10, 650, 650, White);
    DrawLine(-100, 500, 700, 1000, Red); // misses the picture
    DrawLine(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX - 1, Red);
    for (auto [x, y] : Changed(*canvas)) EXPECT_NEAR(x, y, 1);
}

// Random boxes and axis-parallel lines against a literal per-pixel model of the same rules.
TEST_F(Drawing, RandomBoxesAndLinesMatchAPerPixelModel) {
    OpenCanvas();
    std::vector<Colour> model(static_cast<size_t>(W) * H, White);
    auto fill = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1, Colour c) { // half-open
        for (int64_t y = std::max<int64_t>(y0, 0); y < std::min<int64_t>(y1, H); ++y)
            for (int64_t x = std::max<int64_t>(x0, 0); x < std::min<int64_t>(x1, W); ++x)
                model[y * W + x] = c;
    };
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> coordinate(-700, 1400), extent(-60, 60), pick(0, 2);
    for (int i = 0; i < 2000; ++i) {
        const Colour c = random() & 0xFFFFFF;
        const int x = coordinate(random), y = coordinate(random) / 2, kind = pick(random);
        if (kind == 0) {
            const int w = extent(random), h = extent(random);
            FillBox(x, y, w, h, c);
            fill(std::min(x, x + w), std::min(y, y + h), std::max(x, x + w), std::max(y, y + h), c);
        } else if (kind == 1) {
            const int x2 = coordinate(random);
            DrawLine(x, y, x2, y, c);
            fill(std::min(x, x2), y, std::max(x, x2) + 1, y + 1, c);
        } else {
            const int y2 = coordinate(random) / 2;
            DrawLine(x, y, x, y2, c);
            fill(x, std::min(y, y2), x + 1, std::max(y, y2) + 1, c);
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
    EXPECT_TRUE(Changed(*ImagePicture(1), 0).empty());

    const int bad[][4] = {{2, 0, 10, 24}, {2, 10, 32768, 24}, {2, -5, 10, 24}, {-1, 10, 10, 24}};
    for (auto b : bad) EXPECT_EQ(NewImage(b[0], b[1], b[2], b[3]), 0) << b[1] << "x" << b[2];
    EXPECT_EQ(ImagePicture(2), nullptr);
    EXPECT_NE(NewImage(2, 32767, 1, 24), 0);

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
    ReleaseAllImages();
    EXPECT_EQ(ImagePicture(3), nullptr);
}

TEST_F(Drawing, DrawImageAtCopiesTheOverlapRowByRowAlsoOntoItself) {
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) Put(*canvas, x, y, static_cast<Colour>(x * 7 + y * 4099));
    for (int dx : {0, -5}) {
        const int dy = dx == 0 ? 0 : 470;
        ASSERT_NE(NewImage(1, W, H, 24), 0);
        ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
        DrawImageAt(HandleOf(canvas.get()), dx, dy);
        EndDrawing();
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool inside = y >= dy && x - dx < W;
                ASSERT_EQ(At(*ImagePicture(1), x, y), inside ? At(*canvas, x - dx, y - dy) : 0u)
                    << dx << ": " << x << "," << y;
            }
    }
    // Onto itself, overlapping: every pixel moves as it was before the copy.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) Put(*canvas, x, y, static_cast<Colour>(x + y * 1000));
    OpenCanvas();
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

TEST_F(Drawing, NothingHappensWithoutAnOpenDrawingOrAKnownPicture) {
    auto black = Picture::Create(W, H, 24), gone = Picture::Create(3, 2, 24);
    const PictureHandle stale = HandleOf(gone.get());
    gone.reset();
    auto drawEverything = [&] {
        FillBox(0, 0, W, H, Red);
        DrawLine(0, 0, 640, 0, Red);
        DrawImageAt(HandleOf(black.get()), 0, 0);
    };
    drawEverything();
    EXPECT_EQ(ReadPixel(0, 0), 0u);
    EXPECT_EQ(CurrentDrawingPixels(), nullptr);
    ASSERT_NE(CanvasSurface(CanvasControl), nullptr); // obtained but never begun
    drawEverything();
    EXPECT_EQ(BeginDrawing(nullptr), 0); // a failed begin leaves nothing current
    drawEverything();
    EndDrawing();
    OpenCanvas();
    EndDrawing();
    drawEverything(); // after the end
    EXPECT_EQ(showCalls, 1);
    OpenCanvas();
    for (PictureHandle unknown : {stale, PictureHandle{0}, HandleOf(black.get()) + 1})
        DrawImageAt(unknown, 0, 0);
    DrawImageAt(HandleOf(black.get()), W, 0);
    DrawImageAt(HandleOf(black.get()), 0, -H);
    EXPECT_TRUE(Changed(*canvas).empty());

    EXPECT_EQ(CanvasSurface(CanvasControl + 1), nullptr);
    EXPECT_EQ(ImageSurface(99), nullptr);
    SetCanvasHooks({});
    EXPECT_EQ(CanvasSurface(CanvasControl), nullptr);
}

TEST_F(Drawing, EndDrawingShowsALiveCanvasOnceAndReleasingTheTargetEndsIt) {
    OpenCanvas();
    PixelBuffer* pixels = CurrentDrawingPixels();
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->bits, canvas->pixels().bits);
    EndDrawing();
    EndDrawing();
    EXPECT_EQ(showCalls, 1);
    EXPECT_EQ(shownControl, CanvasControl);

    ASSERT_NE(NewImage(1, 8, 8, 24), 0);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    EndDrawing(); // images are not shown
    OpenCanvas();
    canvasAlive = false; // the control went away during the drawing
    EndDrawing();
    canvasAlive = true;
    // A new surface ends the earlier drawing without showing it.
    OpenCanvas();
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    FillBox(0, 0, W, H, Red); // lands on the image only
    EXPECT_TRUE(Changed(*canvas).empty());
    EndDrawing();
    SetCanvasHooks({CanvasOf, nullptr});
    OpenCanvas();
    EndDrawing(); // no show hook: nothing to call
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
    EXPECT_EQ(showCalls, 1);
}

} // namespace
} // namespace tk
