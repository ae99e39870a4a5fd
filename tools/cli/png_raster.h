// PNG pictures for vdl-label: the library reads BMP, JPEG and GIF itself;
// PNG is read here and handed to it as a one-bit raster.
#ifndef VDL_CLI_PNG_RASTER_H
#define VDL_CLI_PNG_RASTER_H

#include <optional>
#include <string>

#include "VdlLabelAPI.hpp"

// True when the file starts with the PNG signature (whatever its name).
bool isPngFile(const std::string &path);

// The picture reduced to one bit: composed over white, a pixel darker than
// mid grey prints black. Empty, with the reason in `problem`, when the file
// cannot be read or is larger than the printer's bitmap commands describe.
std::optional<vdl::Raster> readPngRaster(const std::string &path, std::string &problem);

#endif
