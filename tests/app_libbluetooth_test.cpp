// An application that links the shared library, built twice: without
// libbluetooth, and with the real libbluetooth (APP_LINKS_LIBBLUETOOTH).
// Either way the library loads and works over the other transports; a
// Bluetooth connect reaches BlueZ only when the application linked it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "VdlLabelAPI.h"
#include "fake_printer.h"
#include "interpose.h"

namespace vdltest {
namespace {

class Application : public ::testing::Test {
protected:
    void SetUp() override {
        resetPauses();
        resetBluetoothSockets();
        // No Bluetooth adapter, whatever this machine has: BlueZ's own
        // sockets are refused, so the outcome does not depend on radio.
        bluetoothSockets().socketErrors = {EAFNOSUPPORT};
    }
    void TearDown() override {
        gWriteLog = 0;  // a test that traced leaves no record behind it
        DisconnectPrinter();
    }
};

TEST_F(Application, WorksOverTcp) {
    FakePrinter printer;
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
    EXPECT_EQ(WriteBuffer("~S\r\n", 4), 4);
    EXPECT_EQ(printer.received(), "^PI0\r\n~S\r\n");
}

#ifndef APP_LINKS_LIBBLUETOOTH

// The address is still recognised (by the library's own parser), and the
// trace says why the connect fails.
TEST_F(Application, WithoutLibbluetoothABluetoothConnectFailsWithNoSdpConnection) {
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "sdp_connect"), nullptr) << "this program must not link libbluetooth";
    char directory[] = "/tmp/vdl-app-XXXXXX", previous[PATH_MAX];
    ASSERT_NE(mkdtemp(directory), nullptr);
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(directory), 0);
    std::ofstream("log.tmp").put('\n');

    EXPECT_EQ(ConnectToPrinter("00:11:22:33:44:55"), VDL_ERR_BT_SDP);
    EXPECT_TRUE(bluetoothSockets().sockets.empty());
    EXPECT_EQ(pauses(), std::vector<unsigned>{100});
    std::stringstream log;
    log << std::ifstream("log.txt").rdbuf();
    EXPECT_NE(log.str().find("] libbluetooth is not linked into the application.\n"), std::string::npos);
    EXPECT_NE(log.str().find("] Failed to sdp_connect().\n"), std::string::npos);
    ASSERT_EQ(chdir(previous), 0);
    std::filesystem::remove_all(directory);

    uint8_t channel = 9;
    EXPECT_EQ(sdp_search_spp(reinterpret_cast<VdlSdpSession *>(&channel), &channel), -1);
    EXPECT_EQ(channel, 9);
}

#else

TEST_F(Application, WithLibbluetoothABluetoothConnectReachesBlueZ) {
    ASSERT_NE(dlsym(RTLD_DEFAULT, "sdp_connect"), nullptr);
    EXPECT_EQ(ConnectToPrinter("00:11:22:33:44:55"), VDL_ERR_BT_SDP);
    // BlueZ's sdp_connect asked for its L2CAP socket.
    ASSERT_EQ(bluetoothSockets().sockets.size(), 1u);
    EXPECT_EQ(bluetoothSockets().sockets[0].type & ~SOCK_CLOEXEC, SOCK_SEQPACKET);
    EXPECT_EQ(bluetoothSockets().sockets[0].protocol, 0);  // BTPROTO_L2CAP
}

#endif

}  // namespace
}  // namespace vdltest
