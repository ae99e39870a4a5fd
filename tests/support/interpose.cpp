#include "interpose.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "fake_printer.h"

// The stand-ins must be visible to a shared library the program links, not
// only to the objects linked into the program itself.
#pragma GCC visibility push(default)

namespace vdltest {







template <typename F>
F realFunction(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace vdltest

extern "C" int usleep(useconds_t microseconds) {
    vdltest::pauses().push_back(unsigned(microseconds / 1000));
    vdltest::pausesMicroseconds().push_back(unsigned(microseconds));
    vdltest::FakePrinter::pumpAll();
    return 0;
}

extern "C" int poll(struct pollfd *fds, nfds_t count, int timeout) {
    using Poll = int (*)(struct pollfd *, nfds_t, int);
    static const Poll realPoll = vdltest::realFunction<Poll>("poll");
    vdltest::PollLog &log = vdltest::pollLog();
    log.timeouts.push_back(timeout);
    if (log.pretendTimeout) return 0;
    if (log.interruptions > 0) {
        --log.interruptions;
        errno = EINTR;
        return -1;
    }
    return realPoll(fds, count, timeout);
}

extern "C" ssize_t send(int fd, const void *data, size_t length, int flags) {
    using Send = ssize_t (*)(int, const void *, size_t, int);
    static const Send realSend = vdltest::realFunction<Send>("send");
    vdltest::SendScript &script = vdltest::sendScript();
    if (fd == script.fd) {
        script.asked.push_back(length);
        if (!script.steps.empty()) {
            const vdltest::SendStep step = script.steps.front();
            script.steps.pop_front();
            if (step.error != 0) {
                errno = step.error;
                return -1;
            }
            if (step.take == 0) return 0;
            return realSend(fd, data, std::min(step.take, length), flags);
        }
    }
    return realSend(fd, data, length, flags);
}

extern "C" int gettimeofday(struct timeval *tv, void *zone) {
    using GetTime = int (*)(struct timeval *, void *);
    static const GetTime realGetTime = vdltest::realFunction<GetTime>("gettimeofday");
    const vdltest::FixedTime &fixed = vdltest::fixedTime();
    if (!fixed.active) return realGetTime(tv, zone);
    tv->tv_sec = fixed.seconds;
    tv->tv_usec = fixed.microseconds;
    return 0;
}

// ---------------------------------------------------------------------------
// Device nodes
// ---------------------------------------------------------------------------

namespace vdltest {


void resetDeviceNodes() {
    DeviceNodes &d = deviceNodes();
    for (auto &entry : d.nodes)
        if (entry.second.fd >= 0) ::close(entry.second.fd);
    d = DeviceNodes();
}

std::vector<std::string> openedPaths() {
    std::vector<std::string> paths;
    for (const OpenCall &call : deviceNodes().opened) paths.push_back(call.path);
    return paths;
}

namespace {

bool isDeviceNode(const char *path) {
    if (path == nullptr) return false;
    for (const char *prefix : kDeviceNodePrefixes)
        if (std::strncmp(path, prefix, std::strlen(prefix)) == 0) return true;
    return false;
}

int failWith(int error) {
    errno = error;
    return -1;
}

// The open of a device node, as the test mapped it.
int openDeviceNode(const char *path, int flags, mode_t mode, int (*realOpen)(const char *, int, ...)) {
    DeviceNodes &d = deviceNodes();
    d.opened.push_back({path, flags});
    const auto found = d.nodes.find(path);
    if (found == d.nodes.end()) return failWith(ENOENT);
    DeviceNode &node = found->second;
    if (node.error != 0) return failWith(node.error);
    int fd = -1;
    if (!node.path.empty()) {
        fd = realOpen(node.path.c_str(), flags, mode);
    } else if (node.fd >= 0) {
        fd = node.fd;
        node.fd = -1;
        if (flags & O_NONBLOCK) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    } else {
        return failWith(EBUSY);
    }
    if (fd >= 0) d.descriptors[fd] = path;
    return fd;
}

// Fills the driver's device-ID area: a 2-byte big-endian length that counts
// itself, then the ID text, zeros after it.
int answerDeviceId(int fd, unsigned long request, void *argument) {
    DeviceNodes &d = deviceNodes();
    const std::string &node = d.descriptors[fd];
    const std::optional<std::string> &id = d.nodes[node].deviceId;
    if (!id) return failWith(ENOTTY);
    const std::size_t size = _IOC_SIZE(request);
    auto *area = static_cast<unsigned char *>(argument);
    std::memset(area, 0, size);
    const std::size_t length = std::min(id->size(), size - 2);
    area[0] = static_cast<unsigned char>((length + 2) >> 8);
    area[1] = static_cast<unsigned char>((length + 2) & 0xFF);
    std::memcpy(area + 2, id->data(), length);
    return 0;
}

constexpr unsigned long kGetDeviceId = _IOC(_IOC_READ, 'P', 1, 1024);

}  // namespace
}  // namespace vdltest

using RealOpen = int (*)(const char *, int, ...);

extern "C" int open(const char *path, int flags, ...) {
    static const RealOpen realOpen = vdltest::realFunction<RealOpen>("open");
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    if (vdltest::isDeviceNode(path)) return vdltest::openDeviceNode(path, flags, mode, realOpen);
    if (vdltest::openWatcher()) vdltest::openWatcher()(path);
    return realOpen(path, flags, mode);
}

// On this platform open64 is open under another name.
extern "C" int open64(const char *path, int flags, ...) __attribute__((alias("open")));

extern "C" int ioctl(int fd, unsigned long request, ...) {
    using Ioctl = int (*)(int, unsigned long, ...);
    static const Ioctl realIoctl = vdltest::realFunction<Ioctl>("ioctl");
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    if (request == vdltest::kGetDeviceId && vdltest::deviceNodes().descriptors.count(fd) != 0)
        return vdltest::answerDeviceId(fd, request, argument);
    return realIoctl(fd, request, argument);
}

// ---------------------------------------------------------------------------
// Bluetooth sockets
// ---------------------------------------------------------------------------

namespace vdltest {



namespace {

constexpr int kBluetoothFamily = 31;  // AF_BLUETOOTH

bool isBluetoothAddress(const sockaddr *address) {
    return address != nullptr && address->sa_family == kBluetoothFamily;
}

std::string addressBytes(const sockaddr *address, socklen_t length) {
    return std::string(reinterpret_cast<const char *>(address), length);
}

int nextError(std::deque<int> &errors) {
    if (errors.empty()) return 0;
    const int error = errors.front();
    errors.pop_front();
    return error;
}

// Turns a placeholder into one end of a connected pair, in place.
int connectPlaceholder(int fd) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return -1;
    ::dup3(pair[0], fd, O_CLOEXEC);
    ::close(pair[0]);
    BluetoothSockets &s = bluetoothSockets();
    if (s.printer != nullptr) {
        s.printer->serve(pair[1]);
    } else {
        ::close(pair[1]);
    }
    return 0;
}

}  // namespace
}  // namespace vdltest

extern "C" int socket(int family, int type, int protocol) {
    using Socket = int (*)(int, int, int);
    static const Socket realSocket = vdltest::realFunction<Socket>("socket");
    if (family == AF_INET) {
        if (const int error = vdltest::nextError(vdltest::callFaults().networkSocket)) return vdltest::failWith(error);
        return realSocket(family, type, protocol);
    }
    if (family != vdltest::kBluetoothFamily) return realSocket(family, type, protocol);
    vdltest::BluetoothSockets &s = vdltest::bluetoothSockets();
    s.sockets.push_back({type, protocol});
    if (const int error = vdltest::nextError(s.socketErrors)) return vdltest::failWith(error);
    const int fd = realSocket(AF_UNIX, SOCK_STREAM | (type & SOCK_CLOEXEC), 0);
    if (fd >= 0) {
        s.placeholders.insert(fd);
        ++s.created;
    }
    return fd;
}

extern "C" int bind(int fd, const struct sockaddr *address, socklen_t length) {
    using Bind = int (*)(int, const struct sockaddr *, socklen_t);
    static const Bind realBind = vdltest::realFunction<Bind>("bind");
    vdltest::BluetoothSockets &s = vdltest::bluetoothSockets();
    if (!vdltest::isBluetoothAddress(address) || s.placeholders.count(fd) == 0) return realBind(fd, address, length);
    s.bound.push_back(vdltest::addressBytes(address, length));
    return s.bindError != 0 ? vdltest::failWith(s.bindError) : 0;
}

extern "C" int connect(int fd, const struct sockaddr *address, socklen_t length) {
    using Connect = int (*)(int, const struct sockaddr *, socklen_t);
    static const Connect realConnect = vdltest::realFunction<Connect>("connect");
    vdltest::BluetoothSockets &s = vdltest::bluetoothSockets();
    if (!vdltest::isBluetoothAddress(address) || s.placeholders.count(fd) == 0)
        return realConnect(fd, address, length);
    s.connected.push_back(vdltest::addressBytes(address, length));
    if (const int error = vdltest::nextError(s.connectErrors)) return vdltest::failWith(error);
    s.placeholders.erase(fd);
    return vdltest::connectPlaceholder(fd);
}

// ---------------------------------------------------------------------------
// Calls that fail on request
// ---------------------------------------------------------------------------

extern "C" int setsockopt(int fd, int level, int name, const void *value, socklen_t length) {
    using SetOption = int (*)(int, int, int, const void *, socklen_t);
    static const SetOption realSetOption = vdltest::realFunction<SetOption>("setsockopt");
    if (level == SOL_SOCKET && name == SO_REUSEADDR)
        if (const int error = vdltest::nextError(vdltest::callFaults().reuseAddress)) return vdltest::failWith(error);
    return realSetOption(fd, level, name, value, length);
}

extern "C" int cfsetispeed(struct termios *settings, speed_t speed) {
    using SetSpeed = int (*)(struct termios *, speed_t);
    static const SetSpeed realSetSpeed = vdltest::realFunction<SetSpeed>("cfsetispeed");
    if (const int error = vdltest::nextError(vdltest::callFaults().inputSpeed)) return vdltest::failWith(error);
    return realSetSpeed(settings, speed);
}

extern "C" int tcsetattr(int fd, int when, const struct termios *settings) {
    using Apply = int (*)(int, int, const struct termios *);
    static const Apply realApply = vdltest::realFunction<Apply>("tcsetattr");
    if (const int error = vdltest::nextError(vdltest::callFaults().applySettings)) return vdltest::failWith(error);
    return realApply(fd, when, settings);
}

#pragma GCC visibility pop
