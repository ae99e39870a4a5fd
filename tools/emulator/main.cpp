// vdl-emulator: a VELDRIN label printer on TCP, for developing and testing
// label applications with no printer on the desk.
//
// It accepts the library's connections, answers the model and status
// queries, decodes every command into a log (one line per command, fields
// named) and draws each printed label into a PNG preview.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>

#include "VdlLabelAPI.h"
#include "decoded_log.h"
#include "parser.h"
#include "emulated_printer.h"
#include "text_encoding.h"

namespace {

volatile sig_atomic_t gStop = 0;

void requestStop(int) { gStop = 1; }

constexpr std::size_t kMaxConnections = 16;

struct Options {
    std::string host = "127.0.0.1";
    int port = 9100;
    std::string logPath;
    vdlemu::LogFormat logFormat = vdlemu::LogFormat::Text;
    double paperWidthInches = 4;
    double paperHeightInches = 6;
    bool once = false;
    vdlemu::PrinterConfig printer;
    vdlemu::ParserOptions parser;
};

void usage(std::FILE *to, const char *program) {
    std::fprintf(to,
                 "usage: %s [options]\n"
                 "  --host ADDR          address to listen on (default 127.0.0.1)\n"
                 "  --port N             TCP port (default 9100; 0 takes a free port, shown on standard error)\n"
                 "  --model NAME|SLOT    answer to the model query: a name, or a slot of the library's model\n"
                 "                       table (default VRL-408)\n"
                 "  --status BYTE|NAMES  answer to the status query: a number (0x40) or error names joined by\n"
                 "                       commas: paper-presence, ribbon-end, gap-error, head-overheat,\n"
                 "                       cutter-jam, cover-open, paper-empty (default 0)\n"
                 "  --log FILE           decoded log (default standard output)\n"
                 "  --json               write the log as JSON lines\n"
                 "  --preview-dir DIR    directory for the label previews (default .)\n"
                 "  --no-preview         decode and log only\n"
                 "  --dpi N              dots per inch of the previews (default 203)\n"
                 "  --paper WxH          paper size in inches until a paper command sets it (default 4x6)\n"
                 "  --code-page N        code page 0-8 for text that is not UTF-8 and whose font names none\n"
                 "  --once               exit when the first connection ends\n",
                 program);
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

bool parseStatus(const std::string &value, uint8_t &status) {
    static const struct {
        const char *name;
        int bit;
    } kBits[] = {{"paper-presence", VDL_STATUS_PAPER_PRESENCE}, {"ribbon-end", VDL_STATUS_RIBBON_END},
                 {"gap-error", VDL_STATUS_GAP_ERROR},           {"head-overheat", VDL_STATUS_HEAD_OVERHEAT},
                 {"cutter-jam", VDL_STATUS_CUTTER_JAM},         {"cover-open", VDL_STATUS_COVER_OPEN},
                 {"paper-empty", VDL_STATUS_PAPER_EMPTY}};
    char *end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 0);
    if (!value.empty() && *end == '\0') {
        status = uint8_t(number);
        return number >= 0 && number <= 255;
    }
    status = 0;
    std::size_t from = 0;
    while (from <= value.size()) {
        const std::size_t comma = std::min(value.find(',', from), value.size());
        const std::string name = value.substr(from, comma - from);
        bool known = false;
        for (const auto &bit : kBits) {
            if (name == bit.name) {
                status = uint8_t(status | bit.bit);
                known = true;
            }
        }
        if (!known) return false;
        from = comma + 1;
    }
    return true;
}

bool parsePaper(const std::string &value, double &width, double &height) {
    return std::sscanf(value.c_str(), "%lfx%lf", &width, &height) == 2 && width > 0 && height > 0;
}

bool parseArguments(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string value = hasValue ? argv[i + 1] : "";
        bool usedValue = true;
        if (arg == "--once") {
            o.once = true;
            usedValue = false;
        } else if (arg == "--json") {
            o.logFormat = vdlemu::LogFormat::Json;
            usedValue = false;
        } else if (arg == "--no-preview") {
            o.printer.render = false;
            usedValue = false;
        } else if (!hasValue) {
            return false;
        } else if (arg == "--host") {
            o.host = value;
        } else if (arg == "--port") {
            o.port = std::atoi(value.c_str());
            if (o.port < 0 || o.port > 65535) return false;
        } else if (arg == "--model") {
            if (!parseModel(value, o.printer.modelName)) return false;
        } else if (arg == "--status") {
            if (!parseStatus(value, o.printer.status)) return false;
        } else if (arg == "--log") {
            o.logPath = value;
        } else if (arg == "--preview-dir") {
            o.printer.previewDirectory = value;
        } else if (arg == "--dpi") {
            o.printer.dotsPerInch = std::atoi(value.c_str());
            if (o.printer.dotsPerInch < 50 || o.printer.dotsPerInch > 1200) return false;
        } else if (arg == "--paper") {
            if (!parsePaper(value, o.paperWidthInches, o.paperHeightInches)) return false;
        } else if (arg == "--code-page") {
            o.parser.fallbackCodePage = std::atoi(value.c_str());
            if (vdlemu::codePageName(o.parser.fallbackCodePage) == nullptr) return false;
        } else {
            return false;
        }
        if (usedValue) ++i;
    }
    const auto dots = [&](double inches) {
        return int(std::lround(std::min(inches * o.printer.dotsPerInch, double(vdlemu::kMaxPaperSide))));
    };
    o.printer.paper.width = std::max(dots(o.paperWidthInches), 1);
    o.printer.paper.height = std::max(dots(o.paperHeightInches), 1);
    return true;
}

int listenOn(const Options &o, int &port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(o.port));
    socklen_t length = sizeof address;
    if (inet_pton(AF_INET, o.host.c_str(), &address.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::string peerName(const sockaddr_in &peer) {
    char address[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
}

// One client: its own byte stream and command numbering. All clients share
// the one printer, as they would a real one.
struct Connection {
    Connection(int fd, int id, const vdlemu::ParserOptions &options) : fd(fd), id(id), parser(options) {}

    int fd;
    int id;
    int sequence = 0;
    vdlemu::Parser parser;
};

class Server {
public:
    Server(const Options &options, vdlemu::DecodedLog &log)
        : options_(options), log_(log), printer_(options.printer) {}

    // Serves until stopped (or, with --once, until the first connection ends).
    void run(int listener) {
        while (!gStop && !(options_.once && firstEnded_)) {
            std::vector<pollfd> watched;
            if (!options_.once || nextId_ == 1) watched.push_back({listener, POLLIN, 0});
            for (const Connection &c : connections_) watched.push_back({c.fd, POLLIN, 0});
            // A stop that arrives between the look at gStop and the poll would
            // not wake a poll without end: it is seen within a quarter second.
            if (::poll(watched.data(), watched.size(), 250) < 0) {
                if (errno == EINTR) continue;
                std::perror("vdl-emulator: poll");
                break;
            }
            for (const pollfd &p : watched) {
                if (p.revents == 0) continue;
                if (p.fd == listener) accept(listener);
                else serve(p.fd);
            }
        }
        while (!connections_.empty()) close(connections_.front(), "by the emulator", "it stops");
    }

private:
    void accept(int listener) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listener, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) return;
        if (connections_.size() >= kMaxConnections) {
            log_.event(0, "refused", peerName(peer) + ": " + std::to_string(kMaxConnections) + " connections are open");
            ::close(fd);
            return;
        }
        connections_.emplace_back(fd, nextId_++, options_.parser);
        log_.event(connections_.back().id, "opened", "from " + peerName(peer));
    }

    void serve(int fd) {
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            if (it->fd != fd) continue;
            char bytes[65536];
            const ssize_t n = ::recv(fd, bytes, sizeof bytes, 0);
            if (n > 0) {
                it->parser.feed(bytes, std::size_t(n));
                vdlemu::Command command;
                while (it->parser.next(command)) act(*it, command);
            } else if (n == 0) {
                close(*it, "by the peer", "");
            } else if (errno == ECONNRESET) {
                close(*it, "reset", "by the peer");
            } else if (errno != EINTR && errno != EAGAIN) {
                close(*it, "failed", std::strerror(errno));
            }
            return;
        }
    }

    void act(Connection &connection, vdlemu::Command &command) {
        const std::string answer = printer_.handle(command);
        if (!answer.empty() &&
            ::send(connection.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != ssize_t(answer.size()))
            command.note("problem", "the answer could not be sent");
        log_.command(connection.id, ++connection.sequence, command);
    }

    // Logs what was left unfinished, then the end of the connection.
    void close(Connection &connection, const std::string &how, const std::string &detail) {
        vdlemu::Command rest;
        if (connection.parser.finish(rest)) act(connection, rest);
        log_.event(connection.id, "closed", detail.empty() ? how : how + " " + detail);
        ::close(connection.fd);
        if (connection.id == 1) firstEnded_ = true;
        const int id = connection.id;
        connections_.remove_if([id](const Connection &c) { return c.id == id; });
    }

    const Options &options_;
    vdlemu::DecodedLog &log_;
    vdlemu::EmulatedPrinter printer_;
    std::list<Connection> connections_;
    int nextId_ = 1;
    bool firstEnded_ = false;
};

bool makeDirectory(const std::string &path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        usage(stdout, argv[0]);
        return 0;
    }
    if (!parseArguments(argc, argv, options)) {
        usage(stderr, argv[0]);
        return 2;
    }
    if (options.printer.render && !makeDirectory(options.printer.previewDirectory)) {
        std::fprintf(stderr, "vdl-emulator: cannot create %s: %s\n", options.printer.previewDirectory.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::FILE *out = options.logPath.empty() ? stdout : std::fopen(options.logPath.c_str(), "we");
    if (out == nullptr) {
        std::fprintf(stderr, "vdl-emulator: %s: %s\n", options.logPath.c_str(), std::strerror(errno));
        return 1;
    }
    int port = 0;
    const int listener = listenOn(options, port);
    if (listener < 0) {
        std::fprintf(stderr, "vdl-emulator: cannot listen on %s:%d: %s\n", options.host.c_str(), options.port,
                     std::strerror(errno));
        return 1;
    }
    struct sigaction stop = {};
    stop.sa_handler = requestStop;  // no SA_RESTART: poll returns at once
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::fprintf(stderr, "vdl-emulator: listening on %s:%d as %s, status 0x%02X, paper %dx%d dots at %d dpi%s%s\n",
                 options.host.c_str(), port, options.printer.modelName.c_str(), options.printer.status,
                 options.printer.paper.width, options.printer.paper.height, options.printer.dotsPerInch,
                 options.printer.render ? ", previews in " : "",
                 options.printer.render ? options.printer.previewDirectory.c_str() : "");
    std::fflush(stderr);

    vdlemu::DecodedLog log(out, options.logFormat);
    Server(options, log).run(listener);
    ::close(listener);
    if (out != stdout) std::fclose(out);
    return 0;
}
