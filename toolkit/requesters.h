// Modal dialogs: open and save file, message box, one-line text input.
// While one is open the program's windows take no input but keep painting.
#pragma once

#include "toolkit/runtime.h"

namespace tk {

constexpr int MessageOk = 0;    // flags: one OK button
constexpr int MessageYesNo = 4; // flags: Yes and No
constexpr int ResultOk = 1;
constexpr int ResultYes = 6;
constexpr int ResultNo = 7;

// Pattern text: "Name|*.ext|Name|*.*"; index counts pairs from 0. The default file is split at
// its last separator into the initial folder and the initial name.
Text AskOpenFile(const Text& title, const Text& defaultFile, const Text& patterns, int index);
Text AskSaveFile(const Text& title, const Text& defaultFile, const Text& patterns, int index);
int ChosenPatternIndex(); // pair chosen in the last confirmed file dialog; -1 after a cancel
int ShowMessage(const Text& title, const Text& text, int flags = 0);
Text AskText(const Text& title, const Text& prompt, const Text& defaultText);

// The parts of a file dialog request that the backends share.
struct FileDialogRequest {
    bool save = false;
    Text title;
    Text initialFolder;                          // empty: the dialog's own choice
    Text initialName;                            // already checked: empty when invalid
    std::vector<std::pair<Text, Text>> patterns; // name, filter
    int patternIndex = 0;                        // 0-based
};
struct FileDialogAnswer {
    Text path; // empty on cancel
    int patternIndex = -1;
};
// How a request is made from the arguments (exposed for tests).
FileDialogRequest MakeFileDialogRequest(bool save, const Text& title, const Text& defaultFile,
                                        const Text& patterns, int index);

} // namespace tk
