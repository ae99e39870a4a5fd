"""vdl-printer-app under the faults of a warehouse: each row of FAULTS is a
fault, played with emulators behind a misbehaving relay, and what must come
of it: labels printed in order and none twice, the jobs' and the printer's
states, and every other request answered at once. Each row is bounded in time."""

import json
import os
import pathlib
import random
import re
import signal
import socket
import struct
import subprocess
import tempfile
import time
import unittest
import urllib.request
import zlib
from concurrent.futures import ThreadPoolExecutor
from functools import partial

from emulator import Emulator
from printer_app_test import APP, IPP_REQUEST, Server, ServerTestCase, eventually, free_port, grey_png, write_file
from relay import Relay

ENDED = ("completed", "aborted", "canceled")
# How an ended job's job-state-message begins (an aborted one says why); never as a running job's.
ENDED_MESSAGES = {"completed": "Printed: ", "canceled": "Canceled: ", "aborted": ""}
RUNNING_MESSAGES = ("Printing.", "Waiting for the printer")


class FaultTest(ServerTestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.directory.cleanup)
        cls.server = cls.start_server(cls.directory.name)
        cls.added = []
        cls.addClassCleanup(lambda: cls.server.stop())
        cls.healthy = cls.printer("healthy")
        rng = random.Random(5)  # a picture that compresses badly: 10 KB a label
        cls.noise = grey_png(os.path.join(cls.directory.name, "noise.png"),
                             [[rng.choice((0, 255)) for _ in range(406)] for _ in range(203)], 203)

    @classmethod
    def start_server(cls, state):
        return Server(state)

    @classmethod
    def printer(cls, name, mode="pass", rate=20000, server=None):
        """An emulator behind a relay, added as printer name; returns (emulator, relay)."""
        emulator = Emulator()
        cls.addClassCleanup(lambda: emulator.__exit__())
        relay = Relay(int(emulator.port_name.split(":")[1]), mode, rate)
        cls.addClassCleanup(relay.close)
        if not server:
            cls.added.append(name)
        added = (server or cls.server).app("add", "-d", name, "-m", "veldrin_203dpi", "-v", f"vdl://{relay.port_name}")
        assert added.returncode == 0, added.stderr
        return emulator, relay

    # -- clients ------------------------------------------------------------

    def submit(self, printer, label, server=None, name="label"):
        """A raw job whose print command's count names it: label n prints as first=n."""
        path = write_file(self.directory.name, f"label{label}.vdl", b"CB\rP%d,1\r" % label)
        job = (server or self.server).ipp(printer, "Print-Job", (path, "application/vnd.veldrin-commands"),
                                          [("job-name", ("name", f'"{name}"'))])
        return job["job-id"]

    def submit_picture(self, printer, copies):
        return self.server.ipp(printer, "Print-Job", (self.noise, "image/png"), copies=("integer", copies),
                               media=("keyword", "oe_2x1in_2x1in"))["job-id"]

    def job(self, printer, job_id, server=None, *only):
        return (server or self.server).job_state(printer, job_id, *only)

    def ended(self, printer, job_id, limit=60, server=None):
        eventually(lambda: self.job(printer, job_id, server, "job-state").get("job-state") in ENDED,
                   f"job {job_id} on {printer} to end", limit)
        state = self.job(printer, job_id, server)
        message = state.get("job-state-message", "")
        self.assertTrue(message.startswith(ENDED_MESSAGES[state["job-state"]]), state)
        self.assertFalse(message.startswith(RUNNING_MESSAGES), state)
        return state

    @staticmethod
    def listed_jobs(printer, server):
        """ipptool's check of Get-Jobs for every job of printer: its verdict and attributes."""
        with tempfile.NamedTemporaryFile("w", suffix=".test") as test:
            test.write(IPP_REQUEST.format(operation="Get-Jobs", attributes="", file="", operation_attributes=(
                "ATTR keyword which-jobs all ATTR keyword requested-attributes all")))
            test.flush()
            return subprocess.run(["ipptool", "-tv", f"{server.uri}/ipp/print/{printer}", test.name],
                                  capture_output=True, text=True, timeout=60).stdout

    @staticmethod
    def job_request(server, printer, operation, job_id, *more):
        """A hand-made IPP request of a job's operation (its code); more: (value tag, name, value) triples."""
        def attribute(tag, name, value):
            return struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(value)) + value
        uri = f"ipp://localhost:{server.port}/ipp/print/{printer}".encode()
        return b"".join([struct.pack(">HHI", 0x200, operation, 1), b"\x01",
                         attribute(0x47, "attributes-charset", b"utf-8"),
                         attribute(0x48, "attributes-natural-language", b"en"), attribute(0x45, "printer-uri", uri),
                         attribute(0x42, "requesting-user-name", b"tester"),
                         attribute(0x21, "job-id", struct.pack(">i", job_id)),
                         *(attribute(*a) for a in more), b"\x03"])

    @classmethod
    def send_document_slowly(cls, server, printer, job_id, parts, pause):
        """Send-Document of the printer's commands, its parts pause seconds apart (as CUPS streams a document
        while its filters make it); the answer's status line."""
        request = cls.job_request(server, printer, 0x6, job_id, (0x22, "last-document", b"\1"),
                                  (0x49, "document-format", b"application/vnd.veldrin-commands"))
        chunk = lambda data: b"%x\r\n%s\r\n" % (len(data), data)
        with socket.create_connection(("127.0.0.1", server.port), timeout=30) as http:
            http.sendall(f"POST /ipp/print/{printer} HTTP/1.1\r\nHost: localhost:{server.port}\r\n"
                         "Content-Type: application/ipp\r\nTransfer-Encoding: chunked\r\n\r\n".encode()
                         + chunk(request + parts[0]))
            for part in parts[1:]:
                time.sleep(pause)
                http.sendall(chunk(part))
            http.sendall(b"0\r\n\r\n")
            return http.recv(65536).split(b"\r\n")[0].decode()

    def reasons(self, printer):
        return self.server.ipp(printer, "Get-Printer-Attributes").get("printer-state-reasons", "")

    def slowest_answer(self, printers, times=3):
        """The longest a Get-Printer-Attributes or the web page took, in seconds, after
        one each (the first after a quiet spell may wait for the printer's answer)."""
        def timed(request):
            start = time.monotonic()
            request()
            return time.monotonic() - start
        requests = [lambda p=p: self.server.ipp(p, "Get-Printer-Attributes") for p in printers]
        requests.append(lambda: urllib.request.urlopen(f"http://127.0.0.1:{self.server.port}/", timeout=30).read())
        for request in requests:
            request()
        return max(timed(r) for r in requests * times)

    def delete_printer(self, name):
        # PAPPL 1.3 answers printer-id 0 for a printer added since the server
        # started (its own delete sub-command fails on it): the server gives
        # ids in the order printers are added.
        printer_id = self.added.index(name) + 1
        with tempfile.NamedTemporaryFile("w", suffix=".test") as test:
            test.write("{ OPERATION Delete-Printer GROUP operation-attributes-tag"
                       " ATTR charset attributes-charset utf-8 ATTR naturalLanguage attributes-natural-language en"
                       f" ATTR uri system-uri $uri ATTR integer printer-id {printer_id}"
                       " ATTR name requesting-user-name tester }")
            test.flush()
            out = subprocess.run(["ipptool", "-tv", f"{self.server.uri}/ipp/system", test.name],
                                 capture_output=True, text=True, timeout=60).stdout
        return re.search(r"status-code = (\S+)", out).group(1) if "status-code" in out else out

    def bomb(self, side):
        """A white 1-bit grey PNG of side x side pixels: a few hundred kilobytes that decode to side² bytes of grey."""
        row, packer = b"\0" + b"\xff" * (side // 8), zlib.compressobj(9)
        data = b"".join(packer.compress(row) for _ in range(side)) + packer.flush()
        chunk = lambda kind, body: struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        return write_file(self.directory.name, f"bomb{side}.png", b"\x89PNG\r\n\x1a\n" + chunk(
            b"IHDR", struct.pack(">IIBBBBB", side, side, 1, 0, 0, 0, 0)) + chunk(b"IDAT", data) + chunk(b"IEND", b""))

    @staticmethod
    def peak_memory(pids):
        """The sum of the processes' peak resident memory, in MB."""
        return sum(int(re.search(r"VmHWM:\s+(\d+)", pathlib.Path(f"/proc/{pid}/status").read_text()).group(1))
                   for pid in pids) // 1024

    @staticmethod
    def printed(emulator):
        return [int(n) for n in re.findall(r"P print: first=(\d+)", emulator.log())]

    @staticmethod
    def workers(relay):
        """The worker processes serving the printer behind relay."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    args = f.read().split(b"\0")
            except OSError:
                continue
            if b"--printer-worker" in args and f"vdl://{relay.port_name}".encode() in args:
                found.append(int(pid))
        return found

    # -- the faults -----------------------------------------------------------

    def private_server_left_idle(self):
        """A private server (one a sub-command starts when none runs) ends once it has had no job, no queued job
        and no request for its idle time (shortened here to 2 s), its workers with it, its state saved; a job
        waiting on a printer out of reach keeps it running."""
        with tempfile.TemporaryDirectory() as state:
            server = Server(state, options=("-o", "private-server=true", "-o", "idle-timeout=2"))
            self.addCleanup(lambda: server.process.poll() is None and server.stop())
            emulator, relay = self.printer("idle", server=server)
            self.assertEqual(self.ended("idle", self.submit("idle", 41, server), server=server)["job-state"],
                             "completed")
            added = server.app("add", "-d", "unreachable-idle", "-m", "veldrin_203dpi", "-v", "vdl://127.0.0.1:9")
            self.assertEqual(added.returncode, 0, added.stderr)
            waiting = self.submit("unreachable-idle", 42, server)
            time.sleep(6)  # three idle times with a job waiting
            self.assertIsNone(server.process.poll())
            server.ipp("unreachable-idle", "Cancel-Job", operation_attributes=[("job-id", ("integer", waiting))])
            eventually(lambda: server.process.poll() is not None, "the idle server to end")
            self.assertEqual(server.process.returncode, 0)
            self.assertEqual(self.workers(relay), [])
            server.keep_output()
            self.assertIn("Stopped: no job and no request for 2 s.", server.kept.get("server.log", ""))
            again = Server(state)
            self.assertEqual(self.job("unreachable-idle", waiting, again, "job-state")["job-state"], "canceled")
            self.assertEqual(self.job("idle", 1, again, "job-state")["job-state"], "completed")
            self.assertEqual(self.printed(emulator), [41])
            again.stop()

    def subcommands_at_once_without_a_server(self):
        """Sub-commands run at the same moment with no server each start a private server: one serves, the others
        find the state directory taken and leave without a word, and every sub-command succeeds, silent."""
        with tempfile.TemporaryDirectory() as state:
            # Into files: the private server that serves keeps its sub-command's output open.
            outputs = [tempfile.TemporaryFile("w+") for _ in range(3)]
            commands = [subprocess.Popen([APP, "printers", "-o", f"state-directory={state}"], stdout=output,
                                         stderr=subprocess.STDOUT) for output in outputs]
            self.addCleanup(subprocess.run, [APP, "shutdown", "-o", f"state-directory={state}"], capture_output=True,
                            timeout=30)
            for command, output in zip(commands, outputs):
                command.wait(timeout=30)
                output.seek(0)
                said = output.read()  # under AddressSanitizer, also LeakSanitizer's count of suppressions
                self.assertEqual(command.returncode, 0, said)
                self.assertNotIn("vdl-printer-app:", said)
                output.close()

    def stopped_at_any_moment_of_its_start(self):
        """SIGTERM sent at moments spread over a start (a job waiting on a printer out of reach, which PAPPL's own
        stop would wait 60 s for): every start ends within seconds."""
        with tempfile.TemporaryDirectory() as state:
            server = Server(state)
            added = server.app("add", "-d", "waiting", "-m", "veldrin_203dpi", "-v", "vdl://127.0.0.1:9")
            self.assertEqual(added.returncode, 0, added.stderr)
            self.submit("waiting", 43, server)
            server.stop()
            for delay in [n * 0.05 for n in range(30)]:  # 0 to 1.5 s: before, during and after PAPPL starts
                process = subprocess.Popen([APP, "server", "-o", f"server-port={free_port()}", "-o",
                                            f"state-directory={state}"], stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)
                time.sleep(delay)
                process.send_signal(signal.SIGTERM)
                start = time.monotonic()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
                with self.subTest(delay=delay):
                    self.assertLess(time.monotonic() - start, 5)


    def slow_link(self):
        """A printer behind a slow link prints every job: slow is not lost."""
        emulator, _ = self.printer("slow", "slow", rate=5000)
        jobs = [self.submit_picture("slow", copies=5) for _ in range(3)]
        for job_id in jobs:
            self.assertEqual(self.ended("slow", job_id, 90)["job-state"], "completed")
        self.assertEqual(self.printed(emulator), [5, 5, 5])

    def killed_mid_job(self):
        """A printer killed while a job is sent: the job is not reported printed,
        the printer shows offline, and once it is back the next job prints."""
        emulator, relay = self.printer("killed", "slow", rate=2000)
        job_id = self.submit_picture("killed", copies=50)
        eventually(lambda: relay.relayed > 2000, "the job to be under way")
        port = int(emulator.port_name.split(":")[1])
        emulator.__exit__()
        state = self.ended("killed", job_id)
        self.assertEqual(state["job-state"], "aborted", state)
        self.assertIn("may not have printed", state["job-state-message"])
        eventually(lambda: "offline" in self.reasons("killed"), "offline")
        back = Emulator(port=port)
        self.addCleanup(back.__exit__)
        relay.mode = "pass"
        self.assertEqual(self.ended("killed", self.submit("killed", 7))["job-state"], "completed")
        self.assertEqual(self.printed(back), [7])

    def cancelled_while_sent(self):
        """A job cancelled while its label crawls to the printer ends at once, unprinted."""
        emulator, relay = self.printer("crawling", "slow", rate=200)
        job_id = self.submit_picture("crawling", copies=1)
        eventually(lambda: relay.relayed > 400, "the label to be under way")
        start = time.monotonic()
        self.server.app("cancel", "-j", job_id, printer="crawling")
        self.assertEqual(self.ended("crawling", job_id, 10)["job-state"], "canceled")
        self.assertLess(time.monotonic() - start, 3)
        self.assertEqual(self.printed(emulator), [])

    def picture_bombs(self):
        """PNG files that decode to 1 GB and 256 MB, sent to two printers at once, are
        refused by their header: the jobs end unprinted, and the server with its
        workers never holds more than 300 MB."""
        emulator, relay = self.printer("bombed")
        jobs = [(printer, self.server.ipp(printer, "Print-Job", (self.bomb(side), "image/png"))["job-id"])
                for side in (32768, 16384) for printer in ("bombed", "healthy")]
        for printer, job_id in jobs:
            state = self.ended(printer, job_id, 30)
            self.assertEqual(state["job-state"], "aborted", state)
            self.assertIn("document-format-error", state["job-state-reasons"])
        self.assertEqual(self.printed(emulator), [])
        pids = [self.server.process.pid, *self.workers(relay), *self.workers(self.healthy[1])]
        self.assertLess(self.peak_memory(pids), 300)

    def cancelled_between_copies(self):
        """A raw job of 500 copies cancelled at its third label: the copies not yet
        sent are not sent (one at most is on its way), and those printed are counted."""
        emulator, _ = self.printer("copying", "slow", rate=200)  # it prints slower than labels are written
        path = write_file(self.directory.name, "copy.vdl", b"CB\rP1,1\r")
        job_id = self.server.ipp("copying", "Print-Job", (path, "application/vnd.veldrin-commands"),
                                 copies=("integer", 500))["job-id"]
        eventually(lambda: len(self.printed(emulator)) >= 3, "three labels")
        self.server.app("cancel", "-j", job_id, printer="copying")
        cancelled_at = len(self.printed(emulator))
        state = self.ended("copying", job_id, 10)
        time.sleep(0.5)  # for a label still on its way
        printed = len(self.printed(emulator))
        self.assertEqual(state["job-state"], "canceled", state)
        self.assertLessEqual(printed, cancelled_at + 2)
        self.assertIn(int(state["job-impressions-completed"]), range(cancelled_at - 1, printed + 1))

    def waits_unprinted(self, name, mode):
        """A printer that never answers, hangs up after each answer, or is
        out of reach: it shows offline (not paused) and holds up no other
        request; its job waits, says why, never prints, and can be cancelled."""
        emulator, relay = self.printer(name, mode)
        if mode == "gone":
            relay.close()
        job_id = self.submit(name, 1)
        state = eventually(lambda: (lambda s: "Waiting for the printer: " in s.get("job-state-message", "") and s)(
            self.job(name, job_id)), "the job to wait", 30)
        self.assertEqual((state["job-state"], state["job-state-reasons"]), ("processing", "printer-stopped"))
        self.assertNotIn("worker process", state["job-state-message"])  # the printer did not answer, not the worker
        self.assertIn("offline", self.reasons(name))
        self.assertNotIn("paused", self.reasons(name))
        self.assertLess(self.slowest_answer([name, "healthy"]), 1.0)
        self.server.app("cancel", "-j", job_id, printer=name)
        self.assertEqual(self.ended(name, job_id, 10)["job-state"], "canceled")
        self.assertEqual(self.printed(emulator), [])

    def worker_stopped_then_killed(self):
        """A worker that stops holds up no request; killed, it is started
        again and the job prints."""
        emulator, relay = self.printer("stopped")
        self.ended("stopped", self.submit("stopped", 1))
        [pid] = self.workers(relay)
        with open(f"/proc/{pid}/comm") as comm:
            self.assertEqual(comm.read().strip(), "vdl-app-worker")  # its own name in ps and top
        os.kill(pid, signal.SIGSTOP)
        job_id = self.submit("stopped", 2)
        time.sleep(1)
        self.assertLess(self.slowest_answer(["stopped", "healthy"]), 1.0)
        os.kill(pid, signal.SIGKILL)
        self.assertEqual(self.ended("stopped", job_id, 30)["job-state"], "completed")
        self.assertEqual(self.printed(emulator), [1, 2])

    def stopped_with_jobs_queued(self):
        """The server stops at once with jobs queued for a hung printer, one of them
        named across two lines; after a restart a second server on the same
        state directory is refused, each job is there once, listed as
        ipptool wants it (no attribute twice, URIs the server serves), the
        printer is up from the first answer, and each job prints once, in order,
        the one that was printing included."""
        with tempfile.TemporaryDirectory() as state:
            server = Server(state)
            self.addCleanup(lambda: server.process.poll() is None and server.stop())
            emulator, relay = self.printer("queued", "freeze", server=server)
            jobs = [self.submit("queued", n, server, name) for n, name in ((31, "a"), (32, "line\\nbreak"), (33, "c"))]
            eventually(lambda: self.job("queued", jobs[0], server, "job-state").get("job-state") == "processing", "job 1 to start")
            start = time.monotonic()
            server.process.terminate()
            server.process.wait(timeout=30)
            self.assertLess(time.monotonic() - start, 5)
            server = Server(state)
            self.assertGreater(int(server.ipp("queued", "Get-Printer-Attributes")["printer-up-time"]), 0)
            second = subprocess.run([APP, "server", "-o", "server-port=0", "-o", f"state-directory={state}"],
                                    capture_output=True, text=True, timeout=30)
            self.assertIn("another server uses the state directory", second.stderr)
            listed = self.listed_jobs("queued", server)
            self.assertIn("[PASS]", listed, listed)
            self.assertEqual(sorted(re.findall(r"job-uri \(uri\) = (\S+)", listed)),
                             [f"ipp://localhost:{server.port}/ipp/print/queued/{n}" for n in jobs])
            relay.mode = "pass"
            relay.close_all()
            for job_id in jobs:
                self.assertEqual(self.ended("queued", job_id, 60, server)["job-state"], "completed")
            self.assertEqual(self.printed(emulator), [31, 32, 33])
            server.stop()

    def full_disk(self):
        """A state directory on a full disk (a 2 MB tmpfs; root only): no save replaces
        the last good state file, killed and started again the server has its
        printers, and a failed save is made once there is room."""
        if os.geteuid() != 0:
            return
        with tempfile.TemporaryDirectory() as state, tempfile.TemporaryDirectory() as logs:
            subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", state], check=True)
            server = None
            try:
                path, log = os.path.join(state, "vdl-printer-app.state"), os.path.join(logs, "server.log")
                start = partial(Server, state, options=("-o", f"log-file={log}"))
                server = start()
                self.printer("full", server=server)
                saved = eventually(lambda: (lambda t: 'name="full"' in t and t)(
                    os.path.exists(path) and pathlib.Path(path).read_text() or ""), "the printer to be saved")
                filler = os.open(os.path.join(state, "filler"), os.O_WRONLY | os.O_CREAT)
                try:
                    while os.write(filler, bytes(65536)):
                        pass
                except OSError:
                    os.close(filler)
                for attempt in range(2):  # the server that saw the disk fill, then one started on it
                    darkness = server.ipp("full", "Set-Printer-Attributes", group="printer",
                                          **{"printer-darkness-configured": ("integer", 70)})
                    self.assertTrue(darkness["status-code"].startswith("successful-ok"), darkness)
                    eventually(lambda: pathlib.Path(log).read_text().count("Cannot save the state") > attempt,
                               "a failed save")
                    self.assertEqual(pathlib.Path(path).read_text(), saved)
                    if attempt == 0:
                        server.process.kill()
                        server.process.wait(timeout=30)
                        server = start()
                        self.assertIn("printer-state", server.ipp("full", "Get-Printer-Attributes"))
                os.unlink(os.path.join(state, "filler"))
                eventually(lambda: "printer-darkness-configured 70" in pathlib.Path(path).read_text(),
                           "the save tried again", 30)
            finally:
                if server and server.process.poll() is None:
                    server.stop()
                subprocess.run(["umount", "-l", state], check=True)

    def unreadable_state(self):
        """A state file that is not one (empty, garbage) is kept aside, not emptied
        by the next save; the server starts without it and says so."""
        for content in (b"", b"\x89PNG\r\n\x1a\n<Printer id=\"1\">\n"):
            with tempfile.TemporaryDirectory() as state:
                write_file(state, "vdl-printer-app.state", content)
                server = Server(state)
                server.stop()
                kept = [n for n in os.listdir(state) if n.startswith("vdl-printer-app.state.unreadable-")]
                self.assertEqual([pathlib.Path(state, n).read_bytes() for n in kept], [content])
                self.assertIn("is not a whole state file", server.read_kept("server.log"))

    def deleted_mid_queue(self):
        """Deleting a printer with jobs waiting ends its worker and closes its connection."""
        _, relay = self.printer("deleted", "freeze")
        for n in (1, 2):
            self.submit("deleted", n)
        eventually(lambda: self.workers(relay) and relay.open_connections(), "the worker to connect")
        self.assertEqual(self.delete_printer("deleted"), "successful-ok")
        eventually(lambda: not self.workers(relay), "the worker to end", 10)
        eventually(lambda: not relay.open_connections(), "the connection to close", 10)

    def queued_jobs_in_order(self):
        """Jobs queued behind a hung printer print in the order they came; a
        job created among them (Create-Job) prints when its document comes,
        after the queue has run dry, and holds up none of them."""
        emulator, relay = self.printer("ordered", "freeze")
        jobs = [self.submit("ordered", n) for n in range(41, 46)]
        created = self.server.ipp("ordered", "Create-Job")["job-id"]
        jobs += [self.submit("ordered", n) for n in range(46, 51)]
        time.sleep(1)
        relay.mode = "pass"
        relay.close_all()
        for job_id in jobs:
            self.ended("ordered", job_id, 60)
        document = write_file(self.directory.name, "late.vdl", b"CB\rP99,1\r")
        self.server.ipp("ordered", "Send-Document", (document, "application/vnd.veldrin-commands"),
                        [("job-id", ("integer", created)), ("last-document", ("boolean", "true"))])
        self.assertEqual(self.ended("ordered", created, 30)["job-state"], "completed")
        self.assertEqual(self.printed(emulator), [*range(41, 51), 99])

    def document_never_sent(self):
        """A Create-Job whose document never comes holds up no job behind it, PWG
        raster included (PAPPL refuses a stream while it holds new jobs), and
        ends once its time is up (-o document-timeout, 2 s here); one whose
        document comes slower than that prints, and so does one released
        before its document came, or while it came, once it is in. A client's
        release meets the timeout's cancel of another job (each cancel is slowed
        by 1 s here) without a hang."""
        with tempfile.TemporaryDirectory() as state:
            slow_cancel = dict(os.environ, LD_PRELOAD=os.environ["VDL_FAKE_USB_NODE"], VDL_SLOW_CANCEL_MS="1000")
            server = Server(state, slow_cancel, options=("-o", "document-timeout=2"))
            self.addCleanup(lambda: server.process.poll() is None and server.stop())
            emulator, relay = self.printer("awaiting", "freeze", server=server)
            first = self.submit("awaiting", 61, server)
            start, created = time.monotonic(), server.ipp("awaiting", "Create-Job")["job-id"]
            relay.mode = "pass"
            relay.close_all()
            self.ended("awaiting", first, 30, server)
            page = write_file(state, "page.pgm", b"P5 406 203 255\n" + bytes(406 * 100) + b"\xff" * 406 * 103)
            subprocess.run([os.environ["VDL_PWG_PAGE"], f"{state}/page.pwg", "oe_2x1in_2x1in", "203", page], check=True)
            streamed = server.ipp("awaiting", "Print-Job", (f"{state}/page.pwg", "image/pwg-raster"))
            self.assertEqual(self.ended("awaiting", streamed.get("job-id"), 30, server)["job-state"], "completed")
            expired = self.ended("awaiting", created, 30, server)
            self.assertGreaterEqual(time.monotonic() - start, 2)
            self.assertEqual(expired["job-state"], "canceled", expired)
            # A document that takes longer to come than the timeout is on its way, not missing: it prints.
            slow = server.ipp("awaiting", "Create-Job")["job-id"]
            self.assertIn("200", self.send_document_slowly(server, "awaiting", int(slow), (b"CB\r", b"P62,", b"1\r"), 1.5))
            self.assertEqual(self.ended("awaiting", slow, 30, server)["job-state"], "completed")
            # Released before its document came, by an administrator's Release-Held-New-Jobs or by its client
            # (PAPPL starts a job released so, and crashed on its missing document): it waits for its document.
            released = server.ipp("awaiting", "Create-Job")["job-id"]
            for request, attributes in (("Hold-New-Jobs", []), ("Release-Held-New-Jobs", []),
                                        ("Release-Job", [("job-id", ("integer", released))])):
                server.ipp("awaiting", request, operation_attributes=attributes)
            document = write_file(state, "late.vdl", b"CB\rP63,1\r")
            server.ipp("awaiting", "Send-Document", (document, "application/vnd.veldrin-commands"),
                       [("job-id", ("integer", released)), ("last-document", ("boolean", "true"))])
            self.assertEqual(self.ended("awaiting", released, 30, server)["job-state"], "completed")
            # Released by its client while its document comes (PAPPL started it empty, and made the failed job
            # pending again for good once the document was in): it prints once its document is in.
            coming = server.ipp("awaiting", "Create-Job")["job-id"]
            with ThreadPoolExecutor(1) as pool:
                sent = pool.submit(self.send_document_slowly, server, "awaiting", int(coming), (b"CB\r", b"P64,", b"1\r"), 1)
                eventually(lambda: "job-incoming" in self.job("awaiting", coming, server, "job-state-reasons").get(
                    "job-state-reasons", ""), "the document to be on its way")
                server.ipp("awaiting", "Release-Job", operation_attributes=[("job-id", ("integer", coming))])
                self.assertIn("200", sent.result())
            self.assertEqual(self.ended("awaiting", coming, 30, server)["job-state"], "completed")
            self.assertEqual(self.printed(emulator), [61, 1, 62, 63, 64])
            # Released over a connection its client keeps while the timeout cancels another job (each held a lock
            # the other waited for: the server hung). Both expire in one look, the older first.
            expiring, waiting = (int(server.ipp("awaiting", "Create-Job")["job-id"]) for _ in range(2))
            release = self.job_request(server, "awaiting", 0xD, waiting)
            with socket.create_connection(("127.0.0.1", server.port), timeout=10) as http, http.makefile("rb") as answer:
                for _ in range(int(5 / 0.05)):  # past both expiries and the cancels' pauses
                    http.sendall(f"POST /ipp/print/awaiting HTTP/1.1\r\nHost: localhost:{server.port}\r\n"
                                 f"Content-Type: application/ipp\r\nContent-Length: {len(release)}\r\n\r\n".encode()
                                 + release)
                    head = answer.readline()
                    self.assertIn(b" 200 ", head)
                    while not head.endswith(b"\r\n\r\n"):
                        head += answer.readline() or self.fail("the connection closed")
                    answer.read(int(re.search(rb"Content-Length: (\d+)", head, re.I).group(1)))
                    time.sleep(0.05)
            for job_id in (expiring, waiting):
                self.assertEqual(self.ended("awaiting", job_id, 30, server)["job-state"], "canceled")
            server.stop()

    def held_by_the_administrator(self):
        """An administrator's Hold-New-Jobs while a job prints is taken: that job
        ends printed, the jobs after it are accepted and wait, hold-new-jobs shows,
        a PWG raster stream is refused (it cannot wait), and the hold survives a
        stop and a kill -9 after the save; Release-Held-New-Jobs prints them in order."""
        with tempfile.TemporaryDirectory() as state:
            server = Server(state)
            self.addCleanup(lambda: server.process.poll() is None and server.stop())
            emulator, relay = self.printer("held", "freeze", server=server)
            first = self.submit("held", 71, server)
            eventually(lambda: self.job("held", first, server, "job-state").get("job-state") == "processing", "job 1 to start")
            held = server.ipp("held", "Hold-New-Jobs")
            self.assertTrue(held.get("status-code", "").startswith("successful-ok"), held)
            jobs = [self.submit("held", n, server) for n in (72, 73)]
            relay.mode = "pass"
            relay.close_all()
            self.assertEqual(self.ended("held", first, 30, server)["job-state"], "completed")
            page = write_file(state, "page.pgm", b"P5 406 203 255\n" + bytes(406 * 203))
            subprocess.run([os.environ["VDL_PWG_PAGE"], f"{state}/page.pwg", "oe_2x1in_2x1in", "203", page], check=True)
            streamed = server.ipp("held", "Print-Job", (f"{state}/page.pwg", "image/pwg-raster"))
            self.assertEqual(streamed.get("status-code"), "server-error-not-accepting-jobs (Currently holding new jobs.)")
            path = os.path.join(state, "vdl-printer-app.state")
            for stop in ("terminate", "kill"):
                if stop == "kill":  # a job taken after the restart, and saved: the hold is in the same file
                    jobs.append(self.submit("held", 74, server))
                    eventually(lambda: re.search(rf'^Job .*\bid="{jobs[-1]}"', pathlib.Path(path).read_text(), re.M),
                               "the job to be saved")
                getattr(server.process, stop)()
                server.process.wait(timeout=30)
                server = Server(state)
                self.assertIn("hold-new-jobs", server.ipp("held", "Get-Printer-Attributes")["printer-state-reasons"])
                time.sleep(1.5)  # a job released by the restart would be under way by now
                for job_id in jobs:
                    self.assertEqual(self.job("held", job_id, server, "job-state")["job-state"], "pending-held")
            self.assertEqual(self.printed(emulator), [71])
            released = server.ipp("held", "Release-Held-New-Jobs")
            self.assertTrue(released.get("status-code", "").startswith("successful-ok"), released)
            for job_id in jobs:
                self.assertEqual(self.ended("held", job_id, 30, server)["job-state"], "completed")
            self.assertEqual(self.printed(emulator), [71, 72, 73, 74])
            self.assertNotIn("hold-new-jobs", server.ipp("held", "Get-Printer-Attributes")["printer-state-reasons"])
            server.stop()

    def busy_is_not_offline(self):
        """A healthy idle printer asked by many clients at once is never offline."""
        self.ended("healthy", self.submit("healthy", 1))
        with ThreadPoolExecutor(8) as pool:
            answers = list(pool.map(lambda _: self.reasons("healthy"), range(40)))
        self.assertEqual([a for a in answers if "offline" in a], [])

    def status_changes(self):
        """A cover opened at an idle printer shows within five seconds to a
        client that asks every fifth of a second (ten allowed here, for a busy
        test machine)."""
        _, relay = self.printer("changing")
        eventually(lambda: "none" in self.reasons("changing"), "the printer to be ready", 10)
        cover = Emulator("--status", "cover-open")
        self.addCleanup(cover.__exit__)
        relay.upstream_port = int(cover.port_name.split(":")[1])  # the same printer, its cover now open
        relay.close_all()
        start = time.monotonic()
        eventually(lambda: "cover-open" in self.reasons("changing"), "cover-open", 15)
        self.assertLess(time.monotonic() - start, 10)

    def status_after_quiet(self):
        """The first status request after a quiet spell, the cover opened
        meanwhile: the answer is at most five seconds old, never a stale "none"."""
        _, relay = self.printer("quiet")
        self.ended("quiet", self.submit("quiet", 1))
        cover = Emulator("--status", "cover-open")
        self.addCleanup(cover.__exit__)
        relay.upstream_port = int(cover.port_name.split(":")[1])
        relay.close_all()
        time.sleep(6)
        self.assertNotIn("none", self.reasons("quiet"))

    def printer_with_service(self, name, *options):
        """An emulator logging JSON lines, its status set through its render service, added as printer name."""
        emulator = Emulator("--json", "--no-preview", "--http", "0", *options)
        self.addCleanup(emulator.__exit__)
        self.added.append(name)
        added = self.server.app("add", "-d", name, "-m", "veldrin_203dpi", "-v", f"vdl://{emulator.port_name}")
        self.assertEqual(added.returncode, 0, added.stderr)
        return emulator

    @staticmethod
    def set_status(emulator, status):
        request = urllib.request.Request(f"{emulator.http_url}/status", data=json.dumps({"status": status}).encode(),
                                         headers={"Content-Type": "application/json"}, method="POST")
        urllib.request.urlopen(request, timeout=10).read()

    @staticmethod
    def logged(emulator, *texts):
        """The emulator's JSON log as (code, received, fields) of each command."""
        lines = [json.loads(line) for line in emulator.log(*texts).splitlines() if line.startswith("{")]
        return [(c.get("code"), c.get("received"), c.get("fields", {})) for c in lines if "code" in c]

    def paper_empty_after_the_label(self):
        """A confirmation that says paper empty: the label went out (the last
        answer, a second old, said ready), and the printer stopped before it
        printed. The job waits for the printer, not `completed`, and is
        confirmed once the printer answers ready, its message saying that the
        printer stopped."""
        emulator = self.printer_with_service("emptied")
        self.ended("emptied", self.submit("emptied", 41))
        self.set_status(emulator, "paper-empty")
        job_id = self.submit("emptied", 42)
        state = eventually(lambda: (lambda s: "Waiting for the printer: paper empty" in s.get("job-state-message", "")
                                    and s)(self.job("emptied", job_id)), "the job to wait for paper", 20)
        self.assertEqual((state["job-state"], state["job-state-reasons"]), ("processing", "printer-stopped"))
        self.assertEqual([f["first"] for code, _, f in self.logged(emulator, '"first":42') if code == "P"], [41, 42])
        self.set_status(emulator, 0)
        ended = self.ended("emptied", job_id, 20)
        self.assertEqual(ended["job-state"], "completed")
        self.assertIn("the printer stopped after it took the job (paper empty)", ended["job-state-message"])

    def cancelled_while_its_confirmation_waits(self):
        """A job cancelled while its confirmation waits for paper: the whole
        job reached the printer, so its end says that its labels may still
        print (not that the rest was held back), and the next job goes out
        once the printer is ready, the cancelled one not again."""
        emulator = self.printer_with_service("held")
        self.ended("held", self.submit("held", 61))
        self.set_status(emulator, "paper-empty")
        job_id = self.submit("held", 62)
        eventually(lambda: "Waiting for the printer: paper empty" in self.job("held", job_id).get(
            "job-state-message", ""), "the job to wait for paper", 20)
        self.server.app("cancel", "-j", job_id, printer="held")
        ended = self.ended("held", job_id, 20)
        self.assertEqual(ended["job-state"], "canceled")
        self.assertIn("the whole job was sent", ended["job-state-message"])
        self.set_status(emulator, 0)
        self.ended("held", self.submit("held", 63), 20)
        printed = [f["first"] for code, _, f in self.logged(emulator, '"first":63') if code == "P"]
        self.assertEqual(printed, [61, 62, 63])

    def label_after_a_pause(self):
        """Labels 2 s and 6 s after the last job go out at once: the printer's
        answer is kept younger than five seconds for a minute after a job, so
        no status query stands between the submission and the label."""
        emulator = self.printer_with_service("paused")
        self.ended("paused", self.submit("paused", 51))
        for pause, label in ((2, 52), (6, 53)):
            time.sleep(pause)
            self.ended("paused", self.submit("paused", label))
            commands = self.logged(emulator, f'"first":{label}')
            [(_, arrived)] = [(c, r) for c, r, f in commands if c == "P" and f["first"] == label]
            queries = [r for c, r, _ in commands if c == "^cu" and arrived - 1.0 < r < arrived]
            self.assertEqual(queries, [], f"a status query just before label {label}")

    def cancelled_while_waiting_freed(self):
        """A picture job cancelled while it waits for a printer in error ends
        `canceled`; PAPPL calls no end of job after such a failed start, so the
        start frees the job's record and ends the job itself (under the
        sanitizers: no report, and the server stops cleanly)."""
        with tempfile.TemporaryDirectory() as state:
            server = Server(state)
            self.addCleanup(lambda: server.process.poll() is None and server.stop())
            emulator = Emulator("--status", "cover-open")
            self.addCleanup(emulator.__exit__)
            added = server.app("add", "-d", "covered", "-m", "veldrin_203dpi", "-v", f"vdl://{emulator.port_name}")
            self.assertEqual(added.returncode, 0, added.stderr)
            job_id = server.ipp("covered", "Print-Job", (self.noise, "image/png"))["job-id"]
            eventually(lambda: "Waiting for the printer: cover open" in self.job("covered", job_id, server).get(
                "job-state-message", ""), "the job to wait", 20)
            server.app("cancel", "-j", job_id, printer="covered")
            self.assertEqual(self.ended("covered", job_id, 10, server)["job-state"], "canceled")
            server.stop()
            self.assertNotIn("Sanitizer", server.standard_error())

    FAULTS = [  # (fault, scenario, seconds it may take at most)
        ("slow link", slow_link, 120),
        ("printer killed mid-job and restarted", killed_mid_job, 90),
        ("job cancelled while its label is sent", cancelled_while_sent, 40),
        ("raw job cancelled between its copies", cancelled_between_copies, 30),
        ("picture bombs on two printers at once", picture_bombs, 30),
        ("printer that accepts and never answers", partial(waits_unprinted, name="hung", mode="freeze"), 60),
        ("worker stopped, then killed", worker_stopped_then_killed, 60),
        ("server stopped with jobs queued (one named across two lines), started again", stopped_with_jobs_queued, 90),
        ("printer deleted mid-queue", deleted_mid_queue, 40),
        ("printer that closes the connection after every command",
         partial(waits_unprinted, name="closing", mode="close"), 60),
        ("queued jobs", queued_jobs_in_order, 90),
        ("Create-Job whose document never comes, comes slowly, or is released before it comes", document_never_sent, 60),
        ("administrator's Hold-New-Jobs while jobs flow, stop and kill -9", held_by_the_administrator, 90),
        ("bursts of status requests", busy_is_not_offline, 60),
        ("printer out of reach", partial(waits_unprinted, name="unreachable", mode="gone"), 60),
        ("status changed at an idle printer", status_changes, 30),
        ("first status request after a quiet spell", status_after_quiet, 30),
        ("state directory on a full disk, server killed", full_disk, 60),
        ("state file unreadable at start", unreadable_state, 30),
        ("private server left idle", private_server_left_idle, 60),
        ("sub-commands at once with no server running", subcommands_at_once_without_a_server, 30),
        ("server stopped at any moment of its start", stopped_at_any_moment_of_its_start, 120),
        ("confirmation that says paper empty", paper_empty_after_the_label, 40),
        ("job cancelled while its confirmation waits for paper", cancelled_while_its_confirmation_waits, 40),
        ("labels 2 s and 6 s after a job", label_after_a_pause, 40),
        ("picture job cancelled while it waits for its printer, server stopped", cancelled_while_waiting_freed, 40),
    ]

    def test_faults(self):
        only = os.environ.get("VDL_FAULT")  # one row by name, when chasing it
        for name, scenario, limit in self.FAULTS:
            if only and only not in name:
                continue
            start = time.monotonic()
            try:  # the first fault that fails ends the test: its cause is the first to read
                scenario(self)
            except Exception as error:
                raise AssertionError(f"{name}: {error}") from error
            self.assertLess(time.monotonic() - start, limit, name)


if __name__ == "__main__":
    unittest.main()
