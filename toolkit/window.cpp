// Windows, menus, the status bar, file drop and the one event queue.
//
// Sections: object tables | start-up and shut-down | event queue | bindings | windows | menus |
// status bars | file drop | what the backend reports.
#include "toolkit/window.h"

#include <array>
#include <cassert>
#include <climits>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "toolkit/backend.h"
#include "toolkit/controls.h"
#include "toolkit/core_internal.h"
#include "toolkit/drawing.h"
#include "toolkit/state.h"

namespace tk {

namespace {

// ---- Object tables ------------------------------------------------------------------------

// Objects under caller-chosen numbers. The table starts with `step` slots and, when a number
// beyond its end is used, grows to that number plus the step.
template <typename T> class NumberedTable {
  public:
    explicit NumberedTable(size_t step) : step_(step), slots_(step) {}

    T* Find(int number) const {
        if (number < 0 || static_cast<size_t>(number) >= slots_.size()) return nullptr;
        return slots_[static_cast<size_t>(number)].get();
    }
    T& Put(int number, std::unique_ptr<T> object) {
        assert(number >= 0 && "object numbers are non-negative");
        size_t index = static_cast<size_t>(number);
        if (index >= slots_.size()) slots_.resize(index + step_);
        slots_[index] = std::move(object);
        return *slots_[index];
    }
    void Remove(int number) {
        if (Find(number)) slots_[static_cast<size_t>(number)].reset();
    }
    int Size() const { return static_cast<int>(slots_.size()); }
    void Clear() {
        slots_.clear();
        slots_.resize(step_);
    }

  private:
    size_t step_;
    std::vector<std::unique_ptr<T>> slots_;
};

constexpr size_t TableStep = 16;

struct WindowRecord {
    intptr_t handle = 0;
    Text title;
    uint32_t flags = 0;
    bool wasMinOrMax = false;
    int focusAtDeactivation = -1;
    int menu = -1;                                // the menu bar attached to it, -1 when none
    std::vector<std::pair<int, int>> dropFormats; // (format, actions)
};

struct MenuRecord {
    int window = -1;
    std::vector<MenuItemView> bar;
};

struct StatusBarRecord {
    intptr_t handle = 0;
    int window = -1;
    std::vector<int32_t> requested; // as added: pixels or StatusFillWidth
    std::vector<int32_t> laidOut;   // pixels
    std::vector<Text> texts;
};

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

struct state::Windows {
    Backend* backend = nullptr;
    NumberedTable<WindowRecord> windows{TableStep};
    NumberedTable<MenuRecord> menus{TableStep};
    NumberedTable<StatusBarRecord> statusBars{TableStep};
    int controlParent = -1;

    // Menu building: the menu being built and the path of child indices from its bar to the
    // current level (empty: the bar itself).
    int buildingMenu = -1;
    std::vector<size_t> levelPath;

    int lastStatusBar = -1;

    std::deque<PendingEvent> queue;
    int suspended = 0;
    PendingEvent current{0, 0, 0, -1, nullptr, nullptr, false};
    std::map<BindingKey, std::vector<EventProc>> bindings;
};

namespace {

state::Windows* Part() {
    return state::Get<state::Windows>();
}

// The part of a running toolkit: only where one is known to exist.
state::Windows& S() {
    return *Part();
}

constexpr size_t MaxStatusFields = 256;

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

// ---- Menus ----------------------------------------------------------------------------------

MenuItemView* FindMenuItem(std::vector<MenuItemView>& level, int identifier) {
    for (MenuItemView& item : level) {
        if (!item.isTitle && !item.separator && item.identifier == identifier) return &item;
        if (MenuItemView* inner = FindMenuItem(item.children, identifier)) return inner;
    }
    return nullptr;
}

std::vector<MenuItemView>* CurrentMenuLevel() {
    MenuRecord* menu = S().menus.Find(S().buildingMenu);
    if (!menu) return nullptr;
    std::vector<MenuItemView>* level = &menu->bar;
    for (size_t index : S().levelPath) {
        if (index >= level->size()) return nullptr;
        level = &(*level)[index].children;
    }
    return level;
}

// Shows the model of the menu being built on its window (attaching it there).
void AttachBuildingMenu() {
    state::Windows& s = S();
    MenuRecord* menu = s.menus.Find(s.buildingMenu);
    if (!menu) return;
    WindowRecord* window = s.windows.Find(menu->window);
    if (!window) return;
    window->menu = s.buildingMenu;
    s.backend->SetMenuBar(window->handle, menu->bar);
}

void DestroyMenu(int number) {
    state::Windows& s = S();
    MenuRecord* menu = s.menus.Find(number);
    if (!menu) return;
    WindowRecord* window = s.windows.Find(menu->window);
    if (window && window->menu == number) {
        window->menu = -1;
        s.backend->SetMenuBar(window->handle, {});
    }
    if (s.buildingMenu == number) {
        s.buildingMenu = -1;
        s.levelPath.clear();
    }
    s.menus.Remove(number);
}

// ---- Status bars ----------------------------------------------------------------------------

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
        int64_t left = static_cast<int64_t>(S().backend->StatusBarWidth(bar.handle)) - fixed;
        share = left > 0 ? left / fills : 0;
    }
    bar.laidOut.clear();
    for (int32_t width : bar.requested)
        bar.laidOut.push_back(width == StatusFillWidth ? static_cast<int32_t>(share) : width);
    S().backend->SetStatusFields(bar.handle, bar.laidOut);
}

void LayOutStatusBarsOf(int window) {
    state::Windows& s = S();
    for (int n = 0; n < s.statusBars.Size(); ++n) {
        StatusBarRecord* bar = s.statusBars.Find(n);
        if (bar && bar->window == window) LayOutStatusBar(*bar);
    }
}

int WindowNumberOfHandle(intptr_t handle) {
    if (handle == 0) return -1;
    for (int n = 0; n < S().windows.Size(); ++n) {
        WindowRecord* window = S().windows.Find(n);
        if (window && window->handle == handle) return n;
    }
    return -1;
}

// ---- File drop ------------------------------------------------------------------------------

void ReleaseDropData(void* data) {
    delete static_cast<DropData*>(data);
}

int FileListActions(const WindowRecord& window) {
    for (const auto& [format, actions] : window.dropFormats)
        if (format == FileListFormat) return actions;
    return 0;
}

} // namespace

// ---- Start-up and shut-down -----------------------------------------------------------------

template <> state::Windows* state::Make() {
    return new Windows;
}

// Runs while the part is still current (Toolkit::~Toolkit), after the controls went.
template <> void state::Destroy(Windows* part) {
    state::Windows& s = *part;
    for (int n = 0; n < s.windows.Size(); ++n) {
        WindowRecord* window = s.windows.Find(n);
        if (window && !window->dropFormats.empty()) {
            window->dropFormats.clear();
            s.backend->EnableFileDrop(window->handle, 0);
        }
    }
    // Nothing is posted while everything is torn down.
    ClearQueue();
    SuspendEvents();
    for (int n = 0; n < s.windows.Size(); ++n) CloseWindow(n);
    ClearQueue();
    s.backend->Shutdown();
    delete part;
}

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
    S().backend = backend;
    return 1;
}

void ReleaseToolkit() {
    delete state::Current(); // the parts go in the reverse order of their making
    state::SetCurrent(nullptr);
}

Backend* CurrentBackend() {
    return core::backend();
}

// ---- Events ---------------------------------------------------------------------------------

void PostEvent(int32_t kind, int32_t source, int32_t window, int32_t subKind, void* data,
               ReleaseProc releaseData) {
    if (Part() == nullptr || S().suspended > 0) {
        if (data && releaseData) releaseData(data);
        return;
    }
    state::Windows& s = S();
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
    state::Windows& s = S();
    s.current.kind = 0;
    ReleaseEventData(s.current);
    s.current.subKind = -1;
    if (!s.queue.empty()) {
        s.current = s.queue.front();
        s.queue.pop_front();
        return s.current.kind;
    }
    return s.backend->WaitNative();
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

Backend* backend() {
    return Part() != nullptr ? S().backend : nullptr;
}

intptr_t NativeWindow(int window) {
    WindowRecord* record = Part() != nullptr ? S().windows.Find(window) : nullptr;
    return record ? record->handle : 0;
}

int ControlParentWindow() {
    return Part() != nullptr ? S().controlParent : -1;
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

// ---- Windows --------------------------------------------------------------------------------

intptr_t CreateMainWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const Text& title, uint32_t flags) {
    if (Part() == nullptr) return 0;
    state::Windows& s = S();
    if (!s.backend || number < 0) return 0;
    CloseWindow(number);
    // A window asked for with nothing but placement and visibility bits still gets a title bar.
    constexpr uint32_t placementBits =
        WindowCentreOnScreen | WindowCentreOnActive | WindowNoControlParent | WindowHidden;
    if ((flags & ~placementBits) == 0) flags |= WindowTitleBar;
    intptr_t handle = s.backend->CreateWindow(number, x, y, innerWidth, innerHeight, title, flags);
    if (!handle) return 0;
    auto record = std::make_unique<WindowRecord>();
    record->handle = handle;
    record->title = title;
    record->flags = flags;
    s.windows.Put(number, std::move(record));
    if (!(flags & WindowNoControlParent)) s.controlParent = number;
    return handle;
}

intptr_t WindowHandle(int number) {
    if (Part() == nullptr) return 0;
    return core::NativeWindow(number);
}

int SetMainWindowTitle(int number, const Text& title) {
    if (Part() == nullptr) return 0;
    WindowRecord* window = S().windows.Find(number);
    if (!window) return 0;
    window->title = title;
    S().backend->SetWindowTitle(window->handle, title);
    return 1;
}

Text MainWindowTitle(int number) {
    if (Part() == nullptr) return Text();
    WindowRecord* window = S().windows.Find(number);
    return window ? window->title : Text();
}

void CloseWindow(int number) {
    if (Part() == nullptr) return;
    state::Windows& s = S();
    WindowRecord* window = s.windows.Find(number);
    if (!window) return;
    intptr_t handle = window->handle;
    if (!window->dropFormats.empty()) s.backend->EnableFileDrop(handle, 0);
    core::DestroyControlsOfWindow(number);
    for (int n = 0; n < s.menus.Size(); ++n) {
        MenuRecord* menu = s.menus.Find(n);
        if (menu && menu->window == number) {
            if (s.buildingMenu == n) {
                s.buildingMenu = -1;
                s.levelPath.clear();
            }
            s.menus.Remove(n);
        }
    }
    for (int n = 0; n < s.statusBars.Size(); ++n) {
        StatusBarRecord* bar = s.statusBars.Find(n);
        if (bar && bar->window == number) {
            s.statusBars.Remove(n);
            if (s.lastStatusBar == n) s.lastStatusBar = -1;
        }
    }
    s.backend->DestroyWindow(handle);
    s.windows.Remove(number);
    if (s.controlParent == number) s.controlParent = -1;
    core::RemoveQueuedWindowEvents(number);
    core::RemoveBindingsOfWindow(number);
}

// ---- Menus ----------------------------------------------------------------------------------

intptr_t CreateMenuBar(int number, intptr_t windowHandle) {
    if (Part() == nullptr) return 0;
    state::Windows& s = S();
    if (!s.backend || number < 0) return 0;
    int window = WindowNumberOfHandle(windowHandle);
    if (window < 0) return 0;
    DestroyMenu(number);
    auto record = std::make_unique<MenuRecord>();
    record->window = window;
    MenuRecord& menu = s.menus.Put(number, std::move(record));
    s.buildingMenu = number;
    s.levelPath.clear();
    return reinterpret_cast<intptr_t>(&menu);
}

int AddMenuTitle(const Text& text) {
    if (Part() == nullptr) return 0;
    state::Windows& s = S();
    MenuRecord* menu = s.menus.Find(s.buildingMenu);
    if (!menu) return 0;
    s.levelPath.clear();
    MenuItemView title;
    title.text = text;
    title.isTitle = true;
    menu->bar.push_back(std::move(title));
    s.levelPath.push_back(menu->bar.size() - 1);
    AttachBuildingMenu();
    return 1;
}

int AddMenuItem(int identifier, const Text& text) {
    if (Part() == nullptr) return 0;
    std::vector<MenuItemView>* level = CurrentMenuLevel();
    if (!level) return 0;
    MenuItemView item;
    item.identifier = identifier;
    item.text = text;
    level->push_back(std::move(item));
    AttachBuildingMenu();
    return 1;
}

int AddMenuSeparator() {
    if (Part() == nullptr) return 0;
    std::vector<MenuItemView>* level = CurrentMenuLevel();
    if (!level) return 0;
    MenuItemView separator;
    separator.separator = true;
    level->push_back(std::move(separator));
    AttachBuildingMenu();
    return 1;
}

int CloseSubmenu() {
    if (Part() == nullptr) return 0;
    state::Windows& s = S();
    if (!s.menus.Find(s.buildingMenu)) return 0;
    if (!s.levelPath.empty()) s.levelPath.pop_back();
    return 1;
}

int SetMenuItemDisabled(int menuNumber, int identifier, int state) {
    if (Part() == nullptr) return 0;
    state::Windows& s = S();
    MenuRecord* menu = s.menus.Find(menuNumber);
    if (!menu) return 0;
    MenuItemView* item = FindMenuItem(menu->bar, identifier);
    if (!item) return 0;
    item->disabled = state != 0;
    WindowRecord* window = s.windows.Find(menu->window);
    if (window && window->menu == menuNumber)
        s.backend->SetMenuItemEnabled(window->handle, identifier, state == 0);
    return 1;
}

int MenuItemDisabled(int menuNumber, int identifier) {
    if (Part() == nullptr) return 0;
    MenuRecord* menu = S().menus.Find(menuNumber);
    if (!menu) return 0;
    MenuItemView* item = FindMenuItem(menu->bar, identifier);
    return item && item->disabled ? 1 : 0;
}

// ---- Status bar -----------------------------------------------------------------------------

intptr_t CreateStatusBar(int number, intptr_t windowHandle) {
    if (Part() == nullptr) return 0;
    state::Windows& s = S();
    if (!s.backend || number < 0) return 0;
    int window = WindowNumberOfHandle(windowHandle);
    if (window < 0) return 0;
    if (s.statusBars.Find(number)) {
        s.statusBars.Remove(number);
        if (s.lastStatusBar == number) s.lastStatusBar = -1;
    }
    // The window lays itself out again around the bar; that is no size change of the program's.
    SuspendEvents();
    intptr_t handle = s.backend->CreateStatusBar(windowHandle);
    ResumeEvents();
    if (!handle) return 0;
    auto record = std::make_unique<StatusBarRecord>();
    record->handle = handle;
    record->window = window;
    s.statusBars.Put(number, std::move(record));
    s.lastStatusBar = number;
    return handle;
}

int AddStatusField(int32_t width) {
    if (Part() == nullptr) return 0;
    StatusBarRecord* bar = S().statusBars.Find(S().lastStatusBar);
    if (!bar || bar->requested.size() >= MaxStatusFields) return 0;
    bar->requested.push_back(width);
    bar->texts.emplace_back();
    LayOutStatusBar(*bar);
    return 1;
}

int SetStatusText(int number, int field, const Text& text) {
    if (Part() == nullptr) return 0;
    StatusBarRecord* bar = S().statusBars.Find(number);
    if (!bar || field < 0 || static_cast<size_t>(field) >= bar->texts.size()) return 0;
    bar->texts[static_cast<size_t>(field)] = text;
    S().backend->SetStatusText(bar->handle, field, text);
    return 1;
}

Text StatusText(int number, int field) {
    if (Part() == nullptr) return Text();
    StatusBarRecord* bar = S().statusBars.Find(number);
    if (!bar || field < 0 || static_cast<size_t>(field) >= bar->texts.size()) return Text();
    return bar->texts[static_cast<size_t>(field)];
}

int32_t StatusFieldWidth(int number, int field) {
    if (Part() == nullptr) return 0;
    StatusBarRecord* bar = S().statusBars.Find(number);
    if (!bar || field < 0 || static_cast<size_t>(field) >= bar->laidOut.size()) return 0;
    return bar->laidOut[static_cast<size_t>(field)];
}

// ---- File drop ------------------------------------------------------------------------------

int EnableFileDrop(int windowNumber, int format, int actions) {
    if (Part() == nullptr) return 0;
    WindowRecord* window = S().windows.Find(windowNumber);
    if (!window) return 0;
    auto& formats = window->dropFormats;
    auto listed = formats.begin();
    while (listed != formats.end() && listed->first != format) ++listed;
    if (actions == 0) {
        if (listed != formats.end()) formats.erase(listed);
    } else if (listed != formats.end()) {
        listed->second = actions;
    } else {
        formats.emplace_back(format, actions);
    }
    S().backend->EnableFileDrop(window->handle, FileListActions(*window));
    return 1;
}

Text DroppedFiles() {
    if (Part() == nullptr) return Text();
    const PendingEvent& current = S().current;
    // Only records made by FilesDropped are DropData; their release procedure tells them apart.
    if (!current.data || current.releaseData != ReleaseDropData) return Text();
    const auto* drop = static_cast<const DropData*>(current.data);
    if (drop->format != FileListFormat || drop->bytes.empty()) return Text();
    Text joined;
    size_t start = 0;
    while (start < drop->bytes.size()) {
        size_t end = drop->bytes.find('\0', start);
        if (end == Text::npos) end = drop->bytes.size();
        if (start > 0) joined += '\n';
        joined.append(drop->bytes, start, end - start);
        start = end + 1;
    }
    return joined;
}

Text DroppedFile(int index) {
    if (Part() == nullptr) return Text();
    const PendingEvent& current = S().current;
    if (index < 0 || !current.data || current.releaseData != ReleaseDropData) return Text();
    const auto* drop = static_cast<const DropData*>(current.data);
    if (drop->format != FileListFormat) return Text();
    size_t start = 0;
    for (int n = 0; start < drop->bytes.size(); ++n) {
        size_t end = drop->bytes.find('\0', start);
        if (end == Text::npos) end = drop->bytes.size();
        if (n == index) return drop->bytes.substr(start, end - start);
        start = end + 1;
    }
    return Text();
}

// ---- What the backend reports ---------------------------------------------------------------

namespace notify {

void MenuChosen(int window, int identifier) {
    if (Part() == nullptr) return;
    WindowRecord* record = S().windows.Find(window);
    if (!record) return;
    MenuRecord* menu = S().menus.Find(record->menu);
    if (!menu) return;
    MenuItemView* item = FindMenuItem(menu->bar, identifier);
    if (!item || item->disabled) return;
    PostEvent(MenuEvent, identifier, window, 0, nullptr, nullptr);
}

void CloseRequested(int window) {
    if (Part() == nullptr) return;
    if (!S().windows.Find(window)) return;
    PostEvent(CloseEvent, window, window, 0, nullptr, nullptr);
}

void Activated(int window, bool active) {
    if (Part() == nullptr) return;
    WindowRecord* record = S().windows.Find(window);
    if (!record) return;
    if (active) {
        int control = record->focusAtDeactivation;
        if (control >= 0 && ControlKind(control) != 0 && core::ControlWindow(control) == window)
            S().backend->FocusControl(ControlHandle(control));
        PostEvent(ActivateEvent, 0, window, 0, nullptr, nullptr);
    } else {
        record->focusAtDeactivation = FocusedControl();
        PostEvent(DeactivateEvent, 0, window, 0, nullptr, nullptr);
    }
}

void SizeChanged(int window, SizeChange change) {
    if (Part() == nullptr) return;
    WindowRecord* record = S().windows.Find(window);
    if (!record) return;
    switch (change) {
    case SizeChange::Minimized:
        record->wasMinOrMax = true;
        PostEvent(MinimizeEvent, 0, window, 0, nullptr, nullptr);
        return;
    case SizeChange::Maximized:
        record->wasMinOrMax = true;
        LayOutStatusBarsOf(window);
        PostEvent(MaximizeEvent, 0, window, 0, nullptr, nullptr);
        break;
    case SizeChange::Restored:
    case SizeChange::Resized:
        LayOutStatusBarsOf(window);
        if (record->wasMinOrMax) {
            record->wasMinOrMax = false;
            PostEvent(RestoreEvent, 0, window, 0, nullptr, nullptr);
        }
        break;
    }
    PostEvent(SizeEvent, 0, window, 0, nullptr, nullptr);
}

void Moved(int window) {
    if (Part() == nullptr) return;
    if (!S().windows.Find(window)) return;
    PostEvent(MoveEvent, window, window, 0, nullptr, nullptr);
}

void BackgroundErased(int window) {
    if (Part() == nullptr) return;
    if (!S().windows.Find(window)) return;
    PostEvent(RepaintEvent, 0, window, 0, nullptr, nullptr);
}

void WindowClick(int window, int32_t kind) {
    if (Part() == nullptr) return;
    if (!S().windows.Find(window)) return;
    if (kind != WindowLeftClick && kind != WindowRightClick && kind != WindowLeftDoubleClick)
        return;
    PostEvent(kind, 0, window, 0, nullptr, nullptr);
}

int DropEffect(int window, int allowedActions, uint32_t modifiers) {
    if (Part() == nullptr) return 0;
    WindowRecord* record = S().windows.Find(window);
    if (!record) return 0;
    // Only file lists ever come from a backend, so only that format can match.
    int allowed = FileListActions(*record) & allowedActions;
    if (allowed == 0) return 0;
    uint32_t held = modifiers & 7u; // Shift 1, Alt 2, Ctrl 4
    if ((allowed & DropLink) && (held == 5u || held == 2u)) return DropLink;
    if ((allowed & DropMove) && (held == 1u || !(allowed & DropCopy))) return DropMove;
    if (allowed & DropCopy) return DropCopy;
    if (allowed & DropLink) return DropLink;
    return 0;
}

int FilesDropped(int window, const std::vector<Text>& paths, int allowedActions, uint32_t modifiers,
                 int32_t x, int32_t y) {
    if (Part() == nullptr) return 0;
    int effect = DropEffect(window, allowedActions, modifiers);
    if (effect == 0 || paths.empty()) return 0;
    auto drop = std::make_unique<DropData>();
    drop->format = FileListFormat;
    drop->action = effect;
    drop->x = x;
    drop->y = y;
    for (const Text& path : paths) {
        // A path cannot hold a zero byte; one that does would split into two.
        if (path.empty() || path.find('\0') != Text::npos) return 0;
        drop->bytes += path;
        drop->bytes += '\0';
    }
    if (drop->bytes.size() > static_cast<size_t>(INT32_MAX)) return 0;
    drop->byteCount = static_cast<int32_t>(drop->bytes.size());
    PostEvent(DropEvent, 0, window, 0, drop.release(), ReleaseDropData);
    return effect;
}

} // namespace notify

} // namespace tk
