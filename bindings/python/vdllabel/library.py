"""libVdlLabelAPI itself: loading it, the C types of its functions, what
Python values they take, and how their failures are raised."""

from __future__ import annotations

import ctypes
import errno
import functools
import operator
import os
import re
import struct
from typing import Any, Dict, List, Optional, Sequence, Union

from ._words import ERROR_WORDS, VERSION
# The code of a call on a Printer that does not hold the connection, "not connected": the C++ interface's
# kNotConnected (vdl::Errc::not_connected), outside the range of the library's codes.
from ._words import NOT_CONNECTED as NOT_CONNECTED

#: The words for each failure code: the table of VdlLabelAPI.hpp, generated when the package was built.
MEANINGS: Dict[int, str] = ERROR_WORDS

#: The code of a connect() refused while another connection is open in the process: -EBUSY, as the C++
#: interface refuses it with std::errc::device_or_resource_busy.
BUSY = -errno.EBUSY

#: The library's soname: its number is the major version this package was built for, and speaks to.
SONAME = "libVdlLabelAPI.so." + VERSION.split(".")[0]

#: libBluetooth, which a Bluetooth connection needs: the library references its functions weakly and leaves
#: loading it to the program.
LIBBLUETOOTH = "libbluetooth.so.3"
BLUETOOTH_MISSING = "libbluetooth.so.3 is not installed; install libbluetooth3"

#: The port names the library takes for a Bluetooth address: six hex pairs with colons.
_BLUETOOTH_ADDRESS = re.compile(r"[0-9A-Fa-f]{2}(?::[0-9A-Fa-f]{2}){5}")

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
    "VdlLoadPicture": [_STR, _c.POINTER(_c.POINTER(_c.c_ubyte)), _c.POINTER(BITMAPINFOHEADER), _INT],
    "VdlModelDotsPerInch": [_INT],
    "resizeImage": [_c.POINTER(_c.c_ubyte), _c.POINTER(_c.POINTER(_c.c_ubyte)), _INT, _c.POINTER(BITMAPINFOHEADER)],
}

#: The numbers each integer type of the C functions holds: anything else would be cut to fit.
_INTEGER_RANGES = {_INT: (-(2**31), 2**31 - 1), _FLAG: (0, 255), _U32: (0, 2**32 - 1)}


def load_library(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads libVdlLabelAPI (from path, else the path in $VDL_LIBRARY, else by its soname from the library
    search path) and declares the functions the binding uses. Raises ImportError when it cannot be loaded
    (saying what was tried) or when its major version is not the one this package speaks to."""
    name, source = ((path, "the path given") if path else
                    (os.environ["VDL_LIBRARY"], "the path in VDL_LIBRARY") if os.environ.get("VDL_LIBRARY") else
                    (SONAME, "its soname, on the library search path"))
    load_libbluetooth()
    try:
        library = ctypes.CDLL(name)
    except OSError as error:
        raise ImportError(f"libVdlLabelAPI could not be loaded from {name} ({source}): {error}. Install it, add its "
                          "folder to LD_LIBRARY_PATH, or set the environment variable VDL_LIBRARY to its path") from error
    _check_version(_file_of(library))
    for name, argtypes in SIGNATURES.items():
        function = getattr(library, name)
        function.argtypes = argtypes
        function.restype = None if name == "DisconnectPrinter" else _INT
    return library


@functools.lru_cache(maxsize=None)
def load_libbluetooth() -> bool:
    """Loads libbluetooth into the process, its names visible to every library, and says whether it is there.
    It must come before libVdlLabelAPI: the dynamic linker fills the library's weak references to it only
    when it loads the library, and a libbluetooth loaded later would go unseen."""
    try:
        ctypes.CDLL(LIBBLUETOOTH, mode=ctypes.RTLD_GLOBAL)
    except OSError:
        return False
    return True


def is_bluetooth_address(port: str) -> bool:
    return _BLUETOOTH_ADDRESS.fullmatch(port) is not None


class _DlInfo(ctypes.Structure):
    _fields_ = [("dli_fname", ctypes.c_char_p), ("dli_fbase", ctypes.c_void_p), ("dli_sname", ctypes.c_char_p),
                ("dli_saddr", ctypes.c_void_p)]


def _file_of(library: ctypes.CDLL) -> str:
    """The file the library was loaded from, as the dynamic linker found it."""
    dladdr = ctypes.CDLL(None).dladdr
    dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(_DlInfo)]
    info = _DlInfo()
    if dladdr(ctypes.cast(library.ConnectToPrinter, ctypes.c_void_p), ctypes.byref(info)) and info.dli_fname:
        return os.fsdecode(info.dli_fname)
    return str(library._name)


@functools.lru_cache(maxsize=None)
def _check_version(file: str) -> None:
    soname = read_soname(file)
    if soname is not None and soname.rpartition(".so.")[2] != SONAME.rpartition(".so.")[2]:
        raise ImportError(f"{file} is {soname}, but vdllabel {VERSION} speaks to {SONAME}: install the "
                          f"python3-vdllabel of that library, or point VDL_LIBRARY at a {SONAME}")


def read_soname(file: str) -> Optional[str]:
    """The soname an ELF shared library declares (DT_SONAME of its dynamic section), or None when it declares
    none or is not one."""
    try:
        with open(file, "rb") as opened:
            data = opened.read()
        if data[:4] != b"\x7fELF":
            return None
        wide, order = data[4] == 2, "<" if data[5] == 1 else ">"
        section_table, = struct.unpack_from(order + ("Q" if wide else "I"), data, 0x28 if wide else 0x20)
        entry_size, count = struct.unpack_from(order + "HH", data, 0x3A if wide else 0x2E)
        # Each section header: name, type, flags, address, offset, size, link.
        sections = [struct.unpack_from(order + ("IIQQQQI" if wide else "IIIIIII"), data, section_table + i * entry_size)
                    for i in range(count)]
        for _, kind, _, _, offset, size, link in sections:
            if kind != 6:  # SHT_DYNAMIC; its link is the string table
                continue
            strings = sections[link][4]
            for tag, value in struct.iter_unpack(order + ("qQ" if wide else "iI"), data[offset:offset + size]):
                if tag == 14:  # DT_SONAME
                    start = strings + value
                    return data[start:data.index(b"\0", start)].decode("ascii", "replace")
    except (OSError, IndexError, ValueError, struct.error):
        pass
    return None


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
