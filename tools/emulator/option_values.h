// The values of the emulator's options, which the render service's requests
// take too, read in one place.
#ifndef VDL_EMULATOR_OPTION_VALUES_H
#define VDL_EMULATOR_OPTION_VALUES_H

#include <cstdint>
#include <string>
#include <vector>

#include "renderer.h"

namespace vdlemu {

// The status answer's error bits by name (the library's status bits).
struct StatusBit {
    const char *name;
    uint8_t bit;
};
const std::vector<StatusBit> &statusBits();

// A number (0x40, 64) or bit names joined by commas ("cover-open,paper-empty").
bool parseStatus(const std::string &value, uint8_t &status);

constexpr int kMinDotsPerInch = 50;
constexpr int kMaxDotsPerInch = 1200;
// A whole number of dots per inch, kMinDotsPerInch to kMaxDotsPerInch.
bool parseDotsPerInch(const std::string &value, int &dotsPerInch);

// "WxH" in inches, both above 0 ("4x6", "2.25x1.25").
bool parsePaperInches(const std::string &value, double &width, double &height);
// The paper in dots, each side 1 to kMaxPaperSide.
Paper paperInDots(double widthInches, double heightInches, int dotsPerInch);

}  // namespace vdlemu

#endif
