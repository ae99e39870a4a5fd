#include "job_order.h"

#include "server_lifecycle.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace vdlapp {
namespace {

std::atomic<int> documentTimeout{kMaxDocumentTimeout};

// A set shared by PAPPL's threads and the queue's.
template <typename Key> class SharedSet {
  public:
    void put(const Key &key, bool in) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (in)
            keys_.insert(key);
        else
            keys_.erase(key);
    }
    bool has(const Key &key) {
        const std::lock_guard<std::mutex> lock(mutex_);
        return keys_.count(key) > 0;
    }
    // Runs f(keys) under the set's lock.
    template <typename F> auto locked(F f) {
        const std::lock_guard<std::mutex> lock(mutex_);
        return f(keys_);
    }

  private:
    std::mutex mutex_;
    std::set<Key> keys_;
};

// The printers whose queue has a job starting or printing (by ID): a job
// created meanwhile waits in line from its creation on.
SharedSet<int> busyQueues;

void setBusy(pappl_printer_t *printer, bool busy) { busyQueues.put(papplPrinterGetID(printer), busy); }
bool isBusy(pappl_printer_t *printer) { return busyQueues.has(papplPrinterGetID(printer)); }

// The printers PAPPL has deleted, by address, until a printer is created
// there again: PAPPL looks for the next job of a printer it just freed.
SharedSet<pappl_printer_t *> deletedPrinters;

// A job by its printer's ID and its own: each printer numbers its jobs.
using JobKey = std::pair<int, int>;
JobKey keyOf(pappl_job_t *job) { return {papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)}; }

// The jobs whose document PAPPL has taken in whole. PAPPL names a job's file
// before it decides, reading the job's reasons without its lock, whether the
// job is pending or stays held: a job released from line in between could
// print and end, and that late decision would then make the ended job
// pending again, where it stays for good. So a document counts as in only
// once PAPPL's call that takes it has returned.
SharedSet<JobKey> documentsIn;

void markDocumentIn(const JobKey &job) { documentsIn.put(job, true); }
bool documentIsIn(const JobKey &job) { return documentsIn.has(job); }

// The jobs whose IPP document PAPPL is reading from its client now
// (Print-Job, Send-Document): a document that takes longer to come than the
// document timeout (a large one over a slow link, or one CUPS streams while
// its filters make it) is on its way, not missing. The set's lock is held
// while the document timeout checks a job and cancels it, so that a document
// that begins to come meanwhile either finds its job cancelled or keeps it.
SharedSet<JobKey> documentsComing;

// The job whose document PAPPL is taking in on this thread (null for none).
thread_local pappl_job_t *jobSubmitted = nullptr;
// The job whose file this thread opened last to write its document: on
// PAPPL's raw socket thread, the job whose bytes it reads until its client
// closes, then makes pending.
thread_local pappl_job_t *rawJobReceived = nullptr;

// Ended jobs are forgotten: only the printer's active ones are kept.
template <typename Jobs> void forgetEndedJobs(int printerId, const Jobs &active) {
    documentsIn.locked([&](std::set<JobKey> &jobs) {
        for (auto i = jobs.begin(); i != jobs.end();) {
            const bool ended = i->first == printerId &&
                               std::none_of(active.begin(), active.end(), [&](const auto &j) { return j.id == i->second; });
            i = ended ? jobs.erase(i) : std::next(i);
        }
    });
}

// Runs f(job) for every active job of every printer, under PAPPL's locks.
template <typename F> void forEachActiveJob(pappl_system_t *system, F f) {
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t *printer, void *data) {
            papplPrinterIterateActiveJobs(
                printer, [](pappl_job_t *job, void *g) { (*static_cast<F *>(g))(job); }, data, 1, 0);
        },
        &f);
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

// A client's hold put back: PAPPL's raw socket thread makes its job pending
// once the bytes are in, whatever Hold-Job said meanwhile.
void holdAsItsClientDid(pappl_job_t *job) {
    const char *until = ippGetString(papplJobGetAttribute(job, "job-hold-until"), 0, nullptr);
    ipp_attribute_t *untilTime = papplJobGetAttribute(job, "job-hold-until-time");
    papplJobHold(job, nullptr, until, untilTime ? ippDateToTime(ippGetDate(untilTime, 0)) : 0);
}

struct QueuedJob {
    int id;
    ipp_jstate_t state;
    bool heldByClient;
    bool inLine;
    // A job made by Create-Job waits for its document, and one from the raw
    // socket has its file from the start and is held while its bytes come:
    // until the document is whole there is nothing to print, and releasing
    // the job would start it on what came so far.
    bool hasFile;
    bool hasDocument;
    std::time_t created;
};

// A job's document is known to be in from the moment PAPPL has taken it
// whole (see lineUpBeforeAStart and _papplJobSubmitFile), and stays so while
// the job waits in line again. A job's state is no sign of it: a release
// makes a job pending whatever its document.
bool documentIsWhole(pappl_job_t *job) { return papplJobGetFilename(job) && documentIsIn(keyOf(job)); }

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
                 documentIsWhole(job), papplJobGetTimeCreated(job)});
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
// ones nobody put in line whose document is in (made while an administrator
// held new jobs, or by an older server) go in line. A held job whose
// document is still coming is PAPPL's until it is whole.
void putInLine(pappl_printer_t *printer, const std::vector<QueuedJob> &jobs, int except) {
    for (const QueuedJob &j : jobs) {
        const bool unlined = j.state == IPP_JSTATE_HELD && !j.heldByClient && !j.inLine && j.hasDocument;
        if ((j.state == IPP_JSTATE_PENDING || unlined) && j.id != except) holdInLine(printer, j.id);
    }
}

// Waiting its turn in line (held by the queue, not by its client).
bool waiting(const QueuedJob &j, int except) { return j.inLine && !j.heldByClient && j.id != except; }

// A job whose document has not begun to come within the timeout is
// cancelled: its client is gone, or failed to send it. A document on its way
// is left to PAPPL: an IPP client's is read until it ends or its connection
// times out, and the raw socket's until its client closes.
void expireAwaitingDocuments(pappl_printer_t *printer, const std::vector<QueuedJob> &jobs) {
    const std::time_t now = std::time(nullptr);
    const int timeout = documentTimeout;
    for (const QueuedJob &j : jobs) {
        // Whole seconds on both sides: more than the timeout is sure to have passed.
        if (j.state != IPP_JSTATE_HELD || j.hasFile || now - j.created <= timeout) continue;
        documentsComing.locked([&](const std::set<JobKey> &coming) {
            pappl_job_t *job = papplPrinterFindJob(printer, j.id);
            if (!job || coming.count(keyOf(job))) return;
            papplJobCancel(job);
            papplJobSetMessage(job, "Canceled: its document did not come within %d s.", timeout);
            papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Canceled: its document did not come within %d s.", timeout);
        });
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
    // The printer is looked for among the system's, whose lock keeps a
    // printer deleted meanwhile from being freed under the hold.
    std::thread([system, job = JobKey{papplPrinterGetID(printer), papplJobGetID(job)}]() mutable {
        papplSystemIteratePrinters(
            system,
            [](pappl_printer_t *p, void *data) {
                const JobKey &j = *static_cast<JobKey *>(data);
                if (papplPrinterGetID(p) == j.first) holdInLine(p, j.second);
            },
            &job);
    }).detach();
}

// Why a pending job is pending, as PAPPL is about to look for one to start.
enum class Pending {
    released,          // released in its turn (or by its client) with its document in
    rawDocumentJustIn, // by PAPPL, the raw socket's document just whole
    submittedHere,     // by PAPPL, the IPP document it takes in on this thread just whole
    withoutDocument,   // released before its document came, or while it still comes
    streamed,          // by PAPPL, a raster stream it prints as it comes
};

// PAPPL prints PWG and Apple raster as it comes from an IPP client.
bool streamed(pappl_job_t *job) {
    const char *format = papplJobGetFormat(job);
    return format && (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
}

Pending whyPending(pappl_job_t *job) {
    if (documentIsIn(keyOf(job))) return Pending::released;
    if (job == jobSubmitted) return Pending::submittedHere;
    if (documentsComing.has(keyOf(job)) && streamed(job)) return Pending::streamed;
    if (papplJobGetFilename(job) && job == rawJobReceived) return Pending::rawDocumentJustIn;
    return Pending::withoutDocument;
}

// PAPPL starts the newest pending job as soon as the printer has none, and
// jobs become pending in ways of their own:
// - PAPPL makes a job pending once its document is whole, whatever the
//   queue: the raw socket's even while an administrator holds new jobs, an
//   IPP one whenever it is not in line yet (its thread from lineUpNewJob not
//   yet run). It would print during the hold, or before older jobs: it goes
//   in line while the printer is busy or held.
// - A release (Release-Job, Release-Held-New-Jobs) makes a job pending
//   whatever its document: PAPPL would start one whose document has not come
//   (and crash on its missing format), or one whose document is on its way
//   (it fails, and PAPPL makes the ended job pending again once the document
//   is in), or print the part of the raw socket's that came so far. Such a
//   job waits in line until its document is in.
//
// Why each job is pending is asked after PAPPL's lock of the printer is let
// go: the document timeout holds the lock of the documents coming while it
// cancels a job, which takes the printer's.
void lineUpBeforeAStart(pappl_printer_t *printer) {
    if (!papplSystemIsRunning(papplPrinterGetSystem(printer))) return;  // resumeQueue sees to restored jobs
    std::vector<int> pending;
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t *job, void *data) {
            if (papplJobGetState(job) == IPP_JSTATE_PENDING)
                static_cast<std::vector<int> *>(data)->push_back(papplJobGetID(job));
        },
        &pending, 1, 0);
    const bool mustWait = isBusy(printer) || papplPrinterIsHoldingNewJobs(printer);
    for (const int id : pending) {
        pappl_job_t *job = papplPrinterFindJob(printer, id);
        if (!job || papplJobGetState(job) != IPP_JSTATE_PENDING) continue;
        const Pending why = whyPending(job);
        if (why == Pending::released || why == Pending::streamed) continue;
        const bool justIn = why == Pending::rawDocumentJustIn || why == Pending::submittedHere;
        if (justIn) markDocumentIn({papplPrinterGetID(printer), id});
        // A state saved while the raw socket's document came has the job
        // aborted: the next save, within a second, has it whole.
        if (why == Pending::rawDocumentJustIn) markConfigurationChanged(papplPrinterGetSystem(printer));
        if (why == Pending::rawDocumentJustIn && clientHoldsIt(job))
            holdAsItsClientDid(job);  // PAPPL made it pending over its client's Hold-Job
        else if (!justIn || mustWait)
            holdInLine(printer, id);
    }
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

std::set<std::pair<int, int>> documentsStillComing(pappl_system_t *system) {
    std::set<JobKey> coming;
    forEachActiveJob(system, [&coming](pappl_job_t *job) {
        // The raw socket's job is held with its file named until PAPPL has its document whole.
        const bool held = papplJobGetState(job) == IPP_JSTATE_HELD;
        if (held && papplJobGetFilename(job) && !documentIsIn(keyOf(job))) coming.insert(keyOf(job));
    });
    return coming;
}

void setDocumentTimeout(int seconds) { documentTimeout = std::clamp(seconds, 1, kMaxDocumentTimeout); }

void checkQueue(pappl_printer_t *printer) {
    const std::vector<QueuedJob> jobs = activeJobs(printer);
    forgetEndedJobs(papplPrinterGetID(printer), jobs);
    expireAwaitingDocuments(printer, jobs);
    if (printing(jobs)) return;
    putInLine(printer, jobs, 0);
    startNext(printer, 0);
}

void markRestoredDocumentsIn(pappl_system_t *system) {
    forEachActiveJob(system, [](pappl_job_t *job) {
        if (papplJobGetFilename(job)) markDocumentIn(keyOf(job));
    });
}

void queueCreated(pappl_printer_t *printer) { deletedPrinters.put(printer, false); }
void queueDeleted(pappl_printer_t *printer) {
    deletedPrinters.put(printer, true);
    setBusy(printer, false);
    forgetEndedJobs(papplPrinterGetID(printer), std::vector<QueuedJob>{});
}

void resumeQueue(pappl_printer_t *printer) {
    setBusy(printer, true);
    putInLine(printer, activeJobs(printer), 0);
    startNext(printer, 0);
}

}  // namespace vdlapp

// PAPPL 1.3 makes these calls of its own through the dynamic linker, so the
// program's definitions stand in for them here (the way request_gate stands
// in for libcups's calls), and pass them on.
template <typename Function> Function papplsOwn(const char *name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// Every job's document is taken through this call (from Print-Job,
// Send-Document and PAPPL's web pages; the raw socket's is not).
extern "C" __attribute__((visibility("default"))) void _papplJobSubmitFile(pappl_job_t *job, const char *filename) {
    static const auto real = papplsOwn<void (*)(pappl_job_t *, const char *)>("_papplJobSubmitFile");
    const vdlapp::JobKey key = vdlapp::keyOf(job);
    vdlapp::jobSubmitted = job;
    real(job, filename);
    vdlapp::jobSubmitted = nullptr;
    vdlapp::markDocumentIn(key);
}

// An IPP client's document is read through this call, from its first byte to its last.
extern "C" __attribute__((visibility("default"))) void _papplJobCopyDocumentData(pappl_client_t *client,
                                                                                pappl_job_t *job) {
    static const auto real = papplsOwn<void (*)(pappl_client_t *, pappl_job_t *)>("_papplJobCopyDocumentData");
    const vdlapp::JobKey key = vdlapp::keyOf(job);
    vdlapp::documentsComing.put(key, true);
    real(client, job);
    vdlapp::documentsComing.put(key, false);
}

// A job's document file is opened to be written: by the raw socket's thread
// as its client connects, and for an IPP document as it begins to come. A
// state save opens each active job's attributes file (extension "ipp") to
// write it too, on whichever thread saves: that one is no document.
extern "C" __attribute__((visibility("default"))) int papplJobOpenFile(pappl_job_t *job, char *name, size_t size,
                                                                       const char *directory, const char *extension,
                                                                       const char *mode) {
    static const auto real =
        papplsOwn<int (*)(pappl_job_t *, char *, size_t, const char *, const char *, const char *)>("papplJobOpenFile");
    if (job && !extension && mode && mode[0] == 'w') vdlapp::rawJobReceived = job;
    return real(job, name, size, directory, extension, mode);
}

// PAPPL looks for a pending job to start: after a document came whole, a
// job was released, or the printer closed its device at a job's end.
extern "C" __attribute__((visibility("default"))) void _papplPrinterCheckJobs(pappl_printer_t *printer) {
    static const auto real = papplsOwn<void (*)(pappl_printer_t *)>("_papplPrinterCheckJobs");
    // A printer deleted while it printed is freed as that job ends, and PAPPL
    // then looks for its next job: there is none, nor a printer to look at.
    if (!printer || vdlapp::deletedPrinters.has(printer)) return;
    vdlapp::lineUpBeforeAStart(printer);
    real(printer);
}
