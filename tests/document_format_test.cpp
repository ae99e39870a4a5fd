// The printer application's recognition of documents by their first bytes:
// pictures and rasters by their signatures, the printer's commands by their
// syntax, everything else unknown (and so refused, never sent to the printer).
#include <cstdint>
#include <functional>
#include <random>
#include <utility>

#include "document_format.h"
#include "image_files.h"
#include "library_test.h"

namespace vdltest {
namespace {

using namespace std::string_literals;

const char *detectedType(const std::string &document) {
    return vdlapp::mimeTypeOf(
        vdlapp::detectDocumentFormat(reinterpret_cast<const unsigned char *>(document.data()), document.size()));
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += char(v);
    return s;
}

TEST(DocumentFormatTest, FirstBytesTellTheFormat) {
    std::mt19937 random(7);
    std::string noise(4096, '\0');
    for (char &c : noise) c = char(random());
    const char *commands = vdlapp::kCommandsFormat;
    const struct {
        const char *what;
        std::string document;
        const char *type;  // nullptr: unknown
    } cases[] = {
        {"PNG", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s, "image/png"},
        {"JPEG (JFIF)", "\xff\xd8\xff\xe0\0\x10JFIF\0"s, "image/jpeg"},
        {"JPEG opening with its tables, which PAPPL misses", "\xff\xd8\xff\xdb\0\x43\0"s, "image/jpeg"},
        {"PWG raster", "RaS2PwgRaster\0"s + std::string(64, '\0'), "image/pwg-raster"},
        {"Apple raster", "UNIRAST\0\0\0\0\1"s, "image/urf"},
        {"a label: settings, text holding a quote, barcodes, print",
         "SS4\rSD8\rSL600,24,G,0\rSW800\rCB\rT10,20,3,1,1,0,0,N,N,'it's'\rB150,100,1,2,4,80,0,1,'12345'\r"
         "B21,2,Q,2,M,0,0,'HELLO'\rBD10,10,200,100,S,3\rP1,1\r",
         commands},
        {"model query, tilde actions, cutter and RFID with CR LF",
         "^PI0\r\n~JC\r\n~PH\r\nCUTy,5\r\nRWDn\r\n>RFW,E,'ABC'\r\n", commands},
        {"lines ended with LF alone", "SL600,24,G,0\nSW800\nP1,1\n", commands},
        {"a bitmap whose raster holds line ends, quotes and NUL",
         "LD" + bytes({0, 0, 0, 0, 2, 0, 2, 0, '\r', '\n', '\'', 0}) + "\rP1,1\r", commands},
        {"a compressed bitmap", "LCR" + bytes({0, 0, 0, 0, 0, 2, 0, 2, 0, 0x00, 3, 0x12}) + "\rP1,1\r", commands},
        {"cut inside its last command (only its start seen)", "SS4\rT10,20,3,1,1,0,0,N,N,'SHI", commands},
        {"cut inside a bitmap's raster", "CB\rLD" + bytes({0, 0, 0, 0, 100, 0, 100, 0}) + noise.substr(0, 50),
         commands},
        {"random bytes", noise, nullptr},
        {"GIF", "GIF89a\x10\0\x10\0\x80\0\0"s, nullptr},
        {"prose", "Please print the labels for order 4711.\nThanks\n", nullptr},
        {"text that opens like a command", "SS4 is the speed we want\r\n", nullptr},
        {"a command, then random bytes", "CB\r" + noise, nullptr},
        {"a bitmap not followed by CR", "LD" + bytes({0, 0, 0, 0, 1, 0, 1, 0, 0xFF}) + "X\r", nullptr},
        {"a run with the count 0", "LCR" + bytes({0, 0, 0, 0, 0, 1, 0, 1, 0, 0x00, 0x00}) + "\r", nullptr},
        {"a number past 32 bits", "SS2147483648\r", nullptr},
        {"a letter the field does not take", "SOX\r", nullptr},
        {"an RFID password of two parts, not four", ">RFZ,'a1,b2'\r\n", nullptr},
        {"no command whole", "T10,20,3,1,1,0,0,N,N,'a long text", nullptr},
        {"line ends only", "\r\n\r\n", nullptr},
        {"empty", "", nullptr},
    };
    for (const auto &c : cases) EXPECT_STREQ(detectedType(c.document), c.type) << c.what;
}

// Whatever the library sends, alone, reads as commands: the recognition
// knows every command and every form of its fields.
class LibraryCommandsTest : public LibraryTest {};

TEST_F(LibraryCommandsTest, EveryCommandTheLibrarySendsReadsAsCommands) {
    connectToFake();
    TempDir dir;
    std::vector<uint32_t> pixels(32, kWhite);
    for (int x : {0, 1, 2, 3, 20, 21}) pixels[std::size_t(x)] = kBlack;
    const std::string picture = dir.write("p.bmp", bmpFile(16, 2, pixels, {24}));
    const std::pair<const char *, std::function<int()>> calls[] = {
        {"print", [] { return Prints(2, 1); }},
        {"clear buffer", [] { return ClearBuffer(); }},
        {"status query", [] { return CheckPrinterStatus(); }},
        {"initialize", [] { return InitializePrinter(); }},
        {"calibrate", [] { return CalibrateMedia(); }},
        {"reset", [] { return ResetPrinter(); }},
        {"feed", [] { return FeedOneLabel(); }},
        {"speed", [] { return SetSpeed(15); }},
        {"density", [] { return SetDensity(-1); }},
        {"orientation", [] { return SetOrientation('B'); }},
        {"cutter period", [] { return SetCutter(1, -3); }},
        {"cutter off", [] { return SetCutter(0, 5); }},
        {"rewinder", [] { return SetRewinder(1); }},
        {"offset", [] { return SetOffset(-150); }},
        {"cut position", [] { return SetCutPostion(101); }},
        {"printing type", [] { return SetPrintingType(1); }},
        {"back feed", [] { return SetBackFeed(1); }},
        {"paper", [] { return SetPaper(800, 600, 2, 0, 24); }},
        {"margin", [] { return SetMargin(INT32_MIN, INT32_MAX); }},
        {"character set", [] { return SetCharacterSet(15, 255); }},
        {"device font, a quote in the text", [] { return PrintDeviceFont("A'B", 1, 2, 3, 1, 1, 0, 1); }},
        {"device font in EUC-KR", [] { return PrintDeviceFont("한국어", 1, 2, 'a', 2, 3, 1, 1); }},
        {"vector font", [] { return PrintVectorFont("a,b", -1, 2, 6, 3, 4, 5, 1, 1, 1, 3, 2, 1); }},
        {"block", [] { return PrintBlock(10, 10, 200, 100, 0, 7); }},
        {"block with a value", [] { return PrintBlock(10, 10, 200, 100, 4, -7); }},
        {"circle", [] { return PrintCircle(50, 60, 3, 2); }},
        {"linear barcode", [] { return Print1DBarcode("12345", 50, 100, 20, 2, 4, 80, 5, 1); }},
        {"MaxiCode", [] { return PrintMaxiCode("M", 1, 2, 1); }},
        {"PDF417", [] { return PrintPDF417("P", 1, 2, 91, 0, 9, 3, 0, 5, 1, 3, 4); }},
        {"QR Code", [] { return PrintQRCode("HELLO", 1, 2, 3, 2, 0, 1); }},
        {"Data Matrix", [] { return PrintDataMatrix("D", 1, 2, 4, 1, 2); }},
        {"Aztec", [] { return PrintAztec("A", 1, 2, 0, 2, 301, 2, 27, INT32_MIN, 5); }},
        {"Code 49", [] { return PrintCode49("C", 1, 2, INT32_MIN, -1, 99, 3, 8, 2); }},
        {"CODABLOCK", [] { return PrintCODABLOCK("ABC", 1, 2, 1, 2, 3, 1, 70, 0, 25); }},
        {"MicroPDF417", [] { return PrintMicroPDF("m", 1, 2, 1, 100, 34, 9); }},
        {"GS1 DataBar", [] { return PrintGS1DataBar("g", 1, 2, 6, 0, 3, INT32_MIN, 7, 0); }},
        {"bitmap", [&] { return PrintBitmap(picture.c_str(), 10, 20, 0); }},
        {"compressed bitmap", [&] { return PrintBitmap(picture.c_str(), 10, 20, 1); }},
        {"RFID setup", [] { return SetupRFID(9, 0, 7, 31); }},
        {"RFID calibrate", [] { return CalibrateRFID(); }},
        {"RFID position", [] { return SetRFIDPosition(-7); }},
        {"EPC structure", [] { return SetEPCDataStructure(-3, "96,8,3,3,20,24"); }},
        {"RFID write H", [] { return WriteRFID(2, 0, 99, "0A1B2C"); }},
        {"RFID write E", [] { return WriteRFID(4, 5, 6, "ABC"); }},
        {"RFID password", [] { return SetRFIDPassword("a1", "b2", "c3", "d4"); }},
        {"RFID lock", [] { return LockRFID(); }},
        {"RFID unlock", [] { return UnlockRFID(); }},
    };
    for (const auto &[what, call] : calls) {
        printer.clearReceived();
        initDataBuffer();
        ASSERT_GE(call(), 0) << what;
        EXPECT_STREQ(detectedType(printer.received() + buffered()), vdlapp::kCommandsFormat) << what;
    }
}

}  // namespace
}  // namespace vdltest
