// The transports behind ConnectToPrinter. Each opens a device and returns its
// descriptor (0 or more) or a negative code; the exported ones are declared in
// the public header.
#ifndef VDL_TRANSPORT_H
#define VDL_TRANSPORT_H

namespace vdl {

// The bound on a TCP connect, shorter than the system's own (about two
// minutes), so that an unreachable address does not freeze the application.
constexpr int kNetworkConnectTimeoutMs = 10000;

// A Bluetooth device that keeps reporting EBUSY is asked again this many
// times on one socket (kRfcommBusyPauseMs apart, 2 seconds) before that
// connection attempt counts as failed; over the five attempts of
// openDeviceBluetooth a busy printer is thus waited for about 10 seconds.
constexpr int kRfcommBusyRetries = 20;

}  // namespace vdl

#endif
