#include "zpl_graphic.h"

#include <zlib.h>

#include <array>
#include <cctype>
#include <cstring>

namespace vdlzpl {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// ZPL's repeat letters before a hex digit: G-Y count 1-19, g-z 20-400 in
// steps of 20; several letters add up ("gH" is 22).
int repeatCount(char c) {
    if (c >= 'G' && c <= 'Y') return c - 'G' + 1;
    if (c >= 'g' && c <= 'z') return (c - 'g' + 1) * 20;
    return 0;
}

// The hex digits of ASCII data, the shorthand expanded: a comma fills the
// rest of the row with 0, '!' with 1 bits, ':' repeats the row before.
bool expandHex(const std::string &data, std::size_t rowDigits, std::size_t totalDigits, std::string &digits,
               std::string &problem) {
    digits.clear();
    digits.reserve(totalDigits);
    int repeat = 0;
    for (char c : data) {
        if (digits.size() >= totalDigits) break;
        const std::size_t left = totalDigits - digits.size();  // nothing goes past the declared size
        if (const int count = repeatCount(c)) {
            repeat = int(std::min<std::size_t>(std::size_t(repeat) + std::size_t(count), left));
        } else if (hexValue(c) >= 0) {
            digits.append(std::min<std::size_t>(std::size_t(std::max(repeat, 1)), left),
                          char(std::toupper(static_cast<unsigned char>(c))));
            repeat = 0;
        } else if (c == ',' || c == '!') {
            digits.append(rowDigits - digits.size() % rowDigits, c == ',' ? '0' : 'F');
            repeat = 0;
        } else if (c == ':') {
            if (digits.size() % rowDigits != 0) digits.append(rowDigits - digits.size() % rowDigits, '0');
            const std::size_t start = digits.size();
            if (start < rowDigits) {
                digits.append(rowDigits, '0');
            } else {
                const std::string previous = digits.substr(start - rowDigits, rowDigits);
                digits += previous;
            }
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            problem = std::string("'") + c + "' is not a hex digit or ZPL shorthand";
            return false;
        }
    }
    if (digits.size() < totalDigits) digits.append(totalDigits - digits.size(), '0');  // printers pad with white
    digits.resize(totalDigits);
    return true;
}

bool decodeBase64(const std::string &text, std::vector<uint8_t> &out, std::size_t limit) {
    static const std::array<int8_t, 256> table = [] {
        std::array<int8_t, 256> t{};
        t.fill(-1);
        const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) t[std::size_t(uint8_t(alphabet[i]))] = int8_t(i);
        return t;
    }();
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        const int v = table[uint8_t(c)];
        if (v < 0) {
            if (std::isspace(static_cast<unsigned char>(c))) continue;
            return false;
        }
        bits = (bits << 6) | uint32_t(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            if (out.size() >= limit) return false;
            out.push_back(uint8_t(bits >> count));
        }
    }
    return true;
}

// The CRC-16 (CCITT polynomial, initial 0) that ends :B64: and :Z64: data,
// taken over the encoded text.
uint16_t crc16(const std::string &text) {
    uint16_t crc = 0;
    for (unsigned char c : text) {
        crc ^= uint16_t(c << 8);
        for (int bit = 0; bit < 8; ++bit) crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// Inflates into exactly expected bytes at most: a stream that would give
// more is refused as soon as it does, so a small bomb costs nothing.
bool inflateBounded(const std::vector<uint8_t> &in, std::size_t expected, std::vector<uint8_t> &out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    out.assign(expected + 1, 0);
    z.next_in = const_cast<Bytef *>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int result = inflate(&z, Z_FINISH);
    const std::size_t produced = out.size() - z.avail_out;
    inflateEnd(&z);
    out.resize(produced);
    return result == Z_STREAM_END && produced <= expected;
}

bool decodeEncoded(const std::string &data, bool deflated, std::size_t totalBytes, std::vector<uint8_t> &bits,
                   std::string &problem) {
    const std::size_t end = data.find(':', 5);
    const std::string text = data.substr(5, end == std::string::npos ? std::string::npos : end - 5);
    if (end != std::string::npos) {
        const std::string crcText = data.substr(end + 1, 4);
        char *stop = nullptr;
        const unsigned long crc = std::strtoul(crcText.c_str(), &stop, 16);
        if (crcText.size() == 4 && *stop == '\0' && crc != crc16(text)) {
            problem = "its CRC does not match its data";
            return false;
        }
    }
    std::vector<uint8_t> decoded;
    if (!decodeBase64(text, decoded, deflated ? kMaxGraphicBytes : totalBytes + 3)) {
        problem = "its base64 data is damaged or longer than declared";
        return false;
    }
    if (deflated) {
        std::vector<uint8_t> inflated;
        if (!inflateBounded(decoded, totalBytes, inflated)) {
            problem = "its deflated data is damaged or inflates past its declared size";
            return false;
        }
        decoded.swap(inflated);
    }
    decoded.resize(totalBytes, 0);
    bits.swap(decoded);
    return true;
}

}  // namespace

namespace {

bool wholeRows(long totalBytes, long bytesPerRow, std::string &problem) {
    if (bytesPerRow < 1 || totalBytes < 1 || totalBytes % bytesPerRow != 0) {
        problem = "its sizes are not whole rows (" + std::to_string(totalBytes) + " bytes in rows of " +
                  std::to_string(bytesPerRow) + ")";
        return false;
    }
    if (std::size_t(totalBytes) > kMaxGraphicBytes || totalBytes / bytesPerRow > 65535 || bytesPerRow > 65535) {
        problem = "it declares " + std::to_string(totalBytes) + " bytes, more than the " +
                  std::to_string(kMaxGraphicBytes) + " a graphic may hold";
        return false;
    }
    return true;
}

}  // namespace

bool takeBinaryRaster(const std::string &data, long binaryBytes, long totalBytes, long bytesPerRow, Raster &raster,
                      std::string &problem) {
    if (!wholeRows(totalBytes, bytesPerRow, problem)) return false;
    if (binaryBytes < totalBytes || data.size() < std::size_t(totalBytes)) {
        problem = "its binary data is cut short (" + std::to_string(data.size()) + " of " + std::to_string(totalBytes) + " bytes)";
        return false;
    }
    raster.bytesPerRow = int(bytesPerRow);
    raster.rows = int(totalBytes / bytesPerRow);
    raster.bits.assign(data.begin(), data.begin() + totalBytes);
    return true;
}

bool decodeGraphic(const std::string &data, long totalBytes, long bytesPerRow, Raster &raster, std::string &problem) {
    if (!wholeRows(totalBytes, bytesPerRow, problem)) return false;
    raster.bytesPerRow = int(bytesPerRow);
    raster.rows = int(totalBytes / bytesPerRow);
    const std::size_t total = std::size_t(totalBytes);
    if (data.compare(0, 5, ":B64:") == 0 || data.compare(0, 5, ":Z64:") == 0)
        return decodeEncoded(data, data[1] == 'Z', total, raster.bits, problem);
    std::string digits;
    if (!expandHex(data, std::size_t(bytesPerRow) * 2, total * 2, digits, problem)) return false;
    raster.bits.resize(total);
    for (std::size_t i = 0; i < total; ++i)
        raster.bits[i] = uint8_t(hexValue(digits[2 * i]) << 4 | hexValue(digits[2 * i + 1]));
    return true;
}

Raster magnify(const Raster &raster, int across, int down) {
    Raster big;
    const int widthDots = raster.bytesPerRow * 8 * across;
    big.bytesPerRow = (widthDots + 7) / 8;
    big.rows = raster.rows * down;
    big.bits.assign(std::size_t(big.bytesPerRow) * std::size_t(big.rows), 0);
    for (int row = 0; row < big.rows; ++row) {
        const uint8_t *from = &raster.bits[std::size_t(row / down) * std::size_t(raster.bytesPerRow)];
        uint8_t *to = &big.bits[std::size_t(row) * std::size_t(big.bytesPerRow)];
        for (int x = 0; x < widthDots; ++x) {
            const int source = x / across;
            if (from[source / 8] & (0x80 >> (source % 8))) to[x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    }
    return big;
}

}  // namespace vdlzpl
