"""Keyword arguments of a Protocol method against those of an Argument Clinic method, and a one-argument call.

    python benchmarks/bench_keywords.py [--runs 9] [--calls 200000]

The cost of one keyword: the time of set_amplitude_source(coil=A1, index=1, external=False)
less that of set_amplitude_source(A1, 1, False), over its three keywords; the same cost in a
method whose arguments Argument Clinic binds: str.split(sep=None, maxsplit=1) less
str.split(None, 1), over its two. And set_stimulation_intensity(0.5), a one-argument call,
against list.append(1.0). Each run times every call in turn, so all see the same machine
state; the medians of the runs are compared.
"""

import argparse
import statistics
import timeit

CASES = {
    "keywords": "p.set_amplitude_source(coil=A1, index=1, external=False)",
    "positional": "p.set_amplitude_source(A1, 1, False)",
    "clinic keywords": "s.split(sep=None, maxsplit=1)",
    "clinic positional": "s.split(None, 1)",
    "one argument": "p.set_stimulation_intensity(0.5)",
    "list.append": "a(1.0)",
}


def setup_namespace():
    from pyvora import Coil, Protocol

    return {"p": Protocol(), "A1": Coil.A1, "s": "a b c"}


def per_call(statement, calls, namespace):
    """Seconds per call of statement: the best of 20 rounds of calls / 20 calls each, which
    leaves out the rounds another process interrupted (list.append gets a fresh list)."""
    namespace = dict(namespace, a=[].append)
    number = max(calls // 20, 1)
    return min(timeit.repeat(statement, number=number, repeat=20, globals=namespace)) / number


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--calls", type=int, default=200_000)
    args = parser.parse_args()

    namespace = setup_namespace()
    times = {name: [] for name in CASES}
    for name, statement in CASES.items():  # warm-up
        per_call(statement, args.calls // 10, namespace)
    for _ in range(max(args.runs, 1)):
        for name, statement in CASES.items():
            times[name].append(per_call(statement, args.calls, namespace))

    def median_of(name):
        return statistics.median(times[name])

    # Per run, so that both costs come from the same moment; then the median of the runs.
    ours = [(k - p) / 3 for k, p in zip(times["keywords"], times["positional"])]
    clinic = [(k - p) / 2 for k, p in zip(times["clinic keywords"], times["clinic positional"])]
    ratios = [o / c for o, c in zip(ours, clinic)]
    appends = [o / a for o, a in zip(times["one argument"], times["list.append"])]

    print(f"{args.runs} runs of {args.calls} calls each; medians per call:")
    for name, statement in CASES.items():
        print(f"  {name:<18} {median_of(name) * 1e9:7.1f} ns   {statement}")
    print(f"cost of one keyword: set_amplitude_source {statistics.median(ours) * 1e9:.1f} ns, "
          f"str.split {statistics.median(clinic) * 1e9:.1f} ns; ratio {statistics.median(ratios):.2f} "
          f"(runs {min(ratios):.2f}..{max(ratios):.2f}; target: at most 1.5, goal 1.0)")
    print(f"one-argument call against list.append: ratio {statistics.median(appends):.2f} "
          f"(runs {min(appends):.2f}..{max(appends):.2f}; target: at most 2)")


if __name__ == "__main__":
    main()
