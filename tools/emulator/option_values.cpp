#include "option_values.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "VdlLabelAPI.h"

namespace vdlemu {

const std::vector<StatusBit> &statusBits() {
    static const std::vector<StatusBit> kBits = {
        {"paper-presence", VDL_STATUS_PAPER_PRESENCE}, {"ribbon-end", VDL_STATUS_RIBBON_END},
        {"gap-error", VDL_STATUS_GAP_ERROR},           {"head-overheat", VDL_STATUS_HEAD_OVERHEAT},
        {"cutter-jam", VDL_STATUS_CUTTER_JAM},         {"cover-open", VDL_STATUS_COVER_OPEN},
        {"paper-empty", VDL_STATUS_PAPER_EMPTY}};
    return kBits;
}

namespace {

// The whole text as a number in strtol's base (0: decimal, 0x hex, 0 octal).
bool wholeNumber(const std::string &value, int base, long &number) {
    if (value.empty() || value.size() > 16) return false;
    char *end = nullptr;
    number = std::strtol(value.c_str(), &end, base);
    return *end == '\0';
}

bool positiveInches(const std::string &text, double &inches) {
    if (text.empty()) return false;
    char *end = nullptr;
    inches = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(inches) && inches > 0;
}

}  // namespace

bool parseStatus(const std::string &value, uint8_t &status) {
    long number = 0;
    if (wholeNumber(value, 0, number)) {
        status = uint8_t(number);
        return number >= 0 && number <= 255;
    }
    status = 0;
    std::size_t from = 0;
    while (from <= value.size()) {
        const std::size_t comma = std::min(value.find(',', from), value.size());
        const std::string name = value.substr(from, comma - from);
        const auto &bits = statusBits();
        const auto bit = std::find_if(bits.begin(), bits.end(), [&](const StatusBit &b) { return name == b.name; });
        if (bit == bits.end()) return false;
        status = uint8_t(status | bit->bit);
        from = comma + 1;
    }
    return true;
}

bool parseDotsPerInch(const std::string &value, int &dotsPerInch) {
    long number = 0;
    if (!wholeNumber(value, 10, number) || number < kMinDotsPerInch || number > kMaxDotsPerInch) return false;
    dotsPerInch = int(number);
    return true;
}

bool parsePaperInches(const std::string &value, double &width, double &height) {
    const std::size_t x = value.find('x');
    return x != std::string::npos && positiveInches(value.substr(0, x), width) &&
           positiveInches(value.substr(x + 1), height);
}

Paper paperInDots(double widthInches, double heightInches, int dotsPerInch) {
    const auto dots = [&](double inches) {
        return std::max(int(std::lround(std::min(inches * dotsPerInch, double(kMaxPaperSide)))), 1);
    };
    return Paper{dots(widthInches), dots(heightInches)};
}

}  // namespace vdlemu
