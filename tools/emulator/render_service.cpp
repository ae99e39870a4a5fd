#include "render_service.h"

#include <httplib.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>

#include "live_page.h"
#include "option_values.h"

namespace vdlemu {

using httplib::Request;
using httplib::Response;
using Json = nlohmann::ordered_json;

void RenderedStream::command(int connection, int sequence, const Command &command) {
    faults.command(connection, sequence, command);
    if (lines.size() < kKeptLines) lines.push_back(commandLine(LogFormat::Json, connection, sequence, command));
    else ++linesLeftOut;
}

RenderedStream renderStream(const std::string &stream, PrinterConfig config, const ParserOptions &parser) {
    config.previewDirectory.clear();
    config.render = true;
    EmulatedPrinter printer(std::move(config));
    RenderedStream rendered;
    StreamSession session(1, printer, rendered, parser);
    session.receive(stream.data(), stream.size());
    session.finish();
    return rendered;
}

namespace {

constexpr const char *kPng = "image/png";
constexpr const char *kJson = "application/json";
constexpr const char *kText = "text/plain; charset=utf-8";

std::string base64(const std::string &bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        uint32_t group = uint32_t(uint8_t(bytes[i])) << 16;
        if (left > 1) group |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        if (left > 2) group |= uint8_t(bytes[i + 2]);
        for (std::size_t k = 0; k < 4; ++k) out += k <= left ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

// Our log lines are valid JSON by construction; a replacement character
// would only ever stand for a fault of ours.
std::string dump(const Json &json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json parsedLines(const std::vector<std::string> &lines) {
    Json array = Json::array();
    for (const std::string &line : lines) array.push_back(Json::parse(line, nullptr, false));
    return array;
}

Json describeLabel(const PrintedLabel &label) {
    Json elements = Json::array();
    for (const DrawnElement &e : label.elements) {
        if (e.box.empty()) continue;
        elements.push_back({{"connection", e.origin.connection}, {"sequence", e.origin.sequence}, {"x", e.box.x},
                            {"y", e.box.y}, {"width", e.box.width}, {"height", e.box.height}});
    }
    return {{"number", label.number}, {"width", label.width},     {"height", label.height},
            {"dotsPerInch", label.dotsPerInch}, {"elements", elements}};
}

bool wantsJson(const Request &request) { return request.get_header_value("Accept").find(kJson) != std::string::npos; }

// A refusal: the reason, and the log lines behind it when there are any;
// as JSON when the client asked for JSON.
void refuse(const Request &request, Response &response, int status, const std::string &reason,
            const FaultLines *faults = nullptr) {
    response.status = status;
    if (wantsJson(request)) {
        Json body = {{"error", reason}};
        if (faults != nullptr) body["faults"] = faults->lines();
        response.set_content(dump(body), kJson);
    } else {
        response.set_content(reason + "\n" + (faults != nullptr ? faults->text() : std::string()), kText);
    }
}

// A whole positive number of at most nine digits (a label's number).
bool labelNumber(const std::string &text, int &number) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    number = std::stoi(text);
    return number >= 1;
}

Json statusJson(uint8_t status) {
    Json bits = Json::array();
    for (const StatusBit &bit : statusBits())
        bits.push_back({{"name", bit.name}, {"bit", bit.bit}, {"set", (status & bit.bit) != 0}});
    return {{"status", status}, {"bits", bits}};
}

}  // namespace

RenderService::RenderService(PrinterConfig defaults, ParserOptions parser, LabelStore &store,
                             EmulatedPrinter &portPrinter)
    : defaults_(std::move(defaults)), parser_(parser), store_(store), portPrinter_(portPrinter) {
    defaults_.previewLimit = kMaxLabelsPerRequest;
}

void RenderService::attach(httplib::Server &server) {
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_payload_max_length(kMaxRequestBytes);
    server.set_read_timeout(kTimeoutSeconds, 0);
    server.set_write_timeout(kTimeoutSeconds, 0);
    server.set_keep_alive_timeout(kTimeoutSeconds);
    server.set_tcp_nodelay(true);  // an answer's head and body are written apart: no waiting for an ACK between
    const auto bind = [this](auto method) { return [this, method](const Request &q, Response &r) { (this->*method)(q, r); }; };
    const auto constant = [](const char *content, const char *type) {
        return [content, type](const Request &, Response &response) {
            response.set_header("Content-Security-Policy", "default-src 'self'; style-src 'self' 'unsafe-inline'");
            response.set_content(content, type);
        };
    };
    server.Get("/", constant(kLivePage, "text/html; charset=utf-8"));
    server.Get("/page.js", constant(kLivePageScript, "text/javascript; charset=utf-8"));
    // The body is taken through a reader: httplib would refuse a body sent as
    // a form (curl --data-binary's default type) beyond 8 KiB, and a command
    // stream is no form whatever its label says.
    server.Post("/render", [this](const Request &request, Response &response, const httplib::ContentReader &reader) {
        std::string body;
        const bool whole = reader([&body](const char *data, std::size_t length) {
            if (length > kMaxRequestBytes - body.size()) return false;
            body.append(data, length);
            return true;
        });
        if (whole) render(request, response, body);
        else refuse(request, response, 413, "the request is larger than " + std::to_string(kMaxRequestBytes >> 20) + " MiB");
    });
    server.Get("/labels", bind(&RenderService::labels));
    server.Get(R"(/labels/(\d+)\.png)", bind(&RenderService::labelPng));
    server.Get(R"(/labels/(\d+)\.json)", bind(&RenderService::labelJson));
    server.Get("/log", bind(&RenderService::log));
    server.Get("/status", bind(&RenderService::status));
    server.Post("/status", bind(&RenderService::setStatus));
    server.Get("/events", bind(&RenderService::events));
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}});
    // httplib's own refusals (413, no such resource, a bad request line) get words too.
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const Request &request, Response &response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        const std::string reason =
            response.status == 404 ? "no such resource: " + request.method + " " + request.path
            : response.status == 413 ? "the request is larger than " + std::to_string(kMaxRequestBytes >> 20) + " MiB"
                                     : "the request was refused (HTTP " + std::to_string(response.status) + ")";
        refuse(request, response, response.status, reason);
        return httplib::Server::HandlerResponse::Handled;
    }));
    server.set_exception_handler([](const Request &request, Response &response, std::exception_ptr) {
        refuse(request, response, 500, "the request could not be served");
    });
}

// dpi and paper from the query, else the emulator's defaults.
bool RenderService::renderSettings(const Request &request, Response &response, PrinterConfig &config) const {
    config = defaults_;
    if (request.has_param("dpi") && !parseDotsPerInch(request.get_param_value("dpi"), config.dotsPerInch)) {
        refuse(request, response, 400, "dpi takes a whole number from " + std::to_string(kMinDotsPerInch) + " to " +
                                           std::to_string(kMaxDotsPerInch));
        return false;
    }
    double width = double(defaults_.paper.width) / defaults_.dotsPerInch;
    double height = double(defaults_.paper.height) / defaults_.dotsPerInch;
    if (request.has_param("paper") && !parsePaperInches(request.get_param_value("paper"), width, height)) {
        refuse(request, response, 400, "paper takes WxH in inches, as 4x6");
        return false;
    }
    config.paper = paperInDots(width, height, config.dotsPerInch);
    return true;
}

void RenderService::render(const Request &request, Response &response, const std::string &body) const {
    PrinterConfig config;
    if (!renderSettings(request, response, config)) return;
    int wanted = 0;  // 0: every label (JSON) or the first (PNG)
    if (request.has_param("label") && !labelNumber(request.get_param_value("label"), wanted)) {
        refuse(request, response, 400, "label takes a label's number, 1 for the first");
        return;
    }
    const RenderedStream rendered = renderStream(body, config, parser_);
    if (rendered.faults.count() > 0) {
        refuse(request, response, 400, rendered.faults.summary() + ":", &rendered.faults);
        return;
    }
    if (rendered.labels.empty()) {
        refuse(request, response, 400, "the stream printed no label (no print command after its content)");
        return;
    }
    if (wanted > int(rendered.labels.size())) {
        refuse(request, response, 404, "the stream printed " + std::to_string(rendered.labels.size()) +
                                           " labels drawn here, not " + std::to_string(wanted));
        return;
    }
    response.set_header("X-Labels", std::to_string(rendered.labels.size()));
    if (!wantsJson(request)) {
        response.set_content(rendered.labels[std::size_t(std::max(wanted, 1) - 1)].png, kPng);
        return;
    }
    Json labels = Json::array();
    for (const PrintedLabel &label : rendered.labels) {
        if (wanted != 0 && label.number != wanted) continue;
        labels.push_back(describeLabel(label));
        labels.back()["png"] = base64(label.png);
    }
    response.set_content(dump({{"labels", labels}, {"log", parsedLines(rendered.lines)},
                               {"logLinesLeftOut", rendered.linesLeftOut}}),
                         kJson);
}

void RenderService::labels(const Request &, Response &response) const {
    Json list = Json::array();
    for (const auto &label : store_.labels()) {
        list.push_back(describeLabel(label->printed));
        list.back().erase("elements");
    }
    response.set_content(dump({{"labels", list}}), kJson);
}

void RenderService::labelPng(const Request &request, Response &response) const {
    int number = 0;
    const auto label = labelNumber(request.matches[1], number) ? store_.find(number) : nullptr;
    if (label == nullptr) return refuse(request, response, 404, "no label " + std::string(request.matches[1]) + " is kept");
    response.set_content(label->printed.png, kPng);
}

void RenderService::labelJson(const Request &request, Response &response) const {
    int number = 0;
    const auto label = labelNumber(request.matches[1], number) ? store_.find(number) : nullptr;
    if (label == nullptr) return refuse(request, response, 404, "no label " + std::string(request.matches[1]) + " is kept");
    Json json = describeLabel(label->printed);
    json["log"] = parsedLines(label->lines);
    json["logLinesLeftOut"] = label->linesLeftOut;
    response.set_content(dump(json), kJson);
}

void RenderService::log(const Request &request, Response &response) const {
    if (wantsJson(request)) response.set_content(store_.log(LogFormat::Json), "application/x-ndjson");
    else response.set_content(store_.log(LogFormat::Text), kText);
}

void RenderService::status(const Request &, Response &response) const {
    response.set_content(dump(statusJson(portPrinter_.status())), kJson);
}

void RenderService::setStatus(const Request &request, Response &response) {
    uint8_t status = 0;
    if (!parseStatus(request.body, status)) {
        return refuse(request, response, 400,
                      "the status takes a number (0x40) or error names joined by commas (cover-open,paper-empty)");
    }
    portPrinter_.setStatus(status);
    response.set_content(dump(statusJson(status)), kJson);
}

// Each event is the newest label's number; the page fetches what it has not
// seen. A comment every few seconds finds clients that went away, so that
// their thread is freed; the number of streams is bounded, as they hold a
// thread each.
void RenderService::events(const Request &request, Response &response) {
    if (++eventStreams_ > kMaxEventStreams) {
        --eventStreams_;
        return refuse(request, response, 503, std::to_string(kMaxEventStreams) + " event streams are open already");
    }
    struct Stream {
        int seen = -1;
        std::chrono::steady_clock::time_point lastWrite;
    };
    auto stream = std::make_shared<Stream>();
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](std::size_t, httplib::DataSink &sink) {
            using namespace std::chrono;
            const int newest = stream->seen < 0 ? store_.waitForLabel(-1, milliseconds(0))
                                                : store_.waitForLabel(stream->seen, seconds(1));
            if (store_.closed()) return false;
            std::string message;
            if (newest != stream->seen) message = "data: {\"newest\":" + std::to_string(newest) + "}\n\n";
            else if (steady_clock::now() - stream->lastWrite > seconds(kTimeoutSeconds)) message = ": still here\n\n";
            if (message.empty()) return true;
            stream->seen = newest;
            stream->lastWrite = steady_clock::now();
            return sink.write(message.data(), message.size());
        },
        [this](bool) { --eventStreams_; });
}

}  // namespace vdlemu
