// ZPL II jobs: a job's document translated into the printer's commands by
// libVdlZpl, its warnings in the job's log.
#ifndef VDL_PRINTER_APP_ZPL_DOCUMENT_H
#define VDL_PRINTER_APP_ZPL_DOCUMENT_H

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace vdlapp {

// The MIME type ZPL II goes by (CUPS and label software use it).
constexpr const char *kZplFormat = "application/vnd.zebra-zpl";

// What a document in the printer's format holds, by its first bytes: a job
// from the raw socket comes in that format whatever it holds.
enum class RawContent { zpl, commands, other };
RawContent rawContentOf(pappl_job_t *job);

// The job's ZPL document, checked by the translator, as its labels: each
// piece ends with a label's ^XZ and holds what came before it (downloads,
// settings), so that each can be printed, and a cancel seen, on its own.
// False when the document cannot be read or its ZPL cannot be translated:
// the job's reasons then say document-format-error, its message why and
// where. The translator's warnings go to the job's log.
bool readZplLabels(pappl_job_t *job, std::vector<std::string> &labels);

// The pieces of a ZPL text, each ending after a ^XZ (the last one holds
// whatever follows the last ^XZ, if anything does).
std::vector<std::string> splitAfterLabels(const std::string &zpl);

}  // namespace vdlapp

#endif
