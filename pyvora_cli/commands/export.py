"""`pyvora export`: the protocol as JSON."""

import argparse
import re
import sys
from typing import Any

from pyvora_cli import streams
from pyvora_cli.commands import add_conversion, write_made
from pyvora_cli.streams import STDIO


def register(subparsers: Any) -> None:
    sub = add_conversion(subparsers, run, "export", "write a protocol as JSON",
                         "Write the protocol as JSON: Protocol.to_dict() with keys in field order, sample "
                         "lists as arrays of integers, and NaN and infinities as the strings \"NaN\", "
                         "\"Infinity\" and \"-Infinity\" (a NaN's sign and payload are not kept). Exit status 0 "
                         "when the JSON was written, 2 when a file could not be read or written.",
                         "FILE", "the JSON file to write (default: standard output)", default=STDIO)
    sub.add_argument("--samples-per-line", metavar="N", type=whole_number,
                     help="write each sample list N samples to a line, so that a one-sample edit is a "
                          "one-line diff (default: each sample list on one line)")


def whole_number(text: str) -> int:
    """N of --samples-per-line: a whole number of at least 1, in ASCII digits."""
    if not (text.isascii() and text.isdigit() and int(text) >= 1):
        raise argparse.ArgumentTypeError(f"expected a whole number of at least 1, got {text!r}")
    return int(text)


def run(args: argparse.Namespace) -> int:
    to_terminal = args.output == STDIO and sys.stdout is not None and sys.stdout.isatty()

    def made(path: str) -> list[Any]:
        text = streams.read_protocol(path).to_json(args.samples_per_line)
        return [for_terminal(text) if to_terminal else text]

    return write_made(args, made)


# The UTF-8 of characters that a terminal acts on instead of showing: C1 controls, the bidi
# controls (which reorder what follows them on the line) and the line and paragraph separators.
TERMINAL_CONTROLS = re.compile(rb"\xc2[\x80-\x9f]|\xd8\x9c|\xe2\x80[\x8e\x8f\xa8-\xae]|\xe2\x81[\xa6-\xa9]")


def for_terminal(piece: bytes) -> bytes:
    """The JSON form with each such character written as its JSON escape, `\\uXXXX`:
    the same JSON, which a terminal shows as it is. They occur only within strings."""
    return TERMINAL_CONTROLS.sub(lambda found: f"\\u{ord(found[0].decode()):04x}".encode(), piece)
