#include "interpose.h"

#include <dlfcn.h>
#include <poll.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fake_printer.h"

namespace vdltest {

std::vector<unsigned> &pauses() {
    static std::vector<unsigned> recorded;
    return recorded;
}

void resetPauses() { pauses().clear(); }

PollLog &pollLog() {
    static PollLog log;
    return log;
}

FixedTime &fixedTime() {
    static FixedTime time;
    return time;
}

SendScript &sendScript() {
    static SendScript script;
    return script;
}

template <typename F>
F realFunction(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace vdltest

extern "C" int usleep(useconds_t microseconds) {
    vdltest::pauses().push_back(unsigned(microseconds / 1000));
    vdltest::FakePrinter::pumpAll();
    return 0;
}

extern "C" int poll(struct pollfd *fds, nfds_t count, int timeout) {
    using Poll = int (*)(struct pollfd *, nfds_t, int);
    static const Poll realPoll = vdltest::realFunction<Poll>("poll");
    vdltest::PollLog &log = vdltest::pollLog();
    log.timeouts.push_back(timeout);
    if (log.pretendTimeout) return 0;
    return realPoll(fds, count, timeout);
}

extern "C" ssize_t send(int fd, const void *data, size_t length, int flags) {
    using Send = ssize_t (*)(int, const void *, size_t, int);
    static const Send realSend = vdltest::realFunction<Send>("send");
    vdltest::SendScript &script = vdltest::sendScript();
    if (fd == script.fd) {
        script.asked.push_back(length);
        if (!script.steps.empty()) {
            const vdltest::SendStep step = script.steps.front();
            script.steps.pop_front();
            if (step.error != 0) {
                errno = step.error;
                return -1;
            }
            if (step.take == 0) return 0;
            return realSend(fd, data, std::min(step.take, length), flags);
        }
    }
    return realSend(fd, data, length, flags);
}

extern "C" int gettimeofday(struct timeval *tv, void *zone) {
    using GetTime = int (*)(struct timeval *, void *);
    static const GetTime realGetTime = vdltest::realFunction<GetTime>("gettimeofday");
    const vdltest::FixedTime &fixed = vdltest::fixedTime();
    if (!fixed.active) return realGetTime(tv, zone);
    tv->tv_sec = fixed.seconds;
    tv->tv_usec = fixed.microseconds;
    return 0;
}
