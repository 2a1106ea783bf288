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
