"""A program as a user writes it: mypy --strict must find nothing in it (the tests run it)."""

from typing import Optional

from vdllabel import (Alignment, BlockOption, CodablockMode, CodePage, DeviceFont, MediaType, Orientation, Printer,
                      PrintingType, Raster, RfidWrite, Rotation, Status, Symbology, VdlError, VectorFont)


def print_shipping_label(port: str) -> Optional[str]:
    try:
        with Printer(port) as printer:
            printer.set_paper(812, 1218, MediaType.BLACK_MARK)
            printer.set_orientation(Orientation.BOTTOM_FIRST)
            printer.set_printing_type(PrintingType.THERMAL_TRANSFER)
            printer.print_device_font("SHIP TO", 40, 40, DeviceFont.m, rotation=Rotation.R90, code_page=CodePage.CP949)
            printer.print_vector_font(b"ACME", 40, 90, VectorFont.J, alignment=Alignment.CENTRE)
            printer.print_block(0, 0, 800, 4, BlockOption.BOX, 2)
            printer.print_barcode("PKG000123456", 40, 120, Symbology.EAN13, height=80)
            printer.print_codablock("D", 1, 2, 3, 4, 5, mode=CodablockMode.F)
            raster = Raster(16, 2)
            raster.set_row(0, bytearray(b"\xff\x0f"))
            printer.print_raster(raster, 500, 40)
            written: int = printer.setup_rfid(1, 2, 3, 4)
            printer.write_rfid(RfidWrite.H, 7, written, "AB")
            reply: bytes = printer.direct_io(memoryview(b"^cu\r"), 1)
            printer.print_label(copies=2)
            status: Status = printer.status()
            return f"{printer.model}: {status} {reply!r}"
    except VdlError as error:
        code: Optional[int] = error.code
        return f"{error.meaning} ({code})"
