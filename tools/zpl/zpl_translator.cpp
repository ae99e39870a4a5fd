#include "zpl_translator.h"

#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "VdlLabelAPI.h"
#include "VdlZpl.h"
#include "zpl_symbols.h"

namespace vdlzpl {

namespace {

// A translation that cannot go on: the code, the place and the words.
struct Failure {
    int code;
    Place place;
    std::string message;
};

// ---------------------------------------------------------------------------
// Fonts: ZPL's bitmap fonts by their cell (height x width in dots), all
// drawn in the printer's scalable font at the size ZPL gives them.

struct BitmapFont {
    char name;
    int height;
    int width;
};

constexpr BitmapFont kBitmapFonts[] = {
    {'A', 9, 5},   {'B', 11, 7},  {'C', 18, 10}, {'D', 18, 10}, {'E', 28, 15}, {'F', 26, 13},
    {'G', 60, 40}, {'H', 21, 13}, {'P', 20, 18}, {'Q', 28, 24}, {'R', 35, 31}, {'S', 40, 35},
    {'T', 48, 42}, {'U', 59, 53}, {'V', 80, 71},
};

const BitmapFont *bitmapFont(char name) {
    for (const BitmapFont &f : kBitmapFonts)
        if (f.name == name) return &f;
    return nullptr;
}

// The scalable font's advance, as a share of the character width, used to
// lay out blocks and rotated fields (the printer's sans serif averages 0.6).
constexpr double kAdvanceShare = 0.6;

struct Font {
    char name = 'A';
    int height = 9;
    int width = 5;
};

// A bitmap font magnified by whole factors (1-10) nearest to the size asked;
// the scalable font 0 at the size asked, as wide as high when no width is given.
Font resolveFont(char name, std::optional<long> height, std::optional<long> width) {
    Font font;
    font.name = name;
    if (const BitmapFont *b = bitmapFont(name)) {
        const auto factor = [](std::optional<long> asked, int base) {
            return asked ? int(std::clamp<long>(std::lround(double(*asked) / base), 1, 10)) : 0;
        };
        int up = factor(height, b->height), across = factor(width, b->width);
        if (up == 0) up = across == 0 ? 1 : across;
        if (across == 0) across = up;
        font.height = b->height * up;
        font.width = b->width * across;
        return font;
    }
    font.height = int(std::clamp<long>(height.value_or(15), 1, 32000));
    font.width = int(std::clamp<long>(width.value_or(font.height), 1, 32000));
    return font;
}

// ---------------------------------------------------------------------------
// Text: ZPL's encodings (^CI) to the UTF-8 the library takes.

std::string convertText(const std::string &bytes, const char *encoding, bool &damaged) {
    damaged = false;
    if (encoding == nullptr) return bytes;
    iconv_t cd = iconv_open("UTF-8", encoding);
    if (cd == iconv_t(-1)) return bytes;
    std::string out(bytes.size() * 4 + 4, '\0');
    char *in = const_cast<char *>(bytes.data());
    std::size_t inLeft = bytes.size(), outLeft = out.size();
    char *to = &out[0];
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &to, &outLeft) == std::size_t(-1)) {
            damaged = true;
            ++in;
            --inLeft;
            if (outLeft > 0) {
                *to++ = '?';
                --outLeft;
            }
        }
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

bool validUtf8(const std::string &s) {
    for (std::size_t i = 0, length = 0; i < s.size(); i += length)
        if ((length = utf8Length(s, i)) == 0) return false;
    return true;
}

std::size_t codePoints(const std::string &utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8)
        if ((c >> 6) != 2) ++n;
    return n;
}

// ^FH: _XX (or the indicator chosen) is the byte of hex XX.
std::string expandHexEscapes(const std::string &data, char indicator) {
    std::string out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == indicator && i + 2 < data.size() && std::isxdigit(static_cast<unsigned char>(data[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(data[i + 2]))) {
            out += char(std::strtol(data.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += data[i];
        }
    }
    return out;
}

// ^SN: the number at the end of the data, counted on by step, as wide as it was.
std::string countOn(const std::string &data, long step) {
    std::size_t start = data.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(data[start - 1]))) --start;
    if (start == data.size()) return data;
    const std::string digits = data.substr(start);
    long long value = std::strtoll(digits.substr(0, 18).c_str(), nullptr, 10) + step;
    if (value < 0) value = 0;
    std::string next = std::to_string(value);
    if (next.size() < digits.size()) next.insert(0, digits.size() - next.size(), '0');
    return data.substr(0, start) + next;
}

// ---------------------------------------------------------------------------
// Placement. The printer anchors a rotated element at the corner its frame
// starts from: rotation 1 the top right of its bounding box, 2 the bottom
// right, 3 the bottom left. ZPL's ^FO names the top left of the box, so an
// element of extent (along, across) in its own frame moves by these.

struct Point {
    long x;
    long y;
};

Point anchorFromBox(Point topLeft, int rotation, long along, long across) {
    switch (rotation) {
    case 1: return {topLeft.x + across, topLeft.y};
    case 2: return {topLeft.x + along, topLeft.y + across};
    case 3: return {topLeft.x, topLeft.y + along};
    default: return topLeft;
    }
}

// A step of (along, across) in the element's frame, on the label.
Point frameStep(Point from, int rotation, long along, long across) {
    switch (rotation) {
    case 1: return {from.x - across, from.y + along};
    case 2: return {from.x - along, from.y - across};
    case 3: return {from.x + across, from.y - along};
    default: return {from.x + along, from.y + across};
    }
}

int clampInt(long value) { return int(std::clamp<long>(value, -1000000, 1000000)); }

// A stored object's name without its drive ("R:LOGO.GRF" is LOGO.GRF); names
// are not case sensitive.
std::string objectName(const std::string &given) {
    std::string name = given.size() > 2 && given[1] == ':' ? given.substr(2) : given;
    for (char &c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t dot = name.find('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

// ---------------------------------------------------------------------------
// The translator's state: what lasts between labels, what lasts for a label,
// and the field being built.

struct Translator::State {
    bool strict = false;
    MessageSink messages;
    Limits limits;

    // Kept between labels, as a printer keeps them.
    std::map<std::string, std::vector<ZplCommand>> formats;
    std::map<std::string, Raster> graphics;
    std::size_t storedBytes = 0;
    std::map<char, std::string> fontFiles;  // ^CW: a font letter given a font file
    struct Settings {
        long width = -1, length = -1, density = -1, speed = -1, media = -1;
        char mode = 0;
        char orientation = 0;
        Place paperPlace;  // the last ^PW, ^LL or ^MN: where a warning about the paper points
    } sent, wanted;

    // The label being translated.
    struct LabelState {
        Point home{0, 0};
        long shift = 0, top = 0;
        char fieldOrientation = 'N';
        Font defaultFont;
        int moduleWidth = 2;
        double ratio = 3.0;
        int barHeight = 10;
        const char *encoding = "CP850";
        bool utf8 = false;
        long copies = 1;
    } label;

    struct Block {
        long width = 0, lines = 1, spacing = 0, indent = 0;
        char justify = 'L';
        long height = 0;  // ^TB: the block's height instead of a line count
    };
    struct Field {
        Place place;
        Point origin{0, 0};
        bool baseline = false;
        std::optional<std::string> data;
        Place dataPlace;
        bool hex = false;
        char hexIndicator = '_';
        bool reverse = false;
        std::optional<Font> font;
        std::optional<char> orientation;
        std::optional<Block> block;
        std::optional<ZplCommand> barcode;
        std::optional<long> number;
        std::optional<long> serialStep;
        bool started = false;
    } field;

    Label out;
    long serialIndex = 0;
    bool sawSerial = false;
    std::map<long, std::string> fieldData;  // ^FN n ^FD data of a label recalling a format

    explicit State(Limits l) : limits(l) {}

    [[noreturn]] void fail(int code, const Place &place, const std::string &message) {
        throw Failure{code, place, message};
    }

    // Warnings said in one translation; past that many, only counted.
    static constexpr long kMostWarnings = 1000;
    long warned = 0;

    void warn(const Place &place, const std::string &message) {
        if (strict) fail(VDL_ZPL_ERR_STRICT, place, message + "; refused (strict)");
        if (messages && ++warned <= kMostWarnings) messages(place, message);
    }

    void sayWarningsLeftOut() {
        if (messages && warned > kMostWarnings)
            messages(Place{}, std::to_string(warned - kMostWarnings) + " more warnings not shown");
    }

    void add(Step step) { out.steps.push_back(std::move(step)); }
    void addContent(Step step) {
        out.prints = true;
        add(std::move(step));
    }

    Point labelPoint(Point p) const { return {label.home.x + p.x - label.shift, label.home.y + p.y + label.top}; }

    // ---- fields ----------------------------------------------------------

    void startField(const ZplCommand &c) {
        if (!field.started) {
            field.started = true;
            field.place = c.place;
        }
    }

    int fieldRotation() const { return rotationOf(field.orientation.value_or(label.fieldOrientation), 0); }

    // The field's data as the printer takes it: UTF-8, no line end or NUL
    // (they would end the printer's command and the library's text). Text
    // shows them as spaces; a barcode would encode other data, so it is not
    // printed (nullopt).
    std::optional<std::string> fieldText() {
        std::string data = *field.data;
        if (field.number) {
            const auto given = fieldData.find(*field.number);
            if (given != fieldData.end()) data = given->second;
        }
        if (data.size() > limits.fieldBytes * 4)  // past the bound whatever its encoding: refused before converting
            fail(VDL_ZPL_ERR_LIMIT, field.dataPlace,
                 "^FD data of " + std::to_string(data.size()) + " bytes is more than a field may hold (" +
                     std::to_string(limits.fieldBytes) + ")");
        if (field.serialStep) data = countOn(data, *field.serialStep * serialIndex);
        if (field.hex) data = expandHexEscapes(data, field.hexIndicator);
        std::string text;
        if (label.utf8) {
            text = data;
            if (!validUtf8(text)) {
                warn(field.dataPlace, "^FD data is not valid UTF-8 (^CI28); its bad bytes are printed as '?'");
                bool damaged = false;
                text = convertText(data, "UTF-8", damaged);
            }
        } else {
            bool damaged = false;
            text = convertText(data, label.encoding, damaged);
            if (damaged) warn(field.dataPlace, std::string("^FD data has bytes ") + label.encoding + " lacks; printed as '?'");
        }
        if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            if (field.barcode) {
                warn(field.dataPlace, "^FD data holds a line end or NUL byte, which the printer's barcode command cannot "
                                      "carry; the barcode is not printed");
                return std::nullopt;
            }
            for (char &ch : text)
                if (ch == '\r' || ch == '\n' || ch == '\0') ch = ' ';
            warn(field.dataPlace, "^FD data holds a line end or NUL byte; printed as a space");
        }
        if (text.size() > limits.fieldBytes)
            fail(VDL_ZPL_ERR_LIMIT, field.dataPlace,
                 "^FD data of " + std::to_string(text.size()) + " bytes is more than a field may hold (" +
                     std::to_string(limits.fieldBytes) + ")");
        return text;
    }

    void endField() {
        if (field.number && !field.data && fieldData.count(*field.number)) {
            field.data = fieldData[*field.number];
            field.dataPlace = field.place;
        }
        if (field.data) {
            const std::optional<std::string> text = fieldText();
            if (text && field.barcode) emitBarcode(*text);
            else if (text) emitText(*text);
        } else if (field.barcode) {
            if (!field.number) warn(field.barcode->place, field.barcode->label() + " has no ^FD data; nothing printed");
        }
        field = Field{};
    }

    // Where an element of extent (along, across) in its own frame is
    // anchored: ^FO names its box's top left, ^FT the start of its baseline,
    // which lies baselineDrop below the frame's top.
    Point fieldAnchor(int rotation, long along, long across, long baselineDrop) const {
        const Point origin = labelPoint(field.origin);
        return field.baseline ? frameStep(origin, rotation, 0, -baselineDrop) : anchorFromBox(origin, rotation, along, across);
    }

    // ---- text --------------------------------------------------------------

    Font currentFont() const { return field.font.value_or(label.defaultFont); }

    void emitTextLine(const std::string &text, Point at, int rotation, const Font &font, int alignment) {
        const int width = font.width, height = font.height;
        const bool reverse = field.reverse;
        const int x = clampInt(at.x), y = clampInt(at.y);
        addContent([text, x, y, width, height, reverse, rotation, alignment] {
            return PrintVectorFont(text.c_str(), x, y, 0, width, height, 0, 0, reverse, 0, rotation, alignment, 0);
        });
    }

    long estimatedWidth(const std::string &text, const Font &font) const {
        return std::lround(double(codePoints(text)) * font.width * kAdvanceShare);
    }

    void emitText(const std::string &text) {
        const Font font = currentFont();
        const int rotation = fieldRotation();
        if (field.block) return emitBlock(text, font, rotation);
        emitTextLine(text, fieldAnchor(rotation, estimatedWidth(text, font), font.height, font.height), rotation, font, 0);
    }

    // Lines of a block, broken at spaces where the next word would pass the
    // width; "\&" breaks a line where it stands.
    std::vector<std::string> wrap(const std::string &text, const Font &font, long width) const {
        std::vector<std::string> lines;
        std::string line;
        const auto flush = [&] {
            lines.push_back(line);
            line.clear();
        };
        std::size_t i = 0;
        while (i <= text.size()) {
            if (text.compare(i, 2, "\\&") == 0) {
                flush();
                i += 2;
                continue;
            }
            const std::size_t next = std::min(text.find(' ', i), text.find("\\&", i));
            const std::string word = text.substr(i, next == std::string::npos ? std::string::npos : next - i);
            const std::string joined = line.empty() ? word : line + " " + word;
            if (!line.empty() && width > 0 && estimatedWidth(joined, font) > width) {
                flush();
                line = word;
            } else {
                line = joined;
            }
            if (next == std::string::npos) break;
            i = text[next] == ' ' ? next + 1 : next;
            if (lines.size() > std::size_t(limits.blockLines)) break;
        }
        if (!line.empty() || lines.empty()) flush();
        return lines;
    }

    void emitBlock(const std::string &text, const Font &font, int rotation) {
        const Block &b = *field.block;
        std::vector<std::string> lines = wrap(text, font, b.width);
        long allowed = b.height > 0 ? std::max<long>(b.height / std::max(font.height, 1), 1) : std::max<long>(b.lines, 1);
        allowed = std::min<long>(allowed, limits.blockLines);
        if (long(lines.size()) > allowed) {
            warn(field.dataPlace, "^FB block of " + std::to_string(allowed) + " lines: " +
                                      std::to_string(lines.size() - std::size_t(allowed)) + " more lines not printed");
            lines.resize(std::size_t(allowed));
        }
        if (b.justify == 'J') warn(field.place, "^FB justification J is printed left-aligned");
        const long pitch = font.height + b.spacing;
        const long blockHeight = pitch * long(lines.size()) - b.spacing;
        const Point start = fieldAnchor(rotation, b.width, blockHeight, font.height);
        const int alignment = b.justify == 'C' ? 1 : b.justify == 'R' ? 2 : 0;
        const long along = alignment == 1 ? b.width / 2 : alignment == 2 ? b.width : 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const long indent = i > 0 && alignment == 0 ? b.indent : 0;
            emitTextLine(lines[i], frameStep(start, rotation, along + indent, pitch * long(i)), rotation, font, alignment);
        }
    }

    // ---- barcodes ---------------------------------------------------------

    void emitBarcode(const std::string &data) {
        const ZplCommand &c = *field.barcode;
        const std::vector<std::string> p = splitParameters(c.parameters);
        Symbol symbol;
        std::string problem;
        if (!describeSymbol(c.name, p, data, {label.moduleWidth, label.ratio, label.barHeight}, label.fieldOrientation,
                            symbol, problem)) {
            warn(c.place, c.label() + ": " + problem);
            if (!symbol.call) return;
        } else if (!problem.empty()) {
            warn(c.place, c.label() + ": " + problem);
        }
        const Point at = fieldAnchor(symbol.rotation, symbol.width, symbol.height, symbol.barHeight);
        const int x = clampInt(at.x), y = clampInt(at.y);
        auto call = symbol.call;
        addContent([call, x, y] { return call(x, y); });
    }

    // ---- graphics -------------------------------------------------------------

    // Where a graphic of that height starts: ^FO names its top left corner,
    // ^FT its bottom left.
    Point graphicTopLeft(long height) const {
        const Point at = labelPoint(field.origin);
        return field.baseline ? Point{at.x, at.y - height} : at;
    }

    // A box of width x height (each at least the line), white or black.
    void emitBox(const ZplCommand &c, long width, long height, long thickness, bool white) {
        const Point at = graphicTopLeft(height);
        const int x1 = clampInt(at.x), y1 = clampInt(at.y), x2 = clampInt(at.x + width - 1),
                  y2 = clampInt(at.y + height - 1);
        const bool filled = thickness >= std::min(width, height);
        if (field.reverse) {
            if (!filled) warn(c.place, "^GB outline under ^FR is printed black");
            else return addContent([=] { return PrintBlock(x1, y1, x2, y2, 1, 0); });
        }
        if (filled) return addContent([=] { return PrintBlock(x1, y1, x2, y2, white ? 2 : 0, 0); });
        if (white) warn(c.place, "^GB white outline is printed black");
        const int t = int(thickness);
        addContent([=] { return PrintBlock(x1, y1, x2, y2, 4, t); });
    }

    void emitDiagonal(const ZplCommand &c) {
        const auto p = splitParameters(c.parameters);
        const long thickness = std::clamp<long>(numberOr(p, 2, 1), 1, 32000);
        const long width = std::clamp<long>(numberOr(p, 0, thickness), 1, 32000);
        const long height = std::clamp<long>(numberOr(p, 1, thickness), 1, 32000);
        const bool leansRight = letterOr(p, 4, 'R') == 'R';
        const Point at = graphicTopLeft(height);
        const long half = thickness / 2;
        const int xa = clampInt(at.x + half), xb = clampInt(at.x + width - 1 - half);
        const int top = clampInt(at.y + half), bottom = clampInt(at.y + height - 1 - half);
        const int t = int(thickness);
        if (leansRight) addContent([=] { return PrintBlock(xa, bottom, xb, top, 3, t); });
        else addContent([=] { return PrintBlock(xa, top, xb, bottom, 3, t); });
    }

    // The printer's circles: diameters 20-120 dots in steps of 20, times 1-4,
    // with a stroke of 2 dots per step of the multiplier.
    void emitCircle(const ZplCommand &c, long diameter, long thickness) {
        int bestSize = 1, bestMultiplier = 1;
        long bestError = -1;
        for (int multiplier = 1; multiplier <= 4; ++multiplier)
            for (int size = 1; size <= 6; ++size) {
                const long error = std::labs(long(size) * 20 * multiplier - diameter);
                if (bestError < 0 || error < bestError) {
                    bestError = error;
                    bestSize = size;
                    bestMultiplier = multiplier;
                }
            }
        const long drawn = long(bestSize) * 20 * bestMultiplier;
        if (drawn != diameter || thickness != 2L * bestMultiplier)
            warn(c.place, c.label() + " of diameter " + std::to_string(diameter) + " and line " + std::to_string(thickness) +
                              " is printed as the printer's circle of diameter " + std::to_string(drawn) + " and line " +
                              std::to_string(2 * bestMultiplier));
        const Point at = graphicTopLeft(drawn);
        const int x = clampInt(at.x), y = clampInt(at.y);
        addContent([=] { return PrintCircle(x, y, bestSize, bestMultiplier); });
    }

    void emitRaster(const Raster &raster, const Place &place) {
        if (raster.bits.empty()) return;
        const Point at = graphicTopLeft(raster.rows);
        if (at.x < 0 || at.y < 0 || at.x > 65535 || at.y > 65535)
            return warn(place, "graphic at " + std::to_string(at.x) + "," + std::to_string(at.y) + " is off the label; not printed");
        auto shared = std::make_shared<Raster>(raster);
        if (field.reverse) warn(place, "graphic under ^FR is printed as it is");
        const int x = int(at.x), y = int(at.y);
        addContent([shared, x, y] {
            // The bitmap command goes out at once, ahead of the command
            // buffer: what the label put in the buffer before it goes first,
            // so that the printer draws the label's elements in their order.
            if (gDataIndex > 0) {
                if (WriteBuffer(gPrintData, gDataIndex) < 0) return int(VDL_ERR_WRITE);
                initDataBuffer();
            }
            BITMAPINFOHEADER info{};
            info.biSize = 40;
            info.biWidth = shared->bytesPerRow * 8;
            info.biHeight = shared->rows;
            info.biPlanes = 1;
            info.biBitCount = 1;
            return printLCR(shared->bits.data(), &info, x, y);
        });
    }

    void store(const std::string &name, Raster raster, const Place &place) {
        const auto old = graphics.find(name);
        const std::size_t replaced = old != graphics.end() ? old->second.bits.size() : 0;
        if (storedBytes - replaced + raster.bits.size() > limits.storedBytes)
            fail(VDL_ZPL_ERR_LIMIT, place, "stored graphics would pass " + std::to_string(limits.storedBytes) + " bytes");
        storedBytes = storedBytes - replaced + raster.bits.size();
        graphics[name] = std::move(raster);
    }

    const Raster *recall(const std::string &name, const ZplCommand &c) {
        const auto found = graphics.find(name);
        if (found == graphics.end()) {
            warn(c.place, c.label() + ": no graphic " + name + " is stored; nothing printed");
            return nullptr;
        }
        return &found->second;
    }

    // ---- settings -------------------------------------------------------------

    // The printer takes the paper's width, length and media in one setting:
    // a side the label does not give is the printer's last (as the library
    // last set it), else a 4 x 6 in label's, and that is said.
    void paperSteps() {
        Settings &w = wanted, &s = sent;
        if (w.width == s.width && w.length == s.length && w.media == s.media) return;
        if (w.width < 0 && w.length < 0) {
            if (w.media >= 0) warn(w.paperPlace, "^MN alone is not sent: the printer takes the media with the paper's size (^PW and ^LL)");
            return;
        }
        if (w.width < 0 || w.length < 0)
            warn(w.paperPlace, std::string(w.width < 0 ? "^LL without ^PW: the width" : "^PW without ^LL: the length") +
                                   " goes to the printer as it last had it, else as a 4 x 6 in label's");
        const long width = w.width, length = w.length;
        const int media = int(w.media < 0 ? 0 : w.media);
        add([=] {
            const int x = int(width > 0 ? width : gPaperWidth > 0 ? gPaperWidth : 812);
            const int y = int(length > 0 ? length : gPaperHeight > 0 ? gPaperHeight : 1218);
            return SetPaper(x, y, media, 0, media == 1 ? 0 : 24);
        });
    }

    void settingsSteps() {
        Settings &w = wanted, &s = sent;
        paperSteps();
        if (w.density >= 0 && w.density != s.density) {
            const int density = int(w.density);
            add([=] { return SetDensity(density); });
        }
        if (w.speed >= 0 && w.speed != s.speed) {
            const int speed = int(w.speed);
            add([=] { return SetSpeed(speed); });
        }
        if (w.mode != 0 && w.mode != s.mode) {
            const bool cut = w.mode == 'C' || w.mode == 'D', rewind = w.mode == 'R';
            add([=] { return SetCutter(cut, 1); });
            add([=] { return SetRewinder(rewind); });
        }
        if (w.orientation != 0 && w.orientation != s.orientation) {
            const int orientation = w.orientation == 'I' ? 'B' : 'T';
            add([=] { return SetOrientation(orientation); });
        }
        s = w;
    }
};


Translator::Translator(Limits limits) : state_(std::make_unique<State>(limits)) {}

Translator::~Translator() = default;

// ---------------------------------------------------------------------------
// The commands, one handler each.

namespace {

using S = Translator::State;
using Handler = void (*)(S &, const ZplCommand &, const std::vector<std::string> &);

void fieldOrigin(S &s, const ZplCommand &c, const std::vector<std::string> &p, bool baseline) {
    s.startField(c);
    s.field.origin = {numberOr(p, 0, 0), numberOr(p, 1, 0)};
    s.field.baseline = baseline;
}

void fieldData(S &s, const ZplCommand &c, const std::vector<std::string> &) {
    s.startField(c);
    s.field.data = c.parameters;
    s.field.dataPlace = c.place;
}

// The font a field's ^A names: a font file (^A@, or a letter ^CW gave one)
// is drawn in the scalable font, with a warning.
void font(S &s, const ZplCommand &c, const std::vector<std::string> &) {
    s.startField(c);
    std::string rest = c.parameters;
    char name = '0';
    if (c.name == "A@") {
        s.warn(c.place, "^A@ font " + rest + " is not a printer font; printed in the scalable font");
    } else if (!rest.empty()) {
        name = char(std::toupper(static_cast<unsigned char>(rest[0])));
        rest.erase(0, 1);
        const auto file = s.fontFiles.find(name);
        if (file != s.fontFiles.end()) {
            s.warn(c.place, std::string("^A font ") + name + " is " + file->second + " (^CW), not a printer font; printed in the scalable font");
            name = '0';
        } else if (name != '0' && !bitmapFont(name)) {
            s.warn(c.place, std::string("^A font ") + name + " is not a printer font; printed in the scalable font");
        }
    }
    const auto p = splitParameters(rest);
    if (!p[0].empty()) s.field.orientation = letterOr(p, 0, 'N');
    s.field.font = resolveFont(name, numberAt(p, 1), numberAt(p, 2));
}

void fontFile(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    if (p.size() < 2 || p[0].empty()) return s.warn(c.place, "^CW without a font letter and a file; skipped");
    s.fontFiles[char(std::toupper(static_cast<unsigned char>(p[0][0])))] = p[1];
}

void changeFont(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    const char name = letterOr(p, 0, s.label.defaultFont.name);
    const bool same = name == s.label.defaultFont.name;
    s.label.defaultFont = resolveFont(name, numberAt(p, 1) ? numberAt(p, 1) : same ? std::optional<long>(s.label.defaultFont.height) : std::nullopt,
                                      numberAt(p, 2));
    if (name != '0' && !bitmapFont(name)) s.warn(c.place, std::string("^CF font ") + name + " is not a printer font");
}

void barcodeDefaults(S &s, const ZplCommand &, const std::vector<std::string> &p) {
    s.label.moduleWidth = int(std::clamp<long>(numberOr(p, 0, s.label.moduleWidth), 1, 10));
    if (p.size() > 1 && !p[1].empty()) s.label.ratio = std::clamp(std::atof(p[1].c_str()), 2.0, 3.0);
    s.label.barHeight = int(std::clamp<long>(numberOr(p, 2, s.label.barHeight), 1, 32000));
}

void barcode(S &s, const ZplCommand &c, const std::vector<std::string> &) {
    s.startField(c);
    s.field.barcode = c;
}

void fieldBlock(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    s.startField(c);
    S::Block b;
    if (c.name == "FB") {
        b.width = std::clamp<long>(numberOr(p, 0, 0), 0, 32000);
        b.lines = std::clamp<long>(numberOr(p, 1, 1), 1, 9999);
        b.spacing = std::clamp<long>(numberOr(p, 2, 0), -9999, 9999);
        b.justify = letterOr(p, 3, 'L');
        b.indent = std::clamp<long>(numberOr(p, 4, 0), 0, 9999);
    } else {  // ^TB orientation, width, height
        if (!p[0].empty()) s.field.orientation = letterOr(p, 0, 'N');
        b.width = std::clamp<long>(numberOr(p, 1, 0), 0, 32000);
        b.height = std::clamp<long>(numberOr(p, 2, 1), 1, 32000);
    }
    s.field.block = b;
}

void graphicBox(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    const long thickness = std::clamp<long>(numberOr(p, 2, 1), 1, 32000);
    const long width = std::clamp<long>(std::max(numberOr(p, 0, thickness), thickness), 1, 32000);
    const long height = std::clamp<long>(std::max(numberOr(p, 1, thickness), thickness), 1, 32000);
    if (numberOr(p, 4, 0) > 0) s.warn(c.place, "^GB corner rounding is printed square");
    s.emitBox(c, width, height, thickness, letterOr(p, 3, 'B') == 'W');
}
void graphicDiagonal(S &s, const ZplCommand &c, const std::vector<std::string> &) { s.emitDiagonal(c); }

void graphicCircle(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    const long diameter = std::clamp<long>(numberOr(p, 0, 3), 3, 4095);
    const long thickness = std::clamp<long>(numberOr(p, 1, 1), 1, 4095);
    if (thickness * 2 >= diameter) s.warn(c.place, "^GC filled circle is printed as an outline");
    s.emitCircle(c, diameter, thickness);
}

void graphicEllipse(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    const long width = std::clamp<long>(numberOr(p, 0, 3), 3, 4095), height = std::clamp<long>(numberOr(p, 1, 3), 3, 4095);
    const long thickness = std::clamp<long>(numberOr(p, 2, 1), 1, 4095);
    if (std::labs(width - height) * 10 > std::max(width, height)) {
        s.warn(c.place, "^GE ellipse of " + std::to_string(width) + " x " + std::to_string(height) + " is printed as a box");
        return s.emitBox(c, std::max(width, thickness), std::max(height, thickness), thickness, false);
    }
    s.emitCircle(c, (width + height) / 2, thickness);
}

// ^GF format,binary bytes,total bytes,bytes a row,data: A is ASCII hex (or
// :B64:/:Z64:), B the bytes themselves. C (Zebra's compressed binary) is not read.
void graphicField(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    const char format = letterOr(p, 0, 'A');
    if (format != 'A' && format != 'B')
        return s.warn(c.place, std::string("^GF format ") + format + " (compressed binary) is not read; use A or B");
    const std::size_t dataAt = afterCommas(c.parameters, 4);
    const std::string data = dataAt == std::string::npos ? std::string() : c.parameters.substr(dataAt);
    Raster raster;
    std::string problem;
    const long total = numberOr(p, 2, 0), perRow = numberOr(p, 3, 0);
    const bool decoded = format == 'B' ? takeBinaryRaster(data, numberOr(p, 1, 0), total, perRow, raster, problem)
                                       : decodeGraphic(data, total, perRow, raster, problem);
    if (!decoded) s.fail(VDL_ZPL_ERR_SYNTAX, c.place, "^GF: " + problem);
    s.emitRaster(raster, c.place);
}

// ~DG name,total bytes,bytes a row,data: a graphic kept for ^XG.
void downloadGraphic(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    const std::size_t at = afterCommas(c.parameters, 3);
    Raster raster;
    std::string problem;
    if (at == std::string::npos || !decodeGraphic(c.parameters.substr(at), numberOr(p, 1, 0), numberOr(p, 2, 0), raster, problem))
        s.fail(VDL_ZPL_ERR_SYNTAX, c.place, "~DG: " + (problem.empty() ? std::string("parameters cut short") : problem));
    s.store(objectName(p[0]), std::move(raster), c.place);
}

void recallGraphic(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    const Raster *raster = s.recall(objectName(p[0]), c);
    if (!raster) return;
    const int across = int(std::clamp<long>(numberOr(p, 1, 1), 1, 10)), down = int(std::clamp<long>(numberOr(p, 2, 1), 1, 10));
    if (c.name == "XG" && (across > 1 || down > 1)) {
        if (raster->bits.size() * std::size_t(across * down) > kMaxGraphicBytes)
            s.fail(VDL_ZPL_ERR_LIMIT, c.place, "^XG magnified graphic would pass " + std::to_string(kMaxGraphicBytes) + " bytes");
        return s.emitRaster(magnify(*raster, across, down), c.place);
    }
    if (c.name == "IL") s.field.origin = {0, 0};
    s.emitRaster(*raster, c.place);
}

void fieldNumber(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    s.startField(c);
    s.field.number = numberOr(p, 0, 0);
}

void serialNumber(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    s.startField(c);
    s.field.data = p[0];
    s.field.dataPlace = c.place;
    s.field.serialStep = numberOr(p, 1, 1);
    s.sawSerial = true;
}

// ^CI: 0-13 are ZPL's single-byte sets (code page 850 beyond ASCII), 27 is
// Windows-1252, 28 UTF-8.
void encoding(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    const long set = numberOr(p, 0, 0);
    s.label.utf8 = set == 28;
    s.label.encoding = set == 27 ? "CP1252" : "CP850";
    if ((set > 13 && set != 27 && set != 28) || p.size() > 1)
        s.warn(c.place, "^CI" + p[0] + (p.size() > 1 ? " with remapped characters" : "") + " is read as " +
                            (s.label.utf8 ? "UTF-8" : s.label.encoding));
}

void labelHome(S &s, const ZplCommand &, const std::vector<std::string> &p) {
    s.label.home = {std::clamp<long>(numberOr(p, 0, 0), 0, 32000), std::clamp<long>(numberOr(p, 1, 0), 0, 32000)};
}

void setting(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    S::Settings &w = s.wanted;
    if (c.name == "PW" || c.name == "LL" || c.name == "MN") w.paperPlace = c.place;
    if (c.name == "PW") w.width = std::clamp<long>(numberOr(p, 0, 812), 2, 32000);
    else if (c.name == "LL") w.length = std::clamp<long>(numberOr(p, 0, 1218), 1, 32000);
    else if (c.name == "LS") s.label.shift = std::clamp<long>(numberOr(p, 0, 0), -9999, 9999);
    else if (c.name == "LT") s.label.top = std::clamp<long>(numberOr(p, 0, 0), -120, 120);
    else if (c.name == "FW") s.label.fieldOrientation = letterOr(p, 0, 'N');
    else if (c.name == "PQ") s.label.copies = std::clamp<long>(numberOr(p, 0, 1), 1, 99999999);
    else if (c.name == "PO") w.orientation = letterOr(p, 0, 'N');
    else if (c.name == "MD") w.density = std::lround(std::clamp<long>(15 + numberOr(p, 0, 0), 0, 30) * 20.0 / 30.0);
    else if (c.name == "SD") w.density = std::lround(std::clamp<long>(numberOr(p, 0, 15), 0, 30) * 20.0 / 30.0);
    else if (c.name == "MM") {
        w.mode = letterOr(p, 0, 'T');
        if (w.mode != 'T' && w.mode != 'C' && w.mode != 'D' && w.mode != 'R')
            s.warn(c.place, std::string("^MM") + w.mode + " has no counterpart; printed as tear-off");
    }
    else if (c.name == "MN") {
        const char m = letterOr(p, 0, 'Y');
        w.media = m == 'N' ? 1 : m == 'M' ? 2 : 0;
    } else if (c.name == "PR") {
        static const std::string letters = "ABCDEFGH";
        static const long letterSpeed[] = {2, 3, 4, 6, 8, 10, 12, 14};
        const std::size_t l = p[0].size() == 1 ? letters.find(letterOr(p, 0, ' ')) : std::string::npos;
        const long asked = l != std::string::npos ? letterSpeed[l] : numberOr(p, 0, 6);
        w.speed = std::clamp<long>(asked, 0, 12);
        if (w.speed != asked) s.warn(c.place, "^PR speed " + std::to_string(asked) + " is printed at " + std::to_string(w.speed));
    }
}

void reverse(S &s, const ZplCommand &c, const std::vector<std::string> &) {
    s.startField(c);
    s.field.reverse = true;
}

void hexEscapes(S &s, const ZplCommand &c, const std::vector<std::string> &) {
    s.startField(c);
    s.field.hex = true;
    s.field.hexIndicator = c.parameters.empty() ? '_' : c.parameters[0];
}

void endOfField(S &s, const ZplCommand &, const std::vector<std::string> &) { s.endField(); }
void nothing(S &, const ZplCommand &, const std::vector<std::string> &) {}

// Commands that change nothing a VELDRIN printer has, in the values given:
// quietly taken. Any other value is a warning.
void noEffect(S &s, const ZplCommand &c, const std::vector<std::string> &p) {
    static const std::map<std::string, std::string> harmless = {
        {"LR", "N"}, {"PM", "N"}, {"JM", "A"}, {"MT", ""}, {"FP", "H"}, {"XB", ""}, {"JZ", ""}, {"MF", ""}, {"CC", "^"}, {"CT", "~"}, {"CD", ","}};
    const auto h = harmless.find(c.name);
    const std::string value = p[0].empty() ? "" : std::string(1, char(std::toupper(static_cast<unsigned char>(p[0][0]))));
    if (h != harmless.end() && (h->second.empty() || value.empty() || value == h->second)) return;
    s.warn(c.place, c.label() + c.parameters + " has no counterpart on the printer; skipped");
}

struct CommandRule {
    const char *name;
    Handler handle;
};

const CommandRule kCommands[] = {
    {"FO", [](S &s, const ZplCommand &c, const std::vector<std::string> &p) { fieldOrigin(s, c, p, false); }},
    {"FT", [](S &s, const ZplCommand &c, const std::vector<std::string> &p) { fieldOrigin(s, c, p, true); }},
    {"FD", fieldData}, {"FV", fieldData}, {"FS", endOfField}, {"FX", nothing}, {"FH", hexEscapes},
    {"FR", reverse}, {"FN", fieldNumber}, {"SN", serialNumber}, {"A", font}, {"A@", font}, {"CW", fontFile}, {"CF", changeFont},
    {"BY", barcodeDefaults}, {"FB", fieldBlock}, {"TB", fieldBlock}, {"GB", graphicBox}, {"GD", graphicDiagonal},
    {"GC", graphicCircle}, {"GE", graphicEllipse}, {"GF", graphicField}, {"DG", downloadGraphic},
    {"XG", recallGraphic}, {"IM", recallGraphic}, {"IL", recallGraphic}, {"CI", encoding}, {"LH", labelHome},
    {"PW", setting}, {"LL", setting}, {"LS", setting}, {"LT", setting}, {"FW", setting}, {"PQ", setting},
    {"PO", setting}, {"MD", setting}, {"SD", setting}, {"MM", setting}, {"MN", setting}, {"PR", setting},
    {"LR", noEffect}, {"PM", noEffect}, {"JM", noEffect}, {"MT", noEffect}, {"FP", noEffect}, {"XB", noEffect},
    {"JZ", noEffect}, {"MF", noEffect}, {"CC", noEffect}, {"CT", noEffect}, {"CD", noEffect},
};

Handler handlerOf(const std::string &name) {
    if (isBarcodeCommand(name)) return barcode;
    for (const CommandRule &r : kCommands)
        if (name == r.name) return r.handle;
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Labels: ^XA to ^XZ, stored formats and their recall, serial copies.

namespace {

struct LabelCommands {
    Place place;
    std::vector<ZplCommand> commands;
};

bool isFieldEnd(const ZplCommand &c) { return c.prefix == '^' && c.name == "FS"; }

// A recalling label's ^FN n ^FD data ^FS groups (those without an origin)
// are data for the format's numbered fields; the rest of it stays.
std::vector<ZplCommand> takeFieldData(const std::vector<ZplCommand> &commands, std::map<long, std::string> &data) {
    std::vector<ZplCommand> rest, group;
    const auto closeGroup = [&] {
        std::optional<long> n;
        std::optional<std::string> text;
        std::optional<char> hexIndicator;
        bool placed = false;
        for (const ZplCommand &c : group) {
            if (c.name == "FN") n = numberOr(splitParameters(c.parameters), 0, 0);
            else if (c.name == "FH") hexIndicator = c.parameters.empty() ? '_' : c.parameters[0];
            else if (c.name == "FD" || c.name == "FV") text = c.parameters;
            else if (c.name == "FO" || c.name == "FT" || isBarcodeCommand(c.name) || c.name == "A") placed = true;
        }
        if (n && text && !placed) data[*n] = hexIndicator ? expandHexEscapes(*text, *hexIndicator) : *text;
        else rest.insert(rest.end(), group.begin(), group.end());
        group.clear();
    };
    for (const ZplCommand &c : commands) {
        group.push_back(c);
        if (isFieldEnd(c)) closeGroup();
    }
    rest.insert(rest.end(), group.begin(), group.end());
    return rest;
}

}  // namespace

int Translator::translate(const char *text, std::size_t length, bool strict, const MessageSink &messages,
                          const LabelSink &sink) {
    State &s = *state_;
    s.strict = strict;
    s.messages = messages;
    s.sent = s.wanted = State::Settings{};
    s.label = State::LabelState{};
    s.warned = 0;
    struct WarningsLeftOut {
        State &s;
        ~WarningsLeftOut() { s.sayWarningsLeftOut(); }
    } leftOut{s};
    try {
        if (text == nullptr) throw Failure{VDL_ZPL_ERR_ARGUMENT, {}, "no ZPL given"};
        if (length > s.limits.inputBytes)
            throw Failure{VDL_ZPL_ERR_LIMIT, {}, "the ZPL is " + std::to_string(length) + " bytes, more than " +
                                                     std::to_string(s.limits.inputBytes)};
        CommandReader reader(text, length);
        ZplCommand c;
        int printed = 0;
        std::optional<LabelCommands> open;
        while (reader.next(c)) {
            if (c.prefix == '^' && c.name == "XA") {
                if (open) s.warn(c.place, "^XA inside the label begun at line " + std::to_string(open->place.line) + "; the label goes on");
                else open = LabelCommands{c.place, {}};
                continue;
            }
            if (c.prefix == '^' && c.name == "XZ") {
                if (!open) {
                    s.warn(c.place, "^XZ without ^XA; skipped");
                    continue;
                }
                const int result = runLabel(open->place, open->commands, sink, printed);
                if (result < 0) return result;
                open.reset();
                continue;
            }
            if (!open) {
                runOutside(c);
            } else if (open->commands.size() < s.limits.labelCommands) {
                open->commands.push_back(std::move(c));
            } else {
                s.fail(VDL_ZPL_ERR_LIMIT, open->place, "the label begun here holds more than " +
                                                           std::to_string(s.limits.labelCommands) + " commands");
            }
        }
        if (open)
            throw Failure{VDL_ZPL_ERR_SYNTAX, open->place, "the label begun here has no ^XZ; not printed"};
        return printed;
    } catch (const Failure &f) {
        if (s.messages) s.messages(f.place, f.message);
        return f.code;
    } catch (const std::bad_alloc &) {
        return VDL_ERR_NO_MEMORY;
    }
}

// Control commands between labels (~SD, ~DG) act at once; a format command
// outside a label has no label to go to.
void Translator::runOutside(const ZplCommand &c) {
    State &s = *state_;
    const std::vector<std::string> p = splitParameters(c.parameters);
    if (c.name == "DG" || c.name == "SD" || c.name == "FX") {
        if (Handler h = handlerOf(c.name)) h(s, c, p);
        return;
    }
    s.warn(c.place, c.label() + " outside ^XA ... ^XZ; skipped");
}

int Translator::runLabel(const Place &place, const std::vector<ZplCommand> &commands, const LabelSink &sink,
                         int &printed) {
    State &s = *state_;
    // ^DF: the rest of the label is a format kept for ^XF, not printed.
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (commands[i].name != "DF") continue;
        if (i > 0) s.warn(commands[i].place, "^DF: the commands before it in its label are not printed");
        std::vector<ZplCommand> format(commands.begin() + long(i) + 1, commands.end());
        std::size_t size = 0;
        for (const ZplCommand &c : format) size += c.parameters.size() + 8;
        if (s.storedBytes + size > s.limits.storedBytes)
            s.fail(VDL_ZPL_ERR_LIMIT, commands[i].place, "stored formats would pass " + std::to_string(s.limits.storedBytes) + " bytes");
        s.storedBytes += size;
        s.formats[objectName(splitParameters(commands[i].parameters)[0])] = std::move(format);
        return 0;
    }
    s.fieldData.clear();
    const bool recalls = std::any_of(commands.begin(), commands.end(), [](const ZplCommand &c) { return c.name == "XF"; });
    const std::vector<ZplCommand> expanded = expandFormats(recalls ? takeFieldData(commands, s.fieldData) : commands, 0);
    s.sawSerial = false;
    s.serialIndex = 0;
    do {
        const Label label = translateLabel(place, expanded);
        const long copies = s.label.copies;
        if (s.sawSerial && copies > s.limits.serialCopies)
            s.fail(VDL_ZPL_ERR_LIMIT, place, "^SN fields make each of its " + std::to_string(copies) +
                                                 " copies a label of its own, more than " +
                                                 std::to_string(s.limits.serialCopies));
        if (label.prints && ++printed > s.limits.labels)
            s.fail(VDL_ZPL_ERR_LIMIT, place, "more than " + std::to_string(s.limits.labels) + " labels");
        if (const int r = sink(label); r < 0) return r;
        if (!label.prints) return 0;
        if (!s.sawSerial || ++s.serialIndex >= copies) break;
    } while (true);
    return 0;
}

// The label with each ^XF replaced by its format, recursively. Every
// command visited and every recall spends from one budget (the label's
// command bound), so that formats recalling empty formats many times over
// cost as much as what they would make.
std::vector<ZplCommand> Translator::expandFormats(const std::vector<ZplCommand> &commands, int depth) {
    State &s = *state_;
    std::size_t budget = s.limits.labelCommands;
    std::vector<ZplCommand> out;
    expandInto(commands, depth, budget, out);
    return out;
}

void Translator::expandInto(const std::vector<ZplCommand> &commands, int depth, std::size_t &budget,
                            std::vector<ZplCommand> &out) {
    State &s = *state_;
    for (const ZplCommand &c : commands) {
        if (budget-- == 0)
            s.fail(VDL_ZPL_ERR_LIMIT, c.place, "^XF recalls make the label more than " +
                                                   std::to_string(s.limits.labelCommands) + " commands");
        if (c.name != "XF") {
            out.push_back(c);
            continue;
        }
        if (depth >= s.limits.formatDepth)
            s.fail(VDL_ZPL_ERR_LIMIT, c.place, "^XF formats recalled within each other more than " + std::to_string(s.limits.formatDepth) + " deep");
        const std::string name = objectName(splitParameters(c.parameters)[0]);
        const auto found = s.formats.find(name);
        if (found == s.formats.end()) {
            s.warn(c.place, "^XF: no format " + name + " is stored; nothing recalled");
            continue;
        }
        const std::vector<ZplCommand> format = found->second;  // a copy: a label may store over it
        expandInto(format, depth + 1, budget, out);
    }
}

Label Translator::translateLabel(const Place &place, const std::vector<ZplCommand> &commands) {
    State &s = *state_;
    s.out = Label{};
    s.out.place = place;
    s.field = State::Field{};
    s.label.copies = 1;
    for (const ZplCommand &c : commands) {
        const Handler handle = handlerOf(c.name);
        if (!handle) {
            s.warn(c.place, c.label() + " is not supported; skipped");
            continue;
        }
        handle(s, c, splitParameters(c.parameters));
    }
    if (s.field.started) s.endField();
    std::vector<Step> content = std::move(s.out.steps);
    s.out.steps.clear();
    s.settingsSteps();
    s.out.steps.insert(s.out.steps.end(), content.begin(), content.end());
    if (s.out.prints) {
        const int copies = s.sawSerial ? 1 : int(s.label.copies);
        s.out.steps.push_back([copies] { return Prints(copies, 1); });
    }
    return std::move(s.out);
}

}  // namespace vdlzpl
