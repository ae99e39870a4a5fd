#include "printer_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vdlemu {

namespace {

std::string peerName(const sockaddr_in &peer) {
    char address[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
}

}  // namespace

struct PrinterPort::Connection {
    Connection(int fd, int id, EmulatedPrinter &printer, StreamListener &listener, const ParserOptions &options)
        : fd(fd), session(id, printer, listener, options, [fd](const std::string &answer) {
              return ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(answer.size());
          }) {}

    int fd;
    StreamSession session;
    std::chrono::steady_clock::time_point lastHeard = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastCommand = lastHeard;  // when a command last came whole
    int commandsSeen = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> capture{nullptr, std::fclose};
};

PrinterPort::PrinterPort(PrinterPortOptions options, EmulatedPrinter &printer, StreamListener &listener)
    : options_(std::move(options)), printer_(printer), listener_(listener) {}

PrinterPort::~PrinterPort() {
    if (listener_fd_ >= 0) ::close(listener_fd_);
}

bool PrinterPort::listen() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(options_.port));
    socklen_t length = sizeof address;
    if (inet_pton(AF_INET, options_.host.c_str(), &address.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    listener_fd_ = fd;
    port_ = ntohs(address.sin_port);
    return true;
}

void PrinterPort::run(const volatile std::sig_atomic_t &stop) {
    while (!stop && !(options_.once && firstEnded_)) {
        closeIdle();
        std::vector<pollfd> watched;
        if (!options_.once || nextId_ == 1) watched.push_back({listener_fd_, POLLIN, 0});
        for (const Connection &c : connections_) watched.push_back({c.fd, POLLIN, 0});
        // A stop that arrives between the look at `stop` and the poll would
        // not wake a poll without end: it is seen within a quarter second.
        if (::poll(watched.data(), watched.size(), 250) < 0) {
            if (errno == EINTR) continue;
            std::perror("vdl-emulator: poll");
            break;
        }
        for (const pollfd &p : watched) {
            if (p.revents == 0) continue;
            if (p.fd == listener_fd_) {
                accept();
                continue;
            }
            for (Connection &c : connections_) {
                if (c.fd == p.fd) {
                    serve(c);
                    break;
                }
            }
        }
    }
    while (!connections_.empty()) close(connections_.front(), "by the emulator", "it stops");
}

void PrinterPort::accept() {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(listener_fd_, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (connections_.size() >= kMaxConnections) closeStalled();
    if (connections_.size() >= kMaxConnections) {
        const std::string why = peerName(peer) + ": " + std::to_string(kMaxConnections) +
                                " connections are open (one silent for " + std::to_string(kIdleSeconds) +
                                " s is closed)";
        listener_.event(0, "refused", why);
        // Said on standard error too, as the log may go nowhere; once a second at most.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastRefusalSaid_ >= std::chrono::seconds(1)) {
            std::fprintf(stderr, "vdl-emulator: refused a connection from %s\n", why.c_str());
            lastRefusalSaid_ = now;
        }
        ::close(fd);
        return;
    }
    connections_.emplace_back(fd, nextId_++, printer_, listener_, options_.parser);
    const std::string captured = startCapture(connections_.back());
    listener_.event(connections_.back().session.connection(), "opened", "from " + peerName(peer) + captured);
}

// The bytes as received, to be rendered again offline or kept as a test's input.
std::string PrinterPort::startCapture(Connection &connection) {
    if (options_.captureDirectory.empty()) return "";
    const std::string path =
        options_.captureDirectory + "/connection-" + std::to_string(connection.session.connection()) + ".prn";
    connection.capture.reset(std::fopen(path.c_str(), "wbe"));
    if (!connection.capture) return "; not captured: " + path + ": " + std::strerror(errno);
    return "; captured in " + path;
}

// A connection (with its stream, unfinished) found idle is closed by an
// turn of the poll loop, which wakes every quarter second.
void PrinterPort::closeIdle() {
    const auto silentSince = std::chrono::steady_clock::now() - std::chrono::seconds(kIdleSeconds);
    for (auto c = connections_.begin(); c != connections_.end();) {
        Connection &connection = *c++;
        if (connection.lastHeard <= silentSince)
            close(connection, "by the emulator", "silent for " + std::to_string(kIdleSeconds) + " s");
    }
}

// At the connection limit, a connection that has sent no whole command for
// kIdleSeconds (a byte now and then keeps it from being silent) makes room for
// the one knocking; only then, as a large bitmap may take long to arrive.
void PrinterPort::closeStalled() {
    const auto stalledSince = std::chrono::steady_clock::now() - std::chrono::seconds(kIdleSeconds);
    auto stalest = connections_.end();
    for (auto c = connections_.begin(); c != connections_.end(); ++c)
        if (c->lastCommand <= stalledSince && (stalest == connections_.end() || c->lastCommand < stalest->lastCommand))
            stalest = c;
    if (stalest != connections_.end())
        close(*stalest, "by the emulator", "no whole command for " + std::to_string(kIdleSeconds) + " s, and the port is full");
}

void PrinterPort::serve(Connection &connection) {
    char bytes[65536];
    const ssize_t n = ::recv(connection.fd, bytes, sizeof bytes, 0);
    connection.lastHeard = std::chrono::steady_clock::now();
    if (n > 0) {
        if (connection.capture) {
            std::fwrite(bytes, 1, std::size_t(n), connection.capture.get());
            std::fflush(connection.capture.get());
        }
        connection.session.receive(bytes, std::size_t(n));
        if (connection.session.commands() != connection.commandsSeen) {
            connection.commandsSeen = connection.session.commands();
            connection.lastCommand = connection.lastHeard;
        }
    } else if (n == 0) {
        close(connection, "by the peer", "");
    } else if (errno == ECONNRESET) {
        close(connection, "reset", "by the peer");
    } else if (errno != EINTR && errno != EAGAIN) {
        close(connection, "failed", std::strerror(errno));
    }
}

// Logs what was left unfinished, then the end of the connection.
void PrinterPort::close(Connection &connection, const std::string &how, const std::string &detail) {
    connection.session.finish();
    const int id = connection.session.connection();
    listener_.event(id, "closed", detail.empty() ? how : how + " " + detail);
    ::close(connection.fd);
    if (id == 1) firstEnded_ = true;
    connections_.remove_if([id](const Connection &c) { return c.session.connection() == id; });
}

}  // namespace vdlemu
