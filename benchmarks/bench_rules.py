"""`pyvora check --rules` of the largest protocol, against `pyvora check` of the same file.

    python benchmarks/bench_rules.py [--runs 7] [--dir DIR]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples; the rules are
the study's example (docs/study-rules.toml), whose envelope rule reads every sample. Both
commands run as a user runs them, end to end, alternating. Each line gives the median wall time
and the median processor time of the child and their ratios to plain check's; check --rules is
meant to take at most 1.5x check alone.
"""

import os
import sys
import tempfile
from pathlib import Path

from common import alternating, build, print_against, pyvora_command, runs_and_directory

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
        times = alternating(runs_of, runs, (0, 1))  # the rules find what they find
    print(f"protocol: {description}")
    print_against(times, "pyvora check FILE", "check")


if __name__ == "__main__":
    sys.exit(main())
