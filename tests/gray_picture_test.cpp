// The printer application's reduction of pictures to dots: error diffusion
// keeps a grey's darkness and pure black and white as they are; the photo
// rule decides between it and the threshold. JPEG documents decode to grey.
#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "gray_picture.h"
#include "image_files.h"

namespace vdltest {
namespace {

using vdlapp::Content;
using vdlapp::Quality;

// A picture of width x height, its pixel at (x, y) grey(x, y).
template <typename Grey>
vdlapp::GrayPicture picture(int width, int height, Grey grey) {
    vdlapp::GrayPicture p{width, height, 0, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) p.pixels.push_back(static_cast<unsigned char>(grey(x, y)));
    return p;
}

std::vector<unsigned char> diffused(const vdlapp::GrayPicture &p) {
    const std::size_t rowBytes = (std::size_t(p.width) + 7) / 8;
    std::vector<unsigned char> dots(rowBytes * std::size_t(p.height));
    vdlapp::Diffuser diffuser;
    diffuser.start(p.width);
    for (int y = 0; y < p.height; ++y)
        diffuser.row(p.pixels.data() + std::size_t(y) * std::size_t(p.width), dots.data() + y * rowBytes);
    return dots;
}

TEST(GrayPictureTest, DiffusionPrintsAGreyAsItsDarknessAndBlackAndWhiteAsTheyAre) {
    for (const double darkness : {0.0, 0.25, 0.5, 0.65, 1.0}) {
        const int width = 301, height = 200;  // rows that end inside a byte
        const auto dots = diffused(picture(width, height, [&](int, int) { return 255 * (1 - darkness) + 0.5; }));
        int black = 0;
        for (const unsigned char byte : dots) black += __builtin_popcount(byte);
        EXPECT_NEAR(double(black) / (width * height), darkness, 0.02) << darkness;
    }
    std::mt19937 random(3);  // bars of a barcode, dot for dot
    std::vector<int> bars(301);
    for (int &bar : bars) bar = random() % 2 ? 255 : 0;
    const auto barcode = picture(301, 40, [&](int x, int) { return bars[std::size_t(x)]; });
    std::vector<unsigned char> thresholded(38 * 40);
    const std::vector<unsigned char> middle(16, 127);
    for (int y = 0; y < 40; ++y) vdlapp::thresholdRow(barcode.pixels.data() + y * 301, 301, middle.data(),
                                                      thresholded.data() + y * 38);
    EXPECT_EQ(diffused(barcode), thresholded);
}

TEST(GrayPictureTest, PhotosAreDiffusedAndSharpEdgesThresholded) {
    // A photo's greys everywhere; text drawn with anti-aliased edges (a grey row
    // above and below each 3-dot stroke, one stroke every 16 rows); a barcode.
    const auto photo = picture(64, 64, [](int x, int y) { return 40 + x + y; });
    const auto text = picture(64, 64, [](int, int y) { return y % 16 < 3 ? 0 : y % 16 < 5 ? 128 + y % 16 : 255; });
    const auto barcode = picture(64, 64, [](int x, int) { return x % 3 ? 255 : 0; });
    EXPECT_TRUE(vdlapp::continuousTone(photo));
    const struct {
        Content content;
        Quality quality;
        bool jpeg;
        const vdlapp::GrayPicture &picture;
        bool diffused;
    } cases[] = {
        {Content::automatic, Quality::normal, false, photo, true},
        {Content::automatic, Quality::normal, false, text, false},
        {Content::automatic, Quality::normal, false, barcode, false},
        {Content::automatic, Quality::normal, true, text, true},  // a JPEG is a photo
        {Content::photo, Quality::normal, false, barcode, true},
        {Content::sharp, Quality::normal, true, photo, false},
        {Content::sharp, Quality::normal, false, photo, false},
        {Content::sharp, Quality::high, false, barcode, true},
        {Content::photo, Quality::draft, true, photo, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vdlapp::diffuses(c.content, c.quality, c.jpeg, c.picture), c.diffused)
            << int(c.content) << " " << int(c.quality) << " jpeg " << c.jpeg << " picture " << &c - cases;
}

// A colour JPEG in each colour space convert writes decodes to its luminance
// (blue-ish: 0.299 x 48 + 0.587 x 112 + 0.114 x 240 = 108), with the
// resolution the file gives; a cut file and one past the pixel limit are refused.
TEST(GrayPictureTest, JpegFilesDecodeToTheirLuminanceOrAreRefused) {
    if (!haveConvert()) GTEST_SKIP() << "ImageMagick's convert is not installed (scripts/install-deps.sh)";
    const TempDir dir;
    const std::string source = dir.write("flat.pam", pamFile(Picture(16, 8, 0xFF3070F0)));
    const struct {
        std::vector<std::string> options;
        int pixelsPerInch;
    } cases[] = {
        {{"-quality", "95"}, 0},
        {{"-colorspace", "Gray", "-density", "200", "-units", "PixelsPerInch"}, 200},
        {{"-colorspace", "CMYK", "-quality", "95", "-density", "80", "-units", "PixelsPerCentimeter"}, 203},
    };
    for (const auto &c : cases) {
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.begin(), source);
        arguments.push_back(dir.file("flat.jpg"));
        ASSERT_TRUE(runConvert(arguments));
        const std::string jpeg = readFile(dir.file("flat.jpg"));
        const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.data());
        vdlapp::GrayPicture picture;
        ASSERT_TRUE(vdlapp::decodeJpeg(bytes, jpeg.size(), 16 * 8, picture)) << c.options[1];
        EXPECT_EQ(picture.width, 16);
        EXPECT_EQ(picture.height, 8);
        EXPECT_EQ(picture.pixelsPerInch, c.pixelsPerInch);
        const auto [darkest, lightest] = std::minmax_element(picture.pixels.begin(), picture.pixels.end());
        EXPECT_NEAR(*darkest, 108, 4) << c.options[1];
        EXPECT_NEAR(*lightest, 108, 4) << c.options[1];
        EXPECT_FALSE(vdlapp::decodeJpeg(bytes, jpeg.size(), 16 * 8 - 1, picture));
        EXPECT_FALSE(vdlapp::decodeJpeg(bytes, jpeg.size() * 2 / 3, 16 * 8, picture));
    }
}

}  // namespace
}  // namespace vdltest
