// The library's pauses: its flow control towards printers with small input
// buffers. Every wait goes through pauseMs, a plain sleep of the calling thread.
#ifndef VDL_PAUSE_H
#define VDL_PAUSE_H

#include <unistd.h>

namespace vdl {

// Before every write call.
constexpr unsigned kWriteStartPauseMs = 10;
// After a chunk that was refused, only partly taken or taken not at all.
constexpr unsigned kWriteRetryPauseMs = 200;
// Before a read, to give the printer time to answer.
constexpr unsigned kReadStartPauseMs = 100;
// After every read try.
constexpr unsigned kReadTryPauseMs = 30;
// Between the model query and reading its reply.
constexpr unsigned kModelReplyPauseMs = 100;

inline void pauseMs(unsigned ms) { ::usleep(static_cast<useconds_t>(ms) * 1000u); }

}  // namespace vdl

#endif
