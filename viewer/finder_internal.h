// The graphics finder's parts, shared by its files and by the tool that dumps what it measures
// for training (tools/finder_features.cpp). Not for the rest of the viewer: it calls finder.h.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "viewer/finder.h"

namespace viewer::finder {

// Set bits of each byte value: the per-byte counts of the measures, without a call per count on
// processors (or builds) with no popcount instruction.
constexpr std::array<uint8_t, 256> MakeBitCounts() {
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) table[size_t(v)] = uint8_t(__builtin_popcount(unsigned(v)));
    return table;
}
inline constexpr std::array<uint8_t, 256> BitCount = MakeBitCounts();

// Each byte value with its bits in the other order.
constexpr std::array<uint8_t, 256> MakeReversed() {
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v)
        for (int k = 0; k < 8; ++k) table[size_t(v)] |= uint8_t(((v >> k) & 1) << (7 - k));
    return table;
}
inline constexpr std::array<uint8_t, 256> ReversedBits = MakeReversed();

// The eight bytes from p as one word, whatever p's alignment; bits 0..6 of each of its bytes.
inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
constexpr uint64_t Low7 = 0x7F7F7F7F7F7F7F7FULL;

// The loops that count the bits of whole words come in a version for processors with a popcount
// instruction too, where the platform can pick one when the program loads.
#if defined(__ELF__) && defined(__x86_64__) && !defined(__clang__)
#define FINDER_POPCOUNT_CLONES __attribute__((target_clones("popcnt", "default")))
#else
#define FINDER_POPCOUNT_CLONES
#endif

// Calls body(i) once for every i in [0, count), on the processor's threads with the calling one
// among them, in no particular order. After each item it runs itself, the calling thread asks
// keepGoing (when given) with the number of items handed out so far; once it says no, no more
// are handed out and the call returns false when the others have finished theirs. An exception
// thrown by body is thrown again on the calling thread.
bool ForEachInParallel(int64_t count, const std::function<void(int64_t)>& body,
                       const std::function<bool(int64_t handedOut)>& keepGoing = {});

// ---- The scan: candidate stretches, and the width their rows seem to have ----------------------

// A stretch of bytes [first, last) whose rows at `width` follow each other as a picture's do, and
// how strongly (bits of evidence).
struct Segment {
    int64_t first = 0, last = 0;
    int width = 0;
    double evidence = 0;
    // Found around a lone window among busy or blank ones: its pictures lie within a window of it.
    bool lone = false;
};

// What the scan's first step sees of a window of 128 bytes: its texture and, over half of its
// bytes, how its rows follow each other at the width that fits them best.
enum WindowFeature : int {
    WindowChanges,  // bit changes per byte not 0x00 or 0xFF
    WindowActive,   // bytes not 0x00 or 0xFF
    WindowZeros,    // bytes 0x00
    WindowText,     // bytes of printable text
    WindowHigh,     // bytes from 0x80 up
    WindowEvidence, // near against far bit differences at the best width
    WindowWidth,    // that width, as log2
    WindowRatio,    // its near/far ratio
    WindowOdd,      // 2 x 2 squares with an odd number of set pixels, of those not of one colour
    WindowFont,     // the evidence at width 1
    WindowFeatureCount
};
using WindowFeatures = std::array<float, WindowFeatureCount>;
extern const char* const WindowFeatureNames[WindowFeatureCount];
constexpr int64_t WindowBytes = 128;

// The measures of every window of the bytes that is neither quiet nor busy, in order.
void MeasureWindows(const uint8_t* bytes, int64_t size,
                    const std::function<void(int64_t at, const WindowFeatures&)>& each);

// How likely a window holds part of a picture, 0..1 (finder_model.cpp): windows below a limit are
// read no further.
double WindowScore(const WindowFeatures& features);

// The scan counts with the fastest loops the processor can run (AVX2, popcount), or with the plain
// ones that any processor runs: the tests compare the two.
void UsePlainKernels(bool plain);

// Every segment of the bytes, at every width; empty with `cancelled` set when progress said stop.
std::vector<Segment> FindSegments(const uint8_t* bytes, int64_t size, const FindProgress& progress,
                                  bool& cancelled);

// ---- What a stretch looks like at one width -----------------------------------------------------

// The measures the model judges a stretch by (finder_features.cpp says what each one is).
enum Feature : int {
    LogWidth,
    LogRows,
    NearFarRatio,     // bits that differ from the row above, against rows 7 rows apart
    HalfWidthRatio,   // the ratio at the largest proper divisor of the width, against this one's
    DoubleWidthRatio, // the ratio at twice the width, against this one's
    ChangesPerByte,   // bit changes between neighbouring pixels inside bytes not 0x00 or 0xFF
    ActiveShare,      // bytes other than 0x00 and 0xFF
    BlankShare,       // bytes of the background (0x00, or 0xFF where that is more common)
    InkShare,         // pixels set
    VerticalNoise,    // changes down each pixel column, against the same pixels shuffled
    NoisyColumns,     // pixel columns that change down about as often as noise does
    LiveColumns,      // pixel columns that are not all one colour
    HorizontalNoise,  // changes across inside bytes, against the same pixels shuffled
    EdgeNoise,        // the same across byte boundaries (1 at width 1)
    Corners,          // 2 x 2 pixel squares with an odd number of set pixels
    Checkers,         // 2 x 2 squares set on one diagonal only
    Uniform,          // 2 x 2 squares of one colour
    RepeatedInk,      // bytes with ink equal to the byte above
    SetPairs,         // set pixels whose left neighbour is set
    HighBits,         // bytes with bit 7 or bit 6 set
    Progression,      // a byte column that steps by one amount from row to row (0 or 1)
    AsciiShare,       // bytes of printable text
    SmallNumbers,     // bytes 0x01..0x0F
    DistinctBytes,    // distinct byte values, against the most there could be
    BlankRows,        // rows of background only
    RepeatedRows,     // rows with ink equal to the row above
    FeatureCount
};
using Features = std::array<float, FeatureCount>;
extern const char* const FeatureNames[FeatureCount];

// The measures of bytes [first, last) at `width` bytes a row (whole rows only).
Features MeasureRegion(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, int width);

// Near and far bit differences of [first, last) at one width: rows 1 and 7 rows apart.
struct NearFar {
    uint64_t nearBits = 0, farBits = 0;
    double Ratio() const { return farBits == 0 ? 2.0 : double(nearBits) / double(farBits); }
};
NearFar MeasureNearFar(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, int width);

// ---- The judgement ------------------------------------------------------------------------------

// How likely the measures are those of real graphics, 0..1 (finder_model.cpp, made by
// scripts/finder-train).
double ModelScore(const Features& features);

// ---- Rows that are really pixel columns (finder_columns.cpp) -----------------------------------

enum ColumnFeature : int {
    ColumnK,            // bytes a row (K)
    ColumnLsb,          // 1 where the rows were read with bit 0 left
    ColumnBlank,        // blank rows
    ColumnPeriodBlank,  // blank rows at the best stride's best phase
    ColumnPeriod,       // the stride taken (0 for none)
    ColumnPeriodExcess, // how much more often blank rows stand at that phase than anywhere
    ColumnFirstBit,     // ink at the first pixel of the rows
    ColumnLastBit,      // ink at the last pixel
    ColumnByteSpread,   // how unevenly the ink lies over the first byte's pixels
    ColumnBitSpread,    // over all the row's pixels
    ColumnLiveBits,     // pixels with some ink
    ColumnInkRange,     // most ink at a pixel less the least
    ColumnGlyphRange,   // the same along the stride, from the row after the gap
    ColumnGlyphSpread,  // how unevenly the ink lies along the stride
    ColumnGlyphPeak,    // where along the stride the most ink lies, 0..1
    ColumnGlyphLow,     // where the least lies
    ColumnPairsRatio,   // set pixels with a set neighbour across, against down
    ColumnRunsRatio,    // runs of ink down, against across
    ColumnFeatureCount
};
using ColumnFeatures = std::array<float, ColumnFeatureCount>;
extern const char* const ColumnFeatureNames[ColumnFeatureCount];

// A region found as rows K bytes wide read as pixel columns: the column's first byte (the rows
// may start at any byte of it) and which bit is on top, the measures, the stride of the glyphs
// (0 for none) and the row where the first whole glyph starts.
struct ColumnReading {
    ColumnFeatures features{};
    int period = 0;
    int64_t phase = 0;
    int64_t first = 0;
    bool topBit0 = false;
};
ColumnReading ReadAsColumns(const uint8_t* bytes, const GraphicsRegion& region);

// How likely rows of K bytes are a font's pixel columns, 0..1 (finder_columns_model.cpp).
double ColumnScore(const ColumnFeatures& features);
constexpr double MinColumnScore = 0.9;
// Glyphs in pixel columns are told with 2 or 3 bytes a column (9 to 24 pixels high). Rows 4 bytes
// wide are mostly large fonts in rows (32 x 32 and 24 x 24 glyphs, as box-like as turned ones),
// which the model takes for columns more often than it finds columns there. With one byte a
// column it found none, and the 8 x 8 fonts in rows that abound there are at risk.
constexpr int MinFoundColumnBytes = 2, MaxFoundColumnBytes = 3;

// A region found as rows at width K (MinFoundColumnBytes..MaxFoundColumnBytes) as the glyphs in
// pixel columns it holds, where the model says so: the column layout with bit 0 or bit 7 on top as
// the joins between a column's bytes say (ReadAsColumns), the width the bytes of a glyph, the
// first byte the first glyph's. Also where the glyphs, taller than wide as columns, stand in cells
// whose stride is not a whole number of rows of K bytes: the width then the cell's bytes. Otherwise
// the region unchanged.
GraphicsRegion AsColumnsIfSo(const uint8_t* bytes, const GraphicsRegion& region);

// ---- Fonts one byte a pixel column, found on their own (finder_columns.cpp) -------------------

// The fonts of small screens are mostly 5 to 8 pixels wide and at most 7 high, one byte a pixel
// column: the scan's rows at width 1 do not see them (neighbouring columns of such small glyphs
// differ about as much as any bytes do). What gives them away is the pixel row they leave blank,
// the same bit clear in nearly every byte, in bytes that are not text: runs of such windows are
// proposed, and each is read as glyphs and judged by them.
// Fonts that use all eight rows (descenders below the baseline) leave a spacing column blank
// instead: a zero byte at the glyph's stride, and few zeros elsewhere. Such runs are proposed too,
// with their stride and the place of the spacing column.
struct ByteColumnStretch {
    int64_t first = 0, last = 0;
    bool blankBit7 = true; // bit 7 is the blank one, else bit 0 (without a spacing column)
    int spacingPeriod = 0; // the glyph's stride where a spacing column was seen, else 0
    int spacingPhase = 0;  // the spacing column's byte modulo the stride
};
std::vector<ByteColumnStretch> ByteColumnStretches(const uint8_t* bytes, int64_t size);

enum ByteColumnFeature : int {
    ByteColumnMostRowInk,     // the ink of the pixel row with the most
    ByteColumnMirror,         // glyphs against their mirror images, against other glyphs'
    ByteColumnRepeats,        // bytes equal to the byte 2, 4 or 8 on (numbers' high bytes)
    ByteColumnAlternateZeros, // zero bytes among the even or the odd ones, the more (UTF-16)
    ByteColumnUpright,        // the regions' model's score of the glyphs drawn upright as rows
                              // (0 where the others are not a font's)
    ByteColumnFeatureCount
};
using ByteColumnMeasures = std::array<float, ByteColumnFeatureCount>;
extern const char* const ByteColumnFeatureNames[ByteColumnFeatureCount];

// A stretch read as glyphs of `period` columns from `first` to `last` (period 0 where it shows no
// stride): the stride and phase at which most of its pieces show a spacing column or glyphs that
// are their own mirror images (or, for a stretch proposed by its spacing column, that column's),
// the run of glyphs reaching on while the blank row or the spacing column stays blank; which end
// is the top (by the glyphs' baseline); the measures.
struct ByteColumnReading {
    int period = 0;
    int64_t first = 0, last = 0;
    bool topBit0 = true;
    bool spaced = false; // read from the column after a spacing column
    ByteColumnMeasures features{};
};
ByteColumnReading ReadByteColumns(const uint8_t* bytes, int64_t size,
                                  const ByteColumnStretch& stretch);
// Whether the measures are a font's: the glyphs drawn upright look like graphics to the regions'
// model, they are often nearly their own mirror images, no pixel row is inked in most columns, and
// the bytes are not numbers' (repeated high bytes) or text of two bytes a character.
bool IsByteColumnFont(const ByteColumnMeasures& features);
// The bits set in at least 5% of the bytes of [first, last) other than 0x00: glyphs ink most of
// their rows (or columns) somewhere, tables of small numbers leave the high bits clear.
int InkedBits(const uint8_t* bytes, int64_t first, int64_t last);
constexpr int MinInkedBits = 6;
// Whether the bytes repeat as arrays of numbers do, or alternate with zeros as text of two bytes a
// character does, beyond a font's limits.
bool LooksLikeNumbersOrText(const ByteColumnMeasures& features);

// ---- The models' trees (written by scripts/finder-train) ---------------------------------------

// A node: the measure it tests (-1 for a leaf), the limit, the nodes for measure <= limit and
// above it, and a leaf's share of the log-odds.
struct TreeNode {
    int8_t feature;
    float limit;
    uint16_t below, above;
    float value;
};

// The trees from each root summed as gradient boosting sums them, as a probability.
template <typename Measures, size_t Trees>
double TreeScore(const Measures& f, double start, const TreeNode* nodes,
                 const uint16_t (&roots)[Trees]) {
    double sum = start;
    for (uint16_t root : roots) {
        const TreeNode* node = &nodes[root];
        while (node->feature >= 0)
            node = &nodes[f[size_t(node->feature)] <= node->limit ? node->below : node->above];
        sum += node->value;
    }
    return 1 / (1 + std::exp(-sum));
}

// ---- Regions ------------------------------------------------------------------------------------

// The candidates the finder judges for one segment: each width it tries there, with the stretch
// cut to where the rows look like graphics at that width.
struct Candidate {
    int64_t first = 0, last = 0;
    int width = 0;
    Features features{}; // of its bytes read as the layout says
    PixelLayout layout;  // rows with bit 7 or with bit 0 left
    double score = 0;    // the model's, of the features
};
// The candidates of a segment, given the segments that lie mostly over the same bytes. A segment
// `inside` a rejected leader's bytes is judged in smaller pieces, and its core on its own too
// where its edges take in bytes that make it look far worse.
std::vector<Candidate> CandidatesOf(const uint8_t* bytes, int64_t size, const Segment& leader,
                                    const std::vector<Segment>& members, bool inside = false);

// Regions the model scores below this are not reported: on real files, those at or above it are
// real graphics about 19 times in 20.
constexpr double MinScore = 0.5;

// The candidate the model likes best, and its score; null for none.
std::pair<const Candidate*, double> BestCandidate(const std::vector<Candidate>& candidates);

// The candidates of every segment the finder judges, strongest segment first: `judge` is called
// with each group of candidates and says which one it takes as a region (null for none); the
// parts of the segment on either side of a region taken are judged in turn.
using CandidateJudge = std::function<const Candidate*(const std::vector<Candidate>&)>;
void ForEachCandidateGroup(const uint8_t* bytes, int64_t size, std::vector<Segment> segments,
                           const CandidateJudge& judge);

// The background of bytes [first, last): 0xFF where more bytes are 0xFF than 0x00, else 0x00.
uint8_t BackgroundOf(const uint8_t* bytes, int64_t first, int64_t last);

// How often pixels change where rows of w >= 2 bytes join one byte to the next, read with bit 7
// left and with bit 0 left (finder.cpp says which pixels meet); none for too little ink there.
struct ByteJoins {
    double msbRate = 0, lsbRate = 0;
};
std::optional<ByteJoins> JoinsOf(const uint8_t* bytes, int64_t first, int64_t last, int w);

// The bit order the strokes of rows found at width w say: bit 7 or bit 0 left (rows at width 1
// are taken as rows).
PixelLayout RowOrderOf(const uint8_t* bytes, int64_t first, int64_t last, int w);

// What FindRegions tells of each region's layout: nothing (all rows with bit 7 left), the bit order
// of its rows, or that too and whether its rows are really pixel columns (FindGraphics). The
// benchmark prices the telling; the training tool looks at the rows before they become columns.
enum class Telling { RowsOnly, BitOrder, Layout };

// The region a candidate taken makes, with its layout told as `telling` asks.
GraphicsRegion RegionOf(const uint8_t* bytes, const Candidate& taken, double score,
                        Telling telling);
std::vector<GraphicsRegion> FindRegions(const uint8_t* bytes, int64_t size,
                                        const FindProgress& progress, Telling telling);

} // namespace viewer::finder
