// The device URI scheme vdl: a port name of the library in a URI, opened
// through the printer's worker process.
//
//   vdl://usb                           USB           (the first printer the library accepts)
//   vdl://192.168.1.50:9100             192.168.1.50:9100
//   vdl:///dev/ttyS0?baud=9600          /dev/ttyS0:9600  (baud 9600 when not given)
//   vdl://serial?baud=115200            SERIAL:115200    (the first serial port that opens)
//   vdl:///dev/lp0                      /dev/lp0
//   vdl://parallel                      PARALLEL
//   vdl://bluetooth/00:11:22:33:44:55   00:11:22:33:44:55
#ifndef VDL_PRINTER_APP_DEVICE_SCHEME_H
#define VDL_PRINTER_APP_DEVICE_SCHEME_H

#include <optional>
#include <string>

#include <pappl/pappl.h>

#include "worker_client.h"

namespace vdlapp {

// The port name a vdl: URI stands for; nothing when the URI is not one of the forms above.
std::optional<std::string> portNameFromUri(const std::string &uri);

// Registers the scheme with PAPPL (in the server and in the command-line client).
void addDeviceScheme();

// What an open vdl: device carries: the port name, and the worker of the
// printer once a job has bound it (PAPPL does not say whose device it opens).
// Opening one asks nothing of the printer: PAPPL opens a device while it
// holds the printer's lock, so the job connects (and waits for it) after.
struct DeviceLink {
    std::shared_ptr<Worker> worker;
    std::string port;
};
DeviceLink *linkOf(pappl_device_t *device);

}  // namespace vdlapp

#endif
