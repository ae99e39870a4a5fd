"""Writes vdllabel/_words.py: the words for each result code and status bit,
taken from the one table in VdlLabelAPI.hpp (codes from VdlLabelAPI.h).

Run by setup.py when the package is built and by CMake when it installs it:
    python3 vdllabel_words.py INCLUDE_DIR OUTPUT_FILE
"""

import os
import re
import sys


def read_words(include_dir: str) -> dict:
    with open(os.path.join(include_dir, "VdlLabelAPI.h"), encoding="utf-8") as file:
        values = {name: int(value, 0) for name, value in re.findall(r"\b(VDL_\w+) = (-?\w+)", file.read())}
    with open(os.path.join(include_dir, "VdlLabelAPI.hpp"), encoding="utf-8") as file:
        entries = re.findall(r'\{(VDL_(ERR|STATUS)_\w+), "((?:[^"\\]|\\.)*)"\}', file.read())
    if not entries:
        raise SystemExit(f"no words table in {include_dir}/VdlLabelAPI.hpp")
    tables: dict = {"ERR": {}, "STATUS": {}}
    for name, kind, words in entries:
        tables[kind][values[name]] = words.encode().decode("unicode_escape")
    return tables


def write_module(include_dir: str, output: str) -> None:
    tables = read_words(include_dir)
    os.makedirs(os.path.dirname(output) or ".", exist_ok=True)
    with open(output, "w", encoding="utf-8") as file:
        file.write('"""Generated from VdlLabelAPI.hpp when the package was built: do not edit."""\n\n')
        file.write(f"ERROR_WORDS = {tables['ERR']!r}\n")
        file.write(f"STATUS_WORDS = {tables['STATUS']!r}\n")


if __name__ == "__main__":
    write_module(sys.argv[1], sys.argv[2])
