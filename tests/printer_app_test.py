"""vdl-printer-app as users meet it: a real server on a free loopback port,
ipptool and the application's own sub-commands as clients, emulators as the printers."""

import os
import random
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from emulator import Emulator  # noqa: E402

APP = os.environ["VDL_PRINTER_APP"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def eventually(probe, what, limit=60):
    """probe()'s first true value, polled for at most limit seconds."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError(f"gave up waiting for {what}")


IPP_REQUEST = """{{
  OPERATION {operation}
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name tester
  {operation_attributes}
  {attributes}
  {file}
}}
"""


def grey_png(path, dots, dpi):
    """An 8-bit grey PNG at dpi, black where dots (rows of booleans) are true."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    per_metre = round(dpi / 0.0254)
    pixels = b"".join(b"\0" + bytes(0 if dot else 255 for dot in row) for row in dots)
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", len(dots[0]), len(dots), 8, 0, 0, 0, 0)) +
                   chunk(b"pHYs", struct.pack(">IIB", per_metre, per_metre, 1)) +
                   chunk(b"IDAT", zlib.compress(pixels)) + chunk(b"IEND", b""))
    return path


def preview_dots(path):
    """The rows of a preview (a 1-bit grey PNG), true where a dot is black."""
    with open(path, "rb") as file:
        data = file.read()
    chunks, at = {}, 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks[kind] = chunks.get(kind, b"") + data[at + 8:at + 8 + length]
        at += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert (depth, colour) == (1, 0), "previews are 1-bit grey"
    raw, row_bytes = zlib.decompress(chunks[b"IDAT"]), (width + 7) // 8
    rows, previous = [], bytearray(row_bytes)
    for y in range(height):
        kind, row = raw[y * (row_bytes + 1)], bytearray(raw[y * (row_bytes + 1) + 1:(y + 1) * (row_bytes + 1)])
        for i in range(row_bytes):
            left, up, corner = (row[i - 1] if i else 0), previous[i], (previous[i - 1] if i else 0)
            p = left + up - corner
            paeth = min((abs(p - left), left), (abs(p - up), up), (abs(p - corner), corner), key=lambda c: c[0])[1]
            row[i] = (row[i] + [0, left, up, (left + up) // 2, paeth][kind]) & 255
        rows.append([not row[x // 8] & (0x80 >> x % 8) for x in range(width)])
        previous = row
    return rows


class Server:
    """The application's server with a temporary state directory."""

    def __init__(self, state):
        self.state = state
        self.port = free_port()
        self.uri = f"ipp://127.0.0.1:{self.port}"
        self.process = subprocess.Popen(
            [APP, "server", "-o", f"server-port={self.port}", "-o", f"state-directory={state}",
             "-o", f"log-file={state}/server.log", "-o", "log-level=debug"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Asked before its server listens, a sub-command starts a private server
        # of its own: wait for the port first.
        try:
            eventually(lambda: listening(self.port), "the server to listen")
        except AssertionError:
            self.stop()
            raise

    def app(self, command, *args, printer=None):
        """A sub-command; one for a printer names it in its URI (PAPPL takes -d for the default printer)."""
        uri = f"{self.uri}/ipp/print/{printer}" if printer else self.uri
        return subprocess.run([APP, command, "-u", uri, *args], capture_output=True, text=True, timeout=60)

    def ipp(self, printer, operation, document=None, operation_attributes=(), group="job", **attributes):
        """ipptool's verbose answer to one request, as a dict of attribute texts.
        Attributes are given as name=(type, value); document as (path, format)."""
        def lines(pairs):
            return "\n  ".join(f"ATTR {kind} {name} {value}" for name, (kind, value) in pairs)
        if document:
            operation_attributes = [*operation_attributes, ("document-format", ("mimeMediaType", document[1]))]
        request = IPP_REQUEST.format(
            operation=operation, operation_attributes=lines(operation_attributes),
            attributes=f"GROUP {group}-attributes-tag\n  {lines(attributes.items())}" if attributes else "",
            file="FILE $filename" if document else "")
        with tempfile.NamedTemporaryFile("w", suffix=".test") as test:
            test.write(request)
            test.flush()
            options = ["-f", document[0]] if document else []
            out = subprocess.run(["ipptool", "-tv", *options, f"{self.uri}/ipp/print/{printer}", test.name],
                                 capture_output=True, text=True, timeout=60).stdout
        return dict(re.findall(r"^\s+(\S+)(?: \([^)]*\))? = (.*)$", out, re.M))

    def job_state(self, printer, job_id):
        return self.ipp(printer, "Get-Job-Attributes", operation_attributes=[("job-id", ("integer", job_id))])

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class PrinterAppTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Class clean-ups run even when the set-up fails half-way: nothing is left running.
        cls.directory = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.directory.cleanup)
        cls.emulators = {}
        for name, options in [("ready", []), ("cover", ["--status", "cover-open"]),
                              ("empty", ["--status", "paper-empty"]), ("a", []), ("b", []), ("c", []), ("stuck", [])]:
            cls.emulators[name] = Emulator(*options)
            cls.addClassCleanup(cls.emulators[name].__exit__)
        cls.server = Server(cls.directory.name)
        cls.addClassCleanup(cls.server.stop)
        for name, driver, emulator in [("label203", "veldrin_203dpi", "ready"), ("label300", "veldrin_300dpi", "ready"),
                                       ("label600", "veldrin_600dpi", "ready"), ("cover", "veldrin_203dpi", "cover"),
                                       ("empty", "veldrin_203dpi", "empty"), *[
                                           (name, "veldrin_203dpi", name) for name in ("a", "b", "c", "stuck")]]:
            added = cls.server.app("add", "-d", name, "-m", driver, "-v",
                                   f"vdl://{cls.emulators[emulator].port_name}")
            assert added.returncode == 0, added.stderr

    def completed(self, printer, job_id):
        state = eventually(lambda: self.server.job_state(printer, job_id).get("job-state") in (
            "completed", "aborted", "canceled") and self.server.job_state(printer, job_id), f"job {job_id}")
        self.assertEqual(state["job-state"], "completed", state)

    def test_drivers_advertise_what_the_printer_takes(self):
        for printer, dpi in [("label203", 203), ("label300", 300), ("label600", 600)]:
            with self.subTest(printer=printer):
                got = self.server.ipp(printer, "Get-Printer-Attributes",
                                      operation_attributes=[("requested-attributes", ("keyword", "all"))])
                self.assertEqual(got["printer-resolution-supported"], f"{dpi}dpi")
                self.assertEqual(got["printer-darkness-supported"], "21")
                self.assertEqual(got["print-speed-supported"], "2540-30480")
                for name, values in [
                        ("document-format-supported", ["application/vnd.veldrin-commands", "image/pwg-raster",
                                                       "image/urf", "image/png", "image/jpeg"]),
                        ("media-supported", ["oe_1x0.5in_1x0.5in", "na_index-4x6_4x6in", "om_50x25mm_50x25mm",
                                             "roll_max_4x39.6in"]),
                        ("media-type-supported", ["labels", "continuous", "black-mark"]),
                        ("label-mode-supported", ["tear-off", "peel-off", "cutter", "cutter-delayed", "rewind"])]:
                    self.assertLessEqual(set(values), set(got[name].split(",")), name)

    def test_values_the_printer_cannot_take_are_refused(self):
        got = self.server.ipp("label203", "Validate-Job", **{"print-darkness": ("integer", 101)})
        self.assertEqual(got["status-code"].split()[0], "client-error-attributes-or-values-not-supported")

    def test_png_label_carries_its_barcode_and_copies_go_in_the_print_command(self):
        picture = os.path.join(self.directory.name, "code.png")
        subprocess.run(["zint", "-b", "20", "-d", "VDL-APP-1234", "--height=20", "--whitesp=10", "--vwhitesp=4",
                        "--scale=2", "-o", picture], check=True, capture_output=True)
        emulator = self.emulators["ready"]
        labels_before = len(os.listdir(emulator.directory))
        job = self.server.ipp("label203", "Print-Job", (picture, "image/png"), copies=("integer", 2),
                              media=("keyword", "oe_2x1in_2x1in"), **{"print-scaling": ("keyword", "fit")})
        self.completed("label203", job["job-id"])
        self.assertEqual(self.server.job_state("label203", job["job-id"])["job-impressions-completed"], "2")
        log = emulator.log("first=2 second=1")
        self.assertIn("P print: first=2 second=1", log)
        self.assertIn("widthBytes=51 height=203", log)
        previews = sorted(f for f in os.listdir(emulator.directory) if f.startswith("label-"))
        self.assertEqual(len(os.listdir(emulator.directory)), labels_before + 1, "the raster is sent once")
        read = subprocess.run(["zbarimg", "-q", os.path.join(emulator.directory, previews[-1])],
                              capture_output=True, text=True)
        self.assertIn("CODE-128:VDL-APP-1234", read.stdout)

    def test_a_picture_prints_dot_for_dot(self):
        # A 2 x 1 in label is 406 dots wide: each row ends inside a byte.
        rng = random.Random(11)
        dots = [[rng.random() < 0.3 for _ in range(406)] for _ in range(203)]
        picture = grey_png(os.path.join(self.directory.name, "dots.png"), dots, 203)
        emulator = self.emulators["ready"]
        before = set(os.listdir(emulator.directory))
        job = self.server.ipp("label203", "Print-Job", (picture, "image/png"), media=("keyword", "oe_2x1in_2x1in"))
        self.completed("label203", job["job-id"])
        printed = eventually(lambda: [f for f in set(os.listdir(emulator.directory)) - before if f.endswith(".png")],
                             "the preview")
        rows = preview_dots(os.path.join(emulator.directory, printed[0]))
        wrong = [(x, y) for y, row in enumerate(dots) for x, dot in enumerate(row) if rows[y][x] != dot]
        self.assertEqual(len(wrong), 0, f"dots printed wrong (x, y), the first of them: {wrong[:10]}")

    def test_raw_job_and_the_applications_own_commands(self):
        submitted = self.server.app("submit", "-o", "document-format=application/vnd.veldrin-commands",
                                    self.raw_file(b"CB\rP1,1\r"),
                                    printer="label300")
        self.assertEqual(submitted.returncode, 0, submitted.stderr)
        job_id = submitted.stdout.split()[-1]
        self.completed("label300", job_id)
        self.assertIn("CB clear buffer", self.emulators["ready"].log("CB clear buffer"))
        self.assertIn(f"{job_id} completed", self.server.app("jobs", printer="label300").stdout)
        self.assertIn("Running", self.server.app("status", printer="label300").stdout)

    def test_printer_errors_become_state_reasons_and_jobs_wait(self):
        for printer, reason in [("cover", "cover-open"), ("empty", "media-empty")]:
            with self.subTest(printer=printer):
                eventually(lambda: reason in self.server.ipp(printer, "Get-Printer-Attributes").get(
                    "printer-state-reasons", ""), f"{reason} on {printer}")
                job_id = self.server.app("submit", self.raw_file(b"P1,1\r"), printer=printer).stdout.split()[-1]
                eventually(lambda: "printer-stopped" in self.server.job_state(printer, job_id).get(
                    "job-state-reasons", ""), "the job to wait")
                self.assertEqual(self.server.app("cancel", "-j", job_id, printer=printer).returncode, 0)
                eventually(lambda: self.server.job_state(printer, job_id).get("job-state") == "canceled",
                           "the cancel")
                self.assertNotIn("P print", self.emulators[printer].log())

    def test_printers_print_at_once_and_one_that_hangs_holds_up_none(self):
        stuck = self.emulators["stuck"]._process
        stuck.send_signal(signal.SIGSTOP)  # it stops reading, as a jammed printer would
        try:
            self.server.app("submit", self.raw_file(b"P9,1\r"), printer="stuck")
            count = {"a": 11, "b": 12, "c": 13}  # each printer's own label count marks its bytes
            files = {p: self.raw_file(f"P{n},1\r".encode(), p) for p, n in count.items()}
            with ThreadPoolExecutor(16) as pool:
                submitted = list(pool.map(lambda p: self.server.app("submit", files[p], printer=p),
                                          [p for p in count for _ in range(20)]))
            self.assertTrue(all(s.returncode == 0 for s in submitted))
            for printer, first in count.items():
                eventually(lambda: self.server.app("jobs", printer=printer).stdout.count("completed") == 20,
                           f"20 jobs on {printer}", limit=120)
                self.assertEqual(re.findall(r"P print: first=(\d+)", self.emulators[printer].log()), [str(first)] * 20)
        finally:
            stuck.send_signal(signal.SIGCONT)

    def test_bad_documents_fail_alone_and_the_next_job_prints(self):
        for name, content, document_format in [
                ("bad.pwg", b"RaS2" + b"\xff" * 2000, "image/pwg-raster"),
                ("random.vdl", random.Random(7).randbytes(8192), "application/vnd.veldrin-commands")]:
            with self.subTest(document=name):
                path = self.raw_file(content, name)
                job = self.server.ipp("label600", "Print-Job", (path, document_format))
                eventually(lambda: self.server.job_state("label600", job["job-id"]).get("job-state") in (
                    "completed", "aborted"), f"{name} to end")
                after = self.server.ipp("label600", "Print-Job", (self.raw_file(b"CB\rP1,1\r"),
                                                                  "application/vnd.veldrin-commands"))
                self.completed("label600", after["job-id"])

    def raw_file(self, content, tag="raw"):
        path = os.path.join(self.directory.name, f"{tag}.vdl")
        with open(path, "wb") as file:
            file.write(content)
        return path


class RestartTest(unittest.TestCase):
    def test_printers_and_their_options_survive_a_restart(self):
        with tempfile.TemporaryDirectory() as state, Emulator() as emulator:
            server = Server(state)
            self.addCleanup(lambda: server.stop())
            server.app("add", "-d", "kept", "-m", "veldrin_300dpi", "-v", f"vdl://{emulator.port_name}")
            modified = server.ipp("kept", "Set-Printer-Attributes", group="printer", **{
                "printer-darkness-configured": ("integer", 70), "label-mode-configured": ("keyword", "cutter")})
            self.assertTrue(modified["status-code"].startswith("successful-ok "), modified)
            self.assertEqual(server.app("shutdown").returncode, 0)
            server.process.wait(timeout=60)
            server = Server(state)
            got = server.ipp("kept", "Get-Printer-Attributes")
            self.assertEqual(got["printer-darkness-configured"], "70")
            self.assertEqual(got["label-mode-configured"], "cutter")
            self.assertEqual(got["printer-resolution-default"], "300dpi")
            server.stop()


if __name__ == "__main__":
    unittest.main()
