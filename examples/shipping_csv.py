#!/usr/bin/env python3
"""Prints a shipping label for each row of a CSV file (name, street, city, weight_kg, tracking) with a logo,
a Code 128 and a QR code. A row that fails (a weight that is not a number) prints nothing.
Usage: shipping_csv.py PRINTER FILE.csv LOGO.bmp   (x and y are in dots)"""
import csv
import sys

from vdllabel import Printer, Raster, Symbology, VdlError, VectorFont

if len(sys.argv) != 4:
    sys.exit("usage: shipping_csv.py PRINTER FILE.csv LOGO.bmp")
with Printer(sys.argv[1]) as printer, open(sys.argv[2], newline="", encoding="utf-8") as rows:
    logo = Raster.load(sys.argv[3], 160)
    for row in csv.DictReader(rows):
        try:
            with printer.label():  # all or nothing: an exception in here discards the label
                printer.print_raster(logo, 20, 20)
                for i, field in enumerate(("name", "street", "city")):
                    printer.print_vector_font(row[field], 20, 200 + 50 * i, VectorFont.U, 40, 40)
                printer.print_vector_font(f"{float(row['weight_kg']):.2f} kg", 560, 200, VectorFont.U, 40, 40)
                printer.print_barcode(row["tracking"], 20, 380, Symbology.CODE128, height=120, human_readable=True)
                printer.print_qr_code("https://track.example/" + row["tracking"], 560, 20)
        except (ValueError, VdlError) as error:
            print(f"skipped {row['name']}: {error}", file=sys.stderr)
