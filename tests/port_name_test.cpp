#include <gtest/gtest.h>

#include <string>

#include "portName.h"

namespace {

using vdl::classifyPortName;
using vdl::PortName;

struct Classification {
    const char *name;
    vdl::InterfaceType type;
    const char *device;  // serial/parallel device; "" for a scan
    int baud;
};

void PrintTo(const Classification &c, std::ostream *os) { *os << '"' << c.name << '"'; }

class PortNameTest : public ::testing::TestWithParam<Classification> {};

TEST_P(PortNameTest, ClassifiesByTheFirstMatchingRule) {
    const Classification &c = GetParam();
    const PortName port = classifyPortName(c.name);
    EXPECT_EQ(port.type, c.type);
    if (c.type == vdl::kSerial || c.type == vdl::kParallel) {
        EXPECT_EQ(std::string(port.device), c.device);
    }
    if (c.type == vdl::kSerial) {
        EXPECT_EQ(port.baud, c.baud);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PortNameTest,
    ::testing::Values(Classification{"usb", vdl::kUsb, "", 0}, Classification{"USB", vdl::kUsb, "", 0},
                      Classification{"Usb001", vdl::kUsb, "", 0},
                      Classification{"USB:/dev/ttyS0:9600", vdl::kUsb, "", 0},
                      Classification{"/dev/ttyS1:115200", vdl::kSerial, "/dev/ttyS1", 115200},
                      Classification{"/DEV/TTYs2:4800", vdl::kSerial, "/DEV/TTYs2", 4800},
                      Classification{"SERIAL:9600", vdl::kSerial, "", 9600},
                      Classification{"serial7:19200", vdl::kSerial, "", 19200},
                      Classification{"/dev/ttyS0:abc", vdl::kSerial, "/dev/ttyS0", 0},
                      Classification{"/dev/ttyS0:9600:x", vdl::kSerial, "/dev/ttyS0", 9600},
                      Classification{"/dev/lp0", vdl::kParallel, "/dev/lp0", 0},
                      Classification{"/dev/lp0:9600", vdl::kParallel, "/dev/lp0:9600", 0},
                      Classification{"PARALLEL", vdl::kParallel, "", 0},
                      Classification{"parallel", vdl::kParallel, "", 0},
                      Classification{"00:11:22:aa:BB:cc", vdl::kBluetooth, "", 0},
                      Classification{"SERIAL", vdl::kNetwork, "", 0},
                      Classification{"/dev/ttyUSB0:9600", vdl::kNetwork, "", 0},
                      Classification{"", vdl::kNetwork, "", 0},
                      Classification{"00:11:22:33:44", vdl::kNetwork, "", 0},
                      Classification{"00:11:22:33:44:5G", vdl::kNetwork, "", 0},
                      Classification{"00-11-22-33-44-55", vdl::kNetwork, "", 0},
                      Classification{"192.168.0.10:9100", vdl::kNetwork, "", 0}));

struct NetworkName {
    std::string name;
    bool valid;
    const char *address;
    const char *port;
};

void PrintTo(const NetworkName &n, std::ostream *os) { *os << '"' << n.name.substr(0, 24) << '"'; }

class NetworkNameTest : public ::testing::TestWithParam<NetworkName> {};

TEST_P(NetworkNameTest, SplitsAtTheFirstColonAndNeedsADottedIPv4Address) {
    const NetworkName &n = GetParam();
    const PortName port = classifyPortName(n.name.c_str());
    ASSERT_EQ(port.type, vdl::kNetwork);
    EXPECT_EQ(port.valid, n.valid);
    if (n.valid) {
        EXPECT_STREQ(port.address, n.address);
        EXPECT_STREQ(port.port, n.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, NetworkNameTest,
    ::testing::Values(NetworkName{"192.168.0.10:9100", true, "192.168.0.10", "9100"},
                      NetworkName{"127.0.0.1:", true, "127.0.0.1", ""},
                      NetworkName{"127.0.0.1:91:00", true, "127.0.0.1", "91:00"},
                      NetworkName{"192.168.0.10", false, "", ""}, NetworkName{"localhost:9100", false, "", ""},
                      NetworkName{"::1:9100", false, "", ""}, NetworkName{"1.2.3:9100", false, "", ""},
                      // Only the first 64 characters take part: the port is cut there...
                      NetworkName{"10.0.0.1:" + std::string(80, '9'), true, "10.0.0.1", "9999999999999999999999"
                                                                                         "999999999999999999999999"
                                                                                         "999999999"},
                      // ...and a colon beyond them is not seen.
                      NetworkName{std::string(70, ' ') + ":9100", false, "", ""}));

TEST(BluetoothAddress, IsStoredLastGroupFirstAsBlueZDoes) {
    vdl::BluetoothAddress address{};
    ASSERT_TRUE(vdl::parseBluetoothAddress("01:23:45:67:89:aB", &address));
    const unsigned char expected[6] = {0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
    EXPECT_EQ(0, memcmp(address.b, expected, 6));
    for (const char *bad : {"01:23:45:67:89:AB:", "0123:45:67:89:AB", "01:23:45:67:89:A", "01:23:45:67:89;AB", ""})
        EXPECT_FALSE(vdl::parseBluetoothAddress(bad, &address)) << bad;
}

TEST(ReadDecimal, ReadsLikeAtoi) {
    const struct {
        const char *text;
        int value;
    } cases[] = {{"9600", 9600}, {"abc", 0}, {"", 0}, {"  42x", 42}, {"-7", -7}, {"+12", 12}, {"65537", 65537}};
    for (const auto &c : cases) EXPECT_EQ(vdl::readDecimal(c.text), c.value) << c.text;
}

}  // namespace
