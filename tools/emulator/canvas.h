// A one-bit label canvas, the elements' own rotated frames on it, and the
// PNG file a canvas is saved as.
#ifndef VDL_EMULATOR_CANVAS_H
#define VDL_EMULATOR_CANVAS_H

#include <cstdint>
#include <string>
#include <vector>

namespace vdlemu {

enum class Ink { Black, White, Invert };

// A rectangle of the canvas in dots, top left corner and size; empty when
// its width or height is 0.
struct Box {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool empty() const { return width == 0 || height == 0; }
};

// A small one-bit picture: a rendered text line or a barcode's modules.
struct Sprite {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // one byte per pixel, 1 = black, rows top first

    Sprite() = default;
    Sprite(int w, int h) : width(w), height(h), pixels(std::size_t(w) * std::size_t(h), 0) {}
    bool black(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] != 0; }
    void set(int x, int y) { pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] = 1; }
};

// Drawing work is counted in dots visited: a fill its area, a slanted line
// or a circle every dot of its bounding box on the canvas, a sprite each of
// its pixels that can land. A canvas has a budget of it, so that no label,
// whatever its elements, takes more than a bounded time to draw.
constexpr uint64_t kUnboundedWork = UINT64_MAX;

class Canvas {
public:
    Canvas(int width, int height, uint64_t work = kUnboundedWork);

    int width() const { return width_; }
    int height() const { return height_; }
    bool black(int x, int y) const { return pixels_[index(x, y)] != 0; }
    std::size_t blackCount() const;

    // Fills the rectangle between two corners, both included; whatever lies
    // off the canvas is clipped. Coordinates may be any 64-bit values.
    void fill(int64_t x1, int64_t y1, int64_t x2, int64_t y2, Ink ink);
    void plot(int64_t x, int64_t y, Ink ink) { fill(x, y, x, y, ink); }

    // Takes `dots` of work from the budget; false, for good, once it cannot:
    // the drawing loops stop there, and fill draws nothing more.
    bool spend(uint64_t dots);
    bool workSpent() const { return workSpent_; }
    uint64_t workLeft() const { return workLeft_; }

    // Said by what draws when part of an element lies beyond the canvas.
    void noteClipped() { clipped_ = true; }

    // Every drawing goes through fill, so the canvas itself knows where an
    // element drew: the box around the dots filled since the last restart.
    // It knows too whether part of the element fell off the canvas.
    void restartTouched() {
        touched_ = Box();
        clipped_ = false;
    }
    const Box &touched() const { return touched_; }
    bool clipped() const { return clipped_; }

private:
    void touch(int left, int top, int right, int bottom);

    std::size_t index(int x, int y) const { return std::size_t(y) * std::size_t(width_) + std::size_t(x); }

    int width_;
    int height_;
    std::vector<uint8_t> pixels_;  // 1 = black
    Box touched_;
    bool clipped_ = false;
    uint64_t workLeft_;
    bool workSpent_ = false;
};

// Where an element sits: its anchor on the canvas and its rotation in
// quarter turns clockwise (0-3). The element draws in its own frame, whose
// origin (0, 0) is the anchor and whose u axis runs along its text or bars;
// rotating the element turns this frame about the anchor.
struct Placement {
    int64_t x = 0;
    int64_t y = 0;
    int rotation = 0;

    // True when nothing of the frame's half v >= 0, where elements draw
    // (but for vertical text aligned on its middle or end), can land on the
    // canvas: such an element need not even be laid out.
    bool pastCanvas(const Canvas &canvas) const;
    // Fills the rectangle of w x h pixels at (u, v) of the element's frame.
    void fill(Canvas &canvas, int64_t u, int64_t v, int64_t w, int64_t h, Ink ink) const;
    // Draws a sprite's black pixels at (u, v), each as a block of scaleX x scaleY.
    void stamp(Canvas &canvas, const Sprite &sprite, int64_t u, int64_t v, int scaleX, int scaleY, Ink ink) const;
};

// The canvas as a one-bit greyscale PNG with its resolution recorded and
// nothing else (no time): the same canvas always gives the same bytes.
std::string encodePng(const Canvas &canvas, int dotsPerInch);

// Writes a PNG's bytes (encodePng's) to a file. False (and why) when it cannot.
bool savePng(const std::string &png, const std::string &path, std::string &error);
bool writePng(const Canvas &canvas, const std::string &path, int dotsPerInch, std::string &error);

}  // namespace vdlemu

#endif
