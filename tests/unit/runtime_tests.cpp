// The runtime on every platform: buffered file slots, replacing writes, paths and their platform
// rules (a name outside ASCII included), the command line, text and number conversions, memory.
// What needs POSIX (failures, permissions, FIFOs, links) is in posix_files_tests.cpp.
#include <gtest/gtest.h>

#include <cfenv>
#include <climits>
#include <cmath>

#include "tests/support/running_toolkit.h"
#include "tests/support/test_files.h"
#include "toolkit/runtime.h"

namespace tk {
namespace {

using pmtest::Pattern;
using pmtest::ReadFile;
using pmtest::WriteFile;

class RuntimeFiles : public ::testing::Test {
  protected:
    pmtest::RunningToolkit toolkit;
    pmtest::TempDir dir;
    void SetUp() override { ASSERT_TRUE(toolkit.ok); }
    void TearDown() override { CloseAllFiles(); }
    void Write(int slot, const std::string& bytes) {
        for (char c : bytes) ASSERT_EQ(WriteByteTo(slot, uint8_t(c) | 0x300), 1); // low 8 bits
    }
    std::string Read(int slot, int64_t size) {
        std::string part(size_t(size), '\0');
        return part.substr(0,
                           size_t(ReadBytes(slot, reinterpret_cast<uint8_t*>(part.data()), size)));
    }
};

TEST_F(RuntimeFiles, BytesWrittenOneByOneComeBackInOrderWhateverTheReadSizes) {
    const std::string path = WriteFile(dir / "data", "old contents"), bytes = Pattern(30000);
    ASSERT_NE(CreateOutputFile(0, path), 0);
    EXPECT_EQ(QueryFileSize(path), 0) << "an existing file is emptied at once";
    Write(0, bytes);
    EXPECT_EQ(CloseFileSlot(0), 1);
    EXPECT_EQ(FileSlotError(0), "");
    // Reads served from the buffer, reads whose remainder bypasses it (>= 4096), one of exactly
    // the buffer size, and a last one past the end.
    for (std::vector<int64_t> plan :
         {std::vector<int64_t>{10, 9000, 1, 3000, 4096, 1, 4095, 100000},
          {4096, 4096, 1, 4094, 1, 1, 5000, 100000},
          {30000},
          {1, 29999, 1}}) {
        ASSERT_NE(OpenInputFile(0, path), 0);
        std::string got;
        for (int64_t size : plan) got += Read(0, size);
        EXPECT_EQ(got, bytes) << "plan starting with " << plan[0];
    }
    EXPECT_EQ(Read(0, 1) + Read(0, 0), "");
    ASSERT_NE(CreateOutputFile(2, dir / "rw"), 0); // a second descriptor on the same file
    ASSERT_NE(CreateOutputFile(3, dir / "rw"), 0);
    Write(2, "0123456789");
    ASSERT_EQ(CloseFileSlot(2), 1);
    EXPECT_EQ(Read(3, 3), "012"); // the refill read all ten bytes ahead
    Write(3, "X");                // lands at offset 3, not at the end
    EXPECT_EQ(Read(3, 2), "45");  // the pending X is written before reading on
    Write(3, "Y");
    ASSERT_NE(CreateOutputFile(3, dir / "other"), 0) << "a second create flushes the first file";
    EXPECT_EQ(ReadFile(dir / "rw"), "012X45Y789");
}

TEST_F(RuntimeFiles, SlotsNotOpenDoNothingAndFailedOpensGiveAReason) {
    uint8_t byte = 0;
    for (int slot : {-1, 3, 5000})
        EXPECT_EQ(ReadBytes(slot, &byte, 1) + WriteByteTo(slot, 1) + CloseFileSlot(slot), 0);
    ASSERT_NE(CreateOutputFile(300, dir / "high"), 0) << "a high number grows the table";
    Write(300, "h");
    EXPECT_EQ(CloseFileSlot(300), 1);
    EXPECT_EQ(CloseFileSlot(300), 0) << "closing twice";
    EXPECT_EQ(ReadFile(dir / "high"), "h");
    for (std::string path : {dir.path(), dir / "no/such/folder", std::string()}) {
        EXPECT_EQ(OpenInputFile(0, path) + CreateOutputFile(1, path), 0) << path;
        EXPECT_NE(LastOpenError(), "") << path;
        EXPECT_EQ(WriteByteTo(1, 0), 0);
    }
}

TEST_F(RuntimeFiles, AReplacingWriteAppearsOnlyWhenClosedAndNamesItsFolderAtCreation) {
    const std::string target = WriteFile(dir / "target", "previous");
    ASSERT_NE(CreateReplacingFile(1, target), 0);
    Write(1, Pattern(9000));
    EXPECT_EQ(ReadFile(target), "previous");
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_EQ(ReadFile(target), Pattern(9000));
    const Text saved = CurrentDirectory();
    EXPECT_EQ(FolderPartOf(saved), saved) << "it ends in a separator";
    ASSERT_EQ(ChangeDirectory(dir.path()), 1);
    ASSERT_NE(CreateReplacingFile(1, "relative"), 0);
    EXPECT_EQ(ChangeDirectory(saved) - ChangeDirectory("") - ChangeDirectory(dir / "missing"), 1);
    Write(1, "r");
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_EQ(ReadFile(dir / "relative"), "r");
    EXPECT_EQ(pmtest::Entries(dir.path()), (std::vector<std::string>{"relative", "target"}));
}

TEST_F(RuntimeFiles, QueryFileSizeAndIsRegularFile) {
    WriteFile(dir / "empty", ""), WriteFile(dir / "five.bin", "12345");
    std::filesystem::resize_file(WriteFile(dir / "sparse", ""), (int64_t{3} << 30) + 17);
    std::string deep = dir.path(); // a long path is taken whole
    for (int i = 0; i < 15; ++i) deep += "/abcdefghij";
    WriteFile(deep + "/f", "xyz");
    const std::pair<std::string, int64_t> sizes[] = {{"", -1},
                                                     {dir / "missing", -1},
                                                     {dir / "empty", 0},
                                                     {dir / "five.bin", 5},
                                                     {dir.path(), -2},
                                                     {dir / "", -2},
                                                     {dir / "fi*.bin", 5},
                                                     {dir / "fiv?.bin", 5},
                                                     {dir / "*.none", -1},
                                                     {deep + "/f", 3},
                                                     {deep, -2},
                                                     {dir / "sparse", (int64_t{3} << 30) + 17}};
    for (const auto& [path, size] : sizes) EXPECT_EQ(QueryFileSize(path), size) << path;
    EXPECT_TRUE(IsRegularFile(dir / "five.bin"));
    EXPECT_FALSE(IsRegularFile(dir.path()) || IsRegularFile(dir / "missing") || IsRegularFile(""));
}

TEST(RuntimePaths, PlatformRulesAndANameOutsideAscii) {
    struct Case {
        const char* path;
        bool absolute;
        const char* folder;
    };
#ifdef _WIN32
    const Case cases[] = {{"C:\\data\\game.bin", true, "C:\\data\\"},
                          {"c:/data/a", true, "c:/data/"},
                          {"\\\\server\\share\\a", true, "\\\\server\\share\\"},
                          {"\\data\\a", true, "\\data\\"},
                          {"C:game.bin", false, ""},
                          {"data\\game.bin", false, "data\\"},
                          {"9:\\a", false, "9:\\"}};
#else
    const Case cases[] = {{"/data/game.bin", true, "/data/"},
                          {"/", true, "/"},
                          {"data/game.bin", false, "data/"},
                          {"data\\game.bin", false, ""}};
#endif
    for (const Case& c : cases) {
        EXPECT_EQ(IsAbsolutePath(c.path), c.absolute) << c.path;
        EXPECT_EQ(FolderPartOf(c.path), c.folder) << c.path;
    }
    for (auto [path, file] : {std::pair<Text, Text>{"/data/game.bin", "game.bin"},
                              {"C:\\d\\g.bin", "g.bin"},
                              {"/data/", ""},
                              {"\"/x y/my file.bin\" more", "my file.bin"}})
        EXPECT_EQ(FilePartOf(path), file) << path;

    pmtest::RunningToolkit toolkit; // the file slots
    pmtest::TempDir dir;
    const Text target = dir / "p\xc3\xa4th/spr\xc3\xaftes \xf0\x9f\x98\x80.bin";
    WriteFile(target, "a");
    ASSERT_NE(CreateReplacingFile(0, target), 0) << LastOpenError();
    for (int i = 0; i < 5000; ++i) WriteByteTo(0, i);
    EXPECT_EQ(QueryFileSize(target), 1);
    ASSERT_EQ(CloseFileSlot(0), 1) << FileSlotError(0);
    EXPECT_EQ(QueryFileSize(target), 5000);
    EXPECT_EQ(QueryFileSize(FolderPartOf(target)), -2);
    uint8_t bytes[5000] = {};
    ASSERT_NE(OpenInputFile(0, target), 0) << LastOpenError();
    EXPECT_EQ(ReadBytes(0, bytes, 5000), 5000);
    EXPECT_EQ(CloseFileSlot(0) + bytes[4999], 1 + (4999 & 0xFF));
    EXPECT_EQ(pmtest::Entries(FolderPartOf(target)).size(), 1u) << "nothing left beside it";
}

TEST(RuntimeCommandLine, TokensAndTheNextParameter) {
    using V = std::vector<Text>;
    const std::pair<Text, V> lines[] = {
        {"\"C:\\prog\\p.exe\" \"my file.bin\"", {"C:\\prog\\p.exe", "my file.bin"}},
        {"  a   b  ", {"a", "b"}},
        {"\"a b\"c", {"a b", "c"}},
        {"a\"b c\"", {"a\"b", "c\""}},
        {"x \"\" y", {"x", "", "y"}},
        {"a\tb c\\d", {"a\tb", "c\\d"}},
        {"p \"open end", {"p", "open end"}},
        {"", {}},
        {"   ", {}}};
    for (const auto& [line, tokens] : lines) EXPECT_EQ(TokenizeCommandLine(line), tokens) << line;

    pmtest::RunningToolkit toolkit; // the command line is part of the toolkit state
    // A negative index takes the next parameter; empty quotes are a parameter that advances.
    SetCommandLineText("prog a b \"\" d");
    for (auto [index, expected] : {std::pair<int, Text>{-1, "a"},
                                   {-1, "b"},
                                   {2, ""},
                                   {-1, "d"},
                                   {-1, ""},
                                   {7, ""},
                                   {0, "a"},
                                   {-5, "b"}})
        EXPECT_EQ(CommandLineParameter(index), expected) << index;
    char program[] = "/usr/bin/prog", parameter[] = "two words";
    char* argv[] = {program, parameter, nullptr};
    SetCommandLine(2, argv);
    EXPECT_EQ(CommandLineParameter(0), "two words");
    EXPECT_EQ(CommandLineParameter(-1), "");
}

TEST(RuntimeText, NumbersAndTextsConvertAsTheProgramReadsThem) {
    const std::pair<Text, int64_t> numbers[] = {{"  42", 42},
                                                {"-17x", -17},
                                                {"$ff", 255},
                                                {"$Ab", 0xAB},
                                                {"%101", 5},
                                                {"abc", 0},
                                                {"- 5", 0},
                                                {"\t+7", 7},
                                                {"--5", 0},
                                                {"-$10", -16},
                                                {"%1021", 2},
                                                {"$1g", 1},
                                                {"12 34", 12},
                                                {"$", 0},
                                                {"", 0},
                                                {"$FFFFFFFFFFFFFFFF", -1}, // modulo 2^64
                                                {"18446744073709551617", 1},
                                                {"9223372036854775808", INT64_MIN}};
    for (const auto& [text, value] : numbers) EXPECT_EQ(TextToInteger(text), value) << text;
    for (int64_t value : {int64_t{-5}, INT64_MIN, INT64_MAX})
        EXPECT_EQ(TextToInteger(IntegerToText(value)), value);
    for (auto [text, width, padded] :
         {std::tuple<Text, int64_t, Text>{"7", 3, "xx7"}, {"1234", 3, "123"}, {"abc", -1, ""}})
        EXPECT_EQ(PadLeft(text, width, "xy"), padded);
    EXPECT_EQ(PadLeft("7", 3, ""), "  7");
    for (auto [text, index, separator, field] :
         {std::tuple<Text, int64_t, Text, Text>{"a:b::c", 1, "::", "a:b"},
          {"x:::y", 2, "::", ":y"},
          {"a::c", 3, "::", ""},
          {"a", 0, ",", ""},
          {"a,,b,", 3, ",", "b"},
          {"a,,b,", 5, ",", ""},
          {"whole", 1, "", "whole"},
          {"whole", 2, "", ""}})
        EXPECT_EQ(FieldOf(text, index, separator), field) << text << " " << index;
    for (auto [start, length, part] : {std::tuple<int64_t, int64_t, Text>{2, 5, "bc"},
                                       {-7, 2, "ab"},
                                       {4, 1, ""},
                                       {2, -1, ""},
                                       {INT64_MAX, INT64_MAX, ""}})
        EXPECT_EQ(MiddleOf("abc", start, length), part) << start << " " << length;
}

TEST(RuntimeNumbers, TruncateToIntegerWhateverTheRoundingMode) {
    EXPECT_EQ(T(-7, 2), -3);
    EXPECT_EQ(int32_t(T(480, 0)), 0);
    const std::pair<double, int64_t> cases[] = {{2.9, 2},
                                                {-2.9, -2},
                                                {2.5, 2},
                                                {-0.5, 0},
                                                {0x1p63 - 1024, INT64_MAX - 1023},
                                                {0x1p63, INT64_MIN},
                                                {-0x1p63, INT64_MIN},
                                                {-1e300, INT64_MIN},
                                                {NAN, INT64_MIN},
                                                {-INFINITY, INT64_MIN}};
    const int saved = std::fegetround();
    for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD}) {
        std::fesetround(mode);
        for (auto [value, expected] : cases) {
            volatile double v = value;
            EXPECT_EQ(TruncateToInteger(v), expected) << value << " in mode " << mode;
        }
    }
    std::fesetround(saved);
}

TEST(RuntimeMemory, BlocksAreZeroFilledWritableOwnedAndSigned) {
    EXPECT_TRUE(AllocateBlock(0).empty() && AllocateBlock(-5).empty());
    for (int64_t size : {int64_t{10000}, (int64_t{4} << 20) - 1, (int64_t{6} << 20) + 12345}) {
        MemoryBlock block = AllocateBlock(size);
        ASSERT_FALSE(block.empty());
        EXPECT_EQ(std::count(block.get(), block.get() + size, 0), size) << size;
        block.get()[size - 1] = 0xA5;
        MemoryBlock moved = std::move(block); // as a load hands its block to the viewer
        FreeBlock(block);                     // empty after the move: frees nothing
        EXPECT_EQ(moved.get()[size - 1], 0xA5);
        EXPECT_EQ(ReadMemoryByte(moved.get() + size - 1), -91);
        FreeBlock(moved);
        EXPECT_TRUE(moved.empty() && moved.size == 0);
    }
}

} // namespace
} // namespace tk
