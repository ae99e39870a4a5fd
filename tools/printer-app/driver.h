// The printer drivers: one a resolution, one printer language.
#ifndef VDL_PRINTER_APP_DRIVER_H
#define VDL_PRINTER_APP_DRIVER_H

#include <pappl/pappl.h>

namespace vdlapp {

extern pappl_pr_driver_t kDrivers[];
extern const int kDriverCount;

bool driverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri, const char *deviceId,
                    pappl_pr_driver_data_t *data, ipp_t **attributes, void *context);
// Documents PAPPL does not recognise by their first bytes are taken to be in the printer's command language.
const char *mimeTypeCallback(const unsigned char *header, size_t headerSize, void *context);
const char *autoAddCallback(const char *deviceInfo, const char *deviceUri, const char *deviceId, void *context);

}  // namespace vdlapp

#endif
