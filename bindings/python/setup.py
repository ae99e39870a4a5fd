"""Builds the package with the words table generated from the C++ header."""

import os
import sys

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from vdllabel_words import write_module  # noqa: E402


class BuildWithWords(build_py):
    def run(self) -> None:
        super().run()
        include_dir = os.environ.get("VDL_INCLUDE_DIR", os.path.join(HERE, "..", "..", "include"))
        write_module(include_dir, os.path.join(self.build_lib, "vdllabel", "_words.py"))


setup(packages=["vdllabel"], package_data={"vdllabel": ["py.typed"]}, cmdclass={"build_py": BuildWithWords})
