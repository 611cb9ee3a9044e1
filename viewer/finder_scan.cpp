// The finder's scan: every byte once, cheaply, to find the stretches worth a closer look.
//
// One-bit graphics are similar to the row just above them and much less similar to rows further
// away: at the right width W, the bits of byte i and byte i + W differ far less often than those
// of byte i and byte i + 7W. Text, machine code and compressed data differ about as much at every
// distance. And the bytes of a picture hold runs of pixels: few changes from one bit to the next,
// where the bytes of code, text and compressed data change between neighbouring bits about every
// other bit.
//
// In blocks of 64 bytes:
// 1. per 32 bytes, the bytes that are neither 0x00 nor 0xFF and their bit changes; blocks among
//    busy neighbours (code, text, compressed or random data) count against every width and are
//    read no further; blocks of fill count for nothing either way;
// 2. the other blocks: near and far bit differences at every width, over half of the block's
//    bytes (evidence adds up over a stretch; every byte of it is measured again when the
//    stretch is judged). Per width, the stretches whose evidence adds up most are segments.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "viewer/finder_internal.h"

namespace viewer::finder {

bool ForEachInParallel(int64_t count, const std::function<void(int64_t)>& body,
                       const std::function<bool(int64_t)>& keepGoing) {
    std::atomic<int64_t> next{0};
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto run = [&](bool caller) {
        for (;;) {
            if (stop.load(std::memory_order_relaxed)) return;
            const int64_t i = next.fetch_add(1);
            if (i >= count) return;
            try {
                body(i);
            } catch (...) {
                const std::lock_guard<std::mutex> hold(failureLock);
                if (!failure) failure = std::current_exception();
                stop = true;
                return;
            }
            if (caller && keepGoing && !keepGoing(std::min(count, next.load()))) stop = true;
        }
    };
    const int64_t threads =
        std::min<int64_t>({count, std::max(1u, std::thread::hardware_concurrency()), 16});
    std::vector<std::thread> others;
    try {
        for (int64_t t = 1; t < threads; ++t) others.emplace_back(run, false);
    } catch (const std::system_error&) {
        // No more threads to be had: those started and this one do the work.
    }
    run(true);
    for (std::thread& t : others) t.join();
    if (failure) std::rethrow_exception(failure);
    return !stop;
}

const char* const WindowFeatureNames[WindowFeatureCount] = {
    "changes", "active", "zeros", "text", "high", "evidence", "width", "ratio", "odd", "font"};

namespace {

constexpr int64_t TextureBytes = 32; // what one texture counts
constexpr int64_t BlockBytes = 32;   // what one step of the running sums takes
constexpr int64_t PerBlock = BlockBytes / TextureBytes;
constexpr int FarRows = 7; // the baseline: rows this far apart

constexpr double MaxChanges = 3.1;     // bit changes per byte above which nothing is graphics
constexpr uint32_t MinActiveBytes = 3; // bytes other than 0x00 and 0xFF a block needs to judge
// Windows the model scores below this are read no further.
constexpr double MinWindowScore = 0.05;
constexpr double MinEvidence = 100; // bits of evidence a segment needs
// A window the model doubts is read on where it stands alone, its neighbours busy or blank, and
// its rows follow each other clearly: a few small sprites among other data.
constexpr float LoneEvidence = 100, LoneRatio = 0.55f;
// A run ends at its peak once it has fallen this far below it: what follows is another picture.
constexpr double MaxDrop = 400;
constexpr double BusyPenalty = 1; // bits per active byte of a block whose bytes change too often

// Bytes that are neither 0x00 nor 0xFF and the sum of their bit changes; bytes 0x00, bytes of
// printable text and bytes from 0x80 up.
struct Texture {
    uint32_t active = 0, changes = 0, zeros = 0, text = 0, high = 0;
    Texture& operator+=(const Texture& o) {
        active += o.active;
        changes += o.changes;
        zeros += o.zeros;
        text += o.text;
        high += o.high;
        return *this;
    }
    double ChangesPerByte() const { return active == 0 ? 0 : double(changes) / active; }
};

constexpr std::array<uint8_t, 256> MakeChanges() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = uint8_t(__builtin_popcount(unsigned(i ^ (i >> 1)) & 0x7F));
    return table;
}
constexpr std::array<uint8_t, 256> BitChanges = MakeChanges();

void ScanTextures(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, Texture* out) {
    for (int64_t k = first; k < last; ++k) {
        Texture t;
        const int64_t end = std::min(size, (k + 1) * TextureBytes);
        for (int64_t i = k * TextureBytes; i < end; ++i) {
            const uint8_t b = bytes[i];
            t.active += b != 0 && b != 0xFF;
            t.changes += BitChanges[b];
            t.zeros += b == 0;
            t.text += b >= 0x20 && b < 0x7F;
            t.high += b >= 0x80;
        }
        out[k - first] = t;
    }
}

// The widest width whose far word, 7 rows on from the word at i, lies inside the bytes.
inline int WidthsWithin(int64_t size, int64_t i) {
    if (i + 8 + int64_t{FarRows} * MaxFindWidth <= size) return MaxFindWidth;
    return i + 8 + FarRows > size ? 0 : int((size - i - 8) / FarRows);
}

// Near and far differences at every width over the sampled words of one block.
struct Distances {
    std::array<uint32_t, MaxFindWidth + 1> nearBits{}, farBits{};
};

// The near and far differences of the word at i at every width whose far word lies inside the
// bytes. Inlined into each kernel, so that the bits are counted with the instructions the kernel
// is built for.
[[gnu::always_inline]] inline void CountWord(const uint8_t* bytes, int64_t i, int widths,
                                             Distances& d) {
    const uint64_t x = Load64(bytes + i);
    for (int w = MinFindWidth; w <= widths; ++w) {
        d.nearBits[w] += uint32_t(__builtin_popcountll(x ^ Load64(bytes + i + w)));
        d.farBits[w] += uint32_t(__builtin_popcountll(x ^ Load64(bytes + i + FarRows * w)));
    }
}

// Near and far differences at every width, a word at a time: over 8 words spread through a
// window (step 1), or over every byte of a block (step 2). A pair counts only where the far word
// lies inside the bytes.
constexpr int64_t WindowStep = WindowBytes / 8, BlockStep = 8;
template <int64_t Span, int64_t Step>
[[gnu::always_inline]] inline void WordByWord(const uint8_t* bytes, int64_t size, int64_t at,
                                              Distances& d) {
    for (int64_t i = at; i < at + Span; i += Step) {
        const int widths = WidthsWithin(size, i);
        if (widths == 0) break;
        CountWord(bytes, i, widths, d);
    }
}

template <int64_t Span, int64_t Step>
void PlainDistances(const uint8_t* bytes, int64_t size, int64_t at, Distances& d) {
    WordByWord<Span, Step>(bytes, size, at, d);
}

#if defined(__x86_64__) && defined(__GNUC__)
template <int64_t Span, int64_t Step>
__attribute__((target("popcnt"))) void PopcntDistances(const uint8_t* bytes, int64_t size,
                                                       int64_t at, Distances& d) {
    WordByWord<Span, Step>(bytes, size, at, d);
}

// Near and far differences with four widths at a time: the 32 bytes from i + w hold the words
// at i + w, i + w + 8, i + w + 16 and i + w + 24, four widths' near words at once; their far words
// lie 56 bytes apart, loaded one by one (a gather is slower). Bits are counted through a nibble
// table. A word whose far words do not all lie inside the bytes is counted one width at a time.
__attribute__((target("avx2,popcnt"))) inline __m256i CountBits4(__m256i v) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i bitsOf = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1,
                                            2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    const __m256i counts = _mm256_add_epi8(
        _mm256_shuffle_epi8(bitsOf, _mm256_and_si256(v, nibble)),
        _mm256_shuffle_epi8(bitsOf, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)));
    return _mm256_sad_epu8(counts, _mm256_setzero_si256());
}

// The words at p and p + 56, straight from memory into one register.
__attribute__((target("avx2,popcnt"))) inline __m128i Load2(const uint8_t* p) {
    const __m128d low = _mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    return _mm_castpd_si128(_mm_loadh_pd(low, reinterpret_cast<const double*>(p + 8 * FarRows)));
}

template <int64_t Span, int64_t Step>
__attribute__((target("avx2,popcnt"))) void Distances4(const uint8_t* bytes, int64_t size,
                                                       int64_t at, Distances& d) {
    static_assert(MinFindWidth == 1 && MaxFindWidth % 32 == 0);
    constexpr int Groups = MaxFindWidth / 4; // group g: widths g % 8 + 1 + 32 (g / 8) + 8 j
    __m256i nearSum[Groups], farSum[Groups];
    for (int g = 0; g < Groups; ++g) nearSum[g] = farSum[g] = _mm256_setzero_si256();
    for (int64_t i = at; i < at + Span; i += Step) {
        const int widths = WidthsWithin(size, i);
        if (widths == 0) break;
        if (widths < MaxFindWidth) {
            CountWord(bytes, i, widths, d);
            continue;
        }
        const __m256i x = _mm256_set1_epi64x(static_cast<long long>(Load64(bytes + i)));
        for (int g = 0; g < Groups; ++g) {
            const int64_t w = g % 8 + 1 + 32 * (g / 8);
            const __m256i nearWords =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + w));
            const uint8_t* far = bytes + i + FarRows * w;
            const __m256i farWords = _mm256_set_m128i(Load2(far + 16 * FarRows), Load2(far));
            nearSum[g] = _mm256_add_epi64(nearSum[g], CountBits4(_mm256_xor_si256(x, nearWords)));
            farSum[g] = _mm256_add_epi64(farSum[g], CountBits4(_mm256_xor_si256(x, farWords)));
        }
    }
    for (int g = 0; g < Groups; ++g) {
        alignas(32) uint64_t nearLanes[4], farLanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(nearLanes), nearSum[g]);
        _mm256_store_si256(reinterpret_cast<__m256i*>(farLanes), farSum[g]);
        for (int j = 0; j < 4; ++j) {
            const int w = g % 8 + 1 + 32 * (g / 8) + 8 * j;
            d.nearBits[w] += uint32_t(nearLanes[j]);
            d.farBits[w] += uint32_t(farLanes[j]);
        }
    }
}

// Textures with 32 bytes at a time: bit changes counted as the distances count theirs, the
// bytes 0x00 and 0xFF through comparisons.
__attribute__((target("avx2,popcnt"))) void
ScanTexturesAvx2(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, Texture* out) {
    static_assert(TextureBytes == 32);
    const __m256i low7 = _mm256_set1_epi8(0x7F);
    const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi8(-1);
    int64_t k = first;
    for (; k < last && (k + 1) * TextureBytes <= size; ++k) {
        const __m256i x =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + k * TextureBytes));
        const __m256i t = _mm256_and_si256(_mm256_xor_si256(x, _mm256_srli_epi16(x, 1)), low7);
        const __m256i sums = CountBits4(t);
        const __m128i half =
            _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
        const __m256i zeros = _mm256_cmpeq_epi8(x, zero);
        const uint32_t quiet = uint32_t(__builtin_popcount(
            unsigned(_mm256_movemask_epi8(_mm256_or_si256(zeros, _mm256_cmpeq_epi8(x, ones))))));
        // Printable text: 0x20..0x7E, as signed bytes above 0x1F and below 0x7F.
        const __m256i text = _mm256_and_si256(_mm256_cmpgt_epi8(x, _mm256_set1_epi8(0x1F)),
                                              _mm256_cmpgt_epi8(_mm256_set1_epi8(0x7F), x));
        Texture& o = out[k - first];
        o.changes = uint32_t(_mm_cvtsi128_si64(half) + _mm_extract_epi64(half, 1));
        o.active = TextureBytes - quiet;
        o.zeros = uint32_t(__builtin_popcount(unsigned(_mm256_movemask_epi8(zeros))));
        o.text = uint32_t(__builtin_popcount(unsigned(_mm256_movemask_epi8(text))));
        o.high = uint32_t(__builtin_popcount(unsigned(_mm256_movemask_epi8(x))));
    }
    ScanTextures(bytes, size, k, last, out + (k - first));
}

#endif

using TextureScan = void (*)(const uint8_t*, int64_t, int64_t, int64_t, Texture*);
using DistanceScan = void (*)(const uint8_t*, int64_t, int64_t, Distances&);

struct Kernels {
    TextureScan textures = ScanTextures;
    DistanceScan windowDistances = PlainDistances<WindowBytes, WindowStep>;
    DistanceScan blockDistances = PlainDistances<BlockBytes, BlockStep>;
};

Kernels ChooseKernels() {
    Kernels k;
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt")) {
        k.textures = ScanTexturesAvx2;
        k.windowDistances = Distances4<WindowBytes, WindowStep>;
        k.blockDistances = Distances4<BlockBytes, BlockStep>;
    }
    if (__builtin_cpu_supports("popcnt") && !__builtin_cpu_supports("avx2")) {
        k.windowDistances = PopcntDistances<WindowBytes, WindowStep>;
        k.blockDistances = PopcntDistances<BlockBytes, BlockStep>;
    }
#endif
    return k;
}

std::atomic<bool> plainKernels{false};

Kernels CurrentKernels() {
    static const Kernels fastest = ChooseKernels();
    return plainKernels ? Kernels{} : fastest;
}

// The largest near/far ratio a width may show for bytes of this texture: pictures with long runs
// of pixels may change more from row to row than pictures whose bytes look busier.
double MaxRatio(double changesPerByte) {
    constexpr double Calm = 2.6, CalmRatio = 0.9, BusyRatio = 0.5;
    if (changesPerByte <= Calm) return CalmRatio;
    if (changesPerByte >= MaxChanges) return 0;
    return CalmRatio - (changesPerByte - Calm) * (CalmRatio - BusyRatio) / (MaxChanges - Calm);
}

// A stretch of blocks whose evidence for one width adds up, ending where the running sum peaked
// (the running sum restarts at 0 whenever it falls below).
struct Run {
    double sum = 0, peak = 0;
    int64_t first = 0, peakBlock = 0;
};

// Step 1 over one window whose texture is known: the sampled evidence of every width, and the
// squares at the best one.
WindowFeatures MeasureWindow(const uint8_t* bytes, int64_t size, int64_t at, const Texture& t,
                             const Kernels& kernels) {
    WindowFeatures f{};
    const double n = double(std::min(WindowBytes, size - at));
    const double changes = t.ChangesPerByte();
    f[WindowChanges] = float(changes);
    f[WindowActive] = float(t.active / n);
    f[WindowZeros] = float(t.zeros / n);
    f[WindowText] = float(t.text / n);
    f[WindowHigh] = float(t.high / n);
    Distances d;
    kernels.windowDistances(bytes, size, at, d);
    const double inverseLimit = 1 / std::max(MaxRatio(changes), 0.3);
    double best = -1e9;
    int bestWidth = 1;
    for (int w = MinFindWidth; w <= MaxFindWidth; ++w) {
        const double e = double(d.farBits[w]) - double(d.nearBits[w]) * inverseLimit;
        if (e > best) {
            best = e;
            bestWidth = w;
        }
    }
    f[WindowEvidence] = float(best);
    f[WindowWidth] = float(std::log2(bestWidth));
    f[WindowRatio] = d.farBits[bestWidth] == 0
                         ? 2.0f
                         : float(double(d.nearBits[bestWidth]) / d.farBits[bestWidth]);
    f[WindowFont] = float(double(d.farBits[1]) - double(d.nearBits[1]) * inverseLimit);
    uint64_t odd = 0, mixed = 0;
    for (int64_t i = at; i + bestWidth + 8 <= std::min(size, at + WindowBytes + bestWidth);
         i += WindowBytes / 8) {
        const uint64_t x = Load64(bytes + i), y = Load64(bytes + i + bestWidth);
        const uint64_t hx = (x ^ (x >> 1)) & Low7, hy = (y ^ (y >> 1)) & Low7;
        for (int b = 0; b < 64; b += 8) {
            odd += BitCount[((hx ^ hy) >> b) & 0xFF];
            mixed += BitCount[((hx | hy | (x ^ y)) >> b) & 0x7F];
        }
    }
    f[WindowOdd] = mixed == 0 ? 0.0f : float(double(odd) / double(mixed));
    return f;
}

// Step 1 over the windows of one chunk: each window's texture, and for those neither quiet nor
// busy their measures, handed to `each`.
constexpr int64_t ChunkWindows = 4096;

template <typename Each>
void ScanChunk(const uint8_t* bytes, int64_t size, int64_t chunk, const Kernels& kernels,
               Each each) {
    constexpr int64_t TexturesPerWindow = WindowBytes / TextureBytes;
    const int64_t windows = (size + WindowBytes - 1) / WindowBytes;
    const int64_t first = chunk * ChunkWindows, end = std::min(windows, first + ChunkWindows);
    const int64_t lastTexture =
        std::min((size + TextureBytes - 1) / TextureBytes, end * TexturesPerWindow);
    std::vector<Texture> textures(static_cast<size_t>((end - first) * TexturesPerWindow));
    kernels.textures(bytes, size, first * TexturesPerWindow, lastTexture, textures.data());
    for (int64_t k = first; k < end; ++k) {
        Texture t;
        for (int64_t j = 0; j < TexturesPerWindow; ++j)
            t += textures[size_t((k - first) * TexturesPerWindow + j)];
        if (t.active < 2 * MinActiveBytes || t.ChangesPerByte() >= MaxChanges) continue;
        each(k, MeasureWindow(bytes, size, k * WindowBytes, t, kernels));
    }
}

int64_t ChunkCount(int64_t size) {
    return (size + ChunkWindows * WindowBytes - 1) / (ChunkWindows * WindowBytes);
}

// Step 2: the running sums of every width over the blocks of [first, last), every byte counted;
// the stretches whose sums peak high enough become segments.
struct Zone {
    int64_t first = 0, last = 0;
    bool lone = false;
};

void SegmentZone(const uint8_t* bytes, int64_t size, const Zone& zone, const Kernels& kernels,
                 std::vector<Segment>& segments) {
    const int64_t first = zone.first, last = zone.last;
    std::array<Run, MaxFindWidth + 1> runs{};
    auto closeRun = [&](int w) {
        Run& run = runs[size_t(w)];
        if (run.peak >= MinEvidence)
            segments.push_back({run.first * BlockBytes,
                                std::min(size, (run.peakBlock + 1) * BlockBytes), w, run.peak,
                                zone.lone});
        run = Run{};
    };
    std::vector<Texture> textures(static_cast<size_t>((last - first) / TextureBytes + 2));
    const int64_t firstTexture = first / TextureBytes;
    const int64_t lastTexture = (std::min(last, size) + TextureBytes - 1) / TextureBytes;
    kernels.textures(bytes, size, firstTexture, lastTexture, textures.data());
    for (int64_t k = firstTexture; k < lastTexture; k += PerBlock) {
        Texture here;
        for (int64_t j = k; j < std::min(lastTexture, k + PerBlock); ++j)
            here += textures[size_t(j - firstTexture)];
        if (here.active < MinActiveBytes) continue; // quiet: no evidence either way
        const int64_t block = k / PerBlock;
        const double changes = here.ChangesPerByte();
        if (changes >= MaxChanges) {
            // Code, text or compressed data, or a dithered patch inside a picture: evidence
            // against every width.
            for (int w = MinFindWidth; w <= MaxFindWidth; ++w) {
                Run& run = runs[size_t(w)];
                if (run.sum <= 0) continue;
                run.sum -= BusyPenalty * here.active;
                if (run.sum <= 0 || run.peak - run.sum > MaxDrop) closeRun(w);
            }
            continue;
        }
        const double inverseLimit = 1 / MaxRatio(changes);
        Distances d;
        kernels.blockDistances(bytes, size, block * BlockBytes, d);
        for (int w = MinFindWidth; w <= MaxFindWidth; ++w) {
            Run& run = runs[size_t(w)];
            const double e = double(d.farBits[w]) - double(d.nearBits[w]) * inverseLimit;
            if (run.sum <= 0) {
                if (e <= 0) continue;
                run = Run{0, 0, block, block};
            }
            run.sum += e;
            if (run.sum > run.peak) {
                run.peak = run.sum;
                run.peakBlock = block;
            } else if (run.sum <= 0 || run.peak - run.sum > MaxDrop) {
                closeRun(w);
            }
        }
    }
    for (int w = MinFindWidth; w <= MaxFindWidth; ++w)
        if (runs[size_t(w)].sum > 0) closeRun(w);
}

} // namespace

void UsePlainKernels(bool plain) {
    plainKernels = plain;
}

std::vector<Segment> FindSegments(const uint8_t* bytes, int64_t size, const FindProgress& progress,
                                  bool& cancelled) {
    const Kernels kernels = CurrentKernels();
    const int64_t windows = (size + WindowBytes - 1) / WindowBytes;
    // Step 1: which windows are worth more, a chunk of windows at a time on every thread.
    enum : uint8_t { Unread, Hot, Doubted, Cold };
    std::vector<uint8_t> state(static_cast<size_t>(windows), Unread);
    if (progress && !progress(0, size)) {
        cancelled = true;
        return {};
    }
    const auto scanChunk = [&](int64_t chunk) {
        ScanChunk(bytes, size, chunk, kernels, [&](int64_t k, const WindowFeatures& f) {
            state[size_t(k)] = WindowScore(f) >= MinWindowScore ? Hot
                               : f[WindowEvidence] >= LoneEvidence && f[WindowRatio] <= LoneRatio
                                   ? Doubted
                                   : Cold;
        });
    };
    const auto keepGoing = [&](int64_t handedOut) {
        return !progress || progress(std::min(size, handedOut * ChunkWindows * WindowBytes), size);
    };
    if (!ForEachInParallel(ChunkCount(size), scanChunk, keepGoing)) {
        cancelled = true;
        return {};
    }
    // Step 2 over zones: hot windows with at most two others between them, and one window more
    // on either side; a doubted window alone, with one on either side. The zones are measured on
    // every thread; their segments are kept in the zones' order.
    std::vector<Zone> zones;
    const auto unread = [&](int64_t k) {
        return k < 0 || k >= windows || state[size_t(k)] == Unread;
    };
    for (int64_t k = 0; k < windows;) {
        if (state[size_t(k)] == Doubted && unread(k - 1) && unread(k + 1)) {
            zones.push_back({std::max<int64_t>(0, k - 1) * WindowBytes,
                             std::min(size, (k + 2) * WindowBytes), true});
            k += 2;
            continue;
        }
        if (state[size_t(k)] != Hot) {
            ++k;
            continue;
        }
        int64_t lastHot = k;
        for (int64_t j = k + 1; j < windows && j <= lastHot + 3; ++j)
            if (state[size_t(j)] == Hot) lastHot = j;
        const int64_t end = std::min(windows, lastHot + 2);
        zones.push_back(
            {std::max<int64_t>(0, k - 1) * WindowBytes, std::min(size, end * WindowBytes), false});
        k = end;
    }
    std::vector<std::vector<Segment>> found(zones.size());
    ForEachInParallel(int64_t(zones.size()), [&](int64_t z) {
        SegmentZone(bytes, size, zones[size_t(z)], kernels, found[size_t(z)]);
    });
    std::vector<Segment> segments;
    for (const std::vector<Segment>& zone : found)
        segments.insert(segments.end(), zone.begin(), zone.end());
    return segments;
}

void MeasureWindows(const uint8_t* bytes, int64_t size,
                    const std::function<void(int64_t at, const WindowFeatures&)>& each) {
    const Kernels kernels = CurrentKernels();
    for (int64_t chunk = 0; chunk < ChunkCount(size); ++chunk)
        ScanChunk(bytes, size, chunk, kernels,
                  [&](int64_t k, const WindowFeatures& f) { each(k * WindowBytes, f); });
}

} // namespace viewer::finder
