#include "worker.h"

#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

#include "VdlZpl.h"
#include "worker_loop.h"

namespace vdlapp {

std::unique_ptr<vdl::NothrowPrinter> openPrinter(const std::string &port, std::error_code &error) {
    return std::make_unique<vdl::NothrowPrinter>(port, error);
}

ReplyHeader Connection::connect(const std::string &port) {
    if (printer_ && port == port_ && query() == 0) return reply(0);
    drop();
    port_ = port;
    std::error_code error;
    printer_ = open_(port, error);
    if (error) {
        drop();
        return reply(error.value());
    }
    return reply(query());
}

void Connection::drop() {
    printer_.reset();
    sent_.reset();
    owed_ = 0;
}

ReplyHeader Connection::settings(const Settings &s) {
    if (printer_ && sent_ && std::memcmp(&*sent_, &s, sizeof s) == 0) return reply(0);
    return reply(apply([&](vdl::NothrowPrinter &p) {
        // Each setting in turn, stopping at the first the printer does not take.
        std::error_code e;
        (e = p.setDensity(s.density)) || (e = p.setSpeed(s.speed)) ||
            (e = p.setPaper(s.widthDots, s.lengthDots, vdl::MediaType(s.mediaType), 0, s.gapDots)) ||
            (e = p.setMargin(s.leftDots, s.topDots)) ||
            (e = p.setCutter(s.cutter != 0, s.cutter == 2 ? s.cutPeriod : 0)) ||
            (e = p.setRewinder(s.rewind != 0)) || (e = p.setBackFeed(s.backFeed != 0)) ||
            (e = s.cutter != 0 ? p.setCutPosition(s.stopOffsetDots) : p.setOffset(s.stopOffsetDots));
        if (!e) sent_ = s;
        return e;
    }));
}

ReplyHeader Connection::raw(const std::vector<char> &bytes) {
    sent_.reset();  // the printer's own commands may change any setting
    return reply(apply([&](vdl::NothrowPrinter &p) { return p.write({bytes.data(), bytes.size()}); }));
}

// ZPL through the translator on this connection: the worker keeps the
// formats and graphics it stores, as the printer's memory, for the jobs
// after. Its warnings were said when the server checked the document.
ReplyHeader Connection::zpl(const std::vector<char> &text) {
    sent_.reset();  // ZPL may set the paper, the speed and the density
    if (!printer_) return reply(int(vdl::Errc::open));
    const int printed = VdlZplPrint(text.data(), text.size(), 0, nullptr, nullptr);
    constexpr int kTranslatorCodes = -200;  // -201 and below: the ZPL's fault, the connection is fine
    if (printed < 0 && printed > kTranslatorCodes) drop();
    return reply(printed < 0 ? printed : 0);
}

namespace {

// The page's rows as the library's raster, row by row.
vdl::Raster rasterOf(const PageHeader &header, const unsigned char *rows) {
    vdl::Raster raster(header.width, header.height);
    const std::size_t rowBytes = std::size_t(raster.rowBytes());
    for (int y = 0; y < raster.height(); ++y) raster.setRow(y, rows + std::size_t(y) * rowBytes, rowBytes);
    return raster;
}

}  // namespace

// One label: the picture once as a compressed bitmap and the print command
// with the number of copies, in one paced write.
ReplyHeader Connection::page(const std::vector<char> &payload) {
    PageHeader header;
    std::memcpy(&header, payload.data(), sizeof header);
    const vdl::Raster raster =
        rasterOf(header, reinterpret_cast<const unsigned char *>(payload.data() + sizeof header));
    return reply(apply([&](vdl::NothrowPrinter &p) {
        return p.printRasterLabel(raster, 0, 0, true, header.copies < 1 ? 1 : header.copies, 1);
    }));
}

ReplyHeader Connection::status() { return reply(printer_ ? query() : int(vdl::Errc::open)); }

// Only a query that went out unanswered is asked again: a write that failed
// means the connection is gone.
ReplyHeader Connection::confirm() {
    if (!printer_) return reply(int(vdl::Errc::open));
    int result = askStatus();
    for (int i = 1; i < kConfirmQueries && result == int(vdl::Errc::no_reply); ++i) result = askStatus();
    if (result != 0) drop();
    return reply(result);
}

int Connection::query() {
    const int result = askStatus();
    if (result != 0) drop();
    return result;
}

// The printer answers its queries in order, however late. A query whose
// answer did not come in time is owed an answer: while one is owed, the
// answers are read first and no new query goes out, so that an old answer is
// never taken for the state after what was sent since.
int Connection::askStatus() {
    if (owed_ > 0) {
        unsigned char answers[kConfirmQueries];
        const int got = readData(answers, owed_);
        if (got <= 0 || (owed_ -= got) > 0) return int(vdl::Errc::no_reply);
        status_ = answers[got - 1] & kErrorBits;
        return 0;
    }
    const vdl::Outcome<vdl::Status> outcome = printer_->status();
    status_ = outcome ? outcome.value.bits() : 0;
    if (outcome.error == vdl::Errc::no_reply) owed_ = 1;
    return outcome ? 0 : outcome.error.value();
}

template <typename Steps>
int Connection::apply(Steps &&steps) {
    if (!printer_) return int(vdl::Errc::open);
    const std::error_code error = steps(*printer_);
    if (error) drop();
    return error.value();
}

ReplyHeader Connection::reply(int result) {
    model_ = printer_ ? std::string(printer_->model()) : model_;
    return ReplyHeader{result, status_, std::uint32_t(model_.size())};
}

namespace {

bool validPayload(Request type, const std::vector<char> &payload) {
    switch (type) {
    case Request::connect: return !payload.empty();
    case Request::settings: return payload.size() == sizeof(Settings);
    case Request::raw:
    case Request::zpl: return true;
    case Request::status:
    case Request::confirm: return payload.empty();
    case Request::page: {
        if (payload.size() < sizeof(PageHeader)) return false;
        PageHeader h;
        std::memcpy(&h, payload.data(), sizeof h);
        return h.width > 0 && h.height > 0 && h.width <= 65535 && h.height <= 65535 &&
               payload.size() - sizeof h == std::size_t((h.width + 7) / 8) * std::size_t(h.height);
    }
    }
    return false;
}

ReplyHeader serve(Connection &connection, Request type, const std::vector<char> &payload) {
    switch (type) {
    case Request::connect: return connection.connect(std::string(payload.data(), payload.size()));
    case Request::settings: {
        Settings settings;
        std::memcpy(&settings, payload.data(), sizeof settings);
        return connection.settings(settings);
    }
    case Request::raw: return connection.raw(payload);
    case Request::zpl: return connection.zpl(payload);
    case Request::page: return connection.page(payload);
    case Request::status: return connection.status();
    case Request::confirm: return connection.confirm();
    }
    return ReplyHeader{};
}

}  // namespace

std::optional<int> serveRequest(int fd, Connection &connection) {
    RequestHeader request;
    if (!receiveAll(fd, &request, sizeof request) || request.length > kMaxPayload) return kServerGone;
    std::vector<char> payload(request.length);
    if (!receiveAll(fd, payload.data(), payload.size())) return kServerGone;
    const Request type = Request(request.type);
    if (!validPayload(type, payload)) return kBrokenStream;

    const ReplyHeader reply = serve(connection, type, payload);
    if (!sendAll(fd, &reply, sizeof reply) || !sendAll(fd, connection.model().data(), connection.model().size()))
        return kServerGone;
    return std::nullopt;
}

int serveRequests(int fd) {
    Connection connection;
    for (;;)
        if (const std::optional<int> end = serveRequest(fd, connection)) return *end;
}

int runWorker() {
    // Nothing the server held open leaks here. The worker ends when the
    // server's end of the socket closes (the server exited, or gave up on it).
    ::close_range(kWorkerDescriptor + 1, ~0u, 0);
    std::signal(SIGPIPE, SIG_IGN);
    // Its own name in ps, top and ss; the device URI is its argument.
    ::prctl(PR_SET_NAME, "vdl-app-worker");
    return serveRequests(kWorkerDescriptor);
}

}  // namespace vdlapp
