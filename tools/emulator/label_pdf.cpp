#include "label_pdf.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <png.h>

#include <memory>

namespace vdlemu {

namespace {

struct PngSource {
    const std::string &png;
    std::size_t at = 0;
};

void readFromString(png_structp png, png_bytep bytes, png_size_t count) {
    auto *source = static_cast<PngSource *>(png_get_io_ptr(png));
    if (count > source->png.size() - source->at) png_error(png, "the PNG ends early");
    source->png.copy(reinterpret_cast<char *>(bytes), count, source->at);
    source->at += count;
}

// A PNG row has its first dot in a byte's highest bit, 0 for black; cairo's
// A1 format has 1 for ink and the first dot in the lowest bit on a
// little-endian machine (the highest on a big-endian one).
png_byte inkByte(png_byte row) {
    const auto ink = png_byte(~row);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) return ink;
    png_byte reversed = 0;
    for (int bit = 0; bit < 8; ++bit) reversed = png_byte(reversed | (((ink >> bit) & 1) << (7 - bit)));
    return reversed;
}

// Reads a label's PNG, row by row, straight into `bitmap` (an A1 surface of
// the label's size). False for a PNG that is not a one-bit grey image of
// that size. libpng reports errors by longjmp: no object here has a destructor.
bool readBitmap(const std::string &png, cairo_surface_t *bitmap) {
    PngSource source{png};
    png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (reader == nullptr) return false;
    png_infop info = png_create_info_struct(reader);
    if (info == nullptr || setjmp(png_jmpbuf(reader))) {
        png_destroy_read_struct(&reader, &info, nullptr);
        return false;
    }
    png_set_read_fn(reader, &source, readFromString);
    png_read_info(reader, info);
    const int width = cairo_image_surface_get_width(bitmap), height = cairo_image_surface_get_height(bitmap);
    if (png_get_image_width(reader, info) != png_uint_32(width) || png_get_image_height(reader, info) != png_uint_32(height) ||
        png_get_bit_depth(reader, info) != 1 || png_get_color_type(reader, info) != PNG_COLOR_TYPE_GRAY ||
        png_get_interlace_type(reader, info) != PNG_INTERLACE_NONE)
        png_error(reader, "not a label's PNG");
    cairo_surface_flush(bitmap);
    png_bytep data = cairo_image_surface_get_data(bitmap);
    const int stride = cairo_image_surface_get_stride(bitmap);
    for (int y = 0; y < height; ++y) {
        png_bytep row = data + std::size_t(y) * std::size_t(stride);
        png_read_row(reader, row, nullptr);
        for (int i = 0; i < (width + 7) / 8; ++i) row[i] = inkByte(row[i]);
    }
    cairo_surface_mark_dirty(bitmap);
    png_destroy_read_struct(&reader, &info, nullptr);
    return true;
}

cairo_status_t appendToString(void *closure, const unsigned char *data, unsigned int length) {
    static_cast<std::string *>(closure)->append(reinterpret_cast<const char *>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

// One page the label's size, its dots painted black through the bitmap as a
// mask: the PDF holds the one-bit image itself, at the label's resolution.
bool drawPage(cairo_surface_t *pdf, const PrintedLabel &label) {
    if (label.dotsPerInch <= 0 || label.width <= 0 || label.height <= 0) return false;
    const double pointsPerDot = 72.0 / label.dotsPerInch;
    cairo_pdf_surface_set_size(pdf, label.width * pointsPerDot, label.height * pointsPerDot);
    const Surface bitmap(cairo_image_surface_create(CAIRO_FORMAT_A1, label.width, label.height), cairo_surface_destroy);
    if (cairo_surface_status(bitmap.get()) != CAIRO_STATUS_SUCCESS || !readBitmap(label.png, bitmap.get())) return false;
    cairo_t *page = cairo_create(pdf);
    cairo_scale(page, pointsPerDot, pointsPerDot);
    cairo_set_source_rgb(page, 0, 0, 0);
    cairo_pattern_t *mask = cairo_pattern_create_for_surface(bitmap.get());
    cairo_pattern_set_filter(mask, CAIRO_FILTER_NEAREST);  // a viewer enlarging it shows dots, not blur
    cairo_mask(page, mask);
    cairo_pattern_destroy(mask);
    cairo_show_page(page);
    const bool drawn = cairo_status(page) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(page);
    return drawn;
}

}  // namespace

std::string labelsPdf(const std::vector<const PrintedLabel *> &labels) {
    std::string pdf;
    if (labels.empty()) return pdf;
    const Surface document(cairo_pdf_surface_create_for_stream(appendToString, &pdf, 1, 1), cairo_surface_destroy);
    cairo_pdf_surface_set_metadata(document.get(), CAIRO_PDF_METADATA_CREATOR, "vdl-emulator");
    cairo_pdf_surface_set_metadata(document.get(), CAIRO_PDF_METADATA_CREATE_DATE, "");  // no time: the same labels, the same bytes
    bool drawn = cairo_surface_status(document.get()) == CAIRO_STATUS_SUCCESS;
    for (const PrintedLabel *label : labels) drawn = drawn && drawPage(document.get(), *label);
    cairo_surface_finish(document.get());
    if (!drawn || cairo_surface_status(document.get()) != CAIRO_STATUS_SUCCESS) pdf.clear();
    return pdf;
}

}  // namespace vdlemu
