// The status query: one byte from the printer, of which seven bits report
// errors.
#include "VdlLabelAPI.h"
#include "command.h"
#include "io.h"
#include "printer.h"

unsigned char gStatus = 0;

namespace vdl {
namespace {

constexpr const char *kName = "CheckPrinterStatus";
constexpr char kStatusQuery[] = "^cu\r";

// The error bits in the order they are traced; bit 0 carries nothing.
struct StatusBit {
    unsigned char bit;
    const char *trace;
};

constexpr StatusBit kStatusBits[] = {
    {VDL_STATUS_PAPER_PRESENCE, "error - paper presence"}, {VDL_STATUS_RIBBON_END, "error - ribon end"},
    {VDL_STATUS_GAP_ERROR, "error - gap error"},           {VDL_STATUS_HEAD_OVERHEAT, "error - TPH overhead"},
    {VDL_STATUS_CUTTER_JAM, "error - cutter jam"},         {VDL_STATUS_COVER_OPEN, "error - cover open"},
    {VDL_STATUS_PAPER_EMPTY, "error - paper empty"},
};

int queryStatus(Printer &p) {
    unsigned char &status = p.settings.status;
    status = 0;
    printDebugLog(kName, "start");
    if (!writeWhole(p, std::string_view(kStatusQuery, 4))) {
        printDebugLog(kName, "Failed to write");
        return VDL_ERR_WRITE;
    }
    unsigned char reply = 0;
    if (readFrom(p.connection, &reply, 1) != 1) {
        printDebugLog(kName, "Failed to read");
        return VDL_ERR_NO_REPLY;
    }
    printDebugLog(kName, "status : %02x", reply);
    for (const StatusBit &error : kStatusBits) {
        if ((reply & error.bit) == 0) continue;
        printDebugLog(kName, "%s", error.trace);
        status = static_cast<unsigned char>(status | error.bit);
    }
    printDebugLog(kName, "end");
    return status;
}

}  // namespace
}  // namespace vdl

extern "C" int CheckPrinterStatus(void) { return vdl::queryStatus(vdl::defaultPrinter()); }
