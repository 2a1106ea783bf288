"""Running out of memory raises MemoryError, leaves the protocol as it was, and never aborts."""

import os

import pytest

from conftest import run_python

SCRIPT = r"""
import resource, sys
import numpy as np
from pyvora import Protocol

protocol = Protocol()
protocol.set_session_duration(1800.0)
samples = np.full(protocol.get_num_samples(), 0.5)
protocol.add_arbitrary_signal(samples)          # about 18 MB of samples
before = str(protocol)[:2000]

# Leave little room above what the process already uses.
with open("/proc/self/statm") as statm:
    used = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (used + (8 << 20), resource.RLIM_INFINITY))

outcomes = []
for name, call in [
    ("add_arbitrary_signal", lambda: protocol.add_arbitrary_signal(samples)),
    ("str", lambda: str(protocol)),
    ("save", lambda: protocol.save(sys.argv[1])),
]:
    try:
        call()
        outcomes.append(name + ":ok")
    except MemoryError:
        outcomes.append(name + ":MemoryError")

resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
assert str(protocol)[:2000] == before
assert protocol.add_constant_signal(1.0) == 1, "the failed add appended nothing"
print(" ".join(outcomes))
"""


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer needs an unlimited address space")
def test_exhausted_memory_raises_memory_error(tmp_path):
    pytest.importorskip("numpy")
    result = run_python(SCRIPT.replace("sys.argv[1]", repr(str(tmp_path / "big.vora"))))
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["add_arbitrary_signal:MemoryError", "str:MemoryError", "save:MemoryError"]


ADDS = {
    "constant": lambda p, samples: p.add_constant_signal(0.5),
    "sine": lambda p, samples: p.add_sine_signal(1.0, 2.0, depth=0.5),
    "ramp": lambda p, samples: p.add_ramp_signal(1.0, 0.5, 0.5),
    "mixed": lambda p, samples: p.add_mixed_signal(0, 1),
    "arbitrary": lambda p, samples: p.add_arbitrary_signal(samples),
}


def hold_ints():
    """Ints held alive, made so that no other int is freed meanwhile: a free list of int
    objects that the interpreter may keep (3.14 does) is left empty, so the next int made has
    to be allocated."""
    held, number = [], 10**6
    for _ in range(250):  # small counts only: the loops free no int of their own
        for _ in range(250):
            number = number + 1
            held.append(number)
    return held


@pytest.mark.parametrize("add", ADDS.values(), ids=ADDS.keys())
def test_memory_error_for_the_position_appends_nothing(add):
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "set_nomemory"):
        pytest.skip("no _testcapi.set_nomemory in this interpreter")
    from pyvora import Protocol

    protocol = Protocol()
    protocol.set_session_duration(0.01)
    samples = pytest.importorskip("numpy").full(50, 0.5) if add is ADDS["arbitrary"] else None
    # Positions from here on lie above the interpreter's cache of small ints (its size varies
    # between versions; a cached value is one object however it is made).
    last = protocol.add_constant_signal(0.0)
    while int(str(last + 2)) is int(str(last + 2)):
        last = protocol.add_constant_signal(0.0)
    first = add(protocol, samples) + 1  # first use done (NumPy loaded)
    positions = []
    for start in range(4):  # the n-th Python allocation fails, the first one included
        position = None
        held = hold_ints()
        testcapi.set_nomemory(start, 0)
        try:
            position = add(protocol, samples)
        except MemoryError:
            pass
        finally:
            testcapi.remove_mem_hooks()
            del held
        positions.append(position)
    added = [p for p in positions if p is not None]
    assert added == list(range(first, first + len(added)))
    assert None in positions
    assert protocol.add_constant_signal(0.0) == first + len(added)
