"""`pyvora show`: the protocol's text form, sample lists cut to one line, then its problems."""

import argparse
from typing import Any

from pyvora_cli import streams
from pyvora_cli.commands import add
from pyvora_cli.status import CLEAN, out_of_memory


def register(subparsers: Any) -> None:
    sub = add(subparsers, run, "show", "print a protocol readably",
              "Print the protocol's text form with each arbitrary sample list cut to one line "
              "(<N samples, min A, max B, crc32 C>, C the CRC-32 of the samples), then each problem "
              "as 'problem: <path>: <what is wrong>'. Exit status 0 when the file was shown, 2 when "
              "it could not be read.")
    sub.add_argument("--full", action="store_true",
                     help="print the complete text form, str(Protocol.load(FILE)), every sample on its own line")
    sub.add_argument("file", metavar="FILE")


def run(args: argparse.Namespace) -> int:
    protocol = streams.read_protocol(args.file)
    try:
        # Written as is, then the line feed: no copy of a text that may run to hundreds of MB.
        streams.write_text(str(protocol) if args.full else protocol._summary_text())
        streams.write_text("\n")
        if not args.full:
            streams.write_text("".join(f"problem: {problem}\n" for problem in protocol.find_problems()))
    except MemoryError:
        raise out_of_memory(args.file) from None
    return CLEAN
