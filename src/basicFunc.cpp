// The command buffer and the job commands: label content collects in the
// buffer and reaches the printer in few large writes; Prints ends a label;
// WriteBuffer, DirectIO and ClearBuffer talk to the printer at once.
#include <cstdio>
#include <cstring>

#include "VdlLabelAPI.h"
#include "command.h"
#include "io.h"
#include "printer.h"

unsigned char gPrintData[VDL_BUFFER_SIZE] = {};
uint32_t gDataIndex = 0;

namespace vdl {

void emptyBuffer(CommandBuffer &b) {
    printDebugLog("initDataBuffer", "Init Data Buffer Start");
    std::memset(b.bytes, 0, kBufferCapacity);
    b.fillLevel = 0;
    printDebugLog("initDataBuffer", "Init Data Buffer End");
}

bool sendBuffer(Printer &p) {
    const uint32_t fill = p.buffer.fill();
    if (writeTo(p.connection, p.buffer.bytes, fill) != int(fill)) return false;
    emptyBuffer(p.buffer);
    return true;
}

int flushIfFull(Printer &p) {
    constexpr const char *kName = "bufferCheck";
    printDebugLog(kName, "start");
    if (p.buffer.fill() >= kFlushThreshold && !sendBuffer(p)) {
        printDebugLog(kName, "Failed to write");
        return VDL_ERR_WRITE;
    }
    printDebugLog(kName, "end");
    return 0;
}

namespace {

// Sends what is buffered to make room; false when that send failed.
bool makeRoom(Printer &p) {
    if (p.buffer.fill() == 0 || sendBuffer(p)) return true;
    printDebugLog("append", "Failed to write");
    return false;
}

// Copies one piece behind the buffered bytes. A piece larger than the room
// left is only possible inside a unit longer than the whole buffer; it is
// sent in full-buffer writes as the buffer fills.
bool copyPiece(Printer &p, std::string_view piece) {
    CommandBuffer &b = p.buffer;
    while (!piece.empty()) {
        if (b.room() == 0 && !makeRoom(p)) return false;
        const std::size_t n = std::min<std::size_t>(b.room(), piece.size());
        std::memcpy(b.bytes + b.fill(), piece.data(), n);
        b.fillLevel = b.fill() + uint32_t(n);
        piece.remove_prefix(n);
    }
    return true;
}

}  // namespace

int append(Printer &p, std::initializer_list<std::string_view> pieces, AfterAppend after) {
    std::size_t total = 0;
    for (std::string_view piece : pieces) total += piece.size();
    if (total > p.buffer.room() && !makeRoom(p)) return VDL_ERR_WRITE;
    for (std::string_view piece : pieces)
        if (!copyPiece(p, piece)) return VDL_ERR_WRITE;
    return after == AfterAppend::CheckFlush ? flushIfFull(p) : 0;
}

int sendCommand(Printer &p, const char *traceName, std::string_view command) {
    if (writeTo(p.connection, command.data(), uint32_t(command.size())) != int(command.size())) {
        printDebugLog(traceName, "Failed to write");
        return VDL_ERR_WRITE;
    }
    printDebugLog(traceName, "end");
    return 0;
}

namespace {

// The longest print command, "P-2147483648,-2147483648\r", is 25 bytes.
constexpr std::size_t kPrintCommandArea = 32;

int printLabel(Printer &p, int first, int second) {
    constexpr const char *kName = "Prints";
    printDebugLog(kName, "start");
    char command[kPrintCommandArea] = {};
    const int length = std::snprintf(command, sizeof command, "P%d,%d\r", first, second);
    if (append(p, {std::string_view(command, std::size_t(length))}, AfterAppend::Nothing) != 0 || !sendBuffer(p)) {
        printDebugLog(kName, "Failed to write");
        return VDL_ERR_WRITE;
    }
    printDebugLog(kName, "end");
    return 0;
}

constexpr int kDirectReadLimit = 512;

int directIO(Printer &p, const void *out, uint32_t outLength, void *in, uint32_t *inLength) {
    constexpr const char *kName = "DirectIO";
    printDebugLog(kName, "start");
    if (out != nullptr && outLength != 0) {
        const int written = writeTo(p.connection, out, outLength);
        if (written < 0 || uint32_t(written) != outLength) {
            printDebugLog(kName, "Failed to write");
            return VDL_ERR_WRITE;
        }
    }
    if (in != nullptr && inLength != nullptr && *inLength != 0) {
        const int capacity = *inLength < uint32_t(kDirectReadLimit) ? int(*inLength) : kDirectReadLimit;
        const int received = readFrom(p.connection, in, capacity);
        *inLength = uint32_t(received);
        if (received == 0) {
            printDebugLog(kName, "Read len is 0");
            return VDL_ERR_NO_REPLY;
        }
    }
    printDebugLog(kName, "end");
    return 0;
}

}  // namespace
}  // namespace vdl

extern "C" int bufferCheck(void) { return vdl::flushIfFull(vdl::defaultPrinter()); }

extern "C" int Prints(int first, int second) { return vdl::printLabel(vdl::defaultPrinter(), first, second); }

extern "C" int WriteBuffer(const void *data, uint32_t length) {
    return vdl::writeTo(vdl::defaultPrinter().connection, data, length);
}

extern "C" int DirectIO(const void *out, uint32_t outLength, void *in, uint32_t *inLength) {
    return vdl::directIO(vdl::defaultPrinter(), out, outLength, in, inLength);
}

extern "C" int ClearBuffer(void) {
    printDebugLog("ClearBuffer", "start");
    return vdl::sendCommand(vdl::defaultPrinter(), "ClearBuffer", "CB\r");
}
