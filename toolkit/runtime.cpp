// Files, text and number conversions, memory blocks. What the operating system does lies behind
// platform.h; everything here is the same on every platform.
#include "toolkit/runtime.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "toolkit/platform.h"
#include "toolkit/state.h"

namespace tk {

namespace {

using platform::FileHandle;
using platform::NoFile;

constexpr int32_t kSlotBufferSize = 4096;
constexpr size_t kInitialSlots = 16;
// Longest piece of the target's name used in a temporary file name, so that the temporary name
// stays within the file system's name limit even when the target's name is already at it.
constexpr size_t kTempNamePrefixLimit = 200;

struct FileSlot {
    FileHandle handle = NoFile;
    std::unique_ptr<uint8_t[]> buffer;
    int32_t bufferSize = 0;
    int32_t count = 0;  // write mode: free bytes left; read mode: bytes not yet delivered
    int32_t filled = 0; // read mode: bytes the last refill delivered
    bool writeMode = false;
    Text error; // first failure since the slot was opened; kept after closing
    platform::Replacement replacement; // replacing slots: the temporary file and its target
};

} // namespace

struct state::Files {
    std::vector<FileSlot> slots = std::vector<FileSlot>(kInitialSlots);
    Text lastOpenError;
    std::vector<Text> commandLine; // [0] is the program path
    int64_t nextParameter = 0;
};

template <> state::Files* state::Make() {
    return new Files;
}

namespace {

state::Files* F() {
    return state::Get<state::Files>();
}

void NoteFailure(FileSlot& slot, const Text& reason) {
    if (slot.error.empty()) slot.error = reason;
}

FileSlot* OpenSlot(int slot) {
    state::Files* f = F();
    if (f == nullptr || slot < 0 || static_cast<size_t>(slot) >= f->slots.size()) return nullptr;
    FileSlot& s = f->slots[static_cast<size_t>(slot)];
    return s.handle != NoFile ? &s : nullptr;
}

// Makes room for the slot number; false when the table cannot grow that far.
bool ReserveSlot(state::Files& f, int slot) {
    if (slot < 0) return false;
    if (static_cast<size_t>(slot) < f.slots.size()) return true;
    try {
        f.slots.resize(static_cast<size_t>(slot) + kInitialSlots);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// Writes out the bytes waiting in a write-mode buffer.
void FlushPending(FileSlot& s) {
    if (!s.writeMode || !s.buffer) return;
    size_t pending = static_cast<size_t>(s.bufferSize - s.count);
    if (pending > 0) NoteFailure(s, platform::WriteAll(s.handle, s.buffer.get(), pending));
    s.count = s.bufferSize;
}

// Gives the slot its handle and a fresh buffer, in read mode.
void AttachHandle(FileSlot& s, FileHandle handle) {
    s.handle = handle;
    s.buffer.reset(new (std::nothrow) uint8_t[kSlotBufferSize]);
    s.bufferSize = s.buffer ? kSlotBufferSize : 0;
    s.count = 0;
    s.filled = 0;
    s.writeMode = false;
    s.error.clear();
    s.replacement = {};
}

// Flushes and closes the slot's file (a replacing one takes the target's place only when all
// went well). The slot keeps the first failure; true when there was none.
bool CloseSlot(FileSlot& s) {
    FlushPending(s);
    const bool replacing = !s.replacement.direct();
    if (replacing) NoteFailure(s, platform::Flush(s.handle));
    // The handle is gone after closing whatever that reports, so it is never retried.
    NoteFailure(s, platform::Close(s.handle));
    if (replacing) NoteFailure(s, platform::EndReplacing(s.replacement, s.error.empty()));
    Text error = std::move(s.error);
    s = FileSlot{};
    s.error = std::move(error);
    return s.error.empty();
}

// Common start of every open: closes what the slot holds and makes room for it. The slot, or null
// (with the reason recorded) when the slot number cannot be used.
FileSlot* PrepareSlot(int slot) {
    state::Files* f = F();
    if (f == nullptr) return nullptr;
    if (!ReserveSlot(*f, slot)) {
        f->lastOpenError = platform::ReasonOf(slot < 0 ? EBADF : ENOMEM);
        return nullptr;
    }
    FileSlot& s = f->slots[static_cast<size_t>(slot)];
    if (s.handle != NoFile) CloseSlot(s);
    return &s;
}

int FailOpen(FileSlot& s, const Text& reason) {
    F()->lastOpenError = reason;
    s.error = reason;
    return 0;
}

// Opens the slot over what `open` gives for the path.
template <typename Open> int OpenSlotWith(int slot, const Text& path, Open open) {
    FileSlot* s = PrepareSlot(slot);
    if (s == nullptr) return 0;
    if (path.empty()) return FailOpen(*s, platform::ReasonOf(ENOENT));
    platform::Result<FileHandle> opened = open(path);
    if (!opened.ok()) return FailOpen(*s, opened.error);
    AttachHandle(*s, opened.value);
    return 1;
}

Text StripTrailingSeparators(const Text& path) {
    size_t end = path.size();
    while (end > 0 && platform::IsSeparator(path[end - 1])) --end;
    if (end == 0) return path.empty() ? Text() : path.substr(0, 1);
    return path.substr(0, end);
}

int64_t SizeOf(const platform::EntryInfo& info) {
    switch (info.entry) {
    case platform::Entry::Missing:
        return -1;
    case platform::Entry::Directory:
        return -2;
    default:
        return info.size;
    }
}

Text AbsolutePath(const Text& path) {
    return platform::IsAbsolute(path) ? path : platform::CurrentDirectory() + path;
}

} // namespace

// ---- Replacing writes -----------------------------------------------------------------------

namespace platform {

Result<Replacement> BeginReplacing(const Text& path) {
    if (path.empty()) return {{}, ReasonOf(ENOENT)};
    if (IsSeparator(path.back())) return {{}, ReasonOf(EISDIR)};
    Replacement r;
    // The target is kept absolute: the current directory may change before the file is closed.
    r.target = AbsolutePath(path);
    EntryInfo info = Inspect(path);
    if (info.entry == Entry::Directory) return {{}, ReasonOf(EISDIR)};
    // A FIFO or a device has no contents to keep, and putting a file in its place would replace
    // the node itself: such targets are written directly.
    if (info.entry == Entry::Other) {
        Result<FileHandle> opened = OpenNodeForWriting(path);
        if (!opened.ok()) return {{}, opened.error};
        r.file = opened.value;
        return {r, {}};
    }
    if (info.entry == Entry::File) {
        // Through a symbolic link the file it points to is replaced, not the link.
        Text resolved = ResolvedPath(path);
        if (!resolved.empty()) r.target = resolved;
    }
    size_t cut = r.target.size();
    while (cut > 0 && !IsSeparator(r.target[cut - 1])) --cut;
    Text folder = r.target.substr(0, cut);
    // Appended rather than "." + ...: GCC 12 warns wrongly (-Wrestrict) about that operator+
    // when it is inlined with -O2 and _FORTIFY_SOURCE, as the packages are built.
    Text stem = ".";
    stem += r.target.substr(cut, kTempNamePrefixLimit);
    uint32_t permissions = info.entry == Entry::File ? info.permissions : NewFilePermissions;
    Result<FileHandle> created = CreateUniqueFile(folder, stem, permissions, r.temporary);
    if (!created.ok()) return {{}, created.error};
    r.file = created.value;
    return {r, {}};
}

Text EndReplacing(const Replacement& replacement, bool succeeded) {
    if (replacement.direct()) return Text();
    if (succeeded) {
        Text error = Replace(replacement.temporary, replacement.target);
        if (error.empty()) return error;
        Remove(replacement.temporary);
        return error;
    }
    Remove(replacement.temporary);
    return Text();
}

} // namespace platform

// ---- Files and directories ------------------------------------------------------------------

bool IsRegularFile(const Text& path) {
    return platform::Inspect(path).entry == platform::Entry::File;
}

int64_t QueryFileSize(const Text& path) {
    // No length limit is applied: cutting a long path would name a different file.
    Text name = StripTrailingSeparators(path);
    if (name.empty()) return -1;
    platform::EntryInfo info = platform::Inspect(name);
    if (info.entry != platform::Entry::Missing) return SizeOf(info);
    if (name.find_first_of("*?") == Text::npos) return -1;
    Text first = platform::FirstMatch(name);
    return first.empty() ? -1 : SizeOf(platform::Inspect(first));
}

int OpenInputFile(int slot, const Text& path) {
    return OpenSlotWith(slot, path, platform::OpenForReading);
}

int CreateOutputFile(int slot, const Text& path) {
    return OpenSlotWith(slot, path, platform::OpenForWriting);
}

int CreateReplacingFile(int slot, const Text& path) {
    FileSlot* s = PrepareSlot(slot);
    if (s == nullptr) return 0;
    platform::Result<platform::Replacement> begun = platform::BeginReplacing(path);
    if (!begun.ok()) return FailOpen(*s, begun.error);
    AttachHandle(*s, begun.value.file);
    s->replacement = begun.value;
    return 1;
}

int64_t ReadBytes(int slot, uint8_t* destination, int64_t count) {
    FileSlot* s = OpenSlot(slot);
    if (!s || !destination || count <= 0) return 0;
    auto read = [s](uint8_t* to, int64_t n) {
        platform::Result<int64_t> got = platform::Read(s->handle, to, static_cast<size_t>(n));
        NoteFailure(*s, got.error);
        return got.value;
    };
    if (!s->buffer) return read(destination, count);
    if (s->writeMode) {
        FlushPending(*s);
        s->writeMode = false;
        s->count = 0;
    }
    if (s->count >= count) {
        std::memcpy(destination, s->buffer.get() + (s->filled - s->count),
                    static_cast<size_t>(count));
        s->count -= static_cast<int32_t>(count);
        return count;
    }
    int64_t copied = s->count;
    std::memcpy(destination, s->buffer.get() + (s->filled - s->count), static_cast<size_t>(copied));
    s->count = 0;
    int64_t remaining = count - copied;
    if (remaining >= s->bufferSize) return copied + read(destination + copied, remaining);
    int64_t got = read(s->buffer.get(), s->bufferSize);
    s->filled = static_cast<int32_t>(got);
    int64_t take = std::min(remaining, got);
    std::memcpy(destination + copied, s->buffer.get(), static_cast<size_t>(take));
    s->count = static_cast<int32_t>(got - take);
    return copied + take;
}

int WriteByteTo(int slot, int value) {
    FileSlot* s = OpenSlot(slot);
    if (!s) return 0;
    uint8_t byte = static_cast<uint8_t>(value & 0xFF);
    if (!s->buffer) {
        NoteFailure(*s, platform::WriteAll(s->handle, &byte, 1));
        return 1;
    }
    if (!s->writeMode) {
        // Bytes read ahead but not delivered are given back so writing continues where reading
        // stopped.
        if (s->count > 0) NoteFailure(*s, platform::MoveBack(s->handle, s->count));
        s->writeMode = true;
        s->count = s->bufferSize;
    }
    if (s->count <= 1) FlushPending(*s);
    s->buffer[static_cast<size_t>(s->bufferSize - s->count)] = byte;
    s->count -= 1;
    return 1;
}

int CloseFileSlot(int slot) {
    FileSlot* s = OpenSlot(slot);
    return s != nullptr && CloseSlot(*s) ? 1 : 0;
}

void CloseAllFiles() {
    if (state::Files* f = F())
        for (FileSlot& s : f->slots)
            if (s.handle != NoFile) CloseSlot(s);
}

// Files still open are closed (a replacing one is discarded unless all went well).
template <> void state::Destroy(Files* files) {
    for (FileSlot& s : files->slots)
        if (s.handle != NoFile) CloseSlot(s);
    delete files;
}

Text FileSlotError(int slot) {
    state::Files* f = F();
    if (f == nullptr || slot < 0 || static_cast<size_t>(slot) >= f->slots.size()) return Text();
    return f->slots[static_cast<size_t>(slot)].error;
}

Text LastOpenError() {
    state::Files* f = F();
    return f != nullptr ? f->lastOpenError : Text();
}

Text CurrentDirectory() {
    return platform::CurrentDirectory();
}

int ChangeDirectory(const Text& path) {
    return platform::ChangeDirectory(path) ? 1 : 0;
}

Text FilePartOf(const Text& path) {
    size_t from = !path.empty() && path[0] == '"' ? 1 : 0;
    size_t separator = path.find_last_of("/\\");
    if (separator != Text::npos && separator >= from) from = separator + 1;
    size_t end = path.find('"', from);
    return path.substr(from, end == Text::npos ? Text::npos : end - from);
}

bool IsAbsolutePath(const Text& path) {
    return platform::IsAbsolute(path);
}

Text FolderPartOf(const Text& path) {
    size_t end = path.size();
    while (end > 0 && !platform::IsSeparator(path[end - 1])) --end;
    return path.substr(0, end);
}

// ---- Command line ---------------------------------------------------------------------------

void SetCommandLine(int argc, char** argv) {
    state::Files* f = F();
    if (f == nullptr) return;
    f->commandLine.clear();
    for (int i = 0; i < argc && argv && argv[i]; ++i) f->commandLine.emplace_back(argv[i]);
    f->nextParameter = 0;
}

void SetCommandLineText(const Text& line) {
    state::Files* f = F();
    if (f == nullptr) return;
    f->commandLine = TokenizeCommandLine(line);
    f->nextParameter = 0;
}

std::vector<Text> TokenizeCommandLine(const Text& line) {
    std::vector<Text> tokens;
    size_t i = 0;
    const size_t n = line.size();
    while (true) {
        while (i < n && line[i] == ' ') ++i;
        if (i >= n) break;
        if (line[i] == '"') {
            size_t close = line.find('"', i + 1);
            if (close == Text::npos) {
                tokens.push_back(line.substr(i + 1));
                break;
            }
            tokens.push_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            size_t end = line.find(' ', i);
            if (end == Text::npos) end = n;
            tokens.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return tokens;
}

Text CommandLineParameter(int index) {
    state::Files* f = F();
    if (f == nullptr) return Text();
    if (index >= 0) f->nextParameter = index;
    // Parameter k is token k + 1; token 0 is the program path.
    int64_t token = f->nextParameter + 1;
    if (token >= static_cast<int64_t>(f->commandLine.size())) return Text();
    ++f->nextParameter;
    return f->commandLine[static_cast<size_t>(token)];
}

// ---- Text and numbers -----------------------------------------------------------------------

Text IntegerToText(int64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    return Text(digits, result.ptr);
}

int64_t TextToInteger(const Text& text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < n && text[i] == '%') {
        base = 2;
        ++i;
    }
    uint64_t value = 0; // unsigned so that overflow wraps modulo 2^64
    for (; i < n; ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    if (negative) value = 0 - value;
    return static_cast<int64_t>(value);
}

Text PadLeft(const Text& text, int64_t width, const Text& fill) {
    size_t wanted = width > 0 ? static_cast<size_t>(width) : 0;
    if (text.size() >= wanted) return text.substr(0, wanted);
    char filler = fill.empty() ? ' ' : fill[0];
    return Text(wanted - text.size(), filler) + text;
}

Text FieldOf(const Text& text, int64_t index, const Text& separator) {
    if (index < 1) return Text();
    if (separator.empty()) return index == 1 ? text : Text();
    size_t start = 0;
    for (int64_t field = 1;; ++field) {
        size_t end = text.find(separator, start);
        if (field == index) return text.substr(start, end == Text::npos ? Text::npos : end - start);
        if (end == Text::npos) return Text();
        start = end + separator.size();
    }
}

int64_t TextLength(const Text& text) {
    return static_cast<int64_t>(text.size());
}

Text MiddleOf(const Text& text, int64_t start, int64_t length) {
    if (length < 0) length = 0;
    size_t from = start <= 1 ? 0 : static_cast<size_t>(start - 1);
    if (from >= text.size()) return Text();
    return text.substr(from, static_cast<size_t>(length));
}

int64_t TruncateToInteger(double value) {
    // 2^63 is exact in double; every finite value in [-2^63, 2^63) converts without overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= kLimit || value < -kLimit) return INT64_MIN;
    return static_cast<int64_t>(value); // the conversion itself truncates toward zero
}

// ---- Memory ---------------------------------------------------------------------------------

void BlockDeleter::operator()(uint8_t* p) const {
    if (mapped != 0)
        platform::FreePages(p, mapped);
    else
        std::free(p);
}

namespace {

// From this size on a block comes straight from the system; smaller ones from the heap.
constexpr size_t kMappedBlockMinimum = size_t{4} << 20;

} // namespace

MemoryBlock AllocateBlock(int64_t size) {
    MemoryBlock block;
    static_assert(sizeof(size_t) >= sizeof(int64_t), "every block size fits in size_t");
    if (size <= 0) return block;
    const auto bytes = static_cast<size_t>(size);
    if (bytes >= kMappedBlockMinimum) {
        // Anonymous memory reads as zero until written. Filled with small pages, a file costs a
        // fault and a page clear every 4 KiB, which takes longer than copying the bytes in.
        size_t length = 0;
        if (uint8_t* mapped = platform::AllocatePages(bytes, length)) {
            block.data = std::unique_ptr<uint8_t[], BlockDeleter>(mapped, BlockDeleter{length});
            block.size = size;
        }
        return block;
    }
    block.data.reset(static_cast<uint8_t*>(std::calloc(bytes, 1)));
    if (block.data) block.size = size;
    return block;
}

void FreeBlock(MemoryBlock& block) {
    block.data.reset();
    block.size = 0;
}

int32_t ReadMemoryByte(const uint8_t* address) {
    if (!address) return 0;
    return static_cast<int8_t>(*address);
}

} // namespace tk
