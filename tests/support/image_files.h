// Image files for the tests: pictures described pixel by pixel, BMP files
// written from them, ImageMagick's convert as an independent writer and
// decoder, and the raster a picture must reduce to.
#ifndef VDL_TEST_IMAGE_FILES_H
#define VDL_TEST_IMAGE_FILES_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "VdlLabelAPI.h"
#include "child_process.h"

namespace vdltest {

// A picture of 0xAARRGGBB pixels, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;

    Picture(int w, int h, uint32_t fill = 0xFFFFFFFF) : width(w), height(h), argb(std::size_t(w) * h, fill) {}
    uint32_t &at(int x, int y) { return argb[std::size_t(y) * width + x]; }
};

constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kBlack = 0xFF000000;

// Pseudo-random picture from the given colours.
Picture randomPicture(int width, int height, const std::vector<uint32_t> &colours, unsigned seed);

// The raster a picture must give: a pixel is white when it is pure white or
// fully transparent, black otherwise. (Pictures of the tests keep their
// colours far from white wherever they are partly transparent, so that laying
// them over white cannot round them to white.)
std::vector<uint8_t> expectedRaster(const Picture &picture);

// A raster drawn as text, one line per row: '#' black, '.' white, '!' a bit
// set past the width, so that a failed comparison shows where pictures differ.
std::string rasterArt(const std::vector<uint8_t> &raster, int width, int height);
inline std::string art(const Picture &picture) {
    return rasterArt(expectedRaster(picture), picture.width, picture.height);
}

// A PNG's rule: a pixel laid over white prints when its grey (red, green and
// blue weighed 0.2126, 0.7152, 0.0722, as libpng weighs them) is below mid
// grey. (Pictures of the tests keep their greys far from 128.)
std::string pngArt(const Picture &picture);

// How a BMP file is written.
struct BmpLayout {
    int bitCount;
    uint32_t headerSize = 40;
    uint32_t compression = 0;
    std::vector<uint32_t> palette = {};  // 0x00RRGGBB, for 1, 4 and 8 bits
    bool topDown = false;                // rows top-down, with a negative height
};

// A BMP file. For 1, 4 and 8 bits `pixels` are palette indices; for 24 and 32
// bits 0xAARRGGBB colours (alpha kept at 32 bits). No pixels: all zero.
std::string bmpFile(int width, int height, const std::vector<uint32_t> &pixels, const BmpLayout &layout);
void put32(std::string &bytes, std::size_t at, uint32_t value);

// PNG files written here, chunk by chunk. pngHeader: the signature and the
// IHDR chunk (not interlaced); pngChunk: a chunk of a type and its data, the
// length and CRC filled in; pngZeroRows: image data of rows of zero bytes,
// compressed as they are made so that a large picture costs little here.
std::string pngHeader(uint32_t width, uint32_t height, int bitDepth = 1, int colourType = 0);
std::string pngChunk(const std::string &type, const std::string &data);
std::string pngZeroRows(std::size_t rowBytes, uint32_t rows);

// A PAM file with alpha, convert's input.
std::string pamFile(const Picture &picture);

// ImageMagick's convert, when installed (it is a test dependency only).
bool haveConvert();
// Runs convert with these arguments, without a shell; true on exit status 0.
bool runConvert(std::vector<std::string> arguments);

// A private directory under /tmp, removed with everything in it, and the
// files the tests put there.
class TempDir : public TempDirectory {
public:
    std::string file(const std::string &name) const { return path() + "/" + name; }
    std::string write(const std::string &name, const std::string &bytes) const;
    std::set<std::string> names() const;
};

// A load through loadImage (or, monochrome, loadImage1), with the raster
// copied out and freed. A failed load that hands out a pointer gives the code -1000.
struct Loaded {
    int code = 0;
    BITMAPINFOHEADER info{};
    std::vector<uint8_t> raster;
    std::string art() const { return rasterArt(raster, info.biWidth, info.biHeight); }
};
Loaded load(const std::string &path, int targetWidth = 0, bool monochrome = false);
// The same through VdlLoadPicture, which goes by the file's content.
Loaded loadByContent(const std::string &path, int targetWidth = 0);
inline Loaded load1(const std::string &path) { return load(path, 0, true); }

}  // namespace vdltest

#endif
