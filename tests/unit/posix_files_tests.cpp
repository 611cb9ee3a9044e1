// Files under POSIX: the mode and the links of a replaced file, a FIFO written as it is, a folder
// that takes the target's name meanwhile, two slots on one file.
// Full disks, read-only folders and nodes under the target name are the fault-injection tests'.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/running_toolkit.h"
#include "tests/support/test_files.h"
#include "toolkit/runtime.h"

using namespace tk;

using Names = std::vector<std::string>;

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

int Replace(const std::string& path, const std::string& bytes) { // CloseFileSlot's answer
    if (CreateReplacingFile(1, path) == 0) return -1;
    for (char c : bytes) WriteByteTo(1, c);
    return CloseFileSlot(1);
}

TEST(PosixFiles, AReplacedFileKeepsItsModeAndLinksAndAFifoIsWrittenAsItIs) {
    pmtest::RunningToolkit toolkit;
    pmtest::TempDir dir;
    const std::string target = pmtest::WriteFile(dir / "real", "old");
    ASSERT_EQ(chmod(target.c_str(), 0640) | symlink("real", (dir / "link").c_str()), 0);
    EXPECT_EQ(Replace(dir / "link", "new"), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
    EXPECT_EQ(pmtest::ReadFile(target), "new");
    EXPECT_EQ(ModeOf(target), 0640u);
    const mode_t mask = umask(027); // a new file gets the usual permissions
    EXPECT_EQ(Replace(dir / "fresh", ""), 1);
    umask(mask);
    EXPECT_EQ(ModeOf(dir / "fresh"), 0640u);

    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const int reader = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(Replace(dir / "fifo", "pipe"), 1);
    char got[8] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 4);
    close(reader);
    EXPECT_STREQ(got, "pipe");
    // A folder that takes the target's name while the file is written: the rename fails.
    ASSERT_NE(CreateReplacingFile(1, dir / "late"), 0);
    pmtest::WriteFile(dir / "late/inside", "");
    EXPECT_EQ(CloseFileSlot(1), 0);
    EXPECT_NE(FileSlotError(1), "");
    EXPECT_EQ(pmtest::Entries(dir.path()), (Names{"fifo", "fresh", "late", "link", "real"}));
}

// Two slots on one file (which Windows does not share): each continues where the other stopped.
TEST(PosixFiles, ASlotSwitchingBetweenReadingAndWritingContinuesWhereItStopped) {
    pmtest::RunningToolkit toolkit;
    pmtest::TempDir dir;
    ASSERT_NE(CreateOutputFile(2, dir / "rw") * CreateOutputFile(3, dir / "rw"), 0);
    for (char c : std::string("0123456789")) WriteByteTo(2, c);
    ASSERT_EQ(CloseFileSlot(2), 1);
    EXPECT_EQ(pmtest::ReadFromSlot(3, 3), "012"); // the refill read all ten bytes ahead
    WriteByteTo(3, 'X');                          // lands at offset 3, not at the end
    EXPECT_EQ(pmtest::ReadFromSlot(3, 2), "45");  // the pending X is written before reading on
    WriteByteTo(3, 'Y');
    ASSERT_NE(CreateOutputFile(3, dir / "other"), 0) << "a second create flushes the first file";
    EXPECT_EQ(pmtest::ReadFile(dir / "rw"), "012X45Y789");
}
