// The application's own web pages.
//
// "Add Printer" (/addprinter) takes the place of PAPPL's page of that name,
// whose "Network Printer" choice makes a socket: device that the driver cannot
// use. Here a printer is added from the devices the library finds or by its
// address: an IPv4 address with its TCP port (9100 when not given), or any
// vdl: device URI. The page is for administrators (access_control.h) and its
// form carries PAPPL's token against cross-site requests.
#ifndef VDL_PRINTER_APP_WEB_PAGES_H
#define VDL_PRINTER_APP_WEB_PAGES_H

#include <pappl/pappl.h>

namespace vdlapp {

// Registers the pages; before papplSystemRun, so that they replace PAPPL's own.
void addWebPages(pappl_system_t *system);

}  // namespace vdlapp

#endif
