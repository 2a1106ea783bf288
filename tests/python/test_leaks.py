"""Repeating every method, on success and on each failure path, holds no reference and no memory."""

import gc
import os
import sys

import pytest

from helpers import resident_bytes, need
from pyvora import Channel, Coil, Protocol

ROUNDS = 3000


def swallow(call):
    try:
        call()
    except BaseException:  # the panic exception derives from BaseException
        pass


class FloatHook:
    def __float__(self):
        return 0.5


class RaisingFloat:
    def __float__(self):
        raise TypeError("no float")


class IndexHook:
    def __index__(self):
        return 3


def scenarios(tmp_path):
    """(name, call, objects whose reference counts must not change)."""
    protocol = Protocol()
    hook, raising, index = FloatHook(), RaisingFloat(), IndexHook()
    big = 2**70
    text = "x" * 10
    path = str(tmp_path / "p.vora")
    missing = str(tmp_path / "missing" / "p.vora")
    name_ok = str(tmp_path / "subclass.vora")

    class Path(str):
        pass

    sub = Path(name_ok)
    return [
        ("new", lambda: Protocol(), []),
        ("new_refused", lambda: Protocol(hook), [hook]),
        ("intensity", lambda: protocol.set_stimulation_intensity(hook), [hook]),
        ("intensity_refused", lambda: protocol.set_stimulation_intensity(2.0), []),
        ("intensity_raising_hook", lambda: protocol.set_stimulation_intensity(raising), [raising]),
        ("duration_wrong_type", lambda: protocol.set_session_duration(text), [text]),
        ("duration_refused", lambda: protocol.set_session_duration(0.0), []),
        ("enable", lambda: protocol.enable_channel(Channel.B), [Channel.B]),
        ("enable_wrong_type", lambda: protocol.enable_channel(Coil.A1), [Coil.A1]),
        ("amplitude", lambda: protocol.set_amplitude_source(Coil.B2, index, external=True), [Coil.B2, index]),
        ("amplitude_overflow", lambda: protocol.set_amplitude_source(Coil.B2, big), [big]),
        ("modulation_bad_flag", lambda: protocol.set_modulation_source(Channel.A, 1, text), [text]),
        ("binding_errors", lambda: protocol.add_sine_signal(hook, frequency=hook, bogus=1), [hook]),
        ("str", lambda: str(protocol), []),
        ("queries", lambda: (protocol.get_num_samples(), protocol.get_sampling_rate()), []),
        ("save", lambda: protocol.save(path), [path]),
        ("save_subclass", lambda: protocol.save(sub), [sub]),
        ("save_bad_name", lambda: protocol.save(text), [text]),
        ("save_missing_dir", lambda: protocol.save(missing), [missing]),
        ("save_wrong_type", lambda: protocol.save(hook), [hook]),
    ]


@pytest.mark.parametrize("index", range(20))
def test_no_reference_or_memory_growth(tmp_path, index):
    name, call, watched = scenarios(tmp_path)[index]
    for _ in range(100):  # warm caches and allocator pools
        swallow(call)
    gc.collect()
    counts = [sys.getrefcount(obj) for obj in watched]
    before = resident_bytes()
    for _ in range(ROUNDS):
        swallow(call)
    gc.collect()
    assert [sys.getrefcount(obj) for obj in watched] == counts, name
    assert resident_bytes() - before < 1 << 20, name


def test_signal_tables_are_released_with_their_protocol():
    numpy = need("numpy")
    samples = numpy.full(50, 0.5)

    def fill():
        protocol = Protocol()
        protocol.set_session_duration(0.01)
        for _ in range(20):
            protocol.add_sine_signal(1.0, 2.0)
            protocol.add_arbitrary_signal(samples)
            swallow(lambda: protocol.add_arbitrary_signal(samples[:-1]))

    for _ in range(50):
        fill()
    gc.collect()
    count = sys.getrefcount(samples)
    before = resident_bytes()
    for _ in range(ROUNDS // 3):
        fill()
    gc.collect()
    assert sys.getrefcount(samples) == count
    assert resident_bytes() - before < 1 << 20


def test_failed_saves_release_their_descriptors(tmp_path):
    protocol = Protocol()
    target = tmp_path / "full.vora"
    target.symlink_to("/dev/full")
    opened = len(os.listdir("/proc/self/fd"))
    for _ in range(500):
        swallow(lambda: protocol.save(str(target)))
        swallow(lambda: protocol.save(str(tmp_path)))  # not a .vora name
    assert len(os.listdir("/proc/self/fd")) == opened
