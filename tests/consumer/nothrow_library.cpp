#include "nothrow_library.h"

#include <VdlLabelAPI.hpp>

std::error_code printPictureLabel(const char *port, const char *picture) {
    std::error_code error;
    vdl::NothrowPrinter printer(port, error);
    if (error) return error;
    const vdl::Raster raster = vdl::Raster::load(picture, error, 64);
    if (!error) error = printer.printRaster(raster, 20, 20);
    if (!error) error = printer.print();
    return error;
}

bool isImageOpen(std::error_code error) { return error == vdl::Errc::image_open; }

const void *connectionStateSeen() { return &vdl::detail::connection(); }
