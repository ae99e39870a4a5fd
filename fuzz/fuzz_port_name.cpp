// Port-name classification and the model lookup on arbitrary text.
#include <cstdint>
#include <cstring>
#include <string>

#include "VdlLabelAPI.h"
#include "portName.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size));
    const vdl::PortName port = vdl::classifyPortName(text.c_str());
    if (port.type == vdl::kNetwork && port.valid && (port.address == nullptr || port.port == nullptr)) __builtin_trap();
    if (port.device.size() > text.size()) __builtin_trap();
    const int model = getModel(text.c_str());
    if (model != 0 && (model < 151 || model > 199 || VELDRIN_DEVICE[model] == nullptr)) __builtin_trap();
    return 0;
}
