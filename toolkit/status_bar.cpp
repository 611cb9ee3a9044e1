// Status bars: their fields, laid out across the window's width, and their texts.
#include <memory>
#include <vector>

#include "toolkit/backend.h"
#include "toolkit/core_internal.h"
#include "toolkit/numbered_table.h"
#include "toolkit/state.h"
#include "toolkit/window.h"

namespace tk {

namespace {

using core::NumberedTable;
using core::TableStep;

constexpr size_t MaxStatusFields = 256;

struct StatusBarRecord {
    intptr_t handle = 0;
    int window = -1;
    std::vector<int32_t> requested; // as added: pixels or StatusFillWidth
    std::vector<int32_t> laidOut;   // pixels
    std::vector<Text> texts;
};

} // namespace

struct state::StatusBars {
    NumberedTable<StatusBarRecord> bars{TableStep};
    int last = -1; // the bar AddStatusField adds to
};

template <> state::StatusBars* state::Make() {
    return new StatusBars;
}

template <> void state::Destroy(StatusBars* part) {
    delete part;
}

namespace {

state::StatusBars* Part() {
    return state::Get<state::StatusBars>();
}

state::StatusBars& S() {
    return *Part();
}

void LayOutStatusBar(StatusBarRecord& bar) {
    int64_t fixed = 0;
    int64_t fills = 0;
    for (int32_t width : bar.requested) {
        if (width == StatusFillWidth)
            ++fills;
        else
            fixed += width;
    }
    int64_t share = 0;
    if (fills > 0) {
        int64_t left = static_cast<int64_t>(core::backend()->StatusBarWidth(bar.handle)) - fixed;
        share = left > 0 ? left / fills : 0;
    }
    bar.laidOut.clear();
    for (int32_t width : bar.requested)
        bar.laidOut.push_back(width == StatusFillWidth ? static_cast<int32_t>(share) : width);
    core::backend()->SetStatusFields(bar.handle, bar.laidOut);
}

void Remove(int number) {
    S().bars.Remove(number);
    if (S().last == number) S().last = -1;
}

} // namespace

namespace core {

void LayOutStatusBarsOf(int window) {
    if (Part() == nullptr) return;
    for (int n = 0; n < S().bars.Size(); ++n) {
        StatusBarRecord* bar = S().bars.Find(n);
        if (bar && bar->window == window) LayOutStatusBar(*bar);
    }
}

void RemoveStatusBarsOf(int window) {
    if (Part() == nullptr) return;
    for (int n = 0; n < S().bars.Size(); ++n) {
        StatusBarRecord* bar = S().bars.Find(n);
        if (bar && bar->window == window) Remove(n);
    }
}

} // namespace core

intptr_t CreateStatusBar(int number, intptr_t windowHandle) {
    if (Part() == nullptr) return 0;
    Backend* backend = core::backend();
    if (!backend || number < 0) return 0;
    int window = core::WindowNumberOfHandle(windowHandle);
    if (window < 0) return 0;
    if (S().bars.Find(number)) Remove(number);
    // The window lays itself out again around the bar; that is no size change of the program's.
    SuspendEvents();
    intptr_t handle = backend->CreateStatusBar(windowHandle);
    ResumeEvents();
    if (!handle) return 0;
    auto record = std::make_unique<StatusBarRecord>();
    record->handle = handle;
    record->window = window;
    S().bars.Put(number, std::move(record));
    S().last = number;
    return handle;
}

int AddStatusField(int32_t width) {
    if (Part() == nullptr) return 0;
    StatusBarRecord* bar = S().bars.Find(S().last);
    if (!bar || bar->requested.size() >= MaxStatusFields) return 0;
    bar->requested.push_back(width);
    bar->texts.emplace_back();
    LayOutStatusBar(*bar);
    return 1;
}

int SetStatusText(int number, int field, const Text& text) {
    if (Part() == nullptr) return 0;
    StatusBarRecord* bar = S().bars.Find(number);
    if (!bar || field < 0 || static_cast<size_t>(field) >= bar->texts.size()) return 0;
    bar->texts[static_cast<size_t>(field)] = text;
    core::backend()->SetStatusText(bar->handle, field, text);
    return 1;
}

Text StatusText(int number, int field) {
    if (Part() == nullptr) return Text();
    StatusBarRecord* bar = S().bars.Find(number);
    if (!bar || field < 0 || static_cast<size_t>(field) >= bar->texts.size()) return Text();
    return bar->texts[static_cast<size_t>(field)];
}

int32_t StatusFieldWidth(int number, int field) {
    if (Part() == nullptr) return 0;
    StatusBarRecord* bar = S().bars.Find(number);
    if (!bar || field < 0 || static_cast<size_t>(field) >= bar->laidOut.size()) return 0;
    return bar->laidOut[static_cast<size_t>(field)];
}

} // namespace tk
