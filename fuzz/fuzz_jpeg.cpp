// JPEG files through the converter, for loadImage and loadImage1.
#include "fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const char *const kNames[] = {"f.jpg"};
    vdlfuzz::loadAndCheck(data, size, kNames);
    return 0;
}
