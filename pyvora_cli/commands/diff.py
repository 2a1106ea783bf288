"""`pyvora diff`: one "<path>: <value in A> -> <value in B>" line per difference."""

import argparse
from typing import Any

from pyvora_cli import streams
from pyvora_cli.commands import add
from pyvora_cli.compare import differences, signal_texts
from pyvora_cli.names import name_text
from pyvora_cli.status import CLEAN, FOUND, out_of_memory
from pyvora_cli.streams import Trouble


def register(subparsers: Any) -> None:
    sub = add(subparsers, run, "diff", "compare two protocols field by field",
              "Print each differing value as '<path>: <value in A> -> <value in B>', signals present "
              "in one file only as 'signals[N]: only in B (<kind>)', and for two sample lists one line "
              "with the number of differing samples and the first of them. A and B may each be a "
              "protocol file or its JSON form, as export writes it: a file whose first character "
              "after any blanks is '{' is read as JSON, as build reads it. Exit status 0 when the "
              "protocols are the same, 1 when they differ, 2 when a file could not be read.")
    sub.add_argument("a", metavar="A")
    sub.add_argument("b", metavar="B")


def run(args: argparse.Namespace) -> int:
    values, texts = [], []
    for path in (args.a, args.b):
        protocol = streams.read_protocol(path)
        try:
            texts.append(signal_texts(protocol))
            values.append(protocol.to_dict())
        except ImportError as error:  # sample arrays need NumPy
            raise Trouble(f"{name_text(path)}: NumPy is needed to compare sample lists: {error}") from None
        except MemoryError:
            raise out_of_memory(path) from None
        del protocol
    status = CLEAN
    for line in differences(values[0], values[1], (texts[0], texts[1])):
        streams.write_text(line + "\n")
        status = FOUND
    return status
