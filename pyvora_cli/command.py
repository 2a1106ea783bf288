"""Argument parsing and the three subcommands. Findings go to standard output, one per line;
files that cannot be read go to standard error as "FILE: <reason>", without a traceback."""

import argparse
import os
import sys

from pyvora import Protocol
from pyvora_cli import plot
from pyvora_cli.compare import differences

# Exit statuses, as diff(1) has them.
CLEAN, FOUND, TROUBLE = 0, 1, 2


class Unreadable(Exception):
    """A file that is missing, unreadable or not a protocol file; the message says which."""


def load(path: str) -> Protocol:
    try:
        return Protocol.load(path)
    except OSError as error:
        raise Unreadable(error.strerror or str(error)) from None
    except ValueError as error:  # DecodeError: the content is not a protocol
        raise Unreadable(f"not a protocol file: {error}") from None
    except MemoryError:
        raise Unreadable("out of memory") from None


def complain(path: str, reason: object) -> None:
    print(f"{path}: {reason}", file=sys.stderr)


def show(args: argparse.Namespace) -> int:
    try:
        protocol = load(args.file)
    except Unreadable as reason:
        complain(args.file, reason)
        return TROUBLE
    # Written as is, then the line feed: no copy of a text that may run to hundreds of MB.
    sys.stdout.write(str(protocol) if args.full else protocol._summary_text())
    sys.stdout.write("\n")
    if args.full:
        return CLEAN
    for problem in protocol.find_problems():
        print(f"problem: {problem}")
    return CLEAN


def check(args: argparse.Namespace) -> int:
    status = CLEAN
    for path in args.files:
        try:
            problems = load(path).find_problems()
        except Unreadable as reason:
            complain(path, reason)
            status = TROUBLE
            continue
        for problem in problems:
            print(f"{path}: {problem}")
        if problems:
            status = max(status, FOUND)
        else:
            print(f"{path}: ok")
    return status


def diff(args: argparse.Namespace) -> int:
    values = []
    for path in (args.a, args.b):
        try:
            values.append(load(path).to_dict())
        except Unreadable as reason:
            complain(path, reason)
            return TROUBLE
        except ImportError as error:  # sample arrays need NumPy
            complain(path, f"NumPy is needed to compare sample lists: {error}")
            return TROUBLE
    status = CLEAN
    for line in differences(values[0], values[1]):
        print(line)
        status = FOUND
    return status


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(
        prog="pyvora", description="Show, check and compare pyvora protocol files (.vora).",
        epilog="Exit status: 0 clean or same, 1 problems or differences found, 2 a file could not be read.")
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
    plot.add_command(commands)
    return top


def main(argv: list[str] | None = None) -> int:
    args = parser().parse_args(argv)
    try:
        status = args.run(args)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader stopped early (`pyvora show FILE | head`): no traceback, and no second
        # failure when the interpreter flushes standard output at exit.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return TROUBLE
    return status
