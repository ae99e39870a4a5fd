// Files written by an independent tool, ImageMagick's convert: BMP3 at 1, 4,
// 8, 24 and 32 bits, JPEG, GIF and PNG. Each load is checked pixel by pixel
// against the picture the tool was given (or, for JPEG, the picture the tool
// decodes). convert is a test dependency only; the library runs no program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "image_files.h"

namespace vdltest {
namespace {

class ImageToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveConvert()) GTEST_SKIP() << "ImageMagick's convert is not installed (scripts/install-deps.sh)";
        ASSERT_FALSE(dir.path().empty());
    }

    // Has convert turn the picture into `name` (a "FORMAT:" prefix allowed)
    // with the given options; fails the test if convert fails.
    std::string converted(const Picture &picture, std::vector<std::string> options, const std::string &name,
                          const std::string &format = "") {
        options.insert(options.begin(), dir.write("source.pam", pamFile(picture)));
        options.push_back(format + dir.file(name));
        EXPECT_TRUE(runConvert(options)) << name;
        return dir.file(name);
    }

    // The raster of the picture convert decodes from a file (written by it as
    // a 24-bit BMP): the reference for lossy files.
    std::string decodedByTool(const std::string &path) {
        EXPECT_TRUE(runConvert({path, "-type", "TrueColor", "BMP3:" + dir.file("reference.bmp")}));
        return load(dir.file("reference.bmp")).art();
    }

    TempDir dir;
};

TEST_F(ImageToolTest, Bmp3FilesOfEveryDepthReduceToTheirPicture) {
    // convert's palette writers merge colours next to white into white, so the
    // palette pictures keep theirs apart; white's neighbours are tested at 24 bits.
    const std::vector<uint32_t> few = {kWhite, kWhite, kBlack, 0xFFE0E0E0, 0xFF808080, 0xFF0000FF, 0xFF00C000};
    std::vector<uint32_t> many = {kWhite, kWhite, kBlack};
    for (uint32_t i = 1; i <= 40; ++i) many.push_back(0xFF000000 | (i * 5) << 16 | (i * 3) << 8 | (200 - i * 4));
    const struct {
        Picture picture;
        std::vector<std::string> options;
        int fileBitCount;
    } cases[] = {
        {randomPicture(37, 11, {kWhite, kBlack}, 1), {"-type", "Bilevel"}, 1},
        {randomPicture(37, 11, few, 3), {"-alpha", "off", "-type", "Palette"}, 4},
        {randomPicture(37, 11, many, 4), {"-alpha", "off", "-type", "Palette", "-compress", "None"}, 8},
        {randomPicture(37, 11, {kWhite, 0xFFFEFFFF, 0xFFFFFFFE, kBlack}, 5), {"-alpha", "off", "-type", "TrueColor"}, 24},
        {randomPicture(37, 11, {kWhite, kBlack, 0x00000000, 0x80000000, 0xFF2060A0}, 2), {"-define", "bmp3:alpha=true"}, 32},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fileBitCount);
        const std::string file = converted(c.picture, c.options, "picture.bmp", "BMP3:");
        ASSERT_EQ(GetImageBit(file.c_str()), c.fileBitCount) << "convert wrote another depth than the case is about";
        EXPECT_EQ(load(file).art(), art(c.picture));
    }
}

TEST_F(ImageToolTest, JpegFilesReduceToThePictureTheToolDecodes) {
    Picture picture = randomPicture(45, 21, {kWhite, kBlack, 0xFF808080}, 7);
    for (int y = 0; y < 21; ++y)  // flat areas too, where white survives the compression
        for (int x = 0; x < 24; ++x) picture.at(x, y) = y < 16 ? kWhite : kBlack;
    const std::vector<std::string> cases[] = {{"-quality", "90"},
                                              {"-colorspace", "Gray", "-quality", "85"},
                                              {"-interlace", "JPEG", "-quality", "75"},
                                              {"-colorspace", "CMYK", "-quality", "95"}};
    for (const auto &options : cases) {
        SCOPED_TRACE(options[1]);
        const std::string path = converted(picture, options, "picture.jpg");
        const Loaded loaded = load(path);
        ASSERT_EQ(loaded.code, 0);
        EXPECT_EQ(loaded.info.biBitCount, 24);
        EXPECT_EQ(loaded.art(), decodedByTool(path));
        EXPECT_EQ(loaded.art().substr(0, 24), std::string(24, '.'));  // the flat white corner stays white
    }
}

// Warnings do not refuse a JPEG: an unknown JFIF revision or a missing end
// marker leave the picture whole. A file cut in its data holds the rows
// before the cut; the rest stays white (libjpeg's grey would print black).
TEST_F(ImageToolTest, JpegFilesAreRefusedOnlyWhenNothingCanBeDecoded) {
    const Picture picture = randomPicture(64, 64, {kWhite, kBlack, 0xFF406080}, 10);
    const std::string clean = readFile(converted(picture, {"-quality", "90"}, "clean.jpg"));
    const std::string whole = load(dir.file("clean.jpg")).art();
    std::string revision = clean;
    revision[clean.find("JFIF") + 5] = 2;
    EXPECT_EQ(load(dir.write("revision.jpg", revision)).art(), whole);
    EXPECT_EQ(load(dir.write("no-end.jpg", clean.substr(0, clean.size() - 2))).art(), whole);

    const Loaded cut = load(dir.write("cut.jpg", clean.substr(0, clean.size() / 2)));
    ASSERT_EQ(cut.code, 0);
    EXPECT_EQ(cut.art().substr(0, 8 * 65), whole.substr(0, 8 * 65));  // the first row of blocks
    EXPECT_EQ(cut.art().substr(63 * 65), std::string(64, '.') + "\n");
    // Past 500 scans (a progressive file's last one repeated), a file is refused before it is decoded.
    const std::string progressive = readFile(converted(picture, {"-interlace", "JPEG"}, "progressive.jpg"));
    const std::size_t lastScan = progressive.rfind("\xFF\xDA"), end = progressive.size() - 2;
    std::string scans = progressive.substr(0, end);
    for (int i = 0; i < 500; ++i) scans += progressive.substr(lastScan, end - lastScan);
    const std::tuple<const char *, std::string, int> refused[] = {
        {"scans.jpg", scans + "\xFF\xD9", VDL_ERR_IMAGE_OPEN},
        {"header.jpg", clean.substr(0, 200), VDL_ERR_IMAGE_OPEN},
        {"png.jpg", readFile(converted(picture, {}, "p.png")), VDL_ERR_IMAGE_OPEN},
        {"jpeg.JPG", clean, VDL_ERR_IMAGE_FORMAT},   // not converted: read as BMP
        {"jpeg.jpeg", clean, VDL_ERR_IMAGE_FORMAT},  // "jpe" is not "jpg"
    };
    for (const auto &[name, content, code] : refused) EXPECT_EQ(load(dir.write(name, content)).code, code) << name;
}

TEST_F(ImageToolTest, GifFilesGiveTheirFirstFrameOnTheirScreenWithTransparencyAsWhite) {
    const Picture picture = randomPicture(29, 13, {kWhite, kBlack, 0x00000000, 0xFF3070F0, 0xFFE0E0E0}, 8);
    for (const char *interlace : {"None", "GIF"}) {
        const Loaded loaded = load(converted(picture, {"-interlace", interlace}, "picture.gif"));
        EXPECT_EQ(loaded.info.biBitCount, 24);
        EXPECT_EQ(loaded.art(), art(picture)) << interlace;
    }
    {  // A comment is no graphics control, even when its bytes would read as
       // one (four of them, the flag bit set, black's index last): black stays black.
        std::string gif = readFile(converted(picture, {}, "commented.gif"));
        const std::size_t entries = gif[10] & 0x80 ? 2u << (gif[10] & 7) : 0;
        std::size_t black = 0, at = 13 + 3 * entries;
        while (black < entries && gif.compare(13 + 3 * black, 3, std::string(3, '\0')) != 0) ++black;
        ASSERT_LT(black, entries);
        while (gif[at] == 0x21) {  // past the extensions the tool wrote, to the frame
            for (at += 2; gif[at] != 0; at += std::size_t(uint8_t(gif[at])) + 1) {}
            ++at;
        }
        gif.insert(at, std::string{'\x21', '\xFE', 4, 1, 0, 0, char(black), 0});
        EXPECT_EQ(load(dir.write("commented.gif", gif)).art(), art(picture));
    }
    // Two frames, the first smaller than the screen and placed inside it, off
    // the raster's byte grid: outside the frame the label stays white; the
    // second frame is not shown.
    const Picture frame = randomPicture(20, 10, {kWhite, kBlack}, 9);
    ASSERT_TRUE(runConvert({"-delay", "10", "(", dir.write("a.pam", pamFile(frame)), "-repage", "30x16+9+4", ")",
                            dir.write("b.pam", pamFile(Picture(30, 16, kBlack))), dir.file("anim.gif")}));
    Picture screen(30, 16);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) screen.at(x + 9, y + 4) = frame.argb[std::size_t(y) * 20 + x];
    for (const bool dithered : {false, true}) EXPECT_EQ(load(dir.file("anim.gif"), 0, dithered).art(), art(screen));
    const std::string gif = readFile(dir.file("anim.gif"));
    EXPECT_EQ(load(dir.write("cut.gif", gif.substr(0, gif.size() / 3))).code, VDL_ERR_IMAGE_OPEN);
}

TEST_F(ImageToolTest, NamesAreJustNamesAndNoFileIsLeftBehind) {
    const Picture picture = randomPicture(16, 8, {kWhite, kBlack}, 11);
    const std::string name = "it's a \"logo\"; $(touch pwned) `touch pwned2` & | * ?.jpg";
    dir.write(name, readFile(converted(picture, {"-quality", "95"}, "p.jpg")));
    converted(picture, {"-type", "Bilevel"}, "one bit.bmp", "BMP3:");
    const std::set<std::string> before = dir.names();
    EXPECT_EQ(load(dir.file(name)).code, 0);
    EXPECT_EQ(load(dir.file("one bit.bmp")).code, 0);  // converted: 1 bit per pixel
    EXPECT_EQ(load1(dir.file(name)).code, 0);
    EXPECT_EQ(dir.names(), before);
}

// ---------------------------------------------------------------------------
// VdlLoadPicture: any of the four formats by its content
// ---------------------------------------------------------------------------

// Every kind of PNG the tool writes reduces by the PNG rule, whatever the
// file is named: laid over white, darker than mid grey prints. Near-white
// colours stay white here, where loadImage's true-colour rule prints them.
TEST_F(ImageToolTest, VdlLoadPictureReadsEveryKindOfPngByItsRule) {
    const std::vector<uint32_t> colours = {kWhite,     kBlack,     0x00000000, 0xFF400000, 0xFFFFFF80,
                                           0x40000000, 0xC0000000, 0xFF2060A0, 0xFFE0E0E0};
    const std::vector<uint32_t> greys = {kWhite, kBlack, 0x00000000, 0xFF404040, 0xFFC0C0C0, 0x40000000, 0xC0000000};
    const std::vector<uint32_t> opaque = {kWhite, kBlack, 0xFF400000, 0xFFFFFF80, 0xFF2060A0, 0xFFE0E0E0};
    const struct {
        const char *what;
        std::vector<uint32_t> colours;
        std::vector<std::string> options;
        const char *name;
    } cases[] = {
        {"RGBA", colours, {}, "PNG32:logo.png"},
        {"RGBA named *.jpg", colours, {}, "PNG32:logo.jpg"},
        {"16 bits a channel", colours, {}, "PNG64:logo"},
        {"interlaced", colours, {"-interlace", "PNG"}, "PNG32:logo.PNG"},
        {"grey with alpha", greys, {}, "PNG:grey.png"},
        {"palette", opaque, {}, "PNG8:palette.png"},
        {"1-bit grey", {kWhite, kBlack}, {"-type", "Bilevel"}, "PNG:bits.png"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Picture picture = randomPicture(37, 11, c.colours, 21);
        const std::string name = c.name;
        const std::string path = converted(picture, c.options, name.substr(name.find(':') + 1), name.substr(0, name.find(':') + 1));
        const Loaded loaded = loadByContent(path);
        ASSERT_EQ(loaded.code, 0);
        EXPECT_EQ(loaded.art(), pngArt(picture));
    }
}

// JPEG, GIF and BMP load as loadImage loads them under their own extension,
// whatever theirs; what is none of the four, or damaged, is refused.
TEST_F(ImageToolTest, VdlLoadPictureGoesByContentAndRefusesWhatItCannotRead) {
    const Picture picture = randomPicture(29, 13, {kWhite, kBlack, 0xFFFEFFFF, 0xFF3070F0}, 22);
    const std::string jpeg = readFile(converted(picture, {"-quality", "95"}, "p.jpg"));
    const std::string gif = readFile(converted(picture, {}, "p.gif"));
    const std::string bmp = readFile(converted(picture, {"-type", "Bilevel"}, "p.bmp", "BMP3:"));
    const std::string png = readFile(converted(picture, {}, "p.png"));
    const std::pair<const char *, const std::string &> asNamed[] = {
        {"photo.JPG", jpeg}, {"photo.jpeg", jpeg}, {"anim.GIF", gif}, {"bits.png", bmp}, {"bits", bmp}};
    const std::map<const std::string *, std::string> ownName = {{&jpeg, "p.jpg"}, {&gif, "p.gif"}, {&bmp, "p.bmp"}};
    for (const auto &[name, content] : asNamed) {
        const Loaded loaded = loadByContent(dir.write(name, content));
        ASSERT_EQ(loaded.code, 0) << name;
        EXPECT_EQ(loaded.art(), load(dir.file(ownName.at(&content))).art()) << name;
    }
    EXPECT_EQ(loadByContent(dir.file("p.png"), 58).info.biWidth, 58);  // rescaled as loadImage rescales
    ASSERT_EQ(mkdir(dir.file("folder.png").c_str(), 0700), 0);
    const std::tuple<const char *, std::string, int> refused[] = {
        {"text.png", "not a picture at all", VDL_ERR_IMAGE_FORMAT},
        {"empty.png", "", VDL_ERR_IMAGE_FORMAT},
        {"cut.png", png.substr(0, png.size() / 2), VDL_ERR_IMAGE_FORMAT},
        {"header.png", png.substr(0, 33), VDL_ERR_IMAGE_FORMAT},
        {"wide.png", pngHeader(524281, 1), VDL_ERR_IMAGE_FORMAT},        // refused by its header,
        {"huge.png", pngHeader(65536, 65536), VDL_ERR_IMAGE_FORMAT},     // before any row is made
        {"tall.png", pngHeader(8, 65536), VDL_ERR_IMAGE_FORMAT},
        {"cut.jpeg", jpeg.substr(0, 200), VDL_ERR_IMAGE_OPEN},  // as loadImage says of a JPEG it cannot decode
    };
    for (const auto &[name, content, code] : refused) EXPECT_EQ(loadByContent(dir.write(name, content)).code, code) << name;
    for (const char *name : {"missing.png", "folder.png"}) EXPECT_EQ(loadByContent(dir.file(name)).code, VDL_ERR_IMAGE_OPEN) << name;
    unsigned char *image = nullptr;
    EXPECT_EQ(VdlLoadPicture(dir.file("p.png").c_str(), &image, nullptr, 0), VDL_ERR_IMAGE_FORMAT);
    EXPECT_EQ(image, nullptr);
}

// loadImage1 dithers what it converts: flat greys come out as a share of
// black dots that follows their darkness; pure black and white stay exact.
TEST_F(ImageToolTest, LoadImage1DithersConvertedPictures) {
    const Picture twoColours = randomPicture(33, 17, {kWhite, kBlack}, 12);
    const Loaded exact = load1(converted(twoColours, {}, "bw.gif"));
    EXPECT_EQ(exact.info.biBitCount, 1);
    EXPECT_EQ(exact.art(), art(twoColours));
    // Flat greys, written here as BMP under a .gif name (convert's GIF writer
    // costs half a second a file); not one dot strays into pure white or black.
    const struct {
        uint32_t grey;
        double share, within;
    } greys[] = {{0xFF808080, 0.5, 0.05}, {0xFFC0C0C0, 0.25, 0.05}, {0xFF404040, 0.75, 0.05}, {kWhite, 0, 0}, {kBlack, 1, 0}};
    for (const auto &[grey, share, within] : greys) {
        const std::string art = load1(dir.write("grey.gif", bmpFile(64, 64, std::vector<uint32_t>(64 * 64, grey), {24}))).art();
        EXPECT_NEAR(double(std::count(art.begin(), art.end(), '#')) / (64 * 64), share, within) << std::hex << grey;
    }
}

}  // namespace
}  // namespace vdltest
