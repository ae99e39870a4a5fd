"""Printer: the connection to one printer and every call of the library on it."""

from __future__ import annotations

import contextlib
import ctypes
import operator
import os
import threading
import weakref
from typing import Any, Callable, ContextManager, Iterator, List, Optional, Union

from .enums import (Alignment, BlockOption, CodablockMode, CodePage, DeviceFont, MediaType, Orientation,
                    PrintingType, RfidWrite, Rotation, Status, Symbology, VectorFont)
from .library import (BLUETOOTH_MISSING, BUSY, NOT_CONNECTED, Buffer, Text, VdlError, c_arguments,
                      is_bluetooth_address, load_libbluetooth, load_library, raw_bytes)
from .raster import Path, Raster, loaded_picture
from .zpl import Zpl, ZplResult, print_zpl

#: The most bytes one reply of direct_io holds.
REPLY_LIMIT = 512
#: The number of slots of the library's model table.
MODEL_SLOTS = 200
# WriteBuffer counts in 32 bits, and the library refuses more than INT_MAX bytes at once.
_WRITE_PIECE = 1 << 30
_ANOTHER_CONNECTION = "another connection is open in this process (one Printer may be connected at a time)"
_WRITE_FAILED = -105  # VDL_ERR_WRITE: a content call's text could not be converted, or the printer took nothing
_BT_SDP = -107  # VDL_ERR_BT_SDP: what the library says of a Bluetooth connect it cannot make
_BUFFER_SIZE = 4096  # VDL_BUFFER_SIZE
# The calls that add to the label under way: those that append to the library's command buffer (which sends
# itself whenever it needs room) and the pictures, sent at once.
_CONTENT = frozenset(("PrintDeviceFont", "PrintDeviceFontW", "PrintVectorFont", "PrintVectorFontW", "PrintBlock",
                      "PrintCircle", "Print1DBarcode", "PrintMaxiCode", "PrintPDF417", "PrintQRCode", "PrintDataMatrix",
                      "PrintAztec", "PrintCode49", "PrintCODABLOCK", "PrintMicroPDF", "PrintGS1DataBar",
                      "PrintBitmap", "printLD", "printLCR"))


def dots_from_mm(millimetres: float, dots_per_inch: int = 203) -> int:
    """Millimetres as dots at the printer's resolution (203, 300 or 600 dots per inch), to the nearest dot:
    every position and size of a label is in dots."""
    dots = millimetres * dots_per_inch / 25.4
    return int(dots - 0.5) if dots < 0 else int(dots + 0.5)


class _Connection:
    """The library's one connection per process, and which Printer holds it. The holder is kept by a weak
    reference, so a Printer dropped while connected is collected, and its finalizer disconnects it; a
    finalizer also runs at interpreter exit."""

    lock = threading.RLock()
    holder: Optional["weakref.ReferenceType[Printer]"] = None
    library: Optional[ctypes.CDLL] = None
    # The label under way: whether a label() block is open (only the thread holding the lock can be inside
    # it), the failure that discarded it inside the block, and whether it has content, part of which may be at
    # the printer already (a send that made room for a larger command cannot always be seen from here), so
    # that discarding it clears it there too.
    in_label = False
    label_failure: Optional[Exception] = None
    label_started = False

    @classmethod
    def forget_label(cls) -> None:
        cls.in_label, cls.label_failure, cls.label_started = False, None, False

    @classmethod
    def after_fork_in_child(cls) -> None:
        """The child of a fork shares the parent's descriptor of the printer, but not the right to print on it:
        it closes its own copy (which sends nothing), empties the buffer of the parent's half-made label, and
        starts with no holder and a lock of its own, since another thread of the parent may have held the
        parent's."""
        cls.lock = threading.RLock()
        cls.holder = None
        cls.forget_label()
        if cls.library is not None:
            cls.library.DisconnectPrinter()
            cls.library.initDataBuffer()

    @classmethod
    def held_by(cls, printer: "Printer") -> bool:
        return cls.holder is not None and cls.holder() is printer

    @classmethod
    def release(cls, holder: "weakref.ReferenceType[Printer]", library: ctypes.CDLL) -> None:
        with cls.lock:
            if cls.holder is holder:
                library.DisconnectPrinter()
                cls.holder = None


os.register_at_fork(after_in_child=_Connection.after_fork_in_child)


def _fail_label(error: Exception) -> None:
    """Inside label(), any failure fails the label: the first one is what the block raises at its end."""
    if _Connection.in_label and _Connection.label_failure is None:
        _Connection.label_failure = error


class Printer:
    """One printer connection; also a context manager that connects and disconnects.

    Creating a Printer does not connect: connect() or a with block does. The library holds one connection per
    process, so one Printer may be connected at a time; every call on a Printer that does not hold the
    connection sends nothing and raises VdlError "not connected" (code NOT_CONNECTED). A connected Printer
    that is dropped, or still connected when the interpreter exits, is disconnected.

    A label is best made inside label(), a transaction: it is printed when the block completes and discarded,
    nothing of it reaching paper, when the block ends by an exception. A content call (text, block, circle,
    barcode) that fails outside a label() block discards the label under way in the same way, so that what
    it left in the buffer never precedes the next label. Every call takes one lock of the process, and a
    label() block holds it throughout: threads may share a Printer, and their labels never interleave. The
    child of os.fork() does not inherit the connection: there every Printer of the parent is not connected,
    and the child may connect one of its own.

    Failures raise VdlError. Integers that do not fit the C argument (32 bits; flags 0-255) raise
    OverflowError and send nothing; values that fit are brought into range by the library, as VdlLabelAPI.h
    documents. Texts are str (sent as UTF-8) or bytes; a NUL inside one raises ValueError.
    """

    def __init__(self, port: Optional[str] = None, library: Optional[ctypes.CDLL] = None) -> None:
        """A printer on port (USB, /dev/ttyS0:9600, SERIAL:9600, /dev/lp0, PARALLEL, a Bluetooth address such
        as 00:11:22:33:44:55 or an IPv4 address and port such as 192.168.1.50:9100), not yet connected. Without
        a port, the environment variable VDL_PORT names it; ValueError when neither does."""
        port = port or os.environ.get("VDL_PORT")
        if not port:
            raise ValueError("no printer port: give Printer one, such as Printer('192.168.1.50:9100'), "
                             "or set the environment variable VDL_PORT")
        self._lib = library or load_library()
        self.port = port
        self._finalizer: Optional[weakref.finalize] = None

    # --- connection ---------------------------------------------------------

    def connect(self) -> Printer:
        """Connects; a Printer that is connected already is disconnected first. Raises VdlError (code BUSY)
        while another connection is open in the process (another Printer's, or one opened through C), and
        VdlError (code -107) "libbluetooth.so.3 is not installed; install libbluetooth3" for a Bluetooth
        address when libbluetooth is missing."""
        with _Connection.lock:
            self.disconnect()
            if _Connection.holder is not None or self._connection_open():
                raise VdlError("ConnectToPrinter", BUSY, _ANOTHER_CONNECTION)
            if is_bluetooth_address(self.port) and not load_libbluetooth():
                raise VdlError("ConnectToPrinter", _BT_SDP, BLUETOOTH_MISSING)
            self._check("ConnectToPrinter", self._lib.ConnectToPrinter(*c_arguments("ConnectToPrinter", [self.port])))
            holder = weakref.ref(self)
            _Connection.holder, _Connection.library = holder, self._lib
            _Connection.forget_label()
            self._finalizer = weakref.finalize(self, _Connection.release, holder, self._lib)
        return self

    def disconnect(self) -> None:
        """Closes the connection if this Printer holds it; buffered label content stays in the library."""
        with _Connection.lock:
            finalizer, self._finalizer = self._finalizer, None
            if finalizer is not None and _Connection.held_by(self):  # a copy of a Printer holds nothing
                finalizer()

    @property
    def connected(self) -> bool:
        """True while this Printer holds the process's connection and it is open."""
        with _Connection.lock:
            return _Connection.held_by(self) and self._connection_open()

    def __enter__(self) -> Printer:
        return self.connect()

    def __exit__(self, *exc: object) -> None:
        self.disconnect()

    @property
    def model(self) -> Optional[str]:
        """The model name of the connected printer, as in the library's model table; None while this Printer
        is not connected (there is no model then)."""
        with _Connection.lock:
            if not self.connected:
                return None
            number = ctypes.c_int.in_dll(self._lib, "gPrinterModel").value
        table = (ctypes.c_char_p * MODEL_SLOTS).in_dll(self._lib, "VELDRIN_DEVICE")
        name = table[number] if 0 <= number < MODEL_SLOTS else None
        return name.decode("ascii") if name else None

    @property
    def dots_per_inch(self) -> Optional[int]:
        """The connected printer's resolution, 203, 300 or 600 dots per inch (VdlModelDotsPerInch); None
        while this Printer is not connected. Every position and size of a label is in these dots."""
        with _Connection.lock:
            if not self.connected:
                return None
            number = ctypes.c_int.in_dll(self._lib, "gPrinterModel").value
            return self._lib.VdlModelDotsPerInch(number) or None

    def dots(self, millimetres: float) -> int:
        """Millimetres as dots of the connected printer (dots_from_mm at dots_per_inch; 203 dpi while not
        connected)."""
        return dots_from_mm(millimetres, self.dots_per_inch or 203)

    # --- label content, buffered until print_label() --------------------------

    def label(self, copies: int = 1, sets: int = 1) -> ContextManager[None]:
        """A label as a transaction, holding the process's lock throughout (so no other thread's calls come
        between):

            with printer.label(copies=2):
                printer.print_device_font("SHIP TO", 10, 20)
                printer.print_barcode("PKG000123456", 10, 60)

        When the block completes the label is printed (Prints). When it ends by an exception (the program's
        own, or a VdlError of a call inside it) the label is discarded and the exception goes on: the
        library's command buffer is emptied, and, as part of a label with content may be at the printer
        already (the buffer sends itself whenever it needs room; pictures go out at once), the printer's
        clear-buffer command follows. A failing content call inside the block discards the label at once, and
        any failing call fails it: should the program catch the error and go on, the block's end raises it
        again instead of printing. Content buffered before the block belongs to its label. Blocks do not nest
        and a label prints once: label() or print_label() inside the block raises RuntimeError. Without the
        connection it raises VdlError (NOT_CONNECTED) before the block runs."""
        c_arguments("Prints", [copies, sets])
        return self._label(copies, sets)

    @contextlib.contextmanager
    def _label(self, copies: int, sets: int) -> Iterator[None]:
        with _Connection.lock:
            if _Connection.in_label:
                nested = RuntimeError("label() inside label(): a label is under way already; end it first")
                _Connection.label_failure = _Connection.label_failure or nested
                raise nested
            self._require_connection("Prints")
            _Connection.in_label, _Connection.label_failure = True, None
            try:
                yield
                failure = _Connection.label_failure
                if isinstance(failure, VdlError):
                    raise VdlError(failure.operation, failure.code, f"label discarded: {failure.meaning}")
                if failure is not None:
                    raise RuntimeError(f"label discarded: {failure}")
                _Connection.in_label = False  # the block's own print
                self._call("Prints", copies, sets)
            except BaseException:
                self._discard_label()
                raise
            finally:
                _Connection.in_label, _Connection.label_failure = False, None

    def print_device_font(self, text: Text, x: int, y: int, font: DeviceFont = DeviceFont.F3, horizontal: int = 1,
                          vertical: int = 1, rotation: Rotation = Rotation.R0, bold: bool = False,
                          code_page: Optional[CodePage] = None) -> None:
        """Device-font text (PrintDeviceFont); with a code_page, every letter font converts the text to it
        (PrintDeviceFontW). Multipliers 1-4."""
        args = (text, x, y, font, horizontal, vertical, rotation, bold)
        if code_page is None:
            self._call("PrintDeviceFont", *args)
        else:
            self._call("PrintDeviceFontW", *args, code_page)

    def print_vector_font(self, text: Text, x: int, y: int, font: VectorFont = VectorFont.a, width: int = 30,
                          height: int = 30, spacing: int = 0, bold: bool = False, reverse: bool = False,
                          italic: bool = False, rotation: Rotation = Rotation.R0,
                          alignment: Alignment = Alignment.LEFT, direction: int = 0,
                          code_page: Optional[CodePage] = None) -> None:
        """Vector-font text (PrintVectorFont); with a code_page, every font but U converts the text to it
        (PrintVectorFontW). direction 0 or 1."""
        args = (text, x, y, font, width, height, spacing, bold, reverse, italic, rotation, alignment, direction)
        if code_page is None:
            self._call("PrintVectorFont", *args)
        else:
            self._call("PrintVectorFontW", *args, code_page)

    def print_block(self, x1: int, y1: int, x2: int, y2: int, option: BlockOption = BlockOption.OVERWRITE,
                    value: int = 0) -> None:
        """A line or box from (x1, y1) to (x2, y2) (PrintBlock); value is the thickness of SLOPE and BOX.
        An option outside 0-4 raises VdlError (code -124)."""
        self._call("PrintBlock", x1, y1, x2, y2, option, value)

    def print_circle(self, x: int, y: int, size: int = 2, multiplier: int = 1) -> None:
        """A circle (PrintCircle): size 1-6, multiplier 1-4."""
        self._call("PrintCircle", x, y, size, multiplier)

    def print_barcode(self, data: Text, x: int, y: int, barcode_type: Symbology = Symbology.CODE128,
                      narrow: int = 2, wide: int = 4, height: int = 100, rotation: Rotation = Rotation.R0,
                      human_readable: Union[bool, int] = False, *, field8: Optional[int] = None) -> None:
        """A linear barcode (Print1DBarcode); narrow, wide and height are the printer's fields 4-6.
        human_readable prints the data under the bars (the printer's field 8: False 0, True 1, or 0-8 as the
        printer reads it); field8 is its earlier name, still taken as a keyword."""
        if field8 is not None:
            if human_readable is not False:
                raise TypeError("print_barcode: give human_readable or field8, not both")
            human_readable = field8
        self._call("Print1DBarcode", data, x, y, barcode_type, narrow, wide, height, rotation,
                   operator.index(human_readable))

    def print_maxi_code(self, data: Text, x: int, y: int, mode: int = 0) -> None:
        """MaxiCode (PrintMaxiCode): mode 0, 2, 3 or 4."""
        self._call("PrintMaxiCode", data, x, y, mode)

    def print_pdf417(self, data: Text, x: int, y: int, rows: int = 30, columns: int = 5, ecc_level: int = 0,
                     field7: int = 0, field8: bool = False, field9: int = 1, field10: int = 3, field11: int = 10,
                     rotation: Rotation = Rotation.R0) -> None:
        """PDF417 (PrintPDF417): rows 3-90, columns 1-30, ecc_level 0-8."""
        self._call("PrintPDF417", data, x, y, rows, columns, ecc_level, field7, field8, field9, field10, field11,
                   rotation)

    def print_qr_code(self, data: Text, x: int, y: int, model: int = 2, ecc_level: int = 1, size: int = 4,
                      rotation: Rotation = Rotation.R0) -> None:
        """QR Code (PrintQRCode): model 1-2, ecc_level 0 L, 1 M, 2 Q, 3 H, size 1-4."""
        self._call("PrintQRCode", data, x, y, model, ecc_level, size, rotation)

    def print_data_matrix(self, data: Text, x: int, y: int, field4: int = 2, field5: bool = False,
                          rotation: Rotation = Rotation.R0) -> None:
        """Data Matrix (PrintDataMatrix)."""
        self._call("PrintDataMatrix", data, x, y, field4, field5, rotation)

    def print_aztec(self, data: Text, x: int, y: int, field4: int = 2, field5: int = 0, field6: int = 0,
                    field7: bool = False, field8: int = 15, field9: int = 0, rotation: Rotation = Rotation.R0) -> None:
        """Aztec (PrintAztec)."""
        self._call("PrintAztec", data, x, y, field4, field5, field6, field7, field8, field9, rotation)

    def print_code49(self, data: Text, x: int, y: int, field4: int, field5: int, field6: int, field7: int = 0,
                     field8: int = 0, rotation: Rotation = Rotation.R0) -> None:
        """Code 49 (PrintCode49)."""
        self._call("PrintCode49", data, x, y, field4, field5, field6, field7, field8, rotation)

    def print_codablock(self, data: Text, x: int, y: int, field4: int, field5: int, field6: int,
                        field7: bool = False, field8: int = 30, mode: CodablockMode = CodablockMode.E,
                        field10: int = 3) -> None:
        """CODABLOCK (PrintCODABLOCK)."""
        self._call("PrintCODABLOCK", data, x, y, field4, field5, field6, field7, field8, mode, field10)

    def print_micro_pdf(self, data: Text, x: int, y: int, field4: int = 5, field5: int = 50, field6: int = 0,
                        rotation: Rotation = Rotation.R0) -> None:
        """MicroPDF417 (PrintMicroPDF)."""
        self._call("PrintMicroPDF", data, x, y, field4, field5, field6, rotation)

    def print_gs1_databar(self, data: Text, x: int, y: int, field4: int = 5, field5: int = 1, field6: int = 1,
                          field7: int = 0, segments: int = 6, rotation: Rotation = Rotation.R0) -> None:
        """GS1 DataBar (PrintGS1DataBar): segments an even number 0-22."""
        self._call("PrintGS1DataBar", data, x, y, field4, field5, field6, field7, segments, rotation)

    def print_label(self, copies: int = 1, sets: int = 1) -> None:
        """Ends the label: the print command and everything buffered go out (Prints); a label whose print
        fails is discarded, as any failed label. label() does this as a transaction."""
        self._call("Prints", copies, sets)

    # --- pictures, sent at once -------------------------------------------------

    def print_bitmap(self, path: Path, x: int, y: int, compress: bool = True) -> None:
        """A picture from a BMP, JPEG, GIF or PNG file, recognised by its content whatever its name, loaded as
        Raster.load loads it and sent as print_raster sends it (a BMP, JPEG or GIF gives the bytes PrintBitmap
        gives for it under its own extension); run-length encoded when compress. A file that cannot be loaded
        raises VdlError and sends nothing. The picture is sent from where the library loaded it, never copied."""
        with contextlib.ExitStack() as held:
            try:
                self._require_connection("PrintBitmap")
                # Outside the connection's lock: a large picture takes seconds, other threads' labels go on.
                bits, info = held.enter_context(loaded_picture(path, self._lib))
            except VdlError as error:  # as a failed content call: the label fails and is discarded
                with _Connection.lock:
                    _fail_label(error)
                    if error.code != NOT_CONNECTED:
                        self._discard_label()
                raise
            self._call("printLCR" if compress else "printLD", bits, ctypes.byref(info), x, y)

    def print_raster(self, raster: Raster, x: int, y: int, compress: bool = True) -> None:
        """A picture the application made or Raster.load loaded (printLCR when compress, else printLD)."""
        pixels, info = raster._as_c()
        self._call("printLCR" if compress else "printLD", pixels, info, x, y)

    # --- actions and settings, sent at once -------------------------------------

    def initialize(self) -> None:
        """Initialises the printer (InitializePrinter)."""
        self._call("InitializePrinter")

    def calibrate(self) -> None:
        """Makes the printer measure its media (CalibrateMedia)."""
        self._call("CalibrateMedia")

    def reset(self) -> None:
        """Resets the printer (ResetPrinter)."""
        self._call("ResetPrinter")

    def feed(self) -> None:
        """Feeds one label (FeedOneLabel)."""
        self._call("FeedOneLabel")

    def set_speed(self, speed: int) -> None:
        """Print speed 0-12 (SetSpeed)."""
        self._call("SetSpeed", speed)

    def set_density(self, density: int) -> None:
        """Print density 0-20 (SetDensity)."""
        self._call("SetDensity", density)

    def set_orientation(self, orientation: Union[Orientation, bool] = Orientation.TOP_FIRST) -> None:
        """Which end prints first (SetOrientation); True and False stand for TOP_FIRST and BOTTOM_FIRST."""
        if isinstance(orientation, bool):
            orientation = Orientation.TOP_FIRST if orientation else Orientation.BOTTOM_FIRST
        self._call("SetOrientation", orientation)

    def set_cutter(self, enabled: bool, period: int = 0) -> None:
        """Cutter on or off; with a period, it cuts every period labels (SetCutter)."""
        self._call("SetCutter", enabled, period)

    def set_rewinder(self, enabled: bool) -> None:
        """Rewinder on or off (SetRewinder)."""
        self._call("SetRewinder", enabled)

    def set_offset(self, offset: int) -> None:
        """Print offset -100 to 100 (SetOffset)."""
        self._call("SetOffset", offset)

    def set_cut_position(self, position: int) -> None:
        """Cut position -100 to 100 (SetCutPostion)."""
        self._call("SetCutPostion", position)

    def set_printing_type(self, printing_type: PrintingType) -> None:
        """Direct thermal or thermal transfer (SetPrintingType)."""
        self._call("SetPrintingType", printing_type)

    def set_back_feed(self, enabled: bool) -> None:
        """Back feed on or off (SetBackFeed)."""
        self._call("SetBackFeed", enabled)

    def set_paper(self, width: int, height: int, media_type: MediaType = MediaType.GAP, offset: int = 0,
                  gap: int = 24) -> None:
        """Paper size, offset and gap in dots, and the media (SetPaper)."""
        self._call("SetPaper", width, height, media_type, offset, gap)

    def set_margin(self, horizontal: int, vertical: int) -> None:
        """Margins in dots (SetMargin)."""
        self._call("SetMargin", horizontal, vertical)

    def set_character_set(self, character_set: int, code_table: int) -> None:
        """Character set 0-15 and code table 0-255 (SetCharacterSet)."""
        self._call("SetCharacterSet", character_set, code_table)

    def status(self) -> Status:
        """The printer's error bits; Status(0), which reads "ready", when there is none (CheckPrinterStatus)."""
        return Status(self._call("CheckPrinterStatus"))

    # --- RFID, sent at once --------------------------------------------------------

    def setup_rfid(self, field1: int, field2: int, field3: int, field4: int) -> int:
        """RFID set-up (SetupRFID); returns the number of bytes written."""
        return self._call("SetupRFID", field1, field2, field3, field4)

    def calibrate_rfid(self) -> None:
        """Calibrates the RFID encoder (CalibrateRFID)."""
        self._call("CalibrateRFID")

    def set_rfid_position(self, position: int) -> None:
        """Position of the RFID encoder (SetRFIDPosition)."""
        self._call("SetRFIDPosition", position)

    def set_epc_data_structure(self, field1: int, structure: Text) -> None:
        """The EPC data structure (SetEPCDataStructure)."""
        self._call("SetEPCDataStructure", field1, structure)

    def write_rfid(self, write_type: RfidWrite, field2: int, length: int, data: Text) -> None:
        """Writes data to the tag (WriteRFID); a type outside RfidWrite sends nothing."""
        self._call("WriteRFID", write_type, field2, length, data)

    def set_rfid_password(self, part1: Text, part2: Text, part3: Text, part4: Text) -> None:
        """The four items of the tag password setting (SetRFIDPassword)."""
        self._call("SetRFIDPassword", part1, part2, part3, part4)

    def lock_rfid(self) -> None:
        """Locks the tag (LockRFID)."""
        self._call("LockRFID")

    def unlock_rfid(self) -> None:
        """Unlocks the tag (UnlockRFID)."""
        self._call("UnlockRFID")

    # --- raw bytes, sent at once ------------------------------------------------------

    def write(self, data: Buffer) -> None:
        """Sends bytes as they are (WriteBuffer). A str raises TypeError: encode it first."""
        payload = raw_bytes(data, "WriteBuffer")
        self._require_connection("WriteBuffer")
        for start in range(0, len(payload), _WRITE_PIECE):
            piece = payload[start:start + _WRITE_PIECE]
            self._call("WriteBuffer", piece, len(piece))

    def direct_io(self, data: Buffer, reply_size: int = 0) -> bytes:
        """Sends data (bytes-like; a str raises TypeError), then reads a reply of at most reply_size bytes, and
        at most REPLY_LIMIT, when reply_size is not 0 (DirectIO). A reply_size below 0 or above 2**32 - 1
        raises ValueError."""
        out = raw_bytes(data, "DirectIO")
        reply_size = operator.index(reply_size)
        if not 0 <= reply_size <= 0xFFFFFFFF:
            raise ValueError(f"DirectIO: reply_size is 0 to 4294967295, not {reply_size}")
        capacity = min(reply_size, REPLY_LIMIT)
        reply = ctypes.create_string_buffer(capacity)
        length = ctypes.c_uint32(capacity)
        self._call("DirectIO", out or None, len(out), reply if capacity else None, ctypes.byref(length))
        return reply.raw[:min(length.value, capacity)]

    def clear_buffer(self) -> None:
        """Sends the printer's clear-buffer command (ClearBuffer); the library's command buffer is untouched."""
        self._call("ClearBuffer")

    def print_zpl(self, zpl: Zpl, strict: bool = False) -> ZplResult:
        """VdlZplPrint: prints the labels of ZPL II text or bytes, translated into the printer's own text,
        barcode and bitmap commands. Returns the labels printed and the warnings ("LINE:COLUMN: words") for
        what has no counterpart; strict refuses such a label (ZplError). Not inside label(): ZPL labels are
        whole labels."""
        with _Connection.lock:
            if _Connection.in_label:
                raise RuntimeError("print_zpl() inside label(): a ZPL label is a whole label of its own")
            self._require_connection("VdlZplPrint")
            return print_zpl(self._lib, zpl, strict)

    # --- the one road of every call ----------------------------------------------------

    def _call(self, name: str, *args: Any) -> int:
        arguments = c_arguments(name, args)
        function: Callable[..., int] = getattr(self._lib, name)
        with _Connection.lock:
            try:
                return self._call_locked(name, function, arguments)
            except (VdlError, RuntimeError) as error:
                _fail_label(error)
                raise

    def _call_locked(self, name: str, function: Callable[..., int], arguments: List[Any]) -> int:
        if name == "Prints" and _Connection.in_label:
            raise RuntimeError("print_label() inside label(): the block prints its label when it ends")
        self._require_connection(name)
        _Connection.label_started |= name in _CONTENT
        result = function(*arguments)
        if result >= 0:
            if name == "Prints":
                _Connection.label_started = False
            return result
        error = VdlError(name, result, self._why(result) if name in _CONTENT else None)
        if name in _CONTENT or name == "Prints":  # a label that failed is discarded whole
            self._discard_label()
        raise error

    def _why(self, code: int) -> Optional[str]:
        """Which of the two causes of VDL_ERR_WRITE a content call met. A text that could not be converted to
        its code page leaves its header in the buffer, an unfinished command (every command ends with a
        carriage return); a write the printer refused leaves whole commands, as the buffer was."""
        if code != _WRITE_FAILED:
            return None
        fill = ctypes.c_uint32.in_dll(self._lib, "gDataIndex").value
        buffer = (ctypes.c_ubyte * _BUFFER_SIZE).in_dll(self._lib, "gPrintData")
        if 0 < fill <= _BUFFER_SIZE and buffer[fill - 1] != ord("\r"):
            return "the text could not be converted to the code page; nothing was sent to the printer"
        return "the printer did not take the data"

    def _discard_label(self) -> None:
        """Empties the library's command buffer, and sends the clear-buffer command when part of the label
        reached the printer already. Its failure is not raised: the exception that discards the label is
        the one to see, and a printer that refused the label is unlikely to take this either."""
        self._lib.initDataBuffer()
        started, _Connection.label_started = _Connection.label_started, False
        if started and self.connected:
            self._lib.ClearBuffer()

    def _require_connection(self, operation: str) -> None:
        if not self.connected:
            raise VdlError(operation, NOT_CONNECTED)

    def _connection_open(self) -> bool:
        return ctypes.c_ubyte.in_dll(self._lib, "gConnectedPrinter").value != 0

    @staticmethod
    def _check(operation: str, result: int) -> int:
        if result < 0:
            raise VdlError(operation, result)
        return result
