// compressData on any bytes, decoded again: a run is 0x00 or 0xFF followed by
// its count (1 to 255), any other byte stands for itself. The stream must give
// back exactly the input.
#include <cstdint>
#include <string>

#include "VdlLabelAPI.h"
#include "fuzz_support.h"

namespace {

bool decode(const std::string &stream, std::string &out) {
    for (std::size_t at = 0; at < stream.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(stream[at]);
        if (byte != 0x00 && byte != 0xFF) {
            out += char(byte);
            continue;
        }
        if (++at >= stream.size() || stream[at] == '\0') return false;
        out.append(static_cast<unsigned char>(stream[at]), char(byte));
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vdlfuzz::connectToSink(3);
    vdlfuzz::drain();
    if (compressData(data, uint32_t(size)) != 0) __builtin_trap();
    std::string decoded;
    if (!decode(vdlfuzz::drain(), decoded)) __builtin_trap();
    if (decoded != std::string(reinterpret_cast<const char *>(data), size)) __builtin_trap();
    return 0;
}
