// Starting and stopping the toolkit: the one state object and its parts.
#include <tuple>
#include <utility>

#include "toolkit/backend.h"
#include "toolkit/core_internal.h"
#include "toolkit/state.h"
#include "toolkit/window.h"

namespace tk {

namespace {

// Destroys a part while it is still current, so that its teardown may use the module's own
// procedures, and only then lets go of it.
template <typename Part> void TearDown(state::Owned<Part>& part) {
    if (Part* p = part.get()) {
        state::Destroy(p);
        (void)part.release();
    }
}

template <typename Parts, size_t... I>
void TearDownInReverse(Parts& parts, std::index_sequence<I...>) {
    (TearDown(std::get<sizeof...(I) - 1 - I>(parts)), ...);
}

} // namespace

void state::Toolkit::MakeParts() {
    std::apply(
        [](auto&... part) {
            (part.reset(Make<typename std::decay_t<decltype(part)>::element_type>()), ...);
        },
        parts);
}

state::Toolkit::~Toolkit() {
    TearDownInReverse(parts, std::make_index_sequence<std::tuple_size_v<decltype(parts)>>());
}

int InitToolkit(Backend* backend) {
    if (!backend) return 0;
    if (state::Current()) ReleaseToolkit();
    if (!backend->Init()) return 0;
    auto* toolkit = new state::Toolkit;
    state::SetCurrent(toolkit);
    toolkit->MakeParts();
    core::SetBackend(backend);
    core::SetWakeTarget(backend);
    return 1;
}

void ReleaseToolkit() {
    core::SetWakeTarget(nullptr);
    delete state::Current(); // the parts go in the reverse order of their making
    state::SetCurrent(nullptr);
}

Backend* CurrentBackend() {
    return core::backend();
}

} // namespace tk
