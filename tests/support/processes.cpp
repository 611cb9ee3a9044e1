#include "tests/support/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "tests/support/test_files.h"

namespace pmtest {

ProgramRun RunProgram(const std::vector<std::string>& argv, int seconds,
                      const std::string& folder) {
    ProgramRun run;
    TempDir captured;
    const std::string outPath = captured / "out", errPath = captured / "err";
    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (child < 0) return run;
    int status = 0;
    pid_t ended = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    run.finished = ended == child;
    if (!run.finished) kill(child, SIGKILL), waitpid(child, &status, 0);
    if (run.finished)
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    return run;
}

std::string BesideTests(const std::string& relative) {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / relative)
        .lexically_normal()
        .string();
}

bool UnpackDebianPackage(const std::string& package, const std::string& version) {
    const std::string folder = "debian-files/" + package;
    if (ReadFile(folder + "/.done") == "ok") return true;
    const std::string wanted = version.empty() ? package : package + "=" + version;
    const ProgramRun run = RunProgram(
        {"/bin/sh", "-c",
         "mkdir -p " + folder + " && cd " + folder + " && apt-get download -qq " + wanted +
             " 2>/dev/null && dpkg-deb -x " + package + "_*.deb . && echo ok > .done"},
        300);
    return run.finished && run.exitCode == 0;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
}

FileSizeLimit::~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedHandler_);
}

} // namespace pmtest
