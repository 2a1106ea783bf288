"""The command's exit statuses, as diff(1) has them, and the one road every failure takes: one
line on standard error ("FILE: <reason>" or "pyvora: <reason>"), exit status 2, no traceback.
Ctrl-C takes it too, with exit status 130, as a shell reports a command that SIGINT ended; so
do SIGTERM and SIGHUP, with 128 + their number."""

import signal
import sys
from collections.abc import Callable
from typing import Any

from pyvora_cli import streams
from pyvora_cli.names import name_text
from pyvora_cli.streams import OutputFailed, Trouble

CLEAN, FOUND, TROUBLE = 0, 1, 2
INTERRUPTED = 130


class Stopped(KeyboardInterrupt):
    """SIGTERM or SIGHUP, heard as Ctrl-C is: what is being written is dropped, the old file kept."""

    def __init__(self, number: int):
        super().__init__(number)
        self.number = number


def stop(number: int, frame: object) -> None:
    raise Stopped(number)


def complain(line: str) -> None:
    if sys.stderr is not None:  # with standard error closed there is no one to tell
        try:
            print(line, file=sys.stderr, flush=True)
        except (OSError, ValueError):
            pass


def out_of_memory(name: str) -> Trouble:
    return Trouble(f"{name_text(name)}: out of memory")


def outcome(run: Callable[[Any], int], args: Any) -> int:
    """Runs a subcommand; whatever goes wrong is reported here and becomes TROUBLE, an
    interruption INTERRUPTED."""
    try:
        try:
            status = run(args)
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
    except KeyboardInterrupt as interruption:
        interrupted()
        return 128 + interruption.number if isinstance(interruption, Stopped) else INTERRUPTED
    return status


def interrupted() -> None:
    """What is still buffered for standard output is dropped, not flushed: a flush could block
    on a reader that stopped, and the user asked to stop."""
    streams.abandon_output()
    complain("pyvora: interrupted")
