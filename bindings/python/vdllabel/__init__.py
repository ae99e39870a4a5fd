"""Python binding of libVdlLabelAPI: drive VELDRIN label printers.

    from vdllabel import Printer

    with Printer("192.168.1.50:9100") as printer:
        printer.set_speed(4)
        printer.print_device_font("SHIP TO: ACME", 40, 40)
        printer.print_barcode("PKG000123456", 40, 120, barcode_type=1)
        printer.print_qr_code("https://example.com/t/PKG000123456", 400, 120)
        printer.print_label()
        print(printer.status())

The library is loaded by its soname, libVdlLabelAPI.so.1, from the system's
library search path (LD_LIBRARY_PATH for a private prefix); the environment
variable VDL_LIBRARY (a path) takes precedence. It holds one connection per
process: use one Printer at a time.
"""

from __future__ import annotations

import ctypes
import enum
import os
from typing import Dict, List, Optional

from ._words import ERROR_WORDS, STATUS_WORDS

__all__ = ["Printer", "VdlError", "Status", "CodePage", "load_library"]


class CodePage(enum.IntEnum):
    EUC_KR = 0
    CP949 = 1
    EUC_CN = 2
    GB18030 = 3
    BIG5 = 4
    CP950 = 5
    EUC_JP = 6
    CP932 = 7
    CP874 = 8


class Status(enum.IntFlag):
    """Error bits of the printer's status; an empty Status means ready."""

    PAPER_PRESENCE = 0x02
    RIBBON_END = 0x04
    GAP_ERROR = 0x08
    HEAD_OVERHEAT = 0x10
    CUTTER_JAM = 0x20
    COVER_OPEN = 0x40
    PAPER_EMPTY = 0x80

    def __str__(self) -> str:
        """"ready", or the words of each error bit, as vdl-label says them."""
        if not self:
            return "ready"
        return ", ".join(words for bit, words in STATUS_WORDS.items() if self & bit)


# The words for each result code, generated from the table of VdlLabelAPI.hpp.
MEANINGS: Dict[int, str] = ERROR_WORDS


class VdlError(Exception):
    """A call of the library failed; code is its negative result."""

    def __init__(self, operation: str, code: int):
        self.operation = operation
        self.code = code
        self.meaning = MEANINGS.get(code, f"unexpected result {code}")
        super().__init__(f"{operation}: {self.meaning} ({code})")


_c = ctypes
_INT, _STR, _FLAG, _U32 = _c.c_int, _c.c_char_p, _c.c_ubyte, _c.c_uint32

# Argument types of the functions used here, by name (a test holds them
# against the prototypes of VdlLabelAPI.h).
SIGNATURES: Dict[str, List[type]] = {
    "ConnectToPrinter": [_STR],
    "DisconnectPrinter": [],
    "Prints": [_INT, _INT],
    "ClearBuffer": [],
    "WriteBuffer": [_c.c_void_p, _U32],
    "DirectIO": [_c.c_void_p, _U32, _c.c_void_p, _c.POINTER(_U32)],
    "PrintDeviceFont": [_STR, _INT, _INT, _INT, _INT, _INT, _INT, _FLAG],
    "PrintDeviceFontW": [_STR, _INT, _INT, _INT, _INT, _INT, _INT, _FLAG, _INT],
    "PrintVectorFont": [_STR, _INT, _INT, _INT, _INT, _INT, _INT, _FLAG, _FLAG, _FLAG, _INT, _INT, _INT],
    "PrintVectorFontW": [_STR, _INT, _INT, _INT, _INT, _INT, _INT, _FLAG, _FLAG, _FLAG, _INT, _INT, _INT, _INT],
    "PrintBlock": [_INT] * 6,
    "PrintCircle": [_INT] * 4,
    "Print1DBarcode": [_STR] + [_INT] * 8,
    "PrintQRCode": [_STR] + [_INT] * 6,
    "PrintPDF417": [_STR] + [_INT] * 6 + [_FLAG] + [_INT] * 4,
    "PrintDataMatrix": [_STR, _INT, _INT, _INT, _FLAG, _INT],
    "InitializePrinter": [],
    "CalibrateMedia": [],
    "ResetPrinter": [],
    "FeedOneLabel": [],
    "SetSpeed": [_INT],
    "SetDensity": [_INT],
    "SetPaper": [_INT] * 5,
    "SetOrientation": [_INT],
    "SetCutter": [_FLAG, _INT],
    "CheckPrinterStatus": [],
    "PrintBitmap": [_STR, _INT, _INT, _FLAG],
}


def load_library(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads libVdlLabelAPI (by its soname unless a path is given) and declares the functions the binding uses."""
    library = ctypes.CDLL(path or os.environ.get("VDL_LIBRARY") or "libVdlLabelAPI.so.1")
    for name, argtypes in SIGNATURES.items():
        function = getattr(library, name)
        function.argtypes = argtypes
        function.restype = None if name == "DisconnectPrinter" else _INT
    return library


def _text(value: str) -> bytes:
    return value.encode("utf-8")


class Printer:
    """One printer connection; also a context manager that disconnects."""

    def __init__(self, port: str, library: Optional[ctypes.CDLL] = None):
        self._lib = library or load_library()
        self.port = port
        self.connected = False

    # --- connection -------------------------------------------------------

    # The library holds one connection per process: the Printer holding it.
    _holder: Optional["Printer"] = None

    def connect(self) -> "Printer":
        """Connects; refused with RuntimeError while another Printer is connected."""
        if Printer._holder is not None and Printer._holder is not self:
            raise RuntimeError("another Printer is connected: the library holds one connection per process")
        self._check("connect", self._lib.ConnectToPrinter(_text(self.port)))
        self.connected = True
        Printer._holder = self
        return self

    def disconnect(self) -> None:
        if self.connected:
            self._lib.DisconnectPrinter()
            self.connected = False
            Printer._holder = None

    def __enter__(self) -> "Printer":
        return self.connect()

    def __exit__(self, *exc) -> None:
        self.disconnect()

    @property
    def model(self) -> str:
        """The model name of the connected printer."""
        number = _c.c_int.in_dll(self._lib, "gPrinterModel").value
        table = (_c.c_char_p * 200).in_dll(self._lib, "VELDRIN_DEVICE")
        name = table[number]
        return name.decode("ascii") if name else ""

    # --- label content ------------------------------------------------------

    def print_device_font(self, text: str, x: int, y: int, font: int = 3, horizontal: int = 1, vertical: int = 1,
                          rotation: int = 0, bold: bool = False, code_page: Optional[CodePage] = None) -> None:
        """Device-font text; font 0-9 or a letter 'a'-'n' given as its code (ord('a'))."""
        if code_page is None:
            self._check("print_device_font", self._lib.PrintDeviceFont(
                _text(text), x, y, font, horizontal, vertical, rotation, bold))
        else:
            self._check("print_device_font", self._lib.PrintDeviceFontW(
                _text(text), x, y, font, horizontal, vertical, rotation, bold, int(code_page)))

    def print_vector_font(self, text: str, x: int, y: int, font: int = 5, width: int = 30, height: int = 30,
                          spacing: int = 0, bold: bool = False, reverse: bool = False, italic: bool = False,
                          rotation: int = 0, alignment: int = 0, direction: int = 0,
                          code_page: Optional[CodePage] = None) -> None:
        args = (_text(text), x, y, font, width, height, spacing, bold, reverse, italic, rotation, alignment, direction)
        if code_page is None:
            self._check("print_vector_font", self._lib.PrintVectorFont(*args))
        else:
            self._check("print_vector_font", self._lib.PrintVectorFontW(*args, int(code_page)))

    def print_block(self, x1: int, y1: int, x2: int, y2: int, option: int = 0, value: int = 0) -> None:
        self._check("print_block", self._lib.PrintBlock(x1, y1, x2, y2, option, value))

    def print_circle(self, x: int, y: int, size: int = 2, multiplier: int = 1) -> None:
        self._check("print_circle", self._lib.PrintCircle(x, y, size, multiplier))

    def print_barcode(self, data: str, x: int, y: int, barcode_type: int = 1, narrow: int = 2, wide: int = 4,
                      height: int = 100, rotation: int = 0, field8: int = 0) -> None:
        """A linear barcode; barcode_type is the printer's symbology code (0-16)."""
        self._check("print_barcode", self._lib.Print1DBarcode(
            _text(data), x, y, barcode_type, narrow, wide, height, rotation, field8))

    def print_qr_code(self, data: str, x: int, y: int, model: int = 2, ecc_level: int = 1, size: int = 4,
                      rotation: int = 0) -> None:
        self._check("print_qr_code", self._lib.PrintQRCode(_text(data), x, y, model, ecc_level, size, rotation))

    def print_pdf417(self, data: str, x: int, y: int, rows: int = 30, columns: int = 5, ecc_level: int = 0,
                     field7: int = 0, field8: bool = False, field9: int = 1, field10: int = 3, field11: int = 10,
                     rotation: int = 0) -> None:
        self._check("print_pdf417", self._lib.PrintPDF417(
            _text(data), x, y, rows, columns, ecc_level, field7, field8, field9, field10, field11, rotation))

    def print_data_matrix(self, data: str, x: int, y: int, field4: int = 2, field5: bool = False,
                          rotation: int = 0) -> None:
        self._check("print_data_matrix", self._lib.PrintDataMatrix(_text(data), x, y, field4, field5, rotation))

    def print_label(self, copies: int = 1, sets: int = 1) -> None:
        """Ends the label: the print command and everything buffered go out."""
        self._check("print_label", self._lib.Prints(copies, sets))

    # --- direct commands ------------------------------------------------------

    def print_bitmap(self, path: str, x: int, y: int, compress: bool = True) -> None:
        """A picture from a BMP, JPEG (*.jpg) or GIF (*.gif) file, sent at once; white stays white, all else prints."""
        self._check("print_bitmap", self._lib.PrintBitmap(os.fsencode(path), x, y, 1 if compress else 0))

    def clear_buffer(self) -> None:
        self._check("clear_buffer", self._lib.ClearBuffer())

    def write(self, data: bytes) -> None:
        """Sends raw bytes at once."""
        written = self._lib.WriteBuffer(data, len(data))
        self._check("write", written if written < 0 else 0)

    def direct_io(self, data: bytes, reply_size: int = 0) -> bytes:
        """Sends raw bytes, then reads a reply of at most reply_size (and 512) bytes."""
        reply = _c.create_string_buffer(max(reply_size, 1))
        length = _U32(reply_size)
        self._check("direct_io", self._lib.DirectIO(data or None, len(data), reply if reply_size else None,
                                                    _c.byref(length)))
        return reply.raw[:length.value] if reply_size else b""

    def initialize(self) -> None:
        self._check("initialize", self._lib.InitializePrinter())

    def calibrate(self) -> None:
        self._check("calibrate", self._lib.CalibrateMedia())

    def reset(self) -> None:
        self._check("reset", self._lib.ResetPrinter())

    def feed(self) -> None:
        self._check("feed", self._lib.FeedOneLabel())

    def set_speed(self, speed: int) -> None:
        self._check("set_speed", self._lib.SetSpeed(speed))

    def set_density(self, density: int) -> None:
        self._check("set_density", self._lib.SetDensity(density))

    def set_paper(self, width: int, height: int, media_type: int = 0, offset: int = 0, gap: int = 24) -> None:
        """Media: 0 gap, 1 continuous, 2 black mark; sizes in dots."""
        self._check("set_paper", self._lib.SetPaper(width, height, media_type, offset, gap))

    def set_orientation(self, top_first: bool = True) -> None:
        self._check("set_orientation", self._lib.SetOrientation(ord("T") if top_first else ord("B")))

    def set_cutter(self, enabled: bool, period: int = 0) -> None:
        self._check("set_cutter", self._lib.SetCutter(enabled, period))

    def status(self) -> Status:
        """The printer's error bits; Status(0) when it is ready."""
        result = self._lib.CheckPrinterStatus()
        self._check("status", result)
        return Status(result)

    @staticmethod
    def _check(operation: str, result: int) -> None:
        if result < 0:
            raise VdlError(operation, result)
