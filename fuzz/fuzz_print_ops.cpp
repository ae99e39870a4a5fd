// Content and direct operations with arbitrary numbers and data of any
// length, against a printer that takes everything, or none (no connection):
// the command buffer's bookkeeping holds whatever the calls.
#include <cstdint>
#include <string>

#include "VdlLabelAPI.h"
#include "fuzz_support.h"
#include "io.h"
#include "printer.h"

namespace {

int runOne(vdlfuzz::Input &in, const std::string &data) {
    const char *d = data.c_str();
    switch (in.byte() % 24) {
        case 0: return PrintDeviceFont(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.byte());
        case 1: return PrintDeviceFontW(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.byte(), in.number());
        case 2: return PrintVectorFont(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.byte(), in.byte(), in.byte(), in.number(), in.number(), in.number());
        case 3: return PrintVectorFontW(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.byte(), in.byte(), in.byte(), in.number(), in.number(), in.number(), in.number());
        case 4: return PrintBlock(in.number(), in.number(), in.number(), in.number(), in.number(), in.number());
        case 5: return PrintCircle(in.number(), in.number(), in.number(), in.number());
        case 6: return Print1DBarcode(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.number());
        case 7: return PrintMaxiCode(d, in.number(), in.number(), in.number());
        case 8: return PrintPDF417(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.byte(), in.number(), in.number(), in.number(), in.number());
        case 9: return PrintQRCode(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number());
        case 10: return PrintDataMatrix(d, in.number(), in.number(), in.number(), in.byte(), in.number());
        case 11: return PrintAztec(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.byte(), in.number(), in.number(), in.number());
        case 12: return PrintCode49(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.number());
        case 13: return PrintCODABLOCK(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.byte(), in.number(), in.number(), in.number());
        case 14: return PrintMicroPDF(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number());
        case 15: return PrintGS1DataBar(d, in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.number(), in.number());
        case 16: return Prints(in.number(), in.number());
        case 17: return SetPaper(in.number(), in.number(), in.number(), in.number(), in.number());
        case 18: return SetMargin(in.number(), in.number());
        case 19: return SetCutter(in.byte(), in.number());
        case 20: return WriteRFID(in.number(), in.number(), in.number(), d);
        case 21: return SetRFIDPassword(d, d, d, d);
        case 22: return SetEPCDataStructure(in.number(), d);
        default: gDataIndex = uint32_t(in.number()); return 0;  // an application writing the fill level
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vdlfuzz::Input in(data, size);
    const bool connected = in.byte() % 2 == 0;
    vdl::Connection &c = vdl::defaultPrinter().connection;
    if (connected) {
        vdlfuzz::connectToSink(in.byte() % 5);
    } else if (c.isOpen()) {
        DisconnectPrinter();
    }
    initDataBuffer();
    while (!in.empty()) {
        const std::string text = in.text(9000);
        runOne(in, text);
        vdlfuzz::drain();
        if (vdl::defaultPrinter().buffer.fill() > 4096) __builtin_trap();
    }
    return 0;
}
