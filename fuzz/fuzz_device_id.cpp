// The IEEE 1284 device-ID parser on arbitrary driver areas.
#include <cstdint>
#include <cstring>

#include "deviceId.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text = vdl::deviceIdText(data, size);
    const vdl::DeviceId id = vdl::parseDeviceId(text);
    if (strlen(id.manufacturer) > vdl::kDeviceIdValueLimit || strlen(id.model) > vdl::kDeviceIdValueLimit)
        __builtin_trap();
    return 0;
}
