"""`pyvora check --rules` of the largest protocol, against `pyvora check` of the same file.

    python benchmarks/bench_rules.py [--runs 7] [--dir DIR]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples; the rules are
the study's example (docs/study-rules.toml), whose envelope rule reads every sample. Both
commands run as a user runs them, end to end, alternating. Each line gives the median wall time
and the median processor time of the child and their ratios to plain check's; check --rules is
meant to take at most 1.5x check alone.
"""

import os
import statistics
import sys
import tempfile
from pathlib import Path

from common import build, child_seconds, pyvora_command, runs_and_directory

RULES = str(Path(__file__).resolve().parents[1] / "docs" / "study-rules.toml")


def main():
    runs, directory_option = runs_and_directory(__doc__)
    command = pyvora_command()
    protocol, description = build()
    with tempfile.TemporaryDirectory(dir=directory_option) as directory:
        path = os.path.join(directory, "bench.vora")
        protocol.save(path)
        del protocol
        runs_of = {"pyvora check FILE": [command, "check", path],
                   "pyvora check --rules RULES FILE": [command, "check", "--rules", RULES, path]}
        for argv in runs_of.values():  # warm-up: files in the page cache
            child_seconds(argv, (0, 1))
        times = {name: [] for name in runs_of}
        for _ in range(runs):
            for name, argv in runs_of.items():
                times[name].append(child_seconds(argv, (0, 1)))  # the rules find what they find
    print(f"protocol: {description}")
    base_wall, base_cpu = (statistics.median(t[i] for t in times["pyvora check FILE"]) for i in (0, 1))
    for name, pairs in times.items():
        wall, cpu = (statistics.median(t[i] for t in pairs) for i in (0, 1))
        print(f"{name:32} wall median {wall * 1e3:8.1f} ms ({wall / base_wall:5.2f} x check)   "
              f"cpu median {cpu * 1e3:8.1f} ms ({cpu / base_cpu:5.2f} x)   over {len(pairs)} runs")


if __name__ == "__main__":
    sys.exit(main())
