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

std::size_t utf8SequenceAt(std::string_view bytes, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[i + k]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    // The length, and the range of the second byte that rules out the
    // overlong forms, the surrogates and what lies past U+10FFFF.
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    }
    if (length == 0 || i + length > bytes.size() || at(1) < low || at(1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((at(k) & 0xC0) != 0x80) return 0;
    return length;
}

std::vector<char32_t> codePoints(const std::string &utf8) {
    std::vector<char32_t> points;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t length = utf8SequenceAt(utf8, i);
        if (length == 0) {
            points.push_back(0xFFFD);
            ++i;
            continue;
        }
        static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        char32_t point = static_cast<unsigned char>(utf8[i]) & kLeadBits[length];
        for (std::size_t k = 1; k < length; ++k) point = (point << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        points.push_back(point);
        i += length;
    }
    return points;
}

}  // namespace vdlemu
