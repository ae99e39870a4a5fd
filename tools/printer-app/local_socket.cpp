#include "local_socket.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vdlapp {
namespace {

std::string &chosen() {
    static std::string directory;
    return directory;
}

std::string baseName(const char *program) {
    const char *slash = std::strrchr(program, '/');
    return slash ? slash + 1 : program;
}

// PAPPL's name for the socket: the program's name, with the user's ID for
// anyone but root.
std::string socketFileName(const char *program) {
    const uid_t uid = ::getuid();
    return "/" + baseName(program) + (uid ? std::to_string(uid) : "") + ".sock";
}

std::string absolute(const std::string &path) {
    if (!path.empty() && path[0] == '/') return path;
    char *cwd = ::getcwd(nullptr, 0);
    const std::string full = std::string(cwd ? cwd : "") + "/" + path;
    std::free(cwd);
    return full;
}

// A place for short paths that only its user can write to.
std::string runtimeDirectory() {
    if (::getuid() == 0) return "/run";
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && runtime[0] == '/' ? runtime : "/tmp";
}

std::uint64_t fnv1a(const std::string &text) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3u;
    return hash;
}

}  // namespace

bool makeDirectories(const std::string &path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

int commandLineOptions(int argc, char *argv[], cups_option_t **options) {
    int count = 0;
    for (int i = 1; i + 1 < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "-o") == 0) count = cupsParseOptions(argv[++i], count, options);
    return count;
}

std::string socketDirectory(const std::string &stateDirectory, const char *program) {
    const std::string state = absolute(stateDirectory);
    const std::string inState = state + "/run";
    if (inState.size() + socketFileName(program).size() < sizeof(sockaddr_un::sun_path)) return inState;
    char hash[20];
    std::snprintf(hash, sizeof hash, "-%016" PRIx64, fnv1a(state));
    return runtimeDirectory() + "/" + baseName(program) + hash;
}

void useSocketDirectory(const std::string &directory) {
    chosen() = directory;
    // PAPPL puts root's socket in $SNAP_COMMON and anyone else's in the
    // temporary directory: $TMPDIR when it can be written to, which it must
    // be when PAPPL first looks, before a server it starts for a sub-command
    // could create it. One that is not the user's own is left alone: PAPPL
    // would pass over it, libcups would fail to make its temporary files
    // there, and whoever owns it could listen in the server's place.
    if (::getuid() == 0) {
        ::setenv("SNAP_COMMON", directory.c_str(), 1);
    } else if (makeSocketDirectoryPrivate()) {
        ::setenv("TMPDIR", directory.c_str(), 1);
    }
}

bool makeSocketDirectoryPrivate() {
    if (!makeDirectories(chosen())) return false;
    // Opened, not looked up twice: what is checked is what is made private.
    const int fd = ::open(chosen().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && info.st_uid != ::geteuid()) {
        errno = EPERM;
        ok = false;
    }
    if (ok && (info.st_mode & 077) != 0) ok = ::fchmod(fd, 0700) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

const std::string &chosenSocketDirectory() { return chosen(); }

std::string chosenSocketPath(const char *program) { return chosen() + socketFileName(program); }

}  // namespace vdlapp
