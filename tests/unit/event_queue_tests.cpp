// The event queue: merging at the tail, bound procedures, suspension, waiting, the life of data.
#include <gtest/gtest.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/window.h"

using namespace tk;

using Marks = std::vector<int>;
Marks g_marks; // what the bound procedures saw, in order
int g_releases = 0;

template <int N> void Mark() { // N, or with N < 0 the int the current event carries
    g_marks.push_back(N >= 0 ? N : EventData() ? *static_cast<const int*>(EventData()) : -1);
}
void Post(int32_t kind, int32_t source, int32_t subKind = 0, int32_t window = 0, int data = -1) {
    auto release = [](void* p) { ++g_releases, delete static_cast<int*>(p); };
    PostEvent(kind, source, window, subKind, data < 0 ? nullptr : new int(data),
              data < 0 ? nullptr : +release);
}

struct EventQueue : ::testing::Test {
    pmtest::ScriptedToolkit toolkit;
    void SetUp() override {
        ASSERT_TRUE(toolkit.ok);
        g_marks.clear(), g_releases = 0;
    }
};

TEST_F(EventQueue, PostsMergeAtTheTailRunTheirBindingsWithTheirOwnDataAndGoWhileSuspended) {
    BindEvent(ControlEvent, 0, 2, AnyValue, Mark<-1>);
    for (int i = 0; i < 4; ++i) Post(ControlEvent, 2, 0, 0, i);
    EXPECT_EQ(g_marks, (Marks{0, 1, 2, 3}));
    EXPECT_EQ(g_releases, 3) << "the merged copies go at once";
    EXPECT_EQ(EventKind(), -1) << "the current event is restored after the procedures";
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(*static_cast<const int*>(EventData()), 0) << "the waiting entry keeps its data";
    WaitForEvent();
    EXPECT_EQ(g_releases, 4) << "data lives until the next wait";
    SuspendEvents(), Post(ControlEvent, 2, 0, 0, 5);
    ResumeEvents(), ResumeEvents(), SuspendEvents(), ResumeEvents(); // one too many: stays at 0
    EXPECT_EQ(g_marks.size() + g_releases, 4u + 5u) << "a post while suspended runs nothing";
    Post(ControlEvent, 2);
    EXPECT_EQ(QueuedEventCount(), 1);
}

TEST_F(EventQueue, ClosingAWindowDropsItsEntriesAndBindingsEvenFromAProcedure) {
    ASSERT_NE(CreateMainWindow(1, 0, 0, 100, 100, "second", 0), 0);
    BindEvent(ControlEvent, 1, AnyValue, AnyValue, Mark<1>);
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, Mark<2>);
    Post(ControlEvent, 1, 0, 1, 0), Post(MenuEvent, 1, 0, 0), Post(MenuEvent, 1, 0, 1);
    CloseWindow(1);
    EXPECT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(g_releases, 1);
    Post(ControlEvent, 1, 0, 1);
    BindEvent(ControlEvent, 0, 1, AnyValue, Mark<3>);
    BindEvent(ControlEvent, 0, 1, AnyValue, [] { CloseWindow(0); }); // runs first
    Post(ControlEvent, 1, 0, 0, 0);
    EXPECT_EQ(g_marks, (Marks{1, 2, 2, 3, 2})) << "procedures found before the close still run";
    EXPECT_EQ(g_releases, 2);
}

TEST_F(EventQueue, AProcedureThatWaitsItselfLeavesNothingBehind) {
    Post(ControlEvent, 1, 0, 0, 0);
    BindEvent(MenuEvent, AnyValue, AnyValue, AnyValue, [] { WaitForEvent(); });
    Post(MenuEvent, 3, 0, 0, 0);
    EXPECT_EQ(g_releases, 1) << "the entry the procedure took, released when it returned";
    EXPECT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(QueuedEventAt(0).kind, MenuEvent);
}
