// File, message and text requesters: how requests are made and what the answers become.
#include <gtest/gtest.h>

#include "tests/support/scripted_backend.h"
#include "toolkit/requesters.h"
#include "toolkit/window.h"

namespace tk {
namespace {

TEST(FileDialogRequestTest, TheDefaultFileSplitsAtItsLastSeparator) {
    struct Case {
        const char* defaultFile;
        const char* folder;
        const char* name;
    };
    const Case cases[] = {
        {"/data/game.bin", "/data", "game.bin"},
        {"/data/", "/data", ""},    // a folder alone: empty name field
        {"/data/a:b", "/data", ""}, // a name no dialog takes
        {"/data/sub/a\"b", "/data/sub", ""},
        {"/data/a\tb", "/data", ""}, // a control character
        {"C:\\data\\game.bin", "C:\\data", "game.bin"},
        {"/data\\x/game.bin", "/data\\x", "game.bin"},
        {"game.bin", "", "game.bin"},
        {"/game.bin", "/", "game.bin"}, // the root folder
        {"/data/sprites \xc3\xa9t\xc3\xa9.bin", "/data", "sprites \xc3\xa9t\xc3\xa9.bin"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        FileDialogRequest request = MakeFileDialogRequest(true, "Save", c.defaultFile, "", 0);
        EXPECT_EQ(request.initialFolder, c.folder) << c.defaultFile;
        EXPECT_EQ(request.initialName, c.name) << c.defaultFile;
    }
}

TEST(FileDialogRequestTest, PatternTextBecomesNameFilterPairs) {
    FileDialogRequest request =
        MakeFileDialogRequest(false, "Open", "", "Binary|*.bin|All Files|*.*", 1);
    EXPECT_FALSE(request.save);
    EXPECT_EQ(request.title, "Open");
    ASSERT_EQ(request.patterns.size(), 2u);
    EXPECT_EQ(request.patterns[0], (std::pair<Text, Text>{"Binary", "*.bin"}));
    EXPECT_EQ(request.patterns[1], (std::pair<Text, Text>{"All Files", "*.*"}));
    EXPECT_EQ(request.patternIndex, 1);

    request = MakeFileDialogRequest(false, "Open", "", "Any(*.*)", 0);
    ASSERT_EQ(request.patterns.size(), 1u);
    EXPECT_EQ(request.patterns[0], (std::pair<Text, Text>{"Any(*.*)", ""}));

    EXPECT_TRUE(MakeFileDialogRequest(false, "Open", "", "", 0).patterns.empty());
    EXPECT_EQ(MakeFileDialogRequest(false, "", "", "A|*.a", 4).patternIndex, 0) << "no pair 4";
    EXPECT_EQ(MakeFileDialogRequest(false, "", "", "A|*.a", -2).patternIndex, 0);
}

class RequesterTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(InitToolkit(&backend), 0); }
    void TearDown() override { ReleaseToolkit(); }
    pmtest::ScriptedBackend backend;
};

TEST_F(RequesterTest, FileDialogsReportThePathAndTheChosenPair) {
    backend.AnswerFileDialog("/home/me/out.dat", 1);
    EXPECT_EQ(AskSaveFile("Save binary..", "/home/me/game.bin", "Binary|*.bin|All Files|*.*", 0),
              "/home/me/out.dat");
    EXPECT_EQ(ChosenPatternIndex(), 1);
    ASSERT_EQ(backend.dialogs.size(), 1u);
    EXPECT_EQ(backend.dialogs[0].kind, "save");
    EXPECT_EQ(backend.dialogs[0].title, "Save binary..");
    EXPECT_EQ(backend.dialogs[0].file.initialFolder, "/home/me");
    EXPECT_EQ(backend.dialogs[0].file.initialName, "game.bin");
    EXPECT_EQ(backend.dialogs[0].file.patternIndex, 0);

    // Nothing answered: the dialog is cancelled.
    EXPECT_EQ(AskOpenFile("Open..", "", "Any(*.*)", 0), "");
    EXPECT_EQ(ChosenPatternIndex(), -1);
    EXPECT_EQ(backend.dialogs[1].kind, "open");
    EXPECT_EQ(backend.dialogs[1].file.initialFolder, CurrentDirectory())
        << "without a folder of its own a dialog starts in the current directory";

    // Long paths come back whole.
    Text deep = "/" + Text(300, 'd') + "/" + Text(200, 'f');
    backend.AnswerFileDialog(deep, 0);
    EXPECT_EQ(AskOpenFile("Open..", "", "Any(*.*)", 0), deep);
    EXPECT_EQ(ChosenPatternIndex(), 0);
}

TEST_F(RequesterTest, MessageBoxesReturnTheButtonPressed) {
    backend.AnswerMessage(ResultYes);
    EXPECT_EQ(ShowMessage("Save", "Overwrite?", MessageYesNo), ResultYes);
    EXPECT_EQ(ShowMessage("Save", "Overwrite?", MessageYesNo), ResultNo) << "closed unanswered";
    EXPECT_EQ(ShowMessage("Error", "Cannot open"), ResultOk);
    ASSERT_EQ(backend.dialogs.size(), 3u);
    EXPECT_EQ(backend.dialogs[0].kind, "message");
    EXPECT_EQ(backend.dialogs[0].text, "Overwrite?");
    EXPECT_EQ(backend.dialogs[0].flags, MessageYesNo);
    EXPECT_EQ(backend.dialogs[2].flags, MessageOk);
}

TEST_F(RequesterTest, TextInputAppendsToTheDefaultAndEscapeGivesNothing) {
    backend.AnswerTextTyped("");
    backend.AnswerTextTyped("12");
    backend.AnswerText(false, "ignored");
    backend.AnswerText(true, "7");
    EXPECT_EQ(AskText("Save binary..", "Bytes:", "0000"), "0000");
    EXPECT_EQ(AskText("Save binary..", "Bytes:", "0000"), "000012");
    EXPECT_EQ(AskText("Save binary..", "Bytes:", "0000"), "");
    EXPECT_EQ(AskText("Save binary..", "Bytes:", "0000"), "7");
    EXPECT_EQ(AskText("Save binary..", "Bytes:", "0000"), "") << "closed unanswered";
    ASSERT_EQ(backend.dialogs.size(), 5u);
    EXPECT_EQ(backend.dialogs[0].kind, "text");
    EXPECT_EQ(backend.dialogs[0].text, "Bytes:");
    EXPECT_EQ(backend.dialogs[0].defaultText, "0000");
}

TEST(RequesterWithoutToolkitTest, EveryRequesterAnswersEmpty) {
    EXPECT_EQ(AskOpenFile("Open", "", "", 0), "");
    EXPECT_EQ(ChosenPatternIndex(), -1);
    EXPECT_EQ(ShowMessage("t", "x"), 0);
    EXPECT_EQ(AskText("t", "p", "d"), "");
}

} // namespace
} // namespace tk
