// The Win32 backend: what Windows users run.
#pragma once

#include <memory>

#include "toolkit/backend.h"

namespace tk {

// A backend over the Win32 API (user32, comctl32, comdlg32, shell32, gdi32).
std::unique_ptr<Backend> MakeWin32Backend();

// The process's whole command line (GetCommandLineW) as UTF-8, program path included.
Text Win32CommandLine();

} // namespace tk
