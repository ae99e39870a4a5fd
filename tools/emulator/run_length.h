// Decoder of the run-length stream of the compressed bitmap command.
//
// The stream encodes the raster's bytes as one sequence, row boundaries
// ignored: 0x00 n stands for n white bytes, 0xFF n for n black bytes
// (n from 1 to 255), and any other byte for itself. The stream carries no
// length: it ends when it has produced the raster's widthBytes x height bytes.
#ifndef VDL_EMULATOR_RUN_LENGTH_H
#define VDL_EMULATOR_RUN_LENGTH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vdlemu {

class RunLengthDecoder {
public:
    enum class State { NeedMore, Done, Malformed };

    explicit RunLengthDecoder(std::size_t expectedBytes);

    // Decodes on from where the last call stopped. `stream` is everything
    // received of the stream so far, from its first byte; bytes may arrive in
    // pieces, a run's count byte included.
    State decode(const uint8_t *stream, std::size_t available);

    std::size_t consumed() const { return consumed_; }  // stream bytes used so far
    std::vector<uint8_t> &output() { return output_; }
    const std::string &problem() const { return problem_; }

private:
    State fail(std::string why);

    std::size_t expected_;
    std::size_t consumed_ = 0;
    std::vector<uint8_t> output_;
    std::string problem_;
};

}  // namespace vdlemu

#endif
