// The event queue: coalescing at the tail, bound procedures, suspension, waiting, data lifetime.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/scripted_backend.h"
#include "toolkit/core_internal.h"
#include "toolkit/window.h"

namespace tk {
namespace {

int g_runs = 0;
std::vector<int> g_order;
int g_releases = 0;
int g_seenValue = -1; // the int the data held while the procedure ran

void CountRun() {
    ++g_runs;
    g_seenValue = EventData() ? *static_cast<const int*>(EventData()) : -1;
}
template <int N> void Mark() {
    g_order.push_back(N);
}
void CountRelease(void* data) {
    ++g_releases;
    delete static_cast<int*>(data);
}

class EventQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_runs = g_releases = 0;
        g_order.clear();
        ASSERT_NE(InitToolkit(&backend), 0);
        ASSERT_NE(CreateMainWindow(0, 0, 0, 660, 610, "main", 0xCA0001), 0);
    }
    void TearDown() override { ReleaseToolkit(); }
    void Post(int32_t kind, int32_t source, int32_t subKind, int32_t window = 0) {
        PostEvent(kind, source, window, subKind, nullptr, nullptr);
    }
    void PostData(int32_t kind, int32_t source, int32_t subKind = 0, int value = 0) {
        PostEvent(kind, source, 0, subKind, new int(value), CountRelease);
    }
    pmtest::ScriptedBackend backend;
};

TEST_F(EventQueueTest, IdenticalPostsCoalesceAtTheTailButEveryPostRunsTheBinding) {
    BindEvent(ControlEvent, 0, 2, AnyValue, CountRun);
    for (int i = 0; i < 10; ++i) {
        PostData(ControlEvent, 2, 0, i);
        EXPECT_EQ(g_seenValue, i) << "the procedure sees the post's own live data";
    }
    EXPECT_EQ(g_runs, 10);
    ASSERT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(g_releases, 9); // the nine merged copies, at once
    EXPECT_EQ(EventKind(), -1) << "the current event is restored after the procedures";
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(*static_cast<const int*>(EventData()), 0) << "the waiting entry keeps its data";
    EXPECT_EQ(WaitForEvent(), NullIdle);
    EXPECT_EQ(g_releases, 10);

    // Only the tail is compared; another window or a native number never merges.
    Post(ControlEvent, 0, 0x10003);
    Post(ControlEvent, 0, 0x10004);
    Post(ControlEvent, 0, 0x10003);
    Post(ControlEvent, 0, 0x10003, 1);
    Post(0x10005, 0, 0);
    Post(0x10005, 0, 0);
    ASSERT_EQ(QueuedEventCount(), 6);
    EXPECT_EQ(QueuedEventAt(2).subKind, 0x10003);
    EXPECT_EQ(QueuedEventAt(3).window, 1);
    EXPECT_EQ(QueuedEventAt(5).kind, 0x10005);
    EXPECT_EQ(QueuedEventAt(6).kind, 0) << "past the end";
}

TEST_F(EventQueueTest, BindingsRunInTheFiveLookUpsLaterBindingsFirst) {
    BindEvent(ControlEvent, AnyValue, 2, 7, Mark<5>);
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, Mark<4>);
    BindEvent(ControlEvent, 0, AnyValue, AnyValue, Mark<3>);
    BindEvent(ControlEvent, 0, 2, AnyValue, Mark<2>);
    BindEvent(ControlEvent, 0, 2, 7, Mark<11>);
    BindEvent(ControlEvent, 0, 2, 7, Mark<12>);
    // Keys that do not match the posted event.
    BindEvent(ControlEvent, 0, 3, 7, Mark<90>);
    BindEvent(ControlEvent, 1, 2, 7, Mark<91>);
    BindEvent(MenuEvent, 0, 2, 7, Mark<92>);
    BindEvent(ControlEvent, AnyValue, 2, AnyValue, Mark<93>); // not one of the five keys
    Post(ControlEvent, 2, 7);
    EXPECT_EQ(g_order, (std::vector<int>{12, 11, 2, 3, 4, 5}));
}

TEST_F(EventQueueTest, SuspendedPostingQueuesNothingRunsNothingAndReleasesTheData) {
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, CountRun);
    SuspendEvents();
    SuspendEvents();
    PostData(ControlEvent, 1);
    ResumeEvents();
    PostData(ControlEvent, 1);
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(g_runs, 0);
    EXPECT_EQ(g_releases, 2);
    ResumeEvents();
    ResumeEvents(); // one too many: the counter stays at 0
    SuspendEvents();
    ResumeEvents();
    Post(ControlEvent, 1, 0);
    EXPECT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(g_runs, 1);
}

TEST_F(EventQueueTest, WaitTakesEntriesOldestFirstThenOneNativeMessage) {
    Post(MenuEvent, 4, 0);
    Post(ControlEvent, 2, 0x300);
    backend.Script([] { PostEvent(CloseEvent, 0, 0, 0, nullptr, nullptr); });
    ASSERT_EQ(WaitForEvent(), MenuEvent);
    EXPECT_EQ(EventMenuItem(), 4);
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(EventControl(), 2);
    EXPECT_EQ(EventKind(), 0x300);
    EXPECT_EQ(backend.ScriptedLeft(), 1u) << "no native message while entries wait";
    int32_t native = WaitForEvent();
    EXPECT_EQ(native, pmtest::ScriptedMessage);
    EXPECT_GE(native, 0x10000);
    EXPECT_EQ(EventKind(), -1);
    EXPECT_EQ(WaitForEvent(), CloseEvent) << "what the message posted comes next";
    EXPECT_EQ(WaitForEvent(), NullIdle);
}

TEST_F(EventQueueTest, EventDataLivesUntilTheNextWait) {
    PostData(ControlEvent, 1, 0, 42);
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(*static_cast<const int*>(core::CurrentEventData()), 42);
    EXPECT_TRUE(core::CurrentEventIsControlEvent(1));
    EXPECT_FALSE(core::CurrentEventIsControlEvent(2));
    EXPECT_EQ(g_releases, 0);
    WaitForEvent();
    EXPECT_EQ(g_releases, 1);
    EXPECT_EQ(EventData(), nullptr);
    WaitForEvent();
    EXPECT_EQ(g_releases, 1) << "released once only";
}

TEST_F(EventQueueTest, ManyEntriesSpanSeveralPoolBlocksAndKeepTheirOrder) {
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 1000; ++i)
            PostEvent(ControlEvent, 1, 0, i, i % 3 ? new int(i) : nullptr, CountRelease);
        ASSERT_EQ(QueuedEventCount(), 1000);
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(WaitForEvent(), ControlEvent);
            ASSERT_EQ(EventKind(), i);
        }
    }
    EXPECT_EQ(WaitForEvent(), NullIdle);
    EXPECT_EQ(g_releases, 3 * 666);
}

TEST_F(EventQueueTest, RemovingControlEventsTakesOnlyThatSourcesControlEvents) {
    PostData(ControlEvent, 3);
    Post(MenuEvent, 3, 0);
    Post(ControlEvent, 4, 0);
    PostData(ControlEvent, 3, 1); // the tail
    core::RemoveQueuedControlEvents(3);
    ASSERT_EQ(QueuedEventCount(), 2);
    EXPECT_EQ(QueuedEventAt(0).kind, MenuEvent);
    EXPECT_EQ(g_releases, 2);
    Post(ControlEvent, 4, 0);
    EXPECT_EQ(QueuedEventCount(), 2) << "merged with the new tail";
}

void CloseMainWindow() {
    CloseWindow(0);
}
void WaitInside() {
    WaitForEvent();
}

TEST_F(EventQueueTest, ClosingAWindowDropsItsEntriesAndBindingsEvenFromAProcedure) {
    ASSERT_NE(CreateMainWindow(1, 0, 0, 100, 100, "second", 0), 0);
    BindEvent(ControlEvent, 1, AnyValue, AnyValue, CountRun);
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, Mark<1>);
    Post(ControlEvent, 1, 0, 0);
    PostEvent(ControlEvent, 1, 1, 0, new int(0), CountRelease);
    Post(MenuEvent, 1, 0, 1);
    Post(MenuEvent, 1, 0, 0);
    CloseWindow(1);
    ASSERT_EQ(QueuedEventCount(), 2);
    EXPECT_EQ(QueuedEventAt(1).window, 0);
    EXPECT_EQ(g_releases, 1);
    Post(ControlEvent, 1, 0, 1);
    EXPECT_EQ(g_runs, 1) << "the window's binding went with it";
    EXPECT_EQ(g_order.size(), 3u) << "bindings for any window stay";

    BindEvent(ControlEvent, 0, 1, AnyValue, CloseMainWindow);
    BindEvent(ControlEvent, 0, 1, AnyValue, CountRun);
    PostData(ControlEvent, 1);
    EXPECT_EQ(g_runs, 2) << "the procedures found before the close still run";
    EXPECT_EQ(g_releases, 2);
    EXPECT_EQ(WindowHandle(0), 0);
}

TEST_F(EventQueueTest, AProcedureThatWaitsItselfLeavesNothingBehind) {
    PostData(ControlEvent, 1);
    BindEvent(MenuEvent, AnyValue, AnyValue, AnyValue, WaitInside);
    PostData(MenuEvent, 3);
    EXPECT_EQ(g_releases, 1) << "the entry the procedure took, released when it returned";
    EXPECT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(QueuedEventAt(0).kind, MenuEvent);
}

} // namespace
} // namespace tk
