#include "deviceId.h"

#include <algorithm>
#include <cstring>

namespace vdl {
namespace {

constexpr std::size_t kLengthPrefix = 2;

struct Field {
    std::string_view shortKey;
    std::string_view longKey;
};

constexpr Field kManufacturer{"MFG:", "MANUFACTURER:"};
constexpr Field kModel{"MDL:", "MODEL:"};

// Copies the value of field into out (kDeviceIdValueLimit + 1 bytes), or an
// empty string when neither key occurs.
void extract(std::string_view text, const Field &field, char *out) {
    std::size_t at = text.find(field.shortKey);
    std::size_t keyLength = field.shortKey.size();
    if (at == std::string_view::npos) {
        at = text.find(field.longKey);
        keyLength = field.longKey.size();
    }
    std::size_t length = 0;
    if (at != std::string_view::npos) {
        const std::string_view rest = text.substr(at + keyLength);
        length = std::min(rest.find(';'), rest.size());
        length = std::min(length, kDeviceIdValueLimit);
        std::memcpy(out, rest.data(), length);
    }
    out[length] = '\0';
}

}  // namespace

DeviceId parseDeviceId(std::string_view text) {
    DeviceId id;
    extract(text, kManufacturer, id.manufacturer);
    extract(text, kModel, id.model);
    return id;
}

std::string_view deviceIdText(const unsigned char *area, std::size_t size) {
    if (size <= kLengthPrefix) return {};
    const char *text = reinterpret_cast<const char *>(area + kLengthPrefix);
    const std::size_t room = size - kLengthPrefix;
    const void *nul = std::memchr(text, '\0', room);
    return std::string_view(text, nul ? std::size_t(static_cast<const char *>(nul) - text) : room);
}

}  // namespace vdl
