#include "library_test.h"

#include "fake_bluez.h"

#include <dirent.h>

namespace vdltest {

namespace {

// The settings the library records as they reach the printer, and the last
// status: a test sees none of what an earlier test set.
void forgetRecordedSettings() {
    for (int *setting : {&gSpeed, &gDensity, &gOrientation, &gCutPeriod, &gOffset, &gCutPosition, &gPrintingType,
                         &gBackFeeding, &gPaperWidth, &gPaperHeight, &gMediaType, &gGapLength, &gHorizontalMargin,
                         &gVerticalMargin})
        *setting = 0;
    gAutoCut = gRewind = gStatus = 0;
}

}  // namespace

void LibraryTest::SetUp() {
    gWriteLog = 0;  // before anything traces: no record lands where an earlier test left tracing on
    DisconnectPrinter();
    initDataBuffer();
    gPrinterModel = 0;
    gConnectedPrinter = 0;
    forgetRecordedSettings();
    resetPauses();
    sendScript() = SendScript();
    pollLog() = PollLog();
    fixedTime() = FixedTime();
    // No device node exists and no Bluetooth printer is in range unless a
    // test says otherwise.
    resetDeviceNodes();
    resetBluetoothSockets();
    resetCallFaults();
    fakeBluez() = FakeBluez();
}

void LibraryTest::TearDown() {
    gWriteLog = 0;
    DisconnectPrinter();
    sendScript() = SendScript();
    pollLog() = PollLog();
    fixedTime() = FixedTime();
    resetDeviceNodes();
    resetBluetoothSockets();
    resetCallFaults();
}

void LibraryTest::connectToFake() {
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), 0);
    printer.pump();
    printer.clearReceived();
    resetPauses();
}


std::vector<unsigned> repeated(unsigned ms, int n) { return std::vector<unsigned>(std::size_t(n), ms); }

std::string pattern(std::size_t n, unsigned seed) {
    std::string bytes(n, '\0');
    uint32_t state = 2463534242u ^ seed;
    for (char &byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = char(state & 0xFF);
    }
    return bytes;
}

::testing::AssertionResult sameBytes(const std::string &actual, const std::string &expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                         << " were expected; first difference at offset " << at;
}

int openDescriptorCount() {
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

}  // namespace vdltest
