"""Constant, sine, ramp and mixed signals: positions, stored values, unchecked values, refusals.

What a protocol holds is read back two ways: from its text form and from its saved file.
"""

import math
import re
import struct

import pytest

from helpers import varint, zigzag16
from pyvora import Protocol

NaN = float("nan")
INF = float("inf")
KINDS = ("Constant", "Sine", "Ramp", "MixedSignal", "Arbitrary")
FIELDS = {
    "Constant": ("value",),
    "Sine": ("amplitude", "frequency", "phase", "depth"),
    "Ramp": ("peak", "up_duration", "down_duration"),
    "MixedSignal": ("a_idx", "b_idx"),
    "Arbitrary": ("samples",),
}


def _leaf(text):
    return int(text) if re.fullmatch(r"-?\d+", text) else float(text)


def stored_signals(protocol):
    """The signal table as [(kind, {field: value})], parsed from the text form."""
    lines = iter(str(protocol).splitlines())
    for line in lines:
        if line.strip() == "signals: [":
            break
    else:
        if "signals: []," in str(protocol):
            return []
        raise AssertionError("no signal table in the text form")
    table = []
    for line in lines:
        text = line.strip()
        if text == "],":
            return table
        if text.endswith("(") and text[:-1] in KINDS:
            table.append((text[:-1], {}))
        elif text == "samples: [":
            samples = table[-1][1]["samples"] = []
            for item in lines:
                if item.strip() == "],":
                    break
                samples.append(int(item.strip().rstrip(",")))
        elif text == "samples: [],":
            table[-1][1]["samples"] = []
        elif ": " in text:
            name, _, value = text.rstrip(",").partition(": ")
            table[-1][1][name] = _leaf(value)
    raise AssertionError("unterminated signal table")


def encoded_table(table):
    """The file bytes of a signal table given as [(kind, {field: value})]."""
    out = bytearray(varint(len(table)))
    for kind, fields in table:
        out += varint(KINDS.index(kind))
        for name in FIELDS[kind]:
            value = fields[name]
            if kind == "MixedSignal":
                out += varint(value)
            elif kind == "Arbitrary":
                out += varint(len(value))
                for sample in value:
                    out += zigzag16(sample)
            else:
                out += struct.pack("<d", value)
    return bytes(out)


def saved_table_follows_duration(protocol, tmp_path, table, intensity=0.0, duration=60.0):
    """True when the saved file holds intensity, duration and then exactly this signal table."""
    path = tmp_path / "signals.vora"
    protocol.save(str(path))
    data = path.read_bytes()
    return struct.pack("<dd", intensity, duration) + encoded_table(table) in data


def same(a, b):
    """Equal values; floats bit for bit apart from NaN payloads."""
    if isinstance(a, float) and isinstance(b, float):
        return (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))
    return a == b and type(a) is type(b)


def assert_stored(protocol, expected):
    got = stored_signals(protocol)
    assert [kind for kind, _ in got] == [kind for kind, _ in expected]
    for (_, fields), (_, want) in zip(got, expected):
        assert fields.keys() == want.keys()
        for name in want:
            assert same(fields[name], want[name]), (name, fields[name], want[name])


def test_positions_count_up_whatever_the_kinds(fresh, tmp_path):
    assert fresh.add_constant_signal(0.5) == 0
    assert fresh.add_sine_signal(1.0, 10.0) == 1
    assert fresh.add_ramp_signal(1.0, 0.5, 0.5) == 2
    assert fresh.add_mixed_signal(0, 2) == 3
    assert fresh.add_constant_signal(0.25) == 4
    expected = [
        ("Constant", {"value": 0.5}),
        ("Sine", {"amplitude": 1.0, "frequency": 10.0, "phase": 0.0, "depth": 1.0}),
        ("Ramp", {"peak": 1.0, "up_duration": 0.5, "down_duration": 0.5}),
        ("MixedSignal", {"a_idx": 0, "b_idx": 2}),
        ("Constant", {"value": 0.25}),
    ]
    assert_stored(fresh, expected)
    assert saved_table_follows_duration(fresh, tmp_path, expected)
    assert all(isinstance(fresh.add_constant_signal(0.0), int) for _ in range(3))


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda p: p.add_sine_signal(1.0, 10.0), (1.0, 10.0, 0.0, 1.0)),
        (lambda p: p.add_sine_signal(1.0, 10.0, 0.25), (1.0, 10.0, 0.25, 1.0)),
        (lambda p: p.add_sine_signal(1.0, 10.0, depth=0.5), (1.0, 10.0, 0.0, 0.5)),
        (lambda p: p.add_sine_signal(depth=0.5, phase=2.0, frequency=3.0, amplitude=4.0), (4.0, 3.0, 2.0, 0.5)),
        (lambda p: p.add_sine_signal(2, True, 3, 0), (2.0, 1.0, 3.0, 0.0)),
    ],
    ids=["defaults", "phase-only", "depth-only", "keywords", "ints-and-bool"],
)
def test_sine_fields_and_defaults(fresh, tmp_path, call, expected):
    assert call(fresh) == 0
    table = [("Sine", dict(zip(FIELDS["Sine"], expected)))]
    assert_stored(fresh, table)
    assert saved_table_follows_duration(fresh, tmp_path, table)


@pytest.mark.parametrize(
    "call, kind, values",
    [
        (lambda p: p.add_constant_signal(NaN), "Constant", (NaN,)),
        (lambda p: p.add_constant_signal(-0.0), "Constant", (-0.0,)),
        (lambda p: p.add_constant_signal(-INF), "Constant", (-INF,)),
        (lambda p: p.add_sine_signal(-1, INF, NaN, -0.0), "Sine", (-1.0, INF, NaN, -0.0)),
        (lambda p: p.add_ramp_signal(-1, -2, -3), "Ramp", (-1.0, -2.0, -3.0)),
        (lambda p: p.add_ramp_signal(0.0, NaN, 1e300), "Ramp", (0.0, NaN, 1e300)),
        (lambda p: p.add_mixed_signal(7, 9), "MixedSignal", (7, 9)),
        (lambda p: p.add_mixed_signal(0, 0), "MixedSignal", (0, 0)),  # its own position
        (lambda p: p.add_mixed_signal(2**64 - 1, 1), "MixedSignal", (2**64 - 1, 1)),
    ],
)
def test_values_are_stored_unchecked(fresh, tmp_path, call, kind, values):
    assert call(fresh) == 0
    table = [(kind, dict(zip(FIELDS[kind], values)))]
    assert_stored(fresh, table)
    assert saved_table_follows_duration(fresh, tmp_path, table)


def test_mixed_positions_past_the_end_and_later_signals(fresh):
    fresh.add_constant_signal(0.0)
    fresh.add_constant_signal(1.0)
    assert fresh.add_mixed_signal(7, 9) == 2
    assert fresh.add_mixed_signal(3, 4) == 3  # itself and a signal added later
    assert fresh.add_constant_signal(0.5) == 4
    mixed = [fields for kind, fields in stored_signals(fresh) if kind == "MixedSignal"]
    assert mixed == [{"a_idx": 7, "b_idx": 9}, {"a_idx": 3, "b_idx": 4}]


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda p: p.add_sine_signal(1.0, 2.0, None), TypeError, "argument 'phase': "),
        (lambda p: p.add_sine_signal(1.0, 2.0, depth=None), TypeError, "argument 'depth': "),
        (lambda p: p.add_constant_signal("0.5"), TypeError, "argument 'value': "),
        (lambda p: p.add_ramp_signal(1.0, 2.0, [3.0]), TypeError, "argument 'down_duration': "),
        (lambda p: p.add_mixed_signal(1.5, 0), TypeError, "argument 'a_idx': "),
        (lambda p: p.add_mixed_signal(0, "1"), TypeError, "argument 'b_idx': "),
        (lambda p: p.add_mixed_signal(-1, 0), OverflowError, ""),
        (lambda p: p.add_mixed_signal(0, 2**64), OverflowError, ""),
        (lambda p: p.add_constant_signal(10**400), OverflowError, ""),
    ],
)
def test_refused_arguments_leave_the_table_alone(fresh, call, error, message):
    fresh.add_constant_signal(0.5)
    before = str(fresh)
    with pytest.raises(error) as caught:
        call(fresh)
    assert str(caught.value).startswith(message)
    if error is OverflowError:
        assert "argument" not in str(caught.value)
    assert str(fresh) == before
    assert fresh.add_constant_signal(0.0) == 1


def test_signals_survive_duration_changes(fresh):
    fresh.add_sine_signal(1.0, 10.0)
    fresh.set_session_duration(0.01)
    fresh.set_session_duration(1800.0)
    assert stored_signals(fresh) == [("Sine", {"amplitude": 1.0, "frequency": 10.0, "phase": 0.0, "depth": 1.0})]
