// Raw, paced I/O on a printer's connection: the only code that touches the
// descriptor once a transport has opened it.
#ifndef VDL_IO_H
#define VDL_IO_H

#include <cstdint>

#include "printer.h"

namespace vdl {

// Writes length bytes in chunks paced for the interface type; returns length,
// or -102 when a chunk cannot be written (see writeTo in OpenClose.cpp for the
// retry rules).
int writeTo(Connection &c, const void *data, uint32_t length);

// Reads at most min(size, 512) bytes; returns the count stored, possibly 0.
int readFrom(Connection &c, void *buffer, int size);

// Makes fd the connection's descriptor. An earlier descriptor is not closed:
// the application disconnects before it connects again, and one it did not
// disconnect stays open, its own (see ConnectToPrinter in VdlLabelAPI.h).
void adoptDescriptor(Connection &c, int fd, int interfaceType);

// Closes the descriptor if one is open and marks the connection closed.
void closeConnection(Connection &c);

}  // namespace vdl

#endif
