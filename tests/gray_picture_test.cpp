// The printer application's reduction of pictures to dots: error diffusion
// keeps a grey's darkness and pure black and white as they are; the photo
// rule decides between it and the threshold.
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "gray_picture.h"

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

}  // namespace
}  // namespace vdltest
