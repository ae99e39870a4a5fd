// Text fields and their code-page conversion.
#include <functional>

#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

// Bytes from their hexadecimal spelling, "41 31 C7".
std::string hex(const char *spelled) {
    std::string bytes;
    for (const char *p = spelled; *p; p += p[2] ? 3 : 2) bytes += char(std::stoi(std::string(p, 2), nullptr, 16));
    return bytes;
}

using TextFieldTest = LibraryTest;

TEST_F(TextFieldTest, ConvertsTheTextToEachOfTheNineCodePages) {
    const struct {
        int codePage;
        const char *text;      // UTF-8
        const char *expected;  // the same text encoded by an independent encoder
    } cases[] = {{0, "A1 한글", "41 31 20 C7 D1 B1 DB"}, {1, "똠방", "8C 63 B9 E6"}, {2, "标签", "B1 EA C7 A9"},
                 {3, "标签", "B1 EA C7 A9"}, {4, "標籤", "BC D0 C5 D2"}, {5, "標籤", "BC D0 C5 D2"},
                 {6, "ラベル", "A5 E9 A5 D9 A5 EB"}, {7, "ラベル", "83 89 83 78 83 8B"}, {8, "ฉลาก", "A9 C5 D2 A1"},
                 // Every character doubles in GB18030: the output area is exactly full.
                 {3, "ÿßÿß", "81 30 8B 37 81 30 89 38 81 30 8B 37 81 30 89 38"}};
    for (const auto &c : cases) {
        initDataBuffer();
        ASSERT_EQ(PrintDeviceFontW(c.text, 10, 20, 'a', 1, 1, 0, 0, c.codePage), 0);
        EXPECT_EQ(buffered(), "T10,20,a,1,1,0,0,N,N,'" + hex(c.expected) + "'\r") << c.codePage;
    }
}

TEST_F(TextFieldTest, FailedConversionLeavesTheHeaderAloneAtTheEndOfTheBuffer) {
    const struct {
        const char *text;
        int codePage;
    } cases[] = {{"한", 2}, {"A\xFF", 0}, {"A\xE2\x82", 0}};  // no mapping, invalid, cut sequence
    for (const auto &c : cases) {
        initDataBuffer();
        ASSERT_EQ(PrintDeviceFont("X", 0, 0, 3, 1, 1, 0, 0), 0);
        EXPECT_EQ(PrintDeviceFontW(c.text, 1, 2, 'b', 1, 1, 0, 0, c.codePage), VDL_ERR_WRITE);
        EXPECT_EQ(buffered(), "T0,0,3,1,1,0,0,N,N,'X'\rT1,2,b,1,1,0,0,N,N,");
    }
}

struct Field {
    std::function<int()> call;
    std::string expected;
};

class FieldTest : public LibraryTest, public ::testing::WithParamInterface<Field> {};

TEST_P(FieldTest, NormalisesAndChoosesTheConversionByFont) {
    ASSERT_EQ(GetParam().call(), 0);
    EXPECT_EQ(buffered(), GetParam().expected);
}

Field device(int font, int h, int v, int rotation, unsigned char bold, const char *text, const std::string &bytes) {
    return {[=] { return PrintDeviceFont(text, -5, 7, font, h, v, rotation, bold); }, "T-5,7," + bytes + "'\r"};
}

Field vector(int font, unsigned char bold, unsigned char reverse, unsigned char italic, int rotation, int alignment,
             int direction, const char *text, const std::string &bytes) {
    return {[=] { return PrintVectorFont(text, 1, 2, font, 30, -40, 5, bold, reverse, italic, rotation, alignment,
                                         direction); },
            "V1,2," + bytes + "'\r"};
}

const int kMin = INT32_MIN;

// The fonts at the edges of their ranges; the emulator round trip decodes the
// typical ones.
INSTANTIATE_TEST_SUITE_P(
    DeviceFonts, FieldTest,
    ::testing::Values(device(0, 1, 1, 0, 0, "it's 1,5 'x'", "0,1,1,0,0,N,N,'it's 1,5 'x'"),
                      device(10, 0, 5, 4, 7, "A", "3,1,1,0,0,N,B,'A"), device(96, -1, 2, -1, 0, "A", "3,1,2,0,0,N,N,'A"),
                      device('f', 1, 1, 0, 0, "한", "f,1,1,0,0,N,N,'" + hex("C7 D1")),
                      device('l', 1, 1, 0, 0, "한", "l,1,1,0,0,N,N,'한"), device('a', 1, 1, 0, 0, nullptr, "a,1,1,0,0,N,N,'")));

INSTANTIATE_TEST_SUITE_P(
    VectorFonts, FieldTest,
    ::testing::Values(vector(2, 0, 9, 0, 3, 1, 1, "標", "B,30,-40,5,N,R,N,3,C,1,'" + hex("BC D0")),
                      vector(3, 0, 0, 1, 4, 2, 2, "标", "G,30,-40,5,N,N,I,0,R,0,'" + hex("B1 EA")),
                      vector(4, 0, 0, 0, -1, 3, -1, "印", "J,30,-40,5,N,N,N,0,L,0,'" + hex("88 F3")),
                      vector(0, 0, 0, 0, 0, 0, 0, "é", "U,30,-40,5,N,N,N,0,L,0,'é"),
                      Field{[] { return PrintVectorFont("", kMin, kMin, 1, kMin, kMin, kMin, 0, 0, 0, 0, 0, 0); },
                            "V-2147483648,-2147483648,K,-2147483648,-2147483648,-2147483648,N,N,N,0,L,0,''\r"}));

// A code page outside the table sends the text unconverted.
INSTANTIATE_TEST_SUITE_P(
    WideVariants, FieldTest,
    ::testing::Values(Field{[] { return PrintDeviceFontW("é'", 0, 0, 'a', 1, 1, 0, 0, 9); }, "T0,0,a,1,1,0,0,N,N,'é''\r"},
                      Field{[] { return PrintDeviceFontW("é", 0, 0, 'a', 1, 1, 0, 0, -1); }, "T0,0,a,1,1,0,0,N,N,'é'\r"},
                      Field{[] { return PrintVectorFontW("é", 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 6); },
                            "V0,0,U,1,1,0,N,N,N,0,L,0,'é'\r"},
                      Field{[] { return convertData("", 0, 0); }, "''\r"}));

}  // namespace
}  // namespace vdltest
