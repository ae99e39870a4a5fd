#include "render_service.h"

#include <httplib.h>
#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>

#include "bounded_server.h"
#include "label_pdf.h"
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
    if (isFault(command)) return warn(commandLine(LogFormat::Text, connection, sequence, command));
    const std::string at = std::to_string(connection) + "." + std::to_string(sequence) + " " + command.code + ": ";
    for (const auto &[key, note] : command.notes) {
        if (key == "problem") warn(at + note);
        else if (key == "preview" && note.rfind("none", 0) == 0) warn(at + "no preview: " + note.substr(6));
    }
}

void RenderedStream::label(const PrintedLabel &label) {
    labels.push_back(label);
    const std::string paper = std::to_string(label.width) + "x" + std::to_string(label.height) + "-dot paper";
    for (const DrawnElement &e : label.elements) {
        if (!e.clipped) continue;
        const std::string element = "label " + std::to_string(label.number) + ": " + std::to_string(e.origin.connection) +
                                    "." + std::to_string(e.origin.sequence) + " " + e.code;
        warn(element + (e.box.empty() ? " lies off the " + paper + ": nothing of it is drawn"
                                      : " is partly off the " + paper + ": cut at its edge"));
    }
}

void RenderedStream::warn(std::string warning) {
    if (++warningCount <= kKeptWarnings) warnings.push_back(std::move(warning));
}

// The stream is read in pieces, so that a render nobody waits for stops
// between them as well as between elements.
RenderedStream renderStream(const std::string &stream, PrinterConfig config, const ParserOptions &parser) {
    constexpr std::size_t kPiece = 64 * 1024;
    config.previewDirectory.clear();
    config.render = true;
    const std::function<bool()> stillWanted = config.stillWanted;
    EmulatedPrinter printer(std::move(config));
    RenderedStream rendered;
    StreamSession session(1, printer, rendered, parser);
    for (std::size_t at = 0; at < stream.size(); at += kPiece) {
        if (stillWanted && !stillWanted()) {
            rendered.calledOff = true;
            return rendered;
        }
        session.receive(stream.data() + at, std::min(kPiece, stream.size() - at));
    }
    session.finish();
    return rendered;
}

namespace {

constexpr const char *kPng = "image/png";
constexpr const char *kJson = "application/json";
constexpr const char *kPdf = "application/pdf";
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
            {"dotsPerInch", label.dotsPerInch}, {"elements", elements}, {"elementsNotDrawn", label.notDrawn}};
}

// The q of a media range's parameters (";q=0.5;level=1"): a parameter named q
// (in any case, blanks around '=' allowed), 0 to 1 with at most three
// decimals. 1 when there is none, or none that is such a number (a malformed
// q is passed over, as the other parameters are).
double qualityOf(const std::string &parameters) {
    for (std::size_t from = 0; from < parameters.size();) {
        const std::size_t end = std::min(parameters.find(';', from + 1), parameters.size());
        std::string parameter;
        for (char c : parameters.substr(from + 1, end - from - 1))
            if (c != ' ' && c != '\t') parameter += char(std::tolower(static_cast<unsigned char>(c)));
        from = end;
        if (parameter.compare(0, 2, "q=") != 0) continue;
        const std::string value = parameter.substr(2);
        const bool number = !value.empty() && value.size() <= 5 && (value[0] == '0' || value[0] == '1') &&
                            (value.size() == 1 || (value[1] == '.' && value.find_first_not_of("0123456789", 2) == std::string::npos));
        if (!number) continue;
        return std::min(std::strtod(value.c_str(), nullptr), 1.0);
    }
    return 1;
}

// What an Accept header grants `type`: the q value of its most specific
// range that matches (type/subtype, then type/*, then */*), 0 for none;
// no header grants everything.
double acceptance(const Request &request, const std::string &type) {
    if (!request.has_header("Accept")) return 1;
    const std::string accept = request.get_header_value("Accept");
    const auto trim = [](std::string text) {
        const std::size_t from = text.find_first_not_of(" \t"), to = text.find_last_not_of(" \t");
        return from == std::string::npos ? std::string() : text.substr(from, to - from + 1);
    };
    const std::string major = type.substr(0, type.find('/')) + "/*";
    int best = 0;
    double q = 0;
    for (std::size_t from = 0; from <= accept.size();) {
        const std::size_t comma = std::min(accept.find(',', from), accept.size());
        const std::string item = accept.substr(from, comma - from);
        from = comma + 1;
        const std::size_t semicolon = std::min(item.find(';'), item.size());
        std::string range = trim(item.substr(0, semicolon));
        std::transform(range.begin(), range.end(), range.begin(), [](unsigned char c) { return std::tolower(c); });
        const int specificity = range == type ? 3 : range == major ? 2 : range == "*/*" ? 1 : 0;
        if (specificity <= best) continue;
        best = specificity;
        q = qualityOf(item.substr(semicolon));
    }
    return q;
}

// The first of `offered` (in the service's preference) that the client
// grants the most; null when it grants none.
const char *negotiate(const Request &request, std::initializer_list<const char *> offered) {
    const char *chosen = nullptr;
    double best = 0;
    for (const char *type : offered) {
        const double q = acceptance(request, type);
        if (q > best) {
            best = q;
            chosen = type;
        }
    }
    return chosen;
}

bool wantsJson(const Request &request) { return acceptance(request, kJson) > acceptance(request, "text/plain"); }

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

// Within the bounds of the labels' drawing: a page holds a label's bitmap at
// a bit a dot at most, compressed, and one bitmap is read at a time.
void answerPdf(const Request &request, Response &response, const std::vector<const PrintedLabel *> &labels) {
    std::string pdf = labelsPdf(labels);
    if (pdf.empty()) return refuse(request, response, 500, "the PDF could not be made");
    response.set_content(std::move(pdf), kPdf);
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


// The Host names a request may give, each with the port: the address it
// came in on, localhost, and those the user allowed. Anything else is a name
// the service was not asked to answer to: a page that rebound a name of its
// own to this address, say.
bool hostAllowed(const Request &request, const std::vector<std::string> &allowed) {
    const std::string host = request.get_header_value("Host");
    const std::string port = ":" + std::to_string(request.local_port);
    const bool ipv6 = request.local_addr.find(':') != std::string::npos;
    if (host == (ipv6 ? "[" + request.local_addr + "]" : request.local_addr) + port || host == "localhost" + port)
        return true;
    return std::any_of(allowed.begin(), allowed.end(), [&](const std::string &name) { return host == name + port; });
}

// Why a request that could change something, or spend the machine's time,
// seems to come from another site's page ("" when it does not): browsers
// say where a request comes from, and this service's own page is its origin.
std::string foreignOrigin(const Request &request) {
    if (request.has_header("Origin") && request.get_header_value("Origin") != "http://" + request.get_header_value("Host"))
        return "Origin " + request.get_header_value("Origin");
    const std::string site = request.get_header_value("Sec-Fetch-Site");
    if (site == "cross-site" || site == "same-site") return "Sec-Fetch-Site " + site;
    return "";
}

bool changesNothing(const Request &request) { return request.method == "GET" || request.method == "HEAD"; }

std::string megabytes(std::size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

}  // namespace

// A turn to draw: at most kMaxRenders at once, kMaxWaitingRenders more wait
// for one, kRenderWaitSeconds at most; the others are told to come back.
class RenderService::RenderSlot {
public:
    explicit RenderSlot(RenderService &service) : service_(service) {
        if (++service_.renders_ > kMaxRenders + kMaxWaitingRenders) return;
        std::unique_lock<std::mutex> lock(service_.renderMutex_);
        taken_ = service_.renderDone_.wait_for(lock, std::chrono::seconds(kRenderWaitSeconds),
                                               [this] { return service_.drawing_ < kMaxRenders; });
        if (taken_) ++service_.drawing_;
    }
    ~RenderSlot() {
        --service_.renders_;
        if (!taken_) return;
        {
            std::lock_guard<std::mutex> lock(service_.renderMutex_);
            --service_.drawing_;
        }
        service_.renderDone_.notify_one();
    }
    bool taken() const { return taken_; }

private:
    RenderService &service_;
    bool taken_ = false;
};

RenderService::RenderService(PrinterConfig defaults, ParserOptions parser, LabelStore &store,
                             EmulatedPrinter &portPrinter, std::vector<std::string> allowedHosts)
    : defaults_(std::move(defaults)), parser_(parser), store_(store), portPrinter_(portPrinter),
      allowedHosts_(std::move(allowedHosts)) {
    defaults_.previewLimit = kMaxLabelsPerRequest;
    defaults_.runWork = kRequestWork;
    // A render whose client closed its connection stops.
    defaults_.stillWanted = [] { return !BoundedServer::clientGone(); };
}

// Before any route, and before a body is read: the Host, and for a request
// that is not a plain read, where it comes from.
bool RenderService::admit(const Request &request, Response &response) const {
    if (!hostAllowed(request, allowedHosts_)) {
        refuse(request, response, 421,
               "this service answers to its address or localhost, with its port, not to Host \"" +
                   request.get_header_value("Host") + "\" (--http-allow-host NAME allows a name)");
        return false;
    }
    const std::string foreign = changesNothing(request) ? "" : foreignOrigin(request);
    if (!foreign.empty()) {
        refuse(request, response, 403,
               "a " + request.method + " from another site's page is refused (" + foreign + ")");
        return false;
    }
    return true;
}

void RenderService::attach(httplib::Server &server) {
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_payload_max_length(kMaxRequestBytes);
    server.set_read_timeout(kTimeoutSeconds, 0);
    server.set_write_timeout(kTimeoutSeconds, 0);
    server.set_keep_alive_timeout(kTimeoutSeconds);
    server.set_tcp_nodelay(true);  // an answer's head and body are written apart: no waiting for an ACK between
    server.set_pre_routing_handler([this](const Request &request, Response &response) {
        if (admit(request, response)) return httplib::Server::HandlerResponse::Unhandled;
        BoundedServer::closeAfterAnswer();  // its body, if any, was not read
        return httplib::Server::HandlerResponse::Handled;
    });
    const auto bind = [this](auto method) { return [this, method](const Request &q, Response &r) { (this->*method)(q, r); }; };
    const auto constant = [](const char *content, const char *type) {
        return [content, type](const Request &, Response &response) {
            response.set_header("Content-Security-Policy", "default-src 'self'; img-src 'self' blob:; style-src 'self' 'unsafe-inline'");
            response.set_content(content, type);
        };
    };
    server.Get("/", constant(kLivePage, "text/html; charset=utf-8"));
    server.Get("/page.js", constant(kLivePageScript, "text/javascript; charset=utf-8"));
    // The body is taken through a reader: httplib would refuse a body sent as
    // a form (curl --data-binary's default type) beyond 8 KiB, and a command
    // stream is no form whatever its label says.
    server.Post("/render", [this](const Request &request, Response &response, const httplib::ContentReader &reader) {
        // A render's tens of megabytes go back to the system once it is answered,
        // rather than staying with the thread's arena for the next one.
        struct GiveBackMemory {
            ~GiveBackMemory() { malloc_trim(0); }
        } giveBack;
        std::string body;
        bool tooLarge = false;
        const bool whole = reader([&body, &tooLarge](const char *data, std::size_t length) {
            tooLarge = length > kMaxRequestBytes - body.size();
            if (!tooLarge) body.append(data, length);
            return !tooLarge;
        });
        if (whole) return render(request, response, body);
        BoundedServer::closeAfterAnswer();
        if (BoundedServer::requestTimedOut()) return refuse(request, response, 408, "the request did not arrive whole within " + std::to_string(BoundedServer::kRequestSeconds) + " s");
        // httplib refuses a declared length past its limit before any byte reaches the reader.
        const std::string declared = request.get_header_value("Content-Length");
        tooLarge = tooLarge || (!declared.empty() && std::strtoull(declared.c_str(), nullptr, 10) > kMaxRequestBytes);
        if (tooLarge) return refuse(request, response, 413, "the request is larger than " + megabytes(kMaxRequestBytes));
        refuse(request, response, 400, "the body could not be read whole (cut short, a damaged chunk, or an encoding that does not decode)");
    });
    server.Get("/labels", bind(&RenderService::labels));
    server.Get(R"(/labels/(\d+)\.png)", bind(&RenderService::labelPng));
    server.Get(R"(/labels/(\d+)\.json)", bind(&RenderService::labelJson));
    server.Get(R"(/labels/(\d+)\.pdf)", bind(&RenderService::labelPdf));
    server.Get("/log", bind(&RenderService::log));
    server.Get("/status", bind(&RenderService::status));
    server.Post("/status", bind(&RenderService::setStatus));
    server.Get("/events", bind(&RenderService::events));
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}});
    // httplib's own refusals (413, no such resource, a bad request line, a
    // request cut off at its deadline) get words too.
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const Request &request, Response &response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        if (BoundedServer::requestTimedOut()) response.status = 408;
        const std::string reason =
            response.status == 404 ? "no such resource: " + request.method + " " + request.path
            : response.status == 413 ? "the request is larger than " + megabytes(kMaxRequestBytes)
            : response.status == 408 ? "the request did not arrive whole within " + std::to_string(BoundedServer::kRequestSeconds) + " s"
                                     : "the request was refused (HTTP " + std::to_string(response.status) + ")";
        refuse(request, response, response.status, reason);
        return httplib::Server::HandlerResponse::Handled;
    }));
    server.set_exception_handler([](const Request &request, Response &response, std::exception_ptr) {
        refuse(request, response, 500, "the request could not be served");
    });
}

// dpi and paper from the query, else the emulator's defaults. A dpi outside
// the range and paper larger than the emulator draws are taken at the
// nearest it draws, with a warning.
bool RenderService::renderSettings(const Request &request, Response &response, PrinterConfig &config,
                                   std::vector<std::string> &warnings) const {
    config = defaults_;
    if (request.has_param("dpi")) {
        const std::string dpi = request.get_param_value("dpi");
        if (dpi.empty() || dpi.size() > 9 || dpi.find_first_not_of("0123456789") != std::string::npos) {
            refuse(request, response, 400, "dpi takes a whole number, from " + std::to_string(kMinDotsPerInch) + " to " +
                                               std::to_string(kMaxDotsPerInch));
            return false;
        }
        config.dotsPerInch = std::clamp(std::stoi(dpi), kMinDotsPerInch, kMaxDotsPerInch);
        if (std::to_string(config.dotsPerInch) != dpi)
            warnings.push_back("dpi " + dpi + " taken as " + std::to_string(config.dotsPerInch) + " (it draws " +
                               std::to_string(kMinDotsPerInch) + " to " + std::to_string(kMaxDotsPerInch) + ")");
    }
    double width = double(defaults_.paper.width) / defaults_.dotsPerInch;
    double height = double(defaults_.paper.height) / defaults_.dotsPerInch;
    if (request.has_param("paper") && !parsePaperInches(request.get_param_value("paper"), width, height)) {
        refuse(request, response, 400, "paper takes WxH in inches, as 4x6");
        return false;
    }
    config.paper = paperInDots(width, height, config.dotsPerInch);
    const double asked[] = {width * config.dotsPerInch, height * config.dotsPerInch};
    if (asked[0] > kMaxPaperSide || asked[1] > kMaxPaperSide) {
        char said[160];
        std::snprintf(said, sizeof said, "paper %gx%g in at %d dpi is %.0fx%.0f dots: drawn on %dx%d (at most %d a side)",
                      width, height, config.dotsPerInch, asked[0], asked[1], config.paper.width, config.paper.height,
                      kMaxPaperSide);
        warnings.push_back(said);
    }
    return true;
}

// Best effort: what can be drawn is, and the answer says what was not as
// asked (X-Warnings: their number; the JSON answer lists them). With
// ?strict=1 any warning refuses the render instead.
void RenderService::render(const Request &request, Response &response, const std::string &body) {
    const char *type = negotiate(request, {kPng, kJson, kPdf});
    if (type == nullptr)
        return refuse(request, response, 406,
                      "POST /render answers image/png, application/json or application/pdf, which Accept does not take");
    const std::string strictness = request.get_param_value("strict");
    if (request.get_param_value_count("strict") > 1 || (request.has_param("strict") && strictness != "1" && strictness != "0"))
        return refuse(request, response, 400, "strict takes 1 (refuse a render with warnings) or 0, once");
    const bool strict = strictness == "1";
    const std::string from = request.get_param_value("from");
    if (request.get_param_value_count("from") > 1 || (request.has_param("from") && from != "zpl" && from != "commands"))
        return refuse(request, response, 400, "from takes zpl (the body is ZPL II) or commands (the default), once");
    if (from == "zpl" && !zpl_) return refuse(request, response, 501, "this emulator was built without the ZPL translator");
    PrinterConfig config;
    std::vector<std::string> settingWarnings;
    if (!renderSettings(request, response, config, settingWarnings)) return;
    int wanted = 0;  // 0: every label (JSON, PDF) or the first (PNG)
    if (request.has_param("label") && !labelNumber(request.get_param_value("label"), wanted)) {
        refuse(request, response, 400, "label takes a label's number, 1 for the first");
        return;
    }
    const RenderSlot slot(*this);
    if (!slot.taken()) {
        response.set_header("Retry-After", "1");
        return refuse(request, response, 503, std::to_string(kMaxRenders) + " renders are drawing and " +
                                                  std::to_string(kMaxWaitingRenders) + " waiting already; try again");
    }
    std::string stream;
    if (from == "zpl") {
        Translation translated = zpl_(body);
        if (!translated.ok) {
            std::string reason = "the ZPL could not be translated:";
            for (const std::string &message : translated.messages) reason += "\n" + message;
            return refuse(request, response, 400, reason);
        }
        stream = std::move(translated.stream);
        for (const std::string &message : translated.messages) settingWarnings.push_back("ZPL " + message);
    }
    RenderedStream drawn = renderStream(from == "zpl" ? stream : body, config, parser_);
    if (drawn.calledOff) return;  // nobody to answer
    drawn.warnings.insert(drawn.warnings.begin(), settingWarnings.begin(), settingWarnings.end());
    drawn.warningCount += settingWarnings.size();
    drawn.warnings.resize(std::min(drawn.warnings.size(), RenderedStream::kKeptWarnings));
    if (strict && drawn.faults.count() > 0)
        return refuse(request, response, 400, drawn.faults.summary() + ":", &drawn.faults);
    if (strict && drawn.warningCount > 0) {
        std::string reason = "strict: " + std::to_string(drawn.warningCount) + " warnings:";
        for (const std::string &warning : drawn.warnings) reason += "\n" + warning;
        return refuse(request, response, 400, reason);
    }
    if (drawn.labels.empty()) {
        refuse(request, response, 400, "the stream printed no label drawn here (no print command after its content)",
               drawn.faults.count() > 0 ? &drawn.faults : nullptr);
        return;
    }
    if (wanted > int(drawn.labels.size())) {
        refuse(request, response, 404, "the stream printed " + std::to_string(drawn.labels.size()) +
                                           " labels drawn here, not " + std::to_string(wanted));
        return;
    }
    response.set_header("X-Labels", std::to_string(drawn.labels.size()));
    response.set_header("X-Warnings", std::to_string(drawn.warningCount));
    if (type == kPng) {
        response.set_content(drawn.labels[std::size_t(std::max(wanted, 1) - 1)].png, kPng);
        return;
    }
    std::vector<const PrintedLabel *> chosen;
    for (const PrintedLabel &label : drawn.labels)
        if (wanted == 0 || label.number == wanted) chosen.push_back(&label);
    if (type == kPdf) return answerPdf(request, response, chosen);
    Json labels = Json::array();
    for (const PrintedLabel *label : chosen) {
        labels.push_back(describeLabel(*label));
        labels.back()["png"] = base64(label->png);
    }
    response.set_content(dump({{"labels", labels},
                               {"warnings", drawn.warnings},
                               {"warningsLeftOut", drawn.warningCount - drawn.warnings.size()},
                               {"log", parsedLines(drawn.lines)},
                               {"logLinesLeftOut", drawn.linesLeftOut}}),
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

void RenderService::labelPdf(const Request &request, Response &response) const {
    int number = 0;
    const auto label = labelNumber(request.matches[1], number) ? store_.find(number) : nullptr;
    if (label == nullptr) return refuse(request, response, 404, "no label " + std::string(request.matches[1]) + " is kept");
    answerPdf(request, response, {&label->printed});
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

// Takes {"status": 64} or {"status": "cover-open,paper-empty"} as JSON only:
// a form or a plain-text body, which another site's page can send without
// asking, changes nothing.
void RenderService::setStatus(const Request &request, Response &response) {
    const std::string type = request.get_header_value("Content-Type");
    if (type.substr(0, type.find(';')) != kJson)
        return refuse(request, response, 415, "POST /status takes Content-Type: application/json");
    const Json body = Json::parse(request.body, nullptr, false);
    const Json *value = body.is_object() && body.contains("status") ? &body["status"] : nullptr;
    uint8_t status = 0;
    const bool good = value != nullptr && (value->is_number_unsigned() ? value->get<uint64_t>() <= 255 &&
                                                                             (status = value->get<uint8_t>(), true)
                                           : value->is_string() && parseStatus(value->get<std::string>(), status));
    if (!good) {
        return refuse(request, response, 400,
                      "the status takes {\"status\": N} (0-255) or {\"status\": \"NAMES\"}, error names joined by commas "
                      "(cover-open,paper-empty)");
    }
    portPrinter_.setStatus(status);
    response.set_content(dump(statusJson(status)), kJson);
}

// Each "label" event is the newest label's number, and the page fetches what
// it has not seen; each "status" event is the status answer, when it
// changes (by any client). A comment every few seconds finds clients that
// went away, so that their thread is freed; the number of streams is
// bounded, as they hold a thread each.
void RenderService::events(const Request &request, Response &response) {
    if (++eventStreams_ > kMaxEventStreams) {
        --eventStreams_;
        response.set_header("Retry-After", "2");
        return refuse(request, response, 503, std::to_string(kMaxEventStreams) + " event streams are open already");
    }
    struct Stream {
        int seen = -1;
        int status = -1;
        std::chrono::steady_clock::time_point lastWrite;
    };
    auto stream = std::make_shared<Stream>();
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](std::size_t, httplib::DataSink &sink) {
            using namespace std::chrono;
            const int newest = stream->seen < 0 ? store_.waitForLabel(-1, milliseconds(0))
                                                : store_.waitForLabel(stream->seen, seconds(1));
            if (store_.closed() || BoundedServer::clientGone()) return false;  // a gone client frees its slot at once
            const int status = portPrinter_.status();
            std::string message;
            if (status != stream->status) message += "event: status\ndata: " + dump(statusJson(uint8_t(status))) + "\n\n";
            if (newest != stream->seen) message += "data: {\"newest\":" + std::to_string(newest) + "}\n\n";
            else if (message.empty() && steady_clock::now() - stream->lastWrite > seconds(kTimeoutSeconds))
                message = ": still here\n\n";
            if (message.empty()) return true;
            stream->seen = newest;
            stream->status = status;
            stream->lastWrite = steady_clock::now();
            return sink.write(message.data(), message.size());
        },
        [this](bool) { --eventStreams_; });
}

}  // namespace vdlemu
