#!/usr/bin/env python3
"""The printer application (vdl-printer-app) against LPrint, end to end.

    cmake --build build --target vdl-printer-app vdl-emulator sample_label vdl_timing_shim pwg_page
    python3 bench/printer_app_bench.py build

lprint, ipptool and ImageMagick come from Debian (lprint, cups-ipp-utils,
imagemagick). One run takes a few minutes and prints Markdown tables:

1. Jobs, interleaved: for each of REPETITIONS rounds, for each input, one
   measurement in each application, with both servers kept running (who goes
   first alternates from round to round). Inputs: the sample label as the
   emulator draws it (a 4 x 6 in, 203 dpi, 1-bit PNG), an ImageMagick PNG of
   another size, a photo JPEG, the label as a PWG raster page, 50 copies of
   the label PNG in one job, the label PNG alone after IDLE seconds without
   a job (past the age at which a status answer counts as fresh), and 20
   one-label jobs in a row from one ipptool.
   Per input and application: minimum, median and maximum of
   - processing: PAPPL's "Starting print job" to the job's last byte written
     to the printer, less (ours only) the library's pauses slept in between;
     for a series, the sum over its jobs of the time from a job's start to
     the last byte written before the next job's start (LPrint runs some of
     the jobs of a series at once: that time counts once);
   - submission to the last byte written to the printer;
   - submission to the last byte's arrival at the printer: the emulator's
     own receive time of each command (its JSON log's "received"), the
     sink's for LPrint, both on the system clock as the submission time;
   - submission to the job's completion (PAPPL's "Completed" log line, which
     it writes where it sets the job's state).
   Single jobs are sent by this script as one Print-Job over a loopback HTTP
   connection opened beforehand (a minimal IPP encoder below), so the
   submission time is the moment the request starts to go out, with no
   client process start in it; the 20-job series is one ipptool run, whose
   process start (a few ms) is in both applications' figures alike. A run
   counts in these times only when each of its jobs started once and
   completed; a second table says what became of every job, and a server
   that died, or held jobs that ended no more for STALL_LIMIT seconds, is
   started again for the next run.
2. Get-Printer-Attributes on an idle printer, many times over one kept-alive
   connection from this script, in alternating blocks: all attributes, and
   the three a client polls for the state.
3. Start to first answer: from just before the server is started (its state
   holds one printer) to the first successful Get-Printer-Attributes on that
   printer, polled every 2 ms; several starts, alternating.
4. CUPS' IPP test suites run with ipptool against both, passed and failed
   counts side by side (the label PNG as the document), each suite on an
   emptied queue (Cancel-Jobs) and stopped after SUITE_LIMIT seconds.
5. The targets we hold ours to, met or not, with the figures: among them a
   lone label after IDLE seconds at the printer within 30 ms and completed
   within 200 ms, and the 20 jobs, each confirmed, within 20 x (20 ms
   write + 150 ms confirmation) + 10 %.

Our application prints to vdl-emulator (no previews), which answers the
library's status queries. LPrint (driver zpl_4inch-203dpi-dt) prints to
socket:// on a loopback sink served here that reads everything and answers
LPrint's status queries (~HQES and ~HS) as a ready printer does; without
answers LPrint waits 10 s for each.

Times come from a shim (bench/timing_shim.c, libvdl_timing_shim.so) preloaded
into both servers and our workers: it records every usleep (the library
pauses through it), every write to a socket (with its peer port and first
bytes) and the log lines that mark a job's start and end, with nanosecond
timestamps, one file per process.
"""

import contextlib
import glob
import http.client
import json
import os
import re
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

REPETITIONS = 7
SERIES_JOBS = 20
BUSY_TRIES = 200        # submissions of one job answered busy before the run gives up
IDLE = 5.5              # seconds without a job before the lone label (past the 5 s a status answer may be old)
COPIES = 50
GPA_BLOCK = 50          # requests per block; REPETITIONS blocks per server and request
STARTS = 5              # server starts per application
START_POLL = 0.002      # seconds between tries while a server starts
QUIET = 0.05            # seconds without a write to the printer that end a measurement
WAIT_LIMIT = 60         # seconds for anything we wait for
SUITE_LIMIT = 60        # seconds for one IPP test suite, after which it is stopped
START_MARK = "Starting print job"
# How PAPPL logs the end of a job, by outcome.
END_MARKS = {"Completed, job-impressions": "completed", "Aborted, job-impressions": "aborted",
             "Canceled, job-impressions": "canceled"}
STALL_LIMIT = 10        # seconds without a job ending after which the rest are taken to hang
LPRINT_DRIVER = "zpl_4inch-203dpi-dt"
OUR_DRIVER = "veldrin_203dpi"
LABEL_SIZE = (812, 1218)  # 4 x 6 in at 203 dpi
LABEL_MEDIA = "na_index-4x6_4x6in"
PRINTER = "bench"
SUITES = ["ipp-1.1.test", "ipp-2.0.test", "ipp-everywhere.test", "get-printer-attributes-suite.test",
          "validate-job.test", "create-job.test", "cancel-current-job.test", "print-job.test"]
SUITE_DIRECTORY = "/usr/share/cups/ipptool"

# Pauses the library asks for, by length in microseconds: the pacing of a
# write (before it, and per chunk) or the wait for and between reads of an answer.
PAUSE_KIND = {10000: "write", 100000: "read", 30000: "read", 200000: "write"}
READ_PAUSE_US = 100000 + 30000  # one status answer: the wait before the read, one try

# A ZPL printer's answers to LPrint's status queries when it is ready: no
# error and no warning bits, and the label length, from which LPrint sets its
# media. LPrint takes 11 dots off that length (1218 dots makes its label
# 4 x 5.946 in): 1229 makes it 4 x 6 in, the label ours prints.
READY_ZPL_ANSWERS = {
    b"~HQES": b"\x02\r\n\r\n  PRINTER STATUS\r\n    ERRORS:         0 00000000 00000000\r\n"
              b"    WARNINGS:       0 00000000 00000000\r\n\x03\r\n",
    b"~HS": b"\x02030,0,0,1229,000,0,0,0,000,0,0,0\x03\r\n"
            b"\x02000,0,0,0,1,2,6,0,00000000,1,000\x03\r\n"
            b"\x021234,0\x03\r\n",
}
OUR_STATUS_QUERY = b"^cu\r"


# ---------------------------------------------------------------------------
# Processes and ports
# ---------------------------------------------------------------------------

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def wait_for(probe, what, limit=WAIT_LIMIT, interval=0.005):
    """probe()'s first true value, polled for at most limit seconds."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(interval)
    raise RuntimeError(f"gave up waiting for {what}")


def start(stack, argv, **options):
    """A process that is stopped when the stack closes, whatever happened."""
    process = subprocess.Popen(argv, **options)
    stack.callback(stop, process)
    return process


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def run(argv, **options):
    return subprocess.run(argv, check=True, capture_output=True, timeout=WAIT_LIMIT, **options)


def start_emulator(stack, build, directory, *options):
    """vdl-emulator on a free port (which it names on standard error), its files in directory (its log
    emulator.log); its port."""
    os.makedirs(directory, exist_ok=True)
    said = os.path.join(directory, "emulator.err")
    with open(said, "w") as err:
        start(stack, [os.path.join(build, "vdl-emulator"), "--port", "0", "--log",
                      os.path.join(directory, "emulator.log"), *options], stderr=err)

    def port():
        with open(said) as file:
            found = re.search(r"listening on \S+:(\d+)", file.read())
        return found and int(found.group(1))
    return wait_for(port, "the emulator to listen")


class ZplSink:
    """A loopback ZPL printer for LPrint: takes every byte and answers the
    status queries in it as a ready printer does."""

    def __init__(self, stack):
        self.answered = dict.fromkeys(READY_ZPL_ANSWERS, 0)
        self.received = []  # ns of each read that brought more than status queries
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen()
        stack.callback(self.server.close)
        self.port = self.server.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        with contextlib.suppress(OSError):  # the listening socket closed: the end
            while True:
                connection, _ = self.server.accept()
                threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        longest = max(map(len, READY_ZPL_ANSWERS))
        pending = b""
        with connection, contextlib.suppress(OSError):
            while data := connection.recv(65536):
                arrived = time.time_ns()
                label = data
                for query in READY_ZPL_ANSWERS:
                    label = label.replace(query, b"")
                if label.strip():
                    self.received.append(arrived)
                pending += data
                while found := self._first_query(pending):
                    at, query = found
                    connection.sendall(READY_ZPL_ANSWERS[query])
                    self.answered[query] += 1
                    pending = pending[at + len(query):]
                pending = pending[-(longest - 1):]  # a query may be cut by the end of a read

    @staticmethod
    def _first_query(data):
        found = [(data.find(query), query) for query in READY_ZPL_ANSWERS if query in data]
        return min(found) if found else None

    def arrivals(self):
        return list(self.received)


class EmulatorLog:
    """The arrival times at vdl-emulator (its JSON log's "received", the system
    clock) of every command but the library's status queries, in ns."""

    def __init__(self, path):
        self.path, self.read_up_to, self.received = path, 0, []

    def arrivals(self):
        with open(self.path, "rb") as file:
            file.seek(self.read_up_to)
            data = file.read()
        whole = data[:data.rfind(b"\n") + 1]
        self.read_up_to += len(whole)
        for line in whole.decode("utf-8", "replace").splitlines():
            command = json.loads(line)
            if "received" in command and command.get("code") != OUR_STATUS_QUERY.decode().strip():
                self.received.append(round(command["received"] * 1e9))
        return list(self.received)


# ---------------------------------------------------------------------------
# Inputs
# ---------------------------------------------------------------------------

def png_size(path):
    with open(path, "rb") as file:
        return struct.unpack(">II", file.read(24)[16:24])


def label_png(build, directory):
    """The emulator's PNG preview of the sample label: 4 x 6 in at 203 dpi, 1-bit grey."""
    previews = os.path.join(directory, "previews")
    with contextlib.ExitStack() as stack:
        port = start_emulator(stack, build, previews, "--preview-dir", previews, "--once")
        run([os.path.join(build, "sample_label"), f"127.0.0.1:{port}"])
        picture = wait_for(lambda: glob.glob(os.path.join(previews, "label-*.png")), "the preview")[0]
    if png_size(picture) != LABEL_SIZE:
        raise RuntimeError(f"the preview is {png_size(picture)}, not 4 x 6 in at 203 dpi")
    return picture


def barcode_bars(text, x, y, module, height):
    """ImageMagick -draw rectangles for a barcode-like pattern: one module per bit of text."""
    bits = "".join(f"{byte:08b}" for byte in text.encode())
    return [f"rectangle {x + i * module},{y} {x + (i + 1) * module - 1},{y + height}"
            for i, bit in enumerate("101" + bits + "101") if bit == "1"]


def drawing_png(path):
    """A 600 x 400 grey PNG written by ImageMagick: text, a frame and a barcode."""
    draws = ["rectangle 4,4 595,395", "fill black", *barcode_bars("PKG0001234", 40, 250, 2, 110)]
    argv = ["convert", "-size", "600x400", "xc:white", "-fill", "none", "-stroke", "black", "-strokewidth", "3",
            "-draw", draws[0], "-stroke", "none", "-fill", "black", "-font", "DejaVu-Sans", "-pointsize", "34",
            "-annotate", "+40+80", "SHIP TO: ACME SUPPLY", "-pointsize", "24",
            "-annotate", "+40+130", "12 HARBOUR ROAD, DOCK 4", "-annotate", "+40+170", "PKG0001234  2.4 KG"]
    for draw in draws[1:]:
        argv += ["-draw", draw]
    run(argv + ["-colorspace", "Gray", "-define", "png:exclude-chunks=date,time", path])
    return path


def photo_jpeg(path):
    """An 800 x 600 colour photo-like picture (plasma, fixed seed), JPEG quality 85."""
    run(["convert", "-seed", "1", "-size", "800x600", "plasma:", "-quality", "85", path])
    return path


def pwg_raster(build, picture, path):
    """picture on a 4 x 6 in, 203 dpi PWG raster page (8-bit grey), as an IPP Everywhere client writes it."""
    grey = path + ".pgm"
    run(["convert", picture, "-depth", "8", f"pgm:{grey}"])
    run([os.path.join(build, "tests", "pwg_page"), path, LABEL_MEDIA, "203", grey])
    return path


class Input:
    """A document and how it is submitted: copies in one Print-Job, or a series of one-copy jobs."""

    def __init__(self, name, path, format, copies=1, jobs=1, idle=0):
        self.name, self.path, self.format, self.copies, self.jobs = name, path, format, copies, jobs
        self.idle = idle  # seconds without a job before it is submitted


def make_inputs(build, directory):
    label = label_png(build, directory)
    inputs = [
        Input("label PNG, 812 x 1218, 1-bit", label, "image/png"),
        Input("ImageMagick PNG, 600 x 400", drawing_png(os.path.join(directory, "drawing.png")), "image/png"),
        Input("photo JPEG, 800 x 600", photo_jpeg(os.path.join(directory, "photo.jpg")), "image/jpeg"),
        Input("PWG raster, 4 x 6 in, 203 dpi", pwg_raster(build, label, os.path.join(directory, "label.pwg")),
              "image/pwg-raster"),
        Input(f"label PNG, {COPIES} copies", label, "image/png", copies=COPIES),
        Input(f"label PNG after {IDLE:g} s idle", label, "image/png", idle=IDLE),
        Input(f"{SERIES_JOBS} label PNG jobs in a row", label, "image/png", jobs=SERIES_JOBS),
    ]
    # VDL_BENCH_INPUTS=0,5,6 keeps those inputs alone (the label first and the series last, as the targets read them).
    chosen = os.environ.get("VDL_BENCH_INPUTS")
    return [inputs[int(i)] for i in chosen.split(",")] if chosen else inputs


# ---------------------------------------------------------------------------
# IPP: the few requests this script sends itself
# ---------------------------------------------------------------------------

PRINT_JOB, GET_PRINTER_ATTRIBUTES, CANCEL_JOBS = 0x0002, 0x000B, 0x0038
OPERATION_GROUP, JOB_GROUP, END_OF_ATTRIBUTES = 0x01, 0x02, 0x03
INTEGER, KEYWORD, URI, CHARSET, LANGUAGE, NAME, MIME_TYPE = 0x21, 0x44, 0x45, 0x47, 0x48, 0x42, 0x49
STATE_ATTRIBUTES = ["printer-state", "printer-state-reasons", "printer-state-message"]


def ipp_attribute(tag, name, *values):
    """One attribute; further values carry an empty name."""
    encoded = b""
    for i, value in enumerate(values):
        value = value if isinstance(value, bytes) else value.encode()
        label = name.encode() if i == 0 else b""
        encoded += struct.pack(">BH", tag, len(label)) + label + struct.pack(">H", len(value)) + value
    return encoded


def ipp_request(operation, uri, operation_attributes=b"", job_attributes=b""):
    return (struct.pack(">BBHI", 2, 0, operation, 1) + bytes([OPERATION_GROUP]) +
            ipp_attribute(CHARSET, "attributes-charset", "utf-8") +
            ipp_attribute(LANGUAGE, "attributes-natural-language", "en") +
            ipp_attribute(URI, "printer-uri", uri) +
            ipp_attribute(NAME, "requesting-user-name", "bench") + operation_attributes +
            (bytes([JOB_GROUP]) + job_attributes if job_attributes else b"") + bytes([END_OF_ATTRIBUTES]))


def print_job_request(uri, document):
    return ipp_request(PRINT_JOB, uri, ipp_attribute(MIME_TYPE, "document-format", document.format),
                       ipp_attribute(INTEGER, "copies", struct.pack(">i", document.copies)))


def get_printer_attributes_request(uri, requested):
    return ipp_request(GET_PRINTER_ATTRIBUTES, uri, ipp_attribute(KEYWORD, "requested-attributes", *requested))


def ipp_exchange(connection, path, body):
    """Posts one IPP request on connection; the response's body, or an error when it failed."""
    connection.request("POST", path, body, {"Content-Type": "application/ipp"})
    response = connection.getresponse()
    answer = response.read()
    if response.status != 200 or len(answer) < 8 or struct.unpack(">H", answer[2:4])[0] >= 0x100:
        raise RuntimeError(f"IPP request to {path} failed: HTTP {response.status}, {answer[2:4].hex()}")
    return answer


def ipp_value(answer, name):
    """The first value of an attribute in an IPP response, as bytes."""
    key = struct.pack(">H", len(name)) + name.encode()
    at = answer.find(key)
    if at < 0:
        return None
    at += len(key)
    length = struct.unpack(">H", answer[at:at + 2])[0]
    return answer[at + 2:at + 2 + length]


# ---------------------------------------------------------------------------
# The shim's records, read as they grow
# ---------------------------------------------------------------------------

class Trace:
    """The records of every process that ran with the shim under one prefix."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.read_up_to = {}
        self.marks = []     # (ns, pid, text)
        self.pauses = []    # (start ns, end ns, pid, requested us)
        self.writes = []    # (ns, pid, peer port, bytes, first bytes)

    def refresh(self):
        for path in glob.glob(self.prefix + ".*"):
            with open(path, "rb") as file:
                file.seek(self.read_up_to.get(path, 0))
                data = file.read()
            whole = data[:data.rfind(b"\n") + 1]  # a line being written waits for the next refresh
            self.read_up_to[path] = self.read_up_to.get(path, 0) + len(whole)
            pid = int(path.rsplit(".", 1)[1])
            for line in whole.decode("ascii", "replace").splitlines():
                self._add(pid, line.split())
        return self

    def _add(self, pid, fields):
        kind, fields = fields[0], fields[1:]
        if kind == "mark":
            self.marks.append((int(fields[0]), pid, " ".join(fields[1:])))
        elif kind == "pause":
            self.pauses.append((int(fields[0]), int(fields[1]), pid, int(fields[2])))
        elif kind == "net":
            head = bytes.fromhex(fields[3]) if len(fields) > 3 else b""
            self.writes.append((int(fields[0]), pid, int(fields[1]), int(fields[2]), head))

    def times(self, mark, since=0):
        return sorted(ns for ns, _, text in self.marks if text == mark and ns >= since)

    def ends(self, since=0):
        """(ns, outcome) of the jobs that ended since a time."""
        return sorted((ns, END_MARKS[text]) for ns, _, text in self.marks if text in END_MARKS and ns >= since)

    def to_printer(self, port, since=0):
        """(ns, pid, first bytes) of the writes to the printer since a time."""
        return sorted((ns, pid, head) for ns, pid, peer, _, head in self.writes if peer == port and ns >= since)

    def slept(self, pids, begin, end):
        """Nanoseconds the processes spent in pauses between begin and end."""
        return sum(max(0, min(e, end) - max(s, begin)) for s, e, p, _ in self.pauses if p in pids)

    def pauses_of(self, pids, begin, end):
        return sorted((s, us) for s, _, p, us in self.pauses if p in pids and begin <= s < end)


def shim_environment(shim, prefix, directory):
    """The environment of a server under the shim, with its own home and temporary directory."""
    return {**plain_environment(directory), "LD_PRELOAD": shim, "VDL_BENCH_TRACE": prefix,
            "VDL_BENCH_MARKS": "|".join([START_MARK, *END_MARKS])}


def plain_environment(directory):
    return {**os.environ, "HOME": directory, "XDG_CONFIG_HOME": directory, "TMPDIR": directory}


# ---------------------------------------------------------------------------
# Servers
# ---------------------------------------------------------------------------

class Server:
    """A PAPPL server (ours or LPrint) in its own directory, one printer."""

    name = ""
    query_heads = ()        # how its status queries to the printer begin
    library_pauses = False  # whether the printer's writer pauses as the library does

    def __init__(self, program, directory, environment):
        self.program = program
        self.directory = directory
        self.environment = environment
        os.makedirs(os.path.join(directory, "state"), exist_ok=True)
        self.port = free_port()
        self.uri = f"ipp://127.0.0.1:{self.port}"
        self.path = f"/ipp/print/{PRINTER}"
        self.process = None

    def argv(self):
        return [self.program, "server", "-o", f"server-port={self.port}", "-o", "log-level=info",
                "-o", f"log-file={os.path.join(self.directory, 'server.log')}", *self.state_options()]

    def state_options(self):
        raise NotImplementedError

    def start(self, stack):
        self.process = start(stack, self.argv(), env=self.environment,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: listening(self.port), f"{self.name} to listen")

    def stop(self):
        stop(self.process)

    def add_printer(self, driver, device):
        client = {key: value for key, value in self.environment.items() if key != "LD_PRELOAD"}
        run([self.program, "add", "-u", self.uri, "-d", PRINTER, "-m", driver, "-v", device], env=client)

    def connection(self):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=WAIT_LIMIT)

    def say_why(self, failure):
        """The end of the server's log on standard error, for a request that failed."""
        running = "running" if self.process.poll() is None else f"exited with {self.process.returncode}"
        with open(os.path.join(self.directory, "server.log"), errors="replace") as log:
            tail = log.readlines()[-30:]
        print(f"{self.name} ({running}) failed a request: {failure}; its log ends:", *tail, sep="\n", end="",
              file=sys.stderr)


class OurServer(Server):
    name = "vdl-printer-app"
    query_heads = (OUR_STATUS_QUERY,)
    library_pauses = True

    def state_options(self):
        return ["-o", f"state-directory={os.path.join(self.directory, 'state')}"]


class LPrintServer(Server):
    name = "LPrint"
    query_heads = tuple(READY_ZPL_ANSWERS)

    def state_options(self):
        return ["-o", f"spool-directory={os.path.join(self.directory, 'state')}"]


# ---------------------------------------------------------------------------
# Jobs: one measurement
# ---------------------------------------------------------------------------

SERIES_TEST = """{{
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name bench
  ATTR mimeMediaType document-format {format}
  FILE $filename
  STATUS successful-ok
}}
"""


class Contender:
    """A server under the shim with its printer, and what its jobs took."""

    def __init__(self, stack, server, printer_port, trace, arrivals):
        self.stack, self.server, self.printer_port, self.trace = stack, server, printer_port, trace
        self.arrivals = arrivals  # ns of the printer's reads of label bytes
        self.results = {}   # input name -> [measurement]
        self.restarts = 0
        self.deaths_between = 0  # the server found dead before a job, after the last had ended
        self.busy = 0  # submissions answered server-error-busy, and sent again

    @property
    def name(self):
        return self.server.name

    def submit(self, document):
        """Sends the document; the submission time in ns."""
        if document.jobs > 1:
            return self._submit_series(document)
        with open(document.path, "rb") as file:
            body = print_job_request(self.server.uri + self.server.path, document) + file.read()
        submitted = time.time_ns()
        # PAPPL answers a raster stream that comes while the job before has not
        # quite let go of the printer with server-error-busy; clients (CUPS)
        # send again, and so does this, from the first try's time.
        for _ in range(BUSY_TRIES):
            connection = self.server.connection()
            try:
                connection.connect()
                ipp_exchange(connection, self.server.path, body)
                return submitted
            except (RuntimeError, OSError, http.client.HTTPException) as refused:
                if not str(refused).endswith(", 0507"):
                    self.server.say_why(refused)
                    raise RuntimeError(f"{self.name}, {document.name}: {refused}") from refused
                self.busy += 1
            finally:
                connection.close()
            time.sleep(0.005)
        raise RuntimeError(f"{self.name}, {document.name}: busy {BUSY_TRIES} times")

    def _submit_series(self, document):
        test = os.path.join(self.server.directory, "series.test")
        with open(test, "w") as file:
            file.write(SERIES_TEST.format(format=document.format) * document.jobs)
        submitted = time.time_ns()
        # Not checked: a server that dies in the series fails the rest; measure() sees it.
        subprocess.run(["ipptool", "-f", document.path, self.server.uri + self.server.path, test],
                       capture_output=True, timeout=WAIT_LIMIT)
        return submitted

    def measure(self, document):
        trace = self.trace.refresh()
        before = len(trace.ends())
        time.sleep(document.idle)
        if self.server.process.poll() is not None:  # died since its last job ended
            self.deaths_between += 1
            self._restart()
        submitted = self.submit(document)
        self._wait_for_ends(before + document.jobs)
        wait_for(self._printer_quiet, f"{self.name}'s printer to go quiet")
        figures = self._figures(submitted, document.jobs)
        figures["outcomes"]["died"] = int(self.server.process.poll() is not None)
        self.results.setdefault(document.name, []).append(figures)
        if figures["outcomes"]["unfinished"] or figures["outcomes"]["died"]:
            self._restart()

    def _wait_for_ends(self, count):
        """Until count jobs have ended, or none has for STALL_LIMIT seconds."""
        deadline, ended = 0, -1
        while (time.monotonic() < deadline or ended < 0) and self.server.process.poll() is None:
            now = len(self.trace.refresh().ends())
            if now >= count:
                return
            if now != ended:
                deadline, ended = time.monotonic() + STALL_LIMIT, now
            time.sleep(0.005)

    def _restart(self):
        """A server that died, or was left with jobs that never end (it prints
        no more), is started again."""
        self.server.stop()
        self.server.start(self.stack)
        self.restarts += 1

    def _printer_quiet(self):
        writes = self.trace.refresh().to_printer(self.printer_port)
        return not writes or time.time_ns() - writes[-1][0] > QUIET * 1e9

    def _figures(self, submitted, jobs):
        """The times of one measurement (meaningful when it is clean: every
        job started once and completed) and what became of its jobs."""
        trace = self.trace
        starts = trace.times(START_MARK, submitted)
        ends = trace.ends(submitted)
        outcomes = {outcome: sum(1 for _, o in ends if o == outcome) for outcome in END_MARKS.values()}
        outcomes.update(unfinished=max(0, jobs - len(ends)), started=len(starts))
        completed = ends[-1][0] if ends else time.time_ns()
        label = [(ns, pid) for ns, pid, head in trace.to_printer(self.printer_port, submitted)
                 if not head.startswith(self.server.query_heads)] or [(submitted, 0)]
        writers = {pid for _, pid in label} if self.server.library_pauses else set()
        processing = 0
        for begin, bound in zip(starts, starts[1:] + [completed + int(1e9)]):
            end = max([begin] + [ns for ns, _ in label if begin < ns < bound])
            processing += end - begin - trace.slept(writers, begin, end)
        last_byte = label[-1][0]
        arrived = [ns for ns in self.arrivals() if ns >= submitted] or [last_byte]
        return {"processing": processing, "last byte": last_byte - submitted, "arrived": arrived[-1] - submitted,
                "completed": completed - submitted,
                "outcomes": outcomes, "clean": outcomes["completed"] == outcomes["started"] == jobs,
                "to last byte": self._pauses(writers, submitted, last_byte + 1),
                "to completed": self._pauses(writers, submitted, completed)}

    def _pauses(self, writers, begin, end):
        """The library's pauses asked for in [begin, end), in ns: those of the
        label's writes, and those of status queries (the query's write and the
        waits for the answer), with the number of queries."""
        events = [(s, "pause", us) for s, us in self.trace.pauses_of(writers, begin, end)]
        events += [(ns, "write", head) for ns, pid, head in self.trace.to_printer(self.printer_port, begin)
                   if pid in writers and ns < end]
        spent = {"label": 0, "query": 0, "queries": 0}
        pending = 0
        for _, kind, what in sorted(events, key=lambda event: event[0]):
            if kind == "pause" and PAUSE_KIND.get(what) == "read":
                spent["query"] += what * 1000
            elif kind == "pause":
                pending += what * 1000
            else:
                query = what.startswith(self.server.query_heads)
                spent["query" if query else "label"] += pending
                spent["queries"] += query
                pending = 0
        spent["label"] += pending
        return spent


def interleaved_jobs(contenders, inputs):
    """One job of the label each first, not counted: ours connects to the
    printer on its first job (the model check, the settings)."""
    for contender in contenders:
        contender.measure(inputs[0])
        contender.results.clear()
    for round_ in range(REPETITIONS):
        order = contenders if round_ % 2 == 0 else contenders[::-1]
        for document in inputs:
            for contender in order:
                contender.measure(document)


# ---------------------------------------------------------------------------
# Get-Printer-Attributes and the start
# ---------------------------------------------------------------------------

GPA_KINDS = {"all attributes": ["all"], "printer-state, -reasons, -message": STATE_ATTRIBUTES}


def gpa_block(server, requested, count):
    """ns of count Get-Printer-Attributes over one kept-alive connection, after one not counted."""
    body = get_printer_attributes_request(server.uri + server.path, requested)
    connection = server.connection()
    times = []
    try:
        ipp_exchange(connection, server.path, body)
        for _ in range(count):
            begin = time.perf_counter_ns()
            ipp_exchange(connection, server.path, body)
            times.append(time.perf_counter_ns() - begin)
    finally:
        connection.close()
    return times


def interleaved_gpa(servers):
    times = {(server.name, kind): [] for server in servers for kind in GPA_KINDS}
    for round_ in range(REPETITIONS):
        for server in servers if round_ % 2 == 0 else servers[::-1]:
            for kind, requested in GPA_KINDS.items():
                times[server.name, kind] += gpa_block(server, requested, GPA_BLOCK)
    return times


def first_answer(server, stack):
    """ns from just before the server starts to its first successful
    Get-Printer-Attributes on the printer; the server is stopped after."""
    body = get_printer_attributes_request(server.uri + server.path, STATE_ATTRIBUTES)

    def answered():
        connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=1)
        try:
            ipp_exchange(connection, server.path, body)
            return time.monotonic_ns()
        except (OSError, RuntimeError, http.client.HTTPException):
            return None
        finally:
            connection.close()

    begin = time.monotonic_ns()
    server.process = start(stack, server.argv(), env=server.environment,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        return wait_for(answered, f"{server.name} to answer after its start", interval=START_POLL) - begin
    finally:
        server.stop()


def interleaved_starts(servers, stack):
    times = {server.name: [] for server in servers}
    for round_ in range(STARTS):
        for server in servers if round_ % 2 == 0 else servers[::-1]:
            times[server.name].append(first_answer(server, stack))
    return times


# ---------------------------------------------------------------------------
# IPP test suites
# ---------------------------------------------------------------------------

RESULT = re.compile(r"\[(PASS|FAIL|SKIP)\]$", re.M)


def suite_counts(server, suite, document):
    """(passed, failed, skipped, seconds, the test it was stopped in or None)
    of one ipptool suite against the server's printer; -I runs every test,
    also those after a failure."""
    began = time.monotonic()
    stopped_in = None
    try:
        output = subprocess.run(["ipptool", "-I", "-t", "-T", "30", "-f", document, server.uri + server.path,
                                 os.path.join(SUITE_DIRECTORY, suite)],
                                capture_output=True, text=True, timeout=SUITE_LIMIT).stdout
    except subprocess.TimeoutExpired as stopped:
        output = stopped.stdout.decode() if isinstance(stopped.stdout, bytes) else stopped.stdout or ""
        last = output.rstrip().splitlines()[-1:] or ["?"]
        stopped_in = last[0].split("[")[0].strip()  # the test's name, without its progress count
    found = RESULT.findall(output)
    return (*(found.count(word) for word in ("PASS", "FAIL", "SKIP")), time.monotonic() - began, stopped_in)


def empty_queue(server):
    """Cancels every job of the printer and waits until none is left, so that
    no suite waits on a job another left behind."""
    connection = server.connection()
    uri = server.uri + server.path
    try:
        ipp_exchange(connection, server.path, ipp_request(CANCEL_JOBS, uri))
        wait_for(lambda: ipp_value(ipp_exchange(connection, server.path, get_printer_attributes_request(
                 uri, ["queued-job-count"])), "queued-job-count") == bytes(4), f"{server.name}'s queue to empty",
                 interval=0.05)
    finally:
        connection.close()


def suites(servers, document):
    counts = {}
    for suite in SUITES:
        counts[suite] = []
        for server in servers:
            empty_queue(server)
            counts[suite].append(suite_counts(server, suite, document))
    return counts


# ---------------------------------------------------------------------------
# Report
# ---------------------------------------------------------------------------

def machine():
    lscpu = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
    model = re.search(r"^Model name:\s*(.*)$", lscpu, re.M)
    load = os.getloadavg()
    return (f"{model.group(1).strip() if model else 'unknown CPU'}, {os.cpu_count()} cores, "
            f"load average {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")


def ms(ns):
    return f"{ns / 1e6:.1f}" if ns >= 1e7 else f"{ns / 1e6:.2f}"


def spread(values):
    """min / median / max, in ms."""
    return f"{ms(min(values))} / **{ms(statistics.median(values))}** / {ms(max(values))}"


def clean_runs(contender, document):
    return [run for run in contender.results[document.name] if run["clean"]]


def report_jobs(contenders, inputs):
    print(f"\n### Jobs: min / **median** / max of {REPETITIONS}, ms\n")
    print("| input | application | processing | submission → last byte written | submission → last byte "
          "arrived at the printer | submission → completed |")
    print("|---|---|---|---|---|---|")
    for document in inputs:
        for contender in contenders:
            runs = clean_runs(contender, document)
            cells = [spread([run[key] for run in runs]) if runs else "no run printed every job once"
                     for key in ("processing", "last byte", "arrived", "completed")]
            lost = len(contender.results[document.name]) - len(runs)
            note = f" ({lost} of {len(contender.results[document.name])} runs left out, below)" if lost else ""
            print(f"| {document.name} | {contender.name}{note} | " + " | ".join(cells) + " |")


def report_outcomes(contenders, inputs):
    print("\n### What became of the jobs (all runs)\n")
    print("| input | application | jobs sent | completed | aborted | canceled | never ended | starts beyond "
          "one a job | server died | restarted |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for document in inputs:
        for contender in contenders:
            runs = contender.results[document.name]
            total = {key: sum(run["outcomes"][key] for run in runs) for key in runs[0]["outcomes"]}
            sent = document.jobs * len(runs)
            restarts = sum(1 for run in runs if run["outcomes"]["unfinished"] or run["outcomes"]["died"])
            print(f"| {document.name} | {contender.name} | {sent} | {total['completed']} | {total['aborted']} | "
                  f"{total['canceled']} | {total['unfinished']} | {max(0, total['started'] - sent)} | "
                  f"{total['died']} | {restarts} |")


def median_of(runs, key, part):
    return statistics.median(r[key][part] for r in runs)


def report_targets(ours, inputs, gpa, starts):
    label, series = inputs[0], inputs[-1]
    print("\n### Targets (ours)\n")
    print("| target | figure (medians) | limit | met |")
    print("|---|---|---|---|")
    runs = clean_runs(ours, label)
    e2e = statistics.median(r["last byte"] for r in runs)
    write_pauses = median_of(runs, "to last byte", "label")
    before = median_of(runs, "to last byte", "query")
    limit = write_pauses + 30e6
    print(f"| one label, submission → last byte ≤ its writes' pauses + 30 ms | {ms(e2e)} ms "
          f"(status-query pauses before it: {ms(before)} ms) | {ms(write_pauses)} + 30 = {ms(limit)} ms | "
          f"{'yes' if e2e <= limit else 'no'} |")
    runs = clean_runs(ours, series)
    wall = statistics.median(r["completed"] for r in runs)
    label_pauses = median_of(runs, "to completed", "label")
    query_pauses = median_of(runs, "to completed", "query")
    queries = median_of(runs, "to completed", "queries")
    one_query = query_pauses / queries if queries else 0
    processing = statistics.median(r["processing"] for r in runs)
    limit = 1.1 * label_pauses + one_query + processing
    without = wall - (query_pauses - one_query)
    print(f"| {series.jobs} jobs, submission → last completed ≤ 1.1 × writes' pauses + one status query + "
          f"processing | {ms(wall)} ms | 1.1 × {ms(label_pauses)} + {ms(one_query)} + {ms(processing)} = "
          f"{ms(limit)} ms | {'yes' if wall <= limit else 'no'} |")
    rest = wall - label_pauses - query_pauses - processing
    print(f"| the same, our confirmations beyond one counted apart ({int(queries)} queries, "
          f"{ms(query_pauses)} ms of pauses) | {ms(without)} ms (neither pauses nor processing: {ms(rest)} ms) | "
          f"{ms(limit)} ms | {'yes' if without <= limit else 'no'} |")
    lone = next(document for document in inputs if document.idle)
    runs = clean_runs(ours, lone)
    for key, bound in (("arrived", 30e6), ("completed", 200e6)):
        value = statistics.median(r[key] for r in runs)
        what = "last byte arrived at the printer" if key == "arrived" else "completed"
        print(f"| a lone label after {lone.idle:g} s idle, submission → {what} ≤ {ms(bound)} ms | {ms(value)} ms "
              f"({median_of(runs, 'to ' + ('last byte' if key == 'arrived' else 'completed'), 'queries'):g} status "
              f"queries) | {ms(bound)} ms | {'yes' if value <= bound else 'no'} |")
    runs = clean_runs(ours, series)
    bound = series.jobs * (20e6 + 150e6) * 1.1
    value = statistics.median(r["completed"] for r in runs)
    print(f"| {series.jobs} jobs back to back, each confirmed, submission → last completed ≤ {series.jobs} × "
          f"(20 ms write + 150 ms confirmation) + 10 % | {ms(value)} ms "
          f"({median_of(runs, 'to completed', 'queries'):g} status queries) | {ms(bound)} ms | "
          f"{'yes' if value <= bound else 'no'} |")
    for kind in GPA_KINDS:
        value = statistics.median(gpa[ours.name, kind])
        print(f"| Get-Printer-Attributes, idle, {kind} ≤ 10 ms | {ms(value)} ms | 10 ms | "
              f"{'yes' if value <= 10e6 else 'no'} |")
    value = statistics.median(starts[ours.name])
    print(f"| start → first answer ≤ 100 ms | {ms(value)} ms | 100 ms | {'yes' if value <= 100e6 else 'no'} |")


def report_pauses(ours, inputs):
    print("\n### Ours: the library's pauses inside the times above (medians, ms)\n")
    print("| input | to last byte: writes / status queries (n) | to completed: writes / status queries (n) |")
    print("|---|---|---|")
    for document in inputs:
        runs = clean_runs(ours, document)
        cells = [f"{ms(median_of(runs, key, 'label'))} / {ms(median_of(runs, key, 'query'))} "
                 f"({median_of(runs, key, 'queries'):g})" for key in ("to last byte", "to completed")]
        print(f"| {document.name} | " + " | ".join(cells) + " |")


def report_gpa(servers, gpa):
    print(f"\n### Get-Printer-Attributes on an idle printer, ms ({REPETITIONS} × {GPA_BLOCK} each, "
          "one kept-alive connection)\n")
    print("| requested | application | min | median | 90 % | max |")
    print("|---|---|---|---|---|---|")
    for kind in GPA_KINDS:
        for server in servers:
            times = sorted(gpa[server.name, kind])
            print(f"| {kind} | {server.name} | {ms(times[0])} | {ms(statistics.median(times))} | "
                  f"{ms(times[len(times) * 9 // 10])} | {ms(times[-1])} |")


def report_starts(servers, starts):
    print(f"\n### Start → first Get-Printer-Attributes answered, ms ({STARTS} starts each)\n")
    print("| application | min / **median** / max |")
    print("|---|---|")
    for server in servers:
        print(f"| {server.name} | {spread(starts[server.name])} |")


def report_suites(servers, counts):
    print("\n### CUPS IPP test suites (ipptool -I -t, the label PNG as document): passed / failed / skipped "
          "(seconds)\n")
    print("| suite | " + " | ".join(server.name for server in servers) + " |")
    print("|---|" + "---|" * len(servers))
    for suite, results in counts.items():
        cells = [f"{passed} / {failed} / {skipped} ({seconds:.1f})" +
                 (f", stopped in “{stopped_in}”" if stopped_in else "")
                 for passed, failed, skipped, seconds, stopped_in in results]
        print(f"| {suite} | " + " | ".join(cells) + " |")


# ---------------------------------------------------------------------------
# Setup and main
# ---------------------------------------------------------------------------

def contenders(stack, build, shim, directory, sink):
    emulator = start_emulator(stack, build, os.path.join(directory, "emulator"), "--no-preview", "--json")
    emulator_log = EmulatorLog(os.path.join(directory, "emulator", "emulator.log"))
    ours_dir, lprint_dir = os.path.join(directory, "ours"), os.path.join(directory, "lprint")
    ours = OurServer(os.path.join(build, "tools", "printer-app", "vdl-printer-app"), ours_dir,
                     shim_environment(shim, os.path.join(ours_dir, "trace"), ours_dir))
    lprint = LPrintServer(shutil.which("lprint"), lprint_dir,
                          shim_environment(shim, os.path.join(lprint_dir, "trace"), lprint_dir))
    result = []
    for server, driver, device, port, arrivals in [
            (ours, OUR_DRIVER, f"vdl://127.0.0.1:{emulator}", emulator, emulator_log.arrivals),
            (lprint, LPRINT_DRIVER, f"socket://127.0.0.1:{sink.port}", sink.port, sink.arrivals)]:
        server.start(stack)
        server.add_printer(driver, device)
        check_media(server)
        result.append(Contender(stack, server, port, Trace(os.path.join(server.directory, "trace")), arrivals))
    return result


def check_media(server):
    """Both must print the same label size: 4 x 6 in unless told otherwise."""
    connection = server.connection()
    try:
        answer = ipp_exchange(connection, server.path, get_printer_attributes_request(
            server.uri + server.path, ["media-default"]))
    finally:
        connection.close()
    media = (ipp_value(answer, "media-default") or b"").decode()
    if "4x6" not in media:
        raise RuntimeError(f"{server.name}'s default media is {media!r}, not 4 x 6 in")


def starting_servers(stack, build, directory, sink_port):
    """A second server of each kind, without the shim, whose saved state holds
    one printer (ours on an emulator of its own)."""
    emulator = start_emulator(stack, build, os.path.join(directory, "start-emulator"), "--no-preview")
    program = os.path.join(build, "tools", "printer-app", "vdl-printer-app")
    ours_dir, lprint_dir = os.path.join(directory, "start-ours"), os.path.join(directory, "start-lprint")
    servers = [(OurServer(program, ours_dir, plain_environment(ours_dir)), OUR_DRIVER, f"vdl://127.0.0.1:{emulator}"),
               (LPrintServer(shutil.which("lprint"), lprint_dir, plain_environment(lprint_dir)), LPRINT_DRIVER,
                f"socket://127.0.0.1:{sink_port}")]
    for server, driver, device in servers:
        with contextlib.ExitStack() as running:
            server.start(running)
            server.add_printer(driver, device)
    return [server for server, _, _ in servers]


@contextlib.contextmanager
def phase(what):
    """Says on standard error how long a part of the run took."""
    began = time.monotonic()
    yield
    print(f"{what}: {time.monotonic() - began:.0f} s", file=sys.stderr)


def check_tools(build, shim):
    for needed in (shim, os.path.join(build, "sample_label"), os.path.join(build, "vdl-emulator"),
                   os.path.join(build, "tests", "pwg_page"),
                   os.path.join(build, "tools", "printer-app", "vdl-printer-app")):
        if not os.path.exists(needed):
            sys.exit(f"{needed} is missing: build it first (see the top of {sys.argv[0]})")
    for program in ("lprint", "ipptool", "convert", "lscpu"):
        if not shutil.which(program):
            sys.exit(f"{program} is not installed")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    shim = os.path.join(build, "bench", "libvdl_timing_shim.so")
    check_tools(build, shim)
    began = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="vdl-app-bench-") as directory, contextlib.ExitStack() as stack:
        print(f"Machine: {machine()}")
        inputs = make_inputs(build, directory)
        sink = ZplSink(stack)
        ours, lprint = both = contenders(stack, build, shim, directory, sink)
        servers = [ours.server, lprint.server]
        with phase("jobs"):
            interleaved_jobs(both, inputs)
        report_jobs(both, inputs)
        report_outcomes(both, inputs)
        report_pauses(ours, inputs)
        sys.stdout.flush()
        for contender in both:  # LPrint may die after its series
            if contender.server.process.poll() is not None:
                contender.deaths_between += 1
                contender._restart()
        with phase("Get-Printer-Attributes"):
            gpa = interleaved_gpa(servers)
        with phase("starts"):
            starts = interleaved_starts(starting_servers(stack, build, directory, sink.port), stack)
        with phase("IPP suites"):
            counts = suites(servers, inputs[0].path)
        report_gpa(servers, gpa)
        report_starts(servers, starts)
        report_suites(servers, counts)
        report_targets(ours, inputs, gpa, starts)
        print("\nServers found dead before a job, after the one before had ended (started again): " +
              ", ".join(f"{c.name} {c.deaths_between}" for c in both) + "; submissions answered "
              "server-error-busy and sent again: " + ", ".join(f"{c.name} {c.busy}" for c in both) + ".")
        print(f"\nLPrint's sink answered {', '.join(f'{n} {q.decode()}' for q, n in sink.answered.items())}; "
              f"machine at the end: {machine()}; the run took {time.monotonic() - began:.0f} s.")


if __name__ == "__main__":
    main()
