#include "job_order.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace vdlapp {
namespace {

std::atomic<int> documentTimeout{kMaxDocumentTimeout};

// The printers whose queue has a job starting or printing (by ID): a job
// created meanwhile waits in line from its creation on.
struct BusyQueues {
    std::mutex mutex;
    std::set<int> printers;
};
BusyQueues &busyQueues() {
    static BusyQueues queues;
    return queues;
}

void setBusy(pappl_printer_t *printer, bool busy) {
    BusyQueues &q = busyQueues();
    const std::lock_guard<std::mutex> lock(q.mutex);
    if (busy)
        q.printers.insert(papplPrinterGetID(printer));
    else
        q.printers.erase(papplPrinterGetID(printer));
}

bool isBusy(pappl_printer_t *printer) {
    BusyQueues &q = busyQueues();
    const std::lock_guard<std::mutex> lock(q.mutex);
    return q.printers.count(papplPrinterGetID(printer)) > 0;
}

// A job waiting in line is held with job-hold-until-specified, which keeps
// PAPPL from starting it when its document comes and from releasing it with
// an administrator's Release-Held-New-Jobs (which would start every waiting
// job at once, the newest first). job-queued tells clients why it waits.
// PAPPL saves a job's reasons, so the line survives a restart.
constexpr pappl_jreason_t kInLine =
    pappl_jreason_t(PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED | PAPPL_JREASON_JOB_QUEUED);

// A client's hold (job-hold-until at creation, Hold-Job since) leaves its
// value on the job; a hold in line leaves none.
bool clientHoldsIt(pappl_job_t *job) {
    if (papplJobGetAttribute(job, "job-hold-until-time")) return true;
    const char *until = ippGetString(papplJobGetAttribute(job, "job-hold-until"), 0, nullptr);
    return until && std::strcmp(until, "no-hold") != 0;
}

struct QueuedJob {
    int id;
    ipp_jstate_t state;
    bool heldByClient;
    bool inLine;
    // A job made by Create-Job waits in line for its document: until it
    // comes there is nothing to print, and releasing the job would start it empty.
    bool hasDocument;
    std::time_t created;
};

// The printer's active jobs, oldest first. Collected under PAPPL's lock and
// acted on after it, since holding and releasing take that lock themselves.
std::vector<QueuedJob> activeJobs(pappl_printer_t *printer) {
    std::vector<QueuedJob> jobs;
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t *job, void *data) {
            const ipp_jstate_t state = papplJobGetState(job);
            const bool held = state == IPP_JSTATE_HELD;
            static_cast<std::vector<QueuedJob> *>(data)->push_back(
                {papplJobGetID(job), state, held && clientHoldsIt(job),
                 held && (papplJobGetReasons(job) & kInLine) == kInLine, papplJobGetFilename(job) != nullptr,
                 papplJobGetTimeCreated(job)});
        },
        &jobs, 1, 0);
    std::sort(jobs.begin(), jobs.end(), [](const QueuedJob &a, const QueuedJob &b) { return a.id < b.id; });
    return jobs;
}

// Held for its turn (PAPPL's hold takes away job-hold-until-specified, which
// is put back at once).
void holdInLine(pappl_printer_t *printer, int jobId) {
    pappl_job_t *job = papplPrinterFindJob(printer, jobId);
    if (job && papplJobHold(job, nullptr, nullptr, 0)) papplJobSetReasons(job, kInLine, PAPPL_JREASON_NONE);
}

void releaseFromLine(pappl_printer_t *printer, int jobId) {
    pappl_job_t *job = papplPrinterFindJob(printer, jobId);
    if (!job) return;
    papplJobSetReasons(job, PAPPL_JREASON_NONE, pappl_jreason_t(kInLine | PAPPL_JREASON_JOB_DATA_INSUFFICIENT));
    papplJobRelease(job, nullptr);
}

// Pending jobs (released by a client, or restored by a restart) and held
// ones nobody put in line (made while an administrator held new jobs, or by
// an older server) go in line.
void putInLine(pappl_printer_t *printer, const std::vector<QueuedJob> &jobs, int except) {
    for (const QueuedJob &j : jobs) {
        const bool unlined = j.state == IPP_JSTATE_HELD && !j.heldByClient && !j.inLine;
        if ((j.state == IPP_JSTATE_PENDING || unlined) && j.id != except) holdInLine(printer, j.id);
    }
}

// Waiting its turn in line (held by the queue, not by its client).
bool waiting(const QueuedJob &j, int except) { return j.inLine && !j.heldByClient && j.id != except; }

// A job whose document has not come within the timeout is cancelled: its
// client is gone, or failed to send it.
void expireAwaitingDocuments(pappl_printer_t *printer, const std::vector<QueuedJob> &jobs) {
    const std::time_t now = std::time(nullptr);
    const int timeout = documentTimeout;
    for (const QueuedJob &j : jobs) {
        // Whole seconds on both sides: more than the timeout is sure to have passed.
        if (j.state != IPP_JSTATE_HELD || j.hasDocument || now - j.created <= timeout) continue;
        pappl_job_t *job = papplPrinterFindJob(printer, j.id);
        if (!job) continue;
        papplJobCancel(job);
        papplJobSetMessage(job, "Canceled: its document did not come within %d s.", timeout);
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Canceled: its document did not come within %d s.", timeout);
    }
}

// The oldest waiting job that has its document; 0 when there is none.
int oldestReady(const std::vector<QueuedJob> &jobs, int except) {
    for (const QueuedJob &j : jobs)
        if (waiting(j, except) && j.hasDocument) return j.id;
    return 0;
}

// The next step of a queue with no job printing but except (the one ending,
// or 0): the oldest job with its document starts, unless an administrator
// holds new jobs. Otherwise the queue is idle: jobs still waiting for their
// documents say so, and checkQueue lets them through once their documents are in.
void startNext(pappl_printer_t *printer, int except) {
    const std::vector<QueuedJob> jobs = activeJobs(printer);
    if (!papplPrinterIsHoldingNewJobs(printer))
        if (const int next = oldestReady(jobs, except)) return releaseFromLine(printer, next);
    for (const QueuedJob &j : jobs)
        if (waiting(j, except) && !j.hasDocument)
            if (pappl_job_t *job = papplPrinterFindJob(printer, j.id))
                papplJobSetReasons(job, PAPPL_JREASON_JOB_DATA_INSUFFICIENT, PAPPL_JREASON_NONE);
    setBusy(printer, false);
}

bool printing(const std::vector<QueuedJob> &jobs) {
    return std::any_of(jobs.begin(), jobs.end(), [](const QueuedJob &j) {
        return j.state == IPP_JSTATE_PENDING || j.state == IPP_JSTATE_PROCESSING;
    });
}

// PAPPL announces a job before it reads the job's document, holding the
// job's and the printer's locks: a job made while the printer is busy, or
// while an administrator holds new jobs, is put in line by a thread of its
// own as soon as PAPPL lets go of them (a job whose document came meanwhile
// is pending, and waits behind the job printing until then). A job made on
// an idle printer starts as soon as its document is in (a PWG or Apple
// raster stream straight from its client).
void lineUpNewJob(pappl_system_t *system, pappl_printer_t *printer, pappl_job_t *job, pappl_event_t event, void *) {
    // Jobs restored at start-up are announced too, while PAPPL still fills
    // them in from the state file: resumeQueue puts those in line.
    if (event != PAPPL_EVENT_JOB_CREATED || !printer || !job || !papplSystemIsRunning(system)) return;
    if (!isBusy(printer) && !papplPrinterIsHoldingNewJobs(printer)) return;
    if (papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) return;  // its client holds it
    std::thread([system, printerId = papplPrinterGetID(printer), jobId = papplJobGetID(job)] {
        if (pappl_printer_t *p = papplSystemFindPrinter(system, nullptr, printerId, nullptr)) holdInLine(p, jobId);
    }).detach();
}

}  // namespace

void watchNewJobs(pappl_system_t *system) { papplSystemSetEventCallback(system, lineUpNewJob, nullptr); }

void holdJobsBehind(pappl_printer_t *printer, int startingJobId) {
    setBusy(printer, true);
    if (pappl_job_t *job = papplPrinterFindJob(printer, startingJobId))
        papplJobSetReasons(job, PAPPL_JREASON_NONE, pappl_jreason_t(kInLine | PAPPL_JREASON_JOB_DATA_INSUFFICIENT));
    putInLine(printer, activeJobs(printer), startingJobId);
}

void releaseNextJob(pappl_printer_t *printer, int endingJobId) {
    // A job a client released waits behind the older ones too.
    putInLine(printer, activeJobs(printer), endingJobId);
    startNext(printer, endingJobId);
}

void setDocumentTimeout(int seconds) { documentTimeout = std::clamp(seconds, 1, kMaxDocumentTimeout); }

void checkQueue(pappl_printer_t *printer) {
    const std::vector<QueuedJob> jobs = activeJobs(printer);
    expireAwaitingDocuments(printer, jobs);
    if (printing(jobs)) return;
    putInLine(printer, jobs, 0);
    startNext(printer, 0);
}

void resumeQueue(pappl_printer_t *printer) {
    setBusy(printer, true);
    putInLine(printer, activeJobs(printer), 0);
    startNext(printer, 0);
}

}  // namespace vdlapp
