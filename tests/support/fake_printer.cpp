#include "fake_printer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <vector>

namespace vdltest {
namespace {

std::vector<FakePrinter *> &livePrinters() {
    static std::vector<FakePrinter *> printers;
    return printers;
}

const std::string kModelQuery = "^PI0\r\n";
const std::string kStatusQuery = "^cu\r";

}  // namespace

FakePrinter::FakePrinter(FakePrinterOptions options) : options_(std::move(options)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        throw std::runtime_error("fake printer cannot listen");
    port_ = ntohs(address.sin_port);
    livePrinters().push_back(this);
}

FakePrinter::~FakePrinter() {
    auto &printers = livePrinters();
    printers.erase(std::remove(printers.begin(), printers.end(), this), printers.end());
    closePeer(false);
    ::close(listener_);
}

std::string FakePrinter::portName() const { return "127.0.0.1:" + std::to_string(port_); }

const std::string &FakePrinter::received() {
    pump();
    return received_;
}

void FakePrinter::pumpAll() {
    for (FakePrinter *printer : std::vector<FakePrinter *>(livePrinters())) printer->pump();
}

void FakePrinter::pump() {
    acceptPending();
    if (peer_ < 0) return;
    readAvailable();
    if (peer_ < 0) return;
    answerQueries();
    sendNextReplies();
}

void FakePrinter::acceptPending() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        closePeer(false);
        peer_ = fd;
        peerIsSocket_ = peerIsTcp_ = true;
        // The printer's own replies go out at once, whatever it sent before.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
}

void FakePrinter::readAvailable() {
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(peer_, chunk, sizeof chunk);
        if (n == 0) {
            closePeer(false);
            return;
        }
        if (n < 0) {
            // The client closed with a reply unread: a reset ends the connection too.
            if (errno != EAGAIN && errno != EWOULDBLOCK) closePeer(false);
            return;
        }
        received_.append(chunk, std::size_t(n));
        conversation_.append(chunk, std::size_t(n));
        acknowledgeNow();
    }
}

// The library leaves Nagle's algorithm on, as it must: a small write waits
// in the kernel until what it sent before is acknowledged. A receiver that
// delays its acknowledgements (40 ms and more) would make the next command
// wait for real time, which never passes in these tests: whether a reply came
// would then depend on how fast the test ran. So what was read is
// acknowledged before the pump returns, as a printer's small stack does.
void FakePrinter::acknowledgeNow() {
    if (!peerIsTcp_) return;
    const int on = 1;
    ::setsockopt(peer_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

void FakePrinter::answerQueries() {
    for (;;) {
        const std::size_t model = conversation_.find(kModelQuery, scanned_);
        const std::size_t status = conversation_.find(kStatusQuery, scanned_);
        const std::size_t next = std::min(model, status);
        if (next == std::string::npos) {
            // Scan again from where a query split over two reads may start.
            const std::size_t tail = kModelQuery.size() - 1;
            if (conversation_.size() > tail) scanned_ = std::max(scanned_, conversation_.size() - tail);
            return;
        }
        if (next == model) {
            if (!options_.modelReply.empty()) queueReply(options_.modelReply);
            scanned_ = model + kModelQuery.size();
        } else {
            if (options_.statusReply >= 0) queueReply(std::string(1, char(options_.statusReply)));
            scanned_ = status + kStatusQuery.size();
        }
    }
}

void FakePrinter::queueReply(const std::string &reply) {
    const std::size_t pieces = std::max<std::size_t>(1, std::min<std::size_t>(options_.replyPieces, reply.size()));
    const std::size_t size = (reply.size() + pieces - 1) / pieces;
    for (std::size_t at = 0; at < reply.size(); at += size) pendingReplies_.push_back(reply.substr(at, size));
}

void FakePrinter::sendNextReplies() {
    const bool onePiecePerPump = options_.replyPieces > 1;
    while (!pendingReplies_.empty()) {
        const std::string &piece = pendingReplies_.front();
        const ssize_t sent = peerIsSocket_ ? ::send(peer_, piece.data(), piece.size(), MSG_NOSIGNAL)
                                           : ::write(peer_, piece.data(), piece.size());
        if (sent != ssize_t(piece.size())) return;
        pendingReplies_.pop_front();
        if (onePiecePerPump) return;
    }
}

void FakePrinter::resetConnection() { closePeer(true); }

void FakePrinter::serve(int fd) {
    closePeer(false);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    struct stat st {};
    peerIsSocket_ = ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
    peerIsTcp_ = false;  // a pseudo-terminal or one end of a socket pair
    peer_ = fd;
}

int FakePrinter::attachDevice() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) throw std::runtime_error("no socket pair");
    serve(pair[1]);
    return pair[0];
}

void FakePrinter::closePeer(bool reset) {
    if (peer_ < 0) return;
    if (reset) {
        const linger abort{1, 0};
        ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(peer_);
    peer_ = -1;
    conversation_.clear();
    scanned_ = 0;
    pendingReplies_.clear();
}

}  // namespace vdltest
