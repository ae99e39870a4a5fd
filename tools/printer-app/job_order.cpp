#include "job_order.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

namespace vdlapp {
namespace {

struct QueuedJob {
    int id;
    ipp_jstate_t state;
    bool heldByClient;
    // A job made by Create-Job waits, held, for its document: until it comes
    // there is nothing to print, and releasing the job would start it empty.
    bool hasDocument;
};

// The printer's active jobs, oldest first. Collected under PAPPL's lock and
// acted on after it, since holding and releasing take that lock themselves.
std::vector<QueuedJob> activeJobs(pappl_printer_t *printer) {
    std::vector<QueuedJob> jobs;
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t *job, void *data) {
            const bool byClient = papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED;
            static_cast<std::vector<QueuedJob> *>(data)->push_back(
                {papplJobGetID(job), papplJobGetState(job), byClient, papplJobGetFilename(job) != nullptr});
        },
        &jobs, 1, 0);
    std::sort(jobs.begin(), jobs.end(), [](const QueuedJob &a, const QueuedJob &b) { return a.id < b.id; });
    return jobs;
}

// The printers whose new jobs the queue holds, by ID: an administrator's
// Hold-New-Jobs is the administrator's to undo.
struct QueueHolds {
    std::mutex mutex;
    std::set<int> printers;
};
QueueHolds &queueHolds() {
    static QueueHolds holds;
    return holds;
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

// The oldest waiting job that has its document; 0 when there is none.
int oldestReady(const std::vector<QueuedJob> &jobs, int except) {
    for (const QueuedJob &j : jobs)
        if (waiting(j, except) && j.hasDocument) return j.id;
    return 0;
}

bool awaitingDocument(const std::vector<QueuedJob> &jobs, int except) {
    return std::any_of(jobs.begin(), jobs.end(), [&](const QueuedJob &j) { return waiting(j, except) && !j.hasDocument; });
}

// The next step of a queue with no job printing but except (the one ending,
// or 0): the oldest job with its document starts; with none, new jobs stop
// being held, unless some still wait for their documents (PAPPL's release
// of held new jobs would start those empty): checkQueue lets them through
// once their documents are in.
void startNext(pappl_printer_t *printer, int except) {
    const std::vector<QueuedJob> jobs = activeJobs(printer);
    if (const int next = oldestReady(jobs, except)) {
        if (pappl_job_t *job = papplPrinterFindJob(printer, next)) papplJobRelease(job, nullptr);
    } else if (!awaitingDocument(jobs, except)) {
        setQueueHolds(printer, false);
        papplPrinterReleaseHeldNewJobs(printer, nullptr);
    }
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

void checkQueue(pappl_printer_t *printer) {
    if (queueHoldsNewJobs(printer) && !printing(activeJobs(printer))) startNext(printer, 0);
}

void resumeQueue(pappl_printer_t *printer) {
    holdNewJobs(printer);
    holdPending(printer, activeJobs(printer), 0);
    startNext(printer, 0);
}

}  // namespace vdlapp
