"""Python binding of libVdlLabelAPI: drive VELDRIN label printers.

    from vdllabel import Printer, Rotation, Status, Symbology

    with Printer("192.168.1.50:9100") as printer:        # connects, and disconnects at the end
        printer.set_speed(4)
        printer.print_device_font("SHIP TO: ACME", 40, 40, bold=True)
        printer.print_barcode("PKG000123456", 40, 120, Symbology.CODE128, rotation=Rotation.R0)
        printer.print_qr_code("https://example.com/t/PKG000123456", 400, 120)
        printer.print_label()
        if Status.COVER_OPEN in printer.status():
            print("close the cover")

Every application call of VdlLabelAPI.h has a method of Printer, named in
snake_case (the C name is in each method's description); arguments that name
a choice take the enums below, named as in VdlLabelAPI.hpp. The package is
typed (py.typed): mypy --strict checks programs that use it.

The rules of the binding:

- The library holds one connection per process, so one Printer may be
  connected at a time. connect() (or a with block) raises VdlError (code
  BUSY) while another connection is open; connect() on a connected Printer
  disconnects it first. Every call on a Printer that does not hold the
  connection sends nothing and raises VdlError "not connected" (code
  NOT_CONNECTED, as the C++ interface's vdl::Errc::not_connected); its model
  is None.
- A connected Printer that is dropped without disconnect() is disconnected
  when it is collected, and at the latest when the interpreter exits.
- A failing call raises VdlError with the library's code and its words (the
  table of VdlLabelAPI.hpp, as vdl-label says them).
- Integers go to 32-bit C arguments: one that does not fit raises
  OverflowError and nothing is sent. Values that fit follow the library's own
  rules: out of range, they are brought into range, not refused.
- Texts and barcode data are str (sent as UTF-8; the library converts them
  where a font or code page asks for another encoding) or bytes (sent as
  they are). A NUL inside one raises ValueError: the printer's commands
  cannot carry it.
- write() and direct_io() send bytes-like objects; a str raises TypeError
  (encode it first, e.g. text.encode("ascii")). direct_io's reply_size is
  0 to 2**32 - 1 (else ValueError); a reply holds at most REPLY_LIMIT bytes.

The library is loaded by its soname, libVdlLabelAPI.so.1, from the system's
library search path (LD_LIBRARY_PATH for a private prefix); the environment
variable VDL_LIBRARY (a path) takes precedence.
"""

from .enums import (Alignment, BlockOption, CodablockMode, CodePage, DeviceFont, MediaType, Orientation,
                    PrintingType, RfidWrite, Rotation, Status, Symbology, VectorFont)
from .library import BUSY, MEANINGS, NOT_CONNECTED, SIGNATURES, Buffer, Text, VdlError, load_library
from .printer import REPLY_LIMIT, Printer
from .raster import Raster

__all__ = ["Printer", "VdlError", "Raster", "Status", "DeviceFont", "VectorFont", "Rotation", "Alignment", "Symbology",
           "CodePage", "MediaType", "BlockOption", "Orientation", "PrintingType", "RfidWrite", "CodablockMode",
           "Text", "Buffer", "MEANINGS", "NOT_CONNECTED", "BUSY", "REPLY_LIMIT", "SIGNATURES", "load_library"]
