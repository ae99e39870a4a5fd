// PNG documents, decoded with libpng's checking reader: a damaged or truncated
// file ends its job with an error. PAPPL 1.3's own PNG filter retries a
// failed read for ever, holding the printer and a processor.
#ifndef VDL_PRINTER_APP_PNG_FILTER_H
#define VDL_PRINTER_APP_PNG_FILTER_H

#include <pappl/pappl.h>

namespace vdlapp {

// The filter for image/png jobs: the picture goes through PAPPL's scaling and
// dithering to the driver's raster callbacks, or straight to them when it is
// the label dot for dot.
bool pngFilter(pappl_job_t *job, pappl_device_t *device, void *data);

}  // namespace vdlapp

#endif
