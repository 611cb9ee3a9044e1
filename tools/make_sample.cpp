// Writes samples/sprites.bin: a few 1-bit sprites and an 8x8 font at known offsets, with
// deterministic noise around them, for trying the viewer out.
//
//   make-sample OUT
//
// Layout (see samples/README.md):
//   0x000  256 bytes of noise
//   0x100  three 16x16 sprites, 2 bytes per row, 32 bytes each: smiley, ship, arrow
//   0x160  160 bytes of noise
//   0x200  an 8x8 font, 1 byte per row, 8 bytes per glyph: "0123456789PIXMOLE"
//   0x288  376 bytes of noise (the file is 1024 bytes)
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t FileSize = 0x400;
constexpr size_t SpriteOffset = 0x100;
constexpr size_t FontOffset = 0x200;

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

struct Glyph {
    char name;
    const char* rows[8];
};
const Glyph Font[] = {
    {'0',
     {"..####..", ".##..##.", ".##.###.", ".###.##.", ".##..##.", ".##..##.", "..####..",
      "........"}},
    {'1',
     {"...##...", "..###...", "...##...", "...##...", "...##...", "...##...", ".######.",
      "........"}},
    {'2',
     {"..####..", ".##..##.", ".....##.", "....##..", "...##...", "..##....", ".######.",
      "........"}},
    {'3',
     {"..####..", ".##..##.", ".....##.", "...###..", ".....##.", ".##..##.", "..####..",
      "........"}},
    {'4',
     {"....##..", "...###..", "..####..", ".##.##..", ".######.", "....##..", "....##..",
      "........"}},
    {'5',
     {".######.", ".##.....", ".#####..", ".....##.", ".....##.", ".##..##.", "..####..",
      "........"}},
    {'6',
     {"..####..", ".##.....", ".#####..", ".##..##.", ".##..##.", ".##..##.", "..####..",
      "........"}},
    {'7',
     {".######.", ".....##.", "....##..", "...##...", "..##....", "..##....", "..##....",
      "........"}},
    {'8',
     {"..####..", ".##..##.", ".##..##.", "..####..", ".##..##.", ".##..##.", "..####..",
      "........"}},
    {'9',
     {"..####..", ".##..##.", ".##..##.", "..#####.", ".....##.", "....##..", "..###...",
      "........"}},
    {'P',
     {".#####..", ".##..##.", ".##..##.", ".#####..", ".##.....", ".##.....", ".##.....",
      "........"}},
    {'I',
     {".######.", "...##...", "...##...", "...##...", "...##...", "...##...", ".######.",
      "........"}},
    {'X',
     {".##..##.", ".##..##.", "..####..", "...##...", "..####..", ".##..##.", ".##..##.",
      "........"}},
    {'M',
     {".##...##", ".###.###", ".#######", ".##.#.##", ".##...##", ".##...##", ".##...##",
      "........"}},
    {'O',
     {"..####..", ".##..##.", ".##..##.", ".##..##.", ".##..##.", ".##..##.", "..####..",
      "........"}},
    {'L',
     {".##.....", ".##.....", ".##.....", ".##.....", ".##.....", ".##.....", ".######.",
      "........"}},
    {'E',
     {".######.", ".##.....", ".##.....", ".#####..", ".##.....", ".##.....", ".######.",
      "........"}},
};

// Packs one drawn row into bytes, the leftmost pixel in bit 7 of the first byte.
void PutRow(std::vector<uint8_t>& out, size_t at, const char* row) {
    size_t width = std::strlen(row);
    for (size_t x = 0; x < width; ++x) {
        if (row[x] == '#') out[at + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
}

std::vector<uint8_t> MakeSample() {
    std::vector<uint8_t> out(FileSize);
    // Noise from a fixed linear congruential sequence, so every run gives the same file.
    uint32_t seed = 0x1234567u;
    for (auto& byte : out) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    size_t at = SpriteOffset;
    for (const auto* sprite : {Smiley, Ship, Arrow}) {
        for (int row = 0; row < 16; ++row, at += 2) {
            out[at] = out[at + 1] = 0;
            PutRow(out, at, sprite[row]);
        }
    }
    at = FontOffset;
    for (const Glyph& glyph : Font) {
        for (const char* row : glyph.rows) {
            out[at] = 0;
            PutRow(out, at++, row);
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
