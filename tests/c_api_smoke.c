/* A C99 application: includes the public headers, links the shared
 * libraries, and uses them without a printer. */
#include <stdio.h>
#include <string.h>

#include "VdlLabelAPI.h"
#include "VdlZpl.h"

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
    BITMAPINFOHEADER info;

    check(ConnectToPrinter("printer.local:9100") == VDL_ERR_PORT_NAME, "host names are refused");
    check(sizeof(VdlBluetoothAddress) == 6 && sizeof info == 40, "BlueZ's address and the BMP header in size");
    check(ConnectToPrinter("00:11:22:33:44:55") == VDL_ERR_BT_SDP, "no Bluetooth without libbluetooth");
    check(strcmp(VELDRIN_DEVICE[0], "VELDRIN") == 0, "model table slot 0");
    check(DirectIO("^cu\r", 4, reply, &replyLength) == VDL_ERR_WRITE, "DirectIO without a connection");
    check(Prints(1, 1) == VDL_ERR_WRITE, "print without a connection");
    check(gDataIndex == 5 && memcmp(gPrintData, "P1,1\r", 5) == 0, "the print command stays buffered");
    DisconnectPrinter();
    initDataBuffer();

    {
        static const char zpl[] = "^XA^FO5,5^GB10,10,10^FS^XZ";
        unsigned char *stream = NULL;
        size_t length = 0;
        check(VdlZplDetect(zpl, strlen(zpl)) == 1, "ZPL is known by its first command");
        check(VdlZplConvert(zpl, strlen(zpl), 0, &stream, &length, NULL, NULL) == 1 &&
                  length == 19 && memcmp(stream, "BD5,5,14,14,O\rP1,1\r", 19) == 0,
              "a ZPL label converted without a printer");
        VdlZplFree(stream);
    }

    printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
