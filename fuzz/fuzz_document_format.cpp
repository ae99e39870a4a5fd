// The printer application's recognition of document formats on any first
// bytes of a document. Beyond never crashing or reading past the bytes, it
// checks the recognition of commands against the emulator's parser, written
// apart from it:
// - bytes taken for commands are commands the printer decodes: the parser
//   hands out at least one command and decodes every one, none unknown or
//   malformed (the last may be cut short: only a document's start is seen);
// - bytes that are whole commands and nothing else, each decoded by the
//   parser, are taken for commands;
// - a format has a MIME media type exactly when it is known.
//
// Input: the document's first bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "document_format.h"
#include "parser.h"

namespace {

using vdlapp::DocumentFormat;

void check(bool condition, const char *what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_document_format: %s\n", what);
        std::abort();
    }
}

// What the printer makes of the bytes.
struct Decoded {
    std::size_t commands = 0;
    bool allDecoded = true;
    bool cutShort = false;  // bytes left that make no whole command
};

Decoded decode(const std::uint8_t *data, std::size_t size) {
    vdlemu::Parser parser;
    parser.feed(data, size);
    Decoded decoded;
    vdlemu::Command command;
    while (parser.next(command)) {
        ++decoded.commands;
        decoded.allDecoded = decoded.allDecoded && command.outcome == vdlemu::Outcome::Decoded;
    }
    decoded.cutShort = parser.finish(command);
    return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const DocumentFormat format = vdlapp::detectDocumentFormat(data, size);
    const Decoded decoded = decode(data, size);
    const bool commands = format == DocumentFormat::commands;
    if (commands) check(decoded.commands > 0 && decoded.allDecoded, "taken for commands the printer does not decode");
    if (decoded.commands > 0 && decoded.allDecoded && !decoded.cutShort)
        check(commands, "whole commands the printer decodes not taken for commands");
    check((vdlapp::mimeTypeOf(format) == nullptr) == (format == DocumentFormat::unknown), "MIME type");
    return 0;
}
