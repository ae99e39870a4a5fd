// BMP files of every depth, header version and row order, read directly
// ("f.BMP", a name without extension, and "f.bmp" at 4, 8 and 24 bits) or
// converted ("f.bmp" at 1 and 32 bits).
#include "fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const char *const kNames[] = {"f.bmp", "f.BMP", "f"};
    vdlfuzz::loadAndCheck(data, size, kNames);
    return 0;
}
