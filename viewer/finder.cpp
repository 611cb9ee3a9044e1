// The graphics finder.
//
// One-bit graphics are similar to the row just above them and much less similar to rows further
// away: at the right width W, the bits of byte i and byte i + W differ far less often than those
// of byte i and byte i + 7W. Text, machine code and compressed data differ about as much at every
// distance. The columns of an integer or float table are similar at every multiple of their
// stride, but their low-order bits change at random from one row to the next, where every active
// bit of a picture (its rightmost pixel column as much as its leftmost) follows the row above.
// And the bytes of a picture hold runs of pixels: few changes from one bit to the next, where the
// bytes of code, text and compressed data change between neighbouring bits about every other bit.
//
// The scan, in 32-byte blocks:
// 1. every byte once: per block, the bytes that are neither 0x00 nor 0xFF and their bit changes;
//    blocks among busy neighbours (code, text, compressed or random data) count against every
//    width and are read no further; blocks of fill count for nothing either way;
// 2. the other blocks: the near and far bit differences at every width give each width evidence
//    for or against it; per width, the stretches whose evidence adds up most are segments;
// 3. the strongest segments first, each checked whole, column by column and bit by bit, and
//    scored; a segment lying mostly over a stronger one is the same picture at another width.
#include "viewer/finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace viewer {

namespace {

constexpr int64_t BlockBytes = 32;
constexpr int FarRows = 7; // the baseline: rows this far apart

// Limits of the decisions, found on real files (fonts in ROMs and executables, console and X11
// fonts against code, text, compressed data and numeric tables).
constexpr double MaxChanges = 3.1;     // bit changes per byte above which nothing is graphics
constexpr uint32_t MinActiveBytes = 3; // bytes other than 0x00 and 0xFF a block needs to judge
constexpr double MinSetPairs = 0.2, MaxSetPairs = 0.78;    // set pixels with a set left neighbour
constexpr double MinBlankShare = 0.1, MaxBlankShare = 0.6; // bytes 0x00 or 0xFF in a picture
constexpr double MinFontBlankShare = 0.2;                  // the same in a column of glyphs
constexpr double MinRepeatedInk = 0.12; // share of bytes with ink equal to the byte above
constexpr double MinScore = 0.15; // regions below are not reported: too many of them are tables
constexpr int64_t MinColumnBytes = 384; // the least a region of width 1 must hold

constexpr std::array<uint8_t, 256> MakeChanges() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = uint8_t(__builtin_popcount(unsigned(i ^ (i >> 1)) & 0x7F));
    return table;
}
constexpr std::array<uint8_t, 256> BitChanges = MakeChanges();

// The hot loops count bits; where the platform can pick a function at load time, they come in a
// version for processors with a popcount instruction too.
#if defined(__ELF__) && defined(__x86_64__) && !defined(__clang__)
#define POPCOUNT_CLONES __attribute__((target_clones("popcnt", "default")))
#else
#define POPCOUNT_CLONES
#endif

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Bytes that are neither 0x00 nor 0xFF, and the sum of their bit changes.
struct Texture {
    uint32_t active = 0, changes = 0;
    Texture& operator+=(const Texture& o) {
        active += o.active;
        changes += o.changes;
        return *this;
    }
    double ChangesPerByte() const { return active == 0 ? 0 : double(changes) / active; }
};

// Eight bytes at a time: bit changes inside each byte, and the bytes that are 0x00 or 0xFF.
POPCOUNT_CLONES Texture TextureOf(const uint8_t* bytes, int64_t first, int64_t last) {
    constexpr uint64_t Low7 = 0x7F7F7F7F7F7F7F7FULL, High = 0x8080808080808080ULL;
    auto zeroBytes = [](uint64_t x) { return ~(((x & Low7) + Low7) | x | Low7) & High; };
    Texture t;
    uint32_t quiet = 0;
    int64_t i = first;
    for (; i + 8 <= last; i += 8) {
        const uint64_t x = Load64(bytes + i);
        t.changes += uint32_t(__builtin_popcountll((x ^ (x >> 1)) & Low7));
        quiet += uint32_t(__builtin_popcountll(zeroBytes(x) | zeroBytes(~x)));
    }
    for (; i < last; ++i) {
        const uint8_t b = bytes[i];
        quiet += b == 0 || b == 0xFF;
        t.changes += BitChanges[b];
    }
    t.active = uint32_t(last - first) - quiet;
    return t;
}

// Bit differences between the bytes of [first, last) and those W and FarRows W further on, for
// every width; a pair counts only when all three bytes lie inside the data.
struct Distances {
    std::array<uint32_t, MaxFindWidth + 1> nearBits{}, farBits{}, pairs{};
};

POPCOUNT_CLONES void AddDistances(const uint8_t* bytes, int64_t size, int64_t first, int64_t last,
                                  Distances& d, int fromWidth = MinFindWidth,
                                  int toWidth = MaxFindWidth) {
    for (int w = fromWidth; w <= toWidth; ++w) {
        const int64_t end = std::min(last, size - int64_t{FarRows} * w);
        if (end <= first) continue;
        uint32_t nearBits = 0, farBits = 0;
        int64_t i = first;
        for (; i + 8 <= end; i += 8) {
            const uint64_t x = Load64(bytes + i);
            nearBits += uint32_t(__builtin_popcountll(x ^ Load64(bytes + i + w)));
            farBits += uint32_t(__builtin_popcountll(x ^ Load64(bytes + i + FarRows * w)));
        }
        for (; i < end; ++i) {
            nearBits += uint32_t(__builtin_popcount(unsigned(bytes[i] ^ bytes[i + w])));
            farBits += uint32_t(__builtin_popcount(unsigned(bytes[i] ^ bytes[i + FarRows * w])));
        }
        d.nearBits[w] += nearBits;
        d.farBits[w] += farBits;
        d.pairs[w] += uint32_t(end - first);
    }
}

// The largest near/far ratio a width may show for bytes of this texture: pictures with long runs
// of pixels may change more from row to row than pictures whose bytes look busier.
double MaxRatio(double changesPerByte) {
    constexpr double Calm = 2.6, CalmRatio = 0.9, BusyRatio = 0.5;
    if (changesPerByte <= Calm) return CalmRatio;
    if (changesPerByte >= MaxChanges) return 0;
    return CalmRatio - (changesPerByte - Calm) * (CalmRatio - BusyRatio) / (MaxChanges - Calm);
}

// The best width for the bytes counted in d, 0 when none fits.
int BestWidth(const Distances& d, double changesPerByte) {
    const double limit = MaxRatio(changesPerByte);
    std::array<double, MaxFindWidth + 1> ratio{};
    int best = 0;
    for (int w = MinFindWidth; w <= MaxFindWidth; ++w) {
        ratio[w] = 2;
        if (d.pairs[w] < 24 || d.farBits[w] < std::max(16.0, 0.1 * d.pairs[w])) continue; // quiet
        ratio[w] = double(d.nearBits[w]) / d.farBits[w];
        if (ratio[w] <= limit && (best == 0 || ratio[w] < ratio[best])) best = w;
    }
    // A width's multiples fit a picture too, often about as well (a font at width 1 also fits
    // the stride of its glyphs): a divisor that fits nearly as well is the width.
    for (int w = MinFindWidth; w < best; ++w)
        if (best % w == 0 && ratio[w] <= limit && ratio[best] >= 0.8 * ratio[w]) return w;
    return best;
}

// Pictures have blank stretches, bytes of 0x00 (or 0xFF where they are inverted), but not mostly:
// a sparse table is mostly zeros. A picture's background has one colour, where code has both
// kinds of byte in plenty. Columns that hold nothing (the padding of rows) do not count.
bool BlankShareFits(const uint8_t* bytes, int64_t first, int64_t last, int w) {
    const size_t columns = static_cast<size_t>(w);
    std::vector<uint32_t> zeros(columns), ones(columns), all(columns);
    for (int64_t i = first; i < last; ++i) {
        const size_t c = size_t((i - first) % w);
        zeros[c] += bytes[i] == 0;
        ones[c] += bytes[i] == 0xFF;
        ++all[c];
    }
    uint64_t zeroBytes = 0, oneBytes = 0, bytesInColumns = 0;
    for (size_t c = 0; c < columns; ++c)
        if (all[c] - zeros[c] - ones[c] >= 0.05 * all[c]) {
            zeroBytes += zeros[c];
            oneBytes += ones[c];
            bytesInColumns += all[c];
        }
    if (bytesInColumns == 0) return false;
    const double share = double(std::max(zeroBytes, oneBytes)) / double(bytesInColumns);
    // A font has blank rows above and below its glyphs: a fifth of its bytes at least.
    return share >= (w == 1 ? MinFontBlankShare : MinBlankShare) && share <= MaxBlankShare;
}

// Whether a column steps by one amount from row to row more often than not: a counter or the low
// byte of sorted offsets. The rows of a picture change in many different ways.
bool Progresses(const uint8_t* bytes, int64_t first, int64_t end, int w) {
    const size_t columns = static_cast<size_t>(w);
    std::vector<uint32_t> steps(columns * 256), changes(columns);
    std::vector<std::array<uint64_t, 4>> values(columns); // which byte values a column holds
    for (int64_t i = first; i < end; ++i) {
        const size_t c = size_t((i - first) % w);
        values[c][bytes[i] >> 6] |= uint64_t{1} << (bytes[i] & 63);
        const unsigned step = unsigned(bytes[i + w] - bytes[i]) & 0xFF;
        if (step == 0) continue;
        ++steps[c * 256 + step];
        ++changes[c];
    }
    for (size_t c = 0; c < columns; ++c) {
        int distinct = 0;
        for (uint64_t v : values[c]) distinct += __builtin_popcountll(v);
        if (distinct < 16 || changes[c] < 16) continue; // a column of a few pixels
        const auto from = steps.begin() + long(c * 256);
        if (*std::max_element(from, from + 256) > 0.4 * changes[c]) return true;
    }
    return false;
}

// Whether neighbouring bytes of a row meet like parts of one picture: the rightmost pixel of a
// byte and the leftmost of the next differ clearly less often than they would at random (a
// picture's strokes and blank gaps run on across byte boundaries; fields of records do not).
bool EdgesMeet(const uint8_t* bytes, int64_t first, int64_t last, int w) {
    uint64_t pairs = 0, right = 0, left = 0, differ = 0;
    for (int64_t row = first; row + w <= last; row += w)
        for (int c = 0; c + 1 < w; ++c) {
            const unsigned a = bytes[row + c] & 1, b = bytes[row + c + 1] >> 7;
            ++pairs;
            right += a;
            left += b;
            differ += a ^ b;
        }
    if (pairs == 0) return false;
    const double p = double(right) / double(pairs), q = double(left) / double(pairs);
    if (std::min(p, q) < 0.05) return true; // a blank column between sprites or glyphs
    const double expected = p * (1 - q) + q * (1 - p);
    return double(differ) / double(pairs) < 0.7 * expected;
}

// A candidate region checked whole at its width.
struct Verdict {
    bool graphics = false;
    double score = 0;
};

Verdict CheckRegion(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, int w,
                    bool wholeRegion = true) {
    const int64_t end = std::min(last, size - int64_t{FarRows} * w);
    if (end - first < 4 * w || end - first < 48) return {};
    // Near and far changes of every bit of every column.
    std::vector<std::array<uint32_t, 8>> nearBits(static_cast<size_t>(w)),
        farBits(static_cast<size_t>(w));
    uint64_t totalNear = 0, totalFar = 0;
    for (int64_t i = first; i < end; ++i) {
        const unsigned n = bytes[i] ^ bytes[i + w], f = bytes[i] ^ bytes[i + FarRows * w];
        totalNear += unsigned(__builtin_popcount(n));
        totalFar += unsigned(__builtin_popcount(f));
        auto& cn = nearBits[size_t((i - first) % w)];
        auto& cf = farBits[size_t((i - first) % w)];
        for (int j = 0; j < 8; ++j) {
            cn[j] += (n >> j) & 1;
            cf[j] += (f >> j) & 1;
        }
    }
    if (totalFar == 0) return {};
    const double ratio = double(totalNear) / double(totalFar);
    // Bits that change from row to row about as often as between distant rows carry noise (the
    // low bits of numbers); a picture has next to none.
    uint64_t noisyFar = 0;
    for (int c = 0; c < w; ++c)
        for (int j = 0; j < 8; ++j)
            if (farBits[size_t(c)][j] >= 8 &&
                nearBits[size_t(c)][j] >= 0.95 * farBits[size_t(c)][j])
                noisyFar += farBits[size_t(c)][j];
    const double noise = double(noisyFar) / double(totalFar);
    const Texture texture = TextureOf(bytes, first, last);
    const double changes = texture.ChangesPerByte();
    if (!BlankShareFits(bytes, first, last, w)) return {};
    // Numbers below 64 (six-bit colour levels, counts) never set the two leftmost pixels; a picture
    // leaves at most its leftmost pixel column blank.
    unsigned seen = 0;
    for (int64_t i = first; i < last; ++i) seen |= bytes[i];
    if ((seen & 0xC0) == 0) return {};
    // Vertical strokes repeat ink from one row to the next: many bytes with ink equal the byte
    // above. In code and tables that happens rarely.
    int64_t inked = 0, repeated = 0;
    for (int64_t i = first; i < end; ++i) {
        inked += bytes[i] != 0;
        repeated += bytes[i] != 0 && bytes[i] == bytes[i + w];
    }
    if (repeated < MinRepeatedInk * double(inked)) return {};
    // Strokes of pictures are a pixel or two wide: about half to three quarters of the set
    // pixels have a set neighbour on their left. Masks and small numbers (0x0F, 0x7F) have more,
    // numbers and code with bits at random fewer.
    uint64_t setPixels = 0, setPairs = 0;
    for (int64_t i = first; i < last; ++i) {
        const unsigned b = bytes[i];
        setPixels += unsigned(__builtin_popcount(b & 0x7F));
        setPairs += unsigned(__builtin_popcount(b & (b >> 1) & 0x7F));
    }
    const double pairs = setPixels == 0 ? 0 : double(setPairs) / double(setPixels);
    if (pairs < MinSetPairs || pairs > MaxSetPairs) return {};
    if (Progresses(bytes, first, end, w)) return {};
    // Wide rows are rare in pictures and common in tables of records: they must look the part.
    const bool wide = w > 8;
    const double maxRatio = wide ? std::min(0.55, MaxRatio(changes)) : MaxRatio(changes);
    const double minRatio = wide ? 0.2 : 0.12; // rows repeated whole are a table, not a picture
    if (ratio < minRatio || ratio > maxRatio || noise > (wide ? 0.1 : 0.4)) return {};
    if ((last - first) / w < 16) return {}; // too few rows to tell
    // A single byte column a few hundred rows long is as often a stretch of code or a table of
    // small numbers as a picture: at width 1 only a font's worth counts.
    if (wholeRegion && w == 1 && last - first < MinColumnBytes) return {};
    if (wide && !EdgesMeet(bytes, first, last, w)) return {};
    const double evidence = double(totalFar) - double(totalNear) / MaxRatio(changes);
    if (wide && evidence < 800) return {}; // a wide picture is a large one
    const double shape =
        std::clamp(0.55 * (1 - ratio) + 0.45 * (MaxChanges - changes) / 1.5, 0.0, 1.0);
    return {true, std::clamp(shape * std::min(1.0, std::sqrt(evidence / 1500)), 0.0, 1.0)};
}

// Evidence that width w fits a block: positive where its rows are more alike than MaxRatio
// allows, negative where they are not, 0 for a block without changes at that distance.
double Evidence(const Distances& d, int w, double limit) {
    return double(d.farBits[w]) - double(d.nearBits[w]) / limit;
}

// A stretch of blocks whose evidence for one width adds up: the best-scoring stretch ending where
// the running sum peaked (the running sum restarts at 0 whenever it falls below).
struct Segment {
    int64_t firstBlock = 0, lastBlock = 0; // inclusive
    int width = 0;
    double evidence = 0;
};

struct Run {
    double sum = 0, peak = 0;
    int64_t first = 0, peakBlock = 0;
};

constexpr double MinEvidence = 100; // bits, about 50 rows of a small sprite
// A run ends at its peak once it has fallen this far below it: what follows is another picture.
constexpr double MaxDrop = 400;
constexpr double BusyPenalty = 1; // bits per active byte of a block whose bytes change too often

void CloseRun(Run& run, int w, std::vector<Segment>& segments) {
    if (run.peak >= MinEvidence) segments.push_back({run.first, run.peakBlock, w, run.peak});
    run = Run{};
}

// The texture of every block in [first, last): what step 1 reads.
using TextureScan = void (*)(const uint8_t* bytes, int64_t size, int64_t first, int64_t last,
                             Texture* out);

void ScanTextures(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, Texture* out) {
    for (int64_t k = first; k < last; ++k)
        out[k - first] = TextureOf(bytes, k * BlockBytes, std::min(size, (k + 1) * BlockBytes));
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same with 32 bytes at a time: bit changes counted through a nibble table, the bytes 0x00 and
// 0xFF through comparisons.
__attribute__((target("avx2"))) void ScanTexturesAvx2(const uint8_t* bytes, int64_t size,
                                                      int64_t first, int64_t last, Texture* out) {
    static_assert(BlockBytes == 32);
    const __m256i low7 = _mm256_set1_epi8(0x7F), nibble = _mm256_set1_epi8(0x0F);
    const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi8(-1);
    const __m256i bitsOf = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1,
                                            2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    int64_t k = first;
    for (; k < last && (k + 1) * BlockBytes <= size; ++k) {
        const __m256i x =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + k * BlockBytes));
        const __m256i t = _mm256_and_si256(_mm256_xor_si256(x, _mm256_srli_epi16(x, 1)), low7);
        const __m256i counts = _mm256_add_epi8(
            _mm256_shuffle_epi8(bitsOf, _mm256_and_si256(t, nibble)),
            _mm256_shuffle_epi8(bitsOf, _mm256_and_si256(_mm256_srli_epi16(t, 4), nibble)));
        const __m256i sums = _mm256_sad_epu8(counts, zero);
        const __m128i half =
            _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
        const uint32_t quiet = uint32_t(__builtin_popcount(unsigned(_mm256_movemask_epi8(
            _mm256_or_si256(_mm256_cmpeq_epi8(x, zero), _mm256_cmpeq_epi8(x, ones))))));
        out[k - first].changes = uint32_t(_mm_cvtsi128_si64(half) + _mm_extract_epi64(half, 1));
        out[k - first].active = BlockBytes - quiet;
    }
    ScanTextures(bytes, size, k, last, out + (k - first));
}

TextureScan ChooseTextureScan() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? ScanTexturesAvx2 : ScanTextures;
}
#else
TextureScan ChooseTextureScan() {
    return ScanTextures;
}
#endif

// Steps 1 and 2: the segments of every width.
std::vector<Segment> FindSegments(const uint8_t* bytes, int64_t size, const FindProgress& progress,
                                  bool& cancelled) {
    static const TextureScan scanTextures = ChooseTextureScan();
    const int64_t blocks = (size + BlockBytes - 1) / BlockBytes;
    std::vector<Segment> segments;
    std::array<Run, MaxFindWidth + 1> runs{};
    int alive = 0; // runs whose sum is above 0
    auto closeRun = [&](int w) {
        CloseRun(runs[w], w, segments);
        --alive;
    };
    // Textures a chunk at a time, with the blocks around the chunk.
    constexpr int64_t Reach = 2, Chunk = 8192;
    std::vector<Texture> texture(size_t(Chunk + 2 * Reach));
    for (int64_t chunk = 0; chunk < blocks; chunk += Chunk) {
        if (progress && !progress(chunk * BlockBytes, size)) {
            cancelled = true;
            return {};
        }
        const int64_t from = std::max<int64_t>(0, chunk - Reach);
        const int64_t to = std::min(blocks, chunk + Chunk + Reach);
        std::fill(texture.begin(), texture.end(), Texture{});
        scanTextures(bytes, size, from, to, texture.data() + (from - (chunk - Reach)));
        const Texture* t = texture.data() + Reach - chunk; // t[k] for k in the chunk and around
        for (int64_t k = chunk; k < std::min(blocks, chunk + Chunk); ++k) {
            if (t[k].active < MinActiveBytes) continue; // quiet: no evidence either way
            Texture around;
            for (int64_t j = k - Reach; j <= k + Reach; ++j) around += t[j];
            const double changes = around.ChangesPerByte();
            if (changes >= MaxChanges) {
                if (alive == 0) continue;
                // Code, text or compressed data, or a dithered patch inside a picture: evidence
                // against every width, about what such bytes give where they are counted.
                const double penalty = BusyPenalty * t[k].active;
                for (int w = MinFindWidth; w <= MaxFindWidth; ++w) {
                    Run& run = runs[w];
                    if (run.sum <= 0) continue;
                    run.sum -= penalty;
                    if (run.sum <= 0 || run.peak - run.sum > MaxDrop) closeRun(w);
                }
                continue;
            }
            const double inverseLimit = 1 / MaxRatio(changes);
            Distances d;
            AddDistances(bytes, size, k * BlockBytes, std::min(size, (k + 1) * BlockBytes), d);
            for (int w = MinFindWidth; w <= MaxFindWidth; ++w) {
                Run& run = runs[w];
                // Evidence(d, w, limit), multiplying by the inverse: no division per width.
                const double e = double(d.farBits[w]) - double(d.nearBits[w]) * inverseLimit;
                if (run.sum <= 0) {
                    if (e <= 0) continue;
                    run = Run{0, 0, k, k};
                    ++alive;
                }
                run.sum += e;
                if (run.sum > run.peak) {
                    run.peak = run.sum;
                    run.peakBlock = k;
                } else if (run.sum <= 0 || run.peak - run.sum > MaxDrop) {
                    closeRun(w);
                }
            }
        }
    }
    for (int w = MinFindWidth; w <= MaxFindWidth; ++w)
        if (runs[w].sum > 0) closeRun(w);
    return segments;
}

// How width w fits bytes [first, last), in one pass: the near/far ratio (2 without far
// changes) and the evidence at `limit`, the MaxRatio of their texture.
struct Fit {
    double ratio = 2, evidence = 0;
};
Fit FitOver(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, int w, double limit) {
    Distances d;
    AddDistances(bytes, size, first, last, d, w, w);
    return {d.farBits[w] == 0 ? 2 : double(d.nearBits[w]) / d.farBits[w], Evidence(d, w, limit)};
}

} // namespace

std::vector<GraphicsRegion> FindGraphics(const uint8_t* bytes, int64_t size,
                                         const FindProgress& progress) {
    std::vector<GraphicsRegion> regions;
    if (bytes == nullptr || size <= 0) return regions;
    bool cancelled = false;
    std::vector<Segment> segments = FindSegments(bytes, size, progress, cancelled);
    if (cancelled) return {};
    // Step 3: the strongest segments first; one that lies mostly over a stronger one is the same
    // picture seen at another width (a multiple of its own, or the stride of its glyphs).
    std::stable_sort(segments.begin(), segments.end(),
                     [](const Segment& a, const Segment& b) { return a.evidence > b.evidence; });
    std::vector<bool> taken(size_t((size + BlockBytes - 1) / BlockBytes)); // blocks
    for (const Segment& s : segments) {
        const int64_t first = s.firstBlock * BlockBytes;
        const int64_t last = std::min(size, (s.lastBlock + 1) * BlockBytes);
        int64_t covered = 0;
        for (int64_t k = s.firstBlock; k <= s.lastBlock; ++k) covered += taken[size_t(k)];
        if (2 * covered > s.lastBlock - s.firstBlock + 1) continue;
        int w = s.width;
        // A divisor of the width that fits nearly as well is the width; if it fits as well but
        // is no picture, the bytes repeat with that shorter period (records, repeated code).
        Verdict v;
        bool periodic = false;
        const double limit = MaxRatio(TextureOf(bytes, first, last).ChangesPerByte());
        const double ratio = FitOver(bytes, size, first, last, w, limit).ratio;
        for (int d = MinFindWidth; d < w && !v.graphics; ++d) {
            if (w % d != 0) continue;
            const Fit fit = FitOver(bytes, size, first, last, d, limit);
            if (fit.evidence >= 0.25 * s.evidence && fit.ratio <= 1.3 * ratio) {
                v = CheckRegion(bytes, size, first, last, d);
                if (v.graphics)
                    w = d;
                else
                    periodic = true;
            }
        }
        if (!v.graphics && !periodic) v = CheckRegion(bytes, size, first, last, w);
        if (!v.graphics || v.score < MinScore) continue;
        for (int64_t k = s.firstBlock; k <= s.lastBlock; ++k) taken[size_t(k)] = true;
        regions.push_back({first, last - first, w, v.score, PixelLayout{}});
    }
    if (progress && !progress(size, size)) return {};
    std::stable_sort(
        regions.begin(), regions.end(),
        [](const GraphicsRegion& a, const GraphicsRegion& b) { return a.score > b.score; });
    return regions;
}

int32_t GuessWidth(const uint8_t* bytes, int64_t size) {
    if (bytes == nullptr || size <= 0) return 0;
    const int64_t last = std::min<int64_t>(size, 2048);
    Distances d;
    AddDistances(bytes, size, 0, last, d);
    const int w = BestWidth(d, TextureOf(bytes, 0, last).ChangesPerByte());
    if (w == 0 || !CheckRegion(bytes, size, 0, last, w, false).graphics) return 0;
    return w;
}

} // namespace viewer
