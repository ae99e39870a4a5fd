// The framed conversation between the server and a printer's worker process
// over a socket pair: a request header and its payload go one way, a reply
// header and the printer's model name come back. Both ends are this program,
// so the integers travel in host order.
#ifndef VDL_PRINTER_APP_PROTOCOL_H
#define VDL_PRINTER_APP_PROTOCOL_H

#include <cstddef>
#include <cstdint>

namespace vdlapp {

enum class Request : std::uint32_t {
    connect = 1,  // payload: the port name; (re)connects unless connected there and answering
    settings,     // payload: Settings
    raw,          // payload: bytes of the command language, sent as they are
    page,         // payload: PageHeader, then height rows of (width + 7) / 8 bytes
    status,       // no payload
    confirm,      // no payload: the status once the printer has taken every byte sent before
    zpl,          // payload: ZPL II, printed through libVdlZpl (its codes, -201 and below, as results)
};

struct RequestHeader {
    std::uint32_t type;
    std::uint32_t length;  // bytes of payload that follow
};

// result: 0, or the library's negative code (or libVdlZpl's, for zpl); status: the printer's error bits
// as last read; then modelLength bytes of the model name.
struct ReplyHeader {
    std::int32_t result;
    std::uint32_t status;
    std::uint32_t modelLength;
};

// A job's settings, already in the printer's own units (dots, levels).
struct Settings {
    std::int32_t density;      // 0-20
    std::int32_t speed;        // 1-12
    std::int32_t widthDots, lengthDots;
    std::int32_t mediaType;    // vdl::MediaType
    std::int32_t gapDots;
    std::int32_t leftDots, topDots;  // media-left-offset, media-top-offset
    std::int32_t cutter;       // 0 off, 1 after every label, 2 once after the job's labels
    std::int32_t cutPeriod;    // labels between cuts when cutter is 2
    std::int32_t rewind;       // 0 or 1
    std::int32_t backFeed;     // 0 or 1 (peel-off takes the label back before the next)
    std::int32_t stopOffsetDots;  // tear-off or cut position, -100 to 100
};

struct PageHeader {
    std::int32_t width, height, copies;
};

// Far above any label (a 4 x 40 inch roll at 600 dpi is 7 MB); a larger frame
// means the stream is broken.
constexpr std::uint32_t kMaxPayload = 64u << 20;

// Whole transfers on a stream socket: false when the peer is gone (no SIGPIPE).
bool sendAll(int fd, const void *data, std::size_t length);
bool receiveAll(int fd, void *data, std::size_t length);

}  // namespace vdlapp

#endif
