// What the fuzz targets share: no real pauses, and a printer at the other end
// of a socket pair that takes everything.
#ifndef VDL_FUZZ_SUPPORT_H
#define VDL_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vdlfuzz {

// Connects the library's default printer to one end of a socket pair; the
// other end is drained by drain(). Interface type as given.
void connectToSink(int interfaceType);
// The library's end of the sink, as the library holds it.
int libraryEnd();
// Reads what the library sent since the last call.
std::string drain();
// Puts bytes where the library reads the printer's replies (a status byte).
void answer(const std::string &bytes);

// Reads values from the fuzzer's input, front to back; zeros once it is used up.
class Input {
public:
    Input(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    int number();
    std::string text(std::size_t longest);
    // The next length bytes as they are, zeros past the end.
    std::string bytes(std::size_t length);
    bool empty() const { return at_ >= size_; }

private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace vdlfuzz

#endif
