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
    gStatus = 0x40;
    printer.resetConnection();  // the printer gone: the query is not written, the mask cleared
    EXPECT_EQ(CheckPrinterStatus(), VDL_ERR_WRITE);
    EXPECT_EQ(gStatus, 0);
}

// A read that meets the end of the connection ends at once with nothing:
// no byte of the staging area before what was read is looked at.
TEST_F(FaultTest, APrinterThatHungUpAnswersNothing) {
    {
        FakePrinter gone;
        ASSERT_EQ(ConnectToPrinter(gone.portName().c_str()), 0);
    }
    char in[4];
    uint32_t length = sizeof in;
    EXPECT_EQ(DirectIO(nullptr, 0, in, &length), VDL_ERR_NO_REPLY);
}

}  // namespace
}  // namespace vdltest
