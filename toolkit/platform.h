// What the runtime needs from the operating system: files, directories, large memory blocks.
// One implementation per platform (platform_posix.cpp, platform_win32.cpp), chosen by the build;
// the replacing writes at the end are built on them once, in runtime.cpp. Only the runtime and
// the PNG writer use this header; the rest of the program goes through runtime.h.
//
// Paths are UTF-8 byte strings. Every failure carries the system's reason as text ("No space left
// on device"); an empty reason means success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "toolkit/runtime.h"

namespace tk::platform {

// A value, or the system's reason why there is none.
template <typename T> struct Result {
    T value{};
    Text error; // empty on success
    bool ok() const { return error.empty(); }
};

// The reason text of a C library error number (ENOENT, EISDIR, ...).
Text ReasonOf(int errorNumber);

// ---- Paths ----------------------------------------------------------------------------------

enum class Entry { Missing, File, Directory, Other }; // Other: a FIFO, a device, a socket
struct EntryInfo {
    Entry entry = Entry::Missing;
    int64_t size = 0; // bytes, for everything but a directory
    uint32_t permissions = 0;
};
EntryInfo Inspect(const Text& path);  // symbolic links followed
Text FirstMatch(const Text& pattern); // first path matching * and ? in sorted order, or empty
Text ResolvedPath(const Text& path);  // symbolic links resolved; empty when that fails
Text CurrentDirectory();              // ends in the separator; empty when the call fails
bool ChangeDirectory(const Text& path);
bool IsAbsolute(const Text& path);
bool IsSeparator(char c);
constexpr char Separator = '/';

// ---- Open files -----------------------------------------------------------------------------

using FileHandle = intptr_t;
constexpr uint32_t NewFilePermissions = 0xFFFFFFFF;
constexpr FileHandle NoFile = -1;

// Never blocks on a FIFO without a writer; refuses a directory.
Result<FileHandle> OpenForReading(const Text& path);
// Creates the file or empties it.
Result<FileHandle> OpenForWriting(const Text& path);
// For a target that is a FIFO or a device: opened for writing as it is, failing at once when
// nobody reads a FIFO.
Result<FileHandle> OpenNodeForWriting(const Text& path);
// A new file in `folder` (ending in the separator, or empty for the current one) whose name
// starts with `stem` and that no one else uses; its path goes to `path`. It gets `permissions`
// (the bits an existing file had), or a new file's default ones for NewFilePermissions.
Result<FileHandle> CreateUniqueFile(const Text& folder, const Text& stem, uint32_t permissions,
                                    Text& path);

// Reads until `count` bytes arrived or the file ended; the bytes read (also on failure).
Result<int64_t> Read(FileHandle file, uint8_t* destination, size_t count);
Text WriteAll(FileHandle file, const uint8_t* bytes, size_t count);
Text MoveBack(FileHandle file, int64_t count); // the position goes back by count bytes
Text Flush(FileHandle file);                   // to the storage device
Text Close(FileHandle file);                   // the handle is gone whatever this reports
// A C stream over the handle, which it then owns (fclose closes both); null on failure.
FILE* StreamOf(FileHandle file);
// The C library's buffer, then (when `durable`) on to the storage device.
Text FlushStream(FILE* stream, bool durable);
// Puts `temporary` in the place of `target`, replacing it, and makes that durable.
Text Replace(const Text& temporary, const Text& target);
void Remove(const Text& path);

// ---- Large memory ---------------------------------------------------------------------------

// Zero-filled memory of at least `size` bytes straight from the system, for blocks too large for
// the heap to serve well; its reserved length goes to `length`. Null when there is none.
uint8_t* AllocatePages(size_t size, size_t& length);
void FreePages(uint8_t* block, size_t length);

// ---- Replacing writes (runtime.cpp, over the procedures above) --------------------------------

// Where the bytes meant for `path` go: a temporary file beside the target (the file a symbolic
// link names), or, for a FIFO or a device, the node itself (temporary stays empty).
struct Replacement {
    FileHandle file = NoFile;
    Text target;    // absolute
    Text temporary; // empty when the target is written directly
    bool direct() const { return temporary.empty(); }
};
Result<Replacement> BeginReplacing(const Text& path);
// After the file was flushed and closed: when `succeeded` the temporary takes the target's
// place, otherwise it is removed. The reason when the replacing itself failed, else empty.
Text EndReplacing(const Replacement& replacement, bool succeeded);

} // namespace tk::platform
