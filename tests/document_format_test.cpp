// The printer application's recognition of documents by their first bytes:
// pictures and rasters by their signatures, the printer's commands by their
// syntax, everything else unknown (and so refused, never sent to the printer).
#include <cstdint>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "document_format.h"

namespace vdltest {
namespace {

using namespace std::string_literals;

const char *detectedType(const std::string &document) {
    return vdlapp::mimeTypeOf(
        vdlapp::detectDocumentFormat(reinterpret_cast<const unsigned char *>(document.data()), document.size()));
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += char(v);
    return s;
}

TEST(DocumentFormatTest, FirstBytesTellTheFormat) {
    std::mt19937 random(7);
    std::string noise(4096, '\0');
    for (char &c : noise) c = char(random());
    const char *commands = vdlapp::kCommandsFormat;
    const struct {
        const char *what;
        std::string document;
        const char *type;  // nullptr: unknown
    } cases[] = {
        {"PNG", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s, "image/png"},
        {"JPEG (JFIF)", "\xff\xd8\xff\xe0\0\x10JFIF\0"s, "image/jpeg"},
        {"JPEG opening with its tables, which PAPPL misses", "\xff\xd8\xff\xdb\0\x43\0"s, "image/jpeg"},
        {"PWG raster", "RaS2PwgRaster\0"s + std::string(64, '\0'), "image/pwg-raster"},
        {"Apple raster", "UNIRAST\0\0\0\0\1"s, "image/urf"},
        {"a label: settings, text holding a quote, barcodes, print",
         "SS4\rSD8\rSL600,24,G,0\rSW800\rCB\rT10,20,3,1,1,0,0,N,N,'it's'\rB150,100,1,2,4,80,0,1,'12345'\r"
         "B21,2,Q,2,M,0,0,'HELLO'\rBD10,10,200,100,S,3\rP1,1\r",
         commands},
        {"model query, tilde actions, cutter and RFID with CR LF",
         "^PI0\r\n~JC\r\n~PH\r\nCUTy,5\r\nRWDn\r\n>RFW,E,'ABC'\r\n", commands},
        {"lines ended with LF alone", "SL600,24,G,0\nSW800\nP1,1\n", commands},
        {"a bitmap whose raster holds line ends, quotes and NUL",
         "LD" + bytes({0, 0, 0, 0, 2, 0, 2, 0, '\r', '\n', '\'', 0}) + "\rP1,1\r", commands},
        {"a compressed bitmap", "LCR" + bytes({0, 0, 0, 0, 0, 2, 0, 2, 0, 0x00, 3, 0x12}) + "\rP1,1\r", commands},
        {"cut inside its last command (only its start seen)", "SS4\rT10,20,3,1,1,0,0,N,N,'SHI", commands},
        {"cut inside a bitmap's raster", "CB\rLD" + bytes({0, 0, 0, 0, 100, 0, 100, 0}) + noise.substr(0, 50),
         commands},
        {"random bytes", noise, nullptr},
        {"GIF", "GIF89a\x10\0\x10\0\x80\0\0"s, nullptr},
        {"prose", "Please print the labels for order 4711.\nThanks\n", nullptr},
        {"text that opens like a command", "SS4 is the speed we want\r\n", nullptr},
        {"a command, then random bytes", "CB\r" + noise, nullptr},
        {"a bitmap not followed by CR", "LD" + bytes({0, 0, 0, 0, 1, 0, 1, 0, 0xFF}) + "X\r", nullptr},
        {"a run with the count 0", "LCR" + bytes({0, 0, 0, 0, 0, 1, 0, 1, 0, 0x00, 0x00}) + "\r", nullptr},
        {"a number past 32 bits", "SS2147483648\r", nullptr},
        {"a letter the field does not take", "SOX\r", nullptr},
        {"an RFID password of two parts, not four", ">RFZ,'a1,b2'\r\n", nullptr},
        {"no command whole", "T10,20,3,1,1,0,0,N,N,'a long text", nullptr},
        {"line ends only", "\r\n\r\n", nullptr},
        {"empty", "", nullptr},
    };
    for (const auto &c : cases) EXPECT_STREQ(detectedType(c.document), c.type) << c.what;
}

}  // namespace
}  // namespace vdltest
