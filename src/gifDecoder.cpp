// GIF decoding in process with giflib: the first frame, placed on the file's
// logical screen. Pixels outside the frame and pixels of the transparent
// colour are laid over white, so they come out white.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "picture.h"

namespace vdl {
namespace {

// giflib reads through this callback from the file already in memory.
struct MemoryInput {
    ByteView file;
    std::size_t at;
};

int readFromMemory(GifFileType *gif, GifByteType *to, int wanted) {
    auto *input = static_cast<MemoryInput *>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(std::size_t(std::max(wanted, 0)), input->file.size - input->at);
    std::memcpy(to, input->file.data + input->at, n);
    input->at += n;
    return int(n);
}

struct GifCloser {
    void operator()(GifFileType *gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifFile = std::unique_ptr<GifFileType, GifCloser>;

Status gifFailure(int error) {
    if (error == D_GIF_ERR_NOT_ENOUGH_MEM) return noMemory(message::kNoMemoryForRows);
    return notConverted();
}

// Reads one extension; a graphics control block sets the transparent colour
// of the frame that follows it.
bool readExtension(GifFileType *gif, int &transparentColour) {
    int code = 0;
    GifByteType *block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
        GraphicsControlBlock control{};
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) transparentColour = control.TransparentColor;
    }
    while (block != nullptr)
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    return true;
}

// The frame's rows of colour indices, top to bottom. A plain frame is decoded
// a row at a time as the rows are asked for; an interlaced one comes in four
// passes (every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd
// from 1) and is decoded whole first.
class FrameRows {
public:
    explicit FrameRows(GifFileType *gif) : gif_(gif), frame_(gif->Image) {}

    Status open() {
        const std::size_t rows = frame_.Interlace ? std::size_t(frame_.Height) : 1;
        // An interlaced frame is held whole, a byte a pixel: it gets the bound of a raster.
        if (uint64_t(frame_.Width) * rows > uint64_t(kMaxRasterBytes)) return refused(message::kTooLarge);
        indices_ = allocateBytes(std::size_t(frame_.Width) * rows);
        if (!indices_) return noMemory(message::kNoMemoryForRows);
        if (!frame_.Interlace) return kSuccess;
        struct Pass {
            int first, step;
        };
        constexpr Pass kPasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
        for (const Pass &pass : kPasses)
            for (int y = pass.first; y < frame_.Height; y += pass.step)
                if (!decodeInto(rowAt(y))) return gifFailure(gif_->Error);
        return kSuccess;
    }

    // The next row, or null when the data is damaged.
    const unsigned char *next() {
        if (frame_.Interlace) return rowAt(next_++);
        return decodeInto(indices_.get()) ? indices_.get() : nullptr;
    }

private:
    unsigned char *rowAt(int y) { return indices_.get() + std::size_t(y) * std::size_t(frame_.Width); }
    bool decodeInto(unsigned char *row) { return DGifGetLine(gif_, row, frame_.Width) == GIF_OK; }

    GifFileType *gif_;
    const GifImageDesc &frame_;
    Bytes indices_;
    int next_ = 0;
};

Status decodeFirstFrame(GifFileType *gif, int transparentColour, RowSink &sink) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return gifFailure(gif->Error);
    const GifImageDesc &frame = gif->Image;
    const ColorMapObject *colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr || frame.Width < 0 || frame.Height < 0) return notConverted();

    // The canvas is the logical screen, grown if the frame reaches past it.
    const int64_t width = std::max<int64_t>(gif->SWidth, int64_t(frame.Left) + frame.Width);
    const int64_t height = std::max<int64_t>(gif->SHeight, int64_t(frame.Top) + frame.Height);
    const Status size = checkPictureSize(width, height);
    if (!size.ok()) return size;

    FrameRows frameRows(gif);
    const Status opened = frameRows.open();
    if (!opened.ok()) return opened;

    // The transparent index is white; one the file does not define is black
    // (it is not white).
    Palette palette;
    for (int index = 0; index < 256; ++index) {
        unsigned char *bgr = palette[index];
        if (index == transparentColour) {
            std::memset(bgr, 0xFF, 3);
        } else if (index >= colours->ColorCount) {
            std::memset(bgr, 0x00, 3);
        } else {
            const GifColorType &c = colours->Colors[index];
            bgr[0] = c.Blue;
            bgr[1] = c.Green;
            bgr[2] = c.Red;
        }
    }

    const Status begun = sink.begin(int(width), int(height));
    if (!begun.ok()) return begun;
    for (int y = 0; y < height; ++y) {
        if (y < frame.Top || y >= frame.Top + frame.Height) {
            sink.paletteRow(nullptr, 0, 0, palette);  // outside the frame
            continue;
        }
        const unsigned char *line = frameRows.next();
        if (line == nullptr) return gifFailure(gif->Error);
        sink.paletteRow(line, frame.Left, frame.Width, palette);
    }
    return kSuccess;
}

}  // namespace

Status decodeGif(ByteView file, RowSink &sink) {
    MemoryInput input{file, 0};
    int error = 0;
    GifFile gif(DGifOpen(&input, readFromMemory, &error));
    if (!gif) return gifFailure(error);

    int transparentColour = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) return gifFailure(gif->Error);
        switch (record) {
            case EXTENSION_RECORD_TYPE:
                if (!readExtension(gif.get(), transparentColour)) return gifFailure(gif->Error);
                break;
            case IMAGE_DESC_RECORD_TYPE: return decodeFirstFrame(gif.get(), transparentColour, sink);
            default: return notConverted();  // the end, or garbage, before any frame
        }
    }
}

}  // namespace vdl
