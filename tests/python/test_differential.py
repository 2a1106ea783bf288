"""Differential test: the real `pyvora.Protocol` against the pure-Python model of model.py.

A Hypothesis state machine sends the same random call sequence to both: every method with
valid and refused arguments (special floats, NaN payloads, huge and negative integers, objects
with conversion hooks, wrong types, NumPy arrays of every layout, good and bad file names),
binding errors, re-entrant calls from conversion hooks, and new protocols under different
values of VORA_TARGET_MACHINE. After each step it compares the outcome (the returned value, or
the exception's type name and message), str(protocol), get_num_samples() and, whenever that
does not change the protocol, the bytes of a saved file.

The default run is short enough for the ordinary test command. A longer run:

    PYVORA_DIFFERENTIAL_EXAMPLES=2000 python -m pytest -q tests/python/test_differential.py

(PYVORA_DIFFERENTIAL_STEPS sets the calls per example, 30 by default.) The run is derandomized
and keeps no example database, so the same command reproduces a failure; Hypothesis prints the
failing call sequence.
"""

from __future__ import annotations

import contextlib
import math
import os
import pathlib
import shutil
import socket
import struct
import tempfile
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

import model
from helpers import DEFAULT_FILE, float_of_bits
import pyvora
from pyvora import Channel, Coil

EXAMPLES = int(os.environ.get("PYVORA_DIFFERENTIAL_EXAMPLES", "100"))
STEPS = int(os.environ.get("PYVORA_DIFFERENTIAL_STEPS", "30"))
# Arbitrary signals of the right length are built only up to this sample count (a 1800 s
# session would need 9000000 samples on both sides at every try).
MAX_ARRAY = 12000


# ---------------------------------------------------------------------------------------------
# Outcomes


def outcome(call):
    """What a call did: ("return", type name, value key) or ("raise", type name, message)."""
    try:
        value = call()
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # the panic exception derives from BaseException only
        cause = error.__cause__
        return ("raise", type(error).__name__, str(error),
                None if cause is None else (type(cause).__name__, str(cause)))
    if isinstance(value, float):
        value = struct.pack("<d", value).hex()  # bit for bit, NaN and -0.0 included
    return ("return", type(value).__name__, value)


# ---------------------------------------------------------------------------------------------
# Argument objects


class FloatLike:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    def __repr__(self):
        return f"FloatLike({self.value!r})"


class IndexLike:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"IndexLike({self.value!r})"


class FloatAndIndex:
    """__float__ wins for floats, __index__ for indices."""

    def __float__(self):
        return 0.25

    def __index__(self):
        return 3

    def __repr__(self):
        return "FloatAndIndex()"


class Raising:
    """Conversion hooks that raise: a TypeError is reported with the parameter's name, any
    other exception unchanged."""

    def __init__(self, kind, cause=None):
        self.kind, self.cause = kind, cause

    def _raise(self):
        if self.cause is None:
            raise self.kind("hook refused")
        raise self.kind("hook refused") from self.cause("underlying")

    def __float__(self):
        self._raise()

    def __index__(self):
        self._raise()

    def __repr__(self):
        cause = "" if self.cause is None else f", {self.cause.__name__}"
        return f"Raising({self.kind.__name__}{cause})"


class WrongResult:
    """Hooks that return the wrong type."""

    def __float__(self):
        return 1

    def __index__(self):
        return 1.5

    def __repr__(self):
        return "WrongResult()"


class HeldFloat(float):
    """A float subclass is taken by the value it holds, not by its __float__."""

    def __float__(self):
        return 0.75


class SmallInt(int):
    pass


class OddInt(int):
    """An int subclass: its own __float__ counts for floats, its value (not __index__) for
    indices."""

    def __float__(self):
        return 0.125

    def __index__(self):
        return 99


class HookTypeError(TypeError):
    pass


raising = st.builds(Raising, st.sampled_from([TypeError, ValueError, OverflowError, HookTypeError]),
                    st.sampled_from([None, None, ValueError, KeyError]))


class PathText(str):
    """A str subclass is taken by its text, whatever its __str__ says."""

    def __str__(self):
        return "/nonexistent/elsewhere.txt"


class SampleArray(np.ndarray):
    pass


class Reentrant:
    """Stands for an argument whose conversion hook calls back into the protocol being called.
    Each side gets its own hooked object (bind), which records what the inner call did."""

    def __init__(self, inner, swallow):
        self.inner, self.swallow = inner, swallow

    def __repr__(self):
        return f"Reentrant({self.inner!r}, swallow={self.swallow})"

    def bind(self, target):
        return Hooked(self.inner, self.swallow, target)


class Hooked:
    def __init__(self, inner, swallow, target):
        self.inner, self.swallow, self.target = inner, swallow, target
        self.seen = []

    def _call(self):
        target = self.target
        name, args = self.inner
        if name == "str":
            call = lambda: str(target)  # noqa: E731
        elif isinstance(target, model.Protocol):
            call = lambda: target.call(name, args)  # noqa: E731
        else:
            call = lambda: getattr(target, name)(*args)  # noqa: E731
        if self.swallow:
            self.seen.append(outcome(call))
        else:
            self.seen.append(("called",))
            call()

    def __float__(self):
        self._call()
        return 0.5

    def __index__(self):
        self._call()
        return 1


# ---------------------------------------------------------------------------------------------
# Strategies

special_floats = st.sampled_from([
    0.0, -0.0, 1.0, -1.0, 0.5, 0.01, 0.07, 1.00001, 0.0123, 0.0099, 1800.0, 1800.0001, 60.0,
    1.0000001, -0.1, 1e16, 9999999999999998.0, 1.5e16, 1e15, 0.0001, 0.00009999,
    math.nextafter(0.0001, 0.0), 5e-5, 2.5e-7, 5e-324, -5e-324, 2.2250738585072014e-308,
    1.7976931348623157e308, -1.7976931348623157e308, math.inf, -math.inf, math.nan, 0.1 + 0.2,
    2.0**50 + 0.25, -(2.0**49 + 0.75), 2.0**46 + 0.125, 123456.789e300,
])
nan_payloads = st.builds(
    lambda sign, quiet, payload: float_of_bits(sign << 63 | 0x7FF << 52 | quiet << 51 | payload),
    st.integers(0, 1), st.integers(0, 1), st.integers(1, 2**51 - 1))
# Values halfway between two equally short digit strings (the text takes the larger one): odd
# multiples of 2**-f within the binade 2**b, for the pairs (b, f) where such ties occur.
TIE_BANDS = [(-25, 25), (-21, 23), (-17, 22), (-14, 21), (-10, 20), (-7, 19), (-3, 18), (0, 17),
             (3, 16), (7, 15), (10, 14), (13, 13), (17, 12), (20, 11), (24, 10), (27, 9),
             (30, 8), (34, 7), (37, 6), (40, 5), (44, 4), (47, 3), (49, 2), (50, 2)]
tie_floats = st.builds(
    lambda band, position, sign: sign * math.ldexp(
        2 ** (band[0] + band[1]) + (position % 2 ** (band[0] + band[1])) | 1, -band[1]),
    st.sampled_from(TIE_BANDS), st.integers(0, 2**52), st.sampled_from([1.0, -1.0]))
# deferred: Hypothesis' reports show these short names instead of the strategies' long reprs
_raw_floats = st.one_of(st.floats(), special_floats, nan_payloads, tie_floats,
                        st.floats(min_value=0.0, max_value=1.0))
raw_floats = st.deferred(lambda: _raw_floats)

odd_numbers = st.one_of(
    st.integers(-5, 5), st.sampled_from([2**53 + 1, 10**400, -(10**400), True, False]),
    st.builds(FloatLike, raw_floats), st.builds(IndexLike, st.integers(-3, 2**64)),
    st.just(FloatAndIndex()), raising, st.builds(OddInt, st.integers(0, 9)),
    st.just(WrongResult()), st.builds(HeldFloat, raw_floats),
    st.builds(SmallInt, st.integers(0, 9)),
    st.sampled_from([np.float64(0.25), np.float32(0.1), np.int64(7), np.uint64(2**64 - 1),
                     np.int8(-1), np.True_, np.array(0.5), Fraction(1, 3), Decimal("0.1"),
                     Decimal("sNaN"), Decimal("NaN")]),
)
wrong_types = st.sampled_from(["0.5", "", None, b"1", [1.0], (0.5,), 1j, {}, object(),
                               Coil.A1, Channel.B, pathlib.Path("a.vora")])
_float_args = st.one_of(raw_floats, raw_floats, raw_floats, odd_numbers, wrong_types)
float_args = st.deferred(lambda: _float_args)

durations = st.one_of(
    st.floats(0.01, 0.1), st.floats(0.01, 0.1), st.floats(0.01, 0.1), st.floats(0.01, 0.1),
    st.sampled_from([0.01, 0.07, 0.0123, 1.00001, 0.1, 1.0, 2.0, 1, True, 1800.0, 60.0]),
    st.floats(0.01, 1800.0), float_args)

indices = st.one_of(
    st.integers(0, 10),
    st.sampled_from([0, 1, 127, 128, 16383, 16384, 2**32, 2**63 - 1, 2**63, 2**64 - 1, 2**64,
                     2**100, -1, -(2**63), -(2**64), True, False]),
    st.integers(0, 2**64 - 1), st.integers(-(2**70), 2**70),
    st.builds(IndexLike, st.sampled_from([0, 5, 2**64 - 1, 2**64, -1])),
    st.just(FloatAndIndex()), raising, st.builds(OddInt, st.integers(0, 9)),
    st.just(WrongResult()), st.builds(SmallInt, st.integers(0, 9)),
    st.sampled_from([np.int64(7), np.uint64(2**64 - 1), np.int8(-1), np.True_, 1.5, 0.0,
                     np.float64(2.0), "1", None, Coil.B2]),
)
flags = st.sampled_from([True, False, True, False, True, False, np.True_, np.False_, 0, 1, None,
                         "True", 1.0,
                         IndexLike(1), Coil.A1, np.int64(1), np.array(True)])
coils = st.sampled_from([Coil.A1, Coil.A2, Coil.B1, Coil.B2, Coil.A1, Coil.B2, Channel.A, 0, 3,
                         None, "A1", IndexLike(0)])
channels = st.sampled_from([Channel.A, Channel.B, Channel.A, Channel.B, Channel.A, Channel.B,
                            Coil.A1, 0, 1, None,
                            "B", True])

OMIT = object()


@st.composite
def calls(draw, name, strategies):
    """Arguments for a method: optional ones sometimes omitted, a random tail by keyword."""
    method = model.METHODS[name]
    values = []
    for param in method.params:
        if param in method.defaults and draw(st.booleans()):
            values.append(OMIT)
        else:
            values.append(draw(strategies[param]))
    first_omitted = next((i for i, v in enumerate(values) if v is OMIT), len(values))
    positional = draw(st.integers(0, first_omitted))
    args = tuple(values[:positional])
    kwargs = {p: v for p, v in zip(method.params[positional:], values[positional:])
              if v is not OMIT}
    return name, args, kwargs


# NumPy argument for add_arbitrary_signal, built once the sample count is known.
LAYOUTS = ["contiguous"] * 6 + ["strided", "reversed", "unaligned", "field", "subclass", "readonly",
                                "float32", "int64", "byteswapped", "row", "column", "zero-d",
                                "list", "scalar", "object", "none", "subclass-2d"]
FILLS = ["zeros", "ones", "uniform", "uniform", "halves", "grid", "linspace"]
BAD_SAMPLES = [math.nextafter(1.0, 2.0), math.nextafter(0.0, -1.0), -0.0, 1.5, -1.0, math.inf,
               -math.inf, math.nan, float_of_bits(0xFFF8000000000001), float_of_bits(0x7FF0000000000001),
               2.0, -5e-324, 1.0, 0.0, 5e-324]

GOOD_SAMPLES = [0.0, -0.0, 1.0, 5e-324, 0.5, math.nextafter(1.0, 0.0), 0.5 / 32767.0,
                1.5 / 32767.0, 32766.5 / 32767.0]
GOOD_LAYOUTS = ["contiguous", "strided", "reversed", "unaligned", "field", "subclass", "readonly"]

offender_pair = st.builds(
    lambda where, gap, first, second: [(where, first), (where + gap, second)],
    st.floats(0.0, 0.9), st.sampled_from([1e-9, 0.003, 0.01, 0.02]),
    st.sampled_from(BAD_SAMPLES), st.sampled_from(BAD_SAMPLES))
any_array = st.tuples(
    st.sampled_from([0] * 8 + [-1, 1, "small"]),  # length: N, N - 1, N + 1, or tiny
    st.sampled_from(LAYOUTS), st.sampled_from(FILLS),
    st.one_of(st.lists(st.tuples(st.floats(0.0, 1.0, exclude_max=True),
                                 st.sampled_from(BAD_SAMPLES)), max_size=3), offender_pair),
    st.integers(0, 2**32 - 1))
good_array = st.tuples(
    st.just(0), st.sampled_from(GOOD_LAYOUTS), st.sampled_from(FILLS + ["halves"] * 3),
    st.lists(st.tuples(st.floats(0.0, 1.0, exclude_max=True), st.sampled_from(GOOD_SAMPLES)),
             max_size=3),
    st.integers(0, 2**32 - 1))


def build_array(array_plan, n):
    delta, layout, fill, specials, seed = array_plan
    if delta == "small" or n > MAX_ARRAY:
        length = seed % 4  # always refused, cheap at any sample count
    else:
        length = max(n + delta, 0)
    rng = np.random.default_rng(seed)
    values = {
        "zeros": lambda: np.zeros(length),
        "ones": lambda: np.ones(length),
        "uniform": lambda: rng.random(length),
        "halves": lambda: (np.floor(rng.random(length) * 32766.0) + 0.5) / 32767.0,
        "grid": lambda: np.floor(rng.random(length) * 32768.0) / 32767.0,
        "linspace": lambda: np.linspace(0.0, 1.0, length),
    }[fill]()
    for where, value in specials:
        if length:
            values[min(int(where * length), length - 1)] = value
    if layout == "contiguous":
        return values
    if layout == "strided":
        base = np.full(2 * length + 1, 7.0)
        view = base[1::2][:length]
        view[:] = values
        return view
    if layout == "reversed":
        return values[::-1].copy()[::-1]
    if layout == "unaligned":
        raw = b"\0" + values.astype("<f8").tobytes()
        return np.frombuffer(raw, dtype="<f8", offset=1)  # also read-only
    if layout == "field":  # a field of a packed record array: stride 9, unaligned
        records = np.zeros(length, dtype=[("tag", "u1"), ("value", "<f8")])
        records["value"] = values
        return records["value"]
    if layout == "subclass":
        return values.view(SampleArray)
    if layout == "readonly":
        values.flags.writeable = False
        return values
    if layout == "float32":
        return values.astype(np.float32)
    if layout == "int64":
        return np.zeros(length, dtype=np.int64)
    if layout == "byteswapped":
        return values.astype(">f8")
    if layout == "row":
        return values.reshape(1, length)
    if layout == "column":
        return values.reshape(length, 1)
    if layout == "zero-d":
        return np.array(values[0] if length else 0.5)
    if layout == "list":
        return values.tolist()
    if layout == "scalar":
        return np.float64(0.5)
    if layout == "object":
        return values.astype(object)
    if layout == "subclass-2d":
        return values.reshape(1, length).view(SampleArray)
    return None


# File names relative to a scratch directory that the real module and the model each have a copy
# of; the names that fail the name check are sometimes given without the directory.
FILE_NAMES = ["a.vora", "b.vora", ".vora", "long.vora", "dir.vora", "missing/x.vora", "é.vora",
              "loop.vora", "full.vora", "sock.vora", "long.vora/x.vora",
              "nul\0.vora", "x" * 300 + ".vora", "a.vora/b.vora", "x.VORA", "x.vora.bak", "",
              "vora", "a.vor", ".vor", "\udc80.vora", "tab\t.vora"]
save_args = st.one_of(
    st.tuples(st.sampled_from(FILE_NAMES), st.sampled_from(["root", "root", "bare", "sub"])),
    st.sampled_from([b"a.vora", pathlib.Path("a.vora"), None, 1, ["a.vora"]]))


@contextlib.contextmanager
def target_machine(value):
    """Runs with VORA_TARGET_MACHINE unset (None) or set to the given bytes."""
    old = os.environb.get(b"VORA_TARGET_MACHINE")
    if value is None:
        os.environb.pop(b"VORA_TARGET_MACHINE", None)
    else:
        os.environb[b"VORA_TARGET_MACHINE"] = value
    try:
        yield
    finally:
        if old is None:
            os.environb.pop(b"VORA_TARGET_MACHINE", None)
        else:
            os.environb[b"VORA_TARGET_MACHINE"] = old


# ---------------------------------------------------------------------------------------------
# The state machine


class DifferentialMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.scratch = tempfile.mkdtemp(prefix="pyvora-differential-")
        self.roots = {}
        for side in ("real", "model"):
            root = os.path.join(self.scratch, side[0])  # same length: messages hold positions
            os.makedirs(os.path.join(root, "dir.vora"))
            pathlib.Path(root, "long.vora").write_bytes(b"\xaa" * 5000)
            os.symlink("loop.vora", os.path.join(root, "loop.vora"))  # ELOOP
            os.symlink("/dev/full", os.path.join(root, "full.vora"))  # the write fails: ENOSPC
            with socket.socket(socket.AF_UNIX) as sock:  # open() gives ENXIO, an unnamed kind
                sock.bind(os.path.join(root, "sock.vora"))
            self.roots[side] = root
        with target_machine(None):
            self.real = pyvora.Protocol()
            self.model = model.Protocol()

    def teardown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    # running one call on both sides ---------------------------------------------------------

    def both(self, name, args=(), kwargs=None):
        kwargs = kwargs or {}
        real_args, real_hooks = self._materialise(args, kwargs, self.real)
        model_args, model_hooks = self._materialise(args, kwargs, self.model)
        got = outcome(lambda: getattr(self.real, name)(*real_args[0], **real_args[1]))
        want = outcome(lambda: self.model.call(name, *model_args))
        assert got == want, f"{name}{args!r} {kwargs!r}"
        event(f"{name}: {got[1] if got[0] == 'raise' else 'returned'}")
        assert [h.seen for h in real_hooks] == [h.seen for h in model_hooks], name
        return got

    @staticmethod
    def _materialise(args, kwargs, target):
        hooks = []

        def one(value):
            if isinstance(value, Reentrant):
                hooks.append(value.bind(target))
                return hooks[-1]
            return value

        return (tuple(one(a) for a in args), {k: one(v) for k, v in kwargs.items()}), hooks

    # rules ------------------------------------------------------------------------------------

    @initialize(env=st.sampled_from([None] * 6 + [b"", b"1", b"\xff\xfe"]),
                args=st.sampled_from([(), (), (), ((1,), {}), ((), {"x": 1}),
                                      ((1, 2), {"y": 0})]),
                duration=st.one_of(st.none(), st.floats(0.01, 0.1), st.floats(0.01, 0.1),
                                   st.floats(0.01, 0.1), st.floats(0.01, 0.1)))
    def new_protocol(self, env, args, duration):
        """Most examples run with a short session, so that arbitrary signals stay small."""
        with target_machine(env):
            if args:
                got = outcome(lambda: pyvora.Protocol(*args[0], **args[1]))
                assert got == outcome(lambda: model.Protocol(*args[0], **args[1]))
            self.real = pyvora.Protocol()
            self.model = model.Protocol()
        if duration is not None:
            self.both("set_session_duration", (duration,))

    @rule(call=calls("set_stimulation_intensity", {"intensity": float_args}))
    def set_stimulation_intensity(self, call):
        self.both(*call)

    @rule(call=calls("set_session_duration", {"duration": durations}))
    def set_session_duration(self, call):
        self.both(*call)

    @rule(call=calls("enable_channel", {"channel": channels}))
    def enable_channel(self, call):
        self.both(*call)

    @rule(call=calls("set_amplitude_source", {"coil": coils, "index": indices, "external": flags}))
    def set_amplitude_source(self, call):
        self.both(*call)

    @rule(call=calls("set_modulation_source",
                     {"channel": channels, "index": indices, "external": flags}))
    def set_modulation_source(self, call):
        self.both(*call)

    @rule(call=calls("add_constant_signal", {"value": float_args}))
    def add_constant_signal(self, call):
        self.both(*call)

    @rule(call=calls("add_sine_signal", {"amplitude": float_args, "frequency": float_args,
                                         "phase": float_args, "depth": float_args}))
    def add_sine_signal(self, call):
        self.both(*call)

    @rule(call=calls("add_ramp_signal", {"peak": float_args, "up_duration": float_args,
                                         "down_duration": float_args}))
    def add_ramp_signal(self, call):
        self.both(*call)

    @rule(call=calls("add_mixed_signal", {"a_idx": indices, "b_idx": indices}))
    def add_mixed_signal(self, call):
        self.both(*call)

    @rule(count=st.integers(100, 140), value=raw_floats)
    def add_many_signals(self, count, value):
        """Tables of 128 signals and more take a two-byte count in the file."""
        for _ in range(count):
            self.both("add_constant_signal", (value,))

    @rule(array_plan=any_array, by_keyword=st.booleans())
    def add_arbitrary_signal(self, array_plan, by_keyword):
        array = build_array(array_plan, self.model.num_samples())
        if by_keyword:
            self.both("add_arbitrary_signal", (), {"samples": array})
        else:
            self.both("add_arbitrary_signal", (array,))

    @rule(array_plan=good_array)
    def add_admissible_arbitrary_signal(self, array_plan):
        """Arrays of the right length and range, so that quantisation is compared too."""
        self.both("add_arbitrary_signal", (build_array(array_plan, self.model.num_samples()),))

    @rule(name=st.sampled_from(["get_num_samples", "get_sampling_rate"]),
          extra=st.sampled_from([(), (), ((1,), {}), ((), {"x": 1})]))
    def getters(self, name, extra):
        self.both(name, *extra) if extra else self.both(name)

    @rule(where=save_args, by_keyword=st.booleans())
    def save(self, where, by_keyword):
        target = where
        if isinstance(target, tuple):
            name, place = target
            if place == "bare" and not name.endswith(".vora"):
                paths = {"real": name, "model": name}  # refused before any file is touched
            elif place == "sub":
                paths = {side: PathText(os.path.join(root, name))
                         for side, root in self.roots.items()}
            else:
                paths = {side: os.path.join(root, name) for side, root in self.roots.items()}
        else:
            paths = {"real": target, "model": target}
        kwargs = {"filepath": paths["real"]} if by_keyword else {}
        args = () if by_keyword else (paths["real"],)
        got = outcome(lambda: self.real.save(*args, **kwargs))
        kwargs = {"filepath": paths["model"]} if by_keyword else {}
        args = () if by_keyword else (paths["model"],)
        want = outcome(lambda: self.model.call("save", args, kwargs))
        assert got == want, f"save({target!r})"
        event(f"save: {got[2][:60] if got[0] == 'raise' else 'returned'}")
        if got[0] == "return":  # str.__str__: the text itself, not a subclass's __str__
            real_bytes = pathlib.Path(str.__str__(paths["real"])).read_bytes()
            assert real_bytes == pathlib.Path(str.__str__(paths["model"])).read_bytes()
            assert real_bytes == self.model.encode()

    @rule(name=st.sampled_from(sorted(model.METHODS)),
          args=st.lists(st.sampled_from([0.5, 1, True, Coil.A1, Channel.B, "nope.txt", None]),
                        max_size=5),
          keywords=st.lists(st.sampled_from(["value", "index", "external", "coil", "channel",
                                             "samples", "filepath", "phase", "amplitude",
                                             "a_idx", "b_idx", "duration", "x", "self"]),
                            max_size=3, unique=True))
    def any_binding(self, name, args, keywords):
        self.both(name, tuple(args), {k: 0.25 for k in keywords})

    @rule(name=st.sampled_from(["set_session_duration", "set_stimulation_intensity",
                                "add_constant_signal", "add_mixed_signal", "set_amplitude_source",
                                "add_sine_signal"]),
          inner=st.sampled_from([("get_num_samples", ()), ("get_sampling_rate", ()), ("str", ()),
                                 ("add_constant_signal", (0.5,)),
                                 ("save", ())]),  # binding fails before access is asked for
          swallow=st.booleans())
    def reentrant(self, name, inner, swallow):
        hooked = Reentrant(inner, swallow)
        args = {"set_amplitude_source": (Coil.A2, hooked), "add_mixed_signal": (0, hooked),
                "add_sine_signal": (1.0, 2.0, hooked)}.get(name, (hooked,))
        self.both(name, args)

    # comparison after every step ------------------------------------------------------------

    @invariant()
    def same_text(self):
        assert str(self.real) == str(self.model)

    @invariant()
    def same_sample_count(self):
        self.both("get_num_samples")

    @invariant()
    def same_file(self):
        if not self.model.settings.signals:
            return  # saving would add the default signal; the save rule covers that case
        path = os.path.join(self.roots["real"], "check.vora")
        self.real.save(path)
        assert pathlib.Path(path).read_bytes() == self.model.encode()


DifferentialMachine.TestCase.settings = settings(
    max_examples=EXAMPLES, stateful_step_count=STEPS, deadline=None, derandomize=True,
    database=None, print_blob=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                           HealthCheck.filter_too_much])
TestDifferential = DifferentialMachine.TestCase


# ---------------------------------------------------------------------------------------------
# The model against the worked examples it is built from

def test_model_default_file_and_text(monkeypatch):
    monkeypatch.delenv("VORA_TARGET_MACHINE", raising=False)
    protocol = model.Protocol()
    text = str(protocol)
    assert len(text.split("\n")) == 104 and text.endswith("\n}")
    assert "        signals: [],\n" in text
    protocol.settings.signals = [model.ConstantSignalParams(0.0)]
    assert protocol.encode() == DEFAULT_FILE
    monkeypatch.setenv("VORA_TARGET_MACHINE", "")
    assert model.Protocol().settings.running_on_target_machine


@pytest.mark.parametrize("value, text", [
    (80.0, "80.0"), (-0.0, "-0.0"), (1e16, "1e16"), (9999999999999998.0, "9999999999999998.0"),
    (0.0001, "0.0001"), (0.00009999, "9.999e-5"), (math.nan, "NaN"), (-math.inf, "-inf"),
    (1e15, "1000000000000000.0"), (0.1 + 0.2, "0.30000000000000004"), (1.5e16, "1.5e16"),
    (5e-5, "5e-5"), (2.5e-7, "2.5e-7"), (5e-324, "5e-324"),
    (1.7976931348623157e308, "1.7976931348623157e308"), (22.624434389140273, "22.624434389140273"),
    (2.0**50 + 0.25, "1125899906842624.3"),  # an exact tie between ...2 and ...3
])
def test_model_float_text(value, text):
    assert model.render_float(value) == text


def test_model_tuning_and_numbers():
    coil = model.tune_coil("x", [100.0, 220.0, 330.0, 470.0], 150.0, 0.1, 40.0)
    assert [(e.capacitance, e.carrier_frequency, e.clk_ticks_per_sample, e.capacitor_bank_setting)
            for e in coil.settings] == [(470.0, 18.93939393939394, 264, 4),
                                        (330.0, 22.624434389140273, 221, 3),
                                        (220.0, 27.77777777777778, 180, 2)]
    assert [model.varint(v).hex() for v in (127, 128, 2**64 - 1)] == [
        "7f", "8001", "ffffffffffffffffff01"]
    assert [model.zigzag16(v).hex() for v in (-1, 32767, -32768)] == ["01", "feff03", "ffff03"]
    assert [model.quantise(s) for s in (0.0, 0.5, 1.0, 0.1)] == [0, 16384, 32767, 3277]


@settings(max_examples=300, deadline=None, derandomize=True, database=None)
@given(st.one_of(st.floats(min_value=0.0, exclude_min=True, allow_infinity=False), tie_floats))
def test_model_digits_two_ways(x):
    """The text's fast digit search (repr plus a tie check) against the exhaustive one."""
    x = abs(x)
    assert model.round_trip_digits(x) == model.shortest_digits(x)


def test_bulk_float_text(monkeypatch):
    """Thirty thousand random bit patterns as constant signals: the same text on both sides."""
    monkeypatch.delenv("VORA_TARGET_MACHINE", raising=False)
    rng = np.random.default_rng(7)
    values = rng.integers(0, 2**64, size=30000, dtype=np.uint64).view(np.float64).tolist()
    values += [math.ldexp(2 ** (b + f) + 2 * i + 1, -f) for b, f in TIE_BANDS for i in range(50)]
    real, mirror = pyvora.Protocol(), model.Protocol()
    for value in values:
        real.add_constant_signal(value)
        mirror.call("add_constant_signal", (value,))
    assert str(real) == str(mirror)


def test_bulk_quantisation(monkeypatch, tmp_path):
    """Every grid point k/32767, every midpoint and its two neighbours: the same file."""
    monkeypatch.delenv("VORA_TARGET_MACHINE", raising=False)
    k = np.arange(32767.0)
    halves = (k + 0.5) / 32767.0
    values = np.concatenate([k / 32767.0, halves, np.nextafter(halves, 0.0),
                             np.nextafter(halves, 2.0), [1.0, -0.0, 5e-324]])
    values = values[(values >= 0.0) & (values <= 1.0)]
    real, mirror = pyvora.Protocol(), model.Protocol()
    real.set_session_duration(27.0)
    mirror.call("set_session_duration", (27.0,))
    samples = np.zeros(mirror.num_samples())
    samples[: len(values)] = values
    assert real.add_arbitrary_signal(samples) == mirror.call("add_arbitrary_signal", (samples,))
    real.save(str(tmp_path / "bulk.vora"))
    assert (tmp_path / "bulk.vora").read_bytes() == mirror.encode()
