#include "zpl_document.h"

#include <unistd.h>

#include <vector>

#include "VdlZpl.h"
#include "driver.h"

namespace vdlapp {

namespace {

// As much as the translator takes in one call.
constexpr std::size_t kMostZplBytes = std::size_t(64) << 20;

bool readDocument(pappl_job_t *job, std::string &text) {
    const int fd = openJobDocument(job);
    if (fd < 0) return false;
    std::vector<char> chunk(65536);
    ssize_t n = 0;
    while ((n = ::read(fd, chunk.data(), chunk.size())) > 0 && text.size() <= kMostZplBytes) text.append(chunk.data(), std::size_t(n));
    ::close(fd);
    return n == 0 || text.size() > kMostZplBytes;  // past the bound: the translator says so
}

void logMessage(void *job, int line, int column, const char *message) {
    papplLogJob(static_cast<pappl_job_t *>(job), PAPPL_LOGLEVEL_WARN, "ZPL %d:%d: %s", line, column, message);
}

}  // namespace

bool documentIsZpl(pappl_job_t *job) {
    const int fd = openJobDocument(job);
    if (fd < 0) return false;
    char start[512];
    const ssize_t n = ::read(fd, start, sizeof start);
    ::close(fd);
    return n > 0 && VdlZplDetect(start, std::size_t(n)) != 0;
}

bool translateZplDocument(pappl_job_t *job, std::string &commands) {
    std::string zpl;
    if (!readDocument(job, zpl)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot read the ZPL document.");
        return false;
    }
    unsigned char *stream = nullptr;
    std::size_t length = 0;
    const int labels = VdlZplConvert(zpl.data(), zpl.size(), 0, &stream, &length, logMessage, job);
    if (labels < 0) {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The ZPL document cannot be printed: %s.", VdlZplErrorText(labels));
        return false;
    }
    commands.assign(reinterpret_cast<const char *>(stream), length);
    VdlZplFree(stream);
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "ZPL: %d labels in %lu bytes of the printer's commands.", labels, static_cast<unsigned long>(length));
    return true;
}

}  // namespace vdlapp
