#include "png_filter.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <png.h>

namespace vdlapp {
namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr double kInchesPerMetre = 0.0254;

std::uint32_t bigEndian32(const unsigned char *p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The resolution in the pHYs chunk, which libpng's simplified reader does not
// report; 0 when the file gives none, or none in metres.
int pixelsPerInch(const unsigned char *data, std::size_t size) {
    std::size_t at = sizeof kSignature;
    while (size - at >= 12) {
        const std::uint32_t length = bigEndian32(data + at);
        const unsigned char *type = data + at + 4;
        if (length > size - at - 12) return 0;
        if (std::memcmp(type, "IDAT", 4) == 0) return 0;  // pHYs comes before the image data
        if (std::memcmp(type, "pHYs", 4) == 0 && length == 9 && type[12] == 1)
            return int(bigEndian32(type + 4) * kInchesPerMetre + 0.5);
        at += 12 + length;
    }
    return 0;
}

bool readFile(const char *path, std::vector<unsigned char> &bytes) {
    std::ifstream file(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return file.good() || file.eof();
}

}  // namespace

bool decodePng(const unsigned char *data, std::size_t size, std::size_t maxPixels, GrayPicture &picture) {
    if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0) return false;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) return false;
    if (image.width == 0 || image.height == 0 || std::size_t(image.width) > maxPixels / image.height) {
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_GRAY;
    picture.width = int(image.width);
    picture.height = int(image.height);
    picture.pixelsPerInch = pixelsPerInch(data, size);
    picture.pixels.resize(std::size_t(image.width) * image.height);
    const png_color white{255, 255, 255};
    // On failure libpng frees the image itself.
    return png_image_finish_read(&image, &white, picture.pixels.data(), 0, nullptr) != 0;
}

bool pngFilter(pappl_job_t *job, pappl_device_t *device, void *) {
    std::vector<unsigned char> file;
    if (!readFile(papplJobGetFilename(job), file)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot read the PNG document.");
        return false;
    }
    int maxWidth = 0, maxHeight = 0;
    const std::size_t maxPixels = papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)), &maxWidth, &maxHeight);
    GrayPicture picture;
    if (!decodePng(file.data(), file.size(), maxPixels, picture) || picture.width > maxWidth ||
        picture.height > maxHeight) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The PNG document is damaged, truncated or too large.");
        return false;
    }
    file = {};
    pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, false);
    if (!options) return false;
    const bool printed = papplJobFilterImage(job, device, options, picture.pixels.data(), picture.width,
                                             picture.height, 1, picture.pixelsPerInch, true);
    papplJobDeletePrintOptions(options);
    return printed;
}

}  // namespace vdlapp
