"""vdl-printer-app as users meet it: a real server on a free loopback port,
ipptool and the application's own sub-commands as clients, emulators as the printers."""

import getpass
import json
import os
import pathlib
import random
import re
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from emulator import Emulator  # noqa: E402
from relay import Relay  # noqa: E402

APP = os.environ["VDL_PRINTER_APP"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_file(directory, name, content):
    path = os.path.join(directory, name)
    pathlib.Path(path).write_bytes(content)
    return path


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def eventually(probe, what, limit=30):
    """probe()'s first true value, polled for at most limit seconds."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError(f"gave up waiting for {what}")


def rendered_text(url, directory, *flags):
    """The text of a page as headless Chromium renders it (its DOM, tags dropped)."""
    dom = subprocess.run(
        ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-sync",
         "--disable-background-networking", "--disable-component-update", f"--user-data-dir={directory}/chromium",
         *flags, "--dump-dom", url], capture_output=True, text=True, timeout=120).stdout
    return re.sub(r"\s+", " ", re.sub(r"<[^>]*>", " ", dom))


class Browser:
    """Headless Chromium with one page, driven over its DevTools protocol (JSON messages ended by a NUL, on a pipe)."""

    def __init__(self, directory):
        commands, self.commands = os.pipe()
        self.answers, answers = os.pipe()
        self.process = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-sync",
             "--disable-background-networking", "--disable-component-update",
             f"--user-data-dir={tempfile.mkdtemp(dir=directory)}", "--remote-debugging-pipe", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(3, 4),
            preexec_fn=lambda: (os.dup2(commands, 3), os.dup2(answers, 4)))
        os.close(commands)
        os.close(answers)
        self.calls, self.session, self.pending = 0, None, b""
        pages = eventually(lambda: [t for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page"],
                           "Chromium's page", limit=30)
        self.session = self.call("Target.attachToTarget", targetId=pages[0]["targetId"], flatten=True)["sessionId"]

    def call(self, method, **params):
        self.calls += 1
        message = {"id": self.calls, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                chunk = os.read(self.answers, 65536)
                assert chunk, "Chromium closed its DevTools pipe"
                self.pending += chunk
            answer, self.pending = self.pending.split(b"\0", 1)
            answer = json.loads(answer)
            if answer.get("id") == self.calls:
                return answer.get("result", {})

    def evaluate(self, expression):
        """The value of a JavaScript expression in the page (None while a page loads)."""
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True).get("result", {}).get("value")

    def open(self, url):
        self.call("Page.navigate", url=url)
        eventually(lambda: self.evaluate("location.href + document.readyState") == url + "complete", url, limit=30)

    def submit(self, **fields):
        """Fills in the page's form (a field given as None is taken out) and presses its button."""
        self.evaluate("(() => { window.submitted = true; const form = document.forms['form'];" + "".join(
            f"form[{json.dumps(name)}]" + (".remove();" if value is None else f".value = {json.dumps(value)};")
            for name, value in fields.items()) + "form.querySelector('input[type=submit]').click(); })()")
        eventually(lambda: self.evaluate("window.submitted === undefined && document.readyState == 'complete'"),
                   "the answer to the form", limit=30)

    def close(self):
        os.close(self.commands)
        os.close(self.answers)
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


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


def grey_png(path, greys, dpi):
    """An 8-bit grey PNG at dpi of greys (rows of values 0-255), written by ImageMagick."""
    pgm = write_file(os.path.dirname(path), "greys.pgm",
                     b"P5 %d %d 255\n" % (len(greys[0]), len(greys)) + b"".join(bytes(row) for row in greys))
    subprocess.run(["convert", "-units", "PixelsPerInch", "-density", str(dpi), pgm,
                    "-define", "png:color-type=0", "-depth", "8", path], check=True)
    return path


def preview_dots(path):
    """The rows of a preview, true where a dot is black, as ImageMagick reads them."""
    pgm = subprocess.run(["convert", path, "-depth", "8", "pgm:-"], capture_output=True, check=True).stdout
    width, height, pixels = re.match(rb"P5\s+(\d+)\s+(\d+)\s+255\s(.*)", pgm, re.S).groups()
    width = int(width)
    return [[pixels[y * width + x] < 128 for x in range(width)] for y in range(int(height))]


class Server:
    """The application's server with a temporary state directory. Its standard
    error and its log are kept in the state directory, and read back when it
    stops (the directory may be gone when a test's failure is reported)."""

    everyone = []  # every server started, for ServerTestCase's report

    def __init__(self, state, environment=None, options=()):
        self.state = state
        self.environment = environment
        self.kept = {}  # file name -> its text, read when the server stopped
        Server.everyone.append(self)
        # A free port can be taken by another program before the server binds
        # it; the server then exits, and starts again on another port.
        for _ in range(3):
            self.port = free_port()
            self.uri = f"ipp://127.0.0.1:{self.port}"
            os.makedirs(state, mode=0o700, exist_ok=True)
            with open(os.path.join(state, "server.stderr"), "ab") as stderr:
                self.process = subprocess.Popen(
                    [APP, "server", "-o", f"server-port={self.port}", "-o", f"state-directory={state}",
                     "-o", f"log-file={state}/server.log", "-o", "log-level=debug", *options],
                    stdout=subprocess.DEVNULL, stderr=stderr, env=environment)
            # Asked before its server listens, a sub-command starts a private
            # server of its own: wait for the port first.
            try:
                if eventually(self.listening_or_exited, "the server to listen") == "listening":
                    return
            except AssertionError:
                self.stop()
                raise
        raise AssertionError("the server did not start; its standard error:\n" + self.standard_error()[-4000:])

    def listening_or_exited(self):
        if self.process.poll() is not None:
            return "exited"
        return listening(self.port) and "listening"

    def app(self, command, *args, printer=None):
        """A sub-command; one for a printer names it in its URI (PAPPL takes -d for the default printer).
        Those that PAPPL sends through the domain socket (autoadd, printers, shutdown) find it by the state directory."""
        uri = f"{self.uri}/ipp/print/{printer}" if printer else self.uri
        return subprocess.run([APP, command, "-u", uri, "-o", f"state-directory={self.state}", *args],
                              capture_output=True, text=True, timeout=60, env=self.environment)

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

    def job_state(self, printer, job_id, *only):
        """A job's attributes, or only those named: a poll while the job runs asks for no job-state-message,
        which PAPPL 1.3 copies without the job's lock while the job may be changing it."""
        wanted = [("requested-attributes", ("keyword", ",".join(only)))] if only else []
        return self.ipp(printer, "Get-Job-Attributes", operation_attributes=[("job-id", ("integer", job_id)), *wanted])

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.keep_output()

    def keep_output(self):
        """Reads the server's standard error and log while its state directory is there (a server that
        ended by itself, as after a shutdown request, is kept the same way)."""
        self.kept = {name: self.read_kept(name) for name in ("server.stderr", "server.log")}

    def report(self):
        for name, count in (("server.log", 40), ("server.stderr", 200)):
            lines = self.read_kept(name).splitlines()[-count:]
            print(f"\n--- {name} of the server on port {self.port} ({len(lines)} last lines) ---",
                  *lines, sep="\n", file=sys.stderr)

    def read_kept(self, name):
        """The server's standard error or its log, from its state directory or as it was at its stop."""
        if name in self.kept:
            return self.kept[name]
        try:
            return pathlib.Path(self.state, name).read_text(errors="replace")
        except OSError as error:
            return f"(not readable: {error})"

    def standard_error(self):
        return self.read_kept("server.stderr")


class ServerTestCase(unittest.TestCase):
    """A test that, when it fails, shows what the servers of its class wrote to
    their standard error (a sanitizer's report, PAPPL's last words) and the end
    of their logs: those it started, those its class started, running or not.
    A class whose set-up fails shows the servers that set-up started."""

    first_server = 0  # the index in Server.everyone of the first server of the class

    def __init_subclass__(cls, **kwargs):
        super().__init_subclass__(**kwargs)
        own = cls.__dict__.get("setUpClass")
        set_up = own.__func__ if own is not None else lambda klass: super(cls, klass).setUpClass()

        @classmethod
        def set_up_class(klass):
            klass.first_server = len(Server.everyone)
            try:
                set_up(klass)
            except BaseException:
                for server in Server.everyone[klass.first_server:]:
                    server.report()
                raise
        cls.setUpClass = set_up_class

    def run(self, result=None):
        result = result or self.defaultTestResult()
        failures_before = len(result.failures) + len(result.errors)
        super().run(result)
        if len(result.failures) + len(result.errors) > failures_before:
            for server in Server.everyone[type(self).first_server:]:
                server.report()
        return result


class PrinterAppTest(ServerTestCase):
    @classmethod
    def setUpClass(cls):
        # Class clean-ups run even when the set-up fails half-way: nothing is left running.
        cls.directory = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.directory.cleanup)
        cls.emulators = {}
        plain = ("again",)
        for name, options in [("ready", []), ("cover", ["--status", "cover-open"]),
                              ("empty", ["--status", "paper-empty"]), *[(name, []) for name in plain]]:
            cls.emulators[name] = Emulator(*options)
            cls.addClassCleanup(cls.emulators[name].__exit__)
        cls.server = Server(cls.directory.name)
        cls.addClassCleanup(cls.server.stop)
        for name, driver, emulator in [("label203", "veldrin_203dpi", "ready"), ("label300", "veldrin_300dpi", "ready"),
                                       ("label600", "veldrin_600dpi", "ready"), ("cover", "veldrin_203dpi", "cover"),
                                       ("empty", "veldrin_203dpi", "empty"),
                                       *[(name, "veldrin_203dpi", name) for name in plain]]:
            added = cls.server.app("add", "-d", name, "-m", driver, "-v",
                                   f"vdl://{cls.emulators[emulator].port_name}")
            assert added.returncode == 0, added.stderr

    def completed(self, printer, job_id):
        state = eventually(lambda: self.server.job_state(printer, job_id, "job-state").get("job-state") in (
            "completed", "aborted", "canceled") and self.server.job_state(printer, job_id), f"job {job_id}")
        self.assertEqual(state["job-state"], "completed", state)

    def test_drivers_advertise_what_the_printer_takes(self):
        for printer, dpi in [("label203", 203), ("label300", 300), ("label600", 600)]:
            with self.subTest(printer=printer):
                # The model the printer reported when its worker connected, in the background.
                got = eventually(lambda: (lambda g: g.get("printer-make-and-model") == f"VELDRIN VRL-408, {dpi} dpi"
                                          and g)(self.server.ipp(printer, "Get-Printer-Attributes",
                                                 operation_attributes=[("requested-attributes", ("keyword", "all"))])),
                                 "the reported model", 15)
                self.assertEqual(got["printer-resolution-supported"], f"{dpi}dpi")
                self.assertEqual(got["printer-darkness-supported"], "21")
                self.assertEqual(got["print-speed-supported"], "2540-30480")
                for name, values in [
                        ("document-format-supported", ["application/vnd.veldrin-commands", "image/pwg-raster",
                                                       "image/urf", "image/png", "image/jpeg"]),
                        ("media-supported", ["oe_1x0-5in_1x0.5in", "na_index-4x6_4x6in", "om_50x25mm_50x25mm",
                                             "roll_max_4x39.6in"]),
                        ("media-type-supported", ["labels", "continuous", "black-mark"]),
                        ("label-mode-supported", ["tear-off", "peel-off", "cutter", "cutter-delayed", "rewind"])]:
                    self.assertLessEqual(set(values), set(got[name].split(",")), name)

    def test_values_the_printer_cannot_take_are_refused(self):
        for operation, group, name, value in [
                ("Validate-Job", "job", "print-darkness", 101), ("Validate-Job", "job", "print-speed", 13 * 2540),
                ("Set-Printer-Attributes", "printer", "label-tear-offset-configured", 1300)]:
            with self.subTest(name=name):
                got = self.server.ipp("label203", operation, group=group, **{name: ("integer", value)})
                self.assertEqual(got["status-code"].split()[0], "client-error-attributes-or-values-not-supported")

    def test_cups_ipp_test_suites_pass(self):
        # CUPS' own suites that apply to a label printer (docs/printer-app.md, "IPP test suites"); ipp-2.0
        # includes ipp-1.1. Each row a printer and an emulator of its own, so that no other test meets their jobs;
        # a job waits on the printer out of labels, so that there is a current job to cancel.
        label = self.barcode_picture("IPP-SUITES", 2)
        for printer, status, suites in [
                ("suites", [], ["ipp-2.0", "identify-printer", "identify-printer-display"]),
                ("created", [], ["create-job", "validate-job", "get-jobs", "get-job-template-attributes"]),
                ("stuck", ["--status", "paper-empty"], ["print-job", "cancel-current-job"])]:
            with self.subTest(printer=printer, suites=suites):
                emulator = Emulator(*status)
                self.addCleanup(emulator.__exit__)
                self.server.app("add", "-d", printer, "-m", "veldrin_203dpi", "-v", f"vdl://{emulator.port_name}")
                # ipp-1.1 wants printer-up-time > 0, and PAPPL counts whole seconds.
                eventually(lambda: int(self.server.ipp(printer, "Get-Printer-Attributes").get("printer-up-time", 0)),
                           "a printer a second old")
                # The user named in the URI: the server takes the kernel's word for who asks, as a server with
                # authenticated printing takes the authenticated user, so ipp-1.1 skips its check that my-jobs
                # answers for whichever requesting-user-name is claimed (it failed while this user's job printed).
                uri = self.server.uri.replace("ipp://", f"ipp://{getpass.getuser()}@")
                run = subprocess.run(["ipptool", "-t", "-T", "10", "-f", label,
                                      f"{uri}/ipp/print/{printer}", *[f"{suite}.test" for suite in suites]],
                                     capture_output=True, text=True, timeout=60)
                self.assertEqual(run.returncode, 0, run.stdout[-3000:])

    def barcode_picture(self, text, scale):
        picture = os.path.join(self.directory.name, f"{text}.png")
        subprocess.run(["zint", "-b", "20", "-d", text, "--height=20", "--whitesp=10", "--vwhitesp=4",
                        f"--scale={scale}", "-o", picture], check=True, capture_output=True)
        return picture

    def pwg_document(self, texts, media):
        """A PWG raster document, one page a barcode, as libcups writes it."""
        pages = []
        for text in texts:
            pages.append(self.barcode_picture(text, 1)[:-4] + ".pgm")
            subprocess.run(["convert", pages[-1][:-4] + ".png", "-colorspace", "gray", "-depth", "8",
                            "pgm:" + pages[-1]], check=True)
        document = os.path.join(self.directory.name, "-".join(texts) + ".pwg")
        subprocess.run([os.environ["VDL_PWG_PAGE"], document, media, "203", *pages], check=True)
        return document

    @staticmethod
    def previews(emulator):
        return sorted(f for f in os.listdir(emulator.directory) if f.startswith("label-"))

    def read_new_labels(self, emulator, before, count):
        eventually(lambda: len(self.previews(emulator)) >= before + count, "the previews")
        previews = self.previews(emulator)[before:]
        return [subprocess.run(["zbarimg", "-q", os.path.join(emulator.directory, preview)],
                               capture_output=True, text=True).stdout.strip() for preview in previews]

    def test_pictures_carry_their_barcodes_and_copies_go_in_the_print_command(self):
        emulator = self.emulators["ready"]
        for name, document, attributes, codes in [
                ("png", (self.barcode_picture("VDL-APP-1234", 2), "image/png"),
                 {"print-scaling": ("keyword", "fit")}, ["VDL-APP-1234"]),
                ("two-page pwg", (self.pwg_document(["VDL-PWG-1", "VDL-PWG-2"], "oe_2x1in_2x1in"),
                                  "image/pwg-raster"), {}, ["VDL-PWG-1", "VDL-PWG-2"])]:
            with self.subTest(document=name):
                before = len(self.previews(emulator))
                job = self.server.ipp("label203", "Print-Job", document, copies=("integer", 2),
                                      media=("keyword", "oe_2x1in_2x1in"), **attributes)
                self.completed("label203", job["job-id"])
                # Every label counts, though PAPPL saw each page once.
                self.assertEqual(self.server.job_state("label203", job["job-id"])["job-impressions-completed"],
                                 str(2 * len(codes)))
                log = emulator.log("first=2 second=1")
                self.assertIn("P print: first=2 second=1", log)
                self.assertIn("widthBytes=51 height=203", log)
                # Each page is one label, its raster sent once.
                self.assertEqual(self.read_new_labels(emulator, before, len(codes)), [f"CODE-128:{c}" for c in codes])

    def test_web_pages_show_printer_and_state_in_a_browser(self):
        eventually(lambda: "VRL-408" in self.server.ipp("label203", "Get-Printer-Attributes").get(
            "printer-make-and-model", ""), "the printer's model", 15)
        for page, texts in [("/", ["Printers", "label203", "label600", "Idle"]),
                            ("/label203", ["label203", "Idle", "VELDRIN VRL-408, 203 dpi", "Printing Defaults"])]:
            with self.subTest(page=page):
                text = rendered_text(f"http://127.0.0.1:{self.server.port}{page}", self.directory.name)
                for wanted in texts:
                    self.assertIn(wanted, text)

    def test_a_picture_prints_dot_for_dot(self):
        # A 2 x 1 in label is 406 dots wide: each row ends inside a byte.
        # Greys up to the middle print black, as PAPPL's threshold has it: sent as text, since half its
        # pixels are mid-tones, which print-content-optimize=auto would diffuse as a photo's.
        rng = random.Random(11)
        greys = [[rng.choice((0, 127, 128, 255)) for _ in range(406)] for _ in range(203)]
        dots = [[grey <= 127 for grey in row] for row in greys]
        picture = grey_png(os.path.join(self.directory.name, "dots.png"), greys, 203)
        emulator = self.emulators["ready"]
        before = set(os.listdir(emulator.directory))
        job = self.server.ipp("label203", "Print-Job", (picture, "image/png"), media=("keyword", "oe_2x1in_2x1in"),
                              **{"print-content-optimize": ("keyword", "text")})
        self.completed("label203", job["job-id"])
        printed = eventually(lambda: [f for f in set(os.listdir(emulator.directory)) - before if f.endswith(".png")],
                             "the preview")
        rows = preview_dots(os.path.join(emulator.directory, printed[0]))
        wrong = [(x, y) for y, row in enumerate(dots) for x, dot in enumerate(row) if rows[y][x] != dot]
        self.assertEqual(len(wrong), 0, f"dots printed wrong (x, y), the first of them: {wrong[:10]}")

    def test_photos_are_diffused_and_barcodes_sent_as_photos_still_scan(self):
        # A JPEG photo (scaled from 150 ppi) prints as many black dots as it is dark, where a threshold
        # would print it nearly all black; a barcode sent as a photo keeps its bars; a cut JPEG is refused.
        emulator, photo = self.emulators["ready"], os.path.join(self.directory.name, "photo.jpg")
        subprocess.run(["convert", "-size", "300x150", "gradient:gray20-gray50", "-units", "PixelsPerInch",
                        "-density", "150", "-quality", "90", photo], check=True, timeout=60)
        darkness = 1 - float(subprocess.run(["convert", photo, "-format", "%[fx:mean]", "info:"], check=True,
                                            capture_output=True, text=True, timeout=60).stdout)
        before, barcode = len(self.previews(emulator)), self.barcode_picture("VDL-PHOTO-7", 2)
        as_photo = {"print-content-optimize": ("keyword", "photo"), "print-scaling": ("keyword", "fit")}
        for document, attributes in [((photo, "image/jpeg"), {}), ((barcode, "image/png"), as_photo)]:
            self.completed("label203", self.server.ipp("label203", "Print-Job", document,
                                                       media=("keyword", "oe_2x1in_2x1in"), **attributes)["job-id"])
        self.assertEqual(self.read_new_labels(emulator, before, 2)[1], "CODE-128:VDL-PHOTO-7")
        label = os.path.join(emulator.directory, self.previews(emulator)[before])
        dots = [row[:406] for row in preview_dots(label)[:203]]
        self.assertAlmostEqual(sum(map(sum, dots)) / (406 * 203), darkness, delta=0.03)
        cut = self.raw_file(pathlib.Path(photo).read_bytes()[:600], "cut.jpg")  # of some 800 bytes
        job = self.server.ipp("label203", "Print-Job", (cut, "image/jpeg"))["job-id"]
        state = eventually(lambda: (lambda s: s.get("job-state") in ("completed", "aborted") and s)(
            self.server.job_state("label203", job, "job-state", "job-state-reasons")), "the cut JPEG to end")
        self.assertIn("document-format-error", state["job-state-reasons"])

    def test_settings_go_out_again_only_when_the_printer_may_have_others(self):
        picture = (self.barcode_picture("AGAIN", 2), "image/png")
        raw = (self.raw_file(b"CB\r"), "application/vnd.veldrin-commands")
        for document, copies in [(picture, 1), (picture, 1), (raw, 1), (picture, 1), (picture, 3)]:
            self.completed("again", self.server.ipp("again", "Print-Job", document, copies=("integer", copies))["job-id"])
        log = self.emulators["again"].log()
        self.assertEqual(log.count("P print"), 4)
        # The first job's, none for the same again, again after the printer's
        # own commands, and none for other copies.
        self.assertEqual(log.count("SD density"), 2)

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
        # A waiting job prints once when the printer comes back clean, or never when cancelled.
        for printer, reason, printer_comes_back in [("cover", "cover-open", True), ("empty", "media-empty", False)]:
            with self.subTest(printer=printer):
                eventually(lambda: reason in self.server.ipp(printer, "Get-Printer-Attributes").get(
                    "printer-state-reasons", ""), f"{reason} on {printer}")
                job_id = self.server.app("submit", self.raw_file(b"P1,1\r"), printer=printer).stdout.split()[-1]
                eventually(lambda: "printer-stopped" in self.server.job_state(printer, job_id, "job-state-reasons").get(
                    "job-state-reasons", ""), "the job to wait")
                if printer_comes_back:
                    in_error = self.emulators[printer]
                    in_error.__exit__()
                    clean = self.emulators[printer] = Emulator(port=int(in_error.port_name.split(":")[1]))
                    self.addCleanup(clean.__exit__)
                    self.completed(printer, job_id)
                    self.assertEqual(clean.log("P print").count("P print"), 1)
                else:
                    self.assertEqual(self.server.app("cancel", "-j", job_id, printer=printer).returncode, 0)
                    eventually(lambda: self.server.job_state(printer, job_id, "job-state").get("job-state") == "canceled",
                               "the cancel")
                    self.assertNotIn("P print", self.emulators[printer].log())

    def test_bad_documents_fail_alone_and_the_next_job_prints(self):
        for name, content, document_format in [
                ("bad.pwg", b"RaS2" + b"\xff" * 2000, "image/pwg-raster"),
                ("truncated.png", pathlib.Path(self.barcode_picture("CUT-SHORT", 2)).read_bytes()[:300], "image/png"),
                ("random.vdl", random.Random(7).randbytes(8192), "application/vnd.veldrin-commands")]:
            with self.subTest(document=name):
                path = self.raw_file(content, name)
                job = self.server.ipp("label600", "Print-Job", (path, document_format))
                eventually(lambda: self.server.job_state("label600", job["job-id"], "job-state").get("job-state") in (
                    "completed", "aborted"), f"{name} to end")
                after = self.server.ipp("label600", "Print-Job", (self.raw_file(b"CB\rP1,1\r"),
                                                                  "application/vnd.veldrin-commands"))
                self.completed("label600", after["job-id"])

    def test_documents_of_no_known_format_end_unprinted_and_commands_are_known_by_their_syntax(self):
        # Sent as application/octet-stream, or with no format, a document is known by its first bytes.
        emulator = self.emulators["ready"]
        before = len(emulator.log())
        gif = b"GIF89a\x01\x00\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;"
        for name, content in [("random.bin", random.Random(5).randbytes(75000)), ("picture.gif", gif),
                              ("note.txt", b"Please print the labels for order 4711.\nThanks\n")]:
            path = self.raw_file(content, name)
            unnamed = self.server.app("submit", path, printer="label203")
            for job_id in [self.server.ipp("label203", "Print-Job", (path, "application/octet-stream"))["job-id"],
                           unnamed.stdout.split()[-1]]:
                with self.subTest(document=name, job=job_id):
                    state = eventually(lambda: self.server.job_state("label203", job_id, "job-state").get("job-state") in (
                        "completed", "aborted") and self.server.job_state("label203", job_id), f"{name} to end")
                    self.assertEqual(state["job-state"], "aborted")
                    self.assertIn("document-format-error", state["job-state-reasons"])
                    self.assertIn("not PWG or Apple raster, PNG, JPEG, ZPL or the printer's commands",
                                  state["job-state-message"])
        commands = self.raw_file(b"SS4\r\nP7,1\r", "commands")
        job = self.server.ipp("label203", "Print-Job", (commands, "application/octet-stream"))
        self.completed("label203", job["job-id"])
        printed = emulator.log("first=7")[before:]
        self.assertEqual(re.findall(r"P print: first=(\d+)", printed), ["7"])
        self.assertNotRegex(printed, "UNKNOWN|MALFORMED|TRUNCATED")

    def raw_file(self, content, tag="raw"):
        return write_file(self.directory.name, f"{tag}.vdl", content)


class RestartTest(ServerTestCase):
    def test_printers_and_their_options_survive_a_restart(self):
        # Entered as clean-ups, so that the servers stop (and keep their output) before the directory goes.
        state, emulator = self.enterContext(tempfile.TemporaryDirectory()), self.enterContext(Emulator())
        server = Server(state)
        self.addCleanup(lambda: server.stop())
        server.app("add", "-d", "kept", "-m", "veldrin_300dpi", "-v", f"vdl://{emulator.port_name}")
        modified = server.ipp("kept", "Set-Printer-Attributes", group="printer", **{
            "printer-darkness-configured": ("integer", 70), "label-mode-configured": ("keyword", "cutter")})
        self.assertTrue(modified["status-code"].startswith("successful-ok "), modified)
        stopped = server.app("shutdown")
        self.assertEqual(stopped.returncode, 0, stopped.stderr)
        server.process.wait(timeout=60)
        server.keep_output()
        again = server.app("shutdown")
        self.assertEqual(again.returncode, 1)
        self.assertIn("vdl-printer-app: Server is not running.", again.stderr)
        server = Server(state)
        got = server.ipp("kept", "Get-Printer-Attributes")
        self.assertEqual(got["printer-darkness-configured"], "70")
        self.assertEqual(got["label-mode-configured"], "cutter")
        self.assertEqual(got["printer-resolution-default"], "300dpi")
        server.stop()


class ZplTest(ServerTestCase):
    def test_a_zpl_label_reaches_the_printer_as_the_same_bytes_every_way(self):
        # ZPL over IPP in its own format and as application/octet-stream (what CUPS' raw queues send), to the
        # raw socket (-o raw-socket=on: the first printer's is port 9100), and from vdl-label straight to
        # the printer: the printer receives the label's translation, byte for byte, each time.
        label = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zpl", "shipping_ground.zpl")
        cli = os.path.join(os.path.dirname(APP), "..", "..", "vdl-label")
        translation = subprocess.run([cli, "convert", label], capture_output=True, check=True, timeout=60).stdout
        state, captured = self.enterContext(tempfile.TemporaryDirectory()), self.enterContext(tempfile.TemporaryDirectory())
        emulator = self.enterContext(Emulator("--capture", captured, "--no-preview"))
        self.assertFalse(listening(9100), "port 9100, the raw socket's, is taken by another program")
        server = Server(state, options=("-o", "raw-socket=on"))
        self.addCleanup(lambda: server.stop())
        server.app("add", "-d", "zpl", "-m", "veldrin_203dpi", "-v", f"vdl://{emulator.port_name}")
        for number, document_format in enumerate(["application/vnd.zebra-zpl", "application/octet-stream"], 1):
            job = server.ipp("zpl", "Print-Job", (label, document_format))
            self.assertEqual(job.get("job-id"), str(number), job)
            eventually(lambda: server.job_state("zpl", number, "job-state").get("job-state") == "completed",
                       f"{document_format} printed")
        # A raw client that pauses mid-label for longer than the queue's once-a-second look at its jobs, and an
        # administrator's Release-Held-New-Jobs meanwhile: the job waits for the rest and prints whole, once.
        # Another printer's jobs (each printer numbers its own), waiting for a printer out of reach, have their
        # documents in: this job is not taken for theirs.
        server.app("add", "-d", "unreachable", "-m", "veldrin_203dpi", "-v", "vdl://127.0.0.1:9")
        for _ in range(3):
            server.ipp("unreachable", "Print-Job", (label, "application/vnd.zebra-zpl"))
        with socket.create_connection(("127.0.0.1", 9100), timeout=10) as raw, open(label, "rb") as f:
            whole = f.read()
            raw.sendall(whole[:len(whole) // 2])
            time.sleep(1.5)
            for request in ("Hold-New-Jobs", "Release-Held-New-Jobs"):
                server.ipp("zpl", request)
            time.sleep(1)
            raw.sendall(whole[len(whole) // 2:])
        eventually(lambda: server.job_state("zpl", 3, "job-state").get("job-state") == "completed", "the raw job")
        # A raw label that comes while an administrator holds new jobs waits for the release.
        self.assertIn("successful-ok", server.ipp("zpl", "Hold-New-Jobs").get("status-code"))
        with socket.create_connection(("127.0.0.1", 9100), timeout=10) as raw:
            raw.sendall(whole)
        time.sleep(1.5)  # a job let through would have printed by now
        self.assertEqual(server.job_state("zpl", 4, "job-state").get("job-state"), "pending-held")
        server.ipp("zpl", "Release-Held-New-Jobs")
        eventually(lambda: server.job_state("zpl", 4, "job-state").get("job-state") == "completed", "the held raw job")
        # A raw label its client holds (Hold-Job) while it comes waits for the client's Release-Job.
        with socket.create_connection(("127.0.0.1", 9100), timeout=10) as raw:
            raw.sendall(whole[:len(whole) // 2])
            eventually(lambda: server.job_state("zpl", 5, "job-state").get("job-state") == "pending-held", "job 5")
            server.ipp("zpl", "Hold-Job", operation_attributes=[("job-id", ("integer", 5))])
            raw.sendall(whole[len(whole) // 2:])
        time.sleep(1.5)  # a job let through would have printed by now
        self.assertEqual(server.job_state("zpl", 5, "job-state").get("job-state"), "pending-held")
        server.ipp("zpl", "Release-Job", operation_attributes=[("job-id", ("integer", 5))])
        eventually(lambda: server.job_state("zpl", 5, "job-state").get("job-state") == "completed", "the released job")
        # Bytes that are neither ZPL nor the printer's commands reach no printer, from the socket or over IPP
        # as ZPL that cannot be translated; the job says why, and where.
        garbage = os.path.join(state, "garbage.zpl")
        pathlib.Path(garbage).write_bytes(b"^XA^FO0,0^FDcut short")
        with socket.create_connection(("127.0.0.1", 9100), timeout=10) as raw:
            raw.sendall(bytes(random.Random(5).randrange(256) for _ in range(4096)))
        server.ipp("zpl", "Print-Job", (garbage, "application/vnd.zebra-zpl"))
        for job, why in [(6, "not PWG or Apple raster, PNG, JPEG, ZPL or the printer's commands"),
                         (7, "1:1: the label begun here has no ^XZ")]:
            ended = eventually(lambda: (lambda s: s.get("job-state") == "aborted" and s)(server.job_state("zpl", job)),
                               f"job {job} refused")
            self.assertIn("document-format-error", ended["job-state-reasons"])
            self.assertIn(why, ended["job-state-message"])
        # A raw document cut short by a stop (SIGTERM, then kill -9 once its job is saved) does not print after
        # the restart as if the part that came were all of it: its job is aborted.
        saved = os.path.join(state, "vdl-printer-app.state")
        for job, stop in ((8, "terminate"), (9, "kill")):
            eventually(lambda: listening(9100), "the raw socket")
            self.enterContext(socket.create_connection(("127.0.0.1", 9100), timeout=10)).sendall(b"CB\rP7,1\r")
            eventually(lambda: re.search(rf'^Job .*\bid="{job}"', pathlib.Path(saved).read_text(), re.M), "the job saved")
            getattr(server.process, stop)()
            server.process.wait(timeout=30)
            server = Server(state, options=("-o", "raw-socket=on"))
            time.sleep(1.5)  # a job let through would have printed by now
            self.assertEqual(server.job_state("zpl", job, "job-state").get("job-state"), "aborted")
        sent = subprocess.run([cli, "--port", emulator.port_name, "print", label], capture_output=True, timeout=60)
        self.assertEqual((sent.returncode, sent.stdout), (0, b"printed 1 label\n"), sent.stderr)
        received = b"".join(pathlib.Path(f).read_bytes() for f in sorted(pathlib.Path(captured).glob("*.prn")))
        self.assertEqual(received.count(translation), 6)
        self.assertNotIn(b"P7,1", received)


class AutoAddTest(ServerTestCase):
    def test_a_usb_printer_the_library_accepts_is_added_at_its_resolution(self):
        for model, dpi in [("VRL-408", 203), ("VRX-430", 600)]:
            with self.subTest(model):
                self.added_and_printed(model, dpi)

    def added_and_printed(self, model, dpi):
        state, emulator = self.enterContext(tempfile.TemporaryDirectory()), self.enterContext(Emulator("--model", model))
        # The server and its sub-commands see one USB printer node, whose printer is the emulator.
        environment = dict(os.environ, LD_PRELOAD=os.environ["VDL_FAKE_USB_NODE"],
                           VDL_FAKE_USB_PORT=emulator.port_name.split(":")[1],
                           VDL_FAKE_USB_ID=f"MFG:VELDRIN;MDL:{model};CMD:VDL;")
        server = Server(state, environment)
        self.addCleanup(server.stop)
        self.assertIn("vdl://usb", server.app("devices").stdout)
        self.assertEqual(server.app("autoadd").returncode, 0)
        printers = server.app("printers")
        name = f"VELDRIN {model} (USB)"
        self.assertIn(name, printers.stdout, printers.stderr)
        submitted = server.app("submit", "-d", name, "-o", "document-format=application/vnd.veldrin-commands",
                               write_file(state, "raw.vdl", b"CB\rP1,1\r"))
        self.assertEqual(submitted.returncode, 0, submitted.stderr)
        eventually(lambda: "completed" in server.app("jobs", "-d", name).stdout, "the job")
        self.assertIn("P print", emulator.log("P print"))
        printer = name.replace(" ", "_")  # PAPPL's resource path: spaces become underscores
        got = server.ipp(printer, "Get-Printer-Attributes",
                         operation_attributes=[("requested-attributes", ("keyword", "printer-resolution-default"))])
        self.assertEqual(got.get("printer-resolution-default"), f"{dpi}dpi", got)

    def test_the_add_printer_page_lists_a_usb_printer_in_use_without_opening_it(self):
        """While a job prints on the USB printer, the add-printer page lists that printer from what its
        worker knows: no second connection to the device, so no model query lands in the job's stream."""
        state, emulator = self.enterContext(tempfile.TemporaryDirectory()), self.enterContext(Emulator())
        relay = Relay(int(emulator.port_name.split(":")[1]), "slow", rate=2000)  # 5 s a label
        self.addCleanup(relay.close)
        environment = dict(os.environ, LD_PRELOAD=os.environ["VDL_FAKE_USB_NODE"],
                           VDL_FAKE_USB_PORT=relay.port_name.split(":")[1],
                           VDL_FAKE_USB_ID="MFG:VELDRIN;MDL:VRL-408;CMD:VDL;")
        server = Server(state, environment)
        self.addCleanup(server.stop)
        self.assertEqual(server.app("add", "-d", "usb", "-m", "veldrin_203dpi", "-v", "vdl://usb").returncode, 0)
        rng = random.Random(5)  # a picture that compresses badly: 10 KB a label
        noise = grey_png(os.path.join(state, "noise.png"), [[rng.choice((0, 255)) for _ in range(406)]
                                                            for _ in range(203)], 203)
        job_id = server.ipp("usb", "Print-Job", (noise, "image/png"), media=("keyword", "oe_2x1in_2x1in"))["job-id"]
        eventually(lambda: relay.relayed > 2000, "the label to be under way")
        page = urllib.request.urlopen(f"http://127.0.0.1:{server.port}/addprinter", timeout=30).read().decode()
        self.assertIn("VELDRIN VRL-408 (USB)", page)
        self.assertEqual(len(relay.connections), 1)  # the worker's own
        relay.mode = "pass"
        eventually(lambda: server.job_state("usb", job_id, "job-state").get("job-state") == "completed", "the job")
        self.assertEqual(len(relay.connections), 1)


NOBODY = {"user": "nobody", "group": "nogroup", "extra_groups": []}  # a second local user
SYSTEM_PYTHON = "/usr/bin/python3"  # one that user may run
ROOT = {}  # the servers' own user in these tests

# A request as another user sees it: prints the HTTP status and the IPP status (-1 when refused).
SEND_REQUEST = """
import base64, sys, urllib.error, urllib.request
url, credentials = sys.argv[1:]
headers = {"Content-Type": "application/ipp"}
if credentials:
    headers["Authorization"] = "Basic " + base64.b64encode(credentials.encode()).decode()
try:
    with urllib.request.urlopen(urllib.request.Request(url, sys.stdin.buffer.read() or None, headers),
                                timeout=30) as answer:
        print(answer.status, int.from_bytes(answer.read()[2:4], "big"))
except urllib.error.HTTPError as error:
    print(error.code, -1)
"""


def send(url, body=b"", credentials="", **user):
    """(HTTP status, IPP status) of an IPP request, or of a GET without one, sent as user."""
    out = subprocess.run([SYSTEM_PYTHON, "-c", SEND_REQUEST, url, credentials], input=body, capture_output=True,
                         timeout=60, **user)
    return tuple(int(word) for word in out.stdout.split()) or out.stderr


def ipp_request(operation, target, *attributes, document=b""):
    """An IPP/2.0 request: target is (its attribute's name, URI), attributes are (tag, name, value) or a group tag.
    Tags: 0x04 printer attributes, 0x21 integer, 0x42 name, 0x44 keyword, 0x45 uri, 0x49 mimeMediaType."""
    body = struct.pack(">BBHIB", 2, 0, operation, 1, 1)
    for attribute in [(0x47, "attributes-charset", "utf-8"), (0x48, "attributes-natural-language", "en"),
                      (0x45, *target), *attributes]:
        if isinstance(attribute, int):
            body += bytes([attribute])
            continue
        tag, name, value = attribute
        value = value.to_bytes(4, "big") if isinstance(value, int) else value.encode()
        body += struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(value)) + value
    return body + b"\x03" + document


def printers_by_socket(state):
    """The printers a sub-command finds by the state directory alone (through the server's domain socket)."""
    return subprocess.run([APP, "printers", "-o", f"state-directory={state}"], capture_output=True, text=True,
                          timeout=60).stdout.split()


def ipptool_as(user, uri, operation, *attributes, document=None, group=""):
    """ipptool's verbose answer to one request run as user (a dict of user= etc. for subprocess), as its
    (name, value) lines in order; attributes are ipptool ATTR lines (group: lines of another group), document a
    (path, format)."""
    with tempfile.TemporaryDirectory() as directory:
        os.chmod(directory, 0o755)
        test = write_file(directory, "request.test", IPP_REQUEST.format(
            operation=operation, operation_attributes="\n  ".join(
                [*attributes, *([f"ATTR mimeMediaType document-format {document[1]}"] if document else [])]),
            attributes=group, file="FILE $filename" if document else "").encode())
        options = ["-f", document[0]] if document else []
        out = subprocess.run(["ipptool", "-tv", *options, uri, test], capture_output=True, text=True, timeout=60,
                             **user).stdout
    return re.findall(r"^\s+(\S+)(?: \([^)]*\))? = (.*)$", out, re.M)


def jobs_listed(lines):
    """Get-Jobs' answer as {job-id: {name: value}}: a job's attributes end where a name comes again."""
    groups = [{}]
    for name, value in lines:
        if name in groups[-1]:
            groups.append({})
        groups[-1][name] = value
    return {int(group["job-id"]): group for group in groups if "job-id" in group}


def request_over_socket(path, body, host="localhost:0"):
    """(HTTP status, IPP status, answer) of an IPP request sent through a domain socket, as libcups sends it."""
    with socket.socket(socket.AF_UNIX) as connection:
        connection.connect(path)
        connection.sendall(b"POST /ipp/print HTTP/1.1\r\nHost: %s\r\nContent-Type: application/ipp\r\n"
                           b"Content-Length: %d\r\nConnection: close\r\n\r\n" % (host.encode(), len(body)) + body)
        answer = b""
        while chunk := connection.recv(65536):
            answer += chunk
    head, _, content = answer.partition(b"\r\n\r\n")
    return int(head.split()[1]), int.from_bytes(content[2:4], "big"), content


def raw_http(port, request):
    """The status line of the answer to a request sent as it is (PAPPL may keep the connection open after it)."""
    with socket.create_connection(("127.0.0.1", port), timeout=30) as connection:
        connection.sendall(request)
        answer = b""
        while b"\r\n" not in answer and (chunk := connection.recv(65536)):
            answer += chunk
    return answer.split(b"\r\n")[0].decode()


@unittest.skipUnless(os.geteuid() == 0, "acting as a second local user (nobody) needs root")
class AdministrationTest(ServerTestCase):
    """Only a server's own user and root change it, or users an authentication service admits; all may print."""

    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.directory.cleanup)
        cls.emulator = Emulator()
        cls.addClassCleanup(cls.emulator.__exit__)
        cls.states = [os.path.join(cls.directory.name, name) for name in ("plain", "pam")]
        cls.servers = []
        printer = f"vdl://{cls.emulator.port_name}"
        for state, options, names in [(cls.states[0], (), {"kept": printer, "spare": "vdl://127.0.0.1:9"}),
                                      (cls.states[1], ("-o", "auth-service=other"), {"second": printer})]:
            cls.servers.append(Server(state, options=options))
            cls.addClassCleanup(cls.servers[-1].stop)
            for name, device in names.items():
                added = subprocess.run([APP, "add", "-o", f"state-directory={state}", "-d", name, "-m",
                                        "veldrin_203dpi", "-v", device], capture_output=True, text=True, timeout=60)
                assert added.returncode == 0, added.stderr

    def test_who_may_change_a_server(self):
        plain, pam = (server.uri.replace("ipp:", "http:") for server in self.servers)
        system = ("system-uri", f"{self.servers[0].uri}/ipp/system")
        kept = ("printer-uri", f"{self.servers[0].uri}/ipp/print/kept")
        second = ("printer-uri", f"{self.servers[1].uri}/ipp/print/second")
        kept_id, spare_id = 1, 2  # in the order added (PAPPL 1.3 reports 0 as their printer-id until a restart)
        cutter = (0x04, (0x44, "label-mode-configured", "cutter"))
        refused, asked, done = (403, -1), (401, -1), (200, 0)
        # Operations: 0x02 Print-Job, 0x0B Get-Printer-Attributes, 0x10 Pause-Printer,
        # 0x13 Set-Printer-Attributes, 0x4C Create-Printer, 0x4E Delete-Printer.
        for what, user, url, body, credentials, expected in [
                ("delete", NOBODY, f"{plain}/ipp/system", ipp_request(0x4E, system, (0x21, "printer-id", kept_id)), "",
                 refused),
                ("add", NOBODY, f"{plain}/ipp/system", ipp_request(
                    0x4C, system, (0x44, "printer-service-type", "print"), (0x44, "smi55357-driver", "veldrin_203dpi"),
                    (0x45, "smi55357-device-uri", f"vdl://{self.emulator.port_name}"), 0x04,
                    (0x42, "printer-name", "intruder")), "", refused),
                ("set defaults", NOBODY, f"{plain}/ipp/print/kept", ipp_request(0x13, kept, *cutter), "", refused),
                ("pause", NOBODY, f"{plain}/ipp/print/kept", ipp_request(0x10, kept), "", refused),
                ("add printer page", NOBODY, f"{plain}/addprinter", b"", "", refused),
                ("read", NOBODY, f"{plain}/ipp/print/kept", ipp_request(0x0B, kept), "", done),
                ("print", NOBODY, f"{plain}/ipp/print/kept", ipp_request(
                    0x02, kept, (0x49, "document-format", "application/vnd.veldrin-commands"), document=b"P3,1\r"),
                 "", done),
                ("set defaults", ROOT, f"{plain}/ipp/print/kept", ipp_request(0x13, kept, *cutter), "", done),
                ("delete", ROOT, f"{plain}/ipp/system", ipp_request(0x4E, system, (0x21, "printer-id", spare_id)), "",
                 done),
                # With an authentication service, others are asked who they are, and PAM checks the answer.
                ("set defaults", NOBODY, f"{pam}/ipp/print/second", ipp_request(0x13, second, *cutter), "", asked),
                ("set defaults", NOBODY, f"{pam}/ipp/print/second", ipp_request(0x13, second, *cutter),
                 "nobody:wrong", asked),
                ("set defaults", ROOT, f"{pam}/ipp/print/second", ipp_request(0x13, second, *cutter), "", done)]:
            with self.subTest(what=what, user=user.get("user", "root"), url=url, credentials=credentials):
                self.assertEqual(send(url, body, credentials, **user), expected)
        listed = printers_by_socket(self.states[0])
        self.assertIn("kept", listed)
        self.assertNotIn("spare", listed)
        self.assertNotIn("intruder", listed)
        self.assertIn("P print: first=3", self.emulator.log("first=3"))

    def test_a_request_for_another_host_name_is_refused_before_it_is_served(self):
        """A page of another site whose name resolves to 127.0.0.1 (DNS rebinding) reaches the server as its user:
        only the server's own names, and its own port, are served."""
        server = self.servers[0]
        port = server.port
        get_printers = ipp_request(0x0B, ("printer-uri", f"ipp://localhost:{port}/ipp/print/kept"))
        for host, expected in [("localhost", 200), (f"localhost:{port}", 200), (f"127.0.0.1:{port}", 200),
                               (f"[::1]:{port}", 200), ("1.attacker.example", 400),
                               (f"7f000001.c0a80001.rbndr.us:{port}", 400), (f"rebind.example:{port}", 400),
                               ("localhost:80", 400), (f"127.0.0.1:{port + 1}", 400), ("printer.local", 400),
                               (f"localhost.attacker.example:{port}", 400), (f"[::1]x:{port}", 400), (None, 400)]:
            header = b"" if host is None else b"Host: %s\r\n" % host.encode()
            for method, request in [("GET", b"GET / HTTP/1.1\r\n%sConnection: close\r\n\r\n" % header),
                                    ("POST", b"POST /ipp/print/kept HTTP/1.1\r\n%sContent-Type: application/ipp\r\n"
                                     b"Content-Length: %d\r\nConnection: close\r\n\r\n%s" % (
                                         header, len(get_printers), get_printers))]:
                with self.subTest(host=host, method=method):
                    self.assertTrue(raw_http(port, request).startswith(f"HTTP/1.1 {expected} "))
        # Over the domain socket any port is taken (libcups says localhost:0), but no other name.
        socket_path = os.path.join(self.states[0], "run", "vdl-printer-app.sock")
        for host, expected in [("localhost:0", 200), (f"localhost:{port + 1}", 200), ("rebind.example", 400),
                               (socket_path, 400)]:
            with self.subTest(host=host, over="the domain socket"):
                self.assertEqual(request_over_socket(socket_path, get_printers, host)[0], expected)
        # ipptool names the host and port it was given: through a relay on another port, the port is not the server's.
        relay = Relay(port, "pass", 10 ** 9)
        self.addCleanup(relay.close)
        for uri, expected in [(f"{server.uri}/ipp/print/kept", "[PASS]"), (f"ipp://{relay.port_name}/ipp/print/kept",
                                                                           "[FAIL]")]:
            with tempfile.NamedTemporaryFile("w", suffix=".test") as test:
                test.write(IPP_REQUEST.format(operation="Get-Printer-Attributes", operation_attributes="",
                                              attributes="", file=""))
                test.flush()
                out = subprocess.run(["ipptool", "-t", uri, test.name], capture_output=True, text=True,
                                     timeout=60).stdout
            self.assertIn(expected, out, uri)
        # A browser told that rebind.example is 127.0.0.1, as a rebinding DNS server would.
        pages = {host: rendered_text(f"http://{host}:{port}/", self.directory.name,
                                     "--host-resolver-rules=MAP rebind.example 127.0.0.1")
                 for host in ("localhost", "rebind.example")}
        self.assertIn("kept", pages["localhost"])
        self.assertNotIn("kept", pages["rebind.example"])
        self.assertIn("400", pages["rebind.example"])

    def test_only_a_jobs_owner_changes_it_and_other_users_see_no_job_name(self):
        """The owner is who the kernel says sent the job, whatever requesting-user-name claims; ipptool as either."""
        server = self.servers[0]
        added = server.app("add", "-d", "waiting", "-m", "veldrin_203dpi", "-v", "vdl://127.0.0.1:9")
        self.assertEqual(added.returncode, 0, added.stderr)  # out of reach: jobs wait
        uri = f"{server.uri}/ipp/print/waiting"
        label = write_file(self.directory.name, "owned.vdl", b"P1,1\r")
        os.chmod(label, 0o644)
        os.chmod(self.directory.name, 0o755)

        def submit(user, name):  # IPP_REQUEST claims to be "tester"
            answer = dict(ipptool_as(user, uri, "Print-Job", f"ATTR name job-name {name}",
                                     document=(label, "application/vnd.veldrin-commands")))
            return int(answer["job-id"])
        subscription, roots_subscription = (int(dict(ipptool_as(user, uri, "Create-Printer-Subscriptions", group=(
            "GROUP subscription-attributes-tag\n  ATTR keyword notify-pull-method ippget\n"
            "  ATTR keyword notify-events job-created")))["notify-subscription-id"]) for user in (NOBODY, ROOT))
        roots, nobodys = submit(ROOT, "root-secret"), submit(NOBODY, "nobody-label")
        # Job-created events name the job to subscribers: nobody's own only.
        events = ipptool_as(NOBODY, uri, "Get-Notifications", f"ATTR integer notify-subscription-ids {subscription}",
                            "ATTR boolean notify-wait false")
        self.assertEqual([value for name, value in events if name == "job-name"], ["(hidden)", "nobody-label"])
        # Over the domain socket, root's peer credentials name the owner.
        http, status, _ = request_over_socket(os.path.join(self.states[0], "run", "vdl-printer-app.sock"), ipp_request(
            0x02, ("printer-uri", uri), (0x42, "requesting-user-name", "nobody"), (0x42, "job-name", "by-socket"),
            (0x49, "document-format", "application/vnd.veldrin-commands"), document=b"P1,1\r"))
        self.assertEqual((http, status), (200, 0))
        listed = {user.get("user", "root"): jobs_listed(ipptool_as(
            user, uri, "Get-Jobs", "ATTR keyword which-jobs not-completed",
            "ATTR keyword requested-attributes job-id,job-name")) for user in (ROOT, NOBODY)}
        by_socket = max(listed["root"])
        self.assertEqual({job: listed["root"][job].get("job-name") for job in (roots, nobodys, by_socket)},
                         {roots: "root-secret", nobodys: "nobody-label", by_socket: "by-socket"})
        self.assertEqual({job: listed["nobody"][job].get("job-name") for job in (roots, nobodys, by_socket)},
                         {roots: "(hidden)", nobodys: "nobody-label", by_socket: "(hidden)"})
        # A claim that is no name (an integer) is replaced all the same: the job is nobody's, not guest's.
        self.assertEqual(send(uri.replace("ipp:", "http:"), ipp_request(
            0x02, ("printer-uri", uri), (0x21, "requesting-user-name", 5),
            (0x49, "document-format", "application/vnd.veldrin-commands"), document=b"P1,1\r"), "", **NOBODY), (200, 0))
        typed = max(jobs_listed(ipptool_as(ROOT, uri, "Get-Jobs", "ATTR keyword which-jobs not-completed")))
        owners = {job: dict(ipptool_as(ROOT, uri, "Get-Job-Attributes", f"ATTR integer job-id {job}"))[
            "job-originating-user-name"] for job in (roots, nobodys, by_socket, typed)}
        self.assertEqual(owners, {roots: "root", nobodys: "nobody", by_socket: "root", typed: "nobody"})
        printer = ("printer-uri", uri)
        refused, done = (403, -1), (200, 0)
        # Operations: 0x08 Cancel-Job, 0x0C Hold-Job, 0x0D Release-Job, 0x1A Renew-Subscription,
        # 0x1B Cancel-Subscription.
        for what, user, operation, target, claimed, expected in [
                ("cancel another's", NOBODY, 0x08, ("job-id", roots), "nobody", refused),
                ("cancel another's, claiming to be its owner", NOBODY, 0x08, ("job-id", roots), "root", refused),
                ("hold another's", NOBODY, 0x0C, ("job-id", by_socket), "root", refused),
                ("release another's", NOBODY, 0x0D, ("job-id", roots), "root", refused),
                ("renew another's", NOBODY, 0x1A, ("notify-subscription-id", roots_subscription), "root", refused),
                ("cancel another's", NOBODY, 0x1B, ("notify-subscription-id", roots_subscription), "root", refused),
                ("cancel one's own", NOBODY, 0x08, ("job-id", nobodys), "nobody", done),
                ("renew one's own", NOBODY, 0x1A, ("notify-subscription-id", subscription), "nobody", done),
                ("cancel one's own", NOBODY, 0x1B, ("notify-subscription-id", subscription), "nobody", done),
                ("cancel as the server's user", ROOT, 0x08, ("job-id", roots), "nobody", done),
                ("cancel as the server's user", ROOT, 0x08, ("job-id", by_socket), "nobody", done)]:
            with self.subTest(what=what, target=target):
                body = ipp_request(operation, printer, (0x21, *target), (0x42, "requesting-user-name", claimed))
                self.assertEqual(send(uri.replace("ipp:", "http:"), body, "", **user), expected)
        eventually(lambda: all(server.job_state("waiting", job, "job-state").get("job-state") == "canceled"
                               for job in (roots, nobodys, by_socket)), "the cancelled jobs to end")

    def test_each_state_directory_has_a_socket_that_only_its_user_reaches(self):
        for state, own, other in [(self.states[0], "kept", "second"), (self.states[1], "second", "kept")]:
            with self.subTest(state=os.path.basename(state)):
                listed = printers_by_socket(state)
                self.assertIn(own, listed)
                self.assertNotIn(other, listed)
                probe = subprocess.run([SYSTEM_PYTHON, "-c", "import socket, sys; socket.socket(socket.AF_UNIX)"
                                        ".connect(sys.argv[1])", os.path.join(state, "run", "vdl-printer-app.sock")],
                                       capture_output=True, text=True, timeout=60, **NOBODY)
                self.assertIn("PermissionError", probe.stderr)

    def test_a_printer_is_added_by_its_address_in_a_browser(self):
        server, port_name = self.servers[0], self.emulator.port_name
        browser = Browser(self.directory.name)
        self.addCleanup(browser.close)
        for name, fields, shown in [
                ("byaddress", {"address": port_name}, "Idle"),
                ("byuri", {"address": f"vdl://{port_name}"}, "Idle"),
                ("nowhere", {"address": "printer.example:9100"}, "Enter the printer's address"),
                ("forged", {"address": port_name, "session": None}, "Invalid form submission.")]:
            with self.subTest(printer=name):
                browser.open(f"http://127.0.0.1:{server.port}/addprinter")
                browser.submit(printer_name=name, device_uri="address", driver_name="veldrin_300dpi", **fields)
                added = shown == "Idle"
                self.assertEqual(browser.evaluate("location.pathname"), f"/{name}" if added else "/addprinter")
                self.assertIn(shown, browser.evaluate("document.body.innerText"))
                self.assertEqual(name in printers_by_socket(self.states[0]), added)
                if added:
                    raw = write_file(self.directory.name, f"{name}.vdl", b"P%d,1\r" % len(name))
                    job_id = server.ipp(name, "Print-Job", (raw, "application/vnd.veldrin-commands"))["job-id"]
                    eventually(lambda: server.job_state(name, job_id, "job-state").get("job-state") == "completed", "the job")
                    self.assertIn(f"first={len(name)}", self.emulator.log(f"first={len(name)}"))
                    self.assertEqual(server.ipp(name, "Get-Printer-Attributes")["printer-resolution-default"], "300dpi")


if __name__ == "__main__":
    unittest.main()
