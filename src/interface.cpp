// The transports: each opens one kind of device and hands its descriptor to
// the connection. Only this file and bluetooth.cpp know sockets, terminals and
// device paths.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>

#include "VdlLabelAPI.h"
#include "deviceId.h"
#include "modelTable.h"
#include "portName.h"
#include "printer.h"
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
}  // namespace vdl

// ---------------------------------------------------------------------------
// Network
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// USB: probe the printer-class nodes for the maker's printers
// ---------------------------------------------------------------------------

namespace vdl {
namespace {

constexpr const char *kUsbName = "openDeviceUSB";

// The node names of the USB printer-class driver, tried for every index in
// this order; a later form only when the earlier one does not exist.
constexpr const char *kUsbNodeForms[] = {"/dev/usblp%d", "/dev/usb/lp%d", "/dev/usb/usblp%d"};
constexpr int kUsbNodeIndexes = 16;

// LPIOC_GET_DEVICE_ID(1024): read the IEEE 1284 device ID into 1024 bytes.
constexpr std::size_t kDeviceIdArea = 1024;
constexpr unsigned long kGetDeviceId = _IOC(_IOC_READ, 'P', 1, kDeviceIdArea);
static_assert(kGetDeviceId == 0x84005001, "the printer-class driver's device-ID request");

// Manufacturers accepted, as a prefix of the ID's manufacturer value compared
// case-sensitively: the maker's name of slot 0, and one partner maker.
constexpr std::size_t kMakerPrefix = 7;
constexpr const char *kPartnerMaker = "KADMERA";
constexpr std::size_t kPartnerPrefix = 6;

struct UsbNode {
    bool exists;  // opened, or refused for another reason than ENOENT
    int fd;       // -1 when refused
    char path[32];
};

UsbNode openUsbNode(int index) {
    UsbNode node{false, -1, {}};
    for (std::size_t form = 0; form < std::size(kUsbNodeForms); ++form) {
        std::snprintf(node.path, sizeof node.path, kUsbNodeForms[form], index);
        if (form == 0) printDebugLog(kUsbName, "device = %s", node.path);
        node.fd = ::open(node.path, O_RDWR | O_EXCL | O_NONBLOCK | O_CLOEXEC);
        if (node.fd >= 0 || errno != ENOENT) {
            node.exists = true;
            if (node.fd < 0) printDebugLog(kUsbName, "Failed to open %s, errno : %d", node.path, errno);
            return node;
        }
    }
    return node;
}

// The device ID of an open node; empty when the driver gives none.
DeviceId readDeviceId(int fd) {
    if (fd < 0) return parseDeviceId({});
    // One byte more than the driver fills, so the text always ends in NUL.
    unsigned char area[kDeviceIdArea + 1] = {};
    if (::ioctl(fd, kGetDeviceId, area) != 0) return parseDeviceId({});
    return parseDeviceId(deviceIdText(area, kDeviceIdArea));
}

bool isAcceptedMaker(const char *manufacturer) {
    const char *maker = VELDRIN_DEVICE[0];
    return (maker != nullptr && std::strncmp(manufacturer, maker, kMakerPrefix) == 0) ||
           std::strncmp(manufacturer, kPartnerMaker, kPartnerPrefix) == 0;
}

// The model slot (1-199) of a node's printer, or 0 when it is not one of the
// maker's printers in the model table.
int acceptedModel(const UsbNode &node) {
    const DeviceId id = readDeviceId(node.fd);
    printDebugLog(kUsbName, "Model : %s, Manufacture : %s", id.model, id.manufacturer);
    if (!isAcceptedMaker(id.manufacturer)) {
        printDebugLog(kUsbName, "This printer is not the veldrin printer.");
        return 0;
    }
    return findModel(id.model, 1);
}

int probeUsbPrinters(int &model) {
    printDebugLog(kUsbName, "Start openDeviceUSB");
    bool anyNode = false;
    for (int index = 0; index < kUsbNodeIndexes; ++index) {
        const UsbNode node = openUsbNode(index);
        if (!node.exists) continue;
        printDebugLog(kUsbName, "Open usb port %s", node.path);
        anyNode = true;
        const int slot = acceptedModel(node);
        if (slot > 0) {
            model = slot;
            printDebugLog(kUsbName, "Success port open.");
            return node.fd;
        }
        if (node.fd >= 0) ::close(node.fd);
    }
    if (!anyNode) {
        errno = ENODEV;
        return VDL_ERR_OPEN;
    }
    return VDL_ERR_NOT_ACCEPTED;
}

// ---------------------------------------------------------------------------
// Serial: raw 8-N-1 without flow control
// ---------------------------------------------------------------------------

struct BaudRate {
    int baud;
    speed_t speed;
};

constexpr BaudRate kBaudRates[] = {
    {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200},
};
constexpr speed_t kDefaultSpeed = B9600;

speed_t speedFor(int baud) {
    for (const BaudRate &rate : kBaudRates)
        if (rate.baud == baud) return rate.speed;
    return kDefaultSpeed;
}

// 8 data bits, no parity, 1 stop bit, receiver on, modem lines ignored, no
// handshake of any kind, no line editing, echo or signals, output unchanged.
// Everything else (VMIN and VTIME included) stays as the port had it.
void makeRaw(termios &t) {
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    t.c_lflag &= ~tcflag_t(ICANON | ECHO | ECHOE | ISIG);
    t.c_oflag &= ~tcflag_t(OPOST);
}

// Closes fd and returns code: the end of every failure after the open.
int closeAndFail(int fd, int code) {
    ::close(fd);
    return code;
}

int openSerial(const char *path, int baud) {
    constexpr const char *kName = "openDeviceSerial";
    printDebugLog(kName, "Start openDeviceSerial");
    printDebugLog(kName, "Serial port : %s", path != nullptr ? path : "");
    const int fd = path != nullptr ? ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) {
        printDebugLog(kName, "Failed to open serial port.");
        return VDL_ERR_OPEN;
    }
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        printDebugLog(kName, "Failed to call tcgetattr function.");
        return closeAndFail(fd, VDL_ERR_PORT_SETUP);
    }
    const speed_t speed = speedFor(baud);
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) {
        printDebugLog(kName, "Failed to call cfsetispeed function. %d", errno);
        return closeAndFail(fd, VDL_ERR_PORT_SETUP);
    }
    makeRaw(settings);
    // Whatever the printer sent before the open is not an answer to us.
    ::tcflush(fd, TCIFLUSH);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        printDebugLog(kName, "Failed to call tcsetattr function.");
        return closeAndFail(fd, VDL_ERR_PORT_APPLY);
    }
    printDebugLog(kName, "Success port open.");
    return fd;
}

// ---------------------------------------------------------------------------
// Parallel
// ---------------------------------------------------------------------------

int openParallel(const char *path) {
    constexpr const char *kName = "openDeviceParallel";
    printDebugLog(kName, "Start");
    printDebugLog(kName, "Parallel port : %s", path != nullptr ? path : "");
    const int fd = path != nullptr ? ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) {
        printDebugLog(kName, "Failed to open parallel port.");
        return VDL_ERR_OPEN;
    }
    printDebugLog(kName, "Success port open.");
    return fd;
}

}  // namespace
}  // namespace vdl

extern "C" int openDeviceUSB(void) { return vdl::probeUsbPrinters(vdl::defaultPrinter().connection.model); }

extern "C" int openDeviceParallel(const char *path) { return vdl::openParallel(path); }

extern "C" int openDeviceSerial(const char *path, int baud) { return vdl::openSerial(path, baud); }
