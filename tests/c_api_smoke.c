/* A C99 application: includes the public header, links the shared library,
 * and uses it without a printer. */
#include <stdio.h>
#include <string.h>

#include "VdlLabelAPI.h"

static int failures = 0;

static void check(int condition, const char *what) {
    if (!condition) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    unsigned char reply[4];
    uint32_t replyLength = sizeof reply;

    check(ConnectToPrinter(NULL) == VDL_ERR_PORT_NAME, "null port name");
    check(ConnectToPrinter("printer.local:9100") == VDL_ERR_PORT_NAME, "host names are refused");
    check(gConnectedPrinter == 0, "not connected");
    check(sizeof(VdlBluetoothAddress) == 6, "Bluetooth addresses are six bytes, as BlueZ's");
    check(ConnectToPrinter("00:11:22:33:44:55") == VDL_ERR_BT_SDP, "no Bluetooth without libbluetooth");
    check(strcmp(VELDRIN_DEVICE[0], "VELDRIN") == 0, "model table slot 0");
    check(getModel(VELDRIN_DEVICE[151]) == 151, "model lookup");
    check(WriteBuffer("CB\r", 3) == VDL_ERR_WRITE_CHUNK, "nothing is written without a connection");
    check(DirectIO("^cu\r", 4, reply, &replyLength) == VDL_ERR_WRITE, "DirectIO without a connection");
    check(Prints(1, 1) == VDL_ERR_WRITE, "print without a connection");
    check(gDataIndex == 5 && memcmp(gPrintData, "P1,1\r", 5) == 0, "the print command stays buffered");
    DisconnectPrinter();
    DisconnectPrinter();

    {
        BITMAPINFOHEADER info;
        unsigned char *image = &reply[0];
        check(sizeof info == 40, "the BMP info header has its file size");
        check(loadImage("/nonexistent/logo.bmp", &image, &info, 0) == VDL_ERR_IMAGE_OPEN && image == NULL,
              "a missing image file");
        check(PrintBitmap("/nonexistent/logo.gif", 0, 0, 1) == VDL_ERR_IMAGE_OPEN, "nothing to print");
    }

    printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
