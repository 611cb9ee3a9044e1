// Loading a file against the floor of reading it: LoadBinaryFile on the headless viewer against
// what `cat FILE > /dev/null` does with the same warm file (read() into one 128 KiB buffer until
// the end), and the peak memory of a load beyond the file's own size.
//
// The file is 1 GiB of non-zero pseudo-random bytes under /var/tmp, made once and reused while it
// has the right size. PIXMOLE_BENCH_LOAD_MIB chooses another size in MiB (the smoke run uses a
// small one); the figures keep their names.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_ratios.h"
#include "tests/support/viewer_session.h"
#include "toolkit/runtime.h"
#include "viewer/finder.h"
#include "viewer/finder_internal.h"
#include "viewer/loader.h"
#include "viewer/state.h"

namespace {

constexpr int64_t MiB = int64_t{1} << 20;
constexpr size_t CatBufferSize = 128 * 1024;

int64_t FileMiB() {
    const char* text = std::getenv("PIXMOLE_BENCH_LOAD_MIB");
    if (text == nullptr || *text == '\0') return 1024;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    // The loader holds files below 2 GiB.
    return (*end == '\0' && value > 0 && value < 2048) ? value : 1024;
}

std::string FilePath(int64_t mib) {
    return "/var/tmp/pixmole-bench-load-" + std::to_string(mib) + "mib.bin";
}

int64_t SizeOf(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : -1;
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t put = ::write(fd, data, length);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

// Writes the file under a temporary name and renames it into place, so that an interrupted run
// leaves no file of the right size with the wrong contents.
bool MakeFile(const std::string& path, int64_t size) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    std::vector<uint8_t> chunk(static_cast<size_t>(8 * MiB));
    uint64_t x = 0x9E3779B97F4A7C15u;
    bool ok = true;
    for (int64_t done = 0; ok && done < size; done += static_cast<int64_t>(chunk.size())) {
        for (size_t i = 0; i < chunk.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::memcpy(&chunk[i], &x, 8);
        }
        chunk[0] |= 1; // never a chunk of zeros only
        const auto length = static_cast<size_t>(std::min<int64_t>(size - done, MiB * 8));
        ok = WriteAll(fd, chunk.data(), length);
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

// cat's buffer: 128 KiB on a page boundary (a misaligned destination slows the kernel's copy).
struct CatBuffer {
    CatBuffer() : bytes(static_cast<uint8_t*>(std::aligned_alloc(4096, CatBufferSize))) {}
    ~CatBuffer() { std::free(bytes); }
    CatBuffer(const CatBuffer&) = delete;
    CatBuffer& operator=(const CatBuffer&) = delete;
    uint8_t* data() const { return bytes; }
    size_t size() const { return bytes != nullptr ? CatBufferSize : 0; }
    uint8_t* bytes;
};

// What cat does: read() into one small buffer until the end. Returns the bytes read, -1 on error.
int64_t CatFile(const std::string& path, const CatBuffer& buffer) {
    const int fd = buffer.size() != 0 ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return -1;
    int64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) total = -1;
        if (got <= 0) break;
        total += got;
    }
    ::close(fd);
    return total;
}

// The benchmark file, made and warmed on first use; the empty text when it cannot be made.
const std::string& WarmFile() {
    static const std::string path = [] {
        const int64_t size = FileMiB() * MiB;
        std::string file = FilePath(FileMiB());
        if (SizeOf(file) != size && !MakeFile(file, size)) return std::string();
        const CatBuffer buffer;
        return CatFile(file, buffer) == size ? file : std::string();
    }();
    return path;
}

int64_t ProcStatusKiB(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    int64_t value = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            value = std::strtoll(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

// The peak resident memory a load adds beyond the file's size, in MiB, measured in a child so
// that nothing else the benchmarks did counts: the child drops the loaded file, resets its
// high-water mark to what it holds now, loads the file once and reads the mark again. Nothing
// when it cannot be measured.
std::optional<double> LoadPeakOverSizeMiB(const std::string& path, int64_t size) {
    int channel[2];
    if (::pipe(channel) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        return std::nullopt;
    }
    if (child == 0) {
        ::close(channel[0]);
        tk::FreeBlock(viewer::state.fileBuffer);
        viewer::state.fileSize = 0;
        double result = std::nan("");
        const int clear = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
        if (clear >= 0 && ::write(clear, "5", 1) == 1) {
            const int64_t before = ProcStatusKiB("VmRSS");
            viewer::LoadBinaryFile(path);
            const int64_t peak = ProcStatusKiB("VmHWM");
            if (before >= 0 && peak >= 0 && viewer::state.fileSize == size)
                result = (static_cast<double>(peak - before) * 1024 - static_cast<double>(size)) /
                         static_cast<double>(MiB);
        }
        if (clear >= 0) ::close(clear);
        const ssize_t put = ::write(channel[1], &result, sizeof result);
        ::_exit(put == sizeof result ? 0 : 1);
    }
    ::close(channel[1]);
    double result = std::nan("");
    const bool got = ::read(channel[0], &result, sizeof result) == sizeof result;
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || std::isnan(result))
        return std::nullopt;
    return result;
}

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Loads the file into the viewer; true when the whole file is held.
bool Load(const std::string& path, int64_t size) {
    viewer::LoadBinaryFile(path);
    benchmark::DoNotOptimize(viewer::state.fileBuffer.get());
    return viewer::state.fileSize == size;
}

// Lets the loaded file go, as the next load does before it reads.
void Unload() {
    tk::FreeBlock(viewer::state.fileBuffer);
    viewer::state.fileSize = 0;
}

// The median of time(work) / time(cat of the file) over pairs measured back to back; nothing when
// a cat or the work fails.
template <typename Work>
std::optional<double> MedianPairRatio(const std::string& path, int64_t size,
                                      const CatBuffer& buffer, int pairs, Work work) {
    std::vector<double> ratios;
    for (int i = 0; i < pairs; ++i) {
        const double start = Seconds();
        if (CatFile(path, buffer) != size) return std::nullopt;
        const double middle = Seconds();
        const bool done = work();
        const double end = Seconds();
        if (!done) return std::nullopt;
        if (middle > start) ratios.push_back((end - middle) / (middle - start));
    }
    if (ratios.empty()) return std::nullopt;
    const auto median = ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2);
    std::nth_element(ratios.begin(), median, ratios.end());
    return *median;
}

// Both benchmarks do the same work in every iteration, a cat and then a load, and time only their
// own half: the two sides see the same machine (other programs, the page cache, memory just freed
// by the previous load) even when it changes during the run. Google Benchmark's means give
// load-1gib-vs-cat-mean; load-1gib-vs-cat is the median ratio of 15 back-to-back pairs measured
// once before, which a few loads slowed by something else on the machine do not move.
void RunCatThenLoad(benchmark::State& state, bool timeLoad) {
    const std::string& path = WarmFile();
    if (path.empty()) {
        state.SkipWithError("cannot make the benchmark file under /var/tmp");
        return;
    }
    const int64_t size = FileMiB() * MiB;
    const tk::Text directory = tk::CurrentDirectory(); // a load makes the file's folder current
    {
        pmtest::ViewerSession session;
        if (!session.ok()) {
            state.SkipWithError("cannot build the viewer on the headless backend");
            return;
        }
        const CatBuffer buffer;
        for (auto _ : state) {
            if (timeLoad) state.PauseTiming();
            const int64_t read = CatFile(path, buffer);
            benchmark::DoNotOptimize(buffer.data());
            if (timeLoad) state.ResumeTiming();
            if (!timeLoad) state.PauseTiming();
            const bool whole = Load(path, size);
            // The block goes back outside the timing: cat keeps nothing either.
            if (timeLoad) state.PauseTiming();
            Unload();
            state.ResumeTiming();
            if (read != size || !whole) {
                state.SkipWithError(read != size ? "reading the benchmark file failed"
                                                 : "the load did not hold the whole file");
                break;
            }
        }
        state.SetBytesProcessed(state.iterations() * size);

        static bool reported = false;
        if (timeLoad && !reported && !state.error_occurred()) {
            reported = true;
            const auto loadOnce = [&] {
                const bool whole = Load(path, size);
                Unload();
                return whole;
            };
            if (const auto ratio = MedianPairRatio(path, size, buffer, 15, loadOnce))
                bench::ReportFigure("load-1gib-vs-cat", *ratio);
            if (const auto peak = LoadPeakOverSizeMiB(path, size))
                bench::ReportFigure("load-1gib-peak-over-size-mib", *peak);
        }
    }
    tk::ChangeDirectory(directory);
}

void BM_CatFile(benchmark::State& state) {
    RunCatThenLoad(state, false);
}

void BM_LoadFile(benchmark::State& state) {
    RunCatThenLoad(state, true);
}

// The first `size` bytes of the file into `bytes`; false when it holds fewer.
bool ReadWhole(const std::string& path, int64_t size, std::vector<uint8_t>& bytes) {
    bytes.resize(static_cast<size_t>(size));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int64_t got = 0;
    while (fd >= 0 && got < size) {
        const ssize_t n = ::read(fd, bytes.data() + got, static_cast<size_t>(size - got));
        if (n <= 0) break;
        got += n;
    }
    if (fd >= 0) ::close(fd);
    return got == size;
}

// The finder over the bytes in memory against cat of the file: find-1gib-vs-cat (pseudo-random,
// like compressed data: what most of a large file is).
void BM_FindFile(benchmark::State& state) {
    const std::string& path = WarmFile();
    if (path.empty()) {
        state.SkipWithError("cannot make the benchmark file under /var/tmp");
        return;
    }
    const int64_t size = FileMiB() * MiB;
    std::vector<uint8_t> bytes;
    if (!ReadWhole(path, size, bytes)) {
        state.SkipWithError("reading the benchmark file failed");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(viewer::FindGraphics(bytes.data(), size));
    state.SetBytesProcessed(state.iterations() * size);

    static bool reported = false;
    if (reported || state.error_occurred()) return;
    reported = true;
    const CatBuffer buffer;
    const auto findOnce = [&] {
        benchmark::DoNotOptimize(viewer::FindGraphics(bytes.data(), size));
        return true;
    };
    if (const auto ratio = MedianPairRatio(path, size, buffer, 5, findOnce))
        bench::ReportFigure("find-1gib-vs-cat", *ratio);
}

// ---- The finder over real programs
// ---------------------------------------------------------------
//
// Executables and shared libraries of this machine, each file once (the first of those with the
// same size and first bytes), joined into one file under /var/tmp of at least
// PIXMOLE_BENCH_PROGRAMS_MIB MiB (256 unless set), made once and reused while the programs found
// are the same. find-programs-vs-cat is the finder over those bytes in memory against cat of the
// file from the page cache.

int64_t ProgramsMiB() {
    const char* text = std::getenv("PIXMOLE_BENCH_PROGRAMS_MIB");
    if (text == nullptr || *text == '\0') return 256;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    return (*end == '\0' && value > 0 && value < 2048) ? value : 256;
}

bool IsElf(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char magic[4] = {};
    const bool elf = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic, "\177ELF", 4) == 0;
    std::fclose(f);
    return elf;
}

// The programs' file: their bytes joined, or the empty text when too few can be found.
std::string ProgramsFile(int64_t wanted) {
    std::vector<std::string> paths;
    for (const char* folder :
         {"/usr/bin", "/usr/sbin", "/usr/lib/x86_64-linux-gnu", "/usr/libexec",
          "/usr/lib/gcc/x86_64-linux-gnu/12", "/usr/lib/llvm-14/lib", "/usr/lib/llvm-14/bin"}) {
        const std::string command =
            std::string("find ") + folder + " -maxdepth 2 -type f -size +16k 2>/dev/null | sort";
        if (FILE* list = ::popen(command.c_str(), "r")) {
            char line[4096];
            while (std::fgets(line, sizeof line, list) != nullptr) {
                std::string path(line);
                while (!path.empty() && path.back() == '\n') path.pop_back();
                paths.push_back(path);
            }
            ::pclose(list);
        }
    }
    std::vector<std::pair<int64_t, std::string>> seen; // size and first bytes of files taken
    std::vector<std::string> taken;
    int64_t total = 0;
    for (const std::string& path : paths) {
        if (total >= wanted) break;
        const int64_t size = SizeOf(path);
        if (size <= 0 || !IsElf(path)) continue;
        std::string head(256, '\0');
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            head.resize(std::fread(head.data(), 1, head.size(), f));
            std::fclose(f);
        }
        const std::pair<int64_t, std::string> key{size, head};
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
        seen.push_back(key);
        taken.push_back(path);
        total += size;
    }
    if (total < wanted) return {};
    const std::string file = "/var/tmp/pixmole-bench-programs-" + std::to_string(total) + ".bin";
    if (SizeOf(file) == total) return file;
    std::string temporary = file + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return {};
    bool ok = true;
    std::vector<uint8_t> chunk(static_cast<size_t>(MiB));
    for (const std::string& path : taken) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) {
            ok = false;
            break;
        }
        size_t n;
        while (ok && (n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0)
            ok = WriteAll(fd, chunk.data(), n);
        std::fclose(f);
    }
    ok = ::close(fd) == 0 && ok && SizeOf(temporary) == total;
    if (ok) ok = ::rename(temporary.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok ? file : std::string();
}

void BM_FindPrograms(benchmark::State& state) {
    static const std::string path = ProgramsFile(ProgramsMiB() * MiB);
    if (path.empty()) {
        state.SkipWithError("too few programs on this machine, or /var/tmp cannot hold them");
        return;
    }
    const int64_t size = SizeOf(path);
    std::vector<uint8_t> bytes;
    const CatBuffer buffer;
    if (!ReadWhole(path, size, bytes) || CatFile(path, buffer) != size) {
        state.SkipWithError("reading the programs' file failed");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(viewer::FindGraphics(bytes.data(), size));
    state.SetBytesProcessed(state.iterations() * size);
    static bool reported = false;
    if (reported || state.error_occurred()) return;
    reported = true;
    const auto findOnce = [&] {
        benchmark::DoNotOptimize(viewer::FindGraphics(bytes.data(), size));
        return true;
    };
    if (const auto ratio = MedianPairRatio(path, size, buffer, 5, findOnce))
        bench::ReportFigure("find-programs-vs-cat", *ratio);
    // What telling the layout of the regions found costs: the finder against itself without it,
    // in pairs back to back, the median ratio.
    std::vector<double> ratios;
    for (int i = 0; i < 3; ++i) {
        const double start = Seconds();
        benchmark::DoNotOptimize(
            viewer::finder::FindRegions(bytes.data(), size, {}, viewer::finder::Telling::RowsOnly));
        const double middle = Seconds();
        benchmark::DoNotOptimize(
            viewer::finder::FindRegions(bytes.data(), size, {}, viewer::finder::Telling::Layout));
        ratios.push_back((Seconds() - middle) / std::max(middle - start, 1e-9));
    }
    std::sort(ratios.begin(), ratios.end());
    bench::ReportFigure("find-programs-layouts-vs-rows", ratios[1]);
}

// A 1 GiB cat takes about a tenth of a second: given two seconds each, both sides get a dozen
// iterations or more. Small files (the smoke run) keep the time asked for on the command line. A
// time of its own shows in a benchmark's reported name, which the ratio has to use.
const bool registered = [] {
    const bool large = FileMiB() >= 256;
    const std::string suffix = large ? "/min_time:2.000" : "";
    static const bench::Ratio loadVsCat("load-1gib-vs-cat-mean", "BM_LoadFile" + suffix,
                                        "BM_CatFile" + suffix);
    for (auto* b : {benchmark::RegisterBenchmark("BM_CatFile", BM_CatFile),
                    benchmark::RegisterBenchmark("BM_LoadFile", BM_LoadFile),
                    benchmark::RegisterBenchmark("BM_FindFile", BM_FindFile),
                    benchmark::RegisterBenchmark("BM_FindPrograms", BM_FindPrograms)}) {
        b->Unit(benchmark::kMillisecond);
        if (large) b->MinTime(2.0);
    }
    return true;
}();

} // namespace
