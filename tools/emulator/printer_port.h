// The printer port: the emulated printer on TCP. Each connection is a
// command stream of its own (its own numbering), all printing on the one
// printer, as clients share a real one.
#ifndef VDL_EMULATOR_PRINTER_PORT_H
#define VDL_EMULATOR_PRINTER_PORT_H

#include <chrono>
#include <csignal>
#include <cstdio>
#include <list>
#include <memory>
#include <string>

#include "emulated_printer.h"
#include "parser.h"
#include "stream_session.h"

namespace vdlemu {

struct PrinterPortOptions {
    std::string host = "127.0.0.1";
    int port = 9100;                // 0: a free port
    bool once = false;              // stop when the first connection ends
    std::string captureDirectory;   // each connection's bytes saved as connection-N.prn; empty: not saved
    ParserOptions parser;
};

class PrinterPort {
public:
    static constexpr std::size_t kMaxConnections = 16;
    // A connection silent this long is closed, so that idle clients cannot
    // keep the port at its limit; a printer's own timeout is of this order.
    static constexpr int kIdleSeconds = 15;

    PrinterPort(PrinterPortOptions options, EmulatedPrinter &printer, StreamListener &listener);
    ~PrinterPort();
    PrinterPort(const PrinterPort &) = delete;
    PrinterPort &operator=(const PrinterPort &) = delete;

    // Binds and listens; false (errno set) when it cannot.
    bool listen();
    int port() const { return port_; }  // the one listened on
    // Serves until `stop` is set (by a signal handler), or with `once` until
    // the first connection ends; then closes every connection.
    void run(const volatile std::sig_atomic_t &stop);

private:
    struct Connection;

    void accept();
    void closeIdle();
    void closeStalled();
    void serve(Connection &connection);
    void close(Connection &connection, const std::string &how, const std::string &detail);
    std::string startCapture(Connection &connection);

    PrinterPortOptions options_;
    EmulatedPrinter &printer_;
    StreamListener &listener_;
    int listener_fd_ = -1;
    int port_ = 0;
    std::list<Connection> connections_;
    int nextId_ = 1;
    bool firstEnded_ = false;
    std::chrono::steady_clock::time_point lastRefusalSaid_;
};

}  // namespace vdlemu

#endif
