"""ZPL II labels through libVdlZpl: Printer.print_zpl on a connected printer, convert_zpl without one."""

from __future__ import annotations

import ctypes
import functools
import os
from typing import Callable, List, NamedTuple, Optional, Tuple, Union

from .library import VERSION, VdlError, _file_of

ZPL_SONAME = "libVdlZpl.so." + VERSION.split(".")[0]
#: VDL_ZPL_STRICT: refuse a label that needs a warning.
STRICT = 1

Zpl = Union[str, bytes, bytearray, memoryview]
_MESSAGE = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_char_p)


class ZplResult(NamedTuple):
    """What a translation did: the labels printed (copies not counted) and each warning as
    "LINE:COLUMN: words"."""

    labels: int
    warnings: List[str]


class ZplError(VdlError):
    """A translation that failed: code is VdlZplPrint's or VdlZplConvert's negative result, warnings the
    messages before it, the last naming the place of the failure."""

    def __init__(self, operation: str, code: int, meaning: str, warnings: List[str]) -> None:
        self.warnings = warnings
        super().__init__(operation, code, meaning + (f": {warnings[-1]}" if warnings else ""))


@functools.lru_cache(maxsize=None)
def load_zpl_library(core: ctypes.CDLL) -> ctypes.CDLL:
    """libVdlZpl (from $VDL_ZPL_LIBRARY, else beside the loaded libVdlLabelAPI, else by its soname), its
    functions declared. Raises ImportError when it cannot be loaded."""
    beside = os.path.join(os.path.dirname(_file_of(core)), ZPL_SONAME)
    name = os.environ.get("VDL_ZPL_LIBRARY") or (beside if os.path.exists(beside) else ZPL_SONAME)
    try:
        library = ctypes.CDLL(name)
    except OSError as error:
        raise ImportError(f"libVdlZpl could not be loaded from {name}: {error}. It comes with libVdlLabelAPI; "
                          "set VDL_ZPL_LIBRARY to its path") from error
    size, text = ctypes.c_size_t, ctypes.c_char_p
    library.VdlZplPrint.argtypes = [text, size, ctypes.c_uint, _MESSAGE, ctypes.c_void_p]
    library.VdlZplConvert.argtypes = [text, size, ctypes.c_uint, ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte)),
                                      ctypes.POINTER(size), _MESSAGE, ctypes.c_void_p]
    library.VdlZplFree.argtypes = [ctypes.c_void_p]
    library.VdlZplFree.restype = None
    library.VdlZplErrorText.argtypes = [ctypes.c_int]
    library.VdlZplErrorText.restype = ctypes.c_char_p
    for function in (library.VdlZplPrint, library.VdlZplConvert):
        function.restype = ctypes.c_int
    return library


def _zpl_bytes(zpl: Zpl) -> bytes:
    if isinstance(zpl, str):
        return zpl.encode("utf-8")
    if isinstance(zpl, (bytes, bytearray, memoryview)):
        return bytes(zpl)
    raise TypeError(f"ZPL is text or bytes, not {type(zpl).__name__}")


def _translate(library: ctypes.CDLL, operation: str, zpl: Zpl, strict: bool,
               call: Callable[[bytes, int, object], int]) -> ZplResult:
    data = _zpl_bytes(zpl)
    warnings: List[str] = []

    def collect(_context: Optional[int], line: int, column: int, message: bytes) -> None:
        warnings.append(f"{line}:{column}: {message.decode('utf-8', 'replace')}")

    result = call(data, STRICT if strict else 0, _MESSAGE(collect))
    if result < 0:
        raise ZplError(operation, result, library.VdlZplErrorText(result).decode(), warnings)
    return ZplResult(result, warnings)


def print_zpl(core: ctypes.CDLL, zpl: Zpl, strict: bool = False) -> ZplResult:
    """VdlZplPrint on the library's connection; Printer.print_zpl is the method to use."""
    library = load_zpl_library(core)
    return _translate(library, "VdlZplPrint", zpl, strict,
                      lambda data, flags, message: library.VdlZplPrint(data, len(data), flags, message, None))


def convert_zpl(zpl: Zpl, strict: bool = False, library: Optional[ctypes.CDLL] = None) -> Tuple[bytes, List[str]]:
    """The bytes a printer would receive for the labels of zpl, without a printer (VdlZplConvert), and the
    warnings. No Printer may be connected meanwhile (ZplError, code -205)."""
    from .library import load_library
    from .printer import _Connection

    zpl_library = load_zpl_library(library or load_library())
    stream = ctypes.POINTER(ctypes.c_ubyte)()
    length = ctypes.c_size_t(0)

    def convert(data: bytes, flags: int, message: object) -> int:
        return int(zpl_library.VdlZplConvert(data, len(data), flags, ctypes.byref(stream), ctypes.byref(length),
                                             message, None))

    with _Connection.lock:
        result = _translate(zpl_library, "VdlZplConvert", zpl, strict, convert)
    try:
        return ctypes.string_at(stream, length.value), result.warnings
    finally:
        zpl_library.VdlZplFree(stream)
