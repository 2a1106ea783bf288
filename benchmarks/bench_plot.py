"""`pyvora plot` of the largest protocol to PNG, against `pyvora show --full` of the same file.

    python benchmarks/bench_plot.py [--runs 7] [--dir DIR]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples, which every
source selects. Both commands run as a user runs them, end to end (interpreter start, loading
the file, for plot matplotlib's import and the drawing), alternating; show's output goes to
/dev/null, plot writes its PNG beside the protocol file. A third process only imports what plot
draws with (matplotlib.figure and the Agg backend): the part of plot's time that pyvora cannot
cut. Each line gives the median wall time and the median processor time (user + system) of the
child, which a busy machine distorts less, and their ratios to show --full's; plot is meant to
take at most 2x show --full.
"""

import os
import statistics
import sys
import tempfile

from common import build, child_seconds, pyvora_command, runs_and_directory

IMPORT = "import matplotlib.figure, matplotlib.backends.backend_agg"


def main():
    runs, directory_option = runs_and_directory(__doc__)
    command = pyvora_command()

    protocol, description = build()
    with tempfile.TemporaryDirectory(dir=directory_option) as directory:
        path = os.path.join(directory, "bench.vora")
        picture = os.path.join(directory, "bench.png")
        protocol.save(path)
        del protocol
        runs_of = {
            "pyvora show --full FILE": [command, "show", "--full", path],
            "pyvora plot FILE -o OUT.png": [command, "plot", path, "-o", picture],
            "python -c 'import matplotlib...'": [sys.executable, "-c", IMPORT],
        }
        for argv in runs_of.values():  # warm-up: files in the page cache
            child_seconds(argv)
        times = {name: [] for name in runs_of}
        for _ in range(runs):
            for name, argv in runs_of.items():
                times[name].append(child_seconds(argv))
        size = os.path.getsize(picture)

    import matplotlib

    print(f"protocol: {description}; picture {size} bytes; matplotlib {matplotlib.__version__}")
    show_wall, show_cpu = (statistics.median(t[i] for t in times["pyvora show --full FILE"]) for i in (0, 1))
    for name, pairs in times.items():
        wall, cpu = (statistics.median(t[i] for t in pairs) for i in (0, 1))
        print(f"{name:34} wall median {wall * 1e3:8.1f} ms ({wall / show_wall:5.2f} x show --full)   "
              f"cpu median {cpu * 1e3:8.1f} ms ({cpu / show_cpu:5.2f} x)   over {len(pairs)} runs")


if __name__ == "__main__":
    sys.exit(main())
