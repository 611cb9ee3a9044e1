// The path to the screen: a repaint of the worst case view (multi columns, zoom 1, sprite width 1,
// a file loaded) on the GTK canvas, where EndDrawing converts the picture and paints it into the
// window at once. Measured under an X server (Xvfb will do); without a DISPLAY the benchmarks skip.
//
// BM_GtkRedrawWorst is the whole RedrawView; BM_GtkShowCanvas is EndDrawing alone on a picture
// already drawn (conversion and paint). Each iteration waits until the X server has handled every
// request, so the rate is one the server keeps up with, not one that only fills its queue.
// Figures: gtk-repaints-per-second and gtk-shows-per-second (one second of back-to-back runs after
// the first benchmark run), and gtk-redraw-worst-vs-headless (the same repaint against
// BM_RedrawWorst on the headless backend).
#ifdef PIXMOLE_BENCH_GTK

#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "bench/bench_ratios.h"
#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/gtk/gtk_backend.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

namespace {

void HandlePending() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

// How many times a second `step` runs, from one second of back-to-back runs (at least 20).
template <typename Step> double PerSecond(Step step) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    int64_t runs = 0;
    std::chrono::duration<double> elapsed{};
    do {
        step();
        ++runs;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < 1.0 || runs < 20);
    return static_cast<double>(runs) / elapsed.count();
}

// The viewer on the GTK backend with the worst case view on screen; ok() false (with the reason
// in failure()) when there is no display or the window never appears.
class GtkViewer {
  public:
    GtkViewer() {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            failure_ = "no DISPLAY: the GTK repaint needs an X server (run under xvfb-run)";
            return;
        }
        backend_ = tk::MakeGtkBackend();
        if (tk::InitToolkit(backend_.get()) == 0) {
            failure_ = "cannot open the display";
            backend_.reset();
            return;
        }
        started_ = true;
        if (!viewer::CreateMainWindowAndControls()) {
            failure_ = "cannot build the main window";
            return;
        }
        const std::vector<uint8_t> bytes = bench::SampleFile();
        viewer::state.fileBuffer = tk::AllocateBlock(static_cast<int64_t>(bytes.size()));
        if (viewer::state.fileBuffer.empty()) {
            failure_ = "no memory for the file";
            return;
        }
        std::memcpy(viewer::state.fileBuffer.get(), bytes.data(), bytes.size());
        viewer::state.fileSize = static_cast<int32_t>(bytes.size());
        tk::SetControlState(viewer::WidthScroller, 1);
        tk::SetControlState(viewer::MultiColumnsCheck, 1);
        tk::SetControlState(viewer::GridCheck, 0);
        viewer::state.zoom = 1;
        viewer::state.selection = {100, 100, 300, 200};

        // The canvas paints only once it is on screen: wait for the window to be mapped.
        auto* window = reinterpret_cast<GtkWidget*>(tk::WindowHandle(viewer::MainWindow));
        auto* canvas = reinterpret_cast<GtkWidget*>(tk::ControlHandle(viewer::CanvasView));
        if (window == nullptr || canvas == nullptr) {
            failure_ = "no native window or canvas";
            return;
        }
        gtk_window_present(GTK_WINDOW(window));
        const auto start = std::chrono::steady_clock::now();
        while (!gtk_widget_get_mapped(canvas) ||
               !gdk_window_is_viewable(gtk_widget_get_window(window))) {
            HandlePending();
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) {
                failure_ = "the window was not mapped within 10 s";
                return;
            }
            g_usleep(1000);
        }
        viewer::RedrawView();
        Sync();
        HandlePending();
    }

    ~GtkViewer() {
        if (started_) viewer::ShutDownViewer();
    }

    GtkViewer(const GtkViewer&) = delete;
    GtkViewer& operator=(const GtkViewer&) = delete;

    bool ok() const { return failure_.empty(); }
    const char* failure() const { return failure_.c_str(); }

    // Returns once the X server has handled everything sent so far.
    static void Sync() { gdk_display_sync(gdk_display_get_default()); }

  private:
    std::unique_ptr<tk::Backend> backend_;
    bool started_ = false;
    std::string failure_;
};

void BM_GtkRedrawWorst(benchmark::State& state) {
    GtkViewer gtkViewer;
    if (!gtkViewer.ok()) {
        state.SkipWithError(gtkViewer.failure());
        return;
    }
    for (auto _ : state) {
        viewer::RedrawView();
        GtkViewer::Sync();
        HandlePending(); // what the event loop would do between repaints
    }
    static bool reported = false;
    if (!reported && !state.error_occurred()) {
        reported = true;
        bench::ReportFigure("gtk-repaints-per-second", PerSecond([] {
                                viewer::RedrawView();
                                GtkViewer::Sync();
                                HandlePending();
                            }));
    }
}
BENCHMARK(BM_GtkRedrawWorst)->Unit(benchmark::kMicrosecond);

void BM_GtkShowCanvas(benchmark::State& state) {
    GtkViewer gtkViewer;
    if (!gtkViewer.ok()) {
        state.SkipWithError(gtkViewer.failure());
        return;
    }
    for (auto _ : state) {
        // The picture keeps what the last repaint drew; the drawing is opened and shown again.
        if (tk::BeginDrawing(tk::CanvasSurface(viewer::CanvasView)) == 0) {
            state.SkipWithError("cannot open a drawing on the canvas");
            break;
        }
        tk::EndDrawing();
        GtkViewer::Sync();
        HandlePending();
    }
    static bool reported = false;
    if (!reported && !state.error_occurred()) {
        reported = true;
        bench::ReportFigure("gtk-shows-per-second", PerSecond([] {
                                tk::BeginDrawing(tk::CanvasSurface(viewer::CanvasView));
                                tk::EndDrawing();
                                GtkViewer::Sync();
                                HandlePending();
                            }));
    }
}
BENCHMARK(BM_GtkShowCanvas)->Unit(benchmark::kMicrosecond);

const bench::Ratio gtkVsHeadless("gtk-redraw-worst-vs-headless", "BM_GtkRedrawWorst",
                                 "BM_RedrawWorst");

} // namespace

#endif // PIXMOLE_BENCH_GTK
