// The run-length code of the "LCR" bitmap command.
#ifndef VDL_RUN_LENGTH_H
#define VDL_RUN_LENGTH_H

#include <cstddef>
#include <cstdint>

#include "printer.h"

namespace vdl {

// The longest stream length bytes can encode to: every byte a lone 0x00 or
// 0xFF, each taking two.
inline std::size_t maxRunLengthSize(std::size_t length) { return 2 * length; }

// Encodes length bytes into out (room for maxRunLengthSize(length) bytes);
// returns the stream's length.
std::size_t encodeRunLength(const unsigned char *data, std::size_t length, unsigned char *out);

// Encodes and writes the stream in one writeData call (compressData): 0, or
// -120 when the stream's buffer cannot be allocated (nothing is written).
int compressTo(Printer &p, const unsigned char *data, uint32_t length);

}  // namespace vdl

#endif
