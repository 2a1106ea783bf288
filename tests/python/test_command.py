"""The `pyvora` command, run as a user runs it, on protocol files the tests write."""

import errno
import fcntl
import io
import os
import signal
import subprocess
import sys
import termios
import time
from array import array
from pathlib import Path

import pytest

import pyvora
from pyvora import Protocol

from conftest import run_python
from helpers import COMMAND, need, run, write

@pytest.fixture
def files(tmp_path):
    garbage = tmp_path / "garbage.vora"
    garbage.write_bytes(b"not a protocol")
    return {
        "clean": write(tmp_path / "clean.vora"),
        "faulty": write(tmp_path / "faulty.vora", intensity=0.5, external=9),
        "garbage": str(garbage),
        "missing": str(tmp_path / "missing.vora"),
    }


def test_show_cuts_sample_lists_and_ends_with_the_problems(files):
    result = run("show", files["faulty"])
    assert result.returncode == 0 and result.stderr == ""
    protocol = Protocol.load(files["faulty"])
    assert result.stdout == protocol._summary_text() + "\n" + "".join(
        f"problem: {problem}\n" for problem in protocol.find_problems())
    assert "samples: <50 samples, min 16384, max 16384, crc32 4ef745e9>," in result.stdout
    assert result.stdout.endswith("\nproblem: intensity: 0.5 is above machine_config.max_intensity_setpoint 0.3\n")


def test_show_full_prints_the_whole_text_form(files):
    result = run("show", "--full", files["clean"])
    assert result.returncode == 0 and result.stdout == str(Protocol.load(files["clean"])) + "\n"


@pytest.mark.parametrize("names, status, out, err", [
    (["clean"], 0, ["{clean}: ok"], []),
    (["clean", "faulty"], 1,
     ["{clean}: ok",
      "{faulty}: intensity: 0.5 is above machine_config.max_intensity_setpoint 0.3"], []),
    (["missing", "faulty", "garbage", "clean"], 2,
     ["{faulty}: intensity: 0.5 is above machine_config.max_intensity_setpoint 0.3", "{clean}: ok"],
     ["{missing}: " + os.strerror(errno.ENOENT), "{garbage}: not a protocol file: "]),
    (["missing", "faulty"], 2,
     ["{faulty}: intensity: 0.5 is above machine_config.max_intensity_setpoint 0.3"],
     ["{missing}: " + os.strerror(errno.ENOENT)]),
])
def test_check(files, names, status, out, err):
    result = run("check", *(files[name] for name in names))
    assert result.returncode == status
    assert result.stdout.splitlines() == [line.format(**files) for line in out]
    errors = result.stderr.splitlines()
    assert len(errors) == len(err)
    for line, start in zip(errors, err):
        assert line.startswith(start.format(**files))


@pytest.mark.parametrize("b_options, expected", [
    ({"intensity": 0.25, "frequency": 12.0,
      "samples": [0.5, 0.5, 0.5, 1.0] + [0.5] * 3 + [0.0] + [0.5] * 42,
      "last": lambda p: (p.add_ramp_signal(1.0, 2.5, 5e-5), p.add_sine_signal(1.0, 1.0)),
      "external": 2},
     ["intensity: 0.2 -> 0.25",
      "signals[0].frequency: 10.0 -> 12.0",
      "signals[1].samples: 2 of 50 samples differ, first at index 3: 16384 -> 32767",
      "signals[2]: constant #2: value 0.5 -> ramp #2: peak 1.0, up_duration 2.5, down_duration 5e-5",
      "signals[3]: only in B (Sine)",
      "channel_b_settings.amplitude1_source.external: 0 -> 2",
      "channel_b_settings.amplitude1_source.external_selected: false -> true"]),
    ({}, []),
])
def test_diff(tmp_path, b_options, expected):
    a = write(tmp_path / "a.vora")
    b = write(tmp_path / "b.vora", **b_options)
    result = run("diff", a, b)
    assert (result.returncode, result.stdout.splitlines(), result.stderr) == (1 if expected else 0, expected, "")


def test_diff_of_signals_only_in_a_and_of_floats_by_their_bits(tmp_path):
    a = write(tmp_path / "a.vora", last=lambda p: (p.add_sine_signal(float("nan"), 1.0), p.add_constant_signal(0.0),
                                                   p.add_ramp_signal(1.0, 2.0, 3.0), p.add_constant_signal(1.0)))
    b = write(tmp_path / "b.vora", last=lambda p: (p.add_sine_signal(float("nan"), 1.0), p.add_constant_signal(-0.0)))
    assert run("diff", a, b).stdout.splitlines() == [
        "signals[3].value: 0.0 -> -0.0", "signals[4]: only in A (Ramp)", "signals[5]: only in A (Constant)"]


def test_diff_of_sample_lists_of_different_lengths(tmp_path):
    np = need("numpy")
    for name, duration in (("a", 0.02), ("b", 0.01)):
        p = Protocol()
        p.set_session_duration(duration)
        p.add_arbitrary_signal(np.full(p.get_num_samples(), 1.0))
        p.save(str(tmp_path / f"{name}.vora"))
    assert run("diff", str(tmp_path / "a.vora"), str(tmp_path / "b.vora")).stdout.splitlines() == [
        "session_duration: 0.02 -> 0.01", "signals[0].samples: 100 -> 50 samples; the first 50 are equal"]


def test_diff_writes_values_as_the_text_form_does(tmp_path):
    # A combining mark is escaped and a float tie rounds as `show` has them, not as Python would.
    a = write(tmp_path / "a.vora")
    edited = Protocol.load(a).to_dict()
    edited["machine_config"]["coils"][0]["name"] = "Cafe\u0301"
    edited["signals"][0]["frequency"] = 111659285584252.125
    Protocol.from_dict(edited).save(str(tmp_path / "b.vora"))
    result = run("diff", a, str(tmp_path / "b.vora"))
    assert result.stdout.splitlines() == ['machine_config.coils[0].name: "Default" -> "Cafe\\u{301}"',
                                          "signals[0].frequency: 10.0 -> 111659285584252.13"]
    shown = run("show", str(tmp_path / "b.vora")).stdout
    assert 'name: "Cafe\\u{301}",' in shown and "frequency: 111659285584252.13," in shown


def test_every_command_that_reads_a_protocol_takes_its_json_form(tmp_path):
    a = write(tmp_path / "a.vora", intensity=0.5)
    (tmp_path / "a.json").write_text("\n " + run("export", a).stdout)
    for args in (["show"], ["show", "--full"], ["check"], ["check", "--json"], ["export", "--samples-per-line", "3"]):
        from_file, from_json = run(*args, a), run(*args, str(tmp_path / "a.json"))
        assert from_json.returncode == from_file.returncode and from_json.stderr == ""
        assert from_json.stdout == from_file.stdout.replace(a, str(tmp_path / "a.json")), args
    (tmp_path / "b.json").write_text('{"intensity": 0.5,\n "x": 1}')
    result = run("check", str(tmp_path / "b.json"))
    assert (result.returncode, result.stderr) == (2, f"{tmp_path / 'b.json'}: unknown key 'x'\n")


def test_plot_takes_a_json_form(tmp_path):
    need("matplotlib")
    (tmp_path / "a.json").write_text(run("export", write(tmp_path / "a.vora")).stdout)
    assert run("plot", str(tmp_path / "a.json"), "-o", str(tmp_path / "a.png")).returncode == 0


def test_diff_takes_json_forms_as_well(tmp_path):
    a = write(tmp_path / "a.vora")
    form = run("export", write(tmp_path / "b.vora", intensity=0.25)).stdout
    (tmp_path / "b.json").write_text(" \r\n\t" + form)
    (tmp_path / "c.json").write_text(form[:-3])
    assert run("diff", a, str(tmp_path / "b.json")).stdout == "intensity: 0.2 -> 0.25\n"
    piped = subprocess.run([COMMAND, "diff", "-", a], input=form, capture_output=True, text=True)
    assert (piped.returncode, piped.stdout) == (1, "intensity: 0.25 -> 0.2\n")
    with open(tmp_path / "b.vora", "rb") as protocol:  # a protocol file on standard input is read once too
        piped = subprocess.run([COMMAND, "diff", "-", a], stdin=protocol, capture_output=True, text=True)
    assert (piped.returncode, piped.stdout) == (1, "intensity: 0.25 -> 0.2\n")
    broken = run("diff", str(tmp_path / "c.json"), a)
    assert broken.returncode == 2 and broken.stderr.startswith(f"{tmp_path / 'c.json'}: not JSON: ")


def test_diff_of_an_unreadable_file_is_trouble(files):
    result = run("diff", files["clean"], files["garbage"])
    assert result.returncode == 2 and result.stdout == ""
    assert result.stderr.startswith(files["garbage"] + ": not a protocol file: ")
    assert "Traceback" not in result.stderr


SUBCOMMANDS = ("show", "check", "diff", "export", "build", "plot")


def test_help_and_module_entry():
    for args in (["--help"], ["check", "-h"], *([name, "--help"] for name in SUBCOMMANDS)):
        result = subprocess.run([sys.executable, "-m", "pyvora_cli", *args], capture_output=True, text=True)
        assert result.returncode == 0 and result.stdout.startswith("usage: pyvora"), args


def test_help_names_every_subcommand():
    listed = run("--help").stdout
    description = listed.split("\n\n")[1].lower()
    for name in SUBCOMMANDS:  # diff is the one whose verb is not its name
        assert f"\n    {name} " in listed and {"diff": "compare"}.get(name, name) in description, name


def test_the_libraries_know_nothing_of_the_command():
    # The lock on from the start: a free-threaded interpreter has then no warning to give when the
    # module asks for it.
    result = run_python("import sys, pyvora_cli.plot, pyvora_cli.rules; print(sorted(m for m in sys.modules "
                        "if m == 'argparse' or m.startswith(('pyvora_cli.command', 'pyvora_cli.status'))))",
                        env={"PYTHON_GIL": "1"})
    assert (result.stdout, result.stderr) == ("[]\n", "")


def test_reader_that_stops_early_gets_no_traceback(tmp_path):
    write(tmp_path / "c.vora")
    # Lines of "c.vora: ok" (11 bytes) filling many times what a pipe (64 KiB) and the reader's
    # buffer hold; the buffer's size is the interpreter's own (128 KiB from 3.15, 8 KiB before).
    lines = 4 * ((64 << 10) + io.DEFAULT_BUFFER_SIZE) // 11
    reader = subprocess.Popen([COMMAND, "check", *["c.vora"] * lines], cwd=tmp_path,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert reader.stdout.readline() == b"c.vora: ok\n"
    reader.stdout.close()
    assert reader.wait() == 2
    assert reader.stderr.read() == b""


def one_line_of_trouble(result: subprocess.CompletedProcess, line: str) -> None:
    assert (result.returncode, result.stderr) == (2, line + "\n")


@pytest.mark.skipif(not Path("/dev/full").exists(), reason="no /dev/full on this system")
@pytest.mark.parametrize("args", [["check"], ["show", "--full"], ["export"]])
def test_output_to_a_full_disk_is_trouble(files, args):
    with open("/dev/full", "w") as full:
        result = subprocess.run([COMMAND, *args, files["clean"]], stdout=full, stderr=subprocess.PIPE, text=True)
    one_line_of_trouble(result, "pyvora: standard output: No space left on device")


@pytest.mark.parametrize("args", [["check"], ["show"], ["export"]])
def test_closed_standard_output_is_trouble(files, args):
    result = subprocess.run([COMMAND, *args, files["clean"]], stdout=None, stderr=subprocess.PIPE, text=True,
                            preexec_fn=lambda: os.close(1))
    one_line_of_trouble(result, "pyvora: standard output is closed")


@pytest.mark.skipif(not Path("/dev/full").exists(), reason="no /dev/full on this system")
@pytest.mark.parametrize("args", [["--version"], ["--help"], ["diff", "--help"]])
def test_help_and_version_to_a_full_or_closed_output_are_trouble(args):
    with open("/dev/full", "w") as full:
        result = subprocess.run([COMMAND, *args], stdout=full, stderr=subprocess.PIPE, text=True)
    one_line_of_trouble(result, f"pyvora: standard output: {os.strerror(errno.ENOSPC)}")
    result = subprocess.run([COMMAND, *args], stderr=subprocess.PIPE, text=True, preexec_fn=lambda: os.close(1))
    one_line_of_trouble(result, "pyvora: standard output is closed")


def test_closed_standard_input_is_trouble():
    result = subprocess.run([COMMAND, "show", "-"], capture_output=True, text=True, preexec_fn=lambda: os.close(0))
    one_line_of_trouble(result, "-: standard input is closed")


def test_a_character_the_output_encoding_cannot_write_is_trouble(tmp_path):
    a = write(tmp_path / "a.vora")
    edited = Protocol.load(a).to_dict()
    edited["machine_config"]["coils"][0]["name"] = "coil €"
    Protocol.from_dict(edited).save(str(tmp_path / "b.vora"))
    env = dict(os.environ, PYTHONIOENCODING="ascii")
    for args in (["show", "b.vora"], ["show", "--full", "b.vora"], ["diff", "a.vora", "b.vora"]):
        result = subprocess.run([COMMAND, *args], cwd=tmp_path, capture_output=True, text=True, env=env)
        one_line_of_trouble(result, f"pyvora: standard output: ascii cannot write {ascii('€')}")


def test_build_to_a_full_disk_leaves_no_file(files, tmp_path):
    export = run("export", files["clean"])
    (tmp_path / "p.json").write_text(export.stdout)
    result = run("build", str(tmp_path / "p.json"), "-o", "/dev/full")
    one_line_of_trouble(result, "/dev/full: No space left on device")
    assert Path("/dev/full").exists()  # a device is never removed, a regular file would be


class Exhausted:
    """A loaded protocol whose every further step runs out of memory."""

    def __getattr__(self, name):
        def method(*args):
            raise MemoryError
        return method

    def __str__(self):
        raise MemoryError


@pytest.mark.parametrize("args", [["show"], ["show", "--full"], ["check"], ["check", "--json"], ["diff", "X"],
                                  ["export"], ["build", "-o", "Y"]])
def test_out_of_memory_after_loading_is_trouble(monkeypatch, capsys, args):
    from pyvora_cli import command, streams

    monkeypatch.setattr(streams, "read_protocol", lambda name, data=None: Exhausted())
    monkeypatch.setattr(streams, "read_bytes", lambda name: b"")
    monkeypatch.setattr(streams, "protocol_of_json", lambda name, data: Exhausted())
    expected = '{"file":"X","problems":[],"error":"out of memory","rules":[]}\n' if "--json" in args else ""
    assert command.main([*args, "X"]) == 2
    assert capsys.readouterr() == (expected, "" if expected else "X: out of memory\n")


@pytest.mark.parametrize("error, status, line", [(MemoryError, 2, "pyvora: out of memory"),
                                                 (KeyboardInterrupt, 130, "pyvora: interrupted")])
def test_out_of_memory_or_interrupted_before_any_subcommand(monkeypatch, capsys, error, status, line):
    from pyvora_cli import command

    def parser():
        raise error

    monkeypatch.setattr(command, "parser", parser)
    assert command.main(["check", "X"]) == status
    assert capsys.readouterr() == ("", line + "\n")


def without_numpy(*args: str) -> subprocess.CompletedProcess:
    code = ("import sys; sys.modules['numpy'] = None; from pyvora_cli.entry import main; "
            "sys.exit(main(sys.argv[1:]))")
    return subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True)


def test_without_numpy(files, tmp_path):
    json_form = run("export", files["clean"]).stdout
    result = without_numpy("diff", files["clean"], files["faulty"])
    assert result.returncode == 2 and result.stderr.count("\n") == 1
    assert result.stderr.startswith(f"{files['clean']}: NumPy is needed to compare sample lists: ")
    assert without_numpy("export", files["clean"]).stdout == json_form
    (tmp_path / "p.json").write_text(json_form)
    assert without_numpy("build", str(tmp_path / "p.json"), "-o", str(tmp_path / "p.vora")).returncode == 0
    assert (tmp_path / "p.vora").read_bytes() == Path(files["clean"]).read_bytes()
    assert without_numpy("check", files["faulty"]).returncode == 1


def test_file_names_are_written_one_way_on_one_line(tmp_path):
    odd = os.fsdecode(b"a\xffb\n\\c\xe2\x82\xac.vora")
    (tmp_path / odd).write_bytes(Path(write(tmp_path / "c.vora")).read_bytes())
    env = dict(os.environ, PYTHONIOENCODING="utf-8")
    result = subprocess.run([COMMAND, "check", odd, odd + "\t"], cwd=tmp_path, capture_output=True, text=True, env=env)
    assert result.returncode == 2
    assert result.stdout == "a\\xffb\\n\\\\c€.vora: ok\n"
    assert result.stderr == "a\\xffb\\n\\\\c€.vora\\t: No such file or directory\n"


@pytest.mark.parametrize("encoding, name, written", [
    ("utf-8", "a\rb \"q\"", "a\\rb \"q\""),
    ("utf-8", "\x1b[31m\x7f", "\\u{1b}[31m\\u{7f}"),
    ("utf-8", "line\u2028end", "line\\u{2028}end"),
    # As the text form has them: a combining mark and a soft hyphen escaped, é as it is.
    ("utf-8", "Cafe\u0301 \u200b\xad é", "Cafe\\u{301} \\u{200b}\\u{ad} é"),
    ("ascii", "coil €", "coil \\u{20ac}"),
    ("ascii", b"\xe2\x82\xac\xe2\x82", "\\u{20ac}\\xe2\\x82"),
    ("utf-8", "a\ud800b\udcff", "a\\u{d800}b\\xff"),  # a lone surrogate made in Python, one from a byte
])
def test_each_escape_of_a_file_name(monkeypatch, encoding, name, written):
    from pyvora_cli import names

    monkeypatch.setattr(names, "output_encoding", lambda: encoding)
    assert names.name_text(name) == written


def sleeping(process: subprocess.Popen) -> bool:
    with open(f"/proc/{process.pid}/stat") as stat:
        return stat.read().rpartition(")")[2].split()[0] == "S"


def interrupted(command: subprocess.Popen, blocked) -> tuple[int, bytes]:
    """The command's end after one SIGINT, sent once blocked() says it waits and it sleeps."""
    with command:
        try:
            deadline = time.monotonic() + 60
            while not (blocked() and sleeping(command)):
                assert command.poll() is None and time.monotonic() < deadline
                time.sleep(0.01)
            command.send_signal(signal.SIGINT)
            return command.wait(timeout=60), command.stderr.read()
        finally:
            command.kill()


@pytest.mark.skipif(not Path("/proc/self/stat").exists(), reason="no /proc on this system")
def test_ctrl_c_is_one_line_and_status_130(tmp_path):
    # Blocked reading a FIFO nobody writes to: opening it for writing succeeds once the command has it open.
    fifo = tmp_path / "fifo.vora"
    os.mkfifo(fifo)
    writers = []

    def opened():
        try:
            writers.append(os.open(fifo, os.O_WRONLY | os.O_NONBLOCK))
        except OSError as error:
            assert error.errno == errno.ENXIO  # no reader yet
        return bool(writers)

    try:
        ends = [interrupted(subprocess.Popen([COMMAND, "show", str(fifo)], stderr=subprocess.PIPE), opened)]
    finally:
        for fd in writers:
            os.close(fd)
    # Blocked writing to a pipe nobody reads, once it holds what it can (to a few bytes): the output
    # left is dropped.
    write(tmp_path / "c.vora")
    unread_end, end = os.pipe()
    fcntl.fcntl(end, fcntl.F_SETPIPE_SZ, 4096)
    writing = subprocess.Popen([COMMAND, "check", *["c.vora"] * (4 * (4096 + io.DEFAULT_BUFFER_SIZE) // 11)],
                               cwd=tmp_path, stdout=end, stderr=subprocess.PIPE)
    os.close(end)

    def full():
        unread = array("i", [0])
        fcntl.ioctl(unread_end, termios.FIONREAD, unread)
        return unread[0] >= fcntl.fcntl(unread_end, fcntl.F_GETPIPE_SZ) // 2

    try:
        ends.append(interrupted(writing, full))
    finally:
        os.close(unread_end)
    assert ends == [(130, b"pyvora: interrupted\n")] * 2


def test_the_input_is_not_taken_for_the_output(tmp_path):
    source = write(tmp_path / "p.vora")
    os.link(source, tmp_path / "same.vora")
    form = run("export", source).stdout
    (tmp_path / "p.json").write_text(form)
    for args in (["export", source, "-o", source], ["export", source, "-o", str(tmp_path / "same.vora")],
                 ["build", str(tmp_path / "p.json"), "-o", str(tmp_path / "p.json")]):
        one_line_of_trouble(run(*args), f"{args[-1]}: is the input file itself; name another file with -o OUT")
    assert run("export", source).stdout == form and (tmp_path / "p.json").read_text() == form


def test_argparse_writes_the_arguments_it_quotes_as_names_are_written():
    result = run("show", "a.vora", "b\x1b]0;x\x07\u202e\n.vora")
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.splitlines()[-1] == "pyvora: error: unrecognized arguments: b\\u{1b}]0;x\\u{7}\\u{202e}\\n.vora"
    # With no command: the usage and what is missing, on standard error; --version on standard output.
    result = run()
    assert (result.returncode, result.stdout) == (2, "") and result.stderr.startswith("usage: pyvora")
    assert result.stderr.endswith("pyvora: error: the following arguments are required: COMMAND\n")
    assert run("--version").stdout == f"pyvora {pyvora.__version__}\n"


def test_a_name_is_written_in_what_the_output_encoding_can_write(tmp_path):
    # Standard output's encoding, or standard error's when standard output is closed.
    env = dict(os.environ, PYTHONIOENCODING="ascii")
    for closed in ("", ">&-"):
        result = subprocess.run(f'"{COMMAND}" check café.vora {closed}', shell=True, cwd=tmp_path,
                                capture_output=True, text=True, env=env)
        assert (result.returncode, result.stderr) == (2, "caf\\u{e9}.vora: No such file or directory\n"), closed


def test_a_signal_that_comes_while_the_first_is_reported_ends_the_command_with_its_status():
    result = subprocess.run([sys.executable, "-c", """
import sys
from pyvora_cli.entry import import_pyvora
import_pyvora()
from pyvora_cli import command, status
def main():
    raise status.Stopped(15)  # as from status.interrupted(), after a first signal
command.main = main
sys.exit(command.console())
"""], capture_output=True)
    assert (result.returncode, result.stderr) == (143, b"")


def test_an_internal_error_is_one_line_and_trouble(capsys):
    from pyvora_cli import status

    def fault(args):
        raise ValueError("no such case")

    assert status.outcome(fault, None) == status.TROUBLE
    assert capsys.readouterr().err == "pyvora: internal error: ValueError: no such case\n"


def test_export_to_a_terminal_escapes_what_a_terminal_would_act_on(tmp_path):
    import pty

    p = Protocol.load(write(tmp_path / "p.vora")).to_dict()
    p["machine_config"]["coils"][0]["name"] = "a\u202eb\u2066c\x85"
    Protocol.from_dict(p).save(str(tmp_path / "p.vora"))
    terminal, end = pty.openpty()
    with os.fdopen(terminal, "rb", buffering=0) as screen:
        exported = subprocess.run([COMMAND, "export", str(tmp_path / "p.vora")], stdout=end, stderr=subprocess.PIPE)
        os.close(end)
        shown = b""
        with __import__("contextlib").suppress(OSError):  # the terminal's end once all is read
            while chunk := screen.read(1 << 16):
                shown += chunk
    assert exported.returncode == 0 and b'"a\\u202eb\\u2066c\\u0085"' in shown
    # Elsewhere the name is as it is: in a file named with -o, though standard output is a
    # terminal, and through a pipe.
    terminal, end = pty.openpty()
    subprocess.run([COMMAND, "export", str(tmp_path / "p.vora"), "-o", str(tmp_path / "p.json")], stdout=end, check=True)
    os.close(end)
    os.close(terminal)
    raw = '"a\u202eb\u2066c\x85"'
    assert raw in (tmp_path / "p.json").read_text("utf-8") and raw in run("export", str(tmp_path / "p.vora")).stdout


# The command whose import of its parts is stopped by a Ctrl-C.
CTRL_C_WHILE_IMPORTING = """
import os, signal, sys

class Interrupting:
    def find_spec(self, name, path=None, target=None):
        if name == "pyvora_cli.command":
            os.kill(os.getpid(), signal.SIGINT)

sys.meta_path.insert(0, Interrupting())
from pyvora_cli.entry import console
sys.exit(console())
"""


def test_ctrl_c_while_importing_ends_the_process_as_sigint_does():
    result = subprocess.run([sys.executable, "-c", CTRL_C_WHILE_IMPORTING, "--version"], capture_output=True)
    assert (result.returncode, result.stdout, result.stderr) == (-signal.SIGINT, b"", b"")


def test_a_long_text_is_written_in_pieces(monkeypatch):
    from pyvora_cli import streams

    class Recording(io.RawIOBase):
        sizes: list[int] = []

        def writable(self):
            return True

        def write(self, data):
            self.sizes.append(len(data))
            return len(data)

    # Encoded as the output asks (é as \xe9), each piece by itself.
    monkeypatch.setattr(sys, "stdout", io.TextIOWrapper(io.BufferedWriter(Recording()), encoding="ascii",
                                                        errors="backslashreplace"))
    streams.write_text("é" * (4 * streams.CHUNK) + "\n")
    sys.stdout.flush()
    assert sum(Recording.sizes) == 16 * streams.CHUNK + 1 and max(Recording.sizes) <= 4 * streams.CHUNK


def test_out_of_memory_while_reading_is_trouble(monkeypatch, tmp_path):
    from pyvora_cli import streams

    class Exhausting(io.RawIOBase):
        def readable(self):
            return True

        def readinto(self, buffer):
            raise MemoryError

    class Unloadable:
        @staticmethod
        def load(name):
            raise MemoryError

        from_bytes = load

    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BufferedReader(Exhausting())))
    monkeypatch.setattr(streams, "Protocol", Unloadable)
    for read in (streams.read_bytes, streams.read_protocol):
        with pytest.raises(streams.Trouble, match=r"^-: out of memory$"):
            read("-")
    (tmp_path / "p.vora").write_bytes(b"\0")  # not a JSON form: loaded in place
    with pytest.raises(streams.Trouble) as trouble:
        streams.read_protocol(str(tmp_path / "p.vora"))
    assert str(trouble.value) == f"{tmp_path / 'p.vora'}: out of memory"
