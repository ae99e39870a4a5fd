#include "text_encoding.h"

#include <iconv.h>

#include <array>

namespace vdlemu {

const char *codePageName(int codePage) {
    static const std::array<const char *, 9> kNames = {"EUC-KR", "CP949",  "EUC-CN", "GB18030", "BIG5",
                                                       "CP950",  "EUC-JP", "CP932",  "CP874"};
    if (codePage < 0 || codePage >= int(kNames.size())) return nullptr;
    return kNames[std::size_t(codePage)];
}

bool convertToUtf8(const std::string &bytes, const char *encoding, std::string &utf8) {
    iconv_t converter = iconv_open("UTF-8", encoding);
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    // No byte of these encodings takes more than 4 bytes of UTF-8.
    std::string out(bytes.size() * 4 + 4, '\0');
    char *in = const_cast<char *>(bytes.data());
    std::size_t inLeft = bytes.size();
    char *outAt = &out[0];
    std::size_t outLeft = out.size();
    const bool converted = iconv(converter, &in, &inLeft, &outAt, &outLeft) != std::size_t(-1) && inLeft == 0;
    iconv_close(converter);
    if (!converted) return false;
    out.resize(out.size() - outLeft);
    utf8 = std::move(out);
    return true;
}

LabelText readLabelText(const std::string &bytes, const char *fontEncoding, int fallbackCodePage) {
    std::vector<const char *> candidates;
    if (fontEncoding != nullptr) candidates.push_back(fontEncoding);
    candidates.push_back("UTF-8");
    if (const char *fallback = codePageName(fallbackCodePage)) candidates.push_back(fallback);
    candidates.push_back("ISO-8859-1");

    LabelText text;
    for (const char *encoding : candidates) {
        if (convertToUtf8(bytes, encoding, text.utf8)) {
            text.encoding = encoding;
            return text;
        }
    }
    text.utf8 = bytes;  // not reached: ISO-8859-1 takes every byte
    text.encoding = "bytes";
    return text;
}

std::vector<char32_t> codePoints(const std::string &utf8) {
    std::vector<char32_t> points;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        char32_t point = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length > 0 && i + std::size_t(length) <= utf8.size();
        for (int k = 1; valid && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(utf8[i + std::size_t(k)]);
            valid = (next & 0xC0) == 0x80;
            point = (point << 6) | (next & 0x3F);
        }
        if (!valid) {
            points.push_back(0xFFFD);
            ++i;
            continue;
        }
        points.push_back(point);
        i += std::size_t(length);
    }
    return points;
}

}  // namespace vdlemu
