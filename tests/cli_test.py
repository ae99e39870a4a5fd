"""vdl-label and the examples as users run them, against the printer emulator."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from emulator import Emulator  # noqa: E402

CLI = os.environ["VDL_LABEL"]
BUILD = os.path.dirname(CLI)
LOGO = os.path.join(HERE, "..", "examples", "logo.bmp")
LOGO_PNG = os.path.join(HERE, "..", "examples", "logo.png")
COMPLETION = os.path.join(HERE, "..", "tools", "cli", "vdl-label.bash")


PORT = "{port}"


def cli(*args):
    return [CLI, "--port", PORT, *args]


def example(name):
    return [os.path.join(BUILD, name), PORT]


def run(*args, stdin=b"", env=None):
    return subprocess.run(list(args), input=stdin, capture_output=True, timeout=60, env=env)


def white_png(path, width, height):
    """A white one-bit grey PNG, written here: ImageMagick takes long for large ones."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    row = b"\0" + b"\xff" * ((width + 7) // 8)
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 1, 0, 0, 0, 0))
                   + chunk(b"IDAT", zlib.compress(row * height)) + chunk(b"IEND", b""))
    return path


class CliTest(unittest.TestCase):
    def setUp(self):
        self.pictures = tempfile.TemporaryDirectory()
        self.addCleanup(self.pictures.cleanup)

    def test_programs_against_the_emulator(self):
        # Pictures the library's loaders take: as wide and as large as the same BMP.
        wide, large = (white_png(os.path.join(self.pictures.name, f"{w}x{h}.png"), w, h)
                       for w, h in [(70000, 2), (12000, 12000)])
        # (emulator options, program and arguments, texts in the decoded log, text on stdout, exit status)
        cases = [
            ([], cli("feed"), ["~PH feed one label"], "", 0),
            ([], cli("settings", "--speed", "12", "--density", "3", "--paper", "800,600,mark,0,24"),
             ["paperHeight=600 gapLength=24 mediaType=B", "paperWidth=800", "speed=12", "density=3"],
             "speed 12; density 3; paper 800 x 600", 0),
            ([], cli("send", "-"), ["SS speed: speed=3"], "sent 4 bytes", 0),
            ([], cli("test-label", "--paper", "400,300"), ["paperWidth=400", "x2=390 y2=290", "P print"],
             "test label of 400 x 300 dots printed on VRL-408", 0),
            ([], cli("image", LOGO, "--x", "5", "--compress"), ["LCR compressed bitmap: x=5", "P print"], "printed", 0),
            ([], cli("image", LOGO, "--no-print"), ["LD bitmap: x=0"], "sent, not printed", 0),
            ([], cli("image", wide, "--compress", "--no-print"), ["widthBytes=8750 height=2"], "sent, not printed", 0),
            ([], cli("image", large, "--compress", "--no-print"), ["widthBytes=1500 height=12000"], "not printed", 0),
            (["--status", "0"], cli("status"), [], "VRL-408: ready", 0),
            (["--status", "0xC0"], cli("status"), [], "VRL-408: cover open, paper empty", 3),
            (["--status", "0x40"], example("printer_status"), [], "VRL-408: cover open", 3),
            ([], example("shipping_label"), ["data=\"PKG000123456\"", "P print"], "", 0),
            ([], example("print_image") + [LOGO], ["LCR compressed bitmap: x=40", "P print"], "printed", 0),
        ]
        for options, program, logged, said, status in cases:
            with self.subTest(program=program[3:] or program), Emulator(*options) as emulator:
                command = [a.replace(PORT, emulator.port_name) for a in program]
                result = run(*command, stdin=b"SS3\r")
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(said, result.stdout.decode())
                log = emulator.log(*logged)
                for text in logged:
                    self.assertIn(text, log)
                if "--no-print" in program:
                    self.assertNotIn("P print", log)

    def test_the_csv_examples_print_every_good_row(self):
        csv = os.path.join(HERE, "..", "examples", "shipments.csv")
        # The Python package as cmake --install puts it, on the library just built.
        prefix = os.path.join(self.pictures.name, "prefix")
        run("cmake", "--install", BUILD, "--prefix", prefix, "--component", "python")
        site = next(root for root, _, files in os.walk(prefix) if "py.typed" in files)
        env = dict(os.environ, PYTHONPATH=os.path.dirname(site),
                   VDL_LIBRARY=os.path.join(BUILD, "libVdlLabelAPI.so.1"))
        python = [sys.executable, os.path.join(HERE, "..", "examples", "shipping_csv.py"), PORT]
        sanitized = os.environ.get("VDL_SANITIZED") == "1"  # a Python process cannot load the sanitized library
        for program in [example("shipping_csv") + [csv, LOGO_PNG]] + ([] if sanitized else [python + [csv, LOGO_PNG]]):
            with self.subTest(program=program[0]), Emulator() as emulator:
                command = [a.replace(PORT, emulator.port_name) for a in program]
                result = run(*command, env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                for skipped in ("Zoë Dupré", "Short Row"):  # a weight "x", and too few fields
                    self.assertIn("skipped " + skipped, result.stderr.decode())
                self.assertEqual(emulator.log("label-0020.png").count("LCR compressed bitmap"), 20)  # the PNG logo
                codes = run("zbarimg", "--raw", "-q", "--nodbus", *(emulator.preview(n) for n in range(1, 21)))
                expected = [f"PKG{n:09d}" for n in range(1, 21)]
                self.assertEqual(sorted(codes.stdout.decode().split()),
                                 sorted(expected + [f"https://track.example/{code}" for code in expected]))
                self.assertFalse(os.path.exists(emulator.preview(21)))
                missing = run(*[a.replace(csv, "/nonexistent.csv") for a in command], env=env)
                self.assertEqual(missing.returncode, 1)
                self.assertIn("/nonexistent.csv", missing.stderr.decode())

    def test_a_png_prints_as_its_picture(self):
        for interlace in ("None", "PNG"):  # an interlaced picture comes in seven passes
            with self.subTest(interlace=interlace), Emulator() as emulator:
                png = os.path.join(self.pictures.name, "label.png")  # left half black, right half transparent
                run("convert", "-size", "64x32", "xc:none", "-fill", "black", "-draw", "rectangle 0,0 31,31",
                    "-interlace", interlace, png)
                result = run(CLI, "--port", emulator.port_name, "image", png, "--x", "100", "--y", "50")
                self.assertEqual(result.returncode, 0, result.stderr)
                emulator.log("preview:")
                means = [run("convert", emulator.preview(), "-crop", f"32x32+{x}+50", "-format", "%[fx:mean]",
                             "info:").stdout for x in (100, 132)]
                self.assertEqual(means, [b"0", b"1"])

    def test_a_test_label_fits_the_paper_last_set(self):
        with Emulator() as emulator, tempfile.TemporaryDirectory() as state:
            env = dict(os.environ, XDG_STATE_HOME=state)
            run(CLI, "--port", emulator.port_name, "settings", "--paper", "500,350", env=env)
            run(CLI, "--port", emulator.port_name, "test-label", env=env)
            self.assertIn("x2=490 y2=340", emulator.log("x2=490"))

    def test_failures_are_said_in_words(self):
        not_a_picture = os.path.join(self.pictures.name, "notes.png")
        with open(not_a_picture, "w", encoding="ascii") as file:
            file.write("not a picture")
        with Emulator("--model", "VRP-110") as other_printer, Emulator() as printer:
            cases = [
                (["--port", printer.port_name, "image", not_a_picture],  # the file named, not the call
                 f"vdl-label: {not_a_picture}: the image file is not a supported picture (-119)", 1),
                (["--port", "printer.local:9100", "feed"], "the port name is not valid", 1),
                (["--port", "127.0.0.1:1", "status"], "the TCP connection was refused", 1),
                (["--port", other_printer.port_name, "feed"], "is not a supported label printer (-101)", 1),
                (["send", "/nonexistent/file"], "cannot read /nonexistent/file", 1),
                (["send", HERE], f"cannot read {HERE}: Is a directory", 1),
                (["image", "/nonexistent.png"], "cannot read /nonexistent.png", 1),
                (["settings", "--speed", "99"], "--speed takes 0 to 12, not 99", 2),
                (["settings", "--density", "-1"], "--density takes 0 to 20, not -1", 2),
                (["settings"], "nothing to set", 2),
                (["image", "x.bmp", "--x", "left"], "--x takes 0 to 65535, not left", 2),
                (["image", "x.bmp", "--x", "70000"], "--x takes 0 to 65535, not 70000", 2),  # as settings
                (["--port"], "--port wants PORT", 2),
                (["status", "--port"], "--port wants PORT", 2),
                (["status", "extra"], "status takes no operand, not extra", 2),
                (["frobnicate"], "unknown command frobnicate", 2),
            ]
            for args, said, status in cases:
                with self.subTest(args=args):
                    result = run(CLI, *args)
                    self.assertEqual(result.returncode, status)
                    self.assertIn(said, result.stderr.decode())

    def test_help_manual_discover_and_completion(self):
        self.assertIn("--density N", run(CLI, "settings", "--help").stdout.decode())
        manual = run(CLI, "--man").stdout
        self.assertTrue(manual.startswith(b".TH VDL-LABEL 1"))
        with open(os.path.join(HERE, "..", "tools", "printer-app", "vdl-printer-app.1"), "rb") as file:
            for page in (manual, file.read()):
                for section in (b".SH FILES", b".SH EXAMPLES", b".SH SEE ALSO"):
                    self.assertIn(section, page)
        self.assertEqual(run(CLI, "discover").returncode, 0)
        complete = 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vdl_label; echo "${COMPREPLY[*]}"'
        env = dict(os.environ, PATH=BUILD + os.pathsep + os.environ["PATH"])
        for words, offered in [("vdl-label se", "send settings"), ("vdl-label image --no", "--no-print"),
                               ("vdl-label --port SER", "SERIAL:9600")]:
            result = run("bash", "-c", complete, COMPLETION, *words.split(), env=env)
            self.assertEqual(result.stdout.decode().strip(), offered, words)


if __name__ == "__main__":
    unittest.main()
