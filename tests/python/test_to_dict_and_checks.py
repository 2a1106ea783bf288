"""to_dict(), find_problems() and the summary text: read-only views of a protocol."""

import math
import re
import zlib

import pytest

from pyvora import Channel, Coil, Protocol

from conftest import run_python
from helpers import MEMORY_LIMIT, limits_address_space, resident_bytes, run, Needed, need

np = Needed("numpy")


def every_kind() -> Protocol:
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_constant_signal(-0.0)
    p.add_sine_signal(1.0, 10.0)
    p.add_ramp_signal(1.0, 2.5, 5e-5)
    p.add_mixed_signal(0, 2**64 - 1)
    p.add_arbitrary_signal(np.array([0.0, 0.5, 1.0] + [0.1] * 47))
    return p


def field_names(value):
    """The keys of a to_dict() result in walking order, without the signals' "kind"."""
    if isinstance(value, dict):
        for key, item in value.items():
            yield from ([] if key == "kind" else [key])
            yield from field_names(item)
    elif isinstance(value, list):
        for item in value:
            yield from field_names(item)


def test_to_dict_follows_the_text_form():
    p = every_kind()
    p.enable_channel(Channel.B)
    d = p.to_dict()
    assert ["settings", *field_names(d)] == re.findall(r"^ *(\w+): ", str(p), re.M)
    assert d["signals"][1:4] == [
        {"kind": "Sine", "amplitude": 1.0, "frequency": 10.0, "phase": 0.0, "depth": 1.0},
        {"kind": "Ramp", "peak": 1.0, "up_duration": 2.5, "down_duration": 5e-5},
        {"kind": "MixedSignal", "a_idx": 0, "b_idx": 2**64 - 1},
    ]
    assert math.copysign(1.0, d["signals"][0]["value"]) == -1.0
    samples = d["signals"][4]["samples"]
    assert type(samples) is np.ndarray and samples.dtype == np.int16 and samples.shape == (50,)
    assert samples[:4].tolist() == [0, 16384, 32767, 3277]
    assert d["monitor_trace_visible"] == [False] * 16 and d["machine_config"]["coils"][0]["name"] == "Default"
    assert [type(d[k]) for k in ("running_on_target_machine", "intensity", "monitor_subsampling_factor")] == \
        [bool, float, int]


def test_to_dict_leaves_the_protocol_alone(tmp_path):
    empty = Protocol()
    assert empty.to_dict()["signals"] == [] and "signals: []" in str(empty)
    p = every_kind()
    p.to_dict()["signals"][4]["samples"][0] = 99  # a new array, not the protocol's samples
    assert p.to_dict()["signals"][4]["samples"][0] == 0
    p.save(str(tmp_path / "p.vora"))
    a, b = p.to_dict(), Protocol.load(tmp_path / "p.vora").to_dict()
    assert np.array_equal(a["signals"][4].pop("samples"), b["signals"][4].pop("samples")) and a == b


def test_summary_text_is_the_text_form_with_one_line_per_sample_list():
    p = every_kind()
    p.add_arbitrary_signal(np.full(50, 0.25))
    first, second = (signal["samples"] for signal in p.to_dict()["signals"] if signal["kind"] == "Arbitrary")
    # The digest is the well-known CRC-32 of the samples' bytes as a file holds them.
    digest = [f"{zlib.crc32(s.astype('<i2').tobytes()):08x}" for s in (first, second)]
    expected = re.sub(r"samples: \[\n[^\]]*\]", f"samples: <50 samples, min 0, max 32767, crc32 {digest[0]}>",
                      str(p), count=1)
    expected = re.sub(r"samples: \[\n[^\]]*\]", f"samples: <50 samples, min 8192, max 8192, crc32 {digest[1]}>",
                      expected)
    assert p._summary_text() == expected
    # Any one changed sample changes the line, though not the count or the range.
    data = p.to_dict()
    data["signals"][4]["samples"][1] ^= 1
    assert Protocol.from_dict(data)._summary_text() != expected


def problems_after(*steps):
    p = Protocol()
    p.add_sine_signal(1.0, 10.0)
    p.add_sine_signal(0.5, 5.0)
    for step in steps:
        step(p)
    return p.find_problems()


@pytest.mark.parametrize("steps, expected", [
    ([lambda p: p.set_amplitude_source(Coil.A2, 3)],
     ["channel_a_settings.amplitude2_source.internal: signal 3 does not exist; the table has 2 signals"]),
    ([lambda p: p.set_amplitude_source(Coil.A2, 1), lambda p: p.set_amplitude_source(Coil.B2, 3)], []),
])
def test_rule_internal_source(steps, expected):
    assert problems_after(*steps) == expected  # channel B is not enabled: its sources are not judged


@pytest.mark.parametrize("index, expected", [
    (6, ["channel_b_settings.modulation_source.external: external input 6 does not exist; "
         "the machine has 6 external inputs"]),
    (5, []),
])
def test_rule_external_source(index, expected):
    assert problems_after(lambda p: p.enable_channel(Channel.B),
                          lambda p: p.set_modulation_source(Channel.B, index, external=True)) == expected


@pytest.mark.parametrize("pairs, expected", [
    ([(0, 5)], ["signals[2].b_idx: signal 5 does not exist; the table has 3 signals"]),
    ([(2, 0)], ["signals[2].a_idx: mixed signal 2 refers to itself"]),
    ([(0, 3), (2, 1)], ["signals[2].b_idx: mixed signal 2 refers to itself through signal 3",
                        "signals[3].a_idx: mixed signal 3 refers to itself through signal 2"]),
    ([(0, 3), (1, 1)], []),
])
def test_rule_mixed_signal(pairs, expected):
    assert problems_after(*(lambda p, a=a, b=b: p.add_mixed_signal(a, b) for a, b in pairs)) == expected


@pytest.mark.parametrize("later_duration, expected", [
    (0.02, ["signals[2].samples: 50 samples, but the session of 0.02 s has 100"]),
    (0.01, []),
])
def test_rule_arbitrary_length(later_duration, expected):
    assert problems_after(lambda p: p.set_session_duration(0.01),
                          lambda p: p.add_arbitrary_signal(np.full(50, 0.5)),
                          lambda p: p.set_session_duration(later_duration)) == expected


# No method changes a coil index, so the file is patched: channel A's coil_idx and
# coil_setting_idx are its 31st and 30th bytes from the end, before channel B (12 bytes), the 16
# trace flags and the subsampling factor.
@pytest.mark.parametrize("patch, expected", [
    ({-31: 1}, ["channel_a_settings.coil_idx: coil 1 does not exist; the machine has 1 coil"]),
    ({-30: 2}, ["channel_a_settings.coil_setting_idx: tuning entry 2 does not exist; coil 0 has 1 entry"]),
    ({-19: 1}, []),  # channel B's coil_idx: channel B is not enabled
])
def test_rule_coil(patch, expected):
    p = Protocol()
    p.add_sine_signal(1.0, 10.0)
    data = bytearray(p.to_bytes())
    assert data[-31:-29] == data[-19:-17] == b"\0\0"
    for offset, value in patch.items():
        data[offset] = value
    assert Protocol.from_bytes(data).find_problems() == expected


@pytest.mark.parametrize("intensity, expected", [
    (0.5, ["intensity: 0.5 is above machine_config.max_intensity_setpoint 0.3"]),
    (0.3, []),
])
def test_rule_intensity(intensity, expected):
    assert problems_after(lambda p: p.set_stimulation_intensity(intensity)) == expected


NAN, INF = float("nan"), float("inf")


@pytest.mark.parametrize("steps, expected", [
    ([lambda p: p.add_sine_signal(NAN, -10.0, depth=5.0)],
     ["signals[2].amplitude: NaN is not finite", "signals[2].frequency: -10.0 is negative"]),
    ([lambda p: p.add_ramp_signal(1, -1, INF)],
     ["signals[2].up_duration: -1.0 is negative", "signals[2].down_duration: inf is not finite"]),
    ([lambda p: p.add_constant_signal(-INF), lambda p: p.add_sine_signal(1.0, 2.0, -INF, NAN)],
     ["signals[2].value: -inf is not finite", "signals[3].phase: -inf is not finite",
      "signals[3].depth: NaN is not finite"]),
    # Negative values without a fixed meaning, and -0.0, are not judged.
    ([lambda p: p.add_sine_signal(-1.0, -0.0, -1.0, -1.0), lambda p: p.add_ramp_signal(-1.0, 0.0, -0.0)], []),
])
def test_rule_signal_values(steps, expected):
    assert problems_after(*steps) == expected


def test_rule_machine_values_and_the_check_command(tmp_path):
    built = Protocol()
    built.add_ramp_signal(1, -1, INF)  # stored as given
    d = built.to_dict()
    assert d["signals"][0] == {"kind": "Ramp", "peak": 1.0, "up_duration": -1.0, "down_duration": INF}
    machine = d["machine_config"]
    machine["max_power"] = NAN
    machine["coils"][0]["settings"][0]["capacitance"] = -INF
    machine["capacitors"].append(INF)
    expected = ["machine_config.coils[0].settings[0].capacitance: -inf is not finite",
                "machine_config.capacitors[1]: inf is not finite",
                "machine_config.max_power: NaN is not finite",
                "signals[0].up_duration: -1.0 is negative",
                "signals[0].down_duration: inf is not finite"]
    p = Protocol.from_dict(d)
    assert p.find_problems() == expected
    p.save(str(tmp_path / "p.vora"))
    result = run("check", str(tmp_path / "p.vora"))
    assert result.returncode == 1
    assert result.stdout.splitlines() == [f"{tmp_path / 'p.vora'}: {line}" for line in expected]


def test_empty_table_is_judged_as_saved_and_left_empty():
    p = Protocol()
    p.set_modulation_source(Channel.A, 1)
    assert p.find_problems() == ["channel_a_settings.modulation_source.internal: signal 1 does not exist; "
                                 "the table is empty (save adds 1 signal, the constant 0.0)"]
    assert p.to_dict()["signals"] == []


@limits_address_space
def test_to_dict_out_of_memory_raises_memory_error():
    need("numpy")
    result = run_python(MEMORY_LIMIT + r"""
import numpy as np
from pyvora import Protocol
p = Protocol()
p.set_session_duration(1800.0)
p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.5))  # 18 MB of samples
p.to_dict()
limit_memory()
try:
    p.to_dict()
except MemoryError:
    print("MemoryError")
unlimit_memory()
print(p.to_dict()["signals"][0]["samples"].size)
""")
    assert result.stdout.split() == ["MemoryError", "9000000"], result.stderr


def test_to_dict_without_numpy_raises_import_error():
    data = every_kind().to_bytes()
    result = run_python(
        "import sys; sys.modules['numpy'] = None\n"
        f"from pyvora import Protocol; p = Protocol.from_bytes({data!r})\n"
        "print(len(p.find_problems()), len(p._summary_text()) > 0)\n"
        "try:\n    p.to_dict()\nexcept ImportError as e:\n    print(type(e).__name__)\n")
    assert result.stdout.split() == ["1", "True", "ModuleNotFoundError"], result.stderr


def test_views_hold_no_memory():
    p = every_kind()
    for rounds in (200, 3000):  # the first round warms caches and allocator pools
        before = resident_bytes()
        for _ in range(rounds):
            p.to_dict(), p.find_problems(), p._summary_text()
    assert resident_bytes() - before < 1 << 20
