"""Where the command reads and writes: files, `-` for standard input or output, and what a
failure there becomes. Every failure is a `Trouble` that holds its one line for standard error;
nothing here lets an OSError, a MemoryError or an encoding error reach the user as a traceback."""

import errno
import os
import stat
import sys
from collections.abc import Iterator
from contextlib import contextmanager
from typing import Any, TextIO

from pyvora import Protocol
from pyvora_cli.names import name_text

STDIO = "-"


class Trouble(Exception):
    """A failure the command reports as one line on standard error, then exits with 2."""


class OutputFailed(Trouble):
    """Standard output could not be written; an empty message means the reader went away
    (`pyvora show FILE | head`), which is not reported."""


def reason(error: OSError) -> str:
    return error.strerror or str(error)


def read_bytes(name: str) -> bytes:
    """The whole content of a file, or of standard input for `-`; raises Trouble."""
    try:
        if name == STDIO:
            if sys.stdin is None:
                raise OSError(errno.EBADF, "standard input is closed")
            return sys.stdin.buffer.read()
        with open(name, "rb") as file:
            return file.read()
    except OSError as error:
        raise Trouble(f"{name_text(name)}: {reason(error)}") from None
    except MemoryError:
        raise Trouble(f"{name_text(name)}: out of memory") from None


def read_protocol(name: str, data: bytes | None = None) -> Protocol:
    """The protocol in a file, or on standard input for `-` (in `data`, when its bytes were read
    already); raises Trouble."""
    try:
        if data is not None or name == STDIO:
            return Protocol.from_bytes(read_bytes(name) if data is None else data)
        return Protocol.load(name)
    except OSError as error:
        raise Trouble(f"{name_text(name)}: {reason(error)}") from None
    except ValueError as error:  # DecodeError: the content is not a protocol
        raise Trouble(f"{name_text(name)}: not a protocol file: {error}") from None
    except MemoryError:
        raise Trouble(f"{name_text(name)}: out of memory") from None


@contextmanager
def standard_output() -> Iterator[TextIO]:
    """Standard output, with a failed write turned into OutputFailed."""
    if sys.stdout is None:
        raise OutputFailed("pyvora: standard output is closed")
    try:
        yield sys.stdout
    except BrokenPipeError:
        raise OutputFailed("") from None
    except OSError as error:
        raise OutputFailed(f"pyvora: standard output: {reason(error)}") from None
    except UnicodeEncodeError as error:
        raise OutputFailed(f"pyvora: standard output: {error.encoding} cannot write "
                           f"{error.object[error.start:error.end]!a}") from None


def write_text(text: str) -> None:
    with standard_output() as out:
        out.write(text)


def write_bytes(*pieces: Any) -> None:
    """Bytes (or other buffers) to standard output, after the text written so far."""
    with standard_output() as out:
        out.flush()
        out.buffer.writelines(pieces)


def finish_output() -> None:
    """Flushes standard output, where a full disk shows itself."""
    if sys.stdout is not None:
        with standard_output() as out:
            out.flush()


def abandon_output() -> None:
    """After a failed write: what is still buffered goes nowhere, so the interpreter's own
    flush at exit fails no second time (which would print a message of its own)."""
    if sys.stdout is None:
        return
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass


def write_file(name: str, pieces: list[Any]) -> None:
    """Writes the pieces (bytes or other buffers) one after the other to a file, or to standard
    output for `-`; raises Trouble. A regular file whose writing failed is removed: no
    half-written file is left behind."""
    if name == STDIO:
        write_bytes(*pieces)
        return
    try:
        file = open(name, "wb")
    except OSError as error:
        raise Trouble(f"{name_text(name)}: {reason(error)}") from None
    try:
        with file:
            file.writelines(pieces)
    except OSError as error:
        try:
            if stat.S_ISREG(os.stat(name).st_mode):
                os.unlink(name)
        except OSError:
            pass
        raise Trouble(f"{name_text(name)}: {reason(error)}") from None
