"""`pyvora plot`: one picture of a protocol, for lab notebooks and review documents.

The session runs along one time axis. Each coil's amplitude (A1, A2, B1, B2) and each
channel's modulation gets a row that shows what drives it: an arbitrary signal as its samples'
envelope, every other signal kind as a labelled band with its parameters (the module holds no
waveform for them, so none is drawn), an external input by its number. A header names the
file, its SHA-256, the intensity against the machine's limit, the duration and the coils; the
problems that find_problems() reports are listed under the rows.

What each row shows, whether it exists, which problems and findings concern it and every
text of a value come from the module's overview (Protocol._overview()), which the notebook
summary and `pyvora diff` render too; this module only draws it.

matplotlib is imported by figure() and the command only, never by `import pyvora` or by the
other subcommands; it is an optional extra: pip install "pyvora[plot]".
"""

from __future__ import annotations

import functools
import hashlib
import io
import os
from typing import TYPE_CHECKING, Any

from pyvora import _LIMITS, Protocol, __version__
from pyvora_cli.names import name_text
from pyvora_cli.plot_text import SLACK, Fit

if TYPE_CHECKING:
    import numpy as np
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

    from pyvora_cli.rules import Finding

FULL_SCALE = _LIMITS["max_sample"]
FORMATS = (".png", ".svg", ".pdf")
# Band colours by what drives a row; a disabled channel's rows take the greys instead.
BAND = {"Constant": "#d8e6f3", "Sine": "#dcefd6", "Ramp": "#f8e5c8", "MixedSignal": "#e8dcf0",
        "external": "#efefc4", "missing": "#f6cccc"}
ENVELOPE = "#1f5fa8"
PROBLEM = "#b00020"
WARNING = "#c77800"  # a warning-level finding: amber, less alarming than a problem's red
PAST = "#8a3fb5"  # an envelope's samples past the session's end
GREY_BACKGROUND, GREY_BAND, GREY_INK = "#eeeeee", "#d9d9d9", "#8c8c8c"
MAX_PROBLEM_LINES = 50  # beyond that the picture would grow without bound; `check` lists all

# Geometry in inches, fixed so that the picture's size does not depend on the fonts.
LEFT, RIGHT, HEADER, ROW, ROW_GAP, AXIS, PROBLEM_LINE = 1.25, 0.25, 1.0, 0.62, 0.12, 0.5, 0.19
LABEL_PAD = 18.0  # points between a row's frame and its label, room for the scale's ticks
HEADER_LINE = 0.2  # inches from one header line to the next; HEADER holds four
TEXT_INSET = 0.006  # of a row's width, between its frame and its texts
END_ROOM = 0.025  # of the axis, after a signal that outlasts the session, so that its end shows
MARKED_HIGH = 1.9  # a marked envelope's row, up to this fraction of full scale: room for the marks' line
ROW_COUNT = 6  # A1, A2, A modulation, B1, B2, B modulation


def figure(protocol: Protocol, name: str | bytes | None = None, *, sha256: str | None = None, width: float = 12.0,
           dpi: float = 100.0, findings: list[Finding] | None = None,
           rules: list[tuple[str | bytes, str]] | None = None) -> Figure:
    """Draw a protocol as one matplotlib Figure: the whole session on one time axis.

    Rows, top to bottom: A1, A2, channel A's modulation, B1, B2, channel B's modulation, each
    showing its source. An arbitrary signal is drawn as it is stored: sample i at
    i / sampling rate seconds, its value as a fraction of full scale (sample / 32767), reduced
    to the minimum and maximum of each pixel column so that no peak is lost; one whose length
    differs from the session is drawn over its own length and marked. Constant, sine, ramp and
    mixed signals appear as bands labelled with their parameters; external inputs by their
    number; a source that names a missing signal or input in red. A disabled channel's rows
    are grey and marked "disabled". The header gives the name, the SHA-256 of the protocol's
    file bytes (to_bytes(), the bytes save() writes), the pyvora version that drew it, the
    intensity with the machine's limit, the duration and each channel's coil; every
    find_problems() entry is listed below.

    The figure is built without pyplot (no global state) on the Agg canvas. In IPython or
    Jupyter it shows as the cell's value, as a PNG; fig.savefig("x.png"), "x.svg" or "x.pdf"
    writes it. The rows share one Axes; fig.rows maps each row's label ("A1" ... "B
    modulation") to what it drew: its label, background, texts, lines and patches. Texts are
    drawn without font hinting.

    Each problem, and each finding, is also marked in the rows it concerns: those whose source
    its path names (channel_a_settings.amplitude2_source... is A2's) and those whose source
    reaches the signal it names (signals[3]... marks each row drawing signal 3, or a mix that
    reaches signal 3 through mixes of any depth); the band or envelope is hatched, red for a
    problem or an error, amber for a warning, and carries the problem's words (row.marks). A
    problem or finding on the intensity colours the header's intensity line the same way. A signal's samples past
    the session's end are drawn in their own colour. No text is cut: long ones wrap, or are
    shortened with "…" and a number, and given whole under the rows. The name is written as
    the command writes file names (pyvora_cli.names.name_text), and a character the font
    cannot draw as \\u{<hex>}.

    Args:
        protocol: the protocol to draw; it is not changed.
        name: what the header calls it, such as the file name; "unsaved protocol" if None.
        sha256: the hex digest to show when the caller already has the file's bytes (a loaded
            protocol's to_bytes() are those bytes); None computes it from to_bytes().
        width: the figure's width in inches; the height follows from the rows and problems.
        dpi: pixels per inch, which also sets how many columns an envelope has.
        findings: the findings of a lab's rules for the protocol (pyvora_cli.rules.check), to
            mark and list with the problems; None or empty for none.
        rules: the rules files the findings come from, as (name, SHA-256 hex digest) pairs:
            each is listed under the rows, then "rules: no findings" when there are none, so
            that a clean picture still says what it was checked against; None for no rules.

    Raises:
        ImportError: matplotlib (pip install "pyvora[plot]") or NumPy is not installed.
    """
    import matplotlib
    from matplotlib.backends.backend_agg import FigureCanvasAgg

    # Texts are measured as they are drawn: unhinted (see ProtocolFigure.draw).
    with matplotlib.rc_context({"text.hinting": "none"}):
        fig = _figure_class()(figsize=(width, 1.0), dpi=dpi)
        FigureCanvasAgg(fig)
        _compose(fig, protocol, name, sha256, width, dpi, list(findings or ()), rules)
    return fig


def _compose(fig: Figure, protocol: Protocol, name: str | bytes | None, sha256: str | None, width: float,
             dpi: float, findings: list[Finding], rules: list[tuple[str | bytes, str]] | None = None) -> None:
    from matplotlib.lines import Line2D
    from matplotlib.patches import Rectangle
    from matplotlib.transforms import blended_transform_factory

    overview = protocol._overview([(f.path, str(f), f.level != "error") for f in findings])
    settings = protocol.to_dict()  # for the samples the envelopes are drawn from
    problems = [mark["text"] for mark in overview["marks"][:overview["problem_count"]]]
    digest = sha256 if sha256 is not None else hashlib.sha256(protocol.to_bytes()).hexdigest()
    fit = Fit(dpi)
    room = width - LEFT - RIGHT
    drawing = _Drawing(overview, settings, protocol.get_sampling_rate(), protocol.get_num_samples(), fit, room)

    header = []
    for i, (pieces, colour) in enumerate(_header(overview, name, digest)):
        font = {"size": 10, "weight": "bold"} if i == 0 else {"size": 8.5, "family": "monospace" if i == 1 else None}
        header += [(line, colour, font) for line in fit.pieces(pieces, room, **font)]
    header_height = HEADER + HEADER_LINE * (len(header) - 4)

    # One Axes holds every row, in inches up from its bottom: one time axis, and none of the
    # per-Axes machinery (ticks, spines, layout) six times over.
    span = ROW_COUNT * ROW + (ROW_COUNT - 1) * ROW_GAP
    ax = fig.add_axes((0.0, 0.0, 1.0, 1.0))  # placed once the height is known
    ax.set_frame_on(False)  # each row draws its own frame
    ax.set_ylim(0.0, span)
    ax.set_yticks([])
    ax.set_xlim(0.0, drawing.span)
    ax.set_xlabel("time (s)", fontsize=8.5)
    ax.tick_params(axis="x", labelsize=8)
    columns = max(1, round(room * dpi))
    rows: dict[str, _Row] = fig.rows  # type: ignore[attr-defined]
    for i, row in enumerate(overview["rows"]):
        rows[row["label"]] = drawing.row(ax, span - i * (ROW + ROW_GAP) - ROW, row, columns=columns)
    if drawing.end > drawing.duration:  # a longer arbitrary signal widened the axis
        for drawn in rows.values():
            drawn.line([drawing.duration] * 2, [drawn.low, drawn.high], color="black", linewidth=1.0)
        top = rows[overview["rows"][0]["label"]]
        # Centred on the line, unless that would run past the picture's edge.
        half = fit.width("session end", size=7.5) / 2 * drawing.span / room
        align = "right" if drawing.duration + half > drawing.span * (1 + RIGHT / room) else "center"
        top.texts.append(ax.text(drawing.duration, 1.02, "session end", fontsize=7.5, ha=align, va="bottom",
                                 transform=blended_transform_factory(ax.transData, top.box)))

    # Under the rows: what the marks mean, the problems, the findings, the shortened texts whole.
    lines: list[tuple[str, str, bool, Any]] = []
    used = {colour for row in rows.values() for _, colour in row.marks}
    for colour, meaning in ((PROBLEM, "hatched red: a problem that find_problems() reports"
                             + (", or an error-level finding of the rules" if findings else "")),
                            (WARNING, "hatched amber: a warning-level finding of the rules")):
        if colour in used:
            lines.append((meaning, colour, False, "hatch"))
    if drawing.past:
        lines.append(("samples past the session's end, drawn beyond the black line", PAST, False, "line"))
    if problems:
        lines.append((f"find_problems(): {_count(len(problems), 'problem')}", PROBLEM, True, None))
        lines += [(problem, PROBLEM, False, None) for problem in problems[:MAX_PROBLEM_LINES]]
        if len(problems) > MAX_PROBLEM_LINES:
            lines.append((f"... and {len(problems) - MAX_PROBLEM_LINES} more; `pyvora check FILE` lists them all",
                          PROBLEM, False, None))
    else:
        lines.append(("find_problems(): none", "black", True, None))
    if rules is not None:
        lines += [(f"rules file {name_text(rules_name)}: SHA-256 {rules_digest}", "black", False, None)
                  for rules_name, rules_digest in rules]
        if not findings:
            lines.append(("rules: no findings", "black", True, None))
    if findings:
        errors = sum(f.level == "error" for f in findings)
        lines.append((f"rules: {_count(len(findings), 'finding')} ({_count(errors, 'error')}, "
                      f"{_count(len(findings) - errors, 'warning')})", PROBLEM if errors else WARNING, True, None))
        lines += [(str(f), PROBLEM if f.level == "error" else WARNING, False, None)
                  for f in findings[:MAX_PROBLEM_LINES]]
        if len(findings) > MAX_PROBLEM_LINES:
            lines.append((f"... and {len(findings) - MAX_PROBLEM_LINES} more; `pyvora check --rules RULES FILE` "
                          "lists them all", PROBLEM if errors else WARNING, False, None))
    lines += [(f"[{i}] {note}", "black", False, None) for i, note in enumerate(fit.notes, 1)]
    footer = [(line, colour, bold, swatch if j == 0 else None) for text, colour, bold, swatch in lines
              for j, line in enumerate(fit.wrap(text, room, size=8, weight="bold" if bold else "normal"))]

    below = header_height + ROW_COUNT * (ROW + ROW_GAP) + AXIS
    height = below + 0.15 + PROBLEM_LINE * max(len(footer) - 1, 1)
    fig.set_size_inches(width, height)

    def y(inches_from_top: float) -> float:
        return 1.0 - inches_from_top / height

    ax.set_position((LEFT / width, y(header_height + span), room / width, span / height))
    for i, (text, colour, font) in enumerate(header):
        fig.text(LEFT / width, y(0.22 + HEADER_LINE * i), text, fontsize=font["size"], color=colour,
                 weight=font.get("weight", "normal"), va="center", family=font.get("family"),
                 parse_math=False)  # names are text: a "$" in one is no formula
    for i, (text, colour, bold, swatch) in enumerate(footer):
        middle = y(below + PROBLEM_LINE * (i + 0.5))
        fig.text(LEFT / width, middle, text, fontsize=8, color=colour, va="center",
                 weight="bold" if bold else "normal", parse_math=False)
        left, right = (LEFT - 0.4) / width, (LEFT - 0.1) / width
        if swatch == "hatch":
            fig.add_artist(Rectangle((left, middle - 0.05 / height), right - left, 0.1 / height, facecolor="none",
                                     edgecolor=colour, hatch="////", linewidth=1.0, transform=fig.transFigure))
        elif swatch == "line":
            fig.add_artist(Line2D([left, right], [middle, middle], color=colour, linewidth=1.5,
                                  transform=fig.transFigure))


def _count(n: int, noun: str) -> str:
    return f"{n} {noun}{'s' if n != 1 else ''}"


@functools.cache
def _figure_class() -> type[Figure]:
    """matplotlib's Figure, made to show itself in IPython and Jupyter as a PNG.

    IPython shows a plain Figure as an image only once pyplot or %matplotlib has set up its
    inline support; with _repr_png_ the figure shows as a cell's value either way. Built on
    first use, so that importing this module does not import matplotlib.
    """
    from matplotlib.figure import Figure

    class ProtocolFigure(Figure):
        """A matplotlib Figure of a protocol (see pyvora_cli.plot.figure)."""

        __module__ = __name__
        __qualname__ = "ProtocolFigure"

        def __init__(self, *args: Any, **kwargs: Any):
            super().__init__(*args, **kwargs)
            self.rows: dict[str, _Row] = {}  # by label ("A1" ... "B modulation"): what each drew

        def draw(self, renderer: Any) -> None:
            # Unhinted glyphs: FreeType's hinting is much of what drawing the texts costs, and
            # at these sizes the texts read as well without it.
            import matplotlib

            with matplotlib.rc_context({"text.hinting": "none"}):
                super().draw(renderer)

        def _repr_png_(self) -> bytes:
            buffer = io.BytesIO()
            self.savefig(buffer, format="png")
            return buffer.getvalue()

    return ProtocolFigure


def __getattr__(name: str) -> Any:
    # pyvora_cli.plot.ProtocolFigure, for pickle, without importing matplotlib before it is needed.
    if name == "ProtocolFigure":
        return _figure_class()
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def envelope(samples: np.ndarray, span: float, rate: float, columns: int) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """The minimum and maximum of the samples in each pixel column that holds any.

    An axis of `span` seconds is split into `columns` equal columns; sample i sits at
    i / rate seconds. Returns the index of each column's first sample and the columns'
    minima and maxima, one pass of NumPy's reduceat over the samples (no Python loop).
    """
    import numpy as np

    per_column = span * rate / columns  # sample periods per pixel column
    starts = np.ceil(np.arange(columns) * per_column).astype(np.int64)
    starts = np.unique(starts[starts < len(samples)])  # empty columns (fewer samples) drop out
    return starts, np.minimum.reduceat(samples, starts), np.maximum.reduceat(samples, starts)


def save(fig: Figure, path: str) -> None:
    """Write the figure as PNG, SVG or PDF by the name's extension, the same bytes each time
    for the same protocol and matplotlib (no dates, no version stamp, fixed SVG ids)."""
    import matplotlib

    from pyvora_cli.streams import replacing

    extension = os.path.splitext(path)[1].lower()
    metadata: dict[str, Any] = {".png": {"Software": None}, ".svg": {"Date": None, "Creator": None},
                                ".pdf": {"CreationDate": None, "Creator": None, "Producer": None}}[extension]
    with matplotlib.rc_context({"svg.hashsalt": "pyvora"}):
        # zlib's fastest level: for these pictures about half the time of its default, and no larger.
        options: dict[str, Any] = {"pil_kwargs": {"compress_level": 1}} if extension == ".png" else {}
        with replacing(path) as file:  # a picture that fails to be drawn leaves the old one
            fig.savefig(file, format=extension[1:], metadata=metadata, **options)


class _Drawing:
    """What one figure needs to know of the protocol to draw its rows."""

    def __init__(self, overview: dict[str, Any], settings: dict[str, Any], rate: float, num_samples: int, fit: Fit,
                 room: float):
        self.rate = rate
        self.num_samples = num_samples
        self.fit = fit
        self.room = room * (1 - 2 * TEXT_INSET)  # inches a row's text may take
        self.duration: float = settings["session_duration"]
        self.signals: list[dict[str, Any]] = overview["signals"]
        self.samples = {i: signal["samples"] for i, signal in enumerate(settings["signals"])
                        if signal["kind"] == "Arbitrary"}
        # A mark's colour: red for a problem or an error-level finding, amber for a warning.
        self.marks = [(mark["text"], WARNING if mark["warning"] else PROBLEM) for mark in overview["marks"]]
        self.envelopes: dict[int, tuple[np.ndarray, np.ndarray, np.ndarray]] = {}
        drawn = [len(self.samples[index]) for index in map(self._arbitrary, overview["rows"]) if index is not None]
        self.end = max([self.duration, *(n / rate for n in drawn)])
        # A signal longer than the session ends inside the frame, where its end line shows.
        self.span = self.end * (1 + END_ROOM) if self.end > self.duration else self.end
        self.past = False  # whether any envelope went past the session's end

    def _arbitrary(self, row: dict[str, Any]) -> int | None:
        """The position of the arbitrary signal the row's source selects, if it selects one."""
        return row["position"] if row["drive"] and row["position"] in self.samples else None

    def row(self, ax: Axes, bottom: float, source: dict[str, Any], columns: int) -> _Row:
        """Draw one row, whose frame's bottom is `bottom` inches up the Axes."""
        enabled = source["enabled"]
        index = self._arbitrary(source)
        mine = [self.marks[m] for m in source["marks"]]
        # Room above full scale for the labels, and for a second line of them when marked.
        high = (MARKED_HIGH if mine else 1.42) if index is not None else 1.08
        row = _Row(ax, bottom, -0.08, high, enabled)
        row.marks = [(words, colour if enabled else GREY_INK) for words, colour in mine]
        row.label = row.text(0.0, 0.5, source["label"].replace(" ", "\n") + ("" if enabled else "\ndisabled"),
                             offset=-LABEL_PAD, ha="right", va="center", fontsize=9, weight="bold",
                             color="black" if enabled else GREY_INK)

        if not source["exists"]:
            self.band(row, BAND["missing"], source["text"], missing=True)
        elif source["external"]:
            self.band(row, BAND["external"], source["text"])
        elif index is not None:
            self.arbitrary(row, index, self.samples[index], columns)
        else:
            parts = source["drive"][1:]  # what a mix reaches, down to its signals
            detail = "  ·  ".join(part["text"] for part in parts) if parts else None
            self.band(row, BAND[self.signals[source["position"]]["kind"]], source["text"], detail=detail,
                      missing_part=not all(part["exists"] for part in parts))
        return row

    def _mark_colour(self, row: _Row) -> str | None:
        """The hatching's colour: the gravest of the row's marks (grey in a disabled row)."""
        colours = {colour for _, colour in row.marks}
        return next((c for c in (PROBLEM, WARNING, GREY_INK) if c in colours), None)

    def band(self, row: _Row, colour: str, text: str, *, detail: str | None = None, missing: bool = False,
             missing_part: bool = False) -> None:
        from matplotlib.patches import Rectangle

        enabled = row.enabled
        face = colour if enabled else GREY_BAND
        ink = (PROBLEM if missing else "black") if enabled else GREY_INK
        edge = (PROBLEM if missing else "none") if enabled else GREY_INK if missing else "none"
        row.add(Rectangle((0.0, 0.1), self.duration, 0.8, facecolor=face, edgecolor=edge, linewidth=1.0,
                          linestyle="--", transform=row.data))
        mark = self._mark_colour(row)
        # Over hatching, a text keeps the band's colour around it to stay legible.
        behind: dict[str, Any] = {"bbox": {"facecolor": face, "edgecolor": "none", "pad": 1.0}} if mark else {}
        if mark:
            row.add(Rectangle((0.0, 0.1), self.duration, 0.8, facecolor="none", edgecolor=mark, hatch="////",
                              linewidth=1.2, transform=row.data))
        texts = [(text, 8.5, ink)]
        if detail is not None:
            detail_ink = PROBLEM if enabled and missing_part else ink
            texts.append((detail, 7.5, detail_ink))
        if mark:
            texts.append(("; ".join(words for words, _ in row.marks), 7.5, mark))
        for (line, size, line_ink), height in zip(texts, {1: [0.5], 2: [0.64, 0.3], 3: [0.75, 0.5, 0.25]}[len(texts)]):
            row.text(TEXT_INSET, height, self.fit.shorten(line, self.room, size=size), va="center", fontsize=size,
                     color=line_ink, **behind)

    def arbitrary(self, row: _Row, index: int, samples: np.ndarray, columns: int) -> None:
        import numpy as np
        from matplotlib.markers import TICKLEFT
        from matplotlib.patches import Rectangle

        count = len(samples)
        enabled = row.enabled
        ink = ENVELOPE if enabled else GREY_INK
        text = self.signals[index]["text"]
        end = count / self.rate
        if count:
            if index not in self.envelopes:  # one signal often drives several rows
                self.envelopes[index] = envelope(samples, self.span, self.rate, columns)
            starts, low, high = self.envelopes[index]
            # Up the first column from its minimum to its maximum, down the next from its maximum
            # to its minimum, and so on: the strokes between columns stay short, which halves
            # what Agg has to fill for a busy envelope.
            x = np.repeat(starts / self.rate, 2)
            pairs = np.column_stack((low, high))
            pairs[1::2] = pairs[1::2, ::-1].copy()
            values = pairs.ravel() / FULL_SCALE
            # The columns that start past the session's end in their own colour, joined to the rest.
            split = 2 * int(np.searchsorted(starts, self.num_samples))
            row.line(x[:split], values[:split], color=ink, linewidth=0.8, solid_joinstyle="miter")
            if split < len(x):
                self.past = self.past or enabled
                keep = max(split - 1, 0)
                row.line(x[keep:], values[keep:], color=PAST if enabled else GREY_INK, linewidth=0.8,
                         solid_joinstyle="miter")
            text += f" (of {FULL_SCALE})"
        # The scale: ticks at no signal and at full scale, as an Axes would draw them.
        row.line([0.0, 0.0], [0.0, 1.0], frame=True, marker=TICKLEFT, markersize=3.5, markeredgewidth=0.8,
                 linestyle="none", color=ink, clip_on=False)
        for value in (0, 1):
            row.text(0.0, (value - row.low) / (row.high - row.low), str(value), offset=-5.5, ha="right",
                     va="center_baseline", fontsize=7, color=ink)
        mark = self._mark_colour(row)
        if mark:
            row.add(Rectangle((0.0, 0.0), min(end, self.span), 1.0, facecolor="none", edgecolor=mark,
                              hatch="\\\\", linewidth=1.2, transform=row.data))
        note = self.signals[index]["note"] or None
        left, right = self._share(text, note, 8)
        row.text(TEXT_INSET, 0.97, self.fit.shorten(text, left, size=8), va="top", fontsize=8,
                 color="black" if enabled else GREY_INK)
        background = "white" if enabled else GREY_BACKGROUND
        if mark:
            row.text(TEXT_INSET, 0.74, self.fit.shorten("; ".join(words for words, _ in row.marks), self.room,
                                                        size=7.5),
                     va="top", fontsize=7.5, color=mark, bbox={"facecolor": background, "edgecolor": "none",
                                                               "pad": 1.0})
        if note is not None:
            line = PROBLEM if enabled else GREY_INK
            row.line([end, end], [row.low, row.high], color=line, linestyle="--", linewidth=1.2)
            if end < self.duration:
                row.add(Rectangle((end, row.low), self.duration - end, 0.74 * (row.high - row.low),
                                  facecolor="none", edgecolor=line, hatch="//", linewidth=0.0, transform=row.data))
            row.text(1 - TEXT_INSET, 0.97, self.fit.shorten(note, right, size=8), ha="right", va="top",
                     fontsize=8, color=line, bbox={"facecolor": background, "edgecolor": "none", "pad": 1.0})

    def _share(self, left: str, right: str | None, size: float) -> tuple[float, float]:
        """The widths two texts on one line may take, left and right, with a gap between them."""
        if right is None:
            return self.room, 0.0
        gap = 0.2
        wants = [self.fit.width(text, size) / SLACK + 2 / self.fit.dpi for text in (left, right)]
        if sum(wants) + gap <= self.room:
            return self.room - wants[1] - gap, wants[1]
        half = (self.room - gap) / 2
        if wants[0] <= half:
            return wants[0], self.room - wants[0] - gap
        if wants[1] <= half:
            return self.room - wants[1] - gap, wants[1]
        return half, half


class _Row:
    """One row of the figure: a band of its one Axes, with time across and the row's own values
    (low to high) up, framed like an Axes of its own; it keeps what it drew."""

    def __init__(self, ax: Axes, bottom: float, low: float, high: float, enabled: bool):
        from matplotlib.patches import Rectangle
        from matplotlib.transforms import Affine2D, Bbox, BboxTransformTo, TransformedBbox, blended_transform_factory

        self.ax, self.low, self.high, self.enabled = ax, low, high, enabled
        fig = ax.get_figure(root=True)
        assert fig is not None
        self.points = fig.dpi_scale_trans  # inches to the canvas, for offsets in points
        scale = ROW / (high - low)
        # (seconds, value), (fraction of the width, value) and the row's fractions of width and
        # height (as an Axes' transAxes) to the canvas.
        self.data = Affine2D().scale(1.0, scale).translate(0.0, bottom - low * scale) + ax.transData
        self.frame = blended_transform_factory(ax.transAxes, self.data)
        self.box = BboxTransformTo(TransformedBbox(Bbox([[0.0, low], [1.0, high]]), self.frame))
        self.texts: list[Any] = []
        self.lines: list[Any] = []
        self.patches: list[Any] = []
        # The face under everything, the edge over it, as an Axes draws its patch and spines.
        face, edge = (("white", "black") if enabled else (GREY_BACKGROUND, GREY_INK))
        self.background = Rectangle((0.0, 0.0), 1.0, 1.0, transform=self.box, facecolor=face,
                                    edgecolor="none", zorder=0)
        # add_artist, not add_patch or add_line: the limits are set, so the artists' extents
        # need not be found for them.
        ax.add_artist(self.background)
        # Unclipped: the Axes' own clip would halve the frame's edges on its sides, the right one to nothing.
        self.border = Rectangle((0.0, 0.0), 1.0, 1.0, transform=self.box, facecolor="none", edgecolor=edge,
                                linewidth=0.8, zorder=2.5, clip_on=False)
        ax.add_artist(self.border)
        self.label: Any = None
        self.marks: list[tuple[str, str]] = []  # (the words of a problem or finding, its colour)

    def add(self, patch: Any) -> None:
        """A patch drawn inside the row's frame."""
        self.ax.add_artist(patch)
        patch.set_clip_path(self.background)
        self.patches.append(patch)

    def line(self, x: Any, y: Any, *, frame: bool = False, **style: Any) -> None:
        """A line in seconds and values, or with frame=True in fractions of the width and values."""
        from matplotlib.lines import Line2D

        line = Line2D(x, y, transform=self.frame if frame else self.data, **style)
        self.ax.add_artist(line)
        if line.get_clip_on():
            line.set_clip_path(self.background)
        self.lines.append(line)

    def text(self, x: float, y: float, text: str, *, offset: float = 0.0, **style: Any) -> Any:
        """A text at fractions of the row's width and height, moved by offset points across."""
        from matplotlib.transforms import ScaledTranslation

        transform = self.box + ScaledTranslation(offset / 72, 0.0, self.points) if offset else self.box
        drawn = self.ax.text(x, y, text, transform=transform, parse_math=False, **style)
        self.texts.append(drawn)
        return drawn


def _header(overview: dict[str, Any], name: str | bytes | None, digest: str) -> list[tuple[list[str], str]]:
    """The header's lines, each as the pieces it may wrap between, and its colour."""
    facts = overview["facts"]
    first = ([name_text(name) if name is not None else "unsaved protocol"], "black")
    sha = ([f"SHA-256 {digest}", f"drawn by pyvora {__version__}"], "black")
    # Red when the intensity is above the limit or a problem or an error-level finding concerns
    # it; amber when only warnings do.
    marks = [overview["marks"][m]["warning"] for m in overview["intensity_marks"]]
    colour = PROBLEM if overview["intensity_above"] or not all(marks) else WARNING if marks else "black"
    session = ([f"intensity {facts['intensity']}", f"session {facts['session']}"], colour)
    coils = [f"{head}: {facts[head]}" for head in ("channel A", "channel B")]
    return [first, sha, session, (coils, "black")]
