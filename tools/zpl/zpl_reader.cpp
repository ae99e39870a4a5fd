#include "zpl_reader.h"

#include <cctype>

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

}  // namespace

std::vector<ZplCommand> readCommands(const char *text, std::size_t length) {
    std::vector<ZplCommand> commands;
    Place place;
    std::size_t i = 0;
    const auto advance = [&](char c) {
        if (c == '\n') {
            ++place.line;
            place.column = 1;
        } else {
            ++place.column;
        }
        ++i;
    };
    while (i < length && text[i] != '^' && text[i] != '~') advance(text[i]);
    while (i < length) {
        ZplCommand command;
        command.prefix = text[i];
        command.place = place;
        advance(text[i]);
        const std::size_t nameEnd = i + nameLength(text, i, length);
        while (i < nameEnd) {
            if (!isLineEnd(text[i])) command.name += char(std::toupper(static_cast<unsigned char>(text[i])));
            advance(text[i]);
        }
        while (i < length && text[i] != '^' && text[i] != '~') {
            if (!isLineEnd(text[i])) command.parameters += text[i];
            advance(text[i]);
        }
        commands.push_back(std::move(command));
    }
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

}  // namespace vdlzpl
