// The emulated printer: what it answers, what it keeps between commands (the
// paper, the label being composed) and the preview it writes for each print.
#ifndef VDL_EMULATOR_EMULATED_PRINTER_H
#define VDL_EMULATOR_EMULATED_PRINTER_H

#include <cstdint>
#include <string>
#include <vector>

#include "decoded_command.h"
#include "renderer.h"

namespace vdlemu {

struct PrinterConfig {
    std::string modelName = "VRL-408";  // the answer to the model query
    uint8_t status = 0;                 // the answer to the status query
    int dotsPerInch = 203;
    Paper paper;                        // until the paper commands say otherwise
    std::string previewDirectory = ".";
    bool render = true;                 // false: no previews
};

class EmulatedPrinter {
public:
    explicit EmulatedPrinter(PrinterConfig config);

    // Acts on one command and returns the bytes to send back (empty for
    // all but the queries). Adds to the command's notes what it did: the
    // answer sent, the preview written, a setting it could not take.
    std::string handle(Command &command);

    const Paper &paper() const { return paper_; }
    std::size_t pendingElements() const { return label_.size(); }
    int labelsPrinted() const { return labelsPrinted_; }

    // What one label holds at most (elements, and the bytes of their texts
    // and rasters); content past it is logged, not drawn.
    static constexpr std::size_t kMaxLabelElements = 10000;
    static constexpr std::size_t kMaxLabelBytes = std::size_t(64) << 20;

private:
    void setPaperSide(int &side, Command &command, const char *field);
    void keep(Command &command);
    void print(Command &command);
    void clearLabel();

    PrinterConfig config_;
    Paper paper_;
    std::vector<Command> label_;  // the content received since the last print
    std::size_t labelBytes_ = 0;
    Renderer renderer_;
    int labelsPrinted_ = 0;
};

}  // namespace vdlemu

#endif
