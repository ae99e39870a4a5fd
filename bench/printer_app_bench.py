#!/usr/bin/env python3
"""The printer application (vdl-printer-app) against LPrint, on a 4 x 6 in,
203 dpi PNG label.

    cmake --build build --target vdl-printer-app vdl-emulator sample_label vdl_timing_shim
    python3 bench/printer_app_bench.py build

lprint and ipptool come from Debian. One run takes about a minute and prints:

1. The processing time of one label: the median, minimum and maximum of 20
   jobs, after one warm-up job, in each application. The picture is the
   emulator's preview of the sample label (a 1-bit grey PNG), and the same
   dots as an 8-bit grey PNG. Our application prints to vdl-emulator; LPrint
   (driver zpl_4inch-203dpi-dt) to a loopback socket served here that reads
   everything. A job runs from PAPPL's "Starting print job" to its last byte
   written to the printer: for us the print command, for LPrint the last write
   of the job. From ours the time the library spent in its pauses inside that
   interval is taken away. Our time is also split into the server's share
   (PAPPL's decoding and rows, our callbacks), the worker's (from a request to
   its first write: for a page, the raster and its compression) and the rest
   (around the library's writes). One more job of each picture goes to a
   second emulator that draws previews, to tell whether our label prints as
   the picture.
2. Our application's wall time for one job of 50 copies and for 20 one-label
   jobs submitted in a row (the preview picture), from the submission of the
   first to PAPPL's "Completed" of the last, next to the sum of the library's
   pauses asked for in that time and the processing time of step 1 (once for
   the 50 copies, whose raster is sent once; 20 times for the 20 jobs).
3. The machine: CPU model, cores, load.

Times come from a shim (bench/timing_shim.c, libvdl_timing_shim.so) preloaded
into both servers: it records every usleep (the library pauses through it),
every write to a socket (with its peer port and first bytes) and the log
lines that mark a job's start and end, with nanosecond timestamps, one file
per process. PAPPL's own log stamps only milliseconds.
"""

import contextlib
import glob
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
import zlib

JOBS = 20
COPIES = 50
START_MARK = "Starting print job"
END_MARK = "Completed, job-impressions"
PRINT_COMMAND = re.compile(rb"^P\d+,\d+\r")  # our label's last command: print N copies
LPRINT_DRIVER = "zpl_4inch-203dpi-dt"
OUR_DRIVER = "veldrin_203dpi"
LABEL_SIZE = (812, 1218)  # 4 x 6 in at 203 dpi
WAIT_LIMIT = 60  # seconds for anything we wait for


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


def wait_for(probe, what, limit=WAIT_LIMIT):
    """probe()'s first true value, polled for at most limit seconds."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(0.02)
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


def start_emulator(stack, build, directory, *options):
    """vdl-emulator on a free port (which it names on standard error), its files in directory; its port."""
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


def start_sink(stack):
    """A loopback printer that takes every byte and answers nothing; its port."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen()
    stack.callback(server.close)

    def drain(connection):
        with connection:
            while connection.recv(65536):
                pass

    def accept():
        with contextlib.suppress(OSError):  # the listening socket closed: the end
            while True:
                connection, _ = server.accept()
                threading.Thread(target=drain, args=(connection,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return server.getsockname()[1]


# ---------------------------------------------------------------------------
# Pictures: grey PNG files without interlace, read and written here
# ---------------------------------------------------------------------------

def png_chunks(path):
    with open(path, "rb") as file:
        data = file.read()
    at = 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def unfiltered(data, row_bytes, height, pixel_bytes=1):
    """The rows of a PNG's image data, each filter undone."""
    rows, previous = [], bytearray(row_bytes)
    for y in range(height):
        start = y * (row_bytes + 1)
        kind, row = data[start], bytearray(data[start + 1:start + 1 + row_bytes])
        for i in range(row_bytes if kind else 0):
            left = row[i - pixel_bytes] if i >= pixel_bytes else 0
            up = previous[i]
            corner = previous[i - pixel_bytes] if i >= pixel_bytes else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                nearest = min((abs(p - left), 0, left), (abs(p - up), 1, up), (abs(p - corner), 2, corner))[2]
                row[i] = (row[i] + nearest) & 255
        rows.append(bytes(row))
        previous = row
    return rows


def black_dots(path):
    """(width, height, rows) of a 1- or 8-bit grey PNG; each row packed 8 dots a byte, 1 for black."""
    chunks = list(png_chunks(path))
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", dict(chunks)[b"IHDR"])
    if colour != 0 or depth not in (1, 8) or interlace:
        raise RuntimeError(f"{path}: not a 1- or 8-bit grey PNG without interlace")
    data = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    rows = unfiltered(data, (width * depth + 7) // 8, height)
    if depth == 1:
        return width, height, [bytes(255 - b for b in row) for row in rows]
    return width, height, [pack(value < 128 for value in row) for row in rows]


def pack(dots):
    """Booleans, 8 to a byte, the first in the top bit."""
    dots = list(dots)
    dots += [False] * (-len(dots) % 8)
    return bytes(sum(dot << (7 - k) for k, dot in enumerate(dots[i:i + 8])) for i in range(0, len(dots), 8))


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def write_grey8(picture, path):
    """picture's dots as an 8-bit grey PNG (0 black, 255 white) at the same resolution."""
    width, height, rows = black_dots(picture)
    resolution = dict(png_chunks(picture)).get(b"pHYs")
    pixels = b"".join(b"\0" + bytes(0 if row[x // 8] & (0x80 >> x % 8) else 255 for x in range(width))
                      for row in rows)
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)) +
                   (png_chunk(b"pHYs", resolution) if resolution else b"") +
                   png_chunk(b"IDAT", zlib.compress(pixels)) + png_chunk(b"IEND", b""))
    return path


def label_picture(build, directory):
    """The emulator's PNG preview of the sample label: 4 x 6 in at 203 dpi."""
    previews = os.path.join(directory, "previews")
    with contextlib.ExitStack() as stack:
        port = start_emulator(stack, build, previews, "--preview-dir", previews, "--once")
        subprocess.run([os.path.join(build, "sample_label"), f"127.0.0.1:{port}"],
                       check=True, capture_output=True, timeout=WAIT_LIMIT)
        picture = wait_for(lambda: glob.glob(os.path.join(previews, "label-*.png")), "the preview")[0]
    width, height, _ = black_dots(picture)
    if (width, height) != LABEL_SIZE:
        raise RuntimeError(f"the preview is {width} x {height}, not 4 x 6 in at 203 dpi")
    return picture


def dots_differing(picture, printed):
    """(dots of printed's top-left corner that differ from picture, black dots of the picture)."""
    width, height, wanted = black_dots(picture)
    _, _, got = black_dots(printed)
    row_bytes = (width + 7) // 8
    differing = sum(bin(a ^ b).count("1") for want, have in zip(wanted, got[:height])
                    for a, b in zip(want, have[:row_bytes]))
    return differing, sum(bin(b).count("1") for row in wanted for b in row)


# ---------------------------------------------------------------------------
# The shim's records
# ---------------------------------------------------------------------------

class Records:
    """The records of every process that ran with the shim under one prefix."""

    def __init__(self, prefix):
        self.marks = []     # (ns, pid, text)
        self.pauses = []    # (start ns, end ns, pid, requested us)
        self.writes = []    # (ns, pid, peer port, bytes, first bytes)
        for path in glob.glob(prefix + ".*"):
            self._read(int(path.rsplit(".", 1)[1]), path)
        for records in (self.marks, self.pauses, self.writes):
            records.sort()

    def _read(self, pid, path):
        with open(path, encoding="ascii", errors="replace") as file:
            for line in file:
                kind, *fields = line.split()
                if kind == "mark":
                    self.marks.append((int(fields[0]), pid, " ".join(fields[1:])))
                elif kind == "pause":
                    self.pauses.append((int(fields[0]), int(fields[1]), pid, int(fields[2])))
                elif kind == "net":
                    head = bytes.fromhex(fields[3]) if len(fields) > 3 else b""
                    self.writes.append((int(fields[0]), pid, int(fields[1]), int(fields[2]), head))

    def times(self, mark):
        return [ns for ns, _, text in self.marks if text == mark]

    def to_printer(self, port):
        return [(ns, head) for ns, _, peer, _, head in self.writes if peer == port]

    def printer_writer(self, port):
        """The process that writes to the printer (for us, the worker)."""
        return next(pid for _, pid, peer, _, _ in self.writes if peer == port)

    def print_command_after(self, port, begin):
        return next(ns for ns, head in self.to_printer(port) if ns > begin and PRINT_COMMAND.match(head))

    def slept(self, pid, begin, end):
        """Nanoseconds pid spent in pauses between begin and end."""
        return sum(max(0, min(e, end) - max(s, begin)) for s, e, p, _ in self.pauses if p == pid)

    def asked(self, pid, begin, end):
        """Microseconds of pauses pid asked for that started between begin and end."""
        return sum(us for s, _, p, us in self.pauses if p == pid and begin <= s < end)


def count_marks(prefix, mark):
    count = 0
    for path in glob.glob(prefix + ".*"):
        with open(path, encoding="ascii", errors="replace") as file:
            count += sum(1 for line in file if line.startswith("mark ") and line.rstrip("\n").endswith(mark))
    return count


def shim_environment(shim, prefix, directory):
    """The environment of a server under the shim, with its own home and temporary directory."""
    return {**os.environ, "LD_PRELOAD": shim, "VDL_BENCH_TRACE": prefix,
            "VDL_BENCH_MARKS": f"{START_MARK}|{END_MARK}",
            "HOME": directory, "XDG_CONFIG_HOME": directory, "TMPDIR": directory}


# ---------------------------------------------------------------------------
# Servers and jobs
# ---------------------------------------------------------------------------

PRINT_JOB = """{{
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name bench
  ATTR mimeMediaType document-format image/png
  GROUP job-attributes-tag
  ATTR integer copies {copies}
  FILE $filename
  STATUS successful-ok
}}
"""


class Server:
    """A PAPPL server (ours or LPrint) under the shim, in its own directory."""

    def __init__(self, stack, directory, program, shim):
        os.makedirs(directory)
        self.directory = directory
        self.program = program
        self.prefix = os.path.join(directory, "trace")
        self.port = free_port()
        self.uri = f"ipp://127.0.0.1:{self.port}"
        self.environment = shim_environment(shim, self.prefix, directory)
        log = os.path.join(directory, "server.log")
        start(stack, [program, "server", "-o", f"server-port={self.port}", "-o", f"log-file={log}",
                      "-o", "log-level=debug", *self.state_options()],
              env=self.environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: listening(self.port), "the server to listen")

    def state_options(self):
        return []

    def add_printer(self, name, driver, device):
        client = {key: value for key, value in self.environment.items() if key != "LD_PRELOAD"}
        subprocess.run([self.program, "add", "-u", self.uri, "-d", name, "-m", driver, "-v", device],
                       check=True, capture_output=True, env=client, timeout=WAIT_LIMIT)

    def submit(self, printer, picture, copies, jobs):
        """Submits jobs (each one Print-Job) with one ipptool; returns when all are queued."""
        test = os.path.join(self.directory, "print.test")
        with open(test, "w") as file:
            file.write(PRINT_JOB.format(copies=copies) * jobs)
        subprocess.run(["ipptool", "-f", picture, f"{self.uri}/ipp/print/{printer}", test],
                       check=True, capture_output=True, timeout=WAIT_LIMIT)

    def print_and_wait(self, printer, picture, copies=1, jobs=1):
        """Submits and waits for PAPPL to complete them; the submission's time in ns."""
        before = count_marks(self.prefix, END_MARK)
        submitted = time.time_ns()
        self.submit(printer, picture, copies, jobs)
        wait_for(lambda: count_marks(self.prefix, END_MARK) >= before + jobs, f"{jobs} job(s) to complete")
        return submitted

    def single_jobs(self, printer, picture):
        """One warm-up job, then JOBS jobs one at a time, and the records; the start of each measured one."""
        self.print_and_wait(printer, picture)
        for _ in range(JOBS):
            self.print_and_wait(printer, picture)
            time.sleep(0.05)  # LPrint flushes its last bytes just after it logs the job complete
        records = self.records()
        return records.times(START_MARK)[-JOBS:], records

    def records(self):
        return Records(self.prefix)


class OurServer(Server):
    def state_options(self):
        state = os.path.join(self.directory, "state")
        os.makedirs(state)
        return ["-o", f"state-directory={state}"]


class LPrintServer(Server):
    def state_options(self):
        spool = os.path.join(self.directory, "spool")
        os.makedirs(spool)
        return ["-o", f"spool-directory={spool}"]


# ---------------------------------------------------------------------------
# Measurements
# ---------------------------------------------------------------------------

def our_processing(records, starts, printer_port):
    """Per job, ns from its start to its print command, less the worker's pauses in between."""
    worker = records.printer_writer(printer_port)
    times = []
    for begin in starts:
        end = records.print_command_after(printer_port, begin)
        times.append(end - begin - records.slept(worker, begin, end))
    return times


def our_breakdown(records, starts, printer_port):
    """Median ns per job, outside the pauses, spent: in the server before each
    request to the worker; in the worker from a request to its first write or
    reply; and between the library's writes (the rest)."""
    worker = records.printer_writer(printer_port)
    server = next(pid for _, pid, _ in records.marks if pid != worker)
    parts = {"server": [], "worker": [], "writes": []}
    for begin in starts:
        end = records.print_command_after(printer_port, begin)
        events = sorted([(s, e, "pause") for s, e, pid, _ in records.pauses if pid == worker and begin <= s < end] +
                        [(ns, ns, "request" if pid == server and peer == 0 else "write")
                         for ns, pid, peer, _, _ in records.writes if begin <= ns <= end])
        spent = dict.fromkeys(parts, 0)
        last_end, last_kind = begin, "request"
        for event_start, event_end, kind in events:
            part = "server" if kind == "request" else "worker" if last_kind == "request" else "writes"
            spent[part] += max(0, event_start - last_end)
            last_end, last_kind = max(last_end, event_end), kind
        for part in parts:
            parts[part].append(spent[part])
    return {part: statistics.median(times) for part, times in parts.items()}


def lprint_processing(records, starts, printer_port):
    """Per job, ns from its start to its last write to the printer before the next job started."""
    writes = [ns for ns, _ in records.to_printer(printer_port)]
    bounds = starts[1:] + [float("inf")]
    return [max(ns for ns in writes if begin < ns < bound) - begin for begin, bound in zip(starts, bounds)]


def series(server, picture, printer_port, processing_ns, copies, jobs):
    """Wall time of a series next to the pauses asked for in it plus the processing of its rasters."""
    submitted = server.print_and_wait("bench", picture, copies, jobs)
    records = server.records()
    completed = records.times(END_MARK)[-1]
    pauses = records.asked(records.printer_writer(printer_port), submitted, completed) * 1000
    return {"wall": completed - submitted, "pauses": pauses, "floor": pauses + jobs * processing_ns}


def printed_as(server, picture, previews):
    """One job to the emulator that draws previews: how its label compares with the picture."""
    before = set(glob.glob(os.path.join(previews, "label-*.png")))
    server.print_and_wait("check", picture)
    printed = wait_for(lambda: set(glob.glob(os.path.join(previews, "label-*.png"))) - before, "the preview").pop()
    differing, black = dots_differing(picture, printed)
    return "yes" if differing == 0 else f"no: {differing} of its {black} black dots differ"


def measure_ours(stack, build, shim, pictures, directory):
    printer_port = start_emulator(stack, build, os.path.join(directory, "printer"), "--no-preview")
    previews = os.path.join(directory, "previews")
    check_port = start_emulator(stack, build, previews, "--preview-dir", previews)
    server = OurServer(stack, os.path.join(directory, "server"),
                       os.path.join(build, "tools", "printer-app", "vdl-printer-app"), shim)
    server.add_printer("bench", OUR_DRIVER, f"vdl://127.0.0.1:{printer_port}")
    server.add_printer("check", OUR_DRIVER, f"vdl://127.0.0.1:{check_port}")
    results = {}
    for name, picture in pictures.items():
        starts, records = server.single_jobs("bench", picture)
        results[name] = {"times": our_processing(records, starts, printer_port),
                         "parts": our_breakdown(records, starts, printer_port),
                         "printed": printed_as(server, picture, previews)}
    first, picture = next(iter(pictures.items()))
    typical = statistics.median(results[first]["times"])
    copies = series(server, picture, printer_port, typical, COPIES, 1)
    row = series(server, picture, printer_port, typical, 1, JOBS)
    return results, copies, row


def measure_lprint(stack, shim, pictures, directory):
    printer_port = start_sink(stack)
    server = LPrintServer(stack, os.path.join(directory, "server"), "lprint", shim)
    server.add_printer("bench", LPRINT_DRIVER, f"socket://127.0.0.1:{printer_port}")
    results = {}
    for name, picture in pictures.items():
        starts, records = server.single_jobs("bench", picture)
        results[name] = lprint_processing(records, starts, printer_port)
    return results


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
    return f"{ns / 1e6:.2f}"


def report(ours, lprint, copies, row):
    print(f"Machine: {machine()}")
    print(f"\nProcessing time of one 4 x 6 in 203 dpi PNG label, ms, {JOBS} jobs after a warm-up"
          " (ours without the library's pauses):")
    print(f"  {'picture':20} {'application':28} {'median':>7} {'min':>7} {'max':>7}")
    for name in ours:
        for application, times in [("vdl-printer-app", ours[name]["times"]), (f"LPrint {LPRINT_DRIVER}", lprint[name])]:
            print(f"  {name:20} {application:28} {ms(statistics.median(times)):>7} {ms(min(times)):>7} "
                  f"{ms(max(times)):>7}")
    for name, result in ours.items():
        parts = ", ".join(f"{part} {ms(ns)}" for part, ns in result["parts"].items())
        print(f"  ours, {name}: medians by part (ms): {parts}; prints as the picture: {result['printed']}")
    print("\nOur application, ms from the first submission to the last completion:")
    print(f"  {'':24} {'wall':>9} {'pauses':>9} {'pauses+work':>11} {'over':>7}")
    for name, result in [(f"one job of {COPIES} copies", copies), (f"{JOBS} one-label jobs", row)]:
        over = result["wall"] / result["floor"] - 1
        print(f"  {name:24} {ms(result['wall']):>9} {ms(result['pauses']):>9} {ms(result['floor']):>11} "
              f"{over:>+7.1%}")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    shim = os.path.join(build, "bench", "libvdl_timing_shim.so")
    for needed in (shim, os.path.join(build, "sample_label"), os.path.join(build, "vdl-emulator"),
                   os.path.join(build, "tools", "printer-app", "vdl-printer-app")):
        if not os.path.exists(needed):
            sys.exit(f"{needed} is missing: build it first (see the top of {sys.argv[0]})")
    for program in ("lprint", "ipptool", "lscpu"):
        if not shutil.which(program):
            sys.exit(f"{program} is not installed")
    with tempfile.TemporaryDirectory(prefix="vdl-app-bench-") as directory, contextlib.ExitStack() as stack:
        preview = label_picture(build, directory)
        pictures = {"preview, 1-bit grey": preview,
                    "same, 8-bit grey": write_grey8(preview, os.path.join(directory, "grey8.png"))}
        ours, copies, row = measure_ours(stack, build, shim, pictures, os.path.join(directory, "ours"))
        lprint = measure_lprint(stack, shim, pictures, os.path.join(directory, "lprint"))
        report(ours, lprint, copies, row)


if __name__ == "__main__":
    main()
