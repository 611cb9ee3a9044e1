// Path rules of the platform under the runtime, and a file whose name is not ASCII written
// through a replacing write and read back: what the Windows twin must get right (UTF-8 to UTF-16
// at every call, "\" and drive letters), checked on each platform the program is built for.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/running_toolkit.h"
#include "toolkit/runtime.h"

namespace fs = std::filesystem;
using namespace tk;

namespace {

// std::filesystem spells UTF-8 as char8_t; the program's texts are plain bytes.
fs::path PathOf(const Text& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}
Text Utf8Of(const fs::path& path) {
    const std::u8string bytes = path.u8string();
    return Text(bytes.begin(), bytes.end());
}

TEST(PathRules, AbsolutePathsAndFolderParts) {
    struct Case {
        const char* path;
        bool absolute;
        const char* folder;
    };
#ifdef _WIN32
    const Case cases[] = {{"C:\\data\\game.bin", true, "C:\\data\\"},
                          {"c:/data/game.bin", true, "c:/data/"},
                          {"\\\\server\\share\\a", true, "\\\\server\\share\\"},
                          {"\\data\\a", true, "\\data\\"},
                          {"C:game.bin", false, ""},
                          {"data\\game.bin", false, "data\\"},
                          {"game.bin", false, ""}};
#else
    const Case cases[] = {{"/data/game.bin", true, "/data/"},
                          {"/", true, "/"},
                          {"data/game.bin", false, "data/"},
                          {"data\\game.bin", false, ""}, // "\" is a name character here
                          {"game.bin", false, ""}};
#endif
    for (const Case& c : cases) {
        EXPECT_EQ(IsAbsolutePath(c.path), c.absolute) << c.path;
        EXPECT_EQ(FolderPartOf(c.path), c.folder) << c.path;
    }
}

TEST(PathRules, ANameOutsideAsciiSurvivesAReplacingWriteAndTheSizeQuery) {
    pmtest::RunningToolkit toolkit; // the file slots
    const fs::path folder = fs::temp_directory_path() / PathOf("pixmole-päth-ü");
    fs::remove_all(folder);
    fs::create_directories(folder);
    const Text target = Utf8Of(folder / PathOf("sprïtes 😀.bin"));
    ASSERT_NE(CreateOutputFile(0, target), 0) << LastOpenError();
    WriteByteTo(0, 'a');
    ASSERT_EQ(CloseFileSlot(0), 1);

    ASSERT_NE(CreateReplacingFile(0, target), 0) << LastOpenError();
    for (int i = 0; i < 5000; ++i) WriteByteTo(0, i);
    EXPECT_EQ(QueryFileSize(target), 1); // the target stays as it was until the close
    ASSERT_EQ(CloseFileSlot(0), 1) << FileSlotError(0);

    EXPECT_EQ(QueryFileSize(target), 5000);
    EXPECT_EQ(QueryFileSize(FolderPartOf(target)), -2);
    uint8_t bytes[5000] = {};
    ASSERT_NE(OpenInputFile(0, target), 0) << LastOpenError();
    EXPECT_EQ(ReadBytes(0, bytes, 5000), 5000);
    CloseFileSlot(0);
    EXPECT_EQ(bytes[4999], uint8_t(4999 & 0xFF));
    // Nothing of the replacing write is left beside the target.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    fs::remove_all(folder);
}

} // namespace
