// The transports: each opens one kind of device and hands its descriptor to
// the connection. Only this file knows sockets and device paths.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "VdlLabelAPI.h"
#include "portName.h"
#include "transport.h"

namespace vdl {
namespace {

int elapsedMs(const timespec &since) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int((now.tv_sec - since.tv_sec) * 1000 + (now.tv_nsec - since.tv_nsec) / 1000000);
}

// Waits until a non-blocking connect has finished, for at most timeoutMs.
// Returns 0 once connected, or the error number (ETIMEDOUT when the time ran out).
int awaitConnect(int fd, int timeoutMs) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        const int left = timeoutMs - elapsedMs(start);
        if (left <= 0) return ETIMEDOUT;
        pollfd waiting{fd, POLLOUT, 0};
        const int ready = ::poll(&waiting, 1, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return errno;
        if (ready == 0) return ETIMEDOUT;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
        return error;
    }
}

// connect() bounded by timeoutMs; the socket is left with the flags it had.
bool connectWithin(int fd, const sockaddr_in &address, int timeoutMs) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == -1) return false;
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        error = errno == EINPROGRESS ? awaitConnect(fd, timeoutMs) : errno;
    }
    ::fcntl(fd, F_SETFL, flags);
    if (error == ETIMEDOUT) printDebugLog("openDeviceEthernet", "No answer within %d ms.", timeoutMs);
    return error == 0;
}

}  // namespace

// Bluetooth has no transport in this build yet.
int openBluetooth(const BluetoothAddress &) { return VDL_ERR_OPEN; }

}  // namespace vdl

extern "C" int openDeviceEthernet(const char *address, const char *port) {
    constexpr const char *kName = "openDeviceEthernet";
    printDebugLog(kName, "Start");
    if (address == nullptr || port == nullptr) return VDL_ERR_PORT_SETUP;
    printDebugLog(kName, "addr : %s, port : %s", address, port);

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        printDebugLog(kName, "Failed to create socket.");
        return VDL_ERR_SOCKET;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(vdl::readDecimal(port)));
    target.sin_addr.s_addr = inet_addr(address);

    const int reuse = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0) {
        printDebugLog(kName, "Failed setsockopt().");
        ::close(fd);
        return VDL_ERR_PORT_SETUP;
    }
    if (!vdl::connectWithin(fd, target, vdl::kNetworkConnectTimeoutMs)) {
        printDebugLog(kName, "Failed to connect().");
        ::close(fd);
        return VDL_ERR_PORT_SETUP;
    }
    printDebugLog(kName, "Success port open.");
    return fd;
}

// The USB, parallel and serial transports are not in this build yet: every
// open fails as if the device did not exist.
extern "C" int openDeviceUSB(void) {
    printDebugLog("openDeviceUSB", "Start openDeviceUSB");
    return VDL_ERR_OPEN;
}

extern "C" int openDeviceParallel(const char *path) {
    printDebugLog("openDeviceParallel", "Start");
    printDebugLog("openDeviceParallel", "Parallel port : %s", path != nullptr ? path : "");
    printDebugLog("openDeviceParallel", "Failed to open parallel port.");
    return VDL_ERR_OPEN;
}

extern "C" int openDeviceSerial(const char *path, int baud) {
    printDebugLog("openDeviceSerial", "Start openDeviceSerial");
    printDebugLog("openDeviceSerial", "Serial port : %s", path != nullptr ? path : "");
    (void)baud;
    printDebugLog("openDeviceSerial", "Failed to open serial port.");
    return VDL_ERR_OPEN;
}
