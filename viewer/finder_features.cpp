// What a stretch of bytes looks like when its rows are taken to be `width` bytes wide: the
// measures the finder's model judges.
//
// A picture is a picture wherever one looks: every pixel column changes down much less often than
// its pixels would in random order, and every pixel row across; 2 x 2 squares are mostly of one
// colour or split by one edge. Tables are pictures only in places: the high bytes of their numbers
// stand still while the low bits change at random, fields meet without a stroke running on from
// one to the next, and squares with one odd pixel are as common as in noise. Machine code, text
// and compressed data look like noise everywhere. The measures are shares and ratios, so that
// they mean the same in a small sprite and a large font, and they are the same for a picture and
// its inverse.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "viewer/finder_internal.h"

namespace viewer::finder {

const char* const FeatureNames[FeatureCount] = {
    "log_width",  "log_rows",     "near_far",    "half_width",     "double_width",  "changes",
    "active",     "blank",        "ink",         "vertical_noise", "noisy_columns", "live_columns",
    "horizontal", "edge_noise",   "corners",     "checkers",       "uniform",       "repeated_ink",
    "set_pairs",  "high_bits",    "progression", "ascii",          "small_numbers", "distinct",
    "blank_rows", "repeated_rows"};

namespace {

constexpr int FarRows = 7;

// Bit k of a byte as byte k of a word: adding these words counts every bit position at once.
constexpr std::array<uint64_t, 256> MakeSpread() {
    std::array<uint64_t, 256> table{};
    for (int v = 0; v < 256; ++v)
        for (int k = 0; k < 8; ++k) table[v] |= uint64_t((v >> k) & 1) << (8 * k);
    return table;
}
constexpr std::array<uint64_t, 256> Spread = MakeSpread();

// Per-bit counters of one byte column, counted in bytes of a word for up to 255 rows at a time.
struct BitCounts {
    std::array<uint32_t, 8> bits{};
    uint64_t packed = 0;
    void Add(uint8_t v) { packed += Spread[v]; }
    void Flush() {
        for (int k = 0; k < 8; ++k) bits[size_t(k)] += uint32_t((packed >> (8 * k)) & 0xFF);
        packed = 0;
    }
};

struct ColumnCounts {
    BitCounts ones, down; // set pixels; changes to the row below
};

constexpr uint64_t High = 0x8080808080808080ULL;
constexpr uint64_t Bit0 = 0x0101010101010101ULL;

// Bit 7 of each byte of the word that is not 0; of each byte that is 0.
inline uint64_t NonZeroBytes(uint64_t v) {
    return (((v & Low7) + Low7) | v) & High;
}
inline uint64_t ZeroBytes(uint64_t v) {
    return ~NonZeroBytes(v) & High;
}
inline int Bits(uint64_t v) {
    return __builtin_popcountll(v);
}

inline double Share(double part, double whole) {
    return whole > 0 ? part / whole : 0;
}

// Whether a byte column steps by one amount from row to row more often than not: a counter or the
// low byte of sorted offsets. The rows of a picture change in many different ways.
bool Progresses(const uint8_t* b, int64_t rows, int w) {
    constexpr uint32_t MinChanges = 16, MinDistinct = 16;
    if (rows - 1 < int64_t{MinChanges}) return false; // too few steps in any column
    std::array<uint32_t, 256> steps;
    for (int c = 0; c < w; ++c) {
        steps.fill(0);
        std::array<uint64_t, 4> values{}; // which byte values the column holds
        uint32_t changes = 0, most = 0;
        for (int64_t r = 0; r + 1 < rows; ++r) {
            const uint8_t x = b[r * w + c], y = b[(r + 1) * w + c];
            values[x >> 6] |= uint64_t{1} << (x & 63);
            const unsigned step = unsigned(y - x) & 0xFF;
            if (step == 0) continue;
            most = std::max(most, ++steps[step]);
            ++changes;
        }
        int distinct = 0;
        for (uint64_t v : values) distinct += __builtin_popcountll(v);
        if (distinct < int(MinDistinct) || changes < MinChanges) continue; // a column of few pixels
        if (most > 0.4 * changes) return true;
    }
    return false;
}

} // namespace

FINDER_POPCOUNT_CLONES NearFar MeasureNearFar(const uint8_t* bytes, int64_t size, int64_t first,
                                              int64_t last, int width) {
    NearFar m;
    last = std::min(last, size);
    if (width < 1 || last - first < 2 * int64_t{width}) return m;
    auto count = [&](int64_t distance, uint64_t& bits) {
        int64_t i = first;
        const int64_t end = last - distance; // pairs (i, i + distance) inside [first, last)
        for (; i + 8 <= end; i += 8) {
            bits +=
                uint64_t(__builtin_popcountll(Load64(bytes + i) ^ Load64(bytes + i + distance)));
        }
        for (; i < end; ++i) bits += BitCount[bytes[i] ^ bytes[i + distance]];
    };
    count(width, m.nearBits);
    count(int64_t{FarRows} * width, m.farBits);
    // Per pair: the far distance has fewer pairs; weigh both alike.
    const int64_t length = last - first;
    const int64_t nearPairs = length - width, farPairs = length - int64_t{FarRows} * width;
    if (farPairs <= 0) {
        m.farBits = 0;
        return m;
    }
    m.farBits = uint64_t(double(m.farBits) * double(nearPairs) / double(farPairs));
    return m;
}

FINDER_POPCOUNT_CLONES Features MeasureRegion(const uint8_t* bytes, int64_t size, int64_t first,
                                              int64_t last, int width) {
    Features f{};
    const int w = width;
    last = std::min(last, size);
    const int64_t rows = w < 1 ? 0 : (last - first) / w;
    f[LogWidth] = float(std::log2(std::max(w, 1)));
    f[LogRows] = float(std::log2(double(std::max<int64_t>(rows, 1))));
    if (rows < 4) return f;
    last = first + rows * w;
    const uint8_t* b = bytes + first;
    const int64_t n = rows * w;

    // Bytes one at a time: texture, background, text, numbers.
    uint64_t zeros = 0, ffs = 0, changes = 0, ascii = 0, small = 0;
    std::array<uint64_t, 4> values{};
    for (int64_t i = 0; i < n; ++i) {
        const uint8_t v = b[i];
        zeros += v == 0;
        ffs += v == 0xFF;
        changes += BitCount[(v ^ (v >> 1)) & 0x7F];
        ascii += v >= 0x20 && v < 0x7F;
        small += v >= 0x01 && v <= 0x0F;
        values[v >> 6] |= uint64_t{1} << (v & 63);
    }
    const uint8_t background = ffs > zeros ? 0xFF : 0x00;
    const int64_t active = n - int64_t(zeros) - int64_t(ffs);
    f[ChangesPerByte] = float(Share(double(changes), double(active)));
    f[ActiveShare] = float(Share(double(active), double(n)));
    f[BlankShare] = float(Share(double(std::max(zeros, ffs)), double(n)));
    f[AsciiShare] = float(Share(double(ascii), double(n)));
    f[SmallNumbers] = float(Share(double(small), double(n)));
    int distinct = 0;
    for (uint64_t v : values) distinct += __builtin_popcountll(v);
    f[DistinctBytes] = float(Share(distinct, double(std::min<int64_t>(n, 256))));

    // Pixels: per pixel column, its set pixels and changes down and across; 2 x 2 squares; ink
    // (pixels other than the background) and how it repeats.
    std::vector<ColumnCounts> columns(static_cast<size_t>(w));
    uint64_t ink = 0, setPixels = 0, setPairs = 0, high = 0, inked = 0, repeated = 0, across = 0;
    uint64_t corners = 0, checkers = 0, uniform = 0, blankRows = 0, inkedRows = 0, sameRows = 0;
    uint64_t edges = 0; // changes from bit 0 of a byte to bit 7 of the next in the same row
    // Each byte's own pixels, eight bytes at a time (a shift moves a bit into the neighbouring
    // byte only at bit 7 or bit 0, which the masks leave out).
    const uint64_t fill = background * Bit0;
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint64_t x = Load64(b + i), v = x ^ fill;
        ink += uint64_t(Bits(v));
        setPixels += uint64_t(Bits(v & Low7));
        setPairs += uint64_t(Bits(v & (v >> 1) & Low7));
        high += uint64_t(Bits((v | (v << 1)) & High));
        across += uint64_t(Bits((x ^ (x >> 1)) & Low7));
    }
    for (; i < n; ++i) {
        const uint8_t x = b[i], v = uint8_t(x ^ background);
        ink += BitCount[v];
        setPixels += BitCount[v & 0x7F];
        setPairs += BitCount[v & (v >> 1) & 0x7F];
        high += (v & 0xC0) != 0;
        across += BitCount[(x ^ (x >> 1)) & 0x7F];
    }
    // Each byte against the one below it: 2 x 2 squares, ink that repeats.
    for (i = 0; i + 8 <= n - w; i += 8) {
        const uint64_t x = Load64(b + i), y = Load64(b + i + w), d = x ^ y;
        const uint64_t hx = (x ^ (x >> 1)) & Low7, hy = (y ^ (y >> 1)) & Low7;
        const uint64_t live = NonZeroBytes(x ^ fill);
        corners += uint64_t(Bits(hx ^ hy));
        checkers += uint64_t(Bits(hx & hy & d & (d >> 1)));
        uniform += uint64_t(Bits(~(hx | hy | d) & Low7));
        inked += uint64_t(Bits(live));
        repeated += uint64_t(Bits(live & ZeroBytes(d)));
    }
    for (; i < n - w; ++i) {
        const uint8_t x = b[i], y = b[i + w], v = uint8_t(x ^ background), d = uint8_t(x ^ y);
        const uint8_t hx = uint8_t((x ^ (x >> 1)) & 0x7F), hy = uint8_t((y ^ (y >> 1)) & 0x7F);
        corners += BitCount[hx ^ hy];
        checkers += BitCount[hx & hy & d & (d >> 1)];
        uniform += BitCount[~(hx | hy | d) & 0x7F];
        inked += v != 0;
        repeated += v != 0 && x == y;
    }
    // Bit 0 of each byte against bit 7 of the next, then less the pairs that span two rows.
    if (w > 1) {
        for (i = 0; i + 9 <= n; i += 8)
            edges += uint64_t(Bits((Load64(b + i) ^ (Load64(b + i + 1) >> 7)) & Bit0));
        for (; i + 1 < n; ++i) edges += unsigned((b[i] & 1) != (b[i + 1] >> 7));
        for (int64_t r = 1; r < rows; ++r) edges -= unsigned((b[r * w - 1] & 1) != (b[r * w] >> 7));
    }
    // Per pixel column, its set pixels and changes down; blank rows and rows like the next.
    for (int64_t r = 0; r < rows; ++r) {
        const uint8_t* row = b + r * w;
        const uint8_t* below = r + 1 < rows ? row + w : nullptr;
        bool blank = true, same = below != nullptr;
        for (int c = 0; c < w; ++c) {
            const uint8_t x = row[c];
            ColumnCounts& col = columns[size_t(c)];
            col.ones.Add(x);
            blank &= x == background;
            if (below == nullptr) continue;
            const uint8_t d = uint8_t(x ^ below[c]);
            col.down.Add(d);
            same &= d == 0;
        }
        blankRows += blank;
        if (!blank) {
            ++inkedRows;
            sameRows += same;
        }
        if (r % 255 == 254 || r + 1 == rows)
            for (ColumnCounts& col : columns) {
                col.ones.Flush();
                col.down.Flush();
            }
    }
    f[InkShare] = float(Share(double(ink), 8.0 * double(n)));
    f[SetPairs] = float(Share(double(setPairs), double(setPixels)));
    f[HighBits] = float(Share(double(high), double(n)));
    f[RepeatedInk] = float(Share(double(repeated), double(inked)));
    const double squares = 7.0 * double(rows - 1) * w;
    f[Corners] = float(Share(double(corners), squares));
    f[Checkers] = float(Share(double(checkers), squares));
    f[Uniform] = float(Share(double(uniform), squares));
    f[BlankRows] = float(Share(double(blankRows), double(rows)));
    f[RepeatedRows] = float(Share(double(sameRows), double(inkedRows)));

    // Changes against what the same pixels would show in random order: 2 p (1 - p) per pair for
    // a column with a share p of set pixels.
    const double R = double(rows);
    auto p = [&](int c, int k) { return double(columns[size_t(c)].ones.bits[size_t(k)]) / R; };
    double downSeen = 0, downExpected = 0, acrossExpected = 0, edgeExpected = 0;
    const double acrossSeen = double(across), edgeSeen = double(edges);
    int live = 0, noisy = 0;
    for (int c = 0; c < w; ++c) {
        const ColumnCounts& col = columns[size_t(c)];
        for (int k = 0; k < 8; ++k) {
            const uint32_t ones = col.ones.bits[size_t(k)];
            if (ones < 2 || ones + 2 > rows) continue;
            const double q = p(c, k), expected = 2 * q * (1 - q) * (R - 1);
            ++live;
            downSeen += col.down.bits[size_t(k)];
            downExpected += expected;
            noisy += col.down.bits[size_t(k)] >= 0.75 * expected;
        }
        for (int k = 0; k < 7; ++k) { // bit k + 1 is the left neighbour of bit k
            const double a = p(c, k + 1), z = p(c, k);
            acrossExpected += R * (a * (1 - z) + z * (1 - a));
        }
        if (c + 1 < w) {
            const double a = p(c, 0), z = p(c + 1, 7);
            edgeExpected += R * (a * (1 - z) + z * (1 - a));
        }
    }
    f[VerticalNoise] = float(Share(downSeen, downExpected));
    f[NoisyColumns] = float(Share(noisy, live));
    f[LiveColumns] = float(live / (8.0 * w));
    f[HorizontalNoise] = float(Share(acrossSeen, acrossExpected));
    f[EdgeNoise] = edgeExpected > 0 ? float(edgeSeen / edgeExpected) : 1.0f;
    f[Progression] = Progresses(b, rows, w) ? 1.0f : 0.0f;

    // The width against its neighbours: a divisor or a double that fits as well is a sign that
    // the rows are records or glyphs side by side rather than pixel rows.
    const double ratio = MeasureNearFar(bytes, size, first, last, w).Ratio();
    f[NearFarRatio] = float(ratio);
    int divisor = 0;
    for (int d = w / 2; d >= 1 && divisor == 0; --d)
        if (w % d == 0) divisor = d;
    const double floor = std::max(ratio, 0.05);
    f[HalfWidthRatio] =
        divisor == 0 ? 2.0f
                     : float(std::min(
                           4.0, MeasureNearFar(bytes, size, first, last, divisor).Ratio() / floor));
    f[DoubleWidthRatio] =
        float(std::min(4.0, MeasureNearFar(bytes, size, first, last, 2 * w).Ratio() / floor));
    return f;
}

} // namespace viewer::finder
