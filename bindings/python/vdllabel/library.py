"""libVdlLabelAPI itself: loading it, the C types of its functions, what
Python values they take, and how their failures are raised."""

from __future__ import annotations

import ctypes
import errno
import operator
import os
from typing import Any, Dict, List, Optional, Sequence, Union

from ._words import ERROR_WORDS
# The code of a call on a Printer that does not hold the connection, "not connected": the C++ interface's
# kNotConnected (vdl::Errc::not_connected), outside the range of the library's codes.
from ._words import NOT_CONNECTED as NOT_CONNECTED

#: The words for each failure code: the table of VdlLabelAPI.hpp, generated when the package was built.
MEANINGS: Dict[int, str] = ERROR_WORDS

#: The code of a connect() refused while another connection is open in the process: -EBUSY, as the C++
#: interface refuses it with std::errc::device_or_resource_busy.
BUSY = -errno.EBUSY

#: A text or barcode data: str goes out as UTF-8 (the library converts it where a font or code page asks
#: for another encoding), bytes as they are.
Text = Union[str, bytes]

#: Raw bytes for the printer: bytes, bytearray, memoryview or any other object with the buffer protocol.
Buffer = Union[bytes, bytearray, memoryview]


class VdlError(Exception):
    """A call failed: operation names the C function, code is its negative result (NOT_CONNECTED for a
    call on a Printer that does not hold the connection, BUSY for a refused connect()), meaning says
    it in words, from the table of VdlLabelAPI.hpp ("not connected")."""

    def __init__(self, operation: str, code: int, meaning: Optional[str] = None) -> None:
        self.operation = operation
        self.code = code
        self.meaning = meaning or MEANINGS.get(code, f"unexpected result {code}")
        super().__init__(f"{operation}: {self.meaning} ({code})")


class BITMAPINFOHEADER(ctypes.Structure):
    """The info header the bitmap commands read a raster's size from."""

    _fields_ = [("biSize", ctypes.c_uint32), ("biWidth", ctypes.c_int32), ("biHeight", ctypes.c_int32),
                ("biPlanes", ctypes.c_uint16), ("biBitCount", ctypes.c_uint16), ("biCompression", ctypes.c_uint32),
                ("biSizeImage", ctypes.c_uint32), ("biXPelsPerMeter", ctypes.c_int32),
                ("biYPelsPerMeter", ctypes.c_int32), ("biClrUsed", ctypes.c_uint32),
                ("biClrImportant", ctypes.c_uint32)]


_c = ctypes
_INT, _STR, _FLAG, _U32, _PTR = _c.c_int, _c.c_char_p, _c.c_ubyte, _c.c_uint32, _c.c_void_p
_RASTER = [_c.POINTER(_c.c_ubyte), _c.POINTER(BITMAPINFOHEADER), _INT, _INT]

#: Argument types of the functions the binding calls, by name (a test holds them against VdlLabelAPI.h).
SIGNATURES: Dict[str, List[Any]] = {
    "ConnectToPrinter": [_STR],
    "DisconnectPrinter": [],
    "Prints": [_INT, _INT],
    "WriteBuffer": [_PTR, _U32],
    "DirectIO": [_PTR, _U32, _PTR, _c.POINTER(_U32)],
    "ClearBuffer": [],
    "PrintDeviceFont": [_STR, _INT, _INT, _INT, _INT, _INT, _INT, _FLAG],
    "PrintDeviceFontW": [_STR, _INT, _INT, _INT, _INT, _INT, _INT, _FLAG, _INT],
    "PrintVectorFont": [_STR, _INT, _INT, _INT, _INT, _INT, _INT, _FLAG, _FLAG, _FLAG, _INT, _INT, _INT],
    "PrintVectorFontW": [_STR, _INT, _INT, _INT, _INT, _INT, _INT, _FLAG, _FLAG, _FLAG, _INT, _INT, _INT, _INT],
    "PrintBlock": [_INT] * 6,
    "PrintCircle": [_INT] * 4,
    "Print1DBarcode": [_STR] + [_INT] * 8,
    "PrintMaxiCode": [_STR] + [_INT] * 3,
    "PrintPDF417": [_STR] + [_INT] * 6 + [_FLAG] + [_INT] * 4,
    "PrintQRCode": [_STR] + [_INT] * 6,
    "PrintDataMatrix": [_STR, _INT, _INT, _INT, _FLAG, _INT],
    "PrintAztec": [_STR] + [_INT] * 5 + [_FLAG] + [_INT] * 3,
    "PrintCode49": [_STR] + [_INT] * 8,
    "PrintCODABLOCK": [_STR] + [_INT] * 5 + [_FLAG] + [_INT] * 3,
    "PrintMicroPDF": [_STR] + [_INT] * 6,
    "PrintGS1DataBar": [_STR] + [_INT] * 8,
    "InitializePrinter": [],
    "CalibrateMedia": [],
    "ResetPrinter": [],
    "FeedOneLabel": [],
    "SetSpeed": [_INT],
    "SetDensity": [_INT],
    "SetOrientation": [_INT],
    "SetCutter": [_FLAG, _INT],
    "SetRewinder": [_FLAG],
    "SetOffset": [_INT],
    "SetCutPostion": [_INT],
    "SetPrintingType": [_INT],
    "SetBackFeed": [_FLAG],
    "SetPaper": [_INT] * 5,
    "SetMargin": [_INT] * 2,
    "SetCharacterSet": [_INT] * 2,
    "CheckPrinterStatus": [],
    "SetupRFID": [_INT] * 4,
    "CalibrateRFID": [],
    "SetRFIDPosition": [_INT],
    "SetEPCDataStructure": [_INT, _STR],
    "WriteRFID": [_INT, _INT, _INT, _STR],
    "SetRFIDPassword": [_STR] * 4,
    "LockRFID": [],
    "UnlockRFID": [],
    "PrintBitmap": [_STR, _INT, _INT, _FLAG],
    "printLD": _RASTER,
    "printLCR": _RASTER,
    "loadImage": [_STR, _c.POINTER(_c.POINTER(_c.c_ubyte)), _c.POINTER(BITMAPINFOHEADER), _INT],
    "resizeImage": [_c.POINTER(_c.c_ubyte), _c.POINTER(_c.POINTER(_c.c_ubyte)), _INT, _c.POINTER(BITMAPINFOHEADER)],
}

#: The numbers each integer type of the C functions holds: anything else would be cut to fit.
_INTEGER_RANGES = {_INT: (-(2**31), 2**31 - 1), _FLAG: (0, 255), _U32: (0, 2**32 - 1)}


def load_library(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads libVdlLabelAPI (by its soname unless a path is given) and declares the functions the binding uses."""
    library = ctypes.CDLL(path or os.environ.get("VDL_LIBRARY") or "libVdlLabelAPI.so.1")
    for name, argtypes in SIGNATURES.items():
        function = getattr(library, name)
        function.argtypes = argtypes
        function.restype = None if name == "DisconnectPrinter" else _INT
    return library


def c_text(value: Text, operation: str) -> bytes:
    """A text as the C functions take it: str as UTF-8, bytes as they are; a NUL inside is refused, since the
    printer's commands cannot carry one (C would end the text there)."""
    if isinstance(value, str):
        data = value.encode("utf-8")
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
    else:
        raise TypeError(f"{operation}: a text is str or bytes, not {type(value).__name__}")
    if b"\0" in data:
        raise ValueError(f"{operation}: a text cannot hold a NUL byte")
    return data


def raw_bytes(value: Buffer, operation: str) -> bytes:
    """Bytes for the printer from any bytes-like object. A str is refused: which bytes it stands for is the
    caller's choice (encode it first, e.g. text.encode("ascii"))."""
    if isinstance(value, str):
        raise TypeError(f"{operation} sends bytes, not str: encode the text first, e.g. text.encode('ascii')")
    return memoryview(value).tobytes()


def c_arguments(operation: str, values: Sequence[Any]) -> List[Any]:
    """The arguments of a C function from Python values: texts checked and encoded, integers refused with
    OverflowError where they do not fit the C type (the library's own range rules apply to those that fit)."""
    argtypes = SIGNATURES[operation]
    if len(values) != len(argtypes):
        raise TypeError(f"{operation} takes {len(argtypes)} arguments, not {len(values)}")
    return [_c_argument(operation, position, argtype, value)
            for position, (argtype, value) in enumerate(zip(argtypes, values), 1)]


def _c_argument(operation: str, position: int, argtype: Any, value: Any) -> Any:
    if argtype is _STR:
        return c_text(value, operation)
    limits = _INTEGER_RANGES.get(argtype)
    if limits is None:
        return value  # a pointer the binding made itself
    number = operator.index(value)
    if not limits[0] <= number <= limits[1]:
        raise OverflowError(f"{operation}: argument {position} is {number}, outside {limits[0]}..{limits[1]}")
    return number
