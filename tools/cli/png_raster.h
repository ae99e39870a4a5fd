// PNG pictures for vdl-label: the library reads BMP, JPEG and GIF itself;
// PNG is read here and handed to its bitmap commands as a one-bit raster.
#ifndef VDL_CLI_PNG_RASTER_H
#define VDL_CLI_PNG_RASTER_H

#include <optional>
#include <string>
#include <vector>

#include "VdlLabelAPI.h"

// A raster as printLD and printLCR take it: rows of (width + 7) / 8 bytes,
// top row first, most significant bit leftmost, 1 = black.
struct PngRaster {
    BITMAPINFOHEADER info;
    std::vector<unsigned char> bits;
};

// True when the file starts with the PNG signature (whatever its name).
bool isPngFile(const std::string &path);

// The picture reduced to one bit: composed over white, a pixel darker than
// mid grey prints black. Empty, with the reason in `problem`, when the file
// cannot be read or its size is one the library's loaders refuse too.
std::optional<PngRaster> readPngRaster(const std::string &path, std::string &problem);

#endif
