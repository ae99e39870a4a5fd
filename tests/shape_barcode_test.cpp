// Blocks, circles and barcodes: the bytes each call appends.
#include <functional>

#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

struct Appended {
    const char *what;
    std::function<int()> call;
    std::string bytes;  // appended to the command buffer; the CR is added here
    int result = 0;
};

void PrintTo(const Appended &a, std::ostream *os) { *os << a.what; }

class AppendedTest : public LibraryTest, public ::testing::WithParamInterface<Appended> {};

TEST_P(AppendedTest, AppendsExactlyTheseBytes) {
    const Appended &a = GetParam();
    EXPECT_EQ(a.call(), a.result);
    EXPECT_EQ(buffered(), a.bytes.empty() ? "" : a.bytes + "\r");
}

std::string caseName(const ::testing::TestParamInfo<Appended> &info) {
    std::string name;
    for (const char *c = info.param.what; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

const int kMin = INT32_MIN;

INSTANTIATE_TEST_SUITE_P(
    Shapes, AppendedTest,
    ::testing::Values(
        Appended{"block option 0 drops its value", [] { return PrintBlock(10, 10, 200, 100, 0, 7); },
                 "BD10,10,200,100,O"},
        Appended{"block option 1", [] { return PrintBlock(1, 2, 3, 4, 1, 7); }, "BD1,2,3,4,E"},
        Appended{"block option 2", [] { return PrintBlock(1, 2, 3, 4, 2, 7); }, "BD1,2,3,4,D"},
        Appended{"block option 3 keeps its value", [] { return PrintBlock(1, 2, 3, 4, 3, -7); }, "BD1,2,3,4,S,-7"},
        Appended{"block option 4", [] { return PrintBlock(10, 10, 200, 100, 4, 3); }, "BD10,10,200,100,B,3"},
        Appended{"block option 5 refused", [] { return PrintBlock(1, 2, 3, 4, 5, 0); }, "", VDL_ERR_BLOCK_OPTION},
        Appended{"block option -1 refused", [] { return PrintBlock(1, 2, 3, 4, -1, 0); }, "", VDL_ERR_BLOCK_OPTION},
        Appended{"widest block", [] { return PrintBlock(kMin, kMin, kMin, kMin, 4, kMin); },
                 "BD-2147483648,-2147483648,-2147483648,-2147483648,B,-2147483648"},
        Appended{"circle out of range", [] { return PrintCircle(50, 60, 0, 9); }, "CD50,60,2,1"},
        Appended{"circle at the bounds", [] { return PrintCircle(50, 60, 6, 4); }, "CD50,60,6,4"},
        Appended{"circle below the bounds", [] { return PrintCircle(-1, 0, 7, 0); }, "CD-1,0,2,1"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Linear, AppendedTest,
    ::testing::Values(
        Appended{"example", [] { return Print1DBarcode("12345", 50, 100, 20, 2, 4, 80, 5, 1); },
                 "B150,100,1,2,4,80,0,1,'12345'"},
        Appended{"types at the bounds", [] { return Print1DBarcode("1", 0, 0, 16, 0, 0, 0, 3, 8); },
                 "B10,0,16,0,0,0,3,8,'1'"},
        Appended{"types outside", [] { return Print1DBarcode("1", -5, 0, -1, 0, 0, 0, -1, 9); },
                 "B1-5,0,1,0,0,0,0,0,'1'"},
        Appended{"type 17 rotation 4 field8 -1", [] { return Print1DBarcode("1", 0, 0, 17, 0, 0, 0, 4, -1); },
                 "B10,0,1,0,0,0,0,0,'1'"},
        Appended{"free fields in full", [] { return Print1DBarcode("", 0, 0, 0, kMin, INT32_MAX, -1, 0, 0); },
                 "B10,0,0,-2147483648,2147483647,-1,0,0,''"},
        Appended{"quotes in the data", [] { return Print1DBarcode("A'B,C", 0, 0, 0, 0, 0, 0, 0, 0); },
                 "B10,0,0,0,0,0,0,0,'A'B,C'"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    TwoDimensional, AppendedTest,
    ::testing::Values(
        Appended{"QR example", [] { return PrintQRCode("HELLO", 10, 20, 3, 2, 0, 1); }, "B210,20,Q,1,Q,4,1,'HELLO'"},
        Appended{"QR levels", [] { return PrintQRCode("", 0, 0, 2, 3, 1, 3); }, "B20,0,Q,2,H,1,3,''"},
        Appended{"QR level 1", [] { return PrintQRCode("", 0, 0, 0, 1, 5, 4); }, "B20,0,Q,1,M,4,0,''"},
        Appended{"QR level 4", [] { return PrintQRCode("", 0, 0, 1, 4, 4, 0); }, "B20,0,Q,1,L,4,0,''"},
        Appended{"QR level -1", [] { return PrintQRCode("", 0, 0, 1, -1, 4, 0); }, "B20,0,Q,1,L,4,0,''"},
        Appended{"MaxiCode modes", [] { return PrintMaxiCode("M", 1, 2, 1); }, "B21,2,M,0,'M'"},
        Appended{"MaxiCode mode 4", [] { return PrintMaxiCode("M", 1, 2, 4); }, "B21,2,M,4,'M'"},
        Appended{"MaxiCode mode 5", [] { return PrintMaxiCode("M", 1, 2, 5); }, "B21,2,M,0,'M'"},
        Appended{"PDF417 in range", [] { return PrintPDF417("P", 0, 0, 3, 30, 8, 2, 5, 0, 9, 99, 3); },
                 "B20,0,P,3,30,8,2,1,0,9,99,3,'P'"},
        Appended{"PDF417 below", [] { return PrintPDF417("P", 0, 0, 2, 0, -1, -1, 0, -1, 1, 3, -1); },
                 "B20,0,P,30,5,0,0,0,1,3,10,0,'P'"},
        Appended{"PDF417 above", [] { return PrintPDF417("P", 0, 0, 91, 31, 9, 3, 1, 5, 10, 100, 4); },
                 "B20,0,P,30,5,0,0,1,1,3,10,0,'P'"},
        Appended{"DataMatrix true", [] { return PrintDataMatrix("D", 0, 0, 4, 1, 2); }, "B20,0,D,4,R,2,'D'"},
        Appended{"DataMatrix false", [] { return PrintDataMatrix("D", 0, 0, 0, 0, 0); }, "B20,0,D,2,N,0,'D'"},
        Appended{"DataMatrix 5", [] { return PrintDataMatrix("D", 0, 0, 5, 0, 0); }, "B20,0,D,2,N,0,'D'"},
        Appended{"Aztec in range", [] { return PrintAztec("A", 0, 0, 10, 1, 300, 2, 26, kMin, 1); },
                 "B20,0,A,10,1,300,1,26,-2147483648,1,'A'"},
        Appended{"Aztec outside", [] { return PrintAztec("A", 0, 0, 0, 2, 301, 0, 27, -1, 5); },
                 "B20,0,A,2,0,0,0,15,-1,0,'A'"},
        Appended{"Aztec field8 0", [] { return PrintAztec("A", 0, 0, 11, -1, -1, 0, 0, 0, 0); },
                 "B20,0,A,2,0,0,0,15,0,0,'A'"},
        Appended{"Code49", [] { return PrintCode49("C", 0, 0, kMin, -1, 99, 3, 8, 2); },
                 "B20,0,F,-2147483648,-1,99,0,0,2,'C'"},
        Appended{"Code49 in range", [] { return PrintCode49("C", 0, 0, 1, 2, 3, 2, 7, 0); },
                 "B20,0,F,1,2,3,2,7,0,'C'"},
        Appended{"CODABLOCK example", [] { return PrintCODABLOCK("ABC", 0, 0, 1, 2, 3, 1, 70, 0, 25); },
                 "B20,0,C,1,2,3,1,30,A,10,0,'ABC'"},
        Appended{"CODABLOCK F", [] { return PrintCODABLOCK("", 0, 0, 0, 0, 0, 0, 2, 2, 5); },
                 "B20,0,C,0,0,0,0,2,F,3,0,''"},
        Appended{"CODABLOCK A rows 0", [] { return PrintCODABLOCK("", 0, 0, 0, 0, 0, 0, 62, 0, 0); },
                 "B20,0,C,0,0,0,0,62,A,10,0,''"},
        Appended{"CODABLOCK A rows 18", [] { return PrintCODABLOCK("", 0, 0, 0, 0, 0, 0, 1, 0, 18); },
                 "B20,0,C,0,0,0,0,30,A,18,0,''"},
        Appended{"CODABLOCK mode 7", [] { return PrintCODABLOCK("", 0, 0, 0, 0, 0, 0, 63, 7, 4); },
                 "B20,0,C,0,0,0,0,30,E,4,0,''"},
        Appended{"CODABLOCK E rows 18", [] { return PrintCODABLOCK("", 0, 0, 0, 0, 0, 0, 30, 1, 18); },
                 "B20,0,C,0,0,0,0,30,E,3,0,''"},
        Appended{"MicroPDF outside", [] { return PrintMicroPDF("m", 0, 0, 1, 0, 34, 9); },
                 "B20,0,B,5,50,0,0,'m'"},
        Appended{"MicroPDF above", [] { return PrintMicroPDF("m", 0, 0, 9, 100, -1, 0); },
                 "B20,0,B,5,50,0,0,'m'"},
        Appended{"MicroPDF in range", [] { return PrintMicroPDF("m", 0, 0, 8, 99, 33, 3); },
                 "B20,0,B,8,99,33,3,'m'"},
        Appended{"GS1 segments 7", [] { return PrintGS1DataBar("g", 0, 0, 6, 0, 0, kMin, 7, 0); },
                 "B30,0,R,5,1,1,-2147483648,6,0,'g'"},
        Appended{"GS1 segments 24", [] { return PrintGS1DataBar("g", 0, 0, 0, 11, 3, 0, 24, 0); },
                 "B30,0,R,0,1,1,0,6,0,'g'"},
        Appended{"GS1 segments -2", [] { return PrintGS1DataBar("g", 0, 0, 5, 10, 2, 0, -2, 0); },
                 "B30,0,R,5,10,2,0,6,0,'g'"},
        Appended{"GS1 segments 0", [] { return PrintGS1DataBar("g", 0, 0, 0, 1, 1, 0, 0, 3); },
                 "B30,0,R,0,1,1,0,0,3,'g'"},
        Appended{"GS1 segments 22", [] { return PrintGS1DataBar("g", 0, 0, 0, 1, 1, 0, 22, 4); },
                 "B30,0,R,0,1,1,0,22,0,'g'"},
        Appended{"GS1 segments min", [] { return PrintGS1DataBar("g", 0, 0, 0, 1, 1, 0, kMin, 0); },
                 "B30,0,R,0,1,1,0,6,0,'g'"},
        Appended{"widest CODABLOCK", [] { return PrintCODABLOCK(nullptr, kMin, kMin, kMin, kMin, kMin, 1, 2, 0, 1); },
                 "B2-2147483648,-2147483648,C,-2147483648,-2147483648,-2147483648,1,2,A,1,0,''"}),
    caseName);

using ContentFlushTest = LibraryTest;

TEST_F(ContentFlushTest, ContentThatPassesTheThresholdSendsTheWholeBuffer) {
    connectToFake();
    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {pattern(3500)}), 0);
    const std::string data(100 - 21, 'D');  // a header of 18 characters, two quotes and CR
    ASSERT_EQ(Print1DBarcode(data.c_str(), 0, 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(printer.received().size(), 3600u);
    EXPECT_EQ(gDataIndex, 0u);
}

TEST_F(ContentFlushTest, LongBarcodeDataFollowsTheOverLongRule) {
    connectToFake();
    const std::string data = std::string(65536, 'Z');
    ASSERT_EQ(PrintQRCode(data.c_str(), 1, 2, 2, 1, 4, 0), 0);
    EXPECT_TRUE(sameBytes(printer.received() + buffered(), "B21,2,Q,2,M,4,0,'" + data + "'\r"));
}

TEST_F(ContentFlushTest, FailedFlushIsReportedAndTheCommandKept) {
    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {pattern(3580)}), 0);
    EXPECT_EQ(PrintCircle(1, 2, 3, 4), VDL_ERR_WRITE);  // no connection to flush to
    EXPECT_EQ(buffered().substr(3580), "CD1,2,3,4\r");
}

}  // namespace
}  // namespace vdltest
