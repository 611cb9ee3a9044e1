// The built tools run as a person runs them: pixmole-batch (its two output lines, exit codes and
// written files) and make-sample (the committed sample is what it generates).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

#include "tests/support/processes.h"
#include "tests/support/test_files.h"
#include "tests/support/viewer_session.h"
#include "viewer/finder.h"
#include "viewer/layout.h"
#include "viewer/overview.h"
#include "viewer/state.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class Tools : public ::testing::Test {
  protected:
    pmtest::ProgramRun Run(const std::string& tool, std::vector<std::string> args) {
        args.insert(args.begin(), pmtest::BesideTests("../tools/" + tool));
        return pmtest::RunProgram(args, 60, dir.path());
    }

    pmtest::TempDir dir;
    const std::string file = pmtest::Pattern(2048);
    const std::string data = pmtest::WriteFile(dir / "data.bin", file);
};

TEST_F(Tools, BatchPrintsTheTextsWritesTheOutputsAndSaysWhatWentWrong) {
    ASSERT_EQ(Run("make-sample", {"sample.bin"}).exitCode + mkfifo((dir / "fifo").c_str(), 0644),
              0);
    pmtest::WriteFile(dir / "in/data.bin", file);
    const std::string f = file, sample = pmtest::ReadFile(dir / "sample.bin"),
                      inverted = {char(~f[8]), char(~f[9])};
    EXPECT_EQ(sample, pmtest::SampleBytes()) << "regenerate samples/sprites.bin with make-sample";
    // --find prints exactly the finder's regions, best first; none for zeros.
    std::string regions;
    for (const viewer::GraphicsRegion& r : viewer::FindGraphics(
             reinterpret_cast<const uint8_t*>(sample.data()), int64_t(sample.size()))) {
        char line[100];
        std::snprintf(line, sizeof line, "%lld\t%lld\t%d\t%.3f\t%s\n", (long long)r.first,
                      (long long)r.length, r.width, r.score, LayoutName(r.layout).c_str());
        regions += line;
    }
    pmtest::WriteFile(dir / "zeros.bin", std::string(4096, '\0'));
    pmtest::WriteFile(dir / "a.bin", "\x7C\x12\x11\x12\x7C"); // an "A" in columns, bit 0 top
    // The arguments (split at spaces), the exit code, a text found in the output (exit code 0) or
    // the errors (all of the output for --find), and what out.bits then holds.
    using Case = std::tuple<std::string, int, std::string, std::string>;
    std::vector<Case> cases = {
        {"--width 2 --select 0,0,15,7 --bits out.bits data.bin", 0,
         "title: "s + viewer::ProgramTitle + ", sprsize:2 disp:0 zoom:1\nstatus: x:0 y:0 w:1 h:7\n",
         f.substr(0, 16)},
        // The grid is back afterwards; the offset is cut to the width.
        {"--width 2 --zoom 8 --select 3,5,130,60 --grid --bits out.bits data.bin", 0,
         ", grid:8x8 disp:0 zoom:8\n", f.substr(0, 14)},
        {"--width 2 --row 3 --offset 5 --invert --select 0,0,15,0 --bits out.bits data.bin", 0,
         " disp:8 ", inverted},
        {"--grid --grid-size 30,0 data.bin", 0, "grid:25x1", ""},
        // The glyph comes out in rows, bit 7 left.
        {"--layout columns --width 5 --select 0,0,7,7 --bits out.bits a.bin", 0,
         " zoom:1 layout:columns\nstatus: x:0 y:0 w:0 h:7\n", "\x20\x50\x88\x88\xF8\x88\x88\0"s},
        {"--column-bytes 3 --layout columns-msb --zoom 2 data.bin", 0,
         " zoom:2 layout:columns-msb:3\n", ""},
        {"--layout rows-lsb --help", 0, "  --column-bytes K ", ""},
        // Loading makes the input's folder current; relative outputs still land where the command
        // started. An offset below 0 needs no --width: row 1 starts at byte 0.
        {"--offset -5 --select 0,1,7,1 --png shot.png --bits out.bits in/data.bin", 0, " disp:-1 ",
         f.substr(0, 1)},
        {"--help", 0, "  --grid-size X,Y", ""},
        {"--find sample.bin", 0, regions, ""},
        {"--find zeros.bin", 0, "", ""},
        {"--find zeros.bin --sheet none/x.png", 1, "x.png (No such file or directory)", ""},
        {"--find nothing.bin", 1, "no such file", ""},
        {"data.bin --help", 0, "  --version ", ""},
        {"--version", 0, "pixmole-batch "s + viewer::ProgramVersion + "\n", ""},
        {"", 2, "", ""},
        {"nothing.bin", 1, "no such file", ""},
        {"fifo", 1, "Couldn't open the file!", ""}, // refused at once: nothing waits for a writer
        {"--select 0,0,15,0 --bits none/x.bits data.bin", 1, "x.bits (No such file or directory)",
         ""},
    };
    for (std::string bad :
         {"--zoom 3", "--width x", "--width 0", "--select 1,2,3", "--frobnicate",
          "--select 0,0,99999,1", "--png", "data.bin", "--find --width 2", "--grid --find",
          "--column-bytes 2", "--layout rows --column-bytes 1", "--layout columns --column-bytes 5",
          "--layout column", "--find --layout columns", "--sheet x.png", "--find --sheet",
          "--find --zoom 2 --sheet x.png"})
        cases.push_back({bad + " data.bin", 2, "pixmole-batch: ", ""});
    for (const auto& [line, exitCode, said, bits] : cases) {
        SCOPED_TRACE(line);
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string word; words >> word;) args.push_back(word);
        fs::remove(dir / "out.bits");
        const pmtest::ProgramRun run = Run("pixmole-batch", args);
        EXPECT_EQ(run.exitCode, exitCode) << run.err;
        EXPECT_NE((exitCode == 0 ? run.out : run.err).find(said), std::string::npos)
            << run.out << run.err;
        EXPECT_TRUE(exitCode != 2 || run.out.empty());
        if (line.rfind("--find", 0) == 0 && exitCode == 0) {
            EXPECT_EQ(run.out, said);
        }
        EXPECT_EQ(pmtest::ReadFile(dir / "out.bits"), bits);
    }
    EXPECT_EQ(pmtest::DecodePng(dir / "shot.png").rows.size(), 481u);
}

// The text written in the program's font with its top-left corner at (x, y), read back from the
// picture: each 8 x 8 cell whose black pixels make a glyph is that glyph's character, any other
// cell '?'; spaces at the end dropped.
std::string ReadText(const pmtest::DecodedPng& png, size_t x, size_t y, size_t characters) {
    std::string text;
    for (size_t c = 0; c < characters; ++c) {
        std::array<uint8_t, 8> cell{};
        for (size_t row = 0; row < 8; ++row)
            for (size_t bit = 0; bit < 8; ++bit)
                if (png.rows.at(y + row).at((x + c * 8 + bit) * 3) == 0)
                    cell[row] |= uint8_t(0x80 >> bit);
        char read = '?';
        for (char ch = ' '; ch <= '~'; ++ch)
            if (viewer::GlyphRows(ch) == cell) read = ch;
        text += read;
    }
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

TEST_F(Tools, TheSheetShowsEveryRegionBestFirstWithItsBytesAndACaptionThatReadsBack) {
    // The captions' font is the sample's: from the space to "Z" its glyphs are the first bytes.
    const std::string font = pmtest::SampleBytes();
    for (char ch = ' '; ch <= 'Z'; ++ch) {
        const std::array<uint8_t, 8> rows = viewer::GlyphRows(ch);
        EXPECT_EQ(std::string(rows.begin(), rows.end()), font.substr(size_t(ch - ' ') * 8, 8));
    }
    // Glyph sheets of varied widths between runs of varied bytes: more regions than tiles, strips
    // of 8 to 256 pixels (zoom 2 up to 128).
    std::string file = pmtest::Pattern(1001);
    for (int i = 0, width = 1; i < 160; ++i, width = 1 << i % 6)
        file += pmtest::GlyphSheet(width, width, std::max(2, 64 / width)) +
                pmtest::Pattern(1001 + size_t(i));
    pmtest::WriteFile(dir / "sheets.bin", file);
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    const auto regions = viewer::FindGraphics(bytes, int64_t(file.size()));
    ASSERT_GT(regions.size(), size_t(viewer::MaxTiles));
    // Relative to where the command started, not to the loaded file's folder.
    const pmtest::ProgramRun run =
        Run("pixmole-batch", {"--find", dir / "sheets.bin", "--sheet", "sheet.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), ptrdiff_t(regions.size()));
    const pmtest::DecodedPng png = pmtest::DecodePng(dir / "sheet.png");
    EXPECT_EQ(png.width, 4u * 272);
    ASSERT_EQ(png.rows.size(), 16u * 240) << "64 tiles, four across";

    for (int i = 0; i < viewer::MaxTiles; ++i) {
        SCOPED_TRACE(i);
        const viewer::GraphicsRegion& r = regions[size_t(i)];
        const size_t x = size_t(i % 4) * 272 + 8, y = size_t(i / 4) * 240 + 8;
        char first[40], size[60], kind[60];
        std::snprintf(first, sizeof first, "byte %lld 0x%llx", (long long)r.first,
                      (long long)r.first);
        std::snprintf(size, sizeof size, "%lld bytes, width %d", (long long)r.length, r.width);
        std::snprintf(kind, sizeof kind, "%s, score %.3f", viewer::LayoutName(r.layout).c_str(),
                      r.score);
        EXPECT_EQ(ReadText(png, x, y + 196, 32), first);
        EXPECT_EQ(ReadText(png, x, y + 206, 32), size);
        EXPECT_EQ(ReadText(png, x, y + 216, 32), kind);
        // The whole tile: pixels 2 x 2 for a strip of up to 128, strips in columns side by side
        // (which fill the tile at these widths), bytes past the region's end blue.
        ASSERT_EQ(viewer::StripPixelHeight(r.layout), 1);
        const int64_t strip = viewer::StripPixelWidth(r.layout, r.width),
                      zoom = strip > 128 ? 1 : 2;
        for (int64_t ty = 0; ty < 192; ++ty)
            for (int64_t tx = 0; tx < 256; ++tx) {
                const int64_t row = tx / (strip * zoom) * (192 / zoom) + ty / zoom;
                const viewer::StripBit b =
                    viewer::StripPixelSource(r.layout, r.width, tx % (strip * zoom) / zoom, 0);
                const int64_t at = row * r.width + b.byte;
                const uint32_t rgb = at >= r.length                            ? 0x0000ffu
                                     : (bytes[r.first + at] >> b.bit & 1) != 0 ? 0xffffffu
                                                                               : 0u;
                const uint8_t* p = &png.rows[size_t(y + ty)].at(size_t(x + tx) * 3);
                ASSERT_EQ(uint32_t(p[0] << 16 | p[1] << 8 | p[2]), rgb) << tx << "," << ty;
            }
    }
}

// Fonts of small screens in real programs, one byte per pixel column: the batch tool shows each
// upright from the glyph set as the first strip in its layout, its width the glyph's bytes. Its
// "F" as the font's author drew it, 8 pixel rows: the LEGO NXT brick's LCD font (bit 0 on top, a
// spacing column) and a circuit simulator's character LCD font (bit 7 on top). The packages at
// the versions the fonts' places were read from; skipped when they cannot be had.
TEST_F(Tools, ShowsRealFontsOfSmallScreensUprightInTheirColumnLayout) {
    struct Font {
        const char *package, *version, *path;
        int64_t space; // where the glyph of the space starts; the others follow in ASCII order
        const char* layout;
        int width;
        const char* f; // "F", a row of the glyph a line
    };
    const Font fonts[] = {
        {"nxt-firmware", "1.29.2-1", "usr/share/nxt-firmware/nxt_firmware.bin", 154344, "columns",
         6, "#####.|#.....|#.....|####..|#.....|#.....|#.....|......|"},
        {"ktechlab", "0.50.0-2", "usr/bin/ktechlab", 2675072, "columns-msb", 5,
         ".....|#####|#....|#....|####.|#....|#....|#....|"},
    };
    for (const Font& font : fonts) {
        SCOPED_TRACE(font.package);
        if (!pmtest::UnpackDebianPackage(font.package, font.version))
            GTEST_SKIP() << "Debian's packages cannot be fetched here";
        const std::string file =
            fs::absolute("debian-files/"s + font.package + "/" + font.path).string();
        const int64_t at = font.space + ('F' - ' ') * font.width;
        const pmtest::ProgramRun run =
            Run("pixmole-batch", {"--layout", font.layout, "--width", std::to_string(font.width),
                                  "--row", std::to_string(at / font.width), "--offset",
                                  std::to_string(at % font.width), "--png", "f.png", file});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const pmtest::DecodedPng png = pmtest::DecodePng(dir / "f.png");
        ASSERT_EQ(png.rows.size(), 481u);
        std::string shown;
        for (size_t y = 0; y < 8; ++y) {
            for (size_t x = 0; x < size_t(font.width); ++x)
                shown += png.rows[y].at(x * 3) != 0 ? '#' : '.';
            shown += '|';
        }
        EXPECT_EQ(shown, font.f);
    }
}

} // namespace
