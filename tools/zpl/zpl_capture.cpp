#include "zpl_capture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "VdlLabelAPI.h"

namespace vdlzpl {

namespace {

constexpr char kModelQuery[] = "^PI0\r\n";
constexpr int kConnectWaitMs = 10000;  // for the library to connect; then as long as it stays connected

// The first label printer of the model table: the answer the library's
// model check accepts. The library reads that answer into 20 bytes and waits
// for more until they are filled (most of a second for a short answer), so
// the name comes padded with spaces to fill them.
std::string modelReply() {
    constexpr std::size_t kReplyArea = 20;
    std::string name;
    for (int slot = 151; slot <= 190 && name.empty(); ++slot)
        if (VELDRIN_DEVICE[slot] != nullptr) name = VELDRIN_DEVICE[slot];
    if (name.size() < kReplyArea - 2) name.resize(kReplyArea - 2, ' ');
    return name + "\r\n";
}

bool readable(int fd, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, waitMs) == 1;
}

}  // namespace

Capture::~Capture() {
    if (listener_ >= 0) ::shutdown(listener_, SHUT_RDWR);  // wakes a wait for a connection that never came
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
}

bool Capture::start() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return false;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
    return true;
}

std::string Capture::portName() const { return "127.0.0.1:" + std::to_string(port_); }

// Answers the model query, then keeps everything until the library hangs up.
void Capture::serve() {
    if (!readable(listener_, kConnectWaitMs)) return;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::string received;
    char chunk[65536];
    bool answered = false;
    // The library is in this process and hangs up when the translation ends,
    // however long the translation (or a caller's message callback) takes.
    while (readable(fd, -1)) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            if (n == 0 && answered) outcome_ = Outcome::whole;
            break;
        }
        received.append(chunk, std::size_t(n));
        if (!answered && received.size() >= sizeof kModelQuery - 1) {
            if (received.compare(0, sizeof kModelQuery - 1, kModelQuery) != 0) break;
            const std::string reply = modelReply();
            if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) != ssize_t(reply.size())) break;
            received.erase(0, sizeof kModelQuery - 1);
            answered = true;
        }
        if (received.size() > kMostBytes) {
            outcome_ = Outcome::tooMuch;
            break;
        }
    }
    bytes_ = std::move(received);
    ::close(fd);
}

Capture::Outcome Capture::finish(std::string &bytes) {
    if (thread_.joinable()) thread_.join();
    bytes = std::move(bytes_);
    return outcome_;
}

}  // namespace vdlzpl
