// Bitmap printing: a picture loaded from an image file goes to the printer as
// one "LD" command (the raster as it is) or one "LCR" command (the raster
// run-length encoded), written at once, ahead of buffered label content; or a
// raster and its label's print command go out together in one write.
#include <cstdlib>
#include <cstring>

#include "VdlLabelAPI.h"
#include "command.h"
#include "io.h"
#include "normalise.h"
#include "picture.h"
#include "printer.h"
#include "runLength.h"

namespace vdl {
namespace {

constexpr unsigned char kCarriageReturn = 0x0D;
constexpr uint32_t kLargestField = 0xFFFF;

enum class BitmapCommand { Plain, Compressed };

struct CommandFormat {
    const char *traceName;
    const char *letters;  // "LD", or "LCR" and a zero byte
    std::size_t lettersLength;
};
constexpr CommandFormat kPlain{"printLD", "LD", 2};
constexpr CommandFormat kCompressed{"printLCR", "LCR\0", 4};

const CommandFormat &formatOf(BitmapCommand command) {
    return command == BitmapCommand::Plain ? kPlain : kCompressed;
}

// The command's fields are 16 bits wide. A position outside 0..65535 is
// clamped; a picture whose width in bytes or row count does not fit, or whose
// size is negative, cannot be described and is refused. A width of 0 is an
// empty picture: its command goes out with no raster.
constexpr Range kPosition{0, int(kLargestField)};

bool describable(const unsigned char *raster, const BITMAPINFOHEADER *info) {
    if (info == nullptr || info->biWidth < 0 || info->biHeight < 0) return false;
    if (rasterRowBytes(uint32_t(info->biWidth)) > kLargestField || uint32_t(info->biHeight) > kLargestField) return false;
    return raster != nullptr || info->biWidth == 0 || info->biHeight == 0;
}

void putField(unsigned char *at, uint32_t value) {
    at[0] = static_cast<unsigned char>(value % 256);
    at[1] = static_cast<unsigned char>(value / 256);
}

// The command's letters "LD" (or "LCR" and a zero byte) and its four 16-bit
// fields: x, y, bytes a row, rows. Returns its length (at most kHeaderArea).
constexpr std::size_t kHeaderArea = 12;
std::size_t composeHeader(const CommandFormat &format, int x, int y, uint32_t rowBytes, uint32_t rows,
                          unsigned char *out) {
    for (std::size_t i = 0; i < format.lettersLength; ++i) out[i] = static_cast<unsigned char>(format.letters[i]);
    unsigned char *fields = out + format.lettersLength;
    putField(fields, uint32_t(clampTo(kPosition, x)));
    putField(fields + 2, uint32_t(clampTo(kPosition, y)));
    putField(fields + 4, rowBytes);
    putField(fields + 6, rows);
    return format.lettersLength + 8;
}

BitmapCommand commandFor(unsigned char compress) {
    return compress == 1 ? BitmapCommand::Compressed : BitmapCommand::Plain;
}

// Header, data, CR: three writeData calls. Their results are not examined:
// once the picture is loaded, the command counts as handed to the printer.
int sendBitmap(Printer &p, BitmapCommand command, const unsigned char *raster, const BITMAPINFOHEADER *info, int x,
               int y) {
    const CommandFormat &format = formatOf(command);
    printDebugLog(format.traceName, "start");
    if (!describable(raster, info)) {
        printDebugLog(format.traceName, "Invalid bitmap.");
        return VDL_ERR_IMAGE_FORMAT;
    }
    const uint32_t rowBytes = rasterRowBytes(uint32_t(info->biWidth));
    const uint32_t rows = uint32_t(info->biHeight);

    unsigned char header[kHeaderArea] = {};
    writeTo(p.connection, header, uint32_t(composeHeader(format, x, y, rowBytes, rows, header)));

    if (command == BitmapCommand::Plain)
        writeTo(p.connection, raster, rowBytes * rows);
    else
        compressTo(p, raster, rowBytes * rows);

    writeTo(p.connection, &kCarriageReturn, 1);
    printDebugLog(format.traceName, "success");
    return 0;
}

// The largest raster a raster label carries: its one write is composed in
// memory whole (twice the raster at worst, run-length encoded). A 4 x 40 in
// label at 600 dpi is 7 MB.
constexpr uint64_t kLargestLabelRaster = uint64_t(64) << 20;

// A bitmap, the label content buffered, and the print command, composed
// into one writeData call: on a network printer each call costs a paced
// pause, so a label goes out in one instead of four. The bytes are those of
// printLCR (or printLD) followed by Prints.
int printRasterLabel(Printer &p, const unsigned char *raster, const BITMAPINFOHEADER *info, int x, int y,
                     unsigned char compress, int first, int second) {
    constexpr const char *kName = "PrintRasterLabel";
    printDebugLog(kName, "start");
    if (!describable(raster, info)) {
        printDebugLog(kName, "Invalid bitmap.");
        return VDL_ERR_IMAGE_FORMAT;
    }
    const uint32_t rowBytes = rasterRowBytes(uint32_t(info->biWidth));
    const uint32_t rows = uint32_t(info->biHeight);
    const uint64_t rasterBytes = uint64_t(rowBytes) * rows;
    if (rasterBytes > kLargestLabelRaster) {
        printDebugLog(kName, "The raster is too large for one write.");
        return VDL_ERR_NO_MEMORY;
    }
    const BitmapCommand command = commandFor(compress);
    const std::size_t dataRoom =
        command == BitmapCommand::Plain ? std::size_t(rasterBytes) : maxRunLengthSize(std::size_t(rasterBytes));
    const uint32_t buffered = p.buffer.fill();
    Bytes label = allocateBytes(kHeaderArea + dataRoom + 1 + buffered + kPrintCommandArea);
    if (!label) {
        printDebugLog(kName, "Failed to allocate memory");
        return VDL_ERR_NO_MEMORY;
    }

    unsigned char *at = label.get();
    at += composeHeader(formatOf(command), x, y, rowBytes, rows, at);
    if (command == BitmapCommand::Plain) {
        if (rasterBytes != 0) std::memcpy(at, raster, std::size_t(rasterBytes));
        at += rasterBytes;
    } else {
        at += encodeRunLength(raster, std::size_t(rasterBytes), at);
    }
    *at++ = kCarriageReturn;
    if (buffered != 0) std::memcpy(at, p.buffer.bytes, buffered);
    at += buffered;
    at += composePrintCommand(first, second, reinterpret_cast<char *>(at));

    const uint32_t length = uint32_t(at - label.get());
    if (writeTo(p.connection, label.get(), length) != int(length)) {
        printDebugLog(kName, "Failed to write");
        return VDL_ERR_WRITE;
    }
    emptyBuffer(p.buffer);
    printDebugLog(kName, "end");
    return 0;
}

int printBitmap(Printer &p, const char *path, int x, int y, unsigned char compress) {
    constexpr const char *kName = "PrintBitmap";
    printDebugLog(kName, "start");
    unsigned char *raster = nullptr;
    BITMAPINFOHEADER info{};
    // Never rescaled here: the picture prints at the size it was drawn.
    const int loaded = loadImage(path, &raster, &info, 0);
    if (loaded != 0) {
        printDebugLog(kName, "Failed to load image");
        return loaded;
    }
    const BitmapCommand command = commandFor(compress);
    printDebugLog(kName, "%s", command == BitmapCommand::Compressed ? "LCR Command" : "LD Command");
    sendBitmap(p, command, raster, &info, x, y);
    std::free(raster);
    printDebugLog(kName, "success");
    return 0;
}

}  // namespace
}  // namespace vdl

extern "C" int PrintBitmap(const char *path, int x, int y, unsigned char compress) {
    return vdl::printBitmap(vdl::defaultPrinter(), path, x, y, compress);
}

extern "C" int printLD(const unsigned char *raster, const BITMAPINFOHEADER *info, int x, int y) {
    return vdl::sendBitmap(vdl::defaultPrinter(), vdl::BitmapCommand::Plain, raster, info, x, y);
}

extern "C" int printLCR(const unsigned char *raster, const BITMAPINFOHEADER *info, int x, int y) {
    return vdl::sendBitmap(vdl::defaultPrinter(), vdl::BitmapCommand::Compressed, raster, info, x, y);
}

extern "C" int PrintRasterLabel(const unsigned char *raster, const BITMAPINFOHEADER *info, int x, int y,
                                unsigned char compress, int first, int second) {
    return vdl::printRasterLabel(vdl::defaultPrinter(), raster, info, x, y, compress, first, second);
}
