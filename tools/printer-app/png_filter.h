// PNG documents, decoded with libpng's checking reader: a damaged or truncated
// file ends its job with an error. PAPPL 1.3's own PNG filter retries a
// failed read for ever, holding the printer and a processor.
#ifndef VDL_PRINTER_APP_PNG_FILTER_H
#define VDL_PRINTER_APP_PNG_FILTER_H

#include <cstddef>
#include <vector>

#include <pappl/pappl.h>

namespace vdlapp {

// A picture as PAPPL's image filter takes it: 8-bit gray, top row first.
struct GrayPicture {
    int width = 0;
    int height = 0;
    int pixelsPerInch = 0;  // 0 when the file does not say
    std::vector<unsigned char> pixels;
};

// Decodes a whole PNG file held in memory; transparent parts become white.
// False when the file is damaged, truncated or larger than maxPixels.
bool decodePng(const unsigned char *data, std::size_t size, std::size_t maxPixels, GrayPicture &picture);

// The filter for image/png jobs: the picture goes through PAPPL's scaling and
// dithering to the driver's raster callbacks.
bool pngFilter(pappl_job_t *job, pappl_device_t *device, void *data);

}  // namespace vdlapp

#endif
