#include "png_filter.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The whole file in one read where it can.
bool readFile(const char *path, std::vector<unsigned char> &bytes) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat about {};
    if (fd < 0) return false;
    bytes.clear();
    if (::fstat(fd, &about) == 0 && about.st_size > 0) bytes.reserve(std::size_t(about.st_size));
    unsigned char chunk[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    ::close(fd);
    return got == 0;
}

// The bits of each byte in reverse order: SSE2 gathers a comparison's
// results leftmost pixel in the lowest bit, the printer wants it highest.
constexpr std::array<unsigned char, 256> reversedBits() {
    std::array<unsigned char, 256> table{};
    for (unsigned i = 0; i < 256; ++i)
        for (unsigned bit = 0; bit < 8; ++bit)
            if (i & (1u << bit)) table[i] = static_cast<unsigned char>(table[i] | (0x80u >> bit));
    return table;
}
constexpr std::array<unsigned char, 256> kReversedBits = reversedBits();

// One row of gray pixels as one-bit black dots: black where a pixel is no
// lighter than the dither matrix's threshold at its place, as PAPPL's own
// image filter decides. Sixteen pixels at a time where SSE2 is there (the
// thresholds repeat every sixteen pixels).
void thresholdRow(const unsigned char *pixels, int width, const unsigned char *thresholds, unsigned char *dots) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i limits = _mm_loadu_si128(reinterpret_cast<const __m128i *>(thresholds));
    for (; x + 16 <= width; x += 16) {
        const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + x));
        const unsigned black = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(row, limits), row)));
        dots[x / 8] = kReversedBits[black & 0xff];
        dots[x / 8 + 1] = kReversedBits[black >> 8];
    }
#endif
    for (; x < width; x += 8) {
        unsigned char byte = 0;
        for (int bit = 0; bit < 8 && x + bit < width; ++bit)
            if (pixels[x + bit] <= thresholds[(x + bit) & 15]) byte |= static_cast<unsigned char>(0x80 >> bit);
        dots[x / 8] = byte;
    }
}

// Whether the picture is the label, dot for dot: drawn for this label at the
// printer's resolution, to be printed upright and not as a photo.
bool fitsDotForDot(const GrayPicture &picture, const pappl_pr_options_t &options) {
    const cups_page_header2_t &page = options.header;
    return unsigned(picture.width) == page.cupsWidth && unsigned(picture.height) == page.cupsHeight &&
           page.cupsBitsPerPixel == 1 && options.print_content_optimize != PAPPL_CONTENT_PHOTO &&
           (options.orientation_requested == IPP_ORIENT_NONE || options.orientation_requested == IPP_ORIENT_PORTRAIT);
}

// Such a picture needs no scaling: its rows go through the driver's raster
// callbacks straight away, sparing PAPPL's general scaling loop (a third of
// a label's processing).
bool printDotForDot(pappl_job_t *job, pappl_device_t *device, pappl_pr_options_t *options,
                    const GrayPicture &picture) {
    auto driver = std::make_unique<pappl_pr_driver_data_t>();
    papplPrinterGetDriverData(papplJobGetPrinter(job), driver.get());
    papplJobSetImpressions(job, 1);
    if (!driver->rstartjob_cb(job, options, device)) return false;
    bool printed = driver->rstartpage_cb(job, options, device, 1);
    std::vector<unsigned char> dots(options->header.cupsBytesPerLine);
    for (int y = 0; printed && y < picture.height && !papplJobIsCanceled(job); ++y) {
        thresholdRow(picture.pixels.data() + std::size_t(y) * std::size_t(picture.width), picture.width,
                     options->dither[y & 15], dots.data());
        printed = driver->rwriteline_cb(job, options, device, unsigned(y), dots.data());
    }
    printed = printed && !papplJobIsCanceled(job) && driver->rendpage_cb(job, options, device, 1);
    if (printed) papplJobSetImpressionsCompleted(job, 1);
    driver->rendjob_cb(job, options, device);
    return printed;
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
    // Interpolation softens a photo's scaling; the edges of text and barcodes
    // stay sharp (and the label is drawn faster) with the nearest pixel.
    const bool smooth = options->print_content_optimize == PAPPL_CONTENT_PHOTO;
    const bool printed = fitsDotForDot(picture, *options)
                             ? printDotForDot(job, device, options, picture)
                             : papplJobFilterImage(job, device, options, picture.pixels.data(), picture.width,
                                                   picture.height, 1, picture.pixelsPerInch, smooth);
    papplJobDeletePrintOptions(options);
    return printed;
}

}  // namespace vdlapp
