#include "worker_client.h"

#include <csignal>
#include <map>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "VdlLabelAPI.hpp"
#include "worker.h"

extern char **environ;

namespace vdlapp {

Worker::~Worker() { stop(); }

// The same executable in its hidden worker mode, with its end of a socket
// pair as descriptor 3. No shell, no other program.
bool Worker::start() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], kWorkerDescriptor);
    char program[] = "vdl-printer-app";
    char mode[64];
    snprintf(mode, sizeof mode, "%s", kWorkerArgument);
    char *argv[] = {program, mode, nullptr};
    const int failed = posix_spawn(&pid_, "/proc/self/exe", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (failed) {
        ::close(pair[0]);
        pid_ = -1;
        return false;
    }
    fd_ = pair[0];
    return true;
}

void Worker::stop() {
    if (fd_ >= 0) ::close(fd_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    fd_ = pid_ = -1;
}

bool Worker::exchange(Request type, const void *payload, std::size_t length, int timeoutSeconds, Answer &answer) {
    const RequestHeader request{std::uint32_t(type), std::uint32_t(length)};
    if (!sendAll(fd_, &request, sizeof request) || !sendAll(fd_, payload, length)) return false;
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, timeoutSeconds * 1000) != 1) return false;
    ReplyHeader reply;
    if (!receiveAll(fd_, &reply, sizeof reply) || reply.modelLength > 256) return false;
    answer.result = reply.result;
    answer.status = reply.status;
    answer.model.resize(reply.modelLength);
    return receiveAll(fd_, answer.model.data(), answer.model.size());
}

Answer Worker::call(Request type, const void *payload, std::size_t length, int timeoutSeconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    Answer answer;
    if ((fd_ < 0 && !start()) || !exchange(type, payload, length, timeoutSeconds, answer)) {
        stop();
        answer.result = kWorkerLost;
    }
    return answer;
}

std::string Worker::describe(int result) {
    return result == kWorkerLost ? "the printer's worker process did not answer" : vdl::describe(result);
}

Worker &workerFor(const std::string &deviceUri) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Worker>> workers;
    std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<Worker> &worker = workers[deviceUri];
    if (!worker) worker = std::make_unique<Worker>();
    return *worker;
}

}  // namespace vdlapp
