/* An application built against an installed VdlLabelAPI. */
#include <VdlLabelAPI.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    if (strcmp(VELDRIN_DEVICE[0], "VELDRIN") != 0 || ConnectToPrinter(NULL) != VDL_ERR_PORT_NAME) {
        puts("the installed library does not behave");
        return 1;
    }
    puts("linked against the installed library");
    return 0;
}
