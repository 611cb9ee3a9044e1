// Loading a file whole into memory.
//
// A file is checked before anything changes: a path that names no file empties the view, but a
// file that cannot be loaded (not a regular file, cannot be opened, too large) is reported and the
// view keeps the file it had, with the current directory unchanged.
#include "viewer/loader.h"

#include "toolkit/controls.h"
#include "toolkit/requesters.h"
#include "viewer/state.h"

namespace viewer {

namespace {

constexpr int InputSlot = 0;
// fileSize is a signed 32-bit count: files of 2 GiB and more cannot be held.
constexpr int64_t LoadLimit = int64_t{1} << 31;

// Relative paths are taken against the directory current at the call, before the change of
// directory below, so "data/game.bin" names the same file before and after it.
Text AbsolutePath(const Text& path) {
    if (path.empty() || tk::IsAbsolutePath(path)) return path;
    Text current = tk::CurrentDirectory();
    return current.empty() ? path : current + path;
}

void ResetRowScroller() {
    tk::SetControlState(RowScroller, 0);
    tk::SetControlAttribute(RowScroller, tk::Maximum, state.fileSize);
    tk::SetControlAttribute(RowScroller, tk::Minimum, 0);
    tk::SetControlAttribute(RowScroller, tk::PageLength, tk::T(state.fileSize, CanvasHeight));
}

void Inform(const Text& text) {
    tk::ShowMessage("Information", text, tk::MessageOk);
}

// The file was not taken: the view and the directory stay as they were.
LoadOutcome Refuse(const Text& message, bool endProgram) {
    Inform(message);
    return endProgram ? LoadOutcome::EndProgram : LoadOutcome::Refused;
}

} // namespace

bool LoadStartupFile() {
    Text parameter = tk::CommandLineParameter(0);
    // The whole 64-bit size: a file of 4 GiB + 1 byte holds bytes even though its low word is 1.
    if (tk::QueryFileSize(parameter) <= 0) return true;
    // Kept absolute so that names derived from it stay beside the file after the load makes its
    // directory current.
    Text previous = state.loadedPath;
    state.loadedPath = AbsolutePath(parameter);
    LoadOutcome outcome = LoadBinaryFile(state.loadedPath, true);
    if (outcome == LoadOutcome::Refused) state.loadedPath = previous;
    return outcome != LoadOutcome::EndProgram;
}

LoadOutcome LoadBinaryFile(const Text& requested, bool atStartup) {
    const Text path = AbsolutePath(requested); // a copy: the caller may pass state.loadedPath
    const int64_t size = tk::QueryFileSize(path);

    if (size != -1) {
        // Only regular files: a FIFO or a device would block the read or never end.
        if (!tk::IsRegularFile(path) || tk::OpenInputFile(InputSlot, path) == 0)
            return Refuse("Couldn't open the file!", atStartup);
        if (size >= LoadLimit) {
            tk::CloseFileSlot(InputSlot);
            return Refuse("This file is too large: " + tk::IntegerToText(size) +
                              " bytes. Pixmole loads files smaller than 2 GiB (2147483648 bytes).",
                          false);
        }
    }

    tk::ChangeDirectory(tk::FolderPartOf(path));
    ReleaseLoadedBytes(); // and the regions found in them

    if (size > 0) {
        state.fileBuffer = tk::AllocateBlock(size);
        if (state.fileBuffer.empty()) {
            tk::CloseFileSlot(InputSlot);
            Inform("Not enough memory to load " + tk::IntegerToText(size) + " bytes.");
        } else {
            // One read straight into the block. A file that shrank since the size query gives
            // fewer bytes: only those count, the zero-filled rest was never in the file. A read
            // that fails leaves no file: part of it would pass for the whole.
            int64_t got = tk::ReadBytes(InputSlot, state.fileBuffer.get(), size);
            const Text readError = tk::FileSlotError(InputSlot);
            tk::CloseFileSlot(InputSlot);
            if (got <= 0 || !readError.empty()) tk::FreeBlock(state.fileBuffer);
            if (!readError.empty())
                Inform("Couldn't read the file: " + path + " (" + readError + ")");
            else if (got > 0)
                state.fileSize = static_cast<int32_t>(got);
        }
    } else if (size == 0) {
        tk::CloseFileSlot(InputSlot); // an empty file: opened and closed, nothing held
    }

    ResetRowScroller();
    return LoadOutcome::Loaded;
}

} // namespace viewer
