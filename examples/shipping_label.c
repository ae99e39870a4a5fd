/* A shipping label: a frame, the addresses, a Code 128 style barcode and a QR
 * code, printed on the printer named on the command line. */
#include <stdio.h>

#include "VdlLabelAPI.h"

/* Symbology code of the linear barcode (the printer's Code 128). */
enum { kCode128 = 1 };

static int compose(void) {
    int result = PrintBlock(16, 16, 796, 1202, 4, 3);
    if (result == VDL_OK) result = PrintDeviceFont("FROM: VELDRIN DEMO WAREHOUSE", 40, 40, 3, 1, 1, 0, 0);
    if (result == VDL_OK) result = PrintDeviceFont("TO: ACME SUPPLY, DOCK 7", 40, 100, 4, 1, 1, 0, 1);
    if (result == VDL_OK) result = PrintVectorFont("1200 HARBOR ROAD", 40, 160, 5, 36, 36, 0, 0, 0, 0, 0, 0, 0);
    if (result == VDL_OK) result = Print1DBarcode("PKG000123456", 60, 300, kCode128, 2, 4, 180, 0, 0);
    if (result == VDL_OK) result = PrintQRCode("PKG000123456|ACME|DOCK7", 520, 560, 2, 1, 6, 0);
    return result;
}

int main(int argc, char **argv) {
    const char *port = argc > 1 ? argv[1] : "127.0.0.1:9100";
    int result = ConnectToPrinter(port);
    if (result != VDL_OK) {
        fprintf(stderr, "shipping_label: cannot connect to %s (code %d)\n", port, result);
        return 1;
    }
    result = compose();
    if (result == VDL_OK) result = Prints(1, 1);
    DisconnectPrinter();
    if (result != VDL_OK) {
        fprintf(stderr, "shipping_label: printing failed (code %d)\n", result);
        return 1;
    }
    puts("shipping label printed");
    return 0;
}
