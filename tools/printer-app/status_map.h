// The printer's error bits as IPP printer-state-reasons, in one table.
#ifndef VDL_PRINTER_APP_STATUS_MAP_H
#define VDL_PRINTER_APP_STATUS_MAP_H

#include <cstdint>
#include <string>

#include <pappl/pappl.h>

namespace vdlapp {

// The reasons for the error bits, and every reason this table can set (to clear the others).
pappl_preason_t reasonsFor(std::uint32_t statusBits);
pappl_preason_t reasonsWeSet();
// What the bits mean in words, for the log and the job's message ("cover open, ...").
std::string messageFor(std::uint32_t statusBits);
// Whether the bits say that labels the printer took have not come out (paper
// empty, cover open, ...): every error but a label waiting at the peeler.
bool holdsLabelsBack(std::uint32_t statusBits);

}  // namespace vdlapp

#endif
