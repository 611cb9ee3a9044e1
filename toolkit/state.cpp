// The pointer to the current toolkit. Its owner is InitToolkit (window.cpp); this lowest level
// only keeps where it is, so every level can reach its part.
#include "toolkit/state.h"

namespace tk::state {

namespace {
Toolkit* current = nullptr;
}

Toolkit* Current() {
    return current;
}

void SetCurrent(Toolkit* toolkit) {
    current = toolkit;
}

} // namespace tk::state
