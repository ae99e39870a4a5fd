// The server's side of a printer's worker process: starts it, sends it one
// request at a time and waits for the reply. A worker that died or stopped
// answering is killed and started anew by the next request, and the request
// that met it fails as if the printer were offline.
#ifndef VDL_PRINTER_APP_WORKER_CLIENT_H
#define VDL_PRINTER_APP_WORKER_CLIENT_H

#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>

#include "protocol.h"

namespace vdlapp {

// What a request brought back.
struct Answer {
    int result = 0;            // 0, a library code, or kWorkerLost
    std::uint32_t status = 0;  // the printer's error bits
    std::string model;         // the model the printer reported on connect
    bool ok() const { return result == 0; }
};

// No answer from the worker: it died, or did not answer in time.
inline constexpr int kWorkerLost = -1000;

class Worker {
public:
    Worker() = default;
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Waits at most timeoutSeconds for the reply.
    Answer call(Request type, const void *payload, std::size_t length, int timeoutSeconds);
    // The text of a result, for logs and messages.
    static std::string describe(int result);

private:
    bool start();
    void stop();
    bool exchange(Request type, const void *payload, std::size_t length, int timeoutSeconds, Answer &answer);

    std::mutex mutex_;  // one request at a time: the job's and the status poll's
    pid_t pid_ = -1;
    int fd_ = -1;
};

// The worker of one device URI, started on first use; it lives as long as the server.
Worker &workerFor(const std::string &deviceUri);

}  // namespace vdlapp

#endif
