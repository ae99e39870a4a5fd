// A C++17 application built against an installed VdlLabelAPI with the C++
// interface only: prints a label on the printer named on the command line.
#include <VdlLabelAPI.hpp>

#include <iostream>

int main(int argc, char **argv) {
    try {
        vdl::Printer printer(argc > 1 ? argv[1] : "127.0.0.1:9100");
        printer.printDeviceFont("INSTALLED", 20, 20);
        printer.print();
        std::cout << "label printed on " << printer.model() << "\n";
        return 0;
    } catch (const vdl::Error &error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
}
