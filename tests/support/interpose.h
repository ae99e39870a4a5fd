// The test program's stand-ins for system calls the library makes.
//
// usleep: records the requested pause instead of sleeping, and lets every
//   fake printer run while the library "waits", so suites are fast and the
//   pause schedule can be asserted exactly.
// poll:   records the time-outs asked for; can pretend that the time ran out.
// gettimeofday: can return a fixed time, for the trace record's layout.
// send:   can replay a script of results (nothing taken, part taken, errors)
//         for one descriptor before passing calls through.
#ifndef VDL_TEST_INTERPOSE_H
#define VDL_TEST_INTERPOSE_H

#include <cstddef>
#include <deque>
#include <vector>

namespace vdltest {

// Pauses requested since the last reset, in milliseconds.
std::vector<unsigned> &pauses();
void resetPauses();

struct PollLog {
    std::vector<int> timeouts;
    bool pretendTimeout = false;
};
PollLog &pollLog();

// When set, gettimeofday reports this time.
struct FixedTime {
    bool active = false;
    long seconds = 0;
    long microseconds = 0;
};
FixedTime &fixedTime();

// One scripted result of send(): take `take` bytes (0 or more, at most what
// was asked), or fail with `error` when it is non-zero.
struct SendStep {
    std::size_t take;
    int error;
};

struct SendScript {
    int fd = -1;
    std::deque<SendStep> steps;      // consumed first; then calls pass through
    std::vector<std::size_t> asked;  // length of every send() on fd
};
SendScript &sendScript();

}  // namespace vdltest

#endif
