// The three export commands on the scripted backend: what "Save selected" packs from the
// picture and where it goes, what "Save binary.." copies from the file, what "Save image.."
// writes, and the questions they ask. Targets that fail are the fault-injection table's.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_files.h"
#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "viewer/exports.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

class Export : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.ok());
        session.LoadBytes(std::vector<uint8_t>(file.begin(), file.end()));
        state.loadedPath = dir / "game.bin";
        tk::SetControlAttribute(RowScroller, tk::Maximum, 5000);
    }
    auto Asked(const std::string& kind) const { // the dialogs of that kind asked so far
        auto found = session.backend.dialogs;
        std::erase_if(found, [&](const auto& d) { return d.kind != kind; });
        return found;
    }

    pmtest::ViewerSession session;
    pmtest::TempDir dir;
    const std::string file = pmtest::Pattern(4096);
};

TEST_F(Export, SaveSelectedPacksTheShownPixelsToTheFirstFreeNumberedName) {
    const std::string& f = file;
    auto inverted = [&](size_t at) { return char(~f[at]); };
    // Zoom, width, row, invert, grid (width 2: a column of 16 pixels, 2 bytes a row), the
    // selection and the bytes written.
    using Case = std::tuple<int, int32_t, int32_t, int32_t, int32_t, SelectionRect, std::string>;
    const Case cases[] = {
        {1, 2, 0, 0, 0, {0, 0, 15, 7}, f.substr(0, 16)},   // 16 samples, 8 rows
        {1, 2, 0, 0, 1, {0, 0, 16, 8}, f.substr(0, 18)},   // the 17th sample dropped; no grid
        {1, 2, 0, 0, 0, {0, 0, 7, 1}, {f[0], f[2]}},       // 8 samples: one byte
        {8, 2, 0, 0, 0, {7, 5, 134, 60}, f.substr(0, 14)}, // zoomed pixels' corners, not x 7
        {1, 2, 0, 0, 0, {0, 470, 15, 500}, f.substr(940, 22) + std::string(40, '\0')},
        {1, 81, 0, 0, 0, {632, 0, 647, 0}, {f[79], char(f[80] & 0x80)}}, // right of the canvas
        {1, 81, 0, 0, 0, {-16, 0, 15, 1}, {0, 0, f[0], f[1], 0, 0, f[81], f[82]}},
        {1, 2, 2047, 1, 0, {0, 0, 15, 1}, {inverted(4094), inverted(4095), 0, 0}}, // blue: 0
        {1, 2, 0, 0, 0, {0, 0, 6, 10}, ""}, // no row completes a byte: an empty file
    };
    pmtest::WriteFile(state.loadedPath + ".000", ""); // an empty file is taken over
    for (size_t n = 0; n < std::size(cases); ++n) {
        const auto& [zoom, width, row, invert, grid, selection, bits] = cases[n];
        SCOPED_TRACE(testing::Message() << "case " << n);
        state.zoom = zoom, state.selection = selection;
        tk::SetControlState(WidthScroller, width), tk::SetControlState(RowScroller, row);
        tk::SetControlState(InvertCheck, invert), tk::SetControlState(GridCheck, grid);
        SaveSelectedBits();
        const std::string name = state.loadedPath + ".00" + std::to_string(n);
        EXPECT_TRUE(std::filesystem::exists(name));
        EXPECT_EQ(pmtest::ReadFile(name), bits);
        // The grid is painted again afterwards: red at (8, 3).
        EXPECT_EQ(session.CanvasPixel(8, 3) == 0x0000FF, grid == 1);
    }
    EXPECT_TRUE(session.backend.dialogs.empty());
}

TEST_F(Export, SaveBinaryCopiesBytesFromTheFirstShownByte) {
    pmtest::WriteFile(dir / "keep.bin", file.substr(100, 4));
    tk::SetControlState(WidthScroller, 2);
    // What is typed behind the proposed "0000" (nullptr: cancelled); row, offset and invert; the
    // save dialog's answer (nullptr: not asked), its pattern and the answer to the overwrite
    // question; where file[start, start + count) (inverted) must then be written; the start of
    // the one message shown.
    using Case = std::tuple<const char*, int32_t, int32_t, int32_t, const char*, int, int,
                            const char*, size_t, size_t, const char*>;
    const Case cases[] = {
        {"4", 3, 1, 0, "out", 0, 0, "out.bin", 7, 4, ""}, // row 3 x width 2 + 1
        {"1", 0, 0, 0, "out.bin", 0, 0, "out.bin.bin", 0, 1, ""},
        {"3", 0, 0, 1, "raw.dat", 1, 0, "raw.dat", 0, 3, ""},
        {nullptr, 0, 0, 0, nullptr, 0, 0, "", 0, 0, ""},
        {"", 0, 0, 0, nullptr, 0, 0, "", 0, 0, ""}, // "0000"
        {"2", 0, 0, 0, "keep", 0, tk::ResultNo, "keep.bin", 100, 4, "Overwrite this file? "},
        {"2", 0, 5, 0, "keep", 0, tk::ResultYes, "keep.bin", 5, 2, "Overwrite this file? "},
        {"8", 0, -1, 0, nullptr, 0, 0, "", 0, 0,
         "Nothing to save: the first byte on display (position -1) lies outside the file (4096"},
        {"10", 2047, 0, 0, "tail", 0, 0, "tail.bin", 4094, 2, "Only 2 of 10 bytes were saved"},
    };
    for (const auto& [typed, row, offset, invert, chosen, pattern, overwrite, written, start, count,
                      said] : cases) {
        SCOPED_TRACE(written);
        session.backend.dialogs.clear();
        tk::SetControlState(RowScroller, row), tk::SetControlState(InvertCheck, invert);
        session.SetOffset(offset);
        if (typed) session.backend.AnswerTextTyped(typed);
        if (chosen) session.backend.AnswerFileDialog(dir / chosen, pattern);
        if (overwrite) session.backend.AnswerMessage(overwrite);
        SaveBinaryRange();

        const auto saves = Asked("save"), counts = Asked("text");
        EXPECT_EQ(saves.size(), chosen ? 1u : 0u);
        for (const auto& d : saves)
            EXPECT_EQ(d.file.initialName + d.file.patterns[0].second, "game.bin*.bin");
        for (const auto& d : counts) EXPECT_EQ(d.text + d.defaultText, "size of the file0000");
        std::string expected = file.substr(start, count);
        for (char& byte : expected) byte = invert ? char(~byte) : byte;
        EXPECT_EQ(*written ? pmtest::ReadFile(dir / written) : "", *written ? expected : "");
        const auto shown = session.Messages();
        EXPECT_EQ(shown.size(), *said ? 1u : 0u);
        EXPECT_EQ(shown.empty() ? "" : shown[0].substr(0, std::strlen(said)), said);
    }
    session.backend.dialogs.clear();
    session.LoadBytes({});
    SaveBinaryRange(); // nothing loaded: not even the count is asked
    EXPECT_EQ(session.Messages(), std::vector<std::string>{"1st load file!"});
    EXPECT_EQ(session.backend.dialogs.size(), 1u);
}

TEST_F(Export, SaveImageWritesTheCanvasAsShownAndKeepsItsName) {
    tk::SetControlState(GridCheck, 1);
    state.selection = {100, 100, 140, 120};
    RedrawView();
    session.backend.AnswerFileDialog(dir / "shot", 0);
    SaveCanvasImage();
    EXPECT_EQ(state.loadedPath, dir / "shot.png");
    const pmtest::DecodedPng png = pmtest::DecodePng(dir / "shot.png"); // its format: png_writer
    ASSERT_EQ(png.rows.size(), 481u);
    for (int y = 0; y < 481; ++y)
        for (int x = 0; x < 641; ++x) {
            const uint8_t* p = &png.rows[y][x * 3];
            ASSERT_EQ(tk::MakeColour(p[0], p[1], p[2]), session.CanvasPixel(x, y)) << x << "," << y;
        }

    // Cancelled, the name is forgotten: the next dialog offers only a folder.
    SaveCanvasImage();
    EXPECT_EQ(state.loadedPath, "");
    SaveCanvasImage();
    EXPECT_EQ(Asked("save")[2].file.initialName, "");
}

} // namespace
