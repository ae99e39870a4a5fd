// Classification of the port name given to ConnectToPrinter.
#ifndef VDL_PORT_NAME_H
#define VDL_PORT_NAME_H

#include <cstddef>
#include <string_view>

#include "VdlLabelAPI.h"
#include "printer.h"

namespace vdl {

// Only the first characters of a network port name take part in its parsing.
constexpr std::size_t kNetworkNameLimit = 64;

// In BlueZ's bdaddr_t order: b[0] is the last group of the text form.
using BluetoothAddress = VdlBluetoothAddress;

struct PortName {
    InterfaceType type;

    // Serial and parallel: the device to open, or empty for a scan of
    // "/dev/ttyS0".."9" or "/dev/lp0".."9".
    std::string_view device;
    // Serial: the baud text, read like atoi.
    int baud;

    BluetoothAddress bluetooth;

    // Network: the first kNetworkNameLimit characters of the name, split at
    // the first ':'. valid is false when there is no ':' or the address is
    // not a dotted IPv4 address.
    char networkName[kNetworkNameLimit + 1];
    const char *address;
    const char *port;
    bool valid;
};

// Classifies a non-null port name by the first rule that matches:
// USB, serial, parallel, Bluetooth address, network.
PortName classifyPortName(const char *name);

// BlueZ's address syntax: exactly six two-digit hexadecimal groups separated
// by ':'. Stands in for str2ba when the application does not link
// libbluetooth, so that addresses are recognised either way.
bool parseBluetoothAddress(const char *text, BluetoothAddress *out);

// Reads a decimal the way atoi does: leading blanks and a sign allowed, no
// digits reads as 0.
int readDecimal(const char *text);

}  // namespace vdl

#endif
