#include "document_format.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace vdlapp {
namespace {

struct Signature {
    DocumentFormat format;
    std::string_view bytes;
    const char *mimeType;
};

constexpr Signature kSignatures[] = {
    {DocumentFormat::png, {"\x89PNG\r\n\x1a\n", 8}, "image/png"},
    {DocumentFormat::jpeg, {"\xff\xd8\xff", 3}, "image/jpeg"},  // start of image, then the first marker
    {DocumentFormat::pwgRaster, {"RaS2PwgRaster\0", 14}, "image/pwg-raster"},
    {DocumentFormat::urf, {"UNIRAST\0", 8}, "image/urf"},
};

// How the bytes seen fit a command: not at all, as far as they go (they stop
// inside it), or as a whole command.
enum class Fit { none, partial, whole };

struct Step {
    Fit fit;
    std::size_t length;  // of a whole command
};

constexpr Step kNone{Fit::none, 0};
constexpr Step kPartial{Fit::partial, 0};

enum class Framing { line, quoted, bitmap, compressedBitmap };

// Fields, as the printer decodes them: '#' a 32-bit decimal number, "[...]"
// one of the characters listed, anything else itself. A quoted command's
// fields end with the quote that opens its data, whose parts are separated by
// commas.
struct Shape {
    std::string_view letters;
    Framing framing;
    std::string_view fields;
    std::size_t dataParts = 1;
};

// Every command the printer takes, one row for each form of its fields.
constexpr Shape kShapes[] = {
    {"^PI0", Framing::line, ""},
    {"^cu", Framing::line, ""},
    {"P", Framing::line, "#,#"},
    {"CB", Framing::line, ""},
    {"@", Framing::line, ""},
    {"~JC", Framing::line, ""},
    {"~JR", Framing::line, ""},
    {"~PH", Framing::line, ""},
    {"BD", Framing::line, "#,#,#,#,[OED]"},
    {"BD", Framing::line, "#,#,#,#,[SB],#"},
    {"CD", Framing::line, "#,#,#,#"},
    {"SS", Framing::line, "#"},
    {"SD", Framing::line, "#"},
    {"SO", Framing::line, "[TB]"},
    {"CUT", Framing::line, "[yn]"},
    {"CUT", Framing::line, "y,#"},
    {"RWD", Framing::line, "[yn]"},
    {"SA", Framing::line, "#"},
    {"TA", Framing::line, "#"},
    {"ST", Framing::line, "[dt]"},
    {"SF", Framing::line, "[01]"},
    {"SL", Framing::line, "#,#,[GCB],#"},
    {"SW", Framing::line, "#"},
    {"SM", Framing::line, "#,#"},
    {"CS", Framing::line, "#,#"},
    {">RFS,", Framing::line, "#,#,#,#"},
    {">RFCP", Framing::line, ""},
    {">RFTP,", Framing::line, "#"},
    {">RFLK", Framing::line, ""},
    {">RFU", Framing::line, ""},
    {"T", Framing::quoted, "#,#,[0123456789abcdefghijklmn],#,#,0,#,N,[NB],'"},
    {"V", Framing::quoted, "#,#,[UKBGJab],#,#,#,[NB],[NR],[NI],#,[LCR],#,'"},
    {"B1", Framing::quoted, "#,#,#,#,#,#,#,#,'"},
    {"B2", Framing::quoted, "#,#,M,#,'"},
    {"B2", Framing::quoted, "#,#,P,#,#,#,#,[01],#,#,#,#,'"},
    {"B2", Framing::quoted, "#,#,Q,#,[LMQH],#,#,'"},
    {"B2", Framing::quoted, "#,#,D,#,[NR],#,'"},
    {"B2", Framing::quoted, "#,#,A,#,#,#,[01],#,#,#,'"},
    {"B2", Framing::quoted, "#,#,F,#,#,#,#,#,#,'"},
    {"B2", Framing::quoted, "#,#,C,#,#,#,[01],#,[AEF],#,0,'"},
    {"B2", Framing::quoted, "#,#,B,#,#,#,#,'"},
    {"B3", Framing::quoted, "#,#,R,#,#,#,#,#,#,'"},
    {">RFES", Framing::quoted, "#,'"},
    {">RFW,", Framing::quoted, "E,'"},
    {">RFW,", Framing::quoted, "[AHU],#,#, '"},
    {">RFZ,", Framing::quoted, "'", 4},
    {"LD", Framing::bitmap, ""},
    {"LCR", Framing::compressedBitmap, ""},
};

constexpr std::string_view kLineEnds = "\r\n";
constexpr std::size_t kNotFound = std::string_view::npos;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Moves i past the decimal number at text[i]. False when there is none, or
// it passes 32 bits; true also when the text is cut before or inside it.
bool skipNumber(std::string_view text, std::size_t &i, bool cut) {
    const bool negative = i < text.size() && text[i] == '-';
    if (negative) ++i;
    const std::size_t first = i;
    std::int64_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t(INT32_MAX) + (negative ? 1 : 0)) return false;
    }
    return i > first || (cut && i == text.size());
}

// How a command's field text fits the pattern; `cut` when the text is all
// that was seen of it.
Fit fitFields(std::string_view pattern, std::string_view text, bool cut) {
    std::size_t i = 0;
    for (std::size_t p = 0; p < pattern.size(); ++p) {
        if (pattern[p] == '#') {
            if (!skipNumber(text, i, cut)) return Fit::none;
            if (cut && i == text.size()) return Fit::partial;  // more digits may follow
            continue;
        }
        if (i == text.size()) return cut ? Fit::partial : Fit::none;
        if (pattern[p] == '[') {
            const std::size_t close = pattern.find(']', p);
            if (pattern.substr(p + 1, close - p - 1).find(text[i]) == kNotFound) return Fit::none;
            p = close;
        } else if (pattern[p] != text[i]) {
            return Fit::none;
        }
        ++i;
    }
    if (i != text.size()) return Fit::none;
    return cut ? Fit::partial : Fit::whole;
}

std::size_t littleEndian16(std::string_view bytes, std::size_t at) {
    return std::size_t(std::uint8_t(bytes[at])) | std::size_t(std::uint8_t(bytes[at + 1])) << 8;
}

// A command that ends with CR at `end`: whole there, or cut by the end of the bytes.
Step endsWithCarriageReturn(std::string_view bytes, std::size_t end) {
    if (end >= bytes.size()) return kPartial;
    return bytes[end] == '\r' ? Step{Fit::whole, end + 1} : kNone;
}

Step readLine(const Shape &shape, std::string_view bytes) {
    const std::size_t start = shape.letters.size();
    const std::size_t end = bytes.find_first_of(kLineEnds, start);
    const bool cut = end == kNotFound;
    const Fit fit = fitFields(shape.fields, bytes.substr(start, cut ? kNotFound : end - start), cut);
    return fit == Fit::whole ? Step{Fit::whole, end + 1} : Step{fit, 0};
}

// The fields up to the opening quote on one line, then the data up to a
// quote followed by CR; the data may hold any bytes, at least a comma between
// each two of its parts.
Step readQuoted(const Shape &shape, std::string_view bytes) {
    const std::size_t start = shape.letters.size();
    const std::size_t lineEnd = bytes.find_first_of(kLineEnds, start);
    const std::size_t open = bytes.substr(0, lineEnd).find('\'', start);
    if (open == kNotFound)
        return lineEnd == kNotFound ? Step{fitFields(shape.fields, bytes.substr(start), true), 0} : kNone;
    if (fitFields(shape.fields, bytes.substr(start, open + 1 - start), false) != Fit::whole) return kNone;
    const std::size_t close = bytes.find("'\r", open + 1);
    if (close == kNotFound) return kPartial;
    const std::string_view data = bytes.substr(open + 1, close - open - 1);
    const auto parts = std::size_t(std::count(data.begin(), data.end(), ',')) + 1;
    return parts >= shape.dataParts ? Step{Fit::whole, close + 2} : kNone;
}

// "LD", x, y, width in bytes and height (16 bits each, low byte first), the raster, CR.
Step readBitmap(std::string_view bytes) {
    constexpr std::size_t kHeader = 10;
    if (bytes.size() < kHeader) return kPartial;
    const std::size_t raster = littleEndian16(bytes, 6) * littleEndian16(bytes, 8);
    return endsWithCarriageReturn(bytes, kHeader + raster);
}

// "LCR", 0, the same four numbers, then the run-length stream that decodes
// to the raster (0x00 n or 0xFF n for n white or black bytes, n from 1 to
// 255; any other byte itself), CR.
Step readCompressedBitmap(std::string_view bytes) {
    constexpr std::size_t kHeader = 12;
    if (bytes.size() > 3 && bytes[3] != '\0') return kNone;
    if (bytes.size() < kHeader) return kPartial;
    std::size_t missing = littleEndian16(bytes, 8) * littleEndian16(bytes, 10);
    std::size_t i = kHeader;
    while (missing > 0) {
        if (i >= bytes.size()) return kPartial;
        const std::uint8_t token = std::uint8_t(bytes[i++]);
        if (token != 0x00 && token != 0xFF) {
            --missing;
            continue;
        }
        if (i >= bytes.size()) return kPartial;
        const std::size_t count = std::uint8_t(bytes[i++]);
        if (count == 0 || count > missing) return kNone;
        missing -= count;
    }
    return endsWithCarriageReturn(bytes, i);
}

Step readShape(const Shape &shape, std::string_view bytes) {
    switch (shape.framing) {
    case Framing::line: return readLine(shape, bytes);
    case Framing::quoted: return readQuoted(shape, bytes);
    case Framing::bitmap: return readBitmap(bytes);
    case Framing::compressedBitmap: return readCompressedBitmap(bytes);
    }
    return kNone;
}

// The command the bytes start with: whole, cut by their end, or none.
Step readCommand(std::string_view bytes) {
    Step found = kNone;
    for (const Shape &shape : kShapes) {
        if (bytes.size() < shape.letters.size()) {
            if (shape.letters.substr(0, bytes.size()) == bytes) found = kPartial;
            continue;
        }
        if (bytes.substr(0, shape.letters.size()) != shape.letters) continue;
        const Step step = readShape(shape, bytes);
        if (step.fit == Fit::whole) return step;
        if (step.fit == Fit::partial) found = kPartial;
    }
    return found;
}

bool readsAsCommands(std::string_view bytes) {
    bool whole = false;
    for (std::size_t at = 0;;) {
        at = bytes.find_first_not_of(kLineEnds, at);
        if (at == kNotFound) return whole;
        const Step step = readCommand(bytes.substr(at));
        if (step.fit != Fit::whole) return step.fit == Fit::partial && whole;
        whole = true;
        at += step.length;
    }
}

}  // namespace

DocumentFormat detectDocumentFormat(const unsigned char *bytes, std::size_t size) {
    const std::string_view document(reinterpret_cast<const char *>(bytes), size);
    for (const Signature &signature : kSignatures)
        if (document.substr(0, signature.bytes.size()) == signature.bytes) return signature.format;
    return readsAsCommands(document) ? DocumentFormat::commands : DocumentFormat::unknown;
}

const char *mimeTypeOf(DocumentFormat format) {
    if (format == DocumentFormat::commands) return kCommandsFormat;
    for (const Signature &signature : kSignatures)
        if (signature.format == format) return signature.mimeType;
    return nullptr;
}

}  // namespace vdlapp
