#include "server_lifecycle.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <vector>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "job_order.h"
#include "worker_client.h"

namespace vdlapp {
namespace {

std::atomic<bool> stopping{false};
std::mutex saveMutex;  // one writer of the state file at a time; none once stopping
int stopPipe[2] = {-1, -1};

// PAPPL writes a job's state as state="N"; 5 is processing, 3 pending.
constexpr const char *kProcessing = " state=\"5\"";
constexpr const char *kPending = " state=\"3\"";

void onStopSignal(int) {
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);  // all a signal handler may do
}

bool saveTo(pappl_system_t *system, const std::string &path) {
    const std::string aside = path + ".new";
    return papplSystemSaveState(system, aside.c_str()) && std::rename(aside.c_str(), path.c_str()) == 0;
}

// PAPPL installs its own handlers as it starts running, which wait up to 60 s
// for the queued jobs: ours go back in place whenever they are not.
void takeStopSignals() {
    for (const int signal : {SIGTERM, SIGINT}) {
        struct sigaction now {};
        ::sigaction(signal, nullptr, &now);
        if (now.sa_handler == onStopSignal) continue;
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

void resumeQueues(pappl_system_t *system) {
    std::vector<int> ids;
    papplSystemIteratePrinters(
        system, [](pappl_printer_t *printer, void *data) {
            static_cast<std::vector<int> *>(data)->push_back(papplPrinterGetID(printer));
        }, &ids);
    for (const int id : ids)
        if (pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, id, nullptr)) resumeQueue(printer);
}

bool stopRequested(pappl_system_t *system) {
    pollfd signalled{stopPipe[0], POLLIN, 0};
    return ::poll(&signalled, 1, 250) == 1 || papplSystemIsShutdown(system);
}

// The state as it is, then the workers (and their printer connections), then
// the process: no job gets to end, so none is saved as ended.
[[noreturn]] void stopNow(pappl_system_t *system, const std::string &statePath) {
    {
        const std::lock_guard<std::mutex> lock(saveMutex);
        stopping = true;
        saveTo(system, statePath);
    }
    papplLog(system, PAPPL_LOGLEVEL_INFO, "Stopped; queued jobs print after the next start.");
    retireAllWorkers();
    ::_exit(0);
}

// Every job the state file holds as processing becomes pending; how many were.
int requeueInterruptedJobs(std::string &stateText) {
    std::istringstream in(stateText);
    std::string out, line;
    int requeued = 0;
    while (std::getline(in, line)) {
        // Values are quoted with their quotes escaped, so the field cannot
        // appear inside another one.
        const std::size_t at = line.rfind(kProcessing);
        if (line.compare(0, 4, "Job ") == 0 && at != std::string::npos) {
            line.replace(at, std::string(kProcessing).size(), kPending);
            ++requeued;
        }
        out += line + "\n";
    }
    stateText = out;
    return requeued;
}

}  // namespace

void loadState(pappl_system_t *system, const std::string &path) {
    std::ifstream in(path);
    if (in) {
        std::stringstream content;
        content << in.rdbuf();
        std::string text = content.str();
        if (const int requeued = requeueInterruptedJobs(text)) {
            papplLog(system, PAPPL_LOGLEVEL_WARN, "%d job(s) stopped while printing: printed again from the start.",
                     requeued);
            std::ofstream(path, std::ios::trunc) << text;
        }
    }
    papplSystemLoadState(system, path.c_str());
}

bool saveState(pappl_system_t *system, void *path) {
    const std::lock_guard<std::mutex> lock(saveMutex);
    return stopping || saveTo(system, static_cast<const char *>(path));
}

void watchLifecycle(pappl_system_t *system, const std::string &statePath) {
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    std::thread([system, statePath] {
        while (!papplSystemIsRunning(system)) ::usleep(20000);
        takeStopSignals();
        resumeQueues(system);
        while (!stopRequested(system)) takeStopSignals();
        stopNow(system, statePath);
    }).detach();
}

}  // namespace vdlapp
