// The real program under Xvfb, driven from outside with XTest: Escape pressed while another
// client has the focus ends it with exit code 0; Escape that closes one of its menus or dialogs
// does not, and a failing export shows a message box and leaves the program running.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/gui/support/gui_harness.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/state.h"

namespace {

namespace fs = std::filesystem;

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Where things are, relative to the top-left corner of the main window: measured once on the
// same window built in this process with the program's own start-up code.
struct Layout {
    int saveSelectedX = 0, saveSelectedY = 0;
    int projectX = 0, projectY = 0;
    int canvasX = 0, canvasY = 0;
};

Layout MeasureLayout() {
    Layout layout;
    guitest::Harness h;
    EXPECT_TRUE(h.ok()) << h.failure();
    EXPECT_TRUE(viewer::CreateMainWindowAndControls());
    EXPECT_TRUE(h.ShowAndFocus(viewer::MainWindow));
    int wx = 0, wy = 0, sx = 0, sy = 0;
    guitest::Harness::ScreenPoint(guitest::Harness::WindowWidget(viewer::MainWindow), 0, 0, &wx,
                                  &wy);
    GtkWidget* item = guitest::Harness::FindMenuItem(viewer::MainWindow, "Save selected");
    EXPECT_NE(item, nullptr);
    guitest::Harness::ScreenPoint(item, 10, 8, &sx, &sy);
    layout.saveSelectedX = sx - wx;
    layout.saveSelectedY = sy - wy;
    item = guitest::Harness::FindMenuItem(viewer::MainWindow, "Project");
    EXPECT_NE(item, nullptr);
    guitest::Harness::ScreenPoint(item, 10, 8, &sx, &sy);
    layout.projectX = sx - wx;
    layout.projectY = sy - wy;
    guitest::Harness::InnerToScreen(viewer::MainWindow, 0, 0, &sx, &sy);
    layout.canvasX = sx - wx;
    layout.canvasY = sy - wy;
    return layout; // the harness releases the toolkit and its window
}

// The real program, started on a file, and the X connection that drives it.
class Program {
  public:
    explicit Program(const std::string& file) {
        const char* app = std::getenv("PIXMOLE_APP");
        if (app == nullptr) return;
        display_ = XOpenDisplay(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            execl(app, app, file.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (display_ != nullptr) XCloseDisplay(display_);
    }

    Display* display() const { return display_; }

    // The first top-level window whose title starts with the prefix (0 when none in time).
    Window FindWindow(const std::string& prefix, int timeoutMs) {
        for (int waited = 0;; waited += 50) {
            Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr;
            unsigned count = 0;
            Window found = 0;
            if (XQueryTree(display_, root, &root, &parent, &children, &count)) {
                for (unsigned i = 0; i < count && found == 0; ++i) {
                    char* name = nullptr;
                    if (XFetchName(display_, children[i], &name) && name != nullptr) {
                        if (std::string(name).rfind(prefix, 0) == 0) found = children[i];
                        XFree(name);
                    }
                }
                if (children) XFree(children);
            }
            if (found != 0 || waited >= timeoutMs) return found;
            Sleep(50);
        }
    }

    std::string Title(Window window) {
        char* name = nullptr;
        std::string title;
        if (XFetchName(display_, window, &name) && name != nullptr) {
            title = name;
            XFree(name);
        }
        return title;
    }

    void Origin(Window window, int* x, int* y) {
        Window child = 0;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, x, y, &child);
    }

    void Key(KeySym keysym, int holdMs = 80) {
        KeyCode code = XKeysymToKeycode(display_, keysym);
        XTestFakeKeyEvent(display_, code, True, 0);
        XFlush(display_);
        Sleep(holdMs);
        XTestFakeKeyEvent(display_, code, False, 0);
        XFlush(display_);
    }

    void Drag(int x1, int y1, int x2, int y2) {
        XTestFakeMotionEvent(display_, -1, x1, y1, 0);
        XTestFakeButtonEvent(display_, 1, True, 0);
        XFlush(display_);
        Sleep(60);
        XTestFakeMotionEvent(display_, -1, (x1 + x2) / 2, (y1 + y2) / 2, 0);
        XFlush(display_);
        Sleep(60);
        XTestFakeMotionEvent(display_, -1, x2, y2, 0);
        XFlush(display_);
        Sleep(60);
        XTestFakeButtonEvent(display_, 1, False, 0);
        XFlush(display_);
        Sleep(100);
    }

    void Click(int x, int y) {
        XTestFakeMotionEvent(display_, -1, x, y, 0);
        XTestFakeButtonEvent(display_, 1, True, 0);
        XFlush(display_);
        Sleep(50);
        XTestFakeButtonEvent(display_, 1, False, 0);
        XFlush(display_);
    }

    // The exit code, or -1 when the program did not end within the time.
    int WaitExit(int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            Sleep(50);
        }
        return -1;
    }

    bool Running() { return WaitExit(0) == -1; }

    // Waits until no top-level window's title starts with the prefix; false when one stays.
    bool WaitGone(const std::string& prefix, int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 100) {
            if (FindWindow(prefix, 0) == 0) return true;
            Sleep(100);
        }
        return false;
    }

  private:
    Display* display_ = nullptr;
    pid_t pid_ = -1;
    bool exited_ = false;
};

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("PIXMOLE_APP"), nullptr) << "PIXMOLE_APP names the program";
        char tmpl[] = "/tmp/pixmole-program-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        file = dir + "/input.bin";
        std::ofstream(file, std::ios::binary) << std::string(4000, '\xA5');
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string dir, file;
};

TEST_F(ProgramTest, EscapeWhileAnotherClientHasTheFocusEndsTheProgram) {
    guitest::Watchdog dog(60, "escape from another client");
    Program program(file);
    Window main = program.FindWindow("Pixmole 0.10.0", 20000);
    ASSERT_NE(main, 0u) << "the program's window did not appear";

    // Another client's window takes the focus.
    Display* d = program.display();
    Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), 700, 700, 100, 100, 0, 0, 0);
    XMapRaised(d, other);
    XSync(d, False);
    Sleep(200);
    XSetInputFocus(d, other, RevertToParent, CurrentTime);
    XSync(d, False);
    Sleep(200);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    ASSERT_EQ(focus, other);

    program.Key(XK_Escape, 150);
    EXPECT_EQ(program.WaitExit(10000), 0);
}

TEST_F(ProgramTest, FailingExportShowsAMessageAndTheProgramGoesOn) {
    guitest::Watchdog dog(90, "failing export");
    Layout layout = MeasureLayout();
    ASSERT_GT(layout.saveSelectedX, 0);
    // The first numbered name is a directory: "Save selected" must fail to create it.
    fs::create_directory(file + ".000");
    fs::path inside = fs::path(file + ".000") / "keep";
    std::ofstream(inside) << "keep";

    Program program(file);
    Window main = program.FindWindow("Pixmole 0.10.0", 20000);
    ASSERT_NE(main, 0u);
    Sleep(300);
    int wx = 0, wy = 0;
    program.Origin(main, &wx, &wy);
    // A selection within the sprite width (8 pixels at width 1) enables "Save selected".
    int cx = wx + layout.canvasX, cy = wy + layout.canvasY;
    program.Drag(cx + 1, cy + 20, cx + 7, cy + 30);
    EXPECT_NE(program.Title(main).find("Pixmole 0.10.0, sprsize:1"), std::string::npos);
    program.Click(wx + layout.saveSelectedX, wy + layout.saveSelectedY);

    Window box = program.FindWindow("Save selected", 10000);
    ASSERT_NE(box, 0u) << "no message box about the failed export";
    EXPECT_TRUE(program.Running());
    const std::string title = program.Title(main);
    // Escape held as a person holds it closes the box, and only the box.
    program.Key(XK_Escape, 100);
    EXPECT_TRUE(program.WaitGone("Save selected", 5000));
    Sleep(500);
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(program.Title(main), title);
    EXPECT_TRUE(fs::is_directory(file + ".000"));
    EXPECT_TRUE(fs::exists(inside));

    // The program still answers: an arrow that closes nothing acts once, Escape ends it.
    program.Key(XK_Right, 100);
    Sleep(500);
    EXPECT_NE(program.Title(main).find("sprsize:2"), std::string::npos) << program.Title(main);
    program.Key(XK_Escape, 100);
    EXPECT_EQ(program.WaitExit(10000), 0);
}

TEST_F(ProgramTest, EscapeThatClosesAMenuOrADialogKeepsTheProgramAndItsView) {
    guitest::Watchdog dog(120, "escape in menus and dialogs");
    Layout layout = MeasureLayout();
    ASSERT_GT(layout.projectX, 0);
    Program program(file);
    Window main = program.FindWindow("Pixmole 0.10.0", 20000);
    ASSERT_NE(main, 0u);
    Sleep(300);
    int wx = 0, wy = 0;
    program.Origin(main, &wx, &wy);
    const std::string title = program.Title(main);

    // Opens "Project" and walks down to its n-th item with the keys; Return chooses it. Keys
    // pressed inside the menu are the menu's own.
    auto openProject = [&](int downs, bool choose) {
        program.Click(wx + layout.projectX, wy + layout.projectY);
        Sleep(400);
        for (int i = 0; i < downs; ++i) {
            program.Key(XK_Down, 60);
            Sleep(100);
        }
        if (choose) program.Key(XK_Return, 60);
    };
    struct Step {
        const char* what;
        int downs;
        bool choose;
        const char* dialogTitle; // null: the menu itself is closed
    } steps[] = {
        {"the open menu", 0, false, nullptr},
        {"the menu after moving in it", 2, false, nullptr},
        {"the text dialog of \"Save binary..\"", 3, true, "Title"},
        {"the Open chooser", 1, true, "Please choose file to load"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        openProject(step.downs, step.choose);
        if (step.dialogTitle != nullptr) {
            ASSERT_NE(program.FindWindow(step.dialogTitle, 10000), 0u);
        }
        Sleep(300);
        program.Key(XK_Escape, 100);
        if (step.dialogTitle != nullptr) {
            EXPECT_TRUE(program.WaitGone(step.dialogTitle, 5000));
        }
        Sleep(600);
        ASSERT_TRUE(program.Running());
        EXPECT_EQ(program.Title(main), title);
    }
    program.Key(XK_Right, 100); // the menus gave the keys back
    Sleep(500);
    EXPECT_NE(program.Title(main).find("sprsize:2"), std::string::npos) << program.Title(main);
    program.Key(XK_Escape, 100);
    EXPECT_EQ(program.WaitExit(10000), 0);
}

} // namespace
