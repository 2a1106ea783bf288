"""`pyvora build`: the protocol file of a JSON form."""

import argparse
from typing import Any

from pyvora_cli import streams
from pyvora_cli.commands import add_conversion, write_made


def register(subparsers: Any) -> None:
    add_conversion(subparsers, run, "build", "write a protocol file from JSON",
                   "Read a protocol's JSON form, as export writes it, and write the protocol file. The "
                   "JSON is checked as loading a file checks its bytes. Exit status 0 when the file was "
                   "written, 2 when the JSON is not a protocol or a file could not be read or written.",
                   "JSON", "the protocol file to write ('-': standard output)", required=True)


def run(args: argparse.Namespace) -> int:
    return write_made(args, lambda path: [streams.protocol_of_json(path, streams.read_bytes(path)).to_bytes()])
