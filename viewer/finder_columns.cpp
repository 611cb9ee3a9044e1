// Rows that are really pixel columns. Small screens store glyphs one byte per pixel column (K bytes
// a column for glyphs taller than 8 pixels): read as rows at width K such a font looks like
// graphics too, its glyphs turned a quarter. What tells the two apart:
// - the blank columns between glyphs, which stand at the glyph's stride (3 to 16 columns);
// - strokes: in letters the vertical ones are the longer, so where the rows are really columns
//   set pixels meet their neighbours across a row more often than down a column;
// - where the ink lies across the K bytes (the baseline, the spacing column).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "viewer/finder_internal.h"

namespace viewer::finder {

const char* const ColumnFeatureNames[ColumnFeatureCount] = {
    "k",           "lsb",          "blank",       "period_blank", "period",      "period_excess",
    "first_bit",   "last_bit",     "byte_spread", "bit_spread",   "live_bits",   "ink_range",
    "glyph_range", "glyph_spread", "glyph_peak",  "glyph_low",    "pairs_ratio", "runs_ratio"};

namespace {

constexpr int MinPeriod = 3, MaxPeriod = 16;
constexpr int64_t MinPeriods = 8;    // whole periods a stride needs to be measured
constexpr int64_t MaxRows = 1 << 14; // rows measured at most (from the region's start)
constexpr double NearlyBest = 0.9;   // the smallest period this close to the best is taken

double Spread(const float* values, int count) {
    double sum = 0, squares = 0;
    for (int i = 0; i < count; ++i) {
        sum += values[i];
        squares += double(values[i]) * values[i];
    }
    const double mean = sum / count;
    return std::sqrt(std::max(0.0, squares / count - mean * mean));
}

// Rows of K bytes from `first` measured as pixel columns, read with bit 0 or bit 7 left.
ColumnReading MeasureColumns(const uint8_t* bytes, int64_t first, int64_t last, int k, bool lsb) {
    ColumnReading reading;
    ColumnFeatures& f = reading.features;
    f[ColumnK] = float(k);
    f[ColumnLsb] = lsb ? 1.0f : 0.0f;
    const int bits = 8 * k;
    const int64_t rows = std::min(MaxRows, (last - first) / k);
    if (k < 1 || k > MaxColumnBytes || rows < 2) return reading;

    const uint8_t background = BackgroundOf(bytes, first, first + rows * k);

    // Each row as one value, pixel x at bit x (bit 0 left) or at bit 8K - 1 - x (bit 7 left).
    std::vector<uint32_t> row(static_cast<size_t>(rows));
    for (int64_t r = 0; r < rows; ++r) {
        uint32_t v = 0;
        for (int j = 0; j < k; ++j) {
            const uint32_t b = bytes[first + r * k + j] ^ background;
            v = lsb ? v | b << (8 * j) : v << 8 | b;
        }
        row[size_t(r)] = v;
    }
    auto pixelBit = [&](int x) { return lsb ? x : bits - 1 - x; };

    // Blank rows, and the stride at which they stand.
    int64_t blank = 0;
    for (uint32_t v : row) blank += v == 0;
    f[ColumnBlank] = float(double(blank) / double(rows));
    double best = 0;
    std::array<std::pair<double, int>, MaxPeriod + 1> share{}; // per period: share, phase
    for (int g = MinPeriod; g <= MaxPeriod; ++g) {
        const int64_t periods = rows / g;
        if (periods < MinPeriods) break;
        for (int p = 0; p < g; ++p) {
            int64_t n = 0;
            for (int64_t i = 0; i < periods; ++i) n += row[size_t(i * g + p)] == 0;
            const double s = double(n) / double(periods);
            if (s > share[size_t(g)].first) share[size_t(g)] = {s, p};
        }
        best = std::max(best, share[size_t(g)].first);
    }
    if (best > 0) {
        for (int g = MinPeriod; g <= MaxPeriod; ++g)
            if (share[size_t(g)].first >= NearlyBest * best) {
                reading.period = g;
                reading.phase = (share[size_t(g)].second + 1) % g; // a glyph starts after its gap
                break;
            }
    }
    f[ColumnPeriodBlank] = float(best);
    f[ColumnPeriod] = float(reading.period);
    f[ColumnPeriodExcess] = float(best - f[ColumnBlank]);

    // Ink at each pixel of the rows, strokes across and down, and runs across and down.
    std::array<float, 32> ink{};
    std::array<int64_t, 32> inkCount{};
    int64_t across = 0, down = 0, runsAcross = 0, runsDown = 0;
    for (int64_t r = 0; r < rows; ++r) {
        const uint32_t v = row[size_t(r)], above = r > 0 ? row[size_t(r - 1)] : 0;
        for (uint32_t rest = v; rest != 0; rest &= rest - 1)
            ++inkCount[size_t(__builtin_ctz(rest))];
        across += __builtin_popcount(v & v >> 1);
        down += __builtin_popcount(v & above);
        runsAcross += __builtin_popcount(v & ~(v >> 1));
        runsDown += __builtin_popcount(v & ~above);
    }
    for (int x = 0; x < bits; ++x)
        ink[size_t(x)] = float(double(inkCount[size_t(pixelBit(x))]) / double(rows));
    f[ColumnFirstBit] = ink[0];
    f[ColumnLastBit] = ink[size_t(bits - 1)];
    f[ColumnByteSpread] = float(Spread(ink.data(), 8));
    f[ColumnBitSpread] = float(Spread(ink.data(), bits));
    const auto [low, high] = std::minmax_element(ink.begin(), ink.begin() + bits);
    f[ColumnLiveBits] = float(
        double(std::count_if(ink.begin(), ink.begin() + bits, [](float v) { return v > 0.02f; })) /
        bits);
    f[ColumnInkRange] = *high - *low;
    f[ColumnPairsRatio] = float(double(across) / double(std::max<int64_t>(1, down)));
    f[ColumnRunsRatio] = float(double(runsDown) / double(std::max<int64_t>(1, runsAcross)));

    // Ink along the glyph: at each of its columns, from the column after the gap.
    const int g = reading.period;
    if (g > 0 && (rows - reading.phase) / g >= 4) {
        const int64_t glyphs = (rows - reading.phase) / g;
        std::array<float, MaxPeriod> along{};
        for (int j = 0; j < g; ++j) {
            int64_t n = 0;
            for (int64_t i = 0; i < glyphs; ++i)
                n += __builtin_popcount(row[size_t(reading.phase + i * g + j)]);
            along[size_t(j)] = float(double(n) / double(glyphs * bits));
        }
        const auto [lowest, highest] = std::minmax_element(along.begin(), along.begin() + g);
        f[ColumnGlyphRange] = *highest - *lowest;
        f[ColumnGlyphSpread] = float(Spread(along.data(), g));
        f[ColumnGlyphPeak] = float(double(highest - along.begin()) / g);
        f[ColumnGlyphLow] = float(double(lowest - along.begin()) / g);
    }
    return reading;
}

// How many bytes of [first, last) have each bit set.
std::array<int64_t, 8> InkAtBits(const uint8_t* bytes, int64_t first, int64_t last) {
    std::array<int64_t, 8> inkAt{};
    for (int64_t i = first; i < last; ++i)
        for (int b = 0; b < 8; ++b) inkAt[size_t(b)] += (bytes[i] >> b) & 1;
    return inkAt;
}

} // namespace

ColumnReading ReadAsColumns(const uint8_t* bytes, const GraphicsRegion& region) {
    const int k = region.width;
    const int64_t last = region.first + region.length;
    // The rows found may start at any byte of a column: the start whose joins change least is the
    // column's first byte. Read with bit 0 left the rows are columns with bit 0 on top, with bit 7
    // left bit 7 on top. The rows' bit order needed clear strokes to leave bit 7 left; a font's
    // strokes down a column cross from one byte to the next, so here the order whose joins change
    // less is taken. One byte a column has no joins: it stays as read.
    bool top0 = region.layout.kind == LayoutKind::RowsLsb;
    int shift = 0;
    double calmest = 2;
    for (int s = 0; s < k; ++s)
        if (const std::optional<ByteJoins> joins = JoinsOf(bytes, region.first + s, last, k)) {
            if (std::min(joins->lsbRate, joins->msbRate) >= calmest) continue;
            calmest = std::min(joins->lsbRate, joins->msbRate);
            top0 = joins->lsbRate < joins->msbRate;
            shift = s;
        }
    ColumnReading reading = MeasureColumns(bytes, region.first + shift, last, k, top0);
    reading.first = region.first + shift;
    reading.topBit0 = top0;
    return reading;
}

int InkedBits(const uint8_t* bytes, int64_t first, int64_t last) {
    constexpr double MinShare = 0.05;
    const int64_t inked = std::count_if(bytes + first, bytes + last, [](uint8_t b) { return b; });
    const std::array<int64_t, 8> inkAt = InkAtBits(bytes, first, last);
    return int(std::count_if(inkAt.begin(), inkAt.end(),
                             [&](int64_t n) { return n > 0 && n >= MinShare * double(inked); }));
}

namespace {

// a / b rounded down, for b > 0.
int64_t Floor(int64_t a, int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Glyphs stand apart, between runs of zero bytes that hold a whole blank column (a blank row of
// rows K bytes wide); what lies in one or two columns (a header before each glyph) is none. Read as
// columns, letters and digits are taller than wide; read as rows, the same glyphs turned a quarter
// are wider than tall. Glyphs kept in cells of a stride that is not a whole number of columns
// (arrays aligned to 32 bytes, 3 bytes a column) say so too: rows would shift from one glyph to the
// next.
constexpr double MaxColumnsAspect = 0.8; // letters and digits: about 0.5 to 0.7
struct GlyphShapes {
    double columnsAspect = 0; // median width / height of the glyphs read as columns
    int64_t cell = 0;      // the cells' stride in bytes; 0 where the glyphs keep none or are wide
    int64_t cellFirst = 0; // a cell's first byte: its glyph in the middle, its columns whole
};

GlyphShapes ShapesOf(const uint8_t* bytes, int64_t first, int64_t last, int k, bool topBit0) {
    constexpr size_t MaxGlyphsMeasured = 1024, MinGlyphsMeasured = 8;
    constexpr int64_t MaxCell = 256, MaxMeasured = 4096;
    constexpr double NearlyBestCell = 0.95, MinHeaderShare = 0.7;
    struct Glyph {
        int64_t first, last, columnFirst; // bytes drawn, and the first byte of its first column
        double aspect;
    };
    std::vector<Glyph> glyphs;
    for (int64_t at = first; at < last && glyphs.size() < MaxGlyphsMeasured;) {
        while (at < last && bytes[at] == 0) ++at;
        if (at >= last) break;
        int64_t end = at, zeros = 0;
        for (; end < last && zeros < 2 * k - 1; ++end) zeros = bytes[end] == 0 ? zeros + 1 : 0;
        const int64_t drawnLast = end - zeros;
        // The glyph's first byte may be any of its column's: the one that draws it shortest.
        Glyph glyph{at, drawnLast, at, 0};
        int height = 8 * k + 1;
        for (int q = 0; q < k; ++q) {
            uint32_t ink = 0;
            for (int64_t i = at; i < drawnLast; ++i)
                ink |= uint32_t(topBit0 ? bytes[i] : ReversedBits[bytes[i]])
                       << (8 * ((i - at + q) % k));
            const int h = 32 - __builtin_clz(ink) - __builtin_ctz(ink);
            if (h < height) {
                height = h;
                glyph.columnFirst = at - q;
                glyph.aspect = double((drawnLast - glyph.columnFirst + k - 1) / k) / h;
            }
        }
        if (drawnLast - glyph.columnFirst > 2 * k) glyphs.push_back(glyph);
        at = end;
    }
    GlyphShapes shapes;
    if (glyphs.size() < MinGlyphsMeasured) return shapes;
    std::vector<double> aspects;
    for (const Glyph& g : glyphs) aspects.push_back(g.aspect);
    std::nth_element(aspects.begin(), aspects.begin() + long(aspects.size() / 2), aspects.end());
    shapes.columnsAspect = aspects[aspects.size() / 2];
    if (shapes.columnsAspect > MaxColumnsAspect) return shapes; // no cells asked for
    if (InkedBits(bytes, first, std::min(last, first + MaxMeasured)) < MinInkedBits) return shapes;
    // The cells: the stride at which the bytes repeat best, as the mean over its first three
    // multiples (a cell's blank columns and padding stand at the same places).
    const int64_t measured = std::min<int64_t>(last - first, MaxMeasured);
    auto sameAt = [&](int64_t lag) {
        int64_t same = 0;
        for (int64_t i = first; i + lag < first + measured; ++i) same += bytes[i] == bytes[i + lag];
        return double(same) / double(measured - lag);
    };
    // The smallest nearly as good as the best: a cell's multiples repeat about as well as it.
    std::array<double, MaxCell + 1> comb{};
    double best = 0;
    for (int64_t cell = 4 * k; cell <= MaxCell && 4 * cell <= measured; ++cell) {
        comb[size_t(cell)] = (sameAt(cell) + sameAt(2 * cell) + sameAt(3 * cell)) / 3;
        best = std::max(best, comb[size_t(cell)]);
    }
    for (int64_t cell = 4 * k; cell <= MaxCell && shapes.cell == 0; ++cell)
        if (best > 0 && comb[size_t(cell)] >= NearlyBestCell * best) shapes.cell = cell;
    if (shapes.cell == 0) return shapes;
    // Where the cells start: at a column's first byte of the median glyph (by its place in its
    // cell), where the fewest glyphs cross from one cell to the next; then at the most aligned
    // byte (arrays start at multiples of 16 or 32), then with the glyph nearest the middle.
    std::vector<std::pair<int64_t, size_t>> places;
    for (size_t i = 0; i < glyphs.size(); ++i) places.push_back({glyphs[i].first % shapes.cell, i});
    std::nth_element(places.begin(), places.begin() + long(places.size() / 2), places.end());
    const Glyph& g = glyphs[places[places.size() / 2].second];
    int64_t cellFirst = g.columnFirst;
    std::tuple<int64_t, int, int64_t> fittest{INT64_MAX, 0, 0}; // crossing, -aligned, off middle
    for (int64_t c = g.columnFirst; c + shapes.cell >= g.last; c -= k) {
        int64_t crossing = 0;
        for (const Glyph& other : glyphs)
            crossing +=
                Floor(other.first - c, shapes.cell) != Floor(other.last - 1 - c, shapes.cell);
        const int aligned = -std::min(5, c == 0 ? 5 : __builtin_ctzll(uint64_t(c)));
        const int64_t offMiddle = std::abs((g.first - c) - (c + shapes.cell - g.last));
        if (std::tuple{crossing, aligned, offMiddle} < fittest) {
            fittest = {crossing, aligned, offMiddle};
            cellFirst = c;
        }
    }
    shapes.cellFirst = first - ((first - cellFirst) % shapes.cell + shapes.cell) % shapes.cell;
    // Records of rows with a header before each glyph keep their stride too: a byte that counts up
    // from one cell to the next (a character code) or keeps one small value (a width) is a
    // header's, not a column's.
    const int64_t cells = (last - shapes.cellFirst) / shapes.cell;
    for (int64_t o = 0; o < shapes.cell && cells >= 4; ++o) {
        int64_t counted = 0;
        for (int64_t c = 1; c < cells; ++c) {
            const int64_t at = shapes.cellFirst + c * shapes.cell + o;
            if (at - shapes.cell < first) continue;
            const uint8_t was = bytes[at - shapes.cell], is = bytes[at];
            counted += is == uint8_t(was + 1) || (is == was && is != 0 && is < 0x20);
        }
        if (double(counted) >= MinHeaderShare * double(cells - 1)) {
            shapes.cell = 0;
            break;
        }
    }
    return shapes;
}

} // namespace

GraphicsRegion AsColumnsIfSo(const uint8_t* bytes, const GraphicsRegion& region) {
    const int k = region.width;
    if (k < MinFoundColumnBytes || k > MaxFoundColumnBytes || IsColumnLayout(region.layout.kind))
        return region;
    const ColumnReading reading = ReadAsColumns(bytes, region);
    GraphicsRegion columns = region;
    columns.layout = {reading.topBit0 ? LayoutKind::Columns : LayoutKind::ColumnsMsb, k};
    if (reading.period != 0 && ColumnScore(reading.features) >= MinColumnScore) {
        columns.width = reading.period * k;
        columns.first = reading.first + reading.phase * k;
    } else {
        // Glyphs taller than wide as columns, in cells that rows could not keep.
        const GlyphShapes shapes =
            ShapesOf(bytes, region.first, region.first + region.length, k, reading.topBit0);
        if (shapes.cell == 0 || shapes.cell % k == 0) return region;
        columns.width = int(shapes.cell);
        columns.first = std::max<int64_t>(0, shapes.cellFirst);
    }
    columns.length = region.first + region.length - columns.first;
    return columns;
}

// ---- Fonts one byte a pixel column -------------------------------------------------------------

namespace {

// A window of such a font: few bytes with the blank row's bit set, most bytes neither 0x00 nor
// 0xFF, some below the printable ones (text has none), at most half of them blank.
constexpr int MaxInBlankRow = 8;
constexpr int64_t MinActive = WindowBytes * 2 / 5, MinSmall = WindowBytes / 20;
constexpr int64_t MinStretchWindows = 2; // 256 bytes
// Strides tried for glyphs with a spacing column, in columns.
constexpr int MinGlyphColumns = 3, MaxGlyphColumns = 16;
// Strides tried for glyphs without a spacing column, and how nearly their own mirror images the
// glyphs must be at the best of them.
constexpr int MaxMirrorColumns = 12;
constexpr double MaxMirrorRatio = 0.85;
constexpr int64_t StridePiece = 320; // bytes a stride is read from at a time
// What a font's measures keep within (IsByteColumnFont). Chosen on the training part of the
// finder's corpus (fonts made from console fonts and the proposals in bytes that hold no graphics)
// with the real fonts of small screens in view: those are more nearly their own mirror images
// (0.52 to 0.68) than any font made from console fonts.
constexpr double MinUprightScore = 0.9, MaxFontMirror = 0.7, MaxRowInk = 0.45, MaxRepeats = 0.25,
                 MaxAlternateZeros = 0.5;
constexpr double FarBeyond = 1.5; // a stretch this far beyond the last two is not read
// Strides of 3 and 4 columns are arrays of 16- and 32-bit numbers far more often than fonts: their
// bytes drawn upright look like pictures too.
constexpr int MinFontColumns = 5;
constexpr int64_t MinGlyphs = 8, MaxGlyphs = 2048;
// A place in the glyph blank in this share of the glyphs is a spacing column.
constexpr double SpacingColumn = 0.75;

// Which rows may be the blank one in a window of such a font: 1 for bit 7, 2 for bit 0, 3 for
// either; 0 for a window no such font fills. Most windows set both bits too often, which eight
// words tell.
FINDER_POPCOUNT_CLONES int BlankRowsOfWindow(const uint8_t* w) {
    int top = 0, bottom = 0;
    for (int64_t i = 0; i < WindowBytes; i += 8) {
        const uint64_t v = Load64(w + i);
        top += __builtin_popcountll(v & 0x8080808080808080ULL);
        bottom += __builtin_popcountll(v & 0x0101010101010101ULL);
    }
    if (std::min(top, bottom) > MaxInBlankRow) return 0;
    int active = 0, small = 0, zeros = 0;
    for (int64_t i = 0; i < WindowBytes; ++i) {
        const uint8_t b = w[i];
        active += b != 0 && b != 0xFF;
        small += b != 0 && b < 0x20;
        zeros += b == 0;
    }
    if (active < MinActive || small < MinSmall || zeros > WindowBytes / 2) return 0;
    return (top <= MaxInBlankRow ? 1 : 0) | (bottom <= MaxInBlankRow ? 2 : 0);
}

// Strides of glyphs with a spacing column: 4 to 11 pixel columns and the blank one.
constexpr int MinSpacedColumns = 5, MaxSpacedColumns = 12;
// In a window of such a font the spacing column is blank in at least 4 glyphs of 5, and at most
// one other place in the glyph is blank in half of them (pointers and numbers have zero bytes at
// several places of their stride); a sixteenth to a half of the bytes are zero.
constexpr double MinSpacingBlank = 0.8, MaxOtherBlank = 0.35;

// The zero bytes of a word as eight bits, byte i at bit i.
inline unsigned ZeroBytes(uint64_t v) {
    const uint64_t zeroHigh = ~((((v & Low7) + Low7) | v)) & ~Low7;
    return unsigned(((zeroHigh >> 7) * 0x0102040810204080ULL) >> 56);
}

// Per stride and place in it, the bytes of a window at that place, as a 128-bit mask.
struct StrideMask {
    uint64_t low = 0, high = 0;
};
constexpr auto MakeStrideMasks() {
    std::array<std::array<StrideMask, MaxSpacedColumns>, MaxSpacedColumns + 1> masks{};
    for (int g = MinSpacedColumns; g <= MaxSpacedColumns; ++g)
        for (int i = 0; i < WindowBytes; ++i) {
            StrideMask& m = masks[size_t(g)][size_t(i % g)];
            (i < 64 ? m.low : m.high) |= uint64_t{1} << (i % 64);
        }
    return masks;
}
constexpr auto StrideMasks = MakeStrideMasks();

// The stride and the spacing column's place in a window of a font with a spacing column, the
// smallest stride that fits, as stride * 16 + place from the window's first byte; 0 for none.
FINDER_POPCOUNT_CLONES int SpacingOfWindow(const uint8_t* w) {
    uint64_t low = 0, high = 0;
    for (int i = 0; i < 8; ++i) low |= uint64_t{ZeroBytes(Load64(w + 8 * i))} << (8 * i);
    if (__builtin_popcountll(low) < WindowBytes / 32) return 0; // most windows, in half the work
    for (int i = 0; i < 8; ++i) high |= uint64_t{ZeroBytes(Load64(w + 64 + 8 * i))} << (8 * i);
    const int zeros = __builtin_popcountll(low) + __builtin_popcountll(high);
    if (zeros < WindowBytes / 16 || zeros > WindowBytes / 2) return 0;
    for (int g = MinSpacedColumns; g <= MaxSpacedColumns; ++g) {
        std::array<int, MaxSpacedColumns> blank{}, slots{};
        // The spacing column: blank in most glyphs, the first such after the ink (glyphs often
        // leave a column blank on both sides; the one after the ink is the same in every window).
        for (int p = 0; p < g; ++p) {
            const StrideMask& m = StrideMasks[size_t(g)][size_t(p)];
            slots[size_t(p)] = __builtin_popcountll(m.low) + __builtin_popcountll(m.high);
            blank[size_t(p)] =
                __builtin_popcountll(low & m.low) + __builtin_popcountll(high & m.high);
        }
        auto spacing = [&](int p) {
            return blank[size_t(p)] >= MinSpacingBlank * slots[size_t(p)];
        };
        int place = -1;
        for (int p = 0; p < g; ++p)
            if (spacing(p) && !spacing((p + g - 1) % g) &&
                (place < 0 ||
                 blank[size_t(p)] * slots[size_t(place)] > blank[size_t(place)] * slots[size_t(p)]))
                place = p;
        if (place < 0) continue;
        int halfBlank = 0;
        for (int p = 0; p < g; ++p)
            halfBlank += p != place && 2 * blank[size_t(p)] >= slots[size_t(p)];
        if (halfBlank > 1) continue;
        // A second such place half the stride on: the stride is half as long (numbers' zero high
        // bytes).
        const size_t across = size_t((place + g / 2) % g);
        if (g % 2 == 0 && blank[across] >= MinSpacingBlank * slots[across]) continue;
        const int otherSlots = int(WindowBytes) - slots[size_t(place)];
        if (zeros - blank[size_t(place)] > MaxOtherBlank * otherSlots) continue;
        // Glyphs' bytes below the printable ones, as in the blank-row windows: text has none.
        int small = 0;
        for (int64_t i = 0; i < WindowBytes; ++i) small += w[i] != 0 && w[i] < 0x20;
        return small >= MinSmall ? g * 16 + place : 0;
    }
    return 0;
}

// The glyphs [first, last) of `period` columns drawn upright: 8 pixel rows a glyph, each as many
// bytes as its columns need, bit 7 left.
std::vector<uint8_t> Upright(const uint8_t* bytes, int64_t first, int64_t last, int period,
                             bool topBit0) {
    const int rowBytes = (period + 7) / 8;
    const int64_t glyphs = (last - first) / period;
    std::vector<uint8_t> rows(static_cast<size_t>(glyphs * 8 * rowBytes));
    for (int64_t g = 0; g < glyphs; ++g)
        for (int x = 0; x < period; ++x) {
            const uint8_t column = bytes[first + g * period + x];
            for (int y = 0; y < 8; ++y)
                if ((column >> (topBit0 ? y : 7 - y)) & 1)
                    rows[size_t((g * 8 + y) * rowBytes + x / 8)] |= uint8_t(0x80 >> (x % 8));
        }
    return rows;
}

// Glyphs of `period` columns from `first` against their mirror images: the bits in which each
// glyph's first `drawn` columns differ from the same columns in the other order, against those in
// which they differ from the next glyph's in the other order (what unrelated columns differ by).
// Many letters and digits are their own mirror images (A, H, M, O, T, V, X, 0, 8, ...): about 0.6
// for a font at its stride and phase, about 1 for other bytes.
double MirrorRatio(const uint8_t* bytes, int64_t first, int64_t glyphs, int period, int drawn) {
    int64_t mirrored = 0, unrelated = 0;
    for (int64_t i = 0; i + 1 < glyphs; ++i) {
        const uint8_t* glyph = bytes + first + i * period;
        for (int x = 0; x < drawn / 2; ++x) {
            mirrored += BitCount[glyph[x] ^ glyph[drawn - 1 - x]];
            unrelated += BitCount[glyph[x] ^ glyph[period + drawn - 1 - x]];
        }
    }
    return double(mirrored) / double(std::max<int64_t>(1, unrelated));
}

struct Stride {
    int period = 0, phase = 0;
};

// The stride of glyphs with a spacing column: the one at which a column's ink depends most on its
// place in the glyph (the smallest nearly as telling as the best), where one place is blank in most
// glyphs; the glyphs start after it. None where no place is.
Stride SpacedStride(const uint8_t* bytes, int64_t first, int64_t last) {
    double best = 0;
    std::array<double, MaxGlyphColumns + 1> contrast{};
    std::array<std::array<int64_t, MaxGlyphColumns>, MaxGlyphColumns + 1> blank{};
    for (int g = MinGlyphColumns; g <= MaxGlyphColumns; ++g) {
        const int64_t n = std::min(MaxGlyphs, (last - first) / g);
        if (n < MinGlyphs) break;
        std::array<double, MaxGlyphColumns> sum{}, squares{};
        for (int64_t i = 0; i < n; ++i)
            for (int x = 0; x < g; ++x) {
                const uint8_t b = bytes[first + i * g + x];
                sum[size_t(x)] += BitCount[b];
                squares[size_t(x)] += double(BitCount[b]) * BitCount[b];
                blank[size_t(g)][size_t(x)] += b == 0;
            }
        double mean = 0, within = 0, between = 0;
        for (int x = 0; x < g; ++x) {
            const double m = sum[size_t(x)] / double(n);
            mean += m / g;
            within += (squares[size_t(x)] / double(n) - m * m) / g;
        }
        for (int x = 0; x < g; ++x)
            between +=
                (sum[size_t(x)] / double(n) - mean) * (sum[size_t(x)] / double(n) - mean) / g;
        contrast[size_t(g)] = double(n) * between / std::max(within, 1e-9);
        best = std::max(best, contrast[size_t(g)]);
    }
    if (best <= 0) return {};
    int g = MinGlyphColumns;
    while (contrast[size_t(g)] < NearlyBest * best) ++g;
    const auto& places = blank[size_t(g)];
    const auto spacing = std::max_element(places.begin(), places.begin() + g);
    const int64_t n = std::min(MaxGlyphs, (last - first) / g);
    if (double(*spacing) < SpacingColumn * double(n)) return {};
    return {g, int(spacing - places.begin() + 1) % g};
}

// The stride and phase at which the glyphs are most nearly their own mirror images, all their
// columns or all but the last (a spacing column); none where no stride comes near a font's.
Stride MirrorStride(const uint8_t* bytes, int64_t first, int64_t last) {
    Stride stride;
    double best = MaxMirrorRatio;
    for (int g = MinFontColumns; g <= MaxMirrorColumns; ++g) {
        const int64_t glyphs = std::min(MaxGlyphs, (last - first) / g - 1);
        if (glyphs < MinGlyphs) break;
        for (int p = 0; p < g; ++p)
            for (int drawn : {g, g - 1}) {
                const double ratio = MirrorRatio(bytes, first + p, glyphs, g, drawn);
                if (ratio < best) {
                    best = ratio;
                    stride = {g, p};
                }
            }
    }
    return stride;
}

bool KeepsTheBlankRow(const uint8_t* bytes, int64_t first, int period, bool blankBit7) {
    const uint8_t blank = blankBit7 ? 0x80 : 0x01;
    for (int x = 0; x < period; ++x)
        if (bytes[first + x] & blank) return false;
    return true;
}

// Whether bit 7 is the bottom of the glyphs [first, last) of `period` columns. Glyphs end at the
// baseline alike and at their tops at two heights (capitals, small letters), so the end where the
// ink of clearly more glyphs stops at one row is the bottom (glyphs inked at both ends, boxes and
// blocks, say nothing). Where the two are about even (capitals and digits only), the end row with
// less ink is: capitals reach the top row, only descenders the row below the baseline.
bool BaselineAtBit7(const uint8_t* bytes, int64_t first, int64_t last, int period) {
    constexpr double Clearly = 1.15;
    std::array<int64_t, 8> lowest{}, highest{};
    int64_t ink0 = 0, ink7 = 0;
    for (int64_t at = first; at + period <= last; at += period) {
        unsigned ink = 0;
        for (int x = 0; x < period; ++x) {
            ink |= bytes[at + x];
            ink0 += bytes[at + x] & 1;
            ink7 += bytes[at + x] >> 7;
        }
        if (ink == 0 || (ink & 0x81) == 0x81) continue;
        ++lowest[size_t(__builtin_ctz(ink))];
        ++highest[size_t(31 - __builtin_clz(ink))];
    }
    const double low = double(*std::max_element(lowest.begin(), lowest.end()));
    const double high = double(*std::max_element(highest.begin(), highest.end()));
    if (high >= Clearly * low) return true;
    if (low >= Clearly * high) return false;
    return ink7 <= ink0;
}

// Bytes other than 0x00 equal to the byte 2, 4 or 8 on: arrays of 16-, 32- and 64-bit numbers
// repeat their high bytes, glyphs' columns seldom repeat so.
double Repeats(const uint8_t* at, int64_t n) {
    double repeats = 0;
    for (int lag : {2, 4, 8}) {
        int64_t same = 0, inked = 0;
        for (int64_t i = 0; i + lag < n; ++i) {
            inked += at[i] != 0;
            same += at[i] != 0 && at[i] == at[i + lag];
        }
        repeats = std::max(repeats, double(same) / double(std::max<int64_t>(1, inked)));
    }
    return repeats;
}

// Text of two bytes a character (UTF-16) has a zero at every other byte: the zeros among the even
// or the odd bytes, the more.
double AlternateZeros(const uint8_t* at, int64_t n) {
    std::array<int64_t, 2> zerosAt{};
    for (int64_t i = 0; i < n; ++i) zerosAt[size_t(i % 2)] += at[i] == 0;
    return 2.0 * double(std::max(zerosAt[0], zerosAt[1])) / double(std::max<int64_t>(1, n));
}

// Whether the measures but the upright score keep within a font's limits.
bool OthersAreAFont(const ByteColumnMeasures& m) {
    return m[ByteColumnMirror] <= MaxFontMirror && m[ByteColumnMostRowInk] <= MaxRowInk &&
           m[ByteColumnRepeats] <= MaxRepeats && m[ByteColumnAlternateZeros] <= MaxAlternateZeros;
}

// The measures of a reading's glyphs (the first MaxGlyphs of them).
ByteColumnMeasures MeasureByteColumns(const uint8_t* bytes, const ByteColumnReading& reading) {
    ByteColumnMeasures m{};
    const int g = reading.period;
    const int64_t glyphs = std::min(MaxGlyphs, (reading.last - reading.first) / g);
    const uint8_t* at = bytes + reading.first;
    const std::array<int64_t, 8> inkAt = InkAtBits(at, 0, glyphs * g);
    m[ByteColumnMostRowInk] =
        float(double(*std::max_element(inkAt.begin(), inkAt.end())) / double(glyphs * g));
    // Mirror images, over all the glyph's columns or all but a spacing column; read from after a
    // spacing column, also over the glyph with the spacing before it (glyphs drawn in the middle
    // of their cell).
    double mirror = std::min(MirrorRatio(bytes, reading.first, glyphs, g, g),
                             MirrorRatio(bytes, reading.first, glyphs, g, g - 1));
    if (reading.spaced && reading.first > 0)
        mirror = std::min(mirror, MirrorRatio(bytes, reading.first - 1, glyphs, g, g));
    m[ByteColumnMirror] = float(mirror);
    m[ByteColumnRepeats] = float(Repeats(at, glyphs * g));
    m[ByteColumnAlternateZeros] = float(AlternateZeros(at, glyphs * g));
    // The glyphs drawn upright, judged by the regions' model: the dearest measure, taken only where
    // the others are a font's.
    if (OthersAreAFont(m)) {
        const std::vector<uint8_t> upright =
            Upright(bytes, reading.first, reading.first + glyphs * g, g, reading.topBit0);
        m[ByteColumnUpright] = float(ModelScore(MeasureRegion(
            upright.data(), int64_t(upright.size()), 0, int64_t(upright.size()), (g + 7) / 8)));
    }
    return m;
}

} // namespace

const char* const ByteColumnFeatureNames[ByteColumnFeatureCount] = {
    "most_row_ink", "mirror", "repeats", "alternate_zeros", "upright"};

bool LooksLikeNumbersOrText(const ByteColumnMeasures& m) {
    return m[ByteColumnRepeats] > MaxRepeats || m[ByteColumnAlternateZeros] > MaxAlternateZeros;
}

bool IsByteColumnFont(const ByteColumnMeasures& m) {
    return OthersAreAFont(m) && m[ByteColumnUpright] >= MinUprightScore;
}

std::vector<ByteColumnStretch> ByteColumnStretches(const uint8_t* bytes, int64_t size) {
    const int64_t windows = size / WindowBytes;
    std::vector<uint8_t> rows(static_cast<size_t>(windows)), spacing(static_cast<size_t>(windows));
    constexpr int64_t Chunk = 1 << 14; // windows a thread takes at a time
    ForEachInParallel((windows + Chunk - 1) / Chunk, [&](int64_t c) {
        for (int64_t k = c * Chunk; k < std::min(windows, (c + 1) * Chunk); ++k) {
            rows[size_t(k)] = uint8_t(BlankRowsOfWindow(bytes + k * WindowBytes));
            // Kept with the spacing column's place from the file's first byte.
            if (const int code = SpacingOfWindow(bytes + k * WindowBytes); code != 0) {
                const int g = code / 16;
                spacing[size_t(k)] = uint8_t(g * 16 + (k * WindowBytes + code % 16) % g);
            }
        }
    });
    // A window between two of the same font's may fail alone (a few letters with descenders).
    for (size_t k = 1; k + 1 < rows.size(); ++k)
        if (rows[k] == 0) rows[k] = rows[k - 1] & rows[k + 1];
    // Runs of windows with a blank row in common.
    std::vector<ByteColumnStretch> stretches;
    for (int64_t k = 0, end; k < windows; k = end) {
        uint8_t common = rows[size_t(k)];
        for (end = k + 1; end < windows && (common & rows[size_t(end)]) != 0; ++end)
            common &= rows[size_t(end)];
        if (common != 0 && end - k >= MinStretchWindows)
            stretches.push_back({k * WindowBytes, end * WindowBytes, (common & 1) != 0});
    }
    // Runs of windows with the same stride and spacing column, over one window without.
    for (int64_t k = 0, end; k < windows; k = end) {
        const uint8_t code = spacing[size_t(k)];
        for (end = k + 1; end < windows; ++end)
            if (spacing[size_t(end)] != code &&
                (code == 0 || spacing[size_t(end)] != 0 || end + 1 == windows ||
                 spacing[size_t(end + 1)] != code))
                break;
        if (code != 0 && end - k >= MinStretchWindows)
            stretches.push_back({k * WindowBytes, end * WindowBytes, true, code / 16, code % 16});
    }
    return stretches;
}

namespace {

bool BlankGlyph(const uint8_t* bytes, int64_t at, int period) {
    return std::all_of(bytes + at, bytes + at + period, [](uint8_t b) { return b == 0; });
}

// The reading of the glyphs [first, last) of `period` columns, none where they are too few.
ByteColumnReading Reading(const uint8_t* bytes, int period, int64_t first, int64_t last,
                          bool spaced) {
    ByteColumnReading reading;
    if ((last - first) / period < MinGlyphs) return reading;
    reading.period = period;
    reading.first = first;
    reading.last = last;
    reading.spaced = spaced;
    reading.topBit0 = BaselineAtBit7(bytes, first, last, period);
    reading.features = MeasureByteColumns(bytes, reading);
    return reading;
}

// A stretch with a spacing column read as glyphs from the column after it. The glyphs reach on, a
// glyph at a time, while the spacing column stays blank: a glyph that fills it (a wide letter, a
// block) is taken where three of the next four keep it, at most a window beyond the stretch and
// not past a blank glyph (the zeros around the font). Two blank glyphs in a row stand between
// fonts or other graphics, never inside one: of the parts they part, the one with the most glyphs
// drawn is the font's.
ByteColumnReading ReadSpacedColumns(const uint8_t* bytes, int64_t size,
                                    const ByteColumnStretch& stretch) {
    const int g = stretch.spacingPeriod;
    const int64_t end = std::min(stretch.last, size);
    int64_t first = stretch.first + ((stretch.spacingPhase + 1 - stretch.first % g) % g + g) % g;
    int64_t last = first + std::max<int64_t>(0, end - first) / g * g;
    const int64_t lowest = std::max<int64_t>(0, stretch.first - WindowBytes);
    const int64_t highest = std::min(size, stretch.last + WindowBytes);
    auto inside = [&](int64_t at) { return at >= lowest && at + g <= highest; };
    auto keeps = [&](int64_t at) { return inside(at) && bytes[at + g - 1] == 0; };
    auto takes = [&](int64_t at, int64_t step) {
        if (!inside(at) || BlankGlyph(bytes, at, g)) return false;
        int next = 0;
        for (int i = 1; i <= 4; ++i) next += keeps(at + i * step);
        return keeps(at) || next >= 3;
    };
    while (takes(first - g, -g)) first -= g;
    while (takes(last, g)) last += g;
    int64_t bestFirst = first, bestLast = first, bestDrawn = 0;
    int64_t partFirst = first, partLast = first, drawn = 0, blanks = 0;
    auto closePart = [&] {
        if (drawn > bestDrawn) {
            bestFirst = partFirst;
            bestLast = partLast;
            bestDrawn = drawn;
        }
        drawn = 0;
    };
    for (int64_t at = first; at < last; at += g) {
        if (BlankGlyph(bytes, at, g)) {
            if (++blanks == 2) closePart();
            continue;
        }
        blanks = 0;
        if (drawn++ == 0) partFirst = at;
        partLast = at + g;
    }
    closePart();
    return Reading(bytes, g, bestFirst, bestLast, true);
}

} // namespace

ByteColumnReading ReadByteColumns(const uint8_t* bytes, int64_t size,
                                  const ByteColumnStretch& stretch) {
    if (stretch.spacingPeriod > 0) return ReadSpacedColumns(bytes, size, stretch);
    ByteColumnReading reading;
    // Tables of numbers and text of two bytes a character are most of the stretches in programs:
    // where the whole stretch is far beyond a font's limits, its stride is not looked for.
    const int64_t end = std::min(stretch.last, size);
    if (Repeats(bytes + stretch.first, end - stretch.first) > FarBeyond * MaxRepeats ||
        AlternateZeros(bytes + stretch.first, end - stretch.first) > FarBeyond * MaxAlternateZeros)
        return reading;
    // The stride and phase of each piece of the stretch (which may begin and end in other bytes):
    // the one most pieces show is the font's, and the pieces that show it are its core.
    std::vector<std::pair<Stride, int64_t>> pieces; // stride, the piece's first byte
    for (int64_t at = stretch.first; at < end; at += StridePiece) {
        const int64_t to = std::min(end, at + StridePiece);
        if (2 * (to - at) < StridePiece && at > stretch.first) break;
        Stride stride = SpacedStride(bytes, at, to);
        if (stride.period < MinFontColumns) stride = MirrorStride(bytes, at, to);
        if (stride.period == 0) continue;
        stride.phase = int((at + stride.phase) % stride.period); // from byte 0 of the file
        pieces.push_back({stride, at});
    }
    auto same = [](const Stride& a, const Stride& b) {
        return a.period == b.period && a.phase == b.phase;
    };
    const Stride* chosen = nullptr;
    long votes = 0;
    for (const auto& [stride, at] : pieces) {
        const long n = std::count_if(pieces.begin(), pieces.end(),
                                     [&](const auto& p) { return same(p.first, stride); });
        if (n > votes) {
            votes = n;
            chosen = &stride;
        }
    }
    if (chosen == nullptr) return reading;
    const int g = chosen->period;
    int64_t coreFirst = end, coreLast = stretch.first;
    for (const auto& [stride, at] : pieces)
        if (same(stride, *chosen)) {
            coreFirst = std::min(coreFirst, at);
            coreLast = std::max(coreLast, std::min(end, at + StridePiece));
        }
    int64_t first = coreFirst + ((chosen->phase - coreFirst % g) % g + g) % g;
    int64_t last = first + (coreLast - first) / g * g;
    // The glyphs reach on from the core, a glyph at a time, while the blank row stays blank, at
    // most a window beyond the stretch either way; blank glyphs at either end are left out.
    const int64_t lowest = std::max<int64_t>(0, stretch.first - WindowBytes);
    const int64_t highest = std::min(size, stretch.last + WindowBytes);
    while (first - g >= lowest && KeepsTheBlankRow(bytes, first - g, g, stretch.blankBit7))
        first -= g;
    while (last + g <= highest && KeepsTheBlankRow(bytes, last, g, stretch.blankBit7)) last += g;
    while (last - first >= g && BlankGlyph(bytes, first, g)) first += g;
    while (last - first >= g && BlankGlyph(bytes, last - g, g)) last -= g;
    return Reading(bytes, g, first, last, false);
}

} // namespace viewer::finder
