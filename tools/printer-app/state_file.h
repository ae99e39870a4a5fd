// The state file as the server keeps it: PAPPL writes and reads it, the
// server checks it, repairs what PAPPL writes unescaped, and puts it on disk.
//
// PAPPL's own save reports success when its writes failed (a full disk gives
// an empty file), and writes a job's name or user with its line ends as they
// are, which splits the job's line and loses the jobs around it at the next
// start. So PAPPL writes into memory, and the server writes the file: whole,
// synced, renamed over the last good one only when every step succeeded.
#ifndef VDL_PRINTER_APP_STATE_FILE_H
#define VDL_PRINTER_APP_STATE_FILE_H

#include <optional>
#include <string>

#include <pappl/pappl.h>

namespace vdlapp {

// The state PAPPL writes for system, as text; none when PAPPL failed.
std::optional<std::string> stateText(pappl_system_t *system);

// Has PAPPL load the state in text; false when it could not be handed over.
bool loadStateText(pappl_system_t *system, const std::string &text);

// text with each control character (line ends among them) inside a quoted
// value made a space (PAPPL escapes only quotes and backslashes there), each
// value cut to 255 bytes between whole UTF-8 characters (PAPPL reads a line
// back only up to about 2 kB), CR LF line ends made LF and a last line ended.
std::string withoutControlsInValues(const std::string &text);

// Whether text reads as a whole state file: every line of a shape PAPPL
// writes, its printers closed, ending with a line end. A file cut short, or
// one that is empty or not a state file, does not.
bool readsAsState(const std::string &text);

// Replaces the file at path with text: written beside it, synced and renamed
// over it, so that it is the old file or the new one, whatever happens. False,
// with errno, when any step failed; the old file is then as it was.
bool replaceFile(const std::string &path, const std::string &text);

// Takes out of each spooled job's attribute file (.ipp) the attributes PAPPL
// adds by itself when it restores the job (its name, user, ID, URIs and UUID):
// loaded from the file as well, they came twice in every answer about the job.
void dropRestoredJobDescriptions(const std::string &spoolDirectory);

// The job and printer URIs PAPPL gives a restored job name a scheme and host
// the server may not serve (ipps:, the host's name, on a server that listens
// on localhost without TLS): these become the server's own.
void correctRestoredJobUris(pappl_system_t *system);

}  // namespace vdlapp

#endif
