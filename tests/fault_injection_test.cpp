// Faults of the printer and of the connection: each ends in a documented
// code, loses nothing the library keeps, and leaves the process alive.
#include <cerrno>
#include <random>

#include "command.h"
#include "image_files.h"
#include "library_test.h"

namespace vdltest {
namespace {

using FaultTest = LibraryTest;

TEST_F(FaultTest, PrinterResettingInTheMiddleOfPrintsKeepsTheLabel) {
    connectToFake();
    connection().interfaceType = vdl::kSerial;  // several chunks, the fake reading between them
    printer.options().resetAfter = 100;
    for (int i = 0; i < 50; ++i) ASSERT_EQ(PrintDeviceFont("FIELD", 10, i, 3, 1, 1, 0, 0), 0);
    const std::string content = buffered();

    EXPECT_EQ(Prints(1, 1), VDL_ERR_WRITE);
    EXPECT_TRUE(sameBytes(buffered(), content + "P1,1\r"));
    EXPECT_EQ(PrintCircle(1, 1, 1, 1), 0);  // the label goes on collecting
}

TEST_F(FaultTest, PrinterResettingInTheMiddleOfABitmapEndsTheConnectionNotTheProcess) {
    TempDir dir;
    const Picture picture = randomPicture(800, 400, {kWhite, kBlack}, 3);
    const std::string path = dir.write("big.bmp", bmpFile(800, 400, picture.argb, {24}));
    connectToFake();
    connection().interfaceType = vdl::kSerial;
    printer.options().resetAfter = 3000;
    ASSERT_EQ(PrintDeviceFont("KEPT", 1, 2, 3, 1, 1, 0, 0), 0);

    // Once loaded, the bitmap counts as handed over whatever the writes gave.
    EXPECT_EQ(PrintBitmap(path.c_str(), 0, 0, 0), 0);
    EXPECT_LT(printer.received().size(), 100u * 400u);  // the printer took only part of it
    EXPECT_EQ(Prints(1, 1), VDL_ERR_WRITE);
    EXPECT_EQ(buffered(), "T1,2,3,1,1,0,0,N,N,'KEPT'\rP1,1\r");
}

TEST_F(FaultTest, PrinterThatStopsReadingFailsTheWriteWithinItsBound) {
    printer.options().receiveBuffer = 4096;
    connectToFake();
    printer.options().reading = false;
    const std::string data = pattern(32u << 20);

    EXPECT_EQ(WriteBuffer(data.data(), uint32_t(data.size())), VDL_ERR_WRITE_CHUNK);

    // Partial writes while the buffers filled, then 150 refusals 200 ms apart.
    std::size_t retries = 0;
    for (unsigned pause : pauses()) retries += pause == 200;
    EXPECT_GE(retries, 149u);
    EXPECT_LT(retries, 5000u);
}

TEST_F(FaultTest, StormOfRefusalsAndPartialWritesDeliversEveryByteOnce) {
    connectToFake();
    sendScript().fd = connection().fd;
    std::mt19937 random(11);
    for (int i = 0; i < 400; ++i) {
        switch (random() % 4) {
            case 0: sendScript().steps.push_back({0, EAGAIN}); break;
            case 1: sendScript().steps.push_back({0, EINTR}); break;
            case 2: sendScript().steps.push_back({std::size_t(random() % 50), 0}); break;
            default: sendScript().steps.push_back({0, 0}); break;
        }
        if (i % 4 == 3) sendScript().steps.push_back({1 + std::size_t(random() % 7), 0});  // progress
    }
    const std::string data = pattern(20000);
    EXPECT_EQ(WriteBuffer(data.data(), uint32_t(data.size())), 20000);
    EXPECT_TRUE(sameBytes(printer.received(), data));
}

struct BadReply {
    const char *what;
    std::string reply;
    int pieces;
    int result;
};

void PrintTo(const BadReply &b, std::ostream *os) { *os << b.what; }

class BadModelReplyTest : public LibraryTest, public ::testing::WithParamInterface<BadReply> {};

TEST_P(BadModelReplyTest, IsRefusedOrAcceptedButNeverOverruns) {
    const BadReply &b = GetParam();
    printer.options().modelReply = b.reply;
    printer.options().replyPieces = b.pieces;
    const int before = openDescriptorCount();
    EXPECT_EQ(ConnectToPrinter(printer.portName().c_str()), b.result);
    DisconnectPrinter();
    printer.pump();
    EXPECT_EQ(openDescriptorCount(), before);
}

std::string garbage(std::size_t n) {
    std::string bytes = pattern(n, 99);
    bytes.back() = '\n';
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BadModelReplyTest,
    ::testing::Values(BadReply{"garbage", garbage(19), 1, VDL_ERR_NOT_ACCEPTED},
                      BadReply{"oversized", std::string(5000, 'V') + "VRL-408\r\n", 1, VDL_ERR_NOT_ACCEPTED},
                      BadReply{"NULs behind the name", std::string("VRL-408\0\0\0\r\n", 12), 1, VDL_OK},
                      BadReply{"a byte at a time", "VRL-408\r\n", 9, VDL_OK},
                      BadReply{"name behind a NUL", std::string("\0VRL-408\r\n", 10), 1, VDL_ERR_NOT_ACCEPTED}));

TEST_F(FaultTest, StatusRepliesOfTheWrongShape) {
    connectToFake();
    printer.options().statusReply = -1;
    printer.sendRaw(std::string("\x41\x80\xFF", 3));  // three bytes where one is asked for
    EXPECT_EQ(CheckPrinterStatus(), 0x40);
    EXPECT_EQ(CheckPrinterStatus(), 0x80);  // what was left over answers the next query
    EXPECT_EQ(CheckPrinterStatus(), 0xFE);
    EXPECT_EQ(CheckPrinterStatus(), VDL_ERR_NO_REPLY);
    EXPECT_EQ(gStatus, 0);
}

TEST_F(FaultTest, PrinterVanishingBetweenOperations) {
    connectToFake();
    ASSERT_EQ(SetSpeed(3), 0);
    ASSERT_EQ(PrintDeviceFont("KEPT", 1, 2, 3, 1, 1, 0, 0), 0);
    printer.resetConnection();

    EXPECT_EQ(SetSpeed(9), VDL_ERR_WRITE);
    EXPECT_EQ(gSpeed, 3);
    EXPECT_EQ(Prints(1, 1), VDL_ERR_WRITE);
    EXPECT_EQ(CheckPrinterStatus(), VDL_ERR_WRITE);
    char reply[4];
    uint32_t length = sizeof reply;
    EXPECT_EQ(DirectIO("x", 1, reply, &length), VDL_ERR_WRITE);
    EXPECT_EQ(buffered(), "T1,2,3,1,1,0,0,N,N,'KEPT'\rP1,1\r");
}

// Descriptors and (in the sanitized build) heap end where they started.
TEST_F(FaultTest, ThousandConnectsAndThousandFailedConnectsLeakNothing) {
    const int before = openDescriptorCount();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
        DisconnectPrinter();
        printer.pump();
    }
    EXPECT_EQ(openDescriptorCount(), before);

    printer.options().modelReply = "VRP-110\r\n";  // not a label printer
    const std::string names[] = {printer.portName(), "127.0.0.1:1", "no-such-host:1"};
    for (int i = 0; i < 1000; ++i) {
        const char *name = names[i % 3].c_str();
        ASSERT_LT(ConnectToPrinter(name), 0);
        printer.pump();
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

}  // namespace
}  // namespace vdltest
