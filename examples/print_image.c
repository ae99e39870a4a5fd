/* Prints a picture (BMP, or JPEG and GIF by their .jpg and .gif names) as a
 * compressed bitmap, on the printer named on the command line. */
#include <stdio.h>

#include "VdlLabelAPI.h"

int main(int argc, char **argv) {
    const char *port = argc > 1 ? argv[1] : "127.0.0.1:9100";
    const char *picture = argc > 2 ? argv[2] : "examples/logo.bmp";
    int result = ConnectToPrinter(port);
    if (result != VDL_OK) {
        fprintf(stderr, "print_image: cannot connect to %s (code %d)\n", port, result);
        return 1;
    }
    result = PrintBitmap(picture, 40, 40, 1);
    if (result == VDL_OK) result = Prints(1, 1);
    DisconnectPrinter();
    if (result != VDL_OK) {
        fprintf(stderr, "print_image: %s not printed (code %d)\n", picture, result);
        return 1;
    }
    printf("%s printed\n", picture);
    return 0;
}
