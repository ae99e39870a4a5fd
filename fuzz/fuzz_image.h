// What the three image targets share: the first byte of an input picks the
// loader (loadImage, loadImage1, or VdlLoadPicture, which also reads PNG),
// the file's name and a rescaling; the rest is the file, loaded from memory
// the way the loaders load it once read. The converter goes by the
// content, so any target may meet any format: every input is first shrunk to
// small pictures, whatever its format, so that each decodes in a moment.
#ifndef VDL_FUZZ_IMAGE_H
#define VDL_FUZZ_IMAGE_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zlib.h>

#include "VdlLabelAPI.h"
#include "picture.h"

namespace vdlfuzz {

constexpr unsigned kLargestSide = 64;

// A 16-bit field of the file made at most `largest`.
inline void capField(std::string &file, std::size_t at, bool bigEndian, unsigned largest) {
    if (at + 2 > file.size()) return;
    unsigned char *p = reinterpret_cast<unsigned char *>(&file[at]);
    unsigned value = bigEndian ? unsigned(p[0]) << 8 | p[1] : unsigned(p[1]) << 8 | p[0];
    if (value <= largest) return;
    value %= largest + 1;
    p[bigEndian ? 0 : 1] = static_cast<unsigned char>(value >> 8);
    p[bigEndian ? 1 : 0] = static_cast<unsigned char>(value);
}

// JPEG: a frame header (SOF0 to SOF15) may claim 65500 x 65500 pixels in a
// few bytes, which libjpeg would decode, as grey, for seconds. FF Cn, length
// (2), precision (1), height (2), width (2), big-endian.
inline bool isFrameHeader(unsigned char marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}
inline void shrinkJpeg(std::string &file) {
    // memchr finds the markers: a byte-by-byte loop here would cost more
    // coverage callbacks than the decoding itself.
    for (std::size_t at = 0; at + 9 <= file.size(); ++at) {
        const void *marker = std::memchr(&file[at], 0xFF, file.size() - 8 - at);
        if (marker == nullptr) return;
        at = std::size_t(static_cast<const char *>(marker) - file.data());
        if (!isFrameHeader(static_cast<unsigned char>(file[at + 1]))) continue;
        capField(file, at + 5, true, kLargestSide);
        capField(file, at + 7, true, kLargestSide);
    }
}

// GIF: the logical screen and the first frame may claim 65535 x 65535 pixels,
// whose rows would be laid out white for seconds. "GIF89a", screen width and
// height (little-endian), flags, background, aspect, the global colour table,
// extensions (sub-blocks up to an empty one), then the frame: left, top,
// width, height.
inline std::size_t skipSubBlocks(const std::string &file, std::size_t at) {
    while (at < file.size() && file[at] != '\0') at += static_cast<unsigned char>(file[at]) + 1u;
    return at + 1;
}
inline void shrinkGif(std::string &file) {
    capField(file, 6, false, kLargestSide);
    capField(file, 8, false, kLargestSide);
    if (file.size() < 13) return;
    const unsigned flags = static_cast<unsigned char>(file[10]);
    std::size_t at = 13 + (flags & 0x80 ? 3u << ((flags & 7) + 1) : 0);
    while (at < file.size() && file[at] == '!') at = skipSubBlocks(file, at + 2);
    if (at < file.size() && file[at] == ',')
        for (std::size_t field = at + 1; field < at + 9; field += 2) capField(file, field, false, kLargestSide);
}

// PNG: the header may claim 524280 x 65535 pixels, whose rows libpng would
// inflate for long. Signature (8), chunk length (4), "IHDR", width and
// height (4 each, big-endian), five bytes more, the chunk's CRC, which is
// mended so that the header still reads.
inline void shrinkPng(std::string &file) {
    if (file.size() < 33 || file.compare(12, 4, "IHDR") != 0) return;
    for (std::size_t at : {16u, 20u}) {
        file[at] = file[at + 1] = '\0';
        capField(file, at + 2, true, kLargestSide);
    }
    const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(&file[12]), 17);
    for (int i = 0; i < 4; ++i) file[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
}

// BMP needs nothing: the reader checks every row against the file, so its
// pictures are never larger than the input.
inline void shrinkPicture(std::string &file) {
    if (file.compare(0, 4, "GIF8") == 0) shrinkGif(file);
    if (file.compare(0, 2, "\xFF\xD8") == 0) shrinkJpeg(file);
    if (file.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) shrinkPng(file);
}

// Loads the file and checks what comes back: a failure hands out nothing, a
// success a raster as large as info says (the sanitizer checks both ends).
template <std::size_t NameCount>
void loadAndCheck(const uint8_t *data, std::size_t size, const char *const (&names)[NameCount]) {
    if (size == 0) return;
    const unsigned choice = data[0];
    std::string file(reinterpret_cast<const char *>(data + 1), size - 1);
    shrinkPicture(file);
    // Bits 3 to 5 are a target width when bit 6 asks for rescaling, else bit 5 picks VdlLoadPicture.
    const bool rescaling = choice & 0x40;
    const auto loader = choice & 0x80                 ? vdl::ImageLoader::LoadImage1
                        : !rescaling && choice & 0x20 ? vdl::ImageLoader::ByContent
                                                      : vdl::ImageLoader::LoadImage;
    const int targetWidth = rescaling ? int(choice >> 3 & 7) + 1 : 0;  // small: rescaling costs per pixel
    unsigned char *image = reinterpret_cast<unsigned char *>(1);
    BITMAPINFOHEADER info{};
    const vdl::ByteView bytes{reinterpret_cast<const unsigned char *>(file.data()), file.size()};
    const int result = vdl::loadImageBytes(loader, names[(choice & 7) % NameCount], bytes, &image, &info, targetWidth);
    if (result != 0) {
        if (image != nullptr || result > 0) __builtin_trap();
        return;
    }
    if (info.biWidth < 1 || info.biHeight < 0) __builtin_trap();
    const std::size_t rasterBytes = std::size_t((info.biWidth + 7) / 8) * std::size_t(info.biHeight);
    if (rasterBytes != 0) {
        volatile unsigned char ends = image[0] ^ image[rasterBytes - 1];
        (void)ends;
    }
    std::free(image);
}

}  // namespace vdlfuzz

#endif
