// A bare in-memory backend for the fuzz targets: every native object is a number, waiting for a
// native message runs the next scripted one (or returns at once when none is left), dialogs are
// cancelled and no key is ever down. The core keeps all behaviour, so this is all it needs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "toolkit/backend.h"

namespace pmfuzz {

constexpr int32_t IdleMessage = 0x10000;     // WaitNative with nothing scripted
constexpr int32_t ScriptedMessage = 0x10001; // a scripted native message was dispatched

class FuzzBackend : public tk::Backend {
  public:
    void Script(std::function<void()> message) { script_.push_back(std::move(message)); }
    size_t ScriptedLeft() const { return script_.size(); }

    bool Init() override { return true; }
    void Shutdown() override { script_.clear(); }
    intptr_t CreateWindow(int, int, int, int, int, const tk::Text&, uint32_t) override {
        return next_++;
    }
    void SetWindowTitle(intptr_t, const tk::Text&) override {}
    void DestroyWindow(intptr_t) override {}
    bool SetMenuBar(intptr_t, const std::vector<tk::MenuItemView>&) override { return true; }
    void SetMenuItemEnabled(intptr_t, int, bool) override {}
    intptr_t CreateStatusBar(intptr_t) override { return next_++; }
    void SetStatusFields(intptr_t, const std::vector<int32_t>&) override {}
    void SetStatusText(intptr_t, int, const tk::Text&) override {}
    int32_t StatusBarWidth(intptr_t) override { return 660; }
    intptr_t CreateControl(intptr_t, const tk::ControlView&) override { return next_++; }
    void UpdateControl(intptr_t, const tk::ControlView&) override {}
    void DestroyControl(intptr_t) override {}
    void FocusControl(intptr_t) override {}
    void ShowCanvas(intptr_t, const tk::Picture&) override {}
    void EnableFileDrop(intptr_t, int) override {}
    int32_t WaitNative() override {
        if (script_.empty()) return IdleMessage;
        std::function<void()> message = std::move(script_.front());
        script_.pop_front();
        message();
        return ScriptedMessage;
    }
    bool KeyDown(int) override { return false; }
    bool KeyPressedSinceLastQuery(int) override { return false; }
    tk::FileDialogAnswer RunFileDialog(const tk::FileDialogRequest&) override { return {}; }
    int RunMessageBox(const tk::Text&, const tk::Text&, int) override { return 0; }
    std::pair<bool, tk::Text> RunTextDialog(const tk::Text&, const tk::Text&,
                                            const tk::Text&) override {
        return {false, tk::Text()};
    }

  private:
    std::deque<std::function<void()>> script_;
    intptr_t next_ = 1;
};

} // namespace pmfuzz
