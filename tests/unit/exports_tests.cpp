// The three export commands on the scripted backend: what "Save selected" packs from the
// picture, what "Save binary.." copies from the file, what "Save image.." writes, the dialogs
// they ask, and how every write failure is reported without harming an existing file.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <png.h>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "viewer/exports.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Record = pmtest::ScriptedBackend::DialogRecord;

constexpr tk::Colour Red = 0x0000FF;

std::optional<Bytes> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes past the given size fail with EFBIG instead of killing the process, for the scope.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) : previous_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct rlimit limit = {bytes, saved_.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

  private:
    struct rlimit saved_ = {};
    void (*previous_)(int);
};

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.ok());
        char tmpl[] = "/tmp/pixmole-export-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = fs::canonical(tmpl);
        fs::current_path(dir);
        uint32_t seed = 12345;
        for (auto& byte : file)
            byte = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
        session.LoadBytes(file);
        state.loadedPath = dir + "/game.bin";
        tk::SetControlState(WidthScroller, 2);
        RedrawView();
    }
    void TearDown() override {
        fs::current_path(cwd);
        fs::remove_all(dir);
    }

    std::string Numbered(int n) const {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".%03d", n);
        return state.loadedPath + suffix;
    }
    std::vector<Record> Messages() const {
        std::vector<Record> found;
        for (const auto& d : session.backend.dialogs)
            if (d.kind == "message") found.push_back(d);
        return found;
    }
    size_t Asked(const std::string& kind) const {
        return std::count_if(session.backend.dialogs.begin(), session.backend.dialogs.end(),
                             [&](const Record& d) { return d.kind == kind; });
    }
    // "Save binary.." with the typed count and the chosen file.
    void SaveBinary(const std::string& typed, const std::string& path, int pattern = 0) {
        session.backend.AnswerText(true, typed);
        session.backend.AnswerFileDialog(path, pattern);
        SaveBinaryRange();
    }

    pmtest::ViewerSession session;
    Bytes file = Bytes(4096);
    std::string dir;
    fs::path cwd = fs::current_path();
};

TEST_F(ExportTest, SelectedBitsAreThePixelsOnDisplay) {
    // The default view is one column of 16 pixels, so whole rows are the file bytes themselves.
    struct Case {
        int zoom, x1, y1, x2, y2;
        size_t first, fromFile, size; // file[first, first + fromFile), then zeros up to size
    };
    const Case cases[] = {
        {1, 0, 0, 15, 7, 0, 16, 16},       // 16 samples, 8 rows
        {1, 0, 0, 16, 8, 0, 18, 18},       // the 17th sample of each row is dropped
        {8, 3, 5, 130, 60, 0, 14, 14},     // samples on the zoomed pixels' corners
        {1, 0, 470, 15, 500, 940, 22, 62}, // rows below the canvas are zero
        {1, 0, 0, 4, 10, 0, 0, 0},         // no row completes a byte: an empty file
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << n);
        state.zoom = c.zoom;
        state.selection = {c.x1, c.y1, c.x2, c.y2};
        SaveSelectedBits();
        Bytes expected(file.begin() + c.first, file.begin() + c.first + c.fromFile);
        expected.resize(c.size, 0);
        EXPECT_EQ(ReadFile(Numbered(n++)), expected);
    }
    EXPECT_TRUE(Messages().empty());

    session.LoadBytes(Bytes(8192, 0xFF));
    state.zoom = 1;
    tk::SetControlState(WidthScroller, 81); // a column of 648 pixels, cut at the canvas edge
    state.selection = {632, 0, 647, 0};
    SaveSelectedBits();
    // The empty file from the last case is reused; 632..640 white, 641.. clear.
    EXPECT_EQ(*ReadFile(Numbered(4)), (Bytes{0xFF, 0x80}));
    state.selection = {-16, 0, 15, 1}; // a press corner left of the picture
    SaveSelectedBits();
    EXPECT_EQ(*ReadFile(Numbered(5)), (Bytes{0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF}));
}

TEST_F(ExportTest, SelectedBitsFollowInvertAndLeaveTheGridOut) {
    session.LoadBytes({0x0F, 0xF0, 0x00, 0xFF});
    tk::SetControlState(InvertCheck, 1);
    state.selection = {0, 0, 15, 2};
    SaveSelectedBits();
    // Past the end of the file the picture is blue: clear bits, inverted or not.
    EXPECT_EQ(*ReadFile(Numbered(0)), (Bytes{0xF0, 0x0F, 0xFF, 0x00, 0x00, 0x00}));

    session.LoadBytes(Bytes(64, 0xFF));
    tk::SetControlState(InvertCheck, 0);
    tk::SetControlState(GridCheck, 1);
    RedrawView();
    ASSERT_EQ(session.CanvasPixel(8, 3), Red); // a grid line crosses the sprite
    state.selection = {0, 0, 15, 15};
    SaveSelectedBits();
    EXPECT_EQ(*ReadFile(Numbered(1)), Bytes(32, 0xFF));
    EXPECT_EQ(session.CanvasPixel(8, 3), Red); // and is painted again afterwards
}

TEST_F(ExportTest, NumberedNamesSkipNonEmptyFilesAndReuseEmptyOnes) {
    state.selection = {0, 0, 15, 0};
    WriteFile(Numbered(0), "");
    SaveSelectedBits();
    EXPECT_EQ(ReadFile(Numbered(0))->size(), 2u); // the empty file is replaced
    SaveSelectedBits();
    EXPECT_EQ(ReadFile(Numbered(1))->size(), 2u);
    EXPECT_FALSE(ReadFile(Numbered(2)));

    // With no name at all the files go to the current directory as .000, .001, ...
    state.loadedPath.clear();
    SaveSelectedBits();
    EXPECT_TRUE(ReadFile(dir + "/.000"));
}

TEST_F(ExportTest, SaveBinaryCopiesBytesFromTheFirstShownByte) {
    tk::SetControlState(RowScroller, 3);
    session.SetOffset(1);
    SaveBinary("4", dir + "/out");
    EXPECT_EQ(*ReadFile(dir + "/out.bin"), Bytes(file.begin() + 7, file.begin() + 11));
    const auto& asked = session.backend.dialogs;
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].text, "size of the file");
    EXPECT_EQ(asked[0].defaultText, "0000");
    EXPECT_EQ(asked[1].file.initialName, "game.bin");
    EXPECT_EQ(asked[1].file.patterns.at(0).second, "*.bin");

    // Invert writes 255 minus each byte.
    tk::SetControlState(InvertCheck, 1);
    tk::SetControlState(RowScroller, 0);
    session.SetOffset(0);
    session.LoadBytes({0x00, 0xFF, 0x5A});
    SaveBinary("3", dir + "/inv", 1);
    EXPECT_EQ(*ReadFile(dir + "/inv"), (Bytes{0xFF, 0x00, 0xA5}));
}

TEST_F(ExportTest, SaveBinaryCountAnswers) {
    session.backend.AnswerTextTyped(""); // the default "0000" unchanged
    SaveBinaryRange();
    session.backend.AnswerText(false, "");
    SaveBinaryRange();
    session.backend.AnswerText(true, "abc");
    SaveBinaryRange();
    EXPECT_EQ(Asked("save"), 0u);
    session.backend.AnswerTextTyped("12"); // "000012"
    session.backend.AnswerFileDialog(dir + "/twelve", 0);
    SaveBinaryRange();
    EXPECT_EQ(ReadFile(dir + "/twelve.bin")->size(), 12u);
    session.LoadBytes({});
    SaveBinaryRange();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "1st load file!");
    EXPECT_EQ(Asked("text"), 4u); // no count was asked for the last run
}

TEST_F(ExportTest, ExtensionAndOverwriteRules) {
    SaveBinary("1", dir + "/out");
    SaveBinary("1", dir + "/out.bin");
    SaveBinary("1", dir + "/raw.dat", 1);
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"out.bin", "out.bin.bin", "raw.dat"}));
    EXPECT_TRUE(Messages().empty());

    WriteFile(dir + "/keep.bin", "keep");
    session.backend.AnswerMessage(tk::ResultNo);
    SaveBinary("2", dir + "/keep");
    EXPECT_EQ(*ReadFile(dir + "/keep.bin"), (Bytes{'k', 'e', 'e', 'p'}));
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "Overwrite this file? " + dir + "/keep.bin");
    EXPECT_EQ(Messages()[0].flags, tk::MessageYesNo);
    session.backend.AnswerMessage(tk::ResultYes);
    SaveBinary("2", dir + "/keep");
    EXPECT_EQ(*ReadFile(dir + "/keep.bin"), Bytes(file.begin(), file.begin() + 2));
}

TEST_F(ExportTest, SaveBinaryNeverReadsOutsideTheFile) {
    tk::SetControlState(WidthScroller, 1);
    session.SetOffset(-1); // the first shown byte lies before the file
    session.backend.AnswerText(true, "8");
    SaveBinaryRange();
    EXPECT_EQ(Asked("save"), 0u);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].text.find("position -1"), std::string::npos);

    session.SetOffset(0);
    tk::SetControlAttribute(RowScroller, tk::Maximum, 5000);
    tk::SetControlState(RowScroller, 4090);
    SaveBinary("10", dir + "/tail");
    EXPECT_EQ(*ReadFile(dir + "/tail.bin"), Bytes(file.end() - 6, file.end()));
    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_NE(Messages()[1].text.find("Only 6 of 10 bytes"), std::string::npos);
}

TEST_F(ExportTest, SaveImageWritesTheCanvasAsShown) {
    tk::SetControlState(GridCheck, 1);
    state.selection = {100, 100, 140, 120};
    RedrawView();
    session.backend.AnswerFileDialog(dir + "/shot", 0);
    SaveCanvasImage();
    EXPECT_EQ(state.loadedPath, dir + "/shot.png");
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, (dir + "/shot.png").c_str()));
    image.format = PNG_FORMAT_RGB;
    EXPECT_EQ(image.width, 641u);
    EXPECT_EQ(image.height, 481u);
    Bytes rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    auto at = [&](int x, int y) {
        const uint8_t* p = &rgb[(y * 641 + x) * 3];
        return tk::MakeColour(p[0], p[1], p[2]);
    };
    for (int y : {0, 8, 100, 480}) {
        for (int x : {0, 7, 8, 15, 16, 120, 640})
            EXPECT_EQ(at(x, y), session.CanvasPixel(x, y)) << x << "," << y;
    }
    EXPECT_EQ(at(8, 3), Red);
    EXPECT_EQ(at(121, 111), 0xFF007Fu); // the selection shows beside the column
    EXPECT_EQ(session.backend.dialogs[0].file.initialName, "game.bin");

    // Again onto the same name: asked first, under its own title.
    session.backend.AnswerFileDialog(dir + "/shot.png", 1);
    SaveCanvasImage();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].title, "RevizeRevuzu");
}

TEST_F(ExportTest, CancelledSaveImageForgetsTheFileName) {
    SaveCanvasImage(); // no answer: cancelled
    EXPECT_EQ(state.loadedPath, "");
    SaveBinary("1", "");
    ASSERT_EQ(Asked("save"), 2u);
    EXPECT_EQ(session.backend.dialogs.back().file.initialName, ""); // only the directory
}

TEST_F(ExportTest, WriteFailuresAreReportedAndKeepTheOldFile) {
    WriteFile(dir + "/old.bin", "old");
    WriteFile(dir + "/old.png", "old");
    WriteFile(Numbered(0), "");
    state.selection = {0, 0, 15, 480}; // 962 bytes
    {
        FileSizeLimit limit(100);
        SaveSelectedBits();
        session.backend.AnswerMessage(tk::ResultYes);
        SaveBinary("4096", dir + "/old");
        session.backend.AnswerMessage(tk::ResultYes);
        session.backend.AnswerFileDialog(dir + "/old.png", 1);
        SaveCanvasImage();
    }
    auto shown = Messages();
    ASSERT_EQ(shown.size(), 5u); // three failures, two questions
    const std::string reason = "File too large";
    EXPECT_EQ(shown[0].text, "Cannot save selection: " + dir + "/game.bin.000 (" + reason + ")");
    EXPECT_EQ(shown[2].text, "Cannot save binary: " + dir + "/old.bin (" + reason + ")");
    EXPECT_EQ(shown[4].text.rfind("Cannot save image: " + dir + "/old.png (", 0), 0u);
    EXPECT_NE(shown[4].text.find(reason), std::string::npos);
    EXPECT_EQ(*ReadFile(dir + "/old.bin"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(*ReadFile(dir + "/old.png"), (Bytes{'o', 'l', 'd'}));
    // Nothing else, not even a temporary file, is left behind.
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"game.bin.000", "old.bin", "old.png"}));
    EXPECT_EQ(ReadFile(dir + "/game.bin.000")->size(), 0u);
}

} // namespace
