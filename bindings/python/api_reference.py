"""Writes docs/python.md, the reference of the Python package, from its docstrings:

    python3 bindings/python/api_reference.py docs/python.md

The package is imported from this folder, with its words generated from the headers in include/ (no
build needed). A test compares the page with the installed package, so it cannot fall behind.
"""

import enum
import inspect
import os
import shutil
import sys
import tempfile
from types import ModuleType
from typing import Any, List

HERE = os.path.dirname(os.path.abspath(__file__))
TITLE = "# The Python package `vdllabel`\n\n<!-- Made by bindings/python/api_reference.py from the docstrings. -->\n"


def _value(value: Any) -> str:
    return f"{type(value).__name__}.{value.name}" if isinstance(value, enum.Enum) else repr(value)


def _signature(function: Any) -> str:
    signature = inspect.signature(function)
    parts = []
    for parameter in signature.parameters.values():
        if parameter.name in ("self", "cls"):
            continue
        text = ("*" if parameter.kind is parameter.VAR_POSITIONAL else "") + parameter.name
        if parameter.annotation is not parameter.empty:
            text += f": {parameter.annotation}"
        if parameter.default is not parameter.empty:
            text += f" = {_value(parameter.default)}"
        parts.append(text)
    returns = signature.return_annotation
    return f"({', '.join(parts)})" + ("" if returns in (signature.empty, "None") else f" -> {returns}")


def _doc(thing: Any) -> List[str]:
    return [inspect.cleandoc(thing.__doc__), ""] if thing.__doc__ else []


def _members(cls: type) -> List[str]:
    lines: List[str] = []
    for name, member in vars(cls).items():
        if name.startswith("_") and name != "__init__":
            continue
        if isinstance(member, property):
            lines += [f"### `{name}` (property)", ""] + _doc(member)
        elif isinstance(member, (classmethod, staticmethod)) and member.__func__.__doc__:  # Raster.load
            lines += [f"### `{cls.__name__}.{name}{_signature(member.__func__)}`", ""] + _doc(member.__func__)
        elif inspect.isfunction(member) and member.__doc__:
            lines += [f"### `{cls.__name__ if name == '__init__' else name}{_signature(member)}`", ""] + _doc(member)
    return lines


def _entry(name: str, thing: Any) -> List[str]:
    if inspect.isclass(thing) and issubclass(thing, enum.Enum):
        values = ", ".join(f"`{member.name}` = {member.value}" for member in thing)
        return [f"## enum `{name}`", ""] + _doc(thing) + [values, ""]
    if inspect.isclass(thing):
        return [f"## class `{name}`", ""] + _doc(thing) + _members(thing)
    if inspect.isfunction(thing):
        return [f"## `{name}{_signature(thing)}`", ""] + _doc(thing)
    if isinstance(thing, dict):
        shown = f"a dict of {len(thing)} entries"
    else:
        shown = repr(thing) if isinstance(thing, (int, str)) else str(thing).replace("typing.", "")
    return [f"## `{name}`: {shown}", ""]


def render(package: ModuleType) -> str:
    """The reference page of package: its docstring, then each name of __all__."""
    lines = [TITLE] + _doc(package)
    for name in package.__all__:
        lines += _entry(name, getattr(package, name))
    return "\n".join(lines).rstrip() + "\n"


def main(output: str) -> None:
    sys.path.insert(0, HERE)
    from vdllabel_words import write_module

    with tempfile.TemporaryDirectory() as work:
        shutil.copytree(os.path.join(HERE, "vdllabel"), os.path.join(work, "vdllabel"))
        write_module(os.path.join(HERE, "..", "..", "include"), os.path.join(work, "vdllabel", "_words.py"))
        sys.path.insert(0, work)
        import vdllabel

        with open(output, "w", encoding="utf-8") as file:
            file.write(render(vdllabel))


if __name__ == "__main__":
    main(sys.argv[1])
