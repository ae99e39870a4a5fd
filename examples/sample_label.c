/* Prints a sample 4 x 6 inch shipping label on the printer named on the
 * command line (default: the emulator on 127.0.0.1:9100), with a logo image
 * when a file is given after it, and reads the printer's status.
 *
 *     sample_label [port-name [logo-file]]
 */
#include <stdio.h>

#include "VdlLabelAPI.h"

/* 4 x 6 inch label at 203 dots per inch. */
enum { kWidth = 812, kHeight = 1218, kGap = 24, kMargin = 20 };

/* Block options and fonts used below. */
enum { kFill = 0, kFrame = 4 };
enum { kSans = 0, kSerif = 5 };

static int rule(int y, int thickness) {
    return PrintBlock(kMargin, y, kWidth - kMargin - 1, y + thickness - 1, kFill, 0);
}

static int text(const char *s, int x, int y, int height, int bold) {
    return PrintVectorFont(s, x, y, kSans, height, height, 0, (unsigned char)bold, 0, 0, 0, 0, 0);
}

/* The logo sits in the top right corner. It goes to the printer at once, as
 * an LCR bitmap; a file that cannot be loaded leaves the logo out. */
static int printLogo(const char *path) {
    const int result = PrintBitmap(path, 600, 34, 1);
    if (result != VDL_OK) fprintf(stderr, "sample_label: logo %s left out (code %d)\n", path, result);
    return VDL_OK;
}

static int composeLabel(const char *logo) {
    int result = PrintBlock(kMargin, kMargin, kWidth - kMargin - 1, kHeight - kMargin - 1, kFrame, 4);
    if (result == VDL_OK) result = PrintDeviceFont("VELDRIN LOGISTICS", 44, 44, 8, 1, 2, 0, 1);
    if (result == VDL_OK) result = PrintDeviceFont("PARCEL SERVICES", 44, 114, 2, 1, 1, 0, 0);
    if (result == VDL_OK && logo != NULL) result = printLogo(logo);
    if (result == VDL_OK) result = rule(150, 4);

    if (result == VDL_OK) result = PrintDeviceFont("FROM:", 44, 170, 2, 1, 1, 0, 0);
    if (result == VDL_OK) result = text("Northwind Parts Ltd, 18 Mill Lane, Riverton", 130, 168, 22, 0);
    if (result == VDL_OK) result = rule(210, 2);

    if (result == VDL_OK) result = PrintDeviceFont("SHIP TO:", 44, 232, 3, 1, 1, 0, 1);
    if (result == VDL_OK) result = PrintVectorFont("ACME SUPPLY CO.", 44, 270, kSerif, 52, 52, 0, 1, 0, 0, 0, 0, 0);
    if (result == VDL_OK) result = text("Attn: Receiving, Dock 7", 44, 336, 32, 0);
    if (result == VDL_OK) result = text("1200 Harbor Road", 44, 376, 32, 0);
    if (result == VDL_OK) result = text("SPRINGFIELD  OR 97477", 44, 416, 32, 1);
    if (result == VDL_OK) result = rule(476, 6);

    if (result == VDL_OK) result = PrintDeviceFont("TRACKING", 44, 500, 3, 1, 1, 0, 0);
    if (result == VDL_OK) result = Print1DBarcode("PKG-000123456", 170, 530, 1, 3, 6, 170, 0, 1);
    if (result == VDL_OK) result = rule(760, 6);

    if (result == VDL_OK) result = PrintQRCode("https://example.com/t/PKG-000123456", 44, 790, 2, 1, 4, 0);
    if (result == VDL_OK) result = PrintVectorFont("EXPRESS", 330, 800, kSans, 44, 44, 4, 1, 1, 0, 0, 0, 0);
    if (result == VDL_OK) result = PrintDeviceFont("WEIGHT 2.4 KG", 330, 880, 3, 2, 2, 0, 0);
    if (result == VDL_OK) result = PrintDeviceFont("PIECE 1 OF 1", 330, 930, 3, 2, 2, 0, 0);
    if (result == VDL_OK) result = PrintDeviceFont("SHIP DATE 2026-12-05", 330, 980, 3, 1, 1, 0, 0);
    if (result == VDL_OK) result = PrintCircle(620, 1010, 5, 1);
    if (result == VDL_OK) result = PrintDeviceFont("P7", 642, 1034, 8, 2, 2, 0, 1);
    if (result == VDL_OK) result = rule(1130, 2);
    if (result == VDL_OK) result = PrintVectorFont("Printed with libVdlLabelAPI", kWidth / 2, 1150, kSans, 22, 22, 0,
                                                   0, 0, 1, 0, 1, 0);
    return result;
}

int main(int argc, char **argv) {
    const char *port = argc > 1 ? argv[1] : "127.0.0.1:9100";
    const char *logo = argc > 2 ? argv[2] : NULL;
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
    if (result == VDL_OK) result = composeLabel(logo);
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
