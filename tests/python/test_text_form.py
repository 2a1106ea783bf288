"""str(Protocol): whole texts, float and integer leaves, and the access rules of the text form."""

import decimal
import math
import random
import sys

import pytest

from helpers import float_of_bits, need
from pyvora import Channel, Coil, Protocol

# The text of a new protocol, VORA_TARGET_MACHINE unset: 104 lines, no line feed after the last.
DEFAULT_TEXT = """\
Protocol {
    settings: Settings {
        running_on_target_machine: false,
        machine_config: MachineConfig {
            supply_voltage: 80.0,
            num_coils: 2,
            coils: [
                Coil {
                    name: "Default",
                    inductance: 150.0,
                    max_current: 0.1,
                    max_carrier_frequency: 40.0,
                    settings: [
                        LCSetting {
                            capacitance: 330.0,
                            carrier_frequency: 22.624434389140273,
                            clk_ticks_per_sample: 221,
                            capacitor_bank_setting: 1,
                        },
                    ],
                },
            ],
            capacitors: [
                330.0,
            ],
            possible_capacitances: [
                330.0,
            ],
            num_external_signal_sources: 6,
            smbus_psu_connected: false,
            num_temperature_sensors: 0,
            num_flow_rate_sensors: 0,
            safety_checks_enabled: true,
            max_intensity_setpoint: 0.3,
            max_current: 0.5,
            max_carrier_frequency: 40.0,
            max_temperature: 40.0,
            min_flowrate: 70.0,
            max_power: 520.0,
        },
        intensity: 0.0,
        session_duration: 60.0,
        signals: [],
        channel_a_settings: ChannelSettings {
            enabled: true,
            amplitude1_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            amplitude2_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            modulation_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            coil_idx: 0,
            coil_setting_idx: 0,
        },
        channel_b_settings: ChannelSettings {
            enabled: false,
            amplitude1_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            amplitude2_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            modulation_source: SignalSourceSelection {
                internal: 0,
                external: 0,
                external_selected: false,
            },
            coil_idx: 0,
            coil_setting_idx: 0,
        },
        monitor_trace_visible: [
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
            false,
        ],
        monitor_subsampling_factor: 1,
    },
}"""

# Constant 0.5, sine 1.0/10.0 with its default phase and depth, ramp 1.0/2.5/0.00005, mixed 0 and 1.
FOUR_SIGNALS = """\
            Constant(
                ConstantSignalParams {
                    value: 0.5,
                },
            ),
            Sine(
                SineSignalParams {
                    amplitude: 1.0,
                    frequency: 10.0,
                    phase: 0.0,
                    depth: 1.0,
                },
            ),
            Ramp(
                RampSignalParams {
                    peak: 1.0,
                    up_duration: 2.5,
                    down_duration: 5e-5,
                },
            ),
            MixedSignal(
                MixedSignalParams {
                    a_idx: 0,
                    b_idx: 1,
                },
            ),
"""
CONSTANT_ZERO = """\
            Constant(
                ConstantSignalParams {
                    value: 0.0,
                },
            ),
"""
SAMPLE_INDENT = " " * 24
VALUE_PREFIX = " " * 20 + "value: "
U64_MAX = 2**64 - 1


def signals_field(*blocks):
    return "        signals: [\n" + "".join(blocks) + "        ],"


def arbitrary_block(samples):
    return ("            Arbitrary(\n"
            "                ArbitrarySignalParams {\n"
            "                    samples: [\n"
            + "".join(f"{SAMPLE_INDENT}{q},\n" for q in samples)
            + "                    ],\n"
              "                },\n"
              "            ),\n")


def replace_line(text, old, new):
    """The text with its one line `old` replaced by `new` (which may span several lines)."""
    lines = text.split("\n")
    assert lines.count(old) == 1, old
    lines[lines.index(old)] = new
    return "\n".join(lines)


def default_with(signals=None, duration=None):
    text = DEFAULT_TEXT
    if signals is not None:
        text = replace_line(text, "        signals: [],", signals)
    if duration is not None:
        text = replace_line(text, "        session_duration: 60.0,", f"        session_duration: {duration},")
    return text


def constant_texts(protocol):
    """The rendered `value` of every constant signal, in table order."""
    lines = [line for line in str(protocol).split("\n") if line.startswith(VALUE_PREFIX)]
    assert all(line.endswith(",") for line in lines)
    return [line[len(VALUE_PREFIX):-1] for line in lines]


# Whole texts.

def test_new_protocol(fresh):
    text = str(fresh)
    assert type(text) is str
    assert text == DEFAULT_TEXT
    assert len(text.split("\n")) == 104 and text.split("\n")[-1] == "}"
    assert "\r" not in text and not text.endswith("\n")


@pytest.mark.parametrize("value", ["", "1", "no"])
def test_target_machine_is_read_at_creation(monkeypatch, value):
    monkeypatch.setenv("VORA_TARGET_MACHINE", value)
    on_target = Protocol()
    monkeypatch.delenv("VORA_TARGET_MACHINE")
    off_target = Protocol()
    monkeypatch.setenv("VORA_TARGET_MACHINE", value)  # later changes do not reach existing objects
    assert str(on_target) == replace_line(DEFAULT_TEXT, "        running_on_target_machine: false,",
                                          "        running_on_target_machine: true,")
    assert str(off_target) == DEFAULT_TEXT


def test_four_signals(fresh):
    assert fresh.add_constant_signal(0.5) == 0
    assert fresh.add_sine_signal(1.0, 10.0) == 1
    assert fresh.add_ramp_signal(1.0, 2.5, 0.00005) == 2
    assert fresh.add_mixed_signal(0, 1) == 3
    assert str(fresh) == default_with(signals_field(FOUR_SIGNALS))


def test_five_signals_with_arbitrary(fresh):
    np = need("numpy")
    fresh.set_session_duration(0.01)
    samples = np.zeros(fresh.get_num_samples())
    assert samples.size == 50
    samples[:3] = [0.0, 0.5, 1.0]
    fresh.add_constant_signal(0.5)
    fresh.add_sine_signal(1.0, 10.0)
    fresh.add_ramp_signal(1.0, 2.5, 0.00005)
    fresh.add_mixed_signal(0, 1)
    assert fresh.add_arbitrary_signal(samples) == 4
    text = str(fresh)
    arbitrary = arbitrary_block([0, 16384, 32767] + [0] * 47)
    assert text == default_with(signals_field(FOUR_SIGNALS, arbitrary), duration="0.01")
    start = text.split("\n").index("            Arbitrary(")
    assert text.split("\n")[start:start + 6] == [
        "            Arbitrary(",
        "                ArbitrarySignalParams {",
        "                    samples: [",
        f"{SAMPLE_INDENT}0,",
        f"{SAMPLE_INDENT}16384,",
        f"{SAMPLE_INDENT}32767,",
    ]


def test_long_arbitrary_signal_has_one_line_per_sample(fresh):
    """Every sample width from one to five digits; the text must be exactly as long as measured."""
    np = need("numpy")
    fresh.set_session_duration(7.0)
    n = fresh.get_num_samples()
    stored = np.arange(n) % 32768
    fresh.add_arbitrary_signal(stored / 32767.0)
    fresh.set_session_duration(1.0)  # the signal keeps its length
    expected = default_with(signals_field(arbitrary_block(stored.tolist())), duration="1.0")
    text = str(fresh)
    assert len(text) == len(expected)
    assert text == expected


def test_empty_table_is_filled_by_save(fresh, tmp_path):
    fresh.save(str(tmp_path / "p.vora"))
    assert str(fresh) == default_with(signals_field(CONSTANT_ZERO))


def test_largest_integers(fresh):
    fresh.add_mixed_signal(U64_MAX, 0)
    fresh.add_mixed_signal(0, U64_MAX)
    fresh.set_modulation_source(Channel.A, U64_MAX)
    fresh.set_amplitude_source(Coil.B2, U64_MAX, True)
    lines = DEFAULT_TEXT.split("\n")
    a = lines.index("        channel_a_settings: ChannelSettings {")
    at = lines.index("            modulation_source: SignalSourceSelection {", a)
    lines[at + 1] = f"                internal: {U64_MAX},"
    b = lines.index("        channel_b_settings: ChannelSettings {")
    at = lines.index("            amplitude2_source: SignalSourceSelection {", b)
    lines[at + 2:at + 4] = [f"                external: {U64_MAX},", "                external_selected: true,"]
    mixed = "".join(f"            MixedSignal(\n"
                    f"                MixedSignalParams {{\n"
                    f"                    a_idx: {x},\n"
                    f"                    b_idx: {y},\n"
                    f"                }},\n"
                    f"            ),\n" for x, y in [(U64_MAX, 0), (0, U64_MAX)])
    expected = replace_line("\n".join(lines), "        signals: [],", signals_field(mixed))
    assert str(fresh) == expected


# Float leaves, written through a constant signal and read back from the text.

FLOATS = [
    (80.0, "80.0"), (0.0, "0.0"), (-0.0, "-0.0"), (60.0, "60.0"), (-2.5, "-2.5"), (3, "3.0"),
    (0.3, "0.3"), (0.1 + 0.2, "0.30000000000000004"), (22.624434389140273, "22.624434389140273"),
    (1e15, "1000000000000000.0"), (123456789012.0, "123456789012.0"),
    (9999999999999998.0, "9999999999999998.0"), (1e16, "1e16"), (-1e16, "-1e16"), (1.5e16, "1.5e16"),
    (1e100, "1e100"), (sys.float_info.max, "1.7976931348623157e308"),
    (-sys.float_info.max, "-1.7976931348623157e308"),
    (0.0001, "0.0001"), (math.nextafter(0.0001, 0.0), "9.999999999999999e-5"), (0.00012, "0.00012"),
    (0.00009999, "9.999e-5"), (5e-5, "5e-5"), (2.5e-7, "2.5e-7"), (-2.5e-7, "-2.5e-7"),
    (5e-324, "5e-324"), (-5e-324, "-5e-324"), (sys.float_info.min, "2.2250738585072014e-308"),
    # Exactly halfway between two shortest digit strings: the larger one.
    (1035468440090256.25, "1035468440090256.3"), (-1035468440090256.25, "-1035468440090256.3"),
    (1.3105850219726562, "1.3105850219726563"), (9.202957153320312e-05, "9.202957153320313e-5"),
    # Close to a tie but not one.
    (1035468440090256.125, "1035468440090256.1"), (1035468440090256.75, "1035468440090256.8"),
    (9007199254740993, "9007199254740992.0"),
    (math.inf, "inf"), (-math.inf, "-inf"), (math.nan, "NaN"),
    (float_of_bits(0xFFF8000000000000), "NaN"), (float_of_bits(0x7FF8000000000001), "NaN"),
    (float_of_bits(0x7FF0000000000001), "NaN"), (float_of_bits(0xFFFFFFFFFFFFFFFF), "NaN"),
]


@pytest.mark.parametrize("value, text", FLOATS, ids=[text for _, text in FLOATS])
def test_float_text(fresh, value, text):
    fresh.add_constant_signal(value)
    assert constant_texts(fresh) == [text]


def reference_text(x):
    """Independent model: Python's shortest repr digits, exact ties moved to the larger string."""
    if math.isnan(x):
        return "NaN"
    sign = "-" if math.copysign(1.0, x) < 0 else ""
    a = abs(x)
    if math.isinf(a):
        return sign + "inf"
    if a == 0.0:
        return sign + "0.0"
    with decimal.localcontext() as ctx:
        ctx.prec = 1000  # exact arithmetic on a double's full expansion
        shortest = decimal.Decimal(repr(a)).normalize()
        unit = decimal.Decimal((0, (1,), shortest.as_tuple().exponent))
        if decimal.Decimal(a) - shortest == unit / 2:
            shortest = (shortest + unit).normalize()
        _, digit_tuple, exponent = shortest.as_tuple()
    digits = "".join(map(str, digit_tuple))
    point = exponent + len(digits)  # digits before the decimal point in plain notation
    if a >= 1e16 or a < 1e-4:
        mantissa = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
        return f"{sign}{mantissa}e{point - 1}"
    if point <= 0:
        return f"{sign}0.{'0' * -point}{digits}"
    if len(digits) <= point:
        return f"{sign}{digits}{'0' * (point - len(digits))}.0"
    return f"{sign}{digits[:point]}.{digits[point:]}"


def test_reference_model_agrees_with_the_fixed_cases():
    for value, text in FLOATS:
        assert reference_text(float(value)) == text


def test_random_floats_match_the_reference(fresh):
    rng = random.Random(20240611)
    values = [float_of_bits(rng.getrandbits(64)) for _ in range(3000)]
    values += [rng.choice((-1, 1)) * 10 ** rng.uniform(-7, 19) for _ in range(3000)]
    # Few fraction bits and many digits: where exact ties occur.
    values += [rng.randrange(1, 2**53) / 2 ** rng.randrange(0, 60) for _ in range(3000)]
    values += [float(k) + f for k in rng.sample(range(2**48, 2**53), 300) for f in (0.25, 0.5, 0.75)]
    for value in values:
        fresh.add_constant_signal(value)
    texts = constant_texts(fresh)
    assert len(texts) == len(values)
    mismatches = [(v, t, reference_text(v)) for v, t in zip(values, texts) if t != reference_text(v)]
    assert mismatches[:10] == []
    for value, text in zip(values, texts):
        if math.isnan(value):
            assert text == "NaN"
        else:  # every finite text reads back as the same value, sign of zero included
            back = float(text)
            assert back == value and math.copysign(1.0, back) == math.copysign(1.0, value)


# Access and side effects.

class StrFromHook:
    """A numeric argument whose conversion renders the protocol that is being called."""

    def __init__(self, protocol, swallow=False):
        self.protocol, self.swallow, self.errors = protocol, swallow, []

    def _render(self):
        try:
            str(self.protocol)
        except RuntimeError as e:
            self.errors.append(str(e))
            if not self.swallow:
                raise
        return 1

    def __float__(self):
        return float(self._render())

    def __index__(self):
        return self._render()


CALLS_WITH_HOOK = {
    "set_session_duration": lambda p, h: p.set_session_duration(h),
    "set_stimulation_intensity": lambda p, h: p.set_stimulation_intensity(h),
    "add_constant_signal": lambda p, h: p.add_constant_signal(h),
    "add_sine_signal phase": lambda p, h: p.add_sine_signal(1.0, 10.0, h),
    "add_mixed_signal": lambda p, h: p.add_mixed_signal(0, h),
    "set_modulation_source": lambda p, h: p.set_modulation_source(Channel.B, h),
}


@pytest.mark.parametrize("call", CALLS_WITH_HOOK.values(), ids=CALLS_WITH_HOOK.keys())
def test_str_during_an_exclusive_call_is_refused(fresh, call):
    before = str(fresh)
    hook = StrFromHook(fresh)
    with pytest.raises(RuntimeError) as caught:
        call(fresh, hook)
    assert str(caught.value) == "Already mutably borrowed"
    assert hook.errors == ["Already mutably borrowed"]
    assert str(fresh) == before == DEFAULT_TEXT
    assert fresh.add_constant_signal(0.5) == 0  # no access is left behind


def test_refused_str_inside_a_call_that_goes_on(fresh):
    hook = StrFromHook(fresh, swallow=True)
    assert fresh.add_constant_signal(hook) == 0
    assert hook.errors == ["Already mutably borrowed"]
    assert constant_texts(fresh) == ["1.0"]


def test_str_is_repeatable_and_changes_nothing(fresh, tmp_path):
    first = str(fresh)
    assert [str(fresh) for _ in range(3)] == [first] * 3
    assert fresh.add_constant_signal(0.25) == 0  # the table was still empty
    fresh.add_sine_signal(2.0, 5.0, 0.5, 0.25)
    fresh.set_session_duration(12.5)
    fresh.save(str(tmp_path / "before.vora"))
    text = str(fresh)
    assert str(fresh) == text and f"{fresh}" == text
    fresh.save(str(tmp_path / "after.vora"))
    assert (tmp_path / "before.vora").read_bytes() == (tmp_path / "after.vora").read_bytes()
    assert fresh.get_num_samples() == 62500
    assert fresh.add_constant_signal(0.0) == 2
