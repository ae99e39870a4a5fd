// The trace log: switched on by "log.tmp" at connect time, one record of a
// fixed layout per trace call, appended to "log.txt".
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <sstream>

#include "command.h"
#include "fake_bluez.h"
#include "library_test.h"

namespace vdltest {
namespace {

class TraceLogTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        char templ[] = "/tmp/vdl-trace-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        directory_ = templ;
        ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
        ASSERT_EQ(chdir(directory_.c_str()), 0);
    }

    void TearDown() override {
        LibraryTest::TearDown();
        gWriteLog = 0;
        EXPECT_EQ(chdir(previous_), 0);
        std::filesystem::remove_all(directory_);
    }

    static void touch(const char *name) { std::ofstream(name).put('\n'); }

    static std::string log() {
        std::stringstream text;
        text << std::ifstream("log.txt").rdbuf();
        return text.str();
    }
    static bool logged(const std::string &text) { return log().find(text) != std::string::npos; }

    std::string directory_;
    char previous_[PATH_MAX] = {};
};

TEST_F(TraceLogTest, TheMarkerCountsOnlyAtConnectTime) {
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), 0);
    touch("log.tmp");
    Prints(1, 1);
    EXPECT_NE(access("log.txt", F_OK), 0);

    DisconnectPrinter();
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), 0);
    unlink("log.tmp");
    Prints(1, 1);
    EXPECT_TRUE(logged("[Prints                   ] end\n"));
}

TEST_F(TraceLogTest, RecordsHaveTheFixedLayout) {
    touch("log.tmp");
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), 0);
    // One record per step and per byte sent or received, the name padded to 25 characters.
    const std::string text = log();
    EXPECT_GT(std::count(text.begin(), text.end(), '['), 25);
    EXPECT_TRUE(logged("[ConnectToPrinter         ] \n\n\n               NEW                  \n\n\n\n"));
    EXPECT_TRUE(logged("[ConnectToPrinter         ] address : " + printer.portName() + "\n"));
    EXPECT_TRUE(logged("[writeData                ] i : 0, 5e, ^ \n"));
    EXPECT_TRUE(logged("[readData                 ] 56, V \n"));
    EXPECT_TRUE(logged("[modelCheck               ] model = VRL-408\r\n, 0\n"));  // the model before and after
    EXPECT_TRUE(logged("[modelCheck               ] model = VRL-408\r\n, 159\n"));
    EXPECT_TRUE(logged("[modelCheck               ] success\n"));
    vdl::append(vdl::defaultPrinter(), {"x"});
    EXPECT_TRUE(logged("[bufferCheck              ] start\n"));
}

// The records of one session, in the order the steps make them.
TEST_F(TraceLogTest, EachStepTracesItsRecordsInOrder) {
    touch("log.tmp");
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), 0);
    PrintBlock(1, 2, 3, 4, 1, 1);
    EXPECT_EQ(PrintDeviceFontW("\xFF", 0, 0, 'a', 1, 1, 0, 0, VDL_CP_EUC_KR), VDL_ERR_WRITE);
    DisconnectPrinter();
    EXPECT_EQ(ConnectToPrinter("USB"), VDL_ERR_OPEN);
    const std::string text = log();
    std::size_t at = 0;
    for (const char *record : {"[ConnectToPrinter         ] Request a network connection.\n",
                               "[openDeviceEthernet       ] Start\n", "[openDeviceEthernet       ] Success port open.\n",
                               "[modelCheck               ] start\n", "[PrintBlock               ] start\n",
                               "[PrintBlock               ] end\n", "[PrintDeviceFontW         ] start\n",
                               "[convertData              ] Failed to convert. errno : 84\n",
                               "[PrintDeviceFontW         ] end\n", "[ConnectToPrinter         ] Request a usb connection.\n"}) {
        at = text.find(record, at);
        ASSERT_NE(at, std::string::npos) << record;
    }
}

TEST_F(TraceLogTest, MicrosecondsKeepTheirLeadingZerosAndMessagesTheirLineFeed) {
    touch("log.tmp");
    initWriteLog();
    fixedTime() = FixedTime{true, 0, 500};
    printDebugLog("someFunctionWithAVeryLongName", "value %d\n", 42);
    fixedTime() = FixedTime();

    char date[32];
    const std::time_t zero = 0;
    std::strftime(date, sizeof date, "%Y/%m/%d %H:%M:%S", std::localtime(&zero));
    EXPECT_EQ(log(), std::string(date) + ".000500  : [someFunctionWithAVeryLongName] value 42\n\n");
}

TEST_F(TraceLogTest, BluetoothFailuresAreTracedAtEveryAttempt) {
    touch("log.tmp");
    initWriteLog();
    fakeBluez().inRange = true;  // no Serial Port record
    EXPECT_EQ(openDeviceBluetooth(VdlBluetoothAddress{}), VDL_ERR_BT_NO_CHANNEL);
    fakeBluez().records = {1};
    bluetoothSockets().connectErrors = std::deque<int>(5, ECONNREFUSED);
    EXPECT_EQ(openDeviceBluetooth(VdlBluetoothAddress{}), VDL_ERR_BT_CONNECT);
    fakeBluez().inRange = false;
    EXPECT_EQ(openDeviceBluetooth(VdlBluetoothAddress{}), VDL_ERR_BT_SDP);
    const std::pair<const char *, int> traces[] = {
        {"[openDeviceBluetooth      ] Failed to get service info.\n", 5}, {"] Retry to get service info.\n", 4},
        {"[spp_connect              ] Failed to call connect().\n", 5}, {"] Failed to connect.\n", 5},
        {"] Retry to connect.\n", 4}, {"] Failed to sdp_connect().\n", 1}};
    const std::string text = log();
    for (const auto &[trace, times] : traces) {
        int found = 0;
        for (std::size_t at = text.find(trace); at != std::string::npos; at = text.find(trace, at + 1)) ++found;
        EXPECT_EQ(found, times) << trace;
    }
}

TEST_F(TraceLogTest, ScanTracesEachPortThatFailedToOpen) {
    touch("log.tmp");
    EXPECT_EQ(ConnectToPrinter("SERIAL:9600"), VDL_ERR_OPEN);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(logged("Failed to open /dev/ttyS" + std::to_string(i) + "\n"));
    EXPECT_TRUE(logged("[ConnectToPrinter         ] Failed to open device.\n"));
}

TEST_F(TraceLogTest, UnopenableLogSaysSoOnStandardOutputForEveryRecord) {
    touch("log.tmp");
    ASSERT_EQ(mkdir("log.txt", 0755), 0);  // a directory cannot be opened for appending
    testing::internal::CaptureStdout();
    EXPECT_EQ(ConnectToPrinter("localhost:1"), VDL_ERR_PORT_NAME);
    // The banner, the request, the address and the refusal: four records.
    std::string expected;
    for (int i = 0; i < 4; ++i) expected += "Failed to open log file.\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

TEST_F(TraceLogTest, WorkingDirectoryTooLongForThePathAreaLeavesTracingOff) {
    const std::string part(200, 'd');
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(mkdir(part.c_str(), 0755), 0);
        ASSERT_EQ(chdir(part.c_str()), 0);
    }
    touch("log.tmp");
    gWriteLog = 1;
    initWriteLog();
    EXPECT_EQ(gWriteLog, 0);
}

}  // namespace
}  // namespace vdltest
