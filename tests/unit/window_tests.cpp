// Windows, menus, the status bar and file drop, driven through the scripted backend.
#include <gtest/gtest.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/core_internal.h"
#include "toolkit/window.h"

namespace tk {
namespace {

using pmtest::Seen;
using Events = std::vector<Seen>;

class Windows : public ::testing::Test {
  protected:
    pmtest::ScriptedToolkit toolkit;
    pmtest::ScriptedBackend& backend = toolkit.backend;
    void SetUp() override { ASSERT_TRUE(toolkit.ok); }
};

TEST_F(Windows, MenuItemsPostTheirIdentifierUnlessGreyed) {
    ASSERT_NE(CreateMenuBar(0, WindowHandle(0)), 0);
    AddMenuTitle("Project");
    AddMenuItem(1, "Open..");
    AddMenuSeparator();
    AddMenuItem(4, "Quit");
    CloseSubmenu();
    AddMenuItem(5, "x1"); // after closing the title: on the bar itself
    const auto& bar = backend.menuBar;
    ASSERT_EQ(bar.size(), 2u);
    ASSERT_EQ(bar[0].children.size(), 3u);
    EXPECT_TRUE(bar[0].children[1].separator);
    EXPECT_EQ(bar[1].identifier, 5);

    EXPECT_NE(SetMenuItemDisabled(0, 4, 1), 0);
    EXPECT_TRUE(bar[0].children[2].disabled);
    EXPECT_EQ(MenuItemDisabled(0, 4) + MenuItemDisabled(0, 5), 1);
    for (int item : {5, 4, 77, 1}) backend.ScriptMenu(0, item); // a greyed and a missing one
    backend.RunScript();
    SetMenuItemDisabled(0, 4, 0);
    backend.ScriptMenu(0, 4);
    EXPECT_EQ(pmtest::Drain(),
              (Events{{MenuEvent, 5, 0, 0}, {MenuEvent, 1, 0, 0}, {MenuEvent, 4, 0, 0}}));
    EXPECT_EQ(SetMenuItemDisabled(3, 4, 1) + SetMenuItemDisabled(0, 99, 1), 0);
    EXPECT_EQ(CreateMenuBar(1, 12345), 0) << "no such window";
}

TEST_F(Windows, StatusFieldsShareTheWidthTheFixedOnesLeave) {
    ASSERT_NE(CreateStatusBar(0, WindowHandle(0)), 0);
    for (int32_t width : {StatusFillWidth, 101, StatusFillWidth})
        EXPECT_NE(AddStatusField(width), 0);
    EXPECT_EQ(StatusFieldWidth(0, 0), 279); // (660 - 101) / 2
    EXPECT_EQ(StatusFieldWidth(0, 1), 101);
    EXPECT_EQ(StatusFieldWidth(0, 2), 279);
    EXPECT_NE(SetStatusText(0, 2, "selection:"), 0);
    EXPECT_EQ(StatusText(0, 2), "selection:");
    EXPECT_EQ(SetStatusText(0, 3, "x"), 0) << "no field 3";
}

TEST_F(Windows, NotificationsPostTheirKindsAndSizeChangesFollowTheState) {
    using notify::SizeChange;
    const SizeChange changes[] = {SizeChange::Resized,  SizeChange::Minimized,
                                  SizeChange::Restored, SizeChange::Maximized,
                                  SizeChange::Resized,  SizeChange::Resized};
    for (SizeChange change : changes) backend.Script([=] { notify::SizeChanged(0, change); });
    backend.Script([] {
        notify::Moved(0);
        notify::BackgroundErased(0);
        notify::WindowClick(0, WindowRightClick);
        notify::Activated(0, false);
        notify::Activated(0, true);
        notify::Moved(9); // no window 9
    });
    backend.ScriptClose(0);
    std::vector<int32_t> kinds;
    for (const Seen& seen : pmtest::Drain()) kinds.push_back(seen.kind);
    EXPECT_EQ(kinds, (std::vector<int32_t>{SizeEvent, MinimizeEvent, RestoreEvent, SizeEvent,
                                           MaximizeEvent, SizeEvent, RestoreEvent, SizeEvent,
                                           SizeEvent, MoveEvent, RepaintEvent, WindowRightClick,
                                           DeactivateEvent, ActivateEvent, CloseEvent}));
    EXPECT_EQ(backend.windowTitles.count(WindowHandle(0)), 1u) << "a close request closes nothing";
}

TEST_F(Windows, ActivationGivesTheFocusBackToTheControlThatHadIt) {
    ASSERT_NE(AddCheckBox(1, 0, 0, 80, 20, "Grid"), 0);
    ASSERT_NE(AddButton(2, 0, 30, 80, 20, ">"), 0);
    notify::FocusChanged(2, true);
    notify::Activated(0, false);
    backend.focused = 0;
    notify::Activated(0, true);
    EXPECT_EQ(backend.focused, ControlHandle(2));
}

TEST_F(Windows, DroppedPathsAreJoinedByLineFeedsUntilTheNextWait) {
    EXPECT_EQ(notify::DropEffect(0, DropCopy, 0), 0) << "drop not enabled yet";
    EXPECT_NE(EnableFileDrop(0, FileListFormat, DropCopy), 0);
    EXPECT_EQ(backend.dropActions, DropCopy);
    backend.ScriptDrop(0, {"a", "b\nc"});
    backend.RunScript();
    ASSERT_EQ(WaitForEvent(), DropEvent);
    EXPECT_EQ(DroppedFiles(), "a\nb\nc");
    EXPECT_EQ(DroppedFile(1), "b\nc");
    EXPECT_EQ(static_cast<const DropData*>(EventData())->bytes, Text("a\0b\nc\0", 6));
    WaitForEvent();
    EXPECT_EQ(DroppedFiles() + DroppedFile(0), "");
    // Another event of that kind with data of its own is no drop.
    PostEvent(DropEvent, 0, 0, 0, new int(1), [](void* p) { delete static_cast<int*>(p); });
    ASSERT_EQ(WaitForEvent(), DropEvent);
    EXPECT_EQ(DroppedFiles(), "");

    // The window listed copy only: a move-only source and an empty list are refused.
    EXPECT_EQ(notify::FilesDropped(0, {"/tmp/a"}, DropMove, 0, 5, 5), 0);
    EXPECT_EQ(notify::FilesDropped(0, {}, DropCopy, 0, 5, 5), 0);
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(EnableFileDrop(7, FileListFormat, DropCopy), 0) << "no window 7";
    constexpr uint32_t Shift = 1, Alt = 2, Ctrl = 4;
    const int all = DropCopy | DropMove | DropLink;
    EnableFileDrop(0, FileListFormat, all);
    const std::tuple<int, uint32_t, int> effects[] = {
        {all, 0, DropCopy},   {all, Shift, DropMove},       {all, Ctrl | Shift, DropLink},
        {all, Alt, DropLink}, {all, Alt | Shift, DropCopy}, {DropMove | DropLink, 0, DropMove}};
    for (auto [allowed, keys, effect] : effects)
        EXPECT_EQ(notify::DropEffect(0, allowed, keys), effect) << allowed << " " << keys;
}

TEST_F(Windows, ANumberInUseIsTakenOverWithEverythingInIt) {
    const intptr_t first = WindowHandle(0);
    ASSERT_NE(AddCheckBox(1, 0, 0, 80, 20, "Grid"), 0);
    CreateMenuBar(0, first);
    AddMenuItem(5, "x1");
    PostEvent(MoveEvent, 0, 0, 0, nullptr, nullptr);
    const intptr_t again = CreateMainWindow(0, 0, 0, 300, 200, "again", 0);
    ASSERT_NE(again, 0);
    EXPECT_EQ(backend.windowTitles.count(first), 0u);
    EXPECT_EQ(ControlKind(1) + QueuedEventCount() + SetMenuItemDisabled(0, 5, 1), 0);
    EXPECT_NE(SetMainWindowTitle(0, "renamed"), 0);
    EXPECT_EQ(backend.windowTitles[again], "renamed");
    EXPECT_EQ(SetMainWindowTitle(5, "x") | WindowHandle(5) | WindowHandle(-1), 0);

    const intptr_t far = CreateMainWindow(40, 0, 0, 10, 10, "far", WindowNoControlParent);
    EXPECT_EQ(WindowHandle(40), far) << "numbers beyond the first room grow the table";
    ASSERT_NE(AddCheckBox(1, 0, 0, 80, 20, "Grid"), 0);
    EXPECT_EQ(core::ControlWindow(1), 0) << "that window does not take the controls";
}

TEST(WindowStart, FailuresOfTheBackendGiveZero) {
    struct Refusing : NullBackend {
        bool Init() override { return false; }
    } refusing;
    EXPECT_EQ(InitToolkit(&refusing), 0);
    EXPECT_EQ(CreateMainWindow(0, 0, 0, 10, 10, "x", 0), 0);
    pmtest::ScriptedBackend backend;
    ASSERT_NE(InitToolkit(&backend), 0);
    backend.failWindowCreation = true;
    EXPECT_EQ(CreateMainWindow(0, 0, 0, 10, 10, "x", 0) + WindowHandle(0), 0);
    EXPECT_EQ(AddButton(1, 0, 0, 10, 10, "b"), 0) << "no window to hold it";
    ReleaseToolkit();
    EXPECT_EQ(CurrentBackend(), nullptr);
}

} // namespace
} // namespace tk
