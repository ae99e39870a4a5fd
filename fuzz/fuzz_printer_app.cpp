// The printer application's job paths on arbitrary input: request frames,
// well-formed or damaged, go one by one through the worker's own request loop
// over a socket pair, with raw jobs and pages built the way the server builds
// them. The worker's printer is a sink that takes everything and answers the
// status queries the input chooses; nothing reaches a device or a network.
// Beyond never crashing, it checks:
// - a frame the worker must refuse (a payload its type cannot carry, an
//   unknown type) ends the loop with the broken-stream status, with nothing
//   sent to the printer and no reply;
// - a truncated frame, or the server's end closing, ends it with status 0;
// - every other frame gets one reply, whose result and status follow from the
//   printer's state: no printer, a printer that answers, one that does not;
// - a raw job's bytes reach the printer unchanged;
// - ZPL frames go through the translator: their reply is its result, and a
//   library failure in them drops the printer;
// - a page reaches it as exactly one compressed bitmap command at 0,0 whose
//   header carries the page's size and whose run-length stream decodes to the
//   page's rows (bits past the width white), then the print command with the
//   copies; a page the server side builds is always one the worker takes.
//
// Input: byte 0 (bit 0) opens with a connect the printer answers; then frames,
// each a selector byte and what its kind reads (see nextFrame).
#include <sys/socket.h>
#include <unistd.h>
#include <cstdarg>
#include <fcntl.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "VdlLabelAPI.h"
#include "VdlZpl.h"
#include "fuzz_support.h"
#include "page_payload.h"
#include "worker_loop.h"

namespace {

using vdlapp::Request;

// Status bit 0 carries nothing; the others are the printer's error bits.
constexpr std::uint32_t kErrorBits = 0xFE;
constexpr char kStatusQuery[] = "^cu\r";
constexpr int kUsbInterface = 0;  // the sink's interface type: the fastest pacing

void require(bool holds) {
    if (!holds) __builtin_trap();
}

// The worker's printer is the sink, opened as an application opens a
// parallel port: open() of kSinkPath gives a copy of the sink's library end.
// The sink outlives every connection, so that an answer waiting for the next
// query is not lost when the worker connects again; the model check's own
// query and answer are kept out of what the frames are judged by.
constexpr const char *kSinkPath = "/dev/lp9";
constexpr const char *kSinkModel = "VRL-408";
int gLibraryEnd = -1;   // the sink's library end, kept open across connections
std::string gCarried;   // what the library sent in a frame before it connected again

// Bytes waiting for the library's next read.
std::string unread(int fd) {
    std::string bytes;
    char chunk[4096];
    for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;) bytes.append(chunk, std::size_t(n));
    return bytes;
}

std::unique_ptr<vdl::NothrowPrinter> openSink(const std::string &, std::error_code &error) {
    gCarried += vdlfuzz::drain();
    const std::string waiting = unread(gLibraryEnd);
    if (gConnectedPrinter) DisconnectPrinter();
    vdlfuzz::answer(std::string(kSinkModel) + "\r\n");
    auto printer = std::make_unique<vdl::NothrowPrinter>(kSinkPath, error);
    require(!error);
    vdlfuzz::connectToSink(kUsbInterface);  // the fastest pacing
    vdlfuzz::drain();                        // the model query
    vdlfuzz::answer(waiting);
    return printer;
}

}  // namespace

extern "C" int open(const char *path, int flags, ...) {
    if (std::strcmp(path, kSinkPath) == 0) return ::dup(gLibraryEnd);
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return int(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

namespace {

// What the worker must do with a frame.
struct Frame {
    enum Kind { connect, settings, raw, page, status, literal };
    explicit Frame(Kind k) : kind(k) {}
    Kind kind;
    std::string wire;             // header and payload as they go out
    bool truncated = false;       // payload bytes missing: the last frame
    bool mustRefuse = false;      // a payload its type cannot carry
    bool answered = false;        // the printer answers a status query with answer
    unsigned char answer = 0;
    std::string port;             // connect
    std::string payload;          // what a raw, settings or literal frame carries
    Request literalType{};        // literal
    // page: what the bitmap command must carry
    std::vector<unsigned char> rows;
    int width = 0, height = 0, copies = 0;
};

void putHeader(Frame &f, std::uint32_t type, std::uint32_t length) {
    const vdlapp::RequestHeader header{type, length};
    f.wire.append(reinterpret_cast<const char *>(&header), sizeof header);
}

void putPayload(Frame &f, Request type, const void *payload, std::size_t length) {
    putHeader(f, std::uint32_t(type), std::uint32_t(length));
    f.wire.append(static_cast<const char *>(payload), length);
}

int le16(vdlfuzz::Input &in) {
    const int low = in.byte();
    return low | in.byte() << 8;
}

// A page as the server builds it from the raster's rows, which may come
// shorter or longer than the page's own, and more of them than it has.
void buildPage(vdlfuzz::Input &in, Frame &f, bool damaged) {
    // Mostly labels of a few hundred dots; now and then a row as wide as a
    // bitmap command can carry.
    const bool wide = in.byte() % 64 == 0;
    f.width = 1 + le16(in) % (wide ? 65535 : 320);
    f.height = 1 + in.byte() % (wide ? 2 : 24);
    f.copies = in.number();
    vdlapp::PagePayload page;
    require(page.start(unsigned(f.width), unsigned(f.height), f.copies));
    const std::size_t rowBytes = std::size_t(f.width + 7) / 8;
    const std::size_t lineBytes = std::size_t(std::max(1L, long(rowBytes) + in.byte() % 5 - 2));
    const unsigned lines = unsigned(f.height) + in.byte() % 3;
    for (unsigned y = 0; y < lines; ++y) {
        const std::string line = in.bytes(lineBytes);
        page.writeRow(y, reinterpret_cast<const unsigned char *>(line.data()), line.size());
        if (y >= unsigned(f.height)) continue;
        // What the row must be on paper: the bytes given (white past a short
        // line), the bits past the width white.
        std::vector<unsigned char> row(rowBytes, 0);
        std::memcpy(row.data(), line.data(), std::min(rowBytes, lineBytes));
        if (f.width % 8) row.back() &= static_cast<unsigned char>(0xFF << (8 - f.width % 8));
        f.rows.insert(f.rows.end(), row.begin(), row.end());
    }
    // A row numbered far past the page, as a broken raster might number it.
    const unsigned char black = 0xFF;
    if (in.byte() % 8 == 0) page.writeRow(UINT32_MAX - in.byte() * 0x1000000u, &black, 1);
    std::string payload(page.bytes().begin(), page.bytes().end());
    if (damaged) {
        // One byte too many or too few for the size in the header.
        if (in.byte() % 2) payload.push_back(char(in.byte()));
        else payload.pop_back();
        f.mustRefuse = true;
    }
    putPayload(f, Request::page, payload.data(), payload.size());
}

// A page header no server sends: a side 0, negative or past 65535, or too
// short to be a header at all.
void buildBadPage(vdlfuzz::Input &in, Frame &f) {
    constexpr int kBadSides[] = {0, -1, 65536, INT32_MIN, INT32_MAX};
    vdlapp::PageHeader header{1 + in.byte(), 1 + in.byte(), 1};
    (in.byte() % 2 ? header.width : header.height) = kBadSides[in.byte() % 5];
    require(!vdlapp::PagePayload().start(unsigned(header.width), unsigned(header.height), 1));  // nor does ours
    std::string payload(reinterpret_cast<const char *>(&header), sizeof header);
    payload += in.bytes(in.byte());
    if (in.byte() % 4 == 0) payload.resize(in.byte() % sizeof header);
    f.mustRefuse = true;
    putPayload(f, Request::page, payload.data(), payload.size());
}

// Header bytes as the input gives them, the payload as far as it goes.
void buildLiteral(vdlfuzz::Input &in, Frame &f) {
    const std::uint32_t type = in.byte() % 8 ? in.byte() % 8 : std::uint32_t(in.number());
    constexpr std::uint32_t kHugeLengths[] = {vdlapp::kMaxPayload + 1, UINT32_MAX, 1u << 20};
    const std::uint32_t length = in.byte() % 16 ? std::uint32_t(le16(in) % 4097) : kHugeLengths[in.byte() % 3];
    putHeader(f, type, length);
    f.literalType = Request(type);
    f.mustRefuse = type < std::uint32_t(Request::connect) || type > std::uint32_t(Request::zpl);
    f.truncated = length > vdlapp::kMaxPayload;
    for (std::uint32_t i = 0; i < length && !f.truncated; ++i) {
        if (in.empty()) f.truncated = true;
        else f.payload += char(in.byte());
    }
    f.wire += f.payload;
}

void chooseAnswer(vdlfuzz::Input &in, Frame &f, bool answered) {
    f.answered = answered;
    f.answer = in.byte();
}

// The selector: its value modulo 6 the kind; bits 3-5 all clear a damaged
// frame of that kind; bit 6 a status query left unanswered (or, for a damaged
// page, a header no server makes).
Frame nextFrame(vdlfuzz::Input &in, std::optional<std::string> &lastSettings) {
    const unsigned char selector = in.byte();
    const bool damaged = (selector >> 3) % 8 == 0;
    Frame f(Frame::Kind(selector % 6));
    switch (f.kind) {
    case Frame::connect:
        f.port = damaged ? "" : in.text(24);
        f.mustRefuse = f.port.empty();
        chooseAnswer(in, f, (selector & 0x40) == 0);
        putPayload(f, Request::connect, f.port.data(), f.port.size());
        break;
    case Frame::settings: {
        // Now and then the settings just sent again, which need not go out.
        f.payload = !damaged && lastSettings && in.byte() % 4 == 0
                         ? *lastSettings
                         : in.bytes(damaged ? in.byte() % 64 : sizeof(vdlapp::Settings));
        f.mustRefuse = f.payload.size() != sizeof(vdlapp::Settings);
        if (!f.mustRefuse) lastSettings = f.payload;
        putPayload(f, Request::settings, f.payload.data(), f.payload.size());
        break;
    }
    case Frame::raw:
        f.payload = in.bytes(std::size_t(le16(in) % 4097));
        putPayload(f, Request::raw, f.payload.data(), f.payload.size());
        break;
    case Frame::page:
        if (damaged && selector & 0x40) buildBadPage(in, f);
        else buildPage(in, f, damaged);
        break;
    case Frame::status:
        chooseAnswer(in, f, (selector & 0x40) == 0);
        f.mustRefuse = damaged;
        putPayload(f, Request::status, "?", damaged ? 1 : 0);
        break;
    case Frame::literal:
        buildLiteral(in, f);
        break;
    }
    return f;
}

// The printer's state as the worker must have it, and the checks of each reply.
class Model {
public:
    // Whether a status query goes out for f (and so whether its answer is read).
    bool queries(const Frame &f) const {
        return f.kind == Frame::connect || (f.kind == Frame::status && online_);
    }

    void check(const Frame &f, const vdlapp::ReplyHeader &reply, const std::string &sent) {
        switch (f.kind) {
        case Frame::connect: checkConnect(f, reply, sent); break;
        case Frame::status:
            if (online_) checkQuery(f, reply, sent, 1);
            else checkOffline(reply, sent);
            break;
        case Frame::settings:
            if (online_) checkSettings(f, reply, sent);
            else checkOffline(reply, sent);
            break;
        case Frame::raw:
            if (online_) checkRaw(f, reply, sent);
            else checkOffline(reply, sent);
            break;
        case Frame::page:
            if (online_) require(reply.result == 0 && isLabel(f, sent));
            else checkOffline(reply, sent);
            break;
        case Frame::literal: checkLiteral(f, reply, sent); break;
        }
        require(reply.status == status_);
    }

private:
    void checkConnect(const Frame &f, const vdlapp::ReplyHeader &reply, const std::string &sent) {
        // A printer already open on the same port is asked first; one that
        // does not answer is opened afresh and asked again.
        const bool samePrinter = online_ && f.port == port_;
        const int queries = samePrinter && !f.answered ? 2 : 1;
        if (!samePrinter) taken_.reset();
        port_ = f.port;
        checkQuery(f, reply, sent, queries);
    }

    void checkQuery(const Frame &f, const vdlapp::ReplyHeader &reply, const std::string &sent, int queries) {
        std::string expected;
        for (int i = 0; i < queries; ++i) expected += kStatusQuery;
        require(sent == expected);
        if (f.answered) {
            online_ = true;
            status_ = f.answer & kErrorBits;
        } else {
            lost();
        }
        require(reply.result == (f.answered ? 0 : VDL_ERR_NO_REPLY));
    }

    // Settings go out unless they are those the printer last took on this
    // connection.
    void checkSettings(const Frame &f, const vdlapp::ReplyHeader &reply, const std::string &sent) {
        require(reply.result == 0 && sent.empty() == (taken_ == f.payload));
        taken_ = f.payload;
    }

    // A raw job goes out unchanged and may change any setting.
    void checkRaw(const Frame &f, const vdlapp::ReplyHeader &reply, const std::string &sent) {
        require(reply.result == 0 && sent == f.payload);
        taken_.reset();
    }

    // ZPL goes through the translator, whose bytes are its own business: the
    // reply is its result, the translator's codes (-201 and below) keep the
    // printer, the library's drop it, and settings are to be sent anew.
    void checkZpl(const vdlapp::ReplyHeader &reply) {
        require(reply.result <= 0);
        taken_.reset();
        if (reply.result < 0 && reply.result > VDL_ZPL_ERR_ARGUMENT) lost();
    }

    // The worker dropped its printer: nothing of it is known any more.
    void lost() {
        online_ = false;
        status_ = 0;
        taken_.reset();
    }

    // A frame taken as it came asks nothing of the printer: a status query
    // goes unanswered, the rest works as long as there is a printer.
    void checkLiteral(const Frame &f, const vdlapp::ReplyHeader &reply, const std::string &sent) {
        // A confirm asks once and then only waits for that answer.
        const bool queried = f.literalType == Request::connect ||
                             ((f.literalType == Request::status || f.literalType == Request::confirm) && online_);
        if (queried) {
            require(reply.result == VDL_ERR_NO_REPLY);
            lost();
            if (f.literalType == Request::connect) port_ = f.payload;
        } else if (!online_) {
            checkOffline(reply, sent);
        } else if (f.literalType == Request::settings) {
            checkSettings(f, reply, sent);
        } else if (f.literalType == Request::raw) {
            checkRaw(f, reply, sent);
        } else if (f.literalType == Request::zpl) {
            checkZpl(reply);
        } else {
            require(reply.result == 0);
        }
    }

    static void checkOffline(const vdlapp::ReplyHeader &reply, const std::string &sent) {
        require(reply.result == VDL_ERR_OPEN && sent.empty());
    }

    // One compressed bitmap command at 0,0 carrying the page's rows, then the
    // print command with the copies, and nothing else.
    static bool isLabel(const Frame &f, const std::string &sent) {
        const auto at = [&](std::size_t i) { return i < sent.size() ? static_cast<unsigned char>(sent[i]) : -1; };
        const auto field = [&](std::size_t i) { return at(i) | at(i + 1) << 8; };
        const int rowBytes = (f.width + 7) / 8;
        if (sent.size() < 12 || sent.compare(0, 4, std::string("LCR\0", 4)) != 0 || field(4) != 0 || field(6) != 0 ||
            field(8) != (rowBytes & 0xFFFF) || field(10) != (f.height & 0xFFFF))
            return false;
        std::vector<unsigned char> rows;
        std::size_t i = 12;
        int lastRun = -1;  // a run shorter than 255 ends where its byte does
        while (rows.size() < f.rows.size()) {
            const int token = at(i++);
            if (token < 0) return false;
            if (token != 0x00 && token != 0xFF) {
                rows.push_back(static_cast<unsigned char>(token));
                lastRun = -1;
                continue;
            }
            const int count = at(i++);
            if (count <= 0 || token == lastRun) return false;
            rows.insert(rows.end(), std::size_t(count), static_cast<unsigned char>(token));
            lastRun = count < 255 ? token : -1;
        }
        const std::string print = "\rP" + std::to_string(std::max(1, f.copies)) + ",1\r";
        return rows == f.rows && sent.compare(i, std::string::npos, print) == 0;
    }

    bool online_ = false;
    std::string port_;
    std::optional<std::string> taken_;  // the settings the printer last took
    std::uint32_t status_ = 0;
};

// Both ends of the conversation: the worker's, and the server's, from which
// the frames go out and the replies come back.
struct Conversation {
    int worker = -1, server = -1;
    Conversation() {
        int pair[2];
        require(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0);
        worker = pair[0];
        server = pair[1];
    }
    ~Conversation() {
        close(worker);
        close(server);
    }

    void send(const std::string &bytes) const {
        require(::send(server, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) == ssize_t(bytes.size()));
    }
    // Whatever the worker answered, without waiting.
    std::string replies() const {
        std::string got;
        char buffer[4096];
        for (ssize_t n; (n = recv(server, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            got.append(buffer, std::size_t(n));
        return got;
    }
};

// The sink's state before the first frame: no printer, nothing pending.
void freshSink() {
    DisconnectPrinter();
    if (gLibraryEnd >= 0) ::close(gLibraryEnd);
    vdlfuzz::connectToSink(kUsbInterface);
    gLibraryEnd = ::dup(vdlfuzz::libraryEnd());
    gConnectedPrinter = 1;
    gCarried.clear();
    initDataBuffer();
}

Frame answeredConnect() {
    Frame f(Frame::connect);
    f.port = "usb";
    f.answered = true;
    putPayload(f, Request::connect, f.port.data(), f.port.size());
    return f;
}

// One frame through the worker's loop; false once the loop has ended.
bool exchange(Conversation &conversation, vdlapp::Connection &connection, Model &model, const Frame &f) {
    conversation.send(f.wire);
    if (f.truncated) shutdown(conversation.server, SHUT_WR);
    if (f.answered && !f.mustRefuse && model.queries(f)) vdlfuzz::answer(std::string(1, char(f.answer)));

    const std::optional<int> end = vdlapp::serveRequest(conversation.worker, connection);
    const std::string sent = std::exchange(gCarried, {}) + vdlfuzz::drain();
    const std::string replies = conversation.replies();
    if (end) {
        require(*end == (f.truncated ? vdlapp::kServerGone : vdlapp::kBrokenStream));
        require(f.truncated || f.mustRefuse || f.kind == Frame::literal);
        require(sent.empty() && replies.empty());
        return false;
    }
    require(!f.truncated && !f.mustRefuse);
    vdlapp::ReplyHeader reply;
    require(replies.size() >= sizeof reply);
    std::memcpy(&reply, replies.data(), sizeof reply);
    require(replies.size() == sizeof reply + reply.modelLength);
    const std::string reported = replies.substr(sizeof reply);
    require(reported.empty() || reported == kSinkModel);
    model.check(f, reply, sent);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vdlfuzz::Input in(data, size);
    freshSink();
    Conversation conversation;
    vdlapp::Connection connection(openSink);
    Model model;
    std::optional<std::string> lastSettings;

    if (in.byte() % 2 && !exchange(conversation, connection, model, answeredConnect())) __builtin_trap();
    while (!in.empty())
        if (!exchange(conversation, connection, model, nextFrame(in, lastSettings))) return 0;

    // The server closes its end: the worker ends quietly.
    shutdown(conversation.server, SHUT_WR);
    require(vdlapp::serveRequest(conversation.worker, connection) == vdlapp::kServerGone);
    require(vdlfuzz::drain().empty());
    return 0;
}
