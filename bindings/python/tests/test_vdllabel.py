"""The installed Python binding: each call sends the bytes of the C call it wraps, refuses what C would get
wrong, keeps to the one connection; held against the public header, mypy and its reference page."""

import ctypes
import gc
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib
from unittest import mock

import vdllabel
from vdllabel import (BUSY, NOT_CONNECTED, Alignment, BlockOption, CodablockMode, CodePage, DeviceFont, MediaType,
                      Orientation, Printer, PrintingType, Raster, RfidWrite, Rotation, Status, Symbology, VdlError,
                      VectorFont)

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path += [os.path.join(SOURCE, "tests"), os.path.join(SOURCE, "bindings", "python")]  # after the installed copy

import api_reference  # noqa: E402
from emulator import Emulator  # noqa: E402

C_TYPES = {"const char *": ctypes.c_char_p, "int": ctypes.c_int, "unsigned char": ctypes.c_ubyte,
           "uint32_t": ctypes.c_uint32, "const void *": ctypes.c_void_p, "void *": ctypes.c_void_p,
           "uint32_t *": ctypes.POINTER(ctypes.c_uint32), "const unsigned char *": ctypes.POINTER(ctypes.c_ubyte),
           "const BITMAPINFOHEADER *": ctypes.POINTER(vdllabel.library.BITMAPINFOHEADER),
           "BITMAPINFOHEADER *": ctypes.POINTER(vdllabel.library.BITMAPINFOHEADER),
           "unsigned char * *": ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte))}

# Functions of the header with no method of their own, and why.
LEFT_OUT = {**dict.fromkeys(("openCheck", "modelCheck", "getModel", "writeData", "readData", "bufferCheck",
                             "initDataBuffer", "convertData", "initWriteLog", "printDebugLog"),
                            "a step the library takes itself within the calls that have methods"),
            **dict.fromkeys(("openDeviceEthernet", "openDeviceUSB", "openDeviceParallel", "openDeviceSerial",
                             "openDeviceBluetooth", "sdp_search_spp", "spp_connect"),
                            "a transport, opened by connect() from the port name"),
            **dict.fromkeys(("loadImage1", "GetImageBit", "strToUpper", "compressData"),
                            "a step of print_bitmap, print_raster and Raster.load"),
            "loadImage": "Raster.load reads by content through VdlLoadPicture, as loadImage reads each format",
            "VdlModelDotsPerInch": "read by Printer.dots_per_inch, checked against the emulator's model",
            "PrintRasterLabel": "print_raster then print_label send the same bytes; the one-write form is for "
                                "servers paced per label (the printer application)",
            "VdlErrorCategory": "the C++ interface's error category, a C++ object",
            "VdlInterfaceState": "the C++ interface's lock and label state; the package keeps its own"}
CONNECTION = {"ConnectToPrinter": "connect", "DisconnectPrinter": "disconnect"}  # tested by the connection rules

LOGO = os.path.join(SOURCE, "examples", "logo.bmp")
LOGO_PNG = os.path.join(SOURCE, "examples", "logo.png")  # the same black and white logo
RASTER = Raster(9, 3)
for y, row in ((0, b"\xff\xff\xff"), (1, b"\x12"), (3, b"\xff")):  # bits past the width and rows outside: ignored
    RASTER.set_row(y, row)
RASTER.set_black(8, 2)
LIES = Raster(8, 8)
LIES._height = 100  # a size its bits do not have: the library would read 792 bytes past them


def c_raster(raster=None):
    """A raster as C gets it: RASTER's, its bits written out, or another's."""
    size, bits = ((9, 3), b"\xff\x80\x12\0\0\x80") if raster is None else ((raster.width, raster.height), raster.bits)
    info = vdllabel.library.BITMAPINFOHEADER(biSize=40, biWidth=size[0], biHeight=size[1], biPlanes=1, biBitCount=1)
    return (ctypes.c_ubyte * len(bits)).from_buffer_copy(bits), ctypes.byref(info)


# Each row: a Printer method and its arguments (or what makes them), the C function it wraps, and the C
# arguments (or the C calls that send the same).
SAME_BYTES = [
    ("print_device_font", ("AB", 1, 2, DeviceFont.m, 2, 3, Rotation.R90, True), "PrintDeviceFont",
     (b"AB", 1, 2, ord("m"), 2, 3, 1, 1)),
    ("print_device_font", ("AB", 1, 2, DeviceFont.a, 1, 1, Rotation.R0, False, CodePage.CP932), "PrintDeviceFontW",
     (b"AB", 1, 2, ord("a"), 1, 1, 0, 0, 7)),
    ("print_vector_font", (b"AB", 1, 2, VectorFont.J, 30, 40, 1, True, False, True, Rotation.R270, Alignment.RIGHT, 1),
     "PrintVectorFont", (b"AB", 1, 2, 4, 30, 40, 1, 1, 0, 1, 3, 2, 1)),
    ("print_vector_font", ("AB", 1, 2, VectorFont.K, 30, 40, 0, False, True, False, Rotation.R0, Alignment.CENTRE, 0,
                           CodePage.BIG5), "PrintVectorFontW", (b"AB", 1, 2, 1, 30, 40, 0, 0, 1, 0, 0, 1, 0, 4)),
    ("print_block", (1, 2, 3, 4, BlockOption.BOX, 5), "PrintBlock", (1, 2, 3, 4, 4, 5)),
    ("print_circle", (1, 2, 3, 4), "PrintCircle", (1, 2, 3, 4)),
    ("print_barcode", ("12", 1, 2, Symbology.EAN13, 3, 4, 5, Rotation.R180, 6), "Print1DBarcode",
     (b"12", 1, 2, 7, 3, 4, 5, 2, 6)),
    ("print_barcode", ("12", 1, 2, Symbology.EAN13, 3, 4, 5, Rotation.R180, True), "Print1DBarcode",
     (b"12", 1, 2, 7, 3, 4, 5, 2, 1)),
    ("print_maxi_code", ("D", 1, 2, 3), "PrintMaxiCode", (b"D", 1, 2, 3)),
    ("print_pdf417", ("D", 1, 2, 4, 5, 6, 2, True, 0, 4, 20, Rotation.R90), "PrintPDF417",
     (b"D", 1, 2, 4, 5, 6, 2, 1, 0, 4, 20, 1)),
    ("print_qr_code", ("D", 1, 2, 1, 3, 2, Rotation.R90), "PrintQRCode", (b"D", 1, 2, 1, 3, 2, 1)),
    ("print_data_matrix", ("D", 1, 2, 3, True, Rotation.R90), "PrintDataMatrix", (b"D", 1, 2, 3, 1, 1)),
    ("print_aztec", ("D", 1, 2, 3, 1, 5, True, 7, 8, Rotation.R90), "PrintAztec", (b"D", 1, 2, 3, 1, 5, 1, 7, 8, 1)),
    ("print_code49", ("D", 1, 2, 3, 4, 5, 1, 2, Rotation.R90), "PrintCode49", (b"D", 1, 2, 3, 4, 5, 1, 2, 1)),
    ("print_codablock", ("D", 1, 2, 3, 4, 5, True, 6, CodablockMode.A, 7), "PrintCODABLOCK",
     (b"D", 1, 2, 3, 4, 5, 1, 6, 0, 7)),
    ("print_micro_pdf", ("D", 1, 2, 3, 4, 5, Rotation.R90), "PrintMicroPDF", (b"D", 1, 2, 3, 4, 5, 1)),
    ("print_gs1_databar", ("D", 1, 2, 3, 4, 2, 6, 8, Rotation.R90), "PrintGS1DataBar", (b"D", 1, 2, 3, 4, 2, 6, 8, 1)),
    ("print_label", (2, 3), "Prints", (2, 3)),
    ("print_bitmap", (LOGO, 5, 6, False), "PrintBitmap", (os.fsencode(LOGO), 5, 6, 0)),
    ("print_bitmap", (LOGO_PNG, 5, 6), "PrintBitmap", (os.fsencode(LOGO), 5, 6, 1)),
    ("print_raster", (RASTER, 5, 6), "printLCR", lambda c: c.printLCR(*c_raster(), 5, 6)),
    ("print_raster", (RASTER, 5, 6, False), "printLD", lambda c: c.printLD(*c_raster(), 5, 6)),
    ("print_raster", lambda: (Raster.load(LOGO), 5, 6), "VdlLoadPicture",  # as PrintBitmap prints the file
     lambda c: c.PrintBitmap(os.fsencode(LOGO), 5, 6, 1)),
    ("print_raster", lambda: (Raster.load(LOGO).rescaled(50), 5, 6), "resizeImage",  # as loadImage rescales
     lambda c: c.printLCR(*c_raster(Raster.load(LOGO, 50)), 5, 6)),
    ("initialize", (), "InitializePrinter", ()),
    ("calibrate", (), "CalibrateMedia", ()),
    ("reset", (), "ResetPrinter", ()),
    ("feed", (), "FeedOneLabel", ()),
    ("set_speed", (99,), "SetSpeed", (99,)),  # fits an int: the library's own clamp applies
    ("set_density", (4,), "SetDensity", (4,)),
    ("set_orientation", (Orientation.BOTTOM_FIRST,), "SetOrientation", (ord("B"),)),
    ("set_cutter", (True, 5), "SetCutter", (1, 5)),
    ("set_rewinder", (True,), "SetRewinder", (1,)),
    ("set_offset", (-300,), "SetOffset", (-300,)),
    ("set_cut_position", (7,), "SetCutPostion", (7,)),
    ("set_printing_type", (PrintingType.THERMAL_TRANSFER,), "SetPrintingType", (1,)),
    ("set_back_feed", (True,), "SetBackFeed", (1,)),
    ("set_paper", (8, 9, MediaType.BLACK_MARK, 10, 11), "SetPaper", (8, 9, 2, 10, 11)),
    ("set_margin", (12, 13), "SetMargin", (12, 13)),
    ("set_character_set", (14, 15), "SetCharacterSet", (14, 15)),
    ("status", (), "CheckPrinterStatus", ()),
    ("setup_rfid", (1, 2, 3, 4), "SetupRFID", (1, 2, 3, 4)),
    ("calibrate_rfid", (), "CalibrateRFID", ()),
    ("set_rfid_position", (5,), "SetRFIDPosition", (5,)),
    ("set_epc_data_structure", (6, "96,8"), "SetEPCDataStructure", (6, b"96,8")),
    ("write_rfid", (RfidWrite.H, 7, 8, "AB"), "WriteRFID", (2, 7, 8, b"AB")),
    ("set_rfid_password", ("1", b"2", "3", "4"), "SetRFIDPassword", (b"1", b"2", b"3", b"4")),
    ("lock_rfid", (), "LockRFID", ()),
    ("unlock_rfid", (), "UnlockRFID", ()),
    ("write", (bytearray(b"A\0B"),), "WriteBuffer", (b"A\0B", 3)),
    ("direct_io", (memoryview(b"^cu\r"), 2**32 - 1), "DirectIO",
     lambda c: c.DirectIO(b"^cu\r", 4, ctypes.create_string_buffer(1), ctypes.byref(ctypes.c_uint32(1)))),
    ("clear_buffer", (), "ClearBuffer", ()),
]

# What C would take wrong (cut to 32 bits, wide characters, a reply area that is too small, a text cut short):
# refused before anything is sent.
REFUSED = [
    (lambda p: p.set_speed(2**32 + 4), OverflowError), (lambda p: p.print_circle(2**31, 0), OverflowError),
    (lambda p: p.set_cutter(True, -2**31 - 1), OverflowError), (lambda p: p.set_rewinder(256), OverflowError),
    (lambda p: p.set_speed(4.0), TypeError), (lambda p: p.print_barcode(12345, 1, 2), TypeError),
    (lambda p: p.write("RAW"), TypeError), (lambda p: p.direct_io("ASK", 1), TypeError),
    (lambda p: p.direct_io(b"^cu\r", -1), ValueError), (lambda p: p.direct_io(b"^cu\r", 2**32), ValueError),
    (lambda p: p.print_device_font("A\0B", 1, 2), ValueError),
    (lambda p: p.set_rfid_password("1", "2", b"3\0", "4"), ValueError),
    (lambda p: Raster(0, 1), ValueError), (lambda p: Raster(1, 65536), ValueError),
    (lambda p: Raster.load("/nonexistent.bmp"), VdlError), (lambda p: RASTER.rescaled(0), VdlError),
    (lambda p: setattr(Raster(8, 8), "width", 800), AttributeError), (lambda p: LIES.rescaled(4), ValueError),
    (lambda p: p.print_raster(LIES, 0, 0, compress=False), ValueError),
    (lambda p: p.print_barcode("1", 1, 2, human_readable=True, field8=1), TypeError),
]


def call(printer, method, args):
    return getattr(printer, method)(*(args() if callable(args) else args))


def header_prototypes() -> dict:
    """Argument types of every function of the public header, by name."""
    with open(os.environ["VDL_HEADER"], encoding="utf-8") as file:
        found = re.findall(r"^VDL_API [^;(]*?\b(\w+)\(([^)]*)\)", file.read(), re.M)
    types = {}
    for name, arguments in found:
        kinds = [re.sub(r"\s*\b\w+$", "", a.strip()).replace("*", " *").replace("  ", " ")
                 for a in arguments.split(",")]
        types[name] = [] if arguments.strip() == "void" else [C_TYPES.get(k, k) for k in kinds]
    return types


class FakePrinter:
    """A printer on a loopback port, one connection at a time: records every byte and answers the model and
    status queries. A call's bytes end where the test's MARK arrives; model queries (connecting) are left out."""

    MODEL_QUERY = b"^PI0\r\n"
    ANSWERS = {MODEL_QUERY: b"VRL-408\r\n", b"^cu\r": b"\x00"}
    MARK = b"\x1b\x1b<end of call>\x1b\x1b"

    def __init__(self):
        self._server = socket.create_server(("127.0.0.1", 0))
        self.port_name = f"127.0.0.1:{self._server.getsockname()[1]}"
        self._received = bytearray()
        self._arrived = threading.Condition()
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                connection, _ = self._server.accept()
            except OSError:
                return
            stream, answered = bytearray(), dict.fromkeys(self.ANSWERS, 0)
            with connection:
                while data := connection.recv(65536):
                    stream += data
                    for query, answer in self.ANSWERS.items():
                        for _ in range(stream.count(query) - answered[query]):
                            connection.sendall(answer)
                        answered[query] = stream.count(query)
                    with self._arrived:
                        self._received += data
                        self._arrived.notify_all()

    def take(self) -> bytes:
        """The bytes received up to the next MARK (waiting five seconds at most), and the MARK taken away."""
        with self._arrived:
            if not self._arrived.wait_for(lambda: self.MARK in self._received, timeout=5):
                raise AssertionError(f"no mark after {bytes(self._received)!r}")
            before, _, after = bytes(self._received).partition(self.MARK)
            self._received[:] = after
            return before.replace(self.MODEL_QUERY, b"")

    def close(self):
        self._server.close()


class Installed(unittest.TestCase):
    def test_the_package_is_an_installed_copy(self):
        self.assertFalse(vdllabel.__file__.startswith(os.path.join(SOURCE, "bindings")), vdllabel.__file__)
        self.assertTrue(os.path.exists(os.path.join(os.path.dirname(vdllabel.__file__), "py.typed")))
        self.assertEqual(vdllabel.MEANINGS[-124], "invalid block option")

    def test_the_library_is_loaded_or_the_error_says_what_was_tried(self):
        with open(os.environ["VDL_HEADER"], encoding="utf-8") as file:
            version = ".".join(re.findall(r"^#define VDL_VERSION_(?:MAJOR|MINOR|PATCH) (\d+)", file.read(), re.M))
        self.assertEqual(vdllabel.__version__, version)
        with tempfile.TemporaryDirectory() as work:
            other_major = os.path.join(work, "libVdlLabelAPI.so.2")
            with open(vdllabel.library._file_of(vdllabel.load_library()), "rb") as library, \
                    open(other_major, "wb") as copy:
                copy.write(library.read().replace(b"libVdlLabelAPI.so.1\0", b"libVdlLabelAPI.so.2\0"))
            for variable, said in ((os.path.join(work, "absent.so"), ["absent.so", "VDL_LIBRARY"]),
                                   (other_major, ["libVdlLabelAPI.so.2", "libVdlLabelAPI.so.1"])):
                with self.subTest(said[0]), mock.patch.dict(os.environ, VDL_LIBRARY=variable), \
                        self.assertRaises(ImportError) as refused:
                    vdllabel.load_library()
                for words in said:
                    self.assertIn(words, str(refused.exception))

    def test_millimetres_become_the_nearest_dot(self):
        self.assertEqual([vdllabel.dots_from_mm(*a) for a in ((25.4,), (10, 300), (-1,))], [203, 118, -8])

    def test_a_printer_without_a_port_takes_vdl_port(self):
        with mock.patch.dict(os.environ, VDL_PORT="192.0.2.1:9100"):
            self.assertEqual(Printer().port, "192.0.2.1:9100")
        with mock.patch.dict(os.environ, VDL_PORT=""), self.assertRaisesRegex(ValueError, "VDL_PORT"):
            Printer()

    def test_every_argument_list_matches_the_header(self):
        prototypes = header_prototypes()
        for name, argtypes in vdllabel.SIGNATURES.items():
            with self.subTest(name):
                self.assertEqual(argtypes, prototypes[name])

    def test_every_function_of_the_header_has_a_method_or_a_reason(self):
        covered = [c_name for _, _, c_name, _ in SAME_BYTES] + list(CONNECTION) + list(LEFT_OUT)
        self.assertCountEqual(set(covered), header_prototypes())
        self.assertTrue(all(callable(getattr(Printer, method)) for method in CONNECTION.values()))

    def test_a_raster_reads_back_its_pixels(self):
        self.assertEqual([RASTER.black(x, y) for x, y in ((8, 2), (7, 2), (0, 0), (9, 0), (-1, 0))],
                         [True, False, True, False, False])

    @unittest.skipUnless(shutil.which("mypy"), "mypy is not installed (scripts/install-deps.sh installs it)")
    def test_mypy_strict_passes_a_typed_program_and_finds_misuse(self):
        misuse = ("from vdllabel import Printer, Rotation\nprinter = Printer('USB')\n"
                  "printer.print_barcode('1', 1, 2, Rotation.R90)\nprinter.write('RAW')\nmodel: str = printer.model\n")
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "misuse.py"), "w", encoding="utf-8") as file:
                file.write(misuse)
            run = subprocess.run(["mypy", "--strict", "--cache-dir", work, "--python-executable", sys.executable,
                                  os.path.join(HERE, "typed_use.py"), file.name], capture_output=True, text=True,
                                 timeout=300)
        errors = [(os.path.basename(f), int(line)) for f, line in re.findall(r"^(\S+?):(\d+): error", run.stdout, re.M)]
        self.assertEqual(errors, [("misuse.py", 3), ("misuse.py", 4), ("misuse.py", 5)], run.stdout + run.stderr)

    def test_the_reference_page_is_rendered_from_these_docstrings(self):
        with open(os.path.join(SOURCE, "docs", "python.md"), encoding="utf-8") as page:
            self.assertEqual(page.read(), api_reference.render(vdllabel),
                             "docs/python.md is behind: python3 bindings/python/api_reference.py docs/python.md")


class SameBytes(unittest.TestCase):
    """Against the fake printer, on one connection: a call's bytes are those sent plus those left in the
    library's command buffer."""

    @classmethod
    def setUpClass(cls):
        cls.fake = FakePrinter()
        cls.addClassCleanup(cls.fake.close)
        cls.lib = vdllabel.load_library()
        cls.printer = Printer(cls.fake.port_name).connect()
        cls.addClassCleanup(cls.printer.disconnect)

    def sent_by(self, call) -> bytes:
        self.lib.initDataBuffer()
        call()
        self.lib.WriteBuffer(FakePrinter.MARK, len(FakePrinter.MARK))
        return self.fake.take() + self.buffered()

    def buffered(self) -> bytes:
        length = ctypes.c_uint32.in_dll(self.lib, "gDataIndex").value
        return bytes((ctypes.c_ubyte * 4096).in_dll(self.lib, "gPrintData"))[:length]

    def test_each_call_sends_the_bytes_of_its_c_function(self):
        for method, args, c_name, c_call in SAME_BYTES:
            with self.subTest(c_name):
                c_function = getattr(self.lib, c_name)
                from_c = self.sent_by(lambda: c_call(self.lib) if callable(c_call) else c_function(*c_call))
                self.assertTrue(from_c)
                self.assertEqual(self.sent_by(lambda: call(self.printer, method, args)), from_c)

    def test_what_c_would_take_wrong_is_refused_and_nothing_is_sent(self):
        def refuse_all():
            for number, (call, exception) in enumerate(REFUSED):
                with self.subTest(number), self.assertRaises(exception):
                    call(self.printer)
        self.assertEqual(self.sent_by(refuse_all), b"")

    def test_a_printer_without_the_connection_sends_nothing_whatever_is_open(self):
        def refused_everywhere(printer):
            for method, args, c_name, _ in SAME_BYTES:
                with self.subTest(c_name), self.assertRaises(VdlError) as refused:
                    call(printer, method, args)
                self.assertEqual((refused.exception.code, refused.exception.meaning), (NOT_CONNECTED, "not connected"))
            self.assertIsNone(printer.model)
            self.assertIsNone(printer.dots_per_inch)

        never = Printer(self.fake.port_name)
        self.assertEqual(self.sent_by(lambda: refused_everywhere(never)), b"")  # another Printer holds it
        self.printer.disconnect()
        self.addCleanup(self.printer.connect)
        self.assertEqual(self.lib.ConnectToPrinter(self.fake.port_name.encode()), 0)
        self.addCleanup(self.lib.DisconnectPrinter)
        with self.assertRaises(VdlError) as busy:
            never.connect()
        self.assertEqual(busy.exception.code, BUSY)
        self.assertEqual(self.sent_by(lambda: refused_everywhere(self.printer)), b"")  # opened through C
        self.lib.DisconnectPrinter()
        refused_everywhere(never)  # none open
        self.assertEqual(self.buffered(), b"")


def unconvertible(printer):
    printer.print_device_font("é", 1, 2, font=DeviceFont.a)  # not in EUC-KR, the code page of font a


def label_of(body):
    """A case of the label transaction: body inside a label() block."""
    def run(printer):
        with printer.label():
            body(printer)
    return run


def caught(error, *more):
    def run(printer):
        try:
            error(printer)
        except VdlError:
            pass
        for call in more:
            call(printer)
    return run


def raises(exception):
    def run(printer):
        raise exception
    return run


def text(words):
    return lambda printer: printer.print_device_font(words, 1, 2)


LONG = "L" * 3600  # with its header, more than the buffer keeps: it is sent before the label ends
# Each case: what the program does, what it raises, and what reaches the printer (texts, P print, CB clear:
# a discarded label with content is cleared on the printer too).
LABEL_CASES = [
    (label_of(text("OK")), None, ["OK", "P"]),
    (label_of(lambda p: (text("NO")(p), raises(KeyError("mine"))(p))), KeyError, ["CB"]),
    (label_of(lambda p: (text(LONG)(p), raises(KeyError("mine"))(p))), KeyError, [LONG, "CB"]),
    (label_of(lambda p: (text("NO")(p), unconvertible(p))), "could not be converted", ["CB"]),
    (label_of(caught(unconvertible, text("NO"))), "label discarded", ["CB", "CB"]),
    (label_of(lambda p: p.label().__enter__()), RuntimeError, []),
    (label_of(lambda p: (text("NO")(p), p.print_label())), RuntimeError, ["CB"]),  # a label prints once
    (label_of(caught(lambda p: Printer("127.0.0.1:1").feed(), text("NO"))), "label discarded", ["CB"]),
    (label_of(lambda p: (text("NO")(p), p.print_bitmap("/nonexistent.png", 0, 0))),
     "VdlLoadPicture /nonexistent.png: the image file cannot be opened", ["CB"]),  # the file named
    (label_of(caught(lambda p: p.print_bitmap(__file__, 0, 0), text("NO"))), "label discarded", ["CB"]),  # no picture
    (caught(lambda p: (text("NO")(p), unconvertible(p))), None, ["CB"]),  # outside a block: discarded, not printed
    (caught(lambda p: (text(LONG)(p), text("NO")(p), unconvertible(p))), None, [LONG, "CB"]),
]


def printed(log):
    """What reached the printer, in order: each text, each print (P), each clear-buffer command (CB)."""
    return [m[0] or m[1] for m in re.findall(r'^\S+ (?:[TV] .*? text="(.*?)"|(P|CB) )', log, re.M)]


class ZplTest(unittest.TestCase):
    """ZPL labels: print_zpl sends the bytes convert_zpl gives; the connection's rules hold."""

    LABEL = os.path.join(SOURCE, "tests", "zpl", "shipping_ground.zpl")

    def test_a_zpl_label_prints_as_it_converts(self):
        with open(self.LABEL, "rb") as f:
            zpl = f.read()
        converted, warnings = vdllabel.convert_zpl(zpl)
        self.assertEqual(warnings, [])
        self.assertIn(b"B160,300,1,3,30,160,0,1,'1Z999AA10123456784'\r", converted)
        fake = FakePrinter()
        self.addCleanup(fake.close)
        with Printer(fake.port_name) as printer:
            self.assertEqual(printer.print_zpl(zpl.decode("utf-8")), vdllabel.ZplResult(1, []))
            printer.write(FakePrinter.MARK)
            self.assertEqual(fake.take(), converted)
            with self.assertRaises(vdllabel.ZplError) as busy:
                vdllabel.convert_zpl(zpl)
            self.assertEqual(busy.exception.code, -205)
            with self.assertRaises(vdllabel.ZplError) as strict:
                printer.print_zpl("^XA\n^FO0,0^FDx^FS^HH^XZ", strict=True)
            self.assertEqual((strict.exception.code, strict.exception.warnings),
                             (-203, ["2:14: ^HH is not supported; skipped; refused (strict)"]))
            with self.assertRaises(RuntimeError), printer.label():
                printer.print_zpl(zpl)
        with self.assertRaises(VdlError) as unconnected:
            Printer(fake.port_name).print_zpl(zpl)
        self.assertEqual(unconnected.exception.code, NOT_CONNECTED)


def white_png(path, width, height):
    """A white one-bit grey PNG written here (ImageMagick takes long for large ones): a small file of a large
    picture."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    packer, row = zlib.compressobj(9), bytes(1 + (width + 7) // 8)
    rows = b"".join(packer.compress(row) for _ in range(height)) + packer.flush()
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 1, 0, 0, 0, 0))
                   + chunk(b"IDAT", rows) + chunk(b"IEND", b""))


class PictureMemory(unittest.TestCase):
    """A picture of 32 MiB (65535 x 4096 dots) from a file of a few hundred kilobytes: print_bitmap sends it
    from where the library loaded it, Raster.load holds the library's raster and its one copy while it loads.
    Each peak is measured in a process of its own, beyond what it held before the call."""

    RASTER_MIB = 32
    PEAK = ("import resource, sys, vdllabel\n"
            "vdllabel.load_library()\n"
            "before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss\n"
            "{call}\n"
            "print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) // 1024)\n")

    def peak_mebibytes(self, call: str) -> int:
        with tempfile.TemporaryDirectory() as directory:
            picture = os.path.join(directory, "bomb.png")
            white_png(picture, 65535, self.RASTER_MIB * 1024 * 1024 // 8192)
            script = self.PEAK.format(call=call.format(picture=picture))
            result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
            self.assertEqual(result.returncode, 0, result.stderr)
            return int(result.stdout)

    def test_print_bitmap_holds_the_picture_once_and_raster_load_twice(self):
        fake = FakePrinter()
        self.addCleanup(fake.close)
        printed = f"with vdllabel.Printer({fake.port_name!r}) as p: p.print_bitmap({{picture!r}}, 0, 0)"
        self.assertLessEqual(self.peak_mebibytes(printed), self.RASTER_MIB + 8)
        self.assertLessEqual(self.peak_mebibytes("vdllabel.Raster.load({picture!r})"), 2 * self.RASTER_MIB + 8)


class BindingTest(unittest.TestCase):
    """Against the emulator."""

    def setUp(self):
        self.emulator = Emulator("--status", "0xC0", "--no-preview")
        self.addCleanup(self.emulator.__exit__)

    def test_a_label_goes_out_as_the_library_composes_it(self):
        with Printer(self.emulator.port_name) as printer:
            self.assertEqual((printer.model, printer.dots_per_inch, printer.dots(25.4)), ("VRL-408", 203, 203))
            printer.set_speed(15)
            printer.print_device_font("SHIP TO", 10, 20, bold=True)
            printer.print_device_font("한", 10, 60, font=DeviceFont.a)
            printer.print_vector_font("ラベル", 10, 90, font=VectorFont.J, code_page=CodePage.CP932)
            printer.print_pdf417("P", 10, 100, field7=258, field8=True, rotation=Rotation.R90)
            printer.print_label()
        texts = ["speed=12", 'bold=B text="SHIP TO"', 'text="한"', 'text="ラベル"', "field7=0 field8=1", "P print"]
        log = self.emulator.log(*texts)
        for text in texts:
            self.assertIn(text, log)

    def test_status_is_a_flag_set_in_words(self):
        with Printer(self.emulator.port_name) as printer:
            status = printer.status()
            self.assertEqual(printer.direct_io(b"^cu\r", 1), b"\xc0")
        self.assertEqual(status, Status.COVER_OPEN | Status.PAPER_EMPTY)
        self.assertEqual(str(status), "cover open, paper empty")

    def test_failures_raise_with_the_code_and_its_words(self):
        def refused_block_option():
            with Printer(self.emulator.port_name) as printer:
                printer.print_block(0, 0, 1, 1, option=7)

        cases = [(lambda: Printer("localhost:9100").connect(), -112), (refused_block_option, -124)]
        for call, code in cases:
            with self.subTest(code=code), self.assertRaises(VdlError) as raised:
                call()
            self.assertEqual(raised.exception.code, code)
            self.assertIn(vdllabel.MEANINGS[code], str(raised.exception))

    def test_a_label_is_printed_when_its_block_completes_and_discarded_when_it_fails(self):
        expected = []
        with Printer(self.emulator.port_name) as printer:
            for number, (case, raised, sent) in enumerate(LABEL_CASES):
                with self.subTest(number):
                    if raised is None:
                        case(printer)
                    else:
                        exception = VdlError if isinstance(raised, str) else raised
                        with self.assertRaisesRegex(exception, raised if isinstance(raised, str) else ""):
                            case(printer)
                label_of(text(f"MARK {number}"))(printer)  # the next label holds nothing of the case's
                expected += sent + [f"MARK {number}", "P"]
        self.assertEqual(printed(self.emulator.log(f"MARK {len(LABEL_CASES) - 1}")), expected)

    def test_a_picture_loads_while_other_threads_print(self):
        """print_bitmap loads its file without the connection's lock: a label of another thread goes out while
        a picture is still loading (here, a load that waits for that label)."""
        load, loading, label_printed = vdllabel.printer.loaded_picture, threading.Event(), threading.Event()
        waited = []

        def slow_load(path, library):
            loading.set()
            waited.append(label_printed.wait(10))  # False: the label could not go out meanwhile
            return load(path, library)

        with Printer(self.emulator.port_name) as printer, \
                mock.patch.object(vdllabel.printer, "loaded_picture", slow_load):
            loader = threading.Thread(target=printer.print_bitmap, args=(LOGO_PNG, 5, 6))
            loader.start()
            loading.wait(10)
            with printer.label():
                printer.print_device_font("MEANWHILE", 10, 10)
            label_printed.set()
            loader.join()
        self.assertEqual(waited, [True])
        self.assertIn("LCR compressed bitmap", self.emulator.log("LCR"))

    def test_threads_sharing_a_printer_print_whole_labels_in_their_own_order(self):
        def print_labels(name):
            for number in range(200):
                with printer.label():
                    printer.print_device_font(f"{name} {number}", 10, 10)
                    printer.print_barcode(f"{name}{number}", 10, 40)

        with Printer(self.emulator.port_name) as printer:
            threads = [threading.Thread(target=print_labels, args=(name,)) for name in "AB"]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
        # The last label's print command is logged after its text: wait for the labels, not for the texts.
        pattern = re.compile(r'text="(\w) (\d+)".*\n.*data="(\w+)"\n.* P print')
        deadline = time.monotonic() + 10
        while len(labels := pattern.findall(log := self.emulator.log())) < 400 and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(len(labels), 400)
        self.assertTrue(all(name + number == data for name, number, data in labels))
        for name in "AB":
            self.assertEqual([int(n) for t, n, _ in labels if t == name], list(range(200)))
        for fault in ("\\x00", "UNKNOWN"):  # a NUL byte, or bytes that are no command
            self.assertNotIn(fault, log)

    def test_a_forked_child_prints_only_on_a_connection_of_its_own(self):
        with Printer(self.emulator.port_name) as printer:
            printer.print_device_font("PARENT", 1, 2)  # half-made when the child is forked
            child = os.fork()
            if child == 0:
                status = 1
                try:
                    with self.assertRaises(VdlError) as refused:
                        printer.print_label()
                    with Printer(self.emulator.port_name) as own, own.label():
                        own.print_device_font("CHILD", 1, 2)
                    status = 0 if refused.exception.code == NOT_CONNECTED and not printer.connected else 2
                finally:
                    os._exit(status)
            self.assertEqual(os.waitpid(child, 0)[1], 0)
            printer.print_label()
        log = self.emulator.log('text="PARENT"', 'text="CHILD"')
        self.assertEqual(sorted(re.findall(r'^(\d)\.\d+ (?:T .*text="(\w+)"|(P) )', log, re.M)),
                         [("1", "", "P"), ("1", "PARENT", ""), ("2", "", "P"), ("2", "CHILD", "")])

    def test_one_printer_holds_the_connection_until_it_is_disconnected_or_dropped(self):
        first = Printer(self.emulator.port_name)
        self.assertIsNone(first.model)
        first.connect()
        descriptors = len(os.listdir("/proc/self/fd"))
        first.connect()  # again: the earlier connection is closed, not leaked
        self.assertEqual((len(os.listdir("/proc/self/fd")), first.model), (descriptors, "VRL-408"))
        with self.assertRaises(VdlError) as busy:
            Printer(self.emulator.port_name).connect()
        self.assertEqual(busy.exception.code, BUSY)
        self.assertTrue(first.connected)
        first.itself = first  # dropped, even in a reference cycle: the collector disconnects it
        del first
        gc.collect()
        with Printer(self.emulator.port_name) as second:
            self.assertTrue(second.connected)
        with self.assertRaises(VdlError):
            second.feed()

    def test_bluetooth_reaches_libbluetooth_or_says_it_is_missing(self):
        script = ("import sys, vdllabel; vdllabel.library.LIBBLUETOOTH = sys.argv[1]\n"
                  "try: vdllabel.Printer('00:11:22:33:44:55').connect()\n"
                  "except vdllabel.VdlError as error: print(error)\n"
                  "print('libbluetooth.so.3' in open('/proc/self/maps').read())\n")
        cases = [("libbluetooth.so.3", vdllabel.MEANINGS[-107], True, "Failed to sdp_connect()."),
                 ("libbluetooth-absent.so.3", vdllabel.library.BLUETOOTH_MISSING + " (-107)", False, None)]
        for library, said, mapped, traced in cases:
            with self.subTest(library), tempfile.TemporaryDirectory() as work:
                open(os.path.join(work, "log.tmp"), "w").close()  # the library traces into log.txt
                run = subprocess.run([sys.executable, "-c", script, library], cwd=work, capture_output=True,
                                     text=True, timeout=60)
                self.assertIn(said, run.stdout, run.stderr)
                self.assertTrue(run.stdout.endswith(f"{mapped}\n"), run.stdout)
                trace = os.path.join(work, "log.txt")
                self.assertEqual(os.path.exists(trace), traced is not None)  # the library is not called without it
                if traced:
                    with open(trace, encoding="utf-8", errors="replace") as file:
                        said = file.read()
                    self.assertIn(traced, said)
                    self.assertNotIn("libbluetooth is not linked", said)

    def test_a_printer_still_connected_at_exit_is_disconnected(self):
        script = ("import atexit, ctypes, vdllabel; library = vdllabel.load_library(); "
                  "atexit.register(lambda: print(ctypes.c_ubyte.in_dll(library, 'gConnectedPrinter').value)); "
                  f"printer = vdllabel.Printer({self.emulator.port_name!r}).connect()")
        run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=30)
        self.assertEqual(run.stdout, "0\n", run.stderr)


if __name__ == "__main__":
    unittest.main()
