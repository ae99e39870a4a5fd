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

}  // namespace
}  // namespace vdltest
