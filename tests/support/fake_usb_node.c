/* A USB printer node for a machine without one, preloaded into a program
 * (LD_PRELOAD): "/dev/usb/lp0" opens as a TCP connection to a printer on
 * 127.0.0.1:$VDL_FAKE_USB_PORT, and the printer-class driver's device-ID
 * request on it answers $VDL_FAKE_USB_ID. Every other path and request goes
 * to the C library as usual. With $VDL_SLOW_CANCEL_MS, each cancel of a job
 * waits that long before PAPPL's own: requests that come meanwhile meet it.
 */
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#define FAKE_NODE "/dev/usb/lp0"
#define GET_DEVICE_ID_1024 0x84005001UL /* LPIOC_GET_DEVICE_ID(1024) */

static struct sockaddr_in printer_address(void) {
    const char *port = getenv("VDL_FAKE_USB_PORT");
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)(port ? atoi(port) : 0));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

static int open_fake_node(int flags) {
    struct sockaddr_in address = printer_address();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (address.sin_port == 0 || connect(fd, (struct sockaddr *)&address, sizeof address) != 0) {
        close(fd);
        errno = EBUSY;
        return -1;
    }
    if (flags & O_NONBLOCK) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

static int is_fake_node(int fd) {
    struct sockaddr_in peer, printer = printer_address();
    socklen_t size = sizeof peer;
    return getpeername(fd, (struct sockaddr *)&peer, &size) == 0 && peer.sin_family == AF_INET &&
           peer.sin_port == printer.sin_port && peer.sin_addr.s_addr == printer.sin_addr.s_addr;
}

/* open and open64: the fake node, or the C library's own call of that name. */
static int open_as(const char *name, const char *path, int flags, va_list arguments) {
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(arguments, int) : 0;
    if (strcmp(path, FAKE_NODE) == 0) return open_fake_node(flags);
    int (*next)(const char *, int, ...) = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, name);
    return next(path, flags, mode);
}

int open(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    int fd = open_as("open", path, flags, arguments);
    va_end(arguments);
    return fd;
}

int open64(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    int fd = open_as("open64", path, flags, arguments);
    va_end(arguments);
    return fd;
}

/* The driver's answer: the ID's length in two big-endian bytes, then the ID. */
int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void *area = va_arg(arguments, void *);
    va_end(arguments);
    if (request == GET_DEVICE_ID_1024 && is_fake_node(fd)) {
        const char *id = getenv("VDL_FAKE_USB_ID");
        size_t length = id ? strlen(id) : 0;
        if (length > 1021) length = 1021;
        unsigned char *bytes = area;
        bytes[0] = (unsigned char)((length + 2) >> 8);
        bytes[1] = (unsigned char)(length + 2);
        memcpy(bytes + 2, id ? id : "", length);
        return 0;
    }
    int (*next)(int, unsigned long, ...) = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return next(fd, request, area);
}

void papplJobCancel(void *job) {
    const char *pause = getenv("VDL_SLOW_CANCEL_MS");
    if (pause) usleep((useconds_t)atoi(pause) * 1000);
    void (*next)(void *) = (void (*)(void *))dlsym(RTLD_NEXT, "papplJobCancel");
    next(job);
}
