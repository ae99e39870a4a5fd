#include "bounded_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

namespace vdlemu {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point when) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, 3'600'000));
}

// 0 when the time passed; else what poll says.
int waitFor(int fd, short events, int milliseconds) {
    pollfd p{fd, events, 0};
    int ready;
    do ready = ::poll(&p, 1, milliseconds);
    while (ready < 0 && errno == EINTR);
    return ready;
}

void addressOf(int fd, bool peer, std::string &ip, int &port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int got = peer ? ::getpeername(fd, reinterpret_cast<sockaddr *>(&address), &length)
                         : ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    if (got != 0) return;
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in &>(address);
        inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        port = ntohs(in.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto &in = reinterpret_cast<const sockaddr_in6 &>(address);
        inet_ntop(AF_INET6, &in.sin6_addr, text, sizeof text);
        port = ntohs(in.sin6_port);
    }
    ip = text;
}

// A connection whose reads end at the request's deadline as well as at
// each read's timeout; buffered, as httplib reads a request's head a byte
// at a time.
class DeadlineStream : public httplib::Stream {
public:
    DeadlineStream(int fd, int readSeconds, int writeSeconds)
        : fd_(fd), readMilliseconds_(readSeconds * 1000), writeMilliseconds_(writeSeconds * 1000) {}

    // Waits for the next request's first byte while patient(milliseconds waited) says so.
    template <typename Patient>
    bool awaitRequest(Patient patient) {
        const Clock::time_point from = Clock::now();
        while (at_ == end_) {
            const int ready = waitFor(fd_, POLLIN, 100);
            if (ready != 0) return ready > 0;
            if (!patient(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count())) return false;
        }
        return true;
    }
    void startRequest() {
        closing = false;
        deadline_ = Clock::now() + std::chrono::seconds(BoundedServer::kRequestSeconds);
        timedOut_ = false;
    }
    bool timedOut() const { return timedOut_; }
    bool closing = false;

    bool clientGone() const {
        pollfd p{fd_, POLLRDHUP, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    }

    bool is_readable() const override { return at_ != end_ || waitFor(fd_, POLLIN, readWait()) > 0; }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, writeMilliseconds_) > 0; }

    ssize_t read(char *bytes, std::size_t size) override {
        if (at_ == end_) {
            const int wait = readWait();
            if (waitFor(fd_, POLLIN, wait) <= 0) {
                timedOut_ = wait < readMilliseconds_;  // the deadline came before the read's timeout
                return -1;
            }
            ssize_t n;
            do n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            at_ = 0;
            end_ = std::size_t(n);
        }
        const std::size_t count = std::min(size, end_ - at_);
        std::copy(buffer_ + at_, buffer_ + at_ + count, bytes);
        at_ += count;
        return ssize_t(count);
    }

    ssize_t write(const char *bytes, std::size_t size) override {
        if (waitFor(fd_, POLLOUT, writeMilliseconds_) <= 0) return -1;
        ssize_t n;
        do n = ::send(fd_, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        return n < 0 && errno == EAGAIN ? 0 : n;
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { addressOf(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { addressOf(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    int readWait() const { return std::min(readMilliseconds_, millisecondsUntil(deadline_)); }

    int fd_;
    int readMilliseconds_;
    int writeMilliseconds_;
    Clock::time_point deadline_ = Clock::now();
    bool timedOut_ = false;
    char buffer_[4096];
    std::size_t at_ = 0;
    std::size_t end_ = 0;
};

thread_local DeadlineStream *tServing = nullptr;

// Connections being served. Each holds a worker thread, also while it waits
// for its next request: when many do, one that has nothing to say is let go
// at once, so that idle connections (a few hundred sockets opened and left)
// cannot keep the threads from those that have a request.
std::atomic<int> gServing{0};
constexpr int kCrowded = 12;
constexpr int kCrowdedWaitMilliseconds = 200;

struct Serving {
    Serving() { ++gServing; }
    ~Serving() { --gServing; }
};

}  // namespace

bool BoundedServer::clientGone() { return tServing != nullptr && tServing->clientGone(); }

bool BoundedServer::requestTimedOut() { return tServing != nullptr && tServing->timedOut(); }

void BoundedServer::closeAfterAnswer() {
    if (tServing != nullptr) tServing->closing = true;
}

// httplib's keep-alive loop, on a DeadlineStream: each request gets its own
// deadline from its first byte.
bool BoundedServer::process_and_close_socket(socket_t sock) {
    const Serving serving;
    DeadlineStream stream(sock, int(read_timeout_sec_), int(write_timeout_sec_));
    tServing = &stream;
    bool served = false;
    const auto patient = [this](long long waited) {
        const long long allowed = gServing > kCrowded ? kCrowdedWaitMilliseconds : keep_alive_timeout_sec_ * 1000;
        return svr_sock_ != INVALID_SOCKET && waited < allowed;
    };
    for (std::size_t left = keep_alive_max_count_; left > 0 && stream.awaitRequest(patient); --left) {
        stream.startRequest();
        bool closed = false;
        served = process_request(stream, left == 1, closed, nullptr);
        if (!served || closed || stream.closing) break;
    }
    // Cut off inside its request line, httplib answers nothing: the client is told here.
    if (!served && stream.timedOut()) {
        const std::string said = "the request did not arrive whole within " + std::to_string(kRequestSeconds) + " s\n";
        const std::string answer = "HTTP/1.1 408 Request Timeout\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                    "Connection: close\r\nContent-Length: " + std::to_string(said.size()) + "\r\n\r\n" + said;
        stream.write(answer.data(), answer.size());
    }
    tServing = nullptr;
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
}

}  // namespace vdlemu
