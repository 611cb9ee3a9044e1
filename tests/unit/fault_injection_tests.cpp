// Faults from outside the program, driven through the event loop as a person meets them, one
// table per family: targets that cannot take the bytes, inputs that cannot be loaded, files that
// change between the size query and the read, every numbered name taken. Each case checks what
// the person is told, that the program goes on, and that no file changed unless the person agreed
// and the write succeeded.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/processes.h"
#include "tests/support/test_files.h"
#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"
#include "viewer/input.h"
#include "viewer/loader.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

// A failed allocation returns null under AddressSanitizer too, as it does without it.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

using namespace viewer;

namespace {

using Tree = std::map<std::string, std::string>; // name -> contents
const std::string CannotOpen = "Couldn't open the file!";

// Every entry under the folder with its bytes: a comparison before and after shows any file
// created, removed or changed, temporary files included.
Tree Snapshot(const std::string& folder) {
    Tree tree;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        tree[e.path().string()] = e.is_directory()      ? "<dir>"
                                  : e.is_regular_file() ? pmtest::ReadFile(e.path())
                                                        : "<special>";
    return tree;
}

// Runs the checks in a forked child, as uid/gid 65534 when asked: true when none failed there
// (the child reports its failures as any test does).
bool InChild(bool asNobody, const std::function<void()>& checks) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(30);
        const uid_t nobody = 65534;
        if (asNobody && (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                         setresuid(nobody, nobody, nobody) != 0))
            _exit(2);
        checks();
        std::fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Holds a fanotify permission gate on a file: the kernel stops the loader's open or read of it
// until the gate has acted on the file (shrunk it, removed its name, grown it) and answered.
// That puts the change exactly between the size query and the read, with no hook in the program.
struct FileGate {
    enum class At { Open, Read };
    pid_t child = -1;
    FileGate(const std::string& path, At at, std::function<void(int fd)> act, bool deny = false) {
        const int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDWR | O_LARGEFILE);
        if (fan >= 0 &&
            fanotify_mark(fan, FAN_MARK_ADD, at == At::Open ? FAN_OPEN_PERM : FAN_ACCESS_PERM,
                          AT_FDCWD, path.c_str()) == 0 &&
            (child = fork()) == 0) {
            alarm(60); // never outlives a test that ended without ending it
            for (bool acted = false;;) {
                alignas(fanotify_event_metadata) char buffer[4096];
                ssize_t got = read(fan, buffer, sizeof buffer);
                if (got <= 0) _exit(1);
                auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
                for (; FAN_EVENT_OK(event, got); event = FAN_EVENT_NEXT(event, got), acted = true) {
                    if (!acted) act(event->fd);
                    const fanotify_response answer = {event->fd,
                                                      uint32_t(deny ? FAN_DENY : FAN_ALLOW)};
                    if (write(fan, &answer, sizeof answer) < 0) _exit(1);
                    close(event->fd);
                }
            }
        }
        if (fan >= 0) close(fan);
    }
    ~FileGate() {
        if (child > 0 && kill(child, SIGKILL) == 0) waitpid(child, nullptr, 0);
    }
    bool ok() const { return child > 0; }
};

// Lets the address space grow by 256 MiB at most: an allocation of 2 GiB fails.
bool KeepAddressSpaceSmall() {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t room = pages * sysconf(_SC_PAGESIZE) + (rlim_t{256} << 20);
    const rlimit limit = {room, room};
    return pages > 0 && setrlimit(RLIMIT_AS, &limit) == 0;
}

class Faults : public ::testing::Test {
  protected:
    void SetUp() override {
        alarm(120); // a load or export that blocks must fail the test, not hang it
        ASSERT_TRUE(session.ok());
        chmod(dir.path().c_str(), 0755);
    }
    void TearDown() override {
        for (const std::string& mount : mounts) umount2(mount.c_str(), MNT_DETACH);
        alarm(0);
    }

    void Drop(const std::string& path) {
        session.backend.ScriptDrop(MainWindow, {path});
        session.Drain();
    }
    // A menu command through the loop; a file dialog gives `path` under "All Files" and an
    // overwrite question is answered Yes.
    void Menu(int item, const std::string& path = "") {
        if (!path.empty())
            session.backend.AnswerFileDialog(path, 1), session.backend.AnswerMessage(tk::ResultYes);
        session.backend.ScriptMenu(MainWindow, item);
        session.Drain();
    }
    // The file dropped, then width 2 and a drag over the whole height: 481 rows of 2 bytes.
    void LoadAndSelect(const std::string& path) {
        Drop(path);
        tk::SetControlState(WidthScroller, 2);
        session.backend.ScriptCanvasDrag(CanvasView, 0, 0, {{15, 480}});
        session.Drain();
    }

    // "Save selected", then the whole file by "Save binary.." to out.bin and "Save image.." to
    // pic.png, each confirmed over what stands there: each must fail naming its path and reason.
    void ExportsFail(const std::string& folder, const std::string& reason) {
        const std::string targets[] = {state.loadedPath + ".000", folder + "/out.bin",
                                       folder + "/pic.png"};
        session.backend.dialogs.clear();
        Menu(MenuSaveSelected);
        session.backend.AnswerText(true, std::to_string(state.fileSize));
        Menu(MenuSaveBinary, targets[1]);
        Menu(MenuSaveImage, targets[2]);
        // The image's reason may carry the PNG library's words before the system's.
        std::vector<std::string> shown = session.Messages();
        ASSERT_EQ(shown.size(), 5u);
        EXPECT_NE(shown[4].find(reason + ")"), std::string::npos) << shown[4];
        shown[4].erase(shown[4].find(" (") + 2);
        EXPECT_EQ(shown, (std::vector<std::string>{
                             "Cannot save selection: " + targets[0] + " (" + reason + ")",
                             "Overwrite this file? " + targets[1],
                             "Cannot save binary: " + targets[1] + " (" + reason + ")",
                             "Overwrite this file? " + targets[2],
                             "Cannot save image: " + targets[2] + " ("}));
        EXPECT_EQ(state.quitRequested, 0);
    }

    // A path dropped over the loaded file (scrolled to row 2) that must be refused with a
    // message starting with `said`: the bytes, path, row, canvas and title all stay.
    void DropRefused(const std::string& path, const std::string& said) {
        tk::SetControlState(RowScroller, 2);
        RedrawView();
        auto view = [&] {
            return std::tuple(session.CanvasBytes(), session.Title(), session.Held(),
                              state.loadedPath, tk::GetControlState(RowScroller));
        };
        const auto before = view();
        session.backend.dialogs.clear();
        Drop(path);
        const auto shown = session.Messages();
        EXPECT_TRUE(shown.size() == 1 && shown[0].rfind(said, 0) == 0) << shown.size();
        EXPECT_TRUE(view() == before) << "the loaded file or the view changed";
        EXPECT_EQ(state.quitRequested, 0);
    }

    pmtest::ViewerSession session;
    pmtest::TempDir dir;
    std::vector<std::string> mounts;
};

TEST_F(Faults, TargetsThatCannotTakeTheBytesFailEveryExportAndChangeNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: a tmpfs, a device node, another user";
    enum Under { Old, Folder, Fifo, FullDevice }; // what stands under each target name
    struct Case {
        const char* reason;
        Under under;
        rlim_t sizeLimit; // bytes a file may hold
        bool fullDisk;    // the folder is a small tmpfs, filled up after the targets were made
        bool asNobody;    // the folder belongs to root; the exports run as uid 65534
    };
    const Case cases[] = {
        {"File too large", Old, 100, false, false},
        {"No space left on device", Old, RLIM_INFINITY, true, false},
        {"Permission denied", Old, RLIM_INFINITY, false, true},
        {"Is a directory", Folder, RLIM_INFINITY, false, false},
        {"No such device or address", Fifo, RLIM_INFINITY, false, false}, // nobody reads it
        {"No space left on device", FullDevice, RLIM_INFINITY, false, false},
    };
    for (const Case& c : cases) {
        const std::string folder = dir / std::to_string(&c - cases);
        SCOPED_TRACE(folder + ": " + c.reason);
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        if (c.fullDisk) {
            ASSERT_EQ(mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=512k"), 0);
            mounts.push_back(folder);
        }
        LoadAndSelect(pmtest::WriteFile(folder + "/game.bin", pmtest::Pattern(200000)));
        for (const char* name : {"/game.bin.000", "/out.bin", "/pic.png"}) {
            const std::string t = folder + name; // .000 stays free for Old: full names are skipped
            ASSERT_TRUE(c.under == Old ? t.ends_with(".000") || pmtest::WriteFile(t, "old") == t
                        : c.under == Folder ? pmtest::WriteFile(t + "/inside", "keep") != ""
                        : c.under == Fifo   ? mkfifo(t.c_str(), 0644) == 0
                                            : mknod(t.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0);
        }
        if (c.fullDisk)
            for (std::ofstream filler(folder + "/filler"); filler << std::string(1024, 'f');)
                filler.flush();
        const Tree before = Snapshot(folder);
        EXPECT_TRUE(InChild(c.asNobody, [&] {
            const pmtest::FileSizeLimit limit(c.sizeLimit);
            ExportsFail(folder, c.reason);
        }));
        EXPECT_EQ(Snapshot(folder), before);
    }
}

// Files dropped over a loaded one that cannot be loaded, or that change between the size query
// and the read (a fanotify gate acts on the file at its open or first read, or refuses it).
TEST_F(Faults, FilesThatCannotBeLoadedOrChangeWhileLoadedNeverHang) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: fanotify gates, another user";
    // Kept: refused, the loaded file, its path and the view stay. StartupEnds: given on the
    // command line, it ends the program with code 1. The rest set the fault up: another user, a
    // writer on the FIFO, 256 MiB of room, a gate at the open or the first read, which acts on
    // the file or refuses.
    enum : int { Kept = 1, StartupEnds = 2, AsNobody = 8, Writer = 16 };
    enum : int { LittleMemory = 32, AtOpen = 64, AtRead = 128, Deny = 256 };
    const std::string fifo = dir / "fifo", moving = dir / "moving.bin",
                      original = pmtest::Pattern(100000);
    const std::string locked = pmtest::WriteFile(dir / "locked.bin", "secret");
    const std::string huge = pmtest::WriteFile(dir / "huge.bin", "");
    const std::string below = pmtest::WriteFile(dir / "below.bin", "");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644) | chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(truncate(huge.c_str(), int64_t{1} << 31) |
                  truncate(below.c_str(), (int64_t{1} << 31) - 1),
              0);
    struct Case {
        const char* what;
        std::string path;
        int flags;
        std::string said, held = ""; // the start of the one message; what is held when not kept
        std::function<void(int fd)> change = [](int) {};
    };
    const Case cases[] = {
        {"a directory", dir.path(), Kept, CannotOpen},
        {"a FIFO nobody writes to", fifo, Kept, CannotOpen},
        {"a FIFO a writer holds open", fifo, Kept | Writer, CannotOpen},
        {"an endless device", "/dev/zero", Kept, CannotOpen},
        {"a device without bytes", "/dev/null", Kept, CannotOpen},
        {"a file whose opening is refused", moving, Kept | StartupEnds | AtOpen | Deny, CannotOpen},
        {"a file of mode 000, as uid 65534", locked, Kept | StartupEnds | AsNobody, CannotOpen},
        {"2 GiB", huge, Kept, "This file is too large: 2147483648 bytes."},
        {"a byte less without the memory for it", below, LittleMemory,
         "Not enough memory to load 2147483647 bytes.", ""},
        {"cut to a third once open: only the bytes still there count", moving, AtOpen, "",
         original.substr(0, 33333), [&](int) { (void)!truncate(moving.c_str(), 33333); }},
        {"emptied at the first read: nothing is held", moving, AtRead, "", "",
         [&](int) { (void)!truncate(moving.c_str(), 0); }},
        {"name removed once open: the open file still holds every byte", moving, AtOpen, "",
         original, [&](int) { unlink(moving.c_str()); }},
        {"100 kB appended before the first read: the queried size counts", moving, AtRead, "",
         original, [&](int fd) { (void)!pwrite(fd, original.data(), 100000, 100000); }},
        {"the read refused: nothing is held", moving, AtRead | Deny,
         "Couldn't read the file: " + moving + " (" + std::strerror(EPERM) + ")", ""},
    };
    // In a child: the gate, the user and the memory limit go with it.
    auto attempt = [&](const Case& c) {
        std::optional<FileGate> gate;
        const auto at = c.flags & AtOpen ? FileGate::At::Open : FileGate::At::Read;
        if (c.flags & (AtOpen | AtRead)) gate.emplace(c.path, at, c.change, c.flags & Deny);
        ASSERT_TRUE(!gate || gate->ok()) << "fanotify permission events are not available";
        ASSERT_TRUE(!(c.flags & LittleMemory) || KeepAddressSpaceSmall());
        if (c.flags & Kept) {
            DropRefused(c.path, c.said);
            tk::SetCommandLineText("pixmole \"" + c.path + "\"");
            EXPECT_EQ(LoadStartupFile(), !(c.flags & StartupEnds)) << "at start-up";
        } else {
            session.backend.dialogs.clear();
            Drop(c.path);
            EXPECT_TRUE(session.Held() == c.held && state.fileBuffer.empty() == c.held.empty() &&
                        tk::GetControlAttribute(RowScroller, tk::Maximum) == state.fileSize)
                << "held " << state.fileSize << " bytes";
            EXPECT_EQ(session.Messages(), c.said.empty() ? std::vector<std::string>{}
                                                         : std::vector<std::string>{c.said});
        }
    };
    LoadAndSelect(pmtest::WriteFile(dir / "good.bin", pmtest::Pattern(700)));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pmtest::WriteFile(moving, original);
        const int holder = c.flags & Writer ? open(fifo.c_str(), O_RDWR) : -1;
        EXPECT_TRUE(InChild(c.flags & AsNobody, [&] { attempt(c); }));
        if (holder >= 0) close(holder);
    }
}

TEST_F(Faults, EveryNumberedNameTakenWritesNothing) {
    const std::string game = pmtest::WriteFile(dir / "game.bin", pmtest::Pattern(4096));
    LoadAndSelect(game);
    for (int n = 0; n < 1000; ++n)
        pmtest::WriteFile(game + "." + std::to_string(1000 + n).substr(1), std::to_string(n));
    const Tree before = Snapshot(dir.path());
    Menu(MenuSaveSelected);
    EXPECT_EQ(session.Messages(),
              std::vector<std::string>{"Nothing was saved: " + game + ".000 to " + game +
                                       ".999 all exist already. Move "
                                       "or delete some of them first."});
    EXPECT_EQ(Snapshot(dir.path()), before);
}

} // namespace
