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
#include <array>
#include <cmath>
#include <map>

#include "viewer/finder_internal.h"

namespace viewer {

namespace finder {

namespace {

// How far a candidate's ends may move beyond its segment's, in rows and in bytes.
constexpr int64_t ReachRows = 256, ReachBytes = 4096;
// The pieces a segment is judged in when looking for where its picture lies: this many bytes,
// and at least this many rows.
constexpr int64_t PieceBytes = 512, MinPieceRows = 16;
// A group whose leader scores below this in every piece at its own width is judged no further.
constexpr double RejectBelow = 0.02;
// Blank rows before a picture at the file's start that its region takes in.
constexpr int64_t MaxLeadingBlankRows = 16;
// Such a group may still hold graphics at another width: a table's stride can lead the segments
// over the font beside it. Its members dense with evidence are judged on their own: those with at
// least a quarter of the leader's evidence, 1.4 bits of it a byte or more, and the 16 rows a
// candidate needs. What they hold is taken only at a score of 0.8 or more, since such members lie
// in tables more often. (The limits were chosen on the training part of the finder's corpus.)
constexpr double RescueShare = 0.25, RescueDensity = 1.4, MinRescuedScore = 0.8;
constexpr int64_t RescueRows = 16;

bool WorthRescuing(const Segment& leader, const Segment& member) {
    const int64_t bytes = member.last - member.first;
    return member.evidence >= RescueShare * leader.evidence &&
           member.evidence >= RescueDensity * double(bytes) && bytes / member.width >= RescueRows;
}

// Shorter segments inside a rejected leader's bytes may hold graphics too: icons of several widths
// side by side under the stride that leads them all. Those with half a bit of evidence a byte, the
// rows a candidate needs and ink in most bits of a byte (not tables of small numbers) are judged
// on their own, in pieces half the usual size (an icon of 40 rows among others of other widths);
// what they hold is taken at a score of 0.8 or more and 256 bytes or more. Where their edges take
// in bytes that make them look far worse (scoring below half their best piece: a small icon
// after sparse records that share its byte values), their core of 256 bytes or more is judged
// too.
constexpr double InnerDensity = 0.5;
constexpr int64_t MinInnerBytes = 256, MinCoreBytes = 256;
constexpr double CoreShare = 0.5;

bool WorthRescuingInside(const uint8_t* bytes, const Segment& inner) {
    const int64_t length = inner.last - inner.first;
    return inner.evidence >= InnerDensity * double(length) && length / inner.width >= RescueRows &&
           InkedBits(bytes, inner.first, inner.last) >= MinInkedBits;
}

// A few rows taken on their own are a picture only where they hold many different bytes, as
// small sprites and icons do: a table of masks, flags or one repeated value shows the model a
// picture too, of a few byte values. A lone window's rows need a quarter of the byte values they
// could hold, a core without its edges (256 bytes or more) a tenth.
constexpr float LoneDistinct = 0.25f, CoreDistinct = 0.1f;

// The measures of [first, last) at width w read as rows with bit 7 left, or with bit 0 left.
Features MeasureReading(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, int w,
                        bool lsb) {
    if (!lsb) return MeasureRegion(bytes, size, first, last, w);
    std::vector<uint8_t> reversed(bytes + first, bytes + std::min(last, size));
    for (uint8_t& v : reversed) v = ReversedBits[v];
    return MeasureRegion(reversed.data(), int64_t(reversed.size()), 0, int64_t(reversed.size()), w);
}

// The candidate [first, last) at width w read as rows with bit 7 or with bit 0 left, measured and
// scored.
Candidate CandidateAt(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, int w,
                      bool lsb) {
    Candidate c{first, last, w, MeasureReading(bytes, size, first, last, w, lsb),
                lsb ? PixelLayout{LayoutKind::RowsLsb, 1} : PixelLayout{}};
    c.score = ModelScore(c.features);
    return c;
}

// Rows one byte wide are read with bit 7 left only: their mirror image, a font's glyphs turned
// round, looks as much like a picture.
bool ReadBothWays(int w) {
    return w >= 2;
}

// The model's score of [first, last) at width w, the better of its two readings.
double BestReadingScore(const uint8_t* bytes, int64_t size, int64_t first, int64_t last, int w) {
    double score = ModelScore(MeasureRegion(bytes, size, first, last, w));
    if (ReadBothWays(w))
        score = std::max(score, ModelScore(MeasureReading(bytes, size, first, last, w, true)));
    return score;
}

// The rows of [first, last) at width w (from `first` on) that the model likes best: each piece of
// the stretch is scored, and the run of pieces around the best one is the core of the picture.
// Returns it in bytes, and the best piece's score in `best` (a stretch of one or two pieces is
// scored whole).
std::pair<int64_t, int64_t> CoreOf(const uint8_t* bytes, int64_t size, int64_t first, int64_t last,
                                   int w, double& bestScore, int64_t pieceBytes = PieceBytes) {
    const int64_t pieceRows = std::max(MinPieceRows, pieceBytes / w);
    const int64_t pieces = (last - first) / w / pieceRows;
    if (pieces <= 2) {
        bestScore = BestReadingScore(bytes, size, first, first + (last - first) / w * w, w);
        return {first, last};
    }
    std::vector<double> scores(static_cast<size_t>(pieces));
    size_t best = 0;
    for (size_t k = 0; k < scores.size(); ++k) {
        const int64_t from = first + int64_t(k) * pieceRows * w;
        scores[k] = BestReadingScore(bytes, size, from, from + pieceRows * w, w);
        if (scores[k] > scores[best]) best = k;
    }
    // A piece belongs to the core when it scores a third of the best at least, or when the piece
    // beyond it does (a part of a picture unlike the rest: a font's box-drawing glyphs).
    bestScore = scores[best];
    const double keep = scores[best] / 3;
    auto belongs = [&](size_t k, size_t beyond) {
        return scores[k] >= keep || (beyond < scores.size() && scores[beyond] >= keep);
    };
    size_t low = best, high = best;
    while (low > 0 && belongs(low - 1, low >= 2 ? low - 2 : scores.size())) --low;
    while (high + 1 < scores.size() && belongs(high + 1, high + 2)) ++high;
    const int64_t end =
        high + 1 == scores.size() ? last : first + int64_t(high + 1) * pieceRows * w;
    return {first + int64_t(low) * pieceRows * w, end};
}

// How often each byte value occurs in [first, last), counted in four tables so that a run of one
// value does not wait on itself.
using ByteCounts = std::array<double, 256>;
ByteCounts CountBytes(const uint8_t* bytes, int64_t first, int64_t last) {
    std::array<std::array<uint32_t, 256>, 4> counts{};
    int64_t i = first;
    for (; i + 4 <= last; i += 4)
        for (size_t k = 0; k < 4; ++k) ++counts[k][bytes[i + int64_t(k)]];
    for (; i < last; ++i) ++counts[0][bytes[i]];
    ByteCounts sum{};
    for (size_t v = 0; v < 256; ++v)
        sum[v] = double(counts[0][v]) + counts[1][v] + counts[2][v] + counts[3][v];
    return sum;
}

// Where the picture whose core is [core.first, core.second) starts and ends, to the row: a
// picture draws on its own few byte values (a font's strokes, a sprite's edges), the bytes around
// it on others. Each row within reach scores the log-likelihood ratio of its bytes under the
// core's byte counts against those around it (the blank bytes 0x00 and 0xFF, common to pictures
// and tables alike, score nothing), and the best-scoring stretch of rows is the picture; twice,
// the second time with the counts of the first stretch.
std::pair<int64_t, int64_t> EdgesOf(const uint8_t* bytes, int64_t size,
                                    std::pair<int64_t, int64_t> core, int w) {
    const int64_t reach = std::min(ReachRows, std::max<int64_t>(1, ReachBytes / w)) * w;
    const int64_t from = std::max(core.first - reach, core.first % w);
    const int64_t rows = (std::min(size, core.second + reach) - from) / w;
    if (rows < 4) return core;
    std::vector<double> rowScores(static_cast<size_t>(rows));
    const ByteCounts all = CountBytes(bytes, from, from + rows * w);
    for (int pass = 0; pass < 2; ++pass) {
        const ByteCounts in = CountBytes(bytes, core.first, core.second);
        const double inTotal = double(core.second - core.first) + 256;
        const double outTotal = double(rows * w - (core.second - core.first)) + 256;
        std::array<double, 256> gain{};
        for (size_t v = 1; v < 255; ++v)
            gain[v] = std::log((in[v] + 1) / inTotal) - std::log((all[v] - in[v] + 1) / outTotal);
        for (int64_t r = 0; r < rows; ++r) {
            double sum = 0;
            for (int c = 0; c < w; ++c) sum += gain[bytes[from + r * w + c]];
            rowScores[size_t(r)] = sum;
        }
        // The core's inside, but for a piece at either end, stays: the byte values of a picture
        // may change from one part to the next (a font's box-drawing glyphs) without it ending.
        const int64_t piece = std::max(MinPieceRows, PieceBytes / w);
        const int64_t keepFirst = (core.first - from) / w + piece;
        const int64_t keepLast = (core.second - from) / w - piece;
        double best = 0, sum = 0;
        int64_t start = 0, bestFirst = 0, bestLast = -1;
        for (int64_t r = 0; r < rows; ++r) {
            if (sum <= 0) {
                sum = 0;
                start = r;
            }
            sum += r >= keepFirst && r < keepLast ? std::max(rowScores[size_t(r)], 1.0)
                                                  : rowScores[size_t(r)];
            if (sum > best) {
                best = sum;
                bestFirst = start;
                bestLast = r;
            }
        }
        if (bestLast < bestFirst) return core;
        core = {from + bestFirst * w, from + (bestLast + 1) * w};
    }
    return core;
}

} // namespace

uint8_t BackgroundOf(const uint8_t* bytes, int64_t first, int64_t last) {
    int64_t zeros = 0, ones = 0;
    for (int64_t i = first; i < last; ++i) {
        zeros += bytes[i] == 0;
        ones += bytes[i] == 0xFF;
    }
    return ones > zeros ? 0xFF : 0x00;
}

// How often the pixels change where a stroke runs on from one byte to the next. In a picture a
// stroke runs on from the last pixel of one byte to the first of the next: bit 0 of a byte meets
// bit 7 of the next where bit 7 is left, and bit 7 meets bit 0 where bit 0 is left; the pixels of
// the other pair lie 15 apart. Of the pairs with ink in either pixel, the share that changes in
// each order; none where either order has fewer than 8 such pairs.
std::optional<ByteJoins> JoinsOf(const uint8_t* bytes, int64_t first, int64_t last, int w) {
    if (w < 2) return std::nullopt;
    const int64_t rows = (last - first) / w;
    const uint8_t background = BackgroundOf(bytes, first, first + rows * w);
    int64_t msbChanges = 0, msbInked = 0, lsbChanges = 0, lsbInked = 0;
    for (int64_t r = 0; r < rows; ++r) {
        const uint8_t* row = bytes + first + r * w;
        for (int c = 0; c + 1 < w; ++c) {
            const unsigned left = row[c] ^ background, right = row[c + 1] ^ background;
            const unsigned a = left & 1, b = right >> 7; // neighbours with bit 7 left
            const unsigned x = left >> 7, y = right & 1; // neighbours with bit 0 left
            msbChanges += a != b;
            msbInked += (a | b) != 0;
            lsbChanges += x != y;
            lsbInked += (x | y) != 0;
        }
    }
    constexpr int64_t MinInked = 8;
    if (msbInked < MinInked || lsbInked < MinInked) return std::nullopt;
    return ByteJoins{double(msbChanges) / double(msbInked), double(lsbChanges) / double(lsbInked)};
}

// Bit 0 left where the joins change less than 0.7 times as often with bit 0 left as with bit 7
// left; rows otherwise (most pictures, and fonts whose glyphs do not cross a byte).
PixelLayout RowOrderOf(const uint8_t* bytes, int64_t first, int64_t last, int w) {
    constexpr double Clearly = 0.7;
    const std::optional<ByteJoins> joins = JoinsOf(bytes, first, last, w);
    return joins && joins->lsbRate < Clearly * joins->msbRate ? PixelLayout{LayoutKind::RowsLsb, 1}
                                                              : PixelLayout{};
}

std::vector<Candidate> CandidatesOf(const uint8_t* bytes, int64_t size, const Segment& leader,
                                    const std::vector<Segment>& members, bool inside) {
    // The widths to try, each over its own best segment: the leader's width and its divisors, and
    // the widths of the other segments over the same bytes whose evidence is not far below.
    std::vector<Segment> tries; // the leader's own width first
    auto spanAt = [&](int d) {
        Segment best{leader.first, leader.last, d, 0};
        for (const Segment& m : members)
            if (m.width == d && m.evidence > best.evidence) best = m;
        return best;
    };
    const int w = leader.width;
    const double ratio = MeasureNearFar(bytes, size, leader.first, leader.last, w).Ratio();
    tries.push_back(spanAt(w));
    for (int d = 1; d < w; ++d) {
        if (w % d != 0) continue;
        const Segment span = spanAt(d);
        // A divisor that fits far worse than the width is no candidate, unless it fits well on its
        // own (the width may be a table's stride, the divisor the picture's).
        if (span.evidence == 0 && MeasureNearFar(bytes, size, span.first, span.last, d).Ratio() >
                                      std::max(1.5 * ratio, 0.7))
            continue;
        tries.push_back(span);
    }
    for (const Segment& m : members)
        if (w % m.width != 0 && m.evidence >= 0.25 * leader.evidence && tries.size() < 10 &&
            std::none_of(tries.begin(), tries.end(),
                         [&](const Segment& t) { return t.width == m.width; }))
            tries.push_back(spanAt(m.width));
    std::vector<Candidate> candidates;
    for (const Segment& span : tries) {
        const int d = span.width;
        double best = 0;
        const auto core = CoreOf(bytes, size, span.first, span.last, d, best,
                                 inside ? PieceBytes / 2 : PieceBytes);
        // Where no piece of the leader looks anything like graphics at its own width, the group
        // is judged no further: most segments in code and tables end here, cheaply. Nor is any
        // other width whose pieces look nothing like graphics.
        if (d == w && best < RejectBelow) return {};
        if (best < RejectBelow) continue;
        // The candidates of [first, last) at width d; the best score among them.
        auto add = [&](int64_t first, int64_t last, float minDistinct) {
            double top = 0;
            if (last - first < 16 * int64_t{d} || last - first < 64) return top;
            if (leader.lone &&
                (first < leader.first - WindowBytes || last > leader.last + WindowBytes))
                return top;
            for (bool lsb : {false, true}) {
                if (lsb && !ReadBothWays(d)) continue;
                Candidate c = CandidateAt(bytes, size, first, last, d, lsb);
                if (c.features[DistinctBytes] < minDistinct) continue;
                top = std::max(top, c.score);
                candidates.push_back(std::move(c));
            }
            return top;
        };
        const auto edges = EdgesOf(bytes, size, core, d);
        const double edgesScore = add(edges.first, edges.second, leader.lone ? LoneDistinct : 0);
        if (inside && edgesScore < CoreShare * best && edges != core &&
            core.second - core.first >= MinCoreBytes)
            add(core.first, core.second, CoreDistinct);
    }
    return candidates;
}

std::pair<const Candidate*, double> BestCandidate(const std::vector<Candidate>& candidates) {
    const Candidate* best = nullptr;
    double bestScore = 0;
    for (const Candidate& c : candidates) {
        if (best == nullptr || c.score > bestScore + 1e-9) {
            best = &c;
            bestScore = c.score;
        }
    }
    return {best, bestScore};
}

namespace {

// Stretches of bytes, merged where they meet: how much of a stretch they cover.
class Stretches {
  public:
    int64_t Covered(int64_t first, int64_t last) const {
        int64_t covered = 0;
        auto it = ends_.upper_bound(first);
        if (it != ends_.begin()) --it;
        for (; it != ends_.end() && it->first < last; ++it)
            covered +=
                std::max<int64_t>(0, std::min(last, it->second) - std::max(first, it->first));
        return covered;
    }
    bool MostlyCovered(int64_t first, int64_t last) const {
        return 2 * Covered(first, last) > last - first;
    }
    void Add(int64_t first, int64_t last) {
        auto it = ends_.upper_bound(first);
        if (it != ends_.begin() && std::prev(it)->second >= first) --it;
        while (it != ends_.end() && it->first <= last) {
            first = std::min(first, it->first);
            last = std::max(last, it->second);
            it = ends_.erase(it);
        }
        ends_[first] = last;
    }

  private:
    std::map<int64_t, int64_t> ends_; // first byte -> end
};

} // namespace

void ForEachCandidateGroup(const uint8_t* bytes, int64_t size, std::vector<Segment> segments,
                           const CandidateJudge& judge) {
    std::stable_sort(segments.begin(), segments.end(),
                     [](const Segment& a, const Segment& b) { return a.evidence > b.evidence; });
    // Which segments lie over which stretch of 4 KiB, to find a segment's neighbours at once.
    constexpr int64_t Bucket = 4096;
    std::vector<std::vector<size_t>> buckets(static_cast<size_t>((size + Bucket - 1) / Bucket));
    for (size_t i = 0; i < segments.size(); ++i)
        for (int64_t k = segments[i].first / Bucket; k <= (segments[i].last - 1) / Bucket; ++k)
            buckets[size_t(k)].push_back(i);
    // The strongest segment leads its group: the segments lying mostly over the same bytes (at
    // other widths: multiples of the width, the glyphs' stride, its divisors) are judged with it
    // and not again. Where the picture found in it leaves a good part of the segment on either
    // side, those parts are judged too: another picture may lie there (a font beside a font).
    // Which segments lead a group is known before any is judged, so the leaders' candidates are
    // measured on every thread first; the judge then takes them in order.
    struct Group {
        size_t leader;
        std::vector<Segment> members;
        std::vector<Segment> inside; // shorter segments mostly inside the leader's bytes
    };
    std::vector<Group> groups;
    Stretches judged;
    std::vector<size_t> seen(segments.size(), SIZE_MAX);
    for (size_t i = 0; i < segments.size(); ++i) {
        const Segment& leader = segments[i];
        if (judged.MostlyCovered(leader.first, leader.last)) continue;
        Group& group = groups.emplace_back(Group{i, {}, {}});
        for (int64_t k = leader.first / Bucket; k <= (leader.last - 1) / Bucket; ++k)
            for (size_t j : buckets[size_t(k)]) {
                if (seen[j] == i || j == i) continue;
                seen[j] = i;
                const Segment& m = segments[j];
                // The same bytes: the two share more than half of the longer one.
                const int64_t shared =
                    std::min(m.last, leader.last) - std::max(m.first, leader.first);
                if (2 * shared > std::max(m.last - m.first, leader.last - leader.first))
                    group.members.push_back(m);
                else if (2 * shared > m.last - m.first)
                    group.inside.push_back(m);
            }
        judged.Add(leader.first, leader.last);
    }
    std::vector<std::vector<Candidate>> leaders(groups.size());
    ForEachInParallel(int64_t(groups.size()), [&](int64_t g) {
        const Group& group = groups[size_t(g)];
        leaders[size_t(g)] = CandidatesOf(bytes, size, segments[group.leader], group.members);
    });
    // The members of the groups whose leader was rejected, and the segments inside those whose
    // leader gives nothing worth a region, strongest first in each group, with their candidates,
    // also measured on every thread first.
    struct Rescue {
        size_t group;
        Segment member;
        bool inside = false;
        std::vector<Candidate> candidates;
    };
    std::vector<Rescue> rescues;
    for (size_t g = 0; g < groups.size(); ++g) {
        const size_t first = rescues.size();
        if (leaders[g].empty() || BestCandidate(leaders[g]).second < MinScore)
            for (const Segment& m : groups[g].inside)
                if (WorthRescuingInside(bytes, m)) rescues.push_back({g, m, true, {}});
        if (leaders[g].empty())
            for (const Segment& m : groups[g].members)
                if (WorthRescuing(segments[groups[g].leader], m))
                    rescues.push_back({g, m, false, {}});
        std::stable_sort(
            rescues.begin() + long(first), rescues.end(),
            [](const Rescue& a, const Rescue& b) { return a.member.evidence > b.member.evidence; });
    }
    ForEachInParallel(int64_t(rescues.size()), [&](int64_t r) {
        Rescue& rescue = rescues[size_t(r)];
        rescue.candidates =
            CandidatesOf(bytes, size, rescue.member, groups[rescue.group].members, rescue.inside);
        std::erase_if(rescue.candidates, [&](const Candidate& c) {
            return c.score < MinRescuedScore || (rescue.inside && c.last - c.first < MinInnerBytes);
        });
    });
    std::vector<Segment> pending;
    size_t nextRescue = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        for (; nextRescue < rescues.size() && rescues[nextRescue].group == g; ++nextRescue)
            judge(rescues[nextRescue].candidates);
        pending.assign(1, segments[groups[g].leader]);
        bool leaderPart = true;
        while (!pending.empty()) {
            const Segment part = pending.back();
            pending.pop_back();
            const std::vector<Candidate> candidates =
                leaderPart ? std::move(leaders[g])
                           : CandidatesOf(bytes, size, part, groups[g].members);
            leaderPart = false;
            const Candidate* chosen = judge(candidates);
            if (chosen == nullptr) continue;
            // The region may reach beyond the part: only what the part holds outside it is left.
            const int64_t least = std::max<int64_t>(PieceBytes, MinPieceRows * part.width);
            const double perByte = part.evidence / double(part.last - part.first);
            const int64_t cutFirst = std::clamp(chosen->first, part.first, part.last);
            const int64_t cutLast = std::clamp(chosen->last, part.first, part.last);
            if (cutLast - cutFirst < least) continue; // the region lies mostly outside the part
            for (const auto& [first, last] :
                 {std::pair{part.first, cutFirst}, std::pair{cutLast, part.last}})
                if (last - first >= least)
                    pending.push_back({first, last, part.width, perByte * double(last - first)});
        }
    }
}

// The region a candidate taken makes, its layout told as far as `telling` asks: bit 0 left where
// the model likes that reading better and the strokes agree, and then pixel columns where the
// rows are a font's columns.
GraphicsRegion RegionOf(const uint8_t* bytes, const Candidate& taken, double score,
                        Telling telling) {
    const bool lsb = telling != Telling::RowsOnly && taken.layout.kind == LayoutKind::RowsLsb &&
                     RowOrderOf(bytes, taken.first, taken.last, taken.width) == taken.layout;
    const GraphicsRegion region{taken.first, taken.last - taken.first, taken.width, score,
                                lsb ? taken.layout : PixelLayout{}};
    return telling == Telling::Layout ? AsColumnsIfSo(bytes, region) : region;
}

// The layout of fonts read one byte a pixel column.
PixelLayout LayoutOf(const ByteColumnReading& font) {
    return {font.topBit0 ? LayoutKind::Columns : LayoutKind::ColumnsMsb, 1};
}

std::vector<GraphicsRegion> FindRegions(const uint8_t* bytes, int64_t size,
                                        const FindProgress& progress, Telling telling) {
    std::vector<GraphicsRegion> regions;
    if (bytes == nullptr || size <= 0) return regions;
    bool cancelled = false;
    std::vector<Segment> segments = FindSegments(bytes, size, progress, cancelled);
    if (cancelled) return {};
    Stretches taken; // the regions found so far
    ForEachCandidateGroup(bytes, size, std::move(segments),
                          [&](const std::vector<Candidate>& candidates) -> const Candidate* {
                              const auto [chosen, score] = BestCandidate(candidates);
                              if (chosen == nullptr || score < MinScore ||
                                  taken.MostlyCovered(chosen->first, chosen->last))
                                  return nullptr;
                              taken.Add(chosen->first, chosen->last);
                              regions.push_back(RegionOf(bytes, *chosen, score, telling));
                              return chosen;
                          });
    // Fonts one byte a pixel column, where the regions found leave room for them; read on every
    // thread first.
    if (telling == Telling::Layout) {
        const std::vector<ByteColumnStretch> stretches = ByteColumnStretches(bytes, size);
        std::vector<ByteColumnReading> fonts(stretches.size());
        ForEachInParallel(int64_t(stretches.size()), [&](int64_t i) {
            fonts[size_t(i)] = ReadByteColumns(bytes, size, stretches[size_t(i)]);
        });
        for (const ByteColumnReading& font : fonts) {
            // A blank row at the top or bottom of every glyph of a font one byte wide is a zero
            // byte at the glyph's stride too: where such a stretch is no font in columns, it may
            // be one in rows, too short for the scan to be sure of.
            if (font.period != 0 && font.spaced && !IsByteColumnFont(font.features)) {
                if (LooksLikeNumbersOrText(font.features) ||
                    InkedBits(bytes, font.first, font.last) < MinInkedBits ||
                    taken.MostlyCovered(font.first, font.last))
                    continue;
                const Candidate rows = CandidateAt(bytes, size, font.first, font.last, 1, false);
                if (rows.score < MinScore) continue;
                taken.Add(font.first, font.last);
                regions.push_back({font.first, font.last - font.first, 1, rows.score, {}});
                continue;
            }
            if (font.period == 0 || !IsByteColumnFont(font.features) ||
                taken.MostlyCovered(font.first, font.last))
                continue;
            taken.Add(font.first, font.last);
            regions.push_back({font.first, font.last - font.first, font.period,
                               font.features[ByteColumnUpright], LayoutOf(font)});
        }
    }
    // A picture that begins the file after a few blank rows (a font's blank first glyph) is
    // listed from the file's first byte.
    for (GraphicsRegion& r : regions)
        if (r.first > 0 && r.first <= MaxLeadingBlankRows * r.width &&
            std::all_of(bytes, bytes + r.first, [&](uint8_t b) { return b == bytes[0]; }) &&
            (bytes[0] == 0x00 || bytes[0] == 0xFF)) {
            r.length += r.first;
            r.first = 0;
        }
    if (progress && !progress(size, size)) return {};
    std::stable_sort(
        regions.begin(), regions.end(),
        [](const GraphicsRegion& a, const GraphicsRegion& b) { return a.score > b.score; });
    return regions;
}

} // namespace finder

std::vector<GraphicsRegion> FindGraphics(const uint8_t* bytes, int64_t size,
                                         const FindProgress& progress) {
    return finder::FindRegions(bytes, size, progress, finder::Telling::Layout);
}

LayoutGuess GuessLayoutAndWidth(const uint8_t* bytes, int64_t size) {
    if (bytes == nullptr || size <= 0) return {};
    const int64_t last = std::min<int64_t>(size, 2048);
    std::vector<finder::Candidate> candidates;
    for (int w = MinFindWidth; w <= MaxFindWidth && last >= 16 * int64_t{w}; ++w)
        for (bool lsb : {false, true})
            if (!lsb || finder::ReadBothWays(w))
                candidates.push_back(finder::CandidateAt(bytes, size, 0, last - last % w, w, lsb));
    const auto [best, score] = finder::BestCandidate(candidates);
    if (best == nullptr || score < finder::MinScore) {
        // Where no reading as rows fits, a font one byte a pixel column whose glyphs start within
        // the first window. (A font turned round passes for rows one byte wide, and rows with a
        // header before each glyph for columns: neither reading may overrule the other.)
        for (const finder::ByteColumnStretch& stretch : finder::ByteColumnStretches(bytes, last)) {
            const finder::ByteColumnReading font = finder::ReadByteColumns(bytes, last, stretch);
            if (font.period != 0 && font.first < font.period + finder::WindowBytes &&
                finder::IsByteColumnFont(font.features))
                return {font.period, finder::LayoutOf(font), int32_t(font.first % font.period)};
        }
        return {};
    }
    const GraphicsRegion region = finder::RegionOf(bytes, *best, score, finder::Telling::Layout);
    return {region.width, region.layout, 0};
}

} // namespace viewer
