// The emulator's parser on streams built by hand: the bitmap commands and
// their run-length stream, framing across arbitrary pieces, and input that
// is garbage, malformed or cut short.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoded_log.h"
#include "library_test.h"
#include "parser.h"
#include "run_length.h"

namespace vdltest {
namespace {

using vdlemu::Command;
using vdlemu::Outcome;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += char(v);
    return out;
}

std::string le16(int value) { return bytes({value & 0xFF, (value >> 8) & 0xFF}); }

std::string ldCommand(int x, int y, int widthBytes, int height, const std::string &raster) {
    return "LD" + le16(x) + le16(y) + le16(widthBytes) + le16(height) + raster + "\r";
}

std::string lcrCommand(int x, int y, int widthBytes, int height, const std::string &stream) {
    return std::string("LCR\0", 4) + le16(x) + le16(y) + le16(widthBytes) + le16(height) + stream + "\r";
}

// The run-length stream as the byte layout defines it: runs of 0x00 and 0xFF
// as byte and count (at most 255 a token), every other byte as itself.
std::string encodeRuns(const std::string &raster) {
    std::string stream;
    std::size_t i = 0;
    while (i < raster.size()) {
        const char byte = raster[i];
        if (byte != '\0' && byte != '\xFF') {
            stream += byte;
            ++i;
            continue;
        }
        std::size_t n = 1;
        while (i + n < raster.size() && raster[i + n] == byte && n < 255) ++n;
        stream += byte;
        stream += char(n);
        i += n;
    }
    return stream;
}

// Every command of the stream, fed in pieces of `piece` bytes (0: at once),
// with what the end of the connection leaves.
std::vector<Command> decodeStream(const std::string &stream, std::size_t piece = 0, vdlemu::ParserOptions options = {}) {
    vdlemu::Parser parser(options);
    std::vector<Command> commands;
    Command command;
    const std::size_t step = piece == 0 ? std::max<std::size_t>(stream.size(), 1) : piece;
    for (std::size_t at = 0; at < stream.size(); at += step) {
        parser.feed(stream.data() + at, std::min(step, stream.size() - at));
        while (parser.next(command)) commands.push_back(command);
    }
    if (parser.finish(command)) commands.push_back(command);
    return commands;
}

// ---------------------------------------------------------------------------
// Run-length stream

struct Runs {
    const char *what;
    std::string stream;
    std::string raster;  // empty with malformed set: the decoder must refuse
    bool malformed = false;
};

void PrintTo(const Runs &r, std::ostream *os) { *os << r.what; }

class RunLengthTest : public ::testing::TestWithParam<Runs> {};

TEST_P(RunLengthTest, DecodesTheRasterOrRefusesTheStream) {
    const Runs &r = GetParam();
    const std::size_t expected = r.malformed ? 8 : r.raster.size();
    vdlemu::RunLengthDecoder decoder(expected);
    const auto *stream = reinterpret_cast<const uint8_t *>(r.stream.data());
    const auto state = decoder.decode(stream, r.stream.size());
    if (r.malformed) {
        EXPECT_EQ(state, vdlemu::RunLengthDecoder::State::Malformed);
        EXPECT_FALSE(decoder.problem().empty());
        return;
    }
    ASSERT_EQ(state, vdlemu::RunLengthDecoder::State::Done);
    EXPECT_EQ(decoder.consumed(), r.stream.size());
    EXPECT_EQ(std::string(decoder.output().begin(), decoder.output().end()), r.raster);
}

std::string alternating(std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += (i % 2 == 0) ? '\0' : '\xFF';
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, RunLengthTest,
    ::testing::Values(Runs{"600 white bytes", bytes({0x00, 0xFF, 0x00, 0xFF, 0x00, 0x5A}), std::string(600, '\0')},
                      Runs{"runs and literals", bytes({0x00, 0x03, 0xFF, 0x01, 0x12, 0xFF, 0x02, 0x00, 0x01}),
                           bytes({0x00, 0x00, 0x00, 0xFF, 0x12, 0xFF, 0xFF, 0x00})},
                      Runs{"repeats of other bytes stay literal", bytes({0x12, 0x12, 0x12}), bytes({0x12, 0x12, 0x12})},
                      Runs{"alternating white and black doubles", encodeRuns(alternating(100)), alternating(100)},
                      Runs{"black run of 255", bytes({0xFF, 0xFF}), std::string(255, '\xFF')},
                      Runs{"count 0", bytes({0x00, 0x00, 0x00, 0x08}), "", true},
                      Runs{"run past the raster", bytes({0x12, 0xFF, 0x08}), "", true}));

TEST(RunLengthDecoder, WaitsForACountThatHasNotArrived) {
    const std::string stream = bytes({0x41, 0x00, 0x03});
    vdlemu::RunLengthDecoder decoder(4);
    const auto *data = reinterpret_cast<const uint8_t *>(stream.data());
    EXPECT_EQ(decoder.decode(data, 2), vdlemu::RunLengthDecoder::State::NeedMore);
    EXPECT_EQ(decoder.consumed(), 1u);
    EXPECT_EQ(decoder.decode(data, 3), vdlemu::RunLengthDecoder::State::Done);
    EXPECT_EQ(decoder.output(), (std::vector<uint8_t>{0x41, 0, 0, 0}));
}

// ---------------------------------------------------------------------------
// Bitmap commands, bit for bit

// A 300 x 120 dot picture with long white and black stretches (runs of more
// than 255 bytes across row ends), lone 0x00 and 0xFF bytes and noise.
std::string testRaster(int widthBytes, int height) {
    std::string raster(std::size_t(widthBytes) * std::size_t(height), '\0');
    const std::string noise = pattern(raster.size(), 7);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < widthBytes; ++x) {
            char &byte = raster[std::size_t(y * widthBytes + x)];
            if (y >= 30 && y < 40) byte = '\xFF';                  // a black band
            else if (y >= 60 && y < 90 && x % 5 == 0) byte = noise[std::size_t(y * widthBytes + x)];
            else if (y == 100) byte = x % 2 == 0 ? '\xFF' : '\0';  // lone bytes
        }
    }
    return raster;
}

struct BitmapCase {
    const char *what;
    bool compressed;
    std::size_t piece;
};

void PrintTo(const BitmapCase &c, std::ostream *os) { *os << c.what; }

class BitmapCommandTest : public ::testing::TestWithParam<BitmapCase> {};

TEST_P(BitmapCommandTest, ReproducesTheRasterBitForBit) {
    const BitmapCase &c = GetParam();
    const int widthBytes = 38, height = 120;
    const std::string raster = testRaster(widthBytes, height);
    const std::string command = c.compressed ? lcrCommand(300, 65535, widthBytes, height, encodeRuns(raster))
                                             : ldCommand(300, 65535, widthBytes, height, raster);
    // Between two other commands, to show the bitmap's end is found exactly.
    const std::vector<Command> commands = decodeStream("SS3\r" + command + "CB\r", c.piece);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].code, "SS");
    EXPECT_EQ(commands[2].code, "CB");
    const Command &bitmap = commands[1];
    ASSERT_EQ(bitmap.outcome, Outcome::Decoded) << bitmap.problem;
    EXPECT_EQ(bitmap.code, c.compressed ? "LCR" : "LD");
    EXPECT_EQ(bitmap.number("x"), 300);
    EXPECT_EQ(bitmap.number("y"), 65535);
    EXPECT_EQ(bitmap.number("widthBytes"), widthBytes);
    EXPECT_EQ(bitmap.number("height"), height);
    EXPECT_EQ(bitmap.length, command.size());
    ASSERT_TRUE(bitmap.raster);
    EXPECT_TRUE(sameBytes(std::string(bitmap.raster->bytes.begin(), bitmap.raster->bytes.end()), raster));
    for (int y = 0; y < height; y += 7)
        for (int x = 0; x < widthBytes * 8; x += 3)
            ASSERT_EQ(bitmap.raster->black(x, y), ((raster[std::size_t(y * widthBytes + x / 8)] >> (7 - x % 8)) & 1) != 0);
}

INSTANTIATE_TEST_SUITE_P(Commands, BitmapCommandTest,
                         ::testing::Values(BitmapCase{"LD at once", false, 0}, BitmapCase{"LD byte by byte", false, 1},
                                           BitmapCase{"LD in pieces of 97", false, 97},
                                           BitmapCase{"LCR at once", true, 0}, BitmapCase{"LCR byte by byte", true, 1},
                                           BitmapCase{"LCR in pieces of 97", true, 97}));

TEST(BitmapCommand, SmallPictureHeaderAsLaidOut) {
    const std::string raster = bytes({0xF0, 0x0F, 0x81, 0x7E});
    const std::string ld = bytes({0x4C, 0x44, 0x0A, 0x00, 0x14, 0x00, 0x02, 0x00, 0x02, 0x00}) + raster + "\r";
    const std::string lcr = bytes({0x4C, 0x43, 0x52, 0x00, 0x0A, 0x00, 0x14, 0x00, 0x02, 0x00, 0x02, 0x00}) + raster + "\r";
    for (const std::string &stream : {ld, lcr}) {
        const Command c = vdlemu::parseOne(stream);
        ASSERT_EQ(c.outcome, Outcome::Decoded) << c.problem;
        EXPECT_EQ(c.number("x"), 10);
        EXPECT_EQ(c.number("y"), 20);
        EXPECT_EQ(std::string(c.raster->bytes.begin(), c.raster->bytes.end()), raster);
        EXPECT_TRUE(c.raster->black(0, 0));
        EXPECT_FALSE(c.raster->black(4, 0));
        EXPECT_TRUE(c.raster->black(15, 0));
    }
}

TEST(BitmapCommand, EmptyRasterIsJustTheHeaderAndCr) {
    const Command c = vdlemu::parseOne(lcrCommand(1, 2, 0, 5, ""));
    ASSERT_EQ(c.outcome, Outcome::Decoded) << c.problem;
    EXPECT_TRUE(c.raster->bytes.empty());
}

// ---------------------------------------------------------------------------
// Framing and problems

struct Framing {
    const char *what;
    std::string input;
    std::vector<std::pair<Outcome, std::string>> expected;  // outcome and command letters of each
};

void PrintTo(const Framing &f, std::ostream *os) { *os << f.what; }

class FramingTest : public ::testing::TestWithParam<Framing> {};

TEST_P(FramingTest, EachCommandIsTakenForWhatItIs) {
    const Framing &f = GetParam();
    vdlemu::ParserOptions options;
    options.maxCommandBytes = 4096;
    options.maxRasterBytes = 1 << 16;
    for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(5)}) {
        const std::vector<Command> commands = decodeStream(f.input, piece, options);
        std::vector<std::pair<Outcome, std::string>> got;
        std::size_t total = 0;
        for (const Command &c : commands) {
            got.emplace_back(c.outcome, c.code);
            total += c.length;
            if (c.outcome != Outcome::Decoded) {
                EXPECT_FALSE(c.problem.empty());
            }
        }
        EXPECT_EQ(got, f.expected) << "in pieces of " << piece;
        EXPECT_LE(total, f.input.size());
    }
}

const Outcome kOk = Outcome::Decoded;
const Outcome kUnknown = Outcome::Unknown;
const Outcome kMalformed = Outcome::Malformed;
const Outcome kTruncated = Outcome::Truncated;

INSTANTIATE_TEST_SUITE_P(
    Streams, FramingTest,
    ::testing::Values(
        Framing{"queries", "^PI0\r\n^cu\r", {{kOk, "^PI0"}, {kOk, "^cu"}}},
        Framing{"garbage line then a command", bytes({1, 2, 3, 0}) + "xyz\rSS3\r", {{kUnknown, ""}, {kOk, "SS"}}},
        Framing{"stray line ends are skipped", "\r\n\n\rCB\r\r\n", {{kOk, "CB"}}},
        Framing{"speed not a number", "SSx\rSD1\r", {{kMalformed, "SS"}, {kOk, "SD"}}},
        Framing{"number wider than 32 bits", "P99999999999,1\r", {{kMalformed, "P"}}},
        Framing{"print with one field", "P1\r", {{kMalformed, "P"}}},
        Framing{"query with extra bytes", "^cu?\r", {{kMalformed, "^cu"}}},
        Framing{"text without a data part", "T10,20\rCB\r", {{kMalformed, "T"}, {kOk, "CB"}}},
        Framing{"text with a wrong fixed field", "T1,2,3,1,1,5,0,N,N,'a'\r", {{kMalformed, "T"}}},
        Framing{"text font out of the set", "T1,2,z,1,1,0,0,N,N,'a'\r", {{kMalformed, "T"}}},
        Framing{"vector letter out of the set", "V1,2,U,3,4,0,X,N,N,0,L,0,'a'\r", {{kMalformed, "V"}}},
        Framing{"data with a quote and a line end", "T1,2,3,1,1,0,0,N,N,'it's\nok'\rCB\r", {{kOk, "T"}, {kOk, "CB"}}},
        Framing{"unknown symbology", "B21,2,Z,'x'\r", {{kMalformed, "B2"}}},
        Framing{"QR with a field missing", "B21,2,Q,1,L,4,'x'\r", {{kMalformed, "B2"}}},
        Framing{"block O with a value", "BD1,2,3,4,O,5\r", {{kMalformed, "BD"}}},
        Framing{"block S without one", "BD1,2,3,4,S\r", {{kMalformed, "BD"}}},
        Framing{"cutter period with the cutter off", "CUTn,5\r\n", {{kMalformed, "CUT"}}},
        Framing{"RFID write E with a length", ">RFW,E,1,2, 'x'\r\n", {{kMalformed, ">RFW"}}},
        Framing{"RFID password with three parts", ">RFZ,'a,b,c'\r\n", {{kMalformed, ">RFZ"}}},
        Framing{"LCR with a non-zero fourth byte", std::string("LCR\1", 4) + std::string(8, '\0') + "\rCB\r",
                {{kMalformed, "LCR"}, {kOk, "CB"}}},
        Framing{"LD larger than the emulator takes", "LD" + le16(0) + le16(0) + le16(65535) + le16(65535) + "\rCB\r",
                {{kMalformed, "LD"}, {kOk, "CB"}}},
        Framing{"LD without its CR", ldCommand(0, 0, 1, 2, "ab").substr(0, 12) + "xCB\r",
                {{kMalformed, "LD"}, {kUnknown, ""}}},
        Framing{"LCR with a zero count", lcrCommand(0, 0, 1, 4, bytes({0x00, 0x00})) + "CB\r",
                {{kMalformed, "LCR"}, {kUnknown, ""}, {kOk, "CB"}}},
        Framing{"text cut short", "SS1\rT10,20,3,1,1,0,0,N,N,'abc", {{kOk, "SS"}, {kTruncated, "T"}}},
        Framing{"bitmap cut short", lcrCommand(0, 0, 2, 2, bytes({0x00, 0x04})).substr(0, 13), {{kTruncated, "LCR"}}},
        Framing{"letters of a command cut short", "CB\rL", {{kOk, "CB"}, {kTruncated, ""}}},
        Framing{"line without an end", "garbage", {{kTruncated, ""}}}));

TEST(Parser, GivesUpACommandLongerThanTheLimit) {
    vdlemu::ParserOptions options;
    options.maxCommandBytes = 4096;
    vdlemu::Parser parser(options);
    Command command;
    const std::string noise(5000, 'x');
    parser.feed(noise.data(), noise.size());
    ASSERT_TRUE(parser.next(command));
    EXPECT_EQ(command.outcome, Outcome::Unknown);
    EXPECT_EQ(command.length, 5000u);
    const std::string data = "B1" + std::string(5000, 'y');
    parser.feed(data.data(), data.size());
    ASSERT_TRUE(parser.next(command));
    EXPECT_EQ(command.outcome, Outcome::Malformed);
    EXPECT_EQ(command.code, "B1");
    EXPECT_EQ(command.length, 5002u);
    parser.feed("CB\r", 3);
    ASSERT_TRUE(parser.next(command));
    EXPECT_EQ(command.code, "CB");
}

// However the stream is cut in two, the same commands come out.
TEST(Parser, EverySplitGivesTheSameCommands) {
    const std::string raster = bytes({0x00, 0x00, 0xFF, 0x12, 0xFF, 0x00});
    const std::string stream = "SL1218,24,G,0\rSW812\rT1,2,a,1,1,0,0,N,B,'\xC7\xD1'\r" +
                               lcrCommand(5, 6, 3, 2, encodeRuns(raster)) + ">RFZ,'a,b,c,d'\r\n" +
                               ldCommand(1, 1, 1, 1, "\r") + "B21,2,Q,2,M,4,0,'it's'\rP1,1\r";
    const std::vector<Command> whole = decodeStream(stream);
    ASSERT_EQ(whole.size(), 8u);
    for (const Command &c : whole) EXPECT_EQ(c.outcome, Outcome::Decoded) << c.code << ": " << c.problem;
    for (std::size_t split = 1; split < stream.size(); ++split) {
        vdlemu::Parser parser;
        std::vector<Command> pieces;
        Command command;
        parser.feed(stream.data(), split);
        while (parser.next(command)) pieces.push_back(command);
        parser.feed(stream.data() + split, stream.size() - split);
        while (parser.next(command)) pieces.push_back(command);
        ASSERT_FALSE(parser.finish(command)) << "split at " << split;
        ASSERT_EQ(pieces.size(), whole.size()) << "split at " << split;
        for (std::size_t i = 0; i < whole.size(); ++i) {
            ASSERT_EQ(pieces[i].code, whole[i].code) << "split at " << split;
            ASSERT_EQ(pieces[i].fields.size(), whole[i].fields.size()) << "split at " << split;
            for (std::size_t f = 0; f < whole[i].fields.size(); ++f)
                ASSERT_EQ(pieces[i].fields[f].text, whole[i].fields[f].text) << "split at " << split;
        }
    }
}

// Noise in odd pieces: nothing breaks, every byte is accounted for, and the
// parser takes commands again after the connection's end.
TEST(Parser, SurvivesNoise) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const std::string noise = pattern(200000, seed);
        vdlemu::ParserOptions options;
        options.maxRasterBytes = 1 << 16;
        vdlemu::Parser parser(options);
        Command command;
        std::size_t total = 0;
        for (std::size_t at = 0; at < noise.size(); at += 1 + at % 1013) {
            parser.feed(noise.data() + at, std::min<std::size_t>(1 + at % 1013, noise.size() - at));
            while (parser.next(command)) total += command.length;
        }
        if (parser.finish(command)) total += command.length;
        EXPECT_LE(total, noise.size());
        parser.feed("^cu\r", 4);
        ASSERT_TRUE(parser.next(command));
        EXPECT_EQ(command.code, "^cu");
        EXPECT_EQ(command.outcome, Outcome::Decoded);
    }
}

// ---------------------------------------------------------------------------
// The decoded log's lines

TEST(DecodedLog, TextLinesNameEveryField) {
    const Command text = vdlemu::parseOne("T10,20,a,1,2,0,3,N,B,'\xC7\xD1 \"x\"'\r");
    EXPECT_EQ(vdlemu::commandLine(vdlemu::LogFormat::Text, 2, 7, text),
              "2.7 T device-font text: x=10 y=20 font=a horizontalMultiplier=1 verticalMultiplier=2 rotation=3 "
              "bold=B text=\"한 \\\"x\\\"\" | encoding: EUC-KR");
    const Command bad = vdlemu::parseOne(bytes({0x01}) + "SS\r");
    EXPECT_EQ(vdlemu::commandLine(vdlemu::LogFormat::Text, 1, 1, bad),
              "1.1 UNKNOWN no command starts with these bytes; 4 bytes \"\\x01SS\\x0D\"");
    const Command malformed = vdlemu::parseOne("SSx\r");
    EXPECT_EQ(vdlemu::commandLine(vdlemu::LogFormat::Text, 1, 2, malformed),
              "1.2 MALFORMED SS speed: speed \"x\" is not a 32-bit decimal number; 4 bytes \"SSx\\x0D\"");
}

TEST(DecodedLog, JsonLinesCarryTypedValues) {
    const Command text = vdlemu::parseOne("V1,-2,K,3,4,0,B,N,I,0,C,1,'\xC7\xD1'\r");
    EXPECT_EQ(vdlemu::commandLine(vdlemu::LogFormat::Json, 1, 3, text),
              "{\"connection\":1,\"sequence\":3,\"outcome\":\"decoded\",\"code\":\"V\",\"command\":\"vector-font "
              "text\",\"fields\":{\"x\":1,\"y\":-2,\"font\":\"K\",\"width\":3,\"height\":4,\"spacing\":0,\"bold\":true,"
              "\"reverse\":false,\"italic\":true,\"rotation\":0,\"alignment\":\"C\",\"direction\":1,\"text\":\"한\"},"
              "\"notes\":{\"encoding\":\"EUC-KR\"}}");
    Command cut = vdlemu::parseOne("B1\x01\xFF");
    cut.note("problem", "a");
    cut.note("problem", "b");
    EXPECT_EQ(vdlemu::commandLine(vdlemu::LogFormat::Json, 4, 1, cut),
              "{\"connection\":4,\"sequence\":1,\"outcome\":\"truncated\",\"code\":\"B1\",\"command\":\"linear "
              "barcode\",\"problem\":\"the connection ended inside the command\",\"length\":4,\"bytes\":"
              "\"B1\\u0001\\u00FF\",\"notes\":{\"problem\":[\"a\",\"b\"]}}");
    EXPECT_EQ(vdlemu::eventLine(vdlemu::LogFormat::Json, 2, "closed", "reset by the peer"),
              "{\"connection\":2,\"event\":\"closed\",\"detail\":\"reset by the peer\"}");
}

}  // namespace
}  // namespace vdltest
