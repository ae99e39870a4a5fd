// The trace log: "log.txt" in the working directory, one record per trace
// call, written only while tracing is on. A connect switches tracing on when
// the marker "log.tmp" exists in the working directory at that moment.
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "VdlLabelAPI.h"

unsigned char gWriteLog = 0;

namespace {

constexpr std::size_t kPathArea = 1024;
constexpr const char kMarkerName[] = "/log.tmp";
constexpr const char kLogName[] = "log.txt";

// Local time of tv as "YYYY/MM/DD hh:mm:ss".
void formatTime(const timeval &tv, char (&text)[100]) {
    std::tm local{};
    const std::time_t seconds = tv.tv_sec;
    text[0] = '\0';
    if (localtime_r(&seconds, &local) != nullptr) std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
}

}  // namespace

extern "C" void initWriteLog(void) {
    char path[kPathArea] = {};
    if (getcwd(path, sizeof path) == nullptr) {
        // A directory too long for the path area leaves tracing off; any other
        // failure (the directory was removed, say) looks for the marker at "/".
        if (errno == ERANGE) {
            gWriteLog = 0;
            return;
        }
        path[0] = '\0';
    }
    if (std::strlen(path) + sizeof kMarkerName > sizeof path) {
        gWriteLog = 0;
        return;
    }
    std::strcat(path, kMarkerName);
    gWriteLog = access(path, F_OK) == 0 ? 1 : 0;
}

extern "C" void printDebugLog(const char *functionName, const char *format, ...) {
    if (gWriteLog != 1) return;

    // Opened and closed for every record, so each record is on disk before
    // the call returns.
    std::FILE *log = std::fopen(kLogName, "a+e");
    if (log == nullptr) {
        std::puts("Failed to open log file.");
        return;
    }

    timeval now{};
    gettimeofday(&now, nullptr);
    char timeText[100];
    formatTime(now, timeText);
    const unsigned micros = static_cast<unsigned>(now.tv_usec);

    char *message = nullptr;
    int formatted = -1;
    if (format == nullptr) {
        formatted = asprintf(&message, "%s", "");
    } else {
        va_list args;
        va_start(args, format);
        formatted = vasprintf(&message, format, args);
        va_end(args);
    }

    if (formatted < 0) {
        std::fprintf(log, "%s.%06u  : Failed vasprinterf. Can't write dubug log.\n", timeText, micros);
    } else {
        std::fprintf(log, "%s.%06u  : [%-25s] %s\n", timeText, micros, functionName != nullptr ? functionName : "",
                     message);
        std::free(message);
    }
    std::fclose(log);
}
