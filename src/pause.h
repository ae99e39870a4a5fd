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

// After a Bluetooth open, whatever its result: lets the RFCOMM link settle
// before the model query.
constexpr unsigned kBluetoothSettlePauseMs = 100;
// Between two SDP searches for the printer's Serial Port channel.
constexpr unsigned kServiceSearchRetryPauseMs = 300;
// Between two RFCOMM connection attempts, each on a fresh socket.
constexpr unsigned kRfcommRetryPauseUs = 3;
// Between two connects of one RFCOMM socket while the device reports EBUSY.
constexpr unsigned kRfcommBusyPauseMs = 100;

inline void pauseMs(unsigned ms) { ::usleep(static_cast<useconds_t>(ms) * 1000u); }
inline void pauseUs(unsigned us) { ::usleep(static_cast<useconds_t>(us)); }

}  // namespace vdl

#endif
