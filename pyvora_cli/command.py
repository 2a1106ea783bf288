"""Argument parsing, the inspecting subcommands (show, check, diff) and what every failure
becomes. Findings go to standard output, one per line; a file that cannot be read, and any
other failure, is one line on standard error ("FILE: <reason>" or "pyvora: <reason>") with exit
status 2 and no traceback. File names are written as pyvora_cli.names writes them."""

import argparse
import gc
import sys

import pyvora
from pyvora_cli import json_form, plot, streams
from pyvora_cli.compare import differences
from pyvora_cli.names import name_text
from pyvora_cli.streams import STDIO, OutputFailed, Trouble, write_text

# Exit statuses, as diff(1) has them.
CLEAN, FOUND, TROUBLE = 0, 1, 2


def complain(line: str) -> None:
    if sys.stderr is not None:  # with standard error closed there is no one to tell
        try:
            print(line, file=sys.stderr, flush=True)
        except (OSError, ValueError):
            pass


def show(args: argparse.Namespace) -> int:
    protocol = streams.read_protocol(args.file)
    try:
        # Written as is, then the line feed: no copy of a text that may run to hundreds of MB.
        write_text(str(protocol) if args.full else protocol._summary_text())
        write_text("\n")
        if not args.full:
            write_text("".join(f"problem: {problem}\n" for problem in protocol.find_problems()))
    except MemoryError:
        raise Trouble(f"{name_text(args.file)}: out of memory") from None
    return CLEAN


def problems_of(path: str) -> list[str]:
    protocol = streams.read_protocol(path)
    try:
        return protocol.find_problems()
    except MemoryError:
        raise Trouble(f"{name_text(path)}: out of memory") from None


def check(args: argparse.Namespace) -> int:
    status = CLEAN
    if args.json:
        import msgspec

        encode = msgspec.json.Encoder().encode
    for path in args.files:
        try:
            problems, error = problems_of(path), None
        except OutputFailed:
            raise
        except Trouble as trouble:
            problems, error = [], str(trouble)
            status = TROUBLE
        if problems:
            status = max(status, FOUND)
        name = name_text(path)
        if args.json:
            reason = None if error is None else error.removeprefix(f"{name}: ")
            streams.write_bytes(encode({"file": name, "problems": problems, "error": reason}) + b"\n")
        elif error is not None:
            complain(error)
        else:
            write_text("".join(f"{name}: {problem}\n" for problem in problems) or f"{name}: ok\n")
    return status


def diff(args: argparse.Namespace) -> int:
    values = []
    for path in (args.a, args.b):
        protocol = streams.read_protocol(path)
        try:
            values.append(protocol.to_dict())
        except ImportError as error:  # sample arrays need NumPy
            raise Trouble(f"{name_text(path)}: NumPy is needed to compare sample lists: {error}") from None
        except MemoryError:
            raise Trouble(f"{name_text(path)}: out of memory") from None
        del protocol
    status = CLEAN
    for line in differences(values[0], values[1]):
        write_text(line + "\n")
        status = FOUND
    return status


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(
        prog="pyvora", description="Show, check, compare, export and build pyvora protocol files (.vora).",
        epilog="FILE may be '-' for standard input. Exit status: 0 clean or same, 1 problems or "
               "differences found, 2 trouble (a file could not be read or written, or another failure).")
    top.add_argument("--version", action="version", version=f"pyvora {pyvora.__version__}")
    commands = top.add_subparsers(dest="command", required=True, metavar="COMMAND")

    sub = commands.add_parser(
        "show", help="print a protocol readably",
        description="Print the protocol's text form with each arbitrary sample list cut to one line "
                    "(<N samples, min A, max B>), then each problem as 'problem: <path>: <what is wrong>'.")
    sub.add_argument("--full", action="store_true",
                     help="print the complete text form, str(Protocol.load(FILE)), every sample on its own line")
    sub.add_argument("file", metavar="FILE")
    sub.set_defaults(run=show)

    sub = commands.add_parser(
        "check", help="report likely mistakes in protocols",
        description="For each file print 'FILE: ok', or 'FILE: <path>: <what is wrong>' for each problem "
                    "that Protocol.find_problems() reports. Exit status 0 when every file is clean, 1 when "
                    "any has problems, 2 when any could not be read.")
    sub.add_argument("--json", action="store_true",
                     help='print one JSON object per file and line instead: {"file": FILE, "problems": '
                          '[...], "error": null or why the file could not be read}')
    sub.add_argument("files", nargs="+", metavar="FILE")
    sub.set_defaults(run=check)

    sub = commands.add_parser(
        "diff", help="compare two protocols field by field",
        description="Print each differing value as '<path>: <value in A> -> <value in B>', signals present "
                    "in one file only as 'signals[N]: only in B (<kind>)', and for two sample lists one line "
                    "with the number of differing samples and the first of them. Exit status 0 when the "
                    "protocols are the same, 1 when they differ, 2 when a file could not be read.")
    sub.add_argument("a", metavar="A")
    sub.add_argument("b", metavar="B")
    sub.set_defaults(run=diff)

    sub = commands.add_parser(
        "export", help="write a protocol as JSON",
        description="Write the protocol as JSON: Protocol.to_dict() with keys in field order, sample "
                    "lists as arrays of integers, and NaN and infinities as the strings \"NaN\", "
                    "\"Infinity\" and \"-Infinity\" (a NaN's sign and payload are not kept).")
    sub.add_argument("file", metavar="FILE")
    sub.add_argument("-o", dest="output", metavar="OUT", default=STDIO,
                     help="the JSON file to write (default: standard output)")
    sub.set_defaults(run=json_form.export)

    sub = commands.add_parser(
        "build", help="write a protocol file from JSON",
        description="Read a protocol's JSON form, as export writes it, and write the protocol file. The "
                    "JSON is checked as loading a file checks its bytes.")
    sub.add_argument("file", metavar="JSON")
    sub.add_argument("-o", dest="output", metavar="OUT", required=True,
                     help="the protocol file to write ('-': standard output)")
    sub.set_defaults(run=json_form.build)

    plot.add_command(commands)
    return top


def main(argv: list[str] | None = None) -> int:
    args = parser().parse_args(argv)
    try:
        try:
            status: int = args.run(args)
        except OutputFailed:
            raise
        except Trouble as trouble:
            complain(str(trouble))
            status = TROUBLE
        except MemoryError:
            complain("pyvora: out of memory")
            status = TROUBLE
        except Exception as error:  # a fault of the command itself: still one line, no traceback
            complain(f"pyvora: internal error: {type(error).__name__}: {error}")
            status = TROUBLE
        streams.finish_output()
    except OutputFailed as failure:
        streams.abandon_output()
        if str(failure):  # a reader that stopped early (`pyvora show FILE | head`) is not reported
            complain(str(failure))
        return TROUBLE
    return status


def console() -> int:
    """The `pyvora` command as a process runs it: main(), in a process that ends with it.

    At the exit every object is frozen, so the interpreter's shutdown skips collecting them:
    all it would find is what the imports made (matplotlib's objects are many), walked once
    more. Nothing needs that collection: every file is written and closed, and the output
    flushed, before main() returns.
    """
    try:
        return main()
    finally:
        gc.freeze()
