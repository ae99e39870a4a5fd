#include "png_raster.h"

#include <png.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace {

constexpr int kMaxSide = 65535;                  // the bitmap commands' limit
constexpr unsigned long kMaxPixels = 1ul << 27;  // as the library's own loaders
constexpr unsigned kMidGrey = 128;

}  // namespace

bool isPngFile(const std::string &path) {
    unsigned char signature[8] = {};
    std::ifstream file(path, std::ios::binary);
    return file.read(reinterpret_cast<char *>(signature), sizeof signature) &&
           png_sig_cmp(signature, 0, sizeof signature) == 0;
}

std::optional<vdl::Raster> readPngRaster(const std::string &path, std::string &problem) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    std::unique_ptr<png_image, void (*)(png_imagep)> release(&image, png_image_free);
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        problem = std::string("not a readable PNG picture (") + image.message + ")";
        return std::nullopt;
    }
    if (image.width > kMaxSide || image.height > kMaxSide ||
        static_cast<unsigned long>(image.width) * image.height > kMaxPixels) {
        problem = "the picture is too large for the printer";
        return std::nullopt;
    }
    image.format = PNG_FORMAT_GRAY;  // alpha composed over the background below
    std::vector<png_byte> grey(PNG_IMAGE_SIZE(image));
    png_color white = {255, 255, 255};
    if (!png_image_finish_read(&image, &white, grey.data(), 0, nullptr)) {
        problem = std::string("damaged PNG data (") + image.message + ")";
        return std::nullopt;
    }
    vdl::Raster raster(int(image.width), int(image.height));
    for (png_uint_32 y = 0; y < image.height; ++y)
        for (png_uint_32 x = 0; x < image.width; ++x)
            if (grey[std::size_t(y) * image.width + x] < kMidGrey) raster.setBlack(int(x), int(y));
    return raster;
}
