// Files, text and number conversions, memory blocks.
//
// Everything here runs on the program's one thread. Texts are std::string of bytes (a missing
// text and the empty text are the same value). Paths are byte strings with "/" as separator;
// FilePartOf also accepts "\".
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace tk {

using Text = std::string;

// ---- Files and directories ------------------------------------------------------------------

// Size of the file in bytes (the real 64-bit size); -1 when the path is empty or names nothing;
// -2 when it names a directory.
int64_t QueryFileSize(const Text& path);

// Numbered file slots (0 and up; the table grows on demand). Each open slot has a 4096-byte
// transfer buffer shared by reading and writing; the slot switches mode as transfers require.
int OpenInputFile(int slot, const Text& path);    // nonzero on success
int CreateOutputFile(int slot, const Text& path); // creates or empties; nonzero on success
// Like CreateOutputFile, but the bytes go to a temporary file in the target's folder which
// CloseFileSlot renames over the target only when every write and the close succeeded; on any
// failure the temporary file is removed and an existing target stays exactly as it was. An existing
// target keeps its permission bits; through a symbolic link the file it points to is replaced. A
// target that is a FIFO or a device has nothing to keep and is written directly.
int CreateReplacingFile(int slot, const Text& path);
int64_t ReadBytes(int slot, uint8_t* destination, int64_t count); // bytes delivered
int WriteByteTo(int slot, int value);                             // low 8 bits; result 1
int CloseFileSlot(int slot); // flushes and closes; 1 when all went well, else 0
void CloseAllFiles();
// The first failure seen on the slot since it was opened (create, write, flush, close, rename),
// as the system's reason ("No space left on device"), or the empty text when none. Kept after
// CloseFileSlot until the slot is opened again.
Text FileSlotError(int slot);
// The system's reason for the last failed OpenInputFile/CreateOutputFile/CreateReplacingFile.
Text LastOpenError();

// True when the path (links followed) names a regular file, not a directory, FIFO or device.
bool IsRegularFile(const Text& path);

Text CurrentDirectory(); // always ends in "/" (empty text when the system call fails)
int ChangeDirectory(const Text& path);
Text FilePartOf(const Text& path);
// Whether the path names the same file whatever the current directory ("/data" here, "C:\data"
// and "\\server\share" on Windows), and its folder part up to and including the last separator of
// the platform (empty when there is none).
bool IsAbsolutePath(const Text& path);
Text FolderPartOf(const Text& path);

// Command-line parameters. On Linux they are argv as the shell split them; the program path
// counts as index -1 (it is never a parameter), 0 is the first parameter. SetCommandLineText feeds
// a whole command line through the tokenizer instead (used by tests and by platforms that hand over
// one line). CommandLineParameter keeps the index of the next parameter: an index of 0 or more sets
// it, a call that finds its parameter advances it by one, and a negative index asks for the
// parameter it points to. The result is the empty text when there are not that many parameters.
void SetCommandLine(int argc, char** argv);
void SetCommandLineText(const Text& line);
std::vector<Text> TokenizeCommandLine(const Text& line);
Text CommandLineParameter(int index);

// ---- Text and numbers -----------------------------------------------------------------------

Text IntegerToText(int64_t value);
int64_t TextToInteger(const Text& text); // "$" hex, "%" binary, wraps modulo 2^64
Text PadLeft(const Text& text, int64_t width, const Text& fill);
Text FieldOf(const Text& text, int64_t index, const Text& separator);
int64_t TextLength(const Text& text);
Text MiddleOf(const Text& text, int64_t start, int64_t length);
int64_t TruncateToInteger(double value); // toward zero; non-finite/out of range -> INT64_MIN

// T(a / b): the quotient in double precision, truncated toward zero.
inline int64_t T(double numerator, double denominator) {
    return TruncateToInteger(numerator / denominator);
}

// ---- Memory ---------------------------------------------------------------------------------

// Frees a block: a heap block when `mapped` is 0, else a private mapping of that many bytes.
struct BlockDeleter {
    size_t mapped = 0;
    void operator()(uint8_t* p) const;
};

// An owned, zero-filled block of bytes; empty when size 0 or no memory. Large blocks (a whole
// loaded file) are private anonymous mappings aligned to 2 MiB and marked for huge pages, so that
// filling them takes one page fault per 2 MiB instead of one per 4 KiB.
struct MemoryBlock {
    std::unique_ptr<uint8_t[], BlockDeleter> data;
    int64_t size = 0;
    bool empty() const { return data == nullptr; }
    uint8_t* get() const { return data.get(); }
};

MemoryBlock AllocateBlock(int64_t size);
void FreeBlock(MemoryBlock& block);
int32_t ReadMemoryByte(const uint8_t* address); // signed 8-bit value widened

} // namespace tk
