// Rows that are really pixel columns. Small screens store glyphs one byte per pixel column (K bytes
// a column for glyphs taller than 8 pixels): read as rows at width K such a font looks like
// graphics too, its glyphs turned a quarter. What tells the two apart:
// - the blank columns between glyphs, which stand at the glyph's stride (3 to 16 columns);
// - strokes: in letters the vertical ones are the longer, so where the rows are really columns
//   set pixels meet their neighbours across a row more often than down a column;
// - where the ink lies across the K bytes (the baseline, the spacing column).
#include <algorithm>
#include <cmath>

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

GraphicsRegion AsColumnsIfSo(const uint8_t* bytes, const GraphicsRegion& region) {
    const int k = region.width;
    if (k < MinFoundColumnBytes || k > MaxFoundColumnBytes || IsColumnLayout(region.layout.kind))
        return region;
    const ColumnReading reading = ReadAsColumns(bytes, region);
    if (reading.period == 0 || ColumnScore(reading.features) < MinColumnScore) return region;
    GraphicsRegion columns = region;
    columns.layout = {reading.topBit0 ? LayoutKind::Columns : LayoutKind::ColumnsMsb, k};
    columns.width = reading.period * k;
    columns.first = reading.first + reading.phase * k;
    columns.length = region.first + region.length - columns.first;
    return columns;
}

} // namespace viewer::finder
