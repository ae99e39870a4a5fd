// The render service: label previews over HTTP (cpp-httplib), for any
// developer's browser, script or CI job.
//
//   POST /render             a command stream in the body; the first label as PNG
//                            (or ?label=N), or with "Accept: application/json"
//                            every label, the decoded log and the warnings;
//                            with "Accept: application/pdf" a page per label;
//                            ?dpi=N, ?paper=WxH, ?strict=1
//   GET  /labels             what the printer port printed, newest last (JSON)
//   GET  /labels/N.png       a label's preview (/labels/N.pdf as a page); /labels/N.json its commands and boxes
//   GET  /log                the printer port's decoded log (JSON lines when asked for JSON)
//   GET  /status, POST /status   the answer to the status query (POST: JSON)
//   GET  /events             server-sent events: the newest label's number as labels
//                            print, and the status answer as it changes
//   GET  /                   the live page
//
// Each request renders on a printer of its own, so requests run in parallel
// on the server's threads; only the printer port's store and status answer
// are shared, and both are made for it. Every request must name the service
// as its Host (no DNS rebinding), and a POST must not come from another
// origin (no cross-site request forgery).
#ifndef VDL_EMULATOR_RENDER_SERVICE_H
#define VDL_EMULATOR_RENDER_SERVICE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <cstddef>
#include <functional>
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
// its JSON log lines (the first kKeptLines), its faults, and the warnings a
// render answers: faults, what was not drawn as asked, elements off the paper.
struct RenderedStream : StreamListener {
    static constexpr std::size_t kKeptLines = 10000;
    static constexpr std::size_t kKeptWarnings = 100;

    void command(int connection, int sequence, const Command &command) override;
    void event(int, const std::string &, const std::string &) override {}
    void label(const PrintedLabel &label) override;
    void warn(std::string warning);

    std::vector<PrintedLabel> labels;
    std::vector<std::string> lines;
    std::size_t linesLeftOut = 0;
    FaultLines faults;
    std::vector<std::string> warnings;  // the first kKeptWarnings
    std::size_t warningCount = 0;
    bool calledOff = false;  // config.stillWanted said no: the rest of the stream was not read
};

// At most `config.previewLimit` labels are drawn (0: all); nothing is written to files.
RenderedStream renderStream(const std::string &stream, PrinterConfig config, const ParserOptions &parser);

// Another label language turned into the printer's commands, by a client
// of the library: the emulator itself only decodes the printer's commands.
struct Translation {
    bool ok = false;
    std::string stream;                 // the printer's commands
    std::vector<std::string> messages;  // warnings, and the error when !ok, each with its place
};
using LanguageTranslator = std::function<Translation(const std::string &source)>;

class RenderService {
public:
    static constexpr std::size_t kMaxRequestBytes = std::size_t(16) << 20;
    static constexpr int kMaxLabelsPerRequest = 100;
    // All the drawing of one request, in dots of work (see Canvas), each
    // label's paper counted besides: two labels' worth. It bounds the PNGs
    // a request holds too, at a bit per dot.
    static constexpr uint64_t kRequestWork = 2 * PrinterConfig::kLabelWork;
    // Renders drawing at once (the machine's cores, not its threads), and
    // those that may wait for their turn, kRenderWaitSeconds at most.
    static constexpr int kMaxRenders = 2;
    static constexpr int kMaxWaitingRenders = 6;
    static constexpr int kRenderWaitSeconds = 10;
    static constexpr int kMaxEventStreams = 8;
    // Event streams and renders hold a thread each; the rest is for the others.
    static constexpr int kThreads = kMaxEventStreams + kMaxRenders + kMaxWaitingRenders + 8;
    static constexpr int kTimeoutSeconds = 5;  // for each read and write, and for an idle connection

    // `defaults`: dots per inch, paper, model and code page of a render
    // request that names none; the store and the printer are the printer
    // port's; `allowedHosts`: names besides its address and localhost that
    // requests may give as Host.
    RenderService(PrinterConfig defaults, ParserOptions parser, LabelStore &store, EmulatedPrinter &portPrinter,
                  std::vector<std::string> allowedHosts = {});

    // Routes, bounds and threads on a server that is not listening yet.
    void attach(httplib::Server &server);
    // What POST /render?from=zpl translates ZPL II with; without it such a request gets 501.
    void translateZplWith(LanguageTranslator translator) { zpl_ = std::move(translator); }
    // Ends the event streams, before the server is stopped.
    void stop() { store_.close(); }

private:
    class RenderSlot;
    LanguageTranslator zpl_;

    void render(const httplib::Request &request, httplib::Response &response, const std::string &body);
    void labels(const httplib::Request &request, httplib::Response &response) const;
    void labelPng(const httplib::Request &request, httplib::Response &response) const;
    void labelJson(const httplib::Request &request, httplib::Response &response) const;
    void labelPdf(const httplib::Request &request, httplib::Response &response) const;
    void log(const httplib::Request &request, httplib::Response &response) const;
    void status(const httplib::Request &request, httplib::Response &response) const;
    void setStatus(const httplib::Request &request, httplib::Response &response);
    void events(const httplib::Request &request, httplib::Response &response);
    bool admit(const httplib::Request &request, httplib::Response &response) const;
    bool renderSettings(const httplib::Request &request, httplib::Response &response, PrinterConfig &config,
                        std::vector<std::string> &warnings) const;

    PrinterConfig defaults_;
    ParserOptions parser_;
    LabelStore &store_;
    EmulatedPrinter &portPrinter_;
    std::vector<std::string> allowedHosts_;
    std::atomic<int> eventStreams_{0};
    std::atomic<int> renders_{0};  // drawing and waiting
    std::mutex renderMutex_;
    std::condition_variable renderDone_;
    int drawing_ = 0;
};

}  // namespace vdlemu

#endif
