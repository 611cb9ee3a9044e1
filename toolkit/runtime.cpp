// Files, text and number conversions, memory blocks: the POSIX implementation.
#include "toolkit/runtime.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <glob.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tk {

namespace {

constexpr int32_t kSlotBufferSize = 4096;
constexpr size_t kInitialSlots = 16;
// Longest piece of the target's name used in a temporary file name, so that the temporary name
// stays within the file system's name limit even when the target's name is already at it.
constexpr size_t kTempNamePrefixLimit = 200;

struct FileSlot {
    int handle = -1; // -1: not open
    std::unique_ptr<uint8_t[]> buffer;
    int32_t bufferSize = 0;
    int32_t count = 0;  // write mode: free bytes left; read mode: bytes not yet delivered
    int32_t filled = 0; // read mode: bytes the last refill delivered
    bool writeMode = false;
    Text error;     // first failure since the slot was opened; kept after closing
    Text target;    // replacing slots: the file the temporary is renamed over
    Text temporary; // replacing slots: the temporary file being written
};

std::vector<FileSlot> slots(kInitialSlots);
Text lastOpenError;
std::vector<Text> commandLine; // [0] is the program path
int64_t nextParameter = 0;

Text Reason(int error) {
    return std::strerror(error);
}

void NoteFailure(FileSlot& slot, int error) {
    if (slot.error.empty()) slot.error = Reason(error);
}

FileSlot* OpenSlot(int slot) {
    if (slot < 0 || static_cast<size_t>(slot) >= slots.size()) return nullptr;
    FileSlot& s = slots[static_cast<size_t>(slot)];
    return s.handle >= 0 ? &s : nullptr;
}

// Makes room for the slot number; false when the table cannot grow that far.
bool ReserveSlot(int slot) {
    if (slot < 0) return false;
    if (static_cast<size_t>(slot) < slots.size()) return true;
    try {
        slots.resize(static_cast<size_t>(slot) + kInitialSlots);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// Writes all n bytes, riding out interruptions and short writes. 0 or the errno of the failure.
int WriteAll(int fd, const uint8_t* data, size_t n) {
    while (n > 0) {
        ssize_t done = ::write(fd, data, n);
        if (done < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (done == 0) return EIO;
        data += done;
        n -= static_cast<size_t>(done);
    }
    return 0;
}

// Reads until n bytes arrived or the end of the file; the bytes read. error gets the errno of a
// failure, 0 otherwise.
int64_t ReadFull(int fd, uint8_t* data, size_t n, int& error) {
    error = 0;
    size_t total = 0;
    while (total < n) {
        ssize_t got = ::read(fd, data + total, n - total);
        if (got < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(total);
}

// Opens without blocking on a FIFO that has no partner yet, then makes the descriptor blocking.
int OpenNonBlocking(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

mode_t CurrentUmask() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Writes out the bytes waiting in a write-mode buffer.
void FlushPending(FileSlot& s) {
    if (!s.writeMode || !s.buffer) return;
    size_t pending = static_cast<size_t>(s.bufferSize - s.count);
    if (pending > 0) {
        if (int error = WriteAll(s.handle, s.buffer.get(), pending)) NoteFailure(s, error);
    }
    s.count = s.bufferSize;
}

// Gives the slot its descriptor and a fresh buffer, in read mode.
void AttachHandle(FileSlot& s, int fd) {
    s.handle = fd;
    s.buffer.reset(new (std::nothrow) uint8_t[kSlotBufferSize]);
    s.bufferSize = s.buffer ? kSlotBufferSize : 0;
    s.count = 0;
    s.filled = 0;
    s.writeMode = false;
    s.error.clear();
    s.target.clear();
    s.temporary.clear();
}

// Common start of every open: closes what the slot holds and makes room for it. False (with the
// reason recorded) when the slot number cannot be used.
bool PrepareSlot(int slot) {
    if (!ReserveSlot(slot)) {
        lastOpenError = Reason(slot < 0 ? EBADF : ENOMEM);
        return false;
    }
    CloseFileSlot(slot);
    return true;
}

int FailOpen(int slot, int error) {
    lastOpenError = Reason(error);
    FileSlot& s = slots[static_cast<size_t>(slot)];
    s.error = lastOpenError;
    return 0;
}

Text StripTrailingSeparators(const Text& path) {
    size_t end = path.find_last_not_of('/');
    if (end == Text::npos) return path.empty() ? Text() : Text("/");
    return path.substr(0, end + 1);
}

int64_t SizeFromStat(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return -2;
    return static_cast<int64_t>(info.st_size);
}

} // namespace

// ---- Files and directories ------------------------------------------------------------------

bool IsRegularFile(const Text& path) {
    struct stat info;
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

int64_t QueryFileSize(const Text& path) {
    // No length limit is applied: cutting a long path would name a different file.
    Text name = StripTrailingSeparators(path);
    if (name.empty()) return -1;
    struct stat info;
    if (::stat(name.c_str(), &info) == 0) return SizeFromStat(info);
    if (name.find_first_of("*?") == Text::npos) return -1;
    glob_t found{};
    int64_t result = -1;
    if (::glob(name.c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0 &&
        ::stat(found.gl_pathv[0], &info) == 0) {
        result = SizeFromStat(info);
    }
    ::globfree(&found);
    return result;
}

int OpenInputFile(int slot, const Text& path) {
    if (!PrepareSlot(slot)) return 0;
    if (path.empty()) return FailOpen(slot, ENOENT);
    int fd = OpenNonBlocking(path.c_str(), O_RDONLY, 0);
    if (fd < 0) return FailOpen(slot, errno);
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return FailOpen(slot, EISDIR);
    }
    AttachHandle(slots[static_cast<size_t>(slot)], fd);
    return 1;
}

int CreateOutputFile(int slot, const Text& path) {
    if (!PrepareSlot(slot)) return 0;
    if (path.empty()) return FailOpen(slot, ENOENT);
    int fd = OpenNonBlocking(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) fd = OpenNonBlocking(path.c_str(), O_WRONLY | O_TRUNC, 0);
    if (fd < 0) return FailOpen(slot, errno);
    AttachHandle(slots[static_cast<size_t>(slot)], fd);
    return 1;
}

int CreateReplacingFile(int slot, const Text& path) {
    if (!PrepareSlot(slot)) return 0;
    if (path.empty()) return FailOpen(slot, ENOENT);
    if (path.back() == '/') return FailOpen(slot, EISDIR);

    // The target is kept absolute: the current directory may change before the slot is closed.
    Text target = path[0] == '/' ? path : CurrentDirectory() + path;
    struct stat info;
    bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists) {
        if (S_ISDIR(info.st_mode)) return FailOpen(slot, EISDIR);
        // A FIFO or a device has no contents to keep, and renaming over it would replace the
        // node itself: such targets are written directly.
        // Opened for writing only: with nobody reading a FIFO this fails at once (ENXIO) instead
        // of the writes filling the pipe and then waiting for ever.
        if (!S_ISREG(info.st_mode)) {
            int fd = OpenNonBlocking(path.c_str(), O_WRONLY, 0);
            if (fd < 0) return FailOpen(slot, errno);
            AttachHandle(slots[static_cast<size_t>(slot)], fd);
            return 1;
        }
        // Through a symbolic link the file it points to is replaced, not the link.
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }

    size_t cut = target.rfind('/');
    Text folder = cut == Text::npos ? Text(".") : target.substr(0, cut + 1);
    Text name = cut == Text::npos ? target : target.substr(cut + 1);
    Text pattern = folder + (folder.back() == '/' ? "" : "/") + "." +
                   name.substr(0, kTempNamePrefixLimit) + ".XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return FailOpen(slot, errno);

    mode_t mode = exists ? (info.st_mode & 0777) : (0666 & ~CurrentUmask());
    if (::fchmod(fd, mode) != 0) {
        int error = errno;
        ::close(fd);
        ::unlink(temporary.data());
        return FailOpen(slot, error);
    }
    FileSlot& s = slots[static_cast<size_t>(slot)];
    AttachHandle(s, fd);
    s.target = target;
    s.temporary = temporary.data();
    return 1;
}

int64_t ReadBytes(int slot, uint8_t* destination, int64_t count) {
    FileSlot* s = OpenSlot(slot);
    if (!s || !destination || count <= 0) return 0;
    int error = 0;
    if (!s->buffer) {
        int64_t got = ReadFull(s->handle, destination, static_cast<size_t>(count), error);
        if (error) NoteFailure(*s, error);
        return got;
    }
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
    if (remaining >= s->bufferSize) {
        int64_t got =
            ReadFull(s->handle, destination + copied, static_cast<size_t>(remaining), error);
        if (error) NoteFailure(*s, error);
        return copied + got;
    }
    int64_t got = ReadFull(s->handle, s->buffer.get(), static_cast<size_t>(s->bufferSize), error);
    if (error) NoteFailure(*s, error);
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
        if (int error = WriteAll(s->handle, &byte, 1)) NoteFailure(*s, error);
        return 1;
    }
    if (!s->writeMode) {
        // Bytes read ahead but not delivered are given back so writing continues where reading
        // stopped.
        if (s->count > 0 && ::lseek(s->handle, -static_cast<off_t>(s->count), SEEK_CUR) < 0) {
            NoteFailure(*s, errno);
        }
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
    if (!s) return 0;
    FlushPending(*s);
    bool replacing = !s->temporary.empty();
    if (replacing && ::fsync(s->handle) != 0) NoteFailure(*s, errno);
    // The descriptor is gone after close() whatever it reports, so it is never retried.
    if (::close(s->handle) != 0) NoteFailure(*s, errno);
    if (replacing) {
        if (s->error.empty() && ::rename(s->temporary.c_str(), s->target.c_str()) != 0) {
            NoteFailure(*s, errno);
        }
        if (!s->error.empty()) ::unlink(s->temporary.c_str());
    }
    Text error = std::move(s->error);
    *s = FileSlot{};
    s->error = std::move(error);
    return s->error.empty() ? 1 : 0;
}

void CloseAllFiles() {
    for (size_t i = 0; i < slots.size(); ++i) CloseFileSlot(static_cast<int>(i));
}

Text FileSlotError(int slot) {
    if (slot < 0 || static_cast<size_t>(slot) >= slots.size()) return Text();
    return slots[static_cast<size_t>(slot)].error;
}

Text LastOpenError() {
    return lastOpenError;
}

Text CurrentDirectory() {
    char* path = ::getcwd(nullptr, 0); // any length
    if (!path) return Text();
    Text result = path;
    std::free(path);
    if (!result.empty() && result.back() != '/') result += '/';
    return result;
}

int ChangeDirectory(const Text& path) {
    if (path.empty()) return 0;
    return ::chdir(path.c_str()) == 0 ? 1 : 0;
}

Text FilePartOf(const Text& path) {
    size_t from = !path.empty() && path[0] == '"' ? 1 : 0;
    size_t separator = path.find_last_of("/\\");
    if (separator != Text::npos && separator >= from) from = separator + 1;
    size_t end = path.find('"', from);
    return path.substr(from, end == Text::npos ? Text::npos : end - from);
}

// ---- Command line ---------------------------------------------------------------------------

void SetCommandLine(int argc, char** argv) {
    commandLine.clear();
    for (int i = 0; i < argc && argv && argv[i]; ++i) commandLine.emplace_back(argv[i]);
    nextParameter = 0;
}

void SetCommandLineText(const Text& line) {
    commandLine = TokenizeCommandLine(line);
    nextParameter = 0;
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
    if (index >= 0) nextParameter = index;
    // Parameter k is token k + 1; token 0 is the program path.
    int64_t token = nextParameter + 1;
    if (token >= static_cast<int64_t>(commandLine.size())) return Text();
    ++nextParameter;
    return commandLine[static_cast<size_t>(token)];
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
        ::munmap(p, mapped);
    else
        std::free(p);
}

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// From this size on a block is mapped for huge pages; smaller ones come from the heap.
constexpr size_t kMappedBlockMinimum = size_t{4} << 20;

size_t RoundUp(size_t value, size_t unit) {
    return (value + unit - 1) / unit * unit;
}

// A fresh private mapping of at least `size` bytes starting on a 2 MiB boundary, so that every
// 2 MiB of it can be one huge page; its length (a whole number of pages) goes to `length`.
// Null when no address space is left.
uint8_t* MapHugeBlock(size_t size, size_t& length) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    length = RoundUp(size, page);
    if (length < size || length > SIZE_MAX - kHugePage) return nullptr;
    // Over-reserved by one huge page, then trimmed on both sides to the aligned range.
    const size_t reserved = length + kHugePage;
    void* area =
        ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(area);
    const uintptr_t aligned = RoundUp(start, kHugePage);
    const size_t head = aligned - start;
    const size_t tail = reserved - head - length;
    if (head != 0) ::munmap(area, head);
    if (tail != 0) ::munmap(reinterpret_cast<void*>(aligned + length), tail);
    auto* block = reinterpret_cast<uint8_t*>(aligned);
    // Only advice: without huge pages the block still works with small ones.
    ::madvise(block, length, MADV_HUGEPAGE);
    return block;
}

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
        if (uint8_t* mapped = MapHugeBlock(bytes, length)) {
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
