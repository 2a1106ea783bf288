"""The files the command writes: a file is replaced only once its new content is complete."""

import errno
import os
import resource
import signal
import stat
import subprocess
import threading
from pathlib import Path

import pytest

from pyvora_cli import streams
from helpers import COMMAND, write


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
        pytest.importorskip("matplotlib", reason="matplotlib is not installed")
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


def test_ctrl_c_while_writing_leaves_the_old_file(tmp_path):
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
