"""`pyvora plot` and pyvora_cli.plot.figure: what the figure draws, read back from its artists."""

import hashlib
import math
import subprocess
import sys

import pytest

from pyvora import Channel, Coil, Protocol
from test_command import COMMAND, run

np = pytest.importorskip("numpy")
pytest.importorskip("matplotlib", reason="matplotlib is not installed")
from matplotlib.colors import to_rgb  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

from pyvora_cli.plot import figure  # noqa: E402

RATE = 5000.0
ROWS = ["A1", "A2", "A\nmodulation", "B1", "B2", "B\nmodulation"]


def rows(fig):
    """{row label as drawn, without the trailing 'disabled' line: row}"""
    return {row.label.get_text().removesuffix("\ndisabled"): row for row in fig.rows.values()}


def texts(fig):
    return [t.get_text() for t in fig.texts] + [t.get_text() for ax in fig.axes for t in ax.texts]


def envelope_line(row):
    (line,) = row.lines[:1]
    return line


@pytest.mark.parametrize("duration", [10.0, 0.01])  # more samples than pixel columns, and fewer
def test_envelope_keeps_each_columns_minimum_and_maximum(duration):
    p = Protocol()
    p.set_session_duration(duration)
    n = p.get_num_samples()
    rng = np.random.default_rng(1)
    samples = rng.random(n) * 0.5
    samples[rng.integers(0, n, 5)] = 1.0  # single-sample peaks must survive
    samples[rng.integers(0, n, 5)] = 0.0
    p.add_arbitrary_signal(samples)
    stored = p.to_dict()["signals"][0]["samples"]
    fig = figure(p)
    row = rows(fig)["A1"]
    x, y = envelope_line(row).get_data()
    starts = np.rint(np.asarray(x[::2]) * RATE).astype(int)
    ends = np.rint(np.asarray(y) * 32767).reshape(-1, 2)  # each column's two ends, in either order
    low, high = ends.min(axis=1), ends.max(axis=1)
    columns = row.ax.get_window_extent().width  # pixel columns of the time axis
    assert starts[0] == 0 and np.all(np.diff(starts) > 0)
    assert np.diff(np.append(starts, n)).max() <= math.ceil(n / columns)
    assert len(starts) >= min(n, columns - 1)
    bounds = list(starts) + [n]
    for k in range(len(starts)):
        column = stored[bounds[k]:bounds[k + 1]]
        assert (low[k], high[k]) == (column.min(), column.max()), f"column {k}"
    assert (low.min(), high.max()) == (0, 32767)


def test_every_label_and_problem_is_there():
    p = Protocol()
    p.set_session_duration(0.5)
    p.set_stimulation_intensity(0.5)
    p.add_constant_signal(0.25)  # 0
    p.add_sine_signal(1.0, 10.0)  # 1
    p.add_ramp_signal(1.0, 2.5, 5e-5)  # 2
    p.add_mixed_signal(1, 2)  # 3
    p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.5))  # 4
    p.set_amplitude_source(Coil.A1, 3)
    p.set_modulation_source(Channel.A, 4)
    p.enable_channel(Channel.B)
    p.set_amplitude_source(Coil.B1, 2, external=True)
    p.set_amplitude_source(Coil.B2, 9)
    p.set_modulation_source(Channel.B, 7, external=True)
    fig = figure(p, "lab/$x^$session.vora")  # a name is text, never a formula
    assert isinstance(fig, Figure) and fig._repr_png_().startswith(SIGNATURES[".png"])  # a notebook shows it
    found = "\n".join(texts(fig))
    expected = [
        "lab/$x^$session.vora", f"SHA-256 {hashlib.sha256(p.to_bytes()).hexdigest()}",
        "intensity 0.5 (above the machine's limit max_intensity_setpoint 0.3)",
        "session 0.5 s, 2500 samples at 5000.0 samples/s", 'channel A: coil "Default", 330.0 nF',
        "constant #0: value 0.25", "mixed #3: mix of #1 and #2",
        "sine #1: amplitude 1.0, frequency 10.0, phase 0.0, depth 1.0",
        "ramp #2: peak 1.0, up_duration 2.5, down_duration 5e-5",  # the text form's float, not repr's 5e-05
        "arbitrary #4: 2500 samples, min 16384, max 16384", "external input 2",
        "signal #9 does not exist: the table has 5 signals",
        "external input 7 does not exist: the machine has 6 (0 to 5)",
        *ROWS, *p.find_problems(),
    ]
    assert len(p.find_problems()) == 3
    assert [text for text in expected if text not in found] == []


def is_grey(colour):
    r, g, b = to_rgb(colour)
    return r == g == b


def test_a_disabled_channels_rows_are_grey_and_marked():
    p = Protocol()  # channel B disabled
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.add_sine_signal(1.0, 10.0)
    for coil in (Coil.A2, Coil.B2):
        p.set_amplitude_source(coil, 1)
    by_row = rows(figure(p))
    for label in ROWS:
        row = by_row[label]
        inks = ([t.get_color() for t in row.texts] + [line.get_color() for line in row.lines]
                + [patch.get_facecolor() for patch in row.patches])
        background = row.background.get_facecolor()
        if label.startswith("B"):
            assert row.label.get_text().endswith("\ndisabled")
            assert is_grey(background) and to_rgb(background) != (1, 1, 1)
            assert all(is_grey(ink) for ink in inks), label
        else:
            assert not row.label.get_text().endswith("disabled") and to_rgb(background) == (1, 1, 1)
            assert not all(is_grey(ink) for ink in inks), label


@pytest.mark.parametrize("first, then", [(2.0, 3.0), (3.0, 2.0)])
def test_an_arbitrary_signal_of_another_length_is_drawn_over_its_own_and_marked(first, then):
    p = Protocol()
    p.set_session_duration(first)
    p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.5))
    p.set_session_duration(then)
    fig = figure(p)
    row = rows(fig)["A1"]
    x, _ = envelope_line(row).get_data()
    assert x[-1] < first <= x[-1] + 2 * first / row.ax.get_window_extent().width
    assert row.ax.get_xlim() == (0.0, max(first, then))
    mark = f"length mismatch: {int(first * RATE)} samples ({first} s), the session has {int(then * RATE)} ({then} s)"
    assert mark in texts(fig)
    marks = [line.get_xdata()[0] for line in row.lines[2:]]  # after the envelope and the scale's ticks:
    # vertical lines at the signal's end and at the session's
    assert marks == ([first] if first < then else [first, then])


@pytest.fixture
def session(tmp_path):
    p = Protocol()
    p.set_session_duration(0.5)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    path = tmp_path / "session.vora"
    p.save(str(path))
    return path


SIGNATURES = {".png": b"\x89PNG\r\n\x1a\n", ".svg": b"<?xml", ".pdf": b"%PDF-"}


@pytest.mark.parametrize("output", [None, "out.svg", "out.PDF"])
def test_the_command_writes_the_format_its_name_asks_for_the_same_bytes_each_time(session, output):
    target = session.with_suffix(".png") if output is None else session.parent / output
    args = [str(session)] + ([] if output is None else ["-o", str(target)])
    pictures = []
    for _ in range(2):
        result = run("plot", *args)
        assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
        pictures.append(target.read_bytes())
    assert pictures[0].startswith(SIGNATURES[target.suffix.lower()]) and pictures[0] == pictures[1]


def test_the_command_reads_standard_input(session):
    out = session.parent / "piped.png"
    result = subprocess.run([COMMAND, "plot", "-", "-o", str(out)], input=session.read_bytes(), capture_output=True)
    assert result.returncode == 0 and out.read_bytes().startswith(SIGNATURES[".png"])


@pytest.mark.parametrize("args, message", [
    (["-"], "-: a protocol read from standard input needs -o OUT"),
    (["{session}", "-o", "{session}.jpg"], "{session}.jpg: the picture's name must end in .png, .svg or .pdf"),
    (["{named_png}"], "{named_png}: is the protocol file itself; name another picture with -o OUT"),
    (["{missing}"], "{missing}: No such file or directory"),
])
def test_the_command_refuses_with_one_line(session, args, message):
    names = {"session": session, "missing": session.parent / "missing.vora", "named_png": session.parent / "p.png"}
    names["named_png"].write_bytes(session.read_bytes())  # its default picture would be itself
    before = session.read_bytes()
    result = run("plot", *(arg.format(**names) for arg in args))
    assert result.returncode == 2 and result.stdout == ""
    assert len(result.stderr.splitlines()) == 1 and "Traceback" not in result.stderr
    assert result.stderr == message.format(**names) + "\n"
    assert session.read_bytes() == before == names["named_png"].read_bytes()


def test_matplotlib_is_needed_only_by_plot(session):
    script = f"""
import sys
sys.modules["matplotlib"] = None  # as if it were not installed
from pyvora_cli.entry import main
assert main(["check", {str(session)!r}]) == 0
sys.exit(main(["plot", {str(session)!r}]))
"""
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert result.returncode == 2 and result.stdout.endswith(": ok\n")
    assert result.stderr.startswith("pyvora plot needs matplotlib") and 'pip install "pyvora[plot]"' in result.stderr
    assert len(result.stderr.splitlines()) == 1
    assert not session.with_suffix(".png").exists()
