// The "Find" drop-down: stepping through the graphics the finder reports and guessing a width.
//
// The scan of the loaded file runs on a worker thread, started by the first "Next graphics" or
// "Previous graphics" after a load; the step waits for it and is made when it ends. Its results
// belong to the loaded file.
#pragma once

#include <cstdint>
#include <vector>

#include "viewer/finder.h"

namespace viewer {

// "Next graphics" (direction +1) and "Previous graphics" (-1): the view jumps to the nearest
// region after (before) the first byte on display, in file order, and the status bar names it.
void StepToGraphics(int direction);

// "Guess layout and width": the view takes the layout and width that fit the bytes from the first
// byte on display, which stays first; the status bar says what was found.
void GuessViewWidth();

// After every wait of the event loop: makes the pending step when the scan has ended, and shows
// the scan's progress once it has taken longer than a moment.
void PollFinder();

// How long a scan runs before the status bar shows its progress: 300 ms unless changed (tests
// make it 0).
void SetQuietScanTime(int milliseconds);

// A scan is running, or has ended and PollFinder has not yet taken its results.
bool FinderBusy();

// Stops a running scan, waits for its thread and forgets the results. Called before the loaded
// bytes are freed or replaced: the worker reads them.
void DiscardFinderResults();

// Shows the byte at `first` first: the width becomes `width` (as the arrow keys set it), the row
// and the fine offset follow.
void ShowFromByte(int32_t first, int32_t width);

// ---- What the overview needs ----------------------------------------------------------------

// Starts the scan of the loaded file as the first "Next graphics" does, without a step to make
// when it ends (the status bar then says how many regions it found); nothing when the file was
// scanned already, a scan runs, or no file is loaded.
void StartGraphicsScan();

// The loaded file's regions best first, as the finder reported them; null until a scan of it
// ended.
const std::vector<GraphicsRegion>* FoundRegionsBestFirst();

// Moves on each time the regions are dropped (every load drops them): regions taken when it
// read another value belong to another file.
int FinderGeneration();

// Shows one of the loaded file's regions exactly as a step that lands on it does: its layout,
// its width, its first byte first, and the status text "Graphics N of M: ...". False (nothing
// changes) for a region the scan did not report.
bool ShowFoundRegion(const GraphicsRegion& region);

} // namespace viewer
