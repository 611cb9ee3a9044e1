// The built tools run as a person runs them: pixmole-batch (its output lines, exit codes and
// written files), make-sample (the committed sample equals what it generates) and the
// installation. The tools are found beside this test program's build folder, in tools/.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

fs::path ToolPath(const std::string& name) {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" / name;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Bytes ReadBytes(const fs::path& path) {
    std::string text = ReadText(path);
    return Bytes(text.begin(), text.end());
}

struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pixmole-batch-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        for (const char* tool : {"pixmole-batch", "make-sample"}) {
            ASSERT_TRUE(fs::exists(ToolPath(tool)))
                << ToolPath(tool) << " is missing: build the tools before the tests";
        }
        file = Bytes(2048);
        for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 37 + 11);
        std::ofstream(dir / "data.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }
    void TearDown() override { fs::remove_all(dir); }

    // A shell command, its output lines kept.
    ToolRun Run(const std::string& command) {
        ToolRun run;
        int status = std::system((command + " >" + In("out.txt") + " 2>" + In("err.txt")).c_str());
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadText(dir / "out.txt");
        run.err = ReadText(dir / "err.txt");
        return run;
    }
    // `before` runs first in the same shell, for example "cd DIR && ".
    ToolRun Batch(const std::string& arguments, const std::string& before = "") {
        return Run(before + ToolPath("pixmole-batch").string() + " " + arguments);
    }
    std::string In(const std::string& name) const { return (dir / name).string(); }

    fs::path dir;
    Bytes file;
};

TEST_F(ToolTest, SelectionBitsAndTheTwoOutputLines) {
    ToolRun run =
        Batch("--width 2 --select 0,0,15,7 --bits " + In("a.bits") + " " + In("data.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "title: Pixmole 0.10.0, sprsize:2 disp:0 zoom:1\nstatus: x:0 y:0 w:1 h:7\n");
    EXPECT_EQ(ReadBytes(dir / "a.bits"), Bytes(file.begin(), file.begin() + 16));

    run = Batch("--width 2 --zoom 8 --select 3,5,130,60 --grid --bits " + In("b.bits") + " " +
                In("data.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadBytes(dir / "b.bits"), Bytes(file.begin(), file.begin() + 14));
    EXPECT_NE(run.out.find("grid:8x8"), std::string::npos); // the grid is back on afterwards

    // Row, offset (cut to the width) and invert as the viewer applies them.
    run = Batch("--width 2 --row 3 --offset 5 --invert --select 0,0,15,0 --bits " + In("c.bits") +
                " " + In("data.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("disp:8 "), std::string::npos) << run.out;
    EXPECT_EQ(ReadBytes(dir / "c.bits"), (Bytes{uint8_t(~file[8]), uint8_t(~file[9])}));
}

// Loading makes the input's folder current; relative output names still mean the folder the
// command was started in, and an offset below 0 needs no --width.
TEST_F(ToolTest, RelativeOutputsLandWhereTheCommandStarted) {
    fs::create_directories(dir / "in");
    fs::create_directories(dir / "out");
    fs::rename(dir / "data.bin", dir / "in" / "data.bin");
    ToolRun run =
        Batch("--offset -5 --select 0,1,7,1 --png shot.png --bits out/row.bits in/data.bin",
              "cd " + dir.string() + " && ");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(" disp:-1 "), std::string::npos) << run.out;
    EXPECT_EQ(ReadBytes(dir / "out" / "row.bits"), Bytes{file[0]}); // row 1 starts at byte 0
    EXPECT_TRUE(fs::exists(dir / "shot.png"));
    EXPECT_FALSE(fs::exists(dir / "in" / "shot.png"));

    // A starting folder that is gone cannot take them: refused, nothing lands beside the input.
    fs::create_directories(dir / "gone");
    run = Batch("--bits row.bits " + In("in/data.bin"),
                "cd " + (dir / "gone").string() + " && rmdir ../gone && ");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("absolute paths"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "in" / "row.bits"));
}

TEST_F(ToolTest, PngOfTheCanvasAndGridSizesForcedIntoRange) {
    ToolRun run = Batch("--grid --grid-size 30,0 --png " + In("shot.png") + " " + In("data.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("grid:25x1"), std::string::npos) << run.out;
    std::string png = ReadText(dir / "shot.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    // Width and height in the header, big-endian.
    auto be32 = [&](size_t at) {
        return (uint8_t(png[at]) << 24) | (uint8_t(png[at + 1]) << 16) |
               (uint8_t(png[at + 2]) << 8) | uint8_t(png[at + 3]);
    };
    EXPECT_EQ(be32(16), 641);
    EXPECT_EQ(be32(20), 481);
}

TEST_F(ToolTest, BadArgumentsMissingFilesAndWriteFailures) {
    for (const std::string& bad :
         {std::string("--zoom 3 "), std::string("--width x "), std::string("--width 0 "),
          std::string("--select 1,2,3 "), std::string("--select 0,0,99999,1 "),
          std::string("--frobnicate "), std::string("--png")}) {
        ToolRun run = Batch(bad + " " + In("data.bin"));
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_NE(run.err.find("pixmole-batch: "), std::string::npos) << bad;
        EXPECT_EQ(run.out, "") << bad;
    }
    EXPECT_EQ(Batch("").exitCode, 2);
    EXPECT_EQ(Batch(In("data.bin") + " " + In("data.bin")).exitCode, 2);

    ToolRun help = Batch("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--grid-size X,Y"), std::string::npos);

    ToolRun missing = Batch(In("nothing.bin"));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("no such file"), std::string::npos);
    ToolRun directory = Batch(dir.string());
    EXPECT_EQ(directory.exitCode, 1);
    EXPECT_NE(directory.err.find("Couldn't open the file!"), std::string::npos);

    ToolRun unwritable =
        Batch("--select 0,0,15,0 --bits " + In("none/x.bits") + " " + In("data.bin"));
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_NE(unwritable.err.find(In("none/x.bits") + " (No such file or directory)"),
              std::string::npos)
        << unwritable.err;
    EXPECT_NE(unwritable.out.find("title: "), std::string::npos);
}

TEST_F(ToolTest, CommittedSampleIsWhatTheGeneratorMakesAndShowsThePageAndTheSmiley) {
    fs::path committed =
        fs::path(__FILE__).parent_path().parent_path().parent_path() / "samples" / "sprites.bin";
    std::string command = ToolPath("make-sample").string() + " " + In("fresh.bin");
    ASSERT_EQ(std::system(command.c_str()), 0);
    Bytes made = ReadBytes(dir / "fresh.bin");
    ASSERT_EQ(made.size(), 0x9A00u);
    EXPECT_EQ(made, ReadBytes(committed)) << "regenerate samples/sprites.bin with make-sample";

    // As the sample's README says: MultiColumns at width 1 shows the page, its first letter "P"
    // in the third column; width 2, row 19456 shows the smiley at the top left.
    ToolRun run =
        Batch("--multi --select 16,0,23,7 --bits " + In("p.bits") + " " + In("fresh.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadBytes(dir / "p.bits"), (Bytes{0x00, 0x7C, 0x66, 0x66, 0x7C, 0x60, 0x60, 0x60}));
    run = Batch("--width 2 --row 19456 --select 0,0,15,15 --bits " + In("smiley.bits") + " " +
                In("fresh.bin"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    Bytes smiley = ReadBytes(dir / "smiley.bits");
    EXPECT_EQ(smiley, Bytes(made.begin() + 0x9800, made.begin() + 0x9820));
    ASSERT_EQ(smiley.size(), 32u);
    EXPECT_EQ(smiley[0], 0x07); // ".....######....."
    EXPECT_EQ(smiley[1], 0xE0);
}

// "cmake --install" into a fresh prefix, as a person installs the programs: exactly the programs,
// their man pages, the desktop entry and the icon; the versions agree with the window title.
TEST_F(ToolTest, InstallPutsProgramsManPagesDesktopEntryAndIcon) {
    const fs::path build = ToolPath("pixmole-batch").parent_path().parent_path();
    const fs::path prefix = dir / "prefix";
    ToolRun install = Run("cmake --install " + build.string() + " --prefix " + prefix.string());
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    const bool viewer = fs::exists(build / "app" / "pixmole"); // built with the GTK backend
    std::vector<std::string> expected = {"bin/pixmole-batch", "share/man/man1/pixmole-batch.1"};
    if (viewer) {
        expected.insert(expected.end(), {"bin/pixmole", "share/applications/pixmole.desktop",
                                         "share/icons/hicolor/scalable/apps/pixmole.svg",
                                         "share/man/man1/pixmole.1"});
    }
    std::vector<std::string> installed;
    for (const auto& entry : fs::recursive_directory_iterator(prefix))
        if (!entry.is_directory()) installed.push_back(entry.path().lexically_relative(prefix));
    std::sort(expected.begin(), expected.end());
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ(installed, expected);

    // The batch tool's man page names every option its --help lists, and the version.
    ToolRun help = Run((prefix / "bin" / "pixmole-batch").string() + " --help");
    EXPECT_EQ(help.exitCode, 0);
    const std::string page = ReadText(prefix / "share/man/man1/pixmole-batch.1");
    std::istringstream lines(help.out);
    int options = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  --", 0) != 0) continue;
        std::string roff; // "--grid-size" is written \-\-grid\-size
        for (size_t i = 2; i < line.size() && line[i] != ' '; ++i)
            roff += line[i] == '-' ? std::string("\\-") : std::string(1, line[i]);
        ++options;
        EXPECT_NE(page.find(roff), std::string::npos) << roff << " is missing from the man page";
    }
    EXPECT_GT(options, 10) << "--help lists no option lines";
    const std::string title = Batch(In("data.bin")).out; // "title: Pixmole 0.10.0, sprsize:..."
    const std::string version = title.substr(15, title.find(',') - 15);
    EXPECT_NE(page.find("\"Pixmole " + version + "\""), std::string::npos) << page.substr(0, 80);
    if (!viewer) return;

    // --help and --version answer without a display; ./--help is a file to open, which needs one.
    const std::string noDisplay =
        "env -u DISPLAY -u WAYLAND_DISPLAY " + (prefix / "bin" / "pixmole").string();
    ToolRun shown = Run(noDisplay + " --version");
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_EQ(shown.out, "pixmole " + version + "\n");
    shown = Run(noDisplay + " --help");
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_EQ(shown.out.rfind("usage: pixmole [FILE]", 0), 0u) << shown.out;
    shown = Run("cd " + dir.string() + " && " + noDisplay + " ./--help");
    EXPECT_EQ(shown.out, "");
    EXPECT_NE(shown.err.find("cannot open a display"), std::string::npos) << shown.err;

    const std::string entry = ReadText(prefix / "share/applications/pixmole.desktop");
    EXPECT_NE(entry.find("\nExec=pixmole %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon=pixmole\n"), std::string::npos) << entry;
    ToolRun valid =
        Run("desktop-file-validate " + (prefix / "share/applications/pixmole.desktop").string());
    EXPECT_EQ(valid.exitCode, 0) << "desktop-file-validate (package desktop-file-utils): "
                                 << valid.out << valid.err;
}

} // namespace
