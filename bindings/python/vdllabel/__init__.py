"""Python binding of libVdlLabelAPI: drive VELDRIN label printers.

    from vdllabel import Printer, Rotation, Status, Symbology

    with Printer("192.168.1.50:9100") as printer:        # connects, and disconnects at the end
        printer.set_speed(4)
        with printer.label():                              # printed at the end, discarded on an exception
            printer.print_device_font("SHIP TO: ACME", 40, 40, bold=True)
            printer.print_barcode("PKG000123456", 40, 120, Symbology.CODE128, human_readable=True)
            printer.print_qr_code("https://example.com/t/PKG000123456", 400, 120)
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
- A label is a transaction: inside `with printer.label(copies, sets):` the
  label is printed when the block completes, and discarded when it ends by
  an exception, which goes on: the library's command buffer is emptied and,
  as part of a label with content may be at the printer already, the
  printer's clear-buffer command is sent, so nothing of it reaches paper. A
  content call (text, block, circle, barcode, picture) or a print that fails
  outside a label() block discards the label under way in the same way.
  label() blocks do not nest (RuntimeError).
- Positions and sizes are in dots: dots_from_mm(mm, dpi) converts.
- VdlError -105 has two causes, and says which: a text that could not be
  converted to its code page (nothing was sent), or a printer that did not
  take the data.
- Threads may share a Printer: every call takes one lock of the process,
  and a label() block holds it until the label ends, so the labels of two
  threads never interleave (content calls outside label() blocks may).
- After os.fork() the child holds no connection: the parent's Printer is
  not connected there and sends nothing (the child's copy of the connection
  is closed and the half-made label dropped); the child may connect its own.
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
variable VDL_LIBRARY (a path) takes precedence. ImportError says what was
tried when it cannot be loaded, and names both versions when its major
version is not this package's (__version__, the library's version it was
built with). libbluetooth.so.3 is loaded before it when installed: a
Bluetooth connection needs it, and without it a Bluetooth connect raises
VdlError "libbluetooth.so.3 is not installed; install libbluetooth3".
Printer() without a port takes the port name from the environment variable
VDL_PORT.
"""

from .enums import (Alignment, BlockOption, CodablockMode, CodePage, DeviceFont, MediaType, Orientation,
                    PrintingType, RfidWrite, Rotation, Status, Symbology, VectorFont)
from ._words import VERSION as __version__
from .library import BUSY, MEANINGS, NOT_CONNECTED, SIGNATURES, Buffer, Text, VdlError, load_library
from .printer import REPLY_LIMIT, Printer, dots_from_mm
from .raster import Raster
from .zpl import ZplError, ZplResult, convert_zpl

__all__ = ["__version__", "Printer", "convert_zpl", "ZplError", "ZplResult", "dots_from_mm", "VdlError", "Raster", "Status", "DeviceFont", "VectorFont", "Rotation", "Alignment", "Symbology",
           "CodePage", "MediaType", "BlockOption", "Orientation", "PrintingType", "RfidWrite", "CodablockMode",
           "Text", "Buffer", "MEANINGS", "NOT_CONNECTED", "BUSY", "REPLY_LIMIT", "SIGNATURES", "load_library"]
