"""The ZPL corpus (tests/zpl/*.zpl) through vdl-label convert and the emulator.

Each label file states what must come out in ^FX comments (barcodes are read from its last label):
  ^FX expect text X,Y[,H] WORDS      a text field at X,Y (2 dots either way), H dots high (10 % either way)
  ^FX expect barcode FORMAT DATA     read back from the printed label; FORMAT@X,Y,W,H reads it alone in that
                                     part of the label (ZXing finds small matrix symbols only so)
  ^FX expect symbol NAME DATA        sent as that symbol, its name's spaces written _ (no reader finds it on a whole label)
  ^FX expect warning WORDS           a warning containing WORDS; any other warning fails
A ^ or ~ ends a comment (ZPL reads a command there), so expectations name commands without them.
"""

import glob
import os
import re
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CLI = os.environ["VDL_LABEL"]
EMULATOR = os.environ["VDL_EMULATOR"]
CORPUS = sorted(glob.glob(os.path.join(HERE, "zpl", "*.zpl")))

# zbarimg reads the linear codes, QR and DataBar; ZXing the stacked and
# matrix symbols (zxing-cpp 1.4 stops at several symbols of one format).
ZXING_FORMATS = {"PDF417", "DataMatrix"}


def expectations(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        text = f.read()
    found = {"text": [], "barcode": [], "symbol": [], "warning": []}
    for kind, rest in re.findall(r"\^FX expect (\w+) ([^\^\r\n]*)", text):
        found[kind].append(rest.strip())
    return found


def read_barcodes(png, format_name):
    if "@" in format_name:
        format_name, area = format_name.split("@")
        x, y, w, h = area.split(",")
        alone = png[:-4] + "-" + format_name + ".png"
        subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-bordercolor", "white", "-border", "20",
                        alone], check=True, timeout=60)
        run = subprocess.run(["ZXingReader", "-ispure", "-format", format_name, alone], capture_output=True, text=True,
                             timeout=60)
        return re.findall(r'^Text:\s+"(.*)"$', run.stdout, re.M)
    if format_name in ZXING_FORMATS:
        run = subprocess.run(["ZXingReader", "-format", format_name, png], capture_output=True, text=True, timeout=60)
        return re.findall(r'^Text:\s+"(.*)"$', run.stdout, re.M)
    run = subprocess.run(["zbarimg", "-q", "--nodbus", png], capture_output=True, text=True, timeout=60)
    return [line.split(":", 1)[1] for line in run.stdout.splitlines() if line.startswith(format_name + ":")]


class ZplCorpusTest(unittest.TestCase):
    def test_every_label_prints_what_it_says(self):
        self.assertGreaterEqual(len(CORPUS), 30)
        for path in CORPUS:
            with self.subTest(label=os.path.basename(path)), tempfile.TemporaryDirectory() as out:
                self.check_label(path, out)

    def check_label(self, path, out):
        expected = expectations(path)
        stream = os.path.join(out, "label.prn")
        converted = subprocess.run([CLI, "convert", path, "-o", stream], capture_output=True, text=True, timeout=60)
        self.assertEqual(converted.returncode, 0, converted.stderr)
        warnings = [line for line in converted.stderr.splitlines() if line.startswith(path)]
        for warning in warnings:
            self.assertTrue(any(w in warning for w in expected["warning"]), f"unexpected warning: {warning}")
        for w in expected["warning"]:
            self.assertTrue(any(w in warning for warning in warnings), f"no warning: {w}")
        rendered = subprocess.run([EMULATOR, "render", stream, "-o", out], capture_output=True, text=True, timeout=120)
        self.assertEqual(rendered.returncode, 0, rendered.stderr)
        with open(os.path.join(out, "log.txt"), encoding="utf-8") as f:
            log = f.read()
        for line in expected["text"]:
            place, words = line.split(" ", 1)
            x, y, *height = (int(v) for v in place.split(","))
            found = [(int(a), int(b), int(h)) for a, b, h in
                     re.findall(r' x=(-?\d+) y=(-?\d+) .*?height=(\d+) .*text="' + re.escape(words) + '"', log)]
            self.assertTrue(any(abs(a - x) <= 2 and abs(b - y) <= 2 and (not height or abs(h - height[0]) <= height[0] / 10)
                                for a, b, h in found), f"{words!r} at {place}: {found}")
        for line in expected["symbol"]:
            name, data = line.split(" ", 1)
            self.assertRegex(log, name.replace("_", " ") + r": .*data=\"" + re.escape(data) + '"')
        png = sorted(glob.glob(os.path.join(out, "label-*.png")))[-1]
        for line in expected["barcode"]:
            format_name, data = line.split(" ", 1)
            self.assertIn(data, read_barcodes(png, format_name), line)


if __name__ == "__main__":
    unittest.main()
