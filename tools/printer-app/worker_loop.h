// The worker's side of the conversation, apart from the process around it:
// the one printer connection and the request loop, on any descriptor.
#ifndef VDL_PRINTER_APP_WORKER_LOOP_H
#define VDL_PRINTER_APP_WORKER_LOOP_H

#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "VdlLabelAPI.hpp"
#include "protocol.h"

namespace vdlapp {

// Opens the printer on a port; error is set when it cannot be had.
using PrinterOpener = std::unique_ptr<vdl::NothrowPrinter> (*)(const std::string &port, std::error_code &error);

// The library's connect on the named port.
std::unique_ptr<vdl::NothrowPrinter> openPrinter(const std::string &port, std::error_code &error);

// The one printer of this process. A failed exchange drops the connection, so
// that the next connect request opens it afresh (a printer switched off and
// on again, a cable pulled and put back).
class Connection {
public:
    explicit Connection(PrinterOpener open = openPrinter) : open_(open) {}

    ReplyHeader connect(const std::string &port);
    ReplyHeader settings(const Settings &s);
    ReplyHeader raw(const std::vector<char> &bytes);
    ReplyHeader zpl(const std::vector<char> &text);
    ReplyHeader page(const std::vector<char> &payload);
    ReplyHeader status();
    ReplyHeader confirm();

    const std::string &model() const { return model_; }

private:
    int query();
    int askStatus();
    template <typename Steps>
    int apply(Steps &&steps);
    ReplyHeader reply(int result);
    void drop();

    PrinterOpener open_;
    std::unique_ptr<vdl::NothrowPrinter> printer_;
    // The settings the printer last took on this connection: the same again
    // are not sent (eight paced writes a job). A raw job or a new connection
    // sends them anew.
    std::optional<Settings> sent_;
    std::string port_, model_;
    std::uint32_t status_ = 0;
    int owed_ = 0;  // status queries sent whose answers have not been read
};

// A printer behind a slow link answers a status query only once it has taken
// every byte sent before it, which can outlast one query's read (under a
// second). Confirming a job asks again, this many times (about 30 s), before
// the printer is taken to be lost.
constexpr int kConfirmQueries = 40;
// The bits of a status answer that report errors; bit 0 tells nothing.
constexpr std::uint32_t kErrorBits = 0xFE;

// The exit status the worker ends with.
constexpr int kServerGone = 0;    // the server closed its end, stopped reading, or announced a frame beyond any label
constexpr int kBrokenStream = 2;  // a payload its type cannot carry: the server starts a new worker

// Reads one request from fd, serves it and sends the reply. Empty while the
// conversation goes on, else the exit status.
std::optional<int> serveRequest(int fd, Connection &connection);

// Serves requests on fd until the conversation ends; the exit status.
int serveRequests(int fd);

}  // namespace vdlapp

#endif
