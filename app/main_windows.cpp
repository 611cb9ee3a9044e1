// Pixmole on Windows: start-up, the event loop, shut-down. A GUI program (no console); its
// command line is the process's one UTF-16 line, split by the program's own tokenizer.
#include "toolkit/runtime.h"
#include "toolkit/win32/win32_backend.h"
#include "toolkit/window.h"
#include "viewer/input.h"
#include "viewer/loader.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

int main() {
    tk::SetCommandLineText(tk::Win32CommandLine());
    auto backend = tk::MakeWin32Backend();
    if (tk::InitToolkit(backend.get()) == 0) return 1;
    if (!viewer::CreateMainWindowAndControls()) {
        viewer::ShutDownViewer(); // no window: nothing to show, a quiet end
        return 0;
    }
    viewer::LoadStartupFile();
    if (int code = viewer::StartupExitCode(); code != 0) {
        viewer::ShutDownViewer();
        return code;
    }
    viewer::RedrawView();
    viewer::state.quitRequested = 0;
    viewer::RunEventLoop();
    viewer::ShutDownViewer();
    return 0;
}
