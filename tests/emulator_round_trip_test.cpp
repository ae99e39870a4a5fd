// Library -> bytes -> emulator: for every operation, the fields the
// emulator decodes are the call's arguments after the library's
// normalisation, and nothing is left over or misread.
#include <algorithm>
#include <functional>

#include "library_test.h"
#include "parser.h"

namespace vdltest {
namespace {

struct RoundTrip {
    const char *what;
    std::function<int()> call;
    // Each command as its letters (and symbology) and its field values in
    // order (a letter field by the value it stands for, texts in quotes),
    // " | " between commands.
    std::string expected;
    int fallbackCodePage = -1;  // the emulator's --code-page
};

void PrintTo(const RoundTrip &r, std::ostream *os) { *os << r.what; }

std::string decodedValues(const std::string &bytes, int fallbackCodePage) {
    vdlemu::ParserOptions options;
    options.fallbackCodePage = fallbackCodePage;
    vdlemu::Parser parser(options);
    parser.feed(bytes.data(), bytes.size());
    std::string values;
    vdlemu::Command c;
    for (bool more = parser.next(c) || parser.finish(c); more; more = parser.next(c) || parser.finish(c)) {
        values += (values.empty() ? "" : " | ") + c.code + (c.symbology != 0 ? std::string(" ") + c.symbology : "");
        if (c.outcome != vdlemu::Outcome::Decoded) values += " not decoded: " + c.problem;
        for (const vdlemu::Field &f : c.fields)
            values += " " + (f.kind == vdlemu::FieldKind::Text ? "'" + f.text + "'" : std::to_string(f.number));
    }
    return values;
}

class RoundTripTest : public LibraryTest, public ::testing::WithParamInterface<RoundTrip> {};

// Direct commands reach the fake printer at once; content waits in the
// command buffer. Both go to the emulator's parser.
TEST_P(RoundTripTest, EmulatorDecodesTheNormalisedArguments) {
    connectToFake();
    ASSERT_GE(GetParam().call(), 0);
    EXPECT_EQ(decodedValues(printer.received() + buffered(), GetParam().fallbackCodePage), GetParam().expected);
}

const int kMin = INT32_MIN;
const int kMax = INT32_MAX;

INSTANTIATE_TEST_SUITE_P(
    Library, RoundTripTest,
    ::testing::Values(
        RoundTrip{"print", [] { return Prints(1, 1); }, "P 1 1"},
        RoundTrip{"clear buffer", [] { return ClearBuffer(); }, "CB"},
        RoundTrip{"raw write", [] { return WriteBuffer("SS3\r", 4); }, "SS 3"},
        RoundTrip{"direct io", [] { return DirectIO("SD5\r", 4, nullptr, nullptr); }, "SD 5"},
        RoundTrip{"status query", [] { return CheckPrinterStatus(); }, "^cu"},
        RoundTrip{"device font out of range", [] { return PrintDeviceFont("A'B", -5, kMin, 111, 0, 5, 4, 7); }, "T -5 -2147483648 3 1 1 0 1 'A'B'"},
        RoundTrip{"device font a in EUC-KR", [] { return PrintDeviceFont("한국어 라벨", 1, 2, 'a', 2, 3, 1, 1); }, "T 1 2 97 2 3 1 1 '한국어 라벨'"},
        RoundTrip{"device font m in GB18030", [] { return PrintDeviceFont("中文标签", 1, 2, 'm', 1, 1, 0, 0); }, "T 1 2 109 1 1 0 0 '中文标签'"},
        RoundTrip{"device font g as given", [] { return PrintDeviceFont("Grüße", 1, 2, 'g', 1, 1, 0, 0); }, "T 1 2 103 1 1 0 0 'Grüße'"},
        RoundTrip{"device font W in EUC-KR", [] { return PrintDeviceFontW("한글", 1, 2, 'b', 1, 1, 0, 0, VDL_CP_EUC_KR); }, "T 1 2 98 1 1 0 0 '한글'"},
        RoundTrip{"device font W in CP932 read with the code-page option",
                  [] { return PrintDeviceFontW("日本語", 1, 2, 'h', 1, 1, 0, 0, VDL_CP_CP932); }, "T 1 2 104 1 1 0 0 '日本語'", VDL_CP_CP932},
        RoundTrip{"vector", [] { return PrintVectorFont("ABC", 10, 20, 0, 30, 40, 0, 0, 0, 0, 0, 1, 0); }, "V 10 20 0 30 40 0 0 0 0 0 1 0 'ABC'"},
        RoundTrip{"vector flags and ranges", [] { return PrintVectorFont("a,b", -1, 2, 7, kMin, kMax, -3, 9, 1, 255, 4, 3, 2); },
                  "V -1 2 0 -2147483648 2147483647 -3 1 1 1 0 0 0 'a,b'"},
        RoundTrip{"vector K in EUC-KR", [] { return PrintVectorFont("배송지", 1, 2, 1, 30, 30, 0, 0, 0, 0, 0, 0, 0); },
                  "V 1 2 1 30 30 0 0 0 0 0 0 0 '배송지'"},
        RoundTrip{"vector right vertical", [] { return PrintVectorFont("R", 1, 2, 6, 3, 4, 5, 0, 0, 0, 3, 2, 1); }, "V 1 2 6 3 4 5 0 0 0 3 2 1 'R'"},
        RoundTrip{"vector J in CP932", [] { return PrintVectorFont("お届け先", 1, 2, 4, 30, 30, 0, 0, 0, 0, 0, 0, 0); },
                  "V 1 2 4 30 30 0 0 0 0 0 0 0 'お届け先'"},
        RoundTrip{"vector W in CP874 read with the code-page option",
                  [] { return PrintVectorFontW("ภาษาไทย", 1, 2, 7, 30, 30, 0, 0, 0, 0, 0, 0, 0, VDL_CP_CP874); },
                  "V 1 2 0 30 30 0 0 0 0 0 0 0 'ภาษาไทย'", VDL_CP_CP874},
        RoundTrip{"vector W U never converts", [] { return PrintVectorFontW("Ünïcode", 1, 2, 0, 30, 30, 0, 0, 0, 0, 0, 0, 0, VDL_CP_BIG5); },
                  "V 1 2 0 30 30 0 0 0 0 0 0 0 'Ünïcode'"},
        RoundTrip{"block O drops its value", [] { return PrintBlock(10, 10, 200, 100, 0, 7); }, "BD 10 10 200 100 0"},
        RoundTrip{"block S", [] { return PrintBlock(10, 10, 200, 100, 3, -7); }, "BD 10 10 200 100 3 -7"},
        RoundTrip{"widest block", [] { return PrintBlock(kMin, kMin, kMin, kMin, 4, kMin); },
                  "BD -2147483648 -2147483648 -2147483648 -2147483648 4 -2147483648"},
        RoundTrip{"circle out of range", [] { return PrintCircle(50, 60, 0, 9); }, "CD 50 60 2 1"},
        RoundTrip{"linear example", [] { return Print1DBarcode("12345", 50, 100, 20, 2, 4, 80, 5, 1); }, "B1 50 100 1 2 4 80 0 1 '12345'"},
        RoundTrip{"MaxiCode", [] { return PrintMaxiCode("M", 1, 2, 1); }, "B2 M 1 2 0 'M'"},
        RoundTrip{"PDF417 outside", [] { return PrintPDF417("P", 1, 2, 91, 0, 9, 3, 0, 5, 1, 3, 4); }, "B2 P 1 2 30 5 0 0 0 1 3 10 0 'P'"},
        RoundTrip{"QR example", [] { return PrintQRCode("HELLO", 1, 2, 3, 2, 0, 1); }, "B2 Q 1 2 1 2 4 1 'HELLO'"},
        RoundTrip{"Data Matrix rectangular", [] { return PrintDataMatrix("D", 1, 2, 4, 1, 2); }, "B2 D 1 2 4 1 2 'D'"},
        RoundTrip{"Aztec", [] { return PrintAztec("A", 1, 2, 0, 2, 301, 2, 27, kMin, 5); }, "B2 A 1 2 2 0 0 1 15 -2147483648 0 'A'"},
        RoundTrip{"Code 49", [] { return PrintCode49("C", 1, 2, kMin, -1, 99, 3, 8, 2); }, "B2 F 1 2 -2147483648 -1 99 0 0 2 'C'"},
        RoundTrip{"CODABLOCK example", [] { return PrintCODABLOCK("ABC", 1, 2, 1, 2, 3, 1, 70, 0, 25); }, "B2 C 1 2 1 2 3 1 30 0 10 'ABC'"},
        RoundTrip{"MicroPDF", [] { return PrintMicroPDF("m", 1, 2, 1, 100, 34, 9); }, "B2 B 1 2 5 50 0 0 'm'"},
        RoundTrip{"GS1 DataBar", [] { return PrintGS1DataBar("g", 1, 2, 6, 0, 3, kMin, 7, 0); }, "B3 R 1 2 5 1 1 -2147483648 6 0 'g'"},
        RoundTrip{"reset", [] { return ResetPrinter(); }, "~JR"},
        RoundTrip{"speed above", [] { return SetSpeed(15); }, "SS 12"},
        RoundTrip{"density", [] { return SetDensity(25); }, "SD 20"},
        RoundTrip{"orientation other", [] { return SetOrientation(88); }, "SO 84"},
        RoundTrip{"cutter off keeps no period", [] { return SetCutter(0, 5); }, "CUT 0"},
        RoundTrip{"cutter period", [] { return SetCutter(9, -3); }, "CUT 1 -3"},
        RoundTrip{"rewinder", [] { return SetRewinder(2); }, "RWD 1"},
        RoundTrip{"offset", [] { return SetOffset(-150); }, "SA -100"},
        RoundTrip{"cut position", [] { return SetCutPostion(101); }, "TA 100"},
        RoundTrip{"printing type d", [] { return SetPrintingType(2); }, "ST 0"},
        RoundTrip{"back feed", [] { return SetBackFeed(7); }, "SF 1"},
        RoundTrip{"paper", [] { return SetPaper(800, 600, 2, 0, 24); }, "SL 600 24 2 0 | SW 800"},
        RoundTrip{"margin", [] { return SetMargin(kMin, kMax); }, "SM -2147483648 2147483647"},
        RoundTrip{"character set", [] { return SetCharacterSet(16, 300); }, "CS 0 0"},
        RoundTrip{"RFID setup", [] { return SetupRFID(9, 0, 7, 31); }, ">RFS 5 1 5 30"},
        RoundTrip{"RFID position", [] { return SetRFIDPosition(-7); }, ">RFTP -7"},
        RoundTrip{"EPC structure", [] { return SetEPCDataStructure(-3, "96,8,3,3,20,24"); }, ">RFES -3 '96,8,3,3,20,24'"},
        RoundTrip{"RFID write H", [] { return WriteRFID(2, 0, 99, "0A1B2C"); }, ">RFW 2 0 3 '0A1B2C'"},
        RoundTrip{"RFID write E", [] { return WriteRFID(4, 5, 6, "ABC"); }, ">RFW 4 'ABC'"},
        RoundTrip{"RFID password", [] { return SetRFIDPassword("a1", "b2", "c3", "d4"); }, ">RFZ 'a1' 'b2' 'c3' 'd4'"},
        RoundTrip{"RFID unlock", [] { return UnlockRFID(); }, ">RFU"},
        RoundTrip{"label in sending order",
                  [] { return std::min({SetSpeed(4), PrintDeviceFont("TOP", 1, 2, 3, 1, 1, 0, 0), PrintQRCode("Q", 3, 4, 2, 1, 4, 0), Prints(1, 1)}); },
                  "SS 4 | T 1 2 3 1 1 0 0 'TOP' | B2 Q 3 4 2 1 4 0 'Q' | P 1 1"}));

}  // namespace
}  // namespace vdltest
