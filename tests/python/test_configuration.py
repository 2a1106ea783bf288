"""Intensity, session duration, channels and routing."""

import math

import pytest

from helpers import panic_message, need
from pyvora import Channel, Coil, Protocol

MAX_MESSAGE = "assertion failed: duration <= config::MAX_SESSION_DURATION"
MIN_MESSAGE = "assertion failed: duration >= 0.01"
INTENSITY_MESSAGE = "assertion failed: intensity >= 0.0 && intensity <= 1.0"


@pytest.mark.parametrize("duration, samples", [(0.01, 50), (1800.0, 9000000), (1800, 9000000),
                                               (1.00001, 5001), (0.07, 351), (0.0123, 62), (60, 300000)])
def test_accepted_durations_set_the_sample_count(fresh, duration, samples):
    assert fresh.set_session_duration(duration) is None
    assert fresh.get_num_samples() == samples


@pytest.mark.parametrize(
    "duration, message",
    [(1800.0001, MAX_MESSAGE), (math.inf, MAX_MESSAGE), (math.nan, MAX_MESSAGE), (5000.0, MAX_MESSAGE),
     (0.0099, MIN_MESSAGE), (0.0, MIN_MESSAGE), (-0.0, MIN_MESSAGE), (-1.0, MIN_MESSAGE), (-math.inf, MIN_MESSAGE)],
)
def test_refused_durations_change_nothing(fresh, duration, message):
    fresh.set_session_duration(2.0)
    assert panic_message(lambda: fresh.set_session_duration(duration)) == message
    assert fresh.get_num_samples() == 10000


@pytest.mark.parametrize("intensity", [0.0, -0.0, 1.0, 1, True, 0.5])
def test_accepted_intensities(fresh, intensity):
    assert fresh.set_stimulation_intensity(intensity) is None


@pytest.mark.parametrize("intensity", [1.0000001, -0.1, math.nan, math.inf, -math.inf, 2])
def test_refused_intensities(fresh, intensity):
    assert panic_message(lambda: fresh.set_stimulation_intensity(intensity)) == INTENSITY_MESSAGE


def settings_text(protocol):
    return str(protocol)


def selection(protocol, channel, field):
    """The three values of one source selection, read from the text form."""
    lines = settings_text(protocol).splitlines()
    start = lines.index(f"        channel_{channel}_settings: ChannelSettings {{")
    at = lines.index(f"            {field}: SignalSourceSelection {{", start)
    values = [line.strip().rstrip(",").split(": ")[1] for line in lines[at + 1 : at + 4]]
    return int(values[0]), int(values[1]), values[2] == "true"


def enabled(protocol, channel):
    lines = settings_text(protocol).splitlines()
    start = lines.index(f"        channel_{channel}_settings: ChannelSettings {{")
    return lines[start + 1].strip() == "enabled: true,"


@pytest.mark.parametrize(
    "coil, channel, field",
    [(Coil.A1, "a", "amplitude1_source"), (Coil.A2, "a", "amplitude2_source"),
     (Coil.B1, "b", "amplitude1_source"), (Coil.B2, "b", "amplitude2_source")],
)
def test_amplitude_routing(fresh, coil, channel, field):
    before = str(fresh)
    fresh.set_amplitude_source(coil, 3)
    assert selection(fresh, channel, field) == (3, 0, False)
    fresh.set_amplitude_source(coil, 5, True)
    assert selection(fresh, channel, field) == (0, 5, True)
    fresh.set_amplitude_source(coil, index=4, external=False)
    assert selection(fresh, channel, field) == (4, 0, False)
    fresh.set_amplitude_source(coil, 0)
    assert str(fresh) == before


@pytest.mark.parametrize("channel, name", [(Channel.A, "a"), (Channel.B, "b")])
def test_modulation_routing(fresh, channel, name):
    fresh.set_modulation_source(channel, 1000000)
    assert selection(fresh, name, "modulation_source") == (1000000, 0, False)
    fresh.set_modulation_source(channel, 2**64 - 1, external=True)
    assert selection(fresh, name, "modulation_source") == (0, 2**64 - 1, True)


def test_numpy_booleans_select_external(fresh):
    numpy = need("numpy")
    fresh.set_amplitude_source(Coil.B2, 5, numpy.bool_(True))
    assert selection(fresh, "b", "amplitude2_source") == (0, 5, True)
    fresh.set_amplitude_source(Coil.B2, 6, numpy.bool_(False))
    assert selection(fresh, "b", "amplitude2_source") == (6, 0, False)


def test_enable_channel_only_ever_enables(fresh):
    assert enabled(fresh, "a") and not enabled(fresh, "b")
    fresh.set_amplitude_source(Coil.B1, 2)
    assert not enabled(fresh, "b")
    before = str(fresh)
    fresh.enable_channel(Channel.A)
    assert str(fresh) == before
    fresh.enable_channel(Channel.B)
    once = str(fresh)
    fresh.enable_channel(channel=Channel.B)
    assert str(fresh) == once
    assert enabled(fresh, "a") and enabled(fresh, "b")


@pytest.mark.parametrize("value", [2**64, -1])
def test_refused_indices_change_nothing(fresh, value):
    before = str(fresh)
    with pytest.raises(OverflowError):
        fresh.set_modulation_source(Channel.A, value)
    assert str(fresh) == before
