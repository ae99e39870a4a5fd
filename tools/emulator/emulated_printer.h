// The emulated printer: what it answers, what it keeps between commands (the
// paper, the label being composed) and the preview it writes for each print.
#ifndef VDL_EMULATOR_EMULATED_PRINTER_H
#define VDL_EMULATOR_EMULATED_PRINTER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
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
    std::string previewDirectory = ".";  // where the previews are written; empty: kept in memory only
    bool render = true;                 // false: no previews
    int previewLimit = 0;               // labels drawn at most (later ones are logged only); 0: no limit
    // Drawing work (dots visited, see Canvas) of one label, and of all the
    // labels of the printer's run (each is charged its paper's dots besides,
    // for its canvas and its PNG); labels past the second are logged only.
    uint64_t labelWork = kLabelWork;
    uint64_t runWork = kUnboundedWork;
    std::function<bool()> stillWanted;  // asked between elements: false stops drawing

    // About a third of a second of the costliest drawing (a slanted line)
    // on the machines we know, and a hundred times a 4 x 6 inch label at 203 dpi.
    static constexpr uint64_t kLabelWork = 100'000'000;
};

// Where a command came from, as the log numbers it: the connection, and the
// command's number within it.
struct CommandOrigin {
    int connection = 0;
    int sequence = 0;
};

// An element of a printed label and the box it drew on the paper.
struct DrawnElement {
    CommandOrigin origin;
    std::string code;      // the command's letters
    Box box;
    bool clipped = false;  // part of it fell off the paper
};

// A label as printed: its preview and where each of its elements went.
struct PrintedLabel {
    int number = 0;  // through the printer's run, from 1, as the preview files are numbered
    int width = 0;   // dots
    int height = 0;
    int dotsPerInch = 0;
    std::string png;
    std::vector<DrawnElement> elements;  // in the order they were drawn
    // Elements of the label not drawn whole (the drawing stopped within its
    // limits), the first of them at elements.size().
    std::size_t notDrawn = 0;
    std::string firstNotDrawn;  // "1.57 BD"
};

class EmulatedPrinter {
public:
    explicit EmulatedPrinter(PrinterConfig config);

    // Acts on one command and returns the bytes to send back (empty for
    // all but the queries). Adds to the command's notes what it did: the
    // answer sent, the preview written, a setting it could not take.
    // `origin` is kept with the label's content, to say which element drew where.
    std::string handle(Command &command, CommandOrigin origin = {});

    // The label the last command printed, once, if it printed one that was drawn.
    std::optional<PrintedLabel> takePrinted();

    // The answer to the status query can change while the printer runs (from
    // another thread too).
    void setStatus(uint8_t status) { status_ = status; }
    uint8_t status() const { return status_; }

    const Paper &paper() const { return paper_; }
    std::size_t pendingElements() const { return label_.size(); }
    int labelsPrinted() const { return labelsPrinted_; }

    // What one label holds at most (elements, and the bytes of their texts
    // and rasters); content past it is logged, not drawn.
    static constexpr std::size_t kMaxLabelElements = 10000;
    static constexpr std::size_t kMaxLabelBytes = std::size_t(64) << 20;

private:
    void setPaperSide(int &side, Command &command, const char *field);
    void keep(Command &command, CommandOrigin origin);
    void print(Command &command);
    void savePreview(const PrintedLabel &label, Command &command, std::vector<std::string> &problems);
    void clearLabel();
    uint64_t paperDots() const;

    PrinterConfig config_;
    Paper paper_;
    std::vector<Command> label_;  // the content received since the last print
    std::vector<CommandOrigin> origins_;  // where each element of label_ came from
    std::size_t labelBytes_ = 0;
    Renderer renderer_;
    int labelsPrinted_ = 0;
    uint64_t runWorkLeft_;
    std::optional<PrintedLabel> printed_;
    std::atomic<uint8_t> status_;
};

}  // namespace vdlemu

#endif
