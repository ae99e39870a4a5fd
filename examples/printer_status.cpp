// Reads the printer's status and names every error it reports.
#include <iostream>

#include "VdlLabelAPI.hpp"

int main(int argc, char **argv) {
    const char *port = argc > 1 ? argv[1] : "127.0.0.1:9100";
    try {
        vdl::Printer printer(port);  // disconnects when it goes out of scope
        const vdl::Status status = printer.status();
        std::cout << printer.model() << ": " << vdl::to_string(status) << "\n";
        return status.ready() ? 0 : 3;
    } catch (const vdl::Error &error) {
        std::cerr << "printer_status: " << error.what() << " (code " << error.code().value() << ")\n";
        return 1;
    }
}
