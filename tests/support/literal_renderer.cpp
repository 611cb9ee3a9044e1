// The literal repaint: every step in its order, one box per pixel.
#include "tests/support/literal_renderer.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"
#include "viewer/layout.h"
#include "viewer/state.h"

namespace pmtest {
namespace {

// Signed 32-bit arithmetic that wraps, and T(q) keeping the low 32 bits of its result.
const auto Wrap = [](uint64_t value) { return int32_t(uint32_t(value)); };
const auto Add = [](int32_t a, int32_t b) { return Wrap(uint64_t(uint32_t(a)) + uint32_t(b)); };
const auto Sub = [](int32_t a, int32_t b) { return Wrap(uint64_t(uint32_t(a)) - uint32_t(b)); };
const auto Mul = [](int64_t a, int64_t b) { return Wrap(uint64_t(a) * uint64_t(b)); };
const auto T = [](double q) { return Wrap(uint64_t(tk::TruncateToInteger(q))); };

} // namespace

void LiteralRedrawView() {
    using namespace viewer;
    using tk::IntegerToText;

    tk::BeginDrawing(tk::CanvasSurface(CanvasView));
    tk::FillBox(0, 0, 641, 481, tk::MakeColour(0, 0, 0));

    const int32_t zoom = state.zoom;
    const SelectionRect& s = state.selection;
    const int32_t sx = Mul(zoom, T(double(s.x1) / zoom));
    const int32_t sy = Mul(zoom, T(double(s.y1) / zoom));
    const int32_t sw = Mul(zoom, T(double(Sub(s.x2, s.x1)) / zoom));
    const int32_t sh = Mul(zoom, T(double(Sub(s.y2, s.y1)) / zoom));
    tk::FillBox(sx, sy, sw, sh, tk::MakeColour(127, 0, 255));

    if (sw < 1 || sh < 1)
        tk::SetStatusText(MainStatusBar, 0,
                          "Invalid Selection,w:" + IntegerToText(sw) + ",h:" + IntegerToText(sh));
    else
        tk::SetStatusText(MainStatusBar, 0,
                          "x:" + IntegerToText(sx) + " y:" + IntegerToText(sy) +
                              " w:" + IntegerToText(T(double(sw) / zoom / 8)) +
                              " h:" + IntegerToText(T(double(sh) / zoom)));

    state.spriteWidth = tk::GetControlState(WidthScroller);
    const int32_t gridX = tk::GetControlState(GridXSpin);
    const int32_t gridY = tk::GetControlState(GridYSpin);
    const int32_t spriteWidth = state.spriteWidth;

    // The strip of spriteWidth bytes and which byte and bit each of its pixels shows.
    const PixelLayout layout = state.layout;
    const auto stripWidth = static_cast<int32_t>(StripPixelWidth(layout, spriteWidth));
    const auto stripHeight = static_cast<int32_t>(StripPixelHeight(layout));

    int32_t a = 1; // strips wider than 640 pixels (80 bytes in rows) over four canvases' width
    if (tk::GetControlState(MultiColumnsCheck) == 1)
        a = T(double(stripWidth > 640 ? 2564 : 641) / stripWidth);
    const int32_t mask = tk::GetControlState(InvertCheck) == 1 ? 255 : 0;
    int32_t lastY = Sub(state.viewHeight, 1);
    if (tk::GetControlState(AlignCheck) == 1)
        lastY = Mul(gridY, T(double(Sub(state.viewHeight, 1)) / (gridY - 1.0)));
    int32_t pos =
        Add(Mul(tk::GetControlState(RowScroller), spriteWidth), tk::GetControlState(OffsetSpin));
    const int32_t startPos = pos;

    const tk::Colour white = tk::MakeColour(255, 255, 255);
    const tk::Colour black = tk::MakeColour(0, 0, 0);
    const tk::Colour blue = tk::MakeColour(0, 0, 255);
    const int32_t box = zoom == 8 ? 7 : zoom;
    const bool noFile = state.fileBuffer.empty();
    std::vector<int32_t> values(size_t(std::max(spriteWidth, 0)));
    std::vector<bool> pasts(values.size());
    // With a zoom below 1 the counters would never pass their limits; nothing is painted.
    if (zoom >= 1) {
        for (int32_t c = 1; c <= a; c = Add(c, zoom)) {
            // A column holds the strips whose last pixel row starts at or above lastY, and
            // always its first.
            for (int32_t y = 0; y <= lastY; y = Add(y, Mul(stripHeight, zoom))) {
                if (y > 0 && Add(y, Mul(stripHeight - 1, zoom)) > lastY) break;
                for (int32_t b = 1; b <= spriteWidth; ++b) {
                    int32_t value = 0;
                    bool past = pos >= state.fileSize;
                    if (noFile) {
                        value = y;
                    } else if (pos < 0 || pos >= state.fileBuffer.size) {
                        past = true; // never read outside the buffer: shown as past the end
                    } else if (!past) {
                        value = tk::ReadMemoryByte(state.fileBuffer.get() + pos) ^ mask;
                    }
                    pos = Add(pos, 1);
                    values[size_t(b - 1)] = value, pasts[size_t(b - 1)] = past;
                }
                for (int32_t py = 0; py < stripHeight; ++py) {
                    for (int32_t px = 0; px < stripWidth; ++px) {
                        const StripBit shown = StripPixelSource(layout, spriteWidth, px, py);
                        if (shown.byte < 0) continue; // below a short last column
                        const auto byte = static_cast<size_t>(shown.byte);
                        tk::Colour colour = (values[byte] >> shown.bit & 1) != 0 ? white : black;
                        if (pasts[byte]) colour = blue;
                        const int32_t x = Add(Mul(c - 1, stripWidth), Mul(px, zoom));
                        tk::FillBox(x, Add(y, Mul(py, zoom)), box, box, colour);
                    }
                }
            }
        }
    }

    Text title = Text(ProgramTitle) + ", sprsize:" + IntegerToText(spriteWidth);
    if (tk::GetControlState(GridCheck) == 1) {
        title += ", grid:" + IntegerToText(gridX) + "x" + IntegerToText(gridY);
        const tk::Colour red = tk::MakeColour(255, 0, 0);
        const tk::Colour green = tk::MakeColour(0, 255, 0);
        // The columns, then the rows. A grid size below 1 draws nothing in that direction (the
        // loop would not end).
        for (const bool rows : {false, true}) {
            const int32_t size = rows ? gridY : gridX;
            for (int32_t l = size; size >= 1;) {
                const tk::Colour colour = l % (int64_t(size) * size) == 0 ? green : red;
                rows ? tk::DrawLine(0, l, 641, l, colour) : tk::DrawLine(l, 0, l, 481, colour);
                l = Add(l, size);
                if (l > (rows ? 481 : 641)) break;
            }
        }
    }
    tk::SetControlText(DispField, IntegerToText(startPos));
    title += " disp:" + IntegerToText(startPos) + " zoom:" + IntegerToText(zoom);
    if (layout.kind != LayoutKind::Rows) title += " layout:" + LayoutName(layout);
    tk::SetMainWindowTitle(MainWindow, title);
    tk::EndDrawing();
}

} // namespace pmtest
