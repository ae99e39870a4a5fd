// The Bluetooth transport with fake BlueZ functions and fake RFCOMM sockets:
// the SDP search, the connection attempts and their bounds. Built twice: with
// a fake libbluetooth that has the list release functions, and with one that
// supplies only the eight functions an application must provide.
#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fake_bluez.h"
#include "library_test.h"
#include "transport.h"

namespace vdltest {
namespace {

// "00:11:22:AA:BB:CC", stored last group first.
constexpr VdlBluetoothAddress kPrinter{{0xCC, 0xBB, 0xAA, 0x22, 0x11, 0x00}};
const std::string kPrinterBytes("\xCC\xBB\xAA\x22\x11\x00", 6), kAnyAdapter(6, '\0');

std::string rfcommAddress(const std::string &device, uint8_t channel) {
    sockaddr_rc address{};
    address.rc_family = AF_BLUETOOTH;
    std::memcpy(&address.rc_bdaddr, device.data(), 6);
    address.rc_channel = channel;
    return std::string(reinterpret_cast<const char *>(&address), sizeof address);
}

class BluetoothTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        fakeBluez().inRange = true;
        fakeBluez().records = {1};
    }
    void TearDown() override {
        LibraryTest::TearDown();
        EXPECT_EQ(fakeBluez().sessionsAlive, 0);
        if (!fakeBluezReleases()) return;
        // With the release functions at hand, everything the search built is released.
        EXPECT_EQ(fakeBluez().listsAlive, 0);
        EXPECT_EQ(fakeBluez().recordsAlive, 0);
    }
};

TEST_F(BluetoothTest, ConnectsEndToEnd) {
    fakeBluez().records = {5};
    bluetoothSockets().printer = &printer;

    ASSERT_EQ(ConnectToPrinter("00:11:22:aa:bb:cc"), VDL_OK);
    EXPECT_EQ(connection().interfaceType, vdl::kBluetooth);
    EXPECT_EQ(printer.received(), "^PI0\r\n");
    // The settling pause after the open, then the model check.
    EXPECT_EQ(pauses(), std::vector<unsigned>({100, 10, 30, 100, 100}) + repeated(30, 20));
    // The address parsed by BlueZ; one SDP connection from any adapter asking
    // for the Serial Port service's protocol descriptor list, then its RFCOMM port.
    EXPECT_EQ(fakeBluez().calls, (std::vector<std::string>{"str2ba 00:11:22:aa:bb:cc",
                                                          "connect 000000000000 ccbbaa221100 1",
                                                          "search 1101 0004 1", "port 3"}));
    EXPECT_EQ(fakeBluez().sdpCloses, 1);
    // One RFCOMM stream socket, bound to any adapter, connected to channel 5.
    const BluetoothSockets &s = bluetoothSockets();
    ASSERT_EQ(s.sockets.size(), 1u);
    EXPECT_EQ(s.sockets[0].type & ~SOCK_CLOEXEC, SOCK_STREAM);
    EXPECT_EQ(s.sockets[0].protocol, BTPROTO_RFCOMM);
    EXPECT_EQ(s.bound, std::vector<std::string>{rfcommAddress(kAnyAdapter, 0)});
    EXPECT_EQ(s.connected, std::vector<std::string>{rfcommAddress(kPrinterBytes, 5)});

}

// One open: what BlueZ and the sockets do, and what comes of it.
struct Attempts {
    const char *what;
    std::vector<int> records;
    int sdpFailsAt;
    bool searchFails;
    std::deque<int> socketErrors;
    int bindError;
    std::deque<int> connectErrors;
    int result;  // >= 0: the channel connected to; else the code
    int sdpConnects;
    int socketsCreated;
    std::vector<unsigned> pausesUs;
};

void PrintTo(const Attempts &a, std::ostream *os) { *os << a.what; }

class BluetoothAttemptsTest : public BluetoothTest, public ::testing::WithParamInterface<Attempts> {};

TEST_P(BluetoothAttemptsTest, RetriesWithinItsBounds) {
    const Attempts &a = GetParam();
    FakeBluez &f = fakeBluez();
    f.records = a.records;
    f.sdpConnectFailsAt = a.sdpFailsAt;
    f.searchFails = a.searchFails;
    BluetoothSockets &s = bluetoothSockets();
    s.socketErrors = a.socketErrors;
    s.bindError = a.bindError;
    s.connectErrors = a.connectErrors;
    const int before = openDescriptorCount();

    const int fd = openDeviceBluetooth(kPrinter);

    if (a.result >= 0) {
        ASSERT_GE(fd, 0);
        EXPECT_EQ(s.connected.back(), rfcommAddress(kPrinterBytes, uint8_t(a.result)));
        close(fd);
    } else {
        EXPECT_EQ(fd, a.result);
    }
    EXPECT_EQ(f.sdpConnects, a.sdpConnects);
    EXPECT_EQ(s.created, a.socketsCreated);
    EXPECT_EQ(pausesMicroseconds(), a.pausesUs);
    EXPECT_EQ(openDescriptorCount(), before);
}

constexpr int kBusyTries = 1 + vdl::kRfcommBusyRetries;
const std::vector<unsigned> kBusyWait = repeated(100000, vdl::kRfcommBusyRetries), kRetry = {3};

INSTANTIATE_TEST_SUITE_P(
    Cases, BluetoothAttemptsTest,
    ::testing::Values(
        Attempts{"no Serial Port record", {}, 0, false, {}, 0, {}, VDL_ERR_BT_NO_CHANNEL, 5, 0, repeated(300000, 4)},
        Attempts{"search fails", {1}, 0, true, {}, 0, {}, VDL_ERR_BT_NO_CHANNEL, 5, 0, repeated(300000, 4)},
        Attempts{"channel in the second record", {0, 1}, 0, false, {}, 0, {}, 1, 1, 1, {}},
        Attempts{"unreadable first record", {FakeBluez::kNoProtocolList, 9}, 0, false, {}, 0, {}, 9, 1, 1, {}},
        Attempts{"port whose low byte is 0", {0x100, 0x203}, 0, false, {}, 0, {}, 3, 1, 1, {}},
        Attempts{"no SDP connection at the third", {}, 3, false, {}, 0, {}, VDL_ERR_BT_SDP, 3, 0, repeated(300000, 2)},
        Attempts{"refused twice", {1}, 0, false, {}, 0, {ECONNREFUSED, EHOSTDOWN}, 1, 1, 3, repeated(3, 2)},
        Attempts{"refused five times", {1}, 0, false, {}, 0, std::deque<int>(5, ECONNREFUSED), VDL_ERR_BT_CONNECT, 1,
                 5, repeated(3, 4)},
        Attempts{"no socket", {1}, 0, false, std::deque<int>(5, EAFNOSUPPORT), 0, {}, VDL_ERR_BT_CONNECT, 1, 0,
                 repeated(3, 4)},
        Attempts{"bind fails", {1}, 0, false, {}, EADDRNOTAVAIL, {}, VDL_ERR_BT_CONNECT, 1, 5, repeated(3, 4)},
        Attempts{"busy beyond the bound, then free", {1}, 0, false, {}, 0, std::deque<int>(kBusyTries, EBUSY), 1, 1,
                 2, kBusyWait + kRetry},
        Attempts{"busy for ever", {1}, 0, false, {}, 0, std::deque<int>(5 * kBusyTries, EBUSY), VDL_ERR_BT_CONNECT,
                 1, 5, kBusyWait + kRetry + kBusyWait + kRetry + kBusyWait + kRetry + kBusyWait + kRetry + kBusyWait}),
    [](const ::testing::TestParamInfo<Attempts> &info) { return "case" + std::to_string(info.index); });

TEST_F(BluetoothTest, SppConnectReportsEachStepAndReleasesTheSocket) {
    const VdlBluetoothAddress any{};
    const int before = openDescriptorCount();
    const struct {
        const VdlBluetoothAddress *local, *remote;
        int socketError, bindError, connectError, result;
    } steps[] = {{&any, &kPrinter, EMFILE, 0, 0, VDL_ERR_BT_SOCKET}, {&any, &kPrinter, 0, EADDRINUSE, 0, VDL_ERR_BT_BIND},
                 {&any, &kPrinter, 0, 0, ETIMEDOUT, VDL_ERR_BT_CONNECT}, {nullptr, &kPrinter, 0, 0, 0, VDL_ERR_BT_SOCKET},
                 {&any, nullptr, 0, 0, 0, VDL_ERR_BT_SOCKET}};
    for (const auto &step : steps) {
        bluetoothSockets().socketErrors = {step.socketError};
        bluetoothSockets().bindError = step.bindError;
        bluetoothSockets().connectErrors = {step.connectError};
        int fd = 42;
        EXPECT_EQ(spp_connect(step.local, step.remote, 1, &fd), step.result);
        EXPECT_EQ(fd, -1);
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(BluetoothTest, SdpSearchLeavesTheChannelAloneWhenItFindsNone) {
    uint8_t channel = 77;
    EXPECT_EQ(sdp_search_spp(nullptr, &channel), -1);
    EXPECT_TRUE(fakeBluez().calls.empty());  // BlueZ was not asked
    fakeBluez().records = {0, FakeBluez::kNoProtocolList};
    sdp_session_t *session = sdp_connect(nullptr, nullptr, 0);
    EXPECT_EQ(sdp_search_spp(reinterpret_cast<VdlSdpSession *>(session), &channel), -1);
    EXPECT_EQ(channel, 77);
    sdp_close(session);
}

}  // namespace
}  // namespace vdltest
