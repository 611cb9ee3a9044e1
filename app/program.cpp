// Start-up after the toolkit, the event loop, shut-down.
#include "app/program.h"

#include "viewer/input.h"
#include "viewer/loader.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

namespace app {

int RunProgram() {
    if (!viewer::CreateMainWindowAndControls()) {
        viewer::ShutDownViewer(); // no window: nothing to show, a quiet end
        return 0;
    }
    if (!viewer::LoadStartupFile()) {
        viewer::ShutDownViewer();
        return 1;
    }
    viewer::RedrawView();
    viewer::state.quitRequested = 0;
    viewer::RunEventLoop();
    viewer::ShutDownViewer();
    return 0;
}

} // namespace app
