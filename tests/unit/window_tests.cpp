// Windows, menus, the status bar and file drop, driven through the scripted backend.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/core_internal.h"
#include "toolkit/window.h"

namespace tk {
namespace {

struct Seen {
    int32_t kind, source, window, subKind;
    bool operator==(const Seen&) const = default;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(InitToolkit(&backend), 0);
        main = CreateMainWindow(0, 0, 0, 660, 610, "Pixmole", 0xCA0001);
        ASSERT_NE(main, 0);
    }
    void TearDown() override { ReleaseToolkit(); }

    // Runs the script and takes every event it posted.
    std::vector<Seen> Drain() {
        backend.RunScript();
        std::vector<Seen> seen;
        while (QueuedEventCount() > 0)
            seen.push_back({WaitForEvent(), EventControl(), EventWindow(), EventKind()});
        return seen;
    }
    void BuildViewerMenu() {
        ASSERT_NE(CreateMenuBar(0, main), 0);
        AddMenuTitle("Project");
        AddMenuItem(1, "Open..");
        AddMenuSeparator();
        AddMenuItem(4, "Quit");
        CloseSubmenu();
        AddMenuItem(5, "x1");
        AddMenuItem(8, "Save selected");
    }

    pmtest::ScriptedBackend backend;
    intptr_t main = 0;
};

TEST_F(WindowTest, ItemsAddedAfterClosingATitleStandOnTheBar) {
    BuildViewerMenu();
    const auto& bar = backend.menuBar;
    ASSERT_EQ(bar.size(), 3u);
    ASSERT_EQ(bar[0].children.size(), 3u);
    EXPECT_TRUE(bar[0].children[1].separator);
    EXPECT_EQ(bar[0].children[2].text, "Quit");
    EXPECT_FALSE(bar[1].isTitle);
    EXPECT_EQ(bar[2].identifier, 8);

    // CloseSubmenu at the bar does nothing; a new title always starts at the bar.
    CloseSubmenu();
    AddMenuTitle("Help");
    AddMenuItem(9, "About");
    AddMenuTitle("More");
    ASSERT_EQ(bar.size(), 5u);
    EXPECT_EQ(bar[3].children.size(), 1u);

    backend.ScriptMenu(0, 5);
    backend.ScriptMenu(0, 1);
    backend.ScriptMenu(0, 77); // no such item
    EXPECT_EQ(Drain(), (std::vector<Seen>{{MenuEvent, 5, 0, 0}, {MenuEvent, 1, 0, 0}}));
}

TEST_F(WindowTest, AGreyedItemPostsNothingUntilEnabledAgain) {
    BuildViewerMenu();
    EXPECT_NE(SetMenuItemDisabled(0, 8, 1), 0);
    EXPECT_NE(SetMenuItemDisabled(0, 4, 1), 0); // inside the drop-down
    EXPECT_EQ(MenuItemDisabled(0, 5), 0);
    EXPECT_TRUE(backend.menuBar[2].disabled);
    EXPECT_TRUE(backend.menuBar[0].children[2].disabled);
    backend.ScriptMenu(0, 8);
    backend.ScriptMenu(0, 4);
    EXPECT_TRUE(Drain().empty());

    SetMenuItemDisabled(0, 8, 0);
    EXPECT_FALSE(backend.menuBar[2].disabled);
    backend.ScriptMenu(0, 8);
    EXPECT_EQ(Drain(), (std::vector<Seen>{{MenuEvent, 8, 0, 0}}));

    EXPECT_EQ(SetMenuItemDisabled(3, 8, 1), 0) << "no menu 3";
    EXPECT_EQ(SetMenuItemDisabled(0, 99, 1), 0) << "no item 99";
    EXPECT_EQ(CreateMenuBar(1, 12345), 0) << "no such window";
}

TEST_F(WindowTest, StatusFieldsShareTheWidthTheFixedOnesLeave) {
    ASSERT_NE(CreateStatusBar(0, main), 0);
    EXPECT_NE(AddStatusField(StatusFillWidth), 0);
    EXPECT_EQ(StatusFieldWidth(0, 0), 660);
    EXPECT_NE(SetStatusText(0, 0, "selection:"), 0);
    EXPECT_EQ(SetStatusText(0, 1, "x"), 0) << "field 1 was never added";

    AddStatusField(101);
    AddStatusField(StatusFillWidth);
    // (660 - 101) / 2 = 279 each.
    EXPECT_EQ(StatusFieldWidth(0, 0), 279);
    EXPECT_EQ(StatusFieldWidth(0, 1), 101);
    EXPECT_EQ(StatusFieldWidth(0, 2), 279);
    EXPECT_EQ(StatusText(0, 0), "selection:");

    for (int i = 3; i < 300; ++i) AddStatusField(1);
    EXPECT_EQ(StatusFieldWidth(0, 255), 1);
    EXPECT_EQ(StatusFieldWidth(0, 256), 0) << "at most 256 fields";
    EXPECT_EQ(AddStatusField(1), 0);
}

TEST_F(WindowTest, CloseRequestPostsTheWindowNumberAndLeavesTheWindowOpen) {
    intptr_t second = CreateMainWindow(3, 0, 0, 200, 100, "tool", 0);
    ASSERT_NE(second, 0);
    backend.ScriptClose(3);
    EXPECT_EQ(Drain(), (std::vector<Seen>{{CloseEvent, 3, 3, 0}}));
    EXPECT_EQ(WindowHandle(3), second);
    EXPECT_EQ(backend.windowTitles.count(second), 1u);
}

TEST_F(WindowTest, SizeChangesAndOtherNotificationsPostTheirKinds) {
    using notify::SizeChange;
    auto after = [&](SizeChange change) {
        backend.Script([change] { notify::SizeChanged(0, change); });
        std::vector<int32_t> kinds;
        for (const Seen& seen : Drain()) kinds.push_back(seen.kind);
        return kinds;
    };
    EXPECT_EQ(after(SizeChange::Resized), std::vector<int32_t>{SizeEvent});
    EXPECT_EQ(after(SizeChange::Restored), std::vector<int32_t>{SizeEvent});
    EXPECT_EQ(after(SizeChange::Minimized), std::vector<int32_t>{MinimizeEvent});
    EXPECT_EQ(after(SizeChange::Restored), (std::vector<int32_t>{RestoreEvent, SizeEvent}));
    EXPECT_EQ(after(SizeChange::Maximized), (std::vector<int32_t>{MaximizeEvent, SizeEvent}));
    EXPECT_EQ(after(SizeChange::Resized), (std::vector<int32_t>{RestoreEvent, SizeEvent}));
    EXPECT_EQ(after(SizeChange::Resized), std::vector<int32_t>{SizeEvent});

    backend.Script([] {
        notify::Moved(0);
        notify::BackgroundErased(0);
        notify::WindowClick(0, WindowRightClick);
        notify::Activated(0, false);
        notify::Activated(0, true);
        notify::Moved(9); // no window 9
    });
    EXPECT_EQ(Drain(), (std::vector<Seen>{{MoveEvent, 0, 0, 0},
                                          {RepaintEvent, 0, 0, 0},
                                          {WindowRightClick, 0, 0, 0},
                                          {DeactivateEvent, 0, 0, 0},
                                          {ActivateEvent, 0, 0, 0}}));
}

TEST_F(WindowTest, ActivationGivesTheFocusBackToTheControlThatHadIt) {
    ASSERT_NE(AddCheckBox(1, 0, 0, 80, 20, "Grid"), 0);
    ASSERT_NE(AddButton(2, 0, 30, 80, 20, ">"), 0);
    notify::FocusChanged(2, true);
    ASSERT_EQ(FocusedControl(), 2);
    notify::Activated(0, false);
    backend.focused = 0;
    notify::Activated(0, true);
    EXPECT_EQ(backend.focused, ControlHandle(2));
}

TEST_F(WindowTest, DroppedPathsAreJoinedByLineFeedsUntilTheNextWait) {
    EXPECT_NE(EnableFileDrop(0, FileListFormat, DropCopy), 0);
    EXPECT_EQ(backend.dropActions, DropCopy);
    backend.ScriptDrop(0, {"a", "b", "c"});
    backend.RunScript();
    ASSERT_EQ(WaitForEvent(), DropEvent);
    EXPECT_EQ(DroppedFiles(), "a\nb\nc");
    const auto* drop = static_cast<const DropData*>(EventData());
    ASSERT_NE(drop, nullptr);
    EXPECT_EQ(drop->action, DropCopy);
    EXPECT_EQ(drop->bytes, Text("a\0b\0c\0", 6));
    WaitForEvent();
    EXPECT_EQ(DroppedFiles(), "");

    // A non-drop event with data is not taken for a drop.
    PostEvent(DropEvent, 0, 0, 0, new int(1), [](void* p) { delete static_cast<int*>(p); });
    ASSERT_EQ(WaitForEvent(), DropEvent);
    EXPECT_EQ(DroppedFiles(), "");
}

TEST_F(WindowTest, DropEffectFollowsTheAllowedActionsAndModifiers) {
    constexpr uint32_t Shift = 1, Alt = 2, Ctrl = 4;
    EXPECT_EQ(notify::DropEffect(0, DropCopy, 0), 0) << "drop not enabled yet";
    EnableFileDrop(0, FileListFormat, DropCopy | DropMove | DropLink);
    const int all = DropCopy | DropMove | DropLink;
    EXPECT_EQ(notify::DropEffect(0, all, 0), DropCopy);
    EXPECT_EQ(notify::DropEffect(0, all, Shift), DropMove);
    EXPECT_EQ(notify::DropEffect(0, all, Ctrl | Shift), DropLink);
    EXPECT_EQ(notify::DropEffect(0, all, Alt), DropLink);
    EXPECT_EQ(notify::DropEffect(0, all, Alt | Shift), DropCopy);
    EXPECT_EQ(notify::DropEffect(0, DropMove | DropLink, 0), DropMove);

    // The window listed copy only: a move-only source is refused and nothing is posted.
    EnableFileDrop(0, FileListFormat, DropCopy);
    EXPECT_EQ(notify::DropEffect(0, DropMove, Shift), 0);
    EXPECT_EQ(notify::FilesDropped(0, {"/tmp/a"}, DropMove, 0, 5, 5), 0);
    EXPECT_EQ(notify::FilesDropped(0, {}, DropCopy, 0, 5, 5), 0) << "an empty list";
    EXPECT_EQ(QueuedEventCount(), 0);

    EnableFileDrop(0, FileListFormat, 0);
    EXPECT_EQ(notify::FilesDropped(0, {"/tmp/a"}, DropCopy, 0, 5, 5), 0);
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(EnableFileDrop(7, FileListFormat, DropCopy), 0) << "no window 7";
}

TEST_F(WindowTest, ANumberInUseIsTakenOverAndMissingNumbersAreIgnored) {
    ASSERT_NE(AddCheckBox(1, 0, 0, 80, 20, "Grid"), 0);
    CreateMenuBar(0, main);
    AddMenuItem(5, "x1");
    PostEvent(MoveEvent, 0, 0, 0, nullptr, nullptr);

    intptr_t again = CreateMainWindow(0, 0, 0, 300, 200, "again", 0);
    ASSERT_NE(again, 0);
    EXPECT_NE(again, main);
    EXPECT_EQ(backend.windowTitles.count(main), 0u) << "the old window was destroyed";
    EXPECT_EQ(ControlKind(1), 0) << "with its controls";
    EXPECT_EQ(QueuedEventCount(), 0) << "and its waiting events";
    EXPECT_EQ(SetMenuItemDisabled(0, 5, 1), 0) << "and its menu";
    EXPECT_NE(SetMainWindowTitle(0, "renamed"), 0);
    EXPECT_EQ(backend.windowTitles[again], "renamed");
    EXPECT_EQ(SetMainWindowTitle(5, "x") | WindowHandle(5) | WindowHandle(-1), 0);
    CloseWindow(5);

    // Numbers beyond the first sixteen grow the table.
    intptr_t far = CreateMainWindow(40, 0, 0, 10, 10, "far", WindowNoControlParent);
    ASSERT_NE(far, 0);
    EXPECT_EQ(WindowHandle(40), far);
    ASSERT_NE(AddCheckBox(1, 0, 0, 80, 20, "Grid"), 0);
    EXPECT_EQ(core::ControlWindow(1), 0) << "flag 8 keeps the earlier control parent";
}

class RefusingBackend : public NullBackend {
  public:
    bool Init() override { return false; }
};

TEST(WindowStartTest, FailuresOfTheBackendGiveZero) {
    RefusingBackend refusing;
    EXPECT_EQ(InitToolkit(&refusing), 0);
    EXPECT_EQ(CurrentBackend(), nullptr);
    EXPECT_EQ(CreateMainWindow(0, 0, 0, 10, 10, "x", 0), 0);

    pmtest::ScriptedBackend backend;
    ASSERT_NE(InitToolkit(&backend), 0);
    backend.failWindowCreation = true;
    EXPECT_EQ(CreateMainWindow(0, 0, 0, 10, 10, "x", 0), 0);
    EXPECT_EQ(WindowHandle(0), 0);
    EXPECT_EQ(core::ControlParentWindow(), -1);
    ReleaseToolkit();
    EXPECT_EQ(CurrentBackend(), nullptr);
}

} // namespace
} // namespace tk
