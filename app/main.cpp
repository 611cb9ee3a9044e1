// Pixmole: start-up, the event loop, shut-down.
#include <cstdio>

#include "toolkit/gtk/gtk_backend.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"
#include "viewer/input.h"
#include "viewer/loader.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

int main(int argc, char** argv) {
    tk::SetCommandLine(argc, argv);
    auto backend = tk::MakeGtkBackend();
    if (tk::InitToolkit(backend.get()) == 0) {
        std::fprintf(stderr, "pixmole: cannot open a display (is DISPLAY set?)\n");
        return 1;
    }
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
