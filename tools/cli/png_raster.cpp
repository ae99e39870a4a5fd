#include "png_raster.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <new>

// The library's own picture limits and its composition over white, so that a
// PNG is refused exactly where the same picture as a BMP would be.
#include "picture.h"

namespace {

constexpr unsigned kMidGrey = 128;

// libpng's reader and the file it reads, released together.
struct PngReader {
    std::FILE *file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    int passes = 1;
    char problem[160] = "";

    PngReader(const PngReader &) = delete;
    PngReader &operator=(const PngReader &) = delete;
    explicit PngReader(const std::string &path) : file(std::fopen(path.c_str(), "rbe")) {}
    ~PngReader() {
        if (png != nullptr) png_destroy_read_struct(&png, &info, nullptr);
        if (file != nullptr) std::fclose(file);
    }
};

// libpng reports a fault by a long jump back into the function that called
// it; the message is kept for the user instead of going to standard error.
void keepProblem(png_structp png, png_const_charp message) {
    auto *reader = static_cast<PngReader *>(png_get_error_ptr(png));
    std::snprintf(reader->problem, sizeof reader->problem, "%s", message);
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// The functions that call libpng hold nothing to destroy, so its long jump
// skips no destructor.

// Reads the header and asks for rows of 8-bit grey, with alpha when the
// picture has transparency, every pass of an interlaced one.
bool readHeader(PngReader &r) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_init_io(r.png, r.file);
    png_read_info(r.png, r.info);
    png_set_expand(r.png);  // palettes and depths below 8 bits to 8-bit grey or colour, tRNS to alpha
    png_set_scale_16(r.png);
    png_set_rgb_to_gray_fixed(r.png, PNG_ERROR_ACTION_NONE, -1, -1);
    r.passes = png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    return true;
}

// The bits of a raster row as grey pixels, for a pass of an interlaced
// picture to add its pixels to.
void expandRow(const unsigned char *bits, png_byte *row, png_uint_32 width, unsigned channels) {
    for (png_uint_32 x = 0; x < width; ++x) {
        row[x * channels] = bits[x / 8] & (0x80 >> (x % 8)) ? 0 : 255;
        if (channels == 2) row[x * 2 + 1] = 255;
    }
}

void reduceRow(const png_byte *row, unsigned char *bits, png_uint_32 width, unsigned channels) {
    for (png_uint_32 x = 0; x < width; x += 8) {
        unsigned char byte = 0;
        for (png_uint_32 k = x; k < x + 8 && k < width; ++k) {
            const unsigned alpha = channels == 2 ? row[k * 2 + 1] : 255;
            if (vdl::overWhite(row[k * channels], alpha) < kMidGrey) byte |= static_cast<unsigned char>(0x80 >> (k - x));
        }
        bits[x / 8] = byte;
    }
}

// Row by row into the raster: memory for one row beside it, whatever the
// picture's size.
bool readRows(PngReader &r, PngRaster &raster, png_byte *row) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    const png_uint_32 width = png_get_image_width(r.png, r.info), height = png_get_image_height(r.png, r.info);
    const unsigned channels = png_get_channels(r.png, r.info);
    const std::size_t rowBytes = vdl::rasterRowBytes(width);
    for (int pass = 0; pass < r.passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            unsigned char *bits = raster.bits.data() + y * rowBytes;
            if (r.passes > 1) expandRow(bits, row, width, channels);
            png_read_row(r.png, row, nullptr);
            reduceRow(row, bits, width, channels);
        }
    return true;
}

}  // namespace

bool isPngFile(const std::string &path) {
    unsigned char signature[8] = {};
    std::ifstream file(path, std::ios::binary);
    return file.read(reinterpret_cast<char *>(signature), sizeof signature) &&
           png_sig_cmp(signature, 0, sizeof signature) == 0;
}

std::optional<PngRaster> readPngRaster(const std::string &path, std::string &problem) {
    PngReader r(path);
    if (r.file == nullptr) {
        problem = "cannot be opened";
        return std::nullopt;
    }
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, keepProblem, ignoreWarning);
    r.info = r.png != nullptr ? png_create_info_struct(r.png) : nullptr;
    if (r.info == nullptr) {
        problem = "not enough memory to read it";
        return std::nullopt;
    }
    if (!readHeader(r)) {
        problem = std::string("not a readable PNG picture (") + r.problem + ")";
        return std::nullopt;
    }
    const png_uint_32 width = png_get_image_width(r.png, r.info), height = png_get_image_height(r.png, r.info);
    if (!vdl::checkPictureSize(width, height).ok()) {
        problem = "the picture is too large for the printer";
        return std::nullopt;
    }
    PngRaster raster{};
    raster.info.biSize = 40;
    raster.info.biWidth = int32_t(width);
    raster.info.biHeight = int32_t(height);
    raster.info.biPlanes = 1;
    raster.info.biBitCount = 1;
    std::vector<png_byte> row;
    try {
        raster.bits.resize(std::size_t(vdl::rasterRowBytes(width)) * height);
        row.resize(png_get_rowbytes(r.png, r.info));
    } catch (const std::bad_alloc &) {
        problem = "not enough memory for the picture";
        return std::nullopt;
    }
    if (!readRows(r, raster, row.data())) {
        problem = std::string("damaged PNG data (") + r.problem + ")";
        return std::nullopt;
    }
    return raster;
}
