// Code-page conversion of arbitrary bytes to every code page (and outside
// the table): the buffer holds exactly what was appended, or is unchanged.
#include <cstdint>
#include <cstring>
#include <string>

#include "VdlLabelAPI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const int codePage = int(data[0] % 12) - 2;
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    initDataBuffer();
    const int result = convertData(text.c_str(), uint32_t(text.size()), codePage);
    if (result == 0) {
        if (gDataIndex < 3 || gPrintData[0] != '\'' || gPrintData[gDataIndex - 2] != '\'' ||
            gPrintData[gDataIndex - 1] != '\r')
            __builtin_trap();
    } else if (result == VDL_ERR_WRITE) {
        // A failed conversion appends nothing; a failed flush (no printer
        // here) keeps what was appended.
        if (gDataIndex != 0 && gDataIndex < 3584) __builtin_trap();
    } else {
        __builtin_trap();
    }
    return 0;
}
