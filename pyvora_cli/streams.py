"""Where the command reads and writes: files, `-` for standard input or output, and what a
failure there becomes. Every failure is a `Trouble` that holds its one line for standard error;
nothing here lets an OSError, a MemoryError or an encoding error reach the user as a traceback."""

import errno
import os
import secrets
import stat
import sys
from collections.abc import Iterator
from contextlib import contextmanager, suppress
from typing import Any, BinaryIO, TextIO

from pyvora import DecodeError, Protocol
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


# The bytes a JSON form may start with: JSON's blanks and the brace of its object. A protocol
# file starts with a flag, 0 or 1.
JSON_START = b" \t\n\r{"


def is_json_form(data: bytes) -> bool:
    """Whether data is a JSON form rather than a protocol file: its first non-blank byte is "{"."""
    return data.lstrip(JSON_START[:4])[:1] == b"{"


def protocol_of_json(name: str, data: bytes) -> Protocol:
    """The protocol of a JSON form; raises Trouble with the line that says why not."""
    try:
        return Protocol.from_json(data)
    except DecodeError as error:
        raise Trouble(f"{name_text(name)}: {error}") from None
    except MemoryError:
        raise Trouble(f"{name_text(name)}: out of memory") from None


def read_protocol(name: str, data: bytes | None = None) -> Protocol:
    """The protocol in a protocol file or in its JSON form (see is_json_form), from a file or
    from standard input for `-` (in `data`, when its bytes were read already); raises Trouble.
    A regular file is loaded in place unless its first byte may start a JSON form."""
    try:
        if data is None and name != STDIO:
            with open(name, "rb") as file:
                if stat.S_ISREG(os.fstat(file.fileno()).st_mode):
                    first = os.pread(file.fileno(), 1, 0)
                    if not first or first[0] not in JSON_START:
                        return Protocol.load(name)
                data = file.read()
        elif data is None:
            data = read_bytes(name)
        if is_json_form(data):
            return protocol_of_json(name, data)
        return Protocol.from_bytes(data)
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


@contextmanager
def replacing(name: str) -> Iterator[BinaryIO]:
    """A binary file to write in place of the file `name`. A regular file (or a new one) is
    written as a temporary file beside it, flushed to the disk and renamed over it only once
    complete: a failure, Ctrl-C included, leaves the old file as it was and no temporary file.
    The old file's permissions (and owner, where the process may keep it) are kept; a new file
    gets the mode open() would give it. Anything else (a FIFO, a device) is written in place.
    An OSError says why not."""
    target = os.path.realpath(name)  # a link keeps pointing where it did
    try:
        status: os.stat_result | None = os.stat(target)
    except FileNotFoundError:
        status = None
    if status is not None and not stat.S_ISREG(status.st_mode):
        with open(name, "wb") as file:
            yield file
        return
    if status is not None:
        os.close(os.open(target, os.O_WRONLY | os.O_CLOEXEC))  # the old file may be written at all
    folder, base = os.path.split(target)
    while True:
        temporary = os.path.join(folder, f".{base}.{secrets.token_hex(4)}.tmp")
        try:
            descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
            break
        except FileExistsError:
            continue
        except BaseException:  # a Ctrl-C may come just after the file was made
            with suppress(OSError):
                os.unlink(temporary)
            raise
    try:
        with open(descriptor, "wb") as file:
            if status is not None:
                if (status.st_uid, status.st_gid) != (os.geteuid(), os.getegid()):
                    with suppress(OSError):
                        os.fchown(descriptor, status.st_uid, status.st_gid)
                os.fchmod(descriptor, stat.S_IMODE(status.st_mode))
            yield file
            file.flush()
            os.fsync(descriptor)
        os.replace(temporary, target)
    except BaseException:
        with suppress(OSError):
            os.unlink(temporary)
        raise
    with suppress(OSError):  # the rename itself reaches the disk with the folder
        folder_descriptor = os.open(folder or ".", os.O_RDONLY | os.O_CLOEXEC)
        try:
            os.fsync(folder_descriptor)
        finally:
            os.close(folder_descriptor)


def write_file(name: str, pieces: list[Any]) -> None:
    """Writes the pieces (bytes or other buffers) one after the other to a file, or to standard
    output for `-`; raises Trouble. A regular file is replaced only once all of it is written
    (see replacing): a failure leaves the old file as it was."""
    if name == STDIO:
        write_bytes(*pieces)
        return
    try:
        with replacing(name) as file:
            file.writelines(pieces)
    except OSError as error:
        raise Trouble(f"{name_text(name)}: {reason(error)}") from None
