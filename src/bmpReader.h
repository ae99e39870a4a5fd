// The BMP file reader: checks a header against the file that carries it, then
// sends the picture's rows. Nothing outside the file is ever read, whatever
// the header says.
#ifndef VDL_BMP_READER_H
#define VDL_BMP_READER_H

#include <cstdint>

#include "VdlLabelAPI.h"
#include "picture.h"

namespace vdl {

// Where the colour table of a 1-, 4- or 8-bit file is looked for.
enum class ColourTableAt {
    AfterInfoHeader,  // file offset 14 + biSize: right for every header version
    Offset54,         // right only for the 40-byte header (loadImage1's rule)
};

// The bit depths a reader accepts.
enum class BmpDepths {
    Direct,   // 1, 4, 8 and 24: the depths read as they are
    Widened,  // those and 32, with its alpha: what the converter accepts
};

// The bit depth at file offset 28 of a BMP file (GetImageBit's check).
Status bmpBitCount(ByteView file, int &bitCount);

class BmpReader {
public:
    // Checks the file: "BM", a complete info header, an accepted depth, a
    // supported size, and every row of the pixel array inside the file.
    Status open(ByteView file, BmpDepths depths, ColourTableAt table);

    // The file's info header, as far as it was read (zero when the file is
    // too short to hold one); once opened, biHeight is the row count.
    const BITMAPINFOHEADER &info() const { return info_; }

    // Sends the rows, top row first, to the sink. Only after a successful open.
    Status sendRows(RowSink &sink) const;

private:
    struct Channel {
        uint32_t mask;
        unsigned shift;
        uint32_t maximum;  // mask >> shift
        unsigned char value(uint32_t pixel) const;
    };

    Status readColourTable(ColourTableAt table);
    Status readChannels();
    bool anyAlpha() const;
    const unsigned char *storedRow(int k) const { return file_.data + pixelOffset_ + uint64_t(k) * stride_; }
    void expandRow(const unsigned char *stored, unsigned char *bgr) const;
    const unsigned char *indicesOf(const unsigned char *stored, unsigned char *indices) const;

    ByteView file_{};
    BITMAPINFOHEADER info_{};
    uint32_t pixelOffset_ = 0;
    uint64_t stride_ = 0;
    Palette colours_{};
    Channel blue_{}, green_{}, red_{}, alpha_{};
    bool hasAlpha_ = false;
    bool topDown_ = false;
};

}  // namespace vdl

#endif
