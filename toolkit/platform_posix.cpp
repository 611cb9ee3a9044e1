// The operating system under the runtime: POSIX files, directories and mappings.
#include "toolkit/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <glob.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tk::platform {

namespace {

Text LastReason() {
    return ReasonOf(errno);
}

int Descriptor(FileHandle file) {
    return static_cast<int>(file);
}

// Opens without blocking on a FIFO that has no partner yet, then makes the descriptor blocking.
Result<FileHandle> OpenNonBlocking(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {NoFile, LastReason()};
    int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
        Text reason = LastReason();
        ::close(fd);
        return {NoFile, reason};
    }
    return {fd, {}};
}

mode_t CurrentUmask() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Makes a rename in the folder durable; a failure here does not undo the rename.
void SyncFolderOf(const Text& path) {
    size_t slash = path.rfind('/');
    Text folder = slash == Text::npos ? Text(".") : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

EntryInfo InfoOf(const struct stat& info) {
    EntryInfo result;
    result.entry = S_ISDIR(info.st_mode)   ? Entry::Directory
                   : S_ISREG(info.st_mode) ? Entry::File
                                           : Entry::Other;
    result.size = S_ISDIR(info.st_mode) ? 0 : static_cast<int64_t>(info.st_size);
    result.permissions = static_cast<uint32_t>(info.st_mode & 0777);
    return result;
}

} // namespace

Text ReasonOf(int errorNumber) {
    return std::strerror(errorNumber);
}

// ---- Paths ----------------------------------------------------------------------------------

EntryInfo Inspect(const Text& path) {
    struct stat info;
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return {};
    return InfoOf(info);
}

Text FirstMatch(const Text& pattern) {
    glob_t found{};
    Text first;
    if (::glob(pattern.c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0)
        first = found.gl_pathv[0];
    ::globfree(&found);
    return first;
}

Text ResolvedPath(const Text& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return Text();
    Text result = resolved;
    std::free(resolved);
    return result;
}

Text CurrentDirectory() {
    char* path = ::getcwd(nullptr, 0); // any length
    if (!path) return Text();
    Text result = path;
    std::free(path);
    if (!result.empty() && result.back() != '/') result += '/';
    return result;
}

bool ChangeDirectory(const Text& path) {
    return !path.empty() && ::chdir(path.c_str()) == 0;
}

bool IsAbsolute(const Text& path) {
    return !path.empty() && path[0] == '/';
}

bool IsSeparator(char c) {
    return c == '/';
}

// ---- Open files -----------------------------------------------------------------------------

Result<FileHandle> OpenForReading(const Text& path) {
    Result<FileHandle> opened = OpenNonBlocking(path.c_str(), O_RDONLY, 0);
    if (!opened.ok()) return opened;
    struct stat info;
    if (::fstat(Descriptor(opened.value), &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(Descriptor(opened.value));
        return {NoFile, ReasonOf(EISDIR)};
    }
    return opened;
}

Result<FileHandle> OpenForWriting(const Text& path) {
    Result<FileHandle> opened = OpenNonBlocking(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (!opened.ok()) opened = OpenNonBlocking(path.c_str(), O_WRONLY | O_TRUNC, 0);
    return opened;
}

Result<FileHandle> OpenNodeForWriting(const Text& path) {
    // Write-only: with nobody reading a FIFO this fails at once (ENXIO) instead of the writes
    // filling the pipe and then waiting for ever.
    return OpenNonBlocking(path.c_str(), O_WRONLY, 0);
}

Result<FileHandle> CreateUniqueFile(const Text& folder, const Text& stem, uint32_t permissions,
                                    Text& path) {
    Text pattern = folder + stem + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return {NoFile, LastReason()};
    mode_t mode = permissions != NewFilePermissions ? static_cast<mode_t>(permissions)
                                                    : (0666 & ~CurrentUmask());
    if (::fchmod(fd, mode) != 0) {
        Text reason = LastReason();
        ::close(fd);
        ::unlink(name.data());
        return {NoFile, reason};
    }
    path = name.data();
    return {fd, {}};
}

Result<int64_t> Read(FileHandle file, uint8_t* destination, size_t count) {
    size_t total = 0;
    while (total < count) {
        ssize_t got = ::read(Descriptor(file), destination + total, count - total);
        if (got < 0) {
            if (errno == EINTR) continue;
            return {static_cast<int64_t>(total), LastReason()};
        }
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    return {static_cast<int64_t>(total), {}};
}

Text WriteAll(FileHandle file, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        ssize_t done = ::write(Descriptor(file), bytes, count);
        if (done < 0) {
            if (errno == EINTR) continue;
            return LastReason();
        }
        if (done == 0) return ReasonOf(EIO);
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return Text();
}

Text MoveBack(FileHandle file, int64_t count) {
    if (::lseek(Descriptor(file), -static_cast<off_t>(count), SEEK_CUR) < 0) return LastReason();
    return Text();
}

Text Flush(FileHandle file) {
    return ::fsync(Descriptor(file)) == 0 ? Text() : LastReason();
}

Text Close(FileHandle file) {
    return ::close(Descriptor(file)) == 0 ? Text() : LastReason();
}

FILE* StreamOf(FileHandle file) {
    return ::fdopen(Descriptor(file), "wb");
}

Text FlushStream(FILE* stream, bool durable) {
    if (std::fflush(stream) != 0) return LastReason();
    if (durable && ::fsync(::fileno(stream)) != 0) return LastReason();
    return Text();
}

Text Replace(const Text& temporary, const Text& target) {
    if (::rename(temporary.c_str(), target.c_str()) != 0) return LastReason();
    SyncFolderOf(target);
    return Text();
}

void Remove(const Text& path) {
    ::unlink(path.c_str());
}

// ---- Large memory ---------------------------------------------------------------------------

namespace {

constexpr size_t HugePage = size_t{2} << 20;

size_t RoundUp(size_t value, size_t unit) {
    return (value + unit - 1) / unit * unit;
}

} // namespace

// A fresh private mapping starting on a 2 MiB boundary, so that every 2 MiB of it can be one
// huge page: filled with small pages, a whole file costs a fault and a page clear every 4 KiB,
// which takes longer than copying the bytes in.
uint8_t* AllocatePages(size_t size, size_t& length) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    length = RoundUp(size, page);
    if (length < size || length > SIZE_MAX - HugePage) return nullptr;
    // Over-reserved by one huge page, then trimmed on both sides to the aligned range.
    const size_t reserved = length + HugePage;
    void* area =
        ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(area);
    const uintptr_t aligned = RoundUp(start, HugePage);
    const size_t head = aligned - start;
    const size_t tail = reserved - head - length;
    if (head != 0) ::munmap(area, head);
    if (tail != 0) ::munmap(reinterpret_cast<void*>(aligned + length), tail);
    auto* block = reinterpret_cast<uint8_t*>(aligned);
    // Only advice: without huge pages the block still works with small ones.
    ::madvise(block, length, MADV_HUGEPAGE);
    return block;
}

void FreePages(uint8_t* block, size_t length) {
    ::munmap(block, length);
}

} // namespace tk::platform
