// The emulator on any byte stream: its parser and run-length decoder, fed in
// pieces as a connection delivers them, its renderer on a small paper, and
// its decoded log. Beyond never crashing, it checks:
// - the pieces change nothing: the stream fed whole and in the pieces the
//   input chooses gives the same commands, with the same lengths;
// - every byte is accounted for once: the commands' lengths and the line ends
//   passed over between them add up to the stream;
// - a bitmap command takes exactly the raster its header announces (worked
//   out here from the bytes, independently of the parser) and its CR, so no
//   byte of a raster is ever run as a command;
// - every log line, text and JSON, is valid UTF-8;
// - memory stays within the emulator's bounds (-rss_limit_mb in
//   fuzz/emulator.options).
//
// Input: byte 0 (low 3 bits) the number of cuts, then two bytes per cut (a
// position, modulo the stream's length), then the stream.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "decoded_log.h"
#include "parser.h"
#include "renderer.h"

namespace {

using vdlemu::Command;

// The harness's own checks are left out of the coverage the fuzzer steers by.
#define HARNESS __attribute__((no_sanitize("coverage")))

constexpr std::size_t kNone = std::size_t(-1);

void check(bool condition, const char *what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_emulator: %s\n", what);
        std::abort();
    }
}

std::vector<Command> decode(const uint8_t *stream, std::size_t size, std::vector<std::size_t> cuts) {
    vdlemu::ParserOptions options;
    options.maxCommandBytes = 48;  // small, so that over-long commands are reached
    vdlemu::Parser parser(options);
    std::vector<Command> commands;
    commands.reserve(size / 4 + 1);
    Command command;
    cuts.push_back(size);
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        parser.feed(stream + from, cut - from);
        while (parser.next(command)) commands.push_back(std::move(command));
        from = cut;
    }
    if (parser.finish(command)) commands.push_back(std::move(command));
    return commands;
}

HARNESS bool same(const Command &a, const Command &b) {
    const auto sameField = [](const vdlemu::Field &f, const vdlemu::Field &g) {
        return std::string_view(f.name) == g.name && f.number == g.number && f.text == g.text;
    };
    return a.outcome == b.outcome && a.code == b.code && std::string_view(a.name) == b.name && a.length == b.length && a.problem == b.problem &&
           a.bytes == b.bytes && a.notes == b.notes &&
           std::equal(a.fields.begin(), a.fields.end(), b.fields.begin(), b.fields.end(), sameField) &&
           !a.raster == !b.raster && (!a.raster || a.raster->bytes == b.raster->bytes);
}

// Where the raster of the bitmap command at `at` ends by the byte layout: LD
// is followed by widthBytes x height raw bytes; LCR by a run-length stream
// that ends once it has made that many (a run with the count 0 makes
// nothing, a run past the end stops there). kNone when the stream ends first.
HARNESS std::size_t rasterEnd(const uint8_t *s, std::size_t size, std::size_t at, bool compressed) {
    const std::size_t header = compressed ? 12 : 10;
    if (size - at < header) return kNone;
    std::size_t missing = std::size_t(s[at + header - 4] | s[at + header - 3] << 8) *
                          std::size_t(s[at + header - 2] | s[at + header - 1] << 8);
    std::size_t i = at + header;
    if (!compressed) return missing <= size - i ? i + missing : kNone;
    while (missing > 0) {
        if (i >= size) return kNone;
        const uint8_t byte = s[i++];
        if (byte != 0x00 && byte != 0xFF) {
            --missing;
            continue;
        }
        if (i >= size) return kNone;
        missing -= std::min<std::size_t>(s[i++], missing);
    }
    return i;
}

// Decodes each sequence and checks its code point, so as not to share the
// emulator's own test of validity.
HARNESS bool validUtf8(const std::string &text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int more = lead < 0x80 ? 0 : lead >= 0xC0 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2 : lead >= 0xF0 && lead < 0xF8 ? 3 : -1;
        if (more < 0 || i + std::size_t(more) >= text.size() + (more == 0 ? 1 : 0)) return false;
        char32_t point = lead & (0x7F >> more);
        for (int k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + std::size_t(k)]);
            if ((next & 0xC0) != 0x80) return false;
            point = point << 6 | (next & 0x3F);
        }
        const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (point < smallest[more] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += std::size_t(more) + 1;
    }
    return true;
}

HARNESS void checkFraming(const uint8_t *s, std::size_t size, const std::vector<Command> &commands) {
    std::size_t at = 0;
    for (const Command &c : commands) {
        while (at < size && (s[at] == '\r' || s[at] == '\n')) ++at;
        check(c.length > 0 && c.length <= size - at, "a command's length runs past the stream");
        if ((c.code == "LD" || c.code == "LCR") && c.outcome != vdlemu::Outcome::Truncated) {
            const std::size_t end = rasterEnd(s, size, at, c.code == "LCR");
            check(end != kNone && (at + c.length == end || at + c.length == end + 1),
                  "a bitmap command does not end with the raster it announced");
        }
        at += c.length;
    }
    while (at < size && (s[at] == '\r' || s[at] == '\n')) ++at;
    check(at == size, "the commands' lengths do not add up to the stream");
}

// Draws the label content on a small paper, a fresh one at each print.
void render(const std::vector<Command> &commands) {
    static vdlemu::Renderer renderer;
    std::vector<std::string> problems;
    vdlemu::Canvas paper(96, 64);
    for (const Command &c : commands) {
        if (c.code == "P") paper = vdlemu::Canvas(96, 64);
        else renderer.draw(paper, c, problems);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t cutCount = data[0] & 7;
    if (size < 1 + 2 * cutCount) return 0;
    const uint8_t *stream = data + 1 + 2 * cutCount;
    const std::size_t length = size - 1 - 2 * cutCount;
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < cutCount; ++i)
        cuts.push_back(std::size_t(data[1 + 2 * i] | data[2 + 2 * i] << 8) % (length + 1));
    std::sort(cuts.begin(), cuts.end());

    const std::vector<Command> whole = decode(stream, length, {});
    const std::vector<Command> pieces = decode(stream, length, cuts);
    check(whole.size() == pieces.size(), "the pieces change the number of commands");
    for (std::size_t i = 0; i < whole.size(); ++i) {
        check(same(whole[i], pieces[i]), "the pieces change a command");
        check(validUtf8(vdlemu::commandLine(vdlemu::LogFormat::Json, 1, 1, whole[i])) &&
                  validUtf8(vdlemu::commandLine(vdlemu::LogFormat::Text, 1, 1, whole[i])),
              "a log line is not UTF-8");
    }
    checkFraming(stream, length, whole);
    render(whole);
    return 0;
}
