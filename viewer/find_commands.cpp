// The "Find" drop-down: the scan on a worker thread, stepping through its regions, guessing a
// width.
//
// Threads: the worker only reads the loaded bytes and writes its own Scan record; it tells the
// event loop through the record's atomics and tk::WakeEventLoop. Everything else, the toolkit
// calls among them, happens on the loop's thread, which joins the worker before the bytes go.
#include "viewer/find_commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/finder.h"
#include "viewer/input.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

namespace viewer {

namespace {

using Clock = std::chrono::steady_clock;

// A scan shows its progress once it has run this long.
std::chrono::milliseconds quietScanTime{300};

// One scan of the loaded bytes. `regions` is the worker's until `finished` is set.
struct Scan {
    std::thread worker;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    std::atomic<int> percent{0};
    std::vector<GraphicsRegion> regions;
    bool outOfMemory = false; // the worker's too, until `finished`
    Clock::time_point started = Clock::now();
    int shownPercent = -1; // the progress the status bar shows, -1 none yet
};

struct FinderView {
    std::unique_ptr<Scan> scan;            // running, or ended and not yet taken
    bool haveRegions = false;              // the loaded file was scanned
    std::vector<GraphicsRegion> regions;   // the loaded file's, in file order
    std::vector<GraphicsRegion> bestFirst; // the same, as the finder reported them
    int pendingStep = 0;                   // +1 or -1: the step to make when the scan ends
};

FinderView finder;
int generation = 0; // DiscardFinderResults moves it on

bool FileLoaded() {
    return !state.fileBuffer.empty() && state.fileSize > 0;
}

void Say(const Text& text) {
    tk::SetStatusText(MainStatusBar, 0, text);
}

void StartScan() {
    auto scan = std::make_unique<Scan>();
    const uint8_t* bytes = state.fileBuffer.get();
    const int64_t size = state.fileSize;
    Scan* s = scan.get();
    try {
        s->worker = std::thread([s, bytes, size] {
            std::vector<GraphicsRegion> found;
            try {
                found = FindGraphics(bytes, size, [s](int64_t done, int64_t total) {
                    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
                    if (s->percent.exchange(percent) != percent) tk::WakeEventLoop();
                    return !s->cancelled.load();
                });
            } catch (const std::bad_alloc&) {
                s->outOfMemory = true;
            }
            s->regions = std::move(found);
            s->finished.store(true);
            tk::WakeEventLoop();
        });
    } catch (const std::system_error&) {
        Say("Cannot look for graphics now: the system has no thread to spare");
        return;
    }
    finder.scan = std::move(scan);
}

// Ends an ended scan and takes its regions, in file order; false when it ran out of memory.
bool TakeRegions() {
    std::unique_ptr<Scan> scan = std::move(finder.scan);
    scan->worker.join();
    if (scan->outOfMemory) return false;
    finder.bestFirst = scan->regions;
    finder.regions = std::move(scan->regions);
    std::sort(finder.regions.begin(), finder.regions.end(),
              [](const GraphicsRegion& a, const GraphicsRegion& b) { return a.first < b.first; });
    finder.haveRegions = true;
    return true;
}

Text RegionText(size_t index) {
    const GraphicsRegion& region = finder.regions[index];
    return "Graphics " + tk::IntegerToText(static_cast<int64_t>(index) + 1) + " of " +
           tk::IntegerToText(static_cast<int64_t>(finder.regions.size())) + ": byte " +
           tk::IntegerToText(region.first) + ", " + tk::IntegerToText(region.length) +
           " bytes, width " + tk::IntegerToText(region.width) +
           (region.layout == PixelLayout{} ? "" : ", layout " + LayoutName(region.layout));
}

// Where a step ends: the view shows the region (of the loaded file's, in file order) and the
// status bar names it.
void LandOn(size_t index) {
    const GraphicsRegion& target = finder.regions[index];
    SetViewLayout(target.layout);
    ShowFromByte(static_cast<int32_t>(target.first), target.width);
    RedrawView();
    Say(RegionText(index)); // after the repaint, which rewrites the status bar
}

// The step itself, on the regions of the loaded file.
void Step(int direction) {
    const int64_t shown = FirstDisplayedByte();
    if (finder.regions.empty()) {
        Say("No graphics found in this file");
        return;
    }
    const auto& regions = finder.regions;
    // The first region starting after the first byte on display, or the last one before it.
    auto after = std::upper_bound(
        regions.begin(), regions.end(), shown,
        [](int64_t at, const GraphicsRegion& region) { return at < region.first; });
    auto before = std::lower_bound(
        regions.begin(), regions.end(), shown,
        [](const GraphicsRegion& region, int64_t at) { return region.first < at; });
    if (direction > 0 ? after == regions.end() : before == regions.begin()) {
        Say((direction > 0 ? "No more graphics after byte " : "No more graphics before byte ") +
            tk::IntegerToText(shown));
        return;
    }
    LandOn(static_cast<size_t>((direction > 0 ? after : before - 1) - regions.begin()));
}

} // namespace

void ShowFromByte(int32_t first, int32_t width) {
    SetSpriteWidth(width);
    const int32_t w = tk::GetControlState(WidthScroller);
    if (w < 1) return;
    // As ">" sets the row for a position typed into "disp"; the fine offset takes the rest.
    tk::SetControlState(RowScroller, first / w);
    const int32_t offset = first % w;
    tk::SetControlState(OffsetSpin, offset);
    tk::SetControlText(OffsetSpin, tk::IntegerToText(offset));
}

void StepToGraphics(int direction) {
    if (!FileLoaded()) {
        Say("No file loaded: nothing to find");
        return;
    }
    if (finder.haveRegions) {
        Step(direction);
        return;
    }
    finder.pendingStep = direction; // the latest request wins
    if (!finder.scan) StartScan();
    PollFinder(); // a scan of a small file may be over already
}

void GuessViewWidth() {
    const int32_t first = FirstDisplayedByte();
    LayoutGuess guess;
    if (FileLoaded() && first >= 0 && first < state.fileSize)
        guess = GuessLayoutAndWidth(state.fileBuffer.get() + first, state.fileSize - first);
    if (guess.width < MinFindWidth || guess.width > MaxFindWidth) {
        Say("No layout and width fit the bytes from byte " + tk::IntegerToText(first));
        return;
    }
    SetViewLayout(guess.layout);
    ShowFromByte(first, guess.width);
    RedrawView();
    // The first byte stays; where a font's glyphs start further on, the status says where.
    Say("Width " + tk::IntegerToText(guess.width) +
        (guess.layout == PixelLayout{} ? "" : ", layout " + LayoutName(guess.layout)) +
        " fits the bytes from byte " + tk::IntegerToText(first) +
        (guess.skip == 0 ? ""
                         : " (glyphs from byte " + tk::IntegerToText(first + guess.skip) + ")"));
}

void PollFinder() {
    if (!finder.scan) return;
    Scan& scan = *finder.scan;
    if (scan.finished.load()) {
        const int step = std::exchange(finder.pendingStep, 0);
        if (!TakeRegions())
            Say("Not enough memory to look for graphics in this file");
        else if (step != 0)
            Step(step);
        else if (finder.regions.empty())
            Say("No graphics found in this file");
        else
            Say("Graphics found: " + tk::IntegerToText(int64_t(finder.regions.size())));
        return;
    }
    if (Clock::now() - scan.started < quietScanTime) return;
    const int percent = scan.percent.load();
    if (percent == scan.shownPercent) return;
    scan.shownPercent = percent;
    Say("Finding graphics: " + tk::IntegerToText(percent) + "%");
}

void SetQuietScanTime(int milliseconds) {
    quietScanTime = std::chrono::milliseconds(milliseconds);
}

bool FinderBusy() {
    return finder.scan != nullptr;
}

void DiscardFinderResults() {
    if (finder.scan) {
        finder.scan->cancelled.store(true);
        finder.scan->worker.join();
    }
    finder = FinderView{};
    ++generation;
}

void StartGraphicsScan() {
    if (!FileLoaded() || finder.haveRegions || finder.scan) return;
    StartScan();
    PollFinder(); // a scan of a small file may be over already
}

const std::vector<GraphicsRegion>* FoundRegionsBestFirst() {
    return finder.haveRegions ? &finder.bestFirst : nullptr;
}

int FinderGeneration() {
    return generation;
}

bool ShowFoundRegion(const GraphicsRegion& region) {
    const auto& regions = finder.regions;
    auto at =
        std::lower_bound(regions.begin(), regions.end(), region.first,
                         [](const GraphicsRegion& r, int64_t first) { return r.first < first; });
    for (; at != regions.end() && at->first == region.first; ++at) {
        if (at->length == region.length && at->width == region.width &&
            at->layout == region.layout) {
            LandOn(static_cast<size_t>(at - regions.begin()));
            return true;
        }
    }
    return false;
}

} // namespace viewer
