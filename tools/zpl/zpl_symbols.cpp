#include "zpl_symbols.h"

#include <zint.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "VdlLabelAPI.h"
#include "zpl_reader.h"

namespace vdlzpl {

namespace {

// ---------------------------------------------------------------------------
// Sizes, measured with the encoder the printer's symbols follow: the width
// in modules and the rows (2D) of the symbol a call will print.

struct Measure {
    int symbology;
    int option1 = -1, option2 = 0, option3 = 0;
    int inputMode = DATA_MODE;
};

struct Modules {
    int width = 0;
    int rows = 0;
};

std::optional<Modules> measure(const Measure &m, const std::string &data) {
    std::unique_ptr<zint_symbol, void (*)(zint_symbol *)> s(ZBarcode_Create(), ZBarcode_Delete);
    if (!s) return std::nullopt;
    s->symbology = m.symbology;
    s->option_1 = m.option1;
    s->option_2 = m.option2;
    s->option_3 = m.option3;
    s->input_mode = m.inputMode;
    if (ZBarcode_Encode(s.get(), reinterpret_cast<const unsigned char *>(data.data()), int(data.size())) >= ZINT_ERROR)
        return std::nullopt;
    return Modules{s->width, s->rows};
}

// ---------------------------------------------------------------------------
// GS1: ZPL marks Application Identifiers with FNC1 (>8 in Code 128 data); the
// printer takes them in brackets, "(01)09501101530003(17)...". Where an AI
// ends is known from its first digits: a fixed length, or the next FNC1.

struct AiRule {
    const char *prefix;
    int aiLength;
    int dataLength;  // 0: up to the next FNC1 or the end
};

constexpr AiRule kAiRules[] = {
    {"00", 2, 18}, {"01", 2, 14}, {"02", 2, 14}, {"03", 2, 14}, {"04", 2, 16}, {"11", 2, 6},  {"12", 2, 6},
    {"13", 2, 6},  {"14", 2, 6},  {"15", 2, 6},  {"16", 2, 6},  {"17", 2, 6},  {"18", 2, 6},  {"19", 2, 6},
    {"20", 2, 2},  {"31", 4, 6},  {"32", 4, 6},  {"33", 4, 6},  {"34", 4, 6},  {"35", 4, 6},  {"36", 4, 6},
    {"41", 3, 13}, {"23", 3, 0},  {"24", 3, 0},  {"25", 3, 0},  {"39", 4, 0},  {"40", 3, 0},  {"42", 3, 0},
    {"43", 4, 0},  {"70", 4, 0},  {"71", 3, 0},  {"72", 4, 0},  {"80", 4, 0},  {"81", 4, 0},  {"82", 4, 0},
};

const AiRule &aiRule(const std::string &digits) {
    static const AiRule twoDigitsVariable{"", 2, 0};
    for (const AiRule &r : kAiRules)
        if (digits.compare(0, 2, r.prefix) == 0) return r;
    return twoDigitsVariable;
}

// "0195011015300030>817250101" (FNC1 split) to "(01)95011015300030(17)250101".
std::optional<std::string> bracketAis(const std::vector<std::string> &segments) {
    std::string out;
    for (const std::string &segment : segments) {
        std::size_t i = 0;
        while (i < segment.size()) {
            const AiRule &rule = aiRule(segment.substr(i));
            if (i + std::size_t(rule.aiLength) > segment.size()) return std::nullopt;
            out += "(" + segment.substr(i, std::size_t(rule.aiLength)) + ")";
            i += std::size_t(rule.aiLength);
            const std::size_t length = rule.dataLength > 0 ? std::size_t(rule.dataLength) : segment.size() - i;
            out += segment.substr(i, length);
            i += length;
        }
    }
    if (out.empty()) return std::nullopt;
    return out;
}

int mod10Check(const std::string &digits) {
    int sum = 0;
    bool triple = true;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it, triple = !triple) sum += (*it - '0') * (triple ? 3 : 1);
    return (10 - sum % 10) % 10;
}

// Code 128 data: ZPL's invocation codes (>; >: >9 start a subset, >5 >6 >7
// switch, >8 is FNC1, >0 and >= are '>' and '~') go; the printer chooses
// subsets itself. FNC1 makes the symbol GS1-128.
struct Code128Data {
    std::string text;
    bool gs1 = false;
};

std::optional<Code128Data> readCode128(const std::string &data, char mode, std::string &problem) {
    Code128Data out;
    if (mode == 'U') {  // UCC case mode: 19 digits, AI and SSCC, completed by a check digit
        std::string digits;
        for (char c : data)
            if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
        digits.resize(std::min<std::size_t>(digits.size(), 19));
        if (digits.size() < 19) digits.insert(0, 19 - digits.size(), '0');
        const std::string body = digits.substr(2);
        out.text = "(" + digits.substr(0, 2) + ")" + body + char('0' + mod10Check(body));
        out.gs1 = true;
        return out;
    }
    if (mode == 'D' && data.find('(') != std::string::npos) {
        out.text = data;
        out.gs1 = true;
        return out;
    }
    std::vector<std::string> segments(1);
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] != '>' || i + 1 == data.size()) {
            segments.back() += data[i];
            continue;
        }
        const char code = data[++i];
        switch (code) {
        case '0': segments.back() += '>'; break;
        case '=': segments.back() += '~'; break;
        case '8':
            out.gs1 = true;
            if (!segments.back().empty()) segments.emplace_back();
            break;
        case ';': case ':': case '9': case '5': case '6': case '7': break;
        default:
            problem = std::string("invocation code >") + code + " is dropped";
            break;
        }
    }
    if (mode == 'D') out.gs1 = true;
    if (!out.gs1) {
        out.text = segments.front();
        return out;
    }
    const auto bracketed = bracketAis(segments);
    if (!bracketed) return std::nullopt;
    out.text = *bracketed;
    return out;
}

// ---------------------------------------------------------------------------
// Linear symbols

struct LinearRule {
    const char *name;
    int type;           // Print1DBarcode's barcodeType
    int zint;           // for measuring
    int heightAt;       // parameter index of the bar height
    int humanAt;        // of the human-readable flag
    bool humanDefault;
    int checkAt;        // of an optional check digit (Y adds one), -1: none; the printer's symbol has its own rule
};

constexpr LinearRule kLinear[] = {
    {"B1", 10, BARCODE_CODE11, 2, 3, true, -1},      {"B2", 2, BARCODE_C25INTER, 1, 2, true, 4},
    {"B3", 0, BARCODE_CODE39, 2, 3, true, 1},        {"B8", 8, BARCODE_EANX, 1, 2, true, -1},
    {"B9", 6, BARCODE_UPCE, 1, 2, true, -1},         {"BA", 4, BARCODE_CODE93, 1, 2, true, -1},
    {"BC", 1, BARCODE_CODE128, 1, 2, true, 4},       {"BE", 7, BARCODE_EANX, 1, 2, true, -1},
    {"BI", 11, BARCODE_C25IND, 1, 2, true, -1},      {"BK", 3, BARCODE_CODABAR, 2, 3, true, 1},
    {"BM", 12, BARCODE_MSI_PLESSEY, 2, 3, true, -1}, {"BU", 5, BARCODE_UPCA, 1, 2, true, -1},
    {"BZ", 13, BARCODE_POSTNET, 1, 2, false, -1},
};

// The gap and the text line the printer puts under bars that show their data.
constexpr int kHumanReadableHeight = 20;

bool linearSymbol(const LinearRule &rule, const std::vector<std::string> &p, std::string data,
                  const BarDefaults &d, char defaultOrientation, Symbol &symbol, std::string &problem) {
    symbol.rotation = rotationOf(letterOr(p, 0, defaultOrientation));
    const int height = int(std::clamp<long>(numberAt(p, std::size_t(rule.heightAt)).value_or(d.barHeight), 1, 4000));
    const bool human = letterOr(p, std::size_t(rule.humanAt), rule.humanDefault ? 'Y' : 'N') == 'Y';
    int type = rule.type;
    Measure m{rule.zint};
    if (rule.checkAt >= 0 && letterOr(p, std::size_t(rule.checkAt), 'N') == 'Y')
        problem = "the optional check digit is not added; the printer's symbol carries its own";
    if (std::string(rule.name) == "BC") {
        const auto read = readCode128(data, letterOr(p, 5, 'N'), problem);
        if (!read) {
            problem = "its FNC1 data holds no GS1 Application Identifiers";
            return false;
        }
        data = read->text;
        if (read->gs1) {
            type = 9;
            m = Measure{BARCODE_GS1_128};
            m.inputMode = GS1_MODE | GS1PARENS_MODE;
        }
        if (letterOr(p, 3, 'N') == 'Y') problem = "the human-readable line above the bars is printed below them";
    } else if (std::string(rule.name) == "BK") {
        data = std::string(1, letterOr(p, 5, 'A')) + data + std::string(1, letterOr(p, 6, 'A'));
    } else if (std::string(rule.name) == "BZ" && numberAt(p, 4).value_or(0) == 1) {
        type = 14;
        m = Measure{BARCODE_PLANET};
    }
    const auto modules = measure(m, data);
    if (!modules) problem = "its data cannot be encoded as this symbology; the printer is left to refuse it";
    const int module = d.moduleWidth, ratio = int(std::lround(d.ratio * 10));
    symbol.barHeight = height;
    symbol.height = height + (human ? kHumanReadableHeight : 0);
    symbol.width = modules ? long(modules->width) * module : 0;
    const int rotation = symbol.rotation;
    symbol.call = [data, type, module, ratio, height, rotation, human](int x, int y) {
        return Print1DBarcode(data.c_str(), x, y, type, module, ratio, height, rotation, human ? 1 : 0);
    };
    return modules.has_value();
}

// ---------------------------------------------------------------------------
// Two-dimensional symbols

// ^BQ data: an error correction letter and an input mode before a comma
// ("QA,text"); manual mode adds a character mode (and for bytes a count).
std::string qrText(const std::string &data, char &level, std::string &problem) {
    const std::size_t comma = data.find(',');
    const auto upper = [&](std::size_t i) { return char(std::toupper(static_cast<unsigned char>(data[i]))); };
    const bool prefixed = (comma == 1 || comma == 2) && std::string("HQML").find(upper(0)) != std::string::npos &&
                          (comma == 1 || upper(1) == 'A' || upper(1) == 'M');
    if (!prefixed) {
        problem = "its data lacks the \"QA,\" prefix; all of it is encoded";
        return data;
    }
    level = upper(0);
    std::string rest = data.substr(comma + 1);
    if (comma == 2 && std::toupper(static_cast<unsigned char>(data[1])) == 'M' && !rest.empty()) {
        const char kind = char(std::toupper(static_cast<unsigned char>(rest[0])));
        rest.erase(0, 1);
        if (kind == 'B') rest.erase(0, std::min<std::size_t>(4, rest.size()));
    }
    return rest;
}

int eccIndex(char level) {
    switch (level) {
    case 'M': return 1;
    case 'Q': return 2;
    case 'H': return 3;
    default: return 0;
    }
}

// The printer draws modules of at most 4 dots for QR and Data Matrix.
int moduleWithin(long asked, int most, const char *what, std::string &problem) {
    if (asked > most) problem = std::string(what) + " of " + std::to_string(asked) + " dots is printed at " +
                                std::to_string(most) + " dots a module";
    return int(std::clamp<long>(asked, 1, most));
}

bool qrSymbol(const std::vector<std::string> &p, const std::string &data, char orientation, Symbol &symbol,
              std::string &problem) {
    symbol.rotation = rotationOf(orientation);
    const int model = int(numberAt(p, 1).value_or(2)) == 1 ? 1 : 2;
    char level = letterOr(p, 3, 'Q');
    const std::string text = qrText(data, level, problem);
    const int module = moduleWithin(numberAt(p, 2).value_or(2), 4, "magnification", problem);
    const int ecc = eccIndex(level);
    const auto modules = measure(Measure{BARCODE_QRCODE, ecc + 1}, text);
    symbol.width = symbol.height = symbol.barHeight = modules ? long(modules->width) * module : 0;
    const int rotation = symbol.rotation;
    symbol.call = [text, model, ecc, module, rotation](int x, int y) {
        return PrintQRCode(text.c_str(), x, y, model, ecc, module, rotation);
    };
    if (!modules) problem = "its data does not fit a QR Code";
    return modules.has_value();
}

bool dataMatrixSymbol(const std::vector<std::string> &p, const std::string &data, char orientation, Symbol &symbol,
                      std::string &problem) {
    symbol.rotation = rotationOf(orientation);
    const int module = moduleWithin(numberAt(p, 1).value_or(2), 4, "module size", problem);
    if (numberAt(p, 2).value_or(200) != 200) problem = "quality other than 200 (ECC 200) is printed as ECC 200";
    if (p.size() > 6 && !p[6].empty()) problem = "escape sequences (" + p[6].substr(0, 1) + ") are not read: the data is encoded as it stands";
    const bool rectangle = numberAt(p, 7).value_or(1) == 2;
    const auto modules = measure(Measure{BARCODE_DATAMATRIX, -1, 0, rectangle ? 0 : DM_SQUARE}, data);
    symbol.width = modules ? long(modules->width) * module : 0;
    symbol.height = symbol.barHeight = modules ? long(modules->rows) * module : 0;
    const int rotation = symbol.rotation;
    symbol.call = [data, module, rectangle, rotation](int x, int y) {
        return PrintDataMatrix(data.c_str(), x, y, module, rectangle, rotation);
    };
    if (!modules) problem = "its data does not fit a Data Matrix symbol";
    return modules.has_value();
}

// PDF417 rows and columns: as given, or a shape of about three rows a column
// that holds the data's codewords (about 1.8 characters each) and the error
// correction's 2^(level+1).
void pdfShape(long length, int level, std::optional<long> columns, std::optional<long> rows, int &c, int &r) {
    const long codewords = long(std::ceil(double(length) / 1.8)) + 1 + (2L << level);
    if (columns) c = int(std::clamp<long>(*columns, 1, 30));
    else if (rows) c = int(std::clamp<long>((codewords + *rows - 1) / std::max(*rows, 1L), 1, 30));
    else c = int(std::clamp<long>(long(std::ceil(std::sqrt(double(codewords) / 3.0))), 1, 30));
    r = rows ? int(std::clamp<long>(*rows, 3, 90)) : int(std::clamp<long>((codewords + c - 1) / c, 3, 90));
}

bool pdf417Symbol(const std::vector<std::string> &p, const std::string &data, const BarDefaults &d, char orientation,
                  Symbol &symbol, std::string &problem) {
    symbol.rotation = rotationOf(orientation);
    const int rowHeight = int(std::clamp<long>(numberAt(p, 1).value_or(d.barHeight), 4, 99));
    const int level = int(std::clamp<long>(numberAt(p, 2).value_or(0), 0, 8));
    int columns = 0, rows = 0;
    pdfShape(long(data.size()), level, numberAt(p, 3), numberAt(p, 4), columns, rows);
    const bool truncated = letterOr(p, 5, 'N') == 'Y';
    const int module = std::clamp(d.moduleWidth, 2, 9);
    if (module != d.moduleWidth) problem = "module width " + std::to_string(d.moduleWidth) + " is printed as " + std::to_string(module);
    const auto modules = measure(Measure{truncated ? BARCODE_PDF417COMP : BARCODE_PDF417, level, columns, rows}, data);
    symbol.width = modules ? long(modules->width) * module : 0;
    symbol.height = symbol.barHeight = modules ? long(modules->rows) * rowHeight : 0;
    const int rotation = symbol.rotation;
    symbol.call = [=](int x, int y) {
        return PrintPDF417(data.c_str(), x, y, rows, columns, level, 0, truncated, 1, module, rowHeight, rotation);
    };
    if (!modules) problem = "its data does not fit " + std::to_string(rows) + " rows of " + std::to_string(columns) + " columns";
    return modules.has_value();
}

bool maxiCodeSymbol(const std::vector<std::string> &p, const std::string &data, Symbol &symbol, std::string &problem) {
    long mode = numberAt(p, 0).value_or(2);
    if (mode != 2 && mode != 3 && mode != 4) {
        problem = "mode " + std::to_string(mode) + " is printed as mode 4";
        mode = 4;
    }
    if (numberAt(p, 2).value_or(1) > 1) problem = "structured append (symbol n of t) is not carried";
    const int m = int(mode);
    symbol.width = symbol.height = symbol.barHeight = 0;  // printed at its fixed physical size, 1 inch
    symbol.call = [data, m](int x, int y) { return PrintMaxiCode(data.c_str(), x, y, m); };
    return true;
}

bool aztecSymbol(const std::vector<std::string> &p, const std::string &data, char orientation, Symbol &symbol,
                 std::string &problem) {
    (void)problem;
    symbol.rotation = rotationOf(orientation);
    const int magnification = int(std::clamp<long>(numberAt(p, 1).value_or(2), 1, 10));
    const bool eci = letterOr(p, 2, 'N') == 'Y';
    const int size = int(std::clamp<long>(numberAt(p, 3).value_or(0), 0, 300));
    const bool menu = letterOr(p, 4, 'N') == 'Y';
    const int symbols = int(std::clamp<long>(numberAt(p, 5).value_or(1), 1, 26));
    const auto modules = measure(Measure{BARCODE_AZTEC}, data);
    symbol.width = symbol.height = symbol.barHeight = modules ? long(modules->width) * magnification : 0;
    const int rotation = symbol.rotation;
    symbol.call = [=](int x, int y) {
        return PrintAztec(data.c_str(), x, y, magnification, eci, size, menu, symbols, 0, rotation);
    };
    return true;
}

bool microPdfSymbol(const std::vector<std::string> &p, const std::string &data, const BarDefaults &d,
                    char orientation, Symbol &symbol) {
    symbol.rotation = rotationOf(orientation);
    const int rowHeight = int(std::clamp<long>(numberAt(p, 1).value_or(d.barHeight), 1, 99));
    const int mode = int(std::clamp<long>(numberAt(p, 2).value_or(0), 0, 33));
    const int module = std::clamp(d.moduleWidth, 2, 8);
    const int rotation = symbol.rotation;
    symbol.call = [=](int x, int y) { return PrintMicroPDF(data.c_str(), x, y, module, rowHeight, mode, rotation); };
    return true;
}

bool code49Symbol(const std::vector<std::string> &p, const std::string &data, const BarDefaults &d,
                  char orientation, Symbol &symbol) {
    symbol.rotation = rotationOf(orientation);
    const int rowHeight = int(std::clamp<long>(numberAt(p, 1).value_or(d.barHeight), 1, 400));
    const char human = letterOr(p, 2, 'N');
    const int line = human == 'B' ? 1 : human == 'A' ? 2 : 0;
    const int mode = int(std::clamp<long>(numberAt(p, 3).value_or(0), 0, 7));
    const int module = d.moduleWidth, rotation = symbol.rotation;
    symbol.call = [=](int x, int y) { return PrintCode49(data.c_str(), x, y, module, rowHeight, 0, line, mode, rotation); };
    return true;
}

bool codablockSymbol(const std::vector<std::string> &p, const std::string &data, const BarDefaults &d,
                     char orientation, Symbol &symbol) {
    symbol.rotation = rotationOf(orientation);
    const int rowHeight = int(std::clamp<long>(numberAt(p, 1).value_or(8), 1, 400));
    const bool security = letterOr(p, 2, 'Y') == 'Y';
    const int columns = int(numberAt(p, 3).value_or(30));
    const char kind = letterOr(p, 5, 'F');
    const int mode = kind == 'A' ? 0 : kind == 'E' ? 1 : 2;
    const int rows = int(numberAt(p, 4).value_or(0));
    const int module = d.moduleWidth;
    symbol.call = [=](int x, int y) {
        return PrintCODABLOCK(data.c_str(), x, y, module, rowHeight, 0, security, columns, mode, rows);
    };
    return true;
}

// ^BR's symbology types 1-6 are the printer's GS1 DataBar variants 0-5;
// types 7 and up (UPC/EAN composites) have no counterpart.
bool dataBarSymbol(const std::vector<std::string> &p, const std::string &data, char orientation, Symbol &symbol,
                   std::string &problem) {
    symbol.rotation = rotationOf(orientation);
    const long type = numberAt(p, 1).value_or(1);
    if (type < 1 || type > 6) {
        problem = "symbology type " + std::to_string(type) + " (a composite) has no counterpart";
        return false;
    }
    const int variant = int(type - 1);
    const int magnification = int(std::clamp<long>(numberAt(p, 2).value_or(2), 1, 10));
    const int separator = int(std::clamp<long>(numberAt(p, 3).value_or(1), 1, 2));
    const int height = int(std::clamp<long>(numberAt(p, 4).value_or(25), 1, 4000));
    int segments = int(numberAt(p, 5).value_or(22));
    if (segments % 2 != 0 || segments < 2 || segments > 22) segments = 22;
    if (variant != 5) segments = 0;
    const int rotation = symbol.rotation;
    symbol.barHeight = symbol.height = height;
    symbol.call = [=](int x, int y) {
        return PrintGS1DataBar(data.c_str(), x, y, variant, magnification, separator, height, segments, rotation);
    };
    return true;
}

constexpr const char *kTwoDimensional[] = {"BQ", "BX", "B7", "BD", "BO", "BF", "B4", "BB", "BR"};

}  // namespace

bool isBarcodeCommand(const std::string &name) {
    for (const LinearRule &r : kLinear)
        if (name == r.name) return true;
    return std::find_if(std::begin(kTwoDimensional), std::end(kTwoDimensional),
                        [&](const char *n) { return name == n; }) != std::end(kTwoDimensional);
}

bool describeSymbol(const std::string &name, const std::vector<std::string> &p, const std::string &data,
                    const BarDefaults &d, char defaultOrientation, Symbol &symbol, std::string &problem) {
    for (const LinearRule &r : kLinear)
        if (name == r.name) return linearSymbol(r, p, data, d, defaultOrientation, symbol, problem);
    const char orientation = letterOr(p, 0, defaultOrientation);
    if (name == "BQ") return qrSymbol(p, data, orientation, symbol, problem);
    if (name == "BX") return dataMatrixSymbol(p, data, orientation, symbol, problem);
    if (name == "B7") return pdf417Symbol(p, data, d, orientation, symbol, problem);
    if (name == "BD") return maxiCodeSymbol(p, data, symbol, problem);
    if (name == "BO") return aztecSymbol(p, data, orientation, symbol, problem);
    if (name == "BF") return microPdfSymbol(p, data, d, orientation, symbol);
    if (name == "B4") return code49Symbol(p, data, d, orientation, symbol);
    if (name == "BB") return codablockSymbol(p, data, d, orientation, symbol);
    if (name == "BR") return dataBarSymbol(p, data, orientation, symbol, problem);
    problem = "not a barcode command";
    return false;
}

}  // namespace vdlzpl
