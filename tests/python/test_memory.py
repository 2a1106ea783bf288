"""Running out of memory raises MemoryError, leaves the protocol as it was, and never aborts."""

import os
import shutil
import struct
import subprocess

import pytest

from conftest import run_python
from helpers import MEMORY_LIMIT, limits_address_space, need

SCRIPT = MEMORY_LIMIT + r"""
import sys
import numpy as np
from pyvora import Protocol

protocol = Protocol()
protocol.set_session_duration(1800.0)
samples = np.full(protocol.get_num_samples(), 0.5)
protocol.add_arbitrary_signal(samples)          # about 18 MB of samples
before = str(protocol)[:2000]

limit_memory()  # little room above what the process already uses

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

unlimit_memory()
assert str(protocol)[:2000] == before
assert protocol.add_constant_signal(1.0) == 1, "the failed add appended nothing"
print(" ".join(outcomes))
"""


@limits_address_space
def test_exhausted_memory_raises_memory_error(tmp_path):
    need("numpy")
    result = run_python(SCRIPT.replace("sys.argv[1]", repr(str(tmp_path / "big.vora"))))
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["add_arbitrary_signal:MemoryError", "str:MemoryError", "save:MemoryError"]


FIRST_THROW = MEMORY_LIMIT + r"""
import threading
WHAT
from pyvora import Protocol

protocol = Protocol()
for i in range(300_000):
    protocol.add_mixed_signal(i, 0)
before = protocol.to_bytes()
if WHAT_IS_LOAD:
    protocol.save(PATH)
    call = lambda: Protocol.load(PATH)
else:
    call = protocol.to_dict
outcome = []

def run():  # the first call, and the first C++ exception, of its thread runs out of memory
    limit_memory()
    try:
        call()
        outcome.append("ok")
    except MemoryError:
        outcome.append("MemoryError")
    unlimit_memory()

if THREAD:
    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
else:
    run()
assert protocol.to_bytes() == before
print(*outcome)
"""


@limits_address_space
@pytest.mark.parametrize("thread", [False, True], ids=["main thread", "new thread"])
@pytest.mark.parametrize("what", ["to_dict", "load with NumPy imported"])
def test_first_exception_of_a_thread_out_of_memory_is_memory_error(tmp_path, what, thread):
    load = what != "to_dict"
    if load:
        need("numpy")
    script = (FIRST_THROW.replace("WHAT_IS_LOAD", repr(load)).replace("THREAD", repr(thread))
              .replace("WHAT", "import numpy" if load else "")
              .replace("PATH", repr(str(tmp_path / "many.vora"))))
    result = run_python(script)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError"]


# malloc with a budget for one thread: a request larger than what is left fails.
ROOM_LIBRARY = r"""
#include <errno.h>
#include <stddef.h>
extern void* __libc_malloc(size_t);
static __thread __attribute__((tls_model("initial-exec"))) size_t room = (size_t)-1;
void limit_room(size_t bytes) { room = bytes; }
void* malloc(size_t size) {
    if (room != (size_t)-1) {
        if (size > room) { errno = ENOMEM; return NULL; }
        room -= size;
    }
    return __libc_malloc(size);
}
"""

LITTLE_ROOM = r"""
import ctypes, threading
from pyvora import Protocol
room = ctypes.CDLL(LIBRARY)
unlimited = ctypes.c_size_t(-1)
protocol = Protocol()
outcome = []

def first_call():
    room.limit_room(ctypes.c_size_t(4 << 10))
    try:
        protocol.get_sampling_rate()
        outcome.append("ok")
    except MemoryError:
        outcome.append("MemoryError")
    room.limit_room(unlimited)

thread = threading.Thread(target=first_call)
thread.start()
thread.join()
print(*outcome, protocol.get_sampling_rate())
"""


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer brings an allocator of its own")
def test_a_thread_with_little_room_before_its_first_call_gets_memory_error(tmp_path):
    """A thread's first call prepares the C++ runtime's storage only where there is room for
    it; with only a few KiB left, the call is MemoryError and changes nothing."""
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler to build the allocator with a budget")
    (tmp_path / "room.c").write_text(ROOM_LIBRARY)
    library = str(tmp_path / "room.so")
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", "-o", library, str(tmp_path / "room.c")], check=True)
    result = run_python(LITTLE_ROOM.replace("LIBRARY", repr(library)), env={"LD_PRELOAD": library})
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError", "5000.0"]


def test_module_has_no_thread_local_storage():
    """Its own thread-local variables would be dynamic TLS, which glibc allocates on a thread's
    first use of them and aborts when it cannot; only the C++ runtime's is prepared. A module
    built with its C++ runtime linked in (the wheels' libc++abi) holds that runtime's block, the
    exception globals of two words, and nothing more."""
    import pyvora

    with open(pyvora.__file__, "rb") as module:
        elf = module.read()
    if elf[:5] != b"\x7fELF\x02" or elf[5] != 1:
        pytest.skip("the module is not a little-endian 64-bit ELF file")
    (table,) = struct.unpack_from("<Q", elf, 0x20)
    entry_size, entries = struct.unpack_from("<HH", elf, 0x36)
    segments = [struct.unpack_from("<I4xQQQQQ", elf, table + i * entry_size) for i in range(entries)]
    tls_sizes = [memory_size for kind, _, _, _, _, memory_size in segments if kind == 7]  # PT_TLS
    if b"libstdc++.so" in elf:  # the runtime is a library of its own
        assert tls_sizes == []
    else:
        assert tls_sizes in ([], [16])


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
    samples = need("numpy").full(50, 0.5) if add is ADDS["arbitrary"] else None
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


CLAIMED_SIGNALS = MEMORY_LIMIT + r"""
from pyvora import DecodeError, Protocol

# 5,242,880 signals claimed, as many as 10 MiB of their smallest encoding could hold (40 times
# that in memory), the first of an unknown kind.
count = 5 * 2**20
data = Protocol().to_bytes()[:150] + bytes([0x80, 0x80, 0xC0, 0x02]) + b"\x09" + bytes(2 * count - 1)
limit_memory(40 << 20)
try:
    Protocol.from_bytes(data)
except DecodeError as error:
    print(error)
"""


@limits_address_space
def test_decoding_takes_memory_bounded_by_the_input():
    result = run_python(CLAIMED_SIGNALS)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "unknown signal kind 9 for signals[0].kind at byte 154\n"
