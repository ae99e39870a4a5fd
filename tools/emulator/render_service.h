// The render service: label previews over HTTP (cpp-httplib), for any
// developer's browser, script or CI job.
//
//   POST /render             a command stream in the body; the first label as PNG
//                            (or ?label=N), or with "Accept: application/json"
//                            every label and the decoded log; ?dpi=N, ?paper=WxH
//   GET  /labels             what the printer port printed, newest last (JSON)
//   GET  /labels/N.png       a label's preview; /labels/N.json its commands and boxes
//   GET  /log                the printer port's decoded log (JSON lines when asked for JSON)
//   GET  /status, POST /status   the answer to the status query (set as --status takes it)
//   GET  /events             server-sent events: the newest label's number as labels print
//   GET  /                   the live page
//
// Each request renders on a printer of its own, so requests run in parallel
// on the server's threads; only the printer port's store and status answer
// are shared, and both are made for it.
#ifndef VDL_EMULATOR_RENDER_SERVICE_H
#define VDL_EMULATOR_RENDER_SERVICE_H

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "emulated_printer.h"
#include "label_store.h"
#include "parser.h"
#include "stream_session.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace vdlemu {

// A whole stream decoded and drawn in memory, as one connection: its labels,
// its JSON log lines (the first kKeptLines) and its faults.
struct RenderedStream : StreamListener {
    static constexpr std::size_t kKeptLines = 10000;

    void command(int connection, int sequence, const Command &command) override;
    void event(int, const std::string &, const std::string &) override {}
    void label(const PrintedLabel &label) override { labels.push_back(label); }

    std::vector<PrintedLabel> labels;
    std::vector<std::string> lines;
    std::size_t linesLeftOut = 0;
    FaultLines faults;
};

// At most `config.previewLimit` labels are drawn (0: all); nothing is written to files.
RenderedStream renderStream(const std::string &stream, PrinterConfig config, const ParserOptions &parser);

class RenderService {
public:
    static constexpr std::size_t kMaxRequestBytes = std::size_t(16) << 20;
    static constexpr int kMaxLabelsPerRequest = 100;
    static constexpr int kMaxEventStreams = 8;
    static constexpr int kThreads = 2 * kMaxEventStreams;  // event streams hold a thread each
    static constexpr int kTimeoutSeconds = 5;               // to read a request, to write an answer

    // `defaults`: dots per inch, paper, model and code page of a render
    // request that names none; the store and the printer are the printer port's.
    RenderService(PrinterConfig defaults, ParserOptions parser, LabelStore &store, EmulatedPrinter &portPrinter);

    // Routes, bounds and threads on a server that is not listening yet.
    void attach(httplib::Server &server);
    // Ends the event streams, before the server is stopped.
    void stop() { store_.close(); }

private:
    void render(const httplib::Request &request, httplib::Response &response, const std::string &body) const;
    void labels(const httplib::Request &request, httplib::Response &response) const;
    void labelPng(const httplib::Request &request, httplib::Response &response) const;
    void labelJson(const httplib::Request &request, httplib::Response &response) const;
    void log(const httplib::Request &request, httplib::Response &response) const;
    void status(const httplib::Request &request, httplib::Response &response) const;
    void setStatus(const httplib::Request &request, httplib::Response &response);
    void events(const httplib::Request &request, httplib::Response &response);
    bool renderSettings(const httplib::Request &request, httplib::Response &response, PrinterConfig &config) const;

    PrinterConfig defaults_;
    ParserOptions parser_;
    LabelStore &store_;
    EmulatedPrinter &portPrinter_;
    std::atomic<int> eventStreams_{0};
};

}  // namespace vdlemu

#endif
