// Pictures on their way from an image file to the 1-bit raster of the bitmap
// commands: the size limits, the outcome of each step, and the row interface
// between the decoders (BMP, JPEG, GIF) and the reductions to one bit.
#ifndef VDL_PICTURE_H
#define VDL_PICTURE_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "VdlLabelAPI.h"

namespace vdl {

// Pictures the library handles are those a bitmap command can carry: rows of
// at most 65535 bytes (524,280 pixels) and at most 65535 rows, the widths of
// the command's fields. Memory bounds them once more: the 1-bit raster of one
// picture takes at most 512 MiB. Every picture of up to 65535 x 65535 pixels
// fits that; only wider ones can pass it, and they are refused before any
// allocation, so that no header, however hostile, makes a load reserve more.
constexpr int64_t kMaxRowBytes = 65535;
constexpr int64_t kMaxRows = 65535;
constexpr int64_t kMaxRasterBytes = int64_t(1) << 29;

// Image files are read whole; larger ones are refused before any allocation.
constexpr int64_t kMaxImageFileSize = int64_t(1) << 30;

// Width in bytes of a raster row: the smallest number of bytes holding width bits.
inline uint32_t rasterRowBytes(uint32_t width) { return width / 8 + (width % 8 != 0 ? 1 : 0); }

// The outcome of one step of a load: 0, or a negative code with the trace
// line that explains it.
struct Status {
    int code;
    const char *message;
    bool ok() const { return code == 0; }
};
constexpr Status kSuccess{0, nullptr};

// The trace lines of the loader's refusals, one place for each.
namespace message {
constexpr const char kOpenFailed[] = "Failed to open image file.";
constexpr const char kNotBmp[] = "This is not BMP file.";
constexpr const char kNotPicture[] = "This is not a picture the library reads.";
constexpr const char kUnsupportedDepth[] = "This is not supported bit image.";
constexpr const char kInvalidHeader[] = "Invalid BMP header.";
constexpr const char kInvalidSize[] = "Invalid image size.";
constexpr const char kTooLarge[] = "Image too large.";
constexpr const char kInvalidArgument[] = "Invalid argument.";
constexpr const char kNoMemoryForFile[] = "Failed to alloc memory for bmpFileBuff";
constexpr const char kNoMemoryForRows[] = "Failed to alloc memory for tmpBuff";
constexpr const char kNoMemoryForRaster[] = "Failed to alloc memory for imageBuff";
}  // namespace message

inline Status refused(const char *why) { return {VDL_ERR_IMAGE_FORMAT, why}; }
inline Status noMemory(const char *why) { return {VDL_ERR_NO_MEMORY, why}; }

// A size that is not positive is invalid; one past the limits is too large.
inline Status checkPictureSize(int64_t width, int64_t height) {
    if (width < 1 || height < 1) return refused(message::kInvalidSize);
    const int64_t rowBytes = (width + 7) / 8;
    if (rowBytes > kMaxRowBytes || height > kMaxRows || rowBytes * height > kMaxRasterBytes)
        return refused(message::kTooLarge);
    return kSuccess;
}

// A converter that cannot make a picture of a file: the converted copy the
// loader would read does not exist, which is what this code has always meant.
inline Status notConverted() { return {VDL_ERR_IMAGE_OPEN, message::kOpenFailed}; }

// Bytes the library hands out are allocated with malloc, so that the caller
// releases them with free; these never throw.
struct FreeDeleter {
    void operator()(void *bytes) const { std::free(bytes); }
};
using Bytes = std::unique_ptr<unsigned char, FreeDeleter>;

inline Bytes allocateBytes(std::size_t size) { return Bytes(static_cast<unsigned char *>(std::malloc(size ? size : 1))); }
inline Bytes allocateZeroed(std::size_t size) { return Bytes(static_cast<unsigned char *>(std::calloc(size ? size : 1, 1))); }

// A 1-bit raster as the loaders hand it out: rows of rasterRowBytes(width)
// bytes, top row first, most significant bit leftmost, 1 = black.
struct LoadedRaster {
    Bytes bytes;
    int width = 0;
    int height = 0;
    uint32_t rowBytes() const { return rasterRowBytes(uint32_t(width)); }
    bool black(int x, int y) const {
        return (bytes.get()[std::size_t(y) * rowBytes() + std::size_t(x / 8)] >> (7 - x % 8) & 1) != 0;
    }
};

struct ByteView {
    const unsigned char *data;
    std::size_t size;
};

// The colours of a palette picture: blue, green, red of each index.
using Palette = unsigned char[256][3];

// Receives a picture row by row, top row first, each row in one of two forms.
// row: width pixels of three bytes, blue, green, red, with any transparency
// already laid over white (so a transparent pixel arrives as 255, 255, 255).
// paletteRow: white but for count pixels from left, given as indices into a
// palette, which spares the sink the colours of every pixel.
class RowSink {
public:
    // Called once, before the rows; fails when the result cannot be allocated.
    virtual Status begin(int width, int height) = 0;
    virtual void row(const unsigned char *bgr) = 0;
    virtual void paletteRow(const unsigned char *indices, int left, int count, const Palette &palette) = 0;

protected:
    ~RowSink() = default;
};

// Lays a colour channel with the given opacity (0 transparent, 255 opaque)
// over white.
inline unsigned char overWhite(unsigned channel, unsigned alpha) {
    return static_cast<unsigned char>((channel * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// The content decoders: each sends the picture of a file to the sink, or
// says why it cannot. JPEG in every colour space libjpeg-turbo reads; GIF,
// first frame only, on its logical screen.
Status decodeJpeg(ByteView file, RowSink &sink);
Status decodeGif(ByteView file, RowSink &sink);

// PNG goes straight to one bit by its own rule (laid over white, darker than
// mid grey prints), so it has no sink: the raster is filled in place. A
// damaged file's fault, in libpng's words, is traced under traceName.
bool isPng(ByteView file);
Status decodePng(ByteView file, LoadedRaster &raster, const char *traceName);

// loadImage, loadImage1 and VdlLoadPicture (ByContent) on an image file
// already in memory; name is the file's name, which decides what loadImage
// and loadImage1 convert as a path's would (ByContent takes no name). The
// loaders read the file and go on from here; the fuzz targets start here.
enum class ImageLoader { LoadImage, LoadImage1, ByContent };
int loadImageBytes(ImageLoader which, const char *name, ByteView file, unsigned char **image, BITMAPINFOHEADER *info,
                   int targetWidth);

}  // namespace vdl

#endif
