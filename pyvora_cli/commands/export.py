"""`pyvora export`: the protocol as JSON."""

import argparse
from typing import Any

from pyvora_cli import streams
from pyvora_cli.json_form import to_json
from pyvora_cli.names import name_text
from pyvora_cli.status import CLEAN, out_of_memory
from pyvora_cli.streams import STDIO, Trouble


def register(subparsers: Any) -> None:
    sub = subparsers.add_parser(
        "export", help="write a protocol as JSON",
        description="Write the protocol as JSON: Protocol.to_dict() with keys in field order, sample "
                    "lists as arrays of integers, and NaN and infinities as the strings \"NaN\", "
                    "\"Infinity\" and \"-Infinity\" (a NaN's sign and payload are not kept).")
    sub.add_argument("file", metavar="FILE")
    sub.add_argument("-o", dest="output", metavar="OUT", default=STDIO,
                     help="the JSON file to write (default: standard output)")
    sub.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    protocol = streams.read_protocol(args.file)
    try:
        data = to_json(protocol)
    except ImportError as error:  # sample arrays need NumPy
        raise Trouble(f"{name_text(args.file)}: NumPy is needed to export sample lists: {error}") from None
    except MemoryError:
        raise out_of_memory(args.file) from None
    del protocol
    streams.write_file(args.output, data)
    return CLEAN
