#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "portName.h"

namespace {

using namespace vdl;

struct Classification {
    std::string name;
    InterfaceType type;
    std::string device;  // serial, parallel: the device ("" for a scan); network: the address ("" when invalid)
    std::string detail;  // serial: the baud rate; network: the port text
};

class PortNameTest : public ::testing::TestWithParam<Classification> {};

TEST_P(PortNameTest, ClassifiesByTheFirstMatchingRule) {
    const Classification &c = GetParam();
    const PortName port = classifyPortName(c.name.c_str());
    ASSERT_EQ(port.type, c.type);
    if (c.type == kSerial) { EXPECT_EQ(std::to_string(port.baud), c.detail); }
    if (c.type == kSerial || c.type == kParallel) { EXPECT_EQ(std::string(port.device), c.device); }
    if (c.type != kNetwork) return;
    EXPECT_EQ(port.valid, !c.device.empty());
    if (port.valid) { EXPECT_EQ(std::string(port.address) + "|" + port.port, c.device + "|" + c.detail); }
}

const std::string k80Nines(80, '9');

INSTANTIATE_TEST_SUITE_P(
    Rules, PortNameTest,
    ::testing::Values(Classification{"Usb001", kUsb, "", ""}, Classification{"USB:/dev/ttyS0:9600", kUsb, "", ""},
                      Classification{"/DEV/TTYs2:4800", kSerial, "/DEV/TTYs2", "4800"},
                      Classification{"serial7:19200", kSerial, "", "19200"},
                      Classification{"/dev/ttyS0:abc", kSerial, "/dev/ttyS0", "0"},
                      Classification{"/dev/ttyS0:9600:x", kSerial, "/dev/ttyS0", "9600"},
                      Classification{"/dev/lp0:9600", kParallel, "/dev/lp0:9600", ""},
                      Classification{"parallel", kParallel, "", ""},
                      Classification{"00:11:22:aa:BB:cc", kBluetooth, "", ""},
                      Classification{"SERIAL", kNetwork, "", ""}, Classification{"/dev/ttyUSB0:9600", kNetwork, "", ""},
                      Classification{"00:11:22:33:44", kNetwork, "", ""},
                      Classification{"00:11:22:33:44:5G", kNetwork, "", ""},
                      Classification{"00-11-22-33-44-55", kNetwork, "", ""},
                      Classification{"127.0.0.1:91:00", kNetwork, "127.0.0.1", "91:00"},
                      Classification{"127.0.0.1:", kNetwork, "127.0.0.1", ""},
                      Classification{"localhost:9100", kNetwork, "", ""}, Classification{"1.2.3:9100", kNetwork, "", ""},
                      // Only the first 64 characters take part: the port is cut there, and a
                      // colon beyond them is not seen.
                      Classification{"10.0.0.1:" + k80Nines, kNetwork, "10.0.0.1", k80Nines.substr(0, 55)},
                      Classification{std::string(70, ' ') + ":9100", kNetwork, "", ""}));

TEST(BluetoothAddress, IsStoredLastGroupFirstAsBlueZDoes) {
    BluetoothAddress address{};
    ASSERT_TRUE(parseBluetoothAddress("01:23:45:67:89:aB", &address));
    const unsigned char expected[6] = {0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
    EXPECT_EQ(0, std::memcmp(address.b, expected, 6));
    for (const char *bad : {"01:23:45:67:89:AB:", "0123:45:67:89:AB", "01:23:45:67:89:A", "01:23:45:67:89;AB", "01:23:45:67:89:AG"})
        EXPECT_FALSE(parseBluetoothAddress(bad, &address)) << bad;
}

TEST(ReadDecimal, ReadsLikeAtoi) {
    EXPECT_EQ(readDecimal("  -42x"), -42);
    EXPECT_EQ(readDecimal("+12"), 12);
}

}  // namespace
