// The server's start and stop around PAPPL's main loop.
//
// Stop: on SIGTERM, SIGINT or a Shutdown-All-Printers request the server saves its
// state as it is and ends within a second, whatever its printers do; PAPPL
// alone would wait up to 60 s for the queued jobs. Jobs still queued stay
// queued; a job that was printing is queued again and printed from its start
// after the next start (its labels may then print twice: a duplicate label is
// seen and thrown away, a label never printed is a parcel shipped without one).
//
// Start: those jobs print, oldest first, as soon as the server runs.
//
// Idle: a private server (one a sub-command started because none ran) stops
// the same way once it has had no job, no queued job and no request for a
// while (-o idle-timeout, 60 s by default).
#ifndef VDL_PRINTER_APP_SERVER_LIFECYCLE_H
#define VDL_PRINTER_APP_SERVER_LIFECYCLE_H

#include <string>

#include <pappl/pappl.h>

namespace vdlapp {

// Loads the state file, with the job that was printing when the last run
// stopped made pending again, and the spooled jobs' attributes as PAPPL can
// restore them. A file that does not read as a state file is kept aside
// (renamed STATE.unreadable-TIME) and the server starts without printers.
void loadState(pappl_system_t *system, const std::string &path, const std::string &spoolDirectory);

// PAPPL's save callback: the state file is replaced whole (written aside,
// synced and renamed), never left half-written or empty; a save that fails
// leaves the last good file, is logged and is tried again every few seconds.
bool saveState(pappl_system_t *system, void *path);

// Has PAPPL save the state within a second, as after a change of the configuration.
void markConfigurationChanged(pappl_system_t *system);

// Blocks SIGTERM and SIGINT in the calling thread and so in every thread it
// starts after: the lifecycle thread takes them, and PAPPL's own handlers
// (which wait up to 60 s for the queued jobs) never run, not even in the
// moment between PAPPL installing them and the server starting. Called as
// the server starts, before any thread; a signal before it ends the process
// at once, as nothing is changed yet.
void blockStopSignals();

// Starts the thread that resumes the queues once PAPPL runs and stops the
// server quickly when asked to, or, with idleTimeout seconds (0: never),
// when it has had no job and no request for that long.
void watchLifecycle(pappl_system_t *system, const std::string &statePath, int idleTimeout);

// The shutdown sub-command, in the place of PAPPL's: it asks the server on
// this machine to stop, and succeeds when the server answers yes, or gives no
// answer and is gone. PAPPL's own reports a failure when the server ends
// before its answer is written.
int shutdownSubcommand(const char *baseName, int optionCount, cups_option_t *options, int fileCount, char **files,
                       void *data);

}  // namespace vdlapp

#endif
