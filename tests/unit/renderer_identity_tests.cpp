// The fast repaint against the literal one-box-per-bit repaint over thousands of random views:
// the whole picture byte for byte (padding included), the status text, the title, DispField and
// the cached sprite width must all be equal. The seed is printed; PIXMOLE_SEED replays a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/literal_renderer.h"
#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

class Identity : public ::testing::Test {
  protected:
    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }
    int32_t Any32(int64_t lo, int64_t hi) {
        return static_cast<int32_t>(std::uniform_int_distribution<int64_t>(lo, hi)(random));
    }
    bool Chance(int percent) { return Uniform(1, 100) <= percent; }

    // No file, a short one, one that ends inside a row of the first column or two, any size;
    // runs of 0x00 or 0xFF, so that inverted and plain bytes both show whole runs.
    std::vector<uint8_t> FileBytes(int32_t spriteWidth) {
        const int32_t sizes[] = {0, Uniform(1, 64),
                                 spriteWidth * Uniform(0, 600) +
                                     Uniform(1, std::max(1, spriteWidth - 1)),
                                 Chance(20) ? 0 : Uniform(1, 200000)};
        std::vector<uint8_t> bytes(static_cast<size_t>(sizes[Uniform(0, 3)]));
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(Uniform(0, 255));
        if (!bytes.empty() && Chance(30))
            std::memset(bytes.data(), Chance(50) ? 0x00 : 0xFF, bytes.size() / 2);
        return bytes;
    }

    // Sets a random view on the controls and in ViewerState; returns a description. Extremes are
    // start positions that wrap around 32 bits and selections far off the canvas.
    std::string RandomView(bool extremes) {
        const int32_t width = Chance(55) ? Uniform(1, 16) : Uniform(17, 256);
        tk::SetControlState(WidthScroller, width);
        const std::vector<uint8_t> bytes = FileBytes(width);
        session.LoadBytes(bytes);
        const int size = static_cast<int>(bytes.size());

        tk::SetControlAttribute(RowScroller, tk::Maximum, INT32_MAX);
        const int32_t row = extremes && Chance(30) ? Any32(0, INT32_MAX - 40)
                            : Chance(50)           ? Uniform(0, size / width + 20)
                                                   : 0;
        tk::SetControlState(RowScroller, row);
        const int32_t offset = extremes && Chance(50)
                                   ? (Chance(50) ? Any32(INT32_MAX - 40000, INT32_MAX)
                                                 : Any32(INT32_MIN, INT32_MIN + 40000))
                               : Chance(35) ? Uniform(-3000, 3000)
                               : Chance(40) ? Uniform(-size - 100, size)
                                            : 0;
        session.SetOffset(offset);

        state.zoom = std::vector<int32_t>{1, 2, 8}[Uniform(0, 2)];
        // Half the views in the rows layout, the others in any layout with any K.
        state.layout = {Chance(50) ? LayoutKind::Rows : LayoutKind(Uniform(0, 3)), Uniform(1, 4)};
        tk::SetControlState(MultiColumnsCheck, Chance(60));
        tk::SetControlState(InvertCheck, Chance(40));
        tk::SetControlState(AlignCheck, Chance(35));
        tk::SetControlState(GridCheck, Chance(35));
        tk::SetControlState(GridXSpin, Chance(20) ? Uniform(1, 2) : Uniform(1, 25));
        tk::SetControlState(GridYSpin, Chance(20) ? Uniform(1, 2) : Uniform(1, 25));
        std::string text = "zoom " + std::to_string(state.zoom) + " layout " +
                           LayoutName(state.layout) + " file " + std::to_string(size);
        for (int32_t* corner :
             {&state.selection.x1, &state.selection.y1, &state.selection.x2, &state.selection.y2}) {
            *corner = extremes && Chance(15) ? Any32(INT32_MIN, INT32_MAX) : Uniform(-120, 780);
            text += " " + std::to_string(*corner); // the selection's corners
        }
        for (int c = RowScroller; c <= AlignCheck; ++c) // controls, number:state
            text += " " + std::to_string(c) + ":" + std::to_string(tk::GetControlState(c));
        return text;
    }

    // The picture memory is scribbled over first, so a pixel one repaint forgets shows up. The
    // picture, and the status text, title, DispField and cached sprite width in one text.
    std::pair<std::vector<uint8_t>, std::string> Render(void (*redraw)(), uint8_t scribble) {
        const tk::PixelBuffer* canvas = session.Canvas();
        for (size_t i = 0; i < size_t(canvas->stride) * canvas->height; ++i)
            canvas->bits[i] = static_cast<uint8_t>(scribble + i * 7);
        state.spriteWidth = -12345;
        redraw();
        return {session.CanvasBytes(), session.StatusText() + "|" + session.Title() + "|" +
                                           session.DispText() + "|" +
                                           std::to_string(state.spriteWidth)};
    }

    void Compare(const std::string& view, uint8_t scribble) {
        const auto [fast, fastTexts] = Render(RedrawView, scribble);
        const auto [literal, literalTexts] = Render(pmtest::LiteralRedrawView, scribble);
        ASSERT_EQ(fastTexts, literalTexts) << view;
        const size_t i =
            std::mismatch(fast.begin(), fast.end(), literal.begin()).first - fast.begin();
        const size_t stride = session.Canvas()->stride, x = i % stride / 3,
                     y = CanvasHeight - 1 - i / stride;
        ASSERT_EQ(i, fast.size()) << view << "\nfirst difference at x " << x << " y " << y;
    }

    pmtest::ViewerSession session;
    std::mt19937 random;
};

// Views with rows, offsets and selections near the canvas, then near the 32-bit limits too.
TEST_F(Identity, FastRepaintEqualsTheLiteralOneOverRandomViews) {
    ASSERT_TRUE(session.ok());
    const char* text = std::getenv("PIXMOLE_SEED");
    const uint32_t seed = text ? uint32_t(std::strtoul(text, nullptr, 0)) : 20240611u;
    std::printf("renderer identity seed: %u (PIXMOLE_SEED replays it)\n", seed);
    random.seed(seed);
    Compare("fresh start, every control as created", 3);
    for (int n = 0; n < 2800; ++n) {
        const std::string view = RandomView(n >= 1400);
        ASSERT_NO_FATAL_FAILURE(Compare("view " + std::to_string(n) + ": " + view,
                                        static_cast<uint8_t>(Uniform(0, 255))));
    }
}

// Fixed points worked out by hand hold the literal repaint to the colours, to where bytes and
// bits land, and to the texts.
TEST_F(Identity, TheLiteralRepaintShowsFixedPoints) {
    ASSERT_TRUE(session.ok());
    session.LoadBytes({0x80, 0x01});
    state.selection = {20, 10, 40, 30};
    tk::SetControlState(GridCheck, 1);
    pmtest::LiteralRedrawView();
    // Bits of 0x80 and 0x01 white and black, blue past the end, the purple selection beside
    // the column, red grid lines and green ones at multiples of 64 (colours are 0x00BBGGRR).
    using Probe = std::tuple<int, int, tk::Colour>;
    for (const auto& [x, y, colour] :
         {Probe{0, 0, 0xFFFFFF}, Probe{1, 0, 0}, Probe{7, 1, 0xFFFFFF}, Probe{0, 2, 0xFF0000},
          Probe{20, 10, 0xFF007F}, Probe{41, 30, 0}, Probe{8, 0, 0xFF}, Probe{64, 479, 0xFF00}})
        EXPECT_EQ(session.CanvasPixel(x, y), colour) << x << "," << y;
    EXPECT_EQ(session.StatusText(), "x:20 y:10 w:2 h:20");
    EXPECT_EQ(session.Title(), ProgramTitle + std::string(", sprsize:1, grid:8x8 disp:0 zoom:1"));
}

} // namespace
