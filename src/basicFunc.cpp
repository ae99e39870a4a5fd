// The command buffer and the job commands: label content collects in the
// buffer and reaches the printer in few large writes; Prints ends a label;
// WriteBuffer, DirectIO and ClearBuffer talk to the printer at once.
#include <cstdio>
#include <cstring>
#include <optional>

#include "VdlLabelAPI.h"
#include "command.h"
#include "io.h"
#include "printer.h"

unsigned char gPrintData[VDL_BUFFER_SIZE] = {};
uint32_t gDataIndex = 0;

namespace vdl {

void emptyBuffer(CommandBuffer &b) {
    printDebugLog("initDataBuffer", "Init Data Buffer Start");
    std::memset(b.bytes, 0, kBufferCapacity);
    b.fillLevel = 0;
    printDebugLog("initDataBuffer", "Init Data Buffer End");
}

bool sendBuffer(Printer &p) {
    const uint32_t fill = p.buffer.fill();
    if (writeTo(p.connection, p.buffer.bytes, fill) != int(fill)) return false;
    emptyBuffer(p.buffer);
    return true;
}

int flushIfFull(Printer &p) {
    constexpr const char *kName = "bufferCheck";
    printDebugLog(kName, "start");
    if (p.buffer.fill() >= kFlushThreshold && !sendBuffer(p)) {
        printDebugLog(kName, "Failed to write");
        return VDL_ERR_WRITE;
    }
    printDebugLog(kName, "end");
    return 0;
}

namespace {

// Sends what is buffered to make room; false when that send failed.
bool makeRoom(Printer &p) {
    if (p.buffer.fill() == 0 || sendBuffer(p)) return true;
    printDebugLog("append", "Failed to write");
    return false;
}

// Copies one piece behind the buffered bytes. A piece larger than the room
// left is only possible inside a unit longer than the whole buffer; it is
// sent in full-buffer writes as the buffer fills.
bool copyPiece(Printer &p, std::string_view piece) {
    CommandBuffer &b = p.buffer;
    while (!piece.empty()) {
        if (b.room() == 0 && !makeRoom(p)) return false;
        const std::size_t n = std::min<std::size_t>(b.room(), piece.size());
        std::memcpy(b.bytes + b.fill(), piece.data(), n);
        b.fillLevel = b.fill() + uint32_t(n);
        piece.remove_prefix(n);
    }
    return true;
}

}  // namespace

BufferSnapshot::BufferSnapshot(const CommandBuffer &b) : fillLevel(b.fillLevel) {
    std::memcpy(bytes, b.bytes, kBufferCapacity);
}

void BufferSnapshot::restore(CommandBuffer &b) const {
    std::memcpy(b.bytes, bytes, kBufferCapacity);
    b.fillLevel = fillLevel;
}

int append(Printer &p, std::initializer_list<std::string_view> pieces, AfterAppend after,
           const BufferSnapshot *undo) {
    std::size_t total = 0;
    for (std::string_view piece : pieces) total += piece.size();
    if (total <= p.buffer.room()) {
        for (std::string_view piece : pieces) copyPiece(p, piece);
    } else {
        // A unit that does not fit goes out through the buffer in full-buffer
        // sends. When one of them fails the call is undone as a whole: the
        // buffer gets back exactly what it held before the call, even bytes of
        // it that the first send had already delivered, so that no part of a
        // command is ever left behind in it. Those bytes go out again with the
        // next flush or print, as after any failed flush.
        std::optional<BufferSnapshot> own;
        const BufferSnapshot &before = undo != nullptr ? *undo : own.emplace(p.buffer);
        if (!makeRoom(p)) {
            before.restore(p.buffer);
            return VDL_ERR_WRITE;
        }
        for (std::string_view piece : pieces) {
            if (!copyPiece(p, piece)) {
                before.restore(p.buffer);
                return VDL_ERR_WRITE;
            }
        }
    }
    return after == AfterAppend::CheckFlush ? flushIfFull(p) : 0;
}

bool writeWhole(Printer &p, std::string_view bytes) {
    return writeTo(p.connection, bytes.data(), uint32_t(bytes.size())) == int(bytes.size());
}

std::size_t composePrintCommand(int first, int second, char *out) {
    return std::size_t(std::snprintf(out, kPrintCommandArea, "P%d,%d\r", first, second));
}

namespace {

int printLabel(Printer &p, int first, int second) {
    constexpr const char *kName = "Prints";
    printDebugLog(kName, "start");
    char command[kPrintCommandArea] = {};
    const std::size_t length = composePrintCommand(first, second, command);
    if (append(p, {std::string_view(command, length)}, AfterAppend::Nothing) != 0 || !sendBuffer(p)) {
        printDebugLog(kName, "Failed to write");
        return VDL_ERR_WRITE;
    }
    printDebugLog(kName, "end");
    return 0;
}

constexpr int kDirectReadLimit = 512;

int directIO(Printer &p, const void *out, uint32_t outLength, void *in, uint32_t *inLength) {
    constexpr const char *kName = "DirectIO";
    printDebugLog(kName, "start");
    if (out != nullptr && outLength != 0) {
        const int written = writeTo(p.connection, out, outLength);
        if (written < 0 || uint32_t(written) != outLength) {
            printDebugLog(kName, "Failed to write");
            return VDL_ERR_WRITE;
        }
    }
    if (in != nullptr && inLength != nullptr && *inLength != 0) {
        const int capacity = *inLength < uint32_t(kDirectReadLimit) ? int(*inLength) : kDirectReadLimit;
        const int received = readFrom(p.connection, in, capacity);
        *inLength = uint32_t(received);
        if (received == 0) {
            printDebugLog(kName, "Read len is 0");
            return VDL_ERR_NO_REPLY;
        }
    }
    printDebugLog(kName, "end");
    return 0;
}

}  // namespace
}  // namespace vdl

extern "C" int bufferCheck(void) { return vdl::flushIfFull(vdl::defaultPrinter()); }

extern "C" int Prints(int first, int second) { return vdl::printLabel(vdl::defaultPrinter(), first, second); }

extern "C" int WriteBuffer(const void *data, uint32_t length) {
    return vdl::writeTo(vdl::defaultPrinter().connection, data, length);
}

extern "C" int DirectIO(const void *out, uint32_t outLength, void *in, uint32_t *inLength) {
    return vdl::directIO(vdl::defaultPrinter(), out, outLength, in, inLength);
}

extern "C" int ClearBuffer(void) {
    printDebugLog("ClearBuffer", "start");
    return vdl::sendCommand(vdl::defaultPrinter(), "ClearBuffer", "CB\r");
}

// ===========================================================================
// Text: code-page conversion and text fields
// ===========================================================================

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "normalise.h"

namespace vdl {
namespace {

// The nine code pages, by selector, and the trace line of each.
struct CodePage {
    const char *iconvName;
    const char *trace;
};

constexpr CodePage kCodePages[] = {
    {"EUC-KR", "conv EUC-KR"},   {"CP949", "conv CP949"}, {"EUC-CN", "conv EUC-CN"},
    {"GB18030", "conv GB18030"}, {"BIG5", "conv BIG5"},   {"CP950", "conv CP950"},
    {"EUC-JP", "conv EUC-JP"},   {"CP932", "conv CP932"}, {"CP874", "conv CP874"},
};
constexpr int kCodePageCount = int(sizeof kCodePages / sizeof kCodePages[0]);

// The data part that ends every text and barcode command: the bytes between
// single quotes, then CR. Nothing inside is escaped.
int appendDataPart(Printer &p, std::string_view bytes, const BufferSnapshot *undo) {
    return append(p, {"'", bytes, "'\r"}, AfterAppend::CheckFlush, undo);
}

struct FreeDeleter {
    void operator()(char *area) const { std::free(area); }
};

// One iconv conversion into a fresh area of twice the input length (enough
// for every target: none needs more than twice the UTF-8 length of a
// character). Returns the converted bytes' count, or -1 with errno set.
long convertText(const char *text, std::size_t length, const char *target, char *area, std::size_t capacity) {
    const iconv_t converter = iconv_open(target, "UTF-8");
    if (converter == iconv_t(-1)) return -1;
    char *in = const_cast<char *>(text);
    char *out = area;
    std::size_t inLeft = length, outLeft = capacity;
    const std::size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    iconv_close(converter);
    errno = error;
    // A text that ends inside a character is not an error for iconv; it is
    // one here, since nothing can follow.
    if (result == std::size_t(-1)) return -1;
    if (inLeft != 0) {
        errno = EINVAL;
        return -1;
    }
    return long(capacity - outLeft);
}

// undo: the buffer before the field's header, which a data part that fails
// half-way restores, so that the header does not stay behind alone.
int convertAndAppend(Printer &p, const char *text, uint32_t length, int codePage,
                     const BufferSnapshot *undo = nullptr) {
    constexpr const char *kName = "convertData";
    if (text == nullptr) text = "";
    // The caller's length never reaches past the text's own end.
    const std::size_t bytes = strnlen(text, length);
    const std::size_t capacity = 2 * bytes;
    std::unique_ptr<char, FreeDeleter> area(static_cast<char *>(std::calloc(capacity + 1, 1)));
    if (!area) {
        printDebugLog(kName, "Failed to alloc memory for convData");
        return VDL_ERR_NO_MEMORY;
    }
    printDebugLog(kName, "dataLen = %d", int(length));
    if (codePage < 0 || codePage >= kCodePageCount) {
        printDebugLog(kName, "Wrong code page.");
        return appendDataPart(p, text, undo);
    }
    const CodePage &target = kCodePages[codePage];
    printDebugLog(kName, "%s", target.trace);
    const long converted = convertText(text, bytes, target.iconvName, area.get(), capacity);
    if (converted < 0) {
        printDebugLog(kName, "Failed to convert. errno : %d", errno);
        return VDL_ERR_WRITE;
    }
    return appendDataPart(p, std::string_view(area.get(), std::size_t(converted)), undo);
}

// Whether a field's text goes through the conversion, and to which code page.
struct Conversion {
    bool converted;
    int codePage;
};
constexpr Conversion kUnconverted{false, 0};
constexpr Conversion convertedTo(int codePage) { return {true, codePage}; }

// A text field: its header, then the data part, converted or not. The header
// stays in the buffer when the conversion fails.
int appendTextField(Printer &p, std::string_view header, const char *text, Conversion conversion) {
    if (text == nullptr) text = "";
    if (!conversion.converted) return append(p, {header, "'", text, "'\r"});
    // The buffer is copied only when the field may not fit the room left (its
    // converted text is at most twice as long): only then can a send fail
    // half-way through it and the copy be needed to undo the field.
    const std::size_t length = std::strlen(text);
    std::optional<BufferSnapshot> beforeField;
    if (header.size() + 2 * length + 3 > p.buffer.room()) beforeField.emplace(p.buffer);
    const BufferSnapshot *undo = beforeField ? &*beforeField : nullptr;
    const int appended = append(p, {header}, AfterAppend::Nothing, undo);
    if (appended != 0) return appended;
    return convertAndAppend(p, text, uint32_t(length), conversion.codePage, undo);
}

// Fonts whose text is converted, with their code page; every other font
// takes the text as it is.
struct FontCodePage {
    Range fonts;
    int codePage;
};

template <std::size_t N>
Conversion conversionOf(int font, const FontCodePage (&table)[N]) {
    for (const FontCodePage &entry : table)
        if (entry.fonts.contains(font)) return convertedTo(entry.codePage);
    return kUnconverted;
}

// --- device fonts -----------------------------------------------------------

constexpr Range kDigitFonts{0, 9};
constexpr Range kLetterFonts{'a', 'n'};
constexpr int kFallbackDeviceFont = 3;
constexpr DefaultRule kMultiplierRule{{1, 4}, 1};

constexpr FontCodePage kDeviceFontCodePages[] = {
    {{'a', 'f'}, VDL_CP_EUC_KR},
    {{'m', 'm'}, VDL_CP_GB18030},
    {{'n', 'n'}, VDL_CP_BIG5},
};

struct DeviceFontField {
    int font;
    int horizontal;
    int vertical;
    int rotation;
    char bold;
};

DeviceFontField normaliseDeviceFont(int font, int horizontal, int vertical, int rotation, unsigned char bold) {
    const bool known = kDigitFonts.contains(font) || kLetterFonts.contains(font);
    return {known ? font : kFallbackDeviceFont, kMultiplierRule.apply(horizontal), kMultiplierRule.apply(vertical),
            kRotationRule.apply(rotation), flagLetter(bold, 'B', 'N')};
}

// The longest device-font header is 39 characters.
using DeviceFontHeader = CommandArea<64>;

DeviceFontHeader deviceFontHeader(int x, int y, const DeviceFontField &f) {
    DeviceFontHeader header;
    if (kDigitFonts.contains(f.font)) {
        header.format("T%d,%d,%d,%d,%d,0,%d,N,%c,", x, y, f.font, f.horizontal, f.vertical, f.rotation, f.bold);
    } else {
        header.format("T%d,%d,%c,%d,%d,0,%d,N,%c,", x, y, char(f.font), f.horizontal, f.vertical, f.rotation,
                      f.bold);
    }
    return header;
}

// --- vector fonts -----------------------------------------------------------

constexpr Letter kVectorFontLetters[] = {{1, 'K'}, {2, 'B'}, {3, 'G'}, {4, 'J'}, {5, 'a'}, {6, 'b'}};
constexpr Letter kAlignmentLetters[] = {{1, 'C'}, {2, 'R'}};
constexpr DefaultRule kDirectionRule{{0, 1}, 0};

constexpr FontCodePage kVectorFontCodePages[] = {
    {{1, 1}, VDL_CP_EUC_KR},
    {{2, 2}, VDL_CP_BIG5},
    {{3, 3}, VDL_CP_GB18030},
    {{4, 4}, VDL_CP_CP932},
};

struct VectorFontField {
    int x, y, width, height, spacing;
    int font;
    unsigned char bold, reverse, italic;
    int rotation, alignment, direction;
};

// Five unchecked numbers at their widest make a header of 75 characters.
using VectorFontHeader = CommandArea<96>;

VectorFontHeader vectorFontHeader(const VectorFontField &f) {
    VectorFontHeader header;
    header.format("V%d,%d,%c,%d,%d,%d,%c,%c,%c,%d,%c,%d,", f.x, f.y, letterFor(f.font, kVectorFontLetters, 'U'),
                  f.width, f.height, f.spacing, flagLetter(f.bold, 'B', 'N'), flagLetter(f.reverse, 'R', 'N'),
                  flagLetter(f.italic, 'I', 'N'), kRotationRule.apply(f.rotation),
                  letterFor(f.alignment, kAlignmentLetters, 'L'), kDirectionRule.apply(f.direction));
    return header;
}

// Traces "start" and "end" around a text field, on every path.
template <typename Body>
int tracedField(const char *name, Body body) {
    printDebugLog(name, "start");
    const int result = body();
    printDebugLog(name, "end");
    return result;
}

}  // namespace
}  // namespace vdl

extern "C" int convertData(const char *text, uint32_t length, int codePage) {
    return vdl::convertAndAppend(vdl::defaultPrinter(), text, length, codePage);
}

extern "C" int PrintDeviceFont(const char *text, int x, int y, int font, int horizontalMultiplier,
                               int verticalMultiplier, int rotation, unsigned char bold) {
    using namespace vdl;
    return tracedField("PrintDeviceFont", [&] {
        const DeviceFontField field =
            normaliseDeviceFont(font, horizontalMultiplier, verticalMultiplier, rotation, bold);
        printDebugLog("PrintDeviceFont", "fontName : %d", field.font);
        return appendTextField(defaultPrinter(), deviceFontHeader(x, y, field).view(), text,
                               conversionOf(field.font, kDeviceFontCodePages));
    });
}

extern "C" int PrintDeviceFontW(const char *text, int x, int y, int font, int horizontalMultiplier,
                                int verticalMultiplier, int rotation, unsigned char bold, int codePage) {
    using namespace vdl;
    return tracedField("PrintDeviceFontW", [&] {
        const DeviceFontField field =
            normaliseDeviceFont(font, horizontalMultiplier, verticalMultiplier, rotation, bold);
        const Conversion conversion = kLetterFonts.contains(field.font) ? convertedTo(codePage) : kUnconverted;
        return appendTextField(defaultPrinter(), deviceFontHeader(x, y, field).view(), text, conversion);
    });
}

extern "C" int PrintVectorFont(const char *text, int x, int y, int font, int width, int height, int spacing,
                               unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                               int alignment, int direction) {
    using namespace vdl;
    return tracedField("PrintVectorFont", [&] {
        const VectorFontField field{x, y, width, height, spacing, font, bold, reverse, italic,
                                    rotation, alignment, direction};
        return appendTextField(defaultPrinter(), vectorFontHeader(field).view(), text,
                               conversionOf(font, kVectorFontCodePages));
    });
}

extern "C" int PrintVectorFontW(const char *text, int x, int y, int font, int width, int height, int spacing,
                                unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                                int alignment, int direction, int codePage) {
    using namespace vdl;
    return tracedField("PrintVectorFontW", [&] {
        const VectorFontField field{x, y, width, height, spacing, font, bold, reverse, italic,
                                    rotation, alignment, direction};
        const Conversion conversion = font != 0 ? convertedTo(codePage) : kUnconverted;
        return appendTextField(defaultPrinter(), vectorFontHeader(field).view(), text, conversion);
    });
}

// ===========================================================================
// Shapes: blocks and circles
// ===========================================================================

namespace vdl {
namespace {

constexpr Letter kBlockOptionLetters[] = {{0, 'O'}, {1, 'E'}, {2, 'D'}, {3, 'S'}, {4, 'B'}};
constexpr Range kBlockOptions{0, 4};
// Options with a value of their own.
constexpr Range kBlockOptionsWithValue{3, 4};
constexpr DefaultRule kCircleSizeRule{{1, 6}, 2};
constexpr DefaultRule kCircleMultiplierRule{{1, 4}, 1};

// Five numbers at their widest make a block command of 64 characters.
using ShapeCommand = CommandArea<80>;

int appendShape(const char *name, const ShapeCommand &command) {
    const int result = append(defaultPrinter(), {command.view()});
    printDebugLog(name, "end");
    return result;
}

}  // namespace
}  // namespace vdl

extern "C" int PrintBlock(int x1, int y1, int x2, int y2, int option, int optionValue) {
    using namespace vdl;
    printDebugLog("PrintBlock", "start");
    if (!kBlockOptions.contains(option)) {
        printDebugLog("PrintBlock", "wrong block option");
        return VDL_ERR_BLOCK_OPTION;
    }
    const char letter = letterFor(option, kBlockOptionLetters, 'O');
    ShapeCommand command;
    if (kBlockOptionsWithValue.contains(option)) {
        command.format("BD%d,%d,%d,%d,%c,%d\r", x1, y1, x2, y2, letter, optionValue);
    } else {
        command.format("BD%d,%d,%d,%d,%c\r", x1, y1, x2, y2, letter);
    }
    return appendShape("PrintBlock", command);
}

extern "C" int PrintCircle(int x, int y, int size, int multiplier) {
    using namespace vdl;
    printDebugLog("PrintCircle", "start");
    ShapeCommand command;
    command.format("CD%d,%d,%d,%d\r", x, y, kCircleSizeRule.apply(size), kCircleMultiplierRule.apply(multiplier));
    return appendShape("PrintCircle", command);
}

// ===========================================================================
// Printer control: actions and settings, written at once
// ===========================================================================

int gSpeed = 0;
int gDensity = 0;
int gOrientation = 0;
unsigned char gAutoCut = 0;
int gCutPeriod = 0;
unsigned char gRewind = 0;
int gOffset = 0;
int gCutPosition = 0;
int gPrintingType = 0;
int gBackFeeding = 0;
int gPaperWidth = 0;
int gPaperHeight = 0;
int gMediaType = 0;
int gGapLength = 0;
int gHorizontalMargin = 0;
int gVerticalMargin = 0;

namespace vdl {
namespace {

// An action: one fixed command, nothing recorded.
int act(const char *name, std::string_view command) {
    printDebugLog(name, "start");
    return sendCommand(defaultPrinter(), name, command);
}

constexpr int kOrientationTop = 'T';
constexpr int kOrientationBottom = 'B';
constexpr Letter kPrintingTypeLetters[] = {{1, 't'}};
constexpr Letter kMediaTypeLetters[] = {{1, 'C'}, {2, 'B'}};
constexpr DefaultRule kCharacterSetRule{{0, 15}, 0};
constexpr DefaultRule kCodeTableRule{{0, 255}, 0};

// Every setting command fits 64 bytes: SetPaper's two commands with five
// numbers at their widest take 54.
using SettingCommand = CommandArea<64>;

// Traces "start"; the setter then composes its command and sends it.
Printer &startSetting(const char *name) {
    printDebugLog(name, "start");
    return defaultPrinter();
}

// The settings that are one number clamped to a range: the letters before
// the number, the range, where the value is recorded, and an optional extra
// trace of the composed command ("%s, %d": its text and length).
struct ClampedSetting {
    const char *name;
    const char *letters;
    Range range;
    int &(*recorded)(RecordedSettings &);
    const char *trace;
};

const ClampedSetting kSpeedSetting{"SetSpeed", "SS", {0, 12}, [](RecordedSettings &s) -> int & { return s.speed; },
                                   "SPEED : %s, %d"};
const ClampedSetting kDensitySetting{"SetDensity", "SD", {0, 20},
                                     [](RecordedSettings &s) -> int & { return s.density; }, "DENSITY : %s, %d"};
const ClampedSetting kOffsetSetting{"SetOffset", "SA", {-100, 100},
                                    [](RecordedSettings &s) -> int & { return s.offset; }, nullptr};
const ClampedSetting kCutPositionSetting{"SetCutPostion", "TA", {-100, 100},
                                         [](RecordedSettings &s) -> int & { return s.cutPosition; }, nullptr};

int sendClamped(const ClampedSetting &setting, int requested) {
    Printer &p = startSetting(setting.name);
    const int value = clampTo(setting.range, requested);
    SettingCommand command;
    command.format("%s%d\r", setting.letters, value);
    if (setting.trace != nullptr) printDebugLog(setting.name, setting.trace, command.text(), command.length());
    return sendCommand(p, setting.name, command.view(), [&](RecordedSettings &s) { setting.recorded(s) = value; });
}

}  // namespace
}  // namespace vdl

extern "C" int InitializePrinter(void) { return vdl::act("InitializePrinter", "@\r"); }
extern "C" int CalibrateMedia(void) { return vdl::act("CalibrateMedia", "~JC\r\n"); }
extern "C" int ResetPrinter(void) { return vdl::act("ResetPrinter", "~JR\r\n"); }
extern "C" int FeedOneLabel(void) { return vdl::act("FeedOneLabel", "~PH\r\n"); }

extern "C" int SetSpeed(int speed) { return vdl::sendClamped(vdl::kSpeedSetting, speed); }

extern "C" int SetDensity(int density) { return vdl::sendClamped(vdl::kDensitySetting, density); }

extern "C" int SetOrientation(int orientation) {
    using namespace vdl;
    Printer &p = startSetting("SetOrientation");
    const int value = orientation == kOrientationBottom ? kOrientationBottom : kOrientationTop;
    SettingCommand command;
    command.format("SO%c\r", char(value));
    return sendCommand(p, "SetOrientation", command.view(), [&](RecordedSettings &s) { s.orientation = value; });
}

extern "C" int SetCutter(unsigned char autoCut, int cutPeriod) {
    using namespace vdl;
    Printer &p = startSetting("SetCutter");
    SettingCommand command;
    if (autoCut != 0 && cutPeriod != 0) {
        command.format("CUTy,%d\r\n", cutPeriod);
    } else {
        command.format("CUT%c\r\n", flagLetter(autoCut, 'y', 'n'));
    }
    return sendCommand(p, "SetCutter", command.view(), [&](RecordedSettings &s) {
        s.autoCut = autoCut;
        s.cutPeriod = cutPeriod;
    });
}

extern "C" int SetRewinder(unsigned char rewind) {
    using namespace vdl;
    Printer &p = startSetting("SetRewinder");
    SettingCommand command;
    command.format("RWD%c\r\n", flagLetter(rewind, 'y', 'n'));
    return sendCommand(p, "SetRewinder", command.view(), [&](RecordedSettings &s) { s.rewind = rewind; });
}

extern "C" int SetOffset(int offset) { return vdl::sendClamped(vdl::kOffsetSetting, offset); }

extern "C" int SetCutPostion(int cutPosition) {
    return vdl::sendClamped(vdl::kCutPositionSetting, cutPosition);
}

extern "C" int SetPrintingType(int printingType) {
    using namespace vdl;
    Printer &p = startSetting("SetPrintingType");
    SettingCommand command;
    command.format("ST%c\r", letterFor(printingType, kPrintingTypeLetters, 'd'));
    return sendCommand(p, "SetPrintingType", command.view(),
                       [&](RecordedSettings &s) { s.printingType = printingType; });
}

extern "C" int SetBackFeed(unsigned char backFeeding) {
    using namespace vdl;
    Printer &p = startSetting("SetBackFeed");
    SettingCommand command;
    command.format("SF%d\r", flagNumber(backFeeding));
    return sendCommand(p, "SetBackFeed", command.view(), [&](RecordedSettings &s) { s.backFeeding = backFeeding; });
}

extern "C" int SetPaper(int paperWidth, int paperHeight, int mediaType, int offset, int gapLength) {
    using namespace vdl;
    Printer &p = startSetting("SetPaper");
    SettingCommand command;
    command.format("SL%d,%d,%c,%d\rSW%d\r", paperHeight, gapLength, letterFor(mediaType, kMediaTypeLetters, 'G'),
                   offset, paperWidth);
    return sendCommand(p, "SetPaper", command.view(), [&](RecordedSettings &s) {
        s.paperWidth = paperWidth;
        s.paperHeight = paperHeight;
        s.mediaType = mediaType;
        s.offset = offset;
        s.gapLength = gapLength;
    });
}

extern "C" int SetMargin(int horizontalMargin, int verticalMargin) {
    using namespace vdl;
    Printer &p = startSetting("SetMargin");
    SettingCommand command;
    command.format("SM%d,%d\r", horizontalMargin, verticalMargin);
    return sendCommand(p, "SetMargin", command.view(), [&](RecordedSettings &s) {
        s.horizontalMargin = horizontalMargin;
        s.verticalMargin = verticalMargin;
    });
}

extern "C" int SetCharacterSet(int characterSet, int codeTable) {
    using namespace vdl;
    Printer &p = startSetting("SetCharacterSet");
    SettingCommand command;
    command.format("CS%d,%d\r", kCharacterSetRule.apply(characterSet), kCodeTableRule.apply(codeTable));
    return sendCommand(p, "SetCharacterSet", command.view());
}
