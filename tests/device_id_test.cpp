// The IEEE 1284 device ID of USB printers: the two fields the probe needs.
#include <gtest/gtest.h>

#include <string>

#include "deviceId.h"

namespace {

struct IdCase {
    const char *what;
    std::string text;
    std::string manufacturer;
    std::string model;
};

void PrintTo(const IdCase &c, std::ostream *os) { *os << c.what; }

class DeviceIdTest : public ::testing::TestWithParam<IdCase> {};

TEST_P(DeviceIdTest, ExtractsManufacturerAndModel) {
    const IdCase &c = GetParam();
    const vdl::DeviceId id = vdl::parseDeviceId(c.text);
    EXPECT_EQ(id.manufacturer, c.manufacturer);
    EXPECT_EQ(id.model, c.model);
}

const std::string k70(70, 'x');

INSTANTIATE_TEST_SUITE_P(
    Fields, DeviceIdTest,
    ::testing::Values(
        IdCase{"short keys", "MFG:VELDRIN;CMD:VPL;MDL:VRL-408;CLS:PRINTER;", "VELDRIN", "VRL-408"},
        IdCase{"long keys", "MANUFACTURER:VELDRIN;COMMAND SET:VPL;MODEL:VRL-408;", "VELDRIN", "VRL-408"},
        IdCase{"short key wins over long key", "MANUFACTURER:OTHER;MFG:VELDRIN;MODEL:X;MDL:VRL-408;", "VELDRIN",
               "VRL-408"},
        IdCase{"value runs to the end without ';'", "MDL:VRL-408;MFG:VELDRIN", "VELDRIN", "VRL-408"},
        IdCase{"missing keys are empty", "CLS:PRINTER;", "", ""}, IdCase{"empty text", "", "", ""},
        IdCase{"empty values", "MFG:;MDL:;", "", ""},
        IdCase{"keys are case-sensitive", "mfg:VELDRIN;mdl:VRL-408;", "", ""},
        IdCase{"values keep their case and blanks", "MFG:veldrin ;MDL: vrl-408;", "veldrin ", " vrl-408"},
        IdCase{"values are cut to 63 characters", "MFG:" + k70 + ";MDL:" + k70, k70.substr(0, 63),
               k70.substr(0, 63)},
        IdCase{"a key found inside another field", "DES:MDL:VRL-408;MFG:VELDRIN;", "VELDRIN", "VRL-408"}),
    [](const ::testing::TestParamInfo<IdCase> &info) { return "case" + std::to_string(info.index); });

TEST(DeviceIdText, FollowsTheLengthPrefixUpToTheFirstNul) {
    unsigned char area[16] = {0, 9, 'M', 'F', 'G', ':', 'V', ';', 0, 'x'};
    EXPECT_EQ(vdl::deviceIdText(area, sizeof area), "MFG:V;");
}

TEST(DeviceIdText, StopsAtTheEndOfAnAreaWithoutNul) {
    unsigned char area[6] = {0, 6, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(vdl::deviceIdText(area, sizeof area), "abcd");
    EXPECT_EQ(vdl::deviceIdText(area, 2), "");
}

}  // namespace
