#include "canvas.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vdlemu {

Canvas::Canvas(int width, int height, uint64_t work)
    : width_(std::max(width, 1)), height_(std::max(height, 1)),
      pixels_(std::size_t(width_) * std::size_t(height_), 0), workLeft_(work) {}

bool Canvas::spend(uint64_t dots) {
    if (workSpent_ || dots > workLeft_) {
        workSpent_ = true;
        return false;
    }
    workLeft_ -= dots;
    return true;
}

std::size_t Canvas::blackCount() const { return std::size_t(std::count(pixels_.begin(), pixels_.end(), 1)); }

void Canvas::fill(int64_t x1, int64_t y1, int64_t x2, int64_t y2, Ink ink) {
    const int64_t left = std::max<int64_t>(std::min(x1, x2), 0);
    const int64_t right = std::min<int64_t>(std::max(x1, x2), width_ - 1);
    const int64_t top = std::max<int64_t>(std::min(y1, y2), 0);
    const int64_t bottom = std::min<int64_t>(std::max(y1, y2), height_ - 1);
    if (left != std::min(x1, x2) || right != std::max(x1, x2) || top != std::min(y1, y2) || bottom != std::max(y1, y2))
        noteClipped();
    if (left > right || top > bottom) return;
    if (!spend(uint64_t(right - left + 1) * uint64_t(bottom - top + 1))) return;
    touch(int(left), int(top), int(right), int(bottom));
    for (int64_t y = top; y <= bottom; ++y) {
        uint8_t *row = &pixels_[index(0, int(y))];
        for (int64_t x = left; x <= right; ++x) {
            uint8_t &pixel = row[x];
            pixel = ink == Ink::Black ? 1 : ink == Ink::White ? 0 : uint8_t(pixel ^ 1);
        }
    }
}

void Canvas::touch(int left, int top, int right, int bottom) {
    if (!touched_.empty()) {
        left = std::min(left, touched_.x);
        top = std::min(top, touched_.y);
        right = std::max(right, touched_.x + touched_.width - 1);
        bottom = std::max(bottom, touched_.y + touched_.height - 1);
    }
    touched_ = Box{left, top, right - left + 1, bottom - top + 1};
}

bool Placement::pastCanvas(const Canvas &canvas) const {
    switch (rotation & 3) {
    case 0: return y >= canvas.height();
    case 1: return x < 0;
    case 2: return y < 0;
    default: return x >= canvas.width();
    }
}

namespace {

// A sprite's margins may lie off the canvas unseen: only its ink off the
// canvas (outside columns from-to and rows top-bottom) clips the element.
void noteInkBeyond(Canvas &canvas, const Sprite &sprite, int from, int to, int top, int bottom) {
    if (!canvas.spend(uint64_t(sprite.width) * uint64_t(sprite.height))) return;
    for (int sy = 0; sy < sprite.height; ++sy) {
        for (int sx = 0; sx < sprite.width; ++sx) {
            if ((sx < from || sx >= to || sy < top || sy >= bottom) && sprite.black(sx, sy)) {
                canvas.noteClipped();
                return;
            }
        }
    }
}

}  // namespace

void Placement::fill(Canvas &canvas, int64_t u, int64_t v, int64_t w, int64_t h, Ink ink) const {
    if (w <= 0 || h <= 0) return;
    // The frame's corners (u, v) and (u + w - 1, v + h - 1) on the canvas.
    const int64_t u2 = u + w - 1;
    const int64_t v2 = v + h - 1;
    switch (rotation & 3) {
    case 0: canvas.fill(x + u, y + v, x + u2, y + v2, ink); break;
    case 1: canvas.fill(x - v, y + u, x - v2, y + u2, ink); break;
    case 2: canvas.fill(x - u, y - v, x - u2, y - v2, ink); break;
    default: canvas.fill(x + v, y - u, x + v2, y - u2, ink); break;
    }
}

void Placement::stamp(Canvas &canvas, const Sprite &sprite, int64_t u, int64_t v, int scaleX, int scaleY,
                      Ink ink) const {
    // Only the sprite's pixels that can land on the canvas are walked: the
    // canvas seen from the element's frame is a rectangle of u and v.
    const int turn = rotation & 3;
    const int64_t across = turn % 2 == 0 ? canvas.width() : canvas.height();
    const int64_t down = turn % 2 == 0 ? canvas.height() : canvas.width();
    const int64_t uFrom = turn == 0 ? -x : turn == 1 ? -y : turn == 2 ? x - across + 1 : y - across + 1;
    const int64_t vFrom = turn == 0 ? -y : turn == 1 ? x - down + 1 : turn == 2 ? y - down + 1 : -x;
    const auto first = [](int64_t from, int64_t scale, int count) {
        return int(std::clamp<int64_t>(from >= 0 ? from / scale : -((-from + scale - 1) / scale), 0, count));
    };
    const int sxFrom = first(uFrom - u, scaleX, sprite.width), sxTo = first(uFrom + across - u + scaleX - 1, scaleX, sprite.width);
    const int syFrom = first(vFrom - v, scaleY, sprite.height), syTo = first(vFrom + down - v + scaleY - 1, scaleY, sprite.height);
    if (sxFrom > 0 || syFrom > 0 || sxTo < sprite.width || syTo < sprite.height) noteInkBeyond(canvas, sprite, sxFrom, sxTo, syFrom, syTo);
    for (int sy = syFrom; sy < syTo; ++sy) {
        if (!canvas.spend(uint64_t(sxTo - sxFrom))) return;
        for (int sx = sxFrom; sx < sxTo; ++sx) {
            if (sprite.black(sx, sy)) fill(canvas, u + int64_t(sx) * scaleX, v + int64_t(sy) * scaleY, scaleX, scaleY, ink);
        }
    }
}

namespace {

void appendToString(png_structp png, png_bytep bytes, png_size_t count) {
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(bytes), count);
}

void flushNothing(png_structp) {}

// libpng reports errors by longjmp; the function that calls it keeps only
// plain data on its stack, so nothing is skipped that needed cleaning up.
bool writeRows(std::string *out, png_bytepp rows, int width, int height, int dotsPerInch) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendToString, flushNothing);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const auto dotsPerMetre = png_uint_32(std::lround(dotsPerInch / 0.0254));
    png_set_pHYs(png, info, dotsPerMetre, dotsPerMetre, PNG_RESOLUTION_METER);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::string encodePng(const Canvas &canvas, int dotsPerInch) {
    // One bit per pixel, most significant first; in greyscale 1 is white.
    const std::size_t rowBytes = (std::size_t(canvas.width()) + 7) / 8;
    std::vector<png_byte> packed(rowBytes * std::size_t(canvas.height()), 0xFF);
    std::vector<png_bytep> rows(std::size_t(canvas.height()));
    for (int y = 0; y < canvas.height(); ++y) {
        png_bytep row = &packed[std::size_t(y) * rowBytes];
        rows[std::size_t(y)] = row;
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.black(x, y)) row[x / 8] = png_byte(row[x / 8] & ~(0x80 >> (x % 8)));
    }
    std::string png;
    // Only an allocation failure inside libpng can stop it: no PNG then.
    if (!writeRows(&png, rows.data(), canvas.width(), canvas.height(), dotsPerInch)) png.clear();
    return png;
}

bool savePng(const std::string &png, const std::string &path, std::string &error) {
    std::FILE *file = png.empty() ? nullptr : std::fopen(path.c_str(), "wbe");
    if (file == nullptr) {
        error = path + ": " + (png.empty() ? "the PNG could not be made" : std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = path + ": the PNG could not be written";
        return false;
    }
    return true;
}

bool writePng(const Canvas &canvas, const std::string &path, int dotsPerInch, std::string &error) {
    return savePng(encodePng(canvas, dotsPerInch), path, error);
}

}  // namespace vdlemu
