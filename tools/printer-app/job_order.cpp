#include "job_order.h"

#include <algorithm>
#include <vector>

namespace vdlapp {
namespace {

struct QueuedJob {
    int id;
    ipp_jstate_t state;
    bool heldByClient;
};

// The printer's active jobs, oldest first. Collected under PAPPL's lock and
// acted on after it, since holding and releasing take that lock themselves.
std::vector<QueuedJob> activeJobs(pappl_printer_t *printer) {
    std::vector<QueuedJob> jobs;
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t *job, void *data) {
            const bool byClient = papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED;
            static_cast<std::vector<QueuedJob> *>(data)->push_back({papplJobGetID(job), papplJobGetState(job), byClient});
        },
        &jobs, 1, 0);
    std::sort(jobs.begin(), jobs.end(), [](const QueuedJob &a, const QueuedJob &b) { return a.id < b.id; });
    return jobs;
}

void holdPending(pappl_printer_t *printer, const std::vector<QueuedJob> &jobs, int except) {
    for (const QueuedJob &j : jobs)
        if (j.state == IPP_JSTATE_PENDING && j.id != except)
            if (pappl_job_t *job = papplPrinterFindJob(printer, j.id)) papplJobHold(job, nullptr, nullptr, 0);
}

// The oldest job held by the queue, not by its client; 0 when there is none.
int oldestWaiting(const std::vector<QueuedJob> &jobs, int except) {
    for (const QueuedJob &j : jobs)
        if (j.state == IPP_JSTATE_HELD && !j.heldByClient && j.id != except) return j.id;
    return 0;
}

}  // namespace

void holdJobsBehind(pappl_printer_t *printer, int startingJobId) {
    papplPrinterHoldNewJobs(printer);
    holdPending(printer, activeJobs(printer), startingJobId);
}

void releaseNextJob(pappl_printer_t *printer, int endingJobId) {
    const std::vector<QueuedJob> jobs = activeJobs(printer);
    // A job a client released (or one left pending by a release of all held
    // jobs) waits behind the older ones too.
    holdPending(printer, jobs, endingJobId);
    if (const int next = oldestWaiting(activeJobs(printer), endingJobId)) {
        if (pappl_job_t *job = papplPrinterFindJob(printer, next)) papplJobRelease(job, nullptr);
    } else {
        papplPrinterReleaseHeldNewJobs(printer, nullptr);
    }
}

void resumeQueue(pappl_printer_t *printer) {
    const std::vector<QueuedJob> jobs = activeJobs(printer);
    if (jobs.empty()) {
        papplPrinterReleaseHeldNewJobs(printer, nullptr);
        return;
    }
    papplPrinterHoldNewJobs(printer);
    holdPending(printer, jobs, 0);
    if (const int next = oldestWaiting(activeJobs(printer), 0))
        if (pappl_job_t *job = papplPrinterFindJob(printer, next)) papplJobRelease(job, nullptr);
}

}  // namespace vdlapp
