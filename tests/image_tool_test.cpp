// Files written by an independent tool, ImageMagick's convert: BMP3 at 1, 4,
// 8, 24 and 32 bits, JPEG and GIF. Each load is checked pixel by pixel
// against the picture the tool was given (or, for JPEG, the picture the tool
// decodes). convert is a test dependency only; the library runs no program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "image_files.h"

namespace vdltest {
namespace {

class ImageToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveConvert()) GTEST_SKIP() << "ImageMagick's convert is not installed (scripts/install-deps.sh)";
        ASSERT_FALSE(dir.path().empty());
    }

    // Writes the picture as PAM and has convert turn it into `name` with the
    // given options (and format, such as "BMP3"); fails the test if convert fails.
    std::string converted(const Picture &picture, const std::vector<std::string> &options, const std::string &name,
                          const std::string &format = "") {
        const std::string source = dir.write("source.pam", pamFile(picture));
        std::vector<std::string> arguments{source};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(format.empty() ? dir.file(name) : format + ":" + dir.file(name));
        EXPECT_TRUE(runConvert(arguments)) << name;
        unlink(source.c_str());
        return dir.file(name);
    }

    // The picture convert decodes from a file, as the reference for lossy files.
    Picture decodedByTool(const std::string &path) {
        const std::string ppm = dir.file("reference.ppm");
        EXPECT_TRUE(runConvert({path, "-depth", "8", ppm}));
        Picture picture = readPpm(ppm);
        unlink(ppm.c_str());
        return picture;
    }

    TempDir dir;
};

// Opaque colours for the tests' pictures. convert's palette writers merge
// colours next to white into white, so the palette pictures keep theirs
// apart; white's neighbours are tested where convert keeps them (24 bits).
const std::vector<uint32_t> kFewColours = {kWhite, kWhite, kBlack, 0xFFE0E0E0, 0xFF808080, 0xFF0000FF, 0xFFFF0000,
                                           0xFF00C000};

std::vector<uint32_t> manyColours() {
    std::vector<uint32_t> colours = {kWhite, kWhite, kWhite, kBlack};
    for (uint32_t i = 1; i <= 40; ++i) colours.push_back(0xFF000000 | (i * 5) << 16 | (i * 3) << 8 | (200 - i * 4));
    return colours;
}

const std::vector<uint32_t> kNearWhite = {kWhite, kWhite, 0xFFFEFFFF, 0xFFFFFEFF, 0xFFFFFFFE, kBlack};

struct ToolBmpCase {
    const char *what;
    Picture picture;
    std::vector<std::string> options;
    int fileBitCount;
};

TEST_F(ImageToolTest, Bmp3FilesOfEveryDepthReduceToTheirPicture) {
    Picture twoColours = randomPicture(37, 11, {kWhite, kBlack}, 1);
    Picture withAlpha = randomPicture(37, 11, {kWhite, kBlack, 0x00000000, 0x80000000, 0x80FFFFFF, 0xFF2060A0}, 2);
    const ToolBmpCase cases[] = {
        {"1 bit", twoColours, {"-type", "Bilevel"}, 1},
        {"4 bits", randomPicture(37, 11, kFewColours, 3), {"-alpha", "off", "-type", "Palette"}, 4},
        {"8 bits", randomPicture(37, 11, manyColours(), 4), {"-alpha", "off", "-type", "Palette", "-compress", "None"}, 8},
        {"24 bits", randomPicture(37, 11, kNearWhite, 5), {"-alpha", "off", "-type", "TrueColor"}, 24},
        {"24 bits, width 1", randomPicture(1, 9, manyColours(), 6), {"-alpha", "off", "-type", "TrueColor"}, 24},
        {"32 bits with alpha", withAlpha, {"-define", "bmp3:alpha=true"}, 32},
    };
    for (const ToolBmpCase &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = converted(c.picture, c.options, "picture.bmp", "BMP3");
        ASSERT_EQ(GetImageBit(file.c_str()), c.fileBitCount) << "convert wrote another depth than the case is about";
        const Loaded loaded = load(file);
        ASSERT_EQ(loaded.code, 0);
        EXPECT_EQ(loaded.info.biWidth, c.picture.width);
        EXPECT_EQ(loaded.info.biHeight, c.picture.height);
        EXPECT_EQ(loaded.art(), rasterArt(expectedRaster(c.picture), c.picture.width, c.picture.height));
    }
}

TEST_F(ImageToolTest, JpegFilesReduceToThePictureTheToolDecodes) {
    Picture picture = randomPicture(45, 21, {kWhite, kBlack, 0xFF808080}, 7);
    for (int y = 0; y < 21; ++y)  // flat areas too, where white survives the compression
        for (int x = 0; x < 24; ++x) picture.at(x, y) = y < 16 ? kWhite : kBlack;
    const struct {
        const char *what;
        std::vector<std::string> options;
    } cases[] = {
        {"colour", {"-quality", "90"}},
        {"grey", {"-colorspace", "Gray", "-quality", "85"}},
        {"progressive", {"-interlace", "JPEG", "-quality", "75"}},
        {"4:4:4", {"-sampling-factor", "1x1", "-quality", "95"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = converted(picture, c.options, "picture.jpg");
        const Picture reference = decodedByTool(path);
        ASSERT_EQ(reference.width, 45);
        const Loaded loaded = load(path);
        ASSERT_EQ(loaded.code, 0);
        EXPECT_EQ(loaded.info.biBitCount, 24);
        EXPECT_EQ(loaded.art(), rasterArt(expectedRaster(reference), 45, 21));
        EXPECT_EQ(loaded.art().substr(0, 24), std::string(24, '.'));  // the flat white corner stays white
    }
}

// CMYK JPEG (as print shops deliver logos): inks laid over paper, none = white.
TEST_F(ImageToolTest, CmykJpegPrintsItsInkedAreas) {
    Picture picture(32, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 16; x < 32; ++x) picture.at(x, y) = kBlack;
    const std::string path = converted(picture, {"-colorspace", "CMYK", "-quality", "100"}, "cmyk.jpg");
    const Loaded loaded = load(path);
    ASSERT_EQ(loaded.code, 0);
    EXPECT_EQ(loaded.art(), rasterArt(expectedRaster(picture), 32, 16));
}

TEST_F(ImageToolTest, GifFilesGiveTheirFirstFrameWithTransparencyAsWhite) {
    const Picture picture = randomPicture(29, 13, {kWhite, kBlack, 0x00000000, 0xFF3070F0, 0xFFE0E0E0}, 8);
    const struct {
        const char *what;
        std::vector<std::string> options;
    } cases[] = {
        {"plain", {}},
        {"interlaced", {"-interlace", "GIF"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Loaded loaded = load(converted(picture, c.options, "picture.gif"));
        ASSERT_EQ(loaded.code, 0);
        EXPECT_EQ(loaded.info.biBitCount, 24);
        EXPECT_EQ(loaded.art(), rasterArt(expectedRaster(picture), 29, 13));
    }
}

TEST_F(ImageToolTest, AnimatedGifGivesItsFirstFrameOnItsScreen) {
    const Picture first = randomPicture(20, 10, {kWhite, kBlack}, 9);
    const Picture second(20, 10, kBlack);
    const std::string a = dir.write("a.pam", pamFile(first)), b = dir.write("b.pam", pamFile(second));
    ASSERT_TRUE(runConvert({"-delay", "10", a, b, dir.file("anim.gif")}));
    Loaded loaded = load(dir.file("anim.gif"));
    ASSERT_EQ(loaded.code, 0);
    EXPECT_EQ(loaded.art(), rasterArt(expectedRaster(first), 20, 10));

    // A frame smaller than the logical screen: outside it the label stays white.
    ASSERT_TRUE(runConvert({dir.file("b.pam"), "-repage", "30x16+6+4", dir.file("framed.gif")}));
    loaded = load(dir.file("framed.gif"));
    ASSERT_EQ(loaded.code, 0);
    Picture screen(30, 16);
    for (int y = 4; y < 14; ++y)
        for (int x = 6; x < 26; ++x) screen.at(x, y) = kBlack;
    EXPECT_EQ(loaded.art(), rasterArt(expectedRaster(screen), 30, 16));
}

TEST_F(ImageToolTest, DamagedOrForeignContentIsRefused) {
    const Picture picture = randomPicture(64, 64, {kWhite, kBlack, 0xFF406080}, 10);
    const std::string jpeg = readFile(converted(picture, {"-quality", "90"}, "p.jpg"));
    const std::string gif = readFile(converted(picture, {}, "p.gif"));
    const std::string png = readFile(converted(picture, {}, "p.png"));
    const struct {
        const char *name;
        std::string content;
    } cases[] = {
        {"truncated.jpg", jpeg.substr(0, jpeg.size() / 2)},
        {"headless.jpg", jpeg.substr(0, 200)},
        {"truncated.gif", gif.substr(0, gif.size() / 2)},
        {"signature.gif", gif.substr(0, 6)},
        {"png.jpg", png},
        {"png.gif", png},
        {"jpeg.JPG", jpeg},   // not converted: read as BMP
        {"jpeg.jpeg", jpeg},  // "jpe" is not "jpg"
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(load(dir.write(c.name, c.content)).code, VDL_ERR_IMAGE_FORMAT);
    }
    EXPECT_EQ(load(dir.write("jpeg.jpgx", jpeg)).code, 0);  // the first three characters decide
    EXPECT_EQ(load(dir.write("gif.jpg", gif)).code, 0);     // the content decides how to decode
}

TEST_F(ImageToolTest, NamesAreJustNamesAndNoFileIsLeftBehind) {
    const Picture picture = randomPicture(16, 8, {kWhite, kBlack}, 11);
    const std::string jpeg = readFile(converted(picture, {"-quality", "95"}, "p.jpg"));
    const std::string name = "it's a \"logo\"; $(touch pwned) `touch pwned2` & | * ?.jpg";
    dir.write(name, jpeg);
    dir.write("one bit.bmp", readFile(converted(picture, {"-type", "Bilevel"}, "p1.bmp", "BMP3")));
    const std::set<std::string> before = dir.names();

    EXPECT_EQ(load(dir.file(name)).code, 0);
    EXPECT_EQ(load(dir.file("one bit.bmp")).code, 0);  // converted: 1 bit per pixel
    EXPECT_EQ(load1(dir.file(name)).code, 0);
    EXPECT_EQ(load(dir.file("missing.jpg")).code, VDL_ERR_IMAGE_OPEN);
    EXPECT_EQ(dir.names(), before);
}

// loadImage1 dithers what it converts: flat greys come out as a share of
// black dots that follows their darkness; pure black and white stay exact.
TEST_F(ImageToolTest, LoadImage1DithersConvertedPictures) {
    const Picture twoColours = randomPicture(33, 17, {kWhite, kBlack}, 12);
    Loaded loaded = load1(converted(twoColours, {}, "bw.gif"));
    ASSERT_EQ(loaded.code, 0);
    EXPECT_EQ(loaded.info.biBitCount, 1);
    EXPECT_EQ(loaded.art(), rasterArt(expectedRaster(twoColours), 33, 17));

    // Flat greys, written here as BMP under a .gif name: loadImage1 converts
    // by the name and decodes by the content. (convert's GIF writer costs half
    // a second a file.)
    const struct {
        uint32_t grey;
        double low, high;  // share of black dots
    } greys[] = {{0xFF808080, 0.45, 0.55}, {0xFFC0C0C0, 0.2, 0.3}, {0xFF404040, 0.7, 0.8}};
    for (const auto &g : greys) {
        const std::string path = dir.write("grey.gif", bmpFile(64, 64, std::vector<uint32_t>(64 * 64, g.grey), {24}));
        loaded = load1(path);
        ASSERT_EQ(loaded.code, 0);
        const std::string art = loaded.art();
        const double share = double(std::count(art.begin(), art.end(), '#')) / (64 * 64);
        EXPECT_GT(share, g.low) << std::hex << g.grey;
        EXPECT_LT(share, g.high) << std::hex << g.grey;
    }
}

}  // namespace
}  // namespace vdltest
