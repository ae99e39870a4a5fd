// Loading BMP files written by the tests: reduction to one bit per pixel,
// the extension rules, refusal of files the reader cannot trust, the
// rescaler, and the small utilities of the image module.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <functional>
#include <random>

#include "image_files.h"

namespace vdltest {
namespace {

// The trace record of one step: the function name padded to 25 columns.
std::string traceLine(const std::string &function, const std::string &text) {
    return "[" + function + std::string(function.size() < 25 ? 25 - function.size() : 0, ' ') + "] " + text + "\n";
}

class ImageLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        gWriteLog = 0;
        ASSERT_FALSE(dir.path().empty());
    }
    void TearDown() override { stopTracing(); }

    // Traces into dir/log.txt from here on.
    void startTracing() {
        ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        tracing_ = true;
        gWriteLog = 1;
    }
    void stopTracing() {
        gWriteLog = 0;
        if (tracing_) {
            EXPECT_EQ(chdir(previous_), 0);
        }
        tracing_ = false;
    }
    std::string log() const { return readFile(dir.file("log.txt")); }

    TempDir dir;

private:
    char previous_[PATH_MAX] = {};
    bool tracing_ = false;
};

std::vector<uint32_t> randomIndices(int width, int height, uint32_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint32_t> indices(std::size_t(width) * height);
    for (uint32_t &i : indices) i = random() % count;
    return indices;
}

// Colours next to white must print black: only 255, 255, 255 is white.
const std::vector<uint32_t> kNearWhite = {kWhite, kBlack, 0xFFFEFFFF, 0xFFFFFEFF, 0xFFFFFFFE, 0xFF808080, 0xFF00FF00};

struct StoredCase {
    const char *what;
    const char *name;
    int width, height;
    BmpLayout layout;
    int reportedBitCount;  // in info: the file's, or 24 after a conversion
};

// Palettes whose entry 0 is black, as many writers order them.
const std::vector<uint32_t> kBlackFirst2 = {0x000000, 0xFFFFFF};
const std::vector<uint32_t> kWhiteFirst2 = {0xFFFFFF, 0x000000};
const std::vector<uint32_t> kBlackFirst16 = {0x000000, 0xFFFFFF, 0xFEFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x808080,
                                             0xFFFFFE, 0x101010, 0xC0C0C0, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x7F7F7F,
                                             0xFFFFFF, 0x010101};

TEST_F(ImageLoadTest, BmpFilesReduceToTheirPicturePixelByPixel) {
    const StoredCase cases[] = {
        {"24 bits", "a.bmp", 9, 4, {24}, 24},
        {"24 bits, width 1", "a.bmp", 1, 5, {24}, 24},
        {"24 bits, width 8", "a.bmp", 8, 3, {24}, 24},
        {"24 bits, width 100 (rows of 13 bytes)", "a.bmp", 100, 3, {24}, 24},
        {"8 bits, entry 0 black", "a.bmp", 9, 4, {8, 40, 0, kBlackFirst16}, 8},
        {"4 bits, odd width", "a.bmp", 9, 3, {4, 40, 0, kBlackFirst16}, 4},
        {"4 bits, width 1", "a.bmp", 1, 4, {4, 40, 0, kBlackFirst16}, 4},
        {"1 bit read through its table (BMP)", "a.BMP", 9, 3, {1, 40, 0, kBlackFirst2}, 1},
        {"1 bit, entry 1 black (BMP)", "a.BMP", 9, 3, {1, 40, 0, kWhiteFirst2}, 1},
        {"1 bit, width 1 (BMP)", "a.BMP", 1, 6, {1, 40, 0, kBlackFirst2}, 1},
        {"1 bit converted (bmp)", "a.bmp", 9, 3, {1, 40, 0, kBlackFirst2}, 24},
        {"1 bit converted, entry 1 black", "a.bmp", 17, 2, {1, 40, 0, kWhiteFirst2}, 24},
        {"8 bits under a larger header", "a.bmp", 5, 5, {8, 108, 0, kBlackFirst16}, 8},
    };
    for (const StoredCase &c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint32_t> &palette = c.layout.palette;
        Picture picture(c.width, c.height);
        std::vector<uint32_t> pixels;
        if (palette.empty()) {
            picture = randomPicture(c.width, c.height, kNearWhite, unsigned(c.width * 31 + c.height));
            pixels = picture.argb;
        } else {
            pixels = randomIndices(c.width, c.height, uint32_t(palette.size()), unsigned(c.width + c.height));
            picture = paletteAsPicture(c.width, c.height, pixels, palette);
        }
        BmpLayout layout = c.layout;
        if (!palette.empty()) layout.palette.resize(std::size_t(1) << layout.bitCount, 0x123456);
        const std::string path = dir.write(c.name, bmpFile(c.width, c.height, pixels, layout));

        const Loaded loaded = load(path);
        ASSERT_EQ(loaded.code, 0);
        EXPECT_EQ(loaded.info.biWidth, c.width);
        EXPECT_EQ(loaded.info.biHeight, c.height);
        EXPECT_EQ(loaded.info.biBitCount, c.reportedBitCount);
        EXPECT_EQ(loaded.raster.size(), std::size_t((c.width + 7) / 8 * c.height));
        EXPECT_EQ(loaded.art(), rasterArt(expectedRaster(picture), c.width, c.height));
    }
}

// 32-bit files are widened: their alpha is laid over white, so a logo on a
// transparent background does not print as a black box.
TEST_F(ImageLoadTest, ThirtyTwoBitFilesLayTheirAlphaOverWhite) {
    const std::vector<uint32_t> colours = {0x00000000, 0xFF000000, 0x80000000, 0x80FFFFFF, 0xFFFFFFFF, 0x01402000};
    const Picture picture = randomPicture(11, 5, colours, 3);

    const Loaded rgb = load(dir.write("rgb.bmp", bmpFile(11, 5, picture.argb, {32})));
    ASSERT_EQ(rgb.code, 0);
    EXPECT_EQ(rgb.info.biBitCount, 24);
    EXPECT_EQ(rgb.art(), rasterArt(expectedRaster(picture), 11, 5));

    // Bit fields in another channel order: red low, blue high, alpha on top.
    std::vector<uint32_t> swapped;
    for (uint32_t p : picture.argb) swapped.push_back((p & 0xFF00FF00) | (p >> 16 & 0xFF) | (p & 0xFF) << 16);
    BmpLayout fields{32, 56, 3};
    std::string file = bmpFile(11, 5, swapped, fields);
    const uint32_t masks[] = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
    std::memcpy(&file[54], masks, sizeof masks);  // inside the 56-byte header
    const Loaded withFields = load(dir.write("fields.bmp", file));
    ASSERT_EQ(withFields.code, 0);
    EXPECT_EQ(withFields.art(), rgb.art());

    // A fourth byte that is zero everywhere is no alpha: the colours count.
    Picture opaque = picture;
    for (uint32_t &p : opaque.argb) p |= 0xFF000000;
    std::vector<uint32_t> zeroAlpha;
    for (uint32_t p : opaque.argb) zeroAlpha.push_back(p & 0xFFFFFF);
    const Loaded noAlpha = load(dir.write("zero.bmp", bmpFile(11, 5, zeroAlpha, {32})));
    ASSERT_EQ(noAlpha.code, 0);
    EXPECT_EQ(noAlpha.art(), rasterArt(expectedRaster(opaque), 11, 5));
}

TEST_F(ImageLoadTest, LoadImage1ReadsTheColourTableAtOffset54) {
    // A 44-byte info header: the table starts at 58. Its four extra bytes hold white.
    BmpLayout layout{1, 44, 0, kBlackFirst2};
    std::string file = bmpFile(8, 1, {0, 1, 0, 1, 1, 1, 0, 0}, layout);
    file[54] = file[55] = file[56] = char(0xFF);
    const std::string path = dir.write("a.BMP", file);

    EXPECT_EQ(load(path).art(), "#.#...##\n");   // entry 0 black, as the file says
    EXPECT_EQ(load1(path).art(), ".#.###..\n");  // entry 0 read from 54: white; entry 1 then black
}

struct NameCase {
    const char *name;
    std::function<std::string()> content;
    int code;
    const char *function;  // the refusal's trace: function and message
    const char *message;
};

TEST_F(ImageLoadTest, TheNameDecidesWhatIsConvertedAndWhatIsRefused) {
    const Picture picture = randomPicture(9, 3, kNearWhite, 5);
    auto bmp = [&](int bits) { return [&picture, bits] { return bmpFile(9, 3, picture.argb, {bits}); }; };
    auto sixteenBits = [&] {
        std::string file = bmpFile(9, 3, picture.argb, {24});
        file[28] = 16;
        return file;
    };
    auto text = [] { return std::string("not a picture"); };
    const NameCase cases[] = {
        {"a.bmp", bmp(24), 0, nullptr, nullptr},
        {"a.bmpx", bmp(32), 0, nullptr, nullptr},  // "bmp..." names are probed, and 32 bits converted
        {"a.BMP", bmp(32), VDL_ERR_IMAGE_FORMAT, "loadImage", "This is not supported bit image."},
        {"a.bmp", sixteenBits, VDL_ERR_IMAGE_FORMAT, "loadImage", "This is not supported bit image."},
        {"a.png", bmp(24), 0, nullptr, nullptr},
        {"no-extension", bmp(24), 0, nullptr, nullptr},
        {"dir.v2", bmp(24), 0, nullptr, nullptr},
        {"a.gif", bmp(24), 0, nullptr, nullptr},  // converted: the converter goes by the content
        {"a.jpg", text, VDL_ERR_IMAGE_FORMAT, "loadImage", "Failed to convert image."},
        {"a.txt", text, VDL_ERR_IMAGE_FORMAT, "loadImage", "This is not BMP file."},
        {"a.bmp", [] { return std::string("BM"); }, VDL_ERR_IMAGE_FORMAT, "GetImageBit", "This is not BMP file."},
        {"a.bmp", [] { return std::string(); }, VDL_ERR_IMAGE_FORMAT, "GetImageBit", "This is not BMP file."},
    };
    startTracing();
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write(c.name, c.content());
        const std::size_t logged = log().size();
        const Loaded loaded = load(path);
        EXPECT_EQ(loaded.code, c.code);
        if (c.code == 0) {
            EXPECT_EQ(loaded.art(), rasterArt(expectedRaster(picture), 9, 3));
        } else {
            EXPECT_NE(log().find(traceLine(c.function, c.message), logged), std::string::npos) << log().substr(logged);
        }
        unlink(path.c_str());
    }
}

TEST_F(ImageLoadTest, UnopenableFilesGiveTheOpenCode) {
    ASSERT_EQ(mkdir(dir.file("folder.bmp").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo.bmp").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);
    for (const char *name : {"missing.bmp", "missing.jpg", "missing", "folder.bmp", "fifo.bmp", "fifo.jpg"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(load(dir.file(name)).code, VDL_ERR_IMAGE_OPEN);
        EXPECT_EQ(GetImageBit(dir.file(name).c_str()), VDL_ERR_IMAGE_OPEN);
    }
    unsigned char *image = nullptr;
    BITMAPINFOHEADER info{};
    EXPECT_EQ(loadImage(nullptr, &image, &info, 0), VDL_ERR_IMAGE_OPEN);
    EXPECT_EQ(loadImage1(nullptr, &image, &info), VDL_ERR_IMAGE_OPEN);
    EXPECT_EQ(GetImageBit(nullptr), VDL_ERR_IMAGE_OPEN);
    const std::string path = dir.write("a.bmp", bmpFile(1, 1, {kBlack}, {24}));
    EXPECT_EQ(loadImage(path.c_str(), nullptr, &info, 0), VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(loadImage(path.c_str(), &image, nullptr, 0), VDL_ERR_IMAGE_FORMAT);
}

// ---------------------------------------------------------------------------
// Rescaling
// ---------------------------------------------------------------------------

// A white picture with black pixels where `black` says.
std::string bmpWith(int width, int height, const std::function<bool(int, int)> &black) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(black(x, y) ? kBlack : kWhite);
    return bmpFile(width, height, pixels, {24});
}

TEST_F(ImageLoadTest, RescalingSamplesTheNearestPixelWithTheRatiosOfTheSourceSize) {
    // 100 x 50 to width 50: height 25, rows of 7 bytes; x_ratio 99/50 = 1.98
    // and y_ratio 49/25 = 1.96 sample column 97 for column 49 and row 47 for
    // row 24. Columns 98 and 99 and rows 48 and 49 are never sampled.
    const std::string path = dir.write("a.bmp", bmpWith(100, 50, [](int x, int y) { return x == 97 || y == 47; }));
    startTracing();
    const Loaded loaded = load(path, 50);
    ASSERT_EQ(loaded.code, 0);
    EXPECT_EQ(loaded.info.biWidth, 50);
    EXPECT_EQ(loaded.info.biHeight, 25);
    EXPECT_EQ(loaded.info.biSizeImage, 15000u);  // still the file's
    ASSERT_EQ(loaded.raster.size(), 7u * 25);
    std::string expected;
    for (int j = 0; j < 25; ++j) expected += j == 24 ? std::string(50, '#') + "\n" : std::string(49, '.') + "#\n";
    EXPECT_EQ(loaded.art(), expected);

    const std::string trace = log();
    std::size_t at = 0;
    for (const auto &[function, text] : std::vector<std::pair<std::string, std::string>>{
             {"loadImage", "pixel index : 5000"},
             {"loadImage", "resize image."},
             {"resizeImage", "biWidth : 100, biHeight : 50"},
             {"resizeImage", "x_ratio : 1.980000, height : 25, y_ratio: 1.960000"},
             {"resizeImage", "start"},
             {"resizeImage", "end"},
             {"loadImage", "success"}}) {
        at = trace.find(traceLine(function, text), at);
        ASSERT_NE(at, std::string::npos) << text << "\n" << trace;
    }
}

TEST_F(ImageLoadTest, RescalingUsesSinglePrecision) {
    // 3 x 27 to width 7: 7/3 in single precision times 27 is 62.99..., so
    // the new height is 62, where exact arithmetic would give 63.
    Loaded loaded = load(dir.write("a.bmp", bmpWith(3, 27, [](int, int) { return false; })), 7);
    ASSERT_EQ(loaded.code, 0);
    EXPECT_EQ(loaded.info.biHeight, 62);

    // 2 x 1 to width 82: column 41 samples 41 * (1/82 in single precision)
    // = 0.49999997, plus 0.5, so source column 0; in double it would be 1.
    loaded = load(dir.write("b.bmp", bmpWith(2, 1, [](int x, int) { return x == 1; })), 82);
    ASSERT_EQ(loaded.code, 0);
    ASSERT_EQ(loaded.info.biHeight, 41);
    const std::string firstRow = loaded.art().substr(0, 82);
    EXPECT_EQ(firstRow, std::string(42, '.') + std::string(40, '#'));
}

TEST_F(ImageLoadTest, RescalingEdgeCases) {
    const std::string checker = dir.write("a.bmp", bmpWith(2, 2, [](int x, int y) { return (x + y) % 2 == 1; }));
    struct {
        int targetWidth;
        int width, height;
        const char *art;
    } cases[] = {
        {0, 2, 2, ".#\n#.\n"},
        {2, 2, 2, ".#\n#.\n"},
        {-5, 2, 2, ".#\n#.\n"},  // a negative width is taken as 0
        {4, 4, 4, "..##\n..##\n##..\n##..\n"},
        {1, 1, 1, ".\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.targetWidth);
        const Loaded loaded = load(checker, c.targetWidth);
        ASSERT_EQ(loaded.code, 0);
        EXPECT_EQ(loaded.info.biWidth, c.width);
        EXPECT_EQ(loaded.info.biHeight, c.height);
        EXPECT_EQ(loaded.art(), c.art);
    }

    // A height that truncates to 0 gives an empty raster, still a raster.
    const Loaded flat = load(dir.write("flat.bmp", bmpWith(100, 1, [](int, int) { return true; })), 50);
    EXPECT_EQ(flat.code, 0);
    EXPECT_EQ(flat.info.biWidth, 50);
    EXPECT_EQ(flat.info.biHeight, 0);

    // Results past the picture limits are refused, before any allocation.
    EXPECT_EQ(load(checker, 70000).code, VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(load(dir.write("tall.bmp", bmpWith(1, 1000, [](int, int) { return true; })), 200).code,
              VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(load(checker, INT_MAX).code, VDL_ERR_IMAGE_FORMAT);
}

TEST_F(ImageLoadTest, ResizeImageTakesOneBytePerPixel) {
    std::vector<unsigned char> pixels(100 * 50, 0);
    for (int y = 0; y < 50; ++y) pixels[y * 100 + 97] = 1;
    BITMAPINFOHEADER info{};
    info.biWidth = 100;
    info.biHeight = 50;
    unsigned char *resized = nullptr;
    ASSERT_EQ(resizeImage(pixels.data(), &resized, 50, &info), 0);
    EXPECT_EQ(info.biWidth, 50);
    EXPECT_EQ(info.biHeight, 25);
    const std::vector<uint8_t> raster(resized, resized + 7 * 25);
    std::free(resized);
    std::string expected;
    for (int j = 0; j < 25; ++j) expected += std::string(49, '.') + "#\n";
    EXPECT_EQ(rasterArt(raster, 50, 25), expected);

    BITMAPINFOHEADER noWidth = info;
    noWidth.biWidth = 0;
    EXPECT_EQ(resizeImage(pixels.data(), &resized, 10, &noWidth), VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(resized, nullptr);
    EXPECT_EQ(resizeImage(pixels.data(), &resized, 0, &info), VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(resizeImage(nullptr, &resized, 10, &info), VDL_ERR_IMAGE_FORMAT);
}

// ---------------------------------------------------------------------------
// strToUpper
// ---------------------------------------------------------------------------

TEST(StrToUpperTest, CopiesUpToMaxLengthBytesWithoutATerminator) {
    const struct {
        const char *source;
        int maxLength;
        std::string written;
    } cases[] = {
        {"ab1z", 3, "AB1"},
        {"ab1z", -1, "AB1Z"},
        {"ab1z", 100, "AB1Z"},
        {"ab1z", 0, ""},
        {"`a{z@\xe4\xb8\x80", -1, "`A{Z@\xe4\xb8\x80"},  // only a-z change
    };
    for (const auto &c : cases) {
        char destination[16];
        std::memset(destination, '#', sizeof destination);
        strToUpper(c.source, destination, c.maxLength);
        EXPECT_EQ(std::string(destination, c.written.size()), c.written);
        EXPECT_EQ(destination[c.written.size()], '#') << "no terminator, nothing more";
    }
    strToUpper(nullptr, nullptr, 3);  // nothing to do, no crash
}

}  // namespace
}  // namespace vdltest
