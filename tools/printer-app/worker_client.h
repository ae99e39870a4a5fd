// The server's side of a printer's worker process: starts it, sends it one
// request at a time and waits for the reply. A worker that died or stopped
// answering is killed and started anew by the next request, and the request
// that met it fails as if the printer were offline.
//
// Every answer is also kept as the printer's last known state, so that what
// PAPPL asks while holding its locks (the printer's status, its device ID) is
// answered from memory at once, never by waiting on a printer.
#ifndef VDL_PRINTER_APP_WORKER_CLIENT_H
#define VDL_PRINTER_APP_WORKER_CLIENT_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>

#include "protocol.h"

namespace vdlapp {

// What a request brought back.
struct Answer {
    int result = 0;            // 0, a library code, kWorkerLost or kCancelled
    std::uint32_t status = 0;  // the printer's error bits
    std::string model;         // the model the printer reported on connect
    bool ok() const { return result == 0; }
};

// No answer from the worker: it died, or did not answer in time.
inline constexpr int kWorkerLost = -1000;
// The caller gave up waiting (its job was cancelled, the server is stopping).
inline constexpr int kCancelled = -1001;
// The printer did not answer a status query as soon as a client needed it.
inline constexpr int kNoFreshAnswer = -1002;

// The printer's last known state (its last answer to a status query, or the
// failure of a request since) and how old it is.
struct Snapshot {
    Answer answer;
    bool known = false;  // false until the printer has been asked once
    std::chrono::steady_clock::duration age{};
};

class Worker : public std::enable_shared_from_this<Worker> {
public:
    explicit Worker(std::string name) : name_(std::move(name)) {}
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Waits at most timeoutSeconds for the reply, and gives up at once when
    // cancelled() turns true (looked at four times a second); a worker given
    // up on is killed, so that nothing more of the request reaches the printer.
    Answer call(Request type, const void *payload, std::size_t length, int timeoutSeconds,
                const std::function<bool()> &cancelled = {});

    Snapshot last() const;
    // The last state once it is at most maxAge old, waiting at most wait for
    // an answer that makes it so (a refresh under way).
    Snapshot lastWithin(std::chrono::steady_clock::duration maxAge, std::chrono::steady_clock::duration wait) const;
    // Asks the printer for its state on a thread of its own, unless a request
    // is under way (its answer will be as new); the answer lands in last().
    void refreshInBackground(const std::string &port);
    // A client asked for the printer's state: while clients keep asking, the
    // state is kept fresh in the background.
    void noteAsked();
    bool askedWithin(std::chrono::steady_clock::duration span) const;
    // Kills the process and refuses every later request (a deleted printer,
    // a server that stops).
    void retire();
    // A job of the printer starts, or ends. For a minute after a job the
    // state is refreshed on port whenever it turns four seconds old, so that
    // a job that comes within that minute starts without a query of its own.
    void jobStarting();
    void jobEnded(const std::string &port);

    // The device URI it serves.
    const std::string &deviceUri() const { return name_; }

    // The text of a result, for logs and messages.
    static std::string describe(int result);

private:
    bool start();
    void stop();
    void kill();
    bool exchange(Request type, const void *payload, std::size_t length, int timeoutSeconds,
                  const std::function<bool()> &cancelled, Answer &answer);
    void remember(const Answer &answer);
    void keepFreshAfterJob(const std::string &port);

    const std::string name_;  // the device URI, shown in ps as the worker's argument
    std::mutex callMutex_;    // one request at a time: the job's and the status refresh's
    mutable std::mutex stateMutex_;  // the fields below, which retire() and last() reach without callMutex_
    mutable std::condition_variable remembered_;  // a new last state
    pid_t pid_ = -1;
    int fd_ = -1;
    bool retired_ = false;
    Answer last_;
    bool known_ = false;
    std::chrono::steady_clock::time_point lastAt_{};
    std::chrono::steady_clock::time_point askedAt_{};
    std::atomic<bool> busy_{false};
    bool inJob_ = false;    // a job's own answers keep the state fresh meanwhile
    bool keeping_ = false;  // keepFreshAfterJob runs
    std::chrono::steady_clock::time_point jobEndedAt_{};
};

// The worker of one printer (by PAPPL's printer ID, never given to another
// printer), started on first use; deviceUri names it in ps. Two printers on
// one device have a worker each, so that deleting one ends nothing of the other.
std::shared_ptr<Worker> workerFor(int printerId, const std::string &deviceUri);
// A printer's worker whose device URI serves passes, if there is one: a
// device that a worker drives is asked through that worker, never opened twice.
std::shared_ptr<Worker> workerServing(const std::function<bool(const std::string &deviceUri)> &serves);
// Ends the worker of a printer (it was deleted).
void retireWorker(int printerId);
// Ends every worker (the server stops). Every request under way or asked for
// from then on never returns: the server is about to exit, and a job must not
// end (and PAPPL remove its document) after its state was saved as printing.
void retireAllWorkers();

}  // namespace vdlapp

#endif
