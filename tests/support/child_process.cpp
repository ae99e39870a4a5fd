#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace vdltest {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Spawns with one end of a pipe as the child's descriptor `target`; returns
// the parent's end (non-blocking) through readEnd, -1 when it failed.
pid_t spawnWithPipe(const std::vector<std::string> &arguments, int target, int &readEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], target);
    std::vector<char *> argv;
    for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    readEnd = pid > 0 ? fds[0] : (close(fds[0]), -1);
    return pid;
}

// Reads what the pipe has, waiting at most timeoutMs for the first byte;
// false at end of file.
bool readSome(int fd, std::string &into, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return true;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) into.append(buffer, std::size_t(n));
    return n != 0;
}

// Its exit code; -1 when it did not exit normally or had to be killed at the deadline.
int reap(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        if (remainingMs(deadline) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

bool onPath(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::stringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':'))
        if (!directory.empty() && access((directory + "/" + name).c_str(), X_OK) == 0) return true;
    return false;
}

ProgramResult runProgram(const std::vector<std::string> &arguments, int timeoutMs) {
    ProgramResult result;
    int out = -1;
    const pid_t pid = spawnWithPipe(arguments, STDOUT_FILENO, out);
    if (pid < 0) return result;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (remainingMs(deadline) > 0 && readSome(out, result.output, remainingMs(deadline))) {
    }
    close(out);
    result.exitCode = reap(pid, deadline);
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string> &arguments) {
    pid_ = spawnWithPipe(arguments, STDERR_FILENO, errorPipe_);
}

ChildProcess::~ChildProcess() {
    stop();
    if (errorPipe_ >= 0) close(errorPipe_);
}

std::string ChildProcess::waitForError(const std::string &text, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (error_.find(text) == std::string::npos && remainingMs(deadline) > 0)
        if (!readSome(errorPipe_, error_, remainingMs(deadline))) break;
    return error_;
}

int ChildProcess::stop(int timeoutMs) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    const int code = reap(pid_, Clock::now() + std::chrono::milliseconds(timeoutMs));
    pid_ = -1;
    return code;
}

TempDirectory::TempDirectory() {
    char pattern[] = "/tmp/vdl-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string waitForFileContaining(const std::string &path, const std::vector<std::string> &texts, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::string content = readFile(path);
        bool all = true;
        for (const std::string &text : texts) all = all && content.find(text) != std::string::npos;
        if (all || remainingMs(deadline) == 0) return content;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace vdltest
