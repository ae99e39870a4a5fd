// Actions, settings, the status query and RFID: commands written at once.
#include <functional>

#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

struct Direct {
    const char *what;
    std::function<int()> call;
    std::string bytes;
    std::function<bool()> recorded = [] { return true; };
    int result = 0;
};

void PrintTo(const Direct &d, std::ostream *os) { *os << d.what; }

std::string caseName(const ::testing::TestParamInfo<Direct> &info) {
    std::string name;
    for (const char *c = info.param.what; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

// Recorded settings are reset to a value no setter sends.
void resetRecordedSettings() {
    for (int *g : {&gSpeed, &gDensity, &gOrientation, &gCutPeriod, &gOffset, &gCutPosition, &gPrintingType,
                   &gBackFeeding, &gPaperWidth, &gPaperHeight, &gMediaType, &gGapLength, &gHorizontalMargin,
                   &gVerticalMargin})
        *g = -999;
    gAutoCut = gRewind = 99;
}

bool nothingRecorded() {
    for (int g : {gSpeed, gDensity, gOrientation, gCutPeriod, gOffset, gCutPosition, gPrintingType, gBackFeeding,
                  gPaperWidth, gPaperHeight, gMediaType, gGapLength, gHorizontalMargin, gVerticalMargin})
        if (g != -999) return false;
    return gAutoCut == 99 && gRewind == 99;
}

class DirectTest : public LibraryTest, public ::testing::WithParamInterface<Direct> {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        resetRecordedSettings();
    }
};

// Written at once, ahead of the label content waiting in the buffer, which
// stays as it was; the value sent is recorded.
TEST_P(DirectTest, WritesTheCommandAtOnceAndRecordsIt) {
    const Direct &d = GetParam();
    connectToFake();
    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {"LABEL"}), 0);

    EXPECT_EQ(d.call(), d.result);

    EXPECT_EQ(printer.received(), d.bytes);
    EXPECT_TRUE(d.recorded());
    EXPECT_EQ(buffered(), "LABEL");
}

// The same call without a connection: -105, nothing sent, nothing recorded.
TEST_P(DirectTest, FailsWithoutAConnectionAndRecordsNothing) {
    const Direct &d = GetParam();
    if (d.bytes.empty()) GTEST_SKIP() << "sends nothing";
    EXPECT_EQ(d.call(), VDL_ERR_WRITE);
    EXPECT_TRUE(nothingRecorded());
}

// The same call to a printer that has closed the connection.
TEST_P(DirectTest, FailsWhenThePrinterHasGone) {
    const Direct &d = GetParam();
    if (d.bytes.empty()) GTEST_SKIP() << "sends nothing";
    connectToFake();
    printer.resetConnection();
    EXPECT_EQ(d.call(), VDL_ERR_WRITE);
    EXPECT_TRUE(nothingRecorded());
}

INSTANTIATE_TEST_SUITE_P(
    Actions, DirectTest,
    ::testing::Values(Direct{"initialize", InitializePrinter, "@\r"}, Direct{"calibrate", CalibrateMedia, "~JC\r\n"},
                      Direct{"reset", ResetPrinter, "~JR\r\n"}, Direct{"feed", FeedOneLabel, "~PH\r\n"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Settings, DirectTest,
    ::testing::Values(
        Direct{"speed 15", [] { return SetSpeed(15); }, "SS12\r", [] { return gSpeed == 12; }},
        Direct{"speed -3", [] { return SetSpeed(-3); }, "SS0\r", [] { return gSpeed == 0; }},
        Direct{"speed 10", [] { return SetSpeed(10); }, "SS10\r", [] { return gSpeed == 10; }},
        Direct{"density 25", [] { return SetDensity(25); }, "SD20\r", [] { return gDensity == 20; }},
        Direct{"density -1", [] { return SetDensity(-1); }, "SD0\r", [] { return gDensity == 0; }},
        Direct{"orientation X", [] { return SetOrientation('X'); }, "SOT\r", [] { return gOrientation == 'T'; }},
        Direct{"orientation B", [] { return SetOrientation('B'); }, "SOB\r", [] { return gOrientation == 'B'; }},
        Direct{"cutter on, period 0", [] { return SetCutter(1, 0); }, "CUTy\r\n",
               [] { return gAutoCut == 1 && gCutPeriod == 0; }},
        Direct{"cutter off, period 5", [] { return SetCutter(0, 5); }, "CUTn\r\n",
               [] { return gAutoCut == 0 && gCutPeriod == 5; }},
        Direct{"cutter on, period -3", [] { return SetCutter(2, -3); }, "CUTy,-3\r\n",
               [] { return gAutoCut == 2 && gCutPeriod == -3; }},
        Direct{"cutter widest", [] { return SetCutter(1, INT32_MIN); }, "CUTy,-2147483648\r\n",
               [] { return gCutPeriod == INT32_MIN; }},
        Direct{"rewinder on", [] { return SetRewinder(3); }, "RWDy\r\n", [] { return gRewind == 3; }},
        Direct{"rewinder off", [] { return SetRewinder(0); }, "RWDn\r\n", [] { return gRewind == 0; }},
        Direct{"offset -150", [] { return SetOffset(-150); }, "SA-100\r", [] { return gOffset == -100; }},
        Direct{"cut position 101", [] { return SetCutPostion(101); }, "TA100\r", [] { return gCutPosition == 100; }},
        Direct{"printing type 2", [] { return SetPrintingType(2); }, "STd\r", [] { return gPrintingType == 2; }},
        Direct{"printing type 1", [] { return SetPrintingType(1); }, "STt\r", [] { return gPrintingType == 1; }},
        Direct{"back feed 7", [] { return SetBackFeed(7); }, "SF1\r", [] { return gBackFeeding == 7; }},
        Direct{"back feed 0", [] { return SetBackFeed(0); }, "SF0\r", [] { return gBackFeeding == 0; }},
        Direct{"paper", [] { return SetPaper(800, 600, 2, 0, 24); }, "SL600,24,B,0\rSW800\r",
               [] {
                   return gPaperWidth == 800 && gPaperHeight == 600 && gMediaType == 2 && gOffset == 0 &&
                          gGapLength == 24;
               }},
        Direct{"paper continuous", [] { return SetPaper(1, 2, 1, -500, 3); }, "SL2,3,C,-500\rSW1\r",
               [] { return gOffset == -500 && gMediaType == 1; }},
        Direct{"paper gap", [] { return SetPaper(1, 2, 9, 0, 3); }, "SL2,3,G,0\rSW1\r",
               [] { return gMediaType == 9; }},
        Direct{"margin widest", [] { return SetMargin(INT32_MIN, INT32_MIN); }, "SM-2147483648,-2147483648\r",
               [] { return gHorizontalMargin == INT32_MIN && gVerticalMargin == INT32_MIN; }},
        Direct{"character set 16, 300", [] { return SetCharacterSet(16, 300); }, "CS0,0\r"},
        Direct{"character set 15, 255", [] { return SetCharacterSet(15, 255); }, "CS15,255\r"},
        Direct{"character set -1, -1", [] { return SetCharacterSet(-1, -1); }, "CS0,0\r"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Rfid, DirectTest,
    ::testing::Values(
        Direct{"setup example", [] { return SetupRFID(9, 0, 7, 31); }, ">RFS,5,1,5,30\r\n", [] { return true; }, 15},
        Direct{"setup shortest", [] { return SetupRFID(0, 1, 1, 0); }, ">RFS,0,1,1,0\r\n", [] { return true; }, 14},
        Direct{"setup longest", [] { return SetupRFID(5, 10, 5, 30); }, ">RFS,5,10,5,30\r\n", [] { return true; },
               16},
        Direct{"setup field1 6 field4 -3", [] { return SetupRFID(6, 2, 2, -3); }, ">RFS,5,2,2,0\r\n",
               [] { return true; }, 14},
        Direct{"calibrate", CalibrateRFID, ">RFCP\r\n"}, Direct{"lock", LockRFID, ">RFLK\r\n"},
        Direct{"unlock", UnlockRFID, ">RFU\r\n"},
        Direct{"position", [] { return SetRFIDPosition(-12); }, ">RFTP,-12\r\n"},
        Direct{"EPC structure", [] { return SetEPCDataStructure(-96, "8,'4,36"); }, ">RFES-96,'8,'4,36'\r\n"},
        Direct{"write hex", [] { return WriteRFID(2, 0, 99, "0A1B2C"); }, ">RFW,H,0,3, '0A1B2C'\r\n"},
        Direct{"write user odd", [] { return WriteRFID(3, 1, 0, "0A1B2C3"); }, ">RFW,U,1,3, '0A1B2C3'\r\n"},
        Direct{"write user empty", [] { return WriteRFID(3, 1, 7, ""); }, ">RFW,U,1,0, ''\r\n"},
        Direct{"write ASCII", [] { return WriteRFID(1, 0, 99, "ABCD"); }, ">RFW,A,0,99, 'ABCD'\r\n"},
        Direct{"write EPC", [] { return WriteRFID(4, 5, 6, "ABC"); }, ">RFW,E,'ABC'\r\n"},
        Direct{"write type 0", [] { return WriteRFID(0, 0, 0, "ABC"); }, ""},
        Direct{"write type 5", [] { return WriteRFID(5, 0, 0, "ABC"); }, ""},
        Direct{"password", [] { return SetRFIDPassword("1", "22", "333", "4444"); }, ">RFZ,'1,22,333,4444'\r\n"},
        Direct{"password empty", [] { return SetRFIDPassword("", "", "", ""); }, ">RFZ,',,,'\r\n"}),
    caseName);

struct Oversized {
    const char *what;
    std::function<int(const std::string &)> call;
    std::size_t longestAccepted;  // string length that makes the command fill its area
};

void PrintTo(const Oversized &o, std::ostream *os) { *os << o.what; }

class OversizedRfidTest : public LibraryTest, public ::testing::WithParamInterface<Oversized> {};

// A command that fits its area (terminating NUL included) goes out whole; one
// byte more and it is refused, nothing sent.
TEST_P(OversizedRfidTest, IsRefusedWholeRatherThanCut) {
    const Oversized &o = GetParam();
    connectToFake();
    EXPECT_EQ(o.call(std::string(o.longestAccepted, '7')), 0);
    const std::size_t sent = printer.received().size();
    EXPECT_TRUE(sent == 511 || sent == 1023) << sent;
    printer.clearReceived();
    EXPECT_EQ(o.call(std::string(o.longestAccepted + 1, '7')), VDL_ERR_WRITE);
    EXPECT_EQ(o.call(std::string(100000, '7')), VDL_ERR_WRITE);
    EXPECT_EQ(printer.received(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Areas, OversizedRfidTest,
    ::testing::Values(
        Oversized{"EPC structure", [](const std::string &s) { return SetEPCDataStructure(1, s.c_str()); }, 511 - 11},
        Oversized{"password", [](const std::string &s) { return SetRFIDPassword(s.c_str(), "", "", ""); }, 511 - 12},
        Oversized{"write", [](const std::string &s) { return WriteRFID(4, 0, 0, s.c_str()); }, 1023 - 11}));

struct StatusReply {
    int reply;  // negative: none
    int result;
};

void PrintTo(const StatusReply &s, std::ostream *os) { *os << "reply " << s.reply; }

class StatusTest : public LibraryTest, public ::testing::WithParamInterface<StatusReply> {};

TEST_P(StatusTest, ReturnsTheErrorBitsOfTheReply) {
    const StatusReply &s = GetParam();
    connectToFake();
    printer.options().statusReply = 0x40;
    ASSERT_EQ(CheckPrinterStatus(), 0x40);
    printer.options().statusReply = s.reply;

    EXPECT_EQ(CheckPrinterStatus(), s.result);

    EXPECT_EQ(gStatus, s.result < 0 ? 0 : s.result);
    EXPECT_EQ(printer.received(), "^cu\r^cu\r");
}

INSTANTIATE_TEST_SUITE_P(Replies, StatusTest,
                         ::testing::Values(StatusReply{0x00, 0}, StatusReply{0x01, 0}, StatusReply{0xC0, 192},
                                           StatusReply{0xFF, 254}, StatusReply{-1, VDL_ERR_NO_REPLY}));

TEST(StatusQuery, WithoutAConnectionFailsAndClearsTheMask) {
    DisconnectPrinter();
    gStatus = 0x40;
    EXPECT_EQ(CheckPrinterStatus(), VDL_ERR_WRITE);
    EXPECT_EQ(gStatus, 0);
}

using RoadTest = LibraryTest;

TEST_F(RoadTest, OneLabelFromConnectToDisconnect) {
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), 0);
    sendWithoutDelay();
    ASSERT_EQ(SetPaper(812, 1218, 0, 0, 24), 0);
    ASSERT_EQ(SetSpeed(4), 0);
    ASSERT_EQ(SetDensity(12), 0);
    ASSERT_EQ(PrintDeviceFont("SHIP TO", 40, 40, 4, 1, 1, 0, 1), 0);
    ASSERT_EQ(Print1DBarcode("PKG-1", 40, 200, 1, 2, 4, 100, 0, 0), 0);
    ASSERT_EQ(Prints(1, 1), 0);
    printer.options().statusReply = 0x00;
    ASSERT_EQ(CheckPrinterStatus(), 0);
    DisconnectPrinter();

    EXPECT_EQ(printer.received(), "^PI0\r\n"
                                  "SL1218,24,G,0\rSW812\r"
                                  "SS4\r"
                                  "SD12\r"
                                  "T40,40,4,1,1,0,0,N,B,'SHIP TO'\r"
                                  "B140,200,1,2,4,100,0,0,'PKG-1'\r"
                                  "P1,1\r"
                                  "^cu\r");
    EXPECT_EQ(gSpeed, 4);
    EXPECT_EQ(gDensity, 12);
    EXPECT_EQ(gPaperHeight, 1218);
}

}  // namespace
}  // namespace vdltest
