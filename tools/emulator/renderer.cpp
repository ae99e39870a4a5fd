#include "renderer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "barcodes.h"
#include "text_encoding.h"

namespace vdlemu {

namespace {

int within(int64_t value, int low, int high, int fallback) {
    return value < low || value > high ? fallback : int(value);
}

std::string where(const Command &c) {
    return std::string(c.name) + " at " + std::to_string(c.number("x", c.number("x1"))) + "," +
           std::to_string(c.number("y", c.number("y1")));
}

// Device fonts 0-8: the nine strikes of the bitmap font, 12 to 32 dots high;
// 9: the largest, in bold.
constexpr std::array<int, 10> kDigitFontHeights = {12, 14, 16, 18, 20, 22, 24, 28, 32, 32};

// Device fonts a-n: the CJK outline font at these heights in dots (a-f and
// g-l run through the same six sizes; m and n are 24).
int letterFontHeight(int64_t font) {
    static constexpr std::array<int, 6> kSizes = {16, 20, 24, 32, 40, 48};
    if (font >= 'a' && font <= 'f') return kSizes[std::size_t(font - 'a')];
    if (font >= 'g' && font <= 'l') return kSizes[std::size_t(font - 'g')];
    return 24;
}

TextStyle deviceFontStyle(int64_t font, bool bold) {
    TextStyle style;
    if (font >= 0 && font <= 9) {
        style.faces = {bold || font == 9 ? fontfile::kTerminusBold : fontfile::kTerminus, fontfile::kSans,
                       fontfile::kCjk, fontfile::kThai};
        style.strike = kDigitFontHeights[std::size_t(font)];
        style.pixelHeight = style.strike;  // for the outline fonts that stand in
    } else {
        style.faces = {fontfile::kCjk, fontfile::kSans, fontfile::kThai};
        style.pixelHeight = letterFontHeight(font);
        style.emboldened = bold;
    }
    return style;
}

// Vector fonts: U the sans serif, a the serif, b the monospaced face; K, B,
// G and J the CJK font. Each falls back on the others for what it lacks.
TextStyle vectorFontStyle(int64_t font, bool bold) {
    TextStyle style;
    switch (font) {
    case 5: style.faces = {bold ? fontfile::kSerifBold : fontfile::kSerif}; break;
    case 6: style.faces = {bold ? fontfile::kMonoBold : fontfile::kMono}; break;
    case 1: case 2: case 3: case 4: style.faces = {fontfile::kCjk}; style.emboldened = bold; break;
    default: style.faces = {bold ? fontfile::kSansBold : fontfile::kSans}; break;
    }
    for (const char *fallback : {fontfile::kSans, fontfile::kCjk, fontfile::kThai})
        if (std::find(style.faces.begin(), style.faces.end(), fallback) == style.faces.end()) style.faces.push_back(fallback);
    return style;
}

// Circle sizes 1-6: outer diameters in dots, before the multiplier.
constexpr std::array<int, 6> kCircleDiameters = {20, 40, 60, 80, 100, 120};

constexpr int kMaxLineThickness = 1000;
constexpr int kHumanReadableGap = 4;  // dots between the bars and their text

}  // namespace

Canvas Renderer::render(const std::vector<Command> &elements, const Paper &paper, std::vector<std::string> &problems,
                        std::vector<Box> *boxes, const DrawingLimits &limits, DrawingOutcome *outcome) {
    Canvas canvas(paper.width, paper.height, limits.work);
    DrawingOutcome done;
    for (const Command &element : elements) {
        if (limits.stillWanted && !limits.stillWanted()) {
            done.abandoned = true;
            break;
        }
        canvas.restartTouched();
        draw(canvas, element, problems);
        if (canvas.workSpent()) break;  // the element is cut short: not counted as drawn
        if (boxes != nullptr) boxes->push_back(canvas.touched());
        if (outcome != nullptr) outcome->clipped.push_back(canvas.clipped());
        ++done.drawn;
    }
    done.workSpent = canvas.workSpent();
    done.work = limits.work - canvas.workLeft();
    if (done.drawn < elements.size()) {
        const Command &first = elements[done.drawn];
        problems.push_back(std::string(done.abandoned ? "the drawing was called off"
                                                         : "the label's drawing work was spent (" +
                                                               std::to_string(limits.work) + " dots)") +
                           " at " + where(first) + ": it and the " + std::to_string(elements.size() - done.drawn - 1) +
                           " elements after it are not drawn whole");
    }
    if (outcome != nullptr) {
        done.clipped = std::move(outcome->clipped);
        *outcome = std::move(done);
    }
    return canvas;
}

void Renderer::draw(Canvas &canvas, const Command &element, std::vector<std::string> &problems) {
    if (element.outcome != Outcome::Decoded) return;
    const std::string &code = element.code;
    if (code == "T") deviceText(canvas, element, problems);
    else if (code == "V") vectorText(canvas, element, problems);
    else if (code == "BD") block(canvas, element);
    else if (code == "CD") circle(canvas, element);
    else if (code == "B1" || code == "B2" || code == "B3") barcode(canvas, element, problems);
    else if (code == "LD" || code == "LCR") bitmap(canvas, element);
}

void Renderer::noteMissingFonts(const TextImage &image, std::vector<std::string> &problems) {
    for (const std::string &path : image.missingFonts) {
        const std::string problem = "font file " + path + " cannot be opened";
        if (std::find(problems.begin(), problems.end(), problem) == problems.end()) problems.push_back(problem);
    }
}

// The bitmap font's pixels, each drawn as a block of the two multipliers.
void Renderer::deviceText(Canvas &canvas, const Command &c, std::vector<std::string> &problems) {
    const Placement at{c.number("x"), c.number("y"), within(c.number("rotation"), 0, 3, 0)};
    if (at.pastCanvas(canvas)) return canvas.noteClipped();
    const TextImage image = fonts_.render(codePoints(c.text("text")), deviceFontStyle(c.number("font"), c.number("bold") != 0));
    noteMissingFonts(image, problems);
    at.stamp(canvas, image.sprite, 0, 0, within(c.number("horizontalMultiplier"), 1, 4, 1),
             within(c.number("verticalMultiplier"), 1, 4, 1), Ink::Black);
}

// Width and height are the em size in dots, drawn as asked up to the paper's
// larger side (a glyph cannot be larger than the paper); width 0 (or less)
// draws the characters as wide as they are high. What was not drawn as
// asked is noted; a height below 1 dot draws nothing.
bool Renderer::vectorSize(const Canvas &canvas, const Command &c, TextStyle &style, std::vector<std::string> &problems) {
    const int64_t width = c.number("width"), height = c.number("height");
    const int largest = std::max(canvas.width(), canvas.height());
    const std::string asked = where(c) + ": width " + std::to_string(width) + " and height " + std::to_string(height);
    if (height < 1) {
        problems.push_back(asked + " dots: nothing drawn");
        return false;
    }
    style.pixelHeight = int(std::min<int64_t>(height, largest));
    style.pixelWidth = width < 1 ? style.pixelHeight : int(std::min<int64_t>(width, largest));
    if (width < 0 || width > largest || height > largest)
        problems.push_back(asked + " dots drawn as " + std::to_string(style.pixelWidth) + " and " +
                           std::to_string(style.pixelHeight) + " (at most " + std::to_string(largest) +
                           ", the paper's larger side; width 0 or less: as high)");
    return true;
}

// x, y is the left end (alignment L), the middle (C) or the right end (R) of
// the line's top edge; direction 1 stacks the characters downwards, and the
// alignment then works along the column.
void Renderer::vectorText(Canvas &canvas, const Command &c, std::vector<std::string> &problems) {
    TextStyle style = vectorFontStyle(c.number("font"), c.number("bold") != 0);
    if (!vectorSize(canvas, c, style, problems)) return;
    style.spacing = int(std::clamp<int64_t>(c.number("spacing"), -1000, 1000));
    style.italic = c.number("italic") != 0;
    style.vertical = c.number("direction") == 1;
    const Placement at{c.number("x"), c.number("y"), within(c.number("rotation"), 0, 3, 0)};
    if ((!style.vertical || c.number("alignment") == 0) && at.pastCanvas(canvas)) return canvas.noteClipped();
    const TextImage image = fonts_.render(codePoints(c.text("text")), style);
    noteMissingFonts(image, problems);

    const Sprite &sprite = image.sprite;
    const int length = style.vertical ? sprite.height : sprite.width;
    const int64_t shift = c.number("alignment") == 1 ? -length / 2 : c.number("alignment") == 2 ? -length : 0;
    const int64_t u = style.vertical ? 0 : shift;
    const int64_t v = style.vertical ? shift : 0;
    const bool reverse = c.number("reverse") != 0;
    if (reverse) at.fill(canvas, u, v, sprite.width, sprite.height, Ink::Black);
    at.stamp(canvas, sprite, u, v, 1, 1, reverse ? Ink::White : Ink::Black);
}

// Options: O fills the rectangle black, E inverts it, D clears it to white,
// S draws a line from corner to corner and B a box, both with a stroke of
// optionValue dots.
void Renderer::block(Canvas &canvas, const Command &c) {
    const int64_t x1 = c.number("x1"), y1 = c.number("y1"), x2 = c.number("x2"), y2 = c.number("y2");
    const int thickness = within(c.number("optionValue"), 1, kMaxLineThickness, 1);
    switch (c.number("option")) {
    case 0: canvas.fill(x1, y1, x2, y2, Ink::Black); break;
    case 1: canvas.fill(x1, y1, x2, y2, Ink::Invert); break;
    case 2: canvas.fill(x1, y1, x2, y2, Ink::White); break;
    case 3: {
        // Every dot within half the stroke of the segment.
        const double half = thickness / 2.0;
        const int64_t left = std::max<int64_t>(std::min(x1, x2) - thickness, 0);
        const int64_t right = std::min<int64_t>(std::max(x1, x2) + thickness, canvas.width() - 1);
        const int64_t top = std::max<int64_t>(std::min(y1, y2) - thickness, 0);
        const int64_t bottom = std::min<int64_t>(std::max(y1, y2) + thickness, canvas.height() - 1);
        const int64_t reach = thickness / 2;  // of the stroke past the ends' box
        if (std::min(x1, x2) - reach < 0 || std::max(x1, x2) + reach >= canvas.width() || std::min(y1, y2) - reach < 0 ||
            std::max(y1, y2) + reach >= canvas.height())
            canvas.noteClipped();
        const double dx = double(x2 - x1), dy = double(y2 - y1);
        const double lengthSquared = dx * dx + dy * dy;
        for (int64_t y = top; y <= bottom; ++y) {
            if (!canvas.spend(uint64_t(std::max<int64_t>(right - left + 1, 0)))) return;
            for (int64_t x = left; x <= right; ++x) {
                double t = lengthSquared == 0 ? 0 : ((double(x - x1)) * dx + double(y - y1) * dy) / lengthSquared;
                t = std::clamp(t, 0.0, 1.0);
                const double ex = double(x1) + t * dx - double(x), ey = double(y1) + t * dy - double(y);
                if (ex * ex + ey * ey <= half * half) canvas.plot(x, y, Ink::Black);
            }
        }
        break;
    }
    default: {
        const int64_t left = std::min(x1, x2), right = std::max(x1, x2);
        const int64_t top = std::min(y1, y2), bottom = std::max(y1, y2);
        canvas.fill(left, top, right, std::min(top + thickness - 1, bottom), Ink::Black);
        canvas.fill(left, std::max(bottom - thickness + 1, top), right, bottom, Ink::Black);
        canvas.fill(left, top, std::min(left + thickness - 1, right), bottom, Ink::Black);
        canvas.fill(std::max(right - thickness + 1, left), top, right, bottom, Ink::Black);
        break;
    }
    }
}

// x, y is the top left corner of the circle's square; size picks the
// diameter and the multiplier scales it and the stroke (2 dots per step).
void Renderer::circle(Canvas &canvas, const Command &c) {
    const int multiplier = within(c.number("multiplier"), 1, 4, 1);
    const int diameter = kCircleDiameters[std::size_t(within(c.number("size"), 1, 6, 2) - 1)] * multiplier;
    const double outer = diameter / 2.0;
    const double inner = outer - 2.0 * multiplier;
    const int64_t x = c.number("x"), y = c.number("y");
    // Only the dots of the square that are on the canvas are walked.
    const int64_t top = std::max<int64_t>(-y, 0), bottom = std::min<int64_t>(diameter, canvas.height() - y);
    const int64_t left = std::max<int64_t>(-x, 0), right = std::min<int64_t>(diameter, canvas.width() - x);
    if (top != 0 || left != 0 || bottom != diameter || right != diameter) canvas.noteClipped();
    for (int64_t dy = top; dy < bottom; ++dy) {
        if (!canvas.spend(uint64_t(std::max<int64_t>(right - left, 0)))) return;
        for (int64_t dx = left; dx < right; ++dx) {
            const double ex = double(dx) + 0.5 - outer, ey = double(dy) + 0.5 - outer;
            const double distance = std::sqrt(ex * ex + ey * ey);
            if (distance <= outer && distance >= inner) canvas.plot(x + dx, y + dy, Ink::Black);
        }
    }
}

// The symbol's top left corner is at x, y; a linear barcode's text, when
// asked for, is centred under the bars in device font 2.
void Renderer::barcode(Canvas &canvas, const Command &c, std::vector<std::string> &problems) {
    const Placement at{c.number("x"), c.number("y"), within(c.number("rotation"), 0, 3, 0)};
    if (at.pastCanvas(canvas)) return canvas.noteClipped();
    BarcodeImage image;
    std::string problem;
    if (!encodeBarcode(c, dotsPerInch_, image, problem)) {
        problems.push_back(where(c) + ": " + problem + "; a crossed box drawn in its place");
        constexpr int kSide = 80;
        at.fill(canvas, 0, 0, kSide, 2, Ink::Black);
        at.fill(canvas, 0, kSide - 2, kSide, 2, Ink::Black);
        at.fill(canvas, 0, 0, 2, kSide, Ink::Black);
        at.fill(canvas, kSide - 2, 0, 2, kSide, Ink::Black);
        for (int i = 0; i < kSide; ++i) {
            at.fill(canvas, i, i, 2, 2, Ink::Black);
            at.fill(canvas, kSide - 1 - i, i, 2, 2, Ink::Black);
        }
        return;
    }
    at.stamp(canvas, image.modules, 0, 0, image.scaleX, image.scaleY, Ink::Black);
    if (image.humanReadable.empty()) return;
    const TextImage text = fonts_.render(codePoints(image.humanReadable), deviceFontStyle(2, false));
    noteMissingFonts(text, problems);
    const int64_t barsWidth = int64_t(image.modules.width) * image.scaleX;
    const int64_t barsHeight = int64_t(image.modules.height) * image.scaleY;
    at.stamp(canvas, text.sprite, (barsWidth - text.sprite.width) / 2, barsHeight + kHumanReadableGap, 1, 1, Ink::Black);
}

// The raster's black dots are added to what is there; its white dots leave
// the label as it is, as on a thermal head.
void Renderer::bitmap(Canvas &canvas, const Command &c) {
    if (!c.raster) return;
    const Raster &raster = *c.raster;
    const int64_t x0 = c.number("x"), y0 = c.number("y");  // never negative: 16-bit fields
    const int64_t rows = std::clamp<int64_t>(canvas.height() - y0, 0, raster.height);
    const int64_t columns = std::clamp<int64_t>(canvas.width() - x0, 0, int64_t(raster.widthBytes) * 8);
    if (rows < raster.height || columns < int64_t(raster.widthBytes) * 8) canvas.noteClipped();
    for (int y = 0; y < rows; ++y) {
        if (!canvas.spend(uint64_t(columns))) return;
        for (int x = 0; x < columns; ++x)
            if (raster.black(x, y)) canvas.plot(x0 + x, y0 + y, Ink::Black);
    }
}

}  // namespace vdlemu
