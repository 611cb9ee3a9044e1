// pixmole-batch: the viewer without a window. Loads a file, sets the controls as a person would,
// paints once, and writes the canvas as PNG and/or the selection as packed bits; or lists where
// the file's one-bit graphics lie.
#include <charconv>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/headless/null_backend.h"
#include "toolkit/png_writer.h"
#include "toolkit/window.h"
#include "viewer/exports.h"
#include "viewer/finder.h"
#include "viewer/input.h"
#include "viewer/layout.h"
#include "viewer/loader.h"
#include "viewer/overview.h"
#include "viewer/renderer.h"
#include "viewer/state.h"

using namespace viewer;

namespace {

constexpr int ExitBadArgument = 2;
constexpr int ExitFailure = 1;
constexpr int BitsSlot = 1;
constexpr int PngImage = 1;
// Selection corners are canvas pixels; this bound keeps the packed bits to a few megabytes.
constexpr int32_t CornerLimit = 4096;

const char* const Usage =
    R"(usage: pixmole-batch [options] FILE
       pixmole-batch --find FILE [--sheet OUT.png]
       pixmole-batch --help | --version

Loads FILE as the viewer does, sets the view, paints the 641 x 481 canvas once and prints two
lines: "title: " with the window title and "status: " with the status bar text. The title ends
in " layout:" and the layout's name, with ":" and K when K > 1, unless the layout is rows.

  --width N          sprite width in bytes, 1..256 (default 1)
  --row N            first displayed sprite row (kept within the scroll range, as in the viewer)
  --offset N         fine offset in bytes, -W..W for the sprite width W (1 without --width);
                     values beyond either end become that end
  --zoom 1|2|8       magnification
  --multi            several side-by-side columns
  --invert           invert the bits
  --align            column height from the grid
  --grid             draw the grid
  --grid-size X,Y    grid cell size in canvas pixels, each forced into 1..25 (default 8,8)
  --layout NAME      how the W bytes of a strip (what one row of W bytes shows) become pixels;
                     strips stand below each other, W bytes a strip:
                       rows         (default) a strip is 8W x 1: pixel x is bit 7 - (x mod 8)
                                    of byte x div 8
                       rows-lsb     a strip is 8W x 1: pixel x is bit x mod 8 of byte x div 8
                       columns      every K bytes are one pixel column 8K high, the first byte
                                    on top, bit 0 the top pixel of its byte: a strip is
                                    ceil(W / K) x 8K, pixel (x, y) is bit y mod 8 of byte
                                    x K + y div 8; a last column of fewer than K bytes shows the
                                    bytes it has
                       columns-msb  as columns with bit 7 the top pixel: bit 7 - (y mod 8)
  --column-bytes K   K for the column layouts, 1..4 (default 1)
  --select X1,Y1,X2,Y2
                     selection corners in canvas pixels (press, then drag end), -4096..4096
  --png OUT.png      write the canvas as PNG, as "Save image.." does
  --bits OUT         write the selection packed eight samples to a byte, as "Save selected" does
  --help             this text
  --version          the version ("pixmole-batch" and the version, as in the window title)

  --find             list where FILE's one-bit graphics lie instead: one line per region, best
                     first, five fields separated by tabs: first byte, length in bytes, width in
                     bytes per strip, score 0..1 with three decimals, layout as in the title
                     (rows, or rows-lsb where bit 0 is the leftmost pixel; columns or
                     columns-msb with :K for a font stored a byte per pixel column, the width
                     then its bytes per glyph). The score is how
                     likely the region is real graphics: on real files, regions scoring 0.5 or
                     more were graphics more than 9 times in 10, and only regions of 0.5 or more
                     are listed. Nothing is printed when none is found. Takes no other option
                     but --sheet.
  --sheet OUT.png    with --find: also write a contact sheet of the regions as PNG, best first,
                     at most 64, four across: each tile 256 x 192 pixels shows the region's bytes
                     from its first byte in its layout and width as the canvas does with
                     MultiColumns on, at zoom 2 (1 where a strip is wider than 128 pixels), bytes
                     past the region's end blue; under it the first byte in decimal and
                     hexadecimal, the length, the width, the layout and the score.

Relative OUT names are taken from the directory the command was started in.

Exit codes: 0 done, 1 FILE cannot be loaded or an output cannot be written, 2 bad arguments.
)";

struct Options {
    bool find = false;
    int32_t width = 1, row = 0, offset = 0, zoom = 1;
    bool multi = false, invert = false, align = false, grid = false;
    int32_t gridX = 8, gridY = 8;
    PixelLayout layout;
    bool hasColumnBytes = false;
    bool hasSelect = false;
    SelectionRect select;
    std::string png, bits, sheet, file;
};

struct BadArgument {
    std::string message;
};

int32_t ParseInt(std::string_view text, const std::string& option) {
    int32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw BadArgument{option + ": \"" + std::string(text) + "\" is not a whole number"};
    return value;
}

std::vector<int32_t> ParseList(std::string_view text, size_t count, const std::string& option) {
    std::vector<int32_t> values;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        values.push_back(ParseInt(text.substr(start, comma - start), option));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (values.size() != count)
        throw BadArgument{option + " takes " + std::to_string(count) +
                          " numbers separated by commas"};
    return values;
}

Options ParseArguments(int argc, char** argv) {
    Options o;
    bool haveFile = false;
    int viewOptions = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg != "--find" && arg != "--sheet" && arg.size() > 1 && arg[0] == '-') ++viewOptions;
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw BadArgument{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "--find") {
            o.find = true;
        } else if (arg == "--width") {
            o.width = ParseInt(value(), arg);
            if (o.width < 1 || o.width > 256) throw BadArgument{"--width must be 1..256"};
        } else if (arg == "--row") {
            o.row = ParseInt(value(), arg);
            if (o.row < 0) throw BadArgument{"--row must not be negative"};
        } else if (arg == "--offset") {
            o.offset = ParseInt(value(), arg);
        } else if (arg == "--zoom") {
            o.zoom = ParseInt(value(), arg);
            if (o.zoom != 1 && o.zoom != 2 && o.zoom != 8)
                throw BadArgument{"--zoom must be 1, 2 or 8"};
        } else if (arg == "--multi") {
            o.multi = true;
        } else if (arg == "--invert") {
            o.invert = true;
        } else if (arg == "--align") {
            o.align = true;
        } else if (arg == "--grid") {
            o.grid = true;
        } else if (arg == "--grid-size") {
            std::vector<int32_t> v = ParseList(value(), 2, arg);
            o.gridX = v[0];
            o.gridY = v[1];
        } else if (arg == "--layout") {
            if (!ParseLayoutKind(value(), o.layout.kind))
                throw BadArgument{"--layout must be rows, rows-lsb, columns or columns-msb"};
        } else if (arg == "--column-bytes") {
            o.layout.columnBytes = ParseInt(value(), arg);
            o.hasColumnBytes = true;
            if (o.layout.columnBytes < 1 || o.layout.columnBytes > MaxColumnBytes)
                throw BadArgument{"--column-bytes must be 1..4"};
        } else if (arg == "--select") {
            std::vector<int32_t> v = ParseList(value(), 4, arg);
            for (int32_t corner : v) {
                if (corner < -CornerLimit || corner > CornerLimit)
                    throw BadArgument{"--select corners must lie within -4096..4096"};
            }
            o.hasSelect = true;
            o.select = SelectionRect{v[0], v[1], v[2], v[3]};
        } else if (arg == "--png") {
            o.png = value();
            if (o.png.empty()) throw BadArgument{"--png needs a file name"};
        } else if (arg == "--sheet") {
            o.sheet = value();
            if (o.sheet.empty()) throw BadArgument{"--sheet needs a file name"};
        } else if (arg == "--bits") {
            o.bits = value();
            if (o.bits.empty()) throw BadArgument{"--bits needs a file name"};
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw BadArgument{"unknown option " + arg};
        } else if (haveFile) {
            throw BadArgument{"only one FILE may be given"};
        } else {
            o.file = arg;
            haveFile = true;
        }
    }
    if (!haveFile || o.file.empty()) throw BadArgument{"no FILE given"};
    if (o.hasColumnBytes && !IsColumnLayout(o.layout.kind))
        throw BadArgument{"--column-bytes needs --layout columns or columns-msb"};
    if (o.find && viewOptions > 0) throw BadArgument{"--find takes no other option but --sheet"};
    if (!o.sheet.empty() && !o.find) throw BadArgument{"--sheet needs --find"};
    return o;
}

int32_t ClampGrid(int32_t v) {
    return v < 1 ? 1 : (v > 25 ? 25 : v);
}

// The controls are set as the viewer's handlers set them for the same gestures.
// The offset range is -W..W for every width, as after the person moved the width scroll bar (the
// viewer starts with 0..1, where no offset could be negative).
void ApplyView(const Options& o) {
    tk::SetControlState(WidthScroller, o.width);
    int32_t w = tk::GetControlState(WidthScroller);
    tk::SetControlAttribute(OffsetSpin, tk::Minimum, -w);
    tk::SetControlAttribute(OffsetSpin, tk::Maximum, w);
    tk::SetControlState(RowScroller, o.row);
    tk::SetControlState(OffsetSpin, o.offset); // kept within -W..W
    tk::SetControlText(OffsetSpin, tk::IntegerToText(tk::GetControlState(OffsetSpin)));
    for (auto [spin, size] : {std::pair{GridXSpin, o.gridX}, std::pair{GridYSpin, o.gridY}}) {
        tk::SetControlState(spin, ClampGrid(size));
        tk::SetControlText(spin, tk::IntegerToText(ClampGrid(size)));
    }
    tk::SetControlState(GridCheck, o.grid ? 1 : 0);
    tk::SetControlState(MultiColumnsCheck, o.multi ? 1 : 0);
    tk::SetControlState(InvertCheck, o.invert ? 1 : 0);
    tk::SetControlState(AlignCheck, o.align ? 1 : 0);
    state.zoom = o.zoom;
    SetViewLayout(o.layout);
    if (o.hasSelect) state.selection = o.select;
    RedrawView();
}

bool WritePng(const std::string& path) {
    bool drawn = tk::NewImage(PngImage, CanvasWidth, CanvasHeight, 24) != 0 &&
                 tk::BeginDrawing(tk::ImageSurface(PngImage)) != 0;
    if (!drawn) {
        tk::ReleaseImage(PngImage);
        std::fprintf(stderr, "pixmole-batch: cannot save image: %s (not enough memory)\n",
                     path.c_str());
        return false;
    }
    tk::DrawImageAt(tk::GetControlAttribute(CanvasView, tk::CanvasImage), 0, 0);
    tk::EndDrawing();
    tk::RegisterPngReader();
    tk::RegisterPngWriter();
    bool saved = tk::SaveImageAsPng(PngImage, path) != 0;
    if (!saved) {
        std::fprintf(stderr, "pixmole-batch: cannot save image: %s (%s)\n", path.c_str(),
                     tk::LastImageWriteError().c_str());
    }
    tk::ReleaseImage(PngImage);
    return saved;
}

bool WriteBits(const std::string& path) {
    // Read back without grid lines, as "Save selected" does.
    int32_t grid = tk::GetControlState(GridCheck);
    tk::SetControlState(GridCheck, 0);
    RedrawView();
    std::vector<uint8_t> bits;
    bool read = tk::BeginDrawing(tk::CanvasSurface(CanvasView)) != 0;
    if (read) {
        bits = SampleSelectionBits();
        tk::EndDrawing();
    }
    tk::SetControlState(GridCheck, grid);
    RedrawView();
    if (!read) {
        std::fprintf(stderr, "pixmole-batch: the canvas cannot be read\n");
        return false;
    }
    if (tk::CreateReplacingFile(BitsSlot, path) == 0) {
        std::fprintf(stderr, "pixmole-batch: cannot save selection: %s (%s)\n", path.c_str(),
                     tk::LastOpenError().c_str());
        return false;
    }
    for (uint8_t byte : bits) tk::WriteByteTo(BitsSlot, byte);
    if (tk::CloseFileSlot(BitsSlot) == 0) {
        std::fprintf(stderr, "pixmole-batch: cannot save selection: %s (%s)\n", path.c_str(),
                     tk::FileSlotError(BitsSlot).c_str());
        return false;
    }
    return true;
}

// The null backend, keeping what the message boxes said: the viewer reports load failures in
// them, and here they go to stderr.
class BatchBackend : public tk::NullBackend {
  public:
    std::vector<tk::Text> messages;
    int RunMessageBox(const tk::Text& title, const tk::Text& text, int flags) override {
        messages.push_back(text);
        return NullBackend::RunMessageBox(title, text, flags);
    }
};

// The regions as --find prints them, best first.
std::vector<GraphicsRegion> PrintRegions() {
    if (state.fileBuffer.empty() || state.fileSize <= 0) return {}; // an empty file
    const std::vector<GraphicsRegion> regions =
        FindGraphics(state.fileBuffer.get(), state.fileSize);
    for (const GraphicsRegion& region : regions) {
        std::printf("%lld\t%lld\t%d\t%.3f\t%s\n", static_cast<long long>(region.first),
                    static_cast<long long>(region.length), static_cast<int>(region.width),
                    region.score, LayoutName(region.layout).c_str());
    }
    return regions;
}

// The contact sheet of the regions, through the PNG writer's replacing write.
bool WriteSheet(const std::string& path, const std::vector<GraphicsRegion>& regions) {
    Sheet sheet;
    try {
        sheet = PaintSheet(state.fileBuffer.get(), state.fileSize, regions, SheetColumns,
                           "No graphics found in this file");
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "pixmole-batch: cannot save the sheet: %s (not enough memory)\n",
                     path.c_str());
        return false;
    }
    const tk::PixelBuffer& p = sheet.pixels;
    if (tk::WritePng(path, p.bits, p.width, p.height, p.stride, tk::PngColourRgb) == 0) {
        std::fprintf(stderr, "pixmole-batch: cannot save the sheet: %s (%s)\n", path.c_str(),
                     tk::LastImageWriteError().c_str());
        return false;
    }
    return true;
}

bool IsRelative(const std::string& path) {
    return !path.empty() && path.front() != '/';
}

// Loads the file; a file that is missing or refused ends the run with the reason.
bool Load(BatchBackend& backend, const std::string& file) {
    int64_t size = tk::QueryFileSize(file);
    if (size == -1) {
        std::fprintf(stderr, "pixmole-batch: %s: no such file\n", file.c_str());
        return false;
    }
    size_t asked = backend.messages.size();
    state.loadedPath = file;
    bool loaded = LoadBinaryFile(state.loadedPath, true) == LoadOutcome::Loaded;
    bool told = false;
    for (size_t i = asked; i < backend.messages.size(); ++i) {
        std::fprintf(stderr, "pixmole-batch: %s: %s\n", file.c_str(), backend.messages[i].c_str());
        told = true;
    }
    return loaded && !told;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (std::string_view(argv[i]) == "--version") {
            std::printf("pixmole-batch %s\n", ProgramVersion);
            return 0;
        }
    }
    Options options;
    try {
        options = ParseArguments(argc, argv);
    } catch (const BadArgument& bad) {
        std::fprintf(stderr, "pixmole-batch: %s\n(pixmole-batch --help lists the options)\n",
                     bad.message.c_str());
        return ExitBadArgument;
    }

    BatchBackend backend;
    if (tk::InitToolkit(&backend) == 0 || !CreateMainWindowAndControls()) {
        std::fprintf(stderr, "pixmole-batch: the toolkit cannot start\n");
        return ExitFailure;
    }
    int exitCode = 0;
    // Loading makes the file's folder current; relative output names belong to this one.
    const tk::Text startDirectory = tk::CurrentDirectory();
    if (options.find) {
        if (!Load(backend, options.file)) {
            exitCode = ExitFailure;
        } else {
            const std::vector<GraphicsRegion> regions = PrintRegions();
            if (!options.sheet.empty() &&
                !(tk::ChangeDirectory(startDirectory) != 0 || !IsRelative(options.sheet))) {
                std::fprintf(stderr, "pixmole-batch: the starting directory cannot be found "
                                     "again; give the sheet's name as an absolute path\n");
                exitCode = ExitFailure;
            } else if (!options.sheet.empty() && !WriteSheet(options.sheet, regions)) {
                exitCode = ExitFailure;
            }
        }
        ShutDownViewer();
        return exitCode;
    }
    if (!Load(backend, options.file)) {
        exitCode = ExitFailure;
        RedrawView(); // the empty view, so that the two lines still describe what is shown
    } else {
        ApplyView(options);
        if (tk::ChangeDirectory(startDirectory) == 0 &&
            (IsRelative(options.png) || IsRelative(options.bits))) {
            std::fprintf(stderr, "pixmole-batch: the starting directory cannot be found again; "
                                 "give the output names as absolute paths\n");
            exitCode = ExitFailure;
        } else {
            if (!options.png.empty() && !WritePng(options.png)) exitCode = ExitFailure;
            if (!options.bits.empty() && !WriteBits(options.bits)) exitCode = ExitFailure;
        }
    }
    std::printf("title: %s\nstatus: %s\n", tk::MainWindowTitle(MainWindow).c_str(),
                tk::StatusText(MainStatusBar, 0).c_str());
    ShutDownViewer();
    return exitCode;
}
