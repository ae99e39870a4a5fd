// Labels as a PDF document: one page per label, each the label's paper at
// its resolution, drawn from the label's one-bit bitmap (its PNG), so that
// a PDF viewer or a print dialog shows the dots the printer would print.
#ifndef VDL_EMULATOR_LABEL_PDF_H
#define VDL_EMULATOR_LABEL_PDF_H

#include <string>
#include <vector>

#include "emulated_printer.h"

namespace vdlemu {

// The PDF's bytes; empty when a label's PNG is not one of ours (a one-bit
// greyscale image) or cairo fails (out of memory). Memory: one label's
// bitmap at a bit a dot besides the document, which cairo compresses.
std::string labelsPdf(const std::vector<const PrintedLabel *> &labels);

}  // namespace vdlemu

#endif
