// ZPL's barcode commands as the printer's barcode calls. Each command is
// one row of a table: which call, which of its parameters carry the
// orientation, height and human-readable line, and how its data is read.
#ifndef VDL_ZPL_SYMBOLS_H
#define VDL_ZPL_SYMBOLS_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vdlzpl {

// ^BY: what the linear symbols of a label share.
struct BarDefaults {
    int moduleWidth = 2;
    double ratio = 3.0;
    int barHeight = 10;
};

struct Symbol {
    std::function<int(int x, int y)> call;  // the library call, placed at x, y
    int rotation = 0;
    long width = 0;      // across the symbol's own frame, in dots (0 when unknown)
    long height = 0;     // down its frame, human-readable line included
    long barHeight = 0;  // the bars (or the symbol) alone: ^FT's baseline is their bottom
};

// Whether the command is a barcode command this translator knows.
bool isBarcodeCommand(const std::string &name);

// The call for a barcode command with its parameters and field data. False
// when the symbol cannot be made (problem says why; symbol.call may still be
// set when the printer is left to decide); true with a non-empty problem for
// something approximated.
bool describeSymbol(const std::string &name, const std::vector<std::string> &parameters, const std::string &data,
                    const BarDefaults &defaults, char defaultOrientation,
                    Symbol &symbol, std::string &problem);

}  // namespace vdlzpl

#endif
