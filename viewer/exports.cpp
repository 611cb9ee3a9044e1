// The three export commands: the selection as packed bits, a run of file bytes, the canvas as PNG.
//
// Every file is written under a temporary name and renamed over the target only when all its
// bytes were written and it was closed without error; any failure is reported with the path and
// the system's reason, and an existing target stays as it was. Successful exports are silent.
#include "viewer/exports.h"

#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/png_writer.h"
#include "toolkit/requesters.h"
#include "viewer/renderer.h"
#include "viewer/state.h"
#include "viewer/wrap32.h"

namespace viewer {

namespace {

constexpr int SelectionSlot = 1;
constexpr int BinarySlot = 2;
constexpr int ExportImage = 1;
constexpr int NumberedNames = 1000; // .000 to .999

// The save dialogs start in the current directory with the loaded file's name proposed.
Text DefaultSaveFile() {
    return tk::CurrentDirectory() + tk::FilePartOf(state.loadedPath);
}

// With the first pattern chosen the extension is added, even when the name already has it.
Text ApplyExtension(const Text& path, const Text& extension) {
    return tk::ChosenPatternIndex() == 0 ? path + extension : path;
}

// True when the path may be written: nothing is there yet, or the person said Yes.
bool MayOverwrite(const Text& path, const Text& title) {
    if (tk::QueryFileSize(path) == -1) return true;
    return tk::ShowMessage(title, "Overwrite this file? " + path, tk::MessageYesNo) ==
           tk::ResultYes;
}

Text NumberedName(int n) {
    return state.loadedPath + "." + tk::PadLeft(tk::IntegerToText(n), 3, "0");
}

// The first numbered name that is not an existing non-empty file, or the empty text when all are.
Text FreeNumberedName() {
    for (int n = 0; n < NumberedNames; ++n) {
        Text candidate = NumberedName(n);
        if (tk::QueryFileSize(candidate) <= 0) return candidate;
    }
    return Text();
}

Text Reason(const Text& reason) {
    return reason.empty() ? Text("unknown error") : reason;
}

// Writes the bytes (each combined with mask by exclusive or) through a replacing file in the
// slot; on failure tells the person.
bool WriteBytesSafely(int slot, const Text& path, const uint8_t* bytes, int64_t count, uint8_t mask,
                      const Text& title, const Text& what) {
    if (tk::CreateReplacingFile(slot, path) == 0) {
        tk::ShowMessage(title, what + path + " (" + Reason(tk::LastOpenError()) + ")",
                        tk::MessageOk);
        return false;
    }
    for (int64_t i = 0; i < count; ++i) tk::WriteByteTo(slot, bytes[i] ^ mask);
    if (tk::CloseFileSlot(slot) == 0) {
        tk::ShowMessage(title, what + path + " (" + Reason(tk::FileSlotError(slot)) + ")",
                        tk::MessageOk);
        return false;
    }
    return true;
}

} // namespace

std::vector<uint8_t> SampleSelectionBits() {
    const SelectionRect& s = state.selection;
    const int64_t zoom = state.zoom;
    const int64_t w = tk::T(double(s.x2) - s.x1, double(zoom));
    const int64_t h = tk::T(double(s.y2) - s.y1, double(zoom));
    const int64_t ox = zoom * tk::T(s.x1, double(zoom));
    const int64_t oy = zoom * tk::T(s.y1, double(zoom));
    std::vector<uint8_t> bytes;
    if (w < 7 || h < 0) return bytes; // no row completes a byte
    const int64_t bytesPerRow = (w + 1) / 8;
    bytes.reserve(static_cast<size_t>(bytesPerRow * (h + 1)));

    const tk::Colour white = tk::MakeColour(255, 255, 255);
    for (int64_t r = 0; r <= h; ++r) {
        const int64_t py = oy + r * zoom;
        // Rows outside the picture (below its bottom edge, or above the top) are clear bits.
        const bool rowInside = py >= 0 && py < CanvasHeight;
        for (int64_t b = 0; b < bytesPerRow; ++b) {
            uint8_t acc = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int64_t px = ox + (b * 8 + bit) * zoom;
                // Samples left or right of the picture are clear too; nothing is read there.
                if (rowInside && px >= 0 && px < CanvasWidth &&
                    tk::ReadPixel(static_cast<int32_t>(px), static_cast<int32_t>(py)) == white) {
                    acc |= static_cast<uint8_t>(0x80 >> bit);
                }
            }
            bytes.push_back(acc);
        }
        // The (w + 1) mod 8 samples left at the end of the row never complete a byte: dropped.
    }
    return bytes;
}

void SaveSelectedBits() {
    const int32_t grid = tk::GetControlState(GridCheck);
    tk::SetControlState(GridCheck, 0);
    RedrawView();

    const Text name = FreeNumberedName();
    if (name.empty()) {
        tk::ShowMessage("Save selected",
                        "Nothing was saved: " + NumberedName(0) + " to " +
                            NumberedName(NumberedNames - 1) +
                            " all exist already. Move or delete some of them first.",
                        tk::MessageOk);
    } else if (tk::BeginDrawing(tk::CanvasSurface(CanvasView)) == 0) {
        tk::ShowMessage("Save selected", "Nothing was saved: the picture cannot be read.",
                        tk::MessageOk);
    } else {
        std::vector<uint8_t> bits = SampleSelectionBits();
        tk::EndDrawing();
        WriteBytesSafely(SelectionSlot, name, bits.data(), static_cast<int64_t>(bits.size()), 0,
                         "Save selected", "Cannot save selection: ");
    }

    tk::SetControlState(GridCheck, grid);
    RedrawView();
}

void SaveBinaryRange() {
    if (state.fileBuffer.empty()) {
        tk::ShowMessage("Title", "1st load file!", tk::MessageOk);
        return;
    }
    const Text answer = tk::AskText("Title", "size of the file", "0000");
    const int32_t count = Low32(tk::TextToInteger(answer));
    if (count <= 0) return;

    // The first byte on display, computed as the renderer does (64-bit: row x width can pass
    // the 32-bit range).
    const int64_t start =
        int64_t{tk::GetControlState(RowScroller)} * tk::GetControlState(WidthScroller) +
        tk::GetControlState(OffsetSpin);
    const int64_t fileSize = state.fileSize;
    // Only bytes of the file are written: nothing when the first shown byte lies outside it,
    // and the count is cut where the file ends.
    if (start < 0 || start >= fileSize) {
        tk::ShowMessage("save binary",
                        "Nothing to save: the first byte on display (position " +
                            tk::IntegerToText(start) + ") lies outside the file (" +
                            tk::IntegerToText(fileSize) + " bytes).",
                        tk::MessageOk);
        return;
    }
    const int64_t available = fileSize - start;
    const int64_t written = count < available ? count : available;

    Text path =
        tk::AskSaveFile("Save binary file", DefaultSaveFile(), "Binary|*.bin|All Files|*.*", 0);
    if (path.empty()) return;
    path = ApplyExtension(path, ".bin");
    if (!MayOverwrite(path, "save binary")) return;

    const uint8_t invert = tk::GetControlState(InvertCheck) == 1 ? 0xFF : 0x00;
    if (!WriteBytesSafely(BinarySlot, path, state.fileBuffer.get() + start, written, invert,
                          "save binary", "Cannot save binary: "))
        return;
    if (written < count) {
        tk::ShowMessage("save binary",
                        "Only " + tk::IntegerToText(written) + " of " + tk::IntegerToText(count) +
                            " bytes were saved to " + path + ": the file ends there.",
                        tk::MessageOk);
    }
}

void SaveCanvasImage() {
    state.loadedPath = tk::AskSaveFile("Save PNG Image AS...", DefaultSaveFile(),
                                       "PNG Images|*.png|All Files|*.*", 0);
    if (state.loadedPath.empty()) return;
    state.loadedPath = ApplyExtension(state.loadedPath, ".png");
    const Text path = state.loadedPath;
    if (!MayOverwrite(path, "RevizeRevuzu")) return;

    if (tk::NewImage(ExportImage, CanvasWidth, CanvasHeight, 24) == 0 ||
        tk::BeginDrawing(tk::ImageSurface(ExportImage)) == 0) {
        tk::ReleaseImage(ExportImage);
        tk::ShowMessage("RevizeRevuzu",
                        "Cannot save image: " + path + " (not enough memory for the picture)",
                        tk::MessageOk);
        return;
    }
    tk::DrawImageAt(tk::GetControlAttribute(CanvasView, tk::CanvasImage), 0, 0);
    tk::EndDrawing();

    tk::RegisterPngReader();
    tk::RegisterPngWriter();
    if (tk::SaveImageAsPng(ExportImage, path) == 0) {
        tk::ShowMessage("RevizeRevuzu",
                        "Cannot save image: " + path + " (" + Reason(tk::LastImageWriteError()) +
                            ")",
                        tk::MessageOk);
    }
    tk::ReleaseImage(ExportImage);
}

} // namespace viewer
