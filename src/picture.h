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

// Pictures the library handles: 1 to 65535 pixels a side (the bitmap
// commands carry the row count in 16 bits, JPEG and GIF cannot be larger)
// and at most 2^27 pixels in all, so that no header, however hostile, makes a
// load reserve more than a 16 MiB raster or decode for longer than a moment.
constexpr int64_t kMaxPictureSide = 65535;
constexpr int64_t kMaxPicturePixels = int64_t(1) << 27;

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
constexpr const char kUnsupportedDepth[] = "This is not supported bit image.";
constexpr const char kInvalidHeader[] = "Invalid BMP header.";
constexpr const char kInvalidSize[] = "Invalid image size.";
constexpr const char kTooLarge[] = "Image too large.";
constexpr const char kConvertFailed[] = "Failed to convert image.";
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
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        return refused(message::kTooLarge);
    return kSuccess;
}

// Bytes the library hands out are allocated with malloc, so that the caller
// releases them with free; these never throw.
struct FreeDeleter {
    void operator()(void *bytes) const { std::free(bytes); }
};
using Bytes = std::unique_ptr<unsigned char, FreeDeleter>;

inline Bytes allocateBytes(std::size_t size) { return Bytes(static_cast<unsigned char *>(std::malloc(size ? size : 1))); }
inline Bytes allocateZeroed(std::size_t size) { return Bytes(static_cast<unsigned char *>(std::calloc(size ? size : 1, 1))); }

struct ByteView {
    const unsigned char *data;
    std::size_t size;
};

// Receives a picture row by row, top row first. Each row is width pixels of
// three bytes, blue, green, red, with any transparency already laid over
// white (so a transparent pixel arrives as 255, 255, 255).
class RowSink {
public:
    // Called once, before the rows; fails when the result cannot be allocated.
    virtual Status begin(int width, int height) = 0;
    virtual void row(const unsigned char *bgr) = 0;

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

}  // namespace vdl

#endif
