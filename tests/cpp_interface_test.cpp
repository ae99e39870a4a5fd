// The C++ interface against the fake printer: each call sends exactly the
// bytes of the C call it wraps, failures come back as vdl::Error or as
// std::error_code, and only one printer object holds the connection.
//
// Built as an application: the shared library, the fake printer, the pauses
// recorded instead of slept.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <functional>

#include "VdlLabelAPI.hpp"
#include "fake_printer.h"
#include "interpose.h"

namespace vdltest {
namespace {

struct SameBytes {
    const char *what;
    std::function<void(vdl::Printer &)> cpp;
    std::function<int()> c;
};

const std::vector<SameBytes> &sameBytesTable() {
    using namespace vdl;
    static const std::vector<SameBytes> table = {
        {"device font", [](Printer &p) { p.printDeviceFont("AB", 1, 2, DeviceFont::m, 2, 3, Rotation::r90, true); },
         [] { return PrintDeviceFont("AB", 1, 2, 'm', 2, 3, 1, 1); }},
        {"device font W",
         [](Printer &p) { p.printDeviceFont("AB", 1, 2, DeviceFont::a, 1, 1, Rotation::r0, false, CodePage::cp932); },
         [] { return PrintDeviceFontW("AB", 1, 2, 'a', 1, 1, 0, 0, 7); }},
        {"vector font",
         [](Printer &p) {
             p.printVectorFont("AB", 1, 2, VectorFont::J, 30, 40, 1, true, false, true, Rotation::r270,
                               Alignment::right, 1);
         },
         [] { return PrintVectorFont("AB", 1, 2, 4, 30, 40, 1, 1, 0, 1, 3, 2, 1); }},
        {"vector font W",
         [](Printer &p) {
             p.printVectorFont("AB", 1, 2, VectorFont::K, 30, 40, 0, false, true, false, Rotation::r0,
                               Alignment::centre, 0, CodePage::big5);
         },
         [] { return PrintVectorFontW("AB", 1, 2, 1, 30, 40, 0, 0, 1, 0, 0, 1, 0, 4); }},
        {"block", [](Printer &p) { p.printBlock(1, 2, 3, 4, BlockOption::box, 5); },
         [] { return PrintBlock(1, 2, 3, 4, 4, 5); }},
        {"circle", [](Printer &p) { p.printCircle(1, 2, 3, 4); }, [] { return PrintCircle(1, 2, 3, 4); }},
        {"1D barcode", [](Printer &p) { p.print1DBarcode("12", 1, 2, Symbology::ean13, 3, 4, 5, Rotation::r180, 6); },
         [] { return Print1DBarcode("12", 1, 2, 7, 3, 4, 5, 2, 6); }},
        {"MaxiCode", [](Printer &p) { p.printMaxiCode("D", 1, 2, 3); }, [] { return PrintMaxiCode("D", 1, 2, 3); }},
        {"PDF417", [](Printer &p) { p.printPDF417("D", 1, 2, 4, 5, 6, 2, true, 0, 4, 20, Rotation::r90); },
         [] { return PrintPDF417("D", 1, 2, 4, 5, 6, 2, 1, 0, 4, 20, 1); }},
        {"QR", [](Printer &p) { p.printQRCode("D", 1, 2, 1, 3, 2, Rotation::r90); },
         [] { return PrintQRCode("D", 1, 2, 1, 3, 2, 1); }},
        {"Data Matrix", [](Printer &p) { p.printDataMatrix("D", 1, 2, 3, true, Rotation::r90); },
         [] { return PrintDataMatrix("D", 1, 2, 3, 1, 1); }},
        {"Aztec", [](Printer &p) { p.printAztec("D", 1, 2, 3, 1, 5, true, 7, 8, Rotation::r90); },
         [] { return PrintAztec("D", 1, 2, 3, 1, 5, 1, 7, 8, 1); }},
        {"Code 49", [](Printer &p) { p.printCode49("D", 1, 2, 3, 4, 5, 1, 2, Rotation::r90); },
         [] { return PrintCode49("D", 1, 2, 3, 4, 5, 1, 2, 1); }},
        {"CODABLOCK", [](Printer &p) { p.printCODABLOCK("D", 1, 2, 3, 4, 5, true, 6, CodablockMode::A, 7); },
         [] { return PrintCODABLOCK("D", 1, 2, 3, 4, 5, 1, 6, 0, 7); }},
        {"MicroPDF", [](Printer &p) { p.printMicroPDF("D", 1, 2, 3, 4, 5, Rotation::r90); },
         [] { return PrintMicroPDF("D", 1, 2, 3, 4, 5, 1); }},
        {"GS1 DataBar", [](Printer &p) { p.printGS1DataBar("D", 1, 2, 3, 4, 2, 6, 8, Rotation::r90); },
         [] { return PrintGS1DataBar("D", 1, 2, 3, 4, 2, 6, 8, 1); }},
        {"print", [](Printer &p) { p.print(2, 3); }, [] { return Prints(2, 3); }},
        {"bitmap file", [](Printer &p) { p.printBitmap(VDL_TEST_LOGO, 5, 6, false); },
         [] { return PrintBitmap(VDL_TEST_LOGO, 5, 6, 0); }},
        {"raster",
         [](Printer &p) {
             Raster r(9, 3);
             const unsigned char full[] = {0xff, 0xff, 0xff}, short_row[] = {0x12};
             r.setRow(0, full, sizeof full);            // bits past the width stay white
             r.setRow(1, short_row, sizeof short_row);  // the rest of the row is white
             r.setRow(3, full, sizeof full);            // outside: ignored
             r.setBlack(8, 2);
             p.printRaster(r, 5, 6);
         },
         [] {
             const unsigned char bits[] = {0xff, 0x80, 0x12, 0, 0, 0x80};
             BITMAPINFOHEADER info{};
             info.biWidth = 9;
             info.biHeight = 3;
             return printLCR(bits, &info, 5, 6);
         }},
        {"actions",
         [](Printer &p) {
             p.initialize();
             p.calibrateMedia();
             p.reset();
             p.feedOneLabel();
         },
         [] { return InitializePrinter() + CalibrateMedia() + ResetPrinter() + FeedOneLabel(); }},
        {"settings",
         [](Printer &p) {
             p.setSpeed(3);
             p.setDensity(4);
             p.setOrientation(Orientation::bottom_first);
             p.setCutter(true, 5);
             p.setRewinder(true);
             p.setOffset(6);
             p.setCutPosition(7);
             p.setPrintingType(PrintingType::thermal_transfer);
             p.setBackFeed(true);
             p.setPaper(8, 9, MediaType::black_mark, 10, 11);
             p.setMargin(12, 13);
             p.setCharacterSet(14, 15);
         },
         [] {
             return SetSpeed(3) + SetDensity(4) + SetOrientation('B') + SetCutter(1, 5) + SetRewinder(1) +
                    SetOffset(6) + SetCutPostion(7) + SetPrintingType(1) + SetBackFeed(1) + SetPaper(8, 9, 2, 10, 11) +
                    SetMargin(12, 13) + SetCharacterSet(14, 15);
         }},
        {"status", [](Printer &p) { p.status(); }, [] { return CheckPrinterStatus(); }},
        {"RFID",
         [](Printer &p) {
             p.setupRFID(1, 2, 3, 4);
             p.calibrateRFID();
             p.setRFIDPosition(5);
             p.setEPCDataStructure(6, "96,8");
             p.writeRFID(RfidWrite::H, 7, 8, "AB");
             p.setRFIDPassword("1", "2", "3", "4");
             p.lockRFID();
             p.unlockRFID();
         },
         [] {
             return SetupRFID(1, 2, 3, 4) + CalibrateRFID() + SetRFIDPosition(5) + SetEPCDataStructure(6, "96,8") +
                    WriteRFID(2, 7, 8, "AB") + SetRFIDPassword("1", "2", "3", "4") + LockRFID() + UnlockRFID();
         }},
        {"raw",
         [](Printer &p) {
             p.write(std::string_view("A\0B", 3));
             p.directIO("^cu\r", 1);
             p.clearBuffer();
         },
         [] {
             uint32_t n = 1;
             char reply;
             return WriteBuffer("A\0B", 3) + DirectIO("^cu\r", 4, &reply, &n) + ClearBuffer();
         }},
    };
    return table;
}

class CppInterface : public ::testing::Test {
protected:
    void SetUp() override { resetPauses(); }

    // The bytes a call sent plus those it left in the command buffer.
    std::string bytesOf(const std::function<void()> &call) {
        initDataBuffer();
        printer.clearReceived();
        call();
        return printer.received() + std::string(reinterpret_cast<const char *>(gPrintData), gDataIndex);
    }

    // Small writes must not wait for an acknowledgement while no time passes:
    // Nagle's algorithm off on the library's socket to the fake.
    void sendWithoutDelay() {
        for (int fd = 3; fd < 1024; ++fd) {
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 &&
                ntohs(peer.sin_port) == printer.port()) {
                const int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            }
        }
    }

    FakePrinter printer;
};

TEST_F(CppInterface, EachCallSendsTheBytesOfItsCFunction) {
    vdl::Printer p(printer.portName());
    sendWithoutDelay();
    for (const SameBytes &row : sameBytesTable()) {
        const std::string fromC = bytesOf([&] { row.c(); });
        EXPECT_FALSE(fromC.empty()) << row.what;
        EXPECT_EQ(bytesOf([&] { row.cpp(p); }), fromC) << row.what;
    }
}

TEST_F(CppInterface, OnlyOnePrinterHoldsTheConnection) {
    vdl::Printer first(printer.portName());
    try {
        vdl::Printer second(printer.portName());
        FAIL() << "a second printer was connected";
    } catch (const std::system_error &e) {
        EXPECT_EQ(e.code(), std::errc::device_or_resource_busy);
    }
    EXPECT_TRUE(first.connected());
    EXPECT_EQ(first.model(), "VRL-408");
    vdl::Printer moved(std::move(first));
    EXPECT_FALSE(first.connected());
    std::error_code error;
    vdl::NothrowPrinter third(printer.portName(), error);
    EXPECT_EQ(error, std::errc::device_or_resource_busy);
    EXPECT_NO_THROW(moved.feedOneLabel());
}

TEST_F(CppInterface, FailuresCarryTheLibraryCodeAndItsWords) {
    try {
        vdl::Printer p("printer.local:9100");
        FAIL();
    } catch (const std::system_error &e) {
        EXPECT_EQ(e.code(), vdl::Errc::port_name);
        EXPECT_EQ(&e.code().category(), &vdl::category());
        EXPECT_NE(std::string(e.what()).find("the port name is not valid"), std::string::npos) << e.what();
    }
    std::error_code error;
    vdl::NothrowPrinter p(printer.portName(), error);
    ASSERT_FALSE(error);
    printer.options().statusReply = 0xC1;
    const vdl::Outcome<vdl::Status> status = p.status();
    EXPECT_EQ(vdl::to_string(status.value), "cover open, paper empty");
    EXPECT_EQ(p.printBlock(0, 0, 1, 1, vdl::BlockOption(5)), vdl::Errc::block_option);
    EXPECT_EQ(vdl::category().message(-105), vdl::describe(VDL_ERR_WRITE));
    EXPECT_EQ(vdl::category().message(-1), "unexpected result -1");
}

}  // namespace
}  // namespace vdltest
