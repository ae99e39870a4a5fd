// The translator: ZPL II commands in, libVdlLabelAPI calls out, label by
// label. Each label is built whole as a list of steps (library calls) before
// any of it runs, so a label that fails to translate sends nothing.
#ifndef VDL_ZPL_TRANSLATOR_H
#define VDL_ZPL_TRANSLATOR_H

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zpl_graphic.h"
#include "zpl_reader.h"

namespace vdlzpl {

// One library call of a label; its result as the library gives it.
using Step = std::function<int()>;

struct Label {
    Place place;              // its ^XA
    std::vector<Step> steps;  // settings first as they came, content, then the print command
    bool prints = false;      // false for a label of settings only: nothing to print
};

// Bounds of one translation: input, output and what may be stored.
struct Limits {
    std::size_t inputBytes = 64u << 20;
    std::size_t fieldBytes = 3000;      // the printer takes a field's data in one command line
    int labels = 100000;                // labels printed, serialised copies included
    int serialCopies = 10000;           // copies of one label with ^SN fields
    std::size_t labelCommands = 100000; // commands between one ^XA and its ^XZ
    std::size_t storedBytes = 32u << 20; // graphics and formats kept between labels
    int formatDepth = 4;                // ^XF within stored formats
    int blockLines = 500;               // lines drawn of one ^FB or ^TB block
};

// Called for each label ready to go; a negative result ends the translation.
using LabelSink = std::function<int(const Label &)>;
// Called for each warning and the ending error.
using MessageSink = std::function<void(const Place &, const std::string &)>;

class Translator {
public:
    explicit Translator(Limits limits = {});
    ~Translator();
    Translator(const Translator &) = delete;
    Translator &operator=(const Translator &) = delete;

    // The labels of text[0..length), each handed to sink as soon as it is
    // whole; strict makes every warning an error. The number of labels
    // handed over, or a negative code. Stored formats and graphics (^DF,
    // ~DG) stay for the next call, as a printer keeps them; settings and
    // the label state (^BY, ^CF, ^LH, ...) start afresh.
    int translate(const char *text, std::size_t length, bool strict, const MessageSink &messages,
                  const LabelSink &sink);

    // What the translation keeps: the command handlers work on it.
    struct State;

private:
    void runOutside(const ZplCommand &command);
    int runLabel(const Place &place, const std::vector<ZplCommand> &commands, const LabelSink &sink, int &printed);
    std::vector<ZplCommand> expandFormats(const std::vector<ZplCommand> &commands, int depth);
    void expandInto(const std::vector<ZplCommand> &commands, int depth, std::size_t &budget, std::vector<ZplCommand> &out);
    Label translateLabel(const Place &place, const std::vector<ZplCommand> &commands);

    std::unique_ptr<State> state_;
};

}  // namespace vdlzpl

#endif
