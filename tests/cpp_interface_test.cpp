// The C++ interface against the fake printer: each call sends exactly the
// bytes of the C call it wraps, failures come back as vdl::Error or as
// std::error_code, only the object that holds the connection sends on it,
// and error codes compare equal across shared objects.
//
// Built as an application: the shared library, the fake printer, the pauses
// recorded instead of slept, and an application library of its own built
// without exceptions (nothrow_library).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdlib>
#include <functional>
#include <thread>

#include "VdlLabelAPI.hpp"
#include "VdlZpl.hpp"
#include "fake_printer.h"
#include "interpose.h"
#include "nothrow_library.h"

namespace vdltest {
namespace {

using vdl::Errc;

// One call of the C++ interface, in both printer forms, and the C call it wraps.
struct Row {
    const char *what;
    std::function<void(vdl::Printer &)> throwing;
    std::function<std::error_code(vdl::NothrowPrinter &)> quiet;
    std::function<int()> c;
};

std::error_code errorOf(std::error_code error) { return error; }
template <typename T>
std::error_code errorOf(const vdl::Outcome<T> &outcome) {
    return outcome.error;
}

// A row from a call written once for both forms.
template <typename Call>
Row row(const char *what, Call call, std::function<int()> c) {
    return {what, [call](vdl::Printer &p) { call(p); },
            [call](vdl::NothrowPrinter &p) { return errorOf(call(p)); }, std::move(c)};
}

// A picture file loaded (and rescaled) by the C functions, sent with command.
int printLoaded(int targetWidth, int (*command)(const unsigned char *, const BITMAPINFOHEADER *, int, int)) {
    unsigned char *raster = nullptr;
    BITMAPINFOHEADER info{};
    const int loaded = loadImage(VDL_TEST_LOGO, &raster, &info, targetWidth);
    const int sent = loaded < 0 ? loaded : command(raster, &info, 5, 6);
    std::free(raster);
    return sent;
}

const std::vector<Row> &table() {
    using namespace vdl;
    static const std::vector<Row> rows = {
        row("device font",
            [](auto &p) { return p.printDeviceFont("AB", 1, 2, DeviceFont::m, 2, 3, Rotation::r90, true); },
            [] { return PrintDeviceFont("AB", 1, 2, 'm', 2, 3, 1, 1); }),
        row("device font W",
            [](auto &p) {
                return p.printDeviceFont("AB", 1, 2, DeviceFont::a, 1, 1, Rotation::r0, false, CodePage::cp932);
            },
            [] { return PrintDeviceFontW("AB", 1, 2, 'a', 1, 1, 0, 0, 7); }),
        row("vector font",
            [](auto &p) {
                return p.printVectorFont("AB", 1, 2, VectorFont::J, 30, 40, 1, true, false, true, Rotation::r270,
                                         Alignment::right, 1);
            },
            [] { return PrintVectorFont("AB", 1, 2, 4, 30, 40, 1, 1, 0, 1, 3, 2, 1); }),
        row("vector font W",
            [](auto &p) {
                return p.printVectorFont("AB", 1, 2, VectorFont::K, 30, 40, 0, false, true, false, Rotation::r0,
                                         Alignment::centre, 0, CodePage::big5);
            },
            [] { return PrintVectorFontW("AB", 1, 2, 1, 30, 40, 0, 0, 1, 0, 0, 1, 0, 4); }),
        row("block", [](auto &p) { return p.printBlock(1, 2, 3, 4, BlockOption::box, 5); },
            [] { return PrintBlock(1, 2, 3, 4, 4, 5); }),
        row("circle", [](auto &p) { return p.printCircle(1, 2, 3, 4); }, [] { return PrintCircle(1, 2, 3, 4); }),
        row("1D barcode",
            [](auto &p) { return p.print1DBarcode("12", 1, 2, Symbology::ean13, 3, 4, 5, Rotation::r180, 6); },
            [] { return Print1DBarcode("12", 1, 2, 7, 3, 4, 5, 2, 6); }),
        row("MaxiCode", [](auto &p) { return p.printMaxiCode("D", 1, 2, 3); },
            [] { return PrintMaxiCode("D", 1, 2, 3); }),
        row("PDF417", [](auto &p) { return p.printPDF417("D", 1, 2, 4, 5, 6, 2, true, 0, 4, 20, Rotation::r90); },
            [] { return PrintPDF417("D", 1, 2, 4, 5, 6, 2, 1, 0, 4, 20, 1); }),
        row("QR", [](auto &p) { return p.printQRCode("D", 1, 2, 1, 3, 2, Rotation::r90); },
            [] { return PrintQRCode("D", 1, 2, 1, 3, 2, 1); }),
        row("Data Matrix", [](auto &p) { return p.printDataMatrix("D", 1, 2, 3, true, Rotation::r90); },
            [] { return PrintDataMatrix("D", 1, 2, 3, 1, 1); }),
        row("Aztec", [](auto &p) { return p.printAztec("D", 1, 2, 3, 1, 5, true, 7, 8, Rotation::r90); },
            [] { return PrintAztec("D", 1, 2, 3, 1, 5, 1, 7, 8, 1); }),
        row("Code 49", [](auto &p) { return p.printCode49("D", 1, 2, 3, 4, 5, 1, 2, Rotation::r90); },
            [] { return PrintCode49("D", 1, 2, 3, 4, 5, 1, 2, 1); }),
        row("CODABLOCK", [](auto &p) { return p.printCODABLOCK("D", 1, 2, 3, 4, 5, true, 6, CodablockMode::A, 7); },
            [] { return PrintCODABLOCK("D", 1, 2, 3, 4, 5, 1, 6, 0, 7); }),
        row("MicroPDF", [](auto &p) { return p.printMicroPDF("D", 1, 2, 3, 4, 5, Rotation::r90); },
            [] { return PrintMicroPDF("D", 1, 2, 3, 4, 5, 1); }),
        row("GS1 DataBar", [](auto &p) { return p.printGS1DataBar("D", 1, 2, 3, 4, 2, 6, 8, Rotation::r90); },
            [] { return PrintGS1DataBar("D", 1, 2, 3, 4, 2, 6, 8, 1); }),
        row("print", [](auto &p) { return p.print(2, 3); }, [] { return Prints(2, 3); }),
        row("bitmap file", [](auto &p) { return p.printBitmap(VDL_TEST_LOGO, 5, 6, false); },
            [] { return PrintBitmap(VDL_TEST_LOGO, 5, 6, 0); }),
        row("PNG file of the same black and white logo", [](auto &p) { return p.printBitmap(VDL_TEST_LOGO_PNG, 5, 6); },
            [] { return PrintBitmap(VDL_TEST_LOGO, 5, 6, 1); }),
        row("raster",
            [](auto &p) {
                Raster r(9, 3);
                const unsigned char full[] = {0xff, 0xff, 0xff}, short_row[] = {0x12};
                r.setRow(0, full, sizeof full);            // bits past the width stay white
                r.setRow(1, short_row, sizeof short_row);  // the rest of the row is white
                r.setRow(3, full, sizeof full);            // outside: ignored
                r.setBlack(8, 2);
                return p.printRaster(r, 5, 6);
            },
            [] {
                const unsigned char bits[] = {0xff, 0x80, 0x12, 0, 0, 0x80};
                BITMAPINFOHEADER info{};
                info.biWidth = 9;
                info.biHeight = 3;
                return printLCR(bits, &info, 5, 6);
            }),
        row("picture file as a raster", [](auto &p) { return p.printRaster(Raster::load(VDL_TEST_LOGO), 5, 6); },
            [] { return PrintBitmap(VDL_TEST_LOGO, 5, 6, 1); }),
        row("picture loaded at a width", [](auto &p) { return p.printRaster(Raster::load(VDL_TEST_LOGO, 40), 5, 6); },
            [] { return printLoaded(40, printLCR); }),
        row("picture rescaled",
            [](auto &p) { return p.printRaster(Raster::load(VDL_TEST_LOGO).rescaled(200), 5, 6, false); },
            [] { return printLoaded(200, printLD); }),
        row("picture rescaled to its width",
            [](auto &p) { return p.printRaster(Raster::load(VDL_TEST_LOGO).rescaled(128), 5, 6); },
            [] { return PrintBitmap(VDL_TEST_LOGO, 5, 6, 1); }),
        row("initialize", [](auto &p) { return p.initialize(); }, [] { return InitializePrinter(); }),
        row("calibrate", [](auto &p) { return p.calibrateMedia(); }, [] { return CalibrateMedia(); }),
        row("reset", [](auto &p) { return p.reset(); }, [] { return ResetPrinter(); }),
        row("feed", [](auto &p) { return p.feedOneLabel(); }, [] { return FeedOneLabel(); }),
        row("speed", [](auto &p) { return p.setSpeed(3); }, [] { return SetSpeed(3); }),
        row("density", [](auto &p) { return p.setDensity(4); }, [] { return SetDensity(4); }),
        row("orientation", [](auto &p) { return p.setOrientation(Orientation::bottom_first); },
            [] { return SetOrientation('B'); }),
        row("cutter", [](auto &p) { return p.setCutter(true, 5); }, [] { return SetCutter(1, 5); }),
        row("rewinder", [](auto &p) { return p.setRewinder(true); }, [] { return SetRewinder(1); }),
        row("offset", [](auto &p) { return p.setOffset(6); }, [] { return SetOffset(6); }),
        row("cut position", [](auto &p) { return p.setCutPosition(7); }, [] { return SetCutPostion(7); }),
        row("printing type", [](auto &p) { return p.setPrintingType(PrintingType::thermal_transfer); },
            [] { return SetPrintingType(1); }),
        row("back feed", [](auto &p) { return p.setBackFeed(true); }, [] { return SetBackFeed(1); }),
        row("paper", [](auto &p) { return p.setPaper(8, 9, MediaType::black_mark, 10, 11); },
            [] { return SetPaper(8, 9, 2, 10, 11); }),
        row("margin", [](auto &p) { return p.setMargin(12, 13); }, [] { return SetMargin(12, 13); }),
        row("character set", [](auto &p) { return p.setCharacterSet(14, 15); }, [] { return SetCharacterSet(14, 15); }),
        row("status", [](auto &p) { return p.status(); }, [] { return CheckPrinterStatus(); }),
        row("RFID setup", [](auto &p) { return p.setupRFID(1, 2, 3, 4); }, [] { return SetupRFID(1, 2, 3, 4); }),
        row("RFID calibrate", [](auto &p) { return p.calibrateRFID(); }, [] { return CalibrateRFID(); }),
        row("RFID position", [](auto &p) { return p.setRFIDPosition(5); }, [] { return SetRFIDPosition(5); }),
        row("EPC structure", [](auto &p) { return p.setEPCDataStructure(6, "96,8"); },
            [] { return SetEPCDataStructure(6, "96,8"); }),
        row("RFID write", [](auto &p) { return p.writeRFID(RfidWrite::H, 7, 8, "AB"); },
            [] { return WriteRFID(2, 7, 8, "AB"); }),
        row("RFID password", [](auto &p) { return p.setRFIDPassword("1", "2", "3", "4"); },
            [] { return SetRFIDPassword("1", "2", "3", "4"); }),
        row("RFID lock", [](auto &p) { return p.lockRFID(); }, [] { return LockRFID(); }),
        row("RFID unlock", [](auto &p) { return p.unlockRFID(); }, [] { return UnlockRFID(); }),
        row("write", [](auto &p) { return p.write(std::string_view("A\0B", 3)); },
            [] { return WriteBuffer("A\0B", 3); }),
        row("direct IO", [](auto &p) { return p.directIO("^cu\r", 1); },
            [] {
                uint32_t n = 1;
                char reply;
                return DirectIO("^cu\r", 4, &reply, &n);
            }),
        row("clear buffer", [](auto &p) { return p.clearBuffer(); }, [] { return ClearBuffer(); }),
    };
    return rows;
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

    // Every call on an object that does not hold the connection fails with
    // not_connected and neither sends nor buffers a byte.
    void expectNotConnected(vdl::Printer &p, const char *situation) {
        for (const Row &row : table()) {
            const std::string sent = bytesOf([&] {
                try {
                    row.throwing(p);
                    ADD_FAILURE() << row.what << " succeeded: " << situation;
                } catch (const vdl::Error &e) {
                    EXPECT_EQ(e.code(), Errc::not_connected) << row.what << ": " << situation;
                    EXPECT_NE(std::string(e.what()).find("not connected"), std::string::npos) << e.what();
                }
            });
            EXPECT_EQ(sent, "") << row.what << ": " << situation;
        }
    }
    void expectNotConnected(vdl::NothrowPrinter &p, const char *situation) {
        for (const Row &row : table()) {
            std::error_code error;
            EXPECT_EQ(bytesOf([&] { error = row.quiet(p); }), "") << row.what << ": " << situation;
            EXPECT_EQ(error, Errc::not_connected) << row.what << ": " << situation;
        }
    }

    FakePrinter printer;
};

TEST_F(CppInterface, EachCallSendsTheBytesOfItsCFunction) {
    {
        vdl::Printer p(printer.portName());
        for (const Row &row : table()) {
            const std::string fromC = bytesOf([&] { EXPECT_GE(row.c(), 0) << row.what; });
            EXPECT_FALSE(fromC.empty()) << row.what;
            EXPECT_EQ(bytesOf([&] { row.throwing(p); }), fromC) << row.what;
        }
    }
    std::error_code error;
    vdl::NothrowPrinter p(printer.portName(), error);
    for (const Row &row : table()) {
        const std::string fromC = bytesOf([&] { row.c(); });
        EXPECT_EQ(bytesOf([&] { EXPECT_FALSE(row.quiet(p)) << row.what; }), fromC) << row.what;
    }
}

// printBitmap loads its file without the connection's lock, which another
// thread can take meanwhile: a large picture takes seconds to load, and the
// labels of other threads go out in that time.
TEST_F(CppInterface, APictureLoadsWithoutTheConnectionsLock) {
    vdl::Printer p(printer.portName());
    std::vector<bool> lockFreeWhileLoading;
    vdltest::openWatcher() = [&](const char *path) {
        if (std::string(path) != VDL_TEST_LOGO_PNG) return;
        std::thread([&] {
            pthread_mutex_t &mutex = vdl::detail::connection().mutex;
            const bool free = pthread_mutex_trylock(&mutex) == 0;
            if (free) pthread_mutex_unlock(&mutex);
            lockFreeWhileLoading.push_back(free);
        }).join();
    };
    const std::string sent = bytesOf([&] { p.printBitmap(VDL_TEST_LOGO_PNG, 5, 6); });
    vdltest::openWatcher() = nullptr;
    EXPECT_EQ(lockFreeWhileLoading, std::vector<bool>{true});
    EXPECT_EQ(sent, bytesOf([] { PrintBitmap(VDL_TEST_LOGO, 5, 6, 1); }));
}

TEST_F(CppInterface, OnlyTheObjectHoldingTheConnectionSends) {
    vdl::Printer movedFrom(printer.portName());
    EXPECT_EQ(movedFrom.model(), "VRL-408");
    vdl::Printer owner(std::move(movedFrom));
    EXPECT_THROW(vdl::Printer second(printer.portName()), vdl::Error);
    std::error_code error;
    vdl::NothrowPrinter refused(printer.portName(), error);
    EXPECT_EQ(error, std::errc::device_or_resource_busy);
    refused.disconnect();  // not its connection to close
    EXPECT_TRUE(owner.connected() && !movedFrom.connected() && !refused.connected() && gConnectedPrinter);
    EXPECT_EQ(movedFrom.model(), "");
    expectNotConnected(movedFrom, "another object holds the connection");
    expectNotConnected(refused, "another object holds the connection");
    const std::string feed = bytesOf([] { FeedOneLabel(); });
    EXPECT_EQ(bytesOf([&] { owner.feedOneLabel(); }), feed);

    owner.disconnect();
    EXPECT_FALSE(owner.connected() || gConnectedPrinter);
    expectNotConnected(owner, "no connection is open");
    expectNotConnected(refused, "no connection is open");

    ASSERT_EQ(ConnectToPrinter(printer.portName().c_str()), VDL_OK);
    vdl::NothrowPrinter refusedByC(printer.portName(), error);
    EXPECT_EQ(error, std::errc::device_or_resource_busy);
    expectNotConnected(owner, "the C functions hold the connection");
    expectNotConnected(movedFrom, "the C functions hold the connection");
    expectNotConnected(refusedByC, "the C functions hold the connection");
    DisconnectPrinter();

    vdl::NothrowPrinter next(printer.portName(), error);
    EXPECT_FALSE(error);
    EXPECT_TRUE(next.connected());
}

TEST_F(CppInterface, FailuresCarryTheLibraryCodeAndItsWords) {
    try {
        vdl::Printer p("printer.local:9100");
        FAIL();
    } catch (const std::system_error &e) {
        EXPECT_EQ(e.code(), Errc::port_name);
        EXPECT_EQ(&e.code().category(), &vdl::category());
        EXPECT_NE(std::string(e.what()).find("the port name is not valid"), std::string::npos) << e.what();
    }
    std::error_code error;
    vdl::NothrowPrinter p(printer.portName(), error);
    ASSERT_FALSE(error);
    printer.options().statusReply = 0xC1;
    const vdl::Outcome<vdl::Status> status = p.status();
    EXPECT_EQ(vdl::to_string(status.value), "cover open, paper empty");
    EXPECT_EQ(p.printBlock(0, 0, 1, 1, vdl::BlockOption(5)), Errc::block_option);
    EXPECT_EQ(vdl::category().message(-105), vdl::describe(VDL_ERR_WRITE));
    EXPECT_EQ(vdl::category().message(-1), "unexpected result -1");
    p.disconnect();
    try {
        vdl::Printer(printer.portName()).printBitmap(__FILE__, 0, 0);
        ADD_FAILURE() << "a source file printed as a picture";
    } catch (const vdl::Error &e) {  // the file named, not only the call
        EXPECT_EQ(std::string(e.what()), "printBitmap " __FILE__ ": the image file is not a supported picture");
    }
}

// A library of the application's, built without exceptions, made these codes
// and shares the connection's lock.
TEST_F(CppInterface, CodesCompareEqualAcrossSharedObjects) {
    const std::error_code missing = printPictureLabel(printer.portName().c_str(), "/nonexistent/logo.bmp");
    EXPECT_EQ(missing, Errc::image_open);
    EXPECT_EQ(&missing.category(), &vdl::category());
    EXPECT_TRUE(isImageOpen(vdl::make_error_code(Errc::image_open)));
    EXPECT_EQ(connectionStateSeen(), &vdl::detail::connection());  // one lock for the process
    EXPECT_EQ(printPictureLabel("printer.local:9100", VDL_TEST_LOGO), Errc::port_name);
    EXPECT_EQ(printPictureLabel(printer.portName().c_str(), VDL_TEST_LOGO), std::error_code());
    EXPECT_NE(printer.received().find("P1,1\r"), std::string::npos);
}

static_assert(vdl::dotsFromMillimetres(25.4) == 203 && vdl::dotsFromMillimetres(10, 300) == 118 &&
              vdl::dotsFromMillimetres(-1) == -8);

// A label whose content failed does not print, even when the program
// ignored the failure; labels do not nest; a bitmap already sent is cleared.
TEST_F(CppInterface, ALabelThatFailedPrintsNothing) {
    std::error_code error;
    vdl::NothrowPrinter p(printer.portName(), error);
    const struct {
        const char *what;
        std::function<void()> compose;
        std::error_code expected;
        std::string sent;
    } cases[] = {
        {"a failed block, ignored", [&] { p.printCircle(1, 2), (void)p.printBlock(0, 0, 1, 1, vdl::BlockOption(5)); },
         Errc::block_option, "CB\r"},
        {"a failure after a bitmap", [&] { p.printRaster(vdl::Raster(8, 1), 0, 0, false), (void)p.printBlock(0, 0, 1, 1, vdl::BlockOption(5)); },
         Errc::block_option, std::string("LD\0\0\0\0\1\0\1\0\0\r", 12) + "CB\r"},
        {"a nested label", [&] { p.printCircle(1, 2), (void)p.label([] {}); }, Errc::label_under_way, "CB\r"},
        {"a print inside", [&] { p.printCircle(1, 2), (void)p.print(); }, Errc::label_under_way, "CB\r"},
        {"a call on an object without the connection",
         [&] { p.printCircle(1, 2), (void)vdl::NothrowPrinter(printer.portName(), error).feedOneLabel(); },
         Errc::not_connected, "CB\r"},
        {"a failure after the printer object moved",
         [&] {
             p.printCircle(1, 2);
             vdl::NothrowPrinter moved(std::move(p));
             (void)moved.printBlock(0, 0, 1, 1, vdl::BlockOption(5));
             p = std::move(moved);
         },
         Errc::block_option, "CB\r"},
        {"a picture that cannot be loaded", [&] { p.printCircle(1, 2), (void)p.printBitmap("/nonexistent/logo.png", 0, 0); },
         Errc::image_open, "CB\r"},
        {"a file that is no picture, after a bitmap",
         [&] { p.printRaster(vdl::Raster(8, 1), 0, 0, false), (void)p.printBitmap(__FILE__, 0, 0); }, Errc::image_format,
         std::string("LD\0\0\0\0\1\0\1\0\0\r", 12) + "CB\r"},
        {"a whole label", [&] { p.printCircle(1, 2); }, {}, "CD1,2,2,1\rP2,1\r"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bytesOf([&] { EXPECT_EQ(p.label(c.compose, 2), c.expected) << c.what; }), c.sent) << c.what;
        EXPECT_EQ(gDataIndex, 0u) << c.what;
    }
    EXPECT_EQ(bytesOf([&] { EXPECT_THROW(p.label([] { throw std::runtime_error("before any content"); }),
                                         std::runtime_error); }), "");
    p.disconnect();
    EXPECT_EQ(p.label([] {}), Errc::not_connected);
}

TEST_F(CppInterface, PicturesTheLibraryCannotMakeAreRefused) {
    using vdl::Raster;
    const struct {
        const char *what;
        std::function<Raster(std::error_code &)> make;
        Errc expected;
    } cases[] = {
        {"no such file", [](std::error_code &e) { return Raster::load("/nonexistent/logo.bmp", e); }, Errc::image_open},
        {"not a picture", [](std::error_code &e) { return Raster::load(__FILE__, e); }, Errc::image_format},
        {"loaded to no row", [](std::error_code &e) { return Raster::load(VDL_TEST_LOGO, e, 1); }, Errc::image_format},
        {"rescaled to no width", [](std::error_code &e) { return Raster(8, 8).rescaled(0, e); }, Errc::image_format},
        {"rescaled to no row", [](std::error_code &e) { return Raster(100, 1).rescaled(1, e); }, Errc::image_format},
    };
    for (const auto &c : cases) {
        std::error_code error;
        const Raster raster = c.make(error);
        EXPECT_EQ(error, c.expected) << c.what;
        EXPECT_TRUE(raster.width() == 1 && raster.height() == 1 && !raster.black(0, 0)) << c.what;
    }
    EXPECT_THROW(Raster::load("/nonexistent/logo.bmp"), vdl::Error);
    EXPECT_THROW(Raster(8, 8).rescaled(0), vdl::Error);
}

}  // namespace
}  // namespace vdltest

namespace vdltest {
namespace {

TEST_F(CppInterface, ZplPrintsWhatTheTranslatorMakesAndFailsNamingThePlace) {
    const std::string zpl = "^XA^FO10,20^A0N,30^FDHi^FS^HH^XZ";
    const auto codeOf = [](const std::function<void()> &call) {
        try {
            call();
        } catch (const vdl::Error &e) {
            return std::make_pair(e.code(), std::string(e.what()));
        }
        return std::make_pair(std::error_code(), std::string());
    };
    vdl::Printer p(printer.portName());
    vdl::zpl::Translation done;
    EXPECT_EQ(bytesOf([&] { done = vdl::zpl::print(p, zpl); }), "V10,20,U,30,30,0,N,N,N,0,L,0,'Hi'\rP1,1\r");
    EXPECT_EQ(done.labels, 1);
    EXPECT_EQ(done.warnings, std::vector<std::string>{"1:27: ^HH is not supported; skipped"});
    const auto [malformed, words] = codeOf([&] { vdl::zpl::print(p, "^XA^FO0,0"); });
    EXPECT_EQ(malformed, std::error_code(VDL_ZPL_ERR_SYNTAX, vdl::category()));
    EXPECT_EQ(words, "VdlZplPrint: 1:1: the label begun here has no ^XZ; not printed: the ZPL is malformed");
    EXPECT_EQ(codeOf([&] { vdl::zpl::convert(zpl); }).first, std::error_code(VDL_ZPL_ERR_BUSY, vdl::category()));
    EXPECT_EQ(bytesOf([&] { p.label([&] { EXPECT_EQ(codeOf([&] { vdl::zpl::print(p, zpl); }).first, Errc::label_under_way); }); }),
              "P1,1\r");
    vdl::Printer moved(std::move(p));
    EXPECT_EQ(codeOf([&] { vdl::zpl::print(p, zpl); }).first, Errc::not_connected);
}

}  // namespace
}  // namespace vdltest
