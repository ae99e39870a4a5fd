// Splits ZPL II into its commands. ZPL has no statements or blocks: a
// command is a prefix (^ for format commands, ~ for control commands), a
// name, and everything up to the next prefix as its parameters, field data
// and comments included (a ^ or ~ in data is written with ^FH, or >= in
// Code 128). Line ends carry no meaning anywhere and are dropped, as
// printers drop them.
#ifndef VDL_ZPL_READER_H
#define VDL_ZPL_READER_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vdlzpl {

// Where a command begins, for messages: line and column from 1.
struct Place {
    int line = 1;
    int column = 1;
};

struct ZplCommand {
    char prefix = '^';      // '^' or '~'
    std::string name;       // upper case: "FO", "BC", "A" (a font's letter is the first parameter), "A@"
    std::string parameters; // as written, without line ends
    Place place;

    // The full name as written in messages: "^FO".
    std::string label() const { return std::string(1, prefix) + name; }
};

// The commands of text[0..length), one at a time, so that no more of them
// is held than a label needs. Text before the first prefix is skipped.
class CommandReader {
public:
    CommandReader(const char *text, std::size_t length);
    // The next command; false at the end of the text.
    bool next(ZplCommand &command);

private:
    void advance();

    const char *text_;
    std::size_t length_;
    std::size_t at_ = 0;
    Place place_;
};

// Every command of the text (for tests and small inputs).
std::vector<ZplCommand> readCommands(const char *text, std::size_t length);

// The parameters split at commas: "10,,x" gives "10", "", "x".
std::vector<std::string> splitParameters(const std::string &parameters);

// Where what follows the nth comma of the parameters begins (a graphic's
// data, which may hold commas of its own); npos when there are fewer commas.
std::size_t afterCommas(const std::string &parameters, int n);

// Parameter i as a number (within +-2e9), or none when it is missing or no number.
std::optional<long> numberAt(const std::vector<std::string> &parameters, std::size_t i);
long numberOr(const std::vector<std::string> &parameters, std::size_t i, long fallback);
// Parameter i's first letter in upper case, or fallback.
char letterOr(const std::vector<std::string> &parameters, std::size_t i, char fallback);
// The length of the well-formed UTF-8 character at text[at] (1 to 4), or 0
// where there is none: a stray byte, a sequence cut short, an overlong form,
// a surrogate, a code point past U+10FFFF.
std::size_t utf8Length(const std::string &text, std::size_t at);

// ZPL's orientations N, R, I, B as the printer's rotations 0-3 (clockwise).
int rotationOf(char orientation, int fallback = 0);

}  // namespace vdlzpl

#endif
