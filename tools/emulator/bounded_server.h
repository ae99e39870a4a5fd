// The render service's HTTP server: httplib's, on connections of our own,
// for two things httplib 0.11 cannot do. A whole request, head and body, must
// arrive within kRequestSeconds of its first byte, however slowly its bytes
// trickle in (httplib bounds each read alone, so a byte a second would hold a
// thread for ever); and a handler can ask whether its client is still there,
// to stop work that nobody waits for.
#ifndef VDL_EMULATOR_BOUNDED_SERVER_H
#define VDL_EMULATOR_BOUNDED_SERVER_H

#include <httplib.h>

namespace vdlemu {

class BoundedServer : public httplib::Server {
public:
    static constexpr int kRequestSeconds = 10;

    // On the thread serving a request: true once its client closed or reset
    // the connection. False on any other thread (a request served otherwise,
    // as the fuzz target does).
    static bool clientGone();
    // On the thread serving a request: true when the request was cut off at
    // its deadline (what httplib then answers is a bad request).
    static bool requestTimedOut();
    // On the thread serving a request: the connection closes after its
    // answer (whatever of its body was not read would be taken for a request).
    static void closeAfterAnswer();

private:
    bool process_and_close_socket(socket_t sock) override;
};

}  // namespace vdlemu

#endif
