"""vdl-emulator's offline renderer and render service as users meet them: the
program on files, urllib, raw sockets, zbarimg and headless Chromium."""

import base64
import concurrent.futures
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from emulator import Emulator  # noqa: E402

EMULATOR = os.environ["VDL_EMULATOR"]
SAMPLE = os.path.join(os.path.dirname(EMULATOR), "sample_label")
LOGO = os.path.join(HERE, "..", "examples", "logo.bmp")
MALFORMED = b"SSx\rP1,1\r"


def run(*args, stdin=b""):
    return subprocess.run([EMULATOR, *args], input=stdin, capture_output=True, timeout=60)


def request(url, body=None, accept=None):
    """(status, headers, body) of one request."""
    headers = {"Accept": accept} if accept else {}
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
        cls.emulator = Emulator("--http", "0", "--capture", cls.directory)
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

    def test_offline_render_draws_what_the_printer_port_drew(self):
        for source, stdin in [(self.stream_path, b""), ("-", self.stream), (self.stream_path, b"")]:
            with self.subTest(source=source), tempfile.TemporaryDirectory() as out:
                result = run("render", source, "-o", out, "--strict", stdin=stdin)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(os.path.join(out, "label-0001.png"), "rb") as file:
                    self.assertEqual(file.read(), self.preview)
                with open(os.path.join(out, "log.txt")) as file:
                    self.assertIn("P print: first=1 second=1", file.read())

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

    def test_curl_posts_a_large_stream_as_the_readme_does(self):
        with tempfile.TemporaryDirectory() as directory:
            stream = os.path.join(directory, "label.prn")
            with open(stream, "wb") as file:  # 100 kB: sent as a form, curl's default type
                file.write(b"CD10,10,2,1\r" * 8500 + b"P1,1\r")
            png = os.path.join(directory, "label.png")
            result = subprocess.run(["curl", "-sS", "-f", "--data-binary", "@" + stream, "-o", png,
                                     self.url("/render")], capture_output=True, timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(png, "rb") as file:
                self.assertEqual(file.read(8), b"\x89PNG\r\n\x1a\n")

    def test_concurrent_requests_each_get_their_label(self):
        with concurrent.futures.ThreadPoolExecutor(6) as pool:
            answers = list(pool.map(lambda _: request(self.url("/render"), self.stream), range(12)))
        self.assertEqual({(status, png == self.preview) for status, _, png in answers}, {(200, True)})

    def test_bad_requests_are_refused_with_reasons(self):
        # (path, body, status, text in the answer)
        cases = [
            ("/render", MALFORMED, 400, b'1.1 MALFORMED SS speed: speed "x"'),
            ("/render", b"SS3\r", 400, b"printed no label"),
            ("/render?dpi=20", b"P1,1\r", 400, b"dpi takes"),
            ("/render?paper=4x", b"P1,1\r", 400, b"paper takes"),
            ("/render?label=2", b"P1,1\r", 404, b"printed 1 labels"),
            ("/render", b"P1,1\r" * (8 << 20) + b"!", 413, b"larger than 16 MiB"),
            ("/labels/99.png", None, 404, b"no label 99"),
            ("/status", b"cover-closed", 400, b"error names"),
            ("/nothing", None, 404, b"no such resource"),
        ]
        for path, body, status, said in cases:
            with self.subTest(path=path, body=body[:20] if body else None):
                answer = request(self.url(path), body)
                self.assertEqual(answer[0], status, answer[2][:200])
                self.assertIn(said, answer[2])

    def test_printer_port_labels_log_and_status(self):
        _, _, labels = request(self.url("/labels"))
        self.assertIn(1, [label["number"] for label in json.loads(labels)["labels"]])
        self.assertEqual(request(self.url("/labels/1.png"))[2], self.preview)
        self.assertIn(b"P print: first=1 second=1", request(self.url("/log"))[2])
        self.assertEqual(request(self.url("/status"), b"cover-open,paper-empty")[0], 200)
        host, port = self.emulator.port_name.split(":")
        with socket.create_connection((host, int(port)), timeout=10) as connection:
            connection.sendall(b"^cu\r")
            self.assertEqual(connection.recv(1), b"\xc0")
        request(self.url("/status"), b"0")

    def test_random_bytes_do_not_stop_the_service(self):
        host, port = self.emulator.http_url.rsplit("/", 1)[1].split(":")
        for garbage in [os.urandom(4096), b"GET /" + b"x" * 70000 + b" HTTP/1.1\r\n\r\n", b"POST /render HTTP/1.1\r\n"]:
            with socket.create_connection((host, int(port)), timeout=10) as connection:
                connection.sendall(garbage)
                connection.shutdown(socket.SHUT_WR)
                connection.settimeout(10)
                while connection.recv(65536):
                    pass
        self.assertEqual(request(self.url("/status"))[0], 200)

    @unittest.skipUnless(shutil.which("chromium"), "chromium is not installed")
    def test_live_page_shows_labels_as_they_print(self):
        os.environ.setdefault("VDL_PRINTER_APP", "")  # the module names the program it tests; not needed here
        from printer_app_test import Browser, eventually
        browser = Browser(self.directory)
        try:
            browser.open(self.url("/"))
            eventually(lambda: browser.evaluate("document.querySelectorAll('#status input').length") == 7 and
                       browser.evaluate("document.querySelector('#connection').textContent") == "live", "the live page")
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
        finally:
            browser.close()


if __name__ == "__main__":
    unittest.main()
