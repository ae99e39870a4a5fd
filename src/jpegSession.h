// One decode of a JPEG file held in memory with libjpeg-turbo, row by row,
// under the limits that keep a file built to decode for ever from doing so.
// The library's image loader takes colour rows from it, the printer
// application grey ones; each decides what damage it accepts.
#ifndef VDL_JPEG_SESSION_H
#define VDL_JPEG_SESSION_H

#include <cstddef>

namespace vdl {

// Three bytes a pixel (blue, green, red), or one (grey, 0 black). CMYK files
// come out in the same form.
enum class JpegPixels { Bgr, Gray };

struct JpegPicture {
    unsigned width = 0;
    unsigned height = 0;
    int pixelsPerInch = 0;       // 0 when the file does not say, or its pixels are not square
    bool multipleScans = false;  // progressive: the first scans already hold every row, coarsely
};

// What libjpeg has warned of so far. Other warnings (an unknown JFIF
// revision, stray bytes between markers, a missing end marker after complete
// data) leave the picture whole.
struct JpegDamage {
    bool dataMissed = false;  // the data ended inside the picture: libjpeg goes on with grey
    bool corrupt = false;     // ... or broke off, or does not decode where it is
};

class JpegSink {
public:
    // Called once before the rows; false stops the decode.
    virtual bool begin(const JpegPicture &picture) = 0;
    // Each row top to bottom, with the damage warned of up to it; the sink
    // may change the row in place. False stops the decode.
    virtual bool row(unsigned char *pixels, const JpegDamage &damage) = 0;

protected:
    ~JpegSink() = default;
};

enum class JpegOutcome {
    Decoded,      // every row went to the sink; check the damage for what it holds
    Stopped,      // the sink stopped it
    Failed,       // libjpeg refused the file, or it needed more progressive scans than allowed
    OutOfMemory,  // libjpeg could not have the memory, or more than one decode may take
};

// Decodes the file into the sink; damage tells, at the end, what libjpeg
// warned of over the whole file.
JpegOutcome decodeJpegRows(const unsigned char *data, std::size_t size, JpegPixels pixels, JpegSink &sink,
                           JpegDamage &damage);

}  // namespace vdl

#endif
