#include "image_files.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace vdltest {
namespace {

void put16(std::string &s, std::size_t at, uint32_t v) {
    s[at] = char(v & 0xFF);
    s[at + 1] = char(v >> 8 & 0xFF);
}
void put32(std::string &s, std::size_t at, uint32_t v) {
    put16(s, at, v & 0xFFFF);
    put16(s, at + 2, v >> 16);
}

bool whitePixel(uint32_t argb) { return (argb >> 24) == 0 || (argb & 0xFFFFFF) == 0xFFFFFF; }

}  // namespace

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
        for (int x = 0; x < picture.width; ++x)
            if (!whitePixel(picture.at(x, y))) raster[std::size_t(y) * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
    return raster;
}

std::string rasterArt(const std::vector<uint8_t> &raster, int width, int height) {
    const int rowBytes = (width + 7) / 8;
    if (width < 0 || height < 0 || raster.size() < std::size_t(rowBytes) * height) return "(no raster)";
    std::string art;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) art += (raster[std::size_t(y) * rowBytes + x / 8] >> (7 - x % 8) & 1) ? '#' : '.';
        // Bits past the width must stay clear.
        for (int x = width; x < rowBytes * 8; ++x)
            if (raster[std::size_t(y) * rowBytes + x / 8] >> (7 - x % 8) & 1) art += '!';
        art += '\n';
    }
    return art;
}

std::string bmpFile(int width, int height, const std::vector<uint32_t> &pixels, const BmpLayout &layout) {
    const int bits = layout.bitCount;
    const std::size_t stride = (std::size_t(width) * bits + 31) / 32 * 4;
    const std::size_t tableSize = 4 * layout.palette.size();
    const std::size_t offset = 14 + layout.headerSize + tableSize;
    std::string file(offset + stride * height, '\0');
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, uint32_t(file.size()));
    put32(file, 10, uint32_t(offset));
    put32(file, 14, layout.headerSize);
    put32(file, 18, uint32_t(width));
    put32(file, 22, uint32_t(height));
    put16(file, 26, 1);
    put16(file, 28, uint32_t(bits));
    put32(file, 30, layout.compression);
    put32(file, 34, uint32_t(stride * height));
    std::size_t at = 14 + layout.headerSize;
    for (uint32_t colour : layout.palette) {
        put32(file, at, colour & 0xFFFFFF);
        at += 4;
    }
    for (int y = 0; y < height; ++y) {
        const std::size_t row = offset + std::size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[std::size_t(y) * width + x];
            switch (bits) {
                case 1: file[row + x / 8] = char(file[row + x / 8] | (p & 1) << (7 - x % 8)); break;
                case 4: file[row + x / 2] = char(file[row + x / 2] | (p & 0xF) << (x % 2 == 0 ? 4 : 0)); break;
                case 8: file[row + x] = char(p); break;
                case 24:
                    file[row + 3 * x] = char(p & 0xFF);
                    file[row + 3 * x + 1] = char(p >> 8 & 0xFF);
                    file[row + 3 * x + 2] = char(p >> 16 & 0xFF);
                    break;
                case 32: put32(file, row + 4 * x, p); break;
            }
        }
    }
    return file;
}

Picture paletteAsPicture(int width, int height, const std::vector<uint32_t> &indices,
                         const std::vector<uint32_t> &palette) {
    Picture picture(width, height);
    for (std::size_t i = 0; i < indices.size(); ++i) picture.argb[i] = 0xFF000000 | palette[indices[i]];
    return picture;
}

std::string pamFile(const Picture &picture) {
    std::ostringstream out;
    out << "P7\nWIDTH " << picture.width << "\nHEIGHT " << picture.height
        << "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (uint32_t p : picture.argb) out << char(p >> 16 & 0xFF) << char(p >> 8 & 0xFF) << char(p & 0xFF) << char(p >> 24);
    return out.str();
}

Picture readPpm(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maximum = 0;
    in >> magic >> width >> height >> maximum;
    in.get();
    if (magic != "P6" || maximum != 255 || width <= 0 || height <= 0) return Picture(0, 0);
    Picture picture(width, height);
    for (uint32_t &p : picture.argb) {
        unsigned char rgb[3];
        in.read(reinterpret_cast<char *>(rgb), 3);
        p = 0xFF000000u | uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
    }
    return in ? picture : Picture(0, 0);
}

bool haveConvert() {
#ifdef VDL_TEST_CONVERT
    return access(VDL_TEST_CONVERT, X_OK) == 0;
#else
    return false;
#endif
}

bool runConvert(const std::vector<std::string> &arguments) {
#ifdef VDL_TEST_CONVERT
    std::vector<std::string> all{VDL_TEST_CONVERT};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runProgram(all).exitCode == 0;
#else
    (void)arguments;
    return false;
#endif
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

Loaded copyOut(int code, unsigned char *image, const BITMAPINFOHEADER &info) {
    Loaded loaded;
    loaded.code = code;
    loaded.info = info;
    if (code == 0) {
        const std::size_t size = std::size_t((info.biWidth + 7) / 8) * std::size_t(info.biHeight);
        loaded.raster.assign(image, image + size);
        std::free(image);
    }
    return loaded;
}

}  // namespace

Loaded load(const std::string &path, int targetWidth) {
    unsigned char *image = reinterpret_cast<unsigned char *>(1);  // must be replaced
    BITMAPINFOHEADER info{};
    const int code = loadImage(path.c_str(), &image, &info, targetWidth);
    if (code != 0 && image != nullptr) return Loaded{-1000, info, {}};  // a failed load left a pointer behind
    return copyOut(code, image, info);
}

Loaded load1(const std::string &path) {
    unsigned char *image = reinterpret_cast<unsigned char *>(1);
    BITMAPINFOHEADER info{};
    const int code = loadImage1(path.c_str(), &image, &info);
    if (code != 0 && image != nullptr) return Loaded{-1000, info, {}};
    return copyOut(code, image, info);
}

}  // namespace vdltest
