// Prints a shipping label for each row of a CSV file (name, street, city,
// weight in kg, tracking number; no quoted fields) with a logo, a Code 128
// and a QR code. A row that is not right is skipped and prints nothing; a
// printer fault ends the run. Usage: shipping_csv PRINTER FILE.csv LOGO.png
// (positions are in dots).
#include <fstream>
#include <iostream>
#include <sstream>

#include "VdlLabelAPI.hpp"

int main(int argc, char **argv) try {
    if (argc != 4) return std::cerr << "usage: shipping_csv PRINTER FILE.csv LOGO.png\n", 2;
    std::ifstream csv(argv[2]);
    if (!csv.ignore(1 << 20, '\n')) throw std::runtime_error(std::string("cannot read ") + argv[2]);  // the header
    vdl::Printer printer(argv[1]);
    const vdl::Raster logo = vdl::Raster::load(argv[3], 160);
    for (std::string line; std::getline(csv, line);) try {
        std::vector<std::string> f;  // name, street, city, weight, tracking, and an empty one past the end
        for (std::istringstream row(line.substr(0, line.find('\r'))); std::getline(row, f.emplace_back(), ',');) {}
        if (f.size() != 6 || !(std::stod(f[3]) > 0)) throw std::invalid_argument("not 5 fields, or no weight");
        printer.label([&] {  // all or nothing: an exception in here discards the label
            printer.printRaster(logo, 20, 20);
            for (int i = 0; i < 3; ++i) printer.printVectorFont(f[i], 20, 200 + 50 * i, vdl::VectorFont::U, 40, 40);
            printer.printVectorFont(f[3] + " kg", 560, 200, vdl::VectorFont::U, 40, 40);
            printer.print1DBarcode(f[4], 20, 380, vdl::Symbology::code128, 2, 4, 120, vdl::Rotation::r0, 1);
            printer.printQRCode("https://track.example/" + f[4], 560, 20);
        });
    } catch (const std::logic_error &e) {  // the row's data; a vdl::Error (the printer's) ends the run
        std::cerr << "skipped " << line << ": " << e.what() << "\n";
    }
} catch (const std::exception &e) { return std::cerr << "shipping_csv: " << e.what() << "\n", 1; }
