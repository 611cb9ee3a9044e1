// Faults from outside the program, driven through the event loop as a person meets them: full
// disks, folders that cannot be written, directories and devices under the target name, files
// that change between the size query and the read, FIFOs and devices as input, awkward path bytes,
// and files at the size limit. Each case checks what the person is told (or that nothing is said),
// that the program is still running, and that no existing file changed unless the person agreed
// and the write succeeded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <map>
#include <optional>
#include <poll.h>
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

using Record = tk::HeadlessBackend::DialogRecord;
using Tree = std::map<std::string, std::string>; // name -> contents ("<dir>" for a folder)

constexpr uid_t Nobody = 65534;

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
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::string name = it->path().string().substr(dir.size());
        if (it->is_symlink()) {
            tree[name] = "<link>" + std::filesystem::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[name] = "<dir>";
        } else if (it->is_regular_file()) {
            tree[name] = ReadAll(it->path().string()).value_or("<unreadable>");
        } else {
            tree[name] = "<special>";
        }
    }
    return tree;
}

// What a forked child found; empty when all its checks held.
struct Problems {
    std::string text;
    void Check(bool ok, const std::string& what) {
        if (!ok) text += what + "\n";
    }
};

// Runs the body in a forked child, as uid/gid 65534 when asked, and gives back what it reported
// ("SKIP: ..." when the child could not become that user).
std::string RunInChild(bool asNobody, const std::function<std::string()>& body) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "pipe failed";
    pid_t child = fork();
    if (child < 0) return "fork failed";
    if (child == 0) {
        close(pipeEnds[0]);
        std::string report;
        if (asNobody && (setgroups(0, nullptr) != 0 || setresgid(Nobody, Nobody, Nobody) != 0 ||
                         setresuid(Nobody, Nobody, Nobody) != 0)) {
            report = "SKIP: cannot become uid 65534";
        } else {
            report = body();
        }
        ssize_t ignored = write(pipeEnds[1], report.data(), report.size());
        (void)ignored;
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string report;
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) report.append(buffer, got);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status)) return "the child died with signal " + std::to_string(WTERMSIG(status));
    return report;
}

// A program run with its own argument vector (no shell), ended when it takes too long.
struct ProgramRun {
    bool finished = false;
    int exitCode = -1;
    std::string out, err;
};

ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& dir,
                      int timeoutSeconds) {
    ProgramRun run;
    const std::string outPath = dir + "/.run-out", errPath = dir + "/.run-err";
    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    for (int waited = 0; waited < timeoutSeconds * 20; ++waited) {
        if (waitpid(child, &status, WNOHANG) == child) {
            run.finished = true;
            break;
        }
        usleep(50000);
    }
    if (!run.finished) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    } else if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    run.out = ReadAll(outPath).value_or("");
    run.err = ReadAll(errPath).value_or("");
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return run;
}

std::string BatchTool() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" /
            "pixmole-batch")
        .string();
}

// A process that holds a file open-or-read permission gate (fanotify): the kernel stops the
// loader's open or read of the file until the gate has acted on the file (shrunk it, removed its
// name, grown it) and answered. That puts the change exactly between the size query and the read,
// with no hook in the program. `deny` refuses the access instead of allowing it.
class FileGate {
  public:
    enum class At { Open, Read };
    FileGate(const std::string& path, At at, std::function<void(int fd)> action,
             bool deny = false) {
        int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDWR | O_LARGEFILE);
        if (fan < 0) return;
        uint64_t mask = at == At::Open ? FAN_OPEN_PERM : FAN_ACCESS_PERM;
        if (fanotify_mark(fan, FAN_MARK_ADD, mask, AT_FDCWD, path.c_str()) != 0) {
            close(fan);
            return;
        }
        int done[2];
        if (pipe(done) != 0) return;
        child_ = fork();
        if (child_ == 0) {
            close(done[1]);
            bool acted = false;
            while (true) {
                pollfd waits[2] = {{fan, POLLIN, 0}, {done[0], POLLIN, 0}};
                if (poll(waits, 2, 30000) <= 0 || waits[1].revents != 0) break;
                alignas(fanotify_event_metadata) char buffer[4096];
                ssize_t got = read(fan, buffer, sizeof buffer);
                auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
                for (; FAN_EVENT_OK(event, got); event = FAN_EVENT_NEXT(event, got)) {
                    if (!acted) action(event->fd);
                    fanotify_response answer = {event->fd,
                                                deny ? uint32_t{FAN_DENY} : uint32_t{FAN_ALLOW}};
                    if (write(fan, &answer, sizeof answer) < 0) _exit(1);
                    close(event->fd);
                    acted = true;
                }
            }
            _exit(0);
        }
        close(done[0]);
        close(fan);
        done_ = done[1];
        ok_ = child_ > 0;
    }
    ~FileGate() {
        if (done_ >= 0) close(done_);
        if (child_ > 0) waitpid(child_, nullptr, 0);
    }
    bool ok() const { return ok_; }

  private:
    pid_t child_ = -1;
    int done_ = -1;
    bool ok_ = false;
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
        char* real = realpath(tmpl, nullptr);
        dir = real;
        std::free(real);
        chmod(dir.c_str(), 0755);
    }
    void TearDown() override {
        if (chdir(cwd) != 0) ADD_FAILURE() << "cannot go back to " << cwd;
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
        std::filesystem::remove_all(dir);
        alarm(0);
    }

    tk::HeadlessBackend& Backend() { return session.backend; }

    void Drain() {
        for (int guard = 0; guard < 100000; ++guard) {
            if (Backend().ScriptedLeft() == 0 && tk::QueuedEventCount() == 0) return;
            RunLoopPass();
            if (state.quitRequested == 1) return;
        }
        FAIL() << "the loop did not settle";
    }

    std::string MakeFile(const std::string& name, const std::string& bytes) {
        std::string path = dir + "/" + name;
        WriteAll(path, bytes);
        return path;
    }
    std::string MakeSparseFile(const std::string& name, int64_t size) {
        std::string path = dir + "/" + name;
        int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, size), 0);
        close(fd);
        return path;
    }
    // A tmpfs of the given size mounted on a new folder; empty when mounting is refused.
    std::string MountTmpfs(const std::string& name, const std::string& options) {
        std::string path = dir + "/" + name;
        mkdir(path.c_str(), 0755);
        if (mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0) return "";
        mounts.push_back(path);
        return path;
    }

    std::string Held() const {
        if (state.fileBuffer.empty()) return std::string();
        return std::string(reinterpret_cast<const char*>(state.fileBuffer.get()),
                           static_cast<size_t>(state.fileSize));
    }
    std::vector<Record> Messages() const {
        std::vector<Record> found;
        for (const auto& d : session.backend.dialogs)
            if (d.kind == "message") found.push_back(d);
        return found;
    }

    // Gestures and menu commands, each run through the event loop.
    void Drop(const std::string& path) {
        Backend().ScriptDrop(MainWindow, {path});
        Drain();
    }
    void Open(const std::string& path) {
        Backend().AnswerFileDialog(path);
        Backend().ScriptMenu(MainWindow, MenuOpen);
        Drain();
    }
    // Width 2 (16 pixels per row) and a drag over the whole height: 481 rows of 2 bytes.
    void SelectTallSprite() {
        tk::SetControlState(WidthScroller, 2);
        RedrawView();
        Backend().ScriptCanvasDrag(CanvasView, 0, 0, {{15, 480}});
        Drain();
        ASSERT_EQ(tk::MenuItemDisabled(MainMenu, MenuSaveSelected), 0);
    }
    void SaveSelected() {
        Backend().ScriptMenu(MainWindow, MenuSaveSelected);
        Drain();
    }
    // "Save binary.." of count bytes to path as typed under "All Files"; Yes to an overwrite.
    void SaveBinary(const std::string& count, const std::string& path) {
        Backend().AnswerText(true, count);
        Backend().AnswerFileDialog(path, 1);
        Backend().AnswerMessage(tk::ResultYes);
        Backend().ScriptMenu(MainWindow, MenuSaveBinary);
        Drain();
    }
    void SaveImage(const std::string& path) {
        Backend().AnswerFileDialog(path, 1);
        Backend().AnswerMessage(tk::ResultYes);
        Backend().ScriptMenu(MainWindow, MenuSaveImage);
        Drain();
    }

    // The three exports against existing files old.bin and old.png in the folder of the loaded
    // file, each confirmed; every one must fail with its path and the reason, and leave the folder
    // exactly as it was.
    void ExpectEveryExportRefused(const std::string& folder, const std::string& reason) {
        const std::string loaded = state.loadedPath;
        const Tree before = Snapshot(folder);
        Backend().dialogs.clear();
        SaveSelected();
        SaveBinary("4096", folder + "/old.bin");
        SaveImage(folder + "/old.png");
        EXPECT_EQ(state.quitRequested, 0);

        auto shown = Messages();
        ASSERT_EQ(shown.size(), 5u); // three failures, two overwrite questions
        EXPECT_EQ(shown[0].title, "Save selected");
        EXPECT_EQ(shown[0].text, "Cannot save selection: " + loaded + ".000 (" + reason + ")");
        EXPECT_EQ(shown[1].text, "Overwrite this file? " + folder + "/old.bin");
        EXPECT_EQ(shown[2].title, "save binary");
        EXPECT_EQ(shown[2].text, "Cannot save binary: " + folder + "/old.bin (" + reason + ")");
        EXPECT_EQ(shown[4].title, "RevizeRevuzu");
        EXPECT_EQ(shown[4].text.rfind("Cannot save image: " + folder + "/old.png (", 0), 0u)
            << shown[4].text;
        EXPECT_NE(shown[4].text.find(reason), std::string::npos) << shown[4].text;
        EXPECT_EQ(Snapshot(folder), before);
    }

    pmtest::ViewerSession session;
    std::string dir;
    std::vector<std::string> mounts;
    char cwd[4096] = {};
};

// ---- Full disks
// ----------------------------------------------------------------------------------

TEST_F(FaultTest, FileSizeLimitFailsEveryExportWithItsReason) {
    Drop(MakeFile("game.bin", Pattern(4096)));
    MakeFile("old.bin", "old");
    MakeFile("old.png", "old");
    SelectTallSprite();

    struct rlimit saved = {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = {100, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ExpectEveryExportRefused(dir, "File too large");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
}

TEST_F(FaultTest, FullFileSystemFailsEveryExportWithItsReason) {
    std::string disk = MountTmpfs("disk", "size=64k");
    if (disk.empty()) GTEST_SKIP() << "tmpfs cannot be mounted here";
    WriteAll(disk + "/game.bin", Pattern(4096));
    WriteAll(disk + "/old.bin", "old");
    WriteAll(disk + "/old.png", "old");
    Drop(disk + "/game.bin");
    SelectTallSprite();
    // Fill the rest of the file system.
    {
        std::ofstream filler(disk + "/filler", std::ios::binary);
        std::string block(1024, 'f');
        for (int i = 0; i < 256 && filler; ++i) filler.write(block.data(), block.size());
    }
    struct stat info;
    ASSERT_EQ(stat((disk + "/filler").c_str(), &info), 0);
    ASSERT_LT(info.st_size, 64 * 1024);
    ExpectEveryExportRefused(disk, "No space left on device");
}

// A device node that takes no byte (as /dev/full does) under the target name: the writes fail
// and the node itself must stay.
TEST_F(FaultTest, DeviceThatIsAlwaysFullFailsEveryExportAndStaysADevice) {
    Drop(MakeFile("game.bin", Pattern(4096)));
    SelectTallSprite();
    const std::string device = dir + "/full";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make a device node here";
    ASSERT_EQ(symlink(device.c_str(), (dir + "/game.bin.000").c_str()), 0);

    SaveSelected();
    SaveBinary("4096", device);
    SaveImage(device);
    EXPECT_EQ(state.quitRequested, 0);
    auto shown = Messages();
    ASSERT_EQ(shown.size(), 5u);
    const std::string reason = "No space left on device";
    EXPECT_EQ(shown[0].text, "Cannot save selection: " + dir + "/game.bin.000 (" + reason + ")");
    EXPECT_EQ(shown[2].text, "Cannot save binary: " + device + " (" + reason + ")");
    EXPECT_EQ(shown[4].text.rfind("Cannot save image: " + device + " (", 0), 0u) << shown[4].text;
    struct stat info;
    ASSERT_EQ(lstat(device.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device node was replaced by a file";
    ASSERT_EQ(lstat((dir + "/game.bin.000").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// A FIFO under the target name with nobody reading it: writing must not wait for a reader that
// never comes, and the FIFO stays.
TEST_F(FaultTest, FifoWithoutAReaderUnderEachTargetNameNeverHangs) {
    Drop(MakeFile("game.bin", Pattern(200000)));
    SelectTallSprite();
    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((dir + "/game.bin.000").c_str(), 0644), 0);
    std::string report = RunInChild(false, [&] {
        alarm(10);
        Problems p;
        SaveSelected();
        SaveBinary("200000", fifo); // more than a pipe holds
        SaveImage(fifo);
        auto shown = Messages();
        const std::string reason = "No such device or address";
        p.Check(shown.size() == 5, std::to_string(shown.size()) + " messages");
        if (shown.size() == 5) {
            p.Check(shown[0].text ==
                        "Cannot save selection: " + dir + "/game.bin.000 (" + reason + ")",
                    shown[0].text);
            p.Check(shown[2].text == "Cannot save binary: " + fifo + " (" + reason + ")",
                    shown[2].text);
            p.Check(shown[4].text == "Cannot save image: " + fifo + " (" + reason + ")",
                    shown[4].text);
        }
        return p.text;
    });
    EXPECT_EQ(report, "");
    struct stat info;
    for (const std::string& path : {fifo, dir + "/game.bin.000"}) {
        ASSERT_EQ(lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISFIFO(info.st_mode)) << path;
    }
}

// ---- Folders that cannot be written, files that cannot be read -------------------------------

TEST_F(FaultTest, ReadOnlyFolderAndUnreadableDropAsAnOrdinaryUser) {
    const std::string game = MakeFile("game.bin", Pattern(4096));
    MakeFile("old.bin", "old");
    MakeFile("old.png", "old");
    const std::string locked = MakeFile("locked.bin", "secret");
    chmod(locked.c_str(), 0);
    const Tree before = Snapshot(dir);

    // The folder belongs to root; the child is uid 65534.
    std::string report = RunInChild(true, [&] {
        Problems p;
        Drop(game);
        p.Check(state.fileSize == 4096, "game.bin was not loaded");
        SelectTallSprite();
        Backend().dialogs.clear();
        SaveSelected();
        SaveBinary("4096", dir + "/old.bin");
        SaveImage(dir + "/old.png");
        auto shown = Messages();
        const std::string reason = "Permission denied";
        p.Check(shown.size() == 5, "expected three reports and two questions");
        if (shown.size() == 5) {
            p.Check(shown[0].text == "Cannot save selection: " + game + ".000 (" + reason + ")",
                    shown[0].text);
            p.Check(shown[2].text == "Cannot save binary: " + dir + "/old.bin (" + reason + ")",
                    shown[2].text);
            p.Check(shown[4].text == "Cannot save image: " + dir + "/old.png (" + reason + ")",
                    shown[4].text);
        }

        // A file it may not read, dropped over the loaded one.
        const std::vector<uint8_t> canvas = session.CanvasBytes();
        tk::SetControlState(RowScroller, 2);
        RedrawView();
        const std::vector<uint8_t> scrolled = session.CanvasBytes();
        const std::string title = session.Title();
        const std::string shownPath = state.loadedPath; // "Save image.." named old.png
        Backend().dialogs.clear();
        Drop(locked);
        shown = Messages();
        p.Check(shown.size() == 1 && shown[0].title == "Information" &&
                    shown[0].text == "Couldn't open the file!",
                "no \"Couldn't open the file!\" for a file of mode 000");
        p.Check(Held() == Pattern(4096), "the loaded bytes were lost");
        p.Check(state.loadedPath == shownPath, "the path became " + state.loadedPath);
        p.Check(tk::GetControlState(RowScroller) == 2, "the row position was reset");
        p.Check(session.CanvasBytes() == scrolled && session.Title() == title, "the view changed");
        p.Check(canvas != scrolled, "scrolling changed nothing (the check above proves nothing)");
        p.Check(state.quitRequested == 0, "the program ended");
        return p.text;
    });
    if (report.rfind("SKIP", 0) == 0) GTEST_SKIP() << report;
    EXPECT_EQ(report, "");
    EXPECT_EQ(Snapshot(dir), before);
}

TEST_F(FaultTest, DirectoryUnderEachTargetNameIsReportedAndKeepsItsContents) {
    Drop(MakeFile("game.bin", Pattern(4096)));
    SelectTallSprite();
    for (const char* name : {"game.bin.000", "out.bin", "pic.png"}) {
        ASSERT_EQ(mkdir((dir + "/" + name).c_str(), 0755), 0);
        MakeFile(std::string(name) + "/inside", "keep");
    }
    const Tree before = Snapshot(dir);
    SaveSelected();
    SaveBinary("16", dir + "/out.bin");
    SaveImage(dir + "/pic.png");
    EXPECT_EQ(state.quitRequested, 0);
    auto shown = Messages();
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].text, "Cannot save selection: " + dir + "/game.bin.000 (Is a directory)");
    EXPECT_EQ(shown[2].text, "Cannot save binary: " + dir + "/out.bin (Is a directory)");
    EXPECT_EQ(shown[4].text, "Cannot save image: " + dir + "/pic.png (Is a directory)");
    EXPECT_EQ(Snapshot(dir), before);
}

// ---- Files that change while they are loaded ---------------------------------------------------

TEST_F(FaultTest, FileChangedBetweenTheSizeQueryAndTheRead) {
    const std::string original = Pattern(100000);
    const std::string path = MakeFile("moving.bin", original);
    {
        // Cut to a third once the loader has opened it: only the bytes still there count.
        FileGate gate(path, FileGate::At::Open, [&](int) { truncate(path.c_str(), 33333); });
        if (!gate.ok()) GTEST_SKIP() << "fanotify permission events are not available";
        Drop(path);
    }
    EXPECT_EQ(state.fileSize, 33333);
    EXPECT_TRUE(Held() == original.substr(0, 33333));
    EXPECT_EQ(tk::GetControlAttribute(RowScroller, tk::Maximum), 33333);

    {
        // Emptied at the first read: nothing is held, as for an empty file, and nothing is said.
        WriteAll(path, original);
        FileGate gate(path, FileGate::At::Read, [&](int) { truncate(path.c_str(), 0); });
        ASSERT_TRUE(gate.ok());
        Drop(path);
    }
    EXPECT_TRUE(state.fileBuffer.empty());
    EXPECT_EQ(state.fileSize, 0);
    EXPECT_EQ(tk::GetControlAttribute(RowScroller, tk::Maximum), 0);

    {
        // Its name removed once it is open: the open file still holds every byte.
        WriteAll(path, original);
        FileGate gate(path, FileGate::At::Open, [&](int) { unlink(path.c_str()); });
        ASSERT_TRUE(gate.ok());
        Drop(path);
    }
    EXPECT_TRUE(Held() == original);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(state.quitRequested, 0);
}

TEST_F(FaultTest, FileGrowingWhileItIsReadGivesTheQueriedSize) {
    const std::string original = Pattern(300000);
    const std::string path = MakeFile("growing.bin", original);
    {
        // A megabyte appended before the first read goes through.
        FileGate gate(path, FileGate::At::Read, [&](int fd) {
            std::string more(1 << 20, '\x5a');
            if (pwrite(fd, more.data(), more.size(), static_cast<off_t>(original.size())) < 0)
                _exit(2);
        });
        if (!gate.ok()) GTEST_SKIP() << "fanotify permission events are not available";
        Drop(path);
    }
    EXPECT_EQ(state.fileSize, 300000);
    EXPECT_TRUE(Held() == original);

    // Another process appending in a loop while the file is read again and again.
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        int fd = open(path.c_str(), O_WRONLY | O_APPEND);
        std::string chunk(8192, '\x33');
        for (int i = 0; i < 20000 && fd >= 0; ++i)
            if (write(fd, chunk.data(), chunk.size()) < 0) break;
        _exit(0);
    }
    for (int i = 0; i < 20; ++i) {
        struct stat info;
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        Drop(path);
        ASSERT_GE(state.fileSize, 300000);
        ASSERT_EQ(state.fileBuffer.size, state.fileSize) << "bytes held beyond the file size";
        ASSERT_TRUE(Held().substr(0, 300000) == original);
    }
    waitpid(writer, nullptr, 0);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FaultTest, OpenRefusedAfterTheSizeQuery) {
    const std::string good = MakeFile("good.bin", Pattern(500));
    Drop(good);
    const std::string path = MakeFile("guarded.bin", Pattern(800));
    {
        FileGate gate(
            path, FileGate::At::Open, [](int) {}, /*deny=*/true);
        if (!gate.ok()) GTEST_SKIP() << "fanotify permission events are not available";
        Drop(path);
    }
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "Couldn't open the file!");
    EXPECT_TRUE(Held() == Pattern(500));
    EXPECT_EQ(state.loadedPath, good);
    EXPECT_EQ(state.quitRequested, 0);

    // The same at start-up: the tool ends with code 1 and says why.
    FileGate gate(
        path, FileGate::At::Open, [](int) {}, /*deny=*/true);
    ASSERT_TRUE(gate.ok());
    ProgramRun run = RunProgram({BatchTool(), path}, dir, 20);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Couldn't open the file!"), std::string::npos) << run.err;
}

// ---- FIFOs and devices as input ----------------------------------------------------------------

TEST_F(FaultTest, FifoAndEndlessDeviceNeverHang) {
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_TRUE(std::filesystem::exists(BatchTool())) << "build pixmole-batch first";

    // At start-up through the batch tool: refused with code 1, in time. With nobody at the
    // other end of the FIFO, and with a writer that keeps it open and never writes.
    int holder = -1;
    for (int pass = 0; pass < 2; ++pass) {
        for (const std::string& input : {fifo, std::string("/dev/zero")}) {
            SCOPED_TRACE(input + (pass ? " (writer present)" : ""));
            ProgramRun run = RunProgram({BatchTool(), input}, dir, 20);
            ASSERT_TRUE(run.finished) << "pixmole-batch hung";
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_NE(run.err.find("Couldn't open the file!"), std::string::npos) << run.err;
        }
        holder = open(fifo.c_str(), O_RDWR);
        ASSERT_GE(holder, 0);
    }

    // The viewer's own start-up passes over them: their size is not above 0.
    for (const std::string& input : {fifo, std::string("/dev/zero")}) {
        tk::SetCommandLineText("pixmole \"" + input + "\"");
        LoadStartupFile();
    }
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(StartupExitCode(), 0);

    // Dropped over a loaded file: told, and the file stays.
    const std::string good = MakeFile("good.bin", Pattern(700));
    Drop(good);
    for (const std::string& input : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(input);
        Backend().dialogs.clear();
        Drop(input);
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].text, "Couldn't open the file!");
        EXPECT_TRUE(Held() == Pattern(700));
        EXPECT_EQ(state.loadedPath, good);
        EXPECT_EQ(state.quitRequested, 0);
    }
    close(holder);
}

// ---- Awkward names -----------------------------------------------------------------------------

TEST_F(FaultTest, PathsWithSpacesQuotesLineFeedsAndNonUtf8Bytes) {
    const std::string folder = dir + "/a folder 'with' \"quotes\"";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string name = "line\nfeed \xff\xfe\x80 \"x\".bin";
    const std::string path = folder + "/" + name;
    WriteAll(path, Pattern(4096));

    for (bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "dropped" : "opened");
        Drop(MakeFile("other.bin", "other"));
        if (dropped)
            Drop(path);
        else
            Open(path);
        EXPECT_EQ(state.loadedPath, path);
        EXPECT_TRUE(Held() == Pattern(4096));
        EXPECT_EQ(tk::CurrentDirectory(), folder + "/");
    }

    // "Save selected" beside it, "Save binary.." to another such name.
    SelectTallSprite();
    SaveSelected();
    auto bits = ReadAll(path + ".000");
    ASSERT_TRUE(bits);
    EXPECT_EQ(bits->size(), 962u);
    EXPECT_EQ(bits->substr(0, 4), Pattern(4096).substr(0, 4));
    const std::string target = folder + "/out \"\n\xc3\x28'.bin";
    SaveBinary("10", target);
    EXPECT_EQ(ReadAll(target), Pattern(4096).substr(0, 10));
    EXPECT_TRUE(Messages().empty());

    // The batch tool, given the name as one argument.
    ProgramRun run = RunProgram({BatchTool(), path, "--width", "2", "--select", "0,0,15,0",
                                 "--bits", folder + "/bits \n\xff"},
                                dir, 60);
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
    Backend().ScriptMenu(MainWindow, MenuSaveBinary);
    Drain();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "1st load file!");
    EXPECT_EQ(Snapshot(dir), before);
    EXPECT_EQ(state.quitRequested, 0);
}

TEST_F(FaultTest, TwoGibibytesAreRefusedOneByteLessIsTaken) {
    const std::string good = MakeFile("good.bin", Pattern(3000));
    Drop(good);
    tk::SetControlState(RowScroller, 4);
    RedrawView();
    const std::vector<uint8_t> canvas = session.CanvasBytes();
    const std::string title = session.Title();

    Drop(MakeSparseFile("limit.bin", int64_t{1} << 31));
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text.rfind("This file is too large: 2147483648 bytes.", 0), 0u);
    EXPECT_TRUE(Held() == Pattern(3000));
    EXPECT_EQ(state.loadedPath, good);
    EXPECT_EQ(tk::GetControlState(RowScroller), 4);
    EXPECT_EQ(session.CanvasBytes(), canvas);
    EXPECT_EQ(session.Title(), title);
    EXPECT_EQ(state.quitRequested, 0);

    // One byte less passes the size check. Loading it for real would need 2 GiB, so the child's
    // address space is kept too small: the memory message shows that the load was attempted.
    const std::string below = MakeSparseFile("below.bin", (int64_t{1} << 31) - 1);
    std::string report = RunInChild(false, [&] {
        Problems p;
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1) return std::string("no statm");
        std::fclose(statm);
        rlim_t room = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (rlim_t{256} << 20);
        struct rlimit limit = {room, room};
        if (setrlimit(RLIMIT_AS, &limit) != 0) return std::string("no RLIMIT_AS");
        Backend().dialogs.clear();
        Drop(below);
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
    const std::string game = MakeFile("game.bin", Pattern(4096));
    Drop(game);
    SelectTallSprite();
    for (int n = 0; n < 1000; ++n) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".%03d", n);
        WriteAll(game + suffix, std::to_string(n));
    }
    const Tree before = Snapshot(dir);
    SaveSelected();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].text.find(game + ".000"), std::string::npos);
    EXPECT_NE(Messages()[0].text.find(game + ".999"), std::string::npos);
    EXPECT_EQ(Snapshot(dir), before);

    // With the last name a folder instead, the search ends there and the creation is refused.
    ASSERT_EQ(unlink((game + ".999").c_str()), 0);
    ASSERT_EQ(mkdir((game + ".999").c_str(), 0755), 0);
    const Tree withFolder = Snapshot(dir);
    Backend().dialogs.clear();
    SaveSelected();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "Cannot save selection: " + game + ".999 (Is a directory)");
    EXPECT_EQ(Snapshot(dir), withFolder);
    EXPECT_EQ(state.quitRequested, 0);
}

} // namespace
