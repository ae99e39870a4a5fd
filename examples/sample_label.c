/* Prints a sample shipping label on the printer named on the command line
 * (default: the emulator on 127.0.0.1:9100) and reads its status. */
#include <stdio.h>
#include <string.h>

#include "VdlLabelAPI.h"

/* The label as printer commands: 4 x 6 inch media at 203 dpi, a frame, a few
 * text fields and a barcode, as the library's composing calls produce them. */
static const char *const kLabel[] = {
    "SL1218,24,G,0\rSW812\r",
    "SS4\rSD12\r",
    "BD20,20,792,1198,B,4\r",
    "T40,40,4,1,1,0,0,N,N,'VELDRIN LOGISTICS'\r",
    "T40,110,3,1,1,0,0,N,N,'SHIP TO: ACME SUPPLY, DOCK 7'\r",
    "T40,150,3,1,1,0,0,N,N,'1200 HARBOR ROAD, SPRINGFIELD'\r",
    "B140,260,1,2,4,160,0,0,'PKG-000123456'\r",
};

int main(int argc, char **argv) {
    const char *port = argc > 1 ? argv[1] : "127.0.0.1:9100";
    unsigned char status[1];
    uint32_t statusLength = sizeof status;
    size_t i;
    int result = ConnectToPrinter(port);

    if (result != VDL_OK) {
        fprintf(stderr, "sample_label: cannot connect to %s (code %d)\n", port, result);
        return 1;
    }
    printf("connected to %s, model %d (%s)\n", port, gPrinterModel, VELDRIN_DEVICE[gPrinterModel]);

    for (i = 0; i < sizeof kLabel / sizeof kLabel[0] && result >= 0; ++i)
        result = WriteBuffer(kLabel[i], (uint32_t)strlen(kLabel[i]));
    if (result >= 0) result = Prints(1, 1);
    if (result == VDL_OK) result = DirectIO("^cu\r", 4, status, &statusLength);
    DisconnectPrinter();

    if (result != VDL_OK) {
        fprintf(stderr, "sample_label: printing failed (code %d)\n", result);
        return 1;
    }
    printf("label printed; printer status byte 0x%02X\n", status[0]);
    return 0;
}
