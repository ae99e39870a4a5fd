// Bitmap printing: a picture loaded from an image file goes to the printer as
// one "LD" command (the raster as it is) or one "LCR" command (the raster
// run-length encoded), written at once, ahead of buffered label content.
#include <cstdlib>

#include "VdlLabelAPI.h"
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

    unsigned char header[12] = {};
    unsigned char *fields = header + format.lettersLength;
    for (std::size_t i = 0; i < format.lettersLength; ++i) header[i] = static_cast<unsigned char>(format.letters[i]);
    putField(fields, uint32_t(clampTo(kPosition, x)));
    putField(fields + 2, uint32_t(clampTo(kPosition, y)));
    putField(fields + 4, rowBytes);
    putField(fields + 6, rows);
    writeTo(p.connection, header, uint32_t(format.lettersLength + 8));

    if (command == BitmapCommand::Plain)
        writeTo(p.connection, raster, rowBytes * rows);
    else
        compressTo(p, raster, rowBytes * rows);

    writeTo(p.connection, &kCarriageReturn, 1);
    printDebugLog(format.traceName, "success");
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
    if (compress == 1) {
        printDebugLog(kName, "LCR Command");
        sendBitmap(p, BitmapCommand::Compressed, raster, &info, x, y);
    } else {
        printDebugLog(kName, "LD Command");
        sendBitmap(p, BitmapCommand::Plain, raster, &info, x, y);
    }
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
