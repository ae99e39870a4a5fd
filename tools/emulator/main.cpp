// vdl-emulator: a VELDRIN label printer on TCP, for developing and testing
// label applications with no printer on the desk.
//
//   vdl-emulator [options]                  the printer port, and with --http the render service
//   vdl-emulator render [options] FILE -o DIR   a saved command stream drawn offline
//
// It answers the model and status queries, decodes every command into a log
// (one line per command, fields named) and draws each printed label into a
// PNG preview.
#include <httplib.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "VdlLabelAPI.h"
#include "VdlZpl.h"
#include "bounded_server.h"
#include "decoded_log.h"
#include "emulated_printer.h"
#include "label_store.h"
#include "option_values.h"
#include "printer_port.h"
#include "render_service.h"
#include "stream_session.h"
#include "text_encoding.h"

namespace {

volatile sig_atomic_t gStop = 0;

void requestStop(int) { gStop = 1; }

constexpr int kNoPort = -1;

struct Options {
    vdlemu::PrinterPortOptions port;
    std::string httpHost = "127.0.0.1";
    int httpPort = kNoPort;
    std::vector<std::string> httpAllowedHosts;
    std::string logPath;
    vdlemu::LogFormat logFormat = vdlemu::LogFormat::Text;
    double paperWidthInches = 4;
    double paperHeightInches = 6;
    bool dpiGiven = false;  // else the model's own resolution, as the library's model table has it
    vdlemu::PrinterConfig printer;
    // render
    bool render = false;
    bool strict = false;
    std::string input;
    std::string outputDirectory;
};

void usage(std::FILE *to, const char *program) {
    std::fprintf(to,
                 "usage: %s [options]\n"
                 "       %s render [--dpi N] [--paper WxH] [--code-page N] [--json] [--strict] FILE|- -o DIR\n"
                 "  --host ADDR          address of the printer port (default 127.0.0.1)\n"
                 "  --port N|none        printer port (default 9100; 0 takes a free port, shown on standard\n"
                 "                       error; none: no printer port)\n"
                 "  --http N             serve the render service and live page on TCP port N (0: a free port)\n"
                 "  --http-host ADDR     its address (default 127.0.0.1)\n"
                 "  --http-allow-host NAME  a host name its requests may give besides its address and\n"
                 "                       localhost (as NAME:PORT; the option may be repeated)\n"
                 "  --model NAME|SLOT    answer to the model query: a name, or a slot of the library's model\n"
                 "                       table (default VRL-408)\n"
                 "  --status BYTE|NAMES  answer to the status query: a number (0x40) or error names joined by\n"
                 "                       commas: paper-presence, ribbon-end, gap-error, head-overheat,\n"
                 "                       cutter-jam, cover-open, paper-empty (default 0)\n"
                 "  --log FILE           decoded log (default standard output)\n"
                 "  --json               write the log as JSON lines\n"
                 "  --preview-dir DIR    directory for the label previews (default .)\n"
                 "  --no-preview         decode and log only\n"
                 "  --capture DIR        save each connection's bytes as DIR/connection-N.prn\n"
                 "  --dpi N              dots per inch of the previews, 50-1200 (default: the model's\n"
                 "                       resolution, 203, 300 or 600)\n"
                 "  --paper WxH          paper size in inches until a paper command sets it (default 4x6)\n"
                 "  --code-page N        code page 0-8 for text that is not UTF-8 and whose font names none\n"
                 "  --once               exit when the first connection ends\n"
                 "render: draws the labels of a saved command stream (FILE, or - for standard input) into\n"
                 "  DIR/label-NNNN.png, with the decoded log in DIR/log.txt (DIR/log.jsonl with --json);\n"
                 "  --strict exits with status 1, printing their log lines, when the stream holds commands\n"
                 "  that are unknown, malformed or cut short.\n",
                 program, program);
}

bool parseModel(const std::string &value, std::string &name) {
    char *end = nullptr;
    const long slot = std::strtol(value.c_str(), &end, 10);
    if (!value.empty() && *end == '\0') {
        if (slot < 0 || slot >= VDL_MODEL_SLOTS || VELDRIN_DEVICE[slot] == nullptr) return false;
        name = VELDRIN_DEVICE[slot];
        return true;
    }
    name = value;
    return !name.empty();
}

bool parsePort(const std::string &value, int &port, bool noneAllowed) {
    if (noneAllowed && value == "none") {
        port = kNoPort;
        return true;
    }
    char *end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    port = int(number);
    return !value.empty() && *end == '\0' && number >= 0 && number <= 65535;
}

// The options without a value.
bool parseFlag(const std::string &arg, Options &o) {
    if (arg == "--once") o.port.once = true;
    else if (arg == "--json") o.logFormat = vdlemu::LogFormat::Json;
    else if (arg == "--no-preview") o.printer.render = false;
    else if (arg == "--strict" && o.render) o.strict = true;
    else return false;
    return true;
}

bool parseValue(const std::string &arg, const std::string &value, Options &o) {
    if (arg == "--dpi") return o.dpiGiven = vdlemu::parseDotsPerInch(value, o.printer.dotsPerInch);
    if (arg == "--paper") return vdlemu::parsePaperInches(value, o.paperWidthInches, o.paperHeightInches);
    if (arg == "--code-page") {
        o.port.parser.fallbackCodePage = std::atoi(value.c_str());
        return vdlemu::codePageName(o.port.parser.fallbackCodePage) != nullptr;
    }
    if (o.render) {
        if (arg != "-o" && arg != "--output") return false;
        o.outputDirectory = value;
        return true;
    }
    if (arg == "--host") o.port.host = value;
    else if (arg == "--port") return parsePort(value, o.port.port, true);
    else if (arg == "--http") return parsePort(value, o.httpPort, false);
    else if (arg == "--http-host") o.httpHost = value;
    else if (arg == "--http-allow-host" && !value.empty()) o.httpAllowedHosts.push_back(value);
    else if (arg == "--model") return parseModel(value, o.printer.modelName);
    else if (arg == "--status") return vdlemu::parseStatus(value, o.printer.status);
    else if (arg == "--log") o.logPath = value;
    else if (arg == "--preview-dir") o.printer.previewDirectory = value;
    else if (arg == "--capture") o.port.captureDirectory = value;
    else return false;
    return true;
}

bool parseArguments(int argc, char **argv, Options &o) {
    int i = 1;
    if (argc > 1 && std::strcmp(argv[1], "render") == 0) {
        o.render = true;
        ++i;
    }
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (parseFlag(arg, o)) continue;
        if (o.render && o.input.empty() && (arg == "-" || arg.rfind("-", 0) != 0)) {
            o.input = arg;
            continue;
        }
        if (i + 1 >= argc || !parseValue(arg, argv[i + 1], o)) return false;
        ++i;
    }
    const int modelDotsPerInch = VdlModelDotsPerInch(getModel(o.printer.modelName.c_str()));
    if (!o.dpiGiven && modelDotsPerInch > 0) o.printer.dotsPerInch = modelDotsPerInch;
    o.printer.paper = vdlemu::paperInDots(o.paperWidthInches, o.paperHeightInches, o.printer.dotsPerInch);
    if (o.render) return !o.input.empty() && !o.outputDirectory.empty();
    return o.port.port != kNoPort || o.httpPort != kNoPort;
}

bool makeDirectory(const std::string &path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

bool makeDirectories(const Options &o) {
    for (const std::string &path : {o.printer.render ? o.printer.previewDirectory : std::string(),
                                    o.port.captureDirectory, o.outputDirectory}) {
        if (!path.empty() && !makeDirectory(path)) {
            std::fprintf(stderr, "vdl-emulator: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
    }
    return true;
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

File openFile(const std::string &path, const char *mode) {
    File file(std::fopen(path.c_str(), mode), std::fclose);
    if (!file) std::fprintf(stderr, "vdl-emulator: %s: %s\n", path.c_str(), std::strerror(errno));
    return file;
}

// Says each label it drew, as its file.
struct RenderReport : vdlemu::StreamListener {
    void command(int, int, const vdlemu::Command &command) override {
        for (const auto &note : command.notes)
            if (note.first == "preview") std::printf("%s\n", note.second.c_str());
    }
    void event(int, const std::string &, const std::string &) override {}
};

// ZPL II as the printer's commands, through the library's translator: the
// emulator is its client here, as any program is, and stays the printer.
// mostLabels (0: any number) is checked first, at once: the translation
// proper pays a printer's pacing (about 20 ms a label) and takes one
// translation at a time in the process.
vdlemu::Translation translateZpl(const std::string &zpl, int mostLabels) {
    vdlemu::Translation t;
    const int labels = mostLabels > 0 ? VdlZplCheck(zpl.data(), zpl.size(), 0, nullptr, nullptr) : 0;
    if (labels > mostLabels) {
        t.messages.push_back("the ZPL prints " + std::to_string(labels) + " labels, more than the " +
                             std::to_string(mostLabels) + " a render draws");
        return t;
    }
    unsigned char *stream = nullptr;
    std::size_t length = 0;
    const int result = VdlZplConvert(
        zpl.data(), zpl.size(), 0, &stream, &length,
        [](void *messages, int line, int column, const char *message) {
            static_cast<std::vector<std::string> *>(messages)->push_back(std::to_string(line) + ":" +
                                                                         std::to_string(column) + ": " + message);
        },
        &t.messages);
    t.ok = result >= 0;
    if (t.ok) t.stream.assign(reinterpret_cast<const char *>(stream), length);
    else if (t.messages.empty()) t.messages.push_back(VdlZplErrorText(result));
    VdlZplFree(stream);
    return t;
}

// A ZPL file for the offline renderer: its commands once translated, the
// translator's warnings said on standard error. False when it cannot be.
bool readZplCommands(const Options &o, std::FILE *input, const char *start, std::size_t startLength, std::string &commands) {
    std::string zpl(start, startLength);
    char bytes[65536];
    std::size_t n = 0;
    while ((n = std::fread(bytes, 1, sizeof bytes, input)) > 0) zpl.append(bytes, n);
    const vdlemu::Translation t = translateZpl(zpl, 0);
    for (const std::string &message : t.messages) std::fprintf(stderr, "%s:%s\n", o.input.c_str(), message.c_str());
    commands = t.stream;
    return t.ok;
}

// The offline renderer: the stream as one connection, through the printer
// the port uses, its previews and log written into the output directory.
// A file of ZPL II is translated first.
int renderFile(Options &o) {
    File input = o.input == "-" ? File(stdin, [](std::FILE *) { return 0; }) : openFile(o.input, "rbe");
    if (!input) return 1;
    char first[65536];
    const std::size_t firstLength = std::fread(first, 1, sizeof first, input.get());
    std::string zplCommands;
    const bool zpl = VdlZplDetect(first, firstLength) != 0;
    if (zpl && !readZplCommands(o, input.get(), first, firstLength, zplCommands)) return 1;
    o.printer.previewDirectory = o.outputDirectory;
    const bool json = o.logFormat == vdlemu::LogFormat::Json;
    File logFile = openFile(o.outputDirectory + (json ? "/log.jsonl" : "/log.txt"), "we");
    if (!logFile) return 1;
    vdlemu::DecodedLog log(logFile.get(), o.logFormat);
    vdlemu::FaultLines faults;
    RenderReport report;
    vdlemu::ListenerList listeners;
    listeners.add(log);
    listeners.add(faults);
    listeners.add(report);
    vdlemu::EmulatedPrinter printer(o.printer);
    vdlemu::StreamSession session(1, printer, listeners, o.port.parser);
    if (zpl) {
        session.receive(zplCommands.data(), zplCommands.size());
    } else {
        session.receive(first, firstLength);
        char bytes[65536];
        std::size_t n = 0;
        while ((n = std::fread(bytes, 1, sizeof bytes, input.get())) > 0) session.receive(bytes, n);
    }
    if (std::ferror(input.get())) {
        std::fprintf(stderr, "vdl-emulator: %s: %s\n", o.input.c_str(), std::strerror(errno));
        return 1;
    }
    session.finish();
    if (faults.count() == 0) return 0;
    std::fprintf(stderr, "vdl-emulator: %s%s\n", faults.summary().c_str(), o.strict ? ":" : " (see the log)");
    if (!o.strict) return 0;
    std::fputs(faults.text().c_str(), stderr);
    return 1;
}

// The render service's server thread does not take the signals: they stop
// the printer port's loop, which then stops the server.
class HttpThread {
public:
    HttpThread(httplib::Server &server) : server_(server) {
        sigset_t signals, previous;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, &previous);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    ~HttpThread() {
        server_.stop();
        thread_.join();
    }

private:
    httplib::Server &server_;
    std::thread thread_;
};

int serve(const Options &o) {
    File logFile = o.logPath.empty() ? File(stdout, [](std::FILE *) { return 0; }) : openFile(o.logPath, "we");
    if (!logFile) return 1;
    vdlemu::DecodedLog log(logFile.get(), o.logFormat);
    vdlemu::LabelStore store;
    vdlemu::ListenerList listeners;
    listeners.add(log);
    if (o.httpPort != kNoPort) listeners.add(store);
    vdlemu::EmulatedPrinter printer(o.printer);

    vdlemu::PrinterPort port(o.port, printer, listeners);
    if (o.port.port != kNoPort && !port.listen()) {
        std::fprintf(stderr, "vdl-emulator: cannot listen on %s:%d: %s\n", o.port.host.c_str(), o.port.port,
                     std::strerror(errno));
        return 1;
    }
    if (o.port.port != kNoPort) {
        std::fprintf(stderr, "vdl-emulator: listening on %s:%d as %s, status 0x%02X, paper %dx%d dots at %d dpi%s%s\n",
                     o.port.host.c_str(), port.port(), o.printer.modelName.c_str(), o.printer.status,
                     o.printer.paper.width, o.printer.paper.height, o.printer.dotsPerInch,
                     o.printer.render ? ", previews in " : "", o.printer.render ? o.printer.previewDirectory.c_str() : "");
    }
    vdlemu::BoundedServer http;
    vdlemu::PrinterConfig renderDefaults = o.printer;
    vdlemu::RenderService service(renderDefaults, o.port.parser, store, printer, o.httpAllowedHosts);
    service.translateZplWith(
        [](const std::string &zpl) { return translateZpl(zpl, vdlemu::RenderService::kMaxLabelsPerRequest); });
    std::unique_ptr<HttpThread> httpThread;
    if (o.httpPort != kNoPort) {
        service.attach(http);
        const int httpPort = o.httpPort == 0 ? http.bind_to_any_port(o.httpHost) : o.httpPort;
        if (httpPort < 0 || (o.httpPort != 0 && !http.bind_to_port(o.httpHost, o.httpPort))) {
            std::fprintf(stderr, "vdl-emulator: cannot serve HTTP on %s:%d\n", o.httpHost.c_str(), o.httpPort);
            return 1;
        }
        const bool ipv6 = o.httpHost.find(':') != std::string::npos;
        std::fprintf(stderr, "vdl-emulator: render service on http://%s%s%s:%d/\n", ipv6 ? "[" : "",
                     o.httpHost.c_str(), ipv6 ? "]" : "", httpPort);
        httpThread = std::make_unique<HttpThread>(http);
    }
    std::fflush(stderr);

    if (o.port.port != kNoPort) {
        port.run(gStop);
    } else {
        while (!gStop) ::poll(nullptr, 0, 250);
    }
    service.stop();
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    // Few memory arenas for many threads: a render's memory is reused by the
    // next one on any thread instead of each thread keeping its own.
    mallopt(M_ARENA_MAX, 4);
    Options options;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        usage(stdout, argv[0]);
        return 0;
    }
    if (!parseArguments(argc, argv, options)) {
        usage(stderr, argv[0]);
        return 2;
    }
    if (!makeDirectories(options)) return 1;
    signal(SIGPIPE, SIG_IGN);
    if (options.render) return renderFile(options);

    struct sigaction stop = {};
    stop.sa_handler = requestStop;  // no SA_RESTART: poll returns at once
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    return serve(options);
}
