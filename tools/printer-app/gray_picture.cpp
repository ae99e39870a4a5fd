#include "gray_picture.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <png.h>
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

// Walks the file's chunks up to IEND: false when one claims more bytes than
// the file has left (libpng would allocate the claimed size before finding
// the file short: a few bytes could cost gigabytes), or IEND is missing.
// Meanwhile takes the resolution from pHYs, which libpng's simplified reader
// does not report (0 when the file gives none in metres).
bool chunksFit(const unsigned char *data, std::size_t size, int &pixelsPerInch) {
    pixelsPerInch = 0;
    for (std::size_t at = sizeof kSignature; size - at >= 12;) {
        const std::uint32_t length = bigEndian32(data + at);
        const unsigned char *type = data + at + 4;
        if (length > size - at - 12) return false;
        if (std::memcmp(type, "IEND", 4) == 0) return true;
        if (std::memcmp(type, "pHYs", 4) == 0 && length == 9 && type[12] == 1)
            pixelsPerInch = int(bigEndian32(type + 4) * kInchesPerMetre + 0.5);
        at += 12 + length;
    }
    return false;
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

}  // namespace

// Sixteen pixels at a time where SSE2 is there (the thresholds repeat every
// sixteen pixels), the rest one by one.
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

bool decodePng(const unsigned char *data, std::size_t size, std::size_t maxPixels, GrayPicture &picture) {
    if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0 ||
        !chunksFit(data, size, picture.pixelsPerInch))
        return false;
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
    picture.pixels.resize(std::size_t(image.width) * image.height);
    const png_color white{255, 255, 255};
    // On failure libpng frees the image itself.
    return png_image_finish_read(&image, &white, picture.pixels.data(), 0, nullptr) != 0;
}

}  // namespace vdlapp
