// Windows, menus, the status bar, file drop and the one event queue.
//
// Sections: object tables | start-up and shut-down | event queue | bindings | windows | menus |
// status bars | file drop | what the backend reports.
#include "toolkit/window.h"

#include <algorithm>
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
#include "toolkit/numbered_table.h"
#include "toolkit/state.h"

namespace tk {

namespace {

using core::NumberedTable;
using core::TableStep;

struct WindowRecord {
    intptr_t handle = 0;
    Text title;
    uint32_t flags = 0;
    int innerWidth = 0, innerHeight = 0; // as created
    bool wasMinOrMax = false;
    int focusAtDeactivation = -1;
    int menu = -1;                                // the menu bar attached to it, -1 when none
    std::vector<std::pair<int, int>> dropFormats; // (format, actions)
};

struct MenuRecord {
    int window = -1;
    std::vector<MenuItemView> bar;
};

} // namespace

struct state::Windows {
    Backend* backend = nullptr;
    NumberedTable<WindowRecord> windows{TableStep};
    NumberedTable<MenuRecord> menus{TableStep};
    int controlParent = -1;

    // Menu building: the menu being built and the path of child indices from its bar to the
    // current level (empty: the bar itself).
    int buildingMenu = -1;
    std::vector<size_t> levelPath;
};

namespace {

state::Windows* Part() {
    return state::Get<state::Windows>();
}

// The part of a running toolkit: only where one is known to exist.
state::Windows& S() {
    return *Part();
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

} // namespace

namespace core {

int WindowNumberOfHandle(intptr_t handle) {
    if (Part() == nullptr) return -1;
    if (handle == 0) return -1;
    for (int n = 0; n < S().windows.Size(); ++n) {
        WindowRecord* window = S().windows.Find(n);
        if (window && window->handle == handle) return n;
    }
    return -1;
}

} // namespace core

namespace {

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
    // Nothing is posted while everything is torn down; what is queued goes with the events.
    SuspendEvents();
    for (int n = 0; n < s.windows.Size(); ++n) CloseWindow(n);
    s.backend->Shutdown();
    delete part;
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

void SetBackend(Backend* backend) {
    S().backend = backend;
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
    record->innerWidth = innerWidth;
    record->innerHeight = innerHeight;
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

int GetWindowInnerSize(int number, int32_t* width, int32_t* height) {
    if (Part() == nullptr) return 0;
    const WindowRecord* window = S().windows.Find(number);
    if (!window) return 0;
    int w = window->innerWidth, h = window->innerHeight;
    if (!S().backend->InnerSize(window->handle, w, h)) {
        w = window->innerWidth;
        h = window->innerHeight;
    }
    if (width != nullptr) *width = std::max(w, 0);
    if (height != nullptr) *height = std::max(h, 0);
    return 1;
}

int ActivateWindow(int number) {
    if (Part() == nullptr) return 0;
    const WindowRecord* window = S().windows.Find(number);
    if (!window) return 0;
    S().backend->ActivateWindow(window->handle);
    return 1;
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
    core::RemoveStatusBarsOf(number);
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
    int window = core::WindowNumberOfHandle(windowHandle);
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

int AddMenuItem(int identifier, const Text& text, Accelerator accelerator, uint32_t flags) {
    if (Part() == nullptr) return 0;
    std::vector<MenuItemView>* level = CurrentMenuLevel();
    if (!level) return 0;
    MenuItemView item;
    item.identifier = identifier;
    item.text = text;
    item.accelerator = accelerator;
    item.radio = (flags & MenuItemRadio) != 0;
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

int SetMenuItemChecked(int menuNumber, int identifier, int state) {
    if (Part() == nullptr) return 0;
    state::Windows& s = S();
    MenuRecord* menu = s.menus.Find(menuNumber);
    if (!menu) return 0;
    MenuItemView* item = FindMenuItem(menu->bar, identifier);
    if (!item || !item->radio) return 0;
    item->checked = state != 0;
    WindowRecord* window = s.windows.Find(menu->window);
    if (window && window->menu == menuNumber)
        s.backend->SetMenuItemChecked(window->handle, identifier, state != 0);
    return 1;
}

int MenuItemChecked(int menuNumber, int identifier) {
    if (Part() == nullptr) return 0;
    MenuRecord* menu = S().menus.Find(menuNumber);
    if (!menu) return 0;
    MenuItemView* item = FindMenuItem(menu->bar, identifier);
    return item && item->checked ? 1 : 0;
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

namespace {

// The current event's list of dropped files, when FilesDropped made it; null otherwise.
const DropData* CurrentDrop() {
    // Only records made by FilesDropped are DropData; their release procedure tells them apart.
    if (core::CurrentEventRelease() != ReleaseDropData) return nullptr;
    const auto* drop = static_cast<const DropData*>(core::CurrentEventData());
    return drop != nullptr && drop->format == FileListFormat ? drop : nullptr;
}

} // namespace

Text DroppedFiles() {
    const DropData* drop = CurrentDrop();
    if (drop == nullptr || drop->bytes.empty()) return Text();
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
    const DropData* drop = CurrentDrop();
    if (index < 0 || drop == nullptr) return Text();
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
        core::LayOutStatusBarsOf(window);
        PostEvent(MaximizeEvent, 0, window, 0, nullptr, nullptr);
        break;
    case SizeChange::Restored:
    case SizeChange::Resized:
        core::LayOutStatusBarsOf(window);
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
