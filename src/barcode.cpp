// Barcodes: one frame for every symbology. A symbology is a table entry (its
// command characters, its letter, its fields and their rules); the frame
// brings the caller's numbers into range by those rules, writes the header and
// appends the data part. The library encodes nothing: the printer builds the
// symbol from the command.
#include <climits>
#include <cstring>
#include <initializer_list>

#include "VdlLabelAPI.h"
#include "command.h"
#include "normalise.h"
#include "printer.h"

namespace vdl {
namespace {

// One header field after x and y: how the caller's number becomes what is
// written.
struct Field {
    enum class Kind {
        Number,       // a decimal, after `rule`
        EvenNumber,   // a decimal, after `rule`, which also wants it even
        FlagNumber,   // 1 when the flag is set, else 0
        FlagLetter,   // `set` or `clear`
        Letter,       // the letter of `letters`, else `clear`
        RowsByMode,   // `rule` after the mode letter `set`, `otherRule` after any other
        Zero,         // the number 0, taking no argument
    };

    Kind kind;
    DefaultRule rule;
    DefaultRule otherRule;
    char set;
    char clear;
    const vdl::Letter *letters;
    std::size_t letterCount;
};

constexpr DefaultRule kAny{{INT_MIN, INT_MAX}, 0};

constexpr Field any() { return {Field::Kind::Number, kAny, kAny, 0, 0, nullptr, 0}; }
constexpr Field number(Range range, int fallback) { return {Field::Kind::Number, {range, fallback}, kAny, 0, 0, nullptr, 0}; }
constexpr Field evenNumber(Range range, int fallback) {
    return {Field::Kind::EvenNumber, {range, fallback}, kAny, 0, 0, nullptr, 0};
}
constexpr Field rotation() { return {Field::Kind::Number, kRotationRule, kAny, 0, 0, nullptr, 0}; }
constexpr Field flagNumber() { return {Field::Kind::FlagNumber, kAny, kAny, 0, 0, nullptr, 0}; }
constexpr Field flagLetter(char set, char clear) { return {Field::Kind::FlagLetter, kAny, kAny, set, clear, nullptr, 0}; }
template <std::size_t N>
constexpr Field letter(const vdl::Letter (&table)[N], char fallback) {
    return {Field::Kind::Letter, kAny, kAny, 0, fallback, table, N};
}
constexpr Field rowsByMode(char mode, DefaultRule whenMode, DefaultRule otherwise) {
    return {Field::Kind::RowsByMode, whenMode, otherwise, mode, 0, nullptr, 0};
}
constexpr Field zero() { return {Field::Kind::Zero, kAny, kAny, 0, 0, nullptr, 0}; }

struct Symbology {
    const char *name;     // the operation's name, for its traces
    const char *command;  // "B1", "B2" or "B3"
    char letter;          // the symbology's letter in the header; 0 for none
    bool tracesData;
    std::initializer_list<Field> fields;
};

constexpr vdl::Letter kQrLevels[] = {{0, 'L'}, {1, 'M'}, {2, 'Q'}, {3, 'H'}};
constexpr vdl::Letter kCodablockModes[] = {{0, 'A'}, {1, 'E'}, {2, 'F'}};

// clang-format off
const Symbology kLinear{"Print1DBarcode", "B1", 0, true,
    {number({0, 16}, 1), any(), any(), any(), rotation(), number({0, 8}, 0)}};
// MaxiCode modes 0, 2, 3 and 4: every other value, 1 included, becomes 0.
const Symbology kMaxiCode{"PrintMaxiCode", "B2", 'M', false,
    {number({2, 4}, 0)}};
const Symbology kPDF417{"PrintPDF417", "B2", 'P', false,
    {number({3, 90}, 30), number({1, 30}, 5), number({0, 8}, 0), number({0, 2}, 0), flagNumber(),
     number({0, 1}, 1), number({2, 9}, 3), number({4, 99}, 10), rotation()}};
const Symbology kQRCode{"PrintQRCode", "B2", 'Q', false,
    {number({1, 2}, 1), letter(kQrLevels, 'L'), number({1, 4}, 4), rotation()}};
const Symbology kDataMatrix{"PrintDataMatrix", "B2", 'D', false,
    {number({1, 4}, 2), flagLetter('R', 'N'), rotation()}};
const Symbology kAztec{"PrintAztec", "B2", 'A', false,
    {number({1, 10}, 2), number({0, 1}, 0), number({0, 300}, 0), flagNumber(), number({1, 26}, 15), any(),
     rotation()}};
const Symbology kCode49{"PrintCode49", "B2", 'F', false,
    {any(), any(), any(), number({0, 2}, 0), number({0, 7}, 0), rotation()}};
const Symbology kCODABLOCK{"PrintCODABLOCK", "B2", 'C', false,
    {any(), any(), any(), flagNumber(), number({2, 62}, 30), letter(kCodablockModes, 'E'),
     rowsByMode('A', {{1, 18}, 10}, {{2, 4}, 3}), zero()}};
const Symbology kMicroPDF{"PrintMicroPDF", "B2", 'B', false,
    {number({2, 8}, 5), number({1, 99}, 50), number({0, 33}, 0), rotation()}};
const Symbology kGS1DataBar{"PrintGS1DataBar", "B3", 'R', false,
    {number({0, 5}, 5), number({1, 10}, 1), number({1, 2}, 1), any(), evenNumber({0, 22}, 6), rotation()}};
// clang-format on

// The command characters, x, y, the letter and up to ten fields of at most
// eleven characters and a comma each: at most 148 characters.
using BarcodeHeader = CommandArea<160>;

BarcodeHeader header(const Symbology &s, int x, int y, std::initializer_list<int> arguments) {
    BarcodeHeader text;
    text.format("%s", s.command);
    text.appendField(x);
    text.appendField(y);
    if (s.letter != 0) text.appendField(s.letter);
    const int *argument = arguments.begin();
    char modeLetter = 0;
    for (const Field &field : s.fields) {
        if (field.kind == Field::Kind::Zero) {
            text.appendField(0);
            continue;
        }
        const int value = *argument++;
        switch (field.kind) {
            case Field::Kind::Number: text.appendField(field.rule.apply(value)); break;
            case Field::Kind::EvenNumber:
                text.appendField(value % 2 == 0 ? field.rule.apply(value) : field.rule.fallback);
                break;
            case Field::Kind::FlagNumber: text.appendField(vdl::flagNumber(value != 0)); break;
            case Field::Kind::FlagLetter: text.appendField(vdl::flagLetter(value != 0, field.set, field.clear)); break;
            case Field::Kind::Letter:
                modeLetter = vdl::letterFor(value, field.letters, field.letterCount, field.clear);
                text.appendField(modeLetter);
                break;
            case Field::Kind::RowsByMode:
                text.appendField((modeLetter == field.set ? field.rule : field.otherRule).apply(value));
                break;
            case Field::Kind::Zero: break;
        }
    }
    return text;
}

// The frame of every barcode operation.
int appendBarcode(Printer &p, const Symbology &s, const char *data, int x, int y,
                  std::initializer_list<int> arguments) {
    printDebugLog(s.name, "start");
    if (data == nullptr) data = "";
    const BarcodeHeader text = header(s, x, y, arguments);
    if (s.tracesData) printDebugLog(s.name, "barcode data : %s, %d", data, int(std::strlen(data)));
    const int result = append(p, {text.view(), "'", data, "'\r"});
    printDebugLog(s.name, "end");
    return result;
}

int print(const Symbology &s, const char *data, int x, int y, std::initializer_list<int> arguments) {
    return appendBarcode(defaultPrinter(), s, data, x, y, arguments);
}

}  // namespace
}  // namespace vdl

using vdl::print;

extern "C" int Print1DBarcode(const char *data, int x, int y, int barcodeType, int field4, int field5, int field6,
                              int rotation, int field8) {
    return print(vdl::kLinear, data, x, y, {barcodeType, field4, field5, field6, rotation, field8});
}

extern "C" int PrintMaxiCode(const char *data, int x, int y, int mode) {
    return print(vdl::kMaxiCode, data, x, y, {mode});
}

extern "C" int PrintPDF417(const char *data, int x, int y, int rows, int columns, int eccLevel, int field7,
                           unsigned char field8, int field9, int field10, int field11, int rotation) {
    return print(vdl::kPDF417, data, x, y, {rows, columns, eccLevel, field7, field8, field9, field10, field11, rotation});
}

extern "C" int PrintQRCode(const char *data, int x, int y, int model, int eccLevel, int field6, int rotation) {
    return print(vdl::kQRCode, data, x, y, {model, eccLevel, field6, rotation});
}

extern "C" int PrintDataMatrix(const char *data, int x, int y, int field4, unsigned char field5, int rotation) {
    return print(vdl::kDataMatrix, data, x, y, {field4, field5, rotation});
}

extern "C" int PrintAztec(const char *data, int x, int y, int field4, int field5, int field6, unsigned char field7,
                          int field8, int field9, int rotation) {
    return print(vdl::kAztec, data, x, y, {field4, field5, field6, field7, field8, field9, rotation});
}

extern "C" int PrintCode49(const char *data, int x, int y, int field4, int field5, int field6, int field7,
                           int field8, int rotation) {
    return print(vdl::kCode49, data, x, y, {field4, field5, field6, field7, field8, rotation});
}

extern "C" int PrintCODABLOCK(const char *data, int x, int y, int field4, int field5, int field6,
                              unsigned char field7, int field8, int mode, int field10) {
    return print(vdl::kCODABLOCK, data, x, y, {field4, field5, field6, field7, field8, mode, field10});
}

extern "C" int PrintMicroPDF(const char *data, int x, int y, int field4, int field5, int field6, int rotation) {
    return print(vdl::kMicroPDF, data, x, y, {field4, field5, field6, rotation});
}

extern "C" int PrintGS1DataBar(const char *data, int x, int y, int field4, int field5, int field6, int field7,
                               int segments, int rotation) {
    return print(vdl::kGS1DataBar, data, x, y, {field4, field5, field6, field7, segments, rotation});
}
