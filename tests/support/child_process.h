// Running other programs from a test: the emulator under test, and the
// barcode readers that check its previews. Every wait is bounded.
#ifndef VDL_TEST_CHILD_PROCESS_H
#define VDL_TEST_CHILD_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace vdltest {

// True when `name` is an executable file in one of the PATH directories.
bool onPath(const std::string &name);

struct ProgramResult {
    int exitCode = -1;   // -1: not started, killed, or not finished in time
    std::string output;  // standard output
};

// Runs a program (looked up on PATH) to its end, at most timeoutMs.
ProgramResult runProgram(const std::vector<std::string> &arguments, int timeoutMs = 20000);

// A program left running while the test talks to it; its standard error is
// read through a pipe. Stopped (SIGTERM, then SIGKILL) when destroyed.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string> &arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool started() const { return pid_ > 0; }
    // Reads standard error until it contains `text` or timeoutMs pass;
    // returns everything read so far.
    std::string waitForError(const std::string &text, int timeoutMs);
    // Stops it with SIGTERM and returns its exit code (-1 if it had to be killed).
    int stop(int timeoutMs = 5000);

private:
    pid_t pid_ = -1;
    int errorPipe_ = -1;
    std::string error_;
};

// A fresh directory under /tmp, removed with its files when destroyed.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory &) = delete;
    TempDirectory &operator=(const TempDirectory &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

std::string readFile(const std::string &path);

// Polls a file until it contains every one of `texts`, at most timeoutMs;
// returns its content then.
std::string waitForFileContaining(const std::string &path, const std::vector<std::string> &texts, int timeoutMs);

}  // namespace vdltest

#endif
