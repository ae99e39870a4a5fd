#include "gray_picture.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <png.h>

#include "jpegSession.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vdlapp {
namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr double kInchesPerMetre = 0.0254;
// A progressive JPEG keeps every coefficient of the picture until its last
// scan: two bytes a pixel for each of up to four full-size components.
constexpr std::size_t kCoefficientBytesPerPixel = 8;

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

// A JPEG's grey rows into the picture. Any damage refuses the file: libjpeg
// would go on with grey in place of what is missing, which prints black.
class GrayRows : public vdl::JpegSink {
public:
    GrayRows(std::size_t maxPixels, GrayPicture &picture) : maxPixels_(maxPixels), picture_(picture) {}

    bool begin(const vdl::JpegPicture &picture) override {
        const std::size_t bytesPerPixel = 1 + (picture.multipleScans ? kCoefficientBytesPerPixel : 0);
        const std::size_t maxPixels = maxPixels_ / bytesPerPixel;
        if (picture.width == 0 || picture.height == 0 || picture.width > maxPixels / picture.height) return false;
        picture_.width = int(picture.width);
        picture_.height = int(picture.height);
        picture_.pixelsPerInch = picture.pixelsPerInch;  // 0 scales it to the label
        picture_.pixels.resize(std::size_t(picture.width) * picture.height);
        return true;
    }

    bool row(unsigned char *gray, const vdl::JpegDamage &damage) override {
        if (damage.corrupt) return false;
        std::copy_n(gray, picture_.width, picture_.pixels.data() + std::size_t(rows_++) * picture_.width);
        return true;
    }

private:
    std::size_t maxPixels_;
    GrayPicture &picture_;
    int rows_ = 0;
};

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

void Diffuser::start(int width) {
    width_ = std::max(width, 0);
    leftward_ = false;
    errors_.assign(2 * (std::size_t(width_) + 2), 0);
}

void Diffuser::row(const unsigned char *pixels, unsigned char *dots) {
    const int width = width_;
    int *current = errors_.data() + 1;
    int *below = current + width + 2;
    std::memset(dots, 0, (std::size_t(width) + 7) / 8);
    const int step = leftward_ ? -1 : 1;
    for (int i = 0, x = leftward_ ? width - 1 : 0; i < width; ++i, x += step) {
        const int wanted = pixels[x] + current[x] / 16;
        const bool black = wanted < 128;
        if (black) dots[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
        const int error = wanted - (black ? 0 : 255);
        current[x + step] += 7 * error;
        below[x - step] += 3 * error;
        below[x] += 5 * error;
        below[x + step] += error;
    }
    // The next row's errors become the current ones, and the spent ones its fresh start.
    std::swap_ranges(current - 1, current + width + 1, below - 1);
    std::fill(below - 1, below + width + 1, 0);
    leftward_ = !leftward_;
}

bool continuousTone(const GrayPicture &picture) {
    const auto midTone = [](unsigned char grey) { return grey >= 32 && grey <= 223; };
    const auto midTones = std::size_t(std::count_if(picture.pixels.begin(), picture.pixels.end(), midTone));
    return !picture.pixels.empty() && midTones * 4 >= picture.pixels.size();
}

bool diffuses(Content content, Quality quality, bool jpeg, const GrayPicture &picture) {
    if (quality != Quality::normal) return quality == Quality::high;
    if (content != Content::automatic) return content == Content::photo;
    return jpeg || continuousTone(picture);
}

bool decodeJpeg(const unsigned char *data, std::size_t size, std::size_t maxPixels, GrayPicture &picture) {
    GrayRows rows(maxPixels, picture);
    vdl::JpegDamage damage;
    return vdl::decodeJpegRows(data, size, vdl::JpegPixels::Gray, rows, damage) == vdl::JpegOutcome::Decoded &&
           !damage.corrupt;
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
