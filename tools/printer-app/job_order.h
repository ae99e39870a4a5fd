// Jobs print in the order they were submitted. PAPPL 1.3 starts the newest
// pending job first, so a queue of labels would come out backwards. While a
// printer has a job, its new jobs are held (PAPPL's hold-new-jobs, which also
// keeps the jobs that arrive meanwhile from starting), and each job that ends
// releases the oldest waiting one alone. Jobs a client held itself
// (job-hold-until) are left to that client; a job still waiting for its
// document (Create-Job, then Send-Document) starts once the document is in,
// holds up no job behind it meanwhile, and is cancelled when its document
// has not come within the document timeout.
#ifndef VDL_PRINTER_APP_JOB_ORDER_H
#define VDL_PRINTER_APP_JOB_ORDER_H

#include <pappl/pappl.h>

namespace vdlapp {

// The longest a job may wait for its document, in seconds: the default, and
// the most -o document-timeout may set.
constexpr int kMaxDocumentTimeout = 60;
void setDocumentTimeout(int seconds);

// A job starts on the printer: the jobs behind it wait their turn.
void holdJobsBehind(pappl_printer_t *printer, int startingJobId);

// A job is about to end: the oldest waiting job is released, or, with none
// waiting, new jobs are no longer held (so that a raster stream from an idle
// printer's client goes straight through).
void releaseNextJob(pappl_printer_t *printer, int endingJobId);

// Once a second: jobs whose documents did not come in time are cancelled,
// and a printer with none printing starts the oldest job whose document has
// come since, or stops holding new jobs.
void checkQueue(pappl_printer_t *printer);

// At start-up: the jobs the last run left are held and the oldest released.
void resumeQueue(pappl_printer_t *printer);

}  // namespace vdlapp

#endif
