// The emulator's previews: symbols drawn from the library's commands are read
// back by independent decoders, and the other elements land where and as
// large as their fields say.
#include <functional>
#include <tuple>

#include "child_process.h"
#include "emulated_printer.h"
#include "library_test.h"
#include "parser.h"
#include "renderer.h"

namespace vdltest {
namespace {

using vdlemu::Canvas;
using vdlemu::Command;

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
            box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x), std::max(box.bottom, y)};
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

// zbar-tools and zxing-cpp-tools (Debian's zbar is built without PDF417 and
// Data Matrix). zxing-cpp misses small Data Matrix and Aztec symbols when it
// searches a whole label, so those are read as the only symbol on the image.
const std::vector<std::string> kZbar = {"zbarimg", "--raw", "-q", "--nodbus"};
const std::vector<std::string> kZxing = {"ZXingReader", "-bytes"};
const std::vector<std::string> kZxingOnlySymbol = {"ZXingReader", "-ispure", "-bytes"};

void PrintTo(const Readback &r, std::ostream *os) { *os << r.what; }

class ReadbackTest : public LibraryTest, public ::testing::WithParamInterface<Readback> {};

TEST_P(ReadbackTest, DecoderReadsTheDataSent) {
    const Readback &r = GetParam();
    if (!onPath(r.reader.front())) GTEST_SKIP() << r.reader.front() << " is not installed (scripts/install-deps.sh installs it)";
    ASSERT_EQ(r.call(), 0);
    const Command symbol = vdlemu::parseOne(buffered());
    vdlemu::Renderer renderer;
    std::vector<std::string> problems;
    const Canvas canvas = renderer.render({symbol}, vdlemu::Paper{}, problems);
    EXPECT_EQ(problems, std::vector<std::string>{});

    TempDirectory directory;
    std::vector<std::string> reader = r.reader;
    reader.push_back(directory.path() + "/symbol.png");
    std::string error;
    ASSERT_TRUE(vdlemu::writePng(canvas, reader.back(), 203, error)) << error;
    const ProgramResult read = runProgram(reader);
    EXPECT_EQ(read.exitCode, 0);
    EXPECT_EQ(read.output.substr(0, read.output.find_last_not_of("\r\n") + 1), r.expected);
}

const char *const kUrl = "https://example.com/t/PKG-000123456";

INSTANTIATE_TEST_SUITE_P(
    Symbols, ReadbackTest,
    ::testing::Values(
        Readback{"QR code", [] { return PrintQRCode(kUrl, 100, 100, 2, 1, 4, 0); }, kZbar, kUrl},
        Readback{"Code 128", [] { return Print1DBarcode("PKG-000123456", 100, 100, 1, 2, 4, 160, 0, 1); }, kZbar, "PKG-000123456"},
        Readback{"Code 128 upside down", [] { return Print1DBarcode("LOT 42/B", 600, 400, 1, 3, 6, 100, 2, 0); }, kZbar, "LOT 42/B"},
        Readback{"EAN-13 with its check digit", [] { return Print1DBarcode("590123412345", 100, 100, 7, 3, 6, 150, 0, 1); }, kZbar, "5901234123457"},
        Readback{"ITF-14 in its bearer box", [] { return Print1DBarcode("1540014128876", 100, 100, 15, 3, 6, 150, 0, 0); }, kZbar, "15400141288763"},
        Readback{"PDF417", [] { return PrintPDF417("PDF417 TEST DATA 123", 100, 100, 10, 4, 2, 0, 0, 0, 3, 10, 0); }, kZxing, "PDF417 TEST DATA 123"},
        Readback{"Data Matrix", [] { return PrintDataMatrix("DM TEST 42", 100, 100, 4, 0, 0); }, kZxingOnlySymbol, "DM TEST 42"},
        Readback{"Aztec", [] { return PrintAztec("AZTEC 123", 100, 100, 4, 0, 0, 0, 15, 0, 0); }, kZxingOnlySymbol, "AZTEC 123"}));

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

TEST_F(RendererTest, BlocksCoverExactlyTheirDots) {
    for (const auto &[commands, black] : std::vector<std::pair<std::vector<std::string>, std::size_t>>{
             {{"BD29,19,10,10,O\r"}, 200},                          // O fills, corners in any order
             {{"BD10,10,29,19,O\r", "BD20,10,39,19,E\r"}, 200},     // E inverts
             {{"BD10,10,29,19,O\r", "BD10,10,19,19,D\r"}, 100},     // D clears
             {{"BD10,10,49,29,B,3\r"}, 40 * 20 - 34 * 14},          // B: a frame of 3
             {{"BD10,10,50,10,S,1\r"}, 41},                         // S: a line of 1
             {{"BD-2147483648,-5,2147483647,4,O\r"}, 500}}) {       // clipped to the canvas
        EXPECT_EQ(draw(commands, 100, 100).blackCount(), black) << commands.back();
    }
}

TEST_F(RendererTest, CircleIsARingInTheSquareOfItsDiameter) {
    const Canvas small = draw({"CD100,100,1,1\r"});
    const Box box = inkBox(small);
    EXPECT_EQ(std::vector<int>({box.left, box.top, box.width(), box.height(), small.black(110, 110)}), std::vector<int>({100, 100, 20, 20, 0}));
    EXPECT_EQ(inkBox(draw({"CD100,100,6,4\r"})).width(), 120 * 4);
}

TEST_F(RendererTest, DeviceFontScalesByItsMultipliersAndTurnsAboutItsAnchor) {
    const Box single = inkBox(draw({"T300,300,3,1,1,0,0,N,N,'HI'\r"}));
    const Box scaled = inkBox(draw({"T300,300,3,2,3,0,0,N,N,'HI'\r"}));
    EXPECT_TRUE(single.width() > 0 && scaled.width() == 2 * single.width() && scaled.height() == 3 * single.height());
    const Box quarter = inkBox(draw({"T300,300,3,1,1,0,1,N,N,'HI'\r"}));
    const Box half = inkBox(draw({"T300,300,3,1,1,0,2,N,N,'HI'\r"}));
    EXPECT_TRUE(single.left >= 300 && single.top >= 300 && quarter.right <= 300 && quarter.top >= 300);
    EXPECT_TRUE(half.right <= 300 && half.bottom <= 300 && quarter.width() == single.height());
    EXPECT_TRUE(problems.empty());
}

TEST_F(RendererTest, VectorTextAlignsOnItsAnchor) {
    const Box left = inkBox(draw({"V400,100,U,40,40,0,N,N,N,0,L,0,'WIDE'\r"}));
    const Box centre = inkBox(draw({"V400,100,U,40,40,0,N,N,N,0,C,0,'WIDE'\r"}));
    const Box right = inkBox(draw({"V400,100,U,40,40,0,N,N,N,0,R,0,'WIDE'\r"}));
    EXPECT_TRUE(left.left >= 400 && left.left <= 405 && right.right <= 400 && right.right >= 390);
    EXPECT_NEAR((centre.left + centre.right) / 2.0, 400, 6);
    const Box column = inkBox(draw({"V400,100,U,40,40,0,N,N,N,0,L,1,'WIDE'\r"}));
    EXPECT_GT(column.height(), column.width() * 2);
    const Canvas reverse = draw({"V100,300,U,40,40,0,N,R,N,0,L,0,'AB'\r"});  // white on a black box
    EXPECT_EQ(reverse.blackCount() + draw({"V100,300,U,40,40,0,N,N,N,0,L,0,'AB'\r"}).blackCount(),
              std::size_t(inkBox(reverse).width() * inkBox(reverse).height()));
}

// Sizes are drawn as asked up to the paper, and what was limited is said.
TEST_F(RendererTest, VectorTextSizeIsDrawnAsAskedOrNoted) {
    EXPECT_GT(inkBox(draw({"V10,10,U,1500,1500,0,N,N,N,0,L,0,'I'\r"}, 400, 400)).height(), 150);
    EXPECT_GT(inkBox(draw({"V10,10,U,0,300,0,N,N,N,0,L,0,'I'\r"}, 400, 400)).height(), 150);  // width 0: as wide as high
    EXPECT_EQ(draw({"V10,10,U,20,0,0,N,N,N,0,L,0,'I'\r"}).blackCount(), 0u);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("drawn as 400 and 400"), std::string::npos) << problems[0];
}

// Text in the Asian and Thai code pages comes out as glyphs, not as nothing.
TEST_F(RendererTest, TextInEveryCodePageHasGlyphs) {
    // EUC-KR, GB18030, CP932 and Thai in UTF-8.
    for (const char *command : {"T10,10,a,1,1,0,0,N,N,'\xC7\xD1\xB1\xB9'\r", "T10,10,m,1,1,0,0,N,N,'\xD6\xD0\xCE\xC4'\r",
                                "V10,10,J,40,40,0,N,N,N,0,L,0,'\x93\xFA\x96\x7B'\r", "V10,10,U,40,40,0,N,N,N,0,L,0,'\xE0\xB9\x84\xE0\xB8\x97\xE0\xB8\xA2'\r"})
        EXPECT_GT(draw({command}).blackCount(), 100u) << command;
    EXPECT_TRUE(problems.empty());
}

TEST_F(RendererTest, BitmapIsDrawnExactlyAsDecoded) {
    const Canvas canvas = draw({std::string("LD\x0A\0\x14\0\x02\0\x02\0\xF0\x0F\x81\x7E\r", 15)}, 100, 100);
    std::string dots;
    for (int at = 0; at < 32; ++at) dots += canvas.black(10 + at % 16, 20 + at / 16) ? '#' : '.';
    EXPECT_EQ(dots, "####........#####......#.######.");
    EXPECT_EQ(canvas.blackCount(), 16u);
}

TEST_F(RendererTest, SymbolThatCannotBeEncodedIsReportedAndMarked) {
    EXPECT_GT(draw({"B1100,100,7,2,4,100,0,0,'NOT DIGITS'\r"}).blackCount(), 0u);
    EXPECT_NE(problems.at(0).find("zint"), std::string::npos) << problems[0];
}

// Drawing stops within its work and when it is called off, after whole
// elements; each element drawn says whether part of it fell off the paper.
TEST(RendererLimits, DrawingStopsWithinItsLimitsAndSaysWhatFellOffThePaper) {
    const std::vector<Command> elements = {vdlemu::parseOne("BD0,0,99,99,S,1\r"), vdlemu::parseOne("BD90,0,120,5,O\r"),
                                           vdlemu::parseOne("T500,10,3,1,1,0,0,N,N,'far'\r"),
                                           vdlemu::parseOne("CD10,10,1,1\r")};
    struct Case {
        uint64_t work;
        int answersYes;  // of stillWanted; -1: not asked
        std::size_t drawn;
        bool workSpent, abandoned;
    };
    for (const Case &c : {Case{vdlemu::kUnboundedWork, -1, 4, false, false}, Case{10200, -1, 2, true, false},
                          Case{9000, -1, 0, true, false}, Case{vdlemu::kUnboundedWork, 2, 2, false, true}}) {
        int asked = 0;
        vdlemu::DrawingLimits limits{c.work, nullptr};
        if (c.answersYes >= 0) limits.stillWanted = [&] { return asked++ < c.answersYes; };
        std::vector<std::string> problems;
        vdlemu::DrawingOutcome outcome;
        vdlemu::Renderer().render(elements, vdlemu::Paper{100, 100}, problems, nullptr, limits, &outcome);
        EXPECT_EQ(std::make_tuple(outcome.drawn, outcome.workSpent, outcome.abandoned), std::make_tuple(c.drawn, c.workSpent, c.abandoned))
            << c.work;
        EXPECT_EQ(problems.size(), c.drawn < elements.size() ? 1u : 0u);
        std::vector<bool> clipped = {false, true, true, false};  // the fill and the text reach past the paper
        clipped.resize(c.drawn);
        EXPECT_EQ(outcome.clipped, clipped);
    }
}

// ---------------------------------------------------------------------------
// The printer: answers, paper, bounds

TEST(EmulatedPrinter, PaperChangesWithinItsBoundsUntilAReset) {
    vdlemu::PrinterConfig config;
    config.render = false;
    vdlemu::EmulatedPrinter printer(config);
    for (const char *bytes : {"SL300,24,G,0\r", "SW200\r", "SW999999\r", "T10,10,3,1,1,0,0,N,N,'A'\r"}) {
        Command c = vdlemu::parseOne(bytes);
        printer.handle(c);
    }
    EXPECT_EQ(std::make_pair(printer.paper().width, printer.paper().height), std::make_pair(200, 300));  // 999999: too large
    EXPECT_EQ(printer.pendingElements(), 1u);
    Command reset = vdlemu::parseOne("@\r");
    printer.handle(reset);
    EXPECT_EQ(std::make_pair(printer.paper().width, printer.pendingElements()), std::make_pair(config.paper.width, std::size_t(0)));
}

TEST(EmulatedPrinter, LabelThatNeverPrintsStaysBounded) {
    vdlemu::PrinterConfig config;
    config.render = false;
    vdlemu::EmulatedPrinter printer(config);
    // 64 texts of just under 1 MiB fill the label's 64 MiB.
    Command text = vdlemu::parseOne("T1,1,3,1,1,0,0,N,N,'" + std::string((1 << 20) - 64, 'x') + "'\r");
    for (std::size_t i = 0; i <= 64; ++i) {
        Command c = text;
        printer.handle(c);
        EXPECT_EQ(c.notes.size() == 2 && c.notes[1].first == "problem", i == 64);  // after the text's encoding
    }
    EXPECT_EQ(printer.pendingElements(), 64u);
}

// Each element of a printed label comes with the command it came from and
// the box of the dots it drew (its ink, drawn alone); one off the paper, none.
TEST_F(RendererTest, PrintedLabelSaysWhereEachElementDrew) {
    const std::vector<std::string> elements = {"BD10,20,60,50,B,3\r", "CD300,40,3,2\r", "T200,300,3,1,2,0,1,N,N,'Ab'\r",
                                               "B21,400,Q,2,M,4,0,'box'\r", "BD900,900,950,950,O\r"};
    vdlemu::PrinterConfig config;
    config.previewDirectory.clear();
    vdlemu::EmulatedPrinter printer(config);
    for (std::size_t i = 0; i <= elements.size(); ++i) {
        Command c = vdlemu::parseOne(i < elements.size() ? elements[i] : "P1,1\r");
        printer.handle(c, {3, int(i) + 1});
    }
    const auto label = printer.takePrinted();
    ASSERT_TRUE(label && label->elements.size() == elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const Box ink = inkBox(draw({elements[i]}, config.paper.width, config.paper.height));
        const vdlemu::Box &box = label->elements[i].box;
        const std::vector<int> drawn = {box.x, box.y, box.x + box.width - 1, box.y + box.height - 1};
        EXPECT_EQ(drawn, ink.right < 0 ? std::vector<int>({0, 0, -1, -1}) : std::vector<int>({ink.left, ink.top, ink.right, ink.bottom}))
            << elements[i];
        EXPECT_EQ(std::make_pair(label->elements[i].origin.connection, label->elements[i].origin.sequence), std::make_pair(3, int(i) + 1));
    }
    EXPECT_TRUE(label->elements.back().box.empty());
    EXPECT_FALSE(printer.takePrinted());  // handed out once
}

}  // namespace
}  // namespace vdltest
