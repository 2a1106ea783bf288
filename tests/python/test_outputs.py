"""The files the command writes: a file is replaced only once its new content is complete."""

import errno
import json
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

import pytest

from pyvora_cli import streams
from helpers import COMMAND, write, need


@pytest.fixture(params=["unnamed", "named"])
def temporary(request, monkeypatch, tmp_path):
    """Each way a replaced file's new content is kept until complete: a file without a name
    (O_TMPFILE, where the filesystem has it) and a hidden one beside the old file."""
    if request.param == "named":  # as a filesystem without unnamed files refuses them
        if hasattr(os, "O_TMPFILE"):
            plain_open = os.open

            def refusing(path, flags, *args, **kwargs):
                if flags & os.O_TMPFILE == os.O_TMPFILE:
                    raise OSError(errno.EOPNOTSUPP, os.strerror(errno.EOPNOTSUPP))
                return plain_open(path, flags, *args, **kwargs)

            monkeypatch.setattr(os, "open", refusing)
    else:
        try:
            os.close(os.open(tmp_path, os.O_TMPFILE | os.O_WRONLY))
        except (AttributeError, OSError):
            pytest.skip("no O_TMPFILE on this system or filesystem")
    return request.param


def limited_file_size(size):
    def limit():  # in the child: writing past `size` fails with EFBIG instead of a signal
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return limit


@pytest.mark.parametrize("command", ["build", "export", "plot"])
def test_a_failed_write_leaves_the_old_file_as_it_was(tmp_path, command):
    source = write(tmp_path / "p.vora")
    if command == "build":
        (tmp_path / "p.json").write_bytes(subprocess.run([COMMAND, "export", source], capture_output=True).stdout)
        source = str(tmp_path / "p.json")
    elif command == "plot":
        need("matplotlib")
    target = tmp_path / ("out.png" if command == "plot" else "out")
    target.write_bytes(b"old")
    target.chmod(0o640)
    before = sorted(os.listdir(tmp_path))
    # Written completely, the new content takes the old file's place and keeps its mode.
    assert subprocess.run([COMMAND, command, source, "-o", str(target)]).returncode == 0
    good = target.read_bytes()
    assert good != b"old" and stat.S_IMODE(target.stat().st_mode) == 0o640

    result = subprocess.run([COMMAND, command, source, "-o", str(target)], capture_output=True, text=True,
                            preexec_fn=limited_file_size(100))
    assert (result.returncode, result.stderr) == (2, f"{target}: {os.strerror(errno.EFBIG)}\n")
    assert target.read_bytes() == good and stat.S_IMODE(target.stat().st_mode) == 0o640
    assert sorted(os.listdir(tmp_path)) == before  # no temporary file left


def test_a_new_file_gets_the_mode_the_umask_gives(tmp_path):
    target = tmp_path / "p.json"
    subprocess.run([COMMAND, "export", write(tmp_path / "p.vora"), "-o", str(target)], check=True,
                   preexec_fn=lambda: os.umask(0o027))
    assert stat.S_IMODE(target.stat().st_mode) == 0o640


def test_ctrl_c_while_writing_leaves_the_old_file(tmp_path, temporary):
    target = tmp_path / "out.vora"
    target.write_bytes(b"old")
    with pytest.raises(KeyboardInterrupt), streams.replacing(str(target)) as file:
        file.write(b"new, half")
        raise KeyboardInterrupt
    assert target.read_bytes() == b"old" and os.listdir(tmp_path) == ["out.vora"]


def test_a_link_stays_and_a_fifo_is_written_in_place(tmp_path):
    (tmp_path / "real.vora").write_bytes(b"old")
    (tmp_path / "link.vora").symlink_to("real.vora")
    streams.write_file(str(tmp_path / "link.vora"), [b"new"])
    assert (tmp_path / "link.vora").is_symlink() and (tmp_path / "real.vora").read_bytes() == b"new"

    fifo = tmp_path / "fifo.vora"
    os.mkfifo(fifo)
    received = []
    reader = threading.Thread(target=lambda: received.append(Path(fifo).read_bytes()))
    reader.start()
    streams.write_file(str(fifo), [b"a", b"b"])
    reader.join(10)
    assert received == [b"ab"] and stat.S_ISFIFO(fifo.stat().st_mode)
    assert sorted(os.listdir(tmp_path)) == ["fifo.vora", "link.vora", "real.vora"]


def test_long_names_are_taken_and_a_folders_name_is_not_made_a_file(tmp_path, temporary):
    name = str(tmp_path / ("n" * 250))
    for content in (b"new", b"newer"):
        streams.write_file(name, [content])
        assert Path(name).read_bytes() == content and os.listdir(tmp_path) == ["n" * 250]
    with pytest.raises(streams.Trouble, match=f"^{tmp_path}/folder/: {os.strerror(errno.ENOTDIR)}$"):
        streams.write_file(f"{tmp_path}/folder/", [b"x"])
    assert os.listdir(tmp_path) == ["n" * 250]


def test_the_new_content_reaches_the_disk_before_its_name_and_is_never_wider_open(tmp_path, temporary,
                                                                                   monkeypatch):
    target = tmp_path / "out.vora"
    target.write_bytes(b"old")
    target.chmod(0o600)
    events = []

    def spy(name, call):
        def spied(*args, **kwargs):
            result = call(*args, **kwargs)
            if name == "open" and stat.S_ISREG(os.fstat(result).st_mode):
                events.append(("open", stat.S_IMODE(os.fstat(result).st_mode)))
            elif name == "fsync":
                events.append(("fsync", stat.S_ISREG(os.fstat(args[0]).st_mode)))
            elif name != "open":
                events.append((name,))
            return result
        return spied

    for name in ("open", "fsync", "link", "replace"):
        monkeypatch.setattr(os, name, spy(name, getattr(os, name)))
    streams.write_file(str(target), [b"new"])
    monkeypatch.undo()
    assert target.read_bytes() == b"new" and stat.S_IMODE(target.stat().st_mode) == 0o600
    assert all(mode & ~0o600 == 0 for event, *mode in events if event == "open" for mode in mode)
    named = [event for event in events if event[0] in ("link", "replace")]
    assert named and events.index(("fsync", True)) < events.index(named[0])


@pytest.mark.parametrize("shell, out", [
    ("{pyvora} export p.vora -o /dev/stdout >> log", "log"),
    ("{pyvora} export p.vora -o /dev/fd/3 3>> log", "log"),
    ("{pyvora} export p.vora -o /proc/self/fd/3 3>> log", "log"),
    ("{pyvora} export p.vora -o /dev/stdout | cat >> log", "log"),
])
def test_a_descriptor_is_written_through_not_replaced(tmp_path, shell, out):
    write(tmp_path / "p.vora")
    (tmp_path / "log").write_text("earlier\n")
    form = subprocess.run([COMMAND, "export", "p.vora"], cwd=tmp_path, capture_output=True, text=True).stdout
    result = subprocess.run(shell.format(pyvora=COMMAND), shell=True, cwd=tmp_path, capture_output=True, text=True)
    assert (result.returncode, result.stderr) == (0, "")
    assert (tmp_path / out).read_text() == "earlier\n" + form
    assert sorted(os.listdir(tmp_path)) == ["log", "p.vora"]


# Runs the command in this interpreter's process once it has dropped to an unprivileged user
# (argv[1]) and, besides, the groups argv[2] lists: the interpreter itself may live where only
# the user who runs the tests can read, so the imports come first (shutil: argparse's help
# formatter imports it when the parser is built).
AS_ANOTHER_USER = """
import os, sys
from pyvora_cli.entry import import_pyvora
import_pyvora()  # as the command does: no free-threaded interpreter's warning about the lock
import gettext, locale, numpy, shutil
from pyvora_cli import command
from pyvora_cli.commands import export
from pyvora_cli.entry import console
uid, groups = int(sys.argv[1]), [int(g) for g in sys.argv[2].split(",") if g]
if os.geteuid() != uid:
    os.setgroups(groups)
    os.setgid(uid)
    os.setuid(uid)
sys.argv = ["pyvora", *sys.argv[3:]]
sys.exit(console())
"""


@pytest.fixture
def shared(tmp_path):
    """A folder every user may enter and write in, and the uid of a user without privileges
    (nobody's, when the tests run as root)."""
    folder = Path(tempfile.mkdtemp())
    folder.chmod(0o777)
    yield folder, os.geteuid() or 65534
    shutil.rmtree(folder)


def as_user(uid: int, groups: list[int], *args: str) -> subprocess.CompletedProcess:
    result = subprocess.run([sys.executable, "-c", AS_ANOTHER_USER, str(uid), ",".join(map(str, groups)), *args],
                            capture_output=True, text=True)
    if result.returncode == 1 and "PermissionError" in result.stderr and "setgroups" in result.stderr:
        pytest.skip("this machine does not let the tests change user")
    return result


def test_a_file_the_process_may_not_write_is_refused(shared):
    folder, uid = shared
    source = write(folder / "p.vora")
    os.chmod(source, 0o644)
    target = folder / "out.json"
    target.write_bytes(b"old")
    target.chmod(0o444)
    result = as_user(uid, [], "export", source, "-o", str(target))
    assert (result.returncode, result.stderr) == (2, f"{target}: {os.strerror(errno.EACCES)}\n")
    assert target.read_bytes() == b"old" and sorted(os.listdir(folder)) == ["out.json", "p.vora"]


@pytest.mark.parametrize("member, mode", [(True, 0o660), (False, 0o666)])
def test_a_colleagues_file_keeps_its_group_and_mode(shared, member, mode):
    # A member of the file's group keeps it; another user who may write the file gets it in
    # their own group, and the write still succeeds.
    folder, uid = shared
    if os.geteuid() != 0:
        pytest.skip("two users and a group are arranged only as root")
    lab = 4242
    source = write(folder / "p.vora")
    os.chmod(source, 0o644)
    target = folder / "out.json"
    target.write_bytes(b"old")
    os.chown(target, uid - 1, lab)
    target.chmod(mode)
    os.chown(folder, 0, lab)
    folder.chmod(0o777 if not member else 0o770)
    result = as_user(uid, [lab] if member else [], "export", source, "-o", str(target))
    assert (result.returncode, result.stderr) == (0, "")
    status = target.stat()
    assert (status.st_uid, status.st_gid, stat.S_IMODE(status.st_mode)) == (uid, lab if member else uid, mode)
    assert target.read_bytes().startswith(b"{")


# The command, with its first write of a file followed by a signal to itself.
SIGNALLED = """
import os, sys
from pyvora_cli.entry import import_pyvora
import_pyvora()  # as the command does: no free-threaded interpreter's warning about the lock
from contextlib import contextmanager
if sys.argv[1] == "named":
    del os.O_TMPFILE
from pyvora_cli import streams
from pyvora_cli.entry import console
replacing, number = streams.replacing, int(sys.argv[2])

@contextmanager
def signalled(name):
    with replacing(name) as file:
        file.write(b"half")
        os.kill(os.getpid(), number)
        yield file

streams.replacing = signalled
sys.argv = ["pyvora", *sys.argv[3:]]
sys.exit(console())
"""


@pytest.mark.parametrize("temporary, number, status", [
    ("unnamed", signal.SIGKILL, -signal.SIGKILL),
    *((way, number, 128 + number) for way in ("unnamed", "named") for number in (signal.SIGTERM, signal.SIGHUP)),
], indirect=["temporary"])
def test_no_signal_leaves_a_temporary_file(tmp_path, temporary, number, status):
    source = write(tmp_path / "p.vora")
    target = tmp_path / "out.json"
    target.write_bytes(b"old")
    result = subprocess.run([sys.executable, "-c", SIGNALLED, temporary, str(int(number)), "export", source,
                             "-o", str(target)], capture_output=True, text=True)
    assert (result.returncode, result.stderr) == (status, "" if number == signal.SIGKILL else "pyvora: interrupted\n")
    assert target.read_bytes() == b"old" and sorted(os.listdir(tmp_path)) == ["out.json", "p.vora"]


def test_ctrl_c_just_as_the_hidden_file_is_made_leaves_none(tmp_path, monkeypatch):
    monkeypatch.delattr(os, "O_TMPFILE", raising=False)  # the hidden file's way
    plain_open = os.open

    def made_then_interrupted(path, flags, *args, **kwargs):
        descriptor = plain_open(path, flags, *args, **kwargs)
        if flags & os.O_EXCL:
            os.close(descriptor)
            raise KeyboardInterrupt
        return descriptor

    monkeypatch.setattr(os, "open", made_then_interrupted)
    with pytest.raises(KeyboardInterrupt), streams.replacing(str(tmp_path / "out")):
        pass
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("temporary", ["unnamed"], indirect=True)
def test_an_unnamed_file_takes_a_free_name_by_a_link_alone(tmp_path, temporary, monkeypatch):
    # No rename: a file another process makes under that name meanwhile is not replaced.
    monkeypatch.delattr(os, "replace")
    with streams.replacing(str(tmp_path / "new")) as file:
        file.write(b"new")
    assert os.listdir(tmp_path) == ["new"] and (tmp_path / "new").read_bytes() == b"new"


def test_the_new_file_is_open_to_its_owner_alone_until_it_has_the_old_ones_group(tmp_path, temporary, monkeypatch):
    old = tmp_path / "old"
    old.write_bytes(b"old")
    old.chmod(0o664)
    modes, keep_owner = [], streams.keep_owner
    monkeypatch.setattr(streams, "keep_owner", lambda descriptor, status: (
        modes.append(stat.S_IMODE(os.fstat(descriptor).st_mode)), keep_owner(descriptor, status)))
    with streams.replacing(str(old)) as file:
        file.write(b"new")
    assert len(modes) == 1 and not modes[0] & 0o077 and stat.S_IMODE(old.stat().st_mode) == 0o664


# check --json to a file whose writes each take half of what they are given, as a write a
# signal cuts short does (NFS, FUSE), with a Ctrl-C during each.
CUT_SHORT = """
import io, os, signal, sys
from pyvora_cli.entry import import_pyvora
import_pyvora()  # as the command does: no free-threaded interpreter's warning about the lock
from pyvora_cli.entry import console

class CutShort(io.FileIO):
    def write(self, data):
        os.kill(os.getpid(), signal.SIGINT)
        return super().write(bytes(data)[:max(1, len(data) // 2)])

sys.stdout = io.TextIOWrapper(io.BufferedWriter(CutShort(sys.argv[1], "w")))
sys.argv = ["pyvora", "check", "--json", *sys.argv[2:]]
sys.exit(console())
"""


def test_a_check_line_to_a_file_is_written_whole_before_ctrl_c_is_heard(tmp_path):
    out = tmp_path / "out.jsonl"
    result = subprocess.run([sys.executable, "-c", CUT_SHORT, str(out), "missing-1", "missing-2"],
                            capture_output=True, text=True)
    assert (result.returncode, result.stderr) == (130, "pyvora: interrupted\n")
    *lines, rest = out.read_text().split("\n")
    assert [json.loads(line)["file"] for line in lines] == ["missing-1"] and rest == ""


def test_the_new_file_is_made_in_the_old_ones_folder_wherever_the_command_runs(tmp_path, temporary, monkeypatch):
    gone = tmp_path / "gone"
    gone.mkdir()
    monkeypatch.chdir(gone)
    gone.rmdir()
    streams.write_file(str(tmp_path / "out"), [b"new"])
    assert (tmp_path / "out").read_bytes() == b"new" and os.listdir(tmp_path) == ["out"]
