// Pictures as PAPPL's image filter takes them, 8-bit gray, and their
// reduction to the one-bit rows of a label. No PAPPL in here: the fuzz
// target takes it as it is.
#ifndef VDL_PRINTER_APP_GRAY_PICTURE_H
#define VDL_PRINTER_APP_GRAY_PICTURE_H

#include <cstddef>
#include <vector>

namespace vdlapp {

// 8-bit gray pixels, 0 black, top row first.
struct GrayPicture {
    int width = 0;
    int height = 0;
    int pixelsPerInch = 0;  // 0 when the file does not say
    std::vector<unsigned char> pixels;
};

// Decodes a whole PNG file held in memory with libpng's checking reader;
// transparent parts become white. False when the file is damaged, truncated
// (a chunk that claims more bytes than are left, no IEND) or has more than
// maxPixels pixels.
bool decodePng(const unsigned char *data, std::size_t size, std::size_t maxPixels, GrayPicture &picture);

// One row of width gray pixels as packed one-bit dots (most significant bit
// leftmost, 1 = black, (width + 7) / 8 bytes): black where a pixel is no
// lighter than thresholds[x % 16], as PAPPL's own image filter decides with
// its dither matrix row.
void thresholdRow(const unsigned char *pixels, int width, const unsigned char *thresholds, unsigned char *dots);

}  // namespace vdlapp

#endif
