// Jobs print in the order they were submitted. PAPPL 1.3 starts the newest
// pending job first, so a queue of labels would come out backwards. While a
// printer has a job, every other job waits in line, held on its own (from its
// creation on, before its document can make it pending), and each job that
// ends releases the oldest waiting one alone. PAPPL's hold-new-jobs is left
// to the administrator: while it is on, no job starts (the one printing
// ends), and once released the line moves on in order. Jobs a client held
// itself (job-hold-until) are left to that client; a job still waiting for
// its document (Create-Job, then Send-Document) starts once the document is
// in, holds up no job behind it meanwhile, and is cancelled when its document
// has not begun to come within the document timeout.
#ifndef VDL_PRINTER_APP_JOB_ORDER_H
#define VDL_PRINTER_APP_JOB_ORDER_H

#include <pappl/pappl.h>
#include <set>
#include <utility>

namespace vdlapp {

// The longest a job may wait for its document, in seconds: the default, and
// the most -o document-timeout may set.
constexpr int kMaxDocumentTimeout = 60;
void setDocumentTimeout(int seconds);

// Jobs made while their printer is busy (or held) wait in line from their creation on.
void watchNewJobs(pappl_system_t *system);

// A job starts on the printer: the jobs behind it wait their turn.
void holdJobsBehind(pappl_printer_t *printer, int startingJobId);

// A job is about to end: the oldest waiting job is released, unless an
// administrator holds new jobs; with none released, the printer is idle and
// a new job starts as soon as its document is in (a raster stream from an
// idle printer's client goes straight through).
void releaseNextJob(pappl_printer_t *printer, int endingJobId);

// Once a second: jobs whose documents did not begin to come in time are cancelled,
// and a printer with none printing starts the oldest waiting job whose
// document is in (one whose document came since, or all of them after an
// administrator's Release-Held-New-Jobs).
void checkQueue(pappl_printer_t *printer);

// The jobs (printer ID, job ID) whose document is still coming from the raw
// socket: a state saved now holds only part of it.
std::set<std::pair<int, int>> documentsStillComing(pappl_system_t *system);

// As the state is loaded: the documents of the jobs the last run left are in
// their files (a raw one cut short by the stop was saved aborted).
void markRestoredDocumentsIn(pappl_system_t *system);

// A printer is created, or deleted: PAPPL frees a printer deleted while it
// printed as that job ends, and then still looks for the printer's next job.
void queueCreated(pappl_printer_t *printer);
void queueDeleted(pappl_printer_t *printer);

// At start-up: the jobs the last run left wait in line and the oldest is
// released (unless an administrator's hold, saved with the printer, is on).
void resumeQueue(pappl_printer_t *printer);

}  // namespace vdlapp

#endif
