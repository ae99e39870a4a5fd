#include "state_file.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <cstdlib>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vdlapp {
namespace {

// The lines PAPPL writes as name="value" lists, quotes and backslashes escaped.
constexpr const char *kQuotedLines[] = {"<Printer ", "Job ", "Contact ", "media-col-default ", "media-col-ready"};

// What PAPPL adds to a job it restores before it reads the job's .ipp file.
constexpr const char *kRestoredDescriptions[] = {"job-name", "job-id", "job-uri", "job-uuid", "job-printer-uri",
                                                 "job-originating-user-name"};

bool startsWith(const std::string &text, std::size_t at, const char *prefix) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

bool hasQuotedValues(const std::string &text, std::size_t lineStart) {
    return std::any_of(std::begin(kQuotedLines), std::end(kQuotedLines),
                       [&](const char *prefix) { return startsWith(text, lineStart, prefix); });
}

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

bool isNameCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; }

// A line PAPPL writes: "Name", "Name value", "<Printer ...>", "</Printer>".
bool isStateLine(const std::string &line) {
    if (line == "</Printer>") return true;
    if (line.compare(0, 9, "<Printer ") == 0) return line.back() == '>';
    const std::size_t end = line.find(' ');
    const std::string name = line.substr(0, end);
    return !name.empty() && std::isalpha(static_cast<unsigned char>(name[0])) &&
           std::all_of(name.begin(), name.end(), isNameCharacter);
}

bool writeAll(int fd, const char *data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool readAll(int fd, std::string &text) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(chunk, std::size_t(n));
    }
}

std::string directoryOf(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The rename itself lasts only once the directory is synced.
bool syncDirectory(const std::string &path) {
    const int fd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool replaceFileWith(const std::string &path, const std::function<bool(int)> &write) {
    const std::string aside = path + ".new";
    const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool written = write(fd) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (written && ::rename(aside.c_str(), path.c_str()) == 0) return syncDirectory(path);
    const int error = errno;
    ::unlink(aside.c_str());
    errno = error;
    return false;
}

void dropRestoredDescriptions(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ipp_t *attributes = ippNew();
    const bool read = ippReadFile(fd, attributes) == IPP_STATE_DATA;
    ::close(fd);
    bool dropped = false;
    for (const char *name : kRestoredDescriptions)
        while (ipp_attribute_t *attribute = ippFindAttribute(attributes, name, IPP_TAG_ZERO)) {
            ippDeleteAttribute(attributes, attribute);
            dropped = true;
        }
    if (read && dropped)
        replaceFileWith(path, [attributes](int out) {
            ippSetState(attributes, IPP_STATE_IDLE);
            return ippWriteFile(out, attributes) == IPP_STATE_DATA;
        });
    ippDelete(attributes);
}

// The URI as this server serves it: ipp://localhost:PORT/PATH when it offers no TLS.
void correctUri(ipp_attribute_t *attribute) {
    char scheme[32], user[256], host[256], resource[1024], uri[1024];
    int port = 0;
    const char *value = ippGetString(attribute, 0, nullptr);
    if (!value || httpSeparateURI(HTTP_URI_CODING_ALL, value, scheme, sizeof scheme, user, sizeof user, host,
                                  sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
        std::strcmp(scheme, "ipps") != 0)
        return;
    httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", port, resource);
    // PAPPL keeps the job's attributes to itself; a value replaced in place
    // needs no message, and ippSetString uses the message only to add values.
    ipp_t *standIn = ippNew();
    ippSetString(standIn, &attribute, 0, uri);
    ippDelete(standIn);
}

// PAPPL reads and writes the state by a file's name, and refuses links: a
// scratch file in memory (/dev/shm), else in the temporary directory, stands
// between it and the disk. It is gone once closed.
struct ScratchFile {
    int fd = -1;
    std::string path;
    ScratchFile() {
        const char *const dirs[] = {"/dev/shm", std::getenv("TMPDIR"), "/tmp"};
        for (const char *dir : dirs) {
            if (!dir) continue;
            std::string name = std::string(dir) + "/vdl-printer-app-state-XXXXXX";
            fd = ::mkostemp(name.data(), O_CLOEXEC);
            if (fd >= 0) {
                path = name;
                return;
            }
        }
    }
    ~ScratchFile() {
        if (fd < 0) return;
        ::unlink(path.c_str());
        ::close(fd);
    }
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;
};

}  // namespace

std::optional<std::string> stateText(pappl_system_t *system) {
    const ScratchFile scratch;
    std::string text;
    if (scratch.fd < 0 || !papplSystemSaveState(system, scratch.path.c_str()) || !readAll(scratch.fd, text))
        return std::nullopt;
    return text;
}

bool loadStateText(pappl_system_t *system, const std::string &text) {
    const ScratchFile scratch;
    return scratch.fd >= 0 && writeAll(scratch.fd, text.data(), text.size()) &&
           papplSystemLoadState(system, scratch.path.c_str());
}

// The bytes of a value kept: IPP's names hold 255 octets, and PAPPL reads a
// line of its state back only up to about 2 kB, so that a longer line (a job
// name of 2000 bytes) would lose the job and those around it.
constexpr std::size_t kValueBytes = 255;

// Drops the end of a UTF-8 character that `value` ends inside.
void endOnWholeCharacter(std::string &out, std::size_t valueStart) {
    std::size_t lead = out.size();
    while (lead > valueStart && (std::uint8_t(out[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead == valueStart) return;
    const auto first = std::uint8_t(out[lead - 1]);
    const std::size_t length = first < 0x80 ? 1 : first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (out.size() - (lead - 1) < length) out.resize(lead - 1);
}

std::string withoutControlsInValues(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    bool quoted = false, escaped = false, listLine = false;
    std::size_t valueStart = 0, valueBytes = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!quoted && (i == 0 || text[i - 1] == '\n')) listLine = hasQuotedValues(text, i);
        const char c = text[i];
        if (!quoted) {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // a CR LF line end
            if (listLine && c == '"') {
                quoted = true;
                valueStart = out.size() + 1;
                valueBytes = 0;
            }
            out += c;
            continue;
        }
        if (!escaped && c == '\\') {
            escaped = true;  // written with the byte it escapes, if that is kept
            continue;
        }
        const bool wasEscaped = std::exchange(escaped, false);
        if (!wasEscaped && c == '"') {
            quoted = false;
            out += c;
        } else if (++valueBytes <= kValueBytes) {
            if (wasEscaped) out += '\\';
            out += isControl(c) ? ' ' : c;
        } else if (valueBytes == kValueBytes + 1) {
            endOnWholeCharacter(out, valueStart);
        }
    }
    if (!out.empty() && out.back() != '\n') out += '\n';  // an editor's last line
    return out;
}

bool readsAsState(const std::string &text) {
    if (text.empty() || text.back() != '\n') return false;
    bool inPrinter = false, hasUuid = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || !isStateLine(line)) return false;
        hasUuid = hasUuid || line.compare(0, 5, "UUID ") == 0;
        if (line.compare(0, 9, "<Printer ") == 0 || line == "</Printer>") {
            const bool opens = line[1] != '/';
            if (opens == inPrinter) return false;
            inPrinter = opens;
        }
    }
    return hasUuid && !inPrinter;
}

bool replaceFile(const std::string &path, const std::string &text) {
    return replaceFileWith(path, [&text](int fd) { return writeAll(fd, text.data(), text.size()); });
}

void dropRestoredJobDescriptions(const std::string &spoolDirectory) {
    DIR *dir = ::opendir(spoolDirectory.c_str());
    if (!dir) return;
    std::vector<std::string> files;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ipp") == 0)
            files.push_back(spoolDirectory + "/" + name);
    }
    ::closedir(dir);
    for (const std::string &file : files) dropRestoredDescriptions(file);
}

void correctRestoredJobUris(pappl_system_t *system) {
    if (!(papplSystemGetOptions(system) & PAPPL_SOPTIONS_NO_TLS)) return;
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t *printer, void *) {
            papplPrinterIterateAllJobs(
                printer,
                [](pappl_job_t *job, void *) {
                    for (const char *name : {"job-uri", "job-printer-uri"})
                        if (ipp_attribute_t *attribute = papplJobGetAttribute(job, name)) correctUri(attribute);
                },
                nullptr, 1, 0);
        },
        nullptr);
}

}  // namespace vdlapp
