"""`pyvora plot` and pyvora_cli.plot.figure: what the figure draws, read back from its artists."""

import hashlib
import os
import math
import subprocess
import sys

import pytest

from pyvora import Channel, Coil, Protocol
from helpers import COMMAND, run, Needed, need

from pyvora_cli.plot import ENVELOPE, PAST, PROBLEM, WARNING, figure

np = Needed("numpy")


def to_rgb(colour):
    return need("matplotlib.colors").to_rgb(colour)


@pytest.fixture(autouse=True)
def matplotlib(request):
    """Every test here draws, or has the command look for matplotlib, but one."""
    if request.function.__name__ != "test_matplotlib_is_needed_only_by_plot":
        need("matplotlib")

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
    assert isinstance(fig, need("matplotlib.figure").Figure) and fig._repr_png_().startswith(SIGNATURES[".png"])  # a notebook shows it
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


def test_values_are_written_as_the_text_form_writes_them():
    p = Protocol()
    p.add_sine_signal(1.0, 111659285584252.125)
    settings = p.to_dict()
    settings["machine_config"]["coils"][0]["name"] = "Cafe\u0301"
    fig = figure(Protocol.from_dict(settings))
    assert [t.get_text() for t in fig.rows["A1"].texts[1:]] == [
        "sine #0: amplitude 1.0, frequency 111659285584252.13, phase 0.0, depth 1.0"]
    assert 'channel A: coil "Cafe\\u{301}", 330.0 nF' in "\n".join(texts(fig))


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
    drawn = [line for line in row.lines if len(set(line.get_xdata())) > 1]  # the envelope, in one or two parts
    x = np.concatenate([line.get_xdata() for line in drawn])
    assert x[-1] < first <= x[-1] + 2 * first / row.ax.get_window_extent().width
    # The signal's end inside the frame, where its line shows, and past the session in its own colour.
    assert row.ax.get_xlim()[1] == then if first < then else first < row.ax.get_xlim()[1] < 1.05 * first
    assert [to_rgb(line.get_color()) for line in drawn] == [to_rgb(ENVELOPE)] + [to_rgb(PAST)] * (first > then)
    assert drawn[0].get_xdata()[-1] < then
    mark = f"length mismatch: {int(first * RATE)} samples ({first} s), the session has {int(then * RATE)} ({then} s)"
    assert mark in texts(fig)
    marks = [line.get_xdata()[0] for line in row.lines[len(drawn) + 1:]]  # after the envelope and the scale's
    # ticks: vertical lines at the signal's end and at the session's
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


RULES = """
[[rule]]
name = "intensity"
path = "intensity"
max = 0.2
[[rule]]
name = "gentle ramps"
path = "signals[*].up_duration"
min = 0.5
level = "warning"
[[rule]]
name = "coils"
path = "machine_config.coils[*].name"
one_of = ["none such"]
"""


def marked():
    from pyvora_cli import rules

    p = Protocol()
    p.set_stimulation_intensity(0.25)
    p.add_sine_signal(math.nan, 10.0)  # 0: a problem
    p.add_ramp_signal(1.0, 0.1, 1.0)  # 1: a warning only
    p.add_mixed_signal(2, 2)  # 2: mixes itself, twice a problem
    p.add_mixed_signal(0, 1)  # 3: its parts' problem and warning
    p.set_amplitude_source(Coil.A1, 0)
    p.set_amplitude_source(Coil.A2, 3)
    p.set_modulation_source(Channel.A, 2)
    p.enable_channel(Channel.B)
    p.set_amplitude_source(Coil.B1, 1)
    p.set_amplitude_source(Coil.B2, 0, external=True)
    p.set_modulation_source(Channel.B, 6, external=True)  # a problem of the source itself
    return p, rules.check(p, rules.parse(RULES))


def test_problems_and_findings_are_hatched_in_the_rows_they_concern_with_their_words():
    p, findings = marked()
    problems = p.find_problems()
    assert len(problems) == 4 and len(findings) == 3
    fig = figure(p, findings=findings, width=40.0)  # wide enough that nothing is shortened
    nan, (self_a, self_b), source = problems[0], problems[1:3], problems[3]
    intensity, ramp, coil = (str(f) for f in findings)
    expected = {"A1": ([nan], PROBLEM), "A2": ([nan, ramp], PROBLEM), "A\nmodulation": ([self_a, self_b], PROBLEM),
                "B1": ([ramp], WARNING), "B2": ([], None), "B\nmodulation": ([source], PROBLEM)}
    for label, row in rows(fig).items():
        words, colour = expected[label]
        assert [w for w, _ in row.marks] == words, label
        hatched = [patch for patch in row.patches if patch.get_hatch()]
        assert [to_rgb(patch.get_edgecolor()) for patch in hatched] == ([to_rgb(colour)] if colour else [])
        if words:
            assert "; ".join(words) in [t.get_text() for t in row.texts], label
    below = texts(fig)
    assert below.index("find_problems(): 4 problems") < below.index("rules: 3 findings (2 errors, 1 warning)")
    assert {intensity, coil, *problems} <= set(below)  # those of no row, and every one, listed underneath
    assert "hatched amber: a warning-level finding of the rules" in below
    # The intensity finding turns the header's intensity line red, though the intensity is within the limit.
    (line,) = [t for t in fig.texts if t.get_text().startswith("intensity 0.25 (within")]
    assert to_rgb(line.get_color()) == to_rgb(PROBLEM)


def test_a_problem_reached_through_mixes_of_mixes_marks_the_rows_it_drives():
    p = Protocol()
    s = p.add_sine_signal(1.0, -150.0)
    c = p.add_constant_signal(0.5)
    mm = p.add_mixed_signal(p.add_mixed_signal(s, c), c)
    p.set_amplitude_source(Coil.A1, mm)
    p.set_amplitude_source(Coil.A2, p.add_mixed_signal(mm, mm))  # three deep
    p.set_modulation_source(Channel.A, c)
    (problem,) = p.find_problems()
    by_row = rows(figure(p))
    for label in ("A1", "A2"):
        assert by_row[label].marks == [(problem, PROBLEM)], label
    assert by_row["A\nmodulation"].marks == []


def sprawling():
    """A protocol whose texts are long: 200-character coil names and mixes nested ten deep."""
    p = Protocol()
    p.add_ramp_signal(1.0, 0.001, 0.001)
    for i in range(10):
        p.add_mixed_signal(i, 0)
    p.set_amplitude_source(Coil.A2, 10)
    p.enable_channel(Channel.B)
    settings = p.to_dict()
    coils = settings["machine_config"]["coils"]
    coils.append(dict(coils[0]))
    coils[0]["name"] = "Figure-8 coil, 70 mm, left " + "x" * 173
    coils[1]["name"] = "\x1b[31m" + "y" * 195
    settings["channel_b_settings"]["coil_idx"] = 1
    return Protocol.from_dict(settings)


@pytest.mark.parametrize("width", [12.0, 5.0])
def test_no_text_is_cut(width):
    import warnings

    name = b"lab/caf\xe9\x1b\x07" + b"-a-long-name" * 20 + b".vora"
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # such as a glyph the font lacks
        fig = figure(sprawling(), os.fsdecode(name), width=width)
        fig.canvas.draw()
    renderer = fig.canvas.get_renderer()
    page = fig.bbox
    for row in fig.rows.values():
        frame = row.border.get_window_extent(renderer)
        for text in row.texts:
            box = text.get_window_extent(renderer)
            inside = frame if text not in (row.label, *row.texts[1:3]) or box.x0 >= frame.x0 else page
            assert inside.x0 - 0.5 <= box.x0 and box.x1 <= inside.x1 + 0.5, text.get_text()
    for text in fig.texts:
        box = text.get_window_extent(renderer)
        assert page.x0 <= box.x0 and box.x1 <= page.x1, text.get_text()
    found = texts(fig)
    header = "".join(t.get_text() for t in fig.texts)
    assert header.startswith("lab/caf\\xe9\\u{1b}\\u{7}-a-long-name")
    assert header.count("carrier") == 2 and "\\u{1b}[31m" + "y" * 20 in header  # both coils and tunings
    # Every signal the mixes reach, given whole under the rows when its row has no room for it.
    detail = "  ·  ".join(["mixed #9: mix of #8 and #0", "ramp #0: peak 1.0, up_duration 0.001, down_duration 0.001",
                           *(f"mixed #{i}: mix of #{i - 1} and #0" for i in range(8, 0, -1))])
    (shown,) = [t.get_text() for t in fig.rows["A2"].texts if t.get_text().startswith(detail[:20])]
    if shown != detail:
        cut = shown.rindex("… [")
        words = " ".join(" ".join(found).split())  # lines under the rows wrap at spaces
        assert detail.startswith(shown[:cut]) and " ".join(f"{shown[cut + 2:]} {detail}".split()) in words


@pytest.mark.parametrize("count", [51, 50])
def test_a_missing_source_or_input_at_the_count_an_intensity_at_the_limit_and_the_51st_problem(count):
    p = Protocol()
    p.set_stimulation_intensity(p.to_dict()["machine_config"]["max_intensity_setpoint"])
    for _ in range(48):
        p.add_sine_signal(math.nan, 1.0)
    p.set_modulation_source(Channel.A, p.add_mixed_signal(0, 49))
    p.set_amplitude_source(Coil.A1, 49)
    p.set_amplitude_source(Coil.A2, 6 if count == 51 else 5, external=True)
    fig = figure(p)
    by_row = rows(fig)
    assert by_row["A1"].texts[1].get_text() == "signal #49 does not exist: the table has 49 signals"
    if count == 51:
        assert by_row["A2"].texts[1].get_text() == "external input 6 does not exist: the machine has 6 (0 to 5)"
    assert to_rgb(by_row["A1"].texts[1].get_color()) == to_rgb(PROBLEM)
    assert by_row["A\nmodulation"].texts[2].get_text().endswith("  ·  signal #49 does not exist")
    found = texts(fig)
    assert any(t.startswith("intensity 0.3 (within the machine's limit") for t in found)
    assert [t.get_color() for t in fig.texts if t.get_text().startswith("intensity")] == ["black"]
    problems = p.find_problems()
    assert len(problems) == count
    more = ["... and 1 more; `pyvora check FILE` lists them all"] if count == 51 else []
    assert found[len(fig.texts) - 1 - len(more):len(fig.texts)] == [problems[49], *more]


@pytest.mark.parametrize("duration", [10.0, 0.01])
def test_a_spike_is_drawn_in_its_own_pixel_column(duration):
    p = Protocol()
    p.set_session_duration(duration)
    n = p.get_num_samples()
    spike = n // 3 + 1
    samples = np.zeros(n)
    samples[spike] = 1.0
    p.add_arbitrary_signal(samples)
    row = rows(figure(p))["A1"]
    x, y = envelope_line(row).get_data()
    at = np.flatnonzero(np.asarray(y) == 1.0)
    columns = row.ax.get_window_extent().width
    def column(seconds):
        return math.floor(seconds / duration * columns + 1e-9)

    # Only the column the spike's time falls in shows it, at that column's first sample.
    assert len(set(x[at])) == 1 and column(x[at[0]]) == column(spike / RATE) and x[at[0]] <= spike / RATE


def test_every_rows_frame_is_drawn_on_all_four_sides():
    fig = figure(Protocol())
    fig.canvas.draw()
    pixels = np.asarray(fig.canvas.buffer_rgba())[::-1, :, :3].min(axis=2)  # row 0 at the bottom
    for row in fig.rows.values():
        box = row.border.get_window_extent()
        middle = round((box.y0 + box.y1) / 2)
        for x in (box.x0, box.x1):
            assert pixels[middle, math.floor(x) - 1:math.ceil(x) + 1].min() < 200, x  # black, or a disabled row's grey


def test_the_command_marks_a_labs_findings_and_writes_awkward_names_with_nothing_on_stderr(tmp_path):
    p, _ = marked()
    rules_file = tmp_path / "rules.toml"
    rules_file.write_text(RULES)
    for name in (b"caf\xe9.vora", b"bell\x07\x1b[2J.vora", "研究.vora".encode()):
        path = os.path.join(os.fsencode(tmp_path), name)
        with open(path, "wb") as file:
            file.write(p.to_bytes())
        result = subprocess.run([COMMAND, "plot", "--rules", str(rules_file), path], capture_output=True)
        assert (result.returncode, result.stdout, result.stderr) == (0, b"", b""), name
        assert open(path[:-5] + b".png", "rb").read().startswith(SIGNATURES[".png"])
    rules_file.write_text("[[rule]]\nname = 'x'\npath = 'intensity'\nmax = 'high'\n")
    refused = [run(command, "--rules", str(rules_file), os.fsdecode(path)) for command in ("check", "plot")]
    assert [r.returncode for r in refused] == [2, 2] and refused[0].stderr == refused[1].stderr != ""


def test_wrapping_and_shortening_measure_about_as_much_text_as_they_lay_out(monkeypatch):
    # A coil name or a rule's message has no limit of length: laying it out measures each line
    # a few times, never the rest of the text once a line.
    from pyvora_cli.plot_text import Fit

    measured = []
    width = Fit.width
    monkeypatch.setattr(Fit, "width", lambda self, text, *args, **kwargs: (measured.append(len(text)),
                                                                            width(self, text, *args, **kwargs))[1])
    fit = Fit(100)
    for text in ("x" * 4000, "a word " * 600):
        measured.clear()
        assert " ".join(fit.wrap(text, 2.0, size=8)).replace(" ", "") == text.replace(" ", "")
        assert sum(measured) < 12 * len(text)
        measured.clear()
        assert fit.shorten(text, 2.0, size=8).endswith(f"… [{len(fit.notes)}]")
        assert sum(measured) < 3 * len(text)


def test_the_longest_piece_that_fits_is_found_from_any_guess():
    from pyvora_cli.plot_text import Fit

    fit, text = Fit(100), "ab cd  " + "X" * 40 + " e fg"
    for room in (0.001, 0.1, 0.3, 2.0):
        for tail in ("", "… [1]"):
            for start in (0, 3, 5, len(text) - 1, len(text)):
                fitting = [n for n in range(1, len(text) - start + 1)
                           if fit.fits(text[start:start + n].rstrip() + tail, room, size=8)]
                found = {fit._longest(text, room, tail, {"size": 8}, start, guess) for guess in (1, 2, 5, 32, 99)}
                if start == 0:
                    found.add(fit._longest(text, room, tail, {"size": 8}))
                assert found == {max(fitting, default=0)}, (room, tail, start)


def test_wrapped_lines_fit_and_break_at_the_last_space_that_lets_them():
    from pyvora_cli.plot_text import SLACK, Fit, drawable

    fit = Fit(100)
    for text in ("", " lead", "trail  ", "a  b   Xc" * 6, "one two three four five six seven eight nine", "X" * 50):
        for room in (0.001, 0.25, 0.6):  # the first: too narrow for anything
            lines = fit.wrap(text, room, size=8)
            assert "".join(lines).replace(" ", "") == text.replace(" ", ""), (text, room)
            assert all((line or i == 0) and line == line.rstrip(" ") and (len(line) < 2 or fit.fits(line, room, size=8))
                       for i, line in enumerate(lines[:-1])), (text, lines)  # the first: a space alone
            assert not any(line.startswith(" ") for line in lines[1:]), (text, lines)  # spaces at a break go
            if "  " not in text:  # a single space between words: the next word did not fit
                assert not any(fit.fits(f"{line} {after.split()[0]}", room, size=8)
                               for line, after in zip(lines, lines[1:]) if after), (text, lines)
    # Measured in the font drawn, with a pixel to spare; pieces go on one line when they fit.
    assert fit.width("i" * 9, 8, family="monospace") == fit.width("W" * 9, 8, family="monospace")
    width = fit.width("abc", 8)
    assert fit.fits("abc", (width + 1.5 / 100) / SLACK, size=8) and not fit.fits("abc", (width + 0.5 / 100) / SLACK, size=8)
    assert fit.pieces(["a", "b"], 9.0, size=8) == ["a    b"] and fit.pieces(["a" * 30, "b" * 30], 2.5, size=8) == ["a" * 30, "b" * 30]
    assert not any(fit.shorten("ab " * 30, room / 10, size=8).split("…")[0].endswith(" ") for room in range(1, 9))
    assert drawable("é\u0378") == "é\\u{378}"  # a character no font draws


def test_a_name_that_is_no_file_name_is_drawn_escaped():
    header = "".join(t.get_text() for t in figure(Protocol(), "a\ud800b").texts)
    assert header.startswith("a\\u{d800}b")


def test_a_picture_records_its_rules_files_and_version_when_clean(tmp_path, monkeypatch):
    import pyvora
    from pyvora_cli import command
    from pyvora_cli.commands import plot as plot_command

    p = Protocol()
    p.set_stimulation_intensity(0.2)
    p.save(str(tmp_path / "clean.vora"))
    lab, study = tmp_path / "lab.toml", tmp_path / "study.toml"
    lab.write_text("[[rule]]\nname = 'lab'\npath = 'intensity'\nmax = 0.3\n")
    study.write_text("[[rule]]\nname = 'study'\npath = 'intensity'\nmax = 0.1\n")
    drawn = []
    monkeypatch.setattr(plot_command, "figure", lambda *args, **keys: drawn.append(figure(*args, **keys)) or drawn[-1])
    for order in ((lab,), (lab, study)):
        rules_args = [word for path in order for word in ("--rules", str(path))]
        assert command.main(["plot", *rules_args, str(tmp_path / "clean.vora"), "-o", str(tmp_path / "c.png")]) == 0
    clean, found = (texts(fig) for fig in drawn)
    records = [f"rules file {path}: SHA-256 {hashlib.sha256(path.read_bytes()).hexdigest()}" for path in (lab, study)]
    assert clean[clean.index(records[0]) + 1] == "rules: no findings"
    assert found[found.index(records[1]) + 1] == "rules: 1 finding (1 error, 0 warnings)"
    assert any(f"drawn by pyvora {pyvora.__version__}" in text for text in texts(figure(p)))
