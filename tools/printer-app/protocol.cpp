#include "protocol.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace vdlapp {

bool sendAll(int fd, const void *data, std::size_t length) {
    const char *at = static_cast<const char *>(data);
    while (length > 0) {
        const ssize_t n = ::send(fd, at, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        length -= std::size_t(n);
    }
    return true;
}

bool receiveAll(int fd, void *data, std::size_t length) {
    char *at = static_cast<char *>(data);
    while (length > 0) {
        const ssize_t n = ::recv(fd, at, length, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        length -= std::size_t(n);
    }
    return true;
}

}  // namespace vdlapp
