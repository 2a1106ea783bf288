"""The subcommands, one module each: register(subparsers) adds its parser, run(args) does the
work and returns the exit status."""

import argparse
from collections.abc import Callable
from typing import Any

from pyvora_cli import streams
from pyvora_cli.status import CLEAN, out_of_memory


def add(subparsers: Any, run: Callable[[argparse.Namespace], int], name: str, summary: str,
        description: str) -> argparse.ArgumentParser:
    """The parser of the subcommand `name`, which runs `run`."""
    sub: argparse.ArgumentParser = subparsers.add_parser(name, help=summary, description=description)
    sub.set_defaults(run=run)
    return sub


def add_conversion(subparsers: Any, run: Callable[[argparse.Namespace], int], name: str, summary: str,
                   description: str, source: str, output: str, **output_options: Any) -> None:
    """A subcommand that writes one file made from another: `name SOURCE -o OUT`."""
    sub = add(subparsers, run, name, summary, description)
    sub.add_argument("file", metavar=source)
    sub.add_argument("-o", dest="output", metavar="OUT", help=output, **output_options)


def write_made(args: argparse.Namespace, make: Callable[[str], list[Any]]) -> int:
    """Writes to OUT what `make` makes of the file named FILE (its pieces, one after the other)."""
    try:
        pieces = make(args.file)
    except MemoryError:
        raise out_of_memory(args.file) from None
    streams.write_file(args.output, pieces)
    return CLEAN
