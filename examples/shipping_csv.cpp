// Prints a shipping label for each row of a CSV file (name, street, city,
// weight in kg, tracking number) with a logo, a Code 128 and a QR code.
// A row that fails (a weight that is not a number) prints nothing.
// Usage: shipping_csv PRINTER FILE.csv LOGO.bmp   (x and y are in dots)
#include <fstream>
#include <iostream>
#include <sstream>

#include "VdlLabelAPI.hpp"

int main(int argc, char **argv) try {
    if (argc != 4) return std::cerr << "usage: shipping_csv PRINTER FILE.csv LOGO.bmp\n", 2;
    vdl::Printer printer(argv[1]);
    const vdl::Raster logo = vdl::Raster::load(argv[3], 160);
    std::ifstream csv(argv[2]);  std::string line;
    for (std::getline(csv, line); std::getline(csv, line);) try {  // the first line is the header
        std::vector<std::string> f;  // name, street, city, weight, tracking
        for (std::istringstream row(line); std::getline(row, f.emplace_back(), ',');) {}
        printer.label([&] {  // all or nothing: an exception in here discards the label
            printer.printRaster(logo, 20, 20);
            for (int i = 0; i < 3; ++i) printer.printVectorFont(f[i], 20, 200 + 50 * i, vdl::VectorFont::U, 40, 40);
            printer.printVectorFont(std::to_string(std::stod(f.at(3))).substr(0, 4) + " kg", 560, 200, vdl::VectorFont::U, 40, 40);
            printer.print1DBarcode(f.at(4), 20, 380, vdl::Symbology::code128, 2, 4, 120, vdl::Rotation::r0, 1);
            printer.printQRCode("https://track.example/" + f[4], 560, 20);
        });
    } catch (const std::exception &e) {
        std::cerr << "skipped " << line << ": " << e.what() << "\n";
    }
} catch (const std::exception &e) {
    return std::cerr << "shipping_csv: " << e.what() << "\n", 1;
}
