// The real program under random real X input for a while: clicks, drags and wheel turns on its
// canvas, controls, scroll bars and bar commands, arrow keys tapped or held, the Find keys (F3,
// Shift+F3, F4, F5 with clicks and wheel turns on the overview it opens) and the Layout keys (Ctrl
// or Alt and 1 to 4), digits, letters and edge numbers typed into its fields. It must keep
// answering and end with 0 when its window is closed.
//
//   PIXMOLE_MONKEY_SECONDS  how long (default 60)
//   PIXMOLE_MONKEY_SEED     the seed (default: a fresh one); printed, to replay a failure
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <random>
#include <set>

#include "tests/gui/support/driver.h"
#include "tests/support/test_files.h"

namespace {

int FromEnvironment(const char* name, int otherwise) {
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : otherwise;
}

TEST(MonkeyGui, RealProgramSurvivesRandomInputAndEndsCleanly) {
    const int seconds = FromEnvironment("PIXMOLE_MONKEY_SECONDS", 60);
    const int seed = FromEnvironment("PIXMOLE_MONKEY_SEED", int(std::random_device()() >> 1));
    std::printf("monkey: seed %d (PIXMOLE_MONKEY_SEED replays it), %d s\n", seed, seconds);
    gui::Watchdog(seconds + 120, "the monkey test");
    std::mt19937 rng(static_cast<unsigned>(seed));
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    pmtest::TempDir dir; // "Save selected" writes numbered files beside the input
    std::string bytes(size_t(pick(1, 5000)), '\0');
    for (char& c : bytes) c = static_cast<char>(pick(0, 255));
    gui::Program p({pmtest::WriteFile(dir / "input.bin", bytes)});
    ASSERT_NE(p.main, 0u);
    XSelectInput(p.d, DefaultRootWindow(p.d), SubstructureNotifyMask); // where ping answers go
    std::map<std::string, gui::Box>& at = p.layout.at;
    // Input lands where it is aimed, or the run below proves nothing.
    for (const char* zoom : {"x8", "x1"}) {
        p.ClickOn(at[zoom]);
        ASSERT_TRUE(p.WaitFor([&] { return p.TitleHas(std::string(" zoom:") + (zoom + 1)); }));
    }

    auto inside = [&](const gui::Box& b) { p.At(b, pick(0, b.w - 1), pick(0, b.h - 1)); };
    auto any = [&](const auto& boxes) { return boxes[pick(0, int(boxes.size()) - 1)]; };
    auto somewhere = [&] {
        const int r = pick(0, 9);
        if (r < 9)
            return inside(r < 3 ? at["canvas"] : r < 8 ? any(p.layout.controls) : at["window"]);
        p.Move(pick(0, 1279), pick(0, 1023));
    };
    const std::vector<gui::Box> commands = {at["x1"], at["x2"], at["x8"], at["Save selected"]};
    const char* const typed[] = {"0",          "7",          "-",           "a",
                                 " ",          "\b",         "\r",          "-2147483648",
                                 "2147483647", "4294967296", "-99999999999"};
    auto answers = [&] { // a _NET_WM_PING, answered to the root window by the program's loop
        static long stamp = 1000;
        p.SendProtocol(p.main, "_NET_WM_PING", ++stamp);
        XEvent e;
        auto back = [&] {
            return XCheckTypedEvent(p.d, ClientMessage, &e) && e.xclient.data.l[1] == stamp;
        };
        return p.WaitFor(back, 15000);
    };
    std::set<std::string> titles;
    std::string failure;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (long check = 300; failure.empty() && std::chrono::steady_clock::now() < end;) {
        const int action = pick(0, 4);
        if (action < 2) { // a click or a drag, now and then from a bar command
            const int button = pick(0, 3) ? 1 : 3;
            pick(0, 5) ? somewhere() : inside(any(commands));
            p.Button(button, true);
            for (int n = action * pick(1, 12); n > 0; --n, gui::Sleep(pick(0, 20))) somewhere();
            p.Button(button, false);
        } else if (action == 2) { // wheel turns
            somewhere();
            for (int n = pick(1, 6), button = pick(4, 7); n > 0; --n)
                p.Button(button, true), p.Button(button, false);
        } else if (action == 3 && pick(0, 4) == 0) { // F3, Shift+F3, F4, F5, Ctrl or Alt 1..4
            XSetInputFocus(p.d, p.main, RevertToParent, CurrentTime);
            const KeySym held =
                std::vector<KeySym>{XK_Shift_L, XK_Control_L, XK_Alt_L, 0}[pick(0, 3)];
            if (held) p.Key(held, true);
            const KeySym find[] = {XK_F3, XK_F3, XK_F4, XK_F5};
            p.Stroke(held == XK_Control_L || held == XK_Alt_L ? XK_1 + pick(0, 3)
                                                              : find[pick(0, 3)]);
            if (held) p.Key(held, false);
            // The overview (F5) stands over part of the main window: now and then it closes.
            if (const Window overview = p.FindWindow("Graphics"); overview && pick(0, 1))
                p.SendProtocol(overview, "WM_DELETE_WINDOW");
        } else if (action == 3) { // an arrow key, tapped or held
            p.Stroke(XK_Left + pick(0, 3), pick(0, 9) ? pick(0, 160) : pick(400, 1500));
        } else { // typing into a field
            p.ClickOn(any(p.layout.texts));
            XSetInputFocus(p.d, p.main, RevertToParent, CurrentTime); // no window manager gives it
            for (int n = pick(1, 10); n > 0; --n) p.Type(typed[pick(0, 10)]);
        }
        titles.insert(p.Title(p.main));
        if (p.sent < check) continue;
        check = p.sent + 300;
        if (!p.Running())
            failure = "the program ended with " + std::to_string(p.WaitExit(0));
        else if (!answers())
            failure = "the program stopped answering";
    }
    std::printf("monkey: %ld events in %d s, %zu distinct titles\n", p.sent, seconds,
                titles.size());
    ASSERT_EQ(failure, "") << "seed " << seed;
    EXPECT_GE(titles.size(), 2u) << "the input never changed what the program shows";
    p.SendProtocol(p.main, "WM_DELETE_WINDOW");
    EXPECT_EQ(p.WaitExit(20000), 0) << "seed " << seed;
}

} // namespace
