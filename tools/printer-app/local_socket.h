// Where the server and its sub-commands meet on this machine: PAPPL's domain
// socket, kept in a private directory by the state directory.
//
// Servers with different state directories each keep their own socket, and
// only the server's user and root can connect: PAPPL grants every request
// that comes over its domain socket, the administrative ones included, so the
// directory's permissions are what keeps other users out.
#ifndef VDL_PRINTER_APP_LOCAL_SOCKET_H
#define VDL_PRINTER_APP_LOCAL_SOCKET_H

#include <string>

#include <pappl/pappl.h>

namespace vdlapp {

// Creates a directory and the parents it lacks (mode 0700).
bool makeDirectories(const std::string &path);

// The -o options of a command line, as PAPPL's main loop will read them.
int commandLineOptions(int argc, char *argv[], cups_option_t **options);

// The socket's directory: STATE/run, or, when the socket's path would not fit
// in a socket address, a directory named after the state directory in /run
// (root), $XDG_RUNTIME_DIR or /tmp. program is argv[0]: PAPPL names the
// socket after it.
std::string socketDirectory(const std::string &stateDirectory, const char *program);

// Makes PAPPL's server listen, and its sub-commands connect, there. Called
// before papplMainloop, which takes the place from the environment.
void useSocketDirectory(const std::string &directory);

// Creates the socket's directory, or checks it is the user's own, and makes
// it mode 0700; false, with errno, when it cannot be made so. The server does
// not start without it.
bool makeSocketDirectoryPrivate();
// The directory useSocketDirectory was given.
const std::string &chosenSocketDirectory();
// The socket itself, in that directory.
std::string chosenSocketPath(const char *program);

}  // namespace vdlapp

#endif
