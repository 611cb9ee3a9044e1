// Pixmole on Windows: start-up, the event loop, shut-down. A GUI program (no console); its
// command line is the process's one UTF-16 line, split by the program's own tokenizer.
#include "app/program.h"
#include "toolkit/runtime.h"
#include "toolkit/win32/win32_backend.h"
#include "toolkit/window.h"

int main() {
    tk::SetCommandLineText(tk::Win32CommandLine());
    auto backend = tk::MakeWin32Backend();
    if (tk::InitToolkit(backend.get()) == 0) return 1;
    return app::RunProgram();
}
