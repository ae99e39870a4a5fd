"""vdl-label against the fake printer: bytes sent, words printed, exit status."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fakeprinter import FakePrinter  # noqa: E402

CLI = os.environ["VDL_LABEL"]
LOGO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "logo.bmp")


def run(*args, stdin=b""):
    return subprocess.run([CLI, *args], input=stdin, capture_output=True, timeout=60)


class CliTest(unittest.TestCase):
    def test_commands_send_their_bytes(self):
        with tempfile.NamedTemporaryFile() as raw:
            raw.write(b"RAW\x00BYTES\r")
            raw.flush()
            cases = [
                (["feed"], b"~PH\r\n", "", 0),
                (["calibrate"], b"~JC\r\n", "", 0),
                (["reset"], b"~JR\r\n", "", 0),
                (["settings", "--speed", "15", "--density", "3", "--paper", "800,600,mark,0,24"],
                 b"SL600,24,B,0\rSW800\rSS12\rSD3\r", "speed 12; density 3; paper 800 x 600", 0),
                (["send", raw.name], b"RAW\x00BYTES\r", "sent 10 bytes", 0),
                (["send", "-"], b"FROM STDIN", "sent 10 bytes", 0),
                (["test-label"], b"P1,1\r", "test label printed on VRL-408", 0),
                (["image", LOGO, "--x", "5", "--y", "6", "--compress"], b"LCR\x00\x05\x00\x06\x00\x10\x00\x40\x00", "sent", 0),
                (["image", LOGO], b"LD\x00\x00\x00\x00\x10\x00\x40\x00", "sent", 0),
            ]
            for args, sent, said, status in cases:
                with self.subTest(args=args), FakePrinter() as fake:
                    result = run("--port", fake.port_name, *args, stdin=b"FROM STDIN")
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertIn(sent, fake.received)
                    self.assertIn(said, result.stdout.decode())

    def test_status_names_the_errors(self):
        for byte, said, status in [(0x00, "VRL-408: ready", 0), (0xC1, "VRL-408: cover open, paper empty", 3)]:
            with self.subTest(byte=byte), FakePrinter(status=byte) as fake:
                result = run("--port", fake.port_name, "status")
                self.assertEqual(result.returncode, status)
                self.assertIn(said, result.stdout.decode())

    def test_failures_are_said_in_words(self):
        cases = [
            (["--port", "printer.local:9100", "feed"], "the port name is not valid", 1),
            (["--port", "127.0.0.1:0", "status"], "the TCP connection was refused", 1),
            (["send", "/nonexistent/file"], "cannot read /nonexistent/file", 1),
            (["settings", "--speed", "fast"], "--speed wants a number", 2),
            (["settings"], "nothing to set", 2),
            (["--port", "127.0.0.1:1", "image", "x.bmp", "--x", "left"], "--x wants a number", 2),
            (["frobnicate"], "unknown command frobnicate", 2),
        ]
        for args, said, status in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, status)
                self.assertIn(said, result.stderr.decode())

    def test_a_printer_that_is_not_a_label_printer_is_named_as_such(self):
        with FakePrinter(model="VRP-110") as fake:
            result = run("--port", fake.port_name, "feed")
        self.assertEqual(result.returncode, 1)
        self.assertIn("did not answer the model query, or is not a supported label printer", result.stderr.decode())

    def test_help_and_manual(self):
        self.assertIn("commands:", run("--help").stdout.decode())
        self.assertIn("--density N", run("settings", "--help").stdout.decode())
        manual = run("--man").stdout.decode()
        self.assertTrue(manual.startswith(".TH VDL-LABEL 1"))
        self.assertIn("test-label", manual)

    def test_discover_lists_what_is_there(self):
        result = run("discover")
        self.assertEqual(result.returncode, 0)
        self.assertTrue(result.stdout)


if __name__ == "__main__":
    unittest.main()
