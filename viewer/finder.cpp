// The graphics finder: the scan's segments (finder_scan.cpp) become candidates, each measured
// (finder_features.cpp) and judged by the model (finder_model.cpp); the best are the regions.
//
// A segment tells where rows seem to follow each other and at which width, but a width's
// multiples fit a picture too (a font at width 1 also fits the stride of its glyphs), and its
// evidence starts where the scan's running sum did, often in the table in front of the picture.
// So each segment is judged at its width and at the divisors that fit about as well, each time
// with its ends moved to where the rows stop looking like a picture; the model picks.
#include "viewer/finder.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "viewer/finder_internal.h"

namespace viewer {

namespace finder {

namespace {

// Regions scoring below are not reported.
constexpr double MinScore = 0.5;
// How far a candidate's ends may move beyond its segment's, in rows and in bytes.
constexpr int64_t ReachRows = 64, ReachBytes = 4096;
// Rows looked at together when deciding where a picture starts or ends.
constexpr int64_t EdgeRows = 8;

// The squares of two rows with an odd number of set pixels, against all of them: about half in
// code, tables and noise, few in a picture (only where a stroke ends or turns).
double OddSquares(const uint8_t* row, int w) {
    unsigned odd = 0;
    for (int c = 0; c < w; ++c) {
        const unsigned x = row[c], y = row[c + w];
        odd += unsigned(__builtin_popcount((x ^ (x >> 1) ^ y ^ (y >> 1)) & 0x7F));
    }
    return odd / (7.0 * w);
}

bool BlankRow(const uint8_t* row, int w, uint8_t background) {
    for (int c = 0; c < w; ++c)
        if (row[c] != background) return false;
    return true;
}

// The rows of [first, last) at width w, reaching up to ReachRows beyond either end, that look
// most like one picture: the stretch whose rows' squares are odd less often than `limit` by the
// most, blank rows counting a little for it. Returns the stretch in bytes; empty when none.
std::pair<int64_t, int64_t> PictureRows(const uint8_t* bytes, int64_t size, int64_t first,
                                        int64_t last, int w) {
    const int64_t reach = std::min(ReachRows, std::max<int64_t>(1, ReachBytes / w)) * w;
    const int64_t from = std::max<int64_t>(first - reach, first % w);
    const int64_t to = std::min(size, last + reach);
    const int64_t rows = (to - from) / w - 1; // each row is judged with the one below it
    if (rows < 4) return {first, first};
    std::vector<double> odd(static_cast<size_t>(rows));
    std::vector<bool> blank(static_cast<size_t>(rows));
    uint64_t zeros = 0, ffs = 0;
    for (int64_t i = first; i < last; ++i) {
        zeros += bytes[i] == 0;
        ffs += bytes[i] == 0xFF;
    }
    const uint8_t background = ffs > zeros ? 0xFF : 0x00;
    for (int64_t r = 0; r < rows; ++r) {
        const uint8_t* row = bytes + from + r * w;
        odd[size_t(r)] = OddSquares(row, w);
        blank[size_t(r)] = BlankRow(row, w, background) && BlankRow(row + w, w, background);
    }
    // The limit follows the segment's own rows: a dithered picture is odder than a font.
    std::vector<double> inside;
    for (int64_t r = (first - from) / w; r < std::min(rows, (last - from) / w); ++r)
        if (!blank[size_t(r)]) inside.push_back(odd[size_t(r)]);
    if (inside.empty()) return {first, first};
    std::nth_element(inside.begin(), inside.begin() + long(inside.size() / 2), inside.end());
    const double limit = std::clamp(1.6 * inside[inside.size() / 2], 0.12, 0.4);
    // Windows of EdgeRows rows smooth single odd rows (a stroke's end) out.
    double best = 0, sum = 0;
    int64_t start = 0, bestFirst = 0, bestLast = -1;
    for (int64_t r = 0; r < rows; ++r) {
        double gain = 0;
        int counted = 0;
        for (int64_t k = r; k < std::min(rows, r + EdgeRows); ++k, ++counted)
            gain += blank[size_t(k)] ? 0.02 : limit - odd[size_t(k)];
        gain /= std::max(counted, 1);
        if (sum <= 0) {
            sum = 0;
            start = r;
        }
        sum += gain;
        if (sum > best) {
            best = sum;
            bestFirst = start;
            bestLast = r;
        }
    }
    if (bestLast < bestFirst) return {first, first};
    return {from + bestFirst * w, std::min(to, from + (bestLast + 2) * w)};
}

struct Judged {
    Candidate candidate;
    double score = 0;
};

} // namespace

std::vector<Candidate> CandidatesOf(const uint8_t* bytes, int64_t size, const Segment& segment) {
    std::vector<Candidate> candidates;
    const int w = segment.width;
    const double ratio = MeasureNearFar(bytes, size, segment.first, segment.last, w).Ratio();
    for (int d = 1; d <= w; ++d) {
        if (w % d != 0) continue;
        if (d < w &&
            MeasureNearFar(bytes, size, segment.first, segment.last, d).Ratio() > 1.5 * ratio)
            continue;
        const auto [first, last] = PictureRows(bytes, size, segment.first, segment.last, d);
        if (last - first < 16 * int64_t{d} || last - first < 64) continue;
        candidates.push_back({first, last, d, MeasureRegion(bytes, size, first, last, d)});
    }
    return candidates;
}

} // namespace finder

using finder::Candidate;
using finder::Segment;

std::vector<GraphicsRegion> FindGraphics(const uint8_t* bytes, int64_t size,
                                         const FindProgress& progress) {
    std::vector<GraphicsRegion> regions;
    if (bytes == nullptr || size <= 0) return regions;
    bool cancelled = false;
    std::vector<Segment> segments = finder::FindSegments(bytes, size, progress, cancelled);
    if (cancelled) return {};
    std::stable_sort(segments.begin(), segments.end(),
                     [](const Segment& a, const Segment& b) { return a.evidence > b.evidence; });
    // The bytes the regions found so far take: first byte -> end.
    std::map<int64_t, int64_t> taken;
    auto coveredBytes = [&](int64_t first, int64_t last) {
        int64_t covered = 0;
        auto it = taken.upper_bound(first);
        if (it != taken.begin()) --it;
        for (; it != taken.end() && it->first < last; ++it)
            covered += std::max<int64_t>(0, std::min(last, it->second) - std::max(first, it->first));
        return covered;
    };
    for (const Segment& s : segments) {
        if (2 * coveredBytes(s.first, s.last) > s.last - s.first) continue;
        double best = 0;
        Candidate chosen;
        for (const Candidate& c : finder::CandidatesOf(bytes, size, s)) {
            const double score = finder::ModelScore(c.features);
            if (score > best + 1e-9) {
                best = score;
                chosen = c;
            }
        }
        if (best < finder::MinScore) continue;
        if (2 * coveredBytes(chosen.first, chosen.last) > chosen.last - chosen.first) continue;
        taken[chosen.first] = chosen.last;
        regions.push_back({chosen.first, chosen.last - chosen.first, chosen.width, best});
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
    double best = 0;
    int width = 0;
    for (int w = MinFindWidth; w <= MaxFindWidth; ++w) {
        if (last < 16 * int64_t{w}) break;
        const double score =
            finder::ModelScore(finder::MeasureRegion(bytes, size, 0, last - last % w, w));
        if (score > best + 1e-9) {
            best = score;
            width = w;
        }
    }
    return best >= finder::MinScore ? width : 0;
}

} // namespace viewer
