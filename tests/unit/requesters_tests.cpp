// File, message and text requesters: how requests are made, what the answers become, and the
// keys a dialog or a menu took for itself.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/requesters.h"
#include "toolkit/window.h"

namespace tk {
namespace {

constexpr int32_t DownOnly = int32_t(KeyDownState);

TEST(Requesters, TheDefaultFileSplitsAtItsLastSeparatorAndPatternsPairUp) {
    const std::tuple<Text, Text, Text> cases[] = {
        {"/data/game.bin", "/data", "game.bin"},
        {"/data/", "/data", ""},
        {"/data/a:b", "/data", ""},
        {"/data/sub/a\"b", "/data/sub", ""}, // names no dialog takes
        {"/data/a\tb", "/data", ""},
        {"C:\\data\\game.bin", "C:\\data", "game.bin"},
        {"game.bin", "", "game.bin"},
        {"/game.bin", "/", "game.bin"},
        {"/d/\xc3\xa9t\xc3\xa9.bin", "/d", "\xc3\xa9t\xc3\xa9.bin"}};
    for (const auto& [file, folder, name] : cases) {
        FileDialogRequest request = MakeFileDialogRequest(true, "Save", file, "", 0);
        EXPECT_EQ(request.initialFolder + "|" + request.initialName, folder + "|" + name);
    }
    using Pairs = std::vector<std::pair<Text, Text>>;
    const FileDialogRequest request =
        MakeFileDialogRequest(false, "Open", "", "B|*.bin|All|*.*", 1);
    EXPECT_EQ(request.patterns, (Pairs{{"B", "*.bin"}, {"All", "*.*"}}));
    EXPECT_EQ(request.patternIndex, 1);
    EXPECT_EQ(MakeFileDialogRequest(false, "", "", "Any(*.*)", 0).patterns,
              (Pairs{{"Any(*.*)", ""}}));
    EXPECT_EQ(MakeFileDialogRequest(false, "", "", "A|*.a", 4).patternIndex, 0) << "no pair 4";
}

TEST(Requesters, AnswersComeBackAndUnansweredDialogsCancel) {
    EXPECT_EQ(AskOpenFile("Open", "", "", 0) + AskText("t", "p", "d"), "") << "no toolkit";
    EXPECT_EQ(ShowMessage("t", "x") + ChosenPatternIndex(), -1);
    pmtest::ScriptedToolkit toolkit;
    auto& backend = toolkit.backend;
    const Text deep = "/" + Text(300, 'd') + "/" + Text(200, 'f');
    backend.AnswerFileDialog(deep, 1);
    EXPECT_EQ(AskSaveFile("Save binary..", "/home/me/game.bin", "B|*.bin|All|*.*", 0), deep);
    EXPECT_EQ(ChosenPatternIndex(), 1);
    EXPECT_EQ(AskOpenFile("Open..", "", "Any(*.*)", 0), "");
    EXPECT_EQ(ChosenPatternIndex(), -1);
    EXPECT_EQ(backend.dialogs[1].file.initialFolder, CurrentDirectory()) << "no folder of its own";
    backend.AnswerMessage(ResultYes);
    EXPECT_EQ(ShowMessage("Save", "Overwrite?", MessageYesNo), ResultYes);
    EXPECT_EQ(ShowMessage("Save", "Overwrite?", MessageYesNo), ResultNo);
    EXPECT_EQ(ShowMessage("Error", "Cannot open"), ResultOk);
    backend.AnswerTextTyped("12");
    backend.AnswerText(false, "ignored");
    EXPECT_EQ(AskText("Save binary..", "Bytes:", "0000"), "000012");
    EXPECT_EQ(AskText("Save binary..", "Bytes:", "0000") +
                  AskText("Save binary..", "Bytes:", "0000"),
              "");
    std::vector<std::string> asked;
    for (const auto& d : backend.dialogs)
        asked.push_back(d.kind + ":" + d.title + ":" + d.text + ":" + d.defaultText);
    EXPECT_EQ(asked, (std::vector<std::string>{
                         "save:Save binary..::", "open:Open..::", "message:Save:Overwrite?:",
                         "message:Save:Overwrite?:", "message:Error:Cannot open:",
                         "text:Save binary..:Bytes::0000", "text:Save binary..:Bytes::0000",
                         "text:Save binary..:Bytes::0000"}));
    EXPECT_EQ(backend.dialogs[2].flags, MessageYesNo);
}

TEST(Requesters, AKeyPressedWhileADialogOrMenuHadTheInputCountsOnlyWhenPressedAgain) {
    pmtest::ScriptedToolkit toolkit;
    auto& backend = toolkit.backend;
    const std::pair<const char*, std::function<void()>> closedByEscape[] = {
        {"message box", [] { ShowMessage("Information", "text"); }},
        {"text dialog", [] { AskText("Title", "size of the file", "0000"); }},
        {"file dialog", [] { AskOpenFile("Please choose file to load", "", "Any(*.*)", 0); }},
        {"menu", [] {
             notify::MenuTracking(0, true);
             EXPECT_EQ(AsyncKeyState(VkEscape), DownOnly) << "a press inside a menu is its own";
             notify::MenuTracking(0, false);
         }}};
    for (const auto& [what, close] : closedByEscape) {
        SCOPED_TRACE(what);
        AsyncKeyState(VkEscape); // the program polls this key
        backend.PressKey(VkEscape);
        close();
        EXPECT_EQ(AsyncKeyState(VkEscape), DownOnly);
        backend.PressKey(VkEscape); // a repeat of the held key is no new press
        EXPECT_EQ(AsyncKeyState(VkEscape), DownOnly);
        backend.SetKeyDown(VkEscape, false);
        EXPECT_EQ(AsyncKeyState(VkEscape), 0);
        backend.PressKey(VkEscape);
        EXPECT_EQ(AsyncKeyState(VkEscape), KeyDownAndPressed) << "released and pressed again";
        backend.SetKeyDown(VkEscape, false);
    }
    AsyncKeyState(VkLeft); // pressed before a dialog and let go before it closed: forgotten too
    backend.PressKey(VkLeft);
    backend.SetKeyDown(VkLeft, false);
    ShowMessage("Information", "text");
    backend.SetKeyDown(VkLeft, true);
    EXPECT_EQ(AsyncKeyState(VkLeft), DownOnly);
}

} // namespace
} // namespace tk
