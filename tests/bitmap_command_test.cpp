// The bitmap commands over the fake printer: the "LD" and "LCR" layouts, the
// run-length code, the emulator reading both back, and files the reader must
// refuse without sending anything.
#include <unistd.h>

#include <cstring>
#include <tuple>

#include "command.h"
#include "image_files.h"
#include "library_test.h"
#include "parser.h"
#include "runLength.h"

namespace vdltest {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += char(v);
    return s;
}

std::string encode(const std::string &data) {
    std::string out(vdl::maxRunLengthSize(data.size()), '\0');
    out.resize(vdl::encodeRunLength(reinterpret_cast<const unsigned char *>(data.data()), data.size(),
                                    reinterpret_cast<unsigned char *>(out.data())));
    return out;
}

// Runs crossing the encoder's 64-byte blocks, full counts and the last bytes
// of the input are where it can go wrong.
TEST(RunLengthTest, EncodesRunsOfWhiteAndBlackOnly) {
    std::string alternating, lone;  // every byte a token of two
    for (int i = 0; i < 50; ++i) alternating += bytes({0x00, 0xFF}), lone += bytes({0x00, 1, 0xFF, 1});
    const std::string literal64 = std::string(64, '\x12');
    const struct {
        std::string data, stream;
    } cases[] = {
        {std::string(600, '\0'), bytes({0x00, 0xFF, 0x00, 0xFF, 0x00, 0x5A})},
        {bytes({0x00, 0x00, 0x00, 0xFF, 0x12, 0xFF, 0xFF, 0x00}), bytes({0x00, 0x03, 0xFF, 0x01, 0x12, 0xFF, 0x02, 0x00, 0x01})},
        {bytes({0x12, 0x12, 0x12}), bytes({0x12, 0x12, 0x12})},
        {std::string(256, '\xFF'), bytes({0xFF, 0xFF, 0xFF, 0x01})},
        {std::string(63, '\x01') + std::string(300, '\0') + "\x01", std::string(63, '\x01') + bytes({0, 255, 0, 45, 1})},
        {literal64 + std::string(2, '\xFF') + literal64, literal64 + bytes({0xFF, 0x02}) + literal64},
        {alternating, lone},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(encode(c.data), c.stream) << c.data.size() << " bytes";
}

class BitmapCommandTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ASSERT_FALSE(dir.path().empty());
        connectToFake();
        sendScript().fd = connection().fd;
    }
    TempDir dir;
};

// A 16 x 2 picture: row 0 has pixels 0-3 and 12-15 black (F0 0F), row 1 is white.
std::string sixteenByTwo() {
    std::vector<uint32_t> pixels(32, kWhite);
    for (int x : {0, 1, 2, 3, 12, 13, 14, 15}) pixels[x] = kBlack;
    return bmpFile(16, 2, pixels, {24});
}

TEST_F(BitmapCommandTest, CommandsAreHeaderDataAndCrInThreeWrites) {
    const std::string picture = dir.write("16x2.bmp", sixteenByTwo());
    const std::string nine = dir.write("9x1.bmp", bmpFile(9, 1, std::vector<uint32_t>(9, kBlack), {24}));
    const std::string eight = dir.write("8x1.bmp", bmpFile(8, 1, std::vector<uint32_t>(8, kBlack), {24}));
    // File, x, y, compress, and the bytes sent.
    const std::tuple<std::string, int, int, unsigned char, std::string> cases[] = {
        {picture, 10, 20, 0, bytes({'L', 'D', 10, 0, 20, 0, 2, 0, 2, 0, 0xF0, 0x0F, 0x00, 0x00, 0x0D})},
        {picture, 10, 20, 1, bytes({'L', 'C', 'R', 0, 10, 0, 20, 0, 2, 0, 2, 0, 0xF0, 0x0F, 0x00, 0x02, 0x0D})},
        {picture, 10, 20, 2, bytes({'L', 'D', 10, 0, 20, 0, 2, 0, 2, 0, 0xF0, 0x0F, 0x00, 0x00, 0x0D})},
        {nine, 770, 1, 0, bytes({'L', 'D', 0x02, 0x03, 1, 0, 2, 0, 1, 0, 0xFF, 0x80, 0x0D})},  // 770 = 3 * 256 + 2
        {eight, 65536, -1, 255, bytes({'L', 'D', 0xFF, 0xFF, 0, 0, 1, 0, 1, 0, 0xFF, 0x0D})},
        {eight, INT32_MIN, INT32_MAX, 1, bytes({'L', 'C', 'R', 0, 0, 0, 0xFF, 0xFF, 1, 0, 1, 0, 0xFF, 1, 0x0D})},
    };
    for (const auto &[path, x, y, compress, sent] : cases) {
        printer.clearReceived();
        sendScript().asked.clear();
        ASSERT_EQ(PrintBitmap(path.c_str(), x, y, compress), 0);
        EXPECT_EQ(printer.received(), sent) << x << ", " << y << ", compress " << int(compress);
        const std::size_t header = compress == 1 ? 12 : 10;
        EXPECT_EQ(sendScript().asked, (std::vector<std::size_t>{header, sent.size() - header - 1, 1}));
    }
}

// Bitmaps are direct commands: they overtake label content still buffered.
TEST_F(BitmapCommandTest, BitmapGoesOutAheadOfBufferedContent) {
    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {"T10,10,'text'\r"}), 0);
    ASSERT_EQ(PrintBitmap(dir.write("16x2.bmp", sixteenByTwo()).c_str(), 0, 0, 0), 0);
    EXPECT_EQ(printer.received().substr(0, 2), "LD");
    EXPECT_EQ(buffered(), "T10,10,'text'\r");
}

// The emulator's parser, written apart from the library, reads both commands
// back into the picture's raster, long runs included, with nothing left over.
TEST_F(BitmapCommandTest, EmulatorReadsBothCommandsBackIntoThePicture) {
    Picture picture = randomPicture(203, 41, {kWhite, kWhite, kBlack, 0xFF808080}, 5);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 203; ++x) picture.at(x, y) = y % 7 == 0 ? kBlack : kWhite;
    const std::string path = dir.write("p.bmp", bmpFile(203, 41, picture.argb, {24}));
    ASSERT_EQ(PrintBitmap(path.c_str(), 12, 34, 1), 0);
    ASSERT_EQ(PrintBitmap(path.c_str(), 12, 34, 0), 0);

    vdlemu::Parser parser;
    parser.feed(printer.received().data(), printer.received().size());
    for (const char *code : {"LCR", "LD"}) {
        vdlemu::Command command;
        ASSERT_TRUE(parser.next(command)) << code;
        ASSERT_EQ(command.outcome, vdlemu::Outcome::Decoded) << code << ": " << command.problem;
        EXPECT_EQ(command.code, code);
        ASSERT_NE(command.raster, nullptr);
        EXPECT_EQ(command.raster->widthBytes, 26);
        EXPECT_EQ(rasterArt(command.raster->bytes, 203, 41), art(picture)) << code;
    }
    vdlemu::Command rest;
    EXPECT_FALSE(parser.next(rest) || parser.finish(rest));
}

// A picture of width or height 0 is empty, not wrong: header, no raster, CR. Sizes the
// 16-bit fields cannot carry, and negative ones, are refused with nothing sent.
TEST_F(BitmapCommandTest, DirectCommandsSendEveryRasterTheirFieldsCanDescribe) {
    const std::vector<unsigned char> raster(65535, 0xFF);
    BITMAPINFOHEADER info{};
    for (const auto &[width, height, sent] : std::vector<std::tuple<int, int, std::size_t>>{
             {0, 3, 11}, {8, 0, 11}, {524280, 1, 65546}, {-8, 2, 0}, {16, -1, 0}, {524281, 1, 0}, {8, 65536, 0}}) {
        info.biWidth = width;
        info.biHeight = height;
        printer.clearReceived();
        EXPECT_EQ(printLD(raster.data(), &info, 1, 2), sent != 0 ? 0 : VDL_ERR_IMAGE_FORMAT) << width;
        EXPECT_EQ(printLCR(raster.data(), &info, 1, 2), sent != 0 ? 0 : VDL_ERR_IMAGE_FORMAT) << width;
        EXPECT_EQ(printer.received().size() != 0, sent != 0) << width;
    }
    EXPECT_EQ(printLD(raster.data(), nullptr, 0, 0), VDL_ERR_IMAGE_FORMAT);
    info.biWidth = 0;
    info.biHeight = 3;
    printer.clearReceived();
    EXPECT_EQ(printLD(nullptr, &info, 1, 2), 0);
    EXPECT_EQ(printer.received(), bytes({'L', 'D', 1, 0, 2, 0, 0, 0, 3, 0, 0x0D}));
}

// Files the reader must not trust: the loader's code comes back, nothing is sent.
TEST_F(BitmapCommandTest, HostileFilesAreRefusedAndNothingIsSent) {
    const Picture picture = randomPicture(9, 3, {kWhite, kBlack}, 1);
    const std::string valid24 = bmpFile(9, 3, picture.argb, {24});  // rows of 27 bytes and 1 of padding
    const std::string valid8 = bmpFile(9, 3, std::vector<uint32_t>(27, 1), {8, 40, 0, std::vector<uint32_t>(256, 0)});
    const std::string valid32 = bmpFile(9, 3, picture.argb, {32});
    auto field = [](const std::string &file, std::size_t at, uint32_t value) {
        std::string damaged = file;
        put32(damaged, at, value);
        return damaged;
    };
    const std::pair<const char *, std::string> cases[] = {
        {"cut inside the info header", valid24.substr(0, 40)},
        {"pixel offset at 4 GiB", field(valid24, 10, 0xFFFFFFFF)},
        {"pixel array short of one used byte", valid24.substr(0, valid24.size() - 2)},
        {"width 0", field(valid24, 18, 0)},
        {"negative width", field(valid24, 18, uint32_t(-9))},
        {"height of INT_MIN", field(valid24, 22, 0x80000000)},
        {"60000 x 60000, tiny file", field(field(valid24, 18, 60000), 22, 60000)},
        {"core header (12 bytes)", field(valid24, 14, 12)},
        {"colour table past the end", field(valid8, 14, 0xFFFFFF00)},
        {"32 bits, bit fields, masks past the end", field(bmpFile(1, 1, {kBlack}, {32}), 30, 3)},
        {"32 bits, run-length compression", field(valid32, 30, 1)},
    };
    for (const auto &[what, file] : cases)
        EXPECT_EQ(PrintBitmap(dir.write("hostile.bmp", file).c_str(), 0, 0, 1), VDL_ERR_IMAGE_FORMAT) << what;
    EXPECT_EQ(PrintBitmap(dir.file("missing.bmp").c_str(), 0, 0, 0), VDL_ERR_IMAGE_OPEN);
    EXPECT_EQ(PrintBitmap(nullptr, 0, 0, 1), VDL_ERR_IMAGE_OPEN);
    EXPECT_EQ(printer.received(), "");
    // Only the last row's padding missing: every pixel is there, so it loads.
    EXPECT_EQ(load(dir.write("lenient.bmp", valid24.substr(0, valid24.size() - 1))).art(), art(picture));
}

// A raster label is printLCR (or printLD) and Prints in one paced write: the
// same bytes, the buffered content between bitmap and print command, and the
// pauses of a single writeData call of that length.
TEST_F(BitmapCommandTest, RasterLabelIsBitmapAndPrintCommandInOneWrite) {
    const Picture picture = randomPicture(203, 41, {kWhite, kWhite, kBlack, 0xFF808080}, 9);
    const std::vector<uint8_t> rasterBytes = expectedRaster(picture);
    const unsigned char *raster = rasterBytes.data();
    // width and rows (a part of the picture's raster), compress, x, y,
    // buffered content, first, second. A full buffer has no room for the
    // print command: Prints sends the content on its own first.
    const std::tuple<int, int, unsigned char, int, int, std::string, int, int> cases[] = {
        {203, 41, 1, 12, 34, "", 1, 1},
        {203, 41, 0, 12, 34, "", 3, 2},
        {203, 41, 1, -5, 70000, "T10,10,'text'\r", 1, 1},
        {203, 41, 2, 0, 0, std::string(3000, 'x'), INT32_MIN, INT32_MAX},
        {0, 41, 1, 1, 1, "T1,1,'a'\r", 1, 1},
        {9, 0, 0, 1, 1, "", 2, 1},
        {1, 1, 1, 0, 0, std::string(vdl::kBufferCapacity, 'y'), 1, 1},
        {17, 3, 0, 0, 0, std::string(vdl::kBufferCapacity - 4, 'z'), 12, 1},
    };
    const auto forgetReceived = [&] {
        (void)printer.received();  // takes in what is on its way
        printer.clearReceived();
    };
    for (const auto &[width, height, compress, x, y, content, first, second] : cases) {
        BITMAPINFOHEADER info{};
        info.biWidth = width;
        info.biHeight = height;
        const auto fill = [&, content = content] {
            initDataBuffer();
            std::memcpy(gPrintData, content.data(), content.size());
            gDataIndex = uint32_t(content.size());
        };
        fill();
        forgetReceived();
        ASSERT_EQ(compress == 1 ? printLCR(raster, &info, x, y) : printLD(raster, &info, x, y), 0);
        ASSERT_EQ(Prints(first, second), 0);
        const std::string separate = printer.received();

        fill();
        forgetReceived();
        resetPauses();
        ASSERT_EQ(PrintRasterLabel(raster, &info, x, y, compress, first, second), 0) << int(compress);
        EXPECT_TRUE(sameBytes(printer.received(), separate)) << int(compress) << ", " << content.size();
        EXPECT_EQ(buffered(), "");
        const std::vector<unsigned> oneLabel = pauses();

        resetPauses();
        ASSERT_EQ(writeData(separate.data(), uint32_t(separate.size())), int(separate.size()));
        EXPECT_EQ(oneLabel, pauses()) << "the pauses of one writeData call";
    }
}

// Sizes the fields cannot carry are refused as printLD refuses them, rasters
// too large to compose in memory with the allocation code, and a write that
// fails keeps the label's content: nothing is sent in any of these.
TEST_F(BitmapCommandTest, RasterLabelRefusesWhatItCannotSendWhole) {
    const std::vector<unsigned char> raster(64, 0xFF);
    const auto attempt = [&](int width, int height) {
        BITMAPINFOHEADER info{};
        info.biWidth = width;
        info.biHeight = height;
        return PrintRasterLabel(raster.data(), &info, 0, 0, 1, 1, 1);
    };
    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {"T10,10,'text'\r"}), 0);
    const std::tuple<const char *, int, int, int> cases[] = {
        {"negative width", -8, 2, VDL_ERR_IMAGE_FORMAT},
        {"65536 rows", 8, 65536, VDL_ERR_IMAGE_FORMAT},
        {"rows of 65536 bytes", 524288, 1, VDL_ERR_IMAGE_FORMAT},
        {"65535 x 1025 bytes, over 64 MiB", 524280, 1025, VDL_ERR_NO_MEMORY},
    };
    for (const auto &[what, width, height, code] : cases) EXPECT_EQ(attempt(width, height), code) << what;
    EXPECT_EQ(PrintRasterLabel(raster.data(), nullptr, 0, 0, 1, 1, 1), VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(printer.received(), "");

    DisconnectPrinter();
    EXPECT_EQ(attempt(8, 8), VDL_ERR_WRITE);
    EXPECT_EQ(buffered(), "T10,10,'text'\r");
}

}  // namespace
}  // namespace vdltest
