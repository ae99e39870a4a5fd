// The emulator's reading of the barcode commands: which symbology each code
// or letter selects, what the free fields mean, and the symbol's modules as
// zint encodes them.
#ifndef VDL_EMULATOR_BARCODES_H
#define VDL_EMULATOR_BARCODES_H

#include <string>

#include "canvas.h"
#include "decoded_command.h"

namespace vdlemu {

struct BarcodeImage {
    Sprite modules;          // one pixel per module (MaxiCode: already at print size)
    int scaleX = 1;          // dots per module across
    int scaleY = 1;          // dots per pixel row down
    std::string humanReadable;  // text to print under the bars, empty for none
};

// Encodes the symbol of a decoded B1, B2 or B3 command. False, with zint's
// reason, when the data cannot be encoded as that symbology.
bool encodeBarcode(const Command &command, int dotsPerInch, BarcodeImage &image, std::string &problem);

// The name of the symbology a linear barcode type (0-16) draws, for the log
// and the documentation; null outside the table.
const char *linearSymbologyName(int barcodeType);

}  // namespace vdlemu

#endif
