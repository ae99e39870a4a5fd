// The BMP file reader (Windows BMP, little-endian, rows stored bottom-up, or
// top-down when the height is negative).
#include "bmpReader.h"

#include <cstring>

namespace vdl {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kHeadersSize = kFileHeaderSize + kInfoHeaderSize;  // 54
constexpr std::size_t kBitCountOffset = 28;
constexpr std::size_t kPixelOffsetField = 10;

// biCompression values that matter to 32-bit files.
constexpr uint32_t kRgb = 0;             // blue, green, red, then alpha or nothing
constexpr uint32_t kBitFields = 3;       // red, green, blue masks
constexpr uint32_t kAlphaBitFields = 6;  // red, green, blue and alpha masks
// The channel masks sit at file offset 54: inside a header of 52 bytes or
// more, right behind the 40-byte one otherwise. The alpha mask follows them
// in headers of 56 bytes or more and with kAlphaBitFields.
constexpr std::size_t kMasksOffset = kHeadersSize;
constexpr uint32_t kHeaderSizeWithAlphaMask = 56;

uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

BITMAPINFOHEADER parseInfoHeader(const unsigned char *p) {
    BITMAPINFOHEADER info{};
    info.biSize = le32(p);
    info.biWidth = int32_t(le32(p + 4));
    info.biHeight = int32_t(le32(p + 8));
    info.biPlanes = le16(p + 12);
    info.biBitCount = le16(p + 14);
    info.biCompression = le32(p + 16);
    info.biSizeImage = le32(p + 20);
    info.biXPelsPerMeter = int32_t(le32(p + 24));
    info.biYPelsPerMeter = int32_t(le32(p + 28));
    info.biClrUsed = le32(p + 32);
    info.biClrImportant = le32(p + 36);
    return info;
}

bool isBmp(ByteView file) { return file.size >= 2 && file.data[0] == 'B' && file.data[1] == 'M'; }

bool depthAccepted(unsigned bitCount, BmpDepths depths) {
    switch (bitCount) {
        case 1:
        case 4:
        case 8:
        case 24: return true;
        case 32: return depths == BmpDepths::Widened;
        default: return false;
    }
}

unsigned lowestSetBit(uint32_t mask) {
    unsigned shift = 0;
    while (shift < 31 && (mask >> shift & 1u) == 0) ++shift;
    return shift;
}

}  // namespace

Status bmpBitCount(ByteView file, int &bitCount) {
    if (!isBmp(file) || file.size < kBitCountOffset + 2) return refused(message::kNotBmp);
    bitCount = le16(file.data + kBitCountOffset);
    return kSuccess;
}

unsigned char BmpReader::Channel::value(uint32_t pixel) const {
    if (maximum == 0) return 0;
    const uint64_t v = (pixel & mask) >> shift;
    return static_cast<unsigned char>((v * 255u + maximum / 2) / maximum);
}

Status BmpReader::open(ByteView file, BmpDepths depths, ColourTableAt table) {
    file_ = file;
    info_ = BITMAPINFOHEADER{};
    if (!isBmp(file)) return refused(message::kNotBmp);
    if (file.size < kHeadersSize) return refused(message::kInvalidHeader);
    info_ = parseInfoHeader(file.data + kFileHeaderSize);
    pixelOffset_ = le32(file.data + kPixelOffsetField);

    const unsigned bits = info_.biBitCount;
    if (!depthAccepted(bits, depths)) return refused(message::kUnsupportedDepth);
    if (info_.biSize < kInfoHeaderSize) return refused(message::kInvalidHeader);
    // A negative height stores the rows top-down. The header handed on
    // describes the raster, whose rows always run top-down: it reports the
    // row count, positive.
    topDown_ = info_.biHeight < 0;
    const int64_t rows = topDown_ ? -int64_t(info_.biHeight) : int64_t(info_.biHeight);
    const Status size = checkPictureSize(info_.biWidth, rows);
    if (!size.ok()) return size;
    info_.biHeight = int32_t(rows);

    // Rows are padded to 4 bytes; only the last row's used bytes must be in
    // the file, as some writers leave its padding out. The sizes are small
    // enough for 64-bit arithmetic (524,280 pixels of 32 bits, 65535 rows).
    const uint64_t rowBits = uint64_t(info_.biWidth) * bits;
    stride_ = (rowBits + 31) / 32 * 4;
    const uint64_t rowsEnd = uint64_t(info_.biHeight - 1) * stride_ + (rowBits + 7) / 8;
    if (pixelOffset_ > file.size || rowsEnd > file.size - pixelOffset_) return refused(message::kInvalidHeader);

    if (bits <= 8) return readColourTable(table);
    if (bits == 32) return readChannels();
    return kSuccess;
}

// The table always has the full size for its depth. It must start inside
// the file; entries that would lie past its end read as black (files with a
// short table and a small picture end before a full table would).
Status BmpReader::readColourTable(ColourTableAt table) {
    const std::size_t entries = std::size_t(1) << info_.biBitCount;
    const uint64_t start = table == ColourTableAt::Offset54 ? kHeadersSize : kFileHeaderSize + uint64_t(info_.biSize);
    if (start + 4 > file_.size) return refused(message::kInvalidHeader);
    std::memset(colours_, 0, sizeof colours_);
    for (std::size_t i = 0; i < entries && start + 4 * i + 3 <= file_.size; ++i) {
        const unsigned char *entry = file_.data + start + 4 * i;
        std::memcpy(colours_[i], entry, 3);  // blue, green, red; the fourth byte is reserved
    }
    return kSuccess;
}

Status BmpReader::readChannels() {
    uint32_t masks[4] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u};  // red, green, blue, alpha
    const uint32_t compression = info_.biCompression;
    if (compression == kBitFields || compression == kAlphaBitFields) {
        const bool alphaMask = compression == kAlphaBitFields || info_.biSize >= kHeaderSizeWithAlphaMask;
        const std::size_t count = alphaMask ? 4 : 3;
        if (file_.size < kMasksOffset + 4 * count) return refused(message::kInvalidHeader);
        masks[3] = 0;
        for (std::size_t i = 0; i < count; ++i) masks[i] = le32(file_.data + kMasksOffset + 4 * i);
    } else if (compression != kRgb) {
        return refused(message::kUnsupportedDepth);
    }
    auto channel = [](uint32_t mask) {
        const unsigned shift = lowestSetBit(mask);
        return Channel{mask, shift, mask >> shift};
    };
    red_ = channel(masks[0]);
    green_ = channel(masks[1]);
    blue_ = channel(masks[2]);
    alpha_ = channel(masks[3]);
    // Many writers leave the fourth byte zero rather than opaque: an alpha
    // channel that is zero in every pixel is taken as absent.
    hasAlpha_ = alpha_.maximum != 0 && anyAlpha();
    return kSuccess;
}

bool BmpReader::anyAlpha() const {
    for (int k = 0; k < info_.biHeight; ++k) {
        const unsigned char *row = storedRow(k);
        for (int x = 0; x < info_.biWidth; ++x)
            if ((le32(row + 4 * x) & alpha_.mask) != 0) return true;
    }
    return false;
}

// 32 bits: each pixel's channels by their masks, its alpha laid over white.
void BmpReader::expandRow(const unsigned char *stored, unsigned char *bgr) const {
    for (int x = 0; x < info_.biWidth; ++x, bgr += 3) {
        const uint32_t pixel = le32(stored + 4 * x);
        const unsigned alpha = hasAlpha_ ? alpha_.value(pixel) : 255u;
        bgr[0] = overWhite(blue_.value(pixel), alpha);
        bgr[1] = overWhite(green_.value(pixel), alpha);
        bgr[2] = overWhite(red_.value(pixel), alpha);
    }
}

// 1, 4 and 8 bits: the colour-table index of each pixel, a byte each (8-bit
// rows already are that).
const unsigned char *BmpReader::indicesOf(const unsigned char *stored, unsigned char *indices) const {
    const int width = info_.biWidth;
    switch (info_.biBitCount) {
        case 1:
            for (int x = 0; x < width; ++x) indices[x] = stored[x / 8] >> (7 - x % 8) & 1u;
            return indices;
        case 4:
            for (int x = 0; x < width; ++x) indices[x] = stored[x / 2] >> (x % 2 == 0 ? 4 : 0) & 0xFu;
            return indices;
        default: return stored;
    }
}

Status BmpReader::sendRows(RowSink &sink) const {
    const int width = info_.biWidth, height = info_.biHeight;
    const unsigned bits = info_.biBitCount;
    // 24-bit rows already are blue, green, red and 8-bit rows indices: both
    // go out as stored. The others need a row: of indices, or of colours.
    Bytes row;
    if (bits != 24 && bits != 8) {
        row = allocateBytes(std::size_t(width) * (bits == 32 ? 3 : 1));
        if (!row) return noMemory(message::kNoMemoryForRows);
    }
    const Status begun = sink.begin(width, height);
    if (!begun.ok()) return begun;
    for (int r = 0; r < height; ++r) {
        const unsigned char *stored = storedRow(topDown_ ? r : height - 1 - r);
        if (bits == 24) {
            sink.row(stored);
        } else if (bits == 32) {
            expandRow(stored, row.get());
            sink.row(row.get());
        } else {
            sink.paletteRow(indicesOf(stored, row.get()), 0, width, colours_);
        }
    }
    return kSuccess;
}

}  // namespace vdl
