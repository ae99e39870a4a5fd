// A pseudo-terminal standing for a serial port: the library opens the slave
// by its path (through the device-node map), a fake printer serves the master.
#ifndef VDL_TEST_PSEUDO_TERMINAL_H
#define VDL_TEST_PSEUDO_TERMINAL_H

#include <termios.h>

#include <string>

namespace vdltest {

class PseudoTerminal {
public:
    // Starts in raw mode, so that nothing is echoed or translated before the
    // library sets the port up.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    const std::string &path() const { return path_; }
    // Hands the master over (to FakePrinter::serve).
    int releaseMaster();
    // Writes bytes to the master, as the printer sending them.
    void sendFromPrinter(const std::string &bytes);

    // The port's settings, read and written through a slave descriptor the
    // test keeps open (which also keeps the master readable while the
    // library closes and reopens the port).
    termios settings() const;
    void setSettings(const termios &t);

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

}  // namespace vdltest

#endif
