// Loading a file whole into memory.
#pragma once

#include "toolkit/runtime.h"

namespace viewer {

enum class LoadOutcome {
    Loaded,     // the path's bytes are the file now (none when the path names nothing)
    Refused,    // the person was told why; the previous file, view and directory stay
    EndProgram, // at start-up, a file that exists but cannot be opened: end with exit code 1
};

// Loads the first command-line parameter when it names a file of at least one byte. False when
// the program must end with exit code 1.
bool LoadStartupFile();

// Loads the file into fileBuffer, makes its directory current and resets RowScroller. A file that
// exists but cannot be opened, is not a regular file or is too large is reported and Refused; at
// start-up one that cannot be opened ends the program instead. On Refused the caller keeps its
// previous path.
LoadOutcome LoadBinaryFile(const tk::Text& path, bool atStartup = false);

} // namespace viewer
