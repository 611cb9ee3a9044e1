#include "toolkit/runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tk;

namespace {

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Lowers the largest file size this process may write, with SIGXFSZ ignored so that writes past
// it fail with EFBIG instead of ending the process. Nothing may be printed while it is active.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedHandler_);
    }

  private:
    rlimit saved_{};
    void (*savedHandler_)(int) = SIG_DFL;
};

class RuntimeFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/pixmole-runtime-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        CloseAllFiles();
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir_, ignored);
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // Names in the folder other than the expected ones: leftover temporary files.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string ReadSlot(int slot, const std::vector<int64_t>& sizes) {
        std::string got;
        for (int64_t size : sizes) {
            std::string part(static_cast<size_t>(size), '\0');
            int64_t n = ReadBytes(slot, reinterpret_cast<uint8_t*>(part.data()), size);
            got += part.substr(0, static_cast<size_t>(n));
        }
        return got;
    }

    std::string dir_;
};

// ---- Buffered slots ---------------------------------------------------------------------------

TEST_F(RuntimeFiles, SingleByteWritesReachTheFileInOrder) {
    std::string path = Path("out.bin");
    WriteWholeFile(path, "old contents");
    ASSERT_NE(CreateOutputFile(1, path), 0);
    EXPECT_EQ(QueryFileSize(path), 0) << "an existing file is emptied at once";

    std::string expected = Pattern(10000);
    for (size_t i = 0; i < expected.size(); ++i) {
        // Only the low 8 bits count.
        EXPECT_EQ(WriteByteTo(1, static_cast<uint8_t>(expected[i]) | 0x300), 1);
    }
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_EQ(ReadWholeFile(path), expected);
    EXPECT_EQ(FileSlotError(1), "");
}

TEST_F(RuntimeFiles, SecondCreateOnASlotFlushesTheFirstFile) {
    ASSERT_NE(CreateOutputFile(2, Path("first")), 0);
    for (char c : std::string("abc")) WriteByteTo(2, c);
    ASSERT_NE(CreateOutputFile(2, Path("second")), 0);
    WriteByteTo(2, 'z');
    EXPECT_EQ(ReadWholeFile(Path("first")), "abc");
    EXPECT_EQ(CloseFileSlot(2), 1);
    EXPECT_EQ(ReadWholeFile(Path("second")), "z");
}

TEST_F(RuntimeFiles, SlotsThatAreNotOpenDoNothing) {
    uint8_t byte = 0;
    for (int slot : {-1, 3, 5000}) {
        EXPECT_EQ(ReadBytes(slot, &byte, 1), 0);
        EXPECT_EQ(WriteByteTo(slot, 1), 0);
        EXPECT_EQ(CloseFileSlot(slot), 0);
        EXPECT_EQ(FileSlotError(slot), "");
    }
    // A high number grows the table and then works like any other slot.
    ASSERT_NE(CreateOutputFile(300, Path("high")), 0);
    WriteByteTo(300, 'h');
    EXPECT_EQ(CloseFileSlot(300), 1);
    EXPECT_EQ(ReadWholeFile(Path("high")), "h");
    EXPECT_EQ(CloseFileSlot(300), 0) << "closing twice";
}

TEST_F(RuntimeFiles, ShortFileDeliversWhatItHas) {
    std::string bytes = Pattern(40);
    WriteWholeFile(Path("short"), bytes);
    ASSERT_NE(OpenInputFile(0, Path("short")), 0);
    std::vector<uint8_t> buffer(100, 0xEE);
    EXPECT_EQ(ReadBytes(0, buffer.data(), 100), 40);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 40), bytes);
    EXPECT_EQ(buffer[40], 0xEE);
    EXPECT_EQ(ReadBytes(0, buffer.data(), 100), 0);
    EXPECT_EQ(CloseFileSlot(0), 1);
}

TEST_F(RuntimeFiles, MixedReadSizesDeliverTheFileInOrder) {
    std::string bytes = Pattern(30000);
    WriteWholeFile(Path("data"), bytes);
    // Small reads served from the buffer, reads whose remainder bypasses it (>= 4096), a read of
    // exactly the buffer size, and a final read past the end.
    const std::vector<std::vector<int64_t>> plans = {
        {10, 9000, 1, 3000, 4096, 1, 4095, 100000},
        {4096, 4096, 1, 4094, 1, 1, 5000, 100000},
        {30000},
        {1, 29999, 1},
    };
    for (const auto& plan : plans) {
        ASSERT_NE(OpenInputFile(0, Path("data")), 0);
        EXPECT_EQ(ReadSlot(0, plan), bytes) << "plan starting with " << plan[0];
    }
}

TEST_F(RuntimeFiles, SwitchingModesContinuesWhereTheOtherStopped) {
    std::string path = Path("rw");
    ASSERT_NE(CreateOutputFile(1, path), 0);
    ASSERT_NE(CreateOutputFile(2, path), 0); // a second descriptor, at offset 0
    for (char c : std::string("0123456789")) WriteByteTo(1, c);
    ASSERT_EQ(CloseFileSlot(1), 1);

    EXPECT_EQ(ReadSlot(2, {3}), "012"); // the refill read all ten bytes ahead
    WriteByteTo(2, 'X');                // lands at offset 3, not at the end
    EXPECT_EQ(ReadSlot(2, {2}), "45");  // the pending X is written before reading on
    WriteByteTo(2, 'Y');
    EXPECT_EQ(CloseFileSlot(2), 1);
    EXPECT_EQ(ReadWholeFile(path), "012X45Y789");
}

TEST_F(RuntimeFiles, OpenFailuresGiveTheSystemsReason) {
    EXPECT_EQ(OpenInputFile(0, Path("missing")), 0);
    EXPECT_EQ(LastOpenError(), std::strerror(ENOENT));
    EXPECT_EQ(ReadBytes(0, nullptr, 0), 0);
    EXPECT_EQ(OpenInputFile(0, dir_), 0) << "a directory is not a file to read";
    EXPECT_EQ(LastOpenError(), std::strerror(EISDIR));
    EXPECT_EQ(CreateOutputFile(1, Path("no/such/folder")), 0);
    EXPECT_EQ(LastOpenError(), std::strerror(ENOENT));
    EXPECT_EQ(WriteByteTo(1, 0), 0);
    EXPECT_EQ(OpenInputFile(0, ""), 0);

    // Opening a FIFO that nobody writes to returns at once instead of waiting for a writer.
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_NE(OpenInputFile(0, Path("fifo")), 0);
    EXPECT_EQ(CloseFileSlot(0), 1);
}

TEST_F(RuntimeFiles, WriteFailureIsReportedByClose) {
    std::string path = Path("big");
    ASSERT_NE(CreateOutputFile(1, path), 0);
    int closed;
    {
        FileSizeLimit limit(1000);
        for (int i = 0; i < 10000; ++i) WriteByteTo(1, i);
        closed = CloseFileSlot(1);
    }
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(FileSlotError(1), std::strerror(EFBIG));
    // Opening the slot again starts with a clean record.
    ASSERT_NE(CreateOutputFile(1, path), 0);
    EXPECT_EQ(FileSlotError(1), "");
    EXPECT_EQ(CloseFileSlot(1), 1);
}

// ---- Replacing files --------------------------------------------------------------------------

TEST_F(RuntimeFiles, ReplacingFileAppearsOnlyWhenClosed) {
    std::string path = Path("target");
    WriteWholeFile(path, "previous");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_NE(CreateReplacingFile(1, path), 0);
    std::string expected = Pattern(9000);
    for (char c : expected) WriteByteTo(1, c);
    EXPECT_EQ(ReadWholeFile(path), "previous");
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_EQ(ReadWholeFile(path), expected);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(Names(), std::vector<std::string>{"target"});

    // A new file gets the usual permissions.
    mode_t mask = umask(022);
    ASSERT_NE(CreateReplacingFile(1, Path("fresh")), 0);
    WriteByteTo(1, 'f');
    EXPECT_EQ(CloseFileSlot(1), 1);
    umask(mask);
    ASSERT_EQ(stat(Path("fresh").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(RuntimeFiles, ReplacingFollowsLinksAndKeepsRelativeTargets) {
    WriteWholeFile(Path("real"), "old");
    ASSERT_EQ(symlink("real", Path("link").c_str()), 0);
    ASSERT_NE(CreateReplacingFile(1, Path("link")), 0);
    WriteByteTo(1, 'n');
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_TRUE(fs::is_symlink(Path("link")));
    EXPECT_EQ(ReadWholeFile(Path("real")), "n");

    // A relative target names the file in the folder current at creation, even when the current
    // folder changes before closing.
    std::string saved = CurrentDirectory();
    ASSERT_EQ(ChangeDirectory(dir_), 1);
    ASSERT_NE(CreateReplacingFile(1, "relative"), 0);
    ASSERT_EQ(ChangeDirectory("/"), 1);
    WriteByteTo(1, 'r');
    EXPECT_EQ(CloseFileSlot(1), 1);
    ChangeDirectory(saved);
    EXPECT_EQ(ReadWholeFile(Path("relative")), "r");
}

TEST_F(RuntimeFiles, FailedReplacementLeavesTargetUntouched) {
    std::string path = Path("target");
    std::string original = Pattern(5000);
    WriteWholeFile(path, original);
    ASSERT_NE(CreateReplacingFile(1, path), 0);
    int closed;
    {
        FileSizeLimit limit(1000);
        for (int i = 0; i < 10000; ++i) WriteByteTo(1, i + 1);
        closed = CloseFileSlot(1);
    }
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(FileSlotError(1), std::strerror(EFBIG));
    EXPECT_EQ(ReadWholeFile(path), original);
    EXPECT_EQ(Names(), std::vector<std::string>{"target"}) << "the temporary file is removed";
}

TEST_F(RuntimeFiles, ReplacingADirectoryFails) {
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
    EXPECT_EQ(CreateReplacingFile(1, Path("folder")), 0);
    EXPECT_EQ(LastOpenError(), std::strerror(EISDIR));
    EXPECT_EQ(WriteByteTo(1, 0), 0);

    // A directory that takes the target's name while the file is written: the rename fails.
    ASSERT_NE(CreateReplacingFile(1, Path("late")), 0);
    WriteByteTo(1, 'x');
    ASSERT_EQ(mkdir(Path("late").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Path("late/inside").c_str(), 0755), 0);
    EXPECT_EQ(CloseFileSlot(1), 0);
    EXPECT_NE(FileSlotError(1), "");
    EXPECT_TRUE(fs::is_directory(Path("late/inside")));
    EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "late"}));
}

TEST_F(RuntimeFiles, ReplacingInAFolderThatCannotBeWrittenFails) {
    // /proc refuses new files whatever the user.
    EXPECT_EQ(CreateReplacingFile(1, "/proc/pixmole-target"), 0);
    EXPECT_NE(LastOpenError(), "");
    EXPECT_EQ(CloseFileSlot(1), 0);

    std::string path = Path("sealed/target");
    ASSERT_EQ(mkdir(Path("sealed").c_str(), 0755), 0);
    WriteWholeFile(path, "kept");
    ASSERT_EQ(chmod(Path("sealed").c_str(), 0555), 0);
    auto attempt = [&] {
        return CreateReplacingFile(1, path) == 0 && LastOpenError() == std::strerror(EACCES);
    };
    if (geteuid() != 0) {
        EXPECT_TRUE(attempt());
    } else {
        // Root ignores folder permissions: try as an ordinary user in a child process.
        ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) _exit(setgid(65534) == 0 && setuid(65534) == 0 && attempt() ? 0 : 1);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(ReadWholeFile(path), "kept");
    EXPECT_EQ(fs::directory_iterator(Path("sealed"))->path().filename(), "target");
}

TEST_F(RuntimeFiles, ReplacingAFifoWritesIntoIt) {
    std::string path = Path("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_NE(CreateReplacingFile(1, path), 0);
    for (char c : std::string("pipe")) WriteByteTo(1, c);
    EXPECT_EQ(CloseFileSlot(1), 1);
    char got[8] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 4);
    close(reader);
    EXPECT_STREQ(got, "pipe");
    EXPECT_EQ(Names(), std::vector<std::string>{"fifo"});
}

// ---- Paths and folders --------------------------------------------------------------------------

TEST_F(RuntimeFiles, QueryFileSizeTellsFilesFoldersAndNothingApart) {
    WriteWholeFile(Path("empty"), "");
    WriteWholeFile(Path("five.bin"), "12345");
    EXPECT_EQ(QueryFileSize(""), -1);
    EXPECT_EQ(QueryFileSize(Path("missing")), -1);
    EXPECT_EQ(QueryFileSize(Path("empty")), 0);
    EXPECT_EQ(QueryFileSize(Path("five.bin")), 5);
    EXPECT_EQ(QueryFileSize(dir_), -2);
    EXPECT_EQ(QueryFileSize(dir_ + "/"), -2);
    EXPECT_EQ(QueryFileSize(dir_ + "//"), -2);
    EXPECT_EQ(QueryFileSize("/"), -2);
    EXPECT_EQ(QueryFileSize(dir_ + "/../" + fs::path(dir_).filename().string()), -2);

    // Wildcards report the first match.
    EXPECT_EQ(QueryFileSize(Path("fi*.bin")), 5);
    EXPECT_EQ(QueryFileSize(Path("fiv?.bin")), 5);
    EXPECT_EQ(QueryFileSize(Path("*.none")), -1);
    ASSERT_EQ(mkdir(Path("afolder").c_str(), 0755), 0);
    EXPECT_EQ(QueryFileSize(Path("a*")), -2);

    // A long path is taken whole.
    std::string deep = dir_;
    for (int i = 0; i < 40; ++i) {
        deep += "/abcdefghij";
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    WriteWholeFile(deep + "/f", "xyz");
    EXPECT_EQ(QueryFileSize(deep + "/f"), 3);
    EXPECT_EQ(QueryFileSize(deep + "/"), -2);
}

TEST_F(RuntimeFiles, QueryFileSizeGivesTheFull64BitSize) {
    std::string path = Path("sparse");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const int64_t size = (int64_t{3} << 30) + 17;
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    EXPECT_EQ(QueryFileSize(path), size);
}

TEST_F(RuntimeFiles, IsRegularFileRefusesEverythingElse) {
    WriteWholeFile(Path("file"), "x");
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("file", Path("link").c_str()), 0);
    EXPECT_TRUE(IsRegularFile(Path("file")));
    EXPECT_TRUE(IsRegularFile(Path("link")));
    EXPECT_FALSE(IsRegularFile(Path("fifo")));
    EXPECT_FALSE(IsRegularFile(dir_));
    EXPECT_FALSE(IsRegularFile("/dev/null"));
    EXPECT_FALSE(IsRegularFile(Path("missing")));
    EXPECT_FALSE(IsRegularFile(""));
}

TEST_F(RuntimeFiles, CurrentDirectoryEndsInOneSeparator) {
    std::string saved = CurrentDirectory();
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(saved.back(), '/');
    ASSERT_EQ(ChangeDirectory(dir_), 1);
    EXPECT_EQ(CurrentDirectory(), fs::canonical(dir_).string() + "/");
    ASSERT_EQ(ChangeDirectory("/"), 1);
    EXPECT_EQ(CurrentDirectory(), "/");
    EXPECT_EQ(ChangeDirectory(""), 0);
    EXPECT_EQ(ChangeDirectory(Path("missing")), 0);
    EXPECT_EQ(CurrentDirectory(), "/");
    ChangeDirectory(saved);
}

TEST(RuntimePaths, FilePartOf) {
    EXPECT_EQ(FilePartOf("/data/game.bin"), "game.bin");
    EXPECT_EQ(FilePartOf("C:\\data\\game.bin"), "game.bin");
    EXPECT_EQ(FilePartOf("/data/"), "");
    EXPECT_EQ(FilePartOf("game.bin"), "game.bin");
    EXPECT_EQ(FilePartOf("\"game.bin\""), "game.bin");
    EXPECT_EQ(FilePartOf("\"/x y/my file.bin\" more"), "my file.bin");
    EXPECT_EQ(FilePartOf(""), "");
}

// ---- Command line -------------------------------------------------------------------------------

TEST(RuntimeCommandLine, Tokenizer) {
    using V = std::vector<Text>;
    EXPECT_EQ(TokenizeCommandLine("\"C:\\prog\\p.exe\" \"my file.bin\""),
              (V{"C:\\prog\\p.exe", "my file.bin"}));
    EXPECT_EQ(TokenizeCommandLine("  a   b  "), (V{"a", "b"}));
    EXPECT_EQ(TokenizeCommandLine("\"a b\"c"), (V{"a b", "c"}));
    EXPECT_EQ(TokenizeCommandLine("a\"b c\""), (V{"a\"b", "c\""}));
    EXPECT_EQ(TokenizeCommandLine("x \"\" y"), (V{"x", "", "y"}));
    EXPECT_EQ(TokenizeCommandLine("a\tb c\\d"), (V{"a\tb", "c\\d"}));
    EXPECT_EQ(TokenizeCommandLine("p \"open end"), (V{"p", "open end"}));
    EXPECT_EQ(TokenizeCommandLine(""), V{});
    EXPECT_EQ(TokenizeCommandLine("   "), V{});
}

TEST(RuntimeCommandLine, ParametersAndTheNextIndex) {
    SetCommandLineText("\"C:\\prog.exe\" \"my file.bin\"");
    EXPECT_EQ(CommandLineParameter(0), "my file.bin");
    SetCommandLineText("\"C:\\prog.exe\"");
    EXPECT_EQ(CommandLineParameter(0), "");

    SetCommandLineText("prog a b \"\" d");
    EXPECT_EQ(CommandLineParameter(-1), "a") << "the index starts at the first parameter";
    EXPECT_EQ(CommandLineParameter(-1), "b");
    EXPECT_EQ(CommandLineParameter(2), "");
    EXPECT_EQ(CommandLineParameter(-1), "d") << "empty quotes are a parameter that advances";
    EXPECT_EQ(CommandLineParameter(-1), "");
    EXPECT_EQ(CommandLineParameter(7), "");
    EXPECT_EQ(CommandLineParameter(0), "a");
    EXPECT_EQ(CommandLineParameter(-5), "b");

    char program[] = "/usr/bin/prog";
    char parameter[] = "two words";
    char* argv[] = {program, parameter, nullptr};
    SetCommandLine(2, argv);
    EXPECT_EQ(CommandLineParameter(0), "two words");
    EXPECT_EQ(CommandLineParameter(1), "");
    SetCommandLine(0, nullptr);
    EXPECT_EQ(CommandLineParameter(0), "");
}

// ---- Text and numbers ---------------------------------------------------------------------------

TEST(RuntimeNumbers, TextToInteger) {
    EXPECT_EQ(TextToInteger("  42"), 42);
    EXPECT_EQ(TextToInteger("-17x"), -17);
    EXPECT_EQ(TextToInteger("$ff"), 255);
    EXPECT_EQ(TextToInteger("$Ab"), 0xAB);
    EXPECT_EQ(TextToInteger("%101"), 5);
    EXPECT_EQ(TextToInteger("abc"), 0);
    EXPECT_EQ(TextToInteger("- 5"), 0);
    EXPECT_EQ(TextToInteger("\t+7"), 7);
    EXPECT_EQ(TextToInteger("--5"), 0);
    EXPECT_EQ(TextToInteger("-$10"), -16);
    EXPECT_EQ(TextToInteger("%1021"), 2);
    EXPECT_EQ(TextToInteger("$1g"), 1);
    EXPECT_EQ(TextToInteger("12 34"), 12);
    EXPECT_EQ(TextToInteger("$"), 0);
    EXPECT_EQ(TextToInteger(""), 0);
    // Wrapping modulo 2^64.
    EXPECT_EQ(TextToInteger("$FFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(TextToInteger("$10000000000000005"), 5);
    EXPECT_EQ(TextToInteger("18446744073709551616"), 0);
    EXPECT_EQ(TextToInteger("18446744073709551617"), 1);
    EXPECT_EQ(TextToInteger("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(TextToInteger("9223372036854775808"), INT64_MIN);
    EXPECT_EQ(TextToInteger("-9223372036854775808"), INT64_MIN);
}

TEST(RuntimeNumbers, IntegerToTextRoundTrips) {
    EXPECT_EQ(IntegerToText(0), "0");
    EXPECT_EQ(IntegerToText(-5), "-5");
    EXPECT_EQ(IntegerToText(1000), "1000");
    EXPECT_EQ(IntegerToText(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(IntegerToText(INT64_MAX), "9223372036854775807");
    for (int64_t v : {int64_t{1}, int64_t{-1}, int64_t{4096}, INT64_MIN, INT64_MAX}) {
        EXPECT_EQ(TextToInteger(IntegerToText(v)), v);
    }
}

TEST(RuntimeText, PadLeft) {
    EXPECT_EQ(PadLeft("7", 3, "0"), "007");
    EXPECT_EQ(PadLeft("1234", 3, "0"), "123");
    EXPECT_EQ(PadLeft("ab", 2, "0"), "ab");
    EXPECT_EQ(PadLeft("7", 3, ""), "  7");
    EXPECT_EQ(PadLeft("7", 3, "xy"), "xx7");
    EXPECT_EQ(PadLeft("abc", -1, "x"), "");
    EXPECT_EQ(PadLeft("", 2, "-"), "--");
}

TEST(RuntimeText, FieldOf) {
    EXPECT_EQ(FieldOf("a\nb", 1, "\n"), "a");
    EXPECT_EQ(FieldOf("a\nb", 2, "\n"), "b");
    EXPECT_EQ(FieldOf("a\nb", 3, "\n"), "");
    EXPECT_EQ(FieldOf("a\nb", 0, "\n"), "");
    EXPECT_EQ(FieldOf("a,,b,", 2, ","), "");
    EXPECT_EQ(FieldOf("a,,b,", 3, ","), "b");
    EXPECT_EQ(FieldOf("a,,b,", 4, ","), "");
    EXPECT_EQ(FieldOf("a,,b,", 5, ","), "");
    EXPECT_EQ(FieldOf("a:b::c", 1, "::"), "a:b");
    EXPECT_EQ(FieldOf("a:b::c", 2, "::"), "c");
    EXPECT_EQ(FieldOf("x:::y", 2, "::"), ":y");
    EXPECT_EQ(FieldOf("whole", 1, ""), "whole");
    EXPECT_EQ(FieldOf("whole", 2, ""), "");
}

TEST(RuntimeText, MiddleOfAndLength) {
    EXPECT_EQ(MiddleOf("abc", 2, 5), "bc");
    EXPECT_EQ(MiddleOf("abc", 0, 1), "a");
    EXPECT_EQ(MiddleOf("abc", -7, 2), "ab");
    EXPECT_EQ(MiddleOf("abc", 3, 1), "c");
    EXPECT_EQ(MiddleOf("abc", 4, 1), "");
    EXPECT_EQ(MiddleOf("abc", 2, -1), "");
    EXPECT_EQ(MiddleOf("abc", INT64_MAX, INT64_MAX), "");
    EXPECT_EQ(TextLength(""), 0);
    EXPECT_EQ(TextLength("abc"), 3);
}

TEST(RuntimeNumbers, TruncateToInteger) {
    EXPECT_EQ(T(480, 0), INT64_MIN);
    EXPECT_EQ(static_cast<int32_t>(T(480, 0)), 0);
    EXPECT_EQ(T(-480, 0), INT64_MIN);
    EXPECT_EQ(T(0, 0), INT64_MIN);
    EXPECT_EQ(T(7, 2), 3);
    EXPECT_EQ(T(-7, 2), -3);
    EXPECT_EQ(TruncateToInteger(2.9), 2);
    EXPECT_EQ(TruncateToInteger(-2.9), -2);
    EXPECT_EQ(TruncateToInteger(2.5), 2);
    EXPECT_EQ(TruncateToInteger(-0.5), 0);
    EXPECT_EQ(TruncateToInteger(1e300), INT64_MIN);
    EXPECT_EQ(TruncateToInteger(-1e300), INT64_MIN);
    EXPECT_EQ(TruncateToInteger(9223372036854775808.0), INT64_MIN);
    EXPECT_EQ(TruncateToInteger(-9223372036854775808.0), INT64_MIN);
    EXPECT_EQ(TruncateToInteger(9223372036854774784.0), INT64_C(9223372036854774784));
    EXPECT_EQ(TruncateToInteger(std::numeric_limits<double>::quiet_NaN()), INT64_MIN);
    EXPECT_EQ(TruncateToInteger(-std::numeric_limits<double>::infinity()), INT64_MIN);

    // The rounding mode does not matter.
    int saved = std::fegetround();
    for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TONEAREST}) {
        std::fesetround(mode);
        volatile double up = 2.9, down = -2.9, half = 2.5;
        EXPECT_EQ(TruncateToInteger(up), 2);
        EXPECT_EQ(TruncateToInteger(down), -2);
        EXPECT_EQ(TruncateToInteger(half), 2);
    }
    std::fesetround(saved);
}

// ---- Memory -------------------------------------------------------------------------------------

TEST(RuntimeMemory, BlocksAreZeroFilledOrEmpty) {
    EXPECT_TRUE(AllocateBlock(0).empty());
    EXPECT_TRUE(AllocateBlock(-5).empty());
    MemoryBlock block = AllocateBlock(10000);
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(block.size, 10000);
    for (int64_t i = 0; i < block.size; ++i) ASSERT_EQ(block.get()[i], 0) << i;
    FreeBlock(block);
    EXPECT_TRUE(block.empty());
    EXPECT_EQ(block.size, 0);
}

// True when any byte of [address, address + length) is mapped in this process.
bool AnyPageMapped(const uint8_t* address, size_t length) {
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t first = reinterpret_cast<uintptr_t>(address) / page * page;
    unsigned char resident = 0;
    for (uintptr_t at = first; at < reinterpret_cast<uintptr_t>(address) + length; at += page) {
        // mincore fails with ENOMEM exactly for addresses no mapping covers.
        if (::mincore(reinterpret_cast<void*>(at), page, &resident) == 0) return true;
    }
    return false;
}

TEST(RuntimeMemory, LargeBlocksAreZeroFilledWritableAndAligned) {
    // Sizes around the point where blocks stop coming from the heap, and odd ones whose last page
    // and last huge page are partly used.
    for (int64_t size : {int64_t{4} << 20, (int64_t{4} << 20) - 1, (int64_t{6} << 20) + 12345,
                         (int64_t{16} << 20) + 1}) {
        SCOPED_TRACE(size);
        MemoryBlock block = AllocateBlock(size);
        ASSERT_FALSE(block.empty());
        EXPECT_EQ(block.size, size);
        uint8_t* bytes = block.get();
        if (size >= (int64_t{4} << 20)) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % (uintptr_t{2} << 20), 0u)
                << "large blocks start on a huge page boundary";
        }
        EXPECT_EQ(std::count(bytes, bytes + size, uint8_t{0}), size);
        // Every byte, the last one included, can be written and read back.
        for (int64_t i = 0; i < size; i += 4093) bytes[i] = static_cast<uint8_t>(i | 1);
        bytes[size - 1] = 0xA5;
        for (int64_t i = 0; i < size; i += 4093) ASSERT_EQ(bytes[i], static_cast<uint8_t>(i | 1));
        EXPECT_EQ(bytes[size - 1], 0xA5);
        FreeBlock(block);
        EXPECT_TRUE(block.empty());
        EXPECT_EQ(block.size, 0);
    }
}

TEST(RuntimeMemory, FreeingALargeBlockReturnsItsMemory) {
    const int64_t size = (int64_t{8} << 20) + 100;
    MemoryBlock block = AllocateBlock(size);
    ASSERT_FALSE(block.empty());
    const uint8_t* bytes = block.get();
    std::memset(block.get(), 0x5A, static_cast<size_t>(size));
    ASSERT_TRUE(AnyPageMapped(bytes, static_cast<size_t>(size)));
    FreeBlock(block);
    EXPECT_FALSE(AnyPageMapped(bytes, static_cast<size_t>(size)));
}

TEST(RuntimeMemory, MovedLargeBlockKeepsOwnershipAndFreesOnce) {
    const int64_t size = int64_t{5} << 20;
    MemoryBlock first = AllocateBlock(size);
    ASSERT_FALSE(first.empty());
    const uint8_t* bytes = first.get();
    first.get()[size - 1] = 7;
    MemoryBlock second;
    second = std::move(first); // as a load hands its block to the viewer state
    EXPECT_EQ(second.get(), bytes);
    EXPECT_EQ(second.get()[size - 1], 7);
    FreeBlock(first); // empty after the move: frees nothing
    EXPECT_TRUE(AnyPageMapped(bytes, static_cast<size_t>(size)));
    {
        MemoryBlock scoped = std::move(second);
        EXPECT_EQ(scoped.get()[size - 1], 7);
    } // the destructor frees it
    EXPECT_FALSE(AnyPageMapped(bytes, static_cast<size_t>(size)));
    // A small block after a large one comes from the heap and frees there.
    MemoryBlock small = AllocateBlock(100);
    ASSERT_FALSE(small.empty());
    EXPECT_EQ(std::count(small.get(), small.get() + 100, uint8_t{0}), 100);
}

TEST(RuntimeMemory, ReadMemoryByteIsSigned) {
    const uint8_t bytes[] = {0xFF, 0x7F, 0x80, 0x00};
    EXPECT_EQ(ReadMemoryByte(&bytes[0]), -1);
    EXPECT_EQ(ReadMemoryByte(&bytes[0]) & 0xFF, 255);
    EXPECT_EQ(ReadMemoryByte(&bytes[1]), 127);
    EXPECT_EQ(ReadMemoryByte(&bytes[2]), -128);
    EXPECT_EQ(ReadMemoryByte(&bytes[3]), 0);
}

} // namespace
