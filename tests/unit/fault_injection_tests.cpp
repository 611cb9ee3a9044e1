// Faults from outside the program, driven through the event loop as a person meets them: full
// disks, folders that cannot be written, directories and devices under the target name, files
// that change between the size query and the read, FIFOs and devices as input, awkward path bytes,
// and files at the size limit. Each case checks what the person is told (or that nothing is said),
// that the program is still running, and that no existing file changed unless the person agreed
// and the write succeeded.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

using Tree = std::map<std::string, std::string>; // name -> contents ("<dir>" for a folder)
const std::string kCannotOpen = "Couldn't open the file!";

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) ^ (i >> 8));
    return s;
}

std::optional<std::string> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every entry under the folder with its bytes, so that a comparison before and after an export
// shows any file created, removed or changed (temporary files included).
Tree Snapshot(const std::string& dir) {
    Tree tree;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        tree[e.path().string().substr(dir.size())] =
            e.is_symlink()        ? "<link>" + std::filesystem::read_symlink(e.path()).string()
            : e.is_directory()    ? "<dir>"
            : e.is_regular_file() ? ReadAll(e.path()).value_or("<unreadable>")
                                  : "<special>";
    return tree;
}

// What went wrong, one line each; empty when all checks held. Checks run in forked children
// report this way.
struct Problems {
    std::string text;
    void Check(bool ok, const std::string& what) {
        if (!ok) text += what + "\n";
    }
};

// Runs the body in a forked child, as uid/gid 65534 when asked, and gives back what it reported
// ("SKIP: ..." when the child could not become that user).
std::string RunInChild(bool asNobody, const std::function<std::string()>& body) {
    int ends[2];
    if (pipe(ends) != 0) return "pipe failed";
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        const uid_t nobody = 65534;
        std::string report =
            asNobody && (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                         setresuid(nobody, nobody, nobody) != 0)
                ? "SKIP: cannot become uid 65534"
                : body();
        _exit(write(ends[1], report.data(), report.size()) < 0);
    }
    close(ends[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;) report.append(buffer, got);
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status)) return "the child died with signal " + std::to_string(WTERMSIG(status));
    return report;
}

// The batch tool with these arguments, each passed as one whatever its bytes, ended after 20 s.
struct ProgramRun {
    bool finished = false;
    int exitCode = -1;
    std::string err;
};

ProgramRun RunBatch(const std::vector<std::string>& args) {
    std::string command =
        "timeout 20 " +
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../tools/pixmole-batch")
            .string();
    for (const std::string& arg : args) {
        command += " '";
        for (char c : arg) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += "'";
    }
    ProgramRun run;
    std::FILE* pipe = popen((command + " 2>&1 >/dev/null").c_str(), "r");
    char buffer[4096];
    for (size_t got; pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.err.append(buffer, got);
    const int status = pipe ? pclose(pipe) : -1;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.finished = run.exitCode != 124; // what timeout gives when it had to end the tool
    return run;
}

// A process that holds a file open-or-read permission gate (fanotify): the kernel stops the
// loader's open or read of the file until the gate has acted on the file (shrunk it, removed its
// name, grown it) and answered. That puts the change exactly between the size query and the read,
// with no hook in the program. `deny` refuses every access instead of allowing it.
struct FileGate {
    enum class At { Open, Read };
    pid_t child = -1;
    FileGate(const std::string& path, At at, std::function<void(int fd)> action,
             bool deny = false) {
        int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDWR | O_LARGEFILE);
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
                    if (!acted) action(event->fd);
                    fanotify_response answer = {event->fd,
                                                deny ? uint32_t{FAN_DENY} : uint32_t{FAN_ALLOW}};
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

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        alarm(120); // a load or export that blocks must fail the test, not hang it
        ASSERT_TRUE(session.ok());
        RedrawView();
        ASSERT_EQ(getcwd(cwd, sizeof cwd), cwd);
        char tmpl[] = "/tmp/pixmole-faults-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = std::filesystem::canonical(tmpl);
        chmod(dir.c_str(), 0755);
    }
    void TearDown() override {
        if (chdir(cwd) != 0) ADD_FAILURE() << "cannot go back to " << cwd;
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
        std::filesystem::remove_all(dir);
        alarm(0);
    }

    pmtest::ScriptedBackend& Backend() { return session.backend; }
    void Drain() {
        for (int guard = 0; guard < 100000; ++guard) {
            if (Backend().ScriptedLeft() == 0 && tk::QueuedEventCount() == 0) return;
            RunLoopPass();
            if (state.quitRequested == 1) return;
        }
        FAIL() << "the loop did not settle";
    }

    std::string MakeFile(const std::string& name, const std::string& bytes) {
        WriteAll(dir + "/" + name, bytes);
        return dir + "/" + name;
    }
    std::string MakeSparseFile(const std::string& name, int64_t size) {
        std::string path = MakeFile(name, "");
        return truncate(path.c_str(), size) == 0 ? path : "";
    }
    std::string Held() const {
        if (state.fileBuffer.empty()) return std::string();
        return std::string(reinterpret_cast<const char*>(state.fileBuffer.get()),
                           static_cast<size_t>(state.fileSize));
    }
    std::vector<pmtest::ScriptedBackend::DialogRecord> Messages() const {
        std::vector<pmtest::ScriptedBackend::DialogRecord> found;
        for (const auto& d : session.backend.dialogs)
            if (d.kind == "message") found.push_back(d);
        return found;
    }

    // Gestures and menu commands, each run through the event loop.
    void Drop(const std::string& path) {
        Backend().ScriptDrop(MainWindow, {path});
        Drain();
    }
    // Width 2 (16 pixels per row) and a drag over the whole height: 481 rows of 2 bytes.
    void SelectTallSprite() {
        tk::SetControlState(WidthScroller, 2);
        RedrawView();
        Backend().ScriptCanvasDrag(CanvasView, 0, 0, {{15, 480}});
        Drain();
        EXPECT_EQ(tk::MenuItemDisabled(MainMenu, MenuSaveSelected), 0);
    }
    // game.bin of `size` bytes dropped, and a tall sprite selected in it. Returns the path.
    std::string LoadAndSelect(size_t size = 4096) {
        const std::string path = MakeFile("game.bin", Pattern(size));
        Drop(path);
        SelectTallSprite();
        return path;
    }
    // A menu command through the loop. For the two "Save .." commands, the file dialog gives
    // `path` under "All Files" (and "Save binary.." asks for `count` bytes); Yes to an overwrite.
    void Menu(int item, const std::string& path = "", const std::string& count = "") {
        if (!count.empty()) Backend().AnswerText(true, count);
        if (!path.empty()) Backend().AnswerFileDialog(path, 1);
        if (!path.empty()) Backend().AnswerMessage(tk::ResultYes);
        Backend().ScriptMenu(MainWindow, item);
        Drain();
    }

    // The three exports, each confirmed over an existing target: "Save selected" beside the
    // loaded file, "Save binary.." of `count` bytes to `bin`, "Save image.." to `image`. Each
    // must fail naming its path and `reason`; what did not hold is returned.
    std::string ExportsFail(const std::string& bin, const std::string& image,
                            const std::string& reason, const std::string& count = "4096") {
        const std::string selection = state.loadedPath + ".000";
        Backend().dialogs.clear();
        Menu(MenuSaveSelected);
        Menu(MenuSaveBinary, bin, count);
        Menu(MenuSaveImage, image);
        const auto shown = Messages();
        if (shown.size() != 5) return std::to_string(shown.size()) + " messages, not 5";
        Problems p;
        p.Check(shown[0].title == "Save selected" &&
                    shown[0].text == "Cannot save selection: " + selection + " (" + reason + ")",
                shown[0].text);
        p.Check(shown[1].text == "Overwrite this file? " + bin, shown[1].text);
        p.Check(shown[2].title == "save binary" &&
                    shown[2].text == "Cannot save binary: " + bin + " (" + reason + ")",
                shown[2].text);
        p.Check(shown[4].title == "RevizeRevuzu" &&
                    shown[4].text.rfind("Cannot save image: " + image + " (", 0) == 0 &&
                    shown[4].text.find(reason) != std::string::npos,
                shown[4].text);
        p.Check(state.quitRequested == 0, "the program ended");
        return p.text;
    }

    // A file dropped over the loaded one (scrolled to row 2) that must be refused with a message
    // starting with `message`: the loaded bytes, path, row position, canvas and title all stay.
    std::string DropRefused(const std::string& path, const std::string& message) {
        Problems p;
        tk::SetControlState(RowScroller, 0);
        RedrawView();
        const std::vector<uint8_t> unscrolled = session.CanvasBytes();
        tk::SetControlState(RowScroller, 2);
        RedrawView();
        const std::vector<uint8_t> canvas = session.CanvasBytes();
        const std::string title = session.Title(), held = Held(), loaded = state.loadedPath;
        p.Check(canvas != unscrolled, "scrolling changed nothing (the view check proves nothing)");
        Backend().dialogs.clear();
        Drop(path);
        const auto shown = Messages();
        p.Check(shown.size() == 1 && shown[0].text.rfind(message, 0) == 0,
                shown.empty() ? "nothing was said" : shown[0].text);
        p.Check(Held() == held && state.loadedPath == loaded, "the loaded file was lost");
        p.Check(tk::GetControlState(RowScroller) == 2 && session.CanvasBytes() == canvas &&
                    session.Title() == title,
                "the view changed");
        p.Check(state.quitRequested == 0, "the program ended");
        return p.text;
    }

    pmtest::ViewerSession session;
    std::string dir;
    std::vector<std::string> mounts;
    char cwd[4096] = {};
};

// ---- Targets that cannot take the bytes --------------------------------------------------------

// A file size limit, then a full file system: every export fails with its reason and the
// folder stays as it was.
TEST_F(FaultTest, FullDiskFailsEveryExportWithItsReason) {
    const std::string disk = dir + "/disk";
    mkdir(disk.c_str(), 0755);
    const bool mounted = mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") == 0;
    if (mounted) mounts.push_back(disk);
    for (const char* name : {"/old.bin", "/old.png"}) WriteAll(disk + name, "old");
    WriteAll(disk + "/game.bin", Pattern(4096));
    Drop(disk + "/game.bin");
    SelectTallSprite();
    const Tree before = Snapshot(disk);
    EXPECT_EQ(RunInChild(false,
                         [&] {
                             std::signal(SIGXFSZ, SIG_IGN);
                             struct rlimit small = {100, 100};
                             if (setrlimit(RLIMIT_FSIZE, &small) != 0) return std::string("limit");
                             return ExportsFail(disk + "/old.bin", disk + "/old.png",
                                                "File too large");
                         }),
              "");
    EXPECT_EQ(Snapshot(disk), before);

    if (!mounted) GTEST_SKIP() << "tmpfs cannot be mounted here";
    for (std::ofstream filler(disk + "/filler"); filler << std::string(1024, 'f') << std::flush;) {
    }
    const Tree full = Snapshot(disk);
    EXPECT_EQ(ExportsFail(disk + "/old.bin", disk + "/old.png", "No space left on device"), "");
    EXPECT_EQ(Snapshot(disk), full);
}

// A directory (with contents), a FIFO nobody reads, or a device that takes no byte (as /dev/full
// does) under each target name: every export fails with its reason, without waiting for a
// reader that never comes, and every entry stays as it was.
TEST_F(FaultTest, DirectoryFifoOrFullDeviceUnderEachTargetName) {
    const std::string game = LoadAndSelect(200000); // more than a pipe holds
    const std::string targets[] = {game + ".000", dir + "/out.bin", dir + "/pic.png"};
    const std::pair<const char*, std::function<int(const std::string&)>> cases[] = {
        {"Is a directory",
         [](const std::string& t) {
             return mkdir(t.c_str(), 0755) != 0 || !(std::ofstream(t + "/inside") << "keep");
         }},
        {"No such device or address", [](const std::string& t) { return mkfifo(t.c_str(), 0644); }},
        {"No space left on device",
         [](const std::string& t) { return mknod(t.c_str(), S_IFCHR | 0666, makedev(1, 7)); }},
    };
    for (const auto& [reason, make] : cases) {
        SCOPED_TRACE(reason);
        for (const std::string& target : targets) {
            std::filesystem::remove_all(target);
            if (make(target) != 0) GTEST_SKIP() << "cannot make " << target;
        }
        const Tree before = Snapshot(dir);
        EXPECT_EQ(RunInChild(false,
                             [&] {
                                 alarm(10);
                                 return ExportsFail(targets[1], targets[2], reason, "200000");
                             }),
                  "");
        EXPECT_EQ(Snapshot(dir), before);
    }
}

// The folder belongs to root; the child is uid 65534: no export may write there, and a file of
// mode 000 dropped over the loaded one is refused.
TEST_F(FaultTest, ReadOnlyFolderAndUnreadableDropAsAnOrdinaryUser) {
    const std::string game = MakeFile("game.bin", Pattern(4096));
    const std::string locked = MakeFile("locked.bin", "secret");
    chmod(locked.c_str(), 0);
    MakeFile("old.bin", "old");
    MakeFile("old.png", "old");
    const Tree before = Snapshot(dir);
    std::string report = RunInChild(true, [&] {
        Drop(game);
        std::string problems = state.fileSize == 4096 ? "" : "game.bin was not loaded\n";
        SelectTallSprite();
        problems += ExportsFail(dir + "/old.bin", dir + "/old.png", "Permission denied");
        return problems + DropRefused(locked, kCannotOpen);
    });
    if (report.rfind("SKIP", 0) == 0) GTEST_SKIP() << report;
    EXPECT_EQ(report, "");
    EXPECT_EQ(Snapshot(dir), before);
}

// ---- Files that change while they are loaded ---------------------------------------------------

TEST_F(FaultTest, FileChangedBetweenTheSizeQueryAndTheRead) {
    const std::string original = Pattern(100000), path = dir + "/moving.bin";
    struct Case {
        const char* what;
        FileGate::At at;
        std::function<void(int fd)> change;
        std::string held;
    } cases[] = {
        {"cut to a third once open: only the bytes still there count", FileGate::At::Open,
         [&](int) { (void)!truncate(path.c_str(), 33333); }, original.substr(0, 33333)},
        {"emptied at the first read: nothing is held, as for an empty file", FileGate::At::Read,
         [&](int) { (void)!truncate(path.c_str(), 0); }, ""},
        {"name removed once open: the open file still holds every byte", FileGate::At::Open,
         [&](int) { unlink(path.c_str()); }, original},
        {"a megabyte appended before the first read: the queried size counts", FileGate::At::Read,
         [&](int fd) { (void)!pwrite(fd, Pattern(1 << 20).data(), 1 << 20, 100000); }, original},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(path, original);
        {
            FileGate gate(path, c.at, c.change);
            if (!gate.ok()) GTEST_SKIP() << "fanotify permission events are not available";
            Drop(path);
        }
        EXPECT_EQ(state.fileSize, static_cast<int64_t>(c.held.size()));
        EXPECT_EQ(state.fileBuffer.empty(), c.held.empty());
        EXPECT_TRUE(Held() == c.held);
        EXPECT_EQ(tk::GetControlAttribute(RowScroller, tk::Maximum), state.fileSize);
    }
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(state.quitRequested, 0);
}

TEST_F(FaultTest, AReadThatFailsIsReportedAndLeavesNoFile) {
    const std::string good = MakeFile("good.bin", Pattern(5000));
    const std::string path = MakeFile("refused.bin", Pattern(100000));
    Drop(good);
    {
        // The size query and the open succeed; the read itself is refused.
        FileGate gate(
            path, FileGate::At::Read, [](int) {}, true);
        if (!gate.ok()) GTEST_SKIP() << "fanotify permission events are not available";
        Drop(path);
    }
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text,
              "Couldn't read the file: " + path + " (" + std::strerror(EPERM) + ")");
    EXPECT_EQ(state.fileSize, 0);
    EXPECT_TRUE(state.fileBuffer.empty());
    EXPECT_EQ(tk::GetControlAttribute(RowScroller, tk::Maximum), 0);
    EXPECT_EQ(state.quitRequested, 0);
}

TEST_F(FaultTest, FileGrowingWhileItIsReadGivesTheQueriedSize) {
    const std::string original = Pattern(300000);
    const std::string path = MakeFile("growing.bin", original);
    // Another process appending in a loop while the file is read again and again.
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        int fd = open(path.c_str(), O_WRONLY | O_APPEND);
        std::string chunk(8192, '\x33');
        for (int i = 0; i < 20000 && fd >= 0 && write(fd, chunk.data(), chunk.size()) > 0;) ++i;
        _exit(0);
    }
    for (int i = 0; i < 20; ++i) {
        Drop(path);
        ASSERT_GE(state.fileSize, 300000);
        ASSERT_EQ(state.fileBuffer.size, state.fileSize) << "bytes held beyond the file size";
        ASSERT_TRUE(Held().substr(0, 300000) == original);
    }
    waitpid(writer, nullptr, 0);
    EXPECT_TRUE(Messages().empty());
}

// ---- Inputs that cannot be read ----------------------------------------------------------------

// A FIFO (with nobody at the other end, then with a writer that keeps it open and never writes),
// an endless device and a file whose opening is refused after its size was queried: the batch
// tool refuses each with code 1 and says why, in time; dropped over a loaded file, each is
// refused and the loaded file stays.
TEST_F(FaultTest, FifoEndlessDeviceAndRefusedOpenNeverHang) {
    const std::string fifo = dir + "/fifo", guarded = MakeFile("guarded.bin", Pattern(800));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    FileGate gate(
        guarded, FileGate::At::Open, [](int) {}, /*deny=*/true);

    // The viewer's own start-up passes over the FIFO and the device: their size is not above 0.
    for (const std::string& input : {fifo, std::string("/dev/zero")}) {
        tk::SetCommandLineText("pixmole \"" + input + "\"");
        EXPECT_TRUE(LoadStartupFile()) << "no exit code 1 for " << input;
    }
    EXPECT_TRUE(Messages().empty());

    Drop(MakeFile("good.bin", Pattern(700)));
    std::vector<std::string> inputs = {fifo, "/dev/zero"};
    if (gate.ok()) inputs.push_back(guarded);
    int holder = -1;
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            ASSERT_GE(holder = open(fifo.c_str(), O_RDWR), 0);
        }
        for (const std::string& input : inputs) {
            SCOPED_TRACE(input + (pass ? " (writer present)" : ""));
            ProgramRun run = RunBatch({input});
            ASSERT_TRUE(run.finished) << "pixmole-batch hung";
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_NE(run.err.find(kCannotOpen), std::string::npos) << run.err;
            EXPECT_EQ(DropRefused(input, kCannotOpen), "");
        }
    }
    close(holder);
}

// ---- Awkward names -----------------------------------------------------------------------------

TEST_F(FaultTest, PathsWithSpacesQuotesLineFeedsAndNonUtf8Bytes) {
    const std::string folder = dir + "/a folder 'with' \"quotes\"";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string path = folder + "/line\nfeed \xff\xfe\x80 \"x\".bin";
    WriteAll(path, Pattern(4096));
    for (bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "dropped" : "opened");
        Drop(MakeFile("other.bin", "other"));
        if (dropped) {
            Drop(path);
        } else {
            Backend().AnswerFileDialog(path);
            Menu(MenuOpen);
        }
        EXPECT_EQ(state.loadedPath, path);
        EXPECT_TRUE(Held() == Pattern(4096));
        EXPECT_EQ(tk::CurrentDirectory(), folder + "/");
    }

    // "Save selected" beside it, "Save binary.." to another such name.
    SelectTallSprite();
    Menu(MenuSaveSelected);
    auto bits = ReadAll(path + ".000");
    ASSERT_TRUE(bits);
    EXPECT_EQ(bits->size(), 962u);
    EXPECT_EQ(bits->substr(0, 4), Pattern(4096).substr(0, 4));
    const std::string target = folder + "/out \"\n\xc3\x28'.bin";
    Menu(MenuSaveBinary, target, "10");
    EXPECT_EQ(ReadAll(target), Pattern(4096).substr(0, 10));
    EXPECT_TRUE(Messages().empty());

    // The batch tool, given the name as one argument.
    ProgramRun run =
        RunBatch({path, "--width", "2", "--select", "0,0,15,0", "--bits", folder + "/bits \n\xff"});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadAll(folder + "/bits \n\xff"), Pattern(4096).substr(0, 2));
}

// ---- Sizes at the edges ------------------------------------------------------------------------

TEST_F(FaultTest, EmptyFileLoadsNothingAndLeavesNothingToSave) {
    Drop(MakeFile("good.bin", Pattern(300)));
    const std::string empty = MakeFile("empty.bin", "");
    Drop(empty);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(state.loadedPath, empty);
    EXPECT_EQ(state.fileSize, 0);
    EXPECT_EQ(tk::GetControlAttribute(RowScroller, tk::Maximum), 0);
    const Tree before = Snapshot(dir);
    Menu(MenuSaveBinary);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "1st load file!");
    EXPECT_EQ(Snapshot(dir), before);
    EXPECT_EQ(state.quitRequested, 0);
}

TEST_F(FaultTest, TwoGibibytesAreRefusedOneByteLessIsTaken) {
    Drop(MakeFile("good.bin", Pattern(3000)));
    EXPECT_EQ(DropRefused(MakeSparseFile("limit.bin", int64_t{1} << 31),
                          "This file is too large: 2147483648 bytes."),
              "");

    // One byte less passes the size check. Loading it for real would need 2 GiB, so the child's
    // address space is kept too small: the memory message shows that the load was attempted.
    const std::string below = MakeSparseFile("below.bin", (int64_t{1} << 31) - 1);
    std::string report = RunInChild(false, [&] {
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1) return std::string("no statm");
        std::fclose(statm);
        rlim_t room = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (rlim_t{256} << 20);
        struct rlimit limit = {room, room};
        if (setrlimit(RLIMIT_AS, &limit) != 0) return std::string("no RLIMIT_AS");
        Backend().dialogs.clear();
        Drop(below);
        Problems p;
        auto shown = Messages();
        p.Check(shown.size() == 1 && shown[0].text == "Not enough memory to load 2147483647 bytes.",
                shown.empty() ? "nothing was said" : shown[0].text);
        p.Check(state.fileBuffer.empty(), "a block is held");
        p.Check(state.quitRequested == 0, "the program ended");
        return p.text;
    });
    EXPECT_EQ(report, "");
}

TEST_F(FaultTest, EveryNumberedNameTakenWritesNothing) {
    const std::string game = LoadAndSelect();
    for (int n = 0; n < 1000; ++n)
        WriteAll(game + "." + std::to_string(1000 + n).substr(1), std::to_string(n));
    const Tree before = Snapshot(dir);
    Menu(MenuSaveSelected);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].text.find(game + ".000"), std::string::npos);
    EXPECT_NE(Messages()[0].text.find(game + ".999"), std::string::npos);
    EXPECT_EQ(Snapshot(dir), before);

    // With the last name a folder instead, the search ends there and the creation is refused.
    ASSERT_EQ(unlink((game + ".999").c_str()), 0);
    ASSERT_EQ(mkdir((game + ".999").c_str(), 0755), 0);
    const Tree withFolder = Snapshot(dir);
    Backend().dialogs.clear();
    Menu(MenuSaveSelected);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "Cannot save selection: " + game + ".999 (Is a directory)");
    EXPECT_EQ(Snapshot(dir), withFolder);
    EXPECT_EQ(state.quitRequested, 0);
}

} // namespace
