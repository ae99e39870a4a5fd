// Library -> bytes -> emulator: for every operation, the fields the
// emulator decodes are the call's arguments after the library's
// normalisation, and nothing is left over or misread.
#include <functional>

#include "library_test.h"
#include "parser.h"

namespace vdltest {
namespace {

struct Value {
    const char *name;
    int64_t number = 0;
    std::string text;
    bool isText = false;
};

Value num(const char *name, int64_t number) { return Value{name, number, {}, false}; }
Value txt(const char *name, std::string text) { return Value{name, 0, std::move(text), true}; }

struct Expected {
    std::string code;
    std::vector<Value> fields;
};

struct RoundTrip {
    const char *what;
    std::function<int()> call;
    std::vector<Expected> commands;
    int fallbackCodePage = -1;  // the emulator's --code-page
};

void PrintTo(const RoundTrip &r, std::ostream *os) { *os << r.what; }

std::vector<vdlemu::Command> decodeAll(const std::string &bytes, int fallbackCodePage) {
    vdlemu::ParserOptions options;
    options.fallbackCodePage = fallbackCodePage;
    vdlemu::Parser parser(options);
    parser.feed(bytes.data(), bytes.size());
    std::vector<vdlemu::Command> commands;
    vdlemu::Command command;
    while (parser.next(command)) commands.push_back(command);
    if (parser.finish(command)) commands.push_back(command);
    return commands;
}

::testing::AssertionResult sameFields(const vdlemu::Command &actual, const Expected &expected) {
    if (actual.outcome != vdlemu::Outcome::Decoded)
        return ::testing::AssertionFailure() << actual.code << " not decoded: " << actual.problem;
    if (actual.code != expected.code)
        return ::testing::AssertionFailure() << "command " << actual.code << ", expected " << expected.code;
    if (actual.fields.size() != expected.fields.size())
        return ::testing::AssertionFailure() << actual.fields.size() << " fields, expected " << expected.fields.size();
    for (std::size_t i = 0; i < expected.fields.size(); ++i) {
        const vdlemu::Field &field = actual.fields[i];
        const Value &want = expected.fields[i];
        if (field.name != want.name)
            return ::testing::AssertionFailure() << "field " << i << " is " << field.name << ", expected " << want.name;
        if (want.isText ? field.text != want.text : field.number != want.number)
            return ::testing::AssertionFailure() << field.name << " = " << (want.isText ? field.text : std::to_string(field.number))
                                                 << ", expected " << (want.isText ? want.text : std::to_string(want.number));
    }
    return ::testing::AssertionSuccess();
}

class RoundTripTest : public LibraryTest, public ::testing::WithParamInterface<RoundTrip> {};

// Direct commands reach the fake printer at once; content waits in the
// command buffer. Both go to the emulator's parser.
TEST_P(RoundTripTest, EmulatorDecodesTheNormalisedArguments) {
    connectToFake();
    const RoundTrip &r = GetParam();
    ASSERT_GE(r.call(), 0);
    const std::vector<vdlemu::Command> commands = decodeAll(printer.received() + buffered(), r.fallbackCodePage);
    ASSERT_EQ(commands.size(), r.commands.size());
    for (std::size_t i = 0; i < commands.size(); ++i) EXPECT_TRUE(sameFields(commands[i], r.commands[i])) << "command " << i;
}

std::string caseName(const ::testing::TestParamInfo<RoundTrip> &info) {
    std::string name;
    for (const char *c = info.param.what; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

const int kMin = INT32_MIN;
const int kMax = INT32_MAX;

// The device-font fields in order, text last.
Expected deviceText(int64_t x, int64_t y, int64_t font, int64_t h, int64_t v, int64_t rotation, int64_t bold,
                    std::string text) {
    return {"T", {num("x", x), num("y", y), num("font", font), num("horizontalMultiplier", h),
                  num("verticalMultiplier", v), num("rotation", rotation), num("bold", bold), txt("text", std::move(text))}};
}

Expected vectorText(int64_t font, std::vector<int64_t> numbers, std::string text) {
    // numbers: x y width height spacing bold reverse italic rotation alignment direction
    const char *names[] = {"x", "y", "width", "height", "spacing", "bold", "reverse", "italic", "rotation", "alignment", "direction"};
    Expected e{"V", {}};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i == 2) e.fields.push_back(num("font", font));
        e.fields.push_back(num(names[i], numbers[i]));
    }
    e.fields.push_back(txt("text", std::move(text)));
    return e;
}

INSTANTIATE_TEST_SUITE_P(
    JobCommands, RoundTripTest,
    ::testing::Values(
        RoundTrip{"print", [] { return Prints(1, 1); }, {{"P", {num("first", 1), num("second", 1)}}}},
        RoundTrip{"clear buffer", [] { return ClearBuffer(); }, {{"CB", {}}}},
        RoundTrip{"raw write", [] { return WriteBuffer("SS3\r", 4); }, {{"SS", {num("speed", 3)}}}},
        RoundTrip{"direct io without reply", [] { return DirectIO("SD5\r", 4, nullptr, nullptr); },
                  {{"SD", {num("density", 5)}}}},
        RoundTrip{"status query", [] { return CheckPrinterStatus(); }, {{"^cu", {}}}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Text, RoundTripTest,
    ::testing::Values(
        RoundTrip{"device font", [] { return PrintDeviceFont("ABC", 10, 20, 3, 1, 1, 0, 0); },
                  {deviceText(10, 20, 3, 1, 1, 0, 0, "ABC")}},
        RoundTrip{"device font out of range", [] { return PrintDeviceFont("A'B", -5, kMin, 111, 0, 5, 4, 7); },
                  {deviceText(-5, kMin, 3, 1, 1, 0, 1, "A'B")}},
        RoundTrip{"device font at the bounds", [] { return PrintDeviceFont("x", 0, 0, 9, 4, 4, 3, 1); },
                  {deviceText(0, 0, 9, 4, 4, 3, 1, "x")}},
        RoundTrip{"device font a in EUC-KR", [] { return PrintDeviceFont("한국어 라벨", 1, 2, 'a', 2, 3, 1, 1); },
                  {deviceText(1, 2, 'a', 2, 3, 1, 1, "한국어 라벨")}},
        RoundTrip{"device font m in GB18030", [] { return PrintDeviceFont("中文标签", 1, 2, 'm', 1, 1, 0, 0); },
                  {deviceText(1, 2, 'm', 1, 1, 0, 0, "中文标签")}},
        RoundTrip{"device font n in BIG5", [] { return PrintDeviceFont("中文標籤", 1, 2, 'n', 1, 1, 0, 0); },
                  {deviceText(1, 2, 'n', 1, 1, 0, 0, "中文標籤")}},
        RoundTrip{"device font g as given", [] { return PrintDeviceFont("Grüße", 1, 2, 'g', 1, 1, 0, 0); },
                  {deviceText(1, 2, 'g', 1, 1, 0, 0, "Grüße")}},
        RoundTrip{"device font W in EUC-KR", [] { return PrintDeviceFontW("한글", 1, 2, 'b', 1, 1, 0, 0, VDL_CP_EUC_KR); },
                  {deviceText(1, 2, 'b', 1, 1, 0, 0, "한글")}},
        RoundTrip{"device font W digit never converts", [] { return PrintDeviceFontW("Ab", 1, 2, 2, 1, 1, 0, 0, VDL_CP_CP932); },
                  {deviceText(1, 2, 2, 1, 1, 0, 0, "Ab")}},
        RoundTrip{"device font W in CP932 read with the code-page option",
                  [] { return PrintDeviceFontW("日本語", 1, 2, 'h', 1, 1, 0, 0, VDL_CP_CP932); },
                  {deviceText(1, 2, 'h', 1, 1, 0, 0, "日本語")},
                  VDL_CP_CP932},
        RoundTrip{"vector font", [] { return PrintVectorFont("ABC", 10, 20, 0, 30, 40, 0, 0, 0, 0, 0, 1, 0); },
                  {vectorText(0, {10, 20, 30, 40, 0, 0, 0, 0, 0, 1, 0}, "ABC")}},
        RoundTrip{"vector font flags and ranges",
                  [] { return PrintVectorFont("a,b", -1, 2, 7, kMin, kMax, -3, 9, 1, 255, 4, 3, 2); },
                  {vectorText(0, {-1, 2, kMin, kMax, -3, 1, 1, 1, 0, 0, 0}, "a,b")}},
        RoundTrip{"vector font right vertical", [] { return PrintVectorFont("R", 1, 2, 5, 3, 4, 5, 0, 0, 0, 3, 2, 1); },
                  {vectorText(5, {1, 2, 3, 4, 5, 0, 0, 0, 3, 2, 1}, "R")}},
        RoundTrip{"vector font b", [] { return PrintVectorFont("mono", 1, 2, 6, 3, 4, 5, 0, 0, 0, 0, 0, 0); },
                  {vectorText(6, {1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0}, "mono")}},
        RoundTrip{"vector font K in EUC-KR", [] { return PrintVectorFont("배송지", 1, 2, 1, 30, 30, 0, 0, 0, 0, 0, 0, 0); },
                  {vectorText(1, {1, 2, 30, 30, 0, 0, 0, 0, 0, 0, 0}, "배송지")}},
        RoundTrip{"vector font B in BIG5", [] { return PrintVectorFont("臺灣", 1, 2, 2, 30, 30, 0, 0, 0, 0, 0, 0, 0); },
                  {vectorText(2, {1, 2, 30, 30, 0, 0, 0, 0, 0, 0, 0}, "臺灣")}},
        RoundTrip{"vector font G in GB18030", [] { return PrintVectorFont("收件人", 1, 2, 3, 30, 30, 0, 0, 0, 0, 0, 0, 0); },
                  {vectorText(3, {1, 2, 30, 30, 0, 0, 0, 0, 0, 0, 0}, "收件人")}},
        RoundTrip{"vector font J in CP932", [] { return PrintVectorFont("お届け先", 1, 2, 4, 30, 30, 0, 0, 0, 0, 0, 0, 0); },
                  {vectorText(4, {1, 2, 30, 30, 0, 0, 0, 0, 0, 0, 0}, "お届け先")}},
        RoundTrip{"vector font W in CP874 read with the code-page option",
                  [] { return PrintVectorFontW("ภาษาไทย", 1, 2, 7, 30, 30, 0, 0, 0, 0, 0, 0, 0, VDL_CP_CP874); },
                  {vectorText(0, {1, 2, 30, 30, 0, 0, 0, 0, 0, 0, 0}, "ภาษาไทย")},
                  VDL_CP_CP874},
        RoundTrip{"vector font W U never converts",
                  [] { return PrintVectorFontW("Ünïcode", 1, 2, 0, 30, 30, 0, 0, 0, 0, 0, 0, 0, VDL_CP_BIG5); },
                  {vectorText(0, {1, 2, 30, 30, 0, 0, 0, 0, 0, 0, 0}, "Ünïcode")}}),
    caseName);

Expected blockOf(int64_t option, std::vector<Value> extra = {}) {
    Expected e{"BD", {num("x1", 10), num("y1", 10), num("x2", 200), num("y2", 100), num("option", option)}};
    for (Value &v : extra) e.fields.push_back(v);
    return e;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, RoundTripTest,
    ::testing::Values(
        RoundTrip{"block O drops its value", [] { return PrintBlock(10, 10, 200, 100, 0, 7); }, {blockOf(0)}},
        RoundTrip{"block E", [] { return PrintBlock(10, 10, 200, 100, 1, 7); }, {blockOf(1)}},
        RoundTrip{"block D", [] { return PrintBlock(10, 10, 200, 100, 2, 7); }, {blockOf(2)}},
        RoundTrip{"block S", [] { return PrintBlock(10, 10, 200, 100, 3, -7); }, {blockOf(3, {num("optionValue", -7)})}},
        RoundTrip{"block B", [] { return PrintBlock(10, 10, 200, 100, 4, 3); }, {blockOf(4, {num("optionValue", 3)})}},
        RoundTrip{"widest block", [] { return PrintBlock(kMin, kMin, kMin, kMin, 4, kMin); },
                  {{"BD", {num("x1", kMin), num("y1", kMin), num("x2", kMin), num("y2", kMin), num("option", 4),
                           num("optionValue", kMin)}}}},
        RoundTrip{"circle out of range", [] { return PrintCircle(50, 60, 0, 9); },
                  {{"CD", {num("x", 50), num("y", 60), num("size", 2), num("multiplier", 1)}}}},
        RoundTrip{"circle at the bounds", [] { return PrintCircle(-1, 0, 6, 4); },
                  {{"CD", {num("x", -1), num("y", 0), num("size", 6), num("multiplier", 4)}}}}),
    caseName);

Expected linear(std::vector<int64_t> n, std::string data) {
    const char *names[] = {"x", "y", "barcodeType", "field4", "field5", "field6", "rotation", "field8"};
    Expected e{"B1", {}};
    for (std::size_t i = 0; i < n.size(); ++i) e.fields.push_back(num(names[i], n[i]));
    e.fields.push_back(txt("data", std::move(data)));
    return e;
}

// x, y, then the symbology's fields by name, then the data.
Expected symbol(const char *code, std::vector<Value> fields, std::string data) {
    Expected e{code, {num("x", 1), num("y", 2)}};
    for (Value &v : fields) e.fields.push_back(v);
    e.fields.push_back(txt("data", std::move(data)));
    return e;
}

INSTANTIATE_TEST_SUITE_P(
    Barcodes, RoundTripTest,
    ::testing::Values(
        RoundTrip{"linear example", [] { return Print1DBarcode("12345", 50, 100, 20, 2, 4, 80, 5, 1); },
                  {linear({50, 100, 1, 2, 4, 80, 0, 1}, "12345")}},
        RoundTrip{"linear at the bounds", [] { return Print1DBarcode("", -5, 0, 16, kMin, kMax, -1, 3, 8); },
                  {linear({-5, 0, 16, kMin, kMax, -1, 3, 8}, "")}},
        RoundTrip{"linear outside", [] { return Print1DBarcode("A'B,C", 0, 0, -1, 0, 0, 0, -1, 9); },
                  {linear({0, 0, 1, 0, 0, 0, 0, 0}, "A'B,C")}},
        RoundTrip{"MaxiCode", [] { return PrintMaxiCode("M", 1, 2, 1); }, {symbol("B2", {num("mode", 0)}, "M")}},
        RoundTrip{"PDF417 in range", [] { return PrintPDF417("P", 1, 2, 3, 30, 8, 2, 5, 0, 9, 99, 3); },
                  {symbol("B2",
                          {num("rows", 3), num("columns", 30), num("eccLevel", 8), num("field7", 2), num("field8", 1),
                           num("field9", 0), num("field10", 9), num("field11", 99), num("rotation", 3)},
                          "P")}},
        RoundTrip{"PDF417 outside", [] { return PrintPDF417("P", 1, 2, 91, 0, 9, 3, 0, 5, 1, 3, 4); },
                  {symbol("B2",
                          {num("rows", 30), num("columns", 5), num("eccLevel", 0), num("field7", 0), num("field8", 0),
                           num("field9", 1), num("field10", 3), num("field11", 10), num("rotation", 0)},
                          "P")}},
        RoundTrip{"QR example", [] { return PrintQRCode("HELLO", 1, 2, 3, 2, 0, 1); },
                  {symbol("B2", {num("model", 1), num("eccLevel", 2), num("field6", 4), num("rotation", 1)}, "HELLO")}},
        RoundTrip{"QR level H", [] { return PrintQRCode("", 1, 2, 2, 3, 1, 3); },
                  {symbol("B2", {num("model", 2), num("eccLevel", 3), num("field6", 1), num("rotation", 3)}, "")}},
        RoundTrip{"Data Matrix rectangular", [] { return PrintDataMatrix("D", 1, 2, 4, 1, 2); },
                  {symbol("B2", {num("field4", 4), num("field5", 1), num("rotation", 2)}, "D")}},
        RoundTrip{"Data Matrix square", [] { return PrintDataMatrix("D", 1, 2, 5, 0, 9); },
                  {symbol("B2", {num("field4", 2), num("field5", 0), num("rotation", 0)}, "D")}},
        RoundTrip{"Aztec", [] { return PrintAztec("A", 1, 2, 0, 2, 301, 2, 27, kMin, 5); },
                  {symbol("B2",
                          {num("field4", 2), num("field5", 0), num("field6", 0), num("field7", 1), num("field8", 15),
                           num("field9", kMin), num("rotation", 0)},
                          "A")}},
        RoundTrip{"Code 49", [] { return PrintCode49("C", 1, 2, kMin, -1, 99, 3, 8, 2); },
                  {symbol("B2",
                          {num("field4", kMin), num("field5", -1), num("field6", 99), num("field7", 0), num("field8", 0),
                           num("rotation", 2)},
                          "C")}},
        RoundTrip{"CODABLOCK example", [] { return PrintCODABLOCK("ABC", 1, 2, 1, 2, 3, 1, 70, 0, 25); },
                  {symbol("B2",
                          {num("field4", 1), num("field5", 2), num("field6", 3), num("field7", 1), num("field8", 30),
                           num("mode", 0), num("field10", 10)},
                          "ABC")}},
        RoundTrip{"CODABLOCK F", [] { return PrintCODABLOCK("", 1, 2, 0, 0, 0, 0, 2, 2, 5); },
                  {symbol("B2",
                          {num("field4", 0), num("field5", 0), num("field6", 0), num("field7", 0), num("field8", 2),
                           num("mode", 2), num("field10", 3)},
                          "")}},
        RoundTrip{"MicroPDF", [] { return PrintMicroPDF("m", 1, 2, 1, 100, 34, 9); },
                  {symbol("B2", {num("field4", 5), num("field5", 50), num("field6", 0), num("rotation", 0)}, "m")}},
        RoundTrip{"GS1 DataBar", [] { return PrintGS1DataBar("g", 1, 2, 6, 0, 3, kMin, 7, 0); },
                  {symbol("B3",
                          {num("field4", 5), num("field5", 1), num("field6", 1), num("field7", kMin), num("segments", 6),
                           num("rotation", 0)},
                          "g")}},
        RoundTrip{"GS1 DataBar segments 22", [] { return PrintGS1DataBar("g", 1, 2, 0, 10, 2, 5, 22, 3); },
                  {symbol("B3",
                          {num("field4", 0), num("field5", 10), num("field6", 2), num("field7", 5), num("segments", 22),
                           num("rotation", 3)},
                          "g")}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Control, RoundTripTest,
    ::testing::Values(
        RoundTrip{"initialize", [] { return InitializePrinter(); }, {{"@", {}}}},
        RoundTrip{"calibrate", [] { return CalibrateMedia(); }, {{"~JC", {}}}},
        RoundTrip{"reset", [] { return ResetPrinter(); }, {{"~JR", {}}}},
        RoundTrip{"feed", [] { return FeedOneLabel(); }, {{"~PH", {}}}},
        RoundTrip{"speed above", [] { return SetSpeed(15); }, {{"SS", {num("speed", 12)}}}},
        RoundTrip{"density", [] { return SetDensity(25); }, {{"SD", {num("density", 20)}}}},
        RoundTrip{"orientation other", [] { return SetOrientation(88); }, {{"SO", {num("orientation", 84)}}}},
        RoundTrip{"orientation B", [] { return SetOrientation(66); }, {{"SO", {num("orientation", 66)}}}},
        RoundTrip{"cutter on", [] { return SetCutter(1, 0); }, {{"CUT", {num("autoCut", 1)}}}},
        RoundTrip{"cutter off keeps no period", [] { return SetCutter(0, 5); }, {{"CUT", {num("autoCut", 0)}}}},
        RoundTrip{"cutter period", [] { return SetCutter(9, -3); }, {{"CUT", {num("autoCut", 1), num("cutPeriod", -3)}}}},
        RoundTrip{"rewinder on", [] { return SetRewinder(2); }, {{"RWD", {num("rewind", 1)}}}},
        RoundTrip{"rewinder off", [] { return SetRewinder(0); }, {{"RWD", {num("rewind", 0)}}}},
        RoundTrip{"offset", [] { return SetOffset(-150); }, {{"SA", {num("offset", -100)}}}},
        RoundTrip{"cut position", [] { return SetCutPostion(101); }, {{"TA", {num("cutPosition", 100)}}}},
        RoundTrip{"printing type t", [] { return SetPrintingType(1); }, {{"ST", {num("printingType", 1)}}}},
        RoundTrip{"printing type d", [] { return SetPrintingType(2); }, {{"ST", {num("printingType", 0)}}}},
        RoundTrip{"back feed", [] { return SetBackFeed(7); }, {{"SF", {num("backFeeding", 1)}}}},
        RoundTrip{"paper", [] { return SetPaper(800, 600, 2, 0, 24); },
                  {{"SL", {num("paperHeight", 600), num("gapLength", 24), num("mediaType", 2), num("offset", 0)}},
                   {"SW", {num("paperWidth", 800)}}}},
        RoundTrip{"paper other media", [] { return SetPaper(kMin, -1, 9, kMax, -2); },
                  {{"SL", {num("paperHeight", -1), num("gapLength", -2), num("mediaType", 0), num("offset", kMax)}},
                   {"SW", {num("paperWidth", kMin)}}}},
        RoundTrip{"margin", [] { return SetMargin(kMin, kMax); },
                  {{"SM", {num("horizontalMargin", kMin), num("verticalMargin", kMax)}}}},
        RoundTrip{"character set", [] { return SetCharacterSet(16, 300); },
                  {{"CS", {num("characterSet", 0), num("codeTable", 0)}}}},
        RoundTrip{"character set at the bounds", [] { return SetCharacterSet(15, 255); },
                  {{"CS", {num("characterSet", 15), num("codeTable", 255)}}}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Rfid, RoundTripTest,
    ::testing::Values(
        RoundTrip{"setup", [] { return SetupRFID(9, 0, 7, 31); },
                  {{">RFS", {num("field1", 5), num("field2", 1), num("field3", 5), num("field4", 30)}}}},
        RoundTrip{"calibrate", [] { return CalibrateRFID(); }, {{">RFCP", {}}}},
        RoundTrip{"position", [] { return SetRFIDPosition(-7); }, {{">RFTP", {num("position", -7)}}}},
        RoundTrip{"EPC structure", [] { return SetEPCDataStructure(-3, "96,8,3,3,20,24"); },
                  {{">RFES", {num("field1", -3), txt("structure", "96,8,3,3,20,24")}}}},
        RoundTrip{"write H", [] { return WriteRFID(2, 0, 99, "0A1B2C"); },
                  {{">RFW", {num("type", 2), num("field2", 0), num("length", 3), txt("data", "0A1B2C")}}}},
        RoundTrip{"write A", [] { return WriteRFID(1, 0, 99, "AB'CD"); },
                  {{">RFW", {num("type", 1), num("field2", 0), num("length", 99), txt("data", "AB'CD")}}}},
        RoundTrip{"write E", [] { return WriteRFID(4, 5, 6, "ABC"); }, {{">RFW", {num("type", 4), txt("data", "ABC")}}}},
        RoundTrip{"write other type sends nothing", [] { return WriteRFID(5, 0, 0, "X"); }, {}},
        RoundTrip{"password", [] { return SetRFIDPassword("a1", "b2", "c3", "d4"); },
                  {{">RFZ", {txt("part1", "a1"), txt("part2", "b2"), txt("part3", "c3"), txt("part4", "d4")}}}},
        RoundTrip{"empty password", [] { return SetRFIDPassword("", "", "", ""); },
                  {{">RFZ", {txt("part1", ""), txt("part2", ""), txt("part3", ""), txt("part4", "")}}}},
        RoundTrip{"lock", [] { return LockRFID(); }, {{">RFLK", {}}}},
        RoundTrip{"unlock", [] { return UnlockRFID(); }, {{">RFU", {}}}}),
    caseName);

using EmulatorRoundTrip = LibraryTest;

// A whole label in one stream: settings, content and the print command
// decode in the order they went out.
TEST_F(EmulatorRoundTrip, LabelDecodesInSendingOrder) {
    connectToFake();
    ASSERT_EQ(SetSpeed(4), 0);
    ASSERT_EQ(PrintDeviceFont("TOP", 1, 2, 3, 1, 1, 0, 0), 0);
    ASSERT_EQ(PrintQRCode("Q", 3, 4, 2, 1, 4, 0), 0);
    ASSERT_EQ(Prints(1, 1), 0);
    const std::vector<vdlemu::Command> commands = decodeAll(printer.received(), -1);
    std::vector<std::string> codes;
    for (const vdlemu::Command &c : commands) codes.push_back(c.code);
    EXPECT_EQ(codes, (std::vector<std::string>{"SS", "T", "B2", "P"}));
}

TEST_F(EmulatorRoundTrip, ModelQueryOfTheConnectDecodes) {
    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), 0);
    const std::vector<vdlemu::Command> commands = decodeAll(printer.received(), -1);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_TRUE(sameFields(commands[0], {"^PI0", {}}));
}

}  // namespace
}  // namespace vdltest
