// The render service's request handling, with no socket: each input is one
// HTTP request, fed through httplib's own request processing (request line,
// headers, query, body) into the service's routes, over a stream in memory.
// Any method, path, query, header and body; never a crash, a leak or
// undefined behaviour, and every answer is a whole HTTP response.
//
// Input: byte 0 picks the form. Odd: the rest is the request as sent.
// Even: byte 1 picks the method, byte 2 the path (or, past the table, the
// text up to the first NUL), byte 3 the Accept header (its low bits) and the
// Content-Type (its high bits); then the query up to the next NUL, then the
// body. The Host is the service's own, as its requests must give.
#include <httplib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "label_store.h"
#include "render_service.h"

namespace {

// A connection in memory: reads the request, keeps the answer.
class MemoryStream : public httplib::Stream {
public:
    explicit MemoryStream(std::string request) : request_(std::move(request)) {}

    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char *bytes, std::size_t size) override {
        const std::size_t count = std::min(size, request_.size() - at_);
        request_.copy(bytes, count, at_);
        at_ += count;
        return ssize_t(count);
    }
    ssize_t write(const char *bytes, std::size_t size) override {
        answer.append(bytes, size);
        return ssize_t(size);
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override {
        ip = "127.0.0.1";
        port = 40000;
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override {
        ip = "127.0.0.1";
        port = 8080;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

    std::string answer;

private:
    std::string request_;
    std::size_t at_ = 0;
};

// httplib's request processing, without its sockets.
class Server : public httplib::Server {
public:
    bool serve(MemoryStream &stream) {
        bool closed = false;
        return process_request(stream, true, closed, [](httplib::Request &) {});
    }
};

struct Service {
    Service() : printer(config()), service(config(), {}, store, printer) {
        // The printer port has printed one label.
        vdlemu::StreamSession session(1, printer, store, {});
        const std::string label = "BD2,2,40,30,B,3\rT4,4,2,1,1,0,0,N,N,'<b>'\rP1,1\r";
        session.receive(label.data(), label.size());
        store.close();  // event streams end at once
        service.attach(server);
    }
    static vdlemu::PrinterConfig config() {
        vdlemu::PrinterConfig c;
        c.paper = {96, 64};
        c.previewDirectory.clear();
        return c;
    }
    vdlemu::LabelStore store;
    vdlemu::EmulatedPrinter printer;
    vdlemu::RenderService service;
    Server server;
};

const char *const kMethods[] = {"GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "BREW"};
const char *const kPaths[] = {"/", "/page.js", "/render", "/labels", "/labels/1.png", "/labels/1.json",
                              "/labels/2.png", "/log", "/status", "/events", "/labels/99999999999.json",
                              "/labels/1.pdf"};
const char *const kAccepts[] = {"*/*", "application/json", "image/png", "", "image/png;q=0, application/json;q=0.5",
                                "application/pdf", "text/*, application/json;q=0.1", "*/*;q=0"};
const char *const kTypes[] = {"application/json", "text/plain", "application/x-www-form-urlencoded"};

std::string textUpToNul(const uint8_t *&data, const uint8_t *end) {
    const uint8_t *from = data;
    while (data < end && *data != 0) ++data;
    std::string text(from, data);
    if (data < end) ++data;
    return text;
}

std::string structuredRequest(const uint8_t *data, std::size_t size) {
    const uint8_t *end = data + size;
    const uint8_t method = size > 0 ? data[0] : 0, path = size > 1 ? data[1] : 0, accept = size > 2 ? data[2] : 0;
    data += std::min<std::size_t>(size, 3);
    std::string target = path < std::size(kPaths) ? kPaths[path] : "/" + textUpToNul(data, end);
    const std::string query = textUpToNul(data, end);
    if (!query.empty()) target += "?" + query;
    const std::string body(data, end);
    return std::string(kMethods[method % std::size(kMethods)]) + " " + target +
           " HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nAccept: " + kAccepts[accept % std::size(kAccepts)] +
           "\r\nContent-Type: " + kTypes[(accept / std::size(kAccepts)) % std::size(kTypes)] +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static Service *service = new Service;  // lives for the run, as the program's does
    if (size == 0) return 0;
    MemoryStream stream((data[0] & 1) != 0 ? std::string(data + 1, data + size) : structuredRequest(data + 1, size - 1));
    service->server.serve(stream);
    if (!stream.answer.empty() && stream.answer.rfind("HTTP/1.1 ", 0) != 0) {
        std::fprintf(stderr, "fuzz_emulator_http: an answer that is not HTTP\n");
        std::abort();
    }
    return 0;
}
