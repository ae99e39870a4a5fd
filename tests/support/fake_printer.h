// A fake label printer on 127.0.0.1 for the tests; it can also serve a
// device the library opens by other means (a pseudo-terminal, a socket pair
// standing for a USB, parallel or Bluetooth device).
//
// It does its work only when pumped: the test program's usleep pumps every
// live fake, so while the library pauses the fake accepts the connection,
// reads what was sent and answers queries. Everything runs on the test's own
// thread, which makes the exchange deterministic.
#ifndef VDL_TEST_FAKE_PRINTER_H
#define VDL_TEST_FAKE_PRINTER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace vdltest {

struct FakePrinterOptions {
    // Answer to the model query "^PI0\r\n"; empty: no answer at all.
    std::string modelReply = "VRL-408\r\n";
    // Answers are sent in this many pieces, one piece per pump.
    int replyPieces = 1;
    // Answer to the status query "^cu\r"; negative: no answer.
    int statusReply = 0x00;
};

class FakePrinter {
public:
    explicit FakePrinter(FakePrinterOptions options = {});
    ~FakePrinter();
    FakePrinter(const FakePrinter &) = delete;
    FakePrinter &operator=(const FakePrinter &) = delete;

    FakePrinterOptions &options() { return options_; }
    uint16_t port() const { return port_; }
    // "127.0.0.1:<port>", the port name to connect to.
    std::string portName() const;

    // Everything received on all connections so far (pumps first).
    const std::string &received();
    void clearReceived() { received_.clear(); }
    bool connected() const { return peer_ >= 0; }

    // Sends bytes unasked at the next pump (replies of any shape).
    void sendRaw(const std::string &bytes) { pendingReplies_.push_back(bytes); }

    // Closes the current connection with a reset, as a printer switched off.
    void resetConnection();

    // Serves fd (a pseudo-terminal master, a socket end) as its connection
    // from now on, in place of any connection it had; takes ownership.
    void serve(int fd);
    // A device for the library: one end of a new socket pair, whose other end
    // this printer serves.
    int attachDevice();

    void pump();
    static void pumpAll();

private:
    void acceptPending();
    void readAvailable();
    void acknowledgeNow();
    void answerQueries();
    void sendNextReplies();
    void queueReply(const std::string &reply);
    void closePeer(bool reset);

    FakePrinterOptions options_;
    int listener_ = -1;
    int peer_ = -1;
    bool peerIsSocket_ = true;
    bool peerIsTcp_ = true;
    uint16_t port_ = 0;
    std::string received_;
    std::string conversation_;  // this connection's bytes, scanned for queries
    std::size_t scanned_ = 0;
    std::deque<std::string> pendingReplies_;
};

}  // namespace vdltest

#endif
