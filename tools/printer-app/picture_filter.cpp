#include "picture_filter.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "driver.h"
#include "gray_picture.h"

namespace vdlapp {
namespace {

// What one picture job may hold in memory: its file, read whole, and the
// picture decoded from it, a byte a pixel (a progressive JPEG's coefficients
// besides, which decodeJpeg counts). A 4 x 6 in label at 600 dpi is 8.6
// million pixels and a 48-megapixel photo fits; a file that claims gigabytes
// of pixels in its header is refused before any of them is decoded.
constexpr std::size_t kPictureJobBytes = std::size_t(128) << 20;

// Whether the picture is the label, dot for dot: drawn for this label at the
// printer's resolution, to be printed upright.
bool fitsDotForDot(const GrayPicture &picture, const pappl_pr_options_t &options) {
    const cups_page_header2_t &page = options.header;
    return unsigned(picture.width) == page.cupsWidth && unsigned(picture.height) == page.cupsHeight &&
           (options.orientation_requested == IPP_ORIENT_NONE || options.orientation_requested == IPP_ORIENT_PORTRAIT);
}

// A photo's page comes to the driver as 8-bit grey rows, which it diffuses
// (PAPPL's image filter copies such rows, interpolated, where it would
// otherwise threshold them).
void useGrayRows(cups_page_header2_t &page) {
    page.cupsBitsPerColor = page.cupsBitsPerPixel = 8;
    page.cupsBytesPerLine = page.cupsWidth;
    page.cupsColorSpace = CUPS_CSPACE_SW;
    page.cupsNumColors = 1;
}

Content contentOf(const pappl_pr_options_t &options) {
    if (options.print_content_optimize == PAPPL_CONTENT_AUTO) return Content::automatic;
    return options.print_content_optimize == PAPPL_CONTENT_PHOTO ? Content::photo : Content::sharp;
}

Quality qualityOf(const pappl_pr_options_t &options) {
    if (options.print_quality == IPP_QUALITY_DRAFT) return Quality::draft;
    return options.print_quality == IPP_QUALITY_HIGH ? Quality::high : Quality::normal;
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
    const bool gray = options->header.cupsBitsPerPixel == 8;
    for (int y = 0; printed && y < picture.height && !papplJobIsCanceled(job); ++y) {
        const unsigned char *row = picture.pixels.data() + std::size_t(y) * std::size_t(picture.width);
        if (!gray) thresholdRow(row, picture.width, options->dither[y & 15], dots.data());
        printed = driver->rwriteline_cb(job, options, device, unsigned(y), gray ? row : dots.data());
    }
    printed = printed && !papplJobIsCanceled(job) && driver->rendpage_cb(job, options, device, 1);
    if (printed) papplJobSetImpressionsCompleted(job, 1);
    // The end of the job confirms that the printer took it.
    const bool ended = driver->rendjob_cb(job, options, device);
    return printed && ended;
}

// The print options' reduction for this picture, then the picture to the
// driver: dot for dot, or scaled by PAPPL (interpolated for a photo; the
// edges of text and barcodes stay sharp, and the label is drawn faster, with
// the nearest pixel).
bool printPicture(pappl_job_t *job, pappl_device_t *device, const GrayPicture &picture, bool jpeg) {
    pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, false);
    if (!options) return false;
    const bool diffused = diffuses(contentOf(*options), qualityOf(*options), jpeg, picture);
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "The picture is reduced to dots by %s.",
                diffused ? "error diffusion" : "a threshold");
    if (diffused) useGrayRows(options->header);
    const bool printed = fitsDotForDot(picture, *options)
                             ? printDotForDot(job, device, options, picture)
                             : papplJobFilterImage(job, device, options, picture.pixels.data(), picture.width,
                                                   picture.height, 1, picture.pixelsPerInch, diffused);
    papplJobDeletePrintOptions(options);
    return printed;
}

// A picture job: its file decoded within the job's memory and PAPPL's
// largest picture, then printed.
bool filterPicture(pappl_job_t *job, pappl_device_t *device, bool jpeg) {
    const char *kind = jpeg ? "JPEG" : "PNG";
    std::vector<unsigned char> file;
    if (!readJobDocument(job, kPictureJobBytes, file)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot read the %s document.", kind);
        return false;
    }
    pappl_system_t *system = papplPrinterGetSystem(papplJobGetPrinter(job));
    int maxWidth = 0, maxHeight = 0;
    papplSystemGetMaxImageSize(system, &maxWidth, &maxHeight);
    GrayPicture picture;
    const bool fits = file.size() <= kPictureJobBytes;
    const std::size_t maxPixels = fits ? kPictureJobBytes - file.size() : 0;
    const bool decoded = fits && (jpeg ? decodeJpeg(file.data(), file.size(), maxPixels, picture)
                                       : decodePng(file.data(), file.size(), maxPixels, picture));
    if (!decoded || picture.width > maxWidth || picture.height > maxHeight) {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The %s document is damaged, truncated or too large.", kind);
        return false;
    }
    file = {};
    return printPicture(job, device, picture, jpeg);
}

}  // namespace

bool pngFilter(pappl_job_t *job, pappl_device_t *device, void *) {
    return showEnd(job, filterPicture(job, device, false));
}

bool jpegFilter(pappl_job_t *job, pappl_device_t *device, void *) {
    return showEnd(job, filterPicture(job, device, true));
}

}  // namespace vdlapp
