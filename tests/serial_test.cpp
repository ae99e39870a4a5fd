// The serial transport on pseudo-terminals: the settings a port is left with,
// the double open and the port scan of ConnectToPrinter.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "library_test.h"

namespace vdltest {
namespace {

// A pseudo-terminal stands for the port: the library opens the slave by its
// path (through the device-node map), a fake printer serves the master. The
// test keeps a slave descriptor of its own to read and write the settings,
// which also keeps the master readable while the library reopens the port.
class SerialTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        char name[128];
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        path_ = name;
        termios raw = settings();  // nothing echoed or translated before the library sets the port up
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
    }
    void TearDown() override {
        LibraryTest::TearDown();
        if (master_ >= 0) close(master_);
        close(slave_);
    }
    termios settings() const {
        termios t{};
        tcgetattr(slave_, &t);
        return t;
    }
    // Maps node (a "/dev/ttyS" name) to the pseudo-terminal.
    void mapPort(const std::string &node) { deviceNodes().nodes[node].path = path_; }
    // The fixture's fake printer answers on the port.
    void printerOnPort() {
        printer.serve(master_);
        master_ = -1;
    }

    int master_ = -1, slave_ = -1;
    std::string path_;
};

TEST_F(SerialTest, SetsTheSpeedBothWaysAnd9600ForAnyOther) {
    const struct {
        int baud;
        speed_t speed;
    } speeds[] = {{2400, B2400},     {4800, B4800}, {9600, B9600},    {19200, B19200},  {38400, B38400},
                  {57600, B57600},   {115200, B115200}, {0, B9600},   {1200, B9600},    {230400, B9600}};
    for (const auto &s : speeds) {
        const int fd = openDeviceSerial(path_.c_str(), s.baud);
        ASSERT_GE(fd, 0);
        const termios t = settings();
        EXPECT_EQ(cfgetispeed(&t), s.speed) << s.baud;
        EXPECT_EQ(cfgetospeed(&t), s.speed) << s.baud;
        close(fd);
    }
}

TEST_F(SerialTest, LeavesThePortRaw8N1WithoutFlowControlAndTheRestAsItWas) {
    termios before = settings();
    before.c_cflag = (before.c_cflag & ~tcflag_t(CSIZE | CLOCAL | CREAD)) | CS7 | CSTOPB | CRTSCTS | HUPCL;
    before.c_iflag |= IXON | IXOFF | IXANY | ICRNL;
    before.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    before.c_oflag |= OPOST | ONLCR;
    before.c_cc[VMIN] = 3;
    before.c_cc[VTIME] = 7;
    tcsetattr(slave_, TCSANOW, &before);
    mapPort("/dev/ttyS4");

    const int fd = openDeviceSerial("/dev/ttyS4", 19200);
    ASSERT_GE(fd, 0);
    const termios t = settings();
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | PARENB | CSTOPB | CRTSCTS | HUPCL), tcflag_t(CLOCAL | CREAD | HUPCL));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL), tcflag_t(ICRNL));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), tcflag_t(IEXTEN));
    EXPECT_EQ(t.c_oflag & (OPOST | ONLCR), tcflag_t(ONLCR));
    EXPECT_EQ(t.c_cc[VMIN], 3);
    EXPECT_EQ(t.c_cc[VTIME], 7);
    const int wanted = O_RDWR | O_NOCTTY | O_NONBLOCK;
    EXPECT_EQ(deviceNodes().opened.at(0).flags & wanted, wanted);
    close(fd);
}

TEST_F(SerialTest, DiscardsWhatThePrinterSentBeforeTheOpen) {
    ASSERT_EQ(write(master_, "VRP-110\r\n", 9), 9);
    const int fd = openDeviceSerial(path_.c_str(), 9600);
    ASSERT_GE(fd, 0);
    char byte;
    EXPECT_EQ(read(fd, &byte, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    close(fd);
}

TEST_F(SerialTest, FailuresCloseWhatWasOpened) {
    char file[] = "/tmp/vdl-serial-XXXXXX";
    const int scratch = mkstemp(file);
    ASSERT_GE(scratch, 0);
    const int before = openDescriptorCount();
    EXPECT_EQ(openDeviceSerial(file, 9600), VDL_ERR_PORT_SETUP);  // not a terminal
    EXPECT_EQ(openDeviceSerial("/tmp/vdl-no-such-port", 9600), VDL_ERR_OPEN);
    EXPECT_EQ(openDeviceSerial(nullptr, 9600), VDL_ERR_OPEN);
    EXPECT_EQ(openDescriptorCount(), before);
    close(scratch);
    unlink(file);
}

TEST_F(SerialTest, NamedPortIsOpenedTwice) {
    mapPort("/dev/ttyS1");
    printerOnPort();
    const int before = openDescriptorCount();

    ASSERT_EQ(ConnectToPrinter("/dev/ttyS1:115200"), VDL_OK);
    EXPECT_EQ(connection().interfaceType, vdl::kSerial);
    EXPECT_EQ(openedPaths(), (std::vector<std::string>{"/dev/ttyS1", "/dev/ttyS1"}));
    EXPECT_EQ(openDescriptorCount(), before + 1);  // the first descriptor was closed
    const termios t = settings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(pauses(), std::vector<unsigned>({10, 30, 100, 100}) + repeated(30, 20));

    DisconnectPrinter();
    deviceNodes().opened.clear();
    EXPECT_EQ(ConnectToPrinter("/dev/ttyS2:9600"), VDL_ERR_OPEN);  // a failed first open is not repeated
    EXPECT_EQ(openedPaths(), std::vector<std::string>{"/dev/ttyS2"});
}

TEST_F(SerialTest, ScanSkipsPortsThatFailAndOpensTheFirstGoodOneTwice) {
    char file[] = "/tmp/vdl-serial-XXXXXX";
    const int scratch = mkstemp(file);
    deviceNodes().nodes["/dev/ttyS1"].path = file;  // exists, but is no terminal
    mapPort("/dev/ttyS3");
    printerOnPort();

    ASSERT_EQ(ConnectToPrinter("SERIAL:4800"), VDL_OK);
    EXPECT_EQ(openedPaths(),
              (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3", "/dev/ttyS3"}));
    const termios t = settings();
    EXPECT_EQ(cfgetispeed(&t), speed_t(B4800));
    close(scratch);
    unlink(file);
}

}  // namespace
}  // namespace vdltest
