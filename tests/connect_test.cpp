// ConnectToPrinter and DisconnectPrinter over TCP against the fake printer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

using ConnectTest = LibraryTest;

// The model query, then 100 ms for the printer to answer, then one read that
// tries twenty times for the 20 bytes of the reply area.
const std::vector<unsigned> kConnectPauses = std::vector<unsigned>{10, 10, 100, 100} + repeated(30, 20);

TEST_F(ConnectTest, RoadOfOneLabelOverTheNetwork) {
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
    EXPECT_EQ(gConnectedPrinter, 1);
    EXPECT_EQ(gPrinterModel, 159);
    EXPECT_EQ(pauses(), kConnectPauses);
    EXPECT_EQ(printer.received(), "^PI0\r\n");
    printer.clearReceived();
    resetPauses();

    const std::string field = "T12,34,3,1,1,0,0,N,N,'VELDRIN'\r";
    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {field}), 0);
    EXPECT_EQ(printer.received(), "");  // content waits in the buffer
    ASSERT_EQ(Prints(1, 1), 0);
    EXPECT_EQ(printer.received(), field + "P1,1\r");
    EXPECT_EQ(pauses(), (std::vector<unsigned>{10, 10}));  // one writeData call
    EXPECT_EQ(gDataIndex, 0u);

    DisconnectPrinter();
    EXPECT_EQ(gConnectedPrinter, 0);
    EXPECT_EQ(Prints(1, 1), VDL_ERR_WRITE);
    printer.pump();
    EXPECT_FALSE(printer.connected());
}

TEST_F(ConnectTest, SuccessfulConnectEmptiesTheCommandBuffer) {
    gPrintData[0] = 'x';
    gDataIndex = 1;
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
    EXPECT_EQ(gDataIndex, 0u);
    EXPECT_EQ(gPrintData[0], 0);
}

struct ModelReply {
    const char *what;
    std::string reply;
    int pieces;
    int result;
    int model;
};

void PrintTo(const ModelReply &r, std::ostream *os) { *os << r.what; }

class ModelReplyTest : public LibraryTest, public ::testing::WithParamInterface<ModelReply> {};

TEST_P(ModelReplyTest, AcceptsOnlyALabelPrinterThatAnswersProperly) {
    const ModelReply &r = GetParam();
    printer.options().modelReply = r.reply;
    printer.options().replyPieces = r.pieces;
    const int before = openDescriptorCount();

    EXPECT_EQ(ConnectToPrinter(printer.portName().c_str()), r.result);

    EXPECT_EQ(gPrinterModel, r.model);
    EXPECT_EQ(gConnectedPrinter, r.result == 0 ? 1 : 0);
    EXPECT_EQ(connection().isOpen(), r.result == 0);
    DisconnectPrinter();
    printer.pump();
    EXPECT_EQ(openDescriptorCount(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ModelReplyTest,
    ::testing::Values(ModelReply{"label printer", "VRL-408\r\n", 1, 0, 159},
                      ModelReply{"in pieces", "VRL-408\r\n", 3, 0, 159},
                      ModelReply{"lower case, LF LF", "vrt-212\n\n", 1, 0, 170},
                      ModelReply{"suffixed variant", "VRX-410-RF\r\n", 1, 0, 163},
                      ModelReply{"no line end", "VRL-408", 1, VDL_ERR_NOT_ACCEPTED, 0},
                      ModelReply{"CR alone", "VRL-408\r", 1, VDL_ERR_NOT_ACCEPTED, 0},
                      ModelReply{"too short", "VRL\r\n", 1, VDL_ERR_NOT_ACCEPTED, 0},
                      ModelReply{"no reply", "", 1, VDL_ERR_NOT_ACCEPTED, 0},
                      ModelReply{"receipt printer", "VRP-110\r\n", 1, VDL_ERR_NOT_ACCEPTED, 0},
                      ModelReply{"unknown", "XYZ-1000\r\n", 1, VDL_ERR_NOT_ACCEPTED, 0},
                      // The reply area holds 20 bytes: the line end arrives in a
                      // second read of 5 bytes, too short to count.
                      ModelReply{"longer than the reply area", "0123456789ABCDEFVRL-408\r\n", 1,
                                 VDL_ERR_NOT_ACCEPTED, 0}),
    [](const ::testing::TestParamInfo<ModelReply> &info) { return "case" + std::to_string(info.index); });

struct Unusable {
    const char *name;
    int result;
    int interfaceType;  // afterwards, having been kSerial before
    std::vector<unsigned> pauses;
};

void PrintTo(const Unusable &u, std::ostream *os) { *os << (u.name ? u.name : "null"); }

class UnusableNameTest : public LibraryTest, public ::testing::WithParamInterface<Unusable> {};

TEST_P(UnusableNameTest, FailsWithoutOpeningAnything) {
    const Unusable &u = GetParam();
    connection().interfaceType = vdl::kSerial;
    EXPECT_EQ(ConnectToPrinter(u.name), u.result);
    EXPECT_EQ(connection().interfaceType, u.interfaceType);
    EXPECT_FALSE(connection().isOpen());
    EXPECT_EQ(pauses(), u.pauses);
}

// No device node exists in the tests unless a test maps one, and no
// Bluetooth printer is in range: each kind of port fails in its own way.
INSTANTIATE_TEST_SUITE_P(
    Names, UnusableNameTest,
    ::testing::Values(Unusable{nullptr, VDL_ERR_PORT_NAME, vdl::kSerial, {}},
                      Unusable{"", VDL_ERR_PORT_NAME, vdl::kSerial, {}},
                      Unusable{"127.0.0.1", VDL_ERR_PORT_NAME, vdl::kSerial, {}},
                      Unusable{"localhost:9100", VDL_ERR_PORT_NAME, vdl::kSerial, {}},
                      Unusable{"SERIAL", VDL_ERR_PORT_NAME, vdl::kSerial, {}},
                      Unusable{"USB", VDL_ERR_OPEN, vdl::kUsb, {}},
                      Unusable{"PARALLEL", VDL_ERR_OPEN, vdl::kParallel, {}},
                      Unusable{"/dev/lp0", VDL_ERR_OPEN, vdl::kParallel, {}},
                      Unusable{"SERIAL:9600", VDL_ERR_OPEN, vdl::kSerial, {}},
                      Unusable{"/dev/ttyS1:115200", VDL_ERR_OPEN, vdl::kSerial, {}},
                      Unusable{"00:11:22:33:44:55", VDL_ERR_BT_SDP, vdl::kBluetooth, {100}}));

// A port on loopback with nothing listening.
uint16_t closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

TEST_F(ConnectTest, RefusedConnectionFailsAndLeavesNoDescriptor) {
    const int before = openDescriptorCount();
    EXPECT_EQ(ConnectToPrinter(("127.0.0.1:" + std::to_string(closedPort())).c_str()), VDL_ERR_PORT_SETUP);
    EXPECT_EQ(ConnectToPrinter("127.0.0.1:0"), VDL_ERR_PORT_SETUP);
    EXPECT_EQ(connection().interfaceType, vdl::kNetwork);
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(ConnectTest, ConnectIsBoundedByItsOwnTimeOut) {
    pollLog().pretendTimeout = true;  // the printer never answers the handshake
    const int before = openDescriptorCount();
    EXPECT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_ERR_PORT_SETUP);
    EXPECT_EQ(pollLog().timeouts, std::vector<int>{10000});
    printer.pump();
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(ConnectTest, PortNumberUsesItsLow16Bits) {
    const std::string name = "127.0.0.1:" + std::to_string(printer.port() + 65536);
    EXPECT_EQ(ConnectToPrinter(name.c_str()), VDL_OK);
}

TEST_F(ConnectTest, ConnectingAgainClosesTheEarlierDescriptorInsteadOfLeakingIt) {
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
    printer.pump();
    const int connected = openDescriptorCount();
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
    printer.pump();
    EXPECT_EQ(openDescriptorCount(), connected);
    EXPECT_EQ(printer.connectionsAccepted(), 2);
}

TEST_F(ConnectTest, DisconnectWithoutAConnectionClosesNothing) {
    const int other = open("/dev/null", O_RDONLY);
    DisconnectPrinter();
    DisconnectPrinter();
    EXPECT_NE(fcntl(other, F_GETFD), -1);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
    close(other);
}

TEST_F(ConnectTest, DisconnectKeepsTheCommandBuffer) {
    connectToFake();
    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {"CONTENT"}), 0);
    DisconnectPrinter();
    EXPECT_EQ(buffered(), "CONTENT");
    EXPECT_EQ(printer.received(), "");
}

}  // namespace
}  // namespace vdltest
