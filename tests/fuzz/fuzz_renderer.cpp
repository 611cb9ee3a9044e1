// The fast repaint against the literal one-box-per-pixel repaint over random views, layouts and
// file contents: the canvas and the texts must be identical. AddressSanitizer watches every read of
// the file and every write into the picture.
#include <fuzzer/FuzzedDataProvider.h>

#include <tuple>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "tests/support/literal_renderer.h"
#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

// The picture, status text, title, DispField and cached sprite width a repaint leaves; the
// picture is filled first, so that leftovers of the last repaint do not matter.
auto Repaint(const pmtest::ViewerSession& session, void (*redraw)()) {
    tk::BeginDrawing(tk::CanvasSurface(CanvasView));
    tk::FillBox(0, 0, CanvasWidth, CanvasHeight, tk::MakeColour(1, 2, 3));
    tk::EndDrawing();
    redraw();
    return std::tuple(session.CanvasBytes(), session.StatusText(), session.Title(),
                      session.DispText(), state.spriteWidth);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pmtest::ViewerSession session;
    CHECK(session.ok());
    FuzzedDataProvider in(data, size);
    // The check boxes, the zoom and the layout from one byte (the input's last), so that every
    // input varies them; then the grid sizes, the sprite width, the selection, the file's size,
    // row and offset, the file's bytes (filled up with 0xA5) and the column bytes from what is
    // left.
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    state.zoom = std::vector<int32_t>{1, 2, 8}[(flags >> 4) % 3];
    state.layout.kind = LayoutKind((flags >> 4) / 3 % 4);
    const int checks[] = {GridCheck, MultiColumnsCheck, InvertCheck, AlignCheck};
    for (int bit = 0; bit < 4; ++bit) tk::SetControlState(checks[bit], flags >> bit & 1);
    for (int spin : {GridYSpin, GridXSpin})
        tk::SetControlState(spin, in.ConsumeIntegralInRange(1, 25));
    tk::SetControlState(WidthScroller, in.ConsumeIntegralInRange(0, 300));
    auto number = [&](int32_t lo, int32_t hi) {
        return in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<int32_t>()
                                                    : in.ConsumeIntegralInRange(lo, hi);
    };
    for (int32_t* corner :
         {&state.selection.x1, &state.selection.y1, &state.selection.x2, &state.selection.y2})
        *corner = number(-700, 1400);
    const int32_t fileSize =
        in.ConsumeIntegralInRange(0, 9) ? in.ConsumeIntegralInRange(1, 4096) : 0;
    tk::SetControlAttribute(RowScroller, tk::Minimum, INT32_MIN);
    tk::SetControlAttribute(RowScroller, tk::Maximum, INT32_MAX);
    tk::SetControlState(RowScroller, number(0, fileSize + 8));
    session.SetOffset(number(-600, 4200));
    std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(size_t(fileSize));
    bytes.resize(size_t(fileSize), 0xA5);
    session.LoadBytes(bytes);
    state.layout.columnBytes = in.ConsumeIntegralInRange(1, 4);

    CHECK(Repaint(session, pmtest::LiteralRedrawView) == Repaint(session, RedrawView));
    return 0;
}
