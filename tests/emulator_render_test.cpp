// The emulator's previews: symbols drawn from the library's commands are read
// back by independent decoders, and the other elements land where and as
// large as their fields say.
#include <functional>

#include "child_process.h"
#include "library_test.h"
#include "parser.h"
#include "emulated_printer.h"
#include "renderer.h"

namespace vdltest {
namespace {

using vdlemu::Canvas;
using vdlemu::Command;

std::vector<Command> decodeAll(const std::string &bytes) {
    vdlemu::Parser parser;
    parser.feed(bytes.data(), bytes.size());
    std::vector<Command> commands;
    Command command;
    while (parser.next(command)) commands.push_back(command);
    return commands;
}

struct Box {
    int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

Box inkBox(const Canvas &canvas) {
    Box box;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            if (!canvas.black(x, y)) continue;
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x);
            box.top = std::min(box.top, y);
            box.bottom = std::max(box.bottom, y);
        }
    }
    return box;
}

// ---------------------------------------------------------------------------
// Read back by an independent decoder

struct Readback {
    const char *what;
    std::function<int()> call;
    std::vector<std::string> reader;  // the decoder and its options; the image file is added
    std::string expected;
};

// zbar-tools and zxing-cpp-tools. zxing-cpp misses small Data Matrix and
// Aztec symbols when it searches a whole label, so those are read as the
// only symbol on the image.
const std::vector<std::string> kZbar = {"zbarimg", "--raw", "-q", "--nodbus"};
const std::vector<std::string> kZxing = {"ZXingReader", "-bytes"};
const std::vector<std::string> kZxingOnlySymbol = {"ZXingReader", "-ispure", "-bytes"};

void PrintTo(const Readback &r, std::ostream *os) { *os << r.what; }

class ReadbackTest : public LibraryTest, public ::testing::WithParamInterface<Readback> {};

std::string withoutTrailingNewline(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

TEST_P(ReadbackTest, DecoderReadsTheDataSent) {
    const Readback &r = GetParam();
    if (!onPath(r.reader.front()))
        GTEST_SKIP() << r.reader.front() << " is not installed (scripts/install-deps.sh installs zbar-tools and zxing-cpp-tools)";
    ASSERT_EQ(r.call(), 0);
    const std::vector<Command> commands = decodeAll(buffered());
    ASSERT_EQ(commands.size(), 1u);
    vdlemu::Renderer renderer;
    std::vector<std::string> problems;
    const Canvas canvas = renderer.render(commands, vdlemu::Paper{}, problems);
    EXPECT_TRUE(problems.empty()) << problems.front();

    TempDirectory directory;
    const std::string png = directory.path() + "/symbol.png";
    std::string error;
    ASSERT_TRUE(vdlemu::writePng(canvas, png, 203, error)) << error;
    std::vector<std::string> reader = r.reader;
    reader.push_back(png);
    const ProgramResult read = runProgram(reader);
    EXPECT_EQ(read.exitCode, 0);
    EXPECT_EQ(withoutTrailingNewline(read.output), r.expected);
}

std::string readbackName(const ::testing::TestParamInfo<Readback> &info) {
    std::string name;
    for (const char *c = info.param.what; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

const char *const kUrl = "https://example.com/t/PKG-000123456";

// Debian's zbar is built without its PDF417 and Data Matrix decoders, so
// those symbols (and Aztec) are read by zxing-cpp.
INSTANTIATE_TEST_SUITE_P(
    Symbols, ReadbackTest,
    ::testing::Values(
        Readback{"QR code", [] { return PrintQRCode(kUrl, 100, 100, 2, 1, 4, 0); }, kZbar, kUrl},
        Readback{"QR code turned", [] { return PrintQRCode(kUrl, 500, 100, 2, 3, 3, 1); }, kZbar, kUrl},
        Readback{"Code 128", [] { return Print1DBarcode("PKG-000123456", 100, 100, 1, 2, 4, 160, 0, 1); }, kZbar,
                 "PKG-000123456"},
        Readback{"Code 128 upside down", [] { return Print1DBarcode("LOT 42/B", 600, 400, 1, 3, 6, 100, 2, 0); },
                 kZbar, "LOT 42/B"},
        Readback{"Code 39", [] { return Print1DBarcode("CODE39", 100, 100, 0, 2, 5, 100, 0, 0); }, kZbar, "CODE39"},
        Readback{"EAN-13 with its check digit", [] { return Print1DBarcode("590123412345", 100, 100, 7, 3, 6, 150, 0, 1); },
                 kZbar, "5901234123457"},
        Readback{"PDF417", [] { return PrintPDF417("PDF417 TEST DATA 123", 100, 100, 10, 4, 2, 0, 0, 0, 3, 10, 0); },
                 kZxing, "PDF417 TEST DATA 123"},
        Readback{"PDF417 turned", [] { return PrintPDF417("SHIP-0042", 400, 100, 6, 3, 1, 0, 0, 0, 3, 12, 1); },
                 kZxing, "SHIP-0042"},
        Readback{"Data Matrix", [] { return PrintDataMatrix("DM TEST 42", 100, 100, 4, 0, 0); }, kZxingOnlySymbol,
                 "DM TEST 42"},
        Readback{"Aztec", [] { return PrintAztec("AZTEC 123", 100, 100, 4, 0, 0, 0, 15, 0, 0); }, kZxingOnlySymbol,
                 "AZTEC 123"}),
    readbackName);

// ---------------------------------------------------------------------------
// Geometry of the other elements

class RendererTest : public ::testing::Test {
protected:
    Canvas draw(const std::vector<std::string> &commands, int width = 800, int height = 800) {
        Canvas canvas(width, height);
        for (const std::string &bytes : commands) {
            const Command c = vdlemu::parseOne(bytes);
            EXPECT_EQ(c.outcome, vdlemu::Outcome::Decoded) << bytes << ": " << c.problem;
            renderer.draw(canvas, c, problems);
        }
        return canvas;
    }

    vdlemu::Renderer renderer;
    std::vector<std::string> problems;
};

struct Blocks {
    const char *what;
    std::vector<std::string> commands;
    std::size_t black;
};

void PrintTo(const Blocks &b, std::ostream *os) { *os << b.what; }

class BlockTest : public RendererTest, public ::testing::WithParamInterface<Blocks> {};

TEST_P(BlockTest, CoversExactlyItsDots) {
    const Canvas canvas = draw(GetParam().commands, 100, 100);
    EXPECT_EQ(canvas.blackCount(), GetParam().black);
}

INSTANTIATE_TEST_SUITE_P(
    Options, BlockTest,
    ::testing::Values(Blocks{"O fills", {"BD10,10,29,19,O\r"}, 200},
                      Blocks{"O with corners swapped", {"BD29,19,10,10,O\r"}, 200},
                      Blocks{"E inverts", {"BD10,10,29,19,O\r", "BD20,10,39,19,E\r"}, 200},
                      Blocks{"E twice leaves nothing", {"BD10,10,29,19,E\r", "BD10,10,29,19,E\r"}, 0},
                      Blocks{"D clears", {"BD10,10,29,19,O\r", "BD10,10,19,19,D\r"}, 100},
                      Blocks{"B frame of 3", {"BD10,10,49,29,B,3\r"}, 40 * 20 - 34 * 14},
                      Blocks{"B thicker than the box fills it", {"BD10,10,19,19,B,50\r"}, 100},
                      Blocks{"S line of 1", {"BD10,10,50,10,S,1\r"}, 41},
                      Blocks{"off the canvas is clipped", {"BD-2147483648,-5,2147483647,4,O\r"}, 500}));

TEST_F(RendererTest, CircleFillsTheSquareOfItsDiameter) {
    const Canvas small = draw({"CD100,100,1,1\r"});
    const Box box = inkBox(small);
    EXPECT_EQ(box.left, 100);
    EXPECT_EQ(box.top, 100);
    EXPECT_EQ(box.width(), 20);
    EXPECT_EQ(box.height(), 20);
    EXPECT_FALSE(small.black(110, 110));  // a ring, not a disc
    EXPECT_EQ(inkBox(draw({"CD100,100,6,4\r"})).width(), 120 * 4);
}

TEST_F(RendererTest, DeviceFontScalesByItsMultipliers) {
    const Box single = inkBox(draw({"T100,100,3,1,1,0,0,N,N,'HI'\r"}));
    const Box scaled = inkBox(draw({"T100,100,3,2,3,0,0,N,N,'HI'\r"}));
    ASSERT_GT(single.width(), 0);
    EXPECT_EQ(scaled.width(), 2 * single.width());
    EXPECT_EQ(scaled.height(), 3 * single.height());
    EXPECT_GT(inkBox(draw({"T100,100,8,1,1,0,0,N,N,'HI'\r"})).height(), single.height());
    EXPECT_TRUE(problems.empty());
}

// Rotation turns the text about its anchor, clockwise.
TEST_F(RendererTest, RotationTurnsAboutTheAnchor) {
    const Box upright = inkBox(draw({"T300,300,4,1,1,0,0,N,N,'TEXT'\r"}));
    const Box quarter = inkBox(draw({"T300,300,4,1,1,0,1,N,N,'TEXT'\r"}));
    const Box half = inkBox(draw({"T300,300,4,1,1,0,2,N,N,'TEXT'\r"}));
    const Box threeQuarters = inkBox(draw({"T300,300,4,1,1,0,3,N,N,'TEXT'\r"}));
    EXPECT_GE(upright.left, 300);
    EXPECT_GE(upright.top, 300);
    EXPECT_LE(quarter.right, 300);
    EXPECT_GE(quarter.top, 300);
    EXPECT_EQ(quarter.height(), upright.width());
    EXPECT_EQ(quarter.width(), upright.height());
    EXPECT_LE(half.right, 300);
    EXPECT_LE(half.bottom, 300);
    EXPECT_GE(threeQuarters.left, 300);
    EXPECT_LE(threeQuarters.bottom, 300);
}

TEST_F(RendererTest, VectorTextAlignsOnItsAnchor) {
    const Box left = inkBox(draw({"V400,100,U,40,40,0,N,N,N,0,L,0,'WIDE'\r"}));
    const Box centre = inkBox(draw({"V400,100,U,40,40,0,N,N,N,0,C,0,'WIDE'\r"}));
    const Box right = inkBox(draw({"V400,100,U,40,40,0,N,N,N,0,R,0,'WIDE'\r"}));
    EXPECT_GE(left.left, 400);
    EXPECT_LE(left.left, 405);
    EXPECT_LE(right.right, 400);
    EXPECT_GE(right.right, 390);
    EXPECT_NEAR((centre.left + centre.right) / 2.0, 400, 6);
    EXPECT_GT(inkBox(draw({"V400,100,U,40,80,0,N,N,N,0,L,0,'WIDE'\r"})).height(), left.height() * 3 / 2);
    const Box column = inkBox(draw({"V400,100,U,40,40,0,N,N,N,0,L,1,'WIDE'\r"}));
    EXPECT_GT(column.height(), column.width() * 2);
}

TEST_F(RendererTest, ReverseTextIsWhiteOnBlack) {
    const Canvas plain = draw({"V100,100,U,40,40,0,N,N,N,0,L,0,'AB'\r"});
    const Canvas reverse = draw({"V100,100,U,40,40,0,N,R,N,0,L,0,'AB'\r"});
    const Box box = inkBox(reverse);
    EXPECT_EQ(reverse.blackCount() + plain.blackCount(), std::size_t(box.width()) * std::size_t(box.height()));
}

// Text in the Asian and Thai code pages comes out as glyphs, not as nothing.
TEST_F(RendererTest, TextInEveryCodePageHasGlyphs) {
    for (const std::string &command : {std::string("T10,10,a,1,1,0,0,N,N,'\xC7\xD1\xB1\xB9'\r"),        // EUC-KR
                                       std::string("T10,10,m,1,1,0,0,N,N,'\xD6\xD0\xCE\xC4'\r"),        // GB18030
                                       std::string("V10,10,J,40,40,0,N,N,N,0,L,0,'\x93\xFA\x96\x7B'\r"),  // CP932
                                       std::string("V10,10,U,40,40,0,N,N,N,0,L,0,'\xE0\xB9\x84\xE0\xB8\x97\xE0\xB8\xA2'\r")}) {
        EXPECT_GT(draw({command}).blackCount(), 100u) << command;
    }
    EXPECT_TRUE(problems.empty());
}

TEST_F(RendererTest, BitmapIsDrawnExactlyAsDecoded) {
    const std::string raster = {'\xF0', '\x0F', '\x81', '\x7E'};
    Canvas canvas(100, 100);
    const Command c = vdlemu::parseOne(std::string("LD\x0A\0\x14\0\x02\0\x02\0", 10) + raster + "\r");
    renderer.draw(canvas, c, problems);
    std::size_t black = 0;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(canvas.black(10 + x, 20 + y), c.raster->black(x, y)) << x << "," << y;
            black += c.raster->black(x, y);
        }
    EXPECT_EQ(canvas.blackCount(), black);
}

TEST_F(RendererTest, SymbolThatCannotBeEncodedIsReportedAndMarked) {
    const Canvas canvas = draw({"B1100,100,7,2,4,100,0,0,'NOT DIGITS'\r"});
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems.front().find("zint"), std::string::npos) << problems.front();
    EXPECT_GT(canvas.blackCount(), 0u);
}

// ---------------------------------------------------------------------------
// The printer: answers, paper, previews

int pngSide(const std::string &png, int offset) {
    int value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(png[std::size_t(offset + i)]);
    return value;
}

TEST(EmulatedPrinter, AnswersQueriesAndPrintsAtThePaperSize) {
    TempDirectory directory;
    vdlemu::PrinterConfig config;
    config.modelName = "VRX-410";
    config.status = 0xC0;
    config.previewDirectory = directory.path();
    vdlemu::EmulatedPrinter printer(config);
    auto handle = [&](const std::string &bytes) {
        Command c = vdlemu::parseOne(bytes);
        return printer.handle(c);
    };
    EXPECT_EQ(handle("^PI0\r\n"), "VRX-410\r\n");
    EXPECT_EQ(handle("^cu\r"), "\xC0");
    EXPECT_EQ(handle("SL300,24,G,0\r"), "");
    EXPECT_EQ(handle("SW200\r"), "");
    EXPECT_EQ(handle("SW999999\r"), "");  // too large: kept
    EXPECT_EQ(printer.paper().width, 200);
    EXPECT_EQ(printer.paper().height, 300);
    handle("T10,10,3,1,1,0,0,N,N,'A'\r");
    handle("CB\r");
    EXPECT_EQ(printer.pendingElements(), 0u);
    handle("T10,10,3,1,1,0,0,N,N,'A'\r");
    Command print = vdlemu::parseOne("P1,1\r");
    printer.handle(print);
    EXPECT_EQ(printer.pendingElements(), 0u);
    ASSERT_EQ(print.notes.size(), 1u);
    EXPECT_EQ(print.notes[0].second, directory.path() + "/label-0001.png");
    const std::string png = readFile(directory.path() + "/label-0001.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(pngSide(png, 16), 200);
    EXPECT_EQ(pngSide(png, 20), 300);
    handle("@\r");
    EXPECT_EQ(printer.paper().width, config.paper.width);
}

TEST(EmulatedPrinter, LabelThatNeverPrintsStaysBounded) {
    vdlemu::PrinterConfig config;
    config.render = false;
    vdlemu::EmulatedPrinter printer(config);
    const Command circle = vdlemu::parseOne("CD1,1,1,1\r");
    for (std::size_t i = 0; i < vdlemu::EmulatedPrinter::kMaxLabelElements; ++i) {
        Command c = circle;
        printer.handle(c);
        ASSERT_TRUE(c.notes.empty());
    }
    Command oneMore = circle;
    printer.handle(oneMore);
    EXPECT_EQ(printer.pendingElements(), vdlemu::EmulatedPrinter::kMaxLabelElements);
    ASSERT_EQ(oneMore.notes.size(), 1u);
    EXPECT_EQ(oneMore.notes[0].first, "problem");
}

}  // namespace
}  // namespace vdltest
