// Loading files: directory changes, the row scroll bar reset, and the files that are refused
// (not openable, not regular, too large, no memory) without losing the file on display.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/window.h"
#include "viewer/loader.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

// Lets a failed allocation return null under AddressSanitizer, as it does without it.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

using namespace viewer;

namespace {

class LoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        alarm(60); // a load that blocks (a FIFO opened for reading) must fail, not hang
        ASSERT_NE(tk::InitToolkit(&backend), 0);
        ASSERT_TRUE(CreateMainWindowAndControls());
        char tmpl[] = "/tmp/pixmole-loader-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = std::filesystem::canonical(tmpl);
        ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    }
    void TearDown() override {
        ShutDownViewer();
        std::filesystem::current_path(cwd);
        std::filesystem::remove_all(dir);
        alarm(0);
    }

    std::string MakeFile(const std::string& name, const std::string& bytes) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string MakeSparseFile(const std::string& name, uintmax_t size) {
        std::string path = MakeFile(name, "");
        std::filesystem::resize_file(path, size);
        return path;
    }
    static std::string Pattern(size_t n) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
        return s;
    }
    std::string Held() const {
        if (state.fileBuffer.empty()) return std::string();
        return std::string(reinterpret_cast<const char*>(state.fileBuffer.get()),
                           static_cast<size_t>(state.fileSize));
    }
    // Loads as a drop does: loadedPath first, then the load of it. False when the program
    // would have to end.
    bool Drop(const std::string& path) {
        state.loadedPath = path;
        last = LoadBinaryFile(state.loadedPath);
        return last != LoadOutcome::EndProgram;
    }
    bool LastLoadRefused() const { return last == LoadOutcome::Refused; }
    std::vector<pmtest::ScriptedBackend::DialogRecord> Messages() const {
        std::vector<pmtest::ScriptedBackend::DialogRecord> found;
        for (const auto& d : backend.dialogs)
            if (d.kind == "message") found.push_back(d);
        return found;
    }

    pmtest::ScriptedBackend backend;
    LoadOutcome last = LoadOutcome::Loaded;
    std::string dir;
    std::filesystem::path cwd = std::filesystem::current_path();
};

TEST_F(LoaderTest, LoadTakesEveryByteMakesTheDirectoryCurrentAndResetsTheRowScroller) {
    std::string bytes = Pattern(1000);
    std::string path = MakeFile("sub/a.bin", bytes);
    tk::SetControlState(RowScroller, 40);
    ASSERT_TRUE(Drop(path));
    EXPECT_EQ(tk::CurrentDirectory(), dir + "/sub/");
    EXPECT_EQ(state.fileSize, 1000);
    EXPECT_EQ(Held(), bytes);
    EXPECT_EQ(tk::GetControlState(RowScroller), 0);
    EXPECT_EQ(tk::GetControlAttribute(RowScroller, tk::Maximum), 1000);
    EXPECT_EQ(tk::GetControlAttribute(RowScroller, tk::PageLength), 2); // T(1000 / 481)
    EXPECT_FALSE(LastLoadRefused());

    // A name without any separator is looked up in the current directory, which stays.
    MakeFile("sub/b.bin", "xyz");
    ASSERT_TRUE(Drop("b.bin"));
    EXPECT_EQ(tk::CurrentDirectory(), dir + "/sub/");
    EXPECT_EQ(Held(), "xyz");
    EXPECT_EQ(tk::GetControlAttribute(RowScroller, tk::PageLength), 0);

    // A relative path with a directory names the same file before and after the change.
    ASSERT_EQ(chdir(dir.c_str()), 0);
    ASSERT_TRUE(Drop("sub/b.bin"));
    EXPECT_EQ(Held(), "xyz");
    EXPECT_EQ(tk::CurrentDirectory(), dir + "/sub/");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(LoaderTest, MissingFileAfterAGoodOneEmptiesTheViewSilently) {
    ASSERT_TRUE(Drop(MakeFile("a.bin", Pattern(5000))));
    tk::SetControlState(RowScroller, 7);
    ASSERT_TRUE(Drop(dir + "/sub/missing.bin"));
    EXPECT_EQ(state.fileSize, 0);
    EXPECT_EQ(tk::GetControlState(RowScroller), 0);
    EXPECT_EQ(tk::GetControlAttribute(RowScroller, tk::Maximum), 0);
    EXPECT_EQ(tk::CurrentDirectory(), dir + "/sub/");
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(LastLoadRefused()); // a missing file empties the view: nothing is kept
    RedrawView();
    ASSERT_NE(tk::BeginDrawing(tk::CanvasSurface(CanvasView)), 0);
    EXPECT_EQ(tk::ReadPixel(0, 0), tk::MakeColour(0, 0, 255));
    tk::EndDrawing();
}

TEST_F(LoaderTest, RefusedDropKeepsTheFileTheViewAndTheDirectory) {
    std::string good = MakeFile("sub/good.bin", Pattern(3000));
    ASSERT_TRUE(Drop(good));
    tk::SetControlState(RowScroller, 3);
    mkfifo((dir + "/fifo").c_str(), 0644);
    std::string unreadable = MakeFile("locked.bin", "secret");
    chmod(unreadable.c_str(), 0);

    std::vector<std::string> refused = {dir, dir + "/fifo", "/dev/null"};
    if (geteuid() != 0) refused.push_back(unreadable); // root reads any file
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        backend.dialogs.clear();
        EXPECT_TRUE(Drop(path)); // the program goes on
        auto shown = Messages();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, "Couldn't open the file!");
        EXPECT_EQ(Held(), Pattern(3000));
        EXPECT_EQ(tk::GetControlState(RowScroller), 3);
        EXPECT_EQ(tk::CurrentDirectory(), dir + "/sub/");
        EXPECT_TRUE(LastLoadRefused()); // the caller keeps its previous path
    }
}

TEST_F(LoaderTest, StartUpLoadsTheFirstParameterOrEndsWithCodeOne) {
    mkfifo((dir + "/fifo").c_str(), 0644);

    // At start-up only a size above 0 leads to a load: a FIFO and a directory are passed over.
    for (std::string skipped : {dir + "/fifo", dir}) {
        tk::SetCommandLineText("pixmole \"" + skipped + "\"");
        EXPECT_TRUE(LoadStartupFile()) << "the program goes on";
        EXPECT_TRUE(Messages().empty());
    }
    // Asked to load one directly (as the batch tool does), it is refused with code 1.
    EXPECT_EQ(LoadBinaryFile(dir + "/fifo", true), LoadOutcome::EndProgram);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "Couldn't open the file!");

    // The first parameter is loaded and its path kept absolute.
    std::string bytes = Pattern(600);
    MakeFile("sub/my file.bin", bytes);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    tk::SetCommandLineText("pixmole \"sub/my file.bin\" other");
    LoadStartupFile();
    EXPECT_EQ(Held(), bytes);
    EXPECT_EQ(state.loadedPath, dir + "/sub/my file.bin");
    EXPECT_EQ(tk::CurrentDirectory(), dir + "/sub/");

    // Without a parameter nothing happens.
    tk::SetCommandLineText("pixmole");
    LoadStartupFile();
    EXPECT_EQ(Held(), bytes);
}

TEST_F(LoaderTest, NoMemoryForTheFileIsReportedAndNothingIsHeld) {
    std::string big = MakeSparseFile("big.bin", int64_t{1} << 30);
    ASSERT_TRUE(Drop(MakeFile("good.bin", Pattern(100))));
    // In a child whose address space cannot grow by a gibibyte.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1) _exit(10);
        std::fclose(statm);
        rlim_t room = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (rlim_t{256} << 20);
        struct rlimit limit = {room, room};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(11);
        backend.dialogs.clear();
        state.loadedPath = big;
        if (LoadBinaryFile(state.loadedPath) == LoadOutcome::EndProgram) _exit(12);
        if (state.fileSize != 0) _exit(13);
        if (backend.dialogs.size() != 1 ||
            backend.dialogs[0].text != "Not enough memory to load 1073741824 bytes.")
            _exit(14);
        if (tk::GetControlAttribute(RowScroller, tk::Maximum) != 0) _exit(15);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
