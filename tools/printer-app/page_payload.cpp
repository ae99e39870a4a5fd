#include "page_payload.h"

#include <algorithm>
#include <cstring>

namespace vdlapp {

bool PagePayload::start(unsigned width, unsigned height, int copies) {
    height_ = 0;
    rowBytes_ = 0;
    bytes_.clear();
    if (width < 1 || height < 1 || width > 65535 || height > 65535) return false;
    const PageHeader header{int(width), int(height), copies};
    height_ = height;
    rowBytes_ = (width + 7) / 8;
    bytes_.assign(sizeof header + rowBytes_ * height, 0);
    std::memcpy(bytes_.data(), &header, sizeof header);
    return true;
}

void PagePayload::writeRow(unsigned y, const unsigned char *line, std::size_t lineBytes) {
    if (y >= height_) return;
    std::memcpy(bytes_.data() + sizeof(PageHeader) + std::size_t(y) * rowBytes_, line, std::min(rowBytes_, lineBytes));
}

}  // namespace vdlapp
