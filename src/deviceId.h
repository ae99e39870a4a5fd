// The IEEE 1284 device ID that a USB printer reports: a list of fields, each
// a key, ':', a value and ';'. The USB probe needs two of them.
#ifndef VDL_DEVICE_ID_H
#define VDL_DEVICE_ID_H

#include <cstddef>
#include <string_view>

namespace vdl {

// Values are cut to this many characters.
constexpr std::size_t kDeviceIdValueLimit = 63;

struct DeviceId {
    char manufacturer[kDeviceIdValueLimit + 1];
    char model[kDeviceIdValueLimit + 1];
};

// Extracts the manufacturer ("MFG:", else "MANUFACTURER:") and the model
// ("MDL:", else "MODEL:") from an ID text. Each key is searched anywhere in
// the text, case-sensitively; its value runs to the next ';' or to the end of
// the text. A missing key gives an empty value. Any bytes are accepted.
DeviceId parseDeviceId(std::string_view text);

// The ID text inside the area filled by the printer-class driver: the bytes
// after the 2-byte length prefix, up to the first NUL or the end of the area.
std::string_view deviceIdText(const unsigned char *area, std::size_t size);

}  // namespace vdl

#endif
