// The worker process: owns the library's one connection for one printer and
// serves the server's requests on the socket it inherited as descriptor 3.
#ifndef VDL_PRINTER_APP_WORKER_H
#define VDL_PRINTER_APP_WORKER_H

namespace vdlapp {

// The hidden first argument that makes the executable a worker.
inline constexpr const char *kWorkerArgument = "--printer-worker";
inline constexpr int kWorkerDescriptor = 3;

// Serves until the server closes its end; returns the exit status.
int runWorker();

}  // namespace vdlapp

#endif
