// Files under POSIX: failures partway through a write, permissions, links, FIFOs, folders that
// refuse the write, and large blocks going back to the system.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "tests/support/processes.h"
#include "tests/support/running_toolkit.h"
#include "tests/support/test_files.h"
#include "toolkit/drawing.h"
#include "toolkit/png_writer.h"
#include "toolkit/runtime.h"

namespace tk {
namespace {

using Names = std::vector<std::string>;
using pmtest::ReadFile;
using pmtest::WriteFile;

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

class PosixFiles : public ::testing::Test {
  protected:
    pmtest::RunningToolkit toolkit;
    pmtest::TempDir dir;
    void SetUp() override { ASSERT_TRUE(toolkit.ok); }
    void TearDown() override { CloseAllFiles(); }
    void Write(int slot, const std::string& bytes) {
        for (char c : bytes) WriteByteTo(slot, c);
    }
};

TEST_F(PosixFiles, AFailedWriteIsReportedByCloseAndLeavesTheReplacedFileAsItWas) {
    const std::string target = WriteFile(dir / "target", pmtest::Pattern(5000));
    for (bool replacing : {false, true}) {
        ASSERT_NE(replacing ? CreateReplacingFile(1, target) : CreateOutputFile(1, dir / "big"), 0);
        pmtest::FileSizeLimit limit(1000); // the write fails with EFBIG
        Write(1, pmtest::Pattern(10000));
        EXPECT_EQ(CloseFileSlot(1), 0);
        EXPECT_EQ(FileSlotError(1), std::strerror(EFBIG));
    }
    EXPECT_EQ(ReadFile(target), pmtest::Pattern(5000));
    EXPECT_EQ(pmtest::Entries(dir.path()), (Names{"big", "target"})) << "no temporary file left";
    ASSERT_NE(CreateOutputFile(1, dir / "big"), 0);
    EXPECT_EQ(FileSlotError(1), "") << "opening the slot again starts with a clean record";

    RegisterPngWriter();
    ASSERT_NE(NewImage(1, 641, 481, 24), 0);
    ASSERT_NE(BeginDrawing(ImageSurface(1)), 0);
    for (int x = 0; x < 641; ++x) FillBox(x, 0, 1, 481, MakeColour(x * 7, x * 13, x)); // no runs
    EndDrawing();
    {
        pmtest::FileSizeLimit limit(300);
        EXPECT_EQ(SaveImageAsPng(1, target), 0);
    }
    EXPECT_NE(LastImageWriteError().find(std::strerror(EFBIG)), std::string::npos);
    EXPECT_EQ(ReadFile(target), pmtest::Pattern(5000));
    EXPECT_EQ(SaveImageAsPng(1, target), 1) << "the same save works once the limit is gone";
    EXPECT_EQ(pmtest::Entries(dir.path()), (Names{"big", "target"}));
}

TEST_F(PosixFiles, AReplacedFileKeepsItsModeAndLinksAndAFifoIsWrittenDirectly) {
    const std::string target = WriteFile(dir / "real", "old");
    ASSERT_EQ(chmod(target.c_str(), 0640) | symlink("real", (dir / "link").c_str()), 0);
    ASSERT_NE(CreateReplacingFile(1, dir / "link"), 0);
    Write(1, "new");
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(ModeOf(target), 0640u);
    const mode_t mask = umask(027); // a new file gets the usual permissions
    ASSERT_NE(CreateReplacingFile(1, dir / "fresh"), 0);
    EXPECT_EQ(CloseFileSlot(1), 1);
    umask(mask);
    EXPECT_EQ(ModeOf(dir / "fresh"), 0640u);

    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_NE(OpenInputFile(0, dir / "fifo"), 0) << "no writer: the open returns at once";
    const int reader = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_NE(CreateReplacingFile(1, dir / "fifo"), 0);
    Write(1, "pipe");
    EXPECT_EQ(CloseFileSlot(1), 1);
    char got[8] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 4);
    close(reader);
    EXPECT_STREQ(got, "pipe");
    EXPECT_FALSE(IsRegularFile(dir / "fifo"));
    EXPECT_EQ(pmtest::Entries(dir.path()), (Names{"fifo", "fresh", "link", "real"}));
}

TEST_F(PosixFiles, FoldersRefuseOrTakeTheTargetsPlaceAndNothingIsLeft) {
    EXPECT_EQ(OpenInputFile(0, dir / "missing"), 0);
    EXPECT_EQ(LastOpenError(), std::strerror(ENOENT));
    ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
    EXPECT_EQ(CreateReplacingFile(1, dir / "folder"), 0);
    EXPECT_EQ(LastOpenError(), std::strerror(EISDIR));
    EXPECT_EQ(CreateReplacingFile(1, "/proc/pixmole-target"), 0); // refused whatever the user
    // A folder that takes the target's name while the file is written: the rename fails.
    ASSERT_NE(CreateReplacingFile(1, dir / "late"), 0);
    Write(1, "x");
    WriteFile(dir / "late/inside", "");
    EXPECT_EQ(CloseFileSlot(1), 0);
    EXPECT_NE(FileSlotError(1), "");
    EXPECT_EQ(pmtest::Entries(dir.path()), (Names{"folder", "late"}));

    const std::string sealed = dir / "sealed", target = WriteFile(sealed + "/target", "kept");
    ASSERT_EQ(chmod(sealed.c_str(), 0555) | chmod(dir.path().c_str(), 0755), 0);
    // Root ignores folder permissions: the attempt is made as an ordinary user in a child.
    const pid_t child = fork();
    if (child == 0)
        _exit((geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0)) &&
                      CreateReplacingFile(1, target) == 0 &&
                      LastOpenError() == std::strerror(EACCES)
                  ? 0
                  : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFile(target), "kept");
    EXPECT_EQ(pmtest::Entries(sealed), Names{"target"});
}

TEST(PosixMemory, LargeBlocksStartOnAHugePageAndGoBackToTheSystem) {
    const int64_t size = (int64_t{6} << 20) + 12345;
    MemoryBlock block = AllocateBlock(size);
    uint8_t* bytes = block.get();
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % (uintptr_t{2} << 20), 0u);
    bytes[size - 1] = 1;
    unsigned char resident[4096];
    EXPECT_EQ(mincore(bytes, size_t(size), resident), 0);
    FreeBlock(block);
    EXPECT_NE(mincore(bytes, size_t(size), resident), 0) << "no page of it is mapped any more";
}

} // namespace
} // namespace tk
