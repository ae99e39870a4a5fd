// What a document is, told by its first bytes: the pictures and rasters the
// server prints, the printer's own command language, or something else, which
// is refused rather than sent to the printer. No PAPPL in here, so the rule
// can be tested and fuzzed on its own.
#ifndef VDL_PRINTER_APP_DOCUMENT_FORMAT_H
#define VDL_PRINTER_APP_DOCUMENT_FORMAT_H

#include <cstddef>

namespace vdlapp {

constexpr const char *kCommandsFormat = "application/vnd.veldrin-commands";

enum class DocumentFormat { unknown, png, jpeg, pwgRaster, urf, commands };

// The format of a document whose first `size` bytes are `bytes` (the whole
// document or only its start). Pictures and rasters are known by their
// signatures. Commands are known by their own syntax: the bytes are commands
// of the printer's language one after the other, each whole and in the shape
// the printer decodes (its letters, then its fields: decimal numbers and the
// letters a field allows), ending as the printer ends it (a line at CR or LF;
// text, barcode and RFID data at the quote and CR after the opening quote; a
// bitmap after the raster its binary header announces, or the run-length
// stream that decodes to it, and CR). Line ends between commands are passed
// over. Bytes that are not text therefore pass only as quoted data or as a
// bitmap's header and raster. The bytes may stop inside a command, since only
// the document's start may be seen, but what there is of it must fit, and at
// least one command must be whole.
DocumentFormat detectDocumentFormat(const unsigned char *bytes, std::size_t size);

// The MIME media type of a format; none (nullptr) for an unknown one.
const char *mimeTypeOf(DocumentFormat format);

}  // namespace vdlapp

#endif
