// Actions, settings, the status query and RFID: commands written at once.
#include <functional>

#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

struct Direct {
    std::function<int()> call;
    std::string bytes;
    std::function<bool()> recorded = [] { return true; };
    int result = 0;
};

int *const kRecordedInts[] = {&gSpeed,        &gDensity,     &gOrientation,  &gCutPeriod, &gOffset,
                              &gCutPosition,  &gPrintingType, &gBackFeeding, &gPaperWidth, &gPaperHeight,
                              &gMediaType,    &gGapLength,   &gHorizontalMargin, &gVerticalMargin};

// Recorded settings are reset to a value no setter sends.
void resetRecordedSettings() {
    for (int *g : kRecordedInts) *g = -999;
    gAutoCut = gRewind = 99;
}

bool nothingRecorded() {
    for (int *g : kRecordedInts)
        if (*g != -999) return false;
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

using D = Direct;

INSTANTIATE_TEST_SUITE_P(Actions, DirectTest,
                         ::testing::Values(D{InitializePrinter, "@\r"}, D{CalibrateMedia, "~JC\r\n"},
                                           D{ResetPrinter, "~JR\r\n"}, D{FeedOneLabel, "~PH\r\n"}));

// The values at and beyond their bounds, and what is recorded; the emulator
// round trip decodes the typical cases.
INSTANTIATE_TEST_SUITE_P(
    Settings, DirectTest,
    ::testing::Values(
        D{[] { return SetSpeed(-3); }, "SS0\r", [] { return gSpeed == 0; }},
        D{[] { return SetSpeed(13); }, "SS12\r", [] { return gSpeed == 12; }},
        D{[] { return SetDensity(-1); }, "SD0\r", [] { return gDensity == 0; }},
        D{[] { return SetDensity(21); }, "SD20\r", [] { return gDensity == 20; }},
        D{[] { return SetOrientation('X'); }, "SOT\r", [] { return gOrientation == 'T'; }},
        D{[] { return SetCutter(1, 0); }, "CUTy\r\n", [] { return gAutoCut == 1 && gCutPeriod == 0; }},
        D{[] { return SetCutter(0, 5); }, "CUTn\r\n", [] { return gAutoCut == 0 && gCutPeriod == 5; }},
        D{[] { return SetCutter(2, INT32_MIN); }, "CUTy,-2147483648\r\n",
          [] { return gAutoCut == 2 && gCutPeriod == INT32_MIN; }},
        D{[] { return SetRewinder(3); }, "RWDy\r\n", [] { return gRewind == 3; }},
        D{[] { return SetOffset(-150); }, "SA-100\r", [] { return gOffset == -100; }},
        D{[] { return SetOffset(101); }, "SA100\r", [] { return gOffset == 100; }},
        D{[] { return SetCutPostion(101); }, "TA100\r", [] { return gCutPosition == 100; }},
        D{[] { return SetCutPostion(-101); }, "TA-100\r", [] { return gCutPosition == -100; }},
        D{[] { return SetPrintingType(2); }, "STd\r", [] { return gPrintingType == 2; }},
        D{[] { return SetBackFeed(7); }, "SF1\r", [] { return gBackFeeding == 7; }},
        D{[] { return SetBackFeed(0); }, "SF0\r", [] { return gBackFeeding == 0; }},
        D{[] { return SetPaper(800, 600, 2, 0, 24); }, "SL600,24,B,0\rSW800\r",
          [] { return gPaperWidth == 800 && gPaperHeight == 600 && gMediaType == 2 && gOffset == 0 && gGapLength == 24; }},
        D{[] { return SetPaper(1, 2, 1, -500, 3); }, "SL2,3,C,-500\rSW1\r", [] { return gOffset == -500; }},
        D{[] { return SetPaper(1, 2, 9, 0, 3); }, "SL2,3,G,0\rSW1\r", [] { return gMediaType == 9; }},
        D{[] { return SetMargin(INT32_MIN, 7); }, "SM-2147483648,7\r",
          [] { return gHorizontalMargin == INT32_MIN && gVerticalMargin == 7; }},
        D{[] { return SetCharacterSet(-1, -1); }, "CS0,0\r"}));

const auto kAny = [] { return true; };

INSTANTIATE_TEST_SUITE_P(
    Rfid, DirectTest,
    ::testing::Values(D{[] { return SetupRFID(9, 0, 7, 31); }, ">RFS,5,1,5,30\r\n", kAny, 15},
                      D{[] { return SetupRFID(5, 10, 5, 30); }, ">RFS,5,10,5,30\r\n", kAny, 16},
                      D{[] { return SetupRFID(6, 2, 2, -3); }, ">RFS,5,2,2,0\r\n", kAny, 14},
                      D{CalibrateRFID, ">RFCP\r\n"}, D{LockRFID, ">RFLK\r\n"}, D{UnlockRFID, ">RFU\r\n"},
                      D{[] { return SetRFIDPosition(-12); }, ">RFTP,-12\r\n"},
                      D{[] { return SetEPCDataStructure(-96, "8,'4,36"); }, ">RFES-96,'8,'4,36'\r\n"},
                      D{[] { return WriteRFID(2, 0, 99, "0A1B2C"); }, ">RFW,H,0,3, '0A1B2C'\r\n"},
                      D{[] { return WriteRFID(3, 1, 0, "0A1B2C3"); }, ">RFW,U,1,3, '0A1B2C3'\r\n"},
                      D{[] { return WriteRFID(3, 1, 7, ""); }, ">RFW,U,1,0, ''\r\n"},
                      D{[] { return WriteRFID(1, 0, 99, "ABCD"); }, ">RFW,A,0,99, 'ABCD'\r\n"},
                      D{[] { return WriteRFID(4, 5, 6, "ABC"); }, ">RFW,E,'ABC'\r\n"},
                      D{[] { return WriteRFID(0, 0, 0, "ABC"); }, ""},
                      D{[] { return SetRFIDPassword("1", "22", "333", "4444"); }, ">RFZ,'1,22,333,4444'\r\n"}));

// A command that fits its area (terminating NUL included) goes out whole; one
// byte more and it is refused, nothing sent.
TEST_F(LibraryTest, OversizedRfidCommandsAreRefusedWholeRatherThanCut) {
    const struct {
        std::function<int(const std::string &)> call;
        std::size_t longestAccepted;  // the string length that fills the command's area
    } cases[] = {{[](const std::string &s) { return SetEPCDataStructure(1, s.c_str()); }, 511 - 11},
                 {[](const std::string &s) { return SetRFIDPassword(s.c_str(), "", "", ""); }, 511 - 12},
                 {[](const std::string &s) { return WriteRFID(4, 0, 0, s.c_str()); }, 1023 - 11}};
    connectToFake();
    for (const auto &c : cases) {
        printer.clearReceived();
        EXPECT_EQ(c.call(std::string(c.longestAccepted, '7')), 0);
        EXPECT_EQ(printer.received().size(), c.longestAccepted > 600 ? 1023u : 511u);
        printer.clearReceived();
        EXPECT_EQ(c.call(std::string(c.longestAccepted + 1, '7')), VDL_ERR_WRITE);
        EXPECT_EQ(printer.received(), "");
    }
}

}  // namespace
}  // namespace vdltest
