"""`pyvora export`: the protocol as JSON."""

import argparse
from typing import Any

from pyvora_cli import streams
from pyvora_cli.commands import add_conversion, write_made
from pyvora_cli.json_form import to_json
from pyvora_cli.names import name_text
from pyvora_cli.streams import STDIO, Trouble


def register(subparsers: Any) -> None:
    add_conversion(subparsers, run, "export", "write a protocol as JSON",
                   "Write the protocol as JSON: Protocol.to_dict() with keys in field order, sample "
                   "lists as arrays of integers, and NaN and infinities as the strings \"NaN\", "
                   "\"Infinity\" and \"-Infinity\" (a NaN's sign and payload are not kept).",
                   "FILE", "the JSON file to write (default: standard output)", default=STDIO)


def run(args: argparse.Namespace) -> int:
    return write_made(args, json_pieces)


def json_pieces(path: str) -> list[Any]:
    protocol = streams.read_protocol(path)
    try:
        return to_json(protocol)
    except ImportError as error:  # sample arrays need NumPy
        raise Trouble(f"{name_text(path)}: NumPy is needed to export sample lists: {error}") from None
