// ConnectToPrinter and DisconnectPrinter over TCP against the fake printer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

using ConnectTest = LibraryTest;

TEST_F(ConnectTest, RoadOfOneLabelOverTheNetwork) {
    gPrintData[0] = 'x';
    gDataIndex = 1;
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
    EXPECT_EQ(gConnectedPrinter, 1);
    EXPECT_EQ(gPrinterModel, 159);
    EXPECT_EQ(gDataIndex, 0u);  // a successful connect empties the buffer
    EXPECT_EQ(gPrintData[0], 0);
    // The model query, 100 ms for the answer, one read of twenty tries.
    EXPECT_EQ(pauses(), std::vector<unsigned>({10, 10, 100, 100}) + repeated(30, 20));
    EXPECT_EQ(printer.received(), "^PI0\r\n");
    printer.clearReceived();
    resetPauses();

    const std::string field = "T12,34,3,1,1,0,0,N,N,'VELDRIN'\r";
    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {field}), 0);
    EXPECT_EQ(printer.received(), "");  // content waits in the buffer
    ASSERT_EQ(Prints(1, 1), 0);
    EXPECT_EQ(printer.received(), field + "P1,1\r");
    EXPECT_EQ(pauses(), (std::vector<unsigned>{10, 10}));  // one writeData call

    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {"KEPT"}), 0);
    DisconnectPrinter();
    EXPECT_EQ(gConnectedPrinter, 0);
    EXPECT_EQ(buffered(), "KEPT");  // nothing sent on disconnect, the buffer kept
    EXPECT_EQ(Prints(1, 1), VDL_ERR_WRITE);
    printer.pump();
    EXPECT_FALSE(printer.connected());
}

struct ModelReply {
    std::string reply;
    int pieces;
    int result;
    int model;
};

class ModelReplyTest : public LibraryTest, public ::testing::WithParamInterface<ModelReply> {};

// Refused or accepted, never an overrun, and no descriptor left behind.
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

constexpr int kRefused = VDL_ERR_NOT_ACCEPTED;

// The reply area holds 20 bytes: a longer line ends in a second read too
// short to count. Replies with NULs are read as C strings.
INSTANTIATE_TEST_SUITE_P(
    Replies, ModelReplyTest,
    ::testing::Values(ModelReply{"VRL-408\r\n", 3, 0, 159}, ModelReply{"vrt-212\n\n", 1, 0, 170},
                      ModelReply{"VRX-410-RF\r\n", 1, 0, 163}, ModelReply{"VRL-408", 1, kRefused, 0},
                      ModelReply{"VRL-408\r", 1, kRefused, 0}, ModelReply{"VRL\r\n", 1, kRefused, 0},
                      ModelReply{"", 1, kRefused, 0}, ModelReply{"VRP-110\r\n", 1, kRefused, 0},
                      ModelReply{"0123456789ABCDEFVRL-408\r\n", 1, kRefused, 0},
                      ModelReply{std::string(5000, 'V') + "VRL-408\r\n", 1, kRefused, 0},
                      ModelReply{std::string("VRL-408\0\0\0\r\n", 12), 1, 0, 159},
                      ModelReply{std::string("\0VRL-408\r\n", 10), 1, kRefused, 0}));

// No device node exists unless a test maps one, and no Bluetooth printer is
// in range: each kind of port fails in its own way, and a name refused before
// any device was tried leaves the interface type as it was.
TEST_F(ConnectTest, UnusableNamesFailWithoutOpeningAnything) {
    const struct {
        const char *name;
        int result, interfaceType;
        std::vector<unsigned> pauses;
    } cases[] = {{nullptr, VDL_ERR_PORT_NAME, vdl::kSerial, {}},      {"127.0.0.1", VDL_ERR_PORT_NAME, vdl::kSerial, {}},
                 {"localhost:9100", VDL_ERR_PORT_NAME, vdl::kSerial, {}}, {"USB", VDL_ERR_OPEN, vdl::kUsb, {}},
                 {"PARALLEL", VDL_ERR_OPEN, vdl::kParallel, {}}, {"00:11:22:33:44:55", VDL_ERR_BT_SDP, vdl::kBluetooth, {100}}};
    for (const auto &c : cases) {
        connection().interfaceType = vdl::kSerial;
        resetPauses();
        EXPECT_EQ(ConnectToPrinter(c.name), c.result);
        EXPECT_EQ(connection().interfaceType, c.interfaceType);
        EXPECT_FALSE(connection().isOpen());
        EXPECT_EQ(pauses(), c.pauses);
    }
}

TEST_F(ConnectTest, RefusedOrTimedOutConnectionFailsAndLeavesNoDescriptor) {
    const int before = openDescriptorCount();
    EXPECT_EQ(ConnectToPrinter("127.0.0.1:1"), VDL_ERR_PORT_SETUP);  // nothing listens there
    EXPECT_EQ(connection().interfaceType, vdl::kNetwork);
    pollLog() = PollLog{{}, true};  // the printer never answers the handshake
    EXPECT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_ERR_PORT_SETUP);
    EXPECT_EQ(pollLog().timeouts, std::vector<int>{10000});
    printer.pump();
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(ConnectTest, PortNumberUsesItsLow16BitsAndASignalDoesNotEndTheConnect) {
    pollLog().interruptions = 1;
    EXPECT_EQ(ConnectToPrinter(("127.0.0.1:" + std::to_string(printer.port() + 65536)).c_str()), VDL_OK);
    EXPECT_EQ(pollLog().timeouts.size(), 2u);
}

// The application disconnects before it connects again; the library does not
// close a connection behind its back, and closes only the one it holds.
TEST_F(ConnectTest, ConnectingAgainLeavesTheEarlierDescriptorToTheApplication) {
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
    const int first = connection().fd;
    struct stat before {}, after {};
    fstat(first, &before);
    EXPECT_EQ(ConnectToPrinter("127.0.0.1"), VDL_ERR_PORT_NAME);  // a failed connect keeps the connection
    EXPECT_EQ(connection().fd, first);

    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
    EXPECT_NE(connection().fd, first);
    DisconnectPrinter();
    // Still the same socket: not closed, its number not reused.
    EXPECT_TRUE(fstat(first, &after) == 0 && after.st_ino == before.st_ino) << "the earlier connection was closed";
    close(first);
}

TEST_F(ConnectTest, DisconnectWithoutAConnectionClosesNothing) {
    const int other = open("/dev/null", O_RDONLY);
    DisconnectPrinter();
    DisconnectPrinter();
    EXPECT_NE(fcntl(other, F_GETFD), -1);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
    close(other);
}

}  // namespace
}  // namespace vdltest
