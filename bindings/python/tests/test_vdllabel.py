"""The installed Python binding against the printer emulator and the public header."""

import ctypes
import os
import re
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.append(os.path.join(SOURCE, "tests"))

import vdllabel  # noqa: E402
from emulator import Emulator  # noqa: E402
from vdllabel import CodePage, Printer, Status, VdlError  # noqa: E402

C_TYPES = {"const char *": ctypes.c_char_p, "int": ctypes.c_int, "unsigned char": ctypes.c_ubyte,
           "uint32_t": ctypes.c_uint32, "const void *": ctypes.c_void_p, "void *": ctypes.c_void_p,
           "uint32_t *": ctypes.POINTER(ctypes.c_uint32)}


def header_prototypes() -> dict:
    """Argument types of every function of the public header, by name."""
    with open(os.environ["VDL_HEADER"], encoding="utf-8") as file:
        found = re.findall(r"VDL_API [^;(]*?\b(\w+)\(([^)]*)\)", file.read())
    types = {}
    for name, arguments in found:
        kinds = [re.sub(r"\s*\b\w+$", "", a.strip()).replace("*", " *").replace("  ", " ") for a in arguments.split(",")]
        types[name] = [] if arguments.strip() == "void" else [C_TYPES.get(k, k) for k in kinds]
    return types


class Installed(unittest.TestCase):
    def test_the_package_is_an_installed_copy(self):
        self.assertFalse(vdllabel.__file__.startswith(os.path.join(SOURCE, "bindings")), vdllabel.__file__)
        self.assertTrue(os.path.exists(os.path.join(os.path.dirname(vdllabel.__file__), "py.typed")))
        self.assertEqual(vdllabel.MEANINGS[-124], "invalid block option")

    def test_every_argument_list_matches_the_header(self):
        prototypes = header_prototypes()
        for name, argtypes in vdllabel.SIGNATURES.items():
            with self.subTest(name):
                self.assertEqual(argtypes, prototypes[name])


class BindingTest(unittest.TestCase):
    def setUp(self):
        self.emulator = Emulator("--status", "0xC0", "--no-preview")
        self.addCleanup(self.emulator.__exit__)

    def test_a_label_goes_out_as_the_library_composes_it(self):
        with Printer(self.emulator.port_name) as printer:
            self.assertEqual(printer.model, "VRL-408")
            printer.set_speed(15)
            printer.print_device_font("SHIP TO", 10, 20, bold=True)
            printer.print_device_font("한", 10, 60, font=ord("a"))
            printer.print_vector_font("ラベル", 10, 90, font=4, code_page=CodePage.CP932)
            printer.print_pdf417("P", 10, 100, field7=258, field8=True, rotation=1)
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

    def test_a_second_printer_is_refused_while_the_first_is_connected(self):
        with Printer(self.emulator.port_name) as first, self.assertRaises(RuntimeError):
            Printer(self.emulator.port_name).connect()
        self.assertFalse(first.connected)


if __name__ == "__main__":
    unittest.main()
