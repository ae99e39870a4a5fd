#include "server_lifecycle.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <vector>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <unistd.h>

#include "job_order.h"
#include "local_socket.h"
#include "request_gate.h"
#include "state_file.h"
#include "worker_client.h"

namespace vdlapp {
namespace {

std::atomic<bool> stopping{false};
std::mutex saveMutex;  // one writer of the state file at a time; none once stopping
bool saveOwed = false;  // the last save failed: under saveMutex
time_t lastSaveTry = 0;
int idleSeconds = 0;  // 0: the server runs until stopped

// PAPPL writes a job's state as state="N"; 5 is processing, 3 pending, 4
// held, 8 aborted.
constexpr const char *kProcessing = " state=\"5\"";
constexpr const char *kPending = " state=\"3\"";
constexpr const char *kHeld = " state=\"4\"";
constexpr const char *kAborted = " state=\"8\"";
constexpr useconds_t kAnswerGraceMicroseconds = 300000;
// How long shutdown looks for a server that ended without answering: a stop
// takes well under a second.
constexpr int kGoneChecks = 50;
constexpr useconds_t kGoneCheckPauseMicroseconds = 100000;
// How often a failed save is tried again: a full disk is seldom freed at once.
constexpr time_t kSaveRetrySeconds = 5;

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

// A stop signal received, waiting at most the given time for one.
bool stopSignalled(long milliseconds) {
    const sigset_t signals = stopSignals();
    const timespec wait{milliseconds / 1000, (milliseconds % 1000) * 1000000};
    return ::sigtimedwait(&signals, nullptr, &wait) > 0;
}

int printerCount(pappl_system_t *system) {
    int count = 0;
    papplSystemIteratePrinters(system, [](pappl_printer_t *, void *n) { ++*static_cast<int *>(n); }, &count);
    return count;
}

int printersIn(const std::string &state) {
    int count = 0;
    for (std::size_t at = state.find("\n<Printer "); at != std::string::npos; at = state.find("\n<Printer ", at + 1))
        ++count;
    return count;
}

// The number in a state line's NAME="N" (0 when there is none). Values are
// quoted with their quotes escaped, so the field cannot appear inside another one.
int numberIn(const std::string &line, const char *name) {
    const std::string field = std::string(" ") + name + "=\"";
    const std::size_t at = line.find(field);
    return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + field.size());
}

// A job whose document was still coming from the raw socket is saved
// aborted: its connection ends with this process, and the part that came
// would print after the next start as if it were all of it.
std::string withJobsCutShortAborted(const std::string &stateText, const std::set<std::pair<int, int>> &cutShort) {
    if (cutShort.empty()) return stateText;
    std::istringstream in(stateText);
    std::string out, line;
    int printerId = 0;  // a printer's jobs are lines of its block
    while (std::getline(in, line)) {
        if (line.compare(0, 9, "<Printer ") == 0) printerId = numberIn(line, "id");
        const std::size_t at = line.rfind(kHeld);
        const bool cut = line.compare(0, 4, "Job ") == 0 && cutShort.count({printerId, numberIn(line, "id")});
        if (cut && at != std::string::npos) line.replace(at, std::string(kHeld).size(), kAborted);
        out += line + "\n";
    }
    return out;
}

// The state written whole, or the last good file left as it is: PAPPL's save
// reports success though its writes failed, and would replace it with an
// empty file on a full disk. A failure is said, and tried again later.
bool saveTo(pappl_system_t *system, const std::string &path) {
    lastSaveTry = std::time(nullptr);
    const std::optional<std::string> text = stateText(system);
    const std::string state =
        text ? withJobsCutShortAborted(withoutControlsInValues(*text), documentsStillComing(system)) : std::string();
    const char *failure = !text ? "PAPPL could not write it"
                          : !readsAsState(state) || printersIn(state) != printerCount(system)
                              ? "PAPPL wrote it incomplete"
                              : nullptr;
    if (!failure && replaceFile(path, state)) {
        if (std::exchange(saveOwed, false))
            papplLog(system, PAPPL_LOGLEVEL_INFO, "State saved to '%s' again.", path.c_str());
        return true;
    }
    papplLog(system, PAPPL_LOGLEVEL_ERROR,
             "Cannot save the state to '%s' (%s); the last saved state is kept and the save is tried again in %d "
             "seconds.", path.c_str(), failure ? failure : std::strerror(errno), int(kSaveRetrySeconds));
    saveOwed = true;
    return false;
}

void retryOwedSave(pappl_system_t *system, const std::string &path) {
    const std::lock_guard<std::mutex> lock(saveMutex);
    if (saveOwed && !stopping && std::time(nullptr) - lastSaveTry >= kSaveRetrySeconds) saveTo(system, path);
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

enum class StopCause { signal, request, idle };

int activeJobs(pappl_system_t *system) {
    int count = 0;
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t *printer, void *n) { *static_cast<int *>(n) += papplPrinterGetNumberOfActiveJobs(printer); },
        &count);
    return count;
}

// Waits for a stop signal, a Shutdown-All-Printers request or, with an idle
// time, that long without a job or a request; trying again meanwhile a save
// that failed.
StopCause waitForStop(pappl_system_t *system, const std::string &statePath) {
    std::time_t busy = std::time(nullptr);
    for (;;) {
        if (stopSignalled(250)) return StopCause::signal;
        if (papplSystemIsShutdown(system)) return StopCause::request;
        retryOwedSave(system, statePath);
        if (!idleSeconds) continue;
        const std::time_t now = std::time(nullptr);
        if (activeJobs(system) > 0) busy = now;
        if (now - std::max(busy, lastRequestTime()) >= idleSeconds) return StopCause::idle;
    }
}

// The state as it is, then the workers (and their printer connections), then
// the process: no job gets to end, so none is saved as ended.
//
// PAPPL ends its own loop on a Shutdown-All-Printers request once no job is
// active, and then deletes the system: a save running then would write a
// state with its printers half gone. So the stop first holds the save lock
// and marks a change. If the system still runs, its main thread must pass the
// save callback, and so wait on that lock, before it deletes anything. If it
// no longer runs, PAPPL saves and ends the process itself.
void stopNow(pappl_system_t *system, const std::string &statePath, StopCause cause) {
    const std::lock_guard<std::mutex> lock(saveMutex);
    markConfigurationChanged(system);
    if (!papplSystemIsRunning(system)) return;
    // PAPPL writes the answer to Shutdown-All-Printers after the request's
    // handler returns; the requester should get it before the process ends.
    if (cause == StopCause::request) ::usleep(kAnswerGraceMicroseconds);
    stopping = true;
    saveTo(system, statePath);
    if (cause == StopCause::idle)
        papplLog(system, PAPPL_LOGLEVEL_INFO, "Stopped: no job and no request for %d s.", idleSeconds);
    else
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

// A connection to the server at the domain socket; null when none listens.
http_t *connectToServer(const std::string &socketPath) {
    return httpConnect2(socketPath.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
}

bool serverGone(const std::string &socketPath) {
    for (int check = 0; check < kGoneChecks; ++check) {
        http_t *http = connectToServer(socketPath);
        if (!http) return true;
        httpClose(http);
        ::usleep(kGoneCheckPauseMicroseconds);
    }
    return false;
}

// A state file that does not read as one is kept aside for its owner, never
// emptied by the next save; the server starts without it.
void keepAside(pappl_system_t *system, const std::string &path) {
    const std::string aside = path + ".unreadable-" + std::to_string(std::time(nullptr));
    const bool kept = std::rename(path.c_str(), aside.c_str()) == 0;
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "The state file '%s' is not a whole state file: %s; starting without it.",
             path.c_str(), kept ? ("kept as '" + aside + "'").c_str() : std::strerror(errno));
}

// PAPPL counts a printer's printer-up-time in whole seconds from its
// creation, and a client that sees 0 takes the printer for one not up. The
// server starts serving (its listeners queue meanwhile) once the printers it
// restored are a second old.
void awaitUpTime(pappl_system_t *system) {
    const time_t created = std::time(nullptr);
    while (printerCount(system) > 0 && std::time(nullptr) <= created) ::usleep(20000);
}

// The state as PAPPL is to read it: repaired, interrupted jobs made pending,
// and the file rewritten (atomically) if that changed it. None when there is
// no state file, or none that reads as one.
std::optional<std::string> preparedState(pappl_system_t *system, const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        struct stat there {};
        if (::stat(path.c_str(), &there) == 0) keepAside(system, path);  // there, but not readable
        return std::nullopt;
    }
    std::stringstream content;
    content << in.rdbuf();
    const std::string original = content.str();
    std::string text = withoutControlsInValues(original);
    if (!readsAsState(text)) {
        keepAside(system, path);
        return std::nullopt;
    }
    if (const int requeued = requeueInterruptedJobs(text))
        papplLog(system, PAPPL_LOGLEVEL_WARN, "%d job(s) stopped while printing: printed again from the start.",
                 requeued);
    if (text != original && !replaceFile(path, text))
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot rewrite the state file '%s': %s.", path.c_str(),
                 std::strerror(errno));
    return text;
}

}  // namespace

// PAPPL's main thread calls the save callback whenever the configuration
// changed since its last save: in its loop, and once more after the loop,
// before it deletes the printers. Setting the contact to itself marks such a
// change; changes only count while the system runs.
void markConfigurationChanged(pappl_system_t *system) {
    pappl_contact_t contact{};
    papplSystemGetContact(system, &contact);
    papplSystemSetContact(system, &contact);
}

// PAPPL reads the prepared state from memory, so that it loads the same state
// whether or not the rewritten file could be written.
void loadState(pappl_system_t *system, const std::string &path, const std::string &spoolDirectory) {
    const std::optional<std::string> state = preparedState(system, path);
    if (!state) return;
    dropRestoredJobDescriptions(spoolDirectory);
    if (!loadStateText(system, *state))
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot load the state of '%s'.", path.c_str());
    correctRestoredJobUris(system);
    markRestoredDocumentsIn(system);
    awaitUpTime(system);
}

bool saveState(pappl_system_t *system, void *path) {
    const std::lock_guard<std::mutex> lock(saveMutex);
    return stopping || saveTo(system, static_cast<const char *>(path));
}

void blockStopSignals() {
    const sigset_t signals = stopSignals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// A stop signal that came while PAPPL was still starting stays pending, and
// is taken first.
void watchLifecycle(pappl_system_t *system, const std::string &statePath, int idleTimeout) {
    idleSeconds = idleTimeout;
    std::thread([system, statePath] {
        while (!papplSystemIsRunning(system)) ::usleep(20000);
        if (stopSignalled(0)) stopNow(system, statePath, StopCause::signal);
        resumeQueues(system);
        stopNow(system, statePath, waitForStop(system, statePath));
    }).detach();
}

int shutdownSubcommand(const char *baseName, int, cups_option_t *, int fileCount, char **, void *) {
    if (fileCount > 0) {
        std::fprintf(stderr, "%s: Sub-command 'shutdown' does not accept files.\n", baseName);
        return 1;
    }
    const std::string socketPath = chosenSocketPath(baseName);
    http_t *http = connectToServer(socketPath);
    if (!http) {
        std::fprintf(stderr, "%s: Server is not running.\n", baseName);
        return 1;
    }
    ipp_t *request = ippNewRequest(IPP_OP_SHUTDOWN_ALL_PRINTERS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, "ipp://localhost/ipp/system");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t *response = cupsDoRequest(http, request, "/ipp/system");
    const bool answered = response != nullptr;
    const bool accepted = cupsLastError() == IPP_STATUS_OK;
    ippDelete(response);
    httpClose(http);
    if (answered ? accepted : serverGone(socketPath)) return 0;
    std::fprintf(stderr, "%s: Unable to shutdown server: %s\n", baseName, cupsLastErrorString());
    return 1;
}

}  // namespace vdlapp
