#include "zpl_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace vdlzpl {

namespace {

// The name after a prefix: two letters, except ^A, whose second letter is
// the font's name and so the first parameter (^A0N,30 is font 0), and ^A@.
std::size_t nameLength(const char *text, std::size_t at, std::size_t length) {
    if (at < length && std::toupper(static_cast<unsigned char>(text[at])) == 'A')
        return at + 1 < length && text[at + 1] == '@' ? 2 : 1;
    return at + 2 <= length ? 2 : length - at;
}

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// ^GFB: its data is binary, exactly as many bytes as its second parameter
// says, whatever they are (a ^ among them is a byte of the picture).
template <typename Advance>
void takeBinaryGraphic(const char *text, std::size_t length, std::size_t &i, std::string &parameters, Advance &advance) {
    if (parameters.empty() || std::toupper(static_cast<unsigned char>(parameters[0])) != 'B') return;
    const std::size_t comma = parameters.find(',');
    const unsigned long declared = std::strtoul(parameters.c_str() + comma + 1, nullptr, 10);
    const std::size_t count = std::min<std::size_t>(declared, length - i);
    parameters.append(text + i, count);
    for (std::size_t k = 0; k < count; ++k) advance(text[i]);
}

}  // namespace

CommandReader::CommandReader(const char *text, std::size_t length) : text_(text), length_(length) {
    while (at_ < length_ && text_[at_] != '^' && text_[at_] != '~') advance();
}

void CommandReader::advance() {
    if (text_[at_] == '\n') {
        ++place_.line;
        place_.column = 1;
    } else {
        ++place_.column;
    }
    ++at_;
}

bool CommandReader::next(ZplCommand &command) {
    if (at_ >= length_) return false;
    command = ZplCommand{};
    command.prefix = text_[at_];
    command.place = place_;
    advance();
    const std::size_t nameEnd = at_ + nameLength(text_, at_, length_);
    while (at_ < nameEnd) {
        if (!isLineEnd(text_[at_])) command.name += char(std::toupper(static_cast<unsigned char>(text_[at_])));
        advance();
    }
    int commas = 0;
    auto step = [this](char) { advance(); };
    while (at_ < length_ && text_[at_] != '^' && text_[at_] != '~') {
        if (!isLineEnd(text_[at_])) command.parameters += text_[at_];
        if (text_[at_] == ',' && ++commas == 4 && command.name == "GF") {
            advance();
            takeBinaryGraphic(text_, length_, at_, command.parameters, step);
            continue;
        }
        advance();
    }
    return true;
}

std::vector<ZplCommand> readCommands(const char *text, std::size_t length) {
    std::vector<ZplCommand> commands;
    CommandReader reader(text, length);
    ZplCommand command;
    while (reader.next(command)) commands.push_back(std::move(command));
    return commands;
}

std::vector<std::string> splitParameters(const std::string &parameters) {
    std::vector<std::string> fields(1);
    for (char c : parameters) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

std::size_t afterCommas(const std::string &parameters, int n) {
    std::size_t at = 0;
    for (int i = 0; i < n; ++i) {
        at = parameters.find(',', at);
        if (at == std::string::npos) return at;
        ++at;
    }
    return at;
}

std::optional<long> numberAt(const std::vector<std::string> &p, std::size_t i) {
    if (i >= p.size() || p[i].empty()) return std::nullopt;
    char *end = nullptr;
    const long value = std::strtol(p[i].c_str(), &end, 10);
    if (end == p[i].c_str()) return std::nullopt;
    return std::clamp(value, -2000000000L, 2000000000L);
}

long numberOr(const std::vector<std::string> &p, std::size_t i, long fallback) { return numberAt(p, i).value_or(fallback); }

char letterOr(const std::vector<std::string> &p, std::size_t i, char fallback) {
    if (i >= p.size() || p[i].empty()) return fallback;
    return char(std::toupper(static_cast<unsigned char>(p[i][0])));
}

std::size_t utf8Length(const std::string &text, std::size_t at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    const std::size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
    if (extra > 3 || at + extra >= text.size() + (extra == 0 ? 1 : 0)) return 0;
    for (std::size_t k = 1; k <= extra; ++k)
        if ((static_cast<unsigned char>(text[at + k]) >> 6) != 2) return 0;
    const unsigned char next = extra > 0 ? static_cast<unsigned char>(text[at + 1]) : 0x80;
    const bool wellFormed = c != 0xC0 && c != 0xC1 && !(c == 0xE0 && next < 0xA0) && !(c == 0xED && next >= 0xA0) &&
                            !(c == 0xF0 && next < 0x90) && !(c == 0xF4 && next >= 0x90) && c < 0xF5;
    return wellFormed ? extra + 1 : 0;
}

int rotationOf(char orientation, int fallback) {
    switch (orientation) {
    case 'N': return 0;
    case 'R': return 1;
    case 'I': return 2;
    case 'B': return 3;
    default: return fallback;
    }
}

}  // namespace vdlzpl
