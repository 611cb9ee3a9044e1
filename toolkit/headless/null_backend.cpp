#include "toolkit/headless/null_backend.h"

namespace tk {

bool NullBackend::Init() {
    return true;
}

void NullBackend::Shutdown() {}

intptr_t NullBackend::CreateWindow(int, int, int, int, int, const Text&, uint32_t) {
    return NextHandle();
}

void NullBackend::SetWindowTitle(intptr_t, const Text&) {}

void NullBackend::DestroyWindow(intptr_t) {}

bool NullBackend::InnerSize(intptr_t, int&, int&) {
    return false;
}

void NullBackend::ActivateWindow(intptr_t) {}

bool NullBackend::SetMenuBar(intptr_t, const std::vector<MenuItemView>&) {
    return true;
}

void NullBackend::SetMenuItemEnabled(intptr_t, int, bool) {}
void NullBackend::SetMenuItemChecked(intptr_t, int, bool) {}

intptr_t NullBackend::CreateStatusBar(intptr_t) {
    return NextHandle();
}

void NullBackend::SetStatusFields(intptr_t, const std::vector<int32_t>&) {}

void NullBackend::SetStatusText(intptr_t, int, const Text&) {}

int32_t NullBackend::StatusBarWidth(intptr_t) {
    return 0;
}

intptr_t NullBackend::CreateControl(intptr_t, const ControlView&) {
    return NextHandle();
}

void NullBackend::UpdateControl(intptr_t, const ControlView&) {}

void NullBackend::DestroyControl(intptr_t) {}

void NullBackend::FocusControl(intptr_t) {}

void NullBackend::ShowCanvas(intptr_t, const Picture&) {}

void NullBackend::EnableFileDrop(intptr_t, int) {}

int32_t NullBackend::WaitNative() {
    return NullIdle;
}

void NullBackend::Wake() {}

bool NullBackend::KeyDown(int) {
    return false;
}

bool NullBackend::KeyPressedSinceLastQuery(int) {
    return false;
}

FileDialogAnswer NullBackend::RunFileDialog(const FileDialogRequest&) {
    return {Text(), -1};
}

int NullBackend::RunMessageBox(const Text&, const Text&, int flags) {
    return (flags & 0xF) == MessageYesNo ? ResultNo : ResultOk;
}

std::pair<bool, Text> NullBackend::RunTextDialog(const Text&, const Text&, const Text&) {
    return {false, Text()};
}

} // namespace tk
