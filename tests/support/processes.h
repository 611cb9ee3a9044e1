// Processes and limits for tests on POSIX: a program run to its end with a time limit, and the
// file-size limit lowered for a while (writes past it fail with EFBIG instead of a signal).
#pragma once

#include <sys/resource.h>

#include <string>
#include <vector>

namespace pmtest {

struct ProgramRun {
    bool finished = false; // false: the time ran out and the program was killed
    int exitCode = -1;
    std::string out, err;
};

// Runs argv[0] (a path) with the arguments, each passed whole, in `folder` (the current one when
// empty), and waits at most `seconds`.
ProgramRun RunProgram(const std::vector<std::string>& argv, int seconds = 20,
                      const std::string& folder = "");

// A program built beside the running test: "../tools/pixmole-batch" from build/tests/.
std::string BesideTests(const std::string& relative);

// A Debian package (at `version`, or the one apt offers) fetched and unpacked once into the
// folder "debian-files/<package>" under the current one, where it stays; false when it cannot be
// had (no network, or no such version).
bool UnpackDebianPackage(const std::string& package, const std::string& version = "");

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*savedHandler_)(int) = nullptr;
};

} // namespace pmtest
