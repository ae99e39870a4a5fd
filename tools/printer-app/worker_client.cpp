#include "worker_client.h"

#include <algorithm>
#include <csignal>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "VdlLabelAPI.hpp"
#include "worker.h"

extern char **environ;

namespace vdlapp {
namespace {

constexpr int kSliceMs = 250;            // how often a waiting call looks at its cancel
constexpr int kRefreshTimeoutSeconds = 60;  // a Bluetooth connect retries for a while
// After a job the state is kept younger than the five seconds past which a
// job asks the printer before it sends anything: refreshed at four seconds
// (a query takes about 150 ms), for a minute. An idle printer after that is
// not queried at all.
constexpr auto kRefreshAfterJobAge = std::chrono::seconds(4);
constexpr auto kKeepFreshAfterJob = std::chrono::seconds(60);

std::atomic<bool> serverExiting{false};

// The calling thread waits for the process to exit.
void waitForExit() {
    for (;;) ::pause();
}

// The server's own executable by its name, so that ps and ss show the worker
// as vdl-printer-app and not as "exe".
std::string ownExecutable() {
    std::vector<char> path(4096);
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0 || ::access(std::string(path.data(), std::size_t(n)).c_str(), X_OK) != 0) return "/proc/self/exe";
    return std::string(path.data(), std::size_t(n));
}

}  // namespace

Worker::~Worker() { stop(); }

// The same executable in its hidden worker mode, with its end of a socket
// pair as descriptor 3. No shell, no other program.
bool Worker::start() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], kWorkerDescriptor);
    static const std::string program = ownExecutable();
    std::string argv0 = "vdl-printer-app", mode = kWorkerArgument, device = name_;
    char *argv[] = {argv0.data(), mode.data(), device.data(), nullptr};
    // The server blocks its stop signals (server_lifecycle.h); a worker takes them as any program does.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (failed) {
        ::close(pair[0]);
        return false;
    }
    const std::lock_guard<std::mutex> lock(stateMutex_);
    pid_ = pid;
    fd_ = pair[0];
    return true;
}

void Worker::stop() {
    const std::lock_guard<std::mutex> lock(stateMutex_);
    if (fd_ >= 0) ::close(fd_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    fd_ = pid_ = -1;
}

void Worker::kill() {
    const std::lock_guard<std::mutex> lock(stateMutex_);
    if (pid_ > 0) ::kill(pid_, SIGKILL);
}

bool Worker::exchange(Request type, const void *payload, std::size_t length, int timeoutSeconds,
                      const std::function<bool()> &cancelled, Answer &answer) {
    const RequestHeader request{std::uint32_t(type), std::uint32_t(length)};
    if (!sendAll(fd_, &request, sizeof request) || !sendAll(fd_, payload, length)) return false;
    pollfd ready{fd_, POLLIN, 0};
    for (int waited = 0;; waited += kSliceMs) {
        if (cancelled && cancelled()) {
            answer.result = kCancelled;
            return false;
        }
        if (waited >= timeoutSeconds * 1000) return false;
        const int n = ::poll(&ready, 1, kSliceMs);
        if (n == 1) break;
        if (n < 0 && errno != EINTR) return false;
    }
    ReplyHeader reply;
    if (!receiveAll(fd_, &reply, sizeof reply) || reply.modelLength > 256) return false;
    answer.result = reply.result;
    answer.status = reply.status;
    answer.model.resize(reply.modelLength);
    return receiveAll(fd_, answer.model.data(), answer.model.size());
}

Answer Worker::call(Request type, const void *payload, std::size_t length, int timeoutSeconds,
                    const std::function<bool()> &cancelled) {
    const std::lock_guard<std::mutex> lock(callMutex_);
    if (serverExiting) waitForExit();
    busy_ = true;
    Answer answer;
    bool retired = false;
    {
        const std::lock_guard<std::mutex> state(stateMutex_);
        retired = retired_;
    }
    if (retired || (fd_ < 0 && !start()) || !exchange(type, payload, length, timeoutSeconds, cancelled, answer)) {
        if (serverExiting) waitForExit();
        // A worker given up on may still be writing to the printer: it goes.
        stop();
        if (answer.result != kCancelled) answer.result = kWorkerLost;
    }
    // What the printer said of itself: the answer to a query, or a failure.
    // A write that went through says nothing of the printer's state, and a
    // cancel says nothing at all.
    const bool queried = type == Request::connect || type == Request::status || type == Request::confirm;
    if (answer.result != kCancelled && (queried || !answer.ok())) remember(answer);
    busy_ = false;
    return answer;
}

void Worker::remember(const Answer &answer) {
    const std::lock_guard<std::mutex> lock(stateMutex_);
    // An answer that failed keeps the model last reported: the printer is the same.
    const std::string model = answer.model.empty() ? last_.model : answer.model;
    last_ = answer;
    last_.model = model;
    known_ = true;
    lastAt_ = std::chrono::steady_clock::now();
    remembered_.notify_all();
}

Snapshot Worker::last() const {
    const std::lock_guard<std::mutex> lock(stateMutex_);
    return Snapshot{last_, known_, std::chrono::steady_clock::now() - lastAt_};
}

Snapshot Worker::lastWithin(std::chrono::steady_clock::duration maxAge,
                            std::chrono::steady_clock::duration wait) const {
    std::unique_lock<std::mutex> lock(stateMutex_);
    remembered_.wait_for(lock, wait, [&] { return known_ && std::chrono::steady_clock::now() - lastAt_ <= maxAge; });
    return Snapshot{last_, known_, std::chrono::steady_clock::now() - lastAt_};
}

void Worker::noteAsked() {
    const std::lock_guard<std::mutex> lock(stateMutex_);
    askedAt_ = std::chrono::steady_clock::now();
}

bool Worker::askedWithin(std::chrono::steady_clock::duration span) const {
    const std::lock_guard<std::mutex> lock(stateMutex_);
    return askedAt_.time_since_epoch().count() != 0 && std::chrono::steady_clock::now() - askedAt_ < span;
}

void Worker::refreshInBackground(const std::string &port) {
    if (busy_.exchange(true)) return;
    std::thread([self = shared_from_this(), port] {
        self->busy_ = false;  // call() sets it again for as long as it runs
        self->call(Request::connect, port.data(), port.size(), kRefreshTimeoutSeconds);
    }).detach();
}

void Worker::jobStarting() {
    const std::lock_guard<std::mutex> lock(stateMutex_);
    inJob_ = true;
}

void Worker::jobEnded(const std::string &port) {
    {
        const std::lock_guard<std::mutex> lock(stateMutex_);
        inJob_ = false;
        jobEndedAt_ = std::chrono::steady_clock::now();
        if (retired_ || std::exchange(keeping_, true)) return;
    }
    std::thread([self = shared_from_this(), port] { self->keepFreshAfterJob(port); }).detach();
}

// On a thread of its own until a minute after the last job, or the worker's
// retirement: each answer (the job's, a client's refresh, its own) sets the
// time of the next query.
void Worker::keepFreshAfterJob(const std::string &port) {
    std::unique_lock<std::mutex> lock(stateMutex_);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        const auto until = jobEndedAt_ + kKeepFreshAfterJob;
        if (retired_ || now >= until) break;
        const auto due = inJob_ ? now + kRefreshAfterJobAge : lastAt_ + kRefreshAfterJobAge;
        if (inJob_ || now < due) {
            remembered_.wait_until(lock, std::min(due, until));
            continue;
        }
        lock.unlock();
        call(Request::connect, port.data(), port.size(), kRefreshTimeoutSeconds);
        lock.lock();
    }
    keeping_ = false;
}

void Worker::retire() {
    {
        const std::lock_guard<std::mutex> lock(stateMutex_);
        retired_ = true;
    }
    kill();
    // With no request under way the process is reaped here; else the request
    // fails at once on the dead worker and reaps it.
    std::unique_lock<std::mutex> idle(callMutex_, std::try_to_lock);
    if (idle) stop();
}

std::string Worker::describe(int result) {
    if (result == kWorkerLost) return "the printer's worker process did not answer";
    if (result == kCancelled) return "the job was cancelled";
    if (result == kNoFreshAnswer) return "no answer to a status query within two seconds";
    return vdl::describe(result);
}

namespace {

std::mutex registryMutex;
using Registry = std::map<int, std::shared_ptr<Worker>>;
Registry &registry() {
    static auto *workers = new Registry;  // never destroyed: threads may outlive main
    return *workers;
}

}  // namespace

std::shared_ptr<Worker> workerFor(int printerId, const std::string &deviceUri) {
    const std::lock_guard<std::mutex> lock(registryMutex);
    std::shared_ptr<Worker> &worker = registry()[printerId];
    if (!worker) worker = std::make_shared<Worker>(deviceUri);
    return worker;
}

std::shared_ptr<Worker> workerServing(const std::function<bool(const std::string &deviceUri)> &serves) {
    const std::lock_guard<std::mutex> lock(registryMutex);
    for (const auto &entry : registry())
        if (serves(entry.second->deviceUri())) return entry.second;
    return nullptr;
}

void retireWorker(int printerId) {
    std::shared_ptr<Worker> worker;
    {
        const std::lock_guard<std::mutex> lock(registryMutex);
        const auto found = registry().find(printerId);
        if (found == registry().end()) return;
        worker = found->second;
        registry().erase(found);
    }
    worker->retire();
}

void retireAllWorkers() {
    serverExiting = true;
    Registry workers;
    {
        const std::lock_guard<std::mutex> lock(registryMutex);
        workers.swap(registry());
    }
    for (auto &entry : workers) entry.second->retire();
}

}  // namespace vdlapp
