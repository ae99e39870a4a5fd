// The test program's stand-ins for system calls the library makes.
//
// usleep: records the requested pause instead of sleeping, and lets every
//   fake printer run while the library "waits", so suites are fast and the
//   pause schedule can be asserted exactly.
// poll:   records the time-outs asked for; can pretend that the time ran out.
// gettimeofday: can return a fixed time, for the trace record's layout.
// send:   can replay a script of results (nothing taken, part taken, errors)
//         for one descriptor before passing calls through.
// open:   the transports' device nodes never reach the system; the test maps
//         the nodes it wants to fake devices (see DeviceNodes); other opens
//         can be watched (openWatcher).
// ioctl:  answers the printer-class device-ID request for mapped nodes.
// socket, bind, connect: Bluetooth sockets are fakes (see BluetoothSockets).
// socket, setsockopt, cfsetispeed, tcsetattr: can fail on request (CallFaults).
#ifndef VDL_TEST_INTERPOSE_H
#define VDL_TEST_INTERPOSE_H

#include <sys/types.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vdltest {

// Pauses requested since the last reset, in milliseconds.
inline std::vector<unsigned> &pauses() { static std::vector<unsigned> recorded; return recorded; }
// Every pause with its exact length in microseconds (pauses() rounds down to
// milliseconds).
inline std::vector<unsigned> &pausesMicroseconds() { static std::vector<unsigned> recorded; return recorded; }
inline void resetPauses() { pauses().clear(), pausesMicroseconds().clear(); }

struct PollLog {
    std::vector<int> timeouts;
    bool pretendTimeout = false;
    int interruptions = 0;  // calls interrupted by a signal (EINTR) first
};
inline PollLog &pollLog() { static PollLog log; return log; }

// When set, gettimeofday reports this time.
struct FixedTime {
    bool active = false;
    long seconds = 0;
    long microseconds = 0;
};
inline FixedTime &fixedTime() { static FixedTime time; return time; }

// One scripted result of send(): take `take` bytes (0 or more, at most what
// was asked), or fail with `error` when it is non-zero.
struct SendStep {
    std::size_t take;
    int error;
};

struct SendScript {
    int fd = -1;
    std::deque<SendStep> steps;      // consumed first; then calls pass through
    std::vector<std::size_t> asked;  // length of every send() on fd
};
inline SendScript &sendScript() { static SendScript script; return script; }

// What one device node opens as.
struct DeviceNode {
    // Fail with this error number (EACCES, EBUSY, ...) when non-zero.
    int error = 0;
    // Else open this path instead (a pseudo-terminal, a regular file) ...
    std::string path;
    // ... or hand out this descriptor (a socketpair end), once: the device
    // then belongs to the opener, and a later open fails with EBUSY.
    int fd = -1;
    // The IEEE 1284 ID text the printer-class device-ID ioctl answers with
    // (the length prefix is added); none: the ioctl fails with ENOTTY.
    std::optional<std::string> deviceId;
};

// Every path that begins with one of these is a transport's device node.
inline const char *const kDeviceNodePrefixes[] = {"/dev/usblp", "/dev/usb/", "/dev/ttyS", "/dev/lp"};

struct OpenCall {
    std::string path;
    int flags;
};

struct DeviceNodes {
    // Nodes the test maps; every other device node does not exist (ENOENT).
    std::map<std::string, DeviceNode> nodes;
    // Every open of a device node, in order, mapped or not.
    std::vector<OpenCall> opened;
    // Descriptors handed out for mapped nodes, for the ioctl.
    std::map<int, std::string> descriptors;
};
inline DeviceNodes &deviceNodes() { static DeviceNodes nodes; return nodes; }
// Forgets the map, closing descriptors that were never handed out.
void resetDeviceNodes();
// The paths of deviceNodes().opened, in order.
std::vector<std::string> openedPaths();

// When set, called with the path of every open that is not a device node's,
// before the file is opened.
inline std::function<void(const char *)> &openWatcher() { static std::function<void(const char *)> watcher; return watcher; }

class FakePrinter;

// socket(AF_BLUETOOTH, ...) gives a placeholder descriptor; bind and connect
// with an AF_BLUETOOTH address on it are answered here. A connect that
// succeeds turns the placeholder into one end of a socket pair whose other end
// the printer (when set) serves.
struct BluetoothSockets {
    std::deque<int> socketErrors;   // per socket() call: fail with this error number; 0 or none: create
    int bindError = 0;              // every bind fails with this error number when non-zero
    std::deque<int> connectErrors;  // per connect() call: fail with this error number; 0 or none: connect
    FakePrinter *printer = nullptr;

    // Recorded: every socket() asked for, and the addresses given to bind and connect.
    struct SocketCall {
        int type;
        int protocol;
    };
    std::vector<SocketCall> sockets;
    std::vector<std::string> bound;      // the raw address bytes, as long as the length given
    std::vector<std::string> connected;  // likewise, every connect() tried
    int created = 0;
    std::set<int> placeholders;
};
inline BluetoothSockets &bluetoothSockets() { static BluetoothSockets sockets; return sockets; }
inline void resetBluetoothSockets() { bluetoothSockets() = BluetoothSockets(); }

// System calls made to fail. Each queue holds the error numbers of the next
// calls of its kind (0 lets that call through); an empty queue passes them all.
struct CallFaults {
    std::deque<int> networkSocket;  // socket(AF_INET, ...)
    std::deque<int> reuseAddress;   // setsockopt(..., SOL_SOCKET, SO_REUSEADDR, ...)
    std::deque<int> inputSpeed;     // cfsetispeed
    std::deque<int> applySettings;  // tcsetattr
    // The next malloc or calloc of exactly this many bytes returns null (0:
    // none). Only programs linked with the allocation wrapper (the library's
    // static build, see allocation_faults.cpp) honour it.
    std::size_t allocationSize = 0;
};
inline CallFaults &callFaults() { static CallFaults faults; return faults; }
inline void resetCallFaults() { callFaults() = CallFaults(); }
// True when every fault armed in callFaults() and bluetoothSockets() was met.
inline bool allFaultsUsed() {
    const CallFaults &f = callFaults();
    const BluetoothSockets &b = bluetoothSockets();
    return f.networkSocket.empty() && f.reuseAddress.empty() && f.inputSpeed.empty() && f.applySettings.empty() &&
           f.allocationSize == 0 && b.socketErrors.empty() && b.connectErrors.empty();
}


}  // namespace vdltest

#endif
