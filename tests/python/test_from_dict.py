"""Protocol.from_dict: the inverse of to_dict(), refusing what loading a file refuses."""

import array
import collections.abc
import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import model
from conftest import run_python
from pyvora import DecodeError, Protocol
from helpers import MEMORY_LIMIT, built_by, calls, every_kind, float_of_bits, limits_address_space


def reordered(value, samples=np.ndarray.tolist):
    """The same data with every mapping's keys in reverse order, lists as tuples and sample
    arrays turned into `samples(array)`."""
    if isinstance(value, dict):
        return {key: (samples(item) if key == "samples" else reordered(item, samples))
                for key, item in reversed(value.items())}
    if isinstance(value, list):
        return tuple(reordered(item, samples) for item in value)
    return value


@pytest.mark.parametrize("samples", [
    lambda a: a, np.ndarray.tolist, lambda a: tuple(a.tolist()), lambda a: a.astype(">u8"), lambda a: a.astype(np.int32)[::-1][::-1],
    lambda a: array.array("h", a.tobytes()),
])
def test_inverse_of_to_dict_in_any_key_order_and_sample_form(samples):
    p = every_kind()
    assert Protocol.from_dict(reordered(p.to_dict(), samples)).to_bytes() == p.to_bytes()


@settings(max_examples=100, deadline=None)
@given(st.lists(calls, max_size=12))
def test_round_trip_of_protocols_built_by_the_methods(steps):
    p = built_by(steps)
    q = Protocol.from_dict(p.to_dict())  # an empty signal table too, as a new protocol holds one
    assert (q.to_bytes(), str(q)) == (p.to_bytes(), str(p))


# Random files, written by the model's encoder: machine descriptions no method builds, any
# text, NaNs with any sign and payload.
nans = st.integers(1, 2**52 - 1).flatmap(
    lambda payload: st.sampled_from([0x7FF0 << 48, 0xFFF0 << 48]).map(
        lambda top: float_of_bits(top | payload)))
floats = st.one_of(st.floats(), nans)
u64 = st.integers(0, 2**64 - 1)
source = st.builds(model.SignalSourceSelection, u64, u64, st.booleans())
channel = st.builds(model.ChannelSettings, st.booleans(), source, source, source, u64, u64)
coil = st.builds(model.Coil, st.text(max_size=8), floats, floats, floats,
                 st.lists(st.builds(model.LCSetting, floats, floats, u64, u64), max_size=3))
machine = st.builds(model.MachineConfig, floats, u64, st.lists(coil, max_size=3), st.lists(floats, max_size=3),
                    st.lists(floats, max_size=3), u64, st.booleans(), u64, u64, st.booleans(),
                    *[floats] * 6)
signal = st.one_of(
    st.builds(model.ConstantSignalParams, floats),
    st.builds(model.SineSignalParams, floats, floats, floats, floats),
    st.builds(model.RampSignalParams, floats, floats, floats),
    st.builds(model.MixedSignalParams, u64, u64),
    st.builds(model.ArbitrarySignalParams, st.lists(st.integers(0, 32767), max_size=20)),
)
files = st.builds(model.Settings, st.booleans(), machine, st.floats(0.0, 1.0), st.floats(0.01, 1800.0),
                  st.lists(signal, min_size=1, max_size=5), channel, channel,
                  st.tuples(*[st.booleans()] * 16), u64).map(model.encode)


@settings(max_examples=150, deadline=None)
@given(files)
def test_round_trip_of_decoded_random_files(data):
    d = Protocol.from_bytes(data).to_dict()
    assert Protocol.from_dict(d).to_bytes() == data
    assert Protocol.from_dict(reordered(d)).to_bytes() == data


def default_dict():
    p = Protocol()
    p.add_sine_signal(1.0, 10.0)
    p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.5))
    return p.to_dict()


def edited(edit):
    d = default_dict()
    edit(d)
    return d


NAN = float("nan")


def released(view):
    view.release()
    return view


@pytest.mark.parametrize("edit, message, path", [
    (lambda d: d.pop("intensity"), "missing key for intensity", "intensity"),
    (lambda d: d["signals"][0].pop("kind"), "missing key for signals[0].kind", "signals[0].kind"),
    (lambda d: d["machine_config"]["coils"][0].update(colour="red"),
     "unknown key 'colour' for machine_config.coils[0]", "machine_config.coils[0]"),
    (lambda d: d["signals"][0].update(peak=1.0), "unknown key 'peak' for signals[0]", "signals[0]"),
    (lambda d: d.update({1: 2}), "unknown key of type int, not a str", ""),
    (lambda d: d["signals"][0].update(kind="Square"), "unknown signal kind 'Square' for signals[0].kind",
     "signals[0].kind"),
    (lambda d: d.update(intensity=True), "expected a float or an int, got bool True for intensity", "intensity"),
    (lambda d: d.update(intensity="0.1"), "expected a float or an int, got str '0.1' for intensity", "intensity"),
    (lambda d: d["channel_b_settings"].update(coil_idx=1.0),
     "expected an int, got float 1.0 for channel_b_settings.coil_idx", "channel_b_settings.coil_idx"),
    (lambda d: d["channel_a_settings"].update(enabled=1),
     "expected a bool, got int 1 for channel_a_settings.enabled", "channel_a_settings.enabled"),
    (lambda d: d["machine_config"]["coils"][0].update(name=b"Default"),
     "expected a str, got bytes for machine_config.coils[0].name", "machine_config.coils[0].name"),
    (lambda d: d["machine_config"]["coils"][0].update(name="\udc80"),
     "lone surrogate, not encodable as UTF-8 for machine_config.coils[0].name", "machine_config.coils[0].name"),
    (lambda d: d.update(channel_a_settings=[]), "expected a mapping, got list for channel_a_settings",
     "channel_a_settings"),
    (lambda d: d["machine_config"].update(capacitors=330.0),
     "expected a list, got float 330.0 for machine_config.capacitors", "machine_config.capacitors"),
    (lambda d: d.update(monitor_trace_visible=[False] * 15), "expected 16 flags, got 15 for monitor_trace_visible",
     "monitor_trace_visible"),
    (lambda d: d.update(monitor_subsampling_factor=-1),
     "value -1 outside 0..18446744073709551615 for monitor_subsampling_factor", "monitor_subsampling_factor"),
    (lambda d: d.update(monitor_subsampling_factor=2**64),
     "value 18446744073709551616 outside 0..18446744073709551615 for monitor_subsampling_factor",
     "monitor_subsampling_factor"),
    (lambda d: d.update(voltage=80.0), "unknown key 'voltage'", ""),
    (lambda d: d["machine_config"].update(supply_voltage=10**400),
     "value <1329-bit int> too large for a float for machine_config.supply_voltage", "machine_config.supply_voltage"),
    # The decoder's rules, in the decoder's words.
    (lambda d: d.update(intensity=NAN), "value NaN outside 0.0..1.0 for intensity", "intensity"),
    (lambda d: d.update(session_duration=1800.5), "value 1800.5 outside 0.01..1800.0 for session_duration",
     "session_duration"),
    (lambda d: d["signals"][1]["samples"].__setitem__(17, -1), "sample -1 outside 0..32767 for signals[1].samples[17]",
     "signals[1].samples[17]"),
    (lambda d: d["signals"][1].update(samples=[0, 1, 32768]), "sample 32768 outside 0..32767 for signals[1].samples[2]",
     "signals[1].samples[2]"),
    (lambda d: d["signals"][1].update(samples=np.array([0, 2**63], dtype=np.uint64)),
     "sample 9223372036854775808 outside 0..32767 for signals[1].samples[1]", "signals[1].samples[1]"),
    (lambda d: d["signals"][1].update(samples=[0, True]), "expected an int, got bool True for signals[1].samples[1]",
     "signals[1].samples[1]"),
    (lambda d: d["signals"][1].update(samples=np.zeros(3)),
     "expected integer samples, got an array of format 'd' for signals[1].samples", "signals[1].samples"),
    (lambda d: d["signals"][1].update(samples=np.zeros((2, 2), dtype=np.int16)),
     "expected a 1-D array of samples, got 2 dimensions for signals[1].samples", "signals[1].samples"),
    (lambda d: d["signals"][1].update(samples=np.zeros(9_000_001, dtype=np.int16)),
     "9000001 samples exceed the limit of 9000000 for signals[1].samples", "signals[1].samples"),
    # Each check at its edge: one flag too many, the empty key, bool for a count, no dimension.
    (lambda d: d.update(monitor_trace_visible=[False] * 17), "expected 16 flags, got 17 for monitor_trace_visible",
     "monitor_trace_visible"),
    (lambda d: d["channel_a_settings"].update({"": 0}), "unknown key '' for channel_a_settings",
     "channel_a_settings"),
    (lambda d: d["channel_a_settings"].update(coil_idx=True),
     "expected an int, got bool True for channel_a_settings.coil_idx", "channel_a_settings.coil_idx"),
    (lambda d: d["signals"][1].update(samples=np.array(7, dtype=np.int16)),
     "expected a 1-D array of samples, got 0 dimensions for signals[1].samples", "signals[1].samples"),
    # Buffers offered but not given.
    (lambda d: d["signals"][1].update(samples=np.zeros(3, dtype="datetime64[s]")),
     "expected integer samples, got ndarray with no readable buffer for signals[1].samples", "signals[1].samples"),
    (lambda d: d["signals"][1].update(samples=np.zeros(3, dtype="timedelta64[s]")),
     "expected integer samples, got ndarray with no readable buffer for signals[1].samples", "signals[1].samples"),
    (lambda d: d["signals"][1].update(samples=released(memoryview(bytes(3)))),
     "expected integer samples, got memoryview with no readable buffer for signals[1].samples", "signals[1].samples"),
])
def test_refusals_name_the_problem_and_the_field(edit, message, path):
    with pytest.raises(DecodeError) as caught:
        Protocol.from_dict(edited(edit))
    assert (str(caught.value), caught.value.path, caught.value.offset) == (message, path, None)


@pytest.mark.parametrize("dtype", [np.dtype(c).newbyteorder(o) for c in "bBhHiIlLqQ" for o in "<>"])
def test_every_integer_format_takes_the_samples_and_refuses_the_first_outside_them_at_either_edge(dtype):
    info = np.iinfo(dtype)
    kept = np.arange(70) % (min(info.max, 32767) + 1)
    kept[-1] = min(info.max, 32767)
    for samples in (kept.astype(dtype), kept.astype(dtype)[::-1][::-1], np.repeat(kept.astype(dtype), 2)[::2]):
        assert Protocol.from_dict(edited(lambda d: d["signals"][1].update(samples=samples))).to_dict()[
            "signals"][1]["samples"].tolist() == kept.tolist()
    for outside in [v for v in (-1, info.min, 32768, info.max) if not 0 <= v <= 32767 and info.min <= v <= info.max]:
        for position in (0, 41, 69):  # in the vector body and in its tail
            samples = kept.astype(dtype)
            samples[position] = outside
            samples[-1] = outside
            with pytest.raises(DecodeError) as caught:
                Protocol.from_dict(edited(lambda d: d["signals"][1].update(samples=samples)))
            assert caught.value.path == f"signals[1].samples[{position}]"
            assert str(caught.value).startswith(f"sample {outside} outside 0..32767")


@pytest.mark.parametrize("data", [[], None, "settings"])
def test_refuses_what_is_not_a_mapping(data):
    with pytest.raises(DecodeError, match=r"^expected a mapping, got \w+"):
        Protocol.from_dict(data)


def test_takes_what_loading_takes():
    # Positions that point nowhere, NaNs in signals, ints for floats, any mapping type.
    from types import MappingProxyType

    d = edited(lambda d: d["signals"].append({"kind": "MixedSignal", "a_idx": 2**64 - 1, "b_idx": 7}))
    d["signals"][0]["amplitude"] = NAN
    d["intensity"] = 1
    p = Protocol.from_dict(MappingProxyType(d))
    assert p.to_dict()["intensity"] == 1.0 and math.isnan(p.to_dict()["signals"][0]["amplitude"])
    assert Protocol.from_bytes(p.to_bytes()).to_bytes() == p.to_bytes()


class Wrapped(collections.abc.Mapping):
    """A mapping that is not a dict and runs `on_get` at every lookup."""

    def __init__(self, data, on_get):
        self.data, self.on_get = data, on_get

    def __getitem__(self, key):
        self.on_get()
        return self.data[key]

    def __iter__(self):
        return iter(self.data)

    def __len__(self):
        return len(self.data)


def test_mappings_of_any_kind_and_their_errors():
    d = default_dict()
    expected = Protocol.from_dict(d).to_bytes()
    signals = d["signals"]
    # A lookup that empties the list being read changes nothing: lists are read as they were.
    d["signals"] = [Wrapped(signals[0], signals.clear), signals[1]]
    assert Protocol.from_dict(Wrapped(d, lambda: None)).to_bytes() == expected
    read = d["signals"] = [Wrapped(signals[0] if signals else d["signals"][0], lambda: read.clear()), d["signals"][1]]
    assert Protocol.from_dict(d).to_bytes() == expected

    def fail():
        raise RuntimeError("lookup failed")

    with pytest.raises(RuntimeError, match="lookup failed"):
        Protocol.from_dict(edited(lambda d: d.update(channel_a_settings=Wrapped(d["channel_a_settings"], fail))))


def test_failures_hold_no_reference():
    import gc
    import sys

    good = default_dict()
    samples = good["signals"][1]["samples"]
    bad = edited(lambda d: d["signals"][1].update(samples=d["signals"][1]["samples"].tolist() + [40000]))
    wrong = edited(lambda d: d["channel_b_settings"].update(coil_idx=2**70))
    watched = [samples, bad["signals"][1]["samples"], wrong["channel_b_settings"]["coil_idx"]]
    for round_ in range(2):  # the first round warms caches
        counts = [sys.getrefcount(obj) for obj in watched]
        for _ in range(500):
            Protocol.from_dict(good)
            for data in (bad, wrong):
                with pytest.raises(DecodeError):
                    Protocol.from_dict(data)
        gc.collect()
    assert [sys.getrefcount(obj) for obj in watched] == counts


@limits_address_space
def test_out_of_memory_raises_memory_error():
    result = run_python(MEMORY_LIMIT + r"""
import numpy as np
from pyvora import Protocol
p = Protocol()
p.set_session_duration(1800.0)
p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.5))
d = p.to_dict()
Protocol.from_dict(d)
limit_memory()
try:
    Protocol.from_dict(d)
except MemoryError:
    print("MemoryError")
unlimit_memory()
print(Protocol.from_dict(d).to_bytes() == p.to_bytes())
""")
    assert result.stdout.split() == ["MemoryError", "True"], result.stderr
