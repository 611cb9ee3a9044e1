// The runtime on every platform: buffered file slots, replacing writes, paths and their platform
// rules (a name outside ASCII included), the command line, text and number conversions.
// What needs POSIX (failures, permissions, FIFOs, links) is in posix_files_tests.cpp.
#include <gtest/gtest.h>

#include <cfenv>
#include <climits>
#include <cmath>

#include "tests/support/running_toolkit.h"
#include "tests/support/test_files.h"
#include "toolkit/runtime.h"

using namespace tk;

using pmtest::ReadFile;
using pmtest::WriteFile;

struct RuntimeFiles : ::testing::Test {
    pmtest::RunningToolkit toolkit;
    pmtest::TempDir dir;
    void TearDown() override { CloseAllFiles(); }
    void Write(int slot, const std::string& bytes) {
        for (char c : bytes) ASSERT_EQ(WriteByteTo(slot, uint8_t(c) | 0x300), 1); // low 8 bits
    }
};

TEST_F(RuntimeFiles, BytesWrittenOneByOneComeBackInOrderWhateverTheReadSizes) {
    const std::string path = WriteFile(dir / "data", "old"), bytes = pmtest::Pattern(30000);
    ASSERT_NE(CreateOutputFile(0, path), 0);
    EXPECT_EQ(QueryFileSize(path), 0) << "an existing file is emptied at once";
    Write(0, bytes);
    EXPECT_EQ(CloseFileSlot(0), 1);
    // From the buffer, past it (>= 4096), exactly its size, and past the end of the file.
    for (auto plan : {std::vector<int64_t>{10, 9000, 1, 3000, 4096, 1, 4095, 100000},
                      {4096, 4096, 1, 4094, 1, 1, 5000, 100000}}) {
        ASSERT_NE(OpenInputFile(0, path), 0);
        std::string got;
        for (int64_t size : plan) got += pmtest::ReadFromSlot(0, size);
        EXPECT_EQ(got, bytes) << "plan starting with " << plan[0];
    }
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
        EXPECT_EQ(OpenInputFile(0, path) + CreateOutputFile(1, path) + WriteByteTo(1, 0), 0);
        EXPECT_NE(LastOpenError(), "") << path;
    }
}

TEST_F(RuntimeFiles, AReplacingWriteAppearsOnlyWhenClosedAndNamesItsFolderAtCreation) {
    const std::string target = WriteFile(dir / "target", "previous");
    const Text saved = CurrentDirectory();
    ASSERT_EQ(ChangeDirectory(dir.path()), 1);
    ASSERT_NE(CreateReplacingFile(1, "target"), 0);
    EXPECT_EQ(ChangeDirectory(saved) - ChangeDirectory("") - ChangeDirectory(dir / "missing"), 1);
    Write(1, "new");
    EXPECT_EQ(ReadFile(target), "previous");
    EXPECT_EQ(CloseFileSlot(1), 1);
    EXPECT_EQ(ReadFile(target), "new");
}

TEST_F(RuntimeFiles, QueryFileSizeFollowsWildcardsAndTellsFoldersAndFilesApart) {
    WriteFile(dir / "empty", ""), WriteFile(dir / "five.bin", "12345");
    std::filesystem::resize_file(WriteFile(dir / "big", ""), (int64_t{3} << 30) + 17);
    const std::pair<std::string, int64_t> sizes[] = {
        {"missing", -1}, {"empty", 0},   {"five.bin", 5}, {"", -2}, {"fi*.bin", 5},
        {"fiv?.bin", 5}, {"*.none", -1}, {"a/b/c", -1},   {"/", -2}};
    for (const auto& [name, size] : sizes) EXPECT_EQ(QueryFileSize(dir / name), size) << name;
    EXPECT_EQ(QueryFileSize(dir / "big") + QueryFileSize(""), (int64_t{3} << 30) + 17 - 1);
    EXPECT_TRUE(IsRegularFile(dir / "five.bin"));
    EXPECT_FALSE(IsRegularFile(dir.path()) || IsRegularFile(dir / "missing") || IsRegularFile(""));
}

TEST(RuntimePaths, PlatformRulesAndANameOutsideAscii) {
    // Whether the path is absolute, then its folder part.
#ifdef _WIN32
    const std::pair<Text, Text> cases[] = {
        {"C:\\d\\a", "1C:\\d\\"}, {"c:/d/a", "1c:/d/"}, {"\\\\s\\h\\a", "1\\\\s\\h\\"},
        {"\\d\\a", "1\\d\\"},     {"C:a", "0"},         {"9:\\a", "09:\\"}};
#else
    const std::pair<Text, Text> cases[] = {
        {"/d/a", "1/d/"}, {"/", "1/"}, {"d/a", "0d/"}, {"d\\a", "0"}};
#endif
    for (const auto& [path, parts] : cases)
        EXPECT_EQ("01"[IsAbsolutePath(path)] + FolderPartOf(path), parts) << path;
    EXPECT_EQ(FilePartOf("/d/a.bin") + FilePartOf("C:\\d\\g") + FilePartOf("\"/x y/a b\" c"),
              "a.binga b");

    pmtest::RunningToolkit toolkit;
    pmtest::TempDir dir;
    const Text folder = dir / "p\xc3\xa4th", target = folder + "/\xc3\xaf \xf0\x9f\x98\x80.bin";
    const std::filesystem::path native(std::u8string(folder.begin(), folder.end()));
    std::filesystem::create_directory(native);
    ASSERT_NE(CreateReplacingFile(0, target), 0) << LastOpenError();
    for (int i = 0; i < 5000; ++i) WriteByteTo(0, i);
    ASSERT_EQ(CloseFileSlot(0), 1) << FileSlotError(0);
    EXPECT_EQ(QueryFileSize(target), 5000);
    EXPECT_NE(OpenInputFile(0, target), 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(native), {}), 1);
}

TEST(RuntimeCommandLine, TokensAndTheNextParameter) {
    const std::pair<Text, Text> lines[] = {
        // tokens, each after a "|"
        {"  a   b  ", "|a|b"}, {"\"a b\"c", "|a b|c"},      {"a\"b c\"", "|a\"b|c\""},
        {"x \"\" y", "|x||y"}, {"a\tb c\\d", "|a\tb|c\\d"}, {"p \"open", "|p|open"},
        {"   ", ""},           {"\"p\" \"a b\"", "|p|a b"}};
    for (const auto& [line, tokens] : lines) {
        Text joined;
        for (const Text& token : TokenizeCommandLine(line)) joined += "|" + token;
        EXPECT_EQ(joined, tokens) << line;
    }
    pmtest::RunningToolkit toolkit; // the command line is part of the toolkit state
    // A negative index takes the next parameter; empty quotes are a parameter that advances.
    SetCommandLineText("prog a b \"\" d");
    const std::pair<int, Text> calls[] = {{-1, "a"}, {-1, "b"}, {2, ""},  {-1, "d"},
                                          {-1, ""},  {7, ""},   {0, "a"}, {-5, "b"}};
    for (auto [index, expected] : calls) EXPECT_EQ(CommandLineParameter(index), expected) << index;
}

TEST(RuntimeText, NumbersAndTextsConvertAsTheProgramReadsThem) {
    const std::pair<Text, int64_t> numbers[] = {
        {"  42", 42}, {"-17x", -17}, {"$Ab", 171}, {"abc", 0},
        {"- 5", 0},   {"\t+7", 7},   {"--5", 0},   {"-$10", -16},
        {"%1021", 2}, {"$", 0},      {"", 0},      {"$1FFFFFFFFFFFFFFFF", -1}};
    for (const auto& [text, value] : numbers) EXPECT_EQ(TextToInteger(text), value) << text;
    EXPECT_EQ(PadLeft("7", 3, "xy") + PadLeft("1234", 3, "0") + PadLeft("7", 2, ""), "xx7123 7");
    EXPECT_EQ(FieldOf("a:b:::c", 2, "::") + FieldOf("a,,b", 3, ",") + FieldOf("a", 0, ","), ":cb");
    EXPECT_EQ(MiddleOf("abc", 2, 5) + MiddleOf("abc", -7, 2) + MiddleOf("abc", 9, 1), "bcab");
    const int saved = std::fegetround();
    for (int mode : {FE_UPWARD, FE_DOWNWARD}) { // truncation whatever the rounding mode
        std::fesetround(mode);
        for (auto [value, expected] :
             {std::pair<double, int64_t>{2.9, 2}, {-2.9, -2}, {-0.5, 0}, {NAN, INT64_MIN}})
            EXPECT_EQ(TruncateToInteger(value), expected) << value << " in mode " << mode;
    }
    std::fesetround(saved);
    EXPECT_EQ(T(-7, 2), -3);
    EXPECT_EQ(TruncateToInteger(0x1p63) & TruncateToInteger(-INFINITY), INT64_MIN);
    EXPECT_EQ(TruncateToInteger(0x1p63 - 1024), INT64_MAX - 1023);
}
