// vdl-printer-app: VELDRIN label printers as IPP Everywhere printers. One
// executable is the server and its command-line client (PAPPL's main loop),
// and, started by the server with a hidden argument, a printer's worker.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pappl/pappl.h>

#include "access_control.h"
#include "device_scheme.h"
#include "document_format.h"
#include "driver.h"
#include "zpl_document.h"
#include "job_order.h"
#include "local_socket.h"
#include "picture_filter.h"
#include "request_gate.h"
#include "server_lifecycle.h"
#include "web_pages.h"
#include "worker.h"

namespace vdlapp {
namespace {

constexpr const char *kName = "vdl-printer-app";
constexpr const char *kVersion = "1.0.0";

// The state directory: -o state-directory=DIR, else $VDL_PRINTER_APP_STATE,
// else /var/lib/vdl-printer-app for root and $XDG_STATE_HOME/vdl-printer-app
// (~/.local/state/vdl-printer-app) for anyone else.
std::string stateDirectory(int count, cups_option_t *options) {
    if (const char *dir = cupsGetOption("state-directory", count, options)) return dir;
    if (const char *dir = std::getenv("VDL_PRINTER_APP_STATE")) return dir;
    if (::getuid() == 0) return std::string("/var/lib/") + kName;
    if (const char *xdg = std::getenv("XDG_STATE_HOME")) return std::string(xdg) + "/" + kName;
    const char *home = std::getenv("HOME");
    return std::string(home ? home : "/tmp") + "/.local/state/" + kName;
}

pappl_loglevel_t logLevel(const char *name) {
    static const struct { const char *name; pappl_loglevel_t level; } kLevels[] = {
        {"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO}, {"warn", PAPPL_LOGLEVEL_WARN},
        {"error", PAPPL_LOGLEVEL_ERROR}, {"fatal", PAPPL_LOGLEVEL_FATAL}};
    for (const auto &l : kLevels)
        if (name && std::strcmp(name, l.name) == 0) return l.level;
    return PAPPL_LOGLEVEL_WARN;
}

// The server and its sub-commands meet at the socket by the state directory,
// which PAPPL takes from the environment: set before its main loop starts.
void placeLocalSocket(int argc, char *argv[]) {
    cups_option_t *options = nullptr;
    const int count = commandLineOptions(argc, argv, &options);
    const std::string dir = stateDirectory(count, options);
    cupsFreeOptions(count, options);
    ::setenv("VDL_PRINTER_APP_STATE", dir.c_str(), 1);  // a server PAPPL starts for a sub-command keeps to it
    useSocketDirectory(socketDirectory(dir, argv[0]));
}

// -o document-timeout=SECONDS, 1 to the most the queue allows; false for any other text.
bool takeDocumentTimeout(const char *text) {
    if (!text) return true;
    char *end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || seconds < 1 || seconds > kMaxDocumentTimeout) return false;
    setDocumentTimeout(int(seconds));
    return true;
}

// How long a server runs without a job or a request: -o idle-timeout=SECONDS
// (1 to a day), else 60 s for a private server (one a sub-command started
// because none ran: nobody would stop it) and no end for any other.
constexpr int kPrivateServerIdleSeconds = 60;
constexpr long kMaxIdleSeconds = 86400;

std::optional<int> idleTimeout(int count, cups_option_t *options) {
    const char *text = cupsGetOption("idle-timeout", count, options);
    if (!text) return cupsGetOption("private-server", count, options) ? kPrivateServerIdleSeconds : 0;
    char *end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || seconds < 1 || seconds > kMaxIdleSeconds) return std::nullopt;
    return int(seconds);
}

// The server's system. Safe defaults: it listens on the loopback interface
// only (-o listen-hostname=NAME, or '*' for every interface, serves the
// network), and only its own user and root change it unless an
// authentication service is named (-o auth-service=PAM-SERVICE).
pappl_system_t *createSystem(int count, cups_option_t *options, void *) {
    blockStopSignals();
    const std::string dir = stateDirectory(count, options);
    const std::string spool = dir + "/spool";
    if (!makeDirectories(spool)) {
        std::fprintf(stderr, "%s: cannot create the state directory %s: %s\n", kName, dir.c_str(), std::strerror(errno));
        return nullptr;
    }
    // One server a state directory: a second one (a sub-command's private
    // server while the real one is still starting, say) would spool the same
    // jobs again and save over the first one's state.
    static const int lock = ::open((dir + "/" + kName + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        // A private server leaves without a word: the sub-command that started
        // it reaches the server that holds the lock, and its user has nothing to mend.
        if (lock >= 0 && cupsGetOption("private-server", count, options)) ::_exit(0);
        std::fprintf(stderr, "%s: another server uses the state directory %s\n", kName, dir.c_str());
        return nullptr;
    }
    if (!makeSocketDirectoryPrivate()) {
        std::fprintf(stderr, "%s: the socket directory %s cannot be made private to this user: %s\n", kName,
                     chosenSocketDirectory().c_str(), std::strerror(errno));
        return nullptr;
    }
    const char *rawSocket = cupsGetOption("raw-socket", count, options);
    if (rawSocket && std::strcmp(rawSocket, "on") != 0 && std::strcmp(rawSocket, "off") != 0) {
        std::fprintf(stderr, "%s: raw-socket takes on or off.\n", kName);
        return nullptr;
    }
    if (!takeDocumentTimeout(cupsGetOption("document-timeout", count, options))) {
        std::fprintf(stderr, "%s: document-timeout takes 1 to %d seconds.\n", kName, kMaxDocumentTimeout);
        return nullptr;
    }
    const std::optional<int> idle = idleTimeout(count, options);
    if (!idle) {
        std::fprintf(stderr, "%s: idle-timeout takes 1 to %ld seconds.\n", kName, kMaxIdleSeconds);
        return nullptr;
    }
    const char *portText = cupsGetOption("server-port", count, options);
    const int port = portText ? std::atoi(portText) : 0;
    const char *listen = cupsGetOption("listen-hostname", count, options);
    const char *authService = cupsGetOption("auth-service", count, options);
    int soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG;
    if (authService) soptions |= PAPPL_SOPTIONS_WEB_REMOTE | PAPPL_SOPTIONS_WEB_SECURITY;
    // TLS guards traffic that leaves the machine; loopback traffic never
    // does. A server on localhost alone offers none, and so tells its
    // clients one URI with one security, as PAPPL lists them for localhost.
    if (!listen) soptions |= PAPPL_SOPTIONS_NO_TLS;
    // -o raw-socket=on: each printer also takes jobs sent straight to a TCP
    // port (9100 for the first printer, 9101 for the second, ...), as
    // software that prints ZPL or the printer's commands to a printer's
    // address does. Off by default: the ports are the usual printers' own.
    if (rawSocket && std::strcmp(rawSocket, "on") == 0) soptions |= PAPPL_SOPTIONS_RAW_SOCKET;

    pappl_system_t *system = papplSystemCreate(pappl_soptions_t(soptions), "VELDRIN label printers", port,
                                               "_print,_universal", spool.c_str(),
                                               cupsGetOption("log-file", count, options),
                                               logLevel(cupsGetOption("log-level", count, options)), authService,
                                               false);
    if (!system) return nullptr;
    if (!papplSystemAddListeners(system, listen ? listen : "localhost")) {
        std::fprintf(stderr, "%s: cannot listen on %s.\n", kName, listen ? listen : "localhost");
        papplSystemDelete(system);
        return nullptr;
    }
    papplSystemSetPrinterDrivers(system, kDriverCount, kDrivers, autoAddCallback, printerCreated, driverCallback, nullptr);
    watchNewJobs(system);
    openRequestGate(system, listen);
    installAccessControl(system);
    addWebPages(system);
    papplSystemSetMIMECallback(system, mimeTypeCallback, nullptr);
    papplSystemAddMIMEFilter(system, "image/png", kCommandsFormat, pngFilter, nullptr);
    papplSystemAddMIMEFilter(system, "image/jpeg", kCommandsFormat, jpegFilter, nullptr);
    papplSystemAddMIMEFilter(system, "application/octet-stream", kCommandsFormat, unknownFormatFilter, nullptr);
    papplSystemAddMIMEFilter(system, kZplFormat, kCommandsFormat, zplFilter, nullptr);
    papplSystemSetFooterHTML(system, "VELDRIN label printers through libVdlLabelAPI");
    pappl_version_t version{};
    snprintf(version.name, sizeof version.name, "%s", kName);
    snprintf(version.sversion, sizeof version.sversion, "%s", kVersion);
    version.version[0] = 1;
    papplSystemSetVersions(system, 1, &version);

    static std::string statePath;
    statePath = dir + "/" + kName + ".state";
    loadState(system, statePath, spool);
    papplSystemSetSaveCallback(system, saveState, const_cast<char *>(statePath.c_str()));
    watchLifecycle(system, statePath, *idle);
    papplSystemAddTimerCallback(system, 0, 1, showPrinterStates, nullptr);
    return system;
}

}  // namespace
}  // namespace vdlapp

int main(int argc, char *argv[]) {
    if (argc >= 2 && std::strcmp(argv[1], vdlapp::kWorkerArgument) == 0) return vdlapp::runWorker();
    vdlapp::addDeviceScheme();
    vdlapp::placeLocalSocket(argc, argv);
    return papplMainloop(argc, argv, vdlapp::kVersion, nullptr, vdlapp::kDriverCount, vdlapp::kDrivers,
                         vdlapp::autoAddCallback, vdlapp::driverCallback, "shutdown", vdlapp::shutdownSubcommand,
                         vdlapp::createSystem, nullptr, nullptr);
}
