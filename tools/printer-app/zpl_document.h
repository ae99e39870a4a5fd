// ZPL II jobs: a job's document translated into the printer's commands by
// libVdlZpl, its warnings in the job's log.
#ifndef VDL_PRINTER_APP_ZPL_DOCUMENT_H
#define VDL_PRINTER_APP_ZPL_DOCUMENT_H

#include <pappl/pappl.h>

#include <string>

namespace vdlapp {

// The MIME type ZPL II goes by (CUPS and label software use it).
constexpr const char *kZplFormat = "application/vnd.zebra-zpl";

// Whether the job's document begins as ZPL does.
bool documentIsZpl(pappl_job_t *job);

// The printer's commands for the job's ZPL document, or false: the document
// could not be read, or the ZPL could not be translated (the job's reasons
// then say document-format-error, and its log why and where).
bool translateZplDocument(pappl_job_t *job, std::string &commands);

}  // namespace vdlapp

#endif
