// Draws a label: the content commands received since the last print, in the
// order they came, on a canvas the size of the paper.
#ifndef VDL_EMULATOR_RENDERER_H
#define VDL_EMULATOR_RENDERER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "canvas.h"
#include "decoded_command.h"
#include "fonts.h"

namespace vdlemu {

struct Paper {
    int width = 812;    // dots: 4 inches at 203 dots per inch
    int height = 1218;  // 6 inches
};

// What drawing one label may cost. The work (see Canvas) bounds the time
// whatever the elements; `stillWanted`, asked between elements, stops a
// drawing nobody waits for any more.
struct DrawingLimits {
    uint64_t work = kUnboundedWork;
    std::function<bool()> stillWanted;
};

// How far a drawing went: the first `drawn` elements were drawn whole (each
// with whether part of it fell off the paper); why it stopped short.
struct DrawingOutcome {
    std::size_t drawn = 0;
    std::vector<bool> clipped;
    bool workSpent = false;
    bool abandoned = false;
    uint64_t work = 0;  // dots of work done
};

class Renderer {
public:
    explicit Renderer(int dotsPerInch = 203) : dotsPerInch_(dotsPerInch) {}

    // Draws the elements (text, blocks, circles, barcodes, bitmaps; other
    // commands are passed over). What could not be drawn as asked (a symbol
    // zint cannot encode, a missing font file) is added to `problems`. With
    // `boxes`, each element's box on the canvas goes there, in the order of
    // the elements (empty for one that drew nothing on the paper). Drawing
    // stops within `limits`, and says so in `problems`: the elements drawn
    // are the first ones, whole.
    Canvas render(const std::vector<Command> &elements, const Paper &paper, std::vector<std::string> &problems,
                  std::vector<Box> *boxes = nullptr, const DrawingLimits &limits = {},
                  DrawingOutcome *outcome = nullptr);

    // Draws one element; exposed for the tests.
    void draw(Canvas &canvas, const Command &element, std::vector<std::string> &problems);

private:
    void deviceText(Canvas &canvas, const Command &c, std::vector<std::string> &problems);
    void vectorText(Canvas &canvas, const Command &c, std::vector<std::string> &problems);
    bool vectorSize(const Canvas &canvas, const Command &c, TextStyle &style, std::vector<std::string> &problems);
    void block(Canvas &canvas, const Command &c);
    void circle(Canvas &canvas, const Command &c);
    void barcode(Canvas &canvas, const Command &c, std::vector<std::string> &problems);
    void bitmap(Canvas &canvas, const Command &c);
    void noteMissingFonts(const TextImage &image, std::vector<std::string> &problems);

    int dotsPerInch_;
    FontLibrary fonts_;
};

}  // namespace vdlemu

#endif
