// The program on a started toolkit, the same on every platform.
#pragma once

namespace app {

// Builds the main window, loads the file named on the command line, paints, runs the event loop
// and shuts the viewer and the toolkit down. The process's exit code.
int RunProgram();

} // namespace app
