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
import sys
import tempfile

from common import alternating, build, print_against, pyvora_command, runs_and_directory

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
        times = alternating(runs_of, runs)
        size = os.path.getsize(picture)

    import matplotlib

    print(f"protocol: {description}; picture {size} bytes; matplotlib {matplotlib.__version__}")
    print_against(times, "pyvora show --full FILE", "show --full")


if __name__ == "__main__":
    sys.exit(main())
