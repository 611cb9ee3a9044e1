// The viewer's one global record, its control and menu identifiers, and the window layout.
#pragma once

#include <cstdint>

#include "toolkit/runtime.h"
#include "viewer/layout.h"

namespace viewer {

using tk::Text;

struct SelectionRect {
    int32_t x1 = 0, y1 = 0; // where the left button went down
    int32_t x2 = 0, y2 = 0; // where the pointer was last seen while it was held
};

// The canvas: the picture the bytes are painted into, in pixels.
constexpr int32_t CanvasWidth = 641;
constexpr int32_t CanvasHeight = 481;

struct ViewerState {
    tk::MemoryBlock fileBuffer; // the loaded bytes, or empty
    int32_t fileSize = 0;
    int32_t spriteWidth = 1; // cache of WidthScroller, refreshed by every repaint
    int32_t zoom = 1;        // 1, 2 or 8
    PixelLayout layout;      // how a strip's bytes become pixels (the "Layout" drop-down)
    int32_t defaultGridSize = 8;
    int32_t viewHeight = CanvasHeight;
    int32_t viewWidth = CanvasWidth;
    SelectionRect selection;
    Text loadedPath;
    int quitRequested = 0;
};

extern ViewerState state;

// Controls, by number.
enum Control : int {
    CanvasView = 0,
    RowScroller = 1,
    WidthScroller = 2,
    GridCheck = 3,
    MultiColumnsCheck = 4,
    OffsetLabel = 5,
    OffsetSpin = 6,
    GridXLabel = 7,
    GridXSpin = 8,
    GridYLabel = 9,
    GridYSpin = 10,
    InvertCheck = 11,
    AlignCheck = 12,
    DispLabel = 13,
    DispField = 14,
    DispGoButton = 15,
};

// Menu items, by identifier.
enum MenuItem : int {
    MenuOpen = 1,
    MenuSaveImage = 2,
    MenuSaveBinary = 3,
    MenuQuit = 4,
    MenuZoom1 = 5,
    MenuZoom2 = 6,
    MenuZoom8 = 7,
    MenuSaveSelected = 8,
    MenuNextGraphics = 9, // the "Find" drop-down
    MenuPreviousGraphics = 10,
    MenuGuessWidth = 11,
    MenuOverview = 12,
    MenuLayoutRows = 20, // the "Layout" drop-down: the four layouts in LayoutKind's order,
    MenuLayoutRowsLsb = 21,
    MenuLayoutColumns = 22,
    MenuLayoutColumnsMsb = 23,
    MenuColumnBytes1 = 24, // then K = 1 to 4
    MenuColumnBytes2 = 25,
    MenuColumnBytes3 = 26,
    MenuColumnBytes4 = 27,
};

constexpr int MainWindow = 0;
constexpr int MainMenu = 0;
constexpr int MainStatusBar = 0;
constexpr uint32_t MainWindowFlags = 0xCA0001;
extern const char* const ProgramVersion; // the build's version, "0.10.0"
extern const char* const ProgramTitle;   // "Pixmole " and the version

// Start-up up to and including the status bar (window, menu, controls, drop, status).
// Returns false when the window cannot be created.
bool CreateMainWindowAndControls();
// The "Layout" drop-down shows state.layout: its layout and its K marked, the K items greyed in
// the row layouts.
void ShowLayoutInMenu();
// Puts ViewerState back to its initial values (releasing the file buffer).
void ResetViewerState();
// Frees the loaded bytes (fileSize 0), after stopping the graphics scan that may be reading them.
void ReleaseLoadedBytes();
// Shut-down: releases the file buffer and the toolkit.
void ShutDownViewer();

} // namespace viewer
