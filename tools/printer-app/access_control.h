// Who may change the server.
//
// Reading and printing are open to every user of this machine (and to the
// network once it is served). Changing the server - adding and deleting
// printers, setting defaults, pausing, the web pages that change settings -
// is for the server's own user and root, recognised by the kernel: over the
// domain socket by its directory's permissions (local_socket.h), over the
// loopback interface by the owner of the client's socket. Anyone else must
// authenticate with HTTP Basic through the PAM service named by
// -o auth-service (over TLS from the network, as PAPPL demands); without
// one they are refused.
#ifndef VDL_PRINTER_APP_ACCESS_CONTROL_H
#define VDL_PRINTER_APP_ACCESS_CONTROL_H

#include <optional>
#include <sys/types.h>

#include <pappl/pappl.h>

namespace vdlapp {

// The user on this machine at the other end of a connection the server
// accepted, as the kernel knows it: the peer's credentials on the domain
// socket, the owner of the client's socket over loopback. None for a client
// from the network.
std::optional<uid_t> localUserOf(int fd);

// Installs the rules above as the system's authentication callback.
void installAccessControl(pappl_system_t *system);

}  // namespace vdlapp

#endif
