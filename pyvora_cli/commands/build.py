"""`pyvora build`: the protocol file of a JSON form."""

import argparse
from typing import Any

from pyvora_cli import streams
from pyvora_cli.json_form import from_json
from pyvora_cli.status import CLEAN, out_of_memory


def register(subparsers: Any) -> None:
    sub = subparsers.add_parser(
        "build", help="write a protocol file from JSON",
        description="Read a protocol's JSON form, as export writes it, and write the protocol file. The "
                    "JSON is checked as loading a file checks its bytes.")
    sub.add_argument("file", metavar="JSON")
    sub.add_argument("-o", dest="output", metavar="OUT", required=True,
                     help="the protocol file to write ('-': standard output)")
    sub.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    data = streams.read_bytes(args.file)
    try:
        encoded = from_json(data, args.file).to_bytes()
    except MemoryError:
        raise out_of_memory(args.file) from None
    del data
    streams.write_file(args.output, [encoded])
    return CLEAN
