#include "toolkit/runtime.h"

#include <gtest/gtest.h>

#include "tests/support/running_toolkit.h"

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <climits>
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

using Names = std::vector<std::string>;

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadWholeFile(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

void WriteText(int slot, const std::string& bytes) {
    for (char c : bytes) WriteByteTo(slot, c);
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

// Writes 10000 bytes to `slot` and closes it while this process may write no more than 1000
// bytes to a file, with SIGXFSZ ignored so that the write fails with EFBIG. Returns the close.
int CloseAfterOverflow(int slot) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved;
    lowered.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &lowered);
    for (int i = 0; i < 10000; ++i) WriteByteTo(slot, i + 1);
    const int closed = CloseFileSlot(slot);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    return closed;
}

class RuntimeFiles : public ::testing::Test {
  protected:
    pmtest::RunningToolkit toolkit;
    void SetUp() override {
        ASSERT_TRUE(toolkit.ok);
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
    Names Entries() const { // leftover temporary files show up here
        Names names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string ReadSlot(int slot, const std::vector<int64_t>& sizes) {
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
    for (char c : expected) ASSERT_EQ(WriteByteTo(1, static_cast<uint8_t>(c) | 0x300), 1);
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_EQ(ReadWholeFile(path), expected); // only the low 8 bits count
    EXPECT_EQ(FileSlotError(1), "");
}

TEST_F(RuntimeFiles, SecondCreateOnASlotFlushesTheFirstFile) {
    ASSERT_NE(CreateOutputFile(2, Path("first")), 0);
    WriteText(2, "abc");
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

TEST_F(RuntimeFiles, MixedReadSizesDeliverTheFileInOrder) {
    std::string bytes = Pattern(30000);
    WriteWholeFile(Path("data"), bytes);
    // Small reads served from the buffer, reads whose remainder bypasses it (>= 4096), a read of
    // exactly the buffer size, and a final read past the end.
    const std::vector<int64_t> plans[] = {
        {10, 9000, 1, 3000, 4096, 1, 4095, 100000},
        {4096, 4096, 1, 4094, 1, 1, 5000, 100000},
        {30000},
        {1, 29999, 1},
    };
    for (const auto& plan : plans) {
        ASSERT_NE(OpenInputFile(0, Path("data")), 0);
        EXPECT_EQ(ReadSlot(0, plan), bytes) << "plan starting with " << plan[0];
    }
    // A short file delivers what it has and leaves the rest of the buffer alone.
    WriteWholeFile(Path("short"), bytes.substr(0, 40));
    ASSERT_NE(OpenInputFile(0, Path("short")), 0);
    std::vector<uint8_t> buffer(100, 0xEE);
    EXPECT_EQ(ReadBytes(0, buffer.data(), 100), 40);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 40), bytes.substr(0, 40));
    EXPECT_EQ(buffer[40], 0xEE);
    EXPECT_EQ(CloseFileSlot(0), 1);
}

TEST_F(RuntimeFiles, SwitchingModesContinuesWhereTheOtherStopped) {
    std::string path = Path("rw");
    ASSERT_NE(CreateOutputFile(1, path), 0);
    ASSERT_NE(CreateOutputFile(2, path), 0); // a second descriptor, at offset 0
    WriteText(1, "0123456789");
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

TEST_F(RuntimeFiles, WriteFailureIsReportedByCloseAndLeavesAReplacedTargetIntact) {
    ASSERT_NE(CreateOutputFile(1, Path("big")), 0);
    EXPECT_EQ(CloseAfterOverflow(1), 0);
    EXPECT_EQ(FileSlotError(1), std::strerror(EFBIG));
    ASSERT_NE(CreateOutputFile(1, Path("big")), 0);
    EXPECT_EQ(FileSlotError(1), "") << "opening the slot again starts with a clean record";
    EXPECT_EQ(CloseFileSlot(1), 1);

    const std::string target = Path("target"), original = Pattern(5000);
    WriteWholeFile(target, original);
    ASSERT_NE(CreateReplacingFile(1, target), 0);
    EXPECT_EQ(CloseAfterOverflow(1), 0);
    EXPECT_EQ(FileSlotError(1), std::strerror(EFBIG));
    EXPECT_EQ(ReadWholeFile(target), original);
    EXPECT_EQ(Entries(), (Names{"big", "target"})) << "the temporary file is removed";
}

// ---- Replacing files --------------------------------------------------------------------------

TEST_F(RuntimeFiles, ReplacingFileAppearsOnlyWhenClosedKeepingItsMode) {
    std::string path = Path("target");
    WriteWholeFile(path, "previous");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_NE(CreateReplacingFile(1, path), 0);
    std::string expected = Pattern(9000);
    WriteText(1, expected);
    EXPECT_EQ(ReadWholeFile(path), "previous");
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_EQ(ReadWholeFile(path), expected);
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(Entries(), Names{"target"});

    mode_t mask = umask(022); // a new file gets the usual permissions
    ASSERT_NE(CreateReplacingFile(1, Path("fresh")), 0);
    EXPECT_EQ(CloseFileSlot(1), 1);
    umask(mask);
    EXPECT_EQ(ModeOf(Path("fresh")), 0644u);
}

TEST_F(RuntimeFiles, ReplacingFollowsLinksAndWritesIntoFifos) {
    WriteWholeFile(Path("real"), "old");
    ASSERT_EQ(symlink("real", Path("link").c_str()), 0);
    ASSERT_NE(CreateReplacingFile(1, Path("link")), 0);
    WriteByteTo(1, 'n');
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_TRUE(fs::is_symlink(Path("link")));
    EXPECT_EQ(ReadWholeFile(Path("real")), "n");

    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    int reader = open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_NE(CreateReplacingFile(1, Path("fifo")), 0);
    WriteText(1, "pipe");
    EXPECT_EQ(CloseFileSlot(1), 1);
    char got[8] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 4);
    close(reader);
    EXPECT_STREQ(got, "pipe");
    EXPECT_EQ(Entries(), (Names{"fifo", "link", "real"}));
}

TEST_F(RuntimeFiles, CurrentDirectoryAndRelativeReplacingTargets) {
    const std::string saved = CurrentDirectory();
    EXPECT_EQ(saved.back(), '/');
    ASSERT_EQ(ChangeDirectory(dir_), 1);
    EXPECT_EQ(CurrentDirectory(), fs::canonical(dir_).string() + "/");
    // A relative target names the file in the folder current at creation.
    ASSERT_NE(CreateReplacingFile(1, "relative"), 0);
    ASSERT_EQ(ChangeDirectory("/"), 1);
    EXPECT_EQ(ChangeDirectory(""), 0);
    EXPECT_EQ(ChangeDirectory(Path("missing")), 0);
    EXPECT_EQ(CurrentDirectory(), "/");
    WriteByteTo(1, 'r');
    EXPECT_EQ(CloseFileSlot(1), 1);
    ChangeDirectory(saved);
    EXPECT_EQ(ReadWholeFile(Path("relative")), "r");
}

TEST_F(RuntimeFiles, ReplacingFailsForDirectoriesAndUnwritableFolders) {
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
    EXPECT_EQ(Entries(), (Names{"folder", "late"}));

    EXPECT_EQ(CreateReplacingFile(1, "/proc/pixmole-target"), 0); // refused whatever the user
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
    } else { // root ignores folder permissions: try as an ordinary user in a child process
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

// ---- Paths and folders --------------------------------------------------------------------------

TEST_F(RuntimeFiles, QueryFileSizeAndIsRegularFile) {
    WriteWholeFile(Path("empty"), "");
    WriteWholeFile(Path("five.bin"), "12345");
    ASSERT_EQ(mkdir(Path("afolder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("five.bin", Path("link").c_str()), 0);
    std::string deep = dir_; // a long path is taken whole
    for (int i = 0; i < 40; ++i) ASSERT_EQ(mkdir((deep += "/abcdefghij").c_str(), 0755), 0);
    WriteWholeFile(deep + "/f", "xyz");
    const int fd = open(Path("sparse").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(ftruncate(fd, (int64_t{3} << 30) + 17), 0); // needs all 64 bits
    close(fd);

    const std::pair<std::string, int64_t> sizes[] = {
        {"", -1},
        {Path("missing"), -1},
        {Path("empty"), 0},
        {Path("five.bin"), 5},
        {dir_, -2},
        {dir_ + "/", -2},
        {dir_ + "//", -2},
        {"/", -2},
        {Path("fi*.bin"), 5},
        {Path("fiv?.bin"), 5},
        {Path("*.none"), -1},
        {Path("a*"), -2},
        {deep + "/f", 3},
        {deep + "/", -2},
    };
    for (const auto& [path, size] : sizes) EXPECT_EQ(QueryFileSize(path), size) << path;
    EXPECT_EQ(QueryFileSize(dir_ + "/../" + fs::path(dir_).filename().string()), -2);
    EXPECT_EQ(QueryFileSize(Path("sparse")), (int64_t{3} << 30) + 17);

    const std::pair<std::string, bool> regular[] = {
        {Path("five.bin"), true}, {Path("link"), true},     {Path("fifo"), false}, {dir_, false},
        {"/dev/null", false},     {Path("missing"), false}, {"", false},
    };
    for (const auto& [path, yes] : regular) EXPECT_EQ(IsRegularFile(path), yes) << path;
}

TEST(RuntimePaths, FilePartOf) {
    const std::pair<Text, Text> cases[] = {
        {"/data/game.bin", "game.bin"}, {"C:\\data\\game.bin", "game.bin"}, {"/data/", ""},
        {"game.bin", "game.bin"},       {"\"game.bin\"", "game.bin"},       {"", ""},
    };
    for (const auto& [path, file] : cases) EXPECT_EQ(FilePartOf(path), file) << path;
    EXPECT_EQ(FilePartOf("\"/x y/my file.bin\" more"), "my file.bin");
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
    pmtest::RunningToolkit toolkit; // the command line is part of the toolkit state
    SetCommandLineText("\"C:\\prog.exe\" \"my file.bin\"");
    EXPECT_EQ(CommandLineParameter(0), "my file.bin");
    SetCommandLineText("\"C:\\prog.exe\"");
    EXPECT_EQ(CommandLineParameter(0), "");

    // A negative index takes the next parameter; empty quotes are a parameter that advances.
    SetCommandLineText("prog a b \"\" d");
    const std::pair<int, Text> calls[] = {
        {-1, "a"}, {-1, "b"}, {2, ""}, {-1, "d"}, {-1, ""}, {7, ""}, {0, "a"}, {-5, "b"},
    };
    for (const auto& [index, expected] : calls) EXPECT_EQ(CommandLineParameter(index), expected);

    char program[] = "/usr/bin/prog", parameter[] = "two words";
    char* argv[] = {program, parameter, nullptr};
    SetCommandLine(2, argv);
    EXPECT_EQ(CommandLineParameter(0), "two words");
    EXPECT_EQ(CommandLineParameter(1), "");
    SetCommandLine(0, nullptr);
    EXPECT_EQ(CommandLineParameter(0), "");
}

// ---- Text and numbers ---------------------------------------------------------------------------

TEST(RuntimeNumbers, TextToIntegerAndBack) {
    const std::pair<Text, int64_t> cases[] = {
        {"  42", 42}, {"-17x", -17}, {"$ff", 255},  {"$Ab", 0xAB}, {"%101", 5},
        {"abc", 0},   {"- 5", 0},    {"\t+7", 7},   {"--5", 0},    {"-$10", -16},
        {"%1021", 2}, {"$1g", 1},    {"12 34", 12}, {"$", 0},      {"", 0},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(TextToInteger(text), value) << text;
    const std::pair<Text, int64_t> wrapping[] = {
        // modulo 2^64
        {"$FFFFFFFFFFFFFFFF", -1},           {"$10000000000000005", 5},
        {"18446744073709551616", 0},         {"18446744073709551617", 1},
        {"9223372036854775807", INT64_MAX},  {"9223372036854775808", INT64_MIN},
        {"-9223372036854775808", INT64_MIN},
    };
    for (const auto& [text, value] : wrapping) EXPECT_EQ(TextToInteger(text), value) << text;
    for (int64_t value : {int64_t{0}, int64_t{-5}, int64_t{1000}, INT64_MIN, INT64_MAX}) {
        EXPECT_EQ(IntegerToText(value), std::to_string(value));
        EXPECT_EQ(TextToInteger(IntegerToText(value)), value);
    }
}

TEST(RuntimeText, PadLeftFieldOfMiddleOf) {
    const std::tuple<Text, int64_t, Text, Text> pads[] = {
        {"7", 3, "0", "007"},  {"1234", 3, "0", "123"}, {"ab", 2, "0", "ab"}, {"7", 3, "", "  7"},
        {"7", 3, "xy", "xx7"}, {"abc", -1, "x", ""},    {"", 2, "-", "--"},
    };
    for (const auto& [text, width, fill, padded] : pads)
        EXPECT_EQ(PadLeft(text, width, fill), padded) << text << " " << width;

    const std::tuple<Text, int64_t, Text, Text> fields[] = {
        {"a\nb", 1, "\n", "a"},   {"a\nb", 2, "\n", "b"},   {"a\nb", 3, "\n", ""},
        {"a\nb", 0, "\n", ""},    {"a,,b,", 2, ",", ""},    {"a,,b,", 3, ",", "b"},
        {"a,,b,", 4, ",", ""},    {"a,,b,", 5, ",", ""},    {"a:b::c", 1, "::", "a:b"},
        {"a:b::c", 2, "::", "c"}, {"x:::y", 2, "::", ":y"}, {"whole", 1, "", "whole"},
        {"whole", 2, "", ""},
    };
    for (const auto& [text, index, separator, field] : fields)
        EXPECT_EQ(FieldOf(text, index, separator), field) << text << " " << index;

    const std::tuple<int64_t, int64_t, Text> middles[] = {
        {2, 5, "bc"}, {0, 1, "a"}, {-7, 2, "ab"}, {3, 1, "c"}, {4, 1, ""}, {2, -1, ""},
    };
    for (const auto& [start, length, part] : middles)
        EXPECT_EQ(MiddleOf("abc", start, length), part) << start << " " << length;
    EXPECT_EQ(MiddleOf("abc", INT64_MAX, INT64_MAX), "");
    EXPECT_EQ(TextLength(""), 0);
    EXPECT_EQ(TextLength("abc"), 3);
}

TEST(RuntimeNumbers, TruncateToInteger) {
    EXPECT_EQ(T(480, 0), INT64_MIN);
    EXPECT_EQ(static_cast<int32_t>(T(480, 0)), 0);
    EXPECT_EQ(T(7, 2), 3);
    EXPECT_EQ(T(-7, 2), -3);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const std::pair<double, int64_t> cases[] = {
        {2.9, 2},           {-2.9, -2},          {2.5, 2},         {-0.5, 0},
        {1e300, INT64_MIN}, {-1e300, INT64_MIN}, {nan, INT64_MIN}, {-infinity, INT64_MIN},
    };
    const int saved = std::fegetround();
    for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD}) { // the rounding mode does not matter
        std::fesetround(mode);
        for (auto [value, expected] : cases) {
            volatile double v = value;
            EXPECT_EQ(TruncateToInteger(v), expected) << value << " in mode " << mode;
        }
    }
    std::fesetround(saved);
    EXPECT_EQ(TruncateToInteger(0x1p63), INT64_MIN);
    EXPECT_EQ(TruncateToInteger(-0x1p63), INT64_MIN);
    EXPECT_EQ(TruncateToInteger(0x1p63 - 1024), INT64_MAX - 1023);
}

// ---- Memory -------------------------------------------------------------------------------------

// True when any byte of [address, address + length) is mapped in this process.
bool AnyPageMapped(const uint8_t* address, int64_t length) {
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    unsigned char resident = 0;
    const auto start = reinterpret_cast<uintptr_t>(address);
    for (uintptr_t at = start / page * page; at < start + length; at += page)
        if (::mincore(reinterpret_cast<void*>(at), page, &resident) == 0) return true; // ENOMEM
    return false;
}

TEST(RuntimeMemory, BlocksAreZeroFilledWritableAlignedAndReturned) {
    EXPECT_TRUE(AllocateBlock(0).empty());
    EXPECT_TRUE(AllocateBlock(-5).empty());
    // A small one, sizes around the point where blocks stop coming from the heap, and odd ones
    // whose last page and last huge page are partly used.
    for (int64_t size : {int64_t{10000}, int64_t{4} << 20, (int64_t{4} << 20) - 1,
                         (int64_t{6} << 20) + 12345, (int64_t{16} << 20) + 1}) {
        SCOPED_TRACE(size);
        MemoryBlock block = AllocateBlock(size);
        ASSERT_FALSE(block.empty());
        EXPECT_EQ(block.size, size);
        uint8_t* bytes = block.get();
        const bool large = size >= (int64_t{4} << 20); // starts on a huge page boundary
        EXPECT_TRUE(!large || reinterpret_cast<uintptr_t>(bytes) % (uintptr_t{2} << 20) == 0);
        EXPECT_EQ(std::count(bytes, bytes + size, uint8_t{0}), size);
        for (int64_t i = 0; i < size; i += 4093) bytes[i] = static_cast<uint8_t>(i | 1);
        bytes[size - 1] = 0xA5;
        for (int64_t i = 0; i < size; i += 4093) ASSERT_EQ(bytes[i], static_cast<uint8_t>(i | 1));
        EXPECT_EQ(bytes[size - 1], 0xA5);
        FreeBlock(block);
        EXPECT_TRUE(block.empty());
        EXPECT_EQ(block.size, 0);
        EXPECT_TRUE(!large || !AnyPageMapped(bytes, size)) << "the memory goes back";
    }
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
    FreeBlock(first); // empty after the move: frees nothing
    EXPECT_TRUE(AnyPageMapped(bytes, size));
    {
        MemoryBlock scoped = std::move(second);
        EXPECT_EQ(scoped.get()[size - 1], 7);
    } // the destructor frees it
    EXPECT_FALSE(AnyPageMapped(bytes, size));
}

TEST(RuntimeMemory, ReadMemoryByteIsSigned) {
    const uint8_t bytes[] = {0xFF, 0x7F, 0x80, 0x00};
    const int expected[] = {-1, 127, -128, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadMemoryByte(&bytes[i]), expected[i]) << i;
}

} // namespace
