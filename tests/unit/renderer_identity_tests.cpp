// The fast repaint against the literal one-box-per-bit repaint over thousands of random views:
// the whole picture byte for byte (padding included), the status text, the title, DispField and
// the cached sprite width must all be equal.
//
// The seed is printed; set PIXMOLE_SEED to replay a run.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/literal_renderer.h"
#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

uint32_t Seed() {
    static const uint32_t seed = [] {
        const char* text = std::getenv("PIXMOLE_SEED");
        const uint32_t value =
            text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0)) : 20240611u;
        std::printf("renderer identity seed: %u (PIXMOLE_SEED replays it)\n", value);
        return value;
    }();
    return seed;
}

enum class FileKind { None, Short, EndsMidRow, Any };

// What a test varies; everything else is drawn at random.
struct Scenario {
    FileKind file = FileKind::Any;
    int states = 0;
    bool extremes = false; // offsets, rows and selections near the 32-bit limits
};

class Identity : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(session.ok()); }

    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }
    int64_t Uniform64(int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(random);
    }
    bool Chance(int percent) { return Uniform(1, 100) <= percent; }

    int32_t SpriteWidth() {
        if (Chance(55)) return Uniform(1, 16);
        if (Chance(65)) return Uniform(17, 96);
        return Uniform(97, 256);
    }

    int32_t Coordinate(bool extremes) {
        if (extremes && Chance(15)) return static_cast<int32_t>(Uniform64(INT32_MIN, INT32_MAX));
        return Uniform(-120, 780);
    }

    std::vector<uint8_t> FileBytes(FileKind kind, int32_t spriteWidth) {
        int32_t size = 0;
        switch (kind) {
        case FileKind::None:
            return {};
        case FileKind::Short:
            size = Uniform(1, 64);
            break;
        case FileKind::EndsMidRow:
            // Ends inside a row of the first column or two.
            size = spriteWidth * Uniform(0, 600) + Uniform(1, std::max(1, spriteWidth - 1));
            break;
        case FileKind::Any:
            size = Chance(20) ? 0 : Uniform(1, 200000);
            break;
        }
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(Uniform(0, 255));
        // Some runs of 0x00 and 0xFF, so that inverted and plain bytes both show whole runs.
        if (size > 0 && Chance(30))
            std::memset(bytes.data(), Chance(50) ? 0x00 : 0xFF, bytes.size() / 2);
        return bytes;
    }

    // Sets a random view on the controls and in ViewerState; returns a description.
    std::string RandomView(const Scenario& scenario) {
        const int32_t spriteWidth = SpriteWidth();
        tk::SetControlState(WidthScroller, spriteWidth);
        const std::vector<uint8_t> bytes = FileBytes(scenario.file, spriteWidth);
        session.LoadBytes(bytes);

        const int32_t fileRows = static_cast<int32_t>(bytes.size()) / spriteWidth;
        tk::SetControlAttribute(RowScroller, tk::Maximum, INT32_MAX);
        int32_t row = 0;
        if (scenario.extremes && Chance(30))
            row = static_cast<int32_t>(Uniform64(0, INT32_MAX - 40));
        else if (Chance(50))
            row = Uniform(0, fileRows + 20);
        tk::SetControlState(RowScroller, row);

        int32_t offset = 0;
        if (scenario.extremes && Chance(50))
            offset = Chance(50) ? static_cast<int32_t>(Uniform64(INT32_MAX - 40000, INT32_MAX))
                                : static_cast<int32_t>(Uniform64(INT32_MIN, INT32_MIN + 40000));
        else if (Chance(35))
            offset = Uniform(-3000, 3000);
        else if (Chance(40))
            offset = Uniform(-static_cast<int>(bytes.size()) - 100, static_cast<int>(bytes.size()));
        session.SetOffset(offset);

        static const int32_t zooms[] = {1, 2, 8};
        state.zoom = zooms[Uniform(0, 2)];
        tk::SetControlState(MultiColumnsCheck, Chance(60) ? 1 : 0);
        tk::SetControlState(InvertCheck, Chance(40) ? 1 : 0);
        tk::SetControlState(AlignCheck, Chance(35) ? 1 : 0);
        tk::SetControlState(GridCheck, Chance(35) ? 1 : 0);
        tk::SetControlState(GridXSpin, Chance(20) ? Uniform(1, 2) : Uniform(1, 25));
        tk::SetControlState(GridYSpin, Chance(20) ? Uniform(1, 2) : Uniform(1, 25));
        state.selection = {Coordinate(scenario.extremes), Coordinate(scenario.extremes),
                           Coordinate(scenario.extremes), Coordinate(scenario.extremes)};

        std::ostringstream text;
        text << "width " << spriteWidth << " file " << bytes.size() << " row " << row << " offset "
             << offset << " zoom " << state.zoom << " multi "
             << tk::GetControlState(MultiColumnsCheck) << " invert "
             << tk::GetControlState(InvertCheck) << " align " << tk::GetControlState(AlignCheck)
             << " grid " << tk::GetControlState(GridCheck) << " " << tk::GetControlState(GridXSpin)
             << "x" << tk::GetControlState(GridYSpin) << " selection " << state.selection.x1 << ","
             << state.selection.y1 << " " << state.selection.x2 << "," << state.selection.y2;
        return text.str();
    }

    // The picture memory is filled with a pattern before each repaint, so a pixel that one
    // repaint forgets to write shows up as a difference.
    void Scribble(uint8_t seed) {
        const tk::PixelBuffer* canvas = session.Canvas();
        ASSERT_NE(canvas, nullptr);
        const size_t size = static_cast<size_t>(canvas->stride) * canvas->height;
        for (size_t i = 0; i < size; ++i) canvas->bits[i] = static_cast<uint8_t>(seed + i * 7);
    }

    struct Outcome {
        std::vector<uint8_t> picture;
        std::string status, title, disp;
        int32_t spriteWidth = 0;
    };

    Outcome Render(void (*redraw)(), uint8_t scribble) {
        Scribble(scribble);
        state.spriteWidth = -12345;
        redraw();
        return {session.CanvasBytes(), session.StatusText(), session.Title(), session.DispText(),
                state.spriteWidth};
    }

    void Run(const Scenario& scenario) {
        random.seed(Seed() + static_cast<uint32_t>(scenario.file) * 1000 +
                    (scenario.extremes ? 77 : 0));
        const tk::PixelBuffer* canvas = session.Canvas();
        ASSERT_NE(canvas, nullptr);
        for (int n = 0; n < scenario.states; ++n) {
            const std::string view = RandomView(scenario);
            const uint8_t scribble = static_cast<uint8_t>(Uniform(0, 255));
            const Outcome fast = Render(RedrawView, scribble);
            const Outcome literal = Render(pmtest::LiteralRedrawView, scribble);
            ASSERT_EQ(fast.status, literal.status) << view;
            ASSERT_EQ(fast.title, literal.title) << view;
            ASSERT_EQ(fast.disp, literal.disp) << view;
            ASSERT_EQ(fast.spriteWidth, literal.spriteWidth) << view;
            ASSERT_EQ(fast.picture.size(), literal.picture.size());
            for (size_t i = 0; i < fast.picture.size(); ++i) {
                if (fast.picture[i] == literal.picture[i]) continue;
                const size_t rowFromBottom = i / static_cast<size_t>(canvas->stride);
                FAIL() << "state " << n << ": " << view << "\nfirst difference at x "
                       << (i % canvas->stride) / 3 << " y " << canvas->height - 1 - rowFromBottom
                       << " byte " << i % 3 << ": fast " << int(fast.picture[i]) << " literal "
                       << int(literal.picture[i]);
            }
        }
    }

    pmtest::ViewerSession session;
    std::mt19937 random;
};

TEST_F(Identity, NoFileLoaded) {
    Run({FileKind::None, 500, false});
}

TEST_F(Identity, ShortFiles) {
    Run({FileKind::Short, 500, false});
}

TEST_F(Identity, FilesEndingMidRow) {
    Run({FileKind::EndsMidRow, 600, false});
}

TEST_F(Identity, AnyFileSize) {
    Run({FileKind::Any, 600, false});
}

// Start positions that wrap around 32 bits, huge rows, selections far outside the canvas.
TEST_F(Identity, PositionsAndSelectionsNearTheLimits) {
    Run({FileKind::Any, 300, true});
}

TEST_F(Identity, NoFileNearTheLimits) {
    Run({FileKind::None, 300, true});
}

// The picture of a fresh start: every control as created.
TEST_F(Identity, FreshStart) {
    const Outcome fast = Render(RedrawView, 3);
    const Outcome literal = Render(pmtest::LiteralRedrawView, 3);
    EXPECT_EQ(fast.picture, literal.picture);
    EXPECT_EQ(fast.status, literal.status);
    EXPECT_EQ(fast.title, literal.title);
    EXPECT_EQ(fast.disp, literal.disp);
}

} // namespace
