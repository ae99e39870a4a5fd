#include "emulated_printer.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace vdlemu {

namespace {

bool isLabelContent(const std::string &code) {
    for (const char *content : {"T", "V", "BD", "CD", "B1", "B2", "B3", "LD", "LCR"})
        if (code == content) return true;
    return false;
}

std::string hexByte(uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

}  // namespace

EmulatedPrinter::EmulatedPrinter(PrinterConfig config)
    : config_(std::move(config)), paper_(config_.paper), renderer_(config_.dotsPerInch), runWorkLeft_(config_.runWork),
      status_(config_.status) {}

std::string EmulatedPrinter::handle(Command &command, CommandOrigin origin) {
    if (command.outcome != Outcome::Decoded) return std::string();
    const std::string &code = command.code;
    if (code == "^PI0") {
        command.note("answer", config_.modelName);
        return config_.modelName + "\r\n";
    }
    if (code == "^cu") {
        const uint8_t status = status_;
        command.note("answer", hexByte(status));
        return std::string(1, char(status));
    }
    if (isLabelContent(code)) {
        keep(command, origin);
    } else if (code == "P") {
        print(command);
    } else if (code == "CB") {
        command.note("discarded", std::to_string(label_.size()) + " elements");
        clearLabel();
    } else if (code == "@" || code == "~JR") {
        command.note("discarded", std::to_string(label_.size()) + " elements; paper back to " +
                                      std::to_string(config_.paper.width) + "x" + std::to_string(config_.paper.height));
        clearLabel();
        paper_ = config_.paper;
    } else if (code == "SL") {
        setPaperSide(paper_.height, command, "paperHeight");
    } else if (code == "SW") {
        setPaperSide(paper_.width, command, "paperWidth");
    }
    return std::string();
}

// The label keeps its content until it is printed, within bounds that keep a
// stream that never prints from taking all memory.
void EmulatedPrinter::keep(Command &command, CommandOrigin origin) {
    std::size_t bytes = command.raster ? command.raster->bytes.size() : 0;
    for (const Field &field : command.fields) bytes += field.text.size();
    if (label_.size() >= kMaxLabelElements || labelBytes_ + bytes > kMaxLabelBytes) {
        command.note("problem", "the label already holds as much as the emulator draws; this element is left out");
        return;
    }
    label_.push_back(command);
    origins_.push_back(origin);
    labelBytes_ += bytes;
}

void EmulatedPrinter::clearLabel() {
    label_.clear();
    origins_.clear();
    labelBytes_ = 0;
}

void EmulatedPrinter::setPaperSide(int &side, Command &command, const char *field) {
    const int64_t value = command.number(field);
    if (value >= 1 && value <= kMaxPaperSide) {
        side = int(value);
        return;
    }
    command.note("problem", std::string(field) + " outside 1-" + std::to_string(kMaxPaperSide) +
                                " dots: previews stay " + std::to_string(side) + " dots");
}

std::optional<PrintedLabel> EmulatedPrinter::takePrinted() {
    std::optional<PrintedLabel> label = std::move(printed_);
    printed_.reset();
    return label;
}

// Each print command yields one preview of the label, whatever the number of
// copies it asks for; the label is then empty for the next one.
void EmulatedPrinter::print(Command &command) {
    ++labelsPrinted_;
    if (config_.render && config_.previewLimit > 0 && labelsPrinted_ > config_.previewLimit) {
        command.note("preview", "none: only the first " + std::to_string(config_.previewLimit) +
                                    " labels of a stream are drawn here");
    } else if (config_.render && (config_.stillWanted && !config_.stillWanted())) {
        command.note("preview", "none: the drawing was called off");
    } else if (config_.render && runWorkLeft_ < paperDots()) {
        command.note("preview", "none: the drawing work of the stream (" + std::to_string(config_.runWork) +
                                    " dots) is spent");
        runWorkLeft_ = 0;
    } else if (config_.render) {
        runWorkLeft_ -= paperDots();
        std::vector<std::string> problems;
        std::vector<Box> boxes;
        DrawingOutcome outcome;
        const DrawingLimits limits{std::min(config_.labelWork, runWorkLeft_), config_.stillWanted};
        const Canvas canvas = renderer_.render(label_, paper_, problems, &boxes, limits, &outcome);
        runWorkLeft_ -= outcome.work;
        PrintedLabel label{labelsPrinted_, canvas.width(), canvas.height(), config_.dotsPerInch,
                           encodePng(canvas, config_.dotsPerInch), {}, label_.size() - outcome.drawn, {}};
        for (std::size_t i = 0; i < boxes.size(); ++i)
            label.elements.push_back({origins_[i], label_[i].code, boxes[i], outcome.clipped[i]});
        if (label.notDrawn > 0) {
            const CommandOrigin &first = origins_[outcome.drawn];
            label.firstNotDrawn = std::to_string(first.connection) + "." + std::to_string(first.sequence) + " " +
                                  label_[outcome.drawn].code;
        }
        if (!config_.previewDirectory.empty()) savePreview(label, command, problems);
        for (std::string &problem : problems) command.note("problem", std::move(problem));
        printed_ = std::move(label);
    }
    clearLabel();
}

uint64_t EmulatedPrinter::paperDots() const { return uint64_t(paper_.width) * uint64_t(paper_.height); }

void EmulatedPrinter::savePreview(const PrintedLabel &label, Command &command, std::vector<std::string> &problems) {
    char name[32];
    std::snprintf(name, sizeof name, "label-%04d.png", label.number);
    const std::string path = config_.previewDirectory + "/" + name;
    std::string error;
    if (savePng(label.png, path, error)) command.note("preview", path);
    else problems.push_back(error);
}

}  // namespace vdlemu
