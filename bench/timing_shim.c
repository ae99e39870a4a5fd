/* A preloaded shim for printer_app_bench.py: it timestamps, in every process
 * it is loaded into, the pauses (usleep), the bytes written to sockets and
 * the log lines that mark a job's start and end, so that the script can tell
 * processing time from waiting without trusting log timestamps (milliseconds
 * at best).
 *
 * VDL_BENCH_TRACE=PREFIX   records go to PREFIX.PID, one line each:
 *     pause START_NS END_NS REQUESTED_US
 *     net END_NS PEER_PORT BYTES HEAD   (a write or send on a socket: the TCP
 *                                       peer's port, 0 for a local socket, and
 *                                       the first 8 bytes in hex)
 *     mark NS TEXT                      (a write holding one of the marks)
 * VDL_BENCH_MARKS=A|B|...  the texts a write must hold to be a mark.
 * Times are CLOCK_REALTIME in nanoseconds, the clock the logs are stamped with.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

typedef int (*usleep_fn)(useconds_t);
typedef ssize_t (*write_fn)(int, const void *, size_t);
typedef ssize_t (*send_fn)(int, const void *, size_t, int);
typedef ssize_t (*writev_fn)(int, const struct iovec *, int);

static int64_t now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

/* The process's record file, opened on first use (after a fork the child gets its own). */
static int trace_fd(void) {
    static int fd = -1;
    static pid_t owner = 0;
    const pid_t pid = getpid();
    if (owner == pid) return fd;
    const char *prefix = getenv("VDL_BENCH_TRACE");
    fd = -1;
    if (prefix) {
        char path[4096];
        snprintf(path, sizeof path, "%s.%d", prefix, (int)pid);
        fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    owner = pid;
    return fd;
}

/* One record, in one write so that threads never interleave inside a line.
 * The raw system call keeps the shim out of its own write wrapper. */
static void record(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void record(const char *format, ...) {
    const int fd = trace_fd();
    if (fd < 0) return;
    char line[256];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0) syscall(SYS_write, fd, line, (size_t)(n < (int)sizeof line ? n : (int)sizeof line - 1));
}

/* The peer's port when fd is a connected TCP socket, 0 for a local (AF_UNIX)
 * socket, -1 for anything else. */
static int peer_port(int fd) {
    struct sockaddr_storage peer;
    socklen_t length = sizeof peer;
    if (getpeername(fd, (struct sockaddr *)&peer, &length) != 0) return -1;
    if (peer.ss_family == AF_INET) return ntohs(((struct sockaddr_in *)&peer)->sin_port);
    if (peer.ss_family == AF_INET6) return ntohs(((struct sockaddr_in6 *)&peer)->sin6_port);
    return peer.ss_family == AF_UNIX ? 0 : -1;
}

/* The first bytes of a write, in hex: enough to tell one command from another. */
static void hex_head(const void *bytes, size_t length, char out[2 * 8 + 1]) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char *b = bytes;
    size_t i = 0;
    for (; i < length && i < 8; ++i) {
        out[2 * i] = digits[b[i] >> 4];
        out[2 * i + 1] = digits[b[i] & 15];
    }
    out[2 * i] = 0;
}

/* head_length: how many of the bytes written can be read at bytes. */
static void record_socket_write(int port, const void *bytes, size_t head_length, ssize_t written) {
    char head[2 * 8 + 1];
    hex_head(bytes, head_length, head);
    record("net %lld %d %zd %s\n", (long long)now_ns(), port, written, head);
}

/* Which mark, if any, the written bytes hold; marks are looked for in log files only. */
static void record_mark(int fd, const void *bytes, size_t length) {
    const char *marks = getenv("VDL_BENCH_MARKS");
    struct stat st;
    if (!marks || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    for (const char *mark = marks; *mark;) {
        const char *end = strchr(mark, '|');
        const size_t size = end ? (size_t)(end - mark) : strlen(mark);
        if (size > 0 && memmem(bytes, length, mark, size)) {
            record("mark %lld %.*s\n", (long long)now_ns(), (int)size, mark);
            return;
        }
        mark += size + (end ? 1 : 0);
    }
}

static void after_write(int fd, const void *bytes, ssize_t written) {
    if (written <= 0) return;
    const int port = peer_port(fd);
    if (port >= 0)
        record_socket_write(port, bytes, (size_t)written, written);
    else
        record_mark(fd, bytes, (size_t)written);
}

int usleep(useconds_t us) {
    static usleep_fn real;
    if (!real) real = (usleep_fn)dlsym(RTLD_NEXT, "usleep");
    const int64_t start = now_ns();
    const int result = real(us);
    record("pause %lld %lld %u\n", (long long)start, (long long)now_ns(), (unsigned)us);
    return result;
}

ssize_t write(int fd, const void *bytes, size_t length) {
    static write_fn real;
    if (!real) real = (write_fn)dlsym(RTLD_NEXT, "write");
    const ssize_t written = real(fd, bytes, length);
    after_write(fd, bytes, written);
    return written;
}

ssize_t send(int fd, const void *bytes, size_t length, int flags) {
    static send_fn real;
    if (!real) real = (send_fn)dlsym(RTLD_NEXT, "send");
    const ssize_t sent = real(fd, bytes, length, flags);
    after_write(fd, bytes, sent);
    return sent;
}

/* Only socket writes matter from writev (marks are single writes). */
ssize_t writev(int fd, const struct iovec *parts, int count) {
    static writev_fn real;
    if (!real) real = (writev_fn)dlsym(RTLD_NEXT, "writev");
    const ssize_t written = real(fd, parts, count);
    const int port = written > 0 ? peer_port(fd) : -1;
    if (port >= 0) {
        const size_t first = parts[0].iov_len < (size_t)written ? parts[0].iov_len : (size_t)written;
        record_socket_write(port, parts[0].iov_base, first, written);
    }
    return written;
}
