// The transports behind ConnectToPrinter. Each opens a device and returns its
// descriptor (0 or more) or a negative code; the exported ones are declared in
// the public header.
#ifndef VDL_TRANSPORT_H
#define VDL_TRANSPORT_H

#include "portName.h"

namespace vdl {

int openBluetooth(const BluetoothAddress &address);

// The bound on a TCP connect, shorter than the system's own (about two
// minutes), so that an unreachable address does not freeze the application.
constexpr int kNetworkConnectTimeoutMs = 10000;

}  // namespace vdl

#endif
