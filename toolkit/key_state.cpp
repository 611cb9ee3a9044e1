// The system-wide key state as the program polls it, and who the keys belong to.
//
// A key pressed while one of the program's own menus or modal dialogs has the input belongs to
// that menu or dialog: the Escape that closes a message box must not also end the program. So
// while a menu is open a press is not reported, and when a menu or dialog lets go of the input
// the "pressed since" memory of every key the program polls is cleared; a key still held from
// then counts only after it was released and pressed again. Keys pressed while another
// application has the focus are not affected.
#include <bitset>

#include "toolkit/backend.h"
#include "toolkit/controls.h"
#include "toolkit/core_internal.h"
#include "toolkit/state.h"

namespace tk {

namespace {

constexpr int KeyCodes = 256;

} // namespace

struct state::Keys {
    std::bitset<KeyCodes> polled;   // codes the program asks about
    std::bitset<KeyCodes> heldOver; // down when a menu or dialog let go; ignored until released
    int dialogs = 0;                // modal dialogs running
    bool menuOpen = false;
};

template <> state::Keys* state::Make() {
    return new Keys;
}

template <> void state::Destroy(Keys* keys) {
    delete keys;
}

namespace {

bool InputTaken(const state::Keys& gate) {
    return gate.dialogs > 0 || gate.menuOpen;
}

// Forgets every press of the polled keys and sets aside the ones still held.
void HandInputBack(state::Keys& gate) {
    Backend* backend = core::backend();
    if (backend == nullptr) return;
    for (int code = 0; code < KeyCodes; ++code) {
        if (!gate.polled.test(code)) continue;
        backend->KeyPressedSinceLastQuery(code);
        if (backend->KeyDown(code)) gate.heldOver.set(code);
    }
}

} // namespace

int32_t AsyncKeyState(int keyCode) {
    Backend* backend = core::backend();
    if (backend == nullptr) return 0;
    bool down = backend->KeyDown(keyCode);
    bool pressed = backend->KeyPressedSinceLastQuery(keyCode); // asked every time: consumes it
    state::Keys* gate = state::Get<state::Keys>();
    if (gate != nullptr && keyCode >= 0 && keyCode < KeyCodes) {
        gate->polled.set(keyCode);
        if (gate->heldOver.test(keyCode)) {
            if (!down) gate->heldOver.reset(keyCode);
            pressed = false;
        }
        if (InputTaken(*gate)) pressed = false;
    }
    return (down ? static_cast<int32_t>(KeyDownState) : 0) | (pressed ? KeyPressedBit : 0);
}

namespace core {

void ModalDialogBegins() {
    if (state::Keys* gate = state::Get<state::Keys>()) ++gate->dialogs;
}

void ModalDialogEnds() {
    state::Keys* gate = state::Get<state::Keys>();
    if (gate == nullptr) return;
    if (gate->dialogs > 0) --gate->dialogs;
    if (gate->dialogs == 0) HandInputBack(*gate);
}

} // namespace core

namespace notify {

void MenuTracking(int, bool tracking) {
    state::Keys* gate = state::Get<state::Keys>();
    if (gate == nullptr || gate->menuOpen == tracking) return;
    gate->menuOpen = tracking;
    if (!tracking) HandInputBack(*gate);
}

} // namespace notify

} // namespace tk
