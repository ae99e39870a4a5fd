// JPEG files for the image loader: the colour rows of a libjpeg-turbo decode,
// with what a damaged file still holds.
#include <cstring>

#include "jpegSession.h"
#include "picture.h"

namespace vdl {
namespace {

// Warnings do not refuse a file; the picture is shown as other image tools
// show it. A file of one scan cut short holds the rows before the cut: the
// rows decoded after the data ran out are left white, where libjpeg's grey
// would print black. (In a file of several scans the first ones already hold
// every row, coarsely.)
class LoaderRows : public JpegSink {
public:
    explicit LoaderRows(RowSink &sink) : sink_(sink) {}

    Status status() const { return status_; }

    bool begin(const JpegPicture &picture) override {
        status_ = checkPictureSize(picture.width, picture.height);
        if (status_.ok()) status_ = sink_.begin(int(picture.width), int(picture.height));
        blankWhatIsMissing_ = !picture.multipleScans;
        rowBytes_ = std::size_t(picture.width) * 3;
        return status_.ok();
    }

    bool row(unsigned char *bgr, const JpegDamage &damage) override {
        if (blankWhatIsMissing_ && damage.dataMissed) std::memset(bgr, 0xFF, rowBytes_);
        sink_.row(bgr);
        return true;
    }

private:
    RowSink &sink_;
    Status status_ = kSuccess;
    bool blankWhatIsMissing_ = false;
    std::size_t rowBytes_ = 0;
};

}  // namespace

Status decodeJpeg(ByteView file, RowSink &sink) {
    LoaderRows rows(sink);
    JpegDamage damage;
    switch (decodeJpegRows(file.data, file.size, JpegPixels::Bgr, rows, damage)) {
        case JpegOutcome::Decoded:
        case JpegOutcome::Stopped: return rows.status();
        case JpegOutcome::OutOfMemory: return noMemory(message::kNoMemoryForRows);
        case JpegOutcome::Failed: break;
    }
    return notConverted();
}

}  // namespace vdl
