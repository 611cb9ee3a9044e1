// Pixmole: start-up, the event loop, shut-down.
#include <cstdio>
#include <cstring>

#include "app/program.h"
#include "toolkit/gtk/gtk_backend.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"

namespace {

const char* const Usage = R"(usage: pixmole [FILE]
       pixmole --help | --version

Opens the Pixmole window and paints FILE's bytes as one-bit pixels, eight to a byte, most
significant bit on the left. Without FILE, or with a missing or empty one, nothing is loaded;
"Project > Open.." or a drop on the window loads a file later.

  --help     this text
  --version  the version

Only the first argument is read; a file named --help opens as ./--help.
pixmole-batch paints a file the same way without a window. More in man pixmole.
)";

} // namespace

int main(int argc, char** argv) {
    // Answered before any display is needed.
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("pixmole %s\n", PIXMOLE_VERSION);
        return 0;
    }
    tk::SetCommandLine(argc, argv);
    auto backend = tk::MakeGtkBackend();
    if (tk::InitToolkit(backend.get()) == 0) {
        std::fprintf(stderr, "pixmole: cannot open a display (is DISPLAY set?)\n");
        return 1;
    }
    return app::RunProgram();
}
