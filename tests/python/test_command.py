"""The `pyvora` command, run as a user runs it, on protocol files the tests write."""

import errno
import io
import os
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

from pyvora import Channel, Coil, Protocol

np = pytest.importorskip("numpy")

COMMAND = str(Path(sysconfig.get_path("scripts")) / "pyvora")  # installed by pip install .


def run(*args: str) -> subprocess.CompletedProcess:
    return subprocess.run([COMMAND, *args], capture_output=True, text=True)


def write(path: Path, *, intensity=0.2, frequency=10.0, samples=None, last=None, external=None) -> str:
    """A short session: a sine, an arbitrary signal, a constant (or `last`), routed on channel A."""
    p = Protocol()
    p.set_session_duration(0.01)
    p.set_stimulation_intensity(intensity)
    p.add_sine_signal(1.0, frequency)
    p.add_arbitrary_signal(np.full(50, 0.5) if samples is None else samples)
    (last or (lambda p: p.add_constant_signal(0.5)))(p)
    p.set_amplitude_source(Coil.A1, 0)
    p.set_amplitude_source(Coil.A2, 2)
    p.set_modulation_source(Channel.A, 1)
    if external is not None:
        p.set_amplitude_source(Coil.B1, external, external=True)
    p.save(str(path))
    return str(path)


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
    assert "samples: <50 samples, min 16384, max 16384>," in result.stdout
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
      "samples": np.array([0.5, 0.5, 0.5, 1.0] + [0.5] * 3 + [0.0] + [0.5] * 42),
      "last": lambda p: (p.add_ramp_signal(1.0, 2.5, 5e-5), p.add_sine_signal(1.0, 1.0)),
      "external": 2},
     ["intensity: 0.2 -> 0.25",
      "signals[0].frequency: 10.0 -> 12.0",
      "signals[1].samples: 2 of 50 samples differ, first at index 3: 16384 -> 32767",
      "signals[2]: Constant(value: 0.5) -> Ramp(peak: 1.0, up_duration: 2.5, down_duration: 5e-5)",
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


def test_diff_of_sample_lists_of_different_lengths(tmp_path):
    for name, duration in (("a", 0.02), ("b", 0.01)):
        p = Protocol()
        p.set_session_duration(duration)
        p.add_arbitrary_signal(np.full(p.get_num_samples(), 1.0))
        p.save(str(tmp_path / f"{name}.vora"))
    assert run("diff", str(tmp_path / "a.vora"), str(tmp_path / "b.vora")).stdout.splitlines() == [
        "session_duration: 0.02 -> 0.01", "signals[0].samples: 100 -> 50 samples; the first 50 are equal"]


def test_diff_of_an_unreadable_file_is_trouble(files):
    result = run("diff", files["clean"], files["garbage"])
    assert result.returncode == 2 and result.stdout == ""
    assert result.stderr.startswith(files["garbage"] + ": not a protocol file: ")
    assert "Traceback" not in result.stderr


def test_help_and_module_entry():
    for args in (["--help"], *([name, "--help"] for name in ("show", "check", "diff", "export", "build"))):
        result = subprocess.run([sys.executable, "-m", "pyvora_cli", *args], capture_output=True, text=True)
        assert result.returncode == 0 and result.stdout.startswith("usage: pyvora"), args


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
                                  ["export"]])
def test_out_of_memory_after_loading_is_trouble(monkeypatch, capsys, args):
    from pyvora_cli import command, streams

    monkeypatch.setattr(streams, "read_protocol", lambda name: Exhausted())
    expected = '{"file":"X","problems":[],"error":"out of memory"}\n' if "--json" in args else ""
    assert command.main([*args, "X"]) == 2
    assert capsys.readouterr() == (expected, "" if expected else "X: out of memory\n")


def without_numpy(*args: str) -> subprocess.CompletedProcess:
    code = ("import sys; sys.modules['numpy'] = None; from pyvora_cli.entry import main; "
            "sys.exit(main(sys.argv[1:]))")
    return subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True)


def test_without_numpy(files, tmp_path):
    json_form = run("export", files["clean"]).stdout
    for args, needed_for in ((["diff", files["clean"], files["faulty"]], "compare"), (["export", files["clean"]], "export")):
        result = without_numpy(*args)
        assert result.returncode == 2 and result.stderr.count("\n") == 1
        assert result.stderr.startswith(f"{files['clean']}: NumPy is needed to {needed_for} sample lists: ")
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
