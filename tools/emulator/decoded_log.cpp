#include "decoded_log.h"

#include <cstdint>
#include <string_view>

#include "text_encoding.h"

namespace vdlemu {

namespace {

constexpr std::size_t kShownBytes = 64;  // bytes of a problem command shown in the log

// Text for the log: valid UTF-8 kept, quotes and backslashes escaped,
// control bytes and every byte of what is not valid UTF-8 written as \xNN
// (JSON: \u00NN), so that each line is valid UTF-8 and valid JSON.
// Outside quotes (text lines' problems and notes) quotes stay as they are.
// Lines are built by appending to one string, the log's hot path.
void appendEscaped(std::string &out, std::string_view bytes, LogFormat format, bool inQuotes = true) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto plain = [inQuotes](char c) { return c >= 0x20 && c < 0x7F && !(inQuotes && (c == '"' || c == '\\')); };
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t end = i;  // printable ASCII goes out in runs
        while (end < bytes.size() && plain(bytes[end])) ++end;
        out.append(bytes.substr(i, end - i));
        if (end == bytes.size()) return;
        i = end;
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const std::size_t sequence = utf8SequenceAt(bytes, i);
        if (inQuotes && (byte == '"' || byte == '\\')) {
            out += '\\';
            out += char(byte);
        } else if (sequence > 1 || (sequence == 1 && byte >= 0x20 && byte != 0x7F)) {
            out.append(bytes.substr(i, sequence));
            i += sequence;
            continue;
        } else {
            out += format == LogFormat::Json ? "\\u00" : "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
        ++i;
    }
}

void appendQuoted(std::string &out, std::string_view bytes, LogFormat format) {
    out += '"';
    appendEscaped(out, bytes, format);
    out += '"';
}

const char *outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Decoded: return "decoded";
    case Outcome::Unknown: return "unknown";
    case Outcome::Malformed: return "malformed";
    case Outcome::Truncated: return "truncated";
    }
    return "?";
}

std::string_view shownBytes(const Command &c) { return std::string_view(c.bytes).substr(0, kShownBytes); }

std::string textLine(int connection, int sequence, const Command &c) {
    std::string line = std::to_string(connection) + "." + std::to_string(sequence) + " ";
    if (c.outcome != Outcome::Decoded) {
        for (const char *letter = outcomeName(c.outcome); *letter != '\0'; ++letter) line += char(*letter - 'a' + 'A');
        line += ' ';
    }
    if (!c.code.empty()) line.append(c.code).append(" ").append(c.name);
    if (c.outcome == Outcome::Decoded) {
        line += ':';
        for (const Field &field : c.fields) {
            line.append(" ").append(field.name).append("=");
            if (field.kind == FieldKind::Text) appendQuoted(line, field.text, LogFormat::Text);
            else line += field.text;
        }
    } else {
        line += c.code.empty() ? "" : ": ";
        appendEscaped(line, c.problem, LogFormat::Text, false);
        line.append("; ").append(std::to_string(c.length)).append(" bytes ");
        appendQuoted(line, shownBytes(c), LogFormat::Text);
        if (c.length > kShownBytes) line += "...";
    }
    for (const auto &note : c.notes) {
        line.append(" | ").append(note.first).append(": ");
        appendEscaped(line, note.second, LogFormat::Text, false);
    }
    return line;
}

// Notes with the same key (several problems) become one array.
void appendJsonNotes(std::string &line, const Command &c) {
    line += ",\"notes\":{";
    for (std::size_t n = 0; n < c.notes.size(); ++n) {
        const std::string &key = c.notes[n].first;
        bool seen = false;
        std::size_t count = 0;
        for (std::size_t k = 0; k < c.notes.size(); ++k) {
            seen = seen || (k < n && c.notes[k].first == key);
            count += c.notes[k].first == key ? 1 : 0;
        }
        if (seen) continue;
        if (line.back() != '{') line += ',';
        appendQuoted(line, key, LogFormat::Json);
        line += count > 1 ? ":[" : ":";
        bool first = true;
        for (const auto &other : c.notes) {
            if (other.first != key) continue;
            if (!first) line += ',';
            appendQuoted(line, other.second, LogFormat::Json);
            first = false;
        }
        if (count > 1) line += ']';
    }
    line += '}';
}

void appendJsonValue(std::string &line, const Field &field) {
    switch (field.kind) {
    case FieldKind::Number: line += std::to_string(field.number); return;
    case FieldKind::Flag: line += field.number != 0 ? "true" : "false"; return;
    case FieldKind::Letter:
    case FieldKind::Text: appendQuoted(line, field.text, LogFormat::Json); return;
    }
}

std::string jsonLine(int connection, int sequence, const Command &c) {
    std::string line = "{\"connection\":" + std::to_string(connection) + ",\"sequence\":" + std::to_string(sequence) +
                       ",\"outcome\":\"" + outcomeName(c.outcome) + "\"";
    if (!c.code.empty()) {
        line += ",\"code\":";
        appendQuoted(line, c.code, LogFormat::Json);
        line += ",\"command\":";
        appendQuoted(line, c.name, LogFormat::Json);
    }
    if (c.outcome == Outcome::Decoded) {
        line += ",\"fields\":{";
        for (const Field &field : c.fields) {
            if (line.back() != '{') line += ',';
            appendQuoted(line, field.name, LogFormat::Json);
            line += ':';
            appendJsonValue(line, field);
        }
        line += '}';
    } else {
        line += ",\"problem\":";
        appendQuoted(line, c.problem, LogFormat::Json);
        line.append(",\"length\":").append(std::to_string(c.length)).append(",\"bytes\":");
        appendQuoted(line, shownBytes(c), LogFormat::Json);
    }
    if (!c.notes.empty()) appendJsonNotes(line, c);
    if (c.receivedAt != 0) {
        char received[32];
        std::snprintf(received, sizeof received, "%.6f", c.receivedAt);
        line.append(",\"received\":").append(received);
    }
    return line + "}";
}

}  // namespace

std::string commandLine(LogFormat format, int connection, int sequence, const Command &command) {
    return format == LogFormat::Json ? jsonLine(connection, sequence, command) : textLine(connection, sequence, command);
}

std::string eventLine(LogFormat format, int connection, const std::string &event, const std::string &detail) {
    if (format == LogFormat::Json) {
        std::string line = "{\"connection\":" + std::to_string(connection) + ",\"event\":";
        appendQuoted(line, event, format);
        line += ",\"detail\":";
        appendQuoted(line, detail, format);
        return line + "}";
    }
    return std::to_string(connection) + " " + event + " " + detail;
}

void DecodedLog::write(const std::string &line) {
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

}  // namespace vdlemu
