// One page of a raster job as the worker's page request carries it: a
// PageHeader, then height rows of (width + 7) / 8 bytes. Filled row by row as
// the raster arrives; no PAPPL in here.
#ifndef VDL_PRINTER_APP_PAGE_PAYLOAD_H
#define VDL_PRINTER_APP_PAGE_PAYLOAD_H

#include <cstddef>
#include <vector>

#include "protocol.h"

namespace vdlapp {

class PagePayload {
public:
    // An all-white page; false (and no page) when a side is 0 or beyond the
    // 65535 dots a bitmap command can carry.
    bool start(unsigned width, unsigned height, int copies);

    // Row y as the raster delivers it, lineBytes long: bytes past the page's
    // row and rows past its height are dropped, a short row stays white at its end.
    void writeRow(unsigned y, const unsigned char *line, std::size_t lineBytes);

    // The page request's payload.
    const std::vector<unsigned char> &bytes() const { return bytes_; }

private:
    unsigned height_ = 0;
    std::size_t rowBytes_ = 0;
    std::vector<unsigned char> bytes_;
};

}  // namespace vdlapp

#endif
