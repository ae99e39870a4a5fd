"""The values of the library's arguments that have a meaning, named as in
VdlLabelAPI.hpp. Each is an IntEnum, so a plain int passes too and is sent
as the printer's code (the library brings it into range)."""

from __future__ import annotations

import enum

from ._words import STATUS_WORDS


class DeviceFont(enum.IntEnum):
    """Device fonts: F0-F9, and the letters a-n as the printer names them (a-f Korean, m GB18030, n BIG5)."""

    F0 = 0
    F1 = 1
    F2 = 2
    F3 = 3
    F4 = 4
    F5 = 5
    F6 = 6
    F7 = 7
    F8 = 8
    F9 = 9
    a = ord("a")
    b = ord("b")
    c = ord("c")
    d = ord("d")
    e = ord("e")
    f = ord("f")
    g = ord("g")
    h = ord("h")
    i = ord("i")
    j = ord("j")
    k = ord("k")
    l = ord("l")  # noqa: E741 - the printer's letter
    m = ord("m")
    n = ord("n")


class VectorFont(enum.IntEnum):
    """Vector fonts by the printer's letter: K, B, G and J convert the text (EUC-KR, BIG5, GB18030, CP932)."""

    U = 0
    K = 1
    B = 2
    G = 3
    J = 4
    a = 5
    b = 6


class Rotation(enum.IntEnum):
    """Rotation of text and symbols, in quarter turns."""

    R0 = 0
    R90 = 1
    R180 = 2
    R270 = 3


class Alignment(enum.IntEnum):
    """Alignment of vector-font text."""

    LEFT = 0
    CENTRE = 1
    RIGHT = 2


class Symbology(enum.IntEnum):
    """Linear barcode symbologies, the printer's codes 0-16."""

    CODE39 = 0
    CODE128 = 1
    INTERLEAVED_2OF5 = 2
    CODABAR = 3
    CODE93 = 4
    UPCA = 5
    UPCE = 6
    EAN13 = 7
    EAN8 = 8
    GS1_128 = 9
    CODE11 = 10
    INDUSTRIAL_2OF5 = 11
    MSI_PLESSEY = 12
    POSTNET = 13
    PLANET = 14
    ITF14 = 15
    CODE39_FULL_ASCII = 16


class CodePage(enum.IntEnum):
    """Code pages that text is converted to (the code_page arguments)."""

    EUC_KR = 0
    CP949 = 1
    EUC_CN = 2
    GB18030 = 3
    BIG5 = 4
    CP950 = 5
    EUC_JP = 6
    CP932 = 7
    CP874 = 8


class MediaType(enum.IntEnum):
    """Media: labels with gaps, continuous, labels with black marks."""

    GAP = 0
    CONTINUOUS = 1
    BLACK_MARK = 2


class BlockOption(enum.IntEnum):
    """What print_block draws: OVERWRITE fills black, EXCLUSIVE_OR inverts, ERASE clears; SLOPE and BOX are
    lines value dots thick."""

    OVERWRITE = 0
    EXCLUSIVE_OR = 1
    ERASE = 2
    SLOPE = 3
    BOX = 4


class Orientation(enum.IntEnum):
    """Which end of the label prints first."""

    TOP_FIRST = ord("T")
    BOTTOM_FIRST = ord("B")


class PrintingType(enum.IntEnum):
    """Printing method."""

    DIRECT_THERMAL = 0
    THERMAL_TRANSFER = 1


class RfidWrite(enum.IntEnum):
    """RFID write types, by the printer's letter."""

    A = 1
    H = 2
    U = 3
    E = 4


class CodablockMode(enum.IntEnum):
    """CODABLOCK modes, by the printer's letter."""

    A = 0
    E = 1
    F = 2


class Status(enum.IntFlag):
    """Error bits of the printer's status; an empty Status means ready."""

    PAPER_PRESENCE = 0x02
    RIBBON_END = 0x04
    GAP_ERROR = 0x08
    HEAD_OVERHEAT = 0x10
    CUTTER_JAM = 0x20
    COVER_OPEN = 0x40
    PAPER_EMPTY = 0x80

    def __str__(self) -> str:
        """"ready", or the words of each error bit, as vdl-label says them."""
        if not self:
            return "ready"
        return ", ".join(words for bit, words in STATUS_WORDS.items() if self & bit)
