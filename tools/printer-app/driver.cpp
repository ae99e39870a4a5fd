#include "driver.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "VdlLabelAPI.hpp"
#include "VdlZpl.h"
#include "device_scheme.h"
#include "document_format.h"
#include "gray_picture.h"
#include "job_order.h"
#include "page_payload.h"
#include "status_map.h"
#include "zpl_document.h"

namespace vdlapp {

pappl_pr_driver_t kDrivers[] = {
    {"veldrin_203dpi", "VELDRIN label printer, 203 dpi", "MFG:VELDRIN;", nullptr},
    {"veldrin_300dpi", "VELDRIN label printer, 300 dpi", nullptr, nullptr},
    {"veldrin_600dpi", "VELDRIN label printer, 600 dpi", nullptr, nullptr},
};
const int kDriverCount = int(sizeof kDrivers / sizeof kDrivers[0]);

namespace {

// A job's message, set only when it changes. PAPPL 1.3 frees a job's old
// message while Get-Job-Attributes and Get-Jobs may be copying it without the
// job's lock: a message set once per change, not at every poll of a waiting
// printer, leaves that race the fewest chances.
__attribute__((format(printf, 2, 3))) void setJobMessage(pappl_job_t *job, const char *format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    const char *now = papplJobGetMessage(job);
    if (now == nullptr || std::strcmp(now, text) != 0) papplJobSetMessage(job, "%s", text);
}

constexpr int kDotsPerInch[] = {203, 300, 600};  // in the order of kDrivers
constexpr const char *kNativeFormat = kCommandsFormat;

// Label sizes from 1 x 0.5 in to 4 x 6 in and their metric kin, and the
// continuous roll whose length the job chooses.
constexpr const char *kMedia[] = {
    "oe_1x0-5in_1x0.5in",     "oe_1-5x1in_1.5x1in",   "oe_2x1in_2x1in",       "oe_2-25x1-25in_2.25x1.25in",
    "oe_2x3in_2x3in",         "oe_3x1in_3x1in",       "oe_3x2in_3x2in",       "oe_4x1in_4x1in",
    "oe_4x2in_4x2in",         "oe_4x3in_4x3in",       "oe_4x4in_4x4in",       "na_index-4x6_4x6in",
    "om_25x13mm_25x13mm",     "om_40x30mm_40x30mm",   "om_50x25mm_50x25mm",   "om_57x32mm_57x32mm",
    "om_60x40mm_60x40mm",     "om_100x50mm_100x50mm", "om_100x100mm_100x100mm", "om_100x150mm_100x150mm",
    "roll_max_4x39.6in",      "roll_min_0.75x0.25in",
};
constexpr const char *kDefaultMedia = "na_index-4x6_4x6in";

// media-type keywords and the media the printer is told about.
constexpr struct {
    const char *keyword;
    vdl::MediaType media;
} kMediaTypes[] = {
    {"labels", vdl::MediaType::gap},
    {"continuous", vdl::MediaType::continuous},
    {"black-mark", vdl::MediaType::black_mark},
};

constexpr int kDarknessLevels = 21;  // the printer's densities 0-20
constexpr int kSpeedLevels = 12;     // the printer's speeds 1-12, taken as inches a second
constexpr int kMaxOffsetDots = 100;  // the stop and cut positions go from -100 to 100 dots
constexpr int kGapMillimetres = 3;   // the usual gap between labels, also the black mark's length
constexpr int kWaitSlice = 250000;   // microseconds between looks at a cancel while a job waits
constexpr int kWaitSlices = 20;      // five seconds between tries of a printer in error

// Seconds the worker may take for one request of a job. A job's request waits
// in slices and ends at once when the job is cancelled or the server stops.
constexpr int kConnectTimeout = 60;  // a Bluetooth connect retries for a while
constexpr int kJobTimeout = 300;     // a 4 x 40 in label over a 9600 baud line
constexpr int kConfirmTimeout = 60;  // the worker's own patience (about 30 s) and some
// While clients ask, what they see of a printer is kept at most this old:
// an older answer is refreshed in the background, so that requests do not
// wait on the printer.
constexpr auto kStatusFresh = std::chrono::seconds(1);
// What a client is told is never older than this: after a quiet spell the
// request waits for a refresh, at most kStatusWait (a first connect over TCP
// takes a second and a half), and when the printer has not answered by then
// it is shown offline rather than as it was.
constexpr auto kStatusPromised = std::chrono::seconds(5);
constexpr auto kStatusWait = std::chrono::seconds(2);
// How long after the last question the state is kept fresh: CUPS asks a
// printer with a queue every few seconds.
constexpr auto kKeepFreshWhileAsked = std::chrono::seconds(30);

int dotsPerInch(const char *driverName) {
    for (int i = 0; i < kDriverCount; ++i)
        if (std::strcmp(kDrivers[i].name, driverName) == 0) return kDotsPerInch[i];
    return 0;
}

// What IPP Everywhere asks a printer to say that PAPPL does not make from
// the driver data: no preferred values (Get-Printer-Supported-Values has
// none), no colour management to choose an intent for, one-sided pages.
ipp_t *extraAttributes() {
    ipp_t *attributes = ippNew();
    ippAddBoolean(attributes, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr, "auto");
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr, "normal");
    return attributes;
}

int hundredthsMmToDots(int hundredths, int dpi) { return int((long(hundredths) * dpi + 1270) / 2540); }
int dotsToHundredthsMm(int dots, int dpi) { return dots * 2540 / dpi; }

// Everything a raster job collects for the page it is on.
struct RasterJob {
    DeviceLink *link;
    bool ended = false;  // PAPPL ends a job a second time after a failed end
    PagePayload page;
    int copies = 1;  // made by the print command of each page
    unsigned pagesStarted = 0;
    bool repeat = false;  // PAPPL's own copy of a page the print command already counted
    // A photo's page comes as 8-bit grey rows (picture_filter.cpp), diffused
    // here into the page's one-bit rows; any other comes as one-bit rows.
    bool gray = false;
    Diffuser diffuser;
    std::vector<unsigned char> dots;  // a diffused row
};

// The printer's make and model: the model it reported on connect, once known.
std::string makeAndModel(const std::string &model, int dpi) {
    return (model.empty() ? std::string("VELDRIN label printer") : "VELDRIN " + model) + ", " +
           std::to_string(dpi) + " dpi";
}

// What the driver last showed of each printer. Kept here, not asked of
// PAPPL: papplPrinterGetReasons would run the status callback again, and the
// driver data is a large copy to make on every status poll.
struct Shown {
    std::optional<pappl_preason_t> reasons;
    std::string model;
};

// Runs change(shown) under the record's lock; true when it changed something.
// Keyed by the printer's ID, which PAPPL never gives to another printer, as a
// deleted printer's address may be.
template <typename Change>
bool updateShown(pappl_printer_t *printer, Change &&change) {
    static std::mutex mutex;
    static std::map<int, Shown> shown;
    const std::lock_guard<std::mutex> lock(mutex);
    return change(shown[papplPrinterGetID(printer)]);
}

// Shows the reported model in printer-make-and-model and the web pages. The
// driver data goes back whole, with the options set on the printer.
void showReportedModel(pappl_printer_t *printer, const std::string &model) {
    if (model.empty() || !updateShown(printer, [&](Shown &s) { return std::exchange(s.model, model) != model; }))
        return;
    auto driver = std::make_unique<pappl_pr_driver_data_t>();
    papplPrinterGetDriverData(printer, driver.get());
    snprintf(driver->make_and_model, sizeof driver->make_and_model, "%s",
             makeAndModel(model, driver->x_default).c_str());
    ipp_t *attributes = extraAttributes();
    papplPrinterSetDriverData(printer, driver.get(), attributes);
    ippDelete(attributes);
}

// The printer's supplies: the label roll and the thermal transfer ribbon
// (printing direct thermal, the printer uses none). The printer says only
// whether one ran out: a level is 0 then, else the Printer MIB's -3 ("some
// remaining"), and PAPPL's -1 (unknown) while the printer has not answered.
void showSupplies(pappl_printer_t *printer, std::optional<pappl_preason_t> reasons) {
    const auto level = [&](int emptyReason) { return !reasons ? -1 : (*reasons & emptyReason) ? 0 : -3; };
    pappl_supply_t supplies[] = {
        {PAPPL_SUPPLY_COLOR_NO_COLOR, "Labels", true, level(PAPPL_PREASON_MEDIA_EMPTY), PAPPL_SUPPLY_TYPE_OTHER},
        {PAPPL_SUPPLY_COLOR_BLACK, "Ribbon", true, level(PAPPL_PREASON_MARKER_SUPPLY_EMPTY),
         PAPPL_SUPPLY_TYPE_INK_RIBBON},
    };
    papplPrinterSetSupplies(printer, int(sizeof supplies / sizeof supplies[0]), supplies);
}

// The printer's error bits as printer-state-reasons. PAPPL keeps
// printer-state-message to itself, so the words for a change (which 'other'
// needs) go with the printer-state-changed event to subscribed clients.
void setReasons(pappl_printer_t *printer, const Answer &answer) {
    const pappl_preason_t now = answer.ok() ? reasonsFor(answer.status) : pappl_preason_t(PAPPL_PREASON_OFFLINE);
    if (!updateShown(printer, [&](Shown &s) { return std::exchange(s.reasons, now) != now; })) return;
    papplPrinterSetReasons(printer, now, pappl_preason_t(reasonsWeSet() & ~now));
    showSupplies(printer, answer.ok() ? std::optional<pappl_preason_t>(now) : std::nullopt);
    const std::string words = answer.ok() ? messageFor(answer.status) : Worker::describe(answer.result);
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "The printer: %s.", words.c_str());
    papplSystemAddEvent(papplPrinterGetSystem(printer), printer, nullptr, PAPPL_EVENT_PRINTER_STATE_CHANGED, "%s",
                        words.c_str());
}

// What the printer said, shown on the printer: its reasons and its model.
void showPrinter(pappl_printer_t *printer, const Answer &answer) {
    setReasons(printer, answer);
    if (answer.ok()) showReportedModel(printer, answer.model);
}

// A job stops waiting for its printer when it is cancelled and when its
// printer is being deleted (PAPPL deletes a busy printer once its job ends).
// A server that stops leaves its jobs as they are, to print after the next start.
std::function<bool()> cancelOf(pappl_job_t *job) {
    return [job] { return papplJobIsCanceled(job) || papplPrinterIsDeleted(papplJobGetPrinter(job)); };
}

// The worker's answer to one request of a job, shown on the printer.
Answer ask(pappl_job_t *job, DeviceLink *link, Request type, const void *payload, std::size_t length, int timeout) {
    const Answer answer = link->worker->call(type, payload, length, timeout, cancelOf(job));
    if (answer.result != kCancelled) setReasons(papplJobGetPrinter(job), answer);
    return answer;
}

// Sleeps between tries of a printer; false when the job was cancelled meanwhile.
bool pauseBeforeRetry(pappl_job_t *job) {
    const std::function<bool()> cancelled = cancelOf(job);
    for (int i = 0; i < kWaitSlices && !cancelled(); ++i) ::usleep(kWaitSlice);
    return !cancelled();
}

// What a job says while it runs; PAPPL keeps a job's last message after its
// end, so showEnd replaces these.
constexpr const char *kPrinting = "Printing.";
constexpr const char *kWaiting = "Waiting for the printer: ";

void showWaiting(pappl_job_t *job, const Answer &answer) {
    const std::string why = answer.ok() ? messageFor(answer.status) : Worker::describe(answer.result);
    papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
    setJobMessage(job, "%s%s.", kWaiting, why.c_str());
}

// Whether the job's message says why it failed; else it is one of a running job, or none.
bool saysWhyItFailed(pappl_job_t *job) {
    const char *message = papplJobGetMessage(job);
    return message && std::strcmp(message, kPrinting) != 0 &&
           std::strncmp(message, kWaiting, std::strlen(kWaiting)) != 0;
}

Settings settingsFor(pappl_job_t *job, const pappl_pr_options_t *options) {
    auto driver = std::make_unique<pappl_pr_driver_data_t>();
    papplPrinterGetDriverData(papplJobGetPrinter(job), driver.get());
    const int dpi = options->printer_resolution[0] > 0 ? options->printer_resolution[0] : 203;
    const pappl_media_col_t &media = options->media;

    Settings s{};
    const int darkness = std::clamp(options->darkness_configured + options->print_darkness, 0, 100);
    s.density = (darkness * (kDarknessLevels - 1) + 50) / 100;
    const int speed = options->print_speed > 0 ? options->print_speed : driver->speed_default;
    s.speed = std::clamp((speed + 1270) / 2540, 1, kSpeedLevels);
    // PAPPL checks a job's print-speed, not a print-speed-default set with
    // Set-Printer-Attributes: such a default is brought into range, and said.
    if (speed > kSpeedLevels * 2540)
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "print-speed %d is beyond the printer's %d in/s: printing at %d in/s.",
                    speed, kSpeedLevels, kSpeedLevels);
    s.widthDots = hundredthsMmToDots(media.size_width, dpi);
    s.lengthDots = hundredthsMmToDots(media.size_length, dpi);
    s.mediaType = int(vdl::MediaType::gap);
    for (const auto &type : kMediaTypes)
        if (std::strcmp(media.type, type.keyword) == 0) s.mediaType = int(type.media);
    s.gapDots = s.mediaType == int(vdl::MediaType::continuous) ? 0 : kGapMillimetres * dpi * 10 / 254;
    s.leftDots = hundredthsMmToDots(media.left_offset, dpi);
    s.topDots = hundredthsMmToDots(media.top_offset, dpi);

    const pappl_label_mode_t mode = driver->mode_configured;
    s.cutter = mode == PAPPL_LABEL_MODE_CUTTER ? 1 : mode == PAPPL_LABEL_MODE_CUTTER_DELAYED ? 2 : 0;
    // The delayed cutter cuts once after the job's labels; the others take no
    // period, so that a change of copies alone sends no settings again.
    s.cutPeriod = s.cutter == 2 ? std::max(1, options->copies) * std::max(1, int(options->num_pages)) : 0;
    s.rewind = mode == PAPPL_LABEL_MODE_REWIND;
    s.backFeed = mode == PAPPL_LABEL_MODE_PEEL_OFF;
    s.stopOffsetDots =
        std::clamp(hundredthsMmToDots(driver->tear_offset_configured, dpi), -kMaxOffsetDots, kMaxOffsetDots);
    return s;
}

// Whether the printer said it was ready within the age promised for its
// status: a job then starts without a query of its own. The worker keeps the
// answer that young for a minute after each job (Worker::jobEnded), so a job
// that follows another within a minute goes out at once.
bool answeredReadyLately(const DeviceLink *link) {
    const Snapshot last = link->worker->last();
    return last.known && last.answer.ok() && last.answer.status == 0 && last.age < kStatusPromised;
}

// The error bits the printer reported while it held a job's labels, for
// showEnd; a job runs on one thread from its start to its end.
thread_local std::uint32_t stoppedWithLabels = 0;

// A printer in error or out of reach does not get the job: the job waits,
// trying again every few seconds, until the printer takes its settings or the
// job is cancelled. Each try connects afresh when the last request failed (a
// printer switched off and on, a slow answer that timed out). Nothing of the
// job's labels has been sent yet, so nothing prints twice.
bool startJob(pappl_job_t *job, pappl_pr_options_t *options, DeviceLink *link) {
    pappl_printer_t *printer = papplJobGetPrinter(job);
    holdJobsBehind(printer, papplJobGetID(job));
    link->worker->jobStarting();
    stoppedWithLabels = 0;
    const Settings settings = settingsFor(job, options);
    bool askFirst = !answeredReadyLately(link);
    for (;;) {
        Answer answer;
        if (askFirst) {
            answer = ask(job, link, Request::connect, link->port.data(), link->port.size(), kConnectTimeout);
            if (answer.result == kCancelled) return false;
            if (answer.ok()) showReportedModel(printer, answer.model);
        }
        if (answer.ok() && answer.status == 0) {
            answer = ask(job, link, Request::settings, &settings, sizeof settings, kJobTimeout);
            if (answer.result == kCancelled) return false;
            if (answer.ok()) {
                papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
                setJobMessage(job, "%s", kPrinting);
                return true;
            }
            papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Settings: %s", Worker::describe(answer.result).c_str());
            // The printer went away since it last answered: ask it again at once.
            if (!std::exchange(askFirst, true)) continue;
        }
        showWaiting(job, answer);
        if (!pauseBeforeRetry(job)) {
            showEnd(job, false);
            return false;
        }
    }
}

// A job is done when the printer has taken all of it and answers ready: a
// printer that stops answering right after a job may have printed none of
// it, and one that answers with an error that holds labels back (paper
// empty, cover open, ...) has not printed them yet. The job then waits, as a
// job waits before it starts, and is confirmed once the printer is ready
// again; nothing more of it is sent meanwhile.
bool confirmJob(pappl_job_t *job, DeviceLink *link) {
    Answer answer = ask(job, link, Request::confirm, nullptr, 0, kConfirmTimeout);
    while (answer.ok() && holdsLabelsBack(answer.status)) {
        stoppedWithLabels |= answer.status;
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The printer took the job and stopped: %s.",
                    messageFor(answer.status).c_str());
        showWaiting(job, answer);
        if (!pauseBeforeRetry(job)) return false;
        answer = ask(job, link, Request::confirm, nullptr, 0, kConfirmTimeout);
    }
    if (answer.ok()) {
        papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
        setJobMessage(job, "%s", kPrinting);
    }
    if (answer.ok() || answer.result == kCancelled) return answer.ok();
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    setJobMessage(job, "Not confirmed: the printer stopped answering after the job was sent (%s); "
                            "its labels may not have printed.",
                       Worker::describe(answer.result).c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Not confirmed: %s", Worker::describe(answer.result).c_str());
    return false;
}

// A request of the job that failed: its labels may be half sent.
void showLost(pappl_job_t *job, const char *what, const Answer &answer) {
    if (answer.result == kCancelled) return;
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    setJobMessage(job, "%s: %s; it may not have printed.", what, Worker::describe(answer.result).c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s: %s", what, Worker::describe(answer.result).c_str());
}

// The printer's worker; created on first use.
std::shared_ptr<Worker> workerOf(pappl_printer_t *printer) {
    const char *uri = papplPrinterGetDeviceURI(printer);
    return workerFor(papplPrinterGetID(printer), uri ? uri : "");
}

// The job's device, bound to its printer's worker.
DeviceLink *jobLink(pappl_job_t *job, pappl_device_t *device) {
    DeviceLink *link = linkOf(device);
    link->worker = workerOf(papplJobGetPrinter(job));
    return link;
}

// The job ends (printed or not): the next in line may start.
void endJob(pappl_job_t *job) { releaseNextJob(papplJobGetPrinter(job), papplJobGetID(job)); }

// A job that reached its printer's worker ends: the worker keeps the
// printer's state fresh for the next one. A deleted printer gets no next
// one: its worker is retired, or (a job PAPPL still ran on it) a stand-in
// that must not go on connecting to the printer.
void endJob(pappl_job_t *job, DeviceLink *link) {
    if (!papplPrinterIsDeleted(papplJobGetPrinter(job))) link->worker->jobEnded(link->port);
    endJob(job);
}

// PAPPL calls no end of job after a start that failed (a job cancelled while
// it waited for its printer): the job's record goes here.
bool rasterStartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
    auto raster = std::make_unique<RasterJob>();
    raster->link = jobLink(job, device);
    if (!startJob(job, options, raster->link)) {
        endJob(job, raster->link);
        return false;
    }
    // The print command makes the copies. PAPPL's image filter draws a picture
    // once a copy, reading the count after this call: told of one, it spares
    // the drawing of copies that would only be dropped (a millisecond each).
    raster->copies = std::max(1, options->copies);
    options->copies = 1;
    papplJobSetData(job, raster.release());
    return true;
}

bool rasterStartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
    RasterJob *raster = static_cast<RasterJob *>(papplJobGetData(job));
    // PAPPL makes copies by running the pages again; the print command's
    // count makes them here, so those repeats are not sent.
    raster->repeat = options->num_pages > 0 && ++raster->pagesStarted > options->num_pages;
    if (raster->repeat) return true;
    raster->gray = options->header.cupsBitsPerPixel == 8;
    if (raster->gray) {
        raster->diffuser.start(int(options->header.cupsWidth));
        raster->dots.assign((options->header.cupsWidth + 7) / 8, 0);
    }
    return raster->page.start(options->header.cupsWidth, options->header.cupsHeight, raster->copies);
}

bool rasterWriteLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned y,
                     const unsigned char *line) {
    RasterJob *raster = static_cast<RasterJob *>(papplJobGetData(job));
    if (raster->repeat) return true;
    if (!raster->gray) {
        raster->page.writeRow(y, line, options->header.cupsBytesPerLine);
        return true;
    }
    // PAPPL sends every row in order, the white ones around the picture
    // included, which carry no error.
    raster->diffuser.row(line, raster->dots.data());
    raster->page.writeRow(y, raster->dots.data(), raster->dots.size());
    return true;
}

// Each page is one label: its bitmap once, then the print command with the copies.
bool rasterEndPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned) {
    RasterJob *raster = static_cast<RasterJob *>(papplJobGetData(job));
    if (raster->repeat) return true;
    const std::vector<unsigned char> &payload = raster->page.bytes();
    const Answer answer = ask(job, raster->link, Request::page, payload.data(), payload.size(), kJobTimeout);
    if (!answer.ok()) {
        showLost(job, "Label", answer);
        return false;
    }
    // PAPPL counts the page once; the printer makes it copies times.
    papplJobSetImpressionsCompleted(job, raster->copies - 1);
    return true;
}

// PAPPL calls this once more after a failed end: the second call does nothing.
bool rasterEndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *) {
    RasterJob *raster = static_cast<RasterJob *>(papplJobGetData(job));
    if (!raster || raster->ended) return raster != nullptr;
    raster->ended = true;
    const bool started = raster->pagesStarted > 0 && !papplJobIsCanceled(job);
    const bool confirmed = started && confirmJob(job, raster->link);
    endJob(job, raster->link);
    delete raster;
    papplJobSetData(job, nullptr);
    // PAPPL ends a job whose raster it found bad before this call.
    showEnd(job, confirmed && papplJobGetState(job) != IPP_JSTATE_ABORTED);
    return confirmed || !started;
}

}  // namespace

int openJobDocument(pappl_job_t *job) {
    const char *path = papplJobGetFilename(job);
    return path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
}

bool readJobDocument(pappl_job_t *job, std::size_t limit, std::vector<unsigned char> &bytes) {
    const int fd = openJobDocument(job);
    struct stat about {};
    if (fd < 0) return false;
    bytes.clear();
    if (::fstat(fd, &about) == 0 && about.st_size > 0) bytes.reserve(std::min(std::size_t(about.st_size), limit + 1));
    unsigned char chunk[65536];
    ssize_t got = 0;
    while (bytes.size() <= limit && (got = ::read(fd, chunk, std::min(sizeof chunk, limit + 1 - bytes.size()))) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    ::close(fd);
    return got >= 0;
}

namespace {

// Writes one copy's bytes through send (which says whether the printer took
// them); false when they could not all be read.
using CopyWriter = std::function<bool(const std::function<bool(const char *, std::size_t)> &send)>;

// A job in the printer's own command language goes out as it is, once a
// copy, each copy an impression. A copy goes out once the printer has
// answered after the one before: no more than one copy is ever on its way
// ahead of the printer, so a cancel stops the labels at the next copy.
bool sendCopies(pappl_job_t *job, pappl_pr_options_t *options, DeviceLink *link, const CopyWriter &writeCopy) {
    const int copies = std::max(1, options->copies);
    papplJobSetImpressions(job, copies);
    for (int copy = 0; copy < copies; ++copy) {
        if (copy > 0 && !confirmJob(job, link)) return false;
        if (copy > 0) papplJobSetImpressionsCompleted(job, 1);
        if (papplJobIsCanceled(job)) return false;
        Answer answer;
        const bool whole = writeCopy([&](const char *data, std::size_t length) {
            answer = ask(job, link, Request::raw, data, length, kJobTimeout);
            return answer.ok();
        });
        if (!answer.ok()) {
            showLost(job, "Commands", answer);
            return false;
        }
        if (!whole) return false;
    }
    return true;
}

// The job's document, read a chunk at a time.
bool writeDocument(pappl_job_t *job, const std::function<bool(const char *, std::size_t)> &send) {
    const int fd = openJobDocument(job);
    if (fd < 0) return false;
    std::vector<char> chunk(65536);
    ssize_t n = 0;
    while ((n = ::read(fd, chunk.data(), chunk.size())) > 0 && send(chunk.data(), std::size_t(n))) {
    }
    ::close(fd);
    return n == 0;
}

bool printCommands(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, const CopyWriter &writeCopy) {
    DeviceLink *link = jobLink(job, device);
    const bool printed = startJob(job, options, link) && sendCopies(job, options, link, writeCopy) && confirmJob(job, link);
    if (printed) papplJobSetImpressionsCompleted(job, 1);  // the last copy
    endJob(job, link);
    showEnd(job, printed);
    return printed;
}

// A ZPL job's labels, each printed by the worker's translator and confirmed
// before the next (so that a cancel stops the labels at the next one, and a
// printer that stops answering is seen at once); each copy of the document
// in turn. A label that only stores a format counts no impression.
bool sendZplLabels(pappl_job_t *job, pappl_pr_options_t *options, DeviceLink *link,
                   const std::vector<std::string> &labels) {
    const auto prints = [](const std::string &label) { return label.find("^DF") == std::string::npos; };
    const int copies = std::max(1, options->copies);
    papplJobSetImpressions(job, copies * int(std::count_if(labels.begin(), labels.end(), prints)));
    for (int copy = 0; copy < copies; ++copy) {
        for (const std::string &label : labels) {
            if (papplJobIsCanceled(job)) return false;
            const Answer answer = ask(job, link, Request::zpl, label.data(), label.size(), kJobTimeout);
            if (!answer.ok()) {
                showLost(job, "Label", answer);
                return false;
            }
            if (!confirmJob(job, link)) return false;
            if (prints(label)) papplJobSetImpressionsCompleted(job, 1);
        }
    }
    return true;
}

bool printZpl(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
    std::vector<std::string> labels;
    if (!readZplLabels(job, labels)) {
        endJob(job);
        return showEnd(job, false);
    }
    DeviceLink *link = jobLink(job, device);
    const bool printed = startJob(job, options, link) && sendZplLabels(job, options, link, labels);
    endJob(job, link);
    showEnd(job, printed);
    return printed;
}

// A job from the raw socket comes in the printer's format whatever it holds:
// ZPL sent to the printer's port is translated, and bytes that are not the
// printer's commands are refused as an IPP document of no known format is.
bool printRawFile(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
    switch (rawContentOf(job)) {
    case RawContent::zpl: return printZpl(job, options, device);
    case RawContent::commands:
        return printCommands(job, options, device, [job](const auto &send) { return writeDocument(job, send); });
    case RawContent::other: break;
    }
    unknownFormatFilter(job, device, nullptr);
    endJob(job);
    return showEnd(job, false);
}

// The printer's state as the worker last had it, shown; refreshed in the
// background when older than kStatusFresh while clients keep asking. A
// client's request (once the server answers requests: not while it loads its
// state) is never shown a state older than kStatusPromised.
void showLastState(pappl_printer_t *printer, bool asked) {
    const char *uri = papplPrinterGetDeviceURI(printer);
    const std::optional<std::string> port = portNameFromUri(uri ? uri : "");
    if (!port) return;
    const std::shared_ptr<Worker> worker = workerOf(printer);
    if (asked) worker->noteAsked();
    Snapshot last = worker->last();
    if ((!last.known || last.age > kStatusFresh) && worker->askedWithin(kKeepFreshWhileAsked))
        worker->refreshInBackground(*port);
    // A printer already shown offline stays so, without a wait, until it answers.
    const bool promised = asked && papplSystemIsRunning(papplPrinterGetSystem(printer));
    if (promised && (!last.known || (last.answer.ok() && last.age > kStatusPromised))) {
        last = worker->lastWithin(kStatusPromised, kStatusWait);
        if (!last.known || last.age > kStatusPromised) last = Snapshot{Answer{kNoFreshAnswer, 0, {}}, true, {}};
    }
    if (last.known) showPrinter(printer, last.answer);
}

// When a client asks for the printer's attributes: what the printer last
// said, at once. PAPPL calls this from the request's thread and from its
// state loading, at most every other second.
bool printerStatus(pappl_printer_t *printer) {
    showLastState(printer, true);
    return true;
}

// A deleted printer's worker ends, and with it its printer connection.
void printerDeleted(pappl_printer_t *printer, pappl_pr_driver_data_t *) {
    retireWorker(papplPrinterGetID(printer));
    queueDeleted(printer);
}

// Identify-Printer. The printer has no light or speaker the library drives,
// and feeding a label to point at it would spend a label, land among a job's
// labels and wait on a printer that may hang. Its 'display' is where an
// operator already looks: the server's log and, as the notify-text of a
// printer event, the clients that follow the printer (CUPS among them).
void identifyPrinter(pappl_printer_t *printer, pappl_identify_actions_t, const char *message) {
    const char *text = message && *message ? message : "Identify-Printer";
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify: %s", text);
    papplSystemAddEvent(papplPrinterGetSystem(printer), printer, nullptr, PAPPL_EVENT_PRINTER_STATE_CHANGED, "%s", text);
}

void setMedia(pappl_media_col_t &media, const char *name) {
    const pwg_media_t *size = pwgMediaForPWG(name);
    snprintf(media.size_name, sizeof media.size_name, "%s", name);
    media.size_width = size ? size->width : 0;
    media.size_length = size ? size->length : 0;
    snprintf(media.source, sizeof media.source, "main-roll");
    snprintf(media.type, sizeof media.type, "%s", kMediaTypes[0].keyword);
}

}  // namespace

bool showEnd(pappl_job_t *job, bool printed) {
    const std::uint32_t stopped = std::exchange(stoppedWithLabels, 0);
    // A job cancelled while its confirmation waited had reached the printer
    // whole: its labels may still come out.
    if (papplJobIsCanceled(job) && stopped != 0)
        setJobMessage(job, "Canceled: the whole job was sent and the printer stopped (%s) before it confirmed it; "
                           "its labels may print once the printer is ready.",
                      messageFor(stopped).c_str());
    else if (papplJobIsCanceled(job))
        setJobMessage(job, "Canceled: the rest of the job was not sent to the printer.");
    else if (printed && stopped != 0)
        setJobMessage(job, "Printed: the printer stopped after it took the job (%s) and answered ready later; "
                           "see that its labels came out.",
                      messageFor(stopped).c_str());
    else if (printed)
        setJobMessage(job, "Printed: the printer took the whole job and answered after it.");
    else if (saysWhyItFailed(job))
        return printed;
    else if (papplJobGetReasons(job) & PAPPL_JREASON_DOCUMENT_FORMAT_ERROR)
        setJobMessage(job, "Not printed: the document is damaged, truncated or too large.");
    else
        setJobMessage(job, "Aborted: the job did not reach the printer whole; the server's log says why.");
    return printed;
}

// Once a second, from PAPPL's main loop: each printer shows what its worker
// learned since (a refresh in the background, a job's answers), and its
// queue moves on if a job's document came in while it was idle. PAPPL
// deletes a printer only under the system's write lock, which this
// callback's caller holds for reading, so no printer goes away under it.
bool showPrinterStates(pappl_system_t *system, void *) {
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t *printer, void *) {
            showLastState(printer, false);
            checkQueue(printer);
        },
        nullptr);
    return true;
}

bool driverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri, const char *,
                    pappl_pr_driver_data_t *d, ipp_t **attributes, void *) {
    const int dpi = dotsPerInch(driverName);
    if (dpi == 0) return false;
    // The driver talks to its printer through the library's worker only: a
    // device of PAPPL's own (socket:, usb:, the web page's "Network Printer")
    // would hand the driver a device it cannot speak to.
    if (!deviceUri || !portNameFromUri(deviceUri)) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "'%s' is not a vdl: device URI; VELDRIN printers are reached through it.",
                 deviceUri ? deviceUri : "");
        return false;
    }

    d->printfile_cb = printRawFile;
    d->rstartjob_cb = rasterStartJob;
    d->rstartpage_cb = rasterStartPage;
    d->rwriteline_cb = rasterWriteLine;
    d->rendpage_cb = rasterEndPage;
    d->rendjob_cb = rasterEndJob;
    d->status_cb = printerStatus;
    d->delete_cb = printerDeleted;
    d->identify_cb = identifyPrinter;
    d->identify_supported = d->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    d->format = kNativeFormat;
    snprintf(d->make_and_model, sizeof d->make_and_model, "%s", makeAndModel("", dpi).c_str());
    d->kind = PAPPL_KIND_LABEL;
    d->ppm = 60;

    d->num_resolution = 1;
    d->x_resolution[0] = d->y_resolution[0] = d->x_default = d->y_default = dpi;
    // PAPPL reduces grey raster pages to one bit by a plain threshold (sharp
    // edges scan best); photos in PNG and JPEG come as grey rows, diffused by
    // rasterWriteLine.
    d->raster_types = pappl_raster_type_t(PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_BLACK_8 |
                                          PAPPL_PWG_RASTER_TYPE_SGRAY_8);
    d->force_raster_type = PAPPL_PWG_RASTER_TYPE_BLACK_1;
    std::memset(d->gdither, 127, sizeof d->gdither);
    d->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
    d->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    d->content_default = PAPPL_CONTENT_AUTO;
    d->quality_default = IPP_QUALITY_NORMAL;
    d->scaling_default = PAPPL_SCALING_AUTO;
    // Upright unless the job says otherwise (IPP/1.1 clients know no 'none');
    // a job asking for 'none' has a wide picture turned to fit a tall label.
    d->orient_default = IPP_ORIENT_PORTRAIT;
    d->sides_supported = d->sides_default = PAPPL_SIDES_ONE_SIDED;
    d->left_right = d->bottom_top = 0;

    d->num_media = int(sizeof kMedia / sizeof kMedia[0]);
    std::copy(std::begin(kMedia), std::end(kMedia), d->media);
    d->num_source = 1;
    d->source[0] = "main-roll";
    setMedia(d->media_default, kDefaultMedia);
    d->media_ready[0] = d->media_default;
    d->num_type = int(sizeof kMediaTypes / sizeof kMediaTypes[0]);
    for (int i = 0; i < d->num_type; ++i) d->type[i] = kMediaTypes[i].keyword;

    const int maxOffset = dotsToHundredthsMm(kMaxOffsetDots, dpi);
    d->left_offset_supported[0] = d->top_offset_supported[0] = -maxOffset;
    d->left_offset_supported[1] = d->top_offset_supported[1] = maxOffset;
    d->mode_supported = pappl_label_mode_t(PAPPL_LABEL_MODE_TEAR_OFF | PAPPL_LABEL_MODE_PEEL_OFF |
                                           PAPPL_LABEL_MODE_CUTTER | PAPPL_LABEL_MODE_CUTTER_DELAYED |
                                           PAPPL_LABEL_MODE_REWIND);
    d->mode_configured = PAPPL_LABEL_MODE_TEAR_OFF;
    d->tear_offset_supported[0] = -maxOffset;
    d->tear_offset_supported[1] = maxOffset;
    d->tear_offset_configured = 0;
    d->speed_supported[0] = 2540;
    d->speed_supported[1] = kSpeedLevels * 2540;
    d->speed_default = 4 * 2540;
    d->darkness_supported = kDarknessLevels;
    d->darkness_configured = 50;
    d->darkness_default = 0;
    *attributes = extraAttributes();
    return true;
}

// PAPPL 1.3's socket print thread takes a connection only while the active
// jobs are fewer than the printer's maximum, and "0, unlimited" (its default
// for a server of several printers) counts there as none at all: with the
// raw socket on, a printer gets a real maximum, or its socket never answers.
constexpr int kMostActiveJobs = 1000;

void printerCreated(pappl_printer_t *printer, void *) {
    queueCreated(printer);
    showSupplies(printer, std::nullopt);
    if (papplSystemGetOptions(papplPrinterGetSystem(printer)) & PAPPL_SOPTIONS_RAW_SOCKET)
        papplPrinterSetMaxActiveJobs(printer, kMostActiveJobs);
}

const char *mimeTypeCallback(const unsigned char *header, size_t headerSize, void *) {
    constexpr size_t kHeaderBytes = 8192;  // PAPPL's buffer; a failed read comes as (size_t)-1
    if (headerSize > kHeaderBytes) return nullptr;
    if (VdlZplDetect(header, headerSize)) return kZplFormat;
    return mimeTypeOf(detectDocumentFormat(header, headerSize));
}

bool zplFilter(pappl_job_t *job, pappl_device_t *device, void *) {
    pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, false);
    const bool printed = printZpl(job, options, device);
    papplJobDeletePrintOptions(options);
    return printed;
}

// PAPPL 1.3 looks for document-format-supported among the printer's own
// attributes, where it never is, and so refuses no format: a document the
// MIME callback gives no type is accepted as application/octet-stream. Its
// job ends here, before anything of it reaches the printer.
bool unknownFormatFilter(pappl_job_t *job, pappl_device_t *, void *) {
    constexpr const char *kWhy =
        "Not printed: the document is not PWG or Apple raster, PNG, JPEG, ZPL or the printer's commands.";
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    setJobMessage(job, "%s", kWhy);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", kWhy);
    return false;
}

// The driver of the resolution the printer's model prints at (the model its
// device ID names, in the library's model table); 203 dpi for a model the
// table does not know.
const char *autoAddCallback(const char *, const char *deviceUri, const char *deviceId, void *) {
    const bool ours = std::strncmp(deviceUri, "vdl:", 4) == 0 && deviceId && std::strstr(deviceId, "MFG:VELDRIN;");
    if (!ours) return nullptr;
    const int dpi = VdlModelDotsPerInch(getModel(deviceId));
    for (int i = 0; i < kDriverCount; ++i)
        if (kDotsPerInch[i] == dpi) return kDrivers[i].name;
    return kDrivers[0].name;
}

}  // namespace vdlapp
