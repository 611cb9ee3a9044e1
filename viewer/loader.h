// Loading a file whole into memory.
#pragma once

#include "toolkit/runtime.h"

namespace viewer {

// Exit code asked for by a failed start-up load (0 while none was asked).
int StartupExitCode();

// Loads the first command-line parameter when it names a file of at least one byte.
void LoadStartupFile();

// Loads the file into fileBuffer, makes its directory current and resets RowScroller.
// At start-up a file that exists but cannot be opened is reported and the result is false: the
// program must end with exit code 1. Otherwise (Open.., a drop) such a file is reported and the
// previous file and view stay; the result is then true.
bool LoadBinaryFile(const tk::Text& path, bool atStartup = false);

// True when the last LoadBinaryFile refused the file and kept the previous one (it could not be
// opened, is not a regular file, or is too large); the caller then keeps its previous path.
bool LastLoadRefused();

} // namespace viewer
