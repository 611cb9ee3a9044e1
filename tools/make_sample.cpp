// Writes samples/sprites.bin for trying the viewer out: an 8x8 font first, so that the view at
// start (width 1, row 0) shows letters, a page of text laid out for MultiColumns at width 1,
// and three 1-bit sprites among deterministic noise.
//
//   make-sample OUT
//
// Layout (see samples/README.md):
//   0x0000  the font: 59 glyphs, " " (0x20) to "Z" (0x5A) in ASCII order, 8 bytes each, one byte
//           per pixel row; then 9 zero bytes. Together the first 481-byte column.
//   0x01E1  79 more columns of 481 bytes: a page of 60 lines drawn in the font, the glyph of
//           line r in column k (the font's column is 0) at byte 481 k + 8 r; column 1 is clear,
//           the text starts in column 2, and the last byte of every column is 0
//   0x9650  432 bytes of noise
//   0x9800  three 16x16 sprites, 2 bytes per row, 32 bytes each: smiley, ship, arrow
//   0x9860  416 bytes of noise (the file is 0x9A00 = 39424 bytes)
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/pixel_font.h"

namespace {

// At width 1 with MultiColumns on, the 641 x 481 canvas shows 80 columns of 481 bytes.
constexpr size_t ColumnBytes = 481;
constexpr size_t PageColumns = 80;
constexpr size_t PageLines = 60; // 8 rows each; the 481st byte of a column stays 0
constexpr size_t NoiseOffset = ColumnBytes * PageColumns;
constexpr size_t SpriteOffset = 0x9800;
constexpr size_t FileSize = 0x9A00;

// Each picture row is drawn with "#" for a set bit and "." for a clear one.
const char* const Smiley[16] = {
    ".....######.....", "...##......##...", "..#..........#..", ".#............#.",
    ".#...##..##...#.", "#....##..##....#", "#..............#", "#..............#",
    "#..#........#..#", "#...#......#...#", ".#...######...#.", ".#............#.",
    "..#..........#..", "...##......##...", ".....######.....", "................",
};
const char* const Ship[16] = {
    ".......##.......", ".......##.......", "......####......", "......#..#......",
    ".....##..##.....", ".....#.##.#.....", "#...##.##.##...#", "#..##..##..##..#",
    "#.##...##...##.#", "####..####..####", "################", "###.###..###.###",
    "##...##..##...##", "#....#....#....#", "......#..#......", ".....##..##.....",
};
const char* const Arrow[16] = {
    "................", "........#.......", "........##......", "........###.....",
    "........####....", "#############...", "##############..", "###############.",
    "###############.", "##############..", "#############...", "........####....",
    "........###.....", "........##......", "........#.......", "................",
};

// The file's font: the program's own, from the space to "Z".
constexpr char FirstChar = viewer::FirstFontChar;
constexpr size_t GlyphCount = 'Z' - FirstChar + 1;
static_assert(GlyphCount * 8 < ColumnBytes, "the font fits its column");

// The page as MultiColumns at width 1 shows it, the font's column on its left. Lines start one
// column further right, so the text keeps clear of the font. Only characters of the font.
constexpr std::string_view Text[] = {
    "PIXMOLE SAMPLE FILE",
    "",
    "EVERY PIXEL OF THIS PAGE IS A BIT OF THE FILE: EIGHT PIXELS TO A BYTE, THE",
    "MOST SIGNIFICANT BIT ON THE LEFT, SET BITS WHITE, CLEAR BITS BLACK.",
    "",
    "THE LEFT COLUMN IS AN 8 X 8 FONT AT THE START OF THE FILE: ONE BYTE PER PIXEL",
    "ROW, EIGHT BYTES PER GLYPH, THE 59 CHARACTERS FROM SPACE TO Z IN ASCII ORDER.",
    "AT WIDTH 1 A COLUMN SHOWS 481 BYTES. WITH MULTICOLUMNS ON, THE BYTES GO ON IN",
    "79 MORE COLUMNS, AND THE NEXT 37,999 BYTES OF THE SAMPLE ARE LAID OUT SO THAT",
    "THEY READ AS THIS PAGE: ONE GLYPH PER COLUMN AND LINE.",
    "",
    "TRY:",
    "- GRID: ITS 8 X 8 CELLS FRAME THE GLYPHS.",
    "- DRAG A RECTANGLE ROUND A LETTER, THEN SAVE SELECTED: ITS BITS GO TO",
    "  SPRITES.BIN.000 BESIDE THE FILE.",
    "- THE RIGHT ARROW KEY ONCE (WIDTH 2), 38912 IN DISP, THEN >: A SMILEY, A SHIP",
    "  AND AN ARROW OF 16 X 16 PIXELS AT THE TOP OF THE FIRST COLUMN.",
    "",
};
constexpr std::string_view Banner = "PIXMOLE"; // drawn large, one character per pixel
constexpr size_t LineWidth = PageColumns - 2;  // the font's column and one clear column

constexpr bool TextFitsTheFont() {
    for (std::string_view line : Text) {
        if (line.size() > LineWidth) return false;
        for (char c : line) {
            if (c < FirstChar || static_cast<size_t>(c - FirstChar) >= GlyphCount) return false;
        }
    }
    return true;
}
static_assert(TextFitsTheFont(), "every line fits the page and uses only the font's characters");

// Packs one drawn row into bytes, the leftmost pixel in bit 7 of the first byte.
void PutRow(std::vector<uint8_t>& out, size_t at, const char* row) {
    size_t width = std::strlen(row);
    for (size_t x = 0; x < width; ++x) {
        if (row[x] == '#') out[at + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
}

const viewer::FontGlyph& GlyphOf(char c) {
    return viewer::PixelFont[static_cast<size_t>(c - FirstChar)];
}

// The page's lines: the text, the banner drawn with the font's own pixels, then a test pattern
// of every character, each line shifted by one, down to the last line.
std::vector<std::string> PageText() {
    std::vector<std::string> lines(std::begin(Text), std::end(Text));
    const size_t indent = (LineWidth - Banner.size() * 8) / 2;
    for (int row = 0; row < 7; ++row) {
        std::string line(indent, ' ');
        for (char c : Banner) {
            for (const char* pixel = GlyphOf(c).rows[row]; *pixel; ++pixel)
                line += *pixel == '#' ? c : ' ';
        }
        lines.push_back(line);
    }
    lines.emplace_back();
    for (size_t shift = 0; lines.size() < PageLines; ++shift) {
        std::string line;
        for (size_t k = 0; k < LineWidth; ++k)
            line += static_cast<char>(FirstChar + 1 + (shift + k) % (GlyphCount - 1));
        lines.push_back(line);
    }
    return lines;
}

void PutGlyph(std::vector<uint8_t>& out, size_t at, char c) {
    for (int row = 0; row < 7; ++row) PutRow(out, at + 1 + row, GlyphOf(c).rows[row]);
}

std::vector<uint8_t> MakeSample() {
    std::vector<uint8_t> out(FileSize);
    for (size_t i = 0; i < GlyphCount; ++i) PutGlyph(out, 8 * i, static_cast<char>(FirstChar + i));
    std::vector<std::string> lines = PageText();
    for (size_t r = 0; r < lines.size(); ++r) {
        for (size_t k = 0; k < lines[r].size(); ++k)
            PutGlyph(out, (k + 2) * ColumnBytes + 8 * r, lines[r][k]);
    }

    // Noise from a fixed linear congruential sequence, so every run gives the same file.
    uint32_t seed = 0x1234567u;
    for (size_t at = NoiseOffset; at < FileSize; ++at) {
        seed = seed * 1103515245u + 12345u;
        out[at] = static_cast<uint8_t>(seed >> 16);
    }
    size_t at = SpriteOffset;
    for (const auto* sprite : {Smiley, Ship, Arrow}) {
        for (int row = 0; row < 16; ++row, at += 2) {
            out[at] = out[at + 1] = 0;
            PutRow(out, at, sprite[row]);
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr, "usage: make-sample OUT\n"
                                                  "Writes the sample sprite file to OUT.\n");
        return argc == 2 ? 0 : 2;
    }
    std::vector<uint8_t> bytes = MakeSample();
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "%s: could not write the whole file\n", argv[1]);
        return 1;
    }
    return 0;
}
