#include "portName.h"

#include <arpa/inet.h>
#include <bluetooth/bluetooth.h>
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

// BlueZ's address parser, supplied by the application's libbluetooth, or null.
#pragma weak str2ba

namespace vdl {
namespace {

bool startsWithNoCase(const char *text, const char *prefix) {
    return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// Serial: "SERIAL..." or "/dev/ttyS..." with a ':' somewhere; the device is
// the text before the first ':', the baud rate the text after it.
bool classifySerial(const char *name, PortName &port) {
    const char *colon = std::strchr(name, ':');
    if (colon == nullptr) return false;
    const bool named = startsWithNoCase(name, "/dev/ttyS");
    if (!named && !startsWithNoCase(name, "SERIAL")) return false;
    port.type = kSerial;
    port.device = named ? std::string_view(name, static_cast<std::size_t>(colon - name)) : std::string_view();
    port.baud = readDecimal(colon + 1);
    return true;
}

bool classifyParallel(const char *name, PortName &port) {
    const bool named = startsWithNoCase(name, "/dev/lp");
    if (!named && !startsWithNoCase(name, "PARALLEL")) return false;
    port.type = kParallel;
    port.device = named ? std::string_view(name) : std::string_view();
    return true;
}

void classifyNetwork(const char *name, PortName &port) {
    port.type = kNetwork;
    std::strncpy(port.networkName, name, kNetworkNameLimit);
    port.networkName[kNetworkNameLimit] = '\0';
    char *colon = std::strchr(port.networkName, ':');
    if (colon == nullptr) return;
    *colon = '\0';
    in_addr parsed{};
    if (inet_pton(AF_INET, port.networkName, &parsed) != 1) return;
    port.address = port.networkName;
    port.port = colon + 1;
    port.valid = true;
}

}  // namespace

int readDecimal(const char *text) {
    // atoi is strtol narrowed to int; spelled out so that out-of-range text
    // has a defined result (the low 32 bits, as glibc's atoi gives).
    return static_cast<int>(std::strtol(text, nullptr, 10));
}

bool parseBluetoothAddress(const char *text, BluetoothAddress *out) {
    if (std::strlen(text) != 17) return false;
    for (int group = 0; group < 6; ++group) {
        const char *g = text + group * 3;
        if (!isHex(g[0]) || !isHex(g[1])) return false;
        if (group < 5 && g[2] != ':') return false;
    }
    for (int group = 0; group < 6; ++group) {
        const char *g = text + group * 3;
        out->b[5 - group] = static_cast<unsigned char>(hexValue(g[0]) * 16 + hexValue(g[1]));
    }
    return true;
}

// A Bluetooth address as BlueZ's str2ba reads it, with ':' at positions 2
// and 8. Without libbluetooth the library's own parser, of the same syntax,
// stands in, so that the name still reaches the Bluetooth transport (which
// then reports that there is no SDP connection).
static bool isBluetoothAddress(const char *name, BluetoothAddress *out) {
    if (str2ba == nullptr) return parseBluetoothAddress(name, out);
    bdaddr_t parsed{};
    if (std::strlen(name) <= 8 || name[2] != ':' || name[8] != ':' || str2ba(name, &parsed) != 0) return false;
    std::memcpy(out->b, parsed.b, sizeof out->b);
    return true;
}

PortName classifyPortName(const char *name) {
    PortName port{};
    if (startsWithNoCase(name, "USB")) {
        port.type = kUsb;
    } else if (classifySerial(name, port) || classifyParallel(name, port)) {
        // classified
    } else if (isBluetoothAddress(name, &port.bluetooth)) {
        port.type = kBluetooth;
    } else {
        classifyNetwork(name, port);
    }
    return port;
}

}  // namespace vdl
