// The three export commands on the headless backend: what "Save selected" packs from the
// picture, what "Save binary.." copies from the file, what "Save image.." writes, the dialogs
// they ask, and how every write failure is reported without harming an existing file.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <optional>
#include <png.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/support/viewer_session.h"
#include "toolkit/controls.h"
#include "viewer/exports.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

using Bytes = std::vector<uint8_t>;
using Record = tk::HeadlessBackend::DialogRecord;

constexpr tk::Colour Red = 0x0000FF;

Bytes Pattern(size_t n) {
    Bytes b(n);
    uint32_t seed = 12345;
    for (auto& byte : b) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    return b;
}

std::optional<Bytes> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    return Bytes(text.begin(), text.end());
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    while (dirent* e = d ? readdir(d) : nullptr) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    if (d) closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// Limits the size of files this process may write; writes beyond it fail with EFBIG instead of
// killing the process. Both are restored at the end of the scope.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {bytes, saved_.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

  private:
    struct rlimit saved_ = {};
    void (*previous_)(int) = nullptr;
};

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.ok());
        ASSERT_EQ(getcwd(cwd, sizeof cwd), cwd);
        char tmpl[] = "/tmp/pixmole-export-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        char* real = realpath(tmpl, nullptr);
        dir = real;
        std::free(real);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        file = Pattern(4096);
        session.LoadBytes(file);
        state.loadedPath = dir + "/game.bin";
        tk::SetControlState(WidthScroller, 2);
        RedrawView();
    }
    void TearDown() override {
        if (chdir(cwd) != 0) ADD_FAILURE() << "cannot go back to " << cwd;
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    std::string Numbered(int n) const {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".%03d", n);
        return state.loadedPath + suffix;
    }

    // The bits "Save selected" must give for the default view (row 0, offset 0, one column of
    // 16 pixels), worked out from the file bytes rather than from the picture.
    Bytes ExpectedBits(int x1, int y1, int x2, int y2) const {
        int zoom = state.zoom;
        int w = (x2 - x1) / zoom, h = (y2 - y1) / zoom;
        int ox = x1 / zoom, oy = y1 / zoom; // sprite pixel under the press point
        Bytes out;
        for (int r = 0; r <= h && w >= 7; ++r) {
            for (int b = 0; b < (w + 1) / 8; ++b) {
                uint8_t acc = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    int sx = ox + b * 8 + bit, sy = oy + r;
                    bool onCanvas = sy * zoom < 481 && sx * zoom < 641;
                    if (onCanvas && sx >= 0 && sx < 16 &&
                        (file[sy * 2 + sx / 8] << (sx % 8)) & 0x80)
                        acc |= 0x80 >> bit;
                }
                out.push_back(acc);
            }
        }
        return out;
    }

    std::vector<Record> Messages() const {
        std::vector<Record> found;
        for (const auto& d : session.backend.dialogs)
            if (d.kind == "message") found.push_back(d);
        return found;
    }
    size_t Asked(const std::string& kind) const {
        size_t n = 0;
        for (const auto& d : session.backend.dialogs) n += d.kind == kind;
        return n;
    }

    // "Save binary.." with the typed count and the chosen file.
    void SaveBinary(const std::string& typed, const std::string& path, int pattern = 0) {
        session.backend.AnswerText(true, typed);
        session.backend.AnswerFileDialog(path, pattern);
        SaveBinaryRange();
    }

    pmtest::ViewerSession session;
    Bytes file;
    std::string dir;
    char cwd[4096] = {};
};

TEST_F(ExportTest, SelectedBitsAreThePixelsOnDisplay) {
    struct Case {
        int zoom, x1, y1, x2, y2;
        size_t size;
    };
    const Case cases[] = {
        {1, 0, 0, 15, 7, 16},                          // 16 samples, 8 rows
        {1, 0, 0, 16, 8, 18},                          // the 17th sample of each row is dropped
        {8, 3, 5, 130, 60, 14},                        // samples on the zoomed pixels' corners
        {1, 0, 470, 15, 500, 62},                      // rows below the canvas are zero
        {2, 5, 9, 40, 30, 22},    {1, 0, 0, 4, 10, 0}, // no row completes a byte: an empty file
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "zoom " << c.zoom << " (" << c.x1 << "," << c.y1 << ")-("
                                        << c.x2 << "," << c.y2 << ")");
        state.zoom = c.zoom;
        state.selection = {c.x1, c.y1, c.x2, c.y2};
        SaveSelectedBits();
        auto written = ReadFile(Numbered(n++));
        ASSERT_TRUE(written);
        EXPECT_EQ(written->size(), c.size);
        EXPECT_EQ(*written, ExpectedBits(c.x1, c.y1, c.x2, c.y2));
    }
    // The plain cases are the file bytes themselves.
    EXPECT_EQ(*ReadFile(Numbered(0)), Bytes(file.begin(), file.begin() + 16));
    EXPECT_EQ(*ReadFile(Numbered(2)), Bytes(file.begin(), file.begin() + 14));
    Bytes below(file.begin() + 940, file.begin() + 962);
    below.resize(62, 0);
    EXPECT_EQ(*ReadFile(Numbered(3)), below);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ExportTest, SamplesOutsideTheCanvasAreClear) {
    session.LoadBytes(Bytes(8192, 0xFF));
    tk::SetControlState(WidthScroller, 81); // a column of 648 pixels, cut at the canvas edge
    state.selection = {632, 0, 647, 0};
    SaveSelectedBits();
    EXPECT_EQ(*ReadFile(Numbered(0)), (Bytes{0xFF, 0x80})); // 632..640 white, 641.. clear

    state.selection = {-16, 0, 15, 1}; // a press corner left of the picture
    SaveSelectedBits();
    EXPECT_EQ(*ReadFile(Numbered(1)), (Bytes{0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF}));
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
    EXPECT_EQ(tk::GetControlState(GridCheck), 1);
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

TEST_F(ExportTest, AllThousandNamesTakenWritesNothingAndSaysSo) {
    for (int n = 0; n < 1000; ++n) WriteFile(Numbered(n), "x");
    tk::SetControlState(GridCheck, 1);
    state.selection = {0, 0, 15, 0};
    SaveSelectedBits();
    auto shown = Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find(Numbered(0)), std::string::npos);
    EXPECT_NE(shown[0].text.find(Numbered(999)), std::string::npos);
    EXPECT_EQ(Entries(dir).size(), 1000u);
    EXPECT_EQ(*ReadFile(Numbered(0)), Bytes{'x'});
    EXPECT_EQ(tk::GetControlState(GridCheck), 1);
}

TEST_F(ExportTest, SaveBinaryCopiesBytesFromTheFirstShownByte) {
    tk::SetControlState(RowScroller, 3);
    session.SetOffset(1);
    SaveBinary("4", dir + "/out");
    EXPECT_EQ(*ReadFile(dir + "/out.bin"), Bytes(file.begin() + 7, file.begin() + 11));

    const auto& asked = session.backend.dialogs;
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].kind, "text");
    EXPECT_EQ(asked[0].title, "Title");
    EXPECT_EQ(asked[0].text, "size of the file");
    EXPECT_EQ(asked[0].defaultText, "0000");
    EXPECT_EQ(asked[1].kind, "save");
    EXPECT_EQ(asked[1].title, "Save binary file");
    EXPECT_EQ(asked[1].file.initialName, "game.bin");
    EXPECT_EQ(asked[1].file.patternIndex, 0);
    ASSERT_EQ(asked[1].file.patterns.size(), 2u);
    EXPECT_EQ(asked[1].file.patterns[0].second, "*.bin");

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
    EXPECT_EQ(Messages()[0].title, "Title");
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
    EXPECT_EQ(Messages()[0].title, "save binary");
    EXPECT_EQ(Messages()[0].text, "Overwrite this file? " + dir + "/keep.bin");
    EXPECT_EQ(Messages()[0].flags, tk::MessageYesNo);

    session.backend.AnswerMessage(tk::ResultYes);
    SaveBinary("2", dir + "/keep");
    EXPECT_EQ(*ReadFile(dir + "/keep.bin"), Bytes(file.begin(), file.begin() + 2));

    // An existing empty file is asked about too.
    WriteFile(dir + "/empty.bin", "");
    SaveBinary("2", dir + "/empty");
    EXPECT_EQ(Messages().size(), 3u);
    EXPECT_EQ(ReadFile(dir + "/empty.bin")->size(), 0u);
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
    EXPECT_NE(Messages()[1].text.find(dir + "/tail.bin"), std::string::npos);
}

struct DecodedPng {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    tk::Colour At(int x, int y) const {
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return tk::MakeColour(p[0], p[1], p[2]);
    }
};

std::optional<DecodedPng> DecodePng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
    image.format = PNG_FORMAT_RGB;
    DecodedPng out;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) return std::nullopt;
    return out;
}

TEST_F(ExportTest, SaveImageWritesTheCanvasAsShown) {
    tk::SetControlState(GridCheck, 1);
    state.selection = {100, 100, 140, 120};
    RedrawView();
    session.backend.AnswerFileDialog(dir + "/shot", 0);
    SaveCanvasImage();
    EXPECT_EQ(state.loadedPath, dir + "/shot.png");
    auto png = DecodePng(dir + "/shot.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, 641);
    EXPECT_EQ(png->height, 481);
    for (int y : {0, 8, 100, 480}) {
        for (int x : {0, 7, 8, 15, 16, 120, 640})
            EXPECT_EQ(png->At(x, y), session.CanvasPixel(x, y)) << x << "," << y;
    }
    EXPECT_EQ(png->At(8, 3), Red);
    EXPECT_EQ(png->At(121, 111), 0xFF007Fu); // the selection shows beside the column
    ASSERT_EQ(session.backend.dialogs.size(), 1u);
    EXPECT_EQ(session.backend.dialogs[0].title, "Save PNG Image AS...");
    EXPECT_EQ(session.backend.dialogs[0].file.initialName, "game.bin");

    // Again onto the same name: asked first, under its own title.
    session.backend.AnswerFileDialog(dir + "/shot.png", 1);
    SaveCanvasImage();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].title, "RevizeRevuzu");
    EXPECT_EQ(Messages()[0].text, "Overwrite this file? " + dir + "/shot.png");
}

TEST_F(ExportTest, CancelledSaveImageForgetsTheFileName) {
    SaveCanvasImage(); // no answer: cancelled
    EXPECT_EQ(state.loadedPath, "");
    SaveBinary("1", "");
    ASSERT_EQ(Asked("save"), 2u);
    const Record& second = session.backend.dialogs.back();
    EXPECT_EQ(second.file.initialName, ""); // only the directory is proposed
    state.selection = {0, 0, 7, 0};
    SaveSelectedBits();
    EXPECT_TRUE(ReadFile(dir + "/.000"));
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
    EXPECT_EQ(shown[2].title, "save binary");
    EXPECT_EQ(shown[4].text.rfind("Cannot save image: " + dir + "/old.png (", 0), 0u);
    EXPECT_NE(shown[4].text.find(reason), std::string::npos);
    EXPECT_EQ(shown[4].title, "RevizeRevuzu");
    EXPECT_EQ(*ReadFile(dir + "/old.bin"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(*ReadFile(dir + "/old.png"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(ReadFile(dir + "/game.bin.000")->size(), 0u);
    // No temporary file is left behind.
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"game.bin.000", "old.bin", "old.png"}));
}

TEST_F(ExportTest, DirectoriesAndMissingFoldersAreReportedByName) {
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Numbered(0).c_str(), 0755), 0);
    state.selection = {0, 0, 15, 0};
    SaveSelectedBits();
    session.backend.AnswerMessage(tk::ResultYes); // "Overwrite" a directory
    SaveBinary("4", dir + "/sub", 1);
    session.backend.AnswerFileDialog(dir + "/none/x.png", 1);
    SaveCanvasImage();

    auto shown = Messages();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].text, "Cannot save selection: " + dir + "/game.bin.000 (Is a directory)");
    EXPECT_EQ(shown[2].text, "Cannot save binary: " + dir + "/sub (Is a directory)");
    EXPECT_EQ(shown[3].text.rfind("Cannot save image: " + dir + "/none/x.png (", 0), 0u);
}

} // namespace
