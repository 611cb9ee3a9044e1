// Windows, menus, the status bar, file drop and the one event queue.
//
// Sections: object tables | start-up and shut-down | event queue | bindings | windows | menus |
// status bars | file drop | what the backend reports.
#include "toolkit/window.h"

#include <array>
#include <cassert>
#include <climits>
#include <map>
#include <memory>
#include <vector>

#include "toolkit/backend.h"
#include "toolkit/controls.h"
#include "toolkit/core_internal.h"
#include "toolkit/drawing.h"

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

// Queue entries come from a free list that grows in blocks, so posting allocates nothing once
// the pool is warm.
struct QueueNode {
    PendingEvent event;
    QueueNode* next = nullptr;
};

class NodePool {
  public:
    QueueNode* Take() {
        if (!free_) Grow();
        QueueNode* node = free_;
        free_ = node->next;
        node->next = nullptr;
        return node;
    }
    void Give(QueueNode* node) {
        node->event = PendingEvent{};
        node->next = free_;
        free_ = node;
    }
    void Reset() {
        blocks_.clear();
        free_ = nullptr;
    }

  private:
    static constexpr size_t BlockSize = 64;
    void Grow() {
        blocks_.push_back(std::make_unique<QueueNode[]>(BlockSize));
        QueueNode* block = blocks_.back().get();
        for (size_t i = 0; i < BlockSize; ++i) {
            block[i].next = free_;
            free_ = &block[i];
        }
    }
    std::vector<std::unique_ptr<QueueNode[]>> blocks_;
    QueueNode* free_ = nullptr;
};

using BindingKey = std::array<int32_t, 4>; // kind, window, source, subKind

struct ToolkitState {
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

    NodePool pool;
    QueueNode* head = nullptr;
    QueueNode* tail = nullptr;
    int suspended = 0;
    PendingEvent current{0, 0, 0, -1, nullptr, nullptr, false};
    std::map<BindingKey, std::vector<EventProc>> bindings;
};

ToolkitState& S() {
    static ToolkitState state;
    return state;
}

constexpr size_t MaxStatusFields = 256;

void ReleaseEventData(PendingEvent& event) {
    if (event.data && event.releaseData && !event.borrowed) event.releaseData(event.data);
    event.data = nullptr;
    event.releaseData = nullptr;
}

// ---- Event queue helpers --------------------------------------------------------------------

template <typename Pred> void RemoveQueued(Pred matches) {
    ToolkitState& s = S();
    QueueNode* previous = nullptr;
    QueueNode* node = s.head;
    while (node) {
        QueueNode* next = node->next;
        if (matches(node->event)) {
            ReleaseEventData(node->event);
            if (previous)
                previous->next = next;
            else
                s.head = next;
            if (s.tail == node) s.tail = previous;
            s.pool.Give(node);
        } else {
            previous = node;
        }
        node = next;
    }
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
    ToolkitState& s = S();
    MenuRecord* menu = s.menus.Find(s.buildingMenu);
    if (!menu) return;
    WindowRecord* window = s.windows.Find(menu->window);
    if (!window) return;
    window->menu = s.buildingMenu;
    s.backend->SetMenuBar(window->handle, menu->bar);
}

void DestroyMenu(int number) {
    ToolkitState& s = S();
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
    ToolkitState& s = S();
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

int InitToolkit(Backend* backend) {
    if (!backend) return 0;
    if (S().backend) ReleaseToolkit();
    if (!backend->Init()) return 0;
    S().backend = backend;
    core::InitControls();
    core::ResetKeyState();
    return 1;
}

void ReleaseToolkit() {
    ToolkitState& s = S();
    if (!s.backend) return;
    CloseAllFiles();
    for (int n = 0; n < s.windows.Size(); ++n) {
        WindowRecord* window = s.windows.Find(n);
        if (window && !window->dropFormats.empty()) {
            window->dropFormats.clear();
            s.backend->EnableFileDrop(window->handle, 0);
        }
    }
    // Event data may come from the control layer's pools: give it back before that goes, and
    // post nothing while everything is torn down.
    ClearQueue();
    SuspendEvents();
    core::ReleaseControls();
    for (int n = 0; n < s.windows.Size(); ++n) CloseWindow(n);
    ClearQueue();
    ReleaseAllImages();
    s.backend->Shutdown();
    s.backend = nullptr;
    s.windows.Clear();
    s.menus.Clear();
    s.statusBars.Clear();
    s.controlParent = -1;
    s.buildingMenu = -1;
    s.levelPath.clear();
    s.lastStatusBar = -1;
    s.bindings.clear();
    s.suspended = 0;
    s.pool.Reset();
}

Backend* CurrentBackend() {
    return S().backend;
}

// ---- Events ---------------------------------------------------------------------------------

void PostEvent(int32_t kind, int32_t source, int32_t window, int32_t subKind, void* data,
               ReleaseProc releaseData) {
    ToolkitState& s = S();
    if (s.suspended > 0) {
        if (data && releaseData) releaseData(data);
        return;
    }
    PendingEvent posted{kind, source, window, subKind, data, releaseData, false};
    bool coalesced = s.tail && kind < NativeMessageBase && s.tail->event.kind == kind &&
                     s.tail->event.source == source && s.tail->event.window == window &&
                     s.tail->event.subKind == subKind;
    if (!coalesced) {
        QueueNode* node = s.pool.Take();
        node->event = posted;
        if (s.tail)
            s.tail->next = node;
        else
            s.head = node;
        s.tail = node;
    }

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
    ToolkitState& s = S();
    s.current.kind = 0;
    ReleaseEventData(s.current);
    s.current.subKind = -1;
    if (s.head) {
        QueueNode* node = s.head;
        s.head = node->next;
        if (!s.head) s.tail = nullptr;
        s.current = node->event;
        node->event.data = nullptr;
        s.pool.Give(node);
        return s.current.kind;
    }
    if (!s.backend) return 0;
    return s.backend->WaitNative();
}

int32_t EventControl() {
    return S().current.source;
}
int32_t EventMenuItem() {
    return S().current.source;
}
int32_t EventKind() {
    return S().current.subKind;
}
int32_t EventWindow() {
    return S().current.window;
}
const void* EventData() {
    return S().current.data;
}

void BindEvent(int32_t kind, int32_t window, int32_t source, int32_t subKind, EventProc proc) {
    if (!proc) return;
    S().bindings[{kind, window, source, subKind}].push_back(proc);
}

void BindControlCallback(int control, EventProc proc) {
    int window = core::ControlWindow(control);
    if (window < 0) return;
    BindEvent(ControlEvent, window, control, AnyValue, proc);
}

void SuspendEvents() {
    ++S().suspended;
}
void ResumeEvents() {
    if (S().suspended > 0) --S().suspended;
}

int QueuedEventCount() {
    int count = 0;
    for (QueueNode* node = S().head; node; node = node->next) ++count;
    return count;
}

QueuedEvent QueuedEventAt(int index) {
    int i = 0;
    for (QueueNode* node = S().head; node; node = node->next, ++i) {
        if (i == index)
            return {node->event.kind, node->event.source, node->event.window, node->event.subKind};
    }
    return {0, 0, 0, 0};
}

namespace core {

Backend* backend() {
    return S().backend;
}

intptr_t NativeWindow(int window) {
    WindowRecord* record = S().windows.Find(window);
    return record ? record->handle : 0;
}

int ControlParentWindow() {
    return S().controlParent;
}

void RemoveQueuedControlEvents(int control) {
    RemoveQueued(
        [control](const PendingEvent& e) { return e.kind == ControlEvent && e.source == control; });
}

void RemoveQueuedWindowEvents(int window) {
    RemoveQueued([window](const PendingEvent& e) { return e.window == window; });
}

void RemoveBindingsOfWindow(int window) {
    auto& bindings = S().bindings;
    for (auto it = bindings.begin(); it != bindings.end();) {
        if ((*it).first[1] == window)
            it = bindings.erase(it);
        else
            ++it;
    }
}

bool CurrentEventIsControlEvent(int control) {
    return S().current.kind == ControlEvent && S().current.source == control;
}

void* CurrentEventData() {
    return S().current.data;
}

ReleaseProc CurrentEventRelease() {
    return S().current.releaseData;
}

} // namespace core

// ---- Windows --------------------------------------------------------------------------------

intptr_t CreateMainWindow(int number, int x, int y, int innerWidth, int innerHeight,
                          const Text& title, uint32_t flags) {
    ToolkitState& s = S();
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
    return core::NativeWindow(number);
}

int SetMainWindowTitle(int number, const Text& title) {
    WindowRecord* window = S().windows.Find(number);
    if (!window) return 0;
    window->title = title;
    S().backend->SetWindowTitle(window->handle, title);
    return 1;
}

Text MainWindowTitle(int number) {
    WindowRecord* window = S().windows.Find(number);
    return window ? window->title : Text();
}

void CloseWindow(int number) {
    ToolkitState& s = S();
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
    ToolkitState& s = S();
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
    ToolkitState& s = S();
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
    std::vector<MenuItemView>* level = CurrentMenuLevel();
    if (!level) return 0;
    MenuItemView separator;
    separator.separator = true;
    level->push_back(std::move(separator));
    AttachBuildingMenu();
    return 1;
}

int CloseSubmenu() {
    ToolkitState& s = S();
    if (!s.menus.Find(s.buildingMenu)) return 0;
    if (!s.levelPath.empty()) s.levelPath.pop_back();
    return 1;
}

int SetMenuItemDisabled(int menuNumber, int identifier, int state) {
    ToolkitState& s = S();
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
    MenuRecord* menu = S().menus.Find(menuNumber);
    if (!menu) return 0;
    MenuItemView* item = FindMenuItem(menu->bar, identifier);
    return item && item->disabled ? 1 : 0;
}

// ---- Status bar -----------------------------------------------------------------------------

intptr_t CreateStatusBar(int number, intptr_t windowHandle) {
    ToolkitState& s = S();
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
    StatusBarRecord* bar = S().statusBars.Find(S().lastStatusBar);
    if (!bar || bar->requested.size() >= MaxStatusFields) return 0;
    bar->requested.push_back(width);
    bar->texts.emplace_back();
    LayOutStatusBar(*bar);
    return 1;
}

int SetStatusText(int number, int field, const Text& text) {
    StatusBarRecord* bar = S().statusBars.Find(number);
    if (!bar || field < 0 || static_cast<size_t>(field) >= bar->texts.size()) return 0;
    bar->texts[static_cast<size_t>(field)] = text;
    S().backend->SetStatusText(bar->handle, field, text);
    return 1;
}

Text StatusText(int number, int field) {
    StatusBarRecord* bar = S().statusBars.Find(number);
    if (!bar || field < 0 || static_cast<size_t>(field) >= bar->texts.size()) return Text();
    return bar->texts[static_cast<size_t>(field)];
}

int32_t StatusFieldWidth(int number, int field) {
    StatusBarRecord* bar = S().statusBars.Find(number);
    if (!bar || field < 0 || static_cast<size_t>(field) >= bar->laidOut.size()) return 0;
    return bar->laidOut[static_cast<size_t>(field)];
}

// ---- File drop ------------------------------------------------------------------------------

int EnableFileDrop(int windowNumber, int format, int actions) {
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
    WindowRecord* record = S().windows.Find(window);
    if (!record) return;
    MenuRecord* menu = S().menus.Find(record->menu);
    if (!menu) return;
    MenuItemView* item = FindMenuItem(menu->bar, identifier);
    if (!item || item->disabled) return;
    PostEvent(MenuEvent, identifier, window, 0, nullptr, nullptr);
}

void CloseRequested(int window) {
    if (!S().windows.Find(window)) return;
    PostEvent(CloseEvent, window, window, 0, nullptr, nullptr);
}

void Activated(int window, bool active) {
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
    if (!S().windows.Find(window)) return;
    PostEvent(MoveEvent, window, window, 0, nullptr, nullptr);
}

void BackgroundErased(int window) {
    if (!S().windows.Find(window)) return;
    PostEvent(RepaintEvent, 0, window, 0, nullptr, nullptr);
}

void WindowClick(int window, int32_t kind) {
    if (!S().windows.Find(window)) return;
    if (kind != WindowLeftClick && kind != WindowRightClick && kind != WindowLeftDoubleClick)
        return;
    PostEvent(kind, 0, window, 0, nullptr, nullptr);
}

int DropEffect(int window, int allowedActions, uint32_t modifiers) {
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
