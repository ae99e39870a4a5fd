// Pictures as PAPPL's image filter takes them, 8-bit gray, and their
// reduction to the one-bit rows of a label: a threshold, or error diffusion
// for photos. No PAPPL in here: the fuzz target and the unit tests take it as
// it is.
#ifndef VDL_PRINTER_APP_GRAY_PICTURE_H
#define VDL_PRINTER_APP_GRAY_PICTURE_H

#include <cstddef>
#include <vector>

namespace vdlapp {

// 8-bit gray pixels, 0 black, top row first.
struct GrayPicture {
    int width = 0;
    int height = 0;
    int pixelsPerInch = 0;  // 0 when the file does not say
    std::vector<unsigned char> pixels;
};

// Decodes a whole PNG file held in memory with libpng's checking reader;
// transparent parts become white. False when the file is damaged, truncated
// (a chunk that claims more bytes than are left, no IEND) or has more than
// maxPixels pixels.
bool decodePng(const unsigned char *data, std::size_t size, std::size_t maxPixels, GrayPicture &picture);

// Decodes a whole JPEG file held in memory with libjpeg-turbo, colour as its
// luminance, CMYK included. False when the file is damaged (a libjpeg error,
// data that ends or breaks inside the picture), has more than maxPixels
// pixels (a progressive one, which holds up to 8 bytes of coefficients a
// pixel until its last scan, more than a ninth of them), or more progressive
// scans than libjpeg-turbo advises to allow. Either decoder refuses a picture
// by its header, before it allocates its pixels.
bool decodeJpeg(const unsigned char *data, std::size_t size, std::size_t maxPixels, GrayPicture &picture);

// One row of width gray pixels as packed one-bit dots (most significant bit
// leftmost, 1 = black, (width + 7) / 8 bytes): black where a pixel is no
// lighter than thresholds[x % 16], as PAPPL's own image filter decides with
// its dither matrix row.
void thresholdRow(const unsigned char *pixels, int width, const unsigned char *thresholds, unsigned char *dots);

// Floyd-Steinberg error diffusion of a page's gray rows into one-bit rows,
// serpentine (each row runs the other way than the one before, which spares
// photos the diagonal "worms"): the error of each dot goes to its neighbours
// ahead and in the next row, so a flat grey prints as a share of black dots
// equal to its darkness. The error a pixel receives stays within half the
// range: pure black and pure white pixels (a barcode, the white margins PAPPL
// sends around a picture) print exactly as they are.
class Diffuser {
public:
    // A new page of rows width pixels wide, with no error carried.
    void start(int width);

    // The page's next row: width gray pixels (0 black) as packed one-bit dots,
    // as thresholdRow writes them.
    void row(const unsigned char *pixels, unsigned char *dots);

private:
    int width_ = 0;
    bool leftward_ = false;
    std::vector<int> errors_;  // this row's and the next one's, in sixteenths, with a spare cell at either end
};

// print-content-optimize as the reduction cares about it: text, graphic and
// text-and-graphic are all sharp edges.
enum class Content { automatic, photo, sharp };
enum class Quality { draft, normal, high };

// Whether a picture is continuous tone: at least a quarter of its pixels are
// mid-tones (grey 32 to 223). Anti-aliased text and line art have grey only
// along their edges, a few per cent of the pixels; photos and grey fills
// have it everywhere.
bool continuousTone(const GrayPicture &picture);

// Whether a picture is reduced by error diffusion (else by a plain
// threshold): never for print-quality=draft; always for print-quality=high;
// otherwise for print-content-optimize=photo, and with auto for a JPEG or a
// continuous-tone picture.
bool diffuses(Content content, Quality quality, bool jpeg, const GrayPicture &picture);

}  // namespace vdlapp

#endif
