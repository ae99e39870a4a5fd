// Reads the printer's status and names every error it reports.
#include <cstdio>
#include <string>

#include "VdlLabelAPI.h"

namespace {

struct ErrorName {
    int bit;
    const char *name;
};

constexpr ErrorName kErrors[] = {
    {VDL_STATUS_PAPER_PRESENCE, "paper presence"}, {VDL_STATUS_RIBBON_END, "ribbon end"},
    {VDL_STATUS_GAP_ERROR, "gap not found"},       {VDL_STATUS_HEAD_OVERHEAT, "print head overheated"},
    {VDL_STATUS_CUTTER_JAM, "cutter jam"},         {VDL_STATUS_COVER_OPEN, "cover open"},
    {VDL_STATUS_PAPER_EMPTY, "paper empty"},
};

// Connects in the constructor and disconnects in the destructor.
class Connection {
public:
    explicit Connection(const char *port) : result_(ConnectToPrinter(port)) {}
    ~Connection() { DisconnectPrinter(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    int result() const { return result_; }

private:
    int result_;
};

}  // namespace

int main(int argc, char **argv) {
    const char *port = argc > 1 ? argv[1] : "127.0.0.1:9100";
    Connection printer(port);
    if (printer.result() != VDL_OK) {
        std::fprintf(stderr, "printer_status: cannot connect to %s (code %d)\n", port, printer.result());
        return 1;
    }
    const int status = CheckPrinterStatus();
    if (status < 0) {
        std::fprintf(stderr, "printer_status: no status from the printer (code %d)\n", status);
        return 1;
    }
    std::string errors;
    for (const ErrorName &e : kErrors)
        if (status & e.bit) errors += std::string(errors.empty() ? "" : ", ") + e.name;
    std::printf("%s: %s\n", VELDRIN_DEVICE[gPrinterModel], errors.empty() ? "ready" : errors.c_str());
    return errors.empty() ? 0 : 3;
}
