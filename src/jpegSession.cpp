// libjpeg reports fatal errors through a callback that must not return; the
// decoder leaves through longjmp back to decodeJpegRows. Everything between
// the setjmp and the libjpeg calls is plain data (no destructors are
// skipped), and the row buffers come from libjpeg's own pools, released with
// its object.
#include "jpegSession.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE

#include <jerror.h>
#include <jpeglib.h>

namespace vdl {
namespace {

// libjpeg-turbo's advice against files built to decode for ever: a limit on
// the number of progressive scans, and on the memory of one decode.
constexpr int kMaxScans = 500;
constexpr long kMaxDecoderMemory = 1L << 30;
constexpr double kCentimetresPerInch = 2.54;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
    bool fileEnded;  // the data ran out; libjpeg goes on as if the file ended there
    JpegDamage damage;
};

[[noreturn]] void escapeOnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->escape, 1);
}

// Warnings are level -1; only those about the picture's data are damage.
void noteDamage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    auto *errors = reinterpret_cast<ErrorManager *>(cinfo->err);
    switch (errors->base.msg_code) {
        case JWRN_JPEG_EOF: errors->fileEnded = true; break;
        case JWRN_HIT_MARKER:
            errors->damage.corrupt = true;
            if (errors->fileEnded) errors->damage.dataMissed = true;
            break;
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_HUFF_BAD_CODE: errors->damage.corrupt = true; break;
        default: break;
    }
}

void stayQuiet(j_common_ptr) {}

void limitScans(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
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

// The luminance of each pixel, as libjpeg weighs the channels for grey.
void bgrToGray(const unsigned char *bgr, unsigned char *gray, JDIMENSION width) {
    for (JDIMENSION x = 0; x < width; ++x, bgr += 3)
        gray[x] = static_cast<unsigned char>((114u * bgr[0] + 587u * bgr[1] + 299u * bgr[2] + 500u) / 1000u);
}

// The resolution when the file gives square pixels in dots per inch or per centimetre.
int pixelsPerInch(const jpeg_decompress_struct &decoder) {
    if (decoder.X_density != decoder.Y_density) return 0;
    if (decoder.density_unit == 1) return decoder.X_density;
    if (decoder.density_unit == 2) return int(decoder.X_density * kCentimetresPerInch + 0.5);
    return 0;
}

class JpegSession {
public:
    JpegSession() {
        decoder_.err = jpeg_std_error(&errors_.base);
        errors_.base.error_exit = escapeOnError;
        errors_.base.emit_message = noteDamage;
        errors_.base.output_message = stayQuiet;
        progress_.progress_monitor = limitScans;
    }
    ~JpegSession() { jpeg_destroy_decompress(&decoder_); }
    JpegSession(const JpegSession &) = delete;
    JpegSession &operator=(const JpegSession &) = delete;

    std::jmp_buf &escape() { return errors_.escape; }
    const JpegDamage &damage() const { return errors_.damage; }

    JpegOutcome failure() const {
        return errors_.base.msg_code == JERR_OUT_OF_MEMORY ? JpegOutcome::OutOfMemory : JpegOutcome::Failed;
    }

    // Any libjpeg error leaves this function through longjmp; it holds only
    // plain data for that reason.
    JpegOutcome decode(const unsigned char *data, std::size_t size, JpegPixels pixels, JpegSink &sink) {
        jpeg_create_decompress(&decoder_);
        decoder_.mem->max_memory_to_use = kMaxDecoderMemory;
        decoder_.progress = &progress_;
        jpeg_mem_src(&decoder_, data, static_cast<unsigned long>(size));
        jpeg_read_header(&decoder_, TRUE);

        const bool cmyk = decoder_.jpeg_color_space == JCS_CMYK || decoder_.jpeg_color_space == JCS_YCCK;
        const bool gray = pixels == JpegPixels::Gray;
        decoder_.out_color_space = cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
        jpeg_calc_output_dimensions(&decoder_);
        const JDIMENSION width = decoder_.output_width;
        const JpegPicture picture{width, decoder_.output_height, pixelsPerInch(decoder_),
                                  jpeg_has_multiple_scans(&decoder_) != 0};
        if (!sink.begin(picture)) return JpegOutcome::Stopped;

        jpeg_start_decompress(&decoder_);
        JSAMPARRAY decoded = allocateRows(width * JDIMENSION(decoder_.output_components));
        JSAMPARRAY bgr = cmyk ? allocateRows(width * 3) : decoded;
        JSAMPARRAY out = cmyk && gray ? allocateRows(width) : bgr;
        while (decoder_.output_scanline < decoder_.output_height) {
            jpeg_read_scanlines(&decoder_, decoded, 1);
            if (cmyk) cmykToBgr(decoded[0], bgr[0], width, decoder_.saw_Adobe_marker);
            if (cmyk && gray) bgrToGray(bgr[0], out[0], width);
            if (!sink.row(out[0], errors_.damage)) return JpegOutcome::Stopped;
        }
        jpeg_finish_decompress(&decoder_);
        return JpegOutcome::Decoded;
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

JpegOutcome decodeJpegRows(const unsigned char *data, std::size_t size, JpegPixels pixels, JpegSink &sink,
                           JpegDamage &damage) {
    JpegSession session;
    JpegOutcome outcome = JpegOutcome::Failed;
    if (setjmp(session.escape()) != 0)
        outcome = session.failure();
    else
        outcome = session.decode(data, size, pixels, sink);
    damage = session.damage();
    return outcome;
}

}  // namespace vdl
