// The printer application's PNG and JPEG decoding, thresholding and error
// diffusion on arbitrary files. Beyond never crashing or reading past the
// file, it checks:
// - a decoded picture has width x height pixels, within the pixel limit the
//   input picks (as a job's memory bound is what its file leaves of 128 MiB,
//   the decoders meet many limits, and refuse by the header what passes them);
// - every row thresholds to the same dots as the rule written out one pixel
//   at a time (black where the grey is no lighter than the threshold at
//   x % 16), whatever thresholds the input picks, with nothing written past
//   the row's bytes;
// - every row diffuses to dots black where the grey is 0 and white where it
//   is 255, with nothing written past the row's bytes.
//
// Input: byte 0 picks the thresholds' seed and the pixel limit, the rest is
// the PNG or JPEG file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gray_picture.h"

namespace {

// A large label at most, which keeps each run short; down to 1/128 of it.
std::size_t pixelLimit(unsigned choice) { return std::size_t(1) << (20 - (choice & 7)); }

unsigned char expectedByte(const vdlapp::GrayPicture &picture, int y, int firstX, const unsigned char *thresholds) {
    unsigned char byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const int x = firstX + bit;
        if (x >= picture.width) break;
        const unsigned char grey = picture.pixels[std::size_t(y) * std::size_t(picture.width) + std::size_t(x)];
        if (grey <= thresholds[x % 16]) byte |= static_cast<unsigned char>(0x80 >> bit);
    }
    return byte;
}

void checkThresholds(const vdlapp::GrayPicture &picture, unsigned seed) {
    unsigned char thresholds[16];
    for (int i = 0; i < 16; ++i) thresholds[i] = static_cast<unsigned char>(seed * 37u + unsigned(i) * 101u);
    const std::size_t rowBytes = (std::size_t(picture.width) + 7) / 8;
    std::vector<unsigned char> dots(rowBytes + 1, 0xA5);  // one guard byte past the row
    for (int y = 0; y < picture.height; ++y) {
        vdlapp::thresholdRow(picture.pixels.data() + std::size_t(y) * std::size_t(picture.width), picture.width,
                             thresholds, dots.data());
        for (std::size_t i = 0; i < rowBytes; ++i)
            if (dots[i] != expectedByte(picture, y, int(i * 8), thresholds)) std::abort();
        if (dots[rowBytes] != 0xA5) std::abort();
    }
}

void checkDiffusion(const vdlapp::GrayPicture &picture) {
    const std::size_t rowBytes = (std::size_t(picture.width) + 7) / 8;
    std::vector<unsigned char> dots(rowBytes + 1, 0xA5);
    vdlapp::Diffuser diffuser;
    diffuser.start(picture.width);
    for (int y = 0; y < picture.height; ++y) {
        const unsigned char *row = picture.pixels.data() + std::size_t(y) * std::size_t(picture.width);
        diffuser.row(row, dots.data());
        for (int x = 0; x < picture.width; ++x) {
            const bool black = dots[std::size_t(x) / 8] & (0x80 >> (x % 8));
            if ((row[x] == 0 && !black) || (row[x] == 255 && black)) std::abort();
        }
        if (dots[rowBytes] != 0xA5) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t maxPixels = pixelLimit(data[0]);
    vdlapp::GrayPicture picture;
    if (!vdlapp::decodePng(data + 1, size - 1, maxPixels, picture) &&
        !vdlapp::decodeJpeg(data + 1, size - 1, maxPixels, picture))
        return 0;
    if (picture.width < 1 || picture.height < 1 ||
        std::size_t(picture.width) * std::size_t(picture.height) > maxPixels ||
        picture.pixels.size() != std::size_t(picture.width) * std::size_t(picture.height))
        std::abort();
    checkThresholds(picture, data[0]);
    checkDiffusion(picture);
    return 0;
}
