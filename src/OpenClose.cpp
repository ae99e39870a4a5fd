// The connection: connect and disconnect, the model check, and the paced raw
// write and read through which every byte to and from the printer passes.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "VdlLabelAPI.h"
#include "command.h"
#include "io.h"
#include "modelTable.h"
#include "pause.h"
#include "portName.h"
#include "printer.h"
#include "trace.h"
#include "transport.h"

unsigned char gConnectedPrinter = 0;
int gPrinterModel = 0;

namespace {

// Module-local connection state of the default printer.
int gFD = vdl::kNoDescriptor;
int gInterfaceType = 0;
bool gFDIsSocket = false;

}  // namespace

namespace vdl {

Printer &defaultPrinter() {
    static Printer printer{
        Connection{gFD, gInterfaceType, gConnectedPrinter, gPrinterModel, gFDIsSocket},
        CommandBuffer{gPrintData, gDataIndex},
        RecordedSettings{gSpeed, gDensity, gOrientation, gAutoCut, gCutPeriod, gRewind, gOffset, gCutPosition,
                         gPrintingType, gBackFeeding, gPaperWidth, gPaperHeight, gMediaType, gGapLength,
                         gHorizontalMargin, gVerticalMargin, gStatus},
    };
    return printer;
}

namespace {

// ---------------------------------------------------------------------------
// Raw write
// ---------------------------------------------------------------------------

struct Pacing {
    uint32_t chunkSize;  // 0: the whole length in one write
    unsigned pauseMs;    // before every chunk and between chunks
};

// Chunk size and pacing pause by interface type. Printers on serial and
// Bluetooth links have the smallest input buffers and get the slowest pace.
constexpr Pacing kPacingByInterface[] = {
    /* kUsb       */ {4096, 10},
    /* kSerial    */ {512, 30},
    /* kParallel  */ {1024, 10},
    /* kNetwork   */ {0, 10},
    /* kBluetooth */ {512, 30},
};

const Pacing &pacingFor(int interfaceType) {
    if (interfaceType < kUsb || interfaceType > kBluetooth) return kPacingByInterface[kSerial];
    return kPacingByInterface[interfaceType];
}

uint32_t chunkLength(const Pacing &pacing, uint32_t remaining) {
    if (pacing.chunkSize == 0) return remaining;
    return remaining < pacing.chunkSize ? remaining : pacing.chunkSize;
}

// How a write that reported an error is treated.
enum class WriteError {
    Busy,   // the device is busy for now: wait and try again, within a bound
    Gone,   // the descriptor or the device is gone: give up at once
    Fault,  // anything else: a few more tries, it may be passing
};

struct WriteErrorRule {
    int error;
    WriteError kind;
};

constexpr WriteErrorRule kWriteErrorRules[] = {
    {EAGAIN, WriteError::Busy},     {EWOULDBLOCK, WriteError::Busy}, {EINTR, WriteError::Busy},
    {ENOBUFS, WriteError::Busy},    {EBADF, WriteError::Gone},       {EPIPE, WriteError::Gone},
    {ECONNRESET, WriteError::Gone}, {ENOTCONN, WriteError::Gone},    {ECONNABORTED, WriteError::Gone},
    {ESHUTDOWN, WriteError::Gone},  {ENODEV, WriteError::Gone},      {ENXIO, WriteError::Gone},
};

WriteError classifyWriteError(int error) {
    for (const WriteErrorRule &rule : kWriteErrorRules)
        if (rule.error == error) return rule.kind;
    return WriteError::Fault;
}

// A chunk taken not at all this many times in a row ends the call.
constexpr int kZeroWriteLimit = 5;
// A busy device (EAGAIN) is waited for up to this many refusals in a row,
// 200 ms apart: about 30 seconds without a single byte taken.
constexpr int kBusyRefusalLimit = 150;
// Other errors end the call at the fifth in a row.
constexpr int kFaultLimit = 5;

// Counts the refusals of one writeData call and says when to give up.
class WriteRetries {
public:
    // A write took some bytes: every count starts again.
    void progress() { *this = WriteRetries(); }

    // A write took nothing; false when the call must give up.
    bool tookNothing() { return --zeroWritesLeft_ > 0; }

    // A write reported error; false when the call must give up.
    bool failed(int error) {
        zeroWritesLeft_ = kZeroWriteLimit;
        switch (classifyWriteError(error)) {
            case WriteError::Busy: return --busyLeft_ > 0;
            case WriteError::Gone: return false;
            case WriteError::Fault: return --faultsLeft_ > 0;
        }
        return false;
    }

private:
    int zeroWritesLeft_ = kZeroWriteLimit;
    int busyLeft_ = kBusyRefusalLimit;
    int faultsLeft_ = kFaultLimit;
};

ssize_t writeChunk(const Connection &c, const unsigned char *bytes, uint32_t length) {
    if (c.isSocket) return ::send(c.fd, bytes, length, MSG_NOSIGNAL);
    return ::write(c.fd, bytes, length);
}

void traceBytesWritten(const unsigned char *bytes, uint32_t length) {
    if (!tracingOn()) return;
    for (uint32_t i = 0; i < length; ++i) printDebugLog("writeData", "i : %d, %02x, %c ", int(i), bytes[i], bytes[i]);
}

constexpr int kWriteFailed = VDL_ERR_WRITE_CHUNK;

// ---------------------------------------------------------------------------
// Raw read
// ---------------------------------------------------------------------------

constexpr int kReadLimit = 512;
constexpr int kReadTries = 20;

void traceBytesRead(const unsigned char *bytes, int count) {
    if (!tracingOn()) return;
    for (int i = 0; i < count; ++i) printDebugLog("readData", "%02x, %c ", bytes[i], bytes[i]);
}

// ---------------------------------------------------------------------------
// Model check
// ---------------------------------------------------------------------------

constexpr char kModelQuery[] = "^PI0\r\n";
constexpr int kModelQueryLength = 6;
constexpr int kModelReplyArea = 20;
constexpr int kModelReadTries = 5;

bool endsLine(const char *reply, int n) {
    if (n < 2) return false;
    const char a = reply[n - 2], b = reply[n - 1];
    return (a == '\r' && b == '\n') || (a == '\n' && b == '\n');
}

// Looser than endsLine: a reply that never ended properly is still taken
// after the last try.
bool usableReply(const char *reply, int n) { return n > 6 && (reply[n - 2] == '\r' || reply[n - 1] == '\n'); }

int checkModel(Printer &p) {
    constexpr const char *kName = "modelCheck";
    Connection &c = p.connection;
    printDebugLog(kName, "start");
    if (writeTo(c, kModelQuery, kModelQueryLength) != kModelQueryLength) {
        printDebugLog(kName, "Failed to write model check cmd");
        return VDL_ERR_WRITE;
    }
    pauseMs(kModelReplyPauseMs);

    char reply[kModelReplyArea + 1] = {};
    int n = 0;
    for (int attempt = 0; attempt < kModelReadTries; ++attempt) {
        n = readFrom(c, reply, kModelReplyArea);
        if (endsLine(reply, n)) {
            printDebugLog(kName, "read OK.");
            break;
        }
    }
    if (!usableReply(reply, n)) {
        printDebugLog(kName, "Failed to read the model name");
        return VDL_ERR_NO_REPLY;
    }
    printDebugLog(kName, "model = %s, %d", reply, c.model);
    c.model = getModel(reply);
    printDebugLog(kName, "model = %s, %d", reply, c.model);
    if (c.model >= kFirstLabelPrinterSlot) {
        printDebugLog(kName, "success");
        return 0;
    }
    printDebugLog(kName, "not supported model");
    return VDL_ERR_NO_REPLY;
}

int runOpenCheck(Printer &p) {
    if (checkModel(p) != 0) {
        printDebugLog("openCheck", "Failed modelCheck()");
        return VDL_ERR_NOT_ACCEPTED;
    }
    printDebugLog("openCheck", "success");
    return 0;
}

void disconnect(Printer &p) {
    printDebugLog("DisconnectPrinter", "start");
    p.connection.connected = 0;
    closeConnection(p.connection);
    printDebugLog("DisconnectPrinter", "end");
}

// ---------------------------------------------------------------------------
// Opening the port named by the application
// ---------------------------------------------------------------------------

constexpr const char *kConnect = "ConnectToPrinter";
constexpr int kScanPorts = 10;

// A device text as a NUL-terminated path; false when it cannot be one.
bool copyPath(std::string_view device, char (&path)[PATH_MAX]) {
    if (device.size() >= sizeof path) return false;
    std::memcpy(path, device.data(), device.size());
    path[device.size()] = '\0';
    return true;
}

// Serial ports are opened, closed and opened again; the second open counts.
int reopenSerial(int first, const char *path, int baud) {
    ::close(first);
    return openDeviceSerial(path, baud);
}

int openSerialPort(const PortName &port) {
    char path[PATH_MAX];
    if (!port.device.empty()) {
        if (!copyPath(port.device, path)) return VDL_ERR_OPEN;
        const int first = openDeviceSerial(path, port.baud);
        return first < 0 ? first : reopenSerial(first, path, port.baud);
    }
    int result = VDL_ERR_OPEN;
    for (int i = 0; i < kScanPorts; ++i) {
        std::snprintf(path, sizeof path, "/dev/ttyS%d", i);
        result = openDeviceSerial(path, port.baud);
        if (result >= 0) return reopenSerial(result, path, port.baud);
        printDebugLog(kConnect, "Failed to open %s", path);
    }
    return result;
}

int openParallelPort(const PortName &port) {
    char path[PATH_MAX];
    if (!port.device.empty()) {
        if (!copyPath(port.device, path)) return VDL_ERR_OPEN;
        return openDeviceParallel(path);
    }
    int result = VDL_ERR_OPEN;
    for (int i = 0; i < kScanPorts; ++i) {
        std::snprintf(path, sizeof path, "/dev/lp%d", i);
        result = openDeviceParallel(path);
        if (result >= 0) return result;
        printDebugLog(kConnect, "Failed to open %s", path);
    }
    return result;
}

// Opens the device of a classified port name: a descriptor, or a negative
// code. VDL_ERR_PORT_NAME (an unusable network name) comes back before any
// device was tried and leaves the interface type as it was.
int openPort(Connection &c, const PortName &port, const char *portName) {
    switch (port.type) {
        case kUsb:
            printDebugLog(kConnect, "Request a usb connection.");
            c.interfaceType = kUsb;
            return openDeviceUSB();
        case kSerial:
            printDebugLog(kConnect, "Request a serial connection.");
            c.interfaceType = kSerial;
            return openSerialPort(port);
        case kParallel:
            printDebugLog(kConnect, "Request a parallel connection.");
            c.interfaceType = kParallel;
            return openParallelPort(port);
        case kBluetooth: {
            printDebugLog(kConnect, "Request a bluetooth connection.");
            printDebugLog(kConnect, "bluetooth port : %s", portName);
            c.interfaceType = kBluetooth;
            const int result = openDeviceBluetooth(port.bluetooth);
            pauseMs(kBluetoothSettlePauseMs);
            return result;
        }
        case kNetwork:
            printDebugLog(kConnect, "Request a network connection.");
            printDebugLog(kConnect, "address : %s", portName);
            if (!port.valid) {
                printDebugLog(kConnect, "Invalid IP address.");
                return VDL_ERR_PORT_NAME;
            }
            c.interfaceType = kNetwork;
            return openDeviceEthernet(port.address, port.port);
    }
    return VDL_ERR_PORT_NAME;
}

int connectPrinter(Printer &p, const char *portName) {
    initWriteLog();
    if (portName == nullptr) {
        printDebugLog(kConnect, "port name is NULL. failed to open\n");
        return VDL_ERR_PORT_NAME;
    }
    printDebugLog(kConnect, "\n\n\n               NEW                  \n\n\n");

    Connection &c = p.connection;
    const PortName port = classifyPortName(portName);
    const int fd = openPort(c, port, portName);
    if (fd == VDL_ERR_PORT_NAME) return fd;
    if (fd < 0) {
        printDebugLog(kConnect, "Failed to open device.");
        return fd;
    }
    adoptDescriptor(c, fd, c.interfaceType);

    printDebugLog(kConnect, "Check model.");
    const int checked = runOpenCheck(p);
    if (checked != 0) {
        printDebugLog(kConnect, "Failed openCheck. %d", checked);
        disconnect(p);
        return checked;
    }
    c.connected = 1;
    emptyBuffer(p.buffer);
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Connection primitives
// ---------------------------------------------------------------------------

int writeTo(Connection &c, const void *data, uint32_t length) {
    if (!c.isOpen()) return kWriteFailed;
    // The count is returned as an int; nothing that large is a printer job.
    if ((data == nullptr && length > 0) || length > uint32_t(INT_MAX)) return kWriteFailed;
    const auto *bytes = static_cast<const unsigned char *>(data);
    pauseMs(kWriteStartPauseMs);

    const Pacing &pacing = pacingFor(c.interfaceType);
    printDebugLog("writeData", "write data : ");
    traceBytesWritten(bytes, length);
    if (length == 0) return 0;

    WriteRetries retries;
    uint32_t sent = 0;
    for (;;) {
        const uint32_t chunk = chunkLength(pacing, length - sent);
        pauseMs(pacing.pauseMs);
        const ssize_t taken = writeChunk(c, bytes + sent, chunk);
        if (taken == ssize_t(chunk)) {
            sent += chunk;
            if (sent == length) break;
            pauseMs(pacing.pauseMs);
            continue;
        }
        if (taken > 0) {
            // Never send a byte twice: go on after what was taken.
            sent += uint32_t(taken);
            retries.progress();
        } else if (taken == 0 ? !retries.tookNothing() : !retries.failed(errno)) {
            printDebugLog("writeData", "Failed to write. written %u of %u, errno : %d", sent, length,
                          taken == 0 ? 0 : errno);
            return kWriteFailed;
        }
        pauseMs(kWriteRetryPauseMs);
    }
    printDebugLog("writeData", "complete to write the data.");
    return int(length);
}

int readFrom(Connection &c, void *buffer, int size) {
    if (!c.isOpen() || buffer == nullptr) return 0;
    printDebugLog("readData", "START");
    pauseMs(kReadStartPauseMs);
    if (size <= 0) return 0;

    auto *out = static_cast<unsigned char *>(buffer);
    unsigned char staging[kReadLimit];
    int wanted = size < kReadLimit ? size : kReadLimit;
    int stored = 0;
    for (int attempt = 0; attempt < kReadTries; ++attempt) {
        const ssize_t n = ::read(c.fd, staging, size_t(wanted));
        pauseMs(kReadTryPauseMs);
        if (n <= 0) continue;
        std::memcpy(out + stored, staging, size_t(n));
        stored += int(n);
        wanted -= int(n);
        if (wanted == 0) {
            printDebugLog("readData", "Complete to read the data.");
            break;
        }
        if (staging[n - 1] == 0) {
            printDebugLog("readData", "The last of data is a null.");
            break;
        }
    }
    printDebugLog("readData", "read data : ");
    traceBytesRead(out, stored);
    return stored;
}

// A connection that is still open is not closed here: the application
// disconnects before it connects again. Its descriptor is then no longer the
// library's; the library only ever closes the descriptor in gFD.
void adoptDescriptor(Connection &c, int fd, int interfaceType) {
    c.fd = fd;
    c.interfaceType = interfaceType;
    struct stat st {};
    c.isSocket = ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
    // From here on every read and write on the connection is non-blocking.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void closeConnection(Connection &c) {
    if (!c.isOpen()) return;
    ::close(c.fd);
    c.fd = kNoDescriptor;
    c.isSocket = false;
}

}  // namespace vdl

// ---------------------------------------------------------------------------
// Exported functions
// ---------------------------------------------------------------------------

extern "C" int ConnectToPrinter(const char *portName) { return vdl::connectPrinter(vdl::defaultPrinter(), portName); }

extern "C" void DisconnectPrinter(void) { vdl::disconnect(vdl::defaultPrinter()); }

extern "C" int openCheck(void) { return vdl::runOpenCheck(vdl::defaultPrinter()); }

extern "C" int modelCheck(void) { return vdl::checkModel(vdl::defaultPrinter()); }

extern "C" int writeData(const void *data, uint32_t length) {
    return vdl::writeTo(vdl::defaultPrinter().connection, data, length);
}

extern "C" int readData(void *buffer, int size) { return vdl::readFrom(vdl::defaultPrinter().connection, buffer, size); }

extern "C" void initDataBuffer(void) { vdl::emptyBuffer(vdl::defaultPrinter().buffer); }
