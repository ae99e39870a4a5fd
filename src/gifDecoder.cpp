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
    return refused(message::kConvertFailed);
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

// Row y of an interlaced frame is decoded in four passes: every 8th row from
// 0, every 8th from 4, every 4th from 2, every 2nd from 1.
struct Pass {
    int first, step;
};
constexpr Pass kInterlacePasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

bool readFrameIndices(GifFileType *gif, unsigned char *indices) {
    const GifImageDesc &frame = gif->Image;
    auto readRow = [&](int y) { return DGifGetLine(gif, indices + std::size_t(y) * frame.Width, frame.Width) == GIF_OK; };
    if (frame.Interlace) {
        for (const Pass &pass : kInterlacePasses)
            for (int y = pass.first; y < frame.Height; y += pass.step)
                if (!readRow(y)) return false;
    } else {
        for (int y = 0; y < frame.Height; ++y)
            if (!readRow(y)) return false;
    }
    return true;
}

Status decodeFirstFrame(GifFileType *gif, int transparentColour, RowSink &sink) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return gifFailure(gif->Error);
    const GifImageDesc &frame = gif->Image;
    const ColorMapObject *colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr || frame.Width < 0 || frame.Height < 0) return refused(message::kConvertFailed);

    // The canvas is the logical screen, grown if the frame reaches past it.
    const int64_t width = std::max<int64_t>(gif->SWidth, int64_t(frame.Left) + frame.Width);
    const int64_t height = std::max<int64_t>(gif->SHeight, int64_t(frame.Top) + frame.Height);
    const Status size = checkPictureSize(width, height);
    if (!size.ok()) return size;

    Bytes indices = allocateBytes(std::size_t(frame.Width) * std::size_t(frame.Height));
    Bytes row = allocateBytes(std::size_t(width) * 3);
    if (!indices || !row) return noMemory(message::kNoMemoryForRows);
    if (!readFrameIndices(gif, indices.get())) return gifFailure(gif->Error);

    const Status begun = sink.begin(int(width), int(height));
    if (!begun.ok()) return begun;
    for (int y = 0; y < height; ++y) {
        unsigned char *bgr = row.get();
        std::memset(bgr, 0xFF, std::size_t(width) * 3);
        if (y >= frame.Top && y < frame.Top + frame.Height) {
            const unsigned char *line = indices.get() + std::size_t(y - frame.Top) * frame.Width;
            for (int x = 0; x < frame.Width; ++x) {
                const int index = line[x];
                if (index == transparentColour) continue;
                unsigned char *pixel = bgr + 3 * (std::size_t(frame.Left) + x);
                if (index >= colours->ColorCount) {
                    std::memset(pixel, 0, 3);  // a colour the file does not define: not white
                    continue;
                }
                const GifColorType &c = colours->Colors[index];
                pixel[0] = c.Blue;
                pixel[1] = c.Green;
                pixel[2] = c.Red;
            }
        }
        sink.row(bgr);
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
            default: return refused(message::kConvertFailed);  // the end, or garbage, before any frame
        }
    }
}

}  // namespace vdl
