// The bitmap commands over the fake printer: the "LD" and "LCR" layouts, the
// run-length code (checked against a decoder written here), and files the
// reader must refuse without sending anything.
#include <unistd.h>

#include <random>

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
    const std::size_t n =
        vdl::encodeRunLength(reinterpret_cast<const unsigned char *>(data.data()), data.size(),
                             reinterpret_cast<unsigned char *>(out.data()));
    out.resize(n);
    return out;
}

// The printer's side of the code: decodes exactly `length` bytes from the
// stream at `at`, advancing it; fails on a zero count or a short stream.
::testing::AssertionResult decodeRunLength(const std::string &stream, std::size_t &at, std::size_t length,
                                           std::string &out) {
    while (out.size() < length) {
        if (at >= stream.size()) return ::testing::AssertionFailure() << "stream ends after " << out.size() << " bytes";
        const unsigned char byte = static_cast<unsigned char>(stream[at++]);
        if (byte != 0x00 && byte != 0xFF) {
            out += char(byte);
            continue;
        }
        if (at >= stream.size()) return ::testing::AssertionFailure() << "run without a count";
        const unsigned count = static_cast<unsigned char>(stream[at++]);
        if (count == 0) return ::testing::AssertionFailure() << "count 0 at " << at - 1;
        out.append(count, char(byte));
    }
    if (out.size() != length) return ::testing::AssertionFailure() << "decoded past the raster";
    return ::testing::AssertionSuccess();
}

TEST(RunLengthTest, EncodesRunsOfWhiteAndBlackOnly) {
    const struct {
        std::string data, stream;
    } cases[] = {
        {std::string(600, '\0'), bytes({0x00, 0xFF, 0x00, 0xFF, 0x00, 0x5A})},
        {bytes({0x00, 0x00, 0x00, 0xFF, 0x12, 0xFF, 0xFF, 0x00}), bytes({0x00, 0x03, 0xFF, 0x01, 0x12, 0xFF, 0x02, 0x00, 0x01})},
        {bytes({0x12, 0x12, 0x12}), bytes({0x12, 0x12, 0x12})},
        {std::string(255, '\xFF'), bytes({0xFF, 0xFF})},
        {std::string(256, '\xFF'), bytes({0xFF, 0xFF, 0xFF, 0x01})},
        {std::string(510, '\0'), bytes({0x00, 0xFF, 0x00, 0xFF})},
        {bytes({0x01, 0xFE}), bytes({0x01, 0xFE})},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(encode(c.data), c.stream);

    std::string alternating;
    for (int i = 0; i < 50; ++i) alternating += bytes({0x00, 0xFF});
    EXPECT_EQ(encode(alternating).size(), 200u);
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
std::vector<uint32_t> sixteenByTwo() {
    std::vector<uint32_t> pixels(32, kWhite);
    for (int x : {0, 1, 2, 3, 12, 13, 14, 15}) pixels[x] = kBlack;
    return pixels;
}

TEST_F(BitmapCommandTest, CommandsAreHeaderDataAndCrInThreeWrites) {
    const std::string picture = dir.write("16x2.bmp", bmpFile(16, 2, sixteenByTwo(), {24}));
    const std::string nine = dir.write("9x1.bmp", bmpFile(9, 1, std::vector<uint32_t>(9, kBlack), {24}));
    const std::string eight = dir.write("8x1.bmp", bmpFile(8, 1, std::vector<uint32_t>(8, kBlack), {24}));
    const struct {
        const std::string &path;
        int x, y;
        unsigned char compress;
        std::string bytes;
    } cases[] = {
        {picture, 10, 20, 0, bytes({'L', 'D', 10, 0, 20, 0, 2, 0, 2, 0, 0xF0, 0x0F, 0x00, 0x00, 0x0D})},
        {picture, 10, 20, 1, bytes({'L', 'C', 'R', 0, 10, 0, 20, 0, 2, 0, 2, 0, 0xF0, 0x0F, 0x00, 0x02, 0x0D})},
        {picture, 10, 20, 2, bytes({'L', 'D', 10, 0, 20, 0, 2, 0, 2, 0, 0xF0, 0x0F, 0x00, 0x00, 0x0D})},
        {nine, 300, 1, 0, bytes({'L', 'D', 0x2C, 0x01, 1, 0, 2, 0, 1, 0, 0xFF, 0x80, 0x0D})},
        {eight, 65536, -1, 255, bytes({'L', 'D', 0xFF, 0xFF, 0, 0, 1, 0, 1, 0, 0xFF, 0x0D})},
        {eight, INT32_MIN, INT32_MAX, 1, bytes({'L', 'C', 'R', 0, 0, 0, 0xFF, 0xFF, 1, 0, 1, 0, 0xFF, 1, 0x0D})},
    };
    for (const auto &c : cases) {
        printer.clearReceived();
        sendScript().asked.clear();
        ASSERT_EQ(PrintBitmap(c.path.c_str(), c.x, c.y, c.compress), 0);
        EXPECT_EQ(printer.received(), c.bytes) << c.x << ", " << c.y << ", compress " << int(c.compress);
        const std::size_t header = c.compress == 1 ? 12 : 10;
        EXPECT_EQ(sendScript().asked, (std::vector<std::size_t>{header, c.bytes.size() - header - 1, 1}));
    }
}

// Bitmaps are direct commands: they overtake label content still buffered.
TEST_F(BitmapCommandTest, BitmapGoesOutAheadOfBufferedContent) {
    ASSERT_EQ(vdl::append(vdl::defaultPrinter(), {"T10,10,'text'\r"}), 0);
    const std::string path = dir.write("16x2.bmp", bmpFile(16, 2, sixteenByTwo(), {24}));
    ASSERT_EQ(PrintBitmap(path.c_str(), 0, 0, 0), 0);
    EXPECT_EQ(printer.received().substr(0, 2), "LD");
    EXPECT_EQ(buffered(), "T10,10,'text'\r");
}

// Random pictures, with runs longer than one count can hold, decode back to
// their raster; no count is 0 and nothing follows the stream but CR.
TEST_F(BitmapCommandTest, CompressedPictureDecodesToItsRaster) {
    const std::vector<uint32_t> colours = {kWhite, kWhite, kWhite, kBlack, 0xFF336699};
    for (const auto &[width, height] : std::vector<std::pair<int, int>>{{203, 77}, {1, 1}, {64, 300}, {9, 2}}) {
        SCOPED_TRACE(width);
        Picture picture = randomPicture(width, height, colours, unsigned(width));
        for (int y = 0; y < height / 2; ++y)  // long runs too
            for (int x = 0; x < width; ++x) picture.at(x, y) = y % 7 == 0 ? kBlack : kWhite;
        const std::string path = dir.write("p.bmp", bmpFile(width, height, picture.argb, {24}));
        printer.clearReceived();
        ASSERT_EQ(PrintBitmap(path.c_str(), 5, 6, 1), 0);

        const std::string sent = printer.received();
        ASSERT_GE(sent.size(), 13u);
        const std::size_t rowBytes = std::size_t(uint8_t(sent[8]) | uint8_t(sent[9]) << 8);
        const std::size_t rows = std::size_t(uint8_t(sent[10]) | uint8_t(sent[11]) << 8);
        EXPECT_EQ(rowBytes, std::size_t((width + 7) / 8));
        EXPECT_EQ(rows, std::size_t(height));
        std::size_t at = 12;
        std::string raster;
        ASSERT_TRUE(decodeRunLength(sent, at, rowBytes * rows, raster));
        EXPECT_EQ(sent.substr(at), "\r");
        const std::vector<uint8_t> expected = expectedRaster(picture);
        EXPECT_TRUE(sameBytes(raster, std::string(expected.begin(), expected.end())));
    }
}

// The emulator's parser, written apart from the library, reads both commands
// back into the picture's raster, with nothing left over.
TEST_F(BitmapCommandTest, EmulatorReadsBothCommandsBackIntoThePicture) {
    const Picture picture = randomPicture(83, 41, {kWhite, kWhite, kBlack, 0xFF808080}, 5);
    const std::string path = dir.write("p.gif", bmpFile(83, 41, picture.argb, {24}));
    ASSERT_EQ(PrintBitmap(path.c_str(), 12, 34, 1), 0);
    ASSERT_EQ(PrintBitmap(path.c_str(), 12, 34, 0), 0);

    vdlemu::Parser parser;
    parser.feed(printer.received().data(), printer.received().size());
    const std::vector<uint8_t> expected = expectedRaster(picture);
    for (const char *code : {"LCR", "LD"}) {
        vdlemu::Command command;
        ASSERT_TRUE(parser.next(command)) << code;
        ASSERT_EQ(command.outcome, vdlemu::Outcome::Decoded) << code << ": " << command.problem;
        EXPECT_EQ(command.code, code);
        ASSERT_NE(command.raster, nullptr);
        EXPECT_EQ(command.raster->widthBytes, 11);
        EXPECT_EQ(command.raster->height, 41);
        EXPECT_EQ(rasterArt(command.raster->bytes, 83, 41), rasterArt(expected, 83, 41)) << code;
    }
    vdlemu::Command rest;
    EXPECT_FALSE(parser.next(rest) || parser.finish(rest));
}

TEST_F(BitmapCommandTest, CompressDataWritesTheStreamInOneWrite) {
    const std::string data = std::string(600, '\0') + "\x12" + std::string(3, '\xFF');
    ASSERT_EQ(compressData(reinterpret_cast<const unsigned char *>(data.data()), uint32_t(data.size())), 0);
    EXPECT_EQ(printer.received(), bytes({0x00, 0xFF, 0x00, 0xFF, 0x00, 0x5A, 0x12, 0xFF, 0x03}));
    EXPECT_EQ(sendScript().asked, std::vector<std::size_t>{9});
}

TEST_F(BitmapCommandTest, DirectCommandsRefuseRastersTheyCannotDescribe) {
    const unsigned char raster[4] = {0xFF, 0, 0, 0xFF};
    BITMAPINFOHEADER info{};
    const struct {
        int width, height;
    } invalid[] = {{0, 2}, {-8, 2}, {16, -1}, {524281, 1}, {8, 65536}};
    for (const auto &c : invalid) {
        info.biWidth = c.width;
        info.biHeight = c.height;
        EXPECT_EQ(printLD(raster, &info, 0, 0), VDL_ERR_IMAGE_FORMAT);
        EXPECT_EQ(printLCR(raster, &info, 0, 0), VDL_ERR_IMAGE_FORMAT);
    }
    EXPECT_EQ(printLD(raster, nullptr, 0, 0), VDL_ERR_IMAGE_FORMAT);
    info.biWidth = 16;
    info.biHeight = 2;
    EXPECT_EQ(printLD(nullptr, &info, 0, 0), VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(printer.received(), "");

    EXPECT_EQ(printLD(raster, &info, 1, 2), 0);
    EXPECT_EQ(printLCR(raster, &info, 1, 2), 0);
    EXPECT_EQ(printer.received(), bytes({'L', 'D', 1, 0, 2, 0, 2, 0, 2, 0, 0xFF, 0, 0, 0xFF, 0x0D, 'L', 'C', 'R', 0, 1,
                                         0, 2, 0, 2, 0, 2, 0, 0xFF, 1, 0, 2, 0xFF, 1, 0x0D}));
}

// ---------------------------------------------------------------------------
// Files the reader must not trust: a clear code, nothing sent
// ---------------------------------------------------------------------------

void put32(std::string &file, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = char(value >> (8 * i) & 0xFF);
}

struct HostileCase {
    const char *what;
    const std::string &valid;
    std::function<void(std::string &)> damage;
};

TEST_F(BitmapCommandTest, HostileHeadersAreRefusedAndNothingIsSent) {
    const Picture picture = randomPicture(9, 3, {kWhite, kBlack}, 1);
    BmpLayout eightBits{8, 40, 0, std::vector<uint32_t>(256, 0)};
    const std::string valid24 = bmpFile(9, 3, picture.argb, {24});  // rows of 27 bytes and 1 of padding
    const std::string valid8 = bmpFile(9, 3, std::vector<uint32_t>(27, 1), eightBits);
    const std::string valid32 = bmpFile(9, 3, picture.argb, {32});
    const std::string tiny32 = bmpFile(1, 1, {kBlack}, {32});  // pixels at 54, file of 58 bytes
    auto field = [](std::size_t at, uint32_t value) { return [=](std::string &f) { put32(f, at, value); }; };
    auto cut = [](std::size_t size) { return [=](std::string &f) { f.resize(size); }; };
    const HostileCase cases[] = {
        {"only the signature", valid24, cut(2)},
        {"cut inside the info header", valid24, cut(40)},
        {"cut at the end of the info header", valid24, cut(53)},
        {"pixel offset past the end", valid24, field(10, uint32_t(valid24.size()))},
        {"pixel offset at 4 GiB", valid24, field(10, 0xFFFFFFFF)},
        {"pixel array short of one used byte", valid24, cut(valid24.size() - 2)},
        {"width 0", valid24, field(18, 0)},
        {"negative width", valid24, field(18, uint32_t(-9))},
        {"height 0", valid24, field(22, 0)},
        {"top-down rows (negative height)", valid24, field(22, uint32_t(-3))},
        {"huge width", valid24, field(18, 0x7FFFFFFF)},
        {"huge height", valid24, field(22, 0x7FFFFFFF)},
        {"65535 x 65535", valid24, [&](std::string &f) { put32(f, 18, 65535), put32(f, 22, 65535); }},
        {"width past 65535", valid24, field(18, 65536)},
        {"stride x height past 32 bits", valid24, [&](std::string &f) { put32(f, 18, 60000), put32(f, 22, 60000); }},
        {"100 M pixels, tiny file", valid24, [&](std::string &f) { put32(f, 18, 10000), put32(f, 22, 10000); }},
        {"core header (12 bytes)", valid24, field(14, 12)},
        {"colour table past the end", valid8, field(14, 0xFFFFFF00)},
        {"depth 0", valid24, field(28, 0)},
        {"depth 16", valid24, field(28, 16)},
        {"32 bits, bit fields, masks past the end", tiny32, field(30, 3)},
        {"32 bits, run-length compression", valid32, field(30, 1)},
        {"32 bits, short rows", valid32, cut(valid32.size() - 1)},
    };
    for (const bool printing : {false, true}) {
        for (const HostileCase &c : cases) {
            SCOPED_TRACE(c.what);
            std::string file = c.valid;
            c.damage(file);
            const std::string path = dir.write("hostile.bmp", file);
            printer.clearReceived();
            if (printing)
                EXPECT_EQ(PrintBitmap(path.c_str(), 0, 0, 1), VDL_ERR_IMAGE_FORMAT);
            else
                EXPECT_EQ(load(path).code, VDL_ERR_IMAGE_FORMAT);
            EXPECT_EQ(printer.received(), "");
        }
    }
    // Only the last row's padding missing: every pixel is there, so it loads.
    EXPECT_EQ(load(dir.write("lenient.bmp", valid24.substr(0, valid24.size() - 1))).art(),
              rasterArt(expectedRaster(picture), 9, 3));
}

// Random damage to the headers of valid files of every depth: the load either
// succeeds with a consistent raster or fails with a code (the sanitizer build
// catches any read outside the file).
TEST_F(BitmapCommandTest, RandomlyDamagedHeadersNeverReadOutsideTheFile) {
    const Picture picture = randomPicture(13, 5, {kWhite, kBlack, 0x80FF0000, 0x00000000}, 2);
    BmpLayout one{1, 40, 0, {0, 0xFFFFFF}}, four{4, 40, 0, std::vector<uint32_t>(16, 0x808080)},
        eight{8, 40, 0, std::vector<uint32_t>(256, 0xFFFFFF)};
    const std::vector<uint32_t> indices(13 * 5, 1);
    const std::string originals[] = {bmpFile(13, 5, picture.argb, {24}), bmpFile(13, 5, picture.argb, {32}),
                                     bmpFile(13, 5, indices, one), bmpFile(13, 5, indices, four),
                                     bmpFile(13, 5, indices, eight)};
    std::mt19937 random(99);
    int loaded = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string file = originals[round % 5];
        for (int hits = random() % 4 + 1; hits > 0; --hits) {
            const std::size_t at = random() % 70;
            const int kind = random() % 3;
            file[at] = kind == 0 ? char(random()) : kind == 1 ? '\xFF' : '\0';
        }
        if (random() % 4 == 0) file.resize(random() % file.size());
        // A new file each time: rewriting one file in place makes ext4 flush it.
        const std::string path = dir.write(std::to_string(round) + (round % 2 ? ".bmp" : ".BMP"), file);
        const Loaded result = load(path);
        unlink(path.c_str());
        ASSERT_TRUE(result.code == 0 || result.code == VDL_ERR_IMAGE_FORMAT) << result.code;
        if (result.code == 0) {
            ++loaded;
            ASSERT_GT(result.info.biWidth, 0);
            ASSERT_GT(result.info.biHeight, 0);
        }
    }
    EXPECT_GT(loaded, 100);  // the damage left many files loadable: the good path was exercised too
}

TEST_F(BitmapCommandTest, FileThatFailsToLoadSendsNothing) {
    EXPECT_EQ(PrintBitmap(dir.file("missing.bmp").c_str(), 0, 0, 0), VDL_ERR_IMAGE_OPEN);
    EXPECT_EQ(PrintBitmap(nullptr, 0, 0, 1), VDL_ERR_IMAGE_OPEN);
    EXPECT_EQ(PrintBitmap(dir.write("a.txt", "text").c_str(), 0, 0, 1), VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(printer.received(), "");
    EXPECT_TRUE(sendScript().asked.empty());
}

}  // namespace
}  // namespace vdltest
