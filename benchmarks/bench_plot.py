"""`pyvora plot` of the largest protocol to PNG, against `pyvora show --full` of the same file.

    python benchmarks/bench_plot.py [--runs 7] [--dir DIR]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples, routed to every
source. Both commands run as a user runs them, end to end (interpreter start, loading the file,
matplotlib's import for plot), alternating; show's output goes to /dev/null, plot writes its
PNG into the same directory as the protocol file. The medians and their ratio are printed;
plot is meant to take at most 2x show --full.
"""

import argparse
import os
import statistics
import sys
import tempfile

from bench_overview import command_seconds, line
from common import build


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7, help="timed runs of each (at least 7)")
    parser.add_argument("--dir", help="where the files are written (default: a temporary directory)")
    args = parser.parse_args()
    runs = max(args.runs, 7)

    protocol, description = build()
    with tempfile.TemporaryDirectory(dir=args.dir) as directory:
        path = os.path.join(directory, "bench.vora")
        picture = os.path.join(directory, "bench.png")
        protocol.save(path)
        del protocol
        command_seconds(["plot", path, "-o", picture])  # warm-up: files in the page cache
        times = {"pyvora plot FILE -o OUT.png": [], "pyvora show --full FILE": []}
        for _ in range(runs):
            times["pyvora plot FILE -o OUT.png"].append(command_seconds(["plot", path, "-o", picture]))
            times["pyvora show --full FILE"].append(command_seconds(["show", "--full", path]))
        size = os.path.getsize(picture)

    print(f"protocol: {description}; picture {size} bytes")
    show = statistics.median(times["pyvora show --full FILE"])
    for name, seconds in times.items():
        print(line(name, seconds, None) + f"  {statistics.median(seconds) / show:.4f} x show --full")


if __name__ == "__main__":
    sys.exit(main())
