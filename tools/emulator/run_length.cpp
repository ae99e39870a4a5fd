#include "run_length.h"

#include <algorithm>
#include <cstring>

namespace vdlemu {

RasterBuilder::RasterBuilder(int widthBytes, int height)
    : widthBytes_(std::size_t(widthBytes)),
      height_(height),
      total_(std::size_t(widthBytes) * std::size_t(height)),
      kept_(std::make_shared<Raster>()) {
    kept_->widthBytes = std::min(widthBytes, kKeptWidthBytes);
    kept_->height = std::min(height, kKeptRows);
}

void RasterBuilder::append(const uint8_t *bytes, std::size_t count) { place(bytes, 0, count); }

void RasterBuilder::repeat(uint8_t byte, std::size_t count) { place(nullptr, byte, count); }

void RasterBuilder::place(const uint8_t *bytes, uint8_t fill, std::size_t count) {
    const auto keptWidth = std::size_t(kept_->widthBytes);
    count = std::min(count, missing());
    while (count > 0) {
        const std::size_t row = received_ / widthBytes_, column = received_ % widthBytes_;
        const std::size_t n = std::min(count, widthBytes_ - column);
        if (row < std::size_t(kept_->height) && column < keptWidth) {
            const std::size_t kept = std::min(n, keptWidth - column);
            std::vector<uint8_t> &out = kept_->bytes;
            out.resize(std::max(out.size(), (row + 1) * keptWidth));  // grows as rows arrive
            uint8_t *at = out.data() + row * keptWidth + column;
            if (bytes != nullptr) std::memcpy(at, bytes, kept);
            else std::memset(at, fill, kept);
        }
        if (bytes != nullptr) bytes += n;
        received_ += n;
        count -= n;
    }
}

std::shared_ptr<const Raster> RasterBuilder::take() {
    kept_->bytes.resize(std::size_t(kept_->widthBytes) * std::size_t(kept_->height));
    return kept_;
}

std::size_t RunLengthDecoder::decode(const uint8_t *stream, std::size_t count, RasterBuilder &raster) {
    std::size_t used = 0;
    while (used < count && raster.missing() > 0) {
        const uint8_t byte = stream[used++];
        ++consumed_;
        if (runByte_ < 0 && byte != 0x00 && byte != 0xFF) {
            raster.repeat(byte, 1);
        } else if (runByte_ < 0) {
            runByte_ = byte;
        } else {
            if (byte == 0) fault("a run with the count 0");
            else if (byte > raster.missing()) fault("a run of " + std::to_string(byte) + " bytes past the end of the raster");
            raster.repeat(uint8_t(runByte_), byte);
            runByte_ = -1;
        }
    }
    return used;
}

void RunLengthDecoder::fault(const std::string &why) {
    if (problem_.empty()) problem_ = why + " at stream offset " + std::to_string(consumed_ - 2);
}

}  // namespace vdlemu
