#!/usr/bin/env python3
"""Bytes on the wire for each label of the ZPL corpus: translated (vdl-label convert) against the same label
sent as a picture (the label as the emulator draws it, sent by vdl-label image --compress, run-length encoded),
the time vdl-label convert takes end to end (its loopback capture included), and the time vdl-label print takes
from the file to the emulator's last byte (connect, model check, translation, paced writes). Run from the build
directory's parent: python3 bench/zpl_bytes.py [BUILD]"""

import glob
import os
import re
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
CLI, EMULATOR = os.path.join(BUILD, "vdl-label"), os.path.join(BUILD, "vdl-emulator")
CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "zpl")
QUERIES = (b"^PI0\r\n", b"^cu\r")  # the model and status queries the tool sends besides the label


def picture_bytes(png, out):
    """What vdl-label image --compress sends for the picture, caught by an emulator."""
    captured = os.path.join(out, "captured")
    emulator = subprocess.Popen([EMULATOR, "--port", "0", "--capture", captured, "--no-preview"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE,
                                text=True)
    try:
        port = re.search(r"listening on (\S+:\d+)", emulator.stderr.readline()).group(1)
        subprocess.run([CLI, "--port", port, "image", png, "--compress"], check=True, capture_output=True, timeout=120)
    finally:
        emulator.terminate()
        emulator.wait(timeout=10)
    sent = b"".join(open(f, "rb").read() for f in glob.glob(os.path.join(captured, "*.prn")))
    for query in QUERIES:
        sent = sent.replace(query, b"")
    return len(sent)


def print_time(label, port):
    started = time.monotonic()
    subprocess.run([CLI, "--port", port, "print", label], check=True, capture_output=True, timeout=60)
    return time.monotonic() - started


def main():
    printer = subprocess.Popen([EMULATOR, "--port", "0", "--no-preview"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               text=True)
    port = re.search(r"listening on (\S+:\d+)", printer.stderr.readline()).group(1)
    print(f"{'label':28} {'ZPL':>7} {'translated':>10} {'as picture':>10} {'share':>6} {'convert':>8} {'print':>7}")
    shares = []
    for label in sorted(glob.glob(os.path.join(CORPUS, "*.zpl"))):
        with tempfile.TemporaryDirectory() as out:
            stream = os.path.join(out, "label.prn")
            started = time.monotonic()
            subprocess.run([CLI, "convert", label, "-o", stream], check=True, capture_output=True, timeout=60)
            took = time.monotonic() - started
            subprocess.run([EMULATOR, "render", stream, "-o", out], check=True, capture_output=True, timeout=60)
            last = sorted(glob.glob(os.path.join(out, "label-*.png")))[-1]
            translated, picture = os.path.getsize(stream), picture_bytes(last, out)
            shares.append(translated / picture)
            printed = print_time(label, port)
            print(f"{os.path.basename(label):28} {os.path.getsize(label):7} {translated:10} {picture:10} "
                  f"{100 * translated / picture:5.1f}% {1000 * took:6.0f}ms {1000 * printed:5.0f}ms")
    printer.terminate()
    printer.wait(timeout=10)
    shares.sort()
    print(f"median share {100 * shares[len(shares) // 2]:.1f}%, largest {100 * shares[-1]:.1f}%")


if __name__ == "__main__":
    main()
