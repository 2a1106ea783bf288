"""Protocol.add_arbitrary_signal on the largest signal, against NumPy doing the same work.

    python benchmarks/bench_arbitrary.py [--runs 7]

The protocol runs for 1800 s, so a signal holds 9,000,000 samples. Two layouts are timed: a
contiguous array, and a strided view (every other element of an 18,000,000-element array).
Each is compared with
  - NumPy doing the same work vectorised: a range check of every sample, rounding of
    x * 32767 with halves away from zero, and conversion to int16;
  - a plain NumPy copy of the same array or view, the memory-speed floor.
The methods alternate within each run so they see the same machine state; medians are compared.
"""

import argparse
import gc
import statistics

import numpy as np

from pyvora import Protocol

from common import MAX_DURATION, timed



def numpy_quantise(samples):
    """What add_arbitrary_signal computes, as NumPy would do it."""
    if not ((samples >= 0.0) & (samples <= 1.0)).all():  # NaN fails too
        raise ValueError("sample out of range")
    scaled = samples * 32767.0
    rounded = np.floor(scaled)
    rounded += (scaled - rounded) >= 0.5  # halves away from zero; the values are not negative
    return rounded.astype(np.int16)


def bench_layout(samples, runs):
    """Median seconds of add_arbitrary_signal, the NumPy equivalent and a copy."""
    times = {"add": [], "numpy": [], "copy": []}
    protocol = Protocol()
    protocol.set_session_duration(MAX_DURATION)
    assert protocol.get_num_samples() == samples.size
    protocol.add_arbitrary_signal(samples)  # warm-up: NumPy loaded, pages touched once
    numpy_quantise(samples)
    for _ in range(runs):
        protocol = Protocol()  # a fresh table each time, so earlier signals do not pile up
        protocol.set_session_duration(MAX_DURATION)
        gc.collect()
        times["add"].append(timed(lambda: protocol.add_arbitrary_signal(samples)))
        del protocol
        gc.collect()
        times["numpy"].append(timed(lambda: numpy_quantise(samples)))
        gc.collect()
        times["copy"].append(timed(lambda: samples.copy()))
    return {name: statistics.median(values) for name, values in times.items()}, times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    runs = max(args.runs, 1)

    n = int(np.ceil(MAX_DURATION * 5000.0))
    rng = np.random.default_rng(0)
    layouts = {
        "contiguous": rng.random(n),
        "strided": rng.random(2 * n)[::2],
    }
    print(f"{n} samples per signal, median of {runs} runs, NumPy {np.__version__}")
    for name, samples in layouts.items():
        medians, times = bench_layout(samples, runs)
        add, vectorised, copy = medians["add"], medians["numpy"], medians["copy"]
        print(f"{name}:")
        print(f"  add_arbitrary_signal {add * 1e3:8.2f} ms  ({add / n * 1e9:.2f} ns/sample; "
              f"min {min(times['add']) * 1e3:.2f}, max {max(times['add']) * 1e3:.2f})")
        print(f"  NumPy equivalent     {vectorised * 1e3:8.2f} ms")
        print(f"  NumPy copy           {copy * 1e3:8.2f} ms")
        print(f"  ratio add / NumPy equivalent: {add / vectorised:.2f}")
        print(f"  ratio add / copy:             {add / copy:.2f}")


if __name__ == "__main__":
    main()
