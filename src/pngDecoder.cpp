// PNG pictures for VdlLoadPicture, decoded in process by Debian's libpng.
//
// PNG is the format applications draw logos and labels in, with anti-aliased
// edges and transparency, so its rule is not the true-colour rule of the BMP
// loader: a pixel is laid over white and prints when it is darker than mid
// grey, which keeps a drawn edge where it was drawn. The picture goes
// straight into the 1-bit raster, one row of libpng's output beside it,
// whatever the picture's size; an interlaced picture's later passes add their
// pixels to what the raster already holds. Only the pixels and their
// transparency count: libpng skips every other ancillary chunk unread, so
// that no text, profile or unknown chunk, however large, is held in memory.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "picture.h"

namespace vdl {
namespace {

constexpr unsigned kMidGrey = 128;

// The file in memory as libpng reads it.
struct Source {
    ByteView file;
    std::size_t at = 0;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto *source = static_cast<Source *>(png_get_io_ptr(png));
    if (length > source->file.size - source->at) png_error(png, "the file ends inside the picture");
    std::memcpy(out, source->file.data + source->at, length);
    source->at += length;
}

// libpng's words for the fault that stopped it ("IDAT: CRC error"), for the trace.
struct Problem {
    char text[128] = "";
};

// libpng reports a fault by a long jump back into the function that called
// it. The functions that call libpng hold nothing to destroy, so its long jump
// skips no destructor.
void stopDecoding(png_structp png, png_const_charp text) {
    auto *problem = static_cast<Problem *>(png_get_error_ptr(png));
    std::snprintf(problem->text, sizeof problem->text, "%s", text);
    png_longjmp(png, 1);
}
void ignoreWarning(png_structp, png_const_charp) {}

// libpng's reader and its header, released together.
class Reader {
public:
    explicit Reader(ByteView file) : source_{file, 0} {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &problem_, stopDecoding, ignoreWarning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
        if (info_ == nullptr) return;
        png_set_read_fn(png_, &source_, readFromMemory);
        // Every chunk but IHDR, PLTE, tRNS, IDAT and IEND, known to libpng or not, skipped unread.
        png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    }
    ~Reader() { png_destroy_read_struct(&png_, info_ != nullptr ? &info_ : nullptr, nullptr); }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    bool made() const { return info_ != nullptr; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }
    const char *problem() const { return problem_.text; }

private:
    Problem problem_;
    Source source_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// Reads the header. The size is checked against the library's limits before
// libpng is told what rows to make, which is when it allocates them; its own
// limits are lifted so that every picture too large meets the same refusal.
bool readHeader(Reader &r) {
    if (setjmp(png_jmpbuf(r.png()))) return false;
    png_set_user_limits(r.png(), PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(r.png(), r.info());
    return true;
}

// Asks for rows of 8-bit grey, with alpha when the picture has transparency,
// every pass of an interlaced one.
bool askForGreyRows(Reader &r, int &passes) {
    if (setjmp(png_jmpbuf(r.png()))) return false;
    png_set_expand(r.png());  // palettes and depths below 8 bits to 8-bit grey or colour, tRNS to alpha
    png_set_scale_16(r.png());
    // libpng's own weights, those of sRGB (red 0.2126, green 0.7152, blue 0.0722): the file's cHRM is skipped.
    png_set_rgb_to_gray_fixed(r.png(), PNG_ERROR_ACTION_NONE, -1, -1);
    passes = png_set_interlace_handling(r.png());
    png_read_update_info(r.png(), r.info());
    return true;
}

// A raster row as grey pixels, for a later pass of an interlaced picture to
// add its pixels to (libpng fills in only the pixels of its pass).
void expandRow(const unsigned char *bits, png_byte *row, uint32_t width, unsigned channels) {
    for (uint32_t x = 0; x < width; ++x) {
        row[x * channels] = bits[x / 8] & (0x80 >> (x % 8)) ? 0 : 255;
        if (channels == 2) row[x * 2 + 1] = 255;
    }
}

void reduceRow(const png_byte *row, unsigned char *bits, uint32_t width, unsigned channels) {
    for (uint32_t x = 0; x < width; x += 8) {
        unsigned byte = 0;
        for (uint32_t k = x; k < x + 8 && k < width; ++k) {
            const unsigned alpha = channels == 2 ? row[k * 2 + 1] : 255;
            if (overWhite(row[k * channels], alpha) < kMidGrey) byte |= 0x80u >> (k - x);
        }
        bits[x / 8] = static_cast<unsigned char>(byte);
    }
}

bool readRows(Reader &r, int passes, unsigned char *raster, png_byte *row) {
    if (setjmp(png_jmpbuf(r.png()))) return false;
    const uint32_t width = png_get_image_width(r.png(), r.info()), height = png_get_image_height(r.png(), r.info());
    const unsigned channels = png_get_channels(r.png(), r.info());
    const std::size_t rowBytes = rasterRowBytes(width);
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < height; ++y) {
            unsigned char *bits = raster + y * rowBytes;
            if (passes > 1) expandRow(bits, row, width, channels);
            png_read_row(r.png(), row, nullptr);
            reduceRow(row, bits, width, channels);
        }
    return true;
}

}  // namespace

bool isPng(ByteView file) { return file.size >= 8 && png_sig_cmp(file.data, 0, 8) == 0; }

Status decodePng(ByteView file, LoadedRaster &picture, const char *traceName) {
    Reader r(file);
    if (!r.made()) return noMemory(message::kNoMemoryForRows);
    auto damaged = [&] {
        printDebugLog(traceName, "libpng: %s", r.problem());
        return refused(message::kNotPicture);
    };
    if (!readHeader(r)) return damaged();
    const uint32_t width = png_get_image_width(r.png(), r.info()), height = png_get_image_height(r.png(), r.info());
    const Status size = checkPictureSize(width, height);
    if (!size.ok()) return size;
    int passes = 1;
    if (!askForGreyRows(r, passes)) return damaged();
    Bytes raster = allocateZeroed(std::size_t(rasterRowBytes(width)) * height);
    Bytes row = allocateBytes(png_get_rowbytes(r.png(), r.info()));
    if (!raster || !row) return noMemory(message::kNoMemoryForRaster);
    if (!readRows(r, passes, raster.get(), row.get())) return damaged();
    picture.bytes = std::move(raster);
    picture.width = int(width);
    picture.height = int(height);
    return kSuccess;
}

}  // namespace vdl
