"""A lab's own rules for its protocols: the limits that a study's approval or a lab's practice
sets beyond what the module itself refuses, checked before a protocol runs on a person.

A rules file is TOML with one ``[[rule]]`` table per rule::

    [[rule]]
    name = "approval 2026-14: intensity"
    path = "intensity"            # a path as find_problems() writes it; [*] matches every index
    max = 0.2                     # also: min, one_of = [...], required = true
    level = "error"               # or "warning"; "error" when left out
    message = "the approval allows at most 0.2"

    [[rule]]
    name = "envelopes start and end at zero"
    path = "signals[*].samples"
    ends_within = 0.01            # the first and last edge_samples samples within 1% of full scale
    edge_samples = 50
    max_step = 0.05               # the largest step between neighbouring samples, of full scale

``min`` and ``max`` apply to numbers, ``one_of`` to numbers, texts and flags, ``required = true``
to a flag that must be true, and ``ends_within``, ``edge_samples`` and ``max_step`` to sample
lists. Bounds are numbers of any size and sign, compared exactly with the protocol's values.
A path is checked against the protocol's layout when the rules are read, so a misspelt
field or a condition that does not fit the field's type makes the file invalid; a path that
matches no field of one protocol (``signals[*].up_duration`` without ramps) finds nothing there.
From Python::

    from pyvora_cli import rules
    for finding in rules.check(protocol, rules.load("lab.toml") + rules.load("study.toml")):
        print(finding)

Rules of several files apply in order; where two files hold rules of the same name, their
findings name the file too.
"""

from __future__ import annotations

import functools
import math
import re
import sys
import tomllib
from typing import Any, NamedTuple, NoReturn

import pyvora
from pyvora import Protocol
from pyvora_cli.names import name_text

LEVELS = ("error", "warning")
FULL_SCALE = pyvora._LIMITS["max_sample"]
RATE = pyvora._LIMITS["sampling_rate"]
# A condition's key, and the kind of field it fits.
CONDITIONS = {"min": "number", "max": "number", "one_of": "value", "required": "flag",
              "ends_within": "samples", "edge_samples": "samples", "max_step": "samples"}
KEYS = ("name", "path", "level", "message", *CONDITIONS)
NAME, INDEX = r"[A-Za-z_][A-Za-z0-9_]*", r"\[(?:\*|0|[1-9][0-9]*)\]"
PATH = re.compile(rf"{NAME}(?:\.{NAME}|{INDEX})*")
SEGMENT = re.compile(r"([A-Za-z_][A-Za-z0-9_]*)|\[(\*|[0-9]+)\]")


class RulesError(ValueError):
    """A rules file that is not valid: ``source``, ``line`` (1-based, None when unknown) and
    what is wrong; str() gives ``SOURCE: line L: what``."""

    def __init__(self, source: str, line: int | None, what: str) -> None:
        self.source, self.line, self.what = source, line, what
        super().__init__(f"{source}: line {line}: {what}" if line else f"{source}: {what}")


class Rule(NamedTuple):
    """One rule as read from a ``[[rule]]`` table: its name, the path it applies to, its level
    (``"error"`` or ``"warning"``), its message (None without one), its conditions by key
    (``{"max": 0.2}``) and the name of the rules file it comes from."""

    name: str
    path: str
    level: str
    message: str | None
    conditions: dict[str, Any]
    source: str = "<rules>"  # the rules file it comes from


class Finding(NamedTuple):
    """One breach of a rule: the rule's name and level, the path it concerns, the rule's message
    (or, without one, what the rule asks) and ``detail``, what the protocol holds there."""

    rule: str
    level: str
    path: str
    message: str
    detail: str
    source: str | None = None  # the rule's file, where another file holds a rule of the same name

    def __str__(self) -> str:
        of = "" if self.source is None else f" in {name_text(self.source)}"
        return f"{self.level}: {self.path}: {self.detail}: {self.message} (rule {pyvora._value_text(self.rule)}{of})"


# ---- The layout: what kind of field each path names, as the module lists it.

@functools.cache
def _layout() -> dict[str, str]:
    """{path pattern: kind}, kinds number, text, flag, samples, list and record."""
    return pyvora._layout()


def _segments(path: str) -> list[str | int | None] | None:
    """A path's names, indices and wildcards (None), or None when it is not a path."""
    if not PATH.fullmatch(path):
        return None
    return [name if name else None if index == "*" else int(index) for name, index in SEGMENT.findall(path)]


def _field_kind(segments: list[str | int | None]) -> str | None:
    """The kind of the fields a path names in the layout, None when it names none."""
    return _layout().get("".join(f".{s}" if isinstance(s, str) else "[*]" for s in segments).removeprefix("."))


# ---- Reading a rules file.

def _quoted(key: str) -> str:
    """A key as TOML may write it: bare, "quoted" or 'literal'."""
    return rf"(?:{re.escape(key)}|\"{re.escape(key)}\"|'{re.escape(key)}')"


RULE_HEADER = re.compile(rf"\s*\[\[\s*{_quoted('rule')}\s*\]\]")


def _lines(text: str) -> tuple[list[int], list[str]]:
    """The line of each [[rule]] header, and the text's lines."""
    lines = text.splitlines()
    headers = [i + 1 for i, line in enumerate(lines) if RULE_HEADER.match(line)]
    return headers, lines


def _key_line(lines: list[str], start: int | None, end: int | None, key: str) -> int | None:
    if start is None:
        return None
    name, rule = _quoted(key), _quoted("rule")
    # `key = …`, a dotted `key.sub = …`, or a table `[key]`, `[rule.key]`, `[[rule.key]]`
    pattern = re.compile(rf"\s*(?:{name}\s*[=.]|\[\[?\s*(?:{rule}\s*\.\s*)?{name}\s*[].])")
    for number in range(start, min(end or len(lines), len(lines)) + 1):
        if pattern.match(lines[number - 1]):
            return number
    return start


def _is_number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


class _Invalid(Exception):
    """What is wrong with one rule, and the key it is wrong at (None: the rule as a whole)."""

    def __init__(self, key: str | None, what: str) -> None:
        super().__init__(what)
        self.key, self.what = key, what


def _fail(key: str | None, what: str) -> NoReturn:
    raise _Invalid(key, what)


def _rule(table: Any, source: str) -> Rule:
    if not isinstance(table, dict):
        _fail(None, "each rule must be a [[rule]] table")
    for key in table:
        if key not in KEYS:
            _fail(key, f"unknown key {key!r} (known: {', '.join(KEYS)})")
    for key in ("name", "path"):
        if key not in table:
            _fail(None, f"the rule has no {key!r}")
        if not isinstance(table[key], str) or not table[key]:
            _fail(key, f"{key!r} must be a non-empty string")
    name, path = table["name"], table["path"]
    level = table.get("level", "error")
    if level not in LEVELS:
        _fail("level", f"'level' must be \"error\" or \"warning\", not {level!r}")
    message = table.get("message")
    if message is not None and not isinstance(message, str):
        _fail("message", "'message' must be a string")
    for key in ("name", "message"):
        if isinstance(table.get(key), str) and not table[key].isprintable():
            # Each finding is one line of the command's output.
            _fail(key, f"{key!r} must be one line of printable text")
    segments = _segments(path)
    if segments is None:
        _fail("path", f"{path!r} is not a path such as 'signals[*].up_duration'")
    kind = _field_kind(segments)
    if kind is None:
        _fail("path", f"{path!r} names no field of a protocol")
    conditions = {key: table[key] for key in CONDITIONS if key in table}
    if not conditions or set(conditions) == {"edge_samples"}:
        _fail(None, f"rule {name!r} has no condition (one of {', '.join(c for c in CONDITIONS if c != 'edge_samples')})")
    for key, value in conditions.items():
        fits = CONDITIONS[key]
        if fits == "value":
            if kind not in ("number", "text", "flag"):
                _fail(key, f"'one_of' fits numbers, texts and flags, but {path!r} is a {_kind_name(kind)}")
            if not isinstance(value, list) or not value:
                _fail(key, "'one_of' must be a non-empty array")
            for item in value:
                if not {"number": _is_number, "text": lambda v: isinstance(v, str),
                        "flag": lambda v: isinstance(v, bool)}[kind](item):
                    _fail(key, f"'one_of' holds {item!r}, but {path!r} is a {_kind_name(kind)}")
            continue
        if kind != fits:
            _fail(key, f"{key!r} fits {_kind_name(fits)}s, but {path!r} is a {_kind_name(kind)}")
        if key == "required":
            if value is not True:
                _fail(key, "'required' can only be true")
        elif key == "edge_samples":
            if not isinstance(value, int) or isinstance(value, bool) or value < 1:
                _fail(key, "'edge_samples' must be a whole number of at least 1")
        elif not _is_number(value) or isinstance(value, float) and not math.isfinite(value):
            _fail(key, f"{key!r} must be a finite number")
        elif key in ("ends_within", "max_step") and not 0 <= value <= 1:
            _fail(key, f"{key!r} is a fraction of full scale, from 0 to 1")
    if "edge_samples" in conditions and "ends_within" not in conditions:
        _fail("edge_samples", "'edge_samples' goes with 'ends_within'")
    if "min" in conditions and "max" in conditions and conditions["min"] > conditions["max"]:
        _fail("min", "'min' is above 'max'")
    return Rule(name, path, level, message, conditions, source)


def _kind_name(kind: str) -> str:
    return {"samples": "sample list", "list": "list", "record": "record"}.get(kind, kind)


def _depth_line(text: str) -> int:
    """The line where arrays and inline tables first reach their deepest nesting (strings and
    comments skipped, closely enough to place a refusal)."""
    depth = deepest = 0
    line = at = 1
    quote = None
    i = 0
    while i < len(text):
        ch = text[i]
        if ch == "\n":
            line += 1
        elif quote is not None:
            if ch == "\\" and quote == '"':
                i += 1
            elif ch == quote:
                quote = None
        elif ch in "\"'":
            quote = ch
        elif ch == "#":
            end = text.find("\n", i)
            i = len(text) if end < 0 else end
            continue
        elif ch in "[{":
            depth += 1
            if depth > deepest:
                deepest, at = depth, line
        elif ch in "]}":
            depth -= 1
        i += 1
    return at


def parse(text: str, source: str = "<rules>") -> list[Rule]:
    """The rules of a rules file's text; RulesError when it is not valid."""
    try:
        document = tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        match = re.search(r"\(at line (\d+), column \d+\)$", str(error))
        what = str(error)[: match.start()].rstrip() if match else str(error)
        raise RulesError(source, int(match.group(1)) if match else None, f"not TOML: {what}") from None
    except RecursionError:
        raise RulesError(source, _depth_line(text), "not TOML: nested too deeply to read") from None
    except ValueError:  # an integer of more digits than Python converts
        match = re.search(r"[0-9][0-9_]{%d,}" % sys.get_int_max_str_digits(), text)
        line = text.count("\n", 0, match.start()) + 1 if match else None
        raise RulesError(source, line, "not TOML: an integer of too many digits") from None
    headers, lines = _lines(text)
    for key in document:
        if key != "rule":
            raise RulesError(source, _key_line(lines, 1, len(lines), key), f"unknown key {key!r} (only [[rule]] tables)")
    tables = document.get("rule", [])
    if not isinstance(tables, list):
        raise RulesError(source, _key_line(lines, 1, len(lines), "rule"), "'rule' must be [[rule]] tables")
    if not tables:
        # A file truncated by accident, or one of comments only, must not pass every protocol.
        raise RulesError(source, None, "holds no rule")
    rules = []
    for i, table in enumerate(tables):
        start = headers[i] if i < len(headers) else None
        end = headers[i + 1] - 1 if i + 1 < len(headers) else None
        try:
            rules.append(_rule(table, source))
        except _Invalid as invalid:
            line = start if invalid.key is None else _key_line(lines, start, end, invalid.key)
            raise RulesError(source, line, invalid.what) from None
    return rules


def from_bytes(data: bytes, source: str = "<rules>") -> list[Rule]:
    """The rules of a rules file's bytes; RulesError when they are not valid."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise RulesError(source, data.count(b"\n", 0, error.start) + 1, "not UTF-8") from None
    return parse(text, source)


def load(path: str) -> list[Rule]:
    """The rules of a rules file; OSError when it cannot be read, RulesError when not valid."""
    with open(path, "rb") as file:
        return from_bytes(file.read(), path)


# ---- Checking a protocol.

def _matches(value: Any, segments: list[str | int | None], path: str) -> Any:
    """Each (path, value) the pattern matches in a protocol's dict."""
    if not segments:
        yield path, value
        return
    segment, rest = segments[0], segments[1:]
    if isinstance(segment, str):
        if isinstance(value, dict) and segment in value:
            yield from _matches(value[segment], rest, f"{path}.{segment}" if path else segment)
    elif isinstance(value, (list, memoryview)):
        indices = range(len(value)) if segment is None else [segment] if segment < len(value) else []
        for i in indices:
            yield from _matches(value[i], rest, f"{path}[{i}]")


def _text(value: Any) -> str:
    return pyvora._value_text(value)


def _judge(rule: Rule, value: Any) -> list[str]:
    """What breaks the rule in one value; empty when nothing does."""
    c = rule.conditions
    out = []
    if "min" in c and not value >= c["min"]:
        out.append(f"{_text(value)} is below the minimum {_text(c['min'])}")
    if "max" in c and not value <= c["max"]:
        out.append(f"{_text(value)} is above the maximum {_text(c['max'])}")
    if "one_of" in c and not any(type(value) is type(item) and value == item or
                                 _is_number(value) and _is_number(item) and value == item for item in c["one_of"]):
        out.append(f"{_text(value)} is not one of {', '.join(_text(item) for item in c['one_of'])}")
    if "required" in c and value is not True:
        out.append(f"{_text(value)}, but it must be true")
    if "ends_within" in c:
        limit, edge, n = c["ends_within"] * FULL_SCALE, c.get("edge_samples", 1), len(value)
        far = [i for i in (*range(min(edge, n)), *range(max(n - edge, edge), n)) if abs(int(value[i])) > limit]
        if far:
            out.append(f"sample {far[0]} ({_time(far[0])}) is {int(value[far[0]])}, more than "
                       f"{_text(float(c['ends_within']))} of full scale from 0 (the first and last {edge})")
    if "max_step" in c:
        at, step = pyvora._largest_step(value)
        if step > c["max_step"] * FULL_SCALE:
            out.append(f"a step of {step} between samples {at} and {at + 1} ({_time(at)} and {_time(at + 1)}) "
                       f"is more than {_text(float(c['max_step']))} of full scale")
    return out


def _time(index: int) -> str:
    """When a sample is output, in seconds from the session's start."""
    return f"{_text(index / RATE)} s"


def _asks(rule: Rule) -> str:
    """What a rule without a message asks, in words."""
    c = rule.conditions
    parts = []
    if "min" in c:
        parts.append(f"must be at least {_text(c['min'])}")
    if "max" in c:
        parts.append(f"must be at most {_text(c['max'])}")
    if "one_of" in c:
        parts.append(f"must be one of {', '.join(_text(item) for item in c['one_of'])}")
    if "required" in c:
        parts.append("must be true")
    if "ends_within" in c:
        parts.append(f"must start and end within {_text(float(c['ends_within']))} of full scale")
    if "max_step" in c:
        parts.append(f"must step by at most {_text(float(c['max_step']))} of full scale")
    return " and ".join(parts)


def check(protocol: Protocol, rules: list[Rule]) -> list[Finding]:
    """The findings of the rules for a protocol, in the rules' order and the fields' order."""
    if not rules:
        return []
    sources: dict[str, set[str]] = {}
    for rule in rules:
        sources.setdefault(rule.name, set()).add(rule.source)
    data = protocol._to_dict_buffers()  # sample lists as memoryviews: no NumPy to import
    findings = []
    for rule in rules:
        segments = _segments(rule.path)
        assert segments is not None  # checked when the rule was read
        source = rule.source if len(sources[rule.name]) > 1 else None
        for path, value in _matches(data, segments, ""):
            for detail in _judge(rule, value):
                findings.append(Finding(rule.name, rule.level, path, rule.message or _asks(rule), detail, source))
    return findings


class Review:
    """A protocol with the findings of a lab's rules, shown in a notebook as the protocol's
    summary (Protocol._repr_html_) with each finding marked in the rows it concerns and listed
    under the problems; ``findings`` are rules.check()'s."""

    def __init__(self, protocol: Protocol, findings: list[Finding]) -> None:
        self.protocol, self.findings = protocol, findings

    def _repr_html_(self) -> str:
        return self.protocol._summary_html([(f.path, str(f), f.level != "error") for f in self.findings])


def review(protocol: Protocol, rules: list[Rule]) -> Review:
    """Check a protocol against a lab's rules for a notebook: the returned Review shows as the
    protocol's summary with the findings marked where they apply (and has them as .findings)."""
    return Review(protocol, check(protocol, rules))
