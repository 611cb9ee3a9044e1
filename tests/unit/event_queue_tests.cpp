// The event queue: coalescing at the tail, bound procedures, suspension, waiting, data lifetime.
#include <gtest/gtest.h>

#include <vector>

#include "toolkit/core_internal.h"
#include "toolkit/headless/headless_backend.h"
#include "toolkit/window.h"

namespace tk {
namespace {

int g_runs = 0;
std::vector<int> g_order;
int g_releases = 0;
const void* g_seenData = nullptr;
int g_seenValue = -1; // the int the data held while the procedure ran
int32_t g_seenSource = 0;
int32_t g_seenSubKind = 0;

void CountRun() {
    ++g_runs;
    g_seenData = EventData();
    g_seenValue = g_seenData ? *static_cast<const int*>(g_seenData) : -1;
    g_seenSource = EventControl();
    g_seenSubKind = EventKind();
}
template <int N> void Mark() {
    g_order.push_back(N);
}
void CountRelease(void* data) {
    ++g_releases;
    delete static_cast<int*>(data);
}
void* NewData(int value = 0) {
    return new int(value);
}

class EventQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_runs = 0;
        g_order.clear();
        g_releases = 0;
        g_seenData = nullptr;
        ASSERT_NE(InitToolkit(&backend), 0);
        ASSERT_NE(CreateMainWindow(0, 0, 0, 660, 610, "main", 0xCA0001), 0);
    }
    void TearDown() override { ReleaseToolkit(); }
    void Post(int32_t kind, int32_t source, int32_t subKind, int32_t window = 0) {
        PostEvent(kind, source, window, subKind, nullptr, nullptr);
    }
    HeadlessBackend backend;
};

TEST_F(EventQueueTest, IdenticalPostsCoalesceAtTheTailButEveryPostRunsTheBinding) {
    BindEvent(ControlEvent, 0, 2, AnyValue, CountRun);
    void* last = nullptr;
    for (int i = 0; i < 10; ++i) {
        last = NewData(i);
        PostEvent(ControlEvent, 2, 0, 0, last, CountRelease);
        // The procedure saw the event being posted, with its own (still live) data.
        EXPECT_EQ(g_seenData, last);
        EXPECT_EQ(g_seenValue, i);
    }
    EXPECT_EQ(g_runs, 10);
    EXPECT_EQ(g_seenSource, 2);
    EXPECT_EQ(g_seenSubKind, 0);
    ASSERT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(g_releases, 9); // the nine merged copies, at once
    EXPECT_EQ(EventKind(), -1) << "the current event is restored after the procedures";

    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(*static_cast<const int*>(EventData()), 0) << "the waiting entry keeps its data";
    EXPECT_EQ(WaitForEvent(), HeadlessIdle);
    EXPECT_EQ(g_releases, 10);
}

TEST_F(EventQueueTest, OnlyTheTailIsComparedAndNativeNumbersNeverMerge) {
    Post(ControlEvent, 0, 0x10003);
    Post(ControlEvent, 0, 0x10004);
    Post(ControlEvent, 0, 0x10003);
    Post(ControlEvent, 0, 0x10003, 1); // another window
    Post(0x10005, 0, 0);
    Post(0x10005, 0, 0); // kinds at or above 0x10000 are never merged
    ASSERT_EQ(QueuedEventCount(), 6);
    EXPECT_EQ(QueuedEventAt(0).subKind, 0x10003);
    EXPECT_EQ(QueuedEventAt(1).subKind, 0x10004);
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
    PostEvent(ControlEvent, 1, 0, 0, NewData(), CountRelease);
    ResumeEvents();
    PostEvent(ControlEvent, 1, 0, 0, NewData(), CountRelease);
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(g_runs, 0);
    EXPECT_EQ(g_releases, 2);
    ResumeEvents();
    ResumeEvents(); // one too many: the counter stays at 0
    SuspendEvents();
    Post(ControlEvent, 1, 0);
    EXPECT_EQ(QueuedEventCount(), 0);
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
    EXPECT_EQ(native, HeadlessMessage);
    EXPECT_GE(native, 0x10000);
    EXPECT_EQ(EventKind(), -1);
    EXPECT_EQ(EventData(), nullptr);
    EXPECT_EQ(WaitForEvent(), CloseEvent) << "what the message posted comes next";
    EXPECT_EQ(WaitForEvent(), HeadlessIdle);
}

TEST_F(EventQueueTest, EventDataLivesUntilTheNextWait) {
    void* data = NewData(42);
    PostEvent(ControlEvent, 1, 0, 0, data, CountRelease);
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(EventData(), data);
    EXPECT_EQ(core::CurrentEventData(), data);
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
            PostEvent(ControlEvent, 1, 0, i, i % 3 ? NewData(i) : nullptr, CountRelease);
        ASSERT_EQ(QueuedEventCount(), 1000);
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(WaitForEvent(), ControlEvent);
            ASSERT_EQ(EventKind(), i);
        }
        EXPECT_EQ(WaitForEvent(), HeadlessIdle);
    }
    EXPECT_EQ(g_releases, 3 * 666);
}

TEST_F(EventQueueTest, RemovingControlEventsTakesOnlyThatSourcesControlEvents) {
    PostEvent(ControlEvent, 3, 0, 0, NewData(), CountRelease);
    Post(MenuEvent, 3, 0);
    Post(ControlEvent, 4, 0);
    PostEvent(ControlEvent, 3, 0, 1, NewData(), CountRelease); // the tail
    core::RemoveQueuedControlEvents(3);
    ASSERT_EQ(QueuedEventCount(), 2);
    EXPECT_EQ(QueuedEventAt(0).kind, MenuEvent);
    EXPECT_EQ(QueuedEventAt(1).source, 4);
    EXPECT_EQ(g_releases, 2);
    // The tail moved correctly: a new post lands behind the remaining entries.
    Post(ControlEvent, 4, 0);
    EXPECT_EQ(QueuedEventCount(), 2) << "merged with the new tail";
    Post(ControlEvent, 5, 0);
    EXPECT_EQ(QueuedEventAt(2).source, 5);
}

TEST_F(EventQueueTest, ClosingAWindowDropsItsEntriesAndBindings) {
    ASSERT_NE(CreateMainWindow(1, 0, 0, 100, 100, "second", 0), 0);
    BindEvent(ControlEvent, 1, AnyValue, AnyValue, CountRun);
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, Mark<1>);
    Post(ControlEvent, 1, 0, 0);
    PostEvent(ControlEvent, 1, 1, 0, NewData(), CountRelease);
    Post(MenuEvent, 1, 0, 1);
    Post(MenuEvent, 1, 0, 0);
    EXPECT_EQ(g_runs, 1);
    CloseWindow(1);
    ASSERT_EQ(QueuedEventCount(), 2);
    EXPECT_EQ(QueuedEventAt(0).window, 0);
    EXPECT_EQ(QueuedEventAt(1).window, 0);
    EXPECT_EQ(g_releases, 1);
    Post(ControlEvent, 1, 0, 1);
    EXPECT_EQ(g_runs, 1) << "the window's binding went with it";
    EXPECT_EQ(g_order.size(), 3u) << "bindings for any window stay";
}

void CloseMainWindow() {
    CloseWindow(0);
}

TEST_F(EventQueueTest, ABoundProcedureMayCloseTheWindowOfTheEventBeingPosted) {
    BindEvent(ControlEvent, 0, 1, AnyValue, CloseMainWindow);
    BindEvent(ControlEvent, 0, 1, AnyValue, CountRun);
    PostEvent(ControlEvent, 1, 0, 0, NewData(), CountRelease);
    EXPECT_EQ(g_runs, 1) << "the procedures found before the close still run";
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(g_releases, 1);
    EXPECT_EQ(WindowHandle(0), 0);
}

void WaitInside() {
    WaitForEvent();
}

TEST_F(EventQueueTest, AProcedureThatWaitsItselfLeavesNothingBehind) {
    PostEvent(ControlEvent, 1, 0, 0, NewData(), CountRelease);
    BindEvent(MenuEvent, AnyValue, AnyValue, AnyValue, WaitInside);
    PostEvent(MenuEvent, 3, 0, 0, NewData(), CountRelease);
    EXPECT_EQ(g_releases, 1) << "the entry the procedure took, released when it returned";
    EXPECT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(QueuedEventAt(0).kind, MenuEvent);
    EXPECT_EQ(EventKind(), -1);
}

TEST_F(EventQueueTest, ShutDownReleasesWaitingAndCurrentData) {
    PostEvent(ControlEvent, 1, 0, 0, NewData(), CountRelease);
    PostEvent(ControlEvent, 2, 0, 0, NewData(), CountRelease);
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    ReleaseToolkit();
    EXPECT_EQ(g_releases, 2);
    EXPECT_EQ(QueuedEventCount(), 0);
    ASSERT_NE(InitToolkit(&backend), 0); // for TearDown
}

} // namespace
} // namespace tk
