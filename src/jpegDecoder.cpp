// JPEG decoding in process with libjpeg-turbo.
//
// libjpeg reports fatal errors through a callback that must not return; the
// decoder leaves through longjmp back to decodeJpeg. Everything between the
// setjmp and the libjpeg calls is plain data (no destructors are skipped), and
// the row buffers come from libjpeg's own pools, released with its object.
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "picture.h"

namespace vdl {
namespace {

// libjpeg-turbo's advice against files built to decode for ever: a limit on
// the number of progressive scans, and on the memory of one decode.
constexpr int kMaxScans = 500;
constexpr long kMaxDecoderMemory = 1L << 30;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
    bool fileEnded;   // the data ran out; libjpeg goes on as if the file ended there
    bool dataMissed;  // ... and the picture needed more of it
};

[[noreturn]] void escapeOnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->escape, 1);
}

// Warnings (level -1) do not refuse a file: an unknown JFIF revision, stray
// bytes, or a missing end marker after complete data leave the picture whole,
// as other image tools show it. A file cut short in its data is noted: libjpeg
// would decode the part it lacks as grey, which prints black.
void noteWarnings(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    auto *errors = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (errors->base.msg_code == JWRN_JPEG_EOF) errors->fileEnded = true;
    if (errors->base.msg_code == JWRN_HIT_MARKER && errors->fileEnded) errors->dataMissed = true;
}

void stayQuiet(j_common_ptr) {}

void limitScans(j_common_ptr cinfo) {
    const auto *decoder = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decoder->input_scan_number > kMaxScans) {
        cinfo->err->msg_code = JERR_BAD_SCAN_SCRIPT;
        cinfo->err->error_exit(cinfo);
    }
}

// Adobe's CMYK files store the inks inverted (255 = no ink), which is what
// libjpeg hands out for them; other CMYK files store them plainly.
void cmykToBgr(const JSAMPLE *cmyk, unsigned char *bgr, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        const unsigned k = inverted ? cmyk[3] : 255u - cmyk[3];
        for (int c = 0; c < 3; ++c) {
            const unsigned ink = inverted ? cmyk[2 - c] : 255u - cmyk[2 - c];  // yellow, magenta, cyan
            bgr[c] = static_cast<unsigned char>((ink * k + 127u) / 255u);
        }
    }
}

class JpegSession {
public:
    JpegSession() {
        decoder_.err = jpeg_std_error(&errors_.base);
        errors_.base.error_exit = escapeOnError;
        errors_.base.emit_message = noteWarnings;
        errors_.base.output_message = stayQuiet;
        progress_.progress_monitor = limitScans;
    }
    ~JpegSession() { jpeg_destroy_decompress(&decoder_); }
    JpegSession(const JpegSession &) = delete;
    JpegSession &operator=(const JpegSession &) = delete;

    std::jmp_buf &escape() { return errors_.escape; }

    // Why the decode ended in a libjpeg error.
    Status failure() const {
        if (errors_.base.msg_code == JERR_OUT_OF_MEMORY) return noMemory(message::kNoMemoryForRows);
        return notConverted();
    }

    // Any libjpeg error leaves this function through longjmp; it holds only
    // plain data for that reason.
    Status decode(ByteView file, RowSink &sink) {
        jpeg_create_decompress(&decoder_);
        decoder_.mem->max_memory_to_use = kMaxDecoderMemory;
        decoder_.progress = &progress_;
        jpeg_mem_src(&decoder_, file.data, static_cast<unsigned long>(file.size));
        jpeg_read_header(&decoder_, TRUE);

        const Status size = checkPictureSize(decoder_.image_width, decoder_.image_height);
        if (!size.ok()) return size;

        const bool cmyk = decoder_.jpeg_color_space == JCS_CMYK || decoder_.jpeg_color_space == JCS_YCCK;
        decoder_.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
        jpeg_start_decompress(&decoder_);

        const JDIMENSION width = decoder_.output_width;
        JSAMPARRAY decoded = allocateRows(width * JDIMENSION(decoder_.output_components));
        JSAMPARRAY converted = cmyk ? allocateRows(width * 3) : decoded;
        // A file of one scan cut short holds the rows before the cut: the rows
        // decoded after the data ran out are left white. (In a file of several
        // scans the first ones already hold every row, coarsely.)
        const bool blankWhatIsMissing = !jpeg_has_multiple_scans(&decoder_);
        const Status begun = sink.begin(int(width), int(decoder_.output_height));
        if (!begun.ok()) return begun;
        while (decoder_.output_scanline < decoder_.output_height) {
            jpeg_read_scanlines(&decoder_, decoded, 1);
            if (cmyk) cmykToBgr(decoded[0], converted[0], width, decoder_.saw_Adobe_marker);
            if (blankWhatIsMissing && errors_.dataMissed) std::memset(converted[0], 0xFF, std::size_t(width) * 3);
            sink.row(converted[0]);
        }
        jpeg_finish_decompress(&decoder_);
        return kSuccess;
    }

private:
    JSAMPARRAY allocateRows(JDIMENSION rowSize) {
        return (*decoder_.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&decoder_), JPOOL_IMAGE, rowSize, 1);
    }

    jpeg_decompress_struct decoder_{};
    ErrorManager errors_{};
    jpeg_progress_mgr progress_{};
};

}  // namespace

Status decodeJpeg(ByteView file, RowSink &sink) {
    JpegSession session;
    if (setjmp(session.escape()) != 0) return session.failure();
    return session.decode(file, sink);
}

}  // namespace vdl
