// The ZPL translator: the printer's bytes for each ZPL feature, and the
// errors of bad input, printed through VdlZplPrint to the fake printer.
// (VdlZplConvert's capture is the same printing; vdl-label convert runs it in
// the corpus test.)
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "VdlLabelAPI.h"
#include "VdlZpl.h"
#include "library_test.h"

namespace {

using vdltest::LibraryTest;

struct Converted {
    int result = 0;
    std::string bytes;
    std::vector<std::string> messages;
};

class ZplTest : public LibraryTest {
protected:
    Converted print(const std::string &zpl, unsigned flags = 0) {
        connectToFake();
        Converted c;
        c.result = VdlZplPrint(
            zpl.data(), zpl.size(), flags,
            [](void *context, int line, int column, const char *message) {
                static_cast<Converted *>(context)->messages.push_back(std::to_string(line) + ":" +
                                                                      std::to_string(column) + ": " + message);
            },
            &c);
        c.bytes = printer.received();
        return c;
    }
};

struct Row {
    const char *what;
    std::string zpl;
    std::string bytes;  // the whole stream the printer receives
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.what; }

class ZplBytes : public ZplTest, public ::testing::WithParamInterface<Row> {};

TEST_P(ZplBytes, AreThePrintersOwnCommands) {
    const Converted c = print(GetParam().zpl);
    EXPECT_GE(c.result, 0) << ::testing::PrintToString(c.messages);
    EXPECT_EQ(c.bytes, GetParam().bytes) << ::testing::PrintToString(c.messages);
}

INSTANTIATE_TEST_SUITE_P(
    Features, ZplBytes,
    ::testing::Values(
        Row{"scalable font at its origin", "^XA^FO10,20^A0N,30,20^FDHi^FS^XZ", "V10,20,U,20,30,0,N,N,N,0,L,0,'Hi'\rP1,1\r"},
        Row{"bitmap font D magnified twice", "^XA^FO0,0^ADN,36^FDx^FS^XZ", "V0,0,U,20,36,0,N,N,N,0,L,0,'x'\rP1,1\r"},
        Row{"label home and baseline", "^XA^LH5,7^FT10,100^A0N,30,30^FDx^FS^XZ", "V15,77,U,30,30,0,N,N,N,0,L,0,'x'\rP1,1\r"},
        Row{"rotated R: anchored at the box's top right", "^XA^FO100,50^A0R,30,30^FDAB^FS^XZ",
            "V130,50,U,30,30,0,N,N,N,1,L,0,'AB'\rP1,1\r"},
        Row{"rotated B by the field default", "^XA^FWB^FO100,50^A0,30,30^FDAB^FS^XZ",
            "V100,86,U,30,30,0,N,N,N,3,L,0,'AB'\rP1,1\r"},
        Row{"box, filled block, white block, reversed block",
            "^XA^FO10,10^GB100,50,3^FS^FO0,0^GB20,20,20^FS^FO0,0^GB20,20,20,W^FS^FO0,0^FR^GB20,20,20^FS^XZ",
            "BD10,10,109,59,B,3\rBD0,0,19,19,O\rBD0,0,19,19,D\rBD0,0,19,19,E\rP1,1\r"},
        Row{"diagonal leaning right", "^XA^FO0,0^GD50,40,2,B,R^FS^XZ", "BD1,38,48,1,S,2\rP1,1\r"},
        Row{"Code 128 with bar defaults", "^XA^BY3,2.5,80^FO10,10^BCN,,N^FDAB12^FS^XZ",
            "B110,10,1,3,25,80,0,0,'AB12'\rP1,1\r"},
        Row{"GS1-128 from FNC1", "^XA^FO0,0^BCN,50,Y^FD>;>80109501101530003>810AB^FS^XZ",
            "B10,0,9,2,30,50,0,1,'(01)09501101530003(10)AB'\rP1,1\r"},
        Row{"Codabar start and stop", "^XA^FO0,0^BKN,N,40,N,N,B,C^FD123^FS^XZ", "B10,0,3,2,30,40,0,0,'B123C'\rP1,1\r"},
        Row{"QR with its level from the data", "^XA^FO5,5^BQN,2,3^FDHA,hello^FS^XZ", "B25,5,Q,2,H,3,0,'hello'\rP1,1\r"},
        Row{"copies", "^XA^FO0,0^A0N,20^FDx^FS^PQ3^XZ", "V0,0,U,20,20,0,N,N,N,0,L,0,'x'\rP3,1\r"},
        Row{"serial numbers: one label a copy", "^XA^FO0,0^A0N,20^SN007,2^FS^PQ2^XZ",
            "V0,0,U,20,20,0,N,N,N,0,L,0,'007'\rP1,1\rV0,0,U,20,20,0,N,N,N,0,L,0,'009'\rP1,1\r"},
        Row{"hex escapes and Windows-1252", "^XA^CI27^FO0,0^A0N,20^FH^FD_E9t_E9^FS^XZ",
            "V0,0,U,20,20,0,N,N,N,0,L,0,'\xC3\xA9t\xC3\xA9'\rP1,1\r"},
        Row{"a format recalled with its fields",
            "^XA^DFR:F.ZPL^FS^FO0,0^A0N,20^FN1^FS^XZ^XA^XFR:F.ZPL^FS^FN1^FDfilled^FS^XZ",
            "V0,0,U,20,20,0,N,N,N,0,L,0,'filled'\rP1,1\r"},
        Row{"block wrapped and centred", "^XA^FO0,0^A0N,20,20^FB100,3,5,C^FDone two three four^FS^XZ",
            "V50,0,U,20,20,0,N,N,N,0,C,0,'one two'\rV50,25,U,20,20,0,N,N,N,0,C,0,'three'\rV50,50,U,20,20,0,N,N,N,0,C,0,'four'\rP1,1\r"},
        Row{"a label of settings only prints nothing", "^XA^MD5^XZ", "SD13\r"}));

struct BadRow {
    const char *what;
    std::string zpl;
    int code;
    std::string message;  // the ending message begins so
    unsigned flags = 0;
};

void PrintTo(const BadRow &r, std::ostream *os) { *os << r.what; }

class ZplBadInput : public ZplTest, public ::testing::WithParamInterface<BadRow> {};

TEST_P(ZplBadInput, EndsWithAnErrorNamingThePlace) {
    const Converted c = print(GetParam().zpl, GetParam().flags);
    EXPECT_EQ(c.result, GetParam().code);
    EXPECT_TRUE(c.bytes.empty());
    ASSERT_FALSE(c.messages.empty());
    EXPECT_EQ(c.messages.back().rfind(GetParam().message, 0), 0u) << c.messages.back();
}

std::string deflatedZeros(std::size_t count) {
    std::string zeros(count, '\0'), out(compressBound(uLong(count)), '\0');
    uLongf length = uLongf(out.size());
    compress(reinterpret_cast<Bytef *>(&out[0]), &length, reinterpret_cast<const Bytef *>(zeros.data()), uLong(count));
    out.resize(length);
    static const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < out.size(); i += 3) {
        const unsigned v = unsigned(uint8_t(out[i])) << 16 | (i + 1 < out.size() ? unsigned(uint8_t(out[i + 1])) << 8 : 0) |
                           (i + 2 < out.size() ? unsigned(uint8_t(out[i + 2])) : 0);
        text += alphabet[v >> 18];
        text += alphabet[(v >> 12) & 63];
        text += i + 1 < out.size() ? alphabet[(v >> 6) & 63] : '=';
        text += i + 2 < out.size() ? alphabet[v & 63] : '=';
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ZplBadInput,
    ::testing::Values(
        BadRow{"a label without its end", "^XA\n^FO0,0^FDx^FS", VDL_ZPL_ERR_SYNTAX, "1:1: the label begun here has no ^XZ"},
        BadRow{"a graphic past the bound", "^XA^FO0,0^GFA,99999999,99999999,1,00^FS^XZ", VDL_ZPL_ERR_SYNTAX, "1:10: ^GF: it declares"},
        BadRow{"a deflate bomb", "^XA^FO0,0^GFA,100,100,10,:Z64:" + deflatedZeros(8 << 20) + "^FS^XZ", VDL_ZPL_ERR_SYNTAX,
               "1:10: ^GF: its deflated data"},
        BadRow{"a graphic whose CRC is wrong", "^XA^FO0,0^GFA,8,8,1,:B64:/4GBgYGBgf8=:0000^FS^XZ", VDL_ZPL_ERR_SYNTAX,
               "1:10: ^GF: its CRC"},
        BadRow{"a format recalling itself", "^XA^DFR:L.ZPL^FS^XFR:L.ZPL^FS^XZ^XA^XFR:L.ZPL^FS^XZ", VDL_ZPL_ERR_LIMIT,
               "1:17: ^XF formats recalled"},
        BadRow{"serial copies past the bound, refused before any prints", "^XA^FO0,0^A0N,20^SN1^FS^PQ20000^XZ",
               VDL_ZPL_ERR_LIMIT, "1:1: ^SN fields make each of its 20000 copies a label of its own"},
        BadRow{"field data longer than a command line", "^XA^FO0,0^A0N,20^FD" + std::string(4000, 'a') + "^FS^XZ",
               VDL_ZPL_ERR_LIMIT, "1:17: ^FD data of 4000 bytes"},
        BadRow{"strict: a command without counterpart", "^XA\n^FO0,0^A0N,20^FDx^FS\n^HH^XZ", VDL_ZPL_ERR_STRICT,
               "3:1: ^HH is not supported; skipped; refused (strict)", VDL_ZPL_STRICT}));

TEST_F(ZplTest, WarningsNameTheCommandAndItsPlaceAndTheRestPrints) {
    const Converted c = print("^XA\n^FO0,0^A0N,20^FDx^FS\n  ^HH^FO0,0^GE100,40,2^FS^XZ");
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.messages, (std::vector<std::string>{"3:3: ^HH is not supported; skipped",
                                                    "3:12: ^GE ellipse of 100 x 40 is printed as a box"}));
    EXPECT_EQ(c.bytes, "V0,0,U,20,20,0,N,N,N,0,L,0,'x'\rBD0,0,99,39,B,2\rP1,1\r");
    // The input's bytes a message quotes are shown printable.
    EXPECT_EQ(print("^XA^\x01\xff^XZ").messages, std::vector<std::string>{"1:4: ^?? is not supported; skipped"});
}

TEST_F(ZplTest, GraphicsInEveryEncodingGiveTheSameBitmap) {
    // One picture of two rows, its second byte a caret: binary data is taken by its count, not by its prefixes.
    const std::string hex = print("^XA^FO3,4^GFA,4,4,2,FF5E8001^FS^XZ").bytes;
    EXPECT_EQ(hex.rfind("LCR", 0), 0u) << hex;
    // Sent at once, a bitmap goes after what the label put in the buffer before it, as it came.
    EXPECT_EQ(print("^XA^FO0,0^GB20,20,20,W^FS^FO3,4^GFA,4,4,2,FF5E8001^FS^XZ").bytes, "BD0,0,19,19,D\r" + hex);
    static const char binary[] = "^XA^FO3,4^GFB,4,4,2,\xFF^\x80\x01^FS^XZ";  // a NUL-free picture, so sizeof works
    for (const std::string &zpl : {std::string(binary, sizeof binary - 1),
                                   std::string("^XA^FO3,4^GFA,4,4,2,\nFF5E\r\n8001^FS^XZ"),
                                   std::string("^XA~DGR:TWO.GRF,4,2,FF5E8001^FO3,4^XGR:TWO.GRF^FS^XZ")})
        EXPECT_EQ(print(zpl).bytes, hex) << zpl;
}

TEST_F(ZplTest, FormatsStoredInOneCallAreRecalledInTheNext) {
    ASSERT_EQ(print("^XA^DFR:KEPT.ZPL^FS^FO0,0^A0N,20^FN1^FS^XZ").result, 0);
    EXPECT_EQ(print("^XA^XFR:KEPT.ZPL^FS^FN1^FDlater^FS^XZ").bytes, "V0,0,U,20,20,0,N,N,N,0,L,0,'later'\rP1,1\r");
}

TEST_F(ZplTest, RefusesNullArgumentsAndConvertingWhileConnected) {
    unsigned char *stream = nullptr;
    std::size_t length = 0;
    connectToFake();
    EXPECT_EQ(VdlZplConvert("^XA^XZ", 6, 0, &stream, &length, nullptr, nullptr), VDL_ZPL_ERR_BUSY);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(VdlZplConvert(nullptr, 0, 0, &stream, &length, nullptr, nullptr), VDL_ZPL_ERR_ARGUMENT);
    EXPECT_EQ(VdlZplConvert("^XA^XZ", 6, 0, nullptr, &length, nullptr, nullptr), VDL_ZPL_ERR_ARGUMENT);
    EXPECT_EQ(VdlZplPrint(nullptr, 0, 0, nullptr, nullptr), VDL_ZPL_ERR_ARGUMENT);
    EXPECT_EQ(VdlZplPrint("^XA^XZ", 6, 2, nullptr, nullptr), VDL_ZPL_ERR_ARGUMENT);
    // A check prints nothing, and counts the labels that would print.
    const std::string two = "^XA^FO0,0^GB9,9,9^FS^XZ^XA^MD3^XZ^XA^FO0,0^GB9,9,9^FS^PQ4^XZ";
    printer.clearReceived();
    EXPECT_EQ(VdlZplCheck(two.data(), two.size(), 0, nullptr, nullptr), 2);
    EXPECT_EQ(VdlZplCheck("^XA^FO0,0", 9, 0, nullptr, nullptr), VDL_ZPL_ERR_SYNTAX);
    EXPECT_EQ(printer.received(), "");
    DisconnectPrinter();
    EXPECT_EQ(VdlZplPrint("^XA^XZ", 6, 0, nullptr, nullptr), VDL_ZPL_ERR_NOT_CONNECTED);
    EXPECT_STREQ(VdlZplErrorText(VDL_ZPL_ERR_BUSY), "the process is connected to a printer; disconnect before converting");
    EXPECT_STREQ(VdlZplErrorText(VDL_ERR_WRITE), "the printer did not take the whole command, or a text could not be converted");
}

TEST(ZplDetect, KnowsZplByItsFirstCommand) {
    for (const auto &[text, zpl] : std::vector<std::pair<std::string, int>>{
             {"^XA^XZ", 1}, {"\xEF\xBB\xBF  \r\n~DGR:A,1,1,00", 1}, {"^xa", 1}, {"^FX made by", 1},
             {"T10,20,3,1,1,0,0,N,N,'x'\r", 0}, {"^PI0\r\nSW812\r", 0}, {"~JC\r", 0}, {"^cu\r", 0}, {"BM\x36", 0},
             {"^X", 0}, {"", 0}})
        EXPECT_EQ(VdlZplDetect(text.data(), text.size()), zpl) << text;
}

}  // namespace
