// ZPL's graphics as one-bit rasters: ^GF and ~DG data in ASCII hex (with
// ZPL's run-length shorthand), :B64: and :Z64: (base64, the latter deflated),
// each with its CRC checked.
#ifndef VDL_ZPL_GRAPHIC_H
#define VDL_ZPL_GRAPHIC_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vdlzpl {

// Rows of bytesPerRow bytes, top row first, most significant bit leftmost,
// 1 = black: ZPL's layout, and the printer's.
struct Raster {
    int bytesPerRow = 0;
    int rows = 0;
    std::vector<uint8_t> bits;
};

// The largest raster one graphic may hold, in bytes (64 M dots).
constexpr std::size_t kMaxGraphicBytes = 8u << 20;

// Decodes the data of a graphic that declares totalBytes in rows of
// bytesPerRow. False, with the reason in problem, for data that is damaged,
// of another size than declared, or past kMaxGraphicBytes.
bool decodeGraphic(const std::string &data, long totalBytes, long bytesPerRow, Raster &raster, std::string &problem);

// Binary graphic data (^GFB): binaryBytes bytes, the raster's first
// totalBytes of them. False, with the reason, for data cut short or sizes
// that are not whole rows or pass kMaxGraphicBytes.
bool takeBinaryRaster(const std::string &data, long binaryBytes, long totalBytes, long bytesPerRow, Raster &raster,
                      std::string &problem);

// The raster magnified by whole factors across and down.
Raster magnify(const Raster &raster, int across, int down);

}  // namespace vdlzpl

#endif
