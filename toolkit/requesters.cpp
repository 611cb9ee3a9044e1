// Modal dialogs. The core turns the arguments into a request and keeps the last chosen pattern;
// the backend runs the dialog itself.
#include "toolkit/requesters.h"

#include "toolkit/backend.h"
#include "toolkit/core_internal.h"
#include "toolkit/state.h"

namespace tk {

struct state::Requesters {
    int lastChosenPattern = 0; // 1-based pair of the last confirmed file dialog; 0 when none
};

template <> state::Requesters* state::Make() {
    return new Requesters;
}

template <> void state::Destroy(Requesters* requesters) {
    delete requesters;
}

namespace {

void SetChosenPattern(int pair) {
    if (auto* r = state::Get<state::Requesters>()) r->lastChosenPattern = pair;
}

std::vector<std::pair<Text, Text>> SplitPatterns(const Text& patterns) {
    std::vector<Text> parts;
    if (patterns.empty()) return {};
    size_t start = 0;
    while (true) {
        size_t bar = patterns.find('|', start);
        if (bar == Text::npos) {
            parts.push_back(patterns.substr(start));
            break;
        }
        parts.push_back(patterns.substr(start, bar - start));
        start = bar + 1;
    }
    std::vector<std::pair<Text, Text>> pairs;
    for (size_t i = 0; i < parts.size(); i += 2)
        pairs.emplace_back(parts[i], i + 1 < parts.size() ? parts[i + 1] : Text());
    return pairs;
}

// A name the dialog can show: not empty, no control characters, none of the characters that
// other systems refuse in a file name.
bool UsableFileName(const Text& name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 32) return false;
        if (Text("\"*/:<>?\\|").find(c) != Text::npos) return false;
    }
    return true;
}

// While a dialog runs it has the input: keys pressed then are its own (key_state.cpp).
class ModalDialog {
  public:
    ModalDialog() { core::ModalDialogBegins(); }
    ~ModalDialog() { core::ModalDialogEnds(); }
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;
};

Text AskFile(bool save, const Text& title, const Text& defaultFile, const Text& patterns,
             int index) {
    SetChosenPattern(0);
    Backend* backend = core::backend();
    if (!backend) return Text();
    FileDialogRequest request = MakeFileDialogRequest(save, title, defaultFile, patterns, index);
    // Without a folder of its own the dialog starts where the program is: loading a file makes
    // its folder current, so the next dialog opens beside it.
    if (request.initialFolder.empty()) request.initialFolder = CurrentDirectory();
    ModalDialog modal;
    FileDialogAnswer answer = backend->RunFileDialog(request);
    if (answer.path.empty()) return Text();
    SetChosenPattern(answer.patternIndex >= 0 ? answer.patternIndex + 1 : 0);
    return answer.path;
}

} // namespace

FileDialogRequest MakeFileDialogRequest(bool save, const Text& title, const Text& defaultFile,
                                        const Text& patterns, int index) {
    FileDialogRequest request;
    request.save = save;
    request.title = title;
    request.patterns = SplitPatterns(patterns);
    int pairs = static_cast<int>(request.patterns.size());
    request.patternIndex = (index < 0 || index >= pairs) ? 0 : index;

    if (!defaultFile.empty()) {
        size_t separator = defaultFile.find_last_of("/\\");
        if (separator == Text::npos) {
            request.initialName = defaultFile;
        } else if (separator == 0) {
            // "/name": the root folder is a folder like any other here.
            request.initialFolder = defaultFile.substr(0, 1);
            request.initialName = defaultFile.substr(1);
        } else {
            request.initialFolder = defaultFile.substr(0, separator);
            request.initialName = defaultFile.substr(separator + 1);
        }
        if (!UsableFileName(request.initialName)) request.initialName.clear();
    }
    return request;
}

Text AskOpenFile(const Text& title, const Text& defaultFile, const Text& patterns, int index) {
    return AskFile(false, title, defaultFile, patterns, index);
}

Text AskSaveFile(const Text& title, const Text& defaultFile, const Text& patterns, int index) {
    return AskFile(true, title, defaultFile, patterns, index);
}

int ChosenPatternIndex() {
    auto* r = state::Get<state::Requesters>();
    return (r != nullptr ? r->lastChosenPattern : 0) - 1;
}

int ShowMessage(const Text& title, const Text& text, int flags) {
    Backend* backend = core::backend();
    if (!backend) return 0;
    ModalDialog modal;
    return backend->RunMessageBox(title, text, flags);
}

Text AskText(const Text& title, const Text& prompt, const Text& defaultText) {
    Backend* backend = core::backend();
    if (!backend) return Text();
    ModalDialog modal;
    auto [ok, text] = backend->RunTextDialog(title, prompt, defaultText);
    return ok ? text : Text();
}

} // namespace tk
