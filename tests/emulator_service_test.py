"""vdl-emulator's offline renderer and render service as users meet them: the
program on files, urllib, raw sockets, zbarimg and headless Chromium."""

import base64
import concurrent.futures
import json
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from emulator import Emulator  # noqa: E402

EMULATOR = os.path.abspath(os.environ["VDL_EMULATOR"])
SAMPLE = os.path.join(os.path.dirname(EMULATOR), "sample_label")
LOGO = os.path.abspath(os.path.join(HERE, "..", "examples", "logo.bmp"))
MALFORMED = b"SSx\rP1,1\r"
PRINT = b"P1,1\r"
JSON = {"Content-Type": "application/json"}
# 200 slanted lines across paper of 6000 x 6000 dots: minutes of drawing without a bound.
LINES = b"SW6000\rSL6000,24,G,0\r" + b"BD0,0,5999,5999,S,1\r" * 200 + PRINT


def run(*args, stdin=b""):
    return subprocess.run([EMULATOR, *args], input=stdin, capture_output=True, timeout=60)


def request(url, body=None, accept=None, headers=None):
    """(status, headers, body) of one request."""
    headers = dict(headers or {}, **({"Accept": accept} if accept else {}))
    try:
        with urllib.request.urlopen(urllib.request.Request(url, data=body, headers=headers), timeout=20) as answer:
            return answer.status, answer.headers, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


def send_to_printer_port(emulator, stream):
    host, port = emulator.port_name.split(":")
    with socket.create_connection((host, int(port)), timeout=10) as connection:
        connection.sendall(stream)


class EmulatorServiceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        """The sample label printed on the printer port, its bytes captured."""
        cls.directory = tempfile.mkdtemp()
        cls.emulator = Emulator("--http", "0", "--capture", cls.directory, "--http-allow-host", "printer.test")
        subprocess.run([SAMPLE, cls.emulator.port_name, LOGO], check=True, capture_output=True, timeout=60)
        cls.emulator.log("closed")
        cls.stream_path = os.path.join(cls.directory, "connection-1.prn")
        with open(cls.stream_path, "rb") as file:
            cls.stream = file.read()
        with open(cls.emulator.preview(1), "rb") as file:
            cls.preview = file.read()

    @classmethod
    def tearDownClass(cls):
        cls.emulator.__exit__()
        shutil.rmtree(cls.directory)

    def url(self, path):
        return self.emulator.http_url + path

    def http_address(self):
        host, port = self.emulator.http_url.rsplit("/", 1)[1].split(":")
        return host, int(port)

    def test_offline_render_draws_what_the_printer_port_drew(self):
        for source, stdin in [(self.stream_path, b""), ("-", self.stream), (self.stream_path, b"")]:
            with self.subTest(source=source), tempfile.TemporaryDirectory() as out:
                result = run("render", source, "-o", out, "--strict", stdin=stdin)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(os.path.join(out, "label-0001.png"), "rb") as file:
                    self.assertEqual(file.read(), self.preview)
                with open(os.path.join(out, "log.txt")) as file:
                    self.assertIn("P print: first=1 second=1", file.read())

    def test_offline_render_translates_zpl(self):
        label = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zpl", "shipping_ground.zpl")
        with tempfile.TemporaryDirectory() as out:
            result = run("render", label, "-o", out, "--strict")
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(os.path.join(out, "log.txt")) as file:
                self.assertIn("data=\"1Z999AA10123456784\"", file.read())
            result = run("render", "-", "-o", out, stdin=b"^XA^FO0,0^FDx")
        self.assertEqual((result.returncode, result.stderr), (1, b"-:1:1: the label begun here has no ^XZ; not printed\n"))

    def test_strict_fails_on_commands_that_are_not_good(self):
        # (stream, options, exit status, text on standard error)
        cases = [
            (MALFORMED, ["--strict"], 1, b'1.1 MALFORMED SS speed: speed "x"'),
            (b"\x00garbage\rP1,1\r", ["--strict"], 1, b"1.1 UNKNOWN"),
            (b"T1,1,3,1,1,0,0,N,N,'cut", ["--strict", "--json"], 1, b"1.1 TRUNCATED T"),
            (MALFORMED, [], 0, b"1 command that is not good (see the log)"),
        ]
        for stream, options, status, said in cases:
            with self.subTest(stream=stream, options=options), tempfile.TemporaryDirectory() as out:
                result = run("render", "-", "-o", out, *options, stdin=stream)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(said, result.stderr)
                self.assertTrue(os.path.exists(os.path.join(out, "log.jsonl" if "--json" in options else "log.txt")))

    def test_render_request_answers_the_label(self):
        status, headers, png = request(self.url("/render"), self.stream)
        self.assertEqual((status, headers["Content-Type"], png), (200, "image/png", self.preview))
        with tempfile.NamedTemporaryFile(suffix=".png") as file:
            file.write(png)
            file.flush()
            read = subprocess.run(["zbarimg", "-q", file.name], capture_output=True, text=True, timeout=60).stdout
        self.assertIn("QR-Code:https://example.com/t/PKG-000123456", read)
        self.assertIn("CODE-128:PKG-000123456", read)

        status, _, body = request(self.url("/render"), self.stream, accept="application/json")
        answer = json.loads(body)
        label = answer["labels"][0]
        self.assertEqual((status, base64.b64decode(label["png"])), (200, self.preview))
        self.assertEqual([line["code"] for line in answer["log"]][-2:], ["P", "^cu"])
        qr = next(line for line in answer["log"] if line.get("code") == "B2")
        self.assertIn(qr["sequence"], [element["sequence"] for element in label["elements"]])
        # Paper and resolution from the query, where the stream sets none.
        _, _, body = request(self.url("/render?dpi=300&paper=2x3&label=2"), b"P1,1\r" * 2, accept="application/json")
        self.assertEqual([(label["number"], label["width"], label["height"]) for label in json.loads(body)["labels"]],
                         [(2, 600, 900)])

    def test_a_stream_made_to_be_slow_is_cut_short_while_others_are_answered(self):
        # 200 kB of the slowest element, posted as a form (urllib's type, as curl --data-binary's): read whole.
        heavy = b"SW6000\rSL6000,24,G,0\r" + b"BD0,0,5999,5999,S,1\r" * 10000 + PRINT
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            started = time.monotonic()
            slow = pool.submit(request, self.url("/render"), heavy, "application/json")
            time.sleep(0.3)  # the heavy render is drawing
            probe = time.monotonic()
            self.assertEqual(request(self.url("/render"), self.stream)[::2], (200, self.preview))
            probe = time.monotonic() - probe
            status, _, body = slow.result()
            heavy_seconds = time.monotonic() - started
        self.assertEqual(status, 200)
        self.assertIn("drawing work was spent", json.dumps(json.loads(body)["warnings"]))
        # The bounds of the docs: the heavy one within 5 s, the other within 1 s (given room on a busy
        # machine), and the memory of a render: 150 MB at worst, 2 drawing at once, besides the store.
        print(f"heavy render {heavy_seconds:.2f} s, sample label meanwhile {probe:.2f} s", file=sys.stderr)
        slower = 5 if os.environ.get("VDL_SANITIZED") == "1" else 1  # the sanitizers' build draws slower
        self.assertLess(heavy_seconds, 10 * slower)
        self.assertLess(probe, 3 * slower)
        if slower > 1:
            return  # the sanitizers' allocator keeps freed memory for a while, and has its own
        with open(f"/proc/{self.emulator._process.pid}/status") as status_file:
            memory = status_file.read()
        peak, now = (int(re.search(rf"{name}:\s+(\d+) kB", memory).group(1)) // 1024 for name in ("VmHWM", "VmRSS"))
        self.assertLess(peak, 400, "MB at the emulator's peak")
        self.assertLess(now, 100, "MB kept after the renders")

    def test_idle_connections_do_not_keep_requests_out(self):
        idle = [socket.create_connection(self.http_address(), timeout=30) for _ in range(100)]
        try:
            started = time.monotonic()
            self.assertEqual(request(self.url("/status"))[0], 200)
            self.assertLess(time.monotonic() - started, 5)
        finally:
            for connection in idle:
                connection.close()

    def test_concurrent_requests_each_get_their_label(self):
        with concurrent.futures.ThreadPoolExecutor(6) as pool:
            answers = list(pool.map(lambda _: request(self.url("/render"), self.stream), range(12)))
        self.assertEqual({(status, png == self.preview) for status, _, png in answers}, {(200, True)})

    def test_bad_requests_are_refused_with_reasons(self):
        port = self.http_address()[1]
        evil = {"Origin": "http://evil.test", **JSON}
        # (path, body, headers, status, text in the answer)
        cases = [
            ("/render?strict=1", MALFORMED, {}, 400, b'1.1 MALFORMED SS speed: speed "x"'),
            ("/render?strict=1", b"T5000,10,3,1,1,0,0,N,N,'far'\r" + PRINT, {}, 400, b"1.1 T lies off the 812x1218"),
            ("/render", b"SS3\r", {}, 400, b"printed no label"),
            ("/render?dpi=2x", PRINT, {}, 400, b"dpi takes"),
            ("/render?paper=4x", PRINT, {}, 400, b"paper takes"),
            ("/render?label=2", PRINT, {}, 404, b"printed 1 labels"),
            ("/render", PRINT * (8 << 20) + b"!", {}, 413, b"larger than 16 MiB"),
            ("/render", PRINT, {"Content-Encoding": "gzip"}, 400, b"could not be read whole"),
            ("/render?strict=true", PRINT, {}, 400, b"strict takes 1"),
            ("/render?strict=0&strict=1", PRINT, {}, 400, b"strict takes 1"),
            ("/render?from=pdf", PRINT, {}, 400, b"from takes zpl"),
            ("/render?from=zpl", b"^XA^FO0,0", {}, 400, b"1:1: the label begun here has no ^XZ"),
            ("/render?from=zpl&strict=1", b"^XA^HH^XZ", {}, 400, b"ZPL 1:4: ^HH is not supported; skipped"),
            ("/render?from=zpl", b"^XA^FO0,0^GB9,9,9^FS^XZ" * 101, {}, 400, b"prints 101 labels, more than the 100"),
            ("/render", PRINT, {"Accept": "text/html, image/*;q=0"}, 406, b"answers image/png, application/json or application/pdf"),
            ("/labels/99.pdf", None, {}, 404, b"no label 99"),
            ("/render", PRINT, {"Origin": "http://evil.test"}, 403, b"another site's page"),
            ("/labels/99.png", None, {}, 404, b"no label 99"),
            ("/status", b'{"status": "cover-closed"}', JSON, 400, b"error names"),
            ("/status", b'{"status": 256}', JSON, 400, b"0-255"),
            # What another site's page can send: a form, plain text, anything with its Origin.
            ("/status", b"cover-open", {}, 415, b"application/json"),
            ("/status", b"cover-open", {"Content-Type": "text/plain"}, 415, b"application/json"),
            ("/status", b'{"status": 64}', evil, 403, b"(Origin http://evil.test)"),
            ("/status", b'{"status": 64}', {"Origin": "null", **JSON}, 403, b"another site's page"),
            ("/status", b'{"status": 64}', {"Sec-Fetch-Site": "cross-site", **JSON}, 403, b"Sec-Fetch-Site cross-site"),
            ("/status", b'{"status": 64}', {"Host": f"evil.test:{port}", "Origin": f"http://evil.test:{port}", **JSON}, 421,
             b'not to Host "evil.test:'),
            ("/labels", None, {"Host": "evil.test"}, 421, b'not to Host "evil.test"'),
            ("/labels", None, {"Host": f"printer.test:{port + 1}"}, 421, b"--http-allow-host"),
            ("/nothing", None, {}, 404, b"no such resource"),
        ]
        for path, body, headers, status, said in cases:
            with self.subTest(path=path, body=body[:20] if body else None, headers=headers):
                answer = request(self.url(path), body, headers=headers)
                self.assertEqual(answer[0], status, answer[2][:200])
                self.assertIn(said, answer[2])
        # What the service's own page and local clients send.
        for path, body, headers in [("/labels", None, {"Host": f"localhost:{port}"}),
                                    ("/labels", None, {"Host": f"printer.test:{port}"}),
                                    ("/status", b'{"status": 0}', {"Origin": self.emulator.http_url, **JSON}),
                                    ("/status", b'{"status": "0"}', {"Sec-Fetch-Site": "same-origin", **JSON})]:
            with self.subTest(path=path, headers=headers):
                self.assertEqual(request(self.url(path), body, headers=headers)[0], 200)

    def test_render_draws_what_it_can_and_warns(self):
        off_paper = (b"T5000,10,3,1,1,0,0,N,N,'far'\rB1900,10,1,2,4,100,0,0,'123'\rB1700,10,1,2,4,100,0,0,'123'\r"
                     b"XYZ\r" + PRINT)
        # (query, stream, Accept, type answered, (width, height) or None, the warnings' beginnings)
        cases = [
            ("?dpi=1200&paper=4x6", PRINT, None, "image/png", (4800, 6000), ["paper 4x6 in at 1200 dpi is 4800x7200 dots"]),
            ("?dpi=2000&paper=1x1", PRINT, None, "image/png", (1200, 1200), ["dpi 2000 taken as 1200"]),
            ("", off_paper, None, "image/png", (812, 1218),
             ["1.4 UNKNOWN", "label 1: 1.1 T lies off", "label 1: 1.2 B1 lies off", "label 1: 1.3 B1 is partly off"]),
            ("", LINES, None, "image/png", (6000, 6000), ["1.203 P: the label's drawing work was spent"]),
            ("", PRINT, "image/png, application/json;q=0", "image/png", None, []),
            ("", PRINT, "application/json; Q = 0, image/png;q=0.5", "image/png", None, []),
            ("", PRINT, "application/json;charset=q=0", "application/json", None, []),
            ("", PRINT, "application/json, image/png;q=0.5", "application/json", None, []),
            ("", PRINT, "image/*;q=0.2, */*;q=0.9", "application/json", None, []),
            ("", PRINT, "image/png;q=0.5, application/pdf;q=0.8", "application/pdf", None, []),
        ]
        for query, stream, accept, answered, size, warnings in cases:
            with self.subTest(query=query, stream=stream[:30], accept=accept):
                started = time.monotonic()
                status, headers, body = request(self.url("/render" + query), stream, accept=accept)
                self.assertLess(time.monotonic() - started, 10)  # the drawing work is bounded
                self.assertEqual((status, headers["Content-Type"], headers["X-Warnings"]),
                                 (200, answered, str(len(warnings))), body[:300])
                if size:
                    self.assertEqual(re.findall(rb"^\x89PNG.{12}(.{8})", body, re.S)[0],
                                     size[0].to_bytes(4, "big") + size[1].to_bytes(4, "big"))
                    _, _, body = request(self.url("/render" + query), stream, accept="application/json")
                    said = json.loads(body)["warnings"]
                    self.assertEqual([w[:len(start)] for w, start in zip(said, warnings)], warnings, said)

    def test_pdf_has_a_page_per_label_the_label_s_size(self):
        three = b"BD0,0,99,99,O\r" + PRINT + b"SW406\rSL203,24,G,0\r" + PRINT + b"SW203\r" + PRINT
        # (path, body, each page's size in points: dots / dpi * 72)
        cases = [("/render", three, [(288, 432), (144, 72), (72, 72)]),
                 ("/render?label=2&dpi=300", three, [(97.44, 48.72)]),
                 ("/labels/1.pdf", None, [(288, 432)])]
        for path, body, sizes in cases:
            with self.subTest(path=path), tempfile.NamedTemporaryFile(suffix=".pdf") as file:
                status, headers, pdf = request(self.url(path), body, accept="application/pdf")
                self.assertEqual((status, headers["Content-Type"]), (200, "application/pdf"), pdf[:200])
                file.write(pdf)
                file.flush()
                info = subprocess.run(["pdfinfo", "-f", "1", "-l", "999", file.name], capture_output=True, text=True,
                                      timeout=60, check=True).stdout
                self.assertEqual([(float(w), float(h)) for w, h in re.findall(r"Page +\d+ size: +([\d.]+) x ([\d.]+)", info)],
                                 sizes)
        # Page 1 at the label's resolution: the 100 x 100 dots of its block, black, in its top left corner.
        with tempfile.TemporaryDirectory() as directory:
            with open(os.path.join(directory, "three.pdf"), "wb") as file:
                file.write(request(self.url("/render"), three, accept="application/pdf")[2])
            subprocess.run(["pdftoppm", "-r", "203", "-l", "1", "-gray", "-aa", "no", "-aaVector", "no", file.name,
                            os.path.join(directory, "page")], check=True, timeout=60)
            with open(os.path.join(directory, "page-1.pgm"), "rb") as page:
                header, dots = re.match(rb"P5\s+(\d+)\s+\d+\s+255\s(.*)", page.read(), re.S).groups()
        width = int(header)
        self.assertEqual(sum(dot < 128 for dot in dots), 100 * 100)
        self.assertEqual((dots[99 * width + 99], dots[100 * width + 100]), (0, 255))

    def test_printer_port_labels_log_and_status(self):
        _, _, labels = request(self.url("/labels"))
        self.assertIn(1, [label["number"] for label in json.loads(labels)["labels"]])
        self.assertEqual(request(self.url("/labels/1.png"))[2], self.preview)
        self.assertIn(b"P print: first=1 second=1", request(self.url("/log"))[2])
        self.assertEqual(request(self.url("/status"), b'{"status": "cover-open,paper-empty"}', headers=JSON)[0], 200)
        host, port = self.emulator.port_name.split(":")
        with socket.create_connection((host, int(port)), timeout=10) as connection:
            connection.sendall(b"^cu\r")
            self.assertEqual(connection.recv(1), b"\xc0")
        request(self.url("/status"), b'{"status": 0}', headers=JSON)

    def test_random_bytes_do_not_stop_the_service(self):
        for garbage in [os.urandom(4096), b"GET /" + b"x" * 70000 + b" HTTP/1.1\r\n\r\n", b"POST /render HTTP/1.1\r\n"]:
            with socket.create_connection(self.http_address(), timeout=10) as connection:
                connection.sendall(garbage)
                connection.shutdown(socket.SHUT_WR)
                connection.settimeout(10)
                while connection.recv(65536):
                    pass
        self.assertEqual(request(self.url("/status"))[0], 200)

    def test_slow_and_idle_clients_are_let_go(self):
        """A request trickling in a byte at a time is cut off at its deadline (10 s), while the printer port's
        connections, held open and silent, are closed after 15 s, and one that sends a byte now and then but no
        command gives way when the port is full; the port says why it refuses meanwhile."""
        def trickle():
            with socket.create_connection(self.http_address(), timeout=30) as connection:
                started = time.monotonic()
                try:
                    for byte in b"GET /status HTTP/1.1\r\nHost: localhost\r\nX-Slow: " + b"x" * 100:
                        connection.sendall(bytes([byte]))
                        if select.select([connection], [], [], 0.5)[0]:
                            break
                    return time.monotonic() - started, connection.recv(100)
                except OSError as error:
                    return time.monotonic() - started, str(error).encode()
        with concurrent.futures.ThreadPoolExecutor(1) as pool, Emulator() as emulator:
            slow = pool.submit(trickle)
            address = emulator.port_name.split(":")
            port = (address[0], int(address[1]))
            idle = [socket.create_connection(port, timeout=30) for _ in range(8)]
            talking = [socket.create_connection(port, timeout=30) for _ in range(8)]  # a byte now and then, no command
            stop = threading.Event()
            talker = threading.Thread(target=lambda: [c.sendall(b"X") for _ in iter(lambda: stop.wait(4), True)
                                                      for c in talking])
            talker.start()
            try:
                started = time.monotonic()
                with socket.create_connection(port, timeout=10) as refused:
                    self.assertEqual(refused.recv(1), b"")
                self.assertTrue(select.select([emulator._process.stderr], [], [], 5)[0])
                self.assertIn("refused a connection from 127.0.0.1", emulator._process.stderr.readline())
                self.assertEqual([connection.recv(1) for connection in idle], [b""] * 8)  # silent for 15 s
                self.assertTrue(14 < time.monotonic() - started < 25, time.monotonic() - started)
                # The port full again: the talker that sent no whole command for longest makes room.
                idle = [socket.create_connection(port, timeout=30) for _ in range(8)]
                with socket.create_connection(port, timeout=10) as connection:
                    connection.sendall(b"^cu\r")
                    self.assertEqual(connection.recv(1), b"\x00")
                self.assertEqual(len(select.select(talking, [], [], 5)[0]), 1)
            finally:
                stop.set()
                talker.join()
                for connection in idle + talking:
                    connection.close()
            took, answer = slow.result()
            self.assertTrue(9 < took < 16, took)
            self.assertIn(b"408", answer)

    def test_the_ci_snapshot_recipe_as_documented(self):
        with open(os.path.join(HERE, "..", "docs", "emulator.md")) as file:
            docs = file.read()
        section = docs[docs.index("### A snapshot test for CI"):]
        recipe = "\n".join(line[4:] for line in re.search(r"\n\n((?:    .*\n)+)", section).group(1).splitlines())
        # (what my-app does, the recipe's exit status is 0, seconds it may take)
        cases = [(f'exec "{SAMPLE}" "$1" "{LOGO}"', True, 60), ("exit 0", False, 20)]
        for app, passes, limit in cases:
            with self.subTest(app=app), tempfile.TemporaryDirectory() as directory:
                os.makedirs(os.path.join(directory, "tests", "expected"))
                shutil.copy(self.emulator.preview(1), os.path.join(directory, "tests", "expected", "label-0001.png"))
                with open(os.path.join(directory, "my-app"), "w") as file:
                    file.write("#!/bin/sh\n" + app + "\n")
                os.chmod(os.path.join(directory, "my-app"), 0o755)
                started = time.monotonic()
                result = subprocess.run(["bash", "-c", recipe], cwd=directory, capture_output=True, timeout=120,
                                        env=dict(os.environ, PATH=os.path.dirname(EMULATOR) + ":" + os.environ["PATH"]))
                self.assertEqual(result.returncode == 0, passes, result.stderr)
                self.assertLess(time.monotonic() - started, limit)

    @unittest.skipUnless(shutil.which("chromium"), "chromium is not installed")
    def test_another_site_s_page_changes_nothing(self):
        os.environ.setdefault("VDL_PRINTER_APP", "")
        from printer_app_test import Browser, eventually
        status = self.url("/status")
        # What a page of another origin can send without asking: a text/plain fetch and a plain form.
        page = (f'<form id="f" method="post" action="{status}" enctype="text/plain">'
                f'<input name=\'{{"status": 192, "x": "\' value=\'"}}\'></form><script>'
                f'fetch("{status}", {{method: "POST", mode: "no-cors", headers: {{"Content-Type": "text/plain"}},'
                f' body: \'{{"status": 193}}\'}}).finally(() => document.getElementById("f").submit());</script>')
        with tempfile.TemporaryDirectory() as site:
            with open(os.path.join(site, "index.html"), "w") as file:
                file.write(page)
            server = subprocess.Popen([sys.executable, "-m", "http.server", "0", "--bind", "127.0.0.1", "-d", site],
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            browser = Browser(self.directory)
            try:
                other = re.search(r"port (\d+)", server.stdout.readline()).group(1)
                browser.call("Page.navigate", url=f"http://127.0.0.1:{other}/")  # it goes on to the form's answer
                eventually(lambda: "another site's page" in (browser.evaluate("document.body.textContent") or ""),
                           "the form's refusal")
            finally:
                browser.close()
                server.kill()
                server.wait()
        self.assertEqual(json.loads(request(status)[2])["status"], 0)

    @unittest.skipUnless(shutil.which("chromium"), "chromium is not installed")
    def test_live_page_shows_labels_as_they_print(self):
        os.environ.setdefault("VDL_PRINTER_APP", "")  # the module names the program it tests; not needed here
        from printer_app_test import Browser, eventually
        browser = Browser(self.directory)
        streams = []
        try:
            # Eight streams open: the page's own is refused (503), and it tries again once one closes.
            for _ in range(8):
                streams.append(socket.create_connection(self.http_address(), timeout=10))
                streams[-1].sendall(b"GET /events HTTP/1.1\r\nHost: localhost:%d\r\n\r\n" % self.http_address()[1])
                self.assertIn(b"200 OK", streams[-1].recv(4096))
            browser.open(self.url("/"))
            connection = "document.querySelector('#connection').textContent"
            eventually(lambda: browser.evaluate("document.querySelectorAll('#status input').length") == 7 and
                       browser.evaluate(connection) == "reconnecting…", "the live page refused its stream")
            for stream in streams:
                stream.close()
            eventually(lambda: browser.evaluate(connection) == "live", "the live page", limit=60)
            send_to_printer_port(self.emulator, b"T40,40,8,1,1,0,0,N,N,'<script>window.ran=1</script>'\r"
                                                b"BD10,10,100,100,B,3\rP1,1\r")
            shown = eventually(lambda: browser.evaluate(
                "[...document.querySelectorAll('#commands li')].map(li => li.textContent).join('\\n')"
                " .includes('<script>window.ran=1</script>') && document.querySelector('#preview').naturalWidth"),
                "the new label on the page", limit=60)  # Chromium on a loaded machine
            self.assertEqual(shown, 812)
            self.assertIsNone(browser.evaluate("window.ran"))
            browser.evaluate("document.querySelector('#commands li.drawn').click()")
            self.assertEqual(browser.evaluate("document.querySelector('#highlight').style.display"), "block")
            # The status: set by another client, shown on the page; set on the page, taken by the service.
            box = "document.querySelector('#status input[name=\"%s\"]')"
            request(self.url("/status"), b'{"status": "cover-open"}', headers=JSON)
            eventually(lambda: browser.evaluate(box % "cover-open" + ".checked"), "the status another client set")
            browser.evaluate(box % "paper-empty" + ".click()")
            eventually(lambda: json.loads(request(self.url("/status"))[2])["status"] == 0xC0, "the status the page set")
            # The editor: what is typed drawn once the typing pauses, as CR-ended commands (a text's line ended by
            # LF alone would take in the print), its warnings beside it.
            type_in = "(() => { const e = document.querySelector('#editor'); e.value = %s; e.dispatchEvent(new Event('input')); })()"
            texts = "[...document.querySelectorAll('%s li')].map(li => li.textContent).join('\\n')"
            for text, width, warning in [("SW250\nSSx\nP1,1\n", 250,
                                          '1.2 MALFORMED SS speed: speed "x" is not a 32-bit decimal number; 4 bytes "SSx\\x0D"'),
                                         ("^XA^PW320^LL200^FO10,10^A0N,30^FDHi^FS^HH^XZ", 320,
                                          "ZPL 1:39: ^HH is not supported; skipped"),
                                         ("SW300\nSL200,24,G,0\nT20,20,5,1,1,0,0,N,N,'Hi'\nBD0,0,99,99,O\nP1,1", 300, "")]:
                started = time.monotonic()
                browser.evaluate(type_in % json.dumps(text))
                eventually(lambda: browser.evaluate("document.querySelector('#preview').naturalWidth") == width,
                           "the preview of what was typed", limit=5)
                self.assertLess(time.monotonic() - started, 5)
                self.assertEqual(browser.evaluate(texts % "#warnings"), warning)
            browser.evaluate("document.querySelector('#commands li.drawn').click()")
            self.assertEqual(browser.evaluate("document.querySelector('#highlight').style.display"), "block")
            # Turned, the paper takes the label's turned size; dots are drawn unsmoothed only when enlarged.
            style = "document.querySelector('#%s').style"
            turn = "(() => { const s = document.querySelector('#rotation'); s.value = '%d'; s.dispatchEvent(new Event('change')); })();"
            for action, paper, rendering in [(turn % 90 + "zoom = 2; layout()", ("400px", "600px"), "pixelated"),
                                              (turn % 180 + "zoom = 0.5; layout()", ("150px", "100px"), "auto")]:
                browser.evaluate(action)
                self.assertEqual((browser.evaluate(style % "paper" + ".width"), browser.evaluate(style % "paper" + ".height"),
                                  browser.evaluate(style % "preview" + ".imageRendering")), (*paper, rendering))
            # Saving: the draft's PNG as shown, and its stream rendered as a PDF (the links' clicks and blobs kept).
            browser.evaluate("window.saved = []; HTMLAnchorElement.prototype.click = function () { saved.push(this); };"
                             "URL.createObjectURL = ((make) => (blob) => { window.pdf = blob; return make(blob); })"
                             "(URL.createObjectURL); for (const type of ['png', 'pdf']) document.querySelector('#save-' + type).click()")
            eventually(lambda: browser.evaluate("saved.length == 2"), "the PDF to save")
            saved = browser.call("Runtime.evaluate", awaitPromise=True, returnByValue=True, expression=(
                "Promise.all([...saved.map((a) => a.download), saved[0].href == document.querySelector('#preview').src,"
                " pdf.slice(0, 5).text()])"))
            self.assertEqual(saved["result"].get("value"), ["draft-1.png", "draft-1.pdf", True, "%PDF-"], saved)
        finally:
            for stream in streams:
                stream.close()
            request(self.url("/status"), b'{"status": 0}', headers=JSON)
            browser.close()

if __name__ == "__main__":
    unittest.main()
