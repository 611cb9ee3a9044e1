// A viewer on the scripted backend, built as start-up builds it (window, menu, every control,
// status bar) but not yet painted, with helpers to load bytes and to read back what a repaint
// produced. Tests and benchmarks keep one per case; the destructor shuts the viewer down and
// makes the directory current again that was current before (loading a file changes it).
//
//     pmtest::ViewerSession session;          // ASSERT_TRUE(session.ok());
//     session.LoadBytes({0x81, 0x00});
//     viewer::RedrawView();
//     EXPECT_EQ(session.CanvasPixel(0, 0), 0xFFFFFFu);
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/window.h"
#include "viewer/finder.h"
#include "viewer/state.h"

namespace pmtest {

class ViewerSession {
  public:
    ViewerSession();
    ~ViewerSession();
    ViewerSession(const ViewerSession&) = delete;
    ViewerSession& operator=(const ViewerSession&) = delete;

    // True when the toolkit started and the main window was built.
    bool ok() const { return ok_; }

    // Puts the bytes in ViewerState as a load would (fileBuffer, fileSize); no bytes leave no
    // file loaded, as loading an empty file does.
    void LoadBytes(const std::vector<uint8_t>& bytes);

    // OffsetSpin is created with the range 0..1; widens it first so any offset can be set.
    void SetOffset(int32_t offset);

    // The canvas picture (null when there is none), its memory as it stands (bottom-up rows,
    // padding included), and one pixel as a Colour (0x00BBGGRR), read from memory.
    const tk::PixelBuffer* Canvas() const;
    std::vector<uint8_t> CanvasBytes() const;
    tk::Colour CanvasPixel(int32_t x, int32_t y) const;

    // Status bar field 0, the main window's title, the text of DispField.
    std::string StatusText() const { return tk::StatusText(viewer::MainStatusBar, 0); }
    std::string Title() const { return tk::MainWindowTitle(viewer::MainWindow); }
    std::string DispText() const { return tk::GetControlText(viewer::DispField); }
    std::string Held() const;                  // the loaded bytes
    std::vector<std::string> Messages() const; // the texts of the message boxes shown

    // Event loop passes until nothing is scripted or queued, or the loop would end.
    void Drain();
    // Drain, then passes until the graphics scan has ended and its pending step is made; false
    // when it is still running after `seconds`.
    bool DrainUntilFound(int seconds = 60);

    pmtest::ScriptedBackend backend;

  private:
    bool ok_ = false;
    std::string folder_;
};

// The project's sample file (samples/sprites.bin), and the finder's regions of some bytes in file
// order, as the window steps through them.
std::string SampleBytes();
std::vector<viewer::GraphicsRegion> RegionsInFileOrder(const std::string& bytes);
// A sheet of glyphs `width` bytes wide from the sample's font: each band of rows holds `width`
// glyphs side by side, each glyph row shown twice (16 pixel rows a glyph), every row padded with
// zeros to `stride` bytes.
std::string GlyphSheet(int width, int stride, int bands);
// Two glyph sheets (widths 1 and 2) between runs of patterned bytes: the finder's two regions,
// neither at byte 0, for the sessions that step through them.
std::string TwoSheets();

} // namespace pmtest
