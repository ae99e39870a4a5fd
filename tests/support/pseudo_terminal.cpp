#include "pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

namespace vdltest {

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    path_ = ::ptsname(master_);
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) throw std::runtime_error("pseudo-terminal slave cannot be opened");
    termios t = settings();
    ::cfmakeraw(&t);
    setSettings(t);
}

PseudoTerminal::~PseudoTerminal() {
    if (master_ >= 0) ::close(master_);
    ::close(slave_);
}

int PseudoTerminal::releaseMaster() {
    const int fd = master_;
    master_ = -1;
    return fd;
}

void PseudoTerminal::sendFromPrinter(const std::string &bytes) {
    if (master_ < 0 || ::write(master_, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        throw std::runtime_error("pseudo-terminal master not writable");
}

termios PseudoTerminal::settings() const {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
}

void PseudoTerminal::setSettings(const termios &t) { ::tcsetattr(slave_, TCSANOW, &t); }

}  // namespace vdltest
