// Blocks, circles and barcodes: the bytes each call appends.
#include <functional>

#include "command.h"
#include "library_test.h"

namespace vdltest {
namespace {

struct Appended {
    std::function<int()> call;
    std::string bytes;  // appended to the command buffer; the CR is added here
    int result = 0;
};

class AppendedTest : public LibraryTest, public ::testing::WithParamInterface<Appended> {};

TEST_P(AppendedTest, AppendsExactlyTheseBytes) {
    const Appended &a = GetParam();
    EXPECT_EQ(a.call(), a.result);
    EXPECT_EQ(buffered(), a.bytes.empty() ? "" : a.bytes + "\r");
}

const int kMin = INT32_MIN;
using A = Appended;

// Normalisation at and beyond the bounds; the emulator round trip decodes the
// typical cases.
INSTANTIATE_TEST_SUITE_P(
    Symbols, AppendedTest,
    ::testing::Values(
        A{[] { return PrintBlock(1, 2, 3, 4, 5, 0); }, "", VDL_ERR_BLOCK_OPTION},
        A{[] { return PrintBlock(1, 2, 3, 4, -1, 0); }, "", VDL_ERR_BLOCK_OPTION},
        A{[] { return PrintCircle(-1, 0, 7, 0); }, "CD-1,0,2,1"},
        A{[] { return Print1DBarcode("1", 0, 0, 17, 0, 0, 0, 4, -1); }, "B10,0,1,0,0,0,0,0,'1'"},
        A{[] { return Print1DBarcode("1", 0, 0, 16, 0, 0, 0, 3, 9); }, "B10,0,16,0,0,0,3,0,'1'"},
        A{[] { return PrintQRCode("", 0, 0, 0, 1, 5, 4); }, "B20,0,Q,1,M,4,0,''"},
        A{[] { return PrintQRCode("", 0, 0, 1, 4, 4, 0); }, "B20,0,Q,1,L,4,0,''"},
        A{[] { return PrintQRCode("", 0, 0, 1, -1, 4, 0); }, "B20,0,Q,1,L,4,0,''"},
        A{[] { return PrintMaxiCode("M", 1, 2, 4); }, "B21,2,M,4,'M'"},
        A{[] { return PrintMaxiCode("M", 1, 2, 5); }, "B21,2,M,0,'M'"},
        A{[] { return PrintPDF417("P", 0, 0, 2, 0, -1, -1, 0, -1, 1, 3, -1); }, "B20,0,P,30,5,0,0,0,1,3,10,0,'P'"},
        A{[] { return PrintPDF417("P", 0, 0, 90, 30, 8, 2, 7, 0, 9, 4, 3); }, "B20,0,P,90,30,8,2,1,0,9,4,3,'P'"},
        A{[] { return PrintPDF417("P", 0, 0, 91, 31, 9, 3, 1, 5, 10, 100, 4); }, "B20,0,P,30,5,0,0,1,1,3,10,0,'P'"},
        A{[] { return PrintDataMatrix("D", 0, 0, 0, 0, 0); }, "B20,0,D,2,N,0,'D'"},
        A{[] { return PrintAztec("A", 0, 0, 10, 1, 300, 2, 26, kMin, 1); }, "B20,0,A,10,1,300,1,26,-2147483648,1,'A'"},
        A{[] { return PrintAztec("A", 0, 0, 11, -1, -1, 0, 0, 0, 0); }, "B20,0,A,2,0,0,0,15,0,0,'A'"},
        A{[] { return PrintCode49("C", 0, 0, 1, 2, 3, 2, 7, 0); }, "B20,0,F,1,2,3,2,7,0,'C'"},
        A{[] { return PrintCODABLOCK("", 0, 0, 0, 0, 0, 0, 62, 0, 0); }, "B20,0,C,0,0,0,0,62,A,10,0,''"},
        A{[] { return PrintCODABLOCK("", 0, 0, 0, 0, 0, 0, 1, 0, 18); }, "B20,0,C,0,0,0,0,30,A,18,0,''"},
        A{[] { return PrintCODABLOCK("", 0, 0, 0, 0, 0, 0, 63, 7, 4); }, "B20,0,C,0,0,0,0,30,E,4,0,''"},
        A{[] { return PrintCODABLOCK("", 0, 0, 0, 0, 0, 0, 30, 1, 18); }, "B20,0,C,0,0,0,0,30,E,3,0,''"},
        A{[] { return PrintCODABLOCK(nullptr, kMin, kMin, kMin, kMin, kMin, 1, 2, 0, 1); },
          "B2-2147483648,-2147483648,C,-2147483648,-2147483648,-2147483648,1,2,A,1,0,''"},
        A{[] { return PrintMicroPDF("m", 0, 0, 9, 100, -1, 0); }, "B20,0,B,5,50,0,0,'m'"},
        A{[] { return PrintMicroPDF("m", 0, 0, 8, 99, 33, 3); }, "B20,0,B,8,99,33,3,'m'"},
        A{[] { return PrintMicroPDF("m", 0, 0, 1, 0, 34, 4); }, "B20,0,B,5,50,0,0,'m'"},
        A{[] { return PrintMicroPDF("m", 0, 0, 2, 1, 0, 0); }, "B20,0,B,2,1,0,0,'m'"},
        A{[] { return PrintCode49("C", 0, 0, 1, 2, 3, 3, 8, 0); }, "B20,0,F,1,2,3,0,0,0,'C'"},
        A{[] { return PrintCode49("C", 0, 0, 1, 2, 3, -1, -1, 0); }, "B20,0,F,1,2,3,0,0,0,'C'"},
        A{[] { return PrintDataMatrix("D", 0, 0, 5, 1, 0); }, "B20,0,D,2,R,0,'D'"},
        A{[] { return PrintDataMatrix("D", 0, 0, 1, 0, 3); }, "B20,0,D,1,N,3,'D'"},
        A{[] { return PrintDataMatrix("D", 0, 0, 4, 0, 0); }, "B20,0,D,4,N,0,'D'"},
        A{[] { return PrintQRCode("", 0, 0, 3, 0, 0, 0); }, "B20,0,Q,1,L,4,0,''"},
        A{[] { return PrintQRCode("", 0, 0, 2, 3, 1, 0); }, "B20,0,Q,2,H,1,0,''"},
        A{[] { return PrintMaxiCode("M", 1, 2, 2); }, "B21,2,M,2,'M'"},
        A{[] { return PrintMaxiCode("M", 1, 2, 1); }, "B21,2,M,0,'M'"},
        A{[] { return PrintGS1DataBar("g", 0, 0, 0, 11, 3, 0, 24, 0); }, "B30,0,R,0,1,1,0,6,0,'g'"},
        A{[] { return PrintGS1DataBar("g", 0, 0, 5, 10, 2, 0, -2, 0); }, "B30,0,R,5,10,2,0,6,0,'g'"},
        A{[] { return PrintGS1DataBar("g", 0, 0, 5, 10, 2, 0, 21, 0); }, "B30,0,R,5,10,2,0,6,0,'g'"},  // odd
        A{[] { return PrintGS1DataBar("g", 0, 0, 0, 1, 1, 0, 0, 3); }, "B30,0,R,0,1,1,0,0,3,'g'"}));

}  // namespace
}  // namespace vdltest
