// Windows, menus, the status bar and file drop, driven through the scripted backend.
#include <gtest/gtest.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

using namespace tk;

struct Windows : ::testing::Test {
    pmtest::ScriptedToolkit toolkit;
    pmtest::ScriptedBackend& backend = toolkit.backend;
    void SetUp() override { ASSERT_TRUE(toolkit.ok); }
    std::vector<int32_t> Drained(bool sources) { // each event's kind, or its source
        std::vector<int32_t> seen;
        for (const pmtest::Seen& e : pmtest::Drain()) seen.push_back(sources ? e.source : e.kind);
        return seen;
    }
};

TEST_F(Windows, MenuItemsPostTheirIdentifierUnlessGreyed) {
    ASSERT_NE(CreateMenuBar(0, WindowHandle(0)), 0);
    AddMenuTitle("Project"), AddMenuItem(1, "Open.."), AddMenuSeparator(), AddMenuItem(4, "Quit");
    CloseSubmenu(), AddMenuItem(5, "x1"); // after closing the title: on the bar itself
    const auto& bar = backend.menuBar;
    ASSERT_EQ(bar.size(), 2u);
    ASSERT_EQ(bar[0].children.size(), 3u);
    EXPECT_TRUE(bar[0].children[1].separator);
    EXPECT_NE(SetMenuItemDisabled(0, 4, 1), 0);
    EXPECT_TRUE(bar[0].children[2].disabled);
    EXPECT_EQ(MenuItemDisabled(0, 4), 1);
    EXPECT_EQ(MenuItemDisabled(0, 5), 0);
    for (int item : {5, 4, 77, 1}) backend.ScriptMenu(0, item); // a greyed and a missing one
    backend.RunScript();
    SetMenuItemDisabled(0, 4, 0);
    backend.ScriptMenu(0, 4);
    EXPECT_EQ(Drained(true), (std::vector<int32_t>{5, 1, 4}));
    EXPECT_EQ(SetMenuItemDisabled(3, 4, 1) + SetMenuItemDisabled(0, 99, 1), 0);
}

TEST_F(Windows, StatusFieldsShareTheWidthTheFixedOnesLeave) {
    ASSERT_NE(CreateStatusBar(0, WindowHandle(0)), 0);
    for (int32_t width : {StatusFillWidth, 101, StatusFillWidth}) AddStatusField(width);
    EXPECT_EQ(StatusFieldWidth(0, 0), 279); // (660 - 101) / 2
    EXPECT_EQ(StatusFieldWidth(0, 2), 279);
    EXPECT_NE(SetStatusText(0, 2, "selection:"), 0);
    EXPECT_EQ(StatusText(0, 2), "selection:");
    EXPECT_EQ(SetStatusText(0, 3, "x"), 0) << "no field 3";
}

TEST_F(Windows, NotificationsPostTheirKindsAndSizeChangesFollowTheState) {
    using notify::SizeChange;
    for (SizeChange change : {SizeChange::Resized, SizeChange::Minimized, SizeChange::Restored,
                              SizeChange::Maximized, SizeChange::Resized, SizeChange::Resized})
        backend.Script([=] { notify::SizeChanged(0, change); });
    backend.Script([] {
        notify::Moved(0), notify::BackgroundErased(0), notify::WindowClick(0, WindowRightClick);
        notify::Activated(0, false), notify::Activated(0, true), notify::Moved(9); // no window 9
    });
    backend.ScriptClose(0);
    EXPECT_EQ(Drained(false),
              (std::vector<int32_t>{SizeEvent, MinimizeEvent, RestoreEvent, SizeEvent,
                                    MaximizeEvent, SizeEvent, RestoreEvent, SizeEvent, SizeEvent,
                                    MoveEvent, RepaintEvent, WindowRightClick, DeactivateEvent,
                                    ActivateEvent, CloseEvent}));
    EXPECT_EQ(backend.windowTitles.count(WindowHandle(0)), 1u) << "a close request closes nothing";
    ASSERT_NE(AddButton(2, 0, 30, 80, 20, ">") * AddCheckBox(1, 0, 0, 80, 20, "Grid"), 0);
    notify::FocusChanged(2, true), notify::Activated(0, false);
    backend.focused = 0;
    notify::Activated(0, true);
    EXPECT_EQ(backend.focused, ControlHandle(2))
        << "the focus goes back to the control that had it";
}

TEST_F(Windows, DroppedPathsAreJoinedByLineFeedsUntilTheNextWaitAndRefusedWhenNotAllowed) {
    EXPECT_EQ(notify::DropEffect(0, DropCopy, 0), 0) << "drop not enabled yet";
    EXPECT_NE(EnableFileDrop(0, FileListFormat, DropCopy), 0);
    EXPECT_EQ(backend.dropActions, DropCopy);
    backend.ScriptDrop(0, {"a", "b\nc"});
    backend.RunScript();
    ASSERT_EQ(WaitForEvent(), DropEvent);
    EXPECT_EQ(DroppedFiles() + "|" + DroppedFile(1), "a\nb\nc|b\nc");
    EXPECT_EQ(static_cast<const DropData*>(EventData())->bytes, Text("a\0b\nc\0", 6));
    PostEvent(DropEvent, 0, 0, 0, new int(1), [](void* p) { delete static_cast<int*>(p); });
    WaitForEvent();
    EXPECT_EQ(DroppedFiles() + DroppedFile(0), "") << "another event of that kind is no drop";
    EXPECT_EQ(notify::FilesDropped(0, {"/a"}, DropMove, 0, 5, 5), 0) << "the window takes copies";
    EXPECT_EQ(notify::FilesDropped(0, {}, DropCopy, 0, 5, 5) + QueuedEventCount(), 0);
    EXPECT_EQ(EnableFileDrop(7, FileListFormat, DropCopy), 0) << "no window 7";
    constexpr int Shift = 1, Alt = 2, Ctrl = 4, All = DropCopy | DropMove | DropLink;
    EnableFileDrop(0, FileListFormat, All);
    const std::tuple<int, int, int> effects[] = {
        {All, 0, DropCopy},   {All, Shift, DropMove},       {All, Ctrl | Shift, DropLink},
        {All, Alt, DropLink}, {All, Alt | Shift, DropCopy}, {DropMove | DropLink, 0, DropMove}};
    for (auto [allowed, keys, effect] : effects)
        EXPECT_EQ(notify::DropEffect(0, allowed, keys), effect) << allowed << " " << keys;
}
