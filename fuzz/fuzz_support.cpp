#include "fuzz_support.h"

#include <algorithm>

#include <sys/socket.h>
#include <unistd.h>

#include "io.h"
#include "printer.h"

// The library's pauses are flow control for real printers; here they would
// only slow the fuzzer down.
extern "C" int usleep(useconds_t) { return 0; }

namespace vdlfuzz {
namespace {
int gSinkPeer = -1;
}

void connectToSink(int interfaceType) {
    vdl::Connection &c = vdl::defaultPrinter().connection;
    if (!c.isOpen()) {
        if (gSinkPeer >= 0) close(gSinkPeer);
        gSinkPeer = -1;
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return;
        vdl::adoptDescriptor(c, pair[0], interfaceType);
        gSinkPeer = pair[1];
    }
    c.interfaceType = interfaceType;
}

int libraryEnd() { return vdl::defaultPrinter().connection.fd; }

std::string drain() {
    std::string received;
    char sink[65536];
    ssize_t n;
    while (gSinkPeer >= 0 && (n = read(gSinkPeer, sink, sizeof sink)) > 0) received.append(sink, std::size_t(n));
    return received;
}

void answer(const std::string &bytes) {
    if (gSinkPeer >= 0 && write(gSinkPeer, bytes.data(), bytes.size()) != ssize_t(bytes.size())) __builtin_trap();
}

int Input::number() {
    // Small values and the extremes are where the rules change.
    switch (byte() % 4) {
        case 0: return int(int8_t(byte()));
        case 1: return int(int16_t(byte() | byte() << 8));
        case 2: return byte() % 2 ? INT32_MIN : INT32_MAX;
        default: return int(uint32_t(byte()) | uint32_t(byte()) << 8 | uint32_t(byte()) << 16 | uint32_t(byte()) << 24);
    }
}

std::string Input::bytes(std::size_t length) {
    std::string out(length, '\0');
    const std::size_t taken = std::min(length, size_ - std::min(at_, size_));
    if (taken > 0) out.replace(0, taken, reinterpret_cast<const char *>(data_ + at_), taken);
    at_ += taken;
    return out;
}

std::string Input::text(std::size_t longest) {
    const std::size_t wanted = (std::size_t(byte()) << 8 | byte()) % (longest + 1);
    std::string out;
    while (out.size() < wanted && !empty()) {
        const char c = char(byte());
        if (c != '\0') out += c;
    }
    return out;
}

}  // namespace vdlfuzz
