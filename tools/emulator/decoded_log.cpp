#include "decoded_log.h"

#include <cstdint>

#include "text_encoding.h"

namespace vdlemu {

namespace {

constexpr std::size_t kShownBytes = 64;  // bytes of a problem command shown in the log

// Text for the log: valid UTF-8 kept, quotes and backslashes escaped,
// control bytes and every byte of what is not valid UTF-8 written as \xNN
// (JSON: \u00NN), so that each line is valid UTF-8 and valid JSON.
// Outside quotes (text lines' problems and notes) quotes stay as they are.
std::string escaped(const std::string &bytes, LogFormat format, bool inQuotes = true) {
    std::string out;
    out.reserve(bytes.size() + 8);
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const std::size_t sequence = utf8SequenceAt(bytes, i);
        if (inQuotes && (byte == '"' || byte == '\\')) {
            out += '\\';
            out += char(byte);
        } else if (sequence > 1 || (sequence == 1 && byte >= 0x20 && byte != 0x7F)) {
            out.append(bytes, i, sequence);
            i += sequence;
            continue;
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += format == LogFormat::Json ? "\\u00" : "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
        ++i;
    }
    return out;
}

std::string quoted(const std::string &bytes, LogFormat format) { return "\"" + escaped(bytes, format) + "\""; }

const char *outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Decoded: return "decoded";
    case Outcome::Unknown: return "unknown";
    case Outcome::Malformed: return "malformed";
    case Outcome::Truncated: return "truncated";
    }
    return "?";
}

std::string shownBytes(const Command &c, LogFormat format) {
    std::string shown = c.bytes.substr(0, kShownBytes);
    return quoted(shown, format);
}

std::string textValue(const Field &field) {
    return field.kind == FieldKind::Text ? quoted(field.text, LogFormat::Text) : field.text;
}

std::string jsonValue(const Field &field) {
    switch (field.kind) {
    case FieldKind::Number: return std::to_string(field.number);
    case FieldKind::Flag: return field.number != 0 ? "true" : "false";
    case FieldKind::Letter:
    case FieldKind::Text: break;
    }
    return quoted(field.text, LogFormat::Json);
}

std::string textLine(int connection, int sequence, const Command &c) {
    std::string line = std::to_string(connection) + "." + std::to_string(sequence) + " ";
    if (c.outcome != Outcome::Decoded) {
        std::string label = outcomeName(c.outcome);
        for (char &letter : label) letter = char(letter - 'a' + 'A');
        line += label + " ";
    }
    if (!c.code.empty()) line += c.code + " " + c.name;
    if (c.outcome == Outcome::Decoded) {
        line += ":";
        for (const Field &field : c.fields) line.append(" ").append(field.name).append("=").append(textValue(field));
    } else {
        line += (c.code.empty() ? "" : ": ") + escaped(c.problem, LogFormat::Text, false) + "; " + std::to_string(c.length) + " bytes " +
                shownBytes(c, LogFormat::Text);
        if (c.length > kShownBytes) line += "...";
    }
    for (const auto &note : c.notes) line += " | " + note.first + ": " + escaped(note.second, LogFormat::Text, false);
    return line;
}

// Notes with the same key (several problems) become one array.
std::string jsonNotes(const Command &c) {
    std::string out = "{";
    std::vector<std::string> seen;
    for (const auto &note : c.notes) {
        bool done = false;
        for (const std::string &key : seen) done = done || key == note.first;
        if (done) continue;
        seen.push_back(note.first);
        std::vector<std::string> values;
        for (const auto &other : c.notes)
            if (other.first == note.first) values.push_back(quoted(other.second, LogFormat::Json));
        if (out.size() > 1) out += ",";
        out += quoted(note.first, LogFormat::Json) + ":";
        if (values.size() == 1) {
            out += values.front();
        } else {
            out += "[";
            for (std::size_t i = 0; i < values.size(); ++i) out += (i > 0 ? "," : "") + values[i];
            out += "]";
        }
    }
    return out + "}";
}

std::string jsonLine(int connection, int sequence, const Command &c) {
    std::string line = "{\"connection\":" + std::to_string(connection) + ",\"sequence\":" + std::to_string(sequence) +
                       ",\"outcome\":\"" + outcomeName(c.outcome) + "\"";
    if (!c.code.empty())
        line += ",\"code\":" + quoted(c.code, LogFormat::Json) + ",\"command\":" + quoted(c.name, LogFormat::Json);
    if (c.outcome == Outcome::Decoded) {
        line += ",\"fields\":{";
        for (std::size_t i = 0; i < c.fields.size(); ++i)
            line += (i > 0 ? "," : "") + quoted(c.fields[i].name, LogFormat::Json) + ":" + jsonValue(c.fields[i]);
        line += "}";
    } else {
        line += ",\"problem\":" + quoted(c.problem, LogFormat::Json) + ",\"length\":" + std::to_string(c.length) +
                ",\"bytes\":" + shownBytes(c, LogFormat::Json);
    }
    if (!c.notes.empty()) line += ",\"notes\":" + jsonNotes(c);
    return line + "}";
}

}  // namespace

std::string commandLine(LogFormat format, int connection, int sequence, const Command &command) {
    return format == LogFormat::Json ? jsonLine(connection, sequence, command) : textLine(connection, sequence, command);
}

std::string eventLine(LogFormat format, int connection, const std::string &event, const std::string &detail) {
    if (format == LogFormat::Json)
        return "{\"connection\":" + std::to_string(connection) + ",\"event\":" + quoted(event, format) +
               ",\"detail\":" + quoted(detail, format) + "}";
    return std::to_string(connection) + " " + event + " " + detail;
}

void DecodedLog::write(const std::string &line) {
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

}  // namespace vdlemu
