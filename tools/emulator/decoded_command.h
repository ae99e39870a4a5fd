// What the emulator makes of the bytes it receives: one Command per command
// of the printer language, with its fields named after the library's
// arguments, or a record of bytes it could not make sense of.
#ifndef VDL_EMULATOR_DECODED_COMMAND_H
#define VDL_EMULATOR_DECODED_COMMAND_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vdlemu {

enum class FieldKind {
    Number,  // a signed decimal
    Letter,  // a letter that stands for a value ("Q" for error-correction level 2)
    Flag,    // a letter or digit that stands for set (1) or clear (0)
    Text,    // text or data between quotes
};

struct Field {
    const char *name = "";  // the library's argument name: "x", "eccLevel", "text" (static text)
    FieldKind kind = FieldKind::Number;
    int64_t number = 0; // Number: the value; Letter: the value it stands for; Flag: 0 or 1
    std::string text;   // Letter and Flag: as sent; Text: UTF-8 for label text, raw bytes for data
};

// The largest paper side the emulator draws on, in dots.
constexpr int kMaxPaperSide = 6000;

// A bitmap as the printer keeps it: rows of widthBytes bytes, top row first,
// most significant bit leftmost, 1 = black. It may be the top left part of
// a larger bitmap (see RasterBuilder).
struct Raster {
    int widthBytes = 0;
    int height = 0;
    std::vector<uint8_t> bytes;

    bool black(int x, int y) const { return (bytes[std::size_t(y) * std::size_t(widthBytes) + std::size_t(x / 8)] >> (7 - x % 8)) & 1; }
};

enum class Outcome {
    Decoded,    // a known command with well-formed fields
    Unknown,    // bytes that start no known command
    Malformed,  // a known command whose fields or framing are wrong
    Truncated,  // a command cut short by the end of the connection
};

struct Command {
    Outcome outcome = Outcome::Decoded;
    std::string code;     // the command letters as sent: "T", "B2", "SS", ">RFW", "LCR"
    const char *name = "";  // what it is: "device-font text" (static text)
    char symbology = 0;   // two-dimensional barcodes: the symbology letter ('Q' for QR Code)
    std::vector<Field> fields;
    // Facts about the command that are not fields: the code page a text was
    // read in, the preview written for a print, the reply sent to a query.
    std::vector<std::pair<std::string, std::string>> notes;
    std::string problem;  // why it is malformed, unknown or truncated
    std::string bytes;    // the first bytes of a command that went wrong, for the log
    std::size_t length = 0;  // bytes the command took on the wire
    std::shared_ptr<const Raster> raster;  // LD and LCR only
    // When the command's last byte was read, in seconds since the epoch
    // (the system clock, as a client's own timestamps); 0 when not read live.
    double receivedAt = 0;

    const Field *field(const std::string &fieldName) const {
        for (const Field &f : fields)
            if (f.name == fieldName) return &f;
        return nullptr;
    }
    // The field's number, or fallback when the command has no such field.
    int64_t number(const std::string &fieldName, int64_t fallback = 0) const {
        const Field *f = field(fieldName);
        return f != nullptr ? f->number : fallback;
    }
    std::string text(const std::string &fieldName) const {
        const Field *f = field(fieldName);
        return f != nullptr ? f->text : std::string();
    }
    void note(std::string key, std::string value) { notes.emplace_back(std::move(key), std::move(value)); }
};

}  // namespace vdlemu

#endif
