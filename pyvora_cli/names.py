"""How the command writes a file name in its messages: the same way in every message, on one
line, for any name the system allows.

A name is written as given on the command line, except for what would break a line or could
not be read back: a backslash is written `\\\\`; a tab, line feed and carriage return `\\t`,
`\\n`, `\\r`; any other character that is not printable, or that standard output's encoding
cannot write, `\\u{<hex>}` as the text form writes such characters; and each byte that is not
part of valid UTF-8 `\\x<hex>` (two lowercase digits). A lone surrogate that stands for no byte
(a str made in Python, not read from the system) is written `\\u{<hex>}` too."""

import codecs
import os
import re
import sys

from pyvora import _value_text

ESCAPES = {"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r"}


def output_encoding() -> str:
    stream = sys.stdout if sys.stdout is not None else sys.stderr
    encoding = getattr(stream, "encoding", None) or "utf-8"
    try:
        return codecs.lookup(encoding).name
    except LookupError:
        return "utf-8"


# Surrogates that os.fsdecode does not make: they stand for no byte of a name.
NOT_A_BYTE = re.compile("([\ud800-\udc7f\udd00-\udfff])")


def name_text(name: str | bytes) -> str:
    if isinstance(name, str) and NOT_A_BYTE.search(name):
        return "".join(f"\\u{{{ord(part):x}}}" if NOT_A_BYTE.fullmatch(part) else name_text(part)
                       for part in NOT_A_BYTE.split(name))
    raw = os.fsencode(name)
    encoding = output_encoding()
    parts: list[str] = []
    start = 0
    while True:
        try:
            text = raw[start:].decode("utf-8")
            end = len(raw)
        except UnicodeDecodeError as error:
            text = raw[start:start + error.start].decode("utf-8")
            end = start + error.start
        parts.extend(character_text(ch, encoding) for ch in text)
        if end == len(raw):
            return "".join(parts)
        parts.append(f"\\x{raw[end]:02x}")
        start = end + 1


def character_text(ch: str, encoding: str) -> str:
    if ch in ESCAPES:
        return ESCAPES[ch]
    if ch.isprintable() if ch.isascii() else written_as_is(ch, encoding):
        return ch
    return f"\\u{{{ord(ch):x}}}"


def written_as_is(ch: str, encoding: str) -> bool:
    """Whether a character beyond ASCII is written as it is: the text form writes it so (it
    escapes what is not printable and grapheme extenders), and the output's encoding can."""
    if _value_text(ch) != f'"{ch}"':
        return False
    try:
        ch.encode(encoding)
    except UnicodeEncodeError:
        return False
    return True
