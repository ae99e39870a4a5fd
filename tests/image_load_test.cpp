// Loading BMP files written by the tests: reduction to one bit per pixel in
// either row order, what the name decides and the codes of refusals, the
// size limits, the rescaler, and the small utilities of the image module.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zlib.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "image_files.h"
#include "interpose.h"
#include "picture.h"

namespace vdltest {
namespace {

// The trace record of one step: the function name padded to 25 columns.
std::string traceLine(const std::string &function, const std::string &text) {
    return "[" + function + std::string(function.size() < 25 ? 25 - function.size() : 0, ' ') + "] " + text + "\n";
}

// Each test works in a directory of its own, where tracing writes log.txt.
class ImageLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
    }
    void TearDown() override {
        gWriteLog = 0;
        resetCallFaults();
        EXPECT_EQ(chdir(previous_), 0);
    }
    std::string log() const { return readFile(dir.file("log.txt")); }

    TempDir dir;
    char previous_[PATH_MAX] = {};
};

// Palettes whose entry 0 is black, as many writers order them, and others.
const std::vector<uint32_t> kBlackFirst2 = {0x000000, 0xFFFFFF};
const std::vector<uint32_t> kWhiteFirst2 = {0xFFFFFF, 0x000000};
const std::vector<uint32_t> kSixteen = {0x000000, 0xFFFFFF, 0xFEFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x808080, 0xFFFFFE,
                                        0x101010, 0xC0C0C0, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x7F7F7F, 0xFFFFFF, 0x010101};
// Colours next to white print black: only 255, 255, 255 is white. At 32
// bits, alpha is laid over white: a transparent pixel is white whatever its colour.
const std::vector<uint32_t> kNearWhite = {kWhite, kBlack, 0xFFFEFFFF, 0xFFFFFEFF, 0xFFFFFFFE, 0xFF808080};
const std::vector<uint32_t> kWithAlpha = {0x00000000, kBlack, 0x80000000, 0x80FFFFFF, kWhite, 0x01402000};

TEST_F(ImageLoadTest, BmpFilesOfEveryDepthReduceToTheirPictureInEitherRowOrder) {
    const struct {
        const char *what, *name;
        int width, height;
        BmpLayout layout;
        int reportedBitCount;  // the file's, or 24 after a conversion
    } cases[] = {
        {"24 bits", "a.bmp", 9, 4, {24}, 24},
        {"24 bits, rows of 13 bytes", "a.bmp", 100, 3, {24}, 24},
        {"8 bits", "a.bmp", 9, 4, {8, 40, 0, kSixteen}, 8},
        {"8 bits under a 108-byte header", "a.bmp", 5, 5, {8, 108, 0, kSixteen}, 8},
        {"4 bits, odd width", "a.bmp", 9, 3, {4, 40, 0, kSixteen}, 4},
        {"1 bit through its table (BMP)", "a.BMP", 9, 3, {1, 40, 0, kBlackFirst2}, 1},
        {"1 bit, entry 1 black (BMP)", "a.BMP", 17, 3, {1, 40, 0, kWhiteFirst2}, 1},
        {"1 bit converted (bmp)", "a.bmp", 9, 3, {1, 40, 0, kWhiteFirst2}, 24},
        {"32 bits converted, alpha over white", "a.bmp", 11, 5, {32}, 24},
    };
    for (const auto &c : cases)
        for (const bool topDown : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (topDown ? ", top-down" : ""));
            const std::vector<uint32_t> &palette = c.layout.palette;
            Picture picture = randomPicture(c.width, c.height, c.layout.bitCount == 32 ? kWithAlpha : kNearWhite, 7);
            std::vector<uint32_t> pixels = picture.argb;
            if (!palette.empty()) {
                pixels = randomPicture(c.width, c.height, {0, 1, 2, 3, 6, 14, 15}, 8).argb;
                for (std::size_t i = 0; i < pixels.size(); ++i) picture.argb[i] = 0xFF000000 | palette[pixels[i] % palette.size()];
            }
            BmpLayout layout = c.layout;
            layout.topDown = topDown;
            if (!palette.empty()) layout.palette.resize(std::size_t(1) << layout.bitCount, 0x123456);
            std::string file = bmpFile(c.width, c.height, pixels, layout);
            put32(file, 34, 0x5678);  // biSizeImage and biClrImportant: reported as the file has them,
            put32(file, 50, 0x1234);  // never consulted; a converted picture's are those of its 24-bit file
            const Loaded loaded = load(dir.write(c.name, file));
            ASSERT_EQ(loaded.code, 0);
            const bool asFiled = c.reportedBitCount == c.layout.bitCount;
            EXPECT_EQ(loaded.info.biSizeImage, asFiled ? 0x5678u : uint32_t((c.width * 3 + 3) / 4 * 4 * c.height));
            EXPECT_EQ(loaded.info.biClrImportant, asFiled ? 0x1234u : 0u);
            EXPECT_EQ(loaded.info.biWidth, c.width);
            EXPECT_EQ(loaded.info.biHeight, c.height);
            EXPECT_EQ(loaded.info.biBitCount, c.reportedBitCount);
            EXPECT_EQ(loaded.art(), art(picture));
        }
}

// Bit fields in another channel order; a fourth byte that is zero everywhere,
// or that no mask names, is no alpha, so the colours count.
TEST_F(ImageLoadTest, ThirtyTwoBitFilesFollowTheirMasks) {
    const Picture picture = randomPicture(11, 5, kWithAlpha, 3);
    std::vector<uint32_t> swapped, zeroAlpha;
    for (uint32_t p : picture.argb) swapped.push_back((p & 0xFF00FF00) | (p >> 16 & 0xFF) | (p & 0xFF) << 16);
    std::string file = bmpFile(11, 5, swapped, {32, 56, 3});
    for (uint32_t i = 0; i < 4; ++i) put32(file, 54 + 4 * i, 0xFFu << (8 * i));  // red, green, blue, alpha
    EXPECT_EQ(load(dir.write("fields.bmp", file)).art(), art(picture));

    Picture opaque = picture;
    for (uint32_t &p : opaque.argb) zeroAlpha.push_back(p & 0xFFFFFF), p |= 0xFF000000;
    EXPECT_EQ(load(dir.write("zero.bmp", bmpFile(11, 5, zeroAlpha, {32}))).art(), art(opaque));
    // Three masks after a 40-byte header (written where a palette would be): no alpha channel.
    const BmpLayout threeMasks{32, 40, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}};
    EXPECT_EQ(load(dir.write("three.bmp", bmpFile(11, 5, swapped, threeMasks))).art(), art(opaque));
    // The masks may end where the file ends (its one pixel is then the red mask, read as red).
    std::string tight = bmpFile(1, 1, {kBlack}, {32}) + std::string(8, '\0');
    for (const auto &[at, value] : {std::pair{30, 3u}, {54, 0xFF0000u}, {58, 0xFF00u}, {62, 0xFFu}}) put32(tight, at, value);
    EXPECT_EQ(load(dir.write("tight.bmp", tight)).art(), "#\n");
}

TEST_F(ImageLoadTest, LoadImage1ReadsTheColourTableAtOffset54) {
    // A 44-byte info header: the table starts at 58. Its four extra bytes hold white.
    std::string file = bmpFile(8, 1, {0, 1, 0, 1, 1, 1, 0, 0}, {1, 44, 0, kBlackFirst2});
    file[54] = file[55] = file[56] = char(0xFF);
    const std::string path = dir.write("a.BMP", file);
    EXPECT_EQ(load(path).art(), "#.#...##\n");   // entry 0 black, as the file says
    EXPECT_EQ(load1(path).art(), ".#.###..\n");  // entry 0 read from 54: white; entry 1 then black
    // The fuzz targets' entry, the file in memory, reads it as each loader does.
    const vdl::ByteView bytes{reinterpret_cast<const unsigned char *>(file.data()), file.size()};
    for (const auto which : {vdl::ImageLoader::LoadImage, vdl::ImageLoader::LoadImage1}) {
        unsigned char *image = nullptr;
        BITMAPINFOHEADER info{};
        ASSERT_EQ(vdl::loadImageBytes(which, "a.BMP", bytes, &image, &info, 0), 0);
        EXPECT_EQ(*image, (which == vdl::ImageLoader::LoadImage ? load(path) : load1(path)).raster.at(0));
        std::free(image);
    }
}

// A table shorter than its depth's: the pixels that follow it are read as its
// next entries (entry 2 here: white), and entries past the file's end as black.
TEST_F(ImageLoadTest, AColourTableCutByTheFileEndReadsAsBlackPastIt) {
    const std::string file = bmpFile(4, 1, {255, 255, 255, 2}, {8, 40, 0, {kBlack, kBlack}});
    EXPECT_EQ(load(dir.write("short.bmp", file)).art(), "###.\n");
}

// Eight aligned pixels of the table's white are passed over together; eight
// of another entry are not, also when the white is entry 0.
TEST_F(ImageLoadTest, OnlyBlocksOfTheTablesWhitePrintNothing) {
    std::vector<uint32_t> table(256, kBlack), pixels(16, 255);
    table[0] = kWhite;
    pixels.insert(pixels.begin() + 8, 8, 0);
    EXPECT_EQ(load(dir.write("white-first.bmp", bmpFile(24, 1, pixels, {8, 40, 0, table}))).art(), "########........########\n");
}

TEST_F(ImageLoadTest, TheNameDecidesWhatIsConvertedAndTheContentHowARefusalIsReported) {
    const Picture picture = randomPicture(9, 3, kNearWhite, 5);
    auto bmp = [&](int bits) { return bmpFile(9, 3, picture.argb, {bits}); };
    std::string sixteenBits = bmp(24);
    sixteenBits[28] = 16;
    // Name, content, code, and the refusal's trace: function and message.
    const std::tuple<const char *, std::string, int, const char *, const char *> cases[] = {
        {"a.bmp", bmp(24), 0, nullptr, nullptr},
        {"a.bmpx", bmp(32), 0, nullptr, nullptr},  // "bmp..." names are probed, and 32 bits converted
        {"no-extension", bmp(24), 0, nullptr, nullptr},
        {"a.gif", bmp(24), 0, nullptr, nullptr},  // converted: the converter goes by the content
        {"a.gifx", bmp(32), 0, nullptr, nullptr},  // the first three letters count
        {"a.gi", bmp(32), VDL_ERR_IMAGE_FORMAT, "loadImage", "This is not supported bit image."},
        {"a.BMP", bmp(32), VDL_ERR_IMAGE_FORMAT, "loadImage", "This is not supported bit image."},
        {"a.bmp", sixteenBits, VDL_ERR_IMAGE_FORMAT, "loadImage", "This is not supported bit image."},
        {"a.txt", "not a picture", VDL_ERR_IMAGE_FORMAT, "loadImage", "This is not BMP file."},
        {"a.bmp", "BM", VDL_ERR_IMAGE_FORMAT, "GetImageBit", "This is not BMP file."},
        // A picture the converter cannot make leaves no converted copy to open.
        {"a.jpg", "not a picture", VDL_ERR_IMAGE_OPEN, "loadImage", "Failed to open image file."},
        {"a.jpg", "", VDL_ERR_IMAGE_OPEN, "loadImage", "Failed to open image file."},
        {"a.gif", "GIF89a", VDL_ERR_IMAGE_OPEN, "loadImage", "Failed to open image file."},
        {"a.gif", bmp(24).substr(0, 60), VDL_ERR_IMAGE_FORMAT, "loadImage", "Invalid BMP header."},
    };
    gWriteLog = 1;
    for (const auto &[name, content, code, function, message] : cases) {
        SCOPED_TRACE(name + (" " + std::to_string(content.size())));
        const std::size_t logged = log().size();
        const Loaded loaded = load(dir.write(name, content));
        EXPECT_EQ(loaded.code, code);
        EXPECT_TRUE(code != 0 || loaded.art() == art(picture));
        EXPECT_TRUE(code == 0 || log().find(traceLine(function, message), logged) != std::string::npos)
            << log().substr(logged);
    }
}

TEST_F(ImageLoadTest, UnopenableFilesGiveTheOpenCode) {
    ASSERT_EQ(mkdir(dir.file("folder.bmp").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);
    for (const char *name : {"missing.bmp", "missing.jpg", "missing", "folder.bmp", "fifo.jpg"})
        EXPECT_EQ(load(dir.file(name)).code, VDL_ERR_IMAGE_OPEN) << name;
    EXPECT_EQ(GetImageBit(dir.file("folder.bmp").c_str()), VDL_ERR_IMAGE_OPEN);
    unsigned char *image = nullptr;
    BITMAPINFOHEADER info{};
    info.biWidth = 7;  // a failed load leaves no stale header behind
    EXPECT_EQ(loadImage1(nullptr, &image, &info), VDL_ERR_IMAGE_OPEN);
    EXPECT_EQ(info.biWidth, 0);
    EXPECT_EQ(loadImage(dir.file("missing.bmp").c_str(), &image, nullptr, 0), VDL_ERR_IMAGE_FORMAT);
}

// VdlLoadPicture's PNG refusals say why: a size past the limits is too large
// whatever limit of libpng's it also passes, and a damaged file's fault is
// traced in libpng's words before the refusal.
TEST_F(ImageLoadTest, VdlLoadPictureTellsWhyAPngIsRefused) {
    const std::string smallRows = pngZeroRows(1, 2);
    const std::string end = pngChunk("IDAT", smallRows) + pngChunk("IEND", "");  // libpng reads up to the data
    std::string badCrc = pngChunk("IDAT", smallRows) + pngChunk("IEND", "");
    badCrc[badCrc.size() - 13] ^= 1;
    const struct {
        const char *what;
        std::string content;
        const char *reason;  // traced before the refusal; none when the refusal is the reason
        const char *refusal;
    } cases[] = {
        {"rows past 65535 bytes", pngHeader(524281, 1) + end, nullptr, "Image too large."},
        {"past libpng's own width limit", pngHeader(1000001, 1) + end, nullptr, "Image too large."},
        {"past 65535 rows", pngHeader(8, 65536) + end, nullptr, "Image too large."},
        {"no width", pngHeader(0, 1) + end, "libpng: Invalid IHDR data", "This is not a picture the library reads."},
        {"image data with a wrong CRC", pngHeader(8, 2) + badCrc, "libpng: IDAT: CRC error",
         "This is not a picture the library reads."},
        {"cut inside the image data", pngHeader(8, 2) + pngChunk("IDAT", smallRows).substr(0, 10), "libpng: ",
         "This is not a picture the library reads."},
    };
    gWriteLog = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t logged = log().size();
        EXPECT_EQ(loadByContent(dir.write("picture.png", c.content)).code, VDL_ERR_IMAGE_FORMAT);
        const std::string traced = log().substr(logged);
        const std::size_t refusal = traced.find(traceLine("VdlLoadPicture", c.refusal));
        EXPECT_NE(refusal, std::string::npos) << traced;
        if (c.reason == nullptr) continue;
        const std::string reason = traceLine("VdlLoadPicture", c.reason);
        EXPECT_LT(traced.find(reason.substr(0, reason.size() - 1)), refusal) << traced;  // a line that begins so
    }
}

// A PNG pixel laid over white prints when its grey, red, green and blue
// weighed as sRGB weighs them, is below mid grey; the primaries a file
// claims (cHRM) change nothing.
TEST_F(ImageLoadTest, APngPixelPrintsWhenItsGreyIsBelowMidGrey) {
    const struct {
        uint8_t red, green, blue, alpha;
        bool black;
    } pixels[] = {
        {0, 180, 0, 255, false},  // 128.7 (weighed 0.299, 0.587, 0.114 it would be 105.7)
        {0, 170, 0, 255, true},   {127, 127, 127, 255, true}, {128, 128, 128, 255, false},
        {255, 0, 0, 255, true},   {0, 0, 255, 255, true},     {0, 0, 0, 128, true},
        {0, 0, 0, 127, false},    {0, 0, 0, 0, false},        {255, 120, 0, 255, false},
        {0, 120, 255, 255, true},
    };
    std::string row(1, '\0');  // filter: none
    for (const auto &p : pixels) row += std::string{char(p.red), char(p.green), char(p.blue), char(p.alpha)};
    uLongf size = compressBound(uLong(row.size()));
    std::string data(size, '\0');
    ASSERT_EQ(compress(reinterpret_cast<Bytef *>(&data[0]), &size, reinterpret_cast<const Bytef *>(row.data()), uLong(row.size())), Z_OK);
    data.resize(size);
    const std::string header = pngHeader(uint32_t(std::size(pixels)), 1, 8, 6);
    const std::string rest = pngChunk("IDAT", data) + pngChunk("IEND", "");
    std::string expected;
    for (const auto &p : pixels) expected += p.black ? '#' : '.';
    // Primaries of another space (sRGB's blue and red exchanged), which would weigh red and blue the other way.
    std::string primaries;
    for (uint32_t value : {31270u, 32900u, 15000u, 6000u, 30000u, 60000u, 64000u, 33000u})
        for (int shift = 24; shift >= 0; shift -= 8) primaries += char(value >> shift & 0xFF);
    const std::string colours = pngChunk("cHRM", primaries);
    for (const std::string &file : {header + rest, header + colours + rest}) {
        const Loaded loaded = loadByContent(dir.write("colours.png", file));
        ASSERT_EQ(loaded.code, 0);
        EXPECT_EQ(loaded.art(), expected + "\n");
    }
}

// The peak memory of loading a file, in a child process of its own so that
// the test program's earlier peaks do not hide it (MiB beyond the child's
// memory at the start; -1 when the load failed).
long loadPeakMebibytes(const std::string &path) {
    const pid_t child = fork();
    if (child == 0) {
        long pages = 0, resident = 0;
        std::FILE *statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) _exit(255);
        std::fclose(statm);
        const long startKib = resident * (sysconf(_SC_PAGESIZE) / 1024);
        unsigned char *image = nullptr;
        BITMAPINFOHEADER info{};
        if (VdlLoadPicture(path.c_str(), &image, &info, 0) != VDL_OK) _exit(254);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        _exit(int(std::min((usage.ru_maxrss - startKib) / 1024, 253L)));
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -2;
    return WEXITSTATUS(status) >= 254 ? -1 : WEXITSTATUS(status);
}

// A PNG takes the file, the raster and one row: a bomb (a small file of a
// large picture) no more than its raster, chunks of text or of unknown kinds
// nothing, however large (libpng would keep two copies of a text).
TEST_F(ImageLoadTest, APngTakesItsFileItsRasterAndOneRow) {
    const std::string end = pngChunk("IEND", "");
    const std::string pixels = pngChunk("IDAT", pngZeroRows(1, 2));
    const std::string text(16 << 20, 'x');
    const struct {
        const char *what;
        std::string content;
        long mebibytes;  // the file and the raster
    } cases[] = {
        {"a bomb of 4 MiB", pngHeader(65535, 512) + pngChunk("IDAT", pngZeroRows(8192, 512)) + end, 4},
        {"16 MiB of text", pngHeader(8, 2) + pngChunk("tEXt", "Comment" + std::string(1, '\0') + text) + pixels + end, 16},
        {"16 MiB of a chunk libpng does not know", pngHeader(8, 2) + pngChunk("vpAg", text) + pixels + end, 16},
    };
    for (const auto &c : cases) {
        const long peak = loadPeakMebibytes(dir.write("picture.png", c.content));
        EXPECT_GE(peak, 0) << c.what;
        EXPECT_LE(peak, c.mebibytes + 8) << c.what;
    }
}

// The bit count is the last thing GetImageBit reads: a file that ends right
// after it has one, a file that ends inside it has none.
TEST_F(ImageLoadTest, GetImageBitReadsNoFurtherThanTheBitCount) {
    const std::string header = bmpFile(1, 1, {}, {24}).substr(0, 30);
    EXPECT_EQ(GetImageBit(dir.write("cut.bmp", header).c_str()), 24);
    EXPECT_EQ(GetImageBit(dir.write("cut.bmp", header.substr(0, 29)).c_str()), VDL_ERR_IMAGE_FORMAT);
}

// Pictures load as long as the bitmap command can carry them: rows of up to
// 65535 bytes, up to 65535 rows, and a raster of at most 512 MiB.
TEST_F(ImageLoadTest, PicturesLoadAsLargeAsTheCommandCarriesThem) {
    const struct {
        int width, height, code;
    } cases[] = {{70000, 2, 0}, {12000, 12000, 0}, {524280, 1, 0}, {524281, 1, VDL_ERR_IMAGE_FORMAT},
                 {8, 65535, 0}, {8, 65536, VDL_ERR_IMAGE_FORMAT}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const std::string path = dir.write("big.BMP", bmpFile(c.width, c.height, {}, {1, 40, 0, kBlackFirst2}));
        const Loaded loaded = load(path);
        EXPECT_EQ(loaded.code, c.code);
        EXPECT_TRUE(loaded.raster.empty() || loaded.raster.back() == uint8_t(0xFF << (7 - (c.width - 1) % 8)));  // all black
        unlink(path.c_str());
    }
}

// ---------------------------------------------------------------------------
// Rescaling
// ---------------------------------------------------------------------------

// Nearest-neighbour sampling, with single-precision ratios of the source size
// less one over the new size; the height follows the width's scale.
TEST_F(ImageLoadTest, RescalingSamplesTheNearestPixel) {
    using Black = bool (*)(int, int);
    const Black line = [](int x, int y) { return x == 97 || y == 47; };
    const Black checker = [](int x, int y) { return (x + y) % 2 == 1; };
    const struct {
        int width, height;
        Black black;
        int targetWidth, code, newHeight, row;
        std::string rowArt;
    } cases[] = {
        // x_ratio 99/50 = 1.98 and y_ratio 49/25 = 1.96 sample column 97 for
        // column 49 and row 47 for row 24; column 98 and row 48 are never sampled.
        {100, 50, line, 50, 0, 25, 0, std::string(49, '.') + "#"},
        {100, 50, line, 50, 0, 25, 24, std::string(50, '#')},
        // 7/3 in single precision times 27 is 62.99...: 62 rows, not 63.
        {3, 27, checker, 7, 0, 62, 0, "..####."},
        // 41 * (1/82 in single precision) = 0.49999997, + 0.5: column 0, not 1.
        {2, 1, [](int x, int) { return x == 1; }, 82, 0, 41, 0, std::string(42, '.') + std::string(40, '#')},
        {2, 2, checker, 0, 0, 2, 1, "#."},   // 0, the width itself or a negative
        {2, 2, checker, -5, 0, 2, 1, "#."},  // width: no rescaling
        {100, 1, checker, 50, 0, 0, -1, ""},  // a height that truncates to 0: an empty raster
        {1, 1000, checker, 200, VDL_ERR_IMAGE_FORMAT, 1000, -1, ""},  // 200 000 rows: refused
    };
    for (const auto &c : cases) {
        std::vector<uint32_t> pixels;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) pixels.push_back(c.black(x, y) ? kBlack : kWhite);
        const Loaded loaded = load(dir.write("a.bmp", bmpFile(c.width, c.height, pixels, {24})), c.targetWidth);
        SCOPED_TRACE(std::to_string(c.width) + " to " + std::to_string(c.targetWidth));
        EXPECT_EQ(loaded.code, c.code);
        EXPECT_EQ(loaded.info.biHeight, c.newHeight);
        const std::string art = loaded.art() + std::string(c.rowArt.size() * 100, ' ');
        EXPECT_EQ(c.row < 0 ? "" : art.substr(std::size_t(c.row) * (c.rowArt.size() + 1), c.rowArt.size()), c.rowArt);
    }
}

// Enlarged and reduced, the whole raster: from a byte per pixel (any non-zero
// byte black) with resizeImage, and from a file with loadImage.
TEST_F(ImageLoadTest, ResizedPicturesAreTheNearestPixelsDotForDot) {
    const std::string fivePerThree = "#..#.\n.#..#\n..#.#\n", ninePerFive = "#.#..#..#\n.#..#.#..\n..#...#.#\n#...#...#\n.##.#..#.\n";
    const struct {
        std::string picture;
        int targetWidth;
        const char *resized;
    } cases[] = {
        {fivePerThree, 8, "#....##.\n.##....#\n.##....#\n...##..#\n"},  // columns 0 1 1 2 2 3 3 4, rows 0 1 1 2
        {fivePerThree, 12, "##......###.\n##......###.\n..###......#\n..###......#\n..###......#\n..###......#\n.....###...#\n"},
        {"#..#\n.#..\n..##\n", 8, "##.....#\n##.....#\n..##....\n..##....\n..##....\n....####\n"},  // columns 0 0 1 1 2 2 2 3
        {ninePerFive, 4, "##..\n.#.#\n"},  // columns 0 2 4 6, rows 0 2
        {ninePerFive + "#..#..#..\n", 5, "##.#.\n.#..#\n#....\n"},  // columns 0 2 3 5 6, rows 0 2 3
        {"#.\n.#\n", 1, "#\n"},  // the narrowest result: column 0, row 0
    };
    BITMAPINFOHEADER info{};
    unsigned char *resized = nullptr;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.picture + " to " + std::to_string(c.targetWidth));
        std::vector<unsigned char> bytes;
        std::vector<uint32_t> pixels;
        for (const char p : c.picture)
            if (p != '\n') bytes.push_back(p == '#' ? 7 : 0), pixels.push_back(p == '#' ? kBlack : kWhite);
        info.biWidth = int(c.picture.find('\n'));
        info.biHeight = int(bytes.size()) / info.biWidth;
        EXPECT_EQ(load(dir.write("a.bmp", bmpFile(info.biWidth, info.biHeight, pixels, {24})), c.targetWidth).art(), c.resized);
        ASSERT_EQ(resizeImage(bytes.data(), &resized, c.targetWidth, &info), 0);
        EXPECT_EQ(rasterArt({resized, resized + (c.targetWidth + 7) / 8 * info.biHeight}, info.biWidth, info.biHeight), c.resized);
        std::free(resized);
    }
    info.biWidth = 100;
    info.biHeight = 2;
    EXPECT_EQ(resizeImage(std::vector<unsigned char>(200).data(), &resized, 0, &info), VDL_ERR_IMAGE_FORMAT);
    // To width 524280: 10485 rows of 65535 bytes, past the raster's 512 MiB:
    // refused before any allocation.
    EXPECT_EQ(resizeImage(std::vector<unsigned char>(200).data(), &resized, 524280, &info), VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(resized, nullptr);
}

// A converted picture's dithering (loadImage1) weighs blue, green and red by
// 114, 587 and 299 thousandths and rounds to the nearest grey: 127.499
// prints black, 127.5 white. (A ".gif" name is converted whatever its content:
// a BMP file so named is dithered.)
TEST_F(ImageLoadTest, DitheringRoundsTheLuminanceToTheNearestGrey) {
    for (const auto &[argb, art] : {std::pair{0xFF02D125u, "#\n"}, std::pair{0xFF00CC44u, ".\n"}})
        EXPECT_EQ(load1(dir.write("grey.gif", bmpFile(1, 1, {argb}, {24}))).art(), art) << std::hex << argb;
}

// 24- and 8-bit rows are read where they lie in the file: no row is copied,
// so no allocation of a row's size (37 indices, or 111 bytes of colours) is made.
TEST_F(ImageLoadTest, RowsThatNeedNoConversionAreNotCopied) {
    for (const int bits : {24, 8}) {
        const std::string path = dir.write("wide.bmp", bmpFile(37, 1, {}, {bits, 40, 0, kBlackFirst2}));
        for (const std::size_t rowSize : {37u, 37u * 3}) {
            callFaults().allocationSize = rowSize;
            EXPECT_EQ(load(path).code, 0) << bits << "-bit file, a row of " << rowSize;
            EXPECT_EQ(callFaults().allocationSize, rowSize) << "the armed failure was met";
        }
    }
}

TEST(StrToUpperTest, CopiesUpToMaxLengthBytesWithoutATerminator) {
    for (const auto &[maxLength, written] : std::vector<std::pair<int, std::string>>{{3, "`A{#"}, {-1, "`A{Z@\xe4#"}, {99, "`A{Z@\xe4#"}}) {
        char destination[8] = "#######";
        strToUpper("`a{z@\xe4", destination, maxLength);  // only a to z change
        EXPECT_EQ(std::string(destination, written.size()), written);
    }
    // Either text missing: nothing is read or written.
    char destination[4] = "###";
    strToUpper(nullptr, destination, 3);
    EXPECT_STREQ(destination, "###");
    strToUpper("abc", nullptr, 3);
}

}  // namespace
}  // namespace vdltest
