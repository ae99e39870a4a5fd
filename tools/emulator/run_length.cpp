#include "run_length.h"

namespace vdlemu {

namespace {

bool startsRun(uint8_t byte) { return byte == 0x00 || byte == 0xFF; }

}  // namespace

RunLengthDecoder::RunLengthDecoder(std::size_t expectedBytes) : expected_(expectedBytes) {
    output_.reserve(expectedBytes);
}

RunLengthDecoder::State RunLengthDecoder::decode(const uint8_t *stream, std::size_t available) {
    while (output_.size() < expected_) {
        if (consumed_ >= available) return State::NeedMore;
        const uint8_t byte = stream[consumed_];
        if (!startsRun(byte)) {
            output_.push_back(byte);
            ++consumed_;
            continue;
        }
        if (consumed_ + 1 >= available) return State::NeedMore;  // the count has not arrived yet
        const uint8_t count = stream[consumed_ + 1];
        if (count == 0) return fail("a run with the count 0 at stream offset " + std::to_string(consumed_));
        if (output_.size() + count > expected_)
            return fail("a run of " + std::to_string(count) + " bytes at stream offset " + std::to_string(consumed_) +
                        " passes the end of the raster");
        output_.insert(output_.end(), count, byte);
        consumed_ += 2;
    }
    return State::Done;
}

RunLengthDecoder::State RunLengthDecoder::fail(std::string why) {
    problem_ = std::move(why);
    return State::Malformed;
}

}  // namespace vdlemu
