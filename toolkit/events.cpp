// The one event queue: posting (with merging and bound procedures), waiting, the current event,
// bindings and the suspension counter.
#include <array>
#include <atomic>
#include <deque>
#include <map>
#include <vector>

#include "toolkit/backend.h"
#include "toolkit/core_internal.h"
#include "toolkit/state.h"
#include "toolkit/window.h"

namespace tk {

namespace {

// The backend that WakeEventLoop wakes: kept outside the toolkit state, which belongs to the
// thread that runs the event loop.
std::atomic<Backend*> wakeTarget{nullptr};

struct PendingEvent {
    int32_t kind = 0;
    int32_t source = 0;
    int32_t window = 0;
    int32_t subKind = 0;
    void* data = nullptr;
    ReleaseProc releaseData = nullptr;
    bool borrowed = false; // the data belongs to someone else: never release it from here
};

using BindingKey = std::array<int32_t, 4>; // kind, window, source, subKind

} // namespace

struct state::Events {
    std::deque<PendingEvent> queue;
    int suspended = 0;
    PendingEvent current{0, 0, 0, -1, nullptr, nullptr, false};
    std::map<BindingKey, std::vector<EventProc>> bindings;
};

namespace {

state::Events* Part() {
    return state::Get<state::Events>();
}

// The part of a running toolkit: only where one is known to exist.
state::Events& S() {
    return *Part();
}

void ReleaseEventData(PendingEvent& event) {
    if (event.data && event.releaseData && !event.borrowed) event.releaseData(event.data);
    event.data = nullptr;
    event.releaseData = nullptr;
}

// ---- Event queue helpers --------------------------------------------------------------------

template <typename Pred> void RemoveQueued(Pred matches) {
    std::erase_if(S().queue, [&](PendingEvent& event) {
        if (!matches(event)) return false;
        ReleaseEventData(event);
        return true;
    });
}

void ClearQueue() {
    RemoveQueued([](const PendingEvent&) { return true; });
    ReleaseEventData(S().current);
    S().current = PendingEvent{0, 0, 0, -1, nullptr, nullptr, false};
}

void RunBindings(const BindingKey& key) {
    auto found = S().bindings.find(key);
    if (found == S().bindings.end()) return;
    // A copy: a procedure may bind, or close a window and so drop bindings, while we run.
    std::vector<EventProc> procs = found->second;
    for (auto it = procs.rbegin(); it != procs.rend(); ++it) (*it)();
}

} // namespace

template <> state::Events* state::Make() {
    return new Events;
}

// Whatever is still queued is released with its data.
template <> void state::Destroy(Events* part) {
    ClearQueue();
    delete part;
}

// ---- Events ---------------------------------------------------------------------------------

void PostEvent(int32_t kind, int32_t source, int32_t window, int32_t subKind, void* data,
               ReleaseProc releaseData) {
    if (Part() == nullptr || S().suspended > 0) {
        if (data && releaseData) releaseData(data);
        return;
    }
    state::Events& s = S();
    PendingEvent posted{kind, source, window, subKind, data, releaseData, false};
    const PendingEvent* last = s.queue.empty() ? nullptr : &s.queue.back();
    bool coalesced = last && kind < NativeMessageBase && last->kind == kind &&
                     last->source == source && last->window == window && last->subKind == subKind;
    if (!coalesced) s.queue.push_back(posted);

    // Bound procedures see the posted event as the current one. Its data stays owned by the
    // queue entry (or by this call when coalesced away).
    PendingEvent saved = s.current;
    s.current = posted;
    s.current.borrowed = true;
    RunBindings({kind, window, source, subKind});
    RunBindings({kind, window, source, AnyValue});
    RunBindings({kind, window, AnyValue, AnyValue});
    RunBindings({kind, AnyValue, AnyValue, AnyValue});
    RunBindings({kind, AnyValue, source, subKind});
    // A procedure that waited for an event itself owns what it took; nothing else will free it.
    if (!s.current.borrowed) ReleaseEventData(s.current);
    s.current = saved;

    // Released only now: the procedures above may still read it.
    if (coalesced) ReleaseEventData(posted);
}

int32_t WaitForEvent() {
    if (Part() == nullptr) return 0;
    state::Events& s = S();
    s.current.kind = 0;
    ReleaseEventData(s.current);
    s.current.subKind = -1;
    if (!s.queue.empty()) {
        s.current = s.queue.front();
        s.queue.pop_front();
        return s.current.kind;
    }
    Backend* backend = core::backend();
    return backend != nullptr ? backend->WaitNative() : 0;
}

void WakeEventLoop() {
    if (Backend* backend = wakeTarget.load()) backend->Wake();
}

namespace {

// The event WaitForEvent took last (or the one being posted, inside a bound procedure).
const PendingEvent& Current() {
    static const PendingEvent none{0, 0, 0, -1, nullptr, nullptr, false};
    return Part() != nullptr ? S().current : none;
}

} // namespace

int32_t EventControl() {
    return Current().source;
}
int32_t EventMenuItem() {
    return Current().source;
}
int32_t EventKind() {
    return Current().subKind;
}
int32_t EventWindow() {
    return Current().window;
}
const void* EventData() {
    return Current().data;
}

void BindEvent(int32_t kind, int32_t window, int32_t source, int32_t subKind, EventProc proc) {
    if (!proc || Part() == nullptr) return;
    S().bindings[{kind, window, source, subKind}].push_back(proc);
}

void BindControlCallback(int control, EventProc proc) {
    int window = core::ControlWindow(control);
    if (window < 0) return;
    BindEvent(ControlEvent, window, control, AnyValue, proc);
}

void SuspendEvents() {
    if (Part() != nullptr) ++S().suspended;
}
void ResumeEvents() {
    if (Part() != nullptr && S().suspended > 0) --S().suspended;
}

int QueuedEventCount() {
    return Part() != nullptr ? static_cast<int>(S().queue.size()) : 0;
}

QueuedEvent QueuedEventAt(int index) {
    if (Part() == nullptr || index < 0 || static_cast<size_t>(index) >= S().queue.size())
        return {0, 0, 0, 0};
    const PendingEvent& e = S().queue[static_cast<size_t>(index)];
    return {e.kind, e.source, e.window, e.subKind};
}

namespace core {

void SetWakeTarget(Backend* backend) {
    wakeTarget.store(backend);
}

void RemoveQueuedControlEvents(int control) {
    if (Part() == nullptr) return;
    RemoveQueued(
        [control](const PendingEvent& e) { return e.kind == ControlEvent && e.source == control; });
}

void RemoveQueuedWindowEvents(int window) {
    if (Part() == nullptr) return;
    RemoveQueued([window](const PendingEvent& e) { return e.window == window; });
}

void RemoveBindingsOfWindow(int window) {
    if (Part() == nullptr) return;
    auto& bindings = S().bindings;
    for (auto it = bindings.begin(); it != bindings.end();) {
        if ((*it).first[1] == window)
            it = bindings.erase(it);
        else
            ++it;
    }
}

bool CurrentEventIsControlEvent(int control) {
    return Current().kind == ControlEvent && Current().source == control;
}

void* CurrentEventData() {
    return Current().data;
}

ReleaseProc CurrentEventRelease() {
    return Current().releaseData;
}

} // namespace core

} // namespace tk
