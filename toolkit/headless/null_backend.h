// The null backend: no display and no windows; nothing ever happens and nothing ever blocks.
#pragma once

#include "toolkit/backend.h"
#include "toolkit/window.h"

namespace tk {

// What WaitNative returns when no native message came: every wait of the null backend.
constexpr int32_t NullIdle = NativeMessageBase;

// The contract:
// - Init always succeeds; Shutdown has nothing to release.
// - Windows, status bars and controls keep nothing: each creation returns the next number of one
//   increasing sequence (1, 2, 3, ...), never 0 and never reused; changing or destroying one does
//   nothing. A status bar is 0 pixels wide; a window keeps no size of its own (InnerSize: false)
//   and activating one does nothing.
// - WaitNative returns NullIdle at once, having dispatched nothing; so Wake has nothing to do.
// - No key is ever down or pressed.
// - Showing a canvas and accepting file drops do nothing.
// - Every dialog is cancelled: the file dialog answers the empty path (pattern -1), the message
//   box No for Yes/No and OK otherwise, the text dialog {false, ""}.
// Programs without a screen (the batch tool) run the whole core on it; tests build on it.
class NullBackend : public Backend {
  public:
    bool Init() override;
    void Shutdown() override;
    intptr_t CreateWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const Text& title, uint32_t flags) override;
    void SetWindowTitle(intptr_t window, const Text& title) override;
    void DestroyWindow(intptr_t window) override;
    bool InnerSize(intptr_t window, int& width, int& height) override;
    void ActivateWindow(intptr_t window) override;
    bool SetMenuBar(intptr_t window, const std::vector<MenuItemView>& bar) override;
    void SetMenuItemEnabled(intptr_t window, int identifier, bool enabled) override;
    void SetMenuItemChecked(intptr_t window, int identifier, bool checked) override;
    intptr_t CreateStatusBar(intptr_t window) override;
    void SetStatusFields(intptr_t statusBar, const std::vector<int32_t>& widths) override;
    void SetStatusText(intptr_t statusBar, int field, const Text& text) override;
    int32_t StatusBarWidth(intptr_t statusBar) override;
    intptr_t CreateControl(intptr_t window, const ControlView& view) override;
    void UpdateControl(intptr_t control, const ControlView& view) override;
    void DestroyControl(intptr_t control) override;
    void FocusControl(intptr_t control) override;
    void ShowCanvas(intptr_t control, const Picture& picture) override;
    void EnableFileDrop(intptr_t window, int actions) override;
    int32_t WaitNative() override;
    void Wake() override;
    bool KeyDown(int keyCode) override;
    bool KeyPressedSinceLastQuery(int keyCode) override;
    FileDialogAnswer RunFileDialog(const FileDialogRequest& request) override;
    int RunMessageBox(const Text& title, const Text& text, int flags) override;
    std::pair<bool, Text> RunTextDialog(const Text& title, const Text& prompt,
                                        const Text& defaultText) override;

  protected:
    intptr_t NextHandle() { return nextHandle_++; }

  private:
    intptr_t nextHandle_ = 1;
};

} // namespace tk
