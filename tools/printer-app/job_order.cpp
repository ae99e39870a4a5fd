#include "job_order.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace vdlapp {
namespace {

std::atomic<int> documentTimeout{kMaxDocumentTimeout};

// The holds the queue made itself: the printers whose new jobs it holds, by
// ID (an administrator's Hold-New-Jobs is the administrator's to undo), and
// the jobs it holds until their documents come, by job ID with their
// printer's.
struct QueueHolds {
    std::mutex mutex;
    std::set<int> printers;
    std::map<int, int> awaitingDocuments;
};
QueueHolds &queueHolds() {
    static QueueHolds holds;
    return holds;
}

bool heldForDocument(int jobId) {
    QueueHolds &q = queueHolds();
    const std::lock_guard<std::mutex> lock(q.mutex);
    return q.awaitingDocuments.count(jobId) > 0;
}

struct QueuedJob {
    int id;
    ipp_jstate_t state;
    bool heldByClient;
    // A job made by Create-Job waits, held, for its document: until it comes
    // there is nothing to print, and releasing the job would start it empty.
    bool hasDocument;
    std::time_t created;
};

// The printer's active jobs, oldest first. Collected under PAPPL's lock and
// acted on after it, since holding and releasing take that lock themselves.
// A job the queue holds for its document carries a hold-until as a client's
// hold does, but is the queue's to release.
std::vector<QueuedJob> activeJobs(pappl_printer_t *printer) {
    std::vector<QueuedJob> jobs;
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t *job, void *data) {
            const bool holdUntil = papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED;
            static_cast<std::vector<QueuedJob> *>(data)->push_back(
                {papplJobGetID(job), papplJobGetState(job), holdUntil, papplJobGetFilename(job) != nullptr,
                 papplJobGetTimeCreated(job)});
        },
        &jobs, 1, 0);
    for (QueuedJob &j : jobs) j.heldByClient = j.heldByClient && !heldForDocument(j.id);
    std::sort(jobs.begin(), jobs.end(), [](const QueuedJob &a, const QueuedJob &b) { return a.id < b.id; });
    return jobs;
}

void setQueueHolds(pappl_printer_t *printer, bool holds) {
    QueueHolds &q = queueHolds();
    const std::lock_guard<std::mutex> lock(q.mutex);
    if (holds)
        q.printers.insert(papplPrinterGetID(printer));
    else
        q.printers.erase(papplPrinterGetID(printer));
}

bool queueHoldsNewJobs(pappl_printer_t *printer) {
    QueueHolds &q = queueHolds();
    const std::lock_guard<std::mutex> lock(q.mutex);
    return q.printers.count(papplPrinterGetID(printer)) > 0;
}

void holdNewJobs(pappl_printer_t *printer) {
    setQueueHolds(printer, true);
    papplPrinterHoldNewJobs(printer);
}

void holdPending(pappl_printer_t *printer, const std::vector<QueuedJob> &jobs, int except) {
    for (const QueuedJob &j : jobs)
        if (j.state == IPP_JSTATE_PENDING && j.id != except)
            if (pappl_job_t *job = papplPrinterFindJob(printer, j.id)) papplJobHold(job, nullptr, nullptr, 0);
}

// Held by the queue, not by its client.
bool waiting(const QueuedJob &j, int except) { return j.state == IPP_JSTATE_HELD && !j.heldByClient && j.id != except; }

// A job that waits for its document is held on its own (until released),
// which PAPPL's release of held new jobs leaves alone: new jobs, PWG raster
// streams among them, are taken meanwhile. PAPPL replaces the job's reason,
// which is put back for its clients.
void holdForDocument(pappl_printer_t *printer, int jobId) {
    pappl_job_t *job = papplPrinterFindJob(printer, jobId);
    if (!job || !papplJobHold(job, nullptr, "indefinite", 0)) return;
    papplJobSetReasons(job, PAPPL_JREASON_JOB_DATA_INSUFFICIENT, PAPPL_JREASON_NONE);
    QueueHolds &q = queueHolds();
    const std::lock_guard<std::mutex> lock(q.mutex);
    q.awaitingDocuments[jobId] = papplPrinterGetID(printer);
}

// The holds for documents of the printer's jobs that are no longer active.
void forgetEndedHolds(pappl_printer_t *printer, const std::vector<QueuedJob> &jobs) {
    const int printerId = papplPrinterGetID(printer);
    QueueHolds &q = queueHolds();
    const std::lock_guard<std::mutex> lock(q.mutex);
    for (auto it = q.awaitingDocuments.begin(); it != q.awaitingDocuments.end();) {
        const bool active = std::any_of(jobs.begin(), jobs.end(), [&](const QueuedJob &j) { return j.id == it->first; });
        it = it->second == printerId && !active ? q.awaitingDocuments.erase(it) : std::next(it);
    }
}

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

// A job the queue held for its document has it now.
bool documentCame(const std::vector<QueuedJob> &jobs) {
    return std::any_of(jobs.begin(), jobs.end(),
                       [](const QueuedJob &j) { return j.hasDocument && heldForDocument(j.id); });
}

// The next step of a queue with no job printing but except (the one ending,
// or 0): the oldest job with its document starts; with none, new jobs stop
// being held, and those still waiting for their documents are held on their
// own: checkQueue lets them through once their documents are in.
void startNext(pappl_printer_t *printer, int except) {
    const std::vector<QueuedJob> jobs = activeJobs(printer);
    if (const int next = oldestReady(jobs, except)) {
        if (pappl_job_t *job = papplPrinterFindJob(printer, next)) papplJobRelease(job, nullptr);
        return;
    }
    for (const QueuedJob &j : jobs)
        if (waiting(j, except) && !j.hasDocument && !heldForDocument(j.id)) holdForDocument(printer, j.id);
    setQueueHolds(printer, false);
    papplPrinterReleaseHeldNewJobs(printer, nullptr);
}

bool printing(const std::vector<QueuedJob> &jobs) {
    return std::any_of(jobs.begin(), jobs.end(), [](const QueuedJob &j) {
        return j.state == IPP_JSTATE_PENDING || j.state == IPP_JSTATE_PROCESSING;
    });
}

}  // namespace

void holdJobsBehind(pappl_printer_t *printer, int startingJobId) {
    holdNewJobs(printer);
    holdPending(printer, activeJobs(printer), startingJobId);
}

void releaseNextJob(pappl_printer_t *printer, int endingJobId) {
    // A job a client released (or one left pending by a release of all held
    // jobs) waits behind the older ones too.
    holdPending(printer, activeJobs(printer), endingJobId);
    startNext(printer, endingJobId);
}

void setDocumentTimeout(int seconds) { documentTimeout = std::clamp(seconds, 1, kMaxDocumentTimeout); }

void checkQueue(pappl_printer_t *printer) {
    const std::vector<QueuedJob> jobs = activeJobs(printer);
    expireAwaitingDocuments(printer, jobs);
    forgetEndedHolds(printer, jobs);
    if ((queueHoldsNewJobs(printer) || documentCame(jobs)) && !printing(jobs)) startNext(printer, 0);
}

void resumeQueue(pappl_printer_t *printer) {
    holdNewJobs(printer);
    holdPending(printer, activeJobs(printer), 0);
    startNext(printer, 0);
}

}  // namespace vdlapp
