// Label text back from the printer's code pages to UTF-8, for the log and
// for drawing.
#ifndef VDL_EMULATOR_TEXT_ENCODING_H
#define VDL_EMULATOR_TEXT_ENCODING_H

#include <string>
#include <string_view>
#include <vector>

namespace vdlemu {

// The iconv name of code page 0-8 (the library's numbering: 0 EUC-KR,
// 1 CP949, 2 EUC-CN, 3 GB18030, 4 BIG5, 5 CP950, 6 EUC-JP, 7 CP932,
// 8 CP874); null for any other number.
const char *codePageName(int codePage);

// Converts bytes in `encoding` to UTF-8. False when the bytes are not valid
// in that encoding (or iconv does not know it); utf8 is then unchanged.
bool convertToUtf8(const std::string &bytes, const char *encoding, std::string &utf8);

struct LabelText {
    std::string utf8;
    std::string encoding;  // the encoding the bytes were read in
};

// Reads a text field's bytes: in the font's own encoding when it has one
// (null when not), else as UTF-8, else in the fallback code page (0-8, or -1
// for none), else as ISO-8859-1, which takes any byte.
LabelText readLabelText(const std::string &bytes, const char *fontEncoding, int fallbackCodePage);

// The length of the valid UTF-8 sequence at bytes[i], or 0 when there is
// none there (overlong forms, surrogates and code points past U+10FFFF are
// not valid).
std::size_t utf8SequenceAt(std::string_view bytes, std::size_t i);

// The code points of a UTF-8 text (each byte of an invalid sequence becomes U+FFFD).
std::vector<char32_t> codePoints(const std::string &utf8);

}  // namespace vdlemu

#endif
