// The two roads by which a command reaches the printer.
//
// Content (text, shapes, barcodes) is appended to the command buffer and goes
// out with the next flush or print; settings, actions and raw commands are sent
// at once, ahead of whatever content is waiting.
#ifndef VDL_COMMAND_H
#define VDL_COMMAND_H

#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "VdlLabelAPI.h"
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
// a unit longer than the whole buffer then passes through it in full-buffer
// sends, and its last part stays buffered. If any of these sends fails the
// result is -105 and the buffer and its fill are as they were before the call.
// The buffer is never written past its end and no byte is reordered.
// undo, when given, is the state to go back to instead: that of the buffer
// before the operation began, for operations that append in several steps.
struct BufferSnapshot;
int append(Printer &p, std::initializer_list<std::string_view> pieces,
           AfterAppend after = AfterAppend::CheckFlush, const BufferSnapshot *undo = nullptr);

// A copy of the command buffer and its fill, to undo a content operation
// that failed half-way.
struct BufferSnapshot {
    explicit BufferSnapshot(const CommandBuffer &b);
    void restore(CommandBuffer &b) const;

    unsigned char bytes[kBufferCapacity];
    uint32_t fillLevel;
};

// Writes the whole buffer in one writeData call and empties it when every byte
// went out. Returns false, leaving the buffer as it was, when the write fails.
bool sendBuffer(Printer &p);

// The flush-if-full step (bufferCheck): 0, or -105 when the flush failed.
int flushIfFull(Printer &p);

// Empties the command buffer (initDataBuffer).
void emptyBuffer(CommandBuffer &b);

// The print command that ends a label, "P<first>,<second>\r", composed into
// out (room for kPrintCommandArea bytes); returns its length.
constexpr std::size_t kPrintCommandArea = 32;  // "P-2147483648,-2147483648\r" is 25 bytes
std::size_t composePrintCommand(int first, int second, char *out);

// Writes bytes straight to the connection in one writeData call; true when
// every byte was written.
bool writeWhole(Printer &p, std::string_view bytes);

// The pattern of every operation that talks to the printer at once: the
// command, composed whole, is written in one call and compared with its
// length; only then are the values sent recorded (record receives the
// printer's RecordedSettings) and "end" traced. A short or failed write
// traces "Failed to write" and gives -105, recording nothing.
template <typename Record>
int sendCommand(Printer &p, const char *traceName, std::string_view command, Record record) {
    if (!writeWhole(p, command)) {
        printDebugLog(traceName, "Failed to write");
        return VDL_ERR_WRITE;
    }
    record(p.settings);
    printDebugLog(traceName, "end");
    return 0;
}

inline int sendCommand(Printer &p, const char *traceName, std::string_view command) {
    return sendCommand(p, traceName, command, [](RecordedSettings &) {});
}

// A command composed in a fixed, zero-filled area. Each caller sizes the area
// for the widest form of its format; format() reports a command that does not
// fit instead of cutting it, so an area is never written past its end.
template <std::size_t Capacity>
class CommandArea {
public:
    // Formats the whole command; false when it does not fit the area.
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    bool format(const char *fmt, ...) {
        length_ = 0;
        va_list args;
        va_start(args, fmt);
        const bool fitted = appendFormatted(fmt, args);
        va_end(args);
        return fitted;
    }

    // Appends a decimal and a comma, the field of most commands; cheaper than
    // a format where a header is made of many such fields.
    bool appendField(int value) {
        if (length_ < 0) return false;
        char *end = text_ + Capacity - 1;  // room for the terminating NUL
        const std::to_chars_result r = std::to_chars(text_ + length_, end, value);
        if (r.ec != std::errc() || r.ptr == end) return overflow();
        *r.ptr = ',';
        length_ = int(r.ptr + 1 - text_);
        return true;
    }

    // Appends a letter and a comma.
    bool appendField(char letter) {
        if (length_ < 0 || std::size_t(length_) + 3 > Capacity) return overflow();
        text_[length_++] = letter;
        text_[length_++] = ',';
        return true;
    }

    bool fits() const { return length_ >= 0; }
    int length() const { return length_; }
    const char *text() const { return text_; }
    std::string_view view() const { return fits() ? std::string_view(text_, std::size_t(length_)) : std::string_view(); }

private:
    bool overflow() {
        length_ = -1;
        return false;
    }

    bool appendFormatted(const char *fmt, va_list args) {
        if (length_ < 0) return false;
        const std::size_t room = Capacity - std::size_t(length_);
        const int n = std::vsnprintf(text_ + length_, room, fmt, args);
        length_ = n >= 0 && std::size_t(n) < room ? length_ + n : -1;
        return length_ >= 0;
    }

    char text_[Capacity] = {};
    int length_ = 0;  // -1 once something did not fit
};

inline std::string_view bytesOf(const void *data, uint32_t length) {
    return {static_cast<const char *>(data), length};
}

}  // namespace vdl

#endif
