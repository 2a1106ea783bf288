"""An independent pure-Python model of a pyvora protocol.

It is written from the documented behaviour of the module, not from its C++ sources, so that a
differential test (test_differential.py) can drive the real `pyvora.Protocol` and this model with
the same calls and compare what they return, raise, render and save.

The model reproduces the whole observable surface of a `Protocol`:
- default construction, with `VORA_TARGET_MACHINE` read from the process environment and the
  default coil tuned by the same IEEE double arithmetic;
- argument binding, argument conversion and the exact exception types and messages;
- access conflicts raised when an argument's conversion hook calls back into the protocol;
- the preconditions of every method and their failure messages (`PanicException`);
- the text form returned by `str()` and the bytes of a saved file;
- `save` itself, which opens and writes a file with the same flags as the module, so that file
  errors come from the operating system exactly as they would for the module.
"""

from __future__ import annotations

import math
import operator
import os
import struct
import unicodedata
from dataclasses import dataclass, field
from decimal import Decimal
from fractions import Fraction
from typing import Any

from cpython_texts import float_error, index_error, no_arguments_error, unsigned_error, with_hook
from helpers import UNWRAP, varint, zigzag16

U64_MAX = 2**64 - 1
SAMPLING_RATE = 5000.0
MAX_SESSION_DURATION = 1800.0


class PanicException(BaseException):
    """Stands in for the module's unexported panic exception (compared by type name)."""


def panic(message: str) -> PanicException:
    return PanicException(message)


# ---------------------------------------------------------------------------------------------
# Numbers


def round_half_away(x: float) -> float:
    """Rounds to the nearest integer, halves away from zero, exactly (x - floor(x) is exact)."""
    if not math.isfinite(x):
        return x
    a = abs(x)
    f = math.floor(a)
    return math.copysign(float(f + 1 if a - f >= 0.5 else f), x)


def f64_to_u64_saturating(x: float) -> int:
    if math.isnan(x) or x <= 0:
        return 0
    if math.isinf(x) or x >= 2.0**64:
        return U64_MAX
    return int(x)


def f64_to_i16_saturating(x: float) -> int:
    if math.isnan(x):
        return 0
    if x >= 32767:
        return 32767
    if x <= -32768:
        return -32768
    return int(x)


def quantise(s: float) -> int:
    return f64_to_i16_saturating(round_half_away(s * 32767.0))


# ---------------------------------------------------------------------------------------------
# Protocol records (fields in declaration order)


@dataclass
class LCSetting:
    capacitance: float
    carrier_frequency: float
    clk_ticks_per_sample: int
    capacitor_bank_setting: int


@dataclass
class Coil:
    name: str
    inductance: float
    max_current: float
    max_carrier_frequency: float
    settings: list[LCSetting]


class ConfigError(Exception):
    pass


def tune_coil(name: str, candidates: list[float], inductance: float, max_current: float,
              max_carrier_frequency: float) -> Coil:
    entries = []
    for i, x in enumerate(candidates):
        p = inductance * 0.000001
        p = p * x
        p = p * 0.000000001
        w = (math.sqrt(p) if p >= 0 else math.nan) * 6.283185307179586
        f = 1.0 / w if w != 0 else math.inf
        t = 160000000.0 / (f * 32.0)
        ticks = f64_to_u64_saturating(round_half_away(t))
        product = (ticks * 32) % 2**64
        carrier = (160000000.0 / float(product) if product else math.inf) * 0.001
        if max_carrier_frequency >= carrier:
            entries.append(LCSetting(x, carrier, ticks, i + 1))
    if not entries:
        raise ConfigError("ConfigError")
    if len(entries) > 1:
        entries.sort(key=lambda e: e.clk_ticks_per_sample)
        entries.reverse()
    return Coil(name, inductance, max_current, max_carrier_frequency, entries)


@dataclass
class MachineConfig:
    supply_voltage: float = 80.0
    num_coils: int = 2
    coils: list[Coil] = field(
        default_factory=lambda: [tune_coil("Default", [330.0], 150.0, 0.1, 40.0)])
    capacitors: list[float] = field(default_factory=lambda: [330.0])
    possible_capacitances: list[float] = field(default_factory=lambda: [330.0])
    num_external_signal_sources: int = 6
    smbus_psu_connected: bool = False
    num_temperature_sensors: int = 0
    num_flow_rate_sensors: int = 0
    safety_checks_enabled: bool = True
    max_intensity_setpoint: float = 0.3
    max_current: float = 0.5
    max_carrier_frequency: float = 40.0
    max_temperature: float = 40.0
    min_flowrate: float = 70.0
    max_power: float = 520.0


@dataclass
class SignalSourceSelection:
    internal: int = 0
    external: int = 0
    external_selected: bool = False


@dataclass
class ChannelSettings:
    enabled: bool
    amplitude1_source: SignalSourceSelection = field(default_factory=SignalSourceSelection)
    amplitude2_source: SignalSourceSelection = field(default_factory=SignalSourceSelection)
    modulation_source: SignalSourceSelection = field(default_factory=SignalSourceSelection)
    coil_idx: int = 0
    coil_setting_idx: int = 0


@dataclass
class ConstantSignalParams:
    value: float


@dataclass
class SineSignalParams:
    amplitude: float
    frequency: float
    phase: float
    depth: float


@dataclass
class RampSignalParams:
    peak: float
    up_duration: float
    down_duration: float


@dataclass
class MixedSignalParams:
    a_idx: int
    b_idx: int


@dataclass
class ArbitrarySignalParams:
    samples: list[int]


# Signal kinds in their numbering order: (kind name, parameter record)
SIGNAL_KINDS = [
    ("Constant", ConstantSignalParams),
    ("Sine", SineSignalParams),
    ("Ramp", RampSignalParams),
    ("MixedSignal", MixedSignalParams),
    ("Arbitrary", ArbitrarySignalParams),
]
KIND_OF = {params: (index, name) for index, (name, params) in enumerate(SIGNAL_KINDS)}


def target_machine_from_environment() -> bool:
    value = os.environb.get(b"VORA_TARGET_MACHINE")
    if value is None:
        return False
    try:
        value.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


@dataclass
class Settings:
    running_on_target_machine: bool = field(default_factory=target_machine_from_environment)
    machine_config: MachineConfig = field(default_factory=MachineConfig)
    intensity: float = 0.0
    session_duration: float = 60.0
    signals: list = field(default_factory=lambda: [ConstantSignalParams(0.0)])
    channel_a_settings: ChannelSettings = field(default_factory=lambda: ChannelSettings(True))
    channel_b_settings: ChannelSettings = field(default_factory=lambda: ChannelSettings(False))
    monitor_trace_visible: tuple = (False,) * 16
    monitor_subsampling_factor: int = 1


# Field kinds used by the encoder and the renderer where the Python value alone is ambiguous.
U64_FIELDS = {"num_coils", "num_external_signal_sources", "num_temperature_sensors",
              "num_flow_rate_sensors", "clk_ticks_per_sample", "capacitor_bank_setting",
              "internal", "external", "coil_idx", "coil_setting_idx", "a_idx", "b_idx",
              "monitor_subsampling_factor"}


def record_fields(record) -> list[tuple[str, Any]]:
    return [(name, getattr(record, name)) for name in record.__dataclass_fields__]


# ---------------------------------------------------------------------------------------------
# Compact binary encoding


def f64_bytes(x: float) -> bytes:
    return struct.pack("<d", x)


def text_bytes(s: str) -> bytes:
    data = s.encode("utf-8")
    return varint(len(data)) + data


def encode_value(name: str, value) -> bytes:
    if isinstance(value, bool):
        return b"\x01" if value else b"\x00"
    if isinstance(value, int):
        assert name in U64_FIELDS, name
        return varint(value)
    if isinstance(value, float):
        return f64_bytes(value)
    if isinstance(value, str):
        return text_bytes(value)
    if isinstance(value, tuple):  # the fixed array of trace flags: no count
        return b"".join(encode_value(name, v) for v in value)
    if isinstance(value, list):
        if name == "samples":
            return varint(len(value)) + b"".join(zigzag16(v) for v in value)
        return varint(len(value)) + b"".join(encode_element(name, v) for v in value)
    return encode_record(value)


def encode_element(name: str, value) -> bytes:
    if name == "signals":
        index, _ = KIND_OF[type(value)]
        return varint(index) + encode_record(value)
    return encode_value(name, value)


def encode_record(record) -> bytes:
    return b"".join(encode_value(name, value) for name, value in record_fields(record))


def encode(settings: Settings) -> bytes:
    return encode_record(settings)


# ---------------------------------------------------------------------------------------------
# Text form


def shortest_digits(x: float) -> tuple[str, int]:
    """Shortest digit string d (no trailing zeros) and exponent p with int(d) * 10**p reading
    back as the finite, positive x; of two equally short candidates the nearer one, and on an
    exact tie the larger one."""
    exact = Fraction(x)
    top = math.floor(math.log10(x)) + 1
    for n in range(1, 18):
        # candidates of n significant digits around x; the exponent estimate may be one off,
        # which only adds candidates of n - 1 or n + 1 digits that are checked exactly as well
        best = None
        for e in (top - n - 1, top - n, top - n + 1):
            scale = Fraction(10) ** e
            q = exact / scale
            for m in {math.floor(q), math.ceil(q)}:
                if m <= 0 or len(str(m).rstrip("0")) > n:
                    continue
                if float(f"{m}e{e}") != x:  # correctly rounded, inf on overflow
                    continue
                distance = abs(Fraction(m) * scale - exact)
                key = (distance, -m * scale)
                if best is None or key < best[0]:
                    best = (key, m, e)
        if best is not None:
            _, m, e = best
            digits = str(m)
            stripped = digits.rstrip("0")
            return stripped, e + (len(digits) - len(stripped))
    raise AssertionError(f"no round-trip digits for {x!r}")


def round_trip_digits(x: float) -> tuple[str, int]:
    """shortest_digits by a faster road: repr gives the nearest shortest digits, and only an
    exact tie between two such strings needs a second look (repr then keeps the even one)."""
    shortest = Decimal(repr(x)).normalize().as_tuple()
    digits, p = "".join(map(str, shortest.digits)), shortest.exponent
    exact = Decimal(x).as_tuple()  # every finite double has a finite decimal expansion
    tie = exact.digits[-1] == 5 and exact.exponent == p - 1
    if tie and Decimal(x) > Decimal(int(digits)).scaleb(p):
        larger = str(int(digits) + 1)
        if float(f"{larger}e{p}") == x:
            stripped = larger.rstrip("0")
            return stripped, p + len(larger) - len(stripped)
    return digits, p


def render_float(x: float) -> str:
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    sign = "-" if math.copysign(1.0, x) < 0 else ""
    a = abs(x)
    if a == 0:
        return sign + "0.0"
    digits, p = round_trip_digits(a)
    if a >= 1e16 or a < 0.0001:
        exponent = p + len(digits) - 1
        mantissa = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
        return f"{sign}{mantissa}e{exponent}"
    if p >= 0:
        return sign + digits + "0" * p + ".0"
    point = len(digits) + p
    if point > 0:
        return sign + digits[:point] + "." + digits[point:]
    return sign + "0." + "0" * (-point) + digits


def render_text(s: str) -> str:
    out = ['"']
    for ch in s:
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\0":
            out.append("\\0")
        else:
            category = unicodedata.category(ch)
            hidden = category in ("Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp") or (
                category == "Zs" and ch != " ")
            if hidden or unicodedata.combining(ch) or category in ("Mn", "Me"):
                out.append("\\u{%x}" % ord(ch))
            else:
                out.append(ch)
    out.append('"')
    return "".join(out)


def render_value(name: str, value, level: int) -> str:
    inner = "    " * (level + 1)
    closing = "    " * level
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return render_float(value)
    if isinstance(value, str):
        return render_text(value)
    if isinstance(value, (list, tuple)):
        if not value:
            return "[]"
        lines = ["["]
        for element in value:
            lines.append(inner + render_element(name, element, level + 1) + ",")
        lines.append(closing + "]")
        return "\n".join(lines)
    return render_record(value, level)


def render_element(name: str, value, level: int) -> str:
    if name == "signals":
        _, kind = KIND_OF[type(value)]
        return (kind + "(\n" + "    " * (level + 1) + render_record(value, level + 1) + ",\n"
                + "    " * level + ")")
    return render_value(name, value, level)


def render_record(record, level: int) -> str:
    lines = [type(record).__name__ + " {"]
    for name, value in record_fields(record):
        field_text = render_value(name, value, level + 1)
        lines.append("    " * (level + 1) + name + ": " + field_text + ",")
    lines.append("    " * level + "}")
    return "\n".join(lines)


def render_protocol(settings: Settings) -> str:
    return ("Protocol {\n    settings: " + render_record(settings, 1) + ",\n}")


# ---------------------------------------------------------------------------------------------
# Argument binding and conversion


def cast_error(obj, expected: str) -> TypeError:
    return TypeError(f"'{type(obj).__qualname__}' object cannot be cast as '{expected}'")


@dataclass(frozen=True)
class Method:
    name: str
    params: tuple[str, ...]
    defaults: dict  # name -> default value for the optional trailing parameters
    kinds: tuple[str, ...]
    access: str  # "exclusive" or "shared"


METHODS = {m.name: m for m in [
    Method("set_stimulation_intensity", ("intensity",), {}, ("float",), "exclusive"),
    Method("set_session_duration", ("duration",), {}, ("float",), "exclusive"),
    Method("enable_channel", ("channel",), {}, ("Channel",), "exclusive"),
    Method("set_amplitude_source", ("coil", "index", "external"), {"external": False},
           ("Coil", "index", "flag"), "exclusive"),
    Method("set_modulation_source", ("channel", "index", "external"), {"external": False},
           ("Channel", "index", "flag"), "exclusive"),
    Method("add_constant_signal", ("value",), {}, ("float",), "exclusive"),
    Method("add_sine_signal", ("amplitude", "frequency", "phase", "depth"),
           {"phase": 0.0, "depth": 1.0}, ("float",) * 4, "exclusive"),
    Method("add_ramp_signal", ("peak", "up_duration", "down_duration"), {}, ("float",) * 3,
           "exclusive"),
    Method("add_mixed_signal", ("a_idx", "b_idx"), {}, ("index", "index"), "exclusive"),
    Method("add_arbitrary_signal", ("samples",), {}, ("samples",), "exclusive"),
    Method("get_num_samples", (), {}, (), "exclusive"),
    Method("get_sampling_rate", (), {}, (), "shared"),
    Method("save", ("filepath",), {}, ("str",), "exclusive"),
]}


def _quoted_list(names: list[str]) -> str:
    quoted = [f"'{n}'" for n in names]
    if len(quoted) == 1:
        return quoted[0]
    if len(quoted) == 2:
        return f"{quoted[0]} and {quoted[1]}"
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def bind(method: Method, args: tuple, kwargs: dict) -> list:
    qual = f"Protocol.{method.name}()"
    if not method.params:  # the interpreter's own no-argument convention, in its own words
        if args or kwargs:
            raise no_arguments_error(qual, *args, **kwargs)
        return []
    total = len(method.params)
    required = total - len(method.defaults)
    if len(args) > total:
        verb = "was" if len(args) == 1 else "were"
        if required == total:
            raise TypeError(f"{qual} takes {total} positional arguments "
                            f"but {len(args)} {verb} given")
        raise TypeError(f"{qual} takes from {required} to {total} positional arguments "
                        f"but {len(args)} {verb} given")
    slots: list = list(args) + [_MISSING] * (total - len(args))
    for key, value in kwargs.items():
        if key not in method.params:
            raise TypeError(f"{qual} got an unexpected keyword argument '{key}'")
        i = method.params.index(key)
        if slots[i] is not _MISSING:
            raise TypeError(f"{qual} got multiple values for argument '{key}'")
        slots[i] = value
    missing = [n for i, n in enumerate(method.params[:required]) if slots[i] is _MISSING]
    if missing:
        word = "argument" if len(missing) == 1 else "arguments"
        raise TypeError(f"{qual} missing {len(missing)} required positional {word}: "
                        f"{_quoted_list(missing)}")
    for i, name in enumerate(method.params):
        if slots[i] is _MISSING:
            slots[i] = method.defaults[name]
    return slots


_MISSING = object()


def to_f64(obj) -> float:
    t = type(obj)
    if isinstance(obj, float):
        return float.__float__(obj)  # held value, whatever a subclass's __float__ says
    if getattr(t, "__float__", None) is not None:
        result = t.__float__(obj)
        if not isinstance(result, float):
            raise float_error(with_hook(t, "__float__", result))
        return float.__float__(result)
    if getattr(t, "__index__", None) is not None:
        return _int_to_f64(index_int(obj))
    raise float_error(obj)


def _int_to_f64(n: int) -> float:
    try:
        return float(n)
    except OverflowError:
        raise float_error(n) from None


def index_int(obj) -> int:
    if isinstance(obj, int):
        return operator.index(obj)  # an int subclass counts by its value, not its __index__
    t = type(obj)
    if getattr(t, "__index__", None) is None:
        raise index_error(obj)
    result = t.__index__(obj)
    if not isinstance(result, int):
        raise index_error(with_hook(t, "__index__", result))
    return int(result)


def to_u64(obj) -> int:
    n = index_int(obj)
    if n < 0 or n > U64_MAX:
        raise unsigned_error(n)
    return n


def to_flag(obj) -> bool:
    if obj is True or obj is False:
        return obj
    t = type(obj)
    if t.__module__ == "numpy" and t.__name__ in ("bool_", "bool"):
        return bool(obj)
    raise cast_error(obj, "bool")


MEMBER_NAMES = {"Coil": ("A1", "A2", "B1", "B2"), "Channel": ("A", "B")}


def to_member(obj, enum_name: str) -> int:
    # Members exist only as the module's class attributes; they are told apart by identity.
    import pyvora

    cls = getattr(pyvora, enum_name)
    for number, member in enumerate(MEMBER_NAMES[enum_name]):
        if obj is getattr(cls, member):
            return number
    raise cast_error(obj, enum_name)


def to_text(obj) -> str:
    if not isinstance(obj, str):
        raise cast_error(obj, "str")
    text = str.__str__(obj)
    text.encode("utf-8")  # lone surrogates fail here, with the interpreter's own error
    return text


def to_samples(obj):
    import numpy as np

    if not (isinstance(obj, np.ndarray) and obj.ndim == 1 and obj.dtype == np.dtype(np.float64)):
        raise cast_error(obj, "ndarray")
    return obj


def convert(kind: str, name: str, obj):
    try:
        if kind == "float":
            return to_f64(obj)
        if kind == "index":
            return to_u64(obj)
        if kind == "flag":
            return to_flag(obj)
        if kind in ("Coil", "Channel"):
            return to_member(obj, kind)
        if kind == "str":
            return to_text(obj)
        if kind == "samples":
            return to_samples(obj)
    except TypeError as error:
        if type(error) is not TypeError:
            raise  # only a plain TypeError is renamed; its subclasses pass unchanged
        wrapped = TypeError(f"argument '{name}': {error}")
        wrapped.__cause__ = error.__cause__
        raise wrapped from error.__cause__
    raise AssertionError(kind)


# ---------------------------------------------------------------------------------------------
# The protocol object

# errno -> kind name of a file error
ERROR_KINDS = {
    1: "PermissionDenied", 13: "PermissionDenied", 2: "NotFound", 4: "Interrupted",
    7: "ArgumentListTooLong", 11: "WouldBlock", 12: "OutOfMemory", 16: "ResourceBusy",
    17: "AlreadyExists", 18: "CrossesDevices", 20: "NotADirectory", 21: "IsADirectory",
    22: "InvalidInput", 26: "ExecutableFileBusy", 27: "FileTooLarge", 28: "StorageFull",
    29: "NotSeekable", 30: "ReadOnlyFilesystem", 31: "TooManyLinks", 32: "BrokenPipe",
    35: "Deadlock", 36: "InvalidFilename", 38: "Unsupported", 95: "Unsupported",
    39: "DirectoryNotEmpty", 40: "FilesystemLoop", 98: "AddrInUse", 99: "AddrNotAvailable",
    100: "NetworkDown", 101: "NetworkUnreachable", 103: "ConnectionAborted",
    104: "ConnectionReset", 107: "NotConnected", 110: "TimedOut", 111: "ConnectionRefused",
    113: "HostUnreachable", 115: "InProgress", 116: "StaleNetworkFileHandle",
    122: "QuotaExceeded",
}


def os_error_message(code: int) -> str:
    kind = ERROR_KINDS.get(code, "Uncategorized")
    return f"{UNWRAP}Os {{ code: {code}, kind: {kind}, message: {render_text(os.strerror(code))} }}"


def write_file(path: str, data: bytes) -> None:
    """Opens, truncates and writes like the module's save; raises PanicException on failure."""
    if "\0" in path:
        raise panic(f'{UNWRAP}Error {{ kind: InvalidInput, message: '
                    f'"file name contained an unexpected NUL byte" }}')
    while True:
        try:
            fd = os.open(path.encode("utf-8"),
                         os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_CLOEXEC, 0o666)
            break
        except InterruptedError:
            continue
        except OSError as error:
            raise panic(os_error_message(error.errno)) from None
    try:
        view = memoryview(data)
        while view:
            try:
                n = os.write(fd, view)
            except InterruptedError:
                continue
            except OSError as error:
                raise panic(os_error_message(error.errno)) from None
            if n == 0:
                raise panic(f'{UNWRAP}Error {{ kind: WriteZero, message: '
                            f'"failed to write whole buffer" }}')
            view = view[n:]
    finally:
        os.close(fd)


class Protocol:
    """The model of one `pyvora.Protocol` object.

    `call(name, args, kwargs)` runs a method through the calling sequence: binding, access,
    conversion in parameter order, checks, change. `save` writes to the path it is given;
    the differential test gives the model a mirror of the real module's directory tree.
    """

    def __init__(self, *args, **kwargs):
        if args:
            verb = "was" if len(args) == 1 else "were"
            raise TypeError(f"Protocol.__new__() takes 0 positional arguments but "
                            f"{len(args)} {verb} given")
        for key in kwargs:
            raise TypeError(f"Protocol.__new__() got an unexpected keyword argument '{key}'")
        self.settings = Settings()
        self.settings.signals = []
        self._readers = 0
        self._writer = False

    # access state -----------------------------------------------------------------------------

    def _acquire(self, access: str) -> None:
        if access == "exclusive":
            if self._writer or self._readers:
                raise RuntimeError("Already borrowed")
            self._writer = True
        else:
            if self._writer:
                raise RuntimeError("Already mutably borrowed")
            self._readers += 1

    def _release(self, access: str) -> None:
        if access == "exclusive":
            self._writer = False
        else:
            self._readers -= 1

    def call(self, name: str, args: tuple = (), kwargs: dict | None = None):
        method = METHODS[name]
        slots = bind(method, tuple(args), dict(kwargs or {}))
        self._acquire(method.access)
        try:
            values = [convert(kind, param, obj)
                      for kind, param, obj in zip(method.kinds, method.params, slots)]
            return getattr(self, "_" + name)(*values)
        finally:
            self._release(method.access)

    def __str__(self) -> str:
        self._acquire("shared")
        try:
            return render_protocol(self.settings)
        finally:
            self._release("shared")

    def encode(self) -> bytes:
        return encode(self.settings)

    def num_samples(self) -> int:
        d = self.settings.session_duration
        if not d > 0.0:
            raise panic("assertion failed: self.settings.session_duration > 0.0")
        p = d * SAMPLING_RATE
        return f64_to_u64_saturating(float(math.ceil(p)) if math.isfinite(p) else p)

    # methods after conversion -------------------------------------------------------------------

    def _set_stimulation_intensity(self, x: float) -> None:
        if not (x >= 0.0 and x <= 1.0):
            raise panic("assertion failed: intensity >= 0.0 && intensity <= 1.0")
        self.settings.intensity = x

    def _set_session_duration(self, x: float) -> None:
        if not x <= MAX_SESSION_DURATION:
            raise panic("assertion failed: duration <= config::MAX_SESSION_DURATION")
        if not x >= 0.01:
            raise panic("assertion failed: duration >= 0.01")
        self.settings.session_duration = x

    def _channel(self, member: int) -> ChannelSettings:
        return self.settings.channel_a_settings if member == 0 else self.settings.channel_b_settings

    def _enable_channel(self, channel: int) -> None:
        self._channel(channel).enabled = True

    @staticmethod
    def _select(selection: SignalSourceSelection, n: int, external: bool) -> None:
        selection.internal = 0 if external else n
        selection.external = n if external else 0
        selection.external_selected = external

    def _set_amplitude_source(self, coil: int, n: int, external: bool) -> None:
        channel = self._channel(coil // 2)
        selection = channel.amplitude1_source if coil % 2 == 0 else channel.amplitude2_source
        self._select(selection, n, external)

    def _set_modulation_source(self, channel: int, n: int, external: bool) -> None:
        self._select(self._channel(channel).modulation_source, n, external)

    def _append(self, signal) -> int:
        self.settings.signals.append(signal)
        return len(self.settings.signals) - 1

    def _add_constant_signal(self, value: float) -> int:
        return self._append(ConstantSignalParams(value))

    def _add_sine_signal(self, amplitude, frequency, phase, depth) -> int:
        return self._append(SineSignalParams(amplitude, frequency, phase, depth))

    def _add_ramp_signal(self, peak, up_duration, down_duration) -> int:
        return self._append(RampSignalParams(peak, up_duration, down_duration))

    def _add_mixed_signal(self, a_idx: int, b_idx: int) -> int:
        return self._append(MixedSignalParams(a_idx, b_idx))

    def _add_arbitrary_signal(self, array) -> int:
        n = self.num_samples()
        if len(array) != n:
            raise panic("assertion failed: samples.len() == self.get_num_samples()")
        samples = []
        for s in array.tolist():
            if not s >= 0.0:
                raise panic("assertion failed: *sample >= 0.0")
            if not s <= 1.0:
                raise panic("assertion failed: *sample <= 1.0")
            samples.append(quantise(s))
        return self._append(ArbitrarySignalParams(samples))

    def _get_num_samples(self) -> int:
        return self.num_samples()

    def _get_sampling_rate(self) -> float:
        return SAMPLING_RATE

    def _save(self, path: str) -> None:
        data = path.encode("utf-8")
        if not data.endswith(b".vora"):
            raise panic('assertion failed: filepath.ends_with(".vora")')
        if not self.settings.signals:
            self.settings.signals = [ConstantSignalParams(0.0)]
        write_file(path, self.encode())
        return None
