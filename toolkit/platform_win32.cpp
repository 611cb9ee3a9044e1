// The operating system under the runtime: the Win32 file API, directories and virtual memory.
//
// Paths arrive as UTF-8 and go to the W calls as UTF-16, so any file name works; "/" and "\" both
// separate. Failures carry the system's own message for GetLastError.
#include "toolkit/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace tk::platform {

namespace {

std::wstring Wide(const Text& text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(std::min<size_t>(text.size(), INT32_MAX));
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

Text Utf8(const wchar_t* text, size_t length) {
    if (length == 0) return Text();
    const int units = static_cast<int>(std::min<size_t>(length, INT32_MAX));
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    Text utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, units, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

Text Utf8(const std::wstring& text) {
    return Utf8(text.c_str(), text.size());
}

// The system's message for a Win32 error code, without the closing full stop and line break.
Text MessageOf(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    Text text = buffer != nullptr ? Utf8(buffer, length) : Text();
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty()) text = "System error " + std::to_string(code);
    return text;
}

Text LastReason() {
    return MessageOf(GetLastError());
}

HANDLE Native(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle Handle(HANDLE native) {
    return reinterpret_cast<FileHandle>(native);
}

Result<FileHandle> Open(const Text& path, DWORD access, DWORD share, DWORD disposition,
                        DWORD attributes) {
    HANDLE file =
        CreateFileW(Wide(path).c_str(), access, share, nullptr, disposition, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {NoFile, LastReason()};
    return {Handle(file), {}};
}

EntryInfo InfoOfAttributes(DWORD attributes, uint64_t size) {
    EntryInfo info;
    info.entry = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Entry::Directory
                 : (attributes & FILE_ATTRIBUTE_DEVICE)  ? Entry::Other
                                                         : Entry::File;
    info.size = info.entry == Entry::Directory ? 0 : static_cast<int64_t>(size);
    // Windows keeps one read-only flag where POSIX keeps permission bits.
    info.permissions = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    return info;
}

} // namespace

Text ReasonOf(int errorNumber) {
    return std::strerror(errorNumber);
}

// ---- Paths ----------------------------------------------------------------------------------

EntryInfo Inspect(const Text& path) {
    if (path.empty()) return {};
    const std::wstring wide = Wide(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return {};
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A symbolic link: what it names counts, as on the other systems.
        HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return {};
        BY_HANDLE_FILE_INFORMATION target{};
        const BOOL known = GetFileInformationByHandle(file, &target);
        CloseHandle(file);
        if (!known) return {};
        return InfoOfAttributes(target.dwFileAttributes,
                                (uint64_t(target.nFileSizeHigh) << 32) | target.nFileSizeLow);
    }
    return InfoOfAttributes(data.dwFileAttributes,
                            (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

Text FirstMatch(const Text& pattern) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(Wide(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return Text();
    Text first;
    do {
        Text name = Utf8(found.cFileName, wcslen(found.cFileName));
        if (name == "." || name == "..") continue;
        if (first.empty() || name < first) first = name;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (first.empty()) return Text();
    // The match lies in the pattern's folder.
    size_t cut = pattern.size();
    while (cut > 0 && !IsSeparator(pattern[cut - 1]) && pattern[cut - 1] != ':') --cut;
    return pattern.substr(0, cut) + first;
}

Text ResolvedPath(const Text& path) {
    HANDLE file = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Text();
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, resolved.data(), DWORD(resolved.size()), 0);
    if (length >= resolved.size()) {
        resolved.resize(length + 1);
        length = GetFinalPathNameByHandleW(file, resolved.data(), DWORD(resolved.size()), 0);
    }
    CloseHandle(file);
    if (length == 0 || length >= resolved.size()) return Text();
    resolved.resize(length);
    // "\\?\C:\dir\file" is "C:\dir\file"; "\\?\UNC\server\share" is "\\server\share".
    if (resolved.rfind(L"\\\\?\\UNC\\", 0) == 0) return Utf8(L"\\\\" + resolved.substr(8));
    if (resolved.rfind(L"\\\\?\\", 0) == 0) return Utf8(resolved.substr(4));
    return Utf8(resolved);
}

Text CurrentDirectory() {
    const DWORD room = GetCurrentDirectoryW(0, nullptr); // any length
    if (room == 0) return Text();
    std::wstring path(room, L'\0');
    const DWORD length = GetCurrentDirectoryW(room, path.data());
    if (length == 0 || length >= room) return Text();
    path.resize(length);
    Text result = Utf8(path);
    if (!result.empty() && !IsSeparator(result.back())) result += '\\';
    return result;
}

bool ChangeDirectory(const Text& path) {
    return !path.empty() && SetCurrentDirectoryW(Wide(path).c_str()) != 0;
}

// "C:\dir", "\\server\share" and "\dir" (the current drive's root) do not depend on the current
// directory.
bool IsAbsolute(const Text& path) {
    if (path.empty()) return false;
    if (IsSeparator(path[0])) return true;
    const unsigned char drive = static_cast<unsigned char>(path[0]) | 0x20;
    return path.size() >= 3 && drive >= 'a' && drive <= 'z' && path[1] == ':' &&
           IsSeparator(path[2]);
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// ---- Open files -----------------------------------------------------------------------------

Result<FileHandle> OpenForReading(const Text& path) {
    Result<FileHandle> opened =
        Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!opened.ok() && Inspect(path).entry == Entry::Directory) return {NoFile, ReasonOf(EISDIR)};
    return opened;
}

Result<FileHandle> OpenForWriting(const Text& path) {
    Result<FileHandle> opened = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (!opened.ok()) opened = Open(path, GENERIC_WRITE, FILE_SHARE_READ, TRUNCATE_EXISTING, 0);
    return opened;
}

Result<FileHandle> OpenNodeForWriting(const Text& path) {
    return Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
}

Result<FileHandle> CreateUniqueFile(const Text& folder, const Text& stem, uint32_t permissions,
                                    Text& path) {
    // Windows has no permission bits to carry over; a read-only target stays read-only, and so
    // refuses to be replaced, as Windows refuses to overwrite it.
    (void)permissions;
    static uint32_t counter = 0;
    uint32_t seed = GetCurrentProcessId() * 2654435761u ^ static_cast<uint32_t>(GetTickCount64());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", seed + 0x9E3779B9u * ++counter);
        const Text candidate = folder + stem + suffix;
        HANDLE file = CreateFileW(Wide(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            path = candidate;
            return {Handle(file), {}};
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return {NoFile, MessageOf(error)};
    }
    return {NoFile, MessageOf(ERROR_FILE_EXISTS)};
}

// ReadFile and WriteFile take 32-bit counts: large transfers go in pieces of 1 GiB.
constexpr size_t kLargestTransfer = size_t{1} << 30;

Result<int64_t> Read(FileHandle file, uint8_t* destination, size_t count) {
    size_t total = 0;
    while (total < count) {
        DWORD got = 0;
        const DWORD asked = static_cast<DWORD>(std::min(count - total, kLargestTransfer));
        if (!ReadFile(Native(file), destination + total, asked, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) break; // a pipe's writer has finished
            return {static_cast<int64_t>(total), LastReason()};
        }
        if (got == 0) break;
        total += got;
    }
    return {static_cast<int64_t>(total), {}};
}

Text WriteAll(FileHandle file, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        DWORD done = 0;
        const DWORD asked = static_cast<DWORD>(std::min(count, kLargestTransfer));
        if (!WriteFile(Native(file), bytes, asked, &done, nullptr)) return LastReason();
        if (done == 0) return MessageOf(ERROR_WRITE_FAULT);
        bytes += done;
        count -= done;
    }
    return Text();
}

Text MoveBack(FileHandle file, int64_t count) {
    LARGE_INTEGER distance;
    distance.QuadPart = -count;
    if (!SetFilePointerEx(Native(file), distance, nullptr, FILE_CURRENT)) return LastReason();
    return Text();
}

Text Flush(FileHandle file) {
    return FlushFileBuffers(Native(file)) ? Text() : LastReason();
}

Text Close(FileHandle file) {
    return CloseHandle(Native(file)) ? Text() : LastReason();
}

FILE* StreamOf(FileHandle file) {
    const int descriptor = _open_osfhandle(file, _O_WRONLY | _O_BINARY);
    if (descriptor < 0) return nullptr;
    FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) _close(descriptor); // closes the handle too, as promised
    return stream;
}

Text FlushStream(FILE* stream, bool durable) {
    if (std::fflush(stream) != 0) return ReasonOf(errno);
    if (durable && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))))
        return LastReason();
    return Text();
}

Text Replace(const Text& temporary, const Text& target) {
    // Write-through: the move is on the disk when the call returns.
    if (!MoveFileExW(Wide(temporary).c_str(), Wide(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return LastReason();
    return Text();
}

void Remove(const Text& path) {
    DeleteFileW(Wide(path).c_str());
}

// ---- Large memory ---------------------------------------------------------------------------

// Committed pages read as zero until written.
uint8_t* AllocatePages(size_t size, size_t& length) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    length = (size + page - 1) / page * page;
    if (length < size) return nullptr;
    return static_cast<uint8_t*>(
        VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

void FreePages(uint8_t* block, size_t) {
    VirtualFree(block, 0, MEM_RELEASE);
}

} // namespace tk::platform
