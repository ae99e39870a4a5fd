#include "parser.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include "run_length.h"
#include "text_encoding.h"

namespace vdlemu {

namespace {

// Thrown by the field decoders; the parser turns it into a Malformed command.
struct Malformed {
    std::string why;
};

constexpr std::size_t kKeptBytes = 256;  // bytes of a failed command kept for the log

// ---------------------------------------------------------------------------
// Fields: a command's header is a list of comma-separated tokens, each
// decoded by one FieldLayout.

struct Letter {
    char letter;
    int value;  // the library argument the letter stands for
};
using Letters = std::vector<Letter>;

const Letters kBold = {{'N', 0}, {'B', 1}};
const Letters kReverse = {{'N', 0}, {'R', 1}};
const Letters kItalic = {{'N', 0}, {'I', 1}};
const Letters kYesNo = {{'n', 0}, {'y', 1}};
const Letters kOneZero = {{'0', 0}, {'1', 1}};
const Letters kVectorFonts = {{'U', 0}, {'K', 1}, {'B', 2}, {'G', 3}, {'J', 4}, {'a', 5}, {'b', 6}};
const Letters kAlignments = {{'L', 0}, {'C', 1}, {'R', 2}};
const Letters kBlockOptions = {{'O', 0}, {'E', 1}, {'D', 2}, {'S', 3}, {'B', 4}};
const Letters kOrientations = {{'T', 84}, {'B', 66}};
const Letters kPrintingTypes = {{'d', 0}, {'t', 1}};
const Letters kMediaTypes = {{'G', 0}, {'C', 1}, {'B', 2}};
const Letters kQrLevels = {{'L', 0}, {'M', 1}, {'Q', 2}, {'H', 3}};
const Letters kDataMatrixShapes = {{'N', 0}, {'R', 1}};
const Letters kCodablockModes = {{'A', 0}, {'E', 1}, {'F', 2}};
const Letters kRfidWriteTypes = {{'A', 1}, {'H', 2}, {'U', 3}, {'E', 4}};

enum class Token { Number, Letter, Flag, DeviceFont, Constant };

struct FieldLayout {
    const char *name;  // for Constant: the text the token must be
    Token token;
    const Letters *letters = nullptr;
};
using Schema = std::vector<FieldLayout>;

FieldLayout number(const char *name) { return {name, Token::Number}; }
FieldLayout letter(const char *name, const Letters &letters) { return {name, Token::Letter, &letters}; }
FieldLayout flag(const char *name, const Letters &letters) { return {name, Token::Flag, &letters}; }
FieldLayout deviceFont(const char *name) { return {name, Token::DeviceFont}; }
FieldLayout constant(const char *text) { return {text, Token::Constant}; }

std::string quoted(std::string_view token) { return "\"" + std::string(token) + "\""; }

int64_t parseNumber(std::string_view token, const char *name) {
    int32_t value = 0;
    const char *end = token.data() + token.size();
    const auto result = std::from_chars(token.data(), end, value);
    if (token.empty() || result.ec != std::errc() || result.ptr != end)
        throw Malformed{std::string(name) + " " + quoted(token) + " is not a 32-bit decimal number"};
    return value;
}

Field decodeToken(const FieldLayout &layout, std::string_view token) {
    Field field;
    field.name = layout.name;
    switch (layout.token) {
    case Token::Number:
        field.kind = FieldKind::Number;
        field.number = parseNumber(token, layout.name);
        field.text = std::string(token);
        return field;
    case Token::DeviceFont: {
        // A digit stands for itself, a letter for its character code (97-110).
        const char c = token.size() == 1 ? token[0] : '\0';
        if (c >= '0' && c <= '9') field.number = c - '0';
        else if (c >= 'a' && c <= 'n') field.number = c;
        else throw Malformed{"font " + quoted(token) + " is neither a digit nor a letter a-n"};
        field.kind = FieldKind::Letter;
        field.text = std::string(token);
        return field;
    }
    case Token::Letter:
    case Token::Flag:
        field.kind = layout.token == Token::Letter ? FieldKind::Letter : FieldKind::Flag;
        field.text = std::string(token);
        for (const Letter &l : *layout.letters) {
            if (token.size() == 1 && token[0] == l.letter) {
                field.number = l.value;
                return field;
            }
        }
        {
            std::string allowed;
            for (const Letter &l : *layout.letters) allowed += l.letter;
            throw Malformed{std::string(layout.name) + " " + quoted(token) + " is not one of " + allowed};
        }
    case Token::Constant:
        break;
    }
    throw Malformed{"unreachable"};
}

std::vector<std::string_view> splitFields(std::string_view header) {
    std::vector<std::string_view> tokens;
    if (header.empty()) return tokens;
    tokens.reserve(16);  // more than any command has
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = header.find(',', from);
        tokens.push_back(header.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from));
        if (comma == std::string_view::npos) return tokens;
        from = comma + 1;
    }
}

void decodeFields(const Schema &schema, const std::vector<std::string_view> &tokens, std::size_t first,
                  Command &command) {
    if (tokens.size() - first != schema.size())
        throw Malformed{std::to_string(schema.size()) + " fields expected, " + std::to_string(tokens.size() - first) +
                        " found"};
    command.fields.reserve(command.fields.size() + schema.size() + 1);  // and the data part
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const FieldLayout &layout = schema[i];
        const std::string_view token = tokens[first + i];
        if (layout.token == Token::Constant) {
            if (token != layout.name)
                throw Malformed{"field " + std::to_string(first + i + 1) + " is " + quoted(token) + ", not " +
                                quoted(layout.name)};
            continue;
        }
        command.fields.push_back(decodeToken(layout, token));
    }
}

// The tokens of a header. A header in front of a data part ends with a comma
// that separates it from the opening quote.
std::vector<std::string_view> headerTokens(std::string_view header, bool beforeData) {
    if (beforeData && !header.empty()) {
        if (header.back() != ',') throw Malformed{"the header does not end with a comma before the data"};
        header.remove_suffix(1);
    }
    return splitFields(header);
}

void addData(const char *name, std::string_view data, Command &command) {
    Field field;
    field.name = name;
    field.kind = FieldKind::Text;
    field.text = std::string(data);
    command.fields.push_back(std::move(field));
}

// Label text goes to the printer in the code page its font implies, or as
// the application gave it.
void addLabelText(std::string_view data, const char *fontEncoding, const ParserOptions &options, Command &command) {
    LabelText text = readLabelText(std::string(data), fontEncoding, options.fallbackCodePage);
    addData("text", text.utf8, command);
    command.note("encoding", text.encoding);
}

const char *deviceFontEncoding(int64_t font) {
    if (font >= 'a' && font <= 'f') return "EUC-KR";
    if (font == 'm') return "GB18030";
    if (font == 'n') return "BIG5";
    return nullptr;
}

const char *vectorFontEncoding(int64_t font) {
    switch (font) {
    case 1: return "EUC-KR";
    case 2: return "BIG5";
    case 3: return "GB18030";
    case 4: return "CP932";
    default: return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Decoders, one per command family.

using Decode = void (*)(std::string_view header, std::string_view data, const ParserOptions &, Command &);

void noFields(std::string_view header, std::string_view, const ParserOptions &, Command &command) {
    decodeFields({}, splitFields(header), 0, command);
}

template <const Schema &schema>
void plainFields(std::string_view header, std::string_view, const ParserOptions &, Command &command) {
    decodeFields(schema, splitFields(header), 0, command);
}

const Schema kPrint = {number("first"), number("second")};
const Schema kCircle = {number("x"), number("y"), number("size"), number("multiplier")};
const Schema kSpeed = {number("speed")};
const Schema kDensity = {number("density")};
const Schema kOrientation = {letter("orientation", kOrientations)};
const Schema kRewinder = {flag("rewind", kYesNo)};
const Schema kOffset = {number("offset")};
const Schema kCutPosition = {number("cutPosition")};
const Schema kPrintingType = {letter("printingType", kPrintingTypes)};
const Schema kBackFeed = {flag("backFeeding", kOneZero)};
const Schema kPaperLength = {number("paperHeight"), number("gapLength"), letter("mediaType", kMediaTypes),
                             number("offset")};
const Schema kPaperWidth = {number("paperWidth")};
const Schema kMargin = {number("horizontalMargin"), number("verticalMargin")};
const Schema kCharacterSet = {number("characterSet"), number("codeTable")};
const Schema kRfidSetup = {number("field1"), number("field2"), number("field3"), number("field4")};
const Schema kRfidPosition = {number("position")};

const Schema kDeviceText = {number("x"),
                            number("y"),
                            deviceFont("font"),
                            number("horizontalMultiplier"),
                            number("verticalMultiplier"),
                            constant("0"),
                            number("rotation"),
                            constant("N"),
                            flag("bold", kBold)};

const Schema kVectorText = {number("x"),       number("y"),
                            letter("font", kVectorFonts),
                            number("width"),   number("height"),
                            number("spacing"), flag("bold", kBold),
                            flag("reverse", kReverse),
                            flag("italic", kItalic),
                            number("rotation"),
                            letter("alignment", kAlignments),
                            number("direction")};

void deviceText(std::string_view header, std::string_view data, const ParserOptions &options, Command &command) {
    decodeFields(kDeviceText, headerTokens(header, true), 0, command);
    addLabelText(data, deviceFontEncoding(command.number("font")), options, command);
}

void vectorText(std::string_view header, std::string_view data, const ParserOptions &options, Command &command) {
    decodeFields(kVectorText, headerTokens(header, true), 0, command);
    addLabelText(data, vectorFontEncoding(command.number("font")), options, command);
}

const Schema kBlock = {number("x1"), number("y1"), number("x2"), number("y2"), letter("option", kBlockOptions)};
const Schema kBlockWithValue = {number("x1"), number("y1"),  number("x2"), number("y2"),
                                letter("option", kBlockOptions), number("optionValue")};

// Options S and B carry a value; the others do not.
void block(std::string_view header, std::string_view, const ParserOptions &, Command &command) {
    const std::vector<std::string_view> tokens = splitFields(header);
    const bool withValue = tokens.size() == kBlockWithValue.size();
    decodeFields(withValue ? kBlockWithValue : kBlock, tokens, 0, command);
    const int64_t option = command.number("option");
    if (withValue != (option == 3 || option == 4))
        throw Malformed{"option " + command.text("option") + (withValue ? " takes no value" : " needs a value")};
}

void cutter(std::string_view header, std::string_view, const ParserOptions &, Command &command) {
    const std::vector<std::string_view> tokens = splitFields(header);
    if (tokens.size() == 2) {
        decodeFields({flag("autoCut", kYesNo), number("cutPeriod")}, tokens, 0, command);
        if (command.number("autoCut") == 0) throw Malformed{"a cut period with the cutter off"};
    } else {
        decodeFields({flag("autoCut", kYesNo)}, tokens, 0, command);
    }
}

const Schema kLinearBarcode = {number("x"),      number("y"),      number("barcodeType"), number("field4"),
                               number("field5"), number("field6"), number("rotation"),    number("field8")};

void linearBarcode(std::string_view header, std::string_view data, const ParserOptions &, Command &command) {
    decodeFields(kLinearBarcode, headerTokens(header, true), 0, command);
    addData("data", data, command);
}

struct Symbology {
    char letter;
    const char *name;
    Schema fields;  // after x, y and the letter
};

const std::vector<Symbology> kTwoDimensional = {
    {'M', "MaxiCode", {number("mode")}},
    {'P',
     "PDF417",
     {number("rows"), number("columns"), number("eccLevel"), number("field7"), flag("field8", kOneZero),
      number("field9"), number("field10"), number("field11"), number("rotation")}},
    {'Q', "QR Code", {number("model"), letter("eccLevel", kQrLevels), number("field6"), number("rotation")}},
    {'D', "Data Matrix", {number("field4"), flag("field5", kDataMatrixShapes), number("rotation")}},
    {'A',
     "Aztec",
     {number("field4"), number("field5"), number("field6"), flag("field7", kOneZero), number("field8"),
      number("field9"), number("rotation")}},
    {'F',
     "Code 49",
     {number("field4"), number("field5"), number("field6"), number("field7"), number("field8"), number("rotation")}},
    {'C',
     "CODABLOCK",
     {number("field4"), number("field5"), number("field6"), flag("field7", kOneZero), number("field8"),
      letter("mode", kCodablockModes), number("field10"), constant("0")}},
    {'B', "MicroPDF417", {number("field4"), number("field5"), number("field6"), number("rotation")}},
};

const std::vector<Symbology> kDataBar = {
    {'R',
     "GS1 DataBar",
     {number("field4"), number("field5"), number("field6"), number("field7"), number("segments"), number("rotation")}},
};

void symbolFrom(const std::vector<Symbology> &family, std::string_view header, std::string_view data,
                Command &command) {
    const std::vector<std::string_view> tokens = headerTokens(header, true);
    if (tokens.size() < 3) throw Malformed{"no symbology letter"};
    command.fields.push_back(decodeToken(number("x"), tokens[0]));
    command.fields.push_back(decodeToken(number("y"), tokens[1]));
    for (const Symbology &symbology : family) {
        if (tokens[2].size() == 1 && tokens[2][0] == symbology.letter) {
            command.symbology = symbology.letter;
            command.name = symbology.name;
            decodeFields(symbology.fields, tokens, 3, command);
            addData("data", data, command);
            return;
        }
    }
    throw Malformed{"unknown symbology " + quoted(tokens[2])};
}

void twoDimensionalBarcode(std::string_view header, std::string_view data, const ParserOptions &, Command &command) {
    symbolFrom(kTwoDimensional, header, data, command);
}

void dataBar(std::string_view header, std::string_view data, const ParserOptions &, Command &command) {
    symbolFrom(kDataBar, header, data, command);
}

void epcStructure(std::string_view header, std::string_view data, const ParserOptions &, Command &command) {
    decodeFields({number("field1")}, headerTokens(header, true), 0, command);
    addData("structure", data, command);
}

// ">RFW,E,'data'" or ">RFW,A,field2,length, 'data'" (a blank before the quote).
void rfidWrite(std::string_view header, std::string_view data, const ParserOptions &, Command &command) {
    const bool longForm = header.size() >= 2 && header.substr(header.size() - 2) == ", ";
    if (longForm) header.remove_suffix(1);
    const std::vector<std::string_view> tokens = headerTokens(header, true);
    if (tokens.empty()) throw Malformed{"no write type"};
    const Field type = decodeToken(letter("type", kRfidWriteTypes), tokens[0]);
    if ((type.text == "E") == longForm)
        throw Malformed{type.text == "E" ? "type E takes no further fields" : "type " + type.text + " needs field2 and length"};
    if (longForm) decodeFields({letter("type", kRfidWriteTypes), number("field2"), number("length")}, tokens, 0, command);
    else decodeFields({letter("type", kRfidWriteTypes)}, tokens, 0, command);
    addData("data", data, command);
}

// The four parts share one pair of quotes, separated by commas.
void rfidPassword(std::string_view header, std::string_view data, const ParserOptions &, Command &command) {
    // ">RFZ," already holds the comma before the quote: nothing may stand between.
    if (!header.empty()) throw Malformed{"fields before the password's quote"};
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t comma = data.find(',', from);
        if (comma == std::string_view::npos) throw Malformed{"fewer than four password parts"};
        parts.push_back(data.substr(from, comma - from));
        from = comma + 1;
    }
    parts.push_back(data.substr(from));
    const char *names[] = {"part1", "part2", "part3", "part4"};
    for (int i = 0; i < 4; ++i) addData(names[i], parts[std::size_t(i)], command);
}

// ---------------------------------------------------------------------------
// The command table: every command of the language, by the letters it
// starts with. The longest matching prefix wins ("TA" before "T").

enum class Framing {
    Line,    // ends with CR (or LF)
    Quoted,  // a header, then 'data' and CR
    Bitmap,  // binary header, raster or run-length stream, CR
};

}  // namespace

struct CommandLayout {
    const char *prefix;
    const char *name;
    Framing framing;
    Decode decode;

    std::string code() const {  // the letters as shown in the log, without a trailing comma
        std::string letters = prefix;
        if (letters.back() == ',') letters.pop_back();
        return letters;
    }
};

namespace {

const std::vector<CommandLayout> kCommands = {
    {"^PI0", "model query", Framing::Line, noFields},
    {"^cu", "status query", Framing::Line, noFields},
    {"P", "print", Framing::Line, plainFields<kPrint>},
    {"CB", "clear buffer", Framing::Line, noFields},
    {"T", "device-font text", Framing::Quoted, deviceText},
    {"V", "vector-font text", Framing::Quoted, vectorText},
    {"BD", "block", Framing::Line, block},
    {"CD", "circle", Framing::Line, plainFields<kCircle>},
    {"@", "initialize", Framing::Line, noFields},
    {"~JC", "calibrate media", Framing::Line, noFields},
    {"~JR", "reset", Framing::Line, noFields},
    {"~PH", "feed one label", Framing::Line, noFields},
    {"SS", "speed", Framing::Line, plainFields<kSpeed>},
    {"SD", "density", Framing::Line, plainFields<kDensity>},
    {"SO", "orientation", Framing::Line, plainFields<kOrientation>},
    {"CUT", "cutter", Framing::Line, cutter},
    {"RWD", "rewinder", Framing::Line, plainFields<kRewinder>},
    {"SA", "offset", Framing::Line, plainFields<kOffset>},
    {"TA", "cut position", Framing::Line, plainFields<kCutPosition>},
    {"ST", "printing type", Framing::Line, plainFields<kPrintingType>},
    {"SF", "back feed", Framing::Line, plainFields<kBackFeed>},
    {"SL", "paper length", Framing::Line, plainFields<kPaperLength>},
    {"SW", "paper width", Framing::Line, plainFields<kPaperWidth>},
    {"SM", "margin", Framing::Line, plainFields<kMargin>},
    {"CS", "character set", Framing::Line, plainFields<kCharacterSet>},
    {"B1", "linear barcode", Framing::Quoted, linearBarcode},
    {"B2", "two-dimensional barcode", Framing::Quoted, twoDimensionalBarcode},
    {"B3", "GS1 DataBar", Framing::Quoted, dataBar},
    {"LD", "bitmap", Framing::Bitmap, nullptr},
    {"LCR", "compressed bitmap", Framing::Bitmap, nullptr},
    {">RFS,", "RFID setup", Framing::Line, plainFields<kRfidSetup>},
    {">RFCP", "RFID calibrate", Framing::Line, noFields},
    {">RFTP,", "RFID position", Framing::Line, plainFields<kRfidPosition>},
    {">RFES", "RFID EPC structure", Framing::Quoted, epcStructure},
    {">RFW,", "RFID write", Framing::Quoted, rfidWrite},
    {">RFZ,", "RFID password", Framing::Quoted, rfidPassword},
    {">RFLK", "RFID lock", Framing::Line, noFields},
    {">RFU", "RFID unlock", Framing::Line, noFields},
};

enum class Match { Found, None, NeedMore };

// The command that `bytes` starts with. NeedMore while the bytes so far could
// still become a longer command's letters ("L" of "LD" and "LCR").
Match identify(std::string_view bytes, const CommandLayout *&layout) {
    layout = nullptr;
    if (bytes.empty()) return Match::None;
    // Only bytes shorter than the longest letters can still grow into a command's.
    static const std::size_t longestPrefix = [] {
        std::size_t n = 0;
        for (const CommandLayout &c : kCommands) n = std::max(n, std::string_view(c.prefix).size());
        return n;
    }();
    std::size_t longest = 0;
    const bool lineEnded = bytes.substr(0, longestPrefix).find_first_of("\r\n") != std::string_view::npos;
    for (const CommandLayout &candidate : kCommands) {
        const std::string_view prefix = candidate.prefix;
        if (prefix[0] != bytes[0]) continue;
        if (!lineEnded && prefix.size() > bytes.size() && prefix.substr(0, bytes.size()) == bytes) return Match::NeedMore;
        if (prefix.size() > longest && bytes.substr(0, prefix.size()) == prefix) {
            layout = &candidate;
            longest = prefix.size();
        }
    }
    return layout != nullptr ? Match::Found : Match::None;
}

uint16_t littleEndian16(const char *at) {
    return uint16_t(uint8_t(at[0]) | uint8_t(at[1]) << 8);
}

Field numberField(const char *name, int64_t value) {
    Field field;
    field.name = name;
    field.number = value;
    field.text = std::to_string(value);
    return field;
}

}  // namespace

// ---------------------------------------------------------------------------
// Framing

// What a bitmap or an over-long command has taken so far: its length, and
// its first bytes for the log.
struct Parser::Passage {
    std::size_t length = 0;
    std::string shown;
};

struct Parser::Bitmap {
    const CommandLayout *layout;
    std::vector<Field> fields;
    RasterBuilder raster;
    std::unique_ptr<RunLengthDecoder> runs;  // LCR only
    std::string problem;                     // a fault that does not change the framing
    Passage passage;
};

// The end of an over-long command is found by the same rules as that of any
// other, one byte at a time: a line ends at CR or LF; a quoted command at a
// line end before its opening quote, else at a quote and CR after it.
struct Parser::Overlong {
    Overlong(const CommandLayout *layout, bool quoted) : layout(layout), quoted(quoted) {}

    const CommandLayout *layout;  // null: bytes that start no command
    bool quoted;
    bool inData = false;
    bool afterQuote = false;
    Passage passage;

    bool ends(char byte) {
        const bool lineEnd = byte == '\r' || byte == '\n';
        if (!quoted || !inData) {
            inData = byte == '\'';
            return lineEnd;
        }
        const bool closing = afterQuote && byte == '\r';
        afterQuote = byte == '\'';
        return closing;
    }
};

Parser::Parser(ParserOptions options) : options_(options) {}
Parser::~Parser() = default;

void Parser::feed(const void *bytes, std::size_t count) {
    // Drop what was handed out before the buffer grows further.
    if (start_ > 0 && start_ >= pending_.size() / 2) {
        pending_.erase(0, start_);
        start_ = 0;
    }
    pending_.append(static_cast<const char *>(bytes), count);
}

void Parser::skipLineEnds() {
    while (start_ < pending_.size() && (pending_[start_] == '\r' || pending_[start_] == '\n')) ++start_;
}

bool Parser::next(Command &command) {
    if (bitmap_) return receiveBitmap(command) == Step::Done;
    if (overlong_) return passOverlong(command) == Step::Done;
    skipLineEnds();
    if (rest().empty()) return false;
    command = Command();
    const CommandLayout *layout = nullptr;
    const Match match = identify(rest(), layout);
    if (match == Match::NeedMore) return false;
    Step step = Step::NeedMore;
    if (layout == nullptr) step = frameLine(nullptr, command);
    else if (layout->framing == Framing::Line) step = frameLine(layout, command);
    else if (layout->framing == Framing::Quoted) step = frameQuoted(*layout, command);
    else step = frameBitmap(*layout, command);
    return step == Step::Done;
}

bool Parser::finish(Command &command) {
    const CommandLayout *layout = nullptr;
    Passage passage;
    if (bitmap_ || overlong_) {
        layout = bitmap_ ? bitmap_->layout : overlong_->layout;
        passage = std::move(bitmap_ ? bitmap_->passage : overlong_->passage);
    } else {
        skipLineEnds();
        identify(rest(), layout);
    }
    pass(available(), passage);
    pending_.clear();
    start_ = 0;
    bitmap_.reset();
    overlong_.reset();
    if (passage.length == 0) return false;
    command = Command();
    command.outcome = Outcome::Truncated;
    if (layout != nullptr) {
        command.code = layout->code();
        command.name = layout->name;
    }
    command.problem = "the connection ended inside the command";
    command.length = passage.length;
    command.bytes = std::move(passage.shown);
    return true;
}

void Parser::consume(std::size_t count, Command &command) {
    command.length = count;
    command.bytes = command.outcome == Outcome::Decoded ? std::string() : pending_.substr(start_, std::min(count, kKeptBytes));
    start_ += count;
}

void Parser::pass(std::size_t count, Passage &passage) {
    if (passage.shown.size() < kKeptBytes)
        passage.shown.append(pending_, start_, std::min(count, kKeptBytes - passage.shown.size()));
    passage.length += count;
    start_ += count;
}

// A line ends at CR or LF; the LF of a CR LF pair is skipped before the next command.
Parser::Step Parser::frameLine(const CommandLayout *layout, Command &command) {
    const std::size_t end = window().find_first_of("\r\n");
    if (end == std::string_view::npos) {
        if (available() < options_.maxCommandBytes) return Step::NeedMore;
        overlong_.reset(new Overlong(layout, false));
        return passOverlong(command);
    }
    if (layout == nullptr) {
        command.outcome = Outcome::Unknown;
        command.problem = "no command starts with these bytes";
    } else {
        const std::size_t prefixLength = std::string_view(layout->prefix).size();
        decode(*layout, rest().substr(prefixLength, end - prefixLength), std::string_view(), command);
    }
    consume(end + 1, command);
    return Step::Done;
}

// The data part ends at the first quote followed by CR: a quote inside the
// data is taken as data, as the library sends it unescaped.
Parser::Step Parser::frameQuoted(const CommandLayout &layout, Command &command) {
    const std::string_view bytes = window();
    const std::size_t open = bytes.find('\'');
    const std::size_t lineEnd = bytes.find_first_of("\r\n");
    if (lineEnd < open) {
        command.code = layout.code();
        command.name = layout.name;
        command.outcome = Outcome::Malformed;
        command.problem = "the line ends before the data part";
        consume(lineEnd + 1, command);
        return Step::Done;
    }
    const std::size_t close = open == std::string_view::npos ? open : bytes.find("'\r", open + 1);
    if (close == std::string_view::npos) {
        if (available() < options_.maxCommandBytes) return Step::NeedMore;
        overlong_.reset(new Overlong(&layout, true));
        return passOverlong(command);
    }
    const std::size_t prefixLength = std::string_view(layout.prefix).size();
    decode(layout, bytes.substr(prefixLength, open - prefixLength), bytes.substr(open + 1, close - open - 1), command);
    consume(close + 2, command);
    return Step::Done;
}

Parser::Step Parser::passOverlong(Command &command) {
    Overlong &o = *overlong_;
    const std::string_view bytes = rest();
    std::size_t used = 0;
    bool ended = false;
    while (used < bytes.size() && !ended) ended = o.ends(bytes[used++]);
    pass(used, o.passage);
    if (!ended) return Step::NeedMore;
    command = Command();
    const std::string limit = "more than " + std::to_string(options_.maxCommandBytes) + " bytes without ";
    if (o.layout != nullptr) {
        command.code = o.layout->code();
        command.name = o.layout->name;
        command.outcome = Outcome::Malformed;
        command.problem = limit + "the command's end";
    } else {
        command.outcome = Outcome::Unknown;
        command.problem = limit + "a line end";
    }
    command.length = o.passage.length;
    command.bytes = std::move(o.passage.shown);
    overlong_.reset();
    return Step::Done;
}

// "LD" x y widthBytes height raster CR, or "LCR" 0x00 x y widthBytes height
// stream CR; the numbers are 16 bits, low byte first.
Parser::Step Parser::frameBitmap(const CommandLayout &layout, Command &command) {
    const bool compressed = std::string_view(layout.prefix) == "LCR";
    const std::size_t headerSize = compressed ? 12 : 10;
    if (available() < headerSize) return Step::NeedMore;
    const char *header = pending_.data() + start_ + headerSize - 8;
    const int widthBytes = littleEndian16(header + 4), height = littleEndian16(header + 6);
    bitmap_.reset(new Bitmap{&layout,
                             {numberField("x", littleEndian16(header)), numberField("y", littleEndian16(header + 2)),
                              numberField("widthBytes", widthBytes), numberField("height", height)},
                             RasterBuilder(widthBytes, height),
                             compressed ? std::make_unique<RunLengthDecoder>() : nullptr,
                             {},
                             {}});
    if (compressed && pending_[start_ + 3] != '\0') bitmap_->problem = "the byte after LCR is not 0";
    pass(headerSize, bitmap_->passage);
    return receiveBitmap(command);
}

// The raster (or the stream that makes it) is taken as it arrives; the
// closing CR is looked for once the raster is whole.
Parser::Step Parser::receiveBitmap(Command &command) {
    Bitmap &b = *bitmap_;
    while (b.raster.missing() > 0 && available() > 0) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(pending_.data() + start_);
        std::size_t used = std::min(available(), b.raster.missing());
        if (b.runs) used = b.runs->decode(bytes, available(), b.raster);
        else b.raster.append(bytes, used);
        pass(used, b.passage);
    }
    if (b.raster.missing() > 0 || available() == 0) return Step::NeedMore;
    if (pending_[start_] == '\r') pass(1, b.passage);
    else if (b.problem.empty()) b.problem = "the bitmap data is not followed by CR";
    if (b.problem.empty() && b.runs) b.problem = b.runs->problem();

    command = Command();
    command.code = b.layout->code();
    command.name = b.layout->name;
    command.length = b.passage.length;
    if (b.problem.empty()) {
        command.fields = std::move(b.fields);
        if (b.runs) command.note("stream", std::to_string(b.runs->consumed()) + " bytes");
        if (b.raster.cropped())
            command.note("kept", "the first " + std::to_string(RasterBuilder::kKeptRows) + " rows and " +
                                     std::to_string(RasterBuilder::kKeptWidthBytes) +
                                     " bytes of each row, all that can land on paper");
        command.raster = b.raster.take();
    } else {
        command.outcome = Outcome::Malformed;
        command.problem = std::move(b.problem);
        command.bytes = std::move(b.passage.shown);
    }
    bitmap_.reset();
    return Step::Done;
}

void Parser::decode(const CommandLayout &layout, std::string_view header, std::string_view data, Command &command) {
    command.code = layout.code();
    command.name = layout.name;
    try {
        layout.decode(header, data, options_, command);
    } catch (const Malformed &malformed) {
        command.outcome = Outcome::Malformed;
        command.problem = malformed.why;
        command.fields.clear();
        command.notes.clear();
    }
}

Command parseOne(const std::string &bytes, ParserOptions options) {
    Parser parser(options);
    parser.feed(bytes.data(), bytes.size());
    Command command;
    if (!parser.next(command)) parser.finish(command);
    return command;
}

}  // namespace vdlemu
