"""The Python binding against the fake printer."""

import os
import struct
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "tests"))

from fakeprinter import FakePrinter  # noqa: E402
from vdllabel import CodePage, Printer, Status, VdlError, load_library  # noqa: E402

LIBRARY = load_library()


class BindingTest(unittest.TestCase):
    def setUp(self):
        self.fake = FakePrinter()
        self.addCleanup(self.fake.close)

    def test_a_label_goes_out_as_the_library_composes_it(self):
        with Printer(self.fake.port_name, LIBRARY) as printer:
            self.assertEqual(printer.model, "VRL-408")
            printer.set_speed(15)
            printer.print_device_font("SHIP TO", 10, 20, bold=True)
            printer.print_device_font("한", 10, 60, font=ord("a"))
            printer.print_vector_font("ラベル", 10, 90, font=7, code_page=CodePage.CP932)
            printer.print_barcode("PKG1", 10, 120)
            printer.print_qr_code("HELLO", 10, 20, model=3, ecc_level=2, size=0, rotation=1)
            printer.print_label()
        received = self.fake.received
        self.assertIn(b"SS12\r", received)
        self.assertIn(b"T10,20,3,1,1,0,0,N,B,'SHIP TO'\r", received)
        self.assertIn(b"T10,60,a,1,1,0,0,N,N,'\xc7\xd1'\r", received)
        self.assertIn("V10,90,U,30,30,0,N,N,N,0,L,0,'ラベル'\r".encode("cp932"), received)
        self.assertIn(b"B110,120,1,2,4,100,0,0,'PKG1'\r", received)
        self.assertIn(b"B210,20,Q,1,Q,4,1,'HELLO'\r", received)
        self.assertTrue(received.endswith(b"P1,1\r"))

    def test_status_is_a_flag_set(self):
        self.fake.status = 0xC1
        with Printer(self.fake.port_name, LIBRARY) as printer:
            status = printer.status()
        self.assertEqual(status, Status.COVER_OPEN | Status.PAPER_EMPTY)
        self.assertIn(Status.COVER_OPEN, status)

    def test_failures_raise_with_the_code_and_its_meaning(self):
        cases = [("localhost:9100", -112), ("127.0.0.1:0", -99)]
        for port, code in cases:
            with self.subTest(port=port):
                with self.assertRaises(VdlError) as raised:
                    Printer(port, LIBRARY).connect()
                self.assertEqual(raised.exception.code, code)
                self.assertTrue(raised.exception.meaning)

    def test_a_refused_block_option_raises(self):
        with Printer(self.fake.port_name, LIBRARY) as printer:
            with self.assertRaises(VdlError) as raised:
                printer.print_block(0, 0, 10, 10, option=7)
        self.assertEqual(raised.exception.code, -124)

    def test_direct_io_returns_the_reply(self):
        with Printer(self.fake.port_name, LIBRARY) as printer:
            self.assertEqual(printer.direct_io(b"^cu\r", 1), b"\x00")

    def test_a_bitmap_goes_out_at_once(self):
        # A 24-bit BMP of 8 x 1 pixels: black, then seven white.
        pixels = b"\x00\x00\x00" + b"\xff" * 21
        bmp = (b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
               + struct.pack("<IiiHHIIiiII", 40, 8, 1, 1, 24, 0, len(pixels), 0, 0, 0, 0) + pixels)
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "logo one.bmp")
            with open(path, "wb") as file:
                file.write(bmp)
            with Printer(self.fake.port_name, LIBRARY) as printer:
                printer.print_bitmap(path, 300, 2)
                printer.print_bitmap(path, 0, 0, compress=False)
                with self.assertRaises(VdlError) as raised:
                    printer.print_bitmap(os.path.join(directory, "missing.gif"), 0, 0)
        self.assertIn(b"LCR\x00\x2c\x01\x02\x00\x01\x00\x01\x00\x80\r", self.fake.received)
        self.assertIn(b"LD\x00\x00\x00\x00\x01\x00\x01\x00\x80\r", self.fake.received)
        self.assertEqual(raised.exception.code, -118)


if __name__ == "__main__":
    unittest.main()
