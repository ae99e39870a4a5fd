// What the server checks in every request before PAPPL acts on it.
//
// PAPPL 1.3 offers no hook between reading a request's header and serving
// it, so the server takes the place of the libcups calls PAPPL makes on its
// clients' connections (httpReadRequest, httpUpdate, ippRead, ippWrite) and
// passes them on to libcups. Only the connections PAPPL serves are touched;
// anything else (the sub-commands' own requests) goes through unchanged.
//
//  - The Host header must name this server: localhost, 127.0.0.1 or [::1],
//    and, when the network is served, the listen host name, this machine's
//    names and the address the client connected to; a port, if given, must
//    be the server's. Anything else is refused (HTTP 400) before any page or
//    operation runs: a page of another site whose name was made to point at
//    127.0.0.1 (DNS rebinding) must not reach the server as its user.
//  - The user a request comes from is the kernel's word (peer credentials on
//    the domain socket, the owner of the client's socket over loopback), and
//    it replaces the requesting-user-name a client claims: jobs belong to who
//    submitted them. A client from the network is "guest" unless it
//    authenticates (access_control.h).
//  - Another user's job names are hidden in Get-Jobs and Get-Job-Attributes,
//    except from administrators.
#ifndef VDL_PRINTER_APP_REQUEST_GATE_H
#define VDL_PRINTER_APP_REQUEST_GATE_H

#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>

#include <pappl/pappl.h>

namespace vdlapp {

// Starts checking requests for this system. listenHostname is
// -o listen-hostname (null: localhost only; "*": every interface).
void openRequestGate(pappl_system_t *system, const char *listenHostname);

// The user of the request being served on this thread, as the server knows
// it: the local user at the other end of the connection, or an
// authenticated user the access control named.
struct Requester {
    std::optional<uid_t> uid;  // none for a client from the network
    std::string name;          // "guest" for a client from the network
    bool administrator = false;  // the server's own user or root
};
const Requester &currentRequester();
void setAuthenticatedRequester(const std::string &name);

// When the server last received a request (time(nullptr)); 0 before any.
std::time_t lastRequestTime();

// Shown instead of the name of another user's job.
constexpr const char *kHiddenJobName = "(hidden)";

}  // namespace vdlapp

#endif
