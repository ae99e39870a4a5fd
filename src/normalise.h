// The normalisation rules of the library: arguments out of range are never
// refused, they are clamped to the nearest bound or replaced by a default.
// Each rule is data (a range, a letter table) applied by one of the helpers here.
#ifndef VDL_NORMALISE_H
#define VDL_NORMALISE_H

#include <climits>
#include <cstddef>

namespace vdl {

struct Range {
    int low;
    int high;

    constexpr bool contains(int value) const { return value >= low && value <= high; }
};

// Out-of-range values take the nearest bound.
constexpr int clampTo(Range range, int value) {
    return value < range.low ? range.low : value > range.high ? range.high : value;
}

// A rule that replaces every value outside its range by one default.
struct DefaultRule {
    Range range;
    int fallback;

    constexpr int apply(int value) const { return range.contains(value) ? value : fallback; }
};

// A value written as a letter: the table lists the values that have one,
// every other value gets the fallback letter.
struct Letter {
    int value;
    char letter;
};

constexpr char letterFor(int value, const Letter *table, std::size_t count, char fallback) {
    for (std::size_t i = 0; i < count; ++i)
        if (table[i].value == value) return table[i].letter;
    return fallback;
}

template <std::size_t N>
constexpr char letterFor(int value, const Letter (&table)[N], char fallback) {
    return letterFor(value, table, N, fallback);
}

// A one-byte flag: any non-zero value is set.
constexpr char flagLetter(unsigned char flag, char set, char clear) { return flag != 0 ? set : clear; }
constexpr int flagNumber(unsigned char flag) { return flag != 0 ? 1 : 0; }

// The rotation code of every text field and barcode: 0 to 3, else 0.
constexpr DefaultRule kRotationRule{{0, 3}, 0};

}  // namespace vdl

#endif
