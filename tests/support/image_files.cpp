#include "image_files.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace vdltest {

void put32(std::string &bytes, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = char(value >> (8 * i) & 0xFF);
}

Picture randomPicture(int width, int height, const std::vector<uint32_t> &colours, unsigned seed) {
    Picture picture(width, height);
    std::mt19937 random(seed);
    for (uint32_t &pixel : picture.argb) pixel = colours[random() % colours.size()];
    return picture;
}

std::vector<uint8_t> expectedRaster(const Picture &picture) {
    const int rowBytes = (picture.width + 7) / 8;
    std::vector<uint8_t> raster(std::size_t(rowBytes) * picture.height, 0);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const uint32_t p = picture.argb[std::size_t(y) * picture.width + x];
            if ((p >> 24) != 0 && (p & 0xFFFFFF) != 0xFFFFFF) raster[std::size_t(y) * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    return raster;
}

std::string pngArt(const Picture &picture) {
    Picture reduced = picture;
    for (uint32_t &p : reduced.argb) {
        const unsigned alpha = p >> 24;
        auto overWhite = [&](unsigned channel) { return (channel * alpha + 255 * (255 - alpha)) / 255.0; };
        const double grey = 0.2126 * overWhite(p >> 16 & 0xFF) + 0.7152 * overWhite(p >> 8 & 0xFF) + 0.0722 * overWhite(p & 0xFF);
        p = grey < 128 ? kBlack : kWhite;
    }
    return art(reduced);
}

std::string pngChunk(const std::string &type, const std::string &data) {
    std::string chunk;
    auto put = [&](uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) chunk += char(value >> shift & 0xFF);
    };
    put(uint32_t(data.size()));
    const std::string body = type + data;
    chunk += body;
    put(uint32_t(crc32(0, reinterpret_cast<const Bytef *>(body.data()), uInt(body.size()))));
    return chunk;
}

std::string pngHeader(uint32_t width, uint32_t height, int bitDepth, int colourType) {
    std::string ihdr;
    for (uint32_t value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) ihdr += char(value >> shift & 0xFF);
    ihdr += std::string{char(bitDepth), char(colourType), 0, 0, 0};
    return "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", ihdr);
}

std::string pngZeroRows(std::size_t rowBytes, uint32_t rows) {
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    const std::string row(rowBytes + 1, '\0');  // the filter byte, then the row
    std::string out(64 * 1024, '\0');
    std::string data;
    for (uint32_t y = 0; y <= rows; ++y) {
        const bool last = y == rows;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(row.data()));
        z.avail_in = last ? 0 : uInt(row.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(out.data());
            z.avail_out = uInt(out.size());
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            data.append(out.data(), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return data;
}

std::string rasterArt(const std::vector<uint8_t> &raster, int width, int height) {
    const int rowBytes = (width + 7) / 8;
    if (width < 0 || height < 0 || raster.size() < std::size_t(rowBytes) * height) return "(no raster)";
    std::string art;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < rowBytes * 8; ++x) {
            const bool set = raster[std::size_t(y) * rowBytes + x / 8] >> (7 - x % 8) & 1;
            if (x < width || set) art += x >= width ? '!' : set ? '#' : '.';
        }
        art += '\n';
    }
    return art;
}

std::string bmpFile(int width, int height, const std::vector<uint32_t> &pixels, const BmpLayout &layout) {
    const int bits = layout.bitCount;
    const std::size_t stride = (std::size_t(width) * bits + 31) / 32 * 4;
    const std::size_t offset = 14 + layout.headerSize + 4 * layout.palette.size();
    std::string file(offset + stride * height, '\0');
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, uint32_t(file.size()));
    put32(file, 10, uint32_t(offset));
    put32(file, 14, layout.headerSize);
    put32(file, 18, uint32_t(width));
    put32(file, 22, uint32_t(layout.topDown ? -height : height));
    put32(file, 26, 1 | uint32_t(bits) << 16);
    put32(file, 30, layout.compression);
    put32(file, 34, uint32_t(stride * height));
    for (std::size_t i = 0; i < layout.palette.size(); ++i) put32(file, 14 + layout.headerSize + 4 * i, layout.palette[i]);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const int x = int(i % width), y = int(i / width);
        const std::size_t row = offset + std::size_t(layout.topDown ? y : height - 1 - y) * stride;
        const uint32_t p = pixels[i];
        switch (bits) {
            case 1: file[row + x / 8] = char(file[row + x / 8] | (p & 1) << (7 - x % 8)); break;
            case 4: file[row + x / 2] = char(file[row + x / 2] | (p & 0xF) << (x % 2 == 0 ? 4 : 0)); break;
            case 8: file[row + x] = char(p); break;
            case 24: file.replace(row + 3 * x, 3, std::string{char(p), char(p >> 8), char(p >> 16)}); break;
            case 32: put32(file, row + 4 * x, p); break;
        }
    }
    return file;
}

std::string pamFile(const Picture &picture) {
    std::ostringstream out;
    out << "P7\nWIDTH " << picture.width << "\nHEIGHT " << picture.height
        << "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (uint32_t p : picture.argb) out << char(p >> 16 & 0xFF) << char(p >> 8 & 0xFF) << char(p & 0xFF) << char(p >> 24);
    return out.str();
}

#ifndef VDL_TEST_CONVERT
#define VDL_TEST_CONVERT ""
#endif

bool haveConvert() { return access(VDL_TEST_CONVERT, X_OK) == 0; }

bool runConvert(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), VDL_TEST_CONVERT);
    return haveConvert() && runProgram(arguments).exitCode == 0;
}

std::string TempDir::write(const std::string &name, const std::string &bytes) const {
    const std::string path = file(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::set<std::string> TempDir::names() const {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(path())) names.insert(entry.path().filename());
    return names;
}

namespace {
enum class Loader { TrueColour, Monochrome, ByContent };

Loaded loadWith(const std::string &path, int targetWidth, Loader loader) {
    unsigned char *image = reinterpret_cast<unsigned char *>(1);  // must be replaced
    Loaded loaded;
    loaded.code = loader == Loader::Monochrome ? loadImage1(path.c_str(), &image, &loaded.info)
                  : loader == Loader::ByContent ? VdlLoadPicture(path.c_str(), &image, &loaded.info, targetWidth)
                                                    : loadImage(path.c_str(), &image, &loaded.info, targetWidth);
    if (loaded.code != 0 && image != nullptr) loaded.code = -1000;
    if (loaded.code != 0) return loaded;
    loaded.raster.assign(image, image + std::size_t((loaded.info.biWidth + 7) / 8) * loaded.info.biHeight);
    std::free(image);
    return loaded;
}
}  // namespace

Loaded load(const std::string &path, int targetWidth, bool monochrome) {
    return loadWith(path, targetWidth, monochrome ? Loader::Monochrome : Loader::TrueColour);
}

Loaded loadByContent(const std::string &path, int targetWidth) { return loadWith(path, targetWidth, Loader::ByContent); }

}  // namespace vdltest
