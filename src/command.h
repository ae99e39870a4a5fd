// The two roads by which a command reaches the printer.
//
// Content (text, shapes, barcodes) is appended to the command buffer and goes
// out with the next flush or print; settings, actions and raw commands are sent
// at once, ahead of whatever content is waiting.
#ifndef VDL_COMMAND_H
#define VDL_COMMAND_H

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "printer.h"

namespace vdl {

// What append does once the pieces are in the buffer.
enum class AfterAppend {
    CheckFlush,  // run bufferCheck and return its result: a complete content command
    Nothing,     // return 0: the caller completes the command (print, converted text)
};

// Appends the pieces, in order, to the command buffer as one unit.
//
// A unit that fits the room left is copied and, with CheckFlush, followed by
// bufferCheck. A unit that does not fit first has the buffered content sent;
// if that send fails nothing of the unit is appended and the result is -105
// (the buffer keeps what it held). A unit longer than the whole buffer then
// passes through it in full-buffer sends; its last part stays buffered.
// The buffer is never written past its end and no byte is reordered.
int append(Printer &p, std::initializer_list<std::string_view> pieces,
           AfterAppend after = AfterAppend::CheckFlush);

// Writes the whole buffer in one writeData call and empties it when every byte
// went out. Returns false, leaving the buffer as it was, when the write fails.
bool sendBuffer(Printer &p);

// The flush-if-full step (bufferCheck): 0, or -105 when the flush failed.
int flushIfFull(Printer &p);

// Empties the command buffer (initDataBuffer).
void emptyBuffer(CommandBuffer &b);

// Writes one complete command straight to the connection, bypassing the
// command buffer, and traces the outcome under traceName: 0 when every byte
// was written, -105 otherwise.
int sendCommand(Printer &p, const char *traceName, std::string_view command);

inline std::string_view bytesOf(const void *data, uint32_t length) {
    return {static_cast<const char *>(data), length};
}

}  // namespace vdl

#endif
