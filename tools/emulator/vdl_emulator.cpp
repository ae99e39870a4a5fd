// vdl-emulator: a stand-in printer on TCP for developing without hardware.
//
// It accepts the library's connections one at a time, answers the model query
// with a configurable model name and the status query with a configurable
// byte, and writes every command it receives to a log, one line per command,
// with bytes that are not printable shown as \xNN.
//
//   vdl-emulator [--host 127.0.0.1] [--port 9100] [--model VRL-408]
//                [--status 0] [--log FILE] [--once]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t gStop = 0;

void requestStop(int) { gStop = 1; }

struct Settings {
    std::string host = "127.0.0.1";
    int port = 9100;
    std::string model = "VRL-408";
    int status = 0;
    std::string logPath;
    bool once = false;
};

void usage(const char *program) {
    std::fprintf(stderr,
                 "usage: %s [--host ADDR] [--port N] [--model NAME] [--status BYTE] [--log FILE] [--once]\n"
                 "  --host    address to listen on (default 127.0.0.1)\n"
                 "  --port    TCP port to listen on (default 9100)\n"
                 "  --model   model name sent in answer to the model query (default VRL-408)\n"
                 "  --status  status byte sent in answer to the status query, 0-255 (default 0)\n"
                 "  --log     file that receives the command log (default standard output)\n"
                 "  --once    exit when the first connection ends\n",
                 program);
}

bool parseArguments(int argc, char **argv, Settings &s) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--once") {
            s.once = true;
        } else if (arg == "--host" && hasValue) {
            s.host = argv[++i];
        } else if (arg == "--port" && hasValue) {
            s.port = std::atoi(argv[++i]);
        } else if (arg == "--model" && hasValue) {
            s.model = argv[++i];
        } else if (arg == "--status" && hasValue) {
            s.status = int(std::strtol(argv[++i], nullptr, 0)) & 0xFF;
        } else if (arg == "--log" && hasValue) {
            s.logPath = argv[++i];
        } else {
            return false;
        }
    }
    return s.port > 0 && s.port < 65536;
}

int listenOn(const Settings &s) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(s.port));
    if (inet_pton(AF_INET, s.host.c_str(), &address.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One connection: splits the byte stream into commands at CR or LF.
class Session {
public:
    Session(int fd, const Settings &settings, std::FILE *log) : fd_(fd), settings_(settings), log_(log) {}

    void take(const char *bytes, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const char c = bytes[i];
            if (c == '\r' || c == '\n') {
                endCommand();
            } else {
                command_ += c;
            }
        }
        std::fflush(log_);
    }

    void finish() {
        endCommand();
        std::fflush(log_);
    }

private:
    void endCommand() {
        if (command_.empty()) return;
        if (command_ == "^PI0") {
            answer(settings_.model + "\r\n");
        } else if (command_ == "^cu") {
            answer(std::string(1, char(settings_.status)));
        }
        std::fprintf(log_, "%s\n", printable(command_).c_str());
        command_.clear();
    }

    void answer(const std::string &reply) {
        if (::send(fd_, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) std::perror("vdl-emulator: send");
    }

    static std::string printable(const std::string &command) {
        std::string text;
        for (unsigned char c : command) {
            if (c >= 0x20 && c < 0x7F && c != '\\') {
                text += char(c);
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                text += escaped;
            }
        }
        return text;
    }

    int fd_;
    const Settings &settings_;
    std::FILE *log_;
    std::string command_;
};

// Waits for fd to become readable; false when asked to stop.
bool awaitInput(int fd) {
    while (!gStop) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 500);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

void serve(int fd, const Settings &settings, std::FILE *log) {
    std::fprintf(log, "# connection opened\n");
    Session session(fd, settings, log);
    char bytes[4096];
    while (awaitInput(fd)) {
        const ssize_t n = ::recv(fd, bytes, sizeof bytes, 0);
        if (n <= 0) break;
        session.take(bytes, std::size_t(n));
    }
    session.finish();
    std::fprintf(log, "# connection closed\n");
    std::fflush(log);
    ::close(fd);
}

}  // namespace

int main(int argc, char **argv) {
    Settings settings;
    if (!parseArguments(argc, argv, settings)) {
        usage(argv[0]);
        return 2;
    }
    std::FILE *log = settings.logPath.empty() ? stdout : std::fopen(settings.logPath.c_str(), "w");
    if (log == nullptr) {
        std::perror(settings.logPath.c_str());
        return 1;
    }
    const int listener = listenOn(settings);
    if (listener < 0) {
        std::fprintf(stderr, "vdl-emulator: cannot listen on %s:%d: %s\n", settings.host.c_str(), settings.port,
                     std::strerror(errno));
        return 1;
    }
    signal(SIGINT, requestStop);
    signal(SIGTERM, requestStop);
    std::fprintf(stderr, "vdl-emulator: listening on %s:%d as %s\n", settings.host.c_str(), settings.port,
                 settings.model.c_str());

    while (awaitInput(listener)) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        serve(fd, settings, log);
        if (settings.once) break;
    }
    ::close(listener);
    if (log != stdout) std::fclose(log);
    return 0;
}
