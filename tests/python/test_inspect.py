"""to_dict(), find_problems() and the summary text: read-only views of a protocol."""

import gc
import math
import os
import re

import pytest

from pyvora import Channel, Coil, Protocol

from conftest import run_python

np = pytest.importorskip("numpy")


def every_kind() -> Protocol:
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_constant_signal(0.5)
    p.add_sine_signal(1.0, 10.0)
    p.add_ramp_signal(1.0, 2.5, 5e-5)
    p.add_mixed_signal(0, 1)
    p.add_arbitrary_signal(np.array([0.0, 0.5, 1.0] + [0.1] * 47))
    return p


def field_names(value):
    """The keys of a to_dict() result in walking order, without the signals' "kind"."""
    if isinstance(value, dict):
        for key, item in value.items():
            if key != "kind":
                yield key
            yield from field_names(item)
    elif isinstance(value, list):
        for item in value:
            yield from field_names(item)


def test_to_dict_keys_are_the_text_forms_fields_in_order():
    p = every_kind()
    p.enable_channel(Channel.B)
    assert ["settings", *field_names(p.to_dict())] == re.findall(r"^ *(\w+): ", str(p), re.M)


def test_to_dict_values():
    p = every_kind()
    p.set_amplitude_source(Coil.B2, 2**64 - 1)
    p.add_constant_signal(-0.0)
    p.add_constant_signal(math.nan)
    d = p.to_dict()
    assert d["signals"][:4] == [
        {"kind": "Constant", "value": 0.5},
        {"kind": "Sine", "amplitude": 1.0, "frequency": 10.0, "phase": 0.0, "depth": 1.0},
        {"kind": "Ramp", "peak": 1.0, "up_duration": 2.5, "down_duration": 5e-5},
        {"kind": "MixedSignal", "a_idx": 0, "b_idx": 1},
    ]
    arbitrary = d["signals"][4]
    assert list(arbitrary) == ["kind", "samples"] and arbitrary["kind"] == "Arbitrary"
    samples = arbitrary["samples"]
    assert type(samples) is np.ndarray and samples.dtype == np.int16 and samples.shape == (50,)
    assert samples[:4].tolist() == [0, 16384, 32767, 3277]
    assert math.copysign(1.0, d["signals"][5]["value"]) == -1.0 and math.isnan(d["signals"][6]["value"])
    assert d["channel_b_settings"]["amplitude2_source"]["internal"] == 2**64 - 1
    assert d["monitor_trace_visible"] == [False] * 16
    coil = d["machine_config"]["coils"][0]
    assert coil["name"] == "Default" and coil["settings"][0]["clk_ticks_per_sample"] == 221
    for value, kind in [(d["running_on_target_machine"], bool), (d["intensity"], float),
                        (d["monitor_subsampling_factor"], int), (d["machine_config"]["capacitors"], list)]:
        assert type(value) is kind


def test_to_dict_leaves_the_protocol_alone():
    p = Protocol()
    before = str(p)
    assert p.to_dict()["signals"] == []
    assert str(p) == before  # the empty table stays empty
    p = every_kind()
    first = p.to_dict()
    first["signals"][4]["samples"][0] = 99
    first["intensity"] = 0.9
    assert p.to_dict()["signals"][4]["samples"][0] == 0 and p.to_dict()["intensity"] == 0.0


def test_loaded_protocol_gives_the_same_dict(tmp_path):
    p = every_kind()
    p.set_amplitude_source(Coil.A2, 3, external=True)
    path = tmp_path / "p.vora"
    p.save(str(path))
    a, b = p.to_dict(), Protocol.load(path).to_dict()
    a_samples, b_samples = a["signals"][4].pop("samples"), b["signals"][4].pop("samples")
    assert np.array_equal(a_samples, b_samples) and b_samples.dtype == np.int16
    assert a == b


@pytest.mark.parametrize("method", ["to_dict", "find_problems", "_summary_text"])
def test_views_take_shared_access(method):
    p = every_kind()

    class Reader:
        def __float__(self):
            getattr(p, method)()
            return 0.5

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        p.set_stimulation_intensity(Reader())


def test_summary_text_is_the_text_form_with_one_line_per_sample_list():
    p = every_kind()
    p.add_arbitrary_signal(np.full(50, 0.25))
    expected = re.sub(r"samples: \[\n[^\]]*\]", "samples: <50 samples, min 0, max 32767>", str(p), count=1)
    expected = re.sub(r"samples: \[\n[^\]]*\]", "samples: <50 samples, min 8192, max 8192>", expected)
    assert p._summary_text() == expected


def two_sines() -> Protocol:
    p = Protocol()
    p.add_sine_signal(1.0, 10.0)
    p.add_sine_signal(0.5, 5.0)
    return p


def problems_after(*steps):
    p = two_sines()
    for step in steps:
        step(p)
    return p.find_problems()


@pytest.mark.parametrize("steps, expected", [
    ([lambda p: p.set_amplitude_source(Coil.A2, 3)],
     ["channel_a_settings.amplitude2_source.internal: signal 3 does not exist; the table has 2 signals"]),
    ([lambda p: p.set_amplitude_source(Coil.A2, 1)], []),
    ([lambda p: p.set_amplitude_source(Coil.B2, 3)], []),  # channel B is not enabled
])
def test_rule_internal_source(steps, expected):
    assert problems_after(*steps) == expected


def test_rule_internal_source_counts_an_empty_table_as_one_signal():
    p = Protocol()
    p.set_modulation_source(Channel.A, 1)
    assert p.find_problems() == [
        "channel_a_settings.modulation_source.internal: signal 1 does not exist; "
        "the table is empty (save adds 1 signal, the constant 0.0)"]
    p.set_modulation_source(Channel.A, 0)
    assert p.find_problems() == [] and p.to_dict()["signals"] == []


@pytest.mark.parametrize("steps, expected", [
    ([lambda p: p.enable_channel(Channel.B), lambda p: p.set_modulation_source(Channel.B, 6, external=True)],
     ["channel_b_settings.modulation_source.external: external input 6 does not exist; "
      "the machine has 6 external inputs"]),
    ([lambda p: p.enable_channel(Channel.B), lambda p: p.set_modulation_source(Channel.B, 5, external=True)], []),
])
def test_rule_external_source(steps, expected):
    assert problems_after(*steps) == expected


@pytest.mark.parametrize("steps, expected", [
    ([lambda p: p.add_mixed_signal(0, 5)], ["signals[2].b_idx: signal 5 does not exist; the table has 3 signals"]),
    ([lambda p: p.add_mixed_signal(2, 0)], ["signals[2].a_idx: mixed signal 2 refers to itself"]),
    ([lambda p: p.add_mixed_signal(0, 3), lambda p: p.add_mixed_signal(2, 1)],
     ["signals[2].b_idx: mixed signal 2 refers to itself through signal 3",
      "signals[3].a_idx: mixed signal 3 refers to itself through signal 2"]),
    ([lambda p: p.add_mixed_signal(0, 3), lambda p: p.add_mixed_signal(1, 1)], []),
])
def test_rule_mixed_signal(steps, expected):
    assert problems_after(*steps) == expected


@pytest.mark.parametrize("later_duration, expected", [
    (0.02, ["signals[2].samples: 50 samples, but the session of 0.02 s has 100"]),
    (0.01, []),
])
def test_rule_arbitrary_length(later_duration, expected):
    p = two_sines()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.full(50, 0.5))
    p.set_session_duration(later_duration)
    assert p.find_problems() == expected


# The channel records end the file: channel A's coil_idx and coil_setting_idx are the 31st and
# 30th bytes from the end, followed by channel B (12 bytes), 16 trace flags and the subsampling
# factor. The methods cannot change either index, so the tests patch the file.
@pytest.mark.parametrize("patch, expected", [
    ({-31: 1}, ["channel_a_settings.coil_idx: coil 1 does not exist; the machine has 1 coil"]),
    ({-30: 2}, ["channel_a_settings.coil_setting_idx: tuning entry 2 does not exist; coil 0 has 1 entry"]),
    ({-19: 1}, []),  # channel B's coil_idx: channel B is not enabled
    ({}, []),
])
def test_rule_coil(tmp_path, patch, expected):
    path = tmp_path / "p.vora"
    two_sines().save(str(path))
    data = bytearray(path.read_bytes())
    assert data[-31:-29] == b"\0\0" and data[-19:-17] == b"\0\0"
    for offset, value in patch.items():
        data[offset] = value
    assert Protocol.from_bytes(data).find_problems() == expected


@pytest.mark.parametrize("intensity, expected", [
    (0.5, ["intensity: 0.5 is above machine_config.max_intensity_setpoint 0.3"]),
    (0.3, []),
])
def test_rule_intensity(intensity, expected):
    assert problems_after(lambda p: p.set_stimulation_intensity(intensity)) == expected


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer needs an unlimited address space")
def test_to_dict_out_of_memory_raises_memory_error():
    script = r"""
import resource
import numpy as np
from pyvora import Protocol

p = Protocol()
p.set_session_duration(1800.0)
p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.5))  # 18 MB of samples
p.to_dict()  # NumPy loaded and warmed up
before = str(p)[-3000:]
with open("/proc/self/statm") as statm:
    used = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (used + (8 << 20), resource.RLIM_INFINITY))
try:
    p.to_dict()
    print("ok")
except MemoryError:
    print("MemoryError")
resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
assert str(p)[-3000:] == before
"""
    result = run_python(script)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError"]


def test_to_dict_without_numpy_raises_import_error(tmp_path):
    path = tmp_path / "p.vora"
    every_kind().save(str(path))
    result = run_python(
        "import sys; sys.modules['numpy'] = None\n"
        "from pyvora import Protocol\n"
        f"p = Protocol.load({str(path)!r})\n"
        "print(len(p.find_problems()), len(p._summary_text()) > 0)\n"
        "try:\n    p.to_dict()\nexcept ImportError as e:\n    print(type(e).__name__)\n")
    assert result.stdout.split() == ["0", "True", "ModuleNotFoundError"], result.stderr


def test_views_hold_no_memory():
    p = every_kind()
    p.set_amplitude_source(Coil.A1, 9)

    def views():
        p.to_dict()
        p.find_problems()
        p._summary_text()

    def resident():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    for _ in range(200):
        views()
    gc.collect()
    before = resident()
    for _ in range(3000):
        views()
    gc.collect()
    assert resident() - before < 1 << 20
