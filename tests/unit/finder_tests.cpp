// The graphics finder on the project's sample, on pictures it makes itself inside other kinds of
// bytes, on bytes that are no pictures, and on real X11 bitmaps from Debian's packages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <elf.h>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>
#include <zlib.h>

#include "tests/support/processes.h"
#include "tests/support/test_files.h"
#include "tests/support/viewer_session.h"
#include "viewer/finder.h"
#include "viewer/finder_internal.h"
#include "viewer/pixel_font.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::string_literals;
using viewer::FindGraphics;
using viewer::GraphicsRegion;
using viewer::LayoutKind;
using viewer::PixelLayout;

Bytes AsBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::vector<GraphicsRegion> Find(const Bytes& b) {
    return FindGraphics(b.data(), int64_t(b.size()));
}

// Whether one of the first five regions has the width and layout and covers at least half of
// the shorter of it and [first, first + length).
bool Found(const std::vector<GraphicsRegion>& regions, int64_t first, int64_t length, int width,
           PixelLayout layout = {}) {
    for (size_t i = 0; i < regions.size() && i < 5; ++i) {
        const GraphicsRegion& r = regions[i];
        const int64_t overlap =
            std::min(r.first + r.length, first + length) - std::max(r.first, first);
        if (r.width == width && r.layout == layout && overlap >= std::min(r.length, length) / 2)
            return true;
    }
    return false;
}

std::string Describe(const std::vector<GraphicsRegion>& regions) {
    std::ostringstream s;
    for (const GraphicsRegion& r : regions)
        s << r.first << "+" << r.length << " w" << r.width << " " << viewer::LayoutName(r.layout)
          << " " << r.score << "\n";
    return regions.empty() ? "no regions\n" : s.str();
}

// The first `end` bytes of `ground` with `graphic` put in at `at`.
Bytes Inside(const Bytes& ground, size_t at, const Bytes& graphic, size_t end) {
    Bytes file(end + graphic.size());
    std::copy_n(ground.begin(), at, file.begin());
    std::copy(graphic.begin(), graphic.end(), file.begin() + long(at));
    std::copy(ground.begin() + long(at), ground.begin() + long(end),
              file.begin() + long(at + graphic.size()));
    return file;
}

uint8_t Reversed(uint8_t v) {
    uint8_t r = 0;
    for (int k = 0; k < 8; ++k) r = uint8_t(r | ((v >> k) & 1) << (7 - k));
    return r;
}

Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes b(n);
    for (uint8_t& x : b) x = uint8_t(random());
    return b;
}

Bytes Text(size_t n) {
    const std::vector<std::string> w = {"the",   "file",  "is",      "painted", "as",    "pixels",
                                        "and",   "every", "byte",    "holds",   "eight", "of",
                                        "them",  "while", "a",       "person",  "looks", "for",
                                        "fonts", "in",    "programs"};
    std::mt19937 random(7);
    std::string text;
    while (text.size() < n) text += w[random() % w.size()] + (random() % 9 == 0 ? "\n" : " ");
    return AsBytes(text.substr(0, n));
}

// The executable part of this test program (or of another program): real machine code.
Bytes MachineCode(const char* program = "/proc/self/exe") {
    const Bytes self = AsBytes(pmtest::ReadFile(program));
    Elf64_Ehdr header;
    std::memcpy(&header, self.data(), sizeof header);
    for (int i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr p;
        std::memcpy(&p, self.data() + header.e_phoff + size_t(i) * header.e_phentsize, sizeof p);
        if (p.p_type == PT_LOAD && (p.p_flags & PF_X) != 0 && p.p_filesz > 65536)
            return Bytes(self.begin() + long(p.p_offset), self.begin() + long(p.p_offset + 65536));
    }
    return {};
}

// `count` values of f(i) of the type f returns, as they lie in memory.
template <typename F> Bytes Table(size_t count, F f) {
    Bytes b;
    for (size_t i = 0; i < count; ++i) {
        const auto v = f(i);
        b.insert(b.end(), (const uint8_t*)&v, (const uint8_t*)&v + sizeof v);
    }
    return b;
}

Bytes Deflated(const Bytes& in) {
    uLongf size = compressBound(uLong(in.size()));
    Bytes out(size);
    compress2(out.data(), &size, in.data(), uLong(in.size()), 9);
    out.resize(size);
    return out;
}

// The sample's page of text drawn in its font, and the font alone before it (481 bytes before a
// blank stretch, from byte 0), at width 1; its three sprites of 96 bytes alone among noise, listed
// lower, at width 2, but not a table of 32-bit masks in their place.
TEST(Finder, FindsTheSamplesPageFontAndSprites) {
    Bytes sample = AsBytes(pmtest::SampleBytes());
    const auto regions = Find(sample);
    EXPECT_TRUE(Found(regions, 0x3C2, 0x9650 - 0x3C2, 1)) << Describe(regions);
    EXPECT_TRUE(Found(regions, 0, 481, 1)) << Describe(regions);
    EXPECT_TRUE(std::any_of(regions.begin(), regions.end(),
                            [](const GraphicsRegion& r) { return r.first == 0 && r.width == 1; }))
        << "the font from byte 0, its blank space glyph taken in:\n"
        << Describe(regions);
    auto atSprites = [](const GraphicsRegion& r) {
        return r.first + r.length > 0x9800 && r.first < 0x9860;
    };
    EXPECT_TRUE(std::any_of(regions.begin(), regions.end(), [&](const GraphicsRegion& r) {
        return atSprites(r) && r.width == 2 && r.first >= 0x9800 - 32 && r.length <= 96 + 64;
    })) << Describe(regions);
    const Bytes masks = Table(24, [](size_t i) { return uint32_t((2u << i) - 1); });
    std::copy(masks.begin(), masks.end(), sample.begin() + 0x9800);
    const auto withMasks = Find(sample);
    EXPECT_TRUE(std::none_of(withMasks.begin(), withMasks.end(), atSprites)) << Describe(withMasks);
    for (const GraphicsRegion& r : regions) {
        EXPECT_TRUE(r.score > 0 && r.score <= 1) << Describe(regions);
        EXPECT_TRUE(r.first >= 0 && r.length > 0 && r.first + r.length <= 39424);
    }
    EXPECT_TRUE(std::is_sorted(regions.begin(), regions.end(), [](auto& a, auto& b) {
        return a.score > b.score;
    })) << "best first";
}

TEST(Finder, FindsPicturesAtOddOffsetsInsideOtherBytes) {
    const std::vector<std::pair<std::string, Bytes>> grounds = {{"random", RandomBytes(12000, 1)},
                                                                {"zeros", Bytes(12000, 0)},
                                                                {"text", Text(12000)},
                                                                {"code", MachineCode()}};
    // Width and row stride; about 2 KiB of glyphs each.
    const int sheets[][2] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {16, 16}, {30, 30}};
    for (const auto& [name, ground] : grounds) {
        ASSERT_GT(ground.size(), 10000u) << name;
        for (const auto& s : sheets) {
            const Bytes sheet = AsBytes(pmtest::GlyphSheet(s[0], s[1], 2048 / (16 * s[1])));
            const Bytes file = Inside(ground, 3001, sheet, 10000);
            const auto regions = Find(file);
            EXPECT_TRUE(Found(regions, 3001, int64_t(sheet.size()), s[1]))
                << name << ", width " << s[0] << " in rows of " << s[1] << ":\n"
                << Describe(regions);
        }
    }
}

// The scan's fast loops (AVX2, popcount) count what the plain ones count: each window's measures
// and each segment alike, up to the last bytes of files of any length.
TEST(Finder, TheScansFastLoopsCountAsThePlainOnes) {
    using namespace viewer::finder;
    const Bytes sheet = AsBytes(pmtest::GlyphSheet(4, 4, 32));
    for (size_t end : {size_t{333}, size_t{4099}, size_t{20011}}) {
        const Bytes file = Inside(MachineCode(), 1001 % end, sheet, end);
        auto scan = [&](bool plain) {
            UsePlainKernels(plain);
            std::vector<std::pair<int64_t, WindowFeatures>> windows;
            MeasureWindows(
                file.data(), int64_t(file.size()),
                [&](int64_t at, const WindowFeatures& f) { windows.emplace_back(at, f); });
            bool cancelled = false;
            std::vector<std::tuple<int64_t, int64_t, int, double>> segments;
            for (const Segment& s : FindSegments(file.data(), int64_t(file.size()), {}, cancelled))
                segments.emplace_back(s.first, s.last, s.width, s.evidence);
            UsePlainKernels(false);
            return std::pair(windows, segments);
        };
        const auto plain = scan(true);
        EXPECT_FALSE(plain.first.empty() || plain.second.empty()) << end;
        EXPECT_EQ(scan(false), plain) << end;
    }
}

TEST(Finder, FindsNothingInBytesThatAreNoPictures) {
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"random", RandomBytes(65536, 2)},
        {"deflated text", Deflated(Text(400000))},
        {"text", Text(65536)},
        {"zeros", Bytes(65536, 0)},
        {"0xFF", Bytes(65536, 0xFF)},
        {"16-bit values", Table(20000, [](size_t i) { return uint16_t(i * 7919 % 600); })},
        {"32-bit offsets", Table(8000, [](size_t i) { return uint32_t(i * 37 + i % 13); })},
        {"32-bit values", Table(8000, [](size_t i) { return uint32_t(i * 2654435761u >> 20); })},
        {"64-bit offsets", Table(4000, [](size_t i) { return uint64_t(0x401000 + i * 24); })},
        {"floats", Table(8000, [](size_t i) { return float(100 * std::sin(i / 50.0)); })},
        {"doubles", Table(4000, [](size_t i) { return i * 0.37 + std::cos(double(i)); })},
    };
    for (const auto& [name, bytes] : cases) {
        ASSERT_FALSE(bytes.empty()) << name;
        EXPECT_EQ(Describe(Find(bytes)), "no regions\n") << name;
    }
    // Machine code gives no region at the widths of fonts and small sprites. A long run of one
    // repeated instruction sequence (15 bytes: load, call, jump) can still pass for a picture 60
    // bytes wide, where rows repeat with small changes.
    for (const GraphicsRegion& r : Find(MachineCode())) EXPECT_GT(r.width, 8) << "machine code";
}

// A picture 64 pixels wide (rings and a diagonal band), stored with bit 7 or bit 0 left, at an odd
// offset inside machine code and inside zeros: found at width 8 in its bit order, and guessed so.
TEST(Finder, TellsTheBitOrderOfRows) {
    Bytes picture(8 * 96, 0);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 64; ++x) {
            const int dx = x - 32, dy = y % 48 - 24, r2 = dx * dx + dy * dy;
            if ((r2 > 100 && r2 < 200) || (r2 > 400 && r2 < 520) || std::abs(x - y % 64) < 3)
                picture[size_t(8 * y + x / 8)] |= uint8_t(0x80 >> (x % 8));
        }
    Bytes reversed = picture;
    for (uint8_t& v : reversed) v = Reversed(v);
    const Bytes code = MachineCode();
    ASSERT_GT(code.size(), 10000u);
    for (const auto& [bytes, layout] : {std::pair{picture, PixelLayout{}},
                                        std::pair{reversed, PixelLayout{LayoutKind::RowsLsb, 1}}}) {
        for (const Bytes& ground : {code, Bytes(12000, 0)}) {
            const auto regions = Find(Inside(ground, 3001, bytes, 10000));
            EXPECT_TRUE(Found(regions, 3001, int64_t(bytes.size()), 8, layout))
                << LayoutName(layout) << (ground[0] == 0 ? " in zeros" : " in code") << ":\n"
                << Describe(regions);
        }
        const viewer::LayoutGuess guess = viewer::GuessLayoutAndWidth(bytes.data(), 768);
        EXPECT_EQ(guess.width, 8) << LayoutName(layout);
        EXPECT_EQ(guess.layout, layout) << LayoutName(layout);
    }
}

// The program's own 8 x 8 font stored as small screens store glyphs: a byte per pixel column (K
// bytes per column with the glyphs drawn K times as tall), bit 0 or bit 7 the top pixel; 7 columns
// a glyph, the cell's blank leftmost one left out.
Bytes FontInColumns(const PixelLayout& layout) {
    const int k = layout.columnBytes;
    Bytes bytes;
    for (const viewer::FontGlyph& glyph : viewer::PixelFont)
        for (int x = 1; x < 8; ++x)
            for (int j = 0; j < k; ++j) {
                uint8_t b = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    const int y = (8 * j + bit) / k; // row of the 8 x 8 cell
                    if (y >= 1 && glyph.rows[y - 1][x] == '#')
                        b = uint8_t(b | 1 << (layout.kind == LayoutKind::Columns ? bit : 7 - bit));
                }
                bytes.push_back(b);
            }
    return bytes;
}

// Such a font found as rows K bytes wide, from a byte inside a column, inside machine code and
// inside zeros, becomes the glyphs in their layout: 7 K bytes a glyph, from the first byte of a
// glyph, in the order of its bits. (With one byte a column this font is not told: few fonts of
// glyphs 8 pixels high or less were there to learn from.) Graphics in rows stay rows.
TEST(Finder, TellsFontsStoredInPixelColumns) {
    using viewer::finder::AsColumnsIfSo;
    const Bytes code = MachineCode();
    ASSERT_GT(code.size(), 10000u);
    for (const PixelLayout layout :
         {PixelLayout{LayoutKind::Columns, 2}, PixelLayout{LayoutKind::ColumnsMsb, 2},
          PixelLayout{LayoutKind::Columns, 3}, PixelLayout{LayoutKind::ColumnsMsb, 3}}) {
        const int k = layout.columnBytes;
        const Bytes font = FontInColumns(layout);
        for (const Bytes& ground : {code, Bytes(12000, 0)}) {
            const Bytes file = Inside(ground, 3001, font, 10000);
            const int64_t first = 3001 + 7 * k + k / 2; // a glyph in, and into a column
            const GraphicsRegion found = AsColumnsIfSo(
                file.data(), {first, int64_t(font.size()) - 9 * k, k, 0.9, PixelLayout{}});
            const std::string where =
                LayoutName(layout) + (ground[0] == 0 ? " in zeros" : " in code");
            EXPECT_EQ(found.layout, layout) << where;
            EXPECT_EQ(found.width, 7 * k) << where;
            EXPECT_EQ((found.first - 3001) % (7 * k), 0) << where << ": " << found.first;
            EXPECT_LE(found.first - first, 7 * k) << where;
            EXPECT_EQ(found.first + found.length, first + int64_t(font.size()) - 9 * k) << where;
        }
    }
    for (int k : {1, 2, 3}) {
        const Bytes sheet = AsBytes(pmtest::GlyphSheet(k, k, 2048 / (16 * k)));
        const GraphicsRegion rows{0, int64_t(sheet.size()), k, 0.9, PixelLayout{}};
        EXPECT_EQ(AsColumnsIfSo(sheet.data(), rows).layout, PixelLayout{}) << k;
    }
    // The sample's 8 x 8 font, whose glyphs stand 8 bytes apart as a font's columns would.
    const Bytes sample = AsBytes(pmtest::SampleBytes());
    EXPECT_EQ(AsColumnsIfSo(sample.data(), {9, 463, 1, 0.9, PixelLayout{}}).layout, PixelLayout{});
}

// A font one byte a column that draws all eight rows (here every third glyph underlined in its
// last row), so that no row is blank, is found by the blank column after each glyph's ink: inside
// machine code at an odd offset, 8 bytes a glyph, from a glyph's first column. (Alone in zeros such
// glyphs, 8 pixels high and wide, are taken for rows 1 byte wide, their glyphs turned a quarter.)
TEST(Finder, FindsFontsOneByteAColumnByTheirSpacingColumn) {
    Bytes font;
    for (size_t i = 0; i < viewer::FontGlyphCount; ++i)
        for (int x = 0; x < 8; ++x) {
            uint8_t column = 0;
            for (int y = 0; y < 7; ++y)
                if (viewer::PixelFont[i].rows[y][x] == '#') column = uint8_t(column | 1 << y);
            if (i % 3 == 0 && x >= 1 && x <= 6) column |= 0x80;
            font.push_back(column);
        }
    const auto regions = Find(Inside(MachineCode(), 3001, font, 10000));
    EXPECT_TRUE(Found(regions, 3001, int64_t(font.size()), 8, {LayoutKind::Columns, 1}))
        << Describe(regions);
    for (const GraphicsRegion& r : regions) {
        if (r.layout.kind == LayoutKind::Columns) {
            EXPECT_EQ(((r.first - 3001) % 8 + 8) % 8, 0) << r.first;
        }
    }
}

// What the column reader measures of the font in columns-msb:2: its stride, its first byte and
// bit order, the ink at the top and bottom pixels as the glyphs have it (the cell's top row is
// blank, capitals stand on its bottom row), strokes meeting across the rows more than down them
// (they run down the glyphs); the same on a set background.
TEST(Finder, MeasuresColumnsAsTheGlyphsHaveThem) {
    using namespace viewer::finder;
    const Bytes font = FontInColumns(PixelLayout{LayoutKind::ColumnsMsb, 2});
    const GraphicsRegion region{0, int64_t(font.size()), 2, 0.9, PixelLayout{}};
    const ColumnReading reading = ReadAsColumns(font.data(), region);
    EXPECT_EQ(reading.period, 7);
    EXPECT_EQ(reading.first, 0);
    EXPECT_EQ(reading.phase, 0);
    EXPECT_FALSE(reading.topBit0);
    int bottom = 0, columns = 0;
    for (const viewer::FontGlyph& glyph : viewer::PixelFont)
        for (int x = 1; x < 8; ++x, ++columns) bottom += glyph.rows[6][x] == '#';
    EXPECT_FLOAT_EQ(reading.features[ColumnLastBit], float(double(bottom) / columns));
    EXPECT_EQ(reading.features[ColumnFirstBit], 0.0f);
    EXPECT_GT(reading.features[ColumnPairsRatio], 1.0f);
    Bytes inverted = font;
    for (uint8_t& b : inverted) b = uint8_t(~b);
    EXPECT_EQ(ReadAsColumns(inverted.data(), region).features, reading.features);
}

// A group led by a segment whose width shows nothing (here machine code around glyphs, at 32
// bytes a row) still has its members judged where they are dense with evidence: the glyphs 2 bytes
// wide under it are found. A weak member is not judged.
TEST(Finder, JudgesTheStrongMembersOfARejectedGroup) {
    using namespace viewer::finder;
    const Bytes sheet = AsBytes(pmtest::GlyphSheet(2, 2, 16));
    const Bytes file = Inside(MachineCode(), 1000, sheet, 4000);
    const int64_t end = 1000 + int64_t(sheet.size());
    const Segment leader{600, end, 32, 4000}, glyphs{1000, end, 2, 1000};
    auto widthsJudged = [&](std::vector<Segment> segments) {
        std::vector<int> widths;
        ForEachCandidateGroup(file.data(), int64_t(file.size()), std::move(segments),
                              [&](const std::vector<Candidate>& candidates) -> const Candidate* {
                                  for (const Candidate& c : candidates) widths.push_back(c.width);
                                  return nullptr;
                              });
        return widths;
    };
    EXPECT_TRUE(widthsJudged({leader}).empty()) << "the leader alone is rejected";
    const std::vector<int> rescued = widthsJudged({leader, glyphs});
    EXPECT_TRUE(std::count(rescued.begin(), rescued.end(), 2) > 0) << rescued.size();
    // Under 1.4 bits a byte, though well over a quarter of the leader's evidence.
    Segment weak = glyphs, weakLeader = leader;
    weak.evidence = 1.3 * double(end - 1000);
    weakLeader.evidence = 2 * weak.evidence;
    EXPECT_TRUE(widthsJudged({weakLeader, weak}).empty());
    // A shorter segment inside the bytes of a leader that gives nothing (icons of several widths
    // under the stride that leads them all) is judged on its own from half a bit a byte.
    const Segment wide{0, int64_t(file.size()), 33, 20000};
    auto judgesWidth2 = [&](double bitsPerByte) {
        Segment inside = glyphs;
        inside.evidence = bitsPerByte * double(end - 1000);
        const std::vector<int> widths = widthsJudged({wide, inside});
        return std::count(widths.begin(), widths.end(), 2) > 0;
    };
    ASSERT_LT(2 * (end - 1000), wide.last) << "the glyphs must be no member of the leader's group";
    EXPECT_TRUE(judgesWidth2(0.6));
    EXPECT_FALSE(judgesWidth2(0.4));
}

TEST(Finder, GuessesTheWidthOfAPictureAndNoneForOtherBytes) {
    for (int width : {1, 2, 3, 4}) {
        const auto guess = viewer::GuessLayoutAndWidth(
            AsBytes(pmtest::GlyphSheet(width, width, 8)).data(), 128 * width);
        EXPECT_EQ(guess.width, width);
        EXPECT_EQ(guess.layout, PixelLayout{});
    }
    const Bytes random = RandomBytes(4096, 3), text = Text(4096);
    EXPECT_EQ(viewer::GuessLayoutAndWidth(random.data(), 4096).width, 0);
    EXPECT_EQ(viewer::GuessLayoutAndWidth(text.data(), 4096).width, 0);
    EXPECT_EQ(viewer::GuessLayoutAndWidth(random.data(), 0).width, 0);
}

TEST(Finder, StopsWhenTheCallerSaysSo) {
    const Bytes bytes = AsBytes(pmtest::SampleBytes());
    int64_t seen = -1, size = int64_t(bytes.size());
    EXPECT_TRUE(FindGraphics(bytes.data(), size, [&](int64_t done, int64_t total) {
                    seen = done;
                    EXPECT_EQ(total, size);
                    return false;
                }).empty());
    EXPECT_EQ(seen, 0);
}

// ---- Real graphics from Debian's packages, fetched into the build folder ---------------------
// (Real font files are judged by the finder's evaluation, finder.smoke_eval.)

// The X11 bitmaps of Debian's xbitmaps package (rows with bit 0 the leftmost pixel), those of 256
// bytes or more, each set between stretches of machine code: where the finder finds one at its
// width, it says bit 0 left, but for one at most (a mask, a solid shape, looks alike in both
// orders). Pictures are its weak side: it finds 2 to 5 of 13, depending on the code around them,
// so the code is the system shell's, which does not change with each build of the tests (5 today).
TEST(Finder, FindsRealX11BitmapsWithBit0Left) {
    if (!pmtest::UnpackDebianPackage("xbitmaps"))
        GTEST_SKIP() << "Debian's packages cannot be fetched here";
    const Bytes code = MachineCode("/bin/bash");
    ASSERT_GT(code.size(), 40000u);
    const PixelLayout lsb{LayoutKind::RowsLsb, 1};
    int tried = 0, found = 0;
    int wrong = 0;
    std::string wrongOrder;
    const std::string folder = "debian-files/xbitmaps/usr/include/X11/bitmaps/";
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        // "#define name_width 48", "#define name_height 48", then the bytes in hexadecimal.
        const std::string text = pmtest::ReadFile(entry.path().string());
        int width = 0, height = 0;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.rfind(' ');
            if (line.find("_width ") != std::string::npos) width = std::stoi(line.substr(at));
            if (line.find("_height ") != std::string::npos) height = std::stoi(line.substr(at));
        }
        Bytes bitmap;
        for (size_t at = text.find("0x", text.find('{')); at != std::string::npos;
             at = text.find("0x", at + 2))
            bitmap.push_back(uint8_t(std::stoi(text.substr(at + 2, 2), nullptr, 16)));
        const int rowBytes = (width + 7) / 8;
        ASSERT_EQ(int(bitmap.size()), rowBytes * height) << entry.path();
        if (bitmap.size() < 256) continue;
        const auto regions = Find(Inside(code, 20001, bitmap, 40000));
        ++tried;
        if (Found(regions, 20001, int64_t(bitmap.size()), rowBytes, lsb))
            ++found;
        else if (Found(regions, 20001, int64_t(bitmap.size()), rowBytes)) {
            ++wrong;
            wrongOrder += entry.path().filename().string() + " w" + std::to_string(rowBytes) +
                          ":\n" + Describe(regions);
        }
    }
    EXPECT_GE(tried, 10);
    EXPECT_LE(wrong, 1) << "found with bit 7 left:\n" << wrongOrder;
    EXPECT_GE(found, 3);
}

// Graphics in real programs, each among the first five regions in its layout and width. Fonts of
// small screens, one byte a pixel column, 5 x 7 glyphs, each from a glyph's first column: the LEGO
// NXT brick's (bit 0 on top, a spacing column), a circuit simulator's (bit 7 on top), a calculator
// emulator's (bit 0 on top), an LCD driver's with all eight rows drawn (descenders in the last)
// and a blank column before each glyph's five (its cells start after it). An LCD driver's digits
// 24 pixels high, 3 bytes a column, each an array of its own aligned to 32 bytes: cells of 64
// bytes, which rows 3 bytes wide cannot keep. X11 icons, bit 0 left: the round clock's and the
// eyes' (after sparse records that share their byte values, which drew the edges far out), the
// clock's, and a terminal's keypad icons among others of other widths. "Guess" tells the fonts
// marked from two columns into their first glyph. The packages at the versions the places were
// read from; skipped when they cannot be had.
TEST(Finder, FindsRealGraphicsInPrograms) {
    const PixelLayout columns{LayoutKind::Columns, 1}, msb{LayoutKind::ColumnsMsb, 1},
        lsb{LayoutKind::RowsLsb, 1};
    const std::string lcd = "0.5.9-6+b2", drivers = "usr/lib/x86_64-linux-gnu/lcdproc/",
                      x3270 = "4.1ga10-1.1+b1";
    const struct {
        std::string package, version, path;
        int64_t first, length;
        int width;
        PixelLayout layout;
        bool guessed = false;
    } graphics[] = {
        {"nxt-firmware", "1.29.2-1", "usr/share/nxt-firmware/nxt_firmware.bin", 154344, 576, 6,
         columns},
        {"ktechlab", "0.50.0-2", "usr/bin/ktechlab", 2675072, 96 * 5, 5, msb, true},
        {"free42-nologo", "3.0.17+ds-1", "usr/bin/free42bin", 893430, 125 * 5, 5, columns, true},
        {"lcdproc", lcd, drivers + "imonlcd.so", 13409, 255 * 6, 6, msb},
        {"lcdproc", lcd, drivers + "sed1520.so", 12960, 640, 64, {LayoutKind::Columns, 3}},
        {"x11-apps", "7.7+9", "usr/bin/oclock", 25728, 256, 4, lsb},
        {"x11-apps", "7.7+9", "usr/bin/xeyes", 34304, 384, 6, lsb},
        {"x11-apps", "7.7+9", "usr/bin/xclock", 51584, 576, 6, lsb},
        {"x3270", x3270, "usr/bin/x3270", 1547104, 440, 11, lsb},
        {"x3270", x3270, "usr/bin/x3270", 1547904, 320, 8, lsb},
    };
    for (const auto& g : graphics) {
        SCOPED_TRACE(g.path + " at " + std::to_string(g.first));
        if (!pmtest::UnpackDebianPackage(g.package, g.version))
            GTEST_SKIP() << "Debian's packages cannot be fetched here";
        const Bytes file = AsBytes(pmtest::ReadFile("debian-files/" + g.package + "/" + g.path));
        const auto regions = Find(file);
        EXPECT_TRUE(Found(regions, g.first, g.length, g.width, g.layout)) << Describe(regions);
        if (g.guessed) {
            const int64_t from = g.first + 2;
            const auto guess =
                viewer::GuessLayoutAndWidth(file.data() + from, int64_t(file.size()) - from);
            EXPECT_EQ(guess.width, g.width);
            EXPECT_EQ(guess.layout, g.layout);
            EXPECT_EQ(guess.skip, g.width - 2);
        }
        for (const GraphicsRegion& r : regions) {
            if (r.layout == g.layout && g.layout != lsb && r.first < g.first + g.length &&
                r.first + r.length > g.first) {
                EXPECT_EQ((r.first - g.first) % g.width, 0) << "a glyph split";
            }
        }
    }
}

} // namespace
