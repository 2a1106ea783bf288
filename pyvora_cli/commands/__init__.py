"""The subcommands, one module each: register(subparsers) adds its parser, run(args) does the
work and returns the exit status. Here too the options that print a text instead of running
(--help, --version): they raise Shown, whose text main() writes as it writes every output."""

import argparse
from collections.abc import Callable
from typing import Any

from pyvora_cli import streams
from pyvora_cli.names import name_text
from pyvora_cli.status import CLEAN, out_of_memory
from pyvora_cli.streams import Trouble


class Shown(Exception):
    """The text of --help or --version, to be written instead of running a subcommand."""


class Show(argparse.Action):
    """An option that stops the parsing and shows text(parser): argparse's own would write it
    to standard output itself, where a failed write is not reported the same way on every
    interpreter."""

    def __init__(self, option_strings: list[str], dest: str, text: Callable[[argparse.ArgumentParser], str],
                 help: str) -> None:
        super().__init__(option_strings, argparse.SUPPRESS, nargs=0, default=argparse.SUPPRESS, help=help)
        self.text = text

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> None:
        raise Shown(self.text(parser))


def add_help(parser: argparse.ArgumentParser) -> None:
    """-h, --help, in the place and words argparse gives its own."""
    parser.add_argument("-h", "--help", action=Show, text=argparse.ArgumentParser.format_help,
                        help="show this help message and exit")


def add(subparsers: Any, run: Callable[[argparse.Namespace], int], name: str, summary: str,
        description: str) -> argparse.ArgumentParser:
    """The parser of the subcommand `name`, which runs `run`."""
    sub: argparse.ArgumentParser = subparsers.add_parser(name, help=summary, description=description,
                                                         add_help=False)
    add_help(sub)
    sub.set_defaults(run=run)
    return sub


def add_conversion(subparsers: Any, run: Callable[[argparse.Namespace], int], name: str, summary: str,
                   description: str, source: str, output: str, **output_options: Any) -> argparse.ArgumentParser:
    """A subcommand that writes one file made from another: `name SOURCE -o OUT`; its parser."""
    sub = add(subparsers, run, name, summary, description)
    sub.add_argument("file", metavar=source)
    sub.add_argument("-o", dest="output", metavar="OUT", help=output, **output_options)
    return sub


def write_made(args: argparse.Namespace, make: Callable[[str], list[Any]]) -> int:
    """Writes to OUT what `make` makes of the file named FILE (its pieces, one after the other).
    OUT may not be FILE itself: its replacement would lose the input (plot refuses it too)."""
    if streams.same_file(args.file, args.output):
        raise Trouble(f"{name_text(args.output)}: is the input file itself; name another file with -o OUT")
    try:
        pieces = make(args.file)
    except MemoryError:
        raise out_of_memory(args.file) from None
    streams.write_file(args.output, pieces)
    return CLEAN
