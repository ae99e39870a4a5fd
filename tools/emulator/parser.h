// The printer side of the command language: splits the byte stream of one
// connection into commands and decodes their fields.
//
// Bytes may arrive in any pieces; a command is handed out once it is whole,
// and the pieces never change what it is. The bytes a bitmap command
// announces are always taken as its raster, never as commands.
// Nothing it receives makes it fail: bytes that start no known command are
// handed out as Unknown (up to the next line end), a known command with wrong
// fields or framing as Malformed, and a command cut short by the end of the
// connection as Truncated.
#ifndef VDL_EMULATOR_PARSER_H
#define VDL_EMULATOR_PARSER_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "decoded_command.h"

namespace vdlemu {

struct ParserOptions {
    // Code page (0-8) for text whose font does not name one and which is not
    // valid UTF-8; -1: read such text as ISO-8859-1.
    int fallbackCodePage = -1;
    // A text command or line with no end in its first this many bytes is
    // malformed: it is passed over up to its end without being kept.
    std::size_t maxCommandBytes = std::size_t(1) << 20;
};

struct CommandLayout;  // one command of the language (parser.cpp)

class Parser {
public:
    explicit Parser(ParserOptions options = {});
    ~Parser();
    Parser(const Parser &) = delete;
    Parser &operator=(const Parser &) = delete;

    void feed(const void *bytes, std::size_t count);

    // Takes the next whole command; false when more bytes are needed.
    bool next(Command &command);

    // The connection ended: what is left, if anything, becomes one Truncated
    // command. The parser is empty afterwards.
    bool finish(Command &command);

private:
    enum class Step { NeedMore, Done };

    struct Passage;   // the bytes of a command handed on without being kept whole
    struct Bitmap;    // a bitmap command being received
    struct Overlong;  // a command past maxCommandBytes, passed over up to its end

    Step frameLine(const CommandLayout *layout, Command &command);
    Step frameQuoted(const CommandLayout &layout, Command &command);
    Step frameBitmap(const CommandLayout &layout, Command &command);
    Step receiveBitmap(Command &command);
    Step passOverlong(Command &command);
    void decode(const CommandLayout &layout, std::string_view header, std::string_view data, Command &command);
    void consume(std::size_t count, Command &command);
    void pass(std::size_t count, Passage &passage);
    void skipLineEnds();
    std::string_view rest() const { return std::string_view(pending_).substr(start_); }
    std::string_view window() const { return rest().substr(0, options_.maxCommandBytes); }
    std::size_t available() const { return pending_.size() - start_; }

    ParserOptions options_;
    std::string pending_;
    std::size_t start_ = 0;
    std::unique_ptr<Bitmap> bitmap_;
    std::unique_ptr<Overlong> overlong_;
};

// Decodes one command given whole, as a test or a tool has it.
Command parseOne(const std::string &bytes, ParserOptions options = {});

}  // namespace vdlemu

#endif
