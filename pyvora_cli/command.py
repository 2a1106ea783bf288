"""The `pyvora` command: its parser, made of each subcommand's own (pyvora_cli.commands), and
its run. Findings go to standard output, one per line; every failure takes the one road of
pyvora_cli.status. File names are written as pyvora_cli.names writes them."""

import argparse
import gc
import signal
import sys
from typing import NoReturn

import pyvora
from pyvora_cli import status, streams
from pyvora_cli.names import name_text
from pyvora_cli.commands import Show, Shown, add_help, build, check, diff, export, plot, show


class Parser(argparse.ArgumentParser):
    """argparse's parser, whose messages write the arguments they quote as every message of the
    command writes a name: a hostile one (`pyvora show *.vora`) reaches the terminal escaped."""

    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        self.exit(status.TROUBLE, f"{self.prog}: error: {name_text(message)}\n")


def parser() -> argparse.ArgumentParser:
    top = Parser(
        prog="pyvora", description="Show, check, compare, export, build and plot pyvora protocol files (.vora).",
        epilog="FILE may be '-' for standard input. Exit status: 0 clean or same, 1 problems or "
               "differences found, 2 trouble (a file could not be read or written, or another failure).",
        add_help=False)
    add_help(top)
    top.add_argument("--version", action=Show, text=lambda parser: f"pyvora {pyvora.__version__}\n",
                     help="show program's version number and exit")
    subparsers = top.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command in (show, check, diff, export, build, plot):
        command.register(subparsers)
    return top


def main(argv: list[str] | None = None) -> int:
    return status.outcome(run, argv)


def run(argv: list[str] | None) -> int:
    try:
        args = parser().parse_args(argv)
    except Shown as shown:
        streams.write_text(str(shown))
        return status.CLEAN
    code: int = args.run(args)
    return code


def console() -> int:
    """The `pyvora` command as a process runs it: main(), in a process that ends with it.

    At the exit every object is frozen, so the interpreter's shutdown skips collecting them:
    all it would find is what the imports made (matplotlib's objects are many), walked once
    more. Nothing needs that collection: every file is written and closed, and the output
    flushed, before main() returns.

    SIGTERM and SIGHUP end it as Ctrl-C does (unless the process was started with them
    ignored, as nohup starts it): a temporary file that has a name is removed.
    """
    for number in (signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(number) == signal.SIG_DFL:
            signal.signal(number, status.stop)
    try:
        return main()
    except status.Stopped as stopped:  # a second signal, while the first was being reported
        return 128 + stopped.number
    except KeyboardInterrupt:
        return status.INTERRUPTED
    finally:
        gc.freeze()
