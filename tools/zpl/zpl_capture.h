// A printer of one connection on the loopback interface that records what
// it is sent: how the translator gives the printer's bytes without a
// printer, through the library itself (its formats stay in one place).
#ifndef VDL_ZPL_CAPTURE_H
#define VDL_ZPL_CAPTURE_H

#include <cstddef>
#include <string>
#include <thread>

namespace vdlzpl {

class Capture {
public:
    Capture() = default;
    ~Capture();
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;

    // Listens on 127.0.0.1 at a free port and waits there for one connection.
    bool start();
    // The port name for ConnectToPrinter.
    std::string portName() const;
    enum class Outcome { whole, tooMuch, broken };
    // After the library disconnected: the bytes it sent after its model
    // query; broken when no whole connection was seen, tooMuch past kMostBytes.
    Outcome finish(std::string &bytes);
    static constexpr std::size_t kMostBytes = std::size_t(256) << 20;

private:
    void serve();

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::string bytes_;
    Outcome outcome_ = Outcome::broken;
};

}  // namespace vdlzpl

#endif
