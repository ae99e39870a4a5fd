// The printer drivers: one a resolution, one printer language.
#ifndef VDL_PRINTER_APP_DRIVER_H
#define VDL_PRINTER_APP_DRIVER_H

#include <pappl/pappl.h>

#include <cstddef>
#include <vector>

namespace vdlapp {

extern pappl_pr_driver_t kDrivers[];
extern const int kDriverCount;

bool driverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri, const char *deviceId,
                    pappl_pr_driver_data_t *data, ipp_t **attributes, void *context);
// The format of a document PAPPL does not recognise by its first bytes: a
// picture or raster PAPPL missed, the printer's command language, or none
// (the document then stays application/octet-stream).
const char *mimeTypeCallback(const unsigned char *header, size_t headerSize, void *context);
// The filter of application/octet-stream, documents of no format the printer
// takes: their jobs end aborted with document-format-error, nothing sent.
bool unknownFormatFilter(pappl_job_t *job, pappl_device_t *device, void *context);
// The filter of ZPL II documents (application/vnd.zebra-zpl): translated, then printed as the printer's commands.
bool zplFilter(pappl_job_t *job, pappl_device_t *device, void *context);
// Says in the job's message how it ended, as the last step of its printing:
// canceled, printed (the printer took it all), or why it was not; printed.
bool showEnd(pappl_job_t *job, bool printed);
// The job's document file opened for reading, or -1. A job can reach its
// filter without a file (PAPPL starts a Create-Job job released before its
// document came), and that job is then one that cannot be read.
int openJobDocument(pappl_job_t *job);
// The job's document, up to limit + 1 bytes (one more than allowed tells a
// document past the limit); false when it cannot be read.
bool readJobDocument(pappl_job_t *job, std::size_t limit, std::vector<unsigned char> &bytes);
// PAPPL's timer callback that shows each printer's latest state (every second).

bool showPrinterStates(pappl_system_t *system, void *data);
// A new or loaded printer: its supplies, their levels unknown until it answers.
void printerCreated(pappl_printer_t *printer, void *data);
const char *autoAddCallback(const char *deviceInfo, const char *deviceUri, const char *deviceId, void *context);

}  // namespace vdlapp

#endif
