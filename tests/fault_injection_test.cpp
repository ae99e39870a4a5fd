// Faults of the printer and of the connection: each ends in a documented
// code, loses nothing the library keeps, and leaves the process alive.
#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

using FaultTest = LibraryTest;

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
    EXPECT_EQ(gSpeed, 3);  // a setting that did not reach the printer is not recorded
    EXPECT_EQ(Prints(1, 1), VDL_ERR_WRITE);
    EXPECT_EQ(CheckPrinterStatus(), VDL_ERR_WRITE);
    char reply[4];
    uint32_t length = sizeof reply;
    EXPECT_EQ(DirectIO("x", 1, reply, &length), VDL_ERR_WRITE);
    EXPECT_EQ(buffered(), "T1,2,3,1,1,0,0,N,N,'KEPT'\rP1,1\r");
}

}  // namespace
}  // namespace vdltest
