"""A picture as the bitmap commands take it: made by the application, or loaded and rescaled by the library."""

from __future__ import annotations

import contextlib
import ctypes
import os
from typing import Any, Callable, ContextManager, Iterator, List, Optional, Tuple, Union

from .library import BITMAPINFOHEADER, Buffer, VdlError, c_arguments, load_library

#: The largest side of a raster made by the application: the bitmap commands count rows in 16 bits.
MAX_SIDE = 65535

_IMAGE_FORMAT = -119  # VDL_ERR_IMAGE_FORMAT: what the library says of a picture without a row
# Each byte of packed bits as eight bytes of 0 (white) or 1 (black), the pixels resizeImage reads.
_PIXELS_OF_BYTE = [bytes((value >> (7 - bit)) & 1 for bit in range(8)) for value in range(256)]
_libc = ctypes.CDLL(None)
_libc.free.argtypes = [ctypes.c_void_p]

Path = Union[str, bytes, "os.PathLike[str]"]


class Raster:
    """A picture of one bit per pixel: height rows of row_bytes = (width + 7) // 8 bytes, top row first,
    most significant bit leftmost, 1 = black. Printer.print_raster prints it. Its size is fixed when it is
    made: width, height and row_bytes are read-only."""

    def __init__(self, width: int, height: int) -> None:
        """A white raster of width x height pixels, each side 1 to 65535 (else ValueError)."""
        for side in (width, height):
            if not 1 <= side <= MAX_SIDE:
                raise ValueError(f"a raster side is 1 to {MAX_SIDE} pixels, not {side}")
        self._set_size(width, height, bytearray((width + 7) // 8 * height))

    @classmethod
    def load(cls, path: Path, target_width: int = 0, library: Optional[ctypes.CDLL] = None) -> Raster:
        """The picture of an image file as Printer.print_bitmap prints it, loaded by the library by its content
        whatever its name (VdlLoadPicture): BMP, JPEG and GIF with every pixel that is not pure white black, PNG
        laid over white with every pixel darker than mid grey black. A target_width above 0 rescales it as
        rescaled() does. While it loads, the picture is held twice (the library's raster and this copy of it);
        Printer.print_bitmap holds it once. Failures raise VdlError: the file cannot be opened (-118), is
        not a supported picture (-119), or memory ran out (-120)."""
        return cls._made_by(library, "VdlLoadPicture",
                            lambda made, info: [os.fsencode(path), made, info, target_width],
                            operation=_loading(path))

    def rescaled(self, target_width: int, library: Optional[ctypes.CDLL] = None) -> Raster:
        """This picture rescaled by the library to target_width pixels (resizeImage: nearest neighbour, the
        height in proportion, as load rescales); the same width gives a copy. A target_width below 1, or a
        result too large or without a row, raises VdlError (-119)."""
        if target_width == self.width:
            return self._of(self.width, self.height, bytearray(self._bits))
        self._as_c()  # the size it claims is the size it has
        pixels = b"".join(b"".join(_PIXELS_OF_BYTE[value] for value in self._row(y))[:self.width]
                          for y in range(self.height))
        source = (ctypes.c_ubyte * len(pixels)).from_buffer_copy(pixels)
        info = self._info()
        return self._made_by(library, "resizeImage", lambda made, _: [source, made, target_width, ctypes.byref(info)],
                             info)

    @property
    def width(self) -> int:
        """Pixels in a row."""
        return self._width

    @property
    def height(self) -> int:
        """Rows."""
        return self._height

    @property
    def row_bytes(self) -> int:
        """Bytes in a row: (width + 7) // 8."""
        return self._row_bytes

    @property
    def bits(self) -> bytes:
        """All rows, as the printer gets them."""
        return bytes(self._bits)

    def black(self, x: int, y: int) -> bool:
        """True when the pixel at (x, y) is black; positions outside the raster are white."""
        return 0 <= x < self.width and 0 <= y < self.height and bool(self._row(y)[x // 8] & (0x80 >> (x % 8)))

    def set_black(self, x: int, y: int) -> None:
        """Makes the pixel at (x, y) black; a position outside the raster is ignored."""
        if 0 <= x < self.width and 0 <= y < self.height:
            self._bits[y * self.row_bytes + x // 8] |= 0x80 >> (x % 8)

    def set_row(self, y: int, row: Buffer) -> None:
        """Sets row y from packed bits as bits holds them. Bytes past row_bytes are not read; the row's bytes
        past the given ones and its bits past the width are white. A row outside the raster is ignored."""
        if not 0 <= y < self.height:
            return
        given = memoryview(row).tobytes()[:self.row_bytes]
        packed = bytearray(given.ljust(self.row_bytes, b"\0"))
        if self.width % 8:
            packed[-1] &= (0xFF00 >> (self.width % 8)) & 0xFF
        start = y * self.row_bytes
        self._bits[start:start + self.row_bytes] = packed

    def _row(self, y: int) -> bytearray:
        return self._bits[y * self.row_bytes:(y + 1) * self.row_bytes]

    def _as_c(self) -> Tuple[Any, Any]:
        """The bits and the info header as the bitmap commands take them, the bits in place (not copied: a
        picture may take hundreds of megabytes). The library reads as many bytes as the header's size says, so
        the two are held against each other first: ValueError, and nothing read, when they disagree."""
        if len(self._bits) != self.row_bytes * self.height or self.row_bytes != (self.width + 7) // 8:
            raise ValueError(f"a raster of {self.width} x {self.height} pixels holds {self.row_bytes * self.height} "
                             f"bytes, not {len(self._bits)}")
        pixels = (ctypes.c_ubyte * len(self._bits)).from_buffer(self._bits)
        return pixels, ctypes.byref(self._info())

    def _info(self) -> BITMAPINFOHEADER:
        return BITMAPINFOHEADER(biSize=40, biWidth=self.width, biHeight=self.height, biPlanes=1, biBitCount=1)

    @classmethod
    def _of(cls, width: int, height: int, bits: bytearray) -> Raster:
        # Pictures the library made may be wider than MAX_SIDE: it counts row bytes in 16 bits.
        raster = cls.__new__(cls)
        raster._set_size(width, height, bits)
        return raster

    def _set_size(self, width: int, height: int, bits: bytearray) -> None:
        """Takes bits as they are (the caller's own copy), so that a picture is never held twice here."""
        self._width, self._height, self._row_bytes = width, height, (width + 7) // 8
        self._bits = bits

    @classmethod
    def _made_by(cls, library: Optional[ctypes.CDLL], name: str, arguments: Callable[[Any, Any], List[Any]],
                 info: Optional[BITMAPINFOHEADER] = None, operation: Optional[str] = None) -> Raster:
        """The raster a loader of the library allocates and describes in info, copied once."""
        with library_raster(library, name, arguments, info, operation) as (made, made_info):
            size = (made_info.biWidth + 7) // 8 * made_info.biHeight
            bits = bytearray(size)
            ctypes.memmove((ctypes.c_char * size).from_buffer(bits), made, size)
            return cls._of(made_info.biWidth, made_info.biHeight, bits)


@contextlib.contextmanager
def library_raster(library: Optional[ctypes.CDLL], name: str, arguments: Callable[[Any, Any], List[Any]],
                   info: Optional[BITMAPINFOHEADER] = None,
                   operation: Optional[str] = None) -> Iterator[Tuple[Any, BITMAPINFOHEADER]]:
    """The raster a loader of the library (name) allocates with malloc and describes in info, as the
    library's pointer, freed on leaving: what printLCR and printLD take, without a copy. A failure raises
    VdlError naming operation (else name), and so does a picture without a row."""
    made = ctypes.POINTER(ctypes.c_ubyte)()
    info = info or BITMAPINFOHEADER()
    function: Callable[..., int] = getattr(library or load_library(), name)
    result = function(*c_arguments(name, arguments(ctypes.byref(made), ctypes.byref(info))))
    try:
        if result < 0:
            raise VdlError(operation or name, result)
        if not made or info.biWidth < 1 or info.biHeight < 1:
            raise VdlError(operation or name, _IMAGE_FORMAT)
        yield made, info
    finally:
        _libc.free(made)


def loaded_picture(path: Path, library: ctypes.CDLL) -> ContextManager[Tuple[Any, BITMAPINFOHEADER]]:
    """The picture of an image file as VdlLoadPicture loads it (Raster.load), held by the library."""
    return library_raster(library, "VdlLoadPicture", lambda made, info: [os.fsencode(path), made, info, 0],
                          operation=_loading(path))


def _loading(path: Path) -> str:
    """What a refused picture's VdlError names: the loader and the file, as in "VdlLoadPicture logo.png"."""
    return f"VdlLoadPicture {os.fsdecode(path)}"
