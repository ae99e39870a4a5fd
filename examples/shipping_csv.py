#!/usr/bin/env python3
# Prints a shipping label for each row of a CSV file (name, street, city, weight_kg, tracking) with a logo,
# a Code 128 and a QR code. A row that is not right is skipped and prints nothing; a printer fault ends the
# run. Usage: shipping_csv.py PRINTER FILE.csv LOGO.png   (positions are in dots)
import csv
import sys

from vdllabel import Printer, Raster, Symbology, VdlError, VectorFont

if len(sys.argv) != 4:
    sys.exit("usage: shipping_csv.py PRINTER FILE.csv LOGO.png")
try:
    with Printer(sys.argv[1]) as printer, open(sys.argv[2], newline="", encoding="utf-8") as rows:
        logo = Raster.load(sys.argv[3], 160)
        for row in csv.DictReader(rows):
            try:
                if None in row.values() or float(row["weight_kg"]) <= 0:
                    raise ValueError("too few fields, or no weight")
                with printer.label():  # all or nothing: an exception in here discards the label
                    printer.print_raster(logo, 20, 20)
                    for i, field in enumerate(("name", "street", "city")):
                        printer.print_vector_font(row[field], 20, 200 + 50 * i, VectorFont.U, 40, 40)
                    printer.print_vector_font(row["weight_kg"] + " kg", 560, 200, VectorFont.U, 40, 40)
                    printer.print_barcode(row["tracking"], 20, 380, Symbology.CODE128, height=120, human_readable=True)
                    printer.print_qr_code("https://track.example/" + row["tracking"], 560, 20)
            except ValueError as error:  # the row's data; a VdlError (the printer's) ends the run
                print(f"skipped {row['name']}: {error}", file=sys.stderr)
except (OSError, UnicodeDecodeError, VdlError) as error:  # the file, the logo or the printer
    sys.exit(f"shipping_csv.py: {error}")
