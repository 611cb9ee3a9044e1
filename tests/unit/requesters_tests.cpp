// File, message and text requesters: how requests are made, what the answers become, and the
// keys a dialog or a menu took for itself.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/requesters.h"
#include "toolkit/window.h"

using namespace tk;

TEST(Requesters, TheDefaultFileSplitsAtItsLastSeparatorAndPatternsPairUp) {
    const std::pair<Text, Text> cases[] = {// the folder, then the name ("" for one no dialog takes)
                                           {"/data/game.bin", "/data|game.bin"},
                                           {"/data/", "/data|"},
                                           {"/d/a:b", "/d|"},
                                           {"/d/s/a\"b", "/d/s|"},
                                           {"/d/a\tb", "/d|"},
                                           {"C:\\d\\g", "C:\\d|g"},
                                           {"game.bin", "|game.bin"},
                                           {"/game.bin", "/|game.bin"},
                                           {"/d/\xc3\xa9", "/d|\xc3\xa9"}};
    for (const auto& [file, parts] : cases) {
        const FileDialogRequest request = MakeFileDialogRequest(true, "Save", file, "", 0);
        EXPECT_EQ(request.initialFolder + "|" + request.initialName, parts);
    }
    using Pairs = std::vector<std::pair<Text, Text>>;
    const FileDialogRequest request = MakeFileDialogRequest(false, "", "", "B|*.bin|All|*.*", 1);
    EXPECT_EQ(request.patterns, (Pairs{{"B", "*.bin"}, {"All", "*.*"}}));
    EXPECT_EQ(request.patternIndex, 1);
    EXPECT_EQ(MakeFileDialogRequest(false, "", "", "Any", 0).patterns, (Pairs{{"Any", ""}}));
    EXPECT_EQ(MakeFileDialogRequest(false, "", "", "A|*.a", 4).patternIndex, 0) << "no pair 4";
}

TEST(Requesters, AnswersComeBackAndUnansweredDialogsCancel) {
    EXPECT_EQ(AskOpenFile("Open", "", "", 0) + AskText("t", "p", "d"), "") << "no toolkit";
    EXPECT_EQ(ShowMessage("t", "x") + ChosenPatternIndex(), -1);
    pmtest::ScriptedToolkit toolkit;
    toolkit.backend.AnswerFileDialog("/home/me/out.dat", 1);
    EXPECT_EQ(AskSaveFile("Save", "/home/me/game.bin", "B|*.bin|All|*.*", 0), "/home/me/out.dat");
    EXPECT_EQ(ChosenPatternIndex(), 1);
    EXPECT_EQ(AskOpenFile("Open..", "", "Any(*.*)", 0), "");
    EXPECT_EQ(ChosenPatternIndex(), -1);
    EXPECT_EQ(toolkit.backend.dialogs.at(1).file.initialFolder, CurrentDirectory())
        << "without a folder of its own a dialog starts in the current one";
}

TEST(Requesters, AKeyPressedWhileADialogOrMenuHadTheInputCountsOnlyWhenPressedAgain) {
    pmtest::ScriptedToolkit toolkit;
    auto& backend = toolkit.backend;
    constexpr int32_t DownOnly = int32_t(KeyDownState);
    const std::function<void()> closedByEscape[] = {
        [] { ShowMessage("Information", "text"); },
        [] { AskText("Title", "size of the file", "0000"); },
        [&] {
            notify::MenuTracking(0, true);
            EXPECT_EQ(AsyncKeyState(VkEscape), DownOnly) << "a press inside a menu is its own";
            notify::MenuTracking(0, false);
        }};
    for (const auto& close : closedByEscape) {
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
