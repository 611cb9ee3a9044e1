// The fast repaint against the literal one-box-per-bit repaint over random view states and file
// contents: the canvas, the status text, the title, DispField and the cached sprite width must
// be identical. Then the selection is sampled back from the repainted canvas as "Save selected"
// does, and must give (h + 1) x floor((w + 1) / 8) bytes holding exactly the white samples.
// AddressSanitizer watches every read of the file buffer and of the picture.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "tests/support/literal_renderer.h"
#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/headless/null_backend.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"
#include "viewer/exports.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

namespace {

using namespace viewer;

constexpr int32_t Width = 641, Height = 481;

// One toolkit and one main window for the whole run; each input sets every view parameter.
bool StartOnce() {
    static tk::NullBackend backend;
    static const bool started = [] {
        if (tk::InitToolkit(&backend) == 0 || !CreateMainWindowAndControls()) return false;
        // Any offset and any row can be shown; the scroll bar and spin box clamp nothing away.
        tk::SetControlAttribute(OffsetSpin, tk::Minimum, INT32_MIN);
        tk::SetControlAttribute(OffsetSpin, tk::Maximum, INT32_MAX);
        return true;
    }();
    return started;
}

const tk::PixelBuffer& Canvas() {
    const auto handle =
        static_cast<tk::PictureHandle>(tk::GetControlAttribute(CanvasView, tk::CanvasImage));
    const tk::Picture* picture = tk::PictureFromHandle(handle);
    CHECK(picture != nullptr);
    const tk::PixelBuffer& pixels = picture->pixels();
    CHECK(pixels.width == Width && pixels.height == Height && pixels.bitsPerPixel == 24);
    return pixels;
}

std::vector<uint8_t> CanvasBytes() {
    const tk::PixelBuffer& p = Canvas();
    return {p.bits, p.bits + size_t(p.stride) * size_t(p.height)};
}

bool WhiteAt(const std::vector<uint8_t>& bytes, int32_t stride, int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= Width || y >= Height) return false;
    const uint8_t* p = bytes.data() + size_t(Height - 1 - y) * size_t(stride) + size_t(x) * 3;
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

struct Texts {
    std::string status, title, disp;
    int32_t spriteWidth;
    bool operator==(const Texts&) const = default;
};

Texts CurrentTexts() {
    return {tk::StatusText(MainStatusBar, 0), tk::MainWindowTitle(MainWindow),
            tk::GetControlText(DispField), state.spriteWidth};
}

int32_t Coordinate(FuzzedDataProvider& in, bool wide) {
    if (wide) return in.ConsumeIntegral<int32_t>();
    return in.ConsumeIntegralInRange<int32_t>(-700, 1400);
}

int64_t Quotient(int64_t numerator, int64_t zoom) {
    return tk::TruncateToInteger(double(numerator) / double(zoom));
}

// The selection read back as the export reads it, packed eight samples to a byte.
void CheckSampling(const std::vector<uint8_t>& canvas, int32_t stride) {
    const SelectionRect& s = state.selection;
    const int64_t zoom = state.zoom;
    const int64_t w = Quotient(int64_t{s.x2} - s.x1, zoom);
    const int64_t h = Quotient(int64_t{s.y2} - s.y1, zoom);
    const int64_t perRow = w >= 0 ? (w + 1) / 8 : 0;
    const int64_t expectedSize = w >= 0 && h >= 0 ? (h + 1) * perRow : 0;
    if (expectedSize > (int64_t{4} << 20)) return; // beyond any drag on a screen; too slow here
    const int64_t ox = zoom * Quotient(s.x1, zoom);
    const int64_t oy = zoom * Quotient(s.y1, zoom);

    CHECK(tk::BeginDrawing(tk::CanvasSurface(CanvasView)) != 0);
    const std::vector<uint8_t> bits = SampleSelectionBits();
    tk::EndDrawing();
    CHECK(static_cast<int64_t>(bits.size()) == expectedSize);
    size_t at = 0;
    for (int64_t r = 0; r <= h && perRow > 0; ++r) {
        for (int64_t b = 0; b < perRow; ++b, ++at) {
            uint8_t expected = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (WhiteAt(canvas, stride, ox + (b * 8 + bit) * zoom, oy + r * zoom))
                    expected |= uint8_t(0x80 >> bit);
            CHECK(bits[at] == expected);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CHECK(StartOnce());
    FuzzedDataProvider in(data, size);

    const int zooms[] = {1, 2, 8};
    state.zoom = zooms[in.ConsumeIntegralInRange<int>(0, 2)];
    const bool wide = in.ConsumeIntegralInRange<int>(0, 7) == 0;
    state.selection = {Coordinate(in, wide), Coordinate(in, wide), Coordinate(in, wide),
                       Coordinate(in, wide)};
    tk::SetControlState(WidthScroller, in.ConsumeIntegralInRange<int32_t>(0, 300));
    tk::SetControlState(GridXSpin, in.ConsumeIntegralInRange<int32_t>(1, 25));
    tk::SetControlState(GridYSpin, in.ConsumeIntegralInRange<int32_t>(1, 25));
    tk::SetControlState(GridCheck, in.ConsumeBool());
    tk::SetControlState(MultiColumnsCheck, in.ConsumeBool());
    tk::SetControlState(InvertCheck, in.ConsumeBool());
    tk::SetControlState(AlignCheck, in.ConsumeBool());

    // The file: none, or up to 4096 bytes from the input (repeated to reach a chosen size).
    const int fileChoice = in.ConsumeIntegralInRange<int>(0, 9);
    const size_t fileSize = fileChoice == 0 ? 0 : in.ConsumeIntegralInRange<size_t>(1, 4096);
    const bool wideRow = in.ConsumeIntegralInRange<int>(0, 7) == 0;
    const int32_t row = wideRow ? in.ConsumeIntegral<int32_t>()
                                : in.ConsumeIntegralInRange<int32_t>(0, int32_t(fileSize) + 8);
    const bool wideOffset = in.ConsumeIntegralInRange<int>(0, 7) == 0;
    const int32_t offset =
        wideOffset ? in.ConsumeIntegral<int32_t>() : in.ConsumeIntegralInRange<int32_t>(-600, 4200);
    const std::vector<uint8_t> pattern = in.ConsumeRemainingBytes<uint8_t>();

    tk::FreeBlock(state.fileBuffer);
    state.fileSize = 0;
    if (fileSize > 0) {
        state.fileBuffer = tk::AllocateBlock(int64_t(fileSize));
        CHECK(!state.fileBuffer.empty());
        for (size_t i = 0; i < fileSize; ++i)
            state.fileBuffer.get()[i] =
                pattern.empty() ? uint8_t(i * 37) : pattern[i % pattern.size()];
        state.fileSize = int32_t(fileSize);
    }
    tk::SetControlAttribute(RowScroller, tk::Minimum, wideRow ? INT32_MIN : 0);
    tk::SetControlAttribute(RowScroller, tk::Maximum, wideRow ? INT32_MAX : state.fileSize + 8);
    tk::SetControlAttribute(RowScroller, tk::PageLength, 1);
    tk::SetControlState(RowScroller, row);
    tk::SetControlState(OffsetSpin, offset);

    // Leftovers of the previous input must not matter: start from a different picture.
    if (tk::BeginDrawing(tk::CanvasSurface(CanvasView)) != 0) {
        tk::FillBox(0, 0, Width, Height, tk::MakeColour(1, 2, 3));
        tk::EndDrawing();
    }
    pmtest::LiteralRedrawView();
    const std::vector<uint8_t> expected = CanvasBytes();
    const Texts expectedTexts = CurrentTexts();

    RedrawView();
    const std::vector<uint8_t> got = CanvasBytes();
    CHECK(CurrentTexts() == expectedTexts);
    if (got != expected) {
        const int32_t stride = Canvas().stride;
        for (size_t i = 0; i < got.size(); ++i) {
            if (got[i] != expected[i]) {
                const size_t y = Height - 1 - i / size_t(stride), x = i % size_t(stride) / 3;
                std::fprintf(stderr, "first differing pixel: x %zu y %zu\n", x, y);
                break;
            }
        }
        CHECK(got == expected);
    }
    CheckSampling(got, Canvas().stride);

    tk::FreeBlock(state.fileBuffer);
    state.fileSize = 0;
    return 0;
}
