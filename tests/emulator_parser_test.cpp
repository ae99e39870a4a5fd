// The emulator's parser on streams built by hand: the bitmap commands and
// their run-length stream, framing across arbitrary pieces, input that is
// garbage, malformed or cut short, and the decoded log's lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoded_log.h"
#include "library_test.h"
#include "parser.h"

namespace vdltest {
namespace {

using vdlemu::Command;
using vdlemu::Outcome;

std::string le16(int value) { return {char(value & 0xFF), char(value >> 8)}; }

std::string ldCommand(int x, int y, int widthBytes, int height, const std::string &raster) {
    return "LD" + le16(x) + le16(y) + le16(widthBytes) + le16(height) + raster + "\r";
}

std::string lcrCommand(int x, int y, int widthBytes, int height, const std::string &stream) {
    return std::string("LCR\0", 4) + le16(x) + le16(y) + le16(widthBytes) + le16(height) + stream + "\r";
}

// Every command of the stream, fed in pieces of `piece` bytes (0: at once),
// with what the end of the connection leaves.
std::vector<Command> decodeStream(const std::string &stream, std::size_t piece = 0, vdlemu::ParserOptions options = {}) {
    vdlemu::Parser parser(options);
    std::vector<Command> commands;
    Command command;
    for (std::size_t at = 0; at < stream.size(); at += piece == 0 ? stream.size() : piece) {
        parser.feed(stream.data() + at, piece == 0 ? stream.size() : std::min(piece, stream.size() - at));
        while (parser.next(command)) commands.push_back(command);
    }
    if (parser.finish(command)) commands.push_back(command);
    return commands;
}

std::string rasterOf(const Command &c) { return c.raster ? std::string(c.raster->bytes.begin(), c.raster->bytes.end()) : "-"; }

// The run-length stream, each row of the byte layout's token table and runs
// across row ends, in an LCR command of 4 x 2 bytes; and LD's raw raster.
// Whole and byte by byte, between two other commands.
TEST(BitmapCommand, DecodesToTheRasterWhateverThePieces) {
    for (const auto &[command, raster] : std::vector<std::pair<std::string, std::string>>{
             {lcrCommand(10, 20, 4, 2, std::string("\0\3\xFF\1\x12\xFF\2\0\1", 9)), std::string("\0\0\0\xFF\x12\xFF\xFF\0", 8)},
             {lcrCommand(10, 20, 4, 2, std::string("\0\x08", 2)), std::string(8, '\0')},
             {lcrCommand(10, 20, 4, 2, "\x12\x12\x12\xFF\x05"), "\x12\x12\x12\xFF\xFF\xFF\xFF\xFF"},
             {lcrCommand(10, 20, 60, 10, std::string("\0\xFF\0\xFF\0\x5A", 6)), std::string(600, '\0')},
             {lcrCommand(10, 20, 255, 1, "\xFF\xFF"), std::string(255, '\xFF')},
             {ldCommand(10, 20, 3, 2, "\r\n'P1\r"), "\r\n'P1\r"}}) {
        for (std::size_t piece : {0, 1}) {
            const std::vector<Command> commands = decodeStream("SS3\r" + command + "CB\r", piece);
            ASSERT_EQ(commands.size(), 3u);
            ASSERT_EQ(commands[1].outcome, Outcome::Decoded) << commands[1].problem;
            EXPECT_EQ(commands[1].number("x") * 100 + commands[1].number("y"), 1020);
            EXPECT_EQ(commands[1].length, command.size());
            EXPECT_EQ(rasterOf(commands[1]), raster);
        }
    }
}

// However large the bitmap, its bytes are its raster: a text and a print
// command inside it are never run, and what cannot land on paper is not kept.
TEST(BitmapCommand, LargeRasterIsTakenWholeAndNeverRun) {
    const int widthBytes = 2049, height = 8200;
    std::string raster(std::size_t(widthBytes) * height, '\0');
    const std::string commands = "\rT10,10,3,1,1,0,0,N,N,'X'\rP1,1\r";
    raster.replace(raster.size() / 2, commands.size(), commands);
    raster[0] = '\x80';
    const std::vector<Command> decoded = decodeStream(ldCommand(0, 0, widthBytes, height, raster) + "CB\r", 65536);
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[1].code, "CB");
    const Command &bitmap = decoded[0];
    ASSERT_EQ(bitmap.outcome, Outcome::Decoded) << bitmap.problem;
    EXPECT_EQ(std::vector<int64_t>({bitmap.number("widthBytes"), bitmap.number("height"), bitmap.raster->widthBytes * 8,
                                    bitmap.raster->height, bitmap.raster->black(0, 0)}),
              std::vector<int64_t>({widthBytes, height, vdlemu::kMaxPaperSide, vdlemu::kMaxPaperSide, 1}));
    EXPECT_EQ(bitmap.notes.at(0).first, "kept");
}

// ---------------------------------------------------------------------------
// Framing and problems

struct Framing {
    const char *what;
    std::string input;
    // The letters of each command, after "!" when malformed, "~" when
    // truncated; "?" for bytes that start no command.
    std::string expected;
};

void PrintTo(const Framing &f, std::ostream *os) { *os << f.what; }

class FramingTest : public ::testing::TestWithParam<Framing> {};

// Whole, byte by byte and in pieces of 5: the same commands, every byte
// accounted for.
TEST_P(FramingTest, EachCommandIsTakenForWhatItIs) {
    const Framing &f = GetParam();
    vdlemu::ParserOptions options;
    options.maxCommandBytes = 64;
    for (std::size_t piece : {0, 1, 5}) {
        std::string got;
        std::size_t total = 0;
        for (const Command &c : decodeStream(f.input, piece, options)) {
            const char *const marks[] = {"", "?", "!", "~"};  // by Outcome
            got += (got.empty() ? "" : " ") + std::string(marks[int(c.outcome)]) + c.code;
            total += c.length;
            EXPECT_EQ(c.problem.empty(), c.outcome == Outcome::Decoded) << c.code;
        }
        EXPECT_EQ(got, f.expected) << "in pieces of " << piece;
        EXPECT_LE(total, f.input.size());
    }
}

const std::string kLong(100, 'y');

INSTANTIATE_TEST_SUITE_P(
    Streams, FramingTest,
    ::testing::Values(
        Framing{"garbage line then a command", std::string("\1\2\3\0xyz\rSS3\r", 12), "? SS"},
        Framing{"stray line ends are skipped", "\r\n\n\rCB\r\r\n", "CB"},
        Framing{"speed not a number", "SSx\rSD1\r", "!SS SD"},
        Framing{"number wider than 32 bits", "P99999999999,1\r", "!P"},
        Framing{"text without a data part", "T10,20\rCB\r", "!T CB"},
        Framing{"text with a wrong fixed field", "T1,2,3,1,1,5,0,N,N,'a'\r", "!T"},
        Framing{"vector letter out of the set", "V1,2,U,3,4,0,X,N,N,0,L,0,'a'\r", "!V"},
        Framing{"data with a quote and a line end", "T1,2,3,1,1,0,0,N,N,'it's\nok'\rCB\r", "T CB"},
        Framing{"unknown symbology", "B21,2,Z,'x'\r", "!B2"},
        Framing{"block O with a value", "BD1,2,3,4,O,5\r", "!BD"},
        Framing{"cutter period with the cutter off", "CUTn,5\r\n", "!CUT"},
        Framing{"RFID write E with a length", ">RFW,E,1,2, 'x'\r\n", "!>RFW"},
        Framing{"RFID password with three parts", ">RFZ,'a,b,c'\r\n", "!>RFZ"},
        Framing{"RFID password with a field before its quote", ">RFZ,,'a,b,c,d'\r\n", "!>RFZ"},
        Framing{"over-long text passed over to its end", "T1,2,3,1,1,0,0,N,N,'" + kLong + "\rP1,1\r'\rCB\r", "!T CB"},
        Framing{"over-long line passed over to its end", kLong + "\rCB\r", "? CB"},
        Framing{"LCR with a non-zero fourth byte: its raster still skipped",
                std::string("LCR\1", 4) + le16(0) + le16(0) + le16(1) + le16(2) + "SS\rCB\r", "!LCR CB"},
        Framing{"LCR with a zero count and a run past the end", lcrCommand(0, 0, 1, 5, std::string("\0\0P1,1\xFF\x09", 8)) + "CB\r", "!LCR CB"},
        Framing{"LD without its CR", ldCommand(0, 0, 1, 2, "ab").substr(0, 12) + "xCB\r", "!LD ?"},
        Framing{"text cut short", "SS1\rT10,20,3,1,1,0,0,N,N,'abc", "SS ~T"},
        Framing{"bitmap cut short", lcrCommand(0, 0, 2, 2, std::string("\0\4", 2)).substr(0, 13), "~LCR"},
        Framing{"letters of a command cut short", "CB\rL", "CB ~"}));

// ---------------------------------------------------------------------------
// The decoded log's lines

// Text: fields by name, texts quoted with their quotes escaped, notes after
// "|". JSON: numbers, flags as booleans, letters and texts as strings, a note
// key that occurs twice as an array.
TEST(DecodedLog, LinesNameEveryFieldWithItsType) {
    Command text = vdlemu::parseOne("V1,-2,K,3,4,0,B,N,I,0,C,1,'\xC7\xD1 \"x\"'\r");
    EXPECT_EQ(vdlemu::commandLine(vdlemu::LogFormat::Text, 2, 7, text),
              "2.7 V vector-font text: x=1 y=-2 font=K width=3 height=4 spacing=0 bold=B reverse=N italic=I rotation=0 alignment=C "
              "direction=1 text=\"한 \\\"x\\\"\" | encoding: EUC-KR");
    text.note("encoding", "again");
    EXPECT_EQ(vdlemu::commandLine(vdlemu::LogFormat::Json, 1, 3, text),
              "{\"connection\":1,\"sequence\":3,\"outcome\":\"decoded\",\"code\":\"V\",\"command\":\"vector-font "
              "text\",\"fields\":{\"x\":1,\"y\":-2,\"font\":\"K\",\"width\":3,\"height\":4,\"spacing\":0,\"bold\":true,"
              "\"reverse\":false,\"italic\":true,\"rotation\":0,\"alignment\":\"C\",\"direction\":1,\"text\":\"한 \\\"x\\\"\"},"
              "\"notes\":{\"encoding\":[\"EUC-KR\",\"again\"]}}");
    EXPECT_EQ(vdlemu::commandLine(vdlemu::LogFormat::Json, 4, 1, vdlemu::parseOne("B1\x01")),
              "{\"connection\":4,\"sequence\":1,\"outcome\":\"truncated\",\"code\":\"B1\",\"command\":\"linear "
              "barcode\",\"problem\":\"the connection ended inside the command\",\"length\":3,\"bytes\":\"B1\\u0001\"}");
}

// Overlong forms, surrogates and code points past U+10FFFF are not UTF-8:
// each of their bytes is escaped, in the data, the bytes shown and the
// problem alike, so that every line is valid UTF-8 (and JSON).
TEST(DecodedLog, EscapesEverythingThatIsNotValidUtf8) {
    for (const auto &[bytes, shown] : std::vector<std::pair<std::string, std::string>>{
             {"\xC0\xAF", "\\xC0\\xAF"},
             {"\xE0\x80\xAF", "\\xE0\\x80\\xAF"},
             {"\xED\xA0\x80", "\\xED\\xA0\\x80"},
             {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
             {"\xF5\x80", "\\xF5\\x80"},
             {"\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBF", "é😀\xEF\xBF\xBF"}}) {
        const std::string barcode = vdlemu::commandLine(vdlemu::LogFormat::Text, 1, 1, vdlemu::parseOne("B21,2,Q,2,M,4,0,'" + bytes + "'\r"));
        EXPECT_NE(barcode.find("data=\"" + shown + "\""), std::string::npos) << barcode;
        const std::string letter = vdlemu::commandLine(vdlemu::LogFormat::Text, 1, 1, vdlemu::parseOne("SO" + bytes + "\r"));
        EXPECT_NE(letter.find("orientation \"" + shown + "\" is not one of TB; "), std::string::npos) << letter;
        std::string json = shown;
        for (std::size_t at = json.find("\\x"); at != std::string::npos; at = json.find("\\x", at)) json.replace(at, 2, "\\u00");
        EXPECT_NE(vdlemu::commandLine(vdlemu::LogFormat::Json, 1, 1, vdlemu::parseOne(bytes + "\r")).find("\"bytes\":\"" + json + "\\u000D\""),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace vdltest
