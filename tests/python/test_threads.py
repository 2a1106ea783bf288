"""Several threads on the same protocol and on different ones: no crash, no torn state, conflicts
only as the documented RuntimeError, and a final state equal to a serial order of the successes."""

import random
import threading
import time

from pyvora import Coil, Protocol

THREADS = 6
CALLS = 300


class SlowFloat:
    """A float whose conversion yields the interpreter lock while the caller holds the protocol."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        time.sleep(0)
        return self.value


def signal_values(text):
    lines = text.splitlines()
    return [float(lines[i + 2].strip().removeprefix("value: ").rstrip(","))
            for i, line in enumerate(lines) if line.strip() == "Constant("]


def test_shared_protocol_serialises_successful_calls():
    shared = Protocol()
    successes = {}
    conflicts = []
    unexpected = []
    lock = threading.Lock()
    start = threading.Barrier(THREADS)

    def worker(number):
        rng = random.Random(number)
        start.wait()
        for call in range(CALLS):
            value = number * 1000 + call
            try:
                if rng.random() < 0.2:
                    str(shared)
                    continue
                position = shared.add_constant_signal(SlowFloat(float(value)))
            except RuntimeError as error:
                with lock:
                    conflicts.append(str(error))
                continue
            except BaseException as error:  # noqa: BLE001 - recorded and failed below
                with lock:
                    unexpected.append(repr(error))
                continue
            with lock:
                successes[position] = float(value)

    threads = [threading.Thread(target=worker, args=(n,)) for n in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    assert unexpected == []
    assert set(conflicts) <= {"Already borrowed", "Already mutably borrowed"}
    # The successful appends took positions 0..n-1, each exactly once, holding their values.
    assert sorted(successes) == list(range(len(successes)))
    assert signal_values(str(shared)) == [successes[p] for p in range(len(successes))]


def test_independent_protocols_do_not_interfere():
    results = {}

    def worker(number):
        protocol = Protocol()
        for call in range(CALLS):
            protocol.set_session_duration(SlowFloat(1.0 + number))
            protocol.add_constant_signal(float(call))
            protocol.set_amplitude_source(Coil.A2, call)
        results[number] = (protocol.get_num_samples(), str(protocol))

    threads = [threading.Thread(target=worker, args=(n,)) for n in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    assert len(results) == THREADS
    for number, (samples, text) in results.items():
        assert samples == int(5000 * (1.0 + number))
        assert signal_values(text) == [float(c) for c in range(CALLS)]
