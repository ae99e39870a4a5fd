// PNG and JPEG documents, decoded by the application itself (libpng's checking
// reader, libjpeg-turbo): a damaged or truncated file ends its job with an
// error. PAPPL 1.3's own PNG filter retries a failed read for ever, holding
// the printer and a processor, and its JPEG filter knows no error diffusion.
#ifndef VDL_PRINTER_APP_PICTURE_FILTER_H
#define VDL_PRINTER_APP_PICTURE_FILTER_H

#include <pappl/pappl.h>

namespace vdlapp {

// The filters for image/png and image/jpeg jobs: the picture goes through
// PAPPL's scaling to the driver's raster callbacks, or straight to them when
// it is the label dot for dot. A photo reaches them as 8-bit grey rows, which
// the driver reduces by error diffusion; anything else as rows thresholded to
// one bit (gray_picture.h says which is which).
bool pngFilter(pappl_job_t *job, pappl_device_t *device, void *data);
bool jpegFilter(pappl_job_t *job, pappl_device_t *device, void *data);

}  // namespace vdlapp

#endif
