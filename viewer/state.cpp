// The viewer's global record and the main window built in its fixed order.
#include "viewer/state.h"

#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/find_commands.h"
#include "viewer/renderer.h"

namespace viewer {

ViewerState state;
const char* const ProgramVersion = PIXMOLE_VERSION;
const char* const ProgramTitle = "Pixmole " PIXMOLE_VERSION;

void ResetViewerState() {
    state.viewWidth = CanvasWidth;
    state.viewHeight = CanvasHeight;
    state.spriteWidth = 1;
    state.defaultGridSize = 8;
    state.zoom = 1;
    state.layout = PixelLayout{};
    state.selection = SelectionRect{};
    ReleaseLoadedBytes();
    state.loadedPath.clear();
    state.quitRequested = 0;
}

namespace {

void BuildMenu() {
    if (tk::CreateMenuBar(MainMenu, tk::WindowHandle(MainWindow)) == 0) return; // no menu
    tk::AddMenuTitle("Project");
    tk::AddMenuItem(MenuOpen, "Open..");
    tk::AddMenuItem(MenuSaveImage, "Save image..");
    tk::AddMenuItem(MenuSaveBinary, "Save binary..");
    tk::AddMenuSeparator();
    tk::AddMenuItem(MenuQuit, "Quit");
    tk::CloseSubmenu();
    tk::AddMenuItem(MenuZoom1, "x1");
    tk::AddMenuItem(MenuZoom2, "x2");
    tk::AddMenuItem(MenuZoom8, "x8");
    tk::AddMenuItem(MenuSaveSelected, "Save selected");
    tk::SetMenuItemDisabled(MainMenu, MenuSaveSelected, 1);
    tk::AddMenuTitle("Find");
    tk::AddMenuItem(MenuNextGraphics, "Next graphics", {tk::VkF3, 0});
    tk::AddMenuItem(MenuPreviousGraphics, "Previous graphics", {tk::VkF3, tk::AccelShift});
    tk::AddMenuItem(MenuGuessWidth, "Guess layout and width", {tk::VkF4, 0});
    tk::AddMenuSeparator();
    tk::AddMenuItem(MenuOverview, "Overview", {tk::VkF5, 0});
    tk::CloseSubmenu();
    // Ctrl+1 to Ctrl+4 choose the layouts, Alt+1 to Alt+4 the column bytes.
    tk::AddMenuTitle("Layout");
    const char* const layouts[] = {"Rows, bit 7 left", "Rows, bit 0 left", "Columns, bit 0 top",
                                   "Columns, bit 7 top"};
    for (int i = 0; i < 4; ++i)
        tk::AddMenuItem(MenuLayoutRows + i, layouts[i], {'1' + i, tk::AccelCtrl},
                        tk::MenuItemRadio);
    tk::AddMenuSeparator();
    for (int k = 1; k <= MaxColumnBytes; ++k)
        tk::AddMenuItem(MenuColumnBytes1 + k - 1, "Column bytes: " + tk::IntegerToText(k),
                        {'0' + k, tk::AccelAlt}, tk::MenuItemRadio);
    tk::CloseSubmenu();
    ShowLayoutInMenu();
}

void AddGridSpin(int number, int x, int y) {
    tk::AddSpinBox(number, x, y, 80, 20, 1, 25, tk::SpinNumeric);
    tk::SetControlState(number, state.defaultGridSize);
    tk::SetControlText(number, tk::IntegerToText(state.defaultGridSize));
}

void BuildControls() {
    tk::AddCanvas(CanvasView, 0, 0, CanvasWidth, CanvasHeight);
    tk::AddScrollBar(WidthScroller, 0, 500, 640, 17, 1, 271, 16, 0);
    tk::BindControlCallback(WidthScroller, RedrawView);
    tk::AddScrollBar(RowScroller, 641, 0, 14, 470, 0, 481, 32, tk::ScrollVertical);
    tk::BindControlCallback(RowScroller, RedrawView);
    tk::AddCheckBox(GridCheck, 0, 520, 80, 20, "Grid");
    tk::AddCheckBox(InvertCheck, 0, 540, 80, 20, "Invert");
    tk::AddCheckBox(MultiColumnsCheck, 80, 520, 80, 20, "MultiColumns");
    tk::AddCheckBox(AlignCheck, 80, 540, 80, 20, "Align to grid");
    tk::AddLabel(OffsetLabel, 160, 520, 80, 20, "offset", tk::LabelRight);
    tk::AddSpinBox(OffsetSpin, 240, 520, 80, 20, 0, 1, 0);
    tk::AddLabel(GridXLabel, 320, 520, 80, 20, "grid sizeX", tk::LabelRight);
    AddGridSpin(GridXSpin, 400, 520);
    tk::AddLabel(GridYLabel, 320, 540, 80, 20, "grid sizeY", tk::LabelRight);
    AddGridSpin(GridYSpin, 400, 540);
    tk::AddLabel(DispLabel, 170, 540, 70, 20, "disp", tk::LabelRight);
    tk::AddTextField(DispField, 240, 540, 80, 20, "1234567", tk::TextDigitsOnly);
    tk::AddButton(DispGoButton, 320, 540, 20, 20, ">");
}

} // namespace

bool CreateMainWindowAndControls() {
    ResetViewerState();
    if (tk::CreateMainWindow(MainWindow, 0, 0, 660, 610, ProgramTitle, MainWindowFlags) == 0)
        return false;
    BuildMenu();
    BuildControls();
    // The whole window takes dropped file lists, so a drop over any control arrives as the
    // window's DropEvent.
    tk::EnableFileDrop(MainWindow, tk::FileListFormat, tk::DropCopy);
    if (tk::CreateStatusBar(MainStatusBar, tk::WindowHandle(MainWindow)) != 0) {
        tk::AddStatusField(tk::StatusFillWidth);
        tk::SetStatusText(MainStatusBar, 0, "selection:");
    }
    return true;
}

void ShowLayoutInMenu() {
    const PixelLayout& layout = state.layout;
    for (int i = 0; i < 4; ++i)
        tk::SetMenuItemChecked(MainMenu, MenuLayoutRows + i, i == static_cast<int>(layout.kind));
    for (int k = 1; k <= MaxColumnBytes; ++k) {
        tk::SetMenuItemChecked(MainMenu, MenuColumnBytes1 + k - 1, k == ColumnBytes(layout));
        tk::SetMenuItemDisabled(MainMenu, MenuColumnBytes1 + k - 1, !IsColumnLayout(layout.kind));
    }
}

void ReleaseLoadedBytes() {
    DiscardFinderResults(); // the worker reads the bytes: it ends first
    tk::FreeBlock(state.fileBuffer);
    state.fileSize = 0;
}

void ShutDownViewer() {
    ReleaseLoadedBytes();
    tk::ReleaseToolkit();
}

} // namespace viewer
