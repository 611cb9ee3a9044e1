// finder-features: what the graphics finder measures in files, for training its models
// (scripts/finder-train). Not installed.
//
//   finder-features FILE...            one line per candidate the finder judges
//   finder-features --windows FILE...  one line per window the scan's first step judges
//   finder-features --segments FILE... one line per segment the scan finds
//   finder-features --columns FILE...  one line per region found as rows 1 to 4 bytes wide: its
//                                      measures as pixel columns
//   finder-features --byte-columns FILE... one line per stretch proposed as a font one byte a
//                                      column that shows a stride: how it reads, its measures
//
// Prints a header line, then tab-separated: the file's number, the candidate's first byte, end,
// width, group (the candidates judged together) and layout, and the model's score (a window: its
// first byte), then the measures.
#include <cstdio>
#include <cstring>
#include <vector>

#include "viewer/finder_internal.h"

namespace {

std::vector<uint8_t> ReadAll(const char* path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path, "rb")) {
        uint8_t chunk[1 << 16];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

template <typename Values> void PrintValues(const Values& values) {
    for (float v : values) std::printf("\t%.4g", double(v));
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    using namespace viewer::finder;
    const bool windows = argc > 1 && std::strcmp(argv[1], "--windows") == 0;
    const bool segments = argc > 1 && std::strcmp(argv[1], "--segments") == 0;
    const bool columns = argc > 1 && std::strcmp(argv[1], "--columns") == 0;
    const bool byteColumns = argc > 1 && std::strcmp(argv[1], "--byte-columns") == 0;
    const int from = windows || segments || columns || byteColumns ? 2 : 1;
    if (byteColumns) {
        std::printf("file\tfirst\tlast\ttop_bit0\tglyph_first\tglyph_last\tperiod\tspaced\tfont");
        for (const char* name : ByteColumnFeatureNames) std::printf("\t%s", name);
    } else if (columns) {
        std::printf("file\tfirst\tlast\twidth\tlayout\tperiod\tphase\tscore");
        for (const char* name : ColumnFeatureNames) std::printf("\t%s", name);
    } else if (windows) {
        std::printf("file\tfirst");
        for (const char* name : WindowFeatureNames) std::printf("\t%s", name);
    } else {
        std::printf("file\tfirst\tlast\twidth\tgroup\tlayout\tscore");
        for (const char* name : FeatureNames) std::printf("\t%s", name);
    }
    std::printf("\n");
    for (int a = from; a < argc; ++a) {
        const std::vector<uint8_t> bytes = ReadAll(argv[a]);
        const int64_t size = int64_t(bytes.size());
        if (windows) {
            MeasureWindows(bytes.data(), size, [&](int64_t at, const WindowFeatures& f) {
                std::printf("%d\t%lld", a - from, static_cast<long long>(at));
                PrintValues(f);
            });
            continue;
        }
        if (byteColumns) {
            for (const ByteColumnStretch& s : ByteColumnStretches(bytes.data(), size)) {
                const ByteColumnReading r = ReadByteColumns(bytes.data(), size, s);
                if (r.period == 0) continue;
                std::printf("%d\t%lld\t%lld\t%d\t%lld\t%lld\t%d\t%d\t%.0f", a - from,
                            static_cast<long long>(s.first), static_cast<long long>(s.last),
                            int(r.topBit0), static_cast<long long>(r.first),
                            static_cast<long long>(r.last), r.period, int(r.spaced),
                            IsByteColumnFont(r.features) ? 1.0 : 0.0);
                PrintValues(r.features);
            }
            continue;
        }
        if (columns) {
            for (const viewer::GraphicsRegion& r :
                 FindRegions(bytes.data(), size, {}, Telling::BitOrder)) {
                if (r.width > viewer::MaxColumnBytes) continue;
                const ColumnReading c = ReadAsColumns(bytes.data(), r);
                std::printf("%d\t%lld\t%lld\t%d\t%s\t%d\t%lld\t%.4f", a - from,
                            static_cast<long long>(r.first),
                            static_cast<long long>(r.first + r.length), r.width,
                            viewer::LayoutName(r.layout).c_str(), c.period,
                            static_cast<long long>(c.phase), ColumnScore(c.features));
                PrintValues(c.features);
            }
            continue;
        }
        bool cancelled = false;
        if (segments) {
            for (const Segment& s : FindSegments(bytes.data(), size, {}, cancelled))
                std::printf("%d\t%lld\t%lld\t%d\t%.0f\n", a - from, static_cast<long long>(s.first),
                            static_cast<long long>(s.last), s.width, s.evidence);
            continue;
        }
        int group = 0;
        ForEachCandidateGroup(bytes.data(), size, FindSegments(bytes.data(), size, {}, cancelled),
                              [&](const std::vector<Candidate>& candidates) -> const Candidate* {
                                  for (const Candidate& c : candidates) {
                                      std::printf("%d\t%lld\t%lld\t%d\t%d\t%s\t%.4f", a - from,
                                                  static_cast<long long>(c.first),
                                                  static_cast<long long>(c.last), c.width, group,
                                                  viewer::LayoutName(c.layout).c_str(), c.score);
                                      PrintValues(c.features);
                                  }
                                  ++group;
                                  // As the finder does: the best candidate if the model takes it.
                                  const auto [best, score] = BestCandidate(candidates);
                                  return score >= MinScore ? best : nullptr;
                              });
    }
    return 0;
}
