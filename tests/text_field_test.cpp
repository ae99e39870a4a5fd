// Text fields and their code-page conversion.
#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

// Bytes from their hexadecimal spelling, "41 31 C7".
std::string hex(const char *spelled) {
    std::string bytes;
    for (const char *p = spelled; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes += char(std::stoi(std::string(p, 2), nullptr, 16));
        p += 2;
    }
    return bytes;
}

using TextFieldTest = LibraryTest;

struct CodePageCase {
    int codePage;
    const char *text;      // UTF-8
    const char *expected;  // the same text encoded by an independent encoder
};

void PrintTo(const CodePageCase &c, std::ostream *os) { *os << "code page " << c.codePage; }

class CodePageTest : public LibraryTest, public ::testing::WithParamInterface<CodePageCase> {};

TEST_P(CodePageTest, ConvertsTheTextAndAppendsItAsTheDataPart) {
    const CodePageCase &c = GetParam();
    ASSERT_EQ(PrintDeviceFontW(c.text, 10, 20, 'a', 1, 1, 0, 0, c.codePage), 0);
    EXPECT_EQ(buffered(), "T10,20,a,1,1,0,0,N,N,'" + hex(c.expected) + "'\r");
}

INSTANTIATE_TEST_SUITE_P(
    NineCodePages, CodePageTest,
    ::testing::Values(CodePageCase{0, "A1 한글 라벨", "41 31 20 C7 D1 B1 DB 20 B6 F3 BA A7"},
                      CodePageCase{1, "A1 똠방각하", "41 31 20 8C 63 B9 E6 B0 A2 C7 CF"},
                      CodePageCase{2, "A1 标签打印", "41 31 20 B1 EA C7 A9 B4 F2 D3 A1"},
                      CodePageCase{3, "A1 标签打印", "41 31 20 B1 EA C7 A9 B4 F2 D3 A1"},
                      CodePageCase{4, "A1 標籤列印", "41 31 20 BC D0 C5 D2 A6 43 A6 4C"},
                      CodePageCase{5, "A1 標籤列印", "41 31 20 BC D0 C5 D2 A6 43 A6 4C"},
                      CodePageCase{6, "A1 ラベル印刷", "41 31 20 A5 E9 A5 D9 A5 EB B0 F5 BA FE"},
                      CodePageCase{7, "A1 ラベル印刷", "41 31 20 83 89 83 78 83 8B 88 F3 8D FC"},
                      CodePageCase{8, "A1 ฉลาก", "41 31 20 A9 C5 D2 A1"},
                      // Every character doubles in GB18030: the output area is exactly full.
                      CodePageCase{3, "ÿßÿß", "81 30 8B 37 81 30 89 38 81 30 8B 37 81 30 89 38"}));

struct FailedConversion {
    const char *what;
    const char *text;
    int codePage;
};

void PrintTo(const FailedConversion &f, std::ostream *os) { *os << f.what; }

class FailedConversionTest : public LibraryTest, public ::testing::WithParamInterface<FailedConversion> {};

TEST_P(FailedConversionTest, LeavesTheHeaderAloneAtTheEndOfTheBuffer) {
    const FailedConversion &f = GetParam();
    ASSERT_EQ(PrintDeviceFont("X", 0, 0, 3, 1, 1, 0, 0), 0);
    EXPECT_EQ(PrintDeviceFontW(f.text, 1, 2, 'b', 1, 1, 0, 0, f.codePage), VDL_ERR_WRITE);
    EXPECT_EQ(buffered(), "T0,0,3,1,1,0,0,N,N,'X'\rT1,2,b,1,1,0,0,N,N,");
}

INSTANTIATE_TEST_SUITE_P(Failures, FailedConversionTest,
                         ::testing::Values(FailedConversion{"no mapping", "한", 2},
                                           FailedConversion{"invalid UTF-8", "A\xFF", 0},
                                           FailedConversion{"cut sequence", "A\xE2\x82", 0}));

TEST_F(TextFieldTest, CodePageOutsideTheTableSendsTheTextUnconverted) {
    for (int codePage : {9, -1}) {
        initDataBuffer();
        EXPECT_EQ(PrintDeviceFontW("é'", 0, 0, 'a', 1, 1, 0, 0, codePage), 0);
        EXPECT_EQ(buffered(), "T0,0,a,1,1,0,0,N,N,'é''\r");
    }
    initDataBuffer();
    EXPECT_EQ(convertData("", 0, 0), 0);
    EXPECT_EQ(buffered(), "''\r");
}

TEST_F(TextFieldTest, WorkedExamples) {
    ASSERT_EQ(PrintDeviceFont("ABC", 10, 20, 3, 1, 1, 0, 0), 0);
    ASSERT_EQ(PrintVectorFont("ABC", 10, 20, 0, 30, 40, 0, 0, 0, 0, 0, 1, 0), 0);
    EXPECT_EQ(buffered(), "T10,20,3,1,1,0,0,N,N,'ABC'\rV10,20,U,30,40,0,N,N,N,0,C,0,'ABC'\r");
}

struct DeviceFontCase {
    int font, horizontal, vertical, rotation;
    unsigned char bold;
    const char *text;
    std::string expected;
};

class DeviceFontTest : public LibraryTest, public ::testing::WithParamInterface<DeviceFontCase> {};

TEST_P(DeviceFontTest, NormalisesAndChoosesTheConversionByFont) {
    const DeviceFontCase &c = GetParam();
    ASSERT_EQ(PrintDeviceFont(c.text, -5, 7, c.font, c.horizontal, c.vertical, c.rotation, c.bold), 0);
    EXPECT_EQ(buffered(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, DeviceFontTest,
    ::testing::Values(DeviceFontCase{0, 1, 1, 0, 0, "A", "T-5,7,0,1,1,0,0,N,N,'A'\r"},
                      DeviceFontCase{9, 4, 4, 3, 1, "A", "T-5,7,9,4,4,0,3,N,B,'A'\r"},
                      DeviceFontCase{10, 0, 5, 4, 7, "A", "T-5,7,3,1,1,0,0,N,B,'A'\r"},
                      DeviceFontCase{96, -1, 2, -1, 0, "A", "T-5,7,3,1,2,0,0,N,N,'A'\r"},
                      DeviceFontCase{111, 1, 1, 0, 0, "A", "T-5,7,3,1,1,0,0,N,N,'A'\r"},
                      DeviceFontCase{'a', 1, 1, 0, 0, "한", "T-5,7,a,1,1,0,0,N,N,'" + hex("C7 D1") + "'\r"},
                      DeviceFontCase{'f', 1, 1, 0, 0, "한", "T-5,7,f,1,1,0,0,N,N,'" + hex("C7 D1") + "'\r"},
                      DeviceFontCase{'g', 1, 1, 0, 0, "한", "T-5,7,g,1,1,0,0,N,N,'한'\r"},
                      DeviceFontCase{'l', 1, 1, 0, 0, "한", "T-5,7,l,1,1,0,0,N,N,'한'\r"},
                      DeviceFontCase{'m', 1, 1, 0, 0, "标", "T-5,7,m,1,1,0,0,N,N,'" + hex("B1 EA") + "'\r"},
                      DeviceFontCase{'n', 1, 1, 0, 0, "標", "T-5,7,n,1,1,0,0,N,N,'" + hex("BC D0") + "'\r"}),
    [](const ::testing::TestParamInfo<DeviceFontCase> &info) { return "font" + std::to_string(info.param.font); });

struct VectorFontCase {
    int font;
    unsigned char bold, reverse, italic;
    int rotation, alignment, direction;
    const char *text;
    std::string expected;
};

class VectorFontTest : public LibraryTest, public ::testing::WithParamInterface<VectorFontCase> {};

TEST_P(VectorFontTest, NormalisesAndChoosesTheConversionByFont) {
    const VectorFontCase &c = GetParam();
    ASSERT_EQ(PrintVectorFont(c.text, 1, 2, c.font, 30, -40, 5, c.bold, c.reverse, c.italic, c.rotation,
                              c.alignment, c.direction),
              0);
    EXPECT_EQ(buffered(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, VectorFontTest,
    ::testing::Values(
        VectorFontCase{1, 1, 0, 0, 0, 0, 0, "한", "V1,2,K,30,-40,5,B,N,N,0,L,0,'" + hex("C7 D1") + "'\r"},
        VectorFontCase{2, 0, 9, 0, 3, 1, 1, "標", "V1,2,B,30,-40,5,N,R,N,3,C,1,'" + hex("BC D0") + "'\r"},
        VectorFontCase{3, 0, 0, 1, 4, 2, 2, "标", "V1,2,G,30,-40,5,N,N,I,0,R,0,'" + hex("B1 EA") + "'\r"},
        VectorFontCase{4, 0, 0, 0, -1, 3, -1, "印", "V1,2,J,30,-40,5,N,N,N,0,L,0,'" + hex("88 F3") + "'\r"},
        VectorFontCase{5, 0, 0, 0, 0, 0, 0, "é", "V1,2,a,30,-40,5,N,N,N,0,L,0,'é'\r"},
        VectorFontCase{6, 0, 0, 0, 0, 0, 0, "é", "V1,2,b,30,-40,5,N,N,N,0,L,0,'é'\r"},
        VectorFontCase{7, 0, 0, 0, 0, 0, 0, "é", "V1,2,U,30,-40,5,N,N,N,0,L,0,'é'\r"},
        VectorFontCase{0, 0, 0, 0, 0, 0, 0, "é", "V1,2,U,30,-40,5,N,N,N,0,L,0,'é'\r"}),
    [](const ::testing::TestParamInfo<VectorFontCase> &info) { return "font" + std::to_string(info.param.font); });

TEST_F(TextFieldTest, WideVariantsConvertWithTheCallersCodePage) {
    // A digit device font never converts; a letter font always does.
    ASSERT_EQ(PrintDeviceFontW("é", 0, 0, 2, 1, 1, 0, 0, VDL_CP_CP949), 0);
    ASSERT_EQ(PrintDeviceFontW("한", 0, 0, 'g', 1, 1, 0, 0, VDL_CP_CP949), 0);
    // Vector font 0 never converts; any other, "U" fonts included, does.
    ASSERT_EQ(PrintVectorFontW("é", 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, VDL_CP_EUC_JP), 0);
    ASSERT_EQ(PrintVectorFontW("印", 0, 0, 7, 1, 1, 0, 0, 0, 0, 0, 0, 0, VDL_CP_EUC_JP), 0);
    EXPECT_EQ(buffered(), "T0,0,2,1,1,0,0,N,N,'é'\r"
                          "T0,0,g,1,1,0,0,N,N,'" + hex("C7 D1") + "'\r"
                          "V0,0,U,1,1,0,N,N,N,0,L,0,'é'\r"
                          "V0,0,U,1,1,0,N,N,N,0,L,0,'" + hex("B0 F5") + "'\r");
}

TEST_F(TextFieldTest, WidestVectorHeaderIsWrittenWhole) {
    const int m = INT32_MIN;
    ASSERT_EQ(PrintVectorFont("", m, m, 1, m, m, m, 0, 0, 0, 0, 0, 0), 0);
    const std::string header = "V-2147483648,-2147483648,K,-2147483648,-2147483648,-2147483648,N,N,N,0,L,0,";
    EXPECT_EQ(header.size(), 75u);
    EXPECT_EQ(buffered(), header + "''\r");
}

TEST_F(TextFieldTest, QuotesAndCommasInTheTextAreCopiedAsTheyAre) {
    ASSERT_EQ(PrintDeviceFont("it's 1,5 'x'", 0, 0, 3, 1, 1, 0, 0), 0);
    EXPECT_EQ(buffered(), "T0,0,3,1,1,0,0,N,N,'it's 1,5 'x''\r");
}

TEST_F(TextFieldTest, NullTextIsAnEmptyField) {
    ASSERT_EQ(PrintDeviceFont(nullptr, 0, 0, 3, 1, 1, 0, 0), 0);
    ASSERT_EQ(PrintDeviceFontW(nullptr, 0, 0, 'a', 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(buffered(), "T0,0,3,1,1,0,0,N,N,''\rT0,0,a,1,1,0,0,N,N,''\r");
}

TEST_F(TextFieldTest, LongConvertedTextPassesThroughTheBufferInOrder) {
    connectToFake();
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "한";  // 60000 bytes of UTF-8, 40000 in EUC-KR
    std::string converted;
    for (int i = 0; i < 20000; ++i) converted += hex("C7 D1");

    ASSERT_EQ(PrintDeviceFont("first", 0, 0, 3, 1, 1, 0, 0), 0);
    ASSERT_EQ(PrintDeviceFont(text.c_str(), 0, 0, 'a', 1, 1, 0, 0), 0);
    EXPECT_TRUE(sameBytes(printer.received() + buffered(),
                          "T0,0,3,1,1,0,0,N,N,'first'\rT0,0,a,1,1,0,0,N,N,'" + converted + "'\r"));
    EXPECT_LT(gDataIndex, 3584u);
}

}  // namespace
}  // namespace vdltest
