// A bitmap's raster as it arrives, and the decoder of the compressed bitmap
// command's run-length stream.
//
// The stream encodes the raster's bytes as one sequence, row boundaries
// ignored: 0x00 n stands for n white bytes, 0xFF n for n black bytes
// (n from 1 to 255), and any other byte for itself. The stream carries no
// length: it ends when it has produced the raster's widthBytes x height bytes.
#ifndef VDL_EMULATOR_RUN_LENGTH_H
#define VDL_EMULATOR_RUN_LENGTH_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "decoded_command.h"

namespace vdlemu {

// Collects a raster row by row. A bitmap's corner is never left of or above
// the paper's (x and y are unsigned), so only its first kMaxPaperSide rows
// and kMaxPaperSide / 8 bytes of each row can land on any paper the emulator
// draws: those are kept, the rest is counted and passed over. A bitmap thus
// takes at most 4.5 MB, whatever size its header announces, and memory grows
// only as its bytes arrive.
class RasterBuilder {
public:
    static constexpr int kKeptWidthBytes = kMaxPaperSide / 8;
    static constexpr int kKeptRows = kMaxPaperSide;

    RasterBuilder(int widthBytes, int height);

    void append(const uint8_t *bytes, std::size_t count);
    void repeat(uint8_t byte, std::size_t count);
    std::size_t missing() const { return total_ - received_; }  // bytes still to come
    bool cropped() const { return std::size_t(kept_->widthBytes) < widthBytes_ || kept_->height < height_; }
    std::shared_ptr<const Raster> take();

private:
    // Places `count` raster bytes from the current position: from `bytes`,
    // or `fill` repeated when bytes is null.
    void place(const uint8_t *bytes, uint8_t fill, std::size_t count);

    std::size_t widthBytes_;
    int height_;
    std::size_t total_;
    std::size_t received_ = 0;
    std::shared_ptr<Raster> kept_;
};

class RunLengthDecoder {
public:
    // Decodes stream bytes into `raster` until it is whole; returns the
    // number of bytes used. A run's byte and its count may arrive in separate
    // calls. The decoder never gives up inside a stream, so the bytes of a
    // faulty one are still never taken for commands: a run with the count 0
    // adds nothing, a run past the raster's end is cut there, and the first
    // such fault is kept as the problem.
    std::size_t decode(const uint8_t *stream, std::size_t count, RasterBuilder &raster);

    std::size_t consumed() const { return consumed_; }  // stream bytes used so far
    const std::string &problem() const { return problem_; }

private:
    void fault(const std::string &why);

    int runByte_ = -1;  // the byte of a run whose count has not arrived
    std::size_t consumed_ = 0;
    std::string problem_;
};

}  // namespace vdlemu

#endif
