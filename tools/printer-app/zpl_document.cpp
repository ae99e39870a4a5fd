#include "zpl_document.h"

#include <unistd.h>

#include <cctype>
#include <string>
#include <vector>

#include "VdlZpl.h"
#include "document_format.h"
#include "driver.h"

namespace vdlapp {

namespace {

// As much as the translator takes in one call.
constexpr std::size_t kMostZplBytes = std::size_t(64) << 20;

// The translator's messages: each in the job's log, the last kept for the
// job's message when it ends the translation.
struct Messages {
    pappl_job_t *job;
    std::string last;
};

void logMessage(void *context, int line, int column, const char *message) {
    Messages &said = *static_cast<Messages *>(context);
    papplLogJob(said.job, PAPPL_LOGLEVEL_WARN, "ZPL %d:%d: %s", line, column, message);
    said.last = std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

}  // namespace

RawContent rawContentOf(pappl_job_t *job) {
    const int fd = openJobDocument(job);
    if (fd < 0) return RawContent::other;
    unsigned char start[8192];  // as much as the MIME callback sees of an IPP document
    const ssize_t n = ::read(fd, start, sizeof start);
    ::close(fd);
    if (n <= 0) return RawContent::other;
    if (VdlZplDetect(start, std::size_t(n))) return RawContent::zpl;
    return detectDocumentFormat(start, std::size_t(n)) == DocumentFormat::commands ? RawContent::commands
                                                                                     : RawContent::other;
}

std::vector<std::string> splitAfterLabels(const std::string &zpl) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 2 < zpl.size(); ++i) {
        if (zpl[i] != '^' || std::toupper(static_cast<unsigned char>(zpl[i + 1])) != 'X' ||
            std::toupper(static_cast<unsigned char>(zpl[i + 2])) != 'Z')
            continue;
        pieces.push_back(zpl.substr(start, i + 3 - start));
        start = i + 3;
    }
    if (zpl.find_first_not_of(" \t\r\n", start) != std::string::npos) pieces.push_back(zpl.substr(start));
    return pieces;
}

bool readZplLabels(pappl_job_t *job, std::vector<std::string> &labels) {
    std::vector<unsigned char> document;  // past the bound, the translator says so
    if (!readJobDocument(job, kMostZplBytes, document)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot read the ZPL document.");
        return false;
    }
    Messages said{job, {}};
    const std::string zpl(document.begin(), document.end());
    const int count = VdlZplCheck(zpl.data(), zpl.size(), 0, logMessage, &said);
    if (count < 0) {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        papplJobSetMessage(job, "Not printed: the ZPL cannot be printed (%s)%s%s.", VdlZplErrorText(count),
                           said.last.empty() ? "" : ": ", said.last.c_str());
        return false;
    }
    if (count == 0) {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        papplJobSetMessage(job, "Not printed: the ZPL document holds no label (^XA ... ^XZ).");
        return false;
    }
    labels = splitAfterLabels(zpl);
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "ZPL: %d labels.", count);
    return true;
}

}  // namespace vdlapp
