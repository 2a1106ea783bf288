"""Protocol.save: the bytes of the file, the name check, argument handling and file errors."""

import os
import pathlib
import socket
import struct
import subprocess
import sys

import pytest

from conftest import run_python
from helpers import DEFAULT_FILE, UNWRAP, panic_message, need
from pyvora import Channel, Coil, Protocol

SIGNALS_AT = 150  # the signal table starts here while the machine description is the default
AFTER_SIGNALS = 41  # two channel records, 16 trace flags, the subsampling factor
FILLED_TABLE = bytes.fromhex("01 00 0000000000000000")  # one Constant 0.0
NAME_MESSAGE = 'assertion failed: filepath.ends_with(".vora")'


def os_error_message(code, kind):
    text = os.strerror(code)
    assert text.isprintable() and text.isascii()
    quoted = '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    return f"{UNWRAP}Os {{ code: {code}, kind: {kind}, message: {quoted} }}"


def saved(protocol, path):
    assert protocol.save(str(path)) is None
    return pathlib.Path(path).read_bytes()


def signal_table(data):
    return data[SIGNALS_AT:-AFTER_SIGNALS]


def assert_table_empty(protocol):
    """The empty table was not filled: the next signal still takes position 0."""
    assert protocol.add_constant_signal(0.5) == 0


def test_default_file(fresh, tmp_path):
    assert saved(fresh, tmp_path / "p.vora") == DEFAULT_FILE


@pytest.mark.parametrize("value", ["", "1"])
def test_target_machine_changes_only_the_first_byte(monkeypatch, tmp_path, value):
    monkeypatch.setenv("VORA_TARGET_MACHINE", value)
    protocol = Protocol()
    monkeypatch.delenv("VORA_TARGET_MACHINE")  # only creation reads it
    assert saved(protocol, tmp_path / "p.vora") == b"\x01" + DEFAULT_FILE[1:]


class StrSub(str):
    """Its own text is what counts, not what its methods claim."""

    def __str__(self):
        return "elsewhere.vora"

    __fspath__ = __str__

    def endswith(self, *args):
        return True


@pytest.mark.parametrize(
    "name, call",
    [("x.vora", lambda p, n: p.save(n)), (".vora", lambda p, n: p.save(n)),
     ("d/p.vora", lambda p, n: p.save(n)), ("\u00e9\u30c6.vora", lambda p, n: p.save(n)),
     ("x.vora", lambda p, n: p.save(filepath=n)), ("x.vora", lambda p, n: p.save(StrSub(n)))],
    ids=["plain", "suffix-only", "subdirectory", "non-ascii", "keyword", "str-subclass"],
)
def test_accepted_names_are_relative_to_the_current_directory(fresh, tmp_path, monkeypatch, name, call):
    (tmp_path / "d").mkdir()
    monkeypatch.chdir(tmp_path)
    assert call(fresh, name) is None
    assert (tmp_path / name).read_bytes() == DEFAULT_FILE


@pytest.mark.parametrize(
    "name", [".VORA", "x.Vora", "x.vora.bak", "vora", "x.vor", "", "x.vora ", "x.vor\u0430", "x\0.txt", StrSub("x.txt")]
)
def test_refused_names_change_nothing(fresh, tmp_path, monkeypatch, name):
    monkeypatch.chdir(tmp_path)
    assert panic_message(lambda: fresh.save(name)) == NAME_MESSAGE
    assert list(tmp_path.iterdir()) == []
    assert_table_empty(fresh)


@pytest.mark.parametrize(
    "argument, type_name",
    [(pathlib.Path("x.vora"), "PosixPath"), (b"x.vora", "bytes"), (None, "NoneType"), (5, "int"),
     (bytearray(b"x.vora"), "bytearray")],
)
def test_non_str_paths_are_refused(fresh, tmp_path, monkeypatch, argument, type_name):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(TypeError) as caught:
        fresh.save(argument)
    assert str(caught.value) == f"argument 'filepath': '{type_name}' object cannot be cast as 'str'"
    assert list(tmp_path.iterdir()) == []
    assert_table_empty(fresh)


def test_lone_surrogate_raises_the_encoding_error(fresh, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(UnicodeEncodeError) as caught:
        fresh.save("\ud800.vora")
    with pytest.raises(UnicodeEncodeError) as expected:
        "\ud800.vora".encode()
    assert (caught.value.encoding, caught.value.reason) == (expected.value.encoding, expected.value.reason)
    assert list(tmp_path.iterdir()) == []
    assert_table_empty(fresh)


@pytest.mark.parametrize(
    "call, message",
    [(lambda p: p.save(), "Protocol.save() missing 1 required positional argument: 'filepath'"),
     (lambda p: p.save("a.vora", "b.vora"), "Protocol.save() takes 1 positional arguments but 2 were given"),
     (lambda p: p.save(path="a.vora"), "Protocol.save() got an unexpected keyword argument 'path'"),
     (lambda p: p.save("a.vora", filepath="b.vora"), "Protocol.save() got multiple values for argument 'filepath'")],
)
def test_binding_errors(fresh, tmp_path, monkeypatch, call, message):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(TypeError) as caught:
        call(fresh)
    assert str(caught.value) == message
    assert list(tmp_path.iterdir()) == []


def missing_directory(tmp_path):
    return tmp_path / "missing" / "x.vora"


def existing_directory(tmp_path):
    (tmp_path / "x.vora").mkdir()
    return tmp_path / "x.vora"


def full_device(tmp_path):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    (tmp_path / "x.vora").symlink_to("/dev/full")
    return tmp_path / "x.vora"


def nul_in_name(tmp_path):
    return f"{tmp_path}/x\0.vora"


def file_as_directory(tmp_path):
    (tmp_path / "f").write_bytes(b"")
    return tmp_path / "f" / "x.vora"


def symlink_loop(tmp_path):
    (tmp_path / "x.vora").symlink_to("x.vora")
    return tmp_path / "x.vora"


def too_long(tmp_path):
    return tmp_path / ("a" * 300 + ".vora")


def unix_socket(tmp_path):
    with socket.socket(socket.AF_UNIX) as s:
        s.bind(os.path.relpath(tmp_path / "x.vora"))  # socket addresses are short
    return tmp_path / "x.vora"


@pytest.mark.parametrize(
    "make_path, message",
    [(missing_directory, os_error_message(2, "NotFound")),
     (existing_directory, os_error_message(21, "IsADirectory")),
     (full_device, os_error_message(28, "StorageFull")),
     (nul_in_name, UNWRAP + 'Error { kind: InvalidInput, message: "file name contained an unexpected NUL byte" }'),
     (file_as_directory, os_error_message(20, "NotADirectory")),
     (symlink_loop, os_error_message(40, "FilesystemLoop")),
     (too_long, os_error_message(36, "InvalidFilename")),
     (unix_socket, os_error_message(6, "Uncategorized"))],
    ids=["missing-directory", "directory", "write-fails", "nul", "not-a-directory", "loop", "too-long", "socket"],
)
def test_file_errors_after_the_table_is_filled(fresh, tmp_path, monkeypatch, make_path, message):
    monkeypatch.chdir(tmp_path)
    path = make_path(tmp_path)
    before = sorted(p.name for p in tmp_path.iterdir())
    assert panic_message(lambda: fresh.save(str(path))) == message
    assert sorted(p.name for p in tmp_path.iterdir()) == before
    # The fill happened before the failure and stays; the protocol is still usable.
    assert saved(fresh, tmp_path / "ok.vora") == DEFAULT_FILE
    assert fresh.add_constant_signal(0.5) == 1


PERMISSION_SNIPPET = """
import os, sys
from pyvora import Protocol  # imported first: the checkout may be unreadable to the other user
if os.geteuid() == 0:
    try:
        os.setgid(65534)
        os.setuid(65534)  # root is not stopped by permission bits
    except PermissionError:
        sys.exit(77)  # this machine cannot drop root privileges
p = Protocol()
try:
    p.save({path!r})
except BaseException as e:
    print(type(e).__name__)
    print(str(e))
p.add_constant_signal(0.5) == 1 or print("not filled")
"""


def test_permission_denied(tmp_path):
    locked = tmp_path / "locked"
    locked.mkdir(mode=0o555)
    code = PERMISSION_SNIPPET.format(path=str(locked / "x.vora"))
    result = run_python(code)
    if result.returncode == 77:
        pytest.skip("cannot drop root privileges here")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["PanicException", os_error_message(13, "PermissionDenied")]
    assert list(locked.iterdir()) == []


SIZE_LIMIT_SNIPPET = """
import os, resource, signal
from pyvora import Protocol
os.environ.pop("VORA_TARGET_MACHINE", None)
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, ({limit}, resource.RLIM_INFINITY))
try:
    Protocol().save({path!r})
except BaseException as e:
    print(str(e))
"""


@pytest.mark.parametrize("limit", [0, 100, 200, 201])
def test_short_writes_continue_until_the_size_limit_stops_them(tmp_path, limit):
    """The system takes only as many bytes as the file size limit allows; the rest fails."""
    path = tmp_path / "x.vora"
    code = SIZE_LIMIT_SNIPPET.format(limit=limit, path=str(path))
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    expected = "" if limit >= len(DEFAULT_FILE) else os_error_message(27, "FileTooLarge")
    assert result.stdout.strip() == expected
    assert path.read_bytes() == DEFAULT_FILE[:limit]


INTERRUPT_SNIPPET = """
import os, signal
from pyvora import Protocol
p = Protocol()
if {blocked_in!r} == "write":
    for _ in range(20000):  # far more than a pipe holds
        p.add_constant_signal(0.0)
    reader = os.open({path!r}, os.O_RDONLY | os.O_NONBLOCK)  # open, never read
calls = 0
def on_alarm(signum, frame):
    global calls
    calls += 1
    if calls == 3:
        raise KeyboardInterrupt
signal.signal(signal.SIGALRM, on_alarm)
descriptors = len(os.listdir("/proc/self/fd"))
signal.setitimer(signal.ITIMER_REAL, 0.05, 0.05)
try:
    Protocol.load({path!r}) if {blocked_in!r} == "load" else p.save({path!r})
except KeyboardInterrupt:
    print("interrupted", calls)
signal.setitimer(signal.ITIMER_REAL, 0)
print(len(os.listdir("/proc/self/fd")) == descriptors, p.add_constant_signal(1.0))
"""


@pytest.mark.parametrize("blocked_in, table", [("open", 0), ("write", 20000), ("load", 0)])
def test_a_blocked_save_runs_signal_handlers_and_stops_when_one_raises(tmp_path, blocked_in, table):
    """Saving to (or loading from) a FIFO blocks; every interruption runs the handlers, and the
    third one's exception ends the call with the descriptor closed and the table as it was."""
    path = tmp_path / "fifo.vora"
    os.mkfifo(path)
    code = INTERRUPT_SNIPPET.format(blocked_in=blocked_in, path=str(path))
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["interrupted 3", f"True {table}"]


CUT_SHORT_SNIPPET = """
import os, signal
from pyvora import Protocol
p = Protocol()
for _ in range(20000):  # far more than a pipe holds
    p.add_constant_signal(0.0)
reader = os.open({path!r}, os.O_RDONLY | os.O_NONBLOCK)  # open, never read
signal.signal(signal.SIGALRM, signal.default_int_handler)
signal.setitimer(signal.ITIMER_REAL, 0.2)  # once only, while the first write waits for room
try:
    p.save({path!r})
except KeyboardInterrupt:
    print("interrupted", len(os.read(reader, 1 << 20)) > 0, p.add_constant_signal(1.0))
"""


def test_one_signal_stops_a_save_whose_write_it_cut_short(tmp_path):
    """The signal ends a write after part of the data went through: no EINTR, a short count,
    and the handlers run before the rest is written."""
    path = tmp_path / "fifo.vora"
    os.mkfifo(path)
    code = CUT_SHORT_SNIPPET.format(path=str(path))
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=20)
    assert (result.returncode, result.stdout) == (0, "interrupted True 20000\n"), result.stderr


def test_overwrites_in_place(fresh, tmp_path):
    path = tmp_path / "x.vora"
    path.write_bytes(b"\xff" * 1000)
    path.chmod(0o600)
    inode = path.stat().st_ino
    assert saved(fresh, path) == DEFAULT_FILE
    assert saved(fresh, path) == DEFAULT_FILE  # a second save gives the same bytes
    assert (path.stat().st_ino, path.stat().st_mode & 0o777) == (inode, 0o600)


@pytest.mark.parametrize("umask", [0o022, 0o077, 0o000, 0o137])
def test_new_file_mode_follows_the_umask(fresh, tmp_path, umask):
    old = os.umask(umask)
    try:
        fresh.save(str(tmp_path / "x.vora"))
    finally:
        os.umask(old)
    assert (tmp_path / "x.vora").stat().st_mode & 0o7777 == 0o666 & ~umask


def test_fill_shows_in_the_text_form(fresh, tmp_path):
    assert "        signals: [],\n" in str(fresh)
    fresh.save(str(tmp_path / "x.vora"))
    text = str(fresh)
    table = text[text.index("        signals: [") : text.index("        channel_a_settings:")]
    assert table == (
        "        signals: [\n"
        "            Constant(\n"
        "                ConstantSignalParams {\n"
        "                    value: 0.0,\n"
        "                },\n"
        "            ),\n"
        "        ],\n"
    )


def bits(hex_text):
    return struct.unpack("<d", bytes.fromhex(hex_text))[0]


@pytest.mark.parametrize(
    "add, record",
    [(lambda p: p.add_constant_signal(0.25), "00 0000000000 00d0 3f"),
     (lambda p: p.add_constant_signal(-0.0), "00 0000000000000080"),
     (lambda p: p.add_constant_signal(bits("0100000000 00f8ff")), "00 0100000000 00f8ff"),
     (lambda p: p.add_constant_signal(bits("efbeadde00 00f07f")), "00 efbeadde00 00f07f"),
     (lambda p: p.add_constant_signal(float("-inf")), "00 000000000000f0ff"),
     (lambda p: p.add_sine_signal(1.0, 10.0, depth=0.5),
      "01 000000000000f03f 0000000000002440 0000000000000000 000000000000e03f"),
     (lambda p: p.add_sine_signal(-1, 0.1, 3.0),
      "01 000000000000f0bf 9a9999999999b93f 0000000000000840 000000000000f03f"),
     (lambda p: p.add_ramp_signal(1, 2, 3), "02 000000000000f03f 0000000000000040 0000000000000840"),
     (lambda p: p.add_mixed_signal(0, 1), "03 00 01"),
     (lambda p: p.add_mixed_signal(128, 2**64 - 1), "03 8001 ffffffffffffffffff01"),
     (lambda p: p.add_mixed_signal(True, 16384), "03 01 808001")],
    ids=["constant", "negative-zero", "nan-payload", "signalling-nan", "-inf", "sine", "sine-defaults",
         "ramp", "mixed", "mixed-wide", "mixed-bool"],
)
def test_signal_records(fresh, tmp_path, add, record):
    assert add(fresh) == 0
    data = saved(fresh, tmp_path / "x.vora")
    assert signal_table(data) == bytes.fromhex("01" + record)
    assert data[:SIGNALS_AT] + data[-AFTER_SIGNALS:] == DEFAULT_FILE[:SIGNALS_AT] + DEFAULT_FILE[-AFTER_SIGNALS:]


@pytest.mark.parametrize("count, count_bytes", [(127, "7f"), (128, "80 01"), (300, "ac 02")])
def test_signal_count_is_a_varint(fresh, tmp_path, count, count_bytes):
    for _ in range(count):
        fresh.add_constant_signal(0.0)
    table = signal_table(saved(fresh, tmp_path / "x.vora"))
    assert table == bytes.fromhex(count_bytes) + bytes(9) * count


def test_arbitrary_signal_samples(fresh, tmp_path):
    numpy = need("numpy")
    fresh.set_session_duration(0.01)
    samples = numpy.zeros(50)
    samples[:9] = [q / 32767 for q in (32767, 16383.5, 3276.7, 1, 63, 64, 1000, 8191, 8192)]
    fresh.add_arbitrary_signal(samples)
    data = saved(fresh, tmp_path / "x.vora")
    # The count is 50 samples (0x32), not the number of bytes that follow.
    assert signal_table(data) == bytes.fromhex("01 04 32 feff03 808002 9a33 02 7e 8001 d00f fe7f 808001" + "00" * 41)
    assert data[142:150] == bytes.fromhex("7b14ae47e17a843f")  # 0.01


def test_routing_intensity_and_duration_reach_their_offsets(fresh, tmp_path):
    fresh.set_amplitude_source(Coil.A1, 2)
    fresh.set_modulation_source(Channel.A, 1, True)
    fresh.set_amplitude_source(Coil.B2, 5, external=True)
    fresh.enable_channel(Channel.B)
    fresh.set_stimulation_intensity(0.2)
    fresh.set_session_duration(1800)
    expected = bytearray(DEFAULT_FILE)
    expected[134:142] = bytes.fromhex("9a99999999 99c93f")
    expected[142:150] = bytes.fromhex("0000000000 209c40")
    expected[160:172] = bytes.fromhex("01 020000 000000 000101 00 00")
    expected[172:184] = bytes.fromhex("01 000000 000501 000000 00 00")
    assert saved(fresh, tmp_path / "x.vora") == expected


def test_negative_zero_intensity_is_kept(fresh, tmp_path):
    fresh.set_stimulation_intensity(-0.0)
    assert saved(fresh, tmp_path / "x.vora")[134:142] == bytes.fromhex("00000000000000 80")


@pytest.mark.parametrize("argument", ["x.vora", "x.txt", 5], ids=["good", "bad-name", "not-str"])
def test_save_needs_the_protocol_to_itself(fresh, tmp_path, monkeypatch, argument):
    """Access is taken before the argument is looked at, so its errors come second."""
    monkeypatch.chdir(tmp_path)

    class SavesWhileConverted:
        def __float__(self):
            fresh.save(argument)
            return 2.0

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        fresh.set_session_duration(SavesWhileConverted())
    assert list(tmp_path.iterdir()) == []
    assert_table_empty(fresh)
    assert fresh.get_num_samples() == 300000
