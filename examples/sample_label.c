/* Prints a sample shipping label on the printer named on the command line
 * (default: the emulator on 127.0.0.1:9100) and reads its status. */
#include <stdio.h>

#include "VdlLabelAPI.h"

/* 4 x 6 inch label at 203 dots per inch. */
enum { kWidth = 812, kHeight = 1218, kGap = 24 };

static int composeLabel(void) {
    int result = VDL_OK;
    if (result == VDL_OK) result = PrintBlock(20, 20, kWidth - 20, kHeight - 20, 4, 4);
    if (result == VDL_OK) result = PrintDeviceFont("VELDRIN LOGISTICS", 40, 40, 4, 1, 1, 0, 1);
    if (result == VDL_OK) result = PrintBlock(20, 100, kWidth - 20, 104, 0, 0);
    if (result == VDL_OK) result = PrintDeviceFont("SHIP TO:", 40, 130, 3, 1, 1, 0, 0);
    if (result == VDL_OK) result = PrintVectorFont("ACME SUPPLY, DOCK 7", 40, 170, 5, 40, 40, 0, 1, 0, 0, 0, 0, 0);
    if (result == VDL_OK) result = PrintVectorFont("1200 HARBOR ROAD, SPRINGFIELD", 40, 220, 5, 30, 30, 0, 0, 0, 0, 0, 0, 0);
    if (result == VDL_OK) result = Print1DBarcode("PKG-000123456", 80, 320, 1, 2, 4, 160, 0, 0);
    if (result == VDL_OK) result = PrintQRCode("https://example.com/t/PKG-000123456", 80, 560, 2, 1, 4, 0);
    if (result == VDL_OK) result = PrintDeviceFont("WEIGHT 2.4 KG", 420, 600, 3, 2, 2, 0, 0);
    if (result == VDL_OK) result = PrintCircle(600, 1000, 4, 2);
    return result;
}

int main(int argc, char **argv) {
    const char *port = argc > 1 ? argv[1] : "127.0.0.1:9100";
    int result = ConnectToPrinter(port);
    int status = 0;

    if (result != VDL_OK) {
        fprintf(stderr, "sample_label: cannot connect to %s (code %d)\n", port, result);
        return 1;
    }
    printf("connected to %s, model %d (%s)\n", port, gPrinterModel, VELDRIN_DEVICE[gPrinterModel]);

    if (result == VDL_OK) result = SetPaper(kWidth, kHeight, 0, 0, kGap);
    if (result == VDL_OK) result = SetSpeed(4);
    if (result == VDL_OK) result = SetDensity(12);
    if (result == VDL_OK) result = ClearBuffer();
    if (result == VDL_OK) result = composeLabel();
    if (result == VDL_OK) result = Prints(1, 1);
    if (result == VDL_OK) status = CheckPrinterStatus();
    DisconnectPrinter();

    if (result != VDL_OK || status < 0) {
        fprintf(stderr, "sample_label: printing failed (code %d)\n", result != VDL_OK ? result : status);
        return 1;
    }
    printf("label printed; printer error bits 0x%02X\n", status);
    return 0;
}
