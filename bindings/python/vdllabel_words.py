"""Writes vdllabel/_words.py: the words for each failure code and status bit, taken from the tables
kErrorWords and kStatusWords of VdlLabelAPI.hpp (codes from VdlLabelAPI.h, and the C++ interface's own
constants such as kNotConnected from VdlLabelAPI.hpp), and the library's version from VdlLabelAPI.h, where
CMake reads it too.

Run by setup.py when the package is built and by CMake when it installs it:
    python3 vdllabel_words.py INCLUDE_DIR OUTPUT_FILE
"""

import os
import re
import sys

ENTRY = re.compile(r'\{(\w+), "((?:[^"\\]|\\.)*)"\}')


def _table(source: str, name: str, values: dict) -> dict:
    block = re.search(name + r"\[\] = \{\n(.*?)\n\};", source, re.S)
    if block is None:
        raise SystemExit(f"no table {name} in VdlLabelAPI.hpp")
    return {values[code]: words.encode().decode("unicode_escape") for code, words in ENTRY.findall(block.group(1))}


def read_words(include_dir: str) -> dict:
    with open(os.path.join(include_dir, "VdlLabelAPI.h"), encoding="utf-8") as file:
        header = file.read()
    values = {name: int(value, 0) for name, value in re.findall(r"\b(VDL_\w+) = (-?\w+)", header)}
    version = dict(re.findall(r"^#define VDL_VERSION_(MAJOR|MINOR|PATCH) (\d+)", header, re.M))
    if len(version) != 3:
        raise SystemExit("no VDL_VERSION_MAJOR, _MINOR and _PATCH in VdlLabelAPI.h")
    with open(os.path.join(include_dir, "VdlLabelAPI.hpp"), encoding="utf-8") as file:
        source = file.read()
    values.update({name: int(value) for name, value in re.findall(r"constexpr int (k\w+) = (-?\d+);", source)})
    if "kNotConnected" not in values:
        raise SystemExit("no kNotConnected in VdlLabelAPI.hpp")
    return {"ERROR_WORDS": _table(source, "kErrorWords", values),
            "STATUS_WORDS": _table(source, "kStatusWords", values), "NOT_CONNECTED": values["kNotConnected"],
            "VERSION": "{MAJOR}.{MINOR}.{PATCH}".format(**version)}


def write_module(include_dir: str, output: str) -> None:
    words = read_words(include_dir)
    os.makedirs(os.path.dirname(output) or ".", exist_ok=True)
    with open(output, "w", encoding="utf-8") as file:
        file.write('"""Generated from VdlLabelAPI.hpp when the package was built: do not edit."""\n\n')
        for name, value in words.items():
            file.write(f"{name} = {value!r}\n")


if __name__ == "__main__":
    write_module(sys.argv[1], sys.argv[2])
