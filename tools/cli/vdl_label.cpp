// vdl-label: the library from the shell, for scripts and for diagnosing a
// printer installation. Uses the public API only (and, for `discover`, the
// USB printer-class device-ID ioctl, to list printers the library would not
// open).
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "VdlLabelAPI.hpp"
#include "VdlZpl.h"

namespace {

// ---------------------------------------------------------------------------
// Results in words (the words themselves live in VdlLabelAPI.hpp)
// ---------------------------------------------------------------------------

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2, kPrinterError = 3 };

// A failure of the library said in words with its code:
// "vdl-label: WHAT: WORDS (CODE)".
int fail(const std::system_error &error) {
    std::cerr << "vdl-label: " << error.what();
    if (error.code().category() == vdl::category()) std::cerr << " (" << error.code().value() << ")";
    std::cerr << "\n";
    return kFailed;
}

int usageError(const std::string &message) {
    std::cerr << "vdl-label: " << message << " (see vdl-label --help)\n";
    return kUsage;
}

// ---------------------------------------------------------------------------
// ZPL: print and convert
// ---------------------------------------------------------------------------

// A warning of the translator as a compiler says it: "FILE:LINE:COLUMN: WORDS".
void sayZplMessage(void *file, int line, int column, const char *message) {
    std::cerr << static_cast<const char *>(file) << ":" << line << ":" << column << ": " << message << "\n";
}

bool readZpl(const std::string &path, std::string &zpl);

int zplFailure(const std::string &path, int code) {
    std::cerr << "vdl-label: " << path << ": " << VdlZplErrorText(code) << " (" << code << ")\n";
    return kFailed;
}

// ---------------------------------------------------------------------------
// Command table: one source for --help and the man page
// ---------------------------------------------------------------------------

struct Invocation {
    std::string port;
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;
    std::map<std::string, int> numbers;  // the numeric options, checked against their ranges

    bool has(const std::string &name) const { return options.count(name) != 0; }
    int number(const std::string &name, int otherwise) const {
        return numbers.count(name) != 0 ? numbers.at(name) : otherwise;
    }
};

struct Option {
    const char *name;      // without the dashes
    const char *argument;  // nullptr for a switch
    const char *help;
};

struct Command {
    const char *name;
    const char *synopsis;
    const char *summary;
    std::vector<Option> options;
    int (*run)(const Invocation &);
    const char *operand = nullptr;  // the one operand it takes, in words; nullptr: none
};

int runDiscover(const Invocation &);
int runStatus(const Invocation &);
int runSend(const Invocation &);
int runImage(const Invocation &);
int runAction(const Invocation &);
int runTestLabel(const Invocation &);
int runSettings(const Invocation &);
int runPrint(const Invocation &);
int runConvert(const Invocation &);

const std::vector<Command> &commands() {
    static const std::vector<Command> table = {
        {"discover", "discover", "List the USB printer nodes with their IEEE 1284 manufacturer and model, and whether "
                                 "the library accepts them. Needs no --port.",
         {}, runDiscover},
        {"status", "status", "Ask the printer for its error state and name each error. Exit status 3 when the "
                             "printer reports an error.",
         {}, runStatus},
        {"send", "send FILE|-", "Send the bytes of FILE (or of standard input) to the printer as they are.",
         {{"progress", nullptr, "show progress on standard error even when it is not a terminal"}}, runSend,
         "FILE, or - for standard input"},
        {"image", "image FILE [--x N] [--y N] [--compress] [--no-print]",
         "Print a label of a picture at x, y: BMP, JPEG, GIF or PNG, known by its content whatever the file's "
         "name (PNG: pixels darker than mid grey print black, transparent ones stay white).",
         {{"x", "N", "left edge in dots, 0 to 65535 (default 0)"},
          {"y", "N", "top edge in dots, 0 to 65535 (default 0)"},
          {"compress", nullptr, "send it run-length encoded (faster over slow lines)"},
          {"no-print", nullptr, "send the bitmap only, to compose it with other content"},
          {"progress", nullptr, "show progress on standard error even when it is not a terminal"}},
         runImage, "FILE"},
        {"print", "print FILE|- [--strict]",
         "Print the labels of a ZPL II file (recognised by its content): each is translated into the printer's own "
         "text, barcode and graphic commands. What has no counterpart is named in a warning and skipped.",
         {{"strict", nullptr, "refuse a label that needs a warning (exit status 1)"}}, runPrint,
         "FILE, or - for standard input"},
        {"convert", "convert FILE|- [--output FILE] [--strict]",
         "Translate a ZPL II file into the bytes the printer would receive, without a printer: `vdl-emulator "
         "render` draws them. Needs no --port.",
         {{"output", "FILE", "where the bytes go (-o FILE; default standard output)"},
          {"strict", nullptr, "refuse a label that needs a warning (exit status 1)"}},
         runConvert, "FILE, or - for standard input"},
        {"calibrate", "calibrate", "Make the printer measure its media.", {}, runAction},
        {"feed", "feed", "Feed one label.", {}, runAction},
        {"reset", "reset", "Reset the printer.", {}, runAction},
        {"test-label", "test-label [--paper W,H[,MEDIA[,OFFSET[,GAP]]]]",
         "Print a test label: a frame, the printer's model, the date, a barcode and a QR code, sized to the paper "
         "given, else to the paper last set with this tool for the port, else 3 x 2 inches at 203 dpi.",
         {{"paper", "W,H[,MEDIA[,OFFSET[,GAP]]]", "set the paper first and size the label to it"}}, runTestLabel},
        {"settings", "settings [--speed N] [--density N] [--paper W,H[,MEDIA[,OFFSET[,GAP]]]]",
         "Send print settings; a value the printer cannot take is refused (exit status 2). MEDIA is gap "
         "(default), continuous or mark. The paper is remembered for test-label.",
         {{"speed", "N", "print speed, 0 to 12"},
          {"density", "N", "print density, 0 to 20"},
          {"paper", "W,H[,MEDIA[,OFFSET[,GAP]]]", "label width and height in dots, media type, offset, gap length"}},
         runSettings},
    };
    return table;
}

const Command *findCommand(const std::string &name) {
    for (const Command &c : commands())
        if (name == c.name) return &c;
    return nullptr;
}

constexpr const char *kDefaultPort = "127.0.0.1:9100";

void printHelp() {
    std::cout << "usage: vdl-label [--port PORT] COMMAND [OPTIONS]\n\n"
                 "Drive a VELDRIN label printer from the shell.\n\n"
                 "  --port PORT   the printer: USB, /dev/ttyS0:9600, SERIAL:9600, /dev/lp0, PARALLEL,\n"
                 "                a Bluetooth address, or IPv4:port (default "
              << kDefaultPort << ", or $VDL_PORT)\n"
                                 "  --help        this text; COMMAND --help for one command\n"
                                 "  --man         the manual page, in roff\n"
                                 "  --version     the version of vdl-label and of the library it was built with\n\ncommands:\n";
    for (const Command &c : commands()) std::printf("  %-12s %s\n", c.name, c.summary);
}

void printCommandHelp(const Command &c) {
    std::cout << "usage: vdl-label [--port PORT] " << c.synopsis << "\n\n" << c.summary << "\n";
    for (const Option &o : c.options)
        std::printf("  --%s%s%s\n      %s\n", o.name, o.argument ? " " : "", o.argument ? o.argument : "", o.help);
}

void printManPage() {
    std::cout << ".TH VDL-LABEL 1 \"\" \"VdlLabelAPI\" \"User Commands\"\n"
                 ".SH NAME\nvdl-label \\- drive a VELDRIN label printer from the shell\n"
                 ".SH SYNOPSIS\n.B vdl-label\n[\\fB\\-\\-port\\fR \\fIPORT\\fR] \\fICOMMAND\\fR [\\fIOPTIONS\\fR]\n"
                 ".SH DESCRIPTION\nSends commands to a label printer through libVdlLabelAPI and reports the "
                 "outcome in words.\n"
                 ".SH OPTIONS\n.TP\n\\fB\\-\\-port\\fR \\fIPORT\\fR\nThe printer: USB, /dev/ttyS0:9600, "
                 "SERIAL:9600, /dev/lp0, PARALLEL, a Bluetooth address, or an IPv4 address and port. Default "
              << kDefaultPort << ", or the environment variable VDL_PORT.\n"
                 ".TP\n\\fB\\-\\-version\\fR\nThe version of vdl-label and of the library it was built with.\n"
                 ".SH COMMANDS\n";
    for (const Command &c : commands()) {
        std::cout << ".TP\n\\fB" << c.synopsis << "\\fR\n" << c.summary << "\n";
        for (const Option &o : c.options)
            std::cout << ".RS\n.TP\n\\fB\\-\\-" << o.name << "\\fR" << (o.argument ? " \\fI" : "")
                      << (o.argument ? o.argument : "") << (o.argument ? "\\fR" : "") << "\n"
                      << o.help << "\n.RE\n";
    }
    std::cout << ".SH EXIT STATUS\n0 success; 1 the printer or the connection failed (the reason is printed); "
                 "2 wrong usage; 3 the printer reports an error.\n"
                 ".SH ENVIRONMENT\n.TP\n.B VDL_PORT\nThe printer when \\fB\\-\\-port\\fR is not given.\n"
                 ".SH FILES\n.TP\n.I $XDG_STATE_HOME/vdl-label-paper\n"
                 "The paper last set with \\fBsettings \\-\\-paper\\fR for each port, for \\fBtest-label\\fR "
                 "(\\fI~/.local/state/vdl-label-paper\\fR without XDG_STATE_HOME).\n"
                 ".SH EXAMPLES\n.nf\n"
                 "vdl-label discover\n"
                 "vdl-label \\-\\-port 192.168.1.50:9100 status\n"
                 "vdl-label \\-\\-port USB settings \\-\\-speed 4 \\-\\-paper 800,1200\n"
                 "vdl-label \\-\\-port USB image logo.png \\-\\-x 40 \\-\\-y 40\n"
                 "VDL_PORT=/dev/ttyS0:115200 vdl-label send label.prn\n"
                 ".fi\n"
                 ".SH SEE ALSO\n.BR vdl-printer-app (1),\n.BR lp (1)\n";
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

int runStatus(const Invocation &in) {
    vdl::Printer printer(in.port);
    const vdl::Status status = printer.status();
    std::cout << printer.model() << ": " << vdl::to_string(status) << "\n";
    return status.ready() ? kOk : kPrinterError;
}

// The bytes of a file, or of standard input for "-"; false with errno set
// when it cannot be read (a directory opens, but its read fails).
bool readAll(const std::string &name, std::string &bytes) {
    std::FILE *file = name == "-" ? stdin : std::fopen(name.c_str(), "rbe");
    if (file == nullptr) return false;
    char chunk[64 * 1024];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, n);
    const int readError = std::ferror(file) ? errno : 0;
    if (file != stdin) std::fclose(file);
    errno = readError;
    return readError == 0;
}

// Sends in pieces so that a long send over a slow line shows how far it got.
void sendWithProgress(vdl::Printer &printer, const std::string &bytes, bool progress) {
    constexpr std::size_t kPiece = 4096;
    for (std::size_t sent = 0; sent < bytes.size();) {
        const std::size_t n = std::min(kPiece, bytes.size() - sent);
        printer.write(std::string_view(bytes).substr(sent, n));
        sent += n;
        if (progress)
            std::fprintf(stderr, "\rsent %zu of %zu bytes (%zu%%)", sent, bytes.size(), sent * 100 / bytes.size());
    }
    if (progress) std::fputc('\n', stderr);
}

int runSend(const Invocation &in) {
    std::string bytes;
    if (!readAll(in.operands[0], bytes)) {
        std::cerr << "vdl-label: cannot read " << in.operands[0] << ": " << std::strerror(errno) << "\n";
        return kFailed;
    }
    vdl::Printer printer(in.port);
    constexpr std::size_t kWorthShowing = 64 * 1024;
    sendWithProgress(printer, bytes, in.has("progress") || (bytes.size() > kWorthShowing && isatty(STDERR_FILENO)));
    std::cout << "sent " << bytes.size() << " bytes\n";
    return kOk;
}

// The file's bytes, when they are ZPL; else says why not.
bool readZpl(const std::string &path, std::string &zpl) {
    if (!readAll(path, zpl)) {
        std::cerr << "vdl-label: cannot read " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    if (!VdlZplDetect(zpl.data(), zpl.size())) {
        std::cerr << "vdl-label: " << path << " is not ZPL (it does not begin as ZPL does: ^XA, a comment or a download); "
                  << "`vdl-label send` sends the printer's own commands, `vdl-label image` pictures\n";
        return false;
    }
    return true;
}

int runPrint(const Invocation &in) {
    std::string zpl;
    const std::string &path = in.operands[0];
    if (!readZpl(path, zpl)) return kFailed;
    vdl::Printer printer(in.port);
    const unsigned flags = in.has("strict") ? VDL_ZPL_STRICT : 0;
    const int printed = VdlZplPrint(zpl.data(), zpl.size(), flags, sayZplMessage, const_cast<char *>(path.c_str()));
    if (printed < 0) return zplFailure(path, printed);
    std::cout << "printed " << printed << (printed == 1 ? " label\n" : " labels\n");
    return kOk;
}

int runConvert(const Invocation &in) {
    std::string zpl;
    const std::string &path = in.operands[0];
    if (!readZpl(path, zpl)) return kFailed;
    unsigned char *stream = nullptr;
    std::size_t length = 0;
    const unsigned flags = in.has("strict") ? VDL_ZPL_STRICT : 0;
    const int labels = VdlZplConvert(zpl.data(), zpl.size(), flags, &stream, &length, sayZplMessage,
                                     const_cast<char *>(path.c_str()));
    if (labels < 0) return zplFailure(path, labels);
    const std::unique_ptr<unsigned char, void (*)(void *)> owned(stream, VdlZplFree);
    const std::string output = in.has("output") ? in.options.at("output") : "-";
    bool written = false;
    if (output == "-") {
        std::cout.write(reinterpret_cast<const char *>(stream), std::streamsize(length));
        std::cout.flush();
        written = bool(std::cout);
    } else {
        std::ofstream file(output, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char *>(stream), std::streamsize(length));
        file.close();
        written = bool(file);
    }
    if (!written) {
        std::cerr << "vdl-label: cannot write " << (output == "-" ? "standard output" : output) << ": "
                  << std::strerror(errno) << "\n";
        return kFailed;
    }
    std::cerr << "converted " << labels << (labels == 1 ? " label, " : " labels, ") << length << " bytes\n";
    return kOk;
}

// Shows on standard error how long a call that sends a lot has been at it:
// one library call can take seconds over a serial line.
class ProgressTicker {
public:
    ProgressTicker(bool show, std::string what) : what_(std::move(what)) {
        if (show) thread_ = std::thread([this] { tick(); });
    }
    ~ProgressTicker() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
        std::fputc('\n', stderr);
    }
    ProgressTicker(const ProgressTicker &) = delete;
    ProgressTicker &operator=(const ProgressTicker &) = delete;

private:
    void tick() {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(mutex_);
        do {
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::fprintf(stderr, "\r%s: %.1f s", what_.c_str(), seconds);
        } while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return done_; }));
    }

    std::string what_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
};

int runImage(const Invocation &in) {
    const std::string &file = in.operands[0];
    const int x = in.number("x", 0), y = in.number("y", 0);
    if (access(file.c_str(), R_OK) != 0) {
        std::cerr << "vdl-label: cannot read " << file << ": " << std::strerror(errno) << "\n";
        return kFailed;
    }
    vdl::Printer printer(in.port);
    {
        ProgressTicker ticker(in.has("progress") || isatty(STDERR_FILENO), "sending " + file);
        // Any picture by its content, PNG and a JPEG named *.jpeg included.
        try {
            printer.printBitmap(file, x, y, in.has("compress"));
        } catch (const vdl::Error &error) {  // said of the file, not of the call
            std::cerr << "vdl-label: " << file << ": " << error.code().message() << " (" << error.code().value()
                      << ")\n";
            return kFailed;
        }
    }
    if (in.has("no-print")) {
        std::cout << "image " << file << " sent, not printed\n";
        return kOk;
    }
    printer.print();
    std::cout << "image " << file << " printed\n";
    return kOk;
}

int runAction(const Invocation &in) {
    using Action = void (vdl::Printer::*)();
    static const std::map<std::string, Action> actions = {{"calibrate", &vdl::Printer::calibrateMedia},
                                                          {"feed", &vdl::Printer::feedOneLabel},
                                                          {"reset", &vdl::Printer::reset}};
    vdl::Printer printer(in.port);
    (printer.*actions.at(in.options.at("command")))();
    return kOk;
}

bool parseNumber(const std::string &text, int &value) {
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = int(parsed);
    return true;
}

struct Paper {
    int width = 0, height = 0, media = 0, offset = 0, gap = 24;
};

bool parsePaper(const std::string &text, Paper &paper) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        parts.push_back(text.substr(start, comma - start));
    parts.push_back(text.substr(start));
    if (parts.size() < 2 || parts.size() > 5) return false;
    static const std::map<std::string, int> media = {{"gap", 0}, {"continuous", 1}, {"mark", 2}};
    if (parts.size() > 2 && media.count(parts[2]) == 0) return false;
    if (parts.size() > 2) paper.media = media.at(parts[2]);
    return parseNumber(parts[0], paper.width) && parseNumber(parts[1], paper.height) && paper.width > 0 &&
           paper.height > 0 &&
           (parts.size() < 4 || parseNumber(parts[3], paper.offset)) &&
           (parts.size() < 5 || parseNumber(parts[4], paper.gap));
}

// The paper last set through `settings --paper` for each port, so that a test
// label fits the media without being told again. One "PORT WIDTH HEIGHT" line a port.
std::string paperMemoryPath() {
    const char *state = std::getenv("XDG_STATE_HOME");
    const char *home = std::getenv("HOME");
    if (state != nullptr && *state == '/') return std::string(state) + "/vdl-label-paper";
    return home != nullptr && *home != '\0' ? std::string(home) + "/.local/state/vdl-label-paper" : "";
}

std::optional<Paper> rememberedPaper(const std::string &port) {
    std::ifstream file(paperMemoryPath());
    std::string name;
    Paper paper;
    while (file >> name >> paper.width >> paper.height)
        if (name == port) return paper;
    return std::nullopt;
}

void rememberPaper(const std::string &port, const Paper &paper) {
    const std::string path = paperMemoryPath();
    if (path.empty()) return;
    std::error_code ignored;  // without the memory the tool still works
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::string kept, line;
    for (std::ifstream file(path); std::getline(file, line);)
        if (line.compare(0, port.size() + 1, port + " ") != 0) kept += line + "\n";
    std::ofstream(path, std::ios::trunc) << kept << port << " " << paper.width << " " << paper.height << "\n";
}

int runSettings(const Invocation &in) {
    if (!in.has("speed") && !in.has("density") && !in.has("paper")) return usageError("settings: nothing to set");
    Paper paper;
    if (in.has("paper") && !parsePaper(in.options.at("paper"), paper))
        return usageError("--paper wants WIDTH,HEIGHT[,gap|continuous|mark[,OFFSET[,GAP]]] with sizes above 0");
    vdl::Printer printer(in.port);
    if (in.has("paper")) {
        printer.setPaper(paper.width, paper.height, vdl::MediaType(paper.media), paper.offset, paper.gap);
        rememberPaper(in.port, paper);
    }
    if (in.has("speed")) printer.setSpeed(in.number("speed", 0));
    if (in.has("density")) printer.setDensity(in.number("density", 0));
    std::cout << "settings sent";
    if (in.has("speed")) std::cout << "; speed " << gSpeed;
    if (in.has("density")) std::cout << "; density " << gDensity;
    if (in.has("paper")) std::cout << "; paper " << gPaperWidth << " x " << gPaperHeight;
    std::cout << "\n";
    return kOk;
}

// A frame around the label and what fits inside it: title, model, date, a
// barcode, and a QR code when the label is wide enough.
void composeTestLabel(vdl::Printer &printer, const Paper &paper) {
    constexpr int kMargin = 10, kInset = 30;
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
    const std::string model = "MODEL " + std::string(printer.model());
    printer.printBlock(kMargin, kMargin, paper.width - kMargin, paper.height - kMargin, vdl::BlockOption::box, 3);
    const struct {
        const char *text;
        int y;
        vdl::DeviceFont font;
    } lines[] = {{"VDL-LABEL TEST", 30, vdl::DeviceFont::f4}, {model.c_str(), 90, vdl::DeviceFont::f3},
                 {date, 130, vdl::DeviceFont::f3}};
    for (const auto &line : lines)
        if (line.y + 40 < paper.height - kMargin) printer.printDeviceFont(line.text, kInset, line.y, line.font);
    const int barHeight = std::min(100, paper.height - kMargin - 200);
    if (barHeight >= 30) printer.print1DBarcode("VDL0123456789", kInset, 180, vdl::Symbology::code128, 2, 4, barHeight);
    if (paper.width >= 560 && paper.height >= 340)
        printer.printQRCode(model, paper.width - 170, 180, 2, 1, 4);
}

int runTestLabel(const Invocation &in) {
    // Without --paper: the paper last set through this tool, else 3 x 2 inches at 203 dpi.
    Paper paper{609, 406};
    if (in.has("paper") && !parsePaper(in.options.at("paper"), paper))
        return usageError("--paper wants WIDTH,HEIGHT[,gap|continuous|mark[,OFFSET[,GAP]]] with sizes above 0");
    if (!in.has("paper")) paper = rememberedPaper(in.port).value_or(paper);
    vdl::Printer printer(in.port);
    if (in.has("paper")) {
        printer.setPaper(paper.width, paper.height, vdl::MediaType(paper.media), paper.offset, paper.gap);
        rememberPaper(in.port, paper);
    }
    composeTestLabel(printer, paper);
    printer.print();
    std::cout << "test label of " << paper.width << " x " << paper.height << " dots printed on " << printer.model()
              << "\n";
    return kOk;
}

// --- discover ----------------------------------------------------------------

// The printer-class driver's device-ID request: read, type 'P', number 1, 1024 bytes.
constexpr unsigned long kGetDeviceId = 0x84005001UL;

// The value of an IEEE 1284 device-ID field, by its short or its long key.
std::string idField(const std::string &id, const char *shortKey, const char *longKey) {
    std::size_t at = id.find(shortKey);
    std::size_t keyLength = std::strlen(shortKey);
    if (at == std::string::npos) {
        at = id.find(longKey);
        keyLength = std::strlen(longKey);
    }
    if (at == std::string::npos) return "";
    const std::size_t start = at + keyLength;
    const std::size_t end = id.find(';', start);
    return id.substr(start, std::min<std::size_t>((end == std::string::npos ? id.size() : end) - start, 63));
}

int modelSlot(const std::string &model) {
    for (int slot = 1; slot < VDL_MODEL_SLOTS; ++slot)
        if (VELDRIN_DEVICE[slot] && strcasestr(model.c_str(), VELDRIN_DEVICE[slot])) return slot;
    return 0;
}

std::string verdict(const std::string &manufacturer, const std::string &model) {
    if (manufacturer.rfind("VELDRIN", 0) != 0 && manufacturer.rfind("KADMER", 0) != 0) return "no: another maker";
    const int slot = modelSlot(model);
    if (slot == 0) return "no: model not in the model table";
    if (slot < 151 || slot > 190) return "no: a printer of the maker, but not a label printer";
    return std::string("yes: ") + VELDRIN_DEVICE[slot];
}

int runDiscover(const Invocation &) {
    static const char *const kForms[] = {"/dev/usblp%d", "/dev/usb/lp%d", "/dev/usb/usblp%d"};
    int found = 0;
    for (int index = 0; index < 16; ++index) {
        for (const char *form : kForms) {
            char node[32];
            std::snprintf(node, sizeof node, form, index);
            if (access(node, F_OK) != 0) continue;
            ++found;
            const int fd = open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                std::printf("%-18s cannot be opened: %s\n", node, std::strerror(errno));
                break;
            }
            unsigned char area[1024] = {};
            const bool answered = ioctl(fd, kGetDeviceId, area) == 0;
            close(fd);
            const std::string id = answered ? std::string(reinterpret_cast<char *>(area) + 2, strnlen(
                                                  reinterpret_cast<char *>(area) + 2, sizeof area - 2))
                                            : "";
            const std::string manufacturer = idField(id, "MFG:", "MANUFACTURER:");
            const std::string model = idField(id, "MDL:", "MODEL:");
            std::printf("%-18s manufacturer \"%s\", model \"%s\": %s\n", node, manufacturer.c_str(), model.c_str(),
                        verdict(manufacturer, model).c_str());
            break;
        }
    }
    if (found == 0) std::puts("no USB printer nodes (/dev/usblp*, /dev/usb/lp*, /dev/usb/usblp*)");
    return kOk;
}

// ---------------------------------------------------------------------------
// Arguments
// ---------------------------------------------------------------------------

const Option *findOption(const Command &c, const std::string &name) {
    for (const Option &o : c.options)
        if (name == o.name) return &o;
    return nullptr;
}

// Values the printer takes (the bitmap commands' position fields hold 0 to
// 65535): the library would bring anything else into range without a word,
// so the tool refuses it instead, whichever command the option belongs to.
struct Range {
    const char *option;
    int low, high;
};
constexpr Range kRanges[] = {{"speed", 0, 12}, {"density", 0, 20}, {"x", 0, 65535}, {"y", 0, 65535}};

// The numeric options given, into in.numbers; the usage error for one that
// is not a number in its range.
std::optional<std::string> readNumbers(Invocation &in) {
    for (const Range &r : kRanges) {
        if (!in.has(r.option)) continue;
        int &value = in.numbers[r.option];
        if (!parseNumber(in.options.at(r.option), value) || value < r.low || value > r.high)
            return "--" + std::string(r.option) + " takes " + std::to_string(r.low) + " to " + std::to_string(r.high) +
                   ", not " + in.options.at(r.option);
    }
    return std::nullopt;
}

// The operands a command takes: one where it names one, else none.
std::optional<std::string> checkOperands(const Command &c, const std::vector<std::string> &operands) {
    if (c.operand != nullptr && operands.size() != 1) return std::string(c.name) + " takes one " + c.operand;
    if (c.operand == nullptr && !operands.empty()) return std::string(c.name) + " takes no operand, not " + operands[0];
    return std::nullopt;
}

}  // namespace

int main(int argc, char **argv) {
    // A reader that went away (convert's output piped into head) is a failed
    // write, said and exited on, not a signal that kills the tool.
    std::signal(SIGPIPE, SIG_IGN);
    Invocation in;
    const char *fromEnvironment = std::getenv("VDL_PORT");
    in.port = fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : kDefaultPort;

    int i = 1;
    for (; i < argc && argv[i][0] == '-' && std::strcmp(argv[i], "-") != 0; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printHelp();
            return kOk;
        }
        if (arg == "--man") {
            printManPage();
            return kOk;
        }
        if (arg == "--version") {
            std::cout << "vdl-label " VDL_VERSION_STRING "\n";
            return kOk;
        }
        if (arg == "--port") {
            if (i + 1 == argc) return usageError("--port wants PORT");
            in.port = argv[++i];
            continue;
        }
        return usageError("unknown option " + arg);
    }
    if (i == argc) return usageError("no command given");
    const Command *command = findCommand(argv[i]);
    if (command == nullptr) return usageError(std::string("unknown command ") + argv[i]);
    in.options["command"] = command->name;

    for (++i; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printCommandHelp(*command);
            return kOk;
        }
        if (arg == "-o") arg = "--output";
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            in.operands.push_back(arg);
            continue;
        }
        if (arg == "--port") {
            if (i + 1 == argc) return usageError("--port wants PORT");
            in.port = argv[++i];
            continue;
        }
        const Option *option = findOption(*command, arg.substr(2));
        if (option == nullptr) return usageError(std::string(command->name) + ": unknown option " + arg);
        if (option->argument != nullptr && i + 1 >= argc) return usageError(arg + " wants " + option->argument);
        in.options[option->name] = option->argument != nullptr ? argv[++i] : "";
    }
    if (const auto problem = checkOperands(*command, in.operands)) return usageError(*problem);
    if (const auto problem = readNumbers(in)) return usageError(*problem);
    try {
        return command->run(in);
    } catch (const std::system_error &error) {
        return fail(error);
    }
}
