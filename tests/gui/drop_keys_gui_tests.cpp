// File drop and the global key state on the real GTK backend. A second X client (drag_source,
// built beside this program) offers file URIs and takes the keyboard focus; the pointer and
// the keys are driven through XTest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/gui/support/gui_harness.h"
#include "toolkit/controls.h"
#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/window.h"

// After GoogleTest: Xlib defines macros (None, Bool) that clash with it.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace {

constexpr int kField = 2;
constexpr int kSpin = 3;
constexpr int32_t kDownAndPressed = static_cast<int32_t>(0xFFFF8001u);
constexpr int32_t kDownOnly = static_cast<int32_t>(0xFFFF8000u);

// What a procedure bound to DropEvent saw while the event was being posted.
struct DropSeen {
    std::string files;
    int32_t x = 0, y = 0, action = 0, window = -1;
};
std::vector<DropSeen> drops;

void RecordDrop() {
    DropSeen seen;
    seen.files = tk::DroppedFiles();
    seen.window = tk::EventWindow();
    if (const auto* data = static_cast<const tk::DropData*>(tk::EventData())) {
        seen.x = data->x;
        seen.y = data->y;
        seen.action = data->action;
    }
    drops.push_back(seen);
}

std::string Uri(const std::string& path) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string result = uri ? uri : "";
    g_free(uri);
    return result;
}

// The drag_source program: started at a screen position, ended with the test.
class SourceClient {
  public:
    SourceClient(guitest::Harness& h, int x, int y, const char* action,
                 const std::vector<std::string>& uris)
        : h_(h) {
        char self[PATH_MAX] = {};
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string program = std::string(self, n > 0 ? static_cast<size_t>(n) : 0);
        program = program.substr(0, program.rfind('/') + 1) + "drag_source";
        std::vector<std::string> args = {program, std::to_string(x), std::to_string(y), action};
        args.insert(args.end(), uris.begin(), uris.end());
        std::vector<gchar*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out = -1;
        if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                      nullptr, nullptr, &pid_, nullptr, &out, nullptr, nullptr))
            return;
        out_ = out;
        fcntl(out_, F_SETFL, O_NONBLOCK);
        h_.PumpUntil(
            [&] {
                ReadOutput();
                return output_.find("ready ") != std::string::npos;
            },
            5000);
        size_t at = output_.find("ready ");
        if (at != std::string::npos) window_ = std::stoul(output_.substr(at + 6));
    }
    ~SourceClient() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    bool ready() const { return window_ != 0; }
    Window window() const { return window_; }
    // How many drags the source saw end.
    int DragsEnded() {
        ReadOutput();
        int count = 0;
        for (size_t at = output_.find("end\n"); at != std::string::npos;
             at = output_.find("end\n", at + 1))
            ++count;
        return count;
    }

  private:
    void ReadOutput() {
        char buffer[256];
        ssize_t n;
        while (out_ >= 0 && (n = read(out_, buffer, sizeof buffer)) > 0)
            output_.append(buffer, static_cast<size_t>(n));
    }
    guitest::Harness& h_;
    GPid pid_ = 0;
    int out_ = -1;
    std::string output_;
    Window window_ = 0;
};

class DropKeysTest : public ::testing::Test {
  protected:
    void SetUp() override {
        drops.clear();
        ASSERT_TRUE(h.ok()) << h.failure();
        ASSERT_NE(tk::CreateMainWindow(0, 20, 20, 400, 300, "drop", tk::WindowTitleBar), 0);
        ASSERT_NE(tk::CreateMenuBar(0, tk::WindowHandle(0)), 0);
        tk::AddMenuItem(1, "x1");
        ASSERT_NE(tk::AddTextField(kField, 10, 10, 120, 24, "", 0), 0);
        ASSERT_NE(tk::AddSpinBox(kSpin, 10, 50, 80, 24, -10, 10, 0), 0);
        ASSERT_NE(tk::EnableFileDrop(0, tk::FileListFormat, tk::DropCopy), 0);
        tk::BindEvent(tk::DropEvent, tk::AnyValue, tk::AnyValue, tk::AnyValue, &RecordDrop);
        ASSERT_TRUE(h.ShowAndFocus(0));
    }

    // Drags with the left button from the source window's middle to a screen point.
    void DragFromSource(int toX, int toY) {
        const int fromX = kSourceX + 60, fromY = kSourceY + 40;
        h.MoveTo(fromX, fromY);
        h.PumpNative(80);
        h.Press(1);
        h.PumpNative(80);
        for (int step = 1; step <= 25; ++step) {
            h.MoveTo(fromX + (toX - fromX) * step / 25, fromY + (toY - fromY) * step / 25);
            h.PumpNative(25);
        }
        h.PumpNative(250); // the last position is answered before the button comes up
        h.Release(1);
    }

    // Drags from a source offering these URIs with this action onto the window's middle and
    // expects neither an event nor a drop record.
    void ExpectRefused(const char* action, const std::vector<std::string>& uris) {
        h.seen.clear();
        drops.clear();
        SourceClient source(h, kSourceX, kSourceY, action, uris);
        ASSERT_TRUE(source.ready());
        int sx = 0, sy = 0;
        ASSERT_TRUE(guitest::Harness::InnerToScreen(0, 250, 200, &sx, &sy));
        DragFromSource(sx, sy);
        EXPECT_TRUE(h.PumpUntil([&] { return source.DragsEnded() == 1; }, 3000));
        h.Settle(300);
        EXPECT_EQ(h.Count(tk::DropEvent), 0u);
        EXPECT_TRUE(drops.empty());
    }

    // Gives the keyboard focus to another client's window.
    bool FocusOtherClient(Window other) {
        XSetInputFocus(h.xtest(), other, RevertToParent, CurrentTime);
        XSync(h.xtest(), False);
        GtkWindow* own = GTK_WINDOW(guitest::Harness::WindowWidget(0));
        h.PumpUntil([&] { return !gtk_window_is_active(own); }, 2000);
        h.Settle(200);
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(h.xtest(), &focus, &revert);
        return focus == other && !gtk_window_is_active(own);
    }

    void FakeKey(KeySym key, bool press) {
        XTestFakeKeyEvent(h.xtest(), XKeysymToKeycode(h.xtest(), key), press, CurrentTime);
        XFlush(h.xtest());
    }

    static constexpr int kSourceX = 700, kSourceY = 500;
    guitest::Watchdog dog{90, "drop and key tests"};
    guitest::Harness h;
};

// ---- File drop ------------------------------------------------------------------------------

TEST_F(DropKeysTest, FilesDroppedAnywhereOnTheWindowArriveAsItsDrop) {
    const std::vector<std::string> paths = {"/tmp/pm drop/a.bin", "/tmp/b.bin", "/tmp/c"};
    SourceClient source(h, kSourceX, kSourceY, "copy",
                        {Uri(paths[0]), Uri(paths[1]), Uri(paths[2])});
    ASSERT_TRUE(source.ready());
    const std::string joined = paths[0] + "\n" + paths[1] + "\n" + paths[2];
    const std::string fieldText = tk::GetControlText(kField), spinText = tk::GetControlText(kSpin);

    struct Target {
        const char* what;
        int control; // 0: the window's own area at (x, y)
        int x, y;
    } targets[] = {
        {"window", 0, 250, 200}, {"text field", kField, 60, 22}, {"spin box", kSpin, 20, 62}};
    for (const Target& t : targets) {
        SCOPED_TRACE(t.what);
        drops.clear();
        size_t before = h.Count(tk::DropEvent);
        int sx = 0, sy = 0;
        ASSERT_TRUE(guitest::Harness::InnerToScreen(0, t.x, t.y, &sx, &sy));
        DragFromSource(sx, sy);
        EXPECT_TRUE(h.PumpUntil([&] { return h.Count(tk::DropEvent) > before; }, 3000));
        h.Settle(200);
        EXPECT_EQ(h.Count(tk::DropEvent), before + 1);
        ASSERT_EQ(drops.size(), 1u);
        EXPECT_EQ(drops[0].files, joined);
        EXPECT_EQ(drops[0].window, 0);
        EXPECT_EQ(drops[0].action, tk::DropCopy);
        EXPECT_NEAR(drops[0].x, t.x, 1);
        EXPECT_NEAR(drops[0].y, t.y, 1);
        EXPECT_EQ(tk::GetControlText(kField), fieldText) << "no text was dropped into the field";
        EXPECT_EQ(tk::GetControlText(kSpin), spinText);
    }
}

TEST_F(DropKeysTest, RefusedDropsPostNothing) {
    {
        SCOPED_TRACE("a source that only moves, over a window that copies");
        ExpectRefused("move", {Uri("/tmp/a.bin")});
    }
    {
        SCOPED_TRACE("a window that no longer accepts files");
        tk::EnableFileDrop(0, tk::FileListFormat, 0);
        ExpectRefused("copy", {Uri("/tmp/a.bin")});
    }
    {
        SCOPED_TRACE("URIs that name no local file");
        tk::EnableFileDrop(0, tk::FileListFormat, tk::DropCopy);
        ExpectRefused("copy", {"http://example.org/a.bin"});
    }
}

// ---- Global keys ----------------------------------------------------------------------------

TEST_F(DropKeysTest, EscapeInAnotherClientWakesTheWaitAndCounts) {
    SourceClient other(h, kSourceX, kSourceY, "copy", {Uri("/tmp/a")});
    ASSERT_TRUE(other.ready());
    ASSERT_TRUE(FocusOtherClient(other.window()));
    tk::AsyncKeyState(tk::VkEscape); // forget anything earlier

    FakeKey(XK_Escape, true);
    // Nothing else arrives for this program: only the raw key press can end the wait (a
    // wait that never ends trips the watchdog).
    int32_t state = 0;
    for (int wakeUps = 0; wakeUps < 5 && !(state & 1); ++wakeUps) {
        tk::WaitForEvent();
        state = tk::AsyncKeyState(tk::VkEscape);
    }
    EXPECT_EQ(state, kDownAndPressed);
    EXPECT_EQ(tk::AsyncKeyState(tk::VkEscape), kDownOnly) << "counted once";
    FakeKey(XK_Escape, false);
    h.PumpNative(100);
    EXPECT_EQ(tk::AsyncKeyState(tk::VkEscape), 0);
    EXPECT_EQ(tk::AsyncKeyState(tk::VkLeft), 0) << "other keys stay untouched";
}

TEST_F(DropKeysTest, AHeldKeyCountsOnce) {
    SourceClient other(h, kSourceX, kSourceY, "copy", {Uri("/tmp/a")});
    ASSERT_TRUE(other.ready());
    ASSERT_TRUE(FocusOtherClient(other.window()));
    tk::AsyncKeyState(tk::VkLeft);

    FakeKey(XK_Left, true);
    h.PumpNative(150);
    EXPECT_EQ(tk::AsyncKeyState(tk::VkLeft), kDownAndPressed);
    // While held, the server repeats the press; repeats are not new presses.
    for (int repeat = 0; repeat < 3; ++repeat) {
        FakeKey(XK_Left, true);
        h.PumpNative(60);
    }
    EXPECT_EQ(tk::AsyncKeyState(tk::VkLeft), kDownOnly);
    FakeKey(XK_Left, false);
    h.PumpNative(100);
    EXPECT_EQ(tk::AsyncKeyState(tk::VkLeft), 0);

    // Pressed again after the release: it counts again.
    FakeKey(XK_Left, true);
    h.PumpNative(150);
    EXPECT_EQ(tk::AsyncKeyState(tk::VkLeft), kDownAndPressed);
    FakeKey(XK_Left, false);
    h.PumpNative(100);
}

TEST_F(DropKeysTest, TheFiveKeysOfOnePassCostOneServerRoundTrip) {
    Display* own = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    const int keys[] = {tk::VkEscape, tk::VkLeft, tk::VkRight, tk::VkUp, tk::VkDown};
    for (int key : keys) tk::AsyncKeyState(key); // keyboard description loaded, presses forgotten
    h.backend().KeymapMayHaveChanged();          // as at every native message
    const unsigned long before = XNextRequest(own);
    for (int key : keys) EXPECT_EQ(tk::AsyncKeyState(key), 0);
    EXPECT_LE(XNextRequest(own) - before, 1u) << "requests sent to the X server for five keys";
}

} // namespace
