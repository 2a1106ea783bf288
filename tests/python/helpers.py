"""What the test files share: the module's panics and file bytes, protocols built from drawn
steps, the `pyvora` command as a user runs it, and the harness that runs a snippet short of
memory."""

import gc
import importlib
import os
import struct
import subprocess
import sysconfig
from pathlib import Path

import pytest
from hypothesis import strategies as st

from pyvora import Channel, Coil, Protocol

# ---------------------------------------------------------------------------------------------
# Packages

def need(package: str):
    """The package, for a test that needs it. Elsewhere a test skips without it; under the test
    command (scripts/test.sh), which installs every package, its absence is an error."""
    if os.environ.get("PYVORA_TEST_COMMAND"):
        return importlib.import_module(package)
    return pytest.importorskip(package)


class Needed:
    """A package that `need` imports when a test first uses it: a file whose tests mostly use it
    names it once, and its tests that do not use it run without it."""

    def __init__(self, package: str) -> None:
        self.package = package

    def __getattr__(self, name: str):
        if name.startswith("__"):  # what pytest asks of a module's names while it collects
            raise AttributeError(name)
        return getattr(need(self.package), name)


# ---------------------------------------------------------------------------------------------
# Panics

UNWRAP = "called `Result::unwrap()` on an `Err` value: "


def panic_message(call) -> str:
    try:
        call()
    except BaseException as e:  # the panic exception derives from BaseException only
        assert type(e).__name__ == "PanicException", repr(e)
        return str(e)
    pytest.fail("no PanicException raised")


# ---------------------------------------------------------------------------------------------
# Bytes

# A new protocol (VORA_TARGET_MACHINE unset) saved at once, 16 bytes a row.
DEFAULT_FILE = bytes.fromhex(
    "00 00 00 00 00 00 00 54 40 02 01 07 44 65 66 61"
    "75 6c 74 00 00 00 00 00 c0 62 40 9a 99 99 99 99"
    "99 b9 3f 00 00 00 00 00 00 44 40 01 00 00 00 00"
    "00 a0 74 40 ef da 9f ee da 9f 36 40 dd 01 01 01"
    "00 00 00 00 00 a0 74 40 01 00 00 00 00 00 a0 74"
    "40 06 00 00 00 01 33 33 33 33 33 33 d3 3f 00 00"
    "00 00 00 00 e0 3f 00 00 00 00 00 00 44 40 00 00"
    "00 00 00 00 44 40 00 00 00 00 00 80 51 40 00 00"
    "00 00 00 40 80 40 00 00 00 00 00 00 00 00 00 00"
    "00 00 00 00 4e 40 01 00 00 00 00 00 00 00 00 00"
    "01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    "00 00 00 00 00 00 00 00 01"
)


def varint(n: int) -> bytes:
    assert 0 <= n <= 2**64 - 1
    out = bytearray()
    while True:
        byte = n & 0x7F
        n >>= 7
        if n:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def zigzag16(n: int) -> bytes:
    assert -32768 <= n <= 32767
    return varint(((n << 1) ^ (n >> 15)) & 0xFFFF)


def float_of_bits(bits: int) -> float:
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


# ---------------------------------------------------------------------------------------------
# Protocols


def every_kind(duration=0.01):
    """A signal of each kind, a NaN and an external source among them, both channels on."""
    np = need("numpy")

    p = Protocol()
    p.set_session_duration(duration)
    p.set_stimulation_intensity(0.25)
    p.add_constant_signal(-0.0)
    p.add_sine_signal(1.0, 10.0, float("nan"), 0.5)
    p.add_ramp_signal(1.0, 2.0, 3.0)
    p.add_mixed_signal(0, 2**64 - 1)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.set_amplitude_source(Coil.B2, 7, external=True)
    p.set_modulation_source(Channel.B, 3)
    p.enable_channel(Channel.B)
    return p


# Steps for built_by, as hypothesis draws them.
calls = st.one_of(
    st.tuples(st.just("add_constant_signal"), st.floats()),
    st.tuples(st.just("add_sine_signal"), st.floats(), st.floats(), st.floats(), st.floats()),
    st.tuples(st.just("add_ramp_signal"), st.floats(), st.floats(), st.floats()),
    st.tuples(st.just("add_mixed_signal"), st.integers(0, 2**64 - 1), st.integers(0, 2**64 - 1)),
    st.tuples(st.just("set_stimulation_intensity"), st.floats(0.0, 1.0)),
    st.tuples(st.just("set_session_duration"), st.floats(0.01, 0.05)),
    st.tuples(st.just("set_amplitude_source"), st.sampled_from([Coil.A1, Coil.A2, Coil.B1, Coil.B2]), st.integers(0, 2**64 - 1), st.booleans()),
    st.tuples(st.just("enable_channel"), st.sampled_from([Channel.A, Channel.B])),
    st.tuples(st.just("arbitrary"), st.integers(0, 2**32 - 1)),
)


def built_by(steps, protocol=None):
    """The protocol that a list drawn from `calls` builds, from a new one or from `protocol`."""
    np = need("numpy")

    p = Protocol() if protocol is None else protocol
    for name, *args in steps:
        if name == "arbitrary":
            p.add_arbitrary_signal(np.random.default_rng(args[0]).random(p.get_num_samples()))
        else:
            getattr(p, name)(*args)
    return p


# ---------------------------------------------------------------------------------------------
# The command

COMMAND = str(Path(sysconfig.get_path("scripts")) / "pyvora")  # installed by pip install .

# Each command the tests start flushes its output itself: with PYTHONUNBUFFERED (as some
# machines set it) a flush the command forgot, or a failed one it did not discard, would go
# unseen.
os.environ.pop("PYTHONUNBUFFERED", None)


def run(*args: str) -> subprocess.CompletedProcess:
    return subprocess.run([COMMAND, *args], capture_output=True, text=True)


def write(path: Path, *, intensity=0.2, frequency=10.0, samples=None, last=None, external=None) -> str:
    """A short session: a sine, an arbitrary signal, a constant (or `last`), routed on channel A."""
    np = need("numpy")

    p = Protocol()
    p.set_session_duration(0.01)
    p.set_stimulation_intensity(intensity)
    p.add_sine_signal(1.0, frequency)
    p.add_arbitrary_signal(np.full(50, 0.5) if samples is None else np.asarray(samples, dtype=float))
    (last or (lambda p: p.add_constant_signal(0.5)))(p)
    p.set_amplitude_source(Coil.A1, 0)
    p.set_amplitude_source(Coil.A2, 2)
    p.set_modulation_source(Channel.A, 1)
    if external is not None:
        p.set_amplitude_source(Coil.B1, external, external=True)
    p.save(str(path))
    return str(path)


# ---------------------------------------------------------------------------------------------
# Memory


def resident_bytes() -> int:
    """Resident memory now, after a collection."""
    gc.collect()
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


limits_address_space = pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                          reason="AddressSanitizer needs an unlimited address space")

# The start of a snippet run in its own interpreter (conftest.run_python) that runs short of
# memory: limit_memory(room) leaves about `room` bytes to allocate. It limits the address space
# to `room` above what the process uses now, takes all that is left under the limit, including
# what the allocators keep in reserve (a free-threaded interpreter's own reserves a large arena
# up front, C's malloc one per thread), and gives `room` of each back. unlimit_memory() lifts
# the limit and frees the rest.
MEMORY_LIMIT = r"""
import resource
import sys

_ballast = []


def limit_memory(room=8 << 20):
    with open("/proc/self/statm") as statm:
        used = int(statm.read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (used + room, resource.RLIM_INFINITY))
    fills = [lambda: bytearray(1 << 20)]  # the interpreter's allocator
    if "numpy" in sys.modules:  # its arrays come from C's malloc
        fills.append(lambda: sys.modules["numpy"].ones(1 << 17))
    for fill in fills:
        taken = []
        try:
            while True:
                taken.append(fill())
        except MemoryError:
            pass
        _ballast.extend(taken[:max(len(taken) - (room >> 20), 0)])


def unlimit_memory():
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    _ballast.clear()
"""
