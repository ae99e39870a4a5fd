// The IEEE 1284 device ID of USB printers: the two fields the probe needs.
#include <gtest/gtest.h>

#include <string>

#include "deviceId.h"

namespace {

TEST(DeviceId, ExtractsManufacturerAndModel) {
    const std::string k70(70, 'x');
    const struct {
        std::string text, manufacturer, model;
    } cases[] = {
        {"MANUFACTURER:VELDRIN;COMMAND SET:VPL;MODEL:VRL-408;", "VELDRIN", "VRL-408"},
        {"MANUFACTURER:OTHER;MFG:VELDRIN;MODEL:X;MDL:VRL-408;", "VELDRIN", "VRL-408"},  // the short key wins
        {"MDL:VRL-408;MFG:VELDRIN", "VELDRIN", "VRL-408"},  // a value runs to the end without ';'
        {"CLS:PRINTER;mfg:VELDRIN;", "", ""},               // keys are case-sensitive
        {"MFG:veldrin ;MDL: vrl-408;", "veldrin ", " vrl-408"},
        {"MFG:" + k70 + ";MDL:" + k70, k70.substr(0, 63), k70.substr(0, 63)},
        {"DES:MDL:VRL-408;MFG:VELDRIN;", "VELDRIN", "VRL-408"},  // a key found inside another field
    };
    for (const auto &c : cases) {
        const vdl::DeviceId id = vdl::parseDeviceId(c.text);
        EXPECT_EQ(id.manufacturer, c.manufacturer) << c.text;
        EXPECT_EQ(id.model, c.model) << c.text;
    }
}

TEST(DeviceIdText, FollowsTheLengthPrefixUpToTheFirstNulOrTheAreaEnd) {
    unsigned char area[16] = {0, 9, 'M', 'F', 'G', ':', 'V', ';', 0, 'x'};
    EXPECT_EQ(vdl::deviceIdText(area, sizeof area), "MFG:V;");
    unsigned char full[6] = {0, 6, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(vdl::deviceIdText(full, sizeof full), "abcd");
    EXPECT_EQ(vdl::deviceIdText(full, 2), "");
}

}  // namespace
