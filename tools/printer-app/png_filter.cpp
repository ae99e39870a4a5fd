#include "png_filter.h"

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "gray_picture.h"

namespace vdlapp {
namespace {

// The whole file in one read where it can.
bool readFile(const char *path, std::vector<unsigned char> &bytes) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat about {};
    if (fd < 0) return false;
    bytes.clear();
    if (::fstat(fd, &about) == 0 && about.st_size > 0) bytes.reserve(std::size_t(about.st_size));
    unsigned char chunk[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    ::close(fd);
    return got == 0;
}

// Whether the picture is the label, dot for dot: drawn for this label at the
// printer's resolution, to be printed upright and not as a photo.
bool fitsDotForDot(const GrayPicture &picture, const pappl_pr_options_t &options) {
    const cups_page_header2_t &page = options.header;
    return unsigned(picture.width) == page.cupsWidth && unsigned(picture.height) == page.cupsHeight &&
           page.cupsBitsPerPixel == 1 && options.print_content_optimize != PAPPL_CONTENT_PHOTO &&
           (options.orientation_requested == IPP_ORIENT_NONE || options.orientation_requested == IPP_ORIENT_PORTRAIT);
}

// Such a picture needs no scaling: its rows go through the driver's raster
// callbacks straight away, sparing PAPPL's general scaling loop (a third of
// a label's processing).
bool printDotForDot(pappl_job_t *job, pappl_device_t *device, pappl_pr_options_t *options,
                    const GrayPicture &picture) {
    auto driver = std::make_unique<pappl_pr_driver_data_t>();
    papplPrinterGetDriverData(papplJobGetPrinter(job), driver.get());
    papplJobSetImpressions(job, 1);
    if (!driver->rstartjob_cb(job, options, device)) return false;
    bool printed = driver->rstartpage_cb(job, options, device, 1);
    std::vector<unsigned char> dots(options->header.cupsBytesPerLine);
    for (int y = 0; printed && y < picture.height && !papplJobIsCanceled(job); ++y) {
        thresholdRow(picture.pixels.data() + std::size_t(y) * std::size_t(picture.width), picture.width,
                     options->dither[y & 15], dots.data());
        printed = driver->rwriteline_cb(job, options, device, unsigned(y), dots.data());
    }
    printed = printed && !papplJobIsCanceled(job) && driver->rendpage_cb(job, options, device, 1);
    if (printed) papplJobSetImpressionsCompleted(job, 1);
    // The end of the job confirms that the printer took it.
    const bool ended = driver->rendjob_cb(job, options, device);
    return printed && ended;
}

}  // namespace

bool pngFilter(pappl_job_t *job, pappl_device_t *device, void *) {
    std::vector<unsigned char> file;
    if (!readFile(papplJobGetFilename(job), file)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot read the PNG document.");
        return false;
    }
    pappl_system_t *system = papplPrinterGetSystem(papplJobGetPrinter(job));
    int maxWidth = 0, maxHeight = 0;
    const std::size_t maxPixels = papplSystemGetMaxImageSize(system, &maxWidth, &maxHeight);
    GrayPicture picture;
    if (!decodePng(file.data(), file.size(), maxPixels, picture) || picture.width > maxWidth ||
        picture.height > maxHeight) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The PNG document is damaged, truncated or too large.");
        return false;
    }
    file = {};
    pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, false);
    if (!options) return false;
    // Interpolation softens a photo's scaling; the edges of text and barcodes
    // stay sharp (and the label is drawn faster) with the nearest pixel.
    const bool smooth = options->print_content_optimize == PAPPL_CONTENT_PHOTO;
    const bool printed = fitsDotForDot(picture, *options)
                             ? printDotForDot(job, device, options, picture)
                             : papplJobFilterImage(job, device, options, picture.pixels.data(), picture.width,
                                                   picture.height, 1, picture.pixelsPerInch, smooth);
    papplJobDeletePrintOptions(options);
    return printed;
}

}  // namespace vdlapp
