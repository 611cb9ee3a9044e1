// The viewer session on the scripted backend, shared by the renderer tests and benchmarks.
#include "tests/support/viewer_session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/support/test_files.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/find_commands.h"
#include "viewer/input.h"
#include "viewer/state.h"

namespace pmtest {

ViewerSession::ViewerSession() : folder_(std::filesystem::current_path().string()) {
    ok_ = tk::InitToolkit(&backend) != 0 && viewer::CreateMainWindowAndControls();
}

ViewerSession::~ViewerSession() {
    viewer::ShutDownViewer();
    std::error_code ignored;
    std::filesystem::current_path(folder_, ignored);
}

void ViewerSession::LoadBytes(const std::vector<uint8_t>& bytes) {
    viewer::DiscardFinderResults(); // as a load does: the scan reads the bytes
    tk::FreeBlock(viewer::state.fileBuffer);
    viewer::state.fileSize = 0;
    if (bytes.empty()) return;
    viewer::state.fileBuffer = tk::AllocateBlock(static_cast<int64_t>(bytes.size()));
    if (viewer::state.fileBuffer.empty()) return;
    std::memcpy(viewer::state.fileBuffer.get(), bytes.data(), bytes.size());
    viewer::state.fileSize = static_cast<int32_t>(bytes.size());
}

void ViewerSession::SetOffset(int32_t offset) {
    tk::SetControlAttribute(viewer::OffsetSpin, tk::Minimum, INT32_MIN);
    tk::SetControlAttribute(viewer::OffsetSpin, tk::Maximum, INT32_MAX);
    tk::SetControlState(viewer::OffsetSpin, offset);
}

const tk::PixelBuffer* ViewerSession::Canvas() const {
    const auto handle = static_cast<tk::PictureHandle>(
        tk::GetControlAttribute(viewer::CanvasView, tk::CanvasImage));
    const tk::Picture* picture = tk::PictureFromHandle(handle);
    return picture != nullptr ? &picture->pixels() : nullptr;
}

std::vector<uint8_t> ViewerSession::CanvasBytes() const {
    const tk::PixelBuffer* c = Canvas();
    return c ? std::vector<uint8_t>(c->bits, c->bits + size_t(c->stride) * c->height)
             : std::vector<uint8_t>();
}

tk::Colour ViewerSession::CanvasPixel(int32_t x, int32_t y) const {
    const tk::PixelBuffer* c = Canvas();
    if (c == nullptr || x < 0 || y < 0 || x >= c->width || y >= c->height) return 0;
    const uint8_t* p = c->bits + size_t(c->height - 1 - y) * c->stride + x * 3;
    return p[0] * 65536u + p[1] * 256u + p[2];
}

std::string ViewerSession::Held() const {
    const auto* bytes = reinterpret_cast<const char*>(viewer::state.fileBuffer.get());
    return viewer::state.fileBuffer.empty() ? ""
                                            : std::string(bytes, size_t(viewer::state.fileSize));
}

std::vector<std::string> ViewerSession::Messages() const {
    std::vector<std::string> texts;
    for (const auto& dialog : backend.dialogs)
        if (dialog.kind == "message") texts.push_back(dialog.text);
    return texts;
}

void ViewerSession::Drain() {
    for (int guard = 0; guard < 100000 && viewer::state.quitRequested != 1; ++guard) {
        if (backend.ScriptedLeft() == 0 && tk::QueuedEventCount() == 0) return;
        viewer::RunLoopPass();
    }
}

bool ViewerSession::DrainUntilFound(int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (true) {
        Drain();
        viewer::PollFinder();
        if (!viewer::FinderBusy()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string SampleBytes() {
    const std::filesystem::path here = std::filesystem::path(__FILE__).parent_path();
    return ReadFile((here / "../../samples/sprites.bin").string());
}

std::string GlyphSheet(int width, int stride, int bands) {
    const std::string g = SampleBytes(); // its 8 x 8 font first, 59 glyphs
    std::string out;
    for (int band = 0; band < bands; ++band)
        for (int row = 0; row < 16; ++row)
            for (int c = 0; c < stride; ++c) {
                const int glyph = 1 + (band * width + c) % 58; // not the space
                out.push_back(c < width ? g[size_t(glyph * 8 + row / 2)] : '\0');
            }
    return out;
}

std::string TwoSheets() {
    return Pattern(1001) + GlyphSheet(1, 1, 64) + Pattern(3001) + GlyphSheet(2, 2, 32);
}

std::vector<viewer::GraphicsRegion> RegionsInFileOrder(const std::string& bytes) {
    std::vector<viewer::GraphicsRegion> regions = viewer::FindGraphics(
        reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int64_t>(bytes.size()));
    std::sort(regions.begin(), regions.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return regions;
}

} // namespace pmtest
