"""Where the command reads and writes: files, `-` for standard input or output, and what a
failure there becomes. Every failure is a `Trouble` that holds its one line for standard error;
nothing here lets an OSError, a MemoryError or an encoding error reach the user as a traceback."""

import errno
import os
import re
import secrets
import signal
import stat
import sys
from collections.abc import Iterator
from contextlib import contextmanager, suppress
from typing import Any, BinaryIO, TextIO, cast

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


# Characters of text encoded and written at a time: a Ctrl-C that comes while a piece is being
# encoded is heard before its write, which may block on a reader that waits.
CHUNK = 1 << 16


def write_text(text: str) -> None:
    with standard_output() as out:
        if len(text) <= CHUNK:
            out.write(text)
            return
        out.flush()
        for start in range(0, len(text), CHUNK):
            data = text[start:start + CHUNK].encode(out.encoding, cast(str, out.errors))  # never None here
            out.buffer.write(data)


def write_bytes(*pieces: Any) -> None:
    """Bytes (or other buffers) to standard output, after the text written so far."""
    with standard_output() as out:
        out.flush()
        out.buffer.writelines(pieces)


def regular_file(out: TextIO) -> bool:
    try:
        return stat.S_ISREG(os.fstat(out.fileno()).st_mode)
    except (OSError, ValueError):  # no descriptor (a stream in memory), or a closed one
        return False


# The signals that end the command (pyvora_cli.command.console).
ENDING = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}


def write_line(line: bytes) -> None:
    """A line to standard output, after the text written so far. To a regular file, which no
    reader can stall, the line is written whole before a signal that ends the command is heard.
    To a pipe or a terminal a signal stays heard at once: there a line of at most PIPE_BUF bytes
    arrives whole (one write), a longer one may be cut."""
    with standard_output() as out:
        if not regular_file(out):
            write_bytes(line)
            return
        held = signal.pthread_sigmask(signal.SIG_BLOCK, ENDING)
        try:
            out.flush()
            out.buffer.write(line)
            out.buffer.flush()
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, held)


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


# Names that stand for a descriptor the process holds: written through it, never reopened.
DESCRIPTOR_NAME = re.compile(r"/dev/(?:std(?P<standard>in|out|err)|fd/(?P<fd>[0-9]+))|/proc/self/fd/(?P<proc>[0-9]+)")
STANDARD_DESCRIPTORS = {"in": 0, "out": 1, "err": 2}


def descriptor_named(name: str) -> int | None:
    """The descriptor `/dev/stdout`, `/dev/stderr`, `/dev/fd/N` or `/proc/self/fd/N` names."""
    found = DESCRIPTOR_NAME.fullmatch(name)
    if found is None:
        return None
    if found["standard"]:
        return STANDARD_DESCRIPTORS[found["standard"]]
    return int(found["fd"] or found["proc"])


@contextmanager
def replacing(name: str) -> Iterator[BinaryIO]:
    """A binary file to write in place of the file `name`.

    A name that stands for a descriptor (`/dev/stdout`, `/dev/fd/N`) is written through that
    descriptor, at its offset and with its flags (`>>` appends), as the shell opened it; a FIFO
    or a device is opened and written in place. Only a regular file (or a new one) is replaced:
    written to a file without a name (O_TMPFILE) or, where the filesystem has none, to a hidden
    one beside it, flushed to the disk and put in its place only once complete. A failure,
    Ctrl-C included, leaves the old file as it was and no temporary file; an unnamed one is left
    by no signal at all. The old file's permissions are kept, and its owner and group as far as
    the process may give them; a new file gets the mode open() would give it. An OSError says
    why not."""
    if not name:
        raise FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), name)
    number = descriptor_named(name)
    if number is not None:
        if number == 1 and sys.stdout is not None:
            sys.stdout.flush()
        with open(number, "wb", closefd=False) as file:
            yield file
        return
    try:
        status: os.stat_result | None = os.stat(name)
    except FileNotFoundError:
        status = None
    if status is None and name.endswith("/"):  # cp refuses to make a file of a folder's name too
        raise NotADirectoryError(errno.ENOTDIR, os.strerror(errno.ENOTDIR), name)
    if status is not None and not stat.S_ISREG(status.st_mode):
        with open(name, "wb") as file:
            yield file
        return
    target = os.path.realpath(name)  # a link keeps pointing where it did
    if status is not None:
        os.close(os.open(target, os.O_WRONLY | os.O_CLOEXEC))  # the old file may be written at all
    folder, base = os.path.split(target)
    folder_descriptor = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    try:
        with temporary_beside(folder_descriptor, base, status) as (descriptor, temporary):
            with open(descriptor, "wb", closefd=False) as file:
                yield file
            os.fsync(descriptor)
            put_in_place(folder_descriptor, descriptor, temporary, base)
        with suppress(OSError):  # the new name reaches the disk with the folder
            os.fsync(folder_descriptor)
    finally:
        os.close(folder_descriptor)


NAME_MAX = 255  # bytes of a name in a folder, on every filesystem the command writes to


class Temporary:
    """The name a temporary file has in the folder, or has not yet (an unnamed one)."""

    def __init__(self, base: str):
        self.base = base
        self.name: str | None = None

    def new_name(self) -> str:
        """`.BASE.XXXXXXXX.tmp`, BASE cut short so that the name stays within what a folder allows."""
        raw = os.fsencode(self.base)[:NAME_MAX - 14]
        return f".{os.fsdecode(raw)}.{secrets.token_hex(4)}.tmp"


@contextmanager
def temporary_beside(folder: int, base: str, status: os.stat_result | None) -> Iterator[tuple[int, Temporary]]:
    """A new file for the content of `base` in the folder open as `folder`, and its name:
    unnamed where the filesystem allows. Its permissions never exceed the old file's; it is
    removed on any failure."""
    # An old file's mode is given once the owner and group are its own: until then only the
    # permissions its owner has, so that no group or other user has a moment of more access.
    mode = 0o666 if status is None else stat.S_IMODE(status.st_mode) & 0o700
    temporary = Temporary(base)
    descriptor = unnamed_file(folder, mode)
    if descriptor is None:
        while True:
            temporary.name = temporary.new_name()
            try:
                descriptor = os.open(temporary.name, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, mode,
                                     dir_fd=folder)
                break
            except FileExistsError:
                continue
            except BaseException:  # a Ctrl-C may come just after the file was made
                with suppress(OSError):
                    os.unlink(temporary.name, dir_fd=folder)
                raise
    try:
        if status is not None:
            keep_owner(descriptor, status)
        yield descriptor, temporary
    except BaseException:
        if temporary.name is not None:
            with suppress(OSError):
                os.unlink(temporary.name, dir_fd=folder)
        raise
    finally:
        os.close(descriptor)


def unnamed_file(folder: int, mode: int) -> int | None:
    """A file without a name in the folder (O_TMPFILE), or None where the system or the
    filesystem has none or it could not be linked in (no /proc/self/fd)."""
    flag = getattr(os, "O_TMPFILE", None)
    if flag is None or not os.path.isdir("/proc/self/fd"):
        return None
    try:
        return os.open(".", flag | os.O_WRONLY | os.O_CLOEXEC, mode, dir_fd=folder)
    except OSError as error:
        if error.errno in (errno.EOPNOTSUPP, errno.EISDIR, errno.EINVAL):
            return None
        raise


def keep_owner(descriptor: int, status: os.stat_result) -> None:
    """Gives the new file the old one's owner and group, or its group alone where the process
    may give only that (a member of the group may, as editors and `sed -i` do), then its mode."""
    made = os.fstat(descriptor)
    if (made.st_uid, made.st_gid) != (status.st_uid, status.st_gid):
        try:
            os.fchown(descriptor, status.st_uid, status.st_gid)
        except OSError:
            with suppress(OSError):
                os.fchown(descriptor, -1, status.st_gid)
    os.fchmod(descriptor, stat.S_IMODE(status.st_mode))


def put_in_place(folder: int, descriptor: int, temporary: Temporary, base: str) -> None:
    """Gives the complete file the name `base`, over the old file if there is one. An unnamed
    file is linked in: straight to `base` when that is free, else under a temporary name first,
    renamed over the old file."""
    if temporary.name is None:
        source = f"/proc/self/fd/{descriptor}"
        try:
            os.link(source, base, dst_dir_fd=folder, follow_symlinks=True)
            return
        except FileExistsError:
            pass
        while True:
            temporary.name = temporary.new_name()
            try:
                os.link(source, temporary.name, dst_dir_fd=folder, follow_symlinks=True)
                break
            except FileExistsError:
                temporary.name = None  # another's file
    os.replace(temporary.name, base, src_dir_fd=folder, dst_dir_fd=folder)


def same_file(source: str, output: str) -> bool:
    """Whether the output names the very file (a link to it included) that the source does."""
    if STDIO in (source, output):
        return False
    try:
        return os.path.samefile(source, output)
    except (OSError, ValueError):
        return False


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
