// The event queue: merging at the tail, bound procedures, suspension, waiting, the life of data.
#include <gtest/gtest.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/window.h"

namespace tk {
namespace {

using pmtest::Seen;
using Marks = std::vector<int>;
Marks g_marks; // what the bound procedures saw, in order
int g_releases = 0;

template <int N> void Mark() {
    g_marks.push_back(N >= 0 ? N : EventData() ? *static_cast<const int*>(EventData()) : -1);
}
// Posts an event; with `data`, a fresh int holding it.
void Post(int32_t kind, int32_t source, int32_t subKind = 0, int32_t window = 0, int data = -1) {
    auto release = [](void* p) { ++g_releases, delete static_cast<int*>(p); };
    PostEvent(kind, source, window, subKind, data < 0 ? nullptr : new int(data),
              data < 0 ? nullptr : +release);
}
std::vector<Seen> Queue() {
    std::vector<Seen> queue;
    for (QueuedEvent e; (e = QueuedEventAt(int(queue.size()))).kind != 0;)
        queue.push_back({e.kind, e.source, e.window, e.subKind});
    return queue;
}

class EventQueue : public ::testing::Test {
  protected:
    pmtest::ScriptedToolkit toolkit;
    void SetUp() override {
        ASSERT_TRUE(toolkit.ok);
        g_marks.clear(), g_releases = 0;
    }
};

TEST_F(EventQueue, IdenticalPostsMergeAtTheTailYetEachRunsTheBindingsWithItsOwnData) {
    BindEvent(ControlEvent, 0, 2, AnyValue, Mark<-1>);
    for (int i = 0; i < 4; ++i) Post(ControlEvent, 2, 0, 0, i);
    EXPECT_EQ(g_marks, (Marks{0, 1, 2, 3}));
    EXPECT_EQ(g_releases, 3) << "the merged copies go at once";
    EXPECT_EQ(EventKind(), -1) << "the current event is restored after the procedures";
    // Only the tail is compared; another window or a native number never merges.
    const std::vector<Seen> posts = {{ControlEvent, 0, 0, 3}, {ControlEvent, 0, 0, 4},
                                     {ControlEvent, 0, 0, 3}, {ControlEvent, 0, 1, 3},
                                     {0x10005, 0, 0, 0},      {0x10005, 0, 0, 0}};
    for (const Seen& p : posts) Post(p.kind, p.source, p.subKind, p.window);
    std::vector<Seen> queued = {{ControlEvent, 2, 0, 0}};
    queued.insert(queued.end(), posts.begin(), posts.end());
    EXPECT_EQ(Queue(), queued);
    ASSERT_EQ(WaitForEvent(), ControlEvent);
    EXPECT_EQ(*static_cast<const int*>(EventData()), 0) << "the waiting entry keeps its data";
    WaitForEvent();
    EXPECT_EQ(g_releases, 4) << "data lives until the next wait";
}

TEST_F(EventQueue, BindingsRunInTheFiveLookUpsLaterBindingsFirst) {
    constexpr int32_t C = ControlEvent, A = AnyValue;
    const std::tuple<int32_t, int32_t, int32_t, int32_t, EventProc> bindings[] = {
        {C, A, 2, 7, Mark<5>},  {C, A, A, A, Mark<4>},          {C, 0, A, A, Mark<3>},
        {C, 0, 2, A, Mark<2>},  {C, 0, 2, 7, Mark<11>},         {C, 0, 2, 7, Mark<12>},
        {C, 0, 3, 7, Mark<90>}, // no match:
        {C, 1, 2, 7, Mark<91>}, {MenuEvent, 0, 2, 7, Mark<92>}, {C, A, 2, A, Mark<93>}};
    for (auto [kind, window, source, sub, proc] : bindings)
        BindEvent(kind, window, source, sub, proc);
    Post(ControlEvent, 2, 7);
    EXPECT_EQ(g_marks, (Marks{12, 11, 2, 3, 4, 5}));
}

TEST_F(EventQueue, SuspendedPostsQueueNothingRunNothingAndReleaseTheirData) {
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, Mark<1>);
    SuspendEvents(), SuspendEvents(), Post(ControlEvent, 1, 0, 0, 5);
    ResumeEvents(), Post(ControlEvent, 1, 0, 0, 5);
    EXPECT_EQ(QueuedEventCount() + int(g_marks.size()), 0);
    EXPECT_EQ(g_releases, 2);
    ResumeEvents(), ResumeEvents(), SuspendEvents(), ResumeEvents(); // one too many: stays at 0
    Post(ControlEvent, 1);
    EXPECT_EQ(QueuedEventCount() + int(g_marks.size()), 2);
}

TEST_F(EventQueue, WaitTakesEntriesOldestFirstThenOneNativeMessage) {
    toolkit.backend.Script([] { Post(CloseEvent, 0); });
    for (int i = 0; i < 3000; ++i) Post(ControlEvent, 1, i, 0, i % 3 ? i : -1);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(WaitForEvent(), ControlEvent);
        ASSERT_EQ(EventKind(), i);
    }
    EXPECT_EQ(toolkit.backend.ScriptedLeft(), 1u) << "no native message while entries wait";
    EXPECT_EQ(WaitForEvent(), pmtest::ScriptedMessage);
    EXPECT_EQ(EventKind(), -1);
    EXPECT_EQ(WaitForEvent(), CloseEvent) << "what the message posted comes next";
    EXPECT_EQ(WaitForEvent(), NullIdle);
    EXPECT_EQ(g_releases, 2000);
}

void CloseMainWindow() {
    CloseWindow(0);
}
void WaitInside() {
    WaitForEvent();
}

TEST_F(EventQueue, ClosingAWindowDropsItsEntriesAndBindingsEvenFromAProcedure) {
    ASSERT_NE(CreateMainWindow(1, 0, 0, 100, 100, "second", 0), 0);
    BindEvent(ControlEvent, 1, AnyValue, AnyValue, Mark<1>);
    BindEvent(ControlEvent, AnyValue, AnyValue, AnyValue, Mark<2>);
    Post(ControlEvent, 1, 0, 1, 0), Post(MenuEvent, 1, 0, 0), Post(MenuEvent, 1, 0, 1);
    CloseWindow(1);
    EXPECT_EQ(Queue(), (std::vector<Seen>{{MenuEvent, 1, 0, 0}}));
    EXPECT_EQ(g_releases, 1);
    Post(ControlEvent, 1, 0, 1);
    BindEvent(ControlEvent, 0, 1, AnyValue, Mark<3>);
    BindEvent(ControlEvent, 0, 1, AnyValue, CloseMainWindow); // runs first, takes Mark<3> along
    Post(ControlEvent, 1, 0, 0, 0);
    EXPECT_EQ(g_marks, (Marks{1, 2, 2, 3, 2})) << "procedures found before the close still run";
    EXPECT_EQ(g_releases, 2);
}

TEST_F(EventQueue, AProcedureThatWaitsItselfLeavesNothingBehind) {
    Post(ControlEvent, 1, 0, 0, 0);
    BindEvent(MenuEvent, AnyValue, AnyValue, AnyValue, WaitInside);
    Post(MenuEvent, 3, 0, 0, 0);
    EXPECT_EQ(g_releases, 1) << "the entry the procedure took, released when it returned";
    EXPECT_EQ(Queue(), (std::vector<Seen>{{MenuEvent, 3, 0, 0}}));
}

} // namespace
} // namespace tk
