// Image loading: an image file becomes the 1-bit raster of the bitmap
// commands (rows of ceil(width / 8) bytes, top row first, most significant
// bit leftmost, 1 = black). Also the nearest-neighbour rescaler, the
// run-length compressor of the "LCR" command and a small text utility.
//
// BMP files of 1, 4, 8 and 24 bits are read as they are. JPEG and GIF files,
// and BMP files of 1 and 32 bits, are first converted to true colour; the
// conversion is done here, in process (libjpeg-turbo, giflib, the BMP
// reader), with no external program and no temporary file. The file's name
// decides, as it always has, whether a conversion happens; the converter
// then goes by the content, like an image tool would.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "VdlLabelAPI.h"
#include "bmpReader.h"
#include "io.h"
#include "picture.h"
#include "printer.h"
#include "runLength.h"

static_assert(sizeof(BITMAPINFOHEADER) == 40, "the info header has the size of its file form");

namespace vdl {
namespace {

constexpr const char kGetImageBit[] = "GetImageBit";
constexpr const char kResizeImage[] = "resizeImage";

// ---------------------------------------------------------------------------
// Reading the file
// ---------------------------------------------------------------------------

struct FileBytes {
    Bytes data;
    std::size_t size = 0;
    ByteView view() const { return {data.get(), size}; }
};

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads a whole regular file. A FIFO, a device or a directory cannot be
// opened as an image: O_NONBLOCK keeps the open itself from waiting on one.
Status readImageFile(const char *path, FileBytes &file) {
    if (path == nullptr) return {VDL_ERR_IMAGE_OPEN, message::kOpenFailed};
    const Descriptor fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat status {};
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return {VDL_ERR_IMAGE_OPEN, message::kOpenFailed};
    if (status.st_size > kMaxImageFileSize) return refused(message::kTooLarge);

    const std::size_t size = std::size_t(status.st_size);
    file.data = allocateBytes(size);
    if (!file.data) return noMemory(message::kNoMemoryForFile);
    std::size_t got = 0;
    while (got < size) {  // a file that shrank meanwhile is read as it now is
        const ssize_t n = ::read(fd.get(), file.data.get() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {VDL_ERR_IMAGE_OPEN, message::kOpenFailed};
        if (n == 0) break;
        got += std::size_t(n);
    }
    file.size = got;
    return kSuccess;
}

// ---------------------------------------------------------------------------
// Reduction to one bit per pixel
// ---------------------------------------------------------------------------

Status allocateRaster(LoadedRaster &raster, int width, int height) {
    raster.width = width;
    raster.height = height;
    raster.bytes = allocateZeroed(std::size_t(height) * raster.rowBytes());
    return raster.bytes ? kSuccess : noMemory(message::kNoMemoryForRaster);
}

bool white(const unsigned char *bgr) { return (bgr[0] & bgr[1] & bgr[2]) == 0xFF; }

// The true-colour rule: every pixel that is not pure white is black. No
// threshold, no dithering: a label's text and bars print as drawn.
void reduceRow(const unsigned char *bgr, int width, unsigned char *out) {
    static const unsigned char kAllWhite[24] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    int x = 0;
    for (; x + 8 <= width; x += 8, bgr += 24) {
        if (std::memcmp(bgr, kAllWhite, 24) == 0) continue;  // the raster is zero-filled
        unsigned byte = 0;
        for (int k = 0; k < 8; ++k) byte = byte << 1 | (white(bgr + 3 * k) ? 0u : 1u);
        out[x / 8] = static_cast<unsigned char>(byte);
    }
    for (; x < width; ++x, bgr += 3)
        if (!white(bgr)) out[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
}

// The same rule for palette pictures, decided once an index: the bit each
// index sets at each of the eight places of a raster byte (so that eight
// pixels make a byte without a chain of shifts), and an index that does not
// print (to pass white stretches eight pixels at a time), if any.
struct PaletteRule {
    unsigned char bitAt[8][256] = {};
    int whiteIndex = -1;

    void decide(const Palette &palette) {
        whiteIndex = -1;
        for (int i = 255; i >= 0; --i) {
            const bool black = !white(palette[i]);
            for (int k = 0; k < 8; ++k) bitAt[k][i] = static_cast<unsigned char>(black ? 0x80u >> k : 0u);
            if (!black) whiteIndex = i;
        }
    }

    // Sets the bits of the pixels left to left + count - 1 of the row that print.
    void reduce(const unsigned char *indices, int left, int count, unsigned char *out) const {
        int x = 0;
        if (left % 8 == 0) {
            const uint64_t allWhite = whiteIndex < 0 ? ~uint64_t(0) : uint64_t(whiteIndex) * 0x0101010101010101ull;
            const bool skipsWhite = whiteIndex >= 0;
            unsigned char *bytes = out + left / 8;
            for (; x + 8 <= count; x += 8, indices += 8) {
                uint64_t eight;
                std::memcpy(&eight, indices, sizeof eight);
                if (skipsWhite && eight == allWhite) continue;  // the raster is zero-filled
                bytes[x / 8] = static_cast<unsigned char>(
                    (bitAt[0][indices[0]] | bitAt[1][indices[1]] | bitAt[2][indices[2]] | bitAt[3][indices[3]]) |
                    (bitAt[4][indices[4]] | bitAt[5][indices[5]] | bitAt[6][indices[6]] | bitAt[7][indices[7]]));
            }
        }
        for (; x < count; ++x, ++indices) out[(left + x) / 8] |= bitAt[(left + x) % 8][*indices];
    }
};

class TrueColourReduction final : public RowSink {
public:
    explicit TrueColourReduction(LoadedRaster &raster) : raster_(raster) {}
    Status begin(int width, int height) override { return allocateRaster(raster_, width, height); }
    void row(const unsigned char *bgr) override {
        if (unsigned char *out = nextRow()) reduceRow(bgr, raster_.width, out);
    }
    void paletteRow(const unsigned char *indices, int left, int count, const Palette &palette) override {
        if (&palette != rulesFor_) {  // a picture's rows share one palette: decided once
            rule_.decide(palette);
            rulesFor_ = &palette;
        }
        if (unsigned char *out = nextRow()) rule_.reduce(indices, left, count, out);
    }

private:
    unsigned char *nextRow() {
        return next_ < raster_.height ? raster_.bytes.get() + std::size_t(next_++) * raster_.rowBytes() : nullptr;
    }

    LoadedRaster &raster_;
    int next_ = 0;
    const Palette *rulesFor_ = nullptr;
    PaletteRule rule_;
};

// The monochrome conversion of loadImage1: Floyd-Steinberg error diffusion
// on the luminance, so that photographs keep their tones. The error a pixel
// receives stays within half the range, so pure black and pure white pixels
// always come out as they are.
class MonochromeReduction final : public RowSink {
public:
    explicit MonochromeReduction(LoadedRaster &raster) : raster_(raster) {}

    Status begin(int width, int height) override {
        // Two rows of errors, each with a spare cell at either end.
        errors_ = allocateZeroed(2 * (std::size_t(width) + 2) * sizeof(int));
        colours_ = allocateBytes(std::size_t(width) * 3);
        if (!errors_ || !colours_) return noMemory(message::kNoMemoryForRows);
        return allocateRaster(raster_, width, height);
    }

    // Dithering needs every pixel's colour: the palette row is spelt out.
    void paletteRow(const unsigned char *indices, int left, int count, const Palette &palette) override {
        unsigned char *bgr = colours_.get();
        std::memset(bgr, 0xFF, std::size_t(raster_.width) * 3);
        for (int x = 0; x < count; ++x) std::memcpy(bgr + 3 * std::size_t(left + x), palette[indices[x]], 3);
        row(bgr);
    }

    void row(const unsigned char *bgr) override {
        if (next_ >= raster_.height) return;
        const int width = raster_.width;
        int *errors = reinterpret_cast<int *>(errors_.get());
        int *current = errors + (next_ % 2) * (width + 2) + 1;
        int *below = errors + ((next_ + 1) % 2) * (width + 2) + 1;
        std::memset(below - 1, 0, (std::size_t(width) + 2) * sizeof(int));
        unsigned char *out = raster_.bytes.get() + std::size_t(next_++) * raster_.rowBytes();
        for (int x = 0; x < width; ++x, bgr += 3) {
            const int luminance = (114 * bgr[0] + 587 * bgr[1] + 299 * bgr[2] + 500) / 1000;
            const int wanted = luminance + current[x] / 16;
            const bool black = wanted < 128;
            if (black) out[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
            const int error = wanted - (black ? 0 : 255);
            current[x + 1] += 7 * error;
            below[x - 1] += 3 * error;
            below[x] += 5 * error;
            below[x + 1] += error;
        }
    }

private:
    LoadedRaster &raster_;
    Bytes errors_;
    Bytes colours_;
    int next_ = 0;
};

// ---------------------------------------------------------------------------
// Rescaling
// ---------------------------------------------------------------------------

// Nearest-neighbour rescaling to targetWidth; the height follows the width's
// scale, so the picture keeps its proportions. The ratios are single
// precision and the divisors the new size (not the new size minus one), as
// the printers' own tools have always computed them; results must match
// them to the pixel.
template <typename Source>
Status resample(const Source &source, int width, int height, int targetWidth, LoadedRaster &resized) {
    const float scale = float(targetWidth) / float(width);
    const float heightProduct = scale * float(height);
    // An empty result (height 0) is allowed; any other must fit a command.
    const bool fits = heightProduct < float(kMaxRows + 1) &&
                      checkPictureSize(targetWidth, std::max(int(heightProduct), 1)).ok();
    if (!fits) {
        printDebugLog(kResizeImage, "%s", message::kTooLarge);
        return refused(message::kTooLarge);
    }
    const int newHeight = int(heightProduct);
    const float xRatio = float(width - 1) / float(targetWidth);
    // An empty result samples no row; its ratio is never used.
    const float yRatio = newHeight > 0 ? float(height - 1) / float(newHeight) : 0.0f;
    printDebugLog(kResizeImage, "biWidth : %d, biHeight : %d", width, height);
    printDebugLog(kResizeImage, "x_ratio : %f, height : %d, y_ratio: %f", double(xRatio), newHeight, double(yRatio));
    printDebugLog(kResizeImage, "start");
    if (!allocateRaster(resized, targetWidth, newHeight).ok()) {
        printDebugLog(kResizeImage, "Failed to alloc memory");
        return noMemory("Failed to alloc memory");
    }
    auto nearest = [](int i, float ratio, int last) {
        const int sampled = int(double(float(i) * ratio) + 0.5);
        return sampled < last ? sampled : last;  // the ratios keep it in range; this keeps it certain
    };
    const uint32_t rowBytes = resized.rowBytes();
    for (int j = 0; j < newHeight; ++j) {
        const int sourceRow = nearest(j, yRatio, height - 1);
        unsigned char *out = resized.bytes.get() + std::size_t(j) * rowBytes;
        for (int i = 0; i < targetWidth; ++i)
            if (source.black(nearest(i, xRatio, width - 1), sourceRow))
                out[i / 8] |= static_cast<unsigned char>(0x80u >> (i % 8));
    }
    printDebugLog(kResizeImage, "end");
    return kSuccess;
}

// One byte per pixel, non-zero black: the form resizeImage is given.
struct PixelBytes {
    const unsigned char *pixels;
    int width;
    bool black(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] != 0; }
};

// ---------------------------------------------------------------------------
// The loaders
// ---------------------------------------------------------------------------

// What the name of the file says, by the first three characters after its
// last '.', compared with letter case: "photo.JPG" is not converted.
enum class NamedAs { Bmp, Jpg, Gif, Other };

NamedAs namedAs(const char *path) {
    const char *dot = std::strrchr(path, '.');
    if (dot == nullptr) return NamedAs::Other;
    const char *extension = dot + 1;
    if (std::strncmp(extension, "bmp", 3) == 0) return NamedAs::Bmp;
    if (std::strncmp(extension, "jpg", 3) == 0) return NamedAs::Jpg;
    if (std::strncmp(extension, "gif", 3) == 0) return NamedAs::Gif;
    return NamedAs::Other;
}

enum class Conversion {
    TrueColour,  // every pixel that is not pure white becomes black
    Monochrome,  // dithered to black and white
};

// How loadImage and loadImage1 differ.
struct LoaderRules {
    const char *traceName;
    bool probesBmpDepth;  // "bmp" names: read the depth, convert 1- and 32-bit files
    Conversion conversion;
    ColourTableAt colourTable;
};
constexpr LoaderRules kLoadImage{"loadImage", true, Conversion::TrueColour, ColourTableAt::AfterInfoHeader};
constexpr LoaderRules kLoadImage1{"loadImage1", false, Conversion::Monochrome, ColourTableAt::Offset54};
// VdlLoadPicture reads a file as loadImage reads it under the name its
// content calls for: "photo.JPG" and "logo.jpeg" are JPEG pictures.
constexpr LoaderRules kLoadPicture{"VdlLoadPicture", true, Conversion::TrueColour, ColourTableAt::AfterInfoHeader};

// The header a converted picture reports: that of the uncompressed BMP file
// the conversion stands for (24 bits for true colour, 1 bit for monochrome).
BITMAPINFOHEADER convertedHeader(int width, int height, Conversion conversion) {
    BITMAPINFOHEADER info{};
    info.biSize = 40;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = conversion == Conversion::TrueColour ? 24 : 1;
    const uint64_t stride = (uint64_t(width) * info.biBitCount + 31) / 32 * 4;
    info.biSizeImage = uint32_t(stride * uint64_t(height));
    return info;
}

// What a file holds, by its first bytes.
enum class Content { Jpeg, Gif, Bmp, Png, Other };

Content contentOf(ByteView file) {
    auto startsWith = [&](const char *magic, std::size_t n) {
        return file.size >= n && std::memcmp(file.data, magic, n) == 0;
    };
    if (startsWith("\xFF\xD8\xFF", 3)) return Content::Jpeg;
    if (startsWith("GIF8", 4)) return Content::Gif;
    if (startsWith("BM", 2)) return Content::Bmp;
    if (isPng(file)) return Content::Png;
    return Content::Other;
}

// The converter: decodes by content, whatever the name says, as an image
// tool would. JPEG, GIF and BMP of 1, 4, 8, 24 or 32 bits.
Status convertPicture(ByteView file, RowSink &sink) {
    const Content content = contentOf(file);
    if (content == Content::Jpeg) return decodeJpeg(file, sink);
    if (content == Content::Gif) return decodeGif(file, sink);
    if (content == Content::Bmp) {
        BmpReader bmp;
        const Status opened = bmp.open(file, BmpDepths::Widened, ColourTableAt::AfterInfoHeader);
        return opened.ok() ? bmp.sendRows(sink) : opened;
    }
    return notConverted();
}

class Loader {
public:
    Loader(const LoaderRules &rules, BITMAPINFOHEADER &info) : rules_(rules), info_(info) {}

    // The raster and info of the picture in path, or the reason why not.
    Status load(const char *path) {
        const NamedAs name = namedAs(path);
        FileBytes file;
        const Status read = readImageFile(path, file);
        if (!read.ok()) return traced(probesDepth(name) ? kGetImageBit : rules_.traceName, read);
        return load(name, file.view());
    }

    // The same for a file already in memory, named as name says.
    Status load(NamedAs name, ByteView file) {
        bool converted = name == NamedAs::Jpg || name == NamedAs::Gif;
        if (probesDepth(name)) {
            int depth = 0;
            const Status probed = bmpBitCount(file, depth);
            if (!probed.ok()) return traced(kGetImageBit, probed);
            converted = depth == 1 || depth == 32;
        }
        if (converted) printDebugLog(rules_.traceName, "CONVERT");
        const Status reduced = converted ? readConverted(file) : readAsStored(file);
        return traced(rules_.traceName, reduced);
    }

    // The picture in path by what the file holds rather than its name; PNG too.
    Status loadByContent(const char *path) {
        FileBytes file;
        const Status read = readImageFile(path, file);
        if (!read.ok()) return traced(rules_.traceName, read);
        return loadByContent(file.view());
    }

    Status loadByContent(ByteView file) {
        switch (contentOf(file)) {
        case Content::Jpeg: return load(NamedAs::Jpg, file);
        case Content::Gif: return load(NamedAs::Gif, file);
        case Content::Bmp: return load(NamedAs::Bmp, file);
        case Content::Png: return traced(rules_.traceName, readPng(file));
        case Content::Other: break;
        }
        return traced(rules_.traceName, refused(message::kNotPicture));
    }

    LoadedRaster &raster() { return raster_; }

private:
    Status readAsStored(ByteView file) {
        BmpReader bmp;
        const Status opened = bmp.open(file, BmpDepths::Direct, rules_.colourTable);
        info_ = bmp.info();  // as far as it was read: a refused depth can be seen there
        if (!opened.ok()) return opened;
        TrueColourReduction reduction(raster_);
        return bmp.sendRows(reduction);
    }

    Status readPng(ByteView file) {
        const Status decoded = decodePng(file, raster_, rules_.traceName);
        if (decoded.ok()) info_ = convertedHeader(raster_.width, raster_.height, Conversion::TrueColour);
        return decoded;
    }

    Status readConverted(ByteView file) {
        TrueColourReduction trueColour(raster_);
        MonochromeReduction monochrome(raster_);
        RowSink &sink = rules_.conversion == Conversion::TrueColour ? static_cast<RowSink &>(trueColour) : monochrome;
        const Status converted = convertPicture(file, sink);
        if (converted.ok()) info_ = convertedHeader(raster_.width, raster_.height, rules_.conversion);
        return converted;
    }

    bool probesDepth(NamedAs name) const { return rules_.probesBmpDepth && name == NamedAs::Bmp; }

    static Status traced(const char *traceName, Status status) {
        if (!status.ok()) printDebugLog(traceName, "%s", status.message);
        return status;
    }

    const LoaderRules &rules_;
    BITMAPINFOHEADER &info_;
    LoadedRaster raster_;
};

// Runs a loader on the picture that `read` hands it, then rescales and hands
// out the raster.
template <typename Read>
int loadWith(const LoaderRules &rules, bool named, unsigned char **image, BITMAPINFOHEADER *info, int targetWidth,
             Read read) {
    if (image != nullptr) *image = nullptr;
    if (info != nullptr) *info = BITMAPINFOHEADER{};
    if (!named) {
        printDebugLog(rules.traceName, "%s", message::kOpenFailed);
        return VDL_ERR_IMAGE_OPEN;
    }
    if (image == nullptr || info == nullptr) {
        printDebugLog(rules.traceName, "%s", message::kInvalidArgument);
        return VDL_ERR_IMAGE_FORMAT;
    }

    Loader loader(rules, *info);
    const Status loaded = read(loader);
    if (!loaded.ok()) return loaded.code;

    LoadedRaster &raster = loader.raster();
    // A negative target width is taken as 0: no rescaling.
    if (targetWidth > 0 && targetWidth != raster.width) {
        printDebugLog(rules.traceName, "pixel index : %d", raster.width * raster.height);
        printDebugLog(rules.traceName, "resize image.");
        LoadedRaster resized;
        const Status rescaled = resample(raster, raster.width, raster.height, targetWidth, resized);
        if (!rescaled.ok()) return rescaled.code;
        raster = std::move(resized);
        info->biWidth = raster.width;
        info->biHeight = raster.height;
    }
    *image = raster.bytes.release();
    printDebugLog(rules.traceName, "success");
    return 0;
}

int imageBitCount(const char *path) {
    FileBytes file;
    int depth = 0;
    Status status = readImageFile(path, file);
    if (status.ok()) status = bmpBitCount(file.view(), depth);
    if (!status.ok()) {
        printDebugLog(kGetImageBit, "%s", status.message);
        return status.code;
    }
    return depth;
}

int resizePixels(const unsigned char *pixels, unsigned char **resized, int targetWidth, BITMAPINFOHEADER *info) {
    if (resized != nullptr) *resized = nullptr;
    if (pixels == nullptr || resized == nullptr || info == nullptr || targetWidth < 1 ||
        !checkPictureSize(info->biWidth, info->biHeight).ok()) {
        printDebugLog(kResizeImage, "%s", message::kInvalidArgument);
        return VDL_ERR_IMAGE_FORMAT;
    }
    LoadedRaster result;
    const Status status =
        resample(PixelBytes{pixels, info->biWidth}, info->biWidth, info->biHeight, targetWidth, result);
    if (!status.ok()) return status.code;
    info->biWidth = result.width;
    info->biHeight = result.height;
    *resized = result.bytes.release();
    return 0;
}

// ---------------------------------------------------------------------------
// The compressor of the "LCR" command
// ---------------------------------------------------------------------------

// The encoder works on blocks of 64 bytes. For each block two bit masks are
// made, of the bytes that are 0x00 and of those that are 0xFF (sixteen bytes
// a compare where SSE2 is there); a byte that repeats the white or black byte
// before it continues a run and is dropped. Every other byte starts a token,
// and the steps go from one token to the next, whatever its kind, so that a
// label's raster of short runs and short stretches of other bytes costs one
// step a token, with few branches whose way depends on the picture.
constexpr std::size_t kBlock = 64;
constexpr unsigned kLongestRun = 255;
constexpr int kNoRun = -1;

bool opensRun(unsigned byte) { return byte == 0x00 || byte == 0xFF; }

// Bit k set: byte k of the block equals value.
uint64_t bytesEqual(const unsigned char *block, unsigned char value) {
    uint64_t mask = 0;
#ifdef __SSE2__
    const __m128i pattern = _mm_set1_epi8(static_cast<char>(value));
    for (unsigned k = 0; k < kBlock / 16; ++k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * k));
        mask |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern)))) << (16 * k);
    }
#else
    for (unsigned k = 0; k < kBlock; ++k) mask |= uint64_t(block[k] == value) << k;
#endif
    return mask;
}

// The stream as it grows: where the next byte goes, and the run still open
// at its end (its byte and where its count is), which the next block may
// continue.
struct Stream {
    unsigned char *out;
    std::size_t size = 0;
    int runByte = kNoRun;
    std::size_t countAt = 0;

    void startRun(unsigned char byte, unsigned count) {
        out[size] = byte;
        out[size + 1] = static_cast<unsigned char>(count);
        countAt = size + 1;
        runByte = byte;
        size += 2;
    }
    // Adds to the open run, starting a new token each time the count is full.
    void continueRun(std::size_t more) {
        std::size_t count = out[countAt] + more;
        for (; count > kLongestRun; count -= kLongestRun) {
            out[countAt] = static_cast<unsigned char>(kLongestRun);
            startRun(static_cast<unsigned char>(runByte), 0);
        }
        out[countAt] = static_cast<unsigned char>(count);
    }
};

void encodeBlock(const unsigned char *block, Stream &s) {
    const uint64_t white = bytesEqual(block, 0x00), black = bytesEqual(block, 0xFF);
    if ((white | black) == 0) {  // no run at all: the block stands for itself
        std::memcpy(s.out + s.size, block, kBlock);
        s.size += kBlock;
        s.runByte = kNoRun;
        return;
    }
    const uint64_t continues =
        (white & (white << 1 | uint64_t(s.runByte == 0x00))) | (black & (black << 1 | uint64_t(s.runByte == 0xFF)));
    uint64_t starts = ~continues;
    // The first bytes carry on the open run. (A run that starts inside the
    // block continues nothing: there may be no open run, and no count to read.)
    if (continues & 1) {
        s.continueRun(starts == 0 ? kBlock : std::size_t(__builtin_ctzll(starts)));
        if (starts == 0) return;
    }
    // A token is its byte, and for a run the distance to the next token (at
    // most 64, written after the byte). Both go out as one pair; a byte that
    // stands for itself then takes only the first place.
    const uint64_t runs = white | black;
    unsigned at = unsigned(__builtin_ctzll(starts));
    starts &= starts - 1;
    for (;;) {
        const unsigned next = starts != 0 ? unsigned(__builtin_ctzll(starts)) : unsigned(kBlock);
        s.out[s.size] = block[at];
        s.out[s.size + 1] = static_cast<unsigned char>(next - at);
        s.size += 1 + (runs >> at & 1);
        if (starts == 0) break;
        at = next;
        starts &= starts - 1;
    }
    // The last token may be a run that the next block goes on with.
    s.runByte = runs >> at & 1 ? block[at] : kNoRun;
    s.countAt = s.size - 1;
}

void encodeByte(unsigned char byte, Stream &s) {
    if (int(byte) == s.runByte) {
        s.continueRun(1);
    } else if (opensRun(byte)) {
        s.startRun(byte, 1);
    } else {
        s.out[s.size++] = byte;
        s.runByte = kNoRun;
    }
}

}  // namespace

// Runs of 0x00 (white) and 0xFF (black) become the byte and a count of 1 to
// 255; every other byte stands for itself, however often it repeats.
std::size_t encodeRunLength(const unsigned char *data, std::size_t length, unsigned char *out) {
    Stream stream{out};
    std::size_t i = 0;
    for (; i + kBlock <= length; i += kBlock) encodeBlock(data + i, stream);
    for (; i < length; ++i) encodeByte(data[i], stream);
    return stream.size;
}

int compressTo(Printer &p, const unsigned char *data, uint32_t length) {
    constexpr const char *kName = "compressData";
    printDebugLog(kName, "compressData : start");
    if (data == nullptr && length != 0) {
        printDebugLog(kName, "%s", message::kInvalidArgument);
        return VDL_ERR_IMAGE_FORMAT;
    }
    Bytes stream = allocateBytes(maxRunLengthSize(length));
    if (!stream) {
        printDebugLog(kName, "compressData : Failed to allocate memory");
        return VDL_ERR_NO_MEMORY;
    }
    const std::size_t size = encodeRunLength(data, length, stream.get());
    writeTo(p.connection, stream.get(), uint32_t(size));
    printDebugLog(kName, "compressData : success");
    return 0;
}

}  // namespace vdl

namespace vdl {

int loadImageBytes(ImageLoader which, const char *name, ByteView file, unsigned char **image, BITMAPINFOHEADER *info,
                   int targetWidth) {
    if (which == ImageLoader::ByContent)
        return loadWith(kLoadPicture, true, image, info, targetWidth,
                        [&](Loader &loader) { return loader.loadByContent(file); });
    const LoaderRules &rules = which == ImageLoader::LoadImage ? kLoadImage : kLoadImage1;
    return loadWith(rules, name != nullptr, image, info, targetWidth,
                    [&](Loader &loader) { return loader.load(namedAs(name), file); });
}

}  // namespace vdl

extern "C" int loadImage(const char *path, unsigned char **image, BITMAPINFOHEADER *info, int targetWidth) {
    return vdl::loadWith(vdl::kLoadImage, path != nullptr, image, info, targetWidth,
                         [&](vdl::Loader &loader) { return loader.load(path); });
}

extern "C" int loadImage1(const char *path, unsigned char **image, BITMAPINFOHEADER *info) {
    return vdl::loadWith(vdl::kLoadImage1, path != nullptr, image, info, 0,
                         [&](vdl::Loader &loader) { return loader.load(path); });
}

extern "C" int VdlLoadPicture(const char *path, unsigned char **image, BITMAPINFOHEADER *info, int targetWidth) {
    return vdl::loadWith(vdl::kLoadPicture, path != nullptr, image, info, targetWidth,
                         [&](vdl::Loader &loader) { return loader.loadByContent(path); });
}

extern "C" int GetImageBit(const char *path) { return vdl::imageBitCount(path); }

extern "C" int resizeImage(const unsigned char *pixels, unsigned char **resized, int targetWidth,
                           BITMAPINFOHEADER *info) {
    return vdl::resizePixels(pixels, resized, targetWidth, info);
}

extern "C" int compressData(const unsigned char *data, uint32_t length) {
    return vdl::compressTo(vdl::defaultPrinter(), data, length);
}

extern "C" void strToUpper(const char *source, char *destination, int maxLength) {
    if (source == nullptr || destination == nullptr) return;
    const std::size_t length = std::strlen(source);
    const std::size_t count = maxLength < 0 || std::size_t(maxLength) > length ? length : std::size_t(maxLength);
    for (std::size_t i = 0; i < count; ++i) {
        const char c = source[i];
        destination[i] = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    }
}
